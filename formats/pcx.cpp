#include "formats/pcx.h"

#include "core/file_io.h"
#include "core/limits.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ombri {

namespace {

constexpr size_t kHeaderBytes = 128;
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kPlanes = 3;
constexpr uint8_t kRunFlag = 0xC0;
constexpr uint8_t kRunCountMask = 0x3F;
// The longest run, 63 values, takes two bytes of the file.
constexpr uint64_t kMaxValuesPerTwoBytes = 63;

struct PcxHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t horizontalResolution = 0;
    uint16_t verticalResolution = 0;
    size_t lineBytes = 0; // one plane line, padding included
};

Result<PcxHeader> readHeader(ByteView file)
{
    if (file.size < kHeaderBytes || file.data[0] != kManufacturer)
        return fail("not a PCX file");
    const uint8_t* h = file.data;
    if (h[3] != 8 || h[65] != kPlanes)
        return fail("only 24-bit PCX files (three planes of 8 bits) are supported");
    const uint16_t xMin = readLe16(h + 4);
    const uint16_t yMin = readLe16(h + 6);
    const uint16_t xMax = readLe16(h + 8);
    const uint16_t yMax = readLe16(h + 10);
    if (xMax < xMin || yMax < yMin)
        return fail("the image has an impossible size");
    PcxHeader header;
    header.width = uint32_t{xMax} - xMin + 1;
    header.height = uint32_t{yMax} - yMin + 1;
    header.horizontalResolution = readLe16(h + 12);
    header.verticalResolution = readLe16(h + 14);
    // Writers pad each plane line to an even length; a field shorter than the picture's width
    // is wrong, and the width is taken instead.
    header.lineBytes = std::max<size_t>(readLe16(h + 66), header.width);
    return header;
}

// Checked before allocating: a corrupt header can claim 65536 x 65536 pixels, and a file shorter
// than its picture could ever fill is refused rather than given a mostly empty image.
Result<Dib> allocateImage(const PcxHeader& header, size_t encodedBytes)
{
    auto stride = checkedRowStride(header.width, 24);
    auto pixelBytes = stride ? checkedImageBytes(*stride, header.height) : std::nullopt;
    if (!pixelBytes || !pixelCountAllowed(header.width, header.height))
        return fail("the image is too large");
    const uint64_t values = uint64_t{kPlanes} * header.lineBytes * header.height;
    if (values > encodedBytes / 2 * kMaxValuesPerTwoBytes + encodedBytes % 2)
        return fail("the file is too short for the image it describes");
    Dib dib =
        Dib::create(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), 24);
    if (dib.isNull())
        return fail("out of memory");
    writeLe32(dib.data() + 20, static_cast<uint32_t>(*pixelBytes));
    writeLe32(dib.data() + 24, header.horizontalResolution);
    writeLe32(dib.data() + 28, header.verticalResolution);
    return dib;
}

// Decodes one scan line (the red, green and blue plane lines one after the other) and answers
// how many of its bytes the data filled. A run may carry from one plane into the next; a run
// that would carry past the end of the scan line is cut there.
size_t decodeScanLine(const uint8_t*& in, const uint8_t* end, uint8_t* line, size_t size)
{
    size_t filled = 0;
    while (filled < size && in != end) {
        const uint8_t byte = *in++;
        if (byte < kRunFlag) {
            line[filled++] = byte;
            continue;
        }
        if (in == end)
            break;
        const size_t count = std::min<size_t>(byte & kRunCountMask, size - filled);
        std::memset(line + filled, *in++, count);
        filled += count;
    }
    return filled;
}

// Plane lines to blue-first pixels; the padding at the end of each plane line is skipped.
void interleave(const uint8_t* line, size_t lineBytes, size_t width, uint8_t* out)
{
    const uint8_t* red = line;
    const uint8_t* green = line + lineBytes;
    const uint8_t* blue = line + 2 * lineBytes;
    for (size_t x = 0; x < width; ++x, out += 3) {
        out[0] = blue[x];
        out[1] = green[x];
        out[2] = red[x];
    }
}

} // namespace

Result<Dib> readPcxBytes(ByteView file)
{
    if (!file.data)
        return fail("not a PCX file");
    auto parsed = readHeader(file);
    if (!parsed)
        return fail(parsed.error());
    const PcxHeader& header = parsed.value();
    auto allocated = allocateImage(header, file.size - kHeaderBytes);
    if (!allocated)
        return allocated;
    Dib dib = allocated.take();
    const auto layout = dibGetLayout(dib);
    if (!layout)
        return fail("the image is too large");

    // The data runs to the end of the file. A 256-colour palette block, which some writers
    // append even to 24-bit files, follows the last scan line and is never reached.
    const uint8_t* in = file.data + kHeaderBytes;
    const uint8_t* end = file.data + file.size;
    std::vector<uint8_t> line(kPlanes * header.lineBytes);
    uint8_t* topRow = dib.data() + layout->pixelOffset + (header.height - 1) * layout->stride;
    for (size_t y = 0; y < header.height && in != end; ++y) {
        const size_t filled = decodeScanLine(in, end, line.data(), line.size());
        if (y == 0 && filled == 0)
            return fail("the image data ends before its first pixel");
        // Data that stops early keeps the lines decoded so far; the rest stays black.
        std::fill(line.begin() + static_cast<ptrdiff_t>(filled), line.end(), uint8_t{0});
        interleave(line.data(), header.lineBytes, header.width, topRow - y * layout->stride);
    }
    return dib;
}

Result<Dib> ReadPcxFile(const std::string& path)
{
    auto file = MappedFile::open(path);
    if (!file)
        return fail(file.error());
    return readPcxBytes(file.value().view());
}

} // namespace ombri
