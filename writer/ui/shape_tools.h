#pragma once

#include "writer/ui/canvas_tool.h"

#include <vector>

namespace ombri::writer {

// The line, rectangle, ellipse, round rectangle and arc tools: a figure between the point
// pressed and the point released, previewed by inversion while it is dragged and captured whole
// on release, wherever it lies on the picture.
class ShapeTool : public CanvasTool {
  public:
    using CanvasTool::CanvasTool;

    // Takes the tool up as one of the figure tools.
    void takeUp(Tool kind);

    std::string actionName() const override;
    void press(QPoint point) override;
    void move(QPoint point, unsigned keyState) override;
    void release(QPoint point) override;
    bool dragging() const override { return m_dragging; }
    void scrolling(QPoint delta) override;
    void scrolled() override;
    bool putDown(bool repaintAsked) override;
    void describe(ToolState& state) const override;

  private:
    enum class CornerOrder { AnchorFirst, CornerFirst };
    // One figure between the anchor and a corner. The preview being removed names its corner
    // first and the new one the anchor first; the arc always runs from the corner to the anchor.
    void drawShapeOn(Surface& surface, QPoint anchor, QPoint corner, CornerOrder order) const;
    void drawPreview(QPoint current);
    void redrawPreview();
    void captureFigure(QPoint release);

    Tool m_kind = Tool::Line;
    QPoint m_anchor;
    QPoint m_last;
    bool m_dragging = false;
};

// The freehand pen: every segment the mouse moves while the button is held is marked at once.
class PenTool : public CanvasTool {
  public:
    using CanvasTool::CanvasTool;

    void takeUp();

    std::string actionName() const override { return "Pen"; }
    void press(QPoint point) override;
    void move(QPoint point, unsigned keyState) override;
    void release(QPoint point) override;
    bool dragging() const override { return m_dragging; }
    void scrolling(QPoint delta) override;
    bool putDown(bool repaintAsked) override;
    void describe(ToolState& state) const override;

    // Marks the segment between two client points with the pen's width; the pixels it newly
    // marks are added to fresh, in client coordinates, when asked for.
    void MarkPenSegment(QPoint p0, QPoint p1, std::vector<QPoint>* fresh = nullptr);

  private:
    QPoint m_anchor;
    QPoint m_last;
    bool m_dragging = false;
};

} // namespace ombri::writer
