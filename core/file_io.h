#pragma once

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

    std::string m_target;
    std::string m_temporary;
    FilePtr m_stream;
    std::string m_error;
    bool m_committed = false;
};

} // namespace ombri
