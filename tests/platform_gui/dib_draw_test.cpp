#include "core/dib.h"
#include "platform/qt/dib_draw.h"
#include "platform/qt/qt_prompt.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cstring>

namespace ombri {
namespace {

// An 8-bit picture with the given colour table, row y (from the top) filled with index y.
Dib makeIndexedPicture(int width, int height, uint32_t coloursUsed)
{
    const size_t stride = DibRowStride(width, 8);
    Dib dib = Dib::allocate(40 + coloursUsed * 4 + stride * height);
    auto header = DibMakeHeader(width, height, 8, 0);
    std::memcpy(dib.data(), header.data(), header.size());
    std::memcpy(dib.data() + 32, &coloursUsed, 4);
    for (uint32_t i = 0; i < coloursUsed; ++i) {
        uint8_t* entry = dib.data() + 40 + i * 4;
        entry[0] = static_cast<uint8_t>(i);     // blue
        entry[1] = static_cast<uint8_t>(i * 2); // green
        entry[2] = static_cast<uint8_t>(i * 3); // red
    }
    for (int y = 0; y < height; ++y)
        std::memset(dib.data() + 40 + coloursUsed * 4 + (height - 1 - y) * stride, y, width);
    return dib;
}

TEST(DibDrawTest, PaletteComesFromTheColourTable)
{
    EXPECT_TRUE(DibBuildPalette(Dib::create(4, 4, 24)).empty());
    const Dib indexed = makeIndexedPicture(3, 5, 20);
    const std::vector<uint32_t> palette = DibBuildPalette(indexed);
    ASSERT_EQ(palette.size(), 20u);
    EXPECT_EQ(palette[7], qRgb(21, 14, 7));
}

TEST(DibDrawTest, ConversionKeepsRowsTopFirstAndColoursExact)
{
    Dib picture = Dib::create(3, 2, 24);
    auto layout = dibGetLayout(picture);
    uint8_t* bottom = picture.data() + layout->pixelOffset;
    bottom[0] = 1, bottom[1] = 2, bottom[2] = 3; // blue, green, red of the bottom-left pixel
    const QImage image = dibToQImage(picture);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(0, 1), qRgb(3, 2, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));

    const QImage indexed = dibToQImage(makeIndexedPicture(3, 5, 20));
    ASSERT_EQ(indexed.format(), QImage::Format_Indexed8);
    EXPECT_EQ(indexed.pixel(2, 4), qRgb(12, 8, 4));

    // Indexes beyond a short colour table are shown black, never read from outside it.
    Dib shortTable = makeIndexedPicture(2, 30, 4);
    EXPECT_EQ(dibToQImage(shortTable).pixel(0, 29), qRgb(0, 0, 0));
}

TEST(DibDrawTest, MalformedOrEmptyBlocksDrawNothing)
{
    EXPECT_TRUE(dibToQImage(Dib()).isNull());
    Dib truncated = Dib::allocate(40);
    auto header = DibMakeHeader(100, 100, 24, 0);
    std::memcpy(truncated.data(), header.data(), header.size());
    EXPECT_TRUE(dibToQImage(truncated).isNull());

    QImage target(10, 10, QImage::Format_RGB32);
    QPainter painter(&target);
    EXPECT_FALSE(DibDraw(painter, QRect(0, 0, 10, 10), QImage(), QRect(0, 0, 1, 1)));
}

TEST(DibDrawTest, StretchRepeatsWholePixelsWithoutBlending)
{
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(1, 0, qRgb(0, 0, 255));
    QImage target(8, 2, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    EXPECT_TRUE(DibDraw(painter, QRect(0, 0, 8, 2), picture, picture.rect()));
    painter.end();
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(target.pixel(x, 1), x < 4 ? qRgb(255, 0, 0) : qRgb(0, 0, 255)) << x;
}

TEST(QtFileFilterTest, EntriesKeepTheirOrderAndPatterns)
{
    EXPECT_EQ(toQtFileFilter("Image Files|*.png; *.bmp|PNG       (*.png)|*.png|All Files   "
                             "(*.*)|*.*|"),
              QStringLiteral("Image Files (*.png *.PNG *.bmp *.BMP);;PNG (*.png *.PNG);;All "
                             "Files (*.*)"));
}

} // namespace
} // namespace ombri
