#pragma once

#include "platform/prompt.h"

#include <deque>
#include <string>
#include <vector>

namespace ombri::journey {

// The prompt of a journey's program: each step queues the answers its user gives to whatever
// the program asks, and every message is recorded, so that a step can tell whether it asked.
class JourneyPrompt : public Prompt {
  public:
    void queueAnswer(Answer answer) { m_answers.push_back(answer); }
    void queueSavePath(const std::string& path) { m_savePaths.push_back(path); }
    void queueColour(Rgb colour) { m_colours.push_back(colour); }
    void clearScript()
    {
        m_answers.clear();
        m_savePaths.clear();
        m_colours.clear();
    }
    size_t messageCount() const { return m_messages.size(); }
    const std::vector<std::string>& messages() const { return m_messages; }

    Answer ask(const std::string& text, const std::string&, Buttons buttons, Icon) override
    {
        m_messages.push_back(text);
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        Answer answer = buttons == Buttons::YesNoCancel ? Answer::Cancel : Answer::No;
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        }
        if (buttons == Buttons::YesNo && answer == Answer::Cancel)
            answer = Answer::No;
        return answer;
    }
    void reportOpenFailure(const std::string& path, const std::string& reason) override
    {
        m_messages.push_back("cannot open " + path + ": " + reason);
    }
    std::optional<std::string> chooseSavePath(const SaveDialogRequest&) override
    {
        if (m_savePaths.empty())
            return std::nullopt;
        std::string path = m_savePaths.front();
        m_savePaths.pop_front();
        return path;
    }
    std::optional<Rgb> chooseColour(Rgb) override
    {
        if (m_colours.empty())
            return std::nullopt;
        const Rgb colour = m_colours.front();
        m_colours.pop_front();
        return colour;
    }

  private:
    std::deque<Answer> m_answers;
    std::deque<std::string> m_savePaths;
    std::deque<Rgb> m_colours;
    std::vector<std::string> m_messages;
};

} // namespace ombri::journey
