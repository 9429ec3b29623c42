#pragma once

#include "cli/invocation.h"
#include "writer/savable_writer_document.h"

#include <optional>
#include <string>
#include <vector>

namespace ombri::cli {

// Inputs and outputs are checked before any work; pictures are opened and saved the way the
// writer does it, its questions answered for a terminal user.

// The readers judge a path by its extension and its first bytes, so for a missing path, a
// folder or an empty file they would talk about the extension or a bad header; the user is
// told what the path really is.
bool inputIsUsable(Context& context, const std::string& path);

// Refuses an output that cannot be written, or that is one of the inputs, before any input is
// read: a long open should not end in a refusal, and no input may be replaced by what is made
// from it (clearing a file onto itself would lose its notes for good). pngOnly names what is
// written when the output must be a PNG file; otherwise any kind the writer saves will do.
std::optional<Exit> checkOutput(Context& context, const char* command,
                                const std::vector<std::string>& inputs, const std::string& target,
                                const char* pngOnly = nullptr);

// Opens a picture with the writer's document. The document names the file in most failures;
// the one it tells without a path (an impossible size) is reported again with the path, so
// that every unreadable input has its "cannot read" line.
bool openDocument(writer::SavableWriterDocument& doc, Context& context, const std::string& path);

// Saves the document as the target's extension asks, the --depth given applied. Notes the
// target cannot keep are lost only with --lossy; otherwise nothing is written.
Exit saveDocument(writer::SavableWriterDocument& doc, const Invocation& invocation,
                  Context& context, const std::string& target);

} // namespace ombri::cli
