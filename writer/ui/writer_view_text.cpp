// The text tool: one line at a time typed onto the picture, drawn black on white so that its
// glyphs can be read back as note pixels when the line is finished.
#include "writer/ui/writer_view.h"

namespace ombri::writer {

void WriterView::selectTextTool()
{
    if (m_tool == Tool::Text) {
        EndTool(true);
        return;
    }
    EndTool(m_showNotes);
    prepareCanvasForDrawing();
    m_tool = Tool::Text;
    // Before any click the first line starts at the top-left corner of the visible picture.
    m_anchor = QPoint(0, 0);
    m_last = m_anchor;
    PlaceCaret();
    m_caretShown = false;
    m_caretTimer->start();
    updateCursor();
}

bool WriterView::caretBlinking() const
{
    return m_caretTimer->isActive();
}

int WriterView::lineHeight() const
{
    return m_surface.GetTextExtentPoint32("L").height();
}

void WriterView::PlaceCaret()
{
    m_caretTop = m_anchor;
    if (m_textLine.empty()) {
        m_caretBottom = QPoint(m_caretTop.x(), m_caretTop.y() + lineHeight());
        return;
    }
    const size_t index = static_cast<size_t>(m_caretIndex);
    const QSize measured = m_surface.GetTextExtentPoint32(
        index == m_textLine.size() ? m_textLine : m_textLine.substr(0, index));
    m_caretTop.rx() += measured.width();
    m_caretBottom = QPoint(m_caretTop.x(), m_anchor.y() + measured.height());
}

void WriterView::ToggleCaret(bool removeOnly)
{
    if (removeOnly && !m_caretShown)
        return;
    // Two one-pixel bars drawn by inversion: drawing them again restores the surface.
    const auto mode = m_surface.setROP2(Surface::RasterMode::Not);
    m_surface.selectBrush(Surface::Brush::Null);
    m_surface.MoveTo(m_caretTop.x(), m_caretTop.y());
    m_surface.LineTo(m_caretBottom.x(), m_caretBottom.y());
    m_surface.MoveTo(m_caretTop.x() + 1, m_caretTop.y());
    m_surface.LineTo(m_caretBottom.x() + 1, m_caretBottom.y());
    m_surface.setROP2(mode);
    m_caretShown = !m_caretShown;
    flushSurface();
}

void WriterView::captureTextLine()
{
    if (m_textLine.empty())
        return;
    const QSize extent = m_surface.GetTextExtentPoint32(m_textLine);
    m_last = m_anchor + QPoint(extent.width(), extent.height());
    // A slanted last glyph leans out of its cell; the box takes in three of its widths more.
    if (m_font.italic())
        m_last.rx() +=
            3 * m_surface.GetTextExtentPoint32(m_textLine.substr(m_textLine.size() - 1)).width();
    CaptureBlackPixels();
    finishAction("Text");
}

void WriterView::mergeTextLine()
{
    captureTextLine();
    if (m_pending) {
        m_doc.mergeDrawing(m_pending->data(), takeActions());
        m_pending.reset();
    }
    m_textLine.clear();
    m_caretIndex = 0;
}

void WriterView::NewTextLine(bool redrawFirst)
{
    ToggleCaret(true);
    if (!m_textLine.empty()) {
        if (redrawFirst)
            m_surface.TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
        captureTextLine();
        m_textLine.clear();
        m_caretIndex = 0;
        repaintNow();
    }
    const int height = lineHeight();
    m_anchor.ry() += height + 4;
    m_caretTop = m_anchor;
    m_caretBottom = QPoint(m_anchor.x(), m_anchor.y() + height);
    flushSurface();
}

void WriterView::onChar(uint8_t code)
{
    if (m_tool != Tool::Text)
        return;
    switch (code) {
    case 8: // Backspace
        if (m_caretIndex > 0) {
            --m_caretIndex;
            m_textLine.erase(static_cast<size_t>(m_caretIndex), 1);
            ToggleCaret(true);
            PlaceCaret();
            repaintNow();
        }
        return;
    case 9:  // Tab
    case 27: // Escape
        return;
    case 13: // Enter
        NewTextLine(false);
        return;
    default:
        m_textLine.insert(static_cast<size_t>(m_caretIndex), 1, static_cast<char>(code));
        ToggleCaret(true);
        ++m_caretIndex;
        PlaceCaret();
        m_surface.TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
        flushSurface();
    }
}

bool WriterView::onTextKey(int key)
{
    const int length = static_cast<int>(m_textLine.size());
    switch (key) {
    case Qt::Key_Left:
        if (length > 0 && m_caretIndex > 0) {
            ToggleCaret(true);
            --m_caretIndex;
            PlaceCaret();
        }
        return true;
    case Qt::Key_Right:
        if (length > 0 && m_caretIndex < length) {
            ToggleCaret(true);
            ++m_caretIndex;
            PlaceCaret();
        }
        return true;
    case Qt::Key_Delete:
        if (m_caretIndex < length) {
            m_textLine.erase(static_cast<size_t>(m_caretIndex), 1);
            repaintNow();
            m_surface.TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
            flushSurface();
        }
        return true;
    default:
        return false;
    }
}

void WriterView::onFontSetting()
{
    if (m_tool != Tool::Text || !hasPicture() || !m_chooseFont)
        return;
    auto chosen = m_chooseFont(m_font);
    if (!chosen)
        return;
    m_font = *chosen;
    m_surface.selectFont(m_font);
    PlaceCaret();
    repaintNow();
}

} // namespace ombri::writer
