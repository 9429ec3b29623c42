#include "formats/pcx.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "support/imagemagick.h"
#include "support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;
using test::pixelAt;

struct PcxFile {
    uint8_t manufacturer = 10;
    uint8_t bitsPerPlane = 8;
    uint8_t planes = 3;
    uint16_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    uint16_t horizontalResolution = 72, verticalResolution = 72;
    uint16_t lineBytes = 0;
    Bytes data;
};

PcxFile sized(uint16_t width, uint16_t height, uint16_t lineBytes, Bytes data)
{
    PcxFile p;
    p.xMax = static_cast<uint16_t>(width - 1);
    p.yMax = static_cast<uint16_t>(height - 1);
    p.lineBytes = lineBytes;
    p.data = std::move(data);
    return p;
}

Bytes build(const PcxFile& p)
{
    // Sized once for header and data: growing it by insert trips a false bounds warning in GCC 12.
    Bytes out(128 + p.data.size());
    out[0] = p.manufacturer;
    out[1] = 5;
    out[2] = 1;
    out[3] = p.bitsPerPlane;
    writeLe16(&out[4], p.xMin);
    writeLe16(&out[6], p.yMin);
    writeLe16(&out[8], p.xMax);
    writeLe16(&out[10], p.yMax);
    writeLe16(&out[12], p.horizontalResolution);
    writeLe16(&out[14], p.verticalResolution);
    out[65] = p.planes;
    writeLe16(&out[66], p.lineBytes);
    out[68] = 1;
    std::copy(p.data.begin(), p.data.end(), out.begin() + 128);
    return out;
}

// Run-length encodes each plane line on its own, as the format asks; lines are padded with
// `padding` up to lineBytes.
Bytes encodeRows(int width, int height, const Bytes& rgb, int lineBytes, uint8_t padding = 0)
{
    Bytes out;
    Bytes line(static_cast<size_t>(lineBytes));
    for (int y = 0; y < height; ++y) {
        for (int plane = 0; plane < 3; ++plane) {
            std::fill(line.begin(), line.end(), padding);
            for (int x = 0; x < width; ++x)
                line[size_t(x)] = rgb[(size_t(y) * width + x) * 3 + plane];
            for (size_t at = 0; at < line.size();) {
                size_t run = 1;
                while (at + run < line.size() && run < 63 && line[at + run] == line[at])
                    ++run;
                if (run > 1 || line[at] >= 0xC0)
                    out.push_back(static_cast<uint8_t>(0xC0 | run));
                out.push_back(line[at]);
                at += run;
            }
        }
    }
    return out;
}

Bytes patternRgb(int width, int height)
{
    Bytes rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgb.insert(rgb.end(), {uint8_t(x * 5 + y), uint8_t(x / 3 * 40 + 200),
                                   uint8_t((x * 7) ^ (y * 13))});
    return rgb;
}

Result<Dib> decode(const Bytes& file)
{
    return readPcxBytes({file.data(), file.size()});
}

Rgb rgbAt(const Dib& image, int32_t x, int32_t y)
{
    const uint8_t* p = pixelAt(image, x, y);
    return {p[2], p[1], p[0]};
}

void expectPixels(const Dib& image, int width, int height, const Bytes& rgb,
                  const std::string& name)
{
    ASSERT_EQ(DibGetBitCount(image), 24) << name;
    ASSERT_EQ(DibGetWidth(image), width) << name;
    ASSERT_EQ(DibGetHeight(image), height) << name;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* want = &rgb[(size_t(y) * width + x) * 3];
            ASSERT_EQ(rgbAt(image, x, y), (Rgb{want[0], want[1], want[2]}))
                << name << ", pixel " << x << ", " << y;
        }
}

