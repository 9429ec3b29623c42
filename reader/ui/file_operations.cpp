#include "reader/ui/file_operations.h"

#include "core/printable_name.h"
#include "platform/prompt.h"
#include "reader/folder_walk.h"
#include "reader/reader_document.h"
#include "reader/tree_rules.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace ombri::reader {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNewFolderName = "New Folder";

bool sameEntry(const std::string& left, const std::string& right)
{
    struct stat leftStatus = {};
    struct stat rightStatus = {};
    return ::lstat(left.c_str(), &leftStatus) == 0 && ::lstat(right.c_str(), &rightStatus) == 0 &&
           leftStatus.st_dev == rightStatus.st_dev && leftStatus.st_ino == rightStatus.st_ino;
}

// A plain rename would silently replace an entry already using the new name, losing it. On
// failure errno tells why.
bool renameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    const int error = errno;
    // A volume that ignores case finds the old entry under the new spelling; changing only the
    // case of a name is no replacement.
    const bool caseOnly = error == EEXIST && sameLabel(from, to) && sameEntry(from, to);
    // Some file systems cannot promise not to replace; the look first leaves only a race open.
    const bool unsupported = error == EINVAL || error == ENOSYS;
    if (!caseOnly && !unsupported)
        return false;
    struct stat existing = {};
    if (unsupported && ::lstat(to.c_str(), &existing) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool isAtOrAbove(const std::string& path, const std::string& root)
{
    return path == root || (root.size() > path.size() && root.compare(0, path.size(), path) == 0 &&
                            (path == "/" || root[path.size()] == '/'));
}

std::string realPath(const std::string& path)
{
    std::error_code error;
    const fs::path real = fs::weakly_canonical(path, error);
    return error ? std::string() : trimTrailingSlashes(real.string());
}

std::string homeFolder()
{
    return QFile::encodeName(QDir::homePath()).toStdString();
}

} // namespace

// --- Rules ---

bool countsAsFilePath(const std::string& path)
{
    const auto dot = path.rfind('.');
    return dot != std::string::npos && dot + 1 < path.size();
}

std::string newFolderTarget(const std::string& currentPath)
{
    if (!countsAsFilePath(currentPath))
        return currentPath;
    const auto slash = currentPath.rfind('/');
    if (slash == std::string::npos)
        return currentPath;
    return slash == 0 ? std::string("/") : currentPath.substr(0, slash);
}

