#include "formats/colour_profile.h"
#include "formats/tiff.h"
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
    auto image = ombri::readTiffBytes({data, size}, nullptr, &profile, &orientation);
    if (profile.size() > ombri::kMaxColourProfileBytes)
        std::abort();
    if (!image.ok())
        return 0;
    // Whatever the samples, a TIFF comes out as 24- or 32-bit rows.
    const uint16_t bitCount = ombri::DibGetBitCount(image.value());
    if (bitCount != 24 && bitCount != 32)
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    ombri::fuzz::standUpright(image.value(), orientation);
    return 0;
}
