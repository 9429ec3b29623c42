// The text tool: the line being typed, its caret, and its capture as note pixels.
#include "writer/ui/text_tool.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace ombri::writer {

TextTool::TextTool(ToolCanvas& canvas, const QFont& font) : CanvasTool(canvas), m_font(font)
{
    m_caretTimer.setInterval(500);
    QObject::connect(&m_caretTimer, &QTimer::timeout, &m_caretTimer,
                     [this] { ToggleCaret(false); });
}

void TextTool::takeUp()
{
    m_anchor = QPoint(0, 0);
    m_last = m_anchor;
    PlaceCaret();
    m_caretShown = false;
    m_caretTimer.start();
}

int TextTool::lineHeight() const
{
    return m_canvas.surface().GetTextExtentPoint32("L").height();
}

void TextTool::PlaceCaret()
{
    m_caretTop = m_anchor;
    if (m_textLine.isEmpty()) {
        m_caretBottom = QPoint(m_caretTop.x(), m_caretTop.y() + lineHeight());
    } else {
        const QSize measured =
            m_canvas.surface().GetTextExtentPoint32(m_textLine.left(m_caretIndex));
        m_caretTop.rx() += measured.width();
        m_caretBottom = QPoint(m_caretTop.x(), m_anchor.y() + measured.height());
    }
    m_canvas.textInputMoved();
}

QRect TextTool::caretRect() const
{
    return QRect(m_caretTop, QSize(2, std::max(1, m_caretBottom.y() - m_caretTop.y())));
}

void TextTool::ToggleCaret(bool removeOnly)
{
    if (removeOnly && !m_caretShown)
        return;
    // Two one-pixel bars drawn by inversion: drawing them again restores the surface.
    Surface& surface = m_canvas.surface();
    const auto mode = surface.setROP2(Surface::RasterMode::Not);
    surface.selectBrush(Surface::Brush::Null);
    surface.MoveTo(m_caretTop.x(), m_caretTop.y());
    surface.LineTo(m_caretBottom.x(), m_caretBottom.y());
    surface.MoveTo(m_caretTop.x() + 1, m_caretTop.y());
    surface.LineTo(m_caretBottom.x() + 1, m_caretBottom.y());
    surface.setROP2(mode);
    m_caretShown = !m_caretShown;
    m_canvas.flushSurface();
}

void TextTool::press(QPoint point)
{
    ToggleCaret(true);
    if (!m_textLine.isEmpty()) {
        captureTextLine();
        m_textLine.clear();
        m_caretIndex = 0;
        // The finished line leaves its white cell and shows in the note colour.
        m_canvas.repaintNow();
    }
    m_anchor = point;
    PlaceCaret();
    m_last = m_anchor;
    m_canvas.flushSurface();
}

void TextTool::captureTextLine()
{
    if (m_textLine.isEmpty())
        return;
    Surface& surface = m_canvas.surface();
    const QSize extent = surface.GetTextExtentPoint32(m_textLine);
    m_last = m_anchor + QPoint(extent.width(), extent.height());
    // A slanted last glyph leans out of its cell; the box takes in three of its widths more.
    if (m_font.italic()) {
        const QString last = m_textLine.mid(previousGrapheme(static_cast<int>(m_textLine.size())));
        m_last.rx() += 3 * surface.GetTextExtentPoint32(last).width();
    }
    captureBox(std::min(m_anchor.x(), m_last.x()), std::min(m_anchor.y(), m_last.y()),
               std::max(m_anchor.x(), m_last.x()), std::max(m_anchor.y(), m_last.y()));
    m_canvas.drawing().finishAction(actionName());
}

void TextTool::captureBox(int left, int top, int right, int bottom)
{
    PendingDrawing& drawing = m_canvas.drawing();
    if (!drawing.forDrawing())
        return;
    const Surface& surface = m_canvas.surface();
    const WriterDocument& doc = m_canvas.document();
    const QPoint scroll = m_canvas.scrollPosition();
    // Only the part of the box on both the surface and the picture is read.
    const int x0 = std::max({left, 0, -scroll.x()});
    const int y0 = std::max({top, 0, -scroll.y()});
    const int x1 = std::min({right, surface.width(), doc.width() - scroll.x()});
    const int y1 = std::min({bottom, surface.height(), doc.height() - scroll.y()});
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if ((surface.GetPixel(x, y) & 0xFFFFFFu) == 0)
                drawing.mark(x + scroll.x(), y + scroll.y());
        }
    }
}

void TextTool::mergeTextLine()
{
    captureTextLine();
    m_canvas.drawing().commit(PendingDrawing::Joins::Add, actionName());
    m_textLine.clear();
    m_caretIndex = 0;
}

