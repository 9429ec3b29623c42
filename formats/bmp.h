#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <string>

namespace ombri {

// A BMP file as a packed DIB: the header (12- or 40-byte; 52-, 56-, 108- and 124-byte headers
// become 40-byte ones), its colour table and its rows, bottom row first whichever way the file
// stores them. Run-length coded files are decoded to 8 or 4 bits a pixel; bit fields other than
// 5-5-5 and 8-8-8 become 24-bit pixels, or 32-bit ones with an alpha mask. The file must hold
// everything its header claims. When alpha is given it is told whether the file's bit fields
// name an alpha channel.
Result<Dib> readBmpBytes(ByteView file, bool* alpha = nullptr);
Result<Dib> ReadBmpFile(const std::string& path, bool* alpha = nullptr);

// Writes a 24- or 32-bit image as an uncompressed bottom-up BMP, through
// a temporary file that replaces the target only when complete. A 24-bit image gets a 40-byte
// header; a 32-bit one a 124-byte header with bit fields naming its fourth byte alpha.
Status WriteBmpFile(const std::string& path, const Dib& image);

} // namespace ombri
