#include "formats/bmp.h"

#include "core/file_io.h"
#include "core/limits.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace ombri {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

// What the file's headers claim, before anything is trusted.
struct BmpHeader {
    uint32_t pixelOffset = 0; // the file header's offset of the pixel bits
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0; // negative: rows stored top-down
    uint16_t bitCount = 0;
    uint32_t compression = kBiRgb;
    uint32_t coloursUsed = 0;
    uint32_t colourCount = 0;
    size_t entryBytes = 4;
    size_t masksBytes = 0; // bit-field masks stored behind a 40-byte header
    uint32_t masks[3] = {0, 0, 0};
    uint32_t alphaMask = 0; // only where the header or the masks behind it have room for one
    bool declaresAlpha = false;
    // Masks other than the plain 5-5-5 and 8-8-8 ones: each pixel is taken apart field by field.
    bool unpackFields = false;
};

bool isExtendedInfoHeader(uint32_t size)
{
    return size == 52 || size == 56 || size == 108 || size == 124;
}

Status readCoreHeader(const uint8_t* h, BmpHeader& header)
{
    header.width = readLe16(h + 4);
    header.height = readLe16(h + 6);
    header.bitCount = readLe16(h + 10);
    header.entryBytes = 3;
    if (header.bitCount != 1 && header.bitCount != 4 && header.bitCount != 8 &&
        header.bitCount != 24)
        return fail("unsupported bit count " + std::to_string(header.bitCount));
    header.colourCount = header.bitCount <= 8 ? 1u << header.bitCount : 0;
    return {};
}

Status readInfoHeader(ByteView file, const uint8_t* h, BmpHeader& header)
{
    header.width = readLeI32(h + 4);
    header.height = readLeI32(h + 8);
    header.bitCount = readLe16(h + 14);
    header.compression = readLe32(h + 16);
    header.coloursUsed = readLe32(h + 32);
    switch (header.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return fail("unsupported bit count " + std::to_string(header.bitCount));
    }
    if (header.compression == kBiBitfields || header.compression == kBiAlphaBitfields) {
        if (header.bitCount != 16 && header.bitCount != 32)
            return fail(std::string("bit fields on a ") + std::to_string(header.bitCount) +
                        "-bit image");
        const uint8_t* masks = h + 40;
        if (header.headerSize == kInfoHeaderSize) {
            // The masks follow a 40-byte header as part of the colour table area.
            header.masksBytes = header.compression == kBiAlphaBitfields ? 16 : 12;
            const size_t masksAt = kFileHeaderSize + kInfoHeaderSize;
            if (masksAt > file.size || header.masksBytes > file.size - masksAt)
                return fail("the file ends inside its bit-field masks");
        }
        for (int i = 0; i < 3; ++i)
            header.masks[i] = readLe32(masks + 4 * i);
        const bool alphaMaskStored =
            header.headerSize >= 56 ||
            (header.headerSize == kInfoHeaderSize && header.compression == kBiAlphaBitfields);
        if (alphaMaskStored)
            header.alphaMask = readLe32(masks + 12);
    } else if (header.compression == kBiRle8 || header.compression == kBiRle4) {
        if (header.bitCount != (header.compression == kBiRle8 ? 8 : 4))
            return fail("the run-length coding does not fit the bit count");
    } else if (header.compression != kBiRgb) {
        return fail("compressed BMP files are not supported");
    }
    const uint32_t fullTable = header.bitCount <= 8 ? 1u << header.bitCount : 0;
    if (header.bitCount <= 8 && header.coloursUsed > fullTable)
        return fail("the colour count does not fit the bit count");
    if (header.coloursUsed > 256)
        return fail("the colour count is out of range");
    header.colourCount = header.coloursUsed != 0 ? header.coloursUsed : fullTable;
    return {};
}

bool isContiguousMask(uint32_t mask)
{
    if (mask == 0)
        return true;
    const uint32_t low = mask >> __builtin_ctz(mask);
    return (low & (low + 1)) == 0;
}

