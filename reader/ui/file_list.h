#pragma once

#include "notes/render.h"
#include "reader/panes.h"
#include "reader/thumbnails.h"
#include "reader/ui/folder_watch.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QFileIconProvider>
#include <QIcon>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ombri::reader {

class BackgroundFileReader;
class ReaderDocument;
class ThumbnailGrid;
struct FileFacts;

// One entry of a listed folder. The time fields are the last modification in local time.
struct FileEntry {
    std::string name;
    uint64_t size = 0; // bytes; 0 for folders
    bool isFolder = false;
    int day = 0;   // 1..31
    int hour = 0;  // 0..23
    int year = 0;  // in full, e.g. 2008
    int month = 0; // 1..12
    int minute = 0;
    bool hasTime = false; // false when the modification time could not be read
};

// What one listing found: the folder (ending in "/") and its entries, folders first.
struct FolderListing {
    std::string folderPath;
    std::vector<FileEntry> folders;
    std::vector<FileEntry> files;
};

// Reads a folder for the file list: names in the order the folder tree shows them (without
// regard to case), ".." among the folders except in the root folder, "." never. The path may
// end in ".." and is resolved by spelling. Nothing when the folder cannot be read.
std::optional<FolderListing> readFolderListing(const std::string& path);

// Size column: empty for 0 bytes (every folder, and empty files), else whole kilobytes
// truncated, so a 1023-byte file shows "0 KB".
std::string sizeText(uint64_t size);
// Date Modified column: MM/DD/YYYY HH:MM on a 24-hour clock; empty without a time.
std::string dateModifiedText(const FileEntry& entry);

// The rows of the file list: the listed folders, then the files. Texts are made when a row is
// painted and icons are fetched from the desktop's icon theme the first time a row is shown,
// so that a folder of thousands of files lists at once. What takes reading a file (its notes,
// its thumbnail) is asked of the background reader when its row is first painted, and filled in
// when the answer comes.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn, NotesColumn, ColumnCount };
    // True for a file known to carry notes (the thumbnail grid's badge).
    static constexpr int CarriesNotesRole = Qt::UserRole + 1;

    explicit FileListModel(QObject* parent = nullptr);
    ~FileListModel() override;

    // With thumbnails the name column's decoration is the file's thumbnail of this size (the
    // file type's icon until it comes), else the type's small icon.
    void setThumbnails(std::optional<ThumbnailSize> size, qreal devicePixelRatio);
    bool showsThumbnails() const { return m_thumbnailSize.has_value(); }
    BackgroundFileReader& backgroundReader() { return *m_reader; }

    // Shows the listing, or nothing.
    void show(std::shared_ptr<const FolderListing> listing);
    // The listing on show, or null.
    const FolderListing* listing() const { return m_listing.get(); }
    // Takes a listing that differs from the one on show only in the name of the entry at row.
    void renamed(std::shared_ptr<const FolderListing> listing, int row);
    // Another reading of the same folder: what is known of entries left as they were is kept.
    void relisted(std::shared_ptr<const FolderListing> listing);
    // The same entries, listed under the new path of their renamed folder.
    void moved(std::shared_ptr<const FolderListing> listing);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // How many rows have asked for their icon; the rest were never shown.
    int fetchedIconCount() const { return m_fetchedIcons; }

  private:
    // What the background reader was asked and has answered about one file row.
    struct RowFacts {
        bool notesAsked = false;
        bool thumbnailAsked = false;
        bool thumbnailDone = false; // answered, with a thumbnail or without one
        bool thumbnailMade = false; // answered with one, which may since have left memory
        std::optional<bool> carriesNotes;
        // What the row's requests and thumbnail are known by: rows move when the folder is
        // read again, while an answer may still be on its way.
        int key = 0;
    };

    const FileEntry& entryAt(int row) const;
    bool isFileRow(int row) const;
    QString cellText(const FileEntry& entry, int column) const;
    QIcon iconAt(int row) const;
    QVariant decorationAt(int row) const;
    // The facts of a file row, asked for when they were not yet.
    const RowFacts& factsAt(int row, bool withThumbnail) const;
    void factsRead(int key, const FileFacts& facts);
    void giveKey(int row);

    std::shared_ptr<const FolderListing> m_listing;
    QFileIconProvider m_iconProvider;
    mutable std::vector<std::optional<QIcon>> m_icons;
    mutable int m_fetchedIcons = 0;
    mutable std::vector<RowFacts> m_facts; // one per row, folders included
    // Thumbnails of the rows shown lately, within a memory bound; the rest are read again from
    // the cache when they come back in sight.
    mutable QCache<int, QIcon> m_thumbnails;
    std::optional<ThumbnailSize> m_thumbnailSize;
    qreal m_devicePixelRatio = 1;
    BackgroundFileReader* m_reader;
    std::unordered_map<int, int> m_rowOfKey;
    int m_nextKey = 0;
};

