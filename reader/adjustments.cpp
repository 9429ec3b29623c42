#include "reader/adjustments.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "reader/command_ids.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombri::reader {

namespace {

constexpr uint16_t kChannelFlags = kFlagRed | kFlagGreen | kFlagBlue;
constexpr uint16_t kRotationFlags =
    kFlagRotatedClockwise | kFlagRotatedAnticlockwise | kFlagRotated180;

// Grey is the channel sum times this constant, not a third: white becomes 254.
constexpr double kGreyFactor = 0.333333;

// ---------------------------------------------------------------------------------------------
// Commands and menu rules

enum class Enabling { ColourPicture, AnyPicture, Never };
enum class Checking { ByCode, ByFlag, Never };

struct CommandRule {
    int command;
    uint16_t flag; // the flag the command toggles or shows; 0 for none
    Enabling enabling;
    Checking checking;
};

constexpr CommandRule kCommandRules[] = {
    {cmd::Original, 0, Enabling::ColourPicture, Checking::ByCode},
    {cmd::AutoColour, 0, Enabling::ColourPicture, Checking::ByCode},
    {cmd::AutoContrast, kFlagAutoContrast, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::InvertColour, kFlagInvert, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::BlackAndWhite, kFlagBlackAndWhite, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::ChannelRed, kFlagRed, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::ChannelGreen, kFlagGreen, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::ChannelBlue, kFlagBlue, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::FlipHorizontal, kFlagFlipHorizontal, Enabling::AnyPicture, Checking::ByFlag},
    {cmd::FlipVertical, kFlagFlipVertical, Enabling::AnyPicture, Checking::ByFlag},
    {cmd::RotateClockwise, 0, Enabling::AnyPicture, Checking::Never},
    {cmd::RotateAnticlockwise, 0, Enabling::AnyPicture, Checking::Never},
    // Rotate 180 has no handler: shown, but never enabled.
    {cmd::Rotate180, 0, Enabling::Never, Checking::Never},
};

const CommandRule* ruleFor(int command)
{
    for (const auto& rule : kCommandRules)
        if (rule.command == command)
            return &rule;
    return nullptr;
}

// Each rotation command walks the quarter turns one way: none, a quarter, a half, three quarters.
uint16_t nextRotation(uint16_t current, bool clockwise)
{
    const uint16_t quarter = clockwise ? kFlagRotatedClockwise : kFlagRotatedAnticlockwise;
    const uint16_t threeQuarters = clockwise ? kFlagRotatedAnticlockwise : kFlagRotatedClockwise;
    if (current == quarter)
        return kFlagRotated180;
    if (current == kFlagRotated180)
        return threeQuarters;
    if (current == threeQuarters)
        return 0;
    return quarter;
}

} // namespace

bool Adjustments::apply(int command)
{
    switch (command) {
    case cmd::Original:
        if (code == kCodeOriginal && flags == 0)
            return false;
        code = kCodeOriginal;
        flags = 0;
        return true;
    case cmd::AutoColour:
        // Auto Color and the channel views exclude each other.
        if (code == kCodeAutoColour) {
            code = kCodeOriginal;
        } else {
            flags = static_cast<uint16_t>(flags & ~kChannelFlags);
            code = kCodeAutoColour;
        }
        return true;
    case cmd::ChannelRed:
    case cmd::ChannelGreen:
    case cmd::ChannelBlue: {
        const uint16_t channel = ruleFor(command)->flag;
        if (flags & channel) {
            flags = static_cast<uint16_t>(flags & ~channel);
            code = (flags & kChannelFlags) ? kCodeNone : kCodeOriginal;
        } else {
            flags = static_cast<uint16_t>(flags | channel);
            code = kCodeNone;
        }
        return true;
    }
    case cmd::AutoContrast:
    case cmd::InvertColour:
    case cmd::BlackAndWhite:
    case cmd::FlipHorizontal:
    case cmd::FlipVertical:
        flags = static_cast<uint16_t>(flags ^ ruleFor(command)->flag);
        return true;
    case cmd::RotateClockwise:
    case cmd::RotateAnticlockwise: {
        const uint16_t next = nextRotation(flags & kRotationFlags, command == cmd::RotateClockwise);
        flags = static_cast<uint16_t>((flags & ~kRotationFlags) | next);
        return true;
    }
    default:
        return false;
    }
}

bool Adjustments::isEnabled(int command, uint16_t bitCount) const
{
    const CommandRule* rule = ruleFor(command);
    if (!rule)
        return false;
    switch (rule->enabling) {
    case Enabling::ColourPicture:
        return bitCount == 24 || bitCount == 32;
    case Enabling::AnyPicture:
        return bitCount != 0;
    case Enabling::Never:
        return false;
    }
    return false;
}