std::string nameExtension(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::optional<std::string> createNewFolder(const std::string& folder)
{
    // The loop ends: a folder holds finitely many entries, and mkdir fails otherwise.
    for (unsigned long counter = 1;; ++counter) {
        const std::string name =
            counter == 1 ? std::string(kNewFolderName)
                         : std::string(kNewFolderName) + " (" + std::to_string(counter) + ")";
        const std::string candidate = childPath(folder, name);
        // Any entry blocks the name, a file or a broken link as much as a folder.
        struct stat existing = {};
        if (::lstat(candidate.c_str(), &existing) == 0)
            continue;
        if (::mkdir(candidate.c_str(), 0777) == 0)
            return candidate;
        // Another program may have taken the name since the look.
        if (errno != EEXIST)
            return std::nullopt;
    }
}

bool isProtectedPath(const std::string& path, const std::string& home,
                     const std::string& mountTable)
{
    const std::string spelt = trimTrailingSlashes(path);
    if (spelt.empty())
        return true;
    std::vector<std::string> roots = treeRootPaths(home, mountTable);
    // The same folder may be reached under another spelling, through a link on the way.
    const size_t spelledRoots = roots.size();
    for (size_t i = 0; i < spelledRoots; ++i) {
        const std::string real = realPath(roots[i]);
        if (!real.empty())
            roots.push_back(real);
    }
    const std::string real = realPath(spelt);
    for (const std::string& root : roots) {
        if (isAtOrAbove(spelt, root) || (!real.empty() && isAtOrAbove(real, root)))
            return true;
    }
    return false;
}

// --- FileOperations ---

FileOperations::FileOperations(ReaderDocument& document) : m_document(document) {}

std::optional<std::string> FileOperations::onNewFolder()
{
    const std::string currentPath = m_document.currentPath();
    if (currentPath.empty())
        return std::nullopt;
    const std::optional<std::string> created = createNewFolder(newFolderTarget(currentPath));
    if (created && m_hooks.goToPath)
        m_hooks.goToPath(*created);
    return created;
}

bool FileOperations::Rename(const std::string& itemPath, const std::string& newName)
{
    if (newName.empty() || newName == "." || newName == ".." ||
        newName.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return false;
    // The item keeps its folder: the new name is placed beside the old one, whatever folder
    // the process happens to be in.
    const std::string from = trimTrailingSlashes(itemPath);
    const std::optional<std::string> folder = folderOfPath(from);
    if (!folder || from == "/")
        return false;
    const std::string to = joinPath(*folder, newName);
    if (to == from)
        return false;
    std::error_code ignored;
    if (fs::is_directory(from, ignored))
        return renameFolder(from, to);
    return renameFile(from, to, newName);
}

bool FileOperations::renameFolder(const std::string& from, const std::string& to)
{
    if (!renameWithoutReplacing(from, to)) {
        m_document.prompt().tell(kFolderRenameFailedMessage, "Warning", Icon::Warning);
        return false;
    }
    // The picture on show moved with its folder; without this the document would go on naming
    // a file that no longer exists, and New Folder, Previous and Next would find nothing there.
    const std::string& current = m_document.currentPath();
    if (current.size() > from.size() && current.compare(0, from.size(), from) == 0 &&
        current[from.size()] == '/')
        m_document.followRenamedPath(to + current.substr(from.size()));
    if (m_hooks.renamed)
        m_hooks.renamed(from, to);
    return true;
}

bool FileOperations::renameFile(const std::string& from, const std::string& to,
                                const std::string& newName)
{
    const bool extensionChanges = nameExtension(lastComponent(from)) != nameExtension(newName);
    if (extensionChanges && m_document.prompt().ask(kChangeExtensionQuestion, "Warning",
                                                    Buttons::YesNo, Icon::Warning) != Answer::Yes)
        return false;
    if (!renameWithoutReplacing(from, to)) {
        const std::string reason = std::strerror(errno);
        m_document.prompt().tell("Cannot rename " + printableName(from) + " to " +
                                     printableName(newName) + ".\n" + reason,
                                 "OmbriReader", Icon::Warning);
        return false;
    }
    if (m_hooks.renamed)
        m_hooks.renamed(from, to);
    if (from != m_document.currentPath())
        return true;
    m_document.followRenamedPath(to);
    // Another extension may mean another reader, or none: the picture is read again under its
    // new name.
    if (extensionChanges && !m_document.OpenImagePath(to) && m_hooks.redrawImage)
        m_hooks.redrawImage();
    return true;
}

bool FileOperations::deleteItem(const std::string& itemPath)
{
    const std::string path = trimTrailingSlashes(itemPath);
    if (isProtectedPath(path, homeFolder(), readMountTable()))
        return false;
    Prompt& prompt = m_document.prompt();
    if (prompt.ask(kDeleteQuestion + printableName(path), "Warning", Buttons::YesNo,
                   Icon::Warning) != Answer::Yes)
        return false;
    // The trash lives in the user's data folder; an account that has never had one (a fresh
    // user, a minimal system) gets it now instead of a refusal.
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataFolder.isEmpty())
        QDir().mkpath(dataFolder);
    if (QFile::moveToTrash(QFile::decodeName(QByteArray::fromStdString(path))))
        return true;
    // The desktop's trash reports nothing itself.
    prompt.tell("Cannot move " + printableName(path) + " to the trash.", "Warning", Icon::Warning);
    return false;
}

} // namespace ombri::reader
