// The File menu's commands that move notes to and from other files, and what the window says
// about notes found in a turned or mirrored picture, driven through the real window.
#include "view_fixture.h"
#include "window_fixture.h"

#include "formats/dispatch.h"
#include "formats/png.h"

#include <filesystem>
#include <set>
#include <utility>

namespace ombri::writer {
using namespace ombri::test;
namespace {

using Pixels = std::set<std::pair<int, int>>;

class NoteFilesTest : public WindowFixture {
  protected:
    // The pixels set in a layer of the picture's size: column, row from the top.
    Pixels layerPixels(const std::vector<uint8_t>& layer)
    {
        Pixels pixels;
        const int width = doc().width();
        const int height = doc().height();
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                if (layer[static_cast<size_t>(height - 1 - row) * width + column] == 1)
                    pixels.insert({column, row});
        return pixels;
    }
    Pixels notes() { return doc().noteLayer() ? layerPixels(*doc().noteLayer()) : Pixels(); }

    // A white picture file with a black rectangle, as another program draws a mask.
    std::string writeMask(const std::string& name, int width, int height, QRect black)
    {
        const std::string path = dir.file(name);
        EXPECT_TRUE(succeeded(WriteBmpFile(path, makeSolidPicture(width, height, 24, 255, black))));
        return path;
    }
    static Pixels rectPixels(QRect rect)
    {
        Pixels pixels;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                pixels.insert({x, y});
        return pixels;
    }

    // The picture opened, a line drawn and put down, and the picture saved as a lossless carrier.
    std::string saveCarrier(const std::string& name)
    {
        EXPECT_TRUE(frame->openFile(writePicture("beach.bmp")));
        drawPendingLine();
        commands().trigger(cmd::LineTool);
        prompt.queueSavePath(dir.file(name));
        EXPECT_TRUE(commands().trigger(cmd::SaveAsLossless));
        EXPECT_FALSE(doc().IsModified());
        return dir.file(name);
    }

    bool importMask(const std::string& path)
    {
        prompt.queueOpenPath(path);
        commands().trigger(cmd::ImportNotes);
        return !prompt.openDialogs().empty();
    }

    const std::string& lastMessage() const { return prompt.messages().back().text; }
};

const int kNoteFileCommands[] = {cmd::SaveCleanCopy, cmd::ImportNotes, cmd::ExportNotes};

TEST_F(NoteFilesTest, CommandsAreThereOnlyWhileAPictureIsOpen)
{
    for (int id : kNoteFileCommands) {
        EXPECT_FALSE(commands().isEnabled(id)) << id;
        EXPECT_FALSE(commands().trigger(id)) << id;
        const QAction* action = commands().action(id);
        EXPECT_FALSE(action->statusTip().isEmpty()) << id;
        EXPECT_FALSE(action->toolTip().isEmpty()) << id;
    }
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    for (int id : kNoteFileCommands)
        EXPECT_TRUE(commands().isEnabled(id)) << id;
    commands().trigger(cmd::FileClose);
    for (int id : kNoteFileCommands)
        EXPECT_FALSE(commands().isEnabled(id)) << id;
    EXPECT_TRUE(prompt.saveDialogs().empty());
    EXPECT_TRUE(prompt.openDialogs().empty());
    EXPECT_TRUE(prompt.messages().empty());
}

// ---- Export Notes ----------------------------------------------------------------------------

TEST_F(NoteFilesTest, ExportWritesTheNotesBlackOnWhiteAndImportReadsThemBackInPlace)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    drawPendingLine();
    const Pixels line = layerPixels(*(*view().inspect().pending));
    const std::string mask = dir.file("beach-notes.png");
    prompt.queueSavePath(mask);
    ASSERT_TRUE(commands().trigger(cmd::ExportNotes));

