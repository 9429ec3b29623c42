#include "platform/qt/dib_draw.h"
#include "reader/ui/image_view.h"

#include "formats/bmp.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/openable_reader_document.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"
#include "support/view_events.h"

#include <QApplication>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

constexpr QRgb kBackground = 0x8080FF;
constexpr QRgb kGrey = 0x646464; // the pictures without notes
// The carrier pictures' plain and note pixels: the note is in the blue low bit.
constexpr QRgb kCarrierPlain = 0x646465;
constexpr QRgb kCarrierNote = 0x646464;
constexpr QRgb kRed = 0xFF0000;

// A grey picture, with a block of notes [x0, x1) x [y0, y1) (rows from the top) when asked.
void writePicture(const std::string& path, int width, int height, QRect notes = QRect())
{
    Dib picture = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(picture);
    std::memset(picture.data() + layout->pixelOffset, 0x64, layout->pixelBytes);
    if (notes.isEmpty()) {
        ASSERT_TRUE(test::succeeded(WriteBmpFile(path, picture)));
        return;
    }
    NoteLayer layer(static_cast<size_t>(width) * height, 0);
    for (int y = notes.top(); y <= notes.bottom(); ++y)
        for (int x = notes.left(); x <= notes.right(); ++x)
            layer[static_cast<size_t>(height - 1 - y) * width + x] = 1;
    Dib carrier = MakeCarrierCopy(picture, layer, SaveDepth::Bits24);
    WriteOmbriSignature(carrier.data() + dibGetLayout(carrier)->pixelOffset);
    ASSERT_TRUE(test::succeeded(WriteBmpFile(path, carrier)));
}

// The view on a real document, 400 x 300 on the offscreen screen, with the folder tree and the
// frame standing in as recorders.
class ImageViewTest : public testing::Test {
  protected:
    ImageViewTest() : m_savedDirectory(fs::current_path())
    {
        ImageView::Hooks hooks;
        hooks.goToPath = [this](const std::string& path) {
            visited.push_back(path + (doc.hasImage() ? " after open" : ""));
            // In show-files mode the tree's selection opens the file, as a click does.
            return !treeOpensFiles || doc.OpenImagePath(path);
        };
        hooks.leaveFullScreen = [this] { ++fullScreenExits; };
        view.setHooks(hooks);
        view.resize(400, 300);
        view.show();
        QApplication::processEvents();
    }
    // Opening a picture moves the process into the picture's folder.
    ~ImageViewTest() override { fs::current_path(m_savedDirectory); }

    // Shows a picture as the file list or the tree would.
    void open(int width, int height, QRect notes = QRect(), const std::string& name = "p.bmp")
    {
        writePicture(dir.file(name), width, height, notes);
        ASSERT_TRUE(doc.OpenImagePath(dir.file(name)));
    }
    QRgb shown(int x, int y) const { return view.inspect().frame.pixel(x, y) & 0xFFFFFFu; }
    void run(int command) { ASSERT_TRUE(view.onCommand(command)); }

    fs::path m_savedDirectory;
    test::TempDir dir;
    ScriptedPrompt prompt;
    OpenableReaderDocument doc{prompt};
    ImageView view{doc};
    std::vector<std::string> visited;
    bool treeOpensFiles = false;
    int fullScreenExits = 0;
};

// --- Where the picture goes ---

TEST_F(ImageViewTest, FirstPicturesAreFittedInAndCentred)
{
    EXPECT_EQ(view.inspect().zoomMode, ZoomMode::FitIn);
    EXPECT_EQ(shown(200, 150), kBackground);
    open(800, 200);
    EXPECT_FLOAT_EQ(view.inspect().zoom, 0.5f);
    EXPECT_EQ(view.inspect().destination, QRect(0, 100, 400, 100));
    EXPECT_EQ(shown(200, 99), kBackground);
    EXPECT_EQ(shown(200, 100), kGrey);
    open(150, 600);
    EXPECT_EQ(view.inspect().destination, QRect(162, 0, 75, 300));

    run(cmd::FitIn);
    EXPECT_EQ(view.inspect().zoomMode, ZoomMode::Free);
    open(100, 60); // the mode stays for the next picture
    EXPECT_EQ(view.inspect().destination, QRect(150, 120, 100, 60));
}

