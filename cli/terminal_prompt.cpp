#include "cli/terminal_prompt.h"

#include "core/printable_name.h"

namespace ombri::cli {

namespace {

constexpr const char* kWhitespace = " \t\r";

} // namespace

std::string joinMessageLines(const std::string& text)
{
    std::string joined;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const size_t first = text.find_first_not_of(kWhitespace, start);
        if (first != std::string::npos && first < end) {
            const size_t last = text.find_last_not_of(kWhitespace, end - 1);
            if (!joined.empty())
                joined += ' ';
            joined.append(text, first, last + 1 - first);
        }
        start = end + 1;
    }
    return joined;
}

Answer TerminalPrompt::ask(const std::string& text, const std::string&, Buttons buttons, Icon)
{
    m_err << "ombri: " << joinMessageLines(text) << '\n';
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return m_questionAnswer;
}

void TerminalPrompt::reportOpenFailure(const std::string& path, const std::string& reason)
{
    ++m_openFailures;
    m_lastOpenFailure = reason;
    m_err << "ombri: cannot read '" << printableName(path) << "': " << reason << '\n';
}

std::optional<std::string> TerminalPrompt::chooseSavePath(const SaveDialogRequest&)
{
    // Every command names its output; a document that still asks for one gets no answer.
    return std::nullopt;
}

} // namespace ombri::cli
