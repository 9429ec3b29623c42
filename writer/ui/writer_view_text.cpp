// The text tool's input: keys, typed text and input methods reach the line through the view.
#include "writer/ui/writer_view.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>

namespace ombri::writer {

void WriterView::onChar(char32_t code)
{
    if (m_tool == Tool::Text)
        m_text.onChar(code);
}

bool WriterView::onTypedText(const QString& text)
{
    return m_tool == Tool::Text && m_text.type(text);
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

void WriterView::textInputMoved()
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
    m_text.inputMethod(event->replacementStart(), event->replacementLength(),
                       event->commitString());
    event->accept();
}

QVariant WriterView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImEnabled)
        return m_tool == Tool::Text;
    if (m_tool != Tool::Text)
        return QAbstractScrollArea::inputMethodQuery(query);
    switch (query) {
    case Qt::ImCursorRectangle: {
        // The caret's two bars, in the canvas's own coordinates.
        const QRect caret = m_text.caretRect();
        return QRect(viewport()->mapTo(this, caret.topLeft()), caret.size());
    }
    case Qt::ImFont:
        return m_text.font();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
        return m_text.caretIndex();
    case Qt::ImSurroundingText:
        return m_text.line();
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
    if (auto chosen = m_chooseFont(m_text.font()))
        m_text.setFont(*chosen);
}

} // namespace ombri::writer
