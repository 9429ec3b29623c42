#include "reader/adjustments.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "reader/adjustment_kernels.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombri::reader {

namespace {

using detail::areaOf;
using detail::isGeometricDepth;
using detail::PixelArea;
using detail::QuarterTurn;
using detail::quarterTurnedBlock;
using detail::sourceRowOf;
using detail::turnNotesInPlace;
using detail::turnRowSpan;
#if defined(__SSE2__)
using detail::BlockTurn;
#endif

// Geometric steps act on 8-, 24- and 32-bit pictures.
std::optional<PixelArea> geometricArea(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isGeometricDepth(layout->bitCount))
        return std::nullopt;
    return areaOf(image, *layout);
}

// The note copy moves with the pixels only when it is the picture's size; anything else is not a
// layer of this picture and is left alone rather than read past its end.
NoteLayer* matchingNotes(NoteLayer* notes, size_t width, size_t height)
{
    return notes && notes->size() == width * height ? notes : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Geometric steps

template <size_t kBytes> inline void swapPixels(uint8_t* a, uint8_t* b)
{
    uint8_t held[kBytes];
    std::memcpy(held, a, kBytes);
    std::memcpy(a, b, kBytes);
    std::memcpy(b, held, kBytes);
}

template <size_t kBytes> void mirrorRow(uint8_t* row, size_t width)
{
    if (width < 2)
        return;
    for (size_t left = 0, right = width - 1; left < right; ++left, --right)
        swapPixels<kBytes>(row + left * kBytes, row + right * kBytes);
}

template <size_t kBytes> void mirrorRows(const PixelArea& area)
{
    for (size_t y = 0; y < area.height; ++y)
        mirrorRow<kBytes>(area.row(y), area.width);
}

// Row y and row height - 1 - y exchanged, each read backwards: the half turn in place.
template <size_t kBytes> void turnHalf(const PixelArea& area)
{
    for (size_t low = 0, high = area.height - 1; low <= high; ++low, --high) {
        uint8_t* a = area.row(low);
        uint8_t* b = area.row(high);
        if (low == high) {
            mirrorRow<kBytes>(a, area.width);
            break;
        }
        for (size_t x = 0; x < area.width; ++x)
            swapPixels<kBytes>(a + x * kBytes, b + (area.width - 1 - x) * kBytes);
    }
}

// The turns go in bands of target rows, that is of neighbouring source columns, and through a band
// a few source rows at a time: those rows are read in long runs that the processor fetches ahead,
// and the partly written lines of the band's target rows wait in the cache until the next steps
// complete them. On a photograph, twice as many source rows at a time made the turn twice as slow,
// and so did bands an eighth as wide, whose shorter runs are fetched ahead less well.
constexpr size_t kTurnBandRows = 1024;

// The 3-byte turn takes pixels apart with shifts of 8-byte words read from memory.
constexpr bool kLittleEndian =
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    true;
#else
    false;
#endif

// The pages of a new block are had from the system at the first write to each. In a band's
// scattered order, small pages made the turn of a photograph a sixth slower than the same pages
// touched in order first. Touched all at once at the start, though, the cleared memory has left
// the cache before the turn fills it (a sixteenth slower with large pages): so each band's pages
// are touched just before the band. The block is zero-filled already; the zeros written here
// change nothing.
void prepareBand(const QuarterTurn& turn, size_t r0, size_t r1)
{
    if (!turn.freshTarget)
        return;
    constexpr size_t kPage = 4096;
    uint8_t* first = turn.target + r0 * turn.targetStride;
    const size_t bytes = (r1 - r0) * turn.targetStride;
    for (size_t offset = 0; offset < bytes; offset += kPage)
        first[offset] = 0;
}

// Pixel by pixel through the bands, eight source rows a step: what the faster forms below fall
// back on without vector registers or on a big-endian processor.
template <size_t kBytes, bool kClockwise> void turnPixels(const QuarterTurn& turn)
{
    for (size_t r0 = 0; r0 < turn.width; r0 += kTurnBandRows) {
        const size_t r1 = std::min(turn.width, r0 + kTurnBandRows);
        prepareBand(turn, r0, r1);
        for (size_t x0 = 0; x0 < turn.height; x0 += 8)
            for (size_t r = r0; r < r1; ++r)
                turnRowSpan<kBytes, kClockwise>(turn, r, x0, std::min(turn.height, x0 + 8));
    }
}

// 3-byte pixels, four target rows (four neighbouring source columns) at a time and eight source
// rows a step. Each source row gives its four pixels in two 8-byte reads; two source rows give
// each target row two neighbouring pixels, which go out in one 8-byte write whose last two bytes
// the next pair overwrites (half as many writes as pixels: the writes, scattered over many rows,
// are what a turn waits for). The reads end two bytes into the pixel after the four, so the
// source's last column is left to turnRowSpan, as are the last target column and the rows and
// columns the steps do not fill.
template <bool kClockwise> void turnPixels3(const QuarterTurn& turn)
{
    constexpr size_t kSourceRows = 8;
    const uint8_t* const source = turn.source;
    uint8_t* const target = turn.target;
    const size_t targetStride = turn.targetStride;
    const ptrdiff_t nextSourceRow = kClockwise ? static_cast<ptrdiff_t>(turn.sourceStride)
                                               : -static_cast<ptrdiff_t>(turn.sourceStride);
    // Clockwise target row 0 comes from the last column.
    const size_t firstRow = kClockwise ? 1 : 0;
    const size_t rowsEnd = firstRow + (turn.width - 1) / 4 * 4;
    const size_t columnsEnd = (turn.height - 1) / kSourceRows * kSourceRows;
    constexpr uint64_t kPixel = 0xFFFFFF;
    for (size_t r0 = firstRow; r0 < rowsEnd; r0 += kTurnBandRows) {
        const size_t r1 = std::min(rowsEnd, r0 + kTurnBandRows);
        prepareBand(turn, r0, r1);
        for (size_t x0 = 0; x0 < columnsEnd; x0 += kSourceRows)
            for (size_t r = r0; r < r1; r += 4) {
                // Clockwise, target rows r..r+3 come from columns width-4-r..width-1-r, last
                // first; anticlockwise from columns r..r+3.
                const size_t column = kClockwise ? turn.width - 4 - r : r;
                const uint8_t* in =
                    source + sourceRowOf<kClockwise>(turn, x0) * turn.sourceStride + column * 3;
                uint8_t* out = target + r * targetStride + x0 * 3;
                for (size_t i = 0; i < kSourceRows; i += 2, in += 2 * nextSourceRow, out += 6) {
                    uint64_t low0, high0, low1, high1;
                    std::memcpy(&low0, in, 8);
                    std::memcpy(&high0, in + 6, 8);
                    std::memcpy(&low1, in + nextSourceRow, 8);
                    std::memcpy(&high1, in + nextSourceRow + 6, 8);
                    // Pixel k of the four belongs to target row r+3-k clockwise, r+k
                    // anticlockwise; the second row's pixel follows the first's.
                    const uint64_t pair0 = (low0 & kPixel) | low1 << 24;
                    const uint64_t pair1 = (low0 >> 24 & kPixel) | (low1 >> 24) << 24;
                    const uint64_t pair2 = (high0 & kPixel) | high1 << 24;
                    const uint64_t pair3 = (high0 >> 24 & kPixel) | (high1 >> 24) << 24;
                    std::memcpy(out + (kClockwise ? 3 : 0) * targetStride, &pair0, 8);
                    std::memcpy(out + (kClockwise ? 2 : 1) * targetStride, &pair1, 8);
                    std::memcpy(out + (kClockwise ? 1 : 2) * targetStride, &pair2, 8);
                    std::memcpy(out + (kClockwise ? 0 : 3) * targetStride, &pair3, 8);
                }
            }
    }
    for (size_t r = 0; r < turn.width; ++r)
        turnRowSpan<3, kClockwise>(turn, r, r >= firstRow && r < rowsEnd ? columnsEnd : 0,
                                   turn.height);
}

#if defined(__SSE2__)

// 1- and 4-byte pixels block by block, through the bands; the rows and columns left at the edges
// one pixel at a time.
template <size_t kBytes, bool kClockwise> void turnBlocks(const QuarterTurn& turn)
{
    using Block = BlockTurn<kBytes>;
    constexpr size_t kSide = Block::kSide;
    const uint8_t* const source = turn.source;
    uint8_t* const target = turn.target;
    const size_t sourceStride = turn.sourceStride;
    const size_t targetStride = turn.targetStride;
    const size_t rowsEnd = turn.width / kSide * kSide;
    const size_t columnsEnd = turn.height / kSide * kSide;
    for (size_t r0 = 0; r0 < rowsEnd; r0 += kTurnBandRows) {
        const size_t r1 = std::min(rowsEnd, r0 + kTurnBandRows);
        prepareBand(turn, r0, r1);
        for (size_t x = 0; x < columnsEnd; x += kSide)
            for (size_t r = r0; r < r1; r += kSide) {
                // Clockwise the block's target rows r..r+side-1 come from the source columns
                // ending at column width-1-r, last first; anticlockwise from the columns from r.
                const size_t column = kClockwise ? turn.width - kSide - r : r;
                const uint8_t* in = source + column * kBytes;
                __m128i rows[kSide];
#pragma GCC unroll 16
                for (size_t i = 0; i < kSide; ++i)
                    rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                        in + sourceRowOf<kClockwise>(turn, x + i) * sourceStride));
                Block::transpose(rows);
                uint8_t* out = target + r * targetStride + x * kBytes;
#pragma GCC unroll 16
                for (size_t j = 0; j < kSide; ++j)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(
                                         out + (kClockwise ? kSide - 1 - j : j) * targetStride),
                                     rows[j]);
            }
    }
    for (size_t r = 0; r < turn.width; ++r)
        turnRowSpan<kBytes, kClockwise>(turn, r, r < rowsEnd ? columnsEnd : 0, turn.height);
}

