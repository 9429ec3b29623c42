#include "reader/adjustments.h"

#include "reader/command_ids.h"
#include "support/dib_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ombri::reader {
namespace {

using test::dibDifference;
using test::pixelAt;

uint8_t* pixel(Dib& dib, int32_t x, int32_t yFromTop)
{
    return const_cast<uint8_t*>(pixelAt(dib, x, yFromTop));
}

// A 24-bit picture whose pixels all hold one blue, green and red, except the ones set later.
Dib plainPicture(int32_t width, int32_t height, uint8_t blue, uint8_t green, uint8_t red)
{
    Dib dib = Dib::create(width, height, 24);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = pixel(dib, x, y);
            p[0] = blue, p[1] = green, p[2] = red;
        }
    return dib;
}

// An 8-bit picture with a table of the given number of colours; pixel (x, y) holds x + 5y.
Dib eightBitPicture(int32_t width, int32_t height, uint32_t colours)
{
    Dib dib = Dib::allocate(kInfoHeaderSize + colours * 4 + DibRowStride(width, 8) * height);
    auto header = DibMakeHeader(width, height, 8, 0);
    std::memcpy(dib.data(), header.data(), header.size());
    dib.data()[32] = uint8_t(colours);
    for (uint32_t i = 0; i < colours * 4; ++i)
        dib.data()[kInfoHeaderSize + i] = uint8_t(i * 3 + 1);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            *pixel(dib, x, y) = uint8_t(x + 5 * y);
    return dib;
}

struct StateCase {
    const char* name;
    int32_t code;
    uint16_t flags;
    int command;
    int32_t expectedCode;
    uint16_t expectedFlags;
    bool changed;
};

TEST(Adjustments, CommandsChangeTheState)
{
    const StateCase cases[] = {
        {"original, nothing in force", 139, 0, cmd::Original, 139, 0, false},
        {"original clears", 0, 0x0216, cmd::Original, 139, 0, true},
        {"auto color on", 139, 0x0010, cmd::AutoColour, 133, 0x0010, true},
        {"auto color off", 133, 0x0010, cmd::AutoColour, 139, 0x0010, true},
        {"auto color ends channels", 0, 0x0008, cmd::AutoColour, 133, 0, true},
        {"red on", 139, 0, cmd::ChannelRed, 0, 0x0002, true},
        {"green beside red", 0, 0x0002, cmd::ChannelGreen, 0, 0x0006, true},
        {"red off, green stays", 0, 0x0006, cmd::ChannelRed, 0, 0x0004, true},
        {"last channel off", 0, 0x0004, cmd::ChannelGreen, 139, 0, true},
        {"blue on over auto color", 133, 0, cmd::ChannelBlue, 0, 0x0008, true},
        {"auto contrast", 139, 0, cmd::AutoContrast, 139, 0x0010, true},
        {"invert twice", 139, 0x0020, cmd::InvertColour, 139, 0, true},
        {"black and white", 139, 0, cmd::BlackAndWhite, 139, 0x0080, true},
        {"flips", 139, 0x0100, cmd::FlipVertical, 139, 0x0300, true},
        {"cw from none", 139, 0x0100, cmd::RotateClockwise, 139, 0x0500, true},
        {"cw from cw", 139, 0x0400, cmd::RotateClockwise, 139, 0x1000, true},
        {"cw from 180", 139, 0x1000, cmd::RotateClockwise, 139, 0x0800, true},
        {"cw from ccw", 139, 0x0800, cmd::RotateClockwise, 139, 0, true},
        {"ccw from none", 139, 0, cmd::RotateAnticlockwise, 139, 0x0800, true},
        {"ccw from ccw", 139, 0x0800, cmd::RotateAnticlockwise, 139, 0x1000, true},
        {"ccw from 180", 139, 0x1000, cmd::RotateAnticlockwise, 139, 0x0400, true},
        {"ccw from cw", 139, 0x0400, cmd::RotateAnticlockwise, 139, 0, true},
        {"rotate 180 has no handler", 139, 0, cmd::Rotate180, 139, 0, false},
        {"unknown command", 133, 0x20, 32797, 133, 0x20, false},
    };
    for (const auto& c : cases) {
        Adjustments state{c.code, c.flags};
        EXPECT_EQ(state.apply(c.command), c.changed) << c.name;
        EXPECT_EQ(state.code, c.expectedCode) << c.name;
        EXPECT_EQ(state.flags, c.expectedFlags) << c.name;
    }
}

