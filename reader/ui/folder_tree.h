#pragma once

#include "notes/render.h"
#include "reader/panes.h"
#include "reader/tree_rules.h"

#include <QIcon>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <string>

class QFileIconProvider;
class QLabel;

namespace ombri::reader {

class ReaderDocument;

// What a tree item stands for. A placeholder is the empty child a folder carries until it is
// expanded, so that it shows an expand button without having been read.
enum class TreeItemKind { Root, Folder, File, Placeholder };

// The folder tree's logic and state: population from disk, going to a path, refreshing the
// folder the file list descends into, and the drag feedback. What a selection, an expansion or a
// key means for the rest of the program is FolderTree's.
class FolderTreeWidget : public QTreeWidget {
    Q_OBJECT

  public:
    explicit FolderTreeWidget(QWidget* parent = nullptr);
    ~FolderTreeWidget() override;

    // Adds the item of a path as the last child of parent, or as a root item when parent is
    // null. A root's label is its whole path, any other item's label the path's last name.
    QTreeWidgetItem* InsertPathItem(QTreeWidgetItem* parent, const std::string& path,
                                    TreeItemKind kind);
    // Reads the folder and adds its children below the item, each folder with a placeholder
    // when it has children of its own.
    void PopulateFolder(QTreeWidgetItem* item, const std::string& path);
    // The labels from the item's root down to it joined with "/".
    std::string itemPath(const QTreeWidgetItem* item) const;
    static TreeItemKind itemKind(const QTreeWidgetItem* item);
    // The one selected item, or null. Qt's current item is not enough: it is set without a
    // selection when the tree first gets the focus.
    QTreeWidgetItem* selectedItem() const;

    // Expands the tree along the path, reading every folder on the way afresh, and selects its
    // last item (a file only in show-files mode). Names are matched without regard to case.
    // Hidden folders on the way are shown from then on.
    // False when the path is outside the roots or does not exist, which changes nothing, or
    // when part of it is not shown in the tree, which selects nothing new.
    bool GoToPath(const std::string& path);

    // A folder or file renamed elsewhere (in the file list) takes its new name in the tree, and
    // with it every item below it its new path. Nothing when the tree does not show it.
    void followRenamedItem(const std::string& from, const std::string& to);
    // A folder or file deleted elsewhere (from the file list or the image view) leaves the tree
    // with everything below it. A selection inside it moves as after the tree's own Delete;
    // otherwise the selection stays. Nothing when the tree does not show it.
    void followDeletedItem(const std::string& path);

    // Re-reads the folders below the current folder item (at first the selected item) after
    // the file list entered one of them, and makes the child with the given path the current
    // folder item for the next refresh.
    void RefreshCurrentFolder(const std::string& path);
    QTreeWidgetItem* currentFolderItem() const;

    bool showFiles() const { return m_showFiles; }
    void setShowFiles(bool show) { m_showFiles = show; }

    // The drag feedback: the dragged item's picture follows the pointer and the item under the
    // pointer is highlighted as drop target. Dropping moves nothing.
    void beginDrag(const QPoint& position);
    void moveDrag(const QPoint& position);
    void endDrag();
    bool isDragging() const { return m_dragging; }
    QTreeWidgetItem* dragItem() const;
    QTreeWidgetItem* dropTargetItem() const;

    // Empties the tree and shows either the start path as the only root, read at once, or the
    // machine's roots with their expand buttons. True on success.
    bool Initialise(const std::string& startPath = {});

  protected:
    // Selection and expansion as they happen; FolderTreeWidget itself reads and drops the children
    // of expanded and collapsed folders.
    virtual void onSelectionChanged(QTreeWidgetItem* item);
    virtual void onItemExpanded(QTreeWidgetItem* item);
    virtual void onItemCollapsed(QTreeWidgetItem* item);

