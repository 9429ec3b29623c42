#include "reader/reader_document.h"

#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/note_status.h"
#include "reader/openable_reader_document.h"
#include "support/dib_compare.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// --- Panes standing in for the widgets ---

class FakeTree : public TreePane {
  public:
    bool attachAnswer = true;
    int attachCalls = 0;
    Strings visited;
    ReaderDocument* doc = nullptr; // when set, selecting a file opens it, as the real tree does

    bool attachSystemImageList() override
    {
        ++attachCalls;
        return attachAnswer;
    }
    bool GoToPath(const std::string& path) override
    {
        visited.push_back(path);
        return !doc || doc->OpenImagePath(path);
    }
};

class FakeList : public ListPane {
  public:
    bool visible = false;
    std::optional<std::string> previous, next;

    bool isVisible() const override { return visible; }
    std::optional<std::string> SelectPreviousFile() override { return previous; }
    std::optional<std::string> SelectNextFile() override { return next; }
};

class FakeImagePane : public ImagePane {
  public:
    bool show = false;
    Strings repaints; // "erase", "keep" (both at once) or "invalidate"

    bool showNotes() const override { return show; }
    void setShowNotes(bool value) override { show = value; }
    void redrawNow(Background b) override
    {
        repaints.push_back(b == Background::Erase ? "erase" : "keep");
    }
    void invalidate() override { repaints.push_back("invalidate"); }
};

class FakeDesktop : public DesktopServices {
  public:
    Strings urls;
    void openUrl(const std::string& url) override { urls.push_back(url); }
};

// --- Pictures ---

Dib greyPicture(int32_t width, int32_t height, uint8_t grey)
{
    Dib dib = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(dib);
    std::memset(dib.data() + layout->pixelOffset, grey, layout->pixelBytes);
    return dib;
}

struct Point {
    int32_t x, yFromTop;
};

NoteLayer notesAt(int32_t width, int32_t height, const std::vector<Point>& points)
{
    NoteLayer notes(static_cast<size_t>(width * height), 0);
    for (const auto& p : points)
        notes[static_cast<size_t>((height - 1 - p.yFromTop) * width + p.x)] = 1;
    return notes;
}

// A carrier file as the writer saves one: notes in the carrier bytes and the marker in the row
// the format keeps it in (the first in memory for BMP, the last for the others).
void writeCarrier(const std::string& path, const Dib& picture, const NoteLayer& notes)
{
    const bool wide = DibGetBitCount(picture) == 32;
    Dib carrier = MakeCarrierCopy(picture, notes, wide ? SaveDepth::Alpha32 : SaveDepth::Bits24);
    const auto layout = dibGetLayout(carrier);
    const bool bmp = FileExtension(path) == "bmp";
    WriteOmbriSignature(carrier.data() + layout->pixelOffset +
                        (bmp ? 0 : layout->stride * (layout->height - 1)));
    ASSERT_TRUE(test::succeeded(bmp ? WriteBmpFile(path, carrier) : WritePngFile(path, carrier)));
}

// --- A document with its panes, in a folder of its own ---

class ReaderDocTest : public testing::Test {
  protected:
    ReaderDocTest() : m_savedDirectory(fs::current_path())
    {
        m_doc.setTreePane(&m_tree);
        m_doc.setListPane(&m_list);
        m_doc.setImagePane(&m_view);
        m_doc.setDesktopServices(&m_desktop);
    }
    // Opening a picture moves the process into the picture's folder.
    ~ReaderDocTest() override { fs::current_path(m_savedDirectory); }

    std::string file(const std::string& name) const { return m_dir.file(name); }

    // A grey 9 x 7 carrier with the given notes, opened.
    void openCarrier(const std::vector<Point>& notes, uint8_t grey = 0)
    {
        writeCarrier(file("carrier.png"), greyPicture(9, 7, grey), notesAt(9, 7, notes));
        ASSERT_TRUE(m_doc.OnOpenDocument(file("carrier.png")));
        ASSERT_TRUE(m_doc.hasNoteLayer());
    }

