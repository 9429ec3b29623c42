#include "formats/pcx.h"
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
    auto image = ombri::readPcxBytes({data, size});
    if (!image.ok())
        return 0;
    if (ombri::DibGetBitCount(image.value()) != 24)
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    return 0;
}
