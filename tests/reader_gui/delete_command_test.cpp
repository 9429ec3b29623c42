// Edit > Delete, its toolbar button and the Delete key through the whole program: each acts on
// what the pane the user is in names, asks about exactly that, and the panes follow.
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/file_operations.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/image_view.h"
#include "reader/ui/thumbnail_grid.h"
#include "reader_gui/reader_window_fixture.h"

#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// How the user gives the command.
enum class Way { Key, Toolbar, Menu };

// A home folder of the test's own, with the trash in it, holding pics/x1.bmp, x2.bmp and x3.bmp
// (greys 10, 20 and 30) and the folder pics/sub.
class DeleteCommandTest : public ReaderFrameTest {
  protected:
    void SetUp() override
    {
        ReaderFrameTest::SetUp();
        m_oldHome = qgetenv("HOME");
        m_oldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", QByteArray::fromStdString(dir.file("home")));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.file("home/.local/share")));
        fs::create_directories(dir.file("home/.local/share"));
        fs::create_directories(dir.file("home/pics/sub"));
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(test::succeeded(
                WriteBmpFile(pic(i), solidPicture(40, 30, static_cast<uint8_t>(10 * i)))));
        }
        ASSERT_TRUE(test::succeeded(
            WriteBmpFile(dir.file("home/pics/sub/s.bmp"), solidPicture(40, 30, 99))));
    }
    void TearDown() override
    {
        ReaderFrameTest::TearDown();
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

    std::string pic(int i) const { return dir.file("home/pics/x" + std::to_string(i) + ".bmp"); }
    std::string pics() const { return dir.file("home/pics"); }
    bool trashed(const std::string& name) const
    {
        return fs::exists(dir.file("home/.local/share/Trash/files/" + name));
    }
    Strings picsEntries() const
    {
        Strings names;
        std::error_code error;
        for (auto it = fs::directory_iterator(pics(), error);
             !error && it != fs::directory_iterator(); it.increment(error))
            names.push_back(it->path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    Strings questions() const
    {
        Strings texts;
        for (const auto& message : prompt.messages())
            texts.push_back(message.text);
        return texts;
    }
    static std::string question(const std::string& path) { return kDeleteQuestion + path; }

    // The grey at the centre of the image view, or -1 for the background.
    static int shownGrey(ReaderWindow& frame)
    {
        if (!frame.document().hasImage())
            return -1;
        const QSize client = frame.view().inspect().client;
        return qRed(frame.view().inspect().frame.pixel(client.width() / 2, client.height() / 2));
    }
    static int listedFileIndex(FileList& list, const std::string& name)
    {
        for (size_t i = 0; i < list.files().size(); ++i) {
            if (list.files()[i].name == name)
                return static_cast<int>(i);
        }
        return -1;
    }
    static bool listsFolder(FileList& list, const std::string& name)
    {
        for (const FileEntry& entry : list.folders()) {
            if (entry.name == name)
                return true;
        }
        return false;
    }

    // A click on the file's row, or on its thumbnail, as the user picks a file.
    static void clickListedFile(ReaderWindow& frame, const std::string& name)
    {
        FileList& list = frame.list();
        const int row = static_cast<int>(list.folders().size()) + listedFileIndex(list, name);
        const QModelIndex index = list.model()->index(row, 0);
        QAbstractItemView* view = list.shownView();
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    }
    static void clickTreeItem(ReaderWindow& frame, QTreeWidgetItem* item)
    {
        FolderTree& tree = frame.tree();
        tree.scrollToItem(item);
        const QRect rect = tree.visualItemRect(item);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                          QPoint(rect.left() + std::min(rect.width() / 2, 20), rect.center().y()));
        QApplication::processEvents();
    }
    static void clickInView(ReaderWindow& frame)
    {
        QWidget* viewport = frame.view().viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, viewport->rect().center());
    }

    // Delete given the way asked, the question answered as asked.
    void giveDelete(ReaderWindow& frame, Way way, Answer answer)
    {
        prompt.queueAnswer(answer);
        QAction* action = frame.commands().action(cmd::Delete);
        switch (way) {
        case Way::Key:
            QTest::keyClick(frame.focusWidget(), Qt::Key_Delete);
            break;
        case Way::Toolbar: {
            QWidget* button = frame.mainToolBar()->widgetForAction(action);
            ASSERT_NE(button, nullptr);
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            break;
        }
        case Way::Menu: {
            QMenuBar* bar = frame.menuBar();
            QMenu* edit = frame.menu(QStringLiteral("&Edit"));
            ASSERT_NE(edit, nullptr);
            QTest::mouseClick(bar, Qt::LeftButton, {},
                              bar->actionGeometry(edit->menuAction()).center());
            QApplication::processEvents();
            ASSERT_TRUE(edit->isVisible());
            const QPoint item = edit->actionGeometry(action).center();
            QTest::mouseMove(edit, item);
            QTest::mouseClick(edit, Qt::LeftButton, {}, item);
            break;
        }
        }
        QApplication::processEvents();
    }

    QByteArray m_oldHome, m_oldDataHome;
};

