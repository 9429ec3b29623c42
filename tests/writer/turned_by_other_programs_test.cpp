// Carriers that another program turned, mirrored or rewrote. ImageMagick does to them what photo
// managers and image editors do: the note bits move with the pixels, the marker with them, and
// it adds bKGD and gAMA chunks to every PNG it writes. The notes must come back lined up with
// the picture as it now is.

#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "platform/scripted_prompt.h"
#include "support/exiftool.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

namespace ombri::writer {
using namespace ombri::test;
namespace {

// Odd sides, so that turned 24-bit rows get another padding.
constexpr int32_t kWidth = 37;
constexpr int32_t kHeight = 23;

struct Turn {
    const char* option; // what ImageMagick is asked to do
    Orientation orientation;
};

constexpr Turn kTurns[] = {
    {"-flop", Orientation::Mirrored},         {"-flip", Orientation::Flipped},
    {"-rotate 90", Orientation::Turned90},    {"-rotate 180", Orientation::Turned180},
    {"-rotate 270", Orientation::Turned270},  {"-transpose", Orientation::Transposed},
    {"-transverse", Orientation::Transversed}};

// ImageMagick takes a file named .rgb for raw samples unless told it is SGI.
std::string magickName(const std::string& path, const std::string& extension)
{
    return (extension == "rgb" ? "sgi:" : "") + path;
}

using Case = std::tuple<std::string, SaveDepth>;

class TurnedByOtherPrograms : public ::testing::TestWithParam<Case> {
  protected:
    // A carrier as the writer saves it, and the notes it opens with.
    void saveCarrier(const std::string& extension, SaveDepth depth)
    {
        ASSERT_TRUE(succeeded(
            WriteBmpFile(dir.file("source.bmp"), makePatternImage(kWidth, kHeight, 24, 17))));
        SavableWriterDocument doc(prompt);
        ASSERT_TRUE(doc.OnOpenDocument(dir.file("source.bmp")));
        doc.MergeNotes(makePatternNotes(kWidth, kHeight, 9).data());
        doc.setSaveDepth(depth);
        carrier = dir.file("carrier." + extension);
        ASSERT_EQ(doc.SaveImageByExtension(carrier), SavableWriterDocument::SaveOutcome::Saved)
            << doc.lastSaveError();
        SavableWriterDocument reopened(prompt);
        ASSERT_TRUE(reopened.OnOpenDocument(carrier));
        ASSERT_TRUE(reopened.hasNoteLayer());
        ASSERT_EQ(reopened.foundSignature().orientation, Orientation::Normal);
        EXPECT_FALSE(reopened.IsModified());
        notes = *reopened.noteLayer();
        bits = DibGetBitCount(reopened.image());
    }

