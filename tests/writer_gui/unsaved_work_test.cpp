// The writer never drops a picture or its notes without asking: a file that cannot be opened
// changes nothing, and notes that no file took keep the picture changed until they are saved
// somewhere or let go. Driven through the real window: commands, the Open dialog, drops and the
// answers a user gives.
#include "window_fixture.h"

#include "formats/dispatch.h"
#include "formats/png.h"

#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <tuple>

namespace ombri::writer {
using namespace ombri::test;
namespace {

// How the user asks for the file.
enum class Way { OpenDialog, Drop, RecentFile };
// What is wrong with it.
enum class Damage { NotAPicture, TruncatedPng, BrokenHeader };

std::string describe(Way way, Damage damage, bool drawing)
{
    static const char* const ways[] = {"OpenDialog", "Drop", "RecentFile"};
    static const char* const damages[] = {"NotAPicture", "TruncatedPng", "BrokenHeader"};
    return std::string(ways[static_cast<int>(way)]) + damages[static_cast<int>(damage)] +
           (drawing ? "WhileDrawing" : "Unchanged");
}

class UnsavedWorkTest : public WindowFixture {
  protected:
    QImage screen() { return view().viewport()->grab().toImage(); }

    // File Open with the path typed into its dialog and Enter, as a user does. A dialog still
    // open after some seconds is closed, so that the test fails instead of hanging.
    void openThroughDialog(const std::string& path)
    {
        QElapsedTimer shown;
        QTimer type;
        type.setInterval(10);
        QObject::connect(&type, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* name =
                dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
            if (!name || !dialog->isVisible())
                return;
            // The dialog fills its list and its completer once it shows; typing waits for that.
            if (!shown.isValid())
                shown.start();
            if (shown.elapsed() < 50)
                return;
            type.stop();
            name->setFocus();
            QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(name, QString::fromStdString(path));
            QTest::keyClick(name, Qt::Key_Return);
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            ADD_FAILURE() << "the Open dialog did not take the path";
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        type.start();
        guard.start(10000);
        ASSERT_TRUE(commands().trigger(cmd::FileOpen));
        QApplication::processEvents();
    }

    void drop(const std::string& path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view().viewport(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view().viewport(), &event);
        QApplication::processEvents();
    }

    std::string writeDamaged(const std::string& name, Damage damage)
    {
        const std::string path = dir.file(name);
        switch (damage) {
        case Damage::NotAPicture:
            writeFileBytes(path, {'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'});
            break;
        case Damage::TruncatedPng: {
            EXPECT_TRUE(succeeded(WritePngFile(path, makePatternImage(40, 30, 24, 3))));
            std::vector<uint8_t> bytes = readFileBytes(path);
            bytes.resize(bytes.size() / 2);
            writeFileBytes(path, bytes);
            break;
        }
        case Damage::BrokenHeader:
            writeFileBytes(path, {0x89, 'P', 'N', 'G', 1, 2, 3});
            break;
        }
        return path;
    }

    size_t notesIn(const std::string& path)
    {
        const LoadedImage loaded = loadCheckedImage(path);
        return loaded.noteLayer ? countNotePixels(*loaded.noteLayer) : 0;
    }
};

// Everything a failed open must leave as it was.
struct Kept {
    std::vector<uint8_t> image;
    std::optional<NoteLayer> notes;
    std::optional<std::vector<uint8_t>> pending;
    bool modified = false;
    std::string path, title, savePath;
    Tool tool = Tool::None;
    QImage screen;
};

class FailedOpenTest : public UnsavedWorkTest,
                       public ::testing::WithParamInterface<std::tuple<Way, Damage, bool>> {
  protected:
    Kept keep()
    {
        const Dib& image = doc().image();
        return Kept{std::vector<uint8_t>(image.data(), image.data() + image.size()),
                    doc().noteLayer(),
                    (*view().inspect().pending),
                    doc().IsModified(),
                    doc().getPathName(),
                    doc().getTitle(),
                    doc().savePath(),
                    view().activeTool(),
                    screen()};
    }
};

TEST_P(FailedOpenTest, LeavesThePictureItsNotesAndTheDrawingAsTheyWere)
{
    const auto [way, damage, drawing] = GetParam();
    std::string bad = dir.file("bad.png");
    if (way == Way::RecentFile) {
        // The file opened well once and has been spoilt since.
        ASSERT_TRUE(succeeded(WritePngFile(bad, makePatternImage(40, 30, 24, 2))));
        ASSERT_TRUE(frame->openFile(QString::fromStdString(bad)));
        writeDamaged("bad.png", damage);
    } else {
        bad = writeDamaged(damage == Damage::NotAPicture ? "notes.txt" : "bad.png", damage);
    }
    const QString picture = writePicture("beach.bmp");
    ASSERT_TRUE(frame->openFile(picture));
    if (drawing)
        drawPendingLine();
    const Kept before = keep();
    const QStringList recent = frame->recentFiles();
    // The user means to let the drawing go, as in "Save changes?" No, but is never asked: the
    // file cannot replace the picture.
    prompt.queueAnswer(Answer::No);

    switch (way) {
    case Way::OpenDialog:
        openThroughDialog(bad);
        break;
    case Way::Drop:
        drop(bad);
        break;
    case Way::RecentFile:
        ASSERT_EQ(recent.value(1).toStdString(), bad);
        commands().trigger(cmd::RecentFileFirst + 1);
        break;
    }

    ASSERT_EQ(prompt.openFailures().size(), 1u);
    EXPECT_EQ(prompt.openFailures()[0].path, bad);
    EXPECT_TRUE(prompt.messages().empty()) << prompt.messages()[0].text;
    const Kept after = keep();
    EXPECT_EQ(after.image, before.image);
    EXPECT_EQ(after.notes, before.notes);
    EXPECT_EQ(after.pending, before.pending);
    EXPECT_EQ(after.modified, before.modified);
    EXPECT_EQ(after.path, picture.toStdString());
    EXPECT_EQ(after.title, "beach.bmp");
    EXPECT_EQ(after.savePath, before.savePath);
    EXPECT_EQ(after.tool, before.tool);
    EXPECT_EQ(after.screen, before.screen);
    EXPECT_EQ(frame->recentFiles(), way == Way::RecentFile ? QStringList({picture}) : recent);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, FailedOpenTest,
    ::testing::Combine(::testing::Values(Way::OpenDialog, Way::Drop, Way::RecentFile),
                       ::testing::Values(Damage::NotAPicture, Damage::TruncatedPng,
                                         Damage::BrokenHeader),
                       ::testing::Bool()),
    [](const auto& info) {
        return describe(std::get<0>(info.param), std::get<1>(info.param), std::get<2>(info.param));
    });

// The file is read before the question; when Yes then saves the picture into that very file, it
// is read again and comes with the notes just saved.
TEST_F(UnsavedWorkTest, OpeningThePicturesOwnFileAfterYesBringsWhatWasSaved)
{
    const QString picture = writePicture("beach.bmp");
    ASSERT_TRUE(frame->openFile(picture));
    drawPendingLine();
    const size_t drawn = countNotePixels(*(*view().inspect().pending));
    prompt.queueAnswer(Answer::Yes);
    openThroughDialog(picture.toStdString());
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "Save changes to beach.bmp?");
    EXPECT_FALSE(doc().IsModified());
    ASSERT_TRUE(doc().noteLayer());
    EXPECT_EQ(countNotePixels(*doc().noteLayer()), drawn);
    EXPECT_FALSE((*view().inspect().pending));
}

// ---- notes that no file kept ---------------------------------------------------------------

// A JPEG keeps none of the notes: after the user's Yes it is written, yet the picture stays
// changed, and the question's Yes then offers another file rather than the JPEG again.
TEST_F(UnsavedWorkTest, AfterAJpegSaveClosingAsksAndYesSavesTheNotesElsewhere)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    drawPendingLine();
    const size_t drawn = countNotePixels(*(*view().inspect().pending));
    prompt.queueSavePath(dir.file("beach.jpg"));
    prompt.queueAnswer(Answer::Yes); // the notes would be lost; save it?
    ASSERT_TRUE(commands().trigger(cmd::SaveAsLossless));
    ASSERT_TRUE(fileExists(dir.file("beach.jpg")));
    EXPECT_TRUE(doc().IsModified());
    EXPECT_EQ(doc().getPathName(), dir.file("beach.jpg"));

