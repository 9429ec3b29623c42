#include "cli/commands.h"
#include "cli/render_command.h"
#include "formats/bmp.h"
#include "formats/png.h"
#include "support/dib_compare.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace ombri::cli {
namespace {

namespace fs = std::filesystem;

int render(std::vector<std::string> arguments, std::string* err = nullptr)
{
    arguments.insert(arguments.begin(), {"ombri", "render"});
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    std::ostringstream out, errors;
    const int code = run(static_cast<int>(argv.size()), argv.data(), out, errors);
    if (err)
        *err = errors.str();
    return code;
}

int code(Exit exit)
{
    return static_cast<int>(exit);
}

Dib readPng(const std::string& path)
{
    auto result = ReadPngFile(path);
    EXPECT_TRUE(result) << path << ": " << result.error();
    return result ? result.take() : Dib();
}

class RenderTest : public testing::Test {
  protected:
    // A 24-bit carrier PNG of the given grey, 11 x 9, with one note in the middle (5, 4) and the
    // marker in its top row.
    std::string carrier(const std::string& name, uint16_t bitCount = 24, uint8_t grey = 0)
    {
        const int32_t width = 11, height = 9;
        Dib picture = Dib::create(width, height, bitCount);
        const auto layout = dibGetLayout(picture);
        std::memset(picture.data() + layout->pixelOffset, grey, layout->pixelBytes);
        NoteLayer notes(width * height, 0);
        notes[(height - 1 - 4) * width + 5] = 1;
        Dib copy = MakeCarrierCopy(picture, notes,
                                   bitCount == 32 ? SaveDepth::Alpha32 : SaveDepth::Bits24);
        WriteOmbriSignature(copy.data() + layout->pixelOffset + layout->stride * (height - 1));
        const std::string path = m_dir.file(name);
        EXPECT_TRUE(test::succeeded(WritePngFile(path, copy)));
        return path;
    }

    std::string out(const std::string& name) const { return m_dir.file(name); }

