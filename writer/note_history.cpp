#include "writer/note_history.h"

#include <algorithm>

namespace ombri::writer {
namespace {

void putNumber(std::vector<uint8_t>& out, size_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

size_t takeNumber(const std::vector<uint8_t>& in, size_t& at)
{
    size_t value = 0;
    for (int shift = 0; at < in.size(); shift += 7) {
        const uint8_t byte = in[at++];
        value |= static_cast<size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            break;
    }
    return value;
}

bool carrierLayout(const Dib& image, DibLayout& layout)
{
    auto found = dibGetLayout(image);
    if (!found || (found->bitCount != 24 && found->bitCount != 32) || found->width <= 0 ||
        found->height <= 0)
        return false;
    layout = *found;
    return true;
}

// Where the signature may lie: the first bytes of the four corner pixels.
std::vector<size_t> cornerOffsets(const DibLayout& layout)
{
    const size_t pixelBytes = layout.bitCount / 8;
    const size_t lastRow = layout.stride * static_cast<size_t>(layout.height - 1);
    const size_t lastPixel = pixelBytes * static_cast<size_t>(layout.width - 1);
    std::vector<size_t> offsets;
    for (size_t corner : {size_t{0}, lastPixel, lastRow, lastRow + lastPixel}) {
        for (size_t byte = 0; byte < pixelBytes; ++byte) {
            if (std::find(offsets.begin(), offsets.end(), corner + byte) == offsets.end())
                offsets.push_back(corner + byte);
        }
    }
    return offsets;
}

} // namespace

void PixelSet::add(size_t index)
{
    addRun(index, 1);
}

void PixelSet::addRun(size_t first, size_t length)
{
    if (length == 0 || first >= m_pixelCount)
        return;
    length = std::min(length, m_pixelCount - first);
    if (m_bitmap) {
        setBits(first, length);
        return;
    }
    const size_t openEnd = m_openFirst + m_openLength;
    if (m_openLength != 0 && first < openEnd) {
        // Only increasing indices are taken; a run overlapping the open one adds its tail.
        if (first + length <= openEnd)
            return;
        length = first + length - openEnd;
        first = openEnd;
    }
    if (m_openLength != 0 && first == openEnd) {
        m_count += length;
        m_openLength += length;
        return;
    }
    if (m_openLength != 0)
        appendRun(m_openFirst, m_openLength);
    if (m_bitmap) {
        // Writing the open run made the runs a bitmap: this run goes into it too.
        setBits(first, length);
        return;
    }
    m_count += length;
    m_openFirst = first;
    m_openLength = length;
}

void PixelSet::appendRun(size_t first, size_t length)
{
    putNumber(m_runs, first - m_lastEnd);
    putNumber(m_runs, length);
    m_lastEnd = first + length;
    // Scattered pixels cost up to a few bytes each as runs, and one bit each in a bitmap.
    if (m_runs.size() > m_pixelCount / 8 + 16)
        switchToBitmap();
}

void PixelSet::switchToBitmap()
{
    std::vector<uint8_t> runs = std::move(m_runs);
    m_runs = {};
    m_bits.assign((m_pixelCount + 63) / 64, 0);
    size_t at = 0;
    size_t end = 0;
    while (at < runs.size()) {
        const size_t first = end + takeNumber(runs, at);
        const size_t length = takeNumber(runs, at);
        setBits(first, length);
        end = first + length;
    }
    if (m_openLength != 0)
        setBits(m_openFirst, m_openLength);
    m_openLength = 0;
    // From here on setBits counts the indices it adds; those above were counted as runs.
    m_bitmap = true;
}

void PixelSet::setBits(size_t first, size_t length)
{
    for (size_t i = first; i < first + length; ++i) {
        uint64_t& word = m_bits[i / 64];
        const uint64_t bit = uint64_t{1} << (i % 64);
        if (m_bitmap && (word & bit) == 0)
            ++m_count;
        word |= bit;
    }
}

void PixelSet::shrink()
{
    if (!m_bitmap && m_openLength != 0) {
        const size_t first = m_openFirst;
        const size_t length = m_openLength;
        m_openLength = 0;
        appendRun(first, length);
    }
    m_runs.shrink_to_fit();
    m_bits.shrink_to_fit();
}

void PixelSet::forEachRun(const std::function<void(size_t, size_t)>& visit) const
{
    if (m_bitmap) {
        size_t runFirst = 0;
        size_t runLength = 0;
        forEach([&](size_t i) {
            if (runLength != 0 && i == runFirst + runLength) {
                ++runLength;
                return;
            }
            if (runLength != 0)
                visit(runFirst, runLength);
            runFirst = i;
            runLength = 1;
        });
        if (runLength != 0)
            visit(runFirst, runLength);
        return;
    }
    size_t at = 0;
    size_t end = 0;
    while (at < m_runs.size()) {
        const size_t first = end + takeNumber(m_runs, at);
        const size_t length = takeNumber(m_runs, at);
        visit(first, length);
        end = first + length;
    }
    if (m_openLength != 0)
        visit(m_openFirst, m_openLength);
}

void NoteHistory::clear()
{
    m_steps.clear();
    m_done = 0;
    m_bytes = 0;
}

void NoteHistory::setByteBudget(size_t bytes)
{
    m_budget = bytes;
    trim();
}

void NoteHistory::dropStepsAhead()
{
    while (m_steps.size() > m_done) {
        m_bytes -= m_steps.back().bytes();
        m_steps.pop_back();
    }
}

void NoteHistory::push(NoteStep step)
{
    dropStepsAhead();
    step.notes.shrink();
    step.carrier.shrink();
    m_bytes += step.bytes();
    m_steps.push_back(std::move(step));
    ++m_done;
    trim();
}

void NoteHistory::trim()
{
    while (!m_steps.empty() && (m_steps.size() > kMaxSteps || m_bytes > m_budget)) {
        m_bytes -= m_steps.front().bytes();
        m_steps.pop_front();
        if (m_done > 0)
            --m_done;
    }
}

void applyStep(const NoteStep& step, StepDirection direction, Dib& image, uint8_t* notes,
               std::vector<uint32_t>* words)
{
    auto layout = dibGetLayout(image);
    if (!layout || layout->width != step.width || layout->height != step.height)
        return;
    if (notes)
        step.notes.forEachRun([&](size_t first, size_t length) {
            for (uint8_t *note = notes + first, *end = note + length; note != end; ++note)
                *note = *note == 1 ? 0 : 1;
        });
    if (words)
        step.words.forEach([&](size_t i) {
            if (i < words->size())
                (*words)[i] ^= 1;
        });
    if (layout->bitCount != step.bitCount || (step.bitCount != 24 && step.bitCount != 32))
        return;
    uint8_t* pixels = image.data() + layout->pixelOffset;
    const size_t width = static_cast<size_t>(layout->width);
    const size_t pixelBytes = layout->bitCount / 8;
    const size_t carrier = pixelBytes == 3 ? 0 : 3;
    step.carrier.forEach([&](size_t i) {
        const size_t row = i / width;
        pixels[row * layout->stride + (i - row * width) * pixelBytes + carrier] ^= 1;
    });
    for (const NoteStep::BytePatch& patch : step.patches)
        pixels[patch.offset] = direction == StepDirection::Undo ? patch.before : patch.after;
}

NoteStep recordClear(const Dib& image, const uint8_t* notes, size_t pixelCount,
                     const std::vector<uint32_t>* words)
{
    NoteStep step;
    step.label = "Clear All";
    step.notes = PixelSet(pixelCount);
    step.carrier = PixelSet(pixelCount);
    if (words) {
        step.words = PixelSet(words->size());
        for (size_t i = 0; i < words->size(); ++i) {
            if (((*words)[i] & 1) != 0)
                step.words.add(i);
        }
    }
    if (auto layout = dibGetLayout(image)) {
        step.width = layout->width;
        step.height = layout->height;
        step.bitCount = layout->bitCount;
    }
    if (notes) {
        for (size_t i = 0; i < pixelCount; ++i) {
            if (notes[i] == 1)
                step.notes.add(i);
        }
    }
    DibLayout layout;
    if (!carrierLayout(image, layout))
        return step;
    const uint8_t* pixels = image.data() + layout.pixelOffset;
    const size_t width = static_cast<size_t>(layout.width);
    const size_t pixelBytes = layout.bitCount / 8;
    const size_t carrier = pixelBytes == 3 ? 0 : 3;
    for (int32_t row = 0; row < layout.height; ++row) {
        const uint8_t* in = pixels + static_cast<size_t>(row) * layout.stride + carrier;
        const size_t base = static_cast<size_t>(row) * width;
        for (size_t x = 0; x < width; ++x) {
            if ((in[x * pixelBytes] & 1) == 0)
                step.carrier.add(base + x);
        }
    }
    for (size_t offset : cornerOffsets(layout))
        step.patches.push_back({offset, pixels[offset], pixels[offset]});
    return step;
}

void finishClearRecord(NoteStep& step, const Dib& image)
{
    DibLayout layout;
    if (!carrierLayout(image, layout)) {
        step.patches.clear();
        return;
    }
    const uint8_t* pixels = image.data() + layout.pixelOffset;
    for (NoteStep::BytePatch& patch : step.patches)
        patch.after = pixels[patch.offset];
    step.patches.erase(std::remove_if(step.patches.begin(), step.patches.end(),
                                      [](const NoteStep::BytePatch& patch) {
                                          return patch.before == patch.after;
                                      }),
                       step.patches.end());
}

} // namespace ombri::writer
