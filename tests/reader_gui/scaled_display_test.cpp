#include "platform/qt/dib_draw.h"
#include "reader/ui/image_view.h"

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/openable_reader_document.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

// These run in the ctest entry that scales the screen by two (QT_SCALE_FACTOR=2); in the plain
// run the screen is not scaled and they are skipped.

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

constexpr QRgb kDark = 0x282828;
constexpr QRgb kLight = 0xD8D8D8;
constexpr QRgb kPureRed = 0xFF0000;

// A checkerboard of single pixels, with a one-pixel note stroke along row noteRow from x = 2 to
// width - 3 when noteRow is not negative.
Dib checkerboard(int width, int height, int noteRow = -1)
{
    Dib picture = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(picture);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.data() + layout->pixelOffset +
                       static_cast<size_t>(height - 1 - y) * layout->stride;
        for (int x = 0; x < width; ++x)
            std::memset(row + 3 * x, (x + y) % 2 ? 0xD8 : 0x28, 3);
    }
    if (noteRow < 0)
        return picture;
    NoteLayer layer(static_cast<size_t>(width) * height, 0);
    for (int x = 2; x < width - 2; ++x)
        layer[static_cast<size_t>(height - 1 - noteRow) * width + x] = 1;
    Dib carrier = MakeCarrierCopy(picture, layer, SaveDepth::Bits24);
    WriteOmbriSignature(carrier.data() + dibGetLayout(carrier)->pixelOffset);
    return carrier;
}

// The view, 400 x 300 logical pixels: 800 x 600 screen pixels.
class ScaledImageViewTest : public testing::Test {
  protected:
    ScaledImageViewTest() : m_savedDirectory(fs::current_path())
    {
        view.resize(400, 300);
        view.show();
        QApplication::processEvents();
    }
    ~ScaledImageViewTest() override { fs::current_path(m_savedDirectory); }

    void SetUp() override
    {
        if (view.viewport()->devicePixelRatio() != 2.0)
            GTEST_SKIP() << "the screen is not scaled by two";
        ASSERT_EQ(view.inspect().deviceClient, QSize(800, 600));
    }

    // Notes are drawn with hard edges, so that any colour between note and picture can only
    // have come from the view.
    void open(const Dib& picture)
    {
        if (doc.antiAliasing())
            doc.ToggleAntiAliasing();
        const std::string path = dir.file("p.bmp");
        ASSERT_TRUE(test::succeeded(WriteBmpFile(path, picture)));
        ASSERT_TRUE(doc.OpenImagePath(path));
    }
    QRgb shown(int x, int y) const { return view.inspect().frame.pixel(x, y) & 0xFFFFFFu; }

    fs::path m_savedDirectory;
    test::TempDir dir;
    ScriptedPrompt prompt;
    OpenableReaderDocument doc{prompt};
    ImageView view{doc};
};

TEST_F(ScaledImageViewTest, OriginalSizeShowsEachPicturePixelAsOneScreenPixel)
{
    open(checkerboard(100, 60, 30));
    view.onCommand(cmd::OriginalSize);
    EXPECT_FLOAT_EQ(view.inspect().zoom, 1.0f);
    EXPECT_TRUE(view.isCommandChecked(cmd::OriginalSize));
    // Centred in screen pixels.
    ASSERT_EQ(view.inspect().destination, QRect(350, 270, 100, 60));
    EXPECT_EQ(view.inspect().frame.devicePixelRatio(), 2.0);
    EXPECT_EQ(view.inspect().frame.size(), QSize(800, 600));

    for (const bool notes : {false, true}) {
        if (notes != view.isCommandChecked(cmd::DisplayNotes))
            view.onCommand(cmd::DisplayNotes);
        QImage expected = dibToQImage(*doc.BuildDisplayImage(notes));
        int redPixels = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 100; ++x) {
                const QRgb pixel = shown(350 + x, 270 + y);
                ASSERT_EQ(pixel, expected.pixel(x, y) & 0xFFFFFFu) << x << "," << y;
                redPixels += pixel == kPureRed;
            }
        // The stroke is one screen pixel high and every pixel of it is pure note colour.
        EXPECT_EQ(redPixels, notes ? 96 : 0);
        if (notes) {
            EXPECT_EQ(shown(360, 300), kPureRed);
            EXPECT_NE(shown(360, 299), kPureRed);
            EXPECT_NE(shown(360, 301), kPureRed);
        }
    }
    EXPECT_EQ(shown(349, 300) & 0xFFFFFFu, shown(0, 0)); // background just left of it
}

