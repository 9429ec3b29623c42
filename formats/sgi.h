#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ombri {

// An SGI image file with 3 or 4 channels of one or two bytes, stored verbatim or run-length
// encoded, as a 24-bit packed DIB (3 channels) or a 32-bit one (4 channels, the alpha plane in byte
// 3). Files of 2 bytes per channel give the high byte of each sample. Grey files (1 or 2 channels)
// are refused.
Result<Dib> ReadSgiFile(const std::string& path);
Result<Dib> readSgiBytes(ByteView file);

// Writes a 24-bit image as a 3-channel run-length encoded SGI file and a 32-bit one as a
// 4-channel file. The caller hands over the pixels to save as they are (the carrier copy when
// the document has notes). With SgiSignature::Write the planar Ombri signature is laid over the top
// row's blue, green and red planes, the alpha plane untouched; an image narrower than 8 pixels
// has no room for it and is saved without. Written through a temporary file that replaces the
// target only when complete.
enum class SgiSignature { Omit, Write };
Status WriteSgiFile(const std::string& path, const Dib& image, SgiSignature signature);

// The most bytes encodeSgiRow can produce for a row of the given length, end byte included.
size_t sgiEncodedRowBound(size_t length);

// Run-length encodes one plane row, ending it with the 0 byte, and answers the number of bytes
// written; 0 when the encoding would not fit in capacity. Only the row's own bytes are looked
// at: three equal bytes start a run packet, anything else is gathered into literal packets.
size_t encodeSgiRow(const uint8_t* row, size_t length, uint8_t* out, size_t capacity);

} // namespace ombri
