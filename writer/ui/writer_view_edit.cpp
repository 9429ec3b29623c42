// Undo and Redo of the tool in hand and of the document's steps, the clipboard, and Clear All.
#include "writer/ui/writer_view.h"

#include <QClipboard>
#include <QGuiApplication>

namespace ombri::writer {

bool WriterView::activationHasDrawing() const
{
    return m_active && m_drawing.fitsPicture() && m_active->hasDrawing();
}

QString WriterView::undoName() const
{
    if (activationHasDrawing())
        return QString::fromStdString(m_drawing.lastActionName(m_active->actionName()));
    const NoteStep* step = m_doc.history().toUndo();
    return step ? QString::fromStdString(step->label) : QString();
}

QString WriterView::redoName() const
{
    if (const NoteStep* step = m_doc.history().toRedo())
        return QString::fromStdString(step->label);
    return canRedoActivation() ? QString::fromStdString(m_drawing.redoName()) : QString();
}

// A step of the document was undone or redone: the eraser starts again from the notes as they
// now are; any other tool shows them under its own drawing.
void WriterView::afterStep()
{
    if (m_tool == Tool::Eraser)
        m_drawing.startFromNotes();
    repaintNow();
    emit documentChanged();
}

void WriterView::onUndo()
{
    m_drawing.dropIfOtherPicture();
    if (!activationHasDrawing()) {
        if (m_doc.undoStep())
            afterStep();
        return;
    }
    // The tool's own drawing goes first, all of it: everything drawn since the tool was chosen.
    m_active->undo();
    repaintNow();
}

void WriterView::onRedo()
{
    m_drawing.dropIfOtherPicture();
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
        m_drawing.redoIntoNotes();
        repaintNow();
        emit documentChanged();
        return;
    }
    m_drawing.redoIntoTool();
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
    if (!text.isEmpty())
        m_text.paste(text);
}

void WriterView::onClearAll()
{
    if (!hasPicture())
        return;
    m_drawing.dropIfOtherPicture();
    // What the eraser took so far comes before Clear All, as steps of their own: undoing Clear
    // All gives back the notes as the user saw them, not the ones they had erased.
    if (m_tool == Tool::Eraser)
        m_drawing.commit(PendingDrawing::Joins::Keep, m_eraser.actionName());
    m_doc.ClearNotes();
    // Clear All is a step of its own: what Redo kept would bring back a state that no longer
    // leads here.
    m_drawing.dropRedo();
    if (m_tool == Tool::Eraser)
        m_drawing.startFromNotes();
    repaintNow();
    emit documentChanged();
}

} // namespace ombri::writer
