#include "formats/tiff.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "core/printable_name.h"
#include "formats/colour_profile.h"
#include "formats/orientation.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace ombri {

namespace {

// libtiff reports through process-wide handlers that print by default. Ours print nothing: the
// last error of the running operation becomes its reason. An operation runs on one thread, so
// the record is kept per thread.
thread_local std::string t_lastTiffError;

void recordTiffError(const char*, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    t_lastTiffError = text;
}

// Warnings are about things libtiff has recovered from (an unknown tag, a missing resolution
// unit); the picture is still good.
void ignoreTiffWarning(const char*, const char*, va_list) {}

void beginTiffOperation()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        TIFFSetErrorHandler(recordTiffError);
        TIFFSetWarningHandler(ignoreTiffWarning);
    });
    t_lastTiffError.clear();
}

std::string lastTiffError(const char* fallback)
{
    return t_lastTiffError.empty() ? fallback : t_lastTiffError;
}

template <typename T> bool tryResize(std::vector<T>& buffer, size_t count)
{
    try {
        buffer.resize(count);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// libtiff's I/O over the temporary file of a save, a stdio stream that the caller owns.
std::FILE* streamOf(thandle_t handle)
{
    return static_cast<std::FILE*>(handle);
}

tmsize_t readStream(thandle_t handle, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(
        std::fread(buffer, 1, static_cast<size_t>(size), streamOf(handle)));
}

tmsize_t writeStream(thandle_t handle, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(
        std::fwrite(buffer, 1, static_cast<size_t>(size), streamOf(handle)));
}

toff_t seekStream(thandle_t handle, toff_t offset, int whence)
{
    // A backward move arrives as a wrapped unsigned distance; off_t takes it back as negative.
    if (fseeko(streamOf(handle), static_cast<off_t>(offset), whence) != 0)
        return static_cast<toff_t>(-1);
    const off_t position = ftello(streamOf(handle));
    return position < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(position);
}

toff_t sizeStream(thandle_t handle)
{
    std::FILE* stream = streamOf(handle);
    const off_t here = ftello(stream);
    if (here < 0 || fseeko(stream, 0, SEEK_END) != 0)
        return 0;
    const off_t end = ftello(stream);
    fseeko(stream, here, SEEK_SET);
    return end < 0 ? 0 : static_cast<toff_t>(end);
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

// libtiff's I/O over a whole file in memory. Every read is limited to what is there; a seek
// beyond the end is allowed, as in a file, and reading from there gives nothing.
struct MemorySource {
    ByteView bytes;
    uint64_t offset = 0;
};

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t size)
{
    auto* source = static_cast<MemorySource*>(handle);
    if (size <= 0 || source->offset >= source->bytes.size)
        return 0;
    const uint64_t count =
        std::min<uint64_t>(static_cast<uint64_t>(size), source->bytes.size - source->offset);
    std::memcpy(buffer, source->bytes.data + source->offset, static_cast<size_t>(count));
    source->offset += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<MemorySource*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = source->offset;
    else if (whence == SEEK_END)
        base = source->bytes.size;
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    const bool backward = whence != SEEK_SET && static_cast<int64_t>(offset) < 0;
    if (backward ? uint64_t{0} - offset > base : offset > UINT64_MAX - base)
        return static_cast<toff_t>(-1);
    source->offset = base + offset; // modulo 2^64: a backward move lands below base
    return source->offset;
}

toff_t sizeMemory(thandle_t handle)
{
    return static_cast<MemorySource*>(handle)->bytes.size;
}

// The bytes are offered as a read-only mapping, which libtiff checks every strip against. It
// matters beyond speed: this libtiff refuses uncompressed tiles read through its own buffer (the
// buffer is rounded up and no longer matches the tile size), but not from a mapping.
int mapMemory(thandle_t handle, void** base, toff_t* size)
{
    auto* source = static_cast<MemorySource*>(handle);
    *base = const_cast<uint8_t*>(source->bytes.data);
    *size = source->bytes.size;
    return 1;
}

// The caller owns the stream or the bytes; libtiff neither closes nor unmaps them.
int closeNothing(thandle_t)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct TiffIo {
    thandle_t handle;
    TIFFReadWriteProc read;
    TIFFReadWriteProc write;
    TIFFSeekProc seek;
    TIFFSizeProc size;
    TIFFMapFileProc map;
};

TiffPtr openTiff(const std::string& name, const char* mode, const TiffIo& io)
{
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        return nullptr;
    // libtiff's own buffers (tag arrays, strip buffers) are held to the limit of an image, so a
    // header claiming a gigantic strip is refused instead of exhausting memory; small tables
    // stay allowed whatever the limit.
    const size_t limit = std::max<size_t>(maxImageBytes(), size_t{1} << 20);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(limit));
    return TiffPtr(TIFFClientOpenExt(name.c_str(), mode, io.handle, io.read, io.write, io.seek,
                                     closeNothing, io.size, io.map, unmapNothing, options.get()));
}

// What the first directory says about the picture.
struct TiffHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samples = 1;
    uint16_t bitsPerSample = 1;
    uint16_t photometric = 0xFFFF; // absent
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t compression = COMPRESSION_NONE;
    bool tiled = false;
};

