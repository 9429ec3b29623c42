#pragma once

#include "core/bytes.h"
#include "core/result.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace ombri {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The whole file, or the reason it could not be read (the system's own words).
Result<std::vector<uint8_t>> readWholeFile(const std::string& path);

// A file opened for reading only, its bytes mapped into memory for as long as the object lives.
// Empty files and anything but a plain file (a pipe, a terminal) are read into memory instead, so
// view() answers the same bytes either way. The file must not be shortened while it is open.
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

// A save that never damages the file already at the target: the bytes go to a temporary file in
// the target's folder, which replaces the target only when commit() has written and flushed all
// of it. A save that fails, throws or is abandoned removes the temporary file and leaves the
// target as it was.
class AtomicFile {
  public:
    explicit AtomicFile(std::string targetPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false with error() set when the folder cannot be written.
    bool open();
    std::FILE* stream() const { return m_stream.get(); }
    bool write(const void* bytes, size_t count);
    // Flushes, syncs and renames over the target. False with error() set on any failure; the
    // target is then untouched.
    bool commit();
    const std::string& error() const { return m_error; }

  private:
    bool failWithErrno(const char* what);
    void startWriteback();

    std::string m_target;
    std::string m_temporary;
    FilePtr m_stream;
    std::string m_error;
    bool m_committed = false;
    uint64_t m_pending = 0;   // bytes given to write() since writeback was last started
    uint64_t m_flushedTo = 0; // the end of the part of the file whose writeback has been started
};

} // namespace ombri
