#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_commands.h"
#include "reader/ui/reader_window.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/command_checks.h"
#include "support/menu_walk.h"

#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

#include <algorithm>

namespace ombri::reader {
namespace {

using test::expectActionsShowTheirRules;
using test::itemTexts;

TEST_F(ReaderFrameTest, MenusToolBarsAndKeysAreMadeFromTheCommands)
{
    ReaderWindow& frame = start();
    test::expectWindowFollowsItsCommands(
        frame, frame.commands(), readerMenuTitles(),
        {{MainToolBar, frame.mainToolBar()}, {ImageToolsBar, frame.imageTools()}});
}

// The key texts beside the menu items are the ones the reader has always shown: Delete's only
// shown, as the pane with the focus handles that key, the others those of the bound keys.
TEST_F(ReaderFrameTest, MenusShowTheKeysUsersKnow)
{
    ReaderWindow& frame = start();
    const QStringList edit = itemTexts(frame.menu("&Edit"));
    EXPECT_TRUE(edit.contains("&Delete\t     Del"));
    EXPECT_TRUE(edit.contains("Cu&t\tCtrl+X"));
    const QStringList view = itemTexts(frame.menu("&View"));
    for (const char* text : {"&Original Size\t1", "Zoom &In\tNum++", "Zoom &Out\tNum+-",
                             "&Previous Image\tUp", "&Next Image\tDown", "&Thumbnails\tCtrl+T"})
        EXPECT_TRUE(view.contains(text)) << text;
    EXPECT_TRUE(itemTexts(frame.menu("I&nfo")).contains("&Help\tF1"));
}

// Entries without a handler are shown disabled, and the prompts are the program's own texts.
TEST_F(ReaderFrameTest, EntriesWithoutAHandlerStayDisabled)
{
    ReaderWindow& frame = start({file("b.bmp")});
    for (int id :
         {int(cmd::TreeAndListView), int(cmd::TreeView), int(cmd::ListView), int(cmd::Rotate180)}) {
        EXPECT_FALSE(frame.commands().action(id)->isEnabled()) << id;
        EXPECT_FALSE(frame.commands().trigger(id)) << id;
    }
    EXPECT_EQ(frame.commands().action(cmd::ChannelGreen)->toolTip(), "Green Channel");
}

// The items' prompts and tips are spelt right, as the menus show them.
TEST_F(ReaderFrameTest, MenuPromptsAreSpeltRight)
{
    ReaderWindow& frame = start({file("b.bmp")});
    struct Expected {
        const char* menu;
        const char* item;
        const char* statusTip;
        const char* toolTip;
    };
    const Expected texts[] = {
        {"&View", "Zoom &Out", "Zoom Out", "Zoom Out"},
        {"&View", "&Previous Image", "Display the previous image", "Previous Image"},
        {"&Image", "Channel Green", "Display in Green Channel", "Green Channel"},
        {"&Image", "Flip Vertical", "Display in Vertical Flip", "Vertical Flip"},
        {"&Image", "Rotate 90 CW", "Display in Clockwise Rotation", "Clockwise Rotation"},
        {"&Option", "S&mooth Shrinking", "Shrink pictures below 100% by averaging their pixels",
         "Smooth Shrinking"},
    };
    for (const Expected& expected : texts) {
        const QMenu* menu = frame.menu(expected.menu);
        ASSERT_NE(menu, nullptr) << expected.menu;
        const QList<QAction*> actions = menu->actions();
        const auto item = std::find_if(actions.begin(), actions.end(), [&](const QAction* action) {
            return action->text().section(QLatin1Char('\t'), 0, 0) == expected.item;
        });
        ASSERT_NE(item, actions.end()) << expected.item;
        EXPECT_EQ((*item)->statusTip(), expected.statusTip);
        EXPECT_EQ((*item)->toolTip(), expected.toolTip);
    }
}

// Smooth shrinking is on at start; the option turns the unfiltered look back on and off.
TEST_F(ReaderFrameTest, SmoothShrinkingIsAnOptionOnAtStart)
{
    ReaderWindow& frame = start({file("a.bmp")});
    QAction* smooth = frame.commands().action(cmd::SmoothShrinking);
    ASSERT_NE(smooth, nullptr);
    expectActionsShowTheirRules(frame, frame.commands());
    EXPECT_TRUE(smooth->isCheckable());
    EXPECT_TRUE(smooth->isChecked());
    EXPECT_TRUE(frame.view().smoothShrinking());
    smooth->trigger();
    expectActionsShowTheirRules(frame, frame.commands());
    EXPECT_FALSE(smooth->isChecked());
    EXPECT_FALSE(frame.view().smoothShrinking());
    smooth->trigger();
    EXPECT_TRUE(frame.view().smoothShrinking());
}

// The menu items and the buttons follow the picture on show, the pane with the focus and the
// commands given, whichever way the user gave them.
TEST_F(ReaderFrameTest, MenuItemsAndButtonsFollowTheDocument)
{
    ReaderWindow& frame = start();
    CommandTable& commands = frame.commands();
    expectActionsShowTheirRules(frame, commands);
    EXPECT_FALSE(commands.action(cmd::FitIn)->isEnabled());
    EXPECT_FALSE(commands.action(cmd::InvertColour)->isEnabled());

    ASSERT_TRUE(frame.openFile(file("a.bmp")));
    expectActionsShowTheirRules(frame, commands);
    EXPECT_TRUE(commands.action(cmd::FitIn)->isEnabled());
    EXPECT_TRUE(commands.action(cmd::InvertColour)->isEnabled());

    // A button on the Image Tools bar and an item of the View menu.
    QWidget* invert = frame.imageTools()->widgetForAction(commands.action(cmd::InvertColour));
    ASSERT_NE(invert, nullptr);
    QTest::mouseClick(invert, Qt::LeftButton);
    expectActionsShowTheirRules(frame, commands);
    EXPECT_TRUE(commands.action(cmd::InvertColour)->isChecked());
    commands.action(cmd::FitWidth)->trigger();
    expectActionsShowTheirRules(frame, commands);
    EXPECT_TRUE(commands.action(cmd::FitWidth)->isChecked());

    // Keys: a step to the next picture, then the list's own rule for the zoom commands.
    frame.tree().setFocus();
    QTest::keyClick(&frame.tree(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("b.bmp"));
    expectActionsShowTheirRules(frame, commands);
    frame.list().setFocus();
    QTest::keyClick(&frame.list(), Qt::Key_Plus, Qt::KeypadModifier);
    expectActionsShowTheirRules(frame, commands);
    EXPECT_TRUE(commands.action(cmd::ZoomIn)->isEnabled());
}

// Each key reaches the command its row names.
TEST_F(ReaderFrameTest, KeysRunTheirCommands)
{
    ReaderWindow& frame = start({file("a.bmp")});
    ImageView& view = frame.view();
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FALSE(frame.commands().isChecked(cmd::OriginalSize));
    QTest::keyClick(&view, Qt::Key_1);
    EXPECT_TRUE(frame.commands().isChecked(cmd::OriginalSize));

    const bool thumbnails = frame.list().thumbnailMode();
    QTest::keyClick(&view, Qt::Key_T, Qt::ControlModifier);
    EXPECT_NE(frame.list().thumbnailMode(), thumbnails);
    QTest::keyClick(&view, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(frame.list().thumbnailMode(), thumbnails);

    QTest::keyClick(&view, Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(frame.document().hasImage());
}

} // namespace
} // namespace ombri::reader
