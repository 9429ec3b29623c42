#include "reader/adjustments.h"

#include "reader/adjustment_kernels.h"

#include <algorithm>
#include <array>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombri::reader {

namespace {

// Colour steps act on 24- and 32-bit pictures only.
std::optional<PixelRows> colourArea(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return std::nullopt;
    return pixelRowsOf(image, *layout);
}

// ---------------------------------------------------------------------------------------------
// Colour steps

// Rows are worked 48 bytes at a time (16 pixels of 3 bytes, 12 of 4) with the constants of each
// byte position laid out once in a local array, which the rows cannot overlap: the compiler then
// turns the loops into vector code.
constexpr size_t kBlock = 48;

// Every row's pixel bytes combined with one repeated pattern of blue, green, red and (for 32-bit)
// the fourth byte.
template <typename Combine>
void combineWithPattern(const PixelRows& area, const std::array<uint8_t, 4>& pattern,
                        Combine combine)
{
    uint8_t mask[kBlock];
    for (size_t j = 0; j < kBlock; ++j)
        mask[j] = pattern[j % area.bytesPerPixel];
    const size_t rowBytes = area.rowBytes();
    const size_t blockBytes = rowBytes - rowBytes % kBlock;
    for (size_t y = 0; y < area.height; ++y) {
        uint8_t* row = area.row(y);
        for (size_t i = 0; i < blockBytes; i += kBlock) {
            uint8_t* block = row + i;
            for (size_t j = 0; j < kBlock; ++j)
                block[j] = combine(block[j], mask[j]);
        }
        // The rest is a whole number of pixels starting on a pixel boundary.
        uint8_t* tail = row + blockBytes;
        for (size_t j = 0; j < rowBytes - blockBytes; ++j)
            tail[j] = combine(tail[j], mask[j]);
    }
}

struct ChannelRanges {
    std::array<uint8_t, 3> smallest{255, 255, 255}; // blue, green, red
    std::array<uint8_t, 3> largest{0, 0, 0};
};

#if defined(__SSE2__)

inline __m128i loadBlockBytes(const uint8_t* from)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
}

inline void storeBlockBytes(uint8_t* to, __m128i value)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), value);
}

// The running smallest and largest byte of each of the three 16-byte thirds of a block: a third
// always starts at the same place in the pixel pattern, so each of its byte positions stays with
// one channel.
void scanBlocks(const uint8_t* row, size_t blockBytes, uint8_t (&low)[kBlock],
                uint8_t (&high)[kBlock])
{
    __m128i low0 = loadBlockBytes(low), low1 = loadBlockBytes(low + 16),
            low2 = loadBlockBytes(low + 32);
    __m128i high0 = loadBlockBytes(high), high1 = loadBlockBytes(high + 16),
            high2 = loadBlockBytes(high + 32);
    for (size_t i = 0; i < blockBytes; i += kBlock) {
        const __m128i a = loadBlockBytes(row + i);
        const __m128i b = loadBlockBytes(row + i + 16);
        const __m128i c = loadBlockBytes(row + i + 32);
        low0 = _mm_min_epu8(low0, a);
        low1 = _mm_min_epu8(low1, b);
        low2 = _mm_min_epu8(low2, c);
        high0 = _mm_max_epu8(high0, a);
        high1 = _mm_max_epu8(high1, b);
        high2 = _mm_max_epu8(high2, c);
    }
    storeBlockBytes(low, low0);
    storeBlockBytes(low + 16, low1);
    storeBlockBytes(low + 32, low2);
    storeBlockBytes(high, high0);
    storeBlockBytes(high + 16, high1);
    storeBlockBytes(high + 32, high2);
}

#else

void scanBlocks(const uint8_t* row, size_t blockBytes, uint8_t (&low)[kBlock],
                uint8_t (&high)[kBlock])
{
    for (size_t i = 0; i < blockBytes; i += kBlock)
        for (size_t j = 0; j < kBlock; ++j) {
            const uint8_t value = row[i + j];
            low[j] = value < low[j] ? value : low[j];
            high[j] = value > high[j] ? value : high[j];
        }
}

#endif

