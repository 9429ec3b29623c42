#include "formats/bmp.h"
#include "notes/render.h"
#include "platform/scripted_prompt.h"
#include "reader/adjustments.h"
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_app.h"
#include "reader/ui/reader_window.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/status.h"
#include "support/test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

TEST_F(ReaderFrameTest, ThreePanesUnderTheTitleWithTheTreeActive)
{
    ReaderWindow& frame = start();
    EXPECT_EQ(frame.windowTitle(), "OmbriReader");
    EXPECT_EQ(frame.size(), QSize(800, 600));
    ASSERT_EQ(frame.splitter()->count(), 3);
    EXPECT_EQ(frame.splitter()->widget(0), &frame.tree());
    EXPECT_EQ(frame.splitter()->widget(1), frame.list().paneWidget());
    EXPECT_EQ(frame.splitter()->widget(2), &frame.view());
    EXPECT_EQ(frame.splitter()->sizes().at(0), 200);
    EXPECT_EQ(frame.splitter()->sizes().at(1), 200);
    EXPECT_EQ(frame.imageTools()->orientation(), Qt::Vertical);
}

TEST_F(ReaderFrameTest, ImageToolsMenuShowsAndHidesTheBar)
{
    ReaderWindow& frame = start();
    frame.commands().updateAll();
    EXPECT_TRUE(frame.commands().isChecked(cmd::ImageTools));
    frame.commands().trigger(cmd::ImageTools);
    EXPECT_FALSE(frame.imageTools()->isVisible());
    EXPECT_FALSE(frame.commands().action(cmd::ImageTools)->isChecked());
    frame.commands().trigger(cmd::ImageTools);
    EXPECT_TRUE(frame.imageTools()->isVisible());
}

TEST_F(ReaderFrameTest, CommandLineFileOpensInItsFolderWithTheListShowingIt)
{
    ReaderWindow& frame = start({file("b.bmp")});
    EXPECT_TRUE(frame.document().hasImage());
    EXPECT_EQ(frame.document().currentPath(), dir.file("b.bmp"));
    EXPECT_EQ(frame.list().folderPath(), dir.path() + "/");
    EXPECT_EQ(fs::current_path(), fs::path(dir.path()));

    // The arrow keys step through the pictures wherever the focus is.
    frame.tree().setFocus();
    QTest::keyClick(&frame.tree(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("c.bmp"));
    QTest::keyClick(&frame.list(), Qt::Key_PageUp);
    EXPECT_EQ(frame.document().currentPath(), dir.file("b.bmp"));
}

// With no picture to step to, the stepping keys reach the folder tree, which must not move its
// selection with them: that would open another folder and take the picture away.
TEST_F(ReaderFrameTest, SteppingKeysPastTheEndsLeaveTheTreeAlone)
{
    fs::create_directories(dir.file("sub"));
    for (const char* name : {"c.bmp", "a.bmp"}) {
        ReaderWindow& frame = start({file(name)});
        const std::string folder = frame.tree().itemPath(frame.tree().selectedItem());
        ASSERT_EQ(folder, dir.path());
        frame.tree().setFocus();
        for (auto key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Up, Qt::Key_PageUp}) {
            QTest::keyClick(&frame.tree(), key);
            EXPECT_EQ(frame.tree().itemPath(frame.tree().selectedItem()), folder);
            EXPECT_TRUE(frame.document().hasImage());
        }
    }
}

TEST_F(ReaderFrameTest, PictureInAHiddenFolderIsListedAndSteppedFrom)
{
    fs::create_directories(dir.file("x/.set"));
    for (const char* name : {"x/.set/p1.bmp", "x/.set/p2.bmp"}) {
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file(name), solidPicture(40, 30, 200))));
    }
    ReaderWindow& frame = start({file("x/.set/p1.bmp")});
    EXPECT_EQ(frame.tree().itemPath(frame.tree().selectedItem()), dir.file("x/.set"));
    EXPECT_EQ(frame.list().folderPath(), dir.file("x/.set") + "/");
    EXPECT_EQ(frame.list().currentFileIndex(), 0);
    QTest::keyClick(&frame.list(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("x/.set/p2.bmp"));
}

