#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

// Refusals are tried as a user without privileges, as most users are: root may write where
// nobody else may. When the tests run as root (as they do in CI), such checks run in a child
// process that has become another user; otherwise they run as the user itself.
namespace ombri::test {

// The user and group that checks run as when the tests run as root.
constexpr uid_t kOtherUser = 65534;
constexpr gid_t kOtherGroup = 65534;
// A user and group nobody in the test belongs to, for files that are somebody else's.
constexpr uid_t kStrangerUser = 12345;
constexpr gid_t kStrangerGroup = 23456;

bool runningAsRoot();

enum class RunAs {
    Self,
    OtherUser, // kOtherUser when running as root, the user itself otherwise
};

struct ChildRun {
    bool exited = false; // ended by _exit after the body returned
    int signal = 0;      // the signal that ended it, when it did not exit
    std::string report;  // what the body answered: empty when all its checks held
};

// Runs body in a child process, and ends it with SIGALRM after `seconds`, so that a body stuck
// on a FIFO or a lost signal fails its test instead of hanging it.
ChildRun runInChild(RunAs who, const std::function<std::string()>& body, unsigned seconds = 60);

// The same, for a body whose answer is all that counts: empty when it ran to its end and every
// check held, else what went wrong.
std::string checkInChild(RunAs who, const std::function<std::string()>& body,
                         unsigned seconds = 60);

// A folder in `parent` that the user of RunAs::OtherUser owns, with `parent` opened for it to
// pass through.
std::string folderForOtherUser(const std::string& parent, const std::string& name);
// Gives a file to the user of RunAs::OtherUser (a no-op when not root: it is the user's own).
void giveToOtherUser(const std::string& path);

} // namespace ombri::test
