#include "core/file_io.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace ombri {

namespace {

// Writeback of a large save is started after this many bytes, so that the disk is busy while the
// rest is produced and commit()'s sync waits only for the last part.
constexpr uint64_t kWritebackBytes = 8u << 20;

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
{
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

int FileDescriptor::release()
{
    return std::exchange(m_descriptor, -1);
}

std::string notRegularReason(int descriptor)
{
    struct stat info {};
    if (::fstat(descriptor, &info) != 0)
        return std::strerror(errno);
    if (S_ISDIR(info.st_mode))
        return "it is a folder";
    if (!S_ISREG(info.st_mode))
        return "it is not a regular file";
    return {};
}

Result<FileDescriptor> openRegularFile(const std::string& path)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file)
        return fail(std::strerror(errno));
    const std::string refused = notRegularReason(file.get());
    if (!refused.empty())
        return fail(refused);
    // Reads of a regular file wait for the disk as they always do.
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(std::strerror(errno));
    return file;
}

Result<FilePtr> openRegularStream(const std::string& path)
{
    auto file = openRegularFile(path);
    if (!file)
        return fail(file.error());
    FilePtr stream(::fdopen(file.value().get(), "rb"));
    if (!stream)
        return fail(std::strerror(errno));
    file.value().release();
    return stream;
}

Result<std::vector<uint8_t>> readWholeFile(const std::string& path)
{
    auto file = MappedFile::open(path);
    if (!file)
        return fail(file.error());
    const ByteView bytes = file.value().view();
    return std::vector<uint8_t>(bytes.data, bytes.data + bytes.size);
}

