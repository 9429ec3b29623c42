#include "reader/ui/file_operations.h"

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "reader/openable_reader_document.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// A reader document and the file commands over a temporary folder; the folder tree's GoToPath
// and the image view's repaint are recorders.
class FileOperationsTest : public testing::Test {
  protected:
    FileOperationsTest() : m_savedDirectory(fs::current_path())
    {
        m_ops.setHooks({[this](const std::string& path) {
                            m_wentTo.push_back(path);
                            return true;
                        },
                        [this] { ++m_redraws; }});
    }
    // Opening a picture moves the process into the picture's folder.
    ~FileOperationsTest() override { fs::current_path(m_savedDirectory); }

    std::string path(const std::string& relative) const { return m_dir.file(relative); }
    void makeFolder(const std::string& relative) { fs::create_directories(path(relative)); }
    void makeFile(const std::string& relative, uint8_t content = 'x')
    {
        fs::create_directories(fs::path(path(relative)).parent_path());
        test::writeFileBytes(path(relative), {content});
    }
    void openPicture(const std::string& relative)
    {
        fs::create_directories(fs::path(path(relative)).parent_path());
        ASSERT_TRUE(
            test::succeeded(WriteBmpFile(path(relative), test::makePatternImage(5, 3, 24))));
        ASSERT_TRUE(m_doc.OpenImagePath(path(relative)));
    }
    Strings folderNames(const std::string& relative = {}) const
    {
        Strings names;
        for (const auto& entry : fs::directory_iterator(path(relative)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    OpenableReaderDocument m_doc{m_prompt};
    FileOperations m_ops{m_doc};
    Strings m_wentTo;
    int m_redraws = 0;

  private:
    fs::path m_savedDirectory;
};

// --- New Folder ---

struct NewFolderCase {
    const char* name;
    std::vector<const char*> folders;
    std::vector<const char*> files;
    const char* created;
};

class NewFolderTest : public FileOperationsTest,
                      public testing::WithParamInterface<NewFolderCase> {};

TEST_P(NewFolderTest, TakesTheFirstFreeNameNextToThePicture)
{
    openPicture("a.bmp");
    for (const char* folder : GetParam().folders)
        makeFolder(folder);
    for (const char* file : GetParam().files)
        makeFile(file);
    const auto created = m_ops.onNewFolder();
    EXPECT_EQ(created, path(GetParam().created));
    EXPECT_TRUE(fs::is_directory(path(GetParam().created)));
    EXPECT_EQ(m_wentTo, Strings{path(GetParam().created)});
    EXPECT_EQ(m_doc.currentPath(), path("a.bmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewFolderTest,
    testing::Values(
        NewFolderCase{"BothTaken", {"New Folder", "New Folder (2)"}, {}, "New Folder (3)"},
        NewFolderCase{"OnlySecondTaken", {"New Folder (2)"}, {}, "New Folder"},
        NewFolderCase{"FileBlocksTheName", {}, {"New Folder"}, "New Folder (2)"}),
    [](const testing::TestParamInfo<NewFolderCase>& info) { return std::string(info.param.name); });

TEST_F(FileOperationsTest, NewFolderWithoutAPictureOrWritableFolderDoesNothing)
{
    EXPECT_FALSE(m_ops.onNewFolder());
    openPicture("gone/a.bmp");
    fs::remove_all(path("gone"));
    EXPECT_FALSE(m_ops.onNewFolder());
    EXPECT_TRUE(m_wentTo.empty());
    EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(FileOperationsTest, DotInAFolderNameMakesTheCurrentPathAFilesPath)
{
    makeFolder("old.set/photos");
    EXPECT_EQ(newFolderTarget(path("old.set/photos")), path("old.set"));
    EXPECT_EQ(newFolderTarget(path("old.set/photos.")), path("old.set/photos."));
    EXPECT_EQ(createNewFolder(newFolderTarget(path("old.set/photos"))), path("old.set/New Folder"));
}

// --- Rename ---

struct ExtensionCase {
    const char* name;
    const char* newName;
    bool asks;
};

class RenameExtensionTest : public FileOperationsTest,
                            public testing::WithParamInterface<ExtensionCase> {};

// The question is answered No: a renamed file shows that nobody asked.
TEST_P(RenameExtensionTest, AsksOnlyWhenTheExtensionChanges)
{
    makeFile("photo.png");
    m_prompt.queueAnswer(Answer::No);
    EXPECT_EQ(m_ops.Rename(path("photo.png"), GetParam().newName), !GetParam().asks);
    EXPECT_EQ(folderNames(), Strings{GetParam().asks ? "photo.png" : GetParam().newName});
    if (!GetParam().asks) {
        EXPECT_TRUE(m_prompt.messages().empty());
        return;
    }
    ASSERT_EQ(m_prompt.messages().size(), 1u);
    EXPECT_EQ(m_prompt.messages()[0].text,
              "To change the extension may cause that the file cannot be used correctly.");
    EXPECT_EQ(m_prompt.messages()[0].caption, "Warning");
    EXPECT_EQ(m_prompt.messages()[0].buttons, Buttons::YesNo);
}

INSTANTIATE_TEST_SUITE_P(Cases, RenameExtensionTest,
                         testing::Values(ExtensionCase{"OtherExtension", "photo.bmp", true},
                                         ExtensionCase{"SameExtension", "holiday.png", false},
                                         ExtensionCase{"ExtensionInCapitals", "photo.PNG", true}),
                         [](const testing::TestParamInfo<ExtensionCase>& info) {
                             return std::string(info.param.name);
                         });

// The edited item is renamed in its own folder, while the process is in the folder of the
// picture on show, which keeps its name.
TEST_F(FileOperationsTest, RenameActsOnTheEditedItemNotOnThePictureOnShow)
{
    openPicture("shown/a.bmp");
    makeFile("elsewhere/b.png");
    EXPECT_TRUE(m_ops.Rename(path("elsewhere/b.png"), "c.png"));
    EXPECT_EQ(folderNames("elsewhere"), Strings{"c.png"});
    EXPECT_EQ(folderNames("shown"), Strings{"a.bmp"});
    EXPECT_EQ(m_doc.currentPath(), path("shown/a.bmp"));
}

TEST_F(FileOperationsTest, PictureOnShowFollowsItsNewName)
{
    openPicture("a.bmp");
    EXPECT_TRUE(m_ops.Rename(path("a.bmp"), "b.bmp"));
    EXPECT_EQ(m_doc.currentPath(), path("b.bmp"));
    EXPECT_EQ(m_doc.getPathName(), path("b.bmp"));

    // A new extension reads the picture again; as PNG a BMP file no longer opens.
    m_prompt.queueAnswer(Answer::Yes);
    EXPECT_TRUE(m_ops.Rename(path("b.bmp"), "b.BMP"));
    EXPECT_TRUE(m_doc.hasImage());
    EXPECT_EQ(m_redraws, 0);
    m_prompt.queueAnswer(Answer::Yes);
    EXPECT_TRUE(m_ops.Rename(path("b.BMP"), "b.png"));
    EXPECT_FALSE(m_doc.hasImage());
    EXPECT_EQ(m_doc.currentPath(), path("b.png"));
    EXPECT_EQ(m_redraws, 1);
}

TEST_F(FileOperationsTest, RenameNeverReplacesATakenName)
{
    makeFile("a.png", 'a');
    makeFile("b.png", 'b');
    EXPECT_FALSE(m_ops.Rename(path("a.png"), "b.png"));
    EXPECT_EQ(test::readFileBytes(path("a.png")), std::vector<uint8_t>{'a'});
    EXPECT_EQ(test::readFileBytes(path("b.png")), std::vector<uint8_t>{'b'});
    EXPECT_EQ(m_prompt.messages().size(), 1u);
}

TEST_F(FileOperationsTest, RenameRefusesNamesThatAreNoBareName)
{
    makeFile("a.png");
    for (const std::string& name :
         {std::string(), std::string("sub/b.png"), std::string(".."), std::string("b\0.png", 6)})
        EXPECT_FALSE(m_ops.Rename(path("a.png"), name)) << name;
    EXPECT_EQ(folderNames(), Strings{"a.png"});
    EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(FileOperationsTest, FolderRenameCarriesThePictureOnShow)
{
    openPicture("old.set/photos/a.bmp");
    // A folder is never asked about extensions, even with a dot in its name.
    EXPECT_TRUE(m_ops.Rename(path("old.set"), "new"));
    EXPECT_TRUE(m_prompt.messages().empty());
    EXPECT_TRUE(fs::exists(path("new/photos/a.bmp")));
    EXPECT_EQ(m_doc.currentPath(), path("new/photos/a.bmp"));
}

TEST_F(FileOperationsTest, FailedFolderRenameSaysSo)
{
    makeFolder("a");
    makeFile("b/keep");
    EXPECT_FALSE(m_ops.Rename(path("a"), "b"));
    ASSERT_EQ(m_prompt.messages().size(), 1u);
    EXPECT_EQ(m_prompt.messages()[0].text, "Rename Failed.\nThe file (folder) may be in use.");
    EXPECT_EQ(m_prompt.messages()[0].caption, "Warning");
    EXPECT_TRUE(fs::exists(path("b/keep")));
    EXPECT_TRUE(fs::is_directory(path("a")));
}

// --- Delete ---

// The home folder and the trash inside the temporary folder; the environment is put back
// afterwards, since the other tests of the program read it too.
class DeleteTest : public FileOperationsTest {
  protected:
    DeleteTest() : m_oldHome(qgetenv("HOME")), m_oldDataHome(qgetenv("XDG_DATA_HOME"))
    {
        makeFolder("home/.local/share");
        qputenv("HOME", QByteArray::fromStdString(path("home")));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(path("home/.local/share")));
    }
    ~DeleteTest() override
    {
        restore("HOME", m_oldHome);
        restore("XDG_DATA_HOME", m_oldDataHome);
    }
    static void restore(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QByteArray m_oldHome, m_oldDataHome;
};

TEST_F(DeleteTest, RootsAndTheHomeFolderAreNeverAskedAbout)
{
    for (const std::string& protectedPath :
         {std::string("/"), path("home"), path("home/"), m_dir.path()}) {
        m_prompt.queueAnswer(Answer::Yes);
        EXPECT_FALSE(m_ops.deleteItem(protectedPath)) << protectedPath;
    }
    EXPECT_TRUE(m_prompt.messages().empty());
    EXPECT_TRUE(fs::is_directory(path("home")));
}

TEST(isProtectedPath, MountedVolumesAndTheFoldersAboveThem)
{
    const std::string mounts = "/dev/sdb1 /media/ann/USB vfat rw 0 0\n";
    EXPECT_TRUE(isProtectedPath("/media/ann/USB", "/home/ann", mounts));
    EXPECT_TRUE(isProtectedPath("/media/ann", "/home/ann", mounts));
    for (const char* free : {"/media/ann/USB/photos", "/media/ann/USB2", "/home/ann/photos"})
        EXPECT_FALSE(isProtectedPath(free, "/home/ann", mounts)) << free;
}

TEST_F(DeleteTest, ConfirmedDeleteMovesTheItemToTheTrash)
{
    makeFile("home/pics/a.png");
    m_prompt.queueAnswer(Answer::Yes);
    EXPECT_TRUE(m_ops.deleteItem(path("home/pics/a.png")));
    ASSERT_EQ(m_prompt.messages().size(), 1u);
    EXPECT_EQ(m_prompt.messages()[0].text,
              "Are you sure to remove the following file(s) to Recycle Bin? \n\n" +
                  path("home/pics/a.png"));
    EXPECT_EQ(m_prompt.messages()[0].caption, "Warning");
    EXPECT_EQ(m_prompt.messages()[0].buttons, Buttons::YesNo);
    EXPECT_FALSE(fs::exists(path("home/pics/a.png")));
    EXPECT_TRUE(fs::exists(path("home/.local/share/Trash/files/a.png")));
}

TEST_F(DeleteTest, RefusedDeleteKeepsTheItem)
{
    makeFolder("home/pics");
    EXPECT_FALSE(m_ops.deleteItem(path("home/pics")));
    EXPECT_TRUE(fs::is_directory(path("home/pics")));
}

} // namespace
} // namespace ombri::reader