    // The line still in the tool's hands was put down first and is part of the file.
    EXPECT_EQ(view().activeTool(), Tool::None);
    EXPECT_EQ(notes(), line);
    ASSERT_EQ(prompt.saveDialogs().size(), 1u);
    EXPECT_EQ(prompt.saveDialogs()[0].defaultName, "beach-notes");
    EXPECT_EQ(prompt.saveDialogs()[0].defaultExtension, "png");
    Result<Dib> read = ReadPngFile(mask);
    ASSERT_TRUE(read.ok()) << read.error();
    const Dib& picture = read.value();
    ASSERT_EQ(DibGetWidth(picture), 40);
    ASSERT_EQ(DibGetHeight(picture), 30);
    Pixels black;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const uint8_t* pixel = pixelAt(picture, x, y);
            ASSERT_TRUE(pixel[0] == 0 || pixel[0] == 255) << x << ',' << y;
            ASSERT_TRUE(pixel[1] == pixel[0] && pixel[2] == pixel[0]) << x << ',' << y;
            if (pixel[0] == 0)
                black.insert({x, y});
        }
    }
    EXPECT_EQ(black, line);

    // The mask goes back where it came from: neither command turns the rows over.
    commands().trigger(cmd::ClearAll);
    ASSERT_TRUE(notes().empty());
    importMask(mask);
    EXPECT_EQ(notes(), line);
}

TEST_F(NoteFilesTest, ExportWritesNothingWithoutNotesOrToANameThatIsNoPng)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    commands().trigger(cmd::ExportNotes);
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(lastMessage(), "The image has no notes to export.");
    EXPECT_TRUE(prompt.saveDialogs().empty());

    // A note layer without a single note counts as none, too: the eraser, picked up and put
    // down, leaves one.
    commands().trigger(cmd::Erasure);
    commands().trigger(cmd::Erasure);
    ASSERT_TRUE(doc().hasNoteLayer());
    commands().trigger(cmd::ExportNotes);
    EXPECT_EQ(lastMessage(), "The image has no notes to export.");
    EXPECT_TRUE(prompt.saveDialogs().empty());

    drawPendingLine();
    prompt.queueSavePath(dir.file("notes.bmp"));
    commands().trigger(cmd::ExportNotes);
    EXPECT_EQ(lastMessage(),
              "The notes are saved as a PNG picture.\nChoose a name ending in .png.");
    EXPECT_FALSE(fileExists(dir.file("notes.bmp")));
}

// ---- Import Notes ----------------------------------------------------------------------------

TEST_F(NoteFilesTest, ImportJoinsTheNotesAtOnceAndShowsThem)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    drawPendingLine();
    const Pixels line = layerPixels(*(*view().inspect().pending));
    // Hidden notes are shown again: the user asked to see these.
    commands().trigger(cmd::DisplayNotes);
    ASSERT_FALSE(view().inspect().showNotes);
    const QRect drawn(20, 2, 12, 5);
    ASSERT_TRUE(importMask(writeMask("mask.bmp", 40, 30, drawn)));

    ASSERT_EQ(prompt.openDialogs().size(), 1u);
    EXPECT_EQ(prompt.openDialogs()[0].title, "Import Notes");
    Pixels expected = line;
    const Pixels rect = rectPixels(drawn);
    expected.insert(rect.begin(), rect.end());
    EXPECT_EQ(notes(), expected);
    EXPECT_TRUE(doc().IsModified());
    EXPECT_TRUE(view().inspect().showNotes);
    const QPoint origin = view().inspect().destination.topLeft();
    const Rgb colour = doc().noteColour();
    EXPECT_EQ(view().surface().GetPixel(origin.x() + 25, origin.y() + 4) & 0xFFFFFFu,
              qRgb(colour.red, colour.green, colour.blue) & 0xFFFFFFu);
    EXPECT_TRUE(prompt.messages().empty());
}

