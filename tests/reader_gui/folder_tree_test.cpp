#include "reader/ui/folder_tree.h"

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/openable_reader_document.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// A tree rooted at a temporary folder, linked to a real reader document, with the file list,
// the rename and the delete standing in as recorders.
class FolderTreeTest : public testing::Test {
  protected:
    FolderTreeTest() : m_savedDirectory(fs::current_path()) {}
    // Opening a picture moves the process into the picture's folder.
    ~FolderTreeTest() override { fs::current_path(m_savedDirectory); }

    std::string path(const std::string& relative) const { return m_dir.file(relative); }
    void makeFolder(const std::string& relative) { fs::create_directories(path(relative)); }
    void makeFile(const std::string& relative) { test::writeFileBytes(path(relative), {'x'}); }
    void makePicture(const std::string& relative)
    {
        ASSERT_TRUE(
            test::succeeded(WriteBmpFile(path(relative), test::makePatternImage(5, 3, 24))));
    }

    void openTree(const std::string& start = {})
    {
        m_tree = std::make_unique<FolderTree>(&m_doc);
        FolderTree::Hooks hooks;
        hooks.listFolder = [this](const std::string& p) { m_listed.push_back(p); };
        hooks.isListVisible = [this] { return m_listVisible; };
        hooks.rename = [this](const std::string& itemPath, const std::string& newName) {
            m_renames.push_back(itemPath + " -> " + newName);
            if (m_renameAnswer)
                fs::rename(itemPath, fs::path(itemPath).parent_path() / newName);
            return m_renameAnswer;
        };
        hooks.deleteItem = [this](const std::string& itemPath) {
            m_deleted.push_back(itemPath);
            return m_deleteAnswer && fs::remove_all(itemPath) > 0;
        };
        hooks.imageReleased = [this] { ++m_imageReleases; };
        hooks.leaveFullScreen = [this] { ++m_fullScreenExits; };
        hooks.forwardCommand = [this](int command) { m_forwarded.push_back(command); };
        m_tree->setHooks(hooks);
        ASSERT_TRUE(m_tree->Initialise(start.empty() ? m_dir.path() : start));
    }

    QTreeWidgetItem* root() const { return m_tree->topLevelItem(0); }

    // The item showing a path below the root, found by its labels.
    QTreeWidgetItem* itemFor(const std::string& relative) const
    {
        QTreeWidgetItem* item = root();
        for (const auto& name : fs::path(relative)) {
            QTreeWidgetItem* parent = item;
            item = nullptr;
            for (int i = 0; i < parent->childCount() && !item; ++i) {
                if (parent->child(i)->text(0).toStdString() == name.string())
                    item = parent->child(i);
            }
            if (!item)
                return nullptr;
        }
        return item;
    }

    // Labels of the children; a placeholder shows as "+".
    static Strings labels(const QTreeWidgetItem* item)
    {
        Strings result;
        for (int i = 0; i < item->childCount(); ++i) {
            const QTreeWidgetItem* child = item->child(i);
            result.push_back(FolderTreeWidget::itemKind(child) == TreeItemKind::Placeholder
                                 ? "+"
                                 : child->text(0).toStdString());
        }
        return result;
    }

    std::string selectedPath() const { return m_tree->itemPath(m_tree->selectedItem()); }

    fs::path m_savedDirectory;
    test::TempDir m_dir;
    ScriptedPrompt m_prompt;
    OpenableReaderDocument m_doc{m_prompt};
    bool m_listVisible = true;
    bool m_renameAnswer = true;
    bool m_deleteAnswer = true;
    Strings m_listed, m_renames, m_deleted;
    std::vector<int> m_forwarded;
    int m_imageReleases = 0;
    int m_fullScreenExits = 0;
    std::unique_ptr<FolderTree> m_tree; // after the document, so that it goes first
};

// --- What a folder shows ---

