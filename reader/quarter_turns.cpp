#include "reader/adjustments.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "reader/adjustment_kernels.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombri::reader {

namespace {

using detail::isGeometricDepth;
using detail::quarterTurnedBlock;

// Geometric steps act on 8-, 24- and 32-bit pictures.
std::optional<PixelRows> geometricArea(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isGeometricDepth(layout->bitCount))
        return std::nullopt;
    return pixelRowsOf(image, *layout);
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

template <size_t kBytes> void mirrorRows(const PixelRows& area)
{
    for (size_t y = 0; y < area.height; ++y)
        mirrorRow<kBytes>(area.row(y), area.width);
}

// Row y and row height - 1 - y exchanged, each read backwards: the half turn in place.
template <size_t kBytes> void turnHalf(const PixelRows& area)
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

// A quarter turn of a plane of width x height pixels into one height pixels wide and width rows
// high, rows counted from the bottom in both. Clockwise, target row r column x is source row x
// column width - 1 - r; anticlockwise, source row height - 1 - x column r.
struct QuarterTurn {
    const uint8_t* source;
    size_t sourceStride;
    size_t width;
    size_t height;
    uint8_t* target;
    size_t targetStride;
    // A new block, whose pages the system provides at the first write to each.
    bool freshTarget = false;
};

template <bool kClockwise> inline size_t sourceColumnOf(const QuarterTurn& turn, size_t targetRow)
{
    return kClockwise ? turn.width - 1 - targetRow : targetRow;
}

template <bool kClockwise> inline size_t sourceRowOf(const QuarterTurn& turn, size_t targetColumn)
{
    return kClockwise ? targetColumn : turn.height - 1 - targetColumn;
}

// Target row r from column x0 up to x1, one pixel at a time.
template <size_t kBytes, bool kClockwise>
void turnRowSpan(const QuarterTurn& turn, size_t r, size_t x0, size_t x1)
{
    const size_t column = sourceColumnOf<kClockwise>(turn, r);
    const uint8_t* in = turn.source + column * kBytes;
    uint8_t* out = turn.target + r * turn.targetStride;
    size_t x = x0;
    // 3-byte pixels move four bytes at a time. The fourth is the first byte of the source's next
    // pixel, written over the target's next pixel before that one is moved. Not from the source's
    // last column (its fourth byte is padding or past the block) nor to the target's last pixel
    // (its fourth byte would be padding).
    if (kBytes == 3 && column + 1 < turn.width) {
        const size_t wideEnd = std::min(x1, turn.height - 1);
        for (; x < wideEnd; ++x) {
            uint32_t four;
            std::memcpy(&four, in + sourceRowOf<kClockwise>(turn, x) * turn.sourceStride, 4);
            std::memcpy(out + x * 3, &four, 4);
        }
    }
    for (; x < x1; ++x)
        std::memcpy(out + x * kBytes, in + sourceRowOf<kClockwise>(turn, x) * turn.sourceStride,
                    kBytes);
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

// Square blocks of 16-byte runs turned in registers: 16 x 16 one-byte pixels or 4 x 4 four-byte
// pixels. Each round interleaves row i with row i + side / 2, which moves the bits of an element's
// (row, column) address one place round; after as many rounds as the address has row bits, row and
// column have changed places.
template <size_t kBytes> struct BlockTurn;

template <> struct BlockTurn<1> {
    static constexpr size_t kSide = 16;
    static void transpose(__m128i (&rows)[kSide])
    {
#pragma GCC unroll 4
        for (int round = 0; round < 4; ++round) {
            __m128i mixed[kSide];
#pragma GCC unroll 8
            for (size_t i = 0; i < 8; ++i) {
                mixed[2 * i] = _mm_unpacklo_epi8(rows[i], rows[i + 8]);
                mixed[2 * i + 1] = _mm_unpackhi_epi8(rows[i], rows[i + 8]);
            }
#pragma GCC unroll 16
            for (size_t i = 0; i < kSide; ++i)
                rows[i] = mixed[i];
        }
    }
};

template <> struct BlockTurn<4> {
    static constexpr size_t kSide = 4;
    static void transpose(__m128i (&rows)[kSide])
    {
#pragma GCC unroll 2
        for (int round = 0; round < 2; ++round) {
            const __m128i mixed[kSide] = {
                _mm_unpacklo_epi32(rows[0], rows[2]), _mm_unpackhi_epi32(rows[0], rows[2]),
                _mm_unpacklo_epi32(rows[1], rows[3]), _mm_unpackhi_epi32(rows[1], rows[3])};
#pragma GCC unroll 4
            for (size_t i = 0; i < kSide; ++i)
                rows[i] = mixed[i];
        }
    }
};

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

// A quarter turn of one plane; freshTarget for a new block (see prepareBand).
void turnQuarterPlane(const uint8_t* source, size_t sourceStride, size_t width, size_t height,
                      size_t bytesPerPixel, uint8_t* target, size_t targetStride, Rotation rotation,
                      bool freshTarget = false)
{
    const QuarterTurn turn{source, sourceStride, width, height, target, targetStride, freshTarget};
    if (rotation == Rotation::Clockwise)
        turnPlane<true>(turn, bytesPerPixel);
    else
        turnPlane<false>(turn, bytesPerPixel);
}

// ---------------------------------------------------------------------------------------------
// Note layers

// The note layer's turns are kept beside the picture's because they fall back on
// turnQuarterPlane. With every caller in this file, the compiler builds the picture's turn loops
// compactly. When another file called it, the compiler put all the turns into one function, and
// the 3-byte loop spilled its registers to the stack.

#if defined(__SSE2__)

// Most of a note layer is blank: handwriting covers a few percent of a page. A layer's quarter
// turn therefore goes into a cleared layer and writes only the 16 x 16 blocks that hold notes,
// which a map of one byte for each whole block marks.
constexpr size_t kNoteBlock = 16;

size_t noteMapBytes(size_t width, size_t height)
{
    return (width / kNoteBlock) * (height / kNoteBlock);
}

// Whether any of the 16 bytes at run is not zero.
inline bool holdsNotes(const uint8_t* run)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) != 0xFFFF;
}

