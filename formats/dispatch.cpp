#include "formats/dispatch.h"

namespace ombri {

const char* const kTooLargeMessage = "The BMP image is too large\xEF\xBC\x81";

const char* formatName(const ImageFormat* format)
{
    return format ? format->name : "unknown";
}

LoadedImage LoadImageByExtension(const std::string& path)
{
    LoadedImage loaded;
    const ImageFormat* format = formatOfPath(path);
    if (!format) {
        loaded.error = "the file name's extension is not one of an image kind this program reads";
        return loaded;
    }
    loaded.format = format;
    loaded.signatureRowFlag = format->notes != NoteForm::MarkerInFirstRow;
    format->load(path, loaded);
    return loaded;
}

SignatureForm signatureFormOf(const ImageFormat* format)
{
    return format && format->notes == NoteForm::PlanarMarker ? SignatureForm::Planar
                                                             : SignatureForm::Interleaved;
}

ImageCheck CheckLoadedImage(Dib& image)
{
    if (image.isNull())
        return ImageCheck::NoImage;
    // Read as unsigned, a negative width or height is above 2^31 - 1 and is refused as too large
    // (the BMP reader turns top-down rows round itself, so none comes from there).
    const auto width = static_cast<uint32_t>(DibGetWidth(image));
    const auto height = static_cast<uint32_t>(DibGetHeight(image));
    if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        image.reset();
        return ImageCheck::TooLarge;
    }
    if (!dibGetLayout(image)) {
        image.reset();
        return ImageCheck::NoImage;
    }
    return ImageCheck::Ok;
}

namespace {

// The one place a tagged picture is turned: its readers hand it over as stored, JPEG thumbnails
// are turned by their own decoder and never come here. False, the image freed, when there is no
// room for the turned copy.
bool standUpright(LoadedImage& loaded)
{
    if (loaded.orientation == kStoredAsShown)
        return true;
    Dib upright = uprightCopy(loaded.image, loaded.orientation);
    loaded.image = std::move(upright);
    return !loaded.image.isNull();
}

} // namespace

LoadedImage loadCheckedImage(const std::string& path)
{
    LoadedImage loaded = LoadImageByExtension(path);
    if (loaded.image.isNull()) {
        if (loaded.error.empty())
            loaded.error = "nothing could be read";
        return loaded;
    }
    switch (CheckLoadedImage(loaded.image)) {
    case ImageCheck::TooLarge:
        loaded.tooLarge = true;
        loaded.error = kTooLargeMessage;
        return loaded;
    case ImageCheck::NoImage:
        loaded.error = "the file does not hold a usable image";
        return loaded;
    case ImageCheck::Ok:
        break;
    }
    if (!standUpright(loaded)) {
        loaded.error = "out of memory";
        return loaded;
    }
    loaded.displayPalette = DibBuildPalette(loaded.image);
    // A DPX or Cineon reader has already taken the notes from its pixel words. Elsewhere the
    // marker may have moved with the pixels when another program turned or mirrored the picture;
    // the note bits moved with it, so they are taken pixel by pixel from the picture as it is.
    loaded.signature =
        findOmbriSignature(loaded.image, loaded.signatureRowFlag, signatureFormOf(loaded.format));
    if (loaded.pixelWords.empty() && loaded.signature.intact())
        ExtractNoteLayer(loaded.image, loaded.noteLayer, loaded.signature.carrier);
    return loaded;
}

bool carriesNotes(const LoadedImage& loaded)
{
    if (!loaded.noteLayer)
        return false;
    return loaded.pixelWords.empty() || countNotePixels(*loaded.noteLayer) != 0;
}

bool hasSeeThroughPixels(const LoadedImage& loaded)
{
    constexpr uint8_t kOpaqueEnough = 254;
    if (!loaded.declaresAlpha)
        return false;
    auto layout = dibGetLayout(loaded.image);
    if (!layout || layout->bitCount != 32)
        return false;
    const uint8_t* row = loaded.image.data() + layout->pixelOffset;
    for (int32_t y = 0; y < layout->height; ++y, row += layout->stride) {
        for (int32_t x = 0; x < layout->width; ++x) {
            if (row[size_t{4} * static_cast<size_t>(x) + 3] < kOpaqueEnough)
                return true;
        }
    }
    return false;
}

} // namespace ombri
