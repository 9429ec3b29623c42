#include "cli_fixture.h"
#include "support/colour_profiles.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombri::cli {
namespace {

using namespace test_cli;

// A carrier with notes, and the same file with colord's Adobe RGB profile embedded as another
// program would embed it.
class CliColourProfileTest : public CliFilesTest {
  protected:
    void SetUp() override
    {
        m_profile = test::adobeRgbProfile();
        ASSERT_FALSE(m_profile.empty())
            << test::kAdobeRgbProfilePath << " is missing (colord-data)";
        m_plain = notedPicture("noted.png", 5);
        m_tagged = file("tagged.png");
        test::writeFileBytes(m_tagged,
                             test::withPngColourProfile(test::readFileBytes(m_plain), m_profile));
    }

    std::vector<uint8_t> m_profile;
    std::string m_plain;
    std::string m_tagged;
};

TEST_F(CliColourProfileTest, InfoNamesTheProfileAfterTheFormatLines)
{
    const RunResult result = ombri({"info", m_tagged});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out,
              "file: " + m_tagged +
                  "\nformat: PNG\nsize: 47x33\nbits: 32\n"
                  "profile: Compatible with Adobe RGB (1998)\nnotes: yes\nnote-pixels: " +
                  std::to_string(countNotePixels(roundTripNotes(5))) +
                  "\nsignature: intact\ncarrier: alpha\norientation: normal\n");

    const RunResult json = ombri({"info", "--json", m_tagged});
    const std::string keys = "\"bits\":32,\"profile\":\"Compatible with Adobe RGB (1998)\",";
    EXPECT_NE(json.out.find(keys + "\"notes\":true"), std::string::npos) << json.out;
    EXPECT_EQ(ombri({"info", "--json", m_plain}).out.find("profile"), std::string::npos);
}

TEST_F(CliColourProfileTest, NotesAndRenderingKeepTheStoredColours)
{
    ASSERT_EQ(ombri({"notes", m_plain, "-o", file("plain-notes.png")}).code, 0);
    ASSERT_EQ(ombri({"notes", m_tagged, "-o", file("tagged-notes.png")}).code, 0);
    EXPECT_EQ(test::readFileBytes(file("tagged-notes.png")),
              test::readFileBytes(file("plain-notes.png")));

    for (const char* hide : {"", "--hide-notes"}) {
        SCOPED_TRACE(hide);
        std::vector<std::string> plain = {"render", m_plain, "-o", file("plain-render.png")};
        std::vector<std::string> tagged = {"render", m_tagged, "-o", file("tagged-render.png")};
        if (*hide) {
            plain.push_back(hide);
            tagged.push_back(hide);
        }
        ASSERT_EQ(ombri(plain).code, 0);
        ASSERT_EQ(ombri(tagged).code, 0);
        EXPECT_EQ(test::readFileBytes(file("tagged-render.png")),
                  test::readFileBytes(file("plain-render.png")));
    }
}

} // namespace
} // namespace ombri::cli
