#pragma once

#include <qnamespace.h>

namespace ombri::reader {

// Delete on its own, from the main keys or the keypad, sends what the focused pane names to the
// trash. With Shift it is Cut, a shortcut of the window that moves nothing; with Ctrl, Alt or Meta
// it is no command at all.
inline bool isDeleteKey(int key, Qt::KeyboardModifiers modifiers)
{
    return key == Qt::Key_Delete && (modifiers | Qt::KeypadModifier) == Qt::KeypadModifier;
}

} // namespace ombri::reader
