#include "formats/deflate_blocks.h"
#include "formats/deflate_codes.h"
#include "formats/png_idat.h"
#include "formats/row_deflate.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace ombri {
namespace {

using Bytes = std::vector<uint8_t>;

// Inputs that make libdeflate write every kind of block: stored (noise), fixed codes (short
// inputs), dynamic codes with long matches (zeros, repeated words) and a mix of all of them.
std::vector<std::pair<std::string, Bytes>> inputs()
{
    std::mt19937 random(7);
    std::vector<std::pair<std::string, Bytes>> made;
    for (const size_t size : {size_t{1}, size_t{37}, size_t{70'000}, size_t{1'500'000}}) {
        Bytes zeros(size, 0);
        Bytes noise(size);
        for (uint8_t& byte : noise)
            byte = static_cast<uint8_t>(random());
        Bytes words(size);
        static const char kWords[] = "the notes stay in the picture while the picture stays ";
        for (size_t i = 0; i < size; ++i)
            words[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 97) % (sizeof kWords - 1)]);
        Bytes mixed(size);
        for (size_t i = 0; i < size; ++i)
            mixed[i] = (i / 5000) % 3 == 0 ? noise[i] : (i / 5000) % 3 == 1 ? words[i] : zeros[i];
        const std::string suffix = "_" + std::to_string(size);
        made.emplace_back("zeros" + suffix, zeros);
        made.emplace_back("noise" + suffix, noise);
        made.emplace_back("words" + suffix, words);
        made.emplace_back("mixed" + suffix, mixed);
    }
    return made;
}

Bytes rawDeflate(const Bytes& input, int level)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    Bytes output(libdeflate_deflate_compress_bound(compressor, input.size()));
    output.resize(libdeflate_deflate_compress(compressor, input.data(), input.size(), output.data(),
                                              output.size()));
    libdeflate_free_compressor(compressor);
    return output;
}

Bytes inflate(const uint8_t* stream, size_t size, size_t expected)
{
    Bytes output(expected + 16);
    uLongf produced = output.size();
    if (uncompress(output.data(), &produced, stream, size) != Z_OK)
        return {};
    output.resize(produced);
    return output;
}

// The walk ends where libdeflate's stream ends, on a final block, for every kind of block.
TEST(DeflateBlocks, TheWalkFindsTheFinalBlockOfEveryKindOfStream)
{
    for (const auto& [name, input] : inputs()) {
        for (const int level : {1, 6, 12}) {
            SCOPED_TRACE(name + " level " + std::to_string(level));
            const Bytes stream = rawDeflate(input, level);
            ASSERT_FALSE(stream.empty());
            const auto end = findDeflateEnd(stream.data(), stream.size());
            ASSERT_TRUE(end.has_value());
            EXPECT_EQ((end->endBit + 7) / 8, stream.size());
            EXPECT_LT(end->finalBlockBit, end->endBit);
            EXPECT_TRUE(stream[end->finalBlockBit / 8] & (1u << (end->finalBlockBit % 8)));
        }
    }
}

// Streams cut short or made of noise are refused, never read past.
TEST(DeflateBlocks, CutOrDamagedStreamsAreRefusedWithinTheirBytes)
{
    const Bytes stream = rawDeflate(inputs()[10].second, 6); // words, 70 000 bytes
    for (size_t size = 0; size < stream.size(); size += 1 + size / 64) {
        const Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(findDeflateEnd(cut.data(), cut.size()).has_value()) << size;
    }
    std::mt19937 random(3);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes noise(random() % 300);
        for (uint8_t& byte : noise)
            byte = static_cast<uint8_t>(random());
        const auto end = findDeflateEnd(noise.data(), noise.size());
        if (end) {
            EXPECT_LE(end->endBit, uint64_t{noise.size()} * 8);
        }
    }
}

// The stream's pieces, one after the other.
Bytes streamOf(const PngImageData& data)
{
    Bytes stream;
    for (const PngImageData::Span& span : data.spans)
        stream.insert(stream.end(), span.bytes, span.bytes + span.size);
    return stream;
}

Bytes rawInflate(const uint8_t* stream, size_t size, size_t expected, const Bytes& dictionary = {})
{
    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK)
        return {};
    if (!dictionary.empty() && inflateSetDictionary(&inflater, dictionary.data(),
                                                    static_cast<uInt>(dictionary.size())) != Z_OK) {
        inflateEnd(&inflater);
        return {};
    }
    Bytes output(expected + 16);
    inflater.next_in = const_cast<uint8_t*>(stream); // zlib only reads it
    inflater.avail_in = static_cast<uInt>(size);
    inflater.next_out = output.data();
    inflater.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&inflater, Z_FINISH);
    output.resize(inflater.total_out);
    inflateEnd(&inflater);
    return result == Z_STREAM_END && inflater.avail_in == 0 ? output : Bytes{};
}

