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

} // namespace ombri
