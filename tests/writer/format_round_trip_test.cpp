// Notes saved through the writer's document in every format it writes, read back by a fresh
// document and by ImageMagick. The expected files are worked out here from the carrier rules:
// the low bit of the blue byte (24-bit files) or of the alpha byte (32-bit files) is even at a
// note pixel and odd elsewhere, and the 23-byte marker lies at the start of the signature row;
// DPX and Cineon files keep the note in bit 0 of each pixel word instead.

#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "platform/scripted_prompt.h"
#include "support/dib_compare.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace ombri::writer {
using namespace ombri::test;
namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;

// Odd sizes, so that 24-bit rows carry padding.
constexpr int32_t kWidth = 47;
constexpr int32_t kHeight = 33;
constexpr size_t kPixels = size_t{kWidth} * kHeight;

// Where a format keeps the marker and the notes.
enum class Carrier {
    BottomRow,    // interleaved marker at the start of the picture's bottom row (BMP)
    TopRow,       // interleaved marker at the start of the top row (PNG, TIFF)
    PlanarTopRow, // marker over the blue, green and red planes of the top row (SGI)
    PixelWord,    // bit 0 of every pixel word, no marker (DPX, Cineon)
};

Carrier carrierOf(const std::string& extension)
{
    if (extension == "bmp")
        return Carrier::BottomRow;
    if (extension == "rgb")
        return Carrier::PlanarTopRow;
    if (extension == "dpx" || extension == "cin")
        return Carrier::PixelWord;
    return Carrier::TopRow;
}

uint8_t* pixel(Dib& dib, int32_t x, int32_t yFromTop)
{
    return const_cast<uint8_t*>(test::pixelAt(dib, x, yFromTop));
}

// Note layers run bottom row first.
size_t noteIndex(int32_t x, int32_t yFromTop)
{
    return size_t(kHeight - 1 - yFromTop) * kWidth + size_t(x);
}

// A scatter of notes with the first 8 pixels of the top and the bottom row all notes, so that
// the marker lies over notes wherever a format puts it.
NoteLayer drawnNotes()
{
    NoteLayer notes = test::makePatternNotes(kWidth, kHeight, 5);
    for (int32_t x = 0; x < 8; ++x)
        notes[noteIndex(x, 0)] = notes[noteIndex(x, kHeight - 1)] = 1;
    return notes;
}

// The bit count a saved file comes back with.
uint16_t savedBitCount(const std::string& extension, SaveDepth depth, uint16_t sourceBits,
                       bool withNotes)
{
    if (carrierOf(extension) == Carrier::PixelWord)
        return 24;
    const bool keepsAlpha = extension == "png" || extension == "webp";
    // A PNG or WebP file in the 24-bit depth keeps a picture's own alpha when there are no notes.
    if (keepsAlpha && depth == SaveDepth::Bits24 && !withNotes)
        return sourceBits;
    // libwebp leaves out an alpha channel in which every pixel is opaque; a carrier's marker
    // never is.
    if (extension == "webp" && sourceBits == 24 && !withNotes)
        return 24;
    return depth == SaveDepth::Alpha32 ? 32 : 24;
}

void layMarker(Dib& image, Carrier carrier)
{
    const uint8_t lead[3] = {101, 103, 105};
    if (carrier == Carrier::BottomRow || carrier == Carrier::TopRow) {
        uint8_t* row = pixel(image, 0, carrier == Carrier::TopRow ? 0 : kHeight - 1);
        std::memcpy(row, lead, 3);
        for (int k = 3; k < 23; ++k)
            row[k] |= 1;
        // Over whole 32-bit pixels, the blue byte just past the run is made even, so that the
        // colour bytes alone never read as a marker.
        if (DibGetBitCount(image) == 32)
            row[24] &= 0xFE;
    } else if (carrier == Carrier::PlanarTopRow) {
        // Blue, green, red of pixels 0 to 7 but the red of pixel 7; an alpha plane is left alone.
        for (int32_t x = 0; x < 8; ++x) {
            uint8_t* p = pixel(image, x, 0);
            for (int c = 0; c < (x == 7 ? 2 : 3); ++c)
                p[c] = x == 0 ? lead[c] : p[c] | 1;
        }
    }
}

