#include "platform/qt/screen_picture.h"
#include <cstdio>
#include <ctime>

#include "platform/qt/dib_draw.h"

#include <QPainter>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define OMBRI_WIDE_WEIGHING 1
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace ombri {

namespace {

// Area weights are fixed point: those of one screen pixel along one axis add up to kUnit, so a
// product of two stays within 32 bits for every channel.
constexpr int kWeightBits = 12;
constexpr uint32_t kUnit = 1u << kWeightBits;
constexpr int kAreaBits = 2 * kWeightBits;

// The checkerboard behind see-through pixels: squares of this many screen pixels, in two light
// greys.
constexpr int kCheckerShift = 3;
constexpr uint32_t kCheckerLight = 0xffeeeeeeu;
constexpr uint32_t kCheckerDark = 0xffccccccu;

constexpr uint32_t kOpaque = 0xff000000u;

// Each screen row is first weighed down the reduced rows it covers, then across: the sums down
// are kept in 16 bits for each channel (a weighted sum of bytes out of kUnit loses kDownShift
// bits), and the sums across then fit a signed 32-bit lane.
constexpr int kDownShift = 5;
constexpr int kAcrossShift = kAreaBits - kDownShift;

#if defined(__SSE2__)
// Two weights side by side, for multiplying two pixels' channels and adding them in one step;
// a lone last weight goes with a zero.
inline __m128i weightPair(const uint32_t* weights, int t, int count)
{
    const uint32_t second = t + 1 < count ? weights[t + 1] : 0;
    return _mm_set1_epi32(static_cast<int>(weights[t] | (second << 16)));
}
#endif

// The pixels from `from` to width that the vector loops leave, one channel at a time.
inline void weighDownTail(const uint32_t* const* rows, const uint32_t* weights, int count,
                          size_t from, size_t width, int16_t* out)
{
    for (size_t x = from; x < width; ++x)
        for (int channel = 0; channel < 4; ++channel) {
            uint32_t sum = 1u << (kDownShift - 1);
            for (int t = 0; t < count; ++t)
                sum += weights[t] * ((rows[t][x] >> (8 * channel)) & 0xffu);
            out[4 * x + static_cast<size_t>(channel)] = static_cast<int16_t>(sum >> kDownShift);
        }
}

// The weighted sum of count rows, pixel by pixel over width pixels, each channel in 16 bits.
// The number of rows is a constant where it is small, so that the loops over them unroll.
template <int kCount>
void weighDownBy(const uint32_t* const* rows, const uint32_t* weights, int runtimeCount,
                 size_t width, int16_t* out)
{
    const int count = kCount > 0 ? kCount : runtimeCount;
    size_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (kDownShift - 1));
    for (; x + 4 <= width; x += 4) {
        __m128i sums[4] = {half, half, half, half};
        for (int t = 0; t < count; t += 2) {
            const auto load = [&](int row) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[row] + x));
            };
            const __m128i upper = load(t);
            const __m128i lower = t + 1 < count ? load(t + 1) : zero;
            const __m128i pair = weightPair(weights, t, count);
            // Pixels 0 and 1, then 2 and 3, their channels as 16-bit numbers.
            const __m128i upperWords[2] = {_mm_unpacklo_epi8(upper, zero),
                                           _mm_unpackhi_epi8(upper, zero)};
            const __m128i lowerWords[2] = {_mm_unpacklo_epi8(lower, zero),
                                           _mm_unpackhi_epi8(lower, zero)};
            for (int pairIndex = 0; pairIndex < 2; ++pairIndex) {
                sums[2 * pairIndex] = _mm_add_epi32(
                    sums[2 * pairIndex],
                    _mm_madd_epi16(_mm_unpacklo_epi16(upperWords[pairIndex], lowerWords[pairIndex]),
                                   pair));
                sums[2 * pairIndex + 1] = _mm_add_epi32(
                    sums[2 * pairIndex + 1],
                    _mm_madd_epi16(_mm_unpackhi_epi16(upperWords[pairIndex], lowerWords[pairIndex]),
                                   pair));
            }
        }
        for (int pairIndex = 0; pairIndex < 2; ++pairIndex)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 8 * pairIndex),
                             _mm_packs_epi32(_mm_srai_epi32(sums[2 * pairIndex], kDownShift),
                                             _mm_srai_epi32(sums[2 * pairIndex + 1], kDownShift)));
    }
    for (; x + 2 <= width; x += 2) {
        __m128i first = half;
        __m128i second = half;
        for (int t = 0; t < count; t += 2) {
            const auto load = [&](int row) {
                return _mm_unpacklo_epi8(
                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[row] + x)), zero);
            };
            const __m128i upper = load(t);
            const __m128i lower = t + 1 < count ? load(t + 1) : zero;
            const __m128i pair = weightPair(weights, t, count);
            first = _mm_add_epi32(first, _mm_madd_epi16(_mm_unpacklo_epi16(upper, lower), pair));
            second = _mm_add_epi32(second, _mm_madd_epi16(_mm_unpackhi_epi16(upper, lower), pair));
        }
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + 4 * x),
            _mm_packs_epi32(_mm_srai_epi32(first, kDownShift), _mm_srai_epi32(second, kDownShift)));
    }
#endif
    weighDownTail(rows, weights, count, x, width, out);
}

// Calls the version of a weighing made for the number of taps, or the general one.
template <template <int> class Weighing, typename... Args>
void byTapCount(int count, Args&&... args)
{
    switch (count) {
    case 1:
        return Weighing<1>::run(count, std::forward<Args>(args)...);
    case 2:
        return Weighing<2>::run(count, std::forward<Args>(args)...);
    case 3:
        return Weighing<3>::run(count, std::forward<Args>(args)...);
    case 4:
        return Weighing<4>::run(count, std::forward<Args>(args)...);
    case 5:
        return Weighing<5>::run(count, std::forward<Args>(args)...);
    default:
        return Weighing<0>::run(count, std::forward<Args>(args)...);
    }
}

