#include "platform/qt/surface.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace ombri {
namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kColourBits = 0x00FFFFFFu;

// The desktop drawing interface accepts device coordinates of 28 bits only and draws nothing for
// a figure beyond them. Keeping to that range also keeps the line and arc arithmetic below within
// 64 bits; the ellipse test widens its products itself.
constexpr int64_t kCoordinateLimit = int64_t(1) << 27;

bool inDeviceRange(std::initializer_list<int> coordinates)
{
    return std::all_of(coordinates.begin(), coordinates.end(), [](int coordinate) {
        return coordinate >= -kCoordinateLimit && coordinate < kCoordinateLimit;
    });
}

// Inclusive pixel columns; empty when left > right.
struct Run {
    int64_t left = 0;
    int64_t right = -1;
    bool empty() const { return left > right; }
};

// a * b < c * d, exactly: the ellipse test multiplies two squares of up to 56 bits.
bool productBelow(uint64_t a, uint64_t b, uint64_t c, uint64_t d)
{
    const auto wide = [](uint64_t x, uint64_t y) {
        const uint64_t mask = 0xFFFFFFFFu;
        const uint64_t low = (x & mask) * (y & mask), cross1 = (x & mask) * (y >> 32),
                       cross2 = (x >> 32) * (y & mask), high = (x >> 32) * (y >> 32);
        const uint64_t middle = (low >> 32) + (cross1 & mask) + (cross2 & mask);
        return std::make_pair(high + (cross1 >> 32) + (cross2 >> 32) + (middle >> 32),
                              (middle << 32) | (low & mask));
    };
    return wide(a, b) < wide(c, d);
}

int64_t ceilDivide(int64_t numerator, int64_t positiveDenominator)
{
    const int64_t quotient = numerator / positiveDenominator;
    return quotient + (numerator % positiveDenominator > 0 ? 1 : 0);
}

// The ellipse inscribed in a box of width x height pixels, row by row, as the distance of each
// row's first and last pixel from the box's sides. Positions are measured from the box centre in
// half pixels, so that the centre of an even-sized box, which lies between two pixels, is still a
// whole number; the ellipse runs through the centres of the box's outermost pixels.
//
// A pixel belongs to the figure when its centre lies inside the ellipse or less than half a pixel
// outside it along its row or along its column; measuring along rows keeps the steep sides closed,
// along columns the flat ones. The middle row and column (two of each in an even-sized box) always
// belong, so the figure reaches all four sides of its box even when it is one pixel thick.
class EllipseRows {
  public:
    EllipseRows(int64_t width, int64_t height) : m_a(width - 1), m_b(height - 1) {}

    // Row 0 is the box's top row; the rows mirror about the centre.
    int64_t inset(int64_t row) const
    {
        const int64_t v = std::abs(2 * row - m_b);
        if (v <= 1)
            return 0;
        const uint64_t b2 = square(m_b);
        const int64_t alongRow = reach(1, b2 - square(v));
        const int64_t alongColumn = reach(0, b2 - square(v - 1));
        return (m_a - std::max(alongRow, alongColumn)) / 2;
    }

  private:
    static uint64_t square(int64_t value) { return uint64_t(value) * uint64_t(value); }

    // The farthest pixel u (of the parity of a) with u <= slack or (u - slack)^2 * b^2 <
    // a^2 * room, or a negative number when there is none.
    int64_t reach(int64_t slack, uint64_t room) const
    {
        const auto fits = [&](int64_t u) {
            return u <= slack || productBelow(square(u - slack), square(m_b), square(m_a), room);
        };
        const int64_t parity = m_a & 1;
        const double estimate = double(slack) + double(m_a) * std::sqrt(double(room)) / m_b;
        int64_t u = std::clamp<int64_t>(int64_t(estimate), parity, m_a);
        u -= (u - parity) & 1;
        // The estimate is off by rounding only; the exact test settles the last step.
        while (u + 2 <= m_a && fits(u + 2))
            u += 2;
        while (u >= parity && !fits(u))
            u -= 2;
        return u;
    }

    int64_t m_a; // the horizontal and vertical diameters through the outermost pixel centres,
    int64_t m_b; // which are the semi-axes in half pixels
};

