#pragma once

#include "core/dib.h"
#include "notes/carrier.h"

#include <cstdint>

namespace ombri::reader {

// The adjustment code: which colour operation runs first.
constexpr int32_t kCodeNone = 0;         // a channel view is on
constexpr int32_t kCodeAutoColour = 133; // Auto Color
constexpr int32_t kCodeOriginal = 139;   // neither

// The adjustment flags.
enum AdjustmentFlag : uint16_t {
    kFlagRed = 0x0002,
    kFlagGreen = 0x0004,
    kFlagBlue = 0x0008,
    kFlagAutoContrast = 0x0010,
    kFlagInvert = 0x0020,
    kFlagBlackAndWhite = 0x0080,
    kFlagFlipHorizontal = 0x0100,
    kFlagFlipVertical = 0x0200,
    kFlagRotatedClockwise = 0x0400,
    kFlagRotatedAnticlockwise = 0x0800,
    kFlagRotated180 = 0x1000,
};

// The adjustments that move pixels rather than change their colours.
constexpr uint16_t kGeometricFlags = kFlagRotatedClockwise | kFlagRotatedAnticlockwise |
                                     kFlagRotated180 | kFlagFlipHorizontal | kFlagFlipVertical;

// How the picture on show is adjusted; it belongs to the document and outlives the picture.
struct Adjustments {
    int32_t code = kCodeOriginal;
    uint16_t flags = 0;

    // Carries out one command's change of state. False when nothing changed (Original with
    // nothing in force, Rotate 180, an unknown id): the view then need not repaint.
    bool apply(int command);
    // Menu rules. bitCount is the picture's, 0 without a picture.
    bool isEnabled(int command, uint16_t bitCount) const;
    bool isChecked(int command) const;
    // True when the picture is shown as it is (no colour operation, no flag).
    bool isIdentity() const { return (code == kCodeNone || code == kCodeOriginal) && flags == 0; }
};

// Applies every adjustment in force, in the fixed order (auto colour, channels, black and white,
// invert, auto contrast, rotation, horizontal flip, vertical flip), to the display copy (whose
// block a rotation may replace) and to the note copy (may be null; rotations exchange its width
// and height along with the picture's).
void ApplyAdjustments(Dib& display, int32_t code, uint16_t flags, NoteLayer* notes);

// The display copy of a picture with every adjustment in force: the same bytes as a clone
// followed by ApplyAdjustments, but a quarter turn reads straight from the picture, so at no time
// are two copies of it held. When notes is given, noteCopy receives the layer moved with the
// pixels (in its own memory when that is large enough). spare, a block no longer wanted (the last
// display copy), becomes the copy when it can hold it and is let go first otherwise. Null when the
// copy cannot be had.
Dib makeAdjustedCopy(const Dib& image, int32_t code, uint16_t flags, const NoteLayer* notes,
                     NoteLayer* noteCopy, Dib spare = Dib());

// The single steps, for tests and benchmarks. Colour steps act on 24- and 32-bit pictures only
// and never touch the fourth byte; geometric steps act on 8-, 24- and 32-bit pictures and move
// the note copy with the pixels.
void AutoColor(Dib& image);
void AutoContrast(Dib& image);
void InvertColors(Dib& image);
void Grayscale(Dib& image);
void ShowChannels(Dib& image, uint16_t channelFlags);
void FlipHorizontal(Dib& image, NoteLayer* notes);
void FlipVertical(Dib& image, NoteLayer* notes);
enum class Rotation { Clockwise, Anticlockwise, HalfTurn };
// False when the rotation was skipped (the new block could not be had); nothing changed then.
// A quarter turn needs a second block: spare, when given and able to hold the turned picture, is
// that block, and receives the old one in exchange.
bool RotateImage(Dib& image, NoteLayer* notes, Rotation rotation, Dib* spare = nullptr);

} // namespace ombri::reader
