#include "cli/commands.h"
#include "cli/terminal_prompt.h"
#include "cli_fixture.h"
#include "core/bytes.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/stopped_save.h"
#include "support/test_support.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace ombri::cli {

using writer::SavableWriterDocument;
namespace {

using namespace test_cli;

using CliInfoTest = CliFilesTest;
using CliEmbedTest = CliFilesTest;
using CliNotesTest = CliFilesTest;
using CliClearTest = CliFilesTest;
using CliJpegTest = CliFilesTest;
using CliSaveFailureTest = CliFilesTest;
using CliInputTest = CliFilesTest;

TEST(CliTerminalPromptTest, PrintsOneLinePerMessageAndAnswersThePresetAnswer)
{
    std::ostringstream err;
    TerminalPrompt prompt(err, Answer::Yes);
    prompt.tell("Could not save the image to a.png.\n  disk full \n", "Warning", Icon::Warning);
    EXPECT_EQ(prompt.ask(" Lose them?\n Save it?", "Warning", Buttons::YesNo, Icon::Warning),
              Answer::Yes);
    prompt.reportOpenFailure("x.bmp", "bad header");
    EXPECT_EQ(err.str(), "ombri: Could not save the image to a.png. disk full\n"
                         "ombri: Lose them? Save it?\n"
                         "ombri: cannot read 'x.bmp': bad header\n");
    EXPECT_EQ(prompt.openFailureCount(), 1u);
    EXPECT_FALSE(prompt.chooseSavePath(SaveDialogRequest{}));
}

struct UsageCase {
    std::vector<std::string> arguments;
    std::string message;
};

TEST(CliUsageTest, BadCommandLinesExitOneWithAHint)
{
    const UsageCase cases[] = {
        {{}, "missing command"},
        {{"frob"}, "unknown command 'frob'"},
        {{"--frob"}, "unknown option '--frob'"},
        {{"frob"}, "(the commands are info, notes, embed, convert, repair, clear, render)"},
        {{"info"}, "info: missing PATH"},
        {{"embed", "a.bmp", "-o", "c.png"}, "embed: missing MASK"},
        {{"convert", "a.png", "b.png", "-r"}, "convert: unknown option '-r'"},
        {{"info", "--json=yes", "a.png"}, "info: unknown option '--json=yes'"},
        {{"notes", "a.png", "-o", "b.png", "--output", "c.png"}, "two outputs given"},
        // Output names are judged before the input is looked at, so a.png need not exist.
        {{"convert", "a.png", "b.xyz"},
         "cannot write 'b.xyz': ombri cannot save that kind of "
         "file; choose a name ending in one of .png, .bmp"},
        {{"notes", "a.png"}, "notes: missing -o OUT"},
        {{"embed", "a.bmp", "b.png", "-o"}, "option '-o' needs a value"},
        {{"embed", "a.bmp", "b.png", "-o", "c.png", "--depth", "16"}, "bad --depth value '16'"},
        {{"convert", "a.bmp", "b.png", "--depth="}, "option '--depth' needs a value"},
        {{"info", "--depth", "24", "a.png"}, "info: unknown option '--depth'"},
        {{"info", "-j", "0", "a.png"},
         "info: bad -j value '0': use a number of files from 1 to 256"},
        {{"info", "-j257", "a.png"}, "info: bad -j value '257'"},
        {{"info", "--jobs=two", "a.png"}, "info: bad --jobs value 'two'"},
        {{"info", "a.png", "--jobs", "-3"}, "info: bad --jobs value '-3'"},
        {{"info", "a.png", "-j"}, "option '-j' needs a value"},
        {{"convert", "a.png", "b.png", "-j", "2"}, "convert: unknown option '-j'"},
        {{"clear", "a.png", "-o", "b.png", "--lossy"}, "clear: unknown option '--lossy'"},
        {{"repair", "a.png"}, "repair: missing -o OUT"},
        {{"repair", "a.png", "-o", "b.png", "--lossy"}, "repair: unknown option '--lossy'"},
        {{"convert", "a.png", "b.png", "c.png"}, "convert: too many arguments"},
        {{"notes", "a.png", "-o", "mask.bmp"}, "written as PNG"},
    };
    for (const auto& usage : cases) {
        const RunResult result = ombri(usage.arguments);
        SCOPED_TRACE(usage.message);
        EXPECT_EQ(result.code, code(Exit::Usage));
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("ombri: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(usage.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("\nTry 'ombri --help'.\n"), std::string::npos);
    }
}

TEST(CliUsageTest, HelpAndVersionGoToStandardOutput)
{
    EXPECT_EQ(ombri({"--version"}).out, "ombri 0.1.0\n");
    const RunResult tool = ombri({"--help"});
    EXPECT_EQ(tool.code, 0);
    EXPECT_EQ(tool.out.rfind("Usage: ombri COMMAND", 0), 0u);
    // Asked for after a mistake, help still wins.
    const RunResult embed = ombri({"embed", "x.bmp", "--bogus", "--help"});
    EXPECT_EQ(embed.code, 0);
    EXPECT_EQ(embed.out.rfind("Usage: ombri embed IMAGE MASK -o OUT", 0), 0u);
    EXPECT_EQ(embed.err, "");
}

// The help of info lists what the format table reads, every spelling of every format.
TEST(CliUsageTest, InfoHelpListsEveryExtensionRead)
{
    const RunResult info = ombri({"info", "--help"});
    EXPECT_EQ(info.code, 0);
    for (const ImageFormat* format : imageFormats()) {
        for (const auto& extension : extensionsOf(*format)) {
            const bool listed = info.out.find(" " + extension + ",") != std::string::npos ||
                                info.out.find(" " + extension + " or ") != std::string::npos ||
                                info.out.find(" " + extension + ".") != std::string::npos;
            EXPECT_TRUE(listed) << extension << " in\n" << info.out;
        }
    }
}

TEST(CliUsageTest, DoubleDashEndsTheOptions)
{
    const RunResult result = ombri({"info", "--", "--help"});
    EXPECT_EQ(result.code, code(Exit::BadInput));
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("cannot read '--help'"), std::string::npos) << result.err;
}

TEST_F(CliInfoTest, PrintsOneBlockPerReadableFileAndReportsTheOthers)
{
    const std::string plain = plainPicture("plain.bmp");
    const std::string noted = notedPicture("noted.png", 3);
    const std::string missing = file("missing.png");

    const RunResult result = ombri({"info", plain, missing, noted});
    EXPECT_EQ(result.code, code(Exit::BadInput));
    EXPECT_EQ(result.out, "file: " + plain +
                              "\nformat: BMP\nsize: 47x33\nbits: 24\nnotes: no\n"
                              "note-pixels: 0\nsignature: none\n\nfile: " +
                              noted +
                              "\nformat: PNG\nsize: 47x33\n"
                              "bits: 32\nnotes: yes\nnote-pixels: " +
                              std::to_string(countNotePixels(roundTripNotes(3))) +
                              "\nsignature: intact\ncarrier: alpha\norientation: normal\n");
    EXPECT_EQ(result.err,
              "ombri: cannot read '" + missing +
                  "': No such file or directory\n3 images, 1 with notes, 1 unreadable\n");
    // One file alone needs no summary.
    EXPECT_EQ(ombri({"info", plain}).err, "");
}

TEST_F(CliInfoTest, AnImpossibleSizeIsReportedAsUnreadable)
{
    const std::string path = picture("impossible.bmp", test::makePatternImage(8, 4, 24));
    auto bytes = test::readFileBytes(path);
    writeLe32(bytes.data() + 22, 0x80000000u); // a height with no positive counterpart
    test::writeFileBytes(path, bytes);
    const RunResult result = ombri({"info", path});
    EXPECT_EQ(result.code, code(Exit::BadInput));
    EXPECT_NE(result.err.find("ombri: cannot read '" + path + "': "), std::string::npos);
}

struct Carrier {
    const char* extension;
    const char* depth;
};

void PrintTo(const Carrier& carrier, std::ostream* out)
{
    *out << carrier.extension << carrier.depth;
}

// The note layer travels from a mask picture into the pixels of a saved file and back out as
// a grey PNG, unchanged and the right way up, for every carrier.
class CliRoundTripTest : public CliFilesTest, public testing::WithParamInterface<Carrier> {};

TEST_P(CliRoundTripTest, MaskInNotesOutAreEqual)
{
    const auto [extension, depth] = GetParam();
    const NoteLayer notes = roundTripNotes(5);
    const std::string out = file(std::string("out.") + extension);
    const std::string back = file("back.png");

    ASSERT_EQ(ombri({"embed", "-o", out, plainPicture("image.bmp"), "--depth", depth,
                     mask("mask.png", notes)})
                  .code,
              0);
    const RunResult info = ombri({"info", out});
    EXPECT_NE(info.out.find(std::string("bits: ") + depth + "\n"), std::string::npos);
    EXPECT_NE(info.out.find("note-pixels: " + std::to_string(countNotePixels(notes)) + "\n"),
              std::string::npos);
    ASSERT_EQ(ombri({"notes", out, "-o", back}).code, 0);

    const auto bytes = test::readFileBytes(back);
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[24], 8); // bit depth
    EXPECT_EQ(bytes[25], 0); // colour type: grey
    auto grey = ReadPngFile(back);
    ASSERT_TRUE(grey) << grey.error();
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t expected = notes[(kHeight - 1 - y) * kWidth + x] == 1 ? 0 : 255;
            ASSERT_EQ(test::pixelAt(grey.value(), x, y)[0], expected) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CliCarriers, CliRoundTripTest,
                         testing::Values(Carrier{"png", "24"}, Carrier{"png", "32"},
                                         Carrier{"bmp", "24"}, Carrier{"bmp", "32"}),
                         [](const testing::TestParamInfo<Carrier>& info) {
                             return std::string(info.param.extension) + info.param.depth;
                         });

