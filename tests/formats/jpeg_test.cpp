#include "formats/jpeg.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "formats/orientation.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"
#include "support/tool_decode.h"

#include <gtest/gtest.h>

#include <cstdio> // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ombri {
namespace {

using test::pixelAt;
using Bytes = std::vector<uint8_t>;

// A picture for libjpeg itself to encode: samples interleaved, top row first.
struct JpegPicture {
    uint32_t width = 24;
    uint32_t height = 16;
    int components = 3;
    J_COLOR_SPACE inSpace = JCS_RGB;
    J_COLOR_SPACE fileSpace = JCS_YCbCr;
    int lumaSampling = 2; // horizontal and vertical factor of the first component
    bool progressive = false;
    bool adobeMarker = true; // libjpeg writes one for CMYK and YCCK unless told otherwise
    Bytes samples;
};

Bytes encodeJpeg(const JpegPicture& p)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = p.width;
    info.image_height = p.height;
    info.input_components = p.components;
    info.in_color_space = p.inSpace;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, p.fileSpace);
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = p.lumaSampling;
    info.write_Adobe_marker = p.adobeMarker;
    jpeg_set_quality(&info, 100, TRUE);
    if (p.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = size_t{p.width} * p.components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&p.samples[info.next_scanline * rowBytes]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes file(buffer, buffer + size);
    std::free(buffer);
    return file;
}

// libjpeg's own decoding at 1/denominator to red-first rows, top row first.
Bytes referenceRgb(const Bytes& file, unsigned denominator = 1)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.scale_num = 1;
    info.scale_denom = denominator;
    jpeg_start_decompress(&info);
    Bytes rgb(size_t{info.output_width} * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &rgb[size_t{info.output_scanline} * info.output_width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return rgb;
}

Result<Dib> decode(const Bytes& file, FormatMessages* messages = nullptr)
{
    return readJpegBytes({file.data(), file.size()}, messages);
}

// A smooth picture, so that quality 100 keeps it within a few levels.
JpegPicture gradient(int components, uint32_t width = 24, uint32_t height = 16)
{
    JpegPicture p;
    p.width = width;
    p.height = height;
    p.components = components;
    p.inSpace = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    p.fileSpace = components == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                p.samples.push_back(
                    static_cast<uint8_t>(10 + x * 120 / width + y * 60 / height + 25 * c));
    return p;
}

TEST(JpegRead, GreyscaleGivesThreeEqualBytes)
{
    const JpegPicture picture = gradient(1);
    auto loaded = decode(encodeJpeg(picture));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const Dib& image = loaded.value();
    ASSERT_EQ(DibGetBitCount(image), 24);
    ASSERT_EQ(DibGetWidth(image), 24);
    ASSERT_EQ(DibGetHeight(image), 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 24; ++x) {
            const uint8_t* p = pixelAt(image, x, y);
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
            EXPECT_NEAR(p[0], picture.samples[y * 24 + x], 2) << x << "," << y;
        }
}

// Decoding straight into the bottom-up, blue-first rows must give exactly what the library's
// own red-first rows give once flipped.
TEST(JpegRead, RowsMatchTheLibrarysOwnDecoding)
{
    JpegPicture subsampled = gradient(3, 37, 21);
    JpegPicture full = subsampled;
    full.lumaSampling = 1;
    JpegPicture progressive = subsampled;
    progressive.progressive = true;
    for (const JpegPicture& p : {subsampled, full, progressive, gradient(1, 37, 21)}) {
        const Bytes file = encodeJpeg(p);
        auto loaded = decode(file);
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_EQ(test::redFirstSamples(loaded.value(), 3), referenceRgb(file));
    }
}

TEST(JpegRead, CmykAndYcckBecomeRgb)
{
    // Ink amounts of the four 8 x 8 quadrants, and the colour each should show.
    const uint8_t ink[4][4] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 0, 255}, {0, 128, 255, 64}};
    const uint8_t rgb[4][3] = {{255, 255, 255}, {0, 255, 255}, {0, 0, 0}, {191, 95, 0}};
    const struct {
        const char* name;
        J_COLOR_SPACE fileSpace;
        bool adobeMarker; // with the marker the samples are stored inverted
    } cases[] = {
        {"Adobe CMYK", JCS_CMYK, true},
        {"plain CMYK", JCS_CMYK, false},
        {"Adobe YCCK", JCS_YCCK, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JpegPicture p;
        p.width = p.height = 16;
        p.components = 4;
        p.inSpace = JCS_CMYK;
        p.fileSpace = c.fileSpace;
        p.lumaSampling = 1;
        p.adobeMarker = c.adobeMarker;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                for (int k = 0; k < 4; ++k)
                    p.samples.push_back(static_cast<uint8_t>(ink[y / 8 * 2 + x / 8][k] ^
                                                             (c.adobeMarker ? 255 : 0)));
        auto loaded = decode(encodeJpeg(p));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            const uint8_t* pixel =
                pixelAt(loaded.value(), quadrant % 2 * 8 + 4, quadrant / 2 * 8 + 4);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(pixel[2 - i], rgb[quadrant][i], 3) << "quadrant " << quadrant;
        }
    }
}

