#include "notes/render.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The blend weights are 32-bit floats and every product and sum is rounded to a 32-bit float on
// its own; a fused multiply-add would skip a rounding and change some bytes. GCC fuses across
// statements in C++ even in ISO mode whenever the target has the instruction, so it is told not
// to here; clang fuses only within one expression, which the formulas below never ask it to do.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace ombri {

namespace {

// Pixels whose weight is at most this single-precision constant keep their colour.
constexpr float kMinimumWeight = 0.01f;

// The largest weighted count of a 3 x 3 neighbourhood (1-2-1 / 2-4-2 / 1-2-1).
constexpr int kMaxWeight = 16;

// The colour in pixel byte order: blue, green, red.
std::array<uint8_t, 3> pixelOrder(ColourRef colour)
{
    return {static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
            static_cast<uint8_t>(colour)};
}

// The rows of a display copy that can show notes.
std::optional<PixelRows> carrierRows(Dib& display)
{
    auto layout = dibGetLayout(display);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return std::nullopt;
    return pixelRowsOf(display, *layout);
}

// Only a 1 marks a note, as in the rest of the note layer's users; any other byte would push a
// weight above 1 and a blended byte out of range.
inline uint8_t isNote(uint8_t note)
{
    return note == 1 ? 1 : 0;
}

// The 1-2-1 weights of a row (or column) and its neighbours that lie inside the picture add up to
// 4, to 3 on the first or last one, and to 2 when there is only one.
inline int lineWeight(size_t index, size_t count)
{
    return 4 - (index == 0 ? 1 : 0) - (index + 1 == count ? 1 : 0);
}

// sum / total in extended precision, stored as a 32-bit float. Only a few pairs occur (totals 4,
// 6, 8, 9, 12 and 16), so they are worked out once.
const std::array<std::array<float, kMaxWeight + 1>, kMaxWeight + 1>& coverageTable()
{
    static const auto table = [] {
        std::array<std::array<float, kMaxWeight + 1>, kMaxWeight + 1> values{};
        for (int total = 1; total <= kMaxWeight; ++total)
            for (int sum = 0; sum <= total; ++sum)
                values[total][sum] = static_cast<float>(static_cast<long double>(sum) / total);
        return values;
    }();
    return table;
}

// The 24-bit formula: the picture's share is truncated before the colour's share is added.
uint8_t blendOpaque(float weight, uint8_t colour, uint8_t value)
{
    const float keep = 1.0f - weight;
    const float kept = keep * static_cast<float>(value);
    const float added = weight * static_cast<float>(colour);
    const float mixed = added + static_cast<float>(static_cast<int>(kept));
    return static_cast<uint8_t>(static_cast<int>(mixed));
}

// The 32-bit formula: both shares are added before the one truncation.
uint8_t blendWithAlpha(float weight, uint8_t colour, uint8_t value)
{
    const float keep = 1.0f - weight;
    const float kept = keep * static_cast<float>(value);
    const float added = weight * static_cast<float>(colour);
    const float mixed = kept + added;
    return static_cast<uint8_t>(static_cast<int>(mixed));
}

using BlendFormula = uint8_t (*)(float, uint8_t, uint8_t);

BlendFormula formulaFor(size_t bytesPerPixel)
{
    return bytesPerPixel == 4 ? blendWithAlpha : blendOpaque;
}

// For every weight a neighbourhood can have, the new value of each of blue, green and red for
// every old value: a pixel then costs three table lookups instead of nine float operations.
class BlendTables {
  public:
    static constexpr size_t kTableBytes = 3 * 256;

    BlendTables(ColourRef colour, BlendFormula formula)
        : m_colour(pixelOrder(colour)), m_formula(formula)
    {
    }

    // The tables of one total, for sums 0 to total; made on first use.
    const uint8_t* forTotal(int total)
    {
        std::vector<uint8_t>& tables = m_byTotal[static_cast<size_t>(total)];
        if (tables.empty()) {
            tables.resize(static_cast<size_t>(total + 1) * kTableBytes);
            fill(total, tables.data());
        }
        return tables.data();
    }

  private:
    void fill(int total, uint8_t* tables) const
    {
        for (int sum = 0; sum <= total; ++sum) {
            const float weight = coverageTable()[total][sum];
            uint8_t* table = tables + static_cast<size_t>(sum) * kTableBytes;
            for (size_t channel = 0; channel < 3; ++channel)
                for (int value = 0; value < 256; ++value)
                    table[channel * 256 + static_cast<size_t>(value)] =
                        weight > kMinimumWeight
                            ? m_formula(weight, m_colour[channel], static_cast<uint8_t>(value))
                            : static_cast<uint8_t>(value);
        }
    }