// The picture a saved file should come back as.
Dib expectedPicture(const Dib& source, const NoteLayer* notes, Carrier carrier, uint16_t bits)
{
    Dib out = Dib::create(kWidth, kHeight, bits);
    const bool sourceAlpha = DibGetBitCount(source) == 32;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t* in = test::pixelAt(source, x, y);
            uint8_t* p = pixel(out, x, y);
            std::memcpy(p, in, 3);
            if (bits == 32)
                p[3] = sourceAlpha ? in[3] : 255;
            if (notes && carrier != Carrier::PixelWord) {
                uint8_t& carrierByte = bits == 32 ? p[3] : p[0];
                carrierByte = (*notes)[noteIndex(x, y)] == 1 ? carrierByte & 0xFE : carrierByte | 1;
            }
        }
    }
    if (notes)
        layMarker(out, carrier);
    return out;
}

// The note layer a fresh document should have after opening the saved file; none for a file
// that is no carrier.
std::optional<NoteLayer> expectedNotes(const NoteLayer* drawn, Carrier carrier, uint16_t bits)
{
    if (carrier == Carrier::PixelWord)
        return drawn ? *drawn : NoteLayer(kPixels, 0);
    if (!drawn)
        return std::nullopt;
    // A 4-channel SGI file keeps every note in its alpha plane; the marker lies in the colour
    // planes and is found whatever the alpha of the first pixels.
    if (carrier == Carrier::PlanarTopRow && bits == 32)
        return *drawn;
    NoteLayer carried = *drawn;
    const int32_t row = carrier == Carrier::BottomRow ? kHeight - 1 : 0;
    for (int32_t x = 0; x < (bits == 24 ? 8 : 5); ++x)
        carried[noteIndex(x, row)] = 0;
    return carried;
}

// Empty when the pictures hold the same pixels; otherwise the first difference.
std::string pixelDifference(const Dib& actual, const Dib& expected)
{
    const uint16_t bits = DibGetBitCount(expected);
    if (DibGetBitCount(actual) != bits || DibGetWidth(actual) != DibGetWidth(expected) ||
        DibGetHeight(actual) != DibGetHeight(expected))
        return "a " + std::to_string(DibGetWidth(actual)) + " x " +
               std::to_string(DibGetHeight(actual)) + " picture of " +
               std::to_string(DibGetBitCount(actual)) + " bits";
    for (int32_t y = 0; y < DibGetHeight(expected); ++y)
        for (int32_t x = 0; x < DibGetWidth(expected); ++x)
            for (int c = 0; c < bits / 8; ++c) {
                const int got = test::pixelAt(actual, x, y)[c];
                const int want = test::pixelAt(expected, x, y)[c];
                if (got != want)
                    return "pixel " + std::to_string(x) + ", " + std::to_string(y) +
                           " from the top, byte " + std::to_string(c) + ": " + std::to_string(got) +
                           " instead of " + std::to_string(want);
            }
    return {};
}

std::string noteDifference(const NoteLayer& actual, const NoteLayer& expected)
{
    if (actual.size() != expected.size())
        return "a layer of " + std::to_string(actual.size()) + " bytes";
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x)
            if (actual[noteIndex(x, y)] != expected[noteIndex(x, y)])
                return "pixel " + std::to_string(x) + ", " + std::to_string(y) +
                       " from the top: " + std::to_string(actual[noteIndex(x, y)]) +
                       " instead of " + std::to_string(expected[noteIndex(x, y)]);
    return {};
}

class WriterFiles : public ::testing::Test {
  protected:
    // Puts the picture in the document through a BMP file.
    void openPicture(const Dib& picture)
    {
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("source.bmp"), picture)));
        ASSERT_TRUE(doc.OnOpenDocument(dir.file("source.bmp"))) << doc.lastOpenError();
        ASSERT_FALSE(doc.hasNoteLayer());
        ASSERT_EQ(test::dibDifference(doc.image(), picture), "");
    }

    test::TempDir dir;
    ScriptedPrompt prompt;
    SavableWriterDocument doc{prompt};
};

// Target extension, save depth, bit count of the opened picture, whether notes were drawn.
using Case = std::tuple<std::string, SaveDepth, uint16_t, bool>;

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    const auto& [extension, depth, bits, withNotes] = info.param;
    return extension + (depth == SaveDepth::Alpha32 ? "_alpha32" : "_bits24") + "_from" +
           std::to_string(bits) + (withNotes ? "_withNotes" : "_plain");
}

