#include "window_fixture.h"

#include "support/command_checks.h"
#include "support/menu_walk.h"
#include "support/view_events.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_commands.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

namespace ombri::writer {
namespace {

using test::expectActionsShowTheirRules;
using test::itemTexts;

// The window as the user has it: active, the canvas holding the focus, drawn on with the mouse.
class WriterCommandsTest : public WindowFixture {
  protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        view().setFocus();
    }
    void drawLine()
    {
        QWidget* canvas = view().viewport();
        QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        QMouseEvent move(QEvent::MouseMove, QPointF(30, 20), canvas->mapToGlobal(QPointF(30, 20)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(canvas, &move);
        QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
        QApplication::processEvents();
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers)
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        QApplication::processEvents();
    }
};

TEST_F(WriterCommandsTest, MenusToolBarsAndKeysAreMadeFromTheCommands)
{
    test::expectWindowFollowsItsCommands(
        *frame, commands(), writerMenuTitles(),
        {{MainToolBar, frame->mainToolBar()}, {PaintToolBox, frame->paintToolBox()}});
    // The eraser-size box ends the main toolbar, after the buttons.
    const QList<QAction*> buttons = frame->mainToolBar()->actions();
    ASSERT_GE(buttons.size(), 2);
    EXPECT_EQ(frame->mainToolBar()->widgetForAction(buttons.back()), frame->eraserSizeBox());
    EXPECT_TRUE(buttons[buttons.size() - 2]->isSeparator());
    // The menus show check marks and keys, as they always have; pictures are for the toolbars.
    EXPECT_FALSE(commands().action(cmd::FileOpen)->isIconVisibleInMenu());
}

// Each key is shown beside its menu item; the keys bound twice show the first.
TEST_F(WriterCommandsTest, MenusShowTheKeysUsersKnow)
{
    EXPECT_EQ(itemTexts(frame->menu("&Edit")),
              QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                           "&Paste\tCtrl+V", "-", "&Clear All"}));
    EXPECT_EQ(commands().action(cmd::Redo)->shortcuts(),
              QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::Key_Y),
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}));
    const QStringList file = itemTexts(frame->menu("&File"));
    EXPECT_TRUE(file.contains("&Open...\tCtrl+O"));
    EXPECT_TRUE(file.contains("&Close\tCtrl+W"));
    EXPECT_TRUE(file.contains("E&xit\tCtrl+Q"));
    EXPECT_EQ(itemTexts(frame->menu("&View")),
              QStringList({"&Display Notes", "-", "&Original Size\tCtrl+0", "Zoom &Out\tCtrl+-",
                           "Zoom &In\tCtrl++", "&Fit In"}));
    EXPECT_EQ(commands().action(cmd::ZoomIn)->shortcuts().value(1),
              QKeySequence(Qt::CTRL | Qt::Key_Equal));
    EXPECT_TRUE(itemTexts(frame->menu("I&nfo")).contains("Help\tF1"));
}

// The texts the writer once showed misspelt, as they read now.
TEST_F(WriterCommandsTest, TextsAreSpeltRight)
{
    EXPECT_TRUE(itemTexts(frame->menu("&Color")).contains("B&ackground"));
    EXPECT_EQ(commands().action(cmd::ZoomIn)->toolTip(), "Zoom In");
    EXPECT_EQ(commands().action(cmd::ZoomOut)->toolTip(), "Zoom Out");
    EXPECT_EQ(commands().action(cmd::FreehandPen)->statusTip(), "Choose freehand drawing tool");
}

// The menu items and the buttons follow the picture, the tool and the drawing, whichever way
// the user gave the command.
TEST_F(WriterCommandsTest, MenuItemsAndButtonsFollowTheDocument)
{
    expectActionsShowTheirRules(*frame, commands());
    EXPECT_FALSE(commands().action(cmd::FileSave)->isEnabled());
    EXPECT_FALSE(frame->eraserSizeBox()->isEnabled());

    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    expectActionsShowTheirRules(*frame, commands());
    EXPECT_TRUE(commands().action(cmd::FileSave)->isEnabled());

    QWidget* eraser = frame->paintToolBox()->widgetForAction(commands().action(cmd::Erasure));
    ASSERT_NE(eraser, nullptr);
    QTest::mouseClick(eraser, Qt::LeftButton);
    expectActionsShowTheirRules(*frame, commands());
    EXPECT_TRUE(commands().action(cmd::Erasure)->isChecked());
    EXPECT_TRUE(frame->eraserSizeBox()->isEnabled());

    commands().action(cmd::Blue)->trigger();
    expectActionsShowTheirRules(*frame, commands());
    EXPECT_TRUE(commands().action(cmd::Blue)->isChecked());

    QWidget* line = frame->paintToolBox()->widgetForAction(commands().action(cmd::LineTool));
    QTest::mouseClick(line, Qt::LeftButton);
    drawLine();
    expectActionsShowTheirRules(*frame, commands());
    EXPECT_TRUE(commands().action(cmd::Undo)->isEnabled());
}

