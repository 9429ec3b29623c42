// The file list's two modes through the whole program: details with the Notes column, and the
// thumbnail grid filled from the shared cache by the background reader.
#include "core/file_io.h"
#include "formats/cineon_dpx.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/webp.h"
#include "notes/carrier.h"
#include "reader/command_ids.h"
#include "reader/thumbnails.h"
#include "reader/ui/background_file_reader.h"
#include "reader/ui/file_list.h"
#include "reader/ui/image_view.h"
#include "reader/ui/thumbnail_grid.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/process_guards.h"

#include <QLineEdit>
#include <QStackedWidget>
#include <QTest>

#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

class FileListModesTest : public ReaderFrameTest {
  protected:
    // Lets the background reader answer every row painted so far, and the list take the answers.
    void settle(FileList& list)
    {
        for (int round = 0; round < 5; ++round) {
            QApplication::processEvents();
            ASSERT_TRUE(list.listModel()->backgroundReader().waitForIdle(20000));
            QApplication::processEvents();
        }
    }
    std::string cacheRoot() const { return thumbnailCacheRoot(); }
    // What each file's row says in a column (or role), by name.
    std::map<std::string, QVariant> columnByName(FileList& list, int column,
                                                 int role = Qt::DisplayRole)
    {
        std::map<std::string, QVariant> values;
        const FileListModel& model = *list.listModel();
        for (int row = 0; row < model.rowCount(); ++row) {
            const auto name = model.index(row, 0).data().toString().toStdString();
            values[name] = model.index(row, column).data(role);
        }
        return values;
    }
    // The same, once the background reader has answered for every row (asking for a row's value
    // is what puts it in the reader's queue, as painting the row does).
    std::map<std::string, QVariant> answered(FileList& list, int column, int role = Qt::DisplayRole)
    {
        columnByName(list, column, role);
        settle(list);
        return columnByName(list, column, role);
    }
    void toggleThumbnails(ReaderWindow& frame)
    {
        QTest::keyClick(&frame, Qt::Key_T, Qt::ControlModifier);
    }
};

// A picture with its notes as the writer keeps them: in the blue bytes, the marker at the start
// of the row the format names.
Dib carrierPicture(bool bmp)
{
    NoteLayer notes(48 * 32, 0);
    for (size_t i = 200; i < 400; ++i)
        notes[i] = 1;
    Dib carrier = MakeCarrierCopy(test::makePatternImage(48, 32, 24, 9), notes, SaveDepth::Bits24);
    uint8_t* row =
        bmp ? DibPixelStart(carrier)
            : DibPixelStart(carrier) + (DibGetHeight(carrier) - 1) * dibGetLayout(carrier)->stride;
    WriteOmbriSignature(row);
    return carrier;
}

