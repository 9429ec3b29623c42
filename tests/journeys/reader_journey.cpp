// OmbriReader driven by random journeys of a user's actions through its real main window, inside
// a folder tree made for each journey (pictures of every kind, sub-folders, hidden folders,
// broken files, a file that is no picture, an empty folder) that is the user's home: clicks and
// double clicks in the folder tree and the file list (as details or thumbnails), stepping with the
// keys, every adjustment, colour and zoom command, full screen, drags, the wheel and dropped files
// on the picture, New Folder, Rename, and Delete from each pane. After every step the reader's
// promises are checked: the image view shows what the document displays and only the background
// without a picture, the document, the list and the tree agree on what was opened last, no file
// changes but as a file command said (Delete trashes exactly what the pane the user was in
// names, and the list moves on to the next picture), and nothing changes outside the home folder
// but the trash.
#include "journeys/gui_events.h"
#include "journeys/journey.h"
#include "journeys/journey_main.h"
#include "journeys/journey_prompt.h"
#include "journeys/picture_fixtures.h"

#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "platform/prompt.h"
#include "platform/qt/dib_draw.h"
#include "reader/adjustments.h"
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/file_operations.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_window.h"
#include "support/test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

namespace ombri::journey {
namespace {

namespace fs = std::filesystem;
using reader::FileList;
using reader::FolderTree;
using reader::FolderTreeWidget;
using reader::ImageView;
using reader::ReaderWindow;
using reader::TreeItemKind;
using reader::ZoomMode;
namespace cmd = reader::cmd;

// ---- paths ----------------------------------------------------------------------------------

bool within(const std::string& path, const std::string& folder)
{
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

std::string trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string slashEnded(const std::string& path)
{
    return !path.empty() && path.back() == '/' ? path : path + "/";
}

std::string parentOf(const std::string& path)
{
    const std::string spelt = trimmed(path);
    const auto slash = spelt.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : spelt.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const std::string spelt = trimmed(path);
    return spelt.substr(spelt.rfind('/') + 1);
}

// The text after the last "." of a name, empty without one: what the rename rules compare.
std::string extensionOf(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// The path as it is spelt after the entry `from` was renamed to `to`.
std::string renamedPath(const std::string& path, const std::string& from, const std::string& to)
{
    return within(path, from) ? to + path.substr(from.size()) : path;
}

std::string percentDecoded(const std::string& text)
{
    return QUrl::fromPercentEncoding(QByteArray::fromStdString(text)).toStdString();
}

// ---- the files of a journey -----------------------------------------------------------------

// A picture larger than the image pane at zoom 1, so that it can be panned.
constexpr const char* kLargePicture = "large.bmp";

const std::string& largePicturePath()
{
    static const auto folder = [] {
        auto dir = std::make_unique<test::TempDir>();
        const Status written =
            WriteBmpFile(dir->file(kLargePicture), test::makePatternImage(640, 480, 24, 21));
        if (!written)
            throw std::runtime_error("cannot make the large journey picture: " + written.error());
        return dir;
    }();
    static const std::string path = folder->file(kLargePicture);
    return path;
}

struct TreeFile {
    const char* path;
    const char* source; // a fixture picture, or the large picture
};

// The home folder of every journey. The hidden folders hold pictures the user can name or drop;
// misc holds what is no picture (and a picture without an extension, or with a capital one).
const TreeFile kTreeFiles[] = {
    {"pics/p24.bmp", "p24.bmp"},       {"pics/p32.png", "p32.png"},
    {"pics/p8.bmp", "p8.bmp"},         {"pics/one.bmp", "one.bmp"},
    {"pics/column.png", "column.png"}, {"pics/row.bmp", "row.bmp"},
    {"pics/narrow.png", "narrow.png"}, {"pics/carrier.png", "carrier.png"},
    {"pics/photo.jpg", "photo.jpg"},   {"pics/broken.png", "broken.png"},
    {"pics/notes.txt", "notes.txt"},   {"pics/film.dpx", "film.dpx"},
    {"pics/large.bmp", kLargePicture}, {"pics/sub/a.png", "p32.png"},
    {"pics/sub/b.bmp", "p24.bmp"},     {"pics/sub/c.png", "carrier.png"},
    {"pics/sub/deep/d.bmp", "p8.bmp"}, {".set/p1.png", "p32.png"},
    {".set/p2.bmp", "p24.bmp"},        {"x/a.bmp", "p8.bmp"},
    {"x/.set/p1.png", "carrier.png"},  {"x/.set/p2.jpg", "photo.jpg"},
    {"misc/broken.bmp", "broken.png"}, {"misc/readme.txt", "notes.txt"},
    {"misc/noext", "p32.png"},         {"misc/weird.PNG", "p32.png"},
    {"misc/.hidden.png", "p32.png"},
};
const char* const kTreeFolders[] = {"pics", "pics/sub", "pics/sub/deep", "many", "more", "empty",
                                    ".set", "x",        "x/.set",        "misc"};
// Two folders with more files than the list shows at once, so that one listing can follow
// another that was scrolled. In the second, every other file has the extension of another
// format than it holds.
constexpr int kManyFiles = 40;
constexpr int kMoreFiles = 30;
const char* const kManySources[] = {"one.bmp", "row.bmp", "column.png", "narrow.png"};

std::string manyFileName(int index)
{
    const std::string number = std::to_string(index);
    return "m" + std::string(number.size() < 2 ? "0" : "") + number +
           (index % 4 < 2 ? ".bmp" : ".png");
}

// The pictures a journey can start on, as if named on the command line.
const char* const kStartPictures[] = {"pics/p24.bmp",   "pics/carrier.png", "pics/large.bmp",
                                      "pics/sub/c.png", "many/m04.bmp",     "x/.set/p1.png",
                                      "pics/film.dpx",  "misc/weird.PNG"};
constexpr int kStartPictureCount = 8;

std::string sourceOf(const std::string& name)
{
    return name == kLargePicture ? largePicturePath() : fixturePicturePath(name);
}

void makeJourneyTree(const std::string& home)
{
    for (const char* folder : kTreeFolders)
        fs::create_directories(home + "/" + folder);
    for (const TreeFile& file : kTreeFiles)
        fs::copy_file(sourceOf(file.source), home + "/" + file.path);
    for (int i = 0; i < kManyFiles; ++i)
        fs::copy_file(sourceOf(kManySources[i % 4]), home + "/many/" + manyFileName(i));
    for (int i = 0; i < kMoreFiles; ++i)
        fs::copy_file(sourceOf(kManySources[(i + 1) % 4]), home + "/more/" + manyFileName(i));
}

struct Entry {
    bool folder = false;
    uintmax_t size = 0;
    int64_t modified = 0;
    uint64_t inode = 0;
    // A folder's time changes with its entries; only its identity counts.
    bool operator==(const Entry& other) const
    {
        return folder == other.folder && size == other.size && modified == other.modified &&
               inode == other.inode;
    }
};
using Snapshot = std::map<std::string, Entry>;

Snapshot snapshot(const std::string& folder, const std::vector<std::string>& leftOut = {})
{
    Snapshot entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string path = it->path().string();
        bool skip = false;
        for (const std::string& out : leftOut)
            skip = skip || within(path, out);
        if (skip) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        Entry entry;
        entry.folder = S_ISDIR(info.st_mode);
        entry.inode = static_cast<uint64_t>(info.st_ino);
        if (!entry.folder) {
            entry.size = static_cast<uintmax_t>(info.st_size);
            entry.modified =
                static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        }
        entries[path] = entry;
    }
    return entries;
}

// ---- what the journeys choose from --------------------------------------------------------

// Keys sent to whichever widget has the focus.
enum KeyChoice {
    KeyDown,
    KeyUp,
    KeyPageDown,
    KeyPageUp,
    KeySpace,
    KeyEscape,
    KeyF6,
    KeyShiftF6,
    KeyHome,
    KeyEnd,
    KeyZero,
    KeyOne,
    KeyEqual,
    KeyMinus,
    KeyPadPlus,
    KeyPadMinus,
    KeyDelete,
    KeyChoiceCount
};

struct KeyPress {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

const KeyPress kKeys[KeyChoiceCount] = {
    {Qt::Key_Down, Qt::NoModifier},     {Qt::Key_Up, Qt::NoModifier},
    {Qt::Key_PageDown, Qt::NoModifier}, {Qt::Key_PageUp, Qt::NoModifier},
    {Qt::Key_Space, Qt::NoModifier},    {Qt::Key_Escape, Qt::NoModifier},
    {Qt::Key_F6, Qt::NoModifier},       {Qt::Key_F6, Qt::ShiftModifier},
    {Qt::Key_Home, Qt::NoModifier},     {Qt::Key_End, Qt::NoModifier},
    {Qt::Key_0, Qt::NoModifier},        {Qt::Key_1, Qt::NoModifier},
    {Qt::Key_Equal, Qt::NoModifier},    {Qt::Key_Minus, Qt::NoModifier},
    {Qt::Key_Plus, Qt::KeypadModifier}, {Qt::Key_Minus, Qt::KeypadModifier},
    {Qt::Key_Delete, Qt::NoModifier},
};

// The main toolbar, Print left out (it opens the printer dialog).
constexpr int kToolButtons[] = {cmd::NewFolder,     cmd::Delete,       cmd::DisplayNotes,
                                cmd::PreviousImage, cmd::NextImage,    cmd::FitWidth,
                                cmd::FitHeight,     cmd::FitIn,        cmd::ZoomOut,
                                cmd::ZoomIn,        cmd::OriginalSize, cmd::FullScreen};
constexpr int kToolButtonCount = 12;
constexpr int kFullScreenButton = 11;

constexpr int kImageTools[] = {
    reader::cmd::BlackAndWhite,   reader::cmd::AutoContrast,       reader::cmd::AutoColour,
    reader::cmd::InvertColour,    reader::cmd::ChannelRed,         reader::cmd::ChannelGreen,
    reader::cmd::ChannelBlue,     reader::cmd::FlipHorizontal,     reader::cmd::FlipVertical,
    reader::cmd::RotateClockwise, reader::cmd::RotateAnticlockwise};
constexpr int kImageToolCount = 11;

struct MenuChoice {
    const char* menu;
    std::vector<int> items;
};

// The menu items a journey clicks: the dialogs of printing, the settings and the Info menu, the
// web browser and Exit are left out.
const MenuChoice kMenus[] = {
    {"&File", {cmd::NewFolder}},
    {"&Edit", {cmd::Delete, cmd::Cut, cmd::Paste}},
    {"&View",
     {cmd::DisplayNotes, cmd::AntiAliasing, cmd::FitIn, cmd::FitWidth, cmd::FitHeight,
      cmd::OriginalSize, cmd::ZoomIn, cmd::ZoomOut, cmd::PreviousImage, cmd::NextImage}},
    {"&Color",
     {cmd::ColourSelected, cmd::ColourWhite, cmd::ColourBlack, cmd::ColourRed, cmd::ColourGreen,
      cmd::ColourBlue, cmd::ColourComplement, cmd::RightBackground}},
    {"&Image",
     {reader::cmd::Original, reader::cmd::AutoColour, reader::cmd::AutoContrast,
      reader::cmd::InvertColour, reader::cmd::BlackAndWhite, reader::cmd::ChannelRed,
      reader::cmd::ChannelGreen, reader::cmd::ChannelBlue, reader::cmd::FlipHorizontal,
      reader::cmd::FlipVertical, reader::cmd::RotateClockwise, reader::cmd::RotateAnticlockwise,
      reader::cmd::Rotate180}},
    {"&Option", {cmd::Toolbar, cmd::StatusBar, cmd::ImageTools}},
};
constexpr int kMenuCount = 6;

// What a name typed after F2 is made of, from the name being edited.
enum NameKind {
    NameSameExtension,
    NameOtherExtension,
    NameOfASibling,
    NameExtensionCase,
    NameWithoutExtension,
    NameEmpty,
    NameWithSlash,
    NameHidden,
    NameKindCount
};
const char* const kOtherExtensions[] = {"png", "bmp", "jpg", "txt", "PNG", "dpx"};

Answer answerFor(int code)
{
    return code == 0 ? Answer::Yes : Answer::No;
}

Step listTypeStep(Rng& rng)
{
    return Step{"listtype", {rng.below(60), rng.between(1, 2), rng.below(2)}, {}};
}

Step randomReaderStep(Rng& rng)
{
    const int roll = rng.below(100);
    if (roll < 9)
        return Step{"tree", {0, rng.below(40)}, {}};
    if (roll < 11)
        return Step{"tree", {rng.chance(1, 6) ? 3 : 1, rng.below(40)}, {}};
    if (roll < 13)
        return Step{"tree", {2, rng.below(40)}, {}};
    if (roll < 15)
        return Step{
            "treedrag",
            {rng.below(40), (rng.chance(1, 2) ? 1 : -1) * rng.between(25, 160), rng.between(0, 4)},
            {}};
    if (roll < 26)
        return Step{"list", {0, rng.below(60)}, {}};
    if (roll < 30)
        return Step{"list", {1, rng.below(60)}, {}};
    if (roll < 32)
        return Step{"listwheel", {rng.chance(1, 3) ? 240 : -360}, {}};
    if (roll < 39) {
        // Stepping is what a user does most with the keys.
        const int key = rng.chance(1, 2) ? rng.below(4) : rng.below(KeyDelete);
        return Step{"key", {key}, {}};
    }
    if (roll < 42)
        return Step{"key", {KeyDelete, rng.below(2)}, {}};
    if (roll < 43)
        return listTypeStep(rng);
    // Full screen now and then, and Escape often enough that a journey does not stay there.
    if (roll < 44)
        return Step{"tool", {kFullScreenButton, 0}, {}};
    if (roll < 47)
        return Step{"key", {KeyEscape}, {}};
    if (roll < 51)
        return Step{"rename", {rng.below(NameKindCount), rng.below(100), rng.below(2)}, {}};
    if (roll < 60)
        return Step{"tool", {rng.below(kFullScreenButton), rng.below(2)}, {}};
    if (roll < 61)
        return listTypeStep(rng);
    if (roll < 67)
        return Step{"imagetool", {rng.below(kImageToolCount)}, {}};
    if (roll < 77) {
        const int menu = rng.below(kMenuCount);
        return Step{"menu",
                    {menu, rng.below(static_cast<int>(kMenus[menu].items.size())), rng.below(2),
                     rng.below(256), rng.below(256), rng.below(256)},
                    {}};
    }
    if (roll < 84) {
        QPoint from(rng.between(0, 330), rng.between(0, 440));
        QPoint to(rng.between(0, 330), rng.between(0, 440));
        if (rng.chance(1, 4))
            to = from + QPoint(rng.between(-6, 6), rng.between(-6, 6));
        int modifiers = 0;
        if (rng.chance(1, 4))
            modifiers = 1 << rng.below(3); // Shift, Ctrl or Alt
        return Step{"drag",
                    {from.x(), from.y(), to.x(), to.y(), modifiers,
                     rng.chance(1, 10) ? -1 : rng.between(0, 4)},
                    {}};
    }
    if (roll < 87)
        return Step{"wheel", {rng.chance(1, 2) ? 120 : -240, rng.chance(1, 6) ? 1 : 0}, {}};
    if (roll < 89)
        return Step{"viewclick", {rng.between(0, 330), rng.between(0, 440)}, {}};
    if (roll < 96)
        return Step{
            "drop",
            {rng.chance(1, 4) ? 1 : 0, rng.below(200), rng.between(0, 330), rng.between(0, 440)},
            {}};
    if (roll < 97)
        return Step{"resize", {rng.between(600, 1000), rng.between(420, 760)}, {}};
    if (roll < 98)
        return Step{"thumbnails", {}, {}};
    return Step{"tool", {0, 0}, {}}; // New Folder
}

Journey makeReaderJourney(uint64_t seed, int steps)
{
    Rng rng(seed);
    // Every journey starts as the program does when a picture is named on its command line, or
    // on the folder tree alone, with the list as details or, in a third of them, as thumbnails.
    const int start = rng.below(kStartPictureCount + 1);
    Journey journey{Step{"start", {start, rng.chance(1, 3) ? 1 : 0}, {}}};
    while (static_cast<int>(journey.size()) < steps) {
        Step step = randomReaderStep(rng);
        const bool typed = step.verb == "listtype";
        journey.push_back(std::move(step));
        // An entry highlighted by its name is often one the user is about to delete.
        if (typed && rng.chance(1, 2) && static_cast<int>(journey.size()) < steps)
            journey.push_back(Step{"key", {KeyDelete, rng.below(2)}, {}});
    }
    return journey;
}

// ---- one journey --------------------------------------------------------------------------

// Sets environment variables for the length of a journey and restores them.
class EnvironmentScope {
  public:
    void set(const char* name, const std::string& value)
    {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name, value.c_str(), 1);
    }
    ~EnvironmentScope()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

enum class Pane { Tree, List, View, Other };

// What the document must hold after a step.
enum class DocExpect {
    Any,   // the step's effect on the document is not foreseen
    Same,  // the same picture, or none as before
    Empty, // no picture
    Opens, // the file `opens`, when it is a picture; none otherwise
};

// What the file system must look like after a step, besides everything staying as it was.
struct FileChange {
    enum class Kind { None, NewFolder, Rename, Delete } kind = Kind::None;
    std::string from; // renamed or deleted
    std::string to;   // renamed to or created
};

struct Expectation {
    DocExpect doc = DocExpect::Any;
    std::string opens;
    // The show-notes flag after a successful open: hidden by a click, kept by a drop.
    bool opensKeepsNotes = false;
    std::optional<std::string> listFolder;  // ends in "/"
    std::optional<std::string> listCurrent; // the list's current file, "" for none
    std::optional<std::string> treeSelected;
    bool treeSelectionSame = false;
    bool listSame = false;
    std::optional<bool> showNotes;
    std::optional<QPoint> scroll;
    std::optional<Pane> focus;
    FileChange change;
    // A question whose text starts so must have been asked (or must not, when !asked).
    std::string question;
    bool asked = false;
    // Where the renamed entry's new name must show.
    Pane renamedIn = Pane::Other;
    // When the step opens a picture, the list marks it as its current file.
    bool listMarksOpened = false;
    // Whether the file list is filled by the tree's selection from now on.
    std::optional<bool> listFollowsTree;
};

class ReaderSession {
  public:
    ReaderSession();
    ~ReaderSession();

    void perform(const Step& step, bool first);
    std::optional<std::string> check();
    std::string state();
    QWidget* window() { return m_frame.get(); }

  private:
    ReaderWindow& frame() { return *m_frame; }
    reader::Reading& doc() { return m_frame->document(); }
    FolderTree& tree() { return m_frame->tree(); }
    FileList& list() { return m_frame->list(); }
    ImageView& view() { return m_frame->view(); }
    QAction* action(int id) { return m_frame->commands().action(id); }
    static bool shown(QWidget& widget) { return widget.isVisible(); }
    // The list's pane, which holds the details table or the thumbnail grid, and the one of the
    // two on show.
    QWidget& listPane() { return *list().paneWidget(); }
    QAbstractItemView& listView() { return *list().shownView(); }
    bool listShown() { return shown(listPane()); }

    Pane focusPane();
    std::vector<QTreeWidgetItem*> treeItems(bool slashRoot);
    std::vector<int> listRows();
    std::string listCurrentPath();
    bool listInJourney(); // the list shows a folder of the journey's own
    std::vector<std::string> homeEntries(bool folders);

    void doStart(const Step& step);
    void doTree(const Step& step);
    void doTreeDrag(const Step& step);
    void doList(const Step& step);
    void doListType(const Step& step);
    void doKey(const Step& step);
    void doRename(const Step& step);
    void doCommand(int id, const Step& step, const std::function<bool()>& click);
    void doDrop(const Step& step);
    void doViewDrag(const Step& step);

    void expectTreeSelection(const std::string& path);
    void expectStep(bool next);
    bool expectDelete(Pane pane, int answer);
    void expectTreeDelete(int answer);
    bool expectListDelete(int answer);
    bool expectViewDelete(int answer);
    bool expectQuestion(const std::string& path, int answer);
    void expectEntryDeleted(const std::string& path, bool onShow);
    void expectNewFolder();

    std::optional<std::string> checkFiles();
    std::optional<std::string> checkDocument();
    std::optional<std::string> checkPanes();
    std::optional<std::string> checkFullScreen();
    std::optional<std::string> checkScreen();
    std::optional<std::string> checkCommandState();

    test::TempDir m_dir;
    std::string m_home;    // the user's home: the journey's folder tree
    std::string m_data;    // the desktop's data folder, with the trash
    std::string m_outside; // next to the home folder; no step may change it
    std::vector<std::string> m_leftOut;
    EnvironmentScope m_environment;
    fs::path m_oldDirectory;
    JourneyPrompt m_prompt;
    std::unique_ptr<ReaderWindow> m_frame;

    Snapshot m_homeFiles;
    Snapshot m_otherFiles;
    // Renames since the file list was last filled: it keeps a renamed folder's old spelling.
    std::vector<std::pair<std::string, std::string>> m_listRenames;
    // The file list was last filled by the folder tree's selection (not by entering a folder).
    bool m_listFollowsTree = false;
    // The pane the user was last in: the toolbar's buttons and the menus take no focus from it,
    // and Delete acts on it. The tree has the focus at the start.
    Pane m_lastPane = Pane::Tree;

    // Taken before each step.
    Expectation m_expect;
    std::optional<std::string> m_performFailure;
    // What a step chose, for the trace.
    std::string m_note;
    size_t m_messagesBefore = 0;
    bool m_hadImage = false;
    const void* m_imageBefore = nullptr;
    std::string m_currentBefore;
    bool m_showNotesBefore = false;
    QPoint m_scrollBefore;
    std::string m_listFolderBefore;
    std::string m_listCurrentBefore;
    QTreeWidgetItem* m_treeSelectedBefore = nullptr;
    bool m_fullScreenBefore = false;
    // The window as it was before full screen, to be given back on leaving it.
    QRect m_savedGeometry;
    QList<int> m_savedSplitter;
    bool m_savedToolbar = true;
    bool m_savedStatusBar = true;
};

ReaderSession::ReaderSession()
{
    m_home = m_dir.file("home");
    m_data = m_dir.file("data");
    m_outside = m_dir.file("outside");
    fs::create_directories(m_home);
    fs::create_directories(m_outside);
    makeJourneyTree(m_home);
    fs::copy_file(fixturePicturePath("p32.png"), m_outside + "/o.png");
    // The tree's roots are "/" and the home folder; the trash lives in the data folder.
    m_environment.set("HOME", m_home);
    m_environment.set("XDG_DATA_HOME", m_data);
    m_environment.set("XDG_CONFIG_HOME", m_dir.file("config"));
    m_environment.set("XDG_CACHE_HOME", m_dir.file("cache"));
    m_leftOut = {m_home, m_dir.file("config"), m_dir.file("cache"), m_dir.file("settings")};
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(m_dir.file("settings")));
    QSettings().clear();
    m_oldDirectory = fs::current_path();

    m_frame = std::make_unique<ReaderWindow>(&m_prompt);
    // Smaller than the screen, so that full screen and back can be told apart.
    m_frame->resize(760, 540);
    m_frame->show();
    reactivate(m_frame.get());
    tree().setFocus();
    QObject::connect(list().model(), &QAbstractItemModel::modelReset,
                     [this] { m_listRenames.clear(); });
    settle();
    m_homeFiles = snapshot(m_home);
    m_otherFiles = snapshot(m_dir.path(), m_leftOut);
}

ReaderSession::~ReaderSession()
{
    m_frame.reset();
    settle();
    std::error_code ignored;
    fs::current_path(m_oldDirectory, ignored);
}

Pane ReaderSession::focusPane()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return Pane::Other;
    const auto in = [focus](QWidget& pane) { return focus == &pane || pane.isAncestorOf(focus); };
    if (in(tree()))
        return Pane::Tree;
    if (in(listPane()))
        return Pane::List;
    if (in(view()))
        return Pane::View;
    return Pane::Other;
}

const char* paneName(Pane pane)
{
    switch (pane) {
    case Pane::Tree:
        return "the folder tree";
    case Pane::List:
        return "the file list";
    case Pane::View:
        return "the image view";
    default:
        return "no pane";
    }
}

// The items a user can click: shown in full in the tree's window, in the home folder or the
// "/" root itself.
std::vector<QTreeWidgetItem*> ReaderSession::treeItems(bool slashRoot)
{
    std::vector<QTreeWidgetItem*> items;
    FolderTree& t = tree();
    const QRect area = t.viewport()->rect();
    for (QTreeWidgetItemIterator it(&t); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (FolderTreeWidget::itemKind(item) == TreeItemKind::Placeholder)
            continue;
        bool open = true;
        for (QTreeWidgetItem* up = item->parent(); up && open; up = up->parent())
            open = up->isExpanded();
        const QRect rect = t.visualItemRect(item);
        if (!open || rect.top() < area.top() || rect.bottom() > area.bottom())
            continue;
        const std::string path = t.itemPath(item);
        if (slashRoot ? path == "/" : within(path, m_home))
            items.push_back(item);
    }
    return items;
}

std::vector<int> ReaderSession::listRows()
{
    std::vector<int> rows;
    FileList& l = list();
    QAbstractItemView& view = listView();
    const QRect area = view.viewport()->rect();
    for (int row = 0; row < l.model()->rowCount(); ++row) {
        const QRect rect = view.visualRect(l.model()->index(row, 0));
        if (rect.isValid() && rect.top() >= area.top() && rect.bottom() <= area.bottom())
            rows.push_back(row);
    }
    return rows;
}

std::string ReaderSession::listCurrentPath()
{
    const int index = list().currentFileIndex();
    if (index < 0 || index >= static_cast<int>(list().files().size()))
        return std::string();
    return list().folderPath() + list().files()[static_cast<size_t>(index)].name;
}

bool ReaderSession::listInJourney()
{
    const std::string folder = trimmed(list().folderPath());
    return !folder.empty() && (within(folder, m_home) || folder == m_dir.path());
}

std::vector<std::string> ReaderSession::homeEntries(bool folders)
{
    std::vector<std::string> paths;
    if (folders)
        paths.push_back(m_home);
    for (const auto& [path, entry] : m_homeFiles) {
        if (entry.folder == folders)
            paths.push_back(path);
    }
    return paths;
}

// ---- steps --------------------------------------------------------------------------------

void ReaderSession::expectTreeSelection(const std::string& path)
{
    m_expect.doc = DocExpect::Empty;
    m_expect.treeSelected = path;
    m_expect.listFolder = slashEnded(path);
    m_expect.listCurrent = std::string();
    m_expect.listFollowsTree = true;
}

void ReaderSession::doStart(const Step& step)
{
    if (step.arg(1) == 1)
        pressKey(m_frame.get(), Qt::Key_T, Qt::ControlModifier);
    const int which = step.arg(0);
    if (which < kStartPictureCount) {
        const std::string path = m_home + "/" + kStartPictures[which];
        m_expect.doc = DocExpect::Opens;
        m_expect.opens = path;
        m_expect.listFolder = slashEnded(parentOf(path));
        m_expect.treeSelected = parentOf(path);
        m_expect.listMarksOpened = true;
        m_expect.listFollowsTree = true;
        frame().openFile(QString::fromStdString(path));
        return;
    }
    // The home folder from the tree.
    const auto roots = treeItems(false);
    for (QTreeWidgetItem* item : roots) {
        if (tree().itemPath(item) != m_home)
            continue;
        expectTreeSelection(m_home);
        const QRect rect = tree().visualItemRect(item);
        QTest::mouseClick(tree().viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(rect.left() + std::min(rect.width() / 2, 30), rect.center().y()));
    }
}

void ReaderSession::doTree(const Step& step)
{
    const int how = step.arg(0);
    if (!shown(tree()))
        return;
    std::vector<QTreeWidgetItem*> items = treeItems(how == 3);
    // A click on the selected item starts editing its name once the double-click time has
    // passed, which a journey cannot replay step for step: the journeys rename with F2.
    if (how != 2)
        items.erase(std::remove(items.begin(), items.end(), tree().selectedItem()), items.end());
    if (how == 2)
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [](QTreeWidgetItem* item) { return item->childCount() == 0; }),
                    items.end());
    if (items.empty())
        return;
    QTreeWidgetItem* item = items[static_cast<size_t>(step.arg(1)) % items.size()];
    const QRect rect = tree().visualItemRect(item);
    const QPoint label(rect.left() + std::min(rect.width() / 2, 30), rect.center().y());
    QWidget* window = tree().viewport();
    const std::string path = tree().itemPath(item);
    m_note = path;
    if (how == 2) {
        // The expand button left of the label opens or closes the folder and chooses nothing,
        // unless closing it hides the selected item: the closed folder is selected then.
        bool hidesSelection = false;
        for (QTreeWidgetItem* up = tree().selectedItem(); up && item->isExpanded();
             up = up->parent())
            hidesSelection = hidesSelection || up->parent() == item;
        if (hidesSelection) {
            expectTreeSelection(path);
        } else {
            m_expect.doc = DocExpect::Same;
            m_expect.treeSelectionSame = true;
            m_expect.listSame = true;
        }
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                          QPoint(rect.left() - tree().indentation() / 2, rect.center().y()));
        return;
    }
    expectTreeSelection(path);
    if (how == 1) {
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, label);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, label);
        QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, label);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, label);
    } else {
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, label);
    }
}