template <int kCount> struct WeighDown {
    static void run(int count, const uint32_t* const* rows, const uint32_t* weights, size_t width,
                    int16_t* out)
    {
        weighDownBy<kCount>(rows, weights, count, width, out);
    }
};

void weighDown(const uint32_t* const* rows, const uint32_t* weights, int count, size_t width,
               int16_t* out)
{
    byTapCount<WeighDown>(count, rows, weights, width, out);
}

#if defined(__SSE2__)
// The weights across laid out for the screen row loop: for each screen pixel, each pair of its
// weights side by side and repeated over the four channels, ready to multiply without shuffling.
void splatPairs(const uint32_t* weights, int count, size_t columns, std::vector<uint32_t>& out)
{
    const size_t pairs = static_cast<size_t>(count + 1) / 2;
    out.resize(columns * pairs * 4);
    for (size_t column = 0; column < columns; ++column)
        for (size_t pair = 0; pair < pairs; ++pair) {
            const uint32_t* from = weights + column * static_cast<size_t>(count) + 2 * pair;
            const uint32_t second = 2 * pair + 1 < static_cast<size_t>(count) ? from[1] : 0;
            std::fill_n(out.data() + (column * pairs + pair) * 4, 4, from[0] | (second << 16));
        }
}

// One screen pixel's channels, each the weighted sum across of a run of sums down, in 32 bits.
template <int kCount>
inline __m128i weighAcrossBy(const int16_t* from, const uint32_t* pairs, int runtimeCount)
{
    const int count = kCount > 0 ? kCount : runtimeCount;
    __m128i sum = _mm_set1_epi32(1 << (kAcrossShift - 1));
    for (int t = 0; t < count; t += 2) {
        const __m128i left = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + 4 * t));
        const __m128i right =
            t + 1 < count ? _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + 4 * t + 4))
                          : _mm_setzero_si128();
        sum = _mm_add_epi32(
            sum, _mm_madd_epi16(_mm_unpacklo_epi16(left, right),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 2 * t))));
    }
    return _mm_srai_epi32(sum, kAcrossShift);
}

#if defined(OMBRI_WIDE_WEIGHING)
// The same weighings on processors with 256-bit integer lanes, chosen when the program starts:
// twice the pixels per step, with exactly the sums of the 128-bit ones.
#define OMBRI_WIDE __attribute__((target("avx2")))

std::atomic<bool> g_wideLanesAllowed{true};

bool hasWideLanes()
{
    static const bool wide = __builtin_cpu_supports("avx2") != 0;
    return wide && g_wideLanesAllowed.load(std::memory_order_relaxed);
}

// Four pixels' channels as 16-bit numbers, in order.
OMBRI_WIDE inline __m256i widenedPixels(const uint32_t* from)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
}

// Down the rows, four pixels at a time: their channels widened to 16 bits in order, so that
// interleaving an upper and a lower row gives pixels 0 and 2, then 1 and 3, and packing the two
// sums puts all four back in order.
template <int kCount>
OMBRI_WIDE void weighDownWideBy(const uint32_t* const* rows, const uint32_t* weights,
                                int runtimeCount, size_t width, int16_t* out)
{
    const int count = kCount > 0 ? kCount : runtimeCount;
    const __m256i half = _mm256_set1_epi32(1 << (kDownShift - 1));
    size_t x = 0;
    for (; x + 4 <= width; x += 4) {
        __m256i even = half;
        __m256i odd = half;
        for (int t = 0; t < count; t += 2) {
            const __m256i upper = widenedPixels(rows[t] + x);
            const __m256i lower =
                t + 1 < count ? widenedPixels(rows[t + 1] + x) : _mm256_setzero_si256();
            const uint32_t second = t + 1 < count ? weights[t + 1] : 0;
            const __m256i pair = _mm256_set1_epi32(static_cast<int>(weights[t] | (second << 16)));
            even = _mm256_add_epi32(even,
                                    _mm256_madd_epi16(_mm256_unpacklo_epi16(upper, lower), pair));
            odd =
                _mm256_add_epi32(odd, _mm256_madd_epi16(_mm256_unpackhi_epi16(upper, lower), pair));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                            _mm256_packs_epi32(_mm256_srai_epi32(even, kDownShift),
                                               _mm256_srai_epi32(odd, kDownShift)));
    }
    weighDownTail(rows, weights, count, x, width, out);
}

template <int kCount> struct WeighDownWide {
    static void run(int count, const uint32_t* const* rows, const uint32_t* weights, size_t width,
                    int16_t* out)
    {
        weighDownWideBy<kCount>(rows, weights, count, width, out);
    }
};

// The weights across for two screen pixels side by side: for each pair of taps, the first
// pixel's pair over four channels, then the second's; a lone last pixel goes with zeros.
void splatPairsWide(const uint32_t* weights, int count, size_t columns, std::vector<uint32_t>& out)
{
    const size_t pairs = static_cast<size_t>(count + 1) / 2;
    const size_t twins = (columns + 1) / 2;
    out.assign(twins * pairs * 8, 0);
    for (size_t column = 0; column < columns; ++column)
        for (size_t pair = 0; pair < pairs; ++pair) {
            const uint32_t* from = weights + column * static_cast<size_t>(count) + 2 * pair;
            const uint32_t second = 2 * pair + 1 < static_cast<size_t>(count) ? from[1] : 0;
            std::fill_n(out.data() + ((column / 2) * pairs + pair) * 8 + (column % 2) * 4, 4,
                        from[0] | (second << 16));
        }
}

