#include "bench/png_corpus.h"

#include "bench/photo_image.h"

#include <QColor>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace ombri::bench {

namespace {

using Random = SplitMix64;

// A made-up word of two to ten letters: text that looks like text to a compressor without
// repeating one sentence.
QString word(Random& random)
{
    static const char* const kSyllables[] = {"ka",  "lo",  "re",  "mi",  "tan", "sor", "ve",
                                             "dru", "ne",  "pol", "ist", "an",  "ber", "o",
                                             "que", "lin", "ta",  "gre", "us",  "mer"};
    QString made;
    const int count = random.range(1, 4);
    for (int i = 0; i < count; ++i)
        made += QString::fromLatin1(kSyllables[random.range(0, 19)]);
    return made;
}

QString sentence(Random& random, int words)
{
    QString made;
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            made += QLatin1Char(' ');
        made += word(random);
    }
    return made;
}

QColor randomColour(Random& random, int low = 0, int high = 255)
{
    return QColor(random.range(low, high), random.range(low, high), random.range(low, high));
}

QFont font(const char* family, int pixels, bool bold = false)
{
    QFont made(QString::fromLatin1(family));
    made.setPixelSize(pixels);
    made.setBold(bold);
    return made;
}

// Lines of text filling the rectangle, wrapped at its width; answers the height used.
int paragraph(QPainter& painter, Random& random, const QRect& box, int words)
{
    const QRect used =
        painter.boundingRect(box, Qt::TextWordWrap | Qt::AlignLeft, sentence(random, words));
    painter.drawText(box, Qt::TextWordWrap | Qt::AlignLeft, sentence(random, words));
    return used.height();
}

// A picture of the photo kind scaled into a QImage, for thumbnails and illustrations.
QImage photoPatch(Random& random, int width, int height)
{
    const Dib photo = makePhotoImage(width, height, random.next(), 2.0);
    const auto layout = dibGetLayout(photo);
    QImage image(width, height, QImage::Format_RGB32);
    if (!layout)
        return image;
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = photo.data() + layout->pixelOffset +
                              static_cast<size_t>(height - 1 - y) * layout->stride;
        auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            to[x] = qRgb(from[3 * x + 2], from[3 * x + 1], from[3 * x]);
    }
    return image;
}

Dib dibFromImage(const QImage& drawn, bool alpha)
{
    const QImage image =
        drawn.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const int32_t width = image.width();
    const int32_t height = image.height();
    Dib dib = Dib::create(width, height, alpha ? 32 : 24);
    const auto layout = dibGetLayout(dib);
    if (!layout)
        return Dib();
    const int bytes = alpha ? 4 : 3;
    for (int32_t y = 0; y < height; ++y) {
        // Blue, green, red, alpha in memory, as a DIB keeps them; the DIB's top row is its last.
        const uchar* from = image.constScanLine(y);
        uint8_t* to =
            dib.data() + layout->pixelOffset + static_cast<size_t>(height - 1 - y) * layout->stride;
        for (int32_t x = 0; x < width; ++x)
            std::memcpy(to + x * bytes, from + x * 4, static_cast<size_t>(bytes));
    }
    return dib;
}

// Sensor-like noise over every colour byte, as a scanner adds it.
void addNoise(Dib& dib, Random& random, double sigma)
{
    const auto layout = dibGetLayout(dib);
    if (!layout)
        return;
    const int bytes = layout->bitCount / 8;
    for (int32_t y = 0; y < layout->height; ++y) {
        uint8_t* row = dib.data() + layout->pixelOffset + static_cast<size_t>(y) * layout->stride;
        for (int32_t x = 0; x < layout->width; ++x)
            for (int c = 0; c < 3; ++c) {
                // The sum of four uniform numbers is near enough to a normal one.
                const double u =
                    random.uniform() + random.uniform() + random.uniform() + random.uniform() - 2.0;
                const long value = row[x * bytes + c] + std::lround(u * sigma * 1.732);
                row[x * bytes + c] = static_cast<uint8_t>(std::clamp(value, 0l, 255l));
            }
    }
}