    // Blue, green and red of a displayed pixel.
    Bytes shown(int32_t x, int32_t yFromTop, bool notes = true)
    {
        const uint8_t* pixel = test::pixelAt(*m_doc.BuildDisplayImage(notes), x, yFromTop);
        return Bytes(pixel, pixel + 3);
    }

    fs::path m_savedDirectory;
    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    OpenableReaderDocument m_doc{m_prompt};
    FakeTree m_tree;
    FakeList m_list;
    FakeImagePane m_view;
    FakeDesktop m_desktop;
};

// --- Opening ---

using ReaderOpenTest = ReaderDocTest;

TEST_F(ReaderOpenTest, NoteCommandsFollowThePicturesNotes)
{
    const int noteCommands[] = {cmd::ColourSelected, cmd::ColourRed,    cmd::ColourComplement,
                                cmd::ColourWhite,    cmd::AntiAliasing, cmd::DisplayNotes};
    openCarrier({{4, 3}});
    EXPECT_EQ(countNotePixels(*m_doc.noteLayer()), 1u);
    EXPECT_EQ(m_doc.currentPath(), file("carrier.png"));
    EXPECT_EQ(m_doc.getPathName(), file("carrier.png"));
    for (int command : noteCommands)
        EXPECT_TRUE(m_doc.isCommandEnabled(command)) << command;

    ASSERT_TRUE(test::succeeded(WritePngFile(file("plain.png"), greyPicture(9, 7, 40))));
    ASSERT_TRUE(m_doc.OnOpenDocument(file("plain.png")));
    for (int command : noteCommands)
        EXPECT_FALSE(m_doc.isCommandEnabled(command)) << command;
    EXPECT_EQ(m_doc.BuildDisplayImage(true), &m_doc.image());
}

// A carrier turned by its orientation tag is shown standing, its notes lined up with it, and the
// status bar says where they were found, as for a carrier another program turned pixel by pixel.
TEST_F(ReaderOpenTest, TaggedCarrierIsShownUprightWithItsNotes)
{
    writeCarrier(file("stored.png"), greyPicture(12, 10, 80), notesAt(12, 10, {{3, 5}}));
    const std::vector<uint8_t> marker = test::exifOrientationMarker(6, true);
    test::writeFileBytes(file("tagged.png"),
                         test::withPngChunk(test::readFileBytes(file("stored.png")), "eXIf",
                                            std::vector<uint8_t>(marker.begin() + 6, marker.end()),
                                            test::ChunkPlace::AfterHeader));
    ASSERT_TRUE(m_doc.OnOpenDocument(file("tagged.png")));
    EXPECT_EQ(m_doc.width(), 10);
    EXPECT_EQ(m_doc.height(), 12);
    ASSERT_TRUE(m_doc.hasNoteLayer());
    // The stored note at (3, 5) from the top-left shows at (10 - 1 - 5, 3).
    EXPECT_EQ(*m_doc.noteLayer(), notesAt(10, 12, {{4, 3}}));
    EXPECT_EQ(noteStatusText(m_doc), std::string("Notes: 1 pixel, found in ") +
                                         turnedPictureDescription(Orientation::Turned90));
}

