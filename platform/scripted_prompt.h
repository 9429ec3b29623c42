#pragma once

#include "platform/prompt.h"

#include <deque>

namespace ombri {

// A prompt for tests: records every message and answers from a script.
class ScriptedPrompt : public Prompt {
  public:
    struct Message {
        std::string text;
        std::string caption;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::Information;
    };

    // Answers given in order to ask() calls with buttons; when the script runs out, Cancel (or
    // No where there is no Cancel) is answered.
    void queueAnswer(Answer answer) { m_answers.push_back(answer); }
    // Paths given in order to the save dialog; nothing (cancel) when the script runs out.
    void queueSavePath(std::optional<std::string> path) { m_savePaths.push_back(std::move(path)); }
    // Paths given in order to the open dialog; nothing (cancel) when the script runs out.
    void queueOpenPath(std::optional<std::string> path) { m_openPaths.push_back(std::move(path)); }

    // Colours given in order to the colour dialog; nothing (cancel) when the script runs out.
    void queueColour(std::optional<Rgb> colour) { m_colours.push_back(colour); }
    std::optional<Rgb> chooseColour(Rgb initial) override;
    const std::vector<Rgb>& colourDialogs() const { return m_colourDialogs; }

    Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
               Icon icon) override;
    void reportOpenFailure(const std::string& path, const std::string& reason) override;
    std::optional<std::string> chooseSavePath(const SaveDialogRequest& request) override;
    std::optional<std::string> chooseOpenPath(const OpenDialogRequest& request) override;

    const std::vector<Message>& messages() const { return m_messages; }
    const std::vector<SaveDialogRequest>& saveDialogs() const { return m_saveDialogs; }
    const std::vector<OpenDialogRequest>& openDialogs() const { return m_openDialogs; }
    struct OpenFailure {
        std::string path;
        std::string reason;
    };
    const std::vector<OpenFailure>& openFailures() const { return m_openFailures; }
    // The status texts long work has shown, in order.
    void beginBusy(const std::string& status) override { m_busyStatuses.push_back(status); }
    const std::vector<std::string>& busyStatuses() const { return m_busyStatuses; }
    void clear();

  private:
    std::deque<Answer> m_answers;
    std::deque<std::optional<std::string>> m_savePaths;
    std::deque<std::optional<std::string>> m_openPaths;
    std::deque<std::optional<Rgb>> m_colours;
    std::vector<Rgb> m_colourDialogs;
    std::vector<Message> m_messages;
    std::vector<SaveDialogRequest> m_saveDialogs;
    std::vector<OpenDialogRequest> m_openDialogs;
    std::vector<OpenFailure> m_openFailures;
    std::vector<std::string> m_busyStatuses;
};

} // namespace ombri
