#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "support/dib_compare.h"
#include "support/other_user.h"
#include "support/status.h"
#include "support/stopped_save.h"
#include "support/test_support.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <tuple>

namespace ombri::writer {
using namespace ombri::test;
namespace {

uint8_t* pixel(Dib& dib, int32_t x, int32_t yFromTop)
{
    return const_cast<uint8_t*>(test::pixelAt(dib, x, yFromTop));
}

class WriterDocumentTest : public ::testing::Test {
  protected:
    // Stores the image under the name (PNG or BMP by its extension) and opens it.
    void open(const Dib& image, const std::string& name)
    {
        const std::string path = dir.file(name);
        ASSERT_TRUE(test::succeeded(FileExtension(name) == "png" ? WritePngFile(path, image)
                                                                 : WriteBmpFile(path, image)));
        ASSERT_TRUE(doc.OnOpenDocument(path)) << doc.lastOpenError();
    }
    void openPattern(int32_t width, int32_t height, uint16_t bitCount = 24)
    {
        ASSERT_NO_FATAL_FAILURE(open(test::makePatternImage(width, height, bitCount), "src.bmp"));
    }
    NoteLayer reopenedNotes(const std::string& path)
    {
        SavableWriterDocument reopened(prompt);
        EXPECT_TRUE(reopened.OnOpenDocument(path)) << reopened.lastOpenError();
        EXPECT_TRUE(reopened.hasNoteLayer());
        return reopened.hasNoteLayer() ? *reopened.noteLayer() : NoteLayer();
    }
    const ScriptedPrompt::Message& onlyMessage()
    {
        EXPECT_EQ(prompt.messages().size(), 1u);
        return prompt.messages().back();
    }

    test::TempDir dir;
    ScriptedPrompt prompt;
    SavableWriterDocument doc{prompt};
};

// Format, save depth, bit count of the opened picture, whether notes were drawn.
using RoundTrip = std::tuple<std::string, SaveDepth, uint16_t, bool>;

class SaveRoundTrip : public WriterDocumentTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(SaveRoundTrip, FileHoldsCarrierBytesAndNotesComeBack)
{
    const auto [extension, depth, bits, withNotes] = GetParam();
    const bool png = extension == "png";
    const int32_t w = 13, h = 7;
    const Dib source = test::makePatternImage(w, h, bits, 3);
    ASSERT_NO_FATAL_FAILURE(open(source, "src.bmp"));
    NoteLayer notes = test::makePatternNotes(w, h);
    for (int32_t x = 0; x < 8; ++x) // notes over both rows that can hold the signature
        notes[x] = notes[(h - 1) * w + x] = 1;
    if (withNotes)
        doc.MergeNotes(notes.data());
    doc.setSaveDepth(depth);
    const std::string target = dir.file("saved." + extension);
    ASSERT_TRUE(doc.OnSaveDocument(target)) << doc.lastSaveError();
    EXPECT_FALSE(doc.IsModified());
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_EQ(test::dibDifference(doc.image(), source), "") << "the document's image changed";

    const uint16_t depthBits = depth == SaveDepth::Alpha32 ? 32 : 24;
    const uint16_t outBits = !withNotes && png && depth == SaveDepth::Bits24 ? bits : depthBits;
    Dib expected = Dib::create(w, h, outBits);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* in = test::pixelAt(source, x, y);
            uint8_t* out = pixel(expected, x, y);
            std::memcpy(out, in, 3);
            if (outBits == 32)
                out[3] = bits == 32 ? in[3] : 255;
            uint8_t& carrier = outBits == 32 ? out[3] : out[0];
            if (withNotes)
                carrier = notes[(h - 1 - y) * w + x] == 1 ? carrier & 0xFE : carrier | 1;
        }
    }
    if (withNotes) { // BMP: bottom row; PNG: top row
        uint8_t* row = pixel(expected, 0, png ? 0 : h - 1);
        row[0] = 101;
        row[1] = 103;
        row[2] = 105;
        for (int k = 3; k < 23; ++k)
            row[k] |= 1;
        if (outBits == 32 && w > 6)
            row[24] &= 0xFE; // the blue byte just past the run of a 32-bit marker
    }
    auto saved = png ? ReadPngFile(target) : ReadBmpFile(target);
    ASSERT_TRUE(saved) << saved.error();
    EXPECT_EQ(test::dibDifference(saved.value(), expected), "");