// A drag in the tree only shows where it would go: it chooses nothing and moves nothing.
void ReaderSession::doTreeDrag(const Step& step)
{
    if (!shown(tree()))
        return;
    const auto items = treeItems(false);
    if (items.empty())
        return;
    QTreeWidgetItem* item = items[static_cast<size_t>(step.arg(0)) % items.size()];
    m_note = tree().itemPath(item);
    const QRect rect = tree().visualItemRect(item);
    const QPoint from(rect.left() + std::min(rect.width() / 2, 30), rect.center().y());
    const QPoint to = from + QPoint(step.arg(2) * 3, step.arg(1));
    m_expect.doc = DocExpect::Same;
    m_expect.treeSelectionSame = true;
    m_expect.listSame = true;
    dragMouse(tree().viewport(), from, to, std::max(0, step.arg(2)), Qt::NoModifier);
}

void ReaderSession::doList(const Step& step)
{
    if (!listShown() || !listInJourney())
        return;
    const auto rows = listRows();
    if (rows.empty())
        return;
    const int row = rows[static_cast<size_t>(step.arg(1)) % rows.size()];
    FileList& l = list();
    m_note = l.model()->index(row, 0).data().toString().toStdString();
    const int folders = static_cast<int>(l.folders().size());
    QWidget* window = listView().viewport();
    const QPoint at = listView().visualRect(l.model()->index(row, 0)).center();
    const bool twice = step.arg(0) == 1;
    if (row < folders) {
        // One click on a folder does nothing; two go into it.
        m_expect.doc = DocExpect::Same;
        if (!twice) {
            m_expect.listSame = true;
            QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
            return;
        }
        const std::string& name = l.folders()[static_cast<size_t>(row)].name;
        const std::string folder = trimmed(l.folderPath());
        const std::string target = name == ".." ? parentOf(folder) : folder + "/" + name;
        // Up from the home folder is as far as a journey goes.
        if (!within(target, m_home) && target != m_dir.path())
            return;
        std::error_code error;
        if (!fs::is_directory(target, error)) {
            // Listed before its folder was renamed: the list empties but keeps what it listed.
            m_expect.listSame = true;
        } else {
            m_expect.listFolder = slashEnded(target);
            m_expect.listCurrent = std::string();
            m_expect.listFollowsTree = false;
        }
    } else {
        const std::string path =
            l.folderPath() + l.files()[static_cast<size_t>(row - folders)].name;
        if (path == listCurrentPath()) {
            m_expect.doc = DocExpect::Same;
            m_expect.listSame = true;
        } else {
            m_expect.doc = DocExpect::Opens;
            m_expect.opens = path;
            m_expect.listCurrent = path;
            m_expect.listFolder = l.folderPath();
        }
    }
    if (twice) {
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
    } else {
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
    }
}