// Two screen pixels, one in each 128-bit lane: each pair of taps is one load of two sums down,
// whose channels are interleaved to meet their weights.
template <int kCount>
OMBRI_WIDE inline __m256i weighAcrossWideBy(const int16_t* left, const int16_t* right,
                                            const uint32_t* pairs, int runtimeCount)
{
    const int count = kCount > 0 ? kCount : runtimeCount;
    const __m256i interleave =
        _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                         11, 4, 5, 12, 13, 6, 7, 14, 15);
    __m256i sum = _mm256_set1_epi32(1 << (kAcrossShift - 1));
    for (int t = 0, pair = 0; t < count; t += 2, ++pair) {
        const __m256i taps = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 4 * t))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + 4 * t)), 1);
        sum = _mm256_add_epi32(
            sum, _mm256_madd_epi16(
                     _mm256_shuffle_epi8(taps, interleave),
                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + 8 * pair))));
    }
    return _mm256_srai_epi32(sum, kAcrossShift);
}

// Where the two screen pixels of a lane pair find their sums down and their weights.
struct Twins {
    const int16_t* sums;
    const int* firsts;
    int spanStart;
    const uint32_t* pairs;
    size_t columns;
    size_t step;

    template <int kCount> OMBRI_WIDE __m256i at(size_t column, int count) const
    {
        const size_t right = std::min(column + 1, columns - 1);
        return weighAcrossWideBy<kCount>(sums + 4 * static_cast<size_t>(firsts[column] - spanStart),
                                         sums + 4 * static_cast<size_t>(firsts[right] - spanStart),
                                         pairs + (column / 2) * step, count);
    }
};

// One screen row, four screen pixels packed and stored together. The sums down hold one spare
// pixel past the span, which a lone last tap reads with a zero weight.
template <int kCount> struct WeighAcrossWide {
    OMBRI_WIDE static void run(int count, const int16_t* sums, const int* firsts, int spanStart,
                               const uint32_t* pairs, size_t columns, uint32_t* out)
    {
        const Twins twins{sums,  firsts,  spanStart,
                          pairs, columns, 8 * (static_cast<size_t>(count + 1) / 2)};
        const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        size_t column = 0;
        for (; column + 4 <= columns; column += 4) {
            const __m256i words = _mm256_packs_epi32(twins.at<kCount>(column, count),
                                                     twins.at<kCount>(column + 2, count));
            const __m256i bytes =
                _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), order);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + column),
                             _mm256_castsi256_si128(bytes));
        }
        for (; column < columns; column += 2) {
            const __m256i words = _mm256_packs_epi32(twins.at<kCount>(column, count),
                                                     twins.at<kCount>(column, count));
            const __m256i bytes = _mm256_packus_epi16(words, words);
            out[column] = static_cast<uint32_t>(_mm256_extract_epi32(bytes, 0));
            if (column + 1 < columns)
                out[column + 1] = static_cast<uint32_t>(_mm256_extract_epi32(bytes, 4));
        }
    }
};
#endif

// One screen row: each column's run of sums down weighed across, two screen pixels packed and
// stored together.
template <int kCount> struct WeighAcross {
    static void run(int count, const int16_t* sums, const int* firsts, int spanStart,
                    const uint32_t* pairs, size_t columns, uint32_t* out)
    {
        const size_t step = 4 * (static_cast<size_t>(count + 1) / 2);
        const auto at = [&](size_t column) {
            return weighAcrossBy<kCount>(sums + 4 * static_cast<size_t>(firsts[column] - spanStart),
                                         pairs + column * step, count);
        };
        size_t column = 0;
        for (; column + 2 <= columns; column += 2) {
            const __m128i words = _mm_packs_epi32(at(column), at(column + 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + column),
                             _mm_packus_epi16(words, words));
        }
        if (column < columns) {
            const __m128i last = at(column);
            const __m128i words = _mm_packs_epi32(last, last);
            out[column] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
        }
    }
};
#else
// One screen row: each column's run of sums down weighed across.
template <int kCount> struct WeighAcross {
    static void run(int count, const int16_t* sums, const int* firsts, int spanStart,
                    const uint32_t* weights, size_t columns, uint32_t* out)
    {
        for (size_t column = 0; column < columns; ++column) {
            const int16_t* from = sums + 4 * static_cast<size_t>(firsts[column] - spanStart);
            const uint32_t* own = weights + column * static_cast<size_t>(count);
            uint32_t pixel = 0;
            for (int channel = 0; channel < 4; ++channel) {
                uint32_t sum = 1u << (kAcrossShift - 1);
                for (int t = 0; t < count; ++t)
                    sum += own[t] * static_cast<uint32_t>(from[4 * t + channel]);
                pixel |= std::min<uint32_t>(sum >> kAcrossShift, 255) << (8 * channel);
            }
            out[column] = pixel;
        }
    }
};
#endif

// A premultiplied pixel over the checkerboard square under it; opaque pixels pass unchanged.
inline uint32_t overChecker(uint32_t pixel, int x, int y, QPoint origin)
{
    const uint32_t alpha = pixel >> 24;
    if (alpha == 255)
        return pixel;
    const bool light =
        (((x - origin.x()) >> kCheckerShift) ^ ((y - origin.y()) >> kCheckerShift)) & 1;
    const uint32_t back = light ? kCheckerLight : kCheckerDark;
    uint32_t out = kOpaque;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t under = (back >> shift) & 0xffu;
        const uint32_t mixed = ((pixel >> shift) & 0xffu) + ((255 - alpha) * under + 127) / 255;
        out |= std::min<uint32_t>(mixed, 255) << shift;
    }
    return out;
}

// The rectangle with its x and y exchanged (QRect::transposed keeps the corner where it is).
QRect mirrored(const QRect& rect)
{
    return QRect(rect.y(), rect.x(), rect.height(), rect.width());
}

inline uint32_t complemented(uint32_t pixel)
{
    return (pixel & kOpaque) | (~pixel & 0x00ffffffu);
}

inline uint32_t painted(ColourRef colour)
{
    return kOpaque | (uint32_t{colourRefRed(colour)} << 16) |
           (uint32_t{colourRefGreen(colour)} << 8) | colourRefBlue(colour);
}

