#include "formats/colour_profile.h"

#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "support/colour_profiles.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

class EmbeddedProfileTest : public testing::Test {
  protected:
    void SetUp() override
    {
        m_profile = test::adobeRgbProfile();
        ASSERT_FALSE(m_profile.empty())
            << test::kAdobeRgbProfilePath << " is missing (colord-data)";
    }

    // The file written by our own writer, then given the profile as another program would.
    std::string pngWithProfile(const Bytes& profile)
    {
        const std::string plain = m_dir.file("plain.png");
        EXPECT_TRUE(test::succeeded(WritePngFile(plain, test::makeColourfulImage(9, 7))));
        const std::string path = m_dir.file("tagged.png");
        test::writeFileBytes(path, test::withPngColourProfile(test::readFileBytes(plain), profile));
        return path;
    }
    std::string jpegWithProfile(const Bytes& profile, size_t pieceBytes)
    {
        const std::string plain = m_dir.file("plain.jpg");
        EXPECT_TRUE(test::succeeded(WriteJpegFile(plain, test::makeColourfulImage(9, 7))));
        const std::string path = m_dir.file("tagged.jpg");
        test::writeFileBytes(
            path, test::withJpegColourProfile(test::readFileBytes(plain), profile, pieceBytes));
        return path;
    }
    std::string tiffWithProfile(const Bytes& profile)
    {
        const std::string path = m_dir.file("tagged.tif");
        EXPECT_TRUE(
            test::writeTiffWithColourProfile(path, test::makeColourfulImage(9, 7), profile));
        return path;
    }

    Bytes m_profile;
    test::TempDir m_dir;
};

TEST_F(EmbeddedProfileTest, EachFormatHandsOverTheProfileItEmbeds)
{
    const std::string paths[] = {pngWithProfile(m_profile), jpegWithProfile(m_profile, 65519),
                                 tiffWithProfile(m_profile)};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const LoadedImage loaded = loadCheckedImage(path);
        ASSERT_FALSE(loaded.image.isNull()) << loaded.error;
        EXPECT_EQ(loaded.colourProfile, m_profile);
    }
}

TEST_F(EmbeddedProfileTest, APictureWithoutAProfileHandsOverNone)
{
    const std::string plainTiff = m_dir.file("plain.tif");
    ASSERT_TRUE(test::writeTiffWithColourProfile(plainTiff, test::makeColourfulImage(9, 7), {}));
    const std::string plainPng = m_dir.file("plain.png");
    ASSERT_TRUE(test::succeeded(WritePngFile(plainPng, test::makeColourfulImage(9, 7))));
    const std::string plainJpeg = m_dir.file("plain.jpg");
    ASSERT_TRUE(test::succeeded(WriteJpegFile(plainJpeg, test::makeColourfulImage(9, 7))));
    for (const std::string& path : {plainTiff, plainPng, plainJpeg}) {
        const LoadedImage loaded = loadCheckedImage(path);
        ASSERT_FALSE(loaded.image.isNull()) << path;
        EXPECT_TRUE(loaded.colourProfile.empty()) << path;
    }
}

TEST_F(EmbeddedProfileTest, AJpegProfileSpreadOverSeveralMarkersIsJoined)
{
    const LoadedImage loaded = loadCheckedImage(jpegWithProfile(m_profile, 5000));
    ASSERT_FALSE(loaded.image.isNull());
    EXPECT_EQ(loaded.colourProfile, m_profile);

    // The thumbnail decode hands it over too.
    auto thumbnail = readJpegForThumbnail(m_dir.file("tagged.jpg"), 4);
    ASSERT_TRUE(thumbnail.ok());
    EXPECT_EQ(thumbnail.value().colourProfile, m_profile);
}

TEST_F(EmbeddedProfileTest, AJpegProfileWithAMissingPieceIsPassedOver)
{
    const std::string path = jpegWithProfile(m_profile, 5000);
    Bytes bytes = test::readFileBytes(path);
    // The second marker's sequence number says 1 again, so the pieces cannot be put together.
    const size_t second = 2 + (4 + 12 + 2 + 5000);
    ASSERT_EQ(bytes[second + 1], 0xE2);
    ASSERT_EQ(bytes[second + 4 + 12], 2);
    bytes[second + 4 + 12] = 1;
    test::writeFileBytes(path, bytes);
    const LoadedImage loaded = loadCheckedImage(path);
    ASSERT_FALSE(loaded.image.isNull());
    EXPECT_TRUE(loaded.colourProfile.empty());
}

TEST_F(EmbeddedProfileTest, AProfileOverTheLimitIsPassedOver)
{
    Bytes huge(kMaxColourProfileBytes + 1, 0x55);
    const LoadedImage loaded = loadCheckedImage(tiffWithProfile(huge));
    ASSERT_FALSE(loaded.image.isNull());
    EXPECT_TRUE(loaded.colourProfile.empty());
}

TEST_F(EmbeddedProfileTest, TheDescriptionIsTheProfilesOwnName)
{
    EXPECT_EQ(colourProfileDescription({m_profile.data(), m_profile.size()}),
              test::kAdobeRgbDescription);
}

