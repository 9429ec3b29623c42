#pragma once

#include "writer/note_history.h"
#include "writer/writer_document.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri::writer {

// What the tool in hand has drawn and not yet given to the notes: the pending layer (one byte per
// picture pixel, 1 where the tool marked a note pixel, rows bottom-up as in the note layer), the
// actions it was drawn in, and the drawing Undo took back that Redo would bring again. Each
// action becomes a step of the document's history when the tool is put down. Both layers belong
// to the picture they were drawn on and are dropped when another one is shown.
class PendingDrawing {
  public:
    using Layer = std::optional<std::vector<uint8_t>>;

    explicit PendingDrawing(WriterDocument& document) : m_doc(document) {}

    const Layer& layer() const { return m_pending; }
    const Layer& redoSlot() const { return m_redoSlot; }
    // How many pending-layer bytes were written so far; drawing must cost the size of the
    // figure, never of the picture.
    uint64_t bytesWritten() const { return m_writes; }

    // Whether both layers were made for the picture on show.
    bool fitsPicture() const;
    void dropIfOtherPicture();
    // The picture was replaced, closed or emptied: nothing drawn for the old one is kept.
    void forgetAll();
    // The drawing in hand is thrown away (the user chose not to keep it).
    void discard();

    // The pending layer, made zero-filled when absent; null without a picture. The first pixel
    // marked in it drops what Redo kept.
    uint8_t* forDrawing();
    // Marks one note pixel, in picture coordinates from the top-left; points off the picture
    // are ignored. The pixel joins the action being drawn when it was not marked already.
    void mark(int column, int row);
    // The eraser's working copy: the notes as they are, from which it takes pixels away.
    void startFromNotes();
    // Takes one pixel out of the eraser's copy, by its index in the layer.
    void erase(size_t index);

    // Whether the activation drew or erased anything that Undo would take back.
    bool hasActions() const { return !m_actions.empty() || !m_actionPixels.empty(); }
    // The name of the last action, or of the one being drawn.
    std::string lastActionName(const std::string& drawing) const;
    // Ends the figure, stroke or text line being drawn: its pixels become one action.
    void finishAction(const std::string& name);

    // Puts the tool down: the drawing joins the notes, one step per action, or, for the
    // eraser, the notes keep only what its copy kept.
    enum class Joins { Add, Keep };
    void commit(Joins joins, const std::string& name);

    // Undo of the activation: the drawing goes to the redo slot.
    void undo(const std::string& name);
    bool canRedo() const { return m_redoSlot.has_value() && fitsPicture(); }
    std::string redoName() const;
    // Redo with a tool in hand brings the drawing back to it; with none, it joins the notes.
    void redoIntoTool();
    void redoIntoNotes();
    void dropRedo();

  private:
    size_t pixelCount() const;
    void startsDrawing();
    std::vector<DrawnAction> takeActions(const std::string& name);

    WriterDocument& m_doc;
    Layer m_pending;
    Layer m_redoSlot;
    // The actions of the activation so far, the pixels of the one being drawn, and the actions
    // that Redo brings back with the redo slot.
    std::vector<DrawnAction> m_actions;
    std::vector<size_t> m_actionPixels;
    std::vector<DrawnAction> m_redoActions;
    // The picture the layers were drawn on.
    uint64_t m_picture = 0;
    uint64_t m_writes = 0;
};

} // namespace ombri::writer
