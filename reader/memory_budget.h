#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>

namespace ombri::reader {

// Memory shared out among threads that decode pictures, so that together they never hold more
// than the whole of it. Each asks for what its picture takes before decoding it and waits until
// that fits beside what the others hold; requests are served in the order they came, so a large
// one is not passed over for ever by small ones. A request larger than the whole waits until
// nothing at all is held and is then held alone.
class MemoryBudget {
  public:
    explicit MemoryBudget(uint64_t total) : m_total(total) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // What one thread holds, given back when the object goes.
    class Hold {
      public:
        Hold() = default;
        ~Hold();
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        friend class MemoryBudget;
        Hold(MemoryBudget* budget, uint64_t bytes) : m_budget(budget), m_bytes(bytes) {}
        void giveBack();

        MemoryBudget* m_budget = nullptr;
        uint64_t m_bytes = 0;
    };

    // Waits until the bytes may be held. Nothing when stop answers true, which it is asked
    // before waiting and each time wakeAll() is called: a thread waiting here is never left
    // waiting by a cancellation. The budget must outlive every hold.
    std::optional<Hold> acquire(uint64_t bytes, const std::function<bool()>& stop);
    // Makes every waiting acquire() ask its stop again.
    void wakeAll();

    uint64_t total() const { return m_total; }
    // The most held at once so far, a request larger than the whole counted as the whole.
    uint64_t peakHeld() const;
    // How many requests wait now.
    size_t waiting() const;

  private:
    void release(uint64_t bytes);

    const uint64_t m_total;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::list<uint64_t> m_waiting; // tickets of the requests waiting, the oldest first
    uint64_t m_nextTicket = 0;
    uint64_t m_held = 0;
    uint64_t m_peak = 0;
};

// What decoding the picture in the file takes in memory, told by its headers alone: four bytes
// a pixel and a byte of notes, and for DPX and Cineon files their pixel words as well. For a
// JPEG thumbnail (thumbnailSide given), the fraction of the picture its decoder makes, and the
// coefficients of the whole when the file is progressive. Headers that do not tell give more
// than any budget holds, so that such a file is decoded alone.
uint64_t decodedBytes(const std::string& path, std::optional<int> thumbnailSide);

} // namespace ombri::reader
