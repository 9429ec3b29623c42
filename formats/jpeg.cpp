#include "formats/jpeg.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "core/printable_name.h"
#include "formats/colour_profile.h"
#include "formats/orientation.h"

#include <cstdio> // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <vector>

namespace ombri {

const char* const kJpegFatalErrorCaption = "JPEG Fatal Error";

namespace {

// The library ends an operation on a fatal error by calling error_exit, which must not return:
// ours keeps the library's own words and jumps back to the setjmp of the running operation.
struct JpegErrors {
    jpeg_error_mgr library; // first: the library hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onJpegFatalError(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (stray bytes, a file that ends early) are not shown: the picture is still used.
void ignoreJpegMessage(j_common_ptr) {}

jpeg_error_mgr* installErrors(JpegErrors& errors)
{
    jpeg_std_error(&errors.library);
    errors.library.error_exit = onJpegFatalError;
    errors.library.output_message = ignoreJpegMessage;
    errors.message[0] = '\0';
    return &errors.library;
}

void addMessage(FormatMessages* messages, std::string text, const char* caption, bool isError)
{
    if (messages)
        messages->push_back(FormatMessage{std::move(text), caption, isError});
}

enum class DecodeFailure { Fatal, TooLarge, OutOfMemory };

// Owns everything a decode uses, so that the function holding the setjmp has nothing to clean up
// when the library jumps out of it.
struct JpegDecoder {
    JpegErrors errors;
    jpeg_decompress_struct info{};
    Dib image;
    std::vector<JSAMPROW> rows; // the image's rows, top first
    std::vector<JSAMPLE> cmykRow;
    DecodeFailure failure = DecodeFailure::Fatal;
    int orientation = kStoredAsShown; // the EXIF orientation of the first APP1 marker
    std::vector<uint8_t> colourProfile;

