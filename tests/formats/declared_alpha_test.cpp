#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/png.h"
#include "formats/sgi.h"
#include "formats/tiff.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

// What a load tells about a file's transparency.
struct AlphaFacts {
    bool declared = false;
    bool seeThrough = false;
};

AlphaFacts alphaFactsOf(const std::string& path)
{
    LoadedImage loaded = loadCheckedImage(path);
    EXPECT_FALSE(loaded.image.isNull()) << path << ": " << loaded.error;
    return {loaded.declaresAlpha, hasSeeThroughPixels(loaded)};
}

// A PNG written by libpng itself, so that every colour type and chunk can be had. Each row
// holds width x channels samples; tRNS, when given, is the RGB colour shown as transparent.
void writeTestPng(const std::string& path, uint32_t width, int colourType,
                  const std::vector<Bytes>& rows, const png_color_16* transparent = nullptr)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, static_cast<uint32_t>(rows.size()), 8, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (transparent)
        png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(transparent));
    png_write_info(png, info);
    for (const Bytes& row : rows)
        png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// Rows of the given channels whose last channel runs from 0 to 255 across each row, as at the
// soft edge of a cut-out picture.
std::vector<Bytes> alphaRampRows(uint32_t width, uint32_t height, int channels)
{
    std::vector<Bytes> rows(height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                rows[y].push_back(c == channels - 1 ? static_cast<uint8_t>(x * 255 / (width - 1))
                                                    : static_cast<uint8_t>(40 + 30 * c + y));
    return rows;
}

// A 32-bit picture whose fourth bytes are the given value, or a ramp from 0 when it is negative.
Dib fourthBytes(int32_t width, int32_t height, int value)
{
    Dib image = test::makePatternImage(width, height, 32);
    auto layout = dibGetLayout(image);
    uint8_t* row = image.data() + layout->pixelOffset;
    for (int32_t y = 0; y < height; ++y, row += layout->stride)
        for (int32_t x = 0; x < width; ++x)
            row[4 * x + 3] = static_cast<uint8_t>(value < 0 ? x * 255 / (width - 1) : value);
    return image;
}

TEST(DeclaredAlpha, PngColourTypesWithAlphaOrTransparencyChunkDeclareIt)
{
    test::TempDir dir;
    writeTestPng(dir.file("soft.png"), 8, PNG_COLOR_TYPE_RGB_ALPHA, alphaRampRows(8, 3, 4));
    writeTestPng(dir.file("grey-alpha.png"), 8, PNG_COLOR_TYPE_GRAY_ALPHA, alphaRampRows(8, 3, 2));
    // The first pixel of every row is the transparent colour.
    std::vector<Bytes> keyed = alphaRampRows(8, 3, 3);
    for (Bytes& row : keyed)
        row[0] = row[1] = row[2] = 9;
    const png_color_16 key{0, 9, 9, 9, 0};
    writeTestPng(dir.file("keyed.png"), 8, PNG_COLOR_TYPE_RGB, keyed, &key);
    for (const char* name : {"soft.png", "grey-alpha.png", "keyed.png"}) {
        const AlphaFacts facts = alphaFactsOf(dir.file(name));
        EXPECT_TRUE(facts.declared) << name;
        EXPECT_TRUE(facts.seeThrough) << name;
    }

    writeTestPng(dir.file("opaque.png"), 8, PNG_COLOR_TYPE_RGB, alphaRampRows(8, 3, 3));
    EXPECT_FALSE(alphaFactsOf(dir.file("opaque.png")).declared);
    // Declared, but nothing in it is less than opaque: 254 counts as opaque.
    std::vector<Bytes> solid = alphaRampRows(8, 3, 4);
    for (Bytes& row : solid)
        for (size_t i = 3; i < row.size(); i += 4)
            row[i] = i % 8 == 3 ? 254 : 255;
    writeTestPng(dir.file("solid.png"), 8, PNG_COLOR_TYPE_RGB_ALPHA, solid);
    const AlphaFacts facts = alphaFactsOf(dir.file("solid.png"));
    EXPECT_TRUE(facts.declared);
    EXPECT_FALSE(facts.seeThrough);
}

TEST(DeclaredAlpha, FourChannelSgiDeclaresItAndThreeChannelsDoNot)
{
    test::TempDir dir;
    ASSERT_TRUE(test::succeeded(
        WriteSgiFile(dir.file("soft.rgb"), fourthBytes(8, 3, -1), SgiSignature::Omit)));
    ASSERT_TRUE(test::succeeded(WriteSgiFile(
        dir.file("opaque.rgb"), test::makePatternImage(8, 3, 24), SgiSignature::Omit)));
    const AlphaFacts soft = alphaFactsOf(dir.file("soft.rgb"));
    EXPECT_TRUE(soft.declared);
    EXPECT_TRUE(soft.seeThrough);
    EXPECT_FALSE(alphaFactsOf(dir.file("opaque.rgb")).declared);
}

// An 8 x 3 RGB TIFF of four samples, the fourth an alpha ramp; extra names what the fourth sample
// is, or nothing for a file without the ExtraSamples tag.
void writeTestTiff(const std::string& path, const std::vector<uint16_t>& extra, uint16_t planar)
{
    constexpr uint32_t kWidth = 8;
    constexpr uint32_t kHeight = 3;
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, planar);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kHeight);
    if (!extra.empty())
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    const std::vector<Bytes> rows = alphaRampRows(kWidth, kHeight, 4);
    if (planar == PLANARCONFIG_CONTIG) {
        Bytes strip;
        for (const Bytes& row : rows)
            strip.insert(strip.end(), row.begin(), row.end());
        TIFFWriteEncodedStrip(tiff, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    } else {
        for (uint32_t plane = 0; plane < 4; ++plane) {
            Bytes strip;
            for (const Bytes& row : rows)
                for (uint32_t x = 0; x < kWidth; ++x)
                    strip.push_back(row[4 * x + plane]);
            TIFFWriteEncodedStrip(tiff, plane, strip.data(), static_cast<tmsize_t>(strip.size()));
        }
    }
    TIFFClose(tiff);
}

