#include "formats/png_filter.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define OMBRI_FILTER_LANES 1
#endif

// Every row is turned to the file's byte order (red first) once, into a row with zeros to its
// left, and the filters are then worked out on 16 bytes at a time: first only the sums that choose
// the filter, then the chosen filter into the output. Filtering five candidate rows into memory
// and turning the winner, as before, took three times as long: a fifth of every save.

namespace ombri {

namespace {

enum PngFilter : uint8_t {
    FilterNone = 0,
    FilterSub = 1,
    FilterUp = 2,
    FilterAverage = 3,
    FilterPaeth = 4
};
constexpr int kFilters = 5;

// Zeros left of each turned row, which the filters read as the pixels left of the first, and
// room for a vector's step past its end.
constexpr size_t kRowPad = 16;

// The magnitude of a filtered byte read as a signed number: small when the filter predicted it
// well. Their sum over a row is how libpng judges filters.
unsigned magnitude(uint8_t byte)
{
    const int value = static_cast<int8_t>(byte);
    return static_cast<unsigned>(value < 0 ? -value : value);
}

uint8_t paethPredictor(uint8_t a, uint8_t b, uint8_t c)
{
    const int pa = std::abs(int{b} - int{c});
    const int pb = std::abs(int{a} - int{c});
    const int pc = std::abs(int{a} + int{b} - 2 * int{c});
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Byte i of `row` under a filter; the bytes left of the row and of `above` are zeros.
uint8_t filteredByte(int filter, const uint8_t* row, const uint8_t* above, size_t i, size_t bpp)
{
    const uint8_t x = row[i];
    const uint8_t a = row[i - bpp];
    const uint8_t b = above[i];
    switch (filter) {
    case FilterSub:
        return static_cast<uint8_t>(x - a);
    case FilterUp:
        return static_cast<uint8_t>(x - b);
    case FilterAverage:
        return static_cast<uint8_t>(x - ((a + b) >> 1));
    case FilterPaeth:
        return static_cast<uint8_t>(x - paethPredictor(a, b, above[i - bpp]));
    default:
        return x;
    }
}

void turnRowByBytes(const uint8_t* in, size_t count, size_t bpp, uint8_t* out)
{
    for (size_t i = 0; i < count; i += bpp) {
        out[i] = in[i + 2];
        out[i + 1] = in[i + 1];
        out[i + 2] = in[i];
        if (bpp == 4)
            out[i + 3] = in[i + 3];
    }
}

// Adds the bytes from `from` on, which no vector reached, to each filter's sum, and answers the
// filter with the lowest sum: the lower filter on a tie, as libpng chooses.
[[gnu::always_inline]] inline int lowestSumFilter(uint64_t (&totals)[kFilters], const uint8_t* row,
                                                  const uint8_t* above, size_t from, size_t count,
                                                  size_t bpp)
{
    for (int f = 0; f < kFilters; ++f)
        for (size_t j = from; j < count; ++j)
            totals[f] += magnitude(filteredByte(f, row, above, j, bpp));
    int best = 0;
    for (int f = 1; f < kFilters; ++f)
        if (totals[f] < totals[best])
            best = f;
    return best;
}

#if defined(OMBRI_FILTER_LANES)

// Four pixels at a time by a byte shuffle, on processors that have one (nearly all); `out` has
// room for a vector past the row, and `in` is never read past it.
__attribute__((target("ssse3"))) void turnRowShuffled(const uint8_t* in, size_t count, size_t bpp,
                                                      uint8_t* out)
{
    const __m128i order = bpp == 3
                              ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15)
                              : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const size_t step = bpp * 4;
    size_t i = 0;
    for (; i + 16 <= count; i += step)
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + i),
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), order));
    turnRowByBytes(in + i, count - i, bpp, out + i);
}

void turnRow(const uint8_t* in, size_t count, size_t bpp, uint8_t* out)
{
    static const bool shuffles = __builtin_cpu_supports("ssse3") != 0;
    if (shuffles)
        turnRowShuffled(in, count, bpp, out);
    else
        turnRowByBytes(in, count, bpp, out);
}

// The five filters of 16 bytes.
struct FilteredLanes {
    __m128i lanes[kFilters];
};

__m128i absoluteDifference(__m128i x, __m128i y)
{
    return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
}

// All ones where x <= y, as unsigned bytes.
__m128i atMost(__m128i x, __m128i y)
{
    return _mm_cmpeq_epi8(_mm_min_epu8(x, y), x);
}

