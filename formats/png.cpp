#include "formats/png.h"

#include "formats/colour_profile.h"
#include "formats/diagnostics.h"
#include "formats/orientation.h"
#include "formats/png_idat.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "notes/carrier.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ombri {

namespace {

constexpr size_t kPngSignatureBytes = 8;

// libpng reports an error by calling our handler, which must not return: it keeps the message
// for the caller's reason and jumps back to the setjmp of the running operation.
struct PngErrorContext {
    char message[256] = "";
};

void onPngError(png_structp png, png_const_charp message)
{
    // The reason reaches the user through the caller; the library's own line is for a terminal
    // user who asked for diagnostics.
    formatErrorDiagnostic("libpng error: %s\n", message);
    if (auto* context = static_cast<PngErrorContext*>(png_get_error_ptr(png)))
        std::snprintf(context->message, sizeof context->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings are about things libpng has already recovered from (a bad ancillary chunk, an
// unknown profile); the picture is still good, so they are not shown.
void onPngWarning(png_structp, png_const_charp) {}

// Owns the read structures for one file and everything the decode hands to libpng, so that the
// function holding the setjmp has nothing to clean up when libpng jumps out of it.
struct PngReader {
    PngErrorContext errors;
    png_structp png = nullptr;
    png_infop info = nullptr;
    Dib image;
    std::vector<png_bytep> rows;
    std::string failure;
    // Set when the background and gamma steps were left out of this decode (see readPng).
    bool colourStepsDeferred = false;
    std::vector<uint8_t> colourProfile;
    int orientation = kStoredAsShown;

    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

// A file being read in pieces: only libpng's row buffers and the image itself are in memory.
void readFromFile(png_structp png, png_bytep out, size_t length)
{
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(out, 1, length, file) == length)
        return;
    png_error(png, std::ferror(file) ? "cannot read the file" : "the file ends too early");
}

struct MemorySource {
    ByteView bytes;
    size_t offset = 0; // never beyond bytes.size
};

void readFromMemory(png_structp png, png_bytep out, size_t length)
{
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (length > source->bytes.size - source->offset)
        png_error(png, "the file ends too early");
    std::memcpy(out, source->bytes.data + source->offset, length);
    source->offset += length;
}

// Whether to decode the file as it is first, leaving out the two steps that change colours:
// compositing an alpha channel over a bKGD colour, and a gamma correction that libpng would
// actually carry out. Other programs add both chunks when they rewrite a carrier, and either one
// rewrites the low bits that hold the notes.
bool mayChangeColours(png_structp png, png_infop info)
{
    const bool hasAlpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0 ||
                          png_get_valid(png, info, PNG_INFO_tRNS);
    if (hasAlpha && png_get_valid(png, info, PNG_INFO_bKGD))
        return true;
    double fileGamma = 0;
    if (!png_get_gAMA(png, info, &fileGamma))
        return false;
    // libpng leaves the pixels alone when screen and file gamma nearly cancel out.
    constexpr double kScreenGamma = 2.2;
    constexpr double kThreshold = 0.05;
    const double product = fileGamma * kScreenGamma;
    return product < 1 - kThreshold || product > 1 + kThreshold;
}

// Every decoded picture ends as 8-bit RGB, or RGBA when it keeps an alpha channel, whatever its
// depth and colour type in the file. The order matters: transparency must become alpha before
// the background colour is composited under it. With colourSteps false the background and
// gamma steps are left out.
void requestTransformations(png_structp png, png_infop info, bool colourSteps)
{
    const int bitDepth = png_get_bit_depth(png, info);
    const int colourType = png_get_color_type(png, info);
    if (bitDepth == 16)
        png_set_strip_16(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_expand(png);
    if (bitDepth < 8)
        png_set_expand(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_color_16p background = nullptr;
    if (colourSteps && png_get_bKGD(png, info, &background))
        png_set_background(png, background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    double fileGamma = 0;
    if (colourSteps && png_get_gAMA(png, info, &fileGamma))
        png_set_gamma(png, 2.2, fileGamma);
    // Packed DIB pixels are blue first; decoding them that way spares a pass over the image.
    png_set_bgr(png);
    png_set_interlace_handling(png);
}

// The bit count of the packed DIB that the decoded rows fill, or 0 when libpng would hand over
// rows of another shape than the DIB's.
uint16_t decodedBitCount(png_structp png, png_infop info)
{
    uint16_t bitCount = 0;
    switch (png_get_color_type(png, info)) {
    case PNG_COLOR_TYPE_RGB:
        bitCount = 24;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        bitCount = 32;
        break;
    default:
        return 0;
    }
    const size_t channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 8 || channels != bitCount / 8u ||
        png_get_rowbytes(png, info) != size_t{png_get_image_width(png, info)} * channels)
        return 0;
    return bitCount;
}

// Allocates the image and points libpng's rows at it: the file's first row is the picture's
// top, which a packed DIB keeps last.
bool allocateImage(PngReader& reader)
{
    const uint32_t width = png_get_image_width(reader.png, reader.info);
    const uint32_t height = png_get_image_height(reader.png, reader.info);
    const uint16_t bitCount = decodedBitCount(reader.png, reader.info);
    if (bitCount == 0) {
        reader.failure = "unsupported pixel layout after decoding";
        return false;
    }
    reader.image = Dib::create(static_cast<int32_t>(width), static_cast<int32_t>(height), bitCount);
    auto layout = dibGetLayout(reader.image);
    if (!layout) {
        reader.failure = "the image is too large";
        return false;
    }
    uint8_t* pixels = reader.image.data() + layout->pixelOffset;
    reader.rows.resize(height);
    for (uint32_t y = 0; y < height; ++y)
        reader.rows[y] = pixels + size_t{height - 1 - y} * layout->stride;
    return true;
}

// Chunks that cannot change a pixel. libpng allocates the length such a chunk claims before
// reading it, so a 50-byte file could otherwise ask for 2 GiB; skipped chunks are read through
// a small fixed buffer. Colour-space chunks (sRGB, iCCP, cHRM) stay: they can set the gamma. So
// does eXIf, whose orientation turns the picture; libpng holds it, as every chunk it keeps, to
// its limit for one chunk (8 MB), far above what an orientation needs.
void skipMetadataChunks(png_structp png)
{
    static const png_byte kSkipped[] = "tEXt\0zTXt\0iTXt\0sPLT\0pCAL\0sCAL";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, sizeof kSkipped / 5);
}

bool dimensionsAllowed(png_structp png, png_infop info)
{
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    return width <= kMaxDimension && height <= kMaxDimension;
}

enum class ColourSteps { Deferred, Applied };

// Runs libpng over the whole file. Holds nothing that needs destroying: libpng leaves it by
// longjmp on any error, and the reader owns every buffer.
bool decodeImage(PngReader& reader, ColourSteps colourSteps)
{
    if (setjmp(png_jmpbuf(reader.png))) {
        reader.failure = reader.errors.message;
        return false;
    }
    png_read_info(reader.png, reader.info);
    if (!dimensionsAllowed(reader.png, reader.info)) {
        reader.failure = "the image is too large";
        return false;
    }
    reader.colourStepsDeferred =
        colourSteps == ColourSteps::Deferred && mayChangeColours(reader.png, reader.info);
    requestTransformations(reader.png, reader.info, !reader.colourStepsDeferred);
    png_read_update_info(reader.png, reader.info);
    if (!allocateImage(reader))
        return false;
    png_read_image(reader.png, reader.rows.data());
    // With the info structure, an eXIf chunk after the image data is kept as well.
    png_read_end(reader.png, reader.info);
    return true;
}

// The iCCP profile, which libpng has inflated and checked against the length in its header;
// one over kMaxColourProfileBytes is passed over.
void keepColourProfile(PngReader& reader)
{
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(reader.png, reader.info, &name, &compression, &profile, &length) !=
            PNG_INFO_iCCP ||
        !profile || length == 0 || length > kMaxColourProfileBytes)
        return;
    try {
        reader.colourProfile.assign(profile, profile + length);
    } catch (const std::bad_alloc&) {
        // Without room for the profile the picture is shown as stored.
    }
}

// The orientation of the eXIf chunk, which holds the TIFF-structured EXIF data without the
// "Exif" prefix of a JPEG marker.
void keepOrientation(PngReader& reader)
{
    png_bytep exif = nullptr;
    png_uint_32 length = 0;
    if (png_get_eXIf_1(reader.png, reader.info, &length, &exif) == PNG_INFO_eXIf && exif)
        reader.orientation = exifTiffOrientation({exif, length});
}

// What a decode hands over besides the picture, each when asked for.
struct PngMetadata {
    std::vector<uint8_t>* colourProfile = nullptr;
    int* orientation = nullptr;
};

// Decodes a PNG whose 8 signature bytes have been checked and consumed; readFn delivers the
// rest from ioSource.
Result<Dib> decodePng(png_rw_ptr readFn, void* ioSource, ColourSteps colourSteps,
                      bool& colourStepsDeferred, const PngMetadata& metadata)
{
    PngReader reader;
    reader.png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader.errors, onPngError, onPngWarning);
    if (reader.png)
        reader.info = png_create_info_struct(reader.png);
    if (!reader.png || !reader.info)
        return fail("out of memory");
    // Our own limit applies, checked after the header with a plain reason, not libpng's
    // default of a million pixels.
    png_set_user_limits(reader.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    skipMetadataChunks(reader.png);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Mutated files almost never carry right checksums; accepting them lets the fuzzer reach the
    // transformations and the rows instead of stopping at the first chunk.
    png_set_crc_action(reader.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_option(reader.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    png_set_read_fn(reader.png, ioSource, readFn);
    png_set_sig_bytes(reader.png, static_cast<int>(kPngSignatureBytes));
    if (!decodeImage(reader, colourSteps))
        return fail(reader.failure);
    colourStepsDeferred = reader.colourStepsDeferred;
    if (metadata.colourProfile) {
        keepColourProfile(reader);
        *metadata.colourProfile = std::move(reader.colourProfile);
    }
    if (metadata.orientation) {
        keepOrientation(reader);
        *metadata.orientation = reader.orientation;
    }
    return std::move(reader.image);
}

// A carrier that another program rewrote keeps its notes in the pixels as stored: the file is
// first decoded without background and gamma, and when those pixels hold the note marker (in
// any orientation) they are the picture, alpha and all. Otherwise the file is an ordinary
// picture and is decoded again with every step; only files with such chunks pay for that.
// rewind puts the source back just past the 8 signature bytes.
template <typename Rewind>
Result<Dib> readPng(png_rw_ptr readFn, void* ioSource, Rewind rewind, const PngMetadata& metadata)
{
    bool deferred = false;
    auto image = decodePng(readFn, ioSource, ColourSteps::Deferred, deferred, metadata);
    if (!image || !deferred ||
        findOmbriSignature(image.value(), true, SignatureForm::Interleaved).intact())
        return image;
    image.value().reset();
    if (!rewind())
        return fail("cannot read the file again");
    return decodePng(readFn, ioSource, ColourSteps::Applied, deferred, metadata);
}

bool hasSignature(const uint8_t* bytes, size_t size)
{
    return size >= kPngSignatureBytes && png_sig_cmp(bytes, 0, kPngSignatureBytes) == 0;
}

// Owns the write structures for one save.
struct PngWriter {
    PngErrorContext errors;
    png_structp png = nullptr;
    png_infop info = nullptr;
    AtomicFile* file = nullptr;

    ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

// The size of each IDAT chunk: large enough that framing costs nothing, small enough that a
// reader streaming the file never holds much of it.
constexpr size_t kIdatChunkBytes = 256 * 1024;

// libpng frames the chunks; the bytes go through the save's own file, which starts their
// writeback as they come.
void writeToFile(png_structp png, png_bytep bytes, size_t count)
{
    auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
    if (!writer->file->write(bytes, count))
        png_error(png, writer->file->error().c_str());
}

void flushNothing(png_structp) {}

// Writes the signature, the header and the text chunks. Like decodeImage, holds nothing that
// needs destroying.
bool encodeHeader(PngWriter& writer, const PngRows& rows, const std::vector<png_text>& chunks)
{
    if (setjmp(png_jmpbuf(writer.png)))
        return false;
    png_set_write_fn(writer.png, &writer, writeToFile, flushNothing);
    png_set_IHDR(writer.png, writer.info, rows.width, rows.height, 8,
                 rows.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!chunks.empty())
        png_set_text(writer.png, writer.info, chunks.data(), static_cast<int>(chunks.size()));
    png_write_info(writer.png, writer.info);
    return true;
}

bool encodeEnd(PngWriter& writer)
{
    if (setjmp(png_jmpbuf(writer.png)))
        return false;
    static const png_byte kIend[5] = "IEND";
    png_write_chunk(writer.png, kIend, nullptr, 0);
    return true;
}

// Cuts the image data into IDAT chunks of kIdatChunkBytes as it comes, from whichever thread
// compressed it. The chunks are framed here rather than by libpng, whose errors jump back to the
// thread that started the save.
class IdatChunks {
  public:
    explicit IdatChunks(AtomicFile& file) : m_file(file) { m_chunk.reserve(kIdatChunkBytes); }

    bool add(const uint8_t* bytes, size_t count)
    {
        while (count > 0) {
            const size_t taken = std::min(count, kIdatChunkBytes - m_chunk.size());
            m_chunk.insert(m_chunk.end(), bytes, bytes + taken);
            bytes += taken;
            count -= taken;
            if (m_chunk.size() == kIdatChunkBytes && !writeChunk())
                return false;
        }
        return true;
    }

    // The last, shorter chunk.
    bool finish() { return m_chunk.empty() || writeChunk(); }

  private:
    bool writeChunk()
    {
        static const uint8_t kType[4] = {'I', 'D', 'A', 'T'};
        uint8_t frame[8];
        putBigEndian32(frame, static_cast<uint32_t>(m_chunk.size()));
        std::memcpy(frame + 4, kType, 4);
        uLong crc = crc32(0L, kType, 4);
        crc = crc32_z(crc, m_chunk.data(), m_chunk.size());
        uint8_t check[4];
        putBigEndian32(check, static_cast<uint32_t>(crc));
        const bool written = m_file.write(frame, sizeof frame) &&
                             m_file.write(m_chunk.data(), m_chunk.size()) &&
                             m_file.write(check, sizeof check);
        m_chunk.clear();
        return written;
    }

    static void putBigEndian32(uint8_t* out, uint32_t value)
    {
        out[0] = static_cast<uint8_t>(value >> 24);
        out[1] = static_cast<uint8_t>(value >> 16);
        out[2] = static_cast<uint8_t>(value >> 8);
        out[3] = static_cast<uint8_t>(value);
    }

    AtomicFile& m_file;
    std::vector<uint8_t> m_chunk;
};

// The grey picture of a note layer, compressed as libpng does by default: masks are small and
// mostly flat, so the fast path of the colour writer buys nothing here.
bool encodeGrey(PngWriter& writer, uint32_t width, uint32_t height, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(writer.png)))
        return false;
    png_set_write_fn(writer.png, &writer, writeToFile, flushNothing);
    png_set_IHDR(writer.png, writer.info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer.png, writer.info);
    png_write_image(writer.png, rows);
    png_write_end(writer.png, nullptr);
    return true;
}

// Makes the write structures of one save; false when there is no memory for them.
bool startWriter(PngWriter& writer, AtomicFile& file)
{
    writer.file = &file;
    writer.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer.errors, onPngError, onPngWarning);
    if (writer.png)
        writer.info = png_create_info_struct(writer.png);
    return writer.png && writer.info;
}

} // namespace

Result<Dib> ReadPngFile(const std::string& path)
{
    return ReadPngFile(path, nullptr);
}

Result<Dib> ReadPngFile(const std::string& path, std::vector<uint8_t>* colourProfile,
                        int* orientation)
{
    auto opened = openRegularStream(path);
    if (!opened)
        return fail(opened.error());
    FilePtr file = opened.take();
    uint8_t signature[kPngSignatureBytes];
    const size_t got = std::fread(signature, 1, sizeof signature, file.get());
    if (std::ferror(file.get()))
        return fail(std::strerror(errno));
    if (!hasSignature(signature, got))
        return fail("not a PNG file");
    std::FILE* stream = file.get();
    return readPng(
        readFromFile, stream,
        [stream] {
            return std::fseek(stream, static_cast<long>(kPngSignatureBytes), SEEK_SET) == 0;
        },
        PngMetadata{colourProfile, orientation});
}

Result<Dib> readPngBytes(ByteView file)
{
    return readPngBytes(file, nullptr);
}

Result<Dib> readPngBytes(ByteView file, std::vector<uint8_t>* colourProfile, int* orientation)
{
    if (!file.data || !hasSignature(file.data, file.size))
        return fail("not a PNG file");
    MemorySource source{file, kPngSignatureBytes};
    return readPng(
        readFromMemory, &source,
        [&source] {
            source.offset = kPngSignatureBytes;
            return true;
        },
        PngMetadata{colourProfile, orientation});
}

namespace {

Status checkText(const std::vector<PngText>& text)
{
    for (const PngText& chunk : text)
        if (chunk.keyword.empty() || chunk.keyword.size() > 79 ||
            chunk.keyword.find('\0') != std::string::npos ||
            chunk.text.find('\0') != std::string::npos)
            return fail("a PNG text keyword is 1 to 79 bytes and no text holds a zero byte");
    return {};
}

Status writeRowsPng(AtomicFile& file, const PngRows& rows, const std::vector<PngText>& text,
                    std::optional<unsigned> permissions)
{
    if (Status checked = checkText(text); !checked)
        return checked;
    // The file first: a folder that cannot take it is told before the picture is compressed.
    if (!file.open())
        return fail(file.error());
    if (permissions && !file.setPermissions(static_cast<mode_t>(*permissions)))
        return fail(file.error());
    std::vector<png_text> chunks(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        // libpng only reads them.
        chunks[i].key = const_cast<char*>(text[i].keyword.c_str());
        chunks[i].text = const_cast<char*>(text[i].text.c_str());
        chunks[i].text_length = text[i].text.size();
    }
    PngWriter writer;
    if (!startWriter(writer, file))
        return fail("out of memory");
    if (!encodeHeader(writer, rows, chunks))
        return fail(file.writeFailed() ? file.error() : writer.errors.message);
    // The image data goes to the file as it is compressed: the stream is never held whole.
    IdatChunks idat(file);
    const bool compressed = compressPngRowsTo(
        rows, [&idat](const uint8_t* bytes, size_t count) { return idat.add(bytes, count); });
    if (!compressed || !idat.finish())
        return fail(file.writeFailed() ? file.error() : "out of memory");
    if (!encodeEnd(writer))
        return fail(file.writeFailed() ? file.error() : writer.errors.message);
    if (!file.commit())
        return fail(file.error());
    return {};
}

Status writeColourPng(AtomicFile& file, const Dib& image, const std::vector<PngText>& text,
                      std::optional<unsigned> permissions)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be saved as PNG");
    // The file's first row is the last one in memory.
    PngRows rows;
    rows.width = static_cast<uint32_t>(layout->width);
    rows.height = static_cast<uint32_t>(layout->height);
    rows.channels = layout->bitCount == 32 ? 4 : 3;
    rows.step = -static_cast<std::ptrdiff_t>(layout->stride);
    rows.firstRow = image.data() + layout->pixelOffset +
                    (static_cast<size_t>(layout->height) - 1) * layout->stride;
    return writeRowsPng(file, rows, text, permissions);
}

uint32_t bigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// A text chunk longer than this is passed over when the chunks are read from a file: labels are
// short, and a file is not trusted to say how much memory its reader gives it.
constexpr uint32_t kMaxFileTextBytes = 1u << 20;

// The keyword and text of a tEXt chunk's data; nothing for data without a keyword.
std::optional<PngText> textOfChunk(const uint8_t* data, size_t length)
{
    const auto* begin = reinterpret_cast<const char*>(data);
    const auto* zero = static_cast<const char*>(std::memchr(begin, 0, length));
    if (!zero || zero == begin)
        return std::nullopt;
    return PngText{std::string(begin, zero), std::string(zero + 1, begin + length)};
}

} // namespace

Status WritePngFile(const std::string& path, const Dib& image)
{
    AtomicFile file(path);
    return writeColourPng(file, image, {}, std::nullopt);
}

Status writePngRows(const std::string& path, const RowSource& source)
{
    if ((source.bitCount != 24 && source.bitCount != 32) || source.width < 1 || source.height < 1 ||
        static_cast<uint32_t>(source.width) > kMaxDimension ||
        static_cast<uint32_t>(source.height) > kMaxDimension || !source.copyRow)
        return fail("only 24- and 32-bit images can be saved as PNG");
    // The file's first row is the last one in memory.
    PngRows rows;
    rows.width = static_cast<uint32_t>(source.width);
    rows.height = static_cast<uint32_t>(source.height);
    rows.channels = source.bitCount == 32 ? 4 : 3;
    const size_t last = static_cast<size_t>(source.height) - 1;
    rows.makeRow = [&source, last](uint32_t row, uint8_t* out) { source.copyRow(last - row, out); };
    AtomicFile file(path);
    return writeRowsPng(file, rows, {}, std::nullopt);
}

Status writePngFileWithText(const std::string& path, const Dib& image,
                            const std::vector<PngText>& text, unsigned permissions)
{
    AtomicFile file(path);
    return writeColourPng(file, image, text, permissions);
}

Status writePngFileWithText(int folder, const std::string& name, const Dib& image,
                            const std::vector<PngText>& text, unsigned permissions)
{
    AtomicFile file(folder, name, static_cast<mode_t>(permissions));
    return writeColourPng(file, image, text, std::nullopt);
}

std::optional<PngDimensions> readPngDimensions(ByteView file)
{
    // The signature, then the header chunk: its length (13), "IHDR", the width and the height.
    constexpr size_t kHeaderEnd = kPngSignatureBytes + 16;
    if (!file.data || file.size < kHeaderEnd || !hasSignature(file.data, file.size) ||
        bigEndian32(file.data + kPngSignatureBytes) != 13 ||
        std::memcmp(file.data + kPngSignatureBytes + 4, "IHDR", 4) != 0)
        return std::nullopt;
    return PngDimensions{bigEndian32(file.data + kPngSignatureBytes + 8),
                         bigEndian32(file.data + kPngSignatureBytes + 12)};
}

Result<std::vector<PngText>> readPngTextBytes(ByteView file)
{
    if (!file.data || !hasSignature(file.data, file.size))
        return fail("not a PNG file");
    std::vector<PngText> found;
    size_t offset = kPngSignatureBytes;
    // Each chunk: length, type, data, CRC. The length is checked against what is left before
    // anything is read from the data, so a file cut short or a length out of range ends the walk.
    while (file.size - offset >= 12) {
        const uint32_t length = bigEndian32(file.data + offset);
        const uint8_t* type = file.data + offset + 4;
        if (length > file.size - offset - 12)
            break;
        if (std::memcmp(type, "IEND", 4) == 0)
            break;
        if (std::memcmp(type, "tEXt", 4) == 0)
            if (auto text = textOfChunk(type + 4, length))
                found.push_back(std::move(*text));
        offset += size_t{length} + 12;
    }
    return found;
}

// The same walk over the file itself: only the chunk headers and the text chunks are read, so a
// file of any size (a sparse one of gigabytes among them) costs a few small reads.
Result<std::vector<PngText>> readPngTextFile(const std::string& path)
{
    auto opened = openRegularFile(path);
    if (!opened)
        return fail(opened.error());
    const int file = opened.value().get();
    struct stat status {};
    if (::fstat(file, &status) != 0)
        return fail(std::strerror(errno));
    const auto size = static_cast<uint64_t>(status.st_size);
    uint8_t signature[kPngSignatureBytes];
    if (!readExactlyAt(file, signature, sizeof signature, 0) ||
        !hasSignature(signature, sizeof signature))
        return fail("not a PNG file");
    std::vector<PngText> found;
    uint64_t offset = kPngSignatureBytes;
    std::vector<uint8_t> data;
    while (size - offset >= 12) {
        uint8_t header[8];
        if (!readExactlyAt(file, header, sizeof header, offset))
            break;
        const uint32_t length = bigEndian32(header);
        if (length > size - offset - 12 || std::memcmp(header + 4, "IEND", 4) == 0)
            break;
        if (std::memcmp(header + 4, "tEXt", 4) == 0 && length <= kMaxFileTextBytes) {
            data.resize(length);
            if (!readExactlyAt(file, data.data(), length, offset + 8))
                break;
            if (auto text = textOfChunk(data.data(), length))
                found.push_back(std::move(*text));
        }
        offset += uint64_t{length} + 12;
    }
    return found;
}

Status writeGreyPngFile(const std::string& path, const uint8_t* grey, uint32_t width,
                        uint32_t height)
{
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = const_cast<uint8_t*>(grey) + size_t{y} * width; // libpng only reads them
    AtomicFile file(path);
    if (!file.open())
        return fail(file.error());
    PngWriter writer;
    if (!startWriter(writer, file))
        return fail("out of memory");
    if (!encodeGrey(writer, width, height, rows.data()))
        return fail(file.writeFailed() ? file.error() : writer.errors.message);
    if (!file.commit())
        return fail(file.error());
    return {};
}

} // namespace ombri
