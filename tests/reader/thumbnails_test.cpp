#include "reader/thumbnails.h"

#include "core/bytes.h"
#include "core/md5.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/tiff.h"
#include "notes/carrier.h"
#include "support/dib_compare.h"
#include "support/process_guards.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <vector>

namespace ombri::reader {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts back what was there.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_saved = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (m_saved)
            setenv(m_name, m_saved->c_str(), 1);
        else
            unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::optional<std::string> m_saved;
};

unsigned permissionsOf(const std::string& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

time_t mtimeOf(const std::string& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mtime;
}

void setMTime(const std::string& path, time_t seconds)
{
    const struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

std::string textOf(const std::string& png, const std::string& keyword)
{
    auto chunks = readPngTextFile(png);
    EXPECT_TRUE(chunks.ok()) << png;
    if (!chunks)
        return {};
    for (const PngText& chunk : chunks.value())
        if (chunk.keyword == keyword)
            return chunk.text;
    return "(none)";
}

size_t filesUnder(const std::string& folder)
{
    size_t count = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); ++it)
        count += it->is_regular_file() ? 1 : 0;
    return count;
}

class ThumbnailCache : public ::testing::Test {
  protected:
    ThumbnailCache() : m_cache(m_dir.file("cache").c_str(), m_dir.file("cache")) {}

    // A picture of the given size saved as PNG in the test's folder; its real path.
    std::string picture(const std::string& name, int32_t width, int32_t height)
    {
        const std::string path = m_dir.file(name);
        EXPECT_TRUE(WritePngFile(path, test::makePatternImage(width, height, 24)).ok());
        return fs::canonical(path).string();
    }
    std::string badPicture(const std::string& name)
    {
        const std::string path = m_dir.file(name);
        test::writeFileBytes(path, {0x89, 'P', 'N', 'G', 1, 2, 3});
        return fs::canonical(path).string();
    }

    test::TempDir m_dir;
    struct Cache {
        Cache(const char* value, std::string folder)
            : variable("XDG_CACHE_HOME", value), root(std::move(folder) + "/thumbnails")
        {
        }
        ScopedVariable variable;
        std::string root;
    } m_cache;
    const std::string& root() const { return m_cache.root; }
};

TEST(ThumbnailNames, UriOfAPathEscapesAllButThePlainCharacters)
{
    EXPECT_EQ(fileUri("/home/jens/photos/me.png"), "file:///home/jens/photos/me.png");
    EXPECT_EQ(fileUri("/a b/c d.png"), "file:///a%20b/c%20d.png");
    EXPECT_EQ(fileUri("/caf\xC3\xA9.png"), "file:///caf%C3%A9.png");
    EXPECT_EQ(fileUri("/100%.png"), "file:///100%25.png");
    EXPECT_EQ(fileUri("/a#b?c\"d<e>.png"), "file:///a%23b%3Fc%22d%3Ce%3E.png");
    EXPECT_EQ(fileUri("/x-y_z.~!*'()@&=+$,:.png"), "file:///x-y_z.~!*'()@&=+$,:.png");
}

TEST(ThumbnailNames, EntryNameIsTheDigestOfTheUri)
{
    const std::string uri = "file:///home/jens/photos/me.png";
    EXPECT_EQ(thumbnailPath("/c/thumbnails", uri, ThumbnailSize::Normal),
              "/c/thumbnails/normal/c6ee772d9e49320e97ec29a7eb5b1697.png");
    EXPECT_EQ(thumbnailPath("/c/thumbnails", uri, ThumbnailSize::Large),
              "/c/thumbnails/large/c6ee772d9e49320e97ec29a7eb5b1697.png");
    const std::string failed = failedThumbnailPath("/c/thumbnails", uri);
    EXPECT_EQ(failed.rfind("/c/thumbnails/fail/ombri-reader-", 0), 0u) << failed;
    EXPECT_NE(failed.find("/c6ee772d9e49320e97ec29a7eb5b1697.png"), std::string::npos);
    EXPECT_EQ(thumbnailPixels(ThumbnailSize::Normal), 128);
    EXPECT_EQ(thumbnailPixels(ThumbnailSize::Large), 256);
}

TEST(ThumbnailNames, CacheRootFromTheEnvironment)
{
    ScopedVariable home("HOME", "/home/u");
    {
        ScopedVariable cache("XDG_CACHE_HOME", "/tmp/c");
        EXPECT_EQ(thumbnailCacheRoot(), "/tmp/c/thumbnails");
    }
    {
        // A relative value is not a usable base folder and is passed over.
        ScopedVariable cache("XDG_CACHE_HOME", "relative");
        EXPECT_EQ(thumbnailCacheRoot(), "/home/u/.cache/thumbnails");
    }
    ScopedVariable cache("XDG_CACHE_HOME", nullptr);
    EXPECT_EQ(thumbnailCacheRoot(), "/home/u/.cache/thumbnails");
}