TEST_F(ReaderFrameTest, CommandLineFolderIsListedAndItsFirstPictureShown)
{
    ReaderWindow& frame = start({QString::fromStdString(dir.path())});
    EXPECT_EQ(frame.list().folderPath(), dir.path() + "/");
    EXPECT_EQ(frame.document().currentPath(), dir.file("a.bmp"));
}

TEST_F(ReaderFrameTest, AFileThatCannotBeOpenedEndsTheStartWithAMessage)
{
    app = std::make_unique<ReaderApp>(&prompt);
    EXPECT_FALSE(app->initInstance({"ombri-reader", file("missing.png")}));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_NE(prompt.messages()[0].text.find("missing.png"), std::string::npos);
}

// Presses F2 in the pane, types the name over the selected one and presses Enter. False when no
// editor opened.
bool renameWithF2(QAbstractItemView& pane, const QString& name)
{
    QTest::keyClick(&pane, Qt::Key_F2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto* editor = pane.viewport()->findChild<QLineEdit*>();
    if (!editor)
        return false;
    editor->selectAll();
    QTest::keyClicks(editor, name);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    return true;
}

// F2 in the file list renames by the same rules as the tree: a new extension is asked about, a
// taken name refused.
TEST_F(ReaderFrameTest, F2InTheFileListRenamesThePicture)
{
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    list.setFocus();
    const auto rename = [&list](const QString& name) { return renameWithF2(list, name); };
    const auto shownName = [&list] {
        return list.model()->index(list.currentIndex().row(), 0).data().toString();
    };

    prompt.queueAnswer(Answer::No);
    ASSERT_TRUE(rename("z.BMP"));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text,
              "To change the extension may cause that the file cannot be used correctly.");
    EXPECT_TRUE(fs::exists(dir.file("a.bmp")));
    EXPECT_EQ(shownName(), "a.bmp");

    ASSERT_TRUE(rename("b.bmp")); // taken
    EXPECT_TRUE(fs::exists(dir.file("a.bmp")));
    EXPECT_EQ(shownName(), "a.bmp");

    prompt.queueAnswer(Answer::Yes);
    ASSERT_TRUE(rename("z.BMP"));
    EXPECT_FALSE(fs::exists(dir.file("a.bmp")));
    EXPECT_TRUE(fs::exists(dir.file("z.BMP")));
    EXPECT_EQ(shownName(), "z.BMP");
    EXPECT_EQ(frame.document().currentPath(), dir.file("z.BMP"));
    EXPECT_TRUE(frame.document().hasImage());
}

// A folder renamed in one pane takes its new name in the other: the tree relabels it, and a
// list that shows it goes on listing it under its new path, so its files still open.
TEST_F(ReaderFrameTest, ARenamedFolderIsFollowedByTheOtherPane)
{
    fs::create_directories(dir.file("x/sub"));
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("x/p.bmp"), solidPicture(40, 30, 90))));
    ReaderWindow& frame = start({file("x/p.bmp")});
    FolderTree& tree = frame.tree();
    FileList& list = frame.list();
    const auto editAndEnter = [](QAbstractItemView& pane, const QString& name) {
        pane.setFocus();
        return renameWithF2(pane, name);
    };

    // In the tree: the listed folder itself.
    ASSERT_EQ(tree.itemPath(tree.selectedItem()), dir.file("x"));
    ASSERT_TRUE(editAndEnter(tree, QStringLiteral("y")));
    ASSERT_TRUE(fs::exists(dir.file("y/p.bmp")));
    EXPECT_EQ(list.folderPath(), dir.file("y") + "/");
    EXPECT_EQ(frame.document().currentPath(), dir.file("y/p.bmp"));

    // In the list: a folder the tree shows under the listed one.
    list.setFocus();
    list.setCurrentIndex(list.model()->index(1, 0)); // "..", then "sub"
    ASSERT_EQ(list.model()->index(1, 0).data().toString(), "sub");
    ASSERT_TRUE(editAndEnter(list, QStringLiteral("other")));
    ASSERT_TRUE(fs::exists(dir.file("y/other")));
    QTreeWidgetItem* renamed = tree.selectedItem()->child(0);
    ASSERT_TRUE(renamed);
    EXPECT_EQ(tree.itemPath(renamed), dir.file("y/other"));
}

