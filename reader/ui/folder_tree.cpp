#include "reader/ui/folder_tree.h"

#include "reader/command_ids.h"
#include "reader/folder_walk.h"
#include "reader/reader_document.h"
#include "reader/ui/label_edit_delegate.h"
#include "reader/ui/pane_keys.h"

#include <QApplication>
#include <QFile>
#include <QFileIconProvider>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <cstdlib>
#include <vector>

namespace ombri::reader {

namespace {

// The item's own name bytes (a root's whole path), kept beside the label so that a name that
// is not valid text still gives back the exact path.
constexpr int kNameRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;

std::string itemName(const QTreeWidgetItem* item)
{
    return item->data(0, kNameRole).toByteArray().toStdString();
}

QString labelOf(const std::string& name)
{
    return QFile::decodeName(QByteArray::fromStdString(name));
}

// Sets a flag for the length of a scope and restores what it was.
class FlagScope {
  public:
    explicit FlagScope(bool& flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
    ~FlagScope() { m_flag = m_previous; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

  private:
    bool& m_flag;
    bool m_previous;
};

// Painting stays off while a folder's children are replaced, so that a large folder does not
// repaint once per inserted item. Nested scopes leave painting to the outermost one.
class UpdatesOff {
  public:
    explicit UpdatesOff(QWidget& widget) : m_widget(widget), m_previous(widget.updatesEnabled())
    {
        m_widget.setUpdatesEnabled(false);
    }
    ~UpdatesOff() { m_widget.setUpdatesEnabled(m_previous); }
    UpdatesOff(const UpdatesOff&) = delete;
    UpdatesOff& operator=(const UpdatesOff&) = delete;

  private:
    QWidget& m_widget;
    bool m_previous;
};

} // namespace

// --- FolderTreeWidget ---

FolderTreeWidget::FolderTreeWidget(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);

    // The selection, not the current item, is what opens: Qt makes the first root current when
    // the tree first gets the focus, which must not open anything.
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_quietSelection && !m_pressSelecting)
            notifySelection(selectedItem());
    });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!m_quietExpansion)
            onItemExpanded(item);
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (!m_quietExpansion)
            onItemCollapsed(item);
    });
}

// Items are deleted with the widget, after this object's members are gone; nothing may react
// to the selection moving meanwhile.
FolderTreeWidget::~FolderTreeWidget()
{
    blockSignals(true);
}

bool FolderTreeWidget::Initialise(const std::string& startPath)
{
    {
        FlagScope quiet(m_quietSelection);
        clear();
    }
    attachIcons();
    m_showFiles = false;
    if (!startPath.empty()) {
        QTreeWidgetItem* root = InsertPathItem(
            nullptr, trimTrailingSlashes(absolutePath(startPath)), TreeItemKind::Root);
        PopulateFolder(root, itemPath(root));
        return true;
    }
    const char* home = std::getenv("HOME");
    for (const std::string& path : treeRootPaths(home ? home : "", readMountTable())) {
        QTreeWidgetItem* root = InsertPathItem(nullptr, path, TreeItemKind::Root);
        if (HasChildren(path, ShowFiles::No, m_shownHidden))
            addPlaceholder(root);
    }
    return true;
}

void FolderTreeWidget::attachIcons()
{
    if (!m_iconProvider)
        m_iconProvider = std::make_unique<QFileIconProvider>();
}

// The same few icons serve every item: asking the platform per path would make a folder of
// thousands of entries slow to open.
QIcon FolderTreeWidget::iconFor(TreeItemKind kind)
{
    attachIcons();
    switch (kind) {
    case TreeItemKind::Root:
        if (m_rootIcon.isNull())
            m_rootIcon = m_iconProvider->icon(QAbstractFileIconProvider::Drive);
        return m_rootIcon;
    case TreeItemKind::Folder:
        if (m_folderIcon.isNull())
            m_folderIcon = m_iconProvider->icon(QAbstractFileIconProvider::Folder);
        return m_folderIcon;
    case TreeItemKind::File:
        if (m_fileIcon.isNull())
            m_fileIcon = m_iconProvider->icon(QAbstractFileIconProvider::File);
        return m_fileIcon;
    case TreeItemKind::Placeholder:
        break;
    }
    return {};
}

