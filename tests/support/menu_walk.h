#pragma once

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QStringList>
#include <QToolBar>

#include <vector>

namespace ombri::test {

// What a menu shows, item by item: the text with its key after a tab, "-" for a separator.
inline QStringList itemTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            texts << QStringLiteral("-");
            continue;
        }
        if (!action->isVisible())
            continue;
        QString text = action->text();
        if (!action->shortcut().isEmpty())
            text += '\t' + action->shortcut().toString(QKeySequence::PortableText);
        texts << text;
    }
    return texts;
}

// The command ids of a menu's or toolbar's items: 0 for a separator, -1 for an item without an
// id (a widget, a placeholder).
inline std::vector<int> itemIds(const QList<QAction*>& actions)
{
    std::vector<int> ids;
    for (const QAction* action : actions) {
        if (action->isSeparator())
            ids.push_back(0);
        else if (action->isVisible())
            ids.push_back(action->data().isValid() ? action->data().toInt() : -1);
    }
    return ids;
}
inline std::vector<int> itemIds(const QMenu* menu)
{
    return itemIds(menu->actions());
}
inline std::vector<int> toolbarIds(const QToolBar* bar)
{
    return itemIds(bar->actions());
}

} // namespace ombri::test
