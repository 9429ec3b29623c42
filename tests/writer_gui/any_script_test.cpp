// Text in any script through the writer's window: typed key by key, committed by an input method
// and pasted, then saved, reopened and compared pixel for pixel with the same text drawn here.
#include "view_fixture.h"
#include "window_fixture.h"

#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QPainter>
#include <QRawFont>
#include <QTest>

#include <set>
#include <utility>
#include <vector>

namespace ombri::writer {
using namespace ombri::test;
namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 400;
constexpr int kLineSpacing = 32;

struct Sample {
    const char* script;
    QString text;
    // The font that must hold every glyph: the chosen one, or the one fontconfig falls back to.
    const char* glyphFamily;
};

const Sample kSamples[] = {
    {"Polish", QStringLiteral(u"Zażółć gęślą jaźń Łódź €5"), "DejaVu Sans"},
    {"Greek", QStringLiteral(u"Ωμέγα λέξη"), "DejaVu Sans"},
    {"Cyrillic", QStringLiteral(u"Жизнь Щука"), "DejaVu Sans"},
    {"Chinese", QStringLiteral(u"中文笔记"), "WenQuanYi Micro Hei"},
};

// The chosen font, as the surface draws it: without anti-aliasing, so every glyph pixel is black.
QFont chosenFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(18);
    return font;
}

// The text drawn as the text tool draws it, black on a white cell at the anchor, read back as
// pure black inside the cell the tool captures.
Pixels drawnPixels(const QString& text, QPoint anchor)
{
    QFont font = chosenFont();
    font.setStyleStrategy(QFont::NoAntialias);
    QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QFontMetrics metrics(font);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(anchor.x(), anchor.y() + metrics.ascent()), text);
    painter.end();
    const QRect cell(anchor, QSize(metrics.horizontalAdvance(text), metrics.height()));
    Pixels pixels;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            if (image.pixel(x, y) == qRgb(0, 0, 0))
                pixels.insert({x, y});
    return pixels;
}

// The text with "?" for each character outside Latin-1: what the line became when it held one
// byte per character.
QString questioned(const QString& text)
{
    QString result;
    for (const char32_t c : text.toUcs4())
        result += c < 256 ? QString::fromUcs4(&c, 1) : QStringLiteral("?");
    return result;
}

// Keys as a keyboard laid out for the script sends them: one event per character, carrying its
// text. QTest::keyClicks sends Latin-1 only.
void typeKeys(QWidget* widget, const QString& text)
{
    for (const char32_t c : text.toUcs4()) {
        const QString typed = QString::fromUcs4(&c, 1);
        const auto key = static_cast<Qt::Key>(typed.toUpper().toUcs4().value(0));
        QTest::sendKeyEvent(QTest::Click, widget, key, typed, Qt::NoModifier);
    }
}

class AnyScriptTest : public WindowFixture {
  protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        const std::string path = dir.file("white.bmp");
        ASSERT_TRUE(succeeded(
            WriteBmpFile(path, makeSolidPicture(kPictureWidth, kPictureHeight, 24, 255))));
        ASSERT_TRUE(frame->openFile(QString::fromStdString(path)));
        ASSERT_TRUE(commands().trigger(cmd::TextTool));
        view().setFontChooser([](const QFont&) { return std::optional<QFont>(chosenFont()); });
        ASSERT_TRUE(commands().trigger(cmd::FontSetting));
        view().setFocus();
    }

    // A click on the canvas puts the next line there.
    void startLineAt(QPoint anchor)
    {
        QTest::mouseClick(view().viewport(), Qt::LeftButton, Qt::NoModifier, anchor);
        ASSERT_EQ(view().inspect().toolState.anchor, anchor);
    }

    Pixels notesIn(QRect box)
    {
        Pixels pixels;
        if (!doc().noteLayer())
            return pixels;
        const NoteLayer& notes = *doc().noteLayer();
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (notes[static_cast<size_t>(kPictureHeight - 1 - y) * kPictureWidth + x] == 1)
                    pixels.insert({x, y});
        return pixels;
    }
};

TEST_F(AnyScriptTest, TheFontsHoldEveryGlyphAndDrawMoreThanQuestionMarks)
{
    for (const Sample& sample : kSamples) {
        const QFont font(QString::fromLatin1(sample.glyphFamily));
        const QFontMetrics metrics(font);
        ASSERT_EQ(QFontInfo(font).family(), QString::fromLatin1(sample.glyphFamily))
            << sample.script << ": the font is not installed";
        for (const char32_t c : sample.text.toUcs4()) {
            if (c != U' ') {
                EXPECT_TRUE(metrics.inFontUcs4(c)) << sample.script << " U+" << std::hex << c;
            }
        }
        EXPECT_NE(drawnPixels(sample.text, {0, 0}), drawnPixels(questioned(sample.text), {0, 0}))
            << sample.script;
    }
    // The Chinese glyphs come from the fallback font, not from the one chosen.
    EXPECT_FALSE(QRawFont::fromFont(chosenFont()).supportsCharacter(U'中'));
}

// Each sample typed key by key, committed by an input method and pasted, one line each; the
// saved and reopened notes hold exactly the glyphs of the test's own strings.
TEST_F(AnyScriptTest, TypedCommittedAndPastedTextSurvivesSaveAndReopen)
{
    std::vector<std::pair<QString, QPoint>> lines;
    int y = 4;
    for (const Sample& sample : kSamples) {
        const QPoint typed(6, y);
        startLineAt(typed);
        typeKeys(&view(), sample.text);
        QTest::keyClick(&view(), Qt::Key_Return);
        lines.emplace_back(sample.text, typed);

        const QPoint committed(6, y + kLineSpacing);
        startLineAt(committed);
        ASSERT_TRUE(view().testAttribute(Qt::WA_InputMethodEnabled));
        QInputMethodEvent composing(sample.text.left(1), {});
        QApplication::sendEvent(&view(), &composing);
        QInputMethodEvent commit;
        commit.setCommitString(sample.text);
        QApplication::sendEvent(&view(), &commit);
        QTest::keyClick(&view(), Qt::Key_Return);
        lines.emplace_back(sample.text, committed);

        const QPoint pasted(6, y + 2 * kLineSpacing);
        startLineAt(pasted);
        QGuiApplication::clipboard()->setText(sample.text + QStringLiteral("\n"));
        ASSERT_TRUE(commands().trigger(cmd::Paste));
        lines.emplace_back(sample.text, pasted);
        y += 3 * kLineSpacing;
    }
    prompt.queueSavePath(dir.file("notes.png"));
    ASSERT_TRUE(commands().trigger(cmd::SaveAsLossless));
    ASSERT_FALSE(doc().IsModified());
    ASSERT_TRUE(frame->openFile(QString::fromStdString(dir.file("white.bmp"))));
    ASSERT_TRUE(frame->openFile(QString::fromStdString(dir.file("notes.png"))));

    const QFontMetrics metrics(chosenFont());
    size_t line = 0;
    for (const auto& [text, anchor] : lines) {
        const Pixels want = drawnPixels(text, anchor);
        ASSERT_GT(want.size(), 20u) << text.toStdString();
        const QRect box(anchor.x(), anchor.y(), kPictureWidth - anchor.x(), kLineSpacing);
        EXPECT_EQ(notesIn(box), want)
            << kSamples[line / 3].script << " line " << line % 3 << ": " << text.toStdString();
        ++line;
    }
}

} // namespace
} // namespace ombri::writer
