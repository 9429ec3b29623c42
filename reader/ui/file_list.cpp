#include "reader/ui/file_list.h"
#include "reader/ui/qt_colour.h"

#include "formats/format_table.h"
#include "reader/folder_walk.h"
#include "reader/reader_document.h"
#include "reader/type_description.h"
#include "reader/ui/background_file_reader.h"
#include "reader/ui/label_edit_delegate.h"
#include "reader/ui/pane_keys.h"
#include "reader/ui/thumbnail_grid.h"

#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QScrollBar>
#include <QStackedWidget>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>

namespace ombri::reader {

namespace {

FileEntry describeEntry(const std::string& folderPath, const std::string& name, bool isFolder)
{
    FileEntry entry;
    entry.name = name;
    entry.isFolder = isFolder;
    struct stat status;
    if (::stat((folderPath + name).c_str(), &status) != 0)
        return entry; // a dangling link: listed, without size or date
    if (!isFolder)
        entry.size = static_cast<uint64_t>(status.st_size);
    std::tm local;
    if (::localtime_r(&status.st_mtime, &local)) {
        entry.day = local.tm_mday;
        entry.hour = local.tm_hour;
        entry.year = local.tm_year + 1900;
        entry.month = local.tm_mon + 1;
        entry.minute = local.tm_min;
        entry.hasTime = true;
    }
    return entry;
}

const FileEntry& entryIn(const FolderListing& listing, int row)
{
    const auto folderCount = static_cast<int>(listing.folders.size());
    return row < folderCount ? listing.folders[static_cast<size_t>(row)]
                             : listing.files[static_cast<size_t>(row - folderCount)];
}

// The same file as far as the list shows it: what was read of it still holds.
bool sameState(const FileEntry& a, const FileEntry& b)
{
    return a.size == b.size && a.hasTime == b.hasTime && a.year == b.year && a.month == b.month &&
           a.day == b.day && a.hour == b.hour && a.minute == b.minute;
}

// Thumbnails kept in memory, in kilobytes: a few thousand of the normal size.
constexpr int kThumbnailMemoryKb = 128 * 1024;
// The narrowest the Name column becomes in a narrow pane: the other columns then scroll into
// sight rather than squeeze the names to nothing.
constexpr int kMinNameWidth = 100;

} // namespace

bool FileList::isImageSteppingKey(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
           key == Qt::Key_PageDown;
}

std::optional<FolderListing> readFolderListing(const std::string& path)
{
    FolderListing listing;
    listing.folderPath = absolutePath(path);
    if (listing.folderPath.empty() || listing.folderPath.back() != '/')
        listing.folderPath += '/';
    const auto entries = reader::ListFolder(listing.folderPath);
    if (!entries)
        return std::nullopt;
    // The way up comes first, as it does in every folder but the root, which has none.
    if (listing.folderPath != "/")
        listing.folders.push_back(describeEntry(listing.folderPath, "..", true));
    for (const auto& found : *entries) {
        auto& group = found.isFolder ? listing.folders : listing.files;
        group.push_back(describeEntry(listing.folderPath, found.name, found.isFolder));
    }
    return listing;
}

std::string sizeText(uint64_t size)
{
    if (size == 0)
        return std::string();
    return std::to_string(size / 1024) + " KB";
}

std::string dateModifiedText(const FileEntry& entry)
{
    if (!entry.hasTime)
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%d %02d:%02d", entry.month, entry.day, entry.year,
                  entry.hour, entry.minute);
    return text;
}

// --- FileListModel ---

FileListModel::FileListModel(QObject* parent)
    : QAbstractTableModel(parent), m_thumbnails(kThumbnailMemoryKb),
      m_reader(new BackgroundFileReader(this))
{
    // Folders show the theme's folder icon; reading each folder for its own icon is slow.
    m_iconProvider.setOptions(QFileIconProvider::DontUseCustomDirectoryIcons);
    connect(m_reader, &BackgroundFileReader::factsRead, this, &FileListModel::factsRead);
}

FileListModel::~FileListModel() = default;