    ~JpegDecoder() { jpeg_destroy_decompress(&info); }
};

bool isCmyk(const jpeg_decompress_struct& info)
{
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
}

bool sizeAllowed(JDIMENSION width, JDIMENSION height)
{
    auto stride = checkedRowStride(width, 24);
    return pixelCountAllowed(width, height) && stride && checkedImageBytes(*stride, height);
}

// Called between the header and the decoding; never leaves by longjmp.
bool allocateImage(JpegDecoder& decoder)
{
    const JDIMENSION width = decoder.info.output_width;
    const JDIMENSION height = decoder.info.output_height;
    if (!sizeAllowed(width, height)) {
        decoder.failure = DecodeFailure::TooLarge;
        return false;
    }
    decoder.failure = DecodeFailure::OutOfMemory;
    decoder.image = Dib::create(static_cast<int32_t>(width), static_cast<int32_t>(height), 24);
    auto layout = dibGetLayout(decoder.image);
    if (!layout)
        return false;
    try {
        decoder.rows.resize(height);
        if (isCmyk(decoder.info))
            decoder.cmykRow.resize(size_t{width} * 4);
    } catch (const std::exception&) {
        return false;
    }
    // The file's first row is the picture's top, which a packed DIB keeps last.
    uint8_t* pixels = decoder.image.data() + layout->pixelOffset;
    for (JDIMENSION y = 0; y < height; ++y)
        decoder.rows[y] = pixels + size_t{height - 1 - y} * layout->stride;
    decoder.failure = DecodeFailure::Fatal;
    return true;
}

// Adobe's programs store CMYK inverted (255 means no ink) and mark such files with their APP14
// marker, which is how nearly every CMYK JPEG comes; a file without the marker holds plain ink.
void convertCmykRow(const JSAMPLE* cmyk, uint8_t* bgr, size_t width, bool inverted)
{
    for (size_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = static_cast<uint8_t>((y * k + 127) / 255);
        bgr[1] = static_cast<uint8_t>((m * k + 127) / 255);
        bgr[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

// Runs inside decodeJpeg's setjmp; holds nothing with a destructor either.
bool readRows(JpegDecoder& decoder)
{
    jpeg_decompress_struct& info = decoder.info;
    const bool cmyk = info.out_color_space == JCS_CMYK;
    JSAMPROW cmykRow = decoder.cmykRow.data();
    while (info.output_scanline < info.output_height) {
        const JDIMENSION line = info.output_scanline;
        const JDIMENSION got = cmyk ? jpeg_read_scanlines(&info, &cmykRow, 1)
                                    : jpeg_read_scanlines(&info, decoder.rows.data() + line,
                                                          info.output_height - line);
        // Only a suspending data source hands back nothing, and ours never suspend.
        if (got == 0) {
            std::snprintf(decoder.errors.message, sizeof decoder.errors.message,
                          "the decoder stopped at row %u", line);
            return false;
        }
        if (cmyk)
            convertCmykRow(cmykRow, decoder.rows[line], info.output_width,
                           info.saw_Adobe_marker != 0);
    }
    return true;
}

struct JpegInput {
    std::FILE* file = nullptr; // read from here when set, else from bytes
    ByteView bytes;
    JDIMENSION thumbnailSide = 0; // above 0: decoded for a thumbnail whose longer side is this
};

// The library scales while it decodes at a fraction of the cost of the full picture; the
// smallest of its cheap scales that leaves enough pixels for the thumbnail is taken, as a picture
// decoded smaller than the thumbnail would have to be enlarged.
void chooseThumbnailScale(jpeg_decompress_struct& info, JDIMENSION side)
{
    info.scale_num = 1;
    for (unsigned denominator : {8u, 4u, 2u}) {
        info.scale_denom = denominator;
        jpeg_calc_output_dimensions(&info);
        if (std::max(info.output_width, info.output_height) >= side)
            return;
    }
    info.scale_denom = 1;
}

// The orientation of the first APP1 marker holding EXIF data (an XMP packet may come first).
int orientationOf(const jpeg_decompress_struct& info)
{
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= sizeof kExif &&
            std::memcmp(marker->data, kExif, sizeof kExif) == 0)
            return exifOrientation({marker->data, marker->data_length});
    }
    return 1;
}

struct MallocFree {
    void operator()(JOCTET* bytes) const { std::free(bytes); }
};

// The ICC profile the file spreads over its APP2 markers, which the library joins after checking
// their sequence numbers; one over kMaxColourProfileBytes is passed over. The library leaves by
// longjmp only before it hands the joined copy over.
void keepColourProfile(JpegDecoder& decoder)
{
    JOCTET* joined = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(&decoder.info, &joined, &length))
        return;
    std::unique_ptr<JOCTET, MallocFree> owned(joined);
    if (!owned || length == 0 || length > kMaxColourProfileBytes)
        return;
    try {
        decoder.colourProfile.assign(joined, joined + length);
    } catch (const std::bad_alloc&) {
        // Without room for the profile the picture is shown as stored.
    }
}

// Runs the library over the whole file. Holds nothing that needs destroying: the library leaves
// it by longjmp on any fatal error, and the decoder owns every buffer.
bool decodeJpeg(JpegDecoder& decoder, const JpegInput& input)
{
    jpeg_decompress_struct& info = decoder.info;
    info.err = installErrors(decoder.errors);
    if (setjmp(decoder.errors.jump))
        return false;
    jpeg_create_decompress(&info);
    if (input.file)
        jpeg_stdio_src(&info, input.file);
    else
        jpeg_mem_src(&info, input.bytes.data, static_cast<unsigned long>(input.bytes.size));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    // Only here: the saved markers go with the header's memory when the decode finishes.
    keepColourProfile(decoder);
    decoder.orientation = orientationOf(info);
    // Rows are decoded blue first straight into the image: the library's colour conversion gives
    // the same bytes in either order, and a separate buffer, its copy and its flip are spared.
    // CMYK rows go through our own conversion.
    info.out_color_space = isCmyk(info) ? JCS_CMYK : JCS_EXT_BGR;
    if (input.thumbnailSide > 0) {
        // A scaled decode still holds the whole picture's coefficients when the file is
        // progressive: what cannot be opened is not thumbnailed either.
        if (!sizeAllowed(info.image_width, info.image_height)) {
            decoder.failure = DecodeFailure::TooLarge;
            return false;
        }
        chooseThumbnailScale(info, input.thumbnailSide);
    }
    jpeg_calc_output_dimensions(&info);
    // Checked before the library allocates anything image-sized (a progressive file keeps all
    // its coefficients).
    if (!allocateImage(decoder))
        return false;
    jpeg_start_decompress(&info);
    if (!readRows(decoder))
        return false;
    jpeg_finish_decompress(&info);
    return true;
}

// What the user and the caller are told when decodeJpeg fails.
Failure failureOf(const JpegDecoder& decoder, FormatMessages* messages)
{
    switch (decoder.failure) {
    case DecodeFailure::TooLarge:
        return fail("the image is too large");
    case DecodeFailure::OutOfMemory:
        addMessage(messages, "JpegFile :\nOut of memory", "", true);
        return fail("out of memory");
    case DecodeFailure::Fatal:
        break;
    }
    addMessage(messages, decoder.errors.message, kJpegFatalErrorCaption, true);
    return fail(decoder.errors.message);
}

Result<Dib> readJpeg(const JpegInput& input, FormatMessages* messages,
                     std::vector<uint8_t>* colourProfile, int* orientation)
{
    JpegDecoder decoder;
    if (decodeJpeg(decoder, input)) {
        if (colourProfile)
            *colourProfile = std::move(decoder.colourProfile);
        if (orientation)
            *orientation = decoder.orientation;
        return std::move(decoder.image);
    }
    return failureOf(decoder, messages);
}

Result<JpegThumbnailSource> readJpegThumbnail(JpegInput input, int maxSide,
                                              FormatMessages* messages)
{
    if (maxSide < 1)
        return fail("no thumbnail size");
    input.thumbnailSide = static_cast<JDIMENSION>(maxSide);
    JpegDecoder decoder;
    if (!decodeJpeg(decoder, input))
        return failureOf(decoder, messages);
    JpegThumbnailSource source;
    const bool sidesSwap = decoder.orientation >= 5;
    // Both sizes were checked against the limits, so they fit.
    const auto fullWidth = static_cast<int32_t>(decoder.info.image_width);
    const auto fullHeight = static_cast<int32_t>(decoder.info.image_height);
    source.width = sidesSwap ? fullHeight : fullWidth;
    source.height = sidesSwap ? fullWidth : fullHeight;
    source.colourProfile = std::move(decoder.colourProfile);
    if (decoder.orientation == kStoredAsShown) {
        source.picture = std::move(decoder.image);
        return source;
    }
    source.picture = uprightCopy(decoder.image, decoder.orientation);
    if (source.picture.isNull()) {
        addMessage(messages, "JpegFile :\nOut of memory", "", true);
        return fail("out of memory");
    }
    return source;
}

// Owns the compression object of one save.
struct JpegEncoder {
    JpegErrors errors;
    jpeg_compress_struct info{};