TEST_F(ReaderOpenTest, FailedOpenEmptiesTheDocumentSilently)
{
    openCarrier({{4, 3}});
    test::writeFileBytes(file("broken.png"), {1, 2, 3});
    fs::create_directory(file("folder"));
    for (const char* name : {"folder", "missing.png", "notes.txt", "broken.png"}) {
        EXPECT_FALSE(m_doc.OnOpenDocument(file(name))) << name;
        EXPECT_FALSE(m_doc.hasImage() || m_doc.hasNoteLayer() || m_doc.width() != 0) << name;
        EXPECT_EQ(m_doc.currentPath(), file("carrier.png"));
        EXPECT_EQ(m_doc.BuildDisplayImage(true), nullptr);
    }
    EXPECT_TRUE(m_prompt.messages().empty());
    EXPECT_TRUE(m_prompt.openFailures().empty());

    // A top-down BMP is no impossible size: it opens, and nothing is told.
    ASSERT_TRUE(test::succeeded(WriteBmpFile(file("top-down.bmp"), greyPicture(4, 3, 9))));
    auto bytes = test::readFileBytes(file("top-down.bmp"));
    const int32_t height = -3;
    std::memcpy(bytes.data() + 22, &height, 4);
    test::writeFileBytes(file("top-down.bmp"), bytes);
    EXPECT_TRUE(m_doc.OnOpenDocument(file("top-down.bmp")));
    EXPECT_EQ(m_doc.height(), 3);
    EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(ReaderOpenTest, TreeIsPreparedOnTheFirstOpenOnly)
{
    openCarrier({});
    openCarrier({});
    EXPECT_EQ(m_tree.attachCalls, 1);

    OpenableReaderDocument fresh(m_prompt);
    FakeTree failing;
    failing.attachAnswer = false;
    fresh.setTreePane(&failing);
    EXPECT_FALSE(fresh.OnOpenDocument(file("carrier.png")));
    EXPECT_TRUE(fresh.currentPath().empty());
}

TEST_F(ReaderOpenTest, ChosenFilesOpenWithNotesHiddenDroppedOnesKeepThem)
{
    writeCarrier(file("a.png"), greyPicture(9, 7, 0), notesAt(9, 7, {{4, 3}}));
    m_view.show = true;
    ASSERT_TRUE(m_doc.OnOpenDocument(file("a.png"))); // a drop on the image view
    EXPECT_TRUE(m_view.show);
    ASSERT_TRUE(m_doc.OpenImagePath(file("a.png")));
    EXPECT_FALSE(m_view.show);
    EXPECT_EQ(m_view.repaints, Strings{"erase"});
}

// A folder or a file that cannot be read empties the document; the view must repaint, or it
// keeps painting the picture that is gone.
TEST_F(ReaderOpenTest, FailedChosenOpenRepaintsTheEmptyView)
{
    writeCarrier(file("a.png"), greyPicture(9, 7, 0), notesAt(9, 7, {}));
    ASSERT_TRUE(m_doc.OpenImagePath(file("a.png")));
    m_view.repaints.clear();
    EXPECT_FALSE(m_doc.OpenImagePath(m_dir.path()));
    EXPECT_FALSE(m_doc.hasImage());
    EXPECT_EQ(m_view.repaints, Strings{"erase"});
    EXPECT_EQ(m_doc.currentPath(), file("a.png"));
}

TEST_F(ReaderOpenTest, RelativePathBecomesAbsoluteAndItsFolderCurrent)
{
    fs::create_directory(file("sub"));
    writeCarrier(file("sub/a.png"), greyPicture(9, 7, 0), notesAt(9, 7, {}));
    fs::current_path(m_dir.path());
    ASSERT_TRUE(m_doc.OnOpenDocument("sub/./a.png"));
    EXPECT_EQ(m_doc.currentPath(), file("sub/a.png"));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), file("sub")));
}

// --- Transparency ---

// A 32-bit picture of the given grey whose alpha runs from 0 at the left to 255 at the right.
Dib softEdgedPicture(int32_t width, int32_t height, uint8_t grey)
{
    Dib dib = Dib::create(width, height, 32);
    const auto layout = dibGetLayout(dib);
    uint8_t* row = dib.data() + layout->pixelOffset;
    for (int32_t y = 0; y < height; ++y, row += layout->stride)
        for (int32_t x = 0; x < width; ++x) {
            std::memset(row + 4 * x, grey, 3);
            row[4 * x + 3] = static_cast<uint8_t>(x * 255 / (width - 1));
        }
    return dib;
}

