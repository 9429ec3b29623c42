#include "reader/ui/file_list.h"

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "reader/openable_reader_document.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// A list on a real document, over a folder of its own.
class FileListTest : public testing::Test {
  protected:
    FileListTest() : m_savedDirectory(fs::current_path()) {}
    // Opening a picture moves the process into the picture's folder.
    ~FileListTest() override { fs::current_path(m_savedDirectory); }

    std::string file(const std::string& name) const { return m_dir.file(name); }
    std::string folder() const { return m_dir.path() + "/"; }
    void writePicture(const std::string& name)
    {
        ASSERT_TRUE(test::succeeded(WriteBmpFile(file(name), test::makePatternImage(5, 3, 24))));
    }
    void writeBytes(const std::string& name, size_t count)
    {
        test::writeFileBytes(file(name), std::vector<uint8_t>(count, 'x'));
    }
    void listAll() { ASSERT_TRUE(m_list.showFolder(m_dir.path())); }

    QString cell(const std::string& name, int column) const
    {
        return m_list.model()->index(rowOf(name), column).data().toString();
    }
    Strings names() const
    {
        Strings shown;
        for (int row = 0; row < m_list.model()->rowCount(); ++row)
            shown.push_back(m_list.model()->index(row, 0).data().toString().toStdString());
        return shown;
    }
    int rowOf(const std::string& name) const
    {
        const Strings shown = names();
        return static_cast<int>(std::find(shown.begin(), shown.end(), name) - shown.begin());
    }
    QPoint centreOf(const std::string& name) const
    {
        return m_list.visualRect(m_list.model()->index(rowOf(name), 0)).center();
    }

    fs::path m_savedDirectory;
    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    OpenableReaderDocument m_doc{m_prompt};
    FileList m_list{m_doc};
};

// --- What a listing shows ---

TEST_F(FileListTest, FoldersFirstThenFilesEachInNameOrderWithoutCase)
{
    for (const char* name : {"b.png", "A.txt", "c.JPG", ".profile"})
        writeBytes(name, 10);
    for (const char* name : {"Zeta", "alpha", ".cache"})
        fs::create_directory(file(name));
    listAll();
    EXPECT_EQ(names(),
              (Strings{"..", ".cache", "alpha", "Zeta", ".profile", "A.txt", "b.png", "c.JPG"}));
    EXPECT_EQ(m_list.folderPath(), folder());

    ASSERT_TRUE(m_list.showFolder("/"));
    EXPECT_EQ(m_list.folderPath(), "/");
    EXPECT_EQ(rowOf(".."), m_list.model()->rowCount()) << "the root has no way up";
}

TEST_F(FileListTest, SizeTypeAndDateColumns)
{
    const std::pair<const char*, size_t> sizes[] = {
        {"empty", 0}, {"small.gif", 1023}, {"two.Jpg", 2048}, {"four.JPG", 5000}};
    for (const auto& [name, size] : sizes)
        writeBytes(name, size);
    fs::create_directory(file("sub"));
    QFile touched(QString::fromStdString(file("small.gif")));
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(QDateTime(QDate(2008, 3, 5), QTime(9, 7)),
                                    QFileDevice::FileModificationTime));
    touched.close();
    listAll();

    using M = FileListModel;
    EXPECT_EQ(cell("empty", M::SizeColumn), "");
    EXPECT_EQ(cell("small.gif", M::SizeColumn), "0 KB");
    EXPECT_EQ(cell("two.Jpg", M::SizeColumn), "2 KB");
    EXPECT_EQ(cell("four.JPG", M::SizeColumn), "4 KB");
    EXPECT_EQ(cell("sub", M::SizeColumn), "");
    EXPECT_EQ(cell("empty", M::TypeColumn), "File");
    EXPECT_EQ(cell("two.Jpg", M::TypeColumn), "JPEG Image");
    EXPECT_EQ(cell("four.JPG", M::TypeColumn), "JPEG Image");
    EXPECT_EQ(cell("sub", M::TypeColumn), "File Folder");
    EXPECT_EQ(cell("small.gif", M::DateColumn), "03/05/2008 09:07");
}