QImage blank(const CorpusEntry& entry, const QColor& colour, bool alpha = false)
{
    QImage image(entry.width, entry.height,
                 alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    image.fill(alpha ? QColor(Qt::transparent) : colour);
    return image;
}

// Our own windows, from the README's screenshots kept for the benchmarks, tiled at `scale` on a
// desktop colour, starting at a window the seed picks; `only` keeps the names holding it.
QImage tiledWindows(const CorpusEntry& entry, Random& random, int scale, const QString& only)
{
    QImage image = blank(entry, randomColour(random, 40, 220));
    std::vector<QImage> shots;
    const QDir folder(QString::fromUtf8(OMBRI_SCREENSHOT_DIR));
    for (const QString& name : folder.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name))
        if (only.isEmpty() || name.contains(only))
            shots.push_back(QImage(folder.filePath(name)));
    if (shots.empty())
        return image;
    QPainter painter(&image);
    size_t next = static_cast<size_t>(random.range(0, static_cast<int>(shots.size()) - 1));
    int x = random.range(0, 40), top = random.range(0, 40), rowHeight = 0;
    while (top < entry.height) {
        const QImage& shot = shots[next++ % shots.size()];
        const QSize size = shot.size() * scale;
        if (x > 0 && x + size.width() > entry.width) {
            x = random.range(0, 40);
            top += rowHeight + random.range(0, 24);
            rowHeight = 0;
            continue;
        }
        painter.drawImage(QRect(QPoint(x, top), size), shot);
        x += size.width() + random.range(0, 24);
        rowHeight = std::max(rowHeight, size.height());
    }
    return image;
}

QImage terminal(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, QColor(30, 30, 36));
    QPainter painter(&image);
    painter.setFont(font("DejaVu Sans Mono", 15));
    const QColor colours[] = {QColor(220, 220, 220), QColor(120, 220, 120), QColor(240, 200, 90),
                              QColor(240, 110, 100), QColor(110, 170, 250)};
    for (int y = 18; y < entry.height; y += 19) {
        int x = 8;
        if (random.range(0, 5) == 0) {
            painter.setPen(colours[1]);
            painter.drawText(x, y, QStringLiteral("user@host:~/src$ "));
            x += 170;
        }
        painter.setPen(colours[random.range(0, 4) == 0 ? random.range(2, 4) : 0]);
        painter.drawText(x, y, sentence(random, random.range(1, 22)));
    }
    return image;
}

QImage webPage(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(0, 0, entry.width, 72, QColor(36, 41, 47));
    painter.setPen(Qt::white);
    painter.setFont(font("DejaVu Sans", 20, true));
    for (int x = 40; x < entry.width - 200; x += random.range(120, 220))
        painter.drawText(x, 45, word(random));
    int y = 110;
    const int column = entry.width * 2 / 3;
    while (y < entry.height - 100) {
        painter.setPen(QColor(20, 20, 20));
        painter.setFont(font("DejaVu Sans", 34, true));
        painter.drawText(60, y + 34, sentence(random, random.range(2, 6)));
        y += 60;
        painter.setFont(font("DejaVu Serif", 17));
        for (int p = random.range(1, 3); p > 0; --p)
            y +=
                paragraph(painter, random, QRect(60, y, column - 80, 2000), random.range(40, 120)) +
                18;
        if (random.range(0, 1) == 0) {
            const int h = random.range(180, 360);
            painter.drawImage(60, y, photoPatch(random, column - 80, h));
            y += h + 24;
        }
        painter.setPen(QColor(9, 105, 218));
        painter.setFont(font("DejaVu Sans", 16));
        painter.drawText(60, y + 16, sentence(random, 4));
        y += 50;
    }
    // A side bar of boxes with links.
    painter.setPen(QColor(200, 200, 200));
    for (int top = 110; top < entry.height - 260; top += 280) {
        painter.setBrush(QColor(246, 248, 250));
        painter.drawRoundedRect(column + 20, top, entry.width - column - 60, 240, 8, 8);
        painter.setPen(QColor(9, 105, 218));
        for (int line = 0; line < 7; ++line)
            painter.drawText(column + 40, top + 40 + line * 28, sentence(random, 3));
        painter.setPen(QColor(200, 200, 200));
    }
    return image;
}

