// Outputs that a save must not replace are refused with exit 4 and nothing written; a file the
// user may write in a folder that takes no new file is saved in place.

#include "cli_fixture.h"
#include "support/other_user.h"
#include "support/stopped_save.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace ombri::cli {
namespace {

using namespace test_cli;
using test::checkInChild;
using test::RunAs;

class CliRefusedSaveTest : public CliFilesTest {
  protected:
    // Runs ombri in a child process as `who`: empty when it exits with `exit` and its messages
    // hold `message`, else what it did instead.
    std::string expectRun(RunAs who, const std::vector<std::string>& arguments, Exit exit,
                          const std::string& message)
    {
        return checkInChild(
            who,
            [&] {
                const RunResult result = ombri(arguments);
                if (result.code == code(exit) && result.err.find(message) != std::string::npos)
                    return std::string();
                return "exit " + std::to_string(result.code) + ": " + result.err;
            },
            30);
    }
};

TEST_F(CliRefusedSaveTest, AFifoIsNotWrittenTo)
{
    const std::string noted = notedPicture("noted.png", 4), fifo = file("fifo.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_symlink("fifo.png", file("link.png"));
    // Opened to write, the FIFO would hold ombri until a reader came: the run is stopped instead.
    for (const std::string& target : {fifo, file("link.png")})
        EXPECT_EQ(expectRun(RunAs::Self, {"convert", noted, target}, Exit::WriteFailed,
                            "cannot write '" + target + "': " + fifo + " is not a regular file"),
                  "");
    struct stat entry {};
    ASSERT_EQ(::lstat(fifo.c_str(), &entry), 0);
    EXPECT_TRUE(S_ISFIFO(entry.st_mode));
    for (const auto& found : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(found.path().filename().string().find(".ombri-save-"), std::string::npos);
}

TEST_F(CliRefusedSaveTest, AReadOnlyFileIsNotReplaced)
{
    const std::string noted = notedPicture("noted.png", 4);
    const std::string folder = test::folderForOtherUser(m_dir.path(), "own");
    const std::string target = folder + "/read-only.png";
    test::writeFileBytes(target, {'o', 'l', 'd'});
    test::giveToOtherUser(target);
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    EXPECT_EQ(expectRun(RunAs::OtherUser, {"convert", noted, target}, Exit::WriteFailed,
                        "cannot write '" + target + "': Permission denied\n"),
              "");
    EXPECT_EQ(test::readFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(test::folderEntries(folder), std::vector<std::string>{"read-only.png"});
}

TEST_F(CliRefusedSaveTest, AWritableFileInAFolderThatTakesNoNewFileIsSavedInPlace)
{
    const std::string noted = notedPicture("noted.png", 4);
    const std::string folder = test::folderForOtherUser(m_dir.path(), "locked");
    const std::string target = folder + "/picture.png";
    test::writeFileBytes(target, {'o', 'l', 'd'});
    test::giveToOtherUser(target);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string failures =
        expectRun(RunAs::OtherUser, {"convert", noted, target}, Exit::Done, "");
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(failures, "");
    EXPECT_EQ(notesIn(target), notesIn(noted));
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(test::folderEntries(folder), std::vector<std::string>{"picture.png"});
}

} // namespace
} // namespace ombri::cli
