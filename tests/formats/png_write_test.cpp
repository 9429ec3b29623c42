#include "formats/png.h"
#include "formats/png_idat.h"

#include "core/bytes.h"
#include "notes/carrier.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/stopped_save.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

// The chunks of a PNG file: type and data, in file order. Empty when a chunk runs past the end.
struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> chunksOf(const Bytes& file)
{
    std::vector<Chunk> chunks;
    for (size_t at = 8; at < file.size();) {
        if (file.size() - at < 12 || readBe32(&file[at]) > file.size() - at - 12)
            return {};
        const size_t length = readBe32(&file[at]);
        chunks.push_back({std::string(file.begin() + at + 4, file.begin() + at + 8),
                          Bytes(file.begin() + at + 8, file.begin() + at + 8 + length)});
        at += 12 + length;
    }
    return chunks;
}

// The filtered rows the IDAT chunks hold, inflated by zlib itself.
Bytes inflatedImageData(const Bytes& file, size_t expectedSize)
{
    Bytes stream;
    for (const Chunk& chunk : chunksOf(file))
        if (chunk.type == "IDAT")
            stream.insert(stream.end(), chunk.data.begin(), chunk.data.end());
    Bytes rows(expectedSize + 1);
    uLongf size = rows.size();
    if (uncompress(rows.data(), &size, stream.data(), stream.size()) != Z_OK)
        return {};
    rows.resize(size);
    return rows;
}

