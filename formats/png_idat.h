#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ombri {

// The pixel rows a PNG's image data is made of: 8 bits per channel, 3 (RGB) or 4 (RGBA)
// channels, stored blue first as a DIB keeps them, the file's first row at `firstRow` and each
// next one `step` bytes on (negative for a DIB, whose last row in memory is the file's first).
struct PngRows {
    const uint8_t* firstRow = nullptr;
    std::ptrdiff_t step = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 3;
    // When set, the rows are made by it instead of read at firstRow: file row `row` (0 is the
    // file's first), blue first, into `out`. It is called as each part is filtered, from the
    // threads that compress the parts, and a row may be asked for more than once.
    std::function<void(uint32_t row, uint8_t* out)> makeRow;
};

// Compressed parts are mapped by themselves, room for the worst case, of which only what is
// written becomes memory.
struct PngUnmap {
    size_t mappedSize = 0;
    void operator()(uint8_t* bytes) const;
};

// The zlib stream of a PNG's IDAT chunks, before it is cut into chunks: pieces that follow each
// other (the compressed parts and the few bytes that join them), never copied into one buffer.
struct PngImageData {
    struct Span {
        const uint8_t* bytes;
        size_t size;
    };
    std::vector<Span> spans;
    size_t size = 0; // of all spans; 0 when the stream could not be made
    std::vector<std::unique_ptr<uint8_t, PngUnmap>> buffers;
    std::vector<std::vector<uint8_t>> joins;

    void append(const uint8_t* bytes, size_t count);
    void appendJoin(std::vector<uint8_t> bytes);
};

// Filters every row (one filter byte, then the filtered samples in RGB(A) order) and compresses
// all of them into one zlib stream, by the compressor that does best on a sample of them. An
// empty answer (no bytes) when memory runs out.
PngImageData compressPngRows(const PngRows& rows);

// Takes a zlib stream piece by piece, in order; false when it can take no more.
using PngStreamSink = std::function<bool(const uint8_t* bytes, size_t count)>;

// The stream compressPngRows makes, handed to `sink` as its parts are done, each let go of once
// handed on: a save holds only the parts being compressed, never the whole stream. False when
// memory ran out or the sink took no more.
bool compressPngRowsTo(const PngRows& rows, const PngStreamSink& sink);

// Whether a save may choose the encoder made for rows (RowDeflater). Tests turn it off to hold
// saves to libdeflate, as on the pictures where that encoder is not small enough.
void allowRowDeflate(bool allowed);

// Compresses the bytes into one zlib stream made of `parts` raw deflate streams compressed at the
// same time, each on its own thread, and joined. An empty answer when memory runs out.
PngImageData zlibCompressInParts(const uint8_t* bytes, size_t size, int level, unsigned parts);

// The same made by zlib with its filtered strategy, as libpng compresses: each part is given the
// 32 KiB before it as a dictionary and ends in a sync flush, so the stream is nearly the one a
// single zlib stream would be. An empty answer when memory runs out or zlib fails.
PngImageData zlibDeflateInParts(const uint8_t* bytes, size_t size, int level, unsigned parts);

} // namespace ombri
