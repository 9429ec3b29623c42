// OmbriReader as a user runs it: started on a folder of sample pictures, a carrier clicked in
// the file list, its notes shown in another colour, pictures stepped with the keys, turned and
// printed; what the window shows is checked pixel by pixel.
#include "platform/scripted_prompt.h"
#include "reader/adjustments.h"
#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_app.h"
#include "reader/ui/reader_window.h"
#include "support/test_support.h"

#include <QApplication>
#include <QPrinter>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

namespace ombri::test {
namespace {

namespace fs = std::filesystem;

// A note pixel with notes all around it, so smoothing cannot change its colour.
std::optional<QPoint> noteInTheMiddleOfNotes(const NoteLayer& notes, int width, int height)
{
    for (int y = 3; y < height - 3; ++y)
        for (int x = 3; x < width - 3; ++x) {
            bool all = true;
            for (int dy = -2; dy <= 2 && all; ++dy)
                for (int dx = -2; dx <= 2 && all; ++dx)
                    all = notes[static_cast<size_t>(height - 1 - (y + dy)) * width + x + dx] == 1;
            if (all)
                return QPoint(x, y);
        }
    return std::nullopt;
}

TEST(ReaderProgramTest, BrowsingAFolderShowsTheNotesWhereTheyAre)
{
    TempDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.file("settings")));
    const fs::path samples = fs::path(dir.path()) / "samples";
    fs::create_directory(samples);
    for (const char* name : {"gradient-notes-32.png", "plain.png", "sunset-notes-24.png"})
        fs::copy_file(fs::path(OMBRI_SOURCE_DIR) / "resources/samples" / name, samples / name);
    const fs::path startFolder = fs::current_path();

    ScriptedPrompt prompt;
    reader::ReaderApp app(&prompt);
    ASSERT_TRUE(app.initInstance({"ombri-reader", QString::fromStdString(samples.string())}));
    reader::ReaderWindow& frame = *app.window();
    reader::OpenableReaderDocument& doc = frame.document();
    QApplication::processEvents();
    EXPECT_EQ(doc.currentPath(), (samples / "gradient-notes-32.png").string());

    // A click on the sunset in the list opens it, notes hidden at first.
    reader::FileList& list = frame.list();
    int row = -1;
    for (int r = 0; r < list.model()->rowCount(); ++r)
        if (list.model()->index(r, 0).data().toString() == "sunset-notes-24.png")
            row = r;
    ASSERT_GE(row, 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.visualRect(list.model()->index(row, 0)).center());
    ASSERT_EQ(doc.currentPath(), (samples / "sunset-notes-24.png").string());
    ASSERT_TRUE(doc.hasNoteLayer());
    EXPECT_FALSE(frame.view().showNotes());

    // Notes shown in green: the window shows green on them.
    frame.commands().trigger(reader::cmd::DisplayNotes);
    frame.commands().trigger(reader::cmd::ColourGreen);
    QApplication::processEvents();
    const auto note = noteInTheMiddleOfNotes(*doc.noteLayer(), doc.width(), doc.height());
    ASSERT_TRUE(note);
    reader::ImageView& view = frame.view();
    const QRect shownAt = view.inspect().destination.translated(-view.inspect().scroll);
    const QPoint onScreen(
        shownAt.left() + (note->x() * shownAt.width() + shownAt.width() / 2) / doc.width(),
        shownAt.top() + (note->y() * shownAt.height() + shownAt.height() / 2) / doc.height());
    EXPECT_EQ(view.inspect().frame.pixel(onScreen) & 0xFFFFFFu, 0x00FF00u);

    // The keys step through the folder whichever pane has the focus.
    QTest::keyClick(&frame.tree(), Qt::Key_Up);
    EXPECT_EQ(doc.currentPath(), (samples / "plain.png").string());
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(doc.currentPath(), (samples / "sunset-notes-24.png").string());
    QTest::keyClick(&list, Qt::Key_PageDown); // the last picture: nothing happens
    EXPECT_EQ(doc.currentPath(), (samples / "sunset-notes-24.png").string());

    // A quarter turn takes the notes with the picture.
    if (!view.showNotes())
        frame.commands().trigger(reader::cmd::DisplayNotes);
    frame.commands().trigger(reader::cmd::RotateClockwise);
    const Dib* turned = doc.BuildDisplayImage(true);
    ASSERT_NE(turned, nullptr);
    ASSERT_EQ(DibGetWidth(*turned), doc.height());
    ASSERT_EQ(DibGetHeight(*turned), doc.width());
    const auto turnedNote = noteInTheMiddleOfNotes(*doc.noteLayer(), doc.width(), doc.height());
    ASSERT_TRUE(turnedNote);
    // Column x, row y of the picture lands at column height-1-y, row x once turned clockwise.
    const uint8_t* pixel = pixelAt(*turned, doc.height() - 1 - turnedNote->y(), turnedNote->x());
    EXPECT_EQ(pixel[1], 255);
    EXPECT_EQ(pixel[0] + pixel[2], 0);

    // And it prints as shown.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.file("page.pdf")));
    view.printPicture(printer);
    const auto pdf = readFileBytes(dir.file("page.pdf"));
    ASSERT_GT(pdf.size(), 1000u);
    EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 5), "%PDF-");

    app.window()->close();
    fs::current_path(startFolder);
}

} // namespace
} // namespace ombri::test
