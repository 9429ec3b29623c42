#include "view_fixture.h"

#include "writer/command_ids.h"

#include <QClipboard>
#include <QGuiApplication>

namespace ombri::writer {
namespace {

class EditCommandsTest : public ViewFixture {
  protected:
    void SetUp() override
    {
        ViewFixture::SetUp();
        openWhite();
    }
    size_t committedNotes() const
    {
        return doc->noteLayer() ? std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1)
                                : 0;
    }
};

TEST_F(EditCommandsTest, UndoTakesTheWholeActivationAndRedoBringsItBack)
{
    view->onToolCommand(cmd::RectangleTool);
    drag({10, 10}, {20, 20});
    drag({30, 30}, {40, 40});
    const auto drawn = pendingPixels();
    EXPECT_EQ(drawn.size(), 72u);
    view->onUndo();
    EXPECT_FALSE(view->canUndo());
    EXPECT_TRUE(view->canRedo());
    EXPECT_TRUE(pendingPixels().empty());
    view->onRedo();
    EXPECT_EQ(pendingPixels(), drawn);
    EXPECT_FALSE(view->canRedo());
}

TEST_F(EditCommandsTest, NewDrawingDiscardsTheRedoSlot)
{
    view->onToolCommand(cmd::LineTool);
    drag({10, 10}, {20, 20});
    view->onUndo();
    EXPECT_TRUE(view->canRedo());
    drag({10, 30}, {20, 30});
    EXPECT_FALSE(view->canRedo());
}

// Once the tool is put down its drawing is a step of the document: Undo takes it back from the
// notes, Redo puts it back, and the document counts as changed either way.
TEST_F(EditCommandsTest, PutDownDrawingIsUndoneAsAStepOfTheNotes)
{
    view->onToolCommand(cmd::LineTool);
    drag({10, 10}, {20, 20});
    view->onToolCommand(cmd::RectangleTool);
    view->EndTool(false);
    ASSERT_EQ(committedNotes(), 10u);
    doc->SetModified(false);
    EXPECT_TRUE(view->canUndo());
    EXPECT_EQ(view->undoName(), "Line");
    view->onUndo();
    EXPECT_EQ(committedNotes(), 0u);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_FALSE(view->canUndo());
    EXPECT_EQ(view->redoName(), "Line");
    view->onRedo();
    EXPECT_EQ(committedNotes(), 10u);
    EXPECT_FALSE(view->canRedo());
}

TEST_F(EditCommandsTest, EraserUndoStartsAgainFromTheCommittedNotes)
{
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 10}, {40, 10});
    view->EndTool(false);
    view->onToolCommand(cmd::Erasure);
    view->onMouseMove({20, 10}, kLeftButton);
    view->onUndo();
    EXPECT_FALSE(view->canRedo());
    view->onToolCommand(cmd::Erasure);
    EXPECT_EQ(committedNotes(), 31u);
}

TEST_F(EditCommandsTest, RedoNeverReplacesTheErasersWorkingCopy)
{
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 10}, {40, 10});
    view->EndTool(false);
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 50}, {12, 50});
    view->onUndo();
    view->onToolCommand(cmd::Erasure);
    EXPECT_FALSE(view->canRedo());
    view->onRedo();
    view->onToolCommand(cmd::Erasure);
    EXPECT_EQ(committedNotes(), 31u); // the older notes survive the eraser
}

TEST_F(EditCommandsTest, ClearAllKeepsThePendingDrawing)
{
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 10}, {40, 10});
    view->EndTool(false);
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 50}, {12, 50});
    view->onClearAll();
    EXPECT_EQ(committedNotes(), 0u);
    EXPECT_TRUE((*view->inspect().pending));
    view->EndTool(false);
    EXPECT_EQ(committedNotes(), 3u);
}

TEST_F(EditCommandsTest, CopyAndCutPutThePictureAsShownOnTheClipboard)
{
    view->onToolCommand(cmd::FreehandPen);
    drag({10, 10}, {40, 10});
    view->EndTool(false);
    QGuiApplication::clipboard()->setText(QStringLiteral("kept until a copy"));
    view->onCut();
    QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(100, 80));
    EXPECT_EQ(copied.pixel(20, 10) & 0xFFFFFF, 0x0000FFu); // notes in their colour
    EXPECT_TRUE(doc->hasNoteLayer());                      // Cut removed nothing
    view->onCommand(cmd::DisplayNotes);
    view->onCopy();
    copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.pixel(20, 10) & 0xFFFFFF, 0xFFFFFFu);
}

} // namespace
} // namespace ombri::writer