TEST_F(ThumbnailCache, EntryIsWrittenWithItsLabelsAndPrivately)
{
    EXPECT_EQ(thumbnailCacheRoot(), root());
    const std::string path = picture("wide one.png", 300, 150);
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Missing);

    auto made = makeThumbnail(root(), path, ThumbnailSize::Normal);
    ASSERT_TRUE(made.ok()) << made.error();
    EXPECT_EQ(DibGetWidth(made.value()), 128);
    EXPECT_EQ(DibGetHeight(made.value()), 64);

    const std::string entry = thumbnailPath(root(), fileUri(path), ThumbnailSize::Normal);
    ASSERT_TRUE(test::fileExists(entry));
    EXPECT_NE(fileUri(path).find("wide%20one.png"), std::string::npos);
    EXPECT_EQ(textOf(entry, "Thumb::URI"), fileUri(path));
    EXPECT_EQ(textOf(entry, "Thumb::MTime"), std::to_string(mtimeOf(path)));
    EXPECT_EQ(textOf(entry, "Thumb::Size"), std::to_string(fs::file_size(path)));
    EXPECT_EQ(textOf(entry, "Thumb::Image::Width"), "300");
    EXPECT_EQ(textOf(entry, "Thumb::Image::Height"), "150");
    EXPECT_EQ(textOf(entry, "Software").rfind("OmbriReader ", 0), 0u);

    EXPECT_EQ(permissionsOf(entry), 0600u);
    EXPECT_EQ(permissionsOf(root()), 0700u);
    EXPECT_EQ(permissionsOf(root() + "/normal"), 0700u);
    EXPECT_EQ(filesUnder(root()), 1u);
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Fresh);
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Large), ThumbnailState::Missing);

    // The entry holds the picture returned, and is what a second call answers.
    auto stored = ReadPngFile(entry);
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(test::dibDifference(stored.value(), made.value()), "");
    auto again = makeThumbnail(root(), path, ThumbnailSize::Normal);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(test::dibDifference(again.value(), made.value()), "");
}

TEST_F(ThumbnailCache, EntryFromAnOlderFileOrAnotherFileIsMadeAgain)
{
    const std::string path = picture("a.png", 60, 40);
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal).ok());
    const std::string entry = thumbnailPath(root(), fileUri(path), ThumbnailSize::Normal);

    const time_t later = mtimeOf(path) + 100;
    setMTime(path, later);
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Stale);
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal).ok());
    EXPECT_EQ(textOf(entry, "Thumb::MTime"), std::to_string(later));
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Fresh);

    // An entry under b's name whose label names a.
    const std::string other = picture("b.png", 60, 40);
    setMTime(other, later);
    const std::string otherEntry = thumbnailPath(root(), fileUri(other), ThumbnailSize::Normal);
    fs::copy_file(entry, otherEntry);
    EXPECT_EQ(lookUpThumbnail(root(), other, ThumbnailSize::Normal), ThumbnailState::Stale);
    ASSERT_TRUE(makeThumbnail(root(), other, ThumbnailSize::Normal).ok());
    EXPECT_EQ(textOf(otherEntry, "Thumb::URI"), fileUri(other));

    // Bytes that are no PNG at all where the entry should be count as no entry.
    test::writeFileBytes(entry, {1, 2, 3});
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Missing);
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal).ok());
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Fresh);
}

TEST_F(ThumbnailCache, UnreadablePictureIsNotedAndNotReadAgainUntilItChanges)
{
    const std::string path = badPicture("bad.png");
    const time_t mtime = mtimeOf(path);
    EXPECT_FALSE(makeThumbnail(root(), path, ThumbnailSize::Normal).ok());

    const std::string failed = failedThumbnailPath(root(), fileUri(path));
    ASSERT_TRUE(test::fileExists(failed));
    EXPECT_EQ(textOf(failed, "Thumb::URI"), fileUri(path));
    EXPECT_EQ(textOf(failed, "Thumb::MTime"), std::to_string(mtime));
    EXPECT_EQ(permissionsOf(failed), 0600u);
    EXPECT_EQ(permissionsOf(root() + "/fail"), 0700u);
    EXPECT_FALSE(test::fileExists(thumbnailPath(root(), fileUri(path), ThumbnailSize::Normal)));
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Failed);
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Large), ThumbnailState::Failed);

    // A good picture put in its place with the old time is still taken as the failed one: the
    // file is not read again.
    ASSERT_TRUE(WritePngFile(path, test::makePatternImage(10, 10, 24)).ok());
    setMTime(path, mtime);
    EXPECT_FALSE(makeThumbnail(root(), path, ThumbnailSize::Normal).ok());
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Failed);

    // Once its time changes it is read, and the note of the failure goes.
    setMTime(path, mtime + 5);
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Stale);
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal).ok());
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Fresh);
    EXPECT_FALSE(test::fileExists(failed));
}