QImage darkApplication(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, QColor(43, 43, 43));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font("DejaVu Sans", 14));
    painter.fillRect(0, 0, entry.width, 34, QColor(32, 32, 32));
    painter.setPen(QColor(230, 230, 230));
    for (int x = 12, i = 0; i < 8; ++i, x += 80)
        painter.drawText(x, 23, word(random));
    // The folder tree.
    const int side = entry.width / 5;
    painter.fillRect(0, 34, side, entry.height - 60, QColor(37, 37, 38));
    for (int y = 60; y < entry.height - 40; y += 24) {
        const int depth = random.range(0, 4);
        painter.setPen(QColor(200, 200, 200));
        painter.drawText(16 + depth * 18, y, word(random) + QLatin1Char(' ') + word(random));
    }
    // Thumbnails with captions.
    const int cell = 220;
    for (int y = 50; y + cell < entry.height - 30; y += cell + 40)
        for (int x = side + 20; x + cell < entry.width; x += cell + 20) {
            if (random.range(0, 2) == 0)
                painter.drawImage(x, y, photoPatch(random, cell, cell * 3 / 4));
            else
                painter.fillRect(x, y, cell, cell * 3 / 4, randomColour(random));
            painter.setPen(QColor(210, 210, 210));
            painter.drawText(x, y + cell * 3 / 4 + 22, word(random) + QStringLiteral(".png"));
        }
    // An open menu with its shadow.
    const QRect menu(random.range(side, entry.width - 400), 34, 320, 420);
    for (int s = 12; s > 0; --s)
        painter.fillRect(menu.adjusted(-s, -s + 12, s, s + 12), QColor(0, 0, 0, 10));
    painter.fillRect(menu, QColor(60, 60, 60));
    painter.setPen(QColor(235, 235, 235));
    for (int line = 0; line < 14; ++line)
        painter.drawText(menu.left() + 20, menu.top() + 28 + line * 28, sentence(random, 2));
    painter.fillRect(0, entry.height - 26, entry.width, 26, QColor(0, 122, 204));
    painter.setPen(Qt::white);
    painter.drawText(10, entry.height - 8, sentence(random, 6));
    return image;
}

// A page of text on white: headings, justified paragraphs and a page number.
void documentText(QPainter& painter, Random& random, const QRect& page, int textPixels)
{
    int y = page.top();
    painter.setPen(Qt::black);
    while (y < page.bottom() - textPixels * 6) {
        painter.setFont(font("DejaVu Serif", textPixels * 3 / 2, true));
        painter.drawText(page.left(), y + textPixels * 2, sentence(random, random.range(2, 5)));
        y += textPixels * 3;
        painter.setFont(font("DejaVu Serif", textPixels));
        const QRect box(page.left(), y, page.width(), page.bottom() - y);
        const QString text = sentence(random, random.range(60, 200));
        const QRect used = painter.boundingRect(box, Qt::TextWordWrap | Qt::AlignJustify, text);
        painter.drawText(box, Qt::TextWordWrap | Qt::AlignJustify, text);
        y += used.height() + textPixels;
    }
}

QImage documentPage(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int margin = entry.width / 10;
    documentText(painter, random,
                 QRect(margin, margin, entry.width - 2 * margin, entry.height - 2 * margin),
                 entry.width / 60);
    return image;
}

// Axes, a grid, labelled ticks, a few smooth series and a legend.
void chart(QPainter& painter, Random& random, const QRect& area)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    const QRect plot = area.adjusted(area.width() / 10, area.height() / 12, -area.width() / 20,
                                     -area.height() / 8);
    painter.setFont(font("DejaVu Sans", std::max(10, area.height() / 60)));
    for (int i = 0; i <= 10; ++i) {
        const int x = plot.left() + plot.width() * i / 10;
        const int y = plot.top() + plot.height() * i / 10;
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(x, plot.top(), x, plot.bottom());
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(Qt::black);
        painter.drawText(x - 10, plot.bottom() + area.height() / 30, QString::number(i * 10));
        painter.drawText(area.left() + 10, y + 5, QString::number(100 - i * 10));
    }
    painter.setPen(QPen(Qt::black, 2));
    painter.drawRect(plot);
    const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                              QColor(214, 39, 40)};
    for (const QColor& colour : colours) {
        QPainterPath path;
        const double a = random.uniform() * 6, b = random.uniform() * 20 + 2;
        double level = random.uniform() * 0.6 + 0.2;
        for (int x = 0; x <= plot.width(); x += 4) {
            level += (random.uniform() - 0.5) * 0.01;
            const double v = level + 0.1 * std::sin(a + b * x / plot.width());
            const QPointF point(plot.left() + x, plot.bottom() - v * plot.height());
            if (x == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        painter.setPen(QPen(colour, 3));
        painter.drawPath(path);
    }
    painter.setPen(Qt::black);
    for (int i = 0; i < 4; ++i) {
        painter.fillRect(plot.right() - 220, plot.top() + 20 + i * 30, 30, 14, colours[i]);
        painter.drawText(plot.right() - 180, plot.top() + 33 + i * 30, word(random));
    }
}

QImage chartPicture(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::white);
    QPainter painter(&image);
    chart(painter, random, image.rect());
    return image;
}

