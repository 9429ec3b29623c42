#include "platform/qt/screen_picture.h"

#include "core/dib.h"
#include "platform/qt/dib_draw.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace ombri {
namespace {

constexpr QRgb kBackground = 0xff8080ffu;

QImage greyPicture(int width, int height, const std::function<double(int, int)>& value)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = std::clamp(static_cast<int>(std::lround(value(x, y))), 0, 255);
            picture.setPixel(x, y, qRgb(v, v, v));
        }
    return picture;
}

// Circles whose frequency grows from nothing in the middle to one cycle every two pixels at the
// corners: any sampling shortcut shows as rings.
QImage zonePlate(int width, int height)
{
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double corner = std::hypot(cx, cy);
    return greyPicture(width, height, [&](int x, int y) {
        const double r2 = (x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy);
        return 127.5 + 127.5 * std::cos(M_PI * r2 / (2 * corner));
    });
}

// Every screen pixel of a width x height destination the exact mean of the picture's area it
// covers, worked out in double precision straight from the definition.
std::vector<double> areaAverage(const QImage& picture, int width, int height)
{
    const auto spans = [](int stored, int shown) {
        // For each output, the (input, share) pairs.
        std::vector<std::vector<std::pair<int, double>>> result(static_cast<size_t>(shown));
        const double step = static_cast<double>(stored) / shown;
        for (int o = 0; o < shown; ++o) {
            const double from = o * step;
            const double to = (o + 1) * step;
            for (int i = static_cast<int>(from); i < stored && i < to; ++i) {
                const double overlap =
                    std::min(to, i + 1.0) - std::max(from, static_cast<double>(i));
                if (overlap > 0)
                    result[static_cast<size_t>(o)].push_back({i, overlap / step});
            }
        }
        return result;
    };
    const auto across = spans(picture.width(), width);
    const auto down = spans(picture.height(), height);
    std::vector<double> rows(static_cast<size_t>(picture.height()) * static_cast<size_t>(width));
    for (int y = 0; y < picture.height(); ++y)
        for (int o = 0; o < width; ++o) {
            double sum = 0;
            for (const auto& [x, share] : across[static_cast<size_t>(o)])
                sum += share * qGreen(picture.pixel(x, y));
            rows[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(o)] =
                sum;
        }
    std::vector<double> result(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int o = 0; o < height; ++o)
        for (int x = 0; x < width; ++x) {
            double sum = 0;
            for (const auto& [y, share] : down[static_cast<size_t>(o)])
                sum += share * rows[static_cast<size_t>(y) * static_cast<size_t>(width) +
                                    static_cast<size_t>(x)];
            result[static_cast<size_t>(o) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                sum;
        }
    return result;
}

double psnr(const QImage& frame, const std::vector<double>& reference)
{
    double squares = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const double want = reference[static_cast<size_t>(y * frame.width() + x)];
            for (const int channel :
                 {qRed(frame.pixel(x, y)), qGreen(frame.pixel(x, y)), qBlue(frame.pixel(x, y))})
                squares += (channel - want) * (channel - want);
        }
    const double mean = squares / (3.0 * frame.width() * frame.height());
    return 10 * std::log10(255.0 * 255.0 / std::max(mean, 1e-12));
}

QImage frameOf(QSize size)
{
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(kBackground);
    return frame;
}

QImage rendered(ScreenPicture& screen, QSize frameSize, const ScreenFrame& request)
{
    QImage frame = frameOf(frameSize);
    screen.render(frame, request);
    return frame;
}

// The destination Fit In gives a picture in a view.
QRect fitIn(QSize picture, QSize view)
{
    const double scale = std::min(static_cast<double>(view.width()) / picture.width(),
                                  static_cast<double>(view.height()) / picture.height());
    const int w = static_cast<int>(picture.width() * scale);
    const int h = static_cast<int>(picture.height() * scale);
    return QRect((view.width() - w) / 2, (view.height() - h) / 2, w, h);
}

TEST(ScreenPictureTest, ShrunkChartsMatchTheirAreaAverage)
{
    const QSize view(300, 220);
    const QImage stripes = greyPicture(1203, 905, [](int x, int) { return x % 2 ? 255.0 : 0.0; });
    for (const QImage& chart : {zonePlate(1203, 905), stripes}) {
        ScreenPicture screen;
        screen.setPicture(chart);
        ScreenFrame request;
        request.destination = fitIn(chart.size(), view);
        const auto psnrOf = [&](ScreenPicture& from) {
            return psnr(
                rendered(from, view, request).copy(request.destination),
                areaAverage(chart, request.destination.width(), request.destination.height()));
        };
        EXPECT_GE(psnrOf(screen), 35.0);
        // From a reduced copy each screen pixel also takes in a little of its neighbours' area:
        // softer, yet far from the rings of the unfiltered look, which stays one setting away.
        ScreenPicture reduced(1);
        reduced.setPicture(chart);
        const double fromReduced = psnrOf(reduced);
        request.smoothShrinking = false;
        const double sharp = psnrOf(screen);
        EXPECT_LT(sharp, 25.0);
        EXPECT_GT(fromReduced, sharp);
        std::printf("area average PSNR: reduced copy %.1f dB, unfiltered %.1f dB\n", fromReduced,
                    sharp);
    }
}

