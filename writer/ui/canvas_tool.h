#pragma once

#include "platform/qt/surface.h"
#include "writer/ui/pending_drawing.h"

#include <QFont>
#include <QLine>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <string>

namespace ombri::writer {

// Mouse key-state flags as the tools receive them with every move.
enum KeyState : unsigned {
    kLeftButton = 1,
    kRightButton = 2,
    kShiftKey = 4,
    kControlKey = 8,
    kMiddleButton = 16,
};

enum class Tool { None = 0, Line, Text, Rectangle, Eraser, Ellipse, RoundRectangle, Pen, Arc };

// What a tool reaches of the canvas it draws on. Points are in client coordinates, the visible
// area's; the scroll position turns them into picture coordinates.
class ToolCanvas {
  public:
    virtual Surface& surface() = 0;
    virtual WriterDocument& document() = 0;
    virtual PendingDrawing& drawing() = 0;
    virtual QPoint scrollPosition() const = 0;
    // The width in pixels of the lines the figure tools and the pen draw.
    virtual int lineWidth() const = 0;
    // Shows what was drawn on the surface since the last call.
    virtual void flushSurface() = 0;
    // Paints the whole visible area afresh, the tool's own drawing over it.
    virtual void repaintNow() = 0;
    // The part of the picture in area, in picture coordinates, as the screen shows it while a
    // tool is active: with its notes and the pending layer in the note colour.
    virtual void paintShownPicture(Surface& target, const QRect& area) = 0;
    // The text tool's caret or line moved: the input method is told where it now is.
    virtual void textInputMoved() = 0;

  protected:
    ~ToolCanvas() = default;
};

// What the tool in hand shows, as the menus and the tests see it.
struct ToolState {
    QPoint anchor;
    bool dragging = false;
    QString textLine;
    int caretIndex = 0;
    bool caretShown = false;
    bool caretBlinking = false;
    QLine caretLine;
};

// A drawing tool of the canvas. It holds its own state; the canvas hands it the mouse, the keys
// and the scrolling while it is in hand, and puts it down.
class CanvasTool {
  public:
    explicit CanvasTool(ToolCanvas& canvas) : m_canvas(canvas) {}
    virtual ~CanvasTool() = default;
    CanvasTool(const CanvasTool&) = delete;
    CanvasTool& operator=(const CanvasTool&) = delete;

    // What one action of the tool is called in Undo's menu text: "Rectangle".
    virtual std::string actionName() const = 0;
    virtual void press(QPoint point) = 0;
    virtual void move(QPoint point, unsigned keyState) = 0;
    virtual void release(QPoint point) = 0;
    // The tool's own keys; false when the key is not the tool's.
    virtual bool key(int) { return false; }
    // Whether a drag of the tool is held: the canvas scrolls after it past its edge.
    virtual bool dragging() const { return false; }
    // The picture is about to move under the tool by delta, and has moved and been painted.
    virtual void scrolling(QPoint) {}
    virtual void scrolled() {}
    // Draws what the tool shows over a freshly painted surface.
    virtual void paintOver() {}
    // Whether the tool holds drawing that Undo would take back, and whether putting it down
    // would give the notes anything.
    virtual bool hasDrawing() const { return m_canvas.drawing().hasActions(); }
    // Undo of everything drawn since the tool was taken up.
    virtual void undo() { m_canvas.drawing().undo(actionName()); }
    // The drawing in hand is thrown away.
    virtual void discard() { m_canvas.drawing().discard(); }
    // Puts the tool down: its drawing joins the notes. True when the canvas must be painted
    // again to show them as they now are.
    virtual bool putDown(bool repaintAsked) = 0;
    virtual void describe(ToolState&) const {}

  protected:
    ToolCanvas& m_canvas;
};

} // namespace ombri::writer
