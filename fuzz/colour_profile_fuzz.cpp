#include "formats/colour_profile.h"
#include "fuzz_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A small picture holding every grey level and the primaries, with a fourth byte that must come
// through the conversion untouched.
ombri::Dib makeSample()
{
    ombri::Dib picture = ombri::Dib::create(64, 4, 32);
    const auto layout = ombri::dibGetLayout(picture);
    const ombri::PixelRows rows = ombri::pixelRowsOf(picture, *layout);
    for (size_t y = 0; y < rows.height; ++y)
        for (size_t x = 0; x < rows.width; ++x) {
            uint8_t* pixel = rows.row(y) + x * 4;
            for (size_t channel = 0; channel < 4; ++channel)
                pixel[channel] = static_cast<uint8_t>(x * 4 + y * 61 + channel * 89);
        }
    return picture;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ombri::Dib sample = makeSample();
    const ombri::ByteView profile{data, size};
    (void)ombri::colourProfileDescription(profile);
    const ombri::Dib converted = ombri::convertedToSrgb(sample, profile);
    if (converted.isNull())
        return 0;
    if (converted.size() != sample.size())
        std::abort();
    const auto layout = ombri::dibGetLayout(sample);
    const uint8_t* before = sample.data() + layout->pixelOffset;
    const uint8_t* after = converted.data() + layout->pixelOffset;
    for (size_t at = 3; at < layout->pixelBytes; at += 4)
        if (before[at] != after[at])
            std::abort();
    ombri::fuzz::touchEveryByte(converted);
    return 0;
}
