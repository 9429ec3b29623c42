#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"
#include "notes/carrier.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace ombri {

// The two film-scanner formats; the numbers are the kinds the documents pass around.
enum class FilmFormat { Dpx = 0, Cineon = 1 };

// A DPX or Cineon picture: three 10-bit samples per big-endian 32-bit word, bit 0 of the word
// carrying the note.
struct FilmImage {
    Dib image;       // 24-bit, bottom row first: the top 8 bits of each sample
    NoteLayer notes; // bit 0 of each word, one byte per pixel, bottom row first like the image
    std::vector<uint32_t> pixelWords; // width x height words, top row first, exactly as read
};

// Reads a big-endian, uncompressed, pixel-interleaved file of 3 channels of 10 bits (DPX: one
// RGB image element, packing 1; Cineon: packing 5). Anything else is refused.
Result<FilmImage> readCineonDpxBytes(ByteView file, FilmFormat format);
Result<FilmImage> ReadCineonDpxFile(const std::string& path, FilmFormat format);

// Writes a 24- or 32-bit image as a 3-channel 10-bit file through a temporary file that replaces
// the target only when complete. Without pixel words each word is made from the pixel's blue,
// green and red bytes (the 8 bits at the top of each 10-bit field) with bit 0 set at note
// pixels. With pixel words of width x height entries (top row first, as a read gave them) the
// words are written back unchanged except bit 0, which follows the note layer when there is
// one; pixel words of another size are ignored. notes, when given, must hold width x height
// bytes in the image's row order.
Status WriteCineonDpxFile(const std::string& path, FilmFormat format, const Dib& image,
                          const NoteLayer* notes, const std::vector<uint32_t>* pixelWords);

// The clock whose local time is written into the headers' creation date; null restores the
// system clock. Tests set a fixed time.
using FilmClock = std::time_t (*)();
void setFilmClock(FilmClock clock);

} // namespace ombri
