#include "view_fixture.h"
#include "window_fixture.h"

#include "platform/qt/surface.h"
#include "support/reference_figure.h"
#include "support/view_events.h"

#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QTest>

#include <vector>

namespace ombri::writer {
using namespace ombri::test;
namespace {

using Layer = std::vector<uint8_t>;

struct ShapeTool {
    int command;
    Tool tool;
};
constexpr ShapeTool kShapeTools[] = {{cmd::LineTool, Tool::Line},
                                     {cmd::RectangleTool, Tool::Rectangle},
                                     {cmd::EllipseTool, Tool::Ellipse},
                                     {cmd::RoundRectangleTool, Tool::RoundRectangle},
                                     {cmd::ArcTool, Tool::Arc}};

// A shape tool's figure from the anchor to the release point, drawn by the drawing surface alone
// on a white surface the size of the picture, as a note layer (rows from the bottom).
Layer figureLayer(Tool tool, QPoint a, QPoint u, int penWidth, QSize picture)
{
    Surface figure(picture.width(), picture.height());
    figure.selectBrush(Surface::Brush::Null);
    figure.setPenWidth(penWidth);
    test::drawReferenceFigure(figure, tool, a, u);
    Layer layer(static_cast<size_t>(picture.width()) * picture.height(), 0);
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(figure.image().constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            if ((line[x] & 0xFFFFFFu) == 0)
                layer[static_cast<size_t>(picture.height() - 1 - y) * picture.width() + x] = 1;
    }
    return layer;
}

// The pen's footprint around every marked pixel of a one-pixel layer.
Layer widened(const Layer& thin, int penWidth, QSize picture)
{
    Layer wide(thin.size(), 0);
    const int width = picture.width(), height = picture.height();
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            if (thin[static_cast<size_t>(height - 1 - row) * width + column] != 1)
                continue;
            for (const QPoint& offset : Surface::penFootprint(penWidth)) {
                const int x = column + offset.x(), y = row + offset.y();
                if (x >= 0 && y >= 0 && x < width && y < height)
                    wide[static_cast<size_t>(height - 1 - y) * width + x] = 1;
            }
        }
    }
    return wide;
}

size_t countOnes(const Layer& layer)
{
    return static_cast<size_t>(std::count(layer.begin(), layer.end(), uint8_t{1}));
}

// The canvas's pure-black pixels inside the client area, as a note layer of the picture: what a
// white picture shows inverted.
Layer blackOnScreen(WriterView& view, QSize picture)
{
    Layer layer(static_cast<size_t>(picture.width()) * picture.height(), 0);
    const QPoint scroll = view.inspect().scroll;
    const QImage& image = view.surface().image();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int column = x + scroll.x(), row = y + scroll.y();
            if ((image.pixel(x, y) & 0xFFFFFFu) == 0 && column < picture.width() &&
                row < picture.height())
                layer[static_cast<size_t>(picture.height() - 1 - row) * picture.width() + column] =
                    1;
        }
    }
    return layer;
}

class LineWidthTest : public WindowFixture {
  protected:
    void openWhite(int width, int height)
    {
        const std::string path = dir.file("white.bmp");
        ASSERT_TRUE(test::succeeded(WriteBmpFile(path, makeSolidPicture(width, height, 24, 255))));
        ASSERT_TRUE(frame->openFile(QString::fromStdString(path)));
        picture = QSize(width, height);
    }
    Layer pending() { return (*view().inspect().pending).value_or(Layer(countPixels(), 0)); }
    size_t countPixels() const { return static_cast<size_t>(picture.width()) * picture.height(); }
    QMenu* widthMenu()
    {
        for (QAction* item : frame->menu(QStringLiteral("&Option"))->actions()) {
            if (item->menu() && item->text() == QStringLiteral("Line &Width"))
                return item->menu();
        }
        return nullptr;
    }

    QSize picture;
};

TEST_F(LineWidthTest, TheOptionMenuSetsTheWidthWhichTheNextStartKeeps)
{
    EXPECT_EQ(view().lineWidth(), 1);
    QMenu* menu = widthMenu();
    ASSERT_TRUE(menu);
    QStringList texts;
    for (QAction* item : menu->actions())
        texts << item->text();
    EXPECT_EQ(texts, QStringList({"&1 Pixel", "&2 Pixels", "&3 Pixels", "&5 Pixels", "&8 Pixels"}));
    commands().updateAll();
    EXPECT_TRUE(commands().isChecked(cmd::LineWidth1));

    menu->actions()[3]->trigger();
    EXPECT_EQ(view().lineWidth(), 5);
    for (int width : WriterView::kLineWidths)
        EXPECT_EQ(commands().action(cmd::lineWidthCommand(width))->isChecked(), width == 5)
            << width;

    frame.reset();
    frame = std::make_unique<WriterWindow>(&prompt);
    EXPECT_EQ(view().lineWidth(), 5);
    EXPECT_TRUE(commands().isChecked(cmd::LineWidth5));

    // A width the menu does not offer, written by hand into the settings, draws one pixel wide.
    frame.reset();
    QSettings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriWriter"))
        .setValue(QStringLiteral("lineWidth"), 4);
    frame = std::make_unique<WriterWindow>(&prompt);
    EXPECT_EQ(view().lineWidth(), 1);
}

