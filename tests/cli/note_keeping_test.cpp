// How info tells where a picture keeps its notes, and how repair writes a turned or mirrored
// carrier back with its signature in place.

#include "cli_fixture.h"
#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/png.h"
#include "reader/note_status.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ombri::cli {
namespace {

using namespace test_cli;
using Keys = std::map<std::string, std::string>;

// Notes clear of the eight pixels next to each corner along both sides: a marker lies there in
// one orientation or another, and a save overwrites the note bits under it.
NoteLayer cornerFreeNotes(int32_t width, int32_t height, uint32_t seed)
{
    NoteLayer notes = test::makePatternNotes(width, height, seed);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool nearCornerOfRow = (x < 8 || x >= width - 8) && (y == 0 || y == height - 1);
            const bool nearCornerOfColumn =
                (y < 8 || y >= height - 8) && (x == 0 || x == width - 1);
            if (nearCornerOfRow || nearCornerOfColumn)
                notes[static_cast<size_t>(y) * width + x] = 0;
        }
    }
    return notes;
}

Dib readPng(const std::string& path)
{
    auto read = ReadPngFile(path);
    EXPECT_TRUE(read) << path << ": " << read.error();
    return read ? read.take() : Dib();
}

class CliNoteKeepingTest : public CliFilesTest {
  protected:
    // A 32-bit PNG carrier of kNotes, saved by ombri.
    std::string carrier(const std::string& name)
    {
        const std::string path = file(name);
        EXPECT_EQ(ombri({"embed", plainPicture("plain-" + name + ".bmp"),
                         mask("mask-" + name + ".png", kNotes), "-o", path})
                      .code,
                  0);
        return path;
    }
    // The carrier as another program leaves it after turning or mirroring it.
    std::string turnedCarrier(const std::string& name, Orientation orientation)
    {
        return picture(name, test::orientedCopy(readPng(carrier("upright-" + name)), orientation));
    }

    // The carrier with one even byte in its marker's run of odd ones (the top row is the last in
    // memory).
    std::string damagedCarrier(const std::string& name)
    {
        Dib pixels = readPng(carrier("whole-" + name));
        auto layout = dibGetLayout(pixels);
        pixels.data()[layout->pixelOffset + (kHeight - 1) * layout->stride + 4] &= 0xFE;
        return picture(name, pixels);
    }

    const NoteLayer kNotes = cornerFreeNotes(kWidth, kHeight, 21);
    const std::string kNotePixels = std::to_string(countNotePixels(kNotes));
};

using CliRepairTest = CliNoteKeepingTest;

struct KeepingCase {
    std::string path;
    const char* notes;
    const char* signature;
    const char* carrier; // null: neither carrier nor orientation is printed
    const char* orientation;
};

