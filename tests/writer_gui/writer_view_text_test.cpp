#include "view_fixture.h"

#include "writer/command_ids.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTest>

namespace ombri::writer {
namespace {

class TextToolTest : public ViewFixture {
  protected:
    void SetUp() override
    {
        ViewFixture::SetUp();
        openWhite(300, 200);
        view->onToolCommand(cmd::TextTool);
    }
    void type(const std::string& text)
    {
        for (char c : text)
            view->onChar(static_cast<uint8_t>(c));
    }
    int lineStep() const { return view->surface().GetTextExtentPoint32("L").height() + 4; }
    // The rows (from the top) holding marked pixels.
    std::set<int> markedRows() const
    {
        std::set<int> rows;
        for (const auto& [x, y] : pendingPixels())
            rows.insert(y);
        return rows;
    }
};

TEST_F(TextToolTest, StartsAtTheTopLeftCornerWithTheCaretBlinking)
{
    EXPECT_EQ(view->activeTool(), Tool::Text);
    EXPECT_EQ(view->anchorPoint(), QPoint(0, 0));
    EXPECT_TRUE(view->caretBlinking());
    EXPECT_FALSE(view->caretShown());
    const QImage before = view->surface().image().copy();
    view->ToggleCaret(false);
    EXPECT_TRUE(view->caretShown());
    EXPECT_NE(view->surface().image(), before);
    view->ToggleCaret(false);
    EXPECT_EQ(view->surface().image(), before);
}

TEST_F(TextToolTest, TypingEditingKeysAndIgnoredCharacters)
{
    type("AB");
    view->onChar(8);
    EXPECT_EQ(view->textLine(), "A");
    EXPECT_EQ(view->caretIndex(), 1);
    view->onChar(9);
    view->onChar(27);
    EXPECT_EQ(view->textLine(), "A");
    view->onKeyDown(Qt::Key_Left);
    view->onChar(8); // at the start: nothing
    EXPECT_EQ(view->textLine(), "A");
    type("X");
    EXPECT_EQ(view->textLine(), "XA");
    view->onKeyDown(Qt::Key_Delete);
    EXPECT_EQ(view->textLine(), "X");
    view->onKeyDown(Qt::Key_Right);
    view->onKeyDown(Qt::Key_Right);
    EXPECT_EQ(view->caretIndex(), 1);
    // Space and digits type while the text tool is active.
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(view.get(), &space);
    QKeyEvent nine(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, QStringLiteral("9"));
    QApplication::sendEvent(view.get(), &nine);
    EXPECT_EQ(view->textLine(), "X 9");
    EXPECT_TRUE(view->inspect().showNotes);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
}

TEST_F(TextToolTest, CaretFollowsTheMeasuredText)
{
    type("Hello");
    const int full = view->surface().GetTextExtentPoint32("Hello").width();
    EXPECT_EQ(view->caretLine().p1().x(), full);
    view->onKeyDown(Qt::Key_Left);
    view->onKeyDown(Qt::Key_Left);
    EXPECT_EQ(view->caretLine().p1().x(), view->surface().GetTextExtentPoint32("Hel").width());
}

TEST_F(TextToolTest, EnterOnAnEmptyLineOnlyMovesDown)
{
    view->onChar(13);
    EXPECT_EQ(view->anchorPoint(), QPoint(0, lineStep()));
    EXPECT_FALSE(view->pendingLayer());
}

TEST_F(TextToolTest, EnterAndClicksCaptureTheLineWhereItWasDrawn)
{
    type("Note");
    view->onChar(13);
    EXPECT_EQ(view->textLine(), "");
    const QSize extent = view->surface().GetTextExtentPoint32("Note");
    const auto marked = pendingPixels();
    ASSERT_FALSE(marked.empty());
    for (const auto& [x, y] : marked)
        EXPECT_TRUE(x >= 0 && x < extent.width() && y >= 0 && y < extent.height());

    type("More");
    view->onLButtonDown({100, 120});
    EXPECT_EQ(view->anchorPoint(), QPoint(100, 120));
    EXPECT_EQ(view->textLine(), "");
    EXPECT_GT(pendingPixels().size(), marked.size());
    EXPECT_TRUE(markedRows().count(lineStep() + extent.height() / 2));
}

TEST_F(TextToolTest, PictureUnderTheLineIsNotCaptured)
{
    openWhite(300, 200, QRect(0, 0, 300, 200)); // all black
    view->onToolCommand(cmd::TextTool);
    type("i");
    view->EndTool(false);
    const size_t glyph = std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1);
    const QSize cell = view->surface().GetTextExtentPoint32("i");
    EXPECT_GT(glyph, 0u);
    EXPECT_LT(glyph, static_cast<size_t>(cell.width() * cell.height()));
}

TEST_F(TextToolTest, ItalicLinesCaptureTheirOverhang)
{
    QFont italic = view->textFont();
    italic.setItalic(true);
    italic.setPointSize(40);
    view->setFontChooser([&](const QFont&) { return std::optional<QFont>(italic); });
    view->onFontSetting();
    type("ff");
    const int cellRight = view->surface().GetTextExtentPoint32("ff").width();
    view->onChar(13);
    int rightmost = 0;
    for (const auto& [x, y] : pendingPixels())
        rightmost = std::max(rightmost, x);
    // The slanted top of the last glyph reaches past its cell and is still captured.
    EXPECT_GE(rightmost, cellRight - 1);
}

TEST_F(TextToolTest, ScrollingCapturesAndMergesTheLine)
{
    openWhite(1000, 1000);
    view->onToolCommand(cmd::TextTool);
    type("Scroll");
    view->verticalScrollBar()->setValue(50);
    EXPECT_EQ(view->textLine(), "");
    EXPECT_FALSE(view->pendingLayer());
    EXPECT_EQ(view->activeTool(), Tool::Text);
    ASSERT_TRUE(doc->noteLayer());
    // Captured at the rows it was typed on, before the picture moved.
    const NoteLayer& notes = *doc->noteLayer();
    bool topRows = false;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 100; ++x)
            topRows |= notes[(999 - y) * 1000 + x] == 1;
    EXPECT_TRUE(topRows);
}