// Opened by name, the picture is what Delete means, by the toolbar or by the key, not the folder
// the tree went to for it.
TEST_F(DeleteCommandTest, APictureOpenedByNameIsWhatDeleteAsksAbout)
{
    for (const Way way : {Way::Toolbar, Way::Key}) {
        prompt.clear();
        ReaderWindow& frame = start({QString::fromStdString(pic(2))});
        ASSERT_EQ(shownGrey(frame), 20);
        giveDelete(frame, way, Answer::No);
        EXPECT_EQ(questions(), Strings{question(pic(2))});
        EXPECT_EQ(picsEntries(), (Strings{"sub", "x1.bmp", "x2.bmp", "x3.bmp"}));
        EXPECT_EQ(shownGrey(frame), 20);
    }
}

struct ListCase {
    const char* name;
    bool thumbnails;
    Way way;
    Answer answer;
};

void PrintTo(const ListCase& listCase, std::ostream* out)
{
    *out << listCase.name;
}

class DeleteFromTheListTest : public DeleteCommandTest,
                              public testing::WithParamInterface<ListCase> {};

// The user was in the tree, then clicked x2 in the list: Delete names x2. Yes trashes it and the
// list moves on to x3 and shows it; No leaves everything as it was.
TEST_P(DeleteFromTheListTest, TrashesTheClickedFileAndShowsTheNext)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(1))});
    if (GetParam().thumbnails)
        frame.onThumbnails();
    frame.tree().setFocus();
    clickListedFile(frame, "x2.bmp");
    ASSERT_EQ(frame.document().currentPath(), pic(2));

    giveDelete(frame, GetParam().way, GetParam().answer);
    EXPECT_EQ(questions(), Strings{question(pic(2))});
    FileList& list = frame.list();
    if (GetParam().answer == Answer::No) {
        EXPECT_EQ(picsEntries(), (Strings{"sub", "x1.bmp", "x2.bmp", "x3.bmp"}));
        EXPECT_EQ(frame.document().currentPath(), pic(2));
        EXPECT_EQ(list.currentFileIndex(), 1);
        EXPECT_EQ(shownGrey(frame), 20);
        return;
    }
    EXPECT_EQ(picsEntries(), (Strings{"sub", "x1.bmp", "x3.bmp"}));
    EXPECT_TRUE(trashed("x2.bmp"));
    EXPECT_EQ(listedFileIndex(list, "x2.bmp"), -1);
    EXPECT_EQ(list.currentFileIndex(), listedFileIndex(list, "x3.bmp"));
    EXPECT_EQ(list.shownView()->currentIndex().data().toString(), "x3.bmp");
    EXPECT_EQ(frame.document().currentPath(), pic(3));
    EXPECT_EQ(shownGrey(frame), 30);
    // The focus stays in the list, so the next Delete goes on there.
    EXPECT_EQ(frame.deletePane(), ReaderWindow::Pane::List);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteFromTheListTest,
    testing::Values(ListCase{"DetailsKeyYes", false, Way::Key, Answer::Yes},
                    ListCase{"DetailsToolbarYes", false, Way::Toolbar, Answer::Yes},
                    ListCase{"DetailsMenuYes", false, Way::Menu, Answer::Yes},
                    ListCase{"DetailsKeyNo", false, Way::Key, Answer::No},
                    ListCase{"ThumbnailsKeyYes", true, Way::Key, Answer::Yes},
                    ListCase{"ThumbnailsToolbarYes", true, Way::Toolbar, Answer::Yes},
                    ListCase{"ThumbnailsMenuNo", true, Way::Menu, Answer::No}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

// Without a file after the deleted one the one before it is shown; when the last file goes the
// view shows no picture.
TEST_F(DeleteCommandTest, TheLastFileGivesWayToTheOneBeforeItThenToNothing)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(3))});
    for (const int expected : {20, 10, -1}) {
        giveDelete(frame, Way::Key, Answer::Yes);
        EXPECT_EQ(shownGrey(frame), expected);
    }
    EXPECT_EQ(picsEntries(), Strings{"sub"});
    EXPECT_TRUE(frame.list().files().empty());
    EXPECT_EQ(frame.list().currentFileIndex(), -1);
    EXPECT_FALSE(frame.document().hasImage());
    EXPECT_EQ(questions(), (Strings{question(pic(3)), question(pic(2)), question(pic(1))}));
}

