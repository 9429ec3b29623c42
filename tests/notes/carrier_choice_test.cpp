#include "notes/carrier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

// Which byte carries the notes when another program changed the channels of a carrier: a 24-bit
// carrier that gained an alpha channel, a 32-bit one whose alpha channel was dropped, and the
// older 32-bit carriers written before the byte past the marker was made even.
namespace ombri {
namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 200;

void setPixel(Dib& image, int32_t x, int32_t yFromTop, uint8_t blue, uint8_t green, uint8_t red)
{
    auto layout = dibGetLayout(image);
    uint8_t* p = image.data() + layout->pixelOffset +
                 layout->stride * static_cast<size_t>(layout->height - 1 - yFromTop) +
                 static_cast<size_t>(x) * (layout->bitCount / 8);
    p[0] = blue, p[1] = green, p[2] = red;
}

// Smooth light with sensor-like noise on every channel, and a white top-left corner: the corner
// that makes the colour bytes of an older 32-bit carrier's marker pass for a 24-bit one.
Dib photo(uint32_t seed)
{
    Dib image = Dib::create(kWidth, kHeight, 24);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-4, 4);
    const auto level = [&](int base) {
        return static_cast<uint8_t>(std::clamp(base + noise(random), 0, 255));
    };
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x)
            setPixel(image, x, y, level(60 + x / 3), level(90 + y / 2), level(200 - x / 4));
    }
    for (int32_t x = 0; x < 16; ++x)
        setPixel(image, x, 0, 255, 255, 255);
    return image;
}

// Black text on white with grey edges, as a scanned or rendered page: its blue low bits follow
// the letters exactly, since every pixel is grey.
Dib document(uint32_t seed)
{
    Dib image = Dib::create(kWidth, kHeight, 24);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x)
            setPixel(image, x, y, 255, 255, 255);
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> edge(40, 220);
    for (int32_t line = 20; line + 12 < kHeight; line += 18) {
        for (int32_t x = 10; x + 8 < kWidth; x += 9) {
            if (random() % 5 == 0)
                continue;
            for (int32_t y = line; y < line + 11; ++y) {
                for (int32_t dx = 0; dx < 7; ++dx) {
                    const bool border = y == line || y == line + 10 || dx == 0 || dx == 6;
                    const auto grey = static_cast<uint8_t>(border ? edge(random) : 0);
                    setPixel(image, x + dx, y, grey, grey, grey);
                }
            }
        }
    }
    return image;
}

// Strokes over about 2% of the picture.
NoteLayer strokes()
{
    NoteLayer notes(static_cast<size_t>(kWidth) * kHeight, 0);
    for (int32_t y = 40; y < 160; y += 30) {
        for (int32_t x = 30; x < 290; ++x)
            notes[static_cast<size_t>(y + (x / 7) % 5) * kWidth + x] = 1;
    }
    return notes;
}

uint8_t* topRow(Dib& image)
{
    auto layout = dibGetLayout(image);
    return image.data() + layout->pixelOffset +
           layout->stride * static_cast<size_t>(layout->height - 1);
}

// A carrier as the writer saves it for PNG or TIFF; older 32-bit carriers lack the even byte.
enum class Style { Older, Current };
Dib carrier(const Dib& picture, const NoteLayer& notes, SaveDepth depth, Style style)
{
    Dib copy = MakeCarrierCopy(picture, notes, depth);
    if (style == Style::Older)
        WriteOmbriSignature(topRow(copy));
    else
        writeCarrierSignature(topRow(copy), kWidth, bitCountOf(depth));
    return copy;
}

struct Reading {
    bool intact = false;
    CarrierByte carrier = CarrierByte::Blue;
    Orientation orientation = Orientation::Normal;
    NoteLayer notes;
};

Reading read(const Dib& image, SignatureForm form = SignatureForm::Interleaved)
{
    Reading reading;
    const SignatureFind found = findOmbriSignature(image, true, form);
    reading.intact = found.intact();
    reading.carrier = found.carrier;
    reading.orientation = found.orientation;
    if (found.intact()) {
        std::optional<NoteLayer> notes;
        ExtractNoteLayer(image, notes, found.carrier);
        reading.notes = *notes;
    }
    return reading;
}

Dib withOpaqueAlpha(const Dib& image)
{
    return dibConvertToBitCount(image, 32);
}

Dib withoutAlpha(const Dib& image)
{
    return dibConvertToBitCount(image, 24);
}

struct Picture {
    const char* kind;
    Dib pixels;
};

std::vector<Picture> pictures()
{
    std::vector<Picture> all;
    for (uint32_t seed : {1u, 2u, 3u}) {
        all.push_back({"photo", photo(seed)});
        all.push_back({"document", document(seed)});
    }
    return all;
}

TEST(CarrierChoice, A24BitCarrierThatGainedOpaqueAlphaKeepsItsNotesInBlue)
{
    const NoteLayer notes = strokes();
    for (const Picture& picture : pictures()) {
        for (Style style : {Style::Older, Style::Current}) {
            const Reading reading =
                read(withOpaqueAlpha(carrier(picture.pixels, notes, SaveDepth::Bits24, style)));
            ASSERT_TRUE(reading.intact) << picture.kind;
            EXPECT_EQ(reading.carrier, CarrierByte::Blue) << picture.kind;
            EXPECT_EQ(reading.notes, notes) << picture.kind;
        }
    }
}

