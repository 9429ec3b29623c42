// The thumbnail grid as a browser: the pane it takes, the size of its thumbnails, how it scrolls,
// where it keeps the current file, and how it marks the selected one.
#include "reader/command_ids.h"
#include "reader/ui/background_file_reader.h"
#include "reader/ui/file_list.h"
#include "reader/ui/thumbnail_grid.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/menu_walk.h"

#include <QActionGroup>
#include <QMenu>
#include <QScrollBar>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTest>
#include <QWheelEvent>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ombri::reader {
namespace {

class ThumbnailBrowserTest : public ReaderFrameTest {
  protected:
    // A folder of many pictures, so that the grid scrolls; "a.bmp" comes first.
    void addPictures(int count)
    {
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "p%03d.bmp", i);
            ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file(name), solidPicture(40, 30, 90))));
        }
    }
    ReaderWindow& startInThumbnails(const char* picture, QSize window = QSize(1000, 700))
    {
        ReaderWindow& frame = start({file(picture)});
        frame.resize(window);
        QApplication::processEvents();
        if (!frame.list().thumbnailMode())
            frame.onThumbnails();
        QApplication::processEvents();
        return frame;
    }
    static int listPaneWidth(ReaderWindow& frame) { return frame.splitter()->sizes().at(1); }
    static int splitterWidth(ReaderWindow& frame)
    {
        const QList<int> sizes = frame.splitter()->sizes();
        return sizes.at(0) + sizes.at(1) + sizes.at(2);
    }
    // The user drags the handle between the list and the view by dx pixels. The handle moves
    // under the pointer as it goes, so the pointer's way is fixed on the screen.
    static void dragListEdge(ReaderWindow& frame, int dx)
    {
        QSplitterHandle* handle = frame.splitter()->handle(2);
        const QPoint start = handle->mapToGlobal(handle->rect().center());
        QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, handle->mapFromGlobal(start));
        for (int i = 1; i <= 4; ++i) {
            const QPoint global = start + QPoint(dx * i / 4, 0);
            const QPointF local = handle->mapFromGlobal(QPointF(global));
            QMouseEvent move(QEvent::MouseMove, local, QPointF(global), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(handle, &move);
        }
        QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier,
                            handle->mapFromGlobal(start + QPoint(dx, 0)));
        QApplication::processEvents();
    }
    static bool showsCurrent(ThumbnailGrid& grid)
    {
        const QRect cell = grid.visualRect(grid.currentIndex());
        return grid.currentIndex().isValid() && grid.viewport()->rect().contains(cell.center());
    }
    // The grid lays its cells out a moment after a resize: waits for the current cell to show.
    static bool waitUntilCurrentShows(ThumbnailGrid& grid)
    {
        return QTest::qWaitFor([&grid] { return showsCurrent(grid); }, 2000);
    }
    static void turnWheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers)
    {
        const QPointF at = QPointF(target->rect().center());
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
        QApplication::processEvents();
    }
    static bool rowsOfThumbnailsAnswered(FileList& list)
    {
        for (int round = 0; round < 5; ++round) {
            QApplication::processEvents();
            if (!list.listModel()->backgroundReader().waitForIdle(20000))
                return false;
            QApplication::processEvents();
        }
        return true;
    }
};

