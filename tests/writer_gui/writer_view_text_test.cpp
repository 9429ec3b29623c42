#include "view_fixture.h"

#include "writer/command_ids.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
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
    // What an input method learns from the canvas, asked as the platform asks it.
    QVariant askInputMethod(Qt::InputMethodQuery query) const
    {
        QInputMethodQueryEvent event(query);
        QApplication::sendEvent(view.get(), &event);
        return event.value(query);
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
    EXPECT_EQ(view->inspect().toolState.anchor, QPoint(0, 0));
    EXPECT_TRUE(view->inspect().toolState.caretBlinking);
    EXPECT_FALSE(view->inspect().toolState.caretShown);
    // The caret blinks by inverting its bars: showing it changes the surface, hiding it gives
    // back exactly what was there.
    const QImage before = view->surface().image().copy();
    QTRY_VERIFY_WITH_TIMEOUT(view->inspect().toolState.caretShown, 2000);
    EXPECT_NE(view->surface().image(), before);
    QTRY_VERIFY_WITH_TIMEOUT(!view->inspect().toolState.caretShown, 2000);
    EXPECT_EQ(view->surface().image(), before);
}

TEST_F(TextToolTest, TypingEditingKeysAndIgnoredCharacters)
{
    type("AB");
    view->onChar(8);
    EXPECT_EQ(view->inspect().toolState.textLine, "A");
    EXPECT_EQ(view->inspect().toolState.caretIndex, 1);
    view->onChar(9);
    view->onChar(27);
    EXPECT_EQ(view->inspect().toolState.textLine, "A");
    view->onKeyDown(Qt::Key_Left);
    view->onChar(8); // at the start: nothing
    EXPECT_EQ(view->inspect().toolState.textLine, "A");
    type("X");
    EXPECT_EQ(view->inspect().toolState.textLine, "XA");
    view->onKeyDown(Qt::Key_Delete);
    EXPECT_EQ(view->inspect().toolState.textLine, "X");
    view->onKeyDown(Qt::Key_Right);
    view->onKeyDown(Qt::Key_Right);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 1);
    // Space and digits type while the text tool is active.
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(view.get(), &space);
    QKeyEvent nine(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, QStringLiteral("9"));
    QApplication::sendEvent(view.get(), &nine);
    EXPECT_EQ(view->inspect().toolState.textLine, "X 9");
    EXPECT_TRUE(view->inspect().showNotes);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
}

TEST_F(TextToolTest, CaretFollowsTheMeasuredText)
{
    type("Hello");
    const int full = view->surface().GetTextExtentPoint32("Hello").width();
    EXPECT_EQ(view->inspect().toolState.caretLine.p1().x(), full);
    view->onKeyDown(Qt::Key_Left);
    view->onKeyDown(Qt::Key_Left);
    EXPECT_EQ(view->inspect().toolState.caretLine.p1().x(),
              view->surface().GetTextExtentPoint32("Hel").width());
}

TEST_F(TextToolTest, EnterOnAnEmptyLineOnlyMovesDown)
{
    view->onChar(13);
    EXPECT_EQ(view->inspect().toolState.anchor, QPoint(0, lineStep()));
    EXPECT_FALSE((*view->inspect().pending));
}