void TextTool::NewTextLine(bool redrawFirst)
{
    ToggleCaret(true);
    if (!m_textLine.isEmpty()) {
        if (redrawFirst)
            m_canvas.surface().TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
        captureTextLine();
        m_textLine.clear();
        m_caretIndex = 0;
        m_canvas.repaintNow();
    }
    const int height = lineHeight();
    m_anchor.ry() += height + 4;
    m_caretTop = m_anchor;
    m_caretBottom = QPoint(m_anchor.x(), m_anchor.y() + height);
    m_canvas.textInputMoved();
    m_canvas.flushSurface();
}

void TextTool::onChar(char32_t code)
{
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
        type(QString::fromUcs4(&code, 1));
    }
}

bool TextTool::type(const QString& text)
{
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

void TextTool::inputMethod(int replacementStart, int replacementLength, const QString& commit)
{
    if (replacementLength > 0) {
        const int length = static_cast<int>(m_textLine.size());
        const int from = std::clamp(m_caretIndex + replacementStart, 0, length);
        const int to = std::clamp(from + replacementLength, from, length);
        if (to > from)
            removeFromLine(from, to);
    }
    type(commit);
}

void TextTool::paste(const QString& text)
{
    // A character outside the basic plane comes as two halves, inserted one after the other.
    qsizetype position = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            // Lines end with LF on Linux, CR LF or CR elsewhere: each of them ends one line.
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            NewTextLine(true);
            position = 0;
        } else if (c == u'\t') {
            m_textLine.insert(position, QString(4, u' '));
            position += 4;
        } else {
            m_textLine.insert(position, c);
            ++position;
        }
    }
    if (position != 0)
        NewTextLine(true);
}

int TextTool::previousGrapheme(int index) const
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_textLine);
    finder.setPosition(index);
    return static_cast<int>(std::max<qsizetype>(0, finder.toPreviousBoundary()));
}

int TextTool::nextGrapheme(int index) const
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_textLine);
    finder.setPosition(index);
    const qsizetype next = finder.toNextBoundary();
    return static_cast<int>(next < 0 ? m_textLine.size() : next);
}

void TextTool::insertIntoLine(const QString& text)
{
    m_textLine.insert(m_caretIndex, text);
    ToggleCaret(true);
    m_caretIndex += static_cast<int>(text.size());
    PlaceCaret();
    m_canvas.surface().TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
    m_canvas.flushSurface();
}

void TextTool::removeFromLine(int from, int to)
{
    m_textLine.remove(from, to - from);
    ToggleCaret(true);
    m_caretIndex = from;
    PlaceCaret();
    m_canvas.repaintNow();
}

void TextTool::moveCaret(int index)
{
    if (index == m_caretIndex)
        return;
    ToggleCaret(true);
    m_caretIndex = index;
    PlaceCaret();
}

bool TextTool::key(int key)
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

void TextTool::scrolling(QPoint)
{
    ToggleCaret(true);
    if (!m_textLine.isEmpty())
        mergeTextLine();
}

void TextTool::paintOver()
{
    // The caret was drawn by inverting the old surface; the new one does not show it.
    m_caretShown = false;
    if (!m_textLine.isEmpty())
        m_canvas.surface().TextOut(m_anchor.x(), m_anchor.y(), m_textLine);
}

bool TextTool::hasDrawing() const
{
    return m_canvas.drawing().hasActions() || !m_textLine.isEmpty();
}

void TextTool::undo()
{
    CanvasTool::undo();
    m_textLine.clear();
    m_caretIndex = 0;
    // The caret goes back to where the line starts; the repaint that follows drops its old bars.
    PlaceCaret();
}

void TextTool::discard()
{
    CanvasTool::discard();
    m_textLine.clear();
    m_caretIndex = 0;
}

bool TextTool::putDown(bool repaintAsked)
{
    m_caretTimer.stop();
    ToggleCaret(true);
    if (m_textLine.isEmpty() && !m_canvas.drawing().layer())
        return false;
    // A line still being typed shows black on its white cell; once it is part of the notes it
    // is shown in the note colour, so the canvas is painted again even when not asked to be.
    const bool lineShown = !m_textLine.isEmpty();
    mergeTextLine();
    return repaintAsked || lineShown;
}

void TextTool::setFont(const QFont& font)
{
    m_font = font;
    m_canvas.surface().selectFont(m_font);
    PlaceCaret();
    m_canvas.repaintNow();
}

void TextTool::describe(ToolState& state) const
{
    state.anchor = m_anchor;
    state.textLine = m_textLine;
    state.caretIndex = m_caretIndex;
    state.caretShown = m_caretShown;
    state.caretBlinking = m_caretTimer.isActive();
    state.caretLine = QLine(m_caretTop, m_caretBottom);
}

} // namespace ombri::writer
