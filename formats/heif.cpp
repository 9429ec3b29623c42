#include "formats/heif.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "formats/colour_profile.h"

#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace ombri {

namespace {

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using ImagePtr = std::unique_ptr<heif_image, ImageDeleter>;
using OptionsPtr = std::unique_ptr<heif_decoding_options, OptionsDeleter>;

// libheif finds its decoders once for the whole program; the count it keeps is never let down,
// as pictures are read until the program ends.
void initialiseLibheif()
{
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}

// libheif limits each side, and checks the limit on every image it makes while decoding, the
// canvas of an overlay too, which may be larger than the size the file declares for the primary
// image. A square of that side holds no more pixels than our limit, four bytes each, allows.
int sideLimit()
{
    const uint64_t pixels = std::min<uint64_t>(kMaxPixels, maxImageBytes() / 4);
    auto side = static_cast<uint64_t>(std::sqrt(static_cast<double>(pixels)));
    while (side > 0 && side * side > pixels)
        --side;
    while ((side + 1) * (side + 1) <= pixels)
        ++side;
    return static_cast<int>(std::max<uint64_t>(side, 1));
}

// What libheif's refusal says to the user: a picture past its limit is too large, as any other.
std::string reasonOf(const heif_error& error, const char* what)
{
    if (error.subcode == heif_suberror_Security_limit_exceeded)
        return "the image is too large";
    return std::string(what) + " (" + error.message + ")";
}

// The primary image of a parsed file; the handle keeps the context it came from alive.
struct Primary {
    ContextPtr context;
    HandlePtr handle;
};

// The primary image of the file attach gives libheif, its boxes parsed: nothing is decoded yet.
// libheif's own limit follows ours, so that it refuses a picture we would refuse before it
// allocates a plane.
template <typename Attach> Result<Primary> parsedPrimary(Attach attach)
{
    initialiseLibheif();
    Primary primary;
    primary.context.reset(heif_context_alloc());
    if (!primary.context)
        return fail("out of memory");
    heif_context_set_maximum_image_size_limit(primary.context.get(), sideLimit());
    heif_context_set_max_decoding_threads(primary.context.get(), 0);
    heif_error error = attach(primary.context.get());
    heif_image_handle* handle = nullptr;
    if (error.code == heif_error_Ok)
        error = heif_context_get_primary_image_handle(primary.context.get(), &handle);
    primary.handle.reset(handle);
    if (error.code != heif_error_Ok)
        return fail(reasonOf(error, "not a HEIF file, or a damaged one"));
    return primary;
}

// The picture as it is shown, made before anything is decoded: our limit refuses it first.
Result<Dib> allocatePicture(const heif_image_handle& handle)
{
    const int width = heif_image_handle_get_width(&handle);
    const int height = heif_image_handle_get_height(&handle);
    if (width <= 0 || height <= 0)
        return fail("the file declares an empty picture");
    Dib shown = Dib::create(width, height, heif_image_handle_has_alpha_channel(&handle) ? 32 : 24);
    if (shown.isNull())
        return fail("the image is too large");
    return shown;
}

// The primary image decoded by libheif to 8-bit RGB or RGBA, turned and mirrored as the file
// says; an EXIF orientation is not among what libheif reads.
Result<ImagePtr> decodedImage(const heif_image_handle& handle, bool alpha)
{
    OptionsPtr options(heif_decoding_options_alloc());
    if (!options)
        return fail("out of memory");
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(
        &handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    ImagePtr image(decoded);
    if (error.code != heif_error_Ok || !image)
        return fail(reasonOf(error, "the picture cannot be decoded"));
    return image;
}

// libheif's rows, top row first in red, green, blue (and alpha) order, put into the DIB bottom
// row first with blue first, as a packed DIB keeps them.
Status copyPixels(const heif_image& image, Dib& shown)
{
    auto layout = dibGetLayout(shown);
    if (!layout)
        return fail("out of memory");
    const size_t channels = layout->bitCount / 8u;
    int stride = 0;
    const uint8_t* source =
        heif_image_get_plane_readonly(&image, heif_channel_interleaved, &stride);
    if (!source || heif_image_get_width(&image, heif_channel_interleaved) != layout->width ||
        heif_image_get_height(&image, heif_channel_interleaved) != layout->height ||
        heif_image_get_bits_per_pixel(&image, heif_channel_interleaved) !=
            static_cast<int>(channels * 8) ||
        stride < 0 || static_cast<size_t>(stride) < channels * static_cast<size_t>(layout->width))
        return fail("the decoded picture is not the size the file declares");
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    uint8_t* target = DibPixelStart(shown);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* from = source + y * static_cast<size_t>(stride);
        uint8_t* to = target + (height - 1 - y) * layout->stride;
        for (size_t x = 0; x < width; ++x, from += channels, to += channels) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            if (channels == 4)
                to[3] = from[3];
        }
    }
    return {};
}