#endif

template <bool kClockwise> void turnPlane(const QuarterTurn& turn, size_t bytesPerPixel)
{
    switch (bytesPerPixel) {
    case 1:
#if defined(__SSE2__)
        turnBlocks<1, kClockwise>(turn);
#else
        turnPixels<1, kClockwise>(turn);
#endif
        break;
    case 3:
        if constexpr (kLittleEndian)
            turnPixels3<kClockwise>(turn);
        else
            turnPixels<3, kClockwise>(turn);
        break;
    case 4:
#if defined(__SSE2__)
        turnBlocks<4, kClockwise>(turn);
#else
        turnPixels<4, kClockwise>(turn);
#endif
        break;
    }
}

} // namespace

namespace detail {

void turnQuarterPlane(const uint8_t* source, size_t sourceStride, size_t width, size_t height,
                      size_t bytesPerPixel, uint8_t* target, size_t targetStride, Rotation rotation,
                      bool freshTarget)
{
    const QuarterTurn turn{source, sourceStride, width, height, target, targetStride, freshTarget};
    if (rotation == Rotation::Clockwise)
        turnPlane<true>(turn, bytesPerPixel);
    else
        turnPlane<false>(turn, bytesPerPixel);
}

Dib quarterTurnedBlock(const Dib& image, const DibLayout& layout, Rotation rotation, Dib* reuse)
{
    const uint32_t newWidth = static_cast<uint32_t>(layout.height);
    const uint32_t newHeight = static_cast<uint32_t>(layout.width);
    auto stride = checkedRowStride(newWidth, layout.bitCount);
    auto pixelBytes = stride ? checkedImageBytes(*stride, newHeight) : std::nullopt;
    if (!pixelBytes)
        return Dib();
    const size_t colours = layout.bitCount == 8 ? layout.colourCount : 0;
    const size_t tableBytes = colours * 4;
    const size_t blockBytes = kInfoHeaderSize + tableBytes + *pixelBytes;
    Dib turned;
    if (reuse && reuse->refit(blockBytes))
        turned = std::move(*reuse);
    else if (reuse)
        reuse->reset();
    const bool fresh = turned.isNull();
    if (fresh)
        turned = Dib::allocate(blockBytes);
    if (turned.isNull())
        return turned;
    uint8_t* out = turned.data();
    const auto header =
        DibMakeHeader(static_cast<int32_t>(newWidth), static_cast<int32_t>(newHeight),
                      layout.bitCount, layout.bitCount);
    std::memcpy(out, header.data(), header.size());
    writeLe32(out + 32, colours == 256 ? 0 : static_cast<uint32_t>(colours));
    // A 12-byte header's table has three bytes an entry; the new header's has four, the fourth 0.
    const uint8_t* table = image.data() + layout.headerSize;
    if (layout.headerSize == kInfoHeaderSize)
        std::memcpy(out + kInfoHeaderSize, table, tableBytes);
    else
        for (size_t i = 0; i < colours; ++i) {
            std::memcpy(out + kInfoHeaderSize + i * 4, table + i * 3, 3);
            out[kInfoHeaderSize + i * 4 + 3] = 0;
        }
    uint8_t* pixels = out + kInfoHeaderSize + tableBytes;
    turnQuarterPlane(image.data() + layout.pixelOffset, layout.stride,
                     static_cast<size_t>(layout.width), static_cast<size_t>(layout.height),
                     layout.bitCount / 8u, pixels, *stride, rotation, fresh);
    // The turn leaves the padding at the end of each row alone: a used block's must be cleared.
    const size_t used = static_cast<size_t>(newWidth) * (layout.bitCount / 8u);
    if (!fresh && used < *stride)
        for (size_t row = 0; row < newHeight; ++row)
            std::memset(pixels + row * *stride + used, 0, *stride - used);
    return turned;
}

} // namespace detail

