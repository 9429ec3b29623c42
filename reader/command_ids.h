#pragma once

// The reader's command ids of the View, Color, File and Edit menus, numbered as its menus and
// toolbars have always numbered them. The Image menu's ids are in reader/adjustments.h.
namespace ombri::reader::cmd {

enum : int {
    FitWidth = 32777,
    FitHeight = 32778,
    ZoomOut = 32779,
    ZoomIn = 32780,
    OriginalSize = 32781,
    DisplayNotes = 32782,
    NextImage = 32786,
    PreviousImage = 32789,
    ColourSelected = 32790,
    ColourComplement = 32791,
    ColourBlack = 32792,
    ColourWhite = 32793,
    ColourGreen = 32795,
    ColourBlue = 32796,
    ColourRed = 32797,
    FitIn = 32808,
    Delete = 32810,
    AntiAliasing = 32832,
    HomePage = 32833,
    Print = 57607,
    PrintPreview = 57609,
};

} // namespace ombri::reader::cmd
