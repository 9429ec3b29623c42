// The text tool: one line at a time typed onto the picture, drawn black on white so that its
// glyphs can be read back as note pixels when the line is finished.
#include "writer/ui/writer_view.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QTextBoundaryFinder>

#include <algorithm>

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
    enableTextInput(true);
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
    if (m_textLine.isEmpty()) {
        m_caretBottom = QPoint(m_caretTop.x(), m_caretTop.y() + lineHeight());
    } else {
        const QSize measured = m_surface.GetTextExtentPoint32(m_textLine.left(m_caretIndex));
        m_caretTop.rx() += measured.width();
        m_caretBottom = QPoint(m_caretTop.x(), m_anchor.y() + measured.height());
    }
    updateInputMethod();
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
    if (m_textLine.isEmpty())
        return;
    const QSize extent = m_surface.GetTextExtentPoint32(m_textLine);
    m_last = m_anchor + QPoint(extent.width(), extent.height());
    // A slanted last glyph leans out of its cell; the box takes in three of its widths more.
    if (m_font.italic()) {
        const QString last = m_textLine.mid(previousGrapheme(static_cast<int>(m_textLine.size())));
        m_last.rx() += 3 * m_surface.GetTextExtentPoint32(last).width();
    }
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
    if (!m_textLine.isEmpty()) {
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
    updateInputMethod();
    flushSurface();
}

void WriterView::onChar(char32_t code)
{
    if (m_tool != Tool::Text)
        return;
    switch (code) {
    case 8: // Backspace
        if (m_caretIndex > 0)
            removeFromLine(previousGrapheme(m_caretIndex), m_caretIndex);
        return;
    case 9:  // Tab
    case 27: // Escape
        return;
    case 13: // Enter
        NewTextLine(false);
        return;
    default:
        onTypedText(QString::fromUcs4(&code, 1));
    }
}

bool WriterView::onTypedText(const QString& text)
{
    if (m_tool != Tool::Text)
        return false;
    // Control characters have no glyph; the keys that send them act through onChar.
    QString printable;
    printable.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control)
            printable.append(c);
    }
    if (printable.isEmpty())
        return false;
    insertIntoLine(printable);
    return true;
}

int WriterView::previousGrapheme(int index) const
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_textLine);
    finder.setPosition(index);
    return static_cast<int>(std::max<qsizetype>(0, finder.toPreviousBoundary()));
}

int WriterView::nextGrapheme(int index) const
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_textLine);
    finder.setPosition(index);
    const qsizetype next = finder.toNextBoundary();
    return static_cast<int>(next < 0 ? m_textLine.size() : next);
}

void WriterView::insertIntoLine(const QString& text)
{
    m_textLine.insert(m_caretIndex, text);
    ToggleCaret(true);
    m_caretIndex += static_cast<int>(text.size());
    PlaceCaret();
    m_surface.TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
    flushSurface();
}

void WriterView::removeFromLine(int from, int to)
{
    m_textLine.remove(from, to - from);
    ToggleCaret(true);
    m_caretIndex = from;
    PlaceCaret();
    repaintNow();
}

void WriterView::moveCaret(int index)
{
    if (index == m_caretIndex)
        return;
    ToggleCaret(true);
    m_caretIndex = index;
    PlaceCaret();
}

bool WriterView::onTextKey(int key)
{
    const int length = static_cast<int>(m_textLine.size());
    switch (key) {
    case Qt::Key_Left:
        moveCaret(previousGrapheme(m_caretIndex));
        return true;
    case Qt::Key_Right:
        moveCaret(nextGrapheme(m_caretIndex));
        return true;
    case Qt::Key_Home:
        moveCaret(0);
        return true;
    case Qt::Key_End:
        moveCaret(length);
        return true;
    case Qt::Key_Delete:
        if (m_caretIndex < length)
            removeFromLine(m_caretIndex, nextGrapheme(m_caretIndex));
        return true;
    default:
        return false;
    }
}

void WriterView::enableTextInput(bool enable)
{
    QInputMethod* inputMethod = QGuiApplication::inputMethod();
    // Text still being composed is committed to the line before the line is put down.
    if (!enable && hasFocus())
        inputMethod->reset();
    setAttribute(Qt::WA_InputMethodEnabled, enable);
    viewport()->setAttribute(Qt::WA_InputMethodEnabled, enable);
    if (hasFocus())
        inputMethod->update(Qt::ImEnabled);
}

void WriterView::updateInputMethod()
{
    if (m_tool == Tool::Text && hasFocus())
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle | Qt::ImCursorPosition |
                                               Qt::ImAnchorPosition | Qt::ImSurroundingText);
}

void WriterView::inputMethodEvent(QInputMethodEvent* event)
{
    if (m_tool != Tool::Text) {
        event->ignore();
        return;
    }
    // Only committed text joins the line: the text being composed is shown by the input
    // method's own window, at the caret, and never drawn on the picture, where every pixel
    // drawn would become a note.
    if (event->replacementLength() > 0) {
        const int length = static_cast<int>(m_textLine.size());
        const int from = std::clamp(m_caretIndex + event->replacementStart(), 0, length);
        const int to = std::clamp(from + event->replacementLength(), from, length);
        if (to > from)
            removeFromLine(from, to);
    }
    onTypedText(event->commitString());
    event->accept();
}

QVariant WriterView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImEnabled)
        return m_tool == Tool::Text;
    if (m_tool != Tool::Text)
        return QAbstractScrollArea::inputMethodQuery(query);
    switch (query) {
    case Qt::ImCursorRectangle:
        // The caret's two bars, in the canvas's own coordinates.
        return QRect(viewport()->mapTo(this, m_caretTop),
                     QSize(2, std::max(1, m_caretBottom.y() - m_caretTop.y())));
    case Qt::ImFont:
        return m_font;
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return m_caretIndex;
    case Qt::ImSurroundingText:
        return m_textLine;
    case Qt::ImCurrentSelection:
        return QString();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
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
