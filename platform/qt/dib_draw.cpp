#include "platform/qt/dib_draw.h"

#include <QPainter>

#include <cstring>

namespace ombri {
namespace {

// One bottom-up row of 1, 4 or 8-bit indexes, unpacked into one byte per pixel.
void unpackIndexes(const uint8_t* row, int32_t width, uint16_t bitCount, uchar* out)
{
    if (bitCount == 8) {
        std::memcpy(out, row, static_cast<size_t>(width));
        return;
    }
    const int perByte = 8 / bitCount;
    const int mask = (1 << bitCount) - 1;
    for (int32_t x = 0; x < width; ++x) {
        const int shift = 8 - bitCount * (x % perByte + 1);
        out[x] = static_cast<uchar>((row[x / perByte] >> shift) & mask);
    }
}

QImage indexedImage(const Dib& dib, const DibLayout& layout, const std::vector<uint32_t>& table)
{
    QVector<QRgb> palette(table.begin(), table.end());
    QImage image(layout.width, layout.height, QImage::Format_Indexed8);
    if (image.isNull())
        return {};
    // Indexes past the colour table show black rather than reading outside it.
    palette.resize(256, qRgb(0, 0, 0));
    image.setColorTable(palette);
    const uint8_t* pixels = dib.data() + layout.pixelOffset;
    for (int32_t y = 0; y < layout.height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(layout.height - 1 - y) * layout.stride;
        unpackIndexes(row, layout.width, layout.bitCount, image.scanLine(y));
    }
    return image;
}

QImage trueColourImage(const Dib& dib, const DibLayout& layout)
{
    QImage image(layout.width, layout.height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const uint8_t* pixels = dib.data() + layout.pixelOffset;
    for (int32_t y = 0; y < layout.height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(layout.height - 1 - y) * layout.stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        switch (layout.bitCount) {
        case 32:
            // Blue, green, red, alpha in memory is the 32-bit RGB layout; the alpha byte is
            // not shown, as the desktop's own drawing of such pictures ignores it.
            std::memcpy(out, row, static_cast<size_t>(layout.width) * 4);
            for (int32_t x = 0; x < layout.width; ++x)
                out[x] |= 0xff000000u;
            break;
        case 24:
            for (int32_t x = 0; x < layout.width; ++x, row += 3)
                out[x] = qRgb(row[2], row[1], row[0]);
            break;
        default: // 16: five bits each of red, green and blue
            for (int32_t x = 0; x < layout.width; ++x, row += 2) {
                const unsigned word = row[0] | (row[1] << 8);
                const auto expand = [](unsigned v) {
                    return static_cast<int>((v << 3) | (v >> 2));
                };
                out[x] =
                    qRgb(expand((word >> 10) & 31), expand((word >> 5) & 31), expand(word & 31));
            }
        }
    }
    return image;
}

// One channel of a pixel of the given opacity seen over white, rounded to the nearest step.
int overWhite(int channel, int alpha)
{
    return (channel * alpha + 255 * (255 - alpha) + 127) / 255;
}

} // namespace

QImage dibOverWhite(const Dib& dib)
{
    constexpr int kOpaqueEnough = 254;
    auto layout = dibGetLayout(dib);
    if (!layout || layout->bitCount != 32 || layout->width <= 0 || layout->height <= 0)
        return dibToQImage(dib);
    QImage image(layout->width, layout->height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const uint8_t* pixels = dib.data() + layout->pixelOffset;
    for (int32_t y = 0; y < layout->height; ++y) {
        const uint8_t* pixel =
            pixels + static_cast<size_t>(layout->height - 1 - y) * layout->stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int32_t x = 0; x < layout->width; ++x, pixel += 4) {
            const int alpha = pixel[3] >= kOpaqueEnough ? 255 : pixel[3];
            out[x] = qRgb(overWhite(pixel[2], alpha), overWhite(pixel[1], alpha),
                          overWhite(pixel[0], alpha));
        }
    }
    return image;
}

QImage dibToQImage(const Dib& dib, const std::vector<uint32_t>& palette)
{
    auto layout = dibGetLayout(dib);
    if (!layout || layout->width <= 0 || layout->height <= 0)
        return {};
    switch (layout->bitCount) {
    case 1:
    case 4:
    case 8:
        return indexedImage(dib, *layout, palette.empty() ? DibBuildPalette(dib) : palette);
    case 16:
    case 24:
    case 32:
        return trueColourImage(dib, *layout);
    default:
        return {};
    }
}

bool DibDraw(QPainter& painter, const QRect& destination, const QImage& picture,
             const QRect& source)
{
    if (picture.isNull() || destination.isEmpty() || source.isEmpty())
        return false;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (destination.size() == source.size())
        painter.drawImage(destination.topLeft(), picture, source);
    else
        painter.drawImage(destination, picture, source);
    painter.restore();
    return true;
}

QRect printDestination(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight, int dpiX,
                       int dpiY)
{
    if (pictureWidth <= 0 || pictureHeight <= 0 || dpiX <= 0)
        return {};
    const double height = static_cast<double>(dpiY) * pageWidth * pictureHeight /
                          (static_cast<double>(dpiX) * pictureWidth);
    const int drawnHeight = static_cast<int>(height);
    return QRect(0, (pageHeight - drawnHeight) / 2, pageWidth, drawnHeight);
}

} // namespace ombri
