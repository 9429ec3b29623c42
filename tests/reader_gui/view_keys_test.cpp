// The keys and the wheel of the picture pane, through the reader's real window: Left, Right and
// Backspace step through the pictures, a picture wider than the view is scrolled first, and Ctrl
// with the wheel zooms about the pointer.

#include "notes/carrier.h"
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/image_view.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/view_events.h"

#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <filesystem>
#include <string>

namespace ombri::reader {
namespace {

class ReaderViewKeysTest : public ReaderFrameTest {
  protected:
    // A picture of its own folder, between two small ones: 1.bmp, 2.bmp (the one given), 3.bmp.
    ReaderWindow& startBetweenTwo(int width, int height)
    {
        std::filesystem::create_directories(dir.file("set"));
        EXPECT_TRUE(test::succeeded(WriteBmpFile(dir.file("set/1.bmp"), solidPicture(40, 30, 10))));
        EXPECT_TRUE(
            test::succeeded(WriteBmpFile(dir.file("set/2.bmp"), solidPicture(width, height, 90))));
        EXPECT_TRUE(test::succeeded(WriteBmpFile(dir.file("set/3.bmp"), solidPicture(40, 30, 20))));
        ReaderWindow& frame = start({file("set/2.bmp")});
        frame.view().setFocus();
        return frame;
    }
    std::string shown(ReaderWindow& frame) { return frame.document().currentPath(); }
    void press(ReaderWindow& frame, int key) { test::pressKey(frame.view(), key); }

    // The point of the picture, in picture pixels, under a point of the view's visible area,
    // from what the view reports of its placement.
    static QPointF pictureUnder(ImageView& view, QPointF at, QSize pictureSize)
    {
        const ImageView::Inspection seen = view.inspect();
        const double scaleX = seen.destination.width() / static_cast<double>(pictureSize.width());
        const double scaleY = seen.destination.height() / static_cast<double>(pictureSize.height());
        const QPointF inArea = at * seen.deviceScale + QPointF(seen.deviceScroll) -
                               QPointF(seen.destination.topLeft());
        return QPointF(inArea.x() / scaleX, inArea.y() / scaleY);
    }
    static void turnWheelAt(ImageView& view, QPointF at, int delta, Qt::KeyboardModifiers modifiers)
    {
        QWidget* area = view.viewport();
        QWheelEvent turn(at, area->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                         modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area, &turn);
    }
};

TEST_F(ReaderViewKeysTest, LeftRightAndBackspaceStepInTheViewAndInFullScreen)
{
    ReaderWindow& frame = start({file("b.bmp")});
    frame.view().setFocus();
    press(frame, Qt::Key_Right);
    EXPECT_EQ(shown(frame), dir.file("c.bmp"));
    press(frame, Qt::Key_Left);
    EXPECT_EQ(shown(frame), dir.file("b.bmp"));
    press(frame, Qt::Key_Backspace);
    EXPECT_EQ(shown(frame), dir.file("a.bmp"));
    // Past the first picture there is nothing to step to.
    press(frame, Qt::Key_Backspace);
    EXPECT_EQ(shown(frame), dir.file("a.bmp"));
    // With Ctrl or Alt held they are no steps.
    test::pressKey(frame.view(), Qt::Key_Right, Qt::ControlModifier);
    test::pressKey(frame.view(), Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(shown(frame), dir.file("a.bmp"));

    frame.onFullScreen();
    ASSERT_TRUE(frame.isFullScreenMode());
    press(frame, Qt::Key_Right);
    EXPECT_EQ(shown(frame), dir.file("b.bmp"));
    press(frame, Qt::Key_Right);
    EXPECT_EQ(shown(frame), dir.file("c.bmp"));
    press(frame, Qt::Key_Left);
    EXPECT_EQ(shown(frame), dir.file("b.bmp"));
    press(frame, Qt::Key_Backspace);
    EXPECT_EQ(shown(frame), dir.file("a.bmp"));
    QTest::keyClick(&frame.view(), Qt::Key_Escape);
    EXPECT_FALSE(frame.isFullScreenMode());
    // The list followed the steps taken out of sight.
    EXPECT_EQ(frame.list().currentFileIndex(), 0);
}

TEST_F(ReaderViewKeysTest, SpaceStillTogglesTheNotesBesideTheSteppingKeys)
{
    NoteLayer notes(60 * 40, 0);
    notes[5] = 1;
    Dib carrier = MakeCarrierCopy(test::makePatternImage(60, 40, 24, 4), notes, SaveDepth::Bits24);
    WriteOmbriSignature(DibPixelStart(carrier));
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("b.bmp"), carrier)));
    ReaderWindow& frame = start({file("b.bmp")});
    ASSERT_TRUE(frame.document().hasNoteLayer());
    frame.view().setFocus();
    ASSERT_FALSE(frame.view().showNotes());
    EXPECT_TRUE(test::pressKey(frame.view(), Qt::Key_Space, Qt::NoModifier, " "));
    EXPECT_TRUE(frame.view().showNotes());
    press(frame, Qt::Key_Right);
    EXPECT_EQ(shown(frame), dir.file("c.bmp"));
    press(frame, Qt::Key_Left);
    EXPECT_EQ(shown(frame), dir.file("b.bmp"));
    // A picture stepped to opens with its notes hidden.
    ASSERT_FALSE(frame.view().showNotes());
    frame.onFullScreen();
    EXPECT_TRUE(test::pressKey(frame.view(), Qt::Key_Space, Qt::NoModifier, " "));
    EXPECT_TRUE(frame.view().showNotes());
    EXPECT_EQ(shown(frame), dir.file("b.bmp"));
}

