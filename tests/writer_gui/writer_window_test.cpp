#include "window_fixture.h"

#include "formats/bmp.h"
#include "platform/qt/info_dialogs.h"
#include "platform/scripted_prompt.h"
#include "support/menu_walk.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_app.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

#include <memory>

namespace ombri::writer {
using namespace ombri::test;
namespace {

class WriterWindowTest : public WindowFixture {};

// ---- the window ------------------------------------------------------------------------------

TEST_F(WriterWindowTest, TitleStaysTheProgramNameWhateverIsOpen)
{
    ASSERT_TRUE(frame->openFile(writePicture("beach.bmp")));
    drawPendingLine();
    frame->commands().trigger(cmd::LineTool);
    EXPECT_EQ(frame->windowTitle(), "OmbriWriter");
    EXPECT_EQ(frame->size(), QSize(800, 600));
}

TEST_F(WriterWindowTest, PaintToolBoxStaysOneColumnAtTheLeftWhenShownAgain)
{
    QToolBar* box = frame->paintToolBox();
    CommandTable& commands = frame->commands();
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(frame->toolBarArea(box), Qt::LeftToolBarArea);
    EXPECT_TRUE(commands.isChecked(cmd::PaintToolBox));

    commands.trigger(cmd::PaintToolBox);
    EXPECT_FALSE(box->isVisible());
    EXPECT_FALSE(commands.isChecked(cmd::PaintToolBox));

    commands.trigger(cmd::PaintToolBox);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(commands.isChecked(cmd::PaintToolBox));
    EXPECT_EQ(box->orientation(), Qt::Vertical);
    EXPECT_EQ(frame->toolBarArea(box), Qt::LeftToolBarArea);
    // One column: every button below the one before it.
    const QList<QAction*> tools = box->actions();
    for (qsizetype i = 1; i < tools.size(); ++i) {
        const QRect above = box->widgetForAction(tools[i - 1])->geometry();
        const QRect below = box->widgetForAction(tools[i])->geometry();
        EXPECT_EQ(below.left(), above.left());
        EXPECT_GT(below.top(), above.top());
    }
}

// ---- the eraser-size box ---------------------------------------------------------------------

TEST_F(WriterWindowTest, EraserSizeBoxOffersSortedSizesOnlyWhileTheEraserIsActive)
{
    QComboBox* box = frame->eraserSizeBox();
    CommandTable& commands = frame->commands();
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    // Sorted as text, so "5" comes after "45".
    EXPECT_EQ(items, QStringList({"10", "15", "20", "25", "30", "35", "40", "45", "5", "50"}));
    EXPECT_FALSE(box->isEnabled());
    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    EXPECT_FALSE(box->isEnabled());
    commands.trigger(cmd::Erasure);
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(box->currentText(), "10");
    commands.trigger(cmd::LineTool);
    EXPECT_FALSE(box->isEnabled());
    commands.trigger(cmd::Erasure);
    commands.trigger(cmd::Erasure);
    EXPECT_FALSE(box->isEnabled());
}

TEST_F(WriterWindowTest, EraserSizeBoxSetsTheEraserSize)
{
    QComboBox* box = frame->eraserSizeBox();
    ASSERT_TRUE(frame->openFile(writePicture("notes.bmp")));
    frame->commands().trigger(cmd::Erasure);

    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("25"));
    EXPECT_EQ(frame->view().inspect().eraserHalfSize, 25);

    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("3X"));
    EXPECT_EQ(box->currentText(), "3x");
    EXPECT_EQ(frame->view().inspect().eraserHalfSize, 30);

    emit box->textActivated(QStringLiteral("45"));
    EXPECT_EQ(frame->view().inspect().eraserHalfSize, 45);
}

// ---- the save question -----------------------------------------------------------------------

TEST_F(WriterWindowTest, OpeningOverAModifiedPictureAsksFirst)
{
    const QString first = writePicture("first.bmp");
    ASSERT_TRUE(frame->openFile(first));
    drawPendingLine();

    prompt.queueAnswer(Answer::Cancel);
    EXPECT_FALSE(frame->openFile(writePicture("second.bmp", 2)));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "Save changes to first.bmp?");
    EXPECT_EQ(prompt.messages()[0].buttons, Buttons::YesNoCancel);
    EXPECT_EQ(frame->document().getPathName(), first.toStdString());
    EXPECT_TRUE(frame->document().hasNoteLayer());

    // No: the notes go, and the view's own question about a pending drawing is not asked too.
    drawPendingLine();
    prompt.queueAnswer(Answer::No);
    EXPECT_TRUE(frame->openFile(writePicture("second.bmp", 2)));
    EXPECT_EQ(prompt.messages().size(), 2u);
    EXPECT_FALSE(frame->document().IsModified());
    EXPECT_FALSE(frame->document().hasNoteLayer());
}

