#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace ombri {

// Long work on a window's document (encoding and writing a large picture) run on a thread of its
// own, while the GUI thread keeps the window painted. Until the work ends no input reaches the
// program: keys, shortcuts, clicks, the wheel and drops are dropped, and a request to close the
// window is answered once the work is over. A busy progress dialog appears when the work takes
// longer than kProgressDelayMs, so that a short save does not flash a dialog.
class BackgroundWork : public QObject {
  public:
    static constexpr int kProgressDelayMs = 500;

    explicit BackgroundWork(QWidget* window);
    ~BackgroundWork() override;
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Runs the work and returns once it has ended; what the work throws is thrown here. The
    // label is the progress dialog's text.
    void run(const QString& label, const std::function<void()>& work);

    bool running() const { return m_running; }
    // The progress dialog while it is shown, or null.
    QProgressDialog* progressDialog() const { return m_progress.get(); }
    // How many runs have shown the progress dialog so far.
    int progressShownCount() const { return m_progressShown; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showProgress(const QString& label);
    void runOnWorker(const std::function<void()>& work);
    void closeIfAsked();

    QWidget* m_window;
    bool m_running = false;
    bool m_closeAsked = false;
    int m_progressShown = 0;
    std::unique_ptr<QProgressDialog> m_progress;
};

} // namespace ombri
