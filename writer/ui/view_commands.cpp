#include "writer/ui/view_commands.h"

#include "writer/command_ids.h"
#include "writer/ui/writer_view.h"

namespace ombri::writer {

namespace {

struct ViewCommand {
    int id;
    const char* text; // menu text; "\t" separates the shortcut shown
    const char* prompt;
    bool bindsKey = true; // false: the shortcut is only shown
};

// Menu texts and prompts as the writer has always shown them.
constexpr ViewCommand kViewCommands[] = {
    {cmd::FileSave, "&Save\tCtrl+S", "Save the active image \n Save"},
    {cmd::SaveAsLossless, "Save &As... (Lossless)",
     "Save the active image as a lossless image with a new name\nSave As Lossless"},
    {cmd::SaveAsCompressed, "Save &As... (Compressed)",
     "Save the active image as a compressed image with a new name\nSave As Compressed"},
    {cmd::SaveCleanCopy, "Save C&lean Copy…",
     "Save a copy of the active image without its notes with a new name\nSave Clean Copy"},
    {cmd::FileClose, "&Close", "Close the active image \n Close"},
    {cmd::ImportNotes, "&Import Notes…",
     "Add the dark pixels of a picture of the same size to the notes\nImport Notes"},
    {cmd::ExportNotes, "&Export Notes…",
     "Save the notes as a black-on-white PNG picture\nExport Notes"},
    {cmd::Print, "&Print...\tCtrl+P", "Print the active image \n Print"},
    {cmd::PrintPreview, "Print Pre&view", ""},
    {cmd::Undo, "&Undo\tCtrl+Z", "Undo the drawing of the current tool\nUndo"},
    // Redo shows its key in the menu, but the writer has never bound one to it.
    {cmd::Redo, "&Redo\tCtrl+Y", "Redo the drawing undone last\nRedo", false},
    {cmd::Cut, "Cu&t\tCtrl+X", "Copy the image as shown to the Clipboard\nCut"},
    {cmd::Copy, "&Copy\tCtrl+C", "Copy the image as shown to the Clipboard\nCopy"},
    {cmd::Paste, "&Paste\tCtrl+V", "Insert the Clipboard text with the text tool\nPaste"},
    {cmd::ClearAll, "&Clear All", "Remove every note from the image\nClear All"},
    {cmd::FontSetting, "Font &Setting", "Set the font for text tool"},
    {cmd::DisplayNotes, "&Display Notes", "Display the notes on the image \nDisplay Notes"},
    {cmd::OriginalSize, "&Original Size", "Keeps original image size \n Original Size"},
    {cmd::ZoomOut, "Zoom &Out", "Zoom out \n Zoom out"},
    {cmd::ZoomIn, "Zoom &In", "Zoom in \n Zoom IN"},
    {cmd::FitIn, "&Fit In", "The image fits in with the frame \n Fit In"},
    {cmd::Selected, "&Selected", "The color selected by customers"},
    {cmd::Black, "&Black", "Black Color"},
    {cmd::White, "&White", "White Color"},
    {cmd::Red, "&Red", "Red Color"},
    {cmd::Green, "&Green", "Green Color"},
    {cmd::Blue, "Bl&ue", "Blue Color"},
    {cmd::Background, "B&ackgound", "Set the color of background"},
    {cmd::TextTool, "&Text Tool", "Choose text writing tool\n Text Tool"},
    {cmd::Erasure, "&Erasure", "Choose erasure tool\n Erasure Tool"},
    {cmd::FreehandPen, "&Freehand Pen", "Choose free hand drawing tool\n Pen Tool"},
    {cmd::LineTool, "&Line Tool", "Choose line drawing tool\nLine Tool"},
    {cmd::ArcTool, "&Arc Tool", "Choose arc drawing tool\n Arc Tool"},
    {cmd::RectangleTool, "&Rectangle Tool", "Choose rectangle drawing tool\n Rectangle Tool"},
    {cmd::RoundRectangleTool, "R&ound-Rectangle Tool",
     "Choose round-rectangle drawing tool\n Round-Rectangle Tool"},
    {cmd::EllipseTool, "&Ellipse Tool", "Choose ellipse drawing tool\n Ellipse Tool"},
};

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

std::function<void()> runFor(int id, WriterView& view)
{
    switch (id) {
    case cmd::FileSave:
        return [&view, id] { view.onCommand(id); };
    case cmd::SaveAsLossless:
        return [&view, id] { view.onCommand(id); };
    case cmd::SaveAsCompressed:
        return [&view, id] { view.onCommand(id); };
    case cmd::SaveCleanCopy:
        return [&view, id] { view.onCommand(id); };
    case cmd::ImportNotes:
        return [&view, id] { view.onCommand(id); };
    case cmd::ExportNotes:
        return [&view, id] { view.onCommand(id); };
    case cmd::FileClose:
        return [&view, id] { view.onCommand(id); };
    case cmd::Print:
        return [&view, id] { view.onCommand(id); };
    case cmd::PrintPreview:
        return [&view, id] { view.onCommand(id); };
    case cmd::DisplayNotes:
        return [&view, id] { view.onCommand(id); };
    case cmd::OriginalSize:
        return [&view, id] { view.onCommand(id); };
    case cmd::ZoomOut:
        return [&view, id] { view.onCommand(id); };
    case cmd::ZoomIn:
        return [&view, id] { view.onCommand(id); };
    case cmd::FitIn:
        return [&view, id] { view.onCommand(id); };
    case cmd::Selected:
        return [&view, id] { view.onCommand(id); };
    case cmd::Undo:
        return [&view] { view.onUndo(); };
    case cmd::Redo:
        return [&view] { view.onRedo(); };
    case cmd::Cut:
        return [&view] { view.onCut(); };
    case cmd::Copy:
        return [&view] { view.onCopy(); };
    case cmd::Paste:
        return [&view] { view.onPaste(); };
    case cmd::ClearAll:
        return [&view] { view.onClearAll(); };
    case cmd::FontSetting:
        return [&view] { view.onFontSetting(); };
    case cmd::Background:
        return [&view, id] { view.onCommand(id); };
    case cmd::Black:
    case cmd::White:
    case cmd::Red:
    case cmd::Green:
    case cmd::Blue:
        return [&view, id] { view.onCommand(id); };
    default:
        return [&view, id] { view.onToolCommand(id); };
    }
}

std::function<bool()> checkedFor(int id, WriterView& view)
{
    switch (id) {
    case cmd::DisplayNotes:
        return [&view] { return view.inspect().showNotes; };
    case cmd::OriginalSize:
        return [&view] { return view.inspect().zoom == 1.0f; };
    case cmd::FitIn:
        return [&view] { return view.inspect().fit; };
    case cmd::Selected:
    case cmd::Black:
    case cmd::White:
    case cmd::Red:
    case cmd::Green:
    case cmd::Blue:
        return [&view, id] { return view.inspect().colourCommand == id; };
    default:
        break;
    }
    for (const ToolCommand& tool : kToolCommands) {
        if (tool.id == id) {
            const Tool which = tool.tool;
            return [&view, which] { return view.activeTool() == which; };
        }
    }
    return {};
}

std::function<bool()> enabledFor(int id, WriterView& view)
{
    switch (id) {
    case cmd::Background:
    case cmd::Cut:
    case cmd::Copy:
    case cmd::Paste:
        return {};
    case cmd::Undo:
        return [&view] { return view.canUndo(); };
    case cmd::Redo:
        return [&view] { return view.canRedo(); };
    case cmd::FontSetting:
        return [&view] { return view.hasPicture() && view.activeTool() == Tool::Text; };
    default:
        return [&view] { return view.hasPicture(); };
    }
}

} // namespace

void addViewCommands(CommandTable& table, WriterView& view)
{
    for (const ViewCommand& entry : kViewCommands) {
        Command command = makeMenuCommand(entry.id, QString::fromUtf8(entry.text),
                                          QString::fromUtf8(entry.prompt),
                                          entry.bindsKey ? MenuKey::Bind : MenuKey::ShowOnly);
        command.run = runFor(entry.id, view);
        command.enabled = enabledFor(entry.id, view);
        command.checked = checkedFor(entry.id, view);
        table.add(std::move(command));
    }
}

} // namespace ombri::writer