// While the file list has the focus, Zoom In, Zoom Out and Original Size are the list's: enabled
// exactly when it lists a file, whether a picture is shown or not, and passed on to the view.
TEST_F(ReaderFrameTest, ZoomCommandsFollowTheFileListWhileItHasTheFocus)
{
    fs::create_directories(dir.file("empty"));
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    CommandTable& commands = frame.commands();
    const auto enabled = [&commands] {
        commands.updateAll();
        return std::vector<bool>{commands.action(cmd::ZoomIn)->isEnabled(),
                                 commands.action(cmd::ZoomOut)->isEnabled(),
                                 commands.action(cmd::OriginalSize)->isEnabled()};
    };
    const std::vector<bool> all(3, true), none(3, false);
    list.setFocus();
    EXPECT_EQ(enabled(), all);

    // A folder without files: the picture is still shown, but the list has nothing to zoom.
    const QModelIndex empty = list.model()->index(1, 0);
    ASSERT_EQ(empty.data().toString(), "empty");
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(empty).center());
    ASSERT_EQ(list.folderPath(), dir.file("empty") + "/");
    ASSERT_TRUE(frame.document().hasImage());
    EXPECT_EQ(enabled(), none);
    const float zoom = frame.view().inspect().zoom;
    QTest::keyClick(&list, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(frame.view().inspect().zoom, zoom);
    frame.tree().setFocus();
    EXPECT_EQ(enabled(), all);

    // Files listed and no picture: the commands are there, and reach the view.
    list.setFocus();
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {},
                       list.visualRect(list.model()->index(0, 0)).center());
    ASSERT_EQ(list.folderPath(), dir.path() + "/");
    frame.onFileNew();
    ASSERT_FALSE(frame.document().hasImage());
    EXPECT_EQ(enabled(), all);
    frame.view().onCommand(cmd::OriginalSize);
    QTest::keyClick(&list, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(frame.view().inspect().zoom, 1.25f);
    frame.tree().setFocus();
    EXPECT_EQ(enabled(), none);
}