// Marks in marks the whole blocks of one band of 16 rows of the layer that hold anything but zero.
void markBand(const uint8_t* band, size_t width, uint8_t* marks)
{
    const size_t across = width / kNoteBlock;
    std::fill_n(marks, across, uint8_t{0});
    for (size_t y = 0; y < kNoteBlock; ++y) {
        const uint8_t* row = band + y * width;
        for (size_t block = 0; block < across; ++block)
            marks[block] |= static_cast<uint8_t>(holdsNotes(row + block * kNoteBlock));
    }
}

// Marks in map the whole blocks of the layer (width x height bytes) that hold anything but zero.
void markNoteBlocks(const uint8_t* layer, size_t width, size_t height, uint8_t* map)
{
    const size_t across = width / kNoteBlock;
    for (size_t band = 0; band < height / kNoteBlock; ++band)
        markBand(layer + band * kNoteBlock * width, width, map + band * across);
}

// Moves count bytes of the layer, from offset at, to the same offset in to, leaving zeros behind.
inline void liftBytes(uint8_t* layer, uint8_t* to, size_t at, size_t count)
{
    std::memcpy(to + at, layer + at, count);
    std::memset(layer + at, 0, count);
}

// Marks the blocks that hold notes, as markNoteBlocks does, and moves what the turn will read
// to the same places in lifted: the marked blocks and the rows and columns beyond the whole
// blocks. The layer is left all zero, and the blank blocks are only read, never copied or
// cleared; each band is moved while its rows are still in the cache.
void liftNoteBlocks(uint8_t* layer, size_t width, size_t height, uint8_t* map, uint8_t* lifted)
{
    const size_t across = width / kNoteBlock;
    const size_t down = height / kNoteBlock;
    const size_t whole = across * kNoteBlock;
    for (size_t band = 0; band < down; ++band) {
        const size_t y0 = band * kNoteBlock;
        uint8_t* marks = map + band * across;
        markBand(layer + y0 * width, width, marks);
        for (size_t block = 0; block < across; ++block)
            if (marks[block])
                for (size_t y = y0; y < y0 + kNoteBlock; ++y)
                    liftBytes(layer, lifted, y * width + block * kNoteBlock, kNoteBlock);
        if (whole < width)
            for (size_t y = y0; y < y0 + kNoteBlock; ++y)
                liftBytes(layer, lifted, y * width + whole, width - whole);
    }
    if (down * kNoteBlock < height)
        liftBytes(layer, lifted, down * kNoteBlock * width, (height - down * kNoteBlock) * width);
}

