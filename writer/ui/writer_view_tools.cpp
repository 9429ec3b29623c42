// The shape, pen and eraser tools of the writer's canvas. What a tool draws is shown on the
// drawing surface, read back into the pending layer, and joins the document's notes only when
// the tool's activation ends.
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
        ToggleCaret(true);
        if (!m_textLine.empty() || m_pending) {
            // A line still being typed shows black on its white cell; once it is part of the
            // notes it is shown in the note colour, so the canvas is repainted even when the
            // caller did not ask for it.
            const bool lineShown = !m_textLine.empty();
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
    updateCursor();
    emit documentChanged();
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
        if (!m_textLine.empty()) {
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
    if (m_tool == Tool::Pen) {
        m_surface.MoveTo(m_last.x(), m_last.y());
        m_surface.LineTo(current.x(), current.y());
        MarkPenSegment(m_last, current);
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
    const QPoint a = m_anchor;
    const QPoint from = order == CornerOrder::CornerFirst ? corner : a;
    const QPoint to = order == CornerOrder::CornerFirst ? a : corner;
    switch (m_tool) {
    case Tool::Line:
        m_surface.MoveTo(a.x(), a.y());
        m_surface.LineTo(corner.x(), corner.y());
        break;
    case Tool::Rectangle:
        m_surface.Rectangle(from.x(), from.y(), to.x(), to.y());
        break;
    case Tool::Ellipse:
        m_surface.Ellipse(from.x(), from.y(), to.x(), to.y());
        break;
    case Tool::RoundRectangle:
        m_surface.RoundRect(from.x(), from.y(), to.x(), to.y(), half(a.x(), corner.x()),
                            half(a.y(), corner.y()));
        break;
    case Tool::Arc: {
        const int m = middle(a.y(), corner.y());
        m_surface.Arc(corner.x(), corner.y(), a.x(), a.y(), corner.x(), m, a.x(), m);
        break;
    }
    default:
        break;
    }
}

void WriterView::onLButtonUp(QPoint point, unsigned)
{
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

void WriterView::drawFinalFigure(QPoint release)
{
    drawShape(release, CornerOrder::AnchorFirst);
}

// What the figure shows on release is what the notes keep, whichever way it was dragged: the box
// read back runs from the anchor to the release point and includes both, so a horizontal or
// vertical line, or a figure one pixel wide, is not lost. A preview left at another point than
// the release (a release without a move onto it) is taken off the screen first, so that none of
// its inverted pixels is read as a note.
void WriterView::captureFigure(QPoint release)
{
    if (m_last != m_anchor && m_last != release) {
        const auto mode = m_surface.setROP2(Surface::RasterMode::Not);
        m_surface.selectBrush(Surface::Brush::Null);
        drawShape(m_last, CornerOrder::CornerFirst);
        m_surface.setROP2(mode);
    }
    drawFinalFigure(release);
    m_last = release;
    captureBox(std::min(m_anchor.x(), release.x()), std::min(m_anchor.y(), release.y()),
               std::max(m_anchor.x(), release.x()) + 1, std::max(m_anchor.y(), release.y()) + 1);
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
    if (!pendingLayerForDrawing())
        return;
    const QPoint scroll = scrollPosition();
    const auto mark = [&](long long x, long long y) {
        const long long column = x + scroll.x();
        const long long row = y + scroll.y();
        if (column >= 0 && row >= 0 && column < m_doc.width() && row < m_doc.height())
            markPending(static_cast<int>(column), static_cast<int>(row));
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
