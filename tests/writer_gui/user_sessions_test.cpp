// Short sessions as a user has them, with the mouse and the keyboard on the real window: each
// one a sequence that once lost drawing, crashed the writer or left a false picture on screen.
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

namespace ombri::writer {
using namespace ombri::test;
namespace {

class UserSessionTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir.file("settings")));
        frame = std::make_unique<WriterWindow>(&prompt);
        frame->show();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        frame->view().setFocus();
    }
    void TearDown() override
    {
        frame->document().SetModified(false);
        frame.reset();
    }

    std::string writePicture(const std::string& name, int width, int height, uint32_t seed = 1)
    {
        EXPECT_TRUE(test::succeeded(
            WriteBmpFile(dir.file(name), makePatternImage(width, height, 24, seed))));
        return dir.file(name);
    }
    void open(const std::string& path)
    {
        ASSERT_TRUE(frame->openFile(QString::fromStdString(path)));
    }
    QWidget* canvas() { return frame->view().viewport(); }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        QApplication::processEvents();
    }
    // A click on the toolbar button of the command, as the user picks a tool or Redo.
    void click(QToolBar* bar, int command)
    {
        QWidget* button = bar->widgetForAction(frame->commands().action(command));
        ASSERT_TRUE(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QApplication::processEvents();
    }
    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(canvas(), Qt::LeftButton, Qt::NoModifier, from);
        for (int i = 1; i <= 3; ++i) {
            const QPoint at = from + (to - from) * i / 3;
            QMouseEvent move(QEvent::MouseMove, at, canvas()->mapToGlobal(at), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(canvas(), &move);
        }
        QTest::mouseRelease(canvas(), Qt::LeftButton, Qt::NoModifier, to);
        QApplication::processEvents();
    }
    void drop(const std::string& path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(canvas(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(canvas(), &event);
        QApplication::processEvents();
    }
    size_t notesIn(const std::string& path)
    {
        const LoadedImage loaded = loadCheckedImage(path);
        return loaded.noteLayer ? countNotePixels(*loaded.noteLayer) : 0;
    }
    // Every pixel on screen, as the window shows it.
    QImage screen() { return canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    TempDir dir;
    ScriptedPrompt prompt;
    std::unique_ptr<WriterWindow> frame;
};

// Scroll bars come and go as a picture is opened or a tool brings it back to its own size; the
// window keeps its size, and the tool just chosen stays in hand.
TEST_F(UserSessionTest, AToolStaysChosenWhenTheScrollBarsComeOrGo)
{
    open(writePicture("big.bmp", 1500, 1200));
    click(frame->paintToolBox(), cmd::RectangleTool);
    EXPECT_EQ(frame->view().activeTool(), Tool::Rectangle);
    click(frame->paintToolBox(), cmd::RectangleTool);

    open(writePicture("small.bmp", 300, 200, 2));
    for (int i = 0; i < 10; ++i)
        key(Qt::Key_9); // zoom in until the scroll bars show
    ASSERT_TRUE(frame->view().horizontalScrollBar()->isVisible());
    click(frame->paintToolBox(), cmd::Erasure); // back to the picture's own size
    EXPECT_EQ(frame->view().activeTool(), Tool::Eraser);
    EXPECT_FALSE(frame->view().horizontalScrollBar()->isVisible());
}

// Redo with no tool in hand once kept a drawing sized for the first picture, which the next
// drawing on a larger picture wrote far past its end; with pictures of one size the undone
// drawing was saved into the second picture.
TEST_F(UserSessionTest, AnUndoneDrawingNeverReachesTheNextPicture)
{
    for (const bool sameSize : {false, true}) {
        open(writePicture("first.bmp", 400, 300));
        click(frame->paintToolBox(), cmd::RectangleTool);
        drag({10, 10}, {200, 150});
        key(Qt::Key_Z, Qt::ControlModifier);
        click(frame->paintToolBox(), cmd::RectangleTool); // puts the tool down
        click(frame->mainToolBar(), cmd::Redo);
        const std::string second = sameSize ? writePicture("second.bmp", 400, 300, 2)
                                            : writePicture("second.bmp", 1500, 1200, 2);
        prompt.queueAnswer(Answer::No); // the redone rectangle of the first picture is not kept
        open(second);
        EXPECT_FALSE((*frame->view().inspect().pending));
        EXPECT_FALSE((*frame->view().inspect().redo));
        click(frame->paintToolBox(), cmd::RectangleTool);
        drag({20, 20}, {30, 25});
        click(frame->paintToolBox(), cmd::RectangleTool);
        key(Qt::Key_S, Qt::ControlModifier);
        EXPECT_FALSE(frame->document().IsModified());
        EXPECT_EQ(notesIn(second), 2u * 10u + 2u * 3u) << "same size: " << sameSize;
    }
}

TEST_F(UserSessionTest, RedoWithNoToolPutsTheDrawingBackIntoTheNotes)
{
    open(writePicture("a.bmp", 100, 80));
    click(frame->paintToolBox(), cmd::LineTool);
    drag({10, 10}, {60, 10});
    key(Qt::Key_Z, Qt::ControlModifier);
    click(frame->paintToolBox(), cmd::LineTool);
    EXPECT_FALSE(frame->document().IsModified());
    click(frame->mainToolBar(), cmd::Redo);
    EXPECT_FALSE((*frame->view().inspect().redo));
    EXPECT_TRUE(frame->document().IsModified());
    ASSERT_TRUE(frame->document().noteLayer());
    EXPECT_EQ(countNotePixels(*frame->document().noteLayer()), 50u);
    EXPECT_EQ(screen().pixel(30, 10) & 0xFFFFFFu, 0x0000FFu); // shown in the note colour
}

TEST_F(UserSessionTest, DroppingAPictureOnAChangedOneAsksFirst)
{
    open(writePicture("first.bmp", 100, 80));
    click(frame->paintToolBox(), cmd::EllipseTool);
    drag({10, 10}, {60, 40});
    click(frame->paintToolBox(), cmd::EllipseTool);
    ASSERT_TRUE(frame->document().IsModified());
    const std::string other = writePicture("other.bmp", 30, 20, 2);

    prompt.queueAnswer(Answer::Cancel);
    drop(other);
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "Save changes to first.bmp?");
    EXPECT_EQ(frame->document().width(), 100);
    EXPECT_TRUE(frame->document().IsModified());

    prompt.queueAnswer(Answer::Yes);
    drop(other);
    EXPECT_EQ(frame->document().width(), 30);
    EXPECT_GT(notesIn(dir.file("first.bmp")), 0u);
}

TEST_F(UserSessionTest, APenStrokeShowsInTheNoteColourOnceThePenIsPutDown)
{
    open(writePicture("a.bmp", 100, 80));
    const QImage before = screen();
    click(frame->paintToolBox(), cmd::FreehandPen);
    drag({20, 30}, {300, 30}); // on the picture and beyond it
    click(frame->paintToolBox(), cmd::LineTool);
    const QImage after = screen();
    EXPECT_EQ(after.pixel(50, 30) & 0xFFFFFFu, 0x0000FFu);
    // Off the picture the background is back: no inverted stroke stays on screen.
    EXPECT_EQ(after.pixel(200, 30), before.pixel(200, 30));
    EXPECT_EQ(after.pixel(50, 31), before.pixel(50, 31));
}

TEST_F(UserSessionTest, PuttingTheEraserDownShowsTheNotesAsTheyNowAre)
{
    open(writePicture("a.bmp", 100, 80));
    click(frame->paintToolBox(), cmd::LineTool);
    drag({10, 10}, {90, 10});
    click(frame->paintToolBox(), cmd::Erasure);
    EXPECT_FALSE(frame->view().inspect().showNotes);
    drag({20, 10}, {30, 10});
    prompt.queueSavePath(dir.file("b.png"));
    click(frame->mainToolBar(), cmd::SaveAsLossless); // puts the eraser down
    EXPECT_EQ(frame->view().activeTool(), Tool::None);
    EXPECT_TRUE(frame->view().inspect().showNotes);
    const QImage shown = screen();
    EXPECT_EQ(shown.pixel(60, 10) & 0xFFFFFFu, 0x0000FFu);
    EXPECT_NE(shown.pixel(25, 10) & 0xFFFFFFu, 0x0000FFu);
}

TEST_F(UserSessionTest, AnotherPictureStartsAtItsTopLeftCorner)
{
    open(writePicture("big.bmp", 2000, 1500));
    QScrollBar* across = frame->view().horizontalScrollBar();
    QScrollBar* down = frame->view().verticalScrollBar();
    drag({300, 300}, {100, 150}); // no tool: the picture follows the mouse
    ASSERT_GT(across->value(), 0);
    ASSERT_GT(down->value(), 0);
    open(writePicture("other.bmp", 1800, 1600, 2));
    EXPECT_EQ(across->value(), 0);
    EXPECT_EQ(down->value(), 0);
}

// File Save after Save As writes the file Save As wrote, never the one first opened.
TEST_F(UserSessionTest, SaveAfterSaveAsWritesTheNewFile)
{
    const std::string first = writePicture("a.bmp", 60, 40);
    open(first);
    const auto firstBytes = readFileBytes(first);
    prompt.queueSavePath(dir.file("b.png"));
    click(frame->mainToolBar(), cmd::SaveAsLossless);
    click(frame->paintToolBox(), cmd::RectangleTool);
    drag({5, 5}, {20, 15});
    key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(readFileBytes(first), firstBytes);
    EXPECT_EQ(notesIn(dir.file("b.png")), 2u * 15u + 2u * 8u);
    EXPECT_EQ(frame->recentFiles().value(0).toStdString(), dir.file("b.png"));
}

} // namespace
} // namespace ombri::writer
