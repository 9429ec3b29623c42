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

} // namespace ombri::writer::cmd
