#include "writer/note_files.h"

#include "formats/png.h"

#include <vector>

namespace ombri::writer {

namespace {

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

// Dark and, where the mask has an alpha channel, mostly opaque. Pixels are blue first.
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

} // namespace

Status writeNoteLayerPng(const std::string& path, const NoteLayer& notes, uint32_t width,
                         uint32_t height)
{
    const std::vector<uint8_t> grey = noteLayerAsGrey(notes, width, height);
    return writeGreyPngFile(path, grey.data(), width, height);
}

std::optional<NoteMask> noteMaskFromPicture(const Dib& picture)
{
    Dib pixels = dibConvertToBitCount(picture, 32);
    const auto layout = dibGetLayout(pixels);
    if (pixels.isNull() || !layout)
        return std::nullopt;
    // Many programs write 32-bit BMP files with every fourth byte 0; such a mask has no alpha.
    const bool hasAlpha = DibGetBitCount(picture) == 32 && anyAlpha(pixels);
    const auto width = static_cast<size_t>(layout->width);
    const auto height = static_cast<size_t>(layout->height);
    NoteMask mask{NoteLayer(width * height), layout->width, layout->height};
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* pixel = pixels.data() + layout->pixelOffset + row * layout->stride;
        for (size_t x = 0; x < width; ++x, pixel += 4)
            mask.notes[row * width + x] = isNotePixel(pixel, hasAlpha) ? 1 : 0;
    }
    return mask;
}

} // namespace ombri::writer
