// A save of a large picture runs beside the window: the window keeps painting, progress shows
// when the save takes long, nothing the user does reaches the picture until the save ends, and a
// request to close waits for it. Driven through the real window, with each save held at its
// start by the test as a slow disk would hold it.
#include "window_fixture.h"

#include "core/file_io.h"
#include "core/printable_name.h"

#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace ombri::writer {
using namespace ombri::test;
namespace {

std::atomic<bool> g_held{false};
std::atomic<bool> g_letGo{false};
std::atomic<std::thread::id> g_heldOn{};

// Holds every save at its start until the test lets it go. A save on the GUI thread would never
// be let go by the test's timers: after five seconds it goes on, and the test fails instead of
// hanging.
void holdAtStart(SavePoint point)
{
    if (point != SavePoint::Created)
        return;
    g_heldOn = std::this_thread::get_id();
    g_held = true;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!g_letGo && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

constexpr int kHoldMs = BackgroundWork::kProgressDelayMs + 300;

// What the document holds, to be compared before and after a save.
struct DocumentState {
    std::vector<uint8_t> pixels;
    std::optional<NoteLayer> notes;
    std::string path;
    bool modified = false;
    bool operator==(const DocumentState& other) const
    {
        return pixels == other.pixels && notes == other.notes && path == other.path &&
               modified == other.modified;
    }
};

class LongSaveTest : public WindowFixture {
  protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        // Nothing is held until a test asks: the test's own pictures are written freely.
        g_held = false;
        g_letGo = true;
        g_heldOn = std::thread::id();
        setSavePointHook(holdAtStart);
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        view().setFocus();
    }
    void TearDown() override
    {
        g_letGo = true;
        setSavePointHook(nullptr);
        setSaveSpaceLimit(kNoSpaceLimit);
        WindowFixture::TearDown();
    }

    // A picture of a few million pixels with a line of notes put down, modified.
    std::string openLargePictureWithNotes()
    {
        const std::string path = dir.file("large.bmp");
        EXPECT_TRUE(succeeded(WriteBmpFile(path, makePatternImage(1600, 1200, 24, 7))));
        EXPECT_TRUE(frame->openFile(QString::fromStdString(path)));
        drawPendingLine();
        EXPECT_TRUE(commands().trigger(cmd::LineTool));
        EXPECT_TRUE(doc().noteLayer().has_value());
        EXPECT_TRUE(doc().IsModified());
        return path;
    }

    DocumentState state()
    {
        const Dib& image = doc().image();
        return DocumentState{std::vector<uint8_t>(image.data(), image.data() + image.size()),
                             doc().noteLayer(), doc().getPathName(), doc().IsModified()};
    }

    // What was seen on the GUI thread while the save was held.
    struct Seen {
        int ticks = 0;
        bool progressShown = false;
        QString progressLabel;
    };

    // Runs the command with its save held for kHoldMs; whileHeld runs on the GUI thread once the
    // save has reached its start.
    Seen runHeld(int command, const std::function<void()>& whileHeld = {})
    {
        Seen seen;
        g_held = false;
        g_letGo = false;
        QElapsedTimer sinceHeld;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!g_held)
                return;
            ++seen.ticks;
            if (!sinceHeld.isValid()) {
                sinceHeld.start();
                if (whileHeld)
                    whileHeld();
            }
            if (sinceHeld.elapsed() < kHoldMs)
                return;
            const QProgressDialog* progress = frame->saveWork().progressDialog();
            seen.progressShown = progress && progress->isVisible();
            if (progress)
                seen.progressLabel = progress->labelText();
            tick.stop();
            g_letGo = true;
        });
        tick.start();
        commands().trigger(command);
        return seen;
    }

    void drop(const std::string& path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view().viewport(), &enter);
        QDropEvent event(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view().viewport(), &event);
    }
};

TEST_F(LongSaveTest, EverySaveRunsBesideTheWindowWithProgressOnceItTakesLong)
{
    struct Case {
        int command;
        std::string name;
        std::string saving;
        bool choosesName;
    };
    // File Save first, while the picture's own file is still the one it writes to; the JPEG
    // last, as the picture's file from then on takes no notes.
    const Case cases[] = {
        {cmd::FileSave, "large.bmp", "Saving ", false},
        {cmd::SaveCleanCopy, "clean.png", "Saving ", true},
        {cmd::ExportNotes, "notes.png", "Saving the notes to ", true},
        {cmd::SaveAsLossless, "lossless.png", "Saving ", true},
        {cmd::SaveAsCompressed, "compressed.jpg", "Saving ", true},
    };
    openLargePictureWithNotes();
    int shown = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // File Save writes only a changed picture.
        doc().SetModified(true);
        if (c.choosesName)
            prompt.queueSavePath(dir.file(c.name));
        // The JPEG question about the notes.
        if (c.command == cmd::SaveAsCompressed)
            prompt.queueAnswer(Answer::Yes);
        const Seen seen = runHeld(c.command);
        EXPECT_TRUE(g_held);
        EXPECT_NE(g_heldOn.load(), std::this_thread::get_id());
        // The GUI thread went on: its timers fired.
        EXPECT_GT(seen.ticks, 5);
        EXPECT_TRUE(seen.progressShown);
        const std::string status = c.saving + dir.file(c.name) + "...";
        EXPECT_EQ(seen.progressLabel.toStdString(), status);
        EXPECT_EQ(prompt.busyStatuses().back(), status);
        EXPECT_EQ(frame->saveWork().progressShownCount(), ++shown);
        EXPECT_EQ(frame->saveWork().progressDialog(), nullptr);
        EXPECT_FALSE(frame->saveWork().running());
        EXPECT_TRUE(fileExists(dir.file(c.name)));
    }
    EXPECT_EQ(prompt.messages().size(), 1u); // the JPEG question
}

