#include "formats/tiff.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "formats/orientation.h"
#include "notes/carrier.h"
#include "support/dib_compare.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ombri {
namespace {

using test::pixelAt;
using Bytes = std::vector<uint8_t>;

// A picture for libtiff itself to write, in the layout a test asks for. sample(x, y, c) gives
// the stored value of sample c at column x of file row y (16-bit samples in full).
struct TiffPicture {
    uint32_t width = 7;
    uint32_t height = 5;
    uint16_t samples = 3;
    uint16_t bitsPerSample = 8;
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint16_t compression = COMPRESSION_NONE;
    uint32_t rowsPerStrip = 2;
    uint32_t tileSize = 0; // square tiles instead of strips when not 0
    bool bigEndian = false;
    std::vector<uint16_t> extraSamples;
    std::vector<uint16_t> colourMap; // 256 red, then 256 green, then 256 blue entries
    std::vector<uint32_t> damaged;   // strips or tiles stored as bytes no decoder accepts
    std::function<unsigned(uint32_t x, uint32_t y, unsigned c)> sample;
};

void appendSample(Bytes& out, const TiffPicture& p, uint32_t x, uint32_t y, unsigned c)
{
    const unsigned value = x < p.width && y < p.height ? p.sample(x, y, c) : 0;
    if (p.bitsPerSample == 16) {
        const auto wide = static_cast<uint16_t>(value);
        out.insert(out.end(), reinterpret_cast<const uint8_t*>(&wide),
                   reinterpret_cast<const uint8_t*>(&wide) + 2);
    } else {
        out.push_back(static_cast<uint8_t>(value));
    }
}

void writeBlock(TIFF* tiff, const TiffPicture& p, uint32_t index, Bytes& block)
{
    static uint8_t garbage[] = {0xFF, 0xFF, 0xFF, 0xFF};
    const bool damaged = std::find(p.damaged.begin(), p.damaged.end(), index) != p.damaged.end();
    const auto size = static_cast<tmsize_t>(block.size());
    if (p.tileSize != 0 && damaged)
        TIFFWriteRawTile(tiff, index, garbage, sizeof garbage);
    else if (p.tileSize != 0)
        TIFFWriteEncodedTile(tiff, index, block.data(), size);
    else if (damaged)
        TIFFWriteRawStrip(tiff, index, garbage, sizeof garbage);
    else
        TIFFWriteEncodedStrip(tiff, index, block.data(), size);
    block.clear();
}

Bytes encodeTiff(const TiffPicture& p)
{
    test::TempDir dir;
    const std::string path = dir.file("fixture.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), p.bigEndian ? "wb" : "wl");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, p.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, p.planar);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, p.orientation);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, p.compression);
    if (!p.extraSamples.empty())
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(p.extraSamples.size()),
                     p.extraSamples.data());
    if (!p.colourMap.empty())
        TIFFSetField(tiff, TIFFTAG_COLORMAP, &p.colourMap[0], &p.colourMap[256], &p.colourMap[512]);
    Bytes block;
    const bool separate = p.planar == PLANARCONFIG_SEPARATE;
    if (p.tileSize != 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, p.tileSize);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, p.tileSize);
        for (unsigned plane = 0; plane < (separate ? p.samples : 1u); ++plane)
            for (uint32_t top = 0; top < p.height; top += p.tileSize)
                for (uint32_t left = 0; left < p.width; left += p.tileSize) {
                    for (uint32_t y = top; y < top + p.tileSize; ++y)
                        for (uint32_t x = left; x < left + p.tileSize; ++x)
                            for (unsigned c = 0; c < p.samples; ++c)
                                if (!separate || c == plane)
                                    appendSample(block, p, x, y, c);
                    writeBlock(tiff, p,
                               TIFFComputeTile(tiff, left, top, 0, static_cast<uint16_t>(plane)),
                               block);
                }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip);
        for (unsigned plane = 0; plane < (separate ? p.samples : 1u); ++plane)
            for (uint32_t top = 0; top < p.height; top += p.rowsPerStrip) {
                for (uint32_t y = top; y < std::min(p.height, top + p.rowsPerStrip); ++y)
                    for (uint32_t x = 0; x < p.width; ++x)
                        for (unsigned c = 0; c < p.samples; ++c)
                            if (!separate || c == plane)
                                appendSample(block, p, x, y, c);
                writeBlock(tiff, p, TIFFComputeStrip(tiff, top, static_cast<uint16_t>(plane)),
                           block);
            }
    }
    TIFFClose(tiff);
    return test::readFileBytes(path);
}

