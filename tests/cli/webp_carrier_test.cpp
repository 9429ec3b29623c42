// Lossless WebP carriers written by ombri keep every note through the tools people pass them
// through: libwebp's own dwebp and cwebp, and ImageMagick to PNG and back. A picture larger than
// WebP holds is refused.

#include "cli_fixture.h"
#include "formats/png.h"
#include "formats/webp.h"
#include "support/imagemagick.h"
#include "support/other_user.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace ombri::cli {
namespace {

using namespace test_cli;

bool haveWebpTools()
{
    static const bool found = test::haveCommands({"cwebp", "dwebp"});
    return found;
}

class CliWebpCarrierTest : public CliFilesTest, public testing::WithParamInterface<const char*> {
  protected:
    // A WebP carrier of roundTripNotes(seed) in the depth under test.
    std::string notedWebp(const std::string& name, uint32_t seed)
    {
        const std::string path = file(name);
        const RunResult result = ombri({"embed", plainPicture("source-" + name + ".bmp"),
                                        mask("mask-" + name + ".png", roundTripNotes(seed)), "-o",
                                        path, "--depth", GetParam()});
        EXPECT_EQ(result.code, 0) << result.err;
        return path;
    }
};

TEST_P(CliWebpCarrierTest, NotesSurviveLibwebpsToolsAndImageMagick)
{
    if (!haveWebpTools() || !test::haveImageMagick())
        GTEST_SKIP() << "needs cwebp and dwebp (Debian package webp) and ImageMagick";
    const NoteLayer notes = roundTripNotes(21);
    const std::string noted = notedWebp("noted.webp", 21);
    EXPECT_EQ(notesIn(noted), notes);
    const RunResult info = ombri({"info", noted});
    EXPECT_NE(info.out.find("notes: yes"), std::string::npos) << info.out;

    // dwebp's PAM and PNG, each made a lossless file again by cwebp.
    for (const char* decoded : {"dwebp.pam", "dwebp.png"}) {
        SCOPED_TRACE(decoded);
        const std::string option =
            std::string(decoded).find(".pam") != std::string::npos ? " -pam" : "";
        ASSERT_EQ(test::runCommand("dwebp -quiet '" + noted + "'" + option + " -o '" +
                                   file(decoded) + "'"),
                  "");
        const std::string again = file(std::string(decoded) + ".webp");
        ASSERT_EQ(test::runCommand("cwebp -quiet -lossless -exact '" + file(decoded) + "' -o '" +
                                   again + "'"),
                  "");
        EXPECT_EQ(notesIn(again), notes);
    }
    EXPECT_EQ(notesIn(file("dwebp.png")), notes);

    // ImageMagick to PNG, and from that PNG to lossless WebP again.
    ASSERT_EQ(test::runConvert("'" + noted + "' '" + file("magick.png") + "'"), "");
    EXPECT_EQ(notesIn(file("magick.png")), notes);
    ASSERT_EQ(test::runConvert("'" + file("magick.png") +
                               "' -define webp:lossless=true -define webp:exact=true '" +
                               file("magick.webp") + "'"),
              "");
    EXPECT_EQ(notesIn(file("magick.webp")), notes);

    // ombri's own conversions, out of WebP and back into it.
    ASSERT_EQ(ombri({"convert", noted, file("converted.png")}).code, 0);
    ASSERT_EQ(ombri({"convert", file("converted.png"), file("converted.webp")}).code, 0);
    EXPECT_EQ(notesIn(file("converted.webp")), notes);
}

INSTANTIATE_TEST_SUITE_P(BothDepths, CliWebpCarrierTest, testing::Values("24", "32"));

class CliWebpTest : public CliFilesTest {};

TEST_F(CliWebpTest, ALossyFileWithAlphaIsReadByEveryCommand)
{
    if (!haveWebpTools())
        GTEST_SKIP() << "needs cwebp (Debian package webp)";
    test::writePam(file("photo.pam"), test::makePatternImage(kWidth, kHeight, 32), 4);
    ASSERT_EQ(test::runCommand("cwebp -quiet -q 75 '" + file("photo.pam") + "' -o '" +
                               file("photo.webp") + "'"),
              "");
    auto decoded = ReadWebpFile(file("photo.webp"));
    ASSERT_TRUE(decoded) << decoded.error();

    const RunResult info = ombri({"info", file("photo.webp")});
    EXPECT_EQ(info.code, 0) << info.err;
    for (const char* line : {"format: WebP\n", "size: 47x33\n", "notes: no\n"})
        EXPECT_NE(info.out.find(line), std::string::npos) << info.out;
    // Converted and rendered, the picture keeps every pixel the decoder gave.
    ASSERT_EQ(ombri({"convert", file("photo.webp"), file("photo.png")}).code, 0);
    auto converted = ReadPngFile(file("photo.png"));
    ASSERT_TRUE(converted) << converted.error();
    EXPECT_EQ(test::redFirstSamples(converted.value(), 3),
              test::redFirstSamples(decoded.value(), 3));
    const RunResult render = ombri({"render", file("photo.webp"), "-o", file("shown.png")});
    EXPECT_EQ(render.code, 0) << render.err;
    auto shown = ReadPngFile(file("shown.png"));
    ASSERT_TRUE(shown) << shown.error();
    EXPECT_EQ(DibGetWidth(shown.value()), kWidth);
    // The writer opens it as a picture without notes.
    EXPECT_EQ(notesIn(file("photo.webp")), NoteLayer());
}

class CliWebpLimitTest : public CliFilesTest {};

TEST_F(CliWebpLimitTest, APictureLargerThanWebpHoldsIsRefusedWithNothingWritten)
{
    for (const auto& [width, height] : {std::pair{kMaxWebpSide + 1, 8u}, {8u, kMaxWebpSide + 1}}) {
        const std::string source =
            picture("wide.bmp", test::makePatternImage(static_cast<int32_t>(width),
                                                       static_cast<int32_t>(height), 24));
        const std::string target = file("wide.webp");
        test::writeFileBytes(target, {'o', 'l', 'd'});
        const RunResult result = ombri({"convert", source, target});
        EXPECT_EQ(result.code, code(Exit::WriteFailed));
        const std::string told = "at most 16383 x 16383 pixels; this one is " +
                                 std::to_string(width) + " x " + std::to_string(height);
        EXPECT_NE(result.err.find(told), std::string::npos) << result.err;
        EXPECT_EQ(test::readFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
    // The largest picture WebP holds is written.
    const std::string largest =
        picture("largest.bmp", test::makePatternImage(static_cast<int32_t>(kMaxWebpSide), 8, 24));
    EXPECT_EQ(ombri({"convert", largest, file("largest.webp")}).code, 0);
    const LoadedImage loaded = loadCheckedImage(file("largest.webp"));
    EXPECT_EQ(DibGetWidth(loaded.image), static_cast<int32_t>(kMaxWebpSide)) << loaded.error;
}

// A WebP save goes the way of every save: a FIFO by the target's name is never opened to write.
TEST_F(CliWebpLimitTest, AFifoNamedAsTheTargetIsNotWrittenTo)
{
    const std::string source = plainPicture("plain.bmp"), fifo = file("fifo.webp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(test::checkInChild(
                  test::RunAs::Self,
                  [&] {
                      const RunResult result = ombri({"convert", source, fifo});
                      if (result.code == code(Exit::WriteFailed) &&
                          result.err.find("is not a regular file") != std::string::npos)
                          return std::string();
                      return "exit " + std::to_string(result.code) + ": " + result.err;
                  },
                  30),
              "");
    struct stat entry {};
    ASSERT_EQ(::lstat(fifo.c_str(), &entry), 0);
    EXPECT_TRUE(S_ISFIFO(entry.st_mode));
}

} // namespace
} // namespace ombri::cli
