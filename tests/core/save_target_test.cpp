// What a save refuses to replace, what it keeps of the file it replaces, and the saves that write
// into the old file in place.

#include "core/file_io.h"
#include "support/other_user.h"
#include "support/small_disk.h"
#include "support/stopped_save.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace ombri {
namespace {

using test::checkInChild;
using test::folderEntries;
using test::RunAs;
using test::SavePath;
using test::SavePathScope;
using Names = std::vector<std::string>;

std::string contentOf(const std::string& path)
{
    const auto bytes = test::readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeText(const std::string& path, const std::string& text)
{
    test::writeFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

struct stat entryOf(const std::string& path)
{
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// Saves the text as every writer does: empty when it worked, else the reason.
std::string save(const std::string& target, const std::string& text, bool* inPlace = nullptr)
{
    AtomicFile file(target);
    const bool saved = file.open() && file.write(text.data(), text.size()) && file.commit();
    if (inPlace)
        *inPlace = file.inPlace();
    if (saved)
        return {};
    return file.error().empty() ? "failed without a reason" : file.error();
}

// For checks made in a child process: what differs, or nothing.
std::string differs(const std::string& what, const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return {};
    return what + ": \"" + actual + "\" where \"" + expected + "\" was expected\n";
}

void makeSharedFolder(const std::string& path)
{
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 01777), 0);
}

// --- What is refused ---

void bindSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(socket, 0);
    EXPECT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(socket);
}

TEST(SaveTarget, WhatIsNotARegularFileIsRefusedAndStaysAsItWas)
{
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.png").c_str(), 0644), 0);
    ASSERT_NO_FATAL_FAILURE(bindSocket(dir.file("socket.png")));
    std::filesystem::create_directory(dir.file("folder.png"));
    std::filesystem::create_symlink("fifo.png", dir.file("link.png"));
    // A link is named by the file it leads to: that is what would have been replaced.
    const std::pair<std::string, std::string> cases[] = {
        {"fifo.png", "fifo.png"},
        {"socket.png", "socket.png"},
        {"folder.png", "folder.png"},
        {"link.png", "fifo.png"},
    };
    // A save that opened the FIFO would wait for a reader for ever; the child is stopped instead.
    const std::string failures = checkInChild(
        RunAs::Self,
        [&] {
            std::string found;
            for (const auto& [name, shown] : cases) {
                const std::string expected = dir.file(shown) + " is not a regular file";
                found += differs(name + " saved", save(dir.file(name), "picture"), expected);
                found += differs(name + " checked", saveRefusal(dir.file(name)), expected);
            }
            return found;
        },
        20);
    EXPECT_EQ(failures, "");
    EXPECT_TRUE(S_ISFIFO(entryOf(dir.file("fifo.png")).st_mode));
    EXPECT_TRUE(S_ISSOCK(entryOf(dir.file("socket.png")).st_mode));
    EXPECT_TRUE(S_ISDIR(entryOf(dir.file("folder.png")).st_mode));
    EXPECT_TRUE(S_ISLNK(entryOf(dir.file("link.png")).st_mode));
    EXPECT_EQ(folderEntries(dir.path()),
              (Names{"fifo.png", "folder.png", "link.png", "socket.png"}));
}

TEST(SaveTarget, TheUsersOwnReadOnlyFileIsRefused)
{
    test::TempDir dir;
    const std::string folder = test::folderForOtherUser(dir.path(), "own");
    const std::string target = folder + "/read-only.png";
    writeText(target, "old");
    test::giveToOtherUser(target);
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    const std::string failures = checkInChild(RunAs::OtherUser, [&] {
        const std::string expected = "Permission denied";
        return differs("saved", save(target, "new"), expected) +
               differs("checked", saveRefusal(target), expected);
    });
    EXPECT_EQ(failures, "");
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(entryOf(target).st_mode & 07777, 0444u);
    EXPECT_EQ(folderEntries(folder), Names{"read-only.png"});
}

TEST(SaveTarget, AnotherUsersFileInASharedFolderIsRefused)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "a file of another user takes root to set up";
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_NO_FATAL_FAILURE(makeSharedFolder(dir.file("shared")));
    const std::string target = dir.file("shared/theirs.png");
    writeText(target, "old");
    ASSERT_EQ(::chown(target.c_str(), test::kStrangerUser, test::kStrangerGroup), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    const std::string failures = checkInChild(RunAs::OtherUser, [&] {
        return differs("saved", save(target, "new"), "Permission denied");
    });
    EXPECT_EQ(failures, "");
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(entryOf(target).st_uid, test::kStrangerUser);
    EXPECT_EQ(folderEntries(dir.file("shared")), Names{"theirs.png"});
}

// Root may write any file, so its saves replace a read-only one, as cp does; the file stays
// read-only.
TEST(SaveTarget, RootReplacesAReadOnlyFileAsCpDoes)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "only root may write a read-only file";
    test::TempDir dir;
    const std::string target = dir.file("read-only.png");
    writeText(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    EXPECT_EQ(save(target, "new"), "");
    EXPECT_EQ(contentOf(target), "new");
    EXPECT_EQ(entryOf(target).st_mode & 07777, 0444u);
}

void plantLink(const std::string& link, const std::string& pointsTo, uid_t owner)
{
    std::filesystem::create_symlink(pointsTo, link);
    ASSERT_EQ(::lchown(link.c_str(), owner, owner), 0);
}

// A link in a folder that everybody may write and only owners may delete from (as /tmp) is
// followed only by its owner or when the folder's owner made it, as the system does for links
// opened through: otherwise anybody could send a save to a file of their choosing.
TEST(SaveTarget, ALinkPlantedInASharedFolderIsNotFollowed)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "planting a link that belongs to another user takes root";
    test::TempDir dir;
    const std::string home = test::folderForOtherUser(dir.path(), "home");
    const std::string victim = home + "/victim.png";
    writeText(victim, "old");
    test::giveToOtherUser(victim);
    const std::string shared = dir.file("shared");
    ASSERT_NO_FATAL_FAILURE(makeSharedFolder(shared));
    const std::string planted = shared + "/planted.png", dangling = shared + "/dangling.png";
    const std::string users = shared + "/users.png", owners = shared + "/owners.png";
    ASSERT_NO_FATAL_FAILURE(plantLink(planted, victim, test::kStrangerUser));
    ASSERT_NO_FATAL_FAILURE(plantLink(dangling, home + "/created.png", test::kStrangerUser));
    ASSERT_NO_FATAL_FAILURE(plantLink(users, victim, test::kOtherUser));
    ASSERT_NO_FATAL_FAILURE(plantLink(owners, victim, 0));
    // A planted link to a folder leads nowhere either, whatever name follows it.
    const std::string plantedFolder = shared + "/folder";
    ASSERT_NO_FATAL_FAILURE(plantLink(plantedFolder, home, test::kStrangerUser));