// Bit fields that say what an uncompressed image means anyway are dropped, so those pixels reach
// the rest of the system byte for byte; any other masks are unpacked while reading.
Status normaliseBitfields(BmpHeader& header)
{
    if (header.compression != kBiBitfields && header.compression != kBiAlphaBitfields)
        return {};
    const uint32_t* m = header.masks;
    for (uint32_t mask : {m[0], m[1], m[2], header.alphaMask}) {
        if (!isContiguousMask(mask))
            return fail("unsupported BMP bit fields");
    }
    const bool standard32 =
        header.bitCount == 32 && m[0] == 0x00FF0000 && m[1] == 0x0000FF00 && m[2] == 0x000000FF;
    const bool standard16 = header.bitCount == 16 && m[0] == 0x7C00 && m[1] == 0x03E0 &&
                            m[2] == 0x001F && header.alphaMask == 0;
    if (!standard32 && !standard16) {
        header.unpackFields = true;
        header.declaresAlpha = header.alphaMask != 0;
        return {};
    }
    // Only an alpha mask gives the fourth byte of a 32-bit pixel a meaning; without one it is
    // spare, and carriers and many writers leave anything there. The picture handed over no
    // longer says, so it is noted before the bit fields go.
    header.declaresAlpha = standard32 && header.alphaMask == 0xFF000000;
    header.compression = kBiRgb;
    return {};
}

Result<BmpHeader> readHeaders(ByteView file)
{
    if (file.size < kFileHeaderSize + 4 || file.data[0] != 'B' || file.data[1] != 'M')
        return fail("not a BMP file");
    BmpHeader header;
    header.pixelOffset = readLe32(file.data + 10);
    const uint8_t* h = file.data + kFileHeaderSize;
    header.headerSize = readLe32(h);
    const size_t available = file.size - kFileHeaderSize;
    if (header.headerSize != kCoreHeaderSize && header.headerSize != kInfoHeaderSize &&
        !isExtendedInfoHeader(header.headerSize))
        return fail("unsupported BMP header size " + std::to_string(header.headerSize));
    if (header.headerSize > available)
        return fail("the file ends inside its header");
    Status read = header.headerSize == kCoreHeaderSize ? readCoreHeader(h, header)
                                                       : readInfoHeader(file, h, header);
    if (read)
        read = normaliseBitfields(header);
    if (!read)
        return fail(read.error());
    if (header.width <= 0 || header.height == 0 || header.height == INT32_MIN)
        return fail("the image has no pixels or an impossible size");
    return header;
}

// Pictures are handed on bottom row first; a file with a negative height stores its rows the
// other way round, so its rows are laid down in reverse while reading.
size_t outputRow(uint64_t fileRow, uint64_t rows, bool topDown)
{
    return static_cast<size_t>(topDown ? rows - 1 - fileRow : fileRow);
}

void copyRows(const uint8_t* from, size_t stride, uint64_t rows, bool topDown, uint8_t* out)
{
    for (uint64_t y = 0; y < rows; ++y)
        std::memcpy(out + outputRow(y, rows, topDown) * stride, from + y * stride, stride);
}

// A field of fewer than 8 bits has its bits repeated below it, so that its largest value
// becomes 255 and its smallest 0; a wider one is rounded to the nearest of 256 steps.
uint8_t scaleField(uint32_t value, unsigned bits)
{
    if (bits == 0)
        return 0;
    if (bits > 8) {
        const uint64_t top = (uint64_t{1} << bits) - 1;
        return static_cast<uint8_t>((value * uint64_t{255} + top / 2) / top);
    }
    unsigned scaled = 0;
    for (int filled = 0; filled < 8; filled += static_cast<int>(bits)) {
        const int shift = 8 - filled - static_cast<int>(bits);
        scaled |= shift >= 0 ? value << shift : value >> -shift;
    }
    return static_cast<uint8_t>(scaled);
}