TEST_F(FileListModesTest, SwitchingModesKeepsTheCurrentFileStepsAndFocus)
{
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    QAction* thumbnails = frame.commands().action(cmd::Thumbnails);
    ASSERT_NE(thumbnails, nullptr);
    EXPECT_FALSE(thumbnails->isChecked());
    auto* pane = qobject_cast<QStackedWidget*>(list.paneWidget());
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->currentWidget(), &list);

    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    ASSERT_EQ(frame.document().currentPath(), dir.file("b.bmp"));
    toggleThumbnails(frame);
    ThumbnailGrid* grid = list.thumbnailGrid();
    ASSERT_NE(grid, nullptr);
    EXPECT_TRUE(list.thumbnailMode());
    EXPECT_TRUE(thumbnails->isChecked());
    EXPECT_EQ(pane->currentWidget(), grid);
    EXPECT_TRUE(grid->hasFocus());
    // The same file is current in the grid, and the keys step on from it.
    EXPECT_EQ(grid->currentIndex().row(), list.currentIndex().row());
    EXPECT_EQ(list.currentFileIndex(), 1);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("c.bmp"));
    EXPECT_EQ(grid->currentIndex().data().toString(), "c.bmp");
    QTest::keyClick(grid, Qt::Key_Up);
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(frame.document().currentPath(), dir.file("a.bmp"));
    // A click on a thumbnail opens its picture; F6 goes round the panes through the grid.
    settle(list);
    const QModelIndex c = list.model()->index(list.folders().size() + 2, 0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(c).center());
    EXPECT_EQ(frame.document().currentPath(), dir.file("c.bmp"));
    frame.onNextPane();
    EXPECT_TRUE(frame.view().hasFocus());
    frame.onNextPane();
    frame.onNextPane();
    EXPECT_TRUE(grid->hasFocus());

    // Back to details: the current file stays, and the choice is kept for the next start.
    toggleThumbnails(frame);
    EXPECT_FALSE(list.thumbnailMode());
    EXPECT_EQ(pane->currentWidget(), &list);
    EXPECT_TRUE(list.hasFocus());
    EXPECT_EQ(list.currentFileIndex(), 2);
    frame.onThumbnails();
    ReaderWindow& again = start({file("a.bmp")});
    EXPECT_TRUE(again.list().thumbnailMode());
    EXPECT_TRUE(again.commands().action(cmd::Thumbnails)->isChecked());
    // Full screen hides the grid as it hides the table, and stepping still goes along it.
    again.onFullScreen();
    EXPECT_TRUE(again.list().paneWidget()->isHidden());
    EXPECT_TRUE(again.list().isVisible());
    again.leaveFullScreen();
    EXPECT_FALSE(again.list().paneWidget()->isHidden());
    // F2 renames the highlighted thumbnail's file, as in the table.
    ThumbnailGrid& grid1 = *again.list().thumbnailGrid();
    grid1.setFocus();
    QTest::keyClick(&grid1, Qt::Key_End);
    ASSERT_EQ(grid1.currentIndex().data().toString(), "c.bmp");
    QTest::keyClick(&grid1, Qt::Key_F2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    auto* editor = grid1.viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "d.bmp");
    QTest::keyClick(editor, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(fs::exists(dir.file("d.bmp")));
    EXPECT_FALSE(fs::exists(dir.file("c.bmp")));
    EXPECT_EQ(grid1.currentIndex().data().toString(), "d.bmp");
    // A double click on a folder's thumbnail enters it, as on its row.
    fs::create_directory(dir.file("inner"));
    again.list().showFolder(dir.path());
    ThumbnailGrid& grid2 = *again.list().thumbnailGrid();
    const QModelIndex inner = again.list().model()->index(1, 0);
    ASSERT_EQ(inner.data().toString(), "inner");
    grid2.scrollTo(inner);
    QTest::mouseDClick(grid2.viewport(), Qt::LeftButton, {}, grid2.visualRect(inner).center());
    EXPECT_EQ(again.list().folderPath(), dir.file("inner") + "/");
}

// While the grid has the focus, Zoom In, Zoom Out and Original Size follow the list's rule, as
// they do in the table: a folder without files has nothing to zoom, whatever the view shows.
TEST_F(FileListModesTest, ZoomCommandsFollowTheListInTheGridToo)
{
    fs::create_directories(dir.file("empty"));
    ReaderWindow& frame = start({file("a.bmp")});
    toggleThumbnails(frame);
    FileList& list = frame.list();
    ThumbnailGrid& grid = *list.thumbnailGrid();
    const QModelIndex empty = list.model()->index(1, 0);
    ASSERT_EQ(empty.data().toString(), "empty");
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(empty).center());
    ASSERT_EQ(list.folderPath(), dir.file("empty") + "/");
    ASSERT_TRUE(frame.document().hasImage());
    ASSERT_TRUE(grid.hasFocus());
    frame.commands().updateAll();
    for (const int id : {cmd::ZoomIn, cmd::ZoomOut, cmd::OriginalSize})
        EXPECT_FALSE(frame.commands().action(id)->isEnabled()) << id;
    const float zoom = frame.view().inspect().zoom;
    QTest::keyClick(&grid, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(frame.view().inspect().zoom, zoom);
}

