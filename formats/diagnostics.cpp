#include "formats/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace ombri {

namespace {

std::atomic<bool> g_diagnostics{false};
thread_local DiagnosticSink* t_sink = nullptr;

void emit(bool toError, const char* format, va_list arguments)
{
    if (!t_sink) {
        std::vfprintf(toError ? stderr : stdout, format, arguments);
        return;
    }
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0)
        return;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.pop_back();
    t_sink->diagnostic(toError, text);
}

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
    emit(false, format, arguments);
    va_end(arguments);
}

void formatErrorDiagnostic(const char* format, ...)
{
    if (!formatDiagnostics())
        return;
    va_list arguments;
    va_start(arguments, format);
    emit(true, format, arguments);
    va_end(arguments);
}

void setThreadDiagnosticSink(DiagnosticSink* sink)
{
    t_sink = sink;
}

} // namespace ombri