struct Field {
    uint32_t mask = 0;
    unsigned shift = 0;
    unsigned bits = 0;

    explicit Field(uint32_t m) : mask(m)
    {
        if (mask != 0) {
            shift = static_cast<unsigned>(__builtin_ctz(mask));
            bits = static_cast<unsigned>(__builtin_popcount(mask));
        }
    }
    uint8_t of(uint32_t pixel) const { return scaleField((pixel & mask) >> shift, bits); }
};

// Takes 16- or 32-bit pixels apart by their masks into 24-bit pixels, or 32-bit ones with the
// alpha field in the fourth byte when the file has an alpha mask.
void unpackFieldRows(const uint8_t* from, size_t inStride, const BmpHeader& header, uint64_t rows,
                     uint8_t* out, size_t outStride)
{
    const Field red(header.masks[0]), green(header.masks[1]), blue(header.masks[2]),
        alpha(header.alphaMask);
    const size_t inBytes = header.bitCount / 8u;
    const size_t outBytes = header.alphaMask != 0 ? 4 : 3;
    const auto width = static_cast<size_t>(header.width);
    for (uint64_t y = 0; y < rows; ++y) {
        const uint8_t* src = from + y * inStride;
        uint8_t* dst = out + outputRow(y, rows, header.height < 0) * outStride;
        for (size_t x = 0; x < width; ++x, src += inBytes, dst += outBytes) {
            const uint32_t pixel = inBytes == 2 ? readLe16(src) : readLe32(src);
            dst[0] = blue.of(pixel);
            dst[1] = green.of(pixel);
            dst[2] = red.of(pixel);
            if (outBytes == 4)
                dst[3] = alpha.of(pixel);
        }
    }
}

// The rows a run-length coded stream is decoded into: 8 or 4 bits a pixel, starting all zero.
// Pixels that would fall past the end of a row or above the last row are dropped, never
// written elsewhere.
struct RleTarget {
    uint8_t* pixels = nullptr;
    size_t stride = 0;
    uint64_t width = 0;
    uint64_t rows = 0;
    bool topDown = false;
    bool fourBits = false;

    void put(uint64_t x, uint64_t y, uint8_t index) const
    {
        if (x >= width || y >= rows)
            return;
        uint8_t* row = pixels + outputRow(y, rows, topDown) * stride;
        if (!fourBits) {
            row[x] = index;
            return;
        }
        const unsigned shift = (x & 1) != 0 ? 0 : 4;
        row[x / 2] = static_cast<uint8_t>((row[x / 2] & ~(0xF << shift)) | (index << shift));
    }
};

// Each two-byte code is a run (a count and the colour, or two alternating colours at 4 bits),
// or after a zero count: 0 the end of a row, 1 the end of the picture, 2 a move right and up by
// the next two bytes, and from 3 on that many literal pixels padded to an even byte count. A
// stream cut short leaves the pixels it never reached at colour 0.
void decodeRle(ByteView stream, const RleTarget& target)
{
    const uint8_t* p = stream.data;
    const uint8_t* const end = stream.data + stream.size;
    uint64_t x = 0;
    uint64_t y = 0;
    while (end - p >= 2 && y < target.rows) {
        const unsigned count = p[0];
        const uint8_t value = p[1];
        p += 2;
        if (count != 0) {
            for (unsigned i = 0; i < count; ++i) {
                const uint8_t nibble = (i & 1) != 0 ? value & 0xF : value >> 4;
                target.put(x + i, y, target.fourBits ? nibble : value);
            }
            x += count;
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            if (end - p < 2)
                return;
            x += p[0];
            y += p[1];
            p += 2;
        } else {
            const size_t bytes = target.fourBits ? (value + 1u) / 2u : value;
            const auto available = static_cast<size_t>(end - p);
            for (unsigned i = 0; i < value; ++i) {
                const size_t at = target.fourBits ? i / 2 : i;
                if (at >= available)
                    return;
                const uint8_t nibble = (i & 1) != 0 ? p[at] & 0xF : p[at] >> 4;
                target.put(x + i, y, target.fourBits ? nibble : p[at]);
            }
            x += value;
            p += std::min(bytes + (bytes & 1), available);
        }
    }
}

