#pragma once

#include <ostream>

namespace ombri::cli {

// The exit status of the ombri program.
enum class Exit : int {
    Done = 0,
    Usage = 1,       // unknown command or option, missing argument, bad option value
    BadInput = 2,    // a file could not be read, or is not what the command needs
    NoNotes = 3,     // the picture carries no notes to write out
    WriteFailed = 4, // the output could not be written; an existing file is untouched
};

// Runs one command line: argv[0] is the program, argv[1] the command. Results go to out,
// messages to err; nothing is read from standard input.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace ombri::cli
