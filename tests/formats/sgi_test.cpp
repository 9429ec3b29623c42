#include "formats/sgi.h"

#include "core/bytes.h"
#include "formats/diagnostics.h"
#include "formats/png.h"
#include "notes/carrier.h"
#include "support/dib_compare.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;
using test::pixelAt;

void putBe(Bytes& out, size_t at, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
}

// A file as another program might write it. Verbatim (type 1, or 2 for two bytes per channel):
// the rows follow the header; run-length (type 257 or 258): the tables come first.
// rows[c x height + y] as stored.
Bytes sgiFile(uint16_t type, uint16_t width, uint16_t height, uint16_t channels,
              const std::vector<Bytes>& rows)
{
    const bool runLength = type >= 256;
    Bytes out(runLength ? 512 + 8 * rows.size() : 512);
    putBe(out, 0, 474, 2);
    putBe(out, 2, type, 2);
    putBe(out, 6, width, 2);
    putBe(out, 8, height, 2);
    putBe(out, 10, channels, 2);
    for (size_t i = 0; i < rows.size() && runLength; ++i) {
        putBe(out, 512 + 4 * i, static_cast<uint32_t>(out.size()), 4);
        putBe(out, 512 + 4 * (rows.size() + i), static_cast<uint32_t>(rows[i].size()), 4);
        out.insert(out.end(), rows[i].begin(), rows[i].end());
    }
    for (size_t i = 0; i < rows.size() && !runLength; ++i)
        out.insert(out.end(), rows[i].begin(), rows[i].end());
    return out;
}

Result<Dib> readBytes(const Bytes& bytes)
{
    return readSgiBytes(ByteView{bytes.data(), bytes.size()});
}

Bytes encodeRow(const Bytes& row)
{
    Bytes out(sgiEncodedRowBound(row.size()));
    out.resize(encodeSgiRow(row.data(), row.size(), out.data(), out.size()));
    return out;
}

Bytes counting(size_t count, uint8_t first)
{
    Bytes out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(first + i);
    return out;
}

TEST(SgiEncodeRow, PacketsFollowTheRunAndLiteralRules)
{
    Bytes twoLiterals = {0xFE};
    for (const Bytes& part : {counting(126, 0), Bytes{0x84}, counting(4, 126), Bytes{0}})
        twoLiterals.insert(twoLiterals.end(), part.begin(), part.end());
    const struct {
        const char* name;
        Bytes row;
        Bytes expected;
    } cases[] = {
        {"200 equal bytes: runs of 126 and 74", Bytes(200, 9), {126, 9, 74, 9, 0}},
        {"1..5: one literal packet", {1, 2, 3, 4, 5}, {0x85, 1, 2, 3, 4, 5, 0}},
        {"a lone last byte is a run of one", {1, 1, 1, 2}, {3, 1, 1, 2, 0}},
        {"two equal bytes are no run", {4, 4}, {0x82, 4, 4, 0}},
        {"a literal stops where three equal bytes begin", {1, 2, 7, 7, 7}, {0x82, 1, 2, 3, 7, 0}},
        {"128 equal bytes", Bytes(128, 3), {126, 3, 0x82, 3, 3, 0}},
        {"130 different bytes: literals of 126 and 4", counting(130, 0), twoLiterals},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encodeRow(c.row), c.expected) << c.name;

    // Literal bytes between short runs cost the most; a buffer one byte short is refused.
    Bytes worst;
    for (int i = 0; i < 300; ++i)
        worst.insert(worst.end(), {static_cast<uint8_t>(i), 200, 200, 200, 1});
    const size_t length = encodeRow(worst).size();
    ASSERT_GT(length, 0u);
    Bytes out(length - 1);
    EXPECT_EQ(encodeSgiRow(worst.data(), worst.size(), out.data(), out.size()), 0u);
}