// The colour laid over the pixel by weight, out of 256.
inline uint32_t mixed(uint32_t pixel, uint32_t colour, uint32_t weight)
{
    uint32_t out = kOpaque;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t value = (pixel >> shift) & 0xffu;
        const uint32_t over = (colour >> shift) & 0xffu;
        out |= ((value * (256 - weight) + over * weight + 128) >> 8) << shift;
    }
    return out;
}

// A run of premultiplied pixels over the checkerboard; first is the frame position of the first
// one, and the run goes down the frame when the axes are exchanged, across otherwise.
void checkerRow(const uint32_t* from, uint32_t* out, size_t count, QPoint first, bool down,
                QPoint origin)
{
    for (size_t i = 0; i < count; ++i) {
        const int step = static_cast<int>(i);
        out[i] = down ? overChecker(from[i], first.x(), first.y() + step, origin)
                      : overChecker(from[i], first.x() + step, first.y(), origin);
    }
}

// How notes are laid over the shrunk picture: painted and complemented ones where their coverage
// reaches the threshold, blended ones by their coverage.
struct NoteShade {
    NoteLook look = NoteLook::Blended;
    uint32_t colour = 0;
    uint32_t threshold = 0;
};

// A run of screen pixels made opaque with their notes, if coverage is given, laid over them;
// from and out may be the same run. Each look has its own loop, so that the run without notes
// is a plain copy.
void composeRow(const uint32_t* from, const uint32_t* coverage, const NoteShade& shade,
                uint32_t* out, size_t count)
{
    if (!coverage) {
        for (size_t i = 0; i < count; ++i)
            out[i] = from[i] | kOpaque;
        return;
    }
    switch (shade.look) {
    case NoteLook::Blended:
        for (size_t i = 0; i < count; ++i)
            out[i] = (coverage[i] ? mixed(from[i], shade.colour, (coverage[i] + (1u << 15)) >> 16)
                                  : from[i]) |
                     kOpaque;
        break;
    case NoteLook::Painted:
        for (size_t i = 0; i < count; ++i)
            out[i] = coverage[i] >= shade.threshold ? shade.colour : from[i] | kOpaque;
        break;
    case NoteLook::Complemented:
        for (size_t i = 0; i < count; ++i)
            out[i] = (coverage[i] >= shade.threshold ? complemented(from[i]) : from[i]) | kOpaque;
        break;
    }
}

// Half the size, each pixel the exact average of a 2 x 2 block; an odd last column or row is
// averaged with itself.
QImage halved(const QImage& from)
{
    const int width = from.width();
    const int height = from.height();
    QImage half((width + 1) / 2, (height + 1) / 2, from.format());
    if (half.isNull())
        return half;
    for (int y = 0; y < half.height(); ++y) {
        const auto* top = reinterpret_cast<const uint32_t*>(from.constScanLine(2 * y));
        const auto* bottom =
            reinterpret_cast<const uint32_t*>(from.constScanLine(std::min(2 * y + 1, height - 1)));
        auto* out = reinterpret_cast<uint32_t*>(half.scanLine(y));
        for (int x = 0; x < half.width(); ++x) {
            const int left = 2 * x;
            const int right = std::min(left + 1, width - 1);
            const uint32_t a = top[left], b = top[right], c = bottom[left], d = bottom[right];
            constexpr uint32_t kPair = 0x00ff00ffu;
            const uint32_t redBlue =
                (a & kPair) + (b & kPair) + (c & kPair) + (d & kPair) + 0x00020002u;
            const uint32_t alphaGreen = ((a >> 8) & kPair) + ((b >> 8) & kPair) +
                                        ((c >> 8) & kPair) + ((d >> 8) & kPair) + 0x00020002u;
            out[x] = ((redBlue >> 2) & kPair) | (((alphaGreen >> 2) & kPair) << 8);
        }
    }
    return half;
}

// The shown column (or row) each frame column (row) copies, picked exactly as the painter's
// stretch without smoothing picks it, so that pictures at and above 100% look as they always
// have; -1 where that stretch leaves the frame's pixel alone.
std::vector<int> nearestIndexes(Qt::Orientation along, int frameExtent, int start, int extent,
                                int shownExtent)
{
    const bool across = along == Qt::Horizontal;
    QImage indexes(across ? QSize(shownExtent, 1) : QSize(1, shownExtent), QImage::Format_RGB32);
    QImage picked(across ? QSize(frameExtent, 1) : QSize(1, frameExtent), QImage::Format_RGB32);
    std::vector<int> result(static_cast<size_t>(std::max(frameExtent, 0)), -1);
    if (indexes.isNull() || picked.isNull())
        return result;
    for (int i = 0; i < shownExtent; ++i)
        indexes.setPixel(across ? QPoint(i, 0) : QPoint(0, i), kOpaque | static_cast<uint32_t>(i));
    picked.fill(0u);
    {
        QPainter painter(&picked);
        DibDraw(painter, across ? QRect(start, 0, extent, 1) : QRect(0, start, 1, extent), indexes,
                indexes.rect());
    }
    for (int i = 0; i < frameExtent; ++i) {
        const uint32_t value = picked.pixel(across ? QPoint(i, 0) : QPoint(0, i));
        if (value & kOpaque)
            result[static_cast<size_t>(i)] = static_cast<int>(value & 0x00ffffffu);
    }
    return result;
}

} // namespace

// For each screen pixel along one axis, the run of reduced pixels it covers and the share of
// each, from the exact overlap of the areas.
struct ScreenPicture::Taps {
    int count = 0;
    std::vector<int> first;
    std::vector<uint32_t> weights; // count for each screen pixel, adding up to kUnit

