#include "platform/qt/command_table.h"

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QWidget>
#include <gtest/gtest.h>

namespace ombri {
namespace {

Command makeCommand(
    int id, const char* text, std::function<void()> run = [] {})
{
    Command command;
    command.id = id;
    command.text = QString::fromUtf8(text);
    command.run = std::move(run);
    return command;
}

std::vector<int> idsOf(const QList<QAction*>& actions)
{
    std::vector<int> ids;
    for (const QAction* action : actions)
        ids.push_back(action->isSeparator() ? 0 : action->data().toInt());
    return ids;
}

TEST(CommandTableTest, RulesDecideEnablingAndChecksAfterEveryCommand)
{
    CommandTable table;
    bool loaded = false;
    bool notesShown = true;
    int runs = 0;
    Command display = makeCommand(1, "&Display Notes", [&] {
        ++runs;
        notesShown = !notesShown;
    });
    display.statusTip = "Display the notes";
    display.enabled = [&] { return loaded; };
    display.checked = [&] { return notesShown; };
    table.add(std::move(display));
    table.add(makeCommand(2, "&Load", [&] { loaded = true; }));
    table.updateAll();
    QAction* action = table.action(1);
    EXPECT_FALSE(action->isEnabled());
    EXPECT_TRUE(action->isChecked());
    EXPECT_EQ(action->statusTip(), "Display the notes");

    EXPECT_FALSE(table.trigger(1)); // disabled: nothing runs
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(table.trigger(2));
    EXPECT_TRUE(action->isEnabled());

    action->trigger(); // as a menu click does: the rule, not the click, sets the check
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(action->isChecked());
    EXPECT_FALSE(table.action(2)->isCheckable());
}

TEST(CommandTableTest, MenusAndInputRefreshTheState)
{
    CommandTable table;
    bool enabled = false;
    Command item = makeCommand(7, "Item");
    item.enabled = [&] { return enabled; };
    table.add(std::move(item));
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

// The menus and the toolbars are made from the commands: menu items in the order the commands
// were added, buttons in the order of their places, separators and the recent files where a
// command asks for them.
TEST(CommandTableTest, MenusAndToolBarsAreMadeFromTheCommands)
{
    CommandTable table;
    const auto add = [&table](int id, MenuPlace menu, ButtonPlace button = {}) {
        Command command = makeCommand(id, "Item");
        command.menu = menu;
        command.button = button;
        table.add(std::move(command));
    };
    add(1, {0}, {0, 20, "one"});
    add(2, {1, Gap::RecentFiles});
    add(3, {0, Gap::Separator}, {0, 10, "three"});
    add(4, {}, {0, 30, "four", Gap::Separator});
    add(5, {0});

    QMainWindow window;
    const std::vector<QMenu*> menus =
        table.fillMenuBar(window.menuBar(), {"&One", "&Two"}, [](QMenu* menu) {
            menu->addAction(QStringLiteral("Recent"))->setData(99);
        });
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[0]->title(), "&One");
    EXPECT_EQ(idsOf(menus[0]->actions()), (std::vector<int>{1, 0, 3, 5}));
    EXPECT_EQ(idsOf(menus[1]->actions()), (std::vector<int>{0, 99, 0, 2}));

    QToolBar bar;
    table.fillToolBar(&bar, 0);
    EXPECT_EQ(idsOf(bar.actions()), (std::vector<int>{3, 1, 0, 4}));
}

// Commands that name a submenu go into one submenu of that title, made where the first of them
// comes, with the first one's gap before it in the menu and the others' gaps inside it.
TEST(CommandTableTest, CommandsOfASubmenuShareIt)
{
    CommandTable table;
    const auto add = [&table](int id, MenuPlace menu) {
        Command command = makeCommand(id, "Item");
        command.menu = menu;
        table.add(std::move(command));
    };
    add(1, {0});
    add(2, {0, Gap::Separator, "&Sub"});
    add(3, {0, Gap::None, "&Sub"});
    add(4, {0});
    add(5, {0, Gap::Separator, "&Sub"});
    add(6, {1, Gap::None, "&Sub"});

    QMainWindow window;
    const std::vector<QMenu*> menus = table.fillMenuBar(window.menuBar(), {"&One", "&Two"});
    const QList<QAction*> items = menus[0]->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(idsOf({items[0], items[1], items[3]}), (std::vector<int>{1, 0, 4}));
    ASSERT_TRUE(items[2]->menu());
    EXPECT_EQ(items[2]->text(), "&Sub");
    EXPECT_EQ(idsOf(items[2]->menu()->actions()), (std::vector<int>{2, 3, 0, 5}));
    const QList<QAction*> other = menus[1]->actions();
    ASSERT_EQ(other.size(), 1);
    ASSERT_TRUE(other[0]->menu());
    EXPECT_EQ(idsOf(other[0]->menu()->actions()), (std::vector<int>{6}));
}

// A key is bound only when the command names it; a key the menu only shows follows the tab and
// binds nothing, however the text looks.
TEST(CommandTableTest, KeysComeFromTheCommandOnly)
{
    CommandTable table;
    int runs = 0;
    Command bound = makeCommand(1, "&Bound", [&runs] { ++runs; });
    bound.keys = {Qt::CTRL | Qt::SHIFT | Qt::Key_B, Qt::Key_F7};
    table.add(std::move(bound));
    Command shown = makeCommand(2, "&Delete");
    shown.keys = CommandKeys::shownOnly("     Del");
    table.add(std::move(shown));
    table.add(makeCommand(3, "&Tabbed\tCtrl+Q"));

    EXPECT_EQ(table.action(1)->text(), "&Bound");
    EXPECT_EQ(table.action(1)->shortcuts(),
              (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B),
                                   QKeySequence(Qt::Key_F7)}));
    EXPECT_EQ(table.action(2)->text(), "&Delete\t     Del");
    EXPECT_TRUE(table.action(2)->shortcuts().isEmpty());
    EXPECT_TRUE(table.action(3)->shortcuts().isEmpty());

