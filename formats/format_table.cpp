#include "formats/format_table.h"

#include "formats/avif.h"
#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "formats/dispatch.h"
#include "formats/gif.h"
#include "formats/heif.h"
#include "formats/jpeg.h"
#include "formats/jxl.h"
#include "formats/pcx.h"
#include "formats/png.h"
#include "formats/sgi.h"
#include "formats/tiff.h"
#include "formats/webp.h"

#include <algorithm>
#include <iterator>

namespace ombri {

namespace {

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

// The SGI reader hands over 32 bits a pixel only for a file of four channels.
template <Result<Dib> (*read)(const std::string&)>
void loadWithAlpha(const std::string& path, LoadedImage& out)
{
    take(read(path), out);
    out.declaresAlpha = DibGetBitCount(out.image) == 32;
}

// BMP files say in their headers whether the fourth byte is opacity.
template <Result<Dib> (*read)(const std::string&, bool*)>
void loadTellingAlpha(const std::string& path, LoadedImage& out)
{
    take(read(path, &out.declaresAlpha), out);
}

void loadJpeg(const std::string& path, LoadedImage& out)
{
    take(ReadJpegFile(path, &out.messages, &out.colourProfile, &out.orientation), out);
}

// PNG and TIFF files may embed a colour profile, which the reader applies to what it shows, and
// an orientation tag, which the shared load applies, as for JPEG. A
// PNG has alpha exactly when its reader hands over 32 bits a pixel (colour type 4 or 6, or a
// tRNS chunk); a TIFF says so in its ExtraSamples tag.
void loadPng(const std::string& path, LoadedImage& out)
{
    take(ReadPngFile(path, &out.colourProfile, &out.orientation), out);
    out.declaresAlpha = DibGetBitCount(out.image) == 32;
}

void loadTiff(const std::string& path, LoadedImage& out)
{
    take(ReadTiffFile(path, &out.declaresAlpha, &out.colourProfile, &out.orientation), out);
}

// An AVIF file keeps its profile in a colour property and turns itself by irot and imir, which its
// reader applies.
void loadAvif(const std::string& path, LoadedImage& out)
{
    take(ReadAvifFile(path, &out.declaresAlpha, &out.colourProfile), out);
}

// A HEIF file keeps its profile in a colour property; libheif turns it by irot and imir.
void loadHeif(const std::string& path, LoadedImage& out)
{
    take(ReadHeifFile(path, &out.declaresAlpha, &out.colourProfile), out);
}

// A JPEG XL file describes its colours in its header, by a profile or by name; libjxl turns it
// by the orientation there.
void loadJxl(const std::string& path, LoadedImage& out)
{
    take(ReadJxlFile(path, &out.declaresAlpha, &out.colourProfile), out);
}

// A WebP file keeps its profile in an ICCP chunk and its orientation in an EXIF chunk, and has
// alpha when its header says so.
void loadWebp(const std::string& path, LoadedImage& out)
{
    take(ReadWebpFile(path, &out.declaresAlpha, &out.colourProfile, &out.orientation), out);
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

template <Status (*write)(const std::string&, const Dib&)>
Status save(const std::string& path, const SaveInput& input)
{
    return write(path, input.pixels);
}

// The marker of a planar file is laid over its planes by the writer itself.
Status saveSgi(const std::string& path, const SaveInput& input)
{
    return WriteSgiFile(path, input.pixels, input.notes ? SgiSignature::Write : SgiSignature::Omit);
}

template <FilmFormat kind> Status saveFilm(const std::string& path, const SaveInput& input)
{
    return WriteCineonDpxFile(path, kind, input.pixels, input.notes, input.pixelWords);
}

Status saveJpeg(const std::string& path, const SaveInput& input)
{
    return WriteJpegFile(path, input.pixels, input.messages);
}

} // namespace

// One row per format: name, extensions, MIME types, Type column; stepping, notes, alpha; load
// and save.
// clang-format off
constexpr ImageFormat kPngFormat = {"PNG", {"png"}, {"image/png"}, "PNG Image", Stepping::Stepped,
    NoteForm::MarkerInLastRow, Alpha::Kept, loadPng, save<WritePngFile>, writePngRows};
constexpr ImageFormat kBmpFormat = {"BMP", {"bmp"}, {"image/bmp"}, "Bitmap Image",
    Stepping::Stepped, NoteForm::MarkerInFirstRow, Alpha::None, loadTellingAlpha<ReadBmpFile>,
    save<WriteBmpFile>};
constexpr ImageFormat kTiffFormat = {"TIFF", {"tif", "tiff"}, {"image/tiff"}, "TIF Image",
    Stepping::Stepped, NoteForm::MarkerInLastRow, Alpha::None, loadTiff,
    save<WriteTiffFile>};
constexpr ImageFormat kSgiFormat = {"SGI", {"rgb"}, {"image/x-rgb"}, nullptr, Stepping::Stepped,
    NoteForm::PlanarMarker, Alpha::None, loadWithAlpha<ReadSgiFile>, saveSgi};
constexpr ImageFormat kDpxFormat = {"DPX", {"dpx"}, {"image/dpx"}, nullptr, Stepping::Stepped,
    NoteForm::PixelWordBits, Alpha::None, loadFilm<FilmFormat::Dpx>, saveFilm<FilmFormat::Dpx>};
constexpr ImageFormat kCineonFormat = {"Cineon", {"cin"}, {"image/x-cineon"}, nullptr,
    Stepping::Stepped, NoteForm::PixelWordBits, Alpha::None, loadFilm<FilmFormat::Cineon>,
    saveFilm<FilmFormat::Cineon>};
constexpr ImageFormat kJpegFormat = {"JPEG", {"jpg", "jpeg"}, {"image/jpeg"}, "JPEG Image",
    Stepping::Stepped, NoteForm::None, Alpha::None, loadJpeg, saveJpeg};
// Lossless WebP keeps every byte, so it carries the notes as PNG does; lossy files open alike.
constexpr ImageFormat kWebpFormat = {"WebP", {"webp"}, {"image/webp"}, "WebP Image",
    Stepping::Stepped, NoteForm::MarkerInLastRow, Alpha::Kept, loadWebp, save<WriteWebpFile>};
// AVIF files open in both programs and are stepped through, but are not written.
constexpr ImageFormat kAvifFormat = {"AVIF", {"avif"}, {"image/avif"}, "AVIF Image",
    Stepping::Stepped, NoteForm::None, Alpha::None, loadAvif, nullptr};
// HEIF files, a phone's HEIC among them, likewise.
constexpr ImageFormat kHeifFormat = {"HEIF", {"heic", "heif"}, {"image/heic", "image/heif"},
    "HEIF Image", Stepping::Stepped, NoteForm::None, Alpha::None, loadHeif, nullptr};
// JPEG XL files likewise.
constexpr ImageFormat kJxlFormat = {"JPEG XL", {"jxl"}, {"image/jxl"}, "JPEG XL Image",
    Stepping::Stepped, NoteForm::None, Alpha::None, loadJxl, nullptr};
// GIF and PCX files open in both programs but are not stepped through, nor written.
constexpr ImageFormat kGifFormat = {"GIF", {"gif"}, {"image/gif"}, "GIF Image", Stepping::Skipped,
    NoteForm::None, Alpha::None, load<ReadGifFile>, nullptr};
constexpr ImageFormat kPcxFormat = {"PCX", {"pcx"}, {"image/vnd.zbrush.pcx", "image/x-pcx"},
    nullptr, Stepping::Skipped, NoteForm::None, Alpha::None, load<ReadPcxFile>, nullptr};
// clang-format on

namespace {

// The order of the lists the user reads; the save dialogs start at the first format written.
constexpr const ImageFormat* kImageFormats[] = {
    &kPngFormat,    &kBmpFormat,  &kTiffFormat, &kSgiFormat,  &kDpxFormat,
    &kCineonFormat, &kJpegFormat, &kWebpFormat, &kAvifFormat, &kHeifFormat,
    &kJxlFormat,    &kGifFormat,  &kPcxFormat,
};

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string joined(const std::vector<std::string>& parts, const char* prefix, const char* between)
{
    std::string text;
    for (const auto& part : parts)
        text += (text.empty() ? "" : between) + std::string(prefix) + part;
    return text;
}

std::string patternsOf(const ImageFormat& format)
{
    return joined(extensionsOf(format), "*.", "; ");
}

} // namespace

ImageFormatList imageFormats()
{
    return {std::begin(kImageFormats), std::end(kImageFormats)};
}

std::string FileExtension(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return std::string();
    return fileName.substr(dot + 1);
}

bool sameExtension(std::string_view left, std::string_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

const ImageFormat* loadFormatForExtension(std::string_view extension)
{
    for (const ImageFormat* format : kImageFormats) {
        for (const char* spelling : format->extensions) {
            if (spelling && sameExtension(extension, spelling))
                return format;
        }
    }
    return nullptr;
}

const ImageFormat* formatOfPath(const std::string& path)
{
    return loadFormatForExtension(FileExtension(path));
}

std::vector<std::string> extensionsOf(const ImageFormat& format)
{
    std::vector<std::string> extensions;
    for (const char* spelling : format.extensions) {
        if (spelling)
            extensions.emplace_back(spelling);
    }
    return extensions;
}

bool savesNotes(const ImageFormat& format)
{
    return format.save && format.notes != NoteForm::None;
}

std::string openFilter()
{
    std::vector<std::string> every;
    std::string each;
    for (const ImageFormat* format : kImageFormats) {
        every.push_back(patternsOf(*format));
        each += std::string(format->name) + "|" + patternsOf(*format) + "|";
    }
    return "Image Files|" + joined(every, "", "; ") + "|" + each + "All Files|*.*|";
}

std::string saveFilter(SaveChoice choice)
{
    std::string filter;
    for (const ImageFormat* format : kImageFormats) {
        if (format->save && (choice == SaveChoice::Any || savesNotes(*format)))
            filter += std::string(format->name) + "|" + patternsOf(*format) + "|";
    }
    return filter;
}

std::string savableExtensionList()
{
    std::vector<std::string> extensions;
    for (const ImageFormat* format : kImageFormats) {
        if (format->save) {
            for (const auto& extension : extensionsOf(*format))
                extensions.push_back(extension);
        }
    }
    return joined(extensions, ".", ", ");
}

} // namespace ombri