TEST_F(TextToolTest, EnterAndClicksCaptureTheLineWhereItWasDrawn)
{
    type("Note");
    view->onChar(13);
    EXPECT_EQ(view->inspect().toolState.textLine, "");
    const QSize extent = view->surface().GetTextExtentPoint32("Note");
    const auto marked = pendingPixels();
    ASSERT_FALSE(marked.empty());
    for (const auto& [x, y] : marked)
        EXPECT_TRUE(x >= 0 && x < extent.width() && y >= 0 && y < extent.height());

    type("More");
    view->onLButtonDown({100, 120});
    EXPECT_EQ(view->inspect().toolState.anchor, QPoint(100, 120));
    EXPECT_EQ(view->inspect().toolState.textLine, "");
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
    QFont italic = view->inspect().textFont;
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
    EXPECT_EQ(view->inspect().toolState.textLine, "");
    EXPECT_FALSE((*view->inspect().pending));
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
    EXPECT_FALSE(view->inspect().toolState.caretBlinking);
    EXPECT_FALSE(view->inspect().toolState.caretShown);
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
        const QPoint start = view->inspect().toolState.anchor;
        QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
        view->onPaste();
        EXPECT_EQ(view->inspect().toolState.textLine, "") << text;
        EXPECT_EQ(view->inspect().toolState.anchor, start + QPoint(0, 2 * lineStep())) << text;
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
    const QPoint before = view->inspect().toolState.anchor;
    view->onPaste();
    EXPECT_EQ(view->inspect().toolState.anchor, before + QPoint(0, lineStep()));

    QGuiApplication::clipboard()->clear();
    const QPoint after = view->inspect().toolState.anchor;
    view->onPaste();
    EXPECT_EQ(view->inspect().toolState.anchor, after);
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
    EXPECT_EQ(view->inspect().toolState.textLine, "ab");
}

// A letter with its combining accent and a character outside the basic plane (two UTF-16 halves)
// are each one grapheme: the caret never stands inside one, and Backspace and Delete take it
// whole.
TEST_F(TextToolTest, TheCaretMovesAndDeletesByGrapheme)
{
    view->setFocus();
    const QString accented = QStringLiteral(u"e\u0301");
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    ASSERT_EQ(emoji.size(), 2);
    // The accent comes from a key of its own, as a dead key sends it.
    for (const QString& key : {QStringLiteral("a"), QStringLiteral("e"), QStringLiteral(u"\u0301"),
                               emoji, QStringLiteral("b")})
        QTest::sendKeyEvent(QTest::Click, view.get(), Qt::Key_unknown, key, Qt::NoModifier);
    const QString line = QStringLiteral("a") + accented + emoji + QStringLiteral("b");
    ASSERT_EQ(view->inspect().toolState.textLine, line);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 6);

    const auto caretAfter = [&](const QString& before) {
        return view->surface().GetTextExtentPoint32(before).width();
    };
    std::vector<int> leftStops;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(view.get(), Qt::Key_Left);
        leftStops.push_back(view->inspect().toolState.caretIndex);
    }
    EXPECT_EQ(leftStops, (std::vector<int>{5, 3, 1, 0, 0}));
    QTest::keyClick(view.get(), Qt::Key_Right);
    QTest::keyClick(view.get(), Qt::Key_Right);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 3);
    EXPECT_EQ(view->inspect().toolState.caretLine.p1().x(),
              caretAfter(QStringLiteral("a") + accented));

    QTest::keyClick(view.get(), Qt::Key_End);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 6);
    EXPECT_EQ(view->inspect().toolState.caretLine.p1().x(), caretAfter(line));
    QTest::keyClick(view.get(), Qt::Key_Home);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 0);
    EXPECT_EQ(view->inspect().toolState.caretLine.p1().x(), 0);
    QTest::keyClick(view.get(), Qt::Key_End);

    QTest::keyClick(view.get(), Qt::Key_Backspace);
    QTest::keyClick(view.get(), Qt::Key_Backspace);
    EXPECT_EQ(view->inspect().toolState.textLine, QStringLiteral("a") + accented);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 3);
    view->onTypedText(emoji);
    QTest::keyClick(view.get(), Qt::Key_Home);
    QTest::keyClick(view.get(), Qt::Key_Right);
    QTest::keyClick(view.get(), Qt::Key_Delete);
    EXPECT_EQ(view->inspect().toolState.textLine, QStringLiteral("a") + emoji);
    EXPECT_EQ(view->inspect().toolState.caretIndex, 1);
    QTest::keyClick(view.get(), Qt::Key_Delete);
    EXPECT_EQ(view->inspect().toolState.textLine, QStringLiteral("a"));
    EXPECT_EQ(view->inspect().toolState.caretLine.p1().x(), caretAfter(QStringLiteral("a")));
}

