#include "formats/colour_profile.h"
#include "formats/png.h"
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
    std::vector<uint8_t> profile;
    int orientation = 0;
    auto image = ombri::readPngBytes({data, size}, &profile, &orientation);
    if (profile.size() > ombri::kMaxColourProfileBytes)
        std::abort();
    if (!image.ok())
        return 0;
    // Every PNG, whatever its colour type, must come out as a usable 24- or 32-bit image.
    auto layout = ombri::dibGetLayout(image.value());
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    ombri::fuzz::standUpright(image.value(), orientation);
    return 0;
}
