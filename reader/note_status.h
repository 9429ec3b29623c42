#pragma once

#include "reader/reader_document.h"

#include <optional>
#include <string>

namespace ombri::reader {

// What the status bar says about the notes of the picture on show: how many note pixels it
// carries, that its note marker is damaged (so its notes cannot be read), or that its notes
// were found in a turned or mirrored picture. Empty without a picture.
std::string noteStatusText(const ReaderDocument& doc);

// Whether the picture in the file carries notes, as `ombri info` answers "notes:"; nothing when
// the file cannot be read as a picture. The whole picture is read: a marker that another program
// turned lies at any of its corners, and most formats reach the lower ones only by decoding
// every row before them.
std::optional<bool> fileCarriesNotes(const std::string& path);

} // namespace ombri::reader
