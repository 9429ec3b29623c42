#include "journeys/gui_events.h"

#include <QApplication>
#include <QPixmap>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>
#include <cstdlib>
#include <initializer_list>

namespace ombri::journey {

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

void reactivate(QWidget* window)
{
    if (!window || !window->isVisible() || window->isActiveWindow())
        return;
    window->activateWindow();
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window, 1000))
        return;
    settle();
}

bool clickToolButton(QToolBar* bar, QAction* action)
{
    if (!bar || !action)
        return false;
    QWidget* button = bar->widgetForAction(action);
    if (!button)
        return false;
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    settle();
    return true;
}

namespace {

// Opens the menu from its title on the menu bar, when the bar is shown.
void openFromBar(QMenuBar* bar, QMenu* menu)
{
    const QRect title = bar->actionGeometry(menu->menuAction());
    if (bar->isVisible() && title.isValid()) {
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, title.center());
        settle();
    }
}

// Closes whichever of the menus is still open (a disabled item leaves its menu open), innermost
// first, then leaves the menu bar.
void closeMenus(QMenuBar* bar, std::initializer_list<QMenu*> menus)
{
    for (QMenu* open : menus) {
        if (open->isVisible()) {
            QTest::keyClick(open, Qt::Key_Escape);
            settle();
        }
    }
    if (bar->activeAction()) {
        QTest::keyClick(bar, Qt::Key_Escape);
        settle();
    }
}

} // namespace

bool clickMenuItem(QMainWindow* window, QMenu* menu, QAction* action)
{
    if (!window || !menu || !action)
        return false;
    QMenuBar* bar = window->menuBar();
    openFromBar(bar, menu);
    // A hidden menu bar (full screen) opens no menu: the item cannot be reached by the mouse.
    if (!menu->isVisible())
        return false;
    const QRect item = menu->actionGeometry(action);
    if (!item.isValid()) {
        QTest::keyClick(menu, Qt::Key_Escape);
        settle();
        return false;
    }
    QTest::mouseMove(menu, item.center());
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, item.center());
    settle();
    closeMenus(bar, {menu});
    return true;
}

bool clickSubmenuItem(QMainWindow* window, QMenu* menu, QMenu* submenu, QAction* action)
{
    if (!window || !menu || !submenu || !action)
        return false;
    QMenuBar* bar = window->menuBar();
    openFromBar(bar, menu);
    if (!menu->isVisible())
        return false;
    bool clicked = false;
    const QRect entry = menu->actionGeometry(submenu->menuAction());
    if (entry.isValid()) {
        QTest::mouseMove(menu, entry.center());
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, entry.center());
        // A submenu opens a moment after the pointer comes onto its entry.
        const bool opened = QTest::qWaitFor([submenu] { return submenu->isVisible(); }, 1000);
        const QRect item = opened ? submenu->actionGeometry(action) : QRect();
        if (item.isValid()) {
            QTest::mouseMove(submenu, item.center());
            QTest::mouseClick(submenu, Qt::LeftButton, Qt::NoModifier, item.center());
            settle();
            clicked = true;
        }
    }
    closeMenus(bar, {submenu, menu});
    return clicked;
}

namespace {

void sendMove(QWidget* widget, QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::NoButton,
                     button, modifiers);
    QApplication::sendEvent(widget, &move);
}

// QTest takes the point (0, 0) for the widget's centre: a press or release at the widget's
// corner is sent as the event itself.
void sendButton(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button,
                Qt::KeyboardModifiers modifiers)
{
    const bool press = type == QEvent::MouseButtonPress;
    if (!at.isNull()) {
        if (press)
            QTest::mousePress(widget, button, modifiers, at);
        else
            QTest::mouseRelease(widget, button, modifiers, at);
        return;
    }
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button,
                      press ? button : Qt::NoButton, modifiers);
    QApplication::sendEvent(widget, &event);
}

} // namespace

void dragMouse(QWidget* widget, QPoint from, QPoint to, int moves, Qt::KeyboardModifiers modifiers,
               Qt::MouseButton button)
{
    sendButton(widget, QEvent::MouseButtonPress, from, button, modifiers);
    for (int i = 1; i <= moves; ++i)
        sendMove(widget, from + (to - from) * i / (moves + 1), button, modifiers);
    if (moves >= 0)
        sendMove(widget, to, button, modifiers);
    sendButton(widget, QEvent::MouseButtonRelease, to, button, modifiers);
    settle();
}

void turnWheel(QWidget* widget, QPoint at, int delta, bool horizontal,
               Qt::KeyboardModifiers modifiers)
{
    const QPoint angle = horizontal ? QPoint(delta, 0) : QPoint(0, delta);
    QWheelEvent wheel(QPointF(at), QPointF(widget->mapToGlobal(at)), QPoint(), angle, Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
    settle();
}

void dropFile(QWidget* widget, QPoint at, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted())
        return;
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    settle();
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128) {
            QTest::keyClicks(widget, QString(c));
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
    settle();
}

void pressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = QApplication::focusWidget();
    if (!target || target->window() != window)
        target = window;
    QTest::keyClick(target, key, modifiers);
    settle();
}

void saveScreenshot(QWidget* window, size_t step)
{
    const char* folder = std::getenv("OMBRI_JOURNEY_SCREENSHOTS");
    if (!folder || !*folder || !window)
        return;
    const QString name = QStringLiteral("%1/step-%2.png")
                             .arg(QString::fromLocal8Bit(folder))
                             .arg(step, 3, 10, QLatin1Char('0'));
    window->grab().save(name);
}

const QImage& paintWidget(QWidget* widget, QImage& image)
{
    const qreal scale = widget->devicePixelRatioF();
    const QSize size = widget->size() * scale;
    if (image.size() != size || image.format() != QImage::Format_RGB32)
        image = QImage(size, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::black);
    widget->render(&image);
    return image;
}

bool answerFileDialog(const std::function<void()>& open, const QString& path)
{
    // One timer waits for the dialog to settle, then types the name and Enter. Accepting may
    // open a message box of the dialog's own ("file not found") inside that very keystroke, so
    // a second timer Escapes whatever is still asking afterwards, as a user who gives up would.
    bool answered = false;
    QElapsedTimer shown;
    QTimer giveUp;
    giveUp.setInterval(20);
    QObject::connect(&giveUp, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            QTest::keyClick(modal, Qt::Key_Escape);
    });
    QTimer type;
    type.setInterval(10);
    QObject::connect(&type, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        if (!shown.isValid())
            shown.start();
        if (shown.elapsed() < 15)
            return;
        type.stop();
        answered = true;
        giveUp.start();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (path.isEmpty() || !name) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        // The name goes in at once, as pasted: typed key by key, the dialog's completer looked
        // through the folders once per character, a third of a writer journey's time.
        name->setFocus();
        QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
        name->insert(path);
        QTest::keyClick(name, Qt::Key_Return);
    });
    type.start();
    open();
    type.stop();
    giveUp.stop();
    settle();
    return answered;
}

} // namespace ombri::journey