    auto refusals = [&](const Names& links) {
        std::string found;
        for (const std::string& link : links) {
            const std::string expected = "cannot follow the link " + link + ": Permission denied";
            found += differs(link, save(link, "planted"), expected);
            found += differs(link + " checked", saveRefusal(link), expected);
        }
        const std::string throughFolder = plantedFolder + "/victim.png";
        found += differs(throughFolder, save(throughFolder, "planted"),
                         "cannot follow the link " + plantedFolder + ": Permission denied");
        return found;
    };
    // For root the other user's link is as foreign as the stranger's.
    EXPECT_EQ(checkInChild(RunAs::Self,
                           [&] {
                               return refusals({planted, dangling, users});
                           }),
              "")
        << "as root";
    EXPECT_EQ(checkInChild(RunAs::OtherUser,
                           [&] {
                               return refusals({planted, dangling});
                           }),
              "")
        << "as another user";
    EXPECT_EQ(contentOf(victim), "old");
    EXPECT_FALSE(test::fileExists(home + "/created.png"));

    // The user's own link, and the folder owner's, lead where they point.
    EXPECT_EQ(checkInChild(RunAs::OtherUser, [&] { return save(users, "through the user's"); }),
              "");
    EXPECT_EQ(contentOf(victim), "through the user's");
    EXPECT_EQ(checkInChild(RunAs::OtherUser, [&] { return save(owners, "through the owner's"); }),
              "");
    EXPECT_EQ(contentOf(victim), "through the owner's");
    EXPECT_EQ(folderEntries(shared),
              (Names{"dangling.png", "folder", "owners.png", "planted.png", "users.png"}));
}

// --- What the new file keeps ---

