#include "writer/ui/writer_commands.h"

#include "writer/command_ids.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QStatusBar>
#include <QToolBar>

namespace ombri::writer {
namespace {

using Row = CommandRow<WriterWindow>;

struct ToolCommand {
    int id;
    Tool tool;
};
constexpr ToolCommand kToolCommands[] = {
    {cmd::TextTool, Tool::Text},
    {cmd::Erasure, Tool::Eraser},
    {cmd::FreehandPen, Tool::Pen},
    {cmd::LineTool, Tool::Line},
    {cmd::ArcTool, Tool::Arc},
    {cmd::RectangleTool, Tool::Rectangle},
    {cmd::RoundRectangleTool, Tool::RoundRectangle},
    {cmd::EllipseTool, Tool::Ellipse},
};

Tool toolOf(int id)
{
    for (const ToolCommand& tool : kToolCommands) {
        if (tool.id == id)
            return tool.tool;
    }
    return Tool::None;
}

bool hasPicture(WriterWindow& window, int)
{
    return window.view().hasPicture();
}

void colour(WriterWindow& window, int id)
{
    window.view().onCommand(id);
}

bool colourChecked(WriterWindow& window, int id)
{
    return window.view().inspect().colourCommand == id;
}

void chooseTool(WriterWindow& window, int id)
{
    window.view().onToolCommand(id);
}

bool toolChecked(WriterWindow& window, int id)
{
    return window.view().activeTool() == toolOf(id);
}

// The zoom keys zoom only while no tool is active, as Ctrl+wheel over the canvas does: the zoom
// commands end the tool, and a key pressed while drawing must not put the drawing down.
bool noToolActive(WriterWindow& window, int)
{
    return window.view().activeTool() == Tool::None;
}

void chooseLineWidth(WriterWindow& window, int id)
{
    window.setLineWidth(cmd::lineWidthOf(id));
}

bool lineWidthChecked(WriterWindow& window, int id)
{
    return window.view().lineWidth() == cmd::lineWidthOf(id);
}

void toggleBar(WriterWindow& window, QWidget* bar)
{
    bar->setVisible(!bar->isVisibleTo(&window));
}

constexpr Gap kSeparated = Gap::Separator;

// Menu texts and prompts as the writer has always shown them, with their misspellings and
// wrong capitals corrected; the spaces around the line break are the prompts' own, and go when
// the prompt is split.
constexpr Row kRows[] = {
    // File
    Row{cmd::FileOpen, "&Open...", "Open an existing image \n Open"}
        .inMenu(FileMenu)
        .keys({Qt::CTRL | Qt::Key_O})
        .button(MainToolBar, 10, "open")
        .rules([](WriterWindow& w, int) { w.onFileOpen(); }),
    Row{cmd::FileSave, "&Save", "Save the active image \n Save"}
        .inMenu(FileMenu)
        .keys({Qt::CTRL | Qt::Key_S})
        .button(MainToolBar, 20, "save")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::SaveAsLossless, "Save &As... (Lossless)",
        "Save the active image as a lossless image with a new name\nSave As Lossless"}
        .inMenu(FileMenu)
        .button(MainToolBar, 30, "save-lossless")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::SaveAsCompressed, "Save &As... (Compressed)",
        "Save the active image as a compressed image with a new name\nSave As Compressed"}
        .inMenu(FileMenu)
        .button(MainToolBar, 40, "save-compressed")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::SaveCleanCopy, "Save C&lean Copy…",
        "Save a copy of the active image without its notes with a new name\nSave Clean Copy"}
        .inMenu(FileMenu)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::FileClose, "&Close", "Close the active image \n Close"}
        .inMenu(FileMenu)
        .keys({Qt::CTRL | Qt::Key_W})
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::ImportNotes, "&Import Notes…",
        "Add the dark pixels of a picture of the same size to the notes\nImport Notes"}
        .inMenu(FileMenu, kSeparated)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::ExportNotes, "&Export Notes…",
        "Save the notes as a black-on-white PNG picture\nExport Notes"}
        .inMenu(FileMenu)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::Print, "&Print...", "Print the active image \n Print"}
        .inMenu(FileMenu, kSeparated)
        .keys({Qt::CTRL | Qt::Key_P})
        .button(MainToolBar, 50, "print")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::PrintPreview, "Print Pre&view", "Show the image as it will be printed\nPrint Preview"}
        .inMenu(FileMenu)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::PrintSetup, "P&rint Setup...", "Choose the printer and the page\nPrint Setup"}
        .inMenu(FileMenu)
        .rules([](WriterWindow& w, int) { w.onFilePrintSetup(); }),
    Row{cmd::Exit, "E&xit", "Quit the application; prompts to save the image \nExit"}
        .inMenu(FileMenu, Gap::RecentFiles)
        .keys({Qt::CTRL | Qt::Key_Q})
        .rules([](WriterWindow& w, int) { w.close(); }),

    // Edit
    Row{cmd::Undo, "&Undo", "Undo the last drawing or change of the notes\nUndo"}
        .inMenu(EditMenu)
        .actsOn([](WriterWindow& w, int) { return w.view().undoName(); })
        .keys({Qt::CTRL | Qt::Key_Z, Qt::ALT | Qt::Key_Backspace})
        .button(MainToolBar, 60, "undo", kSeparated)
        .rules([](WriterWindow& w, int) { w.view().onUndo(); },
               [](WriterWindow& w, int) { return w.view().canUndo(); }),
    Row{cmd::Redo, "&Redo", "Redo the drawing or change undone last\nRedo"}
        .inMenu(EditMenu)
        .actsOn([](WriterWindow& w, int) { return w.view().redoName(); })
        .keys({Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z})
        .button(MainToolBar, 70, "redo")
        .rules([](WriterWindow& w, int) { w.view().onRedo(); },
               [](WriterWindow& w, int) { return w.view().canRedo(); }),
    Row{cmd::Cut, "Cu&t", "Copy the image as shown to the Clipboard\nCut"}
        .inMenu(EditMenu, kSeparated)
        .keys({Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete})
        .rules([](WriterWindow& w, int) { w.view().onCut(); }),
    Row{cmd::Copy, "&Copy", "Copy the image as shown to the Clipboard\nCopy"}
        .inMenu(EditMenu)
        .keys({Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert})
        .rules([](WriterWindow& w, int) { w.view().onCopy(); }),
    Row{cmd::Paste, "&Paste", "Insert the Clipboard text with the text tool\nPaste"}
        .inMenu(EditMenu)
        .keys({Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert})
        .rules([](WriterWindow& w, int) { w.view().onPaste(); }),
    Row{cmd::ClearAll, "&Clear All", "Remove every note from the image\nClear All"}
        .inMenu(EditMenu, kSeparated)
        .rules([](WriterWindow& w, int) { w.view().onClearAll(); }, hasPicture),

    // View
    Row{cmd::DisplayNotes, "&Display Notes", "Display the notes on the image \nDisplay Notes"}
        .inMenu(ViewMenu)
        .button(MainToolBar, 80, "display-notes", kSeparated)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture,
               [](WriterWindow& w, int) { return w.view().inspect().showNotes; }),
    Row{cmd::OriginalSize, "&Original Size", "Keeps original image size \n Original Size"}
        .inMenu(ViewMenu, kSeparated)
        .keys({Qt::CTRL | Qt::Key_0}, noToolActive)
        .button(MainToolBar, 120, "original-size")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture,
               [](WriterWindow& w, int) { return w.view().inspect().zoom == 1.0f; }),
    Row{cmd::ZoomOut, "Zoom &Out", "Zoom out \n Zoom Out"}
        .inMenu(ViewMenu)
        .keys({Qt::CTRL | Qt::Key_Minus}, noToolActive)
        .button(MainToolBar, 100, "zoom-out")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    // Ctrl+= is where plus is without Shift on many keyboards.
    Row{cmd::ZoomIn, "Zoom &In", "Zoom in \n Zoom In"}
        .inMenu(ViewMenu)
        .keys({Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal}, noToolActive)
        .button(MainToolBar, 110, "zoom-in")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture),
    Row{cmd::FitIn, "&Fit In", "The image fits in with the frame \n Fit In"}
        .inMenu(ViewMenu)
        .button(MainToolBar, 90, "fit-in")
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture,
               [](WriterWindow& w, int) { return w.view().inspect().fit; }),

    // Color: the colour the notes are drawn in, then the background.
    Row{cmd::Selected, "&Selected", "The color selected by customers"}
        .inMenu(ColourMenu)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }, hasPicture, colourChecked),
    Row{cmd::Black, "&Black", "Black Color"}
        .inMenu(ColourMenu)
        .rules(colour, hasPicture, colourChecked),
    Row{cmd::White, "&White", "White Color"}
        .inMenu(ColourMenu)
        .rules(colour, hasPicture, colourChecked),
    Row{cmd::Red, "&Red", "Red Color"}.inMenu(ColourMenu).rules(colour, hasPicture, colourChecked),
    Row{cmd::Green, "&Green", "Green Color"}
        .inMenu(ColourMenu)
        .rules(colour, hasPicture, colourChecked),
    Row{cmd::Blue, "Bl&ue", "Blue Color"}
        .inMenu(ColourMenu)
        .rules(colour, hasPicture, colourChecked),
    Row{cmd::Background, "B&ackground", "Set the color of background"}
        .inMenu(ColourMenu, kSeparated)
        .rules([](WriterWindow& w, int id) { w.view().onCommand(id); }),

    // Tools
    Row{cmd::FontSetting, "Font &Setting", "Set the font for text tool"}.inMenu(ToolsMenu).rules(
        [](WriterWindow& w, int) { w.view().onFontSetting(); },
        [](WriterWindow& w, int) {
            return w.view().hasPicture() && w.view().activeTool() == Tool::Text;
        }),
    Row{cmd::TextTool, "&Text Tool", "Choose text writing tool\n Text Tool"}
        .inMenu(ToolsMenu, kSeparated)
        .button(PaintToolBox, 10, "text")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::Erasure, "&Erasure", "Choose erasure tool\n Erasure Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 20, "eraser")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::FreehandPen, "&Freehand Pen", "Choose freehand drawing tool\n Pen Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 30, "pen")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::LineTool, "&Line Tool", "Choose line drawing tool\nLine Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 40, "line")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::ArcTool, "&Arc Tool", "Choose arc drawing tool\n Arc Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 50, "arc")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::RectangleTool, "&Rectangle Tool", "Choose rectangle drawing tool\n Rectangle Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 60, "rectangle")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::RoundRectangleTool, "R&ound-Rectangle Tool",
        "Choose round-rectangle drawing tool\n Round-Rectangle Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 70, "round-rectangle")
        .rules(chooseTool, hasPicture, toolChecked),
    Row{cmd::EllipseTool, "&Ellipse Tool", "Choose ellipse drawing tool\n Ellipse Tool"}
        .inMenu(ToolsMenu)
        .button(PaintToolBox, 80, "ellipse")
        .rules(chooseTool, hasPicture, toolChecked),

    // Option
    Row{cmd::Toolbar, "&Toolbar", "Show or hide the toolbar\nToggle Toolbar"}
        .inMenu(OptionMenu)
        .rules([](WriterWindow& w, int) { toggleBar(w, w.mainToolBar()); }, nullptr,
               [](WriterWindow& w, int) { return w.mainToolBar()->isVisibleTo(&w); }),
    Row{cmd::StatusBar, "&Status Bar", "Show or hide the status bar\nToggle Status Bar"}
        .inMenu(OptionMenu)
        .rules([](WriterWindow& w, int) { toggleBar(w, w.statusBar()); }, nullptr,
               [](WriterWindow& w, int) { return w.statusBar()->isVisibleTo(&w); }),
    Row{cmd::PaintToolBox, "&Paint Tool Box",
        "Show or hide the paint tool box \n Toggle Paint Tool Box"}
        .inMenu(OptionMenu)
        .rules([](WriterWindow& w, int) { w.onPaintToolBox(); }, nullptr,
               [](WriterWindow& w, int) { return w.paintToolBox()->isVisibleTo(&w); }),
    Row{cmd::LineWidth1, "&1 Pixel", "Draw lines and figures 1 pixel wide\nLine Width 1"}
        .inSubmenu(OptionMenu, "Line &Width", kSeparated)
        .rules(chooseLineWidth, nullptr, lineWidthChecked),
    Row{cmd::LineWidth2, "&2 Pixels", "Draw lines and figures 2 pixels wide\nLine Width 2"}
        .inSubmenu(OptionMenu, "Line &Width")
        .rules(chooseLineWidth, nullptr, lineWidthChecked),
    Row{cmd::LineWidth3, "&3 Pixels", "Draw lines and figures 3 pixels wide\nLine Width 3"}
        .inSubmenu(OptionMenu, "Line &Width")
        .rules(chooseLineWidth, nullptr, lineWidthChecked),
    Row{cmd::LineWidth5, "&5 Pixels", "Draw lines and figures 5 pixels wide\nLine Width 5"}
        .inSubmenu(OptionMenu, "Line &Width")
        .rules(chooseLineWidth, nullptr, lineWidthChecked),
    Row{cmd::LineWidth8, "&8 Pixels", "Draw lines and figures 8 pixels wide\nLine Width 8"}
        .inSubmenu(OptionMenu, "Line &Width")
        .rules(chooseLineWidth, nullptr, lineWidthChecked),

    // Info
    Row{cmd::Help, "Help", "Explain Ombri images and OmbriTools\nHelp"}
        .inMenu(InfoMenu)
        .keys({Qt::Key_F1})
        .rules([](WriterWindow& w, int) { w.onHelp(); }),
    Row{cmd::HomePage, "Home &Page", "Visit the OmbriTools home page\nHome Page"}
        .inMenu(InfoMenu, kSeparated)
        .rules([](WriterWindow& w, int) { w.onHomePage(); }),
    Row{cmd::About, "&About OmbriWriter ...", "Show the version and the support address\nAbout"}
        .inMenu(InfoMenu)
        .rules([](WriterWindow& w, int) { w.onAppAbout(); }),

    // Without a menu item. The eraser-size box is no button: its command only carries the rule
    // that enables the box.
    Row{cmd::FileNew, "&New", "Start again with an empty window\nNew"}
        .keys({Qt::CTRL | Qt::Key_N})
        .rules([](WriterWindow& w, int) { w.onFileNew(); }),
    Row{cmd::EraserSize, "", "Set the size of erasure \n Erasure Size"}.rules(
        nullptr,
        [](WriterWindow& w,
           int) { return w.view().hasPicture() && w.view().activeTool() == Tool::Eraser; }),
};

} // namespace

QStringList writerMenuTitles()
{
    return {QStringLiteral("&File"),  QStringLiteral("&Edit"),  QStringLiteral("&View"),
            QStringLiteral("&Color"), QStringLiteral("&Tools"), QStringLiteral("&Option"),
            QStringLiteral("I&nfo")};
}

void addWriterCommands(CommandTable& table, WriterWindow& window)
{
    table.setMenuIcons(MenuIcons::Hidden);
    table.addRows(window, kRows);
}

} // namespace ombri::writer
