#include "core/file_io.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ombri {
namespace {

std::vector<uint8_t> bytesOf(ByteView view)
{
    return std::vector<uint8_t>(view.data, view.data + view.size);
}

TEST(MappedFile, MapsARegularFile)
{
    test::TempDir dir;
    const std::string path = dir.file("picture.bin");
    std::vector<uint8_t> content(100000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<uint8_t>(i * 7 + i / 251);
    test::writeFileBytes(path, content);

    auto file = MappedFile::open(path);
    ASSERT_TRUE(file) << file.error();
    EXPECT_TRUE(file.value().mapped());
    EXPECT_EQ(bytesOf(file.value().view()), content);

    // Moving the file hands over the mapping; the bytes stay where they were.
    const uint8_t* where = file.value().view().data;
    MappedFile moved = file.take();
    EXPECT_EQ(moved.view().data, where);
    EXPECT_EQ(bytesOf(moved.view()), content);
    MappedFile assigned;
    assigned = std::move(moved);
    EXPECT_EQ(bytesOf(assigned.view()), content);
}

TEST(MappedFile, AnEmptyFileHasNoBytes)
{
    test::TempDir dir;
    const std::string path = dir.file("empty.bin");
    test::writeFileBytes(path, {});

    auto file = MappedFile::open(path);
    ASSERT_TRUE(file) << file.error();
    EXPECT_FALSE(file.value().mapped());
    EXPECT_EQ(file.value().view().size, 0u);
    // The same view readWholeFile's empty vector gives.
    EXPECT_EQ(file.value().view().data, std::vector<uint8_t>().data());
}

TEST(MappedFile, AMissingFileGivesTheSystemsReason)
{
    test::TempDir dir;
    auto file = MappedFile::open(dir.file("missing.bin"));
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), std::strerror(ENOENT));
    EXPECT_EQ(file.error(), readWholeFile(dir.file("missing.bin")).error());
}

TEST(MappedFile, AFolderIsRefused)
{
    test::TempDir dir;
    auto file = MappedFile::open(dir.path());
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), "it is a folder");
}

TEST(MappedFile, APipeIsReadIntoMemory)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string content = "bytes through a pipe";
    ASSERT_EQ(::write(ends[1], content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    ::close(ends[1]);

    auto file = MappedFile::open("/proc/self/fd/" + std::to_string(ends[0]));
    ::close(ends[0]);
    ASSERT_TRUE(file) << file.error();
    EXPECT_FALSE(file.value().mapped());
    const auto bytes = bytesOf(file.value().view());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
}

} // namespace
} // namespace ombri