TEST(DeclaredAlpha, TiffDeclaresItThroughExtraSamples)
{
    test::TempDir dir;
    // The straight copy and libtiff's conversion alike.
    for (uint16_t planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
        const std::string name = "planar" + std::to_string(planar);
        writeTestTiff(dir.file(name + "-unassociated.tif"), {EXTRASAMPLE_UNASSALPHA}, planar);
        writeTestTiff(dir.file(name + "-associated.tif"), {EXTRASAMPLE_ASSOCALPHA}, planar);
        writeTestTiff(dir.file(name + "-unspecified.tif"), {EXTRASAMPLE_UNSPECIFIED}, planar);
        for (const char* kind : {"-unassociated.tif", "-associated.tif"}) {
            const AlphaFacts facts = alphaFactsOf(dir.file(name + kind));
            EXPECT_TRUE(facts.declared) << name << kind;
            EXPECT_TRUE(facts.seeThrough) << name << kind;
        }
        EXPECT_FALSE(alphaFactsOf(dir.file(name + "-unspecified.tif")).declared) << name;
    }
    // What the writer saves from a 32-bit picture is marked as unassociated alpha.
    ASSERT_TRUE(test::succeeded(WriteTiffFile(dir.file("saved.tif"), fourthBytes(8, 3, -1))));
    EXPECT_TRUE(alphaFactsOf(dir.file("saved.tif")).seeThrough);
}

// A 32-bit bottom-up BMP with bit fields: a header of headerSize bytes (40 with the masks behind
// it, or 56 and more with the masks inside), the standard colour masks and the given alpha mask.
Bytes bitfieldBmp(const Dib& image, uint32_t headerSize, uint32_t compression, uint32_t alphaMask)
{
    const auto layout = dibGetLayout(image);
    const bool masksBehind = headerSize == 40;
    const uint32_t masksBytes = masksBehind ? (compression == 6 ? 16 : 12) : 0;
    const uint32_t pixelOffset = 14 + headerSize + masksBytes;
    Bytes file(pixelOffset);
    file[0] = 'B';
    file[1] = 'M';
    writeLe32(file.data() + 2, static_cast<uint32_t>(pixelOffset + layout->pixelBytes));
    writeLe32(file.data() + 10, pixelOffset);
    uint8_t* h = file.data() + 14;
    writeLe32(h, headerSize);
    writeLe32(h + 4, static_cast<uint32_t>(layout->width));
    writeLe32(h + 8, static_cast<uint32_t>(layout->height));
    writeLe16(h + 12, 1);
    writeLe16(h + 14, 32);
    writeLe32(h + 16, compression);
    writeLe32(h + 20, static_cast<uint32_t>(layout->pixelBytes));
    writeLe32(h + 40, 0x00FF0000);
    writeLe32(h + 44, 0x0000FF00);
    writeLe32(h + 48, 0x000000FF);
    if (headerSize >= 56 || masksBytes == 16)
        writeLe32(h + 52, alphaMask);
    const uint8_t* pixels = image.data() + layout->pixelOffset;
    file.insert(file.end(), pixels, pixels + layout->pixelBytes);
    return file;
}

TEST(DeclaredAlpha, BmpDeclaresItOnlyWithAnAlphaMask)
{
    constexpr uint32_t kBitfields = 3;
    constexpr uint32_t kAlphaBitfields = 6;
    test::TempDir dir;
    const Dib ramp = fourthBytes(8, 3, -1);
    test::writeFileBytes(dir.file("v5.bmp"), bitfieldBmp(ramp, 124, kBitfields, 0xFF000000));
    test::writeFileBytes(dir.file("v3.bmp"), bitfieldBmp(ramp, 56, kBitfields, 0xFF000000));
    test::writeFileBytes(dir.file("masks-behind.bmp"),
                         bitfieldBmp(ramp, 40, kAlphaBitfields, 0xFF000000));
    // The writer's own 32-bit files carry an alpha mask as well.
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("ours.bmp"), ramp)));
    for (const char* name : {"v5.bmp", "v3.bmp", "masks-behind.bmp", "ours.bmp"}) {
        const AlphaFacts facts = alphaFactsOf(dir.file(name));
        EXPECT_TRUE(facts.declared) << name;
        EXPECT_TRUE(facts.seeThrough) << name;
    }

    // Without an alpha mask the fourth byte is spare, whatever it holds: a plain 40-byte header,
    // bit fields of three masks, a header with a zero alpha mask.
    test::writeFileBytes(dir.file("plain.bmp"), bitfieldBmp(ramp, 40, 0, 0));
    test::writeFileBytes(dir.file("three-masks.bmp"), bitfieldBmp(ramp, 40, kBitfields, 0));
    test::writeFileBytes(dir.file("v2.bmp"), bitfieldBmp(ramp, 52, kBitfields, 0));
    test::writeFileBytes(dir.file("no-alpha-mask.bmp"), bitfieldBmp(ramp, 124, kBitfields, 0));
    for (const char* name : {"plain.bmp", "three-masks.bmp", "v2.bmp", "no-alpha-mask.bmp"}) {
        const AlphaFacts facts = alphaFactsOf(dir.file(name));
        EXPECT_FALSE(facts.declared) << name;
        EXPECT_FALSE(facts.seeThrough) << name;
    }
}

} // namespace
} // namespace ombri
