#pragma once

#include "core/dib.h"

#include <cstdint>
#include <string>
#include <vector>

// ImageMagick as an independent encoder and decoder. Tests that need it skip when "convert" is
// not the real ImageMagick. Pictures are exchanged with it as PPM or PAM files, or as raw
// samples: top row first, red first.
namespace ombri::test {

// True when the first line of `convert -version` starts with "Version: ImageMagick". Asked once.
bool haveImageMagick();

// Runs `convert` with the arguments as a shell reads them. Empty when it succeeds; otherwise the
// command and what it printed, for a failure message.
std::string runConvert(const std::string& arguments);

// A binary PPM (P6) or PAM (P7) picture of 8-bit samples, channels samples a pixel.
struct Pixmap {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> samples;
};

// The picture in the file; all zero and empty when the file is no 8-bit PPM or PAM or holds
// fewer or more samples than its header says.
Pixmap readPixmap(const std::string& path);

void writePpm(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// The image as a PAM of 3 (RGB) or 4 (RGB_ALPHA, the fourth byte of each pixel) channels.
void writePam(const std::string& path, const Dib& image, int channels);

// A 24- or 32-bit image's pixels top row first, red, green, blue and, for 4 channels, the fourth
// byte.
std::vector<uint8_t> redFirstSamples(const Dib& image, int channels);

} // namespace ombri::test
