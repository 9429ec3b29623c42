#include "writer/writing.h"

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

const char* const Writing::kJpegQuestion =
    " For this version, JPEG format does not support OMBRI-image.\n The messages would lost. \n "
    "Save it?";
const char* const Writing::kSavableExtensions = ".png, .bmp, .tif, .tiff, .rgb, .dpx, .cin, .jpg";
const char* const Writing::kLosslessFilter =
    "PNG       (*.png)|*.png|BMP       (*.bmp)|*.bmp|TIFF        (*.tif)|*.tif|RGB       "
    "(*.rgb)|*.rgb|";

namespace {

using SaveKind = Writing::SaveKind;

struct SaveEntry {
    const char* extension;
    SaveKind kind;
};

// Exact spellings, in the order they are tried.
constexpr SaveEntry kSaveFormats[] = {
    {"tif", SaveKind::Tiff},  {"tiff", SaveKind::Tiff},  {"TIF", SaveKind::Tiff},
    {"TIFF", SaveKind::Tiff}, {"png", SaveKind::Png},    {"PNG", SaveKind::Png},
    {"rgb", SaveKind::Sgi},   {"RGB", SaveKind::Sgi},    {"bmp", SaveKind::Bmp},
    {"BMP", SaveKind::Bmp},   {"cin", SaveKind::Cineon}, {"CIN", SaveKind::Cineon},
    {"dpx", SaveKind::Dpx},   {"DPX", SaveKind::Dpx},    {"jpg", SaveKind::Jpeg},
    {"JPG", SaveKind::Jpeg},
};

} // namespace

Writing::SaveKind Writing::saveKindFor(const std::string& extension)
{
    for (const auto& entry : kSaveFormats) {
        if (extension == entry.extension)
            return entry.kind;
    }
    return SaveKind::None;
}

bool Writing::OnSaveDocument(const std::string& path)
{
    return SaveImageByExtension(path) == SaveOutcome::Saved;
}

int Writing::minimumWidthForNotes(const std::string& path) const
{
    switch (saveKindFor(FileExtension(path))) {
    case SaveKind::Bmp:
    case SaveKind::Png:
    case SaveKind::Tiff:
        // The 23 bytes of the signature: 8 pixels of 3 bytes, or 6 of 4.
        return bitCountOf(m_saveDepth) == 32 ? 6 : 8;
    case SaveKind::Sgi:
        // The planar signature takes the first 8 entries of each colour plane's row.
        return 8;
    default:
        return 0;
    }
}

bool Writing::pictureTooNarrowForNotes(const std::string& path) const
{
    return hasNotePixels() && m_width < minimumWidthForNotes(path);
}

bool Writing::hasNotePixels() const
{
    return m_noteLayer && countNotePixels(*m_noteLayer) != 0;
}

bool Writing::savingKeepsNotes(const std::string& path) const
{
    if (!hasNotePixels())
        return true;
    const SaveKind kind = saveKindFor(FileExtension(path));
    return kind != SaveKind::Jpeg && kind != SaveKind::None && !pictureTooNarrowForNotes(path);
}

Writing::SaveOutcome Writing::reportFailure(const std::string& path, const std::string& reason)
{
    m_lastSaveError = reason;
    prompt().tell("Could not save the image to " + printableName(path) + ".\n" + reason, "Warning",
                  Icon::Warning);
    return SaveOutcome::Failed;
}