TEST_F(FileListModesTest, ThumbnailsAreMadeInTheBackgroundIntoTheSharedCache)
{
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("wide.bmp"), test::makePatternImage(400, 100, 24))));
    test::writeFileBytes(dir.file("notes.txt"), {'n', 'o', 't', 'e'});
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    toggleThumbnails(frame);
    const auto decorations = answered(list, FileListModel::NameColumn, Qt::DecorationRole);

    const std::string wide = dir.file("wide.bmp");
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), wide, ThumbnailSize::Normal), ThumbnailState::Fresh);
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file("notes.txt"), ThumbnailSize::Normal),
              ThumbnailState::Failed);
    const QIcon thumbnail = decorations.at("wide.bmp").value<QIcon>();
    // The thumbnail of a wide picture keeps its shape: 128 pixels across, 32 down.
    EXPECT_EQ(thumbnail.actualSize(QSize(128, 128)), QSize(128, 32));
    const QImage drawn = thumbnail.pixmap(QSize(128, 32)).toImage();
    EXPECT_FALSE(drawn.isNull());
    // A file that is no picture keeps its type's icon, and is not read again on the next visit.
    const auto failed =
        fs::last_write_time(failedThumbnailPath(cacheRoot(), fileUri(dir.file("notes.txt"))));
    list.showFolder(dir.path());
    answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(fs::last_write_time(failedThumbnailPath(cacheRoot(), fileUri(dir.file("notes.txt")))),
              failed);
}

TEST_F(FileListModesTest, NotesColumnAndBadgeSayYesExactlyForPicturesCarryingNotes)
{
    // A folder of each way of keeping notes, beside pictures without them.
    const Dib bmp = carrierPicture(true);
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("n1-carrier.bmp"), bmp)));
    ASSERT_TRUE(test::succeeded(
        WriteBmpFile(dir.file("n2-turned.bmp"), test::orientedCopy(bmp, Orientation::Turned90))));
    ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("n3-carrier.png"), carrierPicture(false))));
    Dib damaged = bmp.clone();
    DibPixelStart(damaged)[9] &= 0xFE;
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("n4-damaged.bmp"), damaged)));
    const Dib film = test::makePatternImage(16, 8, 24);
    NoteLayer filmNotes(16 * 8, 0);
    filmNotes[5] = 1;
    ASSERT_TRUE(test::succeeded(
        WriteCineonDpxFile(dir.file("n5-notes.dpx"), FilmFormat::Dpx, film, &filmNotes, nullptr)));
    const NoteLayer noFilmNotes(16 * 8, 0);
    ASSERT_TRUE(test::succeeded(WriteCineonDpxFile(dir.file("n6-plain.dpx"), FilmFormat::Dpx, film,
                                                   &noFilmNotes, nullptr)));
    test::writeFileBytes(dir.file("n7-broken.png"), {0x89, 'P', 'N', 'G'});
    // A photograph's thumbnail is decoded small; its notes still take a whole read.
    ASSERT_TRUE(test::succeeded(
        WriteJpegFile(dir.file("n8-photo.jpg"), test::makePatternImage(300, 200, 24))));

    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    const std::map<std::string, QString> expected = {{"..", ""},
                                                     {"a.bmp", ""},
                                                     {"b.bmp", ""},
                                                     {"c.bmp", ""},
                                                     {"n1-carrier.bmp", "yes"},
                                                     {"n2-turned.bmp", "yes"},
                                                     {"n3-carrier.png", "yes"},
                                                     {"n4-damaged.bmp", ""},
                                                     {"n5-notes.dpx", "yes"},
                                                     {"n6-plain.dpx", ""},
                                                     {"n7-broken.png", ""},
                                                     {"n8-photo.jpg", ""}};
    std::map<std::string, QString> shown;
    for (const auto& [name, value] : answered(list, FileListModel::NotesColumn))
        shown[name] = value.toString();
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(list.model()->headerData(FileListModel::NotesColumn, Qt::Horizontal).toString(),
              "Notes");
    // The list keeps its order; the answers only fill the column in.
    EXPECT_EQ(list.model()->index(list.folders().size() + 3, 0).data().toString(),
              "n1-carrier.bmp");

    // The grid's badge follows the same answers.
    toggleThumbnails(frame);
    for (const auto& [name, value] :
         answered(list, FileListModel::NameColumn, FileListModel::CarriesNotesRole)) {
        EXPECT_EQ(value.toBool(), expected.at(name) == "yes") << name;
    }
    // The photograph's thumbnail now carries the answer for the next visit.
    NotesReadOnTheWay noted;
    ASSERT_TRUE(
        makeThumbnail(cacheRoot(), dir.file("n8-photo.jpg"), ThumbnailSize::Normal, &noted).ok());
    EXPECT_TRUE(noted.known);
}