void FileListModel::show(std::shared_ptr<const FolderListing> listing)
{
    beginResetModel();
    // What is still being read belongs to the folder that was listed.
    m_reader->cancelAll();
    m_listing = std::move(listing);
    m_icons.assign(static_cast<size_t>(rowCount()), std::nullopt);
    m_fetchedIcons = 0;
    m_facts.assign(static_cast<size_t>(rowCount()), RowFacts{});
    m_rowOfKey.clear();
    for (int row = 0; row < rowCount(); ++row) {
        m_facts[static_cast<size_t>(row)].key = m_nextKey++;
        m_rowOfKey[m_nextKey - 1] = row;
    }
    m_thumbnails.clear();
    endResetModel();
}

void FileListModel::giveKey(int row)
{
    RowFacts& facts = m_facts[static_cast<size_t>(row)];
    m_rowOfKey.erase(facts.key);
    facts.key = m_nextKey++;
    m_rowOfKey[facts.key] = row;
}

void FileListModel::relisted(std::shared_ptr<const FolderListing> listing)
{
    beginResetModel();
    // Entries left as they were keep what is known of them, and the answers still to come for
    // them; the rest are asked about again when painted.
    std::map<std::pair<bool, std::string>, int> oldRows;
    for (int row = 0; row < rowCount(); ++row)
        oldRows[{isFileRow(row), entryAt(row).name}] = row;
    const auto before = m_listing;
    std::vector<std::optional<QIcon>> icons;
    std::vector<RowFacts> facts;
    std::unordered_map<int, int> rowOfKey;
    m_listing = std::move(listing);
    for (int row = 0; row < rowCount(); ++row) {
        const FileEntry& entry = entryAt(row);
        const auto found = oldRows.find({isFileRow(row), entry.name});
        const bool same =
            found != oldRows.end() && sameState(entryIn(*before, found->second), entry);
        icons.push_back(same ? m_icons[static_cast<size_t>(found->second)] : std::nullopt);
        facts.push_back(same ? m_facts[static_cast<size_t>(found->second)] : RowFacts{});
        if (same)
            oldRows.erase(found);
        else
            facts.back().key = m_nextKey++;
        rowOfKey[facts.back().key] = row;
    }
    for (const auto& gone : oldRows)
        m_thumbnails.remove(m_facts[static_cast<size_t>(gone.second)].key);
    m_icons = std::move(icons);
    m_facts = std::move(facts);
    m_rowOfKey = std::move(rowOfKey);
    m_fetchedIcons = static_cast<int>(
        std::count_if(m_icons.begin(), m_icons.end(), [](const auto& icon) { return icon; }));
    endResetModel();
}

void FileListModel::setThumbnails(std::optional<ThumbnailSize> size, qreal devicePixelRatio)
{
    if (size == m_thumbnailSize && devicePixelRatio == m_devicePixelRatio)
        return;
    const bool sizeChanged = size && m_thumbnailSize && size != m_thumbnailSize;
    m_thumbnailSize = size;
    m_devicePixelRatio = devicePixelRatio;
    if (sizeChanged) {
        // Thumbnails of the other size are asked for again as their rows are painted.
        m_thumbnails.clear();
        for (RowFacts& facts : m_facts)
            facts.thumbnailAsked = facts.thumbnailDone = facts.thumbnailMade = false;
    }
    if (rowCount() > 0)
        emit dataChanged(index(0, NameColumn), index(rowCount() - 1, NameColumn),
                         {Qt::DecorationRole});
}

bool FileListModel::isFileRow(int row) const
{
    return m_listing && row >= static_cast<int>(m_listing->folders.size()) && row < rowCount();
}

const FileListModel::RowFacts& FileListModel::factsAt(int row, bool withThumbnail) const
{
    RowFacts& facts = m_facts[static_cast<size_t>(row)];
    const bool askThumbnail =
        withThumbnail && m_thumbnailSize &&
        (!facts.thumbnailAsked || (facts.thumbnailMade && !m_thumbnails.contains(facts.key)));
    if (!facts.notesAsked || askThumbnail) {
        facts.notesAsked = true;
        if (askThumbnail) {
            facts.thumbnailAsked = true;
            facts.thumbnailDone = facts.thumbnailMade = false;
        }
        m_reader->request(facts.key, m_listing->folderPath + entryAt(row).name,
                          askThumbnail ? m_thumbnailSize : std::nullopt);
    }
    return facts;
}

