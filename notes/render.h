#pragma once

#include "core/dib.h"
#include "notes/carrier.h"

#include <cstdint>

namespace ombri {

// A colour as the programs pass it around: red + green x 2^8 + blue x 2^16.
using ColourRef = uint32_t;

constexpr ColourRef makeColourRef(uint8_t red, uint8_t green, uint8_t blue)
{
    return ColourRef{red} | (ColourRef{green} << 8) | (ColourRef{blue} << 16);
}
constexpr uint8_t colourRefRed(ColourRef colour)
{
    return static_cast<uint8_t>(colour);
}
constexpr uint8_t colourRefGreen(ColourRef colour)
{
    return static_cast<uint8_t>(colour >> 8);
}
constexpr uint8_t colourRefBlue(ColourRef colour)
{
    return static_cast<uint8_t>(colour >> 16);
}

// Anti-aliasing weight of every pixel: the 1-2-1 / 2-4-2 / 1-2-1 weighted share of note pixels
// in its 3 x 3 neighbourhood, normalised by the weights that fall inside the picture. The layer
// and the result are width x height, rows bottom first.
void ComputeNoteCoverage(const uint8_t* notes, int32_t width, int32_t height, float* coverage);

// Blends the colour into every pixel of a 24- or 32-bit image by its coverage (pixels at 0.01 or
// below are left alone). Alpha bytes never change; other depths are left alone.
void BlendNotes(Dib& display, ColourRef colour, const float* coverage);

// Note pixels take the colour; alpha bytes never change.
void PaintNotes(Dib& display, ColourRef colour, const uint8_t* notes);

// Note pixels show the complement of the picture (255 - value); alpha bytes never change.
void ComplementNotes(Dib& display, const uint8_t* notes);

// The anti-aliased rendering in one pass, without a whole-picture coverage buffer: the result
// equals ComputeNoteCoverage followed by BlendNotes byte for byte.
void blendNotesFromLayer(Dib& display, ColourRef colour, const uint8_t* notes);

// What the anti-aliased rendering makes of one colour byte (value) of a pixel whose 3 x 3
// neighbourhood has the weighted note count sum out of total: the same byte blendNotesFromLayer
// gives, for a 32-bit picture when withAlpha and a 24-bit one otherwise.
uint8_t blendedNoteByte(int sum, int total, uint8_t colour, uint8_t value, bool withAlpha);

} // namespace ombri
