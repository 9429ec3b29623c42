#include "writer/writer_document.h"

#include "formats/format_table.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace ombri::writer {

WriterDocument::WriterDocument(Prompt& prompt) : DocumentBase(prompt, kRecentFileCount) {}

void WriterDocument::setNoteColour(Rgb colour)
{
    dropDisplayImage();
    m_noteColour = colour;
}

void WriterDocument::DeleteContents()
{
    m_image.reset();
    m_displayPalette.clear();
    m_noteLayer.reset();
    m_history.clear();
    dropDisplayImage();
    ++m_pictureGeneration;
}

uint8_t* WriterDocument::GetNoteLayer()
{
    if (m_image.isNull() || m_width <= 0 || m_height <= 0)
        return nullptr;
    const size_t size = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    if (!m_noteLayer || m_noteLayer->size() != size)
        m_noteLayer.emplace(size, uint8_t{0});
    return m_noteLayer->data();
}

const Dib& WriterDocument::GetDisplayImage()
{
    if (!m_displayImage.isNull() || m_image.isNull())
        return m_displayImage;
    m_displayImage = m_image.clone();
    auto layout = dibGetLayout(m_displayImage);
    if (!layout || !m_noteLayer || (layout->bitCount != 24 && layout->bitCount != 32))
        return m_displayImage;
    const size_t width = static_cast<size_t>(layout->width);
    const size_t step = layout->bitCount / 8;
    const uint8_t* notes = m_noteLayer->data();
    for (int32_t row = 0; row < layout->height; ++row) {
        uint8_t* pixel = m_displayImage.data() + layout->pixelOffset + row * layout->stride;
        for (size_t x = 0; x < width; ++x, pixel += step) {
            if (*notes++ != 1)
                continue;
            pixel[0] = m_noteColour.blue;
            pixel[1] = m_noteColour.green;
            pixel[2] = m_noteColour.red;
            if (step == 4)
                pixel[3] = 255;
        }
    }
    return m_displayImage;
}

void WriterDocument::widenForNotes()
{
    const uint16_t bitCount = DibGetBitCount(m_image);
    if (m_image.isNull() || bitCount == 24 || bitCount == 32)
        return;
    Dib widened = dibConvertToBitCount(m_image, 24);
    if (widened.isNull())
        return;
    m_image = std::move(widened);
    m_displayPalette.clear();
    dropDisplayImage();
}

void WriterDocument::MergeNotes(const uint8_t* mask, const char* label)
{
    mergeDrawing(mask, {DrawnAction{label, {}}});
}

void WriterDocument::RestrictNotes(const uint8_t* mask, const char* label)
{
    restrictDrawing(mask, {DrawnAction{label, {}}});
}

// The picture's, not the note layer's: Clear All frees the layer, and the history's budget must
// not shrink to nothing with it.
size_t WriterDocument::pixelCount() const
{
    if (m_image.isNull())
        return 0;
    return static_cast<size_t>(std::max(0, m_width)) * static_cast<size_t>(std::max(0, m_height));
}

NoteStep WriterDocument::newStep(std::string label) const
{
    NoteStep step;
    step.label = std::move(label);
    step.notes = PixelSet(pixelCount());
    if (auto layout = dibGetLayout(m_image)) {
        step.width = layout->width;
        step.height = layout->height;
        step.bitCount = layout->bitCount;
    }
    return step;
}

// Each action but the last takes the pixels it named that change; the last takes every change of
// the mask that is left, so that nothing joins the notes without a step to undo it.
template <typename Changes>
void WriterDocument::recordActions(std::vector<DrawnAction>& actions, Changes changes)
{
    uint8_t* notes = m_noteLayer->data();
    const size_t size = m_noteLayer->size();
    std::vector<NoteStep> steps;
    for (size_t a = 0; a + 1 < actions.size(); ++a) {
        std::vector<size_t>& pixels = actions[a].pixels;
        std::sort(pixels.begin(), pixels.end());
        NoteStep step = newStep(std::move(actions[a].label));
        for (size_t i : pixels) {
            if (i < size && changes(i)) {
                step.notes.add(i);
                notes[i] ^= 1;
            }
        }
        steps.push_back(std::move(step));
    }
    NoteStep last = newStep(actions.empty() ? std::string("Drawing") : actions.back().label);
    for (size_t i = 0; i < size; ++i) {
        if (changes(i)) {
            last.notes.add(i);
            notes[i] ^= 1;
        }
    }
    steps.push_back(std::move(last));
    for (NoteStep& step : steps)
        pushStep(std::move(step));
}

void WriterDocument::mergeDrawing(const uint8_t* mask, std::vector<DrawnAction> actions)
{
    uint8_t* notes = GetNoteLayer();
    if (!notes || !mask)
        return;
    const size_t size = m_noteLayer->size();
    if (std::find(mask, mask + size, uint8_t{1}) != mask + size)
        widenForNotes();
    recordActions(actions, [&](size_t i) { return mask[i] == 1 && notes[i] != 1; });
    dropDisplayImage();
    SetModified(true);
}