bool Adjustments::isChecked(int command) const
{
    const CommandRule* rule = ruleFor(command);
    if (!rule)
        return false;
    switch (rule->checking) {
    case Checking::ByCode:
        return code == command;
    case Checking::ByFlag:
        return (flags & rule->flag) != 0;
    case Checking::Never:
        return false;
    }
    return false;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Pixel access

struct PixelArea {
    uint8_t* first = nullptr; // bottom row
    size_t stride = 0;
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerPixel = 0;

    uint8_t* row(size_t y) const { return first + y * stride; }
    // The bytes of a row that hold pixels; the padding behind them is never touched.
    size_t rowBytes() const { return width * bytesPerPixel; }
};

PixelArea areaOf(Dib& image, const DibLayout& layout)
{
    PixelArea area;
    area.first = image.data() + layout.pixelOffset;
    area.stride = layout.stride;
    area.width = static_cast<size_t>(layout.width);
    area.height = static_cast<size_t>(layout.height);
    area.bytesPerPixel = layout.bitCount / 8u;
    return area;
}

// Colour steps act on 24- and 32-bit pictures only.
std::optional<PixelArea> colourArea(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return std::nullopt;
    return areaOf(image, *layout);
}

bool isGeometricDepth(uint16_t bitCount)
{
    return bitCount == 8 || bitCount == 24 || bitCount == 32;
}

// Geometric steps act on 8-, 24- and 32-bit pictures.
std::optional<PixelArea> geometricArea(Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isGeometricDepth(layout->bitCount))
        return std::nullopt;
    return areaOf(image, *layout);
}