void FileListModel::factsRead(int key, const FileFacts& facts)
{
    const auto listed = m_rowOfKey.find(key);
    if (listed == m_rowOfKey.end() || !isFileRow(listed->second))
        return;
    const int row = listed->second;
    RowFacts& known = m_facts[static_cast<size_t>(row)];
    known.carriesNotes = facts.carriesNotes;
    if (known.thumbnailAsked && !known.thumbnailDone) {
        known.thumbnailDone = true;
        if (!facts.thumbnail.isNull()) {
            QPixmap pixmap = QPixmap::fromImage(facts.thumbnail);
            pixmap.setDevicePixelRatio(m_devicePixelRatio);
            const auto cost = static_cast<int>(facts.thumbnail.sizeInBytes() / 1024) + 1;
            known.thumbnailMade = m_thumbnails.insert(key, new QIcon(pixmap), cost);
        }
    }
    emit dataChanged(index(row, NotesColumn), index(row, NotesColumn), {Qt::DisplayRole});
    if (m_thumbnailSize)
        emit dataChanged(index(row, NameColumn), index(row, NameColumn),
                         {Qt::DecorationRole, CarriesNotesRole});
}

void FileListModel::moved(std::shared_ptr<const FolderListing> listing)
{
    // The same entries under another folder path: nothing on screen changes.
    m_listing = std::move(listing);
}

void FileListModel::renamed(std::shared_ptr<const FolderListing> listing, int row)
{
    m_listing = std::move(listing);
    // Another extension may have another icon, and another reader.
    m_icons[static_cast<size_t>(row)].reset();
    m_thumbnails.remove(m_facts[static_cast<size_t>(row)].key);
    m_facts[static_cast<size_t>(row)] = RowFacts{};
    giveKey(row);
    emit dataChanged(index(row, NotesColumn), index(row, NotesColumn), {Qt::DisplayRole});
    if (m_thumbnailSize)
        emit dataChanged(index(row, NameColumn), index(row, NameColumn),
                         {Qt::DecorationRole, CarriesNotesRole});
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_listing)
        return 0;
    return static_cast<int>(m_listing->folders.size() + m_listing->files.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const FileEntry& FileListModel::entryAt(int row) const
{
    const auto folderCount = static_cast<int>(m_listing->folders.size());
    if (row < folderCount)
        return m_listing->folders[static_cast<size_t>(row)];
    return m_listing->files[static_cast<size_t>(row - folderCount)];
}

QString FileListModel::cellText(const FileEntry& entry, int column) const
{
    switch (column) {
    case NameColumn:
        return QFile::decodeName(QByteArray::fromStdString(entry.name));
    case SizeColumn:
        return QString::fromStdString(sizeText(entry.size));
    case TypeColumn:
        if (entry.isFolder)
            return QStringLiteral("File Folder");
        return QFile::decodeName(
            QByteArray::fromStdString(TypeDescription(FileExtension(entry.name))));
    case DateColumn:
        return QString::fromStdString(dateModifiedText(entry));
    default:
        return QString();
    }
}

QVariant FileListModel::decorationAt(int row) const
{
    if (m_thumbnailSize && isFileRow(row)) {
        factsAt(row, true);
        if (const QIcon* thumbnail = m_thumbnails.object(m_facts[static_cast<size_t>(row)].key))
            return *thumbnail;
    }
    return iconAt(row);
}

QIcon FileListModel::iconAt(int row) const
{
    auto& icon = m_icons[static_cast<size_t>(row)];
    if (!icon) {
        const std::string path = m_listing->folderPath + entryAt(row).name;
        icon = m_iconProvider.icon(QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))));
        ++m_fetchedIcons;
    }
    return *icon;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == NotesColumn) {
            if (!isFileRow(index.row()))
                return QString();
            const auto& notes = factsAt(index.row(), false).carriesNotes;
            return notes.value_or(false) ? QStringLiteral("yes") : QString();
        }
        return cellText(entryAt(index.row()), index.column());
    case Qt::ToolTipRole:
        // A long name is elided on screen; hovering it shows it whole.
        if (index.column() == NameColumn)
            return cellText(entryAt(index.row()), NameColumn);
        return QVariant();
    case Qt::EditRole:
        return cellText(entryAt(index.row()), index.column());
    case Qt::DecorationRole:
        return index.column() == NameColumn ? decorationAt(index.row()) : QVariant();
    case CarriesNotesRole:
        return isFileRow(index.row()) &&
               factsAt(index.row(), m_thumbnailSize.has_value()).carriesNotes.value_or(false);
    case Qt::TextAlignmentRole:
        if (index.column() == SizeColumn)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return section == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                     : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case SizeColumn:
        return QStringLiteral("Size");
    case TypeColumn:
        return QStringLiteral("Type");
    case DateColumn:
        return QStringLiteral("Date Modified");
    case NotesColumn:
        return QStringLiteral("Notes");
    default:
        return QVariant();
    }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    // Names can be edited, but the way up is no entry of its own.
    if (index.column() == NameColumn && index.row() < rowCount() &&
        entryAt(index.row()).name != "..")
        flags |= Qt::ItemIsEditable;
    return flags;
}

