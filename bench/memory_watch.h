#pragma once

// The process's resident memory, read from the system, for the benchmarks that measure peaks.

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace ombri::bench {

// A "Vm...:" line of /proc/self/status in bytes, -1 when absent.
inline long long statusBytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::stoll(line.substr(length + 1)) * 1024;
    }
    return -1;
}

inline long long maxRssBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<long long>(usage.ru_maxrss) * 1024; // kB on Linux
}

// Brings VmHWM down to the current VmRSS (Linux 4.0 and later).
inline bool resetHighWaterMark()
{
    std::FILE* file = std::fopen("/proc/self/clear_refs", "w");
    if (!file)
        return false;
    const bool written = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && written;
}

inline double mib(long long bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

} // namespace ombri::bench
