#include "platform/qt/dib_draw.h"
#include "view_fixture.h"

#include "writer/command_ids.h"

#include <QPdfWriter>
#include <QPrinter>
#include <QUrl>

#include <filesystem>

namespace ombri::writer {
using namespace ombri::test;
namespace {

class WriterViewTest : public ViewFixture {
  protected:
    QRgb shownAt(int x, int y) { return view->surface().GetPixel(x, y) & 0xFFFFFFu; }
    void run(int command) { ASSERT_TRUE(view->onCommand(command)); }
    // A stroke of the freehand pen, as the mouse draws it.
    void penStroke(QPoint from, QPoint to)
    {
        ASSERT_EQ(view->activeTool(), Tool::Pen);
        dragMouse(*view, from, {to});
    }
};

TEST_F(WriterViewTest, ZoomStepsAddAQuarterAndTakeAQuarter)
{
    openWhite();
    run(cmd::ZoomIn);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.25f);
    run(cmd::ZoomIn);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.5f);
    run(cmd::ZoomIn);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.75f);
    run(cmd::OriginalSize);
    run(cmd::ZoomOut);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 0.75f);
    run(cmd::ZoomOut);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 0.5625f);
    run(cmd::OriginalSize);
    run(cmd::ZoomOut);
    run(cmd::ZoomIn);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
}

TEST_F(WriterViewTest, DigitKeysZoomOnlyWithoutATool)
{
    openWhite();
    EXPECT_TRUE(pressKey(*view, Qt::Key_9, Qt::NoModifier, "9"));
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.25f);
    EXPECT_TRUE(pressKey(*view, Qt::Key_8, Qt::NoModifier, "8"));
    EXPECT_TRUE(pressKey(*view, Qt::Key_0, Qt::NoModifier, "0"));
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
    EXPECT_FALSE(pressKey(*view, Qt::Key_9, Qt::KeypadModifier, "9"));
    view->onToolCommand(cmd::LineTool);
    EXPECT_FALSE(pressKey(*view, Qt::Key_9, Qt::NoModifier, "9"));
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
    // Ends the line tool and hides the notes.
    EXPECT_TRUE(pressKey(*view, Qt::Key_Space, Qt::NoModifier, " "));
    EXPECT_EQ(view->activeTool(), Tool::None);
    EXPECT_FALSE(view->inspect().showNotes);
}

TEST_F(WriterViewTest, FitInCentresAndFitInAgainReturnsToTheCorner)
{
    openWhite(200, 100);
    run(cmd::FitIn);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 2.0f);
    EXPECT_EQ(view->inspect().destination, QRect(QPoint(0, 100), QPoint(399, 299)));
    EXPECT_EQ(shownAt(200, 50), 0x8080FFu); // background above the picture
    EXPECT_EQ(shownAt(200, 150), 0xFFFFFFu);
    run(cmd::FitIn);
    EXPECT_FALSE(view->inspect().fit);
    EXPECT_FLOAT_EQ(view->inspect().zoom, 1.0f);
    EXPECT_EQ(view->inspect().destination, QRect(0, 0, 200, 100));
}

TEST_F(WriterViewTest, BackgroundShowsOnlyWherePictureDoesNotReach)
{
    openWhite(100, 80);
    EXPECT_EQ(shownAt(99, 79), 0xFFFFFFu);
    EXPECT_EQ(shownAt(100, 10), 0x8080FFu);
    EXPECT_EQ(shownAt(10, 80), 0x8080FFu);
    prompt.queueColour(Rgb{10, 20, 30});
    run(cmd::Background);
    EXPECT_EQ(shownAt(300, 300), 0x0A141Eu);
    EXPECT_EQ(view->inspect().background, (Rgb{10, 20, 30}));
}

TEST_F(WriterViewTest, MoveCursorOnlyForTooLargePicturesWithoutATool)
{
    openWhite(1000, 10);
    EXPECT_TRUE(view->inspect().moveCursor);
    view->onToolCommand(cmd::LineTool);
    EXPECT_FALSE(view->inspect().moveCursor);
    view->EndTool(false);
    openWhite(100, 10);
    EXPECT_FALSE(view->inspect().moveCursor);
}

TEST_F(WriterViewTest, ColourCommandRepaintsCommittedAndPendingNotes)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    penStroke({10, 10}, {20, 10});
    view->EndTool(false);
    view->onToolCommand(cmd::FreehandPen);
    penStroke({10, 30}, {20, 30});
    run(cmd::Red);
    EXPECT_EQ(view->inspect().colourCommand, cmd::Red);
    EXPECT_EQ(shownAt(15, 10), 0xFF0000u);
    EXPECT_EQ(shownAt(15, 30), 0xFF0000u);
    EXPECT_EQ(view->activeTool(), Tool::Pen); // a colour command does not end the tool
}

