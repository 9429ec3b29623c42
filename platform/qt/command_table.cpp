#include "platform/qt/command_table.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

namespace ombri {
namespace {

QString iconPath(const char* name)
{
    return QStringLiteral(":/icons/%1.svg").arg(QString::fromUtf8(name));
}

void addGap(QMenu* menu, Gap gap, const std::function<void(QMenu*)>& recentFiles)
{
    if (gap == Gap::None)
        return;
    menu->addSeparator();
    if (gap == Gap::RecentFiles && recentFiles) {
        recentFiles(menu);
        menu->addSeparator();
    }
}

} // namespace

QList<QKeySequence> CommandKeys::bound() const
{
    QList<QKeySequence> keys;
    for (int i = 0; i < m_count; ++i)
        keys << QKeySequence(m_keys[static_cast<std::size_t>(i)]);
    return keys;
}

QString CommandKeys::shownOnlyText() const
{
    return m_shownOnly ? QString::fromUtf8(m_shownOnly) : QString();
}

PromptTexts splitPrompt(const QString& prompt)
{
    const qsizetype newline = prompt.indexOf('\n');
    if (newline < 0)
        return {prompt.trimmed(), QString()};
    return {prompt.left(newline).trimmed(), prompt.mid(newline + 1).trimmed()};
}

CommandTable::CommandTable(QObject* parent) : QObject(parent) {}

CommandTable::~CommandTable()
{
    if (m_watchingInput && qApp)
        qApp->removeEventFilter(this);
}

QAction* CommandTable::add(Command command)
{
    if (command.id == 0) {
        m_addProblems << QStringLiteral("Command \"%1\" has no id").arg(command.text);
        return nullptr;
    }
    if (const Entry* first = find(command.id)) {
        // The first stays: a second row with the same id is a mistake in the table, not a
        // replacement.
        m_addProblems << QStringLiteral("Command %1 (\"%2\") is added again as \"%3\"")
                             .arg(command.id)
                             .arg(first->command.text, command.text);
        return first->action;
    }
    auto* action = new QAction(menuText(command, QString()), this);
    action->setShortcuts(command.keys.bound());
    action->setStatusTip(command.statusTip);
    if (!command.toolTip.isEmpty())
        action->setToolTip(command.toolTip);
    // A missing icon is left for problems() to name, rather than for the icon loader to warn
    // about each time the button is drawn.
    if (command.button.icon && QFile::exists(iconPath(command.button.icon))) {
        action->setIcon(QIcon(iconPath(command.button.icon)));
        if (m_menuIcons == MenuIcons::Hidden)
            action->setIconVisibleInMenu(false);
    }
    action->setCheckable(static_cast<bool>(command.checked));
    // The key arrives at the action as a shortcut event, which the table sees first; a click on
    // the menu item or the button triggers the action without one.
    if (command.keysWork)
        action->installEventFilter(this);
    action->setData(command.id);
    const int id = command.id;
    connect(action, &QAction::triggered, this, [this, id]() { runFromAction(id); });
    m_index[id] = m_entries.size();
    m_entries.push_back(Entry{std::move(command), action});
    return action;
}

void CommandTable::runFromAction(int id)
{
    const Entry* entry = find(id);
    if (!entry)
        return;
    // A checkable action flips its own mark on a click; the rule decides it instead.
    if (entry->command.run)
        entry->command.run();
    updateAll();
}

const CommandTable::Entry* CommandTable::find(int id) const
{
    auto found = m_index.find(id);
    return found == m_index.end() ? nullptr : &m_entries[found->second];
}

QAction* CommandTable::action(int id) const
{
    const Entry* entry = find(id);
    if (!entry) {
        m_unknownIds.insert(id);
        return nullptr;
    }
    return entry->action;
}

const Command* CommandTable::command(int id) const
{
    const Entry* entry = find(id);
    return entry ? &entry->command : nullptr;
}

std::vector<int> CommandTable::ids() const
{
    std::vector<int> ids;
    ids.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        ids.push_back(entry.command.id);
    return ids;
}

bool CommandTable::isEnabled(int id) const
{
    const Entry* entry = find(id);
    if (!entry)
        return false;
    const auto& rule = entry->command.enabled;
    return !rule || rule();
}

bool CommandTable::isChecked(int id) const
{
    const Entry* entry = find(id);
    if (!entry)
        return false;
    const auto& rule = entry->command.checked;
    return rule && rule();
}

bool CommandTable::trigger(int id)
{
    const Entry* entry = find(id);
    if (!entry || !isEnabled(id))
        return false;
    if (entry->command.run)
        entry->command.run();
    updateAll();
    return true;
}

QString CommandTable::menuText(const Command& command, const QString& object)
{
    QString text = command.text;
    if (!object.isEmpty())
        text += ' ' + object;
    const QString shownKey = command.keys.shownOnlyText();
    if (!shownKey.isEmpty())
        text += '\t' + shownKey;
    return text;
}

void CommandTable::updateAll()
{
    m_updateQueued = false;
    for (Entry& entry : m_entries) {
        const Command& command = entry.command;
        entry.action->setEnabled(!command.enabled || command.enabled());
        if (command.checked)
            entry.action->setChecked(command.checked());
        if (command.object) {
            const QString object = command.object();
            entry.action->setText(menuText(command, object));
            // The button says it too: "Undo Rectangle".
            const QString tip = command.toolTip.isEmpty() ? command.text : command.toolTip;
            entry.action->setToolTip(object.isEmpty() ? tip : tip + ' ' + object);
        }
    }
}

void CommandTable::watchMenu(QMenu* menu)
{
    connect(menu, &QMenu::aboutToShow, this, &CommandTable::updateAll);
}

std::vector<QMenu*> CommandTable::fillMenuBar(QMenuBar* bar, const QStringList& titles,
                                              const std::function<void(QMenu*)>& recentFiles)
{
    std::vector<QMenu*> menus;
    for (const QString& title : titles) {
        QMenu* menu = bar->addMenu(title);
        watchMenu(menu);
        menus.push_back(menu);
    }
    m_menuCount = static_cast<int>(titles.size());
    std::map<std::pair<int, QString>, QMenu*> submenus;
    for (const Entry& entry : m_entries) {
        const MenuPlace& place = entry.command.menu;
        if (place.menu < 0 || place.menu >= m_menuCount)
            continue;
        QMenu* menu = menus[static_cast<std::size_t>(place.menu)];
        if (place.submenu) {
            QMenu*& submenu = submenus[{place.menu, QString::fromUtf8(place.submenu)}];
            if (!submenu) {
                addGap(menu, place.gap, recentFiles);
                submenu = menu->addMenu(QString::fromUtf8(place.submenu));
                watchMenu(submenu);
            } else {
                addGap(submenu, place.gap, recentFiles);
            }
            menu = submenu;
        } else {
            addGap(menu, place.gap, recentFiles);
        }
        menu->addAction(entry.action);
    }
    if (!recentFiles) {
        for (const Entry& entry : m_entries) {
            if (entry.command.menu.gap == Gap::RecentFiles)
                m_addProblems << QStringLiteral("Command %1 follows recent files the menu bar "
                                                "has not got")
                                     .arg(entry.command.id);
        }
    }
    return menus;
}

void CommandTable::fillToolBar(QToolBar* toolBar, int bar)
{
    m_filledBars.insert(bar);
    std::vector<const Entry*> buttons;
    for (const Entry& entry : m_entries) {
        if (entry.command.button.bar == bar)
            buttons.push_back(&entry);
    }
    std::stable_sort(buttons.begin(), buttons.end(), [](const Entry* a, const Entry* b) {
        return a->command.button.order < b->command.button.order;
    });
    for (const Entry* entry : buttons) {
        if (entry->command.button.gap != Gap::None && !toolBar->actions().isEmpty())
            toolBar->addSeparator();
        toolBar->addAction(entry->action);
    }
}

void CommandTable::bindKeys(QWidget* window)
{
    for (const Entry& entry : m_entries) {
        if (!entry.action->shortcuts().isEmpty())
            window->addAction(entry.action);
    }
}

QStringList CommandTable::problems() const
{
    QStringList found = m_addProblems;
    for (int id : m_unknownIds)
        found << QStringLiteral("Command %1 is asked for but has no row").arg(id);
    std::map<QKeySequence, int> keyOwners;
    for (const Entry& entry : m_entries) {
        const Command& command = entry.command;
        const QString name =
            QStringLiteral("Command %1 (\"%2\")").arg(command.id).arg(command.text);
        if (command.menu.menu != kNoMenu && m_menuCount >= 0 &&
            (command.menu.menu < 0 || command.menu.menu >= m_menuCount))
            found << name + QStringLiteral(" names menu %1, which the bar has not got")
                                .arg(command.menu.menu);
        const ButtonPlace& button = command.button;
        if (button.bar != kNoToolBar && m_filledBars.count(button.bar) == 0)
            found << name + QStringLiteral(" names toolbar %1, which the window has not got")
                                .arg(button.bar);
        if (button.bar != kNoToolBar && !button.icon)
            found << name + QStringLiteral(" has a toolbar button without an icon");
        if (button.icon && button.bar == kNoToolBar)
            found << name + QStringLiteral(" has an icon but no toolbar button");
        if (button.icon && !QFile::exists(iconPath(button.icon)))
            found << name + QStringLiteral(" names icon %1, which the resources have not got")
                                .arg(iconPath(button.icon));
        for (const QKeySequence& key : command.keys.bound()) {
            const auto [owner, added] = keyOwners.emplace(key, command.id);
            if (!added)
                found << name + QStringLiteral(" is bound to %1, which command %2 has already")
                                    .arg(key.toString(QKeySequence::PortableText))
                                    .arg(owner->second);
        }
    }
    return found;
}

void CommandTable::checkAtStartUp() const
{
#ifndef NDEBUG
    const QStringList found = problems();
    if (found.isEmpty())
        return;
    std::fprintf(stderr, "The command table is inconsistent:\n%s\n",
                 found.join('\n').toLocal8Bit().constData());
    std::abort();
#endif
}

void CommandTable::watchInput()
{
    if (m_watchingInput || !qApp)
        return;
    qApp->installEventFilter(this);
    m_watchingInput = true;
}

bool CommandTable::keyRefused(QObject* watched) const
{
    const auto* action = qobject_cast<const QAction*>(watched);
    if (!action || !action->data().isValid())
        return false;
    const Entry* entry = find(action->data().toInt());
    return entry && entry->action == action && entry->command.keysWork &&
           !entry->command.keysWork();
}

bool CommandTable::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Shortcut:
        if (keyRefused(watched))
            return true;
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::Drop:
        if (!m_updateQueued) {
            m_updateQueued = true;
            QTimer::singleShot(0, this, &CommandTable::updateAll);
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ombri