// Blank rows inflate to their filter bytes and zeros for every width, those whose zeros leave 1
// or 2 bytes past a copy of 258 among them, within the room asked for, and end where the walk
// finds the end.
TEST(DeflateBlocks, BlankRowsInflateToTheirZerosWhateverTheirWidth)
{
    for (const size_t rowBytes : {1, 2, 3, 4, 5, 6, 7, 258, 259, 260, 261, 262, 263, 517, 18001})
        for (const size_t rows : {1, 2, 7})
            for (const uint8_t filter : {uint8_t{0}, uint8_t{2}}) {
                SCOPED_TRACE(testing::Message() << rows << " rows of " << rowBytes
                                                << " bytes, filter " << int{filter});
                const size_t bound = blankRowsBound(rows, rowBytes);
                Bytes stream(bound + 1, 0xEE);
                const DeflateEnd end = writeBlankRows(filter, rows, rowBytes, stream.data());
                const size_t written = static_cast<size_t>((end.endBit + 7) / 8);
                ASSERT_LE(written, bound);
                EXPECT_EQ(stream[bound], 0xEE);
                Bytes expected(rows * rowBytes, 0);
                for (size_t row = 0; row < rows; ++row)
                    expected[row * rowBytes] = filter;
                EXPECT_EQ(rawInflate(stream.data(), written, expected.size()), expected);
                const auto walked = findDeflateEnd(stream.data(), written);
                ASSERT_TRUE(walked.has_value());
                EXPECT_EQ(walked->finalBlockBit, end.finalBlockBit);
                EXPECT_EQ(walked->endBit, end.endBit);
            }
}

// Parts compressed apart and joined make one zlib stream that inflates to the input, for any
// number of parts, wherever the seams fall.
TEST(DeflateBlocks, PartsJoinIntoOneStreamThatInflatesToTheInput)
{
    for (const auto& [name, input] : inputs()) {
        for (const unsigned parts : {1u, 2u, 3u, 7u}) {
            SCOPED_TRACE(name + " in " + std::to_string(parts) + " parts");
            const PngImageData joined = zlibCompressInParts(input.data(), input.size(), 6, parts);
            ASSERT_NE(joined.size, 0u);
            const Bytes stream = streamOf(joined);
            EXPECT_EQ(stream.size(), joined.size);
            EXPECT_EQ(inflate(stream.data(), stream.size(), input.size()), input);
        }
    }
}

// zlib's parts, each given the rows before it as a dictionary, join the same way, and cost
// next to nothing against one stream: the seams lose no matches.
TEST(DeflateBlocks, ZlibPartsJoinAndCostNoMoreThanOneStream)
{
    for (const auto& [name, input] : inputs()) {
        for (const int level : {4, 6}) {
            const PngImageData whole = zlibDeflateInParts(input.data(), input.size(), level, 1);
            for (const unsigned parts : {1u, 2u, 3u, 7u}) {
                SCOPED_TRACE(name + " at level " + std::to_string(level) + " in " +
                             std::to_string(parts) + " parts");
                const PngImageData joined =
                    zlibDeflateInParts(input.data(), input.size(), level, parts);
                ASSERT_NE(joined.size, 0u);
                const Bytes stream = streamOf(joined);
                EXPECT_EQ(stream.size(), joined.size);
                EXPECT_EQ(inflate(stream.data(), stream.size(), input.size()), input);
                // Each seam adds its flush marker and restarts the block's codes, no more.
                EXPECT_LE(joined.size, whole.size + whole.size / 100 + 300 * parts);
            }
        }
    }
}

// Bytes made of copies of what came before, from any distance up to past the window and of any
// length, between literals: every path of the encoder's look-ahead, at every place in a block.
Bytes copiesOfEarlierBytes(std::mt19937& random, size_t size)
{
    Bytes made;
    made.reserve(size);
    while (made.size() < size) {
        const size_t length = 1 + random() % (random() % 8 == 0 ? 600 : 12);
        const size_t distance = 1 + random() % (random() % 4 == 0 ? 40000 : 300);
        if (random() % 3 == 0 || distance > made.size()) {
            for (size_t i = 0; i < length && made.size() < size; ++i)
                made.push_back(static_cast<uint8_t>(random() % (random() % 2 ? 4 : 256)));
            continue;
        }
        for (size_t i = 0; i < length && made.size() < size; ++i)
            made.push_back(made[made.size() - distance]);
    }
    return made;
}