// Each shape drawn with the mouse keeps exactly the one-pixel figure widened by the pen's
// footprint; at width 1 that is the one-pixel figure itself.
TEST_F(LineWidthTest, EachToolDrawsItsFigureAtEachWidth)
{
    openWhite(120, 90);
    const QPoint from(20, 15), to(95, 70);
    for (const ShapeTool& shape : kShapeTools) {
        const Layer thin = figureLayer(shape.tool, from, to, 1, picture);
        for (int width : WriterView::kLineWidths) {
            ASSERT_TRUE(commands().trigger(cmd::lineWidthCommand(width)));
            ASSERT_TRUE(commands().trigger(shape.command));
            dragMouse(view(), from, {QPoint(50, 40), to});
            const Layer drawn = pending();
            EXPECT_EQ(drawn, widened(thin, width, picture)) << shape.command << " width " << width;
            EXPECT_EQ(drawn, figureLayer(shape.tool, from, to, width, picture)) << shape.command;
            if (width > 1) {
                EXPECT_GT(countOnes(drawn), countOnes(thin)) << shape.command;
            }
            ASSERT_TRUE(commands().trigger(cmd::Undo));
            ASSERT_TRUE(commands().trigger(shape.command)); // put down with nothing drawn
        }
    }
}

// The preview inverts the screen; with a wide pen it still covers each pixel once, so that moving
// back to the anchor leaves the screen as it was, and what shows on release is what is kept.
TEST_F(LineWidthTest, WidePreviewsComeOffTheScreenCleanly)
{
    openWhite(120, 90);
    ASSERT_TRUE(commands().trigger(cmd::LineWidth8));
    for (const ShapeTool& shape : kShapeTools) {
        ASSERT_TRUE(commands().trigger(shape.command));
        const QImage before = view().surface().image().copy();
        const QPoint anchor(30, 30);
        sendMouse(view(), QEvent::MouseButtonPress, anchor, Qt::LeftButton, Qt::LeftButton);
        for (const QPoint point : {QPoint(60, 31), QPoint(90, 80), QPoint(31, 70), QPoint(5, 4)}) {
            sendMouse(view(), QEvent::MouseMove, point, Qt::NoButton, Qt::LeftButton);
            EXPECT_EQ(blackOnScreen(view(), picture),
                      figureLayer(shape.tool, anchor, point, 8, picture))
                << shape.command;
        }
        sendMouse(view(), QEvent::MouseMove, anchor, Qt::NoButton, Qt::LeftButton);
        EXPECT_EQ(view().surface().image(), before) << shape.command;
        sendMouse(view(), QEvent::MouseButtonRelease, anchor, Qt::LeftButton, Qt::NoButton);
        ASSERT_TRUE(commands().trigger(shape.command));
    }
}

// The pen's wide stroke marks its one-pixel stroke widened by the footprint, and the screen shows
// exactly those pixels inverted, also where its segments overlap at a sharp turn.
TEST_F(LineWidthTest, PenMarksTheWideStrokeItShows)
{
    openWhite(120, 90);
    const QPoint from(10, 10);
    const std::initializer_list<QPoint> path{QPoint(60, 40), QPoint(12, 44), QPoint(62, 46),
                                             QPoint(64, 46), QPoint(100, 10)};
    ASSERT_TRUE(commands().trigger(cmd::FreehandPen));
    dragMouse(view(), from, path);
    const Layer thin = pending();
    ASSERT_GT(countOnes(thin), 0u);
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    for (int width : {2, 3, 5, 8}) {
        ASSERT_TRUE(commands().trigger(cmd::lineWidthCommand(width)));
        dragMouse(view(), from, path);
        EXPECT_EQ(pending(), widened(thin, width, picture)) << width;
        EXPECT_EQ(blackOnScreen(view(), picture), pending()) << width;
        ASSERT_TRUE(commands().trigger(cmd::Undo));
    }
}