TEST_F(CliEmbedTest, AddsToTheNotesTheImageAlreadyHas)
{
    const std::string twice = file("twice.png");
    ASSERT_EQ(ombri({"embed", notedPicture("once.png", 11), mask("more.png", roundTripNotes(12)),
                     "-o", twice})
                  .code,
              0);
    NoteLayer both = roundTripNotes(11);
    const NoteLayer second = roundTripNotes(12);
    for (size_t i = 0; i < both.size(); ++i)
        both[i] |= second[i];
    EXPECT_EQ(notesIn(twice), both);
}

// Dark means an average of the three colours below 128; with an alpha channel the pixel must
// also be at least half opaque.
TEST_F(CliEmbedTest, DarkOpaqueMaskPixelsBecomeNotes)
{
    struct MaskPixel {
        uint8_t blue, green, red, alpha;
        uint8_t note;
    };
    const MaskPixel row[] = {
        {127, 127, 127, 255, 1}, {128, 128, 128, 255, 0}, {0, 0, 255, 255, 1},
        {0, 0, 0, 127, 0},       {0, 0, 0, 128, 1},       {255, 255, 255, 255, 0},
    };
    Dib maskDib = Dib::create(kWidth, kHeight, 32);
    auto layout = dibGetLayout(maskDib);
    std::fill(maskDib.data() + layout->pixelOffset, maskDib.data() + maskDib.size(), 255);
    NoteLayer expected(kWidth * kHeight, 0);
    for (size_t x = 0; x < std::size(row); ++x) {
        uint8_t* pixel = maskDib.data() + layout->pixelOffset + 2 * layout->stride + 4 * x;
        pixel[0] = row[x].blue;
        pixel[1] = row[x].green;
        pixel[2] = row[x].red;
        pixel[3] = row[x].alpha;
        expected[2 * kWidth + x] = row[x].note;
    }
    const std::string out = file("out.png");
    ASSERT_EQ(
        ombri({"embed", plainPicture("image.png"), picture("mask.png", maskDib), "-o", out}).code,
        0);
    EXPECT_EQ(notesIn(out), expected);
}