TEST_F(WriterWindowTest, OpeningAfterYesSavesTheNotesFirst)
{
    const QString first = writePicture("first.bmp");
    ASSERT_TRUE(frame->openFile(first));
    drawPendingLine();
    prompt.queueAnswer(Answer::Yes);

    EXPECT_TRUE(frame->openFile(writePicture("second.bmp", 2)));
    prompt.clear();
    ASSERT_TRUE(frame->openFile(first));
    EXPECT_TRUE(frame->document().hasNoteLayer());
    EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(WriterWindowTest, NewAndExitAskAboutAModifiedPictureToo)
{
    ASSERT_TRUE(frame->openFile(writePicture("first.bmp")));
    drawPendingLine();
    prompt.queueAnswer(Answer::Cancel);
    frame->commands().trigger(cmd::FileNew);
    EXPECT_TRUE(frame->document().hasImage());
    prompt.queueAnswer(Answer::Cancel);
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());

    prompt.queueAnswer(Answer::No);
    frame->commands().trigger(cmd::FileNew);
    EXPECT_FALSE(frame->document().hasImage());
    // Nothing is left to save: Exit closes without a question.
    frame->commands().trigger(cmd::Exit);
    EXPECT_FALSE(frame->isVisible());
    ASSERT_EQ(prompt.messages().size(), 3u);
    for (const ScriptedPrompt::Message& message : prompt.messages())
        EXPECT_EQ(message.text, "Save changes to first.bmp?");
}

// ---- recent files ----------------------------------------------------------------------------

TEST_F(WriterWindowTest, RecentFilesKeepTheSixNewestAcrossRuns)
{
    QStringList opened;
    for (int i = 0; i < 7; ++i) {
        opened << writePicture("picture" + std::to_string(i) + ".bmp", i + 1);
        ASSERT_TRUE(frame->openFile(opened.back()));
    }
    const QStringList newestFirst = {opened[6], opened[5], opened[4],
                                     opened[3], opened[2], opened[1]};
    EXPECT_EQ(frame->recentFiles(), newestFirst);

    const QStringList items = itemTexts(frame->menu("&File"));
    const qsizetype first = items.indexOf(QRegularExpression(QStringLiteral("^&1 .*")));
    ASSERT_GE(first, 0);
    EXPECT_TRUE(items[first].endsWith(QStringLiteral("picture6.bmp")));
    EXPECT_TRUE(items[first + 5].startsWith(QStringLiteral("&6 ")));
    EXPECT_EQ(items[first + 6], "-");
    EXPECT_FALSE(items.contains(QStringLiteral("Recent File")));

    WriterWindow next(&prompt);
    EXPECT_EQ(next.recentFiles(), newestFirst);
}

TEST_F(WriterWindowTest, ARecentFileThatNoLongerOpensLeavesTheList)
{
    const QString kept = writePicture("kept.bmp");
    const QString gone = writePicture("gone.bmp", 2);
    ASSERT_TRUE(frame->openFile(kept));
    ASSERT_TRUE(frame->openFile(gone));
    ASSERT_TRUE(QFile::remove(gone));

    EXPECT_FALSE(frame->commands().trigger(cmd::RecentFileFirst + 2));
    EXPECT_TRUE(frame->commands().trigger(cmd::RecentFileFirst));
    EXPECT_EQ(frame->recentFiles(), QStringList({kept}));

    ASSERT_TRUE(frame->openRecentFile(0));
    EXPECT_EQ(frame->document().getPathName(), kept.toStdString());
}

// ---- start and Help -------------------------------------------------------------------------

TEST_F(WriterWindowTest, ApplicationOpensTheFileNamedOnTheCommandLine)
{
    const QString picture = writePicture("start.bmp");
    WriterApp app(&prompt);
    ASSERT_TRUE(app.initInstance({QStringLiteral("ombri-writer"), picture}));
    EXPECT_EQ(app.window()->document().getPathName(), picture.toStdString());
    EXPECT_TRUE(app.window()->isVisible());

    WriterApp failing(&prompt);
    EXPECT_FALSE(failing.initInstance(
        {QStringLiteral("ombri-writer"), QString::fromStdString(dir.file("missing.png"))}));
}

TEST_F(WriterWindowTest, HelpShowsTheSourceTreeSamplesWhenRunFromTheBuildTree)
{
    const std::unique_ptr<QDialog> dialog =
        createHelpDialog(frame.get(), helpText(HelpProgram::Writer, samplesFolder()));
    EXPECT_EQ(dialog->windowTitle(), "Dialog");
    const auto* label = dialog->findChild<QLabel*>(QStringLiteral("helpText"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(),
              helpText(HelpProgram::Writer, QStringLiteral(OMBRI_SOURCE_DIR "/resources/samples")));
}

} // namespace
} // namespace ombri::writer