TEST_F(ImageViewTest, ZoomStepsAndFitCommands)
{
    open(100, 60);
    EXPECT_FLOAT_EQ(view.inspect().zoom, 4.0f);
    run(cmd::ZoomIn); // free zoom starts from the fitted scale
    EXPECT_EQ(view.inspect().zoomMode, ZoomMode::Free);
    EXPECT_FLOAT_EQ(view.inspect().zoom, 5.0f);
    run(cmd::OriginalSize);
    run(cmd::ZoomIn);
    run(cmd::ZoomIn);
    EXPECT_EQ(view.inspect().zoom, 1.5625f);
    run(cmd::OriginalSize);
    run(cmd::ZoomIn);
    run(cmd::ZoomOut);
    EXPECT_EQ(view.inspect().zoom, 1.0f);
    EXPECT_TRUE(view.isCommandChecked(cmd::OriginalSize));

    run(cmd::FitHeight);
    EXPECT_TRUE(view.isCommandChecked(cmd::FitHeight));
    run(cmd::FitHeight);
    EXPECT_EQ(view.inspect().zoomMode, ZoomMode::Free);
    EXPECT_EQ(view.inspect().zoom, 1.0f);

    // Original Size changes nothing while a fit happens to show the picture at 1.0.
    open(400, 300);
    run(cmd::FitIn);
    run(cmd::OriginalSize);
    EXPECT_EQ(view.inspect().zoomMode, ZoomMode::FitIn);
}

TEST_F(ImageViewTest, PlacementRules)
{
    const ViewGeometry pane{{983, 583}, {1000, 600}, 17, 17};
    struct Case {
        ZoomMode mode;
        float zoom;
        QSize picture;
        QRect expected;
        float scale;
    };
    const Case cases[] = {
        // Short enough without the vertical bar: the whole width is used.
        {ZoomMode::FitWidth, 1, {2000, 500}, {0, 0, 1000, 250}, 0.5f},
        {ZoomMode::FitWidth, 1, {1000, 2000}, {0, 0, 983, 1966}, 0.983f},
        {ZoomMode::FitHeight, 1, {500, 2000}, {0, 0, 150, 600}, 0.3f},
        {ZoomMode::FitHeight, 1, {2000, 1000}, {0, 0, 1166, 583}, 0.583f},
        {ZoomMode::Free, 0.5f, {100, 60}, {466, 276, 50, 30}, 0.5f},
        {ZoomMode::Free, 2, {600, 400}, {0, 0, 1200, 800}, 2},
        {ZoomMode::Free, 2, {800, 100}, {0, 191, 1600, 200}, 2},
    };
    for (const Case& c : cases) {
        const Placement placed = placePicture(c.mode, c.zoom, c.picture, pane);
        EXPECT_EQ(placed.destination, c.expected) << c.picture.width() << "x" << c.picture.height();
        EXPECT_FLOAT_EQ(placed.zoom, c.scale);
    }

    // On the widget: a tall picture under Fit Width leaves room for the vertical bar and needs
    // no horizontal one.
    open(400, 1000);
    run(cmd::FitWidth);
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.inspect().destination.width(), view.inspect().client.width());
}

// The same rule on the widget itself: a wide picture under Fit Width in a view of 1000 x 600
// needs neither bar, so the whole width is used.
TEST_F(ImageViewTest, FitWidthOfAWidePictureUsesTheWholeWidth)
{
    const QSize border = view.size() - view.inspect().client;
    view.resize(QSize(1000, 600) + border);
    QApplication::processEvents();
    ASSERT_EQ(view.inspect().client, QSize(1000, 600));
    open(2000, 500);
    run(cmd::FitWidth);
    EXPECT_FLOAT_EQ(view.inspect().zoom, 0.5f);
    EXPECT_EQ(view.inspect().destination.size(), QSize(1000, 250));
    EXPECT_EQ(view.inspect().client, QSize(1000, 600));
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(shown(999, view.inspect().destination.top() + 10), kGrey);
}

// --- The background ---

TEST_F(ImageViewTest, BackgroundRule)
{
    open(800, 100);
    run(cmd::FitIn); // free zoom at 1.0: wider than the view, not taller
    EXPECT_EQ(shown(10, view.inspect().client.height() - 1), kBackground);

    view.setBackgroundColour(0x030201);
    view.redrawNow(Background::Keep); // the old background stays
    EXPECT_EQ(shown(10, view.inspect().client.height() - 1), kBackground);
    // Only that one repaint kept it: the next paint of the whole view erases again.
    view.invalidate();
    view.viewport()->repaint();
    EXPECT_EQ(shown(10, view.inspect().client.height() - 1), 0x010203u);
    view.setBackgroundColour(0x060504);
    view.redrawNow(Background::Erase);
    EXPECT_EQ(shown(10, view.inspect().client.height() - 1), 0x040506u);
}

