#include "support/other_user.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ombri::test {

namespace {

bool becomeOtherUser()
{
    return ::setgroups(0, nullptr) == 0 &&
           ::setresgid(kOtherGroup, kOtherGroup, kOtherGroup) == 0 &&
           ::setresuid(kOtherUser, kOtherUser, kOtherUser) == 0;
}

void writeAll(int descriptor, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(descriptor, text.data() + done, text.size() - done);
        if (wrote <= 0 && errno != EINTR)
            return;
        if (wrote > 0)
            done += static_cast<size_t>(wrote);
    }
}

[[noreturn]] void runBody(int reportTo, RunAs who, const std::function<std::string()>& body,
                          unsigned seconds)
{
    ::alarm(seconds);
    std::string report;
    if (who == RunAs::OtherUser && runningAsRoot() && !becomeOtherUser()) {
        report = std::string("cannot become the other user: ") + std::strerror(errno);
    } else {
        try {
            report = body();
        } catch (const std::exception& error) {
            report = std::string("threw: ") + error.what();
        }
    }
    writeAll(reportTo, report);
    ::_exit(0);
}

} // namespace

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

ChildRun runInChild(RunAs who, const std::function<std::string()>& body, unsigned seconds)
{
    ChildRun run;
    int channel[2];
    if (::pipe(channel) != 0) {
        run.report = "no pipe";
        return run;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        run.report = "cannot start a child process";
        return run;
    }
    if (child == 0) {
        ::close(channel[0]);
        runBody(channel[1], who, body, seconds);
    }
    ::close(channel[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(channel[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        run.report.append(buffer, static_cast<size_t>(got));
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return run;
}

std::string checkInChild(RunAs who, const std::function<std::string()>& body, unsigned seconds)
{
    const ChildRun run = runInChild(who, body, seconds);
    if (run.signal == SIGALRM)
        return "still running after " + std::to_string(seconds) + " s: " + run.report;
    if (!run.exited)
        return "ended by signal " + std::to_string(run.signal) + ": " + run.report;
    return run.report;
}

std::string folderForOtherUser(const std::string& parent, const std::string& name)
{
    const std::string folder = parent + "/" + name;
    ::chmod(parent.c_str(), 0755);
    ::mkdir(folder.c_str(), 0755);
    giveToOtherUser(folder);
    return folder;
}

void giveToOtherUser(const std::string& path)
{
    if (runningAsRoot())
        ::lchown(path.c_str(), kOtherUser, kOtherGroup);
}

} // namespace ombri::test