    // Screen pixels first..first+outputs-1 of a destination extent screen pixels long showing
    // a stored extent pixels long, read from a level whose pixels are 2^level stored pixels.
    Taps(int firstOutput, int outputs, int destExtent, int storedExtent, bool reversed, int level,
         int levelExtent)
    {
        const double perOutput = static_cast<double>(storedExtent) / destExtent;
        const double levelScale = std::ldexp(1.0, -level);
        count = std::min(static_cast<int>(std::ceil(perOutput * levelScale)) + 1, levelExtent);
        first.resize(static_cast<size_t>(outputs));
        weights.resize(static_cast<size_t>(outputs) * static_cast<size_t>(count));
        for (int i = 0; i < outputs; ++i) {
            const int output = firstOutput + i;
            double from = output * perOutput;
            double to = (output + 1) * perOutput;
            if (reversed) {
                const double mirrored = storedExtent - to;
                to = storedExtent - from;
                from = mirrored;
            }
            from = std::max(0.0, from * levelScale);
            to = std::min(static_cast<double>(levelExtent), to * levelScale);
            const int start = std::clamp(static_cast<int>(from), 0, levelExtent - count);
            first[static_cast<size_t>(i)] = start;
            // Cumulative rounding: the weights add up to kUnit exactly.
            const double span = std::max(to - from, 1e-9);
            const auto upTo = [&](double edge) {
                return static_cast<uint32_t>(kUnit * (std::clamp(edge, from, to) - from) / span +
                                             0.5);
            };
            for (int t = 0; t < count; ++t)
                weights[static_cast<size_t>(i * count + t)] =
                    upTo(start + t + 1.0) - upTo(static_cast<double>(start + t));
        }
    }
};

void ScreenPicture::allowWideLanes([[maybe_unused]] bool allowed)
{
#if defined(OMBRI_WIDE_WEIGHING)
    g_wideLanesAllowed.store(allowed, std::memory_order_relaxed);
#endif
}

void ScreenPicture::setPicture(QImage picture, const uint8_t* notes, NoteDepth depth)
{
    clear();
    if (picture.isNull())
        return;
    m_transparent = picture.format() == QImage::Format_ARGB32_Premultiplied;
    if (!m_transparent && picture.format() != QImage::Format_RGB32)
        picture = picture.convertToFormat(QImage::Format_RGB32);
    m_levels.push_back(std::move(picture));
    m_notes = notes;
    m_noteDepth = depth;
}

void ScreenPicture::clear()
{
    m_shrunkFor.reset();
    m_coverageFor.reset();
    m_levels.clear();
    m_noteLevels.clear();
    m_notes = nullptr;
    m_transparent = false;
}

QSize ScreenPicture::size() const
{
    return isNull() ? QSize() : m_levels.front().size();
}

QImage ScreenPicture::fromDib(const Dib& dib, bool transparency)
{
    const auto layout = dibGetLayout(dib);
    if (!layout || layout->width <= 0 || layout->height <= 0)
        return {};
    if (!transparency || layout->bitCount != 32) {
        QImage image = dibToQImage(dib);
        if (!image.isNull() && image.format() != QImage::Format_RGB32)
            image = image.convertToFormat(QImage::Format_RGB32);
        return image;
    }
    QImage image(layout->width, layout->height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    const uint8_t* pixels = dib.data() + layout->pixelOffset;
    for (int32_t y = 0; y < layout->height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(layout->height - 1 - y) * layout->stride;
        auto* out = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int32_t x = 0; x < layout->width; ++x, row += 4) {
            // Carriers move alpha by one at most: 254 is as opaque as 255.
            const uint32_t alpha = row[3] >= 254 ? 255 : row[3];
            const auto times = [alpha](uint8_t value) { return (value * alpha + 127) / 255; };
            out[x] = (alpha << 24) | (times(row[2]) << 16) | (times(row[1]) << 8) | times(row[0]);
        }
    }
    return image;
}

const QImage& ScreenPicture::level(int index)
{
    while (static_cast<int>(m_levels.size()) <= index)
        m_levels.push_back(halved(m_levels.back()));
    return m_levels[static_cast<size_t>(index)];
}

const ScreenPicture::NoteLevel& ScreenPicture::noteLevel(int index)
{
    // Level 0 is the layer itself; each later one marks the 2 x 2 blocks of the one before that
    // hold a note, so that a note one pixel wide is never averaged away.
    while (static_cast<int>(m_noteLevels.size()) < index) {
        const int from = static_cast<int>(m_noteLevels.size());
        const QSize before =
            from == 0 ? size() : QSize(m_noteLevels.back().width, m_noteLevels.back().height);
        NoteLevel next;
        next.width = (before.width() + 1) / 2;
        next.height = (before.height() + 1) / 2;
        next.marks.resize(static_cast<size_t>(next.width) * static_cast<size_t>(next.height));
        for (int y = 0; y < next.height; ++y)
            for (int x = 0; x < next.width; ++x) {
                uint8_t any = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        any |= noteMark(from, std::min(2 * x + dx, before.width() - 1),
                                        std::min(2 * y + dy, before.height() - 1));
                next.marks[static_cast<size_t>(y) * static_cast<size_t>(next.width) +
                           static_cast<size_t>(x)] = any;
            }
        m_noteLevels.push_back(std::move(next));
    }
    return m_noteLevels[static_cast<size_t>(index - 1)];
}

QSize ScreenPicture::noteLevelSize(int index)
{
    const NoteLevel& marks = noteLevel(index);
    return QSize(marks.width, marks.height);
}

uint8_t ScreenPicture::noteMark(int levelIndex, int x, int y)
{
    if (levelIndex == 0) {
        const QSize stored = size();
        const size_t row = static_cast<size_t>(stored.height() - 1 - y);
        return m_notes[row * static_cast<size_t>(stored.width()) + static_cast<size_t>(x)] == 1;
    }
    const NoteLevel& marks = m_noteLevels[static_cast<size_t>(levelIndex - 1)];
    return marks
        .marks[static_cast<size_t>(y) * static_cast<size_t>(marks.width) + static_cast<size_t>(x)];
}