TEST_F(ThumbnailBrowserTest, ThePaneWidensForThumbnailsAndKeepsEachModesWidth)
{
    ReaderWindow& frame = start({file("a.bmp")});
    frame.resize(1600, 800);
    QApplication::processEvents();
    const int detailsWidth = listPaneWidth(frame);
    ThumbnailGrid& grid = *frame.list().thumbnailGrid();

    // Room for three columns in a wide window, and the picture keeps half of it.
    frame.onThumbnails();
    QApplication::processEvents();
    const int thumbnailsWidth = listPaneWidth(frame);
    EXPECT_GE(thumbnailsWidth, grid.widthForColumns(3));
    EXPECT_LE(thumbnailsWidth, splitterWidth(frame) / 2);
    const QModelIndex first = grid.model()->index(0, 0);
    const QModelIndex third = grid.model()->index(2, 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return grid.visualRect(first).top() == grid.visualRect(third).top(); }, 2000));

    // Back in details the pane is as narrow as it was.
    frame.onThumbnails();
    QApplication::processEvents();
    EXPECT_EQ(listPaneWidth(frame), detailsWidth);

    // What the user drags to in each mode is what that mode comes back to.
    frame.onThumbnails();
    QApplication::processEvents();
    dragListEdge(frame, -60);
    const int dragged = listPaneWidth(frame);
    EXPECT_EQ(dragged, thumbnailsWidth - 60);
    frame.onThumbnails();
    QApplication::processEvents();
    dragListEdge(frame, 40);
    const int draggedDetails = listPaneWidth(frame);
    EXPECT_EQ(draggedDetails, detailsWidth + 40);
    frame.onThumbnails();
    QApplication::processEvents();
    EXPECT_EQ(listPaneWidth(frame), dragged);
    frame.onThumbnails();
    QApplication::processEvents();
    EXPECT_EQ(listPaneWidth(frame), draggedDetails);
}

// Started in thumbnails, the pane is wide at once, not the details' narrow column; in a window
// too narrow for three columns it takes half of it.
TEST_F(ThumbnailBrowserTest, AStartInThumbnailsGivesThePaneItsWidth)
{
    start({file("a.bmp")}).onThumbnails();
    ReaderWindow& again = start({file("a.bmp")});
    ASSERT_TRUE(again.list().thumbnailMode());
    const int half = splitterWidth(again) / 2;
    ASSERT_LT(half, again.list().thumbnailGrid()->widthForColumns(3));
    EXPECT_EQ(listPaneWidth(again), half);
}

TEST_F(ThumbnailBrowserTest, TheThumbnailSizeIsChosenAndKept)
{
    ReaderWindow& frame = startInThumbnails("a.bmp");
    ThumbnailGrid* grid = frame.list().thumbnailGrid();
    CommandTable& commands = frame.commands();
    EXPECT_EQ(grid->thumbnailScale(), ThumbnailScale::Medium);
    EXPECT_EQ(grid->iconSize(), QSize(128, 128));
    EXPECT_TRUE(commands.action(cmd::ThumbnailsMedium)->isChecked());
    // View > Thumbnail Size holds the three sizes as one choice.
    QMenu* sizes = nullptr;
    for (QAction* item : frame.menu("&View")->actions()) {
        if (item->menu() && item->text() == "Thumbnail &Size")
            sizes = item->menu();
    }
    ASSERT_NE(sizes, nullptr);
    EXPECT_EQ(test::itemTexts(sizes), QStringList({"&Small", "&Medium", "&Large"}));
    for (QAction* item : sizes->actions()) {
        ASSERT_NE(item->actionGroup(), nullptr);
        EXPECT_TRUE(item->actionGroup()->isExclusive());
    }

    ASSERT_TRUE(commands.trigger(cmd::ThumbnailsLarge));
    EXPECT_EQ(grid->iconSize(), QSize(192, 192));
    EXPECT_TRUE(commands.action(cmd::ThumbnailsLarge)->isChecked());
    EXPECT_FALSE(commands.action(cmd::ThumbnailsMedium)->isChecked());
    EXPECT_FALSE(commands.action(cmd::ThumbnailsSmall)->isChecked());

    // Ctrl and the wheel step the size, a notch a step, and stop at the ends.
    turnWheel(grid->viewport(), -120, Qt::ControlModifier);
    EXPECT_EQ(grid->thumbnailScale(), ThumbnailScale::Medium);
    EXPECT_TRUE(commands.action(cmd::ThumbnailsMedium)->isChecked());
    turnWheel(grid->viewport(), -120, Qt::ControlModifier);
    turnWheel(grid->viewport(), -120, Qt::ControlModifier);
    EXPECT_EQ(grid->thumbnailScale(), ThumbnailScale::Small);
    EXPECT_EQ(grid->iconSize(), QSize(64, 64));
    // A wheel turning in small steps changes the size once its turn makes a notch.
    turnWheel(grid->viewport(), 60, Qt::ControlModifier);
    EXPECT_EQ(grid->thumbnailScale(), ThumbnailScale::Small);
    turnWheel(grid->viewport(), 60, Qt::ControlModifier);
    EXPECT_EQ(grid->thumbnailScale(), ThumbnailScale::Medium);
    turnWheel(grid->viewport(), -120, Qt::ControlModifier);
    // The wheel alone scrolls and leaves the size alone.
    turnWheel(grid->viewport(), 120, Qt::NoModifier);
    EXPECT_EQ(grid->thumbnailScale(), ThumbnailScale::Small);

    // The choice is there at the next start, in the grid and on the menu.
    ReaderWindow& again = start({file("a.bmp")});
    EXPECT_EQ(again.list().thumbnailGrid()->thumbnailScale(), ThumbnailScale::Small);
    EXPECT_EQ(again.list().thumbnailGrid()->iconSize(), QSize(64, 64));
    EXPECT_TRUE(again.commands().action(cmd::ThumbnailsSmall)->isChecked());
}

