#include "core/file_io.h"

#include "core/printable_name.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <utility>

namespace ombri {

namespace {

// Writeback of a large save is started after this many bytes, so that the disk is busy while the
// rest is produced and commit()'s sync waits only for the last part.
constexpr uint64_t kWritebackBytes = 8u << 20;

// The stream a writer fills hands its bytes on in pieces of this size.
constexpr size_t kStreamBufferBytes = 64u << 10;

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

bool readExactlyAt(int file, uint8_t* bytes, size_t count, uint64_t offset)
{
    for (size_t done = 0; done < count;) {
        const ssize_t got =
            ::pread(file, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
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
std::atomic<uint64_t> g_spaceLimit{kNoSpaceLimit};

void reach(SavePoint point)
{
    if (SavePointHook hook = g_savePointHook.load())
        hook(point);
}

// --- Hidden named files, saves in place, and the signals that must not spoil either ---

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

// Handlers are installed while at least one slot is armed or one save in place is copying, each
// only over a signal whose action is the default one: a program that ignores a signal or handles
// it itself keeps doing so.
std::mutex g_handlerMutex;
size_t g_guards = 0;
struct sigaction g_replaced[kStopSignalCount];
bool g_installed[kStopSignalCount] = {};

// Saves in place copying their bytes over the old file, and a stopping signal that came meanwhile
// and waits for the last of them to finish.
std::atomic<int> g_overwrites{0};
std::atomic<int> g_deferredSignal{0};

// What the signal would have done without us, once no hidden name is left: end the program,
// reported as ended by it.
void stopWithSignal(int signalNumber)
{
    for (TemporarySlot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == Armed)
            ::unlinkat(slot.folder, slot.name, 0);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signalNumber, &byDefault, nullptr);
    ::raise(signalNumber);
}

extern "C" void removeTemporariesAndStop(int signalNumber)
{
    const int savedErrno = errno;
    // A file overwritten half-way would be lost, so while a save in place copies, the signal is
    // left for it to act on when it is done. If that save has just taken it, it acts on it.
    g_deferredSignal.store(signalNumber);
    if (g_overwrites.load() == 0 && g_deferredSignal.exchange(0) != 0)
        stopWithSignal(signalNumber);
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

// Both called with g_handlerMutex held.
void addGuard()
{
    if (g_guards++ == 0)
        installHandlers();
}

void dropGuard()
{
    if (--g_guards == 0)
        restoreHandlers();
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
        addGuard();
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
    dropGuard();
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

// Held while a save in place copies its bytes over the old file. A stopping signal that another
// thread takes meanwhile waits, and ends the program when the last such copy is done.
class OverwriteGuard {
  public:
    OverwriteGuard()
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        addGuard();
        g_overwrites.fetch_add(1);
    }
    ~OverwriteGuard()
    {
        bool last = false;
        {
            std::lock_guard<std::mutex> lock(g_handlerMutex);
            last = g_overwrites.fetch_sub(1) == 1;
            dropGuard();
        }
        if (!last)
            return;
        if (const int signalNumber = g_deferredSignal.exchange(0))
            stopWithSignal(signalNumber);
    }
    OverwriteGuard(const OverwriteGuard&) = delete;
    OverwriteGuard& operator=(const OverwriteGuard&) = delete;
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

// --- The file a save is aimed at ---

constexpr int kMaxLinkHops = 40;

// The file a save is aimed at once every link is followed: its folder, held open, its name
// there and, when it exists, what it is.
struct SaveTarget {
    FileDescriptor folder;
    std::string name;
    std::string shown; // the path by which messages name it
    bool exists = false;
    struct stat info {};
};

// The system's own rule for links opened through (fs.protected_symlinks): in a folder that
// everybody may write and only owners may delete from, a link is followed only by its owner or
// when it belongs to the folder's owner. Anybody can plant a link there, and it must not lead a
// save to a file of the planter's choosing. A save follows links itself, so it applies the rule
// itself, whether the system's switch is on or not.
bool mayFollow(int folder, const struct stat& link)
{
    struct stat folderInfo {};
    if (::fstat(folder, &folderInfo) != 0)
        return false;
    const mode_t shared = S_ISVTX | S_IWOTH;
    return (folderInfo.st_mode & shared) != shared || link.st_uid == ::geteuid() ||
           link.st_uid == folderInfo.st_uid;
}

Result<std::string> readLinkAt(int folder, const std::string& name)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
    if (length < 0)
        return fail(std::strerror(errno));
    if (static_cast<size_t>(length) == buffer.size())
        return fail("the symbolic link is too long");
    if (length == 0)
        return fail(std::strerror(ENOENT));
    return std::string(buffer.data(), static_cast<size_t>(length));
}

// Follows the link found at `at` in the folder: the path it leads to, from that folder when it is
// relative.
Result<std::string> throughLink(int folder, const std::string& name, const std::string& at,
                                const struct stat& link, const std::string& reached)
{
    if (!mayFollow(folder, link))
        return fail("cannot follow the link " + printableName(at) + ": " + std::strerror(EACCES));
    auto text = readLinkAt(folder, name);
    if (!text)
        return fail("cannot follow the link " + printableName(at) + ": " + text.error());
    return text.value().front() == '/' ? text.value() : reached + text.value();
}

// The file a save is aimed at: the path walked one name at a time from the root or the working
// folder, as the system walks it, but with every symbolic link followed here, so that each is
// judged by mayFollow wherever it lies, a folder's name on the way as much as the file's. A link
// to a file that does not exist yet names the file to create.
Result<SaveTarget> findSaveTarget(std::string path)
{
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        const bool absolute = path.front() == '/';
        FileDescriptor folder(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        std::string reached = absolute ? "/" : "";
        size_t start = path.find_first_not_of('/');
        if (start == std::string::npos)
            return fail(path + " is not a regular file");
        std::string next;
        while (next.empty()) {
            if (!folder)
                return fail(std::string("cannot create a file in the folder: ") +
                            std::strerror(errno));
            const size_t end = path.find('/', start);
            const std::string name = path.substr(start, end - start);
            const size_t after = end == std::string::npos ? end : path.find_first_not_of('/', end);
            const bool last = after == std::string::npos;
            struct stat info {};
            if (::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                if (!last || errno != ENOENT)
                    return fail(std::string("cannot create a file in the folder: ") +
                                std::strerror(errno));
                return SaveTarget{std::move(folder), name, reached + name, false, info};
            }
            if (S_ISLNK(info.st_mode)) {
                auto link = throughLink(folder.get(), name, reached + name, info, reached);
                if (!link)
                    return fail(link.error());
                // A link whose text ends in a slash leaves one, which names a folder.
                next = last ? link.value() : link.value() + "/" + path.substr(after);
            } else if (last) {
                return SaveTarget{std::move(folder), name, reached + name, true, info};
            } else {
                folder = FileDescriptor(::openat(folder.get(), name.c_str(),
                                                 O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                reached += name + "/";
                start = after;
            }
        }
        path = next;
    }
    return fail("cannot follow the link: too many levels of symbolic links");
}

// Why the file found for the path given may not be replaced, or nothing. A FIFO, socket or
// device is never saved over (it would be replaced by a picture, or written to), and a file is
// replaced only where the user could open it for writing: a read-only file stays read-only, as
// for cp. The file is named where it is not the path given.
std::string refusalOf(const SaveTarget& target, const std::string& given)
{
    if (!target.exists)
        return {};
    if (!S_ISREG(target.info.st_mode))
        return printableName(target.shown) + " is not a regular file";
    if (::faccessat(target.folder.get(), target.name.c_str(), W_OK, AT_EACCESS) != 0)
        return (target.shown == given ? "" : printableName(target.shown) + ": ") +
               std::strerror(errno);
    return {};
}

bool folderTakesNewFiles(int folder)
{
    return ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) == 0;
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

// --- What the new file keeps of the old one ---

// The names of a file's extended attributes. A file system without them has none.
Result<std::vector<std::string>> attributeNames(int file)
{
    std::vector<char> list;
    for (;;) {
        const ssize_t size = ::flistxattr(file, nullptr, 0);
        if (size < 0 && errno == ENOTSUP)
            return std::vector<std::string>{};
        if (size < 0)
            return fail(std::strerror(errno));
        list.resize(static_cast<size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::flistxattr(file, list.data(), list.size());
        if (got >= 0) {
            list.resize(static_cast<size_t>(got));
            break;
        }
        // ERANGE: the list grew between the two calls.
        if (errno != ERANGE)
            return fail(std::strerror(errno));
    }
    std::vector<std::string> names;
    for (size_t start = 0; start < list.size();) {
        const size_t end = std::find(list.begin() + start, list.end(), '\0') - list.begin();
        if (end > start)
            names.emplace_back(list.data() + start, end - start);
        start = end + 1;
    }
    return names;
}

// The value of one attribute, or nothing with errno set.
std::optional<std::vector<char>> attributeValue(int file, const std::string& name)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(file, name.c_str(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        std::vector<char> value(static_cast<size_t>(size));
        const ssize_t got =
            size == 0 ? 0 : ::fgetxattr(file, name.c_str(), value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return value;
        }
        // ERANGE: the value grew between the two calls.
        if (errno != ERANGE)
            return std::nullopt;
    }
}

// Attributes of the system's security modules and of the administrator, which only a privileged
// process may set: where the user cannot give them, the new file goes without.
bool privilegedAttribute(const std::string& name)
{
    return name.rfind("security.", 0) == 0 || name.rfind("trusted.", 0) == 0;
}

// Takes from the new file what it got from its folder and the old file does not have: a default
// ACL of the folder gives a new file entries the old one may never have had.
void dropInherited(int file, const std::vector<std::string>& kept)
{
    auto names = attributeNames(file);
    if (!names)
        return;
    for (const std::string& name : names.value())
        if (std::find(kept.begin(), kept.end(), name) == kept.end())
            ::fremovexattr(file, name.c_str());
}

// Gives the new file the old one's extended attributes, its ACL (system.posix_acl_access) among
// them.
Status copyAttributes(int from, int to, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        // One that went meanwhile is not there to keep.
        const auto value = attributeValue(from, name);
        int error = errno;
        if (!value && error != ENODATA && !privilegedAttribute(name))
            return fail("cannot read the extended attribute " + name + ": " + std::strerror(error));
        if (!value || ::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) == 0)
            continue;
        error = errno;
        if (error == ENOTSUP || ((error == EPERM || error == EACCES) && privilegedAttribute(name)))
            continue;
        return fail("cannot keep the extended attribute " + name + ": " + std::strerror(error));
    }
    return {};
}

constexpr size_t kCopyBlockBytes = 1u << 20;

bool writeFully(int file, const uint8_t* bytes, size_t count, uint64_t offset)
{
    for (size_t done = 0; done < count;) {
        const ssize_t wrote =
            ::pwrite(file, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

} // namespace

// The stream's reads, writes and seeks, which the C library calls with the save as its cookie.
struct SaveStreamAccess {
    static ssize_t read(void* cookie, char* bytes, size_t count)
    {
        return static_cast<AtomicFile*>(cookie)->readAt(bytes, count);
    }
    static ssize_t write(void* cookie, const char* bytes, size_t count)
    {
        return static_cast<AtomicFile*>(cookie)->writeAt(bytes, count);
    }
    static int seek(void* cookie, off64_t* offset, int whence)
    {
        int64_t position = *offset;
        if (!static_cast<AtomicFile*>(cookie)->seekTo(position, whence))
            return -1;
        *offset = static_cast<off64_t>(position);
        return 0;
    }
    // The descriptor belongs to the save, which closes it itself.
    static int close(void*) { return 0; }
};

void setSavePointHook(SavePointHook hook)
{
    g_savePointHook.store(hook);
}

void setSaveSpaceLimit(uint64_t bytes)
{
    g_spaceLimit.store(bytes);
}

std::string saveRefusal(const std::string& targetPath)
{
    if (targetPath.empty() || targetPath.back() == '/')
        return "no file name";
    auto target = findSaveTarget(targetPath);
    if (!target)
        return target.error();
    if (target.value().exists)
        return refusalOf(target.value(), targetPath);
    if (!folderTakesNewFiles(target.value().folder.get()))
        return std::string("cannot create a file in the folder: ") + std::strerror(errno);
    return {};
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

bool AtomicFile::failWith(std::string reason)
{
    m_error = std::move(reason);
    return false;
}

bool AtomicFile::open()
{
    if (m_target.empty() && !m_fileName.empty()) {
        if (!openEntry())
            return false;
    } else if (m_target.empty() || m_target.back() == '/') {
        return failWith("no file name");
    } else if (!openPath()) {
        return false;
    }
    reach(SavePoint::Created);
    return true;
}

bool AtomicFile::openPath()
{
    auto found = findSaveTarget(m_target);
    if (!found)
        return failWith(found.error());
    SaveTarget& target = found.value();
    if (std::string refused = refusalOf(target, m_target); !refused.empty())
        return failWith(refused);
    m_folder = target.folder.release();
    m_fileName = target.name;
    m_shown = target.shown;
    if (!target.exists) {
        // A new file gets the permissions a plain create would give it.
        const mode_t mode = 0666 & ~currentUmask();
        return ((!namedTemporaryForced() && createUnnamed(mode)) || createNamed(mode)) &&
               openStream();
    }
    // The old file's extended attributes are read through a descriptor of it. Where it cannot
    // be read, nor can they: it keeps them by being written in place.
    FileDescriptor old(::openat(m_folder, m_fileName.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (old && !notRegularReason(old.get()).empty())
        return failWith(printableName(m_shown) + " is not a regular file");
    bool ready = false;
    if (!old || target.info.st_nlink > 1 || !folderTakesNewFiles(m_folder))
        ready = openOldForWriting() && createHolder();
    else
        ready = ((!namedTemporaryForced() && createUnnamed(0600)) || createNamed(0600)) &&
                prepareReplacement(target.info, old.get());
    return ready && openStream();
}

bool AtomicFile::openEntry()
{
    if (m_entryFolder < 0)
        return failWithErrno("cannot create a file in the folder");
    if (m_fileName.find('/') != std::string::npos || m_fileName == "." || m_fileName == "..")
        return failWith("not a name in the folder");
    m_folder = std::exchange(m_entryFolder, -1);
    return ((!namedTemporaryForced() && createUnnamed(m_entryPermissions)) ||
            createNamed(m_entryPermissions)) &&
           openStream();
}

// Gives the new file all the old one had: owner and group, then the permission bits (a change of
// owner clears the set-id bits), then the extended attributes (the bits rewrite an ACL's mask, the
// ACL sets them back). Where the owner or group cannot be given, the save goes in place instead.
bool AtomicFile::prepareReplacement(const struct stat& old, int oldFile)
{
    const int file = m_file.get();
    struct stat made {};
    if (::fstat(file, &made) != 0)
        return failWithErrno("cannot write the file");
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        ::fchown(file, old.st_uid, old.st_gid) != 0) {
        // The file made so far only holds the bytes now; its hidden name, if it has one, goes.
        removeNamed();
        return openOldForWriting();
    }
    auto names = attributeNames(oldFile);
    if (!names)
        return failWith("cannot read the file's extended attributes: " + names.error());
    dropInherited(file, names.value());
    if (::fchmod(file, old.st_mode & 07777) != 0)
        return failWithErrno("cannot write the file");
    if (Status kept = copyAttributes(oldFile, file, names.value()); !kept)
        return failWith(kept.error());
    return true;
}

bool AtomicFile::openOldForWriting()
{
    m_inPlace = FileDescriptor(::openat(m_folder, m_fileName.c_str(),
                                        O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!m_inPlace)
        return failWith((m_shown == m_target ? "" : printableName(m_shown) + ": ") +
                        std::strerror(errno));
    if (!notRegularReason(m_inPlace.get()).empty()) {
        m_inPlace = FileDescriptor();
        return failWith(printableName(m_shown) + " is not a regular file");
    }
    return true;
}

// Where the new bytes of a save in place wait until they are complete: an unnamed file beside
// the target where its folder takes one (the same disk, so space for it is there), else in the
// temporary folder, else memory.
bool AtomicFile::createHolder()
{
    if (!namedTemporaryForced()) {
        const char* temporary = std::getenv("TMPDIR");
        int fd = ::openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0 && temporary && *temporary)
            fd = ::open(temporary, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0)
            fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        m_file = FileDescriptor(fd);
    }
    m_unnamed = static_cast<bool>(m_file);
    m_inMemory = !m_file;
    return true;
}

// False when the folder's file system cannot make an unnamed file (or it could not be had for
// another reason, which the named file then reports).
bool AtomicFile::createUnnamed(mode_t mode)
{
    // Naming the file at the end goes through its /proc entry.
    if (::access("/proc/self/fd", X_OK) != 0)
        return false;
    FileDescriptor file(::openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!file)
        return false;
    ::fchmod(file.get(), mode);
    m_file = std::move(file);
    m_unnamed = true;
    return true;
}

bool AtomicFile::createNamed(mode_t mode)
{
    while (!m_file) {
        const std::string name = hiddenName();
        StopSignalsHeld held;
        m_file = FileDescriptor(
            ::openat(m_folder, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
        if (!m_file) {
            if (errno == EEXIST)
                continue;
            return failWithErrno("cannot create a file in the folder");
        }
        m_temporary = name;
        m_temporarySlot = armTemporary(m_folder, name);
    }
    ::fchmod(m_file.get(), mode);
    return true;
}

// Every write goes through writeAt(), so that the save knows the system's reason when one fails,
// whichever library made the bytes.
bool AtomicFile::openStream()
{
    const cookie_io_functions_t functions{SaveStreamAccess::read, SaveStreamAccess::write,
                                          SaveStreamAccess::seek, SaveStreamAccess::close};
    m_stream.reset(::fopencookie(this, "w+", functions));
    if (!m_stream)
        return failWithErrno("cannot write the file");
    std::setvbuf(m_stream.get(), nullptr, _IOFBF, kStreamBufferBytes);
    return true;
}

ssize_t AtomicFile::readAt(char* bytes, size_t count)
{
    if (m_position >= m_size)
        return 0;
    const size_t available = static_cast<size_t>(std::min<uint64_t>(count, m_size - m_position));
    if (m_inMemory) {
        std::memcpy(bytes, m_memory.data() + m_position, available);
    } else if (!readExactlyAt(m_file.get(), reinterpret_cast<uint8_t*>(bytes), available,
                              m_position)) {
        return -1;
    }
    m_position += available;
    return static_cast<ssize_t>(available);
}

// The C library takes 0 for a failed write.
ssize_t AtomicFile::writeAt(const char* bytes, size_t count)
{
    const uint64_t limit = g_spaceLimit.load();
    const size_t allowed = limit == kNoSpaceLimit
                               ? count
                               : static_cast<size_t>(std::min<uint64_t>(
                                     count, m_position < limit ? limit - m_position : 0));
    if (!storeAt(reinterpret_cast<const uint8_t*>(bytes), allowed))
        return 0;
    if (allowed < count) {
        recordWriteFailure(ENOSPC);
        return 0;
    }
    return static_cast<ssize_t>(count);
}

bool AtomicFile::storeAt(const uint8_t* bytes, size_t count)
{
    if (m_inMemory) {
        try {
            if (m_memory.size() < m_position + count)
                m_memory.resize(m_position + count);
        } catch (const std::exception&) {
            return recordWriteFailure(ENOMEM);
        }
        std::copy(bytes, bytes + count, m_memory.begin() + static_cast<ptrdiff_t>(m_position));
    } else if (!writeFully(m_file.get(), bytes, count, m_position)) {
        return recordWriteFailure(errno);
    }
    m_position += count;
    m_size = std::max(m_size, m_position);
    return true;
}

bool AtomicFile::seekTo(int64_t& offset, int whence)
{
    const uint64_t base = whence == SEEK_CUR ? m_position : whence == SEEK_END ? m_size : 0;
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) ||
        (offset < 0 && static_cast<uint64_t>(-offset) > base)) {
        errno = EINVAL;
        return false;
    }
    m_position = base + static_cast<uint64_t>(offset);
    offset = static_cast<int64_t>(m_position);
    return true;
}

// The first failure is the cause; what follows it is only its consequence.
bool AtomicFile::recordWriteFailure(int error)
{
    if (m_writeErrno == 0) {
        m_writeErrno = error;
        m_error = std::string("cannot write the file: ") + std::strerror(error);
    }
    errno = error;
    return false;
}

// Gives the complete unnamed file its hidden name. linkat cannot replace a file, so the name is
// a new one, renamed over the target next.
bool AtomicFile::linkUnnamed()
{
    const std::string self = "/proc/self/fd/" + std::to_string(m_file.get());
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
        return streamFailed();
    m_pending += count;
    if (m_pending >= kWritebackBytes) {
        if (std::fflush(m_stream.get()) != 0)
            return streamFailed();
        startWriteback();
        if (!m_passedWriting) {
            m_passedWriting = true;
            reach(SavePoint::Writing);
        }
    }
    return true;
}

bool AtomicFile::streamFailed()
{
    return m_writeErrno != 0 ? false : failWithErrno("cannot write the file");
}

bool AtomicFile::setPermissions(mode_t permissions)
{
    // A file written in place gets them when its new bytes are in.
    if (inPlace()) {
        m_requestedPermissions = static_cast<int>(permissions & 07777);
        return true;
    }
    if (!m_file || ::fchmod(m_file.get(), permissions & 07777) != 0)
        return failWithErrno("cannot set the file's permissions");
    return true;
}

// Asks the system to start writing what has reached the file so far, without waiting for it. Only
// a hint: a file system that cannot do it is synced in full by commit().
void AtomicFile::startWriteback()
{
    m_pending = 0;
    if (m_inMemory || m_size <= m_flushedTo)
        return;
    ::sync_file_range(m_file.get(), static_cast<off_t>(m_flushedTo),
                      static_cast<off_t>(m_size - m_flushedTo), SYNC_FILE_RANGE_WRITE);
    m_flushedTo = m_size;
}

bool AtomicFile::commit()
{
    if (!m_stream)
        return false;
    // A write that failed may have lost bytes in the middle, even if later ones went through.
    if (std::fflush(m_stream.get()) != 0 || std::ferror(m_stream.get()) || m_writeErrno != 0)
        return streamFailed();
    return inPlace() ? commitInPlace() : commitReplacement();
}

bool AtomicFile::commitReplacement()
{
    if (::fsync(m_file.get()) != 0)
        return failWithErrno("cannot write the file");
    reach(SavePoint::Complete);
    if (m_unnamed) {
        if (!linkUnnamed())
            return false;
        reach(SavePoint::Linked);
    }
    m_stream.reset();
    if (::close(m_file.release()) != 0)
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
    // would otherwise bring back the old file. The folder is held only as a place, which cannot
    // be synced; it is opened again for that.
    const FileDescriptor synced(::openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (synced)
        ::fsync(synced.get());
    return true;
}

bool AtomicFile::commitInPlace()
{
    reach(SavePoint::Complete);
    m_stream.reset();
    const int target = m_inPlace.get();
    if (m_requestedPermissions >= 0 &&
        ::fchmod(target, static_cast<mode_t>(m_requestedPermissions)) != 0)
        return failWithErrno("cannot set the file's permissions");
    // Declared in this order, the signals of this thread come back before the guard goes, and a
    // signal held meanwhile still finds the copy in progress and is left for the guard.
    OverwriteGuard guard;
    StopSignalsHeld held;
    // The space is reserved first, so that a full disk or quota stops the save while the old file
    // is whole. A file system that cannot reserve space is written without.
    if (m_size > 0 &&
        ::fallocate(target, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(m_size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return failWithErrno("cannot write the file");
    if (!copyOverTarget())
        return false;
    if (::ftruncate(target, static_cast<off_t>(m_size)) != 0 || ::fsync(target) != 0)
        return failWithErrno("cannot write the file, which is left incomplete");
    m_committed = true;
    return true;
}

// Copies the complete new bytes over the old file, block by block.
bool AtomicFile::copyOverTarget()
{
    std::vector<uint8_t> block(m_inMemory ? 0 : kCopyBlockBytes);
    for (uint64_t offset = 0; offset < m_size;) {
        const size_t count =
            static_cast<size_t>(std::min<uint64_t>(kCopyBlockBytes, m_size - offset));
        const uint8_t* bytes = m_memory.data() + (m_inMemory ? offset : 0);
        if (!m_inMemory) {
            if (!readExactlyAt(m_file.get(), block.data(), count, offset))
                return failWithErrno("cannot read the new bytes back");
            bytes = block.data();
        }
        if (!writeFully(m_inPlace.get(), bytes, count, offset))
            return failWithErrno("cannot write the file, which is left incomplete");
        if (offset == 0)
            reach(SavePoint::Overwriting);
        offset += count;
    }
    return true;
}

} // namespace ombri
