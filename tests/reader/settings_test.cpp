#include "reader/settings.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

constexpr ColourRef kWhite = 0xFFFFFF;

std::string readText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test::readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(loadSettings, MissingOrUnreadableFileKeepsTheBuiltInColours)
{
    test::TempDir dir;
    EXPECT_FALSE(loadSettings(dir.file("setting.dat")));
    fs::create_directory(dir.file("setting.dat"));
    EXPECT_FALSE(loadSettings(dir.file("setting.dat")));
}

struct LoadCase {
    const char* name;
    std::string text;
    ReaderSettings expected;
};

class LoadSettingsText : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadSettingsText, GivesEachColourOnlyInItsPlace)
{
    test::TempDir dir;
    const std::string& text = GetParam().text;
    test::writeFileBytes(dir.file("setting.dat"), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(loadSettings(dir.file("setting.dat")), GetParam().expected);
}

const std::string kLongWord(100000, 'C');

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadSettingsText,
    testing::Values(
        LoadCase{"OnlyLeft", "ColorBKGLeft 255", {255, kWhite, kWhite}},
        LoadCase{"EmptyFileIsAllWhite", "", {kWhite, kWhite, kWhite}},
        // The misplaced keyword is used up in the middle's place and its number in the right's.
        LoadCase{"LeftRightMiddle",
                 "ColorBKGLeft\n1\nColorBKGRight\n2\nColorBKGMiddle\n3\n",
                 {1, kWhite, kWhite}},
        LoadCase{"MissingLeftShiftsTheRest",
                 "ColorBKGMiddle\n2\nColorBKGRight\n3\n",
                 {kWhite, kWhite, 3}},
        LoadCase{"GarbageNumberStopsTheReading",
                 "ColorBKGLeft\n1\nColorBKGMiddle\nblue\nColorBKGRight\n3\n",
                 {1, kWhite, kWhite}},
        LoadCase{"NumberBeyondThirtyTwoBitsStopsTheReading",
                 "ColorBKGLeft\n1\nColorBKGMiddle\n4294967296\nColorBKGRight\n3\n",
                 {1, kWhite, kWhite}},
        // A number ends at its first non-digit, which begins the next word.
        LoadCase{"NumberGluedToTheNextKeyword",
                 "ColorBKGLeft 1ColorBKGMiddle\t2\r\nColorBKGRight 4294967295",
                 {1, 2, 4294967295u}},
        LoadCase{"OverlongWordInTheLeftsPlace",
                 kLongWord + "\nColorBKGMiddle\n2\nColorBKGRight\n3\n",
                 {kWhite, 2, 3}},
        // Cutting a long word short must not let its first letters pass for a keyword.
        LoadCase{"OverlongWordBeginningWithAKeyword",
                 "ColorBKGLeft" + kLongWord + " 1 ColorBKGMiddle 2",
                 {kWhite, kWhite, kWhite}}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

TEST(saveSettings, WritesTheSixLinesThatLoadBack)
{
    test::TempDir dir;
    const std::string path = dir.file("setting.dat");
    test::writeFileBytes(path, std::vector<uint8_t>(4096, 'x'));
    const ReaderSettings colours{0x0000FF, 0xFFFFFF, 0xFF8080};
    ASSERT_TRUE(saveSettings(path, colours));
    EXPECT_EQ(readText(path),
              "ColorBKGLeft\n255\nColorBKGMiddle\n16777215\nColorBKGRight\n16744576\n");
    EXPECT_EQ(loadSettings(path), colours);
}

TEST(saveSettings, UnwritablePlaceFailsAndChangesNothing)
{
    test::TempDir dir;
    fs::create_directory(dir.file("setting.dat"));
    EXPECT_FALSE(saveSettings(dir.file("setting.dat"), {1, 2, 3}));
    EXPECT_TRUE(fs::is_directory(dir.file("setting.dat")));
    EXPECT_FALSE(saveSettings(dir.file("gone/setting.dat"), {1, 2, 3}));

    const std::string locked = dir.file("locked");
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    const bool enforced =
        !test::fileExists(locked + "/probe") && !std::ofstream(locked + "/probe").is_open();
    if (enforced) {
        EXPECT_FALSE(saveSettings(locked + "/setting.dat", {1, 2, 3}));
    }
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(fs::exists(locked + "/setting.dat"), false);
}

} // namespace
} // namespace ombri::reader
