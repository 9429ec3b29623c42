#include "formats/bmp.h"
#include "fuzz_image.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ombri::fuzz::limitImageSize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto image = ombri::readBmpBytes({data, size});
    if (image.ok())
        ombri::fuzz::touchEveryByte(image.value());
    return 0;
}
