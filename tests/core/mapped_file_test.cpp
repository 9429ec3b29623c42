#include "core/file_io.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// A pipe, a FIFO or a device by a picture's name is refused at once: reading one would wait
// for bytes that may never come, or never end.
TEST(MappedFile, AnythingButARegularFileIsRefusedWithoutWaiting)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    auto pipe = MappedFile::open("/proc/self/fd/" + std::to_string(ends[0]));
    ::close(ends[0]);
    ::close(ends[1]);
    ASSERT_FALSE(pipe);
    EXPECT_EQ(pipe.error(), "it is not a regular file");

    // Nobody ever writes to this FIFO: a plain open would wait for a writer for good.
    test::TempDir dir;
    const std::string fifo = dir.file("waiting.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto mapped = MappedFile::open(fifo);
    ASSERT_FALSE(mapped);
    EXPECT_EQ(mapped.error(), "it is not a regular file");
    EXPECT_EQ(readWholeFile(fifo).error(), "it is not a regular file");
    EXPECT_EQ(openRegularStream(fifo).error(), "it is not a regular file");
    EXPECT_EQ(readWholeFile("/dev/zero").error(), "it is not a regular file");

    // A file of /proc tells its size as 0 and is read to its end.
    auto status = readWholeFile("/proc/self/status");
    ASSERT_TRUE(status) << status.error();
    EXPECT_GT(status.value().size(), 0u);
}

} // namespace
} // namespace ombri
