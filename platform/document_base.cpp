#include "platform/document_base.h"

#include <algorithm>

namespace ombri {

void RecentFileList::add(const std::string& path)
{
    remove(path);
    m_entries.insert(m_entries.begin(), path);
    if (m_entries.size() > m_capacity)
        m_entries.resize(m_capacity);
}

void RecentFileList::remove(const std::string& path)
{
    m_entries.erase(std::remove(m_entries.begin(), m_entries.end(), path), m_entries.end());
}

DocumentBase::DocumentBase(Prompt& prompt, size_t recentFileCount)
    : m_prompt(prompt), m_recentFiles(recentFileCount)
{
}

void DocumentBase::SetPathName(const std::string& path, bool addToRecentFiles)
{
    m_pathName = path;
    if (addToRecentFiles && !path.empty())
        m_recentFiles.add(path);
}

std::string DocumentBase::getTitle() const
{
    if (m_pathName.empty())
        return "Untitled";
    const auto slash = m_pathName.rfind('/');
    return slash == std::string::npos ? m_pathName : m_pathName.substr(slash + 1);
}

std::string DocumentBase::getFolder() const
{
    const auto slash = m_pathName.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : m_pathName.substr(0, slash);
}

void DocumentBase::runLongWork(const std::string& status, const std::function<void()>& work)
{
    BusyScope busy(m_prompt, status);
    if (m_workRunner)
        m_workRunner(status, work);
    else
        work();
}

bool DocumentBase::DoSave(const std::string& path, bool replace)
{
    std::string target = path;
    if (target.empty()) {
        auto chosen = m_prompt.chooseSavePath(saveDialogRequest());
        if (!chosen)
            return false;
        target = *chosen;
    }
    if (!OnSaveDocument(target))
        return false;
    if (replace)
        SetPathName(target);
    return true;
}

bool DocumentBase::OnNewDocument()
{
    DeleteContents();
    m_modified = false;
    m_pathName.clear();
    return true;
}

} // namespace ombri