TEST_F(ThumbnailBrowserTest, AWheelNotchScrollsAThirdOfARow)
{
    addPictures(80);
    ReaderWindow& frame = startInThumbnails("a.bmp");
    ThumbnailGrid& grid = *frame.list().thumbnailGrid();
    QScrollBar& bar = *grid.verticalScrollBar();
    ASSERT_GT(bar.maximum(), grid.gridSize().height() * 2);
    ASSERT_EQ(bar.value(), 0);
    turnWheel(grid.viewport(), -120, Qt::NoModifier);
    const int row = grid.gridSize().height();
    EXPECT_GE(bar.value(), row / 4);
    EXPECT_LE(bar.value(), row / 2);
    // Not whole rows: the grid stops between them.
    EXPECT_NE(bar.value() % row, 0);
}

TEST_F(ThumbnailBrowserTest, TheCurrentFileStaysInSight)
{
    addPictures(80);
    ReaderWindow& frame = startInThumbnails("p070.bmp");
    ThumbnailGrid& grid = *frame.list().thumbnailGrid();
    ASSERT_EQ(grid.currentIndex().data().toString(), "p070.bmp");
    ASSERT_TRUE(waitUntilCurrentShows(grid));

    // The splitter dragged: fewer columns, more rows above the current file.
    dragListEdge(frame, -150);
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the splitter drag";
    dragListEdge(frame, 250);
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the splitter drag back";

    // The window made smaller and larger.
    frame.resize(700, 450);
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the window shrank";
    frame.resize(1200, 800);
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the window grew";

    // Another size of thumbnails.
    ASSERT_TRUE(frame.commands().trigger(cmd::ThumbnailsLarge));
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the size change";
    ASSERT_TRUE(frame.commands().trigger(cmd::ThumbnailsSmall));
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the size change";

    // Files that came before the current one on disk push it down, and it stays in sight.
    ASSERT_TRUE(frame.commands().trigger(cmd::ThumbnailsLarge));
    ASSERT_TRUE(waitUntilCurrentShows(grid));
    for (int i = 0; i < 30; ++i) {
        const std::string name = "o" + std::to_string(100 + i) + ".bmp";
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file(name.c_str()), solidPicture(8, 8, 1))));
    }
    frame.onRefresh();
    EXPECT_EQ(grid.currentIndex().data().toString(), "p070.bmp");
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the folder was read again";

    // Details and back, in a pane of another width.
    frame.onThumbnails();
    dragListEdge(frame, 100);
    frame.onThumbnails();
    EXPECT_TRUE(waitUntilCurrentShows(grid)) << "after the mode switch";
}

