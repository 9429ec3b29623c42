// Undo and Redo through the document's steps, driven through the real window: every figure,
// stroke, eraser stroke and text line, Clear All and Import Notes is a step, and each state met
// on the way back and forth is the one the user left there.
#include "view_fixture.h"
#include "window_fixture.h"

#include <QTest>

#include <functional>
#include <string>
#include <vector>

namespace ombri::writer {
using namespace ombri::test;
namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;

// What the user has on screen as the notes: the picture's bytes and the note layer, with the
// drawing of the tool in hand joined to it as putting the tool down would join it.
struct NoteState {
    std::vector<uint8_t> picture;
    NoteLayer notes;
    bool operator==(const NoteState& other) const
    {
        return picture == other.picture && notes == other.notes;
    }
};

// Where two states differ, for a failure message.
std::string difference(const NoteState& got, const NoteState& want)
{
    size_t notes = 0;
    std::string first;
    for (size_t i = 0; i < std::min(got.notes.size(), want.notes.size()); ++i) {
        if (got.notes[i] != want.notes[i] && notes++ == 0)
            first += ", the first note pixel at " + std::to_string(i);
    }
    size_t bytes = 0;
    for (size_t i = 0; i < std::min(got.picture.size(), want.picture.size()); ++i) {
        if (got.picture[i] != want.picture[i] && bytes++ == 0)
            first += ", the first picture byte at " + std::to_string(i) + " (" +
                     std::to_string(got.picture[i]) + " for " + std::to_string(want.picture[i]) +
                     ")";
    }
    return std::to_string(notes) + " note pixels and " + std::to_string(bytes) +
           " picture bytes differ" + first;
}

class DeepUndoTest : public WindowFixture {
  protected:
    // A 24-bit picture whose carrier already holds a scatter of notes, as the writer saved it.
    void openCarrier()
    {
        const std::string plain = dir.file("plain.bmp");
        ASSERT_TRUE(succeeded(WriteBmpFile(plain, makePatternImage(kWidth, kHeight, 24, 3))));
        ASSERT_TRUE(frame->openFile(QString::fromStdString(plain)));
        doc().MergeNotes(makePatternNotes(kWidth, kHeight, 5).data());
        const std::string carrier = dir.file("carrier.bmp");
        prompt.queueSavePath(carrier);
        ASSERT_TRUE(commands().trigger(cmd::SaveAsCompressed));
        ASSERT_TRUE(frame->openFile(QString::fromStdString(carrier)));
        ASSERT_EQ(DibGetBitCount(doc().image()), 24);
        ASSERT_TRUE(doc().noteLayer());
        ASSERT_GT(countNotePixels(*doc().noteLayer()), 0u);
        ASSERT_FALSE(commands().isEnabled(cmd::Undo));
    }

    NoteState committed()
    {
        NoteState state;
        const Dib& image = doc().image();
        state.picture.assign(image.data(), image.data() + image.size());
        const size_t size = static_cast<size_t>(doc().width()) * doc().height();
        state.notes = doc().noteLayer() ? *doc().noteLayer() : NoteLayer(size, 0);
        return state;
    }
    NoteState shown()
    {
        NoteState state = committed();
        const auto& pending = (*view().inspect().pending);
        if (!pending)
            return state;
        if (view().activeTool() == Tool::Eraser)
            state.notes = *pending;
        else
            for (size_t i = 0; i < pending->size(); ++i)
                state.notes[i] |= (*pending)[i];
        return state;
    }

    QWidget* canvas() { return view().viewport(); }
    // A point of the picture, in the canvas's coordinates.
    QPoint at(int x, int y) { return view().inspect().destination.topLeft() + QPoint(x, y); }

    void tool(int command) { ASSERT_TRUE(commands().trigger(command)); }
    // Puts the tool in hand down, as choosing it again does.
    void putDown(int command)
    {
        tool(command);
        ASSERT_EQ(view().activeTool(), Tool::None);
    }
    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(canvas(), Qt::LeftButton, Qt::NoModifier, at(from.x(), from.y()));
        for (int i = 1; i <= 4; ++i) {
            const QPoint point = at(from.x(), from.y()) + (to - from) * i / 4;
            QMouseEvent move(QEvent::MouseMove, point, canvas()->mapToGlobal(point), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(canvas(), &move);
        }
        QTest::mouseRelease(canvas(), Qt::LeftButton, Qt::NoModifier, at(to.x(), to.y()));
        QApplication::processEvents();
    }
    // A line of text typed where the user clicked, ended with Enter.
    void typeLine(QPoint where, const QString& text)
    {
        QTest::mouseClick(canvas(), Qt::LeftButton, Qt::NoModifier, at(where.x(), where.y()));
        QTest::keyClicks(canvas(), text);
        QTest::keyClick(canvas(), Qt::Key_Return);
        QApplication::processEvents();
    }
    void importMask(QRect black)
    {
        const std::string path = dir.file("mask.bmp");
        ASSERT_TRUE(
            succeeded(WriteBmpFile(path, makeSolidPicture(kWidth, kHeight, 24, 255, black))));
        prompt.queueOpenPath(path);
        ASSERT_TRUE(commands().trigger(cmd::ImportNotes));
    }

