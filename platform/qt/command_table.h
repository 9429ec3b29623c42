#pragma once

#include <QAction>
#include <QKeyCombination>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <vector>

class QMenu;
class QMenuBar;
class QToolBar;
class QWidget;

namespace ombri {

// The keys of a command: up to two bound to it, the first being what its menu item shows, or a
// key text the menu only shows because another part of the window handles that key itself.
class CommandKeys {
  public:
    constexpr CommandKeys() = default;
    constexpr CommandKeys(QKeyCombination key) : m_keys{key}, m_count(1) {}
    constexpr CommandKeys(QKeyCombination key, QKeyCombination other)
        : m_keys{key, other}, m_count(2)
    {
    }
    static constexpr CommandKeys shownOnly(const char* text)
    {
        CommandKeys keys;
        keys.m_shownOnly = text;
        return keys;
    }

    QList<QKeySequence> bound() const;
    // The text after the tab of the menu item when no key is bound, else empty.
    QString shownOnlyText() const;

  private:
    std::array<QKeyCombination, 2> m_keys{};
    int m_count = 0;
    const char* m_shownOnly = nullptr;
};

// What comes before an item in its menu or on its toolbar: nothing, a separator, or (in a menu)
// a separator, the recent files and another separator.
enum class Gap { None, Separator, RecentFiles };

constexpr int kNoMenu = -1;
constexpr int kNoToolBar = -1;

// The menu of the program's menu bar a command's item is in, by its place on the bar, and the
// title of the submenu there that holds it, if any. The items of one submenu share its title;
// the gap of the first comes before the submenu in its menu, the others' inside it.
struct MenuPlace {
    int menu = kNoMenu;
    Gap gap = Gap::None;
    const char* submenu = nullptr;
};

// The toolbar button of a command: its bar, its place there (buttons are ordered by it, so that
// one can be put between two others without renumbering them), and the name of its icon in the
// program's resources (":/icons/<name>.svg").
struct ButtonPlace {
    int bar = kNoToolBar;
    int order = 0;
    const char* icon = nullptr;
    Gap gap = Gap::None;
};

// One command of a program: the action shown in menus and on toolbars, its keys, what it does,
// and when it is enabled and checked. Rules left empty mean always enabled and not checkable.
struct Command {
    int id = 0;
    QString text;
    QString statusTip;
    QString toolTip;
    CommandKeys keys;
    MenuPlace menu;
    ButtonPlace button;
    std::function<void()> run;
    std::function<bool()> enabled;
    std::function<bool()> checked;
    // Whether the keys run the command now; empty means whenever the command is enabled. A key
    // pressed while this says no does nothing, and the menu item and button still work.
    std::function<bool()> keysWork;
    // What the command would act on, shown after its text ("Undo" becomes "Undo Rectangle");
    // empty leaves the text as it is.
    std::function<QString()> object;
};

// A program's table describes each command in one row, read as a sentence: the command, its
// menu item, its keys, its button and its rules, each part named where it is given:
//
//     Row{cmd::ZoomIn, "Zoom &In", "Zoom In \nZoom In"}
//         .inMenu(ViewMenu, Gap::Separator)
//         .keys({Qt::CTRL | Qt::Key_Plus}, whileNoTool)
//         .button(MainToolBar, 110, "zoom-in")
//         .rules(zoomIn, hasPicture),
//
// The rules are plain functions of the window that serves the command and the command's id, so
// that the table is a constant.
template <typename Window> struct CommandRow {
    using Run = void (*)(Window&, int id);
    using Rule = bool (*)(Window&, int id);
    using Object = QString (*)(Window&, int id);

    int id = 0;
    const char* text = "";   // as the menu shows it, without its key
    const char* prompt = ""; // "Status text\nTooltip", as the programs have always written them
    MenuPlace menu;
    CommandKeys keyList;
    ButtonPlace toolBarButton;
    Run run = nullptr;
    Rule enabled = nullptr;  // nullptr: always enabled
    Rule checked = nullptr;  // nullptr: not checkable
    Rule keysWork = nullptr; // nullptr: the keys work whenever the command is enabled
    Object object = nullptr; // nullptr: the text never changes

    constexpr CommandRow inMenu(int menuNumber, Gap gap = Gap::None) const
    {
        CommandRow row = *this;
        row.menu = {menuNumber, gap};
        return row;
    }
    constexpr CommandRow inSubmenu(int menuNumber, const char* title, Gap gap = Gap::None) const
    {
        CommandRow row = *this;
        row.menu = {menuNumber, gap, title};
        return row;
    }
    constexpr CommandRow keys(CommandKeys bound, Rule onlyWhen = nullptr) const
    {
        CommandRow row = *this;
        row.keyList = bound;
        row.keysWork = onlyWhen;
        return row;
    }
    constexpr CommandRow button(int bar, int order, const char* icon, Gap gap = Gap::None) const
    {
        CommandRow row = *this;
        row.toolBarButton = {bar, order, icon, gap};
        return row;
    }
    constexpr CommandRow actsOn(Object objectRule) const
    {
        CommandRow row = *this;
        row.object = objectRule;
        return row;
    }
    constexpr CommandRow rules(Run runRule, Rule enabledRule = nullptr,
                               Rule checkedRule = nullptr) const
    {
        CommandRow row = *this;
        row.run = runRule;
        row.enabled = enabledRule;
        row.checked = checkedRule;
        return row;
    }
};

// "Status text\nTooltip" as the programs' prompts are written, split into the action's texts.
struct PromptTexts {
    QString status;
    QString toolTip;
};
PromptTexts splitPrompt(const QString& prompt);

// Whether the icons of the commands are shown in their menus too, or on the toolbars only.
enum class MenuIcons { Shown, Hidden };

// The command table of a window: every command by its numeric id, with update rules that run
// before a menu opens and after every command and input event, so that menus and toolbar
// buttons always show the state the document and view are in. The menus, the toolbars and the
// keys are made from the commands, in the order they were added.
class CommandTable : public QObject {
  public:
    explicit CommandTable(QObject* parent = nullptr);
    ~CommandTable() override;