TEST_F(FileListTest, TypeComesFromTheLastExtension)
{
    for (const char* name : {"backup.tar.gz", "README", "notes.", "scan.jpeg", "shot.Jpg", "png"})
        writeBytes(name, 1);
    fs::create_directory(file("album.jpg"));
    listAll();

    using M = FileListModel;
    EXPECT_EQ(cell("backup.tar.gz", M::TypeColumn), "gz File");
    EXPECT_EQ(cell("README", M::TypeColumn), "File");
    EXPECT_EQ(cell("notes.", M::TypeColumn), "File");
    EXPECT_EQ(cell("scan.jpeg", M::TypeColumn), "JPEG Image");
    EXPECT_EQ(cell("shot.Jpg", M::TypeColumn), "JPEG Image");
    EXPECT_EQ(cell("png", M::TypeColumn), "File");
    // A folder is a folder whatever its name looks like.
    EXPECT_EQ(cell("album.jpg", M::TypeColumn), "File Folder");
    EXPECT_EQ(cell("album.jpg", M::SizeColumn), "");
}

TEST_F(FileListTest, NamesDifferingOnlyInCaseKeepOneOrderAfterPunctuationAndDigits)
{
    for (const char* name : {"b.png", "a.png", "A.png", "_cover.png", "10.png", "9.png"})
        writeBytes(name, 1);
    listAll();
    EXPECT_EQ(names(), (Strings{"..", "10.png", "9.png", "_cover.png", "A.png", "a.png", "b.png"}));
}

// --- Going into folders ---

TEST_F(FileListTest, DoubleClickOnAFolderListsItAndTellsTheTree)
{
    fs::create_directory(file("sub"));
    writeBytes("sub/inner.png", 3);
    writeBytes("a.txt", 1);
    listAll();
    QSignalSpy entered(&m_list, &FileList::folderEntered);

    EXPECT_FALSE(m_list.doubleClickRow(rowOf("a.txt")));
    ASSERT_TRUE(m_list.doubleClickRow(rowOf("sub")));
    EXPECT_EQ(names(), (Strings{"..", "inner.png"}));
    EXPECT_EQ(entered.at(0).at(0).value<std::string>(), folder() + "sub");

    // Up again: the parent is named by its own path, not by "sub/..".
    ASSERT_TRUE(m_list.doubleClickRow(rowOf("..")));
    EXPECT_EQ(m_list.folderPath(), folder());
    EXPECT_EQ(entered.at(1).at(0).value<std::string>(), folder() + "sub/..");
}

TEST_F(FileListTest, ANewListingStartsAtTheTop)
{
    for (int i = 100; i < 160; ++i)
        fs::create_directory(file("f" + std::to_string(i)));
    for (int i = 100; i < 160; ++i)
        writeBytes("f159/p" + std::to_string(i) + ".png", 1);
    listAll();
    m_list.resize(300, 200);
    m_list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
    m_list.verticalScrollBar()->setValue(m_list.verticalScrollBar()->maximum());
    ASSERT_GT(m_list.verticalScrollBar()->value(), 0);

    QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, centreOf("f159"));
    ASSERT_EQ(m_list.folderPath(), folder() + "f159/");
    EXPECT_EQ(m_list.verticalScrollBar()->value(), 0);
    EXPECT_EQ(m_list.indexAt(QPoint(5, 5)).row(), 0);
}

TEST_F(FileListTest, UnreadableFolderEmptiesTheListButKeepsSteppingTheLastOne)
{
    writePicture("a.bmp");
    writePicture("b.bmp");
    listAll();
    ASSERT_TRUE(m_list.SelectNextFile());

    EXPECT_FALSE(m_list.showFolder(file("missing")));
    EXPECT_EQ(m_list.model()->rowCount(), 0);
    EXPECT_EQ(m_list.folderPath(), folder());
    EXPECT_EQ(m_list.SelectNextFile(), file("b.bmp"));
}

// --- Opening files with a click ---