QTreeWidgetItem* FolderTreeWidget::InsertPathItem(QTreeWidgetItem* parent, const std::string& path,
                                                  TreeItemKind kind)
{
    const std::string trimmed = trimTrailingSlashes(path);
    const std::string name = parent ? lastComponent(trimmed) : trimmed;
    auto* item = new QTreeWidgetItem;
    item->setText(0, labelOf(name));
    item->setData(0, kNameRole, QByteArray::fromStdString(name));
    item->setData(0, kKindRole, static_cast<int>(kind));
    item->setIcon(0, iconFor(kind));
    // A root stands for a whole volume or the home folder; it is never renamed.
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (kind == TreeItemKind::Folder || kind == TreeItemKind::File)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    if (parent)
        parent->addChild(item);
    else
        addTopLevelItem(item);
    return item;
}

void FolderTreeWidget::addPlaceholder(QTreeWidgetItem* item)
{
    auto* placeholder = new QTreeWidgetItem;
    placeholder->setData(0, kKindRole, static_cast<int>(TreeItemKind::Placeholder));
    placeholder->setFlags(Qt::ItemIsEnabled);
    item->addChild(placeholder);
}

void FolderTreeWidget::deleteChildren(QTreeWidgetItem* item)
{
    const QList<QTreeWidgetItem*> children = item->takeChildren();
    qDeleteAll(children);
}

void FolderTreeWidget::insertChildFolders(QTreeWidgetItem* item, const FolderChildren& children)
{
    for (const std::string& folder : children.folders) {
        QTreeWidgetItem* child = InsertPathItem(item, folder, TreeItemKind::Folder);
        if (HasChildren(folder, m_showFiles ? ShowFiles::Yes : ShowFiles::No, m_shownHidden))
            addPlaceholder(child);
    }
}

void FolderTreeWidget::PopulateFolder(QTreeWidgetItem* item, const std::string& path)
{
    const FolderChildren children =
        readFolderChildren(path, m_showFiles ? ShowFiles::Yes : ShowFiles::No, m_shownHidden);
    UpdatesOff updatesOff(*this);
    insertChildFolders(item, children);
    for (const std::string& file : children.files)
        InsertPathItem(item, file, TreeItemKind::File);
}

std::string FolderTreeWidget::itemPath(const QTreeWidgetItem* item) const
{
    if (!item)
        return {};
    std::vector<const QTreeWidgetItem*> chain;
    for (const QTreeWidgetItem* at = item; at; at = at->parent())
        chain.push_back(at);
    std::string path = itemName(chain.back());
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it)
        path = childPath(path, itemName(*it));
    return path;
}

QTreeWidgetItem* FolderTreeWidget::selectedItem() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

TreeItemKind FolderTreeWidget::itemKind(const QTreeWidgetItem* item)
{
    return static_cast<TreeItemKind>(item->data(0, kKindRole).toInt());
}

void FolderTreeWidget::notifySelection(QTreeWidgetItem* item)
{
    // The file list now shows this folder, so a folder entered there is one of its children.
    const bool folder = item && itemKind(item) != TreeItemKind::File;
    m_currentFolder = folder ? QPersistentModelIndex(indexFromItem(item)) : QPersistentModelIndex();
    onSelectionChanged(item);
}

void FolderTreeWidget::onSelectionChanged(QTreeWidgetItem*) {}

// Every expansion reads the folder afresh, so what was added or removed on disk since the last
// look shows up.
void FolderTreeWidget::onItemExpanded(QTreeWidgetItem* item)
{
    deleteChildren(item);
    const std::string path = itemPath(item);
    if (!isRecyclerPath(path))
        PopulateFolder(item, path);
}

// The placeholder keeps the expand button, and the next expansion reads the folder again. A folder
// closed over the selected item takes the selection, however far up it is: the file list and the
// document then follow a folder the tree still shows. (Qt moves the selection by itself only when
// the selected item is a child of the closed folder.)
void FolderTreeWidget::onItemCollapsed(QTreeWidgetItem* item)
{
    for (QTreeWidgetItem* up = selectedItem(); up; up = up->parent()) {
        if (up->parent() == item) {
            setCurrentItem(item);
            break;
        }
    }
    deleteChildren(item);
    addPlaceholder(item);
}

