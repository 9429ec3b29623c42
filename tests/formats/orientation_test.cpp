#include "formats/orientation.h"

#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/tiff.h"
#include "formats/webp.h"
#include "support/exiftool.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

// ImageMagick's own decode of the file, stood upright as its tag says: top row first, red first,
// with the fourth byte when channels is 4.
Bytes uprightByImageMagick(const std::string& path, const std::string& raw, int channels = 3)
{
    const std::string error = test::runConvert(quoted(path) + " -auto-orient -depth 8 " +
                                               (channels == 4 ? "rgba:" : "rgb:") + quoted(raw));
    EXPECT_EQ(error, "");
    return test::readFileBytes(raw);
}

// The EXIF data of a PNG eXIf chunk: what follows "Exif\0\0" in a JPEG marker.
Bytes exifChunkData(uint16_t orientation, bool bigEndian)
{
    const Bytes marker = test::exifOrientationMarker(orientation, bigEndian);
    return Bytes(marker.begin() + 6, marker.end());
}

// ImageMagick's names for TIFF orientations 1 to 8.
const char* const kImageMagickOrientations[8] = {"TopLeft",     "TopRight",  "BottomRight",
                                                 "BottomLeft",  "LeftTop",   "RightTop",
                                                 "RightBottom", "LeftBottom"};

// A camera, exiftool or any other program that tags a picture instead of moving its pixels: the
// programs show it as the tag says, as ImageMagick does. ImageMagick leaves a PNG's eXIf chunk
// unread, so a PNG (and a WebP, whose EXIF chunk it reads in no version here) is held against the
// TIFF of the same pixels and tag.
TEST(TaggedPictures, EveryOrientationOpensAsImageMagickStandsIt)
{
    if (!test::haveImageMagick() || !test::haveExiftool())
        GTEST_SKIP() << "needs ImageMagick and exiftool";
    test::TempDir dir;
    const Dib picture = test::makePatternImage(37, 21, 24);
    const std::string png = dir.file("x.png"), tiff = dir.file("x.tif"), jpeg = dir.file("x.jpg"),
                      webp = dir.file("x.webp");
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        ASSERT_TRUE(test::succeeded(WritePngFile(png, picture)));
        ASSERT_TRUE(test::succeeded(WriteTiffFile(tiff, picture)));
        ASSERT_TRUE(test::succeeded(WriteJpegFile(jpeg, picture)));
        ASSERT_TRUE(test::succeeded(WriteWebpFile(webp, picture)));
        ASSERT_EQ(test::tagOrientation({png, tiff, jpeg, webp}, orientation), "");
        const Bytes expected = uprightByImageMagick(tiff, dir.file("tif.raw"));
        const Bytes expectedJpeg = uprightByImageMagick(jpeg, dir.file("jpg.raw"));
        for (const std::string& path : {png, tiff, jpeg, webp}) {
            SCOPED_TRACE(path);
            const LoadedImage loaded = loadCheckedImage(path);
            ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
            EXPECT_EQ(loaded.orientation, orientation);
            const Bytes shown = test::redFirstSamples(loaded.image, 3);
            if (path == jpeg)
                EXPECT_LE(test::largestDifference(shown, expectedJpeg), 1);
            else
                EXPECT_EQ(shown, expected);
        }
    }
}

// Grey and palette TIFFs go through libtiff's own conversion, which would turn them by half
// (the flip of orientations 5 to 8 only); they are turned whole, and once.
TEST(TaggedPictures, LibraryConvertedTiffsAreTurnedOnce)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    const std::string source = dir.file("in.ppm");
    test::writePpm(source, 37, 21, test::redFirstSamples(test::makePatternImage(37, 21, 24), 3));
    // libtiff and ImageMagick take the palette's 16-bit entries down to 8 bits each its own way,
    // one step apart at most; a pixel moved to the wrong place would be far off.
    const struct {
        const char* arguments;
        int tolerance;
        std::vector<int> orientations;
    } kinds[] = {{"-colorspace gray", 0, {1, 2, 3, 4, 5, 6, 7, 8}},
                 {"-type Palette -colors 64", 1, {6, 7}}};
    for (const auto& kind : kinds) {
        for (int orientation : kind.orientations) {
            SCOPED_TRACE(std::string(kind.arguments) + ", orientation " +
                         std::to_string(orientation));
            const std::string tiff = dir.file("x.tif");
            ASSERT_EQ(test::runConvert(quoted(source) + " " + kind.arguments + " -orient " +
                                       kImageMagickOrientations[orientation - 1] + " " +
                                       quoted(tiff)),
                      "");
            const LoadedImage loaded = loadCheckedImage(tiff);
            ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
            EXPECT_EQ(loaded.orientation, orientation);
            EXPECT_LE(test::largestDifference(test::redFirstSamples(loaded.image, 3),
                                              uprightByImageMagick(tiff, dir.file("x.raw"))),
                      kind.tolerance);
        }
    }
}

// A 32-bit carrier keeps its notes in the low bits of alpha (254 on a note pixel): tagged, it is
// still read from its strips as stored, never premultiplied, and only moved by the turn.
TEST(TaggedPictures, Tagged32BitTiffKeepsEveryByte)
{
    if (!test::haveImageMagick() || !test::haveExiftool())
        GTEST_SKIP() << "needs ImageMagick and exiftool";
    test::TempDir dir;
    Dib picture = test::makePatternImage(37, 21, 32);
    const auto layout = dibGetLayout(picture);
    for (int32_t y = 0; y < layout->height; ++y) {
        uint8_t* pixel = picture.data() + layout->pixelOffset + y * layout->stride;
        for (int32_t x = 0; x < layout->width; ++x, pixel += 4)
            pixel[3] = pixel[0] % 3 == 0 ? 254 : 255;
    }
    const std::string tiff = dir.file("carrier.tif");
    ASSERT_TRUE(test::succeeded(WriteTiffFile(tiff, picture)));
    ASSERT_EQ(test::tagOrientation({tiff}, 6), "");
    const LoadedImage loaded = loadCheckedImage(tiff);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    EXPECT_EQ(DibGetWidth(loaded.image), 21);
    EXPECT_EQ(DibGetHeight(loaded.image), 37);
    EXPECT_EQ(test::redFirstSamples(loaded.image, 4),
              uprightByImageMagick(tiff, dir.file("x.raw"), 4));
}

