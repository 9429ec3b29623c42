#include "reader/tree_rules.h"

#include "reader/folder_walk.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace ombri::reader {

namespace {

namespace fs = std::filesystem;

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// True when the path is the folder itself or lies inside it.
bool isInside(const std::string& path, const std::string& folder)
{
    return path == folder || startsWith(path, folder + "/");
}

// True when ".local/share/Trash" appears in the path as whole components.
bool containsHomeTrash(const std::string& path)
{
    static const std::string kTrash = "/.local/share/Trash";
    for (size_t at = path.find(kTrash); at != std::string::npos; at = path.find(kTrash, at + 1)) {
        const size_t end = at + kTrash.size();
        if (end == path.size() || path[end] == '/')
            return true;
    }
    return false;
}

bool isDataHomeTrash(const std::string& path)
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (!dataHome || dataHome[0] != '/')
        return false;
    return isInside(path, childPath(trimTrailingSlashes(dataHome), "Trash"));
}

std::vector<std::string> splitComponents(const std::string& path)
{
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            components.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return components;
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

// The mount table writes a space in a mount point as "\040", and tab, newline and backslash
// likewise as three octal digits.
std::string decodeMountPoint(const std::string& field)
{
    std::string decoded;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 4 <= field.size() && isOctalDigit(field[i + 1]) &&
            isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
            decoded += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

bool isVolumeMountPoint(const std::string& mountPoint)
{
    return startsWith(mountPoint, "/media/") || startsWith(mountPoint, "/mnt/") ||
           startsWith(mountPoint, "/run/media/");
}

// The order ListFolder gives names: letters compared in small letters, then exact spelling.
bool labelBefore(const std::string& left, const std::string& right)
{
    auto lower = [](std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    };
    const std::string a = lower(left);
    const std::string b = lower(right);
    return a != b ? a < b : left < right;
}

} // namespace

bool isHiddenName(const std::string& name)
{
    return !name.empty() && name[0] == '.';
}

bool isRecyclerPath(const std::string& path)
{
    return path.find("RECYCLER") != std::string::npos;
}

bool isExcludedFolderPath(const std::string& path)
{
    return isRecyclerPath(path) || path.find("Recycled") != std::string::npos ||
           containsHomeTrash(path) || isDataHomeTrash(path);
}

std::string trimTrailingSlashes(const std::string& path)
{
    const size_t last = path.find_last_not_of('/');
    if (last == std::string::npos)
        return path.empty() ? path : "/";
    return path.substr(0, last + 1);
}

std::string childPath(const std::string& parent, const std::string& name)
{
    if (!parent.empty() && parent.back() == '/')
        return parent + name;
    return parent + "/" + name;
}

std::string lastComponent(const std::string& path)
{
    const std::string trimmed = trimTrailingSlashes(path);
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos || trimmed == "/")
        return trimmed;
    return trimmed.substr(slash + 1);
}

FolderChildren readFolderChildren(const std::string& folder, ShowFiles showFiles,
                                  const ShownHiddenFolders& shownHidden)
{
    FolderChildren children;
    const auto entries = ListFolder(folder);
    if (!entries)
        return children;
    for (const FolderEntry& entry : *entries) {
        std::string path = childPath(folder, entry.name);
        if (isHiddenName(entry.name) && !(entry.isFolder && shownHidden.count(path) != 0))
            continue;
        if (entry.isFolder) {
            if (!isExcludedFolderPath(path))
                children.folders.push_back(std::move(path));
        } else if (showFiles == ShowFiles::Yes) {
            children.files.push_back(std::move(path));
        }
    }
    return children;
}

bool HasChildren(const std::string& folder, ShowFiles showFiles,
                 const ShownHiddenFolders& shownHidden)
{
    std::error_code error;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool hidden = isHiddenName(name);
        if (hidden && shownHidden.empty())
            continue;
        std::error_code typeError;
        if (!it->is_directory(typeError)) {
            if (showFiles == ShowFiles::Yes && !hidden)
                return true;
            continue;
        }
        const std::string path = childPath(folder, name);
        if ((!hidden || shownHidden.count(path) != 0) && !isExcludedFolderPath(path))
            return true;
    }
    return false;
}

std::string capitalised(const std::string& text)
{
    std::string capitals = text;
    for (char& c : capitals) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return capitals;
}

bool sameLabel(const std::string& left, const std::string& right)
{
    return left.size() == right.size() && capitalised(left) == capitalised(right);
}

std::optional<TreeRoute> findTreeRoute(const std::vector<std::string>& rootPaths,
                                       const std::string& path)
{
    const std::string trimmed = trimTrailingSlashes(path);
    const std::string target = capitalised(trimmed);
    if (target.empty() || target[0] != '/')
        return std::nullopt;
    std::optional<TreeRoute> best;
    size_t bestLength = 0;
    for (size_t i = 0; i < rootPaths.size(); ++i) {
        const std::string root = capitalised(trimTrailingSlashes(rootPaths[i]));
        const bool matches = root == "/" || isInside(target, root);
        if (!matches || (best && root.size() <= bestLength))
            continue;
        best = TreeRoute{i, {}};
        bestLength = root.size();
    }
    if (best) {
        const size_t rootEnd = bestLength == 1 ? 0 : bestLength;
        best->components = splitComponents(trimmed.substr(rootEnd));
    }
    return best;
}

bool existsIgnoringCase(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return false;
    std::string reached = "/";
    for (const std::string& component : splitComponents(path)) {
        const std::string exact = childPath(reached, component);
        std::error_code error;
        if (fs::exists(exact, error)) {
            reached = exact;
            continue;
        }
        const auto entries = ListFolder(reached);
        if (!entries)
            return false;
        const auto match =
            std::find_if(entries->begin(), entries->end(), [&](const FolderEntry& entry) {
                return sameLabel(entry.name, component);
            });
        if (match == entries->end())
            return false;
        reached = childPath(reached, match->name);
    }
    return true;
}

std::vector<std::string> treeRootPaths(const std::string& home, const std::string& mountTable)
{
    std::vector<std::string> roots{"/"};
    const std::string homeFolder = trimTrailingSlashes(home);
    if (!homeFolder.empty() && homeFolder[0] == '/' && homeFolder != "/")
        roots.push_back(homeFolder);

    std::vector<std::string> volumes;
    std::istringstream lines(mountTable);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint))
            continue;
        mountPoint = trimTrailingSlashes(decodeMountPoint(mountPoint));
        if (isVolumeMountPoint(mountPoint) && mountPoint != homeFolder)
            volumes.push_back(mountPoint);
    }
    std::sort(volumes.begin(), volumes.end(), labelBefore);
    volumes.erase(std::unique(volumes.begin(), volumes.end()), volumes.end());
    roots.insert(roots.end(), volumes.begin(), volumes.end());
    return roots;
}

std::string readMountTable()
{
    std::ifstream in("/proc/self/mounts");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace ombri::reader
