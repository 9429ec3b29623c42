#include "formats/gif.h"

#include "core/bytes.h"
#include "core/limits.h"
#include "support/imagemagick.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;

// LZW codes packed least significant bit first, each with the width the decoder reads it at.
class CodeWriter {
  public:
    void put(unsigned code, unsigned width)
    {
        m_bits |= uint64_t{code} << m_count;
        m_count += width;
        while (m_count >= 8) {
            m_bytes.push_back(static_cast<uint8_t>(m_bits));
            m_bits >>= 8;
            m_count -= 8;
        }
    }
    Bytes finish()
    {
        if (m_count != 0)
            m_bytes.push_back(static_cast<uint8_t>(m_bits));
        return m_bytes;
    }

  private:
    Bytes m_bytes;
    uint64_t m_bits = 0;
    unsigned m_count = 0;
};

enum class WhenFull { Clear, KeepTable };

// A real GIF LZW encoder, so that long strings, the table filling up and both ways of going on
// from a full table reach the decoder.
Bytes lzwEncode(const Bytes& values, unsigned minimumCodeSize, WhenFull whenFull = WhenFull::Clear,
                bool endCode = true)
{
    const unsigned clear = 1u << minimumCodeSize;
    unsigned width = minimumCodeSize + 1;
    unsigned next = clear + 2;
    std::map<std::pair<unsigned, uint8_t>, unsigned> table;
    CodeWriter out;
    out.put(clear, width);
    int prefix = -1;
    for (uint8_t value : values) {
        if (prefix < 0) {
            prefix = value;
            continue;
        }
        auto found = table.find({unsigned(prefix), value});
        if (found != table.end()) {
            prefix = static_cast<int>(found->second);
            continue;
        }
        out.put(static_cast<unsigned>(prefix), width);
        if (next < 4096) {
            table[{unsigned(prefix), value}] = next++;
            if (next > (1u << width) && width < 12)
                ++width;
        } else if (whenFull == WhenFull::Clear) {
            out.put(clear, width);
            table.clear();
            next = clear + 2;
            width = minimumCodeSize + 1;
        }
        prefix = value;
    }
    if (prefix >= 0)
        out.put(static_cast<unsigned>(prefix), width);
    if (endCode)
        out.put(clear + 1, width);
    return out.finish();
}

// Image data framed in sub-blocks of at most 255 bytes and ended by an empty one.
Bytes subBlocks(const Bytes& data)
{
    Bytes out;
    for (size_t at = 0; at < data.size(); at += 255) {
        const size_t n = std::min<size_t>(255, data.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
    }
    out.push_back(0);
    return out;
}

Bytes colourTable(const std::vector<Rgb>& colours)
{
    Bytes out;
    for (const Rgb& c : colours)
        out.insert(out.end(), c.begin(), c.end());
    return out;
}

unsigned sizeCodeFor(size_t entries)
{
    unsigned code = 0;
    while ((size_t{2} << code) < entries)
        ++code;
    return code;
}

// One GIF file as a test wants it. Tables are padded with black to their power of two.
struct GifFile {
    std::string version = "GIF89a";
    uint16_t width = 1;
    uint16_t height = 1;
    std::vector<Rgb> global;
    unsigned screenSizeCode = 0; // used when there is no global table
    std::vector<Rgb> local;
    bool interlaced = false;
    Bytes beforeImage; // extensions and anything else
    unsigned minimumCodeSize = 2;
    Bytes data;  // LZW bytes before framing
    Bytes after; // what follows the image data
};

void appendTable(Bytes& out, std::vector<Rgb> colours)
{
    colours.resize(size_t{2} << sizeCodeFor(colours.size()), Rgb{0, 0, 0});
    const Bytes table = colourTable(colours);
    out.insert(out.end(), table.begin(), table.end());
}

Bytes build(const GifFile& g)
{
    Bytes out(g.version.begin(), g.version.end());
    const unsigned screenCode = g.global.empty() ? g.screenSizeCode : sizeCodeFor(g.global.size());
    const uint8_t screen[7] = {uint8_t(g.width),
                               uint8_t(g.width >> 8),
                               uint8_t(g.height),
                               uint8_t(g.height >> 8),
                               uint8_t((g.global.empty() ? 0 : 0x80) | 0x70 | screenCode),
                               0,
                               0};
    out.insert(out.end(), screen, screen + 7);
    if (!g.global.empty())
        appendTable(out, g.global);
    out.insert(out.end(), g.beforeImage.begin(), g.beforeImage.end());
    uint8_t flags = g.interlaced ? 0x40 : 0;
    if (!g.local.empty())
        flags |= 0x80 | sizeCodeFor(g.local.size());
    const uint8_t descriptor[10] = {0x2C,
                                    3,
                                    0,
                                    4,
                                    0,
                                    uint8_t(g.width),
                                    uint8_t(g.width >> 8),
                                    uint8_t(g.height),
                                    uint8_t(g.height >> 8),
                                    flags};
    out.insert(out.end(), descriptor, descriptor + 10);
    if (!g.local.empty())
        appendTable(out, g.local);
    out.push_back(static_cast<uint8_t>(g.minimumCodeSize));
    const Bytes framed = subBlocks(g.data);
    out.insert(out.end(), framed.begin(), framed.end());
    out.insert(out.end(), g.after.begin(), g.after.end());
    out.push_back(0x3B);
    return out;
}

// A picture of colour indices, top row first, encoded as a whole file.
GifFile withPixels(uint16_t width, uint16_t height, const Bytes& indices, unsigned minimumCodeSize)
{
    GifFile g;
    g.width = width;
    g.height = height;
    g.minimumCodeSize = minimumCodeSize;
    g.data = lzwEncode(indices, minimumCodeSize);
    for (unsigned i = 0; i < (1u << minimumCodeSize); ++i)
        g.global.push_back({uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)});
    return g;
}