TEST(Adjustments, MenuRules)
{
    const Adjustments state{kCodeOriginal, kFlagRed | kFlagFlipHorizontal | kFlagRotatedClockwise};
    const struct {
        int command;
        bool on8, on24, none, checked;
    } cases[] = {
        {cmd::Original, false, true, false, true},
        {cmd::AutoColour, false, true, false, false},
        {cmd::ChannelRed, false, true, false, true},
        {cmd::ChannelGreen, false, true, false, false},
        {cmd::FlipHorizontal, true, true, false, true},
        {cmd::FlipVertical, true, true, false, false},
        {cmd::RotateClockwise, true, true, false, false},
        {cmd::Rotate180, false, false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(state.isEnabled(c.command, 8), c.on8) << c.command;
        EXPECT_EQ(state.isEnabled(c.command, 24), c.on24) << c.command;
        EXPECT_EQ(state.isEnabled(c.command, 32), c.on24) << c.command;
        EXPECT_EQ(state.isEnabled(c.command, 0), c.none) << c.command;
        EXPECT_EQ(state.isChecked(c.command), c.checked) << c.command;
    }
}

TEST(ColourSteps, AutoContrastStretchesWithASinglePrecisionFactor)
{
    const struct {
        uint8_t low, high, probe, expected;
    } cases[] = {
        {50, 150, 50, 0},    {50, 150, 100, 127}, {50, 150, 150, 254},
        {20, 220, 220, 254}, {0, 255, 200, 200},  {10, 61, 61, 255},
    };
    for (const auto& c : cases) {
        Dib image = plainPicture(3, 1, c.low, c.low, c.low);
        pixel(image, 1, 0)[1] = c.high;
        pixel(image, 2, 0)[2] = c.probe;
        AutoContrast(image);
        EXPECT_EQ(pixelAt(image, 2, 0)[2], c.expected) << int(c.low) << ".." << int(c.high);
    }
}

TEST(ColourSteps, StretchMatchesTheFormulaForEveryRange)
{
    for (int range = 1; range <= 254; ++range) {
        const int smallest = (range * 7) % (256 - range);
        // Every value of the range once, in all three channels, in a 32-bit picture whose fourth
        // byte must stay.
        Dib image = Dib::create(range + 1, 1, 32);
        for (int d = 0; d <= range; ++d) {
            uint8_t* p = pixel(image, d, 0);
            p[0] = p[1] = p[2] = uint8_t(smallest + d);
            p[3] = uint8_t(d);
        }
        AutoContrast(image);
        const float factor = static_cast<float>(255.0 / range);
        for (int d = 0; d <= range; ++d) {
            const uint8_t* p = pixelAt(image, d, 0);
            ASSERT_EQ(p[1], int(double(factor) * d)) << "range " << range << " value " << d;
            ASSERT_EQ(p[3], d);
        }
    }
}

TEST(ColourSteps, AutoColorStretchesEachChannel)
{
    Dib image = plainPicture(2, 1, 10, 50, 0);
    uint8_t* second = pixel(image, 1, 0);
    second[0] = 61, second[1] = 150, second[2] = 200;
    AutoColor(image);
    EXPECT_EQ(pixelAt(image, 0, 0)[1], 0);
    EXPECT_EQ(pixelAt(image, 1, 0)[0], 255); // 255 / 51 is exact
    EXPECT_EQ(pixelAt(image, 1, 0)[1], 254); // 255 / 100 is not
    EXPECT_EQ(pixelAt(image, 1, 0)[2], 254); // nor 255 / 200

    // A constant channel stops the whole step, the other channels too.
    Dib constantBlue = plainPicture(2, 1, 90, 40, 40);
    pixel(constantBlue, 1, 0)[1] = 140;
    pixel(constantBlue, 1, 0)[2] = 200;
    const Dib before = constantBlue.clone();
    AutoColor(constantBlue);
    EXPECT_EQ(dibDifference(constantBlue, before), "");
}

// Auto Color and Auto Contrast written out plainly: each channel's (or all channels') smallest
// and largest value over every pixel, then trunc(f x (v - smallest)) with f the single-precision
// factor 255 / range and the product formed in double. Nothing changes for a constant channel
// (Auto Color: any channel; Auto Contrast: the whole picture) or when the range is already full.
Dib referenceStretch(const Dib& image, bool eachChannel)
{
    Dib out = image.clone();
    const int32_t w = DibGetWidth(image), h = DibGetHeight(image);
    int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = pixelAt(image, x, y)[c];
                const int slot = eachChannel ? c : 0;
                low[slot] = std::min(low[slot], v);
                high[slot] = std::max(high[slot], v);
            }
    if (!eachChannel)
        for (int c = 1; c < 3; ++c)
            low[c] = low[0], high[c] = high[0];
    bool full = true;
    for (int c = 0; c < 3; ++c) {
        if (low[c] == high[c])
            return out;
        full = full && low[c] == 0 && high[c] == 255;
    }
    if (full)
        return out;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                uint8_t* p = pixel(out, x, y);
                const float factor = static_cast<float>(255.0 / (high[c] - low[c]));
                p[c] = uint8_t(int(double(factor) * (p[c] - low[c])));
            }
    return out;
}