    // Creates the icon provider on first use; the icons are fetched when the first item needs
    // them.
    void attachIcons();
    QTreeWidgetItem* itemAtIndex(const QModelIndex& index) const { return itemFromIndex(index); }
    // Drops the item without announcing the selection changes that causes, then selects and
    // announces its next sibling, else its previous sibling, else its parent. Answers the item
    // selected, null when there is none.
    QTreeWidgetItem* removeItem(QTreeWidgetItem* item);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void notifySelection(QTreeWidgetItem* item);
    QIcon iconFor(TreeItemKind kind);
    void addPlaceholder(QTreeWidgetItem* item);
    void deleteChildren(QTreeWidgetItem* item);
    void insertChildFolders(QTreeWidgetItem* item, const FolderChildren& children);
    QTreeWidgetItem* findChildByLabel(QTreeWidgetItem* parent, const std::string& name) const;
    // The item standing for exactly this path, spelt as the tree spells it; null when it is not
    // shown.
    QTreeWidgetItem* shownItemOfPath(const std::string& path) const;
    void rereadAndExpand(QTreeWidgetItem* item);
    bool showHiddenFolder(QTreeWidgetItem* parent, const std::string& name);
    void setDropTarget(QTreeWidgetItem* item);
    QTreeWidgetItem* selectedBeforePress() const;
    void announcePressSelection();
    void undoPressSelection();

    std::unique_ptr<QFileIconProvider> m_iconProvider;
    QIcon m_rootIcon, m_folderIcon, m_fileIcon;
    bool m_showFiles = false;
    ShownHiddenFolders m_shownHidden;
    QPersistentModelIndex m_currentFolder;
    bool m_quietSelection = false;
    bool m_quietExpansion = false;

    bool m_dragging = false;
    QPersistentModelIndex m_dragItem;
    QPersistentModelIndex m_dropTarget;
    QLabel* m_dragImage = nullptr;
    QPersistentModelIndex m_pressedItem;
    QPoint m_pressPosition;
    // While the left button is down, the selection it made is not yet announced.
    bool m_pressSelecting = false;
    QPersistentModelIndex m_selectedBeforePress;
};

// The left pane of the reader: the folder tree linked to the document. Selecting an item opens
// its path through the document and lists it in the file list; the pane also renames items by
// label editing, deletes the selected item with the Delete key, and passes the image view's
// commands on while it has the focus.
class FolderTree : public FolderTreeWidget, public TreePane {
    Q_OBJECT

  public:
    // Where the pane reaches the rest of the program. Each may be left empty.
    struct Hooks {
        // The file list shows this path (a folder, or a file in show-files mode).
        std::function<void(const std::string& path)> listFolder;
        // Whether the file list pane is visible; the tree shows files while it is not. Taken
        // as visible when empty.
        std::function<bool()> isListVisible;
        // Renames the item at itemPath to newName (a bare name); the label changes only when
        // it answers true.
        std::function<bool(const std::string& itemPath, const std::string& newName)> rename;
        // Asks for confirmation and moves the item at itemPath to the trash; true when it is
        // gone, after which the tree drops the item.
        std::function<bool(const std::string& itemPath)> deleteItem;
        // The document's picture was released because nothing was left to select after a
        // delete; the image view should repaint.
        std::function<void()> imageReleased;
        // Escape was pressed in the tree.
        std::function<void()> leaveFullScreen;
        // An image-view command given while the tree has the focus.
        std::function<void(int command)> forwardCommand;
    };

    static constexpr ColourRef kDefaultBkColour = 0xFFFFFF;

    // Registers itself with the document as its tree pane and shows the machine's roots. The
    // document, when given, must outlive the pane.
    explicit FolderTree(ReaderDocument* document, QWidget* parent = nullptr);
    ~FolderTree() override;

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // Colour as red + green * 256 + blue * 65536.
    void SetTreeBkColor(ColourRef colour);
    ColourRef treeBkColour() const;

    // TreePane
    bool attachSystemImageList() override;
    bool GoToPath(const std::string& path) override { return FolderTreeWidget::GoToPath(path); }

    // The end of a label edit: empty or unchanged text, a name with "/", or a refused rename
    // keep the old label. True when the item was renamed.
    bool endLabelEdit(QTreeWidgetItem* item, const QString& text);
    // The Delete command on the selected item; root items are never deleted.
    void onDelete();
    // A key pressed in the tree; true when the tree's own handling must be skipped.
    bool onKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Commands served while the tree has the focus: Delete itself, the image view's commands
    // passed on. False for others.
    static bool isForwardedCommand(int command);
    bool onCommand(int command);

  protected:
    void onSelectionChanged(QTreeWidgetItem* item) override;
    void onItemExpanded(QTreeWidgetItem* item) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    ReaderDocument* m_document = nullptr;
    Hooks m_hooks;
};

} // namespace ombri::reader