// Smallest and largest value of each channel, kept per byte position of the 48-byte blocks and
// sorted into channels once at the end.
ChannelRanges findChannelRanges(const PixelRows& area)
{
    uint8_t low[kBlock];
    uint8_t high[kBlock];
    std::fill(low, low + kBlock, uint8_t{255});
    std::fill(high, high + kBlock, uint8_t{0});
    const size_t rowBytes = area.rowBytes();
    const size_t blockBytes = rowBytes - rowBytes % kBlock;
    for (size_t y = 0; y < area.height; ++y) {
        const uint8_t* row = area.row(y);
        scanBlocks(row, blockBytes, low, high);
        // The rest is a whole number of pixels starting on a pixel boundary.
        for (size_t i = blockBytes; i < rowBytes; ++i) {
            const uint8_t value = row[i];
            low[i - blockBytes] = std::min(value, low[i - blockBytes]);
            high[i - blockBytes] = std::max(value, high[i - blockBytes]);
        }
    }
    ChannelRanges ranges;
    for (size_t j = 0; j < kBlock; ++j) {
        const size_t channel = j % area.bytesPerPixel;
        if (channel < 3) {
            ranges.smallest[channel] = std::min(ranges.smallest[channel], low[j]);
            ranges.largest[channel] = std::max(ranges.largest[channel], high[j]);
        }
    }
    return ranges;
}

// The stretch of one channel, trunc(f x (v - smallest)) with f the 32-bit float nearest to
// 255 / R, R = largest - smallest, and the product formed exactly: 150 in a picture spanning 50 to
// 150 gives 254, as the reader has always shown it (a product rounded to a 32-bit float would give
// 255 there).
//
// It is worked out in 16-bit integers, which the compiler turns into vector code. With d = v -
// smallest and 255 = whole x R + rest, the result is whole x d + floor((rest x d - c) / R), where c
// is 1 when f lies below 255 / R (a product that would land on a whole number then falls just
// short of it) and 0 otherwise. The division is a fixed-point multiply: floor((d x fraction -
// borrow) / 65536) with fraction = ceil(65536 rest / R) and borrow = floor(65536 c / R). It never
// falls short, and overshoots by less than (R + 1) / 65536, which is below the gap of 1 / R
// between neighbouring quotients for every R up to 255.
struct Stretch {
    uint16_t smallest = 0;
    uint16_t whole = 1;
    uint16_t fraction = 0;
    uint16_t borrow = 0;
};

Stretch stretchOf(uint8_t smallest, uint8_t largest)
{
    const uint32_t range = static_cast<uint32_t>(largest - smallest);
    const float factor = static_cast<float>(255.0 / range);
    const bool fallsShort = static_cast<double>(factor) * range < 255.0;
    const uint32_t rest = 255 % range;
    Stretch stretch;
    stretch.smallest = smallest;
    stretch.whole = static_cast<uint16_t>(255 / range);
    stretch.fraction = static_cast<uint16_t>((rest * 65536 + range - 1) / range);
    // Never for a range of 1: 255 is a float, so nothing falls short.
    stretch.borrow = static_cast<uint16_t>(fallsShort ? 65536 / range : 0);
    return stretch;
}

inline uint8_t stretchValue(uint8_t value, uint16_t smallest, uint16_t whole, uint16_t fraction,
                            uint16_t borrow)
{
    const uint16_t d = static_cast<uint16_t>(value - smallest);
    const uint16_t high = static_cast<uint16_t>((uint32_t{d} * fraction) >> 16);
    const uint16_t low = static_cast<uint16_t>(d * fraction);
    const uint16_t carry = low < borrow ? 1 : 0;
    // -1 only for d = 0 with a borrow, where the result is 0.
    const int16_t result = static_cast<int16_t>(whole * d + high - carry);
    return static_cast<uint8_t>(result < 0 ? 0 : result);
}

// The constants of every byte position of a 48-byte block, one per 16-bit word.
struct BlockStretch {
    alignas(16) uint16_t smallest[kBlock];
    alignas(16) uint16_t whole[kBlock];
    alignas(16) uint16_t fraction[kBlock];
    alignas(16) uint16_t borrow[kBlock];
};

#if defined(__SSE2__)

inline __m128i wordsAt(const uint16_t* words)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(words));
}

// Eight bytes widened to words, stretched with the constants of their positions: the same 16-bit
// steps as stretchValue, the borrow's comparison made unsigned by flipping the top bits.
inline __m128i stretchWords(__m128i values, const BlockStretch& block, size_t at)
{
    const __m128i top = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i d = _mm_sub_epi16(values, wordsAt(block.smallest + at));
    const __m128i fraction = wordsAt(block.fraction + at);
    const __m128i high = _mm_mulhi_epu16(d, fraction);
    const __m128i low = _mm_mullo_epi16(d, fraction);
    // All ones (-1) where the low word falls below the borrow.
    const __m128i carry =
        _mm_cmplt_epi16(_mm_xor_si128(low, top), _mm_xor_si128(wordsAt(block.borrow + at), top));
    return _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(wordsAt(block.whole + at), d), high), carry);
}