// Typing the first letters of a name in the focused list highlights an entry so named, as the
// keys Home and End highlight the first and last, without opening anything: a folder can be
// highlighted so, and then deleted.
void ReaderSession::doListType(const Step& step)
{
    if (!listShown() || !listInJourney())
        return;
    auto rows = listRows();
    // Half the time a folder's name, the way up left out, when there is one.
    const int folders = static_cast<int>(list().folders().size());
    const auto isFolder = [this, folders](int row) {
        return row < folders && list().folders()[static_cast<size_t>(row)].name != "..";
    };
    if (step.arg(2) == 1 && std::any_of(rows.begin(), rows.end(), isFolder))
        rows.erase(
            std::remove_if(rows.begin(), rows.end(), [&](int row) { return !isFolder(row); }),
            rows.end());
    if (rows.empty())
        return;
    // F6 goes round the panes until the list has the focus.
    for (int press = 0; press < 3 && focusPane() != Pane::List; ++press)
        pressKey(m_frame.get(), Qt::Key_F6);
    if (focusPane() != Pane::List)
        return;
    const int row = rows[static_cast<size_t>(step.arg(0)) % rows.size()];
    const std::string name = list().model()->index(row, 0).data().toString().toStdString();
    const std::string typed = name.substr(0, static_cast<size_t>(std::max(1, step.arg(1))));
    m_note = typed;
    m_expect.doc = DocExpect::Same;
    m_expect.treeSelectionSame = true;
    m_expect.listSame = true;
    m_expect.focus = Pane::List;
    QTest::keyClicks(&listView(), QString::fromStdString(typed));
}