Bytes patternIndices(size_t count, unsigned colours, uint32_t seed = 3)
{
    Bytes out(count);
    uint32_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        // Runs and noise mixed, so that strings grow long in places and the table fills.
        state = state * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(((state >> 16) % 4 == 0 ? state >> 20 : i / 7) % colours);
    }
    return out;
}

Bytes noiseIndices(size_t count)
{
    Bytes out(count);
    uint32_t state = 99;
    for (uint8_t& value : out) {
        state = state * 1103515245u + 12345u;
        value = static_cast<uint8_t>(state >> 16);
    }
    return out;
}

Result<Dib> decode(const Bytes& file)
{
    return readGifBytes({file.data(), file.size()});
}

// The colour index of one pixel; y counted from the top of the picture.
unsigned indexAt(const Dib& image, int32_t x, int32_t y)
{
    const auto layout = dibGetLayout(image);
    const uint8_t* row =
        image.data() + layout->pixelOffset + size_t(layout->height - 1 - y) * layout->stride;
    switch (layout->bitCount) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    default:
        return row[x];
    }
}

Bytes allIndices(const Dib& image)
{
    Bytes out;
    for (int32_t y = 0; y < DibGetHeight(image); ++y)
        for (int32_t x = 0; x < DibGetWidth(image); ++x)
            out.push_back(static_cast<uint8_t>(indexAt(image, x, y)));
    return out;
}

Rgb entry(const Dib& image, unsigned index)
{
    const uint8_t* e = image.data() + kInfoHeaderSize + 4 * index;
    return {e[2], e[1], e[0]};
}

Rgb colourAt(const Dib& image, int32_t x, int32_t y)
{
    return entry(image, indexAt(image, x, y));
}

TEST(GifRead, IndicesOfEveryBitCountComeBackInPlace)
{
    // Odd widths: 1- and 4-bit rows end inside a byte and are padded to four bytes. A single
    // colour makes strings hundreds of values long that run on from one row into the next.
    const struct {
        unsigned colours;
        uint16_t width, height;
        uint16_t bitCount;
    } cases[] = {{2, 13, 5, 1},    {16, 7, 9, 4},      {8, 3, 2, 4},
                 {256, 47, 33, 8}, {128, 300, 220, 8}, {1, 301, 50, 1}};
    for (const auto& c : cases) {
        const Bytes indices = patternIndices(size_t{c.width} * c.height, c.colours);
        GifFile g =
            withPixels(c.width, c.height, indices, std::max(2u, sizeCodeFor(c.colours) + 1));
        g.global.resize(c.colours, Rgb{1, 2, 3});
        auto loaded = decode(build(g));
        ASSERT_TRUE(loaded.ok()) << c.colours << ": " << loaded.error();
        EXPECT_EQ(DibGetBitCount(loaded.value()), c.bitCount) << c.colours;
        EXPECT_EQ(allIndices(loaded.value()), indices) << c.colours << " colours";
    }
}