// Writes one primitive's pixels. The primitives hand it each pixel once, which is what lets the
// inverting mode draw a figure twice to remove it.
class PixelWriter {
  public:
    PixelWriter(QImage& image, Surface::RasterMode mode) : m_image(image), m_mode(mode) {}

    int64_t width() const { return m_image.width(); }
    int64_t height() const { return m_image.height(); }

    template <typename Keep> void pen(int64_t y, Run run, Keep keep)
    {
        apply(y, run, kBlack, keep);
    }
    void brush(int64_t y, Run run)
    {
        apply(y, run, kWhite, [](int64_t, int64_t) { return true; });
    }
    void penPixel(int64_t x, int64_t y)
    {
        pen(y, Run{x, x}, [](int64_t, int64_t) { return true; });
    }
    void brushPixel(int64_t x, int64_t y) { brush(y, Run{x, x}); }

    QRect changed() const
    {
        return m_right < m_left ? QRect() : QRect(QPoint(m_left, m_top), QPoint(m_right, m_bottom));
    }

  private:
    template <typename Keep> void apply(int64_t y, Run run, QRgb copyColour, Keep keep)
    {
        const int64_t first = std::max<int64_t>(run.left, 0);
        const int64_t last = std::min(run.right, width() - 1);
        if (y < 0 || y >= height() || first > last)
            return;
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(int(y)));
        for (int64_t x = first; x <= last; ++x) {
            if (!keep(x, y))
                continue;
            const QRgb before = line[x];
            const QRgb after =
                m_mode == Surface::RasterMode::Not ? before ^ kColourBits : copyColour;
            if (after == before)
                continue;
            line[x] = after;
            m_left = std::min(m_left, int(x));
            m_right = std::max(m_right, int(x));
            m_top = std::min(m_top, int(y));
            m_bottom = std::max(m_bottom, int(y));
        }
    }

    QImage& m_image;
    Surface::RasterMode m_mode;
    int m_left = INT32_MAX, m_top = INT32_MAX, m_right = INT32_MIN, m_bottom = INT32_MIN;
};

// The box of a rectangle-based figure, ordered, covering left <= x < right, top <= y < bottom.
struct Box {
    Box(int64_t x0, int64_t y0, int64_t x1, int64_t y1)
        : left(std::min(x0, x1)), top(std::min(y0, y1)), right(std::max(x0, x1)),
          bottom(std::max(y0, y1))
    {
    }
    int64_t width() const { return right - left; }
    int64_t height() const { return bottom - top; }
    bool empty() const { return width() == 0 || height() == 0; }
    Box moved(int64_t dx, int64_t dy) const
    {
        return Box(left + dx, top + dy, right + dx, bottom + dy);
    }
    // The pixels the box's figures may cover.
    QRect pixels() const
    {
        return QRect(QPoint(int(left), int(top)), QPoint(int(right - 1), int(bottom - 1)));
    }

    int64_t left, top, right, bottom;
};

// A rectangle whose corners are the quarters of an ellipse of cornerWidth x cornerHeight pixels:
// with no corner ellipse a plain rectangle, with one as large as the box an ellipse. The outline
// is every pixel of the figure with a neighbour (left, right, above or below) outside it, so it
// is one pixel thick, 8-connected, and the brush fills the rest without overlapping it. Only the
// rows of the surface are visited.
template <typename Keep>
void drawRoundedBox(PixelWriter& writer, const Box& box, int64_t cornerWidth, int64_t cornerHeight,
                    bool fill, Keep keep)
{
    const bool rounded = cornerWidth >= 2 && cornerHeight >= 2;
    const EllipseRows corner(cornerWidth, cornerHeight);
    const auto rowRun = [&](int64_t y) {
        const int64_t fromEdge = std::min(y - box.top, box.bottom - 1 - y);
        const int64_t inset = rounded && fromEdge < cornerHeight / 2 ? corner.inset(fromEdge) : 0;
        return Run{box.left + inset, box.right - 1 - inset};
    };

    const int64_t firstRow = std::max<int64_t>(box.top, 0);
    const int64_t lastRow = std::min(box.bottom, writer.height()) - 1;
    for (int64_t y = firstRow; y <= lastRow; ++y) {
        const Run run = rowRun(y);
        Run inside;
        if (y > box.top && y + 1 < box.bottom) {
            const Run above = rowRun(y - 1), below = rowRun(y + 1);
            inside.left = std::max({run.left + 1, above.left, below.left});
            inside.right = std::min({run.right - 1, above.right, below.right});
        }
        if (inside.empty()) {
            writer.pen(y, run, keep);
            continue;
        }
        writer.pen(y, Run{run.left, inside.left - 1}, keep);
        writer.pen(y, Run{inside.right + 1, run.right}, keep);
        if (fill)
            writer.brush(y, inside);
    }
}