    std::array<uint8_t, 3> m_colour;
    BlendFormula m_formula;
    std::array<std::vector<uint8_t>, kMaxWeight + 1> m_byTotal;
};

// The layer is looked at in runs of 16 columns; only the pixels of a run with a note, and the one
// pixel on either side of it, can have a note in their neighbourhood. Notes are a small share of a
// picture, so most rows and most runs are passed over after one look.
constexpr size_t kRun = 16;

// Which runs of one row hold a note; true when any does.
bool markRuns(const uint8_t* row, size_t width, uint8_t* marks)
{
    size_t x = 0;
    size_t run = 0;
    uint8_t any = 0;
#if defined(__SSE2__)
    const __m128i one = _mm_set1_epi8(1);
    for (; x + kRun <= width; x += kRun, ++run) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const uint8_t marked = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, one)) != 0 ? 1 : 0;
        marks[run] = marked;
        any |= marked;
    }
#endif
    for (; x < width; x += kRun, ++run) {
        uint8_t marked = 0;
        for (size_t i = x; i < std::min(width, x + kRun); ++i)
            marked |= isNote(row[i]);
        marks[run] = marked;
        any |= marked;
    }
    return any != 0;
}

// The weighted note count of the pixels of one row whose neighbourhood holds a note, worked out
// from the row and its two neighbours. Rows are visited bottom first; only the run marks of three
// rows are held whatever the picture's size.
class NearNotes {
  public:
    NearNotes(const uint8_t* notes, size_t width, size_t height)
        : m_notes(notes), m_width(width), m_height(height), m_runs((width + kRun - 1) / kRun),
          m_noRow(width, 0), m_marks(3 * m_runs, 0)
    {
        // Row 0 is marked ahead; the missing row below it stays unmarked.
        if (m_height > 0)
            m_any[0] = markRuns(m_notes, m_width, marksOf(0));
    }

    // Calls visit(x, sum) for every pixel x of row y whose weighted count is not 0, left to right,
    // each once. y goes up by one from 0.
    template <typename Visit> void row(size_t y, Visit visit)
    {
        // Row r's marks are kept in slot r % 3: row y + 1 is marked now, over row y - 2's. A
        // missing row above the top one is unmarked.
        const size_t above = (y + 1) % 3;
        if (y + 1 < m_height)
            m_any[above] = markRuns(m_notes + (y + 1) * m_width, m_width, marksOf(above));
        else {
            m_any[above] = false;
            std::fill(marksOf(above), marksOf(above) + m_runs, uint8_t{0});
        }
        const size_t middle = y % 3;
        const size_t below = (y + 2) % 3;
        if (!m_any[below] && !m_any[middle] && !m_any[above])
            return;
        const uint8_t* marksBelow = marksOf(below);
        const uint8_t* marksMiddle = marksOf(middle);
        const uint8_t* marksAbove = marksOf(above);
        const uint8_t* mid = m_notes + y * m_width;
        const Neighbours lines{y > 0 ? mid - m_width : m_noRow.data(), mid,
                               y + 1 < m_height ? mid + m_width : m_noRow.data()};
        // Neighbouring marked runs give overlapping stretches, which are joined so that no pixel
        // is visited twice.
        size_t begin = 0;
        size_t end = 0;
        for (size_t run = 0; run < m_runs; ++run) {
            if (!(marksBelow[run] | marksMiddle[run] | marksAbove[run]))
                continue;
            const size_t from = run == 0 ? 0 : run * kRun - 1;
            const size_t to = std::min(m_width, run * kRun + kRun + 1);
            if (end != 0 && from <= end) {
                end = to;
                continue;
            }
            visitStretch(lines, begin, end, visit);
            begin = from;
            end = to;
        }
        visitStretch(lines, begin, end, visit);
    }

  private:
    struct Neighbours {
        const uint8_t* below;
        const uint8_t* middle;
        const uint8_t* above;

        int column(size_t x) const
        {
            return isNote(below[x]) + 2 * isNote(middle[x]) + isNote(above[x]);
        }
    };

    template <typename Visit>
    void visitStretch(const Neighbours& lines, size_t begin, size_t end, Visit& visit) const
    {
        if (begin >= end)
            return;
        int left = begin > 0 ? lines.column(begin - 1) : 0;
        int centre = lines.column(begin);
        for (size_t x = begin; x < end; ++x) {
            const int right = x + 1 < m_width ? lines.column(x + 1) : 0;
            const int sum = left + 2 * centre + right;
            if (sum != 0)
                visit(x, static_cast<uint8_t>(sum));
            left = centre;
            centre = right;
        }
    }

    uint8_t* marksOf(size_t slot) { return m_marks.data() + slot * m_runs; }

    const uint8_t* m_notes;
    size_t m_width;
    size_t m_height;
    size_t m_runs;
    std::vector<uint8_t> m_noRow;
    std::vector<uint8_t> m_marks;
    bool m_any[3] = {false, false, false};
};

template <size_t kBytes> inline void blendPixel(uint8_t* pixel, const uint8_t* tables, uint8_t sum)
{
    static_assert(kBytes == 3 || kBytes == 4, "carrier pixels");
    const uint8_t* table = tables + sum * BlendTables::kTableBytes;
    pixel[0] = table[pixel[0]];
    pixel[1] = table[256 + pixel[1]];
    pixel[2] = table[512 + pixel[2]];
}

