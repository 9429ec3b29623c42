#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace ombri::reader {

class ReaderDocument;

// --- The rules, free of the document so that they can be checked alone ---

// A path counts as a file's path when the text after its last "." (anywhere in the path, so a
// dot in a folder name counts too) is not empty.
bool countsAsFilePath(const std::string& path);

// The folder New Folder creates in: the folder of the current path when that counts as a file's
// path, else the current path itself.
std::string newFolderTarget(const std::string& currentPath);

// The text after the last "." of a name; empty without one.
std::string nameExtension(const std::string& name);

// Creates "New Folder" in the folder, or "New Folder (2)", "New Folder (3)", ... when an entry
// of that name, file or folder, is already there. The new folder's path, or nothing when it
// could not be created.
std::optional<std::string> createNewFolder(const std::string& folder);

// Whether the Delete command must leave the path alone: a root of the folder tree ("/", the
// home folder, the volumes mounted under /media, /mnt and /run/media) or a folder holding one.
// mountTable is the text of /proc/self/mounts.
bool isProtectedPath(const std::string& path, const std::string& home,
                     const std::string& mountTable);

// The messages of the file commands.
constexpr const char* kChangeExtensionQuestion =
    "To change the extension may cause that the file cannot be used correctly.";
constexpr const char* kFolderRenameFailedMessage =
    "Rename Failed.\nThe file (folder) may be in use.";
constexpr const char* kDeleteQuestion =
    "Are you sure to remove the following file(s) to Recycle Bin? \n\n";

// The reader's file commands: New Folder from the File menu, Rename of the items of the tree and
// the list, and Delete of what a pane names. They change the disk and keep the document's
// current path pointing at the picture on show; the panes do their own part through the
// results. Messages go through the document's prompt.
class FileOperations {
  public:
    struct Hooks {
        // Expands the folder tree along the path and selects it (FolderTree::GoToPath).
        std::function<bool(const std::string& path)> goToPath;
        // The image view must repaint: a renamed picture could not be opened again, and the
        // document let it go.
        std::function<void()> redrawImage;
        // An entry was renamed: the panes that show it follow.
        std::function<void(const std::string& from, const std::string& to)> renamed;
    };

    // The document must outlive the object.
    explicit FileOperations(ReaderDocument& document);
    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // File > New Folder: a new folder next to the picture on show (see newFolderTarget), then
    // the tree goes to it. The new folder's path; nothing, and no message, when there is no
    // current path or the folder cannot be created.
    std::optional<std::string> onNewFolder();

    // The end of a label edit in the tree (FolderTree::Hooks::rename): the item at itemPath gets
    // the bare name newName in its own folder. A file whose extension would change asks first.
    // A name that is taken is refused, never overwritten. True when renamed, and the tree then
    // takes the new label.
    bool Rename(const std::string& itemPath, const std::string& newName);

    // Delete of the tree's selected folder, the list's highlighted entry or the picture on show:
    // after a question naming exactly this path the item goes to the trash. Protected paths are
    // refused without a question. True when it is gone; the panes then drop it.
    bool deleteItem(const std::string& itemPath);

  private:
    bool renameFolder(const std::string& from, const std::string& to);
    bool renameFile(const std::string& from, const std::string& to, const std::string& newName);

    ReaderDocument& m_document;
    Hooks m_hooks;
};

} // namespace ombri::reader
