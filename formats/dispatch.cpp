#include "formats/dispatch.h"

#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "formats/gif.h"
#include "formats/jpeg.h"
#include "formats/pcx.h"
#include "formats/png.h"
#include "formats/sgi.h"
#include "formats/tiff.h"

#include <cstdio>
#include <cstring>

namespace ombri {

const char* const kOpenFilter =
    "Image Files|*.png; *.bmp; *.jpg; *.tif; *rgb; *.jpg; *.tiff; *.jpeg|PNG       (*.png)|*.png|"
    "BMP       (*.bmp)|*.bmp|TIFF        (*.tif)|*.tif|RGB       (*.rgb)|*.rgb|JPEG      "
    "(*.jpg)|*.jpg|All Files   (*.*)|*.*|";

const char* const kTooLargeMessage = "The BMP image is too large\xEF\xBC\x81";

const char* formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Bmp:
        return "BMP";
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Sgi:
        return "SGI";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Cineon:
        return "Cineon";
    case ImageFormat::Dpx:
        return "DPX";
    case ImageFormat::Gif:
        return "GIF";
    case ImageFormat::Pcx:
        return "PCX";
    case ImageFormat::Tiff:
        return "TIFF";
    case ImageFormat::None:
        break;
    }
    return "unknown";
}

std::string FileExtension(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

namespace {

using LoadFn = void (*)(const std::string& path, LoadedImage& out);

void take(Result<Dib> result, LoadedImage& out)
{
    if (result)
        out.image = result.take();
    else
        out.error = result.error();
}

template <Result<Dib> (*read)(const std::string&)>
void load(const std::string& path, LoadedImage& out)
{
    take(read(path), out);
}

void loadJpeg(const std::string& path, LoadedImage& out)
{
    take(ReadJpegFile(path, &out.messages), out);
}

// DPX and Cineon pictures bring their notes along in bit 0 of every pixel word.
template <FilmFormat kind> void loadFilm(const std::string& path, LoadedImage& out)
{
    auto result = ReadCineonDpxFile(path, kind);
    if (!result) {
        out.error = result.error();
        return;
    }
    FilmImage film = result.take();
    out.image = std::move(film.image);
    out.noteLayer = std::move(film.notes);
    out.pixelWords = std::move(film.pixelWords);
}

struct FormatEntry {
    const char* extension;
    ImageFormat format;
    LoadFn load;
};

// Exact spellings only, in the order they are tried: "Bmp" or "Tif" match nothing.
constexpr FormatEntry kLoadFormats[] = {
    {"bmp", ImageFormat::Bmp, load<ReadBmpFile>},
    {"BMP", ImageFormat::Bmp, load<ReadBmpFile>},
    {"png", ImageFormat::Png, load<ReadPngFile>},
    {"PNG", ImageFormat::Png, load<ReadPngFile>},
    {"rgb", ImageFormat::Sgi, load<ReadSgiFile>},
    {"RGB", ImageFormat::Sgi, load<ReadSgiFile>},
    {"jpg", ImageFormat::Jpeg, loadJpeg},
    {"JPG", ImageFormat::Jpeg, loadJpeg},
    {"cin", ImageFormat::Cineon, loadFilm<FilmFormat::Cineon>},
    {"CIN", ImageFormat::Cineon, loadFilm<FilmFormat::Cineon>},
    {"dpx", ImageFormat::Dpx, loadFilm<FilmFormat::Dpx>},
    {"DPX", ImageFormat::Dpx, loadFilm<FilmFormat::Dpx>},
    {"gif", ImageFormat::Gif, load<ReadGifFile>},
    {"GIF", ImageFormat::Gif, load<ReadGifFile>},
    {"pcx", ImageFormat::Pcx, load<ReadPcxFile>},
    {"PCX", ImageFormat::Pcx, load<ReadPcxFile>},
    {"tif", ImageFormat::Tiff, load<ReadTiffFile>},
    {"TIF", ImageFormat::Tiff, load<ReadTiffFile>},
    {"tiff", ImageFormat::Tiff, load<ReadTiffFile>},
    {"TIFF", ImageFormat::Tiff, load<ReadTiffFile>},
};

const FormatEntry* findLoadEntry(const std::string& extension)
{
    for (const auto& entry : kLoadFormats) {
        if (extension == entry.extension)
            return &entry;
    }
    return nullptr;
}

} // namespace

ImageFormat loadFormatForExtension(const std::string& extension)
{
    const FormatEntry* entry = findLoadEntry(extension);
    return entry ? entry->format : ImageFormat::None;
}

LoadedImage LoadImageByExtension(const std::string& path)
{
    LoadedImage loaded;
    const FormatEntry* entry = findLoadEntry(FileExtension(path));
    if (!entry) {
        loaded.error = "the file name's extension is not one of an image kind this program reads";
        return loaded;
    }
    loaded.format = entry->format;
    loaded.signatureRowFlag = entry->format != ImageFormat::Bmp;
    entry->load(path, loaded);
    return loaded;
}

SignatureForm signatureFormOf(ImageFormat format)
{
    return format == ImageFormat::Sgi ? SignatureForm::Planar : SignatureForm::Interleaved;
}

ImageCheck CheckLoadedImage(Dib& image)
{
    if (image.isNull())
        return ImageCheck::NoImage;
    // Read as unsigned, a negative width or height is above 2^31 - 1: a top-down BMP lands here.
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
    loaded.displayPalette = DibBuildPalette(loaded.image);
    // A DPX or Cineon reader has already taken the notes from its pixel words. Elsewhere the
    // marker may have moved with the pixels when another program turned or mirrored the picture;
    // the note bits moved with it, so they are taken pixel by pixel from the picture as it is.
    loaded.signature =
        findOmbriSignature(loaded.image, loaded.signatureRowFlag, signatureFormOf(loaded.format));
    if (loaded.pixelWords.empty() && loaded.signature.intact())
        ExtractNoteLayer(loaded.image, loaded.noteLayer);
    return loaded;
}

bool carriesNotes(const LoadedImage& loaded)
{
    if (!loaded.noteLayer)
        return false;
    return loaded.pixelWords.empty() || countNotePixels(*loaded.noteLayer) != 0;
}

} // namespace ombri