Result<Dib> decode(const Bytes& file)
{
    return readTiffBytes({file.data(), file.size()});
}

// The picture as the programs show it: decoded as stored, then stood up as its Orientation tag
// says.
Result<Dib> decodeUpright(const Bytes& file)
{
    int orientation = 0;
    auto stored = readTiffBytes({file.data(), file.size()}, nullptr, nullptr, &orientation);
    if (!stored || orientation == kStoredAsShown)
        return stored;
    return uprightCopy(stored.value(), orientation);
}

// Every pixel of the picture, top row first, in the image's own byte order.
Bytes pixelsOf(const Dib& image)
{
    Bytes out;
    const int bytes = DibGetBitCount(image) / 8;
    for (int32_t y = 0; y < DibGetHeight(image); ++y)
        for (int32_t x = 0; x < DibGetWidth(image); ++x)
            out.insert(out.end(), pixelAt(image, x, y), pixelAt(image, x, y) + bytes);
    return out;
}

unsigned patternSample(uint32_t x, uint32_t y, unsigned c)
{
    return (x * 37 + y * 71 + c * 101 + 13) % 256;
}

// Blue-first pixels of a picture whose samples (red first) come from sample().
Bytes expectedPixels(uint32_t width, uint32_t height, int bytesPerPixel,
                     const std::function<unsigned(uint32_t, uint32_t, unsigned)>& sample)
{
    Bytes out;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c : {2, 1, 0, 3})
                if (c < bytesPerPixel)
                    out.push_back(static_cast<uint8_t>(sample(x, y, static_cast<unsigned>(c))));
    return out;
}

TEST(TiffWrite, TagsAndFirstStripFollowTheSaveLayout)
{
    for (uint16_t bitCount : {24, 32}) {
        SCOPED_TRACE(bitCount);
        const int32_t width = 9, height = 3;
        Dib image = test::makePatternImage(width, height, bitCount);
        WriteOmbriSignature(const_cast<uint8_t*>(pixelAt(image, 0, 0)));
        test::TempDir dir;
        ASSERT_TRUE(test::succeeded(WriteTiffFile(dir.file("a.tif"), image)));

        TIFF* tiff = TIFFOpen(dir.file("a.tif").c_str(), "r");
        ASSERT_NE(tiff, nullptr);
        const uint16_t samples = bitCount / 8;
        auto field16 = [&](ttag_t tag) {
            uint16_t value = 0;
            EXPECT_TRUE(TIFFGetField(tiff, tag, &value)) << tag;
            return value;
        };
        auto field32 = [&](ttag_t tag) {
            uint32_t value = 0;
            EXPECT_TRUE(TIFFGetField(tiff, tag, &value)) << tag;
            return value;
        };
        auto text = [&](ttag_t tag) {
            const char* value = "";
            EXPECT_TRUE(TIFFGetField(tiff, tag, &value)) << tag;
            return std::string(value);
        };
        EXPECT_EQ(field32(TIFFTAG_IMAGEWIDTH), 9u);
        EXPECT_EQ(field32(TIFFTAG_IMAGELENGTH), 3u);
        EXPECT_EQ(field16(TIFFTAG_ORIENTATION), 1);
        EXPECT_EQ(field16(TIFFTAG_COMPRESSION), COMPRESSION_PACKBITS);
        EXPECT_EQ(field16(TIFFTAG_BITSPERSAMPLE), 8);
        EXPECT_EQ(field16(TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_RGB);
        EXPECT_EQ(text(TIFFTAG_DOCUMENTNAME), "Document Name");
        EXPECT_EQ(text(TIFFTAG_IMAGEDESCRIPTION), "OmbriWriter");
        EXPECT_EQ(field16(TIFFTAG_SAMPLESPERPIXEL), samples);
        EXPECT_EQ(field32(TIFFTAG_ROWSPERSTRIP), 1u);
        EXPECT_EQ(field16(TIFFTAG_PLANARCONFIG), PLANARCONFIG_CONTIG);
        EXPECT_EQ(text(TIFFTAG_SOFTWARE), "OmbriWriter 1.51");
        EXPECT_EQ(text(TIFFTAG_DATETIME), "2008:04:13 12:00:00");
        uint16_t extraCount = 0;
        uint16_t* extra = nullptr;
        const bool hasExtra = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
        EXPECT_EQ(hasExtra, bitCount == 32);
        if (hasExtra) {
            EXPECT_EQ(std::vector<uint16_t>(extra, extra + extraCount),
                      std::vector<uint16_t>{EXTRASAMPLE_UNASSALPHA});
        }
        float resolution = 0;
        EXPECT_FALSE(TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resolution));

        ASSERT_EQ(TIFFNumberOfStrips(tiff), 3u);
        Bytes strip(static_cast<size_t>(width) * samples);
        ASSERT_EQ(TIFFReadEncodedStrip(tiff, 0, strip.data(), -1),
                  static_cast<tmsize_t>(strip.size()));
        EXPECT_EQ(Bytes(strip.begin(), strip.begin() + 3), (Bytes{105, 103, 101}));
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = pixelAt(image, x, 0);
            Bytes stored(strip.begin() + x * samples, strip.begin() + (x + 1) * samples);
            Bytes wanted{p[2], p[1], p[0]};
            if (samples == 4)
                wanted.push_back(p[3]);
            EXPECT_EQ(stored, wanted) << "pixel " << x;
        }
        TIFFClose(tiff);
    }
}