    if (!withNotes) {
        SavableWriterDocument reopened(prompt);
        ASSERT_TRUE(reopened.OnOpenDocument(target));
        EXPECT_FALSE(reopened.hasNoteLayer());
        return;
    }
    // The signature's pixels come back plain: 8 of a 24-bit row, 5 of a 32-bit one.
    NoteLayer carried = notes;
    std::fill_n(carried.begin() + (png ? h - 1 : 0) * w, outBits == 24 ? 8 : 5, 0);
    EXPECT_EQ(reopenedNotes(target), carried);
}

INSTANTIATE_TEST_SUITE_P(
    FormatsDepthsAndSources, SaveRoundTrip,
    ::testing::Combine(::testing::Values("bmp", "png"),
                       ::testing::Values(SaveDepth::Alpha32, SaveDepth::Bits24),
                       ::testing::Values(uint16_t{24}, uint16_t{32}), ::testing::Bool()),
    [](const ::testing::TestParamInfo<RoundTrip>& info) {
        return std::get<0>(info.param) + "_depth" +
               std::to_string(static_cast<int>(std::get<1>(info.param))) + "_from" +
               std::to_string(std::get<2>(info.param)) +
               (std::get<3>(info.param) ? "_notes" : "_plain");
    });

TEST_F(WriterDocumentTest, EmptyNoteLayerStillMakesADetectableCarrier)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(9, 3));
    doc.MergeNotes(NoteLayer(27, 0).data());
    ASSERT_TRUE(doc.OnSaveDocument(dir.file("empty.bmp")));
    EXPECT_EQ(reopenedNotes(dir.file("empty.bmp")), NoteLayer(27, 0));
}

// A row of fewer than 23 pixel bytes has no room for the signature: notes saved there could never
// be found again, so the user is asked first, as for JPEG.
TEST_F(WriterDocumentTest, NotesThePictureIsTooNarrowToCarryAreLostOnlyWhenTheUserAgrees)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(7, 3)); // 21 pixel bytes a row at 24 bits
    doc.MergeNotes(NoteLayer(21, 1).data());
    doc.setSaveDepth(SaveDepth::Bits24);
    for (const char* name : {"narrow.bmp", "narrow.png", "narrow.tif", "narrow.rgb"}) {
        prompt.clear();
        prompt.queueAnswer(Answer::No);
        EXPECT_EQ(doc.SaveImageByExtension(dir.file(name)),
                  SavableWriterDocument::SaveOutcome::Declined);
        ASSERT_EQ(prompt.messages().size(), 1u) << name;
        EXPECT_EQ(prompt.messages()[0].text.rfind("The notes cannot be kept in this picture: it is "
                                                  "7 pixels wide, and a picture needs at least 8",
                                                  0),
                  0u)
            << prompt.messages()[0].text;
        EXPECT_EQ(prompt.messages()[0].buttons, Buttons::YesNo);
        EXPECT_FALSE(test::fileExists(dir.file(name))) << name;
        EXPECT_TRUE(doc.IsModified());
    }
    // The notes now exist only in the document, which stays changed.
    EXPECT_FALSE(doc.savingKeepsNotes(dir.file("narrow.bmp")));
    EXPECT_TRUE(doc.savingKeepsNotes(dir.file("narrow.dpx")));
    prompt.queueAnswer(Answer::Yes);
    ASSERT_EQ(doc.SaveImageByExtension(dir.file("narrow.bmp")),
              SavableWriterDocument::SaveOutcome::Saved);
    EXPECT_TRUE(doc.IsModified());
    SavableWriterDocument reopened(prompt);
    ASSERT_TRUE(reopened.OnOpenDocument(dir.file("narrow.bmp")));
    EXPECT_FALSE(reopened.hasNoteLayer());

    // Wide enough at 32 bits (six 4-byte pixels), and DPX carries notes without a signature.
    prompt.clear();
    ASSERT_NO_FATAL_FAILURE(openPattern(6, 3));
    doc.MergeNotes(NoteLayer(18, 1).data());
    doc.setSaveDepth(SaveDepth::Alpha32);
    EXPECT_EQ(doc.SaveImageByExtension(dir.file("six.png")),
              SavableWriterDocument::SaveOutcome::Saved);
    EXPECT_FALSE(doc.IsModified());
    NoteLayer kept(18, 1);
    std::fill(kept.begin() + 12, kept.begin() + 17, 0); // under the signature of the top row
    EXPECT_EQ(reopenedNotes(dir.file("six.png")), kept);
    ASSERT_NO_FATAL_FAILURE(openPattern(5, 2));
    doc.MergeNotes(NoteLayer(10, 1).data());
    EXPECT_EQ(doc.SaveImageByExtension(dir.file("five.dpx")),
              SavableWriterDocument::SaveOutcome::Saved);
    EXPECT_EQ(reopenedNotes(dir.file("five.dpx")), NoteLayer(10, 1));
    EXPECT_TRUE(prompt.messages().empty());
}