QTreeWidgetItem* FolderTreeWidget::findChildByLabel(QTreeWidgetItem* parent,
                                                    const std::string& name) const
{
    QTreeWidgetItem* caseMatch = nullptr;
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* child = parent->child(i);
        if (itemKind(child) == TreeItemKind::Placeholder)
            continue;
        const std::string childName = itemName(child);
        if (childName == name)
            return child;
        if (!caseMatch && sameLabel(childName, name))
            caseMatch = child;
    }
    return caseMatch;
}

void FolderTreeWidget::rereadAndExpand(QTreeWidgetItem* item)
{
    if (item->isExpanded())
        collapseItem(item);
    // A folder that was empty when read has no expand button; the placeholder lets it expand
    // now that it may hold the folder being gone to.
    if (item->childCount() == 0)
        addPlaceholder(item);
    expandItem(item);
}

bool FolderTreeWidget::GoToPath(const std::string& path)
{
    std::vector<std::string> rootPaths;
    for (int i = 0; i < topLevelItemCount(); ++i)
        rootPaths.push_back(itemPath(topLevelItem(i)));
    const auto route = findTreeRoute(rootPaths, path);
    if (!route || !existsIgnoringCase(path))
        return false;

    QTreeWidgetItem* item = topLevelItem(static_cast<int>(route->root));
    {
        // Re-reading the folders on the way drops the selected item, and Qt moves the
        // selection to each collapsed parent in turn; only the final selection is announced.
        FlagScope quiet(m_quietSelection);
        UpdatesOff updatesOff(*this);
        rereadAndExpand(item);
        for (const std::string& name : route->components) {
            QTreeWidgetItem* parent = item;
            item = findChildByLabel(parent, name);
            if (!item && showHiddenFolder(parent, name))
                item = findChildByLabel(parent, name);
            if (!item)
                break;
            if (itemKind(item) != TreeItemKind::File)
                rereadAndExpand(item);
        }
        if (item)
            setCurrentItem(item);
    }
    if (!item)
        return false;
    scrollToItem(item);
    notifySelection(item);
    return true;
}

// A folder whose name starts with a dot is left out of the tree, yet a picture inside one can be
// opened by name; from then on the tree shows that folder, so that the file list can show it
// and Previous and Next step through it.
bool FolderTreeWidget::showHiddenFolder(QTreeWidgetItem* parent, const std::string& name)
{
    if (!isHiddenName(name) || name == "." || name == "..")
        return false;
    const std::string folder = itemPath(parent);
    const auto entries = ListFolder(folder);
    if (!entries)
        return false;
    const FolderEntry* found = nullptr;
    for (const FolderEntry& entry : *entries) {
        if (entry.isFolder && sameLabel(entry.name, name) && (!found || entry.name == name))
            found = &entry;
    }
    if (!found)
        return false;
    const std::string path = childPath(folder, found->name);
    if (isExcludedFolderPath(path) || !m_shownHidden.insert(path).second)
        return false;
    deleteChildren(parent);
    PopulateFolder(parent, folder);
    return true;
}

QTreeWidgetItem* FolderTreeWidget::shownItemOfPath(const std::string& path) const
{
    std::vector<std::string> rootPaths;
    for (int i = 0; i < topLevelItemCount(); ++i)
        rootPaths.push_back(itemPath(topLevelItem(i)));
    const auto route = findTreeRoute(rootPaths, path);
    if (!route || route->components.empty())
        return nullptr;
    QTreeWidgetItem* item = topLevelItem(static_cast<int>(route->root));
    for (const std::string& name : route->components) {
        item = findChildByLabel(item, name);
        if (!item || itemName(item) != name)
            return nullptr;
    }
    return item;
}

void FolderTreeWidget::followRenamedItem(const std::string& from, const std::string& to)
{
    QTreeWidgetItem* item = shownItemOfPath(from);
    if (!item)
        return;
    const std::string newName = lastComponent(to);
    item->setText(0, labelOf(newName));
    item->setData(0, kNameRole, QByteArray::fromStdString(newName));
}

void FolderTreeWidget::followDeletedItem(const std::string& path)
{
    QTreeWidgetItem* item = shownItemOfPath(path);
    if (!item)
        return;
    bool holdsSelection = false;
    for (QTreeWidgetItem* up = selectedItem(); up && !holdsSelection; up = up->parent())
        holdsSelection = up == item;
    // The selection cannot stay on a folder that is gone: it moves as after the tree's own
    // Delete, and the file list follows it.
    if (holdsSelection) {
        removeItem(item);
        return;
    }
    FlagScope quiet(m_quietSelection);
    delete item;
}

