#include "formats/deflate_blocks.h"

#include "formats/deflate_codes.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace ombri {

namespace {

using namespace deflate;

// Bits taken lowest first, as deflate packs them. Past the end the stream reads as zeros, and
// overrun() tells that it was read past.
class BitReader {
  public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // At least 57 bits from the current position.
    uint64_t peek() const
    {
        const size_t at = static_cast<size_t>(m_position >> 3);
        uint64_t word = 0;
        if (at < m_size && m_size - at >= 8) {
            std::memcpy(&word, m_data + at, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            word = __builtin_bswap64(word);
#endif
        } else {
            for (size_t i = 0; at + i < m_size && i < 8; ++i)
                word |= uint64_t{m_data[at + i]} << (8 * i);
        }
        return word >> (m_position & 7);
    }
    void skip(unsigned count)
    {
        m_position += count;
    }
    uint32_t take(unsigned count) // count <= 16
    {
        const auto value = static_cast<uint32_t>(peek() & ((1u << count) - 1));
        m_position += count;
        return value;
    }
    void alignToByte()
    {
        m_position = (m_position + 7) & ~uint64_t{7};
    }
    uint64_t position() const
    {
        return m_position;
    }
    bool overrun() const
    {
        return m_position > uint64_t{m_size} * 8;
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
    uint64_t m_position = 0;
};

constexpr int kTableBits = 10;
constexpr int kMaxSymbols = 288;

// A canonical Huffman code: codes of up to kTableBits bits are found in one table look-up, longer
// ones a bit at a time from the counts of each length.
class Huffman {
  public:
    // False for lengths that over-subscribe the code. Incomplete codes are taken, as inflaters
    // take them; a code that does not exist fails when it is met.
    bool build(const uint8_t* lengths, int symbols)
    {
        m_count.fill(0);
        m_table.fill(0);
        for (int s = 0; s < symbols; ++s)
            ++m_count[lengths[s]];
        m_count[0] = 0;
        int left = 1;
        for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
            left = (left << 1) - m_count[bits];
            if (left < 0)
                return false;
        }
        std::array<uint16_t, kMaxCodeBits + 2> offset{};
        for (int bits = 1; bits <= kMaxCodeBits; ++bits)
            offset[bits + 1] = static_cast<uint16_t>(offset[bits] + m_count[bits]);
        std::array<uint32_t, kMaxCodeBits + 1> nextCode{};
        uint32_t code = 0;
        for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
            code = (code + m_count[bits - 1]) << 1;
            nextCode[bits] = code;
        }
        for (int s = 0; s < symbols; ++s) {
            const int bits = lengths[s];
            if (bits == 0)
                continue;
            m_symbol[offset[bits]++] = static_cast<uint16_t>(s);
            const uint32_t canonical = nextCode[bits]++;
            if (bits > kTableBits)
                continue;
            for (uint32_t at = reversedCode(canonical, static_cast<unsigned>(bits));
                 at < (1u << kTableBits); at += 1u << bits)
                m_table[at] = static_cast<uint16_t>(s << 4 | bits);
        }
        return true;
    }