// Random bytes over the whole pixel block, row padding and fourth bytes included (they must
// stay), each channel squeezed into its own span.
Dib randomPicture(int32_t w, int32_t h, uint16_t bits, uint32_t seed, const int (&from)[3],
                  const int (&to)[3])
{
    Dib dib = Dib::create(w, h, bits);
    uint32_t state = seed * 2654435761u + 3;
    const size_t bytes = DibRowStride(w, bits) * size_t(h);
    for (size_t i = 0; i < bytes; ++i) {
        state = state * 1103515245u + 12345u;
        DibPixelStart(dib)[i] = uint8_t(state >> 16);
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                uint8_t* p = pixel(dib, x, y);
                p[c] = uint8_t(from[c] + p[c] % (to[c] - from[c] + 1));
            }
    return dib;
}

TEST(ColourSteps, StretchesOfRandomPicturesMatchThePlainFormula)
{
    const struct {
        const char* name;
        int from[3], to[3];
    } spans[] = {
        {"squeezed", {16, 16, 16}, {239, 239, 239}},
        {"each channel its own", {3, 40, 100}, {200, 41, 180}},
        {"one channel saturated", {0, 20, 30}, {255, 220, 130}},
        {"all saturated", {0, 0, 0}, {255, 255, 255}},
        {"one channel constant", {10, 77, 5}, {250, 77, 200}},
        {"all constant", {90, 90, 90}, {90, 90, 90}},
        {"narrow", {128, 127, 128}, {129, 128, 128}},
    };
    const std::pair<int32_t, int32_t> sizes[] = {{47, 33}, {1, 50}, {50, 1},  {16, 1},
                                                 {12, 3},  {17, 2}, {100, 7}, {1, 1}};
    for (uint16_t bits : {24, 32})
        for (auto [w, h] : sizes)
            for (const auto& span : spans)
                for (uint32_t seed = 1; seed <= 2; ++seed) {
                    const Dib image = randomPicture(w, h, bits, seed, span.from, span.to);
                    const auto where = ::testing::Message() << bits << "-bit " << w << "x" << h
                                                            << " " << span.name << " " << seed;
                    Dib colour = image.clone();
                    AutoColor(colour);
                    EXPECT_EQ(dibDifference(colour, referenceStretch(image, true)), "") << where;
                    Dib contrast = image.clone();
                    AutoContrast(contrast);
                    EXPECT_EQ(dibDifference(contrast, referenceStretch(image, false)), "") << where;
                }
}

// The smallest and largest values are found wherever they lie: in any byte position of the
// 16-pixel blocks, in the pixels behind the last whole block, in the first or last row.
TEST(ColourSteps, ExtremesAnywhereInThePictureAreFound)
{
    for (uint16_t bits : {24, 32})
        for (auto [w, h] : {std::pair<int32_t, int32_t>{37, 3}, {16, 2}, {1, 3}})
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    for (int c = 0; c < 3; ++c) {
                        Dib image = plainPicture(w, h, 100, 110, 120);
                        if (bits == 32) {
                            image = Dib::create(w, h, 32);
                            for (int32_t yy = 0; yy < h; ++yy)
                                for (int32_t xx = 0; xx < w; ++xx) {
                                    uint8_t* p = pixel(image, xx, yy);
                                    p[0] = 100, p[1] = 110, p[2] = 120, p[3] = 0;
                                }
                        }
                        // Every channel must vary for Auto Color to act.
                        pixel(image, 0, 0)[0] = 101, pixel(image, 0, 0)[1] = 111;
                        pixel(image, 0, 0)[2] = 121;
                        if (x == 0 && y == 0)
                            continue;
                        pixel(image, x, y)[c] = 30;
                        const auto where = ::testing::Message()
                                           << bits << "-bit " << w << "x" << h << " at " << x << ","
                                           << y << " channel " << c;
                        Dib colour = image.clone();
                        AutoColor(colour);
                        ASSERT_EQ(dibDifference(colour, referenceStretch(image, true)), "")
                            << where;
                        ASSERT_EQ(pixelAt(colour, x, y)[c], 0) << where;
                        Dib contrast = image.clone();
                        AutoContrast(contrast);
                        ASSERT_EQ(dibDifference(contrast, referenceStretch(image, false)), "")
                            << where;
                    }
}