    // The step just taken: what the user sees now is the state at its place in the history.
    void step(const char* label)
    {
        NoteState now = shown();
        ASSERT_FALSE(now == states.back())
            << "step " << labels.size() + 1 << ", \"" << label << "\", changed nothing";
        states.push_back(std::move(now));
        labels.emplace_back(label);
    }

    void expectNames(QAction* action, const QString& text)
    {
        // The texts follow the window as its events are handled; the text may carry a tab and
        // the key after it.
        QApplication::processEvents();
        EXPECT_EQ(action->text().section('\t', 0, 0), text);
    }

    // Thirty figures, strokes, erasures and text lines over fifteen activations, with Clear
    // All and Import Notes between them; the last activation is still in hand.
    void takeMixedSteps()
    {
        states.push_back(committed());
        tool(cmd::LineTool);
        drag({5, 5}, {80, 40});
        step("Line");
        drag({10, 60}, {150, 20});
        step("Line");
        drag({0, 149}, {199, 0});
        step("Line");
        tool(cmd::RectangleTool);
        drag({20, 20}, {60, 50});
        step("Rectangle");
        drag({100, 30}, {180, 120});
        step("Rectangle");
        tool(cmd::EllipseTool);
        drag({30, 70}, {110, 140});
        step("Ellipse");
        tool(cmd::RoundRectangleTool);
        drag({120, 10}, {190, 60});
        step("Round Rectangle");
        drag({5, 100}, {70, 145});
        step("Round Rectangle");
        tool(cmd::ArcTool);
        drag({40, 10}, {140, 90});
        step("Arc");
        drag({150, 140}, {60, 90});
        step("Arc");
        tool(cmd::FreehandPen);
        drag({10, 10}, {190, 140});
        step("Pen");
        drag({190, 10}, {10, 140});
        step("Pen");
        drag({100, 5}, {100, 145});
        step("Pen");
        tool(cmd::Erasure);
        drag({40, 40}, {120, 40});
        step("Eraser");
        drag({160, 100}, {160, 140});
        step("Eraser");
        tool(cmd::TextTool);
        typeLine({20, 30}, "Ab");
        step("Text");
        typeLine({90, 80}, "note 1");
        step("Text");
        putDown(cmd::TextTool);
        ASSERT_TRUE(commands().trigger(cmd::ClearAll));
        step("Clear All");
        tool(cmd::LineTool);
        drag({1, 1}, {199, 149});
        step("Line");
        drag({199, 0}, {0, 149});
        step("Line");
        importMask(QRect(50, 40, 70, 30));
        step("Import Notes");
        tool(cmd::RectangleTool);
        drag({10, 10}, {40, 40});
        step("Rectangle");
        drag({15, 15}, {45, 45});
        step("Rectangle");
        drag({140, 100}, {195, 145});
        step("Rectangle");
        tool(cmd::Erasure);
        drag({60, 45}, {110, 60});
        step("Eraser");
        tool(cmd::FreehandPen);
        drag({5, 140}, {195, 120});
        step("Pen");
        drag({120, 5}, {130, 95});
        step("Pen");
        tool(cmd::TextTool);
        typeLine({10, 90}, "xyz");
        step("Text");
        tool(cmd::ArcTool);
        drag({20, 20}, {180, 130});
        step("Arc");
        drag({180, 20}, {20, 130});
        step("Arc");
        tool(cmd::EllipseTool);
        drag({60, 60}, {140, 100});
        step("Ellipse");
        drag({1, 1}, {50, 30});
        step("Ellipse");
    }

