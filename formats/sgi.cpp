#include "formats/sgi.h"

#include "core/file_io.h"
#include "core/limits.h"
#include "formats/diagnostics.h"
#include "notes/carrier.h"

#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ombri {

namespace {

constexpr size_t kHeaderBytes = 512;
constexpr uint16_t kMagic = 474;
// The header's storage byte followed by its bytes-per-channel byte, read as one number.
constexpr uint16_t kTypeVerbatim = 1;
constexpr uint16_t kTypeRunLength = 257;
constexpr uint16_t kTypeVerbatimWide = 2;
constexpr uint16_t kTypeRunLengthWide = 258;
constexpr size_t kMaxPacket = 126;
constexpr uint32_t kMaxSide = 0xFFFF; // width and height are 16-bit fields

// Where each file channel (red, green, blue, alpha) lies inside a DIB pixel (blue first).
constexpr size_t kPixelByteOfChannel[4] = {2, 1, 0, 3};

struct SgiHeader {
    uint16_t type = 0;
    bool runLength = false;
    // Files of two bytes per channel hold big-endian 16-bit samples, of which the high byte is
    // kept, as for 16-bit PNG: an 8-bit picture widened by another program (value x 257 or
    // x 256) comes back byte for byte, notes included.
    size_t bytesPerChannel = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 0;
};

Result<SgiHeader> readHeader(ByteView file)
{
    if (file.size < kHeaderBytes)
        return fail("the file ends inside its SGI header");
    const uint16_t magic = readBe16(file.data);
    if (magic != kMagic) {
        formatDiagnostic("RGB_HEADER_READ: Fatal error.\n");
        formatDiagnostic("  Invalid magic number: %hd.\n", static_cast<short>(magic));
        formatDiagnostic("  Perhaps you need to reverse the byte swapping option.\n");
        return fail("not an SGI image file");
    }
    SgiHeader header;
    header.type = readBe16(file.data + 2);
    if (header.type != kTypeVerbatim && header.type != kTypeRunLength &&
        header.type != kTypeVerbatimWide && header.type != kTypeRunLengthWide) {
        formatDiagnostic("RGB_HEADER_READ: Fatal error.\n");
        formatDiagnostic("  This routine can only read RGB types 1 and 257.\n");
        formatDiagnostic("  This file has type %d.\n", header.type);
        return fail("unsupported SGI storage type " + std::to_string(header.type));
    }
    header.runLength = header.type == kTypeRunLength || header.type == kTypeRunLengthWide;
    header.bytesPerChannel =
        header.type == kTypeVerbatimWide || header.type == kTypeRunLengthWide ? 2 : 1;
    formatDiagnostic("RGB_HEADER_READ:\n");
    formatDiagnostic(!header.runLength ? "  Data is NOT run-length encoded.\n"
                                       : "  Data is RLE (run-length encoded).\n");
    header.width = readBe16(file.data + 6);
    header.height = readBe16(file.data + 8);
    header.channels = readBe16(file.data + 10);
    if (header.channels != 3 && header.channels != 4)
        return fail("SGI files with " + std::to_string(header.channels) +
                    " channels are not supported");
    return header;
}

// Interleaves one row of each plane into a DIB row: blue, green, red (and alpha) per pixel.
void mergePlanes(const uint8_t* const* planes, uint32_t channels, size_t width, uint8_t* out)
{
    const uint8_t* red = planes[0];
    const uint8_t* green = planes[1];
    const uint8_t* blue = planes[2];
    if (channels == 3) {
        for (size_t x = 0; x < width; ++x, out += 3) {
            out[0] = blue[x];
            out[1] = green[x];
            out[2] = red[x];
        }
        return;
    }
    const uint8_t* alpha = planes[3];
    for (size_t x = 0; x < width; ++x, out += 4) {
        out[0] = blue[x];
        out[1] = green[x];
        out[2] = red[x];
        out[3] = alpha[x];
    }
}

// Takes the high byte of each of count samples of bytesPerChannel bytes.
void takeHighBytes(const uint8_t* samples, size_t count, size_t bytesPerChannel, uint8_t* out)
{
    if (bytesPerChannel == 1) {
        std::memcpy(out, samples, count);
        return;
    }
    for (size_t x = 0; x < count; ++x, samples += bytesPerChannel)
        out[x] = *samples;
}

Result<bool> decodeVerbatim(ByteView file, const SgiHeader& header, uint8_t* pixels, size_t stride)
{
    const size_t width = header.width;
    const size_t height = header.height;
    const size_t rowBytes = width * header.bytesPerChannel;
    // Checked before the image was allocated; repeated here because this function relies on it.
    if ((file.size - kHeaderBytes) / header.channels / height < rowBytes)
        return fail("the file is shorter than its header says");
    const uint8_t* data = file.data + kHeaderBytes;
    const bool wide = header.bytesPerChannel != 1;
    // Rows of one byte per channel are merged from the file itself; wider ones are narrowed first.
    std::vector<uint8_t> narrowed(wide ? width * header.channels : 0);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* planes[4] = {};
        for (uint32_t c = 0; c < header.channels; ++c) {
            const uint8_t* row = data + (c * height + y) * rowBytes;
            if (wide) {
                takeHighBytes(row, width, header.bytesPerChannel, narrowed.data() + c * width);
                row = narrowed.data() + c * width;
            }
            planes[c] = row;
        }
        // File row 0 is the bottom of the picture, as is the first DIB row in memory.
        mergePlanes(planes, header.channels, width, pixels + y * stride);
    }
    return true;
}

