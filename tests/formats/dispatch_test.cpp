#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace ombri {
namespace {

TEST(FileExtension, TakesTextAfterTheLastDotOfTheFileName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"photo.png", "png"},      {"archive.tar.png", "png"}, {"png", "png"},
        {"/a.b/c", "c"},           {"/a.b/c.BMP", "BMP"},      {"trailing.", ""},
        {"dir/.hidden", "hidden"},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(FileExtension(name), extension) << name;
}

TEST(LoadFormat, MatchesExactSpellingsOnly)
{
    const std::pair<const char*, ImageFormat> cases[] = {
        {"bmp", ImageFormat::Bmp},    {"BMP", ImageFormat::Bmp},   {"Bmp", ImageFormat::None},
        {"png", ImageFormat::Png},    {"PNG", ImageFormat::Png},   {"Png", ImageFormat::None},
        {"rgb", ImageFormat::Sgi},    {"jpg", ImageFormat::Jpeg},  {"jpeg", ImageFormat::None},
        {"cin", ImageFormat::Cineon}, {"DPX", ImageFormat::Dpx},   {"gif", ImageFormat::Gif},
        {"PCX", ImageFormat::Pcx},    {"tiff", ImageFormat::Tiff}, {"TIF", ImageFormat::Tiff},
        {"Tif", ImageFormat::None},   {"", ImageFormat::None},
    };
    for (const auto& [extension, format] : cases)
        EXPECT_EQ(loadFormatForExtension(extension), format) << extension;
}

TEST(LoadImageByExtension, SignatureRowFlagIsFalseOnlyForBmp)
{
    test::TempDir dir;
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("a.bmp"), test::makePatternImage(4, 2, 24))));
    test::writeFileBytes(dir.file("a.BMP"), test::readFileBytes(dir.file("a.bmp")));
    for (const char* name : {"a.bmp", "a.BMP"}) {
        LoadedImage loaded = LoadImageByExtension(dir.file(name));
        EXPECT_FALSE(loaded.image.isNull()) << name << ": " << loaded.error;
        EXPECT_FALSE(loaded.signatureRowFlag) << name;
        EXPECT_EQ(loaded.format, ImageFormat::Bmp);
    }
    LoadedImage missingBmp = LoadImageByExtension(dir.file("missing.bmp"));
    EXPECT_TRUE(missingBmp.image.isNull());
    EXPECT_FALSE(missingBmp.signatureRowFlag);
    EXPECT_FALSE(missingBmp.error.empty());

    // Every other name answers true, whether or not a reader takes the file.
    test::writeFileBytes(dir.file("text.png"), {'n', 'o', 't', ' ', 'p', 'n', 'g'});
    test::writeFileBytes(dir.file("a.Bmp"), test::readFileBytes(dir.file("a.bmp")));
    for (const char* name : {"text.png", "a.Bmp", "x.gif", "x.tif", "noextension"}) {
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
