#pragma once

#include "notes/render.h"

#include <optional>
#include <string>

namespace ombri::reader {

// The reader's only configuration: the background colours of its three panes, kept in
// "setting.dat" as six lines, keyword then unsigned decimal colour, in the order left, middle,
// right. Colours are 0x00BBGGRR.
struct ReaderSettings {
    ColourRef left = 0xFFFFFF;   // folder tree
    ColourRef middle = 0xFFFFFF; // file list
    ColourRef right = 0xFFFFFF;  // image view
    bool operator==(const ReaderSettings& other) const
    {
        return left == other.left && middle == other.middle && right == other.right;
    }
    bool operator!=(const ReaderSettings& other) const { return !(*this == other); }
};
using PaneColours = ReaderSettings;

// What the panes show before any settings file is read.
constexpr ReaderSettings kBuiltInPaneColours{0xFFFFFF, 0xFFFFFF, 0xFF8080};

constexpr const char* kSettingsFileName = "setting.dat";
constexpr const char* kLeftColourKeyword = "ColorBKGLeft";
constexpr const char* kMiddleColourKeyword = "ColorBKGMiddle";
constexpr const char* kRightColourKeyword = "ColorBKGRight";

// The process's current directory. Taken once at the end of start-up, after a file named on the
// command line has been opened (which moves into that file's folder), so the settings belong to
// the folder the program started in or was pointed at, not to the program's own folder.
std::string settingsDirectory();

// The settings file inside a settings directory.
std::string settingsFilePath(const std::string& directory);

// The colours of a settings file; nothing when it cannot be opened or read, and the panes then
// keep their built-in colours. A readable file is always applied: three words are read in turn,
// and each must be its keyword, in the order left, middle, right, to give its colour the number
// that follows. A word in the wrong place leaves its colour white and is used up, so that its
// number is taken as the next keyword. A number that cannot be read stops the reading and leaves
// that colour and the ones after it white.
//
// The frame applies the result in the order middle (file list), left (folder tree), right
// (image view).
std::optional<ReaderSettings> loadSettings(const std::string& path);

// Writes the six lines, ended by line feeds only, replacing the file only once all of it is
// written. False when it cannot be written; nobody is told.
bool saveSettings(const std::string& path, const ReaderSettings& colours);

} // namespace ombri::reader
