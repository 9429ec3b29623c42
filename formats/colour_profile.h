#pragma once

#include "core/bytes.h"
#include "core/dib.h"

#include <cstddef>
#include <string>

namespace ombri {

// The largest colour profile a decoder takes from a file. Camera, scanner and wide-gamut
// profiles, lookup tables included, stay far below; anything larger is passed over as if the
// file had none.
constexpr size_t kMaxColourProfileBytes = 4u * 1024 * 1024;

// The name an ICC profile gives itself ("Adobe RGB (1998)"), in printable ASCII on one line;
// empty when the bytes are no profile the colour engine can read or it names nothing.
std::string colourProfileDescription(ByteView profile);

// A copy of a 24- or 32-bit picture whose colours are described by the profile, converted to
// sRGB for the screen with the perceptual intent; the fourth byte of a 32-bit pixel stays as it
// was. Null when the profile cannot be read, is not an RGB profile, or gives no transform, when
// it describes sRGB itself (no colour would move by more than one step), when the picture has
// another depth, and when memory is short: the picture is then shown as stored.
Dib convertedToSrgb(const Dib& picture, ByteView profile);

} // namespace ombri
