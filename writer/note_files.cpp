#include "writer/note_files.h"

#include "core/printable_name.h"
#include "formats/dispatch.h"
#include "formats/png.h"
#include "writer/savable_writer_document.h"

#include <filesystem>
#include <vector>

namespace ombri::writer {

namespace {

constexpr const char* kNotesFilter = "PNG       (*.png)|*.png|";

// The note layer keeps the bottom row first, a PNG the top row: rows are turned over here.
std::vector<uint8_t> noteLayerAsGrey(const NoteLayer& notes, size_t width, size_t height)
{
    std::vector<uint8_t> grey(width * height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* noteRow = notes.data() + (height - 1 - y) * width;
        uint8_t* greyRow = grey.data() + y * width;
        for (size_t x = 0; x < width; ++x)
            greyRow[x] = noteRow[x] == 1 ? 0 : 255;
    }
    return grey;
}

// Dark and, where the mask has an alpha channel, mostly opaque. Pixels are blue first; the
// fourth byte is read only where there is alpha.
bool isNotePixel(const uint8_t* pixel, bool hasAlpha)
{
    const int brightness = (pixel[0] + pixel[1] + pixel[2]) / 3;
    return brightness < 128 && (!hasAlpha || pixel[3] >= 128);
}

bool anyAlpha(const Dib& pixels)
{
    const auto layout = dibGetLayout(pixels);
    if (!layout)
        return false;
    const uint8_t* bytes = pixels.data() + layout->pixelOffset;
    for (size_t i = 3; i < layout->pixelBytes; i += 4) {
        if (bytes[i] != 0)
            return true;
    }
    return false;
}

std::string sizeText(int32_t width, int32_t height)
{
    return std::to_string(width) + 'x' + std::to_string(height);
}

} // namespace

Status writeNoteLayerPng(const std::string& path, const NoteLayer& notes, uint32_t width,
                         uint32_t height)
{
    const std::vector<uint8_t> grey = noteLayerAsGrey(notes, width, height);
    return writeGreyPngFile(path, grey.data(), width, height);
}

std::optional<NoteMask> noteMaskFromPicture(const Dib& picture)
{
    // Plain 24- and 32-bit masks are read where they lie: a mask as large as the picture would
    // otherwise be copied whole beside the picture and the notes being made of it.
    const auto given = dibGetLayout(picture);
    const bool plain = given && (given->bitCount == 24 || given->bitCount == 32) &&
                       given->headerSize == kInfoHeaderSize && given->colourTableBytes == 0;
    Dib widened;
    if (!plain)
        widened = dibConvertToBitCount(picture, 32);
    const Dib& pixels = plain ? picture : widened;
    const auto layout = dibGetLayout(pixels);
    if (pixels.isNull() || !layout)
        return std::nullopt;
    // Many programs write 32-bit BMP files with every fourth byte 0; such a mask has no alpha.
    const bool hasAlpha = DibGetBitCount(picture) == 32 && anyAlpha(pixels);
    const size_t pixelBytes = layout->bitCount / 8u;
    const auto width = static_cast<size_t>(layout->width);
    const auto height = static_cast<size_t>(layout->height);
    NoteMask mask{NoteLayer(width * height), layout->width, layout->height};
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* pixel = pixels.data() + layout->pixelOffset + row * layout->stride;
        for (size_t x = 0; x < width; ++x, pixel += pixelBytes)
            mask.notes[row * width + x] = isNotePixel(pixel, hasAlpha) ? 1 : 0;
    }
    return mask;
}

bool exportNotes(SavableWriterDocument& doc)
{
    if (!doc.hasImage())
        return false;
    Prompt& prompt = doc.prompt();
    // A mask without a single note would be a white page that looks like a failed export.
    const auto& notes = doc.noteLayer();
    if (!notes || countNotePixels(*notes) == 0) {
        prompt.tell("The image has no notes to export.", "OmbriWriter", Icon::Information);
        return false;
    }
    const std::string stem = std::filesystem::path(doc.getTitle()).stem().string();
    const auto chosen = prompt.chooseSavePath(
        SaveDialogRequest{stem + "-notes", "png", kNotesFilter, true, doc.getFolder()});
    if (!chosen)
        return false;
    const std::string& path = *chosen;
    // The mask would take the picture's place on disk while the window still shows the picture
    // unchanged, so that nothing would ever save it back.
    if (doc.isOwnFile(path)) {
        prompt.tell("The notes cannot be saved over the image's own file.\nThe picture would be "
                    "gone; choose another name.",
                    "Warning", Icon::Warning);
        return false;
    }
    if (formatOfPath(path) != &kPngFormat) {
        prompt.tell("The notes are saved as a PNG picture.\nChoose a name ending in .png.",
                    "Warning", Icon::Warning);
        return false;
    }
    Status written = fail("");
    doc.runLongWork("Saving the notes to " + printableName(path) + "...", [&] {
        written = writeNoteLayerPng(path, *notes, static_cast<uint32_t>(doc.width()),
                                    static_cast<uint32_t>(doc.height()));
    });
    if (!written) {
        prompt.tell("Could not save the notes to " + printableName(path) + ".\n" + written.error(),
                    "Warning", Icon::Warning);
        return false;
    }
    return true;
}

bool importNotes(SavableWriterDocument& doc)
{
    if (!doc.hasImage())
        return false;
    Prompt& prompt = doc.prompt();
    const auto chosen =
        prompt.chooseOpenPath(OpenDialogRequest{"Import Notes", openFilter(), doc.getFolder()});
    if (!chosen)
        return false;
    const std::string& path = *chosen;
    LoadedImage loaded;
    {
        BusyScope busy(prompt, "Opening " + printableName(path) + "...");
        loaded = loadCheckedImage(path);
    }
    if (loaded.image.isNull()) {
        prompt.reportOpenFailure(path, loaded.error);
        return false;
    }
    const std::optional<NoteMask> mask = noteMaskFromPicture(loaded.image);
    if (!mask) {
        prompt.reportOpenFailure(path, "its pixel layout cannot be used as a mask");
        return false;
    }
    // Each mask pixel lands on the image pixel at the same place; a mask of another size would
    // put the notes where nobody drew them.
    if (mask->width != doc.width() || mask->height != doc.height()) {
        prompt.tell("Cannot import the notes of " + printableName(path) + ":\nthe mask is " +
                        sizeText(mask->width, mask->height) + " pixels but the image is " +
                        sizeText(doc.width(), doc.height()) +
                        ". Choose a mask of the image's size.",
                    "Warning", Icon::Warning);
        return false;
    }
    if (countNotePixels(mask->notes) == 0) {
        prompt.tell(printableName(path) + " has no dark pixels, so no notes were added.",
                    "OmbriWriter", Icon::Information);
        return false;
    }
    doc.MergeNotes(mask->notes.data());
    return true;
}

} // namespace ombri::writer
