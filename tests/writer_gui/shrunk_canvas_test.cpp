#include "view_fixture.h"

#include "writer/command_ids.h"

#include <cmath>
#include <vector>

namespace ombri::writer {
using namespace ombri::test;
namespace {

constexpr QRgb kBlueNote = 0x0000FFu;

// Columns one pixel wide, black on even columns and white on odd ones.
Dib makeColumnStripes(int width, int height)
{
    Dib stripes = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(stripes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memset(stripes.data() + layout->pixelOffset + y * layout->stride + 3 * x,
                        x % 2 ? 255 : 0, 3);
    return stripes;
}

// The grey a screen column shows when it averages the stripes under it: the share of its
// stretch of picture columns that is white, each picture column weighted by how much of it
// the stretch covers.
double averagedStripe(int screenColumn, int shownWidth, int pictureWidth)
{
    const double scale = static_cast<double>(pictureWidth) / shownWidth;
    const double from = screenColumn * scale;
    const double to = (screenColumn + 1) * scale;
    double white = 0;
    for (int column = static_cast<int>(std::floor(from)); column < to; ++column) {
        const double overlap = std::min<double>(to, column + 1) - std::max<double>(from, column);
        if (column % 2)
            white += overlap;
    }
    return 255.0 * white / (to - from);
}

class ShrunkCanvasTest : public ViewFixture {
  protected:
    QRgb shownAt(int x, int y) { return view->surface().GetPixel(x, y) & 0xFFFFFFu; }
    void run(int command) { ASSERT_TRUE(view->onCommand(command)); }
    void zoomOutSteps(int steps)
    {
        run(cmd::OriginalSize);
        for (int step = 0; step < steps; ++step)
            run(cmd::ZoomOut);
    }
    // Whether every screen column (across) or row (down) of the destination shows the note
    // colour somewhere: a line of notes drawn through the picture is then unbroken.
    bool noteLineUnbroken(Qt::Orientation along)
    {
        const QRect shown = view->inspect().destination;
        const bool across = along == Qt::Horizontal;
        const int first = across ? shown.left() : shown.top();
        const int last = across ? shown.right() : shown.bottom();
        for (int i = first; i <= last; ++i) {
            bool found = false;
            for (int j = across ? shown.top() : shown.left();
                 j <= (across ? shown.bottom() : shown.right()) && !found; ++j)
                found = (across ? shownAt(i, j) : shownAt(j, i)) == kBlueNote;
            if (!found)
                return false;
        }
        return true;
    }
    bool showsNoteColour()
    {
        const QRect shown = view->inspect().destination;
        for (int y = shown.top(); y <= shown.bottom(); ++y)
            for (int x = shown.left(); x <= shown.right(); ++x)
                if (shownAt(x, y) == kBlueNote)
                    return true;
        return false;
    }
};

TEST_F(ShrunkCanvasTest, StripesBelowOneHundredPercentAreAveragedUntilAToolIsTaken)
{
    constexpr int kWidth = 399;
    constexpr int kHeight = 300;
    openPicture(makeColumnStripes(kWidth, kHeight));
    // A picture without notes is shrunk from the copy already converted for painting it.
    const uint64_t conversions = view->inspect().pictureConversions;
    for (int steps : {1, 2, 4}) {
        zoomOutSteps(steps);
        const QRect shown = view->inspect().destination;
        ASSERT_LT(shown.width(), kWidth);
        int worst = 0;
        int pure = 0;
        for (int y = shown.top(); y <= shown.bottom(); y += 3)
            for (int x = shown.left(); x <= shown.right(); ++x) {
                const int grey = qGray(shownAt(x, y));
                const double expected = averagedStripe(x - shown.left(), shown.width(), kWidth);
                worst = std::max(worst, static_cast<int>(std::lround(std::abs(grey - expected))));
                pure += grey == 0 || grey == 255 ? 1 : 0;
            }
        EXPECT_LE(worst, 3) << "zoom " << view->inspect().zoom;
        EXPECT_EQ(pure, 0) << "zoom " << view->inspect().zoom;
    }
    EXPECT_EQ(view->inspect().pictureConversions, conversions);
    // The tools draw on the picture's own pixels: taking one shows each stripe as it is.
    view->onToolCommand(cmd::LineTool);
    ASSERT_EQ(view->activeTool(), Tool::Line);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(shownAt(x, 5), x % 2 ? 0xFFFFFFu : 0u) << x;
    // Above 100% every screen pixel shows one picture pixel without a tool too.
    view->EndTool(false);
    run(cmd::ZoomIn);
    for (int x = 0; x < 40; ++x)
        EXPECT_TRUE(shownAt(x, 5) == 0u || shownAt(x, 5) == 0xFFFFFFu) << x;
}

TEST_F(ShrunkCanvasTest, OnePixelNoteLinesStayUnbrokenAtTwentyFourPercent)
{
    constexpr int kWidth = 1000;
    constexpr int kHeight = 800;
    openWhite(kWidth, kHeight);
    // A row and a column of notes one pixel wide; the layer's rows are counted from the bottom.
    std::vector<uint8_t> mask(static_cast<size_t>(kWidth) * kHeight, 0);
    const int row = 401;
    const int column = 503;
    for (int x = 0; x < kWidth; ++x)
        mask[static_cast<size_t>(kHeight - 1 - row) * kWidth + x] = 1;
    for (int y = 0; y < kHeight; ++y)
        mask[static_cast<size_t>(y) * kWidth + column] = 1;
    doc->MergeNotes(mask.data());
    view->repaintNow();

    zoomOutSteps(5);
    ASSERT_NEAR(view->inspect().zoom, 0.24f, 0.005f);
    EXPECT_TRUE(noteLineUnbroken(Qt::Horizontal));
    EXPECT_TRUE(noteLineUnbroken(Qt::Vertical));

    // Hiding and showing the notes reuses the shrinking copy; taking the notes back remakes it.
    const uint64_t conversions = view->inspect().pictureConversions;
    run(cmd::DisplayNotes);
    EXPECT_FALSE(showsNoteColour());
    run(cmd::DisplayNotes);
    EXPECT_TRUE(noteLineUnbroken(Qt::Horizontal));
    EXPECT_EQ(view->inspect().pictureConversions, conversions);
    view->onUndo();
    EXPECT_FALSE(showsNoteColour());
    EXPECT_EQ(view->inspect().pictureConversions, conversions + 1);
}

} // namespace
} // namespace ombri::writer
