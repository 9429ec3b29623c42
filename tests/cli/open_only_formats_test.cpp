// AVIF, HEIF and JPEG XL pictures, made by each format's own Debian tool, open in every command
// that reads a picture and in the writer, with the decoder's pixels, and no save ever makes one:
// they open only, as GIF and PCX do.

#include "cli_fixture.h"
#include "formats/dispatch.h"
#include "formats/png.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

namespace ombri::cli {
namespace {

using namespace test_cli;

struct OpenOnlyFormat {
    const char* extension;
    const char* formatLine;
    // The tool that makes the file and its Debian package; {in} is a PNG, {out} the file made.
    const char* tool;
    const char* package;
    const char* makeCommand;
};

class CliOpenOnlyFormatTest : public CliFilesTest,
                              public testing::WithParamInterface<OpenOnlyFormat> {
  protected:
    // The pattern picture of the fixture's size made into the format, lossless where the tool
    // can, and the path of the made file.
    std::string madeFile(uint16_t bitCount)
    {
        const std::string png = file("source.png");
        EXPECT_TRUE(static_cast<bool>(
            WritePngFile(png, test::makePatternImage(kWidth, kHeight, bitCount, 5))));
        const std::string made = file(std::string("made.") + GetParam().extension);
        std::string command = GetParam().makeCommand;
        command.replace(command.find("{in}"), 4, "'" + png + "'");
        command.replace(command.find("{out}"), 5, "'" + made + "'");
        EXPECT_EQ(test::runCommand(command + " >/dev/null"), "");
        return made;
    }
};

TEST_P(CliOpenOnlyFormatTest, EveryCommandThatReadsOpensItAndNoneWritesIt)
{
    if (!test::haveCommands({GetParam().tool}))
        GTEST_SKIP() << GetParam().tool << " (Debian package " << GetParam().package
                     << ") is missing";
    for (const uint16_t bitCount : {24, 32}) {
        SCOPED_TRACE(std::to_string(bitCount) + "-bit source");
        const std::string made = madeFile(bitCount);
        const LoadedImage decoded = loadCheckedImage(made);
        ASSERT_TRUE(decoded.error.empty()) << decoded.error;

        const RunResult info = ombri({"info", made});
        EXPECT_EQ(info.code, 0) << info.err;
        for (const char* line : {GetParam().formatLine, "size: 47x33\n", "notes: no\n"})
            EXPECT_NE(info.out.find(line), std::string::npos) << info.out;
        const RunResult notes = ombri({"notes", made, "-o", file("mask.png")});
        EXPECT_NE(notes.code, 0) << "a picture without notes has no mask to give";

        // Converted, the picture keeps every pixel the decoder gave; rendered, it is its size.
        const RunResult converted = ombri({"convert", made, file("converted.png")});
        ASSERT_EQ(converted.code, 0) << converted.err;
        auto png = ReadPngFile(file("converted.png"));
        ASSERT_TRUE(png) << png.error();
        EXPECT_EQ(test::redFirstSamples(png.value(), 3), test::redFirstSamples(decoded.image, 3));
        const RunResult render = ombri({"render", made, "-o", file("shown.png")});
        EXPECT_EQ(render.code, 0) << render.err;

        // The writer opens it as a picture without notes.
        EXPECT_EQ(notesIn(made), NoteLayer());

        // Nothing is ever written in the format, and nothing is left behind by the refusal.
        const std::string target = file(std::string("written.") + GetParam().extension);
        const RunResult written = ombri({"convert", file("converted.png"), target});
        EXPECT_EQ(written.code, static_cast<int>(Exit::Usage)) << written.err;
        EXPECT_NE(written.err.find("ombri cannot save that kind of file"), std::string::npos)
            << written.err;
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

INSTANTIATE_TEST_SUITE_P(
    MadeByTheirOwnTools, CliOpenOnlyFormatTest,
    testing::Values(OpenOnlyFormat{"avif", "format: AVIF\n", "avifenc", "libavif-bin",
                                   "avifenc --lossless {in} {out}"},
                    OpenOnlyFormat{"heic", "format: HEIF\n", "heif-enc", "libheif-examples",
                                   "heif-enc -L {in} -o {out}"},
                    OpenOnlyFormat{"jxl", "format: JPEG XL\n", "cjxl", "libjxl-tools",
                                   "cjxl -d 0 {in} {out}"}),
    [](const testing::TestParamInfo<OpenOnlyFormat>& info) {
        return std::string(info.param.extension);
    });

} // namespace
} // namespace ombri::cli