TEST(ColourSteps, GreyUsesTheConstantNotAThird)
{
    // Every channel sum from 0 to 765 once.
    Dib image = Dib::create(766, 1, 32);
    for (int sum = 0; sum <= 765; ++sum) {
        uint8_t* p = pixel(image, sum, 0);
        p[0] = uint8_t(std::min(sum, 255));
        p[1] = uint8_t(std::min(std::max(sum - 255, 0), 255));
        p[2] = uint8_t(std::max(sum - 510, 0));
        p[3] = 9;
    }
    Grayscale(image);
    for (int sum = 0; sum <= 765; ++sum) {
        const uint8_t* p = pixelAt(image, sum, 0);
        const int expected = static_cast<int>(sum * 0.333333);
        ASSERT_EQ(p[0], expected) << sum;
        ASSERT_EQ(p[2], expected) << sum;
        ASSERT_EQ(p[3], 9) << sum;
    }
    EXPECT_EQ(pixelAt(image, 765, 0)[1], 254);
    EXPECT_EQ(pixelAt(image, 3, 0)[1], 0);
}

// A deterministic stream of bytes for the randomised cases.
class ByteStream {
  public:
    explicit ByteStream(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    uint8_t next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(m_state >> 24);
    }

  private:
    uint32_t m_state;
};

int greyOf(int blue, int green, int red)
{
    return static_cast<int>(static_cast<double>(blue + green + red) * 0.333333);
}

TEST(ColourSteps, GreyOfEveryColourIsTheChannelSumTimesTheConstant)
{
    // All 2^24 colours, in rows of 4093 pixels: no multiple of the runs a row may be worked in,
    // so that every place in a run and the row's end are met by many colours. The fourth byte of
    // a 32-bit picture and the padding byte behind each 24-bit row must come through untouched.
    constexpr int32_t kWidth = 4093;
    constexpr uint32_t kColours = 1u << 24;
    constexpr int32_t kHeight = static_cast<int32_t>((kColours + kWidth - 1) / kWidth);
    for (uint16_t bits : {24, 32}) {
        Dib image = Dib::create(kWidth, kHeight, bits);
        auto layout = dibGetLayout(image);
        ASSERT_TRUE(layout);
        const size_t bytes = bits / 8u;
        const size_t used = kWidth * bytes;
        const auto colourAt = [](int32_t x, int32_t y) {
            return (static_cast<uint32_t>(y) * kWidth + static_cast<uint32_t>(x)) % kColours;
        };
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = image.data() + layout->pixelOffset + y * layout->stride;
            for (int32_t x = 0; x < kWidth; ++x) {
                const uint32_t colour = colourAt(x, y);
                uint8_t* p = row + x * bytes;
                p[0] = uint8_t(colour), p[1] = uint8_t(colour >> 8), p[2] = uint8_t(colour >> 16);
                if (bytes == 4)
                    p[3] = uint8_t(colour * 7);
            }
            std::memset(row + used, 0xA5, layout->stride - used);
        }
        Grayscale(image);
        for (int32_t y = 0; y < kHeight; ++y) {
            const uint8_t* row = image.data() + layout->pixelOffset + y * layout->stride;
            for (int32_t x = 0; x < kWidth; ++x) {
                const uint32_t colour = colourAt(x, y);
                const int grey = greyOf(colour & 0xFF, (colour >> 8) & 0xFF, colour >> 16);
                const uint8_t* p = row + x * bytes;
                ASSERT_TRUE(p[0] == grey && p[1] == grey && p[2] == grey)
                    << bits << "-bit colour " << colour << " gave " << int(p[0]) << "," << int(p[1])
                    << "," << int(p[2]) << " instead of " << grey;
                if (bytes == 4) {
                    ASSERT_EQ(p[3], uint8_t(colour * 7)) << colour;
                }
            }
            for (size_t i = used; i < layout->stride; ++i)
                ASSERT_EQ(row[i], 0xA5) << "padding of row " << y;
        }
    }
}