TEST_F(FileListModesTest, WebpFilesAreListedShownSteppedOntoAndThumbnailed)
{
    ASSERT_TRUE(test::succeeded(WriteWebpFile(dir.file("d-carrier.webp"), carrierPicture(false))));
    ASSERT_TRUE(test::succeeded(
        WriteWebpFile(dir.file("e-plain.webp"), test::makePatternImage(300, 200, 32))));
    ReaderWindow& frame = start({file("c.bmp")});
    FileList& list = frame.list();
    const auto notes = answered(list, FileListModel::NotesColumn);
    EXPECT_EQ(notes.at("d-carrier.webp").toString(), "yes");
    EXPECT_EQ(notes.at("e-plain.webp").toString(), "");
    const auto types = columnByName(list, FileListModel::TypeColumn);
    EXPECT_EQ(types.at("d-carrier.webp").toString(), "WebP Image");

    // Next Image steps onto both, and the picture is shown with its notes.
    QTest::keyClick(&frame.list(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("d-carrier.webp"));
    EXPECT_TRUE(frame.document().hasImage());
    QTest::keyClick(&frame.list(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("e-plain.webp"));
    EXPECT_TRUE(frame.document().hasImage());

    toggleThumbnails(frame);
    const auto decorations = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    for (const char* name : {"d-carrier.webp", "e-plain.webp"})
        EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file(name), ThumbnailSize::Normal),
                  ThumbnailState::Fresh)
            << name;
    // A 300 x 200 picture: 128 pixels across, 85 down.
    const QIcon thumbnail = decorations.at("e-plain.webp").value<QIcon>();
    EXPECT_EQ(thumbnail.actualSize(QSize(128, 128)), QSize(128, 85));
    for (const auto& [name, value] :
         answered(list, FileListModel::NameColumn, FileListModel::CarriesNotesRole)) {
        EXPECT_EQ(value.toBool(), name == "d-carrier.webp") << name;
    }
}

TEST_F(FileListModesTest, AvifFilesAreListedShownSteppedOntoAndThumbnailed)
{
    if (test::runCommand("command -v avifenc") != "")
        GTEST_SKIP() << "avifenc (Debian package libavif-bin) is not installed";
    // A picture 200 pixels wide and 300 high, stored on its side and turned upright by irot.
    ASSERT_TRUE(
        test::succeeded(WritePngFile(dir.file("side.png"), test::makePatternImage(300, 200, 24))));
    ASSERT_EQ(test::runCommand("avifenc -s 10 -j 1 --irot 1 '" + dir.file("side.png") + "' '" +
                               dir.file("d-phone.avif") + "'"),
              "");
    ReaderWindow& frame = start({file("c.bmp")});
    FileList& list = frame.list();
    EXPECT_EQ(columnByName(list, FileListModel::TypeColumn).at("d-phone.avif").toString(),
              "AVIF Image");
    EXPECT_EQ(answered(list, FileListModel::NotesColumn).at("d-phone.avif").toString(), "");
    QTest::keyClick(&frame.list(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("d-phone.avif"));
    EXPECT_TRUE(frame.document().hasImage());

    toggleThumbnails(frame);
    const auto decorations = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file("d-phone.avif"), ThumbnailSize::Normal),
              ThumbnailState::Fresh);
    const QIcon thumbnail = decorations.at("d-phone.avif").value<QIcon>();
    EXPECT_EQ(thumbnail.actualSize(QSize(128, 128)), QSize(85, 128));
}