using ReaderTransparencyTest = ReaderDocTest;

TEST_F(ReaderTransparencyTest, ShownOnlyWhileASeeThroughPictureIsOpen)
{
    ASSERT_TRUE(test::succeeded(WritePngFile(file("soft.png"), softEdgedPicture(9, 7, 80))));
    ASSERT_TRUE(test::succeeded(WritePngFile(file("plain.png"), greyPicture(9, 7, 80))));
    test::writeFileBytes(file("broken.png"), {1, 2, 3});
    ASSERT_TRUE(m_doc.OnOpenDocument(file("soft.png")));
    EXPECT_TRUE(m_doc.showsTransparency());
    ASSERT_TRUE(m_doc.OnOpenDocument(file("plain.png")));
    EXPECT_FALSE(m_doc.showsTransparency());

    ASSERT_TRUE(m_doc.OnOpenDocument(file("soft.png")));
    EXPECT_FALSE(m_doc.OnOpenDocument(file("broken.png")));
    EXPECT_FALSE(m_doc.showsTransparency());
    ASSERT_TRUE(m_doc.OnOpenDocument(file("soft.png")));
    m_doc.DeleteContents();
    EXPECT_FALSE(m_doc.showsTransparency());
}

TEST_F(ReaderTransparencyTest, CarriersAndSpareFourthBytesAreNeverSeenThrough)
{
    // A 32-bit carrier keeps its notes as alpha 254 beside 255.
    Dib opaque = softEdgedPicture(9, 7, 80);
    const auto layout = dibGetLayout(opaque);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 9; ++x)
            opaque.data()[layout->pixelOffset + y * layout->stride + 4 * x + 3] = 255;
    writeCarrier(file("carrier.png"), opaque, notesAt(9, 7, {{4, 3}, {0, 0}, {8, 6}}));
    ASSERT_TRUE(m_doc.OnOpenDocument(file("carrier.png")));
    ASSERT_TRUE(m_doc.hasNoteLayer());
    EXPECT_FALSE(m_doc.showsTransparency());

    // A BMP whose bit fields name no alpha: its fourth byte is no alpha, whatever it holds.
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(file("spare.bmp"), test::makePatternImage(9, 7, 32, 3))));
    auto bytes = test::readFileBytes(file("spare.bmp"));
    std::memset(bytes.data() + 14 + 52, 0, 4); // the alpha mask
    test::writeFileBytes(file("spare.bmp"), bytes);
    ASSERT_TRUE(m_doc.OnOpenDocument(file("spare.bmp")));
    EXPECT_EQ(DibGetBitCount(m_doc.image()), 32);
    EXPECT_FALSE(m_doc.showsTransparency());
}

// --- The display image ---

using ReaderDisplayTest = ReaderDocTest;

TEST_F(ReaderDisplayTest, PictureItselfWhileNothingChangesItsLook)
{
    EXPECT_EQ(m_doc.BuildDisplayImage(true), nullptr);
    openCarrier({{4, 3}});
    EXPECT_EQ(m_doc.BuildDisplayImage(false), &m_doc.image());
    const Dib* withNotes = m_doc.BuildDisplayImage(true);
    EXPECT_NE(withNotes, &m_doc.image());
    EXPECT_EQ(m_doc.BuildDisplayImage(true), withNotes); // cached
    m_doc.onAdjustmentCommand(cmd::InvertColour);
    m_doc.onAdjustmentCommand(cmd::InvertColour);
    EXPECT_EQ(m_doc.BuildDisplayImage(false), &m_doc.image());
}

