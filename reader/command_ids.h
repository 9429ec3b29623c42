#pragma once

// Every command id of the reader, numbered as its menus and toolbars have always numbered them.
// The document, the panes and the window all serve commands under these ids.
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

    // The Image menu and the "Image Tools" toolbar.
    AutoColour = 133,
    AutoContrast = 134,
    FlipHorizontal = 135,
    InvertColour = 137,
    BlackAndWhite = 138,
    Original = 139,
    ChannelRed = 140,
    ChannelGreen = 141,
    ChannelBlue = 142,
    FlipVertical = 146,
    RotateClockwise = 154,
    RotateAnticlockwise = 155,
    Rotate180 = 156,

    // Served by the main window itself.
    NewFolder = 32840,
    FullScreen = 32841,
    ImageTools = 32842,
    TreeAndListView = 32843,
    TreeView = 32844,
    ListView = 32845,
    Customize = 32846,
    LeftForeground = 32847,
    LeftBackground = 32848,
    RightBackground = 32849,
    Thumbnails = 32850,
    ThumbnailsSmall = 32851,
    ThumbnailsMedium = 32852,
    ThumbnailsLarge = 32853,
    Refresh = 32860,
    SmoothShrinking = 32870,
    FileNew = 57600,
    FileOpen = 57601,
    PrintSetup = 57606,
    RecentFileFirst = 57616,
    Copy = 57634,
    NextPane = 57680,
    PreviousPane = 57681,
    Cut = 57635,
    Paste = 57637,
    About = 57664,
    Exit = 57665,
    Help = 57670,
    Toolbar = 59392,
    StatusBar = 59393,
};

// The Color menu's items, the colour the notes are shown in; Selected asks for the colour first.
constexpr bool isColourMenuCommand(int command)
{
    switch (command) {
    case ColourSelected:
    case ColourComplement:
    case ColourBlack:
    case ColourWhite:
    case ColourGreen:
    case ColourBlue:
    case ColourRed:
        return true;
    default:
        return false;
    }
}

} // namespace ombri::reader::cmd