// The marker of a four-channel SGI file lies in its colour planes; a note in the alpha byte of
// one of the first pixels must not hide it, or every note of the picture is lost on reopening.
TEST_F(WriterDocumentTest, NotesOnTheFirstPixelsOfAFourChannelSgiSurviveReopening)
{
    const int32_t w = 12, h = 4;
    ASSERT_NO_FATAL_FAILURE(openPattern(w, h, 32));
    NoteLayer notes(w * h, 0);
    for (int32_t x = 0; x < 8; ++x)
        notes[(h - 1) * w + x] = 1; // the top row, under the marker
    notes[5] = 1;
    doc.MergeNotes(notes.data());
    doc.setSaveDepth(SaveDepth::Alpha32);
    ASSERT_TRUE(doc.OnSaveDocument(dir.file("four.rgb")));
    EXPECT_EQ(reopenedNotes(dir.file("four.rgb")), notes);
}

TEST_F(WriterDocumentTest, ErasedNotesArePlainInTheNextSave)
{
    const int32_t w = 12, h = 5;
    ASSERT_NO_FATAL_FAILURE(openPattern(w, h, 32));
    doc.MergeNotes(NoteLayer(w * h, 1).data());
    ASSERT_TRUE(doc.OnSaveDocument(dir.file("carrier.png")));

    ASSERT_TRUE(doc.OnOpenDocument(dir.file("carrier.png")));
    NoteLayer keepRight(w * h, 1);
    for (int32_t i = 0; i < w * h; ++i)
        keepRight[i] = i % w >= 6;
    doc.RestrictNotes(keepRight.data());
    EXPECT_TRUE(doc.IsModified());
    ASSERT_TRUE(doc.OnSaveDocument(dir.file("erased.png")));
    EXPECT_EQ(reopenedNotes(dir.file("erased.png")), keepRight);
}

TEST_F(WriterDocumentTest, PaletteImageWithNotesIsWidenedSoItsNotesAreCarried)
{
    const int32_t w = 9, h = 3; // rows of 9 index bytes padded to 12
    std::vector<uint8_t> file(14 + 40 + 8 + 12 * h, 0);
    file[0] = 'B';
    file[1] = 'M';
    writeLe32(&file[10], 62);
    auto header = DibMakeHeader(w, h, 8, 0);
    std::memcpy(&file[14], header.data(), header.size());
    writeLe32(&file[14 + 32], 2);
    const uint8_t table[8] = {0x41, 0x42, 0x43, 0, 0x10, 0x21, 0x30, 0};
    std::memcpy(&file[54], table, 8);
    for (int32_t i = 0; i < 12 * h; ++i)
        file[62 + i] = static_cast<uint8_t>(i % 12 < w ? i % 2 : 0);
    test::writeFileBytes(dir.file("palette.bmp"), file);
    ASSERT_TRUE(doc.OnOpenDocument(dir.file("palette.bmp"))) << doc.lastOpenError();

    doc.MergeNotes(NoteLayer(w * h, 1).data());
    doc.setSaveDepth(SaveDepth::Bits24);
    ASSERT_TRUE(doc.OnSaveDocument(dir.file("wide.bmp"))) << doc.lastSaveError();
    auto saved = ReadBmpFile(dir.file("wide.bmp"));
    ASSERT_TRUE(saved);
    ASSERT_EQ(DibGetBitCount(saved.value()), 24);
    for (int32_t x = 0; x < w; ++x) { // the top row, away from the signature
        const uint8_t* colour = table + 4 * (x % 2);
        const uint8_t* p = test::pixelAt(saved.value(), x, 0);
        EXPECT_EQ(std::vector<uint8_t>(p, p + 3),
                  (std::vector<uint8_t>{uint8_t(colour[0] & 0xFE), colour[1], colour[2]}))
            << x;
    }
    NoteLayer carried(w * h, 1);
    std::fill_n(carried.begin(), 8, 0);
    EXPECT_EQ(reopenedNotes(dir.file("wide.bmp")), carried);
}

