// Undo and Redo in sequences that mix tools, Clear All, scrolling, files and the text being
// typed: whatever the order, the notes and the picture come back exactly, and nothing drawn is
// lost or kept for the wrong picture.
#include "view_fixture.h"

#include "writer/command_ids.h"

#include <QScrollBar>

#include <vector>

namespace ombri::writer {
namespace {

class UndoSequenceTest : public ViewFixture {
  protected:
    void SetUp() override
    {
        ViewFixture::SetUp();
        openWhite();
    }
    std::vector<uint8_t> notes() const
    {
        return doc->noteLayer() ? *doc->noteLayer() : std::vector<uint8_t>();
    }
    size_t committedNotes() const
    {
        return doc->noteLayer() ? std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1)
                                : 0;
    }
    std::vector<uint8_t> pixels() const
    {
        return std::vector<uint8_t>(doc->image().data(), doc->image().data() + doc->image().size());
    }
    // One finished figure of the tool, put down: one step of the notes.
    void drawStep(int command, QPoint from, QPoint to)
    {
        view->onToolCommand(command);
        drag(from, to);
        view->EndTool(false);
    }
    void type(const QString& text)
    {
        for (const QChar c : text)
            view->onChar(c.unicode());
    }
};

// A click or a stroke that lands beside the picture draws nothing: the steps undone and the
// drawing Redo would bring back are still there, and Undo has nothing of the tool's to take.
TEST_F(UndoSequenceTest, DrawingBesideThePictureKeepsWhatRedoBringsBack)
{
    drawStep(cmd::LineTool, {10, 10}, {60, 10});
    view->onUndo();
    ASSERT_EQ(committedNotes(), 0u);
    for (const int command : {cmd::RectangleTool, cmd::FreehandPen}) {
        view->onToolCommand(command);
        drag({200, 200}, {260, 250});
        EXPECT_TRUE(view->canRedo()) << command;
        EXPECT_EQ(view->redoName(), "Line") << command;
        EXPECT_EQ(view->undoName(), QString()) << command;
        view->EndTool(false);
    }
    view->onToolCommand(cmd::TextTool);
    view->onLButtonDown({200, 200});
    view->onLButtonUp({200, 200});
    type(QStringLiteral("ab"));
    view->onChar(13);
    EXPECT_EQ(view->redoName(), "Line");
    EXPECT_EQ(view->undoName(), QString());
    view->EndTool(false);
    view->onRedo();
    EXPECT_EQ(committedNotes(), 50u);
}

TEST_F(UndoSequenceTest, UndoingClearAllInTheMiddleOfADrawingGivesBackPixelsAndNotes)
{
    drawStep(cmd::LineTool, {10, 10}, {60, 10});
    const auto notesBefore = notes();
    const auto pixelsBefore = pixels();
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 50}, {40, 50});
    view->onClearAll();
    EXPECT_EQ(committedNotes(), 0u);
    view->onUndo(); // the pen's stroke
    EXPECT_FALSE((*view->inspect().pending));
    view->onUndo(); // Clear All
    EXPECT_EQ(notes(), notesBefore);
    EXPECT_EQ(pixels(), pixelsBefore);
    view->onRedo();
    EXPECT_EQ(committedNotes(), 0u);
    view->onRedo();
    view->EndTool(false);
    EXPECT_EQ(committedNotes(), 31u);
    view->onUndo();
    view->onUndo();
    EXPECT_EQ(notes(), notesBefore);
    EXPECT_EQ(pixels(), pixelsBefore);
}

TEST_F(UndoSequenceTest, HalfTypedLineUndoneThenStepsWalkedBothWays)
{
    drawStep(cmd::LineTool, {10, 10}, {60, 10});
    view->onToolCommand(cmd::TextTool);
    view->onLButtonDown({10, 30});
    view->onLButtonUp({10, 30});
    type(QStringLiteral("Hi"));
    view->onChar(13);
    type(QStringLiteral("xy"));
    EXPECT_EQ(view->undoName(), "Text");
    view->onUndo(); // the captured line and the half-typed one
    EXPECT_TRUE(view->inspect().toolState.textLine.isEmpty());
    EXPECT_EQ(view->undoName(), "Line");
    view->onUndo();
    EXPECT_EQ(committedNotes(), 0u);
    EXPECT_EQ(view->redoName(), "Line");
    view->onRedo();
    EXPECT_EQ(committedNotes(), 50u);
    EXPECT_EQ(view->redoName(), "Text");
    view->onRedo();
    view->EndTool(false);
    EXPECT_GT(committedNotes(), 50u);
    EXPECT_EQ(view->undoName(), "Text");
}

