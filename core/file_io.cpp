#include "core/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace ombri {

namespace {

// Writeback of a large save is started after this many bytes, so that the disk is busy while the
// rest is produced and commit()'s sync waits only for the last part.
constexpr uint64_t kWritebackBytes = 8u << 20;

struct DescriptorCloser {
    int fd;
    ~DescriptorCloser() { ::close(fd); }
};

} // namespace

Result<std::vector<uint8_t>> readWholeFile(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return fail(std::strerror(errno));
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0)
        return fail(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return fail("it is a folder");
    std::vector<uint8_t> bytes;
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        bytes.reserve(static_cast<size_t>(info.st_size));
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (std::ferror(file.get()))
        return fail(std::strerror(errno));
    return bytes;
}

Result<MappedFile> MappedFile::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::strerror(errno));
    DescriptorCloser closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return fail(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return fail("it is a folder");
    MappedFile file;
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        const size_t size = static_cast<size_t>(info.st_size);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (map != MAP_FAILED) {
            file.m_map = map;
            file.m_mapSize = size;
            return file;
        }
        // A file system that cannot map the file is read like a pipe.
        file.m_owned.reserve(size);
    }
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return fail(std::strerror(errno));
        }
        if (got == 0)
            break;
        file.m_owned.insert(file.m_owned.end(), chunk, chunk + got);
    }
    return file;
}

MappedFile::~MappedFile()
{
    release();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_map(std::exchange(other.m_map, nullptr)), m_mapSize(std::exchange(other.m_mapSize, 0)),
      m_owned(std::move(other.m_owned))
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        release();
        m_map = std::exchange(other.m_map, nullptr);
        m_mapSize = std::exchange(other.m_mapSize, 0);
        m_owned = std::move(other.m_owned);
    }
    return *this;
}

void MappedFile::release()
{
    if (m_map)
        ::munmap(m_map, m_mapSize);
    m_map = nullptr;
    m_mapSize = 0;
}

ByteView MappedFile::view() const
{
    if (m_map)
        return ByteView{static_cast<const uint8_t*>(m_map), m_mapSize};
    return ByteView{m_owned.data(), m_owned.size()};
}

AtomicFile::AtomicFile(std::string targetPath) : m_target(std::move(targetPath)) {}

AtomicFile::~AtomicFile()
{
    m_stream.reset();
    if (!m_committed && !m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

bool AtomicFile::failWithErrno(const char* what)
{
    m_error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool AtomicFile::open()
{
    const auto slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    if (m_target.empty() || slash + 1 == m_target.size()) {
        m_error = "no file name";
        return false;
    }
    std::string pattern =
        (slash == std::string::npos ? std::string() : folder) + ".ombri-save-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return failWithErrno("cannot create a file in the folder");
    m_temporary = name.data();
    // A new file gets the permissions a plain create would give it; a replaced file keeps its own.
    struct stat existing {};
    if (::stat(m_target.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    m_stream.reset(::fdopen(fd, "wb"));
    if (!m_stream) {
        ::close(fd);
        return failWithErrno("cannot write the file");
    }
    return true;
}

bool AtomicFile::write(const void* bytes, size_t count)
{
    if (!m_stream)
        return false;
    if (count != 0 && std::fwrite(bytes, 1, count, m_stream.get()) != count)
        return failWithErrno("cannot write the file");
    m_pending += count;
    if (m_pending >= kWritebackBytes) {
        if (std::fflush(m_stream.get()) != 0)
            return failWithErrno("cannot write the file");
        startWriteback();
    }
    return true;
}

// Asks the system to start writing what has reached the file so far, without waiting for it. Only
// a hint: a file system that cannot do it is synced in full by commit().
void AtomicFile::startWriteback()
{
    m_pending = 0;
    const int fd = fileno(m_stream.get());
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < 0 || static_cast<uint64_t>(end) <= m_flushedTo)
        return;
    ::sync_file_range(fd, static_cast<off_t>(m_flushedTo),
                      static_cast<off_t>(static_cast<uint64_t>(end) - m_flushedTo),
                      SYNC_FILE_RANGE_WRITE);
    m_flushedTo = static_cast<uint64_t>(end);
}

bool AtomicFile::commit()
{
    if (!m_stream)
        return false;
    if (std::fflush(m_stream.get()) != 0 || std::ferror(m_stream.get()))
        return failWithErrno("cannot write the file");
    if (::fsync(fileno(m_stream.get())) != 0)
        return failWithErrno("cannot write the file");
    if (std::fclose(m_stream.release()) != 0)
        return failWithErrno("cannot write the file");
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return failWithErrno("cannot replace the file");
    m_committed = true;
    return true;
}

} // namespace ombri
