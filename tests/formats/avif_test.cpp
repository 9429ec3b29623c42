// AVIF files made by avifenc are read as avifdec reads them: both convert through libavif, so
// every 8-bit sample must be equal, whatever the file's depth and chroma layout. avifdec leaves a
// file's irot and imir alone; our reader applies them, as the file asks of every viewer.

#include "formats/avif.h"

#include "core/limits.h"
#include "formats/dispatch.h"
#include "formats/image_size.h"
#include "formats/png.h"
#include "support/colour_profiles.h"
#include "support/imagemagick.h"
#include "support/test_support.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ombri {
namespace {

bool haveAvifTools()
{
    static const bool found = test::haveCommands({"avifenc", "avifdec"});
    return found;
}

// avifdec's 8-bit decode of a file, as stored.
Dib avifdecPicture(const std::string& avif)
{
    return test::pngWrittenBy("avifdec -d 8 '" + avif + "' '" + avif + ".png'", avif + ".png");
}

// Makes name.avif from a pattern picture of the size and bit count with avifenc's options.
std::string encoded(const test::TempDir& dir, const std::string& name, int32_t width,
                    int32_t height, uint16_t bitCount, const std::string& options)
{
    const std::string png = dir.file(name + ".png");
    const std::string avif = dir.file(name + ".avif");
    EXPECT_TRUE(WritePngFile(png, test::makePatternImage(width, height, bitCount)).ok());
    EXPECT_EQ(test::runCommand("avifenc -s 10 -j 1 " + options + " '" + png + "' '" + avif + "'"),
              "");
    return avif;
}

TEST(AvifRead, FilesOfAvifencReadAsAvifdecReadsThem)
{
    if (!haveAvifTools())
        GTEST_SKIP() << "avifenc and avifdec (Debian package libavif-bin) are not installed";
    test::TempDir dir;
    struct Kind {
        const char* name;
        const char* options;
        uint16_t bitCount;
    };
    const Kind kinds[] = {
        {"q8-420", "-d 8 -y 420", 24},   {"q8-444-alpha", "-d 8 -y 444", 32},
        {"q10-422", "-d 10 -y 422", 24}, {"q12-420-alpha", "-d 12 -y 420", 32},
        {"lossless", "--lossless", 24},  {"grey", "-d 8 -y 400", 24},
    };
    const int sizes[][2] = {{1, 1}, {47, 33}, {3, 70}};
    for (const auto& size : sizes) {
        for (const Kind& kind : kinds) {
            const std::string name = std::string(kind.name) + "-" + std::to_string(size[0]);
            SCOPED_TRACE(name);
            const std::string avif =
                encoded(dir, name, size[0], size[1], kind.bitCount, kind.options);
            bool declaresAlpha = kind.bitCount != 32;
            auto read = ReadAvifFile(avif, &declaresAlpha);
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(declaresAlpha, kind.bitCount == 32);
            const Dib reference = avifdecPicture(avif);
            ASSERT_EQ(DibGetBitCount(reference), kind.bitCount);
            const int channels = kind.bitCount / 8;
            EXPECT_EQ(test::redFirstSamples(read.value(), channels),
                      test::redFirstSamples(reference, channels));
            const auto probed = probeImageSize(avif);
            ASSERT_TRUE(probed) << probed.error();
            EXPECT_EQ(probed.value().format, &kAvifFormat);
            EXPECT_EQ(probed.value().width, static_cast<uint32_t>(size[0]));
            EXPECT_EQ(probed.value().height, static_cast<uint32_t>(size[1]));
        }
    }
}

TEST(AvifRead, TurnsAndMirrorsAsTheFileSays)
{
    if (!haveAvifTools())
        GTEST_SKIP() << "avifenc and avifdec (Debian package libavif-bin) are not installed";
    test::TempDir dir;
    // irot turns anticlockwise by quarters; imir 0 exchanges top and bottom, 1 left and right.
    const Orientation turns[] = {Orientation::Normal, Orientation::Turned270,
                                 Orientation::Turned180, Orientation::Turned90};
    for (int angle = 0; angle < 4; ++angle) {
        for (int mirror = -1; mirror < 2; ++mirror) {
            const std::string name =
                "turn" + std::to_string(angle) + "-mirror" + std::to_string(mirror + 1);
            SCOPED_TRACE(name);
            std::string options = "--lossless --irot " + std::to_string(angle);
            if (mirror >= 0)
                options += " --imir " + std::to_string(mirror);
            const std::string avif = encoded(dir, name, 13, 7, 24, options);
            const LoadedImage loaded = loadCheckedImage(avif);
            ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
            Dib expected = test::orientedCopy(avifdecPicture(avif), turns[angle]);
            if (mirror >= 0)
                expected = test::orientedCopy(expected, mirror == 0 ? Orientation::Flipped
                                                                    : Orientation::Mirrored);
            EXPECT_EQ(test::redFirstSamples(loaded.image, 3), test::redFirstSamples(expected, 3));
            const auto probed = probeImageSize(avif);
            ASSERT_TRUE(probed) << probed.error();
            EXPECT_EQ(probed.value().width, static_cast<uint32_t>(DibGetWidth(loaded.image)));
            EXPECT_EQ(probed.value().height, static_cast<uint32_t>(DibGetHeight(loaded.image)));
        }
    }
}

// A clean aperture (clap) shows only its part of the coded picture, cut before the picture is
// turned; the size read from the headers alone is that of the part.
TEST(AvifRead, OnlyTheCleanApertureIsShownAndThenTurned)
{
    if (!haveAvifTools())
        GTEST_SKIP() << "avifenc and avifdec (Debian package libavif-bin) are not installed";
    test::TempDir dir;
    const Dib whole = test::makePatternImage(13, 7, 24);
    for (const int angle : {0, 1}) {
        SCOPED_TRACE("irot " + std::to_string(angle));
        const std::string avif =
            encoded(dir, "cut" + std::to_string(angle), 13, 7, 24,
                    "--lossless --crop 3,2,8,4 --irot " + std::to_string(angle));
        const LoadedImage loaded = loadCheckedImage(avif);
        ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
        // Columns 3 to 10 and rows 2 to 5 from the top of the coded picture.
        Dib part = Dib::create(8, 4, 24);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 8; ++x)
                std::memcpy(const_cast<uint8_t*>(test::pixelAt(part, x, y)),
                            test::pixelAt(whole, x + 3, y + 2), 3);
        const Dib expected =
            angle == 0 ? std::move(part) : test::orientedCopy(part, Orientation::Turned270);
        EXPECT_EQ(test::redFirstSamples(loaded.image, 3), test::redFirstSamples(expected, 3));
        const auto probed = probeImageSize(avif);
        ASSERT_TRUE(probed) << probed.error();
        EXPECT_EQ(probed.value().width, static_cast<uint32_t>(DibGetWidth(loaded.image)));
        EXPECT_EQ(probed.value().height, static_cast<uint32_t>(DibGetHeight(loaded.image)));
    }
}

