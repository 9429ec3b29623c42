// The shape, pen and eraser tools of the writer's canvas. What a tool draws is shown on the
// drawing surface, marked in the pending layer, and joins the document's notes only when the
// tool's activation ends. A figure is drawn and captured wherever it lies on the picture: the
// view scrolls after a drag held past its edge.
#include "writer/ui/writer_view.h"

#include "writer/command_ids.h"

#include <QScrollBar>

#include <algorithm>
#include <cstdlib>

namespace ombri::writer {
namespace {

Tool toolFor(int command)
{
    switch (command) {
    case cmd::LineTool:
        return Tool::Line;
    case cmd::TextTool:
        return Tool::Text;
    case cmd::RectangleTool:
        return Tool::Rectangle;
    case cmd::Erasure:
        return Tool::Eraser;
    case cmd::EllipseTool:
        return Tool::Ellipse;
    case cmd::RoundRectangleTool:
        return Tool::RoundRectangle;
    case cmd::FreehandPen:
        return Tool::Pen;
    case cmd::ArcTool:
        return Tool::Arc;
    default:
        return Tool::None;
    }
}

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

// Qt's item views scroll after a drag every 50 ms; the step grows with the distance of the
// mouse past the edge, up to a page.
constexpr int kAutoScrollInterval = 50;

int autoScrollStep(int position, int extent, int page)
{
    if (position < 0)
        return -std::min(-position, page);
    if (position >= extent)
        return std::min(position - extent + 1, page);
    return 0;
}

bool isBlack(QRgb pixel)
{
    return (pixel & 0xFFFFFFu) == 0;
}

} // namespace

void WriterView::onToolCommand(int command)
{
    const Tool tool = toolFor(command);
    if (tool == Tool::None || !hasPicture())
        return;
    if (tool == Tool::Eraser)
        selectEraser();
    else if (tool == Tool::Text)
        selectTextTool();
    else
        selectDrawingTool(tool);
}

void WriterView::selectDrawingTool(Tool tool)
{
    if (m_tool == tool) {
        EndTool(true);
        return;
    }
    EndTool(false);
    prepareCanvasForDrawing();
    m_tool = tool;
    updateCursor();
}

// Tools draw at the picture's own size, over its notes.
void WriterView::prepareCanvasForDrawing()
{
    if (m_zoom != 1.0f || m_fit) {
        m_showNotes = true;
        m_zoom = 1.0f;
        m_fit = false;
        repaintNow();
    } else if (!m_showNotes) {
        setShowNotesAndRepaint(true);
    }
}

void WriterView::selectEraser()
{
    if (m_tool == Tool::Eraser) {
        EndTool(true);
        return;
    }
    EndTool(true);
    if (m_zoom != 1.0f || m_fit) {
        m_zoom = 1.0f;
        m_fit = false;
        repaintNow();
    }
    // The picture is shown without its committed notes; the eraser's working copy paints them
    // back, so what the user erases disappears from the copy only.
    if (m_showNotes)
        setShowNotesAndRepaint(false);
    if (m_setEraserBoxText)
        m_setEraserBoxText(QStringLiteral("10"));
    m_eraserHalfSize = 10;
    m_tool = Tool::Eraser;
    m_last = QPoint(-12, -12);
    dropLayersOfOtherPictures();
    const uint8_t* notes = m_doc.GetNoteLayer();
    if (notes) {
        const size_t size = static_cast<size_t>(m_doc.width()) * m_doc.height();
        m_pending.emplace(notes, notes + size);
        m_layersPicture = m_doc.pictureGeneration();
    }
    PaintPendingLayer();
    updateCursor();
}

void WriterView::EndTool(bool repaint)
{
    dropLayersOfOtherPictures();
    switch (m_tool) {
    case Tool::None:
        return;
    case Tool::Eraser:
        if (m_pending) {
            m_doc.restrictDrawing(m_pending->data(), takeActions());
            m_pending.reset();
        }
        // The eraser hid the committed notes and painted its working copy over the picture;
        // once it is put down the notes are shown as they now are, not as a stale painting
        // that Display Notes no longer describes.
        m_tool = Tool::None;
        m_showNotes = true;
        repaintNow();
        break;
    case Tool::Text:
        m_caretTimer->stop();
        enableTextInput(false);
        ToggleCaret(true);
        if (!m_textLine.isEmpty() || m_pending) {
            // A line still being typed shows black on its white cell; once it is part of the
            // notes it is shown in the note colour, so the canvas is repainted even when the
            // caller did not ask for it.
            const bool lineShown = !m_textLine.isEmpty();
            mergeTextLine();
            m_tool = Tool::None;
            if (repaint || lineShown)
                repaintNow();
        }
        break;
    default: {
        const bool pen = m_tool == Tool::Pen;
        if (m_pending) {
            m_doc.mergeDrawing(m_pending->data(), takeActions());
            m_pending.reset();
        }
        m_tool = Tool::None;
        // The pen draws its strokes by inverting the screen, inside the picture and out; they
        // are shown again from the notes, in the note colour, once the pen is put down.
        if (pen)
            repaintNow();
        break;
    }
    }
    m_tool = Tool::None;
    stopDrag();
    updateCursor();
    emit documentChanged();
}

void WriterView::setLineWidth(int width)
{
    const bool offered =
        std::find(std::begin(kLineWidths), std::end(kLineWidths), width) != std::end(kLineWidths);
    m_lineWidth = offered ? width : 1;
}

bool WriterView::drawsFigures() const
{
    switch (m_tool) {
    case Tool::Line:
    case Tool::Rectangle:
    case Tool::Ellipse:
    case Tool::RoundRectangle:
    case Tool::Arc:
    case Tool::Pen:
        return true;
    default:
        return false;
    }
}

const char* WriterView::actionName() const
{
    switch (m_tool) {
    case Tool::Line:
        return "Line";
    case Tool::Text:
        return "Text";
    case Tool::Rectangle:
        return "Rectangle";
    case Tool::Eraser:
        return "Eraser";
    case Tool::Ellipse:
        return "Ellipse";
    case Tool::RoundRectangle:
        return "Round Rectangle";
    case Tool::Pen:
        return "Pen";
    case Tool::Arc:
        return "Arc";
    case Tool::None:
        break;
    }
    return "Drawing";
}

void WriterView::finishAction(const char* name)
{
    if (m_actionPixels.empty())
        return;
    m_actions.push_back(DrawnAction{name, std::move(m_actionPixels)});
    m_actionPixels.clear();
}

std::vector<DrawnAction> WriterView::takeActions()
{
    finishAction(actionName());
    std::vector<DrawnAction> actions = std::move(m_actions);
    m_actions.clear();
    return actions;
}

std::optional<size_t> WriterView::layerIndex(QPoint client) const
{
    const QPoint scroll = scrollPosition();
    const long long column = static_cast<long long>(client.x()) + scroll.x();
    const long long row = static_cast<long long>(client.y()) + scroll.y();
    if (column < 0 || row < 0 || column >= m_doc.width() || row >= m_doc.height())
        return std::nullopt;
    return static_cast<size_t>(m_doc.height() - 1 - row) * static_cast<size_t>(m_doc.width()) +
           static_cast<size_t>(column);
}

uint8_t* WriterView::pendingLayerForDrawing()
{
    if (!hasPicture() || m_doc.width() < 1 || m_doc.height() < 1)
        return nullptr;
    dropLayersOfOtherPictures();
    if (!m_pending) {
        m_pending.emplace(static_cast<size_t>(m_doc.width()) * m_doc.height(), uint8_t{0});
        // New drawing: what Redo kept, in the tool's hands or the document's, would bring back
        // a state that no longer leads here.
        m_redoSlot.reset();
        m_redoActions.clear();
        m_doc.dropStepsAhead();
        m_layersPicture = m_doc.pictureGeneration();
    }
    return m_pending->data();
}

void WriterView::onLButtonDown(QPoint point, unsigned)
{
    if (m_tool == Tool::Text) {
        ToggleCaret(true);
        if (!m_textLine.isEmpty()) {
            captureTextLine();
            m_textLine.clear();
            m_caretIndex = 0;
            // The finished line leaves its white cell and shows in the note colour.
            repaintNow();
        }
        m_anchor = point;
        PlaceCaret();
        m_last = m_anchor;
        flushSurface();
        return;
    }
    m_anchor = point;
    m_last = point;
    m_dragging = drawsFigures();
}

void WriterView::onMouseMove(QPoint point, unsigned keyState)
{
    if (m_tool == Tool::Eraser) {
        const int e = m_eraserHalfSize;
        if (keyState != 0)
            EraseSquare(point.x() - e, point.y() - e, point.x() + e, point.y() + e);
        const auto mode = m_surface.setROP2(Surface::RasterMode::Not);
        m_surface.selectBrush(Surface::Brush::Null);
        m_surface.Ellipse(m_last.x() - e, m_last.y() - e, m_last.x() + e, m_last.y() + e);
        m_surface.Ellipse(point.x() - e, point.y() - e, point.x() + e, point.y() + e);
        m_surface.setROP2(mode);
        m_last = point;
        flushSurface();
        return;
    }
    if (keyState != kLeftButton)
        return;
    if (m_tool == Tool::None) {
        // Panning: the picture follows the mouse.
        const QPoint delta = m_last - point;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
        m_last = point;
        return;
    }
    if (m_tool == Tool::Text)
        return;
    drawPreview(point);
}

void WriterView::drawPreview(QPoint current)
{
    const auto mode = m_surface.setROP2(Surface::RasterMode::Not);
    m_surface.selectBrush(Surface::Brush::Null);
    if (m_tool == Tool::Pen && m_lineWidth == 1) {
        m_surface.MoveTo(m_last.x(), m_last.y());
        m_surface.LineTo(current.x(), current.y());
        MarkPenSegment(m_last, current);
    } else if (m_tool == Tool::Pen) {
        // A wide stroke overlaps itself where its segments join: each pixel is inverted once,
        // when it is first marked, so that what shows is what the notes keep. It shows on the
        // picture only, where it is kept.
        std::vector<QPoint> fresh;
        markPenStroke(m_last, current, &fresh);
        for (const QPoint& pixel : fresh)
            m_surface.SetPixelV(pixel.x(), pixel.y(),
                                m_surface.GetPixel(pixel.x(), pixel.y()) ^ 0xFFFFFFu);
    } else {
        drawShape(m_last, CornerOrder::CornerFirst);
        drawShape(current, CornerOrder::AnchorFirst);
    }
    m_last = current;
    m_surface.setROP2(mode);
    flushSurface();
}

// One shape between the anchor and a corner. The preview being removed names its corner first
// and the new one the anchor first; the arc always runs from the corner to the anchor.
void WriterView::drawShape(QPoint corner, CornerOrder order)
{
    drawShapeOn(m_surface, m_anchor, corner, order);
}

void WriterView::drawShapeOn(Surface& surface, QPoint a, QPoint corner, CornerOrder order) const
{
    const QPoint from = order == CornerOrder::CornerFirst ? corner : a;
    const QPoint to = order == CornerOrder::CornerFirst ? a : corner;
    const int penBefore = surface.setPenWidth(m_lineWidth);
    switch (m_tool) {
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

void WriterView::redrawPreview()
{
    const auto mode = m_surface.setROP2(Surface::RasterMode::Not);
    m_surface.selectBrush(Surface::Brush::Null);
    drawShape(m_last, CornerOrder::AnchorFirst);
    m_surface.setROP2(mode);
}

void WriterView::onLButtonUp(QPoint point, unsigned)
{
    stopDrag();
    switch (m_tool) {
    case Tool::Line:
    case Tool::Rectangle:
    case Tool::Ellipse:
    case Tool::RoundRectangle:
    case Tool::Arc:
        captureFigure(point);
        // The figure was drawn black to be read back; shown again from the picture and the
        // pending layer, it appears in the note colour and only where it lies on the picture.
        repaintNow();
        break;
    default:
        break;
    }
    // A figure, a pen stroke or an eraser stroke ends with the button; a text line ends when it
    // is captured.
    if (m_tool != Tool::Text)
        finishAction(actionName());
}

// What the figure shows on release is what the notes keep, whichever way it was dragged and
// wherever it lies on the picture, in view or not. The final figure is drawn black over the
// picture as the screen shows it, in bands, and every pure-black pixel of its box becomes a note
// pixel, as it would be read back from the screen: the box runs from the anchor to the release
// point and includes both, so a horizontal or vertical line, or a figure one pixel wide, is not
// lost, and a wide line's reach around it. The preview on the screen plays no part.
void WriterView::captureFigure(QPoint release)
{
    m_last = release;
    if (!pendingLayerForDrawing())
        return;
    const QPoint scroll = scrollPosition();
    const QPoint anchor = m_anchor + scroll;
    const QPoint corner = release + scroll;
    const int reach = m_lineWidth > 1 ? m_lineWidth : 0;
    const QRect spanned(QPoint(std::min(anchor.x(), corner.x()), std::min(anchor.y(), corner.y())),
                        QPoint(std::max(anchor.x(), corner.x()), std::max(anchor.y(), corner.y())));
    const QRect box =
        spanned.adjusted(-reach, -reach, reach, reach) & QRect(0, 0, m_doc.width(), m_doc.height());
    if (box.isEmpty())
        return;
    for (int top = box.top(); top <= box.bottom(); top += kCaptureRows) {
        const QRect band(box.left(), top, box.width(),
                         std::min(kCaptureRows, box.bottom() + 1 - top));
        Surface drawn(band.width(), band.height());
        paintShownPicture(drawn, band);
        drawn.selectBrush(Surface::Brush::Null);
        drawShapeOn(drawn, anchor - band.topLeft(), corner - band.topLeft(),
                    CornerOrder::AnchorFirst);
        for (int y = 0; y < band.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(drawn.image().constScanLine(y));
            for (int x = 0; x < band.width(); ++x) {
                if (isBlack(line[x]))
                    markPending(band.left() + x, band.top() + y);
            }
        }
    }
}

void WriterView::paintShownPicture(Surface& target, const QRect& area)
{
    const QImage& picture = convertedPicture();
    if (picture.size() != QSize(m_doc.width(), m_doc.height()) ||
        !QRect(QPoint(), picture.size()).contains(area))
        return;
    QImage& image = target.image();
    const Rgb colour = m_doc.noteColour();
    const QRgb note = qRgb(colour.red, colour.green, colour.blue);
    const size_t width = static_cast<size_t>(m_doc.width());
    for (int y = 0; y < area.height(); ++y) {
        const int row = area.top() + y;
        const auto* source = reinterpret_cast<const QRgb*>(picture.constScanLine(row));
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::copy(source + area.left(), source + area.left() + area.width(), line);
        if (!m_pending)
            continue;
        const uint8_t* pending =
            m_pending->data() + static_cast<size_t>(m_doc.height() - 1 - row) * width;
        for (int x = 0; x < area.width(); ++x) {
            if (pending[area.left() + x] == 1)
                line[x] = note;
        }
    }
}

void WriterView::markPending(int column, int row)
{
    const int width = m_doc.width();
    const int height = m_doc.height();
    if (column < 0 || row < 0 || column >= width || row >= height)
        return;
    uint8_t& pending = (*m_pending)[static_cast<size_t>(height - 1 - row) * width + column];
    if (pending != 1)
        m_actionPixels.push_back(static_cast<size_t>(height - 1 - row) * width + column);
    pending = 1;
    ++m_pendingWrites;
}

void WriterView::CaptureBlackPixels()
{
    captureBox(std::min(m_anchor.x(), m_last.x()), std::min(m_anchor.y(), m_last.y()),
               std::max(m_anchor.x(), m_last.x()), std::max(m_anchor.y(), m_last.y()));
}

void WriterView::captureBox(int left, int top, int right, int bottom)
{
    if (!pendingLayerForDrawing())
        return;
    const QPoint scroll = scrollPosition();
    // Only the part of the box on both the surface and the picture is read.
    const int x0 = std::max({left, 0, -scroll.x()});
    const int y0 = std::max({top, 0, -scroll.y()});
    const int x1 = std::min({right, m_surface.width(), m_doc.width() - scroll.x()});
    const int y1 = std::min({bottom, m_surface.height(), m_doc.height() - scroll.y()});
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if ((m_surface.GetPixel(x, y) & 0xFFFFFFu) == 0)
                markPending(x + scroll.x(), y + scroll.y());
        }
    }
}

void WriterView::MarkPenSegment(QPoint p0, QPoint p1)
{
    markPenStroke(p0, p1, nullptr);
}

// A wide stroke is the one-pixel stroke with the pen's footprint around each of its pixels.
void WriterView::markPenStroke(QPoint p0, QPoint p1, std::vector<QPoint>* fresh)
{
    if (!pendingLayerForDrawing())
        return;
    const QPoint scroll = scrollPosition();
    const std::vector<QPoint> footprint = Surface::penFootprint(m_lineWidth);
    const bool wide = m_lineWidth > 1;
    const size_t width = static_cast<size_t>(m_doc.width());
    const auto mark = [&](long long x, long long y) {
        for (const QPoint& offset : footprint) {
            const long long column = x + offset.x() + scroll.x();
            const long long row = y + offset.y() + scroll.y();
            if (column < 0 || row < 0 || column >= m_doc.width() || row >= m_doc.height())
                continue;
            const size_t index =
                static_cast<size_t>(m_doc.height() - 1 - row) * width + static_cast<size_t>(column);
            if (wide && (*m_pending)[index] == 1)
                continue;
            markPending(static_cast<int>(column), static_cast<int>(row));
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

void WriterView::followDrag(QPoint point, unsigned keyState)
{
    m_dragPoint = point;
    const bool outside = !QRect(QPoint(), clientSize()).contains(point);
    if (m_dragging && drawsFigures() && keyState == kLeftButton && outside) {
        if (!m_autoScrollTimer->isActive())
            m_autoScrollTimer->start(kAutoScrollInterval);
    } else {
        m_autoScrollTimer->stop();
    }
}

// One step of the scroll after a drag held past the edge: the picture moves under the figure's
// fixed anchor, and the figure follows to the picture point now under the mouse.
void WriterView::autoScroll()
{
    if (!m_dragging || !drawsFigures()) {
        stopDrag();
        return;
    }
    QScrollBar* across = horizontalScrollBar();
    QScrollBar* down = verticalScrollBar();
    const QPoint before(across->value(), down->value());
    const QSize client = clientSize();
    across->setValue(across->value() +
                     autoScrollStep(m_dragPoint.x(), client.width(), across->pageStep()));
    down->setValue(down->value() +
                   autoScrollStep(m_dragPoint.y(), client.height(), down->pageStep()));
    if (QPoint(across->value(), down->value()) != before)
        onMouseMove(m_dragPoint, kLeftButton);
}

void WriterView::stopDrag()
{
    m_dragging = false;
    m_autoScrollTimer->stop();
}

void WriterView::EraseSquare(int left, int top, int right, int bottom)
{
    if (!m_pending || !hasPicture())
        return;
    const Dib& picture = m_doc.image();
    auto layout = dibGetLayout(picture);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return;
    const QPoint scroll = scrollPosition();
    const int width = m_doc.width();
    const int height = m_doc.height();
    const int x0 = std::max({left, 0, -scroll.x()});
    const int y0 = std::max({top, 0, -scroll.y()});
    const int x1 = std::min(right, width - scroll.x());
    const int y1 = std::min(bottom, height - scroll.y());
    const size_t step = layout->bitCount / 8;
    const uint8_t* pixels = picture.data() + layout->pixelOffset;
    for (int y = y0; y < y1; ++y) {
        const int row = y + scroll.y();
        const size_t rowInMemory = static_cast<size_t>(height - 1 - row);
        uint8_t* pending = m_pending->data() + rowInMemory * width;
        const uint8_t* line = pixels + rowInMemory * layout->stride;
        for (int x = x0; x < x1; ++x) {
            const int column = x + scroll.x();
            if (pending[column] != 1)
                continue;
            const uint8_t* pixel = line + column * step;
            m_surface.SetPixelV(x, y, qRgb(pixel[2], pixel[1], pixel[0]));
            pending[column] = 0;
            if (m_actions.empty() && m_actionPixels.empty()) {
                // The first erasure is new drawing: the steps ahead no longer lead here.
                m_doc.dropStepsAhead();
                m_redoSlot.reset();
                m_redoActions.clear();
            }
            m_actionPixels.push_back(rowInMemory * width + static_cast<size_t>(column));
        }
    }
}

void WriterView::onEraserSizeText(const QString& text)
{
    viewport()->update();
    // Read from the last character to the first, each worth its digit times ten to the power
    // of its distance from the end; any other character counts as a zero digit.
    long long size = 0;
    long long place = 1;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
            size += (c.unicode() - '0') * place;
        if (place > 1000000000LL || size > 1000000000LL)
            break; // a half-size wider than any picture erases the same
        place *= 10;
    }
    if (size > 0)
        m_eraserHalfSize = static_cast<int>(size);
}

} // namespace ombri::writer