TEST_F(FolderTreeTest, SubfoldersAppearInNameOrderWithoutHiddenRecycleOrTrashFolders)
{
    for (const char* folder :
         {"beta/sub", "Alpha", ".hidden", "RECYCLER/inside", "Recycled", "old RECYCLER set",
          "recycler", "home/.local/share/Trash/files", "home/.local/share/fonts"})
        makeFolder(folder);
    makeFile("a.bmp");
    openTree();
    EXPECT_EQ(labels(root()), (Strings{"Alpha", "beta", "home", "recycler"}));
    // Only a folder with something to show gets an expand button.
    EXPECT_EQ(labels(itemFor("beta")), (Strings{"+"}));
    EXPECT_TRUE(labels(itemFor("Alpha")).empty());

    openTree(path("home/.local/share"));
    EXPECT_EQ(labels(root()), (Strings{"fonts"}));
    openTree(path("RECYCLER"));
    m_tree->expandItem(root());
    EXPECT_TRUE(labels(root()).empty());
}

TEST_F(FolderTreeTest, NamesSortByLettersWithoutCaseThenBySpelling)
{
    for (const char* folder : {"photos", "Beta", "Photos", "alpha", "_drafts", "9", "10"})
        makeFolder(folder);
    openTree();
    EXPECT_EQ(labels(root()), (Strings{"10", "9", "_drafts", "alpha", "Beta", "Photos", "photos"}));
}

// The expand button promises something to show: a folder holding only what the tree leaves out
// gets none.
TEST_F(FolderTreeTest, AFolderOfExcludedEntriesOnlyHasNoExpandButton)
{
    for (const char* folder : {"bin/Recycled", "bin/.cache", "bin/RECYCLER", "data/Trash/files",
                               "keep/Recycled", "keep/real"})
        makeFolder(folder);
    makeFile("bin/.hidden.bmp");
    const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(path("data")));
    openTree();
    const Strings shown = labels(root());
    const Strings binChildren = labels(itemFor("bin"));
    const Strings dataChildren = labels(itemFor("data"));
    const Strings keepChildren = labels(itemFor("keep"));
    m_tree->expandItem(itemFor("keep"));
    const Strings keepExpanded = labels(itemFor("keep"));
    if (oldDataHome.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldDataHome);

    EXPECT_EQ(shown, (Strings{"bin", "data", "keep"}));
    EXPECT_TRUE(binChildren.empty());
    EXPECT_TRUE(dataChildren.empty()) << "the user's trash is left out";
    EXPECT_EQ(keepChildren, (Strings{"+"}));
    EXPECT_EQ(keepExpanded, (Strings{"real"}));
}

TEST_F(FolderTreeTest, FilesFollowTheFoldersWhileTheListIsHidden)
{
    for (const char* folder : {"b", "A", "onlyHidden"})
        makeFolder(folder);
    for (const char* file : {"z.bmp", "C.txt", ".x.bmp", "onlyHidden/.dot"})
        makeFile(file);
    openTree();
    m_listVisible = false;
    m_tree->expandItem(root());
    EXPECT_EQ(labels(root()), (Strings{"A", "b", "onlyHidden", "C.txt", "z.bmp"}));
    EXPECT_TRUE(labels(itemFor("onlyHidden")).empty());

    m_listVisible = true;
    m_tree->collapseItem(root());
    m_tree->expandItem(root());
    EXPECT_EQ(labels(root()), (Strings{"A", "b", "onlyHidden"}));
}

TEST_F(FolderTreeTest, CollapsingAndExpandingReadsTheFolderAgain)
{
    makeFolder("beta");
    openTree();
    m_tree->expandItem(root());
    makeFolder("delta");
    m_tree->collapseItem(root());
    EXPECT_EQ(labels(root()), (Strings{"+"}));
    m_tree->expandItem(root());
    EXPECT_EQ(labels(root()), (Strings{"beta", "delta"}));
}