TEST(JpegMessages, FailuresTellTheUserInTheLibrarysAndTheProgramsWords)
{
    test::TempDir dir;
    test::writeFileBytes(dir.file("text.jpg"), {'h', 'e', 'l', 'l', 'o'});
    FormatMessages messages;
    auto notJpeg = ReadJpegFile(dir.file("text.jpg"), &messages);
    EXPECT_FALSE(notJpeg.ok());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "JPEG Fatal Error");
    EXPECT_TRUE(messages[0].isError);
    EXPECT_EQ(messages[0].text.rfind("Not a JPEG file", 0), 0u) << messages[0].text;
    EXPECT_EQ(notJpeg.error(), messages[0].text);

    messages.clear();
    const std::string missing = dir.file("missing.jpg");
    EXPECT_FALSE(ReadJpegFile(missing, &messages).ok());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "JPEG :\nCan't open " + missing + "\n");
    EXPECT_EQ(messages[0].caption, "");
    EXPECT_FALSE(messages[0].isError);

    messages.clear();
    EXPECT_FALSE(decode({}, &messages).ok());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "JPEG Fatal Error");

    messages.clear();
    const std::string nowhere = dir.file("no/such/folder.jpg");
    EXPECT_TRUE(test::failedWithReason(
        WriteJpegFile(nowhere, test::makePatternImage(4, 4, 24), &messages)));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "JpegFile :\nCan't open " + nowhere + "\n");
    EXPECT_FALSE(messages[0].isError);
    EXPECT_FALSE(ReadJpegFile(dir.path()).ok()); // no messages asked for
}

TEST(JpegRead, TruncatedAndDamagedFilesNeverCrash)
{
    JpegPicture progressive = gradient(3);
    progressive.progressive = true;
    for (const Bytes& file : {encodeJpeg(gradient(3)), encodeJpeg(progressive)}) {
        for (size_t length = 0; length < file.size(); ++length) {
            FormatMessages messages;
            auto loaded = decode(Bytes(file.begin(), file.begin() + length), &messages);
            if (loaded.ok()) {
                EXPECT_EQ(DibGetWidth(loaded.value()), 24);
                EXPECT_EQ(DibGetHeight(loaded.value()), 16);
            } else {
                EXPECT_FALSE(loaded.error().empty());
                EXPECT_EQ(messages.size(), 1u) << length;
            }
        }
        for (size_t at = 2; at < file.size(); at += 3) {
            Bytes damaged = file;
            damaged[at] ^= 0x5A;
            (void)decode(damaged); // only that it neither crashes nor reads outside the file
        }
    }
}

// Where the data of each segment with this marker starts, up to the first scan.
std::vector<size_t> segmentsOf(const Bytes& file, uint8_t marker)
{
    std::vector<size_t> found;
    for (size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA;
         at += 2 + readBe16(&file[at + 2])) {
        if (file[at + 1] == marker)
            found.push_back(at + 4);
    }
    return found;
}

TEST(JpegRead, SizesBeyondTheLimitAreRefusedBeforeDecoding)
{
    Bytes file = encodeJpeg(gradient(3));
    ASSERT_EQ(segmentsOf(file, 0xC0).size(), 1u);
    const size_t frame = segmentsOf(file, 0xC0)[0];
    writeBe16(&file[frame + 1], 30000); // height
    writeBe16(&file[frame + 3], 30000); // width
    FormatMessages messages;
    EXPECT_EQ(decode(file, &messages).error(), "the image is too large");
    EXPECT_TRUE(messages.empty());

    const size_t saved = maxImageBytes();
    setMaxImageBytes(100);
    auto limited = decode(encodeJpeg(gradient(3)));
    setMaxImageBytes(saved);
    EXPECT_EQ(limited.error(), "the image is too large");
}