// --- Keys, wheel, mouse ---

TEST_F(ImageViewTest, Keys)
{
    open(100, 60);
    run(cmd::OriginalSize);
    // The main keyboard's zoom keys are passed on to the window; the keypad's are the menu's
    // own shortcuts and are not.
    EXPECT_FALSE(test::pressKey(view, Qt::Key_Equal, Qt::NoModifier, "="));
    EXPECT_FALSE(test::pressKey(view, Qt::Key_Plus, Qt::NoModifier, "+"));
    EXPECT_EQ(view.inspect().zoom, 1.5625f);
    EXPECT_FALSE(test::pressKey(view, Qt::Key_Minus, Qt::NoModifier, "-"));
    EXPECT_FALSE(test::pressKey(view, Qt::Key_0, Qt::KeypadModifier, "0"));
    EXPECT_EQ(view.inspect().zoom, 1.25f);
    EXPECT_FALSE(test::pressKey(view, Qt::Key_0, Qt::NoModifier, "0"));
    EXPECT_EQ(view.inspect().zoom, 1.0f);
    EXPECT_TRUE(test::pressKey(view, Qt::Key_Plus, Qt::KeypadModifier, "+"));
    EXPECT_TRUE(test::pressKey(view, Qt::Key_Minus, Qt::KeypadModifier, "-"));
    EXPECT_EQ(view.inspect().zoom, 1.0f);
    EXPECT_FALSE(test::pressKey(view, Qt::Key_Escape));
    EXPECT_EQ(fullScreenExits, 1);

    // The space bar is kept from the rest only when it toggled notes.
    EXPECT_FALSE(test::pressKey(view, Qt::Key_Space, Qt::NoModifier, " "));
    EXPECT_FALSE(view.inspect().showNotes);
    open(100, 60, QRect(10, 10, 20, 20), "notes.bmp");
    EXPECT_TRUE(test::pressKey(view, Qt::Key_Space, Qt::NoModifier, " "));
    EXPECT_TRUE(view.inspect().showNotes);
}

TEST_F(ImageViewTest, WheelAndDragScroll)
{
    open(800, 600);
    run(cmd::FitIn);
    EXPECT_TRUE(view.inspect().moveCursor);
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::SizeAllCursor);
    test::dragMouse(view, {150, 150}, {{50, 50}}); // the picture follows the mouse
    EXPECT_EQ(view.inspect().scroll, QPoint(100, 100));
    EXPECT_TRUE(test::turnWheel(view, 120));
    EXPECT_EQ(view.inspect().scroll, QPoint(100, 76));
    EXPECT_TRUE(test::turnWheel(view, -7));
    EXPECT_EQ(view.inspect().scroll, QPoint(100, 77));
    EXPECT_TRUE(test::turnWheel(view, -120));
    EXPECT_EQ(view.inspect().scroll, QPoint(100, 101));

    test::dragMouse(view, {50, 50}, {{40, 45}});
    EXPECT_EQ(view.inspect().scroll, QPoint(110, 106));
    test::dragMouse(view, {40, 45}, {{0, 0}}, Qt::ShiftModifier);
    test::dragMouse(view, {40, 45}, {{0, 0}}, Qt::NoModifier, Qt::RightButton);
    EXPECT_EQ(view.inspect().scroll, QPoint(110, 106));

    run(cmd::FitIn);
    EXPECT_FALSE(view.inspect().moveCursor);
}

// Panning is a drag with exactly the left button and no modifier key.
TEST_F(ImageViewTest, DragsWithAModifierKeyDoNotPan)
{
    open(800, 600);
    run(cmd::FitIn); // free zoom at 1.0: larger than the view
    const auto drag = [this](Qt::KeyboardModifiers modifiers) {
        test::dragMouse(view, {50, 50}, {{40, 45}}, modifiers);
    };
    for (Qt::KeyboardModifiers modifiers :
         {Qt::AltModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::MetaModifier}) {
        drag(modifiers);
        EXPECT_EQ(view.inspect().scroll, QPoint(0, 0)) << modifiers.toInt();
    }
    drag(Qt::NoModifier);
    EXPECT_EQ(view.inspect().scroll, QPoint(10, 5));
}

// --- Notes and their colours ---