TEST_F(ReaderDisplayTest, AntiAliasedNotesInRedOnBlack)
{
    openCarrier({{4, 3}, {0, 6}}); // one in the middle, one in the bottom-left corner
    const std::pair<Point, uint8_t> cases[] = {
        {{4, 3}, 63},  // 4/16 of 255
        {{3, 3}, 31},  // an edge neighbour: 2/16
        {{5, 4}, 15},  // a diagonal neighbour: 1/16
        {{0, 6}, 113}, // the corner: 4/9
        {{1, 6}, 42},  // beside the corner, on the border: 2/12
        {{7, 1}, 0},   // far from every note
    };
    for (const auto& [at, red] : cases) { // green and red; blue carries the notes
        const Bytes pixel = shown(at.x, at.yFromTop);
        EXPECT_EQ(Bytes(pixel.begin() + 1, pixel.end()), (Bytes{0, red}))
            << at.x << "," << at.yFromTop;
    }
}

TEST_F(ReaderDisplayTest, ColourCommands)
{
    openCarrier({{4, 3}});
    const Dib* before = m_doc.BuildDisplayImage(true);
    m_doc.onNoteColourCommand(cmd::ColourRed); // already chosen: nothing at all
    EXPECT_TRUE(m_view.repaints.empty());
    EXPECT_EQ(m_doc.BuildDisplayImage(true), before);

    m_doc.onNoteColourCommand(cmd::ColourComplement);
    EXPECT_EQ(m_view.repaints.size(), 1u);
    EXPECT_EQ(shown(4, 3), (Bytes{255, 255, 255})); // black turned white, not anti-aliased
    EXPECT_EQ(shown(3, 3), (Bytes{1, 0, 0}));
    EXPECT_TRUE(m_doc.isCommandChecked(cmd::ColourComplement));
    EXPECT_FALSE(m_doc.isCommandChecked(cmd::ColourRed));

    m_doc.onNoteColourCommand(cmd::ColourGreen); // clears the complement
    EXPECT_EQ(shown(4, 3), (Bytes{0, 63, 0}));

    m_view.repaints.clear();
    m_doc.onColourChosen({10, 20, 30}); // OK in the Selected dialog
    EXPECT_EQ(m_view.repaints, Strings{"invalidate"});
    EXPECT_TRUE(m_doc.isCommandChecked(cmd::ColourSelected));
    m_doc.ToggleAntiAliasing();
    EXPECT_EQ(shown(4, 3), (Bytes{30, 20, 10}));
}

TEST_F(ReaderDisplayTest, TogglesAndTheShowFlag)
{
    openCarrier({{4, 3}}, 128);
    m_doc.toggleDisplayNotes();
    m_doc.ToggleAntiAliasing();
    EXPECT_TRUE(m_view.show);
    EXPECT_TRUE(m_doc.isCommandChecked(cmd::DisplayNotes));
    EXPECT_FALSE(m_doc.isCommandChecked(cmd::AntiAliasing));
    EXPECT_EQ(m_view.repaints, (Strings{"keep", "keep"}));
    EXPECT_EQ(shown(4, 3), (Bytes{0, 0, 255}));
    EXPECT_EQ(shown(3, 3), (Bytes{129, 128, 128}));
    // A copy built with the notes is never handed out for the picture without them.
    m_doc.onAdjustmentCommand(cmd::InvertColour);
    EXPECT_EQ(shown(4, 3, true), (Bytes{0, 0, 255}));
    EXPECT_EQ(shown(4, 3, false), (Bytes{127, 127, 127}));
    EXPECT_EQ(shown(4, 3, true), (Bytes{0, 0, 255}));
}

