#include "platform/qt/surface.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ombri {
namespace {

using Pixels = std::set<std::pair<int, int>>; // (x, y)
constexpr QRgb kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu, kGrey = 0xFF808080u;

// One primitive call: 'R'ectangle, 'E'llipse, round rectangle 'O' (corner size in c[4], c[5]),
// 'A'rc, or 'L'ine (MoveTo c[0], c[1], then LineTo c[2], c[3]).
struct Figure {
    char kind;
    int c[8];
};

void draw(Surface& s, const Figure& f, int dx = 0, int dy = 0)
{
    const int l = f.c[0] + dx, t = f.c[1] + dy, r = f.c[2] + dx, b = f.c[3] + dy;
    switch (f.kind) {
    case 'R':
        return s.Rectangle(l, t, r, b);
    case 'E':
        return s.Ellipse(l, t, r, b);
    case 'O':
        return s.RoundRect(l, t, r, b, f.c[4], f.c[5]);
    case 'A':
        return s.Arc(l, t, r, b, f.c[4] + dx, f.c[5] + dy, f.c[6] + dx, f.c[7] + dy);
    }
    s.MoveTo(l, t);
    s.LineTo(r, b);
}

Pixels pixelsOf(const Surface& surface, QRgb colour)
{
    Pixels found;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            if (surface.GetPixel(x, y) == colour)
                found.insert({x, y});
    return found;
}

// What a figure covers in copy mode with the hollow brush on a white surface.
Pixels covered(const Figure& f, int width = 64, int height = 48, int dx = 0, int dy = 0)
{
    Surface surface(width, height);
    surface.selectBrush(Surface::Brush::Null);
    draw(surface, f, dx, dy);
    return pixelsOf(surface, kBlack);
}

Pixels picture(std::initializer_list<const char*> rows)
{
    Pixels pixels;
    int y = 0;
    for (const char* row : rows) {
        for (int x = 0; row[x]; ++x)
            if (row[x] == '#')
                pixels.insert({x, y});
        ++y;
    }
    return pixels;
}

// The arc tool's figure for a drag from the anchor released at (x, y).
Figure toolArc(int anchorX, int anchorY, int x, int y)
{
    const int m = (anchorY + y) / 2;
    return {'A', {x, y, anchorX, anchorY, x, m, anchorX, m}};
}

// Every primitive, with boxes given corner-swapped, one pixel wide and partly off the surface.
const Figure kFigures[] = {
    {'R', {37, 30, 5, 7}},   {'R', {3, 3, 4, 20}},    {'E', {4, 6, 41, 33}},
    {'E', {32, 22, 2, 2}},   {'E', {-5, 10, 70, 13}}, {'E', {-20, -10, 30, 25}},
    toolArc(40, 12, 12, 31), toolArc(-9, 40, 50, 1),  {'O', {3, 4, 40, 30, 18, 13}},
    {'L', {2, 3, 70, 17}},   {'L', {30, -4, 9, 44}},
};

TEST(SurfaceCoverage, BoxesOmitTheirRightAndBottomAndLinesTheirEnd)
{
    const Pixels square = covered({'R', {20, 20, 10, 10}});
    EXPECT_EQ(square.size(), 36u);
    for (const auto& [x, y] : square) // the border of 10..19: nothing in column or row 20
        EXPECT_TRUE(std::min(x, y) >= 10 && std::max(x, y) <= 19 &&
                    (x == 10 || x == 19 || y == 10 || y == 19));
    EXPECT_TRUE(covered({'R', {10, 10, 10, 20}}).empty());
    EXPECT_TRUE(covered({'E', {10, 10, 20, 10}}).empty());

    const Pixels backwards = covered({'L', {20, 20, 10, 10}}),
                 forwards = covered({'L', {10, 10, 20, 20}});
    EXPECT_TRUE(backwards.size() == 10 && backwards.count({20, 20}) && !backwards.count({10, 10}));
    EXPECT_TRUE(forwards.size() == 10 && forwards.count({10, 10}) && !forwards.count({20, 20}));
    EXPECT_TRUE(backwards.count({15, 15}) && forwards.count({15, 15}));
    EXPECT_TRUE(covered({'L', {5, 5, 5, 5}}).empty());
    // Halfway between two pixels the upper (or left) one is taken, whichever end starts.
    EXPECT_EQ(covered({'L', {0, 0, 4, 1}}), picture({"###.", "...#"}));
    EXPECT_EQ(covered({'L', {4, 1, 0, 0}}), picture({".##.", "...##"}));
    EXPECT_EQ(covered({'L', {1, 4, 0, 0}}), picture({"", "#", "#", ".#", ".#"}));

    Surface surface(8, 8); // LineTo goes on from where the last one ended
    surface.MoveTo(0, 0);
    surface.LineTo(3, 0);
    surface.LineTo(3, 2);
    EXPECT_EQ(pixelsOf(surface, kBlack), picture({"####", "...#"}));
}

// A pixel visited twice in one call would come back unchanged, so the first drawing must invert
// exactly what copy mode paints (pen black, white brush white over grey), and the second undo it.
TEST(SurfaceInvertMode, InvertsEachCoveredPixelOnceSoASecondDrawingRestores)
{
    for (const Figure& figure : kFigures) {
        for (const auto brush : {Surface::Brush::Null, Surface::Brush::White}) {
            Surface copied(64, 48), inverted(64, 48);
            for (Surface* surface : {&copied, &inverted}) {
                surface->image().fill(kGrey);
                surface->selectBrush(brush);
            }
            inverted.setROP2(Surface::RasterMode::Not);
            draw(copied, figure);
            draw(inverted, figure);
            Pixels painted = pixelsOf(copied, kBlack), filled = pixelsOf(copied, kWhite);
            painted.insert(filled.begin(), filled.end());
            EXPECT_EQ(pixelsOf(inverted, 0xFF7F7F7Fu), painted) << figure.kind << figure.c[0];
            draw(inverted, figure);
            EXPECT_EQ(pixelsOf(inverted, kGrey).size(), 64u * 48u) << figure.kind << figure.c[0];
        }
    }
}

TEST(SurfaceEllipse, IsSymmetricTouchesEachSideOfItsBoxAndRoundsRectangleCorners)
{
    std::vector<QSize> sizes = {{40, 2}, {40, 3}, {3, 40}, {57, 8}, {9, 44}};
    for (int w = 1; w <= 14; ++w)
        for (int h = 1; h <= 14; ++h)
            sizes.push_back({w, h});
    for (const QSize size : sizes) {
        const int l = 5, t = 3, r = l + size.width(), b = t + size.height();
        const Pixels outline = covered({'E', {l, t, r, b}});
        int touched = 0;
        for (const auto& [x, y] : outline) {
            ASSERT_TRUE(x >= l && x < r && y >= t && y < b) << size.width() << "x" << size.height();
            EXPECT_TRUE(outline.count({l + r - 1 - x, y}) && outline.count({x, t + b - 1 - y}));
            touched |= (x == l) | (x == r - 1) << 1 | (y == t) << 2 | (y == b - 1) << 3;
        }
        EXPECT_EQ(touched, 15) << size.width() << "x" << size.height();
    }
    EXPECT_EQ(covered({'E', {0, 0, 1, 1}}), picture({"#"}));
    EXPECT_EQ(covered({'E', {0, 0, 2, 2}}), picture({"##", "##"}));
    EXPECT_EQ(covered({'E', {0, 0, 5, 5}}), picture({".###.", "#...#", "#...#", "#...#", ".###."}));
    // Where the ellipse passes exactly between two pixels, the inner one is drawn.
    EXPECT_EQ(covered({'E', {0, 0, 6, 6}}),
              picture({"..##..", ".#..#.", "#....#", "#....#", ".#..#.", "..##.."}));

    // Round rectangles run from plain corners to the whole ellipse.
    EXPECT_EQ(covered({'O', {30, 20, 4, 2, 1, 30}}), covered({'R', {30, 20, 4, 2}}));
    EXPECT_EQ(covered({'O', {30, 20, 4, 2, 26, 18}}), covered({'E', {4, 2, 30, 20}}));
    EXPECT_EQ(covered({'O', {30, 20, 4, 2, 500, 500}}), covered({'E', {4, 2, 30, 20}}));
    const Pixels rounded = covered({'O', {30, 20, 4, 2, 10, 8}});
    EXPECT_FALSE(rounded.count({4, 2}));
    EXPECT_TRUE(rounded.count({17, 2}) && rounded.count({4, 11}) && rounded.count({29, 11}));
}

TEST(SurfaceArc, ToolHalvesLieBelowAndAboveTheirMiddleAndMakeUpTheEllipse)
{
    // Each drag's anchor, then its release left of and below or above the anchor.
    const int drags[][4] = {{40, 12, 12, 31}, {40, 31, 12, 12}, {33, 5, 8, 24}, {20, 20, 9, 27}};
    for (const auto& [anchorX, anchorY, x, y] : drags) {
        const int middle = (anchorY + y) / 2;
        const Pixels lower = covered(toolArc(anchorX, anchorY, x, y));
        const Pixels upper = covered(toolArc(x, anchorY, anchorX, y)); // released to the right
        for (const auto& pixel : lower)
            EXPECT_GE(pixel.second, middle);
        for (const auto& pixel : upper)
            EXPECT_LE(pixel.second, middle);
        Pixels both = lower;
        both.insert(upper.begin(), upper.end());
        EXPECT_EQ(both, covered({'E', {x, y, anchorX, anchorY}}));
    }
    EXPECT_EQ(covered({'A', {30, 10, 10, 20, 10, 15, 30, 15}}),
              covered({'A', {10, 10, 30, 20, 10, 15, 30, 15}}));
    // Both radials belong to the arc; coinciding ones give the whole ellipse.
    EXPECT_TRUE(covered({'A', {10, 10, 30, 20, 30, 15, 10, 15}}).count({10, 15}));
    EXPECT_TRUE(covered({'A', {10, 10, 30, 20, 10, 15, 30, 15}}).count({10, 15}));
    EXPECT_EQ(covered({'A', {10, 10, 30, 20, 40, 15, 35, 15}}), covered({'E', {10, 10, 30, 20}}));
}

TEST(SurfaceBrush, WhiteFillsTheInteriorAndNullLeavesIt)
{
    const std::pair<Figure, QPoint> inside[] = {{{'R', {2, 2, 12, 12}}, {7, 7}},
                                                {{'E', {20, 2, 40, 22}}, {30, 12}},
                                                {{'O', {2, 25, 30, 45, 8, 8}}, {16, 35}},
                                                {{'A', {40, 25, 60, 45}}, {50, 35}}};
    for (const auto brush : {Surface::Brush::White, Surface::Brush::Null}) {
        Surface surface(64, 48);
        surface.image().fill(kGrey);
        surface.selectBrush(brush);
        for (const auto& [figure, point] : inside) {
            draw(surface, figure);
            const bool filled = brush == Surface::Brush::White && figure.kind != 'A';
            EXPECT_EQ(surface.GetPixel(point.x(), point.y()), filled ? kWhite : kGrey);
        }
        EXPECT_EQ(surface.GetPixel(21, 3), kGrey); // outside the ellipse, inside its box
    }
}

TEST(SurfaceClipping, FiguresCutBySurfaceEdgesMatchALargerSurface)
{
    for (const Figure& figure : kFigures) {
        Pixels expected;
        for (const auto& [x, y] : covered(figure, 200, 170, 70, 60))
            if (x >= 70 && x < 70 + 64 && y >= 60 && y < 60 + 48)
                expected.insert({x - 70, y - 60});
        EXPECT_EQ(covered(figure), expected) << figure.kind << figure.c[0];
    }
}

// A wide pen covers the one-pixel figure with its footprint around every pixel, also where the
// one-pixel figure itself lies off the surface; the brush fills only what no pen reaches; each
// pixel is inverted once, so that a second drawing restores the surface.
TEST(SurfaceWidePen, CoversTheFootprintAroundTheOnePixelFigureOnce)
{
    for (const int width : {2, 3, 5, 8}) {
        const auto footprint = Surface::penFootprint(width);
        for (const Figure& figure : kFigures) {
            const std::string name = std::string(1, figure.kind) + std::to_string(figure.c[0]) +
                                     " width " + std::to_string(width);
            Pixels expected;
            for (const auto& [x, y] : covered(figure, 200, 170, 70, 60)) {
                for (const QPoint& offset : footprint) {
                    const int px = x - 70 + offset.x(), py = y - 60 + offset.y();
                    if (px >= 0 && px < 64 && py >= 0 && py < 48)
                        expected.insert({px, py});
                }
            }
            Surface wide(64, 48);
            wide.selectBrush(Surface::Brush::Null);
            wide.setPenWidth(width);
            draw(wide, figure);
            EXPECT_EQ(pixelsOf(wide, kBlack), expected) << name;

            Surface inverted(64, 48);
            inverted.image().fill(kGrey);
            inverted.setPenWidth(width);
            inverted.setROP2(Surface::RasterMode::Not);
            draw(inverted, figure); // the white brush: fill and pen together
            Surface copied(64, 48);
            copied.image().fill(kGrey);
            copied.setPenWidth(width);
            draw(copied, figure);
            EXPECT_EQ(pixelsOf(copied, kBlack), expected) << name;
            Pixels painted = expected, filled = pixelsOf(copied, kWhite);
            painted.insert(filled.begin(), filled.end());
            EXPECT_EQ(pixelsOf(inverted, 0xFF7F7F7Fu), painted) << name;
            draw(inverted, figure);
            EXPECT_EQ(pixelsOf(inverted, kGrey).size(), 64u * 48u) << name;
        }
    }
}

TEST(SurfaceWidePen, FootprintIsADiscAsWideAsThePenAndWidthOneIsThePixel)
{
    EXPECT_EQ(Surface::penFootprint(1), std::vector<QPoint>{QPoint(0, 0)});
    for (const int width : {2, 3, 5, 8}) {
        const auto footprint = Surface::penFootprint(width);
        QRect bounds;
        for (const QPoint& offset : footprint)
            bounds |= QRect(offset, QSize(1, 1));
        EXPECT_EQ(bounds.size(), QSize(width, width)) << width;
        EXPECT_TRUE(bounds.contains(0, 0)) << width;
        // Round, not square, once the pen is wide enough for corners to show.
        EXPECT_EQ(footprint.size() < size_t(width * width), width >= 5) << width;
    }
    Surface surface(8, 8);
    EXPECT_EQ(surface.penWidth(), 1);
    EXPECT_EQ(surface.setPenWidth(0), 1);
    EXPECT_EQ(surface.penWidth(), 1);
}

TEST(SurfaceClipping, HugeAndFarCoordinatesAreCutQuickly)
{
    constexpr int kFar = 134217727; // the largest coordinate the platform draws
    QElapsedTimer timer;
    timer.start();
    Surface surface(64, 48);
    surface.image().fill(kGrey);
    surface.Rectangle(-kFar, -kFar, kFar, kFar);
    EXPECT_EQ(pixelsOf(surface, kWhite).size(), 64u * 48u);
    surface.selectBrush(Surface::Brush::Null);
    for (const Figure& figure : {Figure{'E', {-1000000, 0, 1000000, 40}},
                                 {'O', {-kFar, 5, kFar, kFar, kFar, 7}},
                                 {'A', {-kFar, -kFar, kFar, kFar, 0, 0, 5, 5}},
                                 {'L', {-kFar, -kFar, kFar, kFar}},
                                 {'L', {-kFar, 10, kFar, 10}}})
        draw(surface, figure);
    EXPECT_LT(timer.elapsed(), 250);
    EXPECT_EQ(pixelsOf(surface, kBlack).count({63, 10}), 1u);

    Surface untouched(64, 48); // beyond the platform's range nothing is drawn
    untouched.Ellipse(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
    EXPECT_TRUE(untouched.takeDirtyRect().isNull());
}

TEST(SurfaceState, PixelsDirtyRectAndResize)
{
    Surface surface(64, 48);
    EXPECT_EQ(surface.GetPixel(63, 47), kWhite);
    for (const QPoint outside : {QPoint(-1, 0), QPoint(64, 0), QPoint(0, -1), QPoint(0, 48)}) {
        EXPECT_EQ(surface.GetPixel(outside.x(), outside.y()), Surface::kInvalidColour);
        surface.SetPixelV(outside.x(), outside.y(), 0);
    }
    EXPECT_TRUE(surface.takeDirtyRect().isNull());
    surface.setROP2(Surface::RasterMode::Not); // SetPixelV does not invert
    surface.SetPixelV(2, 3, 0x123456);
    EXPECT_EQ(surface.GetPixel(2, 3), 0xFF123456u);
    surface.setROP2(Surface::RasterMode::CopyPen);
    draw(surface, {'R', {10, 10, 20, 20}});
    draw(surface, {'L', {30, 40, 70, 40}});
    EXPECT_EQ(surface.takeDirtyRect(), QRect(QPoint(2, 3), QPoint(63, 40)));
    draw(surface, {'R', {10, 10, 20, 20}}); // black over black changes nothing
    EXPECT_TRUE(surface.takeDirtyRect().isNull());

    surface.resize(80, 5);
    EXPECT_EQ(surface.GetPixel(2, 3), 0xFF123456u);
    EXPECT_EQ(pixelsOf(surface, kWhite).size(), 80u * 5 - 1);
}

TEST(SurfaceText, GlyphsArePureBlackOnAnOpaqueWhiteCell)
{
    Surface surface(200, 60);
    surface.image().fill(qRgb(10, 200, 30)); // a picture under the line
    QFont font = surface.font();
    font.setPointSize(24);
    surface.selectFont(font);
    const QSize cell = surface.GetTextExtentPoint32("Mg");
    surface.TextOut(5, 7, "Mg");
    int black = 0;
    for (int y = 7; y < 7 + cell.height(); ++y)
        for (int x = 5; x < 5 + cell.width(); ++x) {
            const QRgb pixel = surface.GetPixel(x, y) & 0xFFFFFFu;
            EXPECT_TRUE(pixel == 0 || pixel == 0xFFFFFFu) << x << "," << y;
            black += pixel == 0;
        }
    EXPECT_GT(black, 20);
    EXPECT_EQ(surface.GetPixel(4, 7), 0xFF0AC81Eu); // nothing outside the cell
    EXPECT_TRUE(surface.takeDirtyRect().contains(QRect(QPoint(5, 7), cell)));
}

} // namespace
} // namespace ombri