// An ICC profile from a colr box; colours told by nclx values are taken as the screen's.
void keepColourProfile(const heif_image_handle& handle, std::vector<uint8_t>& profile)
{
    const size_t size = heif_image_handle_get_raw_color_profile_size(&handle);
    if (size == 0 || size > kMaxColourProfileBytes)
        return;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        // Without room for the profile the picture is shown as stored.
        return;
    }
    if (heif_image_handle_get_raw_color_profile(&handle, profile.data()).code != heif_error_Ok)
        profile.clear();
}

// Reads a regular file's boxes for libheif at the offsets it asks for, so that the image data
// it passes over is never read.
struct BoxSource {
    int file = -1;
    uint64_t size = 0;
    uint64_t position = 0;
};

int64_t sourcePosition(void* userdata)
{
    return static_cast<int64_t>(static_cast<BoxSource*>(userdata)->position);
}

int readBoxes(void* data, size_t size, void* userdata)
{
    auto* source = static_cast<BoxSource*>(userdata);
    if (source->position > source->size || size > source->size - source->position ||
        (size > 0 &&
         !readExactlyAt(source->file, static_cast<uint8_t*>(data), size, source->position)))
        return 1;
    source->position += size;
    return 0;
}

int seekBoxes(int64_t position, void* userdata)
{
    auto* source = static_cast<BoxSource*>(userdata);
    if (position < 0 || static_cast<uint64_t>(position) > source->size)
        return 1;
    source->position = static_cast<uint64_t>(position);
    return 0;
}

heif_reader_grow_status waitForSize(int64_t target, void* userdata)
{
    const auto* source = static_cast<const BoxSource*>(userdata);
    return target >= 0 && static_cast<uint64_t>(target) <= source->size
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
}

} // namespace

Result<Dib> readHeifBytes(ByteView file, bool* declaresAlpha, std::vector<uint8_t>* colourProfile)
{
    if (!file.data || file.size == 0)
        return fail("not a HEIF file");
    auto primary = parsedPrimary([file](heif_context* context) {
        return heif_context_read_from_memory_without_copy(context, file.data, file.size, nullptr);
    });
    if (!primary)
        return fail(primary.error());
    const heif_image_handle& handle = *primary.value().handle;
    auto shown = allocatePicture(handle);
    if (!shown)
        return shown;
    const bool alpha = DibGetBitCount(shown.value()) == 32;
    auto decoded = decodedImage(handle, alpha);
    if (!decoded)
        return fail(decoded.error());
    Dib image = shown.take();
    const Status copied = copyPixels(*decoded.value(), image);
    if (!copied)
        return fail(copied.error());
    if (declaresAlpha)
        *declaresAlpha = alpha;
    if (colourProfile) {
        colourProfile->clear();
        keepColourProfile(handle, *colourProfile);
    }
    return image;
}

Result<Dib> ReadHeifFile(const std::string& path, bool* declaresAlpha,
                         std::vector<uint8_t>* colourProfile)
{
    auto mapped = MappedFile::open(path);
    if (!mapped)
        return fail(mapped.error());
    return readHeifBytes(mapped.value().view(), declaresAlpha, colourProfile);
}

std::optional<HeifDimensions> readHeifDimensions(int file, uint64_t size)
{
    BoxSource source{file, size, 0};
    heif_reader reader{};
    reader.reader_api_version = 1;
    reader.get_position = sourcePosition;
    reader.read = readBoxes;
    reader.seek = seekBoxes;
    reader.wait_for_file_size = waitForSize;
    // The context reads through reader and source as long as it lives; both outlive it.
    auto primary = parsedPrimary([&reader, &source](heif_context* context) {
        return heif_context_read_from_reader(context, &reader, &source, nullptr);
    });
    if (!primary)
        return std::nullopt;
    const heif_image_handle& handle = *primary.value().handle;
    const int width = heif_image_handle_get_width(&handle);
    const int height = heif_image_handle_get_height(&handle);
    if (width <= 0 || height <= 0)
        return std::nullopt;
    return HeifDimensions{static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
}

} // namespace ombri
