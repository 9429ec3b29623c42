#include "writer/savable_writer_document.h"

#include "core/printable_name.h"
#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/sgi.h"
#include "formats/tiff.h"

#include <filesystem>
#include <system_error>

namespace ombri::writer {

const char* const SavableWriterDocument::kJpegQuestion =
    " For this version, JPEG format does not support OMBRI-image.\n The messages would be lost. \n "
    "Save it?";

const ImageFormat* SavableWriterDocument::saveFormatFor(const std::string& extension)
{
    const ImageFormat* format = loadFormatForExtension(extension);
    return format && format->save ? format : nullptr;
}

bool SavableWriterDocument::OnSaveDocument(const std::string& path)
{
    return SaveImageByExtension(path) == SaveOutcome::Saved;
}

int SavableWriterDocument::minimumWidthForNotes(const std::string& path) const
{
    const ImageFormat* format = saveFormatFor(FileExtension(path));
    switch (format ? format->notes : NoteForm::None) {
    case NoteForm::MarkerInFirstRow:
    case NoteForm::MarkerInLastRow:
        // The 23 bytes of the signature: 8 pixels of 3 bytes, or 6 of 4.
        return bitCountOf(m_saveDepth) == 32 ? 6 : 8;
    case NoteForm::PlanarMarker:
        // The planar signature takes the first 8 entries of each colour plane's row.
        return 8;
    case NoteForm::PixelWordBits:
    case NoteForm::None:
        break;
    }
    return 0;
}

bool SavableWriterDocument::pictureTooNarrowForNotes(const std::string& path) const
{
    return hasNotePixels() && m_width < minimumWidthForNotes(path);
}

bool SavableWriterDocument::hasNotePixels() const
{
    return m_noteLayer && countNotePixels(*m_noteLayer) != 0;
}

bool SavableWriterDocument::savingKeepsNotes(const std::string& path) const
{
    if (!hasNotePixels())
        return true;
    const ImageFormat* format = saveFormatFor(FileExtension(path));
    return format && savesNotes(*format) && !pictureTooNarrowForNotes(path);
}

SavableWriterDocument::SaveOutcome SavableWriterDocument::reportFailure(const std::string& path,
                                                                        const std::string& reason)
{
    m_lastSaveError = reason;
    prompt().tell("Could not save the image to " + printableName(path) + ".\n" + reason, "Warning",
                  Icon::Warning);
    return SaveOutcome::Failed;
}

SavableWriterDocument::SaveOutcome
SavableWriterDocument::SaveImageByExtension(const std::string& path)
{
    m_lastSaveError.clear();
    const std::string extension = FileExtension(path);
    const ImageFormat* format = saveFormatFor(extension);
    if (!format) {
        // Only a real JPEG name gets the JPEG question; any other name cannot be saved at all,
        // and nothing pretends that it was.
        m_lastSaveError =
            "OmbriWriter cannot save files of the kind \"" + printableName(extension) + "\".";
        prompt().tell(m_lastSaveError + "\nChoose a name ending in one of " +
                          savableExtensionList() + ".",
                      "Warning", Icon::Warning);
        return SaveOutcome::Refused;
    }
    if (m_image.isNull())
        return reportFailure(path, "There is no image to save.");
    if (format == &kJpegFormat) {
        if (prompt().ask(kJpegQuestion, "Warning", Buttons::YesNo, Icon::Warning) != Answer::Yes) {
            m_lastSaveError = "The notes would be lost; nothing was saved.";
            return SaveOutcome::Declined;
        }
        m_saveDepth = SaveDepth::Bits24;
    }
    // A picture narrower than the signature keeps no notes in its file: the user decides, as
    // for JPEG, instead of finding them gone when the file is opened again.
    Notes notes = Notes::Embed;
    if (pictureTooNarrowForNotes(path)) {
        const std::string question = "The notes cannot be kept in this picture: it is " +
                                     std::to_string(m_width) + " pixels wide, and a picture " +
                                     "needs at least " +
                                     std::to_string(minimumWidthForNotes(path)) +
                                     " to carry them.\nSave it without the notes?";
        if (prompt().ask(question, "Warning", Buttons::YesNo, Icon::Warning) != Answer::Yes) {
            m_lastSaveError = "The picture is too narrow to keep the notes; nothing was saved.";
            return SaveOutcome::Declined;
        }
        notes = Notes::Leave;
    }
    const bool notesLeftOut = (!savesNotes(*format) || notes == Notes::Leave) && hasNotePixels();
    const SaveOutcome outcome = writeFormat(path, *format, notes);
    // Notes the file did not take now exist only in this window: the document stays changed, so
    // that closing it, opening another picture or leaving asks first.
    if (outcome == SaveOutcome::Saved)
        SetModified(notesLeftOut);
    return outcome;
}

bool SavableWriterDocument::isOwnFile(const std::string& path) const
{
    // Files are told apart by device and inode, which links and other spellings of a path
    // share; a name alike counts too, for an own file that is no longer on disk.
    std::error_code error;
    for (const std::string* own : {&getPathName(), &m_savePath}) {
        if (!own->empty() && (*own == path || std::filesystem::equivalent(*own, path, error)))
            return true;
    }
    return false;
}

bool SavableWriterDocument::SaveCleanCopy()
{
    if (m_image.isNull())
        return false;
    const std::string stem = std::filesystem::path(getTitle()).stem().string();
    const auto chosen = prompt().chooseSavePath(SaveDialogRequest{
        stem + "-clean", "png", saveFilter(SaveChoice::KeepingNotes), true, getFolder()});
    if (!chosen)
        return false;
    return saveCleanCopyTo(*chosen) == SaveOutcome::Saved;
}

SavableWriterDocument::SaveOutcome SavableWriterDocument::saveCleanCopyTo(const std::string& path)
{
    m_lastSaveError.clear();
    if (m_image.isNull())
        return reportFailure(path, "There is no image to save.");
    // The document would still show the notes while its file had lost them, and a Save with
    // nothing modified would never write them back.
    if (isOwnFile(path)) {
        m_lastSaveError = "A clean copy cannot replace the image's own file.";
        prompt().tell(m_lastSaveError + "\nIts notes would be gone for good; choose another name.",
                      "Warning", Icon::Warning);
        return SaveOutcome::Refused;
    }
    // The copy is cleared, never the document: a failed or cancelled save leaves it as it was.
    SavableWriterDocument copy(prompt());
    copy.setWorkRunner(workRunner());
    copy.m_image = m_image.clone();
    copy.m_width = m_width;
    copy.m_height = m_height;
    copy.m_pixelWords = m_pixelWords;
    copy.m_saveDepth = m_saveDepth;
    copy.clearNotesAndCarrier();
    SaveOutcome outcome = SaveOutcome::Failed;
    if (saveFormatFor(FileExtension(path)) == &kJpegFormat) {
        // No note is left to lose, so the question about losing them is not asked.
        copy.m_saveDepth = SaveDepth::Bits24;
        outcome = copy.writeFormat(path, kJpegFormat, Notes::Leave);
    } else {
        outcome = copy.SaveImageByExtension(path);
    }
    m_lastSaveError = copy.m_lastSaveError;
    return outcome;
}

// The pixels a writer takes. With a note layer: a carrier copy in the save depth's bit count
// with every carrier byte set from the notes, and the marker where the format looks for it.
// Without one: the picture as it is, brought to the bit count the format is written in (0: keep
// a 24- or 32-bit picture's own).
const Dib* SavableWriterDocument::preparePixels(uint16_t bitCount, SignatureRow signatureRow,
                                                Notes notes, Dib& owned) const
{
    auto layout = dibGetLayout(m_image);
    if (!layout)
        return nullptr;
    const bool trueColour = layout->bitCount == 24 || layout->bitCount == 32;
    if (m_noteLayer && notes == Notes::Embed) {
        // Colour-table pictures are widened first so that their notes are carried too.
        Dib widened;
        if (!trueColour)
            widened = dibConvertToBitCount(m_image, 24);
        owned = MakeCarrierCopy(trueColour ? m_image : widened, *m_noteLayer, m_saveDepth);
        auto copy = dibGetLayout(owned);
        if (!copy)
            return nullptr;
        if (rowHoldsSignature(copy->width, copy->bitCount) && signatureRow != SignatureRow::None) {
            uint8_t* row = owned.data() + copy->pixelOffset;
            if (signatureRow == SignatureRow::Last)
                row += copy->stride * static_cast<size_t>(copy->height - 1);
            writeCarrierSignature(row, copy->width, copy->bitCount);
        }
        return &owned;
    }
    const uint16_t wanted = bitCount == 0 && trueColour ? layout->bitCount
                            : bitCount == 0             ? 24
                                                        : bitCount;
    if (layout->bitCount == wanted && layout->colourTableBytes == 0 &&
        layout->headerSize == kInfoHeaderSize)
        return &m_image;
    owned = dibConvertToBitCount(m_image, wanted);
    return owned.isNull() ? nullptr : &owned;
}

// A format that keeps alpha keeps a picture's own alpha channel, and so its own depth, in the
// 24-bit depth when the picture has no notes.
bool SavableWriterDocument::keepsOwnAlpha(const ImageFormat& format) const
{
    return format.alpha == Alpha::Kept && m_saveDepth == SaveDepth::Bits24;
}

const Dib* SavableWriterDocument::pixelsToWrite(const ImageFormat& format, Notes notes, Dib& owned,
                                                const NoteLayer*& formatNotes) const
{
    const uint16_t depthBits = bitCountOf(m_saveDepth);
    const bool withNotes = notes == Notes::Embed && m_noteLayer.has_value();
    formatNotes = nullptr;
    switch (format.notes) {
    case NoteForm::MarkerInFirstRow:
    case NoteForm::MarkerInLastRow: {
        const auto row =
            format.notes == NoteForm::MarkerInFirstRow ? SignatureRow::First : SignatureRow::Last;
        return preparePixels(keepsOwnAlpha(format) ? 0 : depthBits, row, notes, owned);
    }
    case NoteForm::PlanarMarker:
        formatNotes = withNotes ? &*m_noteLayer : nullptr;
        return preparePixels(depthBits, SignatureRow::None, notes, owned);
    case NoteForm::PixelWordBits:
        // The note goes into bit 0 of each pixel word; the picture itself is written as it is.
        formatNotes = m_noteLayer ? &*m_noteLayer : nullptr;
        return preparePixels(0, SignatureRow::None, Notes::Leave, owned);
    case NoteForm::None:
        break;
    }
    // The picture alone, as 24-bit pixels.
    return preparePixels(24, SignatureRow::None, Notes::Leave, owned);
}

// The rows a save writes, made one at a time for a format whose writer takes them, where the
// picture would otherwise be copied whole beside the document while it is compressed: the
// carrier made from the picture and its notes, or the picture brought to the bit count it is
// written in. Nothing where the picture is written as it lies, the format takes only whole
// pictures, or the picture has a colour table and is widened first.
std::optional<RowSource> SavableWriterDocument::rowsToWrite(const ImageFormat& format,
                                                            Notes notes) const
{
    const bool markerInRow =
        format.notes == NoteForm::MarkerInFirstRow || format.notes == NoteForm::MarkerInLastRow;
    if (!format.saveRows || !markerInRow)
        return std::nullopt;
    if (notes == Notes::Embed && m_noteLayer) {
        std::optional<CarrierRows> carrier = CarrierRows::of(m_image, *m_noteLayer, m_saveDepth);
        if (!carrier)
            return std::nullopt;
        carrier->markRow(format.notes == NoteForm::MarkerInFirstRow
                             ? 0
                             : static_cast<size_t>(carrier->height()) - 1);
        return RowSource{
            carrier->width(), carrier->height(), carrier->bitCount(),
            [carrier = *carrier](size_t row, uint8_t* out) { carrier.copyRow(row, out); }};
    }
    const auto layout = dibGetLayout(m_image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32) ||
        layout->headerSize != kInfoHeaderSize || layout->colourTableBytes != 0)
        return std::nullopt;
    // As pixelsToWrite brings it.
    const uint16_t wanted = keepsOwnAlpha(format) ? layout->bitCount : bitCountOf(m_saveDepth);
    if (wanted == layout->bitCount)
        return std::nullopt;
    const uint8_t* pixels = m_image.data() + layout->pixelOffset;
    return RowSource{layout->width, layout->height, wanted,
                     [pixels, source = *layout, wanted](size_t row, uint8_t* out) {
                         dibConvertTrueColourRow(pixels + row * source.stride, source.bitCount,
                                                 source.width, out, wanted);
                     }};
}