QTreeWidgetItem* FolderTreeWidget::currentFolderItem() const
{
    return m_currentFolder.isValid() ? itemFromIndex(m_currentFolder) : nullptr;
}

void FolderTreeWidget::RefreshCurrentFolder(const std::string& path)
{
    QTreeWidgetItem* folder = currentFolderItem();
    if (!folder)
        folder = selectedItem();
    if (!folder || itemKind(folder) == TreeItemKind::File ||
        itemKind(folder) == TreeItemKind::Placeholder)
        return;
    const std::string folderPath = itemPath(folder);
    if (isRecyclerPath(folderPath))
        return;

    const std::string entered = trimTrailingSlashes(path);
    UpdatesOff updatesOff(*this);
    deleteChildren(folder);
    m_currentFolder = indexFromItem(folder);
    for (const std::string& child :
         readFolderChildren(folderPath, ShowFiles::No, m_shownHidden).folders) {
        QTreeWidgetItem* item = InsertPathItem(folder, child, TreeItemKind::Folder);
        if (HasChildren(child, ShowFiles::No, m_shownHidden))
            addPlaceholder(item);
        if (child == entered)
            m_currentFolder = indexFromItem(item);
    }
    // The children were just read; the expansion must not read them a second time.
    FlagScope quiet(m_quietExpansion);
    expandItem(folder);
}

QTreeWidgetItem* FolderTreeWidget::removeItem(QTreeWidgetItem* item)
{
    QTreeWidgetItem* parent = item->parent();
    const int index = parent ? parent->indexOfChild(item) : indexOfTopLevelItem(item);
    const auto sibling = [this, parent](int at) {
        return parent ? parent->child(at) : topLevelItem(at);
    };
    // After the next sibling, the item the tree's own highlight moves to: the previous sibling,
    // else the parent. Selecting it makes the file list and the document follow, so that the
    // list never goes on showing a folder the tree no longer highlights.
    QTreeWidgetItem* next = sibling(index + 1);
    if (!next && index > 0)
        next = sibling(index - 1);
    if (!next)
        next = parent;
    {
        FlagScope quiet(m_quietSelection);
        delete item;
        if (next)
            setCurrentItem(next);
    }
    if (next)
        notifySelection(next);
    return next;
}

// --- Drag feedback ---

QTreeWidgetItem* FolderTreeWidget::dragItem() const
{
    return m_dragItem.isValid() ? itemFromIndex(m_dragItem) : nullptr;
}

QTreeWidgetItem* FolderTreeWidget::dropTargetItem() const
{
    return m_dropTarget.isValid() ? itemFromIndex(m_dropTarget) : nullptr;
}

void FolderTreeWidget::setDropTarget(QTreeWidgetItem* item)
{
    if (QTreeWidgetItem* previous = dropTargetItem()) {
        previous->setData(0, Qt::BackgroundRole, QVariant());
        previous->setData(0, Qt::ForegroundRole, QVariant());
    }
    m_dropTarget = item ? QPersistentModelIndex(indexFromItem(item)) : QPersistentModelIndex();
    if (item) {
        item->setData(0, Qt::BackgroundRole, palette().brush(QPalette::Highlight));
        item->setData(0, Qt::ForegroundRole, palette().brush(QPalette::HighlightedText));
    }
}

void FolderTreeWidget::beginDrag(const QPoint& position)
{
    QTreeWidgetItem* item = itemAt(position);
    if (!item || itemKind(item) == TreeItemKind::Placeholder)
        return;
    endDrag();
    m_dragging = true;
    m_dragItem = indexFromItem(item);
    // The picture of the item as the tree shows it, kept inside the tree's window like the
    // drag image it stands for.
    m_dragImage = new QLabel(viewport());
    m_dragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dragImage->setPixmap(viewport()->grab(visualItemRect(item)));
    m_dragImage->adjustSize();
    m_dragImage->move(position);
    m_dragImage->show();
}