// The note copy moves with the pixels only when it is the picture's size; anything else is not a
// layer of this picture and is left alone rather than read past its end.
NoteLayer* matchingNotes(NoteLayer* notes, size_t width, size_t height)
{
    return notes && notes->size() == width * height ? notes : nullptr;
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
void combineWithPattern(const PixelArea& area, const std::array<uint8_t, 4>& pattern,
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
ChannelRanges findChannelRanges(const PixelArea& area)
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
void stretchChannels(const PixelArea& area, const std::array<Stretch, 3>& channels)
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

// ---------------------------------------------------------------------------------------------
// Geometric steps

template <size_t kBytes> inline void swapPixels(uint8_t* a, uint8_t* b)
{
    uint8_t held[kBytes];
    std::memcpy(held, a, kBytes);
    std::memcpy(a, b, kBytes);
    std::memcpy(b, held, kBytes);
}

template <size_t kBytes> void mirrorRow(uint8_t* row, size_t width)
{
    if (width < 2)
        return;
    for (size_t left = 0, right = width - 1; left < right; ++left, --right)
        swapPixels<kBytes>(row + left * kBytes, row + right * kBytes);
}

template <size_t kBytes> void mirrorRows(const PixelArea& area)
{
    for (size_t y = 0; y < area.height; ++y)
        mirrorRow<kBytes>(area.row(y), area.width);
}

// Row y and row height - 1 - y exchanged, each read backwards: the half turn in place.
template <size_t kBytes> void turnHalf(const PixelArea& area)
{
    for (size_t low = 0, high = area.height - 1; low <= high; ++low, --high) {
        uint8_t* a = area.row(low);
        uint8_t* b = area.row(high);
        if (low == high) {
            mirrorRow<kBytes>(a, area.width);
            break;
        }
        for (size_t x = 0; x < area.width; ++x)
            swapPixels<kBytes>(a + x * kBytes, b + (area.width - 1 - x) * kBytes);
    }
}

// A quarter turn of a plane of width x height pixels into one height pixels wide and width rows
// high, rows counted from the bottom in both. Clockwise, target row r column x is source row x
// column width - 1 - r; anticlockwise, source row height - 1 - x column r.
struct QuarterTurn {
    const uint8_t* source;
    size_t sourceStride;
    size_t width;
    size_t height;
    uint8_t* target;
    size_t targetStride;
    // A new block, whose pages the system provides at the first write to each.
    bool freshTarget = false;
};

template <bool kClockwise> inline size_t sourceColumnOf(const QuarterTurn& turn, size_t targetRow)
{
    return kClockwise ? turn.width - 1 - targetRow : targetRow;
}

template <bool kClockwise> inline size_t sourceRowOf(const QuarterTurn& turn, size_t targetColumn)
{
    return kClockwise ? targetColumn : turn.height - 1 - targetColumn;
}

// Target row r from column x0 up to x1, one pixel at a time.
template <size_t kBytes, bool kClockwise>
void turnRowSpan(const QuarterTurn& turn, size_t r, size_t x0, size_t x1)
{
    const size_t column = sourceColumnOf<kClockwise>(turn, r);
    const uint8_t* in = turn.source + column * kBytes;
    uint8_t* out = turn.target + r * turn.targetStride;
    size_t x = x0;
    // 3-byte pixels move four bytes at a time. The fourth is the first byte of the source's next
    // pixel, written over the target's next pixel before that one is moved. Not from the source's
    // last column (its fourth byte is padding or past the block) nor to the target's last pixel
    // (its fourth byte would be padding).
    if (kBytes == 3 && column + 1 < turn.width) {
        const size_t wideEnd = std::min(x1, turn.height - 1);
        for (; x < wideEnd; ++x) {
            uint32_t four;
            std::memcpy(&four, in + sourceRowOf<kClockwise>(turn, x) * turn.sourceStride, 4);
            std::memcpy(out + x * 3, &four, 4);
        }
    }
    for (; x < x1; ++x)
        std::memcpy(out + x * kBytes, in + sourceRowOf<kClockwise>(turn, x) * turn.sourceStride,
                    kBytes);
}

// The turns go in bands of target rows, that is of neighbouring source columns, and through a band
// a few source rows at a time: those rows are read in long runs that the processor fetches ahead,
// and the partly written lines of the band's target rows wait in the cache until the next steps
// complete them. On a photograph, twice as many source rows at a time made the turn twice as slow,
// and so did bands an eighth as wide, whose shorter runs are fetched ahead less well.
constexpr size_t kTurnBandRows = 1024;

// The 3-byte turn takes pixels apart with shifts of 8-byte words read from memory.
constexpr bool kLittleEndian =
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    true;
#else
    false;
#endif

// The pages of a new block are had from the system at the first write to each. In a band's
// scattered order, small pages made the turn of a photograph a sixth slower than the same pages
// touched in order first. Touched all at once at the start, though, the cleared memory has left
// the cache before the turn fills it (a sixteenth slower with large pages): so each band's pages
// are touched just before the band. The block is zero-filled already; the zeros written here
// change nothing.
void prepareBand(const QuarterTurn& turn, size_t r0, size_t r1)
{
    if (!turn.freshTarget)
        return;
    constexpr size_t kPage = 4096;
    uint8_t* first = turn.target + r0 * turn.targetStride;
    const size_t bytes = (r1 - r0) * turn.targetStride;
    for (size_t offset = 0; offset < bytes; offset += kPage)
        first[offset] = 0;
}

// Pixel by pixel through the bands, eight source rows a step: what the faster forms below fall
// back on without vector registers or on a big-endian processor.
template <size_t kBytes, bool kClockwise> void turnPixels(const QuarterTurn& turn)
{
    for (size_t r0 = 0; r0 < turn.width; r0 += kTurnBandRows) {
        const size_t r1 = std::min(turn.width, r0 + kTurnBandRows);
        prepareBand(turn, r0, r1);
        for (size_t x0 = 0; x0 < turn.height; x0 += 8)
            for (size_t r = r0; r < r1; ++r)
                turnRowSpan<kBytes, kClockwise>(turn, r, x0, std::min(turn.height, x0 + 8));
    }
}

// 3-byte pixels, four target rows (four neighbouring source columns) at a time and eight source
// rows a step. Each source row gives its four pixels in two 8-byte reads; two source rows give
// each target row two neighbouring pixels, which go out in one 8-byte write whose last two bytes
// the next pair overwrites (half as many writes as pixels: the writes, scattered over many rows,
// are what a turn waits for). The reads end two bytes into the pixel after the four, so the
// source's last column is left to turnRowSpan, as are the last target column and the rows and
// columns the steps do not fill.
template <bool kClockwise> void turnPixels3(const QuarterTurn& turn)
{
    constexpr size_t kSourceRows = 8;
    const uint8_t* const source = turn.source;
    uint8_t* const target = turn.target;
    const size_t targetStride = turn.targetStride;
    const ptrdiff_t nextSourceRow = kClockwise ? static_cast<ptrdiff_t>(turn.sourceStride)
                                               : -static_cast<ptrdiff_t>(turn.sourceStride);
    // Clockwise target row 0 comes from the last column.
    const size_t firstRow = kClockwise ? 1 : 0;
    const size_t rowsEnd = firstRow + (turn.width - 1) / 4 * 4;
    const size_t columnsEnd = (turn.height - 1) / kSourceRows * kSourceRows;
    constexpr uint64_t kPixel = 0xFFFFFF;
    for (size_t r0 = firstRow; r0 < rowsEnd; r0 += kTurnBandRows) {
        const size_t r1 = std::min(rowsEnd, r0 + kTurnBandRows);
        prepareBand(turn, r0, r1);
        for (size_t x0 = 0; x0 < columnsEnd; x0 += kSourceRows)
            for (size_t r = r0; r < r1; r += 4) {
                // Clockwise, target rows r..r+3 come from columns width-4-r..width-1-r, last
                // first; anticlockwise from columns r..r+3.
                const size_t column = kClockwise ? turn.width - 4 - r : r;
                const uint8_t* in =
                    source + sourceRowOf<kClockwise>(turn, x0) * turn.sourceStride + column * 3;
                uint8_t* out = target + r * targetStride + x0 * 3;
                for (size_t i = 0; i < kSourceRows; i += 2, in += 2 * nextSourceRow, out += 6) {
                    uint64_t low0, high0, low1, high1;
                    std::memcpy(&low0, in, 8);
                    std::memcpy(&high0, in + 6, 8);
                    std::memcpy(&low1, in + nextSourceRow, 8);
                    std::memcpy(&high1, in + nextSourceRow + 6, 8);
                    // Pixel k of the four belongs to target row r+3-k clockwise, r+k
                    // anticlockwise; the second row's pixel follows the first's.
                    const uint64_t pair0 = (low0 & kPixel) | low1 << 24;
                    const uint64_t pair1 = (low0 >> 24 & kPixel) | (low1 >> 24) << 24;
                    const uint64_t pair2 = (high0 & kPixel) | high1 << 24;
                    const uint64_t pair3 = (high0 >> 24 & kPixel) | (high1 >> 24) << 24;
                    std::memcpy(out + (kClockwise ? 3 : 0) * targetStride, &pair0, 8);
                    std::memcpy(out + (kClockwise ? 2 : 1) * targetStride, &pair1, 8);
                    std::memcpy(out + (kClockwise ? 1 : 2) * targetStride, &pair2, 8);
                    std::memcpy(out + (kClockwise ? 0 : 3) * targetStride, &pair3, 8);
                }
            }
    }
    for (size_t r = 0; r < turn.width; ++r)
        turnRowSpan<3, kClockwise>(turn, r, r >= firstRow && r < rowsEnd ? columnsEnd : 0,
                                   turn.height);
}

#if defined(__SSE2__)

// Square blocks of 16-byte runs turned in registers: 16 x 16 one-byte pixels or 4 x 4 four-byte
// pixels. Each round interleaves row i with row i + side / 2, which moves the bits of an element's
// (row, column) address one place round; after as many rounds as the address has row bits, row and
// column have changed places.
template <size_t kBytes> struct BlockTurn;

template <> struct BlockTurn<1> {
    static constexpr size_t kSide = 16;
    static void transpose(__m128i (&rows)[kSide])
    {
#pragma GCC unroll 4
        for (int round = 0; round < 4; ++round) {
            __m128i mixed[kSide];
#pragma GCC unroll 8
            for (size_t i = 0; i < 8; ++i) {
                mixed[2 * i] = _mm_unpacklo_epi8(rows[i], rows[i + 8]);
                mixed[2 * i + 1] = _mm_unpackhi_epi8(rows[i], rows[i + 8]);
            }
#pragma GCC unroll 16
            for (size_t i = 0; i < kSide; ++i)
                rows[i] = mixed[i];
        }
    }
};

template <> struct BlockTurn<4> {
    static constexpr size_t kSide = 4;
    static void transpose(__m128i (&rows)[kSide])
    {
#pragma GCC unroll 2
        for (int round = 0; round < 2; ++round) {
            const __m128i mixed[kSide] = {
                _mm_unpacklo_epi32(rows[0], rows[2]), _mm_unpackhi_epi32(rows[0], rows[2]),
                _mm_unpacklo_epi32(rows[1], rows[3]), _mm_unpackhi_epi32(rows[1], rows[3])};
#pragma GCC unroll 4
            for (size_t i = 0; i < kSide; ++i)
                rows[i] = mixed[i];
        }
    }
};

// 1- and 4-byte pixels block by block, through the bands; the rows and columns left at the edges
// one pixel at a time.
template <size_t kBytes, bool kClockwise> void turnBlocks(const QuarterTurn& turn)
{
    using Block = BlockTurn<kBytes>;
    constexpr size_t kSide = Block::kSide;
    const uint8_t* const source = turn.source;
    uint8_t* const target = turn.target;
    const size_t sourceStride = turn.sourceStride;
    const size_t targetStride = turn.targetStride;
    const size_t rowsEnd = turn.width / kSide * kSide;
    const size_t columnsEnd = turn.height / kSide * kSide;
    for (size_t r0 = 0; r0 < rowsEnd; r0 += kTurnBandRows) {
        const size_t r1 = std::min(rowsEnd, r0 + kTurnBandRows);
        prepareBand(turn, r0, r1);
        for (size_t x = 0; x < columnsEnd; x += kSide)
            for (size_t r = r0; r < r1; r += kSide) {
                // Clockwise the block's target rows r..r+side-1 come from the source columns
                // ending at column width-1-r, last first; anticlockwise from the columns from r.
                const size_t column = kClockwise ? turn.width - kSide - r : r;
                const uint8_t* in = source + column * kBytes;
                __m128i rows[kSide];
#pragma GCC unroll 16
                for (size_t i = 0; i < kSide; ++i)
                    rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                        in + sourceRowOf<kClockwise>(turn, x + i) * sourceStride));
                Block::transpose(rows);
                uint8_t* out = target + r * targetStride + x * kBytes;
#pragma GCC unroll 16
                for (size_t j = 0; j < kSide; ++j)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(
                                         out + (kClockwise ? kSide - 1 - j : j) * targetStride),
                                     rows[j]);
            }
    }
    for (size_t r = 0; r < turn.width; ++r)
        turnRowSpan<kBytes, kClockwise>(turn, r, r < rowsEnd ? columnsEnd : 0, turn.height);
}

