#include "formats/avif.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "formats/colour_profile.h"

#include <avif/avif.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

namespace {

struct DecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using DecoderPtr = std::unique_ptr<avifDecoder, DecoderDeleter>;

// A decoder for the bytes attach gives it, its headers parsed: nothing is decoded yet. libavif's
// own limits are ours, so that it refuses a picture we would refuse before it allocates a plane.
template <typename Attach> Result<DecoderPtr> parsedDecoder(Attach attach)
{
    DecoderPtr decoder(avifDecoderCreate());
    if (!decoder)
        return fail("out of memory");
    decoder->maxThreads = 1;
    decoder->imageSizeLimit = static_cast<uint32_t>(kMaxPixels);
    decoder->imageDimensionLimit = kMaxDimension;
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    avifResult parsed = attach(decoder.get());
    if (parsed == AVIF_RESULT_OK)
        parsed = avifDecoderParse(decoder.get());
    if (parsed != AVIF_RESULT_OK)
        return fail(std::string("not an AVIF file, or a damaged one (") +
                    avifResultToString(parsed) + ")");
    return decoder;
}

// The clean aperture a clap property cuts from the coded picture, before it is turned: the
// part of the picture meant to be seen. Nothing without one, or where it is malformed or takes
// the whole picture, which is then shown whole.
std::optional<avifCropRect> cleanAperture(const avifImage& image)
{
    if (!(image.transformFlags & AVIF_TRANSFORM_CLAP))
        return std::nullopt;
    avifCropRect rect{};
    avifDiagnostics diagnostics{};
    if (!avifCropRectConvertCleanApertureBox(&rect, &image.clap, image.width, image.height,
                                             image.yuvFormat, &diagnostics))
        return std::nullopt;
    if (rect.width == 0 || rect.height == 0 || rect.width > image.width ||
        rect.height > image.height || rect.x > image.width - rect.width ||
        rect.y > image.height - rect.height ||
        (rect.width == image.width && rect.height == image.height))
        return std::nullopt;
    return rect;
}

// The clean aperture of a bottom-up picture, rows counted from the top as the property counts
// them, in a picture of its own.
Result<Dib> cropped(const Dib& stored, const avifCropRect& rect)
{
    auto from = dibGetLayout(stored);
    Dib part = Dib::create(static_cast<int32_t>(rect.width), static_cast<int32_t>(rect.height),
                           from->bitCount);
    auto to = dibGetLayout(part);
    if (!to)
        return fail("out of memory");
    const size_t bytes = from->bitCount / 8u;
    for (size_t y = 0; y < rect.height; ++y) {
        const uint8_t* row = stored.data() + from->pixelOffset +
                             (static_cast<size_t>(from->height) - 1 - rect.y - y) * from->stride;
        std::memcpy(part.data() + to->pixelOffset + (rect.height - 1 - y) * to->stride,
                    row + rect.x * bytes, rect.width * bytes);
    }
    return part;
}

bool quarterTurned(const avifImage& image)
{
    return (image.transformFlags & AVIF_TRANSFORM_IROT) && image.irot.angle % 2 == 1;
}

// Where the pixel x, y (rows counted from the top) of a width x height picture lands once it is
// turned anticlockwise by the irot angle and then mirrored as imir says (mode 0 exchanges top
// and bottom, mode 1 left and right), the order in which the file's properties apply.
struct Placement {
    const avifImage& image;
    size_t width;
    size_t height;

