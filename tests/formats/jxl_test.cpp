// JPEG XL files made by cjxl are read as djxl reads them: both decode through libjxl, so every
// sample of an 8-bit file must be equal. djxl writes a file of 16 bits as a 16-bit PNG, whose
// high bytes may differ from libjxl's own rounding to 8 bits by 2 at most.

#include "formats/jxl.h"

#include "core/limits.h"
#include "formats/dispatch.h"
#include "formats/image_size.h"
#include "formats/orientation.h"
#include "formats/png.h"
#include "support/colour_profiles.h"
#include "support/imagemagick.h"
#include "support/test_support.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace ombri {
namespace {

bool haveJxlTools()
{
    static const bool found = test::haveCommands({"cjxl", "djxl"});
    return found;
}

// djxl's decode of a file as shown, at the file's depth; a 16-bit PNG is read as its high bytes.
Dib djxlPicture(const std::string& jxl)
{
    return test::pngWrittenBy("djxl '" + jxl + "' '" + jxl + ".png' 2>&1 >/dev/null", jxl + ".png");
}

// Makes name.jxl with cjxl's options from a pattern picture of the size and bit count, written
// by ImageMagick with the `convert` arguments (a depth, a grey colour space) when there are any.
std::string encoded(const test::TempDir& dir, const std::string& name, int32_t width,
                    int32_t height, uint16_t bitCount, const std::string& convert,
                    const std::string& options)
{
    std::string png = dir.file(name + ".png");
    const std::string jxl = dir.file(name + ".jxl");
    EXPECT_TRUE(WritePngFile(png, test::makePatternImage(width, height, bitCount)).ok());
    if (!convert.empty()) {
        const std::string converted = dir.file(name + "-converted.png");
        EXPECT_EQ(test::runCommand("convert '" + png + "' " + convert + "'" + converted + "'"), "");
        png = converted;
    }
    EXPECT_EQ(test::runCommand("cjxl '" + png + "' '" + jxl + "' " + options + " >/dev/null"), "");
    return jxl;
}

TEST(JxlRead, FilesOfCjxlReadAsDjxlReadsThem)
{
    if (!haveJxlTools())
        GTEST_SKIP() << "cjxl and djxl (Debian package libjxl-tools) are not installed";
    test::TempDir dir;
    // Lossless files of colour pictures come out as the pattern itself, those of 16 bits
    // through libjxl's rounding of the widened samples. djxl 0.7 cannot write a 16-bit picture
    // with alpha ("Alpha bit depth does not match image bit depth"): that one is judged by the
    // pattern alone.
    struct Kind {
        const char* name;
        const char* convert;
        const char* options;
        uint16_t bitCount;
        bool sixteen;
        bool asThePattern;
        bool byDjxl;
    };
    const Kind kinds[] = {
        {"lossy", "", "-d 1", 24, false, false, true},
        {"lossless", "", "-d 0", 24, false, true, true},
        {"lossy-alpha", "", "-d 2", 32, false, false, true},
        {"lossless-alpha", "", "-d 0", 32, false, true, true},
        {"16-lossless", "-depth 16 PNG48:", "-d 0", 24, true, true, true},
        {"16-lossy", "-depth 16 PNG48:", "-d 1", 24, true, false, true},
        {"16-lossless-alpha", "-depth 16 PNG64:", "-d 0", 32, true, true, false},
        {"grey", "-colorspace Gray PNG8:", "-d 0", 24, false, false, true},
    };
    const int sizes[][2] = {{1, 1}, {47, 33}, {3, 70}};
    for (const auto& size : sizes) {
        for (const Kind& kind : kinds) {
            const std::string name = std::string(kind.name) + "-" + std::to_string(size[0]);
            SCOPED_TRACE(name);
            const std::string jxl =
                encoded(dir, name, size[0], size[1], kind.bitCount, kind.convert, kind.options);
            bool declaresAlpha = kind.bitCount != 32;
            auto read = ReadJxlFile(jxl, &declaresAlpha);
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(declaresAlpha, kind.bitCount == 32);
            ASSERT_EQ(DibGetBitCount(read.value()), kind.bitCount);
            const int channels = kind.bitCount / 8;
            const std::vector<uint8_t> ours = test::redFirstSamples(read.value(), channels);
            if (kind.asThePattern) {
                const Dib pattern = test::makePatternImage(size[0], size[1], kind.bitCount);
                EXPECT_EQ(ours, test::redFirstSamples(pattern, channels));
            }
            if (kind.byDjxl) {
                const Dib theirs = djxlPicture(jxl);
                EXPECT_LE(test::largestDifference(ours, test::redFirstSamples(theirs, channels)),
                          kind.sixteen ? 2 : 0);
            }
            const auto probed = probeImageSize(jxl);
            ASSERT_TRUE(probed) << probed.error();
            EXPECT_EQ(probed.value().format, &kJxlFormat);
            EXPECT_EQ(probed.value().width, static_cast<uint32_t>(size[0]));
            EXPECT_EQ(probed.value().height, static_cast<uint32_t>(size[1]));
        }
    }
}

// cjxl moves the orientation of a PNG's eXIf chunk into the file's header (and keeps the EXIF
// block too); libjxl turns the picture by it once, and the shared load turns it no more.
TEST(JxlRead, TheHeaderOrientationTurnsThePictureOnce)
{
    if (!haveJxlTools())
        GTEST_SKIP() << "cjxl and djxl (Debian package libjxl-tools) are not installed";
    test::TempDir dir;
    const Dib stored = test::makePatternImage(13, 7, 24);
    ASSERT_TRUE(WritePngFile(dir.file("plain.png"), stored).ok());
    const std::vector<uint8_t> png = test::readFileBytes(dir.file("plain.png"));
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::vector<uint8_t> marker = test::exifOrientationMarker(orientation, false);
        const std::string tagged = dir.file("tagged" + std::to_string(orientation) + ".png");
        test::writeFileBytes(tagged,
                             test::withPngChunk(png, "eXIf", {marker.begin() + 6, marker.end()},
                                                test::ChunkPlace::AfterHeader));
        const std::string jxl = tagged + ".jxl";
        ASSERT_EQ(test::runCommand("cjxl -d 0 '" + tagged + "' '" + jxl + "' >/dev/null"), "");
        const LoadedImage loaded = loadCheckedImage(jxl);
        ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
        EXPECT_EQ(loaded.orientation, kStoredAsShown);
        const Dib upright = uprightCopy(stored, orientation);
        EXPECT_EQ(test::redFirstSamples(loaded.image, 3), test::redFirstSamples(upright, 3));
        EXPECT_EQ(test::redFirstSamples(loaded.image, 3),
                  test::redFirstSamples(djxlPicture(jxl), 3));
        const auto probed = probeImageSize(jxl);
        ASSERT_TRUE(probed) << probed.error();
        EXPECT_EQ(probed.value().width, static_cast<uint32_t>(DibGetWidth(upright)));
        EXPECT_EQ(probed.value().height, static_cast<uint32_t>(DibGetHeight(upright)));
    }
}