    std::vector<NoteState> states;   // states[k]: after k steps
    std::vector<std::string> labels; // labels[k]: the step that led to states[k + 1]
};

TEST_F(DeepUndoTest, EveryStepIsUndoneAndRedoneToTheStateItLeft)
{
    openCarrier();
    takeMixedSteps();
    ASSERT_EQ(labels.size(), 32u);
    const size_t last = labels.size();

    // In hand, Undo takes the whole activation first, and Redo brings it back.
    expectNames(commands().action(cmd::Undo), "&Undo Ellipse");
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    EXPECT_TRUE(shown() == states[last - 2]) << difference(shown(), states[last - 2]);
    expectNames(commands().action(cmd::Redo), "&Redo Ellipse");
    ASSERT_TRUE(commands().trigger(cmd::Redo));
    EXPECT_TRUE(shown() == states[last]) << difference(shown(), states[last]);
    putDown(cmd::EllipseTool);
    ASSERT_TRUE(committed() == states[last]) << difference(committed(), states[last]);
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));

    // Back to the picture as it was opened, one step at a time; the screen at each state is
    // kept to be compared on the way forward.
    std::vector<QImage> screens(last + 1);
    screens[last] = canvas()->grab().toImage();
    for (size_t k = last; k > 0; --k) {
        SCOPED_TRACE("undoing step " + std::to_string(k) + ", " + labels[k - 1]);
        ASSERT_TRUE(commands().isEnabled(cmd::Undo));
        expectNames(commands().action(cmd::Undo), "&Undo " + QString::fromStdString(labels[k - 1]));
        ASSERT_TRUE(commands().trigger(cmd::Undo));
        QApplication::processEvents();
        ASSERT_TRUE(committed() == states[k - 1]) << difference(committed(), states[k - 1]);
        expectNames(commands().action(cmd::Redo), "&Redo " + QString::fromStdString(labels[k - 1]));
        screens[k - 1] = canvas()->grab().toImage();
    }
    EXPECT_FALSE(commands().isEnabled(cmd::Undo));
    expectNames(commands().action(cmd::Undo), "&Undo");

    for (size_t k = 1; k <= last; ++k) {
        SCOPED_TRACE("redoing step " + std::to_string(k) + ", " + labels[k - 1]);
        ASSERT_TRUE(commands().isEnabled(cmd::Redo));
        expectNames(commands().action(cmd::Redo), "&Redo " + QString::fromStdString(labels[k - 1]));
        ASSERT_TRUE(commands().trigger(cmd::Redo));
        QApplication::processEvents();
        ASSERT_TRUE(committed() == states[k]) << difference(committed(), states[k]);
        EXPECT_TRUE(canvas()->grab().toImage() == screens[k]);
    }
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));
    expectNames(commands().action(cmd::Redo), "&Redo");
    expectNames(commands().action(cmd::Undo), "&Undo Ellipse");
}

// A pen stroke, an eraser stroke and a text line are each one step, however many pixels and
// moves they took.
TEST_F(DeepUndoTest, AStrokeAnErasureAndATextLineAreOneStepEach)
{
    openCarrier();
    states.push_back(committed());
    tool(cmd::FreehandPen);
    drag({10, 10}, {190, 140});
    step("Pen");
    tool(cmd::Erasure);
    drag({20, 20}, {180, 130});
    step("Eraser");
    tool(cmd::TextTool);
    typeLine({30, 60}, "one line");
    step("Text");
    putDown(cmd::TextTool);
    EXPECT_EQ(doc().history().size(), 3u);

    for (size_t k = 3; k > 0; --k) {
        expectNames(commands().action(cmd::Undo), "&Undo " + QString::fromStdString(labels[k - 1]));
        ASSERT_TRUE(commands().trigger(cmd::Undo));
        EXPECT_TRUE(committed() == states[k - 1])
            << k << ": " << difference(committed(), states[k - 1]);
    }
    EXPECT_FALSE(commands().isEnabled(cmd::Undo));
}

// Clear All with the eraser in hand: the strokes erased before it are steps before it, so that
// its Undo gives back the notes as the user saw them, not the ones they had erased.
TEST_F(DeepUndoTest, ClearAllKeepsTheErasuresBeforeIt)
{
    openCarrier();
    states.push_back(committed());
    tool(cmd::Erasure);
    drag({20, 20}, {180, 130});
    step("Eraser");
    ASSERT_TRUE(commands().trigger(cmd::ClearAll));
    step("Clear All");

    expectNames(commands().action(cmd::Undo), "&Undo Clear All");
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    EXPECT_TRUE(shown() == states[1]) << difference(shown(), states[1]);
    expectNames(commands().action(cmd::Undo), "&Undo Eraser");
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    EXPECT_TRUE(shown() == states[0]) << difference(shown(), states[0]);
    ASSERT_TRUE(commands().trigger(cmd::Redo));
    EXPECT_TRUE(shown() == states[1]) << difference(shown(), states[1]);
    ASSERT_TRUE(commands().trigger(cmd::Redo));
    EXPECT_TRUE(shown() == states[2]) << difference(shown(), states[2]);
    putDown(cmd::Erasure);
    EXPECT_TRUE(committed() == states[2]) << difference(committed(), states[2]);
}