TEST(ColourSteps, GreyOfNarrowPicturesAndRowEnds)
{
    // Every width up to a few runs, random colours, padding and fourth bytes marked.
    for (uint16_t bits : {24, 32})
        for (int32_t width = 1; width <= 53; ++width) {
            Dib image = Dib::create(width, 3, bits);
            auto layout = dibGetLayout(image);
            ASSERT_TRUE(layout);
            ByteStream random(static_cast<uint32_t>(width * bits));
            uint8_t* pixels = image.data() + layout->pixelOffset;
            for (size_t i = 0; i < layout->pixelBytes; ++i)
                pixels[i] = random.next();
            const std::vector<uint8_t> before(pixels, pixels + layout->pixelBytes);
            Grayscale(image);
            const size_t bytes = bits / 8u;
            for (size_t y = 0; y < 3; ++y) {
                const size_t row = y * layout->stride;
                for (size_t x = 0; x < size_t(width); ++x) {
                    const uint8_t* was = &before[row + x * bytes];
                    const uint8_t* now = pixels + row + x * bytes;
                    const int grey = greyOf(was[0], was[1], was[2]);
                    ASSERT_TRUE(now[0] == grey && now[1] == grey && now[2] == grey)
                        << bits << "-bit width " << width << " pixel " << x;
                    if (bytes == 4) {
                        ASSERT_EQ(now[3], was[3]);
                    }
                }
                for (size_t i = width * bytes; i < layout->stride; ++i)
                    ASSERT_EQ(pixels[row + i], before[row + i]) << "padding, width " << width;
            }
        }
}

TEST(ColourSteps, ChannelsInvertAndPaddingFromApplyAdjustments)
{
    // 47 pixels of 3 bytes leave 3 bytes of padding in each row; they must survive every step.
    const struct {
        uint16_t flags;
        uint8_t blue, green, red;
    } cases[] = {
        {kFlagRed | kFlagGreen, 0, 20, 30},
        {kFlagBlue, 10, 0, 0},
        {kFlagRed | kFlagGreen | kFlagBlue, 10, 20, 30},
        {kFlagInvert, 245, 235, 225},
        {kFlagRed | kFlagInvert, 255, 255, 225},
    };
    for (const auto& c : cases) {
        Dib image = plainPicture(47, 3, 10, 20, 30);
        uint8_t* padding = DibPixelStart(image) + 141;
        std::memset(padding, 0xAB, 3);
        ApplyAdjustments(image, kCodeNone, c.flags, nullptr);
        const uint8_t* p = pixelAt(image, 46, 1);
        EXPECT_EQ(p[0], c.blue) << c.flags;
        EXPECT_EQ(p[1], c.green) << c.flags;
        EXPECT_EQ(p[2], c.red) << c.flags;
        EXPECT_EQ(padding[0] & padding[1] & padding[2], 0xAB) << c.flags;
    }
    Dib image = test::makePatternImage(47, 33, 32);
    const Dib before = image.clone();
    InvertColors(image);
    EXPECT_NE(dibDifference(image, before), "");
    InvertColors(image);
    EXPECT_EQ(dibDifference(image, before), "");
}

// Where the pixel at (x, y) from the top of a width x height picture lands after the turn.
std::pair<int32_t, int32_t> turned(Rotation rotation, int32_t x, int32_t y, int32_t w, int32_t h)
{
    switch (rotation) {
    case Rotation::Clockwise:
        return {h - 1 - y, x};
    case Rotation::Anticlockwise:
        return {y, w - 1 - x};
    case Rotation::HalfTurn:
        break;
    }
    return {w - 1 - x, h - 1 - y};
}

TEST(GeometricSteps, TurnsMovePixelsAndNotesTogether)
{
    // Sizes on either side of the 8 x 8 blocks, and a single column.
    const std::pair<int32_t, int32_t> sizes[] = {{47, 33}, {16, 9}, {1, 7}};
    for (auto [w, h] : sizes)
        for (uint16_t bits : {8, 24, 32})
            for (Rotation rotation :
                 {Rotation::Clockwise, Rotation::Anticlockwise, Rotation::HalfTurn}) {
                Dib image =
                    bits == 8 ? eightBitPicture(w, h, 200) : test::makePatternImage(w, h, bits);
                const Dib before = image.clone();
                const NoteLayer notesBefore = test::makePatternNotes(w, h);
                NoteLayer notes = notesBefore;
                ASSERT_TRUE(RotateImage(image, &notes, rotation));
                const bool quarter = rotation != Rotation::HalfTurn;
                const int32_t nw = quarter ? h : w, nh = quarter ? w : h;
                ASSERT_EQ(DibGetWidth(image), nw);
                ASSERT_EQ(DibGetHeight(image), nh);
                const auto where = ::testing::Message()
                                   << w << "x" << h << " " << bits << "-bit turn " << int(rotation);
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) {
                        auto [tx, ty] = turned(rotation, x, y, w, h);
                        ASSERT_EQ(
                            std::memcmp(pixelAt(image, tx, ty), pixelAt(before, x, y), bits / 8), 0)
                            << where << " at " << x << "," << y;
                        ASSERT_EQ(notes[size_t(nh - 1 - ty) * nw + tx],
                                  notesBefore[size_t(h - 1 - y) * w + x])
                            << where;
                    }
                // Padding stays zero.
                const size_t used = size_t(nw) * (bits / 8), stride = DibRowStride(nw, bits);
                for (int32_t row = 0; row < nh; ++row)
                    for (size_t i = used; i < stride; ++i)
                        ASSERT_EQ(DibPixelStart(image)[row * stride + i], 0) << where;
            }
}