    // The next symbol, or -1 for a code the stream's code does not have.
    int decode(BitReader& bits) const
    {
        const uint16_t entry = m_table[bits.peek() & ((1u << kTableBits) - 1)];
        if (entry & 15) {
            bits.skip(entry & 15);
            return entry >> 4;
        }
        int code = 0;
        int first = 0;
        int index = 0;
        for (int length = 1; length <= kMaxCodeBits; ++length) {
            code |= static_cast<int>(bits.take(1));
            const int count = m_count[length];
            if (code - count < first)
                return m_symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

  private:
    std::array<uint16_t, 1u << kTableBits> m_table{};
    std::array<uint16_t, kMaxCodeBits + 1> m_count{};
    std::array<uint16_t, kMaxSymbols> m_symbol{};
};

// Skips the codes of one compressed block up to its end-of-block code.
bool skipCodes(BitReader& bits, const Huffman& literals, const Huffman& distances)
{
    for (;;) {
        if (bits.overrun())
            return false;
        const int symbol = literals.decode(bits);
        if (symbol < 0 || symbol > 285)
            return false;
        if (symbol < 256)
            continue;
        if (symbol == 256)
            return true;
        bits.skip(kLengthExtraBits[symbol - 257]);
        const int distance = distances.decode(bits);
        if (distance < 0 || distance >= 30)
            return false;
        bits.skip(kDistanceExtraBits[distance]);
    }
}

bool buildFixed(Huffman& literals, Huffman& distances)
{
    uint8_t lengths[kMaxSymbols];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    if (!literals.build(lengths, 288))
        return false;
    std::memset(lengths, 5, 30);
    return distances.build(lengths, 30);
}

bool buildDynamic(BitReader& bits, Huffman& literals, Huffman& distances)
{
    const int literalCount = static_cast<int>(bits.take(5)) + 257;
    const int distanceCount = static_cast<int>(bits.take(5)) + 1;
    const int lengthCodeCount = static_cast<int>(bits.take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    uint8_t lengths[kMaxSymbols + 32] = {};
    for (int i = 0; i < lengthCodeCount; ++i)
        lengths[kLengthOrder[i]] = static_cast<uint8_t>(bits.take(3));
    Huffman lengthCode;
    if (!lengthCode.build(lengths, 19))
        return false;
    const int total = literalCount + distanceCount;
    std::memset(lengths, 0, sizeof lengths);
    for (int index = 0; index < total;) {
        if (bits.overrun())
            return false;
        const int symbol = lengthCode.decode(bits);
        if (symbol < 0)
            return false;
        if (symbol < 16) {
            lengths[index++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        int times = 0;
        if (symbol == 16) {
            if (index == 0)
                return false;
            repeated = lengths[index - 1];
            times = 3 + static_cast<int>(bits.take(2));
        } else if (symbol == 17) {
            times = 3 + static_cast<int>(bits.take(3));
        } else {
            times = 11 + static_cast<int>(bits.take(7));
        }
        if (index + times > total)
            return false;
        std::memset(lengths + index, repeated, static_cast<size_t>(times));
        index += times;
    }
    if (lengths[256] == 0)
        return false;
    return literals.build(lengths, literalCount) &&
           distances.build(lengths + literalCount, distanceCount);
}

// The block's codes. Literals: the two filter bytes a blank row can have (0 and Up's 2); every
// length, 258 by far the most used; distances 1 and 2, of which only 1 is used (two, so that the
// code is complete, which some inflaters require). Each code is complete.
constexpr int kBlankLiterals = 286;
constexpr std::array<uint8_t, kBlankLiterals> blankLiteralLengths()
{
    std::array<uint8_t, kBlankLiterals> lengths{};
    lengths[0] = 3;
    lengths[2] = 3;
    lengths[256] = lengths[257] = lengths[258] = 6;
    for (int s = 259; s <= 284; ++s)
        lengths[s] = 7;
    lengths[285] = 1;
    return lengths;
}

// The code lengths above as the header sends them, in the code-length code's symbols: a symbol
// and its extra bits. 18 is a run of 11-138 zeros, 16 repeats the last length 3-6 times.
struct LengthStep {
    uint8_t symbol;
    uint8_t extra;
    uint8_t extraBits;
};
constexpr LengthStep kBlankLengthSteps[] = {
    {3, 0, 0}, {0, 0, 0},  {3, 0, 0},  {18, 127, 7}, {18, 104, 7}, // literals 0-255
    {6, 0, 0}, {6, 0, 0},  {6, 0, 0},                              // 256-258
    {7, 0, 0}, {16, 3, 2}, {16, 3, 2}, {16, 3, 2},   {16, 3, 2},   // 259-283
    {7, 0, 0}, {1, 0, 0},                                          // 284, 285
    {1, 0, 0}, {1, 0, 0}};                                         // distances 1, 2
// The code-length code: a complete code over the seven symbols used.
constexpr std::array<uint8_t, 19> kBlankLengthCode = {3, 3, 0, 3, 0, 0, 2, 3, 0, 0,
                                                      0, 0, 0, 0, 0, 0, 3, 0, 3};

} // namespace

size_t blankRowsBound(size_t rows, size_t rowBytes)
{
    // The header, then per row two literals of 3 bits and a match of at most 13 bits for every
    // 258 bytes and one more; 16 bits a match leaves room to spare.
    return 64 + rows * (2 + 2 * (rowBytes / 258 + 2));
}

DeflateEnd writeBlankRows(uint8_t filter, size_t rows, size_t rowBytes, uint8_t* out)
{
    static const std::array<uint8_t, kBlankLiterals> literalLengths = blankLiteralLengths();
    static const std::array<uint32_t, kBlankLiterals> literalCodes = canonicalCodes(literalLengths);
    static const std::array<uint32_t, 19> lengthCodes = canonicalCodes(kBlankLengthCode);
    BitWriter bits(out);
    bits.put(1, 1); // final
    bits.put(2, 2); // deflate's own codes
    bits.put(kBlankLiterals - 257, 5);
    bits.put(2 - 1, 5);
    bits.put(18 - 4, 4); // up to code length 1, the eighteenth in the order
    for (int i = 0; i < 18; ++i)
        bits.put(kBlankLengthCode[kLengthOrder[i]], 3);
    for (const LengthStep& step : kBlankLengthSteps) {
        bits.put(lengthCodes[step.symbol], kBlankLengthCode[step.symbol]);
        bits.put(step.extra, step.extraBits);
    }
    const auto literal = [&](int symbol) {
        bits.put(literalCodes[symbol], literalLengths[symbol]);
    };
    // A row: its filter byte and a zero as literals, then the zeros that follow as copies of the
    // byte before (distance 1, code 0 of one bit); no copy is shorter than 3 bytes.
    for (size_t row = 0; row < rows; ++row) {
        literal(filter);
        if (rowBytes < 2)
            continue;
        literal(0);
        size_t zeros = rowBytes - 2;
        while (zeros > 0) {
            if (zeros < 3) {
                literal(0);
                --zeros;
                continue;
            }
            size_t length = std::min<size_t>(zeros, 258);
            if (zeros - length > 0 && zeros - length < 3)
                length = zeros - 3;
            int symbol = 28;
            while (kLengthBase[symbol] > length)
                --symbol;
            literal(257 + symbol);
            bits.put(static_cast<uint32_t>(length - kLengthBase[symbol]), kLengthExtraBits[symbol]);
            bits.put(0, 1); // distance 1
            zeros -= length;
        }
    }
    literal(256);
    const uint64_t end = bits.position();
    bits.flush();
    return {0, end};
}

std::optional<DeflateEnd> findDeflateEnd(const uint8_t* stream, size_t size)
{
    BitReader bits(stream, size);
    Huffman literals;
    Huffman distances;
    for (;;) {
        const uint64_t start = bits.position();
        const bool final = bits.take(1) != 0;
        const uint32_t type = bits.take(2);
        if (type == 0) {
            bits.alignToByte();
            const uint32_t length = bits.take(16);
            const uint32_t check = bits.take(16);
            if (length != (~check & 0xFFFFu))
                return std::nullopt;
            bits.skip(length * 8);
        } else if (type == 1 || type == 2) {
            if (!(type == 1 ? buildFixed(literals, distances)
                            : buildDynamic(bits, literals, distances)) ||
                !skipCodes(bits, literals, distances))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (bits.overrun())
            return std::nullopt;
        if (final)
            return DeflateEnd{start, bits.position()};
    }
}

} // namespace ombri
