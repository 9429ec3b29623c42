#pragma once

// The writer's command ids, kept as the menus and toolbars have always numbered them.
namespace ombri::writer::cmd {

enum : int {
    LineTool = 32771,
    DisplayNotes = 32772,
    TextTool = 32773,
    RectangleTool = 32774,
    Erasure = 32775,
    EraserSize = 32776,
    FontSetting = 32777,
    Red = 32785,
    Selected = 32786,
    Black = 32787,
    White = 32788,
    Green = 32789,
    Blue = 32790,
    EllipseTool = 32791,
    FreehandPen = 32792,
    RoundRectangleTool = 32795,
    ArcTool = 32806,
    FitIn = 32807,
    ZoomOut = 32808,
    ZoomIn = 32809,
    OriginalSize = 32810,
    Background = 32815,
    SaveAsCompressed = 32817,
    SaveCleanCopy = 32820,
    ExportNotes = 32821,
    ImportNotes = 32822,
    LineWidth1 = 32840,
    LineWidth2 = 32841,
    LineWidth3 = 32842,
    LineWidth5 = 32843,
    LineWidth8 = 32844,
    FileNew = 57600,
    FileOpen = 57601,
    FileClose = 57602,
    FileSave = 57603,
    SaveAsLossless = 57604,
    PrintSetup = 57606,
    Print = 57607,
    PrintPreview = 57609,
    ClearAll = 57633,
    Copy = 57634,
    Cut = 57635,
    Paste = 57637,
    Undo = 57643,
    Redo = 57644,

    // Served by the main window itself.
    PaintToolBox = 32814,
    HomePage = 32819,
    RecentFileFirst = 57616,
    About = 57664,
    Exit = 57665,
    Help = 57670,
    Toolbar = 59392,
    StatusBar = 59393,
};

// The Line Width menu's items and the widths they choose, in menu order.
struct LineWidthItem {
    int command;
    int width;
};
inline constexpr LineWidthItem kLineWidthItems[] = {
    {LineWidth1, 1}, {LineWidth2, 2}, {LineWidth3, 3}, {LineWidth5, 5}, {LineWidth8, 8}};

// The item that chooses a width; 0 for a width the menu does not offer.
constexpr int lineWidthCommand(int width)
{
    for (const LineWidthItem& item : kLineWidthItems) {
        if (item.width == width)
            return item.command;
    }
    return 0;
}

// The width an item chooses; 1 for any other id.
constexpr int lineWidthOf(int command)
{
    for (const LineWidthItem& item : kLineWidthItems) {
        if (item.command == command)
            return item.width;
    }
    return 1;
}

} // namespace ombri::writer::cmd