TEST_F(FileListTest, ClickOpensAFileButNeitherAFolderNorTheCurrentFileAgain)
{
    fs::create_directory(file("sub"));
    writePicture("a.bmp");
    writePicture("b.bmp");
    listAll();
    m_list.resize(400, 300);
    m_list.show();

    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, centreOf("sub"));
    EXPECT_EQ(m_list.currentFileIndex(), -1);
    EXPECT_FALSE(m_doc.hasImage());

    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, centreOf("b.bmp"));
    EXPECT_EQ(m_doc.currentPath(), file("b.bmp"));
    EXPECT_EQ(m_list.currentFileIndex(), 1);

    // A folder click leaves the highlight on the file on show.
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, centreOf(".."));
    EXPECT_EQ(m_list.currentIndex().row(), rowOf("b.bmp"));

    // Were it opened again, the broken file would leave the document empty.
    writeBytes("b.bmp", 4);
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, centreOf("b.bmp"));
    EXPECT_TRUE(m_doc.hasImage());

    QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, {}, centreOf("sub"));
    EXPECT_EQ(m_list.folderPath(), folder() + "sub/");
}

// --- Previous and Next ---

TEST_F(FileListTest, NextAndPreviousStopAtTheEnds)
{
    writePicture("a.bmp");
    writePicture("b.bmp");
    listAll();

    EXPECT_EQ(m_list.SelectPreviousFile(), std::nullopt);
    EXPECT_EQ(m_list.SelectNextFile(), file("a.bmp"));
    EXPECT_EQ(m_list.SelectPreviousFile(), std::nullopt);
    EXPECT_EQ(m_list.SelectNextFile(), file("b.bmp"));
    EXPECT_EQ(m_list.SelectNextFile(), std::nullopt);
    EXPECT_EQ(m_list.currentFileIndex(), 1);
    EXPECT_EQ(m_list.currentIndex().row(), rowOf("b.bmp"));
    EXPECT_FALSE(m_doc.hasImage()) << "stepping selects without opening";

    listAll();
    EXPECT_EQ(m_list.SelectNextFile(), file("a.bmp")) << "a new listing starts again";
}

// The document steps along the list: at either end the picture on show stays, and is not even
// read again.
TEST_F(FileListTest, NextOnTheLastFileAndPreviousOnTheFirstLeaveThePictureAlone)
{
    fs::create_directory(file("sub"));
    writePicture("a.bmp");
    writePicture("b.bmp");
    listAll();
    m_list.show();

    m_list.clickRow(rowOf("b.bmp"));
    writeBytes("b.bmp", 4); // were it opened again, the document would empty
    m_doc.onNextImage();
    EXPECT_TRUE(m_doc.hasImage());
    EXPECT_EQ(m_doc.currentPath(), file("b.bmp"));
    EXPECT_EQ(m_list.currentFileIndex(), 1);
    EXPECT_EQ(m_list.currentIndex().row(), rowOf("b.bmp"));

    m_list.clickRow(rowOf("a.bmp"));
    writeBytes("a.bmp", 4);
    m_doc.onPreviousImage(); // the folders above the first file are no step back
    EXPECT_TRUE(m_doc.hasImage());
    EXPECT_EQ(m_doc.currentPath(), file("a.bmp"));
    EXPECT_EQ(m_list.currentFileIndex(), 0);
    EXPECT_EQ(m_list.currentIndex().row(), rowOf("a.bmp"));
    EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(FileListTest, DocumentStepsAlongTheVisibleList)
{
    writePicture("a.bmp");
    writePicture("b.bmp");
    listAll();
    m_list.show();

    m_doc.onNextImage();
    m_doc.onNextImage();
    EXPECT_EQ(m_doc.currentPath(), file("b.bmp"));
    m_doc.onPreviousImage();
    EXPECT_EQ(m_doc.currentPath(), file("a.bmp"));
}

// --- Keys ---

TEST_F(FileListTest, KeysMoveTheHighlightOnlyAndNeverStepThePictures)
{
    writePicture("a.bmp");
    writePicture("b.bmp");
    listAll();
    m_list.show();
    m_list.setFocus();
    m_list.clickRow(rowOf("a.bmp"));

    // Up, Down, Page Up and Page Down belong to the main window's Previous and Next Image,
    // even when there is no picture to step to.
    for (auto key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Up, Qt::Key_PageUp})
        QTest::keyClick(&m_list, key);
    EXPECT_EQ(m_list.currentIndex().row(), rowOf("a.bmp"));

    QTest::keyClick(&m_list, Qt::Key_End);
    EXPECT_EQ(m_list.currentIndex().row(), rowOf("b.bmp"));
    EXPECT_EQ(m_list.currentFileIndex(), 0);
    EXPECT_EQ(m_doc.currentPath(), file("a.bmp"));
}