    TempDir dir;
    ScriptedPrompt prompt;
    std::string carrier;
    NoteLayer notes;
    uint16_t bits = 0;
};

// A saved marker (here in the reopened file) forces the carrier bytes under it plain: the first 8
// pixels of a 24-bit row, 5 of a 32-bit one, none of a four-channel SGI file (its notes are in the
// alpha plane).
NoteLayer withoutMarkerPixels(NoteLayer notes, const std::string& extension,
                              const SavableWriterDocument& doc)
{
    const int32_t width = doc.width();
    const uint16_t bits = DibGetBitCount(doc.image());
    const int32_t covered = extension == "rgb" && bits == 32 ? 0 : bits == 24 ? 8 : 5;
    const size_t row = extension == "bmp" ? 0 : size_t(doc.height() - 1);
    for (int32_t x = 0; x < covered; ++x)
        notes[row * width + x] = 0;
    return notes;
}

TEST_P(TurnedByOtherPrograms, NotesAreFoundAndLineUpWithTheTurnedPicture)
{
    if (!haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const auto& [extension, depth] = GetParam();
    ASSERT_NO_FATAL_FAILURE(saveCarrier(extension, depth));
    for (const Turn& turn : kTurns) {
        SCOPED_TRACE(turn.option);
        const std::string turned = dir.file(std::string("turned.") + extension);
        ASSERT_EQ(runConvert(magickName(carrier, extension) + " " + turn.option + " " +
                             magickName(turned, extension)),
                  "");
        SavableWriterDocument doc(prompt);
        ASSERT_TRUE(doc.OnOpenDocument(turned)) << doc.lastOpenError();
        EXPECT_EQ(DibGetBitCount(doc.image()), bits);
        ASSERT_TRUE(doc.foundSignature().intact());
        // A BMP flipped top to bottom has its marker along the top row, where every other
        // program's copy of a carrier in BMP has it: that reads as a normal BMP.
        const Orientation named = extension == "bmp" && turn.orientation == Orientation::Flipped
                                      ? Orientation::Normal
                                      : turn.orientation;
        EXPECT_EQ(doc.foundSignature().orientation, named);
        ASSERT_TRUE(doc.hasNoteLayer());
        EXPECT_EQ(*doc.noteLayer(), orientedNotes(notes, kWidth, kHeight, turn.orientation));
        // The file no longer tells other readers where its notes are: saving puts that right.
        EXPECT_EQ(doc.IsModified(), named != Orientation::Normal);
        const std::string repaired = dir.file(std::string("repaired.") + extension);
        ASSERT_EQ(doc.SaveImageByExtension(repaired), SavableWriterDocument::SaveOutcome::Saved);
        SavableWriterDocument again(prompt);
        ASSERT_TRUE(again.OnOpenDocument(repaired));
        EXPECT_EQ(again.foundSignature().orientation, Orientation::Normal);
        EXPECT_EQ(*again.noteLayer(), withoutMarkerPixels(*doc.noteLayer(), extension, again));
    }
}

// Rewritten as it is, a PNG gains a background colour and a gamma; a four-channel carrier would
// lose its alpha to the background and its low bits to the gamma.
TEST_P(TurnedByOtherPrograms, RewrittenUnturnedTheCarrierKeepsEveryNote)
{
    if (!haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const auto& [extension, depth] = GetParam();
    ASSERT_NO_FATAL_FAILURE(saveCarrier(extension, depth));
    const std::string rewritten = dir.file(std::string("rewritten.") + extension);
    ASSERT_EQ(runConvert(magickName(carrier, extension) + " -gamma 1.0 " +
                         magickName(rewritten, extension)),
              "");
    SavableWriterDocument doc(prompt);
    ASSERT_TRUE(doc.OnOpenDocument(rewritten)) << doc.lastOpenError();
    EXPECT_EQ(DibGetBitCount(doc.image()), bits);
    ASSERT_TRUE(doc.hasNoteLayer());
    EXPECT_EQ(*doc.noteLayer(), notes);
    EXPECT_FALSE(doc.IsModified());
}

// A photo tool that turns a picture by its orientation tag moves no pixel, but every program
// shows the picture turned, and so do ours: the notes are found where the turn puts them, and
// saving writes the upright picture with the marker in its place and no tag.
TEST_P(TurnedByOtherPrograms, TaggedTheNotesTurnWithThePicture)
{
    const auto& [extension, depth] = GetParam();
    if (extension != "png" && extension != "tif")
        GTEST_SKIP() << "only PNG and TIFF carriers carry an orientation tag";
    if (!haveExiftool())
        GTEST_SKIP() << "exiftool is not installed";
    ASSERT_NO_FATAL_FAILURE(saveCarrier(extension, depth));
    // EXIF orientations 2 to 8, named by what they do to the picture as stored.
    const Orientation kTagged[] = {Orientation::Mirrored, Orientation::Turned180,
                                   Orientation::Flipped,  Orientation::Transposed,
                                   Orientation::Turned90, Orientation::Transversed,
                                   Orientation::Turned270};
    for (int tag = 2; tag <= 8; ++tag) {
        SCOPED_TRACE("orientation tag " + std::to_string(tag));
        const std::string tagged = dir.file(std::string("tagged.") + extension);
        std::filesystem::copy_file(carrier, tagged,
                                   std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(tagOrientation({tagged}, tag), "");
        SavableWriterDocument doc(prompt);
        ASSERT_TRUE(doc.OnOpenDocument(tagged)) << doc.lastOpenError();
        const Orientation turn = kTagged[tag - 2];
        ASSERT_TRUE(doc.foundSignature().intact());
        EXPECT_EQ(doc.foundSignature().orientation, turn);
        ASSERT_TRUE(doc.hasNoteLayer());
        EXPECT_EQ(*doc.noteLayer(), orientedNotes(notes, kWidth, kHeight, turn));
        EXPECT_TRUE(doc.IsModified());
        const std::string saved = dir.file(std::string("saved.") + extension);
        ASSERT_EQ(doc.SaveImageByExtension(saved), SavableWriterDocument::SaveOutcome::Saved);
        const LoadedImage reopened = loadCheckedImage(saved);
        EXPECT_EQ(reopened.orientation, 1);
        EXPECT_EQ(reopened.signature.orientation, Orientation::Normal);
        EXPECT_EQ(DibGetWidth(reopened.image), doc.width());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCarrierFormat, TurnedByOtherPrograms,
                         ::testing::Combine(::testing::Values("png", "bmp", "tif", "rgb"),
                                            ::testing::Values(SaveDepth::Bits24,
                                                              SaveDepth::Alpha32)),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::get<0>(info.param) +
                                    (std::get<1>(info.param) == SaveDepth::Alpha32 ? "_32" : "_24");
                         });

} // namespace
} // namespace ombri::writer
