#include "core/dib.h"

#include "core/bytes.h"
#include "core/limits.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>

namespace ombri {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Pictures from this size on get their own mapping in huge pages: a photograph's block is
// touched once per save or open, and faulting it in 4 KB pages costs as much as the copy.
constexpr size_t kMappedFrom = size_t{8} << 20;

// Zero-filled memory aligned to a huge page, or null. The mapping is cut to the aligned part.
uint8_t* mapZeroed(size_t bytes, size_t& mappedBytes)
{
    mappedBytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    const size_t reserved = mappedBytes + kHugePage;
    void* start =
        ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED)
        return nullptr;
    const auto base = reinterpret_cast<uintptr_t>(start);
    const uintptr_t aligned = (base + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > base)
        ::munmap(start, aligned - base);
    const uintptr_t end = base + reserved;
    if (end > aligned + mappedBytes)
        ::munmap(reinterpret_cast<void*>(aligned + mappedBytes), end - aligned - mappedBytes);
    ::madvise(reinterpret_cast<void*>(aligned), mappedBytes, MADV_HUGEPAGE);
    return reinterpret_cast<uint8_t*>(aligned);
}

} // namespace

void DibBlockDeleter::operator()(uint8_t* p) const
{
    if (mappedBytes != 0)
        ::munmap(p, mappedBytes);
    else
        std::free(p);
}

Dib Dib::allocate(size_t bytes)
{
    Dib dib;
    if (bytes == 0)
        return dib;
    // Both ways give untouched zero pages: no time is spent clearing memory that a decoder
    // overwrites at once.
    size_t mappedBytes = 0;
    uint8_t* block = nullptr;
    if (bytes >= kMappedFrom)
        block = mapZeroed(bytes, mappedBytes);
    if (!block) {
        mappedBytes = 0;
        block = static_cast<uint8_t*>(std::calloc(bytes, 1));
    }
    dib.m_data = std::unique_ptr<uint8_t, DibBlockDeleter>(block, DibBlockDeleter{mappedBytes});
    if (dib.m_data)
        dib.m_size = bytes;
    return dib;
}

Dib Dib::create(int32_t width, int32_t height, uint16_t bitCount)
{
    if (width <= 0 || height <= 0 ||
        !pixelCountAllowed(static_cast<uint32_t>(width), static_cast<uint32_t>(height)))
        return Dib();
    auto stride = checkedRowStride(static_cast<uint32_t>(width), bitCount);
    if (!stride)
        return Dib();
    auto pixelBytes = checkedImageBytes(*stride, static_cast<uint32_t>(height));
    if (!pixelBytes)
        return Dib();
    Dib dib = allocate(kInfoHeaderSize + *pixelBytes);
    if (dib.isNull())
        return dib;
    auto header = DibMakeHeader(width, height, bitCount, 0);
    std::memcpy(dib.data(), header.data(), header.size());
    return dib;
}

Dib Dib::clone() const
{
    Dib copy = allocate(m_size);
    if (!copy.isNull())
        std::memcpy(copy.data(), data(), m_size);
    return copy;
}

bool Dib::refit(size_t bytes)
{
    if (bytes == 0 || bytes > capacity())
        return false;
    m_size = bytes;
    return true;
}

void Dib::reset()
{
    m_data.reset();
    m_size = 0;
}

