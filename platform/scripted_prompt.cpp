#include "platform/scripted_prompt.h"

namespace ombri {

Answer ScriptedPrompt::ask(const std::string& text, const std::string& caption, Buttons buttons,
                           Icon icon)
{
    m_messages.push_back(Message{text, caption, buttons, icon});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (m_answers.empty())
        return buttons == Buttons::YesNoCancel ? Answer::Cancel : Answer::No;
    const Answer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void ScriptedPrompt::reportOpenFailure(const std::string& path, const std::string& reason)
{
    m_openFailures.push_back(OpenFailure{path, reason});
}

std::optional<std::string> ScriptedPrompt::chooseSavePath(const SaveDialogRequest& request)
{
    m_saveDialogs.push_back(request);
    if (m_savePaths.empty())
        return std::nullopt;
    auto path = m_savePaths.front();
    m_savePaths.pop_front();
    return path;
}

std::optional<std::string> ScriptedPrompt::chooseOpenPath(const OpenDialogRequest& request)
{
    m_openDialogs.push_back(request);
    if (m_openPaths.empty())
        return std::nullopt;
    auto path = m_openPaths.front();
    m_openPaths.pop_front();
    return path;
}

std::optional<Rgb> ScriptedPrompt::chooseColour(Rgb initial)
{
    m_colourDialogs.push_back(initial);
    if (m_colours.empty())
        return std::nullopt;
    auto colour = m_colours.front();
    m_colours.pop_front();
    return colour;
}

void ScriptedPrompt::clear()
{
    m_messages.clear();
    m_saveDialogs.clear();
    m_openDialogs.clear();
    m_openFailures.clear();
    m_busyStatuses.clear();
}

} // namespace ombri
