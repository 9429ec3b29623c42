// Pictures whose orientation tag says how to stand them: every command sees them upright, finds a
// tagged carrier's notes where the turn puts them, and writes the upright picture without the
// tag.

#include "cli_fixture.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/tiff.h"
#include "support/exiftool.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ombri::cli {
namespace {

using namespace test_cli;

// Notes clear of the eight pixels next to each corner along both sides, where a marker lies in
// one orientation or another and a save overwrites the note bits under it.
NoteLayer notesClearOfCorners(uint32_t seed)
{
    NoteLayer notes = test::makePatternNotes(kWidth, kHeight, seed);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const bool alongRow = (x < 8 || x >= kWidth - 8) && (y == 0 || y == kHeight - 1);
            const bool alongColumn = (y < 8 || y >= kHeight - 8) && (x == 0 || x == kWidth - 1);
            if (alongRow || alongColumn)
                notes[static_cast<size_t>(y) * kWidth + x] = 0;
        }
    }
    return notes;
}

class CliTaggedPictureTest : public CliFilesTest {
  protected:
    void SetUp() override
    {
        if (!test::haveExiftool())
            GTEST_SKIP() << "exiftool is not installed";
    }
};

// A carrier saved by ombri, then turned by a photo tool through its orientation tag: info finds
// the notes turned with the picture, its size as shown, and repair writes the upright picture
// with the marker in its place and no tag.
TEST_F(CliTaggedPictureTest, TaggedCarrierShowsItsNotesTurnedWithThePicture)
{
    for (const char* name : {"carrier.png", "carrier.tif"}) {
        for (const char* depth : {"24", "32"}) {
            SCOPED_TRACE(std::string(name) + " at " + depth + " bits");
            const std::string carrier = file(name);
            ASSERT_EQ(
                ombri({"embed", plainPicture("plain.bmp"), mask("mask.png", notesClearOfCorners(5)),
                       "-o", carrier, "--depth", depth})
                    .code,
                0);
            const std::string notePixels = infoKeys(carrier).at("note-pixels");
            ASSERT_EQ(test::tagOrientation({carrier}, 6), "");

            auto keys = infoKeys(carrier);
            EXPECT_EQ(keys.at("size"), std::to_string(kHeight) + "x" + std::to_string(kWidth));
            EXPECT_EQ(keys.at("notes"), "yes");
            EXPECT_EQ(keys.at("note-pixels"), notePixels);
            EXPECT_EQ(keys.at("signature"), "intact");
            EXPECT_EQ(keys.at("orientation"), "turned-90");

            const std::string repaired = file("repaired.png");
            ASSERT_EQ(ombri({"repair", carrier, "-o", repaired}).code, 0);
            keys = infoKeys(repaired);
            EXPECT_EQ(keys.at("size"), std::to_string(kHeight) + "x" + std::to_string(kWidth));
            EXPECT_EQ(keys.at("note-pixels"), notePixels);
            EXPECT_EQ(keys.at("orientation"), "normal");
            EXPECT_EQ(test::orientationTagOf(repaired), "");
        }
    }
}

// The same carrier turned by ImageMagick, which moves the pixels and drops the tag, reads exactly
// as the tagged one: the tag and the turn it names are one picture to every command.
TEST_F(CliTaggedPictureTest, TaggedCarrierReadsAsItsTurnedCopy)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const std::string carrier = file("carrier.tif");
    ASSERT_EQ(ombri({"embed", plainPicture("plain.bmp"), mask("mask.png", roundTripNotes(7)), "-o",
                     carrier, "--depth", "32"})
                  .code,
              0);
    for (int tag : {3, 5, 6, 7}) {
        SCOPED_TRACE("orientation tag " + std::to_string(tag));
        const std::string tagged = file("tagged.tif"), turned = file("turned.tif");
        test::writeFileBytes(tagged, test::readFileBytes(carrier));
        ASSERT_EQ(test::tagOrientation({tagged}, tag), "");
        ASSERT_EQ(test::runConvert("'" + tagged + "' -auto-orient '" + turned + "'"), "");
        auto tagKeys = infoKeys(tagged), turnKeys = infoKeys(turned);
        tagKeys.erase("file");
        turnKeys.erase("file");
        EXPECT_EQ(tagKeys, turnKeys);
        EXPECT_EQ(notesIn(tagged), notesIn(turned));
    }
}

// convert writes what it shows: the upright picture, with no tag left to turn it again.
TEST_F(CliTaggedPictureTest, ConvertWritesTheUprightPictureWithoutTheTag)
{
    const Dib picture = test::makePatternImage(kWidth, kHeight, 24);
    const std::string tiff = file("photo.tif"), jpeg = file("photo.jpg"), png = file("photo.png");
    ASSERT_TRUE(test::succeeded(WriteTiffFile(tiff, picture)));
    ASSERT_TRUE(test::succeeded(WriteJpegFile(jpeg, picture)));
    ASSERT_TRUE(test::succeeded(WritePngFile(png, picture)));
    ASSERT_EQ(test::tagOrientation({tiff, jpeg, png}, 8), "");
    for (const std::string& source : {tiff, jpeg, png}) {
        for (const char* extension : {".png", ".tif"}) {
            SCOPED_TRACE(source + " to " + extension);
            const std::string converted = file(std::string("converted") + extension);
            const RunResult result = ombri({"convert", source, converted});
            ASSERT_EQ(result.code, 0) << result.err;
            const LoadedImage shown = loadCheckedImage(source);
            const LoadedImage written = loadCheckedImage(converted);
            ASSERT_FALSE(written.image.isNull()) << written.error;
            EXPECT_EQ(written.orientation, kStoredAsShown);
            EXPECT_EQ(test::redFirstSamples(written.image, 3),
                      test::redFirstSamples(shown.image, 3));
            EXPECT_EQ(DibGetWidth(written.image), kHeight);
            const std::string tag = test::orientationTagOf(converted);
            EXPECT_TRUE(tag.empty() || tag == "1") << tag;
        }
    }
}

} // namespace
} // namespace ombri::cli
