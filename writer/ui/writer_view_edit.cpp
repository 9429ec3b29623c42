// Undo and Redo of the current tool activation, the clipboard, and Clear All.
#include "writer/ui/writer_view.h"

#include <QClipboard>
#include <QGuiApplication>

namespace ombri::writer {

void WriterView::onUndo()
{
    dropLayersOfOtherPictures();
    if (m_tool == Tool::None)
        return;
    // One level, covering the whole activation: everything drawn since the tool was chosen.
    if (m_pending && m_tool != Tool::Eraser) {
        m_redoSlot = std::move(m_pending);
        m_pending.reset();
    }
    m_textLine.clear();
    m_caretIndex = 0;
    if (m_tool == Tool::Eraser) {
        // Undoing erasures means starting again from the committed notes.
        if (const uint8_t* notes = m_doc.GetNoteLayer()) {
            const size_t size = static_cast<size_t>(m_doc.width()) * m_doc.height();
            m_pending.emplace(notes, notes + size);
        }
        PaintPendingLayer();
        return;
    }
    repaintNow();
}

void WriterView::onRedo()
{
    dropLayersOfOtherPictures();
    if (!canRedo())
        return;
    if (m_tool == Tool::None) {
        // With no tool in hand the drawing has no activation to end with: it joins the notes at
        // once, as putting its tool down would have done, and is shown as they are.
        m_doc.MergeNotes(m_redoSlot->data());
        m_redoSlot.reset();
        repaintNow();
        emit documentChanged();
        return;
    }
    m_pending = std::move(m_redoSlot);
    m_redoSlot.reset();
    PaintPendingLayer();
}

void WriterView::onCut()
{
    // Notes cannot be cut out of a picture: Cut copies, and removes nothing.
    onCopy();
}

void WriterView::onCopy()
{
    if (!hasPicture())
        return;
    // The picture as it is shown, with its notes when they are shown.
    const QImage& picture = convertedPicture();
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
}

void WriterView::onPaste()
{
    if (m_tool != Tool::Text)
        return;
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    // Pasted text always goes to the start of the line. A character outside the basic plane
    // comes as two halves, inserted one after the other.
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

void WriterView::onClearAll()
{
    if (!hasPicture())
        return;
    m_doc.ClearNotes();
    repaintNow();
    emit documentChanged();
}

} // namespace ombri::writer