TEST_F(ThumbnailCache, NothingIsMadeForFilesInsideTheCacheOrMissingFiles)
{
    const std::string outside = picture("a.png", 20, 20);
    ASSERT_TRUE(makeThumbnail(root(), outside, ThumbnailSize::Normal).ok());
    const std::string entry = thumbnailPath(root(), fileUri(outside), ThumbnailSize::Normal);
    EXPECT_EQ(lookUpThumbnail(root(), entry, ThumbnailSize::Normal), ThumbnailState::Unavailable);
    EXPECT_FALSE(makeThumbnail(root(), entry, ThumbnailSize::Large).ok());
    // Reached through a link from outside, it is still inside.
    fs::create_symlink(entry, m_dir.file("link.png"));
    EXPECT_FALSE(makeThumbnail(root(), m_dir.file("link.png"), ThumbnailSize::Normal).ok());
    // A bad file inside is not noted as failed either.
    test::writeFileBytes(root() + "/junk.png", {1, 2, 3});
    EXPECT_FALSE(makeThumbnail(root(), root() + "/junk.png", ThumbnailSize::Normal).ok());
    EXPECT_EQ(filesUnder(root()), 2u);

    EXPECT_EQ(lookUpThumbnail(root(), m_dir.file("none.png"), ThumbnailSize::Normal),
              ThumbnailState::Unavailable);
    EXPECT_FALSE(makeThumbnail(root(), m_dir.file("none.png"), ThumbnailSize::Normal).ok());
    EXPECT_EQ(filesUnder(root()), 2u);
}

TEST_F(ThumbnailCache, PictureIsFittedToTheSizeKeepingItsShape)
{
    struct Case {
        int32_t width, height;
        ThumbnailSize size;
        int32_t expectedWidth, expectedHeight;
    };
    const Case cases[] = {
        {300, 150, ThumbnailSize::Normal, 128, 64}, {100, 300, ThumbnailSize::Large, 85, 256},
        {40, 20, ThumbnailSize::Normal, 40, 20},    {128, 128, ThumbnailSize::Normal, 128, 128},
        {1000, 3, ThumbnailSize::Normal, 128, 1},   {200, 256, ThumbnailSize::Large, 200, 256},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = picture("p" + std::to_string(n++) + ".png", c.width, c.height);
        auto made = makeThumbnail(root(), path, c.size);
        ASSERT_TRUE(made.ok()) << made.error();
        EXPECT_EQ(DibGetWidth(made.value()), c.expectedWidth) << c.width << "x" << c.height;
        EXPECT_EQ(DibGetHeight(made.value()), c.expectedHeight) << c.width << "x" << c.height;
    }
}

// Whether the picture shows these quadrants of test::makeQuadrantImage near its top-left,
// top-right, bottom-left and bottom-right corners, within what JPEG and scaling change.
bool cornersShow(const Dib& picture, std::vector<int> quadrants)
{
    const int32_t right = DibGetWidth(picture) - 3, bottom = DibGetHeight(picture) - 3;
    const std::pair<int32_t, int32_t> corners[] = {
        {2, 2}, {right, 2}, {2, bottom}, {right, bottom}};
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* pixel = test::pixelAt(picture, corners[i].first, corners[i].second);
        for (int c = 0; c < 3; ++c)
            if (std::abs(pixel[2 - c] - test::kQuadrantColours[quadrants[i]][c]) > 6)
                return false;
    }
    return true;
}

// The Normal thumbnail of test::makeQuadrantImage(1000, 600) stored on its side and tagged to be
// turned a quarter clockwise: standing, the stored top-left at the top right and its top-right at
// the bottom right, and labelled with the standing size.
void expectStandingThumbnail(const std::string& root, const std::string& path)
{
    auto made = makeThumbnail(root, path, ThumbnailSize::Normal);
    ASSERT_TRUE(made.ok()) << made.error();
    EXPECT_EQ(DibGetWidth(made.value()), 77);
    EXPECT_EQ(DibGetHeight(made.value()), 128);
    EXPECT_TRUE(cornersShow(made.value(), {2, 0, 3, 1}));
    const std::string entry =
        thumbnailPath(root, fileUri(fs::canonical(path).string()), ThumbnailSize::Normal);
    EXPECT_EQ(textOf(entry, "Thumb::Image::Width"), "600");
    EXPECT_EQ(textOf(entry, "Thumb::Image::Height"), "1000");
}

// A photograph as a camera held on its side stores it: the rows run down the upright picture's
// right side, and EXIF orientation 6 says so. The list shows it standing, and the labels give
// the standing size of the whole picture.
TEST_F(ThumbnailCache, JpegIsShownUprightAndLabelledWithItsUprightSize)
{
    const std::string stored = m_dir.file("stored.jpg");
    ASSERT_TRUE(WriteJpegFile(stored, test::makeQuadrantImage(1000, 600)).ok());
    const std::string path = m_dir.file("turned.jpg");
    test::writeFileBytes(path, test::withApp1Marker(test::readFileBytes(stored),
                                                    test::exifOrientationMarker(6, true)));

    ASSERT_NO_FATAL_FAILURE(expectStandingThumbnail(root(), path));
    EXPECT_EQ(lookUpThumbnail(root(), path, ThumbnailSize::Normal), ThumbnailState::Fresh);

    // Without the marker: as stored, and as large as the picture allows.
    auto plain = makeThumbnail(root(), stored, ThumbnailSize::Large);
    ASSERT_TRUE(plain.ok()) << plain.error();
    EXPECT_EQ(DibGetWidth(plain.value()), 256);
    EXPECT_EQ(DibGetHeight(plain.value()), 154);
    EXPECT_TRUE(cornersShow(plain.value(), {0, 1, 2, 3}));
    const std::string plainEntry =
        thumbnailPath(root(), fileUri(fs::canonical(stored).string()), ThumbnailSize::Large);
    EXPECT_EQ(textOf(plainEntry, "Thumb::Image::Width"), "1000");
    EXPECT_EQ(textOf(plainEntry, "Thumb::Image::Height"), "600");

    // A JPEG that cannot be read is noted like any other picture.
    const std::string broken = m_dir.file("broken.jpg");
    test::writeFileBytes(broken, {0xFF, 0xD8, 0xFF, 0xE1, 0, 2, 1, 2, 3});
    EXPECT_FALSE(makeThumbnail(root(), broken, ThumbnailSize::Normal).ok());
    EXPECT_EQ(lookUpThumbnail(root(), broken, ThumbnailSize::Normal), ThumbnailState::Failed);
}

