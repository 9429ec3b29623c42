// The BMP variants other programs write: top-down rows, run-length coding and bit fields, each
// checked against ImageMagick's decode of the same file, and run-length streams that lie.

#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

// A file of the given header fields, optional masks behind a 40-byte header, colour table and
// pixel bytes.
Bytes variantBmp(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression,
                 const Bytes& tableOrMasks, const Bytes& pixels)
{
    Bytes file(54);
    file[0] = 'B';
    file[1] = 'M';
    writeLe32(&file[14], 40);
    writeLe32(&file[18], static_cast<uint32_t>(width));
    writeLe32(&file[22], static_cast<uint32_t>(height));
    writeLe16(&file[26], 1);
    writeLe16(&file[28], bitCount);
    writeLe32(&file[30], compression);
    writeLe32(&file[34], static_cast<uint32_t>(pixels.size()));
    if (bitCount <= 8)
        writeLe32(&file[46], static_cast<uint32_t>(tableOrMasks.size() / 4));
    file.insert(file.end(), tableOrMasks.begin(), tableOrMasks.end());
    writeLe32(&file[10], static_cast<uint32_t>(file.size()));
    file.insert(file.end(), pixels.begin(), pixels.end());
    writeLe32(&file[2], static_cast<uint32_t>(file.size()));
    return file;
}

Bytes fieldMasks(uint32_t red, uint32_t green, uint32_t blue)
{
    Bytes bytes(12);
    writeLe32(&bytes[0], red);
    writeLe32(&bytes[4], green);
    writeLe32(&bytes[8], blue);
    return bytes;
}

// Sixteen colours a table entry apart (blue, green, red, spare).
Bytes sixteenColours()
{
    Bytes table;
    for (int i = 0; i < 16; ++i) {
        const Bytes entry = {static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 9),
                             static_cast<uint8_t>(i * 5 + 40), 0};
        table.insert(table.end(), entry.begin(), entry.end());
    }
    return table;
}

// Pixel values that fill every bit of every field: neighbours differ in their low bits too.
Bytes mixedPixels(size_t count, uint32_t seed)
{
    Bytes bytes(count);
    uint32_t state = seed;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

Result<Dib> readVariant(const Bytes& file)
{
    return readBmpBytes(ByteView{file.data(), file.size()});
}

// The 8 or 4-bit colour indices of a decoded palette picture, top row first.
std::vector<int> indicesOf(const Dib& image)
{
    const auto layout = dibGetLayout(image);
    std::vector<int> indices;
    if (!layout)
        return indices;
    for (int32_t y = layout->height - 1; y >= 0; --y) {
        const uint8_t* row = image.data() + layout->pixelOffset + y * layout->stride;
        for (int32_t x = 0; x < layout->width; ++x) {
            if (layout->bitCount == 8)
                indices.push_back(row[x]);
            else
                indices.push_back((x & 1) != 0 ? row[x / 2] & 0xF : row[x / 2] >> 4);
        }
    }
    return indices;
}

class BmpAgainstImageMagick : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!test::haveImageMagick())
            GTEST_SKIP() << "ImageMagick is not installed";
    }

    // Our decode of the file and ImageMagick's, both as red-first samples of the given channels.
    void expectSameDecode(const std::string& path, int channels)
    {
        auto loaded = ReadBmpFile(path);
        ASSERT_TRUE(loaded) << path << ": " << loaded.error();
        const Dib image = dibConvertToBitCount(loaded.value(), channels == 4 ? 32 : 24);
        const std::string decoded = m_dir.file(channels == 4 ? "im.pam" : "im.ppm");
        const std::string kind = channels == 4 ? "PAM:" : "PPM:";
        ASSERT_EQ(test::runConvert(path + " -depth 8 " + kind + decoded), "");
        const test::Pixmap theirs = test::readPixmap(decoded);
        ASSERT_EQ(theirs.width, DibGetWidth(image)) << path;
        ASSERT_EQ(theirs.height, DibGetHeight(image)) << path;
        ASSERT_EQ(theirs.channels, channels) << path;
        EXPECT_EQ(test::redFirstSamples(image, channels), theirs.samples) << path;
    }

    std::string writeBytes(const std::string& name, const Bytes& bytes)
    {
        const std::string path = m_dir.file(name);
        test::writeFileBytes(path, bytes);
        return path;
    }

    test::TempDir m_dir;
};