// The file list, the middle pane of the reader: the contents of the folder chosen in the tree
// as a details table. A click on a file shows it through the document, a double click on a
// folder goes into it, and Previous Image and Next Image step along the listed files while
// the list is visible.
//
// The list keeps its own choice of current file: only a click and the Previous/Next steps
// change it. Keys move the highlight without opening anything, and the Up, Down, Page Up and
// Page Down keys are left to the main window, which steps through the pictures with them.
class FileList : public QTreeView, public ListPane {
    Q_OBJECT
  public:
    static constexpr ColourRef kDefaultBkColour = 0xFFFFFF;

    // Renames the entry at itemPath to newName (a bare name) and answers whether it did; the
    // list shows the new name only then.
    using RenameHandler =
        std::function<bool(const std::string& itemPath, const std::string& newName)>;

    // Registers itself with the document as its file list; the document must outlive it.
    explicit FileList(ReaderDocument& document, QWidget* parent = nullptr);
    ~FileList() override;

    void setRenameHandler(RenameHandler rename) { m_rename = std::move(rename); }

    // Replaces the content with the folder's. When the folder cannot be read the list is left
    // empty but keeps the previous folder's files for Previous and Next, and false is answered.
    bool showFolder(const std::string& path);
    // The listed folder, or a folder it lies in, was renamed: the listing goes on under the new
    // path, so that its rows open and enter what is there now.
    void followRenamedFolder(const std::string& from, const std::string& to);
    // The full path of the entry highlighted in the table or the grid, folder or file; nothing
    // when none is, or when it is the way up.
    std::optional<std::string> selectedEntryPath() const;
    // What became of the list after an entry went to the trash.
    struct AfterDelete {
        bool fileRemoved = false;        // it was one of the listed files
        std::optional<std::string> next; // the file now current in its place
    };
    // An entry of the listed folder went to the trash: its row goes, and the rows around it keep
    // their places. After a file, the file that followed it becomes the current one, else the
    // one before it, as a click on it would make it, without opening it. Nothing changes for a
    // path that is not listed.
    AfterDelete followDeletedEntry(const std::string& path);
    // Reads the listed folder again, as other programs left it: the current file, the highlight
    // and the scroll position stay where they can. When the current file went, the one that
    // followed it becomes current, else the one before it, as after a delete; fileRemoved then
    // tells so. A folder that cannot be read any more is listed empty.
    AfterDelete refresh();
    // Marks the listed file with this full path as the current one, as a click on it would,
    // without opening it: a picture opened elsewhere (command line, drop) is where Previous and
    // Next step from. False when the path is not in the listing.
    bool selectPath(const std::string& path);

    // ListPane: move the selection one file back or forward and answer its full path. Nothing
    // at the ends of the list, where the selection stays.
    std::optional<std::string> SelectPreviousFile() override;
    std::optional<std::string> SelectNextFile() override;
    // Shown as a pane of the window (also before the window itself is first shown, and while
    // full screen keeps it out of sight).
    bool isVisible() const override
    {
        return !paneWidget()->isHidden() || m_outOfSightForFullScreen;
    }
    // Full screen hides the list from sight only: Previous and Next still step along it, and the
    // folder tree still leaves the files to it.
    void setOutOfSightForFullScreen(bool outOfSight);

    void SetListBkColor(ColourRef colour);
    ColourRef listBkColour() const { return m_bkColour; }

