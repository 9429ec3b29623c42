// info -j: files read several at a time print exactly what they print one after the other.

#include "cli_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace ombri::cli {
namespace {

using namespace test_cli;

class CliInfoJobsTest : public CliFilesTest {
  protected:
    // A tree of every kind of entry info meets: large pictures before small ones, so that later
    // files finish first; carriers in each format, one turned; files that cannot be read, one of
    // them a PNG cut short (libpng's own error line); SGI and DPX files (the readers' trace);
    // more files in a folder than are read at a time.
    void SetUp() override
    {
        namespace fs = std::filesystem;
        fs::create_directories(file("tree/sub/deeper"));
        m_noted = notedPicture("noted.png", 8);
        picture("tree/a-large.png", test::makePatternImage(900, 600, 24));
        convert(m_noted, "tree/b-noted.png");
        test::writeFileBytes(file("tree/c-broken.png"), {1, 2, 3});
        test::writeFileBytes(file("tree/d-empty.bmp"), {});
        std::vector<uint8_t> cut = test::readFileBytes(picture("whole.png", largePlain()));
        cut.resize(cut.size() / 2);
        test::writeFileBytes(file("tree/e-cut.png"), cut);
        convert(m_noted, "tree/f-noted.tif");
        convert(m_noted, "tree/g-noted.rgb");
        convert(m_noted, "tree/h-film.dpx");
        picture("tree/i-turned.png",
                test::orientedCopy(ReadPngFile(m_noted).take(), Orientation::Turned270));
        test::writeFileBytes(file("tree/notes.txt"), {'x'});
        for (int i = 0; i < 12; ++i) {
            const std::string name = "tree/sub/p" + std::to_string(10 + i) + ".bmp";
            if (i % 3 == 0)
                convert(m_noted, name);
            else
                picture(name, test::makePatternImage(20 + i, 10, 24, i));
        }
        picture("tree/sub/deeper/y.png", test::makePatternImage(5, 5, 24));
        picture("tree/sub/deeper/z-large.bmp", largePlain());
    }

    void convert(const std::string& from, const std::string& to)
    {
        ASSERT_EQ(ombri({"convert", from, file(to)}).code, 0) << to;
    }
    static Dib largePlain() { return test::makePatternImage(900, 600, 24, 5); }

    // info on the tree, a missing file and a carrier, with the options given.
    RunResult info(const std::vector<std::string>& options)
    {
        std::vector<std::string> arguments{"info", "-r"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {file("tree"), file("missing.png"), m_noted});
        return ombri(arguments);
    }

    std::string m_noted;
};

void expectSame(const RunResult& one, const RunResult& many)
{
    EXPECT_EQ(many.code, one.code);
    EXPECT_EQ(many.out, one.out);
    EXPECT_EQ(many.err, one.err);
}

TEST_F(CliInfoJobsTest, ManyAtATimePrintExactlyWhatOneAtATimePrints)
{
    const RunResult one = info({"-j", "1"});
    EXPECT_EQ(one.code, code(Exit::BadInput));
    for (const char* unreadable : {"tree/c-broken.png", "tree/d-empty.bmp", "tree/e-cut.png"})
        EXPECT_NE(one.err.find("ombri: cannot read '" + file(unreadable) + "': "),
                  std::string::npos)
            << unreadable;
    const std::string summary = "25 images, 10 with notes, 4 unreadable\n";
    ASSERT_GE(one.err.size(), summary.size());
    EXPECT_EQ(one.err.substr(one.err.size() - summary.size()), summary);
    EXPECT_NE(one.out.find("orientation: turned-270\n"), std::string::npos);

    expectSame(one, info({"-j", "3"}));
    expectSame(one, info({"--jobs=2"}));
    expectSame(one, info({})); // one per processor
    expectSame(info({"--json", "-j1"}), info({"--json", "-j3"}));
}

// The readers' trace of each file and libpng's error line come with that file's report.
TEST_F(CliInfoJobsTest, TheReadersTraceStaysWithItsFile)
{
    const RunResult one = info({"--verbose", "-j", "1"});
    const size_t trace = one.out.find("RGB_HEADER_READ:");
    ASSERT_NE(trace, std::string::npos);
    EXPECT_LT(one.out.find("file: " + file("tree/f-noted.tif")), trace);
    EXPECT_LT(trace, one.out.find("file: " + file("tree/g-noted.rgb")));
    EXPECT_NE(one.err.find("libpng error: "), std::string::npos);

    expectSame(one, info({"--verbose", "-j", "3"}));
}

} // namespace
} // namespace ombri::cli
