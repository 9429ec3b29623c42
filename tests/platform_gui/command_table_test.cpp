#include "platform/qt/command_table.h"

#include <QMenu>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace ombri {
namespace {

TEST(CommandTableTest, RulesDecideEnablingAndChecksAfterEveryCommand)
{
    CommandTable table;
    bool loaded = false;
    bool notesShown = true;
    int runs = 0;
    table.add(Command{1,
                      "&Display Notes",
                      {},
                      "Display the notes",
                      "Display Notes",
                      [&] {
                          ++runs;
                          notesShown = !notesShown;
                      },
                      [&] { return loaded; },
                      [&] { return notesShown; }});
    table.add(Command{2, "&Load", {}, {}, {}, [&] { loaded = true; }, {}, {}});
    table.updateAll();
    QAction* display = table.action(1);
    EXPECT_FALSE(display->isEnabled());
    EXPECT_TRUE(display->isChecked());
    EXPECT_EQ(display->statusTip(), "Display the notes");

    EXPECT_FALSE(table.trigger(1)); // disabled: nothing runs
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(table.trigger(2));
    EXPECT_TRUE(display->isEnabled());

    display->trigger(); // as a menu click does: the rule, not the click, sets the check
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(display->isChecked());
    EXPECT_FALSE(table.action(2)->isCheckable());
}

TEST(CommandTableTest, MenusAndInputRefreshTheState)
{
    CommandTable table;
    bool enabled = false;
    table.add(Command{7, "Item", {}, {}, {}, [] {}, [&] { return enabled; }, {}});
    table.updateAll();
    QMenu menu;
    menu.addAction(table.action(7));
    table.watchMenu(&menu);
    enabled = true;
    emit menu.aboutToShow();
    EXPECT_TRUE(table.action(7)->isEnabled());

    table.watchInput();
    QWidget widget;
    widget.show();
    enabled = false;
    QTest::keyClick(&widget, Qt::Key_A);
    QTest::qWait(1);
    EXPECT_FALSE(table.action(7)->isEnabled());
}

} // namespace
} // namespace ombri
