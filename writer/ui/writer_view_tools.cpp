// Which tool is in hand, and the mouse handed to it. What a tool draws is shown on the drawing
// surface, marked in the pending layer, and joins the document's notes only when the tool is put
// down. A figure is drawn and captured wherever it lies on the picture: the view scrolls after a
// drag held past its edge.
#include "writer/ui/writer_view.h"

#include "writer/command_ids.h"

#include <QScrollBar>

#include <algorithm>

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

} // namespace

void WriterView::onToolCommand(int command)
{
    const Tool tool = toolFor(command);
    if (tool == Tool::None || !hasPicture())
        return;
    takeUpTool(tool);
}

void WriterView::takeUpTool(Tool tool)
{
    if (m_tool == tool) {
        EndTool(true);
        return;
    }
    switch (tool) {
    case Tool::Eraser:
        EndTool(true);
        if (m_zoom != 1.0f || m_fit) {
            m_zoom = 1.0f;
            m_fit = false;
            repaintNow();
        }
        // The picture is shown without its committed notes; the eraser's working copy paints
        // them back, so what the user erases disappears from the copy only.
        if (m_showNotes)
            setShowNotesAndRepaint(false);
        if (m_setEraserBoxText)
            m_setEraserBoxText(QString::number(EraserTool::kDefaultHalfSize));
        m_eraser.takeUp();
        m_active = &m_eraser;
        break;
    case Tool::Text:
        EndTool(m_showNotes);
        prepareCanvasForDrawing();
        m_text.takeUp();
        m_active = &m_text;
        break;
    default:
        EndTool(false);
        prepareCanvasForDrawing();
        if (tool == Tool::Pen) {
            m_pen.takeUp();
            m_active = &m_pen;
        } else {
            m_shapes.takeUp(tool);
            m_active = &m_shapes;
        }
        break;
    }
    m_tool = tool;
    if (tool == Tool::Text) {
        enableTextInput(true);
        textInputMoved();
    }
    if (tool == Tool::Eraser)
        PaintPendingLayer();
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

void WriterView::EndTool(bool repaint)
{
    m_drawing.dropIfOtherPicture();
    if (m_tool == Tool::None || !m_active)
        return;
    // Text still being composed is committed to the line before the line is put down.
    if (m_tool == Tool::Text)
        enableTextInput(false);
    const bool wasEraser = m_tool == Tool::Eraser;
    const bool repaintNeeded = m_active->putDown(repaint);
    m_tool = Tool::None;
    m_active = nullptr;
    // The eraser hid the committed notes and painted its working copy over the picture; once it
    // is put down the notes are shown as they now are, not as a stale painting that Display
    // Notes no longer describes.
    if (wasEraser)
        m_showNotes = true;
    if (repaintNeeded)
        repaintNow();
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

void WriterView::onLButtonDown(QPoint point, unsigned)
{
    m_panLast = point;
    if (m_active)
        m_active->press(point);
}

void WriterView::onMouseMove(QPoint point, unsigned keyState)
{
    if (m_tool == Tool::Eraser) {
        m_eraser.move(point, keyState);
        return;
    }
    if (keyState != kLeftButton)
        return;
    if (!m_active) {
        // Panning: the picture follows the mouse.
        const QPoint delta = m_panLast - point;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
        m_panLast = point;
        return;
    }
    m_active->move(point, keyState);
}

void WriterView::onLButtonUp(QPoint point, unsigned)
{
    stopDrag();
    if (m_active)
        m_active->release(point);
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
    const PendingDrawing::Layer& pending = m_drawing.layer();
    const bool pendingFits =
        pending && pending->size() == width * static_cast<size_t>(m_doc.height());
    for (int y = 0; y < area.height(); ++y) {
        const int row = area.top() + y;
        const auto* source = reinterpret_cast<const QRgb*>(picture.constScanLine(row));
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::copy(source + area.left(), source + area.left() + area.width(), line);
        if (!pendingFits)
            continue;
        const uint8_t* marked =
            pending->data() + static_cast<size_t>(m_doc.height() - 1 - row) * width;
        for (int x = 0; x < area.width(); ++x) {
            if (marked[area.left() + x] == 1)
                line[x] = note;
        }
    }
}

void WriterView::followDrag(QPoint point, unsigned keyState)
{
    m_dragPoint = point;
    const bool outside = !QRect(QPoint(), clientSize()).contains(point);
    if (m_active && m_active->dragging() && keyState == kLeftButton && outside) {
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
    if (!m_active || !m_active->dragging()) {
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
    m_autoScrollTimer->stop();
}

void WriterView::onEraserSizeText(const QString& text)
{
    viewport()->update();
    m_eraser.setSizeText(text);
}

} // namespace ombri::writer
