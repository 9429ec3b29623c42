#pragma once

#include "core/dib.h"
#include "notes/carrier.h"
#include "platform/document_base.h"
#include "writer/note_history.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri::writer {

// The writer's document: one picture, the notes drawn over it and how they are shown and saved.
// Opening is added by OpenableWriterDocument and saving by SavableWriterDocument; this layer keeps
// the fields and the note operations the canvas view uses.
class WriterDocument : public DocumentBase {
  public:
    static constexpr size_t kRecentFileCount = 6;
    static constexpr Rgb kDefaultNoteColour{0, 0, 255};

    explicit WriterDocument(Prompt& prompt);

    const Dib& image() const { return m_image; }
    // The colour table the picture is drawn with; empty for true-colour pictures.
    const std::vector<uint32_t>& displayPalette() const { return m_displayPalette; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    bool hasImage() const { return !m_image.isNull(); }

    SaveDepth saveDepth() const { return m_saveDepth; }
    void setSaveDepth(SaveDepth depth) { m_saveDepth = depth; }

    const std::string& savePath() const { return m_savePath; }

    bool hasNoteLayer() const { return m_noteLayer.has_value(); }
    const std::optional<NoteLayer>& noteLayer() const { return m_noteLayer; }

    Rgb noteColour() const { return m_noteColour; }
    // Any change of colour drops the display image, which is painted in it.
    void setNoteColour(Rgb colour);

    // The dirty state: every change of the notes goes through here.
    virtual void SetModified(bool modified) { SetModifiedFlag(modified); }

    void DeleteContents() override;

    // The note layer, created zero-filled when absent; null without an image.
    uint8_t* GetNoteLayer();
    // The picture with every note pixel painted in the note colour, built when absent.
    const Dib& GetDisplayImage();
    // Mask bytes of 1 become notes (every tool but the eraser, Import Notes), as one step of
    // the history.
    void MergeNotes(const uint8_t* mask, const char* label = "Import Notes");
    // Notes survive only where the mask holds 1 (the eraser), as one step.
    void RestrictNotes(const uint8_t* mask, const char* label = "Eraser");
    // The same, one step for each action a tool finished in its activation: each figure, pen or
    // eraser stroke and text line can then be undone by itself. Pixels of the mask that no
    // action names join the last step.
    void mergeDrawing(const uint8_t* mask, std::vector<DrawnAction> actions);
    void restrictDrawing(const uint8_t* mask, std::vector<DrawnAction> actions);
    // Frees the note layer and makes the picture itself carry no note, as one step that gives
    // back exactly the note pixels and carrier bits it took.
    void ClearNotes();

    // Undo and Redo beyond the tool in hand. Both mark the document modified: a picture saved
    // before an Undo no longer holds what the window shows.
    bool canUndoStep() const { return m_history.canUndo(); }
    bool canRedoStep() const { return m_history.canRedo(); }
    bool undoStep();
    bool redoStep();
    const NoteHistory& history() const { return m_history; }
    // New drawing: the steps undone would redo on notes that no longer lead to them.
    void dropStepsAhead() { m_history.dropStepsAhead(); }
    // Steps are kept only where they can be undone: the canvas turns them on; the command line,
    // which changes a picture once and saves it, keeps none.
    void keepHistory(bool keep);
    // Counts every change of the picture or of its display image, so a view can keep a converted
    // copy for painting until this changes.
    uint64_t displayGeneration() const { return m_displayGeneration; }
    // Counts the pictures the document has held: it moves on whenever the picture is replaced,
    // closed or emptied, so that drawing kept for one picture never lands on another, even one
    // of the same size.
    uint64_t pictureGeneration() const { return m_pictureGeneration; }

    // Empties the document after File Close.
    void CloseImage();

    // File Save: saves to the path the picture was opened from when there are changes. A picture
    // from a kind of file the writer only reads (GIF, PCX, AVIF, HEIF, JPEG XL) is saved under a
    // name chosen in the save dialog instead, as Save As saves.
    bool SaveImage();
    // Save As (Lossless): the alpha save depth unless the picture came in the 24-bit depth and
    // has no notes; then the save dialog.
    bool SaveAsLossless();
    // Save As (Compressed): the 24-bit save depth, then the save dialog.
    bool SaveAsCompressed();

  protected:
    SaveDialogRequest saveDialogRequest() const override;
    // The notes and carrier bits cleared without a step: for copies that are saved clean.
    void clearNotesAndCarrier();
    // DPX and Cineon pictures keep their pixel words, whose low bit carries the note too.
    virtual std::vector<uint32_t>* keptPixelWords() { return nullptr; }
    // A picture with a colour table cannot show or carry notes: it becomes a 24-bit picture of
    // the same colours when its first note is drawn, as saving it with notes would make it.
    void widenForNotes();
    bool saveAs();
    // Whether a save under the path can write its kind of file at all.
    virtual bool writesKindOf(const std::string&) const { return true; }

    Dib m_image;
    std::vector<uint32_t> m_displayPalette;
    SaveDepth m_saveDepth = SaveDepth::Alpha32;
    std::optional<NoteLayer> m_noteLayer;
    Rgb m_noteColour = kDefaultNoteColour;
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::string m_savePath;
    Dib m_displayImage;
    uint64_t m_displayGeneration = 0;
    uint64_t m_pictureGeneration = 0;
    NoteHistory m_history;
    bool m_keepHistory = false;

    size_t pixelCount() const;
    NoteStep newStep(std::string label) const;
    template <typename Changes>
    void recordActions(std::vector<DrawnAction>& actions, Changes changes);
    void pushStep(NoteStep step);
    bool turnStep(const NoteStep& step, StepDirection direction);

    // Every change of the picture, the notes or their colour goes through here.
    void dropDisplayImage()
    {
        m_displayImage.reset();
        ++m_displayGeneration;
    }
};

} // namespace ombri::writer
