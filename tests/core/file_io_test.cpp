#include "core/file_io.h"
#include "support/stopped_save.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ombri {
namespace {

using test::folderEntries;
using test::SavePath;
using test::SavePathScope;

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};

bool isHidden(const std::string& name)
{
    return name.rfind(".ombri-save-", 0) == 0;
}

mode_t modeOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Both ways a save can go: the unnamed file, and the named one of file systems without them.
class AtomicFileOnEachPath : public testing::TestWithParam<SavePath> {
  protected:
    SavePathScope m_path{GetParam()};
    test::TempDir m_dir;
};

TEST_P(AtomicFileOnEachPath, CommitReplacesTargetAndKeepsItsPermissions)
{
    const std::string target = m_dir.file("picture.bmp");
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
    EXPECT_EQ(folderEntries(m_dir.path()), std::vector<std::string>{"picture.bmp"});
    EXPECT_EQ(modeOf(target), 0640u);

    // A new file gets what a plain create gives under the process's mask.
    const mode_t mask = ::umask(027);
    {
        AtomicFile file(m_dir.file("new.bmp"));
        EXPECT_TRUE(file.open() && file.write("x", 1) && file.commit()) << file.error();
    }
    ::umask(mask);
    EXPECT_EQ(modeOf(m_dir.file("new.bmp")), 0640u);
}

TEST_P(AtomicFileOnEachPath, NothingIsNamedBesideTheTargetBeforeTheFileIsComplete)
{
    const bool unnamed = GetParam() == SavePath::Unnamed;
    if (unnamed && !test::unnamedFilesWork(m_dir.path()))
        GTEST_SKIP() << "the file system of " << m_dir.path() << " makes no unnamed files";
    const std::string target = m_dir.file("picture.png");
    test::writeFileBytes(target, kOld);
    AtomicFile file(target);
    ASSERT_TRUE(file.open()) << file.error();
    ASSERT_TRUE(file.write("half", 4));
    EXPECT_EQ(file.unnamed(), unnamed);
    const auto during = folderEntries(m_dir.path());
    if (unnamed) {
        EXPECT_EQ(during, std::vector<std::string>{"picture.png"});
    } else {
        ASSERT_EQ(during.size(), 2u);
        EXPECT_TRUE(isHidden(during[0])) << during[0];
    }
    ASSERT_TRUE(file.commit()) << file.error();
    EXPECT_EQ(folderEntries(m_dir.path()), std::vector<std::string>{"picture.png"});
}

TEST_P(AtomicFileOnEachPath, AbandonedSaveLeavesTargetAndNoOtherFile)
{
    const std::string target = m_dir.file("picture.png");
    test::writeFileBytes(target, kOld);
    {
        AtomicFile file(target);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write("half", 4));
    }
    EXPECT_EQ(test::readFileBytes(target), kOld);
    EXPECT_EQ(folderEntries(m_dir.path()), std::vector<std::string>{"picture.png"});

    { // abandoned before anything existed: no target appears
        AtomicFile file(m_dir.file("new.png"));
        ASSERT_TRUE(file.open());
    }
    EXPECT_FALSE(test::fileExists(m_dir.file("new.png")));
}

