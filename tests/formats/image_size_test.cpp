#include "formats/image_size.h"

#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/sgi.h"
#include "formats/tiff.h"
#include "support/imagemagick.h"
#include "support/process_guards.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

namespace ombri {
namespace {

// The probe tells the size the format's reader then decodes, for every kind the reader opens:
// the stored size, which the load exchanges when an orientation tag stands the picture on its
// side.
void expectSizeAsDecoded(const std::string& path, bool progressive = false)
{
    SCOPED_TRACE(path);
    const LoadedImage loaded = loadCheckedImage(path);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    const auto size = probeImageSize(path);
    ASSERT_TRUE(size) << size.error();
    EXPECT_EQ(size.value().format, loaded.format);
    const bool sidesSwap = loaded.orientation >= 5;
    EXPECT_EQ(size.value().width, static_cast<uint32_t>(sidesSwap ? DibGetHeight(loaded.image)
                                                                  : DibGetWidth(loaded.image)));
    EXPECT_EQ(size.value().height, static_cast<uint32_t>(sidesSwap ? DibGetWidth(loaded.image)
                                                                   : DibGetHeight(loaded.image)));
    EXPECT_EQ(size.value().progressive, progressive);
}

TEST(ImageSize, EachKindTellsTheSizeItsReaderDecodes)
{
    test::TempDir dir;
    // Odd sides, so that padding and swapped fields show.
    const Dib image = test::makePatternImage(47, 33, 24);
    ASSERT_TRUE(WriteBmpFile(dir.file("a.bmp"), image).ok());
    ASSERT_TRUE(WritePngFile(dir.file("a.png"), image).ok());
    ASSERT_TRUE(WriteSgiFile(dir.file("a.rgb"), image, SgiSignature::Omit).ok());
    ASSERT_TRUE(WriteJpegFile(dir.file("a.jpg"), image).ok());
    ASSERT_TRUE(WriteTiffFile(dir.file("a.tif"), image).ok());
    ASSERT_TRUE(
        WriteCineonDpxFile(dir.file("a.dpx"), FilmFormat::Dpx, image, nullptr, nullptr).ok());
    ASSERT_TRUE(
        WriteCineonDpxFile(dir.file("a.cin"), FilmFormat::Cineon, image, nullptr, nullptr).ok());
    for (const char* name : {"a.bmp", "a.png", "a.rgb", "a.jpg", "a.tif", "a.dpx", "a.cin"})
        expectSizeAsDecoded(dir.file(name));
    // A photograph with an EXIF block ahead of its frame header.
    test::writeFileBytes(dir.file("b.jpg"),
                         test::withApp1Marker(test::readFileBytes(dir.file("a.jpg")),
                                              test::exifOrientationMarker(6, false)));
    expectSizeAsDecoded(dir.file("b.jpg"));

    if (!test::haveImageMagick())
        GTEST_SKIP() << "GIF, PCX, big TIFF and progressive JPEG files are made by ImageMagick";
    const std::string source = dir.file("a.ppm");
    test::writePpm(source, 47, 33, test::redFirstSamples(image, 3));
    // Options, then the output's kind as ImageMagick names it (empty: by the extension).
    const struct {
        const char* options;
        const char* kind;
        const char* name;
    } made[] = {
        {"-comment 'a comment block first'", "", "c.gif"},
        {"", "", "c.pcx"},
        {"", "TIFF64:", "c.tif"},
        {"-interlace Plane", "", "c.jpg"},
    };
    for (const auto& file : made)
        ASSERT_EQ(
            test::runConvert(source + " " + file.options + " " + file.kind + dir.file(file.name)),
            "");
    expectSizeAsDecoded(dir.file("c.gif"));
    expectSizeAsDecoded(dir.file("c.pcx"));
    expectSizeAsDecoded(dir.file("c.tif"));
    expectSizeAsDecoded(dir.file("c.jpg"), true);
}

TEST(ImageSize, NothingIsToldOfHeadersThatMakeNoSenseOrFilesThatAreNotRead)
{
    test::TempDir dir;
    ASSERT_TRUE(WritePngFile(dir.file("a.png"), test::makePatternImage(5, 4, 24)).ok());
    ASSERT_TRUE(WriteJpegFile(dir.file("a.jpg"), test::makePatternImage(5, 4, 24)).ok());
    ASSERT_TRUE(WriteTiffFile(dir.file("a.tif"), test::makePatternImage(5, 4, 24)).ok());
    // Every file cut short of its size fields, and every kind filled with nothing but noise.
    const std::pair<const char*, size_t> cut[] = {{"a.png", 20}, {"a.jpg", 100}, {"a.tif", 8}};
    for (const auto& [name, keep] : cut) {
        auto bytes = test::readFileBytes(dir.file(name));
        bytes.resize(keep);
        const std::string path = dir.file(std::string("cut-") + name);
        test::writeFileBytes(path, bytes);
        EXPECT_FALSE(probeImageSize(path)) << name;
    }
    for (const char* name :
         {"n.bmp", "n.png", "n.rgb", "n.jpg", "n.tif", "n.dpx", "n.cin", "n.gif", "n.pcx"}) {
        test::writeFileBytes(dir.file(name), std::vector<uint8_t>(3000, 0xFF));
        EXPECT_FALSE(probeImageSize(dir.file(name))) << name;
    }
    EXPECT_FALSE(probeImageSize(dir.file("a.txt")));
    EXPECT_FALSE(probeImageSize(dir.file("missing.png")));
    // Nobody writes to this FIFO: a probe that opened it plainly would wait for good.
    ASSERT_EQ(::mkfifo(dir.file("fifo.png").c_str(), 0600), 0);
    const test::HangGuard guard(20, "the size of a FIFO was asked for");
    const auto fifo = probeImageSize(dir.file("fifo.png"));
    ASSERT_FALSE(fifo);
    EXPECT_EQ(fifo.error(), "it is not a regular file");
}

} // namespace
} // namespace ombri
