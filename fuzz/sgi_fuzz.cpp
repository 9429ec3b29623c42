#include "formats/sgi.h"
#include "fuzz_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ombri::fuzz::limitImageSize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto image = ombri::readSgiBytes({data, size});
    if (!image.ok())
        return 0;
    // Three channels make a 24-bit image, four a 32-bit one; nothing else is read.
    const uint16_t bitCount = ombri::DibGetBitCount(image.value());
    if (bitCount != 24 && bitCount != 32)
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    return 0;
}