uint8_t ScreenPicture::blendedByte(int sum, int total, int channel, uint8_t value, ColourRef colour)
{
    constexpr size_t kTotals = 17;
    if (m_blendTable.empty() || m_blendColour != colour) {
        m_blendTable.assign(kTotals * kTotals * 3 * 256, 0);
        const uint8_t colours[3] = {colourRefBlue(colour), colourRefGreen(colour),
                                    colourRefRed(colour)};
        for (int t = 1; t < static_cast<int>(kTotals); ++t)
            for (int s = 0; s <= t; ++s)
                for (int c = 0; c < 3; ++c)
                    for (int v = 0; v < 256; ++v)
                        m_blendTable[((static_cast<size_t>(t) * kTotals + static_cast<size_t>(s)) *
                                          3 +
                                      static_cast<size_t>(c)) *
                                         256 +
                                     static_cast<size_t>(v)] =
                            blendedNoteByte(s, t, colours[c], static_cast<uint8_t>(v),
                                            m_noteDepth == NoteDepth::Bits32);
        m_blendColour = colour;
    }
    return m_blendTable[((static_cast<size_t>(total) * kTotals + static_cast<size_t>(sum)) * 3 +
                         static_cast<size_t>(channel)) *
                            256 +
                        value];
}

int ScreenPicture::levelFor(const ScreenFrame& request, QSize shown, size_t budget) const
{
    const double shrink =
        std::min(static_cast<double>(shown.width()) / request.destination.width(),
                 static_cast<double>(shown.height()) / request.destination.height());
    // The finest level whose pixels fit the budget, but never one smaller than the screen: each
    // screen pixel then averages at least one of its pixels along each axis. The choice depends
    // on the whole picture only, so that every part of it is shrunk alike.
    int index = 0;
    QSize levelSize = size();
    const auto area = [](QSize size) {
        return static_cast<double>(size.width()) * static_cast<double>(size.height());
    };
    while (area(levelSize) > static_cast<double>(budget) && shrink >= std::ldexp(1.0, index + 1) &&
           levelSize.width() > 1 && levelSize.height() > 1) {
        ++index;
        levelSize = QSize((levelSize.width() + 1) / 2, (levelSize.height() + 1) / 2);
    }
    return index;
}

void ScreenPicture::render(QImage& frame, const ScreenFrame& request)
{
    if (isNull() || frame.isNull() || request.destination.isEmpty())
        return;
    const QRect visible = request.destination & frame.rect();
    if (visible.isEmpty())
        return;
    const QSize shown = request.axes.exchange ? size().transposed() : size();
    const bool shrinks = request.destination.width() < shown.width() ||
                         request.destination.height() < shown.height();
    if (request.smoothShrinking && shrinks)
        renderSmooth(frame, request, visible);
    else
        renderSharp(frame, request, visible);
}

void ScreenPicture::renderSharp(QImage& frame, const ScreenFrame& request, const QRect& visible)
{
    const QImage& picture = m_levels.front();
    const int width = picture.width();
    const int height = picture.height();
    const ScreenAxes& axes = request.axes;
    const QSize shown = axes.exchange ? size().transposed() : size();
    const QRect& destination = request.destination;
    std::vector<int> columns = nearestIndexes(Qt::Horizontal, frame.width(), destination.left(),
                                              destination.width(), shown.width());
    std::vector<int> rows = nearestIndexes(Qt::Vertical, frame.height(), destination.top(),
                                           destination.height(), shown.height());
    // Shown indexes become stored coordinates along the stored axis each frame axis follows.
    const auto stored = [](int index, int extent, bool reversed) {
        return index < 0 ? -1 : (reversed ? extent - 1 - index : index);
    };
    for (int& index : columns)
        index = axes.exchange ? stored(index, height, axes.reverseRows)
                              : stored(index, width, axes.reverseColumns);
    for (int& index : rows)
        index = axes.exchange ? stored(index, width, axes.reverseColumns)
                              : stored(index, height, axes.reverseRows);
    const bool notes = request.showNotes && m_notes;
    const uint32_t colour = painted(request.noteColour);
    const uchar* bits = picture.constBits();
    const qsizetype stride = picture.bytesPerLine();
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        const int v = rows[static_cast<size_t>(y)];
        if (v < 0)
            continue;
        auto* out = reinterpret_cast<uint32_t*>(frame.scanLine(y));
        for (int x = visible.left(); x <= visible.right(); ++x) {
            const int u = columns[static_cast<size_t>(x)];
            if (u < 0)
                continue;
            const int sx = axes.exchange ? v : u;
            const int sy = axes.exchange ? u : v;
            uint32_t pixel =
                reinterpret_cast<const uint32_t*>(bits + static_cast<qsizetype>(sy) * stride)[sx];
            if (m_transparent)
                pixel = overChecker(pixel, x, y, destination.topLeft());
            if (notes) {
                switch (request.noteLook) {
                case NoteLook::Painted:
                    if (noteMark(0, sx, sy))
                        pixel = colour;
                    break;
                case NoteLook::Complemented:
                    if (noteMark(0, sx, sy))
                        pixel = complemented(pixel);
                    break;
                case NoteLook::Blended:
                    pixel = blendedAt(pixel, sx, sy, request.noteColour);
                    break;
                }
            }
            out[x] = pixel | kOpaque;
        }
    }
}

uint32_t ScreenPicture::blendedAt(uint32_t pixel, int x, int y, ColourRef colour)
{
    // The weighted count of note pixels around the stored pixel, as the anti-aliased rendering of
    // the whole picture counts it: 1-2-1 across and down, the weights outside the picture left out.
    const int width = m_levels.front().width();
    const int height = m_levels.front().height();
    int sum = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        const int row = y + dy;
        if (row < 0 || row >= height)
            continue;
        const uint8_t* marks =
            m_notes + static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width);
        for (int dx = -1; dx <= 1; ++dx) {
            const int column = x + dx;
            if (column >= 0 && column < width && marks[column] == 1)
                sum += (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1);
        }
    }
    if (sum == 0)
        return pixel;
    const auto lineWeight = [](int index, int count) {
        return 4 - (index == 0 ? 1 : 0) - (index + 1 == count ? 1 : 0);
    };
    const int total = lineWeight(x, width) * lineWeight(y, height);
    uint32_t out = pixel & kOpaque;
    for (int channel = 0; channel < 3; ++channel) {
        const auto value = static_cast<uint8_t>(pixel >> (8 * channel));
        out |= uint32_t{blendedByte(sum, total, channel, value, colour)} << (8 * channel);
    }
    return out;
}