void FolderTreeWidget::moveDrag(const QPoint& position)
{
    if (!m_dragging)
        return;
    if (m_dragImage)
        m_dragImage->move(position);
    QTreeWidgetItem* item = itemAt(position);
    if (item && item != dropTargetItem())
        setDropTarget(item);
}

void FolderTreeWidget::endDrag()
{
    if (!m_dragging)
        return;
    m_dragging = false;
    delete m_dragImage;
    m_dragImage = nullptr;
    setDropTarget(nullptr);
    m_dragItem = QPersistentModelIndex();
}

// A press may begin a drag, which chooses nothing: the selection the press makes is announced
// only when the button comes up without a drag, and a drag undoes it.
void FolderTreeWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QTreeWidget::mousePressEvent(event);
        return;
    }
    // A release that never came here leaves its click standing.
    announcePressSelection();
    QTreeWidgetItem* selected = selectedItem();
    m_selectedBeforePress =
        selected ? QPersistentModelIndex(indexFromItem(selected)) : QPersistentModelIndex();
    m_pressSelecting = true;
    QTreeWidget::mousePressEvent(event);
    m_pressPosition = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(m_pressPosition);
    m_pressedItem = item ? QPersistentModelIndex(indexFromItem(item)) : QPersistentModelIndex();
}

QTreeWidgetItem* FolderTreeWidget::selectedBeforePress() const
{
    return m_selectedBeforePress.isValid() ? itemFromIndex(m_selectedBeforePress) : nullptr;
}

void FolderTreeWidget::announcePressSelection()
{
    if (!m_pressSelecting)
        return;
    m_pressSelecting = false;
    QTreeWidgetItem* selected = selectedItem();
    if (selected != selectedBeforePress())
        notifySelection(selected);
}

void FolderTreeWidget::undoPressSelection()
{
    if (!m_pressSelecting)
        return;
    FlagScope quiet(m_quietSelection);
    m_pressSelecting = false;
    if (QTreeWidgetItem* before = selectedBeforePress())
        setCurrentItem(before);
    else
        clearSelection();
}

void FolderTreeWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    // Qt's own handling would move the selection with the pointer, opening every item passed.
    if (m_dragging) {
        moveDrag(position);
        return;
    }
    const bool leftHeld = event->buttons() & Qt::LeftButton;
    if (leftHeld && m_pressedItem.isValid() && state() != QAbstractItemView::EditingState &&
        (position - m_pressPosition).manhattanLength() >= QApplication::startDragDistance()) {
        undoPressSelection();
        beginDrag(m_pressPosition);
        moveDrag(position);
        return;
    }
    QTreeWidget::mouseMoveEvent(event);
}

// Releasing the button ends the feedback and moves nothing. The mouse stays captured by the
// tree only while the button is held, so there is no capture to release.
void FolderTreeWidget::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressedItem = QPersistentModelIndex();
    if (!m_dragging) {
        QTreeWidget::mouseReleaseEvent(event);
        announcePressSelection();
        return;
    }
    endDrag();
    // A drag that ends on the item it started from is no click on a selected item, which would
    // start a label edit. After a press on the selected item Qt selects whatever is under the
    // pointer as the button comes up, another item or nothing; a drag chooses nothing, so the
    // selection is kept.
    QTreeWidgetItem* selected = selectedItem();
    const EditTriggers triggers = editTriggers();
    setEditTriggers(triggers & ~QAbstractItemView::SelectedClicked);
    {
        FlagScope quiet(m_quietSelection);
        QTreeWidget::mouseReleaseEvent(event);
        if (selectedItem() != selected) {
            if (selected)
                setCurrentItem(selected);
            else
                clearSelection();
        }
    }
    setEditTriggers(triggers);
}

void FolderTreeWidget::focusOutEvent(QFocusEvent* event)
{
    // The release goes elsewhere once the focus has (a dialog, say): the click stands.
    announcePressSelection();
    endDrag();
    QTreeWidget::focusOutEvent(event);
}

// --- FolderTree ---

FolderTree::FolderTree(ReaderDocument* document, QWidget* parent)
    : FolderTreeWidget(parent), m_document(document)
{
    setItemDelegate(
        new LabelEditDelegate(this, [this](const QModelIndex& index, const QString& text) {
            endLabelEdit(itemAtIndex(index), text);
        }));
    SetTreeBkColor(kDefaultBkColour);
    if (m_document)
        m_document->setTreePane(this);
    Initialise();
}

