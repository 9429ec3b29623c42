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

TEST_F(WriterWindowTest, MenusShowTheirItemsInOrder)
{
    QStringList titles;
    for (const QAction* action : frame->menuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles,
              QStringList({"&File", "&Edit", "&View", "&Color", "&Tools", "&Option", "I&nfo"}));

    EXPECT_EQ(itemTexts(frame->menu("&File")),
              QStringList({"&Open...\tCtrl+O", "&Save\tCtrl+S", "Save &As... (Lossless)",
                           "Save &As... (Compressed)", "Save C&lean Copy…", "&Close", "-",
                           "&Import Notes…", "&Export Notes…", "-", "&Print...\tCtrl+P",
                           "Print Pre&view", "P&rint Setup...", "-", "Recent File", "-", "E&xit"}));
    EXPECT_EQ(
        itemTexts(frame->menu("&Tools")),
        QStringList({"Font &Setting", "-", "&Text Tool", "&Erasure", "&Freehand Pen", "&Line Tool",
                     "&Arc Tool", "&Rectangle Tool", "R&ound-Rectangle Tool", "&Ellipse Tool"}));
    EXPECT_EQ(itemTexts(frame->menu("&Option")),
              QStringList({"&Toolbar", "&Status Bar", "&Paint Tool Box"}));
    EXPECT_EQ(itemTexts(frame->menu("I&nfo")),
              QStringList({"Help\tF1", "-", "Home &Page", "&About OmbriWriter ..."}));
}

// Every menu of the bar, item by item: the text as shown (key after a tab), the command id
// ("-" rows are separators, id 0), in the order the writer has always had them.
TEST_F(WriterWindowTest, MenuBarMatchesTheMenuTableItemByItem)
{
    struct Item {
        const char* text;
        int id;
    };
    const std::vector<std::pair<QString, std::vector<Item>>> table = {
        {"&File",
         {{"&Open...\tCtrl+O", 57601},
          {"&Save\tCtrl+S", 57603},
          {"Save &As... (Lossless)", 57604},
          {"Save &As... (Compressed)", 32817},
          {"Save C&lean Copy…", 32820},
          {"&Close", 57602},
          {"-", 0},
          {"&Import Notes…", 32822},
          {"&Export Notes…", 32821},
          {"-", 0},
          {"&Print...\tCtrl+P", 57607},
          {"Print Pre&view", 57609},
          {"P&rint Setup...", 57606},
          {"-", 0},
          {"Recent File", -1},
          {"-", 0},
          {"E&xit", 57665}}},
        {"&Edit",
         {{"&Undo\tCtrl+Z", 57643},
          {"&Redo\tCtrl+Y", 57644},
          {"-", 0},
          {"Cu&t\tCtrl+X", 57635},
          {"&Copy\tCtrl+C", 57634},
          {"&Paste\tCtrl+V", 57637},
          {"-", 0},
          {"&Clear All", 57633}}},
        {"&View",
         {{"&Display Notes", 32772},
          {"-", 0},
          {"&Original Size", 32810},
          {"Zoom &Out", 32808},
          {"Zoom &In", 32809},
          {"&Fit In", 32807}}},
        {"&Color",
         {{"&Selected", 32786},
          {"&Black", 32787},
          {"&White", 32788},
          {"&Red", 32785},
          {"&Green", 32789},
          {"Bl&ue", 32790},
          {"-", 0},
          {"B&ackgound", 32815}}},
        {"&Tools",
         {{"Font &Setting", 32777},
          {"-", 0},
          {"&Text Tool", 32773},
          {"&Erasure", 32775},
          {"&Freehand Pen", 32792},
          {"&Line Tool", 32771},
          {"&Arc Tool", 32806},
          {"&Rectangle Tool", 32774},
          {"R&ound-Rectangle Tool", 32795},
          {"&Ellipse Tool", 32791}}},
        {"&Option", {{"&Toolbar", 59392}, {"&Status Bar", 59393}, {"&Paint Tool Box", 32814}}},
        {"I&nfo",
         {{"Help\tF1", 57670}, {"-", 0}, {"Home &Page", 32819}, {"&About OmbriWriter ...", 57664}}},
    };
    QStringList titles;
    for (const QAction* action : frame->menuBar()->actions())
        titles << action->text();
    QStringList expectedTitles;
    for (const auto& [title, items] : table)
        expectedTitles << title;
    EXPECT_EQ(titles, expectedTitles);

    for (const auto& [title, items] : table) {
        const QMenu* menu = frame->menu(title);
        ASSERT_NE(menu, nullptr) << title.toStdString();
        const QStringList shown = itemTexts(menu);
        std::vector<int> ids;
        for (const QAction* action : menu->actions()) {
            if (!action->isVisible() && !action->isSeparator())
                continue;
            ids.push_back(action->isSeparator()      ? 0
                          : action->data().isValid() ? action->data().toInt()
                                                     : -1);
        }
        QStringList expectedTexts;
        std::vector<int> expectedIds;
        for (const Item& item : items) {
            expectedTexts << QString::fromUtf8(item.text);
            expectedIds.push_back(item.id);
        }
        EXPECT_EQ(shown, expectedTexts) << title.toStdString();
        EXPECT_EQ(ids, expectedIds) << title.toStdString();
    }
}

