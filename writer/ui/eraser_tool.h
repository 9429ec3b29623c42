#pragma once

#include "writer/ui/canvas_tool.h"

namespace ombri::writer {

// The eraser: a square of twice its half-size around the mouse takes note pixels out of a
// working copy of the notes while the button is held; the notes keep what the copy kept when
// the eraser is put down. A ring shows where it would erase.
class EraserTool : public CanvasTool {
  public:
    using CanvasTool::CanvasTool;

    static constexpr int kDefaultHalfSize = 10;

    // Takes the eraser up at its default size, with a copy of the notes as they are.
    void takeUp();
    int halfSize() const { return m_halfSize; }
    // The eraser-size box's text: read from the last character to the first, each worth its
    // digit times ten to the power of its distance from the end; any other character counts
    // as a zero digit. Nothing changes when it comes to zero.
    void setSizeText(const QString& text);

    std::string actionName() const override { return "Eraser"; }
    void press(QPoint point) override { m_last = point; }
    void move(QPoint point, unsigned keyState) override;
    void release(QPoint) override;
    bool hasDrawing() const override { return m_canvas.drawing().hasActions(); }
    // Undoing erasures means starting again from the committed notes.
    void undo() override { m_canvas.drawing().startFromNotes(); }
    bool putDown(bool repaintAsked) override;

  private:
    void EraseSquare(int left, int top, int right, int bottom);

    int m_halfSize = kDefaultHalfSize;
    QPoint m_last;
};

} // namespace ombri::writer