// A grey carrier with one-pixel note lines across and down every 37 pixels.
struct LinedCarrier {
    QImage picture;
    std::vector<uint8_t> notes; // rows bottom first
    static constexpr int kSpacing = 37;

    LinedCarrier(int width, int height)
        : picture(greyPicture(width, height, [](int, int) { return 128.0; })),
          notes(static_cast<size_t>(width) * static_cast<size_t>(height), 0)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (x % kSpacing == 20 || y % kSpacing == 20)
                    notes[static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) +
                          static_cast<size_t>(x)] = 1;
    }
};

bool reddish(QRgb pixel)
{
    return qRed(pixel) - qGreen(pixel) >= 48;
}

TEST(ScreenPictureTest, OnePixelNoteLinesStayVisibleAndThin)
{
    const LinedCarrier carrier(1850, 1221);
    for (const size_t budget : {ScreenPicture::kLevelBudget, size_t{1}})
        for (const NoteLook look : {NoteLook::Blended, NoteLook::Painted})
            for (const double zoom : {0.10, 0.24, 0.50}) {
                SCOPED_TRACE(testing::Message() << "zoom " << zoom << " look "
                                                << static_cast<int>(look) << " budget " << budget);
                ScreenPicture screen(budget);
                screen.setPicture(carrier.picture, carrier.notes.data());
                ScreenFrame request;
                request.destination =
                    QRect(0, 0, static_cast<int>(1850 * zoom), static_cast<int>(1221 * zoom));
                request.showNotes = true;
                request.noteColour = makeColourRef(255, 0, 0);
                request.noteLook = look;
                const QImage frame = rendered(screen, request.destination.size(), request);
                // Down a column between the vertical lines, each horizontal line is met in one or
                // two consecutive screen rows, and nothing else is red.
                const int column = static_cast<int>((LinedCarrier::kSpacing + 2) * zoom);
                int lines = 0;
                int run = 0;
                for (int y = 0; y <= frame.height(); ++y) {
                    if (y < frame.height() && reddish(frame.pixel(column, y))) {
                        ++run;
                        continue;
                    }
                    if (run > 0) {
                        ++lines;
                        EXPECT_LE(run, 2) << "at row " << y;
                    }
                    run = 0;
                }
                EXPECT_EQ(lines, (1221 - 20 + LinedCarrier::kSpacing - 1) / LinedCarrier::kSpacing);
            }
}

// Noise with scattered notes, so that any misplaced pixel shows.
struct NoisyCarrier {
    QImage picture;
    std::vector<uint8_t> notes;

    NoisyCarrier(int width, int height)
        : picture(width, height, QImage::Format_RGB32),
          notes(static_cast<size_t>(width) * static_cast<size_t>(height), 0)
    {
        std::mt19937 random(29);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                picture.setPixel(x, y, 0xff000000u | (random() & 0xffffffu));
        for (auto& note : notes)
            note = random() % 50 == 0 ? 1 : 0;
    }
};

TEST(ScreenPictureTest, TheVisiblePartEqualsThatPartOfTheWholeRendering)
{
    const NoisyCarrier carrier(301, 203);
    // Shrunk from the reduced copies whenever it can be, and from the picture itself.
    for (const size_t budget : {size_t{1}, ScreenPicture::kLevelBudget}) {
        ScreenPicture screen(budget);
        screen.setPicture(carrier.picture, carrier.notes.data());
        for (int turn = 0; turn < 8; ++turn)
            for (const double zoom : {0.1, 0.24, 0.5, 0.77})
                for (const bool notes : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "turn " << turn << " zoom " << zoom);
                    ScreenFrame request;
                    request.axes = {(turn & 4) != 0, (turn & 1) != 0, (turn & 2) != 0};
                    const QSize shown = request.axes.exchange ? QSize(203, 301) : QSize(301, 203);
                    const QSize whole(static_cast<int>(shown.width() * zoom),
                                      static_cast<int>(shown.height() * zoom));
                    request.showNotes = notes;
                    request.noteColour = makeColourRef(0, 255, 0);
                    request.destination = QRect(QPoint(0, 0), whole);
                    const QImage full = rendered(screen, whole, request);
                    // Scrolled to the middle, and placed with a margin as a small picture is.
                    for (const QPoint offset :
                         {QPoint(whole.width() / 3, whole.height() / 2), QPoint(-5, -3)}) {
                        const QSize part(std::max(1, whole.width() / 2),
                                         std::max(1, whole.height() / 3));
                        request.destination = QRect(-offset, whole);
                        const QImage frame = rendered(screen, part, request);
                        const QRect inside = QRect(QPoint(0, 0), part) & request.destination;
                        EXPECT_EQ(frame.copy(inside), full.copy(inside.translated(offset)));
                    }
                }
    }
}

