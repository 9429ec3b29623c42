#include "formats/webp.h"

#include "core/file_io.h"
#include "formats/colour_profile.h"
#include "formats/orientation.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace ombri {

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
using DemuxPtr = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoderPtr = std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter>;

// What a decode that failed tells the user, by libwebp's status.
std::string reasonOf(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return "the file ends too early";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return "the file uses a WebP feature this program does not read";
    default:
        return "not a WebP file, or a damaged one";
    }
}

// A picture of the declared size, refused before any pixel is decoded when it passes our limit
// (a header of a few bytes can claim 16383 x 16383 pixels).
Result<Dib> allocatePicture(int width, int height, uint16_t bitCount)
{
    Dib image = Dib::create(width, height, bitCount);
    if (image.isNull())
        return fail("the image is too large");
    return image;
}

// A still picture, decoded straight into the DIB's rows: libwebp turns it upside down as it
// goes, so the file's top row lands last in memory where a packed DIB keeps it.
Result<Dib> decodeStill(ByteView file, const WebPBitstreamFeatures& features)
{
    const bool alpha = features.has_alpha != 0;
    auto image = allocatePicture(features.width, features.height, alpha ? 32 : 24);
    if (!image)
        return image;
    auto layout = dibGetLayout(image.value());
    WebPDecoderConfig config;
    if (!layout || !WebPInitDecoderConfig(&config))
        return fail("cannot start the WebP decoder");
    config.options.flip = 1;
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.value().data() + layout->pixelOffset;
    config.output.u.RGBA.stride = static_cast<int>(layout->stride);
    config.output.u.RGBA.size = layout->pixelBytes;
    const VP8StatusCode status = WebPDecode(file.data, file.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return fail(reasonOf(status));
    return image;
}

// The first frame of an animation as the animation shows it: placed and blended on the canvas,
// which is transparent wherever the frame does not cover it.
Result<Dib> decodeFirstFrame(ByteView file, const WebPBitstreamFeatures& features)
{
    auto image = allocatePicture(features.width, features.height, 32);
    if (!image)
        return image;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return fail("cannot start the WebP decoder");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData data{file.data, file.size};
    AnimDecoderPtr decoder(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info))
        return fail("not a WebP file, or a damaged one");
    // The canvas libwebp draws on must be the one our picture was made for.
    if (info.canvas_width != static_cast<uint32_t>(features.width) ||
        info.canvas_height != static_cast<uint32_t>(features.height) || info.frame_count == 0)
        return fail("not a WebP file, or a damaged one");
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas)
        return fail("the first frame of the animation cannot be decoded");
    auto layout = dibGetLayout(image.value());
    const size_t rowBytes = size_t{info.canvas_width} * 4;
    for (size_t y = 0; y < info.canvas_height; ++y)
        std::memcpy(image.value().data() + layout->pixelOffset +
                        (info.canvas_height - 1 - y) * layout->stride,
                    canvas + y * rowBytes, rowBytes);
    return image;
}

// The profile of the ICCP chunk and the orientation of the EXIF chunk, when asked for. A profile
// over kMaxColourProfileBytes, or a file whose chunks the demuxer cannot follow, gives none; an
// EXIF chunk may hold the TIFF structure alone, as exiftool and webpmux write it, or follow the
// "Exif\0\0" a JPEG's APP1 puts before it.
void readMetadata(ByteView file, std::vector<uint8_t>* profile, int* orientation)
{
    const WebPData data{file.data, file.size};
    DemuxPtr demuxer(WebPDemux(&data));
    if (!demuxer)
        return;
    const uint32_t flags = WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS);
    WebPChunkIterator chunk;
    if (profile && (flags & ICCP_FLAG) && WebPDemuxGetChunk(demuxer.get(), "ICCP", 1, &chunk)) {
        const size_t size = chunk.chunk.size;
        if (size > 0 && size <= kMaxColourProfileBytes) {
            try {
                profile->assign(chunk.chunk.bytes, chunk.chunk.bytes + size);
            } catch (const std::bad_alloc&) {
                // Without room for the profile the picture is shown as stored.
            }
        }
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (orientation && (flags & EXIF_FLAG) && WebPDemuxGetChunk(demuxer.get(), "EXIF", 1, &chunk)) {
        const ByteView exif{chunk.chunk.bytes, chunk.chunk.size};
        static constexpr char kApp1Lead[] = {'E', 'x', 'i', 'f', 0, 0};
        const bool app1 = exif.size >= sizeof kApp1Lead &&
                          std::memcmp(exif.data, kApp1Lead, sizeof kApp1Lead) == 0;
        *orientation = app1 ? exifOrientation(exif) : exifTiffOrientation(exif);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
}

// Owns the picture libwebp encodes from, and the memory it allocates for it.
struct EncoderPicture {
    WebPPicture picture;

    EncoderPicture() { WebPPictureInit(&picture); }
    ~EncoderPicture() { WebPPictureFree(&picture); }
    EncoderPicture(const EncoderPicture&) = delete;
    EncoderPicture& operator=(const EncoderPicture&) = delete;
};

// Fills libwebp's ARGB words (alpha in the top byte) from the picture's rows, the file's top row
// first; a 24-bit picture is opaque.
bool fillArgb(WebPPicture& picture, const Dib& image, const DibLayout& layout)
{
    picture.use_argb = 1;
    picture.width = layout.width;
    picture.height = layout.height;
    if (!WebPPictureAlloc(&picture))
        return false;
    const size_t bytesPerPixel = layout.bitCount / 8u;
    const uint8_t* rows = image.data() + layout.pixelOffset;
    for (size_t y = 0; y < static_cast<size_t>(layout.height); ++y) {
        const uint8_t* pixel = rows + (static_cast<size_t>(layout.height) - 1 - y) * layout.stride;
        uint32_t* word = picture.argb + y * static_cast<size_t>(picture.argb_stride);
        for (int32_t x = 0; x < layout.width; ++x, pixel += bytesPerPixel) {
            const uint32_t alpha = bytesPerPixel == 4 ? pixel[3] : 0xFFu;
            word[x] = alpha << 24 | uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
        }
    }
    return true;
}

// libwebp hands the file over in pieces as it makes it; they go straight to the save's file.
int writeToFile(const uint8_t* bytes, size_t size, const WebPPicture* picture)
{
    return static_cast<AtomicFile*>(picture->custom_ptr)->write(bytes, size) ? 1 : 0;
}

std::string reasonOf(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "WebP files hold pictures of at most 16383 x 16383 pixels";
    default:
        return "the WebP encoder failed";
    }
}

} // namespace

