#pragma once

#include "core/dib.h"
#include "notes/carrier.h"
#include "reader/adjustments.h"

#include <cstddef>
#include <cstdint>

// What the adjustment steps share among their files: the depths that can be turned, and the
// turned block and note layer that the display copy of a turned picture is made of.
namespace ombri::reader::detail {

inline bool isGeometricDepth(uint16_t bitCount)
{
    return bitCount == 8 || bitCount == 24 || bitCount == 32;
}

// The block for the picture given a quarter turn: a 40-byte header with width and height
// exchanged (its colours-important field holding the bit count, as the reader's turned pictures
// always have), the colour table of an 8-bit picture and the turned pixel rows. An 8-bit picture
// keeps its table at its real size; the header then counts its entries (0 for a full table of
// 256), so the pixels lie right behind it. The block is reuse when that one holds it: memory
// written before costs less to fill than memory the system must first clear. Otherwise reuse is
// let go before a new block is had, so the two are never held together. Null when the block
// cannot be had.
Dib quarterTurnedBlock(const Dib& image, const DibLayout& layout, Rotation rotation, Dib* reuse);

// The note layer given a quarter turn with its picture, written into turned (whose memory is
// reused when it holds enough); false, with turned left unspecified, when memory is short.
bool turnNotesInto(const NoteLayer& notes, size_t width, size_t height, Rotation rotation,
                   NoteLayer& turned);

} // namespace ombri::reader::detail