// Import is one step: Undo takes back exactly what it added, a drawing undone before it does not
// come back with Redo on top of it, and Redo brings the import back whole.
TEST_F(NoteFilesTest, ImportIsOneStepThatUndoTakesBack)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    const std::string mask = writeMask("mask.bmp", 40, 30, QRect(20, 2, 12, 5));
    drawPendingLine();
    commands().trigger(cmd::Undo);
    ASSERT_TRUE(commands().isEnabled(cmd::Redo));
    importMask(mask);
    const Pixels imported = notes();
    EXPECT_EQ(imported, rectPixels(QRect(20, 2, 12, 5)));
    EXPECT_TRUE(commands().action(cmd::Undo)->text().startsWith("&Undo Import Notes"));
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));

    // A drawing after the import is undone alone.
    drawPendingLine();
    commands().trigger(cmd::Undo);
    commands().trigger(cmd::LineTool);
    EXPECT_EQ(notes(), imported);
    // The eraser's Undo starts again from the notes as they are, imported ones included.
    commands().trigger(cmd::Erasure);
    const QPoint onImported = view().inspect().destination.topLeft() + QPoint(25, 4);
    view().onLButtonDown(onImported);
    view().onMouseMove(onImported, kLeftButton);
    view().onLButtonUp(onImported);
    ASSERT_LT(layerPixels(*(*view().inspect().pending)).size(), imported.size());
    commands().trigger(cmd::Undo);
    commands().trigger(cmd::Erasure);
    EXPECT_EQ(notes(), imported);

    commands().trigger(cmd::Undo);
    EXPECT_TRUE(notes().empty());
    EXPECT_TRUE(commands().action(cmd::Redo)->text().startsWith("&Redo Import Notes"));
    commands().trigger(cmd::Redo);
    EXPECT_EQ(notes(), imported);
}

TEST_F(NoteFilesTest, ImportRefusesWhatItCannotPlaceAndChangesNothing)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    drawPendingLine();
    commands().trigger(cmd::LineTool);
    commands().trigger(cmd::FileSave);
    ASSERT_FALSE(doc().IsModified());
    const Pixels before = notes();

    const std::string small = writeMask("small.bmp", 20, 10, QRect(0, 0, 5, 5));
    importMask(small);
    EXPECT_EQ(lastMessage(), "Cannot import the notes of " + small +
                                 ":\nthe mask is 20x10 pixels but the image is 40x30. Choose a "
                                 "mask of the image's size.");

    const std::string broken = dir.file("broken.png");
    writeFileBytes(broken, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    importMask(broken);
    ASSERT_EQ(prompt.openFailures().size(), 1u);
    EXPECT_EQ(prompt.openFailures()[0].path, broken);
    EXPECT_FALSE(prompt.openFailures()[0].reason.empty());

    const std::string white = writeMask("white.bmp", 40, 30, QRect());
    importMask(white);
    EXPECT_EQ(lastMessage(), white + " has no dark pixels, so no notes were added.");

    // Cancelled.
    commands().trigger(cmd::ImportNotes);
    EXPECT_EQ(prompt.openDialogs().size(), 4u);

    EXPECT_EQ(notes(), before);
    EXPECT_FALSE(doc().IsModified());
    EXPECT_EQ(doc().getPathName(), dir.file("beach.bmp"));
}

// ---- Save Clean Copy -------------------------------------------------------------------------

// Every carrier byte of the picture in the file is odd: no pixel is a note.
void expectPlainCarrier(const std::string& path, uint16_t bitCount)
{
    LoadedImage loaded = loadCheckedImage(path);
    ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
    EXPECT_FALSE(loaded.noteLayer.has_value()) << path;
    EXPECT_EQ(loaded.signature.state, SignatureState::None) << path;
    ASSERT_EQ(DibGetBitCount(loaded.image), bitCount) << path;
    const size_t carrier = bitCount == 32 ? 3 : 0;
    for (int y = 0; y < DibGetHeight(loaded.image); ++y)
        for (int x = 0; x < DibGetWidth(loaded.image); ++x)
            ASSERT_EQ(pixelAt(loaded.image, x, y)[carrier] & 1, 1) << path << ' ' << x << ',' << y;
}