void WriterDocument::restrictDrawing(const uint8_t* mask, std::vector<DrawnAction> actions)
{
    uint8_t* notes = GetNoteLayer();
    if (!notes || !mask)
        return;
    recordActions(actions, [&](size_t i) { return mask[i] == 0 && notes[i] == 1; });
    dropDisplayImage();
    SetModified(true);
}

void WriterDocument::pushStep(NoteStep step)
{
    if (!m_keepHistory ||
        (step.notes.empty() && step.carrier.empty() && step.words.empty() && step.patches.empty()))
        return;
    // Half the picture's raw size: enough for many Clear Alls of a full picture, which cost a
    // bit per pixel, and for hundreds of figures, which cost a few bytes per run. The picture's
    // own size counts, not the note layer's, which Clear All has just freed. A small picture
    // keeps at least kMinByteBudget, as its steps' bookkeeping alone would outweigh half of it.
    const size_t pixels = static_cast<size_t>(std::max(0, m_width)) * std::max(0, m_height);
    const size_t pixelBytes = std::max<size_t>(1, DibGetBitCount(m_image) / 8);
    m_history.setByteBudget(std::max(NoteHistory::kMinByteBudget, pixels * pixelBytes / 2));
    m_history.push(std::move(step));
}

void WriterDocument::keepHistory(bool keep)
{
    m_keepHistory = keep;
    if (!keep)
        m_history.clear();
}

bool WriterDocument::turnStep(const NoteStep& step, StepDirection direction)
{
    uint8_t* notes = GetNoteLayer();
    if (!notes)
        return false;
    applyStep(step, direction, m_image, notes, keptPixelWords());
    if (step.freesNoteLayer && (direction == StepDirection::Redo || !step.hadNoteLayer))
        m_noteLayer.reset();
    dropDisplayImage();
    SetModified(true);
    return true;
}

bool WriterDocument::undoStep()
{
    const NoteStep* step = m_history.toUndo();
    if (!step || !turnStep(*step, StepDirection::Undo))
        return false;
    m_history.undone();
    return true;
}

bool WriterDocument::redoStep()
{
    const NoteStep* step = m_history.toRedo();
    if (!step || !turnStep(*step, StepDirection::Redo))
        return false;
    m_history.redone();
    return true;
}

void WriterDocument::ClearNotes()
{
    if (m_image.isNull())
        return;
    const size_t size = static_cast<size_t>(std::max(0, m_width)) * std::max(0, m_height);
    const bool layerFits = m_noteLayer && m_noteLayer->size() == size;
    std::optional<NoteStep> step;
    if (m_keepHistory)
        step =
            recordClear(m_image, layerFits ? m_noteLayer->data() : nullptr, size, keptPixelWords());
    clearNotesAndCarrier();
    if (step) {
        step->freesNoteLayer = true;
        step->hadNoteLayer = layerFits;
        finishClearRecord(*step, m_image);
        pushStep(std::move(*step));
    }
}

void WriterDocument::clearNotesAndCarrier()
{
    if (m_image.isNull())
        return;
    if (std::vector<uint32_t>* words = keptPixelWords()) {
        for (uint32_t& word : *words)
            word &= ~uint32_t{1};
    }
    m_noteLayer.reset();
    ClearCarrier(m_image);
    eraseOmbriSignatures(m_image);
    dropDisplayImage();
    SetModified(true);
}

void WriterDocument::CloseImage()
{
    SetModified(false);
    DeleteContents();
    m_savePath.clear();
    clearPathName();
    m_width = 0;
    m_height = 0;
}

bool WriterDocument::SaveImage()
{
    if (!IsModified())
        return true;
    // Refusing would only send the user to Save As with the changes still unsaved.
    if (!m_savePath.empty() && !writesKindOf(m_savePath))
        return saveAs();
    if (!DoSave(m_savePath, true))
        return false;
    // With no path (after Close) the save dialog chose one: the picture now lives there.
    m_savePath = getPathName();
    return true;
}

bool WriterDocument::SaveAsLossless()
{
    if (!(m_saveDepth == SaveDepth::Bits24 && !m_noteLayer))
        m_saveDepth = SaveDepth::Alpha32;
    return saveAs();
}

bool WriterDocument::SaveAsCompressed()
{
    m_saveDepth = SaveDepth::Bits24;
    return saveAs();
}

SaveDialogRequest WriterDocument::saveDialogRequest() const
{
    // A picture with a file is offered under its own name, in its own folder; the extension
    // follows the format chosen in the dialog.
    const std::string& path = getPathName();
    const std::string name = path.empty() ? "image" : std::filesystem::path(path).stem().string();
    return SaveDialogRequest{name, "png", saveFilter(SaveChoice::Any), true, getFolder()};
}

bool WriterDocument::saveAs()
{
    auto chosen = prompt().chooseSavePath(saveDialogRequest());
    if (!chosen)
        return false;
    if (!DoSave(*chosen, true))
        return false;
    // The file just written is the document's file from now on: File Save writes there, as the
    // title and the recent files already say.
    m_savePath = *chosen;
    return true;
}

} // namespace ombri::writer
