// How info tells where a picture keeps its notes, and how repair writes a turned or mirrored
// carrier back with its signature in place.

#include "cli_fixture.h"
#include "formats/bmp.h"
#include "formats/png.h"
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
using Keys = std::map<std::string, std::string>;

// The "key: value" lines info prints for one picture.
Keys infoKeys(const std::string& path)
{
    const RunResult result = ombri({"info", path});
    EXPECT_EQ(result.code, 0) << result.err;
    Keys keys;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            keys[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return keys;
}

// What info --json prints after "note-pixels": the keys this file is about.
std::string jsonKeepingKeys(const std::string& path)
{
    const std::string line = ombri({"info", "--json", path}).out;
    const size_t at = line.find(",\"signature\"");
    return at == std::string::npos ? line : line.substr(at);
}

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

    const NoteLayer kNotes = cornerFreeNotes(kWidth, kHeight, 21);
    const std::string kNotePixels = std::to_string(countNotePixels(kNotes));
};

using CliRepairTest = CliNoteKeepingTest;

TEST_F(CliNoteKeepingTest, InfoNamesTheCarrierByteOfANormalCarrier)
{
    const std::string alpha = carrier("alpha.png");
    const std::string blue = file("blue.bmp");
    ASSERT_EQ(ombri({"convert", alpha, blue, "--depth", "24"}).code, 0);

    EXPECT_EQ(infoKeys(alpha), (Keys{{"file", alpha},
                                     {"format", "PNG"},
                                     {"size", "47x33"},
                                     {"bits", "32"},
                                     {"notes", "yes"},
                                     {"note-pixels", kNotePixels},
                                     {"signature", "intact"},
                                     {"carrier", "alpha"},
                                     {"orientation", "normal"}}));
    const Keys keys = infoKeys(blue);
    EXPECT_EQ(keys.at("carrier"), "blue");
    EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
    EXPECT_EQ(jsonKeepingKeys(blue),
              ",\"signature\":\"intact\",\"carrier\":\"blue\",\"orientation\":\"normal\"}\n");
}

TEST_F(CliNoteKeepingTest, APlainPictureHasNoSignatureAndNoCarrier)
{
    const std::string plain = plainPicture("plain.png");
    const Keys keys = infoKeys(plain);
    EXPECT_EQ(keys.at("signature"), "none");
    EXPECT_EQ(keys.count("carrier") + keys.count("orientation"), 0u);
    EXPECT_EQ(jsonKeepingKeys(plain), ",\"signature\":\"none\"}\n");
}

TEST_F(CliNoteKeepingTest, InfoFindsTheNotesOfATurnedOrMirroredCarrier)
{
    for (const Orientation orientation : {Orientation::Mirrored, Orientation::Turned90,
                                          Orientation::Turned180, Orientation::Transversed}) {
        const std::string name = std::string(orientationName(orientation)) + ".png";
        const Keys keys = infoKeys(turnedCarrier(name, orientation));
        SCOPED_TRACE(name);
        EXPECT_EQ(keys.at("notes"), "yes");
        EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
        EXPECT_EQ(keys.at("signature"), "intact");
        EXPECT_EQ(keys.at("carrier"), "alpha");
        EXPECT_EQ(keys.at("orientation"), orientationName(orientation));
    }
    EXPECT_EQ(jsonKeepingKeys(file("turned-90.png")),
              ",\"signature\":\"intact\",\"carrier\":\"alpha\",\"orientation\":\"turned-90\"}\n");
}

// A BMP file keeps its bottom row first and its marker there; the same pixels written by another
// program as BMP have the marker at the top, as if the picture had been flipped.
TEST_F(CliNoteKeepingTest, APngCarrierRewrittenAsBmpElsewhereReadsFlipped)
{
    const std::string bmp = file("elsewhere.bmp");
    ASSERT_TRUE(test::succeeded(WriteBmpFile(bmp, readPng(carrier("carrier.png")))));
    const Keys keys = infoKeys(bmp);
    EXPECT_EQ(keys.at("orientation"), "flipped");
    EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
}

TEST_F(CliNoteKeepingTest, ADamagedSignatureIsToldAndItsBitsAreNoNotes)
{
    Dib pixels = readPng(carrier("carrier.png"));
    // The top row is the last in memory; an even blue byte breaks the run of odd ones.
    auto layout = dibGetLayout(pixels);
    pixels.data()[layout->pixelOffset + (kHeight - 1) * layout->stride + 4] &= 0xFE;
    const std::string damaged = picture("damaged.png", pixels);

    const Keys keys = infoKeys(damaged);
    EXPECT_EQ(keys.at("notes"), "no");
    EXPECT_EQ(keys.at("note-pixels"), "0");
    EXPECT_EQ(keys.at("signature"), "damaged");
    EXPECT_EQ(keys.count("carrier") + keys.count("orientation"), 0u);
    EXPECT_EQ(jsonKeepingKeys(damaged), ",\"signature\":\"damaged\"}\n");

    const RunResult repair = ombri({"repair", damaged, "-o", file("out.png")});
    EXPECT_EQ(repair.code, code(Exit::NoNotes));
    EXPECT_EQ(repair.err, "ombri: '" + damaged +
                              "' carries no notes: its signature is damaged, and without one the "
                              "low bits of its pixels are not notes\n");
    EXPECT_FALSE(test::fileExists(file("out.png")));
}

// DPX and Cineon keep a note bit in every pixel word. The picture converted from a carrier still
// shows the marker's colours in its corner, but no marker is looked for there.
TEST_F(CliNoteKeepingTest, DpxAndCineonKeepTheirNotesWithoutASignature)
{
    const std::string noted = carrier("carrier.png");
    for (const char* name : {"film.dpx", "film.cin"}) {
        ASSERT_EQ(ombri({"convert", noted, file(name)}).code, 0) << name;
        const Keys keys = infoKeys(file(name));
        SCOPED_TRACE(name);
        EXPECT_EQ(keys.at("note-pixels"), kNotePixels);
        EXPECT_EQ(keys.at("signature"), "none");
        EXPECT_EQ(keys.at("carrier"), "word-bit");
        EXPECT_EQ(keys.at("orientation"), "normal");
    }
    EXPECT_EQ(jsonKeepingKeys(file("film.dpx")),
              ",\"signature\":\"none\",\"carrier\":\"word-bit\",\"orientation\":\"normal\"}\n");
    ASSERT_EQ(ombri({"clear", file("film.dpx"), "-o", file("plain.dpx")}).code, 0);
    EXPECT_EQ(jsonKeepingKeys(file("plain.dpx")), ",\"signature\":\"none\"}\n");
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

TEST_F(CliRepairTest, RefusesInputsWithoutNotesAndOutputsThatCannotKeepThem)
{
    const std::string turned = turnedCarrier("turned.png", Orientation::Turned90);
    const std::string plain = plainPicture("plain.png");
    const std::string jpeg = file("out.jpg");
    test::writeFileBytes(jpeg, {'o', 'l', 'd'});

    const RunResult none = ombri({"repair", plain, "-o", file("out.png")});
    EXPECT_EQ(none.code, code(Exit::NoNotes));
    EXPECT_EQ(none.err, "ombri: '" + plain + "' carries no notes\n");
    const RunResult lossy = ombri({"repair", turned, "-o", jpeg});
    EXPECT_EQ(lossy.code, code(Exit::WriteFailed));
    EXPECT_EQ(lossy.err, "ombri: " + jpeg +
                             " cannot carry notes: JPEG files lose them; name a PNG, BMP, TIFF, "
                             "SGI, DPX or Cineon file\n");
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