SavableWriterDocument::SaveOutcome
SavableWriterDocument::writeFormat(const std::string& path, const ImageFormat& format, Notes notes)
{
    bool prepared = false;
    Status written = fail("");
    FormatMessages messages;
    // Only the preparation of the pixels and the writing run as long work: every question has
    // been asked before it, and what the writer has to say is told after it.
    runLongWork("Saving " + printableName(path) + "...", [&] {
        if (const std::optional<RowSource> rows = rowsToWrite(format, notes)) {
            prepared = true;
            written = format.saveRows(path, *rows);
            return;
        }
        Dib owned;
        const NoteLayer* formatNotes = nullptr;
        const Dib* pixels = pixelsToWrite(format, notes, owned, formatNotes);
        prepared = pixels != nullptr;
        if (pixels)
            written = format.save(path, SaveInput{*pixels, formatNotes,
                                                  m_pixelWords.empty() ? nullptr : &m_pixelWords,
                                                  &messages});
    });
    for (const auto& message : messages)
        prompt().tell(message.text, message.caption.empty() ? "OmbriWriter" : message.caption,
                      message.isError ? Icon::Error : Icon::Information);
    if (!prepared)
        return reportFailure(path, "There is not enough memory to save the image.");
    if (!written)
        return reportFailure(path, written.error().empty() ? "The file could not be written."
                                                           : written.error());
    return SaveOutcome::Saved;
}

} // namespace ombri::writer
