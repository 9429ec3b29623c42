#include "reader/ui/background_file_reader.h"

#include "core/dib.h"
#include "reader/note_status.h"

#include <QThread>

#include <sys/stat.h>

#include <algorithm>

namespace ombri::reader {

namespace {

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

BackgroundFileReader::BackgroundFileReader(QObject* parent)
    : QObject(parent), m_cacheRoot(thumbnailCacheRoot())
{
    // One worker per processor: thumbnails of big pictures are made at the pace of the decoders.
    // They run below the GUI thread, which must stay quick to answer the user.
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    m_pool.setThreadPriority(QThread::LowPriority);
}

BackgroundFileReader::~BackgroundFileReader()
{
    cancelAll();
    m_pool.clear();
    m_pool.waitForDone();
}

void BackgroundFileReader::request(int row, const std::string& path,
                                   std::optional<ThumbnailSize> thumbnail)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_front(Job{m_generation.load(), row, path, thumbnail});
    }
    m_pool.start([this] { serveOne(); });
}

void BackgroundFileReader::cancelAll()
{
    const std::lock_guard lock(m_mutex);
    ++m_generation;
    m_jobs.clear();
}

bool BackgroundFileReader::waitForIdle(int milliseconds)
{
    return m_pool.waitForDone(milliseconds);
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
    const auto current = [&] { return job.generation == m_generation.load(); };
    if (!current())
        return;
    FileFacts facts;
    if (job.thumbnail) {
        NotesReadOnTheWay read;
        const auto made = makeThumbnail(m_cacheRoot, job.path, *job.thumbnail, &read);
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
            answer(job, std::move(facts));
            return;
        }
        // A thumbnail from the cache, or a photograph decoded small, comes at once; finding the
        // notes takes the whole picture, and the badge follows.
        answer(job, std::move(facts));
        facts = FileFacts{};
        if (!current())
            return;
    }
    facts.carriesNotes = notesOf(job.path);
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
    m_knownNotes[path] = KnownNotes{stamp->modified, stamp->size, notes};
}

std::optional<bool> BackgroundFileReader::notesOf(const std::string& path)
{
    if (const auto known = knownNotes(path))
        return known;
    const std::optional<bool> notes = fileCarriesNotes(path);
    rememberNotes(path, notes);
    return notes;
}

} // namespace ombri::reader