// Converted from Adobe RGB, whose primaries lie further out, a muted colour comes out with its
// channels further apart; grey stays grey.
TEST_F(EmbeddedProfileTest, ConversionChangesTheColoursAndKeepsTheFourthByte)
{
    Dib picture = Dib::create(2, 1, 32);
    uint8_t* pixels = picture.data() + dibGetLayout(picture)->pixelOffset;
    const uint8_t stored[8] = {60, 160, 100, 17, 128, 128, 128, 254}; // blue, green, red, fourth
    std::copy(stored, stored + 8, pixels);
    const Dib converted = convertedToSrgb(picture, {m_profile.data(), m_profile.size()});
    ASSERT_FALSE(converted.isNull());
    const uint8_t* shown = converted.data() + dibGetLayout(converted)->pixelOffset;
    const auto [least, most] = std::minmax({shown[0], shown[1], shown[2]});
    EXPECT_GT(most - least, 160 - 60 + 10)
        << int(shown[0]) << ' ' << int(shown[1]) << ' ' << int(shown[2]);
    EXPECT_EQ(shown[3], 17);
    EXPECT_NEAR(shown[4], shown[5], 1);
    EXPECT_NEAR(shown[5], shown[6], 1);
    EXPECT_EQ(shown[7], 254);
    // The picture itself is left as it was.
    EXPECT_TRUE(std::equal(stored, stored + 8, pixels));
}

// A large picture is converted in bands on several threads; each row must come out as it does
// alone.
TEST_F(EmbeddedProfileTest, EveryRowOfALargePictureIsConvertedOnce)
{
    const int32_t width = 1600, height = 1900; // over 8 MiB: more than one band
    const Dib picture = test::makeColourfulImage(width, height);
    const ByteView profile{m_profile.data(), m_profile.size()};
    const Dib converted = convertedToSrgb(picture, profile);
    ASSERT_FALSE(converted.isNull());
    for (int32_t y : {0, 1, height / 2 - 1, height / 2, height / 2 + 1, height - 1}) {
        Dib row = Dib::create(width, 1, 24);
        std::copy(test::pixelAt(picture, 0, y), test::pixelAt(picture, 0, y) + width * 3,
                  DibPixelStart(row));
        const Dib alone = convertedToSrgb(row, profile);
        ASSERT_FALSE(alone.isNull());
        EXPECT_TRUE(std::equal(DibPixelStart(alone), DibPixelStart(alone) + width * 3,
                               test::pixelAt(converted, 0, y)))
            << "row " << y;
    }
}

TEST_F(EmbeddedProfileTest, BrokenProfilesGiveNoNameAndNoConversion)
{
    const Dib picture = test::makeColourfulImage(5, 3);
    Bytes garbage(600);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    const Bytes truncated(m_profile.begin(), m_profile.begin() + 300);
    const Bytes headerOnly(m_profile.begin(), m_profile.begin() + 128);
    int which = 0;
    for (const Bytes& broken : {garbage, truncated, headerOnly, Bytes{}}) {
        SCOPED_TRACE(which++);
        const ByteView view{broken.data(), broken.size()};
        EXPECT_EQ(colourProfileDescription(view), "");
        EXPECT_TRUE(convertedToSrgb(picture, view).isNull());
    }
}

// The tag table follows the 128-byte header: a count, then signature, offset and size of each.
size_t tagEntry(const Bytes& profile, const char* signature)
{
    for (size_t at = 132; at + 12 <= profile.size() && at < 132 + 12 * 64; at += 12)
        if (std::equal(signature, signature + 4, profile.begin() + static_cast<ptrdiff_t>(at)))
            return at;
    return 0;
}

TEST_F(EmbeddedProfileTest, ATagPointingPastTheEndSpoilsOnlyWhatNeedsIt)
{
    const Dib picture = test::makeColourfulImage(5, 3);
    Bytes badColours = m_profile;
    const size_t red = tagEntry(badColours, "rXYZ");
    ASSERT_NE(red, 0u);
    badColours[red + 4] = 0x7F;
    EXPECT_EQ(colourProfileDescription({badColours.data(), badColours.size()}),
              test::kAdobeRgbDescription);
    EXPECT_TRUE(convertedToSrgb(picture, {badColours.data(), badColours.size()}).isNull());

    Bytes badName = m_profile;
    const size_t name = tagEntry(badName, "desc");
    ASSERT_NE(name, 0u);
    badName[name + 4] = 0x7F;
    EXPECT_EQ(colourProfileDescription({badName.data(), badName.size()}), "");
    EXPECT_FALSE(convertedToSrgb(picture, {badName.data(), badName.size()}).isNull());
}

// Converting from a profile of sRGB itself would change nothing; the picture is shown as stored,
// without a copy. Another program's sRGB profile rounds a little differently from lcms2's own.
TEST_F(EmbeddedProfileTest, AnSrgbProfileGivesNoConversion)
{
    const Bytes srgb = test::readFileBytes("/usr/share/color/icc/colord/sRGB.icc");
    ASSERT_FALSE(srgb.empty());
    EXPECT_EQ(colourProfileDescription({srgb.data(), srgb.size()}), "sRGB");
    for (uint16_t bitCount : {24, 32}) {
        const Dib picture = test::makePatternImage(30, 20, bitCount);
        EXPECT_TRUE(convertedToSrgb(picture, {srgb.data(), srgb.size()}).isNull()) << bitCount;
        EXPECT_FALSE(convertedToSrgb(picture, {m_profile.data(), m_profile.size()}).isNull());
    }
}

TEST_F(EmbeddedProfileTest, OnlyTrueColourPicturesAreConverted)
{
    const Dib grey = Dib::create(4, 4, 8);
    EXPECT_TRUE(convertedToSrgb(grey, {m_profile.data(), m_profile.size()}).isNull());
    EXPECT_TRUE(convertedToSrgb(Dib(), {m_profile.data(), m_profile.size()}).isNull());
}

} // namespace
} // namespace ombri
