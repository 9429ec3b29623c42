#include "formats/cineon_dpx.h"

#include "core/bytes.h"
#include "formats/diagnostics.h"
#include "support/dib_compare.h"
#include "support/imagemagick.h"
#include "support/status.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;

struct Kind {
    FilmFormat format;
    const char* name;
    size_t headerBytes;
};

constexpr Kind kDpx = {FilmFormat::Dpx, "dpx", 1920};
constexpr Kind kCineon = {FilmFormat::Cineon, "cin", 1024};

// Writes with the clock at 3 March 2009, 14:05:09 UTC, seen in the given time zone.
class FixedTime {
  public:
    explicit FixedTime(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_hadZone = old != nullptr;
        m_oldZone = old ? old : "";
        setenv("TZ", zone, 1);
        setFilmClock([] { return std::time_t{1236089109}; });
    }
    ~FixedTime()
    {
        setFilmClock(nullptr);
        m_hadZone ? setenv("TZ", m_oldZone.c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    bool m_hadZone;
    std::string m_oldZone;
};

Result<FilmImage> readBytes(const Bytes& bytes, FilmFormat format)
{
    return readCineonDpxBytes(ByteView{bytes.data(), bytes.size()}, format);
}

Bytes writeToBytes(const test::TempDir& dir, const Kind& kind, const Dib& image,
                   const NoteLayer* notes = nullptr, const Words* words = nullptr)
{
    const std::string path = dir.file(std::string("picture.") + kind.name);
    EXPECT_TRUE(test::succeeded(WriteCineonDpxFile(path, kind.format, image, notes, words)));
    return test::readFileBytes(path);
}

// A text field: its text, or a complaint when the rest of the field is not all zeros.
std::string fieldText(const Bytes& file, size_t at, size_t size)
{
    const std::string field(file.begin() + at, file.begin() + at + size);
    const size_t end = field.find('\0');
    if (end == std::string::npos || field.find_first_not_of('\0', end) != std::string::npos)
        return "(not zero-filled)";
    return field.substr(0, end);
}

uint32_t floatBits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

Bytes with(Bytes bytes, size_t at, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
    return bytes;
}

TEST(CineonDpxWord, NotePixelIsOneBigEndianWordAndReadsBack)
{
    test::TempDir dir;
    Dib image = Dib::create(1, 1, 24);
    std::memcpy(DibPixelStart(image), "\x12\x34\x56", 3);
    const NoteLayer notes = {1};
    for (const Kind& kind : {kDpx, kCineon}) {
        const Bytes file = writeToBytes(dir, kind, image, &notes);
        ASSERT_EQ(file.size(), kind.headerBytes + 4) << kind.name;
        EXPECT_EQ(Bytes(file.begin() + kind.headerBytes, file.end()),
                  (Bytes{0x56, 0x0D, 0x01, 0x21}));
        auto loaded = readBytes(file, kind.format);
        ASSERT_TRUE(loaded) << loaded.error();
        EXPECT_EQ(
            Bytes(DibPixelStart(loaded.value().image), DibPixelStart(loaded.value().image) + 3),
            (Bytes{0x12, 0x34, 0x56}));
        EXPECT_EQ(loaded.value().notes, notes);
        EXPECT_EQ(loaded.value().pixelWords, Words{0x560D0121});
    }
}

struct NumberField {
    size_t at;
    int size;
    uint32_t value;
};

struct TextField {
    size_t at;
    size_t size;
    const char* text;
};

void expectFields(const Bytes& file, const std::vector<NumberField>& numbers,
                  const std::vector<TextField>& texts)
{
    for (const NumberField& f : numbers) {
        const uint32_t value = f.size == 1   ? file[f.at]
                               : f.size == 2 ? readBe16(&file[f.at])
                                             : readBe32(&file[f.at]);
        EXPECT_EQ(value, f.value) << "at " << f.at;
    }
    for (const TextField& f : texts)
        EXPECT_EQ(fieldText(file, f.at, f.size), f.text) << "at " << f.at;
}

TEST(CineonDpxHeader, DpxFieldsLieAtTheirOffsets)
{
    test::TempDir dir;
    FixedTime time("XYZ0");
    const Bytes file = writeToBytes(dir, kDpx, test::makePatternImage(5, 3, 24));
    ASSERT_EQ(file.size(), 1920u + 4 * 15);
    expectFields(file,
                 {{0, 4, 0x53445058},
                  {4, 4, 1920},
                  {16, 4, 1980},
                  {20, 4, 0},
                  {24, 4, 1664},
                  {28, 4, 256},
                  {32, 4, 0},
                  {660, 4, ~0u},
                  {768, 2, 0},
                  {770, 2, 1},
                  {772, 4, 5},
                  {776, 4, 3},
                  {780, 4, 0},
                  {784, 4, 0},
                  {788, 4, 0},
                  {792, 4, 1023},
                  {796, 4, floatBits(2.046f)},
                  {800, 1, 50},
                  {801, 2, 0},
                  {803, 1, 10},
                  {804, 2, 1},
                  {806, 2, 0},
                  {808, 4, 0},
                  {812, 4, 0},
                  {816, 4, 0}},
                 {{8, 8, "v1.0"},
                  {36, 100, "picture.dpx"},
                  {136, 24, "2009:03:03:14:05:09XYZ"},
                  {160, 100, "Tovin's DPX writer"},
                  {260, 400, ""},
                  {664, 104, ""},
                  {820, 1100, ""}});
}

TEST(CineonDpxHeader, CineonFieldsLieAtTheirOffsets)
{
    test::TempDir dir;
    FixedTime time("XYZ0");
    const Bytes file = writeToBytes(dir, kCineon, test::makePatternImage(5, 3, 24));
    ASSERT_EQ(file.size(), 1024u + 4 * 15);
    const uint32_t undefined = 0x7F800000;
    std::vector<NumberField> numbers = {
        {0, 4, 0x802A5FD7},  {4, 4, 1024},        {8, 4, 1024},
        {12, 4, 0},          {16, 4, 0},          {20, 4, 1084},
        {192, 1, 0},         {193, 1, 3},         {680, 1, 0},
        {681, 1, 5},         {682, 2, 0},         {684, 4, 0},
        {688, 4, 0},         {712, 4, 0},         {716, 4, 0},
        {972, 4, undefined}, {976, 4, undefined}, {980, 4, floatBits(1.0f)}};
    for (uint32_t i = 0; i < 8; ++i)
        numbers.push_back({420 + 4 * i, 4, undefined});
    for (uint32_t channel = 0; channel < 3; ++channel) {
        const size_t d = 196 + 28 * channel;
        numbers.insert(numbers.end(), {{d, 2, channel + 1},
                                       {d + 2, 1, 10},
                                       {d + 4, 4, 5},
                                       {d + 8, 4, 3},
                                       {d + 12, 4, 0},
                                       {d + 16, 4, 0},
                                       {d + 20, 4, 1023},
                                       {d + 24, 4, floatBits(2.046f)}});
    }
    expectFields(file, numbers,
                 {{24, 8, "V4.5"},
                  {32, 100, "picture.cin"},
                  {132, 12, "2009:03:03"},
                  {144, 12, "14:05:09XYZ"},
                  {452, 200, "Tovin's Cineon writer."},
                  {720, 100, "picture.cin"},
                  {820, 12, "2009:03:03"},
                  {832, 12, "14:05:09XYZ"},
                  {844, 64, "Tovin's Cineon writer"},
                  {908, 32, "Software"},
                  {940, 32, "001"},
                  {984, 40, ""}});
}

TEST(CineonDpxHeader, LongZoneNamesAndFileNamesAreCutToTheirFields)
{
    // "+0530" makes the DPX date 24 characters and the Cineon time 13.
    test::TempDir dir;
    FixedTime time("<+0530>-5:30");
    Dib image = test::makePatternImage(2, 2, 24);
    const Bytes dpx = writeToBytes(dir, kDpx, image);
    const Bytes cineon = writeToBytes(dir, kCineon, image);
    EXPECT_EQ(fieldText(dpx, 136, 24), "2009:03:03:19:35:09+053");
    EXPECT_EQ(fieldText(cineon, 144, 12), "19:35:09+05");
    const std::string longName = std::string(120, 'n') + ".dpx";
    ASSERT_TRUE(test::succeeded(
        WriteCineonDpxFile(dir.file(longName), FilmFormat::Dpx, image, nullptr, nullptr)));
    EXPECT_EQ(fieldText(test::readFileBytes(dir.file(longName)), 36, 100), std::string(99, 'n'));
}

class CineonDpxRoundTrip : public ::testing::TestWithParam<std::tuple<Kind, uint16_t>> {};

TEST_P(CineonDpxRoundTrip, PixelsAndNotesComeBack)
{
    const auto [kind, bitCount] = GetParam();
    test::TempDir dir;
    Dib image = test::makePatternImage(47, 33, bitCount, 11);
    const NoteLayer notes = test::makePatternNotes(47, 33);
    auto noted = readBytes(writeToBytes(dir, kind, image, &notes), kind.format);
    auto plain = readBytes(writeToBytes(dir, kind, image), kind.format);
    ASSERT_TRUE(noted) << noted.error();
    ASSERT_TRUE(plain) << plain.error();
    Dib expected = dibConvertToBitCount(image, 24);
    EXPECT_EQ(test::dibDifference(noted.value().image, expected), "");
    EXPECT_EQ(test::dibDifference(plain.value().image, expected), "");
    EXPECT_EQ(noted.value().notes, notes);
    EXPECT_EQ(countNotePixels(plain.value().notes), 0u);
    // Words made from 8-bit values leave the two low bits of every sample clear.
    for (uint32_t word : plain.value().pixelWords)
        ASSERT_EQ(word & 0x00C0300Fu, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CineonDpxRoundTrip,
                         ::testing::Combine(::testing::Values(kDpx, kCineon),
                                            ::testing::Values(uint16_t{24}, uint16_t{32})));

TEST(CineonDpxWrite, KeptWordsKeepTheirSamplesAndOnlyBitZeroFollowsTheNotes)
{
    const int32_t width = 13, height = 7;
    Words words(width * height);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint32_t>(i * 2654435761u) ^ static_cast<uint32_t>(i & 1);
    Dib image = test::makePatternImage(width, height, 24);
    const NoteLayer notes = test::makePatternNotes(width, height);
    test::TempDir dir;
    for (const Kind& kind : {kDpx, kCineon}) {
        auto noted = readBytes(writeToBytes(dir, kind, image, &notes, &words), kind.format);
        ASSERT_TRUE(noted) << noted.error();
        Words expected = words;
        // Word rows run from the top, note rows from the bottom.
        for (size_t i = 0; i < words.size(); ++i)
            expected[i] = (words[i] & ~1u) | notes[(height - 1 - i / width) * width + i % width];
        EXPECT_EQ(noted.value().pixelWords, expected);
        // Without a note layer the words go back as kept; words of another size are not used.
        auto kept = readBytes(writeToBytes(dir, kind, image, nullptr, &words), kind.format);
        EXPECT_EQ(kept.value().pixelWords, words);
        const Words stale(words.begin(), words.end() - 1);
        auto fresh = readBytes(writeToBytes(dir, kind, image, nullptr, &stale), kind.format);
        EXPECT_EQ(test::dibDifference(fresh.value().image, image), "");
    }
}

TEST(CineonDpxWrite, RefusedImagesLeaveNoFile)
{
    test::TempDir dir;
    Dib image = test::makePatternImage(4, 4, 24);
    Dib palette = Dib::create(4, 4, 8);
    const NoteLayer shortNotes(15, 0);
    for (const Kind& kind : {kDpx, kCineon}) {
        const std::string path = dir.file(std::string("refused.") + kind.name);
        EXPECT_TRUE(test::failedWithReason(
            WriteCineonDpxFile(path, kind.format, image, &shortNotes, nullptr)));
        EXPECT_TRUE(test::failedWithReason(
            WriteCineonDpxFile(path, kind.format, palette, nullptr, nullptr)));
        EXPECT_TRUE(test::failedWithReason(
            WriteCineonDpxFile(dir.file("missing/x"), kind.format, image, nullptr, nullptr)));
        EXPECT_FALSE(test::fileExists(path));
    }
}

TEST(CineonDpxRead, MalformedAndTruncatedFilesAreRefused)
{
    test::TempDir dir;
    Dib image = test::makePatternImage(3, 2, 24);
    const Bytes dpx = writeToBytes(dir, kDpx, image);
    const Bytes cin = writeToBytes(dir, kCineon, image);
    const FilmFormat D = FilmFormat::Dpx, C = FilmFormat::Cineon;
    const struct {
        const char* name;
        FilmFormat format;
        Bytes bytes;
    } cases[] = {
        {"DPX header cut short", D, Bytes(dpx.begin(), dpx.begin() + 1919)},
        {"DPX last row cut short", D, Bytes(dpx.begin(), dpx.end() - 1)},
        {"little-endian DPX", D, with(dpx, 0, 0x58504453, 4)},
        {"DPX packing 0", D, with(dpx, 804, 0, 2)},
        {"DPX RGBA descriptor", D, with(dpx, 800, 51, 1)},
        {"DPX grey descriptor", D, with(dpx, 800, 6, 1)},
        {"DPX with three elements", D, with(dpx, 770, 3, 2)},
        {"DPX 16-bit samples", D, with(dpx, 803, 16, 1)},
        {"run-length encoded DPX", D, with(dpx, 806, 1, 2)},
        {"DPX zero width", D, with(dpx, 772, 0, 4)},
        {"DPX taller than the file", D, with(dpx, 776, 3, 4)},
        {"DPX area beyond the pixel limit", D, with(with(dpx, 772, 1 << 20, 4), 776, 1 << 20, 4)},
        {"DPX data offset beyond the file", D, with(dpx, 4, 0xFFFFFFF0u, 4)},
        {"Cineon read as DPX", D, cin},
        {"Cineon header cut short", C, Bytes(cin.begin(), cin.begin() + 1023)},
        {"Cineon last row cut short", C, Bytes(cin.begin(), cin.end() - 3)},
        {"byte-swapped Cineon", C, with(cin, 0, 0xD75F2A80, 4)},
        {"Cineon packing 0", C, with(cin, 681, 0, 1)},
        {"Cineon four channels", C, with(cin, 193, 4, 1)},
        {"Cineon 8-bit samples", C, with(cin, 198, 8, 1)},
        {"Cineon channel-interleaved", C, with(cin, 680, 2, 1)},
        {"Cineon zero height", C, with(cin, 204, 0, 4)},
        {"Cineon wider than the file", C, with(cin, 200, 4, 4)},
    };
    for (const auto& c : cases) {
        auto result = readBytes(c.bytes, c.format);
        ASSERT_FALSE(result) << c.name;
        EXPECT_FALSE(result.error().empty()) << c.name;
    }
    EXPECT_FALSE(ReadCineonDpxFile(dir.file("missing.dpx"), D));
}

TEST(CineonDpxRead, TraceIsPrintedOnlyWithDiagnosticsOn)
{
    test::TempDir dir;
    const Bytes dpx = writeToBytes(dir, kDpx, test::makePatternImage(2, 1, 24));
    const Bytes cin = writeToBytes(dir, kCineon, test::makePatternImage(2, 1, 24));
    const struct {
        FilmFormat format;
        Bytes bytes;
        const char* trace;
    } cases[] = {
        {FilmFormat::Dpx, dpx,
         "size 2 x 1 x 3\nImageStart 1920, lineBufferLength 8, implied length 1928\n"},
        {FilmFormat::Dpx, with(dpx, 0, 0x58504453, 4),
         "Bad magic number 58504453 in \"(memory)\".\n"},
        {FilmFormat::Cineon, with(cin, 681, 6, 1), "Can't understand packing 6\n"},
        {FilmFormat::Cineon, Bytes(cin.begin(), cin.end() - 1),
         "size 2 x 1 x 3\nImageStart 1024, lineBufferLength 8, implied length 1032\n"
         "Couldn't read line 0 length 8\n"},
    };
    for (const auto& c : cases) {
        for (bool on : {false, true}) {
            setFormatDiagnostics(on);
            ::testing::internal::CaptureStdout();
            (void)readBytes(c.bytes, c.format);
            const std::string printed = ::testing::internal::GetCapturedStdout();
            setFormatDiagnostics(false);
            EXPECT_EQ(printed, on ? c.trace : "");
        }
    }
}

// Cross-checks with ImageMagick, skipped where "convert" is not the real ImageMagick. Its
// decoding comes back as raw 16-bit RGB samples, top row first.

// ImageMagick's 16-bit samples of a file taken back to the 10 bits stored. It takes the codes
// as log-encoded (Cineon) or linear (DPX); tagging them sRGB shows them as stored.
Words decodedByImageMagick(const Kind& kind, const std::string& path, const std::string& raw)
{
    if (!test::runConvert(std::string(kind.name) + ":" + path +
                          " -set colorspace sRGB -depth 16 -endian MSB rgb:" + raw)
             .empty())
        return {};
    const Bytes bytes = test::readFileBytes(raw);
    Words samples;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2)
        samples.push_back(
            static_cast<uint32_t>(std::lround(readBe16(&bytes[at]) * 1023.0 / 65535)));
    return samples;
}

Words samplesOfWords(const Words& words)
{
    Words samples;
    for (uint32_t word : words)
        samples.insert(samples.end(), {word >> 22, (word >> 12) & 1023, (word >> 2) & 1023});
    return samples;
}

TEST(CineonDpxImageMagick, FilesWrittenByImageMagickReadAsItDecodesThem)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    for (const Kind& kind : {kDpx, kCineon}) {
        const std::string path = dir.file(std::string("magick.") + kind.name);
        ASSERT_EQ(test::runConvert("-size 23x11 -seed 7 plasma: -depth 10 " + path), "");
        auto loaded = ReadCineonDpxFile(path, kind.format);
        ASSERT_TRUE(loaded) << loaded.error();
        const Words samples = samplesOfWords(loaded.value().pixelWords);
        EXPECT_EQ(samples, decodedByImageMagick(kind, path, dir.file("decoded.raw"))) << kind.name;
        // The picture shows the top 8 bits of each sample.
        const uint8_t* pixel = test::pixelAt(loaded.value().image, 0, 0);
        EXPECT_EQ(Words({pixel[2], pixel[1], pixel[0]}),
                  Words({samples[0] >> 2, samples[1] >> 2, samples[2] >> 2}));
    }
}

TEST(CineonDpxImageMagick, FilesWeWriteReadInImageMagickAsTheirWords)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    Words words(19 * 9);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint32_t>(i * 2654435761u) & ~3u;
    Dib image = test::makePatternImage(19, 9, 24, 4);
    const NoteLayer notes = test::makePatternNotes(19, 9);
    for (const Kind& kind : {kDpx, kCineon}) {
        for (const Words* kept :
             {static_cast<const Words*>(nullptr), static_cast<const Words*>(&words)}) {
            writeToBytes(dir, kind, image, &notes, kept);
            const std::string path = dir.file(std::string("picture.") + kind.name);
            auto loaded = ReadCineonDpxFile(path, kind.format);
            ASSERT_TRUE(loaded) << loaded.error();
            EXPECT_EQ(decodedByImageMagick(kind, path, dir.file("ours.raw")),
                      samplesOfWords(loaded.value().pixelWords))
                << kind.name << (kept ? " with kept words" : "");
        }
    }
}

} // namespace
} // namespace ombri