TEST_F(WriterDocumentTest, FailedSaveWarnsAndKeepsDocumentModified)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(12, 4));
    doc.MergeNotes(NoteLayer(48, 1).data());
    const std::string missingFolder = dir.file("none/a.png");
    std::filesystem::create_directory(dir.file("taken.bmp"));
    for (const std::string& target : {missingFolder, dir.file("taken.bmp")}) {
        prompt.clear();
        EXPECT_FALSE(doc.OnSaveDocument(target));
        const auto& message = onlyMessage();
        EXPECT_EQ(message.text.rfind("Could not save the image to " + target + ".", 0), 0u)
            << message.text;
        EXPECT_EQ(message.caption, "Warning");
        EXPECT_TRUE(doc.IsModified());
    }
    prompt.queueSavePath(missingFolder);
    EXPECT_FALSE(doc.SaveAsLossless());
    EXPECT_EQ(doc.getPathName(), dir.file("src.bmp"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.bmp")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A picture the user may not write, opened and drawn on: File Save warns with the system's
// reason, the notes stay unsaved and the file as it was. So does a save onto a FIFO. As root may
// write any file, the user is another one when the tests run as root.
TEST(WriterDocumentRefusedSave, WarnsAndKeepsTheDocumentModified)
{
    test::TempDir dir;
    const std::string folder = test::folderForOtherUser(dir.path(), "own");
    const std::string readOnly = folder + "/read-only.png", fifo = folder + "/fifo.png";
    ASSERT_TRUE(test::succeeded(WritePngFile(readOnly, test::makePatternImage(12, 4, 24))));
    test::giveToOtherUser(readOnly);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    test::giveToOtherUser(fifo);
    const auto bytes = test::readFileBytes(readOnly);
    const std::string failures = test::checkInChild(test::RunAs::OtherUser, [&] {
        ScriptedPrompt prompt;
        SavableWriterDocument doc(prompt);
        if (!doc.OnOpenDocument(readOnly))
            return "cannot open: " + doc.lastOpenError();
        doc.MergeNotes(NoteLayer(48, 1).data());
        std::string found;
        const auto expectWarning = [&](const std::string& target, const std::string& reason) {
            const std::string expected = "Could not save the image to " + target + ".\n" + reason;
            if (prompt.messages().size() != 1 || prompt.messages()[0].text != expected ||
                prompt.messages()[0].caption != "Warning")
                found += "no warning \"" + expected + "\"\n";
            if (!doc.IsModified())
                found += "the document is no longer modified after " + target + "\n";
            prompt.clear();
        };
        if (doc.SaveImage())
            found += "File Save succeeded\n";
        expectWarning(readOnly, "Permission denied");
        if (doc.OnSaveDocument(fifo))
            found += "the FIFO was saved to\n";
        expectWarning(fifo, fifo + " is not a regular file");
        return found;
    });
    EXPECT_EQ(failures, "");
    EXPECT_EQ(test::readFileBytes(readOnly), bytes);
    EXPECT_EQ(test::folderEntries(folder), (std::vector<std::string>{"fifo.png", "read-only.png"}));
}

TEST_F(WriterDocumentTest, NamesOfNoSavableKindAreRefused)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(4, 4));
    doc.MergeNotes(NoteLayer(16, 1).data());
    for (const char* name : {"photo.gif", "photo.txt", "png", "photo"}) {
        prompt.clear();
        EXPECT_FALSE(doc.OnSaveDocument(dir.file(name)));
        const auto& message = onlyMessage();
        EXPECT_EQ(message.buttons, Buttons::Ok) << name; // not the JPEG question
        EXPECT_NE(message.text.find(".png"), std::string::npos) << message.text;
        EXPECT_EQ(message.caption, "Warning");
        EXPECT_TRUE(doc.IsModified());
        EXPECT_FALSE(test::fileExists(dir.file(name)));
    }
}