void ScreenPicture::renderSmooth(QImage& frame, const ScreenFrame& request, const QRect& visible)
{
    const ScreenAxes& axes = request.axes;
    const QSize shown = axes.exchange ? size().transposed() : size();
    const QRect& destination = request.destination;
    const int index = levelFor(request, shown, m_levelBudget);
    const QImage& reduced = level(index);
    // Notes come from the coarsest level still finer than the screen, whatever the budget: a
    // note pixel there marks its whole block, and so keeps its screen pixel.
    const int noteIndex = levelFor(request, shown, 0);
    const bool notes = request.showNotes && m_notes;
    const QSize noteSize = noteIndex == 0 || !notes ? size() : noteLevelSize(noteIndex);
    // The screen pixels along the stored picture's columns and rows, which the frame's axes
    // follow directly or exchanged.
    const QRect across = axes.exchange ? mirrored(visible) : visible;
    const QPoint origin = axes.exchange ? mirrored(destination).topLeft() : destination.topLeft();
    const QSize extent = axes.exchange ? destination.size().transposed() : destination.size();
    const int columns = across.width();
    const int rows = across.height();
    const Taps columnTaps(across.left() - origin.x(), columns, extent.width(), size().width(),
                          axes.reverseColumns, index, reduced.width());
    const Taps rowTaps(across.top() - origin.y(), rows, extent.height(), size().height(),
                       axes.reverseRows, index, reduced.height());
    // A frame that shows the same part at the same scale (a notes toggle, a colour change)
    // reuses the screen pixels of the last one.
    const ShrinkKey key{destination, visible, axes.exchange, axes.reverseColumns, axes.reverseRows};
    if (m_shrunkFor != key) {
        m_shrunkFor.reset();
        m_coverageFor.reset();
        shrinkPicture(reduced, columnTaps, rowTaps);
        m_shrunkFor = key;
    }
    if (notes && m_coverageFor != key) {
        m_coverageFor = key;
        shrinkNotes(noteIndex,
                    Taps(across.left() - origin.x(), columns, extent.width(), size().width(),
                         axes.reverseColumns, noteIndex, noteSize.width()),
                    Taps(across.top() - origin.y(), rows, extent.height(), size().height(),
                         axes.reverseRows, noteIndex, noteSize.height()));
    }
    // Painted and complemented notes show where they cover at least half a reduced pixel, so that
    // a line one pixel wide stays one screen pixel wide.
    const double perOutput = std::max(static_cast<double>(size().width()) / extent.width(),
                                      static_cast<double>(size().height()) / extent.height()) *
                             std::ldexp(1.0, -noteIndex);
    const auto threshold =
        static_cast<uint32_t>(std::ldexp(0.5, kAreaBits) / std::max(perOutput, 1.0));
    const NoteShade shade{request.noteLook, painted(request.noteColour), threshold};
    // Rows of screen pixels in the stored picture's orientation land on frame rows, or on frame
    // columns when the axes are exchanged; those are gathered first and written in square blocks
    // so that both the reads and the writes stay within a few cache lines.
    const bool exchange = axes.exchange;
    if (exchange)
        m_composed.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    const QPoint checkerOrigin = destination.topLeft();
    uchar* bits = frame.bits();
    const qsizetype stride = frame.bytesPerLine();
    for (int row = 0; row < rows; ++row) {
        const size_t at = static_cast<size_t>(row) * static_cast<size_t>(columns);
        uint32_t* out =
            exchange
                ? m_composed.data() + at
                : reinterpret_cast<uint32_t*>(bits + (across.top() + row) * stride) + across.left();
        const uint32_t* from = m_shrunk.data() + at;
        if (m_transparent) {
            checkerRow(from, out, static_cast<size_t>(columns),
                       exchange ? QPoint(across.top() + row, across.left())
                                : QPoint(across.left(), across.top() + row),
                       exchange, checkerOrigin);
            from = out;
        }
        composeRow(from, notes ? m_coverage.data() + at : nullptr, shade, out,
                   static_cast<size_t>(columns));
    }
    if (exchange)
        placeExchanged(frame, across, static_cast<size_t>(columns), static_cast<size_t>(rows));
}

void ScreenPicture::placeExchanged(QImage& frame, const QRect& across, size_t columns,
                                   size_t rows) const
{
    constexpr size_t kBlock = 16;
    uchar* bits = frame.bits();
    const qsizetype stride = frame.bytesPerLine();
    for (size_t top = 0; top < rows; top += kBlock) {
        const size_t bottom = std::min(top + kBlock, rows);
        for (size_t left = 0; left < columns; left += kBlock) {
            const size_t right = std::min(left + kBlock, columns);
            for (size_t column = left; column < right; ++column) {
                auto* line = reinterpret_cast<uint32_t*>(
                                 bits + (across.left() + static_cast<qsizetype>(column)) * stride) +
                             across.top();
                for (size_t row = top; row < bottom; ++row)
                    line[row] = m_composed[row * columns + column];
            }
        }
    }
}