TEST(PcxRead, RunLengthDecoding)
{
    const struct {
        const char* name;
        PcxFile file;
        Bytes rgb; // expected pixels, top row first
    } cases[] = {
        {"literals; plane lines padded to four bytes",
         sized(3, 2, 4, {1,  2,    3,  0x2E, 4,  5,
                         6,  0x2E, 7,  8,    9,  0x2E, // top scan line: red, green, blue
                         10, 11,   12, 0x2E, 13, 14,
                         15, 0x2E, 16, 17,   18, 0x2E}),
         {1, 4, 7, 2, 5, 8, 3, 6, 9, 10, 13, 16, 11, 14, 17, 12, 15, 18}},
        {"a run sets three pixels of one plane",
         sized(3, 1, 3, {0xC3, 0x80, 1, 2, 3, 4, 5, 6}),
         {0x80, 1, 4, 0x80, 2, 5, 0x80, 3, 6}},
        {"a run crossing from one plane into the next",
         sized(2, 1, 2, {0xC3, 0x10, 0x20, 0x30, 0x31}),
         {0x10, 0x10, 0x30, 0x10, 0x20, 0x31}},
        {"a run crossing padding into the next plane",
         sized(1, 1, 2, {0x50, 0xC2, 0x60, 0x61, 0x70, 0x2E}),
         {0x50, 0x60, 0x70}},
        {"run byte 0xC0 writes nothing",
         sized(2, 1, 2, {0xC0, 0x77, 1, 2, 3, 4, 5, 6}),
         {1, 3, 5, 2, 4, 6}},
        {"a value of 0xC0 or more as a run of one",
         sized(1, 1, 1, {0xC1, 0xC5, 0xC1, 0xFF, 0x7F}),
         {0xC5, 0xFF, 0x7F}},
        {"a run past the end of the scan line is cut there",
         sized(1, 2, 1, {1, 2, 0xC5, 0x33, 4, 5, 6}),
         {1, 2, 0x33, 4, 5, 6}},
        {"bytes per line below the width: the width counts",
         sized(2, 1, 0, {1, 2, 3, 4, 5, 6}),
         {1, 3, 5, 2, 4, 6}},
        {"a 256-colour palette block behind the data is not read",
         [] {
             PcxFile p = sized(1, 1, 2, {1, 0, 2, 0, 3, 0, 0x0C});
             p.data.insert(p.data.end(), 768, 0xAA);
             return p;
         }(),
         {1, 2, 3}},
        {"data that ends early keeps the lines decoded so far",
         sized(2, 3, 2, {1, 2, 3, 4, 5, 6, 7, 0xC1}),
         {1, 3, 5, 2, 4, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"x and y minimum above zero",
         [] {
             PcxFile p = sized(1, 1, 2, {9, 9, 8, 8, 7, 7});
             p.xMin = 5, p.xMax = 6, p.yMin = 10, p.yMax = 10;
             return p;
         }(),
         {9, 8, 7, 9, 8, 7}},
    };
    for (const auto& c : cases) {
        auto loaded = decode(build(c.file));
        ASSERT_TRUE(loaded.ok()) << c.name << ": " << loaded.error();
        const int width = c.file.xMax - c.file.xMin + 1;
        const int height = c.file.yMax - c.file.yMin + 1;
        expectPixels(loaded.value(), width, height, c.rgb, c.name);
    }
}

TEST(PcxRead, HeaderFieldsOfTheImage)
{
    PcxFile p = sized(3, 2, 4, Bytes(24, 1));
    p.horizontalResolution = 300;
    p.verticalResolution = 301;
    auto loaded = decode(build(p));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const Dib& image = loaded.value();
    const auto layout = dibGetLayout(image);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->stride, 12u);
    EXPECT_EQ(layout->colourCount, 0u);
    EXPECT_EQ(image.size(), kInfoHeaderSize + 24);
    EXPECT_EQ(readLe32(image.data() + 20), 24u); // image size
    EXPECT_EQ(readLe32(image.data() + 24), 300u);
    EXPECT_EQ(readLe32(image.data() + 28), 301u);
    // Row padding stays zero.
    EXPECT_EQ(pixelAt(image, 2, 0)[3], 0);
    EXPECT_EQ(pixelAt(image, 2, 1)[3], 0);
}

TEST(PcxRead, OddWidthsAndWideLinesMatchTheEncodedPicture)
{
    const struct {
        int width, height, lineBytes;
    } cases[] = {{1, 1, 2}, {47, 33, 48}, {5, 3, 64}, {301, 20, 302}, {64, 64, 64}};
    for (const auto& c : cases) {
        const Bytes rgb = patternRgb(c.width, c.height);
        PcxFile p = sized(uint16_t(c.width), uint16_t(c.height), uint16_t(c.lineBytes),
                          encodeRows(c.width, c.height, rgb, c.lineBytes, 0xEE));
        auto loaded = decode(build(p));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        expectPixels(loaded.value(), c.width, c.height, rgb,
                     std::to_string(c.width) + " wide, lines of " + std::to_string(c.lineBytes));
    }
}