// The history holds the last hundred steps: the oldest go first, and Undo stops where they
// went. The picture is large enough for its history's bytes to hold them all.
TEST_F(DeepUndoTest, AHundredStepsAreKeptAndTheOldestGoFirst)
{
    const std::string path = dir.file("large.bmp");
    ASSERT_TRUE(succeeded(WriteBmpFile(path, makePatternImage(600, 400, 24, 4))));
    ASSERT_TRUE(frame->openFile(QString::fromStdString(path)));
    states.push_back(committed());
    tool(cmd::LineTool);
    for (int i = 0; i < 105; ++i) {
        drag({1 + i, 2}, {1 + i, 60 + i % 40});
        step("Line");
    }
    putDown(cmd::LineTool);
    EXPECT_EQ(doc().history().size(), 100u);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(commands().trigger(cmd::Undo)) << i;
    EXPECT_FALSE(commands().isEnabled(cmd::Undo));
    EXPECT_TRUE(committed() == states[5]) << difference(committed(), states[5]);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(commands().trigger(cmd::Redo)) << i;
    EXPECT_TRUE(committed() == states[105]) << difference(committed(), states[105]);
}

// Undo after a save leaves the document other than the file; drawing after some undos drops the
// steps ahead; opening another picture drops the whole history.
TEST_F(DeepUndoTest, SavesNewDrawingAndOpeningAreWhereTheHistoryTurns)
{
    openCarrier();
    states.push_back(committed());
    tool(cmd::RectangleTool);
    drag({20, 20}, {60, 50});
    step("Rectangle");
    drag({100, 30}, {180, 120});
    step("Rectangle");
    putDown(cmd::RectangleTool);
    ASSERT_TRUE(commands().trigger(cmd::ClearAll));
    step("Clear All");
    prompt.queueSavePath(dir.file("saved.png"));
    ASSERT_TRUE(commands().trigger(cmd::SaveAsLossless));
    ASSERT_FALSE(doc().IsModified());
    expectNames(commands().action(cmd::Undo), "&Undo Clear All");
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    EXPECT_TRUE(doc().IsModified());
    EXPECT_TRUE(committed() == states[2]) << difference(committed(), states[2]);
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    expectNames(commands().action(cmd::Redo), "&Redo Rectangle");

    // New drawing: the Rectangle and Clear All undone can no longer come back.
    tool(cmd::LineTool);
    EXPECT_TRUE(commands().isEnabled(cmd::Redo));
    drag({1, 1}, {199, 149});
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));
    expectNames(commands().action(cmd::Redo), "&Redo");
    putDown(cmd::LineTool);
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    EXPECT_TRUE(committed() == states[1]) << difference(committed(), states[1]);
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    EXPECT_TRUE(committed() == states[0]) << difference(committed(), states[0]);
    EXPECT_FALSE(commands().isEnabled(cmd::Undo));

    // The eraser's first erasure is new drawing too.
    ASSERT_TRUE(commands().trigger(cmd::Redo));
    ASSERT_TRUE(commands().isEnabled(cmd::Redo));
    tool(cmd::Erasure);
    EXPECT_TRUE(commands().isEnabled(cmd::Redo));
    drag({20, 20}, {180, 130});
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));
    putDown(cmd::Erasure);

    // Another picture: nothing of this one's history is left to undo or redo.
    ASSERT_TRUE(commands().trigger(cmd::Undo));
    ASSERT_TRUE(commands().isEnabled(cmd::Undo));
    ASSERT_TRUE(commands().isEnabled(cmd::Redo));
    doc().SetModified(false);
    ASSERT_TRUE(frame->openFile(writePicture("other.bmp")));
    EXPECT_FALSE(commands().isEnabled(cmd::Undo));
    EXPECT_FALSE(commands().isEnabled(cmd::Redo));
    EXPECT_EQ(doc().history().size(), 0u);
    expectNames(commands().action(cmd::Undo), "&Undo");

    // Close and New leave nothing to undo either.
    for (int command : {cmd::FileClose, cmd::FileNew}) {
        tool(cmd::LineTool);
        drag({1, 1}, {30, 20});
        putDown(cmd::LineTool);
        ASSERT_TRUE(commands().isEnabled(cmd::Undo));
        doc().SetModified(false);
        ASSERT_TRUE(commands().trigger(command));
        EXPECT_FALSE(commands().isEnabled(cmd::Undo)) << command;
        EXPECT_EQ(doc().history().size(), 0u) << command;
        ASSERT_TRUE(frame->openFile(writePicture("other.bmp")));
    }
}

} // namespace
} // namespace ombri::writer