TEST_F(ScaledImageViewTest, WholeZoomsRepeatPixelsWithoutBlending)
{
    open(checkerboard(100, 60, 30));
    view.onCommand(cmd::DisplayNotes);
    view.onCommand(cmd::FitIn); // already Fit In: back to Original Size
    view.onCommand(cmd::FitIn);
    // Fitted by screen pixels: 8 of them per picture pixel, centred.
    EXPECT_FLOAT_EQ(view.inspect().zoom, 8.0f);
    ASSERT_EQ(view.inspect().destination, QRect(0, 60, 800, 480));
    // Each picture pixel is an 8 x 8 block of its own colour: no blending at the edges.
    const QImage expected = dibToQImage(*doc.BuildDisplayImage(true));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            for (int dy = 0; dy < 8; ++dy)
                for (int dx = 0; dx < 8; ++dx)
                    ASSERT_EQ(shown(8 * x + dx, 60 + 8 * y + dy), expected.pixel(x, y) & 0xFFFFFFu)
                        << x << "," << y;
    // Row 30 is screen rows 300 to 307; picture column 2 starts at screen column 16.
    EXPECT_EQ(shown(16, 60 + 8 * 30), kPureRed);
    EXPECT_EQ(shown(23, 60 + 8 * 30 + 7), kPureRed);
    EXPECT_NE(shown(15, 60 + 8 * 30), kPureRed);
    EXPECT_NE(shown(16, 60 + 8 * 30 - 1), kPureRed);
}

TEST_F(ScaledImageViewTest, ScrollingAndDraggingCountLogicalPixels)
{
    // 1001 x 700 screen pixels, more than the area left beside the scroll bars: the bars count
    // the hidden part in logical pixels, an odd screen pixel left over rounding up.
    open(checkerboard(1001, 700));
    view.onCommand(cmd::OriginalSize);
    ASSERT_EQ(view.inspect().destination, QRect(0, 0, 1001, 700));
    const QSize client = view.inspect().deviceClient;
    ASSERT_EQ(client, view.inspect().client * 2);
    const QSize hidden(1001 - client.width(), 700 - client.height());
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), (hidden.width() + 1) / 2);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), (hidden.height() + 1) / 2);
    EXPECT_TRUE(view.inspect().moveCursor);
    EXPECT_EQ(view.viewport()->cursor().shape(), Qt::SizeAllCursor);
    const QImage picture = dibToQImage(*doc.BuildDisplayImage(false));

    // A drag of 10 logical pixels moves the picture by 20 screen pixels.
    QWidget* port = view.viewport();
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QMouseEvent move(QEvent::MouseMove, QPointF(90, 95), port->mapToGlobal(QPointF(90, 95)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(port, &move);
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, QPoint(90, 95));
    EXPECT_EQ(view.inspect().scroll, QPoint(10, 5));
    EXPECT_EQ(view.inspect().deviceScroll, QPoint(20, 10));
    view.viewport()->repaint();
    EXPECT_EQ(shown(0, 0), picture.pixel(20, 10) & 0xFFFFFFu);
    EXPECT_EQ(shown(1, 0), picture.pixel(21, 10) & 0xFFFFFFu);

    // At the far end the last picture column is the last screen column, not half a step past.
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    EXPECT_EQ(view.inspect().deviceScroll, QPoint(hidden.width(), hidden.height()));
    view.viewport()->repaint();
    const int bottom = client.height() - 1;
    for (int x = client.width() - 10; x < client.width(); ++x)
        EXPECT_EQ(shown(x, bottom), picture.pixel(hidden.width() + x, 699) & 0xFFFFFFu) << x;
}

TEST_F(ScaledImageViewTest, PrintingIgnoresTheScreenScale)
{
    open(checkerboard(100, 60));
    QImage page(1000, 1400, QImage::Format_RGB32);
    page.fill(Qt::white);
    view.printPicture(page);
    // The picture fills the page width: ten page pixels per picture pixel.
    const QRect where =
        printDestination(100, 60, 1000, 1400, page.logicalDpiX(), page.logicalDpiY());
    EXPECT_EQ(where.width(), 1000);
    EXPECT_EQ(page.pixel(5, where.top() + 5) & 0xFFFFFFu, kDark);
    EXPECT_EQ(page.pixel(15, where.top() + 5) & 0xFFFFFFu, kLight);
}

} // namespace
} // namespace ombri::reader