TEST_F(ImageViewTest, NotesAndColourCommands)
{
    open(200, 100);
    EXPECT_FALSE(view.isCommandEnabled(cmd::DisplayNotes));
    EXPECT_FALSE(view.isCommandEnabled(cmd::ColourGreen));
    EXPECT_TRUE(view.isCommandEnabled(cmd::ZoomIn));

    open(200, 100, QRect(40, 20, 40, 40), "notes.bmp"); // Fit In at 2.0 from (0, 50)
    EXPECT_TRUE(view.isCommandEnabled(cmd::ColourSelected));
    EXPECT_TRUE(view.isCommandChecked(cmd::ColourRed));
    EXPECT_EQ(shown(121, 131), kCarrierNote);
    view.onCommand(cmd::DisplayNotes);
    EXPECT_TRUE(view.isCommandChecked(cmd::DisplayNotes));
    EXPECT_EQ(shown(121, 131), kRed);
    EXPECT_EQ(shown(10, 60), kCarrierPlain);

    const uint64_t conversions = view.inspect().pictureConversions;
    view.onCommand(cmd::ColourGreen);
    EXPECT_EQ(shown(121, 131), 0x00FF00u);
    EXPECT_TRUE(view.isCommandChecked(cmd::ColourGreen));
    view.onCommand(cmd::ColourGreen); // already chosen: no repaint
    // The notes are laid over the picture as each frame is drawn: a colour makes nothing anew.
    EXPECT_EQ(view.inspect().pictureConversions, conversions);

    prompt.queueColour(Rgb{1, 2, 3});
    view.onCommand(cmd::ColourSelected);
    view.viewport()->repaint();
    EXPECT_EQ(prompt.colourDialogs().at(0), (Rgb{0, 255, 0}));
    EXPECT_EQ(shown(121, 131), 0x010203u);
    EXPECT_TRUE(view.isCommandChecked(cmd::ColourSelected));

    view.onCommand(cmd::DisplayNotes);
    EXPECT_EQ(shown(121, 131), kCarrierNote);
}

TEST_F(ImageViewTest, PaintingConvertsThePictureOnlyWhenItChanges)
{
    open(800, 600);
    const uint64_t conversions = view.inspect().pictureConversions;
    run(cmd::ZoomIn);
    test::dragMouse(view, {60, 60}, {{30, 30}});
    run(cmd::FitWidth);
    view.resize(300, 200);
    view.viewport()->repaint();
    QApplication::processEvents();
    EXPECT_EQ(view.inspect().pictureConversions, conversions);
    doc.onAdjustmentCommand(cmd::InvertColour);
    EXPECT_EQ(view.inspect().pictureConversions, conversions + 1);
    EXPECT_EQ(shown(10, 10), 0x9B9B9Bu);
}

// --- How the picture is drawn ---

// A carrier of noise with notes scattered over 2% of it, so that any pixel out of place shows.
void writeNoisyCarrier(const std::string& path, int width, int height)
{
    Dib picture = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(picture);
    std::mt19937 random(29);
    for (size_t i = 0; i < layout->pixelBytes; ++i)
        picture.data()[layout->pixelOffset + i] = static_cast<uint8_t>(random());
    NoteLayer layer(static_cast<size_t>(width) * height, 0);
    for (auto& note : layer)
        note = random() % 50 == 0 ? 1 : 0;
    Dib carrier = MakeCarrierCopy(picture, layer, SaveDepth::Bits24);
    WriteOmbriSignature(carrier.data() + dibGetLayout(carrier)->pixelOffset);
    ASSERT_TRUE(test::succeeded(WriteBmpFile(path, carrier)));
}

// What the view showed before it rendered from the unturned picture: the whole display copy,
// turned and with its notes, stretched into the frame by whole pixels.
QImage wholeCopyFrame(ReaderDocument& doc, const ImageView& view)
{
    const ImageView::Inspection seen = view.inspect();
    QImage frame(seen.frame.size(), QImage::Format_RGB32);
    frame.fill(kBackground);
    const Dib* display = doc.BuildDisplayImage(seen.showNotes);
    const QImage picture = dibToQImage(*display).convertToFormat(QImage::Format_RGB32);
    QPainter painter(&frame);
    DibDraw(painter, seen.destination.translated(-seen.deviceScroll), picture, picture.rect());
    return frame;
}