// The document's cached single-pass build against the plain recipe: adjust copies of the
// picture and of the layer together, then cover and blend.
TEST_F(ReaderDisplayTest, EqualsCoverageThenBlendAfterAdjustments)
{
    const std::vector<std::vector<int>> commandLists = {
        {},
        {cmd::RotateClockwise},
        {cmd::RotateAnticlockwise, cmd::FlipHorizontal, cmd::InvertColour},
        {cmd::RotateClockwise, cmd::RotateClockwise, cmd::FlipVertical, cmd::AutoContrast}};
    for (uint16_t bitCount : {24, 32}) {
        writeCarrier(file("pattern.png"), test::makePatternImage(23, 15, bitCount),
                     test::makePatternNotes(23, 15));
        ASSERT_TRUE(m_doc.OnOpenDocument(file("pattern.png")));
        for (const auto& commands : commandLists) {
            m_doc.onAdjustmentCommand(cmd::Original);
            for (int command : commands)
                m_doc.onAdjustmentCommand(command);
            Dib expected = m_doc.image().clone();
            NoteLayer notes = *m_doc.noteLayer();
            ApplyAdjustments(expected, m_doc.adjustments().code, m_doc.adjustments().flags, &notes);
            std::vector<float> coverage(notes.size());
            ComputeNoteCoverage(notes.data(), DibGetWidth(expected), DibGetHeight(expected),
                                coverage.data());
            BlendNotes(expected, makeColourRef(255, 0, 0), coverage.data());
            EXPECT_EQ(test::dibDifference(*m_doc.BuildDisplayImage(true), expected), "")
                << bitCount << "-bit, " << commands.size() << " commands";
        }
    }
}

// --- Image adjustments through the document ---

using ReaderAdjustTest = ReaderDocTest;

TEST_F(ReaderAdjustTest, NoteTurnsWithThePicture)
{
    // BMP keeps its marker in the bottom row, leaving the top-left pixel free for a note.
    writeCarrier(file("wide.bmp"), greyPicture(9, 2, 0), notesAt(9, 2, {{0, 0}}));
    ASSERT_TRUE(m_doc.OnOpenDocument(file("wide.bmp")));
    m_doc.ToggleAntiAliasing();
    m_doc.onAdjustmentCommand(cmd::RotateClockwise);
    const Dib* display = m_doc.BuildDisplayImage(true);
    EXPECT_EQ(DibGetWidth(*display), 2);
    EXPECT_EQ(DibGetHeight(*display), 9);
    EXPECT_EQ(shown(1, 0), (Bytes{0, 0, 255}));
    EXPECT_EQ(shown(1, 1), (Bytes{1, 0, 0}));
}

// What the command line's render writes is the picture the view shows, whether the document
// makes it in the picture's own block or, for a turn, in a new one; the document is left empty.
TEST_F(ReaderAdjustTest, TheTakenPictureIsTheShownOne)
{
    writeCarrier(file("carrier.png"), test::makePatternImage(23, 17, 24, 4),
                 test::makePatternNotes(23, 17, 9));
    const std::vector<int> cases[] = {
        {},
        {cmd::InvertColour, cmd::BlackAndWhite},
        {cmd::AutoContrast, cmd::FlipHorizontal},
        {cmd::FlipVertical, cmd::ChannelRed},
        {cmd::RotateClockwise, cmd::AutoColour},
        {cmd::Rotate180},
    };
    for (const std::vector<int>& commands : cases)
        for (const bool notes : {true, false})
            for (const int colour : {cmd::ColourRed, cmd::ColourComplement}) {
                SCOPED_TRACE(testing::PrintToString(commands) + (notes ? " notes " : " plain ") +
                             std::to_string(colour));
                ASSERT_TRUE(m_doc.OnOpenDocument(file("carrier.png")));
                m_doc.SelectNoteColour(colour);
                for (const int command : commands)
                    m_doc.onAdjustmentCommand(command);
                const Dib expected = m_doc.BuildDisplayImage(notes)->clone();
                m_doc.dropDisplayCopy();
                const Dib taken = m_doc.TakeDisplayImage(notes);
                EXPECT_EQ(test::dibDifference(taken, expected), "");
                EXPECT_FALSE(m_doc.hasImage());
                m_doc.onAdjustmentCommand(cmd::Original);
            }
}

