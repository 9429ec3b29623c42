#pragma once

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QStringList>

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

} // namespace ombri::test
