#include "formats/png.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "notes/carrier.h"
#include "support/dib_compare.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ombri {
namespace {

using test::pixelAt;
using Bytes = std::vector<uint8_t>;

// A picture to be encoded by libpng itself, with the chunks a test asks for. Rows are as
// stored in the file: top first, red first, 16-bit samples big-endian.
struct PngPicture {
    uint32_t width = 1;
    uint32_t height = 1;
    int bitDepth = 8;
    int colourType = PNG_COLOR_TYPE_RGB;
    std::vector<Bytes> rows;
    std::vector<png_color> palette;
    Bytes paletteAlpha;
    std::optional<png_color_16> transparentColour;
    std::optional<png_color_16> background;
    std::optional<double> gamma;
    std::string comment; // a tEXt chunk
};

void appendToBytes(png_structp png, png_bytep data, size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

bool encodeInto(png_structp png, png_infop info, const PngPicture& p, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, p.width, p.height, p.bitDepth, p.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!p.palette.empty())
        png_set_PLTE(png, info, p.palette.data(), static_cast<int>(p.palette.size()));
    if (!p.paletteAlpha.empty())
        png_set_tRNS(png, info, p.paletteAlpha.data(), static_cast<int>(p.paletteAlpha.size()),
                     nullptr);
    if (p.transparentColour)
        png_set_tRNS(png, info, nullptr, 1, &*p.transparentColour);
    if (p.background)
        png_set_bKGD(png, info, &*p.background);
    if (p.gamma)
        png_set_gAMA(png, info, *p.gamma);
    png_text text{PNG_TEXT_COMPRESSION_NONE, const_cast<char*>("Comment"),
                  const_cast<char*>(p.comment.c_str()), p.comment.size()};
    if (!p.comment.empty())
        png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

Bytes encodePng(const PngPicture& picture)
{
    Bytes out;
    std::vector<png_bytep> rows;
    for (const Bytes& row : picture.rows)
        rows.push_back(const_cast<png_bytep>(row.data()));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendToBytes, nullptr);
    const bool ok = encodeInto(png, info, picture, rows.data());
    png_destroy_write_struct(&png, &info);
    return ok ? out : Bytes();
}

Result<Dib> decode(const Bytes& file)
{
    return readPngBytes({file.data(), file.size()});
}

Bytes bgr(const Dib& image, int32_t x, int32_t y)
{
    const uint8_t* p = pixelAt(image, x, y);
    return Bytes(p, p + DibGetBitCount(image) / 8);
}

// An opaque RGB picture whose every sample differs from its neighbours.
PngPicture rgbPattern(uint32_t width, uint32_t height)
{
    PngPicture p{width, height};
    for (uint32_t y = 0; y < height; ++y) {
        p.rows.emplace_back();
        for (uint32_t i = 0; i < width * 3; ++i)
            p.rows.back().push_back(static_cast<uint8_t>(y * 37 + i * 11 + 5));
    }
    return p;
}

TEST(PngRead, RowsBecomeBottomUpBlueFirstWithZeroPadding)
{
    PngPicture picture = rgbPattern(2, 3);
    picture.comment = "text chunks are skipped, not decoded";
    auto loaded = decode(encodePng(picture));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const Dib& image = loaded.value();
    EXPECT_EQ(DibGetBitCount(image), 24);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 2; ++x) {
            const int v = y * 37 + x * 33 + 5;
            EXPECT_EQ(bgr(image, x, y), (Bytes{uint8_t(v + 22), uint8_t(v + 11), uint8_t(v)}));
        }
        EXPECT_EQ(pixelAt(image, 1, y)[3], 0) << "padding of row " << y;
        EXPECT_EQ(pixelAt(image, 1, y)[4], 0) << "padding of row " << y;
    }
}

TEST(PngRead, SixteenBitSamplesKeepTheirHighByte)
{
    PngPicture picture{1, 1, 16};
    picture.rows = {{0x12, 0xFF, 0x34, 0x80, 0xAB, 0x01}};
    auto loaded = decode(encodePng(picture));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(DibGetBitCount(loaded.value()), 24);
    EXPECT_EQ(bgr(loaded.value(), 0, 0), (Bytes{0xAB, 0x34, 0x12}));
}