// A figure dragged past the view's edge scrolls the picture after the mouse, keeps its anchor
// where it was pressed on the picture, shows its preview at the new place, and is captured
// whole, far outside what the window showed when the drag began: held a little past the edge
// while the view scrolls 500 pixels, or held 500 pixels past it for a step of the scroll.
TEST_F(LineWidthTest, AFigureDraggedPastTheEdgeScrollsAndIsCapturedWhole)
{
    openWhite(3000, 2000);
    const struct {
        int past;
        int scrolled;
        int width;
        ShapeTool shape;
    } drags[] = {{30, 500, 1, kShapeTools[1]},
                 {30, 500, 3, kShapeTools[2]},
                 {500, 1, 1, kShapeTools[0]},
                 {500, 1, 5, kShapeTools[3]}};
    for (const auto& [past, scrolled, width, shape] : drags) {
        ASSERT_TRUE(commands().trigger(cmd::lineWidthCommand(width)));
        ASSERT_TRUE(commands().trigger(shape.command));
        view().horizontalScrollBar()->setValue(0);
        view().verticalScrollBar()->setValue(0);
        const QSize client = view().inspect().client;
        const QPoint anchor(40, 30);
        const QPoint outside(client.width() + past, client.height() + past);
        sendMouse(view(), QEvent::MouseButtonPress, anchor, Qt::LeftButton, Qt::LeftButton);
        sendMouse(view(), QEvent::MouseMove, QPoint(200, 200), Qt::NoButton, Qt::LeftButton);
        EXPECT_FALSE(view().inspect().autoScrolling);
        sendMouse(view(), QEvent::MouseMove, outside, Qt::NoButton, Qt::LeftButton);
        EXPECT_TRUE(view().inspect().autoScrolling);
        QTRY_VERIFY_WITH_TIMEOUT(view().inspect().scroll.x() >= scrolled &&
                                     view().inspect().scroll.y() >= scrolled,
                                 10000);
        const QPoint scroll = view().inspect().scroll;
        // The preview runs from the anchor's new place on the screen to the mouse.
        const Layer preview = figureLayer(shape.tool, anchor, outside + scroll, width, picture);
        Layer previewShown(preview.size(), 0);
        for (int row = scroll.y(); row < scroll.y() + client.height(); ++row)
            for (int column = scroll.x(); column < scroll.x() + client.width(); ++column) {
                const size_t index = static_cast<size_t>(picture.height() - 1 - row) * 3000 +
                                     static_cast<size_t>(column);
                previewShown[index] = preview[index];
            }
        EXPECT_EQ(blackOnScreen(view(), picture), previewShown);

        sendMouse(view(), QEvent::MouseButtonRelease, outside, Qt::LeftButton, Qt::NoButton);
        EXPECT_FALSE(view().inspect().autoScrolling);
        const QPoint released = view().inspect().scroll;
        const Layer expected = figureLayer(shape.tool, anchor, outside + released, width, picture);
        EXPECT_EQ(pending(), expected) << shape.command << " width " << width;
        // The figure reaches 500 pixels and more past where the window's edge was.
        EXPECT_GE(released.x() + outside.x() - client.width(), 500);
        QTest::qWait(120);
        EXPECT_EQ(view().inspect().scroll, released) << "the view scrolled after the release";
        ASSERT_TRUE(commands().trigger(cmd::Undo));
        ASSERT_TRUE(commands().trigger(shape.command));
    }
}

TEST_F(LineWidthTest, APenStrokeHeldPastTheEdgeGoesOnWhereThePictureScrolls)
{
    openWhite(3000, 2000);
    ASSERT_TRUE(commands().trigger(cmd::LineWidth2));
    ASSERT_TRUE(commands().trigger(cmd::FreehandPen));
    const QSize client = view().inspect().client;
    const QPoint below(100, client.height() + 20);
    sendMouse(view(), QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    sendMouse(view(), QEvent::MouseMove, below, Qt::NoButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(view().inspect().scroll.y() >= 300, 10000);
    sendMouse(view(), QEvent::MouseButtonRelease, below, Qt::LeftButton, Qt::NoButton);
    const int bottom = view().inspect().scroll.y() + below.y();
    const Layer marked = pending();
    // One unbroken column, two pixels wide, from the press to the picture row under the mouse.
    for (int row = 100; row <= bottom; ++row)
        for (int column : {100, 101})
            EXPECT_EQ(marked[static_cast<size_t>(picture.height() - 1 - row) * 3000 + column], 1)
                << column << ", " << row;
    EXPECT_EQ(countOnes(marked), 2u * static_cast<size_t>(bottom - 100 + 2));
}

} // namespace
} // namespace ombri::writer
