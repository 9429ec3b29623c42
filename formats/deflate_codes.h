#pragma once

// What deflate's writers share: the tables of lengths and distances, canonical Huffman codes, and
// a writer of bits in deflate's order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ombri::deflate {

constexpr int kMaxCodeBits = 15;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtraBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtraBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a block's header sends the code-length code's lengths.
constexpr uint8_t kLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

// A Huffman code as it lies in the stream: codes are sent highest bit first into a stream read
// and written lowest bit first.
inline uint32_t reversedCode(uint32_t code, unsigned length)
{
    uint32_t reversed = 0;
    for (unsigned i = 0; i < length; ++i)
        reversed |= ((code >> i) & 1u) << (length - 1 - i);
    return reversed;
}

// The canonical codes of a code given by its lengths, as they lie in the stream (reversed).
inline void canonicalCodes(const uint8_t* lengths, size_t symbols, uint32_t* codes)
{
    std::array<uint32_t, kMaxCodeBits + 2> count{};
    for (size_t s = 0; s < symbols; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    std::array<uint32_t, kMaxCodeBits + 2> next{};
    for (int bits = 1; bits <= kMaxCodeBits; ++bits)
        next[bits] = (next[bits - 1] + count[bits - 1]) << 1;
    for (size_t s = 0; s < symbols; ++s)
        codes[s] = lengths[s] != 0 ? reversedCode(next[lengths[s]]++, lengths[s]) : 0;
}

template <size_t N> std::array<uint32_t, N> canonicalCodes(const std::array<uint8_t, N>& lengths)
{
    std::array<uint32_t, N> codes{};
    canonicalCodes(lengths.data(), N, codes.data());
    return codes;
}

// Lengths of a Huffman code for the counts of up to kMostSymbols symbols, none longer than
// `limit`: each used symbol gets a length and the code is complete, as inflaters require; a code
// of one symbol gets a second. The limit must leave room for every symbol (2^limit >= symbols),
// as deflate's do: 15 bits for 286 or 30 symbols, 7 for 19.
constexpr int kMostSymbols = 288;
void codeLengths(const uint32_t* counts, int symbols, int limit, uint8_t* lengths);

// Bits put lowest first, as deflate packs them, into room the caller has made large enough. Only
// whole bytes of what was put are ever written: no byte past the stream's end is touched.
class BitWriter {
  public:
    explicit BitWriter(uint8_t* out) : m_out(out) {}

    void put(uint32_t value, unsigned count) // count <= 32, value < 2^count
    {
        m_pending |= uint64_t{value} << m_count;
        m_count += count;
        if (m_count >= 32) {
            for (int i = 0; i < 4; ++i)
                m_out[m_bytes + i] = static_cast<uint8_t>(m_pending >> (8 * i));
            m_bytes += 4;
            m_pending >>= 32;
            m_count -= 32;
        }
    }
    uint64_t position() const { return uint64_t{m_bytes} * 8 + m_count; }
    // Writes the bits put so far, the last byte filled with zeros.
    void flush()
    {
        for (; m_count > 0; m_count = m_count > 8 ? m_count - 8 : 0) {
            m_out[m_bytes++] = static_cast<uint8_t>(m_pending);
            m_pending >>= 8;
        }
        m_pending = 0;
    }
    // Bytes after a flush, as they are.
    void putBytes(const uint8_t* bytes, size_t count)
    {
        std::memcpy(m_out + m_bytes, bytes, count);
        m_bytes += count;
    }
    size_t bytes() const { return m_bytes; }

  private:
    uint8_t* m_out;
    size_t m_bytes = 0;
    uint64_t m_pending = 0;
    unsigned m_count = 0;
};

} // namespace ombri::deflate
