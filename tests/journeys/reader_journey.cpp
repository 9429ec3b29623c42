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
#include "reader/ui/thumbnail_grid.h"
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

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
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
using reader::ThumbnailGrid;
using reader::ThumbnailScale;
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
    walkFolder(folder, [&](const std::string& path, const struct stat& info) {
        if (std::any_of(leftOut.begin(), leftOut.end(),
                        [&path](const std::string& out) { return within(path, out); }))
            return false;
        Entry entry;
        entry.folder = S_ISDIR(info.st_mode);
        entry.inode = static_cast<uint64_t>(info.st_ino);
        if (!entry.folder) {
            entry.size = static_cast<uintmax_t>(info.st_size);
            entry.modified =
                static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        }
        entries.emplace(path, entry);
        return true;
    });
    return entries;
}

// ---- what the journeys choose from --------------------------------------------------------

// What a key does in the journeys' expectations.
enum class KeyRole { Next, Previous, Notes, NextPane, PreviousPane, Jump, Delete, Other };

struct NamedKey {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    KeyRole role;
};

// Keys sent to whichever widget has the focus.
const NamedKey kKeys[] = {
    {"Down", Qt::Key_Down, Qt::NoModifier, KeyRole::Next},
    {"Up", Qt::Key_Up, Qt::NoModifier, KeyRole::Previous},
    {"PageDown", Qt::Key_PageDown, Qt::NoModifier, KeyRole::Next},
    {"PageUp", Qt::Key_PageUp, Qt::NoModifier, KeyRole::Previous},
    {"Space", Qt::Key_Space, Qt::NoModifier, KeyRole::Notes},
    {"Escape", Qt::Key_Escape, Qt::NoModifier, KeyRole::Other},
    {"F6", Qt::Key_F6, Qt::NoModifier, KeyRole::NextPane},
    {"Shift+F6", Qt::Key_F6, Qt::ShiftModifier, KeyRole::PreviousPane},
    {"Home", Qt::Key_Home, Qt::NoModifier, KeyRole::Jump},
    {"End", Qt::Key_End, Qt::NoModifier, KeyRole::Jump},
    {"0", Qt::Key_0, Qt::NoModifier, KeyRole::Other},
    {"1", Qt::Key_1, Qt::NoModifier, KeyRole::Other},
    {"=", Qt::Key_Equal, Qt::NoModifier, KeyRole::Other},
    {"-", Qt::Key_Minus, Qt::NoModifier, KeyRole::Other},
    {"Keypad+", Qt::Key_Plus, Qt::KeypadModifier, KeyRole::Other},
    {"Keypad-", Qt::Key_Minus, Qt::KeypadModifier, KeyRole::Other},
    {"Delete", Qt::Key_Delete, Qt::NoModifier, KeyRole::Delete},
};

struct NamedCommand {
    const char* name;
    int id;
};

// The main toolbar, Print left out (it opens the printer dialog) and Thumbnails given a verb of
// its own.
const NamedCommand kToolButtons[] = {
    {"NewFolder", cmd::NewFolder},       {"Delete", cmd::Delete},
    {"DisplayNotes", cmd::DisplayNotes}, {"PreviousImage", cmd::PreviousImage},
    {"NextImage", cmd::NextImage},       {"FitWidth", cmd::FitWidth},
    {"FitHeight", cmd::FitHeight},       {"FitIn", cmd::FitIn},
    {"ZoomOut", cmd::ZoomOut},           {"ZoomIn", cmd::ZoomIn},
    {"OriginalSize", cmd::OriginalSize}, {"FullScreen", cmd::FullScreen}};

const NamedCommand kImageTools[] = {{"BlackAndWhite", cmd::BlackAndWhite},
                                    {"AutoContrast", cmd::AutoContrast},
                                    {"AutoColour", cmd::AutoColour},
                                    {"InvertColour", cmd::InvertColour},
                                    {"ChannelRed", cmd::ChannelRed},
                                    {"ChannelGreen", cmd::ChannelGreen},
                                    {"ChannelBlue", cmd::ChannelBlue},
                                    {"FlipHorizontal", cmd::FlipHorizontal},
                                    {"FlipVertical", cmd::FlipVertical},
                                    {"RotateClockwise", cmd::RotateClockwise},
                                    {"RotateAnticlockwise", cmd::RotateAnticlockwise}};

struct NamedMenu {
    const char* name;
    const char* title;
    std::vector<NamedCommand> items;
};

// The menu items a journey clicks: the dialogs of printing, the settings and the Info menu, the
// web browser and Exit are left out, and View > Thumbnails has a verb of its own.
const NamedMenu kMenus[] = {
    {"File", "&File", {{"NewFolder", cmd::NewFolder}}},
    {"Edit", "&Edit", {{"Delete", cmd::Delete}, {"Cut", cmd::Cut}, {"Paste", cmd::Paste}}},
    {"View",
     "&View",
     {{"DisplayNotes", cmd::DisplayNotes},
      {"AntiAliasing", cmd::AntiAliasing},
      {"FitIn", cmd::FitIn},
      {"FitWidth", cmd::FitWidth},
      {"FitHeight", cmd::FitHeight},
      {"OriginalSize", cmd::OriginalSize},
      {"ZoomIn", cmd::ZoomIn},
      {"ZoomOut", cmd::ZoomOut},
      {"PreviousImage", cmd::PreviousImage},
      {"NextImage", cmd::NextImage}}},
    {"Color",
     "&Color",
     {{"Selected", cmd::ColourSelected},
      {"White", cmd::ColourWhite},
      {"Black", cmd::ColourBlack},
      {"Red", cmd::ColourRed},
      {"Green", cmd::ColourGreen},
      {"Blue", cmd::ColourBlue},
      {"Complement", cmd::ColourComplement},
      {"RightBackground", cmd::RightBackground}}},
    {"Image",
     "&Image",
     {{"Original", cmd::Original},
      {"AutoColour", cmd::AutoColour},
      {"AutoContrast", cmd::AutoContrast},
      {"InvertColour", cmd::InvertColour},
      {"BlackAndWhite", cmd::BlackAndWhite},
      {"ChannelRed", cmd::ChannelRed},
      {"ChannelGreen", cmd::ChannelGreen},
      {"ChannelBlue", cmd::ChannelBlue},
      {"FlipHorizontal", cmd::FlipHorizontal},
      {"FlipVertical", cmd::FlipVertical},
      {"RotateClockwise", cmd::RotateClockwise},
      {"RotateAnticlockwise", cmd::RotateAnticlockwise},
      {"Rotate180", cmd::Rotate180}}},
    {"Option",
     "&Option",
     {{"Toolbar", cmd::Toolbar}, {"StatusBar", cmd::StatusBar}, {"ImageTools", cmd::ImageTools}}},
};

