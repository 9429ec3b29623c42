#pragma once

#include <string>
#include <vector>

// exiftool as another program that tags pictures with an orientation, as cameras and photo
// tools do. Tests that need it skip when it is not installed.
namespace ombri::test {

// True when `exiftool -ver` answers. Asked once.
bool haveExiftool();

// Runs exiftool with the arguments as a shell reads them. Empty when it succeeds; otherwise the
// command and what it printed, for a failure message.
std::string runExiftool(const std::string& arguments);

// Sets the orientation tag (1 to 8) of each picture in place: IFD0 of a TIFF, the EXIF APP1
// marker of a JPEG, the eXIf chunk of a PNG. Empty when it succeeds, as runExiftool.
std::string tagOrientation(const std::vector<std::string>& paths, int orientation);

// The orientation tag as exiftool reads it from the file, as a number ("6"); empty when the file
// has none.
std::string orientationTagOf(const std::string& path);

} // namespace ombri::test
