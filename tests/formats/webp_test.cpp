// WebP files made by libwebp's own tools (cwebp, img2webp, webpmux) are read as dwebp reads
// them: both decode through the same library, so every 8-bit sample must be equal.

#include "formats/webp.h"

#include "core/limits.h"
#include "formats/dispatch.h"
#include "formats/image_size.h"
#include "support/colour_profiles.h"
#include "support/imagemagick.h"
#include "support/test_support.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace ombri {
namespace {

bool haveWebpTools()
{
    static const bool found = test::haveCommands({"cwebp", "dwebp", "img2webp", "webpmux"});
    return found;
}

// dwebp's decode of a file, red first, in 3 samples a pixel (the alpha left out, which must
// then be opaque) or 4.
std::vector<uint8_t> dwebpSamples(const std::string& webp, int channels)
{
    const std::string pam = webp + ".pam";
    const std::string error = test::runCommand("dwebp -quiet '" + webp + "' -pam -o '" + pam + "'");
    if (!error.empty()) {
        ADD_FAILURE() << error;
        return {};
    }
    const test::Pixmap decoded = test::readPixmap(pam);
    EXPECT_EQ(decoded.channels, 4);
    if (channels == 4)
        return decoded.samples;
    std::vector<uint8_t> rgb;
    for (size_t at = 0; at + 4 <= decoded.samples.size(); at += 4) {
        rgb.insert(rgb.end(), &decoded.samples[at], &decoded.samples[at + 3]);
        EXPECT_EQ(decoded.samples[at + 3], 255) << "an opaque picture's alpha at " << at / 4;
    }
    return rgb;
}

struct ToolFile {
    const char* name;
    const char* options; // cwebp's
    uint16_t sourceBits; // 24: a PPM source, 32: a PAM with alpha
    bool alpha;          // whether the file comes out with an alpha channel
};

constexpr ToolFile kToolFiles[] = {
    {"lossy", "-q 80", 24, false},
    {"lossy-alpha", "-q 80", 32, true},
    {"lossless", "-lossless", 24, false},
    {"lossless-alpha", "-lossless -exact", 32, true},
    {"lossy-sharp", "-q 95 -sharp_yuv -m 6", 24, false},
};

TEST(WebpRead, FilesOfCwebpReadAsDwebpReadsThem)
{
    if (!haveWebpTools())
        GTEST_SKIP() << "cwebp and dwebp (Debian package webp) are not installed";
    test::TempDir dir;
    const int sizes[][2] = {{1, 1}, {47, 33}, {128, 5}, {3, 301}, {257, 199}};
    for (const auto& size : sizes) {
        for (const ToolFile& kind : kToolFiles) {
            const std::string stem =
                dir.file(std::string(kind.name) + "-" + std::to_string(size[0]) + "x" +
                         std::to_string(size[1]));
            SCOPED_TRACE(stem);
            const Dib source = test::makePatternImage(size[0], size[1], kind.sourceBits);
            const int channels = kind.sourceBits / 8;
            test::writePam(stem + ".pam", source, channels);
            ASSERT_EQ(test::runCommand("cwebp -quiet " + std::string(kind.options) + " '" + stem +
                                       ".pam' -o '" + stem + ".webp'"),
                      "");
            bool declaresAlpha = !kind.alpha;
            auto read = ReadWebpFile(stem + ".webp", &declaresAlpha);
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(declaresAlpha, kind.alpha);
            EXPECT_EQ(DibGetBitCount(read.value()), kind.alpha ? 32 : 24);
            EXPECT_EQ(DibGetWidth(read.value()), size[0]);
            EXPECT_EQ(DibGetHeight(read.value()), size[1]);
            EXPECT_EQ(test::redFirstSamples(read.value(), channels),
                      dwebpSamples(stem + ".webp", channels));
            // A lossless file gives back the picture it was made from, byte for byte.
            if (std::string(kind.options).find("-lossless") != std::string::npos) {
                EXPECT_EQ(test::redFirstSamples(read.value(), channels),
                          test::redFirstSamples(source, channels));
            }
        }
    }
}

TEST(WebpRead, AnAnimationShowsItsFirstFrame)
{
    if (!haveWebpTools())
        GTEST_SKIP() << "img2webp (Debian package webp) is not installed";
    test::TempDir dir;
    const Dib first = test::makePatternImage(61, 23, 24, 3);
    const Dib second = test::makePatternImage(61, 23, 32, 4);
    test::writePam(dir.file("first.pam"), first, 3);
    test::writePam(dir.file("second.pam"), second, 4);
    ASSERT_EQ(test::runCommand("img2webp -lossless '" + dir.file("first.pam") + "' -d 80 '" +
                               dir.file("second.pam") + "' -o '" + dir.file("moving.webp") + "'"),
              "");
    const LoadedImage loaded = loadCheckedImage(dir.file("moving.webp"));
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    EXPECT_EQ(loaded.format, &kWebpFormat);
    EXPECT_EQ(DibGetBitCount(loaded.image), 32);
    std::vector<uint8_t> opaque = test::redFirstSamples(first, 3);
    std::vector<uint8_t> expected;
    for (size_t at = 0; at < opaque.size(); at += 3) {
        expected.insert(expected.end(), &opaque[at], &opaque[at + 3]);
        expected.push_back(255);
    }
    EXPECT_EQ(test::redFirstSamples(loaded.image, 4), expected);
    EXPECT_FALSE(hasSeeThroughPixels(loaded));
}

TEST(WebpRead, TheColourProfileOfAnIccpChunkIsHandedOver)
{
    const std::vector<uint8_t> profile = test::adobeRgbProfile();
    if (!haveWebpTools() || profile.empty())
        GTEST_SKIP() << "needs cwebp, webpmux and colord's Adobe RGB profile";
    test::TempDir dir;
    test::writePam(dir.file("a.pam"), test::makeColourfulImage(40, 30), 3);
    test::writeFileBytes(dir.file("adobe.icc"), profile);
    ASSERT_EQ(test::runCommand("cwebp -quiet -q 90 '" + dir.file("a.pam") + "' -o '" +
                               dir.file("plain.webp") + "'"),
              "");
    ASSERT_EQ(test::runCommand("webpmux -set icc '" + dir.file("adobe.icc") + "' '" +
                               dir.file("plain.webp") + "' -o '" + dir.file("profiled.webp") + "'"),
              "");
    const LoadedImage profiled = loadCheckedImage(dir.file("profiled.webp"));
    ASSERT_FALSE(profiled.image.isNull()) << profiled.error;
    EXPECT_EQ(profiled.colourProfile, profile);
    const LoadedImage plain = loadCheckedImage(dir.file("plain.webp"));
    ASSERT_FALSE(plain.image.isNull()) << plain.error;
    EXPECT_TRUE(plain.colourProfile.empty());
    // The profile changes nothing of the pixels as stored.
    EXPECT_EQ(test::redFirstSamples(profiled.image, 3), test::redFirstSamples(plain.image, 3));
}

TEST(WebpRead, TheSizeIsReadFromTheHeaderAsTheDecoderTakesIt)
{
    if (!haveWebpTools())
        GTEST_SKIP() << "cwebp (Debian package webp) is not installed";
    test::TempDir dir;
    test::writePam(dir.file("a.pam"), test::makePatternImage(300, 17, 32), 4);
    // A plain lossy, a plain lossless and an extended file (alpha beside a lossy picture).
    for (const char* options : {"-q 70 -alpha_q 100 -noalpha", "-lossless", "-q 70"}) {
        SCOPED_TRACE(options);
        const std::string webp = dir.file("a.webp");
        ASSERT_EQ(test::runCommand(std::string("cwebp -quiet ") + options + " '" +
                                   dir.file("a.pam") + "' -o '" + webp + "'"),
                  "");
        const auto size = probeImageSize(webp);
        ASSERT_TRUE(size) << size.error();
        EXPECT_EQ(size.value().format, &kWebpFormat);
        EXPECT_EQ(size.value().width, 300u);
        EXPECT_EQ(size.value().height, 17u);
    }
}

// A lossless header whose 14-bit sides say 16383 x 16383, followed by a few bytes of nothing.
std::vector<uint8_t> hugeLosslessHeader()
{
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 0,   0, 0, 0, 'W', 'E', 'B',
                                 'P', 'V', 'P', '8', 'L', 0, 0, 0, 0,   0x2F};
    const uint32_t sides = (kMaxWebpSide - 1) | (kMaxWebpSide - 1) << 14;
    for (int i = 0; i < 4; ++i)
        file.push_back(static_cast<uint8_t>(sides >> (8 * i)));
    file.resize(64, 0);
    writeLe32(&file[16], static_cast<uint32_t>(file.size() - 20));
    writeLe32(&file[4], static_cast<uint32_t>(file.size() - 8));
    return file;
}

