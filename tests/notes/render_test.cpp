#include "notes/render.h"

#include "support/dib_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

// The reference below rounds every operation to a 32-bit float, like the code under test; GCC
// would otherwise fuse a multiply and an add where the target allows it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace ombri {
namespace {

using test::pixelAt;

constexpr ColourRef kRed = makeColourRef(255, 0, 0);

uint8_t* pixel(Dib& dib, int32_t x, int32_t yFromTop)
{
    return const_cast<uint8_t*>(pixelAt(dib, x, yFromTop));
}

// One note byte, addressed like pixels: row counted from the top.
void setNote(NoteLayer& notes, int32_t width, int32_t height, int32_t x, int32_t yFromTop)
{
    notes[static_cast<size_t>(height - 1 - yFromTop) * static_cast<size_t>(width) +
          static_cast<size_t>(x)] = 1;
}

// The 3 x 3 weighted share of note pixels (bytes equal to 1) in long double, stored as a float.
float referenceCover(const NoteLayer& notes, int32_t w, int32_t h, int32_t x, int32_t y)
{
    int sum = 0, total = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            if (y + dy < 0 || y + dy >= h || x + dx < 0 || x + dx >= w)
                continue;
            const int weight = (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1);
            sum += weight * (notes[size_t(y + dy) * size_t(w) + size_t(x + dx)] == 1 ? 1 : 0);
            total += weight;
        }
    return static_cast<float>(static_cast<long double>(sum) / total);
}

// The rendering written out plainly: the weighted share, then each formula one
// single-precision operation at a time.
Dib referenceBlend(const Dib& image, ColourRef colour, const NoteLayer& notes)
{
    Dib out = image.clone();
    const int32_t w = DibGetWidth(image), h = DibGetHeight(image);
    const size_t bytes = DibGetBitCount(image) / 8u;
    const uint8_t component[3] = {uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const float cover = referenceCover(notes, w, h, x, y);
            if (cover <= 0.01f)
                continue;
            uint8_t* p = DibPixelStart(out) + size_t(y) * DibRowStride(w, bytes * 8) + x * bytes;
            for (int c = 0; c < 3; ++c) {
                const float keep = 1.0f - cover;
                const float kept = keep * float(p[c]);
                const float added = cover * float(component[c]);
                p[c] = bytes == 3 ? uint8_t(int(added + float(int(kept))))
                                  : uint8_t(int(kept + added));
            }
        }
    return out;
}

struct CoverageCase {
    const char* name;
    int32_t width, height;
    std::vector<std::pair<int, int>> notes; // x, y from the top
    int x, y;
    int sum, total;
};

TEST(NoteCoverage, WeightsTheNeighbourhoodInsideThePicture)
{
    const CoverageCase cases[] = {
        {"isolated pixel", 5, 5, {{2, 2}}, 2, 2, 4, 16},
        {"edge neighbour", 5, 5, {{2, 2}}, 2, 1, 2, 16},
        {"diagonal neighbour", 5, 5, {{2, 2}}, 1, 1, 1, 16},
        {"far away", 5, 5, {{2, 2}}, 0, 0, 0, 16},
        {"corner", 5, 5, {{0, 0}}, 0, 0, 4, 9},
        {"border", 5, 5, {{2, 0}}, 2, 0, 4, 12},
        {"solid corner", 2, 2, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, 1, 1, 9, 9},
        {"single pixel", 1, 1, {{0, 0}}, 0, 0, 1, 1},
        {"one column", 1, 3, {{0, 1}}, 0, 0, 2, 6},
        {"one row", 3, 1, {{1, 0}}, 1, 0, 4, 8},
    };
    for (const auto& c : cases) {
        NoteLayer notes(size_t(c.width) * size_t(c.height));
        for (auto [x, y] : c.notes)
            setNote(notes, c.width, c.height, x, y);
        std::vector<float> coverage(notes.size(), -1.0f);
        ComputeNoteCoverage(notes.data(), c.width, c.height, coverage.data());
        const size_t at = size_t(c.height - 1 - c.y) * size_t(c.width) + size_t(c.x);
        EXPECT_EQ(coverage[at], static_cast<float>(static_cast<long double>(c.sum) / c.total))
            << c.name;
    }
}

