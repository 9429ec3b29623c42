#pragma once

#include "core/bytes.h"
#include "core/result.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace ombri {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// An open file descriptor, closed when the object goes.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_descriptor; }
    explicit operator bool() const { return m_descriptor >= 0; }
    // Hands the descriptor over; the object then holds none.
    int release();

  private:
    int m_descriptor = -1;
};

// Opens a file to read it, as every picture, cache entry and settings file is read. Only a
// regular file is opened: a FIFO, socket or device by a picture's name would leave the reader
// waiting for bytes that may never come, or reading without end. The open itself never waits
// (O_NONBLOCK, which is then taken off again), so such a file costs one quick refusal. The
// reason is the system's own words, "it is a folder" or "it is not a regular file".
Result<FileDescriptor> openRegularFile(const std::string& path);
// The same file as a stream, for readers that take one.
Result<FilePtr> openRegularStream(const std::string& path);
// The same check on a descriptor already open: the reason it is not a regular file, or nothing.
std::string notRegularReason(int descriptor);

// Exactly count bytes of the open file from offset on, or false (errno EIO where the file ends
// first): for reading a few parts of a file without mapping or reading the whole of it.
bool readExactlyAt(int file, uint8_t* bytes, size_t count, uint64_t offset);

// The whole file, or the reason it could not be read (the system's own words). Regular files
// only, as openRegularFile.
Result<std::vector<uint8_t>> readWholeFile(const std::string& path);

// A regular file opened for reading only (as openRegularFile), its bytes mapped into memory for
// as long as the object lives. Empty files (those of /proc among them) are read into memory
// instead, so view() answers the same bytes either way. The file must not be shortened while it
// is open.
class MappedFile {
  public:
    // The file, or the reason it could not be read (the system's own words, as readWholeFile).
    static Result<MappedFile> open(const std::string& path);

    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    ByteView view() const;
    // True when the bytes come from a mapping rather than a copy.
    bool mapped() const { return m_map != nullptr; }

  private:
    void release();

    void* m_map = nullptr;
    size_t m_mapSize = 0;
    std::vector<uint8_t> m_owned;
};

// Where every save passes, in this order; tests stop a save at one of them to see what a stopped
// save leaves behind.
enum class SavePoint {
    Created,     // the new file exists, unnamed where the system allows it, and holds nothing yet
    Writing,     // the first several megabytes are in it; reached only by saves that large
    Complete,    // all of it is written (and synced, where it replaces); the target is the old file
    Linked,      // the complete unnamed file has its hidden name beside the target
    Overwriting, // a save in place has copied its first part over the old file
};
using SavePointHook = void (*)(SavePoint);
// Called at each point of every save from then on; null stops it. For tests only.
void setSavePointHook(SavePointHook hook);

// From then on, a save whose new bytes would pass this many fails as on a full disk, with ENOSPC
// ("No space left on device"); kNoSpaceLimit lifts the limit. For tests only.
constexpr uint64_t kNoSpaceLimit = UINT64_MAX;
void setSaveSpaceLimit(uint64_t bytes);

// Set in the environment (to anything but "0"), saves write a named temporary file as they do on
// file systems that cannot make unnamed ones.
constexpr const char* kNamedTemporaryVariable = "OMBRI_SAVE_NAMED_TEMPORARY";

// Why a save to the path would be refused before a byte is written (the reasons AtomicFile::open
// gives), or nothing when it may go ahead. For callers that check their output before long work.
std::string saveRefusal(const std::string& targetPath);