FolderTree::~FolderTree()
{
    if (m_document)
        m_document->setTreePane(nullptr);
}

bool FolderTree::attachSystemImageList()
{
    attachIcons();
    return true;
}

void FolderTree::SetTreeBkColor(ColourRef colour)
{
    const QColor background(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, background);
    colours.setColor(QPalette::Window, background);
    setPalette(colours);
}

ColourRef FolderTree::treeBkColour() const
{
    const QColor background = palette().color(QPalette::Base);
    return makeColourRef(static_cast<uint8_t>(background.red()),
                         static_cast<uint8_t>(background.green()),
                         static_cast<uint8_t>(background.blue()));
}

void FolderTree::onSelectionChanged(QTreeWidgetItem* item)
{
    if (!item || itemKind(item) == TreeItemKind::Placeholder)
        return;
    const std::string path = itemPath(item);
    // A folder is no picture: the open fails and empties the document, which keeps the path of
    // the last picture shown.
    if (m_document)
        m_document->OpenImagePath(path);
    if (m_hooks.listFolder)
        m_hooks.listFolder(path);
}

void FolderTree::onItemExpanded(QTreeWidgetItem* item)
{
    setShowFiles(m_hooks.isListVisible && !m_hooks.isListVisible());
    FolderTreeWidget::onItemExpanded(item);
}

bool FolderTree::endLabelEdit(QTreeWidgetItem* item, const QString& text)
{
    if (!item || text.isEmpty() || text.contains(QLatin1Char('/')))
        return false;
    const TreeItemKind kind = itemKind(item);
    if (kind != TreeItemKind::Folder && kind != TreeItemKind::File)
        return false;
    const std::string newName = QFile::encodeName(text).toStdString();
    if (newName == itemName(item) || !m_hooks.rename || !m_hooks.rename(itemPath(item), newName))
        return false;
    item->setText(0, text);
    item->setData(0, kNameRole, QByteArray::fromStdString(newName));
    return true;
}

void FolderTree::onDelete()
{
    QTreeWidgetItem* item = selectedItem();
    if (!item)
        return;
    const TreeItemKind kind = itemKind(item);
    if (kind != TreeItemKind::Folder && kind != TreeItemKind::File)
        return;
    if (!m_hooks.deleteItem || !m_hooks.deleteItem(itemPath(item)))
        return;
    if (removeItem(item))
        return;
    // Nothing is left to select: the list keeps the deleted item's former content and the
    // picture goes.
    if (m_document)
        m_document->DeleteContents();
    if (m_hooks.imageReleased)
        m_hooks.imageReleased();
}

bool FolderTree::isForwardedCommand(int command)
{
    if (cmd::isColourMenuCommand(command))
        return true;
    switch (command) {
    case cmd::DisplayNotes:
    case cmd::ZoomOut:
    case cmd::ZoomIn:
    case cmd::OriginalSize:
        return true;
    default:
        return false;
    }
}

bool FolderTree::onCommand(int command)
{
    if (command == cmd::Delete) {
        onDelete();
        return true;
    }
    if (!isForwardedCommand(command))
        return false;
    if (m_hooks.forwardCommand)
        m_hooks.forwardCommand(command);
    return true;
}

bool FolderTree::onKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const bool keypad = modifiers & Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_Escape:
        if (m_hooks.leaveFullScreen)
            m_hooks.leaveFullScreen();
        return false;
    case Qt::Key_Delete:
        if (isDeleteKey(key, modifiers))
            onDelete();
        return false;
    // These step through the pictures as the main window's Previous and Next Image. With no
    // picture to step to they reach the tree, which must not move its selection with them: that
    // would open another folder and take the picture away.
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    // The keypad's plus and minus zoom the picture; the tree would expand and collapse with
    // them.
    case Qt::Key_Plus:
        return keypad && onCommand(cmd::ZoomIn);
    case Qt::Key_Minus:
        return keypad && onCommand(cmd::ZoomOut);
    default:
        return false;
    }
}

void FolderTree::keyPressEvent(QKeyEvent* event)
{
    if (onKeyDown(event->key(), event->modifiers())) {
        event->accept();
        return;
    }
    FolderTreeWidget::keyPressEvent(event);
}

} // namespace ombri::reader