TEST_F(NoteFilesTest, CleanCopyLeavesOutEveryNoteWhileTheDocumentKeepsThem)
{
    const std::string carrier = saveCarrier("carrier.png");
    const std::vector<uint8_t> carrierBytes = readFileBytes(carrier);
    // A line typed and not yet put down is part of the document's notes, not of the copy.
    commands().trigger(cmd::TextTool);
    view().onChar('H');
    view().onChar('i');
    const Pixels line = notes();
    prompt.clear();
    prompt.queueSavePath(dir.file("clean.png"));
    ASSERT_TRUE(commands().trigger(cmd::SaveCleanCopy));

    EXPECT_TRUE(prompt.messages().empty());
    ASSERT_EQ(prompt.saveDialogs().size(), 1u);
    EXPECT_EQ(prompt.saveDialogs()[0].defaultName, "carrier-clean");
    EXPECT_EQ(prompt.saveDialogs()[0].filter.find("jpg"), std::string::npos);
    expectPlainCarrier(dir.file("clean.png"), 32);
    EXPECT_EQ(view().activeTool(), Tool::None);
    EXPECT_GT(notes().size(), line.size());
    EXPECT_TRUE(doc().IsModified());
    EXPECT_EQ(doc().getPathName(), carrier);
    EXPECT_EQ(doc().savePath(), carrier);
    EXPECT_EQ(readFileBytes(carrier), carrierBytes);

    // In the compressed depth the carrier is the blue byte of a 24-bit file.
    prompt.queueSavePath(dir.file("compressed.png"));
    commands().trigger(cmd::SaveAsCompressed);
    ASSERT_FALSE(doc().IsModified());
    prompt.queueSavePath(dir.file("clean24.bmp"));
    ASSERT_TRUE(commands().trigger(cmd::SaveCleanCopy));
    expectPlainCarrier(dir.file("clean24.bmp"), 24);
    EXPECT_FALSE(doc().IsModified());
    EXPECT_EQ(doc().getPathName(), dir.file("compressed.png"));
    EXPECT_TRUE(loadCheckedImage(dir.file("compressed.png")).noteLayer.has_value());

    // A clean copy has no note to lose, so a JPEG name is written without the JPEG question.
    const size_t asked = prompt.messages().size();
    prompt.queueSavePath(dir.file("clean.jpg"));
    ASSERT_TRUE(commands().trigger(cmd::SaveCleanCopy));
    EXPECT_EQ(prompt.messages().size(), asked);
    const LoadedImage jpeg = loadCheckedImage(dir.file("clean.jpg"));
    EXPECT_FALSE(jpeg.image.isNull()) << jpeg.error;
    EXPECT_EQ(jpeg.signature.state, SignatureState::None);
}

TEST_F(NoteFilesTest, CleanCopyNeverReplacesTheDocumentsOwnFile)
{
    const std::string carrier = saveCarrier("carrier.png");
    const std::vector<uint8_t> carrierBytes = readFileBytes(carrier);
    const Pixels before = notes();
    prompt.queueSavePath(carrier);
    commands().trigger(cmd::SaveCleanCopy);
    EXPECT_EQ(lastMessage(), "A clean copy cannot replace the image's own file.\nIts notes would "
                             "be gone for good; choose another name.");
    EXPECT_EQ(readFileBytes(carrier), carrierBytes);
    EXPECT_EQ(notes(), before);
    EXPECT_FALSE(doc().IsModified());
}

