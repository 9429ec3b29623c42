#pragma once

#include "cli/commands.h"
#include "platform/prompt.h"
#include "reader/command_ids.h"
#include "reader/reader_document.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ombri::cli {

// A --color value: one of the reader's Color menu items, or a colour of one's own as the
// Selected item's dialog gives it.
struct RenderColour {
    int command = reader::cmd::ColourRed;
    std::optional<reader::NoteColour> chosen; // set for #RRGGBB, with command Selected
};

// What `ombri render` is asked to do besides reading and writing.
struct RenderOptions {
    bool hideNotes = false;
    std::optional<RenderColour> colour;
    bool complement = false;
    bool antiAliasing = true;
    std::vector<int> adjustments; // Image menu command ids, in the order given
};

// "red", "green", "blue", "black", "white" or "#RRGGBB"; nothing for anything else.
std::optional<RenderColour> parseRenderColour(const std::string& value);

// A comma list of auto-color, auto-contrast, invert, gray, red, green, blue, flip-h, flip-v,
// rot-cw, rot-ccw, as Image menu command ids; nothing when an item is unknown or empty.
std::optional<std::vector<int>> parseAdjustList(const std::string& value);

// Opens the input as the reader does, gives the reader's commands the options ask for and
// writes the picture the reader would show as a PNG: RGBA when the shown picture has 32 bits,
// RGB otherwise (colour tables applied). Unreadable input is told through the prompt.
Exit runRender(const std::string& input, const std::string& output, const RenderOptions& options,
               Prompt& prompt, std::ostream& err);

} // namespace ombri::cli
