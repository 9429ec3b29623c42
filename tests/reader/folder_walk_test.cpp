#include "reader/folder_walk.h"

#include "formats/format_table.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

TEST(IsImageFileName, SteppedKindsInAnyCase)
{
    struct Case {
        const char* name;
        bool expected;
    };
    const Case cases[] = {
        {"a.jpg", true},      {"a.JPG", true},        {"a.Jpg", true},  {"a.png", true},
        {"a.PNG", true},      {"a.rgb", true},        {"a.bmp", true},  {"a.cin", true},
        {"a.DPX", true},      {"a.tif", true},        {"a.tiff", true}, {"a.TIFF", true},
        {"a.Tif", true},      {"a.jpeg", true},       {"a.gif", false}, {"a.pcx", false},
        {"jpg", false},       {"a.", false},          {"", false},      {".png", true},
        {"a.png.txt", false}, {"notes.v2.bmp", true}, {"a.webp", true}, {"a.WebP", true},
        {"a.avif", true},     {"a.HEIC", true},       {"a.heif", true}, {"a.JXL", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsImageFileName(c.name), c.expected) << c.name;
}

// The stepping list is the table's: a format's row alone decides, for each of its spellings.
TEST(IsImageFileName, FollowsEachFormatsRow)
{
    for (const ImageFormat* format : imageFormats()) {
        for (const auto& extension : extensionsOf(*format)) {
            std::string capital = extension;
            for (char& c : capital)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (const std::string& name : {"a." + extension, "a." + capital})
                EXPECT_EQ(IsImageFileName(name), format->stepping == Stepping::Stepped) << name;
        }
    }
}

TEST(folderOfPath, TextBeforeTheLastSlash)
{
    EXPECT_EQ(folderOfPath("/home/u/a.png"), std::optional<std::string>("/home/u"));
    EXPECT_EQ(folderOfPath("/a.png"), std::optional<std::string>(""));
    EXPECT_EQ(folderOfPath("a.png"), std::nullopt);
    EXPECT_EQ(joinPath("", "a.png"), "/a.png");
}

TEST(absolutePath, ResolvesAgainstTheCurrentFolder)
{
    const auto here = std::filesystem::current_path().string();
    EXPECT_EQ(absolutePath("x/./y.png"), here + "/x/y.png");
    EXPECT_EQ(absolutePath("/a/b/../c.png"), "/a/c.png");
}

TEST(ListFolder, SortedWithoutRegardToCaseFoldersMarked)
{
    test::TempDir dir;
    for (const char* name : {"b.jpg", "a.png", "C.gif", "B.png", ".hidden.png"})
        test::writeFileBytes(dir.file(name), {0});
    std::filesystem::create_directory(dir.file("d.png"));

    const auto entries = ListFolder(dir.path());
    ASSERT_TRUE(entries);
    std::vector<std::string> names;
    for (const auto& entry : *entries) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.isFolder, entry.name == "d.png") << entry.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{".hidden.png", "a.png", "b.jpg", "B.png", "C.gif",
                                               "d.png"}));
}

TEST(ListFolder, MissingFolderGivesNothing)
{
    test::TempDir dir;
    EXPECT_FALSE(ListFolder(dir.file("gone")));
}

// Entries in listing order, separated by blanks; a trailing "/" marks a folder.
std::vector<FolderEntry> entries(const std::string& listing)
{
    std::vector<FolderEntry> result;
    std::istringstream names(listing);
    for (std::string name; names >> name;) {
        const bool isFolder = name.back() == '/';
        result.push_back({isFolder ? name.substr(0, name.size() - 1) : name, isFolder});
    }
    return result;
}

std::optional<std::string> inPics(const char* name)
{
    return *name ? std::optional<std::string>(std::string("/pics/") + name) : std::nullopt;
}

TEST(FolderWalk, NeighboursPreviousAndNext)
{
    struct Case {
        const char* listing;
        const char* current;
        bool atFirst, atLast;
        const char* previous; // "" for none
        const char* next;
    };
    const Case cases[] = {
        {"a.png b.jpg c.gif", "b.jpg", false, true, "a.png", ""}, // a GIF is not stepped to
        // Regression: the first entry used to be skipped as if it were ".", so a folder's
        // first picture could never be reached.
        {"a.png b.png", "b.png", false, true, "a.png", ""},
        {"a.png b.png", "a.png", true, false, "", "b.png"},
        {"a.txt b.png c.png/ d.doc e.TIF", "b.png", true, false, "", "e.TIF"},
        {"a.png b.png c.txt d.bmp", "d.bmp", false, true, "b.png", ""},
        {"a.txt only.png", "only.png", true, true, "", ""},
        {"a.png b.png", "B.png", false, true, "b.png", ""}, // matches no entry: case counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.listing) + ", at " + c.current);
        const auto listed = entries(c.listing);
        const std::string current = *inPics(c.current);
        const NeighbourFlags flags = findNeighbourFlags("/pics", listed, current);
        EXPECT_EQ(flags.atFirst, c.atFirst);
        EXPECT_EQ(flags.atLast, c.atLast);
        EXPECT_EQ(findPreviousImagePath("/pics", listed, current), inPics(c.previous));
        EXPECT_EQ(findNextImagePath("/pics", listed, current), inPics(c.next));
    }
}

TEST(FolderWalk, PicturesInTheRootFolder)
{
    const auto listed = entries("a.png b.png");
    EXPECT_EQ(findNextImagePath("", listed, "/a.png"), std::optional<std::string>("/b.png"));
    EXPECT_EQ(findPreviousImagePath("", listed, "/b.png"), std::optional<std::string>("/a.png"));
}

} // namespace
} // namespace ombri::reader