// A layer blank but for short strokes of assorted values here and there, as handwriting leaves
// it: some 16 x 16 squares hold notes and most hold none.
NoteLayer strokeNotes(int32_t width, int32_t height, uint32_t seed)
{
    NoteLayer notes(static_cast<size_t>(width) * static_cast<size_t>(height));
    ByteStream random(seed);
    const size_t strokes = notes.size() / 300 + 1;
    for (size_t k = 0; k < strokes; ++k) {
        size_t at = (size_t(random.next()) << 16 | size_t(random.next()) << 8 | random.next()) %
                    notes.size();
        for (int length = random.next() % 6; length >= 0 && at < notes.size(); --length, ++at)
            notes[at] = static_cast<uint8_t>(random.next() | 1);
    }
    return notes;
}

// Compares a turned picture and layer with the pixel-by-pixel rule of turned().
::testing::AssertionResult turnedAsExpected(const Dib& before, const NoteLayer& notesBefore,
                                            const Dib& after, const NoteLayer& notesAfter,
                                            Rotation rotation)
{
    const int32_t w = DibGetWidth(before), h = DibGetHeight(before);
    const bool quarter = rotation != Rotation::HalfTurn;
    const int32_t nw = quarter ? h : w, nh = quarter ? w : h;
    if (DibGetWidth(after) != nw || DibGetHeight(after) != nh)
        return ::testing::AssertionFailure()
               << "size " << DibGetWidth(after) << "x" << DibGetHeight(after);
    const uint16_t bits = DibGetBitCount(before);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            auto [tx, ty] = turned(rotation, x, y, w, h);
            if (std::memcmp(pixelAt(after, tx, ty), pixelAt(before, x, y), bits / 8) != 0)
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
            if (notesAfter[size_t(nh - 1 - ty) * nw + tx] != notesBefore[size_t(h - 1 - y) * w + x])
                return ::testing::AssertionFailure() << "note " << x << "," << y;
        }
    const size_t used = size_t(nw) * (bits / 8), stride = DibRowStride(nw, bits);
    for (int32_t row = 0; row < nh; ++row)
        for (size_t i = used; i < stride; ++i)
            if (DibPixelStart(after)[row * stride + i] != 0)
                return ::testing::AssertionFailure() << "padding of row " << row;
    return ::testing::AssertionSuccess();
}

TEST(GeometricSteps, TurnsOfRandomPicturesAtAwkwardSizes)
{
    // Single rows and columns, sizes on either side of the 16 x 16 squares the layer is worked
    // in, and pictures wider than the 1024 columns a turn takes at a time; sparse and dense
    // layers; every depth, both through RotateImage and through makeAdjustedCopy.
    const std::pair<int32_t, int32_t> sizes[] = {{47, 33},  {33, 47},  {1, 37},  {37, 1},
                                                 {1, 1},    {16, 16},  {17, 15}, {64, 32},
                                                 {9, 1031}, {1031, 9}, {3, 1029}};
    uint32_t seed = 1;
    for (auto [w, h] : sizes)
        for (uint16_t bits : {8, 24, 32})
            for (bool sparse : {true, false}) {
                ++seed;
                Dib image = bits == 8 ? eightBitPicture(w, h, 256)
                                      : test::makePatternImage(w, h, bits, seed);
                if (bits == 8) {
                    ByteStream random(seed);
                    for (int32_t y = 0; y < h; ++y)
                        for (int32_t x = 0; x < w; ++x)
                            *pixel(image, x, y) = random.next();
                }
                const NoteLayer notes =
                    sparse ? strokeNotes(w, h, seed) : test::makePatternNotes(w, h, seed);
                for (Rotation rotation :
                     {Rotation::Clockwise, Rotation::Anticlockwise, Rotation::HalfTurn}) {
                    const auto where = ::testing::Message()
                                       << w << "x" << h << " " << bits << "-bit, "
                                       << (sparse ? "sparse" : "dense") << " notes, turn "
                                       << int(rotation);
                    Dib rotated = image.clone();
                    NoteLayer rotatedNotes = notes;
                    ASSERT_TRUE(RotateImage(rotated, &rotatedNotes, rotation)) << where;
                    EXPECT_TRUE(turnedAsExpected(image, notes, rotated, rotatedNotes, rotation))
                        << where;

                    const uint16_t flag = rotation == Rotation::Clockwise ? kFlagRotatedClockwise
                                          : rotation == Rotation::Anticlockwise
                                              ? kFlagRotatedAnticlockwise
                                              : kFlagRotated180;
                    NoteLayer copiedNotes;
                    const Dib copy =
                        makeAdjustedCopy(image, kCodeOriginal, flag, &notes, &copiedNotes);
                    EXPECT_TRUE(turnedAsExpected(image, notes, copy, copiedNotes, rotation))
                        << where << " (adjusted copy)";
                }
            }
}