const NamedCommand* findCommand(const std::vector<NamedCommand>& commands, const std::string& name)
{
    for (const NamedCommand& command : commands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

// How the list is switched between details and thumbnails.
const char* const kListModeWays[] = {"key", "menu", "button"};
const char* const kRefreshWays[] = {"key", "menu"};

// The keys that step from the image view: Left and Right scroll a picture wider than the view
// first, and step only at its edge.
const NamedKey kViewKeys[] = {
    {"Left", Qt::Key_Left, Qt::NoModifier, KeyRole::Previous},
    {"Right", Qt::Key_Right, Qt::NoModifier, KeyRole::Next},
    {"Backspace", Qt::Key_Backspace, Qt::NoModifier, KeyRole::Previous},
};

// View > Thumbnail Size's items, smallest first.
struct NamedThumbnailSize {
    const char* name;
    int id;
    ThumbnailScale scale;
};
const NamedThumbnailSize kThumbnailSizes[] = {
    {"small", cmd::ThumbnailsSmall, ThumbnailScale::Small},
    {"medium", cmd::ThumbnailsMedium, ThumbnailScale::Medium},
    {"large", cmd::ThumbnailsLarge, ThumbnailScale::Large},
};
const char* const kModifiers[] = {"none", "shift", "ctrl", "alt"};

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

Answer answerFor(const std::string& word)
{
    return word == "yes" ? Answer::Yes : Answer::No;
}

const char* randomAnswer(Rng& rng)
{
    return rng.chance(1, 2) ? "yes" : "no";
}

std::optional<Qt::KeyboardModifiers> modifiersNamed(const std::string& name)
{
    if (name == "none")
        return Qt::KeyboardModifiers();
    if (name == "shift")
        return Qt::KeyboardModifiers(Qt::ShiftModifier);
    if (name == "ctrl")
        return Qt::KeyboardModifiers(Qt::ControlModifier);
    if (name == "alt")
        return Qt::KeyboardModifiers(Qt::AltModifier);
    return std::nullopt;
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
    // The size the thumbnail grid draws its thumbnails at.
    std::optional<ThumbnailScale> thumbnailScale;
};

class ReaderSession {
  public:
    ReaderSession();
    ~ReaderSession();

    std::optional<std::string> perform(const Step& step, const Verb<ReaderSession>& verb);
    std::optional<std::string> check(const Step& step);
    std::string state();
    QWidget* window() { return m_frame.get(); }

    static const Verb<ReaderSession> kVerbs[];
    void drawOpening(Rng& rng, Journey& journey);

  private:
    ReaderWindow& frame() { return *m_frame; }
    reader::OpenableReaderDocument& doc() { return m_frame->document(); }
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

    std::string nameOfPath(const std::string& path) const;
    std::string pathOfName(const std::string& name) const;
    QTreeWidgetItem* visibleTreeItem(const std::string& path);
    std::vector<QTreeWidgetItem*> clickableTreeItems(bool slashRoot);
    std::string rowPath(int row);
    int visibleListRow(const std::string& path);
    std::optional<std::string> listRowFor(const Step& step, bool thumbnails, int& row);
    std::string renameTarget(Pane pane);
    const char* renamePaneName();
    QPoint pointInView(int x, int y);

    void drawTreeItem(const char* verb, const std::vector<QTreeWidgetItem*>& items, Rng& rng,
                      Journey& journey);
    void drawListRow(const char* verb, bool thumbnails, Rng& rng, Journey& journey);
    void drawTree(Rng& rng, Journey& journey);
    void drawTreeDouble(Rng& rng, Journey& journey);
    void drawTreeExpand(Rng& rng, Journey& journey);
    void drawTreeDrag(Rng& rng, Journey& journey);
    void drawList(Rng& rng, Journey& journey);
    void drawListDouble(Rng& rng, Journey& journey);
    void drawThumb(Rng& rng, Journey& journey);
    void drawThumbDouble(Rng& rng, Journey& journey);
    void drawListWheel(Rng& rng, Journey& journey);
    void drawListType(Rng& rng, Journey& journey);
    void drawListMode(Rng& rng, Journey& journey);
    void drawKey(Rng& rng, Journey& journey);
    void drawRename(Rng& rng, Journey& journey);
    void drawPress(Rng& rng, Journey& journey);
    void drawImageTool(Rng& rng, Journey& journey);
    void drawMenu(Rng& rng, Journey& journey);
    void drawViewDrag(Rng& rng, Journey& journey);
    void drawWheel(Rng& rng, Journey& journey);
    void drawViewClick(Rng& rng, Journey& journey);
    void drawDrop(Rng& rng, Journey& journey);
    void drawResize(Rng& rng, Journey& journey);
    void drawRefresh(Rng& rng, Journey& journey);
    void drawViewKey(Rng& rng, Journey& journey);
    void drawZoomWheel(Rng& rng, Journey& journey);
    void drawThumbSize(Rng& rng, Journey& journey);
    void drawThumbWheel(Rng& rng, Journey& journey);

    enum class TreeClick { Once, Twice, Expander };
    std::optional<std::string> clickTree(const Step& step, TreeClick how);
    std::optional<std::string> clickList(const Step& step, bool thumbnails, bool twice);
    std::optional<std::string> pressButton(QToolBar* bar, const char* barName,
                                           const NamedCommand* button, const Step& step);
    void doCommand(int id, const Step& step, size_t first, const std::function<bool()>& click);

    std::optional<std::string> runStart(const Step& step);
    std::optional<std::string> runTree(const Step& step);
    std::optional<std::string> runTreeDouble(const Step& step);
    std::optional<std::string> runTreeExpand(const Step& step);
    std::optional<std::string> runTreeDrag(const Step& step);
    std::optional<std::string> runList(const Step& step);
    std::optional<std::string> runListDouble(const Step& step);
    std::optional<std::string> runThumb(const Step& step);
    std::optional<std::string> runThumbDouble(const Step& step);
    std::optional<std::string> runListWheel(const Step& step);
    std::optional<std::string> runListType(const Step& step);
    std::optional<std::string> runListMode(const Step& step);
    std::optional<std::string> runKey(const Step& step);
    std::optional<std::string> runRename(const Step& step);
    std::optional<std::string> runPress(const Step& step);
    std::optional<std::string> runImageTool(const Step& step);
    std::optional<std::string> runMenu(const Step& step);
    std::optional<std::string> runViewDrag(const Step& step);
    std::optional<std::string> runWheel(const Step& step);
    std::optional<std::string> runViewClick(const Step& step);
    std::optional<std::string> runDrop(const Step& step);
    std::optional<std::string> runResize(const Step& step);
    std::optional<std::string> runRefresh(const Step& step);
    std::optional<std::string> runViewKey(const Step& step);
    std::optional<std::string> runZoomWheel(const Step& step);
    std::optional<std::string> runThumbSize(const Step& step);
    std::optional<std::string> runThumbWheel(const Step& step);
    void expectNothingChosen();

    void expectTreeSelection(const std::string& path);
    void expectStep(bool next);
    void expectPaneSwitch(Pane pane, int direction);
    bool expectDelete(Pane pane, const std::string& answer);
    void expectTreeDelete(const std::string& answer);
    bool expectListDelete(const std::string& answer);
    bool expectViewDelete(const std::string& answer);
    bool expectQuestion(const std::string& path, const std::string& answer);
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

    // The image view as last painted for the check, kept for the next one.
    QImage m_shown;
    Snapshot m_homeFiles;
    Snapshot m_otherFiles;
    // Renames since the file list was last filled: it keeps a renamed folder's old spelling.
    std::vector<std::pair<std::string, std::string>> m_listRenames;
    // The file list was last filled by the folder tree's selection (not by entering a folder).
    bool m_listFollowsTree = false;
    // The pane the user was last in: the toolbar's buttons and the menus take no focus from it,
    // and Delete acts on it. The tree has the focus at the start.
    Pane m_lastPane = Pane::Tree;
    int m_stepsTaken = 0;

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

// The name a step gives a path: relative to the home folder ("." for the home folder itself,
// "../outside" next to it), absolute beyond the journey's folder.
std::string ReaderSession::nameOfPath(const std::string& path) const
{
    const std::string spelt = trimmed(path);
    if (spelt == m_home)
        return ".";
    if (within(spelt, m_home))
        return spelt.substr(m_home.size() + 1);
    if (spelt == m_dir.path())
        return "..";
    if (within(spelt, m_dir.path()))
        return ".." + spelt.substr(m_dir.path().size());
    return spelt;
}

std::string ReaderSession::pathOfName(const std::string& name) const
{
    if (!name.empty() && name[0] == '/')
        return name;
    if (name == ".")
        return m_home;
    if (name == "..")
        return m_dir.path();
    if (name.rfind("../", 0) == 0)
        return m_dir.path() + name.substr(2);
    return m_home + "/" + name;
}

// Two spellings of one path: "pics/sub/.." is "pics".
bool samePath(const std::string& a, const std::string& b)
{
    return trimmed(fs::path(a).lexically_normal().string()) ==
           trimmed(fs::path(b).lexically_normal().string());
}

QTreeWidgetItem* ReaderSession::visibleTreeItem(const std::string& path)
{
    for (bool slashRoot : {false, true}) {
        for (QTreeWidgetItem* item : treeItems(slashRoot)) {
            if (tree().itemPath(item) == path)
                return item;
        }
    }
    return nullptr;
}

// The listed path of a row: its folder's path and the entry's name, ".." for the way up.
std::string ReaderSession::rowPath(int row)
{
    const int folders = static_cast<int>(list().folders().size());
    const std::string& name = row < folders
                                  ? list().folders()[static_cast<size_t>(row)].name
                                  : list().files()[static_cast<size_t>(row - folders)].name;
    return list().folderPath() + name;
}

int ReaderSession::visibleListRow(const std::string& path)
{
    for (const int row : listRows()) {
        if (samePath(rowPath(row), path))
            return row;
    }
    return -1;
}

// The list's rows can be clicked as details or as thumbnails, as the verb says; what the list
// shows must be one of the journey's folders.
std::optional<std::string> ReaderSession::listRowFor(const Step& step, bool thumbnails, int& row)
{
    if (list().thumbnailMode() != thumbnails)
        return std::string("the file list shows ") +
               (list().thumbnailMode() ? "thumbnails, not details" : "details, not thumbnails");
    if (!listShown() || !listInJourney())
        return "the file list shows none of the journey's folders";
    row = visibleListRow(pathOfName(step.word(0)));
    if (row < 0)
        return "the file list shows no " + step.word(0) + " where it can be clicked";
    return std::nullopt;
}

void ReaderSession::drawOpening(Rng& rng, Journey& journey)
{
    // Every journey starts as the program does when a picture is named on its command line, or
    // on the folder tree alone, with the list as details or, in a third of them, as thumbnails.
    const int start = rng.below(static_cast<int>(std::size(kStartPictures)) + 1);
    const std::string what =
        start < static_cast<int>(std::size(kStartPictures)) ? kStartPictures[start] : ".";
    journey.push_back(Step{"start", {what, rng.chance(1, 3) ? "thumbnails" : "details"}});
}

std::optional<std::string> ReaderSession::runStart(const Step& step)
{
    if (m_stepsTaken != 0)
        return std::string("only the first step of a journey starts the program");
    const std::string& mode = step.word(1);
    if (mode != "details" && mode != "thumbnails")
        return "the list starts as details or thumbnails, not as " + mode;
    const std::string path = pathOfName(step.word(0));
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return "the file " + step.word(0) + " does not exist";
    if (mode == "thumbnails")
        pressKey(m_frame.get(), Qt::Key_T, Qt::ControlModifier);
    if (path != m_home) {
        m_expect.doc = DocExpect::Opens;
        m_expect.opens = path;
        m_expect.listFolder = slashEnded(parentOf(path));
        m_expect.treeSelected = parentOf(path);
        m_expect.listMarksOpened = true;
        m_expect.listFollowsTree = true;
        frame().openFile(QString::fromStdString(path));
        return std::nullopt;
    }
    // The home folder from the tree.
    QTreeWidgetItem* item = visibleTreeItem(m_home);
    if (!item)
        return std::string("the folder tree shows no home folder");
    expectTreeSelection(m_home);
    const QRect rect = tree().visualItemRect(item);
    QTest::mouseClick(tree().viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(rect.left() + std::min(rect.width() / 2, 30), rect.center().y()));
    return std::nullopt;
}

// A click on the selected item starts editing its name once the double-click time has passed,
// which a journey cannot replay step for step: the journeys rename with F2, and click only
// items that are not selected.
std::vector<QTreeWidgetItem*> ReaderSession::clickableTreeItems(bool slashRoot)
{
    std::vector<QTreeWidgetItem*> items = treeItems(slashRoot);
    items.erase(std::remove(items.begin(), items.end(), tree().selectedItem()), items.end());
    return items;
}

void ReaderSession::drawTreeItem(const char* verb, const std::vector<QTreeWidgetItem*>& items,
                                 Rng& rng, Journey& journey)
{
    if (!shown(tree()) || items.empty())
        return;
    journey.push_back(Step{verb, {nameOfPath(tree().itemPath(rng.pick(items)))}});
}

void ReaderSession::drawTree(Rng& rng, Journey& journey)
{
    drawTreeItem("tree", clickableTreeItems(rng.chance(1, 12)), rng, journey);
}

void ReaderSession::drawTreeDouble(Rng& rng, Journey& journey)
{
    drawTreeItem("treedouble", clickableTreeItems(false), rng, journey);
}

void ReaderSession::drawTreeExpand(Rng& rng, Journey& journey)
{
    std::vector<QTreeWidgetItem*> items = treeItems(false);
    items.erase(std::remove_if(items.begin(), items.end(),
                               [](QTreeWidgetItem* item) { return item->childCount() == 0; }),
                items.end());
    drawTreeItem("treeexpand", items, rng, journey);
}

void ReaderSession::drawTreeDrag(Rng& rng, Journey& journey)
{
    const auto items = treeItems(false);
    if (!shown(tree()) || items.empty())
        return;
    journey.push_back(
        Step{"treedrag",
             {nameOfPath(tree().itemPath(rng.pick(items))),
              word((rng.chance(1, 2) ? 1 : -1) * rng.between(25, 160)), word(rng.between(0, 4))}});
}

std::optional<std::string> ReaderSession::runTree(const Step& step)
{
    return clickTree(step, TreeClick::Once);
}

std::optional<std::string> ReaderSession::runTreeDouble(const Step& step)
{
    return clickTree(step, TreeClick::Twice);
}

std::optional<std::string> ReaderSession::runTreeExpand(const Step& step)
{
    return clickTree(step, TreeClick::Expander);
}

std::optional<std::string> ReaderSession::clickTree(const Step& step, TreeClick how)
{
    const std::string path = pathOfName(step.word(0));
    QTreeWidgetItem* item = shown(tree()) ? visibleTreeItem(path) : nullptr;
    if (!item)
        return "the folder tree shows no " + step.word(0) + " where it can be clicked";
    if (how != TreeClick::Expander && item == tree().selectedItem())
        return step.word(0) + " is selected already: a click would start editing its name";
    if (how == TreeClick::Expander && item->childCount() == 0)
        return step.word(0) + " has no folders to show or hide";
    const QRect rect = tree().visualItemRect(item);
    const QPoint label(rect.left() + std::min(rect.width() / 2, 30), rect.center().y());
    QWidget* window = tree().viewport();
    m_note = path;
    if (how == TreeClick::Expander) {
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
        return std::nullopt;
    }
    expectTreeSelection(path);
    if (how == TreeClick::Twice) {
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, label);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, label);
        QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, label);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, label);
    } else {
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, label);
    }
    return std::nullopt;
}

