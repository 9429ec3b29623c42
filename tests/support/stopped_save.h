#pragma once

#include "core/file_io.h"

#include <functional>
#include <string>
#include <vector>

// Saves stopped half-way by a signal, the way Ctrl+C, kill or a logout stop them. The save runs
// in a child process, so that the signal ends only the child; a save-point hook holds the child
// at a fixed point of the save until the signal arrives.
namespace ombri::test {

enum class SavePath {
    Unnamed, // the normal save: an unnamed file, named only when complete
    Named,   // the save of file systems without unnamed files, forced by the environment switch
};

struct StoppedSave {
    bool reachedPoint = false;  // false: the save ended (or failed) before the point
    bool endedBySignal = false; // the child ended with the signal it was sent
};

// Runs save() in a child process on the given path, stops it at `point` and sends it `signal`.
StoppedSave stopSaveWithSignal(SavePoint point, int signal, SavePath path,
                               const std::function<void()>& save);

// Sets or clears the environment switch of the named path for the life of the object.
class SavePathScope {
  public:
    explicit SavePathScope(SavePath path);
    ~SavePathScope();
    SavePathScope(const SavePathScope&) = delete;
    SavePathScope& operator=(const SavePathScope&) = delete;

  private:
    bool m_hadValue = false;
    std::string m_value;
};

// Makes every save fail as on a full disk once its new bytes pass `bytes`, for the life of the
// object.
class SaveSpaceLimitScope {
  public:
    explicit SaveSpaceLimitScope(uint64_t bytes) { setSaveSpaceLimit(bytes); }
    ~SaveSpaceLimitScope() { setSaveSpaceLimit(kNoSpaceLimit); }
    SaveSpaceLimitScope(const SaveSpaceLimitScope&) = delete;
    SaveSpaceLimitScope& operator=(const SaveSpaceLimitScope&) = delete;
};

// The number of 1 MB writes in saveLargeFile.
constexpr size_t kLargeSaveBlocks = 24;

// Saves 24 MB in 1 MB writes, as a large picture's writer makes it: long enough to be stopped
// between two writes.
void saveLargeFile(const std::string& target);

// True when the folder's file system makes unnamed files, so that the normal save uses them.
bool unnamedFilesWork(const std::string& folder);

// The names in a folder, sorted.
std::vector<std::string> folderEntries(const std::string& folder);

} // namespace ombri::test