// Previous and Next Image step along the file list while it is shown, when the command is
// enabled; the keys never move a pane's own selection.
void ReaderSession::expectStep(bool next)
{
    m_expect.listFolder = list().folderPath();
    if (!action(next ? cmd::NextImage : cmd::PreviousImage)->isEnabled()) {
        m_expect.doc = DocExpect::Same;
        m_expect.treeSelectionSame = true;
        m_expect.listSame = true;
        return;
    }
    const int current = list().currentFileIndex();
    const int index = current + (next ? 1 : -1);
    const auto& files = list().files();
    if ((!next && current <= 0) || index >= static_cast<int>(files.size())) {
        m_expect.doc = DocExpect::Same;
        m_expect.listSame = true;
        return;
    }
    const std::string path = list().folderPath() + files[static_cast<size_t>(index)].name;
    m_expect.doc = DocExpect::Opens;
    m_expect.opens = path;
    m_expect.listCurrent = path;
}

// Delete acts on what the pane names: the tree's selected folder, the list's highlighted entry,
// the picture on show in the image view. False when that lies outside the journey's home, where
// no step may reach.
bool ReaderSession::expectDelete(Pane pane, int answer)
{
    switch (pane) {
    case Pane::Tree: {
        QTreeWidgetItem* selected = tree().selectedItem();
        if (selected && !within(tree().itemPath(selected), m_home))
            return false;
        expectTreeDelete(answer);
        return true;
    }
    case Pane::List:
        return expectListDelete(answer);
    case Pane::View:
        return expectViewDelete(answer);
    default:
        m_expect.doc = DocExpect::Same;
        return true;
    }
}

void ReaderSession::expectTreeDelete(int answer)
{
    QTreeWidgetItem* item = tree().selectedItem();
    if (!item) {
        m_expect.doc = DocExpect::Same;
        return;
    }
    const std::string path = tree().itemPath(item);
    if (path == m_home) {
        // The home folder is a root of the tree: never deleted, not even asked about.
        m_expect.doc = DocExpect::Same;
        m_expect.question = reader::kDeleteQuestion;
        m_expect.asked = false;
        return;
    }
    m_expect.question = std::string(reader::kDeleteQuestion) + path;
    m_expect.asked = true;
    m_prompt.queueAnswer(answerFor(answer));
    if (answerFor(answer) != Answer::Yes) {
        m_expect.doc = DocExpect::Same;
        m_expect.treeSelectionSame = true;
        return;
    }
    m_expect.change = FileChange{FileChange::Kind::Delete, path, {}};
    // What the tree selects next is a folder, or nothing is left: no picture either way.
    m_expect.doc = DocExpect::Empty;
    m_expect.listFollowsTree = true;
}

// The question names exactly the path; answered No, or for an entry already gone, nothing
// changes. True when the entry is to go.
bool ReaderSession::expectQuestion(const std::string& path, int answer)
{
    m_expect.question = std::string(reader::kDeleteQuestion) + path;
    m_expect.asked = true;
    m_prompt.queueAnswer(answerFor(answer));
    struct stat info {};
    if (answerFor(answer) == Answer::Yes && ::lstat(path.c_str(), &info) == 0)
        return true;
    m_expect.doc = DocExpect::Same;
    m_expect.treeSelectionSame = true;
    m_expect.listSame = true;
    return false;
}

bool ReaderSession::expectListDelete(int answer)
{
    const QModelIndexList selected = list().selectionModel()->selectedIndexes();
    const int row = selected.isEmpty() ? -1 : selected.first().row();
    const int folders = static_cast<int>(list().folders().size());
    m_expect.doc = DocExpect::Same;
    if (row < 0) {
        m_expect.question = reader::kDeleteQuestion;
        m_expect.asked = false;
        return true;
    }
    if (row >= list().model()->rowCount() || !listInJourney())
        return false;
    const std::string& name = row < folders
                                  ? list().folders()[static_cast<size_t>(row)].name
                                  : list().files()[static_cast<size_t>(row - folders)].name;
    m_note = name;
    // The way up is no entry of its own; the home folder is a root of the tree, never deleted
    // and not even asked about.
    const std::string path = list().folderPath() + name;
    if (name == ".." || path == m_home) {
        m_expect.question = reader::kDeleteQuestion;
        m_expect.asked = false;
        return true;
    }
    if (!within(path, m_home))
        return false;
    if (expectQuestion(path, answer))
        expectEntryDeleted(path, doc().hasImage() && doc().currentPath() == path);
    return true;
}

bool ReaderSession::expectViewDelete(int answer)
{
    m_expect.doc = DocExpect::Same;
    if (!doc().hasImage()) {
        m_expect.question = reader::kDeleteQuestion;
        m_expect.asked = false;
        return true;
    }
    const std::string path = doc().currentPath();
    if (!within(path, m_home))
        return false;
    if (expectQuestion(path, answer))
        expectEntryDeleted(path, true);
    return true;
}

