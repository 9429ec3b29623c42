#pragma once

#include "platform/qt/command_table.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace ombri::test {

// A toolbar of a window by the number the program's commands name it with.
using NumberedToolBar = std::pair<int, const QToolBar*>;

inline std::string describe(const CommandTable& table, int id)
{
    const Command* command = table.command(id);
    return std::to_string(id) + " \"" + (command ? command->text.toStdString() : "?") + "\"";
}

// The window's menu bar holds the program's menus, and each item of a menu is the action of the
// command it is for, so that choosing it runs that command's rule; every command that names a
// menu is in it once, in the order of the table.
inline void expectMenusFollowTheCommands(const QMainWindow& window, const CommandTable& table,
                                         const QStringList& titles)
{
    const QList<QAction*> bar = window.menuBar()->actions();
    ASSERT_EQ(bar.size(), titles.size());
    for (qsizetype menuIndex = 0; menuIndex < bar.size(); ++menuIndex) {
        const QMenu* menu = bar[menuIndex]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(bar[menuIndex]->text(), titles[menuIndex]);
        std::vector<int> shown;
        // The items of a submenu are in their menu's place, under the title their rows give.
        QList<QAction*> items;
        for (QAction* item : menu->actions()) {
            if (!item->menu()) {
                items << item;
                continue;
            }
            for (QAction* inner : item->menu()->actions()) {
                const Command* command =
                    inner->data().isValid() ? table.command(inner->data().toInt()) : nullptr;
                if (command) {
                    EXPECT_EQ(item->text(), QString::fromUtf8(command->menu.submenu))
                        << describe(table, command->id);
                }
                items << inner;
            }
        }
        for (const QAction* item : items) {
            if (item->isSeparator() || !item->data().isValid())
                continue;
            const int id = item->data().toInt();
            EXPECT_EQ(item, table.action(id)) << "menu item " << item->text().toStdString();
            const Command* command = table.command(id);
            if (!command)
                continue;
            if (command->menu.menu == menuIndex) {
                shown.push_back(id);
            } else {
                // Only the recent files, which no row names, are in a menu of no command's own.
                EXPECT_EQ(command->menu.menu, kNoMenu) << describe(table, id);
            }
        }
        std::vector<int> named;
        for (int id : table.ids()) {
            if (table.command(id)->menu.menu == menuIndex)
                named.push_back(id);
        }
        EXPECT_EQ(shown, named) << titles[menuIndex].toStdString();
    }
}

// Keys come from the commands alone: each action is bound to exactly its command's keys, the
// window carries every bound action so that the keys work while the menu bar is hidden, and a
// key the menu only shows is shown after the tab and bound to nothing.
inline void expectKeysFollowTheCommands(const QMainWindow& window, const CommandTable& table)
{
    const QList<QAction*> carried = window.actions();
    for (int id : table.ids()) {
        const Command& command = *table.command(id);
        const QAction* action = table.action(id);
        EXPECT_EQ(action->shortcuts(), command.keys.bound()) << describe(table, id);
        if (!command.keys.bound().isEmpty()) {
            EXPECT_TRUE(carried.contains(action)) << describe(table, id);
        }
        const QString shownOnly = command.keys.shownOnlyText();
        if (shownOnly.isEmpty()) {
            EXPECT_FALSE(action->text().contains('\t')) << describe(table, id);
        } else {
            EXPECT_TRUE(action->text().endsWith('\t' + shownOnly)) << describe(table, id);
        }
    }
}

// Each command with a button has one, with its icon, on the toolbar it names, in the order of
// the buttons' places; the bars hold no other command.
inline void expectToolBarsFollowTheCommands(const CommandTable& table,
                                            const std::vector<NumberedToolBar>& bars)
{
    for (const auto& [number, bar] : bars) {
        std::vector<int> named;
        for (int id : table.ids()) {
            if (table.command(id)->button.bar == number)
                named.push_back(id);
        }
        std::stable_sort(named.begin(), named.end(), [&table](int a, int b) {
            return table.command(a)->button.order < table.command(b)->button.order;
        });
        std::vector<int> shown;
        for (QAction* action : bar->actions()) {
            if (action->isSeparator() || !action->data().isValid())
                continue;
            const int id = action->data().toInt();
            shown.push_back(id);
            EXPECT_EQ(action, table.action(id));
            EXPECT_FALSE(action->icon().isNull()) << describe(table, id);
            EXPECT_NE(bar->widgetForAction(action), nullptr) << describe(table, id);
        }
        EXPECT_EQ(shown, named) << bar->objectName().toStdString();
    }
}

// The whole check of a window made from its program's commands.
inline void expectWindowFollowsItsCommands(const QMainWindow& window, const CommandTable& table,
                                           const QStringList& titles,
                                           const std::vector<NumberedToolBar>& bars)
{
    EXPECT_EQ(table.problems(), QStringList());
    expectMenusFollowTheCommands(window, table, titles);
    expectKeysFollowTheCommands(window, table);
    expectToolBarsFollowTheCommands(table, bars);
}

inline void expectActionShowsItsRules(const CommandTable& table, int id)
{
    const QAction* action = table.action(id);
    EXPECT_EQ(action->isEnabled(), table.isEnabled(id)) << describe(table, id);
    EXPECT_EQ(action->isCheckable(), static_cast<bool>(table.command(id)->checked))
        << describe(table, id);
    EXPECT_EQ(action->isChecked(), table.isChecked(id)) << describe(table, id);
}

// After what the user did, once the event loop has turned, every action shows what its
// command's rules say now: buttons and keys at once (a key works only while its action is
// enabled), menu items when their menu opens. No step may leave either stale.
inline void expectActionsShowTheirRules(const QMainWindow& window, const CommandTable& table)
{
    QCoreApplication::processEvents();
    std::vector<QMenu*> menus;
    std::set<int> inMenus;
    for (QAction* title : window.menuBar()->actions()) {
        menus.push_back(title->menu());
        for (const QAction* item : title->menu()->actions()) {
            if (!item->isSeparator() && item->data().isValid())
                inMenus.insert(item->data().toInt());
        }
    }
    for (int id : table.ids()) {
        const Command& command = *table.command(id);
        if (inMenus.count(id) == 0 || command.button.bar != kNoToolBar ||
            !command.keys.bound().isEmpty())
            expectActionShowsItsRules(table, id);
    }
    for (QMenu* menu : menus) {
        emit menu->aboutToShow();
        for (const QAction* item : menu->actions()) {
            if (!item->isSeparator() && item->data().isValid())
                expectActionShowsItsRules(table, item->data().toInt());
        }
    }
}

} // namespace ombri::test
