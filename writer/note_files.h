#pragma once

#include "core/dib.h"
#include "core/result.h"
#include "notes/carrier.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ombri::writer {

class SavableWriterDocument;

// Notes as pictures another program can draw or read: the note layer written out as a mask, and
// a mask read back in as notes. The writer's File menu and the command line share them, so that
// a mask made by one is read the same way by the other.

// Writes the note layer as an 8-bit grey PNG the size of the picture: black where there is a
// note, white elsewhere, the picture's top row first.
Status writeNoteLayerPng(const std::string& path, const NoteLayer& notes, uint32_t width,
                         uint32_t height);

// A picture read as notes: a pixel is a note when it is dark (the mean of its red, green and
// blue under 128) and, where the picture has an alpha channel, mostly opaque (alpha 128 or
// more). The notes are in the note layer's row order, bottom row first.
struct NoteMask {
    NoteLayer notes;
    int32_t width = 0;
    int32_t height = 0;
};

// Empty when the picture's pixels cannot be brought to 32 bits.
std::optional<NoteMask> noteMaskFromPicture(const Dib& picture);

// File Export Notes: the save dialog, then the note layer as a mask PNG. A picture without a
// single note is told so, and nothing is asked or written; the picture's own file, by any name,
// is refused. True when the file was written.
bool exportNotes(SavableWriterDocument& doc);

// File Import Notes: the open dialog, then every note of the chosen mask joins the notes at once,
// as a finished drawing does. A file that cannot be read, or a mask of another size than the
// picture, is reported and changes nothing. True when notes were added.
bool importNotes(SavableWriterDocument& doc);

} // namespace ombri::writer
