// OmbriWriter as a user runs it: started on a picture, text typed and shapes drawn with the
// mouse and keyboard, saved in each carrier format and depth; the command-line tool then finds
// exactly the drawn notes in every saved file.
#include "formats/bmp.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/mouse_drag.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_app.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

namespace ombri::test {

using writer::WriterApp;
using writer::WriterWindow;
namespace cmd = writer::cmd;
namespace {

// The note pixels of a saved file as "ombri notes" extracts them: a grey mask, 0 at notes.
NoteLayer notesFromTheCommandLine(const std::string& file, const std::string& maskPath)
{
    QProcess ombri;
    ombri.start(QStringLiteral(OMBRI_BINARY_DIR "/ombri"),
                {QStringLiteral("notes"), QString::fromStdString(file), QStringLiteral("-o"),
                 QString::fromStdString(maskPath)});
    EXPECT_TRUE(ombri.waitForFinished(30000));
    EXPECT_EQ(ombri.exitCode(), 0) << ombri.readAllStandardError().toStdString();
    auto mask = ReadPngFile(maskPath);
    if (!mask)
        return {};
    auto layout = dibGetLayout(mask.value());
    NoteLayer notes(static_cast<size_t>(layout->width) * layout->height);
    for (int32_t y = 0; y < layout->height; ++y)
        for (int32_t x = 0; x < layout->width; ++x)
            notes[static_cast<size_t>(layout->height - 1 - y) * layout->width + x] =
                pixelAt(mask.value(), x, y)[0] == 0 ? 1 : 0;
    return notes;
}

std::string infoOf(const std::string& file)
{
    QProcess ombri;
    ombri.start(QStringLiteral(OMBRI_BINARY_DIR "/ombri"),
                {QStringLiteral("info"), QString::fromStdString(file)});
    EXPECT_TRUE(ombri.waitForFinished(30000));
    return ombri.readAllStandardOutput().toStdString();
}


TEST(WriterProgramTest, TypedAndDrawnNotesReachEveryCarrierFile)
{
    TempDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.file("settings")));
    const std::string source = dir.file("start.bmp");
    ASSERT_TRUE(test::succeeded(WriteBmpFile(source, makePatternImage(160, 100, 24))));

    ScriptedPrompt prompt;
    WriterApp app(&prompt);
    ASSERT_TRUE(app.initInstance({QStringLiteral("ombri-writer"), QString::fromStdString(source)}));
    WriterWindow& frame = *app.window();
    QWidget* canvas = frame.view().viewport();

    frame.commands().trigger(cmd::TextTool);
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(8, 6));
    QTest::keyClicks(&frame.view(), QStringLiteral("Ombri 42"));
    QTest::keyClick(&frame.view(), Qt::Key_Return);
    QTest::keyClicks(&frame.view(), QStringLiteral("two"));
    frame.commands().trigger(cmd::EllipseTool);
    dragWithLeftButton(canvas, {90, 20}, {150, 80});
    frame.commands().trigger(cmd::LineTool);
    dragWithLeftButton(canvas, {10, 90}, {140, 60});
    frame.view().EndTool(true);
    ASSERT_TRUE(frame.document().noteLayer());
    const NoteLayer drawn = *frame.document().noteLayer();
    ASSERT_GT(std::count(drawn.begin(), drawn.end(), 1), 150);

    struct Saved {
        const char* name;
        int command;
    };
    for (const Saved& saved :
         {Saved{"a.png", cmd::SaveAsLossless}, Saved{"b.png", cmd::SaveAsCompressed},
          Saved{"a.bmp", cmd::SaveAsLossless}, Saved{"b.bmp", cmd::SaveAsCompressed},
          Saved{"a.tif", cmd::SaveAsLossless}, Saved{"b.tif", cmd::SaveAsCompressed},
          Saved{"a.rgb", cmd::SaveAsLossless}, Saved{"b.rgb", cmd::SaveAsCompressed}}) {
        const std::string path = dir.file(saved.name);
        prompt.queueSavePath(path);
        ASSERT_TRUE(frame.commands().trigger(saved.command));
        ASSERT_TRUE(fileExists(path)) << saved.name;
        EXPECT_EQ(notesFromTheCommandLine(path, path + "-mask.png"), drawn) << saved.name;
        const std::string info = infoOf(path);
        EXPECT_NE(info.find("notes: yes"), std::string::npos) << info;
        EXPECT_NE(
            info.find("note-pixels: " + std::to_string(std::count(drawn.begin(), drawn.end(), 1))),
            std::string::npos)
            << info;
    }
}

} // namespace
} // namespace ombri::test