class FormatRoundTrip : public WriterFiles, public ::testing::WithParamInterface<Case> {};

TEST_P(FormatRoundTrip, SavedFileFollowsTheCarrierRulesAndNotesComeBack)
{
    const auto& [extension, depth, sourceBits, withNotes] = GetParam();
    const Carrier carrier = carrierOf(extension);
    const Dib source = test::makePatternImage(kWidth, kHeight, sourceBits, 11);
    ASSERT_NO_FATAL_FAILURE(openPicture(source));
    const NoteLayer drawn = drawnNotes();
    if (withNotes)
        doc.MergeNotes(drawn.data());
    doc.setSaveDepth(depth);

    const std::string path = dir.file("saved." + extension);
    ASSERT_EQ(doc.SaveImageByExtension(path), SavableWriterDocument::SaveOutcome::Saved)
        << doc.lastSaveError();
    EXPECT_FALSE(doc.IsModified());
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_EQ(test::dibDifference(doc.image(), source), "") << "saving changed the document";

    SavableWriterDocument reopened(prompt);
    ASSERT_TRUE(reopened.OnOpenDocument(path)) << reopened.lastOpenError();
    const uint16_t bits = savedBitCount(extension, depth, sourceBits, withNotes);
    const NoteLayer* notes = withNotes ? &drawn : nullptr;
    EXPECT_EQ(pixelDifference(reopened.image(), expectedPicture(source, notes, carrier, bits)), "");
    const std::optional<NoteLayer> carried = expectedNotes(notes, carrier, bits);
    ASSERT_EQ(reopened.hasNoteLayer(), carried.has_value());
    if (carried) {
        EXPECT_EQ(noteDifference(*reopened.noteLayer(), *carried), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritableCarrier, FormatRoundTrip,
    ::testing::Combine(::testing::Values("png", "bmp", "tif", "rgb", "dpx", "cin", "webp"),
                       ::testing::Values(SaveDepth::Alpha32, SaveDepth::Bits24),
                       ::testing::Values(uint16_t{24}, uint16_t{32}), ::testing::Bool()),
    caseName);

TEST_F(WriterFiles, FourChannelSgiWithPlainTopLeftPixelsKeepsEveryNote)
{
    // Pixels 5 to 7 lie under the planar marker, but their notes are in the alpha plane.
    NoteLayer drawn = drawnNotes();
    for (int32_t x = 0; x < 5; ++x)
        drawn[noteIndex(x, 0)] = 0;
    for (uint16_t sourceBits : {24, 32}) {
        SCOPED_TRACE(sourceBits);
        const Dib source = test::makePatternImage(kWidth, kHeight, sourceBits, 3);
        ASSERT_NO_FATAL_FAILURE(openPicture(source));
        doc.MergeNotes(drawn.data());
        doc.setSaveDepth(SaveDepth::Alpha32);
        ASSERT_EQ(doc.SaveImageByExtension(dir.file("saved.rgb")),
                  SavableWriterDocument::SaveOutcome::Saved);

        SavableWriterDocument reopened(prompt);
        ASSERT_TRUE(reopened.OnOpenDocument(dir.file("saved.rgb")));
        EXPECT_EQ(pixelDifference(reopened.image(),
                                  expectedPicture(source, &drawn, Carrier::PlanarTopRow, 32)),
                  "");
        ASSERT_TRUE(reopened.hasNoteLayer());
        EXPECT_EQ(noteDifference(*reopened.noteLayer(), drawn), "");
    }
}

TEST_F(WriterFiles, JpegIsWrittenWithoutNotesOnlyAfterYes)
{
    const struct {
        Answer answer;
        SavableWriterDocument::SaveOutcome outcome;
    } cases[] = {
        {Answer::Yes, SavableWriterDocument::SaveOutcome::Saved},
        {Answer::No, SavableWriterDocument::SaveOutcome::Declined},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer == Answer::Yes ? "Yes" : "No");
        ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(kWidth, kHeight, 32)));
        doc.MergeNotes(drawnNotes().data());
        doc.setSaveDepth(SaveDepth::Alpha32);
        prompt.clear();
        prompt.queueAnswer(c.answer);
        const std::string path = dir.file(c.answer == Answer::Yes ? "yes.jpg" : "no.jpg");
        EXPECT_EQ(doc.SaveImageByExtension(path), c.outcome);
        ASSERT_EQ(prompt.messages().size(), 1u);
        EXPECT_EQ(prompt.messages()[0].buttons, Buttons::YesNo);
        if (c.answer == Answer::No) {
            EXPECT_TRUE(doc.IsModified());
            EXPECT_FALSE(test::fileExists(path));
            continue;
        }
        // The notes are in no file yet.
        EXPECT_TRUE(doc.IsModified());
        SavableWriterDocument reopened(prompt);
        ASSERT_TRUE(reopened.OnOpenDocument(path)) << reopened.lastOpenError();
        EXPECT_EQ(DibGetBitCount(reopened.image()), 24);
        EXPECT_EQ(reopened.width(), kWidth);
        EXPECT_EQ(reopened.height(), kHeight);
        EXPECT_FALSE(reopened.hasNoteLayer());
    }
}