// File Save of a picture opened from a kind the writer only reads goes to the save dialog, which
// offers the picture's own name as a PNG in its folder; the file read is never written.
TEST_F(WriterDocumentTest, FileSaveOfAReadOnlyKindAsksForANewName)
{
    ASSERT_TRUE(
        test::succeeded(WritePngFile(dir.file("src.png"), test::makePatternImage(9, 7, 24))));
    ASSERT_EQ(
        test::runCommand("convert '" + dir.file("src.png") + "' '" + dir.file("photo.gif") + "'"),
        "");
    ASSERT_TRUE(doc.OnOpenDocument(dir.file("photo.gif"))) << doc.lastOpenError();
    const auto gifBytes = test::readFileBytes(dir.file("photo.gif"));
    NoteLayer notes(9 * 7, 0);
    notes[12] = 1;
    doc.MergeNotes(notes.data());

    // Cancelled: nothing is written and the changes stay.
    EXPECT_FALSE(doc.SaveImage());
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(test::readFileBytes(dir.file("photo.gif")), gifBytes);

    prompt.queueSavePath(dir.file("photo.png"));
    ASSERT_TRUE(doc.SaveImage());
    EXPECT_TRUE(prompt.messages().empty());
    ASSERT_FALSE(prompt.saveDialogs().empty());
    EXPECT_EQ(prompt.saveDialogs().back().defaultName, "photo");
    EXPECT_EQ(prompt.saveDialogs().back().defaultExtension, "png");
    EXPECT_EQ(prompt.saveDialogs().back().folder, dir.path());
    EXPECT_EQ(doc.savePath(), dir.file("photo.png"));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(reopenedNotes(dir.file("photo.png")), notes);
    EXPECT_EQ(test::readFileBytes(dir.file("photo.gif")), gifBytes);
}

TEST_F(WriterDocumentTest, JpegNameAsksFirstAndNoWritesNothing)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(4, 4));
    doc.MergeNotes(NoteLayer(16, 1).data());
    EXPECT_FALSE(doc.OnSaveDocument(dir.file("x.jpg"))); // the script answers No
    const auto& question = onlyMessage();
    EXPECT_EQ(question.text, " For this version, JPEG format does not support OMBRI-image.\n The "
                             "messages would be lost. \n Save it?");
    EXPECT_EQ(question.caption, "Warning");
    EXPECT_EQ(question.buttons, Buttons::YesNo);
    EXPECT_EQ(question.icon, Icon::Warning);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.saveDepth(), SaveDepth::Alpha32);
    EXPECT_FALSE(test::fileExists(dir.file("x.jpg")));

    // Yes writes the picture alone: its notes are still only in the document, which stays
    // changed. Without a note there is nothing to lose.
    prompt.queueAnswer(Answer::Yes);
    EXPECT_TRUE(doc.OnSaveDocument(dir.file("x.JPG")));
    EXPECT_EQ(doc.saveDepth(), SaveDepth::Bits24);
    EXPECT_TRUE(doc.IsModified());
    doc.ClearNotes();
    prompt.queueAnswer(Answer::Yes);
    EXPECT_TRUE(doc.OnSaveDocument(dir.file("x.JPG")));
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(WriterDocumentTest, SaveAsCommandsSetSaveDepthEvenWhenCancelled)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(4, 4));
    struct Case {
        SaveDepth start;
        bool notes, compressed;
        SaveDepth after;
    };
    const Case cases[] = {
        {SaveDepth::Alpha32, false, false, SaveDepth::Alpha32},
        {SaveDepth::Bits24, false, false, SaveDepth::Bits24}, // as after opening a JPEG
        {SaveDepth::Bits24, true, false, SaveDepth::Alpha32},
        {SaveDepth::Alpha32, false, true, SaveDepth::Bits24},
        {SaveDepth::Alpha32, true, true, SaveDepth::Bits24},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(doc.OnOpenDocument(dir.file("src.bmp")));
        doc.setSaveDepth(c.start);
        if (c.notes)
            doc.GetNoteLayer();
        EXPECT_FALSE(c.compressed ? doc.SaveAsCompressed() : doc.SaveAsLossless());
        EXPECT_EQ(doc.saveDepth(), c.after) << int(c.start) << c.notes << c.compressed;
    }
    ASSERT_EQ(prompt.saveDialogs().size(), std::size(cases));
    // The picture's own name and folder; the extension follows the format chosen.
    EXPECT_EQ(prompt.saveDialogs()[0].defaultName, "src");
    EXPECT_EQ(prompt.saveDialogs()[0].defaultExtension, "png");
    EXPECT_EQ(prompt.saveDialogs()[0].folder, dir.path());
    // Without a file the dialog offers "image" wherever it starts.
    doc.clearPathName();
    EXPECT_FALSE(doc.SaveAsLossless());
    EXPECT_EQ(prompt.saveDialogs().back().defaultName, "image");
    EXPECT_EQ(prompt.saveDialogs().back().folder, "");
}

