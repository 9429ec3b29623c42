#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "support/dib_compare.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ombri {
namespace {

// An information header of the given size (40, 108, 124...) with the usual fields filled.
std::vector<uint8_t> infoHeader(uint32_t size, int32_t width, int32_t height, uint16_t bitCount,
                                uint32_t compression = 0, uint32_t coloursUsed = 0)
{
    std::vector<uint8_t> h(size);
    writeLe32(&h[0], size);
    writeLe32(&h[4], static_cast<uint32_t>(width));
    writeLe32(&h[8], static_cast<uint32_t>(height));
    writeLe16(&h[12], 1);
    writeLe16(&h[14], bitCount);
    writeLe32(&h[16], compression);
    writeLe32(&h[32], coloursUsed);
    return h;
}

// A whole file: file header, DIB header, what follows it (table or masks), a gap, the pixels.
std::vector<uint8_t> bmpFile(const std::vector<uint8_t>& header, const std::vector<uint8_t>& table,
                             const std::vector<uint8_t>& pixels, size_t gap = 0)
{
    std::vector<uint8_t> file(14);
    file[0] = 'B';
    file[1] = 'M';
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), table.begin(), table.end());
    writeLe32(&file[10], static_cast<uint32_t>(file.size() + gap));
    file.insert(file.end(), gap, 0xEE);
    file.insert(file.end(), pixels.begin(), pixels.end());
    writeLe32(&file[2], static_cast<uint32_t>(file.size()));
    return file;
}

std::vector<uint8_t> counting(size_t count, uint8_t from = 1)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(from + i);
    return bytes;
}

Result<Dib> readBytes(const std::vector<uint8_t>& file)
{
    return readBmpBytes(ByteView{file.data(), file.size()});
}

TEST(BmpWrite, LaysOutHeadersAndZeroPaddedBottomUpRows)
{
    test::TempDir dir;
    Dib image = test::makePatternImage(3, 2, 24);
    DibPixelStart(image)[10] = 0x77; // padding is not picture data
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("a.bmp"), image)));

    const auto file = test::readFileBytes(dir.file("a.bmp"));
    ASSERT_EQ(file.size(), 54u + 12u * 2u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(readLe32(&file[2]), 78u);
    EXPECT_EQ(file[6], 6);
    EXPECT_EQ(file[7], 0);
    EXPECT_EQ(readLe16(&file[8]), 0);
    EXPECT_EQ(readLe32(&file[10]), 54u);
    const auto header = DibMakeHeader(3, 2, 24, 0);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin() + 14));
    const uint8_t* rows = DibPixelStart(image);
    EXPECT_EQ(0, std::memcmp(&file[54], rows, 9));
    EXPECT_EQ(0, std::memcmp(&file[66], rows + 12, 9));
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 63, file.begin() + 66),
              std::vector<uint8_t>(3, 0));
}

TEST(BmpWrite, RoundTripsOddSizesByteForByte)
{
    test::TempDir dir;
    for (uint16_t bits : {24, 32}) {
        const Dib image = test::makePatternImage(47, 33, bits, bits);
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("odd.bmp"), image)));
        auto loaded = ReadBmpFile(dir.file("odd.bmp"));
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ(test::dibDifference(loaded.value(), image), "") << bits;
    }
}

TEST(BmpWrite, RefusesPaletteImages)
{
    test::TempDir dir;
    auto eight =
        readBytes(bmpFile(infoHeader(40, 4, 1, 8), std::vector<uint8_t>(1024), {1, 2, 3, 4}));
    ASSERT_TRUE(eight);
    EXPECT_TRUE(test::failedWithReason(WriteBmpFile(dir.file("a.bmp"), eight.value())));
    EXPECT_FALSE(test::fileExists(dir.file("a.bmp")));
}

struct Malformed {
    const char* name;
    void (*mutate)(std::vector<uint8_t>& file);
};

class BmpMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(BmpMalformed, IsRefusedWithAReason)
{
    // A good 4 x 3 24-bit file: 54 header bytes and 36 pixel bytes, spoilt in one way.
    auto file = bmpFile(infoHeader(40, 4, 3, 24), {}, counting(36));
    ASSERT_TRUE(readBytes(file));
    GetParam().mutate(file);
    auto result = readBytes(file);
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.error().empty());
}

const Malformed kMalformed[] = {
    {"OneByteShort", [](auto& f) { f.pop_back(); }},
    {"ShorterThanFileHeader", [](auto& f) { f.resize(13); }},
    {"NotBM", [](auto& f) { f[1] = 'A'; }},
    {"HeaderSize20", [](auto& f) { writeLe32(&f[14], 20); }},
    {"BitCount7", [](auto& f) { writeLe16(&f[28], 7); }},
    {"ThreeHundredColoursOnEightBits",
     [](auto& f) {
         writeLe16(&f[28], 8);
         writeLe32(&f[46], 300);
     }},
    {"HugeWidthAndHeight",
     [](auto& f) {
         writeLe32(&f[18], 0x7FFFFFFF);
         writeLe32(&f[22], 0x7FFFFFFF);
     }},
    {"PixelOffsetPastTheEnd", [](auto& f) { writeLe32(&f[10], 1000); }},
    {"ZeroWidth", [](auto& f) { writeLe32(&f[18], 0); }},
    {"ZeroHeight", [](auto& f) { writeLe32(&f[22], 0); }},
    {"RleOn24Bits", [](auto& f) { writeLe32(&f[30], 1); }},
    {"BitFieldsOn24Bits", [](auto& f) { writeLe32(&f[30], 3); }},
};

INSTANTIATE_TEST_SUITE_P(Files, BmpMalformed, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BmpRead, ConvertsExtendedBitFieldHeaderToInformationHeader)
{
    auto header = infoHeader(124, 3, 2, 32, 3);
    writeLe32(&header[40], 0x00FF0000);
    writeLe32(&header[44], 0x0000FF00);
    writeLe32(&header[48], 0x000000FF);
    writeLe32(&header[52], 0xFF000000);
    const auto pixels = counting(24);
    auto loaded = readBytes(bmpFile(header, {}, pixels));
    ASSERT_TRUE(loaded) << loaded.error();
    Dib expected = Dib::create(3, 2, 32);
    std::memcpy(DibPixelStart(expected), pixels.data(), pixels.size());
    EXPECT_EQ(test::dibDifference(loaded.value(), expected), "");
}

TEST(BmpRead, KeepsColourTableAndHonoursPixelOffsetGap)
{
    const auto table = counting(80, 100);
    auto loaded = readBytes(bmpFile(infoHeader(40, 5, 2, 8, 0, 20), table, counting(16), 6));
    ASSERT_TRUE(loaded) << loaded.error();
    const Dib& dib = loaded.value();
    ASSERT_EQ(dib.size(), 40u + 80u + 16u);
    EXPECT_EQ(readLe32(dib.data() + 32), 20u);
    EXPECT_EQ(0, std::memcmp(dib.data() + 40, table.data(), 80));
    EXPECT_EQ(DibPixelStart(dib) - dib.data(), 120);
    EXPECT_EQ(std::vector<uint8_t>(dib.data() + 120, dib.data() + 136), counting(16));

    std::vector<uint8_t> core(12);
    writeLe32(&core[0], 12);
    writeLe16(&core[4], 2);
    writeLe16(&core[6], 1);
    writeLe16(&core[8], 1);
    writeLe16(&core[10], 8);
    auto coreLoaded = readBytes(bmpFile(core, counting(768), {7, 8, 0, 0}));
    ASSERT_TRUE(coreLoaded) << coreLoaded.error();
    EXPECT_EQ(DibGetColorTableBytes(coreLoaded.value()), 768u);
    EXPECT_EQ(DibPixelStart(coreLoaded.value())[1], 8);
}

