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
};

TEST_F(WriterViewTest, ZoomStepsAddAQuarterAndTakeAQuarter)
{
    openWhite();
    view->onZoomIn();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.25f);
    view->onZoomIn();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.5f);
    view->onZoomIn();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.75f);
    view->onOriginalSize();
    view->onZoomOut();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 0.75f);
    view->onZoomOut();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 0.5625f);
    view->onOriginalSize();
    view->onZoomOut();
    view->onZoomIn();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.0f);
}

TEST_F(WriterViewTest, DigitKeysZoomOnlyWithoutATool)
{
    openWhite();
    EXPECT_TRUE(view->onKeyDown(Qt::Key_9));
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.25f);
    EXPECT_TRUE(view->onKeyDown(Qt::Key_8));
    EXPECT_TRUE(view->onKeyDown(Qt::Key_0));
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.0f);
    EXPECT_FALSE(view->onKeyDown(Qt::Key_9, Qt::KeypadModifier));
    view->onToolCommand(cmd::LineTool);
    EXPECT_FALSE(view->onKeyDown(Qt::Key_9));
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.0f);
    EXPECT_TRUE(view->onKeyDown(Qt::Key_Space)); // ends the line tool and hides the notes
    EXPECT_EQ(view->activeTool(), Tool::None);
    EXPECT_FALSE(view->showNotes());
}

TEST_F(WriterViewTest, FitInCentresAndFitInAgainReturnsToTheCorner)
{
    openWhite(200, 100);
    view->onFitIn();
    EXPECT_FLOAT_EQ(view->zoomFactor(), 2.0f);
    EXPECT_EQ(view->destinationRect(), QRect(QPoint(0, 100), QPoint(399, 299)));
    EXPECT_EQ(shownAt(200, 50), 0x8080FFu); // background above the picture
    EXPECT_EQ(shownAt(200, 150), 0xFFFFFFu);
    view->onFitIn();
    EXPECT_FALSE(view->fitFlag());
    EXPECT_FLOAT_EQ(view->zoomFactor(), 1.0f);
    EXPECT_EQ(view->destinationRect(), QRect(0, 0, 200, 100));
}

TEST_F(WriterViewTest, BackgroundShowsOnlyWherePictureDoesNotReach)
{
    openWhite(100, 80);
    EXPECT_EQ(shownAt(99, 79), 0xFFFFFFu);
    EXPECT_EQ(shownAt(100, 10), 0x8080FFu);
    EXPECT_EQ(shownAt(10, 80), 0x8080FFu);
    prompt.queueColour(Rgb{10, 20, 30});
    view->onBackgroundColour();
    EXPECT_EQ(shownAt(300, 300), 0x0A141Eu);
    EXPECT_EQ(view->backgroundColour(), (Rgb{10, 20, 30}));
}

TEST_F(WriterViewTest, MoveCursorOnlyForTooLargePicturesWithoutATool)
{
    openWhite(1000, 10);
    EXPECT_TRUE(view->showsMoveCursor());
    view->onToolCommand(cmd::LineTool);
    EXPECT_FALSE(view->showsMoveCursor());
    view->EndTool(false);
    openWhite(100, 10);
    EXPECT_FALSE(view->showsMoveCursor());
}

TEST_F(WriterViewTest, ColourCommandRepaintsCommittedAndPendingNotes)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    view->MarkPenSegment({10, 10}, {20, 10});
    view->EndTool(false);
    view->onToolCommand(cmd::FreehandPen);
    view->MarkPenSegment({10, 30}, {20, 30});
    view->onNoteColourCommand(cmd::Red);
    EXPECT_EQ(view->colourCommand(), cmd::Red);
    EXPECT_EQ(shownAt(15, 10), 0xFF0000u);
    EXPECT_EQ(shownAt(15, 30), 0xFF0000u);
    EXPECT_EQ(view->activeTool(), Tool::Pen); // a colour command does not end the tool
}