#endif

template <bool kClockwise> void turnPlane(const QuarterTurn& turn, size_t bytesPerPixel)
{
    switch (bytesPerPixel) {
    case 1:
#if defined(__SSE2__)
        turnBlocks<1, kClockwise>(turn);
#else
        turnPixels<1, kClockwise>(turn);
#endif
        break;
    case 3:
        if constexpr (kLittleEndian)
            turnPixels3<kClockwise>(turn);
        else
            turnPixels<3, kClockwise>(turn);
        break;
    case 4:
#if defined(__SSE2__)
        turnBlocks<4, kClockwise>(turn);
#else
        turnPixels<4, kClockwise>(turn);
#endif
        break;
    }
}

// A quarter turn of one plane; freshTarget for a new block (see prepareBand).
void turnQuarterPlane(const uint8_t* source, size_t sourceStride, size_t width, size_t height,
                      size_t bytesPerPixel, uint8_t* target, size_t targetStride, Rotation rotation,
                      bool freshTarget = false)
{
    const QuarterTurn turn{source, sourceStride, width, height, target, targetStride, freshTarget};
    if (rotation == Rotation::Clockwise)
        turnPlane<true>(turn, bytesPerPixel);
    else
        turnPlane<false>(turn, bytesPerPixel);
}

// ---------------------------------------------------------------------------------------------
// Note layers