// A picture of flat bands and single odd pixels, so that a coder finds both runs and literals.
std::vector<uint8_t> bandedPicture(int width, int height)
{
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool speck = (x * 7 + y * 3) % 11 == 0;
            const int band = speck ? (x + y) % 5 : (x / 6 + y / 3) % 9;
            rgb.push_back(static_cast<uint8_t>(band * 28));
            rgb.push_back(static_cast<uint8_t>(255 - band * 19));
            rgb.push_back(static_cast<uint8_t>(speck ? 7 : band * 13 + 1));
        }
    }
    return rgb;
}

struct MadeByImageMagick {
    const char* name;
    const char* arguments; // between the source picture and the target
    uint16_t bitCount;
    uint32_t compression;
    int channels;
};

class BmpMadeByImageMagick : public BmpAgainstImageMagick,
                             public ::testing::WithParamInterface<MadeByImageMagick> {};

TEST_P(BmpMadeByImageMagick, DecodesAsImageMagickDoes)
{
    const MadeByImageMagick& made = GetParam();
    const std::string source = m_dir.file("source.ppm");
    test::writePpm(source, 45, 19, bandedPicture(45, 19));
    const std::string path = m_dir.file("made.bmp");
    ASSERT_EQ(test::runConvert(source + " " + made.arguments + path), "");
    const Bytes file = test::readFileBytes(path);
    ASSERT_GE(file.size(), 54u);
    ASSERT_EQ(readLe16(&file[28]), made.bitCount) << "not the variant meant";
    ASSERT_EQ(readLe32(&file[30]), made.compression) << "not the variant meant";
    expectSameDecode(path, made.channels);
}

const MadeByImageMagick kMadeByImageMagick[] = {
    {"Rle8", "-type Palette -compress RLE BMP3:", 8, 1, 3},
    {"Rle8FewColours", "-colors 6 -compress RLE BMP3:", 8, 1, 3},
    {"Rgb565", "-define bmp:subtype=RGB565 BMP:", 16, 3, 3},
    {"Rgb555", "-define bmp:subtype=RGB555 BMP:", 16, 3, 3},
    // ImageMagick shows a set 1-bit alpha as 128, not opaque: only the colours are compared.
    {"Argb1555", "-alpha on -define bmp:subtype=ARGB1555 BMP:", 16, 3, 3},
};

INSTANTIATE_TEST_SUITE_P(Variants, BmpMadeByImageMagick, ::testing::ValuesIn(kMadeByImageMagick),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BmpAgainstImageMagick, TopDownRowsAreTurnedBottomFirst)
{
    const Bytes pixels = mixedPixels(5 * 4 * 3 + 4, 3); // rows of 15 bytes padded to 16
    Bytes rows;
    for (int y = 0; y < 4; ++y) {
        rows.insert(rows.end(), pixels.begin() + y * 15, pixels.begin() + y * 15 + 15);
        rows.push_back(0);
    }
    const std::string topDown = writeBytes("top-down.bmp", variantBmp(5, -4, 24, 0, {}, rows));
    expectSameDecode(topDown, 3);

    // The same rows stored the usual way round give the picture upside down, byte for byte.
    Bytes reversed;
    for (int y = 3; y >= 0; --y)
        reversed.insert(reversed.end(), rows.begin() + y * 16, rows.begin() + y * 16 + 16);
    auto upright = readVariant(variantBmp(5, 4, 24, 0, {}, reversed));
    LoadedImage loaded = LoadImageByExtension(topDown);
    ASSERT_TRUE(upright);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    ASSERT_EQ(CheckLoadedImage(loaded.image), ImageCheck::Ok);
    EXPECT_EQ(DibGetHeight(loaded.image), 4);
    EXPECT_EQ(0, std::memcmp(DibPixelStart(loaded.image), DibPixelStart(upright.value()), 64));
}

TEST_F(BmpAgainstImageMagick, TopDownPaletteRowsAreTurnedBottomFirst)
{
    const std::string path = writeBytes(
        "top-down-8.bmp",
        variantBmp(6, -3, 8, 0, sixteenColours(),
                   {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0, 13, 14, 15, 0, 1, 2, 0, 0}));
    expectSameDecode(path, 3);
}

TEST_F(BmpAgainstImageMagick, RunLengthFourBitsWithDeltasAndLineEnds)
{
    // 7 x 4: a run of alternating colours, a literal of three, a line end, a delta of 2 right
    // and 1 up, a run of three, the end of the picture. The top row is never reached. Bytes
    // behind the end code are never read, but ImageMagick refuses some files that stop there.
    Bytes stream = {4, 0x12, 0, 3, 0x34, 0x50, 0, 0,  // row 0: 1 2 1 2 then literal 3 4 5
                    0, 2,    2, 1, 3,    0xAB, 0, 1}; // delta to row 2 column 2: A B A
    stream.resize(stream.size() + 16, 0);
    const std::string path =
        writeBytes("rle4.bmp", variantBmp(7, 4, 4, 2, sixteenColours(), stream));
    auto loaded = ReadBmpFile(path);
    ASSERT_TRUE(loaded) << loaded.error();
    EXPECT_EQ(indicesOf(loaded.value()), (std::vector<int>{0, 0, 0,  0,  0,  0, 0, //
                                                           0, 0, 10, 11, 10, 0, 0, //
                                                           0, 0, 0,  0,  0,  0, 0, //
                                                           1, 2, 1,  2,  3,  4, 5}));
    expectSameDecode(path, 3);
}

