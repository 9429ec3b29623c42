// The figure tools and the pen. What they draw is shown on the drawing surface, marked in the
// pending layer, and joins the document's notes only when the tool is put down.
#include "writer/ui/shape_tools.h"

#include <algorithm>
#include <cstdlib>

namespace ombri::writer {
namespace {

int half(int a, int b)
{
    return static_cast<int>(std::abs(a - b) * 0.5);
}
int middle(int a, int b)
{
    return static_cast<int>((a + b) * 0.5);
}

// A figure is captured in bands of this many rows, so that a figure over a whole large picture
// never needs a copy of all of it.
constexpr int kCaptureRows = 256;

bool isBlack(QRgb pixel)
{
    return (pixel & 0xFFFFFFu) == 0;
}

} // namespace

// ---- dragging ----------------------------------------------------------------------------

void DragTool::press(QPoint point)
{
    m_anchor = point;
    m_last = point;
    m_dragging = true;
}

void DragTool::scrolling(QPoint delta)
{
    if (m_dragging) {
        m_anchor += delta;
        m_last += delta;
    }
}

void DragTool::describe(ToolState& state) const
{
    state.anchor = m_anchor;
    state.dragging = m_dragging;
}

void DragTool::commitDrawing()
{
    m_dragging = false;
    m_canvas.drawing().commit(PendingDrawing::Joins::Add, actionName());
}

// ---- figures -----------------------------------------------------------------------------

void ShapeTool::takeUp(Tool kind)
{
    m_kind = kind;
    m_dragging = false;
}

std::string ShapeTool::actionName() const
{
    switch (m_kind) {
    case Tool::Rectangle:
        return "Rectangle";
    case Tool::Ellipse:
        return "Ellipse";
    case Tool::RoundRectangle:
        return "Round Rectangle";
    case Tool::Arc:
        return "Arc";
    default:
        return "Line";
    }
}

void ShapeTool::move(QPoint point, unsigned keyState)
{
    if (keyState == kLeftButton)
        drawPreview(point);
}

void ShapeTool::drawPreview(QPoint current)
{
    Surface& surface = m_canvas.surface();
    const auto mode = surface.setROP2(Surface::RasterMode::Not);
    surface.selectBrush(Surface::Brush::Null);
    drawShapeOn(surface, m_anchor, m_last, CornerOrder::CornerFirst);
    drawShapeOn(surface, m_anchor, current, CornerOrder::AnchorFirst);
    m_last = current;
    surface.setROP2(mode);
    m_canvas.flushSurface();
}

void ShapeTool::drawShapeOn(Surface& surface, QPoint a, QPoint corner, CornerOrder order) const
{
    const QPoint from = order == CornerOrder::CornerFirst ? corner : a;
    const QPoint to = order == CornerOrder::CornerFirst ? a : corner;
    const int penBefore = surface.setPenWidth(m_canvas.lineWidth());
    switch (m_kind) {
    case Tool::Line:
        surface.MoveTo(a.x(), a.y());
        surface.LineTo(corner.x(), corner.y());
        break;
    case Tool::Rectangle:
        surface.Rectangle(from.x(), from.y(), to.x(), to.y());
        break;
    case Tool::Ellipse:
        surface.Ellipse(from.x(), from.y(), to.x(), to.y());
        break;
    case Tool::RoundRectangle:
        surface.RoundRect(from.x(), from.y(), to.x(), to.y(), half(a.x(), corner.x()),
                          half(a.y(), corner.y()));
        break;
    case Tool::Arc: {
        const int m = middle(a.y(), corner.y());
        surface.Arc(corner.x(), corner.y(), a.x(), a.y(), corner.x(), m, a.x(), m);
        break;
    }
    default:
        break;
    }
    surface.setPenWidth(penBefore);
}

void ShapeTool::scrolled()
{
    // The new painting does not show the preview: it is drawn again at the same picture points.
    if (!m_dragging)
        return;
    Surface& surface = m_canvas.surface();
    const auto mode = surface.setROP2(Surface::RasterMode::Not);
    surface.selectBrush(Surface::Brush::Null);
    drawShapeOn(surface, m_anchor, m_last, CornerOrder::AnchorFirst);
    surface.setROP2(mode);
}

void ShapeTool::release(QPoint point)
{
    m_dragging = false;
    captureFigure(point);
    // The figure was drawn black to be read back; shown again from the picture and the pending
    // layer, it appears in the note colour and only where it lies on the picture.
    m_canvas.repaintNow();
    m_canvas.drawing().finishAction(actionName());
}

// What the figure shows on release is what the notes keep, whichever way it was dragged and
// wherever it lies on the picture, in view or not. The final figure is drawn black over the
// picture as the screen shows it, in bands, and every pure-black pixel of its box becomes a note
// pixel, as it would be read back from the screen: the box runs from the anchor to the release
// point and includes both, so a horizontal or vertical line, or a figure one pixel wide, is not
// lost, and a wide line's reach around it. The preview on the screen plays no part.
void ShapeTool::captureFigure(QPoint release)
{
    m_last = release;
    PendingDrawing& drawing = m_canvas.drawing();
    if (!drawing.forDrawing())
        return;
    const WriterDocument& doc = m_canvas.document();
    const QPoint scroll = m_canvas.scrollPosition();
    const QPoint anchor = m_anchor + scroll;
    const QPoint corner = release + scroll;
    const int reach = m_canvas.lineWidth() > 1 ? m_canvas.lineWidth() : 0;
    const QRect spanned(QPoint(std::min(anchor.x(), corner.x()), std::min(anchor.y(), corner.y())),
                        QPoint(std::max(anchor.x(), corner.x()), std::max(anchor.y(), corner.y())));
    const QRect box =
        spanned.adjusted(-reach, -reach, reach, reach) & QRect(0, 0, doc.width(), doc.height());
    if (box.isEmpty())
        return;
    for (int top = box.top(); top <= box.bottom(); top += kCaptureRows) {
        const QRect band(box.left(), top, box.width(),
                         std::min(kCaptureRows, box.bottom() + 1 - top));
        Surface drawn(band.width(), band.height());
        m_canvas.paintShownPicture(drawn, band);
        drawn.selectBrush(Surface::Brush::Null);
        drawShapeOn(drawn, anchor - band.topLeft(), corner - band.topLeft(),
                    CornerOrder::AnchorFirst);
        for (int y = 0; y < band.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(drawn.image().constScanLine(y));
            for (int x = 0; x < band.width(); ++x) {
                if (isBlack(line[x]))
                    drawing.mark(band.left() + x, band.top() + y);
            }
        }
    }
}

bool ShapeTool::putDown(bool)
{
    commitDrawing();
    return false;
}

// ---- pen ---------------------------------------------------------------------------------

void PenTool::takeUp()
{
    m_dragging = false;
}

void PenTool::move(QPoint point, unsigned keyState)
{
    if (keyState != kLeftButton)
        return;
    Surface& surface = m_canvas.surface();
    if (m_canvas.lineWidth() == 1) {
        const auto mode = surface.setROP2(Surface::RasterMode::Not);
        surface.MoveTo(m_last.x(), m_last.y());
        surface.LineTo(point.x(), point.y());
        surface.setROP2(mode);
        MarkPenSegment(m_last, point);
    } else {
        // A wide stroke overlaps itself where its segments join: each pixel is inverted once,
        // when it is first marked, so that what shows is what the notes keep. It shows on the
        // picture only, where it is kept.
        std::vector<QPoint> fresh;
        MarkPenSegment(m_last, point, &fresh);
        for (const QPoint& pixel : fresh)
            surface.SetPixelV(pixel.x(), pixel.y(),
                              surface.GetPixel(pixel.x(), pixel.y()) ^ 0xFFFFFFu);
    }
    m_last = point;
    m_canvas.flushSurface();
}

void PenTool::release(QPoint)
{
    m_dragging = false;
    m_canvas.drawing().finishAction(actionName());
}

bool PenTool::putDown(bool)
{
    commitDrawing();
    // The pen draws its strokes by inverting the screen, inside the picture and out; they are
    // shown again from the notes, in the note colour, once the pen is put down.
    return true;
}

// A wide stroke is the one-pixel stroke with the pen's footprint around each of its pixels.
void PenTool::MarkPenSegment(QPoint p0, QPoint p1, std::vector<QPoint>* fresh)
{
    PendingDrawing& drawing = m_canvas.drawing();
    const uint8_t* pending = drawing.forDrawing();
    if (!pending)
        return;
    const WriterDocument& doc = m_canvas.document();
    const QPoint scroll = m_canvas.scrollPosition();
    const std::vector<QPoint> footprint = Surface::penFootprint(m_canvas.lineWidth());
    const bool wide = m_canvas.lineWidth() > 1;
    const size_t width = static_cast<size_t>(doc.width());
    const auto mark = [&](long long x, long long y) {
        for (const QPoint& offset : footprint) {
            const long long column = x + offset.x() + scroll.x();
            const long long row = y + offset.y() + scroll.y();
            if (column < 0 || row < 0 || column >= doc.width() || row >= doc.height())
                continue;
            const size_t index =
                static_cast<size_t>(doc.height() - 1 - row) * width + static_cast<size_t>(column);
            if (wide && pending[index] == 1)
                continue;
            drawing.mark(static_cast<int>(column), static_cast<int>(row));
            if (fresh)
                fresh->emplace_back(static_cast<int>(x + offset.x()),
                                    static_cast<int>(y + offset.y()));
        }
    };
    const long long x0 = p0.x(), y0 = p0.y(), x1 = p1.x(), y1 = p1.y();
    mark(x0, y0);
    mark(x1, y1);
    const long long dx = std::max(x0, x1) - std::min(x0, x1);
    const long long dy = std::max(y0, y1) - std::min(y0, y1);
    if (dx <= 1 && dy <= 1)
        return;
    if (dx > dy) {
        for (long long x = std::min(x0, x1) + 1; x < std::max(x0, x1); ++x)
            mark(x, y1 + (y0 - y1) * (x - x1) / (x0 - x1));
    } else {
        for (long long y = std::min(y0, y1) + 1; y < std::max(y0, y1); ++y)
            mark(x1 + (x0 - x1) * (y - y1) / (y0 - y1), y);
    }
}

} // namespace ombri::writer