TEST_F(FolderTreeTest, ReExpandingDropsWhatWentAndGivesButtonsToWhatFilled)
{
    for (const char* folder : {"beta/inner", "gamma", "omega"})
        makeFolder(folder);
    openTree();
    m_tree->expandItem(itemFor("beta"));
    ASSERT_EQ(labels(itemFor("beta")), (Strings{"inner"}));

    fs::remove_all(path("beta/inner"));
    makeFolder("gamma/new");
    fs::remove_all(path("omega"));
    m_tree->collapseItem(root());
    m_tree->expandItem(root());
    EXPECT_EQ(labels(root()), (Strings{"beta", "gamma"}));
    EXPECT_TRUE(labels(itemFor("beta")).empty()) << "emptied on disk: no expand button";
    EXPECT_EQ(labels(itemFor("gamma")), (Strings{"+"}));
    EXPECT_FALSE(itemFor("beta")->isExpanded());
}

// --- Going to a path ---

TEST_F(FolderTreeTest, GoToPathMatchesNamesWithoutRegardToCase)
{
    makeFolder("beta/Sub");
    makeFolder("Photos");
    makeFolder("photos");
    openTree();
    ASSERT_TRUE(m_tree->GoToPath(path("BETA/sub/")));
    // The tree and the file list take the spelling on disk.
    EXPECT_EQ(selectedPath(), path("beta/Sub"));
    EXPECT_EQ(m_listed, (Strings{path("beta/Sub")}));
    ASSERT_TRUE(m_tree->GoToPath(path("photos")));
    EXPECT_EQ(selectedPath(), path("photos"));
}

TEST_F(FolderTreeTest, GoToPathReachesAFolderMadeAfterItsParentWasRead)
{
    makeFolder("Alpha");
    openTree();
    ASSERT_TRUE(labels(itemFor("Alpha")).empty());
    makeFolder("Alpha/New Folder");
    ASSERT_TRUE(m_tree->GoToPath(path("Alpha/New Folder")));
    EXPECT_EQ(selectedPath(), path("Alpha/New Folder"));
}

TEST_F(FolderTreeTest, GoToPathOutsideTheTreeSelectsNothing)
{
    makeFolder("beta");
    makeFolder("Recycled/inside");
    openTree();
    ASSERT_TRUE(m_tree->GoToPath(path("beta")));
    m_listed.clear();
    EXPECT_FALSE(m_tree->GoToPath(path("missing")));
    EXPECT_FALSE(m_tree->GoToPath("/usr"));
    EXPECT_EQ(selectedPath(), path("beta"));
    // A path that exists but is never shown is looked for, and not found.
    EXPECT_FALSE(m_tree->GoToPath(path("Recycled/inside")));
    EXPECT_TRUE(m_listed.empty());
}

// Folders whose names start with a dot are left out, until a path inside one is gone to: from
// then on the tree shows that folder, so that it can be listed and its pictures stepped through.
TEST_F(FolderTreeTest, GoToPathShowsTheHiddenFoldersOnItsWay)
{
    makeFolder("x/.set/.inner");
    makeFolder("x/.other");
    makePicture("x/.set/.inner/p1.bmp");
    openTree();
    ASSERT_TRUE(m_tree->GoToPath(path("x/.SET/.inner")));
    EXPECT_EQ(selectedPath(), path("x/.set/.inner"));
    EXPECT_EQ(m_listed.back(), path("x/.set/.inner"));
    EXPECT_EQ(labels(itemFor("x")), (Strings{".set"}));
    EXPECT_EQ(labels(itemFor("x/.set")), (Strings{".inner"}));

    // Read again from disk, they stay; other hidden folders stay out.
    m_tree->collapseItem(root());
    m_tree->expandItem(root());
    EXPECT_EQ(labels(itemFor("x")), (Strings{"+"}));
    m_tree->expandItem(itemFor("x"));
    EXPECT_EQ(labels(itemFor("x")), (Strings{".set"}));
    EXPECT_EQ(labels(itemFor("x/.set")), (Strings{"+"}));

    // Without the file list the picture itself is selected, which opens it.
    m_listVisible = false;
    ASSERT_TRUE(m_tree->GoToPath(path("x/.set/.inner/p1.bmp")));
    EXPECT_EQ(m_doc.currentPath(), path("x/.set/.inner/p1.bmp"));
}

// --- Selecting opens through the document ---

