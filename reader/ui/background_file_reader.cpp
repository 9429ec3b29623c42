#include "reader/ui/background_file_reader.h"

#include "core/dib.h"
#include "reader/note_status.h"

#include <QThread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace ombri::reader {

namespace {

constexpr size_t kKnownNotesLimit = 100000;

struct FileStamp {
    int64_t modified;
    int64_t size;
};

std::optional<FileStamp> stampOf(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileStamp{static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                         status.st_mtim.tv_nsec,
                     static_cast<int64_t>(status.st_size)};
}

// The workers give way to the GUI thread, which must stay quick to answer the user, and to the
// user's other programs. On Linux a thread's nice value is its own (Qt's thread priorities
// change nothing for ordinary threads there).
void lowerThisThreadsPriority()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    const int now = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), std::max(now, 10));
}

} // namespace

QImage thumbnailToQImage(const Dib& thumbnail)
{
    const auto layout = dibGetLayout(thumbnail);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return {};
    const bool alpha = layout->bitCount == 32;
    QImage image(layout->width, layout->height,
                 alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const uint8_t* pixels = thumbnail.data() + layout->pixelOffset;
    for (int32_t y = 0; y < layout->height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(layout->height - 1 - y) * layout->stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int32_t x = 0; x < layout->width; ++x) {
            const uint8_t* pixel = row + static_cast<size_t>(x) * (alpha ? 4 : 3);
            out[x] = qRgba(pixel[2], pixel[1], pixel[0], alpha ? pixel[3] : 255);
        }
    }
    return image;
}

BackgroundFileReader::BackgroundFileReader(QObject* parent, uint64_t memoryBudget)
    : QObject(parent), m_cacheRoot(thumbnailCacheRoot()), m_budget(memoryBudget)
{
    // One worker per processor: thumbnails of big pictures are made at the pace of the decoders.
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

BackgroundFileReader::~BackgroundFileReader()
{
    cancelAll();
    m_pool.clear();
    m_pool.waitForDone();
    waitForBusyWorkers();
}

void BackgroundFileReader::request(int row, const std::string& path,
                                   std::optional<ThumbnailSize> thumbnail)
{
    enqueue(Job{m_generation.load(), row, path, thumbnail, std::nullopt}, true);
}

void BackgroundFileReader::enqueue(Job job, bool first)
{
    {
        const std::lock_guard lock(m_mutex);
        if (job.generation != m_generation.load())
            return;
        if (first)
            m_jobs.push_front(std::move(job));
        else
            m_jobs.push_back(std::move(job));
    }
    m_pool.start([this] { runTask(); });
}

void BackgroundFileReader::runTask()
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_busyWorkers;
    }
    lowerThisThreadsPriority();
    serveOne();
    // Told under the lock: the owner may be waiting to destroy the condition variable as soon as
    // it sees no busy worker.
    const std::lock_guard lock(m_mutex);
    --m_busyWorkers;
    m_workersIdle.notify_all();
}

void BackgroundFileReader::waitForBusyWorkers()
{
    std::unique_lock lock(m_mutex);
    m_workersIdle.wait(lock, [this] { return m_busyWorkers == 0; });
}

void BackgroundFileReader::cancelAll()
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_generation;
        m_jobs.clear();
    }
    // Workers waiting for memory to decode a file of the folder left give up at once.
    m_budget.wakeAll();
}

std::optional<MemoryBudget::Hold> BackgroundFileReader::waitForMemory(const Job& job,
                                                                      uint64_t bytes)
{
    return m_budget.acquire(bytes, [this, &job] { return !current(job); });
}

bool BackgroundFileReader::waitForIdle(int milliseconds)
{
    if (!m_pool.waitForDone(milliseconds))
        return false;
    waitForBusyWorkers();
    return true;
}

void BackgroundFileReader::serveOne()
{
    Job job;
    {
        const std::lock_guard lock(m_mutex);
        if (m_jobs.empty())
            return; // cancelled
        job = std::move(m_jobs.front());
        m_jobs.pop_front();
    }
    if (!current(job))
        return;
    FileFacts facts;
    if (job.thumbnail) {
        NotesReadOnTheWay read;
        const auto made =
            makeThumbnail(m_cacheRoot, job.path, *job.thumbnail, &read,
                          [this, &job](uint64_t bytes) { return waitForMemory(job, bytes); });
        // Given up while waiting for memory: the folder has been left.
        if (!made && !current(job))
            return;
        if (made) {
            facts.thumbnail = thumbnailToQImage(made.value());
        } else if (lookUpThumbnail(m_cacheRoot, job.path, *job.thumbnail) ==
                   ThumbnailState::Failed) {
            // Not a readable picture: reading it again for its notes would fail too.
            answer(job, std::move(facts));
            return;
        }
        if (read.known) {
            rememberNotes(job.path, read.carriesNotes);
            facts.carriesNotes = read.carriesNotes;
            answer(job, std::move(facts));
            return;
        }
        facts.carriesNotes = knownNotes(job.path);
        if (facts.carriesNotes) {
            noteNotesInThumbnail(m_cacheRoot, job.path, *job.thumbnail, *facts.carriesNotes);
            answer(job, std::move(facts));
            return;
        }
        // A photograph decoded small, or a thumbnail made by another program, comes at once;
        // finding the notes takes the whole picture. That is done after the thumbnails asked
        // for, so that a screenful of them is not held up by whole reads, and the badge follows.
        answer(job, std::move(facts));
        enqueue(Job{job.generation, job.row, job.path, std::nullopt, job.thumbnail}, false);
        return;
    }
    facts.carriesNotes = notesOf(job);
    if (job.notesForThumbnail && facts.carriesNotes)
        noteNotesInThumbnail(m_cacheRoot, job.path, *job.notesForThumbnail, *facts.carriesNotes);
    answer(job, std::move(facts));
}

void BackgroundFileReader::answer(const Job& job, FileFacts facts)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation = job.generation, row = job.row, facts = std::move(facts)] {
            if (generation == m_generation.load())
                emit factsRead(row, facts);
        },
        Qt::QueuedConnection);
}

std::optional<bool> BackgroundFileReader::knownNotes(const std::string& path)
{
    const auto stamp = stampOf(path);
    const std::lock_guard lock(m_mutex);
    const auto known = m_knownNotes.find(path);
    if (!stamp || known == m_knownNotes.end() || known->second.modified != stamp->modified ||
        known->second.size != stamp->size)
        return std::nullopt;
    return known->second.carriesNotes;
}

void BackgroundFileReader::rememberNotes(const std::string& path, std::optional<bool> notes)
{
    const auto stamp = stampOf(path);
    if (!stamp)
        return;
    const std::lock_guard lock(m_mutex);
    // A bound on what a long session keeps: forgetting costs only a read when a file comes back.
    if (m_knownNotes.size() >= kKnownNotesLimit)
        m_knownNotes.clear();
    m_knownNotes[path] = KnownNotes{stamp->modified, stamp->size, notes};
}

std::optional<bool> BackgroundFileReader::notesOf(const Job& job)
{
    if (const auto known = knownNotes(job.path))
        return known;
    const auto hold = waitForMemory(job, decodedBytes(job.path, std::nullopt));
    if (!hold)
        return std::nullopt;
    const std::optional<bool> notes = fileCarriesNotes(job.path);
    rememberNotes(job.path, notes);
    return notes;
}

} // namespace ombri::reader
