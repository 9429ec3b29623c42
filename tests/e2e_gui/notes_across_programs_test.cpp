// Notes drawn in OmbriWriter with the mouse, saved in every format that carries them, and shown
// by OmbriReader on exactly the pixels they were drawn on.
#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_window.h"
#include "support/mouse_drag.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace ombri::test {

using writer::WriterWindow;
namespace cmd = writer::cmd;
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;

struct SavedFormat {
    const char* name;
    bool compressed; // Save As (Compressed): the 24-bit depth; otherwise the alpha depth
};

// Every extension the writer saves with notes, in both save depths where they differ.
const SavedFormat kFormats[] = {
    {"notes.png", false}, {"notes24.png", true}, {"notes.bmp", false}, {"notes24.bmp", true},
    {"notes.tif", false}, {"notes24.tif", true}, {"notes.rgb", false}, {"notes24.rgb", true},
    {"notes.dpx", true},  {"notes.cin", true},
};

class NotesAcrossProgramsTest : public ::testing::TestWithParam<SavedFormat> {
  protected:
    void SetUp() override
    {
        // The recent-file lists are stored per user: keep them in the test's own folder.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_settings.path()));
    }
    TempDir m_settings;
};

TEST_P(NotesAcrossProgramsTest, ReaderShowsTheWritersNotesOnTheSamePixels)
{
    const SavedFormat format = GetParam();
    TempDir dir;
    const std::string source = dir.file("photo.bmp");
    ASSERT_TRUE(test::succeeded(WriteBmpFile(source, makePatternImage(kWidth, kHeight, 24))));

    // --- OmbriWriter: a rectangle and a pen stroke, then Save As.
    ScriptedPrompt writerPrompt;
    WriterWindow writer(&writerPrompt);
    writer.show();
    ASSERT_TRUE(writer.openFile(QString::fromStdString(source)));
    QWidget* canvas = writer.view().viewport();
    writer.commands().trigger(cmd::RectangleTool);
    dragWithLeftButton(canvas, {10, 8}, {50, 30});
    writer.commands().trigger(cmd::FreehandPen);
    dragWithLeftButton(canvas, {60, 40}, {90, 60});
    writer.view().EndTool(true);
    ASSERT_TRUE(writer.document().noteLayer());
    const NoteLayer drawn = *writer.document().noteLayer();
    ASSERT_GT(std::count(drawn.begin(), drawn.end(), 1), 100);

    const std::string saved = dir.file(format.name);
    writerPrompt.queueSavePath(saved);
    writer.commands().trigger(format.compressed ? cmd::SaveAsCompressed : cmd::SaveAsLossless);
    ASSERT_TRUE(fileExists(saved)) << format.name;

    // --- OmbriReader: open it, show the notes in red without smoothing.
    ScriptedPrompt readerPrompt;
    reader::ReaderWindow readerFrame(&readerPrompt);
    readerFrame.show();
    ASSERT_TRUE(readerFrame.openFile(QString::fromStdString(saved)));
    reader::OpenableReaderDocument& doc = readerFrame.document();
    ASSERT_TRUE(doc.hasNoteLayer()) << format.name;
    EXPECT_EQ(*doc.noteLayer(), drawn) << format.name;
    if (doc.antiAliasing())
        doc.ToggleAntiAliasing();
    readerFrame.commands().trigger(reader::cmd::DisplayNotes);
    ASSERT_TRUE(readerFrame.view().showNotes());
    const Dib* shown = doc.BuildDisplayImage(true);
    ASSERT_NE(shown, nullptr);
    const Dib original = makePatternImage(kWidth, kHeight, 24);
    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* pixel = pixelAt(*shown, x, y);
            const uint8_t* plain = pixelAt(original, x, y);
            const bool note = drawn[static_cast<size_t>(kHeight - 1 - y) * kWidth + x] == 1;
            if (note) {
                mismatches += !(pixel[2] == 255 && pixel[1] == 0 && pixel[0] == 0);
            } else {
                // The picture itself, each byte at most one step from what was drawn on.
                // The first pixel of the marked row (top-left, bottom-left in BMP files)
                // starts the Ombri signature and is replaced whole.
                if (x == 0 && (y == 0 || y == kHeight - 1))
                    continue;
                for (int c = 0; c < 3; ++c)
                    mismatches += std::abs(int(pixel[c]) - int(plain[c])) > 1;
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << format.name;
}

INSTANTIATE_TEST_SUITE_P(EveryCarrierFormat, NotesAcrossProgramsTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<SavedFormat>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == '.')
                                     c = '_';
                             return name;
                         });

} // namespace
} // namespace ombri::test
