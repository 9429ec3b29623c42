#pragma once

namespace ombri {

// The SGI, DPX and Cineon code keeps a trace of what it found in a file (header summaries and
// the reason a file was refused) for whoever runs the programs from a terminal. The trace goes
// to the standard output only while this switch is on; it is off from the start, and the user
// never sees these lines in a window.
void setFormatDiagnostics(bool on);
bool formatDiagnostics();

// Prints one trace line, printf-style, when the switch is on.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
void formatDiagnostic(const char* format, ...);

} // namespace ombri