// A file or folder deleted from the list or the view goes from both panes. After a listed file
// the list makes the file that followed it current, else the one before, and shows it.
void ReaderSession::expectEntryDeleted(const std::string& path, bool onShow)
{
    m_expect.change = FileChange{FileChange::Kind::Delete, path, {}};
    QTreeWidgetItem* selected = tree().selectedItem();
    if (selected && within(tree().itemPath(selected), path)) {
        // The tree's selection went with it and moved on as after the tree's own Delete; the
        // list follows the tree.
        m_expect.doc = DocExpect::Empty;
        m_expect.listFollowsTree = true;
        return;
    }
    m_expect.treeSelectionSame = true;
    const std::string folder = list().folderPath();
    const auto& files = list().files();
    size_t index = files.size();
    for (size_t i = 0; i < files.size(); ++i) {
        if (folder + files[i].name == path)
            index = i;
    }
    if (index == files.size()) {
        // A folder of the listing, or a picture the list does not hold: the list keeps its
        // current file.
        m_expect.listFolder = folder;
        m_expect.listCurrent = listCurrentPath();
        m_expect.doc = onShow ? DocExpect::Empty : DocExpect::Same;
        return;
    }
    std::string next;
    if (index + 1 < files.size())
        next = folder + files[index + 1].name;
    else if (index > 0)
        next = folder + files[index - 1].name;
    m_expect.listCurrent = next;
    if (next.empty()) {
        m_expect.doc = onShow ? DocExpect::Empty : DocExpect::Same;
        return;
    }
    m_expect.listFolder = folder;
    m_expect.doc = DocExpect::Opens;
    m_expect.opens = next;
    m_expect.listMarksOpened = true;
}

void ReaderSession::expectNewFolder()
{
    const std::string current = doc().currentPath();
    m_expect.doc = DocExpect::Same;
    if (current.empty())
        return;
    // Next to the picture on show: a path with an extension names a file.
    const std::string folder = extensionOf(current).empty() ? current : parentOf(current);
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return;
    std::string name = "New Folder";
    for (int counter = 2;; ++counter) {
        struct stat info {};
        if (::lstat((folder + "/" + name).c_str(), &info) != 0)
            break;
        name = "New Folder (" + std::to_string(counter) + ")";
    }
    const std::string created = folder + "/" + name;
    m_expect.change = FileChange{FileChange::Kind::NewFolder, {}, created};
    expectTreeSelection(created);
}

void ReaderSession::doKey(const Step& step)
{
    const int choice = step.arg(0) % KeyChoiceCount;
    const Pane pane = focusPane();
    // In the tree these keys choose items the way clicks do; the journeys click instead.
    if (pane == Pane::Tree && (choice == KeySpace || choice == KeyHome || choice == KeyEnd))
        return;
    switch (choice) {
    case KeyDown:
    case KeyPageDown:
    case KeyUp:
    case KeyPageUp: {
        if (!list().folderPath().empty() && !listInJourney())
            return;
        const bool next = choice == KeyDown || choice == KeyPageDown;
        // With nothing to step to, these keys once moved the tree's selection, as far as the
        // next root outside the journey's folders; a widget test keeps that mended.
        if (pane == Pane::Tree && !action(next ? cmd::NextImage : cmd::PreviousImage)->isEnabled())
            return;
        expectStep(next);
        break;
    }
    case KeySpace:
        m_expect.doc = DocExpect::Same;
        if (pane == Pane::View)
            m_expect.showNotes = doc().hasNoteLayer() ? !view().showNotes() : view().showNotes();
        break;
    case KeyF6:
    case KeyShiftF6: {
        // The focus goes round the panes that are shown: tree, list, image view.
        m_expect.doc = DocExpect::Same;
        std::vector<Pane> panes;
        if (shown(tree()))
            panes.push_back(Pane::Tree);
        if (listShown())
            panes.push_back(Pane::List);
        if (shown(view()))
            panes.push_back(Pane::View);
        if (panes.empty())
            break;
        const int count = static_cast<int>(panes.size());
        const int step6 = choice == KeyF6 ? 1 : -1;
        int at = step6 > 0 ? -1 : count;
        for (int i = 0; i < count; ++i) {
            if (panes[static_cast<size_t>(i)] == pane)
                at = i;
        }
        m_expect.focus = panes[static_cast<size_t>(((at + step6) % count + count) % count)];
        break;
    }
    case KeyDelete:
        // Nothing outside the journey's home is ever offered for deletion.
        if (!expectDelete(pane, step.arg(1)))
            return;
        break;
    default:
        m_expect.doc = DocExpect::Same;
        break;
    }
    pressKey(m_frame.get(), kKeys[choice].key, kKeys[choice].modifiers);
}

void ReaderSession::doRename(const Step& step)
{
    const Pane pane = focusPane();
    std::string target;
    if (pane == Pane::Tree) {
        QTreeWidgetItem* item = tree().currentItem();
        if (!item || (FolderTreeWidget::itemKind(item) != TreeItemKind::Folder &&
                      FolderTreeWidget::itemKind(item) != TreeItemKind::File))
            return;
        target = tree().itemPath(item);
    } else if (pane == Pane::List) {
        const QModelIndex index = list().currentIndex();
        if (!index.isValid() || !listInJourney())
            return;
        const int folders = static_cast<int>(list().folders().size());
        const std::string& name =
            index.row() < folders ? list().folders()[static_cast<size_t>(index.row())].name
                                  : list().files()[static_cast<size_t>(index.row() - folders)].name;
        if (name == "..")
            return;
        target = list().folderPath() + name;
    } else {
        return;
    }
    // Nothing outside the journey's home is ever renamed.
    if (!within(target, m_home) || target == m_home)
        return;

    pressKey(m_frame.get(), Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QWidget* paneWidget =
        pane == Pane::Tree ? static_cast<QWidget*>(&tree()) : static_cast<QWidget*>(&listView());
    if (!editor || !paneWidget->isAncestorOf(editor)) {
        m_performFailure = std::string("F2 in ") + paneName(pane) +
                           " opened no editor for the name " + nameOf(target);
        return;
    }

    const std::string oldName = nameOf(target);
    const std::string folder = parentOf(target);
    const auto dot = oldName.rfind('.');
    const std::string stem =
        dot == std::string::npos || dot == 0 ? oldName : oldName.substr(0, dot);
    const std::string extension = extensionOf(oldName);
    const std::string number = std::to_string(step.arg(1));
    std::string newName;
    switch (step.arg(0) % NameKindCount) {
    case NameSameExtension:
        newName = stem + "-" + number + (dot == std::string::npos ? "" : "." + extension);
        break;
    case NameOtherExtension:
        newName = stem + "-" + number + "." + kOtherExtensions[step.arg(1) % 6];
        break;
    case NameOfASibling: {
        std::vector<std::string> siblings;
        std::error_code error;
        for (auto it = fs::directory_iterator(folder, error);
             !error && it != fs::directory_iterator(); it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name != oldName)
                siblings.push_back(name);
        }
        std::sort(siblings.begin(), siblings.end());
        newName = siblings.empty() ? oldName
                                   : siblings[static_cast<size_t>(step.arg(1)) % siblings.size()];
        break;
    }
    case NameExtensionCase: {
        newName = oldName;
        for (size_t i = dot == std::string::npos ? newName.size() : dot + 1; i < newName.size();
             ++i)
            newName[i] = static_cast<char>(std::isupper(static_cast<unsigned char>(newName[i]))
                                               ? std::tolower(newName[i])
                                               : std::toupper(newName[i]));
        break;
    }
    case NameWithoutExtension:
        newName = stem + "-" + number;
        break;
    case NameEmpty:
        break;
    case NameWithSlash:
        newName = stem + "/" + number;
        break;
    default:
        newName = "." + stem + number;
        break;
    }

    const std::string to = folder + "/" + newName;
    m_note = oldName + " -> " + newName;
    std::error_code error;
    const bool isFolder = fs::is_directory(target, error);
    const bool valid = !newName.empty() && newName.find('/') == std::string::npos &&
                       newName != oldName && newName != "." && newName != "..";
    const bool asks = valid && !isFolder && extensionOf(newName) != extension;
    // A listing made before its folder was renamed names entries that are gone.
    struct stat info {};
    const bool gone = ::lstat(target.c_str(), &info) != 0;
    const bool taken = ::lstat(to.c_str(), &info) == 0;
    const bool renamed =
        valid && !gone && !taken && (!asks || answerFor(step.arg(2)) == Answer::Yes);
    m_expect.question = reader::kChangeExtensionQuestion;
    m_expect.asked = asks;
    if (asks)
        m_prompt.queueAnswer(answerFor(step.arg(2)));
    m_expect.doc = DocExpect::Same;
    if (renamed) {
        m_expect.change = FileChange{FileChange::Kind::Rename, target, to};
        m_expect.renamedIn = pane;
        // The picture on show is read again under a name with another extension.
        if (target == doc().currentPath() && asks) {
            m_expect.doc = DocExpect::Opens;
            m_expect.opens = to;
        }
    }
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, QString::fromStdString(newName));
    QTest::keyClick(editor, Qt::Key_Return);
}

// A command given with a toolbar button or a menu item; `click` answers whether the user could
// reach it at all.
void ReaderSession::doCommand(int id, const Step& step, const std::function<bool()>& click)
{
    const bool enabled = action(id) && action(id)->isEnabled();
    switch (id) {
    case cmd::NewFolder:
        if (!within(doc().currentPath(), m_home) && !doc().currentPath().empty())
            return;
        expectNewFolder();
        break;
    case cmd::Delete:
        // The button and the menu take no focus: the pane the user was last in is meant.
        if (!expectDelete(m_lastPane, step.arg(0)))
            return;
        break;
    case cmd::PreviousImage:
    case cmd::NextImage:
        if (!list().folderPath().empty() && !listInJourney())
            return;
        expectStep(id == cmd::NextImage);
        break;
    case cmd::DisplayNotes:
        m_expect.doc = DocExpect::Same;
        m_expect.showNotes = enabled ? !view().showNotes() : view().showNotes();
        break;
    case cmd::ColourSelected:
    case cmd::RightBackground:
        m_prompt.queueColour(Rgb{static_cast<uint8_t>(step.arg(1)),
                                 static_cast<uint8_t>(step.arg(2)),
                                 static_cast<uint8_t>(step.arg(3))});
        m_expect.doc = DocExpect::Same;
        break;
    default:
        m_expect.doc = DocExpect::Same;
        break;
    }
    if (id == cmd::FullScreen && !frame().isFullScreenMode()) {
        m_savedGeometry = frame().geometry();
        m_savedSplitter = frame().splitter()->sizes();
        m_savedToolbar = frame().mainToolBar()->isVisible();
        m_savedStatusBar = frame().statusBar()->isVisible();
    }
    if (!click()) {
        m_expect = Expectation();
        m_expect.doc = DocExpect::Same;
    }
}

