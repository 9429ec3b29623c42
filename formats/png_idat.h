#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

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
};

// How each row's filter is chosen.
enum class PngFilterChoice {
    // The filter whose bytes, read as signed, have the smallest sum of magnitudes (what libpng
    // does by default).
    SmallestSum,
    // Of the two filters with the smallest sums, the one whose bytes have the lower entropy:
    // the sum misjudges rows that repeat a few values, the entropy sees them.
    EntropyOfBestTwo,
};

// The zlib stream of a PNG's IDAT chunks, before it is cut into chunks.
struct PngImageData {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

// The default compression level of libdeflate for a PNG save (see png_idat.cpp).
constexpr int kPngDeflateLevel = 4;

// Filters every row (one filter byte, then the filtered samples in RGB(A) order) and compresses
// all of them into one zlib stream. An empty answer (no bytes) when memory runs out.
PngImageData compressPngRows(const PngRows& rows, int level = kPngDeflateLevel,
                             PngFilterChoice choice = PngFilterChoice::EntropyOfBestTwo);

} // namespace ombri
