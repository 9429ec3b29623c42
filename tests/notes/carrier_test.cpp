#include "core/bytes.h"
#include "notes/carrier.h"
#include "support/dib_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ombri {
namespace {

TEST(SetNoteBit, MovesCarrierByAtMostOneWithoutWrapping)
{
    struct Case {
        uint8_t note, before, after;
    };
    for (const Case& c : {Case{1, 255, 254}, Case{0, 0, 1}, Case{1, 0, 0}, Case{0, 255, 255},
                          Case{1, 7, 6}, Case{0, 6, 7}, Case{2, 6, 7}}) {
        uint8_t carrier = c.before;
        SetNoteBit(c.note, carrier);
        EXPECT_EQ(carrier, c.after) << "note " << int(c.note) << " on " << int(c.before);
    }
}

TEST(OmbriSignature, ForcesTwentyBytesOddAfterTheLead)
{
    std::vector<uint8_t> zeros(30, 0);
    WriteOmbriSignature(zeros.data());
    std::vector<uint8_t> expected = {101, 103, 105};
    expected.resize(23, 1);
    expected.resize(30, 0); // byte 23, the red byte of pixel 7, is not part of it
    EXPECT_EQ(zeros, expected);

    std::vector<uint8_t> counting(30);
    for (size_t i = 0; i < counting.size(); ++i)
        counting[i] = static_cast<uint8_t>(200 + i);
    WriteOmbriSignature(counting.data());
    const std::vector<uint8_t> start = {101, 103, 105, 203, 205, 205, 207, 207};
    EXPECT_TRUE(std::equal(start.begin(), start.end(), counting.begin()));
    EXPECT_EQ(counting[22], 223);
    EXPECT_EQ(counting[23], 223);
    EXPECT_EQ(counting[24], 224);
}

TEST(OmbriSignature, PlanarFormCoversEightBlueAndGreenAndSevenRedEntries)
{
    std::vector<uint8_t> blue(10, 0), green(10, 0), red(10, 0);
    WritePlanarOmbriSignature(blue.data(), green.data(), red.data());
    EXPECT_EQ(blue, (std::vector<uint8_t>{101, 1, 1, 1, 1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(green, (std::vector<uint8_t>{103, 1, 1, 1, 1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(red, (std::vector<uint8_t>{105, 1, 1, 1, 1, 1, 1, 0, 0, 0}));
}

struct CopyCase {
    uint16_t sourceBits;
    SaveDepth depth;
};

class CarrierCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CarrierCopy, SetsEveryCarrierByteAndCopiesTheRest)
{
    const CopyCase c = GetParam();
    const int32_t width = 5, height = 3;
    Dib source = test::makePatternImage(width, height, c.sourceBits);
    const size_t inStep = c.sourceBits / 8, inStride = DibRowStride(width, c.sourceBits);
    // A resolution and nonzero padding show whether a block is duplicated or built anew.
    writeLe32(source.data() + 24, 2835);
    for (int32_t row = 0; row < height && inStep == 3; ++row)
        source.data()[kInfoHeaderSize + row * inStride + 15] = 0xAB;
    const Dib original = source.clone();
    const NoteLayer notes = test::makePatternNotes(width, height);

    const uint16_t outBits = c.depth == SaveDepth::Alpha32 ? 32 : 24;
    const size_t outStep = outBits / 8, outStride = DibRowStride(width, outBits);
    Dib expected =
        c.sourceBits == 24 && outBits == 24 ? source.clone() : Dib::create(width, height, outBits);
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* in = source.data() + kInfoHeaderSize + row * inStride + x * inStep;
            uint8_t* out = expected.data() + kInfoHeaderSize + row * outStride + x * outStep;
            const bool note = notes[row * width + x] == 1;
            std::memcpy(out, in, 3);
            uint8_t& carrier = outStep == 4 ? out[3] : out[0];
            if (outStep == 4)
                carrier = inStep == 4 ? in[3] : 255;
            carrier = note ? carrier & 0xFE : carrier | 1;
        }
    }

    Dib copy = MakeCarrierCopy(source, notes, c.depth);
    EXPECT_EQ(test::dibDifference(copy, expected), "");
    EXPECT_EQ(test::dibDifference(source, original), "");
}

INSTANTIATE_TEST_SUITE_P(AllSourceAndSaveDepths, CarrierCopy,
                         ::testing::Values(CopyCase{24, SaveDepth::Alpha32},
                                           CopyCase{24, SaveDepth::Bits24},
                                           CopyCase{32, SaveDepth::Alpha32},
                                           CopyCase{32, SaveDepth::Bits24}));

TEST(CarrierCopyRefusal, NoCopyForPaletteImagesOrMismatchedNotes)
{
    Dib eight = Dib::allocate(kInfoHeaderSize + 1024 + 16);
    auto header = DibMakeHeader(8, 2, 8, 0);
    std::memcpy(eight.data(), header.data(), header.size());
    EXPECT_TRUE(MakeCarrierCopy(eight, NoteLayer(16, 1), SaveDepth::Bits24).isNull());
    const Dib rgb = test::makePatternImage(4, 4, 24);
    EXPECT_TRUE(MakeCarrierCopy(rgb, NoteLayer(15, 1), SaveDepth::Alpha32).isNull());
}

// A 24- or 32-bit image 8 pixels wide with the signature written at the start of one row.
Dib signedImage(uint16_t bitCount, bool inLastRow)
{
    Dib image = test::makePatternImage(8, 3, bitCount);
    uint8_t* pixels = DibPixelStart(image);
    WriteOmbriSignature(inLastRow ? pixels + 2 * DibRowStride(8, bitCount) : pixels);
    return image;
}

TEST(SignatureDetection, LooksOnlyInTheRowTheFlagNames)
{
    for (uint16_t bits : {24, 32}) {
        EXPECT_TRUE(HasOmbriSignature(signedImage(bits, false), false)) << bits;
        EXPECT_FALSE(HasOmbriSignature(signedImage(bits, false), true)) << bits;
        EXPECT_TRUE(HasOmbriSignature(signedImage(bits, true), true)) << bits;
        EXPECT_FALSE(HasOmbriSignature(signedImage(bits, true), false)) << bits;
    }
}

TEST(SignatureDetection, RejectsAnyEvenByteOrWrongLead)
{
    for (size_t k = 0; k < kSignatureBytes; ++k) {
        Dib image = signedImage(24, false);
        DibPixelStart(image)[k] += k < 3 ? 2 : 1;
        EXPECT_FALSE(HasOmbriSignature(image, false)) << "byte " << k;
    }
    Dib next = signedImage(24, false);
    DibPixelStart(next)[23] &= 0xFE; // outside the signature
    EXPECT_TRUE(HasOmbriSignature(next, false));
}

TEST(SignatureDetection, RejectsPaletteAndTooNarrowImages)
{
    const uint8_t row[24] = {101, 103, 105, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                             1,   1,   1,   1, 1, 1, 1, 1, 1, 1, 1, 1};
    Dib eight = Dib::allocate(kInfoHeaderSize + 1024 + 24);
    auto header = DibMakeHeader(24, 1, 8, 0);
    std::memcpy(eight.data(), header.data(), header.size());
    std::memcpy(DibPixelStart(eight), row, 24);
    EXPECT_FALSE(HasOmbriSignature(eight, false));

    Dib narrow = Dib::create(7, 1, 24); // 21 pixel bytes and 3 of padding
    std::memcpy(DibPixelStart(narrow), row, 24);
    EXPECT_FALSE(HasOmbriSignature(narrow, false));
}

TEST(SignatureDetection, HandMadeSignatureMakesEveryEvenCarrierANote)
{
    Dib image = Dib::create(9, 2, 24);
    uint8_t* top = DibPixelStart(image) + DibRowStride(9, 24);
    const uint8_t lead[] = {101, 103, 105};
    std::memcpy(top, lead, 3);
    for (size_t k = 3; k < 27; ++k)
        top[k] = static_cast<uint8_t>(2 * k + 1);
    top[24] = 40; // pixel 8 of the top row: an even blue byte
    ASSERT_TRUE(HasOmbriSignature(image, true));

    std::optional<NoteLayer> notes;
    ExtractNoteLayer(image, notes);
    ASSERT_TRUE(notes);
    NoteLayer expected(18, 1); // the bottom row is all zero bytes: all notes
    std::fill(expected.begin() + 9, expected.end(), 0);
    expected[17] = 1;
    EXPECT_EQ(*notes, expected);
}

TEST(ExtractNoteLayer, ReadsCarrierBytesAndNeverClearsNotes)
{
    for (uint16_t bits : {24, 32}) {
        const Dib image = test::makePatternImage(5, 3, bits);
        const size_t carrier = bits == 24 ? 0 : 3;
        NoteLayer fromCarrier(15);
        for (int32_t row = 0; row < 3; ++row)
            for (int32_t x = 0; x < 5; ++x)
                fromCarrier[row * 5 + x] = test::pixelAt(image, x, 2 - row)[carrier] % 2 == 0;

        std::optional<NoteLayer> fresh;
        ExtractNoteLayer(image, fresh);
        ASSERT_TRUE(fresh);
        EXPECT_EQ(*fresh, fromCarrier) << bits;

        std::optional<NoteLayer> existing = NoteLayer(15, 0);
        (*existing)[0] = (*existing)[14] = 1;
        ExtractNoteLayer(image, existing);
        NoteLayer merged = fromCarrier;
        merged[0] = merged[14] = 1;
        EXPECT_EQ(*existing, merged) << bits;
    }
}

TEST(ClearCarrier, ForcesEveryCarrierOddAndLeavesOtherBytes)
{
    for (uint16_t bits : {24, 32}) {
        Dib image = test::makePatternImage(5, 3, bits);
        auto layout = *dibGetLayout(image);
        for (int32_t row = 0; row < 3 && bits == 24; ++row)
            image.data()[layout.pixelOffset + row * layout.stride + 15] = 2; // padding
        Dib expected = image.clone();
        for (int32_t row = 0; row < 3; ++row)
            for (int32_t x = 0; x < 5; ++x)
                expected.data()[layout.pixelOffset + row * layout.stride + x * (bits / 8) +
                                (bits == 24 ? 0 : 3)] |= 1;
        ClearCarrier(image);
        EXPECT_EQ(test::dibDifference(image, expected), "") << bits;
    }
}

} // namespace
} // namespace ombri