TEST_F(FileListModesTest, HeifFilesAreListedShownSteppedOntoAndThumbnailed)
{
    if (test::runCommand("command -v heif-enc") != "")
        GTEST_SKIP() << "heif-enc (Debian package libheif-examples) is not installed";
    // A phone's picture, 200 pixels wide and 300 high, with an alpha channel.
    ASSERT_TRUE(
        test::succeeded(WritePngFile(dir.file("tall.png"), test::makePatternImage(200, 300, 32))));
    ASSERT_EQ(test::runCommand("heif-enc -q 50 '" + dir.file("tall.png") + "' -o '" +
                               dir.file("d-phone.HEIC") + "'"),
              "");
    ReaderWindow& frame = start({file("c.bmp")});
    FileList& list = frame.list();
    EXPECT_EQ(columnByName(list, FileListModel::TypeColumn).at("d-phone.HEIC").toString(),
              "HEIF Image");
    EXPECT_EQ(answered(list, FileListModel::NotesColumn).at("d-phone.HEIC").toString(), "");
    QTest::keyClick(&frame.list(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("d-phone.HEIC"));
    EXPECT_TRUE(frame.document().hasImage());

    toggleThumbnails(frame);
    const auto decorations = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file("d-phone.HEIC"), ThumbnailSize::Normal),
              ThumbnailState::Fresh);
    const QIcon thumbnail = decorations.at("d-phone.HEIC").value<QIcon>();
    EXPECT_EQ(thumbnail.actualSize(QSize(128, 128)), QSize(85, 128));
}

TEST_F(FileListModesTest, JxlFilesAreListedShownSteppedOntoAndThumbnailed)
{
    if (test::runCommand("command -v cjxl") != "")
        GTEST_SKIP() << "cjxl (Debian package libjxl-tools) is not installed";
    // A picture 300 pixels wide and 200 high whose header turns it by a quarter (orientation 6).
    ASSERT_TRUE(
        test::succeeded(WritePngFile(dir.file("side.png"), test::makePatternImage(300, 200, 24))));
    const std::vector<uint8_t> marker = test::exifOrientationMarker(6, false);
    test::writeFileBytes(dir.file("side-tagged.png"),
                         test::withPngChunk(test::readFileBytes(dir.file("side.png")), "eXIf",
                                            {marker.begin() + 6, marker.end()},
                                            test::ChunkPlace::AfterHeader));
    ASSERT_EQ(test::runCommand("cjxl -d 1 '" + dir.file("side-tagged.png") + "' '" +
                               dir.file("d-art.jxl") + "' >/dev/null 2>&1"),
              "");
    ReaderWindow& frame = start({file("c.bmp")});
    FileList& list = frame.list();
    EXPECT_EQ(columnByName(list, FileListModel::TypeColumn).at("d-art.jxl").toString(),
              "JPEG XL Image");
    EXPECT_EQ(answered(list, FileListModel::NotesColumn).at("d-art.jxl").toString(), "");
    QTest::keyClick(&frame.list(), Qt::Key_Down);
    EXPECT_EQ(frame.document().currentPath(), dir.file("d-art.jxl"));
    EXPECT_TRUE(frame.document().hasImage());

    toggleThumbnails(frame);
    const auto decorations = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file("d-art.jxl"), ThumbnailSize::Normal),
              ThumbnailState::Fresh);
    const QIcon thumbnail = decorations.at("d-art.jxl").value<QIcon>();
    EXPECT_EQ(thumbnail.actualSize(QSize(128, 128)), QSize(85, 128));
}