TEST(GeometricSteps, ThreeClockwiseTurnsAreOneAnticlockwise)
{
    const Dib start = test::makePatternImage(5, 3, 24);
    Dib three = start.clone();
    NoteLayer threeNotes = test::makePatternNotes(5, 3);
    for (int i = 0; i < 3; ++i)
        RotateImage(three, &threeNotes, Rotation::Clockwise);
    Dib once = start.clone();
    NoteLayer onceNotes = test::makePatternNotes(5, 3);
    RotateImage(once, &onceNotes, Rotation::Anticlockwise);
    EXPECT_EQ(dibDifference(three, once), "");
    EXPECT_EQ(threeNotes, onceNotes);
    // The header of a turned block: width and height exchanged, colours important = bit count.
    EXPECT_EQ(once.data()[36], 24);
}

TEST(GeometricSteps, NoteOnTopLeftEndsTopRightAfterAClockwiseTurn)
{
    Dib image = Dib::create(3, 2, 24);
    NoteLayer notes(6);
    notes[3] = 1; // top row, first column (rows bottom first)
    ApplyAdjustments(image, kCodeOriginal, kFlagRotatedClockwise, &notes);
    ASSERT_EQ(DibGetWidth(image), 2);
    ASSERT_EQ(DibGetHeight(image), 3);
    EXPECT_EQ(notes, (NoteLayer{0, 0, 0, 0, 0, 1}));
}

TEST(GeometricSteps, EightBitPicturesKeepTheirColourTable)
{
    // 16 colours: the table keeps its real size and the header counts it.
    Dib image = eightBitPicture(5, 3, 16);
    const Dib before = image.clone();
    Grayscale(image);
    AutoContrast(image);
    EXPECT_EQ(dibDifference(image, before), "") << "colour steps leave 8-bit pictures alone";

    ApplyAdjustments(image, kCodeOriginal, kFlagRotatedClockwise | kFlagFlipHorizontal, nullptr);
    auto layout = dibGetLayout(image);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->colourCount, 16u);
    EXPECT_EQ(layout->width, 3);
    EXPECT_EQ(layout->height, 5);
    EXPECT_EQ(std::memcmp(image.data() + kInfoHeaderSize, before.data() + kInfoHeaderSize, 16 * 4),
              0);
    // Clockwise, then mirrored: the old top-left pixel ends at the top-left again.
    EXPECT_EQ(*pixelAt(image, 0, 0), 0);
    EXPECT_EQ(*pixelAt(image, 2, 4), 14);
}

// An 8-bit picture with the 12-byte header, whose table entries are three bytes.
Dib coreHeaderPicture(int32_t width, int32_t height)
{
    const size_t stride = DibRowStride(width, 8);
    Dib dib = Dib::allocate(kCoreHeaderSize + 256 * 3 + stride * size_t(height));
    uint8_t* out = dib.data();
    const uint8_t header[12] = {
        12, 0, 0, 0, uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8),
        1,  0, 8, 0};
    std::memcpy(out, header, sizeof header);
    for (size_t i = 0; i < 256 * 3; ++i)
        out[kCoreHeaderSize + i] = uint8_t(i * 7 + 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            out[kCoreHeaderSize + 256 * 3 + size_t(y) * stride + size_t(x)] = uint8_t(x * 11 + y);
    return dib;
}

// A block the size of block plus extra, full of bytes a turn must not leave behind.
Dib usedBlock(size_t bytes)
{
    Dib block = Dib::allocate(bytes);
    std::memset(block.data(), 0xCD, block.size());
    return block;
}