__m128i choose(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The predictors in bytes: Average's (a + b) / 2 without carrying past 8 bits, and Paeth's
// distances |p - a| = |b - c|, |p - b| = |a - c| and |p - c| = |(a - c) + (b - c)|, the last the
// sum of the first two where a - c and b - c have the same sign (saturated, which keeps every
// comparison that decides) and their difference where they do not.
[[gnu::always_inline]] inline FilteredLanes filteredLanes(const uint8_t* row, const uint8_t* above,
                                                          size_t i, size_t bpp)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - bpp));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i - bpp));
    const __m128i zero = _mm_setzero_si128();
    const __m128i average =
        _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    const __m128i pa = absoluteDifference(b, c);
    const __m128i pb = absoluteDifference(a, c);
    const __m128i aNotBelow = _mm_cmpeq_epi8(_mm_subs_epu8(c, a), zero);
    const __m128i bNotBelow = _mm_cmpeq_epi8(_mm_subs_epu8(c, b), zero);
    const __m128i pc = choose(_mm_cmpeq_epi8(aNotBelow, bNotBelow), _mm_adds_epu8(pa, pb),
                              absoluteDifference(pa, pb));
    const __m128i paeth =
        choose(_mm_and_si128(atMost(pa, pb), atMost(pa, pc)), a, choose(atMost(pb, pc), b, c));
    return {{x, _mm_sub_epi8(x, a), _mm_sub_epi8(x, b), _mm_sub_epi8(x, average),
             _mm_sub_epi8(x, paeth)}};
}

// The sums of the magnitudes of 16 filtered bytes, in two 64-bit halves.
__m128i magnitudeSums(__m128i filtered)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_sad_epu8(_mm_min_epu8(filtered, _mm_sub_epi8(zero, filtered)), zero);
}

uint64_t halvesAdded(__m128i sums)
{
    return static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}

// The filter libpng would choose for `row`, by the sums of magnitudes; the lowest on a tie.
int adaptiveFilter(const uint8_t* row, const uint8_t* above, size_t count, size_t bpp)
{
    __m128i sums[kFilters] = {};
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const FilteredLanes filtered = filteredLanes(row, above, i, bpp);
        for (int f = 0; f < kFilters; ++f)
            sums[f] = _mm_add_epi64(sums[f], magnitudeSums(filtered.lanes[f]));
    }
    uint64_t totals[kFilters];
    for (int f = 0; f < kFilters; ++f)
        totals[f] = halvesAdded(sums[f]);
    return lowestSumFilter(totals, row, above, i, count, bpp);
}

// The sums again, 32 bytes at a time, on processors with 256-bit integer lanes (chosen when the
// program starts): the same bytes and comparisons as the 16-byte ones above, in wider registers.
#define OMBRI_WIDE __attribute__((target("avx2")))

OMBRI_WIDE inline __m256i absoluteDifferenceWide(__m256i x, __m256i y)
{
    return _mm256_or_si256(_mm256_subs_epu8(x, y), _mm256_subs_epu8(y, x));
}

OMBRI_WIDE inline __m256i atMostWide(__m256i x, __m256i y)
{
    return _mm256_cmpeq_epi8(_mm256_min_epu8(x, y), x);
}

OMBRI_WIDE inline __m256i chooseWide(__m256i mask, __m256i yes, __m256i no)
{
    return _mm256_blendv_epi8(no, yes, mask);
}

OMBRI_WIDE inline __m256i magnitudeSumsWide(__m256i filtered)
{
    const __m256i zero = _mm256_setzero_si256();
    return _mm256_sad_epu8(_mm256_min_epu8(filtered, _mm256_sub_epi8(zero, filtered)), zero);
}

OMBRI_WIDE int adaptiveFilterWide(const uint8_t* row, const uint8_t* above, size_t count,
                                  size_t bpp)
{
    __m256i sums[kFilters] = {};
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(1);
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i));
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i - bpp));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + i - bpp));
        const __m256i average =
            _mm256_sub_epi8(_mm256_avg_epu8(a, b), _mm256_and_si256(_mm256_xor_si256(a, b), ones));
        const __m256i pa = absoluteDifferenceWide(b, c);
        const __m256i pb = absoluteDifferenceWide(a, c);
        const __m256i aNotBelow = _mm256_cmpeq_epi8(_mm256_subs_epu8(c, a), zero);
        const __m256i bNotBelow = _mm256_cmpeq_epi8(_mm256_subs_epu8(c, b), zero);
        const __m256i pc = chooseWide(_mm256_cmpeq_epi8(aNotBelow, bNotBelow),
                                      _mm256_adds_epu8(pa, pb), absoluteDifferenceWide(pa, pb));
        const __m256i paeth = chooseWide(_mm256_and_si256(atMostWide(pa, pb), atMostWide(pa, pc)),
                                         a, chooseWide(atMostWide(pb, pc), b, c));
        const __m256i filtered[kFilters] = {x, _mm256_sub_epi8(x, a), _mm256_sub_epi8(x, b),
                                            _mm256_sub_epi8(x, average), _mm256_sub_epi8(x, paeth)};
        for (int f = 0; f < kFilters; ++f)
            sums[f] = _mm256_add_epi64(sums[f], magnitudeSumsWide(filtered[f]));
    }
    uint64_t totals[kFilters];
    for (int f = 0; f < kFilters; ++f) {
        alignas(32) uint64_t quarters[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(quarters), sums[f]);
        totals[f] = quarters[0] + quarters[1] + quarters[2] + quarters[3];
    }
    return lowestSumFilter(totals, row, above, i, count, bpp);
}