// A drag in the tree only shows where it would go: it chooses nothing and moves nothing.
std::optional<std::string> ReaderSession::runTreeDrag(const Step& step)
{
    const std::string path = pathOfName(step.word(0));
    QTreeWidgetItem* item = shown(tree()) ? visibleTreeItem(path) : nullptr;
    if (!item || path == "/")
        return "the folder tree shows no " + step.word(0) + " where it can be dragged";
    m_note = path;
    const QRect rect = tree().visualItemRect(item);
    const QPoint from(rect.left() + std::min(rect.width() / 2, 30), rect.center().y());
    const QPoint to = from + QPoint(step.number(2) * 3, step.number(1));
    m_expect.doc = DocExpect::Same;
    m_expect.treeSelectionSame = true;
    m_expect.listSame = true;
    dragMouse(tree().viewport(), from, to, std::max(0, step.number(2)), Qt::NoModifier);
    return std::nullopt;
}

void ReaderSession::drawListRow(const char* verb, bool thumbnails, Rng& rng, Journey& journey)
{
    if (list().thumbnailMode() != thumbnails || !listShown() || !listInJourney())
        return;
    const auto rows = listRows();
    if (!rows.empty())
        journey.push_back(Step{verb, {nameOfPath(rowPath(rng.pick(rows)))}});
}