// One sample of a run-length row: its control words and values are as wide as a channel.
uint32_t readUnit(const uint8_t* in, size_t bytesPerChannel)
{
    return bytesPerChannel == 1 ? in[0] : readBe16(in);
}

// Decodes the packets of one row found at [offset, offset + length) of the file into out, which
// holds width bytes; the part a short row leaves is zero.
Result<bool> decodeRunLengthRow(ByteView file, uint32_t offset, uint32_t length, uint8_t* out,
                                size_t width, size_t bytesPerChannel)
{
    if (offset > file.size || length > file.size - offset)
        return fail("a run-length row lies outside the file");
    const uint8_t* in = file.data + offset;
    // A trailing odd byte of a 16-bit row is no whole sample and is passed over.
    const size_t units = length / bytesPerChannel;
    size_t at = 0;
    size_t x = 0;
    while (at < units) {
        const uint32_t control = readUnit(in + at++ * bytesPerChannel, bytesPerChannel);
        const size_t count = control & 0x7F;
        if (count == 0)
            break;
        if (count > width - x)
            return fail("a run-length packet passes the end of its row");
        if (control & 0x80) {
            if (count > units - at)
                return fail("a run-length packet passes the end of its data");
            takeHighBytes(in + at * bytesPerChannel, count, bytesPerChannel, out + x);
            at += count;
        } else {
            if (at == units)
                return fail("a run-length packet passes the end of its data");
            std::memset(out + x, in[at++ * bytesPerChannel], count);
        }
        x += count;
    }
    std::memset(out + x, 0, width - x);
    return true;
}

Result<bool> decodeRunLength(ByteView file, const SgiHeader& header, uint8_t* pixels, size_t stride)
{
    const size_t width = header.width;
    const size_t height = header.height;
    const size_t entries = height * header.channels;
    if ((file.size - kHeaderBytes) / 8 < entries)
        return fail("the file ends inside its run-length tables");
    const uint8_t* starts = file.data + kHeaderBytes;
    const uint8_t* lengths = starts + 4 * entries;
    std::vector<uint8_t> rows(width * header.channels);
    const uint8_t* planes[4] = {};
    for (uint32_t c = 0; c < header.channels; ++c)
        planes[c] = rows.data() + c * width;
    for (size_t y = 0; y < height; ++y) {
        for (uint32_t c = 0; c < header.channels; ++c) {
            const size_t entry = c * height + y;
            auto row = decodeRunLengthRow(file, readBe32(starts + 4 * entry),
                                          readBe32(lengths + 4 * entry), rows.data() + c * width,
                                          width, header.bytesPerChannel);
            if (!row)
                return row;
        }
        mergePlanes(planes, header.channels, width, pixels + y * stride);
    }
    return true;
}

} // namespace

Result<Dib> readSgiBytes(ByteView file)
{
    auto parsed = readHeader(file);
    if (!parsed)
        return fail(parsed.error());
    const SgiHeader& header = parsed.value();
    const uint16_t bitCount = static_cast<uint16_t>(header.channels * 8);
    if (!pixelCountAllowed(header.width, header.height))
        return fail("the image has no pixels or is too large");
    auto stride = checkedRowStride(header.width, bitCount);
    if (!stride || !checkedImageBytes(*stride, header.height))
        return fail("the image is too large");
    // A verbatim file holds every plane byte: a short file cannot have the size it claims.
    const uint64_t planeBytes =
        uint64_t{header.width} * header.height * header.channels * header.bytesPerChannel;
    if (!header.runLength && planeBytes > file.size - kHeaderBytes)
        return fail("the file is shorter than its header says");

    Dib dib = Dib::create(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height),
                          bitCount);
    if (dib.isNull())
        return fail("out of memory");
    uint8_t* pixels = DibPixelStart(dib);
    auto decoded = !header.runLength ? decodeVerbatim(file, header, pixels, *stride)
                                     : decodeRunLength(file, header, pixels, *stride);
    if (!decoded)
        return fail(decoded.error());
    return dib;
}

