#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace ombri {

// Checked before any allocation: a corrupt header can claim 2^31 x 2^31 pixels.
constexpr uint32_t kMaxDimension = 1u << 20;
// 2^28 pixels (a 16384 x 16384 picture): beyond it no picture is taken, whatever its format.
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

// The largest pixel area of one image, in bytes. Tests and fuzz targets lower it so that a
// header claiming a huge picture is refused quickly instead of exhausting memory.
size_t maxImageBytes();
void setMaxImageBytes(size_t bytes);

// ((width x bitCount + 31) / 32) x 4, or nothing when the width is out of range.
std::optional<size_t> checkedRowStride(uint64_t width, uint32_t bitCount);

// True when a picture of this size may be held at all.
bool pixelCountAllowed(uint64_t width, uint64_t height);

// stride x height, or nothing when it exceeds maxImageBytes().
std::optional<size_t> checkedImageBytes(size_t stride, uint64_t height);

} // namespace ombri
