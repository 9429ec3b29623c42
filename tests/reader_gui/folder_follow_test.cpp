// The file list follows what other programs do to the listed folder, F5 lists it again, and a
// picture that went away is never left on show.
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/image_view.h"
#include "reader_gui/reader_window_fixture.h"

#include <QMenu>
#include <QProcess>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

using Strings = std::vector<std::string>;

// Long enough for a loaded machine; the list itself follows well within a second.
constexpr int kFollowMs = 1000;

// The fixture's folder with p1.bmp, p2.bmp and p3.bmp (greys 10, 20 and 30) beside its three.
class FolderFollowTest : public ReaderFrameTest {
  protected:
    void SetUp() override
    {
        ReaderFrameTest::SetUp();
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(
                test::succeeded(WriteBmpFile(dir.file("p" + std::to_string(i) + ".bmp"),
                                             solidPicture(40, 30, static_cast<uint8_t>(10 * i)))));
        }
    }

    // Another program at work in the folder: a shell run to its end, at most a few seconds.
    void runElsewhere(const QString& command)
    {
        QProcess shell;
        shell.setWorkingDirectory(QString::fromStdString(dir.path()));
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        ASSERT_TRUE(shell.waitForFinished(5000)) << command.toStdString();
        ASSERT_EQ(shell.exitCode(), 0) << command.toStdString();
    }

    // Waits, the events going round, until the condition holds; false after a second.
    template <typename Condition> static bool followed(Condition condition)
    {
        return QTest::qWaitFor(condition, kFollowMs);
    }

    static Strings listedFiles(FileList& list)
    {
        Strings names;
        for (const FileEntry& entry : list.files())
            names.push_back(entry.name);
        return names;
    }
    static bool lists(FileList& list, const std::string& name)
    {
        const Strings names = listedFiles(list);
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    static uint64_t listedSize(FileList& list, const std::string& name)
    {
        for (const FileEntry& entry : list.files()) {
            if (entry.name == name)
                return entry.size;
        }
        return 0;
    }
    // The file the list holds as current, with the highlight on its row.
    static std::string currentName(FileList& list)
    {
        const int index = list.currentFileIndex();
        if (index < 0)
            return std::string();
        const int row = static_cast<int>(list.folders().size()) + index;
        if (list.selectionModel()->currentIndex().row() != row)
            return "highlight elsewhere";
        return list.files()[static_cast<size_t>(index)].name;
    }
    // The grey at the centre of the image view, or -1 with no picture.
    static int shownGrey(ReaderWindow& frame)
    {
        if (!frame.document().hasImage())
            return -1;
        const QSize client = frame.view().inspect().client;
        return qRed(frame.view().inspect().frame.pixel(client.width() / 2, client.height() / 2));
    }
};

// Files copied in, appended to, renamed and removed by another program are followed, the
// current file and the picture on show staying where they were.
TEST_F(FolderFollowTest, ChangesByAnotherProgramAreFollowed)
{
    ReaderWindow& frame = start({file("p2.bmp")});
    FileList& list = frame.list();
    ASSERT_EQ(currentName(list), "p2.bmp");
    ASSERT_EQ(shownGrey(frame), 20);

    runElsewhere(QStringLiteral("cp p1.bmp d.bmp"));
    ASSERT_TRUE(followed([&] { return lists(list, "d.bmp"); }));
    EXPECT_EQ(currentName(list), "p2.bmp");

    const uint64_t before = listedSize(list, "p3.bmp");
    runElsewhere(QStringLiteral("printf 0123456789 >> p3.bmp"));
    ASSERT_TRUE(followed([&] { return listedSize(list, "p3.bmp") == before + 10; }))
        << listedSize(list, "p3.bmp");
    EXPECT_EQ(currentName(list), "p2.bmp");

    runElsewhere(QStringLiteral("mv p1.bmp q1.bmp"));
    ASSERT_TRUE(followed([&] { return lists(list, "q1.bmp") && !lists(list, "p1.bmp"); }));
    EXPECT_EQ(currentName(list), "p2.bmp");

    runElsewhere(QStringLiteral("rm a.bmp"));
    ASSERT_TRUE(followed([&] { return !lists(list, "a.bmp"); }));
    EXPECT_EQ(listedFiles(list),
              (Strings{"b.bmp", "c.bmp", "d.bmp", "p2.bmp", "p3.bmp", "q1.bmp"}));
    EXPECT_EQ(currentName(list), "p2.bmp");
    EXPECT_EQ(shownGrey(frame), 20);
}