TEST_F(FileListModesTest, AnswersAboutTheFolderLeftNeverReachTheNextOne)
{
    // The first folder's pictures all carry notes; the second's, at the same rows, none.
    fs::create_directory(dir.file("first"));
    fs::create_directory(dir.file("second"));
    for (int i = 0; i < 40; ++i) {
        const std::string name = "p" + std::to_string(100 + i) + ".bmp";
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("first/" + name), carrierPicture(true))));
        ASSERT_TRUE(test::succeeded(
            WriteBmpFile(dir.file("second/" + name), test::makePatternImage(48, 32, 24))));
    }
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    toggleThumbnails(frame);
    for (int round = 0; round < 3; ++round) {
        list.showFolder(dir.file("first"));
        // Every row asked for, as if painted: some are being read when the folder changes.
        columnByName(list, FileListModel::NameColumn, FileListModel::CarriesNotesRole);
        list.showFolder(dir.file("second"));
        const auto badges =
            answered(list, FileListModel::NameColumn, FileListModel::CarriesNotesRole);
        EXPECT_EQ(badges.size(), 41u);
        for (const auto& [name, value] : badges)
            ASSERT_FALSE(value.toBool()) << name;
    }
    // And the first folder, listed again, shows its own answers.
    list.showFolder(dir.file("first"));
    const auto badges = answered(list, FileListModel::NameColumn, FileListModel::CarriesNotesRole);
    EXPECT_TRUE(badges.at("p100.bmp").toBool());
}

} // namespace
} // namespace ombri::reader

namespace ombri::reader {
namespace {

// A long unplanned session over both modes: switches, keys, clicks on whatever is in sight,
// folders entered and left while their thumbnails are still being made. Whatever the order, the
// picture on show is the list's current file, and the table and the grid agree on it.
TEST_F(FileListModesTest, UnplannedSessionsKeepTheViewsAndThePictureInStep)
{
    fs::create_directory(dir.file("more"));
    for (int i = 0; i < 30; ++i) {
        const std::string name = "more/m" + std::to_string(10 + i) + ".bmp";
        const Dib picture =
            i % 3 == 0 ? carrierPicture(true) : test::makePatternImage(48, 32, 24, i);
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file(name), picture)));
    }
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    uint32_t seed = 12345;
    const auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        QAbstractItemView* view = list.shownView();
        switch (next(7)) {
        case 0:
            toggleThumbnails(frame);
            break;
        case 1:
        case 2:
            view->setFocus();
            QTest::keyClick(view, next(2) ? Qt::Key_Down : Qt::Key_Up);
            break;
        case 3: {
            const QModelIndex index = view->indexAt(
                QPoint(static_cast<int>(next(static_cast<uint32_t>(view->viewport()->width()))),
                       static_cast<int>(next(static_cast<uint32_t>(view->viewport()->height())))));
            if (index.isValid() && index.row() >= static_cast<int>(list.folders().size()))
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                                  view->visualRect(index).center());
            break;
        }
        case 4:
            list.showFolder(next(2) ? dir.file("more") : dir.path());
            break;
        case 5:
            view->setFocus();
            QTest::keyClick(view, next(2) ? Qt::Key_Right : Qt::Key_End);
            break;
        default:
            QApplication::processEvents();
            break;
        }
        const int current = list.currentFileIndex();
        if (current >= 0) {
            ASSERT_EQ(frame.document().currentPath(),
                      list.folderPath() + list.files()[static_cast<size_t>(current)].name);
        }
        ASSERT_EQ(list.thumbnailGrid()->currentIndex().row(), list.currentIndex().row());
    }
    settle(list);
}

} // namespace
} // namespace ombri::reader

namespace ombri::reader {
namespace {

// A socket bound at the path, as a program that listens there leaves it.
void makeSocket(const std::string& path)
{
    const FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM, 0));
    ASSERT_TRUE(socket);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
}