// A PNG turned by its eXIf chunk is read through the shared load, which stands it up once; the
// thumbnail is made from the upright picture and labelled with its upright size, as for JPEG.
TEST_F(ThumbnailCache, TaggedPngIsShownUprightOnce)
{
    const std::string stored = m_dir.file("stored.png");
    ASSERT_TRUE(WritePngFile(stored, test::makeQuadrantImage(1000, 600)).ok());
    const std::vector<uint8_t> marker = test::exifOrientationMarker(6, false);
    const std::string path = m_dir.file("turned.png");
    test::writeFileBytes(path,
                         test::withPngChunk(test::readFileBytes(stored), "eXIf",
                                            std::vector<uint8_t>(marker.begin() + 6, marker.end()),
                                            test::ChunkPlace::AfterHeader));

    ASSERT_NO_FATAL_FAILURE(expectStandingThumbnail(root(), path));
}

// Threads listing the same folder at once all get their pictures and leave one good entry each.
TEST_F(ThumbnailCache, ThreadsMakingTheSameEntriesAtOnce)
{
    const std::vector<std::string> paths = {picture("a.png", 300, 200), picture("b.png", 90, 400),
                                            badPicture("c.png")};
    std::vector<std::thread> threads;
    std::vector<int> made(4, 0);
    for (size_t t = 0; t < made.size(); ++t)
        threads.emplace_back([&, t] {
            for (const std::string& path : paths)
                made[t] += makeThumbnail(root(), path, ThumbnailSize::Large).ok() ? 1 : 0;
        });
    for (auto& thread : threads)
        thread.join();
    for (int count : made)
        EXPECT_EQ(count, 2);
    EXPECT_EQ(lookUpThumbnail(root(), paths[0], ThumbnailSize::Large), ThumbnailState::Fresh);
    EXPECT_EQ(lookUpThumbnail(root(), paths[1], ThumbnailSize::Large), ThumbnailState::Fresh);
    EXPECT_EQ(lookUpThumbnail(root(), paths[2], ThumbnailSize::Large), ThumbnailState::Failed);
    EXPECT_EQ(filesUnder(root()), 3u);
}

TEST(ScaleDownToFit, EachPixelIsTheAverageOfThoseItCovers)
{
    // 4 x 2, blue bytes 0..7 from the bottom-left; halved, each pixel covers a 2 x 2 block.
    Dib image = Dib::create(4, 2, 24);
    uint8_t* bottom = DibPixelStart(image);
    const size_t stride = DibRowStride(4, 24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            uint8_t* pixel = bottom + y * stride + x * 3;
            pixel[0] = static_cast<uint8_t>(10 * (y * 4 + x));
            pixel[1] = 200;
            pixel[2] = static_cast<uint8_t>(x < 2 ? 0 : 100);
        }
    Dib half = scaleDownToFit(image, 2, false);
    ASSERT_EQ(DibGetWidth(half), 2);
    ASSERT_EQ(DibGetHeight(half), 1);
    ASSERT_EQ(DibGetBitCount(half), 24);
    const uint8_t* out = DibPixelStart(half);
    EXPECT_EQ(out[0], 25); // (0 + 10 + 40 + 50) / 4
    EXPECT_EQ(out[1], 200);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 45); // (20 + 30 + 60 + 70) / 4
    EXPECT_EQ(out[5], 100);

    // Small enough already: the same pixels, never enlarged.
    Dib same = scaleDownToFit(image, 10, false);
    EXPECT_EQ(test::dibDifference(same, image), "");

    // Alpha is kept only when asked for and present.
    Dib withAlpha = test::makePatternImage(8, 8, 32);
    EXPECT_EQ(DibGetBitCount(scaleDownToFit(withAlpha, 4, true)), 32);
    EXPECT_EQ(DibGetBitCount(scaleDownToFit(withAlpha, 4, false)), 24);
    EXPECT_TRUE(scaleDownToFit(Dib(), 4, false).isNull());
    EXPECT_TRUE(scaleDownToFit(image, 0, false).isNull());
}