// Film files as another program might leave them: every bit of every word in use, bit 0 included.
struct FilmKind {
    const char* extension;
    FilmFormat format;
};
constexpr FilmKind kFilmKinds[] = {{"dpx", FilmFormat::Dpx}, {"cin", FilmFormat::Cineon}};

Words busyWords(uint32_t seed)
{
    Words words(kPixels);
    uint32_t state = seed;
    for (uint32_t& word : words) {
        state = state * 1664525u + 1013904223u;
        word = state ^ (state >> 15);
    }
    return words;
}

void writeFilm(const std::string& path, FilmFormat format, const Words& words)
{
    ASSERT_TRUE(test::succeeded(
        WriteCineonDpxFile(path, format, Dib::create(kWidth, kHeight, 24), nullptr, &words)));
}

Words wordsOf(const std::string& path, FilmFormat format)
{
    auto loaded = ReadCineonDpxFile(path, format);
    EXPECT_TRUE(loaded) << loaded.error();
    return loaded ? loaded.value().pixelWords : Words();
}

TEST_F(WriterFiles, ResavedFilmFileKeepsItsWordsAndTakesTheEditedNotes)
{
    const Words words = busyWords(17);
    // Notes added everywhere one pattern has them, kept only where another has them.
    const NoteLayer added = test::makePatternNotes(kWidth, kHeight, 21);
    NoteLayer kept = test::makePatternNotes(kWidth, kHeight, 22);
    for (uint8_t& note : kept)
        note = note == 1 ? 0 : 1;
    for (const FilmKind& from : kFilmKinds) {
        for (const FilmKind& to : kFilmKinds) {
            SCOPED_TRACE(std::string(from.extension) + " saved as " + to.extension);
            const std::string source = dir.file(std::string("source.") + from.extension);
            ASSERT_NO_FATAL_FAILURE(writeFilm(source, from.format, words));
            ASSERT_TRUE(doc.OnOpenDocument(source)) << doc.lastOpenError();
            // The picture shows the top 8 bits of each 10-bit sample.
            for (int32_t y = 0; y < kHeight; ++y)
                for (int32_t x = 0; x < kWidth; ++x) {
                    const uint32_t word = words[size_t(y) * kWidth + x];
                    const uint8_t* p = test::pixelAt(doc.image(), x, y);
                    ASSERT_EQ(Bytes(p, p + 3),
                              (Bytes{uint8_t(word >> 4), uint8_t(word >> 14), uint8_t(word >> 24)}))
                        << "pixel " << x << ", " << y;
                }
            doc.MergeNotes(added.data());
            doc.RestrictNotes(kept.data());

            const std::string target = dir.file(std::string("saved.") + to.extension);
            ASSERT_EQ(doc.SaveImageByExtension(target), SavableWriterDocument::SaveOutcome::Saved)
                << doc.lastSaveError();
            Words expected = words;
            for (int32_t y = 0; y < kHeight; ++y)
                for (int32_t x = 0; x < kWidth; ++x) {
                    const size_t note = noteIndex(x, y);
                    uint32_t& word = expected[size_t(y) * kWidth + x];
                    const bool noted = ((word & 1) == 1 || added[note] == 1) && kept[note] == 1;
                    word = (word & ~1u) | (noted ? 1u : 0u);
                }
            EXPECT_EQ(wordsOf(target, to.format), expected);
        }
    }
}