TEST(PcxRead, MalformedFilesFailWithAReason)
{
    const Bytes good = build(sized(2, 2, 2, Bytes(12, 7)));
    ASSERT_TRUE(decode(good).ok());
    const auto patched = [&](size_t at, uint8_t value) {
        Bytes out = good;
        out.at(at) = value;
        return out;
    };
    const struct {
        const char* name;
        Bytes file;
        const char* error;
    } cases[] = {
        {"empty", {}, "not a PCX file"},
        {"short header", Bytes(good.begin(), good.begin() + 127), "not a PCX file"},
        {"other manufacturer", patched(0, 5), "not a PCX file"},
        {"one plane", patched(65, 1),
         "only 24-bit PCX files (three planes of 8 bits) are supported"},
        {"four planes", patched(65, 4),
         "only 24-bit PCX files (three planes of 8 bits) are supported"},
        {"four bits per plane", patched(3, 4),
         "only 24-bit PCX files (three planes of 8 bits) are supported"},
        {"x maximum below x minimum", patched(4, 9), "the image has an impossible size"},
        {"y maximum below y minimum", patched(6, 9), "the image has an impossible size"},
        {"header only", Bytes(good.begin(), good.begin() + 128),
         "the file is too short for the image it describes"},
        {"more pixels than the data could hold", build(sized(1000, 1000, 1000, Bytes(100, 0xFF))),
         "the file is too short for the image it describes"},
        {"only empty runs", build(sized(1, 1, 1, {0xC0, 1, 0xC0, 2})),
         "the image data ends before its first pixel"},
        {"65536 x 65536", build(sized(0, 0, 0, Bytes(64, 0xFF))), "the image is too large"},
    };
    for (const auto& c : cases) {
        auto loaded = decode(c.file);
        EXPECT_FALSE(loaded.ok()) << c.name;
        EXPECT_EQ(loaded.error(), c.error) << c.name;
    }
}

TEST(PcxRead, AreaBeyondTheLimitIsRefused)
{
    const Bytes file = build(sized(64, 64, 64, encodeRows(64, 64, patternRgb(64, 64), 64)));
    const size_t saved = maxImageBytes();
    setMaxImageBytes(64 * 3 * 63);
    auto loaded = decode(file);
    setMaxImageBytes(saved);
    EXPECT_EQ(loaded.error(), "the image is too large");
}

TEST(PcxRead, FileReaderMatchesByteReader)
{
    test::TempDir dir;
    const Bytes file = build(sized(31, 9, 32, encodeRows(31, 9, patternRgb(31, 9), 32)));
    test::writeFileBytes(dir.file("a.pcx"), file);
    auto fromFile = ReadPcxFile(dir.file("a.pcx"));
    auto fromBytes = decode(file);
    ASSERT_TRUE(fromFile.ok()) << fromFile.error();
    ASSERT_EQ(fromFile.value().size(), fromBytes.value().size());
    EXPECT_EQ(0, std::memcmp(fromFile.value().data(), fromBytes.value().data(),
                             fromBytes.value().size()));
    EXPECT_FALSE(ReadPcxFile(dir.file("missing.pcx")).error().empty());
    EXPECT_FALSE(ReadPcxFile(dir.path()).ok());
}

// ImageMagick as an independent encoder and decoder; the test skips when it is not installed.

TEST(PcxImageMagick, FilesItWritesDecodeToItsOwnPixels)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    for (const auto& [width, height] : {std::pair{47, 33}, std::pair{1, 5}, std::pair{130, 7}}) {
        // Many colours, so that ImageMagick keeps three planes rather than a palette.
        test::writePpm(dir.file("in.ppm"), width, height, patternRgb(width, height));
        ASSERT_EQ(test::runConvert(dir.file("in.ppm") + " -type TrueColor " + dir.file("im.pcx")),
                  "");
        ASSERT_EQ(test::runConvert(dir.file("im.pcx") + " " + dir.file("im.ppm")), "");
        const test::Pixmap reference = test::readPixmap(dir.file("im.ppm"));
        ASSERT_EQ(reference.width, width);
        auto loaded = ReadPcxFile(dir.file("im.pcx"));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        expectPixels(loaded.value(), width, height, reference.samples,
                     "ImageMagick's " + std::to_string(width) + " x " + std::to_string(height));
    }
}

} // namespace
} // namespace ombri
