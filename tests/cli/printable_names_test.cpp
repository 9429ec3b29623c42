// File names holding line breaks and terminal escape sequences, as ombri shows them.

#include "cli/invocation.h"
#include "cli_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace ombri::cli {
namespace {

using namespace test_cli;
using CliPrintableNameTest = CliFilesTest;

// A name that would end the line and clear the screen if it were printed as it is.
const std::string kName = "line\nbreak \x1b[2J";
const std::string kShown = "line\\nbreak \\x1b[2J";

// Every line of standard error is one of ombri's own, and no escape sequence reaches the
// terminal.
void expectWholeLines(const std::string& err)
{
    EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("ombri: ", 0) == 0 || line == kTryHelp) << line;
}

TEST_F(CliPrintableNameTest, InfoTextNamesTheFileOnOneLine)
{
    const std::string path = plainPicture(kName + ".bmp");
    const RunResult result = ombri({"info", path});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "file: " + m_dir.path() + "/" + kShown +
                              ".bmp\nformat: BMP\nsize: 47x33\nbits: 24\nnotes: no\n"
                              "note-pixels: 0\nsignature: none\n");
    // JSON has its own escapes and keeps them.
    EXPECT_EQ(ombri({"info", "--json", path})
                  .out.rfind("{\"file\":\"" + m_dir.path() + "/line\\nbreak \\u001b[2J.bmp\"", 0),
              0u);
}

TEST_F(CliPrintableNameTest, FailuresNameTheFileOnOneLine)
{
    const std::string image = plainPicture("image.bmp");
    const std::string noted = notedPicture("noted.png", 5);
    const std::string broken = file(kName + ".png");
    test::writeFileBytes(broken, {'n', 'o', 'p', 'e'});
    const std::string smallMask = picture(kName + "-mask.png", test::makePatternImage(4, 3, 24));
    const std::string shownFolder = m_dir.path() + "/" + kShown;

    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"info", broken}, "ombri: cannot read '" + shownFolder + ".png': "},
        {{"convert", broken, file("out.png")}, "ombri: cannot read '" + shownFolder + ".png': "},
        {{"embed", image, smallMask, "-o", file("out.png")},
         "ombri: the mask '" + shownFolder + "-mask.png' is 4x3 pixels"},
        {{"convert", noted, file(kName + ".jpg")},
         "ombri: " + shownFolder + ".jpg cannot carry notes: JPEG files lose them"},
        {{"convert", image, file(kName + ".xyz")},
         "ombri: convert: cannot write '" + shownFolder + ".xyz': ombri cannot save"},
        {{"notes", image, "-o", file(kName + "/m.png")},
         "there is no folder '" + shownFolder + "'"},
        {{kName + ".png"}, "ombri: unknown command '" + kShown + ".png'"},
    };
    for (const auto& [arguments, message] : cases) {
        const RunResult result = ombri(arguments);
        SCOPED_TRACE(message);
        EXPECT_NE(result.code, 0);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        expectWholeLines(result.err);
    }
    EXPECT_FALSE(test::fileExists(file("out.png")));
}

// The readers' trace names the file it could not read too.
TEST_F(CliPrintableNameTest, VerboseTraceNamesTheFileOnOneLine)
{
    const std::string dpx = file(kName + ".dpx");
    test::writeFileBytes(dpx, std::vector<uint8_t>(4096, 0));
    const RunResult result = ombri({"--verbose", "info", dpx});
    EXPECT_NE(result.out.find("in \"" + m_dir.path() + "/" + kShown + ".dpx\"."), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << result.out;
    expectWholeLines(result.err);
}

} // namespace
} // namespace ombri::cli