// A save that never damages the file already at the target and leaves nothing beside it.
//
// Most saves replace the target: the new bytes go to a file without a name in the target's folder
// (O_TMPFILE); only when all of them are written and synced does it get a hidden name, which is at
// once renamed over the target. Where the file system cannot make unnamed files, a hidden named
// file takes the bytes instead. The new file is given the old one's owner, group, permission bits,
// ACL and other extended attributes before it takes the name; a new target gets the permission
// bits a plain create gives.
//
// Where the new file could not be the old one's equal (its owner or group cannot be given by this
// user, other hard links share the old file, or the folder takes no new file while the file itself
// may be written), the save writes in place: the new bytes are first complete in an unnamed file
// (beside the target, else in $TMPDIR or /tmp, else in memory), the space they need is reserved in
// the old file, and only then are they copied over it. Every name and attribute of the file stays.
//
// Either way a save that fails, throws, is abandoned or is ended by SIGINT, SIGTERM or SIGHUP
// (while those have their default action) leaves the target as it was and no file of its own; a
// signal that comes while a save in place copies its bytes ends the program once they are all in.
//
// The target must be a regular file or not exist, and one that exists must be one the user may
// open for writing. A symbolic link is written through: the file it points to is saved, the link
// stays. As the system does for the programs that open files, a link in a folder that everybody may
// write and only owners may delete from (as /tmp) is followed only when it belongs to the user or
// to the folder's owner, so that a link planted there never leads a save to another file.
class AtomicFile {
  public:
    explicit AtomicFile(std::string targetPath);
    // A save into an entry of a folder the program holds open and keeps for itself (the
    // thumbnail cache): whatever has the name there, a symbolic link or a FIFO planted in its
    // place included, is replaced by the new file, never followed, read or written through. The
    // folder descriptor is duplicated; the new file gets exactly the given permission bits.
    AtomicFile(int folder, std::string name, mode_t permissions);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Checks the target and creates the new file; false with error() set when the target may
    // not be saved to or the new file cannot be made.
    bool open();
    // The new bytes as a stream, for writers that take one; every byte goes through write().
    std::FILE* stream() const { return m_stream.get(); }
    bool write(const void* bytes, size_t count);
    // Gives the saved file these permission bits instead of those it would keep (after open()).
    bool setPermissions(mode_t permissions);
    // Flushes, syncs and puts the file in the target's place. False with error() set on any
    // failure; the target is then untouched.
    bool commit();
    const std::string& error() const { return m_error; }
    // True once a write of the new bytes has failed; error() then holds the system's reason, which
    // a writer reports rather than what its library makes of the failure.
    bool writeFailed() const { return m_writeErrno != 0; }
    // True when the bytes go to an unnamed file (known after open()).
    bool unnamed() const { return m_unnamed; }
    // True when the save writes into the old file rather than replacing it (known after open()).
    bool inPlace() const { return m_inPlace.get() >= 0; }

  private:
    friend struct SaveStreamAccess;

    bool failWithErrno(const char* what);
    bool failWith(std::string reason);
    bool openPath();
    bool openEntry();
    bool prepareReplacement(const struct stat& old, int oldFile);
    bool openOldForWriting();
    bool createUnnamed(mode_t mode);
    bool createNamed(mode_t mode);
    bool createHolder();
    bool openStream();
    bool linkUnnamed();
    void removeNamed();
    bool streamFailed();
    void startWriteback();
    bool commitReplacement();
    bool commitInPlace();
    bool copyOverTarget();

    // What the stream's reads, writes and seeks do with the new bytes.
    ssize_t readAt(char* bytes, size_t count);
    ssize_t writeAt(const char* bytes, size_t count);
    bool storeAt(const uint8_t* bytes, size_t count);
    bool seekTo(int64_t& offset, int whence);
    bool recordWriteFailure(int error);

    std::string m_target;   // the path given, perhaps a symbolic link; empty for an entry
    std::string m_fileName; // name of the file replaced, in m_folder
    std::string m_shown;    // the file saved to, as messages name it
    int m_entryFolder = -1; // the folder given for an entry, owned (a duplicate)
    mode_t m_entryPermissions = 0600;
    int m_folder = -1;        // the folder the file is replaced in
    std::string m_temporary;  // hidden name of the new file in m_folder, while it has one
    int m_temporarySlot = -1; // where the signal handlers find that name
    FileDescriptor m_file;    // the new bytes, unless they are held in memory
    std::vector<uint8_t> m_memory;
    bool m_inMemory = false;
    FileDescriptor m_inPlace; // the old file, open for writing, when the save writes in place
    int m_requestedPermissions = -1; // bits setPermissions() asked for, for a file saved in place
    FilePtr m_stream;
    std::string m_error;
    int m_writeErrno = 0;
    uint64_t m_position = 0; // where the stream reads and writes next
    uint64_t m_size = 0;     // the length of the new bytes
    bool m_unnamed = false;
    bool m_committed = false;
    bool m_passedWriting = false;
    uint64_t m_pending = 0;   // bytes given to write() since writeback was last started
    uint64_t m_flushedTo = 0; // the end of the part of the file whose writeback has been started
};

} // namespace ombri