TEST(GifRead, FullTableWithOrWithoutClearCode)
{
    // 250 x 250 noisy pixels fill the 4096 entries many times over.
    const Bytes indices = patternIndices(250 * 250, 256, 11);
    for (WhenFull whenFull : {WhenFull::Clear, WhenFull::KeepTable}) {
        GifFile g = withPixels(250, 250, {}, 8);
        g.data = lzwEncode(indices, 8, whenFull);
        auto loaded = decode(build(g));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        EXPECT_EQ(allIndices(loaded.value()), indices);
    }
}

TEST(GifRead, ColourTableChoice)
{
    const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, grey{9, 9, 9};
    const struct {
        const char* name;
        std::vector<Rgb> global;
        unsigned screenSizeCode;
        std::vector<Rgb> local;
        uint16_t bitCount;
        std::vector<std::pair<unsigned, Rgb>> expected; // entry, colour
    } cases[] = {
        {"two global entries", {red, green}, 0, {}, 1, {{0, red}, {1, green}}},
        {"eight global entries padded to 16",
         {red, green, blue, grey, red, green, blue, grey},
         0,
         {},
         4,
         {{7, grey}, {8, {0, 0, 0}}, {15, {0, 0, 0}}}},
        {"256 global entries", std::vector<Rgb>(256, grey), 0, {}, 8, {{255, grey}}},
        {"local table wins",
         {red, green},
         0,
         std::vector<Rgb>(32, blue),
         8,
         {{0, blue}, {31, blue}}},
        {"local table without a global one", {}, 7, {green, red}, 1, {{0, green}, {1, red}}},
        {"default black and white", {}, 0, {}, 1, {{0, {0, 0, 0}}, {1, {255, 255, 255}}}},
        {"default 16 colours",
         {},
         3,
         {},
         4,
         {{1, {0, 0, 128}}, {8, {192, 192, 192}}, {9, {0, 0, 255}}, {14, {255, 255, 0}}}},
        {"default grey ramp",
         {},
         7,
         {},
         8,
         {{0, {0, 0, 0}}, {77, {77, 77, 77}}, {255, {255, 255, 255}}}},
    };
    for (const auto& c : cases) {
        GifFile g = withPixels(2, 1, {0, 1}, 2);
        g.global = c.global;
        g.screenSizeCode = c.screenSizeCode;
        g.local = c.local;
        auto loaded = decode(build(g));
        ASSERT_TRUE(loaded.ok()) << c.name << ": " << loaded.error();
        const Dib& image = loaded.value();
        EXPECT_EQ(DibGetBitCount(image), c.bitCount) << c.name;
        EXPECT_EQ(DibGetColorCount(image), 1u << c.bitCount) << c.name;
        for (const auto& [index, colour] : c.expected)
            EXPECT_EQ(entry(image, index), colour) << c.name << ", entry " << index;
    }
}

TEST(GifRead, InterlacedRowsTakeTheirPassPlaces)
{
    // Picture rows in the order the four passes deliver them.
    const std::vector<std::vector<int>> orders = {
        {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}, {0, 2, 1}, {0}, {0, 1}, {0, 4, 2, 1, 3, 5}};
    for (const auto& order : orders) {
        const auto height = static_cast<uint16_t>(order.size());
        Bytes stream; // the n-th row of the data is all n
        for (size_t n = 0; n < order.size(); ++n)
            stream.insert(stream.end(), 5, static_cast<uint8_t>(n));
        GifFile g = withPixels(5, height, stream, 4);
        g.interlaced = true;
        auto loaded = decode(build(g));
        ASSERT_TRUE(loaded.ok()) << loaded.error();
        for (size_t n = 0; n < order.size(); ++n)
            for (int32_t x = 0; x < 5; ++x)
                EXPECT_EQ(indexAt(loaded.value(), x, order[n]), n)
                    << "height " << height << ", data row " << n;
    }
}

