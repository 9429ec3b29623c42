#pragma once

#include "reader/reader_document.h"

#include <string>

namespace ombri::reader {

// What the status bar says about the notes of the picture on show: how many note pixels it
// carries, that its note marker is damaged (so its notes cannot be read), or that its notes
// were found in a turned or mirrored picture. Empty without a picture.
std::string noteStatusText(const ReaderDocument& doc);

} // namespace ombri::reader
