#pragma once

#include "core/dib.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ombri {

// One byte per pixel, width x height, rows bottom first like the image's own rows; 1 marks a
// note pixel, 0 a plain one.
using NoteLayer = std::vector<uint8_t>;

// Where the writer puts the note when it saves: the alpha byte of a four-channel file, or the low
// bit of the blue byte of a three-channel file. The numbers are the document's own values.
enum class SaveDepth : int32_t { Alpha32 = 201, Bits24 = 202 };

inline uint16_t bitCountOf(SaveDepth depth)
{
    return depth == SaveDepth::Alpha32 ? 32 : 24;
}

constexpr size_t kSignatureBytes = 23;
constexpr uint8_t kSignatureLead[3] = {101, 103, 105};

// A carrier byte moves by at most 1: even for a note pixel, odd for a plain one.
inline void SetNoteBit(uint8_t note, uint8_t& carrier)
{
    carrier = static_cast<uint8_t>((carrier & 0xFE) | (note != 1 ? 1 : 0));
}

// Marks the 23 bytes at the start of a row. The caller makes sure the row holds them.
void WriteOmbriSignature(uint8_t* row);

// The marker as the writer lays it over a row of its own pictures: in a 32-bit row wide enough,
// the blue byte of pixel 6, just past the marker's run, is also made even. Should another
// program drop the alpha channel, the colour bytes left behind then never read as a 24-bit
// marker, and the picture's own blue low bits are never taken for notes.
void writeCarrierSignature(uint8_t* row, int32_t width, uint16_t bitCount);

// The same marker laid over the first eight entries of the blue, green and red planes of a
// planar file; the caller makes sure each plane row holds eight bytes.
void WritePlanarOmbriSignature(uint8_t* blue, uint8_t* green, uint8_t* red);

// A row narrower than 23 pixel bytes (24-bit images under 8 pixels wide, 32-bit under 6) has no
// room for the marker; such images are saved and read without one.
bool rowHoldsSignature(int32_t width, uint16_t bitCount);

// A new image in the save depth's bit count with every carrier byte set from the note layer.
// Null for images other than 24- and 32-bit ones, or a note layer of the wrong size.
Dib MakeCarrierCopy(const Dib& image, const NoteLayer& notes, SaveDepth depth);

// The rows of the copy MakeCarrierCopy makes, one at a time as a writer asks for them, so that a
// save holds a few rows of the copy instead of a second whole picture. Reads the picture and the
// note layer it was made from, which must outlive it and stay as they are.
class CarrierRows {
  public:
    // Nothing where MakeCarrierCopy would make no copy.
    static std::optional<CarrierRows> of(const Dib& image, const NoteLayer& notes, SaveDepth depth);

    // The row, in memory order (0 is the bottom row), that gets the writer's marker when it holds
    // one; no row gets it unless this is called.
    void markRow(size_t row);

    int32_t width() const { return m_source.width; }
    int32_t height() const { return m_source.height; }
    uint16_t bitCount() const { return m_bitCount; }
    size_t rowBytes() const { return static_cast<size_t>(m_source.width) * (m_bitCount / 8u); }

    // Row `row` in memory order, the bytes MakeCarrierCopy gives it (the marker added), into
    // `out`, which holds rowBytes(). Safe to call from several threads at once.
    void copyRow(size_t row, uint8_t* out) const;

  private:
    using RowCopy = void (*)(const uint8_t*, const uint8_t*, size_t, uint8_t*);

    CarrierRows(const Dib& image, const DibLayout& source, const NoteLayer& notes,
                uint16_t bitCount);

    const uint8_t* m_pixels;
    DibLayout m_source;
    const uint8_t* m_notes;
    uint16_t m_bitCount;
    RowCopy m_rowCopy;
    std::optional<size_t> m_markedRow;
};

// Sets the low bit of byte 3 of every pixel of a 32-bit buffer from the note layer; the row's
// tail beyond width x 4 bytes is left alone. Rows of the buffer follow the note layer's order.
void MarkAlphaNotes(uint8_t* buffer, size_t width, size_t height, size_t rowLength,
                    const uint8_t* notes);

// Looks for the marker at the start of the first row in memory (signatureRowFlag false: BMP)
// or the last (true: every other format). Only 24- and 32-bit images can carry it.
bool HasOmbriSignature(const Dib& image, bool signatureRowFlag);

// How a picture lies relative to the one its format's writer made, named by what another program
// did to it: mirrored left-right, flipped top-bottom, turned clockwise by 90, 180 or 270 degrees,
// transposed (mirrored across the diagonal from the top-left corner) or transversed (across the
// other diagonal).
enum class Orientation : uint8_t {
    Normal,
    Mirrored,
    Flipped,
    Turned90,
    Turned180,
    Turned270,
    Transposed,
    Transversed
};
constexpr int kOrientationCount = 8;