TEST_F(FolderTreeTest, SelectingOpensThePathAndListsIt)
{
    makePicture("a.bmp");
    makeFolder("beta");
    m_listVisible = false;
    openTree();
    ASSERT_TRUE(m_tree->GoToPath(path("a.bmp")));
    EXPECT_TRUE(m_doc.hasImage());
    EXPECT_EQ(m_doc.currentPath(), path("a.bmp"));
    EXPECT_EQ(m_listed.back(), path("a.bmp"));

    // A folder is no picture: the document empties but keeps the picture's path.
    m_tree->setCurrentItem(itemFor("beta"));
    EXPECT_FALSE(m_doc.hasImage());
    EXPECT_EQ(m_doc.currentPath(), path("a.bmp"));
    EXPECT_EQ(m_listed.back(), path("beta"));
    EXPECT_TRUE(m_prompt.messages().empty());

    // Next Image without the list steps the tree, whose selection opens the picture.
    makePicture("b.bmp");
    m_doc.OnOpenDocument(path("a.bmp"));
    m_doc.onNextImage();
    EXPECT_EQ(selectedPath(), path("b.bmp"));
    EXPECT_EQ(m_doc.currentPath(), path("b.bmp"));
}

// --- Following the file list into a folder ---

TEST_F(FolderTreeTest, RefreshCurrentFolderFollowsTheListDownward)
{
    makeFolder("beta/sub");
    openTree();
    ASSERT_TRUE(m_tree->GoToPath(path("beta")));
    makeFolder("beta/fresh");
    m_tree->RefreshCurrentFolder(path("beta/fresh"));
    EXPECT_EQ(labels(itemFor("beta")), (Strings{"fresh", "sub"}));
    EXPECT_TRUE(itemFor("beta")->isExpanded());
    ASSERT_NE(m_tree->currentFolderItem(), nullptr);
    EXPECT_EQ(m_tree->itemPath(m_tree->currentFolderItem()), path("beta/fresh"));

    makeFolder("beta/fresh/inner");
    m_tree->RefreshCurrentFolder(path("beta/fresh/inner"));
    EXPECT_EQ(labels(itemFor("beta/fresh")), (Strings{"inner"}));
    EXPECT_EQ(m_tree->itemPath(m_tree->currentFolderItem()), path("beta/fresh/inner"));
    // The selection stays where the user put it.
    EXPECT_EQ(selectedPath(), path("beta"));
}

// --- Renaming by label editing ---

TEST_F(FolderTreeTest, RenameGetsTheItemsOwnPathAndTheNewLabel)
{
    makeFolder("beta/sub");
    openTree();
    QTreeWidgetItem* beta = itemFor("beta");
    ASSERT_TRUE(m_tree->endLabelEdit(beta, "omega"));
    EXPECT_EQ(m_renames, (Strings{path("beta") + " -> omega"}));
    EXPECT_EQ(beta->text(0), "omega");
    m_tree->expandItem(beta);
    EXPECT_NE(itemFor("omega/sub"), nullptr);
}

TEST_F(FolderTreeTest, ARefusedEmptyOrRootEditKeepsTheLabel)
{
    makeFolder("beta");
    openTree();
    m_tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_tree.get()));
    m_tree->expandItem(root());
    QTreeWidgetItem* beta = itemFor("beta");
    EXPECT_FALSE(m_tree->endLabelEdit(beta, ""));
    EXPECT_FALSE(m_tree->endLabelEdit(beta, "a/b"));
    EXPECT_FALSE(m_tree->endLabelEdit(root(), "top"));
    EXPECT_TRUE(m_renames.empty());

    // Through the editor, so that Qt's own writing of the label is ruled out too.
    m_renameAnswer = false;
    m_tree->editItem(beta);
    auto* editor = m_tree->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("omega");
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents(); // Qt commits an edit after the key's event
    EXPECT_EQ(m_renames, (Strings{path("beta") + " -> omega"}));
    EXPECT_EQ(beta->text(0), "beta");
}

