#pragma once

// What a user's hand does to a window, as Qt events sent to the widgets: clicks on toolbar
// buttons and menu items, drags, the wheel, drops, and answers typed into a file dialog.

#include <QAction>
#include <QPoint>
#include <QString>

#include <functional>

class QImage;
class QMainWindow;
class QMenu;
class QToolBar;
class QWidget;

namespace ombri::journey {

// Lets queued updates, layouts and paints happen, as the event loop would between two actions.
void settle();

// Makes the window the active one again, as the window manager does when a dialog over it
// closes: keys reach its focus widget and its shortcuts only then.
void reactivate(QWidget* window);

// A click on the toolbar button of the action; false when the bar has no button for it.
bool clickToolButton(QToolBar* bar, QAction* action);

// Opens the menu from the menu bar and clicks the item; a disabled item leaves the menu to be
// closed with Escape. False when the menu or item is not there.
bool clickMenuItem(QMainWindow* window, QMenu* menu, QAction* action);
// The same for an item of a submenu: the menu is opened, then the submenu from its entry there.
bool clickSubmenuItem(QMainWindow* window, QMenu* menu, QMenu* submenu, QAction* action);

// A press, `moves` moves on the straight way and one onto the end point, then the release there.
void dragMouse(QWidget* widget, QPoint from, QPoint to, int moves, Qt::KeyboardModifiers modifiers,
               Qt::MouseButton button = Qt::LeftButton);

// A wheel turn of delta (120 a notch) over the widget; along the horizontal axis when asked,
// with the modifier keys down.
void turnWheel(QWidget* widget, QPoint at, int delta, bool horizontal,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// A local file dropped at a point of the widget (drag enter, then drop).
void dropFile(QWidget* widget, QPoint at, const QString& path);

// Text typed on the widget, one key a character; characters beyond ASCII arrive as a keyboard
// layout sends them: a key event carrying the character.
void typeText(QWidget* widget, const QString& text);

// A key pressed on the widget that has the focus in the window, or on the window itself.
void pressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// With OMBRI_JOURNEY_SCREENSHOTS naming a folder, the window as the user sees it after each
// step, as step-NNN.png, to look at when a replayed journey fails.
void saveScreenshot(QWidget* window, size_t step);

// What `widget` paints, in RGB32, drawn as QWidget::grab draws it but into `image`, which the
// caller keeps from one check to the next: under the sanitizers every new picture of the view's
// size cost more than painting it.
const QImage& paintWidget(QWidget* widget, QImage& image);

// Runs `open`, which is expected to show a modal file dialog, and answers the dialog by typing
// the path and Enter (or Escape for an empty path). False when no dialog came up.
bool answerFileDialog(const std::function<void()>& open, const QString& path);

} // namespace ombri::journey
