// How info tells where a picture keeps its notes.

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

} // namespace
} // namespace ombri::cli