// Filtered rows of a drawn picture: each row the one above, with a few pixels changed, shifted or
// not, as windows, text and strokes of notes leave them.
Bytes drawnRows(std::mt19937& random, size_t rowBytes, size_t rows)
{
    Bytes made(rowBytes * rows);
    for (size_t row = 0; row < rows; ++row) {
        uint8_t* at = made.data() + row * rowBytes;
        if (row == 0 || random() % 5 == 0) {
            for (size_t i = 0; i < rowBytes; ++i)
                at[i] = static_cast<uint8_t>(i % 97 < 60 ? 0 : random() % 3);
        } else {
            std::memcpy(at, at - rowBytes, rowBytes);
            for (int changes = static_cast<int>(random() % 8); changes > 0; --changes)
                at[random() % rowBytes] = static_cast<uint8_t>(random());
        }
        at[0] = static_cast<uint8_t>(random() % 5); // the filter byte
    }
    return made;
}

// The encoder for rows, one kept for every input as a thread keeps it: each stream inflates to
// its input within the room asked for, and ends where the walk finds its final block. Noise is
// stored, costing next to nothing more than itself; zeros shrink to almost nothing.
TEST(RowDeflate, EveryInputInflatesToItselfWithinItsBoundEndingWhereItSays)
{
    std::mt19937 random(11);
    std::vector<std::tuple<std::string, Bytes, RowShape>> cases;
    for (auto& [name, input] : inputs())
        cases.emplace_back(name, std::move(input), RowShape{});
    for (const size_t size : {size_t{0}, size_t{7}, size_t{8}, size_t{9}, size_t{16}})
        cases.emplace_back("short_" + std::to_string(size), Bytes(size, 9), RowShape{});
    for (int trial = 0; trial < 60; ++trial)
        cases.emplace_back("copies_" + std::to_string(trial),
                           copiesOfEarlierBytes(random, 1 + random() % 150'000), RowShape{});
    for (const size_t rowBytes :
         {size_t{7}, size_t{301}, size_t{18001}, size_t{32768}, size_t{40001}})
        for (const unsigned pixelBytes : {3u, 4u})
            cases.emplace_back("rows_of_" + std::to_string(rowBytes),
                               drawnRows(random, rowBytes, 2'000'000 / rowBytes + 2),
                               RowShape{rowBytes, pixelBytes});
    RowDeflater deflater;
    for (const auto& [name, input, shape] : cases) {
        SCOPED_TRACE(name);
        const size_t bound = RowDeflater::bound(input.size());
        Bytes stream(bound + 1, 0xEE);
        const DeflateEnd end =
            deflater.compress(input.data(), 0, input.size(), shape, stream.data());
        const size_t written = static_cast<size_t>((end.endBit + 7) / 8);
        ASSERT_LE(written, bound);
        EXPECT_EQ(stream[bound], 0xEE);
        EXPECT_EQ(rawInflate(stream.data(), written, input.size()), input);
        const auto walked = findDeflateEnd(stream.data(), written);
        ASSERT_TRUE(walked.has_value());
        EXPECT_EQ(walked->finalBlockBit, end.finalBlockBit);
        EXPECT_EQ(walked->endBit, end.endBit);
        if (name.rfind("noise", 0) == 0) {
            EXPECT_LE(written, input.size() + input.size() / 1000 + 8);
        }
        if (name == "zeros_1500000") {
            EXPECT_LE(written, input.size() / 200);
        }
    }
}

// Matches reach back into the bytes before the input as far as deflate's window and no further:
// input that repeats what lies a window before it shrinks to almost nothing, and inflates to
// itself from the window's bytes, whatever the dictionary given beyond them.
TEST(RowDeflate, MatchesReachBackIntoTheDictionaryAsFarAsTheWindow)
{
    constexpr size_t kWindowBytes = 32768;
    std::mt19937 random(13);
    for (const size_t dictionary : {size_t{0}, size_t{1000}, kWindowBytes, size_t{50'000}}) {
        SCOPED_TRACE(dictionary);
        Bytes bytes(dictionary);
        for (uint8_t& byte : bytes)
            byte = static_cast<uint8_t>(random());
        const size_t size = 100'000;
        for (size_t i = 0; i < size; ++i)
            bytes.push_back(bytes.size() >= kWindowBytes ? bytes[bytes.size() - kWindowBytes]
                                                         : static_cast<uint8_t>(random()));
        RowDeflater deflater;
        Bytes stream(RowDeflater::bound(size));
        const DeflateEnd end =
            deflater.compress(bytes.data(), dictionary, size, RowShape{}, stream.data());
        const size_t written = static_cast<size_t>((end.endBit + 7) / 8);
        const size_t window = std::min(dictionary, kWindowBytes);
        const Bytes before(bytes.begin() + static_cast<std::ptrdiff_t>(dictionary - window),
                           bytes.begin() + static_cast<std::ptrdiff_t>(dictionary));
        const Bytes input(bytes.begin() + static_cast<std::ptrdiff_t>(dictionary), bytes.end());
        EXPECT_EQ(rawInflate(stream.data(), written, size, before), input);
        if (dictionary >= kWindowBytes) {
            EXPECT_LT(written, size / 50);
        }
    }
}

// An input longer than a segment goes in segments, each looking back into the one before: the
// stream still inflates to the input, ends where it says, and loses almost nothing at the seams.
TEST(RowDeflate, SegmentsJoinIntoOneStreamThatLooksBackAcrossTheirSeams)
{
    std::mt19937 random(17);
    Bytes bytes(20'000);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    const Bytes rows = drawnRows(random, 3001, 1000);
    bytes.insert(bytes.end(), rows.begin(), rows.end());
    const size_t dictionary = 20'000;
    const size_t size = rows.size();
    const Bytes before(bytes.begin(), bytes.begin() + dictionary);
    const RowShape shape{3001, 3};
    Bytes whole(RowDeflater::bound(size));
    const DeflateEnd wholeEnd =
        RowDeflater().compress(bytes.data(), dictionary, size, shape, whole.data());
    for (const size_t segment : {size_t{4096}, size_t{100'000}, size_t{1'000'001}}) {
        SCOPED_TRACE(segment);
        RowDeflater deflater(segment);
        Bytes stream(RowDeflater::bound(size));
        const DeflateEnd end =
            deflater.compress(bytes.data(), dictionary, size, shape, stream.data());
        const size_t written = static_cast<size_t>((end.endBit + 7) / 8);
        ASSERT_LE(written, stream.size());
        EXPECT_EQ(rawInflate(stream.data(), written, size, before), rows);
        const auto walked = findDeflateEnd(stream.data(), written);
        ASSERT_TRUE(walked.has_value());
        EXPECT_EQ(walked->finalBlockBit, end.finalBlockBit);
        EXPECT_EQ(walked->endBit, end.endBit);
        if (segment >= 100'000) {
            EXPECT_LE(end.endBit, wholeEnd.endBit + wholeEnd.endBit / 20);
        }
    }
}

// Code lengths for counts that would make a Huffman code deeper than deflate allows (counts that
// grow as Fibonacci's numbers do), for one symbol and two, for every symbol alike and for random
// counts: each used symbol, and no other, has a length within the limit, the code is exactly
// complete, as inflaters require, and it costs no more than Huffman's own bound.
TEST(DeflateCodes, LengthsStayWithinTheirLimitAndMakeACompleteCode)
{
    std::mt19937 random(19);
    const auto fibonacci = [](size_t symbols) {
        std::vector<uint32_t> counts(symbols, 1);
        for (size_t s = 2; s < symbols; ++s)
            counts[s] = counts[s - 1] + counts[s - 2];
        return counts;
    };
    std::vector<std::tuple<std::string, std::vector<uint32_t>, int>> cases = {
        {"fibonacci_30", fibonacci(30), 15},
        {"fibonacci_19", fibonacci(19), 7},
        {"alike_286", std::vector<uint32_t>(286, 1), 15},
        {"first_alone", {5, 0, 0, 0}, 15},
        {"fourth_alone", {0, 0, 0, 9}, 7},
        {"two", {0, 3, 0, 1000}, 15},
    };
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint32_t> counts(286);
        for (uint32_t& count : counts)
            count = random() % 3 == 0 ? 0 : 1u << (random() % 20);
        cases.emplace_back("random_" + std::to_string(trial), counts, 15);
    }
    for (const auto& [name, counts, limit] : cases) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> lengths(counts.size(), 99);
        deflate::codeLengths(counts.data(), static_cast<int>(counts.size()), limit, lengths.data());
        const size_t used = static_cast<size_t>(
            std::count_if(counts.begin(), counts.end(), [](uint32_t c) { return c != 0; }));
        uint64_t filled = 0;
        double cost = 0;
        double entropy = 0;
        double total = 0;
        for (const uint32_t count : counts)
            total += count;
        for (size_t s = 0; s < counts.size(); ++s) {
            if (counts[s] != 0) {
                EXPECT_GE(lengths[s], 1) << s;
                cost += static_cast<double>(counts[s]) * lengths[s];
                entropy += static_cast<double>(counts[s]) * std::log2(total / counts[s]);
            } else if (used > 1) {
                EXPECT_EQ(lengths[s], 0) << s;
            }
            EXPECT_LE(lengths[s], limit) << s;
            if (lengths[s] != 0)
                filled += uint64_t{1} << (limit - lengths[s]);
        }
        EXPECT_EQ(filled, uint64_t{1} << limit);
        EXPECT_LE(cost, entropy + total);
    }
}

} // namespace
} // namespace ombri