// Packing with unsigned saturation turns the one possible -1 (d = 0 with a borrow) into 0.
void stretchBlocks(uint8_t* row, size_t blockBytes, const BlockStretch& block)
{
    const __m128i zero = _mm_setzero_si128();
    for (size_t i = 0; i < blockBytes; i += kBlock)
        for (size_t part = 0; part < kBlock; part += 16) {
            const __m128i bytes = loadBlockBytes(row + i + part);
            const __m128i first = stretchWords(_mm_unpacklo_epi8(bytes, zero), block, part);
            const __m128i second = stretchWords(_mm_unpackhi_epi8(bytes, zero), block, part + 8);
            storeBlockBytes(row + i + part, _mm_packus_epi16(first, second));
        }
}

#else

void stretchBlocks(uint8_t* row, size_t blockBytes, const BlockStretch& block)
{
    for (size_t i = 0; i < blockBytes; i += kBlock)
        for (size_t j = 0; j < kBlock; ++j)
            row[i + j] = stretchValue(row[i + j], block.smallest[j], block.whole[j],
                                      block.fraction[j], block.borrow[j]);
}

#endif

// Every blue, green and red byte stretched by its channel's stretch; a fourth byte keeps its value.
void stretchChannels(const PixelRows& area, const std::array<Stretch, 3>& channels)
{
    BlockStretch block;
    for (size_t j = 0; j < kBlock; ++j) {
        const size_t channel = j % area.bytesPerPixel;
        const Stretch stretch = channel < 3 ? channels[channel] : Stretch{};
        block.smallest[j] = stretch.smallest;
        block.whole[j] = stretch.whole;
        block.fraction[j] = stretch.fraction;
        block.borrow[j] = stretch.borrow;
    }
    const size_t rowBytes = area.rowBytes();
    const size_t blockBytes = rowBytes - rowBytes % kBlock;
    for (size_t y = 0; y < area.height; ++y) {
        uint8_t* row = area.row(y);
        stretchBlocks(row, blockBytes, block);
        uint8_t* tail = row + blockBytes;
        for (size_t j = 0; j < rowBytes - blockBytes; ++j)
            tail[j] = stretchValue(tail[j], block.smallest[j], block.whole[j], block.fraction[j],
                                   block.borrow[j]);
    }
}

// ---------------------------------------------------------------------------------------------
// Black and white

// Grey is the channel sum times this constant, not a third: white becomes 254.
constexpr double kGreyFactor = 0.333333;

// Grey is the channel sum times kGreyFactor, cut to a whole number. The constant lies just below a
// third, so for every sum but 0 that is a third of one less than the sum, rounded down: white
// becomes 254 and any multiple of three one less than its third. A third, rounded down, is a
// multiply by 21846 / 65536, a hair above a third that never reaches the next whole number for
// sums up to 765. This form needs neither the double product nor a table look-up, so sixteen
// pixels are worked at once in 16-bit vector lanes.
constexpr uint32_t kThirdMultiplier = 21846;

constexpr uint32_t greyOfSum(uint32_t sum)
{
    return sum == 0 ? 0 : (sum - 1) * kThirdMultiplier >> 16;
}

constexpr bool greyMatchesTheConstantForEverySum()
{
    for (uint32_t sum = 0; sum <= 765; ++sum)
        if (greyOfSum(sum) !=
            static_cast<uint32_t>(static_cast<int>(static_cast<double>(sum) * kGreyFactor)))
            return false;
    return true;
}
static_assert(greyMatchesTheConstantForEverySum(),
              "the shortcut must give the grey the reader has always shown");

inline void greyPixel(uint8_t* pixel)
{
    const auto grey = static_cast<uint8_t>(greyOfSum(uint32_t{pixel[0]} + pixel[1] + pixel[2]));
    pixel[0] = pixel[1] = pixel[2] = grey;
}

#if defined(__SSE2__)

