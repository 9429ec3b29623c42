#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombri {

// The first picture of a TIFF file as a packed DIB: 32-bit for files of four or more samples per
// pixel, 24-bit for all others (grey, grey with alpha, palette, RGB).
//
// RGB and RGBA files of 8 or 16 bits a sample (every file the writer saves, and most others),
// interleaved or one plane per channel, in strips or tiles, are copied straight from their strips
// or tiles, 16-bit samples by their high byte, so that colour and alpha bytes come back exactly
// as stored whatever the ExtraSamples tag says. Every other layout (palette, grey, YCbCr, CMYK,
// other depths) goes through libtiff's RGBA conversion. Either way the picture comes as stored,
// its first row the file's first; orientation, when given, receives the Orientation tag (1 to 8,
// formats/orientation.h), which the shared load applies. A strip or tile that cannot be decoded
// leaves its rows zero; a file of which nothing decodes is refused. libtiff prints nothing: its
// last error becomes the reason. When alpha is given it is told whether the file's ExtraSamples
// tag marks the fourth byte of the 32-bit picture as opacity; when colourProfile is given it
// receives the ICC profile of tag 34675, empty when there is none or it is larger than
// kMaxColourProfileBytes.
Result<Dib> ReadTiffFile(const std::string& path, bool* alpha = nullptr,
                         std::vector<uint8_t>* colourProfile = nullptr, int* orientation = nullptr);
Result<Dib> readTiffBytes(ByteView file, bool* alpha = nullptr,
                          std::vector<uint8_t>* colourProfile = nullptr,
                          int* orientation = nullptr);

// Writes a 24-bit image as a 3-sample and a 32-bit one as a 4-sample RGB TIFF (the fourth sample
// marked as unassociated alpha): 8 bits a sample, PackBits, one row per strip, top row first,
// red first. Carrier images come prepared: notes in the low bits and, when there are notes, the
// signature at the start of the last row in memory, so that the file's first pixel reads red 105,
// green 103, blue 101. Written through a temporary file that replaces the target only when
// complete.
Status WriteTiffFile(const std::string& path, const Dib& image);

} // namespace ombri