QImage diagram(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font("DejaVu Sans", 26));
    const int columns = 6, rows = 6;
    const int cellW = entry.width / columns, cellH = entry.height / rows;
    std::vector<QRect> boxes;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            if (random.range(0, 3) != 0)
                boxes.emplace_back(c * cellW + cellW / 6, r * cellH + cellH / 4, cellW * 2 / 3,
                                   cellH / 2);
    painter.setPen(QPen(QColor(80, 80, 80), 3));
    for (size_t i = 1; i < boxes.size(); ++i)
        if (random.range(0, 1) == 0)
            painter.drawLine(boxes[i - 1].center(), boxes[i].center());
    for (const QRect& box : boxes) {
        painter.setPen(QPen(QColor(60, 60, 60), 3));
        painter.setBrush(QColor::fromHsv(random.range(0, 359), 50, 245));
        painter.drawRoundedRect(box, 16, 16);
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, sentence(random, 3));
    }
    return image;
}

// Two columns of text with charts and a ruled table between them.
QImage twoColumns(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::white);
    QPainter painter(&image);
    const int margin = entry.width / 14;
    const int column = (entry.width - 3 * margin) / 2;
    for (int c = 0; c < 2; ++c) {
        const int left = margin + c * (column + margin);
        int y = margin;
        while (y < entry.height - margin - 700) {
            documentText(painter, random, QRect(left, y, column, 900), 28);
            y += 940;
            if (random.range(0, 1) == 0) {
                chart(painter, random, QRect(left, y, column, 600));
            } else {
                painter.setPen(QPen(Qt::black, 2));
                painter.setFont(font("DejaVu Sans", 24));
                for (int r = 0; r < 12; ++r) {
                    painter.drawLine(left, y + r * 50, left + column, y + r * 50);
                    for (int k = 0; k < 4; ++k)
                        painter.drawText(left + 10 + k * column / 4, y + r * 50 + 36,
                                         r == 0 ? word(random)
                                                : QString::number(random.range(0, 99999)));
                }
            }
            y += 660;
        }
    }
    return image;
}

QImage scannedPage(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, QColor(246, 242, 232));
    QPainter painter(&image);
    // Uneven light across the glass.
    QLinearGradient light(0, 0, entry.width, entry.height);
    light.setColorAt(0, QColor(255, 255, 255, 0));
    light.setColorAt(1, QColor(120, 110, 90, 60));
    painter.fillRect(image.rect(), light);
    const int margin = entry.width / 10;
    documentText(painter, random,
                 QRect(margin, margin, entry.width - 2 * margin, entry.height - 2 * margin),
                 entry.width / 70);
    painter.end();
    // The scanner's optics soften the edges a little.
    return image
        .scaled(entry.width * 2 / 3, entry.height * 2 / 3, Qt::IgnoreAspectRatio,
                Qt::SmoothTransformation)
        .scaled(entry.width, entry.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// A tile map of sixteen colours, each map cell drawn as a block of `scale` pixels.
QImage pixelArt(const CorpusEntry& entry, Random& random)
{
    constexpr int kScale = 8;
    const int w = entry.width / kScale, h = entry.height / kScale;
    QImage small(w, h, QImage::Format_RGB32);
    QRgb palette[16];
    for (QRgb& colour : palette)
        colour = randomColour(random).rgb();
    // Terrain from a few random blobs, then sprites of 12 x 12 scattered over it.
    small.fill(palette[0]);
    QPainter painter(&small);
    for (int i = 0; i < w * h / 400; ++i) {
        const int r = random.range(3, 20);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgb(palette[random.range(1, 4)]));
        painter.drawEllipse(QPoint(random.range(0, w), random.range(0, h)), r, r);
    }
    std::vector<QImage> sprites;
    for (int s = 0; s < 12; ++s) {
        QImage sprite(12, 12, QImage::Format_ARGB32);
        sprite.fill(Qt::transparent);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 6; ++x)
                if (random.range(0, 2) != 0) {
                    const QRgb colour = palette[random.range(5, 15)];
                    sprite.setPixel(x, y, colour);
                    sprite.setPixel(11 - x, y, colour);
                }
        sprites.push_back(sprite);
    }
    for (int i = 0; i < w * h / 300; ++i)
        painter.drawImage(random.range(0, w - 12), random.range(0, h - 12),
                          sprites[static_cast<size_t>(random.range(0, 11))]);
    painter.end();
    return small.scaled(entry.width, entry.height);
}

