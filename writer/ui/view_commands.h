#pragma once

#include "platform/command_table.h"

namespace ombri {

class CScrivoView;

// "Status text\nTooltip" as the writer's prompts are written, split into the action's two texts.
struct PromptTexts {
    QString status;
    QString toolTip;
};
PromptTexts splitPrompt(const QString& prompt);

// The view's commands (view, colour, file and tool commands) with their enabling and check
// rules, added to the window's command table.
void addViewCommands(CommandTable& table, CScrivoView& view);

} // namespace ombri
