#include "formats/colour_profile.h"
#include "formats/jpeg.h"
#include "formats/orientation.h"
#include "fuzz_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ombri::fuzz::limitImageSize();
    return 0;
}

namespace {

// A failure always tells the user why; a success never has anything to say.
bool toldAsItShould(bool ok, const std::string& error, const ombri::FormatMessages& messages)
{
    return ok == messages.empty() || error == "the image is too large";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The EXIF reader on its own, for inputs that are the data of an APP1 marker or of a PNG
    // eXIf chunk.
    for (const int tagged :
         {ombri::exifOrientation({data, size}), ombri::exifTiffOrientation({data, size})})
        if (tagged < 1 || tagged > 8)
            std::abort();

    ombri::FormatMessages messages;
    std::vector<uint8_t> profile;
    int orientation = 0;
    auto image = ombri::readJpegBytes({data, size}, &messages, &profile, &orientation);
    if (profile.size() > ombri::kMaxColourProfileBytes)
        std::abort();
    if (!toldAsItShould(image.ok(), image.error(), messages))
        std::abort();
    if (image.ok()) {
        if (ombri::DibGetBitCount(image.value()) != 24)
            std::abort();
        ombri::fuzz::touchEveryByte(image.value());
        ombri::fuzz::standUpright(image.value(), orientation);
    }

    // The thumbnail decode, which also reads the EXIF orientation of APP1 markers and turns the
    // picture, at a size taken from the last byte so that every scale is reached.
    const int maxSide = size > 0 ? 1 + data[size - 1] % 160 : 128;
    messages.clear();
    auto thumbnail = ombri::readJpegBytesForThumbnail({data, size}, maxSide, &messages);
    if (!toldAsItShould(thumbnail.ok(), thumbnail.error(), messages))
        std::abort();
    if (!thumbnail.ok())
        return 0;
    const ombri::Dib& picture = thumbnail.value().picture;
    const int32_t width = ombri::DibGetWidth(picture), height = ombri::DibGetHeight(picture);
    // Never larger than the whole picture, and never smaller than the thumbnail unless it is.
    const int32_t fullLonger = std::max(thumbnail.value().width, thumbnail.value().height);
    if (ombri::DibGetBitCount(picture) != 24 || width > thumbnail.value().width ||
        height > thumbnail.value().height ||
        std::max(width, height) < std::min(fullLonger, maxSide))
        std::abort();
    ombri::fuzz::touchEveryByte(picture);
    return 0;
}