    void place(size_t x, size_t y, size_t& outX, size_t& outY) const
    {
        size_t turnedWidth = width, turnedHeight = height;
        outX = x;
        outY = y;
        switch (image.transformFlags & AVIF_TRANSFORM_IROT ? image.irot.angle % 4 : 0) {
        case 1:
            outX = y;
            outY = width - 1 - x;
            std::swap(turnedWidth, turnedHeight);
            break;
        case 2:
            outX = width - 1 - x;
            outY = height - 1 - y;
            break;
        case 3:
            outX = height - 1 - y;
            outY = x;
            std::swap(turnedWidth, turnedHeight);
            break;
        default:
            break;
        }
        if (image.transformFlags & AVIF_TRANSFORM_IMIR) {
            if (image.imir.mode == 0)
                outY = turnedHeight - 1 - outY;
            else
                outX = turnedWidth - 1 - outX;
        }
    }
};

bool hasTransforms(const avifImage& image)
{
    return (image.transformFlags & AVIF_TRANSFORM_IMIR) ||
           ((image.transformFlags & AVIF_TRANSFORM_IROT) && image.irot.angle % 4 != 0);
}

// The decoded picture turned and mirrored into a new one of the shown size.
Result<Dib> transformed(const Dib& stored, const avifImage& image)
{
    auto from = dibGetLayout(stored);
    const bool quarter = quarterTurned(image);
    Dib shown = Dib::create(quarter ? from->height : from->width,
                            quarter ? from->width : from->height, from->bitCount);
    auto to = dibGetLayout(shown);
    if (!to)
        return fail("out of memory");
    const size_t bytes = from->bitCount / 8u;
    const Placement placement{image, static_cast<size_t>(from->width),
                              static_cast<size_t>(from->height)};
    const uint8_t* source = stored.data() + from->pixelOffset;
    uint8_t* target = shown.data() + to->pixelOffset;
    const size_t toHeight = static_cast<size_t>(to->height);
    for (size_t y = 0; y < static_cast<size_t>(from->height); ++y) {
        const uint8_t* row = source + (static_cast<size_t>(from->height) - 1 - y) * from->stride;
        for (size_t x = 0; x < static_cast<size_t>(from->width); ++x) {
            size_t outX = 0, outY = 0;
            placement.place(x, y, outX, outY);
            std::memcpy(target + (toHeight - 1 - outY) * to->stride + outX * bytes, row + x * bytes,
                        bytes);
        }
    }
    return shown;
}

// The picture the headers announce, made before anything is decoded: our limit refuses it first.
Result<Dib> allocatePicture(const avifDecoder& decoder)
{
    Dib stored =
        Dib::create(static_cast<int32_t>(std::min<uint32_t>(decoder.image->width, INT32_MAX)),
                    static_cast<int32_t>(std::min<uint32_t>(decoder.image->height, INT32_MAX)),
                    decoder.alphaPresent ? 32 : 24);
    if (stored.isNull())
        return fail("the image is too large");
    return stored;
}

// The first image converted to 8-bit BGR or BGRA straight into the DIB's rows, which libavif
// fills top row first; they are then put bottom row first as a packed DIB keeps them.
Result<Dib> convertedPicture(const avifDecoder& decoder, Dib stored)
{
    const avifImage& image = *decoder.image;
    auto layout = dibGetLayout(stored);
    if (!layout || static_cast<uint32_t>(layout->width) != image.width ||
        static_cast<uint32_t>(layout->height) != image.height)
        return fail("the decoded picture is not the size the file declares");
    const bool alpha = layout->bitCount == 32;
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.format = alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    rgb.depth = 8;
    rgb.pixels = stored.data() + layout->pixelOffset;
    rgb.rowBytes = static_cast<uint32_t>(layout->stride);
    const avifResult converted = avifImageYUVToRGB(&image, &rgb);
    if (converted != AVIF_RESULT_OK)
        return fail(std::string("the picture cannot be converted (") +
                    avifResultToString(converted) + ")");
    FlipRows(rgb.pixels, layout->stride, static_cast<size_t>(layout->height));
    // The clean aperture first, then the turn and the mirror, as the properties are applied.
    if (const std::optional<avifCropRect> rect = cleanAperture(image)) {
        auto part = cropped(stored, *rect);
        if (!part)
            return part;
        stored = part.take();
    }
    if (!hasTransforms(image))
        return stored;
    return transformed(stored, image);
}

void keepColourProfile(const avifImage& image, std::vector<uint8_t>& profile)
{
    if (image.icc.size == 0 || image.icc.size > kMaxColourProfileBytes)
        return;
    try {
        profile.assign(image.icc.data, image.icc.data + image.icc.size);
    } catch (const std::bad_alloc&) {
        // Without room for the profile the picture is shown as stored.
    }
}

// Reads a regular file's headers for libavif through one small buffer, so that only the boxes it
// asks for are read. A read of more than kMaxHeaderRead bytes is cut short, which libavif takes
// for a file too short: the boxes ahead of the image data are far smaller.
constexpr size_t kMaxHeaderRead = size_t{16} << 20;

struct HeaderSource {
    int file = -1;
    std::vector<uint8_t> buffer;
};

avifResult readHeaders(avifIO* io, uint32_t, uint64_t offset, size_t size, avifROData* out)
{
    auto* source = static_cast<HeaderSource*>(io->data);
    if (offset > io->sizeHint)
        return AVIF_RESULT_IO_ERROR;
    const size_t count =
        static_cast<size_t>(std::min<uint64_t>({size, io->sizeHint - offset, kMaxHeaderRead}));
    try {
        source->buffer.resize(count);
    } catch (const std::bad_alloc&) {
        return AVIF_RESULT_OUT_OF_MEMORY;
    }
    if (count > 0 && !readExactlyAt(source->file, source->buffer.data(), count, offset))
        return AVIF_RESULT_IO_ERROR;
    out->data = source->buffer.data();
    out->size = count;
    return AVIF_RESULT_OK;
}

} // namespace