// The turns and flips, each with and without notes: the pixels the sharp look shows, above
// 100% and below it with smooth shrinking off, are the ones the whole display copy gave.
TEST_F(ImageViewTest, SharpPixelsAreThoseOfTheWholeDisplayCopy)
{
    writeNoisyCarrier(dir.file("noise.bmp"), 97, 61);
    ASSERT_TRUE(doc.OpenImagePath(dir.file("noise.bmp")));
    ASSERT_TRUE(doc.hasNoteLayer());
    const auto compare = [&](const char* where) {
        const QImage frame = view.inspect().frame.convertToFormat(QImage::Format_RGB32);
        QImage expected = wholeCopyFrame(doc, view);
        expected.setDevicePixelRatio(frame.devicePixelRatio());
        EXPECT_TRUE(frame == expected)
            << where << " flags " << doc.adjustments().flags << " notes " << view.showNotes();
    };
    for (int turns = 0; turns < 4; ++turns)
        for (int flips = 0; flips < 4; ++flips)
            for (const bool notes : {false, true}) {
                doc.onAdjustmentCommand(cmd::Original);
                for (int turn = 0; turn < turns; ++turn)
                    doc.onAdjustmentCommand(cmd::RotateClockwise);
                if (flips & 1)
                    doc.onAdjustmentCommand(cmd::FlipHorizontal);
                if (flips & 2)
                    doc.onAdjustmentCommand(cmd::FlipVertical);
                if (view.showNotes() != notes)
                    run(cmd::DisplayNotes);
                view.setSmoothShrinking(true);
                run(cmd::OriginalSize);
                run(cmd::ZoomIn);
                run(cmd::ZoomIn);
                run(cmd::ZoomIn);
                compare("zoomed in");
                for (int step = 0; step < 6; ++step)
                    run(cmd::ZoomIn);
                view.horizontalScrollBar()->setValue(37);
                view.verticalScrollBar()->setValue(23);
                compare("zoomed in and scrolled");
                view.setSmoothShrinking(false);
                view.resize(60, 45);
                run(cmd::FitIn);
                compare("fitted in, unfiltered");
                view.resize(400, 300);
                run(cmd::FitIn);
            }
}

TEST_F(ImageViewTest, SmoothShrinkingAveragesBelowOneHundredPercent)
{
    // Columns of black and white: averaged they are grey, unfiltered black or white.
    Dib stripes = Dib::create(801, 601, 24);
    const auto layout = dibGetLayout(stripes);
    for (int y = 0; y < 601; ++y)
        for (int x = 0; x < 801; ++x)
            std::memset(stripes.data() + layout->pixelOffset + y * layout->stride + 3 * x,
                        x % 2 ? 255 : 0, 3);
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("stripes.bmp"), stripes)));
    ASSERT_TRUE(doc.OpenImagePath(dir.file("stripes.bmp")));
    const QRect inside = view.inspect().destination.adjusted(1, 1, -1, -1);
    const auto greys = [&] {
        int count = 0;
        const QImage frame = view.inspect().frame;
        for (int y = inside.top(); y <= inside.bottom(); y += 7)
            for (int x = inside.left(); x <= inside.right(); x += 5)
                count += std::abs(qGray(frame.pixel(x, y)) - 128) <= 2 ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(view.smoothShrinking());
    const int all = ((inside.height() + 6) / 7) * ((inside.width() + 4) / 5);
    EXPECT_EQ(greys(), all);
    view.setSmoothShrinking(false);
    view.viewport()->repaint();
    EXPECT_EQ(greys(), 0);
}

// --- Printing ---

// The PDF as pixels, by Ghostscript; empty when it is not installed.
test::Pixmap rasterise(const std::string& pdf, const std::string& ppm)
{
    const std::string command =
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r20 -sOutputFile='" + ppm + "' '" + pdf +
        "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return {};
    return test::readPixmap(ppm);
}

