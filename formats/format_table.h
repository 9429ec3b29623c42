#pragma once

#include "core/dib.h"
#include "core/result.h"
#include "formats/format_message.h"
#include "notes/carrier.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ombri {

struct LoadedImage;

// How a file of a format keeps the notes, which decides where a load looks for them and how a
// save lays them out.
enum class NoteForm {
    // The file keeps no notes: JPEG's compression loses the low bits, and GIF and PCX files are
    // never written. A load still looks for a marker, as in MarkerInLastRow.
    None,
    // Interleaved with the marker in the first row in memory: BMP keeps the bottom-up rows.
    MarkerInFirstRow,
    // Interleaved with the marker in the last row in memory, which is the file's top row.
    MarkerInLastRow,
    // One note bit per colour plane, the marker laid over the planes (SGI).
    PlanarMarker,
    // Bit 0 of every pixel word, without a marker (DPX and Cineon).
    PixelWordBits,
};

// Whether Previous Image and Next Image stop at files of the format.
enum class Stepping { Stepped, Skipped };

// Whether a picture saved without notes in the format keeps its own alpha channel. Whether a file
// read declares alpha is told file by file (LoadedImage::declaresAlpha): other 32-bit pictures
// carry a spare byte (the notes' carrier, say) that must not be shown as transparency.
enum class Alpha { Kept, None };

// What a save hands to a format's writer: the pixels as the format takes them (the marker
// already in place for the interleaved forms), and what some formats write themselves.
struct SaveInput {
    const Dib& pixels;
    const NoteLayer* notes = nullptr;                  // PlanarMarker and PixelWordBits only
    const std::vector<uint32_t>* pixelWords = nullptr; // the words a DPX or Cineon file came with
    FormatMessages* messages = nullptr;                // what the writer has to tell the user
};

using LoadFn = void (*)(const std::string& path, LoadedImage& out);
using SaveFn = Status (*)(const std::string& path, const SaveInput& input);
// A writer that takes the rows of a carrier as it goes, where the save can make them one at a time.
using SaveRowsFn = Status (*)(const std::string& path, const RowSource& rows);

constexpr size_t kMaxSpellings = 3;

// Everything the programs know about one kind of image file. The dispatch, the stepping list,
// the reader's Type column, thumbnails, the command-line help and the file dialogs read it
// from here; a unit test checks the documents against it.
struct ImageFormat {
    const char* name; // what `ombri info` and the dialogs call it: "PNG", "Cineon"
    // Every extension, in small letters, the one names are usually given first; matched in any
    // case. Unused places are null.
    std::array<const char*, kMaxSpellings> extensions;
    // The MIME types the desktop files declare, the registered one first.
    std::array<const char*, kMaxSpellings> mimeTypes;
    // The reader's Type column; null reads as the extension followed by " File", as for any
    // kind the list does not know.
    const char* typeText;
    Stepping stepping;
    NoteForm notes;
    Alpha alpha;
    LoadFn load;
    SaveFn save; // null: the programs read the format but never write it
    // Set where the format's writer writes what `save` does from rows made as it asks for them;
    // a save with notes then never holds a second whole copy of the picture.
    SaveRowsFn saveRows = nullptr;
};

// The formats by name, for code that treats one of them apart. A new format needs no name here
// unless some code does.
extern const ImageFormat kPngFormat;
extern const ImageFormat kBmpFormat;
extern const ImageFormat kTiffFormat;
extern const ImageFormat kSgiFormat;
extern const ImageFormat kDpxFormat;
extern const ImageFormat kCineonFormat;
extern const ImageFormat kJpegFormat;
extern const ImageFormat kWebpFormat;
extern const ImageFormat kAvifFormat;
extern const ImageFormat kHeifFormat;
extern const ImageFormat kJxlFormat;
extern const ImageFormat kGifFormat;
extern const ImageFormat kPcxFormat;

// Every format the programs read, in the order lists and dialogs show them.
struct ImageFormatList {
    const ImageFormat* const* first;
    const ImageFormat* const* last;
    const ImageFormat* const* begin() const { return first; }
    const ImageFormat* const* end() const { return last; }
    size_t size() const { return static_cast<size_t>(last - first); }
};
ImageFormatList imageFormats();

// The extension of a file name or path: the text after the last "." of the name (folders left
// out). A name without a "." has none, and one ending in "." an empty one.
std::string FileExtension(const std::string& fileName);

// Whether the two extensions are the same word, letters compared without regard to case.
bool sameExtension(std::string_view left, std::string_view right);

// The format an extension names, in any case; null for none.
const ImageFormat* loadFormatForExtension(std::string_view extension);

// The format of a file by the extension of its path; null for none.
const ImageFormat* formatOfPath(const std::string& path);

// The extensions of a format, the used places only.
std::vector<std::string> extensionsOf(const ImageFormat& format);

// Whether the format's file can carry notes when it is saved.
bool savesNotes(const ImageFormat& format);

// The Open dialog's filter of both programs, "Name|patterns|...": every format read, then each
// one, then every file.
std::string openFilter();

enum class SaveChoice { Any, KeepingNotes };

// A save dialog's filter: every format written, or those that keep the notes (the lossless
// ones), the first of them the one the dialog starts with.
std::string saveFilter(SaveChoice choice);

// The extensions of the formats written, ".png, .bmp, ..." for messages.
std::string savableExtensionList();

} // namespace ombri
