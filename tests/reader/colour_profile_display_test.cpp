#include "formats/colour_profile.h"
#include "formats/tiff.h"
#include "notes/carrier.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/openable_reader_document.h"
#include "reader/thumbnails.h"
#include "support/colour_profiles.h"
#include "support/dib_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The largest difference between two pictures of the same layout, over every colour byte.
int largestDifference(const Dib& left, const Dib& right)
{
    const auto a = dibGetLayout(left);
    const auto b = dibGetLayout(right);
    if (!a || !b || a->width != b->width || a->height != b->height || a->bitCount != b->bitCount)
        return 256;
    int largest = 0;
    for (int32_t y = 0; y < a->height; ++y) {
        const uint8_t* l = test::pixelAt(left, 0, y);
        const uint8_t* r = test::pixelAt(right, 0, y);
        for (size_t at = 0; at < size_t(a->width) * (a->bitCount / 8u); ++at)
            largest = std::max(largest, std::abs(int(l[at]) - int(r[at])));
    }
    return largest;
}

class ColourProfileDisplayTest : public testing::Test {
  protected:
    ColourProfileDisplayTest() : m_savedDirectory(fs::current_path()) {}
    ~ColourProfileDisplayTest() override { fs::current_path(m_savedDirectory); }

    void SetUp() override
    {
        m_profile = test::adobeRgbProfile();
        ASSERT_FALSE(m_profile.empty())
            << test::kAdobeRgbProfilePath << " is missing (colord-data)";
    }

    std::string tagged(const std::string& name, const Dib& picture, const Bytes& profile)
    {
        const std::string path = m_dir.file(name);
        EXPECT_TRUE(test::writeTiffWithColourProfile(path, picture, profile));
        return path;
    }

    fs::path m_savedDirectory;
    Bytes m_profile;
    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    OpenableReaderDocument m_doc{m_prompt};
};

// lcms2's own tool applies the embedded profile with the same intent into its built-in sRGB.
TEST_F(ColourProfileDisplayTest, ShownAsTheColourEnginesOwnToolConvertsIt)
{
    if (std::system("command -v tificc >/dev/null 2>&1") != 0)
        FAIL() << "tificc is missing (liblcms2-utils)";
    const Dib picture = test::makeColourfulImage(67, 41);
    const std::string path = tagged("adobe.tif", picture, m_profile);
    const std::string converted = m_dir.file("srgb.tif");
    const std::string command = "tificc -t0 '-o*sRGB' '" + path + "' '" + converted + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    auto expected = ReadTiffFile(converted);
    ASSERT_TRUE(expected.ok()) << expected.error();

    ASSERT_TRUE(m_doc.OnOpenDocument(path));
    EXPECT_LE(largestDifference(m_doc.displaySource(), expected.value()), 2);
    // The conversion did change the picture: the comparison above says something.
    EXPECT_GT(largestDifference(picture, expected.value()), 10);
    // The picture itself is as stored, and is what is shown without a change of look.
    EXPECT_EQ(test::dibDifference(m_doc.image(), picture), "");
    EXPECT_EQ(m_doc.BuildDisplayImage(false), &m_doc.displaySource());
}

TEST_F(ColourProfileDisplayTest, AdjustedCopiesStartFromTheConvertedPicture)
{
    ASSERT_TRUE(
        m_doc.OnOpenDocument(tagged("adobe.tif", test::makeColourfulImage(20, 10), m_profile)));
    m_doc.onAdjustmentCommand(cmd::FlipHorizontal);
    const Dib* display = m_doc.BuildDisplayImage(false);
    ASSERT_NE(display, nullptr);
    const Dib& source = m_doc.displaySource();
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            const uint8_t* shown = test::pixelAt(*display, x, y);
            const uint8_t* from = test::pixelAt(source, 19 - x, y);
            ASSERT_TRUE(std::equal(shown, shown + 3, from)) << x << ", " << y;
        }
}