    prompt.clear();
    prompt.queueAnswer(Answer::Yes);
    prompt.queueSavePath(dir.file("kept.png"));
    ASSERT_TRUE(commands().trigger(cmd::FileClose));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "The image has been changed. Save it?");
    ASSERT_EQ(prompt.saveDialogs().size(), 1u);
    EXPECT_EQ(prompt.saveDialogs()[0].defaultExtension, "png");
    EXPECT_EQ(notesIn(dir.file("kept.png")), drawn);
    EXPECT_FALSE(doc().hasImage());
    EXPECT_FALSE(doc().IsModified());
}

// A picture too narrow for the signature keeps no notes in its own file either: Open and Exit
// ask again after such a save, Yes goes to Save As, and a cancelled Save As keeps the picture.
TEST_F(UnsavedWorkTest, AfterANarrowSaveOpenAndExitAskAgain)
{
    const std::string narrow = dir.file("narrow.bmp");
    ASSERT_TRUE(succeeded(WriteBmpFile(narrow, makePatternImage(5, 30, 24))));
    ASSERT_TRUE(frame->openFile(QString::fromStdString(narrow)));
    drawPendingLine();
    prompt.queueAnswer(Answer::Yes); // save it without the notes?
    ASSERT_TRUE(commands().trigger(cmd::FileSave));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text.rfind("The notes cannot be kept in this picture", 0), 0u);
    EXPECT_TRUE(doc().IsModified());
    const std::vector<uint8_t> written = readFileBytes(narrow);

    prompt.clear();
    prompt.queueAnswer(Answer::Yes); // save changes? The Save As dialog is then cancelled.
    EXPECT_FALSE(frame->openFile(writePicture("beach.bmp")));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "Save changes to narrow.bmp?");
    EXPECT_EQ(prompt.saveDialogs().size(), 1u);
    EXPECT_EQ(doc().getPathName(), narrow);
    EXPECT_TRUE(doc().IsModified());
    EXPECT_EQ(readFileBytes(narrow), written);

    prompt.queueAnswer(Answer::Yes);
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(prompt.messages().size(), 2u);
    EXPECT_EQ(prompt.saveDialogs().size(), 2u);
    EXPECT_EQ(readFileBytes(narrow), written);

    prompt.queueAnswer(Answer::No); // let the notes go
    EXPECT_TRUE(frame->close());
}

} // namespace
} // namespace ombri::writer
