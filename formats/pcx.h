#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <string>

namespace ombri {

// A 24-bit PCX file (manufacturer byte 10, 8 bits per plane, three planes red, green and blue,
// run-length encoded) as a 24-bit packed DIB, bottom row first. Each plane line is as long as the
// header's bytes-per-line field says (never shorter than the picture is wide); bytes past the
// picture's width are padding. The header's two resolution values are copied unchanged into the
// DIB's resolution fields. Data that ends before the last scan line keeps the lines decoded so
// far. Other PCX kinds (palette images, fewer planes) are refused.
Result<Dib> ReadPcxFile(const std::string& path);
Result<Dib> readPcxBytes(ByteView file);

} // namespace ombri