TEST_F(ColourProfileDisplayTest, NotesAreReadFromThePictureAsStored)
{
    const Dib picture = test::makeColourfulImage(40, 30);
    const NoteLayer notes = test::makePatternNotes(40, 30);
    Dib carrier = MakeCarrierCopy(picture, notes, SaveDepth::Bits24);
    WriteOmbriSignature(DibPixelStart(carrier) + 29 * dibGetLayout(carrier)->stride);
    const std::string plain = tagged("plain.tif", carrier, {});
    const std::string withProfile = tagged("adobe.tif", carrier, m_profile);

    ASSERT_TRUE(m_doc.OnOpenDocument(plain));
    ASSERT_TRUE(m_doc.noteLayer().has_value());
    const NoteLayer found = *m_doc.noteLayer();
    ASSERT_TRUE(m_doc.OnOpenDocument(withProfile));
    ASSERT_TRUE(m_doc.noteLayer().has_value());
    EXPECT_EQ(*m_doc.noteLayer(), found);
    EXPECT_EQ(test::dibDifference(m_doc.image(), carrier), "");
    EXPECT_NE(&m_doc.displaySource(), &m_doc.image());
}

TEST_F(ColourProfileDisplayTest, ABrokenProfileShowsThePictureAsStored)
{
    const Dib picture = test::makeColourfulImage(20, 10);
    const Bytes truncated(m_profile.begin(), m_profile.begin() + 200);
    Bytes garbage(m_profile.size());
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 131 + 7);
    for (const Bytes& broken : {truncated, garbage}) {
        ASSERT_TRUE(m_doc.OnOpenDocument(tagged("broken.tif", picture, broken)));
        EXPECT_EQ(&m_doc.displaySource(), &m_doc.image());
        EXPECT_EQ(test::dibDifference(m_doc.displaySource(), picture), "");
    }
}

TEST_F(ColourProfileDisplayTest, TheConvertedCopyGoesWithThePicture)
{
    ASSERT_TRUE(
        m_doc.OnOpenDocument(tagged("adobe.tif", test::makeColourfulImage(20, 10), m_profile)));
    ASSERT_NE(&m_doc.displaySource(), &m_doc.image());
    ASSERT_TRUE(m_doc.OnOpenDocument(tagged("plain.tif", test::makeColourfulImage(20, 10), {})));
    EXPECT_EQ(&m_doc.displaySource(), &m_doc.image());
    m_doc.DeleteContents();
    EXPECT_TRUE(m_doc.displaySource().isNull());
}

TEST_F(ColourProfileDisplayTest, TheDocumentOfTheCommandLineKeepsTheStoredColours)
{
    m_doc.setConvertsColours(false);
    ASSERT_TRUE(
        m_doc.OnOpenDocument(tagged("adobe.tif", test::makeColourfulImage(20, 10), m_profile)));
    EXPECT_EQ(&m_doc.displaySource(), &m_doc.image());
}

TEST_F(ColourProfileDisplayTest, ThumbnailsAreConvertedToo)
{
    // One flat colour, so that shrinking leaves it as it is.
    Dib flat = Dib::create(64, 48, 24);
    const auto layout = dibGetLayout(flat);
    for (int32_t y = 0; y < 48; ++y) {
        uint8_t* pixel = DibPixelStart(flat) + size_t(y) * layout->stride;
        for (int32_t x = 0; x < 64; ++x, pixel += 3) {
            pixel[0] = 60;
            pixel[1] = 160;
            pixel[2] = 100;
        }
    }
    const Dib expected = convertedToSrgb(flat, {m_profile.data(), m_profile.size()});
    ASSERT_FALSE(expected.isNull());
    const std::string root = m_dir.file("cache");
    auto thumbnail =
        makeThumbnail(root, tagged("flat.tif", flat, m_profile), ThumbnailSize::Normal);
    ASSERT_TRUE(thumbnail.ok()) << thumbnail.error();
    const uint8_t* shown = test::pixelAt(thumbnail.value(), 10, 10);
    const uint8_t* wanted = test::pixelAt(expected, 0, 0);
    for (int channel = 0; channel < 3; ++channel)
        EXPECT_NEAR(shown[channel], wanted[channel], 1) << channel;
}

} // namespace
} // namespace ombri::reader
