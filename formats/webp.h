#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

// WebP keeps each side of a picture in 14 bits.
constexpr uint32_t kMaxWebpSide = 16383;

// A WebP file, lossy or lossless, as a packed DIB: 32 bits a pixel, blue first with the alpha
// byte last, when the file has an alpha channel, 24 bits otherwise. Of an animation only the
// first frame is taken, drawn on the transparent canvas as a 32-bit picture. The size the file
// declares is checked against our limit before anything is decoded. declaresAlpha (when given)
// is set when the picture came out with an alpha channel; colourProfile (when given) takes the
// ICC profile of an ICCP chunk, left empty when there is none or it is larger than
// kMaxColourProfileBytes. orientation (when given) takes the orientation of an EXIF chunk, 1 to 8
// (1 when there is none); the picture itself is handed over as stored.
Result<Dib> ReadWebpFile(const std::string& path, bool* declaresAlpha = nullptr,
                         std::vector<uint8_t>* colourProfile = nullptr, int* orientation = nullptr);
Result<Dib> readWebpBytes(ByteView file, bool* declaresAlpha = nullptr,
                          std::vector<uint8_t>* colourProfile = nullptr,
                          int* orientation = nullptr);

// Writes a 24- or 32-bit picture as a lossless WebP file, 32-bit pictures with their alpha byte
// (libwebp leaves the alpha channel out when every pixel is opaque). Every byte is kept, the
// colours under fully transparent pixels too. A picture wider or higher than kMaxWebpSide is
// refused before anything is written. Written through a file that replaces the target only when
// complete.
Status WriteWebpFile(const std::string& path, const Dib& image);

// The size of the canvas a WebP file declares, read from its first chunk (30 bytes at most)
// without decoding anything; nothing for bytes that are no WebP header.
struct WebpDimensions {
    uint32_t width = 0;
    uint32_t height = 0;
};
std::optional<WebpDimensions> readWebpDimensions(ByteView file);

} // namespace ombri
