#include "view_fixture.h"

#include "formats/dispatch.h"
#include "platform/qt/surface.h"
#include "writer/command_ids.h"

namespace ombri::writer {
using namespace ombri::test;
namespace {

using Pixels = std::set<std::pair<int, int>>;

class ToolsTest : public ViewFixture {};

TEST_F(ToolsTest, RectangleMarksItsBorderAndNotTheFarColumnAndRow)
{
    openWhite();
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 10}, {20, 20});
    const Pixels marked = pendingPixels();
    EXPECT_EQ(marked.size(), 36u);
    for (const auto& [x, y] : marked) {
        EXPECT_TRUE(x >= 10 && x <= 19 && y >= 10 && y <= 19);
        EXPECT_TRUE(x == 10 || x == 19 || y == 10 || y == 19);
    }
}

TEST_F(ToolsTest, AFinishedFigureShowsInTheNoteColourOnlyOnThePicture)
{
    openWhite(100, 80);
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 10}, {150, 40}); // reaches past the picture's right edge
    EXPECT_EQ(view->surface().GetPixel(10, 20) & 0xFFFFFFu, 0x0000FFu);
    EXPECT_EQ(view->surface().GetPixel(120, 10) & 0xFFFFFFu, 0x8080FFu); // background again
}

TEST_F(ToolsTest, LineDrawnBackwardsKeepsItsStartAndOmitsItsEnd)
{
    openWhite();
    view->onToolCommand(cmd::LineTool);
    drag({20, 20}, {10, 10});
    Pixels expected;
    for (int i = 11; i <= 20; ++i)
        expected.insert({i, i});
    EXPECT_EQ(pendingPixels(), expected);
}

// What a figure shows on release is kept, however it was dragged: a horizontal or vertical line
// has a box of no height or width between its ends, and a figure one pixel wide lies in the
// column the old box left out.
TEST_F(ToolsTest, EveryPixelAFigureShowsOnReleaseIsKeptInEveryDirection)
{
    openWhite(100, 80);
    const struct {
        int tool;
        QPoint from, to;
        Pixels expected;
    } cases[] = {
        {cmd::LineTool, {10, 30}, {40, 30}, {}},
        {cmd::LineTool, {40, 30}, {10, 30}, {}},
        {cmd::LineTool, {25, 5}, {25, 60}, {}},
        {cmd::LineTool, {25, 60}, {25, 5}, {}},
        {cmd::LineTool, {50, 50}, {20, 41}, {}},
        {cmd::RectangleTool, {60, 10}, {61, 40}, {}},
        {cmd::RectangleTool, {61, 40}, {60, 10}, {}},
        {cmd::EllipseTool, {90, 70}, {70, 50}, {}},
        {cmd::RoundRectangleTool, {90, 10}, {66, 30}, {}},
        {cmd::ArcTool, {30, 75}, {5, 62}, {}},
    };
    for (const auto& c : cases) {
        view->EndTool(false);
        view->onToolCommand(c.tool);
        // The figure the surface shows on release, drawn alone on white.
        Surface alone(view->inspect().client.width(), view->inspect().client.height());
        alone.image().fill(Qt::white);
        alone.selectBrush(Surface::Brush::Null);
        const QPoint a = c.from, u = c.to;
        switch (c.tool) {
        case cmd::LineTool:
            alone.MoveTo(a.x(), a.y());
            alone.LineTo(u.x(), u.y());
            break;
        case cmd::RectangleTool:
            alone.Rectangle(a.x(), a.y(), u.x(), u.y());
            break;
        case cmd::EllipseTool:
            alone.Ellipse(a.x(), a.y(), u.x(), u.y());
            break;
        case cmd::RoundRectangleTool:
            alone.RoundRect(a.x(), a.y(), u.x(), u.y(), std::abs(a.x() - u.x()) / 2,
                            std::abs(a.y() - u.y()) / 2);
            break;
        default:
            alone.Arc(u.x(), u.y(), a.x(), a.y(), u.x(), (a.y() + u.y()) / 2, a.x(),
                      (a.y() + u.y()) / 2);
        }
        Pixels shown;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 100; ++x)
                if ((alone.GetPixel(x, y) & 0xFFFFFFu) == 0)
                    shown.insert({x, y});
        ASSERT_FALSE(shown.empty());
        drag(c.from, c.to);
        EXPECT_EQ(pendingPixels(), shown) << c.tool << " from " << c.from.x() << "," << c.from.y()
                                          << " to " << c.to.x() << "," << c.to.y();
        view->onUndo();
    }
}

TEST_F(ToolsTest, ShapeAroundBlackPictureAreaMarksThatArea)
{
    openWhite(100, 80, QRect(30, 30, 5, 4));
    view->onToolCommand(cmd::EllipseTool);
    drag({20, 20}, {50, 50});
    const Pixels marked = pendingPixels();
    for (int y = 30; y < 34; ++y)
        for (int x = 30; x < 35; ++x)
            EXPECT_TRUE(marked.count({x, y})) << x << "," << y;
}

