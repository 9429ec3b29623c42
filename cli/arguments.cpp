#include "cli/arguments.h"

#include "core/printable_name.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ombri::cli {

namespace {

// A count of 1 to kMaxJobs in plain decimal digits.
std::optional<size_t> parseJobs(const std::string& value)
{
    if (value.empty() || value.size() > 3 ||
        value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const size_t jobs = std::stoul(value);
    if (jobs < 1 || jobs > kMaxJobs)
        return std::nullopt;
    return jobs;
}

std::optional<SaveDepth> parseDepth(const std::string& value)
{
    if (value == "32")
        return SaveDepth::Alpha32;
    if (value == "24")
        return SaveDepth::Bits24;
    return std::nullopt;
}

class ArgumentParser {
  public:
    ArgumentParser(const Command& command, std::vector<std::string> arguments)
        : m_command(command), m_arguments(std::move(arguments))
    {
    }

    ParsedArguments parse();

  private:
    void parseOption(const std::string& argument);
    void setJobs(const std::string& name, const std::string& value);
    bool parseRenderOption(const std::string& name, const std::string& attached);
    // The value of an option given as "--name VALUE" or "--name=VALUE".
    std::optional<std::string> optionValue(const std::string& name, const std::string& attached);
    void checkOperands();
    void setError(const std::string& message)
    {
        if (m_result.error.empty())
            m_result.error = message;
    }

    const Command& m_command;
    std::vector<std::string> m_arguments;
    size_t m_next = 0;
    ParsedArguments m_result;
};

ParsedArguments ArgumentParser::parse()
{
    bool optionsEnded = false;
    while (m_next < m_arguments.size()) {
        const std::string argument = m_arguments[m_next++];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (!optionsEnded && argument.size() > 1 && argument[0] == '-')
            parseOption(argument);
        else
            m_result.invocation.operands.push_back(argument);
    }
    checkOperands();
    return m_result;
}

std::optional<std::string> ArgumentParser::optionValue(const std::string& name,
                                                       const std::string& attached)
{
    if (attached.size() > 1)
        return attached.substr(1);
    if (attached.empty() && m_next < m_arguments.size())
        return m_arguments[m_next++];
    setError("option '" + name + "' needs a value");
    return std::nullopt;
}

void ArgumentParser::parseOption(const std::string& argument)
{
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const std::string attached = equals == std::string::npos ? "" : argument.substr(equals);
    const std::string prefix = std::string(m_command.name) + ": ";
    if (name == "--help" || name == "-h") {
        m_result.help = true;
    } else if ((name == "-o" || name == "--output") && m_command.needsOutput) {
        auto value = optionValue(name, attached);
        // Taking the last of two outputs silently could write where the user did not look.
        if (value && m_result.invocation.output)
            setError(prefix + "two outputs given ('" + printableName(*m_result.invocation.output) +
                     "' and '" + printableName(*value) + "'); give one -o");
        else if (value)
            m_result.invocation.output = *value;
    } else if (name == "--depth" && m_command.takesDepth) {
        if (auto value = optionValue(name, attached)) {
            m_result.invocation.depth = parseDepth(*value);
            if (!m_result.invocation.depth)
                setError(prefix + "bad --depth value '" + printableName(*value) +
                         "': use 24 or 32");
        }
    } else if (name == "--verbose" && attached.empty()) {
        m_result.verbose = true;
    } else if (name == "--lossy" && m_command.takesLossy && attached.empty()) {
        m_result.invocation.lossy = true;
    } else if ((name == "-r" || name == "--recursive") && m_command.takesInfoOptions &&
               attached.empty()) {
        m_result.invocation.recursive = true;
    } else if (name == "--json" && m_command.takesInfoOptions && attached.empty()) {
        m_result.invocation.json = true;
    } else if ((name == "-j" || name == "--jobs") && m_command.takesInfoOptions) {
        if (auto value = optionValue(name, attached))
            setJobs(name, *value);
    } else if (name.size() > 2 && name.rfind("-j", 0) == 0 && name[2] >= '0' && name[2] <= '9' &&
               m_command.takesInfoOptions && attached.empty()) {
        setJobs("-j", name.substr(2)); // "-j4" as well as "-j 4"
    } else if (!m_command.takesRenderOptions || !parseRenderOption(name, attached)) {
        setError(prefix + "unknown option '" + printableName(argument) + "'");
    }
}

void ArgumentParser::setJobs(const std::string& name, const std::string& value)
{
    m_result.invocation.jobs = parseJobs(value);
    if (!m_result.invocation.jobs)
        setError(std::string(m_command.name) + ": bad " + name + " value '" + printableName(value) +
                 "': use a number of files from 1 to " + std::to_string(kMaxJobs));
}

// True when the option is one of render's, its value checked.
bool ArgumentParser::parseRenderOption(const std::string& name, const std::string& attached)
{
    RenderOptions& render = m_result.invocation.render;
    if (name == "--hide-notes" && attached.empty()) {
        render.hideNotes = true;
    } else if (name == "--complement" && attached.empty()) {
        render.complement = true;
    } else if (name == "--no-aa" && attached.empty()) {
        render.antiAliasing = false;
    } else if (name == "--color") {
        if (auto value = optionValue(name, attached)) {
            render.colour = parseRenderColour(*value);
            if (!render.colour)
                setError("render: bad --color value '" + printableName(*value) +
                         "': use red, green, blue, black, white or #RRGGBB");
        }
    } else if (name == "--adjust") {
        if (auto value = optionValue(name, attached)) {
            auto commands = parseAdjustList(*value);
            if (commands)
                render.adjustments.insert(render.adjustments.end(), commands->begin(),
                                          commands->end());
            else
                setError("render: bad --adjust list '" + printableName(*value) +
                         "': use auto-color, auto-contrast, invert, gray, red, green, blue, "
                         "flip-h, flip-v, rot-cw, rot-ccw");
        }
    } else {
        return false;
    }
    return true;
}

// The name of the first operand not given: "MASK" of "IMAGE MASK" when one was given.
std::string missingOperandName(const std::string& names, size_t given)
{
    size_t start = 0;
    for (size_t i = 0; i < given && start != std::string::npos; ++i) {
        start = names.find(' ', start);
        if (start != std::string::npos)
            ++start;
    }
    if (start == std::string::npos)
        return "argument";
    return names.substr(start, names.find(' ', start) - start);
}

void ArgumentParser::checkOperands()
{
    const std::string prefix = std::string(m_command.name) + ": ";
    const size_t count = m_result.invocation.operands.size();
    if (count < m_command.minOperands)
        setError(prefix + "missing " + missingOperandName(m_command.operandNames, count) +
                 " (usage: ombri " + m_command.synopsis + ")");
    else if (count > m_command.maxOperands)
        setError(prefix + "too many arguments (usage: ombri " + m_command.synopsis + ")");
    else if (m_command.needsOutput && !m_result.invocation.output)
        setError(prefix + "missing -o OUT");
}

} // namespace

ParsedArguments parseArguments(const Command& command, std::vector<std::string> arguments)
{
    return ArgumentParser(command, std::move(arguments)).parse();
}

void printCommandHelp(std::ostream& out, const Command& command)
{
    out << "Usage: ombri " << command.synopsis << "\n\n" << command.description;
    out << "\nOptions:\n";
    if (command.needsOutput)
        out << "  -o, --output FILE  the file to write\n";
    if (command.takesDepth)
        out << "  --depth 24|32      carry the notes in the alpha byte of a 32-bit file, or in "
               "the\n                     blue byte of a 24-bit one\n";
    if (command.takesLossy)
        out << "  --lossy            save even though the notes are lost: to JPEG, or a "
               "picture\n                     too narrow to carry them\n";
    if (command.takesInfoOptions)
        out << "  -r, --recursive    look in every folder below each folder too\n"
               "  --json             one JSON object per line instead of text blocks\n"
               "  -j, --jobs N       read N files at a time (default: one per processor); what\n"
               "                     is printed stays the same, in the same order\n";
    if (command.takesRenderOptions)
        out << "  --hide-notes       show the picture without its notes\n"
               "  --color C          note colour: red (default), green, blue, black, white or\n"
               "                     #RRGGBB\n"
               "  --complement       show the notes as the complement of the picture\n"
               "  --no-aa            notes with hard edges instead of anti-aliased\n"
               "  --adjust LIST      the reader's image adjustments, applied in the order given,\n"
               "                     from: auto-color, auto-contrast, invert, gray, red, green,\n"
               "                     blue, flip-h, flip-v, rot-cw, rot-ccw (comma separated)\n";
    out << "  --verbose          print what the file readers find (headers, library errors)\n";
}

} // namespace ombri::cli
