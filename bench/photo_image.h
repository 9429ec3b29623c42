#pragma once

#include "core/dib.h"
#include "notes/carrier.h"

#include <cstdint>
#include <string>

namespace ombri::bench {

// A small fast generator, so that every picture made from a seed has the same bytes everywhere.
struct SplitMix64 {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; } // [0, 1)
    int range(int low, int high) { return low + static_cast<int>(uniform() * (high - low + 1)); }
};

constexpr int32_t kPhotoWidth = 6000;
constexpr int32_t kPhotoHeight = 4000;

// A 24-bit picture that compresses like a photograph: smooth gradients, a few objects with hard
// edges and low-amplitude sensor-like noise on every channel. The same bytes on every run.
Dib makePhotoImage(int32_t width = kPhotoWidth, int32_t height = kPhotoHeight);
// The same kind of scene drawn from another seed, with noise of the given standard deviation in
// 8-bit levels (1 for a clean picture, 8 for a grainy one).
Dib makePhotoImage(int32_t width, int32_t height, uint64_t seed, double noiseSigma);

// A 24-bit picture that compresses like a screen: the README's screenshots tiled side by side on
// a flat grey, as many times as it takes to fill the size.
Dib makeScreenshotImage(int32_t width = kPhotoWidth, int32_t height = kPhotoHeight);

// Handwriting-like strokes (lines of short words and a few rings), one byte per pixel in the
// note layer's order; 1 marks a note.
NoteLayer makeNoteMask(int32_t width, int32_t height);
// The same strokes thinned to about `share` of the pixels (0.02 for 2%).
NoteLayer makeNoteMask(int32_t width, int32_t height, double share);

// Size of the pixel rows of a usable image (stride x height), 0 otherwise.
size_t pixelBytes(const Dib& image);

// libpng alone: a 24-bit (32-bit) image as an 8-bit RGB (RGBA) PNG with default compression and
// filters, blue first in memory (png_set_bgr), last row in memory first in the file. No temporary
// file and no fsync. False with error set on failure.
bool encodePngPlain(const Dib& image, const std::string& path, std::string& error);

// libpng alone: the whole file decoded, blue first, into one malloc'd buffer through row
// pointers. Answers the number of pixel bytes decoded, 0 on failure.
size_t decodePngPlain(const std::string& path);

// The carrier file the writer saves: the picture written plainly, opened as a document, the
// mask merged as notes, saved at the 24-bit depth. False with error set on failure.
bool writeCarrierPng(const Dib& image, const NoteLayer& mask, const std::string& plainPath,
                     const std::string& carrierPath, std::string& error);

// A new empty folder under TMPDIR (or /tmp); empty on failure.
std::string makeTempFolder(const char* prefix);
void removeFolder(const std::string& folder);

} // namespace ombri::bench