TEST(BlendNotes, IsolatedRedNoteOnBlack)
{
    for (uint16_t bits : {24, 32}) {
        Dib image = Dib::create(5, 5, bits);
        if (bits == 32)
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 5; ++x)
                    pixel(image, x, y)[3] = 77;
        NoteLayer notes(25);
        setNote(notes, 5, 5, 2, 2);
        Dib fused = image.clone();
        blendNotesFromLayer(fused, kRed, notes.data());
        std::vector<float> coverage(25);
        ComputeNoteCoverage(notes.data(), 5, 5, coverage.data());
        BlendNotes(image, kRed, coverage.data());
        EXPECT_EQ(test::dibDifference(fused, image), "") << bits;
        EXPECT_EQ(pixelAt(image, 2, 2)[2], 63) << bits;
        EXPECT_EQ(pixelAt(image, 2, 1)[2], 31) << bits;
        EXPECT_EQ(pixelAt(image, 1, 1)[2], 15) << bits;
        EXPECT_EQ(pixelAt(image, 2, 2)[0] + pixelAt(image, 2, 2)[1], 0) << bits;
        if (bits == 32) {
            EXPECT_EQ(pixelAt(image, 2, 2)[3], 77);
        }
    }
}

TEST(BlendNotes, TablesMatchThePlainFormulas)
{
    const ColourRef colours[] = {kRed, makeColourRef(255, 255, 255), 0, makeColourRef(18, 52, 86)};
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 6},   {6, 1},
                                                 {2, 2}, {47, 33}, {130, 9}};
    for (uint16_t bits : {24, 32})
        for (auto [w, h] : sizes)
            for (uint32_t seed = 1; seed <= 3; ++seed)
                for (ColourRef colour : colours) {
                    const Dib image = test::makePatternImage(w, h, bits, seed);
                    NoteLayer notes = test::makePatternNotes(w, h, seed);
                    if (seed == 3) // denser notes: more of the high sums
                        for (size_t i = 0; i < notes.size(); i += 2)
                            notes[i] = 1;
                    const Dib expected = referenceBlend(image, colour, notes);
                    Dib fused = image.clone();
                    blendNotesFromLayer(fused, colour, notes.data());
                    Dib twoPass = image.clone();
                    std::vector<float> coverage(notes.size());
                    ComputeNoteCoverage(notes.data(), w, h, coverage.data());
                    BlendNotes(twoPass, colour, coverage.data());
                    const auto where = ::testing::Message()
                                       << bits << "-bit " << w << "x" << h << " seed " << seed
                                       << " colour " << colour;
                    EXPECT_EQ(test::dibDifference(fused, expected), "") << where;
                    EXPECT_EQ(test::dibDifference(twoPass, expected), "") << where;
                }
}

TEST(BlendNotes, EachStepIsRoundedToSinglePrecision)
{
    // 1 - 1/6 rounds up to 0.8333333 in single precision, so 6 keeps 5, where exact arithmetic
    // would give 4.99999997 and keep 4.
    Dib image = Dib::create(1, 1, 24);
    DibPixelStart(image)[0] = 6;
    const float sixth = 1.0f / 6.0f;
    BlendNotes(image, 0, &sixth);
    EXPECT_EQ(DibPixelStart(image)[0], 5);
}

