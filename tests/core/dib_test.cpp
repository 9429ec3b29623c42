#include "core/bytes.h"
#include "core/dib.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ombri {
namespace {

// A palette image with a 40-byte header; the table is left zero and the pixels follow it.
Dib makeIndexed(int32_t width, int32_t height, uint16_t bitCount, uint32_t coloursUsed)
{
    const uint32_t entries = coloursUsed != 0 ? coloursUsed : 1u << bitCount;
    Dib dib = Dib::allocate(kInfoHeaderSize + entries * 4 + DibRowStride(width, bitCount) * height);
    auto header = DibMakeHeader(width, height, bitCount, 0);
    std::memcpy(dib.data(), header.data(), header.size());
    writeLe32(dib.data() + 32, coloursUsed);
    return dib;
}

void setEntry(Dib& dib, size_t index, uint8_t blue, uint8_t green, uint8_t red)
{
    uint8_t* entry = dib.data() + kInfoHeaderSize + 4 * index;
    entry[0] = blue;
    entry[1] = green;
    entry[2] = red;
}

TEST(DibStride, PadsRowsToFourBytes)
{
    struct Case {
        uint32_t width, bitCount;
        size_t stride;
    };
    for (const Case& c :
         {Case{1, 24, 4}, Case{3, 24, 12}, Case{4, 24, 12}, Case{1, 32, 4}, Case{5, 32, 20},
          Case{1, 1, 4}, Case{33, 1, 8}, Case{9, 4, 8}, Case{5, 8, 8}, Case{3, 16, 8}})
        EXPECT_EQ(DibRowStride(c.width, c.bitCount), c.stride) << c.width << "x" << c.bitCount;
}

TEST(DibLayoutRules, ColourTableOfEightBitImageFollowsColoursUsed)
{
    Dib full = makeIndexed(3, 2, 8, 0);
    EXPECT_EQ(DibGetColorCount(full), 256u);
    EXPECT_EQ(DibGetColorTableBytes(full), 1024u);
    EXPECT_EQ(DibPixelStart(full) - full.data(), 1064);

    Dib partial = makeIndexed(3, 2, 8, 20);
    EXPECT_EQ(DibGetColorCount(partial), 20u);
    EXPECT_EQ(DibPixelStart(partial) - partial.data(), 120);
}

TEST(DibLayoutRules, CoreHeaderHasThreeByteEntriesAndUnsignedSizes)
{
    const uint16_t width = 40000;
    Dib dib = Dib::allocate(12 + 256 * 3 + DibRowStride(width, 8) * 2);
    writeLe32(dib.data(), 12);
    writeLe16(dib.data() + 4, width);
    writeLe16(dib.data() + 6, 2);
    writeLe16(dib.data() + 8, 1);
    writeLe16(dib.data() + 10, 8);
    EXPECT_EQ(DibGetWidth(dib), 40000);
    EXPECT_EQ(DibGetHeight(dib), 2);
    EXPECT_EQ(DibGetColorCount(dib), 256u);
    EXPECT_EQ(DibGetColorTableBytes(dib), 768u);
    EXPECT_EQ(DibPixelStart(dib) - dib.data(), 12 + 768);
}

TEST(DibLayoutRules, RefusesBlocksThatDoNotHoldWhatTheHeaderClaims)
{
    EXPECT_FALSE(dibGetLayout(Dib()));
    EXPECT_EQ(DibGetWidth(Dib()), 0);
    EXPECT_EQ(DibGetHeight(Dib()), 0);

    const Dib good = test::makePatternImage(5, 4, 24);
    ASSERT_TRUE(dibGetLayout(good));
    Dib shortBlock = Dib::allocate(good.size() - 1);
    std::memcpy(shortBlock.data(), good.data(), shortBlock.size());
    EXPECT_FALSE(dibGetLayout(shortBlock));
    EXPECT_EQ(DibPixelStart(shortBlock), nullptr);

    Dib headerOnly = Dib::allocate(kInfoHeaderSize + 100);
    std::memcpy(headerOnly.data(), good.data(), kInfoHeaderSize);
    writeLe16(headerOnly.data() + 14, 8); // the 1,024-byte table does not fit
    EXPECT_FALSE(dibGetLayout(headerOnly));

    for (auto mutate : {+[](uint8_t* p) { writeLe32(p, 20); }, // unknown header size
                        +[](uint8_t* p) { writeLe32(p + 4, 0); },
                        +[](uint8_t* p) { writeLe32(p + 8, static_cast<uint32_t>(-4)); }}) {
        Dib bad = good.clone();
        mutate(bad.data());
        EXPECT_FALSE(dibGetLayout(bad));
    }
}

TEST(DibPlainRows, DropsPaddingAndKeepsBottomFirstOrder)
{
    const Dib image = test::makePatternImage(5, 2, 32);
    const uint8_t* pixels = DibPixelStart(image);

    auto all = DibToPlainRows(image, 4);
    ASSERT_EQ(all.size(), 40u);
    EXPECT_EQ(0, std::memcmp(all.data(), pixels, 40));

    auto three = DibToPlainRows(image, 3);
    ASSERT_EQ(three.size(), 30u);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(0, std::memcmp(&three[3 * i], pixels + 4 * i, 3)) << "pixel " << i;

    const Dib narrow = test::makePatternImage(3, 2, 24); // stride 12
    auto rows = DibToPlainRows(narrow, 3);
    ASSERT_EQ(rows.size(), 18u);
    EXPECT_EQ(0, std::memcmp(&rows[9], DibPixelStart(narrow) + 12, 9));
    EXPECT_TRUE(DibToPlainRows(narrow, 4).empty());
}

TEST(DibPlainRows, BuildsPaddedImageWithZeroPadding)
{
    std::vector<uint8_t> plain(18);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>(200 + i);
    Dib dib = DibFromPlainRows(plain.data(), plain.size(), 3, 2, 24);
    auto layout = dibGetLayout(dib);
    ASSERT_TRUE(layout);
    EXPECT_EQ(dib.size(), 40u + 24u);
    EXPECT_EQ(layout->stride, 12u);
    const uint8_t* pixels = DibPixelStart(dib);
    for (size_t row = 0; row < 2; ++row) {
        EXPECT_EQ(0, std::memcmp(pixels + 12 * row, &plain[9 * row], 9));
        for (size_t pad = 9; pad < 12; ++pad)
            EXPECT_EQ(pixels[12 * row + pad], 0);
    }
    EXPECT_TRUE(DibFromPlainRows(plain.data(), plain.size() - 1, 3, 2, 24).isNull());
    EXPECT_TRUE(DibFromPlainRows(nullptr, 0, 3, 2, 24).isNull());
}

TEST(DibPlainRows, FlipRowsReversesOrderAndKeepsOddMiddleRow)
{
    std::vector<uint8_t> rows = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
    ASSERT_TRUE(FlipRows(rows.data(), 2, 5));
    EXPECT_EQ(rows, (std::vector<uint8_t>{5, 5, 4, 4, 3, 3, 2, 2, 1, 1}));
    ASSERT_TRUE(FlipRows(rows.data(), 5, 2));
    EXPECT_EQ(rows, (std::vector<uint8_t>{3, 2, 2, 1, 1, 5, 5, 4, 4, 3}));
    EXPECT_FALSE(FlipRows(nullptr, 2, 2));
}

TEST(DibPlainRows, SwapRedBlueExchangesFirstAndThirdByte)
{
    std::vector<uint8_t> three = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(SwapRedBlue(three.data(), 2, 1, 3));
    EXPECT_EQ(three, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
    std::vector<uint8_t> four = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(SwapRedBlue(four.data(), 1, 2, 4));
    EXPECT_EQ(four, (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8}));
    EXPECT_FALSE(SwapRedBlue(nullptr, 1, 1, 3));
    EXPECT_FALSE(SwapRedBlue(four.data(), 1, 1, 2));
}

// The pixel (blue, green, red, alpha) at column x of the bottom row of a converted image.
std::vector<uint8_t> bottomPixel(const Dib& dib, size_t x)
{
    const size_t bytes = DibGetBitCount(dib) / 8;
    const uint8_t* p = DibPixelStart(dib) + bytes * x;
    return std::vector<uint8_t>(p, p + bytes);
}

TEST(DibConvert, LooksUpPaletteIndexesMostSignificantBitsFirst)
{
    Dib one = makeIndexed(9, 1, 1, 0);
    setEntry(one, 0, 1, 2, 3);
    setEntry(one, 1, 10, 20, 30);
    DibPixelStart(one)[0] = 0x40; // pixel 1 set
    DibPixelStart(one)[1] = 0x80; // pixel 8 set
    Dib wide = dibConvertToBitCount(one, 24);
    ASSERT_EQ(DibGetBitCount(wide), 24);
    EXPECT_EQ(bottomPixel(wide, 0), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(bottomPixel(wide, 1), (std::vector<uint8_t>{10, 20, 30}));
    EXPECT_EQ(bottomPixel(wide, 7), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(bottomPixel(wide, 8), (std::vector<uint8_t>{10, 20, 30}));

    Dib four = makeIndexed(2, 1, 4, 0);
    setEntry(four, 15, 7, 8, 9);
    DibPixelStart(four)[0] = 0xF0;
    Dib wideFour = dibConvertToBitCount(four, 32);
    EXPECT_EQ(bottomPixel(wideFour, 0), (std::vector<uint8_t>{7, 8, 9, 255}));
    EXPECT_EQ(bottomPixel(wideFour, 1), (std::vector<uint8_t>{0, 0, 0, 255}));

    // Index 5 lies outside a two-entry table: it reads black, not whatever follows the table.
    Dib eight = makeIndexed(2, 1, 8, 2);
    setEntry(eight, 0, 50, 60, 70);
    setEntry(eight, 1, 80, 90, 100);
    DibPixelStart(eight)[0] = 1;
    DibPixelStart(eight)[1] = 5;
    Dib wideEight = dibConvertToBitCount(eight, 24);
    EXPECT_EQ(DibGetColorTableBytes(wideEight), 0u);
    EXPECT_EQ(bottomPixel(wideEight, 0), (std::vector<uint8_t>{80, 90, 100}));
    EXPECT_EQ(bottomPixel(wideEight, 1), (std::vector<uint8_t>{0, 0, 0}));
}

TEST(DibConvert, WidensSixteenBitAndMovesBetweenTrueColourDepths)
{
    Dib sixteen = Dib::create(3, 1, 16);
    writeLe16(DibPixelStart(sixteen), 0x7FFF);
    writeLe16(DibPixelStart(sixteen) + 2, 0x001F);                // blue only
    writeLe16(DibPixelStart(sixteen) + 4, (16 << 10) | (1 << 5)); // red 16, green 1
    Dib wide = dibConvertToBitCount(sixteen, 24);
    EXPECT_EQ(bottomPixel(wide, 0), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(bottomPixel(wide, 1), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(bottomPixel(wide, 2), (std::vector<uint8_t>{0, 8, 132}));

    const Dib rgb = test::makePatternImage(3, 2, 24);
    Dib rgba = dibConvertToBitCount(rgb, 32);
    const Dib rgbaSource = test::makePatternImage(3, 2, 32);
    Dib back = dibConvertToBitCount(rgbaSource, 24);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(0, std::memcmp(test::pixelAt(rgba, x, y), test::pixelAt(rgb, x, y), 3));
            EXPECT_EQ(test::pixelAt(rgba, x, y)[3], 255);
            EXPECT_EQ(0,
                      std::memcmp(test::pixelAt(back, x, y), test::pixelAt(rgbaSource, x, y), 3));
        }
    }
    EXPECT_TRUE(dibConvertToBitCount(rgb, 8).isNull());
}

TEST(DibOwnership, AMovedFromImageIsNull)
{
    Dib image = Dib::create(4, 4, 24);
    Dib moved(std::move(image));
    EXPECT_TRUE(image.isNull()); // NOLINT(bugprone-use-after-move): the state after a move
    EXPECT_EQ(image.size(), 0u);
    Dib assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(moved.isNull()); // NOLINT(bugprone-use-after-move)
    EXPECT_FALSE(assigned.isNull());
}

TEST(DibOwnership, RefitStaysWithinTheBlock)
{
    Dib small = Dib::allocate(100);
    small.data()[10] = 7;
    EXPECT_TRUE(small.refit(60));
    EXPECT_EQ(small.size(), 60u);
    EXPECT_EQ(small.data()[10], 7) << "what the block holds is kept";
    EXPECT_FALSE(small.refit(100)) << "a block from the heap never grows back";
    EXPECT_FALSE(small.refit(0));
    EXPECT_FALSE(Dib().refit(1));

    // A large block holds whole huge pages when the system maps it so.
    const size_t bytes = (size_t{9} << 20) + 5;
    Dib large = Dib::allocate(bytes);
    ASSERT_FALSE(large.isNull());
    EXPECT_GE(large.capacity(), bytes);
    EXPECT_TRUE(large.refit(large.capacity()));
    large.data()[large.capacity() - 1] = 1; // the whole capacity is there to write
    EXPECT_FALSE(large.refit(large.capacity() + 1));
    EXPECT_EQ(large.size(), large.capacity());
}

} // namespace
} // namespace ombri
