#pragma once

#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>

#include <QRect>
#include <string>
#include <vector>

namespace ombri {

// The drawing surface the writer's tools draw on: an off-screen 32-bit image the size of the
// view's client area, which the view shows. Its primitives cover exactly the pixels the desktop
// drawing interface the tools were designed for covers with a one-pixel black pen: a line omits
// its end point, and the rectangle-based figures cover left <= x < right, top <= y < bottom. The
// tools read pure black back from it, so every covered pixel matters.
//
// Like a window's device context the surface keeps its state: the raster mode, the brush and the
// pen's width stay selected until something else is selected.
//
// A wider pen covers, around every pixel of the one-pixel figure, the pen's footprint: a disc as
// many pixels across as the pen is wide. A figure still covers each of its pixels once, so that
// the inverting mode removes it by drawing it again.
class Surface {
  public:
    enum class RasterMode { CopyPen, Not }; // R2_COPYPEN, R2_NOT (each pixel drawn is inverted)
    enum class Brush { White, Null };       // WHITE_BRUSH (a new surface's), NULL_BRUSH (hollow)
    static constexpr QRgb kInvalidColour = 0xFFFFFFFFu; // GetPixel outside the surface
    static constexpr int kWidestPen = 64;

    explicit Surface(int width = 0, int height = 0);

    // The new area is white; what overlaps the old size is kept.
    void resize(int width, int height);
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    QImage& image() { return m_image; }
    const QImage& image() const { return m_image; }

    RasterMode setROP2(RasterMode mode); // returns the previous mode
    RasterMode getROP2() const { return m_rasterMode; }
    Brush selectBrush(Brush brush); // returns the previous brush
    int setPenWidth(int width);     // at least 1; returns the previous width
    int penWidth() const { return m_penWidth; }
    // The pixels a pen of this width covers around one pixel of a figure, as offsets from it.
    static std::vector<QPoint> penFootprint(int width);

    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Rectangle(int left, int top, int right, int bottom);
    void Ellipse(int left, int top, int right, int bottom);
    void RoundRect(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight);
    void Arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);
    void SetPixelV(int x, int y, QRgb colour);
    // The colour as 0xffRRGGBB, or kInvalidColour outside the surface.
    QRgb GetPixel(int x, int y) const;

    // Text in any script. It is drawn in black on an opaque white cell without anti-aliasing, so
    // its glyph pixels are pure black and nothing of the picture shows through the cell. Glyphs
    // the selected font lacks come from the fonts the system falls back to. The extent is the
    // cell: the advance of the text and the height of the font.
    void selectFont(const QFont& font);
    const QFont& font() const { return m_font; }
    void TextOut(int x, int y, const QString& text);
    QSize GetTextExtentPoint32(const QString& text) const;

    // The bounding rectangle of every pixel changed since the last call, so the view repaints
    // only that part of the window.
    QRect takeDirtyRect();

  private:
    QImage m_image;
    RasterMode m_rasterMode = RasterMode::CopyPen;
    Brush m_brush = Brush::White;
    int m_penWidth = 1;
    QPoint m_position;
    QFont m_font;
    QRect m_dirty;
};

} // namespace ombri
