#include "reader/adjustment_kernels.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombri::reader::detail {

namespace {

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

} // namespace

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

} // namespace ombri::reader::detail