// In the image view Delete means the picture on show, by the key, the toolbar and the menu alike;
// the next picture of the list takes its place.
TEST_F(DeleteCommandTest, TheImageViewTrashesThePictureOnShowAndShowsTheNext)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(1))});
    clickInView(frame);
    ASSERT_TRUE(frame.view().hasFocus());
    giveDelete(frame, Way::Key, Answer::Yes);
    EXPECT_EQ(shownGrey(frame), 20);
    EXPECT_EQ(frame.list().currentFileIndex(), listedFileIndex(frame.list(), "x2.bmp"));
    giveDelete(frame, Way::Toolbar, Answer::No);
    EXPECT_EQ(shownGrey(frame), 20);
    giveDelete(frame, Way::Menu, Answer::Yes);
    EXPECT_EQ(shownGrey(frame), 30);
    EXPECT_EQ(frame.document().currentPath(), pic(3));
    EXPECT_TRUE(trashed("x1.bmp"));
    EXPECT_TRUE(trashed("x2.bmp"));
    EXPECT_EQ(picsEntries(), (Strings{"sub", "x3.bmp"}));
    EXPECT_EQ(questions(), (Strings{question(pic(1)), question(pic(2)), question(pic(2))}));
    EXPECT_TRUE(frame.view().hasFocus());
}

// A picture dropped on the picture pane is what the user points at next, whichever pane had the
// focus before the drop.
TEST_F(DeleteCommandTest, APictureDroppedOnTheViewIsWhatDeleteAsksAbout)
{
    ReaderWindow& frame = start({});
    frame.tree().setFocus(Qt::MouseFocusReason);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(pic(3)))});
    QWidget* viewport = frame.view().viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QApplication::processEvents();
    ASSERT_EQ(shownGrey(frame), 30);
    EXPECT_EQ(frame.deletePane(), ReaderWindow::Pane::View);
    giveDelete(frame, Way::Toolbar, Answer::Yes);
    EXPECT_EQ(questions(), Strings{question(pic(3))});
    EXPECT_TRUE(trashed("x3.bmp"));
    EXPECT_EQ(picsEntries(), (Strings{"sub", "x1.bmp", "x2.bmp"}));
}

// Reached with Tab, the toolbar's button holds the focus itself: Delete pressed there still means
// the pane the user was in before.
TEST_F(DeleteCommandTest, TheToolbarButtonHoldingTheFocusActsOnThePaneLastFocused)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(1))});
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    frame.view().setFocus(Qt::MouseFocusReason);
    QWidget* button = frame.mainToolBar()->widgetForAction(frame.commands().action(cmd::Delete));
    ASSERT_NE(button, nullptr);
    button->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(button->hasFocus());
    EXPECT_EQ(frame.deletePane(), ReaderWindow::Pane::View);
    prompt.queueAnswer(Answer::Yes);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(questions(), Strings{question(pic(1))});
    EXPECT_TRUE(trashed("x1.bmp"));
    EXPECT_EQ(shownGrey(frame), 20);
}

