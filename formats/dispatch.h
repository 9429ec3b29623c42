#pragma once

#include "core/dib.h"
#include "core/result.h"
#include "formats/format_message.h"
#include "formats/format_table.h"
#include "formats/orientation.h"
#include "notes/carrier.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri {

// The name a user reads ("PNG", "Cineon"), or "unknown" for no format.
const char* formatName(const ImageFormat* format);

// What one load produced.
struct LoadedImage {
    Dib image;                    // null when nothing was loaded
    bool signatureRowFlag = true; // false only for BMP: the marker lies in the first row
    const ImageFormat* format = nullptr;
    std::optional<NoteLayer> noteLayer;   // filled by readers that carry notes in pixel words
    std::vector<uint32_t> pixelWords;     // the words of a DPX or Cineon file, top row first
    std::string error;                    // why nothing was loaded
    FormatMessages messages;              // what the reader has to tell the user (JPEG errors)
    bool tooLarge = false;                // refused by CheckLoadedImage: kTooLargeMessage is due
    std::vector<uint32_t> displayPalette; // the colour table as drawn; empty for true colour
    SignatureFind signature;              // the marker, as loadCheckedImage found it
    bool declaresAlpha = false;           // the file says its fourth channel is opacity
    std::vector<uint8_t> colourProfile;   // the embedded ICC profile, empty when there is none
    // The file's orientation tag (formats/orientation.h): how its stored rows were turned to give
    // image, which loadCheckedImage stands upright.
    int orientation = kStoredAsShown;
};

// The marker of an SGI file lies over its colour planes; every other carrier interleaves it.
SignatureForm signatureFormOf(const ImageFormat* format);

// Picks the reader by the extension of the path and loads the file.
LoadedImage LoadImageByExtension(const std::string& path);

// Shown when a loaded image has a negative width or height; ends with a full-width "!".
extern const char* const kTooLargeMessage;

enum class ImageCheck { Ok, NoImage, TooLarge };

// Refuses impossible sizes after a load: an image whose width or height is negative (a BMP
// stored top-down, for instance) is freed and TooLarge answered; the caller shows
// kTooLargeMessage.
ImageCheck CheckLoadedImage(Dib& image);

// The open sequence both programs share: load by extension, refuse impossible sizes, stand the
// picture upright as its orientation tag says, and find the notes (the marker in the row the
// format names, or a DPX/Cineon file's own note bits). The notes of a tagged carrier are found
// in the upright picture, where the turn has moved them, as if another program had turned its
// pixels. On failure the image is null and error (and tooLarge) say why.
LoadedImage loadCheckedImage(const std::string& path);

// Whether a loaded picture carries notes: an intact marker, or (DPX and Cineon, which keep a
// layer for every picture) at least one note bit set in the pixel words. What `ombri info`
// answers as "notes:", and what the reader's file list shows.
bool carriesNotes(const LoadedImage& loaded);

// Whether a loaded picture is to be seen through somewhere: its file declares alpha, it kept
// the alpha as the fourth byte of 32-bit pixels, and some pixel is less than opaque. Alpha 254
// counts as opaque, since a carrier's note pixels have it and must never look faded.
bool hasSeeThroughPixels(const LoadedImage& loaded);

} // namespace ombri