    test::TempDir m_dir;
};

TEST_F(RenderTest, NotesShowRedAndAntiAliasedOrNotAtAll)
{
    const fs::path before = fs::current_path();
    const std::string input = carrier("c.png");
    ASSERT_EQ(render({input, "-o", out("shown.png")}), 0);
    EXPECT_EQ(fs::current_path(), before); // the reader's change of folder is undone
    const Dib shown = readPng(out("shown.png"));
    ASSERT_EQ(DibGetBitCount(shown), 24);
    EXPECT_EQ(test::pixelAt(shown, 5, 4)[2], 63);
    EXPECT_EQ(test::pixelAt(shown, 4, 4)[2], 31);
    EXPECT_EQ(test::pixelAt(shown, 4, 4)[1], 0);

    ASSERT_EQ(render({input, "-o", out("plain.png"), "--hide-notes"}), 0);
    EXPECT_EQ(test::dibDifference(readPng(out("plain.png")), readPng(input)), "");
}

TEST_F(RenderTest, TwoQuarterTurnsAreAHalfTurn)
{
    const std::string input = carrier("c.png", 24, 70);
    ASSERT_EQ(render({input, "-o", out("straight.png")}), 0);
    ASSERT_EQ(render({input, "-o", out("turned.png"), "--adjust", "rot-cw,rot-cw"}), 0);
    const Dib straight = readPng(out("straight.png"));
    const Dib turned = readPng(out("turned.png"));
    const int32_t width = DibGetWidth(straight), height = DibGetHeight(straight);
    ASSERT_EQ(DibGetWidth(turned), width);
    ASSERT_EQ(DibGetHeight(turned), height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            ASSERT_EQ(std::memcmp(test::pixelAt(turned, x, y),
                                  test::pixelAt(straight, width - 1 - x, height - 1 - y), 3),
                      0)
                << x << "," << y;
}

TEST_F(RenderTest, ColourOptionsActAsTheColourMenu)
{
    const std::string input = carrier("c.png", 24, 128);
    struct Case {
        std::vector<std::string> options;
        std::vector<uint8_t> note; // blue, green, red of the note pixel
    };
    const std::vector<Case> cases = {
        {{"--no-aa"}, {0, 0, 255}},
        {{"--no-aa", "--color", "#0A141E"}, {0x1E, 0x14, 0x0A}},
        {{"--no-aa", "--color=white"}, {255, 255, 255}},
        {{"--complement"}, {127, 127, 127}},
        // Inverted to 127, then a quarter of blue: 63.75 + trunc(0.75 x 127).
        {{"--color", "blue", "--adjust", "invert"}, {158, 95, 95}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {input, "-o", out("n.png")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(render(arguments), 0) << c.options[0];
        const Dib shown = readPng(out("n.png"));
        const uint8_t* pixel = test::pixelAt(shown, 5, 4);
        EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), c.note) << c.options.back();
    }
}

TEST_F(RenderTest, OutputDepthFollowsTheShownPicture)
{
    ASSERT_EQ(render({carrier("c32.png", 32, 50), "-o", out("rgba.png")}), 0);
    EXPECT_EQ(DibGetBitCount(readPng(out("rgba.png"))), 32);

    // An 8-bit BMP, 2 x 2, with a two-colour table: blue and yellow.
    std::vector<uint8_t> bmp(14 + 40 + 8 + 8, 0);
    const auto header = DibMakeHeader(2, 2, 8, 0);
    std::memcpy(bmp.data() + 14, header.data(), header.size());
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[2] = static_cast<uint8_t>(bmp.size());
    bmp[10] = 14 + 40 + 8;
    bmp[14 + 32] = 2;
    const uint8_t table[8] = {255, 0, 0, 0, 0, 255, 255, 0};
    std::memcpy(bmp.data() + 54, table, sizeof table);
    bmp[62] = 1; // bottom-left yellow, the rest blue
    test::writeFileBytes(out("eight.bmp"), bmp);
    ASSERT_EQ(render({out("eight.bmp"), "-o", out("rgb.png"), "--adjust", "flip-h"}), 0);
    const Dib rgb = readPng(out("rgb.png"));
    ASSERT_EQ(DibGetBitCount(rgb), 24);
    EXPECT_EQ(std::vector<uint8_t>(test::pixelAt(rgb, 1, 1), test::pixelAt(rgb, 1, 1) + 3),
              (std::vector<uint8_t>{0, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(test::pixelAt(rgb, 0, 1), test::pixelAt(rgb, 0, 1) + 3),
              (std::vector<uint8_t>{255, 0, 0}));
}

TEST_F(RenderTest, BadOptionsAreUsageErrors)
{
    const std::string input = carrier("c.png");
    const std::vector<std::vector<std::string>> lines = {
        {"--color", "pink"}, {"--color", "#12345"},        {"--color", "#GG0000"},
        {"--color", "Red"},  {"--adjust", "spin"},         {"--adjust", "invert,"},
        {"--adjust", ""},    {"--adjust", "rot-cw,,gray"}, {"--depth", "24"},
        {"--color"},         {"--hide-notes=yes"},
    };
    for (const auto& options : lines) {
        std::vector<std::string> arguments = {input, "-o", out("x.png")};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::string err;
        EXPECT_EQ(render(arguments, &err), code(Exit::Usage)) << options[0];
        EXPECT_NE(err.find("ombri: "), std::string::npos) << err;
    }
    EXPECT_EQ(render({input, "-o", out("x.bmp")}), code(Exit::Usage));
    EXPECT_EQ(render({input}), code(Exit::Usage));
    EXPECT_FALSE(test::fileExists(out("x.png")));
}

TEST_F(RenderTest, UnreadableInputAndUnwritableOutput)
{
    std::string err;
    EXPECT_EQ(render({out("missing.png"), "-o", out("x.png")}, &err), code(Exit::BadInput));
    EXPECT_NE(err.find("missing.png"), std::string::npos) << err;
    EXPECT_EQ(render({carrier("c.png"), "-o", out("no/such/folder/x.png")}, &err),
              code(Exit::WriteFailed));
}

} // namespace
} // namespace ombri::cli