void ReaderSession::drawList(Rng& rng, Journey& journey)
{
    drawListRow("list", false, rng, journey);
}

void ReaderSession::drawListDouble(Rng& rng, Journey& journey)
{
    drawListRow("listdouble", false, rng, journey);
}

void ReaderSession::drawThumb(Rng& rng, Journey& journey)
{
    drawListRow("thumb", true, rng, journey);
}

void ReaderSession::drawThumbDouble(Rng& rng, Journey& journey)
{
    drawListRow("thumbdouble", true, rng, journey);
}

std::optional<std::string> ReaderSession::runList(const Step& step)
{
    return clickList(step, false, false);
}

std::optional<std::string> ReaderSession::runListDouble(const Step& step)
{
    return clickList(step, false, true);
}

std::optional<std::string> ReaderSession::runThumb(const Step& step)
{
    return clickList(step, true, false);
}

std::optional<std::string> ReaderSession::runThumbDouble(const Step& step)
{
    return clickList(step, true, true);
}

std::optional<std::string> ReaderSession::clickList(const Step& step, bool thumbnails, bool twice)
{
    int row = -1;
    if (auto missing = listRowFor(step, thumbnails, row))
        return missing;
    FileList& l = list();
    m_note = l.model()->index(row, 0).data().toString().toStdString();
    const int folders = static_cast<int>(l.folders().size());
    QWidget* window = listView().viewport();
    const QPoint at = listView().visualRect(l.model()->index(row, 0)).center();
    if (row < folders) {
        // One click on a folder does nothing; two go into it.
        m_expect.doc = DocExpect::Same;
        if (!twice) {
            m_expect.listSame = true;
            QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
            return std::nullopt;
        }
        const std::string& name = l.folders()[static_cast<size_t>(row)].name;
        const std::string folder = trimmed(l.folderPath());
        const std::string target = name == ".." ? parentOf(folder) : folder + "/" + name;
        // Up from the home folder is as far as a journey goes.
        if (!within(target, m_home) && target != m_dir.path())
            return std::nullopt;
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
        const std::string path = rowPath(row);
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
    return std::nullopt;
}

// An entry highlighted by its name is often one the user is about to delete: half the time the
// name of a folder, the way up left out, when there is one.
void ReaderSession::drawListType(Rng& rng, Journey& journey)
{
    if (!listShown() || !listInJourney())
        return;
    auto rows = listRows();
    const int folders = static_cast<int>(list().folders().size());
    const auto isFolder = [this, folders](int row) {
        return row < folders && list().folders()[static_cast<size_t>(row)].name != "..";
    };
    if (rng.chance(1, 2) && std::any_of(rows.begin(), rows.end(), isFolder))
        rows.erase(
            std::remove_if(rows.begin(), rows.end(), [&](int row) { return !isFolder(row); }),
            rows.end());
    if (rows.empty())
        return;
    journey.push_back(
        Step{"listtype", {nameOfPath(rowPath(rng.pick(rows))), word(rng.between(1, 2))}});
    if (rng.chance(1, 2))
        journey.push_back(Step{"key", {"Delete", randomAnswer(rng)}});
}

// Typing the first letters of a name in the focused list highlights an entry so named, as the
// keys Home and End highlight the first and last, without opening anything: a folder can be
// highlighted so, and then deleted.
std::optional<std::string> ReaderSession::runListType(const Step& step)
{
    if (!listShown() || !listInJourney())
        return std::string("the file list shows none of the journey's folders");
    const int row = visibleListRow(pathOfName(step.word(0)));
    if (row < 0)
        return "the file list shows no " + step.word(0);
    // F6 goes round the panes until the list has the focus.
    for (int press = 0; press < 3 && focusPane() != Pane::List; ++press)
        pressKey(m_frame.get(), Qt::Key_F6);
    if (focusPane() != Pane::List)
        return std::nullopt;
    const std::string name = list().model()->index(row, 0).data().toString().toStdString();
    const std::string typed = name.substr(0, static_cast<size_t>(std::max(1, step.number(1))));
    m_note = typed;
    m_expect.doc = DocExpect::Same;
    m_expect.treeSelectionSame = true;
    m_expect.listSame = true;
    m_expect.focus = Pane::List;
    QTest::keyClicks(&listView(), QString::fromStdString(typed));
    return std::nullopt;
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
bool ReaderSession::expectDelete(Pane pane, const std::string& answer)
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

void ReaderSession::expectTreeDelete(const std::string& answer)
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
bool ReaderSession::expectQuestion(const std::string& path, const std::string& answer)
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

bool ReaderSession::expectListDelete(const std::string& answer)
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

bool ReaderSession::expectViewDelete(const std::string& answer)
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

void ReaderSession::drawKey(Rng& rng, Journey& journey)
{
    const int roll = rng.below(13);
    if (roll < 3) {
        journey.push_back(Step{"key", {"Delete", randomAnswer(rng)}});
        return;
    }
    // Full screen is left with Escape often enough that a journey does not stay there.
    if (roll < 6) {
        journey.push_back(Step{"key", {"Escape"}});
        return;
    }
    // Stepping is what a user does most with the keys.
    std::vector<const NamedKey*> stepping;
    std::vector<const NamedKey*> keys;
    for (const NamedKey& key : kKeys) {
        if (key.role == KeyRole::Next || key.role == KeyRole::Previous)
            stepping.push_back(&key);
        if (key.role != KeyRole::Delete)
            keys.push_back(&key);
    }
    const NamedKey* key = rng.chance(1, 2) ? rng.pick(stepping) : rng.pick(keys);
    journey.push_back(Step{"key", {key->name}});
}

std::optional<std::string> ReaderSession::runKey(const Step& step)
{
    const NamedKey* key = findNamed(kKeys, step.word(0));
    if (!key)
        return "there is no key " + step.word(0);
    const Pane pane = focusPane();
    // In the tree these keys choose items the way clicks do; the journeys click instead.
    if (pane == Pane::Tree && (key->role == KeyRole::Notes || key->role == KeyRole::Jump))
        return std::nullopt;
    switch (key->role) {
    case KeyRole::Next:
    case KeyRole::Previous: {
        if (!list().folderPath().empty() && !listInJourney())
            return std::nullopt;
        const bool next = key->role == KeyRole::Next;
        // With nothing to step to, these keys once moved the tree's selection, as far as the
        // next root outside the journey's folders; a widget test keeps that mended.
        if (pane == Pane::Tree && !action(next ? cmd::NextImage : cmd::PreviousImage)->isEnabled())
            return std::nullopt;
        expectStep(next);
        break;
    }
    case KeyRole::Notes:
        m_expect.doc = DocExpect::Same;
        if (pane == Pane::View)
            m_expect.showNotes = doc().hasNoteLayer() ? !view().showNotes() : view().showNotes();
        break;
    case KeyRole::NextPane:
    case KeyRole::PreviousPane:
        expectPaneSwitch(pane, key->role == KeyRole::NextPane ? 1 : -1);
        break;
    case KeyRole::Delete:
        // Nothing outside the journey's home is ever offered for deletion.
        if (!expectDelete(pane, step.word(1)))
            return std::nullopt;
        break;
    default:
        m_expect.doc = DocExpect::Same;
        break;
    }
    pressKey(m_frame.get(), key->key, key->modifiers);
    return std::nullopt;
}

// The focus goes round the panes that are shown: tree, list, image view.
void ReaderSession::expectPaneSwitch(Pane pane, int direction)
{
    m_expect.doc = DocExpect::Same;
    std::vector<Pane> panes;
    if (shown(tree()))
        panes.push_back(Pane::Tree);
    if (listShown())
        panes.push_back(Pane::List);
    if (shown(view()))
        panes.push_back(Pane::View);
    if (panes.empty())
        return;
    const int count = static_cast<int>(panes.size());
    int at = direction > 0 ? -1 : count;
    for (int i = 0; i < count; ++i) {
        if (panes[static_cast<size_t>(i)] == pane)
            at = i;
    }
    m_expect.focus = panes[static_cast<size_t>(((at + direction) % count + count) % count)];
}

// The entry F2 edits in the pane with the focus: the tree's current item, or the list's current
// row; empty when there is none a journey may rename.
std::string ReaderSession::renameTarget(Pane pane)
{
    std::string target;
    if (pane == Pane::Tree) {
        QTreeWidgetItem* item = tree().currentItem();
        if (!item || (FolderTreeWidget::itemKind(item) != TreeItemKind::Folder &&
                      FolderTreeWidget::itemKind(item) != TreeItemKind::File))
            return std::string();
        target = tree().itemPath(item);
    } else if (pane == Pane::List) {
        const QModelIndex index = list().currentIndex();
        if (!index.isValid() || !listInJourney() || index.row() >= list().model()->rowCount())
            return std::string();
        const int folders = static_cast<int>(list().folders().size());
        if (index.row() < folders &&
            list().folders()[static_cast<size_t>(index.row())].name == "..")
            return std::string();
        target = rowPath(index.row());
    }
    // Nothing outside the journey's home is ever renamed.
    if (!within(target, m_home) || target == m_home)
        return std::string();
    return target;
}

// The pane a rename is typed in, as a step names it.
const char* ReaderSession::renamePaneName()
{
    switch (focusPane()) {
    case Pane::Tree:
        return "tree";
    case Pane::List:
        return list().thumbnailMode() ? "grid" : "list";
    default:
        return "";
    }
}

void ReaderSession::drawRename(Rng& rng, Journey& journey)
{
    const std::string target = renameTarget(focusPane());
    if (target.empty())
        return;
    const std::string oldName = nameOf(target);
    const std::string folder = parentOf(target);
    const auto dot = oldName.rfind('.');
    const std::string stem =
        dot == std::string::npos || dot == 0 ? oldName : oldName.substr(0, dot);
    const std::string extension = extensionOf(oldName);
    const std::string number = word(rng.below(100));
    std::string newName;
    switch (rng.below(NameKindCount)) {
    case NameSameExtension:
        newName = stem + "-" + number + (dot == std::string::npos ? "" : "." + extension);
        break;
    case NameOtherExtension:
        newName = stem + "-" + number + "." + rng.pick(kOtherExtensions);
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
        newName = siblings.empty() ? oldName : rng.pick(siblings);
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
    journey.push_back(
        Step{"rename", {renamePaneName(), nameOfPath(target), newName, randomAnswer(rng)}});
}

std::optional<std::string> ReaderSession::runRename(const Step& step)
{
    const Pane pane = focusPane();
    if (step.word(0) != renamePaneName())
        return "the focus is in " + std::string(paneName(pane)) +
               (pane == Pane::List && list().thumbnailMode() ? " (thumbnails)" : "") +
               ", not in the " + step.word(0);
    const std::string target = renameTarget(pane);
    if (target.empty() || !samePath(target, pathOfName(step.word(1))))
        return "F2 in " + std::string(paneName(pane)) + " edits " +
               (target.empty() ? std::string("nothing") : nameOfPath(target)) + ", not " +
               step.word(1);

    pressKey(m_frame.get(), Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QWidget* paneWidget =
        pane == Pane::Tree ? static_cast<QWidget*>(&tree()) : static_cast<QWidget*>(&listView());
    if (!editor || !paneWidget->isAncestorOf(editor)) {
        m_performFailure = std::string("F2 in ") + paneName(pane) +
                           " opened no editor for the name " + nameOf(target);
        return std::nullopt;
    }

    const std::string oldName = nameOf(target);
    const std::string& newName = step.word(2);
    const std::string to = parentOf(target) + "/" + newName;
    m_note = oldName + " -> " + newName;
    std::error_code error;
    const bool isFolder = fs::is_directory(target, error);
    const bool valid = !newName.empty() && newName.find('/') == std::string::npos &&
                       newName != oldName && newName != "." && newName != "..";
    const bool asks = valid && !isFolder && extensionOf(newName) != extensionOf(oldName);
    // A listing made before its folder was renamed names entries that are gone.
    struct stat info {};
    const bool gone = ::lstat(target.c_str(), &info) != 0;
    const bool taken = ::lstat(to.c_str(), &info) == 0;
    const Answer answer = answerFor(step.word(3));
    const bool renamed = valid && !gone && !taken && (!asks || answer == Answer::Yes);
    m_expect.question = reader::kChangeExtensionQuestion;
    m_expect.asked = asks;
    if (asks)
        m_prompt.queueAnswer(answer);
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
    return std::nullopt;
}

// The words a command's step adds: the answer to the Delete question, the colour a colour
// command's dialog is given.
void addCommandWords(Rng& rng, int id, Step& step)
{
    if (id == cmd::Delete)
        step.words.push_back(randomAnswer(rng));
    if (id == cmd::ColourSelected || id == cmd::RightBackground) {
        for (int i = 0; i < 3; ++i)
            step.words.push_back(word(rng.below(256)));
    }
}

// Full screen now and then, New Folder a little more often.
void ReaderSession::drawPress(Rng& rng, Journey& journey)
{
    std::vector<const NamedCommand*> buttons;
    for (const NamedCommand& button : kToolButtons) {
        if (button.id != cmd::FullScreen)
            buttons.push_back(&button);
    }
    const int roll = rng.below(12);
    const NamedCommand& button = roll == 0  ? *findNamed(kToolButtons, "FullScreen")
                                 : roll < 3 ? *findNamed(kToolButtons, "NewFolder")
                                            : *rng.pick(buttons);
    Step step{"press", {button.name}};
    addCommandWords(rng, button.id, step);
    journey.push_back(step);
}

void ReaderSession::drawImageTool(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"imagetool", {rng.pick(kImageTools).name}});
}

void ReaderSession::drawMenu(Rng& rng, Journey& journey)
{
    const NamedMenu& menu = rng.pick(kMenus);
    const NamedCommand& item = rng.pick(menu.items);
    Step step{"menu", {menu.name, item.name}};
    addCommandWords(rng, item.id, step);
    journey.push_back(step);
}

// A button of a toolbar: a bar out of sight cannot be clicked and changes nothing, but a shown
// or hidden bar without the button is not the window the step was written for.
std::optional<std::string> ReaderSession::pressButton(QToolBar* bar, const char* barName,
                                                      const NamedCommand* button, const Step& step)
{
    if (!button)
        return std::string(barName) + " has no button " + step.word(0);
    QAction* command = action(button->id);
    if (!command || !bar->widgetForAction(command))
        return std::string(barName) + " has no button " + button->name;
    doCommand(button->id, step, 1,
              [bar, command] { return bar->isVisible() && clickToolButton(bar, command); });
    return std::nullopt;
}

std::optional<std::string> ReaderSession::runPress(const Step& step)
{
    return pressButton(frame().mainToolBar(), "the toolbar", findNamed(kToolButtons, step.word(0)),
                       step);
}

std::optional<std::string> ReaderSession::runImageTool(const Step& step)
{
    return pressButton(frame().imageTools(), "the Image Tools bar",
                       findNamed(kImageTools, step.word(0)), step);
}

std::optional<std::string> ReaderSession::runMenu(const Step& step)
{
    const NamedMenu* named = findNamed(kMenus, step.word(0));
    QMenu* menu = named ? frame().menu(QString::fromLatin1(named->title)) : nullptr;
    if (!menu)
        return "there is no menu " + step.word(0);
    const NamedCommand* item = findCommand(named->items, step.word(1));
    QAction* command = item ? action(item->id) : nullptr;
    if (!command || !menu->actions().contains(command))
        return "the menu " + step.word(0) + " has no item " + step.word(1);
    doCommand(item->id, step, 2,
              [this, menu, command] { return clickMenuItem(m_frame.get(), menu, command); });
    return std::nullopt;
}

// A command given with a toolbar button or a menu item; `click` answers whether the user could
// reach it at all. The step's words from `first` on answer the Delete question or name the
// colour given to the colour dialog.
void ReaderSession::doCommand(int id, const Step& step, size_t first,
                              const std::function<bool()>& click)
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
        if (!expectDelete(m_lastPane, step.word(first)))
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
        m_prompt.queueColour(Rgb{static_cast<uint8_t>(step.number(first)),
                                 static_cast<uint8_t>(step.number(first + 1)),
                                 static_cast<uint8_t>(step.number(first + 2))});
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

// The list switches between details and thumbnails, keeping its current file and the focus,
// by the key, View > Thumbnails or the toolbar's button.
void ReaderSession::drawListMode(Rng& rng, Journey& journey)
{
    journey.push_back(Step{
        "listmode", {list().thumbnailMode() ? "details" : "thumbnails", rng.pick(kListModeWays)}});
}

std::optional<std::string> ReaderSession::runListMode(const Step& step)
{
    const std::string& mode = step.word(0);
    if (mode != "details" && mode != "thumbnails")
        return "the list shows details or thumbnails, not " + mode;
    if ((mode == "thumbnails") == list().thumbnailMode())
        return "the list shows " + mode + " already";
    const std::string& way = step.word(1);
    const auto expectSame = [this] {
        m_expect.doc = DocExpect::Same;
        m_expect.listSame = true;
        m_expect.treeSelectionSame = true;
        m_expect.focus = focusPane();
    };
    QAction* command = action(cmd::Thumbnails);
    if (way == "key") {
        expectSame();
        pressKey(m_frame.get(), Qt::Key_T, Qt::ControlModifier);
        return std::nullopt;
    }
    if (way == "menu") {
        QMenu* menu = frame().menu(QStringLiteral("&View"));
        if (!menu || !command || !menu->actions().contains(command))
            return std::string("the menu View has no item Thumbnails");
        expectSame();
        clickMenuItem(m_frame.get(), menu, command);
        return std::nullopt;
    }
    if (way == "button") {
        QToolBar* bar = frame().mainToolBar();
        if (!command || !bar->widgetForAction(command))
            return std::string("the toolbar has no button Thumbnails");
        expectSame();
        if (bar->isVisible())
            clickToolButton(bar, command);
        return std::nullopt;
    }
    return "the list is switched by key, menu or button, not by " + way;
}

void ReaderSession::drawDrop(Rng& rng, Journey& journey)
{
    if (!shown(view()))
        return;
    const auto paths = homeEntries(rng.chance(1, 4));
    if (paths.empty())
        return;
    journey.push_back(
        Step{"drop",
             {nameOfPath(rng.pick(paths)), word(rng.between(0, 330)), word(rng.between(0, 440))}});
}

std::optional<std::string> ReaderSession::runDrop(const Step& step)
{
    if (!shown(view()))
        return std::string("the image view is not shown");
    const std::string path = pathOfName(step.word(0));
    struct stat info {};
    if (!within(path, m_home) || ::lstat(path.c_str(), &info) != 0)
        return "the file " + step.word(0) + " does not exist";
    const bool folder = S_ISDIR(info.st_mode);
    m_note = path;
    m_expect.listFolder = slashEnded(folder ? path : parentOf(path));
    m_expect.listFollowsTree = true;
    if (folder) {
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
    dropFile(view().viewport(), pointInView(step.number(1), step.number(2)),
             QString::fromStdString(path));
    return std::nullopt;
}

// A point of the image view, whatever its size now.
QPoint ReaderSession::pointInView(int x, int y)
{
    const QSize size = view().viewport()->size();
    return QPoint(x % std::max(1, size.width()), y % std::max(1, size.height()));
}

int clampedTo(int value, int low, int high)
{
    return std::max(low, std::min(high, value));
}

void ReaderSession::drawViewDrag(Rng& rng, Journey& journey)
{
    QPoint from(rng.between(0, 330), rng.between(0, 440));
    QPoint to(rng.between(0, 330), rng.between(0, 440));
    if (rng.chance(1, 4))
        to = from + QPoint(rng.between(-6, 6), rng.between(-6, 6));
    const char* modifier = rng.chance(1, 4) ? kModifiers[rng.between(1, 3)] : "none";
    journey.push_back(Step{"drag",
                           {word(from.x()), word(from.y()), word(to.x()), word(to.y()), modifier,
                            word(rng.chance(1, 10) ? -1 : rng.between(0, 4))}});
}

// Dragging with the left button alone pans the picture, as far as it goes; with a modifier key
// held it does nothing.
std::optional<std::string> ReaderSession::runViewDrag(const Step& step)
{
    const auto modifiers = modifiersNamed(step.word(4));
    if (!modifiers)
        return "there is no modifier key " + step.word(4);
    if (!shown(view()))
        return std::nullopt;
    const QPoint from = pointInView(step.number(0), step.number(1));
    const QPoint to = pointInView(step.number(2), step.number(3));
    const int moves = step.number(5);
    m_expect.doc = DocExpect::Same;
    QPoint scroll = view().inspect().scroll;
    if (*modifiers == Qt::NoModifier && moves >= 0) {
        const QScrollBar* across = view().horizontalScrollBar();
        const QScrollBar* down = view().verticalScrollBar();
        scroll =
            QPoint(clampedTo(scroll.x() + from.x() - to.x(), across->minimum(), across->maximum()),
                   clampedTo(scroll.y() + from.y() - to.y(), down->minimum(), down->maximum()));
    }
    m_expect.scroll = scroll;
    dragMouse(view().viewport(), from, to, moves, *modifiers);
    return std::nullopt;
}

void ReaderSession::drawWheel(Rng& rng, Journey& journey)
{
    journey.push_back(
        Step{"wheel",
             {word(rng.chance(1, 2) ? 120 : -240), rng.chance(1, 6) ? "horizontal" : "vertical"}});
}

std::optional<std::string> ReaderSession::runWheel(const Step& step)
{
    const std::string& axis = step.word(1);
    if (axis != "vertical" && axis != "horizontal")
        return "the wheel turns vertical or horizontal, not " + axis;
    if (!shown(view()))
        return std::nullopt;
    m_expect.doc = DocExpect::Same;
    QPoint scroll = view().inspect().scroll;
    if (axis == "vertical") {
        const QScrollBar* down = view().verticalScrollBar();
        scroll.setY(
            clampedTo(scroll.y() + (-step.number(0)) / 5, down->minimum(), down->maximum()));
    }
    m_expect.scroll = scroll;
    turnWheel(view().viewport(), view().viewport()->rect().center(), step.number(0),
              axis == "horizontal");
    return std::nullopt;
}

void ReaderSession::drawListWheel(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"listwheel", {word(rng.chance(1, 3) ? 240 : -360)}});
}

std::optional<std::string> ReaderSession::runListWheel(const Step& step)
{
    if (listShown()) {
        m_expect.doc = DocExpect::Same;
        turnWheel(listView().viewport(), listView().viewport()->rect().center(), step.number(0),
                  false);
    }
    return std::nullopt;
}

void ReaderSession::drawViewClick(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"viewclick", {word(rng.between(0, 330)), word(rng.between(0, 440))}});
}