    ~JpegEncoder() { jpeg_destroy_compress(&info); }
};

// Writes the whole file. Like decodeJpeg, holds nothing that needs destroying.
bool encodeJpeg(JpegEncoder& encoder, std::FILE* file, const DibLayout& layout, JSAMPARRAY rows)
{
    jpeg_compress_struct& info = encoder.info;
    info.err = installErrors(encoder.errors);
    if (setjmp(encoder.errors.jump))
        return false;
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(layout.width);
    info.image_height = static_cast<JDIMENSION>(layout.height);
    // The library reads the blue-first pixels (skipping a fourth byte) itself; its colour
    // conversion makes the same file as from red-first rows.
    info.input_components = layout.bitCount / 8;
    info.in_color_space = layout.bitCount == 32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const JDIMENSION line = info.next_scanline;
        if (jpeg_write_scanlines(&info, rows + line, info.image_height - line) == 0)
            return false;
    }
    jpeg_finish_compress(&info);
    return true;
}

// The file opened for reading, or the reason it cannot be read, told as ReadJpegFile tells it.
Result<FilePtr> openJpegFile(const std::string& path, FormatMessages* messages)
{
    auto file = openRegularStream(path);
    if (!file) {
        addMessage(messages, "JPEG :\nCan't open " + printableName(path) + "\n", "", false);
        return fail(file.error());
    }
    return file.take();
}

} // namespace

Result<Dib> ReadJpegFile(const std::string& path, FormatMessages* messages,
                         std::vector<uint8_t>* colourProfile, int* orientation)
{
    auto file = openJpegFile(path, messages);
    if (!file)
        return fail(file.error());
    JpegInput input;
    input.file = file.value().get();
    return readJpeg(input, messages, colourProfile, orientation);
}

Result<JpegThumbnailSource> readJpegForThumbnail(const std::string& path, int maxSide,
                                                 FormatMessages* messages)
{
    auto file = openJpegFile(path, messages);
    if (!file)
        return fail(file.error());
    JpegInput input;
    input.file = file.value().get();
    return readJpegThumbnail(input, maxSide, messages);
}

Result<JpegThumbnailSource> readJpegBytesForThumbnail(ByteView file, int maxSide,
                                                      FormatMessages* messages)
{
    JpegInput input;
    input.bytes = file;
    return readJpegThumbnail(input, maxSide, messages);
}

Result<Dib> readJpegBytes(ByteView file, FormatMessages* messages,
                          std::vector<uint8_t>* colourProfile, int* orientation)
{
    JpegInput input;
    input.bytes = file;
    return readJpeg(input, messages, colourProfile, orientation);
}

Status WriteJpegFile(const std::string& path, const Dib& image, FormatMessages* messages)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be saved as JPEG");
    // The library reads each row without changing it, so it is handed the image's own rows:
    // the file's first row is the last one in memory.
    std::vector<JSAMPROW> rows;
    try {
        rows.resize(static_cast<size_t>(layout->height));
    } catch (const std::exception&) {
        return fail("out of memory");
    }
    uint8_t* pixels = const_cast<uint8_t*>(image.data()) + layout->pixelOffset;
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = pixels + (rows.size() - 1 - y) * layout->stride;

    AtomicFile file(path);
    if (!file.open()) {
        addMessage(messages, "JpegFile :\nCan't open " + printableName(path) + "\n", "", false);
        return fail(file.error());
    }
    JpegEncoder encoder;
    if (!encodeJpeg(encoder, file.stream(), *layout, rows.data())) {
        // A disk that refused the bytes is no fault of the encoder's, whose message would only
        // guess at the reason; the save's failure tells the system's own.
        if (file.writeFailed())
            return fail(file.error());
        if (encoder.errors.message[0] == '\0')
            return fail("cannot write the JPEG file");
        addMessage(messages, encoder.errors.message, kJpegFatalErrorCaption, true);
        return fail(encoder.errors.message);
    }
    if (!file.commit())
        return fail(file.error());
    return {};
}

} // namespace ombri