TEST_F(ToolsTest, ClicksMarkNothingAndModifiedDragsKeepWhatTheyShow)
{
    openWhite();
    for (int tool : {cmd::LineTool, cmd::RectangleTool, cmd::EllipseTool, cmd::RoundRectangleTool,
                     cmd::ArcTool}) {
        view->onToolCommand(tool);
        view->onLButtonDown({30, 30});
        view->onLButtonUp({30, 30});
        EXPECT_TRUE(pendingPixels().empty()) << tool;
        // With Shift or Ctrl held no preview follows the mouse, but the figure still appears on
        // release; it stays.
        drag({10, 10}, {40, 40}, kLeftButton | kShiftKey);
        const Pixels shifted = pendingPixels();
        EXPECT_FALSE(shifted.empty()) << tool;
        view->onUndo();
        drag({10, 10}, {40, 40});
        EXPECT_EQ(pendingPixels(), shifted) << tool;
        view->onUndo();
    }
}

// A release away from the last point the mouse moved to (the button let go after a jump) takes
// the stale preview off the screen: none of its inverted pixels is read as a note.
TEST_F(ToolsTest, APreviewLeftAtAnotherPointIsNotKept)
{
    openWhite();
    view->onToolCommand(cmd::RectangleTool);
    view->onLButtonDown({10, 10});
    view->onMouseMove({60, 60}, kLeftButton);
    view->onLButtonUp({30, 30});
    for (const auto& [x, y] : pendingPixels())
        EXPECT_TRUE(x <= 30 && y <= 30) << x << "," << y;
    EXPECT_EQ(pendingPixels().size(), 4u * 19u);
}

TEST_F(ToolsTest, EveryShapeMarksOnlyBlackFromItsOwnOutline)
{
    openWhite();
    for (int tool : {cmd::RoundRectangleTool, cmd::ArcTool, cmd::EllipseTool}) {
        view->onToolCommand(tool);
        drag({10, 10}, {60, 40});
        const Pixels marked = pendingPixels();
        EXPECT_FALSE(marked.empty()) << tool;
        for (const auto& [x, y] : marked)
            EXPECT_TRUE(x >= 10 && x < 60 && y >= 10 && y < 40) << tool;
        view->EndTool(false);
    }
}

TEST_F(ToolsTest, PenSegmentsStepAlongTheLongerAxis)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    drag({0, 0}, {3, 1});
    EXPECT_EQ(pendingPixels(), (Pixels{{0, 0}, {1, 1}, {2, 1}, {3, 1}}));
    view->EndTool(false);
    view->onToolCommand(cmd::FreehandPen);
    doc->ClearNotes();
    drag({0, 0}, {3, 3});
    EXPECT_EQ(pendingPixels(), (Pixels{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
}

TEST_F(ToolsTest, PenDrawsOnlyWithTheLeftButtonAlone)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    view->onLButtonDown({5, 5});
    view->onMouseMove({9, 5}, kShiftKey);
    EXPECT_TRUE(pendingPixels().empty());
    view->onMouseMove({9, 5}, kLeftButton);
    EXPECT_EQ(pendingPixels(), (Pixels{{5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}}));
}

TEST_F(ToolsTest, DrawingWritesOnlyTheFiguresBoundingBox)
{
    openPicture(makeSolidPicture(2000, 1500, 24, 0)); // all black: every pixel read is marked
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 10}, {30, 20});
    // The box runs from the anchor to the release point, both included.
    EXPECT_EQ(view->inspect().pendingBytesWritten, 21u * 11u);
    view->onToolCommand(cmd::FreehandPen);
    const uint64_t before = view->inspect().pendingBytesWritten;
    view->onLButtonDown({0, 0});
    view->onMouseMove({100, 50}, kLeftButton);
    EXPECT_EQ(view->inspect().pendingBytesWritten - before, 101u);
}

TEST_F(ToolsTest, EraserRemovesCommittedNotesOnlyWhereItPassed)
{
    openWhite();
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 10}, {60, 40});
    view->EndTool(false);
    ASSERT_EQ(std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1), 2 * 50 + 2 * 28);

    view->onToolCommand(cmd::Erasure);
    EXPECT_FALSE(view->inspect().showNotes);
    EXPECT_EQ(view->inspect().eraserHalfSize, 10);
    view->onMouseMove({10, 25}, kLeftButton); // the left side, rows 15..34
    view->onToolCommand(cmd::Erasure);
    EXPECT_TRUE(view->inspect().showNotes);
    const NoteLayer& notes = *doc->noteLayer();
    const auto at = [&](int x, int y) { return notes[(doc->height() - 1 - y) * doc->width() + x]; };
    EXPECT_EQ(at(10, 20), 0);
    EXPECT_EQ(at(10, 12), 1);
    EXPECT_EQ(at(30, 10), 1);
    EXPECT_TRUE(doc->IsModified());
}

