#include "formats/jpeg.h"
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
    ombri::FormatMessages messages;
    auto image = ombri::readJpegBytes({data, size}, &messages);
    // A failure always tells the user why; a success never has anything to say.
    if (image.ok() != messages.empty() && image.error() != "the image is too large")
        std::abort();
    if (!image.ok())
        return 0;
    if (ombri::DibGetBitCount(image.value()) != 24)
        std::abort();
    ombri::fuzz::touchEveryByte(image.value());
    return 0;
}