TEST(BmpRead, TopDownFileLoadsBottomRowFirstAndPassesTheSizeCheck)
{
    const auto rows = counting(800);
    auto loaded = readBytes(bmpFile(infoHeader(40, 2, -100, 24), {}, rows));
    ASSERT_TRUE(loaded) << loaded.error();
    Dib image = loaded.take();
    EXPECT_EQ(DibGetHeight(image), 100);
    ASSERT_EQ(CheckLoadedImage(image), ImageCheck::Ok);
    const uint8_t* pixels = DibPixelStart(image);
    EXPECT_EQ(0, std::memcmp(pixels, &rows[99 * 8], 8));
    EXPECT_EQ(0, std::memcmp(pixels + 99 * 8, &rows[0], 8));
}

TEST(BmpWrite, ThirtyTwoBitsGetTheLongHeaderWithAnAlphaMask)
{
    test::TempDir dir;
    const Dib image = test::makePatternImage(5, 3, 32, 9);
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("a.bmp"), image)));
    const auto file = test::readFileBytes(dir.file("a.bmp"));
    ASSERT_EQ(file.size(), 138u + 60u);
    EXPECT_EQ(readLe32(&file[2]), 198u);
    EXPECT_EQ(readLe32(&file[10]), 138u);
    EXPECT_EQ(readLe32(&file[14]), 124u);
    EXPECT_EQ(readLeI32(&file[18]), 5);
    EXPECT_EQ(readLeI32(&file[22]), 3);
    EXPECT_EQ(readLe16(&file[28]), 32);
    EXPECT_EQ(readLe32(&file[30]), 3u);
    EXPECT_EQ(readLe32(&file[34]), 60u);
    EXPECT_EQ(readLe32(&file[54]), 0x00FF0000u);
    EXPECT_EQ(readLe32(&file[58]), 0x0000FF00u);
    EXPECT_EQ(readLe32(&file[62]), 0x000000FFu);
    EXPECT_EQ(readLe32(&file[66]), 0xFF000000u);
    EXPECT_EQ(readLe32(&file[70]), 0x73524742u);
    EXPECT_EQ(0, std::memcmp(&file[138], DibPixelStart(image), 60));

    bool alpha = false;
    auto loaded = readBmpBytes(ByteView{file.data(), file.size()}, &alpha);
    ASSERT_TRUE(loaded) << loaded.error();
    EXPECT_TRUE(alpha);
    EXPECT_EQ(test::dibDifference(loaded.value(), image), "");
}

// A file whose alpha mask is set but whose every alpha byte is 0 is shown opaque, as other
// viewers show it; one see-through pixel is enough for the alpha to count again. The bytes
// handed over are the file's either way.
TEST(BmpRead, AnAlphaMaskOverNothingButZerosIsNoAlpha)
{
    test::TempDir dir;
    Dib image = test::makePatternImage(5, 3, 32, 9);
    const auto layout = dibGetLayout(image);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            image.data()[layout->pixelOffset + y * layout->stride + 4 * x + 3] = 0;
    for (const bool oneSeen : {false, true}) {
        SCOPED_TRACE(oneSeen ? "one pixel with alpha" : "every alpha 0");
        if (oneSeen)
            image.data()[layout->pixelOffset + 4 * 2 + 3] = 128;
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("a.bmp"), image)));
        const auto file = test::readFileBytes(dir.file("a.bmp"));
        ASSERT_EQ(readLe32(&file[66]), 0xFF000000u);
        bool alpha = !oneSeen;
        auto loaded = readBmpBytes(ByteView{file.data(), file.size()}, &alpha);
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ(alpha, oneSeen);
        EXPECT_EQ(test::dibDifference(loaded.value(), image), "");
    }
}

} // namespace
} // namespace ombri