TEST_P(AtomicFileOnEachPath, SymbolicLinkIsWrittenThroughAndStays)
{
    std::filesystem::create_directory(m_dir.file("pictures"));
    const std::string real = m_dir.file("pictures/photo.png");
    test::writeFileBytes(real, kOld);
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0);
    // A relative link, and a link to that link: both lead to the same file.
    std::filesystem::create_symlink("pictures/photo.png", m_dir.file("link.png"));
    std::filesystem::create_symlink(m_dir.file("link.png"), m_dir.file("second.png"));
    for (const char* name : {"link.png", "second.png"}) {
        AtomicFile file(m_dir.file(name));
        ASSERT_TRUE(file.open()) << file.error();
        ASSERT_TRUE(file.write(name, std::strlen(name)));
        ASSERT_TRUE(file.commit()) << file.error();
        EXPECT_TRUE(std::filesystem::is_symlink(m_dir.file(name))) << name;
        const auto bytes = test::readFileBytes(real);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), name);
    }
    EXPECT_EQ(modeOf(real), 0604u);
    EXPECT_EQ(folderEntries(m_dir.file("pictures")), std::vector<std::string>{"photo.png"});

    // A link to a file not yet there makes the file it names.
    std::filesystem::create_symlink("pictures/later.png", m_dir.file("later.png"));
    AtomicFile later(m_dir.file("later.png"));
    ASSERT_TRUE(later.open() && later.write("x", 1) && later.commit()) << later.error();
    EXPECT_TRUE(std::filesystem::is_symlink(m_dir.file("later.png")));
    EXPECT_EQ(test::readFileBytes(m_dir.file("pictures/later.png")), std::vector<uint8_t>{'x'});

    std::filesystem::create_symlink("loop.png", m_dir.file("loop.png"));
    AtomicFile loop(m_dir.file("loop.png"));
    EXPECT_FALSE(loop.open());
    EXPECT_FALSE(loop.error().empty());
}

// An entry of a folder the program keeps for itself: whatever was planted under the name is
// replaced, and the file it pointed to is never touched.
TEST_P(AtomicFileOnEachPath, AnEntryReplacesWhatIsPlantedUnderItsName)
{
    const std::string victim = m_dir.file("victim.txt");
    test::writeFileBytes(victim, kOld);
    ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    std::filesystem::create_directory(m_dir.file("cache"));
    std::filesystem::create_symlink(victim, m_dir.file("cache/link.png"));
    ASSERT_EQ(::mkfifo(m_dir.file("cache/fifo.png").c_str(), 0600), 0);
    const int folder = ::open(m_dir.file("cache").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    for (const char* name : {"link.png", "fifo.png", "new.png"}) {
        AtomicFile file(folder, name, 0600);
        ASSERT_TRUE(file.open()) << file.error();
        ASSERT_TRUE(file.write(name, std::strlen(name)));
        ASSERT_TRUE(file.commit()) << file.error();
        struct stat made {};
        ASSERT_EQ(::lstat(m_dir.file(std::string("cache/") + name).c_str(), &made), 0);
        EXPECT_TRUE(S_ISREG(made.st_mode)) << name;
        EXPECT_EQ(made.st_mode & 07777, 0600u) << name;
    }
    AtomicFile outside(folder, "../escape.png", 0600);
    EXPECT_FALSE(outside.open());
    ::close(folder);
    EXPECT_EQ(test::readFileBytes(victim), kOld);
    EXPECT_EQ(modeOf(victim), 0644u);
    EXPECT_FALSE(test::fileExists(m_dir.file("escape.png")));
}

INSTANTIATE_TEST_SUITE_P(Paths, AtomicFileOnEachPath,
                         testing::Values(SavePath::Unnamed, SavePath::Named),
                         [](const testing::TestParamInfo<SavePath>& info) {
                             return info.param == SavePath::Unnamed ? "Unnamed" : "Named";
                         });

TEST(AtomicFile, UnnamedFilesAreUsedOnMemoryFileSystemsToo)
{
    if (!std::filesystem::is_directory("/dev/shm") || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm";
    SavePathScope unnamed(SavePath::Unnamed);
    const std::string target = "/dev/shm/ombri-atomic-" + std::to_string(::getpid()) + ".png";
    {
        AtomicFile file(target);
        ASSERT_TRUE(file.open()) << file.error();
        EXPECT_EQ(file.unnamed(), test::unnamedFilesWork("/dev/shm"));
        ASSERT_TRUE(file.write("tmpfs", 5) && file.commit()) << file.error();
    }
    EXPECT_EQ(test::readFileBytes(target).size(), 5u);
    ::unlink(target.c_str());
}

TEST(AtomicFile, FailsWithReasonWhenTheFolderCannotTakeTheFile)
{
    test::TempDir dir;
    AtomicFile missingFolder(dir.file("no-such-folder/picture.bmp"));
    EXPECT_FALSE(missingFolder.open());
    EXPECT_FALSE(missingFolder.error().empty());
    EXPECT_FALSE(missingFolder.write("x", 1));
    EXPECT_FALSE(missingFolder.commit());

    // A folder in the way of the target is refused before anything is made.
    std::filesystem::create_directory(dir.file("taken.bmp"));
    for (SavePath path : {SavePath::Unnamed, SavePath::Named}) {
        SavePathScope scope(path);
        AtomicFile folderTarget(dir.file("taken.bmp"));
        EXPECT_FALSE(folderTarget.open());
        EXPECT_EQ(folderTarget.error(), dir.file("taken.bmp") + " is not a regular file");
        EXPECT_FALSE(folderTarget.commit());
    }
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"taken.bmp"});
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.bmp")));
}