Status WriteWebpFile(const std::string& path, const Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be saved as WebP");
    if (static_cast<uint32_t>(layout->width) > kMaxWebpSide ||
        static_cast<uint32_t>(layout->height) > kMaxWebpSide)
        return fail("WebP files hold pictures of at most 16383 x 16383 pixels; this one is " +
                    std::to_string(layout->width) + " x " + std::to_string(layout->height));
    // Lossless, and exact: by default the encoder would change the colours under transparent
    // pixels to compress them better. The shortcut functions for lossless files leave exact off.
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return fail("cannot start the WebP encoder");
    config.lossless = 1;
    config.exact = 1;
    // The file first: a folder that cannot take it is told before the picture is compressed.
    AtomicFile file(path);
    if (!file.open())
        return fail(file.error());
    EncoderPicture encoder;
    if (!fillArgb(encoder.picture, image, *layout))
        return fail("out of memory");
    encoder.picture.writer = writeToFile;
    encoder.picture.custom_ptr = &file;
    if (!WebPEncode(&config, &encoder.picture))
        return fail(file.writeFailed() ? file.error() : reasonOf(encoder.picture.error_code));
    if (!file.commit())
        return fail(file.error());
    return {};
}

Result<Dib> readWebpBytes(ByteView file, bool* declaresAlpha, std::vector<uint8_t>* colourProfile,
                          int* orientation)
{
    if (orientation)
        *orientation = kStoredAsShown;
    WebPBitstreamFeatures features;
    if (!file.data)
        return fail("not a WebP file");
    const VP8StatusCode status = WebPGetFeatures(file.data, file.size, &features);
    if (status != VP8_STATUS_OK)
        return fail(reasonOf(status));
    if (features.width <= 0 || features.height <= 0)
        return fail("not a WebP file, or a damaged one");
    auto image =
        features.has_animation ? decodeFirstFrame(file, features) : decodeStill(file, features);
    if (!image)
        return image;
    if (declaresAlpha)
        *declaresAlpha = DibGetBitCount(image.value()) == 32;
    if (colourProfile)
        colourProfile->clear();
    readMetadata(file, colourProfile, orientation);
    return image;
}

Result<Dib> ReadWebpFile(const std::string& path, bool* declaresAlpha,
                         std::vector<uint8_t>* colourProfile, int* orientation)
{
    auto mapped = MappedFile::open(path);
    if (!mapped)
        return fail(mapped.error());
    return readWebpBytes(mapped.value().view(), declaresAlpha, colourProfile, orientation);
}

std::optional<WebpDimensions> readWebpDimensions(ByteView file)
{
    // "RIFF", the length, "WEBP", then the first chunk's name and length; its data from byte 20.
    if (!file.data || file.size < 25 || std::memcmp(file.data, "RIFF", 4) != 0 ||
        std::memcmp(file.data + 8, "WEBP", 4) != 0)
        return std::nullopt;
    const uint8_t* chunk = file.data + 12;
    const uint8_t* data = file.data + 20;
    // The extended header's canvas, each side less one in 24 bits.
    if (std::memcmp(chunk, "VP8X", 4) == 0 && file.size >= 30)
        return WebpDimensions{(readLe32(data + 4) & 0xFFFFFF) + 1, (readLe32(data + 6) >> 8) + 1};
    // A lossless bitstream: its signature byte, then each side less one in 14 bits.
    if (std::memcmp(chunk, "VP8L", 4) == 0 && data[0] == 0x2F) {
        const uint32_t bits = readLe32(data + 1);
        return WebpDimensions{(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1};
    }
    // A lossy key frame: three bytes of frame tag, the start code, then each side in 14 bits.
    if (std::memcmp(chunk, "VP8 ", 4) == 0 && file.size >= 30 && (data[0] & 1) == 0 &&
        data[3] == 0x9D && data[4] == 0x01 && data[5] == 0x2A)
        return WebpDimensions{readLe16(data + 6) & 0x3FFFu, readLe16(data + 8) & 0x3FFFu};
    return std::nullopt;
}

} // namespace ombri
