#pragma once

#include "platform/qt/command_table.h"

#include <QStringList>

namespace ombri::writer {

class WriterWindow;

// The writer's menus, in their order on the menu bar.
enum WriterMenu : int {
    FileMenu,
    EditMenu,
    ViewMenu,
    ColourMenu,
    ToolsMenu,
    OptionMenu,
    InfoMenu,
};
QStringList writerMenuTitles();

// The writer's toolbars: the main one under the menu, and the Paint Tool Box at the side.
enum WriterToolBar : int { MainToolBar, PaintToolBox };

// Every command of the writer, with its menu item, keys, toolbar button and rules, in the order
// of the menus. The view's commands (file, view, colour, edit and tool commands) go to the
// window's view.
void addWriterCommands(CommandTable& table, WriterWindow& window);

} // namespace ombri::writer