TEST(GeometricSteps, TurnsIntoAUsedBlockGiveTheSameBytes)
{
    // Rows padded differently after the turn, an 8-bit picture with each header size, and a
    // spare too small to be used, which is let go.
    struct Case {
        const char* name;
        Dib image;
        size_t spareBytes;
    };
    std::vector<Case> cases;
    cases.push_back({"24-bit 7x5", test::makePatternImage(7, 5, 24), 200});
    cases.push_back({"32-bit 6x9", test::makePatternImage(6, 9, 32), 400});
    cases.push_back({"8-bit 5x3", eightBitPicture(5, 3, 16), 200});
    cases.push_back({"core header 9x4", coreHeaderPicture(9, 4), 2000});
    cases.push_back({"spare too small", test::makePatternImage(7, 5, 24), 20});
    for (const Case& c : cases)
        for (Rotation rotation : {Rotation::Clockwise, Rotation::Anticlockwise}) {
            const auto where = ::testing::Message() << c.name << ", turn " << int(rotation);
            const int32_t w = DibGetWidth(c.image), h = DibGetHeight(c.image);
            const NoteLayer notes = test::makePatternNotes(w, h);
            Dib expected = c.image.clone();
            NoteLayer expectedNotes = notes;
            ASSERT_TRUE(RotateImage(expected, &expectedNotes, rotation)) << where;

            Dib turned = c.image.clone();
            NoteLayer turnedNotes = notes;
            Dib spare = usedBlock(c.spareBytes);
            const uint8_t* spareBlock = spare.data();
            ASSERT_TRUE(RotateImage(turned, &turnedNotes, rotation, &spare)) << where;
            EXPECT_EQ(dibDifference(turned, expected), "") << where;
            EXPECT_EQ(turnedNotes, expectedNotes) << where;
            const bool fits = c.spareBytes >= expected.size();
            EXPECT_EQ(turned.data() == spareBlock, fits) << where;
            EXPECT_EQ(spare.size(), c.image.size()) << where << ": the old block is handed back";

            const uint16_t flag =
                rotation == Rotation::Clockwise ? kFlagRotatedClockwise : kFlagRotatedAnticlockwise;
            for (uint16_t extra : {uint16_t{0}, uint16_t(kFlagFlipVertical | kFlagInvert)}) {
                Dib expectedCopy = c.image.clone();
                NoteLayer expectedCopyNotes = notes;
                ApplyAdjustments(expectedCopy, kCodeOriginal, flag | extra, &expectedCopyNotes);
                NoteLayer copyNotes;
                const Dib copy = makeAdjustedCopy(c.image, kCodeOriginal, flag | extra, &notes,
                                                  &copyNotes, usedBlock(c.spareBytes));
                EXPECT_EQ(dibDifference(copy, expectedCopy), "") << where << " (adjusted copy)";
                EXPECT_EQ(copyNotes, expectedCopyNotes) << where << " (adjusted copy)";
            }
            // Without a turn the used block takes a plain copy.
            Dib expectedPlain = c.image.clone();
            InvertColors(expectedPlain);
            const Dib plain = makeAdjustedCopy(c.image, kCodeOriginal, kFlagInvert, nullptr,
                                               nullptr, usedBlock(c.spareBytes));
            EXPECT_EQ(dibDifference(plain, expectedPlain), "") << where << " (plain copy)";
        }
}

TEST(GeometricSteps, AdjustedCopyEqualsCloneAndApply)
{
    const uint16_t flagSets[] = {
        0,
        kFlagRotatedClockwise | kFlagFlipHorizontal,
        kFlagRotatedAnticlockwise | kFlagFlipVertical | kFlagAutoContrast,
        kFlagRotated180 | kFlagRed | kFlagBlackAndWhite,
        kFlagRotatedClockwise | kFlagInvert | kFlagGreen | kFlagBlue,
    };
    for (uint16_t bits : {24, 32})
        for (uint16_t flags : flagSets)
            for (int32_t code : {kCodeOriginal, kCodeAutoColour}) {
                const Dib image = test::makePatternImage(13, 7, bits);
                const NoteLayer notes = test::makePatternNotes(13, 7);
                Dib expected = image.clone();
                NoteLayer expectedNotes = notes;
                ApplyAdjustments(expected, code, flags, &expectedNotes);
                NoteLayer copyNotes;
                const Dib copy = makeAdjustedCopy(image, code, flags, &notes, &copyNotes);
                EXPECT_EQ(dibDifference(copy, expected), "") << bits << " " << flags << " " << code;
                EXPECT_EQ(copyNotes, expectedNotes) << bits << " " << flags << " " << code;
            }
}

} // namespace
} // namespace ombri::reader