TEST(SgiWrite, TablesFollowTheHeaderAndRowsFollowEachOther)
{
    test::TempDir dir;
    for (uint16_t bitCount : {24, 32}) {
        const uint32_t entries = 4 * (bitCount / 8u);
        ASSERT_TRUE(test::succeeded(WriteSgiFile(
            dir.file("t.rgb"), test::makePatternImage(5, 4, bitCount), SgiSignature::Omit)));
        const Bytes file = test::readFileBytes(dir.file("t.rgb"));
        const uint16_t header[] = {474, 257, 3, 5,  4, static_cast<uint16_t>(bitCount / 8),
                                   0,   0,   0, 255};
        for (size_t i = 0; i < 10; ++i)
            EXPECT_EQ(readBe16(&file[2 * i]), header[i]) << "header field " << i;
        uint32_t offset = 512 + 8 * entries; // 512 + 24 x height for three channels
        for (uint32_t entry = 0; entry < entries; ++entry) {
            EXPECT_EQ(readBe32(&file[512 + 4 * entry]), offset) << entry;
            offset += readBe32(&file[512 + 4 * (entries + entry)]);
        }
        EXPECT_EQ(offset, file.size());
    }
}

// The planar signature as a reader finds it: over blue, green, red of the top row's first 8
// pixels.
void layPlanarSignature(Dib& image)
{
    auto layout = dibGetLayout(image);
    const size_t step = layout->bitCount / 8;
    uint8_t* top = image.data() + layout->pixelOffset + (layout->height - 1) * layout->stride;
    uint8_t planes[3][8];
    for (size_t i = 0; i < 24; ++i)
        planes[i % 3][i / 3] = top[i / 3 * step + i % 3];
    WritePlanarOmbriSignature(planes[0], planes[1], planes[2]);
    for (size_t i = 0; i < 24; ++i)
        top[i / 3 * step + i % 3] = planes[i % 3][i / 3];
}

struct RoundTripCase {
    int32_t width;
    int32_t height;
    uint16_t bitCount;
    bool signature;
};

class SgiRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(SgiRoundTrip, ReadingBackGivesTheSameBlock)
{
    const RoundTripCase c = GetParam();
    test::TempDir dir;
    Dib image = test::makePatternImage(c.width, c.height, c.bitCount, 3);
    ASSERT_TRUE(test::succeeded(WriteSgiFile(
        dir.file("round.rgb"), image, c.signature ? SgiSignature::Write : SgiSignature::Omit)));
    auto loaded = ReadSgiFile(dir.file("round.rgb"));
    ASSERT_TRUE(loaded) << loaded.error();
    // Narrower than 8 pixels, the plane rows cannot hold the signature: none is written.
    const bool signatureFits = c.signature && c.width >= 8;
    if (signatureFits)
        layPlanarSignature(image);
    // The alpha plane of a four-channel file stays as it was, signature or not.
    EXPECT_EQ(test::dibDifference(loaded.value(), image), "");
    EXPECT_EQ(HasOmbriSignature(loaded.value(), true), signatureFits && c.bitCount == 24);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SgiRoundTrip,
    ::testing::Values(RoundTripCase{47, 33, 24, false}, RoundTripCase{47, 33, 32, false},
                      RoundTripCase{47, 33, 24, true}, RoundTripCase{47, 33, 32, true},
                      RoundTripCase{1, 1, 24, true}, RoundTripCase{7, 3, 24, true},
                      RoundTripCase{300, 2, 24, true}));

TEST(SgiRead, VerbatimAndRunLengthFilesGiveTheSamePixels)
{
    // Plane c, file row y (0 at the bottom) holds 40 c + 3 y + x. The last run-length row stops
    // early and leaves zeros.
    for (uint16_t channels : {3, 4}) {
        std::vector<Bytes> rows, packed;
        for (uint16_t i = 0; i < 2 * channels; ++i) {
            rows.push_back(counting(3, static_cast<uint8_t>(40 * (i / 2) + 3 * (i % 2))));
            packed.push_back(encodeRow(rows.back()));
        }
        rows.back() = {80 + 39, 0, 0};
        packed.back() = {0x81, 80 + 39, 0};
        auto verbatim = readBytes(sgiFile(1, 3, 2, channels, rows));
        auto runLength = readBytes(sgiFile(257, 3, 2, channels, packed));
        ASSERT_TRUE(verbatim) << verbatim.error();
        ASSERT_TRUE(runLength) << runLength.error();
        EXPECT_EQ(test::dibDifference(verbatim.value(), runLength.value()), "");
        const uint8_t* bottomLeft = pixelAt(verbatim.value(), 0, 1);
        const Bytes expected = {80, 40, 0, 120};
        EXPECT_EQ(Bytes(bottomLeft, bottomLeft + channels),
                  Bytes(expected.begin(), expected.begin() + channels));
    }
}