TEST_F(LongSaveTest, AShortSaveShowsNoProgress)
{
    ASSERT_TRUE(frame->openFile(writePicture("small.bmp")));
    drawPendingLine();
    prompt.queueSavePath(dir.file("small.png"));
    ASSERT_TRUE(commands().trigger(cmd::SaveAsLossless));
    EXPECT_TRUE(g_held);
    EXPECT_FALSE(doc().IsModified());
    EXPECT_EQ(frame->saveWork().progressShownCount(), 0);
    EXPECT_EQ(prompt.busyStatuses().back(), "Saving " + dir.file("small.png") + "...");
}

TEST_F(LongSaveTest, InputDuringASaveReachesNeitherThePictureNorTheFile)
{
    openLargePictureWithNotes();
    const std::string other = writePicture("other.bmp", 9).toStdString();
    const DocumentState before = state();
    const bool notesShown = view().inspect().showNotes;
    // Were New or the drop let through, this answer would let them replace the picture.
    prompt.queueAnswer(Answer::No);
    prompt.queueSavePath(dir.file("held.png"));
    const Seen seen = runHeld(cmd::SaveAsLossless, [&] {
        QTest::keyClick(&view(), Qt::Key_Space);
        QTest::keyClick(&view(), Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(&view(), Qt::Key_S, Qt::ControlModifier);
        QTest::mouseClick(view().viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        drop(other);
    });
    ASSERT_GT(seen.ticks, 5);
    QApplication::processEvents();
    // Nothing waited to be delivered later either.
    EXPECT_EQ(view().inspect().showNotes, notesShown);
    DocumentState after = state();
    EXPECT_EQ(after.path, dir.file("held.png"));
    EXPECT_FALSE(after.modified);
    after.path = before.path;
    after.modified = true;
    EXPECT_TRUE(after == before);
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_EQ(prompt.saveDialogs().size(), 1u);
    // The file is what a save of the document as it was writes.
    ASSERT_EQ(doc().SaveImageByExtension(dir.file("reference.png")),
              SavableWriterDocument::SaveOutcome::Saved);
    EXPECT_TRUE(readFileBytes(dir.file("held.png")) == readFileBytes(dir.file("reference.png")));
}

TEST_F(LongSaveTest, AFailedSaveIsToldAfterItsWorkEnds)
{
    openLargePictureWithNotes();
    setSaveSpaceLimit(4096);
    const std::string path = dir.file("full.png");
    prompt.queueSavePath(path);
    const Seen seen = runHeld(cmd::SaveAsLossless);
    EXPECT_GT(seen.ticks, 5);
    ASSERT_EQ(prompt.messages().size(), 1u);
    const auto& message = prompt.messages().front();
    EXPECT_EQ(message.text,
              "Could not save the image to " + printableName(path) + ".\n" + doc().lastSaveError());
    EXPECT_NE(doc().lastSaveError().find("No space left on device"), std::string::npos);
    EXPECT_EQ(message.caption, "Warning");
    EXPECT_EQ(message.icon, Icon::Warning);
    EXPECT_TRUE(doc().IsModified());
    EXPECT_FALSE(fileExists(path));
}

TEST_F(LongSaveTest, ClosingDuringASaveWaitsForItAndThenCloses)
{
    for (const bool byExit : {false, true}) {
        SCOPED_TRACE(byExit ? "Exit" : "close button");
        if (!frame->isVisible()) {
            frame.reset();
            WindowFixture::SetUp();
        }
        const std::string path = openLargePictureWithNotes();
        const NoteLayer notes = *doc().noteLayer();
        bool closedWhileHeld = false;
        runHeld(cmd::FileSave, [&] {
            if (byExit)
                commands().trigger(cmd::Exit);
            else
                frame->close();
            closedWhileHeld = !frame->isVisible();
        });
        EXPECT_FALSE(closedWhileHeld);
        EXPECT_FALSE(doc().IsModified());
        QApplication::processEvents();
        // The saved picture had nothing left to ask about.
        EXPECT_FALSE(frame->isVisible());
        EXPECT_TRUE(prompt.messages().empty());
        SavableWriterDocument reopened(prompt);
        ASSERT_TRUE(reopened.OnOpenDocument(path));
        ASSERT_TRUE(reopened.noteLayer().has_value());
        EXPECT_TRUE(*reopened.noteLayer() == notes);
    }
}

TEST_F(LongSaveTest, TheSaveAskedForOnLeavingRunsBesideTheWindowToo)
{
    const std::string path = openLargePictureWithNotes();
    const NoteLayer notes = *doc().noteLayer();
    prompt.queueAnswer(Answer::Yes);
    const Seen seen = runHeld(cmd::Exit, [&] { frame->close(); });
    EXPECT_NE(g_heldOn.load(), std::this_thread::get_id());
    EXPECT_GT(seen.ticks, 5);
    EXPECT_TRUE(seen.progressShown);
    QApplication::processEvents();
    EXPECT_FALSE(frame->isVisible());
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages().front().text, "Save changes to large.bmp?");
    SavableWriterDocument reopened(prompt);
    ASSERT_TRUE(reopened.OnOpenDocument(path));
    ASSERT_TRUE(reopened.noteLayer().has_value());
    EXPECT_TRUE(*reopened.noteLayer() == notes);
}

} // namespace
} // namespace ombri::writer