TEST_F(WriterFiles, ClearedFilmDocumentSavesNoNoteBit)
{
    const Words words = busyWords(5);
    Words cleared = words;
    for (uint32_t& word : cleared)
        word &= ~1u;
    for (const FilmKind& kind : kFilmKinds) {
        SCOPED_TRACE(kind.extension);
        const std::string path = dir.file(std::string("notes.") + kind.extension);
        ASSERT_NO_FATAL_FAILURE(writeFilm(path, kind.format, words));
        ASSERT_TRUE(doc.OnOpenDocument(path)) << doc.lastOpenError();
        ASSERT_TRUE(doc.hasNoteLayer());
        doc.ClearNotes();
        ASSERT_EQ(doc.SaveImageByExtension(path), SavableWriterDocument::SaveOutcome::Saved)
            << doc.lastSaveError();
        EXPECT_EQ(wordsOf(path, kind.format), cleared);
    }
}

// ImageMagick reads each file the writer saves, notes and all, to the pixels our reader gives;
// DPX and Cineon to the same top 8 bits of each sample.

// What ImageMagick makes of a DPX or Cineon file, as 8-bit red, green, blue samples: the top 8 of
// the 10 bits stored. Tagged sRGB, its 16-bit samples are the stored codes scaled up.
Bytes filmPixelsByImageMagick(const std::string& kind, const std::string& path,
                              const std::string& raw)
{
    const std::string said = test::runConvert(
        kind + ":'" + path + "' -set colorspace sRGB -depth 16 -endian MSB rgb:'" + raw + "'");
    EXPECT_EQ(said, "");
    const Bytes bytes = test::readFileBytes(raw);
    Bytes samples;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2)
        samples.push_back(
            static_cast<uint8_t>(std::lround(readBe16(&bytes[at]) * 1023.0 / 65535) >> 2));
    return samples;
}

using MagickCase = std::tuple<std::string, SaveDepth, uint16_t>;

std::string magickCaseName(const ::testing::TestParamInfo<MagickCase>& info)
{
    const auto& [extension, depth, bits] = info.param;
    return extension + (depth == SaveDepth::Alpha32 ? "_alpha32" : "_bits24") + "_from" +
           std::to_string(bits);
}

class ImageMagickReadsSavedFiles : public WriterFiles,
                                   public ::testing::WithParamInterface<MagickCase> {};

TEST_P(ImageMagickReadsSavedFiles, AsOurReaderDoes)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const auto& [extension, depth, sourceBits] = GetParam();
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(kWidth, kHeight, sourceBits, 9)));
    doc.MergeNotes(drawnNotes().data());
    doc.setSaveDepth(depth);
    prompt.queueAnswer(Answer::Yes); // the JPEG question
    const std::string path = dir.file("saved." + extension);
    ASSERT_EQ(doc.SaveImageByExtension(path), SavableWriterDocument::SaveOutcome::Saved)
        << doc.lastSaveError();
    SavableWriterDocument reopened(prompt);
    ASSERT_TRUE(reopened.OnOpenDocument(path)) << reopened.lastOpenError();
    const Dib& ours = reopened.image();

    if (carrierOf(extension) == Carrier::PixelWord) {
        EXPECT_EQ(filmPixelsByImageMagick(extension, path, dir.file("magick.raw")),
                  test::redFirstSamples(ours, 3));
        return;
    }
    // The reader's own name for each format: an ".rgb" name alone means raw samples to it.
    const std::string kind = extension == "rgb"   ? "sgi"
                             : extension == "tif" ? "tiff"
                             : extension == "jpg" ? "jpeg"
                                                  : extension;
    ASSERT_EQ(
        test::runConvert(kind + ":'" + path + "' -depth 8 pam:'" + dir.file("magick.pam") + "'"),
        "");
    const test::Pixmap magick = test::readPixmap(dir.file("magick.pam"));
    ASSERT_EQ(magick.width, kWidth);
    ASSERT_EQ(magick.height, kHeight);
    const int channels = DibGetBitCount(ours) / 8;
    ASSERT_EQ(magick.channels, channels);
    EXPECT_EQ(magick.samples, test::redFirstSamples(ours, channels));
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritableFormat, ImageMagickReadsSavedFiles,
    ::testing::Combine(::testing::Values("png", "bmp", "tif", "rgb", "dpx", "cin", "jpg", "webp"),
                       ::testing::Values(SaveDepth::Alpha32, SaveDepth::Bits24),
                       ::testing::Values(uint16_t{24}, uint16_t{32})),
    magickCaseName);

} // namespace
} // namespace ombri::writer