TiffHeader readHeader(TIFF* tiff)
{
    TiffHeader header;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &header.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &header.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &header.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &header.bitsPerSample);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &header.photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &header.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &header.orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &header.sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &header.compression);
    header.tiled = TIFFIsTiled(tiff) != 0;
    return header;
}

Status checkHeader(TIFF* tiff, const TiffHeader& header, uint64_t fileSize)
{
    if (header.width == 0 || header.height == 0)
        return fail("the image has no pixels");
    if (!pixelCountAllowed(header.width, header.height))
        return fail("the image is too large");
    // Uncompressed samples cannot take less room than the picture, so a header claiming more
    // than the file holds is refused before anything is allocated.
    if (header.compression == COMPRESSION_NONE) {
        const uint64_t planes = header.planar == PLANARCONFIG_SEPARATE ? header.samples : 1;
        const uint64_t rowBytes = TIFFScanlineSize64(tiff);
        if (rowBytes == 0 || planes == 0 || fileSize / header.height / planes < rowBytes)
            return fail("the file is shorter than its image");
    }
    return {};
}

// RGB(A) samples of 8 or 16 bits, in strips or tiles, interleaved or one plane per channel: read
// as stored, so that neither alpha nor colour bytes are touched by a conversion, whatever the
// orientation (the shared load turns the stored picture afterwards). libtiff's own conversion
// would premultiply unassociated alpha and round 16-bit samples; taking their high byte instead,
// as for 16-bit PNG, gives an 8-bit picture widened by another program back byte for byte,
// notes included.
bool readsStraight(const TiffHeader& header)
{
    return (header.samples == 3 || header.samples == 4) &&
           (header.bitsPerSample == 8 || header.bitsPerSample == 16) &&
           header.photometric == PHOTOMETRIC_RGB &&
           (header.planar == PLANARCONFIG_CONTIG || header.planar == PLANARCONFIG_SEPARATE) &&
           header.sampleFormat == SAMPLEFORMAT_UINT;
}

// Exchanges the first and third byte of each pixel while copying: file pixels are red first,
// packed DIB pixels blue first. A fourth byte is copied as it is.
void copySwappingRedBlue(const uint8_t* source, uint8_t* target, size_t count, size_t samples)
{
    for (size_t i = 0; i < count; ++i, source += samples, target += samples) {
        target[0] = source[2];
        target[1] = source[1];
        target[2] = source[0];
        if (samples == 4)
            target[3] = source[3];
    }
}

// The image being filled; rows are counted from the top, as in the file.
struct TargetImage {
    Dib& image;
    DibLayout layout;
    size_t bytesPerPixel() const { return layout.bitCount / 8u; }
    uint8_t* rowFromTop(uint32_t y)
    {
        return image.data() + layout.pixelOffset +
               static_cast<size_t>(layout.height - 1 - static_cast<int32_t>(y)) * layout.stride;
    }
};

// Where each stored channel (red, green, blue, alpha) lies inside a DIB pixel (blue first).
constexpr size_t kPixelByteOfChannel[4] = {2, 1, 0, 3};

// How the stored samples are cut into strips or tiles: each chunk covers `rows` rows of
// `columns` pixels of one plane (all channels when interleaved).
struct ChunkShape {
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint16_t planes = 1;
    uint16_t samplesPerChunk = 0; // samples of one pixel inside a chunk
    size_t bytesPerSample = 1;
    size_t rowBytes = 0;
    size_t chunkBytes = 0;
};