TEST(CarrierChoice, A32BitCarrierKeepsItsNotesInAlphaWithOrWithoutNotes)
{
    const NoteLayer none(static_cast<size_t>(kWidth) * kHeight, 0);
    for (const Picture& picture : pictures()) {
        for (Style style : {Style::Older, Style::Current}) {
            for (const NoteLayer* notes : {&none, static_cast<const NoteLayer*>(nullptr)}) {
                const NoteLayer drawn = notes ? *notes : strokes();
                const Reading reading =
                    read(carrier(picture.pixels, drawn, SaveDepth::Alpha32, style));
                ASSERT_TRUE(reading.intact) << picture.kind;
                EXPECT_EQ(reading.carrier, CarrierByte::Alpha) << picture.kind;
                EXPECT_EQ(reading.notes, drawn) << picture.kind;
            }
        }
    }
}

TEST(CarrierChoice, A32BitCarrierThatLostItsAlphaShowsNoInventedNotes)
{
    const NoteLayer none(static_cast<size_t>(kWidth) * kHeight, 0);
    for (const Picture& picture : pictures()) {
        for (Style style : {Style::Older, Style::Current}) {
            for (const NoteLayer& notes : {none, strokes()}) {
                const Reading reading =
                    read(withoutAlpha(carrier(picture.pixels, notes, SaveDepth::Alpha32, style)));
                EXPECT_FALSE(reading.intact)
                    << picture.kind << (style == Style::Older ? " older" : "");
            }
        }
    }
}

TEST(CarrierChoice, TheCurrentMarkerBreaksTheColourFormByOneStep)
{
    Dib picture = photo(4);
    Dib written = carrier(picture, strokes(), SaveDepth::Alpha32, Style::Current);
    const uint8_t* row = topRow(written);
    EXPECT_EQ(row[24] & 1, 0);
    EXPECT_LE(std::abs(int(row[24]) - 255), 1); // the corner was white
    // Pixels 7 on are the picture's own, alpha aside.
    Dib older = carrier(picture, strokes(), SaveDepth::Alpha32, Style::Older);
    EXPECT_EQ(std::memcmp(row + 25, topRow(older) + 25, 4 * kWidth - 25), 0);
}

TEST(CarrierChoice, HeavyNotesStillReadAsNotes)
{
    // A third of the picture drawn over, well past anything a hand writes.
    NoteLayer notes(static_cast<size_t>(kWidth) * kHeight, 0);
    for (size_t i = 0; i < notes.size() - kWidth; i += 3)
        notes[i] = 1; // the top row, last in the layer, holds the marker
    // And a patch over more than half of it.
    NoteLayer patch(notes.size(), 0);
    std::fill(patch.begin() + kWidth, patch.begin() + kWidth * (kHeight * 6 / 10), uint8_t{1});
    for (const Picture& picture : pictures()) {
        const Reading patched =
            read(carrier(picture.pixels, patch, SaveDepth::Bits24, Style::Current));
        ASSERT_TRUE(patched.intact) << picture.kind;
        EXPECT_EQ(patched.notes, patch) << picture.kind;
        const Reading plain =
            read(carrier(picture.pixels, notes, SaveDepth::Bits24, Style::Current));
        ASSERT_TRUE(plain.intact) << picture.kind;
        EXPECT_EQ(plain.notes, notes) << picture.kind;
        const Reading gained = read(
            withOpaqueAlpha(carrier(picture.pixels, notes, SaveDepth::Bits24, Style::Current)));
        ASSERT_TRUE(gained.intact) << picture.kind;
        EXPECT_EQ(gained.carrier, CarrierByte::Blue) << picture.kind;
    }
}

// SGI lays the marker over the colour planes at both depths; what another program makes of a
// PNG, TIFF or BMP carrier in SGI keeps the marker over whole pixels.
TEST(CarrierChoice, SgiCarriersAtBothDepthsAndConvertedOnes)
{
    const NoteLayer notes = strokes();
    for (const Picture& picture : pictures()) {
        Dib planar = MakeCarrierCopy(picture.pixels, notes, SaveDepth::Alpha32);
        uint8_t* row = topRow(planar);
        uint8_t planes[3][8];
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 8; ++i)
                planes[c][i] = row[4 * i + c];
        WritePlanarOmbriSignature(planes[0], planes[1], planes[2]);
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 8; ++i)
                row[4 * i + c] = planes[c][i];
        const Reading own = read(planar, SignatureForm::Planar);
        ASSERT_TRUE(own.intact) << picture.kind;
        EXPECT_EQ(own.carrier, CarrierByte::Alpha) << picture.kind;
        EXPECT_EQ(own.notes, notes) << picture.kind;
        EXPECT_EQ(own.orientation, Orientation::Normal) << picture.kind;
        EXPECT_FALSE(read(withoutAlpha(planar), SignatureForm::Planar).intact) << picture.kind;

        const Reading converted =
            read(carrier(picture.pixels, notes, SaveDepth::Alpha32, Style::Current),
                 SignatureForm::Planar);
        ASSERT_TRUE(converted.intact) << picture.kind;
        EXPECT_EQ(converted.carrier, CarrierByte::Alpha) << picture.kind;
        EXPECT_EQ(converted.notes, notes) << picture.kind;
        // A page's white left edge holds odd colour bytes all the way down from the marker's
        // lead, which must not make the carrier read as transposed.
        EXPECT_EQ(converted.orientation, Orientation::Normal) << picture.kind;
    }
}

} // namespace
} // namespace ombri
