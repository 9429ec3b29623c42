#include "formats/image_size.h"

#include "core/bytes.h"
#include "core/dib.h"
#include "core/file_io.h"
#include "formats/avif.h"
#include "formats/heif.h"
#include "formats/jxl.h"
#include "formats/png.h"
#include "formats/webp.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ombri {

namespace {

// Reads parts of a file by their offset, never past its end; every header is read through it.
class HeaderReader {
  public:
    HeaderReader(int file, uint64_t size) : m_file(file), m_size(size) {}

    uint64_t size() const { return m_size; }
    int descriptor() const { return m_file; }

    // Exactly count bytes at offset, or false.
    bool read(uint64_t offset, uint8_t* bytes, size_t count) const
    {
        return offset <= m_size && count <= m_size - offset &&
               readExactlyAt(m_file, bytes, count, offset);
    }

    // The first count bytes, or fewer when the file is shorter.
    std::vector<uint8_t> start(size_t count) const
    {
        std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, m_size)));
        if (!read(0, bytes.data(), bytes.size()))
            bytes.clear();
        return bytes;
    }

  private:
    int m_file;
    uint64_t m_size;
};

Failure badHeader()
{
    return fail("the file's header does not say its size");
}

Result<ImageSize> sized(uint32_t width, uint32_t height)
{
    if (width == 0 || height == 0)
        return badHeader();
    ImageSize size;
    size.width = width;
    size.height = height;
    return size;
}

Result<ImageSize> bmpSize(const HeaderReader& file, const ImageFormat&)
{
    const auto h = file.start(26);
    if (h.size() < 26 || h[0] != 'B' || h[1] != 'M')
        return badHeader();
    // A core header holds 16-bit sides; every later one 32-bit sides, the height negative for
    // rows stored top down.
    if (readLe32(&h[14]) == kCoreHeaderSize)
        return sized(readLe16(&h[18]), readLe16(&h[20]));
    const int32_t width = readLeI32(&h[18]);
    const int64_t height = readLeI32(&h[22]);
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return badHeader();
    return sized(static_cast<uint32_t>(width),
                 static_cast<uint32_t>(height < 0 ? -height : height));
}

Result<ImageSize> pngSize(const HeaderReader& file, const ImageFormat&)
{
    const auto start = file.start(24);
    const auto dimensions = readPngDimensions({start.data(), start.size()});
    if (!dimensions)
        return badHeader();
    return sized(dimensions->width, dimensions->height);
}

Result<ImageSize> webpSize(const HeaderReader& file, const ImageFormat&)
{
    const auto start = file.start(30);
    const auto dimensions = readWebpDimensions({start.data(), start.size()});
    if (!dimensions)
        return badHeader();
    return sized(dimensions->width, dimensions->height);
}

// The boxes ahead of the image data, parsed by libavif itself, with the sides as the picture is
// shown after its irot turn.
Result<ImageSize> avifSize(const HeaderReader& file, const ImageFormat&)
{
    const auto dimensions = readAvifDimensions(file.descriptor(), file.size());
    if (!dimensions)
        return badHeader();
    return sized(dimensions->width, dimensions->height);
}

// The boxes of a HEIF file, parsed by libheif itself, with the sides as the picture is shown
// after its irot turn.
Result<ImageSize> heifSize(const HeaderReader& file, const ImageFormat&)
{
    const auto dimensions = readHeifDimensions(file.descriptor(), file.size());
    if (!dimensions)
        return badHeader();
    return sized(dimensions->width, dimensions->height);
}

// The header at the start of a JPEG XL codestream, read by libjxl itself, with the sides as the
// picture is shown after its orientation.
Result<ImageSize> jxlSize(const HeaderReader& file, const ImageFormat&)
{
    const auto dimensions = readJxlDimensions(file.descriptor(), file.size());
    if (!dimensions)
        return badHeader();
    return sized(dimensions->width, dimensions->height);
}

Result<ImageSize> sgiSize(const HeaderReader& file, const ImageFormat&)
{
    const auto h = file.start(12);
    if (h.size() < 12 || readBe16(&h[0]) != 474)
        return badHeader();
    return sized(readBe16(&h[6]), readBe16(&h[8]));
}

Result<ImageSize> pcxSize(const HeaderReader& file, const ImageFormat&)
{
    const auto h = file.start(12);
    if (h.size() < 12 || h[0] != 10)
        return badHeader();
    const uint16_t xMin = readLe16(&h[4]), yMin = readLe16(&h[6]);
    const uint16_t xMax = readLe16(&h[8]), yMax = readLe16(&h[10]);
    if (xMax < xMin || yMax < yMin)
        return badHeader();
    return sized(uint32_t{xMax} - xMin + 1, uint32_t{yMax} - yMin + 1);
}

Result<ImageSize> filmSize(const HeaderReader& file, const ImageFormat& format)
{
    // Both keep the sides of their first image element as big-endian words.
    const bool dpx = &format == &kDpxFormat;
    const size_t at = dpx ? 772 : 200;
    const auto h = file.start(at + 8);
    if (h.size() < at + 8 || readBe32(&h[0]) != (dpx ? 0x53445058u : 0x802A5FD7u))
        return badHeader();
    return sized(readBe32(&h[at]), readBe32(&h[at + 4]));
}

