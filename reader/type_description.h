#pragma once

#include <string>

namespace ombri::reader {

// The file list's Type text for an extension (FileExtension of the name). A picture format's
// extensions match in any case and give the format's own text where it has one; other known
// extensions match by exact spelling, so "CPL" is a control panel extension while "cpl" is not.
// An empty extension is a plain "File" and any other reads as the extension followed by " File".
std::string TypeDescription(const std::string& extension);

} // namespace ombri::reader