Result<Dib> readAvifBytes(ByteView file, bool* declaresAlpha, std::vector<uint8_t>* colourProfile)
{
    if (!file.data)
        return fail("not an AVIF file");
    auto decoder = parsedDecoder([file](avifDecoder* created) {
        return avifDecoderSetIOMemory(created, file.data, file.size);
    });
    if (!decoder)
        return fail(decoder.error());
    auto stored = allocatePicture(*decoder.value());
    if (!stored)
        return stored;
    const avifResult decoded = avifDecoderNextImage(decoder.value().get());
    if (decoded != AVIF_RESULT_OK)
        return fail(std::string("the picture cannot be decoded (") + avifResultToString(decoded) +
                    ")");
    auto image = convertedPicture(*decoder.value(), stored.take());
    if (!image)
        return image;
    if (declaresAlpha)
        *declaresAlpha = DibGetBitCount(image.value()) == 32;
    if (colourProfile) {
        colourProfile->clear();
        keepColourProfile(*decoder.value()->image, *colourProfile);
    }
    return image;
}

Result<Dib> ReadAvifFile(const std::string& path, bool* declaresAlpha,
                         std::vector<uint8_t>* colourProfile)
{
    auto mapped = MappedFile::open(path);
    if (!mapped)
        return fail(mapped.error());
    return readAvifBytes(mapped.value().view(), declaresAlpha, colourProfile);
}

std::optional<AvifDimensions> readAvifDimensions(int file, uint64_t size)
{
    HeaderSource source;
    source.file = file;
    avifIO io{};
    io.read = readHeaders;
    io.sizeHint = size;
    io.persistent = AVIF_FALSE;
    io.data = &source;
    // Without a destroy function the decoder leaves io and the source to us; it goes first.
    auto decoder = parsedDecoder([&io](avifDecoder* created) {
        avifDecoderSetIO(created, &io);
        return AVIF_RESULT_OK;
    });
    if (!decoder)
        return std::nullopt;
    const avifImage& image = *decoder.value()->image;
    const std::optional<avifCropRect> rect = cleanAperture(image);
    const uint32_t width = rect ? rect->width : image.width;
    const uint32_t height = rect ? rect->height : image.height;
    if (quarterTurned(image))
        return AvifDimensions{height, width};
    return AvifDimensions{width, height};
}

} // namespace ombri