TEST_F(FolderTreeTest, F2EditsTheLabelOfTheSelectedFolderButNotOfARoot)
{
    makeFolder("beta");
    openTree();
    m_tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_tree.get()));
    m_tree->setFocus();
    m_tree->setCurrentItem(root());
    QTest::keyClick(m_tree.get(), Qt::Key_F2);
    EXPECT_EQ(m_tree->viewport()->findChild<QLineEdit*>(), nullptr);

    ASSERT_TRUE(m_tree->GoToPath(path("beta")));
    QTest::keyClick(m_tree.get(), Qt::Key_F2);
    auto* editor = m_tree->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "beta");
    editor->selectAll();
    QTest::keyClicks(editor, "omega");
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(m_renames, (Strings{path("beta") + " -> omega"}));
    EXPECT_EQ(itemFor("beta"), nullptr);
    EXPECT_NE(itemFor("omega"), nullptr);
}

// --- Deleting with the Delete key ---

TEST_F(FolderTreeTest, DeleteKeyRemovesTheItemAndSelectsItsNextSibling)
{
    makeFolder("Alpha");
    makeFolder("beta");
    openTree();
    m_tree->setCurrentItem(root()); // roots are never deleted
    m_tree->onDelete();
    EXPECT_TRUE(m_deleted.empty());

    ASSERT_TRUE(m_tree->GoToPath(path("Alpha")));
    m_deleteAnswer = false;
    m_tree->onDelete();
    EXPECT_EQ(labels(root()), (Strings{"Alpha", "beta"}));

    m_deleteAnswer = true;
    QTest::keyClick(m_tree.get(), Qt::Key_Delete);
    EXPECT_EQ(m_deleted, (Strings{path("Alpha"), path("Alpha")}));
    EXPECT_EQ(labels(root()), (Strings{"beta"}));
    EXPECT_EQ(selectedPath(), path("beta"));
    EXPECT_EQ(m_listed.back(), path("beta"));
}

// Without a next sibling the selection goes where the tree's highlight goes, to the previous
// sibling or else to the parent, and the file list and the document follow it: the picture goes.
TEST_F(FolderTreeTest, DeletingTheLastSiblingReleasesThePicture)
{
    makePicture("a.bmp");
    makeFolder("beta");
    makeFolder("zeta/only");
    openTree();
    ASSERT_TRUE(m_tree->GoToPath(path("zeta")));
    ASSERT_TRUE(m_doc.OnOpenDocument(path("a.bmp")));

    m_tree->onCommand(cmd::Delete);
    EXPECT_EQ(labels(root()), (Strings{"beta"}));
    EXPECT_FALSE(m_doc.hasImage());
    EXPECT_EQ(selectedPath(), path("beta"));
    EXPECT_EQ(m_listed.back(), path("beta"));
    EXPECT_EQ(m_tree->currentItem(), m_tree->selectedItem());

    makeFolder("beta/only");
    ASSERT_TRUE(m_tree->GoToPath(path("beta/only")));
    QTest::keyClick(m_tree.get(), Qt::Key_Delete);
    EXPECT_TRUE(labels(itemFor("beta")).empty());
    EXPECT_EQ(selectedPath(), path("beta"));
    EXPECT_EQ(m_listed.back(), path("beta"));
    EXPECT_EQ(m_tree->currentItem(), m_tree->selectedItem());
}

// --- Drag feedback ---

void sendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// A press that turns into a drag chooses nothing: the pressed item is neither selected nor
// opened, while a press released without a drag is a click that opens it.
TEST_F(FolderTreeTest, ReleasingTheButtonEndsTheDragAndMovesNothing)
{
    makeFolder("Alpha");
    makeFolder("beta");
    makeFolder("gamma");
    openTree();
    m_tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_tree.get()));
    ASSERT_TRUE(m_tree->GoToPath(path("gamma")));
    const size_t listings = m_listed.size();
    QWidget* viewport = m_tree->viewport();
    const QPoint from = m_tree->visualItemRect(itemFor("Alpha")).center();
    const QPoint to = m_tree->visualItemRect(itemFor("beta")).center();

    sendMouse(viewport, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(viewport, QEvent::MouseMove, to, Qt::LeftButton);
    ASSERT_TRUE(m_tree->isDragging());
    EXPECT_EQ(m_tree->dragItem(), itemFor("Alpha"));
    EXPECT_EQ(m_tree->dropTargetItem(), itemFor("beta"));
    EXPECT_EQ(selectedPath(), path("gamma"));

    sendMouse(viewport, QEvent::MouseButtonRelease, to, Qt::NoButton);
    EXPECT_FALSE(m_tree->isDragging());
    EXPECT_EQ(m_tree->dropTargetItem(), nullptr);
    EXPECT_FALSE(itemFor("beta")->data(0, Qt::BackgroundRole).isValid());
    EXPECT_EQ(viewport->findChild<QLabel*>(), nullptr);
    EXPECT_EQ(selectedPath(), path("gamma"));
    EXPECT_EQ(m_listed.size(), listings);

    QTest::mouseClick(viewport, Qt::LeftButton, {}, from);
    EXPECT_EQ(selectedPath(), path("Alpha"));
    EXPECT_EQ(m_listed.back(), path("Alpha"));
}

// The button coming up after a drag from the selected item chooses nothing either, over another
// item or below the last one.
TEST_F(FolderTreeTest, ADragFromTheSelectedItemKeepsTheSelection)
{
    makeFolder("Alpha");
    makeFolder("beta");
    makeFolder("gamma");
    openTree();
    m_tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_tree.get()));
    ASSERT_TRUE(m_tree->GoToPath(path("gamma")));
    const size_t listings = m_listed.size();
    QWidget* viewport = m_tree->viewport();
    const QRect gamma = m_tree->visualItemRect(itemFor("gamma"));
    const QPoint overBeta = m_tree->visualItemRect(itemFor("beta")).center();
    const QPoint belowAll = gamma.center() + QPoint(0, 2 * gamma.height());
    ASSERT_EQ(m_tree->itemAt(belowAll), nullptr);

    for (const QPoint to : {overBeta, belowAll}) {
        sendMouse(viewport, QEvent::MouseButtonPress, gamma.center(), Qt::LeftButton);
        sendMouse(viewport, QEvent::MouseMove, to, Qt::LeftButton);
        ASSERT_TRUE(m_tree->isDragging());
        sendMouse(viewport, QEvent::MouseButtonRelease, to, Qt::NoButton);
        EXPECT_EQ(selectedPath(), path("gamma"));
        EXPECT_EQ(m_listed.size(), listings);
    }
}

// A folder closed over the selected one takes the selection however far up it is, and the list
// follows it, rather than go on showing a folder the tree no longer shows.
TEST_F(FolderTreeTest, ClosingAFolderAboveTheSelectionSelectsIt)
{
    makeFolder("a/b/c");
    openTree();
    m_tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_tree.get()));
    for (const char* closed : {"a/b", "a"}) {
        ASSERT_TRUE(m_tree->GoToPath(path("a/b/c")));
        const QRect rect = m_tree->visualItemRect(itemFor(closed));
        QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {},
                          QPoint(rect.left() - m_tree->indentation() / 2, rect.center().y()));
        ASSERT_FALSE(itemFor(closed)->isExpanded());
        EXPECT_EQ(selectedPath(), path(closed));
        EXPECT_EQ(m_listed.back(), path(closed));
    }
}

// --- Keys and forwarded commands ---

TEST_F(FolderTreeTest, KeysAndCommandsReachTheFrameAndTheImageView)
{
    makeFolder("beta");
    openTree();
    QTest::keyClick(m_tree.get(), Qt::Key_Escape);
    EXPECT_EQ(m_fullScreenExits, 1);

    QTest::keyClick(m_tree.get(), Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FALSE(root()->isExpanded());
    EXPECT_TRUE(m_tree->onCommand(cmd::ColourGreen));
    EXPECT_TRUE(m_tree->onCommand(cmd::DisplayNotes));
    EXPECT_FALSE(m_tree->onCommand(cmd::NextImage));
    EXPECT_EQ(m_forwarded, (std::vector<int>{cmd::ZoomIn, cmd::ColourGreen, cmd::DisplayNotes}));
}

} // namespace
} // namespace ombri::reader