TEST(PngRead, PaletteGainsAlphaOnlyWithTransparency)
{
    PngPicture picture{2, 1, 8, PNG_COLOR_TYPE_PALETTE};
    picture.rows = {{0, 1}};
    picture.palette = {{10, 20, 30}, {40, 50, 60}};
    auto opaque = decode(encodePng(picture));
    ASSERT_TRUE(opaque.ok()) << opaque.error();
    EXPECT_EQ(DibGetBitCount(opaque.value()), 24);
    EXPECT_EQ(bgr(opaque.value(), 1, 0), (Bytes{60, 50, 40}));

    picture.paletteAlpha = {0x80}; // entries past the tRNS list are opaque
    auto translucent = decode(encodePng(picture));
    ASSERT_TRUE(translucent.ok()) << translucent.error();
    EXPECT_EQ(DibGetBitCount(translucent.value()), 32);
    EXPECT_EQ(bgr(translucent.value(), 0, 0), (Bytes{30, 20, 10, 0x80}));
    EXPECT_EQ(bgr(translucent.value(), 1, 0), (Bytes{60, 50, 40, 0xFF}));
}

TEST(PngRead, TransparentColourBecomesAlpha)
{
    PngPicture picture{2, 1};
    picture.rows = {{1, 2, 3, 4, 5, 6}};
    picture.transparentColour = png_color_16{0, 4, 5, 6, 0};
    auto loaded = decode(encodePng(picture));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    ASSERT_EQ(DibGetBitCount(loaded.value()), 32);
    EXPECT_EQ(bgr(loaded.value(), 0, 0), (Bytes{3, 2, 1, 255}));
    EXPECT_EQ(bgr(loaded.value(), 1, 0)[3], 0);
}

TEST(PngRead, LowBitGreyBecomesThreeEqualBytes)
{
    for (int depth : {1, 2, 4}) {
        const int levels = 1 << depth;
        PngPicture picture{static_cast<uint32_t>(levels), 1, depth, PNG_COLOR_TYPE_GRAY};
        Bytes row((levels * depth + 7) / 8);
        for (int i = 0; i < levels; ++i)
            row[i * depth / 8] |= static_cast<uint8_t>(i << (8 - depth - i * depth % 8));
        picture.rows = {row};
        auto loaded = decode(encodePng(picture));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_EQ(DibGetBitCount(loaded.value()), 24);
        for (int i = 0; i < levels; ++i) {
            const auto grey = static_cast<uint8_t>(i * 255 / (levels - 1));
            EXPECT_EQ(bgr(loaded.value(), i, 0), (Bytes{grey, grey, grey}))
                << depth << "-bit level " << i;
        }
    }
}

TEST(PngRead, BackgroundChunkIsCompositedUnderAlpha)
{
    PngPicture picture{3, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA};
    picture.rows = {{200, 100, 50, 0, 200, 100, 50, 255, 200, 100, 50, 128}};
    picture.background = png_color_16{0, 10, 20, 30, 0};
    auto loaded = decode(encodePng(picture));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const Dib& image = loaded.value();
    EXPECT_EQ(DibGetBitCount(image), 24);
    EXPECT_EQ(bgr(image, 0, 0), (Bytes{30, 20, 10}));
    EXPECT_EQ(bgr(image, 1, 0), (Bytes{50, 100, 200}));
    EXPECT_NEAR(bgr(image, 2, 0)[2], (200 + 10) / 2, 2);
}

TEST(PngRead, GammaIsCorrectedOnlyWhenItMatters)
{
    PngPicture picture{3, 1};
    picture.rows = {{0, 0, 0, 128, 128, 128, 255, 255, 255}};
    picture.gamma = 1 / 2.2;
    auto screenGamma = decode(encodePng(picture));
    picture.gamma = 1.0;
    auto linear = decode(encodePng(picture));
    ASSERT_TRUE(screenGamma.ok() && linear.ok());
    EXPECT_EQ(bgr(screenGamma.value(), 1, 0), (Bytes{128, 128, 128}));
    EXPECT_EQ(bgr(linear.value(), 0, 0), (Bytes{0, 0, 0}));
    EXPECT_GT(bgr(linear.value(), 1, 0)[0], 170);
    EXPECT_EQ(bgr(linear.value(), 2, 0), (Bytes{255, 255, 255}));
}

