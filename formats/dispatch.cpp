#include "formats/dispatch.h"

#include "formats/bmp.h"
#include "formats/png.h"

#include <cstdio>
#include <cstring>

namespace ombri {

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

using LoadFn = Result<Dib> (*)(const std::string& path);

Result<Dib> notYetReadable(const std::string&)
{
    return fail("this kind of file cannot be read yet");
}

struct FormatEntry {
    const char* extension;
    ImageFormat format;
    LoadFn load;
};

// Exact spellings only, in the order they are tried: "Bmp" or "Tif" match nothing.
constexpr FormatEntry kLoadFormats[] = {
    {"bmp", ImageFormat::Bmp, ReadBmpFile},       {"BMP", ImageFormat::Bmp, ReadBmpFile},
    {"png", ImageFormat::Png, ReadPngFile},       {"PNG", ImageFormat::Png, ReadPngFile},
    {"rgb", ImageFormat::Sgi, notYetReadable},    {"RGB", ImageFormat::Sgi, notYetReadable},
    {"jpg", ImageFormat::Jpeg, notYetReadable},   {"JPG", ImageFormat::Jpeg, notYetReadable},
    {"cin", ImageFormat::Cineon, notYetReadable}, {"CIN", ImageFormat::Cineon, notYetReadable},
    {"dpx", ImageFormat::Dpx, notYetReadable},    {"DPX", ImageFormat::Dpx, notYetReadable},
    {"gif", ImageFormat::Gif, notYetReadable},    {"GIF", ImageFormat::Gif, notYetReadable},
    {"pcx", ImageFormat::Pcx, notYetReadable},    {"PCX", ImageFormat::Pcx, notYetReadable},
    {"tif", ImageFormat::Tiff, notYetReadable},   {"TIF", ImageFormat::Tiff, notYetReadable},
    {"tiff", ImageFormat::Tiff, notYetReadable},  {"TIFF", ImageFormat::Tiff, notYetReadable},
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
    auto result = entry->load(path);
    if (result)
        loaded.image = result.take();
    else
        loaded.error = result.error();
    return loaded;
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
    if (!DibGetLayout(image)) {
        image.reset();
        return ImageCheck::NoImage;
    }
    return ImageCheck::Ok;
}

} // namespace ombri