namespace {

// The stored rows a run of screen rows needs, each weighted across once and kept while the
// screen rows below still need it; rows are visited in the order the screen rows ask for them.
template <typename Value, typename Fill> class RowCache {
  public:
    RowCache(int slotCount, size_t rowLength, std::vector<Value>& storage, Fill fill)
        : m_rowLength(rowLength), m_storage(storage), m_rows(static_cast<size_t>(slotCount), -1),
          m_fill(fill)
    {
        storage.resize(static_cast<size_t>(slotCount) * rowLength);
    }

    // The row weighted across, made when it is not held; first..first+count-1 are the rows the
    // caller needs now, which are never replaced.
    const Value* row(int wanted, int first, int count)
    {
        size_t free = m_rows.size();
        for (size_t slot = 0; slot < m_rows.size(); ++slot) {
            if (m_rows[slot] == wanted)
                return m_storage.data() + slot * m_rowLength;
            if (m_rows[slot] < first || m_rows[slot] >= first + count)
                free = slot;
        }
        Value* target = m_storage.data() + free * m_rowLength;
        m_fill(wanted, target);
        m_rows[free] = wanted;
        return target;
    }

  private:
    size_t m_rowLength;
    std::vector<Value>& m_storage;
    std::vector<int> m_rows;
    Fill m_fill;
};

template <typename Value, typename Fill>
RowCache<Value, Fill> makeRowCache(int slotCount, size_t rowLength, std::vector<Value>& storage,
                                   Fill fill)
{
    return RowCache<Value, Fill>(slotCount, rowLength, storage, fill);
}

} // namespace

void ScreenPicture::shrinkPicture(const QImage& reduced, const Taps& columnTaps,
                                  const Taps& rowTaps)
{
    const size_t columns = columnTaps.first.size();
    const size_t rows = rowTaps.first.size();
    // Only the reduced columns the visible screen pixels cover are weighed down.
    const int spanStart = std::min(columnTaps.first.front(), columnTaps.first.back());
    const int spanEnd =
        std::max(columnTaps.first.front(), columnTaps.first.back()) + columnTaps.count;
    const size_t span = static_cast<size_t>(spanEnd - spanStart);
    // One spare pixel past the span, never weighed, for the wide weighing's lone last tap.
    m_rowSums.assign(4 * (span + 1), 0);
    m_shrunk.resize(columns * rows);
#if defined(OMBRI_WIDE_WEIGHING)
    const bool wide = hasWideLanes();
    if (wide)
        splatPairsWide(columnTaps.weights.data(), columnTaps.count, columns, m_acrossPairs);
    else
        splatPairs(columnTaps.weights.data(), columnTaps.count, columns, m_acrossPairs);
    const uint32_t* acrossWeights = m_acrossPairs.data();
#elif defined(__SSE2__)
    splatPairs(columnTaps.weights.data(), columnTaps.count, columns, m_acrossPairs);
    const uint32_t* acrossWeights = m_acrossPairs.data();
#else
    const uint32_t* acrossWeights = columnTaps.weights.data();
#endif
    std::vector<const uint32_t*> covered(static_cast<size_t>(rowTaps.count));
    for (size_t row = 0; row < rows; ++row) {
        const int first = rowTaps.first[row];
        for (int t = 0; t < rowTaps.count; ++t)
            covered[static_cast<size_t>(t)] =
                reinterpret_cast<const uint32_t*>(reduced.constScanLine(first + t)) + spanStart;
        const uint32_t* downWeights =
            rowTaps.weights.data() + row * static_cast<size_t>(rowTaps.count);
        uint32_t* out = m_shrunk.data() + row * columns;
#if defined(OMBRI_WIDE_WEIGHING)
        if (wide) {
            byTapCount<WeighDownWide>(rowTaps.count, covered.data(), downWeights, span,
                                      m_rowSums.data());
            byTapCount<WeighAcrossWide>(columnTaps.count, m_rowSums.data(), columnTaps.first.data(),
                                        spanStart, acrossWeights, columns, out);
            continue;
        }
#endif
        weighDown(covered.data(), downWeights, rowTaps.count, span, m_rowSums.data());
        byTapCount<WeighAcross>(columnTaps.count, m_rowSums.data(), columnTaps.first.data(),
                                spanStart, acrossWeights, columns, out);
    }
}

void ScreenPicture::shrinkNotes(int index, const Taps& columnTaps, const Taps& rowTaps)
{
    const size_t columns = columnTaps.first.size();
    const size_t rows = rowTaps.first.size();
    const int count = columnTaps.count;
    if (index > 0)
        noteLevel(index);
    const QSize stored = size();
    auto cache = makeRowCache(rowTaps.count, columns, m_noteSums, [&](int row, uint32_t* out) {
        const uint8_t* marks =
            index == 0
                ? m_notes + static_cast<size_t>(stored.height() - 1 - row) *
                                static_cast<size_t>(stored.width())
                : m_noteLevels[static_cast<size_t>(index - 1)].marks.data() +
                      static_cast<size_t>(row) *
                          static_cast<size_t>(m_noteLevels[static_cast<size_t>(index - 1)].width);
        for (size_t column = 0; column < columns; ++column) {
            const uint8_t* from = marks + columnTaps.first[column];
            const uint32_t* weights =
                columnTaps.weights.data() + column * static_cast<size_t>(count);
            uint32_t sum = 0;
            if (count == 3)
                sum = weights[0] * (from[0] == 1) + weights[1] * (from[1] == 1) +
                      weights[2] * (from[2] == 1);
            else
                for (int t = 0; t < count; ++t)
                    sum += weights[t] * (from[t] == 1);
            out[column] = sum;
        }
    });
    m_coverage.resize(columns * rows);
    std::vector<const uint32_t*> needed(static_cast<size_t>(rowTaps.count));
    for (size_t row = 0; row < rows; ++row) {
        const int first = rowTaps.first[row];
        for (int t = 0; t < rowTaps.count; ++t)
            needed[static_cast<size_t>(t)] = cache.row(first + t, first, rowTaps.count);
        const uint32_t* weights = rowTaps.weights.data() + row * static_cast<size_t>(rowTaps.count);
        uint32_t* out = m_coverage.data() + row * columns;
        for (size_t column = 0; column < columns; ++column) {
            uint32_t sum = 0;
            for (int t = 0; t < rowTaps.count; ++t)
                sum += weights[t] * needed[static_cast<size_t>(t)][column];
            out[column] = sum;
        }
    }
}

} // namespace ombri
