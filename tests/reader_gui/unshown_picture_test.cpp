#include "formats/bmp.h"
#include "formats/png.h"
#include "notes/carrier.h"
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_window.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

// Pixels of the given colour in the middle third of the frame, where a centred message lies.
int pixelsInTheMiddle(const QImage& frame, QRgb colour)
{
    int count = 0;
    for (int y = frame.height() / 3; y < frame.height() * 2 / 3; ++y) {
        for (int x = 0; x < frame.width(); ++x)
            count += (frame.pixel(x, y) & 0xFFFFFFu) == (colour & 0xFFFFFFu) ? 1 : 0;
    }
    return count;
}

// A file of no picture kind, a PNG cut short, a PNG name over text and a picture deleted after
// it was listed each leave their reason in the view, in the middle and in the colour that
// stands out from the view's background; the next good picture takes its place.
TEST_F(ReaderFrameTest, AFileThatCannotBeShownLeavesItsReasonInTheView)
{
    fs::create_directories(dir.file("why"));
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("why/a.bmp"), solidPicture(40, 30, 200))));
    ASSERT_TRUE(test::succeeded(
        WritePngFile(dir.file("why/b_cut.png"), test::makePatternImage(64, 64, 24, 3))));
    fs::resize_file(dir.file("why/b_cut.png"), fs::file_size(dir.file("why/b_cut.png")) / 2);
    test::writeFileBytes(dir.file("why/c_fake.png"), {'t', 'e', 'x', 't', '\n'});
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("why/d_gone.bmp"), solidPicture(40, 30, 90))));
    test::writeFileBytes(dir.file("why/e_notes.txt"), {'t', 'e', 'x', 't', '\n'});
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("why/f_good.bmp"), solidPicture(40, 30, 200))));

    ReaderWindow& frame = start({file("why/a.bmp")});
    ASSERT_TRUE(fs::remove(dir.file("why/d_gone.bmp")));
    ImageView& view = frame.view();
    EXPECT_TRUE(view.inspect().message.isEmpty());
    const QRgb picture = qRgb(200, 200, 200);
    ASSERT_GT(pixelsInTheMiddle(view.inspect().frame, picture), 0);
    const QRgb text = qRgb(0, 0, 0); // on the built-in light blue

    const struct {
        int index;
        const char* message;
    } unshown[] = {
        {1, "b_cut.png is truncated"},
        {2, "Not a picture"},
        {3, "d_gone.bmp is no longer there"},
        {4, "Not a picture"},
    };
    for (const auto& file : unshown) {
        SCOPED_TRACE(file.message);
        QTest::keyClick(&frame.list(), Qt::Key_Down);
        ASSERT_EQ(frame.list().currentFileIndex(), file.index);
        EXPECT_FALSE(frame.document().hasImage());
        const ImageView::Inspection seen = view.inspect();
        EXPECT_EQ(seen.message.toStdString(), file.message);
        EXPECT_GT(pixelsInTheMiddle(seen.frame, text), 0);
        EXPECT_EQ(pixelsInTheMiddle(seen.frame, picture), 0);
        const QImage painted = view.viewport()->grab().toImage();
        EXPECT_GT(pixelsInTheMiddle(painted, text), 0);
    }

    QTest::keyClick(&frame.list(), Qt::Key_Down);
    ASSERT_EQ(frame.document().currentPath(), dir.file("why/f_good.bmp"));
    const ImageView::Inspection seen = view.inspect();
    EXPECT_TRUE(seen.message.isEmpty());
    EXPECT_EQ(pixelsInTheMiddle(seen.frame, text), 0);
    EXPECT_GT(pixelsInTheMiddle(seen.frame, picture), 0);

    // A folder chosen in the tree empties the view of the reason as well as of the picture.
    QTest::keyClick(&frame.list(), Qt::Key_Up);
    ASSERT_FALSE(view.inspect().message.isEmpty());
    frame.document().DeleteContents();
    view.redrawNow(Background::Erase);
    EXPECT_TRUE(view.inspect().message.isEmpty());
    EXPECT_EQ(pixelsInTheMiddle(view.inspect().frame, text), 0);
}

// A carrier of a colour of its own: the view's middle pixel tells which file is on show.
Dib colouredCarrier(uint8_t value, size_t noteCount)
{
    NoteLayer notes(60 * 40, 0);
    // Clear of the marker, which takes the first pixels of the bottom row.
    for (size_t i = 1000; i < 1000 + noteCount; ++i)
        notes[i] = 1;
    Dib carrier = MakeCarrierCopy(solidPicture(60, 40, value), notes, SaveDepth::Bits24);
    WriteOmbriSignature(DibPixelStart(carrier));
    return carrier;
}

// Stepping quickly back and forth over carriers of different note counts and plain pictures,
// with the list's readers answering in between: at every step the label speaks of the picture
// the view shows, never of a neighbour.
TEST_F(ReaderFrameTest, TheNoteLabelFollowsThePictureOnShowWhileStepping)
{
    fs::create_directories(dir.file("mix"));
    std::map<int, std::string> labelOfRed; // by the red byte of the picture
    for (int i = 0; i < 12; ++i) {
        const auto red = static_cast<uint8_t>(20 + 16 * i);
        const std::string name = dir.file("mix/p" + std::to_string(10 + i) + ".bmp");
        if (i % 3 == 2) {
            ASSERT_TRUE(test::succeeded(WriteBmpFile(name, solidPicture(60, 40, red))));
            labelOfRed[red] = "No notes";
        } else {
            const size_t count = 50 + 37 * static_cast<size_t>(i);
            ASSERT_TRUE(test::succeeded(WriteBmpFile(name, colouredCarrier(red, count))));
            labelOfRed[red] = "Notes: " + std::to_string(count) + " pixels";
        }
    }
    ReaderWindow& frame = start({file("mix/p10.bmp")});
    frame.list().setFocus();
    const auto* label = frame.statusBar()->findChild<QLabel*>(QStringLiteral("noteStatus"));
    ASSERT_NE(label, nullptr);

    std::mt19937 random(29);
    for (int step = 0; step < 200; ++step) {
        const bool forward = random() % 3 != 0;
        frame.commands().trigger(forward ? cmd::NextImage : cmd::PreviousImage);
        if (random() % 2 == 0)
            QApplication::processEvents();
        const ImageView::Inspection seen = frame.view().inspect();
        const QRgb middle = seen.frame.pixel(seen.frame.rect().center());
        const auto found = labelOfRed.find(qRed(middle) & 0xFE);
        ASSERT_NE(found, labelOfRed.end()) << "step " << step;
        EXPECT_EQ(label->text().toStdString(), found->second) << "step " << step;
    }
}

} // namespace
} // namespace ombri::reader