// --- FileList ---

FileList::FileList(ReaderDocument& document, QWidget* parent)
    : QTreeView(parent), m_document(document), m_model(new FileListModel(this)),
      m_listing(std::make_shared<FolderListing>())
{
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // lets the view size 10,000 rows from the first one
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Only F2 edits a name: a click opens, and keys the main window does not take move the
    // highlight.
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setItemDelegate(
        new LabelEditDelegate(this, [this](const QModelIndex& index, const QString& text) {
            endLabelEdit(index.row(), text);
        }));
    setDragEnabled(false);
    setAllColumnsShowFocus(true);
    const int smallIcon = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    setIconSize(QSize(smallIcon, smallIcon));

    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    // Eliding in the middle keeps a long name's start and its extension in sight.
    setTextElideMode(Qt::ElideMiddle);
    fitColumns();

    SetListBkColor(kDefaultBkColour);
    m_document.setListPane(this);
    connect(&m_watch, &FolderWatch::changed, this, &FileList::folderChanged);
}

FileList::~FileList()
{
    m_document.setListPane(nullptr);
}

bool FileList::showFolder(const std::string& path)
{
    auto listing = readFolderListing(path);
    if (!listing) {
        m_watch.stop();
        m_model->show(nullptr);
        return false;
    }
    m_listing = std::make_shared<const FolderListing>(std::move(*listing));
    m_currentFile = -1;
    m_model->show(m_listing);
    fitColumns();
    // Without a watch the list still lists the folder; it then follows the disk on F5 only.
    m_watch.watch(m_listing->folderPath);
    // The scroll bar outlives the rows it measured; another folder starts at its first row.
    scrollToTop();
    if (m_grid)
        m_grid->scrollToTop();
    return true;
}