QImage flatShapes(const CorpusEntry& entry, Random& random, bool smooth)
{
    QColor palette[12];
    for (QColor& colour : palette)
        colour = randomColour(random);
    QImage image = blank(entry, palette[0]);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, smooth);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 160; ++i) {
        painter.setBrush(palette[random.range(1, 11)]);
        const int x = random.range(0, entry.width), y = random.range(0, entry.height);
        const int w = random.range(entry.width / 40, entry.width / 5);
        const int h = random.range(entry.height / 40, entry.height / 5);
        switch (random.range(0, 2)) {
        case 0:
            painter.drawRect(x, y, w, h);
            break;
        case 1:
            painter.drawEllipse(x, y, w, w);
            break;
        default:
            painter.drawPolygon(
                QPolygon({QPoint(x, y), QPoint(x + w, y + h / 3), QPoint(x + w / 3, y + h)}));
        }
    }
    if (smooth) {
        painter.setPen(palette[random.range(1, 11)]);
        painter.setFont(font("DejaVu Sans", entry.height / 10, true));
        painter.drawText(image.rect(), Qt::AlignCenter, sentence(random, 2));
    }
    return image;
}

QImage icons(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::transparent, true);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int cell = 128;
    for (int y = 0; y + cell <= entry.height; y += cell)
        for (int x = 0; x + cell <= entry.width; x += cell) {
            const QRect box(x + 12, y + 12, cell - 24, cell - 24);
            QLinearGradient fill(box.topLeft(), box.bottomRight());
            fill.setColorAt(0, randomColour(random, 60, 255));
            fill.setColorAt(1, randomColour(random, 0, 200));
            painter.setBrush(fill);
            painter.setPen(QPen(QColor(0, 0, 0, 120), 2));
            if (random.range(0, 1) == 0)
                painter.drawRoundedRect(box, 18, 18);
            else
                painter.drawEllipse(box);
            painter.setPen(QPen(Qt::white, 6));
            painter.drawLine(box.center() - QPoint(20, 0), box.center() + QPoint(20, 0));
        }
    return image;
}

QImage vignettedPhoto(const CorpusEntry& entry, Random& random)
{
    QImage image = photoPatch(random, entry.width, entry.height)
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    QRadialGradient fade(image.rect().center(), entry.height * 0.7);
    fade.setColorAt(0.6, QColor(0, 0, 0, 255));
    fade.setColorAt(1, QColor(0, 0, 0, 0));
    painter.fillRect(image.rect(), fade);
    return image;
}

// Panels with soft shadows and text over a transparent ground, as an overlay is exported.
QImage overlay(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::transparent, true);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        const QRect panel(random.range(0, entry.width - 900), random.range(0, entry.height - 600),
                          random.range(300, 900), random.range(200, 600));
        for (int s = 24; s > 0; s -= 2)
            painter.fillRect(panel.adjusted(-s, -s + 8, s, s + 8), QColor(0, 0, 0, 6));
        painter.setBrush(QColor(250, 250, 250, random.range(180, 255)));
        painter.setPen(QColor(180, 180, 180));
        painter.drawRoundedRect(panel, 10, 10);
        painter.setPen(QColor(30, 30, 30));
        painter.setFont(font("DejaVu Sans", 18));
        paragraph(painter, random, panel.adjusted(16, 16, -16, -16), random.range(10, 60));
    }
    return image;
}

QImage transparentText(const CorpusEntry& entry, Random& random)
{
    QImage image = blank(entry, Qt::transparent, true);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int y = 0; y < entry.height; y += 90) {
        painter.setPen(randomColour(random));
        painter.setFont(font(random.range(0, 1) ? "DejaVu Sans" : "DejaVu Serif",
                             random.range(30, 70), random.range(0, 1) == 0));
        painter.drawText(random.range(0, 200), y + 70, sentence(random, random.range(2, 8)));
    }
    return image;
}

using Maker = std::function<QImage(const CorpusEntry&, Random&)>;