// Sixteen 3-byte pixels are 48 bytes, three registers of eight 16-bit words. A pixel starts at
// the low byte of a word, at its high byte, or a word holds no start; the pattern repeats every
// three words and each register begins at a different place in it.
enum class WordStart { None, Low, High };

constexpr WordStart startInWord(size_t byte)
{
    return byte % 3 == 0 ? WordStart::Low : byte % 3 == 2 ? WordStart::High : WordStart::None;
}

// Per register and word: masks picking the first byte of a pixel starting low and the third of
// one starting high, and the factors that spread a pixel's grey over its own word and the next.
struct GreyRunPattern {
    alignas(16) uint16_t firstOfLow[3][8];
    alignas(16) uint16_t thirdOfHigh[3][8];
    alignas(16) uint16_t ownWord[3][8];
    alignas(16) uint16_t nextWord[3][8];
};

constexpr GreyRunPattern makeGreyRunPattern()
{
    GreyRunPattern pattern{};
    for (size_t reg = 0; reg < 3; ++reg)
        for (size_t word = 0; word < 8; ++word) {
            const size_t byte = reg * 16 + word * 2;
            const WordStart start = startInWord(byte);
            // The word before the first belongs to the previous run, whose last word has no start.
            const WordStart before = startInWord(byte + 48 - 2);
            pattern.firstOfLow[reg][word] = start == WordStart::Low ? 0x00FF : 0;
            pattern.thirdOfHigh[reg][word] = start == WordStart::High ? 0x00FF : 0;
            // Starting low, a pixel fills its word and the low byte of the next; starting high,
            // the high byte of its word and the whole next word.
            pattern.ownWord[reg][word] = start == WordStart::Low    ? 0x0101
                                         : start == WordStart::High ? 0x0100
                                                                    : 0;
            pattern.nextWord[reg][word] = before == WordStart::Low    ? 0x0001
                                          : before == WordStart::High ? 0x0101
                                                                      : 0;
        }
    return pattern;
}

constexpr GreyRunPattern kGreyRun = makeGreyRunPattern();

inline __m128i loadBytes(const uint8_t* from)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
}

inline void storeBytes(uint8_t* to, __m128i value)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), value);
}

inline __m128i patternOf(const uint16_t (&words)[8])
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(words));
}

// The grey of every pixel of one register, in the word where the pixel starts (other words hold
// junk). bytes is the register; after1 and after3 the same run read one and three bytes on.
inline __m128i greyAtStarts(__m128i bytes, __m128i after1, __m128i after3, size_t reg)
{
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    // The pixel's middle two bytes are the two halves of the word one byte on, whether it starts
    // low or high; the remaining byte is the word's low byte or the low byte three bytes on.
    const __m128i middle =
        _mm_add_epi16(_mm_and_si128(after1, lowBytes), _mm_srli_epi16(after1, 8));
    const __m128i rest = _mm_or_si128(_mm_and_si128(bytes, patternOf(kGreyRun.firstOfLow[reg])),
                                      _mm_and_si128(after3, patternOf(kGreyRun.thirdOfHigh[reg])));
    const __m128i sum = _mm_add_epi16(middle, rest);
    return _mm_mulhi_epu16(_mm_subs_epu16(sum, _mm_set1_epi16(1)),
                           _mm_set1_epi16(static_cast<int16_t>(kThirdMultiplier)));
}

// Each grey written over its pixel's three bytes: from its own word and from the word before
// (greyBefore holds each word's predecessor, the previous register's last word first).
inline __m128i spreadGrey(__m128i grey, __m128i greyBefore, size_t reg)
{
    return _mm_add_epi16(_mm_mullo_epi16(grey, patternOf(kGreyRun.ownWord[reg])),
                         _mm_mullo_epi16(greyBefore, patternOf(kGreyRun.nextWord[reg])));
}

void greyRun24(uint8_t* run)
{
    const __m128i first = loadBytes(run);
    const __m128i second = loadBytes(run + 16);
    const __m128i third = loadBytes(run + 32);
    const __m128i grey0 = greyAtStarts(first, loadBytes(run + 1), loadBytes(run + 3), 0);
    const __m128i grey1 = greyAtStarts(second, loadBytes(run + 17), loadBytes(run + 19), 1);
    // The last pixel ends with the run: nothing past it is read.
    const __m128i grey2 =
        greyAtStarts(third, _mm_srli_si128(third, 1), _mm_srli_si128(third, 3), 2);
    storeBytes(run, spreadGrey(grey0, _mm_slli_si128(grey0, 2), 0));
    storeBytes(
        run + 16,
        spreadGrey(grey1, _mm_or_si128(_mm_slli_si128(grey1, 2), _mm_srli_si128(grey0, 14)), 1));
    storeBytes(
        run + 32,
        spreadGrey(grey2, _mm_or_si128(_mm_slli_si128(grey2, 2), _mm_srli_si128(grey1, 14)), 2));
}