namespace {

// The header fields, read without checking that the rows fit.
struct HeaderFields {
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t coloursUsed = 0;
};

std::optional<HeaderFields> readHeaderFields(const Dib& dib)
{
    if (dib.size() < 4)
        return std::nullopt;
    const uint8_t* p = dib.data();
    HeaderFields h;
    h.headerSize = readLe32(p);
    if (h.headerSize == kInfoHeaderSize && dib.size() >= kInfoHeaderSize) {
        h.width = readLeI32(p + 4);
        h.height = readLeI32(p + 8);
        h.bitCount = readLe16(p + 14);
        h.coloursUsed = readLe32(p + 32);
        return h;
    }
    if (h.headerSize == kCoreHeaderSize && dib.size() >= kCoreHeaderSize) {
        h.width = readLe16(p + 4);
        h.height = readLe16(p + 6);
        h.bitCount = readLe16(p + 10);
        return h;
    }
    return std::nullopt;
}

uint32_t colourCountOf(const HeaderFields& h)
{
    if (h.headerSize == kInfoHeaderSize && h.coloursUsed != 0)
        return h.coloursUsed;
    switch (h.bitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

size_t colourTableBytesOf(const HeaderFields& h)
{
    return size_t{colourCountOf(h)} * (h.headerSize == kInfoHeaderSize ? 4 : 3);
}

} // namespace

std::optional<DibLayout> dibGetLayout(const Dib& dib)
{
    auto h = readHeaderFields(dib);
    if (!h || h->width <= 0 || h->height <= 0)
        return std::nullopt;
    auto stride = checkedRowStride(static_cast<uint32_t>(h->width), h->bitCount);
    if (!stride)
        return std::nullopt;
    auto pixelBytes = checkedImageBytes(*stride, static_cast<uint32_t>(h->height));
    if (!pixelBytes)
        return std::nullopt;
    DibLayout layout;
    layout.headerSize = h->headerSize;
    layout.width = h->width;
    layout.height = h->height;
    layout.bitCount = h->bitCount;
    layout.colourCount = colourCountOf(*h);
    layout.colourTableBytes = colourTableBytesOf(*h);
    layout.pixelOffset = h->headerSize + layout.colourTableBytes;
    layout.stride = *stride;
    layout.pixelBytes = *pixelBytes;
    if (layout.pixelOffset > dib.size() || layout.pixelBytes > dib.size() - layout.pixelOffset)
        return std::nullopt;
    return layout;
}

int32_t DibGetWidth(const Dib& dib)
{
    auto h = readHeaderFields(dib);
    return h ? h->width : 0;
}

int32_t DibGetHeight(const Dib& dib)
{
    auto h = readHeaderFields(dib);
    return h ? h->height : 0;
}

uint16_t DibGetBitCount(const Dib& dib)
{
    auto h = readHeaderFields(dib);
    return h ? h->bitCount : 0;
}

uint32_t DibGetColorCount(const Dib& dib)
{
    auto h = readHeaderFields(dib);
    return h ? colourCountOf(*h) : 0;
}

size_t DibGetColorTableBytes(const Dib& dib)
{
    auto h = readHeaderFields(dib);
    return h ? colourTableBytesOf(*h) : 0;
}

uint8_t* DibPixelStart(Dib& dib)
{
    auto layout = dibGetLayout(dib);
    return layout ? dib.data() + layout->pixelOffset : nullptr;
}

const uint8_t* DibPixelStart(const Dib& dib)
{
    auto layout = dibGetLayout(dib);
    return layout ? dib.data() + layout->pixelOffset : nullptr;
}

size_t DibRowStride(uint32_t width, uint32_t bitCount)
{
    return static_cast<size_t>((uint64_t{width} * bitCount + 31) / 32 * 4);
}

std::array<uint8_t, kInfoHeaderSize> DibMakeHeader(int32_t width, int32_t height, uint16_t bitCount,
                                                   uint32_t coloursImportant)
{
    std::array<uint8_t, kInfoHeaderSize> header{};
    writeLe32(&header[0], kInfoHeaderSize);
    writeLe32(&header[4], static_cast<uint32_t>(width));
    writeLe32(&header[8], static_cast<uint32_t>(height));
    writeLe16(&header[12], 1);
    writeLe16(&header[14], bitCount);
    writeLe32(&header[36], coloursImportant);
    return header;
}

std::vector<uint8_t> DibToPlainRows(const Dib& dib, int bytesPerPixel)
{
    auto layout = dibGetLayout(dib);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32) ||
        (bytesPerPixel != 3 && bytesPerPixel != 4) || bytesPerPixel * 8 > layout->bitCount)
        return {};
    const size_t width = static_cast<size_t>(layout->width);
    const size_t height = static_cast<size_t>(layout->height);
    const size_t sourcePixel = layout->bitCount / 8;
    std::vector<uint8_t> plain(width * height * static_cast<size_t>(bytesPerPixel));
    const uint8_t* source = dib.data() + layout->pixelOffset;
    uint8_t* target = plain.data();
    for (size_t row = 0; row < height; ++row, source += layout->stride) {
        if (sourcePixel == static_cast<size_t>(bytesPerPixel)) {
            std::memcpy(target, source, width * sourcePixel);
            target += width * sourcePixel;
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            std::memcpy(target, source + x * 4, 3);
            target += 3;
        }
    }
    return plain;
}

Dib DibFromPlainRows(const uint8_t* rows, size_t rowsSize, int32_t width, int32_t height,
                     uint16_t bitCount)
{
    if (!rows || (bitCount != 24 && bitCount != 32))
        return Dib();
    Dib dib = Dib::create(width, height, bitCount);
    auto layout = dibGetLayout(dib);
    if (!layout)
        return Dib();
    const size_t rowBytes = static_cast<size_t>(width) * (bitCount / 8);
    if (rowsSize / rowBytes < static_cast<size_t>(height))
        return Dib();
    uint8_t* target = dib.data() + layout->pixelOffset;
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(target + row * layout->stride, rows + row * rowBytes, rowBytes);
    return dib;
}

bool SwapRedBlue(uint8_t* buffer, size_t width, size_t height, int bytesPerPixel)
{
    if (!buffer || (bytesPerPixel != 3 && bytesPerPixel != 4))
        return false;
    const size_t count = width * height;
    for (size_t i = 0; i < count; ++i) {
        uint8_t* pixel = buffer + i * static_cast<size_t>(bytesPerPixel);
        std::swap(pixel[0], pixel[2]);
    }
    return true;
}

bool FlipRows(uint8_t* buffer, size_t rowLength, size_t rowCount)
{
    if (!buffer)
        return false;
    for (size_t i = 0; i < rowCount / 2; ++i) {
        uint8_t* upper = buffer + i * rowLength;
        uint8_t* lower = buffer + (rowCount - 1 - i) * rowLength;
        std::swap_ranges(upper, upper + rowLength, lower);
    }
    return true;
}