// One pixel per column for a line at least as wide as it is tall, else one per row; the start
// pixel is drawn, the end pixel is not. Where the line passes exactly between two pixels the upper
// one (for a steep line the left one) is taken, so a line covers the same pixels whichever end it
// is drawn from, apart from the two ends.
void drawLine(PixelWriter& writer, int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    const bool steep = std::abs(y1 - y0) > std::abs(x1 - x0);
    if (steep) {
        std::swap(x0, y0);
        std::swap(x1, y1);
    }
    const int64_t majorExtent = steep ? writer.height() : writer.width();
    const int64_t minorExtent = steep ? writer.width() : writer.height();
    const int64_t first = std::max<int64_t>(x1 > x0 ? x0 : x1 + 1, 0);
    const int64_t last = std::min(x1 > x0 ? x1 - 1 : x0, majorExtent - 1);
    const int64_t sign = x1 > x0 ? 1 : -1;
    const int64_t run = (x1 - x0) * sign, rise = (y1 - y0) * sign;
    for (int64_t x = first; x <= last; ++x) {
        // The nearest row to y0 + rise * (x - x0) / run, halves rounded up the screen.
        const int64_t y = y0 + ceilDivide(2 * rise * (x - x0) - run, 2 * run);
        if (y >= 0 && y < minorExtent)
            writer.penPixel(steep ? y : x, steep ? x : y);
    }
}

// Directions from the centre of an arc's box, in half pixels with y pointing up, so that turning
// from x towards y is counter-clockwise as seen on the screen.
struct Direction {
    int64_t x, y;
};

int64_t cross(Direction a, Direction b)
{
    return a.x * b.y - a.y * b.x;
}
int64_t dot(Direction a, Direction b)
{
    return a.x * b.x + a.y * b.y;
}

// The counter-clockwise run from the radial through the start point to the radial through the end
// point, both radials included.
class Sweep {
  public:
    Sweep(Direction start, Direction end) : m_start(start), m_end(end), m_endHalf(half(end))
    {
        // Coinciding radials draw the whole ellipse, as does a point at the centre, which gives
        // no direction.
        const bool noDirection = (start.x == 0 && start.y == 0) || (end.x == 0 && end.y == 0);
        m_whole = noDirection || (cross(start, end) == 0 && dot(start, end) > 0);
    }

    bool contains(Direction d) const
    {
        if (m_whole)
            return true;
        const int halfOfD = half(d);
        return halfOfD != m_endHalf ? halfOfD < m_endHalf : cross(d, m_end) >= 0;
    }

  private:
    // 0 for angles from the start radial in [0, pi), 1 for [pi, 2 pi). Within one half, cross
    // products order the angles.
    int half(Direction d) const
    {
        const int64_t side = cross(m_start, d);
        if (side != 0)
            return side > 0 ? 0 : 1;
        return dot(m_start, d) >= 0 ? 0 : 1;
    }

    Direction m_start, m_end;
    int m_endHalf;
    bool m_whole = false;
};

const auto kEveryPixel = [](int64_t, int64_t) { return true; };

constexpr QRgb kUntouched = 0xFF808080u;