TEST_F(CliEmbedTest, RefusesUnusableMasks)
{
    const std::string image = plainPicture("image.bmp");
    const std::string small = picture("small.png", test::makePatternImage(10, 8, 24));
    const std::string garbage = file("garbage.png");
    test::writeFileBytes(garbage, {1, 2, 3, 4});
    const std::string out = file("out.png");

    const RunResult mismatch = ombri({"embed", image, small, "-o", out});
    EXPECT_EQ(mismatch.code, code(Exit::BadInput));
    EXPECT_EQ(mismatch.err,
              "ombri: the mask '" + small +
                  "' is 10x8 pixels but the image is 47x33; give a mask of the image's size\n");
    const RunResult unreadable = ombri({"embed", image, garbage, "-o", out});
    EXPECT_EQ(unreadable.code, code(Exit::BadInput));
    EXPECT_EQ(unreadable.err, "ombri: cannot read '" + garbage + "': not a PNG file\n");
    EXPECT_FALSE(test::fileExists(out));
}

TEST_F(CliNotesTest, APlainImageHasNoNotesToWrite)
{
    const std::string plain = plainPicture("plain.png");
    const RunResult result = ombri({"notes", plain, "-o", file("mask.png")});
    EXPECT_EQ(result.code, code(Exit::NoNotes));
    EXPECT_EQ(result.err, "ombri: '" + plain + "' carries no notes\n");
    EXPECT_FALSE(test::fileExists(file("mask.png")));
}