// A cut-out picture keeps black under its transparent pixels; averaged in plainly, that black
// would darken every edge of the thumbnail.
// A 16 x 16 picture whose left half is fully transparent over red and whose right half is
// opaque blue, alpha 254 in its top row as a carrier's note pixels have it.
Dib cutOutPicture()
{
    Dib image = Dib::create(16, 16, 32);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const uint8_t left[4] = {0, 0, 255, 0};
            const uint8_t right[4] = {255, 0, 0, static_cast<uint8_t>(y == 0 ? 254 : 255)};
            std::memcpy(const_cast<uint8_t*>(test::pixelAt(image, x, y)), x < 8 ? left : right, 4);
        }
    return image;
}

std::vector<int> colourAt(const Dib& image, int32_t x, int32_t y)
{
    const uint8_t* pixel = test::pixelAt(image, x, y);
    return std::vector<int>(pixel, pixel + 3);
}

TEST_F(ThumbnailCache, SeeThroughPicturesAreLaidOverACheckerboard)
{
    const std::string png = m_dir.file("cut-out.png");
    const std::string tiff = m_dir.file("cut-out.tif");
    ASSERT_TRUE(WritePngFile(png, cutOutPicture()).ok());
    ASSERT_TRUE(WriteTiffFile(tiff, cutOutPicture()).ok());
    for (const std::string& path : {png, tiff}) {
        auto made = makeThumbnail(root(), path, ThumbnailSize::Normal);
        ASSERT_TRUE(made.ok()) << made.error();
        ASSERT_EQ(DibGetBitCount(made.value()), 24) << path;
        EXPECT_EQ(colourAt(made.value(), 0, 0), (std::vector<int>{0xEE, 0xEE, 0xEE})) << path;
        EXPECT_EQ(colourAt(made.value(), 0, 8), (std::vector<int>{0xCC, 0xCC, 0xCC})) << path;
        EXPECT_EQ(colourAt(made.value(), 7, 15), (std::vector<int>{0xCC, 0xCC, 0xCC})) << path;
        EXPECT_EQ(colourAt(made.value(), 8, 0), (std::vector<int>{255, 0, 0})) << path;
        EXPECT_EQ(colourAt(made.value(), 15, 9), (std::vector<int>{255, 0, 0})) << path;
        // Read back from the cache it looks the same; the entry itself keeps the alpha.
        auto again = makeThumbnail(root(), path, ThumbnailSize::Normal);
        ASSERT_TRUE(again.ok());
        EXPECT_EQ(test::dibDifference(again.value(), made.value()), "") << path;
        auto stored = ReadPngFile(thumbnailPath(root(), fileUri(path), ThumbnailSize::Normal));
        ASSERT_TRUE(stored.ok());
        EXPECT_EQ(DibGetBitCount(stored.value()), 32) << path;
    }
}

TEST(ScaleDownToFit, ColoursAreWeighedByHowMuchTheyShow)
{
    // 4 x 2 halved: the left block is all transparent (over a colour that must not show), the
    // right one half-covered red over transparent black.
    Dib image = Dib::create(4, 2, 32);
    const struct {
        int x, y;
        uint8_t bgra[4];
    } pixels[] = {
        {0, 0, {50, 60, 70, 0}}, {1, 0, {50, 60, 70, 0}},  {0, 1, {50, 60, 70, 0}},
        {1, 1, {50, 60, 70, 0}}, {2, 0, {0, 0, 200, 255}}, {3, 0, {40, 0, 100, 85}},
        {2, 1, {0, 0, 0, 0}},    {3, 1, {0, 0, 0, 0}},
    };
    for (const auto& p : pixels)
        std::memcpy(const_cast<uint8_t*>(test::pixelAt(image, p.x, p.y)), p.bgra, 4);

    Dib half = scaleDownToFit(image, 2, true);
    ASSERT_EQ(DibGetBitCount(half), 32);
    const uint8_t* left = test::pixelAt(half, 0, 0);
    const uint8_t* right = test::pixelAt(half, 1, 0);
    EXPECT_EQ(std::vector<int>(left, left + 4), (std::vector<int>{0, 0, 0, 0}));
    // Red (200 x 255 + 100 x 85) / 340, blue 40 x 85 / 340; alpha (255 + 85) / 4.
    EXPECT_EQ(std::vector<int>(right, right + 4), (std::vector<int>{10, 0, 175, 85}));

    // Without alpha, the colours are plain averages as before.
    Dib flat = scaleDownToFit(image, 2, false);
    ASSERT_EQ(DibGetBitCount(flat), 24);
    const uint8_t* flatRight = test::pixelAt(flat, 1, 0);
    EXPECT_EQ(std::vector<int>(flatRight, flatRight + 3), (std::vector<int>{10, 0, 75}));

    // Kept at its size, visible pixels are unchanged and invisible ones lose their colour.
    Dib same = scaleDownToFit(image, 4, true);
    EXPECT_EQ(std::vector<int>(test::pixelAt(same, 3, 0), test::pixelAt(same, 3, 0) + 4),
              (std::vector<int>{40, 0, 100, 85}));
    EXPECT_EQ(std::vector<int>(test::pixelAt(same, 0, 0), test::pixelAt(same, 0, 0) + 4),
              (std::vector<int>{0, 0, 0, 0}));
}

} // namespace
} // namespace ombri::reader

