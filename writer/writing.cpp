#include "writer/writing.h"

#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/png.h"

namespace ombri {

const char* const Writing::kJpegQuestion =
    " For this version, JPEG format does not support OMBRI-image.\n The messages would lost. \n "
    "Save it?";
const char* const Writing::kSavableExtensions = ".png, .bmp, .tif, .tiff, .rgb, .dpx, .cin, .jpg";

namespace {

enum class SaveKind { Tiff, Png, Sgi, Bmp, Cineon, Dpx, Jpeg, None };

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

SaveKind saveKindFor(const std::string& extension)
{
    for (const auto& entry : kSaveFormats) {
        if (extension == entry.extension)
            return entry.kind;
    }
    return SaveKind::None;
}

const char* notYetSavable(SaveKind kind)
{
    switch (kind) {
    case SaveKind::Tiff:
        return "Saving TIFF files is not supported yet.";
    case SaveKind::Sgi:
        return "Saving SGI RGB files is not supported yet.";
    case SaveKind::Cineon:
        return "Saving Cineon files is not supported yet.";
    case SaveKind::Dpx:
        return "Saving DPX files is not supported yet.";
    case SaveKind::Jpeg:
        return "Saving JPEG files is not supported yet.";
    default:
        return nullptr;
    }
}

uint8_t* lastRowInMemory(Dib& dib)
{
    auto layout = DibGetLayout(dib);
    return dib.data() + layout->pixelOffset +
           layout->stride * static_cast<size_t>(layout->height - 1);
}

} // namespace

bool Writing::OnSaveDocument(const std::string& path)
{
    return SaveImageByExtension(path) == SaveOutcome::Saved;
}

Writing::SaveOutcome Writing::reportFailure(const std::string& path, const std::string& reason)
{
    m_lastSaveError = reason;
    prompt().tell("Could not save the image to " + path + ".\n" + reason, "Warning", Icon::Warning);
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
        m_lastSaveError = "OmbriWriter cannot save files of the kind \"" + extension + "\".";
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
    if (const char* reason = notYetSavable(kind))
        return reportFailure(path, reason);
    const SaveOutcome outcome = saveCarrier(path, kind == SaveKind::Png);
    if (outcome == SaveOutcome::Saved)
        SetModified(false);
    return outcome;
}

// BMP and PNG. With a note layer every carrier byte is set from it and the marker is written;
// without one the picture is written as it is, brought to the save depth's layout where the
// format needs it.
Writing::SaveOutcome Writing::saveCarrier(const std::string& path, bool png)
{
    auto layout = DibGetLayout(m_image);
    if (!layout)
        return reportFailure(path, "The image is damaged.");
    const uint16_t depthBits = bitCountOf(m_saveDepth);
    const bool trueColour = layout->bitCount == 24 || layout->bitCount == 32;
    Dib prepared;
    const Dib* pixels = &m_image;
    if (m_noteLayer) {
        // Colour-table pictures are widened first so that their notes are carried too.
        Dib widened;
        if (!trueColour)
            widened = DibConvertToBitCount(m_image, 24);
        prepared = MakeCarrierCopy(trueColour ? m_image : widened, *m_noteLayer, m_saveDepth);
        if (prepared.isNull())
            return reportFailure(path, "There is not enough memory to save the image.");
        if (RowHoldsSignature(layout->width, depthBits))
            WriteOmbriSignature(png ? lastRowInMemory(prepared) : DibPixelStart(prepared));
        pixels = &prepared;
    } else {
        // A PNG in the 24-bit depth keeps a picture's own alpha channel; BMP takes the save
        // depth's bit count, as does a PNG in the alpha depth.
        const uint16_t wanted =
            png && m_saveDepth == SaveDepth::Bits24 && trueColour ? layout->bitCount : depthBits;
        if (layout->bitCount != wanted || layout->colorTableBytes != 0 ||
            layout->headerSize != kInfoHeaderSize) {
            prepared = DibConvertToBitCount(m_image, wanted);
            if (prepared.isNull())
                return reportFailure(path, "There is not enough memory to save the image.");
            pixels = &prepared;
        }
    }
    std::string error;
    const bool written =
        png ? WritePngFile(path, *pixels, error) : WriteBmpFile(path, *pixels, error);
    if (!written)
        return reportFailure(path, error.empty() ? "The file could not be written." : error);
    return SaveOutcome::Saved;
}

} // namespace ombri
