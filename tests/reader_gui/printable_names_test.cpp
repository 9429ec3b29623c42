// File names holding line breaks and terminal escape sequences, as the reader's messages show
// them.

#include "platform/scripted_prompt.h"
#include "reader/openable_reader_document.h"
#include "reader/ui/file_operations.h"
#include "reader/ui/reader_app.h"
#include "reader_gui/reader_window_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace ombri::reader {
namespace {

const std::string kName = "line\nbreak \x1b[2J";
const std::string kShown = "line\\nbreak \\x1b[2J";

class ReaderPrintableNameTest : public ReaderFrameTest {
  protected:
    std::string shown(const std::string& suffix) const
    {
        return dir.path() + "/" + kShown + suffix;
    }
};

TEST_F(ReaderPrintableNameTest, FileOperationsNameTheFileEscaped)
{
    const std::string picture = dir.file(kName + ".bmp");
    ASSERT_TRUE(test::succeeded(WriteBmpFile(picture, solidPicture(40, 30, 200))));
    test::writeFileBytes(dir.file(kName + "2.bmp"), {'x'});
    OpenableReaderDocument doc(prompt);
    FileOperations operations(doc);

    EXPECT_FALSE(operations.Rename(picture, kName + "2.bmp"));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text,
              "Cannot rename " + shown(".bmp") + " to " + kShown + "2.bmp.\nFile exists");

    prompt.clear();
    prompt.queueAnswer(Answer::No);
    EXPECT_FALSE(operations.deleteItem(picture));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text,
              "Are you sure to remove the following file(s) to Recycle Bin? \n\n" + shown(".bmp"));
    EXPECT_TRUE(std::filesystem::exists(picture));

    prompt.clear();
    ASSERT_TRUE(doc.OnOpenDocument(picture));
    EXPECT_EQ(prompt.busyStatuses(), std::vector<std::string>{"Opening " + shown(".bmp") + "..."});
}

TEST_F(ReaderPrintableNameTest, AFileNamedOnTheCommandLineThatCannotBeOpenedIsNamedEscaped)
{
    const std::string broken = dir.file(kName + ".png");
    test::writeFileBytes(broken, {'n', 'o', 'p', 'e'});
    app = std::make_unique<ReaderApp>(&prompt);
    EXPECT_FALSE(app->initInstance({"ombri-reader", QString::fromStdString(broken)}));
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text.rfind("Could not open " + shown(".png") + ".\n", 0), 0u)
        << prompt.messages()[0].text;
}

} // namespace
} // namespace ombri::reader
