#include "formats/png.h"

#include "core/bytes.h"
#include "core/file_io.h"
#include "support/process_guards.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
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

// A chunk of the given type and data, its CRC left zero: the text walk does not check it.
Bytes chunkBytes(const char* type, const std::string& data)
{
    Bytes chunk(12 + data.size(), 0);
    writeBe32(chunk.data(), static_cast<uint32_t>(data.size()));
    std::memcpy(&chunk[4], type, 4);
    std::copy(data.begin(), data.end(), chunk.begin() + 8);
    return chunk;
}

// The text of a file of gigabytes, nearly all of it holes, is found with a few small reads: in
// a process allowed too little address space to map the file, the walk still gets through it.
TEST(PngText, TextAroundHugeChunksIsReadWithoutMappingTheFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#endif
    test::TempDir dir;
    const std::string path = dir.file("sparse.png");
    ASSERT_TRUE(
        writePngFileWithText(path, test::makePatternImage(4, 4, 24), {{"before", "1"}}, 0600).ok());
    Bytes start = test::readFileBytes(path);
    start.resize(start.size() - 12); // without IEND
    // Chunks of nearly 2 GiB and of 1 GiB whose data are holes, then text and the end.
    const FileDescriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    ASSERT_TRUE(file);
    uint64_t offset = 0;
    const auto put = [&](const Bytes& bytes, uint64_t skipped) {
        ASSERT_EQ(::pwrite(file.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset)),
                  static_cast<ssize_t>(bytes.size()));
        offset += bytes.size() + skipped;
    };
    put(start, 0);
    for (uint32_t length : {0x7FFFFFF0u, 0x40000000u}) {
        Bytes header = chunkBytes("hoLe", "");
        writeBe32(header.data(), length);
        header.resize(8);
        put(header, uint64_t{length} + 4);
    }
    put(chunkBytes("tEXt", std::string("after\0", 6) + "2"), 0);
    put(chunkBytes("IEND", ""), 0);
    ASSERT_GT(std::filesystem::file_size(path), 3000000000u);

    const rlim_t room = test::addressSpaceInUse() + (rlim_t{512} << 20);
    auto readWithLittleMemory = [&] {
        const rlimit little{room, room};
        if (::setrlimit(RLIMIT_AS, &little) != 0)
            std::_Exit(2);
        const auto text = readPngTextFile(path);
        const bool both = text && text.value().size() == 2 && text.value()[0].keyword == "before" &&
                          text.value()[1].text == "2";
        std::_Exit(both ? 0 : 1);
    };
    EXPECT_EXIT(readWithLittleMemory(), testing::ExitedWithCode(0), "");
}

TEST(PngText, DimensionsComeFromTheHeaderChunkAlone)
{
    test::TempDir dir;
    const std::string path = dir.file("d.png");
    ASSERT_TRUE(WritePngFile(path, test::makePatternImage(47, 33, 32)).ok());
    Bytes file = test::readFileBytes(path);
    const auto size = readPngDimensions({file.data(), file.size()});
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 47u);
    EXPECT_EQ(size->height, 33u);
    // Only the first 24 bytes are needed; fewer, another first chunk or no signature tell nothing.
    EXPECT_TRUE(readPngDimensions({file.data(), 24}));
    EXPECT_FALSE(readPngDimensions({file.data(), 23}));
    Bytes renamed = file;
    renamed[12] = 'X';
    EXPECT_FALSE(readPngDimensions({renamed.data(), renamed.size()}));
    Bytes unsigned_ = file;
    unsigned_[1] = 'Q';
    EXPECT_FALSE(readPngDimensions({unsigned_.data(), unsigned_.size()}));
}

// Written into a folder held open, the new file takes the name of whatever was there: a link is
// replaced, not followed, and the file it pointed to keeps its bytes and its mode.
TEST(PngText, WrittenIntoAFolderReplacesWhatHasTheName)
{
    test::TempDir dir;
    const std::string outside = dir.file("outside.txt");
    test::writeFileBytes(outside, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(::chmod(outside.c_str(), 0644), 0);
    std::filesystem::create_directory(dir.file("cache"));
    std::filesystem::create_symlink(outside, dir.file("cache/link.png"));
    ASSERT_EQ(::mkfifo(dir.file("cache/fifo.png").c_str(), 0600), 0);
    const FileDescriptor folder(::open(dir.file("cache").c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(folder);
    const test::HangGuard guard(20, "a FIFO in the folder was opened");
    for (const char* name : {"link.png", "fifo.png", "new.png"}) {
        ASSERT_TRUE(writePngFileWithText(folder.get(), name, test::makePatternImage(3, 2, 24),
                                         sampleText(), 0600)
                        .ok());
        struct stat status {};
        ASSERT_EQ(::lstat(dir.file(std::string("cache/") + name).c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
        EXPECT_EQ(status.st_mode & 07777, 0600u) << name;
        auto text = readPngTextFile(dir.file(std::string("cache/") + name));
        ASSERT_TRUE(text.ok());
        EXPECT_EQ(text.value().size(), sampleText().size());
    }
    EXPECT_EQ(test::readFileBytes(outside), (Bytes{'k', 'e', 'e', 'p'}));
    struct stat status {};
    ASSERT_EQ(::stat(outside.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    EXPECT_FALSE(
        writePngFileWithText(folder.get(), "a/b.png", test::makePatternImage(3, 2, 24), {}, 0600)
            .ok());
}

} // namespace
} // namespace ombri