// The size of the first image, behind the colour table and any extensions, as the reader takes
// it: the logical screen's size is not used. Looked for in the first megabyte only, which any
// real file's headers fit in many times over.
Result<ImageSize> gifSize(const HeaderReader& file, const ImageFormat&)
{
    const auto bytes = file.start(size_t{1} << 20);
    const size_t end = bytes.size();
    if (end < 13 || std::memcmp(bytes.data(), "GIF8", 4) != 0)
        return badHeader();
    size_t offset = 13;
    if (bytes[10] & 0x80)
        offset += size_t{3} << ((bytes[10] & 7u) + 1);
    while (offset < end && bytes[offset] != 0x2C) {
        const bool extension = bytes[offset] == 0x21;
        offset += extension ? 2 : 1;
        // An extension's sub-blocks: each its length and then its bytes, up to an empty one.
        while (extension && offset < end && bytes[offset] != 0)
            offset += bytes[offset] + size_t{1};
        offset += extension ? 1 : 0;
    }
    if (offset >= end || end - offset < 10)
        return badHeader();
    return sized(readLe16(&bytes[offset + 5]), readLe16(&bytes[offset + 7]));
}

constexpr int kMaxMarkers = 1 << 16;

// The frame header (SOF) among the markers before the first scan.
Result<ImageSize> jpegSize(const HeaderReader& file, const ImageFormat&)
{
    uint8_t start[2];
    if (!file.read(0, start, 2) || start[0] != 0xFF || start[1] != 0xD8)
        return badHeader();
    uint64_t offset = 2;
    // Markers are at least two bytes long; a file of nothing but fill bytes is given up on.
    for (int step = 0; step < kMaxMarkers; ++step) {
        uint8_t marker[4];
        if (!file.read(offset, marker, sizeof marker) || marker[0] != 0xFF)
            return badHeader();
        const uint8_t code = marker[1];
        if (code == 0xFF) { // fill byte
            ++offset;
            continue;
        }
        if (code == 0xD9 || code == 0xDA)
            return badHeader();
        const bool standalone = code == 0x01 || (code >= 0xD0 && code <= 0xD8);
        if (standalone) {
            offset += 2;
            continue;
        }
        const uint16_t length = readBe16(marker + 2);
        const bool frame =
            code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) {
            uint8_t f[5];
            if (length < 8 || !file.read(offset + 5, f, sizeof f))
                return badHeader();
            auto size = sized(readBe16(f + 2), readBe16(f));
            if (size)
                size.value().progressive = (code & 3) == 2;
            return size;
        }
        if (length < 2)
            return badHeader();
        offset += 2u + length;
    }
    return badHeader();
}

// The sides of the first directory, in classic or big TIFF, either byte order.
Result<ImageSize> tiffSize(const HeaderReader& file, const ImageFormat&)
{
    uint8_t h[16];
    if (!file.read(0, h, 8))
        return badHeader();
    const bool little = h[0] == 'I' && h[1] == 'I';
    if (!little && !(h[0] == 'M' && h[1] == 'M'))
        return badHeader();
    const auto u16 = [little](const uint8_t* p) { return little ? readLe16(p) : readBe16(p); };
    const auto u32 = [little](const uint8_t* p) { return little ? readLe32(p) : readBe32(p); };
    const auto u64 = [&](const uint8_t* p) {
        const uint64_t low = u32(p + (little ? 0 : 4)), high = u32(p + (little ? 4 : 0));
        return high << 32 | low;
    };
    const uint16_t version = u16(h + 2);
    const bool big = version == 43;
    if (version != 42 && !(big && file.read(8, h + 8, 8)))
        return badHeader();
    uint64_t directory = big ? u64(h + 8) : u32(h + 4);
    const size_t entryBytes = big ? 20 : 12;
    uint8_t count[8];
    if (!file.read(directory, count, big ? 8 : 2))
        return badHeader();
    const uint64_t entries = big ? u64(count) : u16(count);
    directory += big ? 8 : 2;
    uint32_t sides[2] = {0, 0};
    for (uint64_t i = 0; i < entries && i < 4096; ++i) {
        uint8_t e[20];
        if (!file.read(directory + i * entryBytes, e, entryBytes))
            return badHeader();
        const uint16_t tag = u16(e);
        if (tag != 256 && tag != 257)
            continue;
        // A SHORT (3) or LONG (4) value, kept in the entry itself.
        const uint8_t* value = e + (big ? 12 : 8);
        sides[tag - 256] = u16(e + 2) == 3 ? u16(value) : u32(value);
    }
    return sized(sides[0], sides[1]);
}

struct Probe {
    const ImageFormat* format;
    Result<ImageSize> (*size)(const HeaderReader& file, const ImageFormat& format);
};

constexpr Probe kProbes[] = {
    {&kBmpFormat, bmpSize},   {&kPngFormat, pngSize},     {&kSgiFormat, sgiSize},
    {&kJpegFormat, jpegSize}, {&kCineonFormat, filmSize}, {&kDpxFormat, filmSize},
    {&kGifFormat, gifSize},   {&kPcxFormat, pcxSize},     {&kTiffFormat, tiffSize},
    {&kWebpFormat, webpSize}, {&kAvifFormat, avifSize},   {&kHeifFormat, heifSize},
    {&kJxlFormat, jxlSize},
};

} // namespace

Result<ImageSize> probeImageSize(const std::string& path)
{
    const ImageFormat* format = formatOfPath(path);
    if (!format)
        return fail("the file name's extension is not one of an image kind this program reads");
    auto opened = openRegularFile(path);
    if (!opened)
        return fail(opened.error());
    struct stat status {};
    if (::fstat(opened.value().get(), &status) != 0)
        return fail(std::strerror(errno));
    const HeaderReader file(opened.value().get(), static_cast<uint64_t>(status.st_size));
    const auto entry =
        std::find_if(std::begin(kProbes), std::end(kProbes),
                     [format](const Probe& probe) { return probe.format == format; });
    // A format whose headers are not read here is decoded before its size is known.
    if (entry == std::end(kProbes))
        return fail(std::string("the size of a ") + format->name +
                    " file is not read from its headers");
    auto size = entry->size(file, *format);
    if (size)
        size.value().format = format;
    return size;
}

} // namespace ombri