TEST_F(WriterWindowTest, EditKeysFollowTheKeyTableAndRedoOnlyShowsItsKey)
{
    EXPECT_EQ(itemTexts(frame->menu("&Edit")),
              QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                           "&Paste\tCtrl+V", "-", "&Clear All"}));
    const auto keys = [this](int id) { return frame->commands().action(id)->shortcuts(); };
    EXPECT_TRUE(keys(cmd::Undo).contains(QKeySequence(Qt::ALT | Qt::Key_Backspace)));
    EXPECT_TRUE(keys(cmd::Cut).contains(QKeySequence(Qt::SHIFT | Qt::Key_Delete)));
    EXPECT_TRUE(keys(cmd::Copy).contains(QKeySequence(Qt::CTRL | Qt::Key_Insert)));
    EXPECT_TRUE(keys(cmd::Paste).contains(QKeySequence(Qt::SHIFT | Qt::Key_Insert)));
    EXPECT_TRUE(keys(cmd::Redo).isEmpty());
    EXPECT_EQ(keys(cmd::FileNew), QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_N)});
}

TEST_F(WriterWindowTest, ToolbarsHoldTheirButtonsInOrder)
{
    EXPECT_EQ(
        toolbarIds(frame->mainToolBar()),
        (std::vector<int>{cmd::FileOpen, cmd::FileSave, cmd::SaveAsLossless, cmd::SaveAsCompressed,
                          cmd::Print, 0, cmd::Undo, cmd::Redo, 0, cmd::DisplayNotes, cmd::FitIn,
                          cmd::ZoomOut, cmd::ZoomIn, cmd::OriginalSize, 0, -1}));
    EXPECT_EQ(toolbarIds(frame->paintToolBox()),
              (std::vector<int>{cmd::TextTool, cmd::Erasure, cmd::FreehandPen, cmd::LineTool,
                                cmd::ArcTool, cmd::RectangleTool, cmd::RoundRectangleTool,
                                cmd::EllipseTool}));
    for (const QAction* action : frame->mainToolBar()->actions())
        EXPECT_TRUE(action->isSeparator() || !action->data().isValid() || !action->icon().isNull())
            << action->text().toStdString();
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
    EXPECT_EQ(frame->view().eraserHalfSize(), 25);

    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("3X"));
    EXPECT_EQ(box->currentText(), "3x");
    EXPECT_EQ(frame->view().eraserHalfSize(), 30);

    emit box->textActivated(QStringLiteral("45"));
    EXPECT_EQ(frame->view().eraserHalfSize(), 45);
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
