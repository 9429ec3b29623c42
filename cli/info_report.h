#pragma once

#include "cli/invocation.h"
#include "writer/savable_writer_document.h"

namespace ombri::cli {

// A DPX or Cineon picture always brings a note layer from its pixel words; it carries notes
// when any of their note bits is set. Any other picture carries notes when it has the marker.
bool carriesNotes(const writer::SavableWriterDocument& doc);

// ombri info: each picture, or each picture of a folder, described as text blocks or JSON
// lines, with a count on standard error when there was more than one.
Exit runInfo(const Invocation& invocation, Context& context);

} // namespace ombri::cli