bool everyAlphaIsZero(const uint8_t* pixels, size_t stride, size_t width, size_t rows)
{
    for (size_t y = 0; y < rows; ++y, pixels += stride)
        for (size_t x = 0; x < width; ++x)
            if (pixels[4 * x + 3] != 0)
                return false;
    return true;
}

} // namespace

Result<Dib> readBmpBytes(ByteView file, bool* alpha)
{
    auto parsed = readHeaders(file);
    if (!parsed)
        return fail(parsed.error());
    BmpHeader& header = parsed.value();
    const bool topDown = header.height < 0;
    const uint64_t rows = topDown ? -int64_t{header.height} : header.height;
    const auto width = static_cast<uint32_t>(header.width);
    const uint16_t outBits =
        header.unpackFields ? (header.alphaMask != 0 ? 32 : 24) : header.bitCount;
    auto stride = checkedRowStride(width, header.bitCount);
    auto outStride = checkedRowStride(width, outBits);
    auto pixelBytes = stride ? checkedImageBytes(*stride, rows) : std::nullopt;
    auto outPixelBytes = outStride ? checkedImageBytes(*outStride, rows) : std::nullopt;
    if (!pixelBytes || !outPixelBytes || !pixelCountAllowed(width, rows))
        return fail("the image is too large");

    const bool runLengths = header.compression == kBiRle8 || header.compression == kBiRle4;
    const bool convertHeader = header.headerSize != kCoreHeaderSize;
    const uint32_t outHeaderSize = convertHeader ? kInfoHeaderSize : kCoreHeaderSize;
    const size_t tableBytes = size_t{header.colourCount} * header.entryBytes;
    const size_t tableAt = kFileHeaderSize + header.headerSize + header.masksBytes;
    if (tableAt > file.size || tableBytes > file.size - tableAt)
        return fail("the file ends inside its colour table");
    // The pixels lie where the file header says, unless that offset points into the headers
    // (some writers leave it 0); then right behind the colour table, where every writer of this
    // system puts them. A run-length stream is as long as its codes make it.
    size_t pixelsAt = tableAt + tableBytes;
    if (header.pixelOffset >= pixelsAt)
        pixelsAt = header.pixelOffset;
    const size_t storedBytes = runLengths ? 0 : *pixelBytes;
    if (pixelsAt > file.size || storedBytes > file.size - pixelsAt)
        return fail("the file is shorter than its header says");

    // Unpacked bit fields leave no use for a colour table.
    const size_t outTableBytes = header.unpackFields ? 0 : tableBytes;
    Dib dib = Dib::allocate(outHeaderSize + outTableBytes + *outPixelBytes);
    if (dib.isNull())
        return fail("out of memory");
    uint8_t* out = dib.data();
    std::memcpy(out, file.data + kFileHeaderSize, outHeaderSize);
    if (convertHeader) {
        writeLe32(out, kInfoHeaderSize);
        writeLe32(out + 8, static_cast<uint32_t>(rows));
        writeLe16(out + 14, outBits);
        writeLe32(out + 16, kBiRgb);
        // The stored size of a longer header's, a coded or an unpacked file's pixels is not
        // the size of the rows handed over.
        if (header.headerSize != kInfoHeaderSize || runLengths || header.unpackFields)
            writeLe32(out + 20, 0);
        if (header.unpackFields) {
            writeLe32(out + 32, 0);
            writeLe32(out + 36, 0);
        }
    }
    std::memcpy(out + outHeaderSize, file.data + tableAt, outTableBytes);
    uint8_t* outPixels = out + outHeaderSize + outTableBytes;
    const uint8_t* stored = file.data + pixelsAt;
    if (runLengths) {
        const RleTarget target{outPixels, *stride, width,
                               rows,      topDown, header.compression == kBiRle4};
        decodeRle(ByteView{stored, file.size - pixelsAt}, target);
    } else if (header.unpackFields) {
        unpackFieldRows(stored, *stride, header, rows, outPixels, *outStride);
    } else {
        copyRows(stored, *stride, rows, topDown, outPixels);
    }
    // Many programs write 32-bit files whose alpha mask is set and whose every alpha byte is 0.
    // Other viewers show them opaque, as we do: taken at its word, such a picture shows nothing.
    if (header.declaresAlpha && outBits == 32 &&
        everyAlphaIsZero(outPixels, *outStride, width, static_cast<size_t>(rows)))
        header.declaresAlpha = false;
    if (alpha)
        *alpha = header.declaresAlpha;
    return dib;
}

