#include "formats/jxl.h"
#include "formats/colour_profile.h"
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
    auto image = ombri::readJxlBytes({data, size}, &declaresAlpha, &profile);
    if (profile.size() > ombri::kMaxColourProfileBytes)
        std::abort();
    if (!image.ok())
        return 0;
    // Turned or not, the picture is 24 bits, or 32 exactly when alpha is told.
    auto layout = ombri::dibGetLayout(image.value());
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32) ||
        declaresAlpha != (layout->bitCount == 32))
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    return 0;
}