TEST_F(WriterViewTest, SelectedColourCancelledChangesNothing)
{
    openWhite();
    view->onSelectedColour();
    EXPECT_EQ(view->colourCommand(), cmd::Blue);
    prompt.queueColour(Rgb{1, 2, 3});
    view->onSelectedColour();
    EXPECT_EQ(view->colourCommand(), cmd::Selected);
    EXPECT_EQ(doc->noteColour(), (Rgb{1, 2, 3}));
    ASSERT_EQ(prompt.colourDialogs().size(), 2u);
    EXPECT_EQ(prompt.colourDialogs()[0], (Rgb{0, 0, 255}));
}

TEST_F(WriterViewTest, ClosePromptGuardsChangedPictures)
{
    openWhite();
    EXPECT_TRUE(view->onCloseImage());
    EXPECT_TRUE(prompt.messages().empty());

    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    view->MarkPenSegment({10, 10}, {20, 10});
    prompt.queueAnswer(Answer::Cancel);
    EXPECT_FALSE(view->onCloseImage());
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "The image has been changed. Save it?");
    EXPECT_EQ(prompt.messages()[0].caption, "Warning");
    EXPECT_EQ(prompt.messages()[0].buttons, Buttons::YesNoCancel);
    EXPECT_TRUE(view->hasPicture());
    EXPECT_TRUE(doc->hasNoteLayer());

    prompt.queueAnswer(Answer::No);
    EXPECT_TRUE(view->onCloseImage());
    EXPECT_FALSE(view->hasPicture());
}

TEST_F(WriterViewTest, CloseStopsWhenItsSaveFails)
{
    openWhite();
    view->onToolCommand(cmd::FreehandPen);
    view->MarkPenSegment({10, 10}, {20, 10});
    view->EndTool(false);
    // The picture's own file is gone and its folder with it: Save cannot write.
    std::filesystem::remove_all(dir.path());
    prompt.queueAnswer(Answer::Yes);
    EXPECT_FALSE(view->onCloseImage());
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
    EXPECT_TRUE(view->onDropUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("a.bmp"))),
                                  QUrl::fromLocalFile(QString::fromStdString(dir.file("b.bmp"))),
                                  QUrl::fromLocalFile(QStringLiteral("/nonexistent.bmp"))}));
    EXPECT_EQ(doc->width(), 30);
    EXPECT_EQ(doc->getPathName(), dir.file("a.bmp"));
}

TEST_F(WriterViewTest, DropDuringDrawingAsksAndNeverMergesIntoTheNewPicture)
{
    openWhite(100, 80);
    ASSERT_TRUE(
        test::succeeded(WriteBmpFile(dir.file("other.bmp"), makeSolidPicture(30, 20, 24, 255))));
    view->onToolCommand(cmd::FreehandPen);
    view->MarkPenSegment({10, 10}, {20, 10});

    prompt.queueAnswer(Answer::Cancel);
    EXPECT_FALSE(view->onDropFile(dir.file("other.bmp")));
    EXPECT_EQ(doc->width(), 100);
    EXPECT_TRUE(view->pendingLayer());

    prompt.queueAnswer(Answer::No);
    EXPECT_TRUE(view->onDropFile(dir.file("other.bmp")));
    EXPECT_EQ(doc->width(), 30);
    EXPECT_FALSE(view->pendingLayer());
    EXPECT_FALSE(view->redoSlot());
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
    const uint64_t conversions = view->pictureConversions();
    view->repaintNow();
    view->onOriginalSize();
    view->onZoomIn();
    EXPECT_EQ(view->pictureConversions(), conversions);
    view->onNoteColourCommand(cmd::Green);
    EXPECT_EQ(view->pictureConversions(), conversions + 1);
    view->onDisplayNotes();
    EXPECT_EQ(view->pictureConversions(), conversions + 2);
}

} // namespace
} // namespace ombri::writer
