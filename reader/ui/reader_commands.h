#pragma once

#include "platform/qt/command_table.h"

#include <QStringList>

namespace ombri::reader {

class ReaderWindow;

// The reader's menus, in their order on the menu bar.
enum ReaderMenu : int {
    FileMenu,
    EditMenu,
    ViewMenu,
    ColourMenu,
    ImageMenu,
    OptionMenu,
    InfoMenu,
};
QStringList readerMenuTitles();

// The reader's toolbars: the main one under the menu, and the vertical "Image Tools" bar.
enum ReaderToolBar : int { MainToolBar, ImageToolsBar };

// Every command of the reader, with its menu item, keys, toolbar button and rules, in the order
// of the menus. The commands the image view and the document serve call them through the
// window's panes; while the file list has the focus, Zoom In, Zoom Out and Original Size go
// through it and follow its own enabling rule.
void addReaderCommands(CommandTable& table, ReaderWindow& window);

} // namespace ombri::reader
