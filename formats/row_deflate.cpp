#include "formats/row_deflate.h"

#include "formats/deflate_codes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace ombri {

using namespace deflate;

namespace {

constexpr uint32_t kWindow = 32768;
constexpr uint32_t kLongest = 258;
constexpr int kHashBits = 16;
// Steps taken along the list of places the next eight bytes were seen, then along the list for
// the next four: more finds longer matches on pictures with notes, at a cost that grows as fast.
constexpr int kLongSteps = 8;
constexpr int kShortSteps = 16;
// A match shorter than this is held back a byte, in case the next byte starts a longer one.
constexpr uint32_t kLazyBelow = 32;
// The places inside a match are remembered for later matches when it is at most this long; of a
// longer one (a run, a repeated row), only its last two, as the rest add little and cost a
// look-up each.
constexpr uint32_t kRememberedInside = 64;
// A three-byte match further back than this costs more than its three literals.
constexpr uint32_t kFarthestShortest = 4096;
// Symbols a block holds before its codes are made anew for what follows: screenshots change
// their statistics from one band of a row to the next, and smaller blocks follow them, at some
// 60 bytes of codes each.
constexpr size_t kBlockSymbols = 8192;
// Positions are kept in 32 bits, and a segment's start from the window before it.
constexpr size_t kLongestSegment = size_t{1} << 30;

constexpr int kLiteralSymbols = 286;
constexpr int kDistanceSymbols = 30;
constexpr uint32_t kEndOfBlock = 256;
// A symbol of a block: a literal byte, or a match with this bit set, its length above
// kLengthShift and its distance less one below.
constexpr uint32_t kMatch = 0x80000000u;
constexpr int kLengthShift = 15;

uint32_t load32(const uint8_t* at)
{
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

uint64_t load64(const uint8_t* at)
{
    uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
}

// The bytes `a` and `b` have in common from `length` on, up to `most`.
[[gnu::always_inline]] inline uint32_t matchLength(const uint8_t* a, const uint8_t* b,
                                                   uint32_t length, uint32_t most)
{
    while (length + 8 <= most) {
        const uint64_t differ = load64(a + length) ^ load64(b + length);
        if (differ != 0) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            return length + static_cast<uint32_t>(__builtin_clzll(differ) >> 3);
#else
            return length + static_cast<uint32_t>(__builtin_ctzll(differ) >> 3);
#endif
        }
        length += 8;
    }
    while (length < most && a[length] == b[length])
        ++length;
    return length;
}

uint32_t hashOf4(const uint8_t* at)
{
    return (load32(at) * 0x9E3779B1u) >> (32 - kHashBits);
}

uint32_t hashOf8(const uint8_t* at)
{
    return static_cast<uint32_t>((load64(at) * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
}

struct SymbolTables {
    std::array<uint8_t, kLongest + 1> lengthSymbol{};
    std::array<uint8_t, 512> distanceSymbol{}; // distances to 256 by themselves, then by 128s
    SymbolTables()
    {
        for (int s = 0; s < 29; ++s) {
            const int end = s == 28 ? kLongest + 1 : kLengthBase[s + 1];
            for (int length = kLengthBase[s]; length < end; ++length)
                lengthSymbol[length] = static_cast<uint8_t>(s);
        }
        lengthSymbol[kLongest] = 28; // 258 has a code of its own, not 227's with extra bits
        for (int s = 0; s < kDistanceSymbols; ++s) {
            const uint32_t end = s == kDistanceSymbols - 1 ? kWindow + 1 : kDistanceBase[s + 1];
            for (uint32_t distance = kDistanceBase[s]; distance < end; ++distance)
                distanceSymbol[slot(distance)] = static_cast<uint8_t>(s);
        }
    }
    static uint32_t slot(uint32_t distance)
    {
        return distance <= 256 ? distance - 1 : 256 + ((distance - 1) >> 7);
    }
    int distance(uint32_t distance) const { return distanceSymbol[slot(distance)]; }
};

const SymbolTables& symbolTables()
{
    static const SymbolTables tables;
    return tables;
}

// The symbols of one block, counted as they come, and written as whichever kind of block is
// smallest: deflate's own codes, codes made for the block, or the bytes stored as they are.
class BlockWriter {
  public:
    BlockWriter(std::vector<uint32_t>& symbols, uint8_t* out) : m_symbols(symbols), m_bits(out)
    {
        m_symbols.resize(kBlockSymbols);
        clearCounts();
    }

    void literal(uint8_t byte)
    {
        m_symbols[m_count++] = byte;
        ++m_literals[byte];
    }
    void match(uint32_t length, uint32_t distance)
    {
        m_symbols[m_count++] = kMatch | length << kLengthShift | (distance - 1);
        ++m_literals[257 + m_tables.lengthSymbol[length]];
        ++m_distances[m_tables.distance(distance)];
    }
    bool full() const { return m_count == kBlockSymbols; }

    // Writes the block, whose symbols stand for the `size` bytes at `bytes`.
    void write(const uint8_t* bytes, size_t size, bool final);

    uint64_t finalBlockBit() const { return m_finalBlockBit; }
    uint64_t end() const { return m_bits.position(); }
    void flush() { m_bits.flush(); }

  private:
    void clearCounts()
    {
        m_literals.fill(0);
        m_distances.fill(0);
        m_count = 0;
    }
    void writeStored(const uint8_t* bytes, size_t size, bool final);
    void writeSymbols(const uint8_t* literalLengths, const uint32_t* literalCodes,
                      const uint8_t* distanceLengths, const uint32_t* distanceCodes);

    const SymbolTables& m_tables = symbolTables();
    std::vector<uint32_t>& m_symbols;
    size_t m_count = 0;
    std::array<uint32_t, kLiteralSymbols> m_literals{};
    std::array<uint32_t, kDistanceSymbols> m_distances{};
    BitWriter m_bits;
    uint64_t m_finalBlockBit = 0;
};

// A code's lengths as a block's header sends them: runs of zeros (17, 18) and repeats of the
// length before (16) in the code-length code's symbols, each with its extra bits.
struct LengthStep {
    uint8_t symbol;
    uint8_t extra;
};
constexpr uint8_t kStepExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

int lengthSteps(const uint8_t* lengths, int count, LengthStep* steps)
{
    int made = 0;
    for (int i = 0; i < count;) {
        const uint8_t length = lengths[i];
        int run = 1;
        while (i + run < count && lengths[i + run] == length)
            ++run;
        if (length == 0 && run >= 3) {
            const int taken = std::min(run, 138);
            steps[made++] = taken >= 11 ? LengthStep{18, static_cast<uint8_t>(taken - 11)}
                                        : LengthStep{17, static_cast<uint8_t>(taken - 3)};
            i += taken;
            continue;
        }
        steps[made++] = {length, 0};
        ++i;
        --run;
        if (length == 0)
            continue;
        while (run >= 3) {
            const int taken = std::min(run, 6);
            steps[made++] = {16, static_cast<uint8_t>(taken - 3)};
            i += taken;
            run -= taken;
        }
    }
    return made;
}

void BlockWriter::write(const uint8_t* bytes, size_t size, bool final)
{
    ++m_literals[kEndOfBlock];
    // The block's own codes. A block without matches still sends a distance code.
    std::array<uint8_t, kLiteralSymbols> literalLengths{};
    std::array<uint8_t, kDistanceSymbols> distanceLengths{};
    codeLengths(m_literals.data(), kLiteralSymbols, kMaxCodeBits, literalLengths.data());
    std::array<uint32_t, kDistanceSymbols> distanceCounts = m_distances;
    if (std::all_of(distanceCounts.begin(), distanceCounts.end(), [](uint32_t c) { return !c; }))
        distanceCounts[0] = 1;
    codeLengths(distanceCounts.data(), kDistanceSymbols, kMaxCodeBits, distanceLengths.data());
    int literalCount = kLiteralSymbols;
    while (literalCount > 257 && literalLengths[literalCount - 1] == 0)
        --literalCount;
    int distanceCount = kDistanceSymbols;
    while (distanceCount > 1 && distanceLengths[distanceCount - 1] == 0)
        --distanceCount;
    std::array<uint8_t, kLiteralSymbols + kDistanceSymbols> lengths{};
    std::copy_n(literalLengths.begin(), literalCount, lengths.begin());
    std::copy_n(distanceLengths.begin(), distanceCount, lengths.begin() + literalCount);
    std::array<LengthStep, kLiteralSymbols + kDistanceSymbols> steps{};
    const int stepCount = lengthSteps(lengths.data(), literalCount + distanceCount, steps.data());
    std::array<uint32_t, 19> stepCounts{};
    for (int i = 0; i < stepCount; ++i)
        ++stepCounts[steps[i].symbol];
    std::array<uint8_t, 19> stepLengths{};
    codeLengths(stepCounts.data(), 19, 7, stepLengths.data());
    int stepCodeCount = 19;
    while (stepCodeCount > 4 && stepLengths[kLengthOrder[stepCodeCount - 1]] == 0)
        --stepCodeCount;

    // What each kind of block costs, in bits.
    uint64_t extraBits = 0;
    for (int s = 0; s < 29; ++s)
        extraBits += uint64_t{m_literals[257 + s]} * kLengthExtraBits[s];
    for (int s = 0; s < kDistanceSymbols; ++s)
        extraBits += uint64_t{m_distances[s]} * kDistanceExtraBits[s];
    uint64_t dynamicBits = 3 + 14 + 3 * uint64_t(stepCodeCount) + extraBits;
    for (int i = 0; i < stepCount; ++i)
        dynamicBits += stepLengths[steps[i].symbol] + kStepExtraBits[steps[i].symbol];
    uint64_t fixedBits = 3 + extraBits;
    for (int s = 0; s < kLiteralSymbols; ++s) {
        dynamicBits += uint64_t{m_literals[s]} * literalLengths[s];
        fixedBits += uint64_t{m_literals[s]} * (s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8);
    }
    for (int s = 0; s < kDistanceSymbols; ++s) {
        dynamicBits += uint64_t{m_distances[s]} * distanceLengths[s];
        fixedBits += uint64_t{m_distances[s]} * 5;
    }
    const uint64_t storedBits = (8 - (m_bits.position() + 3) % 8) % 8 + 3 +
                                uint64_t{40} * (size / 65535 + 1) + uint64_t{8} * size - 8;

    if (final)
        m_finalBlockBit = m_bits.position();
    if (storedBits < std::min(dynamicBits, fixedBits)) {
        writeStored(bytes, size, final);
    } else if (fixedBits <= dynamicBits) {
        std::array<uint8_t, 288> fixedLengths{};
        std::fill(fixedLengths.begin(), fixedLengths.begin() + 144, 8);
        std::fill(fixedLengths.begin() + 144, fixedLengths.begin() + 256, 9);
        std::fill(fixedLengths.begin() + 256, fixedLengths.begin() + 280, 7);
        std::fill(fixedLengths.begin() + 280, fixedLengths.end(), 8);
        const std::array<uint32_t, 288> fixedCodes = canonicalCodes(fixedLengths);
        std::array<uint8_t, kDistanceSymbols> fiveBits{};
        fiveBits.fill(5);
        const std::array<uint32_t, kDistanceSymbols> distanceCodes = canonicalCodes(fiveBits);
        m_bits.put(final ? 1 : 0, 1);
        m_bits.put(1, 2);
        writeSymbols(fixedLengths.data(), fixedCodes.data(), fiveBits.data(), distanceCodes.data());
    } else {
        m_bits.put(final ? 1 : 0, 1);
        m_bits.put(2, 2);
        m_bits.put(static_cast<uint32_t>(literalCount - 257), 5);
        m_bits.put(static_cast<uint32_t>(distanceCount - 1), 5);
        m_bits.put(static_cast<uint32_t>(stepCodeCount - 4), 4);
        for (int i = 0; i < stepCodeCount; ++i)
            m_bits.put(stepLengths[kLengthOrder[i]], 3);
        const std::array<uint32_t, 19> stepCodes = canonicalCodes(stepLengths);
        for (int i = 0; i < stepCount; ++i) {
            const uint8_t symbol = steps[i].symbol;
            m_bits.put(stepCodes[symbol], stepLengths[symbol]);
            m_bits.put(steps[i].extra, kStepExtraBits[symbol]);
        }
        const std::array<uint32_t, kLiteralSymbols> literalCodes = canonicalCodes(literalLengths);
        const std::array<uint32_t, kDistanceSymbols> distanceCodes =
            canonicalCodes(distanceLengths);
        writeSymbols(literalLengths.data(), literalCodes.data(), distanceLengths.data(),
                     distanceCodes.data());
    }
    clearCounts();
}

void BlockWriter::writeSymbols(const uint8_t* literalLengths, const uint32_t* literalCodes,
                               const uint8_t* distanceLengths, const uint32_t* distanceCodes)
{
    for (size_t i = 0; i < m_count; ++i) {
        const uint32_t symbol = m_symbols[i];
        if (!(symbol & kMatch)) {
            m_bits.put(literalCodes[symbol], literalLengths[symbol]);
            continue;
        }
        const uint32_t length = (symbol >> kLengthShift) & 0x1FF;
        const uint32_t distance = (symbol & (kWindow - 1)) + 1;
        const int lengthSymbol = m_tables.lengthSymbol[length];
        m_bits.put(literalCodes[257 + lengthSymbol], literalLengths[257 + lengthSymbol]);
        m_bits.put(length - kLengthBase[lengthSymbol], kLengthExtraBits[lengthSymbol]);
        const int distanceSymbol = m_tables.distance(distance);
        m_bits.put(distanceCodes[distanceSymbol], distanceLengths[distanceSymbol]);
        m_bits.put(distance - kDistanceBase[distanceSymbol], kDistanceExtraBits[distanceSymbol]);
    }
    m_bits.put(literalCodes[kEndOfBlock], literalLengths[kEndOfBlock]);
}

void BlockWriter::writeStored(const uint8_t* bytes, size_t size, bool final)
{
    do {
        const size_t taken = std::min<size_t>(size, 65535);
        const bool last = final && taken == size;
        if (last)
            m_finalBlockBit = m_bits.position();
        m_bits.put(last ? 1 : 0, 1);
        m_bits.put(0, 2);
        m_bits.flush();
        m_bits.put(static_cast<uint32_t>(taken), 16);
        m_bits.put(static_cast<uint32_t>(~taken & 0xFFFF), 16);
        m_bits.flush();
        m_bits.putBytes(bytes, taken);
        bytes += taken;
        size -= taken;
    } while (size > 0);
}

// A match: its length (0 for none) and how far back it starts.
struct Match {
    uint32_t length = 0;
    uint32_t distance = 0;
};

} // namespace

struct RowDeflateTables {
    // The latest place each hash of four and of eight bytes was seen, and for each place in the
    // window the one before it with the same hash; -1 for none.
    std::vector<int32_t> head4 = std::vector<int32_t>(size_t{1} << kHashBits);
    std::vector<int32_t> before4 = std::vector<int32_t>(kWindow);
    std::vector<int32_t> head8 = std::vector<int32_t>(size_t{1} << kHashBits);
    std::vector<int32_t> before8 = std::vector<int32_t>(kWindow);
    std::vector<uint32_t> symbols;

    void clear()
    {
        std::fill(head4.begin(), head4.end(), -1);
        std::fill(head8.begin(), head8.end(), -1);
    }
};

namespace {

// Finds matches in one segment: `in` is where it may look back to, `end` where it stops.
class MatchFinder {
  public:
    MatchFinder(RowDeflateTables& tables, const uint8_t* in, size_t end, RowShape shape)
        : m_tables(tables), m_in(in), m_end(end), m_hashedEnd(end >= 8 ? end - 7 : 0),
          m_shape(shape)
    {
        m_tables.clear();
    }

    // Places at or past this have fewer than eight bytes left, and go as literals.
    size_t hashedEnd() const { return m_hashedEnd; }

    void remember(size_t at)
    {
        const auto position = static_cast<int32_t>(at);
        const uint32_t short4 = hashOf4(m_in + at);
        m_tables.before4[at & (kWindow - 1)] = m_tables.head4[short4];
        m_tables.head4[short4] = position;
        const uint32_t long8 = hashOf8(m_in + at);
        m_tables.before8[at & (kWindow - 1)] = m_tables.head8[long8];
        m_tables.head8[long8] = position;
    }

    void matched(uint32_t distance)
    {
        if (distance == m_recent[0])
            return;
        m_recent[2] = m_recent[1];
        m_recent[1] = m_recent[0];
        m_recent[0] = distance;
    }

    // The best match at `at`, weighing its length against the bits its distance costs.
    Match find(size_t at) const
    {
        Search search{m_in + at, static_cast<uint32_t>(std::min<size_t>(kLongest, m_end - at))};
        const auto reach = static_cast<uint32_t>(std::min<size_t>(at, kWindow));
        // The pixel before, the places the last matches came from, the row above.
        const uint32_t row =
            m_shape.rowBytes <= kWindow ? static_cast<uint32_t>(m_shape.rowBytes) : 0;
        const uint32_t tried[] = {1,           m_shape.pixelBytes, m_recent[0],
                                  m_recent[1], m_recent[2],        row};
        for (size_t i = 0; i < std::size(tried); ++i) {
            const uint32_t distance = tried[i];
            if (distance == 0 || distance > reach ||
                std::find(tried, tried + i, distance) != tried + i)
                continue;
            search.consider(matchLength(search.here, search.here - distance, 0, search.most),
                            distance);
        }
        if (search.done())
            return search.best;
        walk(search, m_tables.head8[hashOf8(search.here)], m_tables.before8, at, kLongSteps, 8);
        if (search.done())
            return search.best;
        walk(search, m_tables.head4[hashOf4(search.here)], m_tables.before4, at, kShortSteps, 4);
        return search.best;
    }

  private:
    struct Search {
        const uint8_t* here;
        uint32_t most;        // bytes a match may take here
        uint32_t longest = 0; // of every match seen, taken or not
        int score = 0;
        Match best;

        // Two bits a byte, less a bit for each doubling of the distance past 4.
        void consider(uint32_t length, uint32_t distance)
        {
            longest = std::max(longest, length);
            if (length < 3 || (length == 3 && distance > kFarthestShortest))
                return;
            const int value = static_cast<int>(length) * 4 -
                              (distance <= 4 ? 0 : 31 - __builtin_clz(distance - 1));
            if (best.length == 0 || value > score) {
                score = value;
                best = {length, distance};
            }
        }
        // Nothing longer can be had. Stopping at a shorter "good enough" length made files with
        // notes 0.5-1.2% larger and saved no time.
        bool done() const { return longest >= most; }
    };

    // Walks a list of places with the same hash, nearest first, for a match longer than any seen.
    void walk(Search& search, int32_t place, const std::vector<int32_t>& before, size_t at,
              int steps, uint32_t hashed) const
    {
        for (; place >= 0 && steps > 0; --steps) {
            const auto from = static_cast<size_t>(place);
            if (at - from > kWindow)
                return;
            const uint8_t* there = m_in + from;
            // The byte that would make it longer than the longest is the likeliest to differ.
            if (there[search.longest] == search.here[search.longest] &&
                std::memcmp(there, search.here, hashed) == 0) {
                const uint32_t length = matchLength(search.here, there, hashed, search.most);
                if (length > search.longest) {
                    search.consider(length, static_cast<uint32_t>(at - from));
                    if (search.done())
                        return;
                }
            }
            const int32_t next = before[from & (kWindow - 1)];
            if (next >= place)
                return; // the place was written over by a later one
            place = next;
        }
    }

    RowDeflateTables& m_tables;
    const uint8_t* m_in;
    size_t m_end;
    size_t m_hashedEnd;
    RowShape m_shape;
    uint32_t m_recent[3] = {};
};

} // namespace

RowDeflater::RowDeflater(size_t segmentBytes)
    : m_segmentBytes(std::clamp<size_t>(segmentBytes, 1, kLongestSegment))
{
}

RowDeflater::~RowDeflater() = default;

size_t RowDeflater::bound(size_t size)
{
    // No block is larger than its bytes stored: five bytes a stored block of at most 65535, a
    // byte of padding and at most six of the block before, every 8192 symbols or more.
    return size + size / 1024 + 64;
}

DeflateEnd RowDeflater::compress(const uint8_t* bytes, size_t dictionary, size_t size,
                                 RowShape shape, uint8_t* out)
{
    if (!m_tables)
        m_tables = std::make_unique<RowDeflateTables>();
    BlockWriter blocks(m_tables->symbols, out);
    const uint8_t* next = bytes + dictionary;
    dictionary = std::min<size_t>(dictionary, kWindow);
    // Blocks run on across segments: each but the last holds a whole block's symbols.
    const uint8_t* blockStart = next;
    size_t left = size;
    do {
        const size_t taken = std::min(left, m_segmentBytes);
        const uint8_t* in = next - dictionary;
        const size_t from = dictionary;
        const size_t end = dictionary + taken;
        MatchFinder finder(*m_tables, in, end, shape);
        const size_t hashedEnd = finder.hashedEnd();
        for (size_t at = 0; at < std::min(from, hashedEnd); ++at)
            finder.remember(at);
        size_t at = from;
        Match held; // found at `at` by the look one byte ahead
        while (at < end) {
            if (at >= hashedEnd) {
                blocks.literal(in[at++]);
            } else {
                Match match = held;
                if (held.length == 0) {
                    match = finder.find(at);
                    finder.remember(at);
                }
                held = {};
                size_t rememberedFrom = at + 1;
                if (match.length > 0 && match.length < kLazyBelow && at + 1 < hashedEnd) {
                    const Match ahead = finder.find(at + 1);
                    finder.remember(at + 1);
                    rememberedFrom = at + 2;
                    if (ahead.length > match.length) {
                        blocks.literal(in[at++]);
                        held = ahead;
                        match = {};
                    }
                }
                if (match.length > 0) {
                    blocks.match(match.length, match.distance);
                    finder.matched(match.distance);
                    const size_t matchEnd = at + match.length;
                    const size_t rememberedEnd = std::min(matchEnd, hashedEnd);
                    if (match.length > kRememberedInside)
                        rememberedFrom = std::max(rememberedFrom, rememberedEnd - 2);
                    for (size_t inside = rememberedFrom; inside < rememberedEnd; ++inside)
                        finder.remember(inside);
                    at = matchEnd;
                } else if (held.length == 0) {
                    blocks.literal(in[at++]);
                }
            }
            if (blocks.full()) {
                blocks.write(blockStart, static_cast<size_t>(in + at - blockStart), false);
                blockStart = in + at;
            }
        }
        next += taken;
        left -= taken;
        dictionary = std::min<size_t>(kWindow, static_cast<size_t>(next - bytes));
    } while (left > 0);
    blocks.write(blockStart, static_cast<size_t>(next - blockStart), true);
    const DeflateEnd ends{blocks.finalBlockBit(), blocks.end()};
    blocks.flush();
    return ends;
}

} // namespace ombri