TEST_F(ReaderFrameTest, F6AndShiftF6GoRoundThePanes)
{
    ReaderWindow& frame = start({file("a.bmp")});
    QWidget* tree = &frame.tree();
    QWidget* list = &frame.list();
    QWidget* view = &frame.view();
    tree->setFocus();
    for (QWidget* next : {list, view, tree}) {
        QTest::keyClick(frame.focusWidget(), Qt::Key_F6);
        EXPECT_EQ(frame.focusWidget(), next);
    }
    for (QWidget* previous : {view, list, tree}) {
        QTest::keyClick(frame.focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
        EXPECT_EQ(frame.focusWidget(), previous);
    }
}

TEST_F(ReaderFrameTest, SettingsOfTheStartFolderColourThePanes)
{
    std::ofstream(dir.file("setting.dat")) << "ColorBKGLeft\n255\n";
    fs::current_path(dir.path());
    ReaderWindow& frame = start();
    EXPECT_EQ(frame.paneColours(), (ReaderSettings{255, 0xFFFFFF, 0xFFFFFF}));
}

TEST_F(ReaderFrameTest, NoSettingsFileKeepsTheBuiltInColours)
{
    fs::current_path(dir.path());
    ReaderWindow& frame = start();
    EXPECT_EQ(frame.paneColours(), (ReaderSettings{0xFFFFFF, 0xFFFFFF, 0xFF8080}));
}

TEST_F(ReaderFrameTest, EscapeAfterFullScreenTwiceReturnsToTheWindow)
{
    ReaderWindow& frame = start();
    const QRect before = frame.geometry();
    frame.onFullScreen();
    EXPECT_TRUE(frame.isFullScreenMode());
    EXPECT_FALSE(frame.menuBar()->isVisible());
    EXPECT_EQ(frame.view().verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    frame.onFullScreen();
    QTest::keyClick(&frame.view(), Qt::Key_Escape);
    EXPECT_FALSE(frame.isFullScreenMode());
    EXPECT_TRUE(frame.menuBar()->isVisible());
    EXPECT_TRUE(frame.mainToolBar()->isVisible());
    EXPECT_EQ(frame.geometry(), before);
    frame.leaveFullScreen(); // not in full screen: nothing happens
    EXPECT_EQ(frame.geometry(), before);

    // The file list has the focus after a picture is picked there: Escape still leaves.
    frame.onFullScreen();
    frame.list().setFocus();
    QTest::keyClick(&frame.list(), Qt::Key_Escape);
    EXPECT_FALSE(frame.isFullScreenMode());
}

// Full screen as a window manager carries it out: these also run on a real X server under a
// window manager (reader_gui/under_window_manager.sh), where every change of the window's place
// comes back later, so each step waits for the window to get there.
class ReaderFullScreenTest : public ReaderFrameTest {
  protected:
    static constexpr int kWait = 5000; // ms; a window manager answers in a few

    ReaderWindow& startOnALargePicture()
    {
        EXPECT_TRUE(
            test::succeeded(WriteBmpFile(dir.file("large.bmp"), solidPicture(2000, 1500, 90))));
        ReaderWindow& frame = start({file("large.bmp")});
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&frame));
        // Shown at its own size the picture needs both scroll bars.
        frame.commands().trigger(cmd::OriginalSize);
        return frame;
    }
    // Full Screen as the toolbar button gives it.
    static void clickFullScreen(ReaderWindow& frame)
    {
        QAction* action = frame.commands().action(cmd::FullScreen);
        QWidget* button = frame.mainToolBar()->widgetForAction(action);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    static QRect screenRect(const ReaderWindow& frame) { return frame.screen()->geometry(); }
    static QRect globalRect(const QWidget& widget)
    {
        return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size());
    }

    // The picture pane fills the screen and nothing else of the window shows.
    static void expectOnlyThePicturePane(ReaderWindow& frame)
    {
        const QRect screen = screenRect(frame);
        ASSERT_TRUE(QTest::qWaitFor([&] { return globalRect(frame.view()) == screen; }, kWait))
            << "view at " << globalRect(frame.view()).x() << "," << globalRect(frame.view()).y()
            << " " << frame.view().width() << "x" << frame.view().height();
        EXPECT_EQ(frame.view().inspect().client, screen.size());
        EXPECT_FALSE(frame.menuBar()->isVisible());
        EXPECT_FALSE(frame.mainToolBar()->isVisible());
        EXPECT_FALSE(frame.imageTools()->isVisible());
        EXPECT_FALSE(frame.statusBar()->isVisible());
        EXPECT_FALSE(frame.tree().isVisible());
        EXPECT_FALSE(static_cast<QWidget&>(frame.list()).isVisible());
        EXPECT_FALSE(frame.view().horizontalScrollBar()->isVisible());
        EXPECT_FALSE(frame.view().verticalScrollBar()->isVisible());
    }

    struct Placement {
        QRect geometry;
        bool maximised = false;
        QList<int> splitterSizes;
        bool operator==(const Placement& other) const
        {
            return geometry == other.geometry && maximised == other.maximised &&
                   splitterSizes == other.splitterSizes;
        }
    };
    static Placement placementOf(const ReaderWindow& frame)
    {
        return {frame.geometry(), frame.isMaximized(), frame.splitter()->sizes()};
    }

    // Full Screen from the placement the window has, then Escape: the same placement again.
    static void fullScreenAndBack(ReaderWindow& frame)
    {
        const Placement before = placementOf(frame);
        clickFullScreen(frame);
        expectOnlyThePicturePane(frame);
        QTest::keyClick(&frame.view(), Qt::Key_Escape);
        EXPECT_FALSE(frame.isFullScreenMode());
        const bool restored = QTest::qWaitFor([&] { return placementOf(frame) == before; }, kWait);
        const Placement after = placementOf(frame);
        EXPECT_TRUE(restored) << "at " << after.geometry.x() << "," << after.geometry.y() << " "
                              << after.geometry.width() << "x" << after.geometry.height()
                              << (after.maximised ? " maximised" : "") << ", was at "
                              << before.geometry.x() << "," << before.geometry.y() << " "
                              << before.geometry.width() << "x" << before.geometry.height()
                              << (before.maximised ? " maximised" : "");
        EXPECT_TRUE(frame.menuBar()->isVisible());
        EXPECT_TRUE(frame.mainToolBar()->isVisible());
        EXPECT_TRUE(frame.imageTools()->isVisible());
        EXPECT_TRUE(frame.statusBar()->isVisible());
        EXPECT_TRUE(frame.tree().isVisible());
        EXPECT_TRUE(static_cast<QWidget&>(frame.list()).isVisible());
        EXPECT_TRUE(QTest::qWaitFor([&] { return frame.view().horizontalScrollBar()->isVisible(); },
                                    kWait));
    }
};