struct RoundTripCase {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
};

class TiffRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(TiffRoundTrip, EveryByteComesBackIncludingAlphaAndSignature)
{
    const auto [width, height, bitCount] = GetParam();
    Dib image = test::makePatternImage(width, height, bitCount);
    for (int32_t y = 0; bitCount == 32 && y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            const_cast<uint8_t*>(pixelAt(image, x, y))[3] = (x + y) % 2 ? 254 : 255;
    if (rowHoldsSignature(width, bitCount))
        WriteOmbriSignature(const_cast<uint8_t*>(pixelAt(image, 0, 0)));
    test::TempDir dir;
    ASSERT_TRUE(test::succeeded(WriteTiffFile(dir.file("round.tif"), image)));
    auto loaded = ReadTiffFile(dir.file("round.tif"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(test::dibDifference(loaded.value(), image), "");
    EXPECT_EQ(HasOmbriSignature(loaded.value(), true), rowHoldsSignature(width, bitCount));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TiffRoundTrip,
                         testing::Values(RoundTripCase{5, 3, 24}, RoundTripCase{47, 33, 24},
                                         RoundTripCase{1, 1, 24}, RoundTripCase{47, 33, 32},
                                         RoundTripCase{3, 70, 32}));

unsigned alphaSample(uint32_t x, uint32_t y, unsigned c)
{
    static const unsigned alphas[] = {0, 1, 128, 254, 255, 37};
    return c == 3 ? alphas[(x + 2 * y) % 6] : patternSample(x, y, c);
}

// Whatever the fourth sample is called, 8-bit RGB(A) rows come back exactly as stored: a
// conversion that premultiplies colour by unassociated alpha would destroy carrier bytes.
TEST(TiffRead, ContiguousRgbKeepsStoredBytes)
{
    struct Case {
        const char* name;
        uint16_t samples;
        std::vector<uint16_t> extra;
        uint16_t compression;
        uint32_t rowsPerStrip;
        uint32_t tileSize;
    } cases[] = {
        {"unassociated alpha", 4, {EXTRASAMPLE_UNASSALPHA}, COMPRESSION_NONE, 1, 0},
        {"associated alpha, LZW", 4, {EXTRASAMPLE_ASSOCALPHA}, COMPRESSION_LZW, 4, 0},
        {"no ExtraSamples, deflate", 4, {}, COMPRESSION_ADOBE_DEFLATE, 100, 0},
        {"alpha in tiles", 4, {EXTRASAMPLE_UNASSALPHA}, COMPRESSION_PACKBITS, 0, 16},
        {"RGB in tiles", 3, {}, COMPRESSION_NONE, 0, 16},
        {"RGB in strips", 3, {}, COMPRESSION_LZW, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffPicture p;
        p.width = 37;
        p.height = 21;
        p.samples = c.samples;
        p.extraSamples = c.extra;
        p.compression = c.compression;
        p.rowsPerStrip = c.rowsPerStrip;
        p.tileSize = c.tileSize;
        p.sample = alphaSample;
        auto loaded = decode(encodeTiff(p));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_EQ(DibGetBitCount(loaded.value()), c.samples * 8);
        EXPECT_EQ(pixelsOf(loaded.value()), expectedPixels(37, 21, c.samples, alphaSample));
    }
}

// Planes, tiles and 16-bit samples give exactly the stored values, 16-bit ones by their high
// byte, whichever the file's byte order: unassociated alpha is never applied to the colours (a
// note pixel's alpha is 254), and samples widened by 256 (as vips does) are not rounded.
TEST(TiffRead, PlanesTilesAndWideSamplesKeepStoredValues)
{
    const auto wide = [](uint32_t x, uint32_t y, unsigned c) {
        return alphaSample(x, y, c) * 256 + (x * 13 + c) % 256;
    };
    struct Case {
        const char* name;
        std::function<void(TiffPicture&)> setUp;
    } cases[] = {
        {"separate planes", [](TiffPicture& p) { p.planar = PLANARCONFIG_SEPARATE; }},
        {"separate planes in tiles, deflate",
         [](TiffPicture& p) {
             p.planar = PLANARCONFIG_SEPARATE, p.tileSize = 16;
             p.compression = COMPRESSION_ADOBE_DEFLATE;
         }},
        {"16-bit samples x 256",
         [](TiffPicture& p) {
             p.bitsPerSample = 16;
             p.sample = [](uint32_t x, uint32_t y, unsigned c) {
                 return alphaSample(x, y, c) * 256;
             };
         }},
        {"16-bit big-endian samples with low bytes, LZW",
         [&](TiffPicture& p) {
             p.bitsPerSample = 16, p.bigEndian = true, p.sample = wide;
             p.compression = COMPRESSION_LZW, p.rowsPerStrip = 5;
         }},
        {"16-bit separate planes in tiles",
         [&](TiffPicture& p) {
             p.bitsPerSample = 16, p.planar = PLANARCONFIG_SEPARATE, p.tileSize = 16;
             p.sample = wide;
         }},
    };
    for (const Case& c : cases) {
        for (uint16_t samples : {4, 3}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(samples) + " samples");
            TiffPicture p;
            p.width = 37;
            p.height = 21;
            p.samples = samples;
            if (samples == 4)
                p.extraSamples = {EXTRASAMPLE_UNASSALPHA};
            p.sample = alphaSample;
            c.setUp(p);
            auto loaded = decode(encodeTiff(p));
            ASSERT_TRUE(loaded.ok()) << loaded.error();
            EXPECT_EQ(DibGetBitCount(loaded.value()), samples * 8);
            EXPECT_EQ(pixelsOf(loaded.value()), expectedPixels(37, 21, samples, alphaSample));
        }
    }
}

// Layouts that libtiff converts: grey (with or without alpha) and palette files become 24-bit,
// other orientations and sample layouts land the right way round.
TEST(TiffRead, OtherLayoutsAreConvertedByTheLibrary)
{
    const auto grey = [](uint32_t x, uint32_t y, unsigned) { return patternSample(x, y, 0); };
    const auto greyAlpha = [](uint32_t x, uint32_t y, unsigned c) {
        return c == 0 ? patternSample(x, y, 0) : (x * 50 + y) % 256;
    };
    struct Case {
        const char* name;
        std::function<void(TiffPicture&)> setUp;
        std::function<unsigned(uint32_t, uint32_t, unsigned)> expected;
    } cases[] = {
        {"grey",
         [&](TiffPicture& p) {
             p.samples = 1, p.photometric = PHOTOMETRIC_MINISBLACK, p.sample = grey;
         },
         grey},
        {"grey with alpha",
         [&](TiffPicture& p) {
             p.samples = 2, p.photometric = PHOTOMETRIC_MINISBLACK, p.sample = greyAlpha;
             p.extraSamples = {EXTRASAMPLE_UNASSALPHA};
         },
         grey},
        {"grey in uncompressed tiles", // refused by libtiff unless read from a mapping
         [&](TiffPicture& p) {
             p.samples = 1, p.photometric = PHOTOMETRIC_MINISBLACK, p.sample = grey;
             p.tileSize = 16;
         },
         grey},
        {"palette",
         [](TiffPicture& p) {
             p.samples = 1, p.photometric = PHOTOMETRIC_PALETTE;
             p.sample = [](uint32_t x, uint32_t y, unsigned) { return (x + 7 * y) % 256; };
             for (unsigned c = 0; c < 3; ++c)
                 for (unsigned i = 0; i < 256; ++i)
                     p.colourMap.push_back(static_cast<uint16_t>(patternSample(i, 0, c) * 257));
         },
         [](uint32_t x, uint32_t y, unsigned c) { return patternSample((x + 7 * y) % 256, 0, c); }},
        {"bottom-up rows",
         [](TiffPicture& p) {
             p.orientation = ORIENTATION_BOTLEFT;
             p.sample = [](uint32_t x, uint32_t y, unsigned c) {
                 return patternSample(x, 4 - y, c);
             };
         },
         patternSample},
        {"right-to-left columns",
         [](TiffPicture& p) {
             p.orientation = ORIENTATION_TOPRIGHT;
             p.sample = [](uint32_t x, uint32_t y, unsigned c) {
                 return patternSample(6 - x, y, c);
             };
         },
         patternSample},
        {"separate planes",
         [](TiffPicture& p) { p.planar = PLANARCONFIG_SEPARATE, p.sample = patternSample; },
         patternSample},
        {"16-bit samples",
         [](TiffPicture& p) {
             p.bitsPerSample = 16;
             p.sample = [](uint32_t x, uint32_t y, unsigned c) {
                 return patternSample(x, y, c) * 257;
             };
         },
         patternSample},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffPicture p;
        c.setUp(p);
        auto loaded = decodeUpright(encodeTiff(p));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_EQ(DibGetBitCount(loaded.value()), 24);
        EXPECT_EQ(pixelsOf(loaded.value()), expectedPixels(7, 5, 3, c.expected));
    }
}

// A strip that does not decode costs its own rows (left zero); a file of which nothing decodes
// is no image.
TEST(TiffRead, DamagedStripsCostOnlyTheirRows)
{
    for (uint16_t samples : {3, 1}) {
        SCOPED_TRACE(samples);
        TiffPicture p;
        p.samples = samples;
        p.photometric = samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        p.compression = COMPRESSION_ADOBE_DEFLATE;
        p.sample = patternSample;
        p.damaged = {1}; // rows 2 and 3
        auto loaded = decode(encodeTiff(p));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        Bytes wanted = expectedPixels(7, 5, 3, [&](uint32_t x, uint32_t y, unsigned c) {
            return y == 2 || y == 3 ? 0 : patternSample(x, y, samples == 3 ? c : 0);
        });
        EXPECT_EQ(pixelsOf(loaded.value()), wanted);

        p.damaged = {0, 1, 2};
        auto nothing = decode(encodeTiff(p));
        EXPECT_FALSE(nothing.ok());
        EXPECT_FALSE(nothing.error().empty());
    }
}

// A little-endian file with one grey strip, its fields as given, the data right behind the
// directory.
Bytes handMadeTiff(uint32_t width, uint32_t height, uint16_t compression, const Bytes& data,
                   uint32_t dataOffsetShift = 0)
{
    const uint16_t entries[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                   {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t dataAt = 8 + 2 + 9 * 12 + 4;
    const uint32_t values[] = {width,       height, 8,
                               compression, 1,      dataAt + dataOffsetShift,
                               1,           height, static_cast<uint32_t>(data.size())};
    Bytes file = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    for (int i = 0; i < 9; ++i) {
        uint8_t entry[12] = {};
        writeLe16(entry, entries[i][0]);
        writeLe16(entry + 2, entries[i][1]);
        writeLe32(entry + 4, 1);
        writeLe32(entry + 8, values[i]);
        file.insert(file.end(), entry, entry + 12);
    }
    file.insert(file.end(), 4, 0);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

TEST(TiffRead, MalformedFilesAreRefusedWithAReason)
{
    const Bytes sixteen(16, 0x80);
    ASSERT_TRUE(decode(handMadeTiff(4, 4, COMPRESSION_NONE, sixteen)).ok());
    Dib small = test::makePatternImage(9, 9, 24);
    test::TempDir dir;
    ASSERT_TRUE(test::succeeded(WriteTiffFile(dir.file("ok.tif"), small)));
    const Bytes written = test::readFileBytes(dir.file("ok.tif"));
    const struct {
        const char* name;
        Bytes file;
        const char* reason; // nullptr: any
    } cases[] = {
        {"empty", {}, nullptr},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, nullptr},
        {"header only", {'I', 'I', 42, 0, 8, 0, 0, 0}, nullptr},
        {"directory cut", Bytes(written.begin(), written.begin() + readLe32(&written[4]) + 20),
         nullptr},
        {"width 0", handMadeTiff(0, 4, COMPRESSION_NONE, sixteen), nullptr},
        {"too many pixels", handMadeTiff(20000, 20000, COMPRESSION_ADOBE_DEFLATE, sixteen),
         "the image is too large"},
        {"wider than the limit", handMadeTiff(kMaxDimension + 1, 1, COMPRESSION_LZW, sixteen),
         "the image is too large"},
        {"more rows than bytes", handMadeTiff(1000, 1000, COMPRESSION_NONE, sixteen),
         "the file is shorter than its image"},
        {"data beyond the end", handMadeTiff(4, 4, COMPRESSION_NONE, sixteen, 1000), nullptr},
    };
    for (const auto& c : cases) {
        auto loaded = decode(c.file);
        EXPECT_FALSE(loaded.ok()) << c.name;
        EXPECT_FALSE(loaded.error().empty()) << c.name;
        if (c.reason) {
            EXPECT_EQ(loaded.error(), c.reason) << c.name;
        }
    }
    const size_t saved = maxImageBytes();
    setMaxImageBytes(100);
    auto limited = decode(written);
    setMaxImageBytes(saved);
    EXPECT_EQ(limited.error(), "the image is too large");
}

// The little-endian file with the value of a one-value tag of its first directory replaced; a
// value too large for a short makes the entry a long.
Bytes withTag(Bytes file, uint16_t tag, uint32_t value)
{
    const uint32_t directory = readLe32(&file[4]);
    const uint16_t count = readLe16(&file[directory]);
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t* entry = &file[directory + 2 + 12 * i];
        if (readLe16(entry) != tag)
            continue;
        if (readLe16(entry + 2) == TIFF_SHORT && value <= 0xFFFF) {
            writeLe16(entry + 8, static_cast<uint16_t>(value));
        } else {
            writeLe16(entry + 2, TIFF_LONG);
            writeLe32(entry + 8, value);
        }
    }
    return file;
}

// Files read sample by sample from their planes, tiles and strips: sizes that disagree with the
// picture are refused, and cut or damaged bytes never lead outside the data.
TEST(TiffRead, DamagedPlanesTilesAndWideSamplesStayInsideTheirData)
{
    TiffPicture tiles;
    tiles.width = 37, tiles.height = 21, tiles.samples = 4, tiles.bitsPerSample = 16;
    tiles.planar = PLANARCONFIG_SEPARATE, tiles.tileSize = 16;
    tiles.compression = COMPRESSION_ADOBE_DEFLATE;
    tiles.extraSamples = {EXTRASAMPLE_UNASSALPHA};
    tiles.sample = alphaSample;
    TiffPicture strips = tiles;
    strips.tileSize = 0, strips.compression = COMPRESSION_NONE, strips.rowsPerStrip = 4;
    const Bytes tiled = encodeTiff(tiles);
    const Bytes striped = encodeTiff(strips);
    ASSERT_TRUE(decode(tiled).ok());
    ASSERT_TRUE(decode(striped).ok());
    const struct {
        const char* name;
        Bytes file;
    } refused[] = {
        {"tile wider than the limit", withTag(tiled, TIFFTAG_TILEWIDTH, kMaxDimension + 16)},
        {"tile taller than the limit", withTag(tiled, TIFFTAG_TILELENGTH, 0x7FFFFFF0u)},
        {"tile width 0", withTag(tiled, TIFFTAG_TILEWIDTH, 0)},
        {"strip taller than the limit", withTag(striped, TIFFTAG_ROWSPERSTRIP, 0x7FFFFFF0u)},
        {"more samples than the planes stored", withTag(striped, TIFFTAG_SAMPLESPERPIXEL, 40)},
        {"more rows than the planes hold", withTag(striped, TIFFTAG_IMAGELENGTH, 2100)},
    };
    for (const auto& c : refused) {
        auto loaded = decode(c.file);
        EXPECT_FALSE(loaded.ok()) << c.name;
        EXPECT_FALSE(loaded.error().empty()) << c.name;
    }
    const size_t saved = maxImageBytes();
    setMaxImageBytes(1000);
    EXPECT_FALSE(decode(tiled).ok());
    EXPECT_FALSE(decode(striped).ok());
    setMaxImageBytes(saved);
    for (const Bytes& file : {tiled, striped}) {
        for (size_t end = 0; end < file.size(); end += 37)
            (void)decode(Bytes(file.begin(), file.begin() + end));
        for (size_t at = 0; at < file.size(); at += 5) {
            Bytes damaged = file;
            damaged[at] ^= 0xA5;
            (void)decode(damaged);
        }
    }
}

TEST(TiffRead, FileReaderMatchesByteReader)
{
    test::TempDir dir;
    TiffPicture p;
    p.sample = patternSample;
    const Bytes file = encodeTiff(p);
    test::writeFileBytes(dir.file("a.tif"), file);
    auto fromFile = ReadTiffFile(dir.file("a.tif"));
    auto fromBytes = decode(file);
    ASSERT_TRUE(fromFile.ok() && fromBytes.ok()) << fromFile.error();
    EXPECT_EQ(test::dibDifference(fromFile.value(), fromBytes.value()), "");
    EXPECT_FALSE(ReadTiffFile(dir.file("missing.tif")).error().empty());
    EXPECT_EQ(ReadTiffFile(dir.path()).error(), "it is a folder");
}

TEST(TiffWrite, FailureLeavesTheTargetIntact)
{
    test::TempDir dir;
    EXPECT_TRUE(test::failedWithReason(
        WriteTiffFile(dir.file("no/such/folder.tif"), test::makePatternImage(4, 4, 24))));

    const Bytes old = {1, 2, 3};
    test::writeFileBytes(dir.file("old.tif"), old);
    Dib indexed = Dib::allocate(kInfoHeaderSize + 256 * 4 + 16);
    const auto header = DibMakeHeader(4, 4, 8, 0);
    std::memcpy(indexed.data(), header.data(), header.size());
    EXPECT_TRUE(test::failedWithReason(WriteTiffFile(dir.file("old.tif"), indexed)));
    EXPECT_EQ(test::readFileBytes(dir.file("old.tif")), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// ImageMagick as a second opinion, when it is installed. Its raw "rgb:"/"rgba:" output is the
// picture top row first, red first.
TEST(TiffImageMagick, FilesItWritesReadToItsPixels)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    Dib picture = test::makePatternImage(37, 21, 32);
    test::writePam(dir.file("rgba.pam"), picture, 4);
    test::writePam(dir.file("rgb.pam"), picture, 3);
    const struct {
        const char* arguments;
        const char* raw;
    } cases[] = {
        {"rgba.pam -compress lzw", "rgba"},
        {"rgb.pam -compress zip", "rgb"},
        {"rgb.pam -define tiff:tile-geometry=16x16", "rgb"},
        {"rgb.pam -colorspace gray -define tiff:tile-geometry=16x16", "rgb"},
        {"rgb.pam -colorspace gray -depth 8 -depth 16", "rgb"},
        {"rgb.pam -colors 64 -depth 8 -type palette", "rgb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string tiff = dir.file("im.tif"), raw = dir.file("im.raw");
        ASSERT_EQ(test::runConvert(dir.path() + "/" + c.arguments + " '" + tiff + "'"), "");
        ASSERT_EQ(test::runConvert("'" + tiff + "' -depth 8 " + c.raw + ":'" + raw + "'"), "");
        auto loaded = ReadTiffFile(tiff);
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_EQ(test::redFirstSamples(loaded.value(), static_cast<int>(std::strlen(c.raw))),
                  test::readFileBytes(raw));
    }
}

TEST(TiffImageMagick, ReadsWhatWeWrite)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    for (uint16_t bitCount : {24, 32}) {
        Dib image = test::makePatternImage(47, 33, bitCount);
        ASSERT_TRUE(test::succeeded(WriteTiffFile(dir.file("ours.tif"), image)));
        const char* raw = bitCount == 32 ? "rgba" : "rgb";
        ASSERT_EQ(test::runConvert("'" + dir.file("ours.tif") + "' -depth 8 " + raw + ":'" +
                                   dir.file("ours.raw") + "'"),
                  "");
        EXPECT_EQ(test::readFileBytes(dir.file("ours.raw")),
                  test::redFirstSamples(image, bitCount / 8))
            << bitCount;
    }
}

// vips as another program that widens pictures, when it is installed: the command's output, empty
// when it succeeds.
std::string runVips(const std::string& arguments)
{
    std::FILE* pipe = popen(("vips " + arguments + " 2>&1").c_str(), "r");
    if (!pipe)
        return "cannot run vips";
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    return pclose(pipe) == 0 ? std::string() : "vips " + arguments + ": " + output;
}

bool haveVips()
{
    static const bool found = runVips("--version").empty();
    return found;
}

// Our carriers as other programs rewrite them, keeping every value: widened to 16 bits (by 257
// in ImageMagick, by 256 in vips), split into planes, cut into tiles. Each gives back the pixels
// we saved, alpha 254 under the notes included, and so every note.
TEST(TiffOtherPrograms, CarriersRewrittenWithTheSameValuesKeepTheirNotes)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    const std::string ours = dir.file("ours.tif");
    const std::string other = dir.file("other.tif");
    // Arguments to ImageMagick's convert, or to vips.
    struct Rewrite {
        const char* name;
        bool vips;
        std::string arguments;
    };
    const Rewrite rewrites[] = {
        {"ImageMagick -depth 16", false, ours + " -depth 16 " + other},
        {"ImageMagick planes", false, ours + " -interlace plane " + other},
        {"ImageMagick tiles", false,
         ours + " -define tiff:tile-geometry=16x16 -compress zip " + other},
        {"ImageMagick 16-bit planes in tiles", false,
         ours + " -depth 16 -interlace plane -define tiff:tile-geometry=16x16 " + other},
        {"vips rgb16", true, "colourspace " + ours + " " + other + " rgb16"},
    };
    const NoteLayer notes = test::makePatternNotes(47, 33);
    for (const SaveDepth depth : {SaveDepth::Bits24, SaveDepth::Alpha32}) {
        Dib carrier = MakeCarrierCopy(test::makePatternImage(47, 33, 24, 5), notes, depth);
        auto layout = dibGetLayout(carrier);
        ASSERT_TRUE(layout.has_value());
        writeCarrierSignature(carrier.data() + layout->pixelOffset +
                                  static_cast<size_t>(layout->height - 1) * layout->stride,
                              layout->width, layout->bitCount);
        ASSERT_TRUE(test::succeeded(WriteTiffFile(ours, carrier)));
        const CarrierByte byte =
            depth == SaveDepth::Alpha32 ? CarrierByte::Alpha : CarrierByte::Blue;
        std::optional<NoteLayer> saved;
        ExtractNoteLayer(carrier, saved, byte);
        ASSERT_TRUE(saved.has_value());
        for (const Rewrite& rewrite : rewrites) {
            SCOPED_TRACE(std::string(rewrite.name) + ", " + std::to_string(layout->bitCount));
            if (rewrite.vips && !haveVips())
                continue;
            ASSERT_EQ(rewrite.vips ? runVips(rewrite.arguments)
                                   : test::runConvert(rewrite.arguments),
                      "");
            auto loaded = ReadTiffFile(other);
            ASSERT_TRUE(loaded) << loaded.error();
            EXPECT_EQ(test::dibDifference(loaded.value(), carrier), "");
            const SignatureFind found =
                findOmbriSignature(loaded.value(), true, SignatureForm::Interleaved);
            EXPECT_TRUE(found.intact());
            EXPECT_EQ(found.carrier, byte);
            std::optional<NoteLayer> read;
            ExtractNoteLayer(loaded.value(), read, found.carrier);
            EXPECT_EQ(read, saved);
        }
    }
}

// A grey picture widened to 16 bits, each value times 256 (alpha beside the grey or not) or
// times 257 (vips' own grey16), reads back as the 8-bit values it came from: the high byte of
// each sample, as for colour and for 16-bit PNG. libtiff's conversion takes that byte for grey,
// where for colour it rounds; an alpha sample beside the grey changes nothing.
TEST(TiffOtherPrograms, SixteenBitGreyReadsAsItsHighByte)
{
    if (!haveVips())
        GTEST_SKIP() << "vips is not installed";
    test::TempDir dir;
    constexpr int32_t kWidth = 64, kHeight = 32;
    const std::string header =
        "P5\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    std::vector<uint8_t> pgm(header.begin(), header.end());
    Dib expected = Dib::create(kWidth, kHeight, 24);
    auto layout = dibGetLayout(expected);
    ASSERT_TRUE(layout.has_value());
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = expected.data() + layout->pixelOffset +
                       static_cast<size_t>(kHeight - 1 - y) * layout->stride;
        for (int32_t x = 0; x < kWidth; ++x) {
            const auto value = static_cast<uint8_t>((y * kWidth + x) % 256);
            pgm.push_back(value);
            std::memset(row + 3 * x, value, 3);
        }
    }
    const std::string grey = dir.file("grey.pgm");
    test::writeFileBytes(grey, pgm);
    const std::string wide = dir.file("wide.v");
    const std::string shifted = dir.file("shifted.v");
    const std::string withAlpha = dir.file("with-alpha.v");
    const std::string narrowWithAlpha = dir.file("narrow-with-alpha.v");
    ASSERT_EQ(runVips("cast " + grey + " " + wide + " ushort"), "");
    ASSERT_EQ(runVips("boolean_const " + wide + " " + shifted + " lshift 8"), "");
    ASSERT_EQ(runVips("bandjoin_const " + shifted + " " + withAlpha + " 51200"), "");
    ASSERT_EQ(runVips("bandjoin_const " + grey + " " + narrowWithAlpha + " 200"), "");

    const std::string out = dir.file("grey16.tif");
    const std::pair<const char*, std::string> widenings[] = {
        {"times 256", "copy " + shifted + " " + out + " --interpretation grey16"},
        {"times 256 with alpha", "copy " + withAlpha + " " + out + " --interpretation grey16"},
        {"times 257", "colourspace " + grey + " " + out + " grey16"},
        {"8 bits with alpha", "copy " + narrowWithAlpha + " " + out},
    };
    for (const auto& [name, arguments] : widenings) {
        SCOPED_TRACE(name);
        ASSERT_EQ(runVips(arguments), "");
        auto loaded = ReadTiffFile(out);
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ(test::dibDifference(loaded.value(), expected), "");
    }
}

} // namespace
} // namespace ombri