TEST_F(ImageViewTest, PrintingFillsThePageWidthWithWhatTheViewShows)
{
    EXPECT_EQ(printDestination(1000, 500, 4800, 6600, 600, 600), QRect(0, 2100, 4800, 2400));
    EXPECT_EQ(printDestination(1000, 500, 4800, 6600, 600, 300), QRect(0, 2700, 4800, 1200));

    open(200, 100, QRect(40, 20, 120, 60), "notes.bmp");
    QImage page(200, 400, QImage::Format_RGB32);
    page.setDotsPerMeterX(3937);
    page.setDotsPerMeterY(3937);
    page.fill(Qt::white);
    view.printPicture(page);
    EXPECT_EQ(page.pixel(100, 149) & 0xFFFFFFu, 0xFFFFFFu);
    EXPECT_EQ(page.pixel(100, 200) & 0xFFFFFFu,
              kCarrierNote); // notes hidden on screen, hidden on paper
    run(cmd::DisplayNotes);
    doc.onAdjustmentCommand(cmd::InvertColour);
    view.printPicture(page);
    EXPECT_EQ(page.pixel(100, 200) & 0xFFFFFFu, kRed);
    EXPECT_EQ(page.pixel(10, 155) & 0xFFFFFFu, 0x9B9B9Au); // the adjustment is printed too

    for (const bool notes : {true, false}) {
        if (view.showNotes() != notes)
            run(cmd::DisplayNotes);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        const std::string pdf = dir.file("page.pdf");
        printer.setOutputFileName(QString::fromStdString(pdf));
        view.printPicture(printer);
        const auto bytes = test::readFileBytes(pdf);
        ASSERT_GT(bytes.size(), 100u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "%PDF-");
        const test::Pixmap pixels = rasterise(pdf, dir.file("page.ppm"));
        if (pixels.samples.empty())
            continue;
        const uint8_t* centre =
            &pixels.samples[((pixels.height / 2) * pixels.width + pixels.width / 2) * 3];
        EXPECT_NEAR(centre[0], notes ? 255 : 155, 8);
        EXPECT_NEAR(centre[1], notes ? 0 : 155, 8);
    }
}

// --- Dropped files ---

// Paper has no checkerboard: a see-through pixel is printed as it looks over white, whatever
// colour is stored under it, and alpha 254 is as opaque as 255.
TEST_F(ImageViewTest, PrintingLaysSeeThroughPixelsOverWhite)
{
    const uint8_t alphas[] = {0, 128, 254, 255};
    Dib picture = Dib::create(4, 2, 32);
    const auto layout = dibGetLayout(picture);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            uint8_t* pixel = picture.data() + layout->pixelOffset + y * layout->stride + 4 * x;
            pixel[0] = 0;
            pixel[1] = 0;
            pixel[2] = 200;
            pixel[3] = alphas[x];
        }
    ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("soft.png"), picture)));
    ASSERT_TRUE(doc.OpenImagePath(dir.file("soft.png")));
    ASSERT_TRUE(doc.showsTransparency());
    QImage page(400, 400, QImage::Format_RGB32);
    page.fill(0x102030);
    view.printPicture(page);
    const auto printed = [&page](int column) {
        return page.pixel(column * 100 + 50, 200) & 0xFFFFFFu;
    };
    EXPECT_EQ(printed(0), 0xFFFFFFu);
    EXPECT_EQ(printed(1), 0xE37F7Fu);
    EXPECT_EQ(printed(2), 0xC80000u);
    EXPECT_EQ(printed(3), 0xC80000u);
    // What the adjustments make of the colours is printed over white the same way.
    doc.onAdjustmentCommand(cmd::InvertColour);
    view.printPicture(page);
    EXPECT_EQ(printed(0), 0xFFFFFFu);
    EXPECT_EQ(printed(3), 0x37FFFFu);
}

TEST_F(ImageViewTest, DropGoesToThePathInTheTreeThenOpens)
{
    writePicture(dir.file("a.bmp"), 40, 30, QRect(5, 5, 10, 10));
    writePicture(dir.file("b.bmp"), 50, 30, QRect(5, 5, 10, 10));
    QSignalSpy opened(&view, &ImageView::pictureOpened);
    test::dropUrls(view, {QUrl::fromLocalFile(QString::fromStdString(dir.file("a.bmp"))),
                          QUrl::fromLocalFile(QString::fromStdString(dir.file("b.bmp")))});
    EXPECT_EQ(visited, std::vector<std::string>{dir.file("a.bmp")});
    EXPECT_EQ(doc.currentPath(), dir.file("a.bmp"));
    EXPECT_EQ(opened.count(), 1);

    // Unlike a click in the list, a drop keeps the notes shown.
    run(cmd::DisplayNotes);
    treeOpensFiles = true;
    test::dropFile(view, dir.file("b.bmp"));
    EXPECT_EQ(opened.count(), 2);
    EXPECT_TRUE(view.inspect().showNotes);
    EXPECT_EQ(doc.width(), 50);

    test::writeFileBytes(dir.file("c.bmp"), {'x'});
    test::dropFile(view, dir.file("c.bmp"));
    EXPECT_EQ(opened.count(), 2);
    EXPECT_FALSE(doc.hasImage());
    EXPECT_EQ(shown(200, 150), kBackground);
}

} // namespace
} // namespace ombri::reader