#if defined(__SSE2__)

// Most of a note layer is blank: handwriting covers a few percent of a page. A layer's quarter
// turn therefore goes into a cleared layer and writes only the 16 x 16 blocks that hold notes,
// which a map of one byte for each whole block marks.
constexpr size_t kNoteBlock = 16;

size_t noteMapBytes(size_t width, size_t height)
{
    return (width / kNoteBlock) * (height / kNoteBlock);
}

// Whether any of the 16 bytes at run is not zero.
inline bool holdsNotes(const uint8_t* run)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) != 0xFFFF;
}

// Marks in marks the whole blocks of one band of 16 rows of the layer that hold anything but zero.
void markBand(const uint8_t* band, size_t width, uint8_t* marks)
{
    const size_t across = width / kNoteBlock;
    std::fill_n(marks, across, uint8_t{0});
    for (size_t y = 0; y < kNoteBlock; ++y) {
        const uint8_t* row = band + y * width;
        for (size_t block = 0; block < across; ++block)
            marks[block] |= static_cast<uint8_t>(holdsNotes(row + block * kNoteBlock));
    }
}

// Marks in map the whole blocks of the layer (width x height bytes) that hold anything but zero.
void markNoteBlocks(const uint8_t* layer, size_t width, size_t height, uint8_t* map)
{
    const size_t across = width / kNoteBlock;
    for (size_t band = 0; band < height / kNoteBlock; ++band)
        markBand(layer + band * kNoteBlock * width, width, map + band * across);
}

// Moves count bytes of the layer, from offset at, to the same offset in to, leaving zeros behind.
inline void liftBytes(uint8_t* layer, uint8_t* to, size_t at, size_t count)
{
    std::memcpy(to + at, layer + at, count);
    std::memset(layer + at, 0, count);
}

// Marks the blocks that hold notes, as markNoteBlocks does, and moves what the turn will read
// to the same places in lifted: the marked blocks and the rows and columns beyond the whole
// blocks. The layer is left all zero, and the blank blocks are only read, never copied or
// cleared; each band is moved while its rows are still in the cache.
void liftNoteBlocks(uint8_t* layer, size_t width, size_t height, uint8_t* map, uint8_t* lifted)
{
    const size_t across = width / kNoteBlock;
    const size_t down = height / kNoteBlock;
    const size_t whole = across * kNoteBlock;
    for (size_t band = 0; band < down; ++band) {
        const size_t y0 = band * kNoteBlock;
        uint8_t* marks = map + band * across;
        markBand(layer + y0 * width, width, marks);
        for (size_t block = 0; block < across; ++block)
            if (marks[block])
                for (size_t y = y0; y < y0 + kNoteBlock; ++y)
                    liftBytes(layer, lifted, y * width + block * kNoteBlock, kNoteBlock);
        if (whole < width)
            for (size_t y = y0; y < y0 + kNoteBlock; ++y)
                liftBytes(layer, lifted, y * width + whole, width - whole);
    }
    if (down * kNoteBlock < height)
        liftBytes(layer, lifted, down * kNoteBlock * width, (height - down * kNoteBlock) * width);
}