Bytes extension(uint8_t label, std::vector<Bytes> blocks)
{
    Bytes out = {0x21, label};
    for (const Bytes& b : blocks) {
        out.push_back(static_cast<uint8_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    out.push_back(0);
    return out;
}

TEST(GifRead, VersionsAndExtensionsBeforeTheImage)
{
    const Bytes indices = patternIndices(6 * 4, 4);
    GifFile plain = withPixels(6, 4, indices, 2);
    plain.global = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 2, 3}};

    Bytes allKinds;
    for (const Bytes& e :
         {extension(0xF9, {{0x01, 0x10, 0x00, 0x02}}),
          extension(0xFE, {Bytes(200, 'c'), Bytes(7, ',')}),
          extension(0xFF,
                    {Bytes{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, Bytes{1, 0, 0}}),
          extension(0x01, {Bytes(12, 0x2C), Bytes{'h', 'i'}}), extension(0x42, {Bytes(255, 0x21)})})
        allKinds.insert(allKinds.end(), e.begin(), e.end());
    const struct {
        const char* version;
        Bytes beforeImage;
    } cases[] = {
        {"GIF87a", {}},
        {"GIF89a", {}},
        {"gif89A", {}},
        {"GIF89a", allKinds},
        {"GIF87a", {0x3B, 0x00, 0x17}}, // stray bytes between blocks are passed over
    };
    for (const auto& c : cases) {
        GifFile g = plain;
        g.version = c.version;
        g.beforeImage = c.beforeImage;
        auto loaded = decode(build(g));
        ASSERT_TRUE(loaded.ok()) << c.version << ": " << loaded.error();
        EXPECT_EQ(allIndices(loaded.value()), indices) << c.version;
        EXPECT_EQ(colourAt(loaded.value(), 0, 0), plain.global[indices[0]]);
    }
}

TEST(GifRead, AnimatedFileShowsItsFirstImage)
{
    GifFile g = withPixels(3, 2, {0, 1, 2, 3, 0, 1}, 2);
    // A second frame of another size and other pixels.
    g.after = {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2};
    const Bytes second = subBlocks(lzwEncode({3, 3, 3, 3}, 2));
    g.after.insert(g.after.end(), second.begin(), second.end());
    auto loaded = decode(build(g));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(DibGetWidth(loaded.value()), 3);
    EXPECT_EQ(allIndices(loaded.value()), (Bytes{0, 1, 2, 3, 0, 1}));
}

// Streams written code by code at the widths the decoder reads them (minimum code size 2: clear
// code 4, end code 5, first free entry 6).
Bytes codes(std::initializer_list<std::pair<unsigned, unsigned>> list)
{
    CodeWriter out;
    for (const auto& [code, width] : list)
        out.put(code, width);
    return out.finish();
}

TEST(GifRead, HandCraftedCodeStreams)
{
    const struct {
        const char* name;
        Bytes data;
        const char* error; // nullptr: decodes to `indices`
        Bytes indices;
    } cases[] = {
        {"string defined by its own code",
         codes({{4, 3}, {1, 3}, {6, 3}, {5, 3}}),
         nullptr,
         {1, 1, 1, 0}},
        {"no leading clear code", codes({{2, 3}, {3, 3}, {6, 3}, {5, 3}}), nullptr, {2, 3, 2, 3}},
        {"end code before the last pixel", codes({{4, 3}, {1, 3}, {5, 3}}), nullptr, {1, 0, 0, 0}},
        {"values beyond the picture are dropped",
         codes({{4, 3}, {1, 3}, {6, 3}, {7, 3}, {5, 4}}),
         nullptr,
         {1, 1, 1, 1}},
        {"clear code resets the table",
         codes({{4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {6, 3}, {5, 3}}),
         nullptr,
         {1, 2, 3, 3}},
        {"code beyond the table",
         codes({{4, 3}, {1, 3}, {7, 3}, {5, 3}}),
         "the image data holds an LZW code beyond its table",
         {}},
        {"first code names an undefined entry",
         codes({{4, 3}, {6, 3}, {5, 3}}),
         "the image data holds an LZW code beyond its table",
         {}},
        {"code beyond the table after a clear code",
         codes({{4, 3}, {1, 3}, {2, 3}, {4, 3}, {7, 3}}),
         "the image data holds an LZW code beyond its table",
         {}},
        {"only a clear and an end code",
         codes({{4, 3}, {5, 3}}),
         "the image data ends before its first pixel",
         {}},
        {"no data at all", {}, "the image data ends before its first pixel", {}},
    };
    for (const auto& c : cases) {
        GifFile g = withPixels(4, 1, {}, 2);
        g.data = c.data;
        auto loaded = decode(build(g));
        if (c.error) {
            EXPECT_FALSE(loaded.ok()) << c.name;
            EXPECT_EQ(loaded.error(), c.error) << c.name;
        } else {
            ASSERT_TRUE(loaded.ok()) << c.name << ": " << loaded.error();
            EXPECT_EQ(allIndices(loaded.value()), c.indices) << c.name;
        }
    }
}

TEST(GifRead, ValuesWiderThanTheBitCountStayInTheirPixel)
{
    // A two-entry table (1 bit per pixel) with data of 8-bit values: each value keeps to its own
    // bit rather than spilling into the pixels beside it.
    GifFile g = withPixels(8, 1, {0xFF, 0, 0xFE, 0, 0, 0, 0, 0x81}, 8);
    g.global = {{0, 0, 0}, {255, 255, 255}};
    auto loaded = decode(build(g));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(allIndices(loaded.value()), (Bytes{1, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(GifRead, DataThatStopsEarlyKeepsTheRowsDecodedSoFar)
{
    const uint16_t width = 40, height = 30;
    const Bytes indices = patternIndices(size_t{width} * height, 256);
    GifFile g = withPixels(width, height, indices, 8);
    const Bytes whole = build(g);
    const size_t dataStart = whole.size() - (g.data.size() + g.data.size() / 255 + 3);
    for (size_t cut : {dataStart + 40, dataStart + g.data.size() / 2, whole.size() - 8}) {
        const Bytes file(whole.begin(), whole.begin() + cut);
        auto loaded = decode(file);
        ASSERT_TRUE(loaded.ok()) << cut << ": " << loaded.error();
        const Bytes got = allIndices(loaded.value());
        size_t same = 0;
        while (same < got.size() && got[same] == indices[same])
            ++same;
        EXPECT_GT(same, 0u);
        EXPECT_LT(same, got.size()) << "cut at " << cut;
        // Everything after the decoded part is the first colour, not left-over garbage; the
        // pixel where the two part may match by chance.
        for (size_t i = same + 1; i < got.size(); ++i)
            ASSERT_EQ(got[i], 0) << "cut at " << cut << ", pixel " << i;
    }
    // Image data that ends without its end code or its terminator, but whole.
    g.data = lzwEncode(indices, 8, WhenFull::Clear, false);
    Bytes noEnd = build(g);
    noEnd.resize(noEnd.size() - 2);
    auto loaded = decode(noEnd);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(allIndices(loaded.value()), indices);
}

TEST(GifRead, MalformedFilesFailWithAReason)
{
    GifFile g = withPixels(4, 4, patternIndices(16, 4), 2);
    const Bytes good = build(g);
    ASSERT_TRUE(decode(good).ok());
    const size_t descriptorAt = 6 + 7 + 12;
    const auto patched = [&](size_t at, std::initializer_list<uint8_t> values) {
        Bytes out = good;
        for (uint8_t value : values)
            out.at(at++) = value;
        return out;
    };
    const auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + size); };
    const auto joined = [](Bytes head, const Bytes& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const struct {
        const char* name;
        Bytes file;
        const char* error;
    } cases[] = {
        {"empty", {}, "not a GIF file"},
        {"other signature", patched(0, {'G', 'I', 'F', '8', '8', 'a'}), "not a GIF file"},
        {"PNG", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0, 0, 0}, "not a GIF file"},
        {"header only", cut(6), "the file ends inside its header"},
        {"cut in the global table", cut(6 + 7 + 5), "the file ends inside its colour table"},
        {"trailer before any image", joined(cut(descriptorAt), {0x3B}), "the file holds no image"},
        {"cut in an extension", joined(cut(descriptorAt), {0x21, 0xFE, 9, 'a'}),
         "the file holds no image"},
        {"cut in the image descriptor", cut(descriptorAt + 5),
         "the file ends inside its image descriptor"},
        {"cut before the code size", cut(descriptorAt + 10), "the file ends before its image data"},
        {"width 0", patched(descriptorAt + 5, {0, 0}), "the image has no pixels"},
        {"height 0", patched(descriptorAt + 7, {0, 0}), "the image has no pixels"},
        {"code size 0", patched(descriptorAt + 10, {0}), "bad LZW code size 0"},
        {"code size 9", patched(descriptorAt + 10, {9}), "bad LZW code size 9"},
        {"65535 x 65535", patched(descriptorAt + 5, {0xFF, 0xFF, 0xFF, 0xFF}),
         "the image is too large"},
        {"more pixels than the data could hold",
         patched(descriptorAt + 5, {0xFF, 0x0F, 0xFF, 0x00}),
         "the file is too short for the image it describes"},
    };
    for (const auto& c : cases) {
        auto loaded = decode(c.file);
        EXPECT_FALSE(loaded.ok()) << c.name;
        EXPECT_FALSE(loaded.error().empty()) << c.name;
        if (c.error) {
            EXPECT_EQ(loaded.error(), c.error) << c.name;
        }
    }
}

TEST(GifRead, AreaBeyondTheLimitIsRefused)
{
    GifFile g = withPixels(64, 64, patternIndices(64 * 64, 256), 8);
    const size_t saved = maxImageBytes();
    setMaxImageBytes(64 * 63);
    auto loaded = decode(build(g));
    setMaxImageBytes(saved);
    EXPECT_EQ(loaded.error(), "the image is too large");
}

TEST(GifRead, FileReaderMatchesByteReaderAcrossChunks)
{
    // Noise compresses badly: well over two 32 KiB chunks of image data.
    const Bytes indices = noiseIndices(320 * 300);
    GifFile g = withPixels(320, 300, indices, 8);
    g.interlaced = true;
    const Bytes file = build(g);
    ASSERT_GT(file.size(), 2u * 32768);
    test::TempDir dir;
    test::writeFileBytes(dir.file("a.gif"), file);
    auto fromFile = ReadGifFile(dir.file("a.gif"));
    auto fromBytes = decode(file);
    ASSERT_TRUE(fromFile.ok()) << fromFile.error();
    ASSERT_TRUE(fromBytes.ok()) << fromBytes.error();
    ASSERT_EQ(fromFile.value().size(), fromBytes.value().size());
    EXPECT_EQ(0, std::memcmp(fromFile.value().data(), fromBytes.value().data(),
                             fromBytes.value().size()));
    EXPECT_FALSE(ReadGifFile(dir.file("missing.gif")).error().empty());
    EXPECT_FALSE(ReadGifFile(dir.path()).ok());
}

// ImageMagick as an independent decoder; tests that need it skip when it is not installed.

TEST(GifImageMagick, FilesItWritesDecodeToItsOwnPixels)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    test::TempDir dir;
    const int width = 47, height = 33;
    // Few enough colours that ImageMagick keeps them exactly, in table sizes of each bit count.
    for (unsigned colours : {2u, 12u, 200u}) {
        for (const char* interlace : {"None", "GIF"}) {
            Bytes rgb;
            const Bytes indices = patternIndices(size_t{width} * height, colours, colours);
            for (uint8_t i : indices)
                rgb.insert(rgb.end(), {uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 5 + 1)});
            test::writePpm(dir.file("in.ppm"), width, height, rgb);
            ASSERT_EQ(test::runConvert(dir.file("in.ppm") + " -interlace " + interlace + " " +
                                       dir.file("im.gif")),
                      "");
            ASSERT_EQ(test::runConvert(dir.file("im.gif") + " " + dir.file("im.ppm")), "");
            const test::Pixmap reference = test::readPixmap(dir.file("im.ppm"));
            ASSERT_EQ(reference.width, width);
            ASSERT_EQ(reference.samples, rgb) << "ImageMagick changed the colours";

            auto loaded = ReadGifFile(dir.file("im.gif"));
            ASSERT_TRUE(loaded.ok()) << loaded.error();
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const uint8_t* want = &reference.samples[(size_t(y) * width + x) * 3];
                    ASSERT_EQ(colourAt(loaded.value(), x, y), (Rgb{want[0], want[1], want[2]}))
                        << colours << " colours, interlace " << interlace << ", pixel " << x << ", "
                        << y;
                }
        }
    }
}

TEST(GifImageMagick, FilesWeBuildDecodeTheSameInImageMagick)
{
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    // No GIF writer exists; this checks the test's own encoder and so the files the decoder
    // tests above rely on, the full-table streams included.
    test::TempDir dir;
    const Bytes indices = patternIndices(250 * 250, 256, 11);
    GifFile g = withPixels(250, 250, {}, 8);
    g.data = lzwEncode(indices, 8, WhenFull::KeepTable);
    g.global.clear();
    for (unsigned i = 0; i < 256; ++i)
        g.global.push_back({uint8_t(i), uint8_t(i * 7), uint8_t(255 - i)});
    test::writeFileBytes(dir.file("ours.gif"), build(g));
    ASSERT_EQ(test::runConvert(dir.file("ours.gif") + " " + dir.file("ours.ppm")), "");
    const test::Pixmap reference = test::readPixmap(dir.file("ours.ppm"));
    ASSERT_EQ(reference.width, 250);
    auto loaded = ReadGifFile(dir.file("ours.gif"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    for (size_t i = 0; i < indices.size(); ++i) {
        const uint8_t* want = &reference.samples[i * 3];
        ASSERT_EQ(colourAt(loaded.value(), int32_t(i % 250), int32_t(i / 250)),
                  (Rgb{want[0], want[1], want[2]}))
            << "pixel " << i;
    }
}

} // namespace
} // namespace ombri