    // The thumbnail grid shows the same rows, selection and current file as the table; the
    // stacked pane that holds both shows one of them. Called once by the grid.
    void attachThumbnailGrid(ThumbnailGrid* grid);
    ThumbnailGrid* thumbnailGrid() const { return m_grid; }
    // Shows the thumbnail grid or the details table, keeping the current file and the focus.
    void setThumbnailMode(bool thumbnails);
    bool thumbnailMode() const { return m_thumbnailMode; }
    // The grid draws its thumbnails at another size: they are fetched at the size that keeps
    // them sharp there.
    void thumbnailSideChanged();
    // What the window places among its panes: the stack holding the table and the grid, or the
    // table alone before a grid is attached.
    QWidget* paneWidget();
    const QWidget* paneWidget() const;
    // The table or the grid, whichever is shown.
    QAbstractItemView* shownView();

    // A click on a row: a file other than the current one is selected and opened through the
    // document; folders and the current file are left alone.
    void clickRow(int row);
    // A double click on a row: a folder (or "..") is entered and listed, after folderEntered
    // has told the folder tree. False for anything else.
    bool doubleClickRow(int row);
    // The end of editing a row's name (F2): empty or unchanged text, a name with "/", the way
    // up, or a refused rename keep the old name. True when the entry was renamed.
    bool endLabelEdit(int row, const QString& text);

    // Zoom In, Zoom Out and Original Size reach the image view through the list while it has
    // the focus, and only while it lists at least one file.
    // The keys the main window turns into Previous Image and Next Image; the table and the grid
    // never move their highlight with them.
    static bool isImageSteppingKey(int key);
    // The Delete key pressed in the table or the grid: deleteRequested is sent, and true is
    // answered, when the key is Delete alone.
    bool takeDeleteKey(QKeyEvent* event);
    // The table and the grid take the mouse alike: a press opens the file under it, a double
    // click enters the folder under it (true when it did), and a drag with a button held
    // selects nothing (true when the move was such a drag).
    void pressIn(const QAbstractItemView& view, QMouseEvent* event);
    bool doubleClickIn(const QAbstractItemView& view, QMouseEvent* event);
    static bool swallowsDrag(QMouseEvent* event);

    bool zoomCommandsEnabled() const { return !m_listing->files.empty(); }
    void forwardZoomCommand(int command);

    // The listed folder ending in "/", empty before the first listing.
    const std::string& folderPath() const { return m_listing->folderPath; }
    const std::vector<FileEntry>& folders() const { return m_listing->folders; }
    const std::vector<FileEntry>& files() const { return m_listing->files; }
    // Index of the current file among the files, -1 when there is none.
    int currentFileIndex() const { return m_currentFile; }
    FileListModel* listModel() const { return m_model; }

  signals:
    // A folder row was double-clicked; the path is the listed folder followed by the row's
    // name, and may end in "..". Sent before the folder is listed.
    void folderEntered(const std::string& path);
    void zoomCommandForwarded(int command);
    // The Delete key was pressed in the table or the grid: the highlighted entry is to go.
    void deleteRequested();
    // Another program changed the listed folder; refresh() brings the list up to date.
    void folderChanged();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Size, Type, Date Modified and Notes as wide as what they show, and the Name column the
    // rest of the pane's width.
    void fitColumns();
    void fitNameColumn();
    void selectFile(int index);
    std::string currentFilePath() const;
    ThumbnailSize thumbnailSizeForScreen() const;
    // The name of the entry at a row of the listing on show, or nothing.
    std::optional<std::string> nameAtRow(int row) const;
    // Shows another state of the same folder, keeping what the user is looking at.
    void showRelisted(std::shared_ptr<const FolderListing> listing, int current,
                      const std::optional<std::string>& highlighted);

    ReaderDocument& m_document;
    FileListModel* m_model;
    std::shared_ptr<const FolderListing> m_listing;
    ColourRef m_bkColour = kDefaultBkColour;
    int m_currentFile = -1;
    RenameHandler m_rename;
    bool m_outOfSightForFullScreen = false;
    ThumbnailGrid* m_grid = nullptr;
    bool m_thumbnailMode = false;
    FolderWatch m_watch;
};

} // namespace ombri::reader
