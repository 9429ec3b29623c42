#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace ombri {
namespace {

// One rule for every caller: the text after the last dot of the name, folders left out.
TEST(FileExtension, TakesTextAfterTheLastDotOfTheNameAndNothingWithoutADot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"photo.png", "png"}, {"archive.tar.png", "png"},
        {"png", ""},          {"/a.b/c", ""},
        {"a.b/c", ""},        {"/a.b/c.BMP", "BMP"},
        {"trailing.", ""},    {"dir/.hidden", "hidden"},
        {".png", "png"},      {"", ""},
        {"photo.Png", "Png"},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(FileExtension(name), extension) << name;
}

TEST(LoadFormat, MatchesEveryExtensionInAnyCase)
{
    const std::pair<const char*, const ImageFormat*> cases[] = {
        {"bmp", &kBmpFormat},    {"BMP", &kBmpFormat},   {"Bmp", &kBmpFormat},
        {"png", &kPngFormat},    {"pNg", &kPngFormat},   {"rgb", &kSgiFormat},
        {"jpg", &kJpegFormat},   {"jpeg", &kJpegFormat}, {"JPEG", &kJpegFormat},
        {"cin", &kCineonFormat}, {"DPX", &kDpxFormat},   {"gif", &kGifFormat},
        {"PCX", &kPcxFormat},    {"tiff", &kTiffFormat}, {"Tif", &kTiffFormat},
        {"", nullptr},           {"pn", nullptr},        {"pngg", nullptr},
        {"txt", nullptr},
    };
    for (const auto& [extension, format] : cases)
        EXPECT_EQ(loadFormatForExtension(extension), format) << extension;
}

TEST(LoadImageByExtension, SignatureRowFlagIsFalseOnlyForBmp)
{
    test::TempDir dir;
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("a.bmp"), test::makePatternImage(4, 2, 24))));
    for (const char* name : {"a.BMP", "a.Bmp"})
        test::writeFileBytes(dir.file(name), test::readFileBytes(dir.file("a.bmp")));
    for (const char* name : {"a.bmp", "a.BMP", "a.Bmp"}) {
        LoadedImage loaded = LoadImageByExtension(dir.file(name));
        EXPECT_FALSE(loaded.image.isNull()) << name << ": " << loaded.error;
        EXPECT_FALSE(loaded.signatureRowFlag) << name;
        EXPECT_EQ(loaded.format, &kBmpFormat);
    }
    LoadedImage missingBmp = LoadImageByExtension(dir.file("missing.bmp"));
    EXPECT_TRUE(missingBmp.image.isNull());
    EXPECT_FALSE(missingBmp.signatureRowFlag);
    EXPECT_FALSE(missingBmp.error.empty());

    // Every other name answers true, whether or not a reader takes the file: a file called
    // "bmp" has no extension at all.
    test::writeFileBytes(dir.file("text.png"), {'n', 'o', 't', ' ', 'p', 'n', 'g'});
    test::writeFileBytes(dir.file("bmp"), test::readFileBytes(dir.file("a.bmp")));
    for (const char* name : {"text.png", "bmp", "x.gif", "x.tif", "noextension"}) {
        LoadedImage loaded = LoadImageByExtension(dir.file(name));
        EXPECT_TRUE(loaded.image.isNull()) << name;
        EXPECT_TRUE(loaded.signatureRowFlag) << name;
        EXPECT_FALSE(loaded.error.empty()) << name;
    }
}

TEST(CheckLoadedImage, RefusesNegativeSizesAndKeepsGoodImages)
{
    Dib none;
    EXPECT_EQ(CheckLoadedImage(none), ImageCheck::NoImage);

    Dib good = test::makePatternImage(3, 3, 32);
    EXPECT_EQ(CheckLoadedImage(good), ImageCheck::Ok);
    EXPECT_FALSE(good.isNull());

    for (size_t field : {4, 8}) {
        Dib negative = test::makePatternImage(3, 3, 32);
        writeLe32(negative.data() + field, static_cast<uint32_t>(-3));
        EXPECT_EQ(CheckLoadedImage(negative), ImageCheck::TooLarge) << field;
        EXPECT_TRUE(negative.isNull());
    }
}

} // namespace
} // namespace ombri