template <size_t kBytes>
void blendFromLayer(const PixelRows& rows, const uint8_t* notes, BlendTables& tables)
{
    NearNotes near(notes, rows.width, rows.height);
    for (size_t y = 0; y < rows.height; ++y) {
        const int rowWeight = lineWeight(y, rows.height);
        // The tables by the column's weight: 2 for a single column, 3 at an edge, 4 inside.
        const uint8_t* byColumnWeight[3] = {
            rows.width == 1 ? tables.forTotal(rowWeight * 2) : nullptr,
            rows.width > 1 ? tables.forTotal(rowWeight * 3) : nullptr,
            rows.width > 2 ? tables.forTotal(rowWeight * 4) : nullptr,
        };
        uint8_t* row = rows.row(y);
        near.row(y, [&](size_t x, uint8_t sum) {
            const int columnWeight = lineWeight(x, rows.width);
            blendPixel<kBytes>(row + x * kBytes, byColumnWeight[columnWeight - 2], sum);
        });
    }
}

} // namespace

void ComputeNoteCoverage(const uint8_t* notes, int32_t width, int32_t height, float* coverage)
{
    if (!notes || !coverage || width <= 0 || height <= 0)
        return;
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    const auto& table = coverageTable();
    NearNotes near(notes, w, h);
    for (size_t y = 0; y < h; ++y) {
        const int rowWeight = lineWeight(y, h);
        float* out = coverage + y * w;
        // Far from every note the share is 0 / total, a plain zero.
        std::fill(out, out + w, 0.0f);
        near.row(y, [&](size_t x, uint8_t sum) {
            out[x] = table[static_cast<size_t>(rowWeight * lineWeight(x, w))][sum];
        });
    }
}

void BlendNotes(Dib& display, ColourRef colour, const float* coverage)
{
    auto rows = carrierRows(display);
    if (!rows || !coverage)
        return;
    const auto components = pixelOrder(colour);
    const BlendFormula formula = formulaFor(rows->bytesPerPixel);
    for (size_t y = 0; y < rows->height; ++y) {
        uint8_t* row = rows->row(y);
        const float* weights = coverage + y * rows->width;
        for (size_t x = 0; x < rows->width; ++x) {
            // Written to leave a weight that is not a number alone as well; one above 1 would
            // push a byte out of range, so it counts as 1.
            if (!(weights[x] > kMinimumWeight))
                continue;
            const float weight = std::min(weights[x], 1.0f);
            uint8_t* pixel = row + x * rows->bytesPerPixel;
            for (size_t channel = 0; channel < 3; ++channel)
                pixel[channel] = formula(weight, components[channel], pixel[channel]);
        }
    }
}

void PaintNotes(Dib& display, ColourRef colour, const uint8_t* notes)
{
    auto rows = carrierRows(display);
    if (!rows || !notes)
        return;
    const auto components = pixelOrder(colour);
    for (size_t y = 0; y < rows->height; ++y) {
        uint8_t* row = rows->row(y);
        const uint8_t* rowNotes = notes + y * rows->width;
        for (size_t x = 0; x < rows->width; ++x)
            if (rowNotes[x] == 1)
                std::memcpy(row + x * rows->bytesPerPixel, components.data(), 3);
    }
}

void ComplementNotes(Dib& display, const uint8_t* notes)
{
    auto rows = carrierRows(display);
    if (!rows || !notes)
        return;
    for (size_t y = 0; y < rows->height; ++y) {
        uint8_t* row = rows->row(y);
        const uint8_t* rowNotes = notes + y * rows->width;
        for (size_t x = 0; x < rows->width; ++x) {
            if (rowNotes[x] != 1)
                continue;
            uint8_t* pixel = row + x * rows->bytesPerPixel;
            pixel[0] = static_cast<uint8_t>(255 - pixel[0]);
            pixel[1] = static_cast<uint8_t>(255 - pixel[1]);
            pixel[2] = static_cast<uint8_t>(255 - pixel[2]);
        }
    }
}

void blendNotesFromLayer(Dib& display, ColourRef colour, const uint8_t* notes)
{
    auto rows = carrierRows(display);
    if (!rows || !notes)
        return;
    BlendTables tables(colour, formulaFor(rows->bytesPerPixel));
    if (rows->bytesPerPixel == 4)
        blendFromLayer<4>(*rows, notes, tables);
    else
        blendFromLayer<3>(*rows, notes, tables);
}

uint8_t blendedNoteByte(int sum, int total, uint8_t colour, uint8_t value, bool withAlpha)
{
    if (total < 1 || total > kMaxWeight || sum < 0 || sum > total)
        return value;
    const float weight = coverageTable()[static_cast<size_t>(total)][static_cast<size_t>(sum)];
    if (weight <= kMinimumWeight)
        return value;
    return (withAlpha ? blendWithAlpha : blendOpaque)(weight, colour, value);
}

} // namespace ombri