TEST_F(ReaderFullScreenTest, FromAMovedWindowWithOtherPaneWidths)
{
    ReaderWindow& frame = startOnALargePicture();
    frame.setGeometry(QRect(60, 50, 720, 520));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return frame.geometry() == QRect(60, 50, 720, 520); }, kWait));
    frame.splitter()->setSizes({150, 250, 320});
    QApplication::processEvents();
    fullScreenAndBack(frame);
}

// Out of sight, the tree and the list go on as before: the keys step along the list, and the
// tree does not take to showing files.
TEST_F(ReaderFullScreenTest, PicturesAreSteppedAlongTheListOutOfSight)
{
    ReaderWindow& frame = start({file("a.bmp")});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.list().setFocus();
    clickFullScreen(frame);
    expectOnlyThePicturePane(frame);
    QTest::keyClick(&frame.view(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("b.bmp"));
    QTest::keyClick(&frame.view(), Qt::Key_Escape);
    EXPECT_EQ(frame.list().folderPath(), dir.path() + "/");
    EXPECT_EQ(frame.list().currentFileIndex(), 1);
    EXPECT_FALSE(frame.tree().showFiles());
    EXPECT_EQ(frame.focusWidget(), &frame.list());
}

TEST_F(ReaderFullScreenTest, FromAMaximisedWindow)
{
    ReaderWindow& frame = startOnALargePicture();
    frame.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.isMaximized(); }, kWait));
    QTest::qWait(200); // the window manager's resize follows the state
    fullScreenAndBack(frame);
}

TEST_F(ReaderFrameTest, CopyPutsThePictureAsDisplayedOnTheClipboard)
{
    ReaderWindow& frame = start({file("a.bmp")});
    frame.document().onAdjustmentCommand(cmd::InvertColour);
    frame.onCopy();
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(40, 30));
    EXPECT_EQ(copied.pixel(5, 5) & 0xFFFFFFu, 0x373737u); // 255 - 200, inverted as shown
}