// "normal", "mirrored", "flipped", "turned-90", "turned-180", "turned-270", "transposed",
// "transversed".
const char* orientationName(Orientation orientation);

// What another program did to the picture, for a user to read after "found in": "a mirrored
// picture", "a picture turned 90° clockwise" and so on; "the picture" for Normal.
const char* turnedPictureDescription(Orientation orientation);

// Whether a picture carries the marker: intact, damaged (its three lead bytes are in a corner but
// the run of odd bytes that follows them is broken in both directions), or none at all.
enum class SignatureState : uint8_t { None, Damaged, Intact };

// "none", "damaged", "intact".
const char* signatureStateName(SignatureState state);

// The two ways the marker is laid: over the interleaved bytes of a row (BMP, PNG, TIFF), or over
// the blue, green and red planes (SGI), which leaves a fourth channel out.
enum class SignatureForm : uint8_t { Interleaved, Planar };

// The byte of each pixel whose low bit is the note: the blue one in a three-channel carrier, the
// alpha one in a four-channel carrier. A 24-bit carrier that another program gave an alpha
// channel keeps its notes in blue.
enum class CarrierByte : uint8_t { Blue, Alpha };

// "blue", "alpha".
const char* carrierByteName(CarrierByte carrier);

struct SignatureFind {
    SignatureState state = SignatureState::None;
    Orientation orientation = Orientation::Normal; // where an intact or damaged marker lies
    CarrierByte carrier = CarrierByte::Blue;       // where the notes are, when intact

    bool intact() const { return state == SignatureState::Intact; }
};

// Looks for the marker where the format's writer puts it first, then where each of the seven
// other orientations of the picture would have moved it: in one of the four corners, along the
// row or down the column. Every place is checked as strictly as the normal one (three exact bytes
// and twenty odd ones), so a plain picture is taken for a carrier no more often than before in
// each place. Only 24- and 32-bit images can carry the marker.
//
// A 32-bit picture is read both ways: with the marker over its four bytes per pixel (the alpha
// carrier of BMP, PNG and TIFF) and over its colour bytes alone (a 24-bit carrier that gained an
// alpha channel, and SGI's planes). When both hold in the same place and every alpha byte is
// 255, the notes are in blue; otherwise the four-byte marker's notes are in alpha. Where the
// colour bytes hold the marker, the blue low bits are taken for notes only when they look like a
// note layer (blueBitsLookLikeNotes), and never when the run is broken just past a four-byte
// marker by an even blue byte (writeCarrierSignature): the picture's own low bits under a marker
// that lost its alpha channel are never shown as notes.
// A BMP's marker along its top row, where other programs' copies of carriers put it, counts as
// normal too.
SignatureFind findOmbriSignature(const Dib& image, bool signatureRowFlag, SignatureForm form);

// Whether the low bits of the blue bytes of a 24- or 32-bit picture read as a note layer. In a
// carrier every plain pixel's blue byte is odd, whatever its green and red bytes, and notes are
// whole strokes; in a picture's own bytes the low bits of blue follow those of green and red
// (grey) or are as often even as odd and change from pixel to pixel (texture, noise). Only pixels
// where blue, not clipped at 0 or 255, changes by 2 or more from the pixel to the left are
// weighed. Among those whose green and red bytes are both even, at most 40% may be even in blue;
// up to 90% where the blue low bit keeps its value from one such pixel to the next at least 70%
// of the time (notes over much of the picture). Where too few such pixels are left to judge (flat
// pictures, small ones), at most 90% of the picture may be even in blue: notes that cover a
// picture whole are no drawing.
bool blueBitsLookLikeNotes(const Dib& image);

// Sets a 1 in the note layer (created zero-filled when absent) for every pixel whose carrier
// byte is even. Never clears a note. Does nothing for other depths. The carrier byte is the
// blue one of a 24-bit picture; a 32-bit picture's is the one given.
void ExtractNoteLayer(const Dib& image, std::optional<NoteLayer>& notes,
                      CarrierByte carrier = CarrierByte::Alpha);

// Forces every carrier byte of a 24- or 32-bit image odd, so the image carries no note.
void ClearCarrier(Dib& image);

// Takes the marker out of a picture whose notes are being cleared, wherever another program may
// have moved it: a corner pixel whose blue, green and red bytes read 101, 103, 105 gets green 102.
// ClearCarrier leaves the marker's bytes odd, so without this a cleared picture would still be
// taken for a carrier (with no notes) when saved where its old marker is read. Green is no
// carrier byte, so no note appears.
void eraseOmbriSignatures(Dib& image);

size_t countNotePixels(const NoteLayer& notes);

} // namespace ombri
