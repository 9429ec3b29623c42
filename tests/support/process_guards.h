#pragma once

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace ombri::test {

// Ends the test program, failed, when what it guards takes longer than the seconds given: a
// test of something that must never wait (a FIFO opened for reading, a thread stuck in open())
// then fails with a message instead of hanging the whole run. Only one guard at a time.
class HangGuard {
  public:
    HangGuard(unsigned seconds, const char* what)
    {
        s_what = what;
        struct sigaction action {};
        action.sa_handler = onAlarm;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGALRM, &action, &m_previous);
        ::alarm(seconds);
    }
    ~HangGuard()
    {
        ::alarm(0);
        ::sigaction(SIGALRM, &m_previous, nullptr);
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

  private:
    static void onAlarm(int)
    {
        static const char kPrefix[] = "\nFAILED: still waiting after the time allowed: ";
        (void)!::write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
        (void)!::write(STDERR_FILENO, s_what, std::strlen(s_what));
        (void)!::write(STDERR_FILENO, "\n", 1);
        ::_exit(3);
    }

    static inline const char* s_what = "";
    struct sigaction m_previous {};
};

// The address space the process has mapped now, in bytes: a base for a limit (RLIMIT_AS) that
// leaves a child room for what it already holds and little more.
inline rlim_t addressSpaceInUse()
{
    rlim_t kilobytes = 0;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned long long value = 0;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmSize: %llu kB", &value) == 1)
                kilobytes = static_cast<rlim_t>(value);
        std::fclose(status);
    }
    return kilobytes * 1024;
}

} // namespace ombri::test
