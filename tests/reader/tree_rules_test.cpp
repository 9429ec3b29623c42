#include "reader/tree_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

using Strings = std::vector<std::string>;

// --- Routes from a root to a path ---

TEST(TreeRouteTest, TheInnermostRootMatchingAtAFolderBoundaryIsTaken)
{
    const Strings roots{"/", "/home/ann", "/media/ann/USB"};
    auto route = findTreeRoute(roots, "/home/ann/Photos/2019");
    ASSERT_TRUE(route);
    EXPECT_EQ(route->root, 1u);
    EXPECT_EQ(route->components, (Strings{"Photos", "2019"}));

    // "/home/anna" is not inside "/home/ann".
    route = findTreeRoute(roots, "/home/anna");
    ASSERT_TRUE(route);
    EXPECT_EQ(route->root, 0u);
    EXPECT_EQ(route->components, (Strings{"home", "anna"}));
}

TEST(TreeRouteTest, RootsMatchWithoutRegardToCaseAndKeepThePathsSpelling)
{
    auto route = findTreeRoute({"/", "/media/ann/USB"}, "/MEDIA/ann/usb/Trip//");
    ASSERT_TRUE(route);
    EXPECT_EQ(route->root, 1u);
    EXPECT_EQ(route->components, (Strings{"Trip"}));
    route = findTreeRoute({"/"}, "/");
    ASSERT_TRUE(route);
    EXPECT_TRUE(route->components.empty());

    EXPECT_FALSE(findTreeRoute({"/"}, "photos/a.png"));
    EXPECT_FALSE(findTreeRoute({"/home/ann"}, "/home/bob"));
}

// --- Folders never shown ---

TEST(ExcludedFolderTest, TheUsersTrashWhereverTheDataFolderIs)
{
    EXPECT_TRUE(isExcludedFolderPath("/home/ann/.local/share/Trash"));
    EXPECT_TRUE(isExcludedFolderPath("/home/ann/.local/share/Trash/files"));
    EXPECT_FALSE(isExcludedFolderPath("/home/ann/.local/share/Trashcan"));

    const char* old = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_DATA_HOME", "/srv/data/", 1);
    EXPECT_TRUE(isExcludedFolderPath("/srv/data/Trash"));
    EXPECT_TRUE(isExcludedFolderPath("/srv/data/Trash/info"));
    EXPECT_FALSE(isExcludedFolderPath("/srv/data/Trash2"));
    if (saved)
        setenv("XDG_DATA_HOME", saved->c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

// --- Roots ---

TEST(TreeRootsTest, VolumesUnderTheMountFoldersFollowRootAndHome)
{
    const std::string mounts = "sysfs /sys sysfs rw 0 0\n"
                               "/dev/sda1 / ext4 rw 0 0\n"
                               "/dev/sdb1 /media/ann/zip ext4 rw 0 0\n"
                               "/dev/sdc1 /run/media/ann/My\\040Disk vfat rw 0 0\n"
                               "/dev/sdd1 /mnt/Backup ext4 rw 0 0\n"
                               "/dev/sdd1 /mnt/Backup ext4 rw 0 0\n"
                               "tmpfs /run/user/1000 tmpfs rw 0 0\n";
    EXPECT_EQ(
        treeRootPaths("/home/ann/", mounts),
        (Strings{"/", "/home/ann", "/media/ann/zip", "/mnt/Backup", "/run/media/ann/My Disk"}));
    EXPECT_EQ(treeRootPaths("", ""), (Strings{"/"}));
}

} // namespace
} // namespace ombri::reader