bool sameBytes(const Dib& a, const Dib& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// Pictures that make the writer choose among its filters: noise, flat runs, gradients and rows
// that repeat the row above, mixed over the picture.
Dib mixedPicture(int32_t width, int32_t height, uint16_t bitCount, uint32_t seed)
{
    Dib image = test::makePatternImage(width, height, bitCount, seed);
    std::mt19937 random(seed);
    const int channels = bitCount / 8;
    for (int32_t y = 0; y < height; ++y) {
        const int kind = static_cast<int>(random() % 4);
        for (int32_t x = 0; x < width; ++x) {
            auto* pixel = const_cast<uint8_t*>(test::pixelAt(image, x, y));
            for (int c = 0; c < channels; ++c) {
                if (kind == 0)
                    pixel[c] = static_cast<uint8_t>(random());
                else if (kind == 1)
                    pixel[c] = static_cast<uint8_t>(40 * c + 3);
                else if (kind == 2)
                    pixel[c] = static_cast<uint8_t>(x * 7 + c * 50 + y);
                else if (y > 0)
                    pixel[c] = test::pixelAt(image, x, y - 1)[c];
            }
        }
    }
    return image;
}

// A picture of pure noise, which no filter and no compressor can shrink.
Dib noisePicture(int32_t width, int32_t height, uint16_t bitCount)
{
    Dib image = test::makePatternImage(width, height, bitCount);
    std::mt19937 random(width);
    auto layout = dibGetLayout(image);
    uint8_t* pixels = image.data() + layout->pixelOffset;
    for (size_t i = 0; i < layout->pixelBytes; ++i)
        pixels[i] = static_cast<uint8_t>(random());
    return image;
}

// --- What every reader makes of the files ---

// Every width from 1 to 9, both depths of the writer's save, with and without notes: what is
// written reads back to the same bytes here and in ImageMagick, and pngcheck finds nothing wrong.
TEST(PngWrite, EveryWidthDepthAndNoteLayerReadsBackEverywhere)
{
    test::TempDir dir;
    std::vector<std::string> written;
    const bool imageMagick = test::haveImageMagick();
    for (int32_t width = 1; width <= 9; ++width) {
        for (const SaveDepth depth : {SaveDepth::Bits24, SaveDepth::Alpha32}) {
            for (const bool withNotes : {false, true}) {
                const int32_t height = 4 + width % 3;
                const Dib picture = mixedPicture(width, height, 24, 7u * width + 1);
                NoteLayer notes(static_cast<size_t>(width) * height, 0);
                if (withNotes)
                    for (size_t i = 0; i < notes.size(); i += 3)
                        notes[i] = 1;
                const bool carries = withNotes && rowHoldsSignature(width, bitCountOf(depth));
                const Dib image = carries ? MakeCarrierCopy(picture, notes, depth)
                                          : dibConvertToBitCount(picture, bitCountOf(depth));
                ASSERT_TRUE(dibGetLayout(image).has_value());
                const std::string name = "w" + std::to_string(width) + "_" +
                                         std::to_string(bitCountOf(depth)) +
                                         (withNotes ? "_notes" : "") + ".png";
                SCOPED_TRACE(name);
                const std::string path = dir.file(name);
                ASSERT_TRUE(test::succeeded(WritePngFile(path, image)));
                written.push_back(path);

                auto loaded = ReadPngFile(path);
                ASSERT_TRUE(loaded.ok()) << loaded.error();
                EXPECT_TRUE(sameBytes(loaded.value(), image));
                if (carries) {
                    std::optional<NoteLayer> found;
                    ExtractNoteLayer(loaded.value(), found);
                    ASSERT_TRUE(found.has_value());
                    EXPECT_EQ(*found, notes);
                }
                if (imageMagick) {
                    const int channels = bitCountOf(depth) / 8;
                    const std::string pam = dir.file(name + ".pam");
                    ASSERT_EQ(test::runConvert(path + " -depth 8 " +
                                               (channels == 4 ? "PAM:" : "PPM:") + pam),
                              "");
                    const test::Pixmap seen = test::readPixmap(pam);
                    EXPECT_EQ(seen.width, width);
                    EXPECT_EQ(seen.height, height);
                    EXPECT_EQ(seen.samples, test::redFirstSamples(image, channels));
                }
            }
        }
    }
    // pngcheck is part of what the tests need (scripts/deps.sh installs it).
    std::string command = "pngcheck -q";
    for (const std::string& path : written)
        command += " '" + path + "'";
    command += " > '" + dir.file("pngcheck.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    const Bytes report = test::readFileBytes(dir.file("pngcheck.txt"));
    EXPECT_EQ(status, 0) << std::string(report.begin(), report.end());
}

// Rows made so that each filter predicts one of them exactly: each filter is chosen, and the
// bytes come back, so no filter and no edge of one (the first pixel, the first row) is wrong.
TEST(PngWrite, EachFilterIsChosenWhereItFitsAndUndoneExactly)
{
    for (const uint16_t bitCount : {uint16_t{24}, uint16_t{32}}) {
        SCOPED_TRACE(bitCount);
        const int32_t width = 23;
        const int bpp = bitCount / 8;
        const size_t count = static_cast<size_t>(width) * bpp;
        std::mt19937 random(bitCount);
        // Rows top first, in the file's byte order; the DIB is filled from them below.
        std::vector<Bytes> rows;
        rows.push_back(Bytes(count, 0)); // None: nothing to predict
        auto noise = [&] {
            Bytes row(count);
            for (uint8_t& byte : row)
                byte = static_cast<uint8_t>(random());
            return row;
        };
        auto predicted = [&](const Bytes& above, auto predict) {
            Bytes row(count);
            for (size_t i = 0; i < count; ++i) {
                const int a = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
                const int c = i >= static_cast<size_t>(bpp) ? above[i - bpp] : 0;
                // The first pixel is free, so that the row does not just repeat the one above.
                row[i] = i < static_cast<size_t>(bpp)
                             ? static_cast<uint8_t>(random())
                             : static_cast<uint8_t>(predict(a, above[i], c));
            }
            return row;
        };
        const Bytes ramp = [&] {
            Bytes row(count);
            for (size_t i = 0; i < count; ++i)
                row[i] = static_cast<uint8_t>(90 + 3 * (i / bpp) + 20 * (i % bpp));
            return row;
        }();
        rows.push_back(ramp); // Sub: the same step every pixel
        rows.push_back(noise());
        rows.push_back(rows.back()); // Up: the row above again
        rows.push_back(noise());
        rows.push_back(predicted(rows.back(), [](int a, int b, int) { return (a + b) / 2; }));
        rows.push_back(noise());
        rows.push_back(predicted(rows.back(), [](int a, int b, int c) {
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }));

        const int32_t height = static_cast<int32_t>(rows.size());
        Dib image = test::makePatternImage(width, height, bitCount);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                auto* pixel = const_cast<uint8_t*>(test::pixelAt(image, x, y));
                const uint8_t* file = &rows[y][static_cast<size_t>(x) * bpp];
                pixel[0] = file[2];
                pixel[1] = file[1];
                pixel[2] = file[0];
                if (bpp == 4)
                    pixel[3] = file[3];
            }
        test::TempDir dir;
        ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("filters.png"), image)));
        auto loaded = ReadPngFile(dir.file("filters.png"));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_TRUE(sameBytes(loaded.value(), image));

        const Bytes data = inflatedImageData(test::readFileBytes(dir.file("filters.png")),
                                             rows.size() * (1 + count));
        ASSERT_EQ(data.size(), rows.size() * (1 + count));
        std::vector<int> filters;
        for (size_t y = 0; y < rows.size(); ++y)
            filters.push_back(data[y * (1 + count)]);
        // None, Sub, (noise), Up, (noise), Average, (noise), Paeth.
        EXPECT_EQ(filters[0], 0);
        EXPECT_EQ(filters[1], 1);
        EXPECT_EQ(filters[3], 2);
        EXPECT_EQ(filters[5], 3);
        EXPECT_EQ(filters[7], 4);
    }
}

