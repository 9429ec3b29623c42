#pragma once

#include "core/dib.h"
#include "core/limits.h"
#include "formats/colour_profile.h"
#include "formats/orientation.h"

#include <cstdlib>

namespace ombri::fuzz {

// A header may claim up to 2^20 x 2^20 pixels; refusing anything past 64 MiB keeps each run
// fast and within libFuzzer's memory limit.
inline void limitImageSize()
{
    setMaxImageBytes(64 << 20);
}

// Reads every pixel byte that the image's own header says it holds, so that AddressSanitizer
// sees a header that claims more than the decoder allocated. An image whose header describes
// no usable layout (a top-down BMP, refused only when the document takes it) is read whole.
inline void touchEveryByte(const Dib& image)
{
    const uint8_t* bytes = image.data();
    size_t count = image.size();
    if (auto layout = dibGetLayout(image)) {
        bytes = DibPixelStart(image);
        count = layout->pixelBytes;
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    volatile uint8_t sink = sum;
    (void)sink;
}

// Stands the decoded picture up as the shared load does: the reported orientation must be one of
// 1 to 8, and the turned copy must have the stored picture's sides, exchanged for 5 to 8.
inline void standUpright(const Dib& image, int orientation)
{
    if (orientation < 1 || orientation > 8)
        std::abort();
    if (orientation == kStoredAsShown)
        return;
    const Dib upright = uprightCopy(image, orientation);
    if (upright.isNull())
        return; // no room for the copy: the load says so
    const bool sidesSwap = orientation >= 5;
    if (DibGetWidth(upright) != (sidesSwap ? DibGetHeight(image) : DibGetWidth(image)) ||
        DibGetHeight(upright) != (sidesSwap ? DibGetWidth(image) : DibGetHeight(image)))
        std::abort();
    touchEveryByte(upright);
}

// What every decoder that tells of alpha and hands over a colour profile must give: a profile
// within its cap, and a picture of 24 bits, or 32 exactly when alpha is told, whose every byte
// can be read.
inline void checkTrueColourDecode(const Dib* image, bool declaresAlpha, size_t profileBytes)
{
    if (profileBytes > kMaxColourProfileBytes)
        std::abort();
    if (!image)
        return;
    auto layout = dibGetLayout(*image);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32) ||
        declaresAlpha != (layout->bitCount == 32))
        std::abort();
    touchEveryByte(*image);
}

} // namespace ombri::fuzz
