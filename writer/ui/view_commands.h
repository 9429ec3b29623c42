#pragma once

#include "platform/command_table.h"

namespace ombri {

class CScrivoView;

// The view's commands (view, colour, file and tool commands) with their enabling and check
// rules, added to the window's command table.
void addViewCommands(CommandTable& table, CScrivoView& view);

} // namespace ombri
