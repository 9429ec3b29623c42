#pragma once

#include <string>

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

// The same for a library's own error line, which goes to the standard error.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
void formatErrorDiagnostic(const char* format, ...);

// Takes the trace of one thread instead of the standard streams. ombri info reads several files
// at once and prints each file's trace with the rest of what it says about that file, so the
// lines come out as they do when the files are read one after the other.
class DiagnosticSink {
  public:
    // A piece of trace, toError when it would have gone to the standard error.
    virtual void diagnostic(bool toError, const std::string& text) = 0;

  protected:
    ~DiagnosticSink() = default;
};

// The calling thread's sink; null, as every thread starts, prints to the standard streams.
void setThreadDiagnosticSink(DiagnosticSink* sink);

} // namespace ombri