TEST_F(ReaderFrameTest, PaneColourCommandsUseTheColourDialog)
{
    ReaderWindow& frame = start();
    prompt.queueColour(Rgb{1, 2, 3});
    frame.onRightBackground();
    EXPECT_EQ(frame.view().backgroundColour(), makeColourRef(1, 2, 3));
    frame.onLeftBackground(); // cancelled
    EXPECT_EQ(frame.paneColours().left, 0xFFFFFFu);
}

// Whatever leaves the document without a picture takes the picture off the screen too: a file
// stepped onto that cannot be read, a folder chosen in the tree, a new folder made next to it.
TEST_F(ReaderFrameTest, NoPictureLeavesOnlyTheBackgroundOnScreen)
{
    fs::create_directories(dir.file("steps"));
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("steps/a.bmp"), solidPicture(40, 30, 200))));
    test::writeFileBytes(dir.file("steps/b.bmp"), {'B', 'M', 0, 1, 2, 3});
    test::writeFileBytes(dir.file("steps/c.txt"), {'t', 'e', 'x', 't'});
    ReaderWindow& frame = start({file("steps/a.bmp")});
    ImageView& view = frame.view();
    const auto centreShown = [&view] {
        const QImage painted = view.viewport()->grab().toImage();
        return painted.pixel(painted.rect().center()) & 0xFFFFFFu;
    };
    const ColourRef colour = view.backgroundColour();
    const QRgb background = qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    const QRgb picture = qRgb(200, 200, 200) & 0xFFFFFFu;
    ASSERT_EQ(centreShown(), picture);
    // The reason a file is not shown may be written in the middle; no pixel of the picture is
    // left anywhere.
    const auto pictureGone = [&view, background, picture] {
        const QImage painted = view.viewport()->grab().toImage();
        for (int y = 0; y < painted.height(); ++y) {
            for (int x = 0; x < painted.width(); ++x) {
                if ((painted.pixel(x, y) & 0xFFFFFFu) == picture)
                    return false;
            }
        }
        return (painted.pixel(0, 0) & 0xFFFFFFu) == (background & 0xFFFFFFu);
    };

    QTest::keyClick(&frame.list(), Qt::Key_Down); // the broken b.bmp
    EXPECT_FALSE(frame.document().hasImage());
    EXPECT_TRUE(pictureGone());
    QTest::keyClick(&frame.list(), Qt::Key_Down); // c.txt, no picture at all
    EXPECT_EQ(frame.list().currentFileIndex(), 2);
    EXPECT_TRUE(pictureGone());

    ASSERT_TRUE(frame.openFile(file("steps/a.bmp")));
    ASSERT_EQ(centreShown(), picture);
    QTreeWidgetItem* parent = frame.tree().selectedItem()->parent();
    frame.tree().scrollToItem(parent);
    QTest::mouseClick(frame.tree().viewport(), Qt::LeftButton, Qt::NoModifier,
                      frame.tree().visualItemRect(parent).center());
    EXPECT_EQ(frame.tree().selectedItem(), parent);
    EXPECT_TRUE(pictureGone());

    ASSERT_TRUE(frame.openFile(file("steps/a.bmp")));
    ASSERT_EQ(centreShown(), picture);
    frame.commands().trigger(cmd::NewFolder);
    EXPECT_TRUE(fs::is_directory(dir.file("steps/New Folder")));
    EXPECT_TRUE(pictureGone());
}

