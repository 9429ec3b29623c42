#pragma once

#include <cstddef>
#include <string>

namespace ombri::test {

// A disk of a few kilobytes (a tmpfs) mounted on a fresh folder for the life of the object, so
// that a test can watch a save meet a full disk for real. Mounting takes root; where it cannot
// be done, reason() says why and the test skips.
class SmallDisk {
  public:
    SmallDisk(std::string mountPoint, size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& reason() const { return m_reason; }
    const std::string& path() const { return m_path; }
    // Fills the disk with a file of its own, leaving `bytes` free (to the page above).
    bool fillLeaving(size_t bytes);

  private:
    std::string m_path;
    std::string m_reason;
    bool m_mounted = false;
};

} // namespace ombri::test