// The quarter turn of a layer into a target that is all zero: the marked blocks turned in
// registers, the blank ones left, and the rows and columns beyond the whole blocks byte by byte.
template <bool kClockwise> void turnMarkedNotes(const QuarterTurn& turn, const uint8_t* map)
{
    const size_t across = turn.width / kNoteBlock;
    const size_t down = turn.height / kNoteBlock;
    for (size_t blockRow = 0; blockRow < down; ++blockRow) {
        const size_t y0 = blockRow * kNoteBlock;
        for (size_t block = 0; block < across; ++block) {
            if (!map[blockRow * across + block])
                continue;
            const size_t c0 = block * kNoteBlock;
            // Clockwise, source (y, c) lands on target row width-1-c, column y; anticlockwise on
            // row c, column height-1-y, so there the source rows are taken last first.
            __m128i rows[kNoteBlock];
#pragma GCC unroll 16
            for (size_t i = 0; i < kNoteBlock; ++i)
                rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                    turn.source +
                    (kClockwise ? y0 + i : y0 + kNoteBlock - 1 - i) * turn.sourceStride + c0));
            BlockTurn<1>::transpose(rows);
            const size_t firstColumn = kClockwise ? y0 : turn.height - kNoteBlock - y0;
#pragma GCC unroll 16
            for (size_t j = 0; j < kNoteBlock; ++j) {
                const size_t r = kClockwise ? turn.width - 1 - c0 - j : c0 + j;
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(turn.target + r * turn.targetStride + firstColumn),
                    rows[j]);
            }
        }
    }
    // Source rows from down x 16 on are target columns from there on clockwise, up to
    // height - down x 16 anticlockwise; source columns from across x 16 on are whole target rows.
    const size_t blockRows = down * kNoteBlock;
    const size_t edgeFrom = kClockwise ? blockRows : 0;
    const size_t edgeTo = kClockwise ? turn.height : turn.height - blockRows;
    for (size_t r = 0; r < turn.width; ++r) {
        if (sourceColumnOf<kClockwise>(turn, r) >= across * kNoteBlock)
            turnRowSpan<1, kClockwise>(turn, r, 0, turn.height);
        else
            turnRowSpan<1, kClockwise>(turn, r, edgeFrom, edgeTo);
    }
}

void turnMarkedNotes(const uint8_t* source, size_t width, size_t height, const uint8_t* map,
                     uint8_t* target, Rotation rotation)
{
    const QuarterTurn turn{source, width, width, height, target, height};
    if (rotation == Rotation::Clockwise)
        turnMarkedNotes<true>(turn, map);
    else
        turnMarkedNotes<false>(turn, map);
}

#endif

// The note layer given a quarter turn in place, with the old block's pixel bytes (scratchBytes
// of them, at least the layer's size) to work in.
void turnNotesInPlace(NoteLayer& layer, size_t width, size_t height, uint8_t* scratch,
                      size_t scratchBytes, Rotation rotation)
{
#if defined(__SSE2__)
    // The notes are lifted out, leaving the layer clear, with the map behind them, and the
    // blocks with notes turned back in. (An 8-bit picture's rows may leave no room for the map.)
    if (scratchBytes >= layer.size() + noteMapBytes(width, height)) {
        uint8_t* map = scratch + layer.size();
        liftNoteBlocks(layer.data(), width, height, map, scratch);
        turnMarkedNotes(scratch, width, height, map, layer.data(), rotation);
        return;
    }
#else
    (void)scratchBytes;
#endif
    // Turned into the scratch and copied back.
    turnQuarterPlane(layer.data(), width, width, height, 1, scratch, height, rotation);
    std::memcpy(layer.data(), scratch, layer.size());
}

} // namespace

namespace detail {

bool turnNotesInto(const NoteLayer& notes, size_t width, size_t height, Rotation rotation,
                   NoteLayer& turned)
{
    try {
        // The layer starts out zero: only the blocks with notes need writing.
        turned.assign(notes.size(), 0);
#if defined(__SSE2__)
        std::vector<uint8_t> map(noteMapBytes(width, height));
        markNoteBlocks(notes.data(), width, height, map.data());
        turnMarkedNotes(notes.data(), width, height, map.data(), turned.data(), rotation);
#else
        turnQuarterPlane(notes.data(), width, width, height, 1, turned.data(), height, rotation);
#endif
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
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
    const PixelRows area = pixelRowsOf(image, *layout);
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
