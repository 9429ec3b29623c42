#include "formats/gif.h"
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
    auto image = ombri::readGifBytes({data, size});
    if (!image.ok())
        return 0;
    // Every GIF comes out paletted with its full colour table: 2, 16 or 256 entries.
    const uint16_t bitCount = ombri::DibGetBitCount(image.value());
    if ((bitCount != 1 && bitCount != 4 && bitCount != 8) ||
        ombri::DibGetColorCount(image.value()) != 1u << bitCount)
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    return 0;
}