    // With the menu bar hidden, as in full screen, the window itself carries the keys.
    QMainWindow window;
    table.fillMenuBar(window.menuBar(), {"&Menu"});
    table.bindKeys(&window);
    EXPECT_EQ(window.actions(), QList<QAction*>{table.action(1)});
    window.menuBar()->hide();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_F7);
    EXPECT_EQ(runs, 2);
}

// A command whose keys work only at times: its key does nothing while the rule says no, and its
// menu item runs it all the same.
TEST(CommandTableTest, KeysOfACommandCanWaitForTheirRule)
{
    CommandTable table;
    int runs = 0;
    bool keysWork = false;
    Command zoom = makeCommand(1, "Zoom &In", [&runs] { ++runs; });
    zoom.keys = {Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal};
    zoom.keysWork = [&keysWork] { return keysWork; };
    table.add(std::move(zoom));
    QMainWindow window;
    table.fillMenuBar(window.menuBar(), {"&View"});
    table.bindKeys(&window);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(&window, Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(runs, 0);
    table.action(1)->trigger(); // the menu item
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(table.trigger(1));
    EXPECT_EQ(runs, 2);

    keysWork = true;
    QTest::keyClick(&window, Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(runs, 4);
}

bool mentions(const QStringList& problems, const QString& part)
{
    return problems.filter(part).size() == 1;
}

// Each mistake a program's table can hold is named, so that a start in a build with assertions
// and the programs' tests fail on it instead of a menu item or a key quietly going missing.
TEST(CommandTableTest, ProblemsNameEachMistakeOfATable)
{
    CommandTable table;
    EXPECT_TRUE(table.problems().isEmpty());

    table.add(makeCommand(10, "First"));
    EXPECT_EQ(table.add(makeCommand(10, "Second")), table.action(10));
    EXPECT_EQ(table.action(10)->text(), "First"); // the first stays
    table.add(makeCommand(0, "Nameless"));
    Command farMenu = makeCommand(11, "Far");
    farMenu.menu = {5};
    table.add(std::move(farMenu));
    Command afterRecent = makeCommand(12, "After");
    afterRecent.menu = {0, Gap::RecentFiles};
    table.add(std::move(afterRecent));
    Command unfilled = makeCommand(13, "Unfilled");
    unfilled.button = {3, 10, "print"};
    table.add(std::move(unfilled));
    Command bare = makeCommand(14, "Bare");
    bare.button = {0, 10, nullptr};
    table.add(std::move(bare));
    Command iconOnly = makeCommand(15, "Icon only");
    iconOnly.button = {kNoToolBar, 0, "print"};
    table.add(std::move(iconOnly));
    Command missingIcon = makeCommand(16, "Missing icon");
    missingIcon.button = {0, 20, "no-such-icon"};
    table.add(std::move(missingIcon));
    for (int id : {17, 18}) {
        Command keyed = makeCommand(id, "Keyed");
        keyed.keys = {Qt::CTRL | Qt::Key_K};
        table.add(std::move(keyed));
    }
    EXPECT_EQ(table.action(999), nullptr);

    QMainWindow window;
    table.fillMenuBar(window.menuBar(), {"&Only", "&Two"});
    QToolBar bar;
    table.fillToolBar(&bar, 0);

    const QStringList problems = table.problems();
    EXPECT_TRUE(mentions(problems, "Command 10 (\"First\") is added again as \"Second\""));
    EXPECT_TRUE(mentions(problems, "\"Nameless\" has no id"));
    EXPECT_TRUE(mentions(problems, "Command 11 (\"Far\") names menu 5"));
    EXPECT_TRUE(mentions(problems, "Command 12 follows recent files"));
    EXPECT_TRUE(mentions(problems, "Command 13 (\"Unfilled\") names toolbar 3"));
    EXPECT_TRUE(mentions(problems, "Command 14 (\"Bare\") has a toolbar button without an icon"));
    EXPECT_TRUE(mentions(problems, "Command 15 (\"Icon only\") has an icon but no toolbar"));
    EXPECT_TRUE(mentions(problems, "Command 16 (\"Missing icon\") names icon"));
    EXPECT_TRUE(mentions(problems, "Command 18 (\"Keyed\") is bound to Ctrl+K, which command 17"));
    EXPECT_TRUE(mentions(problems, "Command 999 is asked for"));
    // The print icon is missing here as well: this test program has no icons.
    EXPECT_EQ(problems.size(), 12) << problems.join('\n').toStdString();
}

#ifndef NDEBUG
TEST(CommandTableDeathTest, ABrokenTableEndsTheStartInBuildsWithAssertions)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CommandTable table;
    table.add(makeCommand(10, "First"));
    table.add(makeCommand(10, "Second"));
    EXPECT_DEATH(table.checkAtStartUp(), "is added again");
}
#endif

} // namespace
} // namespace ombri