// --- Renaming ---

// The editor open on a row, once Qt has dropped any editor closed before.
QLineEdit* openEditor(QAbstractItemView& view)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return view.viewport()->findChild<QLineEdit*>();
}

void typeIntoEditor(QLineEdit* editor, const QString& text)
{
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // Qt commits an edit after the key's event
}

TEST_F(FileListTest, F2EditsTheNameOfTheHighlightedRowAndTheRenameDecides)
{
    fs::create_directory(file("sub"));
    writePicture("a.bmp");
    writePicture("b.bmp");
    Strings renames;
    bool answer = true;
    m_list.setRenameHandler([&](const std::string& item, const std::string& name) {
        renames.push_back(item + " -> " + name);
        if (answer)
            fs::rename(item, folder() + name);
        return answer;
    });
    listAll();
    m_list.resize(400, 300);
    m_list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
    m_list.setFocus();

    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, centreOf("a.bmp"));
    QTest::keyClick(&m_list, Qt::Key_F2);
    QLineEdit* editor = openEditor(m_list);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "a.bmp");
    typeIntoEditor(editor, "c.bmp");
    EXPECT_EQ(renames, (Strings{folder() + "a.bmp -> c.bmp"}));
    // Renamed where it stands; Next and Previous step by the new name.
    EXPECT_EQ(names(), (Strings{"..", "sub", "c.bmp", "b.bmp"}));
    EXPECT_EQ(m_list.currentFileIndex(), 0);
    EXPECT_EQ(m_list.SelectNextFile(), file("b.bmp"));
    EXPECT_EQ(m_list.SelectPreviousFile(), file("c.bmp"));

    // Refused: the old name stays.
    answer = false;
    QTest::keyClick(&m_list, Qt::Key_F2);
    editor = openEditor(m_list);
    ASSERT_NE(editor, nullptr);
    typeIntoEditor(editor, "d.bmp");
    EXPECT_EQ(renames.back(), folder() + "c.bmp -> d.bmp");
    EXPECT_EQ(names(), (Strings{"..", "sub", "c.bmp", "b.bmp"}));

    // Unchanged or empty names ask nothing; the way up has no name to change.
    QTest::keyClick(&m_list, Qt::Key_F2);
    typeIntoEditor(openEditor(m_list), "c.bmp");
    QTest::keyClick(&m_list, Qt::Key_F2);
    typeIntoEditor(openEditor(m_list), "");
    EXPECT_EQ(renames.size(), 2u);
    QTest::keyClick(&m_list, Qt::Key_Home);
    ASSERT_EQ(m_list.currentIndex().row(), rowOf(".."));
    QTest::keyClick(&m_list, Qt::Key_F2);
    EXPECT_EQ(openEditor(m_list), nullptr);
}

// --- Large folders ---

TEST_F(FileListTest, IconsAreFetchedOnlyForRowsOnShow)
{
    for (int i = 0; i < 500; ++i)
        writeBytes("f" + std::to_string(i) + ".png", 0);
    listAll();
    m_list.resize(300, 200);
    m_list.show();
    m_list.grab();

    EXPECT_GT(m_list.listModel()->fetchedIconCount(), 0);
    EXPECT_LT(m_list.listModel()->fetchedIconCount(), 100);
}

} // namespace
} // namespace ombri::reader
