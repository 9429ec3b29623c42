// The PNG filters as the save works them out, 16 or 32 bytes at a time, against the filters worked
// out byte by byte as the PNG standard defines them and libpng chooses among them.

#include "formats/png_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

uint8_t predicted(int filter, int a, int b, int c)
{
    switch (filter) {
    case 1:
        return static_cast<uint8_t>(a);
    case 2:
        return static_cast<uint8_t>(b);
    case 3:
        return static_cast<uint8_t>((a + b) / 2);
    case 4: {
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
    }
    default:
        return 0;
    }
}

// Rows [first, end) of a picture held red first, top row first, as the file holds them.
Bytes filteredByDefinition(const std::vector<Bytes>& rows, size_t bpp, uint32_t first, uint32_t end,
                           PngFilterRule rule)
{
    Bytes out;
    const size_t count = rows[0].size();
    const Bytes zeros(count, 0);
    for (uint32_t y = first; y < end; ++y) {
        const Bytes& row = rows[y];
        const Bytes& above = y == 0 ? zeros : rows[y - 1];
        Bytes best;
        int bestFilter = 0;
        long bestSum = -1;
        for (int filter = 0; filter < 5; ++filter) {
            if (rule == PngFilterRule::Up && filter != 2)
                continue;
            Bytes filtered(count);
            long sum = 0;
            for (size_t i = 0; i < count; ++i) {
                const int a = i >= bpp ? row[i - bpp] : 0;
                const int c = i >= bpp ? above[i - bpp] : 0;
                filtered[i] = static_cast<uint8_t>(row[i] - predicted(filter, a, above[i], c));
                sum += std::abs(static_cast<int8_t>(filtered[i]));
            }
            if (bestSum < 0 || sum < bestSum) {
                bestSum = sum;
                bestFilter = filter;
                best = filtered;
            }
        }
        out.push_back(static_cast<uint8_t>(bestFilter));
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

// Rows that pull every filter's way in turn: noise, repeats, ramps, and runs of the bytes where
// the predictors' sums and differences reach past 8 bits (0, 1, 127, 128, 254, 255).
std::vector<Bytes> testRows(size_t count, uint32_t height, std::mt19937& random)
{
    static const uint8_t kEdges[] = {0, 1, 127, 128, 254, 255};
    std::vector<Bytes> rows;
    for (uint32_t y = 0; y < height; ++y) {
        Bytes row(count);
        for (size_t i = 0; i < count; ++i) {
            switch ((y + i / 7) % 4) {
            case 0:
                row[i] = static_cast<uint8_t>(random());
                break;
            case 1:
                row[i] = kEdges[random() % 6];
                break;
            case 2:
                row[i] = y > 0 ? static_cast<uint8_t>(rows[y - 1][i] + random() % 3) : 0;
                break;
            default:
                row[i] = static_cast<uint8_t>(3 * i + y);
            }
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(PngFilter, EveryWidthBandAndRuleGivesTheBytesTheStandardDefines)
{
    std::mt19937 random(7);
    for (const uint32_t channels : {3u, 4u})
        for (const uint32_t width : {1u, 2u, 5u, 6u, 7u, 11u, 16u, 17u, 33u, 200u}) {
            const size_t count = size_t{width} * channels;
            const uint32_t height = 12;
            const std::vector<Bytes> rows = testRows(count, height, random);
            // As the picture holds them: blue first, bottom row first.
            Bytes picture;
            for (uint32_t y = height; y-- > 0;)
                for (size_t i = 0; i < count; i += channels) {
                    picture.insert(picture.end(), {rows[y][i + 2], rows[y][i + 1], rows[y][i]});
                    if (channels == 4)
                        picture.push_back(rows[y][i + 3]);
                }
            PngRows held;
            held.width = width;
            held.height = height;
            held.channels = channels;
            held.step = -static_cast<std::ptrdiff_t>(count);
            held.firstRow = picture.data() + (height - 1) * count;
            PngRows made = held;
            made.firstRow = nullptr;
            made.makeRow = [&](uint32_t row, uint8_t* out) {
                std::copy_n(held.firstRow + static_cast<std::ptrdiff_t>(row) * held.step, count,
                            out);
            };
            for (const PngFilterRule rule : {PngFilterRule::Adaptive, PngFilterRule::Up})
                for (const auto& [first, end] : {std::pair{0u, height}, std::pair{5u, 9u},
                                                 std::pair{11u, 12u}, std::pair{0u, 1u}}) {
                    SCOPED_TRACE(testing::Message()
                                 << channels << " channels, width " << width << ", rows " << first
                                 << "-" << end << (rule == PngFilterRule::Up ? ", Up" : ""));
                    const Bytes expected = filteredByDefinition(rows, channels, first, end, rule);
                    for (const bool wide : {true, false})
                        for (const PngRows* source : {&held, &made}) {
                            allowWidePngFilters(wide);
                            Bytes out(expected.size() + 1, 0xEE);
                            Bytes scratch(pngFilterScratchBytes(*source), 0xEE);
                            filterPngRows(*source, first, end, rule, out.data(), scratch.data());
                            EXPECT_EQ(out.back(), 0xEE) << "written past the band";
                            out.pop_back();
                            EXPECT_EQ(out, expected) << (wide ? "32" : "16") << " bytes at a time";
                        }
                    allowWidePngFilters(true);
                }
        }
}

} // namespace
} // namespace ombri
