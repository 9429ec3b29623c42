#include "platform/qt/recent_files_menu.h"

#include "core/printable_name.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSettings>
#include <QWidget>

namespace ombri {
namespace {

constexpr const char* kRecentFilesKey = "recentFiles";

} // namespace

RecentFilesMenu::RecentFilesMenu(RecentFileList& list, CommandTable& commands, int firstCommandId,
                                 const QString& applicationName, std::function<void(int)> open,
                                 QWidget* parent)
    : QObject(parent), m_list(list), m_applicationName(applicationName), m_parent(parent)
{
    for (int i = 0; i < static_cast<int>(list.capacity()); ++i) {
        Command recent;
        recent.id = firstCommandId + i;
        recent.statusTip = tr("Open this image");
        recent.run = [open, i] { open(i); };
        recent.enabled = [this, i] { return i < static_cast<int>(m_list.entries().size()); };
        m_actions.push_back(commands.add(std::move(recent)));
    }
}

void RecentFilesMenu::addTo(QMenu* menu)
{
    // Without recent files the list shows one greyed item, as the menu always has.
    m_placeholder = menu->addAction(tr("Recent File"));
    m_placeholder->setStatusTip(tr("Open this image"));
    m_placeholder->setEnabled(false);
    for (QAction* action : m_actions)
        menu->addAction(action);
    rebuild();
}

QStringList RecentFilesMenu::paths() const
{
    QStringList paths;
    for (const std::string& path : m_list.entries())
        paths << QString::fromStdString(path);
    return paths;
}

void RecentFilesMenu::load()
{
    const QSettings settings(QStringLiteral("OmbriTools"), m_applicationName);
    QStringList stored = settings.value(QString::fromLatin1(kRecentFilesKey)).toStringList();
    stored = stored.mid(0, static_cast<qsizetype>(m_list.capacity()));
    // The list is newest first; adding puts an entry in front.
    for (auto it = stored.crbegin(); it != stored.crend(); ++it)
        m_list.add(it->toStdString());
    m_stored = paths();
    rebuild();
}

void RecentFilesMenu::sync()
{
    const QStringList current = paths();
    if (current == m_stored)
        return;
    QSettings settings(QStringLiteral("OmbriTools"), m_applicationName);
    settings.setValue(QString::fromLatin1(kRecentFilesKey), current);
    m_stored = current;
    rebuild();
}

void RecentFilesMenu::rebuild()
{
    const QStringList current = paths();
    if (m_placeholder)
        m_placeholder->setVisible(current.isEmpty());
    for (int i = 0; i < static_cast<int>(m_actions.size()); ++i) {
        QAction* action = m_actions[static_cast<size_t>(i)];
        if (i >= current.size()) {
            action->setVisible(false);
            continue;
        }
        QString shown = QString::fromStdString(printableName(current[i].toStdString()));
        shown = m_parent->fontMetrics().elidedText(shown, Qt::ElideMiddle, 360);
        shown.replace('&', QStringLiteral("&&"));
        action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        action->setVisible(true);
    }
}

} // namespace ombri