TEST_F(UndoSequenceTest, EraserInHandWalksTheStepsAndStartsFromTheNotesShown)
{
    drawStep(cmd::LineTool, {10, 10}, {60, 10});
    drawStep(cmd::LineTool, {10, 30}, {60, 30});
    view->onToolCommand(cmd::Erasure);
    view->onUndo();
    EXPECT_EQ(committedNotes(), 50u);
    view->onMouseMove({20, 10}, kLeftButton); // erases part of the first line
    view->onLButtonUp({20, 10});
    EXPECT_EQ(view->undoName(), "Eraser");
    EXPECT_FALSE(view->canRedo());
    view->onUndo();
    EXPECT_EQ(view->undoName(), "Line");
    view->onUndo();
    EXPECT_EQ(committedNotes(), 0u);
    view->onRedo();
    view->EndTool(false);
    EXPECT_EQ(committedNotes(), 50u);
    EXPECT_EQ(view->redoName(), QString());
}

TEST_F(UndoSequenceTest, SwitchingToolsBetweenUndoAndRedoKeepsTheDrawing)
{
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 10}, {20, 20});
    view->onUndo();
    view->onToolCommand(cmd::FreehandPen);
    EXPECT_EQ(view->redoName(), "Rectangle");
    view->onRedo();
    view->onToolCommand(cmd::TextTool);
    EXPECT_EQ(committedNotes(), 36u);
    EXPECT_EQ(view->undoName(), "Rectangle");
    view->onUndo();
    view->onToolCommand(cmd::Erasure);
    EXPECT_EQ(view->redoName(), "Rectangle");
    view->onRedo();
    EXPECT_EQ(committedNotes(), 36u);
    view->EndTool(false);
    EXPECT_EQ(committedNotes(), 36u);
}

TEST_F(UndoSequenceTest, ImportAfterUndoAndSaveWithStepsUndone)
{
    drawStep(cmd::LineTool, {10, 10}, {60, 10});
    drawStep(cmd::LineTool, {10, 30}, {60, 30});
    view->onUndo();
    const std::string saved = dir.file("saved.png");
    prompt.queueSavePath(saved);
    ASSERT_TRUE(view->onCommand(cmd::SaveAsLossless));
    EXPECT_FALSE(doc->IsModified());
    EXPECT_TRUE(view->canRedo());
    view->onRedo();
    EXPECT_TRUE(doc->IsModified());
    view->onUndo();
    view->onUndo();
    const std::string mask = dir.file("mask.bmp");
    ASSERT_TRUE(test::succeeded(
        WriteBmpFile(mask, makeSolidPicture(100, 80, 24, 255, QRect(0, 70, 5, 2)))));
    prompt.queueOpenPath(mask);
    ASSERT_TRUE(view->onCommand(cmd::ImportNotes));
    EXPECT_EQ(committedNotes(), 10u);
    EXPECT_FALSE(view->canRedo());
    EXPECT_EQ(view->undoName(), "Import Notes");
    view->onUndo();
    EXPECT_EQ(committedNotes(), 0u);
}

TEST_F(UndoSequenceTest, OpeningAnotherPictureOfOtherSizeDropsEverything)
{
    drawStep(cmd::LineTool, {10, 10}, {60, 10});
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 30}, {20, 40});
    view->onUndo();
    view->onUndo();
    view->EndTool(false);
    doc->SetModified(false);
    openPicture(makeSolidPicture(30, 20, 24, 255), "small.bmp");
    EXPECT_FALSE(view->canUndo());
    EXPECT_FALSE(view->canRedo());
    view->onRedo();
    view->onToolCommand(cmd::RectangleTool);
    view->onRedo();
    view->EndTool(false);
    EXPECT_EQ(committedNotes(), 0u);
}

TEST_F(UndoSequenceTest, ScrollingWhileTypingMakesTheLineAStep)
{
    view->resize(60, 60);
    QApplication::processEvents();
    view->onToolCommand(cmd::TextTool);
    type(QStringLiteral("Hi"));
    view->verticalScrollBar()->setValue(10);
    EXPECT_GT(committedNotes(), 0u);
    EXPECT_EQ(view->undoName(), "Text");
    view->onUndo();
    EXPECT_EQ(committedNotes(), 0u);
    view->onRedo();
    EXPECT_GT(committedNotes(), 0u);
}

// Undo takes the half-typed line away: the caret and the input method's window go back to
// where the line starts, not where its end was.
TEST_F(UndoSequenceTest, UndoingAHalfTypedLineBringsTheCaretBackToItsStart)
{
    view->onToolCommand(cmd::TextTool);
    view->onLButtonDown({10, 30});
    view->onLButtonUp({10, 30});
    const QLine start = view->inspect().toolState.caretLine;
    type(QStringLiteral("Hello"));
    ASSERT_NE(view->inspect().toolState.caretLine, start);
    view->onUndo();
    EXPECT_EQ(view->inspect().toolState.caretLine, start);
    EXPECT_EQ(static_cast<QWidget*>(view.get())
                  ->inputMethodQuery(Qt::ImCursorRectangle)
                  .toRect()
                  .topLeft(),
              view->viewport()->mapTo(view.get(), start.p1()));
}

} // namespace
} // namespace ombri::writer
