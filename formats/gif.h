#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <string>

namespace ombri {

// The first image of a GIF file (87a or 89a) as a paletted packed DIB, bottom row first: 1 bit
// per pixel for a 2-entry colour table, 4 bits for 4 to 16 entries, 8 bits for 32 to 256, always
// with the full 2, 16 or 256 colour entries (entries the file does not fill are black). The
// image's local table wins over the global one; a file with neither gets a black-and-white,
// 16-colour or grey-ramp table. Interlaced rows are put in their places; extensions are skipped.
// The file is read in chunks of at most 32 KiB. Data that ends before the image is complete
// keeps the rows decoded so far; an LZW code beyond the table refuses the file. GIF images carry
// no notes.
Result<Dib> ReadGifFile(const std::string& path);
Result<Dib> readGifBytes(ByteView file);

} // namespace ombri
