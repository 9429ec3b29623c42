#pragma once

#include <QAction>
#include <QKeySequence>
#include <QObject>
#include <QString>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

class QMenu;

namespace ombri {

// One command of a program: the action shown in menus and on toolbars, what it does, and when
// it is enabled and checked. Rules left empty mean always enabled and not checkable.
struct Command {
    int id = 0;
    QString text;
    QKeySequence key;
    QString statusTip;
    QString toolTip;
    std::function<void()> run;
    std::function<bool()> enabled;
    std::function<bool()> checked;
};

// "Status text\nTooltip" as the programs' prompts are written, split into the action's texts.
struct PromptTexts {
    QString status;
    QString toolTip;
};
PromptTexts splitPrompt(const QString& prompt);

// Whether the key a menu text shows after its tab is bound to the command, or only shown.
enum class MenuKey { Bind, ShowOnly };

// A command made from its menu text ("&Save\tCtrl+S": the part after the tab is its key) and
// its prompt ("Status text\nTooltip", as the programs have always written them).
Command makeMenuCommand(int id, const QString& menuText, const QString& prompt,
                        MenuKey key = MenuKey::Bind);

// The command table of a window: every command by its numeric id, with update rules that run
// before a menu opens and after every command and input event, so that menus and toolbar
// buttons always show the state the document and view are in.
class CommandTable : public QObject {
  public:
    explicit CommandTable(QObject* parent = nullptr);
    ~CommandTable() override;

    QAction* add(Command command);
    QAction* action(int id) const;
    bool contains(int id) const { return m_commands.count(id) != 0; }

    // Runs the command when it is enabled, as a click on its menu item would, then updates.
    bool trigger(int id);
    bool isEnabled(int id) const;
    bool isChecked(int id) const;

    // Re-evaluates every rule now.
    void updateAll();
    // Updates just before the menu shows.
    void watchMenu(QMenu* menu);
    // Adds the commands to the menu in order, kSeparator for a separator; ids without a
    // command are left out. The menu is watched.
    static constexpr int kSeparator = 0;
    void fillMenu(QMenu* menu, std::initializer_list<int> ids);
    // Updates after each key or mouse event of the application (once per turn of the event
    // loop, however many events arrived).
    void watchInput();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        Command command;
        QAction* action = nullptr;
    };
    std::map<int, Entry> m_commands;
    bool m_updateQueued = false;
    bool m_watchingInput = false;
};

} // namespace ombri