TEST_F(ToolsTest, EraserMovesWithoutButtonsOnlyMoveItsOutline)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    drag({20, 20}, {40, 20});
    view->EndTool(false);
    view->onToolCommand(cmd::Erasure);
    const QImage before = view->surface().image().copy();
    view->onMouseMove({30, 20}, 0);
    view->onMouseMove({50, 50}, 0);
    view->onMouseMove({-12, -12}, 0); // back where the first outline was drawn: all removed
    EXPECT_EQ(view->surface().image(), before);
    view->onToolCommand(cmd::Erasure);
    EXPECT_EQ(std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1), 21);
}

// A picture with a colour table cannot show or carry notes: its first note makes it a 24-bit
// picture of the same colours, so what is drawn is shown, erased and saved like on any other.
TEST_F(ToolsTest, NotesOnAnEightBitPictureAreShownAndErased)
{
    Dib grey = Dib::allocate(40 + 1024 + DibRowStride(40, 8) * 30);
    const auto header = DibMakeHeader(40, 30, 8, 0);
    std::memcpy(grey.data(), header.data(), header.size());
    for (int i = 0; i < 256; ++i)
        std::memset(grey.data() + 40 + i * 4, i, 3);
    std::memset(grey.data() + 40 + 1024, 200, DibRowStride(40, 8) * 30);
    openRawBmp(grey, "grey.bmp");
    EXPECT_EQ(DibGetBitCount(doc->image()), 8);
    view->onToolCommand(cmd::FreehandPen);
    drag({5, 5}, {15, 5});
    view->EndTool(false);
    EXPECT_EQ(DibGetBitCount(doc->image()), 24);
    EXPECT_EQ(test::pixelAt(doc->image(), 30, 20)[1], 200); // the same colours
    view->repaintNow();
    EXPECT_EQ(view->surface().GetPixel(10, 5) & 0xFFFFFFu, 0x0000FFu); // a note, in blue
    EXPECT_EQ(view->surface().GetPixel(10, 6) & 0xFFFFFFu, 0xC8C8C8u); // the picture
    view->onToolCommand(cmd::Erasure);
    view->onMouseMove({20, 5}, kLeftButton); // the square from column 10 on
    view->onToolCommand(cmd::Erasure);
    EXPECT_EQ(std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1), 5);
}

TEST_F(ToolsTest, EraserSizeBoxReadsDigitsFromTheEnd)
{
    openWhite();
    const struct {
        const char* text;
        int halfSize;
    } cases[] = {{"25", 25}, {"0", 25}, {"", 25}, {"2x", 20}, {"x5", 5}, {"105", 105}};
    for (const auto& c : cases) {
        view->onEraserSizeText(QString::fromLatin1(c.text));
        EXPECT_EQ(view->inspect().eraserHalfSize, c.halfSize) << c.text;
    }
    QString setTo;
    view->setEraserBoxSetter([&](const QString& text) { setTo = text; });
    view->onToolCommand(cmd::Erasure);
    EXPECT_EQ(setTo, "10");
    EXPECT_EQ(view->inspect().eraserHalfSize, 10);
}

TEST_F(ToolsTest, SelectingAToolReturnsToOriginalSizeWithNotesShown)
{
    openWhite();
    view->onCommand(cmd::ZoomIn);
    view->onCommand(cmd::DisplayNotes);
    view->onToolCommand(cmd::LineTool);
    EXPECT_EQ(view->inspect().zoom, 1.0f);
    EXPECT_TRUE(view->inspect().showNotes);
    EXPECT_EQ(view->activeTool(), Tool::Line);
    view->onToolCommand(cmd::LineTool);
    EXPECT_EQ(view->activeTool(), Tool::None);
}

TEST_F(ToolsTest, DrawingSessionSavesExactlyTheDrawnNotes)
{
    openWhite(64, 48);
    view->onToolCommand(cmd::RectangleTool);
    view->onLButtonDown({5, 5});
    view->onMouseMove({12, 9}, kLeftButton);
    view->onMouseMove({15, 11}, kLeftButton);
    view->onLButtonUp({15, 11});
    view->onToolCommand(cmd::FreehandPen);
    view->onLButtonDown({30, 30});
    view->onMouseMove({40, 35}, kLeftButton);
    view->onLButtonUp({40, 35});
    view->EndTool(true);
    const NoteLayer drawn = *doc->noteLayer();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), 1), 2 * 10 + 2 * 4 + 11);

    const std::string saved = dir.file("saved.png");
    prompt.queueSavePath(saved);
    ASSERT_TRUE(view->onCommand(cmd::SaveAsLossless));
    ASSERT_FALSE(doc->IsModified());
    SavableWriterDocument reopened(prompt);
    ASSERT_TRUE(reopened.OnOpenDocument(saved));
    ASSERT_TRUE(reopened.noteLayer());
    EXPECT_EQ(*reopened.noteLayer(), drawn);
}

} // namespace
} // namespace ombri::writer
