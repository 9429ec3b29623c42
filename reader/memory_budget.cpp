#include "reader/memory_budget.h"

#include "formats/dispatch.h"
#include "formats/image_size.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace ombri::reader {

MemoryBudget::Hold::~Hold()
{
    giveBack();
}

MemoryBudget::Hold::Hold(Hold&& other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)), m_bytes(std::exchange(other.m_bytes, 0))
{
}

MemoryBudget::Hold& MemoryBudget::Hold::operator=(Hold&& other) noexcept
{
    if (this != &other) {
        giveBack();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void MemoryBudget::Hold::giveBack()
{
    if (m_budget)
        m_budget->release(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}

std::optional<MemoryBudget::Hold> MemoryBudget::acquire(uint64_t bytes,
                                                        const std::function<bool()>& stop)
{
    // A request larger than the whole is counted as the whole: it fits only when nothing else is
    // held, and while it is held nothing else does.
    const uint64_t counted = std::min(bytes, m_total);
    // Nothing to hold (nothing will be decoded): no need to queue behind those who wait.
    if (counted == 0)
        return Hold();
    std::unique_lock lock(m_mutex);
    const uint64_t ticket = m_nextTicket++;
    const auto mine = m_waiting.insert(m_waiting.end(), ticket);
    const auto mayGo = [&] {
        return m_waiting.front() == ticket && (m_held == 0 || counted <= m_total - m_held);
    };
    bool stopped = false;
    while (!mayGo() && !(stopped = stop()))
        m_changed.wait(lock);
    m_waiting.erase(mine);
    // The next in line may fit beside this one, or may now be first.
    m_changed.notify_all();
    if (stopped)
        return std::nullopt;
    m_held += counted;
    m_peak = std::max(m_peak, m_held);
    return Hold(this, counted);
}

void MemoryBudget::release(uint64_t bytes)
{
    {
        const std::lock_guard lock(m_mutex);
        m_held -= bytes;
    }
    m_changed.notify_all();
}

void MemoryBudget::wakeAll()
{
    // Taken and left so that a waiter between asking stop and waiting does not miss the call.
    {
        const std::lock_guard lock(m_mutex);
    }
    m_changed.notify_all();
}

uint64_t MemoryBudget::peakHeld() const
{
    const std::lock_guard lock(m_mutex);
    return m_peak;
}

size_t MemoryBudget::waiting() const
{
    const std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

namespace {

constexpr uint64_t kPixelBytes = 4;       // a decoded pixel, at most
constexpr uint64_t kNoteBytes = 1;        // its note
constexpr uint64_t kWordBytes = 4;        // a DPX or Cineon pixel word, kept beside the pixel
constexpr uint64_t kCoefficientBytes = 6; // three 16-bit coefficients of a progressive JPEG

// What a decoder holds beside the picture it hands over, a pixel: libwebp's lossless decoder
// keeps the whole picture as ARGB words, and an animation two canvases; libavif keeps up to four
// planes of 16-bit samples, and a turned picture is copied once more; libheif keeps as many
// planes and the interleaved picture it converts them to; libjxl keeps every channel as 32-bit
// floating point samples.
uint64_t decoderWorkBytes(const ImageFormat* format)
{
    if (format == &kWebpFormat)
        return 8;
    if (format == &kAvifFormat || format == &kHeifFormat)
        return 12;
    if (format == &kJxlFormat)
        return 16;
    return 0;
}

// The pixels a JPEG decoder makes for a thumbnail: the smallest of its cheap scales whose longer
// side still reaches the thumbnail's, as the JPEG reader chooses.
uint64_t scaledJpegPixels(uint64_t width, uint64_t height, uint64_t side)
{
    for (uint64_t denominator : {8u, 4u, 2u}) {
        const uint64_t scaledWidth = (width + denominator - 1) / denominator;
        const uint64_t scaledHeight = (height + denominator - 1) / denominator;
        if (std::max(scaledWidth, scaledHeight) >= side)
            return scaledWidth * scaledHeight;
    }
    return width * height;
}

} // namespace

uint64_t decodedBytes(const std::string& path, std::optional<int> thumbnailSide)
{
    const ImageFormat* format = formatOfPath(path);
    struct stat status {};
    // Nothing is decoded from a file of no picture kind, or one that cannot be opened as one.
    if (!format || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return 0;
    const auto size = probeImageSize(path);
    if (!size)
        return std::numeric_limits<uint64_t>::max();
    const uint64_t pixels = uint64_t{size.value().width} * size.value().height;
    const uint64_t coefficients = size.value().progressive ? pixels * kCoefficientBytes : 0;
    if (format == &kJpegFormat && thumbnailSide)
        return scaledJpegPixels(size.value().width, size.value().height,
                                static_cast<uint64_t>(std::max(*thumbnailSide, 1))) *
                   kPixelBytes +
               coefficients;
    const bool film = format->notes == NoteForm::PixelWordBits;
    return pixels *
               (kPixelBytes + kNoteBytes + (film ? kWordBytes : 0) + decoderWorkBytes(format)) +
           coefficients;
}

} // namespace ombri::reader