// After Save As the document is the new file: the title, the recent files and File Save agree.
// A Save As that wrote nothing keeps the old file, title and modified flag.
TEST_F(WriterDocumentTest, FileSaveAfterSaveAsWritesTheNewFile)
{
    const int32_t w = 8, h = 3;
    ASSERT_NO_FATAL_FAILURE(open(test::makePatternImage(w, h, 24), "first.png"));
    const auto firstBytes = test::readFileBytes(dir.file("first.png"));
    NoteLayer notes(w * h, 0);
    notes[w + 2] = 1;
    doc.MergeNotes(notes.data());
    prompt.queueSavePath(dir.file("second.bmp"));
    ASSERT_TRUE(doc.SaveAsCompressed());
    EXPECT_EQ(doc.getPathName(), dir.file("second.bmp"));
    EXPECT_EQ(doc.savePath(), dir.file("second.bmp"));
    EXPECT_EQ(doc.recentFiles().entries().front(), dir.file("second.bmp"));

    notes[w + 3] = 1;
    doc.MergeNotes(notes.data());
    ASSERT_TRUE(doc.SaveImage());
    EXPECT_EQ(test::readFileBytes(dir.file("first.png")), firstBytes);
    EXPECT_EQ(reopenedNotes(dir.file("second.bmp")), notes);

    notes[w + 4] = 1;
    doc.MergeNotes(notes.data());
    prompt.queueSavePath(dir.file("third.jpg"));
    prompt.queueAnswer(Answer::No); // the JPEG question
    EXPECT_FALSE(doc.SaveAsLossless());
    EXPECT_FALSE(test::fileExists(dir.file("third.jpg")));
    EXPECT_EQ(doc.getPathName(), dir.file("second.bmp"));
    EXPECT_EQ(doc.savePath(), dir.file("second.bmp"));
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(WriterDocumentTest, FileSaveOfUnmodifiedDocumentWritesNothing)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(4, 4));
    std::filesystem::remove(dir.file("src.bmp"));
    doc.SaveImage();
    EXPECT_FALSE(test::fileExists(dir.file("src.bmp")));
    EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(WriterDocumentTest, ClearNotesForcesCarriersOddAndCloseEmpties)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(5, 3));
    doc.MergeNotes(NoteLayer(15, 1).data());
    doc.SetModified(false);
    doc.ClearNotes();
    EXPECT_FALSE(doc.hasNoteLayer());
    EXPECT_TRUE(doc.IsModified());
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(test::pixelAt(doc.image(), x, y)[0] % 2, 1) << x << "," << y;

    doc.CloseImage();
    EXPECT_FALSE(doc.hasImage());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.width(), 0);
    EXPECT_EQ(doc.height(), 0);
    EXPECT_EQ(doc.savePath(), "");
    EXPECT_EQ(doc.getPathName(), "");
    doc.ClearNotes();
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(WriterDocumentTest, MergeAddsNotesAndRestrictOnlyRemovesThem)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(4, 2));
    const uint8_t merge[8] = {1, 1, 0, 0, 2, 0, 0, 0};
    doc.MergeNotes(merge);
    EXPECT_EQ(*doc.noteLayer(), (NoteLayer{1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(doc.IsModified());
    doc.SetModified(false);
    const uint8_t keep[8] = {1, 0, 1, 0, 1, 1, 1, 1};
    doc.RestrictNotes(keep);
    EXPECT_EQ(*doc.noteLayer(), (NoteLayer{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(WriterDocumentTest, DisplayImagePaintsNotesAndFollowsColourAndNotes)
{
    for (uint16_t bits : {24, 32}) {
        const Dib source = test::makePatternImage(3, 2, bits);
        ASSERT_NO_FATAL_FAILURE(open(source, "display.bmp"));
        doc.setNoteColour(WriterDocument::kDefaultNoteColour);
        const uint8_t first[6] = {1, 0, 0, 0, 0, 0}; // bottom-left pixel
        doc.MergeNotes(first);
        auto pixelBytes = [&](int32_t x, int32_t y) {
            const uint8_t* p = test::pixelAt(doc.GetDisplayImage(), x, y);
            return std::vector<uint8_t>(p, p + bits / 8);
        };
        std::vector<uint8_t> blue = {255, 0, 0}, red = {0, 0, 255};
        if (bits == 32) {
            blue.push_back(255);
            red.push_back(255);
        }
        EXPECT_EQ(pixelBytes(0, 1), blue);
        doc.setNoteColour(Rgb{255, 0, 0});
        EXPECT_EQ(pixelBytes(0, 1), red);
        const uint8_t second[6] = {0, 1, 0, 0, 0, 0};
        doc.MergeNotes(second);
        EXPECT_EQ(pixelBytes(1, 1), red);
        const uint8_t* plain = test::pixelAt(source, 2, 0);
        EXPECT_EQ(pixelBytes(2, 0), std::vector<uint8_t>(plain, plain + bits / 8));
        EXPECT_EQ(test::dibDifference(doc.image(), source), "");
    }
}

// The file is read and checked before the document lets go of its picture.
TEST_F(WriterDocumentTest, UnreadableFileIsReportedAndLeavesTheDocumentAsItWas)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(4, 4));
    doc.MergeNotes(NoteLayer(16, 1).data());
    const NoteLayer notes = *doc.noteLayer();
    const uint64_t picture = doc.pictureGeneration();
    test::writeFileBytes(dir.file("bad.bmp"), {'B', 'M', 1, 2, 3});
    EXPECT_FALSE(doc.OnOpenDocument(dir.file("bad.bmp")));
    ASSERT_EQ(prompt.openFailures().size(), 1u);
    EXPECT_EQ(prompt.openFailures()[0].path, dir.file("bad.bmp"));
    EXPECT_FALSE(doc.lastOpenError().empty());
    EXPECT_EQ(doc.pictureGeneration(), picture);
    EXPECT_EQ(doc.width(), 4);
    EXPECT_EQ(doc.noteLayer(), notes);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.getPathName(), dir.file("src.bmp"));
    EXPECT_EQ(doc.savePath(), dir.file("src.bmp"));
}

TEST_F(WriterDocumentTest, TopDownBmpOpensWithoutAWord)
{
    ASSERT_NO_FATAL_FAILURE(openPattern(2, 100));
    auto file = test::readFileBytes(dir.file("src.bmp"));
    writeLe32(&file[22], static_cast<uint32_t>(-100));
    test::writeFileBytes(dir.file("topdown.bmp"), file);
    EXPECT_TRUE(doc.OnOpenDocument(dir.file("topdown.bmp")));
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_TRUE(prompt.openFailures().empty());
    EXPECT_EQ(doc.height(), 100);
    EXPECT_EQ(doc.getPathName(), dir.file("topdown.bmp"));
}

} // namespace
} // namespace ombri::writer