const std::map<std::string, Maker>& makers()
{
    static const std::map<std::string, Maker> made = {
        {"screen_writer_tiled",
         [](const CorpusEntry& e, Random& r) {
             return tiledWindows(e, r, 1, QStringLiteral("writer-main"));
         }},
        {"screen_windows_hidpi",
         [](const CorpusEntry& e, Random& r) { return tiledWindows(e, r, 2, QString()); }},
        {"screen_terminal", terminal},
        {"screen_web_page", webPage},
        {"screen_dark_application", darkApplication},
        {"doc_page", documentPage},
        {"doc_chart", chartPicture},
        {"doc_diagram", diagram},
        {"doc_two_columns", twoColumns},
        {"scan_page", scannedPage},
        {"flat_pixel_art", pixelArt},
        {"flat_shapes", [](const CorpusEntry& e, Random& r) { return flatShapes(e, r, false); }},
        {"flat_poster", [](const CorpusEntry& e, Random& r) { return flatShapes(e, r, true); }},
        {"alpha_icons", icons},
        {"alpha_vignetted_photo", vignettedPhoto},
        {"alpha_overlay", overlay},
        {"alpha_text", transparentText},
    };
    return made;
}

// The photographs are drawn without Qt, at their noise levels; scans get their noise after.
double photoNoise(const std::string& name)
{
    if (name == "photo_clean")
        return 1.0;
    if (name == "photo_grainy")
        return 8.0;
    if (name == "photo_large")
        return 3.2;
    return 0;
}

} // namespace

const char* corpusKindName(CorpusKind kind)
{
    switch (kind) {
    case CorpusKind::Screenshot:
        return "screenshot";
    case CorpusKind::Document:
        return "document";
    case CorpusKind::Photo:
        return "photo";
    case CorpusKind::Flat:
        return "flat";
    case CorpusKind::Alpha:
        return "alpha";
    }
    return "?";
}

double corpusSizeBound(CorpusKind kind)
{
    return kind == CorpusKind::Photo ? 1.02 : 1.00;
}

const std::vector<CorpusEntry>& pngCorpus()
{
    using K = CorpusKind;
    static const std::vector<CorpusEntry> entries = {
        {"screen_writer_tiled", K::Screenshot, 6000, 4000},
        {"screen_windows_hidpi", K::Screenshot, 3840, 2160},
        {"screen_terminal", K::Screenshot, 2560, 1600},
        {"screen_web_page", K::Screenshot, 1920, 3200},
        {"screen_dark_application", K::Screenshot, 3200, 2000},
        {"doc_page", K::Document, 2480, 3508},
        {"doc_chart", K::Document, 3000, 2000},
        {"doc_diagram", K::Document, 4000, 3000},
        {"doc_two_columns", K::Document, 4000, 6000},
        {"photo_clean", K::Photo, 3000, 2000},
        {"photo_grainy", K::Photo, 4000, 3000},
        {"photo_large", K::Photo, 6000, 4000},
        {"scan_page", K::Photo, 2480, 3508},
        {"flat_pixel_art", K::Flat, 6000, 4000},
        {"flat_shapes", K::Flat, 4000, 3000},
        {"flat_poster", K::Flat, 3000, 2000},
        {"alpha_icons", K::Alpha, 2048, 2048},
        {"alpha_vignetted_photo", K::Alpha, 3000, 2000},
        {"alpha_overlay", K::Alpha, 6000, 4000},
        {"alpha_text", K::Alpha, 2400, 1200},
    };
    return entries;
}

Dib makeCorpusPicture(const CorpusEntry& entry, uint64_t seed)
{
    // Each picture has its own stream of numbers, so that adding one leaves the others alone.
    uint64_t nameHash = 0xCBF29CE484222325ull; // FNV-1a, the same on every system
    for (const char c : entry.name)
        nameHash = (nameHash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
    Random random{seed * 0x9E3779B97F4A7C15ull ^ nameHash};
    if (const double noise = photoNoise(entry.name); noise > 0)
        return makePhotoImage(entry.width, entry.height, random.next(), noise);
    const auto maker = makers().find(entry.name);
    if (maker == makers().end())
        return Dib();
    Dib dib = dibFromImage(maker->second(entry, random), entry.kind == CorpusKind::Alpha);
    if (entry.name == "scan_page")
        addNoise(dib, random, 2.5);
    return dib;
}

} // namespace ombri::bench