Result<MappedFile> MappedFile::open(const std::string& path)
{
    auto opened = openRegularFile(path);
    if (!opened)
        return fail(opened.error());
    const int fd = opened.value().get();
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return fail(std::strerror(errno));
    MappedFile file;
    if (info.st_size > 0) {
        const size_t size = static_cast<size_t>(info.st_size);
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (map != MAP_FAILED) {
            file.m_map = map;
            file.m_mapSize = size;
            return file;
        }
        // A file system that cannot map the file is read instead.
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

namespace {

std::atomic<SavePointHook> g_savePointHook{nullptr};

void reach(SavePoint point)
{
    if (SavePointHook hook = g_savePointHook.load())
        hook(point);
}

// --- Hidden named files and the signals that must not leave them behind ---

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];
constexpr const char kHiddenPrefix[] = ".ombri-save-";
constexpr size_t kRandomLetters = 10;

// A hidden name that a stopping signal removes. The handler reads only slots marked Armed, whose
// folder and name are filled in before the mark and not touched until it is taken away.
enum SlotState : int { Free = 0, Filling = 1, Armed = 2 };
struct TemporarySlot {
    std::atomic<int> state{Free};
    int folder = -1;
    char name[sizeof kHiddenPrefix + kRandomLetters] = {};
};
constexpr size_t kSlotCount = 16;
TemporarySlot g_slots[kSlotCount];

// Handlers are installed while at least one slot is armed, each only over a signal whose action
// is the default one: a program that ignores a signal or handles it itself keeps doing so.
std::mutex g_handlerMutex;
size_t g_armedSlots = 0;
struct sigaction g_replaced[kStopSignalCount];
bool g_installed[kStopSignalCount] = {};

extern "C" void removeTemporariesAndStop(int signalNumber)
{
    const int savedErrno = errno;
    for (TemporarySlot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == Armed)
            ::unlinkat(slot.folder, slot.name, 0);
    // Then what the signal would have done without us: end the program, reported as ended by it.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signalNumber, &byDefault, nullptr);
    ::raise(signalNumber);
    errno = savedErrno;
}

void installHandlers()
{
    struct sigaction ours {};
    ours.sa_handler = removeTemporariesAndStop;
    sigemptyset(&ours.sa_mask);
    for (int signalNumber : kStopSignals)
        sigaddset(&ours.sa_mask, signalNumber);
    for (size_t i = 0; i < kStopSignalCount; ++i) {
        struct sigaction current {};
        if (::sigaction(kStopSignals[i], nullptr, &current) != 0 ||
            (current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
            continue;
        g_installed[i] = ::sigaction(kStopSignals[i], &ours, &g_replaced[i]) == 0;
    }
}

void restoreHandlers()
{
    for (size_t i = 0; i < kStopSignalCount; ++i) {
        if (!g_installed[i])
            continue;
        g_installed[i] = false;
        struct sigaction current {};
        // Put back only what is still ours: the program may have set its own handler since.
        if (::sigaction(kStopSignals[i], nullptr, &current) == 0 &&
            !(current.sa_flags & SA_SIGINFO) && current.sa_handler == removeTemporariesAndStop)
            ::sigaction(kStopSignals[i], &g_replaced[i], nullptr);
    }
}

// The slot now naming the file, or -1 when all are taken (the name is then not removed by a
// signal, as before there were handlers).
int armTemporary(int folder, const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    for (size_t i = 0; i < kSlotCount; ++i) {
        int expected = Free;
        if (!g_slots[i].state.compare_exchange_strong(expected, Filling))
            continue;
        g_slots[i].folder = folder;
        std::snprintf(g_slots[i].name, sizeof g_slots[i].name, "%s", name.c_str());
        if (g_armedSlots++ == 0)
            installHandlers();
        g_slots[i].state.store(Armed, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void disarmTemporary(int slot)
{
    if (slot < 0)
        return;
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_slots[slot].state.store(Free, std::memory_order_release);
    if (--g_armedSlots == 0)
        restoreHandlers();
}

// Holds back the stopping signals of this thread for its lifetime, so that a name and its slot
// appear and go together: a signal that comes meanwhile is handled when the object goes.
class StopSignalsHeld {
  public:
    StopSignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int signalNumber : kStopSignals)
            sigaddset(&held, signalNumber);
        pthread_sigmask(SIG_BLOCK, &held, &m_previous);
    }
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

  private:
    sigset_t m_previous;
};

std::string hiddenName()
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    uint8_t random[kRandomLetters];
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        static std::atomic<uint64_t> counter{0};
        uint64_t mix = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                       static_cast<uint64_t>(std::time(nullptr)) ^ (counter++ << 32);
        for (uint8_t& byte : random) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            byte = static_cast<uint8_t>(mix >> 56);
        }
    }
    std::string name = kHiddenPrefix;
    for (uint8_t byte : random)
        name += kLetters[byte % (sizeof kLetters - 1)];
    return name;
}

bool namedTemporaryForced()
{
    const char* value = std::getenv(kNamedTemporaryVariable);
    return value && *value && std::strcmp(value, "0") != 0;
}

// --- The file a save replaces ---

constexpr int kMaxLinkHops = 40;

std::string folderPart(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The target itself, or for a symbolic link the file it finally points to, which is the one the
// user means to replace. A link to a file that does not exist yet names the file to create.
Result<std::string> followLinks(std::string path)
{
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::vector<char> buffer(PATH_MAX + 1);
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return fail(std::strerror(errno));
        if (static_cast<size_t>(length) == buffer.size())
            return fail("the symbolic link is too long");
        const std::string link(buffer.data(), static_cast<size_t>(length));
        path = link.front() == '/' ? link : folderPart(path) + link;
    }
    return fail("too many levels of symbolic links");
}

mode_t currentUmask()
{
    // Read, not set and set back, so that no other thread ever creates a file under a mask of 0.
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

void setSavePointHook(SavePointHook hook)
{
    g_savePointHook.store(hook);
}

AtomicFile::AtomicFile(std::string targetPath) : m_target(std::move(targetPath)) {}

AtomicFile::AtomicFile(int folder, std::string name, mode_t permissions)
    : m_fileName(std::move(name)), m_entryFolder(::fcntl(folder, F_DUPFD_CLOEXEC, 0)),
      m_entryPermissions(permissions & 07777)
{
}

AtomicFile::~AtomicFile()
{
    // Closing an unnamed file that was never linked is all it takes to make it vanish.
    m_stream.reset();
    if (!m_committed)
        removeNamed();
    if (m_folder >= 0)
        ::close(m_folder);
    if (m_entryFolder >= 0)
        ::close(m_entryFolder);
}

bool AtomicFile::failWithErrno(const char* what)
{
    m_error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool AtomicFile::open()
{
    if (m_target.empty() && !m_fileName.empty())
        return openEntry();
    if (m_target.empty() || m_target.back() == '/') {
        m_error = "no file name";
        return false;
    }
    auto replaced = followLinks(m_target);
    if (!replaced) {
        m_error = "cannot follow the link: " + replaced.error();
        return false;
    }
    const std::string folder = folderPart(replaced.value());
    m_fileName = replaced.value().substr(folder.size());
    m_folder = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        return failWithErrno("cannot create a file in the folder");
    // A replaced file keeps its permissions; a new one gets those a plain create would give it.
    struct stat existing {};
    const mode_t mode =
        ::fstatat(m_folder, m_fileName.c_str(), &existing, 0) == 0 && S_ISREG(existing.st_mode)
            ? existing.st_mode & 07777
            : 0666 & ~currentUmask();
    if (!(!namedTemporaryForced() && createUnnamed(mode)) && !createNamed(mode))
        return false;
    reach(SavePoint::Created);
    return true;
}

bool AtomicFile::openEntry()
{
    if (m_entryFolder < 0)
        return failWithErrno("cannot create a file in the folder");
    if (m_fileName.find('/') != std::string::npos || m_fileName == "." || m_fileName == "..") {
        m_error = "not a name in the folder";
        return false;
    }
    m_folder = std::exchange(m_entryFolder, -1);
    if (!(!namedTemporaryForced() && createUnnamed(m_entryPermissions)) &&
        !createNamed(m_entryPermissions))
        return false;
    reach(SavePoint::Created);
    return true;
}

// False when the folder's file system cannot make an unnamed file (or it could not be had for
// another reason, which the named file then reports).
bool AtomicFile::createUnnamed(mode_t mode)
{
    // Naming the file at the end goes through its /proc entry.
    if (::access("/proc/self/fd", X_OK) != 0)
        return false;
    const int fd = ::openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, mode);
    m_stream.reset(::fdopen(fd, "wb"));
    if (!m_stream) {
        ::close(fd);
        return false;
    }
    m_unnamed = true;
    return true;
}

bool AtomicFile::createNamed(mode_t mode)
{
    int fd = -1;
    while (fd < 0) {
        const std::string name = hiddenName();
        StopSignalsHeld held;
        fd = ::openat(m_folder, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return failWithErrno("cannot create a file in the folder");
        }
        m_temporary = name;
        m_temporarySlot = armTemporary(m_folder, name);
    }
    ::fchmod(fd, mode);
    m_stream.reset(::fdopen(fd, "wb"));
    if (!m_stream) {
        ::close(fd);
        return failWithErrno("cannot write the file");
    }
    return true;
}

// Gives the complete unnamed file its hidden name. linkat cannot replace a file, so the name is
// a new one, renamed over the target next.
bool AtomicFile::linkUnnamed()
{
    const std::string self = "/proc/self/fd/" + std::to_string(::fileno(m_stream.get()));
    for (;;) {
        const std::string name = hiddenName();
        StopSignalsHeld held;
        const int slot = armTemporary(m_folder, name);
        if (::linkat(AT_FDCWD, self.c_str(), m_folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_temporary = name;
            m_temporarySlot = slot;
            return true;
        }
        const int error = errno;
        disarmTemporary(slot);
        errno = error;
        if (errno != EEXIST)
            return failWithErrno("cannot name the new file");
    }
}

void AtomicFile::removeNamed()
{
    if (m_temporary.empty())
        return;
    StopSignalsHeld held;
    ::unlinkat(m_folder, m_temporary.c_str(), 0);
    disarmTemporary(m_temporarySlot);
    m_temporarySlot = -1;
    m_temporary.clear();
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
        if (!m_passedWriting) {
            m_passedWriting = true;
            reach(SavePoint::Writing);
        }
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
    reach(SavePoint::Complete);
    if (m_unnamed) {
        if (!linkUnnamed())
            return false;
        reach(SavePoint::Linked);
    }
    if (std::fclose(m_stream.release()) != 0)
        return failWithErrno("cannot write the file");
    {
        StopSignalsHeld held;
        if (::renameat(m_folder, m_temporary.c_str(), m_folder, m_fileName.c_str()) != 0)
            return failWithErrno("cannot replace the file");
        disarmTemporary(m_temporarySlot);
        m_temporarySlot = -1;
        m_temporary.clear();
    }
    m_committed = true;
    // The new name is on the disk only once the folder is: a power cut right after the save
    // would otherwise bring back the old file.
    ::fsync(m_folder);
    return true;
}

} // namespace ombri