std::optional<std::string> ReaderSession::runViewClick(const Step& step)
{
    if (shown(view())) {
        m_expect.doc = DocExpect::Same;
        QTest::mouseClick(view().viewport(), Qt::LeftButton, Qt::NoModifier,
                          pointInView(step.number(0), step.number(1)));
    }
    return std::nullopt;
}

void ReaderSession::drawResize(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"resize", {word(rng.between(600, 1000)), word(rng.between(420, 760))}});
}

std::optional<std::string> ReaderSession::runResize(const Step& step)
{
    if (!frame().isFullScreenMode()) {
        m_expect.doc = DocExpect::Same;
        frame().resize(step.number(0), step.number(1));
    }
    return std::nullopt;
}

const Verb<ReaderSession> ReaderSession::kVerbs[] = {
    {"start", 0, "w w", nullptr, &ReaderSession::runStart},
    {"tree", 9, "w", &ReaderSession::drawTree, &ReaderSession::runTree},
    {"treedouble", 2, "w", &ReaderSession::drawTreeDouble, &ReaderSession::runTreeDouble},
    {"treeexpand", 2, "w", &ReaderSession::drawTreeExpand, &ReaderSession::runTreeExpand},
    {"treedrag", 2, "w n n", &ReaderSession::drawTreeDrag, &ReaderSession::runTreeDrag},
    {"list", 11, "w", &ReaderSession::drawList, &ReaderSession::runList},
    {"listdouble", 4, "w", &ReaderSession::drawListDouble, &ReaderSession::runListDouble},
    {"thumb", 11, "w", &ReaderSession::drawThumb, &ReaderSession::runThumb},
    {"thumbdouble", 4, "w", &ReaderSession::drawThumbDouble, &ReaderSession::runThumbDouble},
    {"listwheel", 2, "n", &ReaderSession::drawListWheel, &ReaderSession::runListWheel},
    {"listtype", 2, "w n", &ReaderSession::drawListType, &ReaderSession::runListType},
    {"listmode", 2, "w w", &ReaderSession::drawListMode, &ReaderSession::runListMode},
    {"key", 13, "w a?", &ReaderSession::drawKey, &ReaderSession::runKey},
    {"rename", 4, "w w w a?", &ReaderSession::drawRename, &ReaderSession::runRename},
    {"press", 12, "w a? n*", &ReaderSession::drawPress, &ReaderSession::runPress},
    {"imagetool", 6, "w", &ReaderSession::drawImageTool, &ReaderSession::runImageTool},
    {"menu", 10, "w w a? n*", &ReaderSession::drawMenu, &ReaderSession::runMenu},
    {"drag", 7, "n n n n w n", &ReaderSession::drawViewDrag, &ReaderSession::runViewDrag},
    {"wheel", 3, "n w", &ReaderSession::drawWheel, &ReaderSession::runWheel},
    {"viewclick", 2, "n n", &ReaderSession::drawViewClick, &ReaderSession::runViewClick},
    {"drop", 7, "w n n", &ReaderSession::drawDrop, &ReaderSession::runDrop},
    {"resize", 1, "n n", &ReaderSession::drawResize, &ReaderSession::runResize},
    {"refresh", 2, "w", &ReaderSession::drawRefresh, &ReaderSession::runRefresh},
    {"viewkey", 4, "w", &ReaderSession::drawViewKey, &ReaderSession::runViewKey},
    {"zoomwheel", 2, "n n n", &ReaderSession::drawZoomWheel, &ReaderSession::runZoomWheel},
    {"thumbsize", 2, "w", &ReaderSession::drawThumbSize, &ReaderSession::runThumbSize},
    {"thumbwheel", 2, "n", &ReaderSession::drawThumbWheel, &ReaderSession::runThumbWheel},
};

