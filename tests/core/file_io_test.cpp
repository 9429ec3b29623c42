#include "core/file_io.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace ombri {
namespace {

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};

TEST(AtomicFile, CommitReplacesTargetAndKeepsItsPermissions)
{
    test::TempDir dir;
    const std::string target = dir.file("picture.bmp");
    test::writeFileBytes(target, kOld);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    {
        AtomicFile file(target);
        ASSERT_TRUE(file.open()) << file.error();
        ASSERT_TRUE(file.write("new bytes", 9));
        // Until the commit the old file is still what the target holds.
        EXPECT_EQ(test::readFileBytes(target), kOld);
        ASSERT_TRUE(file.commit()) << file.error();
    }
    const auto bytes = test::readFileBytes(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new bytes");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"picture.bmp"});
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(AtomicFile, AbandonedSaveLeavesTargetAndNoTemporaryFile)
{
    test::TempDir dir;
    const std::string target = dir.file("picture.png");
    test::writeFileBytes(target, kOld);
    {
        AtomicFile file(target);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write("half", 4));
    }
    EXPECT_EQ(test::readFileBytes(target), kOld);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"picture.png"});

    { // abandoned before anything existed: no target appears
        AtomicFile file(dir.file("new.png"));
        ASSERT_TRUE(file.open());
    }
    EXPECT_FALSE(test::fileExists(dir.file("new.png")));
}

TEST(AtomicFile, FailsWithReasonWhenTheFolderCannotTakeTheFile)
{
    test::TempDir dir;
    AtomicFile missingFolder(dir.file("no-such-folder/picture.bmp"));
    EXPECT_FALSE(missingFolder.open());
    EXPECT_FALSE(missingFolder.error().empty());
    EXPECT_FALSE(missingFolder.write("x", 1));
    EXPECT_FALSE(missingFolder.commit());

    // A folder in the way of the target: the rename fails and nothing is left behind.
    std::filesystem::create_directory(dir.file("taken.bmp"));
    {
        AtomicFile folderTarget(dir.file("taken.bmp"));
        ASSERT_TRUE(folderTarget.open());
        EXPECT_FALSE(folderTarget.commit());
        EXPECT_FALSE(folderTarget.error().empty());
    }
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"taken.bmp"});
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.bmp")));
}

} // namespace
} // namespace ombri