TEST_F(BmpAgainstImageMagick, RunLengthEightBitsWithDeltasAndLineEnds)
{
    const Bytes stream = {3, 9, 0, 4, 1, 2,  3, 4, 0, 0, // row 0: 9 9 9 then literal 1 2 3 4
                          0, 3, 5, 6, 7, 0,              // row 1: literal 5 6 7 (odd: one pad byte)
                          0, 2, 1, 1, 2, 15, 0, 0,       // delta to row 2 column 4: 15 15
                          0, 1};
    const std::string path =
        writeBytes("rle8.bmp", variantBmp(7, 3, 8, 1, sixteenColours(), stream));
    auto loaded = ReadBmpFile(path);
    ASSERT_TRUE(loaded) << loaded.error();
    EXPECT_EQ(indicesOf(loaded.value()), (std::vector<int>{0, 0, 0, 0, 15, 15, 0, //
                                                           5, 6, 7, 0, 0,  0,  0, //
                                                           9, 9, 9, 1, 2,  3,  4}));
    expectSameDecode(path, 3);
}

TEST_F(BmpAgainstImageMagick, BitFieldsOtherThanEightEightEight)
{
    struct Case {
        const char* name;
        uint16_t bitCount;
        Bytes masks;
    };
    const Case cases[] = {
        {"rgba-order", 32, fieldMasks(0x000000FF, 0x0000FF00, 0x00FF0000)},
        {"565", 16, fieldMasks(0xF800, 0x07E0, 0x001F)},
        {"bgr-565", 16, fieldMasks(0x001F, 0x07E0, 0xF800)},
    };
    for (const Case& c : cases) {
        const size_t stride = c.bitCount == 16 ? 20 : 36; // nine pixels a row
        const std::string path = writeBytes(
            std::string(c.name) + ".bmp",
            variantBmp(9, 5, c.bitCount, 3, c.masks, mixedPixels(stride * 5, c.bitCount)));
        expectSameDecode(path, 3);
    }
}

TEST(BmpFields, WideFieldsAreRoundedToTheNearestStep)
{
    // ImageMagick shows a 10-bit field v as v x 64 / 257 rounded down, which is 1 short of the
    // nearest step for many values; the nearest step is what is meant.
    const Bytes fields = fieldMasks(0x3FF00000, 0x000FFC00, 0x000003FF);
    Bytes pixels(8);
    writeLe32(&pixels[0], (1023u << 20) | (119u << 10) | 578u);
    writeLe32(&pixels[4], (0u << 20) | (1u << 10) | 2u);
    auto loaded = readVariant(variantBmp(2, 1, 32, 3, fields, pixels));
    ASSERT_TRUE(loaded) << loaded.error();
    ASSERT_EQ(DibGetBitCount(loaded.value()), 24);
    const uint8_t* p = DibPixelStart(loaded.value());
    EXPECT_EQ(std::vector<uint8_t>(p, p + 6), (std::vector<uint8_t>{144, 30, 255, 0, 0, 0}));
}

TEST(BmpFields, NarrowFieldsAreWidenedToFullRangeAndAlphaIsDeclared)
{
    // 4-4-4-4 with alpha: fields of 0 and 15 must become 0 and 255, 8 must become 0x88.
    Bytes fields = fieldMasks(0x0F00, 0x00F0, 0x000F);
    fields.resize(16);
    writeLe32(&fields[12], 0xF000);
    const Bytes pixels = {0x8F, 0xF0, 0x00, 0x80}; // blue 15, green 8, red 0, alpha 15 | 8
    bool alpha = false;
    const Bytes file = variantBmp(2, 1, 16, 6, fields, pixels);
    auto loaded = readBmpBytes(ByteView{file.data(), file.size()}, &alpha);
    ASSERT_TRUE(loaded) << loaded.error();
    EXPECT_TRUE(alpha);
    ASSERT_EQ(DibGetBitCount(loaded.value()), 32);
    const uint8_t* p = DibPixelStart(loaded.value());
    EXPECT_EQ(std::vector<uint8_t>(p, p + 8),
              (std::vector<uint8_t>{0xFF, 0x88, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x88}));
}

