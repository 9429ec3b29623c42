#include "view_fixture.h"

#include <QPixmap>

// These run in the ctest entry that scales the screen by two (QT_SCALE_FACTOR=2); in the plain
// run the screen is not scaled and they are skipped.

namespace ombri::writer {
using namespace ombri::test;
namespace {

class ScaledWriterViewTest : public ViewFixture {
  protected:
    void SetUp() override
    {
        ViewFixture::SetUp();
        if (view->viewport()->devicePixelRatio() != 2.0)
            GTEST_SKIP() << "the screen is not scaled by two";
    }
};

// The canvas keeps one picture pixel per logical pixel, so that the mouse reaches each of them;
// on the scaled screen each becomes a 2 x 2 block of one colour, with no blending between
// neighbours.
TEST_F(ScaledWriterViewTest, EachPicturePixelIsAWholeBlockOfScreenPixels)
{
    constexpr int kWidth = 100;
    constexpr int kHeight = 60;
    Dib picture = Dib::create(kWidth, kHeight, 24);
    const auto layout = dibGetLayout(picture);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = picture.data() + layout->pixelOffset +
                       static_cast<size_t>(kHeight - 1 - y) * layout->stride;
        for (int x = 0; x < kWidth; ++x)
            std::memset(row + 3 * x, (x + y) % 2 ? 0xD8 : 0x28, 3);
    }
    openPicture(picture);
    ASSERT_FLOAT_EQ(view->inspect().zoom, 1.0f);
    ASSERT_EQ(view->inspect().destination, QRect(0, 0, kWidth, kHeight));

    const QImage screen = view->viewport()->grab().toImage();
    ASSERT_EQ(screen.size(), view->viewport()->size() * 2);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const QRgb expected = (x + y) % 2 ? 0xD8D8D8u : 0x282828u;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    ASSERT_EQ(screen.pixel(2 * x + dx, 2 * y + dy) & 0xFFFFFFu, expected)
                        << x << "," << y << " +" << dx << "," << dy;
        }
}

} // namespace
} // namespace ombri::writer
