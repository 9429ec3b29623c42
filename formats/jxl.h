#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

// A JPEG XL file (the first frame of an animation, drawn on its canvas) as a packed DIB: 32 bits
// a pixel, blue first with the alpha byte last, when it has an alpha channel, 24 bits otherwise;
// samples of more than 8 bits are brought to 8 as libjxl converts them, and grey pictures are
// given as RGB. The size the file declares is checked against our limit before any pixel is
// decoded. libjxl turns and mirrors the picture by the orientation in its header, so the picture
// comes out upright and is not turned again. declaresAlpha (when given) is set when the picture
// came out with an alpha channel; colourProfile (when given) takes an ICC profile of the colours
// the pixels came out in, left empty when they are sRGB or the profile is larger than
// kMaxColourProfileBytes.
Result<Dib> ReadJxlFile(const std::string& path, bool* declaresAlpha = nullptr,
                        std::vector<uint8_t>* colourProfile = nullptr);
Result<Dib> readJxlBytes(ByteView file, bool* declaresAlpha = nullptr,
                         std::vector<uint8_t>* colourProfile = nullptr);

// The size of the picture as it is shown (sides exchanged by a quarter turn), read from the header
// at the start of the codestream of an open regular file of `size` bytes: nothing is decoded, and
// only the bytes up to that header are read. Nothing when libjxl finds no header there.
struct JxlDimensions {
    uint32_t width = 0;
    uint32_t height = 0;
};
std::optional<JxlDimensions> readJxlDimensions(int file, uint64_t size);

} // namespace ombri
