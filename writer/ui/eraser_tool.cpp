#include "writer/ui/eraser_tool.h"

#include <algorithm>

namespace ombri::writer {

void EraserTool::takeUp()
{
    m_halfSize = kDefaultHalfSize;
    // Off the visible area, so that the first move draws no ring to take away.
    m_last = QPoint(-12, -12);
    m_canvas.drawing().startFromNotes();
}

void EraserTool::setSizeText(const QString& text)
{
    long long size = 0;
    long long place = 1;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
            size += (c.unicode() - '0') * place;
        if (place > 1000000000LL || size > 1000000000LL)
            break; // a half-size wider than any picture erases the same
        place *= 10;
    }
    if (size > 0)
        m_halfSize = static_cast<int>(size);
}

void EraserTool::move(QPoint point, unsigned keyState)
{
    const int e = m_halfSize;
    if (keyState != 0)
        EraseSquare(point.x() - e, point.y() - e, point.x() + e, point.y() + e);
    Surface& surface = m_canvas.surface();
    const auto mode = surface.setROP2(Surface::RasterMode::Not);
    surface.selectBrush(Surface::Brush::Null);
    surface.Ellipse(m_last.x() - e, m_last.y() - e, m_last.x() + e, m_last.y() + e);
    surface.Ellipse(point.x() - e, point.y() - e, point.x() + e, point.y() + e);
    surface.setROP2(mode);
    m_last = point;
    m_canvas.flushSurface();
}

void EraserTool::release(QPoint)
{
    m_canvas.drawing().finishAction(actionName());
}

// Erased pixels show the picture as it is under them.
void EraserTool::EraseSquare(int left, int top, int right, int bottom)
{
    PendingDrawing& drawing = m_canvas.drawing();
    const WriterDocument& doc = m_canvas.document();
    if (!drawing.layer() || !doc.hasImage())
        return;
    const Dib& picture = doc.image();
    auto layout = dibGetLayout(picture);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return;
    Surface& surface = m_canvas.surface();
    const QPoint scroll = m_canvas.scrollPosition();
    const int width = doc.width();
    const int height = doc.height();
    const int x0 = std::max({left, 0, -scroll.x()});
    const int y0 = std::max({top, 0, -scroll.y()});
    const int x1 = std::min(right, width - scroll.x());
    const int y1 = std::min(bottom, height - scroll.y());
    const size_t step = layout->bitCount / 8;
    const uint8_t* pixels = picture.data() + layout->pixelOffset;
    const std::vector<uint8_t>& copy = *drawing.layer();
    if (copy.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return;
    for (int y = y0; y < y1; ++y) {
        const int row = y + scroll.y();
        const size_t rowInMemory = static_cast<size_t>(height - 1 - row);
        const uint8_t* line = pixels + rowInMemory * layout->stride;
        for (int x = x0; x < x1; ++x) {
            const int column = x + scroll.x();
            const size_t index = rowInMemory * static_cast<size_t>(width) + column;
            if (copy[index] != 1)
                continue;
            const uint8_t* pixel = line + column * step;
            surface.SetPixelV(x, y, qRgb(pixel[2], pixel[1], pixel[0]));
            drawing.erase(index);
        }
    }
}

bool EraserTool::putDown(bool)
{
    m_canvas.drawing().commit(PendingDrawing::Joins::Keep, actionName());
    // The eraser hid the committed notes and painted its working copy over the picture; once
    // it is put down the notes are shown as they now are.
    return true;
}

} // namespace ombri::writer