// Each byte of a row as a big-endian 16-bit sample whose low byte is unrelated to it.
Bytes widened(const Bytes& row)
{
    Bytes out;
    for (uint8_t value : row) {
        out.push_back(value);
        out.push_back(static_cast<uint8_t>(value * 7 + 0x35));
    }
    return out;
}

TEST(SgiRead, TwoBytesPerChannelGiveTheHighByteOfEachSample)
{
    // The same planes as one-byte files and as two-byte ones. The two-byte run-length rows are
    // one literal packet, except the last, a run of its first sample over the whole row.
    for (uint16_t channels : {3, 4}) {
        std::vector<Bytes> rows, wide, packed;
        for (uint16_t i = 0; i < 2 * channels; ++i) {
            rows.push_back(counting(3, static_cast<uint8_t>(40 * (i / 2) + 3 * (i % 2) + 100)));
            wide.push_back(widened(rows.back()));
            packed.push_back({0x00, 0x83});
            packed.back().insert(packed.back().end(), wide.back().begin(), wide.back().end());
            packed.back().insert(packed.back().end(), {0x00, 0x00});
        }
        rows.back() = Bytes(3, rows.back()[0]);
        wide.back() = widened(rows.back());
        packed.back() = {0x00, 0x03, wide.back()[0], wide.back()[1], 0x00, 0x00};
        auto narrow = readBytes(sgiFile(1, 3, 2, channels, rows));
        auto verbatim = readBytes(sgiFile(2, 3, 2, channels, wide));
        auto runLength = readBytes(sgiFile(258, 3, 2, channels, packed));
        ASSERT_TRUE(narrow) << narrow.error();
        ASSERT_TRUE(verbatim) << verbatim.error();
        ASSERT_TRUE(runLength) << runLength.error();
        EXPECT_EQ(test::dibDifference(verbatim.value(), narrow.value()), "") << channels;
        EXPECT_EQ(test::dibDifference(runLength.value(), narrow.value()), "") << channels;
    }
}

TEST(SgiRead, MalformedFilesFailWithAReason)
{
    const Bytes valid = sgiFile(257, 4, 2, 3, std::vector<Bytes>(6, {0x84, 1, 2, 3, 4, 0}));
    ASSERT_TRUE(readBytes(valid));
    auto with = [&valid](size_t at, uint32_t value, int size) {
        Bytes out = valid;
        putBe(out, at, value, size);
        return out;
    };
    auto withFirstRow = [](Bytes row) {
        std::vector<Bytes> rows(6, {0x84, 1, 2, 3, 4, 0});
        rows[0] = std::move(row);
        return sgiFile(257, 4, 2, 3, rows);
    };
    auto withWideFirstRow = [](Bytes row) {
        std::vector<Bytes> rows(6, {0x00, 0x84, 0, 1, 0, 2, 0, 3, 0, 4, 0, 0});
        rows[0] = std::move(row);
        return sgiFile(258, 4, 2, 3, rows);
    };
    ASSERT_TRUE(readBytes(withWideFirstRow({0x00, 0x84, 0, 1, 0, 2, 0, 3, 0, 4, 0, 0})));
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"header cut short", Bytes(valid.begin(), valid.begin() + 511)},
        {"byte-swapped magic", with(0, 0xDA01, 2)},
        {"three bytes per channel", with(2, 259, 2)},
        {"storage type 2", with(2, 0x0201, 2)},
        {"two-byte verbatim planes cut short", sgiFile(2, 4, 2, 3, {Bytes(47)})},
        {"two-byte packet past its data", withWideFirstRow({0x00, 0x84, 1, 2, 3})},
        {"two-byte run without its value", withWideFirstRow({0x00, 0x04, 0x01})},
        {"two-byte packet past the row", withWideFirstRow({0x00, 0x05, 1, 2, 0, 0})},
        {"one channel", with(10, 1, 2)},
        {"two channels", with(10, 2, 2)},
        {"five channels", with(10, 5, 2)},
        {"zero width", with(6, 0, 2)},
        {"zero height", with(8, 0, 2)},
        {"area beyond the pixel limit", sgiFile(257, 65535, 65535, 3, {})},
        {"verbatim planes cut short", sgiFile(1, 4, 2, 3, {Bytes(23)})},
        {"tables cut short", Bytes(valid.begin(), valid.begin() + 512 + 47)},
        {"row offset beyond the file", with(512, static_cast<uint32_t>(valid.size() + 1), 4)},
        {"row length beyond the file", with(512 + 24, static_cast<uint32_t>(valid.size()), 4)},
        {"row offset and length wrapping", with(512, 0xFFFFFFF0u, 4)},
        {"literal packet past the row", withFirstRow({0x85, 1, 2, 3, 4, 5, 0})},
        {"run packet past the row", withFirstRow({0x03, 9, 0x02, 9, 0})},
        {"literal packet past its data", withFirstRow({0x84, 1, 2})},
        {"run packet without its value", withFirstRow({0x04})},
    };
    for (const auto& c : cases) {
        auto result = readBytes(c.bytes);
        ASSERT_FALSE(result) << c.name;
        EXPECT_FALSE(result.error().empty()) << c.name;
    }
    EXPECT_FALSE(ReadSgiFile("/nonexistent/missing.rgb"));
}