// The pixels from one point to another, both included, whichever comes first.
QRect spanning(QPoint a, QPoint b)
{
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

// Draws one figure, given as a function that draws its one-pixel form on a pixel writer with
// its coordinates moved by (-dx, -dy); reach holds every pixel of that form. A wider pen draws
// the one-pixel form first on a scratch image around the part of the surface it can reach, pen
// pixels black and brush pixels white on grey; each pen pixel is then widened to the pen's
// footprint, and the brush keeps only what no pen reaches, so that each pixel of the surface is
// written once. Returns the pixels changed.
template <typename DrawThin>
QRect drawFigure(QImage& image, Surface::RasterMode mode, int penWidth, const QRect& reach,
                 DrawThin drawThin)
{
    PixelWriter writer(image, mode);
    if (penWidth <= 1) {
        drawThin(writer, 0, 0);
        return writer.changed();
    }
    const QRect area = reach & image.rect().adjusted(-penWidth, -penWidth, penWidth, penWidth);
    const QRect target = area.adjusted(-penWidth, -penWidth, penWidth, penWidth) & image.rect();
    if (area.isEmpty() || target.isEmpty())
        return {};
    QImage scratch(area.size(), QImage::Format_RGB32);
    scratch.fill(kUntouched);
    PixelWriter thin(scratch, Surface::RasterMode::CopyPen);
    drawThin(thin, area.left(), area.top());

    const auto footprint = Surface::penFootprint(penWidth);
    std::vector<uint8_t> covered(size_t(target.width()) * size_t(target.height()), 0);
    for (int y = 0; y < scratch.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
        for (int x = 0; x < scratch.width(); ++x) {
            if (line[x] != kBlack)
                continue;
            for (const QPoint& offset : footprint) {
                const QPoint at = QPoint(x, y) + area.topLeft() + offset;
                if (target.contains(at))
                    covered[size_t(at.y() - target.top()) * size_t(target.width()) +
                            size_t(at.x() - target.left())] = 1;
            }
        }
    }
    for (int y = target.top(); y <= target.bottom(); ++y) {
        const uint8_t* row = covered.data() + size_t(y - target.top()) * size_t(target.width());
        const bool scratchRow = y >= area.top() && y <= area.bottom();
        const auto* line =
            scratchRow ? reinterpret_cast<const QRgb*>(scratch.constScanLine(y - area.top()))
                       : nullptr;
        for (int x = target.left(); x <= target.right(); ++x) {
            if (row[x - target.left()])
                writer.penPixel(x, y);
            else if (line && x >= area.left() && x <= area.right() &&
                     line[x - area.left()] == kWhite)
                writer.brushPixel(x, y);
        }
    }
    return writer.changed();
}

} // namespace

