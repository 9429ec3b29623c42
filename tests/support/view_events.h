#pragma once

// What a hand does to a picture view, as the events Qt delivers: keys, mouse drags, wheel turns
// and dropped files. The views are scroll areas, so mouse, wheel and drop events go to their
// visible area, keys to the view itself.

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QList>
#include <QMimeData>
#include <QMouseEvent>
#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWheelEvent>

#include <initializer_list>
#include <string>

namespace ombri::test {

// A key pressed while the view has the focus; true when the view kept it from the rest of the
// window.
inline bool pressKey(QAbstractScrollArea& view, int key,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(&view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(&view, &release);
    return press.isAccepted();
}

inline void sendMouse(QAbstractScrollArea& view, QEvent::Type type, QPoint at,
                      Qt::MouseButton button, Qt::MouseButtons buttons,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* area = view.viewport();
    QMouseEvent event(type, at, area->mapToGlobal(at), button, buttons, modifiers);
    QApplication::sendEvent(area, &event);
}

// A press at `from`, one move to each of `through` and a release at the last point, the left
// button held throughout (with other buttons, when asked) and the modifier keys down.
inline void dragMouse(QAbstractScrollArea& view, QPoint from, std::initializer_list<QPoint> through,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                      Qt::MouseButtons alsoHeld = Qt::NoButton)
{
    const Qt::MouseButtons held = Qt::LeftButton | alsoHeld;
    sendMouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, held, modifiers);
    QPoint last = from;
    for (const QPoint point : through) {
        sendMouse(view, QEvent::MouseMove, point, Qt::NoButton, held, modifiers);
        last = point;
    }
    sendMouse(view, QEvent::MouseButtonRelease, last, Qt::LeftButton, held & ~Qt::LeftButton,
              modifiers);
}

// A wheel turn of delta (120 a notch, positive away from the user) over the middle of the view,
// the modifier keys down; true when the view took it.
inline bool turnWheel(QAbstractScrollArea& view, int delta,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* area = view.viewport();
    const QPointF at = area->rect().center();
    QWheelEvent turn(at, area->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                     Qt::NoScrollPhase, false);
    turn.ignore();
    QApplication::sendEvent(area, &turn);
    return turn.isAccepted();
}

// Files dragged onto the middle of the view and dropped there.
inline void dropUrls(QAbstractScrollArea& view, const QList<QUrl>& urls)
{
    QWidget* area = view.viewport();
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = area->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(area, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(area, &drop);
}

inline void dropFile(QAbstractScrollArea& view, const std::string& path)
{
    dropUrls(view, {QUrl::fromLocalFile(QString::fromStdString(path))});
}

} // namespace ombri::test