Dib dibOf(const JpegPicture& p, uint16_t bitCount)
{
    Dib image =
        Dib::create(static_cast<int32_t>(p.width), static_cast<int32_t>(p.height), bitCount);
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            auto* pixel = const_cast<uint8_t*>(pixelAt(image, x, y));
            for (int c = 0; c < 3; ++c)
                pixel[c] = p.samples[(y * p.width + x) * 3 + 2 - c];
            if (bitCount == 32)
                pixel[3] = static_cast<uint8_t>(x * 9);
        }
    return image;
}

TEST(JpegWrite, BaselineQuality100OfTheImageSize)
{
    const JpegPicture picture = gradient(3, 47, 33);
    test::TempDir dir;
    ASSERT_TRUE(test::succeeded(WriteJpegFile(dir.file("24.jpg"), dibOf(picture, 24))));
    ASSERT_TRUE(test::succeeded(WriteJpegFile(dir.file("32.jpg"), dibOf(picture, 32))));
    const Bytes file = test::readFileBytes(dir.file("24.jpg"));
    EXPECT_EQ(test::readFileBytes(dir.file("32.jpg")), file) << "the fourth byte is dropped";

    ASSERT_EQ(segmentsOf(file, 0xC0).size(), 1u) << "one baseline frame";
    for (uint8_t other : {0xC1, 0xC2, 0xC3, 0xC9, 0xCA})
        EXPECT_TRUE(segmentsOf(file, other).empty()) << int{other};
    const size_t frame = segmentsOf(file, 0xC0)[0];
    EXPECT_EQ(readBe16(&file[frame + 1]), 33);
    EXPECT_EQ(readBe16(&file[frame + 3]), 47);
    EXPECT_EQ(file[frame + 5], 3);
    size_t tableCount = 0;
    for (size_t tables : segmentsOf(file, 0xDB)) {
        const size_t end = tables - 2 + readBe16(&file[tables - 2]);
        for (size_t at = tables; at + 65 <= end; at += 65, ++tableCount) {
            EXPECT_EQ(file[at] >> 4, 0) << "8-bit table";
            EXPECT_TRUE(std::all_of(&file[at + 1], &file[at + 65], [](int q) { return q == 1; }));
        }
    }
    EXPECT_EQ(tableCount, 2u);

    auto loaded = ReadJpegFile(dir.file("24.jpg"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_LE(test::largestDifference(test::redFirstSamples(loaded.value(), 3), picture.samples),
              4);
}

TEST(JpegWrite, FailureLeavesTheTargetIntact)
{
    test::TempDir dir;
    const Bytes old = {1, 2, 3};
    test::writeFileBytes(dir.file("old.jpg"), old);
    Dib indexed = Dib::allocate(kInfoHeaderSize + 256 * 4 + 16);
    const auto header = DibMakeHeader(4, 4, 8, 0);
    std::memcpy(indexed.data(), header.data(), header.size());
    FormatMessages messages;
    EXPECT_TRUE(test::failedWithReason(WriteJpegFile(dir.file("old.jpg"), indexed, &messages)));
    EXPECT_EQ(test::readFileBytes(dir.file("old.jpg")), old);
}

Result<JpegThumbnailSource> thumbnailOf(const Bytes& file, int maxSide,
                                        FormatMessages* messages = nullptr)
{
    return readJpegBytesForThumbnail({file.data(), file.size()}, maxSide, messages);
}

TEST(JpegThumbnail, DecodedAtTheSmallestScaleThatStillFillsTheThumbnail)
{
    const struct {
        uint32_t width, height;
        int maxSide;
        int32_t expectedWidth, expectedHeight; // the library rounds each side up
    } cases[] = {
        {1000, 600, 128, 250, 150},  // 1/8 would give 125
        {1000, 600, 125, 125, 75},   // 1/8 just reaches it
        {1000, 600, 256, 500, 300},  // 1/4 would give 250
        {1001, 600, 126, 126, 75},   // 1001 / 8 rounded up
        {600, 1000, 128, 150, 250},  // the longer side decides, standing too
        {1000, 600, 600, 1000, 600}, // 1/2 would give 500
        {100, 60, 128, 100, 60},     // smaller than the thumbnail: whole, never enlarged
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " for " +
                     std::to_string(c.maxSide));
        auto made = thumbnailOf(encodeJpeg(gradient(3, c.width, c.height)), c.maxSide);
        ASSERT_TRUE(made.ok()) << made.error();
        EXPECT_EQ(DibGetBitCount(made.value().picture), 24);
        EXPECT_EQ(DibGetWidth(made.value().picture), c.expectedWidth);
        EXPECT_EQ(DibGetHeight(made.value().picture), c.expectedHeight);
        EXPECT_EQ(made.value().width, static_cast<int32_t>(c.width));
        EXPECT_EQ(made.value().height, static_cast<int32_t>(c.height));
    }

    // Over many sizes: the longer side reaches the thumbnail (or is the whole picture), and half
    // of it would not, unless the library can go no smaller.
    for (uint32_t width : {1u, 7u, 9u, 63u, 130u, 301u})
        for (uint32_t height : {1u, 5u, 17u, 200u})
            for (int maxSide : {1, 2, 16, 37, 128}) {
                auto made = thumbnailOf(encodeJpeg(gradient(3, width, height)), maxSide);
                ASSERT_TRUE(made.ok()) << made.error();
                const uint32_t longer = std::max(width, height);
                const uint32_t got = static_cast<uint32_t>(std::max(
                    DibGetWidth(made.value().picture), DibGetHeight(made.value().picture)));
                const std::string where = std::to_string(width) + "x" + std::to_string(height) +
                                          " for " + std::to_string(maxSide);
                EXPECT_GE(got, std::min<uint32_t>(longer, static_cast<uint32_t>(maxSide))) << where;
                if (got != (longer + 7) / 8) {
                    EXPECT_LT((got + 1) / 2, static_cast<uint32_t>(maxSide)) << where;
                }
            }
}

// The scaled rows are the library's own, whatever the kind of file.
TEST(JpegThumbnail, ScaledRowsMatchTheLibrarysOwnScaledDecoding)
{
    JpegPicture subsampled = gradient(3, 203, 141);
    JpegPicture progressive = subsampled;
    progressive.progressive = true;
    for (const JpegPicture& p : {subsampled, progressive, gradient(1, 203, 141)})
        for (const auto& [maxSide, denominator] : {std::pair{20, 8u}, {40, 4u}, {90, 2u}}) {
            const Bytes file = encodeJpeg(p);
            auto made = thumbnailOf(file, maxSide);
            ASSERT_TRUE(made.ok()) << made.error();
            EXPECT_EQ(test::redFirstSamples(made.value().picture, 3),
                      referenceRgb(file, denominator))
                << "1/" << denominator;
        }
}

TEST(JpegThumbnail, EachExifOrientationStandsThePictureUpright)
{
    // Which stored quadrant (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right) shows at
    // each corner of the upright picture, in the same order, for orientations 1 to 8 as the
    // EXIF standard places the stored first row and column.
    const int kShownAt[8][4] = {{0, 1, 2, 3}, {1, 0, 3, 2}, {3, 2, 1, 0}, {2, 3, 0, 1},
                                {0, 2, 1, 3}, {2, 0, 3, 1}, {3, 1, 2, 0}, {1, 3, 0, 2}};
    JpegPicture p;
    p.width = 96;
    p.height = 64;
    p.lumaSampling = 1;
    p.samples = test::redFirstSamples(test::makeQuadrantImage(96, 64), 3);
    const Bytes plain = encodeJpeg(p);
    for (uint16_t orientation = 1; orientation <= 8; ++orientation)
        for (bool bigEndian : {false, true})
            for (int scale : {1, 8}) { // whole, and decoded at 1/8 (12 x 8)
                SCOPED_TRACE("orientation " + std::to_string(orientation) +
                             (bigEndian ? " MM" : " II") + " at 1/" + std::to_string(scale));
                const Bytes file = test::withApp1Marker(
                    plain, test::exifOrientationMarker(orientation, bigEndian));
                auto made = thumbnailOf(file, scale == 1 ? 1000 : 8);
                ASSERT_TRUE(made.ok()) << made.error();
                const Dib& upright = made.value().picture;
                const bool standing = orientation >= 5;
                EXPECT_EQ(made.value().width, standing ? 64 : 96);
                EXPECT_EQ(made.value().height, standing ? 96 : 64);
                const int32_t width = (standing ? 64 : 96) / scale;
                const int32_t height = (standing ? 96 : 64) / scale;
                ASSERT_EQ(DibGetWidth(upright), width);
                ASSERT_EQ(DibGetHeight(upright), height);
                const int inset = 8 / scale;
                for (int corner = 0; corner < 4; ++corner) {
                    const uint8_t* pixel = pixelAt(upright, corner % 2 ? width - 1 - inset : inset,
                                                   corner / 2 ? height - 1 - inset : inset);
                    const uint8_t* rgb = test::kQuadrantColours[kShownAt[orientation - 1][corner]];
                    for (int c = 0; c < 3; ++c)
                        EXPECT_NEAR(pixel[2 - c], rgb[c], 4) << "corner " << corner;
                }
            }
}

TEST(JpegThumbnail, MalformedExifMeansThePictureAsStored)
{
    const auto orientationOf = [](const Bytes& data) {
        return exifOrientation({data.data(), data.size()});
    };
    const Bytes good = test::exifOrientationMarker(6, true);
    ASSERT_EQ(orientationOf(good), 6);
    ASSERT_EQ(orientationOf(test::exifOrientationMarker(8, false)), 8);
    const size_t tiff = 6, directory = tiff + 8, entry = directory + 2 + 12; // the orientation's

    // Cut anywhere before the end of the directory's last entry.
    for (size_t length = 0; length < entry + 12; ++length)
        EXPECT_EQ(orientationOf(Bytes(good.begin(), good.begin() + length)), 1) << length;
    EXPECT_EQ(exifOrientation({nullptr, 0}), 1);

    const struct {
        const char* name;
        size_t at;
        std::vector<uint8_t> bytes;
    } damages[] = {
        {"no Exif name", 0, {'e'}},
        {"name not ended by two zeros", 5, {'x'}},
        {"unknown byte order", tiff, {'X', 'X'}},
        {"mixed byte order", tiff, {'I', 'M'}},
        {"other byte order than written", tiff, {'I', 'I'}},
        {"not 42", tiff + 2, {0, 43}},
        {"directory inside the header", tiff + 4, {0, 0, 0, 4}},
        {"directory past the end", tiff + 4, {0, 0, 0x10, 0}},
        {"directory offset near 2^32", tiff + 4, {0xFF, 0xFF, 0xFF, 0xFE}},
        {"directory at the last byte", tiff + 4, {0, 0, 0, 37}},
        {"huge entry count", directory, {0xFF, 0xFF}},
        {"one entry too many", directory, {0, 3}},
        {"orientation as a LONG", entry + 2, {0, 4}},
        {"two orientations", entry + 4, {0, 0, 0, 2}},
        {"count near 2^32", entry + 4, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"orientation 0", entry + 8, {0, 0}},
        {"orientation 9", entry + 8, {0, 9}},
        {"orientation 0x0106 (little-endian 6)", entry + 8, {6, 0}},
    };
    for (const auto& d : damages) {
        Bytes damaged = good;
        std::copy(d.bytes.begin(), d.bytes.end(), damaged.begin() + d.at);
        EXPECT_EQ(orientationOf(damaged), 1) << d.name;
    }
    // A directory without the tag says nothing either.
    Bytes untagged = good;
    untagged[entry + 1] = 0x13; // 0x0113
    EXPECT_EQ(orientationOf(untagged), 1);
}

TEST(JpegThumbnail, DamagedOrMisleadingMarkersNeverTurnOrCrash)
{
    const Bytes plain = encodeJpeg(gradient(3, 48, 32));
    auto sizeOf = [](const Result<JpegThumbnailSource>& made) {
        return std::pair{DibGetWidth(made.value().picture), DibGetHeight(made.value().picture)};
    };
    // An XMP packet in the first APP1 marker is passed over for the EXIF one after it.
    const std::string xmp = "http://ns.adobe.com/xap/1.0/";
    const Bytes withXmp =
        test::withApp1Marker(test::withApp1Marker(plain, test::exifOrientationMarker(6, true)),
                             Bytes(xmp.c_str(), xmp.c_str() + xmp.size() + 1));
    auto turned = thumbnailOf(withXmp, 1000);
    ASSERT_TRUE(turned.ok()) << turned.error();
    EXPECT_EQ(sizeOf(turned), std::pair(32, 48));

    // Every byte of the marker damaged in turn.
    const Bytes file = test::withApp1Marker(plain, test::exifOrientationMarker(6, false));
    const size_t markerEnd = 4 + 2 + test::exifOrientationMarker(6, false).size();
    for (size_t at = 2; at < markerEnd; ++at)
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes damaged = file;
            damaged[at] ^= flip;
            FormatMessages messages;
            auto made = thumbnailOf(damaged, 12, &messages); // 1/4: 12 x 8
            if (made.ok()) {
                EXPECT_TRUE(sizeOf(made) == std::pair(8, 12) || sizeOf(made) == std::pair(12, 8))
                    << at;
            } else {
                EXPECT_EQ(messages.size(), 1u) << at;
            }
        }
    // The same limits as a whole picture: the header is checked before the scale is chosen.
    Bytes huge = plain;
    const size_t frame = segmentsOf(huge, 0xC0)[0];
    writeBe16(&huge[frame + 1], 30000);
    writeBe16(&huge[frame + 3], 30000);
    EXPECT_EQ(thumbnailOf(huge, 128).error(), "the image is too large");
}

