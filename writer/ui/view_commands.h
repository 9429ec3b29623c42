#pragma once

#include "platform/qt/command_table.h"

namespace ombri::writer {

class WriterView;

// The view's commands (view, colour, file and tool commands) with their enabling and check
// rules, added to the window's command table.
void addViewCommands(CommandTable& table, WriterView& view);

} // namespace ombri::writer
