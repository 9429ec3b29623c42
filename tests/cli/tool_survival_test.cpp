// Carriers of every format and depth put through the programs people use on pictures, each
// operation one that keeps the pixels and their depth (scripts/tool_table.sh lists them and
// judges each copy with ombri itself): the notes come through every one, and where a program
// drops the alpha channel that carried them, no notes are shown.

#include "support/imagemagick.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace ombri {
namespace {

struct Case {
    std::string operation;
    std::string carrier; // picture-depth.format
    std::string made;    // the format of the copy
    std::string result;
};

// The operations that take the alpha channel away, and with it a 32-bit carrier's notes.
const std::set<std::string> kAlphaDroppers = {"convert -alpha off", "Pillow to RGB",
                                              "pngtopnm + pnmtopng"};

std::vector<Case> parseCases(const std::string& output)
{
    std::vector<Case> cases;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Case c;
        if (std::getline(fields, c.operation, '\t') && std::getline(fields, c.carrier, '\t') &&
            std::getline(fields, c.made, '\t') && std::getline(fields, c.result))
            cases.push_back(c);
    }
    return cases;
}

// The script's lines and its exit status; a run past the time allowed is ended by timeout and
// fails the test with status 124 instead of holding up the whole test run. The run takes under
// a minute on two idle cores, but under the sanitizers on a machine busy building it took five.
std::pair<std::string, int> runToolTable(const test::TempDir& dir)
{
    const std::string command = "TMPDIR='" + dir.path() +
                                "' timeout 600 '" OMBRI_SOURCE_DIR
                                "/scripts/tool_table.sh' --check --jobs 2 --pictures document '" +
                                std::string(OMBRI_BINARY_DIR) + "/ombri' '" + dir.file("work") +
                                "' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {"cannot run " + command, -1};
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The document-like page is the harder picture: its white corner and edges make colour bytes
// pass for markers, and its low bits follow its letters. A BMP carrier keeps its marker along
// its bottom row, so every copy of it in another format reports the picture flipped, though the
// notes stay where they were drawn.
TEST(ToolSurvival, NotesComeThroughEveryOperationThatKeepsThePixels)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    const auto [output, status] = runToolTable(dir);
    ASSERT_TRUE(status == 0 || status == 1) << output;
    const std::vector<Case> cases = parseCases(output);
    int kept = 0;
    int dropped = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation + " on " + c.carrier);
        const bool fromBmp =
            c.carrier.size() > 4 && c.carrier.substr(c.carrier.size() - 4) == ".bmp";
        const bool thirtyTwo = c.carrier.find("-32.") != std::string::npos;
        if (c.result == "n/a")
            continue;
        if (c.result == "dropped") {
            EXPECT_TRUE(thirtyTwo && kAlphaDroppers.count(c.operation));
            ++dropped;
        } else if (c.result == "flipped" && fromBmp && c.made != "bmp") {
            ++kept;
        } else {
            EXPECT_EQ(c.result, "kept");
            kept += c.result == "kept";
        }
    }
    // Every tool but ImageMagick may be missing, but ImageMagick's conversions of each carrier
    // and its alpha channel dropped from each 32-bit one always run.
    EXPECT_GE(kept, 8 * 5) << output;
    EXPECT_GE(dropped, 4) << output;
}

} // namespace
} // namespace ombri