// Tab typed does nothing; pasted, it stands for four spaces.
TEST_F(TextToolTest, TabTypesNothingAndPastesFourSpaces)
{
    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_Tab);
    EXPECT_EQ(view->inspect().toolState.textLine, QString());
    QGuiApplication::clipboard()->setText(QStringLiteral(u"\tЖ"));
    view->onPaste();
    int leftmost = view->surface().width();
    for (const auto& [x, y] : pendingPixels())
        leftmost = std::min(leftmost, x);
    const int spaces = view->surface().GetTextExtentPoint32(QStringLiteral("    ")).width();
    EXPECT_GE(leftmost, spaces);
    EXPECT_LT(leftmost,
              spaces + view->surface().GetTextExtentPoint32(QStringLiteral(u"Ж")).width());
}

// Input methods compose text for the canvas while the text tool is in hand: their window sits at
// the caret, what they are composing is not drawn, and only committed text joins the line.
TEST_F(TextToolTest, InputMethodsComposeAtTheCaret)
{
    view->setFocus();
    EXPECT_TRUE(view->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_TRUE(view->viewport()->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_TRUE(askInputMethod(Qt::ImEnabled).toBool());
    type("ab");
    const QLine caret = view->inspect().toolState.caretLine;
    EXPECT_EQ(askInputMethod(Qt::ImCursorRectangle).toRect(),
              QRect(caret.p1(), QSize(2, caret.p2().y() - caret.p1().y())));
    EXPECT_EQ(askInputMethod(Qt::ImCursorPosition).toInt(), 2);
    EXPECT_EQ(askInputMethod(Qt::ImSurroundingText).toString(), QStringLiteral("ab"));

    const QImage before = view->surface().image().copy();
    QInputMethodEvent composing(QStringLiteral(u"zhong"), {});
    QApplication::sendEvent(view.get(), &composing);
    EXPECT_EQ(view->inspect().toolState.textLine, QStringLiteral("ab"));
    EXPECT_EQ(view->surface().image(), before);

    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral(u"中"));
    QApplication::sendEvent(view.get(), &commit);
    EXPECT_EQ(view->inspect().toolState.textLine, QStringLiteral(u"ab中"));
    // A commit may replace what stands before the caret, as a correction does.
    QInputMethodEvent correction;
    correction.setCommitString(QStringLiteral(u"文"), -1, 1);
    QApplication::sendEvent(view.get(), &correction);
    EXPECT_EQ(view->inspect().toolState.textLine, QStringLiteral(u"ab文"));
    EXPECT_EQ(view->inspect().toolState.caretIndex, 3);

    view->onToolCommand(cmd::TextTool);
    EXPECT_FALSE(view->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(askInputMethod(Qt::ImEnabled).toBool());
    QInputMethodEvent late;
    late.setCommitString(QStringLiteral("x"));
    QApplication::sendEvent(view.get(), &late);
    EXPECT_EQ(view->inspect().toolState.textLine, QString());
}

// The overhang of a slanted line is that of its last grapheme, accent and all.
TEST_F(TextToolTest, ItalicOverhangIsThatOfTheLastGrapheme)
{
    QFont italic = view->inspect().textFont;
    italic.setItalic(true);
    italic.setPointSize(40);
    view->setFontChooser([&](const QFont&) { return std::optional<QFont>(italic); });
    view->onFontSetting();
    view->onTypedText(QStringLiteral(u"ff\u0301"));
    const int cellRight =
        view->surface().GetTextExtentPoint32(view->inspect().toolState.textLine).width();
    view->onChar(13);
    int rightmost = 0;
    for (const auto& [x, y] : pendingPixels())
        rightmost = std::max(rightmost, x);
    EXPECT_GE(rightmost, cellRight);
}

TEST_F(TextToolTest, PasteOutsideTheTextToolDoesNothing)
{
    view->onToolCommand(cmd::LineTool);
    QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
    view->onPaste();
    EXPECT_FALSE((*view->inspect().pending));
}

} // namespace
} // namespace ombri::writer
