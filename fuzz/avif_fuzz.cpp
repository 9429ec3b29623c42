#include "formats/avif.h"
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
    auto image = ombri::readAvifBytes({data, size}, &declaresAlpha, &profile);
    // Turned or not, the picture is 24 bits, or 32 exactly when alpha is told.
    ombri::fuzz::checkTrueColourDecode(image.ok() ? &image.value() : nullptr, declaresAlpha,
                                       profile.size());
    return 0;
}
