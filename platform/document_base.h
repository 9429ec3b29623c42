#pragma once

#include "platform/prompt.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ombri {

// Most recently used files, newest first, without duplicates.
class RecentFileList {
  public:
    explicit RecentFileList(size_t capacity) : m_capacity(capacity) {}
    void add(const std::string& path);
    void remove(const std::string& path);
    const std::vector<std::string>& entries() const { return m_entries; }
    size_t capacity() const { return m_capacity; }

  private:
    size_t m_capacity;
    std::vector<std::string> m_entries;
};

// The document framework both programs build on: the modified flag, the path name, the recent
// file list and the save sequence. Documents hold no widget and reach the user only through the
// prompt.
class DocumentBase {
  public:
    DocumentBase(Prompt& prompt, size_t recentFileCount);
    virtual ~DocumentBase() = default;
    DocumentBase(const DocumentBase&) = delete;
    DocumentBase& operator=(const DocumentBase&) = delete;

    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified) { m_modified = modified; }

    const std::string& getPathName() const { return m_pathName; }
    void SetPathName(const std::string& path, bool addToRecentFiles = true);
    void clearPathName() { m_pathName.clear(); }
    // The name shown in the window title: the file name of the path, "Untitled" without one.
    std::string getTitle() const;
    // The folder of the path, where the file dialogs about the document start; empty without a
    // path.
    std::string getFolder() const;

    RecentFileList& recentFiles() { return m_recentFiles; }
    const RecentFileList& recentFiles() const { return m_recentFiles; }
    Prompt& prompt() { return m_prompt; }

    // How long work on the document's data (encoding and writing a picture) is run: given the
    // status text the user sees meanwhile and the work, it returns once the work has ended.
    using WorkRunner =
        std::function<void(const std::string& status, const std::function<void()>& work)>;
    // The desktop programs run the work off the GUI thread; without a runner it runs in place.
    void setWorkRunner(WorkRunner runner) { m_workRunner = std::move(runner); }
    // Runs the work with the prompt busy. The work must not reach the prompt, nor change what
    // the document holds: it may run on another thread while the window keeps painting.
    void runLongWork(const std::string& status, const std::function<void()>& work);

    // Saves to the path, asking for one with the save dialog when it is empty. When the save
    // succeeds and replace is set, the path becomes the document's path name. False when the
    // dialog is cancelled or the save fails.
    bool DoSave(const std::string& path, bool replace = true);

    virtual bool OnNewDocument();
    virtual bool OnOpenDocument(const std::string& path) = 0;
    virtual bool OnSaveDocument(const std::string& path) = 0;
    virtual void DeleteContents() {}

  protected:
    const WorkRunner& workRunner() const { return m_workRunner; }
    // What the save dialog shows when DoSave has no path.
    virtual SaveDialogRequest saveDialogRequest() const { return {}; }

  private:
    Prompt& m_prompt;
    WorkRunner m_workRunner;
    bool m_modified = false;
    std::string m_pathName;
    RecentFileList m_recentFiles;
};

} // namespace ombri