// A step that looks or lists again but chooses nothing: the picture, the list's folder and
// current file, the tree's selection and the focus stay.
void ReaderSession::expectNothingChosen()
{
    m_expect.doc = DocExpect::Same;
    m_expect.listSame = true;
    m_expect.treeSelectionSame = true;
    m_expect.focus = focusPane();
}

// F5 or View > Refresh lists the folder again; the journey's files change only through the
// program, so the list stays as it was.
void ReaderSession::drawRefresh(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"refresh", {rng.pick(kRefreshWays)}});
}

std::optional<std::string> ReaderSession::runRefresh(const Step& step)
{
    const std::string& way = step.word(0);
    if (way == "key") {
        expectNothingChosen();
        pressKey(m_frame.get(), Qt::Key_F5);
        return std::nullopt;
    }
    if (way == "menu") {
        QMenu* menu = frame().menu(QStringLiteral("&View"));
        QAction* command = action(cmd::Refresh);
        if (!menu || !command || !menu->actions().contains(command))
            return std::string("the menu View has no item Refresh");
        expectNothingChosen();
        clickMenuItem(m_frame.get(), menu, command);
        return std::nullopt;
    }
    return "the folder is listed again by key or menu, not by " + way;
}

// Left, Right and Backspace step through the pictures from the image view, in full screen too;
// they are drawn only while the view has the focus, where they mean that.
void ReaderSession::drawViewKey(Rng& rng, Journey& journey)
{
    if (focusPane() == Pane::View)
        journey.push_back(Step{"viewkey", {rng.pick(kViewKeys).name}});
}