TEST(SgiWrite, RefusedImagesAndFailedSavesLeaveNoFile)
{
    test::TempDir dir;
    const struct {
        const char* name;
        Dib image;
        std::string path;
    } cases[] = {
        {"palette image", Dib::create(4, 4, 8), dir.file("palette.rgb")},
        {"wider than 65535", Dib::create(70000, 1, 24), dir.file("wide.rgb")},
        {"missing folder", test::makePatternImage(3, 3, 24), dir.file("missing/image.rgb")},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(test::failedWithReason(WriteSgiFile(c.path, c.image, SgiSignature::Omit)))
            << c.name;
        EXPECT_FALSE(test::fileExists(c.path)) << c.name;
    }
}

TEST(SgiRead, HeaderTraceIsPrintedOnlyWithDiagnosticsOn)
{
    const Bytes valid = sgiFile(257, 1, 1, 3, {{1, 1, 0}, {1, 2, 0}, {1, 3, 0}});
    Bytes swapped = valid;
    std::swap(swapped[0], swapped[1]);
    const struct {
        Bytes bytes;
        const char* trace;
    } cases[] = {
        {valid, "RGB_HEADER_READ:\n  Data is RLE (run-length encoded).\n"},
        {sgiFile(1, 1, 1, 3, {{1}, {2}, {3}}),
         "RGB_HEADER_READ:\n  Data is NOT run-length encoded.\n"},
        {swapped, "RGB_HEADER_READ: Fatal error.\n  Invalid magic number: -9727.\n"
                  "  Perhaps you need to reverse the byte swapping option.\n"},
    };
    for (const auto& c : cases) {
        for (bool on : {false, true}) {
            setFormatDiagnostics(on);
            ::testing::internal::CaptureStdout();
            (void)readBytes(c.bytes);
            const std::string printed = ::testing::internal::GetCapturedStdout();
            setFormatDiagnostics(false);
            EXPECT_EQ(printed, on ? c.trace : "");
        }
    }
}

// Cross-checks with ImageMagick, skipped where "convert" is not the real ImageMagick. Pictures
// are exchanged with it as raw RGB or RGBA samples, top row first.

TEST(SgiImageMagick, FilesWrittenByImageMagickReadAsItDecodesThem)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    for (const char* samples : {"rgb", "rgba"}) {
        const std::string depth = std::string(samples) == "rgb" ? "3" : "4";
        Bytes source;
        for (int i = 0; i < 29 * 17 * std::stoi(depth); ++i)
            source.push_back(static_cast<uint8_t>(i * 37 / 5 + i % 7 * 60));
        test::writeFileBytes(dir.file("source.raw"), source);
        const std::string raw = std::string(samples) + ":" + dir.file("decoded.raw");
        for (const char* compression : {"RLE", "None"}) {
            const std::string sgi = dir.file(std::string("magick-") + compression + ".sgi");
            ASSERT_EQ(test::runConvert("-size 29x17 -depth 8 " + std::string(samples) + ":" +
                                       dir.file("source.raw") + " -compress " + compression + " " +
                                       sgi),
                      "");
            ASSERT_EQ(test::runConvert(sgi + " -depth 8 " + raw), "");
            auto loaded = ReadSgiFile(sgi);
            ASSERT_TRUE(loaded) << loaded.error();
            EXPECT_EQ(test::redFirstSamples(loaded.value(), DibGetBitCount(loaded.value()) / 8),
                      test::readFileBytes(dir.file("decoded.raw")))
                << samples << ", " << compression;
        }
    }
}

