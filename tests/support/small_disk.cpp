#include "support/small_disk.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ombri::test {

SmallDisk::SmallDisk(std::string mountPoint, size_t bytes) : m_path(std::move(mountPoint))
{
    if (::geteuid() != 0) {
        m_reason = "mounting a small disk takes root";
        return;
    }
    ::mkdir(m_path.c_str(), 0755);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    m_mounted =
        ::mount("tmpfs", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    if (!m_mounted)
        m_reason = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        ::umount2(m_path.c_str(), MNT_DETACH);
}

bool SmallDisk::fillLeaving(size_t bytes)
{
    const std::string filler = m_path + "/filler";
    const int file = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0)
        return false;
    const std::vector<char> block(4096, 'f');
    while (::write(file, block.data(), block.size()) > 0) {
    }
    // Freed again from the end, a page at a time, until enough is free.
    struct stat info {};
    struct statvfs disk {};
    bool ok = ::fstat(file, &info) == 0;
    off_t size = info.st_size;
    while (ok && ::fstatvfs(file, &disk) == 0 &&
           static_cast<size_t>(disk.f_bavail) * disk.f_frsize < bytes && size > 0) {
        size = size > 4096 ? size - 4096 : 0;
        ok = ::ftruncate(file, size) == 0;
    }
    ::close(file);
    return ok;
}

} // namespace ombri::test