// Every way a picture keeps its notes, or fails to, in the text block and the JSON line alike.
TEST_F(CliNoteKeepingTest, InfoTellsHowEachPictureKeepsItsNotes)
{
    const std::string alpha = carrier("alpha.png");
    ASSERT_EQ(ombri({"convert", alpha, file("blue.bmp"), "--depth", "24"}).code, 0);
    // DPX and Cineon pictures converted from a carrier still show the marker's colours in their
    // corner; no marker is looked for there.
    ASSERT_EQ(ombri({"convert", alpha, file("film.dpx")}).code, 0);
    ASSERT_EQ(ombri({"convert", alpha, file("film.cin")}).code, 0);
    ASSERT_EQ(ombri({"clear", alpha, "-o", file("plain.dpx")}).code, 0);
    // A BMP file keeps its bottom row first and its marker there; the same pixels written as
    // BMP by another program have the marker at the top, where every program's copy in BMP
    // has it: that is a normal BMP too.
    ASSERT_TRUE(test::succeeded(WriteBmpFile(file("elsewhere.bmp"), readPng(alpha))));

    const KeepingCase cases[] = {
        {alpha, "yes", "intact", "alpha", "normal"},
        {file("blue.bmp"), "yes", "intact", "blue", "normal"},
        {plainPicture("plain.png"), "no", "none", nullptr, nullptr},
        {turnedCarrier("turned.png", Orientation::Turned90), "yes", "intact", "alpha", "turned-90"},
        {turnedCarrier("mirrored.png", Orientation::Mirrored), "yes", "intact", "alpha",
         "mirrored"},
        {file("elsewhere.bmp"), "yes", "intact", "alpha", "normal"},
        {damagedCarrier("damaged.png"), "no", "damaged", nullptr, nullptr},
        {file("film.dpx"), "yes", "none", "word-bit", "normal"},
        {file("film.cin"), "yes", "none", "word-bit", "normal"},
        {file("plain.dpx"), "no", "none", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Keys keys = infoKeys(c.path);
        EXPECT_EQ(keys.at("notes"), c.notes);
        // The reader's file list says "yes" for exactly these.
        EXPECT_EQ(reader::fileCarriesNotes(c.path), std::optional<bool>(keys.at("notes") == "yes"));
        EXPECT_EQ(keys.at("note-pixels"), c.notes == std::string("yes") ? kNotePixels : "0");
        EXPECT_EQ(keys.at("signature"), c.signature);
        EXPECT_EQ(keys.count("carrier") ? keys.at("carrier") : "", c.carrier ? c.carrier : "");
        EXPECT_EQ(keys.count("orientation") ? keys.at("orientation") : "",
                  c.orientation ? c.orientation : "");

        std::string ending = std::string(",\"signature\":\"") + c.signature + '"';
        if (c.carrier)
            ending += std::string(",\"carrier\":\"") + c.carrier + "\",\"orientation\":\"" +
                      c.orientation + '"';
        const std::string json = ombri({"info", "--json", c.path}).out;
        const size_t at = json.find(",\"signature\"");
        EXPECT_EQ(at == std::string::npos ? json : json.substr(at), ending + "}\n");
    }
}

struct RepairCase {
    Orientation orientation;
    const char* output;
    const char* depth;
};

// Repaired, a turned carrier reads as a normal one in every carrier format and depth, with the
// note layer it had: the notes turned with the picture, the marker did not.
TEST_F(CliRepairTest, ATurnedCarrierComesBackNormalWithTheSameNotes)
{
    const RepairCase cases[] = {
        {Orientation::Turned90, "turned.png", "32"},
        {Orientation::Mirrored, "mirrored.bmp", "24"},
        {Orientation::Transposed, "transposed.tif", "32"},
        {Orientation::Turned270, "turned.rgb", "24"},
    };
    for (const auto& [orientation, output, depth] : cases) {
        SCOPED_TRACE(output);
        const std::string turned = turnedCarrier(std::string("in-") + output + ".png", orientation);
        const std::string repaired = file(output);
        const RunResult repair = ombri({"repair", turned, "-o", repaired, "--depth", depth});
        ASSERT_EQ(repair.code, 0) << repair.err;
        EXPECT_EQ(repair.err, "");

        const Keys keys = infoKeys(repaired);
        EXPECT_EQ(keys.at("orientation"), "normal");
        EXPECT_EQ(keys.at("signature"), "intact");
        EXPECT_EQ(keys.at("bits"), depth);
        EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
        EXPECT_EQ(notesIn(repaired), test::orientedNotes(kNotes, kWidth, kHeight, orientation));

        // The note masks ombri writes of the two files are the same.
        const std::string before = file(std::string("before-") + output + ".png");
        const std::string after = file(std::string("after-") + output + ".png");
        ASSERT_EQ(ombri({"notes", turned, "-o", before}).code, 0);
        ASSERT_EQ(ombri({"notes", repaired, "-o", after}).code, 0);
        EXPECT_EQ(test::readFileBytes(before), test::readFileBytes(after));
    }
}

// What other programs do to a carrier's channels: a 24-bit carrier given an opaque alpha channel
// (ImageMagick's -alpha on, an editor's Add Alpha Channel) keeps its notes in blue, and repair
// writes them back; a 32-bit carrier whose alpha channel is dropped carries none, even where the
// picture's white corner made its colour bytes pass for a 24-bit marker.
TEST_F(CliRepairTest, ChannelsAddedOrDroppedByImageMagick)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    Dib source = test::makePatternImage(kWidth, kHeight, 24);
    auto layout = dibGetLayout(source);
    std::memset(source.data() + layout->pixelOffset + (kHeight - 1) * layout->stride, 255, 16 * 3);
    const std::string plain = picture("white-corner.bmp", source);
    const std::string notes = mask("mask.png", kNotes);
    const std::string blue = file("blue.png");
    const std::string alpha = file("alpha.png");
    ASSERT_EQ(ombri({"embed", plain, notes, "-o", blue, "--depth", "24"}).code, 0);
    ASSERT_EQ(ombri({"embed", plain, notes, "-o", alpha, "--depth", "32"}).code, 0);

    const std::string gained = file("gained.png");
    ASSERT_EQ(test::runConvert(blue + " -alpha on PNG32:" + gained), "");
    Keys keys = infoKeys(gained);
    EXPECT_EQ(keys.at("bits"), "32");
    EXPECT_EQ(keys.at("notes"), "yes");
    EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
    EXPECT_EQ(keys.at("carrier"), "blue");
    const std::string repaired = file("repaired.png");
    ASSERT_EQ(ombri({"repair", gained, "-o", repaired}).code, 0);
    EXPECT_EQ(notesIn(repaired), kNotes);

    const std::string dropped = file("dropped.png");
    ASSERT_EQ(test::runConvert(alpha + " -alpha off PNG24:" + dropped), "");
    keys = infoKeys(dropped);
    EXPECT_EQ(keys.at("bits"), "24");
    EXPECT_EQ(keys.at("notes"), "no");
    EXPECT_EQ(keys.at("note-pixels"), "0");
    EXPECT_EQ(ombri({"repair", dropped, "-o", file("nothing.png")}).code, 3);
}