TEST(SaveKeeps, TheOwnerGroupAndPermissionBitsOfTheFileItReplaces)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "giving a file to another user and group takes root";
    for (SavePath path : {SavePath::Unnamed, SavePath::Named}) {
        SavePathScope scope(path);
        test::TempDir dir;
        const std::string target = dir.file("shared.png");
        writeText(target, "old");
        ASSERT_EQ(::chown(target.c_str(), test::kStrangerUser, test::kStrangerGroup), 0);
        ASSERT_EQ(::chmod(target.c_str(), 02640), 0);
        const ino_t replaced = entryOf(target).st_ino;
        bool inPlace = true;
        ASSERT_EQ(save(target, "new", &inPlace), "");
        EXPECT_FALSE(inPlace);
        const struct stat saved = entryOf(target);
        EXPECT_NE(saved.st_ino, replaced);
        EXPECT_EQ(saved.st_uid, test::kStrangerUser);
        EXPECT_EQ(saved.st_gid, test::kStrangerGroup);
        EXPECT_EQ(saved.st_mode & 07777, 02640u);
        EXPECT_EQ(contentOf(target), "new");
        EXPECT_EQ(folderEntries(dir.path()), Names{"shared.png"});
    }
}

bool commandExists(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string attributeOf(const std::string& path, const char* name)
{
    char value[4096];
    const ssize_t size = ::lgetxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(size));
}

int setfacl(const std::string& arguments, const std::string& path)
{
    return std::system(("setfacl " + arguments + " '" + path + "'").c_str());
}

TEST(SaveKeeps, TheAclAndExtendedAttributesOfTheFileItReplaces)
{
    if (!commandExists("setfacl"))
        GTEST_SKIP() << "setfacl (Debian package acl) is not installed";
    constexpr const char* kAcl = "system.posix_acl_access";
    constexpr const char* kTags = "user.xdg.tags";
    for (SavePath path : {SavePath::Unnamed, SavePath::Named}) {
        SavePathScope scope(path);
        test::TempDir dir;
        const std::string tagged = dir.file("tagged.png"), plain = dir.file("plain.png");
        writeText(tagged, "old");
        writeText(plain, "old");
        ASSERT_EQ(::chmod(tagged.c_str(), 0640), 0);
        if (::setxattr(tagged.c_str(), kTags, "holiday,beach", 13, 0) != 0)
            GTEST_SKIP() << "the file system of " << dir.path()
                         << " keeps no extended attributes: " << std::strerror(errno);
        ASSERT_EQ(setfacl("-m u:12345:rw,g:23456:r", tagged), 0);
        const std::string acl = attributeOf(tagged, kAcl);
        const mode_t mode = entryOf(tagged).st_mode & 07777;
        ASSERT_NE(acl, "(none)");
        // A default ACL of the folder would give a new file entries that the old one never had.
        ASSERT_EQ(setfacl("-d -m u:12345:rwx", dir.path()), 0);

        ASSERT_EQ(save(tagged, "new"), "");
        ASSERT_EQ(save(plain, "new"), "");
        EXPECT_EQ(attributeOf(tagged, kAcl), acl);
        EXPECT_EQ(attributeOf(tagged, kTags), "holiday,beach");
        EXPECT_EQ(entryOf(tagged).st_mode & 07777, mode);
        EXPECT_EQ(attributeOf(plain, kAcl), "(none)");
        EXPECT_EQ(contentOf(tagged), "new");
    }
}

// --- Saves in place ---