void ReaderSession::doDrop(const Step& step)
{
    if (!shown(view()))
        return;
    const auto paths = homeEntries(step.arg(0) == 1);
    if (paths.empty())
        return;
    const std::string path = paths[static_cast<size_t>(step.arg(1)) % paths.size()];
    m_note = path;
    m_expect.listFolder = slashEnded(step.arg(0) == 1 ? path : parentOf(path));
    m_expect.listFollowsTree = true;
    if (step.arg(0) == 1) {
        m_expect.doc = DocExpect::Empty;
        m_expect.treeSelected = path;
        m_expect.listCurrent = std::string();
    } else {
        m_expect.doc = DocExpect::Opens;
        m_expect.opens = path;
        m_expect.opensKeepsNotes = true;
        m_expect.listMarksOpened = true;
        m_expect.treeSelected = parentOf(path);
    }
    const QSize size = view().viewport()->size();
    dropFile(
        view().viewport(),
        QPoint(step.arg(2) % std::max(1, size.width()), step.arg(3) % std::max(1, size.height())),
        QString::fromStdString(path));
}

int clampedTo(int value, int low, int high)
{
    return std::max(low, std::min(high, value));
}

// Dragging with the left button alone pans the picture, as far as it goes; with a modifier key
// held it does nothing.
void ReaderSession::doViewDrag(const Step& step)
{
    if (!shown(view()))
        return;
    const QSize size = view().viewport()->size();
    const QPoint from(step.arg(0) % std::max(1, size.width()),
                      step.arg(1) % std::max(1, size.height()));
    const QPoint to(step.arg(2) % std::max(1, size.width()),
                    step.arg(3) % std::max(1, size.height()));
    Qt::KeyboardModifiers modifiers;
    if (step.arg(4) & 1)
        modifiers |= Qt::ShiftModifier;
    if (step.arg(4) & 2)
        modifiers |= Qt::ControlModifier;
    if (step.arg(4) & 4)
        modifiers |= Qt::AltModifier;
    const int moves = step.arg(5);
    m_expect.doc = DocExpect::Same;
    QPoint scroll = view().inspect().scroll;
    if (modifiers == Qt::NoModifier && moves >= 0) {
        const QScrollBar* across = view().horizontalScrollBar();
        const QScrollBar* down = view().verticalScrollBar();
        scroll =
            QPoint(clampedTo(scroll.x() + from.x() - to.x(), across->minimum(), across->maximum()),
                   clampedTo(scroll.y() + from.y() - to.y(), down->minimum(), down->maximum()));
    }
    m_expect.scroll = scroll;
    dragMouse(view().viewport(), from, to, moves, modifiers);
}