// Neither the mask nor a clean copy may take the place of the picture on disk while the window
// shows it unchanged, whatever name the file is given: a link to it or another spelling of it.
TEST_F(NoteFilesTest, NotesAndCleanCopiesNeverReplaceThePicturesOwnFileByAnyName)
{
    const std::string carrier = saveCarrier("carrier.png");
    const std::vector<uint8_t> carrierBytes = readFileBytes(carrier);
    const Pixels before = notes();
    namespace fs = std::filesystem;
    fs::create_symlink(carrier, dir.file("symbolic.png"));
    fs::create_hard_link(carrier, dir.file("hard.png"));
    fs::create_directory_symlink(dir.path(), dir.file("folder-link"));
    const std::string names[] = {carrier, dir.file("symbolic.png"), dir.file("hard.png"),
                                 dir.file("./carrier.png"), dir.file("folder-link/carrier.png")};
    const struct {
        int command;
        const char* refusal;
    } commandsTried[] = {
        {cmd::ExportNotes, "The notes cannot be saved over the image's own file.\nThe picture "
                           "would be gone; choose another name."},
        {cmd::SaveCleanCopy, "A clean copy cannot replace the image's own file.\nIts notes would "
                             "be gone for good; choose another name."},
    };
    for (const auto& tried : commandsTried) {
        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            prompt.clear();
            prompt.queueSavePath(name);
            commands().trigger(tried.command);
            ASSERT_EQ(prompt.messages().size(), 1u);
            EXPECT_EQ(lastMessage(), tried.refusal);
            EXPECT_EQ(readFileBytes(carrier), carrierBytes);
            EXPECT_TRUE(fs::is_symlink(dir.file("symbolic.png")));
            EXPECT_EQ(fs::hard_link_count(carrier), 2u);
            EXPECT_EQ(notes(), before);
            EXPECT_FALSE(doc().IsModified());
        }
    }
    // Another file beside it takes the mask.
    prompt.queueSavePath(dir.file("mask.png"));
    EXPECT_TRUE(commands().trigger(cmd::ExportNotes));
    EXPECT_TRUE(fileExists(dir.file("mask.png")));
}

// ---- notes found in a turned or mirrored picture --------------------------------------------

TEST_F(NoteFilesTest, ATurnedCarrierOpensModifiedAndTheStatusBarSaysWhy)
{
    const std::string carrier = saveCarrier("carrier.png");
    const NoteLayer drawn = *doc().noteLayer();
    Result<Dib> pixels = ReadPngFile(carrier);
    ASSERT_TRUE(pixels.ok()) << pixels.error();
    EXPECT_EQ(frame->idleStatusText(), "Ready");

    const struct {
        Orientation orientation;
        const char* status;
    } cases[] = {
        {Orientation::Turned90, "Notes found in a picture turned 90\u00B0 clockwise; saving "
                                "puts the signature back"},
        {Orientation::Flipped, "Notes found in a flipped picture; saving puts the signature back"},
    };
    for (const auto& c : cases) {
        const std::string turned = dir.file(std::string(orientationName(c.orientation)) + ".png");
        ASSERT_TRUE(succeeded(WritePngFile(turned, orientedCopy(pixels.value(), c.orientation))));
        if (doc().IsModified())
            prompt.queueAnswer(Answer::No);
        ASSERT_TRUE(frame->openFile(QString::fromStdString(turned)));
        EXPECT_TRUE(doc().IsModified());
        EXPECT_EQ(frame->idleStatusText(), c.status);
        EXPECT_EQ(*doc().noteLayer(), orientedNotes(drawn, 40, 30, c.orientation));
    }

    // Saved, the file has its marker back in place: nothing more to say, even after more drawing.
    commands().trigger(cmd::FileSave);
    EXPECT_FALSE(doc().IsModified());
    EXPECT_EQ(frame->idleStatusText(), "Ready");
    drawPendingLine();
    commands().trigger(cmd::LineTool);
    EXPECT_EQ(frame->idleStatusText(), "Ready");
    prompt.queueAnswer(Answer::No);
    ASSERT_TRUE(frame->openFile(QString::fromStdString(dir.file("flipped.png"))));
    EXPECT_EQ(doc().foundSignature().orientation, Orientation::Normal);
    EXPECT_FALSE(doc().IsModified());

    // Another picture, or none, has its own story.
    ASSERT_TRUE(frame->openFile(QString::fromStdString(dir.file("turned-90.png"))));
    EXPECT_NE(frame->idleStatusText(), "Ready");
    prompt.queueAnswer(Answer::No);
    commands().trigger(cmd::FileNew);
    EXPECT_EQ(frame->idleStatusText(), "Ready");
}

} // namespace
} // namespace ombri::writer
