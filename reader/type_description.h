#pragma once

#include <string>

namespace ombri::reader {

// The text after the last "." of a file name; empty when the name has no "." (and when it ends
// in one). The file list's Type column describes this part of the name.
std::string listedExtension(const std::string& fileName);

// The file list's Type text for an extension. Known extensions are matched by exact spelling,
// so "JPG" is a JPEG image while "Jpg" is not; an empty extension is a plain "File" and any
// other reads as the extension followed by " File".
std::string TypeDescription(const std::string& extension);

} // namespace ombri::reader
