// HEIF files made by heif-enc are read as heif-convert reads them: both decode and convert through
// libheif, so every sample of an 8-bit file must be equal. heif-convert writes a file of 10 bits
// as a 16-bit PNG, which is brought to 8 bits apart from our conversion: those samples may differ
// by 2 at most.

#include "formats/heif.h"

#include "core/limits.h"
#include "formats/dispatch.h"
#include "formats/image_size.h"
#include "formats/png.h"
#include "support/colour_profiles.h"
#include "support/imagemagick.h"
#include "support/test_support.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// libx265, which the test runs to write a turned file, keeps a few blocks until the process ends;
// the leak checker of the sanitizer build is told to pass over them.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}

namespace ombri {
namespace {

bool haveHeifTools()
{
    static const bool found = test::haveCommands({"heif-enc", "heif-convert"});
    return found;
}

// heif-convert's decode of a file, as shown.
Dib heifConvertPicture(const std::string& heif)
{
    return test::pngWrittenBy("heif-convert '" + heif + "' '" + heif + ".png'", heif + ".png");
}

// Makes name.heic from a pattern picture of the size and bit count with heif-enc's options; a
// picture of 10 bits is made from a 16-bit PNG, which heif-enc needs for more than 8.
std::string encoded(const test::TempDir& dir, const std::string& name, int32_t width,
                    int32_t height, uint16_t bitCount, int depth, const std::string& options)
{
    const std::string png = dir.file(name + ".png");
    const std::string heic = dir.file(name + ".heic");
    EXPECT_TRUE(WritePngFile(png, test::makePatternImage(width, height, bitCount)).ok());
    std::string input = png;
    if (depth > 8) {
        input = dir.file(name + "-16.png");
        const std::string kind = bitCount == 32 ? "PNG64:" : "PNG48:";
        EXPECT_EQ(test::runCommand("convert '" + png + "' -depth 16 " + kind + "'" + input + "'"),
                  "");
    }
    EXPECT_EQ(test::runCommand("heif-enc -b " + std::to_string(depth) + " " + options + " '" +
                               input + "' -o '" + heic + "'"),
              "");
    return heic;
}

TEST(HeifRead, FilesOfHeifEncReadAsHeifConvertReadsThem)
{
    if (!haveHeifTools())
        GTEST_SKIP() << "heif-enc and heif-convert (Debian package libheif-examples) are missing";
    test::TempDir dir;
    struct Kind {
        const char* name;
        const char* options;
        uint16_t bitCount;
        int depth;
    };
    const char* lossless = "-L -p chroma=444 --matrix_coefficients=0";
    const Kind kinds[] = {
        {"q8", "-q 60", 24, 8},        {"q8-alpha", "-q 80", 32, 8},
        {"lossless", lossless, 24, 8}, {"lossless-alpha", lossless, 32, 8},
        {"q10", "-q 70", 24, 10},      {"q10-alpha", "-q 70", 32, 10},
    };
    const int sizes[][2] = {{1, 1}, {47, 33}, {3, 70}};
    for (const auto& size : sizes) {
        for (const Kind& kind : kinds) {
            const std::string name = std::string(kind.name) + "-" + std::to_string(size[0]);
            SCOPED_TRACE(name);
            const std::string heic =
                encoded(dir, name, size[0], size[1], kind.bitCount, kind.depth, kind.options);
            bool declaresAlpha = kind.bitCount != 32;
            auto read = ReadHeifFile(heic, &declaresAlpha);
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(declaresAlpha, kind.bitCount == 32);
            const Dib reference = heifConvertPicture(heic);
            ASSERT_EQ(DibGetBitCount(reference), kind.bitCount);
            const int channels = kind.bitCount / 8;
            const std::vector<uint8_t> ours = test::redFirstSamples(read.value(), channels);
            const std::vector<uint8_t> theirs = test::redFirstSamples(reference, channels);
            EXPECT_LE(test::largestDifference(ours, theirs), kind.depth == 8 ? 0 : 2);
            const auto probed = probeImageSize(heic);
            ASSERT_TRUE(probed) << probed.error();
            EXPECT_EQ(probed.value().format, &kHeifFormat);
            EXPECT_EQ(probed.value().width, static_cast<uint32_t>(size[0]));
            EXPECT_EQ(probed.value().height, static_cast<uint32_t>(size[1]));
        }
    }
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct OptionsDeleter {
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};

// Writes the 24-bit picture as a HEIC file that libheif turns by irot (and mirrors by imir) as
// the orientation says, with an EXIF block beside that tells the orientation exifOrientation.
// heif-enc cannot set irot, so the test asks libheif's encoder itself.
void writeTurnedHeif(const std::string& path, const Dib& picture, heif_orientation orientation,
                     uint16_t exifOrientation)
{
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    ASSERT_EQ(
        heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code,
        heif_error_Ok);
    std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    const int width = DibGetWidth(picture), height = DibGetHeight(picture);
    heif_image* rawImage = nullptr;
    ASSERT_EQ(heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                                &rawImage)
                  .code,
              heif_error_Ok);
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    ASSERT_EQ(heif_image_add_plane(image.get(), heif_channel_interleaved, width, height, 8).code,
              heif_error_Ok);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const std::vector<uint8_t> samples = test::redFirstSamples(picture, 3);
    for (int y = 0; y < height; ++y)
        std::copy_n(samples.begin() + y * width * 3, width * 3, plane + y * stride);
    std::unique_ptr<heif_encoding_options, OptionsDeleter> options(heif_encoding_options_alloc());
    options->image_orientation = orientation;
    heif_image_handle* rawHandle = nullptr;
    ASSERT_EQ(heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(),
                                        &rawHandle)
                  .code,
              heif_error_Ok);
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    // The TIFF header and IFD, without the "Exif\0\0" of a JPEG marker.
    const std::vector<uint8_t> marker = test::exifOrientationMarker(exifOrientation, false);
    ASSERT_EQ(heif_context_add_exif_metadata(context.get(), handle.get(), marker.data() + 6,
                                             static_cast<int>(marker.size() - 6))
                  .code,
              heif_error_Ok);
    ASSERT_EQ(heif_context_write_to_file(context.get(), path.c_str()).code, heif_error_Ok);
}

// libheif stands the picture upright by irot and imir; an EXIF orientation beside them describes
// the turn of the stored picture and must not turn it again.
TEST(HeifRead, IrotTurnsThePictureAndAnExifOrientationBesideItNothingMore)
{
    if (!haveHeifTools())
        GTEST_SKIP() << "heif-convert (Debian package libheif-examples) is missing";
    test::TempDir dir;
    const struct {
        heif_orientation orientation;
        uint16_t exif;
        bool quarter;
    } cases[] = {
        {heif_orientation_rotate_90_cw, 6, true},
        {heif_orientation_rotate_180, 3, false},
        {heif_orientation_flip_horizontally, 2, false},
        {heif_orientation_rotate_90_cw_then_flip_vertically, 7, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exif);
        const std::string both = dir.file("both" + std::to_string(c.exif) + ".heic");
        writeTurnedHeif(both, test::makeQuadrantImage(48, 32), c.orientation, c.exif);
        ASSERT_EQ(test::runCommand("exiftool -s3 -n -Orientation '" + both + "' | grep -qx " +
                                   std::to_string(c.exif)),
                  "")
            << "the EXIF orientation did not reach the file";
        const LoadedImage loaded = loadCheckedImage(both);
        ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
        EXPECT_EQ(DibGetWidth(loaded.image), c.quarter ? 32 : 48);
        EXPECT_EQ(loaded.orientation, kStoredAsShown);
        const Dib reference = heifConvertPicture(both);
        EXPECT_EQ(test::redFirstSamples(loaded.image, 3), test::redFirstSamples(reference, 3));
        const auto probed = probeImageSize(both);
        ASSERT_TRUE(probed) << probed.error();
        EXPECT_EQ(probed.value().width, static_cast<uint32_t>(DibGetWidth(loaded.image)));
        EXPECT_EQ(probed.value().height, static_cast<uint32_t>(DibGetHeight(loaded.image)));
    }
}

TEST(HeifRead, AnIccProfileIsHandedOverAndNclxColoursAreNot)
{
    const std::vector<uint8_t> profile = test::adobeRgbProfile();
    if (!haveHeifTools() || profile.empty())
        GTEST_SKIP() << "needs heif-enc and colord's Adobe RGB profile";
    test::TempDir dir;
    test::writeFileBytes(dir.file("adobe.icc"), profile);
    ASSERT_TRUE(WritePngFile(dir.file("plain.png"), test::makePatternImage(20, 10, 24)).ok());
    ASSERT_EQ(test::runCommand("convert '" + dir.file("plain.png") + "' -profile '" +
                               dir.file("adobe.icc") + "' '" + dir.file("profiled.png") + "'"),
              "");
    for (const char* name : {"plain", "profiled"})
        ASSERT_EQ(test::runCommand("heif-enc '" + dir.file(std::string(name) + ".png") + "' -o '" +
                                   dir.file(std::string(name) + ".heic") + "'"),
                  "");
    const LoadedImage loaded = loadCheckedImage(dir.file("profiled.heic"));
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    EXPECT_EQ(loaded.colourProfile, profile);
    const LoadedImage plain = loadCheckedImage(dir.file("plain.heic"));
    ASSERT_FALSE(plain.image.isNull()) << plain.error;
    EXPECT_TRUE(plain.colourProfile.empty());
}

TEST(HeifRead, DamagedAndOversizedFilesAreRefusedWithAReason)
{
    if (!haveHeifTools())
        GTEST_SKIP() << "heif-enc (Debian package libheif-examples) is missing";
    test::TempDir dir;
    const std::string heic = encoded(dir, "a", 33, 21, 32, 8, "-q 50");
    const std::vector<uint8_t> whole = test::readFileBytes(heic);
    ASSERT_GT(whole.size(), 100u);
    for (size_t length = 0; length < whole.size(); length += 7) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        const auto read = readHeifBytes({cut.data(), cut.size()});
        EXPECT_FALSE(read) << "cut at " << length;
        EXPECT_FALSE(read.error().empty());
    }
    // Refused before the picture is decoded into ours.
    const size_t limit = maxImageBytes();
    setMaxImageBytes(1000);
    EXPECT_EQ(readHeifBytes({whole.data(), whole.size()}).error(), "the image is too large");
    setMaxImageBytes(limit);
}

// An overlay whose canvas is 16 x 688140 pixels, though its primary image says 64 x 64: libheif
// would make the canvas while decoding unless its own limit keeps it to ours.
TEST(HeifRead, AnOverlayCanvasPastOurLimitIsRefusedByLibheif)
{
    const std::string overlay = OMBRI_SOURCE_DIR "/fuzz/corpus/heif/overlay_canvas_past_limit.heic";
    EXPECT_EQ(ReadHeifFile(overlay).error(), "the image is too large");
}

} // namespace
} // namespace ombri