// A 32-bit BMP carrier names its fourth byte alpha in a long header, so a program that converts
// it keeps the byte, and the notes in it, instead of dropping it as padding.
TEST_F(CliNoteKeepingTest, ThirtyTwoBitBmpCarrierKeepsItsNotesThroughImageMagick)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const std::string bmp = file("carrier.bmp");
    ASSERT_EQ(ombri({"embed", plainPicture("plain.bmp"), mask("mask.png", kNotes), "-o", bmp,
                     "--depth", "32"})
                  .code,
              0);
    const auto bytes = test::readFileBytes(bmp);
    ASSERT_GE(bytes.size(), 138u);
    EXPECT_EQ(readLe32(&bytes[14]), 124u);
    EXPECT_EQ(readLe32(&bytes[10]), 138u);

    const std::string png = file("converted.png");
    ASSERT_EQ(test::runConvert(bmp + " " + png), "");
    const Keys keys = infoKeys(png);
    EXPECT_EQ(keys.at("bits"), "32");
    EXPECT_EQ(keys.at("notes"), "yes");
    EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
    EXPECT_EQ(keys.at("carrier"), "alpha");
}

TEST_F(CliRepairTest, RefusesInputsWithoutNotesAndOutputsThatCannotKeepThem)
{
    const std::string turned = turnedCarrier("turned.png", Orientation::Turned90);
    const std::string plain = plainPicture("plain.png");
    const std::string jpeg = file("out.jpg");
    test::writeFileBytes(jpeg, {'o', 'l', 'd'});

    const RunResult none = ombri({"repair", plain, "-o", file("out.png")});
    EXPECT_EQ(none.code, code(Exit::NoNotes));
    EXPECT_EQ(none.err, "ombri: '" + plain + "' carries no notes\n");
    const std::string damaged = damagedCarrier("damaged.png");
    const RunResult broken = ombri({"repair", damaged, "-o", file("out.png")});
    EXPECT_EQ(broken.code, code(Exit::NoNotes));
    EXPECT_EQ(broken.err, "ombri: '" + damaged +
                              "' carries no notes: its signature is damaged, and without one the "
                              "low bits of its pixels are not notes\n");
    const RunResult toJpeg = ombri({"repair", turned, "-o", jpeg});
    EXPECT_EQ(toJpeg.code, code(Exit::WriteFailed));
    EXPECT_EQ(toJpeg.err, "ombri: " + jpeg +
                              " cannot carry notes: JPEG files lose them; name a PNG, BMP, TIFF, "
                              "SGI, DPX, Cineon or WebP file\n");
    EXPECT_EQ(test::readFileBytes(jpeg), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_FALSE(test::fileExists(file("out.png")));

    // A wide, low picture carries its marker along its top row; turned, it is too narrow for one.
    const int32_t width = 40, height = 5;
    NoteLayer notes(width * height, 0);
    notes[2 * width + 20] = 1;
    const std::string wide = file("wide.png");
    ASSERT_EQ(ombri({"embed", picture("wide.bmp", test::makePatternImage(width, height, 24)),
                     picture("wide-mask.png", maskPicture(notes, width, height)), "-o", wide})
                  .code,
              0);
    const std::string narrow =
        picture("narrow.png", test::orientedCopy(readPng(wide), Orientation::Turned90));
    EXPECT_EQ(infoKeys(narrow).at("orientation"), "turned-90");
    for (const char* name : {"narrow-out.png", "narrow-out.rgb"}) {
        const std::string out = file(name);
        const RunResult refused = ombri({"repair", narrow, "-o", out});
        EXPECT_EQ(refused.code, code(Exit::WriteFailed)) << name;
        const char* least = FileExtension(name) == "rgb" ? "8" : "6";
        EXPECT_EQ(refused.err, "ombri: " + out + " cannot carry notes: the picture is 5 pixels " +
                                   "wide and needs at least " + least +
                                   " to keep them; DPX and Cineon files keep the notes of any "
                                   "width\n");
        EXPECT_FALSE(test::fileExists(out)) << name;
    }
    ASSERT_EQ(ombri({"repair", narrow, "-o", file("narrow.dpx")}).code, 0);
    EXPECT_EQ(infoKeys(file("narrow.dpx")).at("note-pixels"), "1");
}

// Notes in pixel words need no marker: repair copies them as convert does, into a DPX or Cineon
// file as they are, or into any other carrier with its marker.
TEST_F(CliRepairTest, DpxNotesAreCopiedAsConvertCopiesThem)
{
    const std::string film = file("film.dpx");
    ASSERT_EQ(ombri({"convert", carrier("carrier.png"), film}).code, 0);
    for (const char* name : {"copy.cin", "copy.png"}) {
        ASSERT_EQ(ombri({"repair", film, "-o", file(name)}).code, 0) << name;
        EXPECT_EQ(notesIn(file(name)), kNotes) << name;
        EXPECT_EQ(infoKeys(file(name)).at("orientation"), "normal") << name;
    }
}

} // namespace
} // namespace ombri::cli
