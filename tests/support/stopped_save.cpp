#include "support/stopped_save.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace ombri::test {

namespace {

SavePoint g_stopAt = SavePoint::Created;
int g_reportTo = -1;

// In the child: tells the parent where the save is, then waits there for the signal.
void holdAtStopPoint(SavePoint point)
{
    if (point != g_stopAt)
        return;
    const char reached = '!';
    if (::write(g_reportTo, &reached, 1) != 1)
        ::_exit(3);
    for (;;)
        ::pause();
}

} // namespace

StoppedSave stopSaveWithSignal(SavePoint point, int signal, SavePath path,
                               const std::function<void()>& save)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    const pid_t child = ::fork();
    if (child < 0)
        return {};
    if (child == 0) {
        ::close(channel[0]);
        g_stopAt = point;
        g_reportTo = channel[1];
        SavePathScope scope(path);
        setSavePointHook(holdAtStopPoint);
        save();
        ::_exit(0); // the save never came to the point
    }
    ::close(channel[1]);
    StoppedSave result;
    char reached = 0;
    // Returns when the child reports the point, or with nothing when it ends without reaching it.
    result.reachedPoint = ::read(channel[0], &reached, 1) == 1;
    ::close(channel[0]);
    if (result.reachedPoint)
        ::kill(child, signal);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.endedBySignal = WIFSIGNALED(status) && WTERMSIG(status) == signal;
    return result;
}

SavePathScope::SavePathScope(SavePath path)
{
    if (const char* value = std::getenv(kNamedTemporaryVariable)) {
        m_hadValue = true;
        m_value = value;
    }
    if (path == SavePath::Named)
        ::setenv(kNamedTemporaryVariable, "1", 1);
    else
        ::unsetenv(kNamedTemporaryVariable);
}

SavePathScope::~SavePathScope()
{
    if (m_hadValue)
        ::setenv(kNamedTemporaryVariable, m_value.c_str(), 1);
    else
        ::unsetenv(kNamedTemporaryVariable);
}

bool unnamedFilesWork(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void saveLargeFile(const std::string& target)
{
    AtomicFile file(target);
    std::vector<uint8_t> block(1u << 20, 0x5A);
    bool ok = file.open();
    for (size_t i = 0; ok && i < kLargeSaveBlocks; ++i)
        ok = file.write(block.data(), block.size());
    if (ok)
        file.commit();
}

} // namespace ombri::test