// Each key reaches the command its row names.
TEST_F(WriterCommandsTest, KeysRunTheirCommands)
{
    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    commands().action(cmd::LineTool)->trigger();
    drawLine();
    ASSERT_TRUE((*view().inspect().pending).has_value());
    key(Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_FALSE((*view().inspect().pending).has_value());
    ASSERT_TRUE(view().canRedo());
    key(Qt::Key_Y, Qt::ControlModifier);
    ASSERT_TRUE((*view().inspect().pending).has_value());
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE((*view().inspect().pending).has_value());
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE((*view().inspect().pending).has_value());

    // Close asks about the drawing first; Cancel keeps the picture, No lets it go.
    prompt.queueAnswer(Answer::Cancel);
    key(Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(frame->document().hasImage());
    EXPECT_EQ(prompt.messages().size(), 1u);
    prompt.queueAnswer(Answer::No);
    key(Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(frame->document().hasImage());

    ASSERT_TRUE(frame->openFile(writePicture("other.bmp")));
    key(Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(frame->document().hasImage());
}

// Ctrl+Q leaves as Exit does: after the question about unsaved work, and not when it is
// cancelled.
TEST_F(WriterCommandsTest, CtrlQExits)
{
    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    commands().action(cmd::LineTool)->trigger();
    drawLine();
    prompt.queueAnswer(Answer::Cancel);
    key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(prompt.messages().size(), 1u);
    prompt.queueAnswer(Answer::No);
    key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(frame->isVisible());
}

// The zoom keys and Ctrl+wheel zoom as the View menu does while no tool is active, and do
// nothing at all while one is: the drawing in hand stays, and so does the zoom. The menu items
// still zoom then, putting the drawing down as they always have.
TEST_F(WriterCommandsTest, ZoomKeysAndCtrlWheelZoomOnlyWithoutATool)
{
    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    const auto zoom = [this] { return view().inspect().zoom; };
    key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(zoom(), 1.25f);
    key(Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(zoom(), 1.5f);
    key(Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(zoom(), 1.125f);
    key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(zoom(), 1.0f);
    EXPECT_TRUE(test::turnWheel(view(), 120, Qt::ControlModifier));
    EXPECT_FLOAT_EQ(zoom(), 1.25f);
    EXPECT_TRUE(test::turnWheel(view(), -120, Qt::ControlModifier));
    EXPECT_FLOAT_EQ(zoom(), 0.9375f);
    // A wheel that turns in small steps zooms once a notch has added up.
    test::turnWheel(view(), 60, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(zoom(), 0.9375f);
    test::turnWheel(view(), 60, Qt::ControlModifier);
    EXPECT_FLOAT_EQ(zoom(), 1.1875f);
    test::turnWheel(view(), 120);
    EXPECT_FLOAT_EQ(zoom(), 1.1875f);
    key(Qt::Key_0, Qt::ControlModifier);

    commands().action(cmd::LineTool)->trigger();
    drawLine();
    const std::vector<uint8_t> drawing = (*view().inspect().pending).value();
    for (const Qt::Key zoomKey : {Qt::Key_Plus, Qt::Key_Equal, Qt::Key_Minus, Qt::Key_0}) {
        key(zoomKey, Qt::ControlModifier);
        EXPECT_FLOAT_EQ(zoom(), 1.0f) << zoomKey;
    }
    for (const int delta : {120, -120, -240}) {
        test::turnWheel(view(), delta, Qt::ControlModifier);
        EXPECT_FLOAT_EQ(zoom(), 1.0f) << delta;
    }
    EXPECT_EQ(view().activeTool(), Tool::Line);
    EXPECT_EQ((*view().inspect().pending), drawing);
    EXPECT_TRUE(commands().isEnabled(cmd::ZoomIn));

    commands().action(cmd::ZoomIn)->trigger();
    EXPECT_FLOAT_EQ(zoom(), 1.25f);
    EXPECT_EQ(view().activeTool(), Tool::None);
}

} // namespace
} // namespace ombri::writer