TEST(BlendNotes, WeightsAtOrBelowTheThresholdLeaveThePixel)
{
    for (float weight : {0.0f, 0.01f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        Dib image = test::makePatternImage(1, 1, 24);
        const Dib before = image.clone();
        BlendNotes(image, kRed, &weight);
        EXPECT_EQ(test::dibDifference(image, before), "") << weight;
    }
}

TEST(NoteRendering, SolidAreaEqualsSolidRenderingAndKeepsAlpha)
{
    for (uint16_t bits : {24, 32}) {
        const Dib image = test::makePatternImage(9, 7, bits);
        const NoteLayer notes(63, 1);
        Dib blended = image.clone();
        blendNotesFromLayer(blended, makeColourRef(18, 52, 86), notes.data());
        Dib painted = image.clone();
        PaintNotes(painted, makeColourRef(18, 52, 86), notes.data());
        EXPECT_EQ(test::dibDifference(blended, painted), "") << bits;
        const uint8_t* p = pixelAt(painted, 4, 3);
        EXPECT_EQ(p[0], 86);
        EXPECT_EQ(p[1], 52);
        EXPECT_EQ(p[2], 18);
        if (bits == 32) {
            EXPECT_EQ(p[3], pixelAt(image, 4, 3)[3]);
        }
    }
}

TEST(NoteRendering, ComplementInvertsOnlyNotePixels)
{
    const struct {
        uint8_t value, expected;
    } cases[] = {{0, 255}, {128, 127}, {255, 0}};
    for (const auto& c : cases) {
        Dib image = Dib::create(2, 1, 32);
        std::memset(DibPixelStart(image), c.value, 8);
        const NoteLayer notes = {1, 0};
        ComplementNotes(image, notes.data());
        const uint8_t* note = pixelAt(image, 0, 0);
        EXPECT_EQ(note[0], c.expected);
        EXPECT_EQ(note[2], c.expected);
        EXPECT_EQ(note[3], c.value) << "alpha";
        EXPECT_EQ(pixelAt(image, 1, 0)[0], c.value) << "plain pixel";
    }
}

// Notes are sparse in real pictures and the rendering only looks near them, in runs of columns:
// notes on either side of a run boundary, at the picture's edges, close pairs whose
// neighbourhoods overlap, and layer bytes other than 1 (not notes) must all come out as the
// plain per-pixel recipe gives them.
NoteLayer sparseNotes(int32_t w, int32_t h, uint32_t seed)
{
    NoteLayer notes(size_t(w) * size_t(h));
    uint32_t state = seed * 2654435761u + 7;
    for (auto& note : notes) {
        state = state * 1103515245u + 12345u;
        const uint32_t roll = (state >> 16) % 100;
        note = roll < 3 ? 1 : roll == 3 ? 2 : roll == 4 ? 255 : 0;
    }
    return notes;
}

TEST(NoteRendering, SparseNotesMatchThePlainRecipe)
{
    const std::pair<int32_t, int32_t> sizes[] = {{1, 40}, {40, 1},  {15, 3},  {16, 4}, {17, 5},
                                                 {33, 2}, {47, 33}, {130, 9}, {1, 1}};
    for (uint16_t bits : {24, 32})
        for (auto [w, h] : sizes)
            for (uint32_t seed = 1; seed <= 4; ++seed) {
                const Dib image = test::makePatternImage(w, h, bits, seed);
                const NoteLayer notes = sparseNotes(w, h, seed);
                const auto where = ::testing::Message()
                                   << bits << "-bit " << w << "x" << h << " seed " << seed;
                Dib fused = image.clone();
                blendNotesFromLayer(fused, kRed, notes.data());
                EXPECT_EQ(test::dibDifference(fused, referenceBlend(image, kRed, notes)), "")
                    << where;
                // Every weight is written, the zeros far from the notes too.
                std::vector<float> coverage(notes.size(), -1.0f);
                ComputeNoteCoverage(notes.data(), w, h, coverage.data());
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x)
                        ASSERT_EQ(coverage[size_t(y) * size_t(w) + size_t(x)],
                                  referenceCover(notes, w, h, x, y))
                            << where << " at " << x << "," << y;
            }
}

TEST(NoteRendering, SingleNotesAndPairsAcrossRunBoundaries)
{
    const int32_t w = 50, h = 3;
    const Dib image = test::makePatternImage(w, h, 24, 5);
    // One note anywhere, then two in one row at every distance: blending a pixel twice where
    // their neighbourhoods meet would show.
    std::vector<NoteLayer> layers;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            NoteLayer notes(size_t(w) * size_t(h));
            notes[size_t(y) * w + size_t(x)] = 1;
            layers.push_back(notes);
        }
    for (int32_t first : {0, 13, 14, 15, 16})
        for (int32_t gap = 1; first + gap < w; ++gap) {
            NoteLayer notes(size_t(w) * size_t(h));
            notes[size_t(w) + size_t(first)] = 1;
            notes[size_t(first + gap)] = 1;
            layers.push_back(notes);
        }
    for (size_t i = 0; i < layers.size(); ++i) {
        Dib fused = image.clone();
        blendNotesFromLayer(fused, makeColourRef(18, 52, 86), layers[i].data());
        ASSERT_EQ(
            test::dibDifference(fused, referenceBlend(image, makeColourRef(18, 52, 86), layers[i])),
            "")
            << "layer " << i;
    }
}

} // namespace
} // namespace ombri