void ReaderSession::perform(const Step& step, bool first)
{
    if (const Pane pane = focusPane(); pane != Pane::Other)
        m_lastPane = pane;
    m_expect = Expectation();
    m_performFailure.reset();
    m_note.clear();
    m_messagesBefore = m_prompt.messageCount();
    m_hadImage = doc().hasImage();
    m_imageBefore = doc().image().data();
    m_currentBefore = doc().currentPath();
    m_showNotesBefore = view().showNotes();
    m_scrollBefore = view().inspect().scroll;
    m_listFolderBefore = list().folderPath();
    m_listCurrentBefore = listCurrentPath();
    m_treeSelectedBefore = tree().selectedItem();
    m_fullScreenBefore = frame().isFullScreenMode();

    const std::string& verb = step.verb;
    if (verb == "start") {
        if (first)
            doStart(step);
    } else if (verb == "tree") {
        doTree(step);
    } else if (verb == "treedrag") {
        doTreeDrag(step);
    } else if (verb == "list") {
        doList(step);
    } else if (verb == "listtype") {
        doListType(step);
    } else if (verb == "listwheel") {
        if (listShown()) {
            m_expect.doc = DocExpect::Same;
            turnWheel(listView().viewport(), listView().viewport()->rect().center(), step.arg(0),
                      false);
        }
    } else if (verb == "key") {
        doKey(step);
    } else if (verb == "rename") {
        doRename(step);
    } else if (verb == "tool") {
        const int id = kToolButtons[step.arg(0) % kToolButtonCount];
        Step answer{verb, {step.arg(1)}, {}};
        doCommand(id, answer, [this, id] {
            QToolBar* bar = frame().mainToolBar();
            return bar->isVisible() && clickToolButton(bar, action(id));
        });
    } else if (verb == "imagetool") {
        const int id = kImageTools[step.arg(0) % kImageToolCount];
        doCommand(id, step, [this, id] {
            QToolBar* bar = frame().imageTools();
            return bar->isVisible() && clickToolButton(bar, action(id));
        });
    } else if (verb == "menu") {
        const MenuChoice& choice = kMenus[step.arg(0) % kMenuCount];
        const int id = choice.items[static_cast<size_t>(step.arg(1)) % choice.items.size()];
        Step answers{verb, {step.arg(2), step.arg(3), step.arg(4), step.arg(5)}, {}};
        doCommand(id, answers, [this, &choice, id] {
            return clickMenuItem(m_frame.get(), frame().menu(QString::fromLatin1(choice.menu)),
                                 action(id));
        });
    } else if (verb == "drag") {
        doViewDrag(step);
    } else if (verb == "wheel") {
        if (shown(view())) {
            m_expect.doc = DocExpect::Same;
            QPoint scroll = view().inspect().scroll;
            if (step.arg(1) == 0) {
                const QScrollBar* down = view().verticalScrollBar();
                scroll.setY(
                    clampedTo(scroll.y() + (-step.arg(0)) / 5, down->minimum(), down->maximum()));
            }
            m_expect.scroll = scroll;
            turnWheel(view().viewport(), view().viewport()->rect().center(), step.arg(0),
                      step.arg(1) != 0);
        }
    } else if (verb == "viewclick") {
        if (shown(view())) {
            m_expect.doc = DocExpect::Same;
            const QSize size = view().viewport()->size();
            QTest::mouseClick(view().viewport(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(step.arg(0) % std::max(1, size.width()),
                                     step.arg(1) % std::max(1, size.height())));
        }
    } else if (verb == "drop") {
        doDrop(step);
    } else if (verb == "thumbnails") {
        // The list switches between details and thumbnails, keeping its current file and the
        // focus.
        m_expect.doc = DocExpect::Same;
        m_expect.listSame = true;
        m_expect.treeSelectionSame = true;
        m_expect.focus = focusPane();
        pressKey(m_frame.get(), Qt::Key_T, Qt::ControlModifier);
    } else if (verb == "resize") {
        if (!frame().isFullScreenMode()) {
            m_expect.doc = DocExpect::Same;
            frame().resize(step.arg(0), step.arg(1));
        }
    }
    settle();
    m_prompt.clearScript();
}

// ---- checks -------------------------------------------------------------------------------

std::optional<std::string> ReaderSession::check()
{
    std::optional<std::string> broken = m_performFailure;
    for (auto part : {&ReaderSession::checkFiles, &ReaderSession::checkPanes,
                      &ReaderSession::checkDocument, &ReaderSession::checkFullScreen,
                      &ReaderSession::checkCommandState, &ReaderSession::checkScreen}) {
        if (!broken)
            broken = (this->*part)();
    }
    if (!broken)
        return std::nullopt;
    // The journey's folder has another name in every run; the messages of one fault must not.
    for (const auto& [folder, name] :
         {std::pair{m_home, std::string("~")}, std::pair{m_dir.path(), std::string("<journey>")}}) {
        for (auto at = broken->find(folder); at != std::string::npos; at = broken->find(folder))
            broken->replace(at, folder.size(), name);
    }
    return broken;
}

std::string describeDifference(const Snapshot& expected, const Snapshot& actual,
                               const std::string& base)
{
    const auto shortName = [&base](const std::string& path) {
        return within(path, base) && path != base ? path.substr(base.size() + 1) : path;
    };
    for (const auto& [path, entry] : expected) {
        auto found = actual.find(path);
        if (found == actual.end())
            return shortName(path) + " is gone";
        if (!(found->second == entry) && !(entry.folder && found->second.folder))
            return shortName(path) + " changed";
    }
    for (const auto& [path, entry] : actual) {
        if (!expected.count(path))
            return shortName(path) + " appeared";
    }
    return {};
}

std::optional<std::string> ReaderSession::checkFiles()
{
    Snapshot home = snapshot(m_home);
    Snapshot other = snapshot(m_dir.path(), m_leftOut);
    Snapshot expected = m_homeFiles;
    const FileChange& change = m_expect.change;
    uint64_t deletedInode = 0;
    switch (change.kind) {
    case FileChange::Kind::None:
        break;
    case FileChange::Kind::NewFolder:
        expected[change.to] = Entry{true, 0, 0, 0};
        if (auto found = home.find(change.to); found != home.end() && found->second.folder)
            expected[change.to] = found->second;
        break;
    case FileChange::Kind::Rename: {
        Snapshot moved;
        for (const auto& [path, entry] : expected)
            moved[renamedPath(path, change.from, change.to)] = entry;
        expected = std::move(moved);
        break;
    }
    case FileChange::Kind::Delete:
        deletedInode = expected.count(change.from) ? expected[change.from].inode : 0;
        for (auto it = expected.begin(); it != expected.end();)
            it = within(it->first, change.from) ? expected.erase(it) : std::next(it);
        break;
    }
    const char* what = change.kind == FileChange::Kind::NewFolder ? "New Folder"
                       : change.kind == FileChange::Kind::Rename  ? "a rename"
                       : change.kind == FileChange::Kind::Delete  ? "a delete"
                                                                  : "no file command";
    const std::string difference = describeDifference(expected, home, m_home);
    if (!difference.empty()) {
        std::string message = "in the home folder " + difference + " after " + what;
        if (change.kind == FileChange::Kind::NewFolder && !home.count(change.to))
            message = "New Folder did not make " + change.to.substr(m_home.size() + 1);
        else if (change.kind == FileChange::Kind::Rename && !home.count(change.to))
            message = "the rename to " + nameOf(change.to) + " did not happen (" + difference + ")";
        else if (change.kind == FileChange::Kind::Delete && home.count(change.from))
            message = "the delete of " + change.from.substr(m_home.size() + 1) + " did not happen";
        return message;
    }
    // Outside the home folder only the trash may change, and only by a delete.
    Snapshot otherExpected = m_otherFiles;
    if (change.kind == FileChange::Kind::Delete) {
        const std::string trash = m_data + "/Trash";
        bool foundFile = false;
        bool foundInfo = false;
        for (const auto& [path, entry] : other) {
            if (otherExpected.count(path) || !within(path, m_data))
                continue;
            if (parentOf(path) == trash + "/files" && entry.inode == deletedInode)
                foundFile = true;
            if (parentOf(path) == trash + "/info" && !entry.folder) {
                std::ifstream info(path);
                for (std::string line; std::getline(info, line);)
                    foundInfo = foundInfo || percentDecoded(line) == "Path=" + change.from;
            }
            otherExpected[path] = entry;
        }
        if (!foundFile || !foundInfo)
            return "the deleted " + change.from.substr(m_home.size() + 1) + " is not in the trash" +
                   (foundFile ? " information" : "");
    }
    const std::string outside = describeDifference(otherExpected, other, m_dir.path());
    if (!outside.empty())
        return "outside the home folder " + outside + " after " + what;
    m_homeFiles = std::move(home);
    m_otherFiles = std::move(other);
    if (change.kind == FileChange::Kind::Rename)
        m_listRenames.emplace_back(change.from, change.to);
    return std::nullopt;
}

std::optional<std::string> ReaderSession::checkDocument()
{
    const std::string current = doc().currentPath();
    std::error_code error;
    if (doc().hasImage() && !fs::is_regular_file(current, error))
        return "the picture on show comes from " + current + ", which is no file";
    std::string expectedCurrent = m_currentBefore;
    if (m_expect.change.kind == FileChange::Kind::Rename)
        expectedCurrent = renamedPath(expectedCurrent, m_expect.change.from, m_expect.change.to);
    if (m_expect.question.size() && m_expect.asked) {
        bool asked = false;
        for (size_t i = m_messagesBefore; i < m_prompt.messageCount(); ++i)
            asked = asked || m_prompt.messages()[i].rfind(m_expect.question, 0) == 0;
        if (!asked)
            return "no question \"" + m_expect.question + "\" was asked";
    }
    if (m_expect.question.size() && !m_expect.asked) {
        for (size_t i = m_messagesBefore; i < m_prompt.messageCount(); ++i) {
            if (m_prompt.messages()[i].rfind(m_expect.question, 0) == 0)
                return "the question \"" + m_prompt.messages()[i] + "\" was asked";
        }
    }
    switch (m_expect.doc) {
    case DocExpect::Any:
        break;
    case DocExpect::Same:
        if (doc().hasImage() != m_hadImage || (m_hadImage && doc().image().data() != m_imageBefore))
            return std::string("the step ") +
                   (doc().hasImage() ? (m_hadImage ? "replaced" : "brought") : "took away") +
                   " the picture on show";
        break;
    case DocExpect::Empty:
        if (doc().hasImage())
            return "a picture is held after a folder was chosen or the picture's file went";
        break;
    case DocExpect::Opens: {
        const std::string& target = m_expect.opens;
        if (doc().hasImage()) {
            if (current != target)
                return "opening " + target + " shows " + current;
            expectedCurrent = target;
            const bool notes = m_expect.opensKeepsNotes ? m_showNotesBefore : false;
            if (view().showNotes() != notes)
                return std::string("the notes are ") + (view().showNotes() ? "shown" : "hidden") +
                       " on a picture just opened by " +
                       (m_expect.opensKeepsNotes ? "a drop" : "a click or a step");
        } else if (!loadCheckedImage(target).image.isNull()) {
            return "opening the picture " + target + " shows nothing";
        }
        break;
    }
    }
    if (m_expect.showNotes && view().showNotes() != *m_expect.showNotes)
        return std::string("the notes are ") + (view().showNotes() ? "shown" : "hidden") +
               " after the notes command";
    if (current != expectedCurrent)
        return "the document's current file is " + current + " instead of " + expectedCurrent;
    if (m_expect.scroll && view().inspect().scroll != *m_expect.scroll)
        return "the picture is scrolled to " + std::to_string(view().inspect().scroll.x()) + ", " +
               std::to_string(view().inspect().scroll.y()) + " instead of " +
               std::to_string(m_expect.scroll->x()) + ", " + std::to_string(m_expect.scroll->y()) +
               " (from " + std::to_string(m_scrollBefore.x()) + ", " +
               std::to_string(m_scrollBefore.y()) + ")";
    return std::nullopt;
}

std::optional<std::string> ReaderSession::checkPanes()
{
    if (m_expect.listFollowsTree)
        m_listFollowsTree = *m_expect.listFollowsTree;
    const std::string listFolder = list().folderPath();
    const std::string listCurrent = listCurrentPath();
    if (m_expect.listSame &&
        (listFolder != m_listFolderBefore || listCurrent != m_listCurrentBefore))
        return "the file list changed to " + listFolder + " (current file \"" + listCurrent +
               "\") on a step that chooses nothing";
    if (m_expect.treeSelectionSame && tree().selectedItem() != m_treeSelectedBefore)
        return "the folder tree's selection moved to " +
               (tree().selectedItem() ? tree().itemPath(tree().selectedItem()) : "nothing") +
               " on a step that chooses nothing";
    if (m_expect.listFolder && listFolder != *m_expect.listFolder)
        return "the file list shows " + (listFolder.empty() ? "nothing" : listFolder) +
               " instead of " + *m_expect.listFolder;
    if (m_expect.listCurrent && listCurrent != *m_expect.listCurrent)
        return "the file list's current file is \"" + listCurrent + "\" instead of \"" +
               *m_expect.listCurrent + "\"";
    if (m_expect.listMarksOpened && doc().hasImage() && listCurrent != doc().currentPath())
        return "the file list's current file is \"" + listCurrent + "\" while the opened " +
               doc().currentPath() + " is on show";
    if (m_expect.treeSelected) {
        QTreeWidgetItem* selected = tree().selectedItem();
        const std::string path = selected ? tree().itemPath(selected) : "nothing";
        if (path != *m_expect.treeSelected)
            return "the folder tree selects " + path + " instead of " + *m_expect.treeSelected;
    }
    if (m_expect.focus && focusPane() != *m_expect.focus)
        return std::string("the focus is in ") + paneName(focusPane()) + " instead of " +
               paneName(*m_expect.focus);
    // The list shows the folder the tree highlights, unless the user went into a folder in the
    // list itself. A renamed folder keeps its old spelling in the list.
    if (m_listFollowsTree && !listFolder.empty() && shown(tree())) {
        QTreeWidgetItem* highlight = tree().selectedItem();
        if (!highlight)
            highlight = tree().currentItem();
        std::string shownFolder = listFolder;
        for (const auto& [from, to] : m_listRenames)
            shownFolder = slashEnded(renamedPath(trimmed(shownFolder), from, to));
        const std::string highlighted =
            highlight ? slashEnded(tree().itemPath(highlight)) : std::string("nothing");
        if (highlight && shownFolder != highlighted)
            return "the folder tree highlights " + highlighted + " while the file list shows " +
                   listFolder;
    }
    // The list's current file is the picture on show, when there is one.
    if (doc().hasImage() && !listCurrent.empty()) {
        std::string listed = listCurrent;
        for (const auto& [from, to] : m_listRenames)
            listed = renamedPath(listed, from, to);
        if (listed != doc().currentPath())
            return "the file list's current file is " + listCurrent + " while " +
                   doc().currentPath() + " is on show";
    }
    // A new listing starts at its first row.
    const bool relisted =
        listFolder != m_listFolderBefore ||
        (m_expect.listFolder && m_expect.listCurrent && m_expect.listCurrent->empty());
    const int scrolled = listView().verticalScrollBar()->value();
    if (relisted && list().currentFileIndex() < 0 && scrolled != 0)
        return "the new listing of " + listFolder + " starts scrolled down by " +
               std::to_string(scrolled);
    // A deleted entry is gone from the list and from the tree.
    if (m_expect.change.kind == FileChange::Kind::Delete) {
        const std::string& gone = m_expect.change.from;
        for (const auto* group : {&list().folders(), &list().files()})
            for (const auto& entry : *group)
                if (list().folderPath() + entry.name == gone)
                    return "the file list still shows the deleted " + nameOf(gone);
        for (QTreeWidgetItemIterator it(&tree()); *it; ++it) {
            if (FolderTreeWidget::itemKind(*it) != TreeItemKind::Placeholder &&
                tree().itemPath(*it) == gone)
                return "the folder tree still shows the deleted " + nameOf(gone);
        }
    }
    // A renamed entry shows its new name where it was renamed.
    if (m_expect.renamedIn == Pane::Tree) {
        bool found = false;
        for (QTreeWidgetItemIterator it(&tree()); *it && !found; ++it)
            found = tree().itemPath(*it) == m_expect.change.to;
        if (!found)
            return "the folder tree does not show the new name " + nameOf(m_expect.change.to);
    } else if (m_expect.renamedIn == Pane::List) {
        bool found = false;
        for (const auto* group : {&list().folders(), &list().files()})
            for (const auto& entry : *group)
                found = found || list().folderPath() + entry.name == m_expect.change.to;
        if (!found)
            return "the file list does not show the new name " + nameOf(m_expect.change.to);
    }
    return std::nullopt;
}

std::optional<std::string> ReaderSession::checkFullScreen()
{
    const auto describe = [](const QRect& rect) {
        return std::to_string(rect.x()) + ", " + std::to_string(rect.y()) + " " +
               std::to_string(rect.width()) + " x " + std::to_string(rect.height());
    };
    if (frame().isFullScreenMode()) {
        if (frame().menuBar()->isVisible() || frame().mainToolBar()->isVisible() ||
            frame().imageTools()->isVisible() || frame().statusBar()->isVisible())
            return "a bar is shown in full screen";
        const QRect pane(view().viewport()->mapToGlobal(QPoint(0, 0)), view().viewport()->size());
        const QRect screen = frame().screen()->geometry();
        if (pane != screen)
            return "in full screen the picture covers " + describe(pane) + " of the screen " +
                   describe(screen);
        return std::nullopt;
    }
    if (!m_fullScreenBefore)
        return std::nullopt;
    if (frame().geometry() != m_savedGeometry)
        return "leaving full screen puts the window at " + describe(frame().geometry()) +
               " instead of " + describe(m_savedGeometry);
    if (frame().splitter()->sizes() != m_savedSplitter) {
        std::string sizes;
        for (int size : frame().splitter()->sizes())
            sizes += " " + std::to_string(size);
        return "leaving full screen leaves the panes" + sizes + " wide";
    }
    if (!frame().menuBar()->isVisible() || frame().mainToolBar()->isVisible() != m_savedToolbar ||
        frame().statusBar()->isVisible() != m_savedStatusBar)
        return "leaving full screen does not give back the menu and bars";
    return std::nullopt;
}

// While the file list has the focus, its own rule enables the zoom commands: at least one file.
std::optional<std::string> ReaderSession::checkCommandState()
{
    if (focusPane() != Pane::List)
        return std::nullopt;
    const bool files = !list().files().empty();
    for (int id : {cmd::ZoomIn, cmd::ZoomOut, cmd::OriginalSize}) {
        if (action(id)->isEnabled() != files)
            return action(id)->text().toStdString() + " is " + (files ? "disabled" : "enabled") +
                   " while the focused file list holds " + (files ? "files" : "no file");
    }
    return std::nullopt;
}

std::string hexColour(QRgb colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", colour & 0xFFFFFFu);
    return text;
}

std::optional<std::string> ReaderSession::checkScreen()
{
    if (!shown(view()))
        return std::nullopt;
    const QImage shown = view().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto back = view().backgroundColour();
    const QRgb background = qRgb(back & 0xFF, (back >> 8) & 0xFF, (back >> 16) & 0xFF) & 0xFFFFFFu;
    const auto at = [](int x, int y) {
        return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
    };
    const auto pixel = [&shown](int x, int y) {
        return reinterpret_cast<const QRgb*>(shown.constScanLine(y))[x] & 0xFFFFFFu;
    };
    // The first pixel of line[from, to) of another colour, or `to`.
    const auto firstOther = [](const QRgb* line, int from, int to, QRgb colour) {
        while (from < to && (line[from] & 0xFFFFFFu) == colour)
            ++from;
        return from;
    };
    const int width = shown.width();
    if (!doc().hasImage()) {
        for (int y = 0; y < shown.height(); ++y) {
            const int x = firstOther(reinterpret_cast<const QRgb*>(shown.constScanLine(y)), 0,
                                     width, background);
            if (x < width)
                return "with no picture the image view shows " + hexColour(pixel(x, y)) + " at " +
                       at(x, y);
        }
        return std::nullopt;
    }
    const Dib* display = doc().BuildDisplayImage(view().showNotes());
    if (!display)
        return std::string("the document holds a picture but has nothing to display");
    const QImage picture = dibToQImage(*display).convertToFormat(QImage::Format_RGB32);
    const QRect destination = view().inspect().destination.translated(-view().inspect().scroll);
    const bool exact = view().inspect().zoomMode == ZoomMode::Free && view().inspect().zoom == 1.0f;
    if (exact && destination.size() != picture.size())
        return "at zoom 1 a picture of " + std::to_string(picture.width()) + " x " +
               std::to_string(picture.height()) + " is placed " +
               std::to_string(destination.width()) + " x " + std::to_string(destination.height());
    if (view().inspect().zoomMode == ZoomMode::FitIn && !picture.isNull()) {
        // Fit In shows the whole picture, centred, as large as the pane allows.
        const QSize client = view().viewport()->size();
        const bool fills = std::abs(destination.width() - client.width()) <= 1 ||
                           std::abs(destination.height() - client.height()) <= 1;
        if (!QRect(QPoint(0, 0), client).adjusted(-1, -1, 1, 1).contains(destination) || !fills)
            return "Fit In places the picture at (" + std::to_string(destination.x()) + ", " +
                   std::to_string(destination.y()) + ") " + std::to_string(destination.width()) +
                   " x " + std::to_string(destination.height()) + " in a pane of " +
                   std::to_string(client.width()) + " x " + std::to_string(client.height());
    }
    for (int y = 0; y < shown.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const bool across = y >= destination.top() && y <= destination.bottom();
        const int left = across ? std::clamp(destination.left(), 0, width) : width;
        const int right = across ? std::clamp(destination.right() + 1, left, width) : width;
        for (const auto& [from, to] : {std::pair{0, left}, std::pair{right, width}}) {
            const int x = firstOther(line, from, to, background);
            if (x < to)
                return "the image view shows " + hexColour(pixel(x, y)) + " at " + at(x, y) +
                       " outside the picture, where the background belongs";
        }
        if (!exact || left == right)
            continue;
        const auto* want =
            reinterpret_cast<const QRgb*>(picture.constScanLine(y - destination.top()));
        for (int x = left; x < right; ++x) {
            const QRgb wanted = want[x - destination.left()] & 0xFFFFFFu;
            if ((line[x] & 0xFFFFFFu) != wanted)
                return "the image view shows " + hexColour(pixel(x, y)) + " at " + at(x, y) +
                       " where the picture's pixel " +
                       at(x - destination.left(), y - destination.top()) + " is " +
                       hexColour(wanted);
        }
    }
    if (exact || destination.isEmpty())
        return std::nullopt;
    // Scaled without blending: every shown pixel is one of the picture's, near where it belongs.
    // Reduced, one shown pixel stands for several of the picture's, any of which may be taken.
    const int reachX = 1 + picture.width() / destination.width();
    const int reachY = 1 + picture.height() / destination.height();
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; j < 7; ++j) {
            const int x = destination.left() + (2 * i + 1) * destination.width() / 14;
            const int y = destination.top() + (2 * j + 1) * destination.height() / 14;
            if (x < 0 || y < 0 || x >= shown.width() || y >= shown.height())
                continue;
            const int sx = (x - destination.left()) * picture.width() / destination.width();
            const int sy = (y - destination.top()) * picture.height() / destination.height();
            bool near = false;
            for (int dy = -reachY; dy <= reachY && !near; ++dy)
                for (int dx = -reachX; dx <= reachX && !near; ++dx)
                    near = picture.valid(sx + dx, sy + dy) &&
                           (picture.pixel(sx + dx, sy + dy) & 0xFFFFFFu) == pixel(x, y);
            if (!near)
                return "the image view shows " + hexColour(pixel(x, y)) + " at " + at(x, y) +
                       " where the picture's pixel " + at(sx, sy) + " is " +
                       hexColour(picture.valid(sx, sy) ? picture.pixel(sx, sy) : 0) + " (zoom " +
                       std::to_string(view().inspect().zoom) + ")";
        }
    }
    return std::nullopt;
}

