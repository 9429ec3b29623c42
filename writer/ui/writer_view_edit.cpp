// Undo and Redo of the tool in hand and of the document's steps, the clipboard, and Clear All.
#include "writer/ui/writer_view.h"

#include <QClipboard>
#include <QGuiApplication>

namespace ombri::writer {

bool WriterView::activationHasDrawing() const
{
    if (m_tool == Tool::None || !layersFitPicture())
        return false;
    if (m_tool == Tool::Eraser)
        return !m_actions.empty() || !m_actionPixels.empty();
    return m_pending.has_value() || !m_textLine.empty();
}

QString WriterView::undoName() const
{
    if (activationHasDrawing())
        return QString::fromUtf8(m_actions.empty() || !m_actionPixels.empty()
                                     ? actionName()
                                     : m_actions.back().label.c_str());
    const NoteStep* step = m_doc.history().toUndo();
    return step ? QString::fromStdString(step->label) : QString();
}

QString WriterView::redoName() const
{
    if (const NoteStep* step = m_doc.history().toRedo())
        return QString::fromStdString(step->label);
    if (!canRedoActivation())
        return QString();
    return m_redoActions.empty() ? QString::fromUtf8("Drawing")
                                 : QString::fromStdString(m_redoActions.back().label);
}

void WriterView::restartEraserCopy()
{
    m_actions.clear();
    m_actionPixels.clear();
    m_pending.reset();
    if (const uint8_t* notes = m_doc.GetNoteLayer()) {
        const size_t size = static_cast<size_t>(m_doc.width()) * m_doc.height();
        m_pending.emplace(notes, notes + size);
        m_layersPicture = m_doc.pictureGeneration();
    }
}

// A step of the document was undone or redone: the eraser starts again from the notes as they
// now are; any other tool shows them under its own drawing.
void WriterView::afterStep()
{
    if (m_tool == Tool::Eraser)
        restartEraserCopy();
    repaintNow();
    emit documentChanged();
}

void WriterView::onUndo()
{
    dropLayersOfOtherPictures();
    if (!activationHasDrawing()) {
        if (m_doc.undoStep())
            afterStep();
        return;
    }
    // The tool's own drawing goes first, all of it: everything drawn since the tool was chosen.
    if (m_tool == Tool::Eraser) {
        // Undoing erasures means starting again from the committed notes.
        restartEraserCopy();
        PaintPendingLayer();
        return;
    }
    finishAction(actionName());
    if (m_pending) {
        m_redoSlot = std::move(m_pending);
        m_redoActions = std::move(m_actions);
        m_pending.reset();
        m_actions.clear();
    }
    m_textLine.clear();
    m_caretIndex = 0;
    repaintNow();
}

void WriterView::onRedo()
{
    dropLayersOfOtherPictures();
    if (m_doc.canRedoStep()) {
        // The steps undone come back first, in the order they were undone, then the tool's own
        // drawing, which was undone before them.
        if (m_doc.redoStep())
            afterStep();
        return;
    }
    if (!canRedoActivation())
        return;
    if (m_tool == Tool::None) {
        // With no tool in hand the drawing has no activation to end with: it joins the notes at
        // once, as putting its tool down would have done, and is shown as they are.
        m_doc.mergeDrawing(m_redoSlot->data(), std::move(m_redoActions));
        m_redoActions.clear();
        m_redoSlot.reset();
        repaintNow();
        emit documentChanged();
        return;
    }
    m_pending = std::move(m_redoSlot);
    m_actions = std::move(m_redoActions);
    m_redoSlot.reset();
    m_redoActions.clear();
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
    // One byte per character; pasted text always goes to the start of the line.
    const QByteArray bytes = text.toLatin1();
    size_t position = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        switch (c) {
        case '\r':
        case '\n':
            // Lines end with LF on Linux, CR LF or CR elsewhere: each of them ends one line.
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            NewTextLine(true);
            position = 0;
            break;
        case '\t':
            m_textLine.insert(position, 4, ' ');
            position += 4;
            break;
        default:
            m_textLine.insert(position, 1, c);
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
    dropLayersOfOtherPictures();
    if (m_tool == Tool::Eraser && m_pending) {
        // What the eraser took so far comes before Clear All, as steps of their own: undoing
        // Clear All gives back the notes as the user saw them, not the ones they had erased.
        m_doc.restrictDrawing(m_pending->data(), takeActions());
    }
    m_doc.ClearNotes();
    // Clear All is a step of its own: what Redo kept would bring back a state that no longer
    // leads here.
    m_redoSlot.reset();
    m_redoActions.clear();
    if (m_tool == Tool::Eraser)
        restartEraserCopy();
    repaintNow();
    emit documentChanged();
}

} // namespace ombri::writer
