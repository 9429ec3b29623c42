#include "platform/qt/background_work.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <exception>
#include <system_error>
#include <thread>

namespace ombri {

namespace {

// What a user does to a program: each of these is held back while the work runs.
bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

} // namespace

BackgroundWork::BackgroundWork(QWidget* window) : m_window(window) {}

BackgroundWork::~BackgroundWork() = default;

void BackgroundWork::run(const QString& label, const std::function<void()>& work)
{
    // Only code can ask for work while work runs, as input is held back: it runs in place.
    if (m_running) {
        work();
        return;
    }
    m_running = true;
    m_closeAsked = false;
    qApp->installEventFilter(this);
    QTimer progressDelay;
    progressDelay.setSingleShot(true);
    connect(&progressDelay, &QTimer::timeout, this, [this, label] { showProgress(label); });
    progressDelay.start(kProgressDelayMs);

    std::exception_ptr failure;
    try {
        runOnWorker(work);
    } catch (...) {
        failure = std::current_exception();
    }

    progressDelay.stop();
    m_progress.reset();
    qApp->removeEventFilter(this);
    m_running = false;
    closeIfAsked();
    if (failure)
        std::rethrow_exception(failure);
}

void BackgroundWork::runOnWorker(const std::function<void()>& work)
{
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            // Called by name, the call is made and handed over inside Qt alone.
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // Without a thread to spare the work still gets done, with the window frozen as before.
        work();
        return;
    }
    loop.exec();
    // The loop also ends when the program is told to quit; the work is finished all the same.
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

void BackgroundWork::showProgress(const QString& label)
{
    m_progress = std::make_unique<QProgressDialog>(label, QString(), 0, 0, m_window);
    m_progress->setObjectName(QStringLiteral("backgroundWorkProgress"));
    m_progress->setWindowTitle(QApplication::applicationDisplayName());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setCancelButton(nullptr);
    m_progress->setMinimumDuration(0);
    m_progress->show();
    ++m_progressShown;
}

void BackgroundWork::closeIfAsked()
{
    if (!m_closeAsked)
        return;
    m_closeAsked = false;
    // The close is asked again once the code that started the work is done: the window asks its
    // usual question then, about the document as the work left it.
    QPointer<QWidget> window = m_window;
    QTimer::singleShot(0, this, [window] {
        if (window && window->isVisible())
            window->close();
    });
}

bool BackgroundWork::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close) {
        // The progress dialog stays until the work ends; the window closes after it.
        if (watched == m_window)
            m_closeAsked = true;
        else if (watched != m_progress.get())
            return false;
        event->ignore();
        return true;
    }
    if (!isUserInput(event->type()))
        return false;
    event->ignore();
    return true;
}

} // namespace ombri