std::string ReaderSession::state()
{
    std::ostringstream line;
    const auto shorter = [this](const std::string& path) {
        return within(path, m_home) ? "~" + path.substr(m_home.size()) : path;
    };
    if (!m_note.empty())
        line << "[" << shorter(m_note) << "] ";
    line << "picture " << (doc().hasImage() ? shorter(doc().currentPath()) : "none") << " (current "
         << shorter(doc().currentPath()) << "), list " << shorter(trimmed(list().folderPath()))
         << " #" << list().currentFileIndex() << ", tree "
         << (tree().selectedItem() ? shorter(tree().itemPath(tree().selectedItem())) : "-")
         << ", focus " << paneName(focusPane()) << ", zoom " << view().inspect().zoom << " mode "
         << static_cast<int>(view().inspect().zoomMode) << ", scroll "
         << view().inspect().scroll.x() << "," << view().inspect().scroll.y()
         << (view().showNotes() ? ", notes" : "")
         << (frame().isFullScreenMode() ? ", full screen" : "") << ", messages "
         << m_prompt.messageCount();
    return line.str();
}

Outcome runReaderJourney(const Journey& journey)
{
    const bool trace = std::getenv("OMBRI_JOURNEY_TRACE") != nullptr;
    ReaderSession session;
    for (size_t i = 0; i < journey.size(); ++i) {
        session.perform(journey[i], i == 0);
        reactivate(session.window());
        saveScreenshot(session.window(), i);
        if (trace)
            std::cout << encodeStep(journey[i]) << "  ->  " << session.state() << std::endl;
        if (auto broken = session.check())
            return Failure{i, *broken};
    }
    return std::nullopt;
}

} // namespace

const JourneyProgram kJourneyProgram{"reader", &makeReaderJourney, &runReaderJourney};

} // namespace ombri::journey