namespace ombri::reader {
namespace {

// The file list takes a picture's notes from the thumbnail's own reading of it whenever that
// read the whole picture, and from the thumbnail it noted them with, for the file as it is.
TEST_F(ThumbnailCache, NotesAreToldWhenThePictureWasReadWholeAndKeptWithItsThumbnail)
{
    NoteLayer notes(40 * 30, 0);
    notes[300] = 1;
    Dib carrier = MakeCarrierCopy(test::makePatternImage(40, 30, 24), notes, SaveDepth::Bits24);
    WriteOmbriSignature(DibPixelStart(carrier) + 29 * dibGetLayout(carrier)->stride);
    const std::string path = m_dir.file("carrier.png");
    ASSERT_TRUE(WritePngFile(path, carrier).ok());

    NotesReadOnTheWay read;
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal, &read).ok());
    EXPECT_TRUE(read.known);
    EXPECT_TRUE(read.carriesNotes);
    read = {};
    ASSERT_TRUE(
        makeThumbnail(root(), picture("plain.png", 40, 30), ThumbnailSize::Normal, &read).ok());
    EXPECT_TRUE(read.known);
    EXPECT_FALSE(read.carriesNotes);
    // Read back from the cache, the answer comes with the thumbnail.
    read = {};
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal, &read).ok());
    EXPECT_TRUE(read.known);
    EXPECT_TRUE(read.carriesNotes);
    // The picture saved again within the same second is the same to the shared labels, which
    // count whole seconds, but its notes may have gone: the answer is not trusted.
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_TRUE(WritePngFile(path, test::makePatternImage(40, 30, 24)).ok());
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    times[1].tv_nsec = (before.st_mtim.tv_nsec + 1) % 1000000000;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    read = {};
    ASSERT_TRUE(makeThumbnail(root(), path, ThumbnailSize::Normal, &read).ok());
    EXPECT_FALSE(read.known);
    // Decoded small, or not read at all: nothing is told.
    const std::string photo = m_dir.file("photo.jpg");
    ASSERT_TRUE(WriteJpegFile(photo, test::makePatternImage(400, 300, 24)).ok());
    ASSERT_TRUE(makeThumbnail(root(), photo, ThumbnailSize::Normal, &read).ok());
    EXPECT_FALSE(read.known);
    // Found later by a whole read, they are added to its thumbnail for the next visit.
    noteNotesInThumbnail(root(), photo, ThumbnailSize::Normal, false);
    ASSERT_TRUE(makeThumbnail(root(), photo, ThumbnailSize::Normal, &read).ok());
    EXPECT_TRUE(read.known);
    EXPECT_FALSE(read.carriesNotes);
    EXPECT_EQ(lookUpThumbnail(root(), photo, ThumbnailSize::Normal), ThumbnailState::Fresh);
    EXPECT_FALSE(makeThumbnail(root(), badPicture("bad.png"), ThumbnailSize::Normal, &read).ok());
    EXPECT_FALSE(read.known);
}

} // namespace
} // namespace ombri::reader

// --- What others may plant in the cache ---

namespace ombri::reader {
namespace {

// The labels that make an entry pass for one made from the file as it is now.
std::vector<PngText> labelsFor(const std::string& path)
{
    return {{"Thumb::URI", fileUri(path)}, {"Thumb::MTime", std::to_string(mtimeOf(path))}};
}

void appendChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    const size_t start = png.size();
    png.resize(start + 8);
    writeBe32(&png[start], static_cast<uint32_t>(data.size()));
    std::memcpy(&png[start + 4], type, 4);
    png.insert(png.end(), data.begin(), data.end());
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, &png[start + 4], static_cast<uInt>(data.size() + 4)));
    png.resize(png.size() + 4);
    writeBe32(&png[png.size() - 4], crc);
}

// The zlib stream of count zero bytes, made without ever holding them: raw deflate of one
// stretch of zeros, ended by a full flush so that it stands alone, repeated as often as the count
// takes, then an empty last block. The Adler-32 of zeros is 1 and, above it, their count.
std::vector<uint8_t> zerosStream(uint64_t stretch, uint64_t repeats)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> zeros(stretch, 0), part(deflateBound(&z, stretch) + 64);
    z.next_in = zeros.data();
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = part.data();
    z.avail_out = static_cast<uInt>(part.size());
    EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    part.resize(part.size() - z.avail_out);
    deflateEnd(&z);
    std::vector<uint8_t> stream = {0x78, 0xDA};
    for (uint64_t i = 0; i < repeats; ++i)
        stream.insert(stream.end(), part.begin(), part.end());
    stream.insert(stream.end(), {0x03, 0x00});
    const uint32_t adler = static_cast<uint32_t>((stretch * repeats) % 65521) << 16 | 1u;
    stream.resize(stream.size() + 4);
    writeBe32(&stream[stream.size() - 4], adler);
    return stream;
}