// Four 4-byte pixels, one to a 32-bit lane; the fourth byte is kept.
void greyRun32(uint8_t* run)
{
    const __m128i pixels = loadBytes(run);
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i sum =
        _mm_add_epi32(_mm_add_epi32(_mm_and_si128(pixels, lowByte),
                                    _mm_and_si128(_mm_srli_epi32(pixels, 8), lowByte)),
                      _mm_and_si128(_mm_srli_epi32(pixels, 16), lowByte));
    // The sums lie in the low halves of the lanes; the high halves are 0 and stay so.
    const __m128i grey = _mm_mulhi_epu16(_mm_subs_epu16(sum, _mm_set1_epi32(1)),
                                         _mm_set1_epi32(static_cast<int32_t>(kThirdMultiplier)));
    const __m128i fourth = _mm_andnot_si128(_mm_set1_epi32(0x00FFFFFF), pixels);
    storeBytes(run, _mm_or_si128(_mm_or_si128(grey, _mm_slli_epi32(grey, 8)),
                                 _mm_or_si128(_mm_slli_epi32(grey, 16), fourth)));
}

#endif

} // namespace

void AutoColor(Dib& image)
{
    auto area = colourArea(image);
    if (!area)
        return;
    const ChannelRanges ranges = findChannelRanges(*area);
    bool fullRange = true;
    for (size_t channel = 0; channel < 3; ++channel) {
        // A constant channel leaves the whole picture unchanged, the other channels too.
        if (ranges.smallest[channel] == ranges.largest[channel])
            return;
        fullRange = fullRange && ranges.smallest[channel] == 0 && ranges.largest[channel] == 255;
    }
    if (fullRange)
        return;
    stretchChannels(*area, {stretchOf(ranges.smallest[0], ranges.largest[0]),
                            stretchOf(ranges.smallest[1], ranges.largest[1]),
                            stretchOf(ranges.smallest[2], ranges.largest[2])});
}

void AutoContrast(Dib& image)
{
    auto area = colourArea(image);
    if (!area)
        return;
    const ChannelRanges ranges = findChannelRanges(*area);
    const uint8_t smallest = *std::min_element(ranges.smallest.begin(), ranges.smallest.end());
    const uint8_t largest = *std::max_element(ranges.largest.begin(), ranges.largest.end());
    if ((smallest == 0 && largest == 255) || smallest == largest)
        return;
    const Stretch stretch = stretchOf(smallest, largest);
    stretchChannels(*area, {stretch, stretch, stretch});
}

void InvertColors(Dib& image)
{
    auto area = colourArea(image);
    if (!area)
        return;
    combineWithPattern(*area, {0xFF, 0xFF, 0xFF, 0x00},
                       [](uint8_t value, uint8_t mask) { return uint8_t(value ^ mask); });
}

void Grayscale(Dib& image)
{
    auto area = colourArea(image);
    if (!area)
        return;
    const size_t bytesPerPixel = area->bytesPerPixel;
    for (size_t y = 0; y < area->height; ++y) {
        uint8_t* row = area->row(y);
        size_t x = 0;
#if defined(__SSE2__)
        if (bytesPerPixel == 3)
            for (; x + 16 <= area->width; x += 16)
                greyRun24(row + x * 3);
        else
            for (; x + 4 <= area->width; x += 4)
                greyRun32(row + x * 4);
#endif
        for (; x < area->width; ++x)
            greyPixel(row + x * bytesPerPixel);
    }
}

void ShowChannels(Dib& image, uint16_t channelFlags)
{
    auto area = colourArea(image);
    if (!area)
        return;
    const auto keep = [channelFlags](uint16_t flag) -> uint8_t {
        return (channelFlags & flag) ? 0xFF : 0x00;
    };
    combineWithPattern(*area, {keep(kFlagBlue), keep(kFlagGreen), keep(kFlagRed), 0xFF},
                       [](uint8_t value, uint8_t mask) { return uint8_t(value & mask); });
}

} // namespace ombri::reader