TEST(SgiImageMagick, FilesWeWriteReadInImageMagickAsTheImage)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    for (uint16_t bitCount : {24, 32}) {
        Dib image = test::makePatternImage(37, 21, bitCount, 5);
        ASSERT_TRUE(
            test::succeeded(WriteSgiFile(dir.file("ours.rgb"), image, SgiSignature::Write)));
        const std::string samples = bitCount == 24 ? "rgb:" : "rgba:";
        ASSERT_EQ(test::runConvert("sgi:" + dir.file("ours.rgb") + " -depth 8 " + samples +
                                   dir.file("ours.raw")),
                  "");
        layPlanarSignature(image);
        EXPECT_EQ(test::readFileBytes(dir.file("ours.raw")),
                  test::redFirstSamples(image, bitCount / 8))
            << bitCount;
    }
}

// What ImageMagick makes of 8-bit pictures when asked for 16 bits (each value x 257) reads as
// the 8-bit picture, and carriers of both forms keep their notes.
TEST(SgiImageMagick, SixteenBitFilesReadAsTheirEightBitSource)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    const NoteLayer notes = test::makePatternNotes(37, 21);
    Dib planar = MakeCarrierCopy(test::makePatternImage(37, 21, 24, 9), notes, SaveDepth::Bits24);
    ASSERT_TRUE(test::succeeded(WriteSgiFile(dir.file("planar.rgb"), planar, SgiSignature::Write)));
    layPlanarSignature(planar);
    Dib interleaved =
        MakeCarrierCopy(test::makePatternImage(37, 21, 24, 13), notes, SaveDepth::Alpha32);
    auto layout = dibGetLayout(interleaved);
    ASSERT_TRUE(layout.has_value());
    writeCarrierSignature(interleaved.data() + layout->pixelOffset +
                              static_cast<size_t>(layout->height - 1) * layout->stride,
                          layout->width, 32);
    ASSERT_TRUE(test::succeeded(WritePngFile(dir.file("interleaved.png"), interleaved)));
    // The notes as saved: those under the signature are gone in both.
    const struct {
        std::string source;
        const Dib& image;
        SignatureForm form;
        CarrierByte carrier;
    } carriers[] = {
        {"sgi:" + dir.file("planar.rgb"), planar, SignatureForm::Planar, CarrierByte::Blue},
        {dir.file("interleaved.png"), interleaved, SignatureForm::Interleaved, CarrierByte::Alpha}};
    for (const auto& c : carriers) {
        std::optional<NoteLayer> saved;
        ExtractNoteLayer(c.image, saved, c.carrier);
        ASSERT_TRUE(saved.has_value());
        ASSERT_GT(countNotePixels(*saved), notes.size() / 5);
        ASSERT_EQ(test::runConvert(c.source + " -depth 8 sgi:" + dir.file("narrow.rgb")), "");
        auto narrow = ReadSgiFile(dir.file("narrow.rgb"));
        ASSERT_TRUE(narrow) << narrow.error();
        for (const char* compression : {"RLE", "None"}) {
            SCOPED_TRACE(c.source + ", " + compression);
            const std::string wide = dir.file(std::string("wide-") + compression + ".rgb");
            ASSERT_EQ(
                test::runConvert(c.source + " -depth 16 -compress " + compression + " sgi:" + wide),
                "");
            ASSERT_EQ(test::readFileBytes(wide).at(3), 2) << "ImageMagick wrote 8-bit samples";
            auto loaded = ReadSgiFile(wide);
            ASSERT_TRUE(loaded) << loaded.error();
            EXPECT_EQ(test::dibDifference(loaded.value(), narrow.value()), "");
            const SignatureFind found = findOmbriSignature(loaded.value(), true, c.form);
            ASSERT_TRUE(found.intact());
            EXPECT_EQ(found.carrier, c.carrier);
            std::optional<NoteLayer> read;
            ExtractNoteLayer(loaded.value(), read, found.carrier);
            ASSERT_TRUE(read.has_value());
            EXPECT_EQ(*read, *saved);
        }
    }
}

} // namespace
} // namespace ombri