Result<Dib> ReadSgiFile(const std::string& path)
{
    auto file = MappedFile::open(path);
    if (!file)
        return fail(file.error());
    return readSgiBytes(file.value().view());
}

size_t sgiEncodedRowBound(size_t length)
{
    // Literal bytes cost one control byte per packet, runs cost two bytes for three or more, a
    // lone last byte costs two, and the end byte one: at most length + length / 126 + 4, and a
    // little more is allowed for.
    return length + length / kMaxPacket + 8;
}

namespace {

// The first position in [from, limit) where three equal bytes of the row start, or limit when
// there is none; bytes beyond the row never count. limit is at most length.
size_t findRunStart(const uint8_t* row, size_t from, size_t limit, size_t length)
{
    size_t i = from;
#if defined(__SSE2__)
    // Sixteen positions at a time while the 18 bytes they compare lie inside the row.
    while (i < limit && length - i >= 18) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 1));
        const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 2));
        const __m128i equal =
            _mm_and_si128(_mm_cmpeq_epi8(here, next), _mm_cmpeq_epi8(next, after));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(equal));
        if (mask != 0) {
            const size_t found = i + static_cast<size_t>(__builtin_ctz(mask));
            return found < limit ? found : limit;
        }
        i += 16;
    }
#endif
    for (; i < limit; ++i)
        if (length - i >= 3 && row[i] == row[i + 1] && row[i] == row[i + 2])
            return i;
    return limit;
}

} // namespace

size_t encodeSgiRow(const uint8_t* row, size_t length, uint8_t* out, size_t capacity)
{
    size_t written = 0;
    size_t at = 0;
    while (at < length) {
        size_t count;
        const size_t limit = length - at > kMaxPacket ? at + kMaxPacket : length;
        // Three equal bytes start a run; a lone last byte is one too.
        const bool run = length - at == 1 ||
                         (length - at >= 3 && row[at] == row[at + 1] && row[at] == row[at + 2]);
        if (run) {
            const uint8_t value = row[at];
            count = 1;
            while (at + count < limit && row[at + count] == value)
                ++count;
            if (capacity - written < 2)
                return 0;
            out[written++] = static_cast<uint8_t>(count);
            out[written++] = value;
        } else {
            count = findRunStart(row, at + 1, limit, length) - at;
            if (capacity - written < count + 1)
                return 0;
            out[written++] = static_cast<uint8_t>(0x80 | count);
            std::memcpy(out + written, row + at, count);
            written += count;
        }
        at += count;
    }
    if (capacity - written < 1)
        return 0;
    out[written++] = 0;
    return written;
}