// ImageMagick as a second opinion, when it is installed. Its raw "rgb:" output is the picture
// top row first, red first.
TEST(JpegImageMagick, FilesItWritesReadToItsPixels)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    const Dib picture = test::makePatternImage(37, 21, 24);
    test::writePpm(dir.file("in.ppm"), 37, 21, test::redFirstSamples(picture, 3));
    const struct {
        const char* arguments;
        int tolerance;
    } cases[] = {
        {"-quality 90", 0},      {"-quality 75 -sampling-factor 1x1", 0},
        {"-interlace plane", 0}, {"-colorspace gray", 0},
        {"-colorspace cmyk", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string jpeg = dir.file("im.jpg"), raw = dir.file("im.raw");
        ASSERT_EQ(
            test::runConvert("'" + dir.file("in.ppm") + "' " + c.arguments + " '" + jpeg + "'"),
            "");
        ASSERT_EQ(test::runConvert("'" + jpeg + "' -depth 8 rgb:'" + raw + "'"), "");
        auto loaded = ReadJpegFile(jpeg);
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_LE(test::largestDifference(test::redFirstSamples(loaded.value(), 3),
                                          test::readFileBytes(raw)),
                  c.tolerance);
    }
}

// ImageMagick reads our test markers and stands each picture up as we do.
TEST(JpegImageMagick, StandsEachOrientationUpAsWeDo)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    ASSERT_TRUE(
        test::succeeded(WriteJpegFile(dir.file("plain.jpg"), test::makePatternImage(37, 21, 24))));
    const Bytes plain = test::readFileBytes(dir.file("plain.jpg"));
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string jpeg = dir.file("turned.jpg"), raw = dir.file("turned.raw");
        test::writeFileBytes(jpeg, test::withApp1Marker(plain, test::exifOrientationMarker(
                                                                   orientation, orientation % 2)));
        ASSERT_EQ(test::runConvert("'" + jpeg + "' -auto-orient -depth 8 rgb:'" + raw + "'"), "");
        auto made = readJpegForThumbnail(jpeg, 1000);
        ASSERT_TRUE(made.ok()) << made.error();
        EXPECT_EQ(test::redFirstSamples(made.value().picture, 3), test::readFileBytes(raw));
    }
}

TEST(JpegImageMagick, ReadsWhatWeWrite)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    ASSERT_TRUE(
        test::succeeded(WriteJpegFile(dir.file("ours.jpg"), test::makePatternImage(47, 33, 32))));
    ASSERT_EQ(test::runConvert("'" + dir.file("ours.jpg") + "' -depth 8 rgb:'" +
                               dir.file("ours.raw") + "'"),
              "");
    auto loaded = ReadJpegFile(dir.file("ours.jpg"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(test::redFirstSamples(loaded.value(), 3), test::readFileBytes(dir.file("ours.raw")));
}

} // namespace
} // namespace ombri
