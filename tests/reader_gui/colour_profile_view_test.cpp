#include "reader/ui/image_view.h"

#include "formats/colour_profile.h"
#include "notes/carrier.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/openable_reader_document.h"
#include "support/colour_profiles.h"
#include "support/test_support.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

// One flat colour, so that the view shows it unchanged at any zoom, with notes in its bottom-left
// quarter (the note layer's rows run from the bottom).
Dib flatCarrier(int32_t width, int32_t height)
{
    Dib picture = Dib::create(width, height, 24);
    const auto layout = dibGetLayout(picture);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* pixel = DibPixelStart(picture) + size_t(y) * layout->stride;
        for (int32_t x = 0; x < width; ++x, pixel += 3) {
            pixel[0] = 60;
            pixel[1] = 160;
            pixel[2] = 100;
        }
    }
    NoteLayer notes(size_t(width) * height, 0);
    for (int32_t y = 0; y < height / 4; ++y)
        for (int32_t x = 0; x < width / 4; ++x)
            notes[size_t(y) * width + x] = 1;
    Dib carrier = MakeCarrierCopy(picture, notes, SaveDepth::Bits24);
    WriteOmbriSignature(DibPixelStart(carrier) + size_t(height - 1) * layout->stride);
    return carrier;
}

QRgb rgbOf(const uint8_t* bgr)
{
    return qRgb(bgr[2], bgr[1], bgr[0]) & 0xFFFFFFu;
}

class ColourProfileViewTest : public testing::Test {
  protected:
    ColourProfileViewTest() : m_savedDirectory(fs::current_path())
    {
        m_view.resize(400, 300);
        m_view.show();
        QApplication::processEvents();
    }
    ~ColourProfileViewTest() override { fs::current_path(m_savedDirectory); }

    QRgb shown(int x, int y) const { return m_view.inspect().frame.pixel(x, y) & 0xFFFFFFu; }

    fs::path m_savedDirectory;
    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    OpenableReaderDocument m_doc{m_prompt};
    ImageView m_view{m_doc};
};

TEST_F(ColourProfileViewTest, ThePictureIsShownInItsConvertedColoursWithItsNotes)
{
    const std::vector<uint8_t> profile = test::adobeRgbProfile();
    ASSERT_FALSE(profile.empty()) << test::kAdobeRgbProfilePath << " is missing (colord-data)";
    const Dib carrier = flatCarrier(200, 160);
    const std::string path = m_dir.file("adobe.tif");
    ASSERT_TRUE(test::writeTiffWithColourProfile(path, carrier, profile));
    const Dib converted = convertedToSrgb(carrier, {profile.data(), profile.size()});
    ASSERT_FALSE(converted.isNull());

    ASSERT_TRUE(m_doc.OpenImagePath(path));
    // Fit In at 1.875, the picture from (12, 0); the notes fill its bottom-left quarter.
    const QRgb plain = rgbOf(test::pixelAt(converted, 150, 150));
    ASSERT_NE(plain, rgbOf(test::pixelAt(carrier, 150, 150)));
    EXPECT_EQ(shown(300, 250), plain);
    EXPECT_EQ(shown(30, 20), plain);
    m_view.onCommand(cmd::DisplayNotes);
    EXPECT_EQ(shown(300, 250), plain);
    EXPECT_EQ(shown(30, 280), 0xFF0000u);
}

} // namespace
} // namespace ombri::reader