// The shape the header gives, checked against what libtiff computes for the file and held to the
// limit of an image; nothing when they disagree or a chunk would be too large.
std::optional<ChunkShape> chunkShapeOf(TIFF* tiff, const TiffHeader& header)
{
    ChunkShape shape;
    const bool separate = header.planar == PLANARCONFIG_SEPARATE;
    shape.planes = separate ? header.samples : 1;
    shape.samplesPerChunk = separate ? 1 : header.samples;
    shape.bytesPerSample = header.bitsPerSample / 8u;
    if (header.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &shape.columns);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &shape.rows);
    } else {
        shape.columns = header.width;
        shape.rows = header.height;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &shape.rows);
        shape.rows = std::clamp<uint32_t>(shape.rows, 1, header.height);
    }
    // A tile may reach past the picture, but its buffer is held to the limit of an image.
    if (shape.columns == 0 || shape.columns > kMaxDimension || shape.rows == 0)
        return std::nullopt;
    shape.rowBytes = size_t{shape.columns} * shape.samplesPerChunk * shape.bytesPerSample;
    auto chunkBytes = checkedImageBytes(shape.rowBytes, shape.rows);
    if (!chunkBytes)
        return std::nullopt;
    shape.chunkBytes = *chunkBytes;
    const uint64_t computed =
        header.tiled ? TIFFTileSize64(tiff) : TIFFScanlineSize64(tiff) * uint64_t{shape.rows};
    if (computed != shape.chunkBytes)
        return std::nullopt;
    return shape;
}

// Copies one decoded chunk row into the picture row at its first pixel: the samples of the chunk's
// plane (or of every channel when interleaved), each 16-bit one by its high byte.
void copyChunkRow(const uint8_t* source, uint8_t* target, uint32_t columns, const ChunkShape& shape,
                  uint16_t plane, size_t bytesPerPixel)
{
    if (shape.bytesPerSample == 1 && shape.planes == 1) {
        copySwappingRedBlue(source, target, columns, shape.samplesPerChunk);
        return;
    }
    for (uint32_t x = 0; x < columns; ++x, target += bytesPerPixel) {
        for (uint16_t s = 0; s < shape.samplesPerChunk; ++s, source += shape.bytesPerSample) {
            uint8_t value = source[0];
            if (shape.bytesPerSample == 2) {
                uint16_t sample;
                std::memcpy(&sample, source, sizeof sample); // libtiff gives native order
                value = static_cast<uint8_t>(sample >> 8);
            }
            target[kPixelByteOfChannel[shape.planes == 1 ? s : plane]] = value;
        }
    }
}

// Reads every strip or tile of every plane and answers how many were decoded; one that fails
// leaves its part of the picture zero.
size_t readStraight(TIFF* tiff, const TiffHeader& header, TargetImage& target, std::string& failure)
{
    const auto shape = chunkShapeOf(tiff, header);
    std::vector<uint8_t> chunk;
    if (!shape || !tryResize(chunk, shape->chunkBytes)) {
        failure = header.tiled ? "unsupported tile size" : "unsupported strip size";
        return 0;
    }
    const auto wanted = static_cast<tmsize_t>(shape->chunkBytes);
    size_t decoded = 0;
    for (uint16_t plane = 0; plane < shape->planes; ++plane) {
        for (uint32_t top = 0; top < header.height; top += shape->rows) {
            for (uint32_t left = 0; left < header.width; left += shape->columns) {
                // The last strip of a plane may be shorter than the others.
                const uint32_t rows = std::min(shape->rows, header.height - top);
                const tmsize_t size =
                    header.tiled ? wanted : static_cast<tmsize_t>(shape->rowBytes * rows);
                const tmsize_t got =
                    header.tiled
                        ? TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, left, top, 0, plane),
                                              chunk.data(), size)
                        : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, top, plane),
                                               chunk.data(), size);
                if (got != size)
                    continue;
                const uint32_t columns = std::min(shape->columns, header.width - left);
                for (uint32_t row = 0; row < rows; ++row)
                    copyChunkRow(chunk.data() + row * shape->rowBytes,
                                 target.rowFromTop(top + row) + left * target.bytesPerPixel(),
                                 columns, *shape, plane, target.bytesPerPixel());
                ++decoded;
            }
        }
    }
    return decoded;
}