bool FileList::selectPath(const std::string& path)
{
    const std::string& folder = m_listing->folderPath;
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
        return false;
    const std::string name = path.substr(folder.size());
    for (size_t i = 0; i < m_listing->files.size(); ++i) {
        if (m_listing->files[i].name == name) {
            selectFile(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

std::optional<std::string> FileList::selectedEntryPath() const
{
    // The grid selects the name cell alone, the table the whole row: the row is what counts.
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty() || m_model->listing() != m_listing.get())
        return std::nullopt;
    const int row = selected.first().row();
    const auto folderCount = static_cast<int>(m_listing->folders.size());
    if (row < 0 || row >= m_model->rowCount())
        return std::nullopt;
    const FileEntry& entry = row < folderCount
                                 ? m_listing->folders[static_cast<size_t>(row)]
                                 : m_listing->files[static_cast<size_t>(row - folderCount)];
    if (entry.name == "..")
        return std::nullopt;
    return m_listing->folderPath + entry.name;
}

FileList::AfterDelete FileList::followDeletedEntry(const std::string& path)
{
    AfterDelete after;
    const std::string& folder = m_listing->folderPath;
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
        return after;
    const std::string name = path.substr(folder.size());
    const auto named = [&name](const FileEntry& entry) { return entry.name == name; };
    auto listing = std::make_shared<FolderListing>(*m_listing);
    const auto folderAt = std::find_if(listing->folders.begin(), listing->folders.end(), named);
    const auto fileAt = std::find_if(listing->files.begin(), listing->files.end(), named);
    int current = m_currentFile;
    if (name != ".." && folderAt != listing->folders.end()) {
        listing->folders.erase(folderAt);
    } else if (fileAt != listing->files.end()) {
        const auto index = static_cast<int>(fileAt - listing->files.begin());
        listing->files.erase(fileAt);
        after.fileRemoved = true;
        current = std::min(index, static_cast<int>(listing->files.size()) - 1);
    } else {
        return after;
    }
    // A listing that could not be shown is kept for stepping only; it stays out of sight.
    const bool shown = m_model->listing() == m_listing.get();
    m_listing = std::move(listing);
    if (shown)
        m_model->show(m_listing);
    m_currentFile = -1;
    if (current >= 0)
        selectFile(current);
    if (after.fileRemoved && current >= 0)
        after.next = currentFilePath();
    return after;
}

namespace {

int fileIndexOf(const FolderListing& listing, const std::string& name)
{
    for (size_t i = 0; i < listing.files.size(); ++i) {
        if (listing.files[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

// Where the current file goes when it went: to the first of the files that followed it that is
// still there, else to the last of those before it.
int survivorOf(const FolderListing& before, int current, const FolderListing& now)
{
    const auto count = static_cast<int>(before.files.size());
    for (int i = current + 1; i < count; ++i) {
        const int index = fileIndexOf(now, before.files[static_cast<size_t>(i)].name);
        if (index >= 0)
            return index;
    }
    for (int i = std::min(current, count) - 1; i >= 0; --i) {
        const int index = fileIndexOf(now, before.files[static_cast<size_t>(i)].name);
        if (index >= 0)
            return index;
    }
    return now.files.empty() ? -1 : 0;
}

} // namespace

FileList::AfterDelete FileList::refresh()
{
    AfterDelete after;
    // A listing kept only for stepping, after a folder that could not be read, is not on show.
    if (m_listing->folderPath.empty() || m_model->listing() != m_listing.get())
        return after;
    auto listing = readFolderListing(m_listing->folderPath);
    if (!listing) {
        m_watch.stop();
        listing = FolderListing{};
        listing->folderPath = m_listing->folderPath;
    }
    auto relisted = std::make_shared<const FolderListing>(std::move(*listing));
    int current = -1;
    std::string currentName;
    if (m_currentFile >= 0) {
        currentName = m_listing->files[static_cast<size_t>(m_currentFile)].name;
        current = fileIndexOf(*relisted, currentName);
        if (current < 0) {
            after.fileRemoved = true;
            current = survivorOf(*m_listing, m_currentFile, *relisted);
        }
    }
    showRelisted(std::move(relisted), current, nameAtRow(selectionModel()->currentIndex().row()));
    if (after.fileRemoved && current >= 0)
        after.next = currentFilePath();
    return after;
}

std::optional<std::string> FileList::nameAtRow(int row) const
{
    const auto folderCount = static_cast<int>(m_listing->folders.size());
    if (row < 0 || row >= m_model->rowCount())
        return std::nullopt;
    return row < folderCount ? m_listing->folders[static_cast<size_t>(row)].name
                             : m_listing->files[static_cast<size_t>(row - folderCount)].name;
}

void FileList::showRelisted(std::shared_ptr<const FolderListing> listing, int current,
                            const std::optional<std::string>& highlighted)
{
    const int tableScroll = verticalScrollBar()->value();
    const int gridScroll = m_grid ? m_grid->verticalScrollBar()->value() : 0;
    const bool gridShowedCurrent =
        m_grid && m_thumbnailMode &&
        m_grid->viewport()->rect().intersects(m_grid->visualRect(selectionModel()->currentIndex()));
    m_listing = std::move(listing);
    m_model->relisted(m_listing);
    // A file that came or changed may be the one with the longest size or date.
    fitColumns();
    m_currentFile = -1;
    if (current >= 0)
        selectFile(current);
    const bool highlightMoved =
        highlighted &&
        (current < 0 || *highlighted != m_listing->files[static_cast<size_t>(current)].name);
    for (int row = 0; highlightMoved && row < m_model->rowCount(); ++row) {
        if (nameAtRow(row) == highlighted) {
            selectionModel()->setCurrentIndex(m_model->index(row, 0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
            break;
        }
    }
    // The rows the user was looking at stay in place: the views measure their rows again at
    // once, so that the scroll bars can go back to where they were.
    doItemsLayout();
    verticalScrollBar()->setValue(tableScroll);
    if (m_grid) {
        m_grid->doItemsLayout();
        m_grid->verticalScrollBar()->setValue(gridScroll);
        // Files that came before the current one push it down: it stays in sight if it was.
        if (gridShowedCurrent)
            m_grid->scrollTo(selectionModel()->currentIndex());
    }
}

std::string FileList::currentFilePath() const
{
    return m_listing->folderPath + m_listing->files[static_cast<size_t>(m_currentFile)].name;
}

void FileList::selectFile(int index)
{
    m_currentFile = index;
    const QModelIndex row = m_model->index(static_cast<int>(m_listing->folders.size()) + index, 0);
    if (!row.isValid())
        return; // the listing on show failed; the files of the previous one are stepped blind
    selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect |
                                               QItemSelectionModel::Rows);
    shownView()->scrollTo(row);
}

std::optional<std::string> FileList::SelectPreviousFile()
{
    if (m_currentFile <= 0)
        return std::nullopt;
    selectFile(m_currentFile - 1);
    return currentFilePath();
}

std::optional<std::string> FileList::SelectNextFile()
{
    const auto fileCount = static_cast<int>(m_listing->files.size());
    if (m_currentFile + 1 >= fileCount)
        return std::nullopt;
    selectFile(m_currentFile + 1);
    return currentFilePath();
}

void FileList::setOutOfSightForFullScreen(bool outOfSight)
{
    m_outOfSightForFullScreen = outOfSight;
    paneWidget()->setHidden(outOfSight);
}

void FileList::attachThumbnailGrid(ThumbnailGrid* grid)
{
    m_grid = grid;
    m_grid->setPalette(palette());
}

QWidget* FileList::paneWidget()
{
    auto* stack = qobject_cast<QStackedWidget*>(parentWidget());
    return m_grid && stack ? static_cast<QWidget*>(stack) : this;
}

const QWidget* FileList::paneWidget() const
{
    return const_cast<FileList*>(this)->paneWidget();
}

QAbstractItemView* FileList::shownView()
{
    return m_thumbnailMode && m_grid ? static_cast<QAbstractItemView*>(m_grid) : this;
}

ThumbnailSize FileList::thumbnailSizeForScreen() const
{
    // Large thumbnails, or a screen scaled up, cover more screen pixels than the normal entries
    // of the cache have: the large entries keep them sharp.
    const qreal side = (m_grid ? m_grid->thumbnailSide() : thumbnailPixels(ThumbnailSize::Normal)) *
                       devicePixelRatioF();
    return side > thumbnailPixels(ThumbnailSize::Normal) ? ThumbnailSize::Large
                                                         : ThumbnailSize::Normal;
}

void FileList::thumbnailSideChanged()
{
    if (m_thumbnailMode)
        m_model->setThumbnails(thumbnailSizeForScreen(), devicePixelRatioF());
}

void FileList::setThumbnailMode(bool thumbnails)
{
    const bool hadFocus = shownView()->hasFocus();
    m_thumbnailMode = thumbnails;
    m_model->setThumbnails(thumbnails ? std::optional(thumbnailSizeForScreen()) : std::nullopt,
                           devicePixelRatioF());
    auto* stack = qobject_cast<QStackedWidget*>(paneWidget());
    if (!stack)
        return;
    QAbstractItemView* view = shownView();
    stack->setCurrentWidget(view);
    stack->setFocusProxy(view);
    if (hadFocus)
        view->setFocus();
    const QModelIndex current = selectionModel()->currentIndex();
    if (current.isValid())
        view->scrollTo(current);
}

void FileList::SetListBkColor(ColourRef colour)
{
    m_bkColour = colour;
    QPalette colours = palette();
    colours.setColor(QPalette::Base, toQColor(colour));
    colours.setColor(QPalette::AlternateBase, toQColor(colour));
    setPalette(colours);
    viewport()->update();
    if (m_grid) {
        m_grid->setPalette(colours);
        m_grid->viewport()->update();
    }
}

void FileList::clickRow(int row)
{
    const auto folderCount = static_cast<int>(m_listing->folders.size());
    if (row < folderCount || row >= m_model->rowCount())
        return;
    const int file = row - folderCount;
    if (file == m_currentFile)
        return;
    // A file another program took away in the moment before its row went: the list catches up
    // instead of opening nothing.
    struct stat status;
    const std::string path =
        m_listing->folderPath + m_listing->files[static_cast<size_t>(file)].name;
    if (::lstat(path.c_str(), &status) != 0 && errno == ENOENT) {
        emit folderChanged();
        return;
    }
    selectFile(file);
    m_document.OpenImagePath(currentFilePath());
}

bool FileList::doubleClickRow(int row)
{
    if (row < 0 || row >= static_cast<int>(m_listing->folders.size()) || row >= m_model->rowCount())
        return false;
    const std::string target =
        m_listing->folderPath + m_listing->folders[static_cast<size_t>(row)].name;
    emit folderEntered(target);
    showFolder(target);
    return true;
}

bool FileList::endLabelEdit(int row, const QString& text)
{
    const auto folderCount = static_cast<int>(m_listing->folders.size());
    if (row < 0 || row >= m_model->rowCount() || text.isEmpty() ||
        text.contains(QLatin1Char('/')) || !m_rename)
        return false;
    const bool folder = row < folderCount;
    const size_t index = static_cast<size_t>(folder ? row : row - folderCount);
    const std::string& oldName =
        folder ? m_listing->folders[index].name : m_listing->files[index].name;
    const std::string newName = QFile::encodeName(text).toStdString();
    if (oldName == ".." || newName == oldName ||
        !m_rename(m_listing->folderPath + oldName, newName))
        return false;
    // The entry keeps its place, so that the current file and the rows around it stay where
    // the user left them.
    auto listing = std::make_shared<FolderListing>(*m_listing);
    (folder ? listing->folders[index] : listing->files[index]).name = newName;
    m_listing = listing;
    m_model->renamed(m_listing, row);
    return true;
}

void FileList::followRenamedFolder(const std::string& from, const std::string& to)
{
    const std::string& folder = m_listing->folderPath;
    const std::string prefix = from + "/";
    if (folder.compare(0, prefix.size(), prefix) != 0)
        return;
    auto listing = std::make_shared<FolderListing>(*m_listing);
    listing->folderPath = to + folder.substr(from.size());
    m_listing = listing;
    m_model->moved(m_listing);
}

void FileList::fitColumns()
{
    for (const int column :
         {FileListModel::SizeColumn, FileListModel::TypeColumn, FileListModel::DateColumn})
        resizeColumnToContents(column);
    // Measuring the Notes cells would ask the background reader about every row, shown or not;
    // they say "yes" at most, which the header's own width holds.
    setColumnWidth(FileListModel::NotesColumn,
                   header()->sectionSizeHint(FileListModel::NotesColumn));
    fitNameColumn();
}

void FileList::fitNameColumn()
{
    int others = 0;
    for (int column = FileListModel::SizeColumn; column < FileListModel::ColumnCount; ++column)
        others += columnWidth(column);
    setColumnWidth(FileListModel::NameColumn,
                   std::max(kMinNameWidth, viewport()->width() - others));
}

// A scroll area's resize events are those of its viewport: the Name column follows the room
// the pane gives it, and the scroll bar coming or going.
void FileList::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    fitNameColumn();
}

void FileList::forwardZoomCommand(int command)
{
    if (zoomCommandsEnabled())
        emit zoomCommandForwarded(command);
}

// The main window steps through the pictures with these keys; when it has no picture to step
// to, they still must not move the highlight.
void FileList::keyPressEvent(QKeyEvent* event)
{
    if (isImageSteppingKey(event->key())) {
        event->ignore();
        return;
    }
    if (!takeDeleteKey(event))
        QTreeView::keyPressEvent(event);
}

bool FileList::takeDeleteKey(QKeyEvent* event)
{
    if (!isDeleteKey(event->key(), event->modifiers()))
        return false;
    event->accept();
    emit deleteRequested();
    return true;
}

// The list decides what a click does itself: the view's own press handling would select
// rows and start drags, which the list does not want.
void FileList::pressIn(const QAbstractItemView& view, QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = view.indexAt(event->position().toPoint());
    if (index.isValid())
        clickRow(index.row());
}

bool FileList::doubleClickIn(const QAbstractItemView& view, QMouseEvent* event)
{
    const QModelIndex index = view.indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid() && doubleClickRow(index.row())) {
        event->accept();
        return true;
    }
    return false;
}

bool FileList::swallowsDrag(QMouseEvent* event)
{
    // Dragging with a button held would otherwise select rows.
    if (event->buttons() == Qt::NoButton)
        return false;
    event->accept();
    return true;
}

void FileList::mousePressEvent(QMouseEvent* event)
{
    pressIn(*this, event);
}

void FileList::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void FileList::mouseMoveEvent(QMouseEvent* event)
{
    if (!swallowsDrag(event))
        QTreeView::mouseMoveEvent(event);
}

void FileList::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!doubleClickIn(*this, event))
        QTreeView::mouseDoubleClickEvent(event);
}

} // namespace ombri::reader
