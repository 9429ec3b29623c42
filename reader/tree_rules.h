#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ombri::reader {

// The folder tree's rules about which entries it shows and how its paths are spelt, kept free
// of widgets so that they can be checked without a display.

// Whether the tree lists files under their folders too. It does only while the file list is
// hidden; otherwise the list shows the files and the tree only the folders.
enum class ShowFiles { No, Yes };

// Names beginning with "." are hidden on this platform.
bool isHiddenName(const std::string& name);

// A path containing "RECYCLER" (exact case) is never read by the tree, even when it is a root.
bool isRecyclerPath(const std::string& path);

// Folders that never appear in the tree: any path containing "RECYCLER" or "Recycled" (exact
// case, anywhere in the path), and the user's trash, both at ".local/share/Trash" and at
// "$XDG_DATA_HOME/Trash".
bool isExcludedFolderPath(const std::string& path);

// The path without trailing "/"; the root folder "/" stays "/".
std::string trimTrailingSlashes(const std::string& path);

// Parent + "/" + name, without doubling the "/" of the root folder.
std::string childPath(const std::string& parent, const std::string& name);

// The text after the last "/" of the trimmed path; the root folder gives "/".
std::string lastComponent(const std::string& path);

// Hidden folders the tree shows all the same, by full path: those a picture was opened in.
using ShownHiddenFolders = std::set<std::string>;

// What the tree shows below a folder, as full paths: the sub-folders, then (in show-files mode)
// the files, each group in the file list's name order. Hidden entries, except the folders in
// shownHidden, and excluded folders are left out. A folder that cannot be read has no children.
struct FolderChildren {
    std::vector<std::string> folders;
    std::vector<std::string> files;
};
FolderChildren readFolderChildren(const std::string& folder, ShowFiles showFiles,
                                  const ShownHiddenFolders& shownHidden = {});

// Whether readFolderChildren would find anything, answered at the first such entry so that
// deciding the expand buttons of a large folder stays cheap.
bool HasChildren(const std::string& folder, ShowFiles showFiles,
                 const ShownHiddenFolders& shownHidden = {});

// Labels compared as the tree compares them: ASCII letters without regard to case.
std::string capitalised(const std::string& text);
bool sameLabel(const std::string& left, const std::string& right);

// The way from one of the tree's roots down to a path: the index of the root and the names
// below it. When roots nest (the home folder below "/"), the innermost root is taken; a root
// matches only at a "/" boundary and without regard to case.
struct TreeRoute {
    size_t root = 0;
    std::vector<std::string> components;
};
std::optional<TreeRoute> findTreeRoute(const std::vector<std::string>& rootPaths,
                                       const std::string& path);

// Whether every component of an absolute path names an entry of its folder, an entry spelt
// exactly being preferred to one that differs only in case.
bool existsIgnoringCase(const std::string& path);

// The tree's roots: "/", the home folder, then the volumes mounted under /media, /mnt and
// /run/media in name order. mountTable is the text of /proc/self/mounts.
std::vector<std::string> treeRootPaths(const std::string& home, const std::string& mountTable);

// The text of /proc/self/mounts; empty when it cannot be read.
std::string readMountTable();

} // namespace ombri::reader
