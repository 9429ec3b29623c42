#pragma once

#include "platform/qt/command_table.h"

#include <functional>

namespace ombri::reader {

class ReaderDocument;
class ImageView;
class FileList;

// Adds a command from its menu text and prompt, as the reader's tables give them.
void addMenuCommand(CommandTable& table, int id, const char* text, const char* prompt,
                    std::function<void()> run, std::function<bool()> enabled = {},
                    std::function<bool()> checked = {});

// The commands the image view and the document serve (View, Color and Image menus, Print,
// Home Page), with their enabling and check rules. While the file list, when given, has the
// focus, Zoom In, Zoom Out and Original Size go through it and follow its own enabling rule.
void addReaderViewCommands(CommandTable& table, ImageView& view, ReaderDocument& document,
                           FileList* list = nullptr);

} // namespace ombri::reader