Result<Dib> ReadBmpFile(const std::string& path, bool* alpha)
{
    auto file = MappedFile::open(path);
    if (!file)
        return fail(file.error());
    return readBmpBytes(file.value().view(), alpha);
}

namespace {

constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kSrgbColourSpace = 0x73524742; // 'sRGB'
constexpr uint32_t kIntentPerceptual = 4;

// A 32-bit picture is written with the long header and its masks, which name the fourth byte
// as alpha: programs that meet the short header take that byte for padding and drop it, and the
// notes of a 32-bit carrier with it.
std::vector<uint8_t> bmpInfoHeaderFor(const DibLayout& layout)
{
    const auto info = DibMakeHeader(layout.width, layout.height, layout.bitCount, 0);
    if (layout.bitCount != 32)
        return {info.begin(), info.end()};
    std::vector<uint8_t> header(kV5HeaderSize, 0);
    std::copy(info.begin(), info.end(), header.begin());
    writeLe32(&header[0], kV5HeaderSize);
    writeLe32(&header[16], kBiBitfields);
    writeLe32(&header[20], static_cast<uint32_t>(layout.pixelBytes));
    writeLe32(&header[40], 0x00FF0000);
    writeLe32(&header[44], 0x0000FF00);
    writeLe32(&header[48], 0x000000FF);
    writeLe32(&header[52], 0xFF000000);
    writeLe32(&header[56], kSrgbColourSpace);
    writeLe32(&header[108], kIntentPerceptual);
    return header;
}

} // namespace

Status WriteBmpFile(const std::string& path, const Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be written as BMP");
    const auto infoHeader = bmpInfoHeaderFor(*layout);
    const size_t pixelsAt = kFileHeaderSize + infoHeader.size();
    if (layout->pixelBytes > 0xFFFFFFFFu - pixelsAt)
        return fail("the image is too large for a BMP file");
    uint8_t fileHeader[kFileHeaderSize] = {'B', 'M'};
    writeLe32(fileHeader + 2, static_cast<uint32_t>(pixelsAt + layout->pixelBytes));
    writeLe16(fileHeader + 6, 6);
    writeLe16(fileHeader + 8, 0);
    writeLe32(fileHeader + 10, static_cast<uint32_t>(pixelsAt));

    AtomicFile file(path);
    bool ok = file.open() && file.write(fileHeader, sizeof fileHeader) &&
              file.write(infoHeader.data(), infoHeader.size());
    // Padding is written as zeros whatever the image holds there: it is not picture data.
    const size_t rowBytes = static_cast<size_t>(layout->width) * (layout->bitCount / 8);
    const uint8_t zeros[4] = {0, 0, 0, 0};
    const uint8_t* row = image.data() + layout->pixelOffset;
    for (int32_t y = 0; ok && y < layout->height; ++y, row += layout->stride)
        ok = file.write(row, rowBytes) && file.write(zeros, layout->stride - rowBytes);
    ok = ok && file.commit();
    if (!ok)
        return fail(file.error());
    return {};
}

} // namespace ombri