// A picture of a megabyte that does not compress: the stream is cut into several IDAT chunks of
// a bounded size, and nothing but IHDR, IDAT and IEND is written.
TEST(PngWrite, ImageDataIsCutIntoBoundedChunksAndNothingElseIsWritten)
{
    test::TempDir dir;
    const Dib image = noisePicture(600, 450, 32);
    ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("big.png"), image)));
    const std::vector<Chunk> chunks = chunksOf(test::readFileBytes(dir.file("big.png")));
    ASSERT_GE(chunks.size(), 5u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, "IDAT");
        EXPECT_LE(chunks[i].data.size(), 256u * 1024u);
        EXPECT_FALSE(chunks[i].data.empty());
    }
    auto loaded = ReadPngFile(dir.file("big.png"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_TRUE(sameBytes(loaded.value(), image));
}

// A picture large enough that its image data is compressed in parts on the machine's cores (when
// it has more than one): the joined stream reads back to every byte, here and in pngcheck.
TEST(PngWrite, ALargePictureCompressedInPartsReadsBackWhole)
{
    test::TempDir dir;
    const Dib image = mixedPicture(2100, 1500, 24, 9);
    ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("large.png"), image)));
    auto loaded = ReadPngFile(dir.file("large.png"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_TRUE(sameBytes(loaded.value(), image));
    const std::string command =
        "pngcheck -q '" + dir.file("large.png") + "' > '" + dir.file("check.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    const Bytes report = test::readFileBytes(dir.file("check.txt"));
    EXPECT_EQ(status, 0) << std::string(report.begin(), report.end());
}

// Runs of rows like the one above (and of black rows, which filter to zeros without a filter),
// at the top and the end of the picture, across the seams of its parts and between rows of text:
// the encoder for rows takes them as any other, libdeflate's parts write them as blocks of their
// own, and either file reads back to every pixel.
TEST(PngWrite, RunsOfRowsLikeTheOneAboveReadBackWhereverTheyFall)
{
    for (const uint16_t bitCount : {uint16_t{24}, uint16_t{32}}) {
        SCOPED_TRACE(bitCount);
        const int32_t width = 2000;
        const int32_t height = 2400;
        Dib image = test::makePatternImage(width, height, bitCount, 3);
        const int channels = bitCount / 8;
        std::mt19937 random(5);
        // Rows top first, as the file holds them: lines of "text" on a light ground, between
        // bands of a flat colour and of black, some a single row, some hundreds long.
        int band = 0;
        for (int32_t fileRow = 0; fileRow < height;) {
            const int32_t rows = band % 3 == 0 ? 1 + static_cast<int32_t>(random() % 3)
                                               : 5 + static_cast<int32_t>(random() % 400);
            for (int32_t r = 0; r < rows && fileRow < height; ++r, ++fileRow) {
                // The picture ends in a flat band, which ends the stream.
                const int kind = fileRow >= height - 50 ? 1 : band % 3;
                for (int32_t x = 0; x < width; ++x) {
                    auto* pixel = const_cast<uint8_t*>(test::pixelAt(image, x, fileRow));
                    for (int c = 0; c < channels; ++c)
                        pixel[c] = kind == 0
                                       ? static_cast<uint8_t>((x / 3 + fileRow) % 7 == 0 ? 20 : 230)
                                   : kind == 1 ? static_cast<uint8_t>(90 + 40 * c)
                                               : uint8_t{0};
                }
            }
            ++band;
        }
        test::TempDir dir;
        std::vector<Bytes> files;
        for (const bool rowDeflate : {true, false}) {
            SCOPED_TRACE(rowDeflate);
            allowRowDeflate(rowDeflate);
            const bool saved = test::succeeded(WritePngFile(dir.file("runs.png"), image));
            allowRowDeflate(true);
            ASSERT_TRUE(saved);
            auto loaded = ReadPngFile(dir.file("runs.png"));
            ASSERT_TRUE(loaded.ok()) << loaded.error();
            EXPECT_TRUE(sameBytes(loaded.value(), image));
            const std::string command =
                "pngcheck -q '" + dir.file("runs.png") + "' > /dev/null 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0);
            files.push_back(test::readFileBytes(dir.file("runs.png")));
        }
        EXPECT_NE(files[0], files[1]) << "the encoder for rows was not chosen";
    }
}

// --- Size against libpng's own files ---

// libpng's default encoding of the same pixels (zlib level 6, its filtered strategy, every
// filter tried on each row): the size a save is held to.
size_t libpngDefaultSize(const Dib& image)
{
    const auto layout = dibGetLayout(image);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    size_t written = 0;
    std::vector<png_bytep> rows(static_cast<size_t>(layout->height));
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<uint8_t*>(test::pixelAt(image, 0, static_cast<int32_t>(y)));
    if (info && !setjmp(png_jmpbuf(png))) {
        png_set_write_fn(
            png, &written,
            [](png_structp p, png_bytep, size_t count) {
                *static_cast<size_t*>(png_get_io_ptr(p)) += count;
            },
            nullptr);
        png_set_IHDR(png, info, static_cast<uint32_t>(layout->width),
                     static_cast<uint32_t>(layout->height), 8,
                     layout->bitCount == 32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    return written;
}

// A scanned page: light that changes slowly across it and grain on every byte.
Dib scannedPicture(int32_t width, int32_t height)
{
    Dib image = test::makePatternImage(width, height, 24);
    std::mt19937 random(7);
    std::normal_distribution<double> grain(0.0, 2.5);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            auto* pixel = const_cast<uint8_t*>(test::pixelAt(image, x, y));
            for (int c = 0; c < 3; ++c) {
                const double light = 200 + 30 * std::sin(x / 300.0 + c) * std::cos(y / 250.0);
                pixel[c] = static_cast<uint8_t>(std::clamp(light + grain(random), 0.0, 255.0));
            }
        }
    return image;
}

// Pixel art: blocks of 8 x 8 from sixteen colours, carrying notes over a fiftieth of it.
Dib pixelArtCarrier(int32_t width, int32_t height)
{
    Dib image = test::makePatternImage(width, height, 24);
    std::mt19937 random(11);
    uint8_t palette[16][3];
    for (auto& colour : palette)
        for (uint8_t& channel : colour)
            channel = static_cast<uint8_t>(random());
    std::vector<uint8_t> cells(static_cast<size_t>((width / 8 + 1) * (height / 8 + 1)));
    for (uint8_t& cell : cells)
        cell = static_cast<uint8_t>(random() % 16 < 10 ? 0 : random() % 16);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            std::memcpy(const_cast<uint8_t*>(test::pixelAt(image, x, y)),
                        palette[cells[static_cast<size_t>((y / 8) * (width / 8 + 1) + x / 8)]], 3);
    NoteLayer notes(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    for (size_t i = 0; i < notes.size(); i += 50)
        notes[i] = 1;
    return MakeCarrierCopy(image, notes, SaveDepth::Bits24);
}

// The compressor is chosen per picture: a grainy scan may come out at most 2% larger than
// libpng's file, and flat graphics carrying notes no larger; each reads back to its pixels.
TEST(PngWrite, FilesAreNoLargerThanLibpngsOwnBeyondTheirBound)
{
    test::TempDir dir;
    struct Case {
        const char* name;
        Dib image;
        double bound;
    };
    const Case cases[] = {{"scan", scannedPicture(1600, 1000), 1.02},
                          {"pixel art with notes", pixelArtCarrier(1600, 1000), 1.00}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("saved.png");
        ASSERT_TRUE(test::succeeded(WritePngFile(path, c.image)));
        const double ours = static_cast<double>(test::readFileBytes(path).size());
        EXPECT_LE(ours / static_cast<double>(libpngDefaultSize(c.image)), c.bound);
        auto loaded = ReadPngFile(path);
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_TRUE(sameBytes(loaded.value(), c.image));
    }
}

// --- Memory ---

// The process's high-water mark of resident memory in bytes, brought down to what is resident now
// by `reset`; -1 where the system does not tell.
long long highWaterMark(bool reset)
{
    if (reset) {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
        if (!clear.flush())
            return -1;
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}

// A save holds a part of filtered rows a core at a time, never all of them: on a flat picture,
// whose compressed stream is small, the save's peak stays well under the picture's own size.
TEST(PngWrite, ASaveNeverHoldsAllTheFilteredRowsAtOnce)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer keeps freed memory resident";
#elif defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer's shadow of every byte written counts as resident";
#endif
    if (std::thread::hardware_concurrency() > 4)
        GTEST_SKIP() << "parts in flight on many cores add up to the whole picture";
    test::TempDir dir;
    Dib image = test::makePatternImage(6000, 4000, 24);
    const auto layout = dibGetLayout(image);
    // Bands of flat grey, every byte written, so that the picture itself is resident before the
    // save starts.
    for (int32_t y = 0; y < layout->height; ++y)
        std::memset(image.data() + layout->pixelOffset + y * layout->stride, (y / 50) % 7 * 30,
                    layout->stride);
    const long long before = highWaterMark(true);
    if (before < 0)
        GTEST_SKIP() << "no high-water mark to read";
    ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("flat.png"), image)));
    const long long added = highWaterMark(false) - before;
    EXPECT_LT(added, static_cast<long long>(layout->pixelBytes / 2)) << added << " bytes";
}

// --- Saves stopped half-way ---

struct StopCase {
    test::SavePath path;
    SavePoint point;
    int signal;
    const char* name;
};

void PrintTo(const StopCase& c, std::ostream* out)
{
    *out << c.name;
}

class StoppedPngSave : public testing::TestWithParam<StopCase> {};

// A real PNG save of a picture large enough to pass the point where its first megabytes are
// being written, stopped by a signal there: the old file is as it was and nothing else is left.
TEST_P(StoppedPngSave, LeavesTheOldFileAndNothingBesideIt)
{
    const StopCase c = GetParam();
    test::TempDir dir;
    if (c.path == test::SavePath::Unnamed && !test::unnamedFilesWork(dir.path()))
        GTEST_SKIP() << "the file system of " << dir.path() << " makes no unnamed files";
    const Dib image = noisePicture(2000, 1500, 24);
    const std::string target = dir.file("picture.png");
    const Bytes old = {'o', 'l', 'd'};
    test::writeFileBytes(target, old);
    const auto stopped = test::stopSaveWithSignal(c.point, c.signal, c.path,
                                                  [&] { (void)WritePngFile(target, image); });
    ASSERT_TRUE(stopped.reachedPoint);
    EXPECT_TRUE(stopped.endedBySignal);
    EXPECT_EQ(test::readFileBytes(target), old);
    EXPECT_EQ(test::folderEntries(dir.path()), std::vector<std::string>{"picture.png"});
}

INSTANTIATE_TEST_SUITE_P(
    PointsAndSignals, StoppedPngSave,
    testing::Values(
        StopCase{test::SavePath::Unnamed, SavePoint::Writing, SIGTERM, "UnnamedWritingTerm"},
        StopCase{test::SavePath::Unnamed, SavePoint::Linked, SIGINT, "UnnamedLinkedInt"},
        StopCase{test::SavePath::Named, SavePoint::Writing, SIGINT, "NamedWritingInt"},
        StopCase{test::SavePath::Named, SavePoint::Complete, SIGTERM, "NamedCompleteTerm"}),
    [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace ombri