// --- Saves stopped by a signal ---

struct StopCase {
    SavePath path;
    SavePoint point;
    int signal;
    const char* name;
};

void PrintTo(const StopCase& c, std::ostream* out)
{
    *out << c.name;
}

class StoppedSave : public testing::TestWithParam<StopCase> {};


TEST_P(StoppedSave, LeavesTheOldFileAndNothingBesideIt)
{
    const StopCase c = GetParam();
    test::TempDir dir;
    if (c.path == SavePath::Unnamed && !test::unnamedFilesWork(dir.path()))
        GTEST_SKIP() << "the file system of " << dir.path() << " makes no unnamed files";
    const std::string target = dir.file("picture.png");
    test::writeFileBytes(target, kOld);
    const auto stopped =
        test::stopSaveWithSignal(c.point, c.signal, c.path, [&] { test::saveLargeFile(target); });
    ASSERT_TRUE(stopped.reachedPoint);
    EXPECT_TRUE(stopped.endedBySignal);
    EXPECT_EQ(test::readFileBytes(target), kOld);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"picture.png"});
}

INSTANTIATE_TEST_SUITE_P(
    PointsAndSignals, StoppedSave,
    testing::Values(
        StopCase{SavePath::Unnamed, SavePoint::Writing, SIGTERM, "UnnamedWritingTerm"},
        StopCase{SavePath::Unnamed, SavePoint::Writing, SIGINT, "UnnamedWritingInt"},
        // Between the link and the rename the complete file has a name: the signal removes it.
        StopCase{SavePath::Unnamed, SavePoint::Linked, SIGTERM, "UnnamedLinkedTerm"},
        StopCase{SavePath::Unnamed, SavePoint::Linked, SIGINT, "UnnamedLinkedInt"},
        StopCase{SavePath::Named, SavePoint::Created, SIGHUP, "NamedCreatedHup"},
        StopCase{SavePath::Named, SavePoint::Writing, SIGTERM, "NamedWritingTerm"},
        StopCase{SavePath::Named, SavePoint::Writing, SIGINT, "NamedWritingInt"},
        StopCase{SavePath::Named, SavePoint::Complete, SIGTERM, "NamedCompleteTerm"},
        StopCase{SavePath::Named, SavePoint::Complete, SIGINT, "NamedCompleteInt"}),
    [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST(StoppedSave, ASignalAfterTheSaveIsTheProgramsOwnAgain)
{
    // Once no hidden file is left, SIGTERM is back to its default action: no handler of the save
    // stays behind to run on a signal meant for the program.
    test::TempDir dir;
    {
        SavePathScope named(SavePath::Named);
        AtomicFile file(dir.file("a.png"));
        ASSERT_TRUE(file.open() && file.write("x", 1) && file.commit());
    }
    struct sigaction current {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

} // namespace
} // namespace ombri