TEST_F(TextToolTest, EndingTheToolMergesAndStopsTheCaret)
{
    type("End");
    view->onToolCommand(cmd::TextTool);
    EXPECT_EQ(view->activeTool(), Tool::None);
    EXPECT_FALSE(view->caretBlinking());
    EXPECT_FALSE(view->caretShown());
    EXPECT_TRUE(doc->IsModified());
    EXPECT_GT(std::count(doc->noteLayer()->begin(), doc->noteLayer()->end(), 1), 0);
}

// Clipboard text from Linux programs ends its lines with LF, from others with CR LF or CR: each
// ends one line, and every pasted line is captured at once.
TEST_F(TextToolTest, PasteCapturesEachLineWhateverEndsIt)
{
    for (const char* text : {"ab\ncd\n", "ab\r\ncd\r\n", "ab\rcd\r"}) {
        view->EndTool(false);
        doc->ClearNotes();
        view->onToolCommand(cmd::TextTool);
        const QPoint start = view->anchorPoint();
        QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
        view->onPaste();
        EXPECT_EQ(view->textLine(), "") << text;
        EXPECT_EQ(view->anchorPoint(), start + QPoint(0, 2 * lineStep())) << text;
        const std::set<int> rows = markedRows();
        const int height = view->surface().GetTextExtentPoint32("L").height();
        const int top = start.y();
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](int y) {
            return y >= top && y < top + height;
        })) << text;
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](int y) {
            return y >= top + lineStep() && y < top + lineStep() + height;
        })) << text;
    }

    QGuiApplication::clipboard()->setText(QStringLiteral("\tx"));
    const QPoint before = view->anchorPoint();
    view->onPaste();
    EXPECT_EQ(view->anchorPoint(), before + QPoint(0, lineStep()));

    QGuiApplication::clipboard()->clear();
    const QPoint after = view->anchorPoint();
    view->onPaste();
    EXPECT_EQ(view->anchorPoint(), after);
}

// Ctrl+Z with nothing to undo reaches the canvas as a key; it must not type a "z" (nor Alt or
// Meta with a letter type the letter).
TEST_F(TextToolTest, KeysHeldWithCtrlAltOrMetaTypeNothing)
{
    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_A);
    for (const Qt::KeyboardModifier modifier :
         {Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier})
        QTest::keyClick(view.get(), Qt::Key_Z, modifier);
    QTest::keyClick(view.get(), Qt::Key_B);
    EXPECT_EQ(view->textLine(), "ab");
}

TEST_F(TextToolTest, PasteOutsideTheTextToolDoesNothing)
{
    view->onToolCommand(cmd::LineTool);
    QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
    view->onPaste();
    EXPECT_FALSE(view->pendingLayer());
}

} // namespace
} // namespace ombri::writer