namespace {

// Glyph pixels must be pure black for the text capture: no grey edges.
QFont withoutAntialiasing(QFont font)
{
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

} // namespace

Surface::Surface(int width, int height)
    : m_font(withoutAntialiasing(QFontDatabase::systemFont(QFontDatabase::GeneralFont)))
{
    resize(width, height);
}

void Surface::resize(int width, int height)
{
    QImage resized(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
    resized.fill(kWhite);
    const int rows = std::min(resized.height(), m_image.height());
    const size_t bytes = size_t(std::min(resized.width(), m_image.width())) * sizeof(QRgb);
    for (int y = 0; y < rows; ++y)
        std::memcpy(resized.scanLine(y), m_image.constScanLine(y), bytes);
    m_image = std::move(resized);
    m_dirty &= QRect(0, 0, m_image.width(), m_image.height());
}

Surface::RasterMode Surface::setROP2(RasterMode mode)
{
    return std::exchange(m_rasterMode, mode);
}

Surface::Brush Surface::selectBrush(Brush brush)
{
    return std::exchange(m_brush, brush);
}

int Surface::setPenWidth(int width)
{
    return std::exchange(m_penWidth, std::clamp(width, 1, kWidestPen));
}

// A disc as many pixels across as the pen is wide, centred on the pixel, or between pixels for
// an even width, where it reaches one pixel further right and down than left and up.
std::vector<QPoint> Surface::penFootprint(int width)
{
    width = std::clamp(width, 1, kWidestPen);
    const int low = -(width - 1) / 2;
    const int high = low + width - 1;
    const double centre = (low + high) / 2.0;
    const double radius = width / 2.0;
    std::vector<QPoint> offsets;
    for (int dy = low; dy <= high; ++dy) {
        for (int dx = low; dx <= high; ++dx) {
            if ((dx - centre) * (dx - centre) + (dy - centre) * (dy - centre) <= radius * radius)
                offsets.emplace_back(dx, dy);
        }
    }
    return offsets;
}

void Surface::MoveTo(int x, int y)
{
    m_position = QPoint(x, y);
}

void Surface::LineTo(int x, int y)
{
    const QPoint from = std::exchange(m_position, QPoint(x, y));
    if (from == m_position || !inDeviceRange({from.x(), from.y(), x, y}))
        return;
    const QPoint to = m_position;
    m_dirty |=
        drawFigure(m_image, m_rasterMode, m_penWidth, spanning(from, to),
                   [&](PixelWriter& writer, int64_t dx, int64_t dy) {
                       drawLine(writer, from.x() - dx, from.y() - dy, to.x() - dx, to.y() - dy);
                   });
}

void Surface::Rectangle(int left, int top, int right, int bottom)
{
    RoundRect(left, top, right, bottom, 0, 0);
}

// An ellipse is a round rectangle whose corner ellipse is the whole box.
void Surface::Ellipse(int left, int top, int right, int bottom)
{
    if (inDeviceRange({left, top, right, bottom})) // so that the box's size fits an int
        RoundRect(left, top, right, bottom, std::abs(right - left), std::abs(bottom - top));
}

void Surface::RoundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight)
{
    const Box box(left, top, right, bottom);
    if (box.empty() || !inDeviceRange({left, top, right, bottom}))
        return;
    const int64_t width = std::clamp<int64_t>(cornerWidth, 0, box.width());
    const int64_t height = std::clamp<int64_t>(cornerHeight, 0, box.height());
    const bool fill = m_brush == Brush::White;
    m_dirty |= drawFigure(m_image, m_rasterMode, m_penWidth, box.pixels(),
                          [&](PixelWriter& writer, int64_t dx, int64_t dy) {
                              drawRoundedBox(writer, box.moved(-dx, -dy), width, height, fill,
                                             kEveryPixel);
                          });
}

void Surface::Arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
                  int yEnd)
{
    const Box box(left, top, right, bottom);
    if (box.empty() || !inDeviceRange({left, top, right, bottom, xStart, yStart, xEnd, yEnd}))
        return;
    const auto drawThin = [&](PixelWriter& writer, int64_t dx, int64_t dy) {
        const Box moved = box.moved(-dx, -dy);
        // Twice the centre, as the ellipse's pixel positions are in half pixels.
        const int64_t centreX = moved.left + moved.right - 1;
        const int64_t centreY = moved.top + moved.bottom - 1;
        const auto direction = [&](int64_t x, int64_t y) {
            return Direction{2 * x - centreX, centreY - 2 * y};
        };
        const Sweep sweep(direction(xStart - dx, yStart - dy), direction(xEnd - dx, yEnd - dy));
        drawRoundedBox(writer, moved, moved.width(), moved.height(), false,
                       [&](int64_t x, int64_t y) { return sweep.contains(direction(x, y)); });
    };
    m_dirty |= drawFigure(m_image, m_rasterMode, m_penWidth, box.pixels(), drawThin);
}

void Surface::SetPixelV(int x, int y, QRgb colour)
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return;
    auto* pixel = reinterpret_cast<QRgb*>(m_image.scanLine(y)) + x;
    const QRgb opaque = colour | kBlack;
    if (*pixel == opaque)
        return;
    *pixel = opaque;
    m_dirty |= QRect(x, y, 1, 1);
}

QRgb Surface::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return kInvalidColour;
    return reinterpret_cast<const QRgb*>(m_image.constScanLine(y))[x] | kBlack;
}

void Surface::selectFont(const QFont& font)
{
    m_font = withoutAntialiasing(font);
}

QSize Surface::GetTextExtentPoint32(const QString& text) const
{
    const QFontMetrics metrics(m_font);
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

void Surface::TextOut(int x, int y, const QString& text)
{
    if (m_image.isNull() || text.isEmpty())
        return;
    const QFontMetrics metrics(m_font);
    const QRect cell(x, y, metrics.horizontalAdvance(text), metrics.height());
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(m_font);
    painter.fillRect(cell, Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
    painter.end();
    // Slanted glyphs reach past the cell.
    const QRect inked = metrics.boundingRect(text).translated(x, y + metrics.ascent());
    m_dirty |= (cell | inked) & m_image.rect();
}

QRect Surface::takeDirtyRect()
{
    return std::exchange(m_dirty, QRect());
}

} // namespace ombri
