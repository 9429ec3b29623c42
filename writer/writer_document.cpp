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

void WriterDocument::MergeNotes(const uint8_t* mask)
{
    uint8_t* notes = GetNoteLayer();
    if (!notes || !mask)
        return;
    const size_t size = m_noteLayer->size();
    if (std::find(mask, mask + size, uint8_t{1}) != mask + size)
        widenForNotes();
    for (size_t i = 0; i < size; ++i) {
        if (mask[i] == 1)
            notes[i] = 1;
    }
    dropDisplayImage();
    SetModified(true);
}

void WriterDocument::RestrictNotes(const uint8_t* mask)
{
    uint8_t* notes = GetNoteLayer();
    if (!notes || !mask)
        return;
    const size_t size = m_noteLayer->size();
    for (size_t i = 0; i < size; ++i) {
        if (mask[i] == 0 && notes[i] == 1)
            notes[i] = 0;
    }
    dropDisplayImage();
    SetModified(true);
}

void WriterDocument::ClearNotes()
{
    if (m_image.isNull())
        return;
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