TEST_F(ReaderAdjustTest, RepaintsEraseOnlyWhenTheSizeMayChange)
{
    openCarrier({});
    const std::pair<int, Strings> cases[] = {
        {cmd::Original, {}}, // nothing in force: nothing to do
        {cmd::InvertColour, {"keep"}},
        {cmd::RotateClockwise, {"erase"}},
        {cmd::FlipHorizontal, {"keep"}},
        {cmd::Original, {"erase"}}, // undoes the quarter turn
        {cmd::Rotate180, {}},       // has no action
    };
    for (const auto& [command, repaints] : cases) {
        m_view.repaints.clear();
        m_doc.onAdjustmentCommand(command);
        EXPECT_EQ(m_view.repaints, repaints) << command;
    }
}

// --- Stepping through a folder ---

class ReaderNavigationTest : public ReaderDocTest {
  protected:
    // a.png, b.jpg and c.gif; GIF opens in the reader but is not stepped to.
    void SetUp() override
    {
        ASSERT_TRUE(test::succeeded(WritePngFile(file("a.png"), greyPicture(8, 8, 10))));
        ASSERT_TRUE(test::succeeded(WriteJpegFile(file("b.jpg"), greyPicture(8, 8, 20))));
        test::writeFileBytes(file("c.gif"), {'G', 'I', 'F'});
        m_tree.doc = &m_doc;
    }
};

TEST_F(ReaderNavigationTest, PreviousAndNextWithTheListHidden)
{
    EXPECT_TRUE(m_doc.isCommandEnabled(cmd::PreviousImage)); // nothing open yet
    EXPECT_TRUE(m_doc.isCommandEnabled(cmd::NextImage));
    ASSERT_TRUE(m_doc.OpenImagePath(file("b.jpg")));
    EXPECT_TRUE(m_doc.isCommandEnabled(cmd::PreviousImage));
    EXPECT_FALSE(m_doc.isCommandEnabled(cmd::NextImage));
    EXPECT_TRUE(fs::equivalent(fs::current_path(), m_dir.path()));

    m_view.show = true;
    m_doc.onPreviousImage();
    EXPECT_EQ(m_tree.visited, Strings{file("a.png")});
    EXPECT_EQ(m_doc.currentPath(), file("a.png"));
    EXPECT_FALSE(m_view.show);
    EXPECT_FALSE(m_doc.isCommandEnabled(cmd::PreviousImage));

    m_doc.onNextImage();
    EXPECT_EQ(m_doc.currentPath(), file("b.jpg"));
    m_doc.onNextImage(); // the last picture: nothing happens
    EXPECT_EQ(m_tree.visited.size(), 2u);

    m_doc.setTreePane(nullptr); // without a tree the picture opens directly
    m_doc.onPreviousImage();
    EXPECT_EQ(m_doc.currentPath(), file("a.png"));
}

TEST_F(ReaderNavigationTest, TheVisibleListDecides)
{
    ASSERT_TRUE(m_doc.OpenImagePath(file("a.png")));
    m_list.visible = true;
    m_list.next = file("c.gif"); // the list's order, whatever the folder walk says
    m_doc.onNextImage();
    EXPECT_FALSE(m_doc.hasImage()); // not a real GIF: the open fails, the path stays
    EXPECT_EQ(m_doc.currentPath(), file("a.png"));
    m_list.previous = file("b.jpg");
    m_view.show = true;
    m_doc.onPreviousImage();
    EXPECT_EQ(m_doc.currentPath(), file("b.jpg"));
    EXPECT_FALSE(m_view.show);
    EXPECT_TRUE(m_tree.visited.empty());
}

TEST_F(ReaderNavigationTest, HomePageOpensTheBrowser)
{
    m_doc.onHomePage();
    EXPECT_EQ(m_desktop.urls, Strings{"https://ombritools.example/"});
}

} // namespace
} // namespace ombri::reader