// The eXIf chunk holds the TIFF structure alone; it may come before or after the image data.
TEST(TaggedPictures, PngExifChunkTurnsThePicture)
{
    test::TempDir dir;
    const std::string plain = dir.file("plain.png"), tagged = dir.file("tagged.png");
    ASSERT_TRUE(test::succeeded(WritePngFile(plain, test::makeQuadrantImage(40, 20))));
    for (test::ChunkPlace place : {test::ChunkPlace::AfterHeader, test::ChunkPlace::AfterImage}) {
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(bigEndian ? "MM" : "II") +
                         (place == test::ChunkPlace::AfterHeader ? " before" : " after"));
            test::writeFileBytes(tagged, test::withPngChunk(test::readFileBytes(plain), "eXIf",
                                                            exifChunkData(6, bigEndian), place));
            const LoadedImage loaded = loadCheckedImage(tagged);
            ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
            EXPECT_EQ(loaded.orientation, 6);
            ASSERT_EQ(DibGetWidth(loaded.image), 20);
            ASSERT_EQ(DibGetHeight(loaded.image), 40);
            // The stored top-left quadrant (red) shows at the top right.
            const uint8_t* topRight = test::pixelAt(loaded.image, 19, 0);
            EXPECT_EQ(topRight[2], test::kQuadrantColours[0][0]);
            EXPECT_EQ(topRight[1], test::kQuadrantColours[0][1]);
            EXPECT_EQ(topRight[0], test::kQuadrantColours[0][2]);
        }
    }
}

// Damaged EXIF data, in a PNG chunk or a JPEG marker, leaves the picture as stored: offsets past
// the end, counts near 2^16 and 2^32, a directory that names itself as the next one.
TEST(TaggedPictures, MalformedExifMeansThePictureAsStored)
{
    const Bytes good = exifChunkData(6, false);
    ASSERT_EQ(exifTiffOrientation({good.data(), good.size()}), 6);
    const size_t directory = 8, entry = directory + 2 + 12, next = directory + 2 + 2 * 12;
    const struct {
        const char* name;
        size_t at;
        Bytes bytes;
    } damages[] = {
        {"no byte order", 0, {'E', 'x'}},
        {"directory past the end", 4, {0x00, 0x10, 0, 0}},
        {"directory offset near 2^32", 4, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"directory inside the header", 4, {4, 0, 0, 0}},
        {"huge entry count", directory, {0xFF, 0xFF}},
        {"one entry too many", directory, {3, 0}},
        {"value count near 2^32", entry + 4, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"orientation 0", entry + 8, {0, 0}},
        {"orientation 9", entry + 8, {9, 0}},
        {"orientation 0xFFFF", entry + 8, {0xFF, 0xFF}},
    };
    test::TempDir dir;
    const std::string plain = dir.file("plain.png");
    ASSERT_TRUE(test::succeeded(WritePngFile(plain, test::makeQuadrantImage(40, 20))));
    const Bytes plainPng = test::readFileBytes(plain);
    const Bytes plainJpeg = [&] {
        EXPECT_TRUE(
            test::succeeded(WriteJpegFile(dir.file("plain.jpg"), test::makeQuadrantImage(40, 20))));
        return test::readFileBytes(dir.file("plain.jpg"));
    }();
    auto expectAsStored = [&](const Bytes& exif) {
        test::writeFileBytes(dir.file("x.png"), test::withPngChunk(plainPng, "eXIf", exif,
                                                                   test::ChunkPlace::AfterHeader));
        Bytes marker = {'E', 'x', 'i', 'f', 0, 0};
        marker.insert(marker.end(), exif.begin(), exif.end());
        test::writeFileBytes(dir.file("x.jpg"), test::withApp1Marker(plainJpeg, marker));
        for (const char* name : {"x.png", "x.jpg"}) {
            const LoadedImage loaded = loadCheckedImage(dir.file(name));
            ASSERT_FALSE(loaded.image.isNull()) << name << ": " << loaded.error;
            EXPECT_EQ(loaded.orientation, kStoredAsShown) << name;
            EXPECT_EQ(DibGetWidth(loaded.image), 40) << name;
        }
    };
    for (const auto& d : damages) {
        SCOPED_TRACE(d.name);
        Bytes damaged = good;
        std::copy(d.bytes.begin(), d.bytes.end(), damaged.begin() + d.at);
        EXPECT_EQ(exifTiffOrientation({damaged.data(), damaged.size()}), kStoredAsShown);
        expectAsStored(damaged);
    }
    // A directory whose next-directory offset leads back to itself is read once: only IFD0
    // holds the orientation, so the chain is never followed.
    Bytes looped = good;
    looped[next] = static_cast<uint8_t>(directory);
    EXPECT_EQ(exifTiffOrientation({looped.data(), looped.size()}), 6);
    // Cut anywhere before the end of the orientation's entry.
    for (size_t length = 0; length < entry + 12; ++length) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(exifTiffOrientation({cut.data(), cut.size()}), kStoredAsShown) << length;
    }
    EXPECT_EQ(exifTiffOrientation({nullptr, 0}), kStoredAsShown);
}

} // namespace
} // namespace ombri