TEST(BmpFields, PlainMasksStayByteForByte)
{
    // The masks every carrier is written with, and the 5-5-5 ones, keep the stored pixels.
    const Bytes pixels = mixedPixels(24, 5);
    auto wide = readVariant(variantBmp(3, 2, 32, 3, fieldMasks(0xFF0000, 0xFF00, 0xFF), pixels));
    auto narrow = readVariant(variantBmp(6, 2, 16, 3, fieldMasks(0x7C00, 0x03E0, 0x001F), pixels));
    ASSERT_TRUE(wide) << wide.error();
    ASSERT_TRUE(narrow) << narrow.error();
    EXPECT_EQ(DibGetBitCount(wide.value()), 32);
    EXPECT_EQ(DibGetBitCount(narrow.value()), 16);
    EXPECT_EQ(0, std::memcmp(DibPixelStart(wide.value()), pixels.data(), 24));
    EXPECT_EQ(0, std::memcmp(DibPixelStart(narrow.value()), pixels.data(), 24));
}

TEST(BmpFields, MasksWithGapsAreRefused)
{
    auto loaded =
        readVariant(variantBmp(2, 1, 16, 3, fieldMasks(0xF00F, 0x00F0, 0x0F00), Bytes(4)));
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(loaded.error().empty());
}

struct LyingStream {
    const char* name;
    uint16_t bitCount;
    Bytes stream;
    std::vector<int> indices; // top row first, 5 x 3
};

class BmpLyingRunLengths : public ::testing::TestWithParam<LyingStream> {};

TEST_P(BmpLyingRunLengths, AreClippedToThePicture)
{
    const LyingStream& lying = GetParam();
    const uint32_t compression = lying.bitCount == 8 ? 1 : 2;
    auto loaded =
        readVariant(variantBmp(5, 3, lying.bitCount, compression, sixteenColours(), lying.stream));
    ASSERT_TRUE(loaded) << loaded.error();
    EXPECT_EQ(indicesOf(loaded.value()), lying.indices);
}

const LyingStream kLyingStreams[] = {
    {"RunPastTheRow", 8, {255, 7, 1, 3, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 7, 7, 7}},
    {"LiteralPastTheRow",
     8,
     {0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 2, 9},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5}},
    {"DeltaOutOfThePicture",
     8,
     {2, 4, 0, 2, 200, 1, 3, 6, 0, 2, 0, 200, 3, 6},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0}},
    {"MoreRowsThanThePicture",
     4,
     {5, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0x34, 0, 0, 1, 0xFF},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 2, 1}},
    {"TruncatedLiteral", 8, {1, 3, 0, 6, 9, 8}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 9, 8, 0, 0}},
    {"TruncatedDelta", 4, {3, 0x56, 0, 2, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 6, 5, 0, 0}},
    {"OddTrailingByte", 8, {2, 1, 0, 0, 5}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"Empty", 4, {}, std::vector<int>(15, 0)},
};

INSTANTIATE_TEST_SUITE_P(Streams, BmpLyingRunLengths, ::testing::ValuesIn(kLyingStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BmpRunLengths, ArbitraryStreamsStayInsideThePicture)
{
    // Streams of arbitrary codes, run under the address checker: every one decodes to a picture
    // of the declared size, whatever its runs, literals and deltas claim.
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        const uint16_t bitCount = seed % 2 == 0 ? 8 : 4;
        Bytes stream = mixedPixels(seed % 97, seed);
        for (size_t i = 0; i + 1 < stream.size(); i += 5)
            stream[i] = 0; // many escape codes
        auto loaded = readVariant(variantBmp(static_cast<int32_t>(seed % 13 + 1),
                                             static_cast<int32_t>(seed % 7 + 1), bitCount,
                                             bitCount == 8 ? 1 : 2, sixteenColours(), stream));
        ASSERT_TRUE(loaded) << seed << ": " << loaded.error();
        EXPECT_EQ(DibGetWidth(loaded.value()), static_cast<int32_t>(seed % 13 + 1));
        EXPECT_EQ(DibGetHeight(loaded.value()), static_cast<int32_t>(seed % 7 + 1));
    }
}

TEST(BmpRunLengths, CodingOnTheWrongBitCountIsRefused)
{
    EXPECT_FALSE(readVariant(variantBmp(4, 1, 4, 1, sixteenColours(), {0, 1})));
    EXPECT_FALSE(readVariant(variantBmp(4, 1, 8, 2, sixteenColours(), {0, 1})));
    EXPECT_FALSE(readVariant(variantBmp(4, 1, 24, 1, {}, {0, 1})));
}

} // namespace
} // namespace ombri
