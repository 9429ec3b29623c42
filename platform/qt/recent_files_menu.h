#pragma once

#include "platform/qt/command_table.h"
#include "platform/document_base.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace ombri {

// The recent-file entries of a File menu: one command per place of the document's list
// ("&1 path"), a greyed "Recent File" while the list is empty, and the list kept between runs
// in the program's settings.
class RecentFilesMenu : public QObject {
  public:
    // open(index) opens entry index of the list.
    RecentFilesMenu(RecentFileList& list, CommandTable& commands, int firstCommandId,
                    const QString& applicationName, std::function<void(int)> open, QWidget* parent);

    // Puts the entries into the menu at its end.
    void addTo(QMenu* menu);
    // Fills the list from the settings.
    void load();
    // Stores the list when it changed, and shows it.
    void sync();
    QStringList paths() const;

  private:
    void rebuild();

    RecentFileList& m_list;
    QString m_applicationName;
    QWidget* m_parent;
    QAction* m_placeholder = nullptr;
    std::vector<QAction*> m_actions;
    QStringList m_stored;
};

} // namespace ombri
