#include "formats/orientation.h"

#include <cstring>

namespace ombri {

namespace {

// The stored pixel that shows at (x, y) of the upright picture, both counted from the top-left,
// for a stored picture of width x height. Orientations 5 to 8 swap the sides.
struct StoredPixel {
    size_t x, y;
};

StoredPixel storedPixelAt(int orientation, size_t x, size_t y, size_t width, size_t height)
{
    switch (orientation) {
    case 2: // mirrored left-right
        return {width - 1 - x, y};
    case 3: // turned half way
        return {width - 1 - x, height - 1 - y};
    case 4: // flipped top-bottom
        return {x, height - 1 - y};
    case 5: // mirrored across the diagonal from the top-left
        return {y, x};
    case 6: // the stored rows run down the upright picture's right side
        return {y, height - 1 - x};
    case 7: // mirrored across the diagonal from the top-right
        return {width - 1 - y, height - 1 - x};
    case 8: // the stored rows run up the upright picture's left side
        return {width - 1 - y, x};
    default:
        return {x, y};
    }
}

} // namespace

int knownOrientation(long value)
{
    return value >= 1 && value <= 8 ? static_cast<int>(value) : kStoredAsShown;
}

int exifTiffOrientation(ByteView exif)
{
    if (!exif.data || exif.size < 8)
        return kStoredAsShown;
    const uint8_t* tiff = exif.data;
    const size_t size = exif.size;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return kStoredAsShown;
    auto read16 = [&](size_t at) { return little ? readLe16(tiff + at) : readBe16(tiff + at); };
    auto read32 = [&](size_t at) { return little ? readLe32(tiff + at) : readBe32(tiff + at); };
    if (read16(2) != 42)
        return kStoredAsShown;
    // IFD0: a count, then that many 12-byte entries, all of which must be there. Only IFD0 is
    // read, so no chain of directories can lead round in a loop.
    const size_t directory = read32(4);
    if (directory < 8 || directory > size - 2)
        return kStoredAsShown;
    const size_t count = read16(directory);
    if (count > (size - directory - 2) / 12)
        return kStoredAsShown;
    constexpr uint16_t kOrientationTag = 0x0112;
    constexpr uint16_t kShortType = 3;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + i * 12;
        if (read16(entry) != kOrientationTag)
            continue;
        // One SHORT, kept in the first two bytes of the value field.
        if (read16(entry + 2) != kShortType || read32(entry + 4) != 1)
            return kStoredAsShown;
        return knownOrientation(read16(entry + 8));
    }
    return kStoredAsShown;
}

int exifOrientation(ByteView app1)
{
    // "Exif\0\0", then a TIFF header whose offsets count from its own first byte.
    static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!app1.data || app1.size < sizeof kExif || std::memcmp(app1.data, kExif, sizeof kExif) != 0)
        return kStoredAsShown;
    return exifTiffOrientation({app1.data + sizeof kExif, app1.size - sizeof kExif});
}

Dib uprightCopy(const Dib& stored, int orientation)
{
    const auto from = dibGetLayout(stored);
    if (!from || (from->bitCount != 24 && from->bitCount != 32))
        return {};
    const size_t bytesPerPixel = from->bitCount / 8u;
    const bool sidesSwap = orientation >= 5 && orientation <= 8;
    const size_t width = static_cast<size_t>(from->width);
    const size_t height = static_cast<size_t>(from->height);
    const size_t newWidth = sidesSwap ? height : width;
    const size_t newHeight = sidesSwap ? width : height;
    Dib upright = Dib::create(static_cast<int32_t>(newWidth), static_cast<int32_t>(newHeight),
                              from->bitCount);
    const auto to = dibGetLayout(upright);
    if (!to)
        return {};
    // Both keep their top row last.
    const uint8_t* source = stored.data() + from->pixelOffset;
    uint8_t* target = upright.data() + to->pixelOffset;
    for (size_t y = 0; y < newHeight; ++y) {
        uint8_t* out = target + (newHeight - 1 - y) * to->stride;
        for (size_t x = 0; x < newWidth; ++x, out += bytesPerPixel) {
            const StoredPixel at = storedPixelAt(orientation, x, y, width, height);
            std::memcpy(out, source + (height - 1 - at.y) * from->stride + at.x * bytesPerPixel,
                        bytesPerPixel);
        }
    }
    return upright;
}

} // namespace ombri