// The noise made partly see-through: premultiplied, its alpha falling from opaque at the top.
QImage seeThrough(const QImage& picture);

TEST(ScreenPictureTest, TheWideAndNarrowWeighingsGiveTheSamePixels)
{
    // Odd sizes, so that the last pixels of a row and a lone last tap are weighed too; shrinks
    // with one to many taps, from the picture itself and from its reduced copies.
    const NoisyCarrier carrier(613, 409);
    struct Restore {
        ~Restore() { ScreenPicture::allowWideLanes(true); }
    } restore;
    for (const bool transparent : {false, true})
        for (const size_t budget : {size_t{1}, ScreenPicture::kLevelBudget})
            for (const double zoom : {0.93, 0.61, 0.41, 0.26, 0.17, 0.07})
                for (int turn = 0; turn < 8; turn += 3) {
                    SCOPED_TRACE(testing::Message()
                                 << "transparent " << transparent << " budget " << budget
                                 << " zoom " << zoom << " turn " << turn);
                    ScreenFrame request;
                    request.axes = {(turn & 4) != 0, (turn & 1) != 0, (turn & 2) != 0};
                    const QSize shown = request.axes.exchange ? QSize(409, 613) : QSize(613, 409);
                    request.destination = QRect(-3, 2, static_cast<int>(shown.width() * zoom),
                                                static_cast<int>(shown.height() * zoom));
                    const QSize frameSize(request.destination.width() - 2,
                                          request.destination.height() + 5);
                    QImage frames[2];
                    for (const bool wide : {false, true}) {
                        // A picture of its own each time, so that no kept pixels are reused.
                        ScreenPicture::allowWideLanes(wide);
                        ScreenPicture screen(budget);
                        screen.setPicture(transparent ? seeThrough(carrier.picture)
                                                      : carrier.picture,
                                          carrier.notes.data());
                        frames[wide] = rendered(screen, frameSize, request);
                    }
                    EXPECT_EQ(frames[0], frames[1]);
                }
}

// The noise made partly see-through: premultiplied, its alpha falling from opaque at the top.
QImage seeThrough(const QImage& picture)
{
    QImage result(picture.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            const int alpha = std::max(0, 255 - 2 * y);
            const auto times = [alpha](int value) { return (value * alpha + 127) / 255; };
            result.setPixel(
                x, y, qRgba(times(qRed(pixel)), times(qGreen(pixel)), times(qBlue(pixel)), alpha));
        }
    return result;
}

TEST(ScreenPictureTest, ATurnedFrameIsTheUnturnedOneTransposed)
{
    // Exchanging the axes only moves each screen pixel to the mirrored place, with its notes and
    // the checkerboard under it, however the frame's rows are written.
    const NoisyCarrier carrier(301, 203);
    for (const bool transparent : {false, true})
        for (const size_t budget : {size_t{1}, ScreenPicture::kLevelBudget}) {
            ScreenPicture screen(budget);
            screen.setPicture(transparent ? seeThrough(carrier.picture) : carrier.picture,
                              carrier.notes.data());
            for (const double zoom : {0.24, 0.77})
                for (int flips = 0; flips < 4; ++flips)
                    for (const NoteLook look :
                         {NoteLook::Blended, NoteLook::Painted, NoteLook::Complemented}) {
                        SCOPED_TRACE(testing::Message()
                                     << "transparent " << transparent << " budget " << budget
                                     << " zoom " << zoom << " flips " << flips << " look "
                                     << static_cast<int>(look));
                        ScreenFrame request;
                        request.axes = {false, (flips & 1) != 0, (flips & 2) != 0};
                        request.showNotes = true;
                        request.noteLook = look;
                        request.noteColour = makeColourRef(0, 255, 0);
                        request.destination = QRect(-7, 5, static_cast<int>(301 * zoom),
                                                    static_cast<int>(203 * zoom));
                        const QSize frameSize(request.destination.width() - 20,
                                              request.destination.height() + 9);
                        const QImage unturned = rendered(screen, frameSize, request);
                        request.axes.exchange = true;
                        request.destination =
                            QRect(request.destination.y(), request.destination.x(),
                                  request.destination.height(), request.destination.width());
                        const QImage turned = rendered(screen, frameSize.transposed(), request);
                        int wrong = 0;
                        for (int y = 0; y < turned.height(); ++y)
                            for (int x = 0; x < turned.width(); ++x)
                                wrong += turned.pixel(x, y) != unturned.pixel(y, x);
                        EXPECT_EQ(wrong, 0);
                    }
        }
}

