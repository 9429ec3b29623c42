#pragma once

#include "core/dib.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Pictures that embed an ICC profile, made byte by byte so that the tests control exactly what
// the decoders meet.
namespace ombri::test {

// colord's Adobe RGB profile (Debian colord-data), whose name is kAdobeRgbDescription; empty
// when the file is missing.
extern const char* const kAdobeRgbProfilePath;
extern const char* const kAdobeRgbDescription;
std::vector<uint8_t> adobeRgbProfile();

// The PNG file with an iCCP chunk holding the profile, compressed, right after its header chunk.
std::vector<uint8_t> withPngColourProfile(const std::vector<uint8_t>& png,
                                          const std::vector<uint8_t>& profile);

// The JPEG file with the profile in APP2 markers right after its start-of-image marker, at most
// pieceBytes of it in each (65519 is the most one marker holds).
std::vector<uint8_t> withJpegColourProfile(const std::vector<uint8_t>& jpeg,
                                           const std::vector<uint8_t>& profile,
                                           size_t pieceBytes = 65519);

// Writes a 24-bit picture as an 8-bit RGB TIFF, top row first, with the profile in tag 34675
// (none when it is empty). False when libtiff refused.
bool writeTiffWithColourProfile(const std::string& path, const Dib& picture,
                                const std::vector<uint8_t>& profile);

// A 24-bit picture of width x height pixels in colours spread over the whole cube, so that a
// colour conversion changes most of them.
Dib makeColourfulImage(int32_t width, int32_t height);

} // namespace ombri::test
