#pragma once

#include "core/dib.h"
#include "notes/carrier.h"
#include "reader/adjustments.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// What the adjustment steps share among their files: a picture's pixels as rows of bytes, the
// quarter turn of one plane, which the pixels and the note layer both take, and the turned block
// and note layer that the display copy is built from. The templates and small helpers are here,
// not behind a call, so that the turn loops of every file can inline them.
namespace ombri::reader::detail {

// ---------------------------------------------------------------------------------------------
// Pixel access

struct PixelArea {
    uint8_t* first = nullptr; // bottom row
    size_t stride = 0;
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerPixel = 0;

    uint8_t* row(size_t y) const { return first + y * stride; }
    // The bytes of a row that hold pixels; the padding behind them is never touched.
    size_t rowBytes() const { return width * bytesPerPixel; }
};

inline PixelArea areaOf(Dib& image, const DibLayout& layout)
{
    PixelArea area;
    area.first = image.data() + layout.pixelOffset;
    area.stride = layout.stride;
    area.width = static_cast<size_t>(layout.width);
    area.height = static_cast<size_t>(layout.height);
    area.bytesPerPixel = layout.bitCount / 8u;
    return area;
}

inline bool isGeometricDepth(uint16_t bitCount)
{
    return bitCount == 8 || bitCount == 24 || bitCount == 32;
}

// ---------------------------------------------------------------------------------------------
// Quarter turns

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

#endif

// A quarter turn of one plane; freshTarget for a new block (see prepareBand in quarter_turns.cpp).
void turnQuarterPlane(const uint8_t* source, size_t sourceStride, size_t width, size_t height,
                      size_t bytesPerPixel, uint8_t* target, size_t targetStride, Rotation rotation,
                      bool freshTarget = false);

// The block for the picture given a quarter turn: a 40-byte header with width and height
// exchanged (its colours-important field holding the bit count, as the reader's turned pictures
// always have), the colour table of an 8-bit picture and the turned pixel rows. An 8-bit picture
// keeps its table at its real size; the header then counts its entries (0 for a full table of
// 256), so the pixels lie right behind it. The block is reuse when that one holds it: memory
// written before costs less to fill than memory the system must first clear. Otherwise reuse is
// let go before a new block is had, so the two are never held together. Null when the block
// cannot be had.
Dib quarterTurnedBlock(const Dib& image, const DibLayout& layout, Rotation rotation, Dib* reuse);

// ---------------------------------------------------------------------------------------------
// Note layers

// The note layer given a quarter turn with its picture, written into turned (whose memory is
// reused when it holds enough); false, with turned left unspecified, when memory is short.
bool turnNotesInto(const NoteLayer& notes, size_t width, size_t height, Rotation rotation,
                   NoteLayer& turned);

// The note layer given a quarter turn in place, with the old block's pixel bytes (scratchBytes
// of them, at least the layer's size) to work in.
void turnNotesInPlace(NoteLayer& layer, size_t width, size_t height, uint8_t* scratch,
                      size_t scratchBytes, Rotation rotation);

} // namespace ombri::reader::detail