// The quarter turn of a layer into a target that is all zero: the marked blocks turned in
// registers, the blank ones left, and the rows and columns beyond the whole blocks byte by byte.
template <bool kClockwise> void turnMarkedNotes(const QuarterTurn& turn, const uint8_t* map)
{
    const size_t across = turn.width / kNoteBlock;
    const size_t down = turn.height / kNoteBlock;
    for (size_t blockRow = 0; blockRow < down; ++blockRow) {
        const size_t y0 = blockRow * kNoteBlock;
        for (size_t block = 0; block < across; ++block) {
            if (!map[blockRow * across + block])
                continue;
            const size_t c0 = block * kNoteBlock;
            // Clockwise, source (y, c) lands on target row width-1-c, column y; anticlockwise on
            // row c, column height-1-y, so there the source rows are taken last first.
            __m128i rows[kNoteBlock];
#pragma GCC unroll 16
            for (size_t i = 0; i < kNoteBlock; ++i)
                rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                    turn.source +
                    (kClockwise ? y0 + i : y0 + kNoteBlock - 1 - i) * turn.sourceStride + c0));
            BlockTurn<1>::transpose(rows);
            const size_t firstColumn = kClockwise ? y0 : turn.height - kNoteBlock - y0;
#pragma GCC unroll 16
            for (size_t j = 0; j < kNoteBlock; ++j) {
                const size_t r = kClockwise ? turn.width - 1 - c0 - j : c0 + j;
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(turn.target + r * turn.targetStride + firstColumn),
                    rows[j]);
            }
        }
    }
    // Source rows from down x 16 on are target columns from there on clockwise, up to
    // height - down x 16 anticlockwise; source columns from across x 16 on are whole target rows.
    const size_t blockRows = down * kNoteBlock;
    const size_t edgeFrom = kClockwise ? blockRows : 0;
    const size_t edgeTo = kClockwise ? turn.height : turn.height - blockRows;
    for (size_t r = 0; r < turn.width; ++r) {
        if (sourceColumnOf<kClockwise>(turn, r) >= across * kNoteBlock)
            turnRowSpan<1, kClockwise>(turn, r, 0, turn.height);
        else
            turnRowSpan<1, kClockwise>(turn, r, edgeFrom, edgeTo);
    }
}

void turnMarkedNotes(const uint8_t* source, size_t width, size_t height, const uint8_t* map,
                     uint8_t* target, Rotation rotation)
{
    const QuarterTurn turn{source, width, width, height, target, height};
    if (rotation == Rotation::Clockwise)
        turnMarkedNotes<true>(turn, map);
    else
        turnMarkedNotes<false>(turn, map);
}

#endif