// A 32-bit picture: see-through on the left, opaque (alpha 254) on the right.
Dib halfTransparent(int width, int height)
{
    Dib dib = Dib::create(width, height, 32);
    const auto layout = dibGetLayout(dib);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dib.data() + layout->pixelOffset + static_cast<size_t>(y) * layout->stride;
        for (int x = 0; x < width; ++x) {
            const uint8_t pixel[4] = {0, 0, 200, static_cast<uint8_t>(x < width / 2 ? 0 : 254)};
            std::memcpy(row + 4 * x, pixel, 4);
        }
    }
    return dib;
}

TEST(ScreenPictureTest, SeeThroughPixelsShowACheckerboardThatMovesWithThePicture)
{
    ScreenPicture screen;
    screen.setPicture(ScreenPicture::fromDib(halfTransparent(64, 32), true));
    ASSERT_TRUE(screen.showsTransparency());
    for (const bool smooth : {false, true}) {
        ScreenFrame request;
        request.smoothShrinking = smooth;
        for (const QPoint origin : {QPoint(0, 0), QPoint(-3, -5)}) {
            request.destination = QRect(origin, QSize(64, 32));
            const QImage frame = rendered(screen, QSize(64, 32), request);
            const QPoint square = origin + QPoint(2, 2); // a pixel inside the first square
            const QRgb first = frame.pixel(square.x() + 8, square.y() + 8);
            EXPECT_EQ(frame.pixel(std::max(0, square.x()), std::max(0, square.y())), first);
            EXPECT_NE(frame.pixel(square.x() + 8, square.y() + 16), first);
            EXPECT_EQ(qRed(first), qGreen(first)); // a grey
            EXPECT_GE(qGray(first), 192);
            // Alpha 254 is opaque: the carrier's colour exactly.
            EXPECT_EQ(frame.pixel(50, 20), qRgb(200, 0, 0));
        }
    }
    // Without transparency the same pixels show their colours, as the desktop draws them.
    screen.setPicture(ScreenPicture::fromDib(halfTransparent(64, 32), false));
    EXPECT_FALSE(screen.showsTransparency());
    ScreenFrame request;
    request.destination = QRect(0, 0, 64, 32);
    EXPECT_EQ(rendered(screen, QSize(64, 32), request).pixel(5, 5), qRgb(200, 0, 0));
}

TEST(ScreenPictureTest, SoftEdgesAreAveragedPremultiplied)
{
    // Black see-through pixels beside opaque white: the average is a light grey over the
    // checkerboard, never darkened by the hidden colour.
    Dib dib = Dib::create(2, 2, 32);
    const auto layout = dibGetLayout(dib);
    for (int y = 0; y < 2; ++y) {
        uint8_t* row = dib.data() + layout->pixelOffset + static_cast<size_t>(y) * layout->stride;
        const uint8_t pixels[8] = {0, 0, 0, 0, 255, 255, 255, 255};
        std::memcpy(row, pixels, 8);
    }
    ScreenPicture screen;
    screen.setPicture(ScreenPicture::fromDib(dib, true));
    ScreenFrame request;
    request.destination = QRect(0, 0, 1, 1);
    EXPECT_GE(qGray(rendered(screen, QSize(1, 1), request).pixel(0, 0)), 220);
}

TEST(ScreenPictureTest, PicturesWithAColourTableAreShrunkToo)
{
    const size_t stride = DibRowStride(4, 8);
    Dib dib = Dib::allocate(40 + 2 * 4 + stride * 2);
    const auto header = DibMakeHeader(4, 2, 8, 0);
    std::memcpy(dib.data(), header.data(), header.size());
    const uint32_t used = 2;
    std::memcpy(dib.data() + 32, &used, 4);
    const uint8_t table[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    std::memcpy(dib.data() + 40, table, 8);
    for (int y = 0; y < 2; ++y) {
        const uint8_t row[4] = {0, 1, 0, 1};
        std::memcpy(dib.data() + 48 + y * stride, row, 4);
    }
    ScreenPicture screen;
    screen.setPicture(ScreenPicture::fromDib(dib, false));
    ScreenFrame request;
    request.destination = QRect(0, 0, 2, 1);
    const QImage frame = rendered(screen, QSize(2, 1), request);
    EXPECT_NEAR(qGray(frame.pixel(0, 0)), 128, 1);
    EXPECT_NEAR(qGray(frame.pixel(1, 0)), 128, 1);
}

} // namespace
} // namespace ombri
