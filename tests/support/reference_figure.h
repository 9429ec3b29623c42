#pragma once

#include "platform/qt/surface.h"
#include "writer/ui/canvas_tool.h"

#include <QPoint>

#include <cstdlib>

namespace ombri::test {

// The figure a shape tool must leave between its anchor and its release point, drawn by the
// tests themselves on a surface of their own (pen, brush and width set by the caller).
inline void drawReferenceFigure(Surface& figure, writer::Tool tool, QPoint a, QPoint u)
{
    const auto half = [](int p, int q) { return static_cast<int>(std::abs(p - q) * 0.5); };
    switch (tool) {
    case writer::Tool::Line:
        figure.MoveTo(a.x(), a.y());
        figure.LineTo(u.x(), u.y());
        break;
    case writer::Tool::Rectangle:
        figure.Rectangle(a.x(), a.y(), u.x(), u.y());
        break;
    case writer::Tool::Ellipse:
        figure.Ellipse(a.x(), a.y(), u.x(), u.y());
        break;
    case writer::Tool::RoundRectangle:
        figure.RoundRect(a.x(), a.y(), u.x(), u.y(), half(a.x(), u.x()), half(a.y(), u.y()));
        break;
    default: {
        const int m = static_cast<int>((a.y() + u.y()) * 0.5);
        figure.Arc(u.x(), u.y(), a.x(), a.y(), u.x(), m, a.x(), m);
        break;
    }
    }
}

} // namespace ombri::test
