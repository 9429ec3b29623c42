#pragma once

// A deflate encoder made for the filtered rows of a picture.
//
// A general compressor looks for a match among every earlier place the next few bytes were seen,
// and in a screenshot those few bytes (a run of one colour, the edge of a button) were seen
// thousands of times: it walks long lists to find the long match that was, most of the time,
// the row above, the pixel before, or the place the last match came from. This encoder looks
// there first, then in a short list of places the next eight bytes were seen, then in a shorter
// one of the next four. On screenshots and other drawn pictures it makes files within a per cent
// or two of libdeflate's level 7 in less than half its time.

#include "formats/deflate_blocks.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ombri {

// How the bytes lie as a picture, for the places a match is looked for first.
struct RowShape {
    size_t rowBytes = 0;     // a row with its filter byte; 0 when the bytes are not rows
    unsigned pixelBytes = 0; // a pixel's bytes; 0 when unknown
};

struct RowDeflateTables;

// Holds its tables from one stream to the next: a thread keeps one for all its parts.
class RowDeflater {
  public:
    // Positions are kept in 32 bits: inputs longer than `segmentBytes` (a gigabyte, or less for
    // tests) go in segments, each starting the tables anew from the window before it.
    explicit RowDeflater(size_t segmentBytes = size_t{1} << 30);
    ~RowDeflater();
    RowDeflater(const RowDeflater&) = delete;
    RowDeflater& operator=(const RowDeflater&) = delete;

    // The most `compress` writes for `size` bytes.
    static size_t bound(size_t size);

    // Compresses `size` bytes, which follow `dictionary` bytes at `bytes`, into raw deflate
    // blocks in `out`, matches reaching back into the dictionary as far as deflate's window.
    // The last block is final. Answers where that block starts and where the stream ends.
    // Throws std::bad_alloc when its tables cannot be had.
    DeflateEnd compress(const uint8_t* bytes, size_t dictionary, size_t size, RowShape shape,
                        uint8_t* out);

  private:
    std::unique_ptr<RowDeflateTables> m_tables;
    size_t m_segmentBytes;
};

} // namespace ombri