// With many files the rows on screen stay where they were when one is added above them.
TEST_F(FolderFollowTest, AFileAddedKeepsTheScrollPosition)
{
    runElsewhere(QStringLiteral("for i in $(seq 10 89); do cp p1.bmp m$i.bmp; done"));
    ReaderWindow& frame = start({file("p3.bmp")});
    frame.show();
    FileList& list = frame.list();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    QScrollBar* bar = list.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 10);
    bar->setValue(bar->maximum() / 2);
    const int scrolled = bar->value();

    runElsewhere(QStringLiteral("cp p1.bmp a0.bmp"));
    ASSERT_TRUE(followed([&] { return lists(list, "a0.bmp"); }));
    EXPECT_EQ(bar->value(), scrolled);
    EXPECT_EQ(currentName(list), "p3.bmp");
}

// F5, and View > Refresh, list the folder again at once.
TEST_F(FolderFollowTest, F5ListsTheFolderAgain)
{
    ReaderWindow& frame = start({file("p2.bmp")});
    FileList& list = frame.list();
    const QAction* refresh = frame.commands().action(cmd::Refresh);
    ASSERT_NE(refresh, nullptr);
    EXPECT_TRUE(frame.menu(QStringLiteral("&View"))->actions().contains(refresh));
    EXPECT_EQ(refresh->shortcut(), QKeySequence(Qt::Key_F5));

    // Given before the events loop comes round, so that only the key can have listed them.
    runElsewhere(QStringLiteral("cp p1.bmp d.bmp && rm c.bmp"));
    QTest::keyClick(&frame, Qt::Key_F5);
    EXPECT_TRUE(lists(list, "d.bmp"));
    EXPECT_FALSE(lists(list, "c.bmp"));
    EXPECT_EQ(currentName(list), "p2.bmp");

    runElsewhere(QStringLiteral("rm d.bmp"));
    EXPECT_TRUE(frame.commands().trigger(cmd::Refresh));
    EXPECT_FALSE(lists(list, "d.bmp"));
}

// The picture on show, removed by another program, gives way to the one after it, then to the
// one before it, then to nothing: never a blank picture of a file that is not there.
TEST_F(FolderFollowTest, APictureOnShowThatWentIsNotKept)
{
    runElsewhere(QStringLiteral("rm a.bmp b.bmp c.bmp"));
    ReaderWindow& frame = start({file("p2.bmp")});
    FileList& list = frame.list();

    runElsewhere(QStringLiteral("rm p2.bmp"));
    ASSERT_TRUE(followed([&] { return shownGrey(frame) == 30; })) << shownGrey(frame);
    EXPECT_EQ(frame.document().currentPath(), dir.file("p3.bmp"));
    EXPECT_EQ(currentName(list), "p3.bmp");

    runElsewhere(QStringLiteral("rm p3.bmp"));
    ASSERT_TRUE(followed([&] { return shownGrey(frame) == 10; })) << shownGrey(frame);
    EXPECT_EQ(currentName(list), "p1.bmp");

    runElsewhere(QStringLiteral("rm p1.bmp"));
    ASSERT_TRUE(followed([&] { return !frame.document().hasImage(); }));
    EXPECT_TRUE(listedFiles(list).empty());
    EXPECT_EQ(list.currentFileIndex(), -1);
}

// A row clicked in the moment between its file going and the list following opens nothing: the
// row goes and the picture on show stays.
TEST_F(FolderFollowTest, AClickOnAFileThatWentOpensNothing)
{
    ReaderWindow& frame = start({file("p2.bmp")});
    FileList& list = frame.list();
    const int row = static_cast<int>(list.folders().size()) + 2; // c.bmp
    ASSERT_EQ(list.files()[2].name, "c.bmp");
    runElsewhere(QStringLiteral("rm c.bmp"));
    list.clickRow(row);
    EXPECT_FALSE(lists(list, "c.bmp"));
    EXPECT_EQ(frame.document().currentPath(), dir.file("p2.bmp"));
    EXPECT_EQ(shownGrey(frame), 20);
    EXPECT_EQ(currentName(list), "p2.bmp");
}

} // namespace
} // namespace ombri::reader