TEST(SaveInPlace, AWritableFileInAFolderThatTakesNoNewFileIsWrittenInPlace)
{
    test::TempDir dir;
    const std::string folder = test::folderForOtherUser(dir.path(), "locked");
    const std::string target = folder + "/picture.png";
    writeText(target, "the old picture");
    test::giveToOtherUser(target);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const ino_t inode = entryOf(target).st_ino;
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string failures = checkInChild(RunAs::OtherUser, [&] {
        bool inPlace = false;
        const std::string failed = save(target, "new", &inPlace);
        return failed.empty() && !inPlace ? "not saved in place" : failed;
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(failures, "");
    EXPECT_EQ(contentOf(target), "new");
    EXPECT_EQ(entryOf(target).st_ino, inode);
    EXPECT_EQ(entryOf(target).st_mode & 07777, 0640u);
    EXPECT_EQ(folderEntries(folder), Names{"picture.png"});
}

TEST(SaveInPlace, HardLinksStillShareTheNewPicture)
{
    // The named path has no unnamed file beside the target nor in the temporary folder: the new
    // bytes wait in memory.
    for (SavePath path : {SavePath::Unnamed, SavePath::Named}) {
        SavePathScope scope(path);
        test::TempDir dir;
        const std::string first = dir.file("first.png"), second = dir.file("second.png");
        writeText(first, "old");
        ASSERT_EQ(::chmod(first.c_str(), 0604), 0);
        ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
        bool inPlace = false;
        ASSERT_EQ(save(second, "the new picture", &inPlace), "");
        EXPECT_TRUE(inPlace);
        EXPECT_EQ(contentOf(first), "the new picture");
        EXPECT_EQ(contentOf(second), "the new picture");
        EXPECT_EQ(entryOf(first).st_nlink, 2u);
        EXPECT_EQ(entryOf(first).st_mode & 07777, 0604u);
        EXPECT_EQ(folderEntries(dir.path()), (Names{"first.png", "second.png"}));
    }
}

TEST(SaveInPlace, AFileWhoseOwnerOrGroupTheUserCannotGiveIsWrittenInPlace)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "files of another user or group take root to set up";
    test::TempDir dir;
    const std::string folder = test::folderForOtherUser(dir.path(), "shared");
    const std::string theirs = folder + "/theirs.png", group = folder + "/group.png";
    writeText(theirs, "old");
    writeText(group, "old");
    ASSERT_EQ(::chown(theirs.c_str(), test::kStrangerUser, test::kStrangerGroup), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
    ASSERT_EQ(::chown(group.c_str(), test::kOtherUser, test::kStrangerGroup), 0);
    ASSERT_EQ(::chmod(group.c_str(), 0664), 0);
    const ino_t theirsInode = entryOf(theirs).st_ino, groupInode = entryOf(group).st_ino;
    const std::string failures = checkInChild(RunAs::OtherUser, [&] {
        std::string found;
        for (const std::string& target : {theirs, group}) {
            bool inPlace = false;
            found += differs(target, save(target, "new", &inPlace), "");
            if (!inPlace)
                found += target + " was not saved in place\n";
        }
        return found;
    });
    EXPECT_EQ(failures, "");
    EXPECT_EQ(contentOf(theirs), "new");
    EXPECT_EQ(entryOf(theirs).st_uid, test::kStrangerUser);
    EXPECT_EQ(entryOf(theirs).st_ino, theirsInode);
    EXPECT_EQ(contentOf(group), "new");
    EXPECT_EQ(entryOf(group).st_gid, test::kStrangerGroup);
    EXPECT_EQ(entryOf(group).st_ino, groupInode);
    EXPECT_EQ(folderEntries(folder), (Names{"group.png", "theirs.png"}));
}

// --- Saves on a full disk, and saves in place stopped by a signal ---

TEST(SaveOnAFullDisk, FailsWithTheSystemsReasonAndLeavesTheOldFile)
{
    for (SavePath path : {SavePath::Unnamed, SavePath::Named}) {
        for (bool linked : {false, true}) {
            SCOPED_TRACE(linked ? "in place" : "replacing");
            SavePathScope scope(path);
            test::TempDir dir;
            const std::string target = dir.file("picture.png");
            writeText(target, "old");
            if (linked) {
                ASSERT_EQ(::link(target.c_str(), dir.file("other.png").c_str()), 0);
            }
            {
                test::SaveSpaceLimitScope limit(1000);
                AtomicFile file(target);
                ASSERT_TRUE(file.open()) << file.error();
                const std::vector<uint8_t> bytes(5000, 'n');
                EXPECT_FALSE(file.write(bytes.data(), bytes.size()) && file.commit());
                EXPECT_TRUE(file.writeFailed());
                EXPECT_EQ(file.error(), "cannot write the file: No space left on device");
            }
            EXPECT_EQ(contentOf(target), "old");
            EXPECT_EQ(folderEntries(dir.path()).size(), linked ? 2u : 1u);
        }
    }
}

// A save in place on a disk without room for the new bytes: the space is reserved before the old
// file is touched, so the save fails with the file still whole. The new bytes wait in the
// temporary folder (the picture's folder takes no file), which is on another disk.
TEST(SaveOnAFullDisk, ASaveInPlaceFailsBeforeTheOldFileChanges)
{
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    test::SmallDisk disk(dir.file("disk"), 512 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    const std::string folder = test::folderForOtherUser(disk.path(), "locked");
    const std::string temporary = test::folderForOtherUser(dir.path(), "tmp");
    const std::string target = folder + "/picture.bin";
    const std::string old(6000, 'o');
    writeText(target, old);
    test::giveToOtherUser(target);
    ASSERT_TRUE(disk.fillLeaving(64 * 1024));
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string failures = checkInChild(RunAs::OtherUser, [&] {
        ::setenv("TMPDIR", temporary.c_str(), 1);
        bool inPlace = false;
        const std::string failed = save(target, std::string(256 * 1024, 'n'), &inPlace);
        return differs("in place", inPlace ? "yes" : "no", "yes") +
               differs("saved", failed, "cannot write the file: No space left on device");
    });
    EXPECT_EQ(failures, "");
    EXPECT_TRUE(contentOf(target) == old) << "the old file was changed";
    EXPECT_EQ(folderEntries(folder), Names{"picture.bin"});
    EXPECT_TRUE(folderEntries(temporary).empty());
}


struct InPlaceStop {
    SavePath path;
    SavePoint point;
    const char* name;
};

void PrintTo(const InPlaceStop& stop, std::ostream* out)
{
    *out << stop.name;
}

class StoppedSaveInPlace : public testing::TestWithParam<InPlaceStop> {};

TEST_P(StoppedSaveInPlace, BeforeTheCopyLeavesTheOldFileAndNothingBesideIt)
{
    const InPlaceStop stop = GetParam();
    test::TempDir dir;
    const std::string target = dir.file("picture.png");
    writeText(target, "old");
    ASSERT_EQ(::link(target.c_str(), dir.file("other.png").c_str()), 0);
    const auto stopped =
        test::stopSaveWithSignal(stop.point, SIGTERM, stop.path, [&] { test::saveLargeFile(target); });
    ASSERT_TRUE(stopped.reachedPoint);
    EXPECT_TRUE(stopped.endedBySignal);
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(folderEntries(dir.path()), (Names{"other.png", "picture.png"}));
}

INSTANTIATE_TEST_SUITE_P(
    Points, StoppedSaveInPlace,
    testing::Values(InPlaceStop{SavePath::Unnamed, SavePoint::Created, "UnnamedCreated"},
                    InPlaceStop{SavePath::Unnamed, SavePoint::Writing, "UnnamedWriting"},
                    InPlaceStop{SavePath::Unnamed, SavePoint::Complete, "UnnamedComplete"},
                    InPlaceStop{SavePath::Named, SavePoint::Writing, "InMemoryWriting"},
                    InPlaceStop{SavePath::Named, SavePoint::Complete, "InMemoryComplete"}),
    [](const testing::TestParamInfo<InPlaceStop>& info) { return std::string(info.param.name); });

void signalWhileOverwriting(SavePoint point)
{
    if (point != SavePoint::Overwriting)
        return;
    ::kill(::getpid(), SIGTERM);
    // Time for the other thread to take the signal, as it would in a program with a window.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// A signal that comes while the new bytes are copied over the old file, whichever thread takes
// it, ends the program only once the file is whole.
TEST(StoppedSaveInPlace, ASignalDuringTheCopyWaitsUntilTheFileIsWhole)
{
    test::TempDir dir;
    const std::string target = dir.file("picture.png");
    writeText(target, "old");
    ASSERT_EQ(::link(target.c_str(), dir.file("other.png").c_str()), 0);
    const test::ChildRun run = test::runInChild(RunAs::Self, [&] {
        std::thread([] {
            for (;;)
                ::pause();
        }).detach();
        setSavePointHook(signalWhileOverwriting);
        test::saveLargeFile(target);
        return std::string("the program was not stopped");
    });
    EXPECT_EQ(run.signal, SIGTERM) << run.report;
    const auto bytes = test::readFileBytes(target);
    EXPECT_EQ(bytes.size(), test::kLargeSaveBlocks << 20);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x5A), static_cast<long>(bytes.size()));
}

} // namespace
} // namespace ombri
