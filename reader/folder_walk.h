#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ombri::reader {

// True when the name's extension (FileExtension) names a format that Previous Image and Next
// Image step through, in any case. GIF and PCX files open but are not stepped through.
bool IsImageFileName(const std::string& name);

struct FolderEntry {
    std::string name;
    bool isFolder = false;
};

// The entries of a folder sorted by name without regard to case (exact spelling breaks ties),
// "." and ".." left out by name. Nothing when the folder cannot be read. An empty folder
// string means the root folder, so that a path like "/a.png" has a folder to list.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder);

// The text of the path before its last "/" ("" for a file in the root folder); nothing when
// the path has no "/".
std::optional<std::string> folderOfPath(const std::string& path);

// The path made absolute against the current directory, "." and ".." segments resolved by
// spelling. The reader changes the current directory whenever it opens a picture, so a
// relative path would soon name another file.
std::string absolutePath(const std::string& path);

// Folder + "/" + name, the spelling the current path is compared with.
std::string joinPath(const std::string& folder, const std::string& name);

// Whether any image file comes before or after the current one in the folder's order.
struct NeighbourFlags {
    bool atFirst = true; // no image file precedes the current one
    bool atLast = true;  // no image file follows the current one
};

// The current path is compared with folder + "/" + name exactly, case included. A path that
// matches no entry leaves atLast set and clears atFirst when the folder holds any image file.
NeighbourFlags findNeighbourFlags(const std::string& folder,
                                  const std::vector<FolderEntry>& entries,
                                  const std::string& currentPath);

// The path of the last image file before the current one; when the current path is not among
// the entries, the last image file of the folder.
std::optional<std::string> findPreviousImagePath(const std::string& folder,
                                                 const std::vector<FolderEntry>& entries,
                                                 const std::string& currentPath);

// The path of the first image file after the current one; nothing when the current path is not
// among the entries.
std::optional<std::string> findNextImagePath(const std::string& folder,
                                             const std::vector<FolderEntry>& entries,
                                             const std::string& currentPath);

} // namespace ombri::reader
