#pragma once

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QSettings>
#include <gtest/gtest.h>

#include <memory>

namespace ombri::writer {

// The writer's main window on the offscreen screen, its messages and dialogs answered by a
// scripted prompt, its settings kept in the test's own folder.
class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override
    {
        // The recent-file list is stored per user: keep it in the test's own folder.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir.file("settings")));
        frame = std::make_unique<WriterWindow>(&prompt);
        frame->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        // No save question may hold the window open at the end of a test.
        frame->document().SetModified(false);
        frame.reset();
    }

    SavableWriterDocument& doc() { return frame->document(); }
    WriterView& view() { return frame->view(); }
    CommandTable& commands() { return frame->commands(); }

    // A 40 x 30 picture file of its own in the test folder.
    QString writePicture(const std::string& name, uint32_t seed = 1)
    {
        const std::string path = dir.file(name);
        EXPECT_TRUE(test::succeeded(WriteBmpFile(path, test::makePatternImage(40, 30, 24, seed))));
        return QString::fromStdString(path);
    }

    // A line drawn with the line tool, which stays active: the drawing is still pending.
    void drawPendingLine()
    {
        ASSERT_TRUE(frame->commands().trigger(cmd::LineTool));
        WriterView& view = frame->view();
        view.onLButtonDown(QPoint(3, 3));
        view.onMouseMove(QPoint(30, 20), kLeftButton);
        view.onLButtonUp(QPoint(30, 20));
        ASSERT_TRUE((*view.inspect().pending).has_value());
    }

    test::TempDir dir;
    ScriptedPrompt prompt;
    std::unique_ptr<WriterWindow> frame;
};

} // namespace ombri::writer