Writing::SaveOutcome Writing::SaveImageByExtension(const std::string& path)
{
    m_lastSaveError.clear();
    const std::string extension = FileExtension(path);
    const SaveKind kind = saveKindFor(extension);
    if (kind == SaveKind::None) {
        // Only a real JPEG name gets the JPEG question; any other name cannot be saved at all,
        // and nothing pretends that it was.
        m_lastSaveError =
            "OmbriWriter cannot save files of the kind \"" + printableName(extension) + "\".";
        prompt().tell(m_lastSaveError + "\nChoose a name ending in one of " + kSavableExtensions +
                          ".",
                      "Warning", Icon::Warning);
        return SaveOutcome::Refused;
    }
    if (m_image.isNull())
        return reportFailure(path, "There is no image to save.");
    if (kind == SaveKind::Jpeg) {
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
    const bool notesLeftOut = (kind == SaveKind::Jpeg || notes == Notes::Leave) && hasNotePixels();
    BusyScope busy(prompt(), "Saving " + printableName(path) + "...");
    const SaveOutcome outcome = writeByKind(path, kind, notes);
    // Notes the file did not take now exist only in this window: the document stays changed, so
    // that closing it, opening another picture or leaving asks first.
    if (outcome == SaveOutcome::Saved)
        SetModified(notesLeftOut);
    return outcome;
}

bool Writing::isOwnFile(const std::string& path) const
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

bool Writing::SaveCleanCopy()
{
    if (m_image.isNull())
        return false;
    const std::string stem = std::filesystem::path(getTitle()).stem().string();
    const auto chosen =
        prompt().chooseSavePath(SaveDialogRequest{stem + "-clean", "png", kLosslessFilter, true});
    if (!chosen)
        return false;
    return saveCleanCopyTo(*chosen) == SaveOutcome::Saved;
}

Writing::SaveOutcome Writing::saveCleanCopyTo(const std::string& path)
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
    Writing copy(prompt());
    copy.m_image = m_image.clone();
    copy.m_width = m_width;
    copy.m_height = m_height;
    copy.m_pixelWords = m_pixelWords;
    copy.m_saveDepth = m_saveDepth;
    copy.ClearNotes();
    SaveOutcome outcome = SaveOutcome::Failed;
    if (saveKindFor(FileExtension(path)) == SaveKind::Jpeg) {
        // No note is left to lose, so the question about losing them is not asked.
        BusyScope busy(prompt(), "Saving " + printableName(path) + "...");
        copy.m_saveDepth = SaveDepth::Bits24;
        outcome = copy.writeByKind(path, SaveKind::Jpeg, Notes::Leave);
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
const Dib* Writing::preparePixels(uint16_t bitCount, SignatureRow signatureRow, Notes notes,
                                  Dib& owned)
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
            WriteOmbriSignature(row);
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

Writing::SaveOutcome Writing::writeByKind(const std::string& path, SaveKind kind, Notes notes)
{
    const uint16_t depthBits = bitCountOf(m_saveDepth);
    const auto first = SignatureRow::First;
    const auto last = SignatureRow::Last;
    const auto none = SignatureRow::None;
    const auto embed = notes;
    const bool withNotes = notes == Notes::Embed && m_noteLayer.has_value();
    Dib owned;
    const Dib* pixels = nullptr;
    Status written = fail("");
    switch (kind) {
    case SaveKind::Bmp:
        if ((pixels = preparePixels(depthBits, first, embed, owned)))
            written = WriteBmpFile(path, *pixels);
        break;
    case SaveKind::Png:
        // A PNG in the 24-bit depth keeps a picture's own alpha channel when it has no notes.
        pixels =
            preparePixels(m_saveDepth == SaveDepth::Bits24 ? 0 : depthBits, last, embed, owned);
        if (pixels)
            written = WritePngFile(path, *pixels);
        break;
    case SaveKind::Tiff:
        if ((pixels = preparePixels(depthBits, last, embed, owned)))
            written = WriteTiffFile(path, *pixels);
        break;
    case SaveKind::Sgi:
        // The marker of a planar file is laid over its planes by the writer itself.
        if ((pixels = preparePixels(depthBits, none, embed, owned)))
            written =
                WriteSgiFile(path, *pixels, withNotes ? SgiSignature::Write : SgiSignature::Omit);
        break;
    case SaveKind::Cineon:
    case SaveKind::Dpx: {
        // The note goes into bit 0 of each pixel word; the picture itself is written as it is.
        const auto format = kind == SaveKind::Dpx ? FilmFormat::Dpx : FilmFormat::Cineon;
        pixels = preparePixels(0, none, Notes::Leave, owned);
        if (pixels)
            written =
                WriteCineonDpxFile(path, format, *pixels, m_noteLayer ? &*m_noteLayer : nullptr,
                                   m_pixelWords.empty() ? nullptr : &m_pixelWords);
        break;
    }
    case SaveKind::Jpeg: {
        // JPEG carries no notes: the picture alone, as 24-bit pixels.
        pixels = preparePixels(24, none, Notes::Leave, owned);
        FormatMessages messages;
        if (pixels)
            written = WriteJpegFile(path, *pixels, &messages);
        for (const auto& message : messages)
            prompt().tell(message.text, message.caption.empty() ? "OmbriWriter" : message.caption,
                          message.isError ? Icon::Error : Icon::Information);
        break;
    }
    case SaveKind::None:
        break;
    }
    if (!pixels)
        return reportFailure(path, "There is not enough memory to save the image.");
    if (!written)
        return reportFailure(path, written.error().empty() ? "The file could not be written."
                                                           : written.error());
    return SaveOutcome::Saved;
}

} // namespace ombri::writer