std::optional<std::string> ReaderSession::runViewKey(const Step& step)
{
    const NamedKey* key = findNamed(kViewKeys, step.word(0));
    if (!key)
        return "the image view has no stepping key " + step.word(0);
    if (focusPane() != Pane::View)
        return std::nullopt;
    const bool next = key->role == KeyRole::Next;
    const QScrollBar* across = view().horizontalScrollBar();
    const bool sideways = key->key != Qt::Key_Backspace;
    if (sideways && across->value() != (next ? across->maximum() : across->minimum())) {
        // A picture wider than the view scrolls first, as far as its edge.
        m_expect.doc = DocExpect::Same;
        const int step = next ? across->singleStep() : -across->singleStep();
        m_expect.scroll = QPoint(
            clampedTo(view().inspect().scroll.x() + step, across->minimum(), across->maximum()),
            view().inspect().scroll.y());
    } else {
        if (!list().folderPath().empty() && !listInJourney())
            return std::nullopt;
        expectStep(next);
    }
    pressKey(m_frame.get(), key->key, key->modifiers);
    return std::nullopt;
}

// Ctrl and the wheel over the image view zoom the picture about the pointer.
void ReaderSession::drawZoomWheel(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"zoomwheel",
                           {word(rng.chance(1, 2) ? 120 : -120), word(rng.between(0, 330)),
                            word(rng.between(0, 440))}});
}

std::optional<std::string> ReaderSession::runZoomWheel(const Step& step)
{
    if (!shown(view()))
        return std::nullopt;
    m_expect.doc = DocExpect::Same;
    m_expect.focus = focusPane();
    turnWheel(view().viewport(), pointInView(step.number(1), step.number(2)), step.number(0), false,
              Qt::ControlModifier);
    return std::nullopt;
}

// View > Thumbnail Size chooses the size of the grid's thumbnails, in either mode of the list.
void ReaderSession::drawThumbSize(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"thumbsize", {rng.pick(kThumbnailSizes).name}});
}

std::optional<std::string> ReaderSession::runThumbSize(const Step& step)
{
    const NamedThumbnailSize* size = findNamed(kThumbnailSizes, step.word(0));
    if (!size)
        return "there is no thumbnail size " + step.word(0);
    QMenu* menu = frame().menu(QStringLiteral("&View"));
    QAction* command = action(size->id);
    QMenu* sizes = nullptr;
    for (QAction* item : menu ? menu->actions() : QList<QAction*>()) {
        if (item->menu() && item->menu()->actions().contains(command))
            sizes = item->menu();
    }
    if (!sizes)
        return "the menu View has no item Thumbnail Size > " + step.word(0);
    expectNothingChosen();
    const ThumbnailScale before = list().thumbnailGrid()->thumbnailScale();
    m_expect.thumbnailScale =
        clickSubmenuItem(m_frame.get(), menu, sizes, command) ? size->scale : before;
    return std::nullopt;
}

// Ctrl and the wheel over the grid step the thumbnails' size, a notch a step.
void ReaderSession::drawThumbWheel(Rng& rng, Journey& journey)
{
    journey.push_back(
        Step{"thumbwheel", {word(rng.chance(1, 2) ? 120 : -120 * rng.between(1, 3))}});
}