    void setMenuIcons(MenuIcons icons) { m_menuIcons = icons; }
    QAction* add(Command command);
    template <typename Window, std::size_t N>
    void addRows(Window& window, const CommandRow<Window> (&rows)[N]);

    // Null for an id without a command, which problems() then names.
    QAction* action(int id) const;
    const Command* command(int id) const;
    bool contains(int id) const { return m_index.count(id) != 0; }
    // Every command's id, in the order they were added.
    std::vector<int> ids() const;

    // Runs the command when it is enabled, as a click on its menu item would, then updates.
    bool trigger(int id);
    bool isEnabled(int id) const;
    bool isChecked(int id) const;

    // Re-evaluates every rule now.
    void updateAll();
    // Updates just before the menu shows.
    void watchMenu(QMenu* menu);
    // Updates after each key or mouse event of the application (once per turn of the event
    // loop, however many events arrived).
    void watchInput();

    // Adds one menu per title to the bar and puts each command that names a menu into it;
    // recentFiles adds the recent-file entries where a command asks for them. The menus are
    // watched, and returned in the order of the titles.
    std::vector<QMenu*> fillMenuBar(QMenuBar* bar, const QStringList& titles,
                                    const std::function<void(QMenu*)>& recentFiles = {});
    // Puts the button of each command that names this bar on it, in their order.
    void fillToolBar(QToolBar* toolBar, int bar);
    // Gives the window every command that has keys, so that they work while the menu bar is
    // hidden too.
    void bindKeys(QWidget* window);

    // What is wrong with the table, one sentence each: ids added twice or asked for without a
    // command, menus and toolbars that are not there, buttons without an icon, a key bound to
    // two commands.
    QStringList problems() const;
    // Ends the program with the problems listed, in builds with assertions, so that a broken
    // table is found on the first start; the tests check release builds.
    void checkAtStartUp() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        Command command;
        QAction* action = nullptr;
    };
    const Entry* find(int id) const;
    void runFromAction(int id);
    // Whether the object is an action whose keys its command's rule holds back now.
    bool keyRefused(QObject* watched) const;
    static QString menuText(const Command& command, const QString& object);

    std::vector<Entry> m_entries;
    std::map<int, std::size_t> m_index;
    MenuIcons m_menuIcons = MenuIcons::Shown;
    int m_menuCount = -1; // until fillMenuBar runs, no menu has been made
    std::set<int> m_filledBars;
    QStringList m_addProblems;
    mutable std::set<int> m_unknownIds;
    bool m_updateQueued = false;
    bool m_watchingInput = false;
};

template <typename Window, std::size_t N>
void CommandTable::addRows(Window& window, const CommandRow<Window> (&rows)[N])
{
    for (const CommandRow<Window>& row : rows) {
        Command command;
        command.id = row.id;
        command.text = QString::fromUtf8(row.text);
        const PromptTexts prompt = splitPrompt(QString::fromUtf8(row.prompt));
        command.statusTip = prompt.status;
        command.toolTip = prompt.toolTip;
        command.keys = row.keyList;
        command.menu = row.menu;
        command.button = row.toolBarButton;
        const int id = row.id;
        if (auto run = row.run)
            command.run = [&window, run, id] { run(window, id); };
        if (auto enabled = row.enabled)
            command.enabled = [&window, enabled, id] { return enabled(window, id); };
        if (auto checked = row.checked)
            command.checked = [&window, checked, id] { return checked(window, id); };
        if (auto keysWork = row.keysWork)
            command.keysWork = [&window, keysWork, id] { return keysWork(window, id); };
        if (auto object = row.object)
            command.object = [&window, object, id] { return object(window, id); };
        add(std::move(command));
    }
}

} // namespace ombri
