#include "notes/carrier.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

namespace ombri {
namespace {

constexpr Orientation kAllOrientations[] = {Orientation::Normal,     Orientation::Mirrored,
                                            Orientation::Flipped,    Orientation::Turned90,
                                            Orientation::Turned180,  Orientation::Turned270,
                                            Orientation::Transposed, Orientation::Transversed};

// A picture as its format's writer leaves it: the marker at the left end of the top row (flag
// set) or of the bottom row (BMP), interleaved or laid over the colour planes.
Dib signedPicture(int32_t width, int32_t height, uint16_t bits, bool signatureRowFlag,
                  SignatureForm form)
{
    Dib image = test::makePatternImage(width, height, bits, 5);
    uint8_t* row = DibPixelStart(image) +
                   (signatureRowFlag ? DibRowStride(width, bits) * size_t(height - 1) : 0);
    if (form == SignatureForm::Interleaved) {
        WriteOmbriSignature(row);
    } else {
        // The planes as the reader interleaves them again: byte k of the marker is channel k % 3
        // of pixel k / 3, whatever the pixel size.
        const size_t step = bits / 8;
        WritePlanarOmbriSignature(row, row + 1, row + 2);
        uint8_t blue[8], green[8], red[8];
        for (size_t i = 0; i < 8; ++i)
            blue[i] = row[i * step], green[i] = row[i * step + 1], red[i] = row[i * step + 2];
        WritePlanarOmbriSignature(blue, green, red);
        for (size_t i = 0; i < 8; ++i)
            row[i * step] = blue[i], row[i * step + 1] = green[i], row[i * step + 2] = red[i];
    }
    return image;
}

TEST(SignatureSearch, FindsTheMarkerInEveryOrientationOfEveryForm)
{
    struct Case {
        uint16_t bits;
        bool flag;
        SignatureForm form;
    };
    for (const Case c :
         {Case{24, true, SignatureForm::Interleaved}, Case{24, false, SignatureForm::Interleaved},
          Case{32, true, SignatureForm::Interleaved}, Case{32, false, SignatureForm::Interleaved},
          Case{24, true, SignatureForm::Planar}, Case{32, true, SignatureForm::Planar}}) {
        const Dib original = signedPicture(11, 9, c.bits, c.flag, c.form);
        ASSERT_EQ(findOmbriSignature(original, c.flag, c.form).state, SignatureState::Intact);
        for (Orientation o : kAllOrientations) {
            const SignatureFind found =
                findOmbriSignature(test::orientedCopy(original, o), c.flag, c.form);
            EXPECT_EQ(found.state, SignatureState::Intact)
                << c.bits << " bits, " << orientationName(o);
            // A flipped BMP has its marker along the top row, where other programs' BMP copies
            // of carriers have it: that counts as normal.
            const Orientation named =
                !c.flag && o == Orientation::Flipped ? Orientation::Normal : o;
            EXPECT_EQ(found.orientation, named) << c.bits << " bits, " << orientationName(o);
        }
    }
}

// A PNG carrier converted to BMP by another program keeps its top row on top, where every
// program's BMP copy of a carrier has the marker: that is a normal BMP, not a flipped one.
TEST(SignatureSearch, NamesTheOrientationRelativeToWhereTheFormatPutsTheMarker)
{
    const Dib pngLike = signedPicture(12, 10, 24, true, SignatureForm::Interleaved);
    EXPECT_EQ(findOmbriSignature(pngLike, false, SignatureForm::Interleaved).orientation,
              Orientation::Normal);
    const Dib turned = test::orientedCopy(pngLike, Orientation::Turned90);
    EXPECT_EQ(findOmbriSignature(turned, true, SignatureForm::Interleaved).orientation,
              Orientation::Turned90);
    EXPECT_EQ(findOmbriSignature(turned, false, SignatureForm::Interleaved).orientation,
              Orientation::Transposed);
}

// The marker needs 8 pixels (6 for 32-bit interleaved) along its direction; a picture turned so
// that the run no longer fits is not read past its edges.
TEST(SignatureSearch, APictureTooShortForTheTurnedMarkerIsNoCarrier)
{
    for (uint16_t bits : {24, 32}) {
        const int32_t needed = bits == 24 ? 8 : 6;
        const Dib wide = signedPicture(needed, 3, bits, true, SignatureForm::Interleaved);
        const Dib turned = test::orientedCopy(wide, Orientation::Turned90);
        EXPECT_EQ(findOmbriSignature(turned, true, SignatureForm::Interleaved).state,
                  SignatureState::Intact)
            << bits;
        // One pixel fewer in the picture's height after turning: the run would leave it.
        Dib cut = Dib::create(DibGetWidth(turned), needed - 1, bits);
        for (int32_t y = 0; y < needed - 1; ++y)
            std::memcpy(const_cast<uint8_t*>(test::pixelAt(cut, 0, y)), test::pixelAt(turned, 0, y),
                        DibRowStride(DibGetWidth(turned), bits));
        EXPECT_NE(findOmbriSignature(cut, true, SignatureForm::Interleaved).state,
                  SignatureState::Intact)
            << bits;
    }
}

TEST(SignatureSearch, ABrokenRunAfterTheLeadIsReportedDamaged)
{
    for (size_t k = 3; k < kSignatureBytes; ++k) {
        Dib image = signedPicture(10, 10, 24, true, SignatureForm::Interleaved);
        uint8_t* top = DibPixelStart(image) + DibRowStride(10, 24) * 9;
        top[k] &= 0xFE;
        const SignatureFind found = findOmbriSignature(image, true, SignatureForm::Interleaved);
        EXPECT_EQ(found.state, SignatureState::Damaged) << "byte " << k;
        EXPECT_EQ(found.orientation, Orientation::Normal) << "byte " << k;
    }
    // Without the lead bytes nothing is claimed at all.
    Dib image = signedPicture(10, 10, 24, true, SignatureForm::Interleaved);
    DibPixelStart(image)[DibRowStride(10, 24) * 9 + 1] = 104;
    EXPECT_EQ(findOmbriSignature(image, true, SignatureForm::Interleaved).state,
              SignatureState::None);
}

// The planar marker leaves the alpha plane alone, so notes drawn on the first pixels of a
// four-channel SGI picture (even alpha) must not hide it.
TEST(SignatureSearch, ThePlanarFormIgnoresAlpha)
{
    Dib image = signedPicture(10, 10, 32, true, SignatureForm::Planar);
    // Alpha as a carrier leaves it: 255, and 254 for a note.
    for (size_t row = 0; row < 10; ++row)
        for (size_t i = 0; i < 10; ++i)
            DibPixelStart(image)[DibRowStride(10, 32) * row + 4 * i + 3] = 255;
    uint8_t* top = DibPixelStart(image) + DibRowStride(10, 32) * 9;
    for (size_t i = 0; i < 8; ++i)
        top[4 * i + 3] = 254;
    const SignatureFind planar = findOmbriSignature(image, true, SignatureForm::Planar);
    EXPECT_TRUE(planar.intact());
    EXPECT_EQ(planar.carrier, CarrierByte::Alpha);
    // Over whole pixels the alpha bytes break the marker: the colour bytes alone may still be a
    // 24-bit carrier that gained an alpha channel, but alpha never carries notes then.
    const SignatureFind whole = findOmbriSignature(image, true, SignatureForm::Interleaved);
    EXPECT_FALSE(whole.intact() && whole.carrier == CarrierByte::Alpha);
}

// Noise pictures and a plain photograph-like pattern carry no marker in any orientation: each
// of the eight places is checked with all 23 bytes, as strictly as the one place was before.
TEST(SignatureSearch, PlainAndNoisePicturesAreNeverTakenForCarriers)
{
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        const uint16_t bits = round % 2 ? 32 : 24;
        Dib image = Dib::create(9 + round % 7, 8 + round % 5, bits);
        auto layout = dibGetLayout(image);
        ASSERT_TRUE(layout);
        uint8_t* pixels = DibPixelStart(image);
        for (size_t i = 0; i < layout->stride * size_t(layout->height); ++i)
            pixels[i] = static_cast<uint8_t>(random() | (round % 3 == 0 ? 1 : 0));
        for (SignatureForm form : {SignatureForm::Interleaved, SignatureForm::Planar})
            for (bool flag : {true, false})
                EXPECT_EQ(findOmbriSignature(image, flag, form).state, SignatureState::None);
    }
    const Dib pattern = test::makePatternImage(640, 480, 24, 3);
    for (bool flag : {true, false})
        EXPECT_EQ(findOmbriSignature(pattern, flag, SignatureForm::Interleaved).state,
                  SignatureState::None);
}

TEST(SignatureSearch, OnlyTrueColourPicturesCarryTheMarker)
{
    // Palette pictures are covered by the one-row check; a 16-bit picture has no colour table.
    const uint8_t lead[] = {101, 103, 105};
    Dib image = Dib::create(64, 64, 16);
    ASSERT_FALSE(image.isNull());
    std::memset(DibPixelStart(image), 1, DibRowStride(64, 16) * 64);
    std::memcpy(DibPixelStart(image), lead, 3);
    EXPECT_EQ(findOmbriSignature(image, false, SignatureForm::Interleaved).state,
              SignatureState::None);
    EXPECT_EQ(findOmbriSignature(Dib(), true, SignatureForm::Interleaved).state,
              SignatureState::None);
}

TEST(SignatureSearch, TheNotesOfATurnedCarrierLineUpWithThePictureAsItIs)
{
    const int32_t width = 13, height = 9;
    const NoteLayer notes = test::makePatternNotes(width, height);
    const Dib carrier =
        MakeCarrierCopy(test::makePatternImage(width, height, 24), notes, SaveDepth::Bits24);
    for (Orientation o : kAllOrientations) {
        std::optional<NoteLayer> extracted;
        ExtractNoteLayer(test::orientedCopy(carrier, o), extracted);
        ASSERT_TRUE(extracted);
        EXPECT_EQ(*extracted, test::orientedNotes(notes, width, height, o)) << orientationName(o);
    }
}

// Clearing leaves every carrier byte odd, the marker's included: without the marker's removal a
// cleared picture would still read as a carrier (with no notes) wherever its marker now lies.
TEST(SignatureSearch, ClearingTakesTheMarkerOutOfEveryCorner)
{
    for (Orientation o : kAllOrientations) {
        Dib image =
            test::orientedCopy(signedPicture(12, 10, 32, true, SignatureForm::Interleaved), o);
        const Dib before = image.clone();
        ClearCarrier(image);
        eraseOmbriSignatures(image);
        for (bool flag : {true, false})
            EXPECT_EQ(findOmbriSignature(image, flag, SignatureForm::Interleaved).state,
                      SignatureState::None)
                << orientationName(o);
        std::optional<NoteLayer> notes;
        ExtractNoteLayer(image, notes);
        EXPECT_EQ(countNotePixels(*notes), 0u);
        // Only the one green byte of the marker's first pixel moved, and by one.
        size_t moved = 0;
        for (size_t i = 0; i < image.size(); ++i) {
            const int change = int(image.data()[i]) - int(before.data()[i]);
            EXPECT_LE(std::abs(change), 1);
            moved += change == -1;
        }
        EXPECT_EQ(moved, 1u) << orientationName(o);
    }
}

} // namespace
} // namespace ombri
