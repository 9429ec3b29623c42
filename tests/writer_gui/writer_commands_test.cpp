#include "window_fixture.h"

#include "support/command_checks.h"
#include "support/menu_walk.h"
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

// Redo has always shown Ctrl+Y without a key bound to it; the other keys are bound, some twice.
TEST_F(WriterCommandsTest, MenusShowTheKeysUsersKnow)
{
    EXPECT_EQ(itemTexts(frame->menu("&Edit")),
              QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                           "&Paste\tCtrl+V", "-", "&Clear All"}));
    EXPECT_TRUE(commands().action(cmd::Redo)->shortcuts().isEmpty());
    EXPECT_TRUE(itemTexts(frame->menu("&File")).contains("&Open...\tCtrl+O"));
    EXPECT_TRUE(itemTexts(frame->menu("I&nfo")).contains("Help\tF1"));
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

// Each key reaches the command its row names, and a key only shown reaches nothing.
TEST_F(WriterCommandsTest, KeysRunTheirCommands)
{
    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    commands().action(cmd::LineTool)->trigger();
    drawLine();
    ASSERT_TRUE(view().pendingLayer().has_value());
    key(Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_FALSE(view().pendingLayer().has_value());
    ASSERT_TRUE(view().canRedo());
    key(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_FALSE(view().pendingLayer().has_value());
    commands().action(cmd::Redo)->trigger();
    ASSERT_TRUE(view().pendingLayer().has_value());
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(view().pendingLayer().has_value());

    key(Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(frame->document().hasImage());
}

} // namespace
} // namespace ombri::writer
