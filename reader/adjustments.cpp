#include "reader/adjustments.h"

#include "core/bytes.h"
#include "core/limits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

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
    {kCmdOriginal, 0, Enabling::ColourPicture, Checking::ByCode},
    {kCmdAutoColor, 0, Enabling::ColourPicture, Checking::ByCode},
    {kCmdAutoContrast, kFlagAutoContrast, Enabling::ColourPicture, Checking::ByFlag},
    {kCmdInvertColor, kFlagInvert, Enabling::ColourPicture, Checking::ByFlag},
    {kCmdBlackAndWhite, kFlagBlackAndWhite, Enabling::ColourPicture, Checking::ByFlag},
    {kCmdChannelRed, kFlagRed, Enabling::ColourPicture, Checking::ByFlag},
    {kCmdChannelGreen, kFlagGreen, Enabling::ColourPicture, Checking::ByFlag},
    {kCmdChannelBlue, kFlagBlue, Enabling::ColourPicture, Checking::ByFlag},
    {kCmdFlipHorizontal, kFlagFlipHorizontal, Enabling::AnyPicture, Checking::ByFlag},
    {kCmdFlipVertical, kFlagFlipVertical, Enabling::AnyPicture, Checking::ByFlag},
    {kCmdRotateClockwise, 0, Enabling::AnyPicture, Checking::Never},
    {kCmdRotateAnticlockwise, 0, Enabling::AnyPicture, Checking::Never},
    // Rotate 180 has no handler: shown, but never enabled.
    {kCmdRotate180, 0, Enabling::Never, Checking::Never},
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
    case kCmdOriginal:
        if (code == kCodeOriginal && flags == 0)
            return false;
        code = kCodeOriginal;
        flags = 0;
        return true;
    case kCmdAutoColor:
        // Auto Color and the channel views exclude each other.
        if (code == kCodeAutoColor) {
            code = kCodeOriginal;
        } else {
            flags = static_cast<uint16_t>(flags & ~kChannelFlags);
            code = kCodeAutoColor;
        }
        return true;
    case kCmdChannelRed:
    case kCmdChannelGreen:
    case kCmdChannelBlue: {
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
    case kCmdAutoContrast:
    case kCmdInvertColor:
    case kCmdBlackAndWhite:
    case kCmdFlipHorizontal:
    case kCmdFlipVertical:
        flags = static_cast<uint16_t>(flags ^ ruleFor(command)->flag);
        return true;
    case kCmdRotateClockwise:
    case kCmdRotateAnticlockwise: {
        const uint16_t next = nextRotation(flags & kRotationFlags, command == kCmdRotateClockwise);
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
    auto layout = DibGetLayout(image);
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
    auto layout = DibGetLayout(image);
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

// Smallest and largest value of each channel, kept per byte position of the 48-byte blocks and
// sorted into channels once at the end.
ChannelRanges findChannelRanges(const PixelArea& area)
{
    // Plain arrays compared by value: with std::min's references the compiler cannot rule out
    // that the row and the running values overlap, and keeps the loop scalar.
    uint8_t low[kBlock];
    uint8_t high[kBlock];
    std::fill(low, low + kBlock, uint8_t{255});
    std::fill(high, high + kBlock, uint8_t{0});
    const size_t rowBytes = area.rowBytes();
    const size_t blockBytes = rowBytes - rowBytes % kBlock;
    for (size_t y = 0; y < area.height; ++y) {
        const uint8_t* row = area.row(y);
        for (size_t i = 0; i < blockBytes; i += kBlock)
            for (size_t j = 0; j < kBlock; ++j) {
                const uint8_t value = row[i + j];
                low[j] = value < low[j] ? value : low[j];
                high[j] = value > high[j] ? value : high[j];
            }
        // The rest is a whole number of pixels starting on a pixel boundary.
        for (size_t i = blockBytes; i < rowBytes; ++i) {
            const uint8_t value = row[i];
            low[i - blockBytes] = value < low[i - blockBytes] ? value : low[i - blockBytes];
            high[i - blockBytes] = value > high[i - blockBytes] ? value : high[i - blockBytes];
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

// Every blue, green and red byte stretched by its channel's stretch; a fourth byte keeps its value.
void stretchChannels(const PixelArea& area, const std::array<Stretch, 3>& channels)
{
    uint16_t smallest[kBlock];
    uint16_t whole[kBlock];
    uint16_t fraction[kBlock];
    uint16_t borrow[kBlock];
    for (size_t j = 0; j < kBlock; ++j) {
        const size_t channel = j % area.bytesPerPixel;
        const Stretch stretch = channel < 3 ? channels[channel] : Stretch{};
        smallest[j] = stretch.smallest;
        whole[j] = stretch.whole;
        fraction[j] = stretch.fraction;
        borrow[j] = stretch.borrow;
    }
    const size_t rowBytes = area.rowBytes();
    const size_t blockBytes = rowBytes - rowBytes % kBlock;
    for (size_t y = 0; y < area.height; ++y) {
        uint8_t* row = area.row(y);
        for (size_t i = 0; i < blockBytes; i += kBlock) {
            uint8_t* block = row + i;
            for (size_t j = 0; j < kBlock; ++j)
                block[j] = stretchValue(block[j], smallest[j], whole[j], fraction[j], borrow[j]);
        }
        uint8_t* tail = row + blockBytes;
        for (size_t j = 0; j < rowBytes - blockBytes; ++j)
            tail[j] = stretchValue(tail[j], smallest[j], whole[j], fraction[j], borrow[j]);
    }
}

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
};

template <bool kClockwise> inline size_t sourceColumnOf(const QuarterTurn& turn, size_t targetRow)
{
    return kClockwise ? turn.width - 1 - targetRow : targetRow;
}

template <bool kClockwise> inline size_t sourceRowOf(const QuarterTurn& turn, size_t targetColumn)
{
    return kClockwise ? targetColumn : turn.height - 1 - targetColumn;
}

// Target rows are taken 1024 at a time against 8 source rows: the source rows are read in long
// runs that the processor prefetches, and the partly written lines of the target rows stay in the
// cache until the next 8 source rows complete them.
constexpr size_t kTurnTargetRows = 1024;
constexpr size_t kTurnSourceRows = 8;

template <size_t kBytes, bool kClockwise> void turnPixels(const QuarterTurn& turn)
{
    for (size_t r0 = 0; r0 < turn.width; r0 += kTurnTargetRows) {
        const size_t r1 = std::min(turn.width, r0 + kTurnTargetRows);
        for (size_t x0 = 0; x0 < turn.height; x0 += kTurnSourceRows) {
            const size_t x1 = std::min(turn.height, x0 + kTurnSourceRows);
            for (size_t r = r0; r < r1; ++r) {
                const size_t column = sourceColumnOf<kClockwise>(turn, r);
                const uint8_t* in = turn.source + column * kBytes;
                uint8_t* out = turn.target + r * turn.targetStride;
                // 3-byte pixels move four bytes at a time. The fourth is the first byte of the
                // source's next pixel, written over the target's next pixel before that one is
                // moved. Not from the source's last column (its fourth byte is padding or past the
                // block) nor to the target's last pixel (its fourth byte would be padding).
                const bool wide = kBytes == 3 && column + 1 < turn.width;
                const size_t wideEnd = wide ? std::min(x1, turn.height - 1) : x0;
                size_t x = x0;
                for (; x < wideEnd; ++x) {
                    uint32_t four;
                    std::memcpy(&four, in + sourceRowOf<kClockwise>(turn, x) * turn.sourceStride,
                                4);
                    std::memcpy(out + x * 3, &four, 4);
                }
                for (; x < x1; ++x)
                    std::memcpy(out + x * kBytes,
                                in + sourceRowOf<kClockwise>(turn, x) * turn.sourceStride, kBytes);
            }
        }
    }
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__

// The rows of an 8 x 8 block of bytes, each read as one little-endian word, exchanged in three
// rounds (single bytes, pairs, fours) so that word j ends up holding byte j of every row.
inline void transposeBlock(uint64_t (&rows)[8])
{
    const auto exchange = [&rows](size_t a, size_t b, unsigned shift, uint64_t mask) {
        const uint64_t t = ((rows[a] >> shift) ^ rows[b]) & mask;
        rows[b] ^= t;
        rows[a] ^= t << shift;
    };
    for (size_t i : {0, 2, 4, 6})
        exchange(i, i + 1, 8, 0x00FF00FF00FF00FFull);
    for (size_t i : {0, 1, 4, 5})
        exchange(i, i + 2, 16, 0x0000FFFF0000FFFFull);
    for (size_t i : {0, 1, 2, 3})
        exchange(i, i + 4, 32, 0x00000000FFFFFFFFull);
}

// One-byte pixels (8-bit pictures, note layers) in 8 x 8 blocks: eight 8-byte reads, the block
// transposed in registers, eight 8-byte writes. The rows and columns left over at the edges are
// moved one byte at a time.
template <bool kClockwise> void turnBytes(const QuarterTurn& turn)
{
    const size_t fullRows = turn.width - turn.width % 8;      // target rows in whole blocks
    const size_t fullColumns = turn.height - turn.height % 8; // target columns in whole blocks
    for (size_t r0 = 0; r0 < fullRows; r0 += kTurnTargetRows) {
        const size_t r1 = std::min(fullRows, r0 + kTurnTargetRows);
        for (size_t x0 = 0; x0 < fullColumns; x0 += 8) {
            for (size_t r = r0; r < r1; r += 8) {
                // Clockwise the block's target rows r..r+7 come from source columns
                // width-8-r..width-1-r, last first; anticlockwise from columns r..r+7.
                const size_t column = kClockwise ? turn.width - 8 - r : r;
                uint64_t rows[8];
                for (size_t i = 0; i < 8; ++i)
                    std::memcpy(&rows[i],
                                turn.source +
                                    sourceRowOf<kClockwise>(turn, x0 + i) * turn.sourceStride +
                                    column,
                                8);
                transposeBlock(rows);
                for (size_t j = 0; j < 8; ++j)
                    std::memcpy(turn.target + (kClockwise ? r + 7 - j : r + j) * turn.targetStride +
                                    x0,
                                &rows[j], 8);
            }
        }
    }
    const auto moveOne = [&turn](size_t r, size_t x) {
        turn.target[r * turn.targetStride + x] =
            turn.source[sourceRowOf<kClockwise>(turn, x) * turn.sourceStride +
                        sourceColumnOf<kClockwise>(turn, r)];
    };
    for (size_t r = fullRows; r < turn.width; ++r)
        for (size_t x = 0; x < turn.height; ++x)
            moveOne(r, x);
    for (size_t r = 0; r < fullRows; ++r)
        for (size_t x = fullColumns; x < turn.height; ++x)
            moveOne(r, x);
}

#else

template <bool kClockwise> void turnBytes(const QuarterTurn& turn)
{
    turnPixels<1, kClockwise>(turn);
}

#endif

template <bool kClockwise> void turnPlane(const QuarterTurn& turn, size_t bytesPerPixel)
{
    switch (bytesPerPixel) {
    case 1:
        turnBytes<kClockwise>(turn);
        break;
    case 3:
        turnPixels<3, kClockwise>(turn);
        break;
    case 4:
        turnPixels<4, kClockwise>(turn);
        break;
    }
}

void turnQuarterPlane(const uint8_t* source, size_t sourceStride, size_t width, size_t height,
                      size_t bytesPerPixel, uint8_t* target, size_t targetStride, Rotation rotation)
{
    const QuarterTurn turn{source, sourceStride, width, height, target, targetStride};
    if (rotation == Rotation::Clockwise)
        turnPlane<true>(turn, bytesPerPixel);
    else
        turnPlane<false>(turn, bytesPerPixel);
}

// The note layer given a quarter turn with its picture; nothing when memory is short.
std::optional<NoteLayer> turnedNotes(const NoteLayer& notes, size_t width, size_t height,
                                     Rotation rotation)
{
    try {
        NoteLayer turned(notes.size());
        turnQuarterPlane(notes.data(), width, width, height, 1, turned.data(), height, rotation);
        return turned;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// A large new block gets its memory from the system page by page at the first write to each
// page. The turn writes all over the block, and first writes in that order cost far more than the
// same pages touched in order beforehand. The block is zero-filled already; the zeros written here
// change nothing.
void touchInOrder(uint8_t* block, size_t size)
{
    constexpr size_t kPage = 4096;
    for (size_t offset = 0; offset < size; offset += kPage)
        block[offset] = 0;
}

// A new block for the picture given a quarter turn: a 40-byte header with width and height
// exchanged (its colours-important field holding the bit count, as the reader's turned pictures
// always have), the colour table of an 8-bit picture and the turned pixel rows. An 8-bit picture
// keeps its table at its real size; the header then counts its entries (0 for a full table of
// 256), so the pixels lie right behind it. Null when the block cannot be had.
Dib quarterTurnedBlock(const Dib& image, const DibLayout& layout, Rotation rotation)
{
    const uint32_t newWidth = static_cast<uint32_t>(layout.height);
    const uint32_t newHeight = static_cast<uint32_t>(layout.width);
    auto stride = checkedRowStride(newWidth, layout.bitCount);
    auto pixelBytes = stride ? checkedImageBytes(*stride, newHeight) : std::nullopt;
    if (!pixelBytes)
        return Dib();
    const size_t colours = layout.bitCount == 8 ? layout.colorCount : 0;
    const size_t tableBytes = colours * 4;
    Dib turned = Dib::allocate(kInfoHeaderSize + tableBytes + *pixelBytes);
    if (turned.isNull())
        return turned;
    uint8_t* out = turned.data();
    touchInOrder(out, turned.size());
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
        for (size_t i = 0; i < colours; ++i)
            std::memcpy(out + kInfoHeaderSize + i * 4, table + i * 3, 3);
    turnQuarterPlane(image.data() + layout.pixelOffset, layout.stride,
                     static_cast<size_t>(layout.width), static_cast<size_t>(layout.height),
                     layout.bitCount / 8u, out + kInfoHeaderSize + tableBytes, *stride, rotation);
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
    if (code == kCodeAutoColor)
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
    // Every channel sum 0..765 worked out once, in double precision as the constant is written.
    // Each entry holds the grey twice, so blue and green are written in one go.
    std::array<uint16_t, 766> grey;
    for (size_t sum = 0; sum < grey.size(); ++sum)
        grey[sum] = static_cast<uint16_t>(static_cast<int>(static_cast<double>(sum) * kGreyFactor) *
                                          0x0101);
    for (size_t y = 0; y < area->height; ++y) {
        uint8_t* pixel = area->row(y);
        for (size_t x = 0; x < area->width; ++x, pixel += area->bytesPerPixel) {
            const uint16_t twice = grey[size_t{pixel[0]} + pixel[1] + pixel[2]];
            std::memcpy(pixel, &twice, 2);
            pixel[2] = static_cast<uint8_t>(twice);
        }
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

bool RotateImage(Dib& image, NoteLayer* notes, Rotation rotation)
{
    auto layout = DibGetLayout(image);
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
    Dib turned = quarterTurnedBlock(image, *layout, rotation);
    if (turned.isNull())
        return false;
    if (layer) {
        // Once its pixels are turned, the old block's rows (at least width x height bytes) carry
        // the turned notes on their way back into the layer: no second layer is needed.
        uint8_t* scratch = image.data() + layout->pixelOffset;
        turnQuarterPlane(layer->data(), width, width, height, 1, scratch, height, rotation);
        std::memcpy(layer->data(), scratch, layer->size());
    }
    image = std::move(turned);
    return true;
}

void ApplyAdjustments(Dib& display, int32_t code, uint16_t flags, NoteLayer* notes)
{
    applyColourSteps(display, code, flags);
    if (auto rotation = rotationOf(flags))
        RotateImage(display, notes, *rotation);
    applyFlips(display, flags, notes);
}

Dib MakeAdjustedCopy(const Dib& image, int32_t code, uint16_t flags, const NoteLayer* notes,
                     NoteLayer* noteCopy)
{
    // The colour steps treat every pixel alike (Auto Color and Auto Contrast look at all of them
    // together), so they give the same bytes before or after a turn: a quarter turn can be the
    // copy itself, and the colour steps follow it.
    const auto rotation = rotationOf(flags);
    auto layout = DibGetLayout(image);
    if (rotation && *rotation != Rotation::HalfTurn && layout &&
        isGeometricDepth(layout->bitCount)) {
        const size_t width = static_cast<size_t>(layout->width);
        const size_t height = static_cast<size_t>(layout->height);
        const bool moveNotes = notes && noteCopy && notes->size() == width * height;
        Dib turned = quarterTurnedBlock(image, *layout, *rotation);
        std::optional<NoteLayer> turnedLayer;
        if (!turned.isNull() && moveNotes)
            turnedLayer = turnedNotes(*notes, width, height, *rotation);
        if (!turned.isNull() && (!moveNotes || turnedLayer)) {
            NoteLayer* movedNotes = nullptr;
            if (notes && noteCopy) {
                *noteCopy = turnedLayer ? std::move(*turnedLayer) : *notes;
                movedNotes = noteCopy;
            }
            applyColourSteps(turned, code, flags);
            applyFlips(turned, flags, movedNotes);
            return turned;
        }
        // The turned block could not be had: the turn is skipped, as ApplyAdjustments would.
        flags = static_cast<uint16_t>(flags & ~kRotationFlags);
    }
    Dib copy = image.clone();
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
