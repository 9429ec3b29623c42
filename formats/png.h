#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

// A PNG file as a 24-bit packed DIB, or 32-bit when the decoded picture keeps an alpha channel:
// 16-bit samples stripped to 8, palettes and low bit depths expanded, transparency turned into
// alpha, grey made RGB, a bKGD colour composited under the picture, gamma corrected for a screen
// gamma of 2.2.
Result<Dib> ReadPngFile(const std::string& path);
Result<Dib> readPngBytes(ByteView file);
// The same, also handing over the ICC profile of the file's iCCP chunk: empty when there is
// none or it is larger than kMaxColourProfileBytes. The picture comes as stored; orientation,
// when given, receives the EXIF orientation of the file's eXIf chunk (formats/orientation.h),
// which the shared load applies.
Result<Dib> ReadPngFile(const std::string& path, std::vector<uint8_t>* colourProfile,
                        int* orientation = nullptr);
Result<Dib> readPngBytes(ByteView file, std::vector<uint8_t>* colourProfile,
                         int* orientation = nullptr);

// Writes a 24-bit image as an RGB PNG and a 32-bit one as RGBA: 8 bits per channel, no
// interlacing, no ancillary chunk. Rows go to the file top first, so the last row in memory is
// the file's first. Each row gets the filter that suits it and all of them are compressed into
// one stream, by libdeflate or zlib as a sample of the rows shows best, in parts on the cores.
// Written through a file that replaces the target only when complete.
Status WritePngFile(const std::string& path, const Dib& image);

// As WritePngFile, with the rows made by the source as the encoder filters them: only the rows
// of the parts being compressed are held at a time.
Status writePngRows(const std::string& path, const RowSource& rows);

// One tEXt chunk: a Latin-1 keyword of 1 to 79 bytes and its text.
struct PngText {
    std::string keyword;
    std::string text;
};

// As WritePngFile, with the given tEXt chunks ahead of the image data, where a reader looking for
// them finds them without inflating the picture. The new file has exactly the permission bits
// `permissions` before it takes the target's name, so no other user can read it in between.
Status writePngFileWithText(const std::string& path, const Dib& image,
                            const std::vector<PngText>& text, unsigned permissions);

// The same into the entry `name` of a folder the program holds open and keeps for itself (the
// thumbnail cache): whatever has that name there, a symbolic link or a FIFO included, is
// replaced by the new file and never followed or written through.
Status writePngFileWithText(int folder, const std::string& name, const Dib& image,
                            const std::vector<PngText>& text, unsigned permissions);

// The tEXt chunks of a PNG file in file order, found by walking its chunks without decoding the
// picture. Any bytes are taken: the walk ends at IEND or where the chunks stop making sense, and
// what was found before counts. A failure only for bytes without the PNG signature.
Result<std::vector<PngText>> readPngTextBytes(ByteView file);
// The same read from a regular file, chunk header by chunk header: nothing but the headers and
// the text is read, whatever the file's size, and a text chunk over 1 MiB is passed over.
Result<std::vector<PngText>> readPngTextFile(const std::string& path);

// The size a PNG declares in its header chunk, read without decoding anything; nothing for bytes
// that do not begin with the signature and that chunk.
struct PngDimensions {
    uint32_t width = 0;
    uint32_t height = 0;
};
std::optional<PngDimensions> readPngDimensions(ByteView file);

// Writes width x height grey bytes, top row first, as an 8-bit grey PNG (a note layer shown as
// a picture). Written through a file that replaces the target only when complete.
Status writeGreyPngFile(const std::string& path, const uint8_t* grey, uint32_t width,
                        uint32_t height);

} // namespace ombri