// A grid whose current file is in its first rows stays at its top after a splitter drag: bringing
// the current file back into sight scrolls only a grid that lost it.
TEST_F(ThumbnailBrowserTest, AfterASplitterDragTheGridStillStartsAtItsFirstRow)
{
    addPictures(80);
    ReaderWindow& frame = startInThumbnails("a.bmp");
    ThumbnailGrid& grid = *frame.list().thumbnailGrid();
    ASSERT_TRUE(waitUntilCurrentShows(grid));
    for (const int dx : {-120, 200, -40}) {
        dragListEdge(frame, dx);
        QTest::qWait(200);
        EXPECT_TRUE(showsCurrent(grid)) << dx;
        EXPECT_EQ(grid.verticalScrollBar()->value(), 0) << dx;
        const QRect first = grid.visualRect(grid.model()->index(0, 0));
        EXPECT_GE(first.top(), 0) << dx;
        EXPECT_LT(first.top(), grid.gridSize().height() / 2) << dx;
    }
}

// The selected cell has a frame; its picture is drawn as it is, not tinted with the selection's
// colour, so the thumbnail still shows the picture's colours.
TEST_F(ThumbnailBrowserTest, TheSelectedCellIsFramedAndItsPictureUntinted)
{
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("grey.bmp"), solidPicture(100, 100, 200))));
    ReaderWindow& frame = startInThumbnails("grey.bmp");
    FileList& list = frame.list();
    ThumbnailGrid& grid = *list.thumbnailGrid();
    grid.setFocus();
    ASSERT_TRUE(rowsOfThumbnailsAnswered(list));
    const QModelIndex selected = grid.currentIndex();
    ASSERT_EQ(selected.data().toString(), "grey.bmp");
    ASSERT_TRUE(grid.selectionModel()->isSelected(selected));
    const auto thumbnail = qvariant_cast<QIcon>(selected.data(Qt::DecorationRole));
    const QImage picture = thumbnail.pixmap(QSize(100, 100)).toImage();
    ASSERT_FALSE(picture.isNull());
    const QRgb expected = picture.pixel(picture.width() / 2, picture.height() / 2);

    const QImage shown = grid.viewport()->grab().toImage();
    const qreal scale = shown.devicePixelRatio();
    const auto pixelAt = [&shown, scale](QPoint at) {
        return shown.pixel(QPoint(qRound(at.x() * scale), qRound(at.y() * scale)));
    };
    const QRect cell = grid.visualRect(selected);
    // The picture fills the middle of the cell's thumbnail square.
    const QPoint middle(cell.center().x(), cell.top() + 4 + grid.thumbnailSide() / 2);
    for (const QPoint offset : {QPoint(0, 0), QPoint(-30, -30), QPoint(30, 30)}) {
        const QRgb pixel = pixelAt(middle + offset);
        EXPECT_NEAR(qRed(pixel), qRed(expected), 1);
        EXPECT_NEAR(qGreen(pixel), qGreen(expected), 1);
        EXPECT_NEAR(qBlue(pixel), qBlue(expected), 1);
    }
    // The frame is drawn in the selection's colour on the cell's edge; a cell not selected has
    // none.
    const QColor highlight = grid.palette().color(QPalette::Active, QPalette::Highlight);
    const QRgb edge = pixelAt(QPoint(cell.left() + 1, cell.center().y()));
    EXPECT_NEAR(qRed(edge), highlight.red(), 40);
    EXPECT_NEAR(qGreen(edge), highlight.green(), 40);
    EXPECT_NEAR(qBlue(edge), highlight.blue(), 40);
    const QModelIndex other = grid.model()->index(selected.row() == 1 ? 2 : 1, 0);
    const QRect otherCell = grid.visualRect(other);
    EXPECT_NE(pixelAt(QPoint(otherCell.left() + 1, otherCell.center().y())), edge);
}

} // namespace
} // namespace ombri::reader
