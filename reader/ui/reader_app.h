#pragma once

#include "platform/prompt.h"

#include <QStringList>

#include <memory>

namespace ombri::reader {

class ReaderWindow;

// The reader's start: the application's names and icon, the main frame and its panes, a file
// named on the command line, then the pane colours of "setting.dat" in the current folder.
class ReaderApp {
  public:
    // Without a prompt the frame shows real message boxes.
    explicit ReaderApp(Prompt* prompt = nullptr);
    ~ReaderApp();
    ReaderApp(const ReaderApp&) = delete;
    ReaderApp& operator=(const ReaderApp&) = delete;

    // Creates and shows the main frame; false when the file named on the command line could not
    // be opened (it has been reported), and the program should end.
    bool initInstance(const QStringList& arguments);

    ReaderWindow* window() const { return m_frame.get(); }

  private:
    Prompt* m_prompt;
    std::unique_ptr<ReaderWindow> m_frame;
};

} // namespace ombri::reader