// irot and imir already stand the picture upright; an EXIF orientation beside them describes the
// same turn and must not turn it again.
TEST(AvifRead, AnExifOrientationBesideIrotTurnsNothingMore)
{
    if (!haveAvifTools())
        GTEST_SKIP() << "avifenc and avifdec (Debian package libavif-bin) are not installed";
    test::TempDir dir;
    const std::vector<uint8_t> marker = test::exifOrientationMarker(6, false);
    // The TIFF header and IFD, without the "Exif\0\0" of a JPEG marker.
    test::writeFileBytes(dir.file("turn.exif"), {marker.begin() + 6, marker.end()});
    const std::string both = encoded(dir, "both", 13, 7, 24,
                                     "--lossless --irot 3 --exif '" + dir.file("turn.exif") + "'");
    const std::vector<uint8_t> bytes = test::readFileBytes(both);
    const std::vector<uint8_t> tiff = {'I', 'I', 42, 0};
    ASSERT_NE(std::search(bytes.begin(), bytes.end(), tiff.begin(), tiff.end()), bytes.end())
        << "avifenc left the EXIF block out";
    const LoadedImage loaded = loadCheckedImage(both);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    const Dib expected = test::orientedCopy(avifdecPicture(both), Orientation::Turned90);
    EXPECT_EQ(test::redFirstSamples(loaded.image, 3), test::redFirstSamples(expected, 3));
}

TEST(AvifRead, TheColourProfileIsHandedOver)
{
    const std::vector<uint8_t> profile = test::adobeRgbProfile();
    if (!haveAvifTools() || profile.empty())
        GTEST_SKIP() << "needs avifenc and colord's Adobe RGB profile";
    test::TempDir dir;
    test::writeFileBytes(dir.file("adobe.icc"), profile);
    const std::string avif =
        encoded(dir, "profiled", 20, 10, 24, "--icc '" + dir.file("adobe.icc") + "'");
    const LoadedImage loaded = loadCheckedImage(avif);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    EXPECT_EQ(loaded.colourProfile, profile);
    const LoadedImage plain = loadCheckedImage(encoded(dir, "plain", 20, 10, 24, ""));
    EXPECT_TRUE(plain.colourProfile.empty());
}

TEST(AvifRead, DamagedAndOversizedFilesAreRefusedWithAReason)
{
    if (!haveAvifTools())
        GTEST_SKIP() << "avifenc (Debian package libavif-bin) is not installed";
    test::TempDir dir;
    const std::vector<uint8_t> whole = test::readFileBytes(encoded(dir, "a", 33, 21, 32, "-d 10"));
    ASSERT_GT(whole.size(), 100u);
    for (size_t length = 0; length < whole.size(); length += 7) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        const auto read = readAvifBytes({cut.data(), cut.size()});
        EXPECT_FALSE(read) << "cut at " << length;
        EXPECT_FALSE(read.error().empty());
    }
    // Refused before the picture is decoded into ours.
    const size_t limit = maxImageBytes();
    setMaxImageBytes(1000);
    EXPECT_EQ(readAvifBytes({whole.data(), whole.size()}).error(), "the image is too large");
    setMaxImageBytes(limit);
}

} // namespace
} // namespace ombri
