#pragma once

#include "cli/commands.h"
#include "cli/render_command.h"
#include "cli/terminal_prompt.h"
#include "notes/carrier.h"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ombri::cli {

// One command line, parsed: what a command is asked to do.
struct Invocation {
    std::vector<std::string> operands;
    std::optional<std::string> output;
    std::optional<SaveDepth> depth;
    bool lossy = false;
    bool recursive = false;
    bool json = false;
    std::optional<size_t> jobs; // info: files read at a time; unset: one per processor
    RenderOptions render;
};

// Where a command writes and how it asks and tells.
struct Context {
    std::ostream& out;
    std::ostream& err;
    TerminalPrompt prompt;
};

using CommandFn = Exit (*)(const Invocation&, Context&);

constexpr size_t kAnyCount = static_cast<size_t>(-1);

// The most files info reads at a time: each holds a whole picture in memory while it is read.
constexpr size_t kMaxJobs = 256;

// A command of the tool: its help, the options it takes and what runs it.
struct Command {
    const char* name;
    const char* synopsis;
    const char* operandNames; // named in the message when one is missing: "IMAGE MASK"
    const char* description;
    bool needsOutput; // -o is required; commands without it refuse the option
    bool takesDepth;
    bool takesLossy;
    size_t minOperands;
    size_t maxOperands;
    CommandFn run;
    bool takesRenderOptions = false;
    bool takesInfoOptions = false;
};

constexpr const char* kTryHelp = "Try 'ombri --help'.";

// A line the tool cannot make sense of: said on standard error with the way to the help.
inline Exit usageError(std::ostream& err, const std::string& message)
{
    err << "ombri: " << message << '\n' << kTryHelp << '\n';
    return Exit::Usage;
}

} // namespace ombri::cli
