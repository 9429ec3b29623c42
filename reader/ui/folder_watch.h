#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

class QSocketNotifier;

namespace ombri::reader {

// Watches one folder for what other programs do to it: files created, deleted, renamed in or
// out, and written and closed (which catches a picture saved in place or appended to, where the
// folder's own entries do not change), and the folder itself going away. A burst of such events,
// as a copy of many files makes, is announced once, a moment after it ends.
class FolderWatch : public QObject {
    Q_OBJECT
  public:
    explicit FolderWatch(QObject* parent = nullptr);
    ~FolderWatch() override;

    // Watches this folder instead of the one watched so far. False when it cannot be watched;
    // nothing is watched then.
    bool watch(const std::string& folder);
    // Watches nothing.
    void stop();
    bool isWatching() const { return m_watch >= 0; }

  signals:
    // Something in the folder, or the folder itself, changed.
    void changed();

  private:
    void readEvents();

    class Descriptor;
    std::unique_ptr<Descriptor> m_descriptor;
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_watch = -1;
    QTimer m_settle;
};

} // namespace ombri::reader