// The tree's Delete is the only one that takes a folder, and only while the user is in the tree.
TEST_F(DeleteCommandTest, TheTreeTrashesItsSelectedFolderAndTheListFollows)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(1))});
    FolderTree& tree = frame.tree();
    QTreeWidgetItem* folder = tree.selectedItem();
    ASSERT_NE(folder, nullptr);
    ASSERT_EQ(tree.itemPath(folder), pics());
    tree.expandItem(folder);
    ASSERT_EQ(folder->childCount(), 1);
    clickTreeItem(frame, folder->child(0));
    ASSERT_EQ(frame.list().folderPath(), pics() + "/sub/");

    giveDelete(frame, Way::Toolbar, Answer::Yes);
    EXPECT_EQ(questions(), Strings{question(pics() + "/sub")});
    EXPECT_TRUE(trashed("sub"));
    EXPECT_EQ(picsEntries(), (Strings{"x1.bmp", "x2.bmp", "x3.bmp"}));
    EXPECT_EQ(folder->childCount(), 0);
    EXPECT_EQ(tree.selectedItem(), folder);
    EXPECT_EQ(frame.list().folderPath(), pics() + "/");
    EXPECT_FALSE(listsFolder(frame.list(), "sub"));
}

// A folder highlighted in the list goes from the list and from the tree; the picture on show
// stays.
TEST_F(DeleteCommandTest, AFolderDeletedFromTheListLeavesTheTreeToo)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(2))});
    QTreeWidgetItem* folder = frame.tree().selectedItem();
    ASSERT_NE(folder, nullptr);
    frame.tree().expandItem(folder);
    ASSERT_EQ(folder->childCount(), 1);
    FileList& list = frame.list();
    // Typing a name's first letters highlights its row.
    QTest::keyClicks(frame.focusWidget(), "su");
    ASSERT_EQ(list.selectedEntryPath(), pics() + "/sub");

    giveDelete(frame, Way::Key, Answer::Yes);
    EXPECT_EQ(questions(), Strings{question(pics() + "/sub")});
    EXPECT_TRUE(trashed("sub"));
    EXPECT_FALSE(listsFolder(list, "sub"));
    EXPECT_EQ(folder->childCount(), 0);
    EXPECT_EQ(frame.tree().selectedItem(), folder);
    EXPECT_EQ(frame.document().currentPath(), pic(2));
    EXPECT_EQ(shownGrey(frame), 20);
    EXPECT_EQ(list.currentFileIndex(), listedFileIndex(list, "x2.bmp"));
}

// The home folder, a root of the tree, is never deleted from the list either, nor is the way up:
// neither is even asked about.
TEST_F(DeleteCommandTest, TheHomeFolderAndTheWayUpAreNeverDeletedFromTheList)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(1))});
    FileList& list = frame.list();
    for (const char* up : {"pics", "home"}) {
        QAbstractItemView* view = list.shownView();
        const QModelIndex index = list.model()->index(0, 0);
        ASSERT_EQ(index.data().toString(), "..") << up;
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    }
    ASSERT_EQ(list.folderPath(), dir.path() + "/");
    QTest::keyClicks(frame.focusWidget(), "hom");
    ASSERT_EQ(list.selectedEntryPath(), dir.file("home"));
    giveDelete(frame, Way::Key, Answer::Yes);
    list.setCurrentIndex(list.model()->index(0, 0));
    ASSERT_EQ(list.selectedEntryPath(), std::nullopt);
    giveDelete(frame, Way::Toolbar, Answer::Yes);
    EXPECT_TRUE(questions().empty());
    EXPECT_EQ(picsEntries(), (Strings{"sub", "x1.bmp", "x2.bmp", "x3.bmp"}));
}

// Shift+Delete is Cut, which moves nothing, in every pane; so are Ctrl+Delete and Alt+Delete.
TEST_F(DeleteCommandTest, DeleteWithAModifierMovesNothing)
{
    ReaderWindow& frame = start({QString::fromStdString(pic(1))});
    QTreeWidgetItem* folder = frame.tree().selectedItem();
    ASSERT_NE(folder, nullptr);
    frame.tree().expandItem(folder);
    frame.list().setFocus();
    std::vector<QWidget*> panes{frame.focusWidget(), &frame.view()};
    clickTreeItem(frame, folder->child(0));
    panes.push_back(frame.focusWidget());
    for (QWidget* pane : panes) {
        pane->setFocus();
        for (const Qt::KeyboardModifier modifier :
             {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
            prompt.queueAnswer(Answer::Yes);
            QTest::keyClick(pane, Qt::Key_Delete, modifier);
            QApplication::processEvents();
        }
    }
    EXPECT_TRUE(questions().empty());
    EXPECT_EQ(picsEntries(), (Strings{"sub", "x1.bmp", "x2.bmp", "x3.bmp"}));
}

} // namespace
} // namespace ombri::reader
