#include "formats/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ombri {

namespace {
std::atomic<bool> g_diagnostics{false};
} // namespace

void setFormatDiagnostics(bool on)
{
    g_diagnostics.store(on, std::memory_order_relaxed);
}

bool formatDiagnostics()
{
    return g_diagnostics.load(std::memory_order_relaxed);
}

void formatDiagnostic(const char* format, ...)
{
    if (!formatDiagnostics())
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

} // namespace ombri
