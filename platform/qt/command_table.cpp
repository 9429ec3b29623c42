#include "platform/qt/command_table.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QTimer>

namespace ombri {

PromptTexts splitPrompt(const QString& prompt)
{
    const qsizetype newline = prompt.indexOf('\n');
    if (newline < 0)
        return {prompt.trimmed(), QString()};
    return {prompt.left(newline).trimmed(), prompt.mid(newline + 1).trimmed()};
}

Command makeMenuCommand(int id, const QString& menuText, const QString& prompt, MenuKey key)
{
    Command command;
    command.id = id;
    const qsizetype tab = menuText.indexOf('\t');
    command.text = tab < 0 || key == MenuKey::ShowOnly ? menuText : menuText.left(tab);
    if (tab >= 0 && key == MenuKey::Bind)
        command.key = QKeySequence(menuText.mid(tab + 1).trimmed());
    const PromptTexts texts = splitPrompt(prompt);
    command.statusTip = texts.status;
    command.toolTip = texts.toolTip;
    return command;
}

CommandTable::CommandTable(QObject* parent) : QObject(parent) {}

CommandTable::~CommandTable()
{
    if (m_watchingInput && qApp)
        qApp->removeEventFilter(this);
}

QAction* CommandTable::add(Command command)
{
    auto* action = new QAction(command.text, this);
    if (!command.key.isEmpty())
        action->setShortcut(command.key);
    action->setStatusTip(command.statusTip);
    if (!command.toolTip.isEmpty())
        action->setToolTip(command.toolTip);
    action->setCheckable(static_cast<bool>(command.checked));
    action->setData(command.id);
    const int id = command.id;
    connect(action, &QAction::triggered, this, [this, id]() {
        auto found = m_commands.find(id);
        if (found == m_commands.end())
            return;
        // A checkable action flips its own mark on a click; the rule decides it instead.
        if (found->second.command.run)
            found->second.command.run();
        updateAll();
    });
    m_commands[id] = Entry{std::move(command), action};
    return action;
}

QAction* CommandTable::action(int id) const
{
    auto found = m_commands.find(id);
    return found == m_commands.end() ? nullptr : found->second.action;
}

bool CommandTable::isEnabled(int id) const
{
    auto found = m_commands.find(id);
    if (found == m_commands.end())
        return false;
    const auto& rule = found->second.command.enabled;
    return !rule || rule();
}

bool CommandTable::isChecked(int id) const
{
    auto found = m_commands.find(id);
    if (found == m_commands.end())
        return false;
    const auto& rule = found->second.command.checked;
    return rule && rule();
}

bool CommandTable::trigger(int id)
{
    auto found = m_commands.find(id);
    if (found == m_commands.end() || !isEnabled(id))
        return false;
    if (found->second.command.run)
        found->second.command.run();
    updateAll();
    return true;
}

void CommandTable::updateAll()
{
    m_updateQueued = false;
    for (auto& [id, entry] : m_commands) {
        (void)id;
        const Command& command = entry.command;
        entry.action->setEnabled(!command.enabled || command.enabled());
        if (command.checked)
            entry.action->setChecked(command.checked());
    }
}

void CommandTable::watchMenu(QMenu* menu)
{
    connect(menu, &QMenu::aboutToShow, this, &CommandTable::updateAll);
}

void CommandTable::fillMenu(QMenu* menu, std::initializer_list<int> ids)
{
    watchMenu(menu);
    for (int id : ids) {
        if (id == kSeparator)
            menu->addSeparator();
        else if (QAction* found = action(id))
            menu->addAction(found);
    }
}

void CommandTable::watchInput()
{
    if (m_watchingInput || !qApp)
        return;
    qApp->installEventFilter(this);
    m_watchingInput = true;
}

bool CommandTable::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
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
