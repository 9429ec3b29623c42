#include "reader/folder_walk.h"

#include "formats/format_table.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace ombri::reader {

namespace {

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The order the file list and the folder tree show too: letters compared without case, then
// exact spelling so that "A.png" and "a.png" keep one fixed order.
bool nameBefore(const FolderEntry& left, const FolderEntry& right)
{
    const std::string& a = left.name;
    const std::string& b = right.name;
    const auto differ = std::mismatch(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return asciiLower(x) == asciiLower(y);
    });
    if (differ.first != a.end() && differ.second != b.end())
        return static_cast<unsigned char>(asciiLower(*differ.first)) <
               static_cast<unsigned char>(asciiLower(*differ.second));
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

// A folder called "holiday.jpg" is not a picture to step to.
bool isImageEntry(const FolderEntry& entry)
{
    return !entry.isFolder && IsImageFileName(entry.name);
}

} // namespace

bool IsImageFileName(const std::string& name)
{
    const ImageFormat* format = formatOfPath(name);
    return format && format->stepping == Stepping::Stepped;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(folder.empty() ? fs::path("/") : fs::path(folder), error);
    if (error)
        return std::nullopt;
    std::vector<FolderEntry> entries;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            return std::nullopt;
        FolderEntry entry;
        entry.name = it->path().filename().string();
        if (entry.name == "." || entry.name == "..")
            continue;
        std::error_code typeError;
        entry.isFolder = it->is_directory(typeError);
        entries.push_back(std::move(entry));
    }
    if (error)
        return std::nullopt;
    std::sort(entries.begin(), entries.end(), nameBefore);
    return entries;
}

std::optional<std::string> folderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    return path.substr(0, slash);
}

std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    return absolute.lexically_normal().string();
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    return folder + "/" + name;
}

NeighbourFlags findNeighbourFlags(const std::string& folder,
                                  const std::vector<FolderEntry>& entries,
                                  const std::string& currentPath)
{
    NeighbourFlags flags;
    bool passedCurrent = false;
    for (const auto& entry : entries) {
        if (passedCurrent) {
            if (isImageEntry(entry)) {
                flags.atLast = false;
                break;
            }
        } else if (joinPath(folder, entry.name) == currentPath) {
            passedCurrent = true;
        } else if (isImageEntry(entry)) {
            flags.atFirst = false;
        }
    }
    return flags;
}

std::optional<std::string> findPreviousImagePath(const std::string& folder,
                                                 const std::vector<FolderEntry>& entries,
                                                 const std::string& currentPath)
{
    std::optional<std::string> candidate;
    for (const auto& entry : entries) {
        const std::string path = joinPath(folder, entry.name);
        if (path == currentPath)
            break;
        if (isImageEntry(entry))
            candidate = path;
    }
    return candidate;
}

std::optional<std::string> findNextImagePath(const std::string& folder,
                                             const std::vector<FolderEntry>& entries,
                                             const std::string& currentPath)
{
    const auto current = std::find_if(entries.begin(), entries.end(), [&](const FolderEntry& e) {
        return joinPath(folder, e.name) == currentPath;
    });
    if (current == entries.end())
        return std::nullopt;
    const auto next = std::find_if(std::next(current), entries.end(), isImageEntry);
    if (next == entries.end())
        return std::nullopt;
    return joinPath(folder, next->name);
}

} // namespace ombri::reader