TEST_F(CliClearTest, TheClearedCopyCarriesNoNotes)
{
    const std::string cleared = file("cleared.png");
    ASSERT_EQ(ombri({"clear", notedPicture("noted.bmp", 9), "-o", cleared, "--depth", "24"}).code,
              0);
    EXPECT_NE(ombri({"info", cleared}).out.find("notes: no\n"), std::string::npos);
    EXPECT_EQ(ombri({"notes", cleared, "-o", file("m.png")}).code, code(Exit::NoNotes));
}

// JPEG files lose the notes: that needs --lossy, and is refused before anything is written.
TEST_F(CliJpegTest, NotesReachJpegOnlyWithLossy)
{
    const std::string noted = notedPicture("noted.png", 2), jpeg = file("out.jpg");
    test::writeFileBytes(jpeg, {'o', 'l', 'd'});

    const std::string refusal =
        "ombri: " + jpeg +
        " cannot carry notes: JPEG files lose them (use --lossy to save anyway)\n";
    const RunResult embed = ombri(
        {"embed", plainPicture("image.bmp"), mask("mask.png", roundTripNotes(2)), "-o", jpeg});
    EXPECT_EQ(embed.code, code(Exit::Usage));
    EXPECT_EQ(embed.err, refusal);
    const RunResult convert = ombri({"convert", noted, jpeg});
    EXPECT_EQ(convert.code, code(Exit::Usage));
    EXPECT_EQ(convert.err, refusal);
    EXPECT_EQ(test::readFileBytes(jpeg), (std::vector<uint8_t>{'o', 'l', 'd'}));

    // Agreed to, or with no notes to lose, the document's question is answered yes; whether the
    // file is then written depends on the JPEG writer.
    for (const auto& arguments :
         {std::vector<std::string>{"convert", noted, jpeg, "--lossy"},
          std::vector<std::string>{"convert", plainPicture("plain.bmp"), jpeg}}) {
        const RunResult result = ombri(arguments);
        EXPECT_TRUE(result.code == code(Exit::Done) || result.code == code(Exit::WriteFailed));
        EXPECT_NE(result.err.find("JPEG format does not support"), std::string::npos);
        EXPECT_EQ(result.err.find("cannot carry notes"), std::string::npos);
    }
}

// A picture narrower than the signature keeps no notes in a BMP, PNG, TIFF or SGI file: nothing
// is written without --lossy, and the reason is given.
TEST_F(CliJpegTest, NotesOfAPictureTooNarrowToCarryThemNeedLossy)
{
    const std::string narrow = picture("narrow.bmp", test::makePatternImage(5, 40, 24));
    NoteLayer notes(5 * 40, 0);
    notes[7] = notes[100] = 1;
    const std::string maskFile = picture("mask.png", maskPicture(notes, 5, 40));
    for (const char* name : {"out.png", "out.bmp", "out.tif", "out.rgb"}) {
        const std::string out = file(name);
        const RunResult embed = ombri({"embed", narrow, maskFile, "-o", out});
        EXPECT_EQ(embed.code, code(Exit::WriteFailed)) << name;
        // Six pixels of four bytes hold the 23 bytes of the signature; SGI's planes need eight.
        const char* least = FileExtension(name) == "rgb" ? "8" : "6";
        EXPECT_EQ(embed.err, "ombri: " + out +
                                 " cannot carry notes: the picture is 5 pixels wide and needs at "
                                 "least " +
                                 least +
                                 " to keep them (use --lossy to save without "
                                 "them)\n")
            << embed.err;
        EXPECT_FALSE(test::fileExists(out)) << name;
    }
    // At 24 bits a row needs 8 pixels; DPX keeps the notes of a picture of any width.
    EXPECT_NE(ombri({"embed", narrow, maskFile, "-o", file("a.png"), "--depth", "24"})
                  .err.find("needs at least 8"),
              std::string::npos);
    EXPECT_EQ(ombri({"embed", narrow, maskFile, "-o", file("film.dpx")}).code, 0);
    EXPECT_NE(ombri({"info", file("film.dpx")}).out.find("note-pixels: 2"), std::string::npos);

    // With --lossy the picture is written without its notes.
    const RunResult lossy = ombri({"embed", narrow, maskFile, "-o", file("lossy.png"), "--lossy"});
    EXPECT_EQ(lossy.code, 0) << lossy.err;
    EXPECT_NE(ombri({"info", file("lossy.png")}).out.find("notes: no"), std::string::npos);
    const RunResult convert = ombri({"convert", file("film.dpx"), file("c.bmp")});
    EXPECT_EQ(convert.code, code(Exit::WriteFailed));
    EXPECT_FALSE(test::fileExists(file("c.bmp")));
}

