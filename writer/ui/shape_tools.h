#pragma once

#include "writer/ui/canvas_tool.h"

#include <vector>

namespace ombri::writer {

// A tool that draws while the mouse is dragged from the point pressed. Its points are in client
// coordinates and stay on the same picture points while the view scrolls under a held drag.
class DragTool : public CanvasTool {
  public:
    using CanvasTool::CanvasTool;

    void press(QPoint point) override;
    bool dragging() const override { return m_dragging; }
    void scrolling(QPoint delta) override;
    void describe(ToolState& state) const override;

  protected:
    // Ends the drag; what was drawn joins the notes.
    void commitDrawing();

    QPoint m_anchor;
    QPoint m_last;
    bool m_dragging = false;
};

// The line, rectangle, ellipse, round rectangle and arc tools: a figure between the point
// pressed and the point released, previewed by inversion while it is dragged and captured whole
// on release, wherever it lies on the picture.
class ShapeTool : public DragTool {
  public:
    using DragTool::DragTool;

    // Takes the tool up as one of the figure tools.
    void takeUp(Tool kind);

    std::string actionName() const override;
    void move(QPoint point, unsigned keyState) override;
    void release(QPoint point) override;
    void scrolled() override;
    bool putDown(bool repaintAsked) override;

  private:
    enum class CornerOrder { AnchorFirst, CornerFirst };
    // One figure between the anchor and a corner. The preview being removed names its corner
    // first and the new one the anchor first; the arc always runs from the corner to the anchor.
    void drawShapeOn(Surface& surface, QPoint anchor, QPoint corner, CornerOrder order) const;
    void drawPreview(QPoint current);
    void redrawPreview();
    void captureFigure(QPoint release);

    Tool m_kind = Tool::Line;
};

// The freehand pen: every segment the mouse moves while the button is held is marked at once.
class PenTool : public DragTool {
  public:
    using DragTool::DragTool;

    void takeUp();

    std::string actionName() const override { return "Pen"; }
    void move(QPoint point, unsigned keyState) override;
    void release(QPoint point) override;
    bool putDown(bool repaintAsked) override;

    // Marks the segment between two client points with the pen's width; the pixels it newly
    // marks are added to fresh, in client coordinates, when asked for.
    void MarkPenSegment(QPoint p0, QPoint p1, std::vector<QPoint>* fresh = nullptr);
};

} // namespace ombri::writer
