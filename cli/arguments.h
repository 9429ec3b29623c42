#pragma once

#include "cli/invocation.h"

#include <ostream>
#include <string>
#include <vector>

namespace ombri::cli {

// A command's arguments, checked against what the command takes.
struct ParsedArguments {
    Invocation invocation;
    bool help = false;
    bool verbose = false;
    std::string error; // the first problem found; empty when the line is good
};

// Reads the arguments that follow the command's name. The first problem found is kept, so
// the user hears about the one they would fix first.
ParsedArguments parseArguments(const Command& command, std::vector<std::string> arguments);

// The command's own help, its options included.
void printCommandHelp(std::ostream& out, const Command& command);

} // namespace ombri::cli
