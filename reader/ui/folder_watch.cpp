#include "reader/ui/folder_watch.h"

#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace ombri::reader {

namespace {

// Long enough for a copy of a few files to end, short enough that the list follows within a
// second.
constexpr int kSettleMs = 150;

constexpr uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

// The inotify descriptor, closed with its owner and never inherited by a program started later.
class FolderWatch::Descriptor {
  public:
    Descriptor() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

FolderWatch::FolderWatch(QObject* parent)
    : QObject(parent), m_descriptor(std::make_unique<Descriptor>())
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &FolderWatch::changed);
    if (m_descriptor->fd() < 0)
        return; // out of inotify instances: the list is then refreshed by hand only
    m_notifier = std::make_unique<QSocketNotifier>(m_descriptor->fd(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &FolderWatch::readEvents);
}

FolderWatch::~FolderWatch() = default;

bool FolderWatch::watch(const std::string& folder)
{
    stop();
    if (m_descriptor->fd() < 0)
        return false;
    m_watch = ::inotify_add_watch(m_descriptor->fd(), folder.c_str(), kWatchedEvents);
    return m_watch >= 0;
}

void FolderWatch::stop()
{
    m_settle.stop();
    if (m_watch >= 0)
        ::inotify_rm_watch(m_descriptor->fd(), m_watch);
    m_watch = -1;
}

void FolderWatch::readEvents()
{
    // The events themselves are not needed: any of them means the folder is to be read again.
    // Those of a watch already removed may still be queued, and are drained without a word.
    alignas(inotify_event) std::array<char, 4096> buffer;
    bool current = false;
    for (;;) {
        const ssize_t got = ::read(m_descriptor->fd(), buffer.data(), buffer.size());
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            if (event->wd == m_watch && m_watch >= 0)
                current = true;
            // The folder itself went: its watch is gone with it.
            if (event->wd == m_watch && (event->mask & IN_IGNORED))
                m_watch = -1;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    // Timed from the first event of a burst, so that a steady stream of writes cannot keep the
    // list from following.
    if (current && !m_settle.isActive())
        m_settle.start();
}

} // namespace ombri::reader
