#pragma once

#include "platform/prompt.h"

#include <QString>
#include <QStringList>

#include <memory>

class QWidget;

namespace ombri::writer {

class WriterWindow;

constexpr const char* kWriterVersion = "1.51";

// Makes the writer's icons available (they live in the program's resources).
void initWriterResources();

// The writer's start: the application's names and icon, the main frame, and a file named on
// the command line.
class WriterApp {
  public:
    // Without a prompt the frame shows real message boxes.
    explicit WriterApp(Prompt* prompt = nullptr);
    ~WriterApp();
    WriterApp(const WriterApp&) = delete;
    WriterApp& operator=(const WriterApp&) = delete;

    // Creates and shows the main frame; false when the file named on the command line could
    // not be opened (the reports have been shown), and the program should end.
    bool initInstance(const QStringList& arguments);

    WriterWindow* window() const { return m_frame.get(); }

  private:
    Prompt* m_prompt;
    std::unique_ptr<WriterWindow> m_frame;
};

} // namespace ombri::writer