// Deleting the folder the list shows when it is the last of its siblings: the tree selects the
// sibling before it, the list shows what the tree selects, and the picture goes from the image
// view.
TEST_F(ReaderFrameTest, DeletingTheLastSiblingEmptiesTheImageViewAndTheListFollowsTheTree)
{
    // The home folder and its trash inside the temporary folder; the trash goes only where
    // the data folder already is.
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QByteArray::fromStdString(dir.file("home")));
    qunsetenv("XDG_DATA_HOME");
    fs::create_directories(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString());
    fs::create_directories(dir.file("beta"));
    fs::create_directories(dir.file("zeta"));
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("zeta/p.bmp"), solidPicture(40, 30, 200))));

    ReaderWindow& frame = start({file("zeta/p.bmp")});
    ImageView& view = frame.view();
    const QPoint centre(view.inspect().client.width() / 2, view.inspect().client.height() / 2);
    const bool shownBefore = view.inspect().frame.pixel(centre) == qRgb(200, 200, 200);
    // The folder goes only while the user is in the tree, which selects it.
    frame.tree().setFocus();
    prompt.queueAnswer(Answer::Yes);
    frame.commands().trigger(cmd::Delete);
    const bool gone = !fs::exists(dir.file("zeta"));
    qputenv("HOME", oldHome);
    if (!oldDataHome.isNull())
        qputenv("XDG_DATA_HOME", oldDataHome);

    EXPECT_TRUE(shownBefore);
    EXPECT_TRUE(gone);
    EXPECT_FALSE(frame.document().hasImage());
    const ColourRef colour = view.backgroundColour(); // red in the low byte
    EXPECT_EQ(view.inspect().frame.pixel(centre),
              qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
    const QTreeWidgetItem* selected = frame.tree().selectedItem();
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(selected, frame.tree().currentItem());
    const std::string selectedPath = frame.tree().itemPath(selected);
    EXPECT_EQ(fs::path(selectedPath).parent_path(), fs::path(dir.path()));
    EXPECT_LT(selectedPath, dir.file("zeta"));
    EXPECT_EQ(frame.list().folderPath(), selectedPath + "/");
}

} // namespace
} // namespace ombri::reader

namespace ombri::reader {
namespace {

// A BMP carrier as the writer saves one: notes in the blue bytes, the marker at the start of the
// bottom row.
Dib bmpCarrier(const NoteLayer& notes)
{
    Dib carrier = MakeCarrierCopy(test::makePatternImage(60, 40, 24, 4), notes, SaveDepth::Bits24);
    WriteOmbriSignature(DibPixelStart(carrier));
    return carrier;
}

TEST_F(ReaderFrameTest, StatusBarSaysWhatThePictureOnShowCarries)
{
    NoteLayer notes(60 * 40, 0);
    for (size_t i = 100; i < 1334; ++i)
        notes[i] = 1;
    const Dib carrier = bmpCarrier(notes);
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("d1.bmp"), carrier)));
    ASSERT_TRUE(test::succeeded(
        WriteBmpFile(dir.file("d2.bmp"), test::orientedCopy(carrier, Orientation::Turned90))));
    Dib damaged = carrier.clone();
    DibPixelStart(damaged)[9] &= 0xFE;
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("d3.bmp"), damaged)));

    ReaderWindow& frame = start({file("d1.bmp")});
    const auto* label = frame.statusBar()->findChild<QLabel*>(QStringLiteral("noteStatus"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Notes: 1,234 pixels");
    frame.list().setFocus();
    QTest::keyClick(&frame.list(), Qt::Key_PageDown);
    ASSERT_EQ(frame.document().currentPath(), dir.file("d2.bmp"));
    EXPECT_EQ(label->text(), "Notes: 1,234 pixels, found in a picture turned 90\u00B0 clockwise");
    QTest::keyClick(&frame.list(), Qt::Key_PageDown);
    ASSERT_EQ(frame.document().currentPath(), dir.file("d3.bmp"));
    EXPECT_EQ(label->text(), "Note signature damaged: the notes cannot be read");
    EXPECT_FALSE(frame.document().hasNoteLayer());
    for (int step = 0; step < 5; ++step) // d2, d1, c, b, a
        QTest::keyClick(&frame.list(), Qt::Key_PageUp);
    ASSERT_EQ(frame.document().currentPath(), dir.file("a.bmp"));
    EXPECT_EQ(label->text(), "No notes");
    EXPECT_TRUE(label->isVisible());
}

} // namespace
} // namespace ombri::reader
