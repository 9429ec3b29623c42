#pragma once

#include "platform/qt/command_table.h"
#include "platform/qt/qt_prompt.h"
#include "reader/openable_reader_document.h"
#include "reader/panes.h"
#include "reader/settings.h"

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QMenu;
class QShortcut;
class QLabel;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace ombri {
class LockKeyIndicators;
class RecentFilesMenu;
} // namespace ombri

namespace ombri::reader {

class FolderTree;
class ImageView;
class FileOperations;
class FileList;
class ThumbnailGrid;
enum class ThumbnailScale;

constexpr const char* kReaderVersion = "1.53";

// Makes the reader's icons available (they live in the program's resources).
void initReaderResources();

// The reader's main window: menu, main toolbar, the vertical "Image Tools" toolbar and the
// status bar around three side-by-side panes (folder tree, file list, image view), full-screen
// mode, and the application's own commands. Every command is a method, so tests run them
// without dialogs; messages and colour dialogs go through the prompt, which tests replace.
class ReaderWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kRecentFileCount = 4;

    // Without a prompt the frame shows real message boxes and dialogs.
    explicit ReaderWindow(Prompt* prompt = nullptr, QWidget* parent = nullptr);
    ~ReaderWindow() override;

    OpenableReaderDocument& document() { return m_doc; }
    FolderTree& tree() { return *m_tree; }
    FileList& list() { return *m_list; }
    ImageView& view() { return *m_view; }
    FileOperations& fileOperations() { return *m_fileOperations; }
    CommandTable& commands() { return m_commands; }
    QSplitter* splitter() const { return m_splitter; }
    QToolBar* mainToolBar() const { return m_mainToolBar; }
    QToolBar* imageTools() const { return m_imageTools; }
    // The top-level menu with the given title ("&File"), or null.
    QMenu* menu(const QString& title) const;

    // Opens a picture as a file named on the command line or chosen from the recent files: the
    // folder tree first goes to its folder, which the file list then shows.
    bool openFile(const QString& path);
    bool openRecentFile(int index);
    // Shows a folder named on the command line: the tree goes there, the list shows it, and its
    // first picture opens. False when the folder is not in the tree.
    bool openFolder(const QString& path);
    QStringList recentFiles() const;

    // The pane colours and the settings file.
    ReaderSettings paneColours() const;
    void applyPaneColours(const ReaderSettings& colours);
    void setSettingsDirectory(const std::string& folder) { m_settingsDirectory = folder; }
    const std::string& settingsDirectory() const { return m_settingsDirectory; }

    void onFullScreen();
    void leaveFullScreen();
    bool isFullScreenMode() const { return m_fullScreen; }
    void onImageTools();
    void onCustomize();
    void onLeftForeground();
    void onLeftBackground();
    void onRightBackground();
    void onCopy();
    void onFileOpen();
    void onFileNew();
    void onPrintSetup();
    void onAppAbout();
    void onHelp();
    // F6 and Shift+F6: the focus goes round the panes that are shown, tree, list and view.
    void onNextPane();
    void onPreviousPane();
    // View > Thumbnails: the file list as thumbnails or as details, kept for the next start.
    void onThumbnails();
    // View > Thumbnail Size and Ctrl with the wheel over the grid: the size the grid draws its
    // thumbnails at, kept for the next start.
    void setThumbnailScale(ThumbnailScale scale);
    ThumbnailScale thumbnailScale() const;
    // View > Refresh and F5, and any change another program makes to the listed folder: the
    // list shows the folder as it is now, and a picture on show that went is not kept in sight.
    void onRefresh();
    // Edit > Delete, its toolbar button and the Delete key: what the pane that has the focus, or
    // last had it, names goes to the trash after a question. In the folder tree that is the
    // selected folder; in the file list, table or grid, the highlighted entry; in the image view
    // the picture on show.
    void onDelete();

    // The pane Delete acts on: the one holding the focus, else the one that held it last.
    enum class Pane { Tree, List, View };
    Pane deletePane() const;

  private:
    void focusPane(int step);
    void buildPanes();
    void connectPanes();
    void addCommands();
    void buildMenus();
    void buildToolBars();
    void buildStatusBar();
    void updateNoteStatus();
    void loadListMode();
    void fitListPane();
    bool openWithoutTree(const std::string& path);
    std::optional<Pane> paneHolding(const QWidget* widget) const;
    void deleteListSelection();
    void deletePictureOnShow();
    void followDeletedEntry(const std::string& path, bool wasOnShow);

    QtPrompt m_qtPrompt;
    Prompt& m_prompt;
    OpenableReaderDocument m_doc;
    std::unique_ptr<DesktopServices> m_desktop;
    CommandTable m_commands;
    QSplitter* m_splitter = nullptr;
    FolderTree* m_tree = nullptr;
    FileList* m_list = nullptr;
    ThumbnailGrid* m_grid = nullptr;
    QStackedWidget* m_listPane = nullptr; // the list's details table and thumbnail grid
    // The list pane's width in details and in thumbnails, as the user last left each mode; 0 for
    // a mode not yet left.
    std::array<int, 2> m_listPaneWidths{};
    ImageView* m_view = nullptr;
    std::unique_ptr<FileOperations> m_fileOperations;
    QToolBar* m_mainToolBar = nullptr;
    QToolBar* m_imageTools = nullptr;
    LockKeyIndicators* m_lockKeys = nullptr;
    QLabel* m_noteStatus = nullptr; // what the picture on show carries
    QMenu* m_fileMenu = nullptr;
    RecentFilesMenu* m_recent = nullptr;
    std::string m_settingsDirectory;
    // Full-screen mode: the window's place and the bars' visibility before it.
    bool m_fullScreen = false;
    QShortcut* m_leaveFullScreen = nullptr;
    QByteArray m_savedGeometry;
    QByteArray m_savedState;
    QByteArray m_savedSplitter;
    bool m_savedMaximised = false;
    bool m_savedStatusBar = true;
    QPointer<QWidget> m_savedFocus;
    // The toolbar's buttons take no focus, and a menu takes it only while open: the pane the
    // user was last in is what their Delete means. The tree has the focus at the start.
    Pane m_lastFocusedPane = Pane::Tree;
};

} // namespace ombri::reader