// Another program rewriting a carrier adds a background and a gamma. The pixels as stored hold
// the notes, so a picture whose stored pixels carry the marker (here turned, down the right
// column) is taken as it is, alpha and all; the same picture without the marker is an ordinary
// picture and gets both steps.
TEST(PngRead, ACarrierRewrittenWithBackgroundAndGammaKeepsItsStoredPixels)
{
    PngPicture picture{9, 9, 8, PNG_COLOR_TYPE_RGB_ALPHA};
    for (uint32_t y = 0; y < 9; ++y) {
        picture.rows.emplace_back();
        for (uint32_t i = 0; i < 9 * 4; ++i)
            picture.rows.back().push_back(static_cast<uint8_t>(y * 29 + i * 7 + 40));
    }
    Bytes marker(23);
    WriteOmbriSignature(marker.data()); // blue first, as the marker is defined
    for (size_t k = 0; k < 23; ++k) {
        uint8_t& sample = picture.rows[k / 4][8 * 4 + (k % 4 == 3 ? 3 : 2 - k % 4)];
        sample = k < 3 ? marker[k] : static_cast<uint8_t>(sample | 1);
    }
    picture.background = png_color_16{0, 10, 20, 30, 0};
    picture.gamma = 1.0;
    const Bytes file = encodePng(picture);
    auto carrier = decode(file);
    ASSERT_TRUE(carrier.ok()) << carrier.error();
    ASSERT_EQ(DibGetBitCount(carrier.value()), 32);
    for (uint32_t y = 0; y < 9; ++y)
        for (uint32_t x = 0; x < 9; ++x) {
            const Bytes& row = picture.rows[y];
            EXPECT_EQ(bgr(carrier.value(), int32_t(x), int32_t(y)),
                      (Bytes{row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]}));
        }
    EXPECT_EQ(findOmbriSignature(carrier.value(), true, SignatureForm::Interleaved).orientation,
              Orientation::Turned90);

    // The file reader rewinds for the second pass as the byte reader does.
    test::TempDir dir;
    picture.rows[0][8 * 4 + 1] = 104; // green of the marker's first pixel: no marker any more
    test::writeFileBytes(dir.file("plain.png"), encodePng(picture));
    auto plain = ReadPngFile(dir.file("plain.png"));
    ASSERT_TRUE(plain.ok()) << plain.error();
    EXPECT_EQ(DibGetBitCount(plain.value()), 24);
    auto plainBytes = decode(test::readFileBytes(dir.file("plain.png")));
    ASSERT_TRUE(plainBytes.ok());
    EXPECT_EQ(test::dibDifference(plain.value(), plainBytes.value()), "");
}

// Rewrites the IHDR fields of a file and the chunk's CRC, so that only the fields are wrong.
Bytes withHeader(Bytes file, uint32_t width, uint8_t bitDepth)
{
    writeBe32(&file[16], width);
    file[24] = bitDepth;
    writeBe32(&file[29], static_cast<uint32_t>(crc32(0, &file[12], 17)));
    return file;
}

TEST(PngRead, MalformedFilesFailWithAReason)
{
    const Bytes good = encodePng(rgbPattern(16, 16));
    ASSERT_TRUE(decode(good).ok());
    Bytes badCrc = good;
    badCrc[good.size() - 20] ^= 0x40; // inside the IDAT data
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}},
        {"signature only", Bytes(good.begin(), good.begin() + 8)},
        {"cut in IHDR", Bytes(good.begin(), good.begin() + 20)},
        {"cut in IDAT", Bytes(good.begin(), good.begin() + good.size() / 2)},
        {"no IEND", Bytes(good.begin(), good.end() - 12)},
        {"IDAT CRC", badCrc},
        {"width 0", withHeader(good, 0, 8)},
        {"RGB of 3 bits", withHeader(good, 16, 3)},
        {"too wide", withHeader(good, kMaxDimension + 1, 8)},
    };
    for (const auto& c : cases) {
        auto loaded = decode(c.file);
        EXPECT_FALSE(loaded.ok()) << c.name;
        EXPECT_FALSE(loaded.error().empty()) << c.name;
    }
    EXPECT_EQ(decode(withHeader(good, kMaxDimension + 1, 8)).error(), "the image is too large");
}

TEST(PngRead, AreaBeyondTheLimitIsRefusedBeforeDecoding)
{
    const size_t saved = maxImageBytes();
    setMaxImageBytes(500);
    auto loaded = decode(encodePng(rgbPattern(16, 16)));
    setMaxImageBytes(saved);
    EXPECT_EQ(loaded.error(), "the image is too large");
}

TEST(PngRead, FileReaderMatchesByteReaderAndReportsProblems)
{
    test::TempDir dir;
    const Bytes file = encodePng(rgbPattern(9, 4));
    test::writeFileBytes(dir.file("a.png"), file);
    test::writeFileBytes(dir.file("cut.png"), Bytes(file.begin(), file.end() - 30));
    auto fromFile = ReadPngFile(dir.file("a.png"));
    auto fromBytes = decode(file);
    ASSERT_TRUE(fromFile.ok()) << fromFile.error();
    ASSERT_EQ(fromFile.value().size(), fromBytes.value().size());
    EXPECT_EQ(0, std::memcmp(fromFile.value().data(), fromBytes.value().data(),
                             fromBytes.value().size()));
    EXPECT_EQ(ReadPngFile(dir.file("cut.png")).error(), "the file ends too early");
    EXPECT_FALSE(ReadPngFile(dir.file("missing.png")).error().empty());
    EXPECT_FALSE(ReadPngFile(dir.path()).ok());
}

