#pragma once

#include "platform/prompt.h"

#include <cstddef>
#include <ostream>
#include <string>

namespace ombri::cli {

// The documents' messages on a terminal: every message becomes one line on the error stream,
// questions get the answer chosen on the command line, and there is no save dialog.
class TerminalPrompt : public Prompt {
  public:
    explicit TerminalPrompt(std::ostream& err, Answer questionAnswer = Answer::No)
        : m_err(err), m_questionAnswer(questionAnswer)
    {
    }

    // What every later question with Yes and No buttons is answered.
    void setQuestionAnswer(Answer answer) { m_questionAnswer = answer; }

    Answer ask(const std::string& text, const std::string& caption, Buttons buttons,
               Icon icon) override;
    void reportOpenFailure(const std::string& path, const std::string& reason) override;
    std::optional<std::string> chooseSavePath(const SaveDialogRequest& request) override;

    // How many open failures have been reported so far; a command compares it before and after
    // an open to know whether the document already named the file.
    size_t openFailureCount() const { return m_openFailures; }
    // Why the last reported file could not be read, for output that carries the reason with
    // the file's name (info --json).
    const std::string& lastOpenFailure() const { return m_lastOpenFailure; }

  private:
    std::ostream& m_err;
    Answer m_questionAnswer;
    size_t m_openFailures = 0;
    std::string m_lastOpenFailure;
};

// A message box text as one terminal line: each of its lines trimmed, the empty ones dropped,
// the rest joined by single spaces.
std::string joinMessageLines(const std::string& text);

} // namespace ombri::cli
