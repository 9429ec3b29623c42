#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <string>

namespace ombri {

// A PNG file as a 24-bit packed DIB, or 32-bit when the decoded picture keeps an alpha channel:
// 16-bit samples stripped to 8, palettes and low bit depths expanded, transparency turned into
// alpha, grey made RGB, a bKGD colour composited under the picture, gamma corrected for a screen
// gamma of 2.2.
Result<Dib> ReadPngFile(const std::string& path);
Result<Dib> readPngBytes(ByteView file);

// Writes a 24-bit image as an RGB PNG and a 32-bit one as RGBA: 8 bits per channel, no
// interlacing, no ancillary chunk. Rows go to the file top first, so the last row in memory is
// the file's first. Each row gets the filter that suits it and all of them are compressed by
// libdeflate into one stream. Written through a file that replaces the target only when
// complete.
Status WritePngFile(const std::string& path, const Dib& image);

// Writes width x height grey bytes, top row first, as an 8-bit grey PNG (a note layer shown as
// a picture). Written through a file that replaces the target only when complete.
Status writeGreyPngFile(const std::string& path, const uint8_t* grey, uint32_t width,
                        uint32_t height);

} // namespace ombri
