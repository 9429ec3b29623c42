#pragma once

#include "reader/thumbnails.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace ombri::reader {

// What the background reader found out about one listed file.
struct FileFacts {
    std::optional<bool> carriesNotes; // nothing when the file could not be read as a picture
    QImage thumbnail;                 // null when none was asked for or none could be made
};

// Reads the files of the listed folder away from the GUI thread, one worker per processor: whether
// each carries notes and, on request, its thumbnail from the shared cache (made there when
// missing). The list asks for a row when it first paints it; the last request is served first,
// so the rows in sight come before those scrolled past. Listing another folder cancels the
// requests not yet served, and the results of those being served are dropped.
//
// The workers together hold at most memoryBudget bytes of decoded pictures (kDecodeMemoryBudget
// unless a test gives less): each waits before decoding until its picture fits beside the
// others', and a picture larger than all of it is decoded alone. Files are only ever opened as
// regular files, without waiting: a FIFO, socket or device in the folder is never read.
class BackgroundFileReader : public QObject {
    Q_OBJECT
  public:
    static constexpr uint64_t kDecodeMemoryBudget = uint64_t{1} << 30;

    explicit BackgroundFileReader(QObject* parent = nullptr,
                                  uint64_t memoryBudget = kDecodeMemoryBudget);
    // Waits for the files being decoded; the rest, and those waiting for memory, are dropped.
    ~BackgroundFileReader() override;

    // The cache the thumbnails are kept in; thumbnailCacheRoot() unless changed.
    void setCacheRoot(std::string root) { m_cacheRoot = std::move(root); }

    // Asks for the facts of the file shown in the row: its notes, and its thumbnail when a size
    // is given. Answered by factsRead, never during this call.
    void request(int row, const std::string& path, std::optional<ThumbnailSize> thumbnail);
    // Drops every request not yet served and every answer still to come.
    void cancelAll();

    // Waits until every request made so far has been answered or dropped; false on time-out.
    // Tests and benchmarks wait with it; the answers still arrive through the event loop.
    bool waitForIdle(int milliseconds);
    // The most decoded pictures held at once so far, in bytes as they were counted.
    uint64_t peakDecodeMemory() const { return m_budget.peakHeld(); }

  signals:
    void factsRead(int row, const ombri::reader::FileFacts& facts);

  private:
    struct Job {
        uint64_t generation = 0;
        int row = 0;
        std::string path;
        std::optional<ThumbnailSize> thumbnail;
        // A notes job for a thumbnail made without them: they are added to it once found.
        std::optional<ThumbnailSize> notesForThumbnail;
    };
    void runTask();
    void serveOne();
    void waitForBusyWorkers();
    void enqueue(Job job, bool first);
    // Sends what was found to the GUI thread, which drops it when the list has moved on.
    void answer(const Job& job, FileFacts facts);
    std::optional<bool> knownNotes(const std::string& path);
    void rememberNotes(const std::string& path, std::optional<bool> notes);
    // Nothing when the file is no picture, or when the job was cancelled while it waited.
    std::optional<bool> notesOf(const Job& job);
    bool current(const Job& job) const { return job.generation == m_generation.load(); }
    std::optional<MemoryBudget::Hold> waitForMemory(const Job& job, uint64_t bytes);

    std::string m_cacheRoot;
    std::atomic<uint64_t> m_generation{0};
    std::mutex m_mutex;
    // Workers inside a task, counted under m_mutex. Waiting for none, after the pool says it is
    // done, hands everything they wrote to the waiting thread through a lock of our own rather
    // than through the pool's internals alone.
    int m_busyWorkers = 0;
    std::condition_variable m_workersIdle;
    std::deque<Job> m_jobs; // the newest at the front
    // What was found about files already read: a folder listed again, or the other mode of the
    // list, needs no second read of an unchanged file.
    struct KnownNotes {
        int64_t modified; // nanoseconds
        int64_t size;
        std::optional<bool> carriesNotes;
    };
    std::map<std::string, KnownNotes> m_knownNotes;
    MemoryBudget m_budget;
    QThreadPool m_pool;
};

// A thumbnail as the list draws it: 32-bit pictures keep their alpha, top row first.
QImage thumbnailToQImage(const Dib& thumbnail);

} // namespace ombri::reader
