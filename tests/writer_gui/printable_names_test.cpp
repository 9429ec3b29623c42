// File names holding line breaks and terminal escape sequences, as the writer's messages, status
// bar and recent-file menu show them.

#include "window_fixture.h"

#include "support/menu_walk.h"
#include "writer/command_ids.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <string>

namespace ombri::writer {
namespace {

const std::string kName = "line\nbreak \x1b[2J";
const std::string kShown = "line\\nbreak \\x1b[2J";

class WriterPrintableNameTest : public WindowFixture {
  protected:
    std::string shown(const std::string& suffix) const
    {
        return dir.path() + "/" + kShown + suffix;
    }
};

TEST_F(WriterPrintableNameTest, MessagesAndStatusNameTheFileEscaped)
{
    ASSERT_TRUE(frame->openFile(writePicture(kName + ".bmp")));
    EXPECT_EQ(prompt.busyStatuses(), std::vector<std::string>{"Opening " + shown(".bmp") + "..."});
    drawPendingLine();

    prompt.clear();
    prompt.queueAnswer(Answer::Cancel);
    EXPECT_FALSE(frame->openFile(writePicture("second.bmp", 2)));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text, "Save changes to " + kShown + ".bmp?");

    // Save As into a folder that is not there.
    prompt.clear();
    prompt.queueSavePath(dir.file(kName + "/copy.png"));
    frame->commands().trigger(cmd::SaveAsLossless);
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text.rfind(
                  "Could not save the image to " + shown("/copy.png") + ".\n", 0),
              0u)
        << prompt.messages()[0].text;
    EXPECT_EQ(prompt.busyStatuses(),
              std::vector<std::string>{"Saving " + shown("/copy.png") + "..."});
}

TEST_F(WriterPrintableNameTest, RecentFileMenuShowsTheNameEscaped)
{
    ASSERT_TRUE(frame->openFile(writePicture(kName + ".bmp")));
    const QStringList items = test::itemTexts(frame->menu("&File"));
    const qsizetype first = items.indexOf(QRegularExpression(QStringLiteral("^&1 .*")));
    ASSERT_GE(first, 0);
    EXPECT_TRUE(items[first].endsWith(QString::fromStdString(kShown + ".bmp")))
        << items[first].toStdString();
    EXPECT_FALSE(items[first].contains('\n') || items[first].contains(QChar(0x1b)));
}

} // namespace
} // namespace ombri::writer