void FlipHorizontal(Dib& image, NoteLayer* notes)
{
    auto area = geometricArea(image);
    if (!area)
        return;
    switch (area->bytesPerPixel) {
    case 1:
        mirrorRows<1>(*area);
        break;
    case 3:
        mirrorRows<3>(*area);
        break;
    case 4:
        mirrorRows<4>(*area);
        break;
    }
    if (NoteLayer* layer = matchingNotes(notes, area->width, area->height))
        for (size_t y = 0; y < area->height; ++y)
            std::reverse(layer->begin() + static_cast<ptrdiff_t>(y * area->width),
                         layer->begin() + static_cast<ptrdiff_t>((y + 1) * area->width));
}

void FlipVertical(Dib& image, NoteLayer* notes)
{
    auto area = geometricArea(image);
    if (!area)
        return;
    for (size_t low = 0, high = area->height - 1; low < high; ++low, --high)
        std::swap_ranges(area->row(low), area->row(low) + area->rowBytes(), area->row(high));
    if (NoteLayer* layer = matchingNotes(notes, area->width, area->height))
        FlipRows(layer->data(), area->width, area->height);
}

bool RotateImage(Dib& image, NoteLayer* notes, Rotation rotation, Dib* spare)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isGeometricDepth(layout->bitCount))
        return false;
    const PixelArea area = areaOf(image, *layout);
    const size_t width = area.width;
    const size_t height = area.height;
    NoteLayer* layer = matchingNotes(notes, width, height);
    if (rotation == Rotation::HalfTurn) {
        switch (area.bytesPerPixel) {
        case 1:
            turnHalf<1>(area);
            break;
        case 3:
            turnHalf<3>(area);
            break;
        case 4:
            turnHalf<4>(area);
            break;
        }
        if (layer)
            std::reverse(layer->begin(), layer->end());
        return true;
    }
    // The only allocation comes first, so a shortage changes nothing.
    Dib turned = quarterTurnedBlock(image, *layout, rotation, spare);
    if (turned.isNull())
        return false;
    if (layer) {
        // Once its pixels are turned, the old block's rows (at least width x height bytes) are
        // free to work in: no second layer is needed.
        turnNotesInPlace(*layer, width, height, image.data() + layout->pixelOffset,
                         layout->pixelBytes, rotation);
    }
    Dib old = std::exchange(image, std::move(turned));
    if (spare)
        *spare = std::move(old);
    return true;
}

} // namespace ombri::reader