// FIFOs and sockets named like pictures are listed as files, and never read: not by the workers
// in either mode, not by stepping onto them, not by opening one from the command line.
// OpenableReaderDocument a FIFO nobody writes to would wait for good, and File > Exit with it.
TEST_F(FileListModesTest, FifosAndSocketsAmongThePicturesAreListedButNeverRead)
{
    ASSERT_EQ(::mkfifo(dir.file("b2.png").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("b3.jpg").c_str(), 0600), 0);
    makeSocket(dir.file("b4.bmp"));
    // Without an extension, the type of a file may be told from its first bytes.
    ASSERT_EQ(::mkfifo(dir.file("z-pipe").c_str(), 0600), 0);
    const test::HangGuard guard(120, "the reader waited on a FIFO in the listed folder");
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    const auto notes = answered(list, FileListModel::NotesColumn);
    columnByName(list, FileListModel::NameColumn, Qt::DecorationRole);
    for (const char* name : {"b2.png", "b3.jpg", "b4.bmp", "z-pipe"}) {
        ASSERT_EQ(notes.count(name), 1u) << name;
        EXPECT_EQ(notes.at(name).toString(), "") << name;
    }
    // Stepping onto each in details mode leaves the window answering, with no picture on show,
    // and steps on past them.
    list.setFocus();
    for (const char* name : {"b.bmp", "b2.png", "b3.jpg", "b4.bmp", "c.bmp"}) {
        QTest::keyClick(&list, Qt::Key_Down);
        EXPECT_EQ(list.currentIndex().data().toString(), name);
        EXPECT_EQ(frame.document().hasImage(), name[1] == '.') << name;
    }
    EXPECT_EQ(frame.document().currentPath(), dir.file("c.bmp"));
    QTest::keyClick(&list, Qt::Key_Up);
    EXPECT_EQ(list.currentIndex().data().toString(), "b4.bmp");
    EXPECT_FALSE(frame.document().hasImage());

    // In thumbnail mode they get no thumbnail, and nothing is noted about them.
    toggleThumbnails(frame);
    const auto answers = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(answers.size(), notes.size());
    for (const char* name : {"b2.png", "b3.jpg", "b4.bmp"}) {
        EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file(name), ThumbnailSize::Normal),
                  ThumbnailState::Unavailable)
            << name;
    }
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file("c.bmp"), ThumbnailSize::Normal),
              ThumbnailState::Fresh);
    frame.commands().action(cmd::Exit)->trigger();
    app.reset();

    // Named on the command line, it is refused with the reason.
    app = std::make_unique<ReaderApp>(&prompt);
    EXPECT_FALSE(app->initInstance({QStringLiteral("ombri-reader"), file("b2.png")}));
    ASSERT_FALSE(prompt.messages().empty());
    EXPECT_NE(prompt.messages().back().text.find("it is not a regular file"), std::string::npos)
        << prompt.messages().back().text;
}

// A FIFO where a picture's cache entry should be holds neither the workers nor File > Exit: it
// is taken away and the entry made in its place.
TEST_F(FileListModesTest, AFifoInTheCacheHoldsNeitherTheWorkersNorExit)
{
    const std::string entry =
        thumbnailPath(cacheRoot(), fileUri(dir.file("b.bmp")), ThumbnailSize::Normal);
    fs::create_directories(fs::path(entry).parent_path());
    fs::permissions(cacheRoot(), fs::perms::owner_all);
    fs::permissions(fs::path(entry).parent_path(), fs::perms::owner_all);
    ASSERT_EQ(::mkfifo(entry.c_str(), 0600), 0);
    const test::HangGuard guard(120, "the reader waited on a FIFO in the thumbnail cache");
    ReaderWindow& frame = start({file("a.bmp")});
    FileList& list = frame.list();
    toggleThumbnails(frame);
    const auto icons = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(icons.at("b.bmp").value<QIcon>().actualSize(QSize(128, 128)), QSize(40, 30));
    EXPECT_EQ(fs::status(entry).type(), fs::file_type::regular);
    frame.commands().action(cmd::Exit)->trigger();
    app.reset();
}