std::atomic<bool> g_wideFiltersAllowed{true};

int adaptiveFilterOnLanes(const uint8_t* row, const uint8_t* above, size_t count, size_t bpp)
{
    static const bool wide = __builtin_cpu_supports("avx2") != 0;
    return wide && g_wideFiltersAllowed.load(std::memory_order_relaxed)
               ? adaptiveFilterWide(row, above, count, bpp)
               : adaptiveFilter(row, above, count, bpp);
}

// One filter's bytes; what the other filters would need is never worked out.
template <int Filter>
void writeFilteredBy(const uint8_t* row, const uint8_t* above, size_t count, size_t bpp,
                     uint8_t* out)
{
    size_t i = 0;
    for (; i + 16 <= count; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         filteredLanes(row, above, i, bpp).lanes[Filter]);
    for (; i < count; ++i)
        out[i] = filteredByte(Filter, row, above, i, bpp);
}

void writeFiltered(int filter, const uint8_t* row, const uint8_t* above, size_t count, size_t bpp,
                   uint8_t* out)
{
    switch (filter) {
    case FilterNone:
        return writeFilteredBy<FilterNone>(row, above, count, bpp, out);
    case FilterSub:
        return writeFilteredBy<FilterSub>(row, above, count, bpp, out);
    case FilterUp:
        return writeFilteredBy<FilterUp>(row, above, count, bpp, out);
    case FilterAverage:
        return writeFilteredBy<FilterAverage>(row, above, count, bpp, out);
    default:
        return writeFilteredBy<FilterPaeth>(row, above, count, bpp, out);
    }
}

#else

void turnRow(const uint8_t* in, size_t count, size_t bpp, uint8_t* out)
{
    turnRowByBytes(in, count, bpp, out);
}

int adaptiveFilterOnLanes(const uint8_t* row, const uint8_t* above, size_t count, size_t bpp)
{
    uint64_t totals[kFilters] = {};
    return lowestSumFilter(totals, row, above, 0, count, bpp);
}

void writeFiltered(int filter, const uint8_t* row, const uint8_t* above, size_t count, size_t bpp,
                   uint8_t* out)
{
    for (size_t i = 0; i < count; ++i)
        out[i] = filteredByte(filter, row, above, i, bpp);
}

#endif

// A row the same as the one above is filtered by Up to zeros, which no other filter betters, and
// None ties with it only on a row of zeros, where the lower filter is chosen. A third of the rows
// of a screenshot are such rows, and this spares them the five sums.
int chosenFilter(const uint8_t* row, const uint8_t* above, size_t count, size_t bpp)
{
    if (std::memcmp(row, above, count) != 0)
        return adaptiveFilterOnLanes(row, above, count, bpp);
    return row[0] == 0 && std::memcmp(row, row + 1, count - 1) == 0 ? FilterNone : FilterUp;
}

size_t paddedRowBytes(const PngRows& rows)
{
    return static_cast<size_t>(rows.width) * rows.channels + 2 * kRowPad;
}

} // namespace

void allowWidePngFilters([[maybe_unused]] bool allowed)
{
#if defined(OMBRI_FILTER_LANES)
    g_wideFiltersAllowed.store(allowed, std::memory_order_relaxed);
#endif
}

size_t pngFilterScratchBytes(const PngRows& rows)
{
    // The row above and the row, turned and padded, and a row as makeRow makes it.
    return 3 * paddedRowBytes(rows);
}

void filterPngRows(const PngRows& rows, uint32_t first, uint32_t end, PngFilterRule rule,
                   uint8_t* out, uint8_t* scratch)
{
    const size_t bpp = rows.channels;
    const size_t count = static_cast<size_t>(rows.width) * bpp;
    const size_t padded = paddedRowBytes(rows);
    std::memset(scratch, 0, 2 * padded);
    uint8_t* above = scratch + kRowPad;
    uint8_t* row = scratch + padded + kRowPad;
    uint8_t* made = scratch + 2 * padded;
    const auto turnFileRow = [&](uint32_t y, uint8_t* into) {
        const uint8_t* raw = made;
        if (rows.makeRow)
            rows.makeRow(y, made);
        else
            raw = rows.firstRow + static_cast<std::ptrdiff_t>(y) * rows.step;
        turnRow(raw, count, bpp, into);
    };
    // The picture's first row has zeros above it, as the PNG filters define.
    if (first > 0)
        turnFileRow(first - 1, above);
    for (uint32_t y = first; y < end; ++y, out += count + 1) {
        turnFileRow(y, row);
        const int filter =
            rule == PngFilterRule::Up ? FilterUp : chosenFilter(row, above, count, bpp);
        out[0] = static_cast<uint8_t>(filter);
        writeFiltered(filter, row, above, count, bpp, out + 1);
        std::swap(row, above);
    }
}

} // namespace ombri