// Wider than the view, the picture is scrolled by Left and Right; only from its edge do they
// step, Left from the left edge to the previous picture, Right from the right edge to the next.
TEST_F(ReaderViewKeysTest, AWidePictureIsScrolledToItsEdgeBeforeStepping)
{
    for (const bool fullScreen : {false, true}) {
        SCOPED_TRACE(fullScreen ? "full screen" : "in the window");
        ReaderWindow& frame = startBetweenTwo(3000, 100);
        if (fullScreen)
            frame.onFullScreen();
        frame.commands().trigger(cmd::OriginalSize);
        QScrollBar* across = frame.view().horizontalScrollBar();
        ASSERT_GT(across->maximum(), 0);
        ASSERT_EQ(across->value(), 0);

        for (int presses = 0; across->value() < across->maximum() && presses < 100; ++presses) {
            const int before = across->value();
            press(frame, Qt::Key_Right);
            ASSERT_GT(across->value(), before);
            ASSERT_EQ(shown(frame), dir.file("set/2.bmp"));
        }
        ASSERT_EQ(across->value(), across->maximum());
        press(frame, Qt::Key_Right);
        EXPECT_EQ(shown(frame), dir.file("set/3.bmp"));

        press(frame, Qt::Key_Left);
        ASSERT_EQ(shown(frame), dir.file("set/2.bmp"));
        across->setValue(across->maximum() / 2);
        const int middle = across->value();
        press(frame, Qt::Key_Left);
        EXPECT_LT(across->value(), middle);
        EXPECT_EQ(shown(frame), dir.file("set/2.bmp"));
        across->setValue(0);
        press(frame, Qt::Key_Left);
        EXPECT_EQ(shown(frame), dir.file("set/1.bmp"));
        // Backspace steps back whatever the scroll.
        press(frame, Qt::Key_Right);
        ASSERT_EQ(shown(frame), dir.file("set/2.bmp"));
        across->setValue(across->maximum() / 2);
        press(frame, Qt::Key_Backspace);
        EXPECT_EQ(shown(frame), dir.file("set/1.bmp"));
    }
}

// Ctrl with the wheel zooms in or out by a step a notch, keeping the picture's point under the
// pointer where it was; the plain wheel still scrolls.
TEST_F(ReaderViewKeysTest, CtrlWheelZoomsAboutThePointer)
{
    const QSize pictureSize(3000, 2400);
    ReaderWindow& frame = startBetweenTwo(pictureSize.width(), pictureSize.height());
    ImageView& view = frame.view();
    frame.commands().trigger(cmd::OriginalSize);
    view.horizontalScrollBar()->setValue(400);
    view.verticalScrollBar()->setValue(300);
    const QPointF pointer(view.viewport()->width() / 3.0, view.viewport()->height() / 4.0);

    struct Turn {
        int delta;
        int count;
        float zoom;
    };
    // A notch in, a notch out, and a fine-grained wheel's quarter notches adding up to one.
    for (const Turn turn : {Turn{120, 1, 1.25f}, Turn{-120, 1, 1.0f}, Turn{-120, 1, 0.8f},
                            Turn{30, 4, 1.0f}, Turn{-40, 3, 0.8f}}) {
        const QPointF before = pictureUnder(view, pointer, pictureSize);
        const float start = view.inspect().zoom;
        for (int i = 0; i < turn.count; ++i) {
            ASSERT_EQ(view.inspect().zoom, start) << "a part of a notch zoomed";
            turnWheelAt(view, pointer, turn.delta, Qt::ControlModifier);
        }
        const ImageView::Inspection seen = view.inspect();
        EXPECT_FLOAT_EQ(seen.zoom, turn.zoom);
        EXPECT_EQ(seen.zoomMode, ZoomMode::Free);
        const QPointF after = pictureUnder(view, pointer, pictureSize);
        // Within a screen pixel of where it was.
        EXPECT_LE(std::abs(after.x() - before.x()) * seen.zoom, 1.0) << turn.delta;
        EXPECT_LE(std::abs(after.y() - before.y()) * seen.zoom, 1.0) << turn.delta;
    }

    const ImageView::Inspection before = view.inspect();
    test::turnWheel(view, -120);
    EXPECT_EQ(view.inspect().zoom, before.zoom);
    EXPECT_GT(view.inspect().scroll.y(), before.scroll.y());
}

} // namespace
} // namespace ombri::reader
