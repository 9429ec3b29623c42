#include "formats/bmp.h"

#include "core/file_io.h"
#include "core/limits.h"

#include <cstring>
#include <optional>

namespace ombri {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kBiRgb = 0;
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

// Bit fields that say what an uncompressed image means anyway can be dropped; others are not
// understood by the rest of the system, so such files are refused.
Status normaliseBitfields(BmpHeader& header)
{
    if (header.compression == kBiRgb)
        return {};
    const uint32_t* m = header.masks;
    const bool standard32 =
        header.bitCount == 32 && m[0] == 0x00FF0000 && m[1] == 0x0000FF00 && m[2] == 0x000000FF;
    const bool standard16 =
        header.bitCount == 16 && m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F;
    if (!standard32 && !standard16)
        return fail("unsupported BMP bit fields");
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

} // namespace

Result<Dib> readBmpBytes(ByteView file, bool* alpha)
{
    auto parsed = readHeaders(file);
    if (!parsed)
        return fail(parsed.error());
    BmpHeader& header = parsed.value();
    const uint64_t rows = header.height < 0 ? -int64_t{header.height} : header.height;
    auto stride = checkedRowStride(static_cast<uint32_t>(header.width), header.bitCount);
    auto pixelBytes = stride ? checkedImageBytes(*stride, rows) : std::nullopt;
    if (!pixelBytes || !pixelCountAllowed(static_cast<uint32_t>(header.width), rows))
        return fail("the image is too large");

    const bool convertHeader = header.headerSize != kCoreHeaderSize;
    const uint32_t outHeaderSize = convertHeader ? kInfoHeaderSize : kCoreHeaderSize;
    const size_t tableBytes = size_t{header.colourCount} * header.entryBytes;
    const size_t tableAt = kFileHeaderSize + header.headerSize + header.masksBytes;
    if (tableAt > file.size || tableBytes > file.size - tableAt)
        return fail("the file ends inside its colour table");
    // The pixels lie where the file header says, unless that offset points into the headers
    // (some writers leave it 0); then right behind the colour table, where every writer of this
    // system puts them.
    size_t pixelsAt = tableAt + tableBytes;
    if (header.pixelOffset >= pixelsAt)
        pixelsAt = header.pixelOffset;
    if (pixelsAt > file.size || *pixelBytes > file.size - pixelsAt)
        return fail("the file is shorter than its header says");

    Dib dib = Dib::allocate(outHeaderSize + tableBytes + *pixelBytes);
    if (dib.isNull())
        return fail("out of memory");
    uint8_t* out = dib.data();
    std::memcpy(out, file.data + kFileHeaderSize, outHeaderSize);
    if (convertHeader) {
        writeLe32(out, kInfoHeaderSize);
        writeLe32(out + 16, header.compression);
    }
    std::memcpy(out + outHeaderSize, file.data + tableAt, tableBytes);
    std::memcpy(out + outHeaderSize + tableBytes, file.data + pixelsAt, *pixelBytes);
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

Status WriteBmpFile(const std::string& path, const Dib& image)
{
    auto layout = dibGetLayout(image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return fail("only 24- and 32-bit images can be written as BMP");
    if (layout->pixelBytes > 0xFFFFFFFFu - 54)
        return fail("the image is too large for a BMP file");
    uint8_t fileHeader[kFileHeaderSize] = {'B', 'M'};
    writeLe32(fileHeader + 2, static_cast<uint32_t>(54 + layout->pixelBytes));
    writeLe16(fileHeader + 6, 6);
    writeLe16(fileHeader + 8, 0);
    writeLe32(fileHeader + 10, 54);
    const auto infoHeader = DibMakeHeader(layout->width, layout->height, layout->bitCount, 0);

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
