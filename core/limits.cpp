#include "core/limits.h"

namespace ombri {

namespace {
// 2 GiB: the pixel area must stay addressable by the 32-bit size fields of BMP files.
size_t g_maxImageBytes = size_t{0x7FFFFFFF} - 54;
} // namespace

size_t maxImageBytes()
{
    return g_maxImageBytes;
}

void setMaxImageBytes(size_t bytes)
{
    g_maxImageBytes = bytes;
}

std::optional<size_t> checkedRowStride(uint64_t width, uint32_t bitCount)
{
    if (width == 0 || width > kMaxDimension || bitCount == 0 || bitCount > 64)
        return std::nullopt;
    return static_cast<size_t>((width * bitCount + 31) / 32 * 4);
}

bool pixelCountAllowed(uint64_t width, uint64_t height)
{
    return width != 0 && height != 0 && width <= kMaxDimension && height <= kMaxDimension &&
           width * height <= kMaxPixels;
}

std::optional<size_t> checkedImageBytes(size_t stride, uint64_t height)
{
    if (height == 0 || height > kMaxDimension || stride == 0)
        return std::nullopt;
    // Divide before multiplying so the test itself cannot wrap.
    if (height > maxImageBytes() / stride)
        return std::nullopt;
    return static_cast<size_t>(stride * height);
}

} // namespace ombri