namespace {

void writeHeader(uint8_t* out, uint32_t width, uint32_t height, uint32_t channels)
{
    std::memset(out, 0, kHeaderBytes);
    writeBe16(out, kMagic);
    writeBe16(out + 2, kTypeRunLength);
    writeBe16(out + 4, 3);
    writeBe16(out + 6, static_cast<uint16_t>(width));
    writeBe16(out + 8, static_cast<uint16_t>(height));
    writeBe16(out + 10, static_cast<uint16_t>(channels));
    writeBe32(out + 12, 0);
    writeBe32(out + 16, 255);
}

// Takes one channel of a DIB row into a plane row.
void splitChannel(const uint8_t* pixels, size_t width, size_t step, uint8_t* plane)
{
    for (size_t x = 0; x < width; ++x, pixels += step)
        plane[x] = *pixels;
}

// The first 8 bytes of the top row of the red, green and blue planes with the planar signature
// laid over them.
struct SignatureRows {
    uint8_t planes[3][8];
};

SignatureRows makeSignatureRows(const uint8_t* topRow, size_t step)
{
    SignatureRows rows;
    for (int c = 0; c < 3; ++c)
        splitChannel(topRow + kPixelByteOfChannel[c], 8, step, rows.planes[c]);
    WritePlanarOmbriSignature(rows.planes[2], rows.planes[1], rows.planes[0]);
    return rows;
}

// Takes every channel of a DIB row into its plane row in one pass.
void splitPlanes(const uint8_t* pixels, size_t width, uint32_t channels, uint8_t* const* planes)
{
    uint8_t* red = planes[0];
    uint8_t* green = planes[1];
    uint8_t* blue = planes[2];
    if (channels == 3) {
        for (size_t x = 0; x < width; ++x, pixels += 3) {
            blue[x] = pixels[0];
            green[x] = pixels[1];
            red[x] = pixels[2];
        }
        return;
    }
    uint8_t* alpha = planes[3];
    for (size_t x = 0; x < width; ++x, pixels += 4) {
        blue[x] = pixels[0];
        green[x] = pixels[1];
        red[x] = pixels[2];
        alpha[x] = pixels[3];
    }
}

// The encoded file as parts written one after the other: the first holds the header, the tables
// and the rows of the first channel, each further part the rows of one more channel.
struct EncodedFile {
    std::unique_ptr<uint8_t[]> parts[4];
    size_t sizes[4] = {};
    uint32_t count = 0;
};

// The whole file in memory: header, tables and the rows of each channel in turn, every plane
// row bottom first as the file counts them. Each picture row is split into its planes once and
// every plane row is encoded straight into its channel's part. The parts are allocated for the
// worst case and left uninitialised, so that only the bytes actually produced are ever touched.
bool encodeFile(const Dib& image, const DibLayout& layout, bool signature, EncodedFile& out)
{
    const size_t width = static_cast<size_t>(layout.width);
    const size_t height = static_cast<size_t>(layout.height);
    const uint32_t channels = layout.bitCount / 8;
    const size_t entries = height * channels;
    const size_t rowBound = sgiEncodedRowBound(width);
    const size_t dataStart = kHeaderBytes + 8 * entries;
    out.count = channels;
    size_t capacity[4];
    for (uint32_t c = 0; c < channels; ++c) {
        capacity[c] = (c == 0 ? dataStart : 0) + rowBound * height;
        out.parts[c].reset(new uint8_t[capacity[c]]);
        out.sizes[c] = c == 0 ? dataStart : 0;
    }
    uint8_t* first = out.parts[0].get();
    writeHeader(first, layout.width, layout.height, channels);
    uint8_t* starts = first + kHeaderBytes;
    uint8_t* lengths = starts + 4 * entries;

    const uint8_t* pixels = image.data() + layout.pixelOffset;
    const SignatureRows signatureRows =
        signature ? makeSignatureRows(pixels + (height - 1) * layout.stride, channels)
                  : SignatureRows{};
    std::vector<uint8_t> planeRows(width * channels);
    uint8_t* planes[4] = {};
    for (uint32_t c = 0; c < channels; ++c)
        planes[c] = planeRows.data() + c * width;
    // Offsets are counted from the start of each part first and made file offsets at the end.
    for (size_t y = 0; y < height; ++y) {
        splitPlanes(pixels + y * layout.stride, width, channels, planes);
        // File row height - 1 is the top of the picture, where the signature lies.
        if (signature && y == height - 1)
            for (uint32_t c = 0; c < 3; ++c)
                std::memcpy(planes[c], signatureRows.planes[c], 8);
        for (uint32_t c = 0; c < channels; ++c) {
            const size_t length = encodeSgiRow(planes[c], width, out.parts[c].get() + out.sizes[c],
                                               capacity[c] - out.sizes[c]);
            if (length == 0)
                return false;
            const size_t entry = c * height + y;
            writeBe32(starts + 4 * entry, static_cast<uint32_t>(out.sizes[c]));
            writeBe32(lengths + 4 * entry, static_cast<uint32_t>(length));
            out.sizes[c] += length;
        }
    }
    size_t partStart = out.sizes[0];
    for (uint32_t c = 1; c < channels; ++c) {
        for (size_t y = 0; y < height; ++y) {
            uint8_t* start = starts + 4 * (c * height + y);
            writeBe32(start, static_cast<uint32_t>(readBe32(start) + partStart));
        }
        partStart += out.sizes[c];
    }
    return true;
}

} // namespace

Status WriteSgiFile(const std::string& path, const Dib& image, SgiSignature signature)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be written as SGI");
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    const size_t entries = height * (layout->bitCount / 8);
    // Width and height are 16-bit fields, offsets and lengths 32-bit ones: the whole file must
    // stay addressable by them.
    if (width > kMaxSide || height > kMaxSide ||
        sgiEncodedRowBound(width) > (0xFFFFFFFFu - kHeaderBytes - 8 * entries) / entries) {
        return fail("the image is too large for an SGI file");
    }
    EncodedFile out;
    if (!encodeFile(image, *layout, signature == SgiSignature::Write && width >= 8, out))
        return fail("the run-length data does not fit its buffer");
    AtomicFile file(path);
    bool ok = file.open();
    for (uint32_t c = 0; ok && c < out.count; ++c)
        ok = file.write(out.parts[c].get(), out.sizes[c]);
    ok = ok && file.commit();
    if (!ok)
        return fail(file.error());
    return {};
}

} // namespace ombri
