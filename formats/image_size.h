#pragma once

#include "core/result.h"
#include "formats/dispatch.h"

#include <cstdint>
#include <string>

namespace ombri {

// The size of the picture a file holds, read from its headers alone: a few small reads, nothing
// decoded and nothing allocated by the picture's size. A reader that must share memory with
// others learns so what decoding the file will take before it starts.
struct ImageSize {
    const ImageFormat* format = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    // A progressive JPEG: its decoder holds the coefficients of the whole picture, even when it
    // decodes a fraction of it.
    bool progressive = false;
};

// The format is chosen by the extension, as LoadImageByExtension chooses it, and the size is the
// one that format's reader takes: the stored one, whose sides the load exchanges for a picture
// whose orientation tag stands it on its side. Only a regular file is read. A failure, with the
// reason, for a file that cannot be read, a name of no picture kind, a format whose headers are not
// read here, or headers that make no sense; the size is not checked against any limit.
Result<ImageSize> probeImageSize(const std::string& path);

} // namespace ombri