// A complete, valid PNG of width x height black grey pixels with the text ahead of its data.
// 16384 x 16384 comes to a few hundred kilobytes and decodes to most of a gigabyte.
std::vector<uint8_t> blackPng(uint32_t width, uint32_t height, const std::vector<PngText>& text)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header(13, 0);
    writeBe32(&header[0], width);
    writeBe32(&header[4], height);
    header[8] = 8; // bits, then grey, deflate, no filter method, no interlacing
    appendChunk(png, "IHDR", header);
    for (const PngText& chunk : text) {
        std::vector<uint8_t> data(chunk.keyword.begin(), chunk.keyword.end());
        data.push_back(0);
        data.insert(data.end(), chunk.text.begin(), chunk.text.end());
        appendChunk(png, "tEXt", data);
    }
    // Every row is its filter byte (none) and its pixels, all zero.
    uint64_t rowsPerStretch = 1;
    for (uint64_t rows = 1; rows <= height && rows * (width + 1) <= (4u << 20); ++rows)
        if (height % rows == 0)
            rowsPerStretch = rows;
    appendChunk(png, "IDAT", zerosStream(rowsPerStretch * (width + 1), height / rowsPerStretch));
    appendChunk(png, "IEND", {});
    return png;
}

// A picture's thumbnail as the cache must answer it: 60 x 40, from the picture itself.
bool isTheRealThumbnail(const Result<Dib>& made)
{
    return made && DibGetWidth(made.value()) == 60 && DibGetHeight(made.value()) == 40;
}