// The note layer given a quarter turn with its picture, written into turned (whose memory is
// reused when it holds enough); false, with turned left unspecified, when memory is short.
bool turnNotesInto(const NoteLayer& notes, size_t width, size_t height, Rotation rotation,
                   NoteLayer& turned)
{
    try {
        // The layer starts out zero: only the blocks with notes need writing.
        turned.assign(notes.size(), 0);
#if defined(__SSE2__)
        std::vector<uint8_t> map(noteMapBytes(width, height));
        markNoteBlocks(notes.data(), width, height, map.data());
        turnMarkedNotes(notes.data(), width, height, map.data(), turned.data(), rotation);
#else
        turnQuarterPlane(notes.data(), width, width, height, 1, turned.data(), height, rotation);
#endif
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The note layer given a quarter turn in place, with the old block's pixel bytes (scratchBytes
// of them, at least the layer's size) to work in.
void turnNotesInPlace(NoteLayer& layer, size_t width, size_t height, uint8_t* scratch,
                      size_t scratchBytes, Rotation rotation)
{
#if defined(__SSE2__)
    // The notes are lifted out, leaving the layer clear, with the map behind them, and the
    // blocks with notes turned back in. (An 8-bit picture's rows may leave no room for the map.)
    if (scratchBytes >= layer.size() + noteMapBytes(width, height)) {
        uint8_t* map = scratch + layer.size();
        liftNoteBlocks(layer.data(), width, height, map, scratch);
        turnMarkedNotes(scratch, width, height, map, layer.data(), rotation);
        return;
    }
#else
    (void)scratchBytes;
#endif
    // Turned into the scratch and copied back.
    turnQuarterPlane(layer.data(), width, width, height, 1, scratch, height, rotation);
    std::memcpy(layer.data(), scratch, layer.size());
}

// The block for the picture given a quarter turn: a 40-byte header with width and height
// exchanged (its colours-important field holding the bit count, as the reader's turned pictures
// always have), the colour table of an 8-bit picture and the turned pixel rows. An 8-bit picture
// keeps its table at its real size; the header then counts its entries (0 for a full table of
// 256), so the pixels lie right behind it. The block is reuse when that one holds it: memory
// written before costs less to fill than memory the system must first clear. Otherwise reuse is
// let go before a new block is had, so the two are never held together. Null when the block
// cannot be had.
Dib quarterTurnedBlock(const Dib& image, const DibLayout& layout, Rotation rotation, Dib* reuse)
{
    const uint32_t newWidth = static_cast<uint32_t>(layout.height);
    const uint32_t newHeight = static_cast<uint32_t>(layout.width);
    auto stride = checkedRowStride(newWidth, layout.bitCount);
    auto pixelBytes = stride ? checkedImageBytes(*stride, newHeight) : std::nullopt;
    if (!pixelBytes)
        return Dib();
    const size_t colours = layout.bitCount == 8 ? layout.colourCount : 0;
    const size_t tableBytes = colours * 4;
    const size_t blockBytes = kInfoHeaderSize + tableBytes + *pixelBytes;
    Dib turned;
    if (reuse && reuse->refit(blockBytes))
        turned = std::move(*reuse);
    else if (reuse)
        reuse->reset();
    const bool fresh = turned.isNull();
    if (fresh)
        turned = Dib::allocate(blockBytes);
    if (turned.isNull())
        return turned;
    uint8_t* out = turned.data();
    const auto header =
        DibMakeHeader(static_cast<int32_t>(newWidth), static_cast<int32_t>(newHeight),
                      layout.bitCount, layout.bitCount);
    std::memcpy(out, header.data(), header.size());
    writeLe32(out + 32, colours == 256 ? 0 : static_cast<uint32_t>(colours));
    // A 12-byte header's table has three bytes an entry; the new header's has four, the fourth 0.
    const uint8_t* table = image.data() + layout.headerSize;
    if (layout.headerSize == kInfoHeaderSize)
        std::memcpy(out + kInfoHeaderSize, table, tableBytes);
    else
        for (size_t i = 0; i < colours; ++i) {
            std::memcpy(out + kInfoHeaderSize + i * 4, table + i * 3, 3);
            out[kInfoHeaderSize + i * 4 + 3] = 0;
        }
    uint8_t* pixels = out + kInfoHeaderSize + tableBytes;
    turnQuarterPlane(image.data() + layout.pixelOffset, layout.stride,
                     static_cast<size_t>(layout.width), static_cast<size_t>(layout.height),
                     layout.bitCount / 8u, pixels, *stride, rotation, fresh);
    // The turn leaves the padding at the end of each row alone: a used block's must be cleared.
    const size_t used = static_cast<size_t>(newWidth) * (layout.bitCount / 8u);
    if (!fresh && used < *stride)
        for (size_t row = 0; row < newHeight; ++row)
            std::memset(pixels + row * *stride + used, 0, *stride - used);
    return turned;
}

// The turn in force; the flags hold at most one, and should they hold more the half turn wins,
// then the anticlockwise quarter.
std::optional<Rotation> rotationOf(uint16_t flags)
{
    if (flags & kFlagRotated180)
        return Rotation::HalfTurn;
    if (flags & kFlagRotatedAnticlockwise)
        return Rotation::Anticlockwise;
    if (flags & kFlagRotatedClockwise)
        return Rotation::Clockwise;
    return std::nullopt;
}

// The colour operations, in their fixed order.
void applyColourSteps(Dib& display, int32_t code, uint16_t flags)
{
    if (code == kCodeAutoColour)
        AutoColor(display);
    // One or two channels: the others go dark. None or all three: the picture as it is.
    const uint16_t channels = flags & kChannelFlags;
    if (channels != 0 && channels != kChannelFlags)
        ShowChannels(display, channels);
    if (flags & kFlagBlackAndWhite)
        Grayscale(display);
    if (flags & kFlagInvert)
        InvertColors(display);
    if (flags & kFlagAutoContrast)
        AutoContrast(display);
}

// The flips, which come after the rotation.
void applyFlips(Dib& display, uint16_t flags, NoteLayer* notes)
{
    if (flags & kFlagFlipHorizontal)
        FlipHorizontal(display, notes);
    if (flags & kFlagFlipVertical)
        FlipVertical(display, notes);
}

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

void FlipHorizontal(Dib& image, NoteLayer* notes)
{
    auto area = geometricArea(image);
    if (!area)
        return;
    switch (area->bytesPerPixel) {
    case 1:
        mirrorRows<1>(*area);
        break;
    case 3:
        mirrorRows<3>(*area);
        break;
    case 4:
        mirrorRows<4>(*area);
        break;
    }
    if (NoteLayer* layer = matchingNotes(notes, area->width, area->height))
        for (size_t y = 0; y < area->height; ++y)
            std::reverse(layer->begin() + static_cast<ptrdiff_t>(y * area->width),
                         layer->begin() + static_cast<ptrdiff_t>((y + 1) * area->width));
}

void FlipVertical(Dib& image, NoteLayer* notes)
{
    auto area = geometricArea(image);
    if (!area)
        return;
    for (size_t low = 0, high = area->height - 1; low < high; ++low, --high)
        std::swap_ranges(area->row(low), area->row(low) + area->rowBytes(), area->row(high));
    if (NoteLayer* layer = matchingNotes(notes, area->width, area->height))
        FlipRows(layer->data(), area->width, area->height);
}

bool RotateImage(Dib& image, NoteLayer* notes, Rotation rotation, Dib* spare)
{
    auto layout = dibGetLayout(image);
    if (!layout || !isGeometricDepth(layout->bitCount))
        return false;
    const PixelArea area = areaOf(image, *layout);
    const size_t width = area.width;
    const size_t height = area.height;
    NoteLayer* layer = matchingNotes(notes, width, height);
    if (rotation == Rotation::HalfTurn) {
        switch (area.bytesPerPixel) {
        case 1:
            turnHalf<1>(area);
            break;
        case 3:
            turnHalf<3>(area);
            break;
        case 4:
            turnHalf<4>(area);
            break;
        }
        if (layer)
            std::reverse(layer->begin(), layer->end());
        return true;
    }
    // The only allocation comes first, so a shortage changes nothing.
    Dib turned = quarterTurnedBlock(image, *layout, rotation, spare);
    if (turned.isNull())
        return false;
    if (layer) {
        // Once its pixels are turned, the old block's rows (at least width x height bytes) are
        // free to work in: no second layer is needed.
        turnNotesInPlace(*layer, width, height, image.data() + layout->pixelOffset,
                         layout->pixelBytes, rotation);
    }
    Dib old = std::exchange(image, std::move(turned));
    if (spare)
        *spare = std::move(old);
    return true;
}

void ApplyAdjustments(Dib& display, int32_t code, uint16_t flags, NoteLayer* notes)
{
    applyColourSteps(display, code, flags);
    if (auto rotation = rotationOf(flags))
        RotateImage(display, notes, *rotation);
    applyFlips(display, flags, notes);
}

Dib makeAdjustedCopy(const Dib& image, int32_t code, uint16_t flags, const NoteLayer* notes,
                     NoteLayer* noteCopy, Dib spare)
{
    // The colour steps treat every pixel alike (Auto Color and Auto Contrast look at all of them
    // together), so they give the same bytes before or after a turn: a quarter turn can be the
    // copy itself, and the colour steps follow it.
    const auto rotation = rotationOf(flags);
    auto layout = dibGetLayout(image);
    if (rotation && *rotation != Rotation::HalfTurn && layout &&
        isGeometricDepth(layout->bitCount)) {
        const size_t width = static_cast<size_t>(layout->width);
        const size_t height = static_cast<size_t>(layout->height);
        const bool moveNotes = notes && noteCopy && notes->size() == width * height;
        Dib turned = quarterTurnedBlock(image, *layout, *rotation, &spare);
        const bool notesMoved = !turned.isNull() && moveNotes &&
                                turnNotesInto(*notes, width, height, *rotation, *noteCopy);
        if (!turned.isNull() && (!moveNotes || notesMoved)) {
            NoteLayer* movedNotes = nullptr;
            if (notes && noteCopy) {
                if (!moveNotes)
                    *noteCopy = *notes;
                movedNotes = noteCopy;
            }
            applyColourSteps(turned, code, flags);
            applyFlips(turned, flags, movedNotes);
            return turned;
        }
        // The turned block (or the turned layer) could not be had: the turn is skipped, as
        // ApplyAdjustments would, and a block had for it serves the plain copy.
        spare = std::move(turned);
        flags = static_cast<uint16_t>(flags & ~kRotationFlags);
    }
    Dib copy;
    if (spare.refit(image.size())) {
        copy = std::move(spare);
        std::memcpy(copy.data(), image.data(), image.size());
    } else {
        spare.reset();
        copy = image.clone();
    }
    if (copy.isNull())
        return copy;
    NoteLayer* movedNotes = nullptr;
    if (notes && noteCopy) {
        *noteCopy = *notes;
        movedNotes = noteCopy;
    }
    ApplyAdjustments(copy, code, flags, movedNotes);
    return copy;
}

} // namespace ombri::reader
