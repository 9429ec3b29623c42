// The File menu's commands that move notes between the picture and other files: a copy of the
// picture without them, and the notes written out as, or read in from, a mask picture.
#include "writer/note_files.h"
#include "writer/ui/writer_view.h"

namespace ombri::writer {

bool WriterView::onSaveCleanCopy()
{
    // What is drawn or typed so far joins the notes first, as for Save: the copy leaves out every
    // note, and the document keeps them all.
    EndTool(true);
    const bool saved = m_doc.SaveCleanCopy();
    emit documentChanged();
    return saved;
}

bool WriterView::onExportNotes()
{
    EndTool(true);
    return exportNotes(m_doc);
}

bool WriterView::onImportNotes()
{
    EndTool(true);
    if (!importNotes(m_doc))
        return false;
    // The imported notes are part of the notes at once, one step that Undo takes back. What Redo
    // kept from an earlier drawing goes, as when a new drawing starts: Redo brings back the last
    // change undone, and that is no longer it.
    m_drawing.dropRedo();
    // The user asked to see these notes: they are shown even when the notes were hidden.
    setShowNotesAndRepaint(true);
    emit documentChanged();
    return true;
}

} // namespace ombri::writer