// A save that fails half way (here on a full disk) is told in the document's words with the
// system's reason, and leaves the old file as it was and no temporary file behind.
TEST_F(CliSaveFailureTest, AFailedSaveLeavesNoTemporaryFile)
{
    const std::string noted = notedPicture("noted.png", 4), target = file("old.bmp");
    test::writeFileBytes(target, {'o', 'l', 'd'});
    RunResult save;
    {
        test::SaveSpaceLimitScope fullDisk(1000);
        save = ombri({"convert", noted, target});
    }
    EXPECT_EQ(save.code, code(Exit::WriteFailed));
    EXPECT_EQ(save.err, "ombri: Could not save the image to " + target +
                            ". cannot write the file: No space left on device\n");
    EXPECT_EQ(test::readFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".ombri-save-"), std::string::npos);

    // A name too long for the folder is refused before the input is read.
    const std::string tooLong = file(std::string(300, 'n') + ".bmp");
    const RunResult refused = ombri({"convert", noted, tooLong});
    EXPECT_EQ(refused.code, code(Exit::WriteFailed));
    EXPECT_NE(refused.err.find("File name too long"), std::string::npos) << refused.err;
}

// The output named through a symbolic link is the file the link points to: it is replaced and
// keeps its permissions, and the link stays a link.
TEST_F(CliSaveFailureTest, OutputThroughALinkReplacesTheFileItPointsTo)
{
    std::filesystem::create_directory(file("kept"));
    const std::string real = file("kept/picture.png");
    test::writeFileBytes(real, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    std::filesystem::create_symlink("kept/picture.png", file("link.png"));
    const RunResult convert = ombri({"convert", notedPicture("noted.png", 4), file("link.png")});
    ASSERT_EQ(convert.code, 0) << convert.err;
    EXPECT_TRUE(std::filesystem::is_symlink(file("link.png")));
    EXPECT_NE(ombri({"info", real}).out.find("notes: yes"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(real).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

struct RefusalCase {
    std::vector<std::string> arguments;
    Exit exit;
    std::string message;
};

// Outputs that cannot be written, or that would replace an input, are refused before anything
// is read or written; the input and whatever was at the output stay as they were.
TEST_F(CliSaveFailureTest, BadOutputsAreRefusedBeforeAnythingIsWritten)
{
    const std::string noted = notedPicture("noted.png", 4), image = plainPicture("image.bmp");
    const std::string maskPath = mask("mask.png", roundTripNotes(4));
    std::filesystem::create_directory(file("busy.bmp"));
    test::writeFileBytes(file("busy.bmp/keep"), {42});
    std::filesystem::create_symlink(noted, file("alias.png"));
    const auto notedBytes = test::readFileBytes(noted), maskBytes = test::readFileBytes(maskPath);

    const RefusalCase cases[] = {
        {{"convert", noted, file("busy.bmp")},
         Exit::WriteFailed,
         "cannot write '" + file("busy.bmp") + "': it is a folder; name a file to write"},
        {{"notes", noted, "-o", file("none/m.png")},
         Exit::WriteFailed,
         "there is no folder '" + file("none") + "'; create it first"},
        {{"clear", noted, "-o", m_dir.path() + "/./noted.png"}, Exit::Usage, "' is the input '"},
        {{"convert", noted, file("alias.png")}, Exit::Usage, "' is the input '"},
        {{"embed", image, maskPath, "-o", maskPath}, Exit::Usage, "' is the input '"},
        {{"render", noted, "-o", noted}, Exit::Usage, "' is the input '"},
        {{"repair", noted, "-o", file("alias.png")}, Exit::Usage, "' is the input '"},
    };
    for (const auto& refusal : cases) {
        const RunResult result = ombri(refusal.arguments);
        SCOPED_TRACE(refusal.arguments[0] + " " + refusal.message);
        EXPECT_EQ(result.code, code(refusal.exit));
        EXPECT_NE(result.err.find(refusal.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(test::readFileBytes(noted), notedBytes);
    EXPECT_EQ(test::readFileBytes(maskPath), maskBytes);
    EXPECT_EQ(test::readFileBytes(file("busy.bmp/keep")), std::vector<uint8_t>{42});
    EXPECT_FALSE(test::fileExists(file("none")));
}

// A folder, an empty file or a missing path is named for what it is, not judged by its
// extension or its first bytes.
TEST_F(CliInputTest, UnusableInputsAreToldForWhatTheyAre)
{
    std::filesystem::create_directory(file("folder.png"));
    test::writeFileBytes(file("empty.bmp"), {});
    const std::string image = plainPicture("image.bmp");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"convert", file("folder.png"), file("out.png")},
         "cannot read '" + file("folder.png") + "': it is a folder, not a picture"},
        {{"embed", image, file("folder.png"), "-o", file("out.png")}, "it is a folder"},
        {{"notes", file("empty.bmp"), "-o", file("out.png")},
         "cannot read '" + file("empty.bmp") + "': the file is empty"},
        {{"render", file("missing"), "-o", file("out.png")},
         "cannot read '" + file("missing") + "': No such file or directory"},
    };
    for (const auto& [arguments, message] : cases) {
        const RunResult result = ombri(arguments);
        SCOPED_TRACE(message);
        EXPECT_EQ(result.code, code(Exit::BadInput));
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(test::fileExists(file("out.png")));
}

// --- info on folders ---

class CliFolderTest : public CliFilesTest {
  protected:
    void add(const std::string& relative)
    {
        std::filesystem::create_directories(std::filesystem::path(file(relative)).parent_path());
        picture(relative, test::makePatternImage(4, 3, 24));
    }
    // The files info describes, relative to the test folder, in the order it prints them.
    std::vector<std::string> listed(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "info");
        std::istringstream lines(ombri(arguments).out);
        std::vector<std::string> files;
        const std::string prefix = "file: " + m_dir.path() + "/";
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(prefix, 0) == 0)
                files.push_back(line.substr(prefix.size()));
        }
        return files;
    }
};

TEST_F(CliFolderTest, PicturesComeInNameOrderAndDashRTakesEachFolderInItsPlace)
{
    for (const char* name :
         {"n.png", "b.png", "C.PNG", "a.png", "A.bmp", "m/z.png", "m/deep/q.bmp", "m/a.png"})
        add(name);
    // Names without an extension a reader takes are not pictures, whatever they hold; a file
    // called "png" has no extension at all.
    for (const char* other : {"notes.txt", "png", "odd.png.bak"})
        test::writeFileBytes(file(other), {1});

    using Names = std::vector<std::string>;
    EXPECT_EQ(listed({m_dir.path()}), (Names{"A.bmp", "a.png", "b.png", "C.PNG", "n.png"}));
    EXPECT_EQ(
        listed({"-r", m_dir.path() + "/"}),
        (Names{"A.bmp", "a.png", "b.png", "C.PNG", "m/a.png", "m/deep/q.bmp", "m/z.png", "n.png"}));
    const RunResult result = ombri({"info", m_dir.path()});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err, "5 images, 0 with notes, 0 unreadable\n");
    std::filesystem::create_directory(file("void"));
    EXPECT_EQ(ombri({"info", file("void")}).err, "0 images, 0 with notes, 0 unreadable\n");
}

TEST_F(CliFolderTest, HiddenNamesAreSkippedAndLinkedFoldersAreNotFollowed)
{
    for (const char* name :
         {"tree/a.png", "tree/.hidden.png", "tree/.cache/b.png", "tree/sub/c.png", "outside/e.png"})
        add(name);
    namespace fs = std::filesystem;
    fs::create_directory_symlink("..", file("tree/sub/up")); // a loop back up the tree
    fs::create_directory_symlink("../outside", file("tree/linked"));
    fs::create_symlink("../outside/e.png", file("tree/link.png"));
    ASSERT_EQ(mkfifo(file("tree/pipe.png").c_str(), 0600), 0); // opening it would wait forever

    using Names = std::vector<std::string>;
    EXPECT_EQ(listed({"-r", file("tree")}),
              (Names{"tree/a.png", "tree/link.png", "tree/sub/c.png"}));
    // Named on the command line, a hidden or linked folder is looked into.
    EXPECT_EQ(listed({file("tree/.cache"), file("tree/linked")}),
              (Names{"tree/.cache/b.png", "tree/linked/e.png"}));
    EXPECT_EQ(ombri({"info", file("tree/linked")}).err, "1 image, 0 with notes, 0 unreadable\n");
}

TEST_F(CliFolderTest, AnUnreadablePictureIsCountedAndTheOthersStillDescribed)
{
    const std::string noted = notedPicture("noted.png", 3); // also writes two plain pictures
    const std::string broken = file("broken.png");
    test::writeFileBytes(broken, {1, 2, 3});
    const std::string notes = std::to_string(countNotePixels(roundTripNotes(3)));
    const std::string messages = "ombri: cannot read '" + broken +
                                 "': not a PNG file\n4 images, 1 with notes, 1 unreadable\n";

    const RunResult text = ombri({"info", m_dir.path()});
    EXPECT_EQ(text.code, code(Exit::BadInput));
    EXPECT_EQ(text.err, messages);
    EXPECT_NE(text.out.find("file: " + noted +
                            "\nformat: PNG\nsize: 47x33\nbits: 32\nnotes: "
                            "yes\nnote-pixels: " +
                            notes + "\n"),
              std::string::npos);

    const RunResult json = ombri({"info", "--json", m_dir.path()});
    EXPECT_EQ(json.code, code(Exit::BadInput));
    EXPECT_EQ(json.err, messages);
    std::vector<std::string> lines;
    std::istringstream out(json.out);
    for (std::string line; std::getline(out, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "{\"file\":\"" + broken + "\",\"error\":\"not a PNG file\"}");
    EXPECT_EQ(lines[2], "{\"file\":\"" + noted +
                            "\",\"format\":\"PNG\",\"size\":\"47x33\",\"bits\":32,\"notes\":true,"
                            "\"note-pixels\":" +
                            notes +
                            ",\"signature\":\"intact\",\"carrier\":\"alpha\","
                            "\"orientation\":\"normal\"}");
}

// Any byte may be in a Linux file name; the JSON line stays one valid line of UTF-8.
TEST_F(CliFolderTest, JsonEscapesControlCharactersAndReplacesBytesThatAreNotUtf8)
{
    const std::string kReplacement = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> names[] = {
        {"q\"b\\s.png", "q\\\"b\\\\s.png"},
        {"n\nt\tc\x01\x7f.png", "n\\nt\\tc\\u0001\\u007f.png"},
        {"\xC3\xA9\xF0\x9F\x98\x80.png", "\xC3\xA9\xF0\x9F\x98\x80.png"}, // kept as written
        {"\xFF.png", kReplacement + ".png"},
        {"\xC3.png", kReplacement + ".png"},                                       // cut short
        {"\xE2\x82.png", kReplacement + kReplacement + ".png"},                    // cut short
        {"\xC0\xAF.png", kReplacement + kReplacement + ".png"},                    // overlong "/"
        {"\xED\xA0\x80.png", kReplacement + kReplacement + kReplacement + ".png"}, // surrogate
        {"\xF4\x90\x80\x80.png",
         kReplacement + kReplacement + kReplacement + kReplacement + ".png"}, // beyond U+10FFFF
    };
    for (const auto& [name, escaped] : names) {
        test::writeFileBytes(file(name), {});
        EXPECT_EQ(ombri({"info", "--json", file(name)}).out,
                  "{\"file\":\"" + m_dir.path() + "/" + escaped +
                      "\",\"error\":\"the file is empty; it holds no picture\"}\n");
    }
}

} // namespace
} // namespace ombri::cli