bool isRegularFile(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// What others may leave under an entry's name, every one of which is no entry: the entry is made
// again as a regular file of its own, and nothing is read from or written through what was
// there. Each also stands for an entry saying the picture could not be read.
TEST_F(ThumbnailCache, PlantedEntriesAreReplacedAndNeverFollowedOrDecoded)
{
    // A file elsewhere that a link points to: a valid entry with another picture, which must
    // neither be shown nor overwritten.
    const std::string precious = m_dir.file("precious.png");
    const std::string good = picture("good.png", 60, 40);
    const std::string bad = badPicture("bad.png");
    enum Plant { Link, Fifo, Oversized, TooLarge, TooWide };
    const struct {
        const char* what;
        Plant plant;
    } plants[] = {{"a link to a file elsewhere", Link},
                  {"a FIFO", Fifo},
                  {"a valid entry of more than 1 MiB", Oversized},
                  {"a valid entry declaring 16384 x 16384", TooLarge},
                  {"a valid entry one pixel wider than its folder holds", TooWide}};
    const ThumbnailSize sizes[] = {ThumbnailSize::Normal, ThumbnailSize::Large};
    for (const auto& planted : plants) {
        for (int folder = 0; folder < 3; ++folder) {
            SCOPED_TRACE(std::string(planted.what) + " in folder " + std::to_string(folder));
            const bool failFolder = folder == 2;
            const ThumbnailSize size = failFolder ? ThumbnailSize::Normal : sizes[folder];
            fs::remove_all(m_dir.file("cache"));
            // Made once so that every folder exists, then taken away again.
            ASSERT_TRUE(makeThumbnail(root(), good, size).ok());
            ASSERT_FALSE(makeThumbnail(root(), bad, size).ok());
            for (const std::string& made : {good, bad}) {
                fs::remove(thumbnailPath(root(), fileUri(made), size));
                fs::remove(failedThumbnailPath(root(), fileUri(made)));
            }
            const auto entryOf = [&](const std::string& path) {
                return failFolder ? failedThumbnailPath(root(), fileUri(path))
                                  : thumbnailPath(root(), fileUri(path), size);
            };
            const uint32_t side = failFolder ? 1 : static_cast<uint32_t>(thumbnailPixels(size));
            for (const std::string& path : {good, bad}) {
                const std::string entry = entryOf(path);
                std::vector<uint8_t> bytes = blackPng(side, side, labelsFor(path));
                switch (planted.plant) {
                case Link:
                    test::writeFileBytes(precious, bytes);
                    ASSERT_EQ(::chmod(precious.c_str(), 0644), 0);
                    fs::create_symlink(precious, entry);
                    break;
                case Fifo:
                    ASSERT_EQ(::mkfifo(entry.c_str(), 0600), 0);
                    break;
                case Oversized:
                    // Padding in a chunk of no meaning, behind the labels.
                    bytes.insert(bytes.end() - 12, {0, 0x10, 0, 0, 'p', 'a', 'D', 'd'});
                    bytes.insert(bytes.end() - 12, (1u << 20) + 4, 0);
                    test::writeFileBytes(entry, bytes);
                    break;
                case TooLarge:
                    test::writeFileBytes(entry, blackPng(16384, 16384, labelsFor(path)));
                    break;
                case TooWide:
                    test::writeFileBytes(entry, blackPng(side + 1, side, labelsFor(path)));
                    break;
                }
                const auto before = test::readFileBytes(precious);
                const test::HangGuard guard(20, "a planted cache entry was opened and waited on");
                EXPECT_EQ(lookUpThumbnail(root(), path, size), ThumbnailState::Missing);
                const auto made = makeThumbnail(root(), path, size);
                if (path == good) {
                    EXPECT_TRUE(isTheRealThumbnail(made));
                    EXPECT_EQ(lookUpThumbnail(root(), path, size), ThumbnailState::Fresh);
                    // What stood for a failure goes with the thumbnail made.
                    EXPECT_EQ(fs::exists(fs::symlink_status(entry)), !failFolder);
                } else {
                    EXPECT_FALSE(made.ok());
                    EXPECT_EQ(lookUpThumbnail(root(), path, size), ThumbnailState::Failed);
                }
                EXPECT_TRUE(!fs::exists(fs::symlink_status(entry)) || isRegularFile(entry));
                if (planted.plant == Link) {
                    EXPECT_EQ(test::readFileBytes(precious), before);
                    EXPECT_EQ(permissionsOf(precious), 0644u);
                }
                fs::remove(entry);
            }
        }
    }
}

// A folder of the cache that is a link, belongs to someone else or that others may write in is
// not used: what lies in it is not read, and nothing is written in it; the thumbnails are still
// made, in memory.
TEST_F(ThumbnailCache, FoldersOthersCouldPlantEntriesInAreNotUsed)
{
    const std::string good = picture("good.png", 60, 40);
    const std::string bad = badPicture("bad.png");
    const std::string failFolder = fs::path(failedThumbnailPath("", "")).parent_path().string();
    const std::string folders[] = {"", "/normal", "/large", "/fail", failFolder};
    enum Fault { Link, GroupWritable, OthersWritable, NotOwned };
    const char* const faultNames[] = {"a link", "writable by its group", "writable by others",
                                      "another user's"};
    for (const std::string& folder : folders) {
        for (Fault fault : {Link, GroupWritable, OthersWritable, NotOwned}) {
            SCOPED_TRACE("thumbnails" + folder + " " + faultNames[fault]);
            if (fault == NotOwned && ::geteuid() != 0) {
                std::printf("not run for thumbnails%s: giving a folder away takes root\n",
                            folder.c_str());
                continue;
            }
            fs::remove_all(m_dir.file("cache"));
            fs::remove_all(m_dir.file("elsewhere"));
            for (const char* made : {"/normal", "/large", "/fail"})
                fs::create_directories(root() + made);
            fs::create_directories(root() + failFolder);
            // What the cache would answer if the folder were used: a picture that is not the
            // good one's, and a failure for it.
            const ThumbnailSize size =
                folder == "/large" ? ThumbnailSize::Large : ThumbnailSize::Normal;
            const bool failing = folder.rfind("/fail", 0) == 0;
            const std::string planted = failing ? failedThumbnailPath(root(), fileUri(good))
                                                : thumbnailPath(root(), fileUri(good), size);
            test::writeFileBytes(planted,
                                 blackPng(failing ? 1 : 10, failing ? 1 : 10, labelsFor(good)));
            const std::string path = root() + folder;
            switch (fault) {
            case Link:
                fs::create_directories(m_dir.file("elsewhere"));
                fs::rename(path, m_dir.file("elsewhere/folder"));
                fs::create_directory_symlink(m_dir.file("elsewhere/folder"), path);
                break;
            case GroupWritable:
                ASSERT_EQ(::chmod(path.c_str(), 0770), 0);
                break;
            case OthersWritable:
                ASSERT_EQ(::chmod(path.c_str(), 0703), 0);
                break;
            case NotOwned:
                ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
                break;
            }
            const size_t filesBefore = filesUnder(path + "/");
            EXPECT_TRUE(isTheRealThumbnail(makeThumbnail(root(), good, size)));
            EXPECT_FALSE(makeThumbnail(root(), bad, size).ok());
            EXPECT_EQ(filesUnder(path + "/"), filesBefore);
            EXPECT_TRUE(isRegularFile(planted));
        }
    }
}

// The 1 MiB read of an entry is all that is read: a sparse entry of 3 GB under a thumbnail's
// name is neither mapped nor read whole, which in a process allowed little address space shows
// as a failed allocation.
TEST_F(ThumbnailCache, AHugeSparseEntryIsNotMappedOrReadWhole)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#endif
    const std::string good = picture("good.png", 60, 40);
    ASSERT_TRUE(makeThumbnail(root(), good, ThumbnailSize::Normal).ok());
    const std::string entry = thumbnailPath(root(), fileUri(good), ThumbnailSize::Normal);
    // The labels first, then a chunk of nearly 2 GiB and holes to 3 GB.
    std::vector<uint8_t> start = blackPng(10, 10, labelsFor(good));
    start.resize(start.size() - 12);
    start.insert(start.end(), {0x7F, 0xFF, 0xFF, 0xF0, 'h', 'o', 'l', 'e'});
    test::writeFileBytes(entry, start);
    ASSERT_EQ(::truncate(entry.c_str(), 3ll << 30), 0);
    // Room for what the test program holds already and for making a thumbnail, not for 3 GB.
    const rlim_t room = test::addressSpaceInUse() + (rlim_t{1} << 30);
    auto madeWithLittleMemory = [&] {
        const rlimit little{room, room};
        if (::setrlimit(RLIMIT_AS, &little) != 0)
            std::_Exit(2);
        std::_Exit(isTheRealThumbnail(makeThumbnail(root(), good, ThumbnailSize::Normal)) ? 0 : 1);
    };
    EXPECT_EXIT(madeWithLittleMemory(), testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace ombri::reader
