// The details table through the whole program: a wide list pane shows the names, long ones keep
// their extension, and the other columns are shown whole.
#include "reader/ui/file_list.h"
#include "reader/ui/reader_window.h"
#include "reader/ui/thumbnail_grid.h"
#include "reader_gui/reader_window_fixture.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QSplitter>
#include <QTest>
#include <QToolTip>

#include <string>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

class ReadableNamesTest : public ReaderFrameTest {
  protected:
    void SetUp() override
    {
        ReaderFrameTest::SetUp();
        for (const std::string& name : {std::string(kShortName), longName()})
            test::writeFileBytes(dir.file(name), {'n', 'o', 't', 'e'});
        // Sparse, so that the Size column has a long number to show without filling the disk.
        const std::string big = dir.file("big.raw");
        test::writeFileBytes(big, {'x'});
        fs::resize_file(big, uint64_t{5} << 30);
    }
    static std::string longName()
    {
        std::string name = "holiday_";
        while (name.size() < 200)
            name += "at_the_seaside_with_everyone_";
        return name + "end.png";
    }
    // Gives the list pane this width, the window growing to hold it beside the other panes.
    void setListPaneWidth(ReaderWindow& frame, int width)
    {
        frame.resize(width + 700, 700);
        QApplication::processEvents();
        QSplitter& splitter = *frame.splitter();
        const QList<int> sizes = splitter.sizes();
        const int total = sizes[0] + sizes[1] + sizes[2];
        splitter.setSizes({200, width, total - 200 - width});
        QApplication::processEvents();
        ASSERT_EQ(frame.list().paneWidget()->width(), width);
    }
    static int rowNamed(FileList& list, const std::string& name)
    {
        const QAbstractItemModel& model = *list.model();
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.index(row, FileListModel::NameColumn).data().toString().toStdString() == name)
                return row;
        }
        return -1;
    }
    // The room a name has in its cell: the column less the icon and the margins around both.
    static int nameRoom(FileList& list)
    {
        return list.columnWidth(FileListModel::NameColumn) - list.iconSize().width() - 16;
    }

    static constexpr const char* kShortName = "sunset-north-beach-0042.png";
};

TEST_F(ReadableNamesTest, AWidePaneShowsNamesAndWholeColumns)
{
    ReaderWindow& frame = start({file("a.bmp")});
    setListPaneWidth(frame, 800);
    FileList& list = frame.list();
    ASSERT_FALSE(list.thumbnailMode());
    const QFontMetrics metrics = list.fontMetrics();

    // Every column but the name is as wide as what it shows, header included, and the name
    // takes the rest of the pane.
    int others = 0;
    for (int column = FileListModel::SizeColumn; column < FileListModel::ColumnCount; ++column) {
        const int width = list.columnWidth(column);
        EXPECT_GE(width, list.header()->sectionSizeHint(column)) << column;
        for (int row = 0; row < list.model()->rowCount(); ++row) {
            const QString text = list.model()->index(row, column).data().toString();
            EXPECT_LT(metrics.horizontalAdvance(text), width) << column << " " << row;
        }
        others += width;
    }
    EXPECT_EQ(list.columnWidth(FileListModel::NameColumn), list.viewport()->width() - others);
    EXPECT_GT(list.columnWidth(FileListModel::NameColumn), 400);
    EXPECT_EQ(list.header()->length(), list.viewport()->width());

    // A name that fits is shown whole; a longer one loses its middle, not its extension.
    EXPECT_LE(metrics.horizontalAdvance(QString::fromLatin1(kShortName)), nameRoom(list));
    const QString name = QString::fromStdString(longName());
    const QString shown = metrics.elidedText(name, list.textElideMode(), nameRoom(list));
    EXPECT_NE(shown, name);
    EXPECT_TRUE(shown.startsWith("holiday_at_the_seaside")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("everyone_end.png")) << shown.toStdString();

    // Widening the pane widens the names; narrowing it gives the room back.
    const int before = list.columnWidth(FileListModel::NameColumn);
    setListPaneWidth(frame, 1000);
    EXPECT_EQ(list.columnWidth(FileListModel::NameColumn), before + 200);
    setListPaneWidth(frame, 800);
    EXPECT_EQ(list.columnWidth(FileListModel::NameColumn), before);
}

TEST_F(ReadableNamesTest, HoveringANameShowsItWhole)
{
    ReaderWindow& frame = start({file("a.bmp")});
    setListPaneWidth(frame, 800);
    FileList& list = frame.list();
    const int row = rowNamed(list, longName());
    ASSERT_GE(row, 0);
    const QModelIndex cell = list.model()->index(row, FileListModel::NameColumn);
    EXPECT_EQ(cell.data(Qt::ToolTipRole).toString().toStdString(), longName());
    EXPECT_FALSE(
        list.model()->index(row, FileListModel::SizeColumn).data(Qt::ToolTipRole).isValid());

    list.scrollTo(cell);
    const QPoint at = list.visualRect(cell).center();
    QHelpEvent hover(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &hover);
    EXPECT_EQ(QToolTip::text().toStdString(), longName());
    QToolTip::hideText();
}

} // namespace
} // namespace ombri::reader
