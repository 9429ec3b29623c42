#include "core/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ombri {

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
    return true;
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
