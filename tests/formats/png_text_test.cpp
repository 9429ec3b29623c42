#include "formats/png.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<PngText> sampleText()
{
    return {{"Thumb::URI", "file:///a%20b.png"},
            {"Thumb::MTime", "1700000000"},
            {"Empty", ""},
            {"Latin", "caf\xE9"}};
}

TEST(PngText, WrittenChunksReadBackInOrderWithThePictureIntact)
{
    test::TempDir dir;
    const std::string path = dir.file("t.png");
    const Dib image = test::makePatternImage(5, 3, 32);
    ASSERT_TRUE(writePngFileWithText(path, image, sampleText(), 0600).ok());

    auto text = readPngTextFile(path);
    ASSERT_TRUE(text.ok()) << text.error();
    const auto expected = sampleText();
    ASSERT_EQ(text.value().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(text.value()[i].keyword, expected[i].keyword);
        EXPECT_EQ(text.value()[i].text, expected[i].text);
    }
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    auto picture = ReadPngFile(path);
    ASSERT_TRUE(picture.ok()) << picture.error();
    EXPECT_EQ(DibGetWidth(picture.value()), 5);
    EXPECT_EQ(DibGetBitCount(picture.value()), 32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(test::pixelAt(picture.value(), x, y)[c], test::pixelAt(image, x, y)[c]);

    // A plain save carries no text.
    ASSERT_TRUE(WritePngFile(path, image).ok());
    auto none = readPngTextFile(path);
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none.value().empty());
}

TEST(PngText, KeywordsAndTextsThatCannotBeStoredAreRefused)
{
    test::TempDir dir;
    const Dib image = test::makePatternImage(2, 2, 24);
    const std::vector<std::vector<PngText>> refused = {
        {{"", "x"}}, {{std::string(80, 'k'), "x"}}, {{"k", std::string("a\0b", 3)}}};
    for (const auto& text : refused) {
        EXPECT_FALSE(writePngFileWithText(dir.file("r.png"), image, text, 0600).ok());
        EXPECT_FALSE(test::fileExists(dir.file("r.png")));
    }
}

// Whatever the bytes, the walk ends inside them: every prefix of a real file, every byte of it
// changed, and random bytes behind the signature.
TEST(PngText, AnyBytesAreWalkedSafely)
{
    test::TempDir dir;
    const std::string path = dir.file("t.png");
    ASSERT_TRUE(
        writePngFileWithText(path, test::makePatternImage(4, 4, 24), sampleText(), 0600).ok());
    const Bytes file = test::readFileBytes(path);

    EXPECT_FALSE(readPngTextBytes({nullptr, 0}).ok());
    EXPECT_FALSE(readPngTextBytes({file.data(), 7}).ok());
    for (size_t size = 8; size <= file.size(); ++size) {
        auto text = readPngTextBytes({file.data(), size});
        ASSERT_TRUE(text.ok());
        EXPECT_LE(text.value().size(), sampleText().size());
    }
    std::mt19937 random(5);
    for (size_t i = 8; i < file.size(); ++i) {
        Bytes changed = file;
        changed[i] = static_cast<uint8_t>(random());
        EXPECT_TRUE(readPngTextBytes({changed.data(), changed.size()}).ok());
    }
    for (int round = 0; round < 200; ++round) {
        Bytes noise(file.begin(), file.begin() + 8);
        noise.resize(8 + random() % 200);
        for (size_t i = 8; i < noise.size(); ++i)
            noise[i] = static_cast<uint8_t>(random());
        EXPECT_TRUE(readPngTextBytes({noise.data(), noise.size()}).ok());
    }
    // A chunk claiming the largest length there is.
    Bytes huge(file.begin(), file.begin() + 8);
    huge.insert(huge.end(), {0xff, 0xff, 0xff, 0xff, 't', 'E', 'X', 't', 'k', 0, 'v', 0, 0, 0, 0});
    auto text = readPngTextBytes({huge.data(), huge.size()});
    ASSERT_TRUE(text.ok());
    EXPECT_TRUE(text.value().empty());
}

} // namespace
} // namespace ombri