// The workers share a budget for decoded pictures: with one smaller than any picture of the
// folder, they take turns, one picture at a time, and every picture is still answered.
TEST_F(FileListModesTest, PicturesLargerThanTheWholeMemoryBudgetAreAllAnswered)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
        paths.push_back(dir.file("big" + std::to_string(i) + ".png"));
        ASSERT_TRUE(WritePngFile(paths.back(), test::makePatternImage(200, 100 + i, 24)).ok());
    }
    paths.push_back(dir.file("a.bmp"));
    test::TempDir cache;
    BackgroundFileReader reader(nullptr, 1000);
    reader.setCacheRoot(cache.file("thumbnails"));
    std::map<int, FileFacts> answers;
    QObject::connect(&reader, &BackgroundFileReader::factsRead,
                     [&](int row, const FileFacts& facts) { answers[row] = facts; });
    for (size_t row = 0; row < paths.size(); ++row) {
        const bool withThumbnail = row % 2 == 0;
        reader.request(static_cast<int>(row), paths[row],
                       withThumbnail ? std::optional(ThumbnailSize::Normal) : std::nullopt);
    }
    ASSERT_TRUE(reader.waitForIdle(60000));
    QApplication::processEvents();
    ASSERT_EQ(answers.size(), paths.size());
    for (const auto& [row, facts] : answers) {
        EXPECT_EQ(facts.carriesNotes, std::optional(false)) << paths[row];
        EXPECT_EQ(facts.thumbnail.isNull(), row % 2 != 0) << paths[row];
    }
    EXPECT_LE(reader.peakDecodeMemory(), 1000u);
}

// Leaving a folder, or the program, while the workers wait for memory never waits for them.
TEST_F(FileListModesTest, WorkersWaitingForMemoryAreLetGoAtOnce)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) {
        paths.push_back(dir.file("big" + std::to_string(i) + ".png"));
        ASSERT_TRUE(WritePngFile(paths.back(), test::makePatternImage(300, 300, 24)).ok());
    }
    const test::HangGuard guard(120, "workers waiting for memory held up the reader's end");
    for (int round = 0; round < 5; ++round) {
        test::TempDir cache;
        auto reader = std::make_unique<BackgroundFileReader>(nullptr, 1000);
        reader->setCacheRoot(cache.file("thumbnails"));
        for (size_t row = 0; row < paths.size(); ++row)
            reader->request(static_cast<int>(row), paths[row], ThumbnailSize::Normal);
        if (round % 2 == 0)
            reader->cancelAll();
        reader.reset();
    }
}

using ScaledThumbnailTest = FileListModesTest;

// On a screen scaled by two the grid takes the large thumbnails, so that each thumbnail pixel is
// one screen pixel in the same 128 logical pixels.
TEST_F(ScaledThumbnailTest, ScaledScreensGetTheLargeThumbnails)
{
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("wide.bmp"), test::makePatternImage(600, 300, 24))));
    ReaderWindow& frame = start({file("a.bmp")});
    if (frame.devicePixelRatio() != 2.0)
        GTEST_SKIP() << "the screen is not scaled by two";
    FileList& list = frame.list();
    toggleThumbnails(frame);
    const auto decorations = answered(list, FileListModel::NameColumn, Qt::DecorationRole);
    EXPECT_EQ(lookUpThumbnail(cacheRoot(), dir.file("wide.bmp"), ThumbnailSize::Large),
              ThumbnailState::Fresh);
    const QIcon thumbnail = decorations.at("wide.bmp").value<QIcon>();
    const QPixmap drawn = thumbnail.pixmap(QSize(128, 128), 2.0);
    EXPECT_EQ(drawn.size(), QSize(256, 128));
    EXPECT_EQ(drawn.devicePixelRatio(), 2.0);
}

} // namespace
} // namespace ombri::reader
