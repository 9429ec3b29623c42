#include "formats/colour_profile.h"
#include "formats/webp.h"
#include "fuzz_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ombri::fuzz::limitImageSize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bool declaresAlpha = false;
    std::vector<uint8_t> profile;
    int orientation = 0;
    auto image = ombri::readWebpBytes({data, size}, &declaresAlpha, &profile, &orientation);
    if (profile.size() > ombri::kMaxColourProfileBytes)
        std::abort();
    // The header is read on its own for the reader's memory budget: it must never promise a
    // size other than the one decoded.
    const auto dimensions = ombri::readWebpDimensions({data, size});
    if (!image.ok())
        return 0;
    // A still picture or an animation's first frame: 24 bits, or 32 exactly when alpha is told.
    auto layout = ombri::dibGetLayout(image.value());
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32) ||
        declaresAlpha != (layout->bitCount == 32))
        std::abort();
    if (dimensions && (dimensions->width != static_cast<uint32_t>(layout->width) ||
                       dimensions->height != static_cast<uint32_t>(layout->height)))
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    ombri::fuzz::standUpright(image.value(), orientation);
    return 0;
}