// Chunk types in file order; empty when a chunk runs past the end.
std::vector<std::string> chunkTypes(const Bytes& file)
{
    std::vector<std::string> types;
    for (size_t at = 8; at < file.size();) {
        if (file.size() - at < 12 || readBe32(&file[at]) > file.size() - at - 12)
            return {};
        types.emplace_back(file.begin() + at + 4, file.begin() + at + 8);
        at += 12 + readBe32(&file[at]);
    }
    return types;
}

struct RoundTripCase {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
};

class PngRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(PngRoundTrip, EveryByteComesBackAndTheFileIsPlain)
{
    const auto [width, height, bitCount] = GetParam();
    Dib image = test::makePatternImage(width, height, bitCount);
    if (bitCount == 32) // the alpha values that carry notes
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                const_cast<uint8_t*>(pixelAt(image, x, y))[3] = (x + y) % 2 ? 254 : 255;
    test::TempDir dir;
    const std::string path = dir.file("round.png");
    ASSERT_TRUE(test::succeeded(WritePngFile(path, image)));

    auto loaded = ReadPngFile(path);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    ASSERT_EQ(loaded.value().size(), image.size());
    EXPECT_EQ(0, std::memcmp(loaded.value().data(), image.data(), image.size()));

    const Bytes file = test::readFileBytes(path);
    std::vector<std::string> types = chunkTypes(file);
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(types.front(), "IHDR");
    EXPECT_EQ(types.back(), "IEND");
    for (size_t i = 1; i + 1 < types.size(); ++i)
        EXPECT_EQ(types[i], "IDAT");
    EXPECT_EQ(file[24], 8);                      // bit depth
    EXPECT_EQ(file[25], bitCount == 32 ? 6 : 2); // colour type
    EXPECT_EQ(file[28], 0);                      // no interlacing

    // Read by libpng alone, so that a fault made twice (rows or colours swapped both ways)
    // cannot cancel out.
    png_image other{};
    other.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&other, file.data(), file.size()));
    other.format = bitCount == 32 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(other));
    ASSERT_TRUE(png_image_finish_read(&other, nullptr, rgb.data(), 0, nullptr));
    const int channels = bitCount / 8;
    const uint8_t* topLeft = pixelAt(image, 0, 0);
    EXPECT_EQ((Bytes{rgb[0], rgb[1], rgb[2]}), (Bytes{topLeft[2], topLeft[1], topLeft[0]}));
    const uint8_t* last = pixelAt(image, width - 1, height - 1);
    EXPECT_EQ(rgb[rgb.size() - channels], last[2]);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngRoundTrip,
                         testing::Values(RoundTripCase{5, 3, 24}, RoundTripCase{47, 33, 24},
                                         RoundTripCase{1, 1, 24}, RoundTripCase{47, 33, 32},
                                         RoundTripCase{3, 70, 32}));

TEST(PngWrite, FailureLeavesNoFileAndTheTargetIntact)
{
    test::TempDir dir;
    const Dib image = test::makePatternImage(4, 4, 24);
    EXPECT_TRUE(test::failedWithReason(WritePngFile(dir.file("no/such/folder.png"), image)));
    EXPECT_FALSE(test::fileExists(dir.file("no")));

    // An 8-bit image cannot be written; the file already there is left alone.
    const Bytes old = {1, 2, 3};
    test::writeFileBytes(dir.file("old.png"), old);
    Dib indexed = Dib::allocate(kInfoHeaderSize + 256 * 4 + 16);
    const auto header = DibMakeHeader(4, 4, 8, 0);
    std::memcpy(indexed.data(), header.data(), header.size());
    EXPECT_TRUE(test::failedWithReason(WritePngFile(dir.file("old.png"), indexed)));
    EXPECT_EQ(test::readFileBytes(dir.file("old.png")), old);

    // A folder in the way makes the final rename fail; the temporary file must go too.
    std::filesystem::create_directories(dir.file("taken.png/inside"));
    EXPECT_TRUE(test::failedWithReason(WritePngFile(dir.file("taken.png"), image)));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2u); // old.png and taken.png
}

} // namespace
} // namespace ombri