std::optional<std::string> ReaderSession::runThumbWheel(const Step& step)
{
    if (!listShown() || !list().thumbnailMode())
        return std::nullopt;
    ThumbnailGrid& grid = *list().thumbnailGrid();
    const int notches = step.number(0) / 120;
    expectNothingChosen();
    m_expect.thumbnailScale = static_cast<ThumbnailScale>(clampedTo(
        static_cast<int>(grid.thumbnailScale()) + notches, static_cast<int>(ThumbnailScale::Small),
        static_cast<int>(ThumbnailScale::Large)));
    turnWheel(grid.viewport(), grid.viewport()->rect().center(), step.number(0), false,
              Qt::ControlModifier);
    return std::nullopt;
}

std::optional<std::string> ReaderSession::perform(const Step& step, const Verb<ReaderSession>& verb)
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
    const auto refused = (this->*verb.run)(step);
    ++m_stepsTaken;
    settle();
    m_prompt.clearScript();
    reactivate(m_frame.get());
    return refused;
}

// ---- checks -------------------------------------------------------------------------------

std::optional<std::string> ReaderSession::check(const Step&)
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
    if (m_expect.thumbnailScale &&
        list().thumbnailGrid()->thumbnailScale() != *m_expect.thumbnailScale)
        return "the thumbnails are drawn " +
               std::to_string(list().thumbnailGrid()->thumbnailSide()) +
               " pixels wide instead of " +
               std::to_string(ThumbnailGrid::thumbnailSide(*m_expect.thumbnailScale));
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

// The range each channel of a shown pixel may take for one of the display copy's pixels: the
// pixel itself, or, for a see-through picture, the pixel laid over any square of the checkerboard
// (two light greys) within a step or two of rounding. Alpha 254 and 255 are opaque.
struct ChannelRange {
    int low[3] = {255, 255, 255};
    int high[3] = {0, 0, 0};

    void add(QRgb colour, int alpha)
    {
        constexpr int kDarkSquare = 0xcc, kLightSquare = 0xee, kRounding = 2;
        const int a = alpha >= 254 ? 255 : alpha;
        const int channels[3] = {qRed(colour), qGreen(colour), qBlue(colour)};
        for (int c = 0; c < 3; ++c) {
            const int lo = (channels[c] * a + kDarkSquare * (255 - a)) / 255;
            const int hi = (channels[c] * a + kLightSquare * (255 - a) + 254) / 255;
            low[c] = std::min(low[c], lo - (a == 255 ? 0 : kRounding));
            high[c] = std::max(high[c], hi + (a == 255 ? 0 : kRounding));
        }
    }
    // Averaged pixels may fall a step outside what they average.
    bool holds(QRgb colour, int slack) const
    {
        const int channels[3] = {qRed(colour), qGreen(colour), qBlue(colour)};
        for (int c = 0; c < 3; ++c) {
            if (channels[c] < low[c] - slack || channels[c] > high[c] + slack)
                return false;
        }
        return true;
    }
};

std::optional<std::string> ReaderSession::checkScreen()
{
    if (!shown(view()))
        return std::nullopt;
    const QImage& shown = paintWidget(view().viewport(), m_shown);
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
        // A file that could not be shown has its reason written across the middle; the rows
        // above and below it are background alone.
        const std::string reason = doc().unshownReason();
        if (view().inspect().message.toStdString() != reason)
            return "with no picture the image view says \"" +
                   view().inspect().message.toStdString() + "\" where the document says \"" +
                   reason + "\"";
        const int spared = reason.empty() ? 0 : shown.height() / 3;
        for (int y = 0; y < shown.height(); ++y) {
            if (spared > 0 && y >= spared && y < shown.height() - spared)
                continue;
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
    // See-through pixels are shown over a checkerboard: their alpha comes from the copy itself.
    const bool seeThrough = doc().showsTransparency() && DibGetBitCount(*display) == 32;
    const auto alphaAt = [&](int x, int y) {
        return seeThrough ? int{test::pixelAt(*display, x, y)[3]} : 255;
    };
    const auto rangeOf = [&](int x, int y) {
        ChannelRange range;
        range.add(picture.pixel(x, y), alphaAt(x, y));
        return range;
    };
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
            if ((line[x] & 0xFFFFFFu) != wanted &&
                !(seeThrough &&
                  rangeOf(x - destination.left(), y - destination.top()).holds(line[x], 0)))
                return "the image view shows " + hexColour(pixel(x, y)) + " at " + at(x, y) +
                       " where the picture's pixel " +
                       at(x - destination.left(), y - destination.top()) + " is " +
                       hexColour(wanted);
        }
    }
    if (exact || destination.isEmpty())
        return std::nullopt;
    // Scaled without blending: every shown pixel is one of the picture's, near where it belongs.
    // Reduced, one shown pixel stands for several of the picture's, any of which may be taken;
    // shrunk smoothly, it is their average, which lies within their range, or near the note
    // colour where notes are shown (a one-pixel note stays visible at any zoom).
    const bool averaged = view().smoothShrinking() && view().inspect().zoom < 1.0f;
    const bool notesShown = view().showNotes() && doc().hasNoteLayer();
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
            ChannelRange around;
            for (int dy = -reachY; dy <= reachY && !near; ++dy) {
                for (int dx = -reachX; dx <= reachX && !near; ++dx) {
                    if (!picture.valid(sx + dx, sy + dy))
                        continue;
                    const ChannelRange one = rangeOf(sx + dx, sy + dy);
                    near = (picture.pixel(sx + dx, sy + dy) & 0xFFFFFFu) == pixel(x, y) ||
                           (seeThrough && one.holds(pixel(x, y), 0));
                    around.add(picture.pixel(sx + dx, sy + dy), alphaAt(sx + dx, sy + dy));
                }
            }
            if (!near && averaged) {
                if (notesShown) {
                    const auto note = doc().noteColour();
                    around.add(doc().complementNotes() ? qRgb(255, 255, 255)
                                                       : qRgb(note.red, note.green, note.blue),
                               255);
                    if (doc().complementNotes())
                        around.add(qRgb(0, 0, 0), 255);
                }
                near = around.holds(pixel(x, y), 2);
            }
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

Outcome exploreReaderJourney(uint64_t seed, int steps, Journey& taken)
{
    return exploreJourney<ReaderSession>(ReaderSession::kVerbs, &ReaderSession::drawOpening, seed,
                                         steps, taken);
}

Outcome replayReaderJourney(const Journey& journey)
{
    return replayJourney<ReaderSession>(ReaderSession::kVerbs, journey);
}

// A button that is not on its bar fails the step that presses it, where a step once passed as
// if the bar were out of sight.
TEST(ReaderJourneySteps, AButtonMissingFromItsBarFailsTheStep)
{
    ReaderSession session;
    auto* window = qobject_cast<ReaderWindow*>(session.window());
    ASSERT_TRUE(window);
    window->mainToolBar()->removeAction(window->commands().action(cmd::FitWidth));
    const Outcome outcome = takeStep(session, VerbTable<ReaderSession>(ReaderSession::kVerbs),
                                     Step{"press", {"FitWidth"}}, 0);
    ASSERT_TRUE(outcome);
    EXPECT_NE(outcome->message.find("the toolbar has no button FitWidth"), std::string::npos)
        << outcome->message;
}

} // namespace

const JourneyProgram kJourneyProgram{"reader",
                                     &exploreReaderJourney,
                                     &replayReaderJourney,
                                     {
                                         "start pics/p24.bmp details\ntre pics/sub\n",
                                         "# the picture was renamed since\nstart pics/p24.bmp "
                                         "details\ndrop pics/sub/gone.png 10 10\n",
                                         "start . details\ntree pics/nowhere\n",
                                         "start pics/p24.bmp details\npress FitSideways\n",
                                         "start pics/p24.bmp details\nmenu View Sideways\n",
                                         "start pics/p24.bmp details\nkey Delete perhaps\n",
                                         "start pics/gone.bmp details\n",
                                     }};

} // namespace ombri::journey
