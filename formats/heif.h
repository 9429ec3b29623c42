#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

// The primary image of a HEIF file (a phone's HEIC) as a packed DIB: 32 bits a pixel, blue first
// with the alpha byte last, when it has an alpha image, 24 bits otherwise; samples of 10 and 12
// bits are brought to 8 as libheif converts them. libheif refuses a side past kMaxDimension
// before it allocates, and the shown size is checked against our limit before anything is
// decoded. libheif turns and mirrors the picture as the file's irot and imir properties say; an
// EXIF orientation in the file is never applied on top of them. declaresAlpha (when given) is set
// when the picture came out with an alpha channel; colourProfile (when given) takes the file's
// ICC profile, left empty when the file describes its colours by nclx values or has no profile,
// or the profile is larger than kMaxColourProfileBytes.
Result<Dib> ReadHeifFile(const std::string& path, bool* declaresAlpha = nullptr,
                         std::vector<uint8_t>* colourProfile = nullptr);
Result<Dib> readHeifBytes(ByteView file, bool* declaresAlpha = nullptr,
                          std::vector<uint8_t>* colourProfile = nullptr);

// The size of the primary image as it is shown (sides exchanged by a quarter turn), read from the
// boxes of an open regular file of `size` bytes: nothing is decoded, and the image data is passed
// over unread. Nothing when libheif cannot parse the boxes.
struct HeifDimensions {
    uint32_t width = 0;
    uint32_t height = 0;
};
std::optional<HeifDimensions> readHeifDimensions(int file, uint64_t size);

} // namespace ombri
