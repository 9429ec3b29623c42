#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

// The primary image of an AVIF file (the first frame of a sequence) as a packed DIB: 32 bits a
// pixel, blue first with the alpha byte last, when it has an alpha plane, 24 bits otherwise;
// samples of 10 and 12 bits are brought to 8 as libavif converts them. libavif is held to our
// limits (its imageSizeLimit and imageDimensionLimit) before it allocates a plane, and the
// picture is turned and mirrored as the file's irot and imir properties say, which libavif
// leaves to its caller. An EXIF block in the file is not read. declaresAlpha (when given) is set
// when the picture came out with an alpha channel; colourProfile (when given) takes the file's
// ICC profile, left empty when there is none or it is larger than kMaxColourProfileBytes.
Result<Dib> ReadAvifFile(const std::string& path, bool* declaresAlpha = nullptr,
                         std::vector<uint8_t>* colourProfile = nullptr);
Result<Dib> readAvifBytes(ByteView file, bool* declaresAlpha = nullptr,
                          std::vector<uint8_t>* colourProfile = nullptr);

// The size of the picture as it is shown (sides exchanged by a quarter turn), read from the
// boxes ahead of the image data of an open regular file of `size` bytes: nothing is decoded, and
// only what the headers take is read. Nothing when libavif cannot parse them.
struct AvifDimensions {
    uint32_t width = 0;
    uint32_t height = 0;
};
std::optional<AvifDimensions> readAvifDimensions(int file, uint64_t size);

} // namespace ombri