TEST(WebpRead, DamagedFilesAreRefusedWithAReason)
{
    if (!haveWebpTools())
        GTEST_SKIP() << "cwebp (Debian package webp) is not installed";
    test::TempDir dir;
    test::writePam(dir.file("a.pam"), test::makePatternImage(33, 21, 32), 4);
    ASSERT_EQ(test::runCommand("cwebp -quiet -q 60 '" + dir.file("a.pam") + "' -o '" +
                               dir.file("a.webp") + "'"),
              "");
    const std::vector<uint8_t> whole = test::readFileBytes(dir.file("a.webp"));
    ASSERT_GT(whole.size(), 40u);
    // Every file cut short, from nothing to all but the last byte.
    for (size_t length = 0; length < whole.size(); ++length) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        const auto read = readWebpBytes({cut.data(), cut.size()});
        EXPECT_FALSE(read) << "cut at " << length;
        EXPECT_FALSE(read.error().empty());
    }
    std::vector<uint8_t> otherKind = whole;
    otherKind[8] = 'X';
    EXPECT_EQ(readWebpBytes({otherKind.data(), otherKind.size()}).error(),
              "not a WebP file, or a damaged one");
    // Refused before a pixel is decoded: 16383 x 16383 pixels pass a limit lowered for the test.
    const size_t limit = maxImageBytes();
    setMaxImageBytes(size_t{64} << 20);
    const std::vector<uint8_t> huge = hugeLosslessHeader();
    EXPECT_EQ(readWebpBytes({huge.data(), huge.size()}).error(), "the image is too large");
    setMaxImageBytes(limit);
    test::writeFileBytes(dir.file("huge.webp"), huge);
    const auto size = probeImageSize(dir.file("huge.webp"));
    ASSERT_TRUE(size) << size.error();
    EXPECT_EQ(size.value().width, kMaxWebpSide);
    EXPECT_EQ(size.value().height, kMaxWebpSide);
}

} // namespace
} // namespace ombri