void convertRgbaRow(const uint32_t* raster, uint8_t* target, size_t width, size_t bytesPerPixel)
{
    for (size_t x = 0; x < width; ++x, target += bytesPerPixel) {
        const uint32_t value = raster[x];
        target[0] = static_cast<uint8_t>(TIFFGetB(value));
        target[1] = static_cast<uint8_t>(TIFFGetG(value));
        target[2] = static_cast<uint8_t>(TIFFGetR(value));
        if (bytesPerPixel == 4)
            target[3] = static_cast<uint8_t>(TIFFGetA(value));
    }
}

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

// Every other layout is converted by libtiff, one band of strips or tiles at a time. The band is
// asked for in the file's own order, so that it lands as one run of rows in the stored picture,
// which the shared load turns as the Orientation tag says; a damaged band costs only its own
// rows. libtiff's own turn would apply only the flip part of orientations 5 to 8.
size_t readThroughRgba(TIFF* tiff, const TiffHeader& header, TargetImage& target,
                       std::string& failure)
{
    char message[1024] = "";
    TIFFRGBAImage rgba{};
    if (!TIFFRGBAImageBegin(&rgba, tiff, 1, message)) {
        failure = message;
        return 0;
    }
    std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> ending(&rgba);
    // Asking for the file's own orientation makes libtiff neither flip nor mirror anything.
    rgba.req_orientation = rgba.orientation;

    uint32_t bandRows = header.height;
    if (header.tiled)
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &bandRows);
    else
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &bandRows);
    bandRows = std::clamp<uint32_t>(bandRows, 1, header.height);
    std::vector<uint32_t> band;
    if (!checkedImageBytes(size_t{header.width} * 4, bandRows) ||
        !tryResize(band, size_t{header.width} * bandRows)) {
        failure = "the image is too large";
        return 0;
    }
    size_t decoded = 0;
    for (uint32_t first = 0; first < header.height; first += bandRows) {
        const uint32_t rows = std::min(bandRows, header.height - first);
        rgba.row_offset = static_cast<int>(first);
        if (!TIFFRGBAImageGet(&rgba, band.data(), header.width, rows))
            continue;
        for (uint32_t row = 0; row < rows; ++row)
            convertRgbaRow(band.data() + size_t{row} * header.width, target.rowFromTop(first + row),
                           header.width, target.bytesPerPixel());
        ++decoded;
    }
    return decoded;
}

// Whether the sample after the colour ones is marked as opacity, premultiplied or not. libtiff's
// conversion and the straight copy both put that sample in the fourth byte of a 32-bit pixel.
bool marksAlpha(TIFF* tiff)
{
    uint16_t count = 0;
    const uint16_t* kinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) || count == 0 || !kinds)
        return false;
    return kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA;
}

// The profile of tag 34675, which libtiff reads with the directory after checking that the file
// holds it; one over kMaxColourProfileBytes is passed over.
std::vector<uint8_t> colourProfileOf(TIFF* tiff)
{
    uint32_t length = 0;
    void* data = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &data) || !data || length == 0 ||
        length > kMaxColourProfileBytes)
        return {};
    // Without room for the profile the picture is shown as stored.
    std::vector<uint8_t> profile;
    if (tryResize(profile, length))
        std::memcpy(profile.data(), data, length);
    return profile;
}

Result<Dib> decodeTiff(TIFF* tiff, uint64_t fileSize, bool* alpha,
                       std::vector<uint8_t>* colourProfile, int* orientation)
{
    const TiffHeader header = readHeader(tiff);
    if (Status checked = checkHeader(tiff, header, fileSize); !checked)
        return fail(checked.error());
    const uint16_t bitCount = header.samples >= 4 ? 32 : 24;
    auto stride = checkedRowStride(header.width, bitCount);
    if (!stride || !checkedImageBytes(*stride, header.height))
        return fail("the image is too large");
    Dib image = Dib::create(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height),
                            bitCount);
    auto layout = dibGetLayout(image);
    if (!layout)
        return fail("out of memory");

    TargetImage target{image, *layout};
    std::string failure;
    size_t decoded = 0;
    if (readsStraight(header))
        decoded = readStraight(tiff, header, target, failure);
    else
        decoded = readThroughRgba(tiff, header, target, failure);
    if (decoded == 0)
        return fail(!failure.empty() ? failure
                                     : lastTiffError("no part of the image could be decoded"));
    if (alpha)
        *alpha = bitCount == 32 && marksAlpha(tiff);
    if (colourProfile)
        *colourProfile = colourProfileOf(tiff);
    if (orientation)
        *orientation = knownOrientation(header.orientation);
    return image;
}

