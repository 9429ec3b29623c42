#pragma once

#include "core/bytes.h"
#include "core/dib.h"
#include "core/result.h"
#include "formats/format_message.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombri {

// Captions of the messages below. The library's fatal errors carry their own caption; the
// others are the program's own messages, whose caption the prompt fills in (empty here).
extern const char* const kJpegFatalErrorCaption; // "JPEG Fatal Error"

// A JPEG file as a 24-bit packed DIB: grey pictures as three equal bytes, CMYK and YCCK
// pictures converted to RGB (inverted CMYK when the file has an Adobe marker, as Adobe's
// programs write it).
//
// Nothing is shown from here: what the user should see is appended to messages (when given) and
// the caller shows it. A fatal error of the library (a file that is not a JPEG, an unsupported
// kind) appends {the library's message, "JPEG Fatal Error", error}; a file that cannot be opened
// appends {"JPEG :\nCan't open PATH\n", "", not an error}; an image that cannot be allocated
// appends {"JpegFile :\nOut of memory", "", error}. A file that ends early keeps the rows that
// were decoded (the library fills the rest), as the library does for every program.
//
// colourProfile, when given, receives the ICC profile of the file's APP2 markers: empty when
// there is none, its pieces do not fit together, or it is larger than kMaxColourProfileBytes.
// The picture comes as stored; orientation, when given, receives the EXIF orientation of the
// first APP1 marker holding EXIF data (formats/orientation.h), which the shared load applies.
Result<Dib> ReadJpegFile(const std::string& path, FormatMessages* messages = nullptr,
                         std::vector<uint8_t>* colourProfile = nullptr, int* orientation = nullptr);
Result<Dib> readJpegBytes(ByteView file, FormatMessages* messages = nullptr,
                          std::vector<uint8_t>* colourProfile = nullptr,
                          int* orientation = nullptr);

// The picture of a JPEG file for a thumbnail: decoded by the library at the smallest of 1/8,
// 1/4, 1/2 and full size whose longer side still reaches maxSide (full size when the picture is
// smaller than that), then turned and mirrored upright as the file's EXIF orientation says.
// width and height are those of the whole picture as it stands upright, for the labels of a
// thumbnail. Failures and messages are those of ReadJpegFile; a file too large to be opened
// whole is refused here too, and so is a maxSide below 1 (without a message: the caller's
// mistake, not the file's).
struct JpegThumbnailSource {
    Dib picture; // 24-bit, upright
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> colourProfile; // as ReadJpegFile hands it over
};
Result<JpegThumbnailSource> readJpegForThumbnail(const std::string& path, int maxSide,
                                                 FormatMessages* messages = nullptr);
Result<JpegThumbnailSource> readJpegBytesForThumbnail(ByteView file, int maxSide,
                                                      FormatMessages* messages = nullptr);

// Writes a 24- or 32-bit image (the fourth byte dropped) as a baseline YCbCr JPEG of quality
// 100, top row first. No notes survive: the caller has asked the user first. A file that cannot
// be created appends {"JpegFile :\nCan't open PATH\n", "", not an error}; a fatal error of the
// library appends its message under "JPEG Fatal Error". Written through a temporary file that
// replaces the target only when complete.
Status WriteJpegFile(const std::string& path, const Dib& image, FormatMessages* messages = nullptr);

} // namespace ombri