TEST_F(WriterViewTest, SelectedColourCancelledChangesNothing)
{
    openWhite();
    run(cmd::Selected);
    EXPECT_EQ(view->inspect().colourCommand, cmd::Blue);
    prompt.queueColour(Rgb{1, 2, 3});
    run(cmd::Selected);
    EXPECT_EQ(view->inspect().colourCommand, cmd::Selected);
    EXPECT_EQ(doc->noteColour(), (Rgb{1, 2, 3}));
    ASSERT_EQ(prompt.colourDialogs().size(), 2u);
    EXPECT_EQ(prompt.colourDialogs()[0], (Rgb{0, 0, 255}));
}

TEST_F(WriterViewTest, ClosePromptGuardsChangedPictures)
{
    openWhite();
    run(cmd::FileClose);
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_FALSE(view->hasPicture());

    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    penStroke({10, 10}, {20, 10});
    prompt.queueAnswer(Answer::Cancel);
    run(cmd::FileClose);
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "The image has been changed. Save it?");
    EXPECT_EQ(prompt.messages()[0].caption, "Warning");
    EXPECT_EQ(prompt.messages()[0].buttons, Buttons::YesNoCancel);
    EXPECT_TRUE(view->hasPicture());
    EXPECT_TRUE(doc->hasNoteLayer());

    prompt.queueAnswer(Answer::No);
    run(cmd::FileClose);
    EXPECT_FALSE(view->hasPicture());
}

TEST_F(WriterViewTest, CloseStopsWhenItsSaveFails)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    penStroke({10, 10}, {20, 10});
    view->EndTool(false);
    // The picture's own file is gone and its folder with it: Save cannot write.
    std::filesystem::remove_all(dir.path());
    prompt.queueAnswer(Answer::Yes);
    run(cmd::FileClose);
    EXPECT_TRUE(view->hasPicture());
    EXPECT_TRUE(doc->IsModified());
    std::filesystem::create_directories(dir.path());
}

TEST_F(WriterViewTest, DropOpensOnlyTheFirstFile)
{
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("a.bmp"), makeSolidPicture(30, 20, 24, 255))));
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("b.bmp"), makeSolidPicture(50, 40, 24, 255))));
    dropUrls(*view, {QUrl::fromLocalFile(QString::fromStdString(dir.file("a.bmp"))),
                     QUrl::fromLocalFile(QString::fromStdString(dir.file("b.bmp"))),
                     QUrl::fromLocalFile(QStringLiteral("/nonexistent.bmp"))});
    EXPECT_EQ(doc->width(), 30);
    EXPECT_EQ(doc->getPathName(), dir.file("a.bmp"));
}

TEST_F(WriterViewTest, DropDuringDrawingAsksAndNeverMergesIntoTheNewPicture)
{
    openWhite(100, 80);
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("other.bmp"), makeSolidPicture(30, 20, 24, 255))));
    view->onToolCommand(cmd::FreehandPen);
    penStroke({10, 10}, {20, 10});

    prompt.queueAnswer(Answer::Cancel);
    dropFile(*view, dir.file("other.bmp"));
    EXPECT_EQ(doc->width(), 100);
    EXPECT_TRUE((*view->inspect().pending));

    prompt.queueAnswer(Answer::No);
    dropFile(*view, dir.file("other.bmp"));
    EXPECT_EQ(doc->width(), 30);
    EXPECT_FALSE((*view->inspect().pending));
    EXPECT_FALSE((*view->inspect().redo));
    EXPECT_FALSE(doc->hasNoteLayer());
    EXPECT_FALSE(doc->IsModified());
}

TEST_F(WriterViewTest, PrintingFillsThePageWidthCentredVertically)
{
    EXPECT_EQ(printDestination(1000, 500, 4800, 6600, 600, 600), QRect(0, 2100, 4800, 2400));
    EXPECT_EQ(printDestination(1000, 500, 4800, 6600, 600, 300), QRect(0, 2700, 4800, 1200));

    openWhite(100, 50);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const std::string pdf = dir.file("page.pdf");
    printer.setOutputFileName(QString::fromStdString(pdf));
    view->printPicture(printer);
    const auto bytes = readFileBytes(pdf);
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "%PDF-");
}

TEST_F(WriterViewTest, PaintingConvertsThePictureOnlyAfterItChanges)
{
    openWhite(100, 80);
    const uint64_t conversions = view->inspect().pictureConversions;
    view->repaintNow();
    run(cmd::OriginalSize);
    run(cmd::ZoomIn);
    EXPECT_EQ(view->inspect().pictureConversions, conversions);
    run(cmd::Green);
    EXPECT_EQ(view->inspect().pictureConversions, conversions + 1);
    run(cmd::DisplayNotes);
    EXPECT_EQ(view->inspect().pictureConversions, conversions + 2);
}

} // namespace
} // namespace ombri::writer