bool setTags(TIFF* tiff, const DibLayout& layout)
{
    static uint16_t unassociatedAlpha[] = {EXTRASAMPLE_UNASSALPHA};
    const int samples = layout.bitCount / 8;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(layout.width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(layout.height)) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tiff, TIFFTAG_DOCUMENTNAME, "Document Name") &&
              TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, "OmbriWriter") &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t{1}) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tiff, TIFFTAG_SOFTWARE, "OmbriWriter 1.51") &&
              TIFFSetField(tiff, TIFFTAG_DATETIME, "2008:04:13 12:00:00");
    // Marked as unassociated alpha so that other programs keep the colour bytes as they are;
    // without the mark many take the fourth sample for something else or drop it.
    if (ok && samples == 4)
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, unassociatedAlpha);
    return ok;
}

// One strip per row, the picture's top row (the last in memory) first.
bool writeStrips(TIFF* tiff, const Dib& image, const DibLayout& layout)
{
    const size_t samples = layout.bitCount / 8u;
    const size_t rowBytes = static_cast<size_t>(layout.width) * samples;
    std::vector<uint8_t> row;
    if (!tryResize(row, rowBytes))
        return false;
    const uint8_t* pixels = image.data() + layout.pixelOffset;
    for (int32_t y = 0; y < layout.height; ++y) {
        const uint8_t* source = pixels + static_cast<size_t>(layout.height - 1 - y) * layout.stride;
        copySwappingRedBlue(source, row.data(), static_cast<size_t>(layout.width), samples);
        if (TIFFWriteEncodedStrip(tiff, static_cast<uint32_t>(y), row.data(),
                                  static_cast<tmsize_t>(rowBytes)) < 0)
            return false;
    }
    return true;
}

} // namespace

Result<Dib> ReadTiffFile(const std::string& path, bool* alpha, std::vector<uint8_t>* colourProfile,
                         int* orientation)
{
    auto file = MappedFile::open(path);
    if (!file)
        return fail(file.error());
    return readTiffBytes(file.value().view(), alpha, colourProfile, orientation);
}

Result<Dib> readTiffBytes(ByteView file, bool* alpha, std::vector<uint8_t>* colourProfile,
                          int* orientation)
{
    beginTiffOperation();
    if (!file.data)
        return fail("not a TIFF file");
    MemorySource source{file};
    TiffPtr tiff = openTiff("memory", "r",
                            {&source, readMemory, writeNothing, seekMemory, sizeMemory, mapMemory});
    if (!tiff)
        return fail(lastTiffError("not a TIFF file"));
    return decodeTiff(tiff.get(), file.size, alpha, colourProfile, orientation);
}

Status WriteTiffFile(const std::string& path, const Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be saved as TIFF");
    beginTiffOperation();
    AtomicFile file(path);
    if (!file.open())
        return fail(file.error());
    // libtiff names the file in some of its errors, which become the message the user sees;
    // it writes through the stream and uses the name for nothing else.
    TiffPtr tiff =
        openTiff(printableName(path), "w",
                 {file.stream(), readStream, writeStream, seekStream, sizeStream, mapNothing});
    // When the disk refused the bytes, libtiff only guesses at the reason ("Maximum TIFF file
    // size exceeded", "Write error at scanline"); the system's own is the one the user can act on.
    if (!tiff || !setTags(tiff.get(), *layout) || !writeStrips(tiff.get(), image, *layout) ||
        !TIFFFlush(tiff.get())) {
        return fail(file.writeFailed() ? file.error()
                                       : lastTiffError("cannot write the TIFF file"));
    }
    tiff.reset();
    if (!file.commit())
        return fail(file.error());
    return {};
}

} // namespace ombri