void ExpandGrayRow(const uint8_t* grey, size_t width, uint8_t* destination)
{
    for (size_t x = 0; x < width; ++x) {
        destination[3 * x] = grey[x];
        destination[3 * x + 1] = grey[x];
        destination[3 * x + 2] = grey[x];
    }
}

namespace {

// A full 256-entry table (unused entries black), so any index in the pixels is safe to look up.
std::array<std::array<uint8_t, 3>, 256> paletteOf(const Dib& dib, const DibLayout& layout)
{
    std::array<std::array<uint8_t, 3>, 256> palette{};
    const size_t entryBytes = layout.headerSize == kInfoHeaderSize ? 4 : 3;
    const uint8_t* table = dib.data() + layout.headerSize;
    const size_t count = std::min<size_t>(layout.colourCount, 256);
    for (size_t i = 0; i < count; ++i)
        std::memcpy(palette[i].data(), table + i * entryBytes, 3);
    return palette;
}

void convertRow(const uint8_t* source, const DibLayout& layout,
                const std::array<std::array<uint8_t, 3>, 256>& palette, uint8_t* target,
                int targetBytes)
{
    const size_t width = static_cast<size_t>(layout.width);
    for (size_t x = 0; x < width; ++x) {
        uint8_t* out = target + x * static_cast<size_t>(targetBytes);
        uint8_t alpha = 255;
        switch (layout.bitCount) {
        case 1:
        case 4:
        case 8: {
            const unsigned bits = layout.bitCount;
            const size_t bitOffset = x * bits;
            const unsigned shift = 8 - bits - static_cast<unsigned>(bitOffset % 8);
            const unsigned index = (source[bitOffset / 8] >> shift) & ((1u << bits) - 1);
            std::memcpy(out, palette[index].data(), 3);
            break;
        }
        case 16: {
            const unsigned value = readLe16(source + 2 * x);
            const unsigned blue = value & 31, green = (value >> 5) & 31, red = (value >> 10) & 31;
            out[0] = static_cast<uint8_t>((blue << 3) | (blue >> 2));
            out[1] = static_cast<uint8_t>((green << 3) | (green >> 2));
            out[2] = static_cast<uint8_t>((red << 3) | (red >> 2));
            break;
        }
        case 24:
            std::memcpy(out, source + 3 * x, 3);
            break;
        case 32:
            std::memcpy(out, source + 4 * x, 3);
            alpha = source[4 * x + 3];
            break;
        }
        if (targetBytes == 4)
            out[3] = alpha;
    }
}

} // namespace

void dibConvertTrueColourRow(const uint8_t* source, uint16_t sourceBitCount, int32_t width,
                             uint8_t* target, uint16_t targetBitCount)
{
    // True-colour rows need no colour table.
    static const std::array<std::array<uint8_t, 3>, 256> kNoPalette{};
    DibLayout layout;
    layout.width = width;
    layout.bitCount = sourceBitCount;
    convertRow(source, layout, kNoPalette, target, targetBitCount / 8);
}

Dib dibConvertToBitCount(const Dib& dib, uint16_t bitCount)
{
    auto layout = dibGetLayout(dib);
    if (!layout || (bitCount != 24 && bitCount != 32))
        return Dib();
    switch (layout->bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return Dib();
    }
    if (layout->bitCount == bitCount && layout->headerSize == kInfoHeaderSize &&
        layout->colourTableBytes == 0)
        return dib.clone();
    Dib converted = Dib::create(layout->width, layout->height, bitCount);
    auto target = dibGetLayout(converted);
    if (!target)
        return Dib();
    const auto palette = paletteOf(dib, *layout);
    const uint8_t* source = dib.data() + layout->pixelOffset;
    uint8_t* out = converted.data() + target->pixelOffset;
    for (int32_t row = 0; row < layout->height; ++row)
        convertRow(source + row * layout->stride, *layout, palette, out + row * target->stride,
                   bitCount / 8);
    return converted;
}

std::vector<uint32_t> DibBuildPalette(const Dib& dib)
{
    std::vector<uint32_t> palette;
    auto layout = dibGetLayout(dib);
    if (!layout || layout->colourCount == 0)
        return palette;
    const uint32_t count = layout->colourCount & 0xFFFFu;
    const uint32_t entryBytes = layout->headerSize == 12 ? 3u : 4u;
    // dibGetLayout has checked that the whole table lies inside the block.
    const uint32_t available = static_cast<uint32_t>(layout->colourTableBytes / entryBytes);
    const uint8_t* table = dib.data() + layout->headerSize;
    palette.reserve(std::min(count, available));
    for (uint32_t i = 0; i < count && i < available; ++i) {
        const uint8_t* entry = table + i * entryBytes; // blue, green, red
        palette.push_back(0xFF000000u | (uint32_t{entry[2]} << 16) | (uint32_t{entry[1]} << 8) |
                          entry[0]);
    }
    return palette;
}

} // namespace ombri
