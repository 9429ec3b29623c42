#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace ombri {

// Where a raw deflate stream's last block starts and where the stream ends, in bits from the
// first byte's lowest bit.
struct DeflateEnd {
    uint64_t finalBlockBit = 0; // the block's first header bit, the one that marks it final
    uint64_t endBit = 0;        // just past the final block's end-of-block code
};

// Walks the blocks of a raw deflate stream (decoding every code, writing nothing) to its final
// block. Nothing when the bytes are not a complete, valid stream.
std::optional<DeflateEnd> findDeflateEnd(const uint8_t* stream, size_t size);

// Rows of a filtered PNG picture that are nothing but zeros after their filter byte (rows the same
// as the one above under Up, or rows of zeros under None): `rows` rows of `rowBytes` bytes, each
// `filter` and then zeros. Written as one final block of deflate's own codes, which looks back
// only within its own bytes, so that it can stand between parts that were compressed apart.
// Writing it costs nothing beside the compressors, which spend as long on a row of zeros as on any
// other. `out` has room for blankRowsBound() bytes; answers where the block starts and ends.
size_t blankRowsBound(size_t rows, size_t rowBytes);
DeflateEnd writeBlankRows(uint8_t filter, size_t rows, size_t rowBytes, uint8_t* out);

} // namespace ombri