TEST(JxlRead, AnIccProfileIsHandedOverAndSrgbIsNot)
{
    const std::vector<uint8_t> profile = test::adobeRgbProfile();
    if (!haveJxlTools() || profile.empty())
        GTEST_SKIP() << "needs cjxl and colord's Adobe RGB profile";
    test::TempDir dir;
    test::writeFileBytes(dir.file("adobe.icc"), profile);
    const std::string profiled =
        encoded(dir, "profiled", 20, 10, 24, "-profile '" + dir.file("adobe.icc") + "' ", "-d 0");
    const LoadedImage loaded = loadCheckedImage(profiled);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    EXPECT_EQ(loaded.colourProfile, profile);
    for (const char* options : {"-d 0", "-d 1"}) {
        const LoadedImage plain = loadCheckedImage(encoded(dir, "plain", 20, 10, 24, "", options));
        ASSERT_FALSE(plain.image.isNull()) << plain.error;
        EXPECT_TRUE(plain.colourProfile.empty()) << options;
    }
}

TEST(JxlRead, AnAnimationShowsItsFirstFrame)
{
    if (!haveJxlTools())
        GTEST_SKIP() << "cjxl (Debian package libjxl-tools) is not installed";
    test::TempDir dir;
    const std::string gif = dir.file("two.gif");
    ASSERT_EQ(test::runCommand("convert -delay 50 -size 20x10 xc:red xc:blue '" + gif + "'"), "");
    ASSERT_EQ(test::runCommand("cjxl -d 0 '" + gif + "' '" + dir.file("two.jxl") + "' >/dev/null"),
              "");
    auto read = ReadJxlFile(dir.file("two.jxl"));
    ASSERT_TRUE(read) << read.error();
    const std::vector<uint8_t> samples = test::redFirstSamples(read.value(), 3);
    ASSERT_EQ(samples.size(), 20u * 10 * 3);
    for (size_t i = 0; i < samples.size(); i += 3)
        ASSERT_EQ(std::vector<uint8_t>(samples.begin() + i, samples.begin() + i + 3),
                  (std::vector<uint8_t>{255, 0, 0}))
            << i / 3;
}

TEST(JxlRead, DamagedAndOversizedFilesAreRefusedWithAReason)
{
    if (!haveJxlTools())
        GTEST_SKIP() << "cjxl (Debian package libjxl-tools) is not installed";
    test::TempDir dir;
    const std::vector<uint8_t> whole =
        test::readFileBytes(encoded(dir, "a", 33, 21, 32, "", "-d 1"));
    ASSERT_GT(whole.size(), 50u);
    for (size_t length = 0; length < whole.size(); length += 3) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        const auto read = readJxlBytes({cut.data(), cut.size()});
        EXPECT_FALSE(read) << "cut at " << length;
        EXPECT_FALSE(read.error().empty());
    }
    std::vector<uint8_t> garbled = whole;
    for (size_t i = 12; i < garbled.size(); i += 5)
        garbled[i] ^= 0x5a;
    const auto read = readJxlBytes({garbled.data(), garbled.size()});
    if (!read) {
        EXPECT_FALSE(read.error().empty());
    }
    // Refused before any pixel is decoded.
    const size_t limit = maxImageBytes();
    setMaxImageBytes(1000);
    EXPECT_EQ(readJxlBytes({whole.data(), whole.size()}).error(), "the image is too large");
    setMaxImageBytes(limit);
}

} // namespace
} // namespace ombri
