#include "formats/deflate_blocks.h"
#include "formats/png_idat.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <random>
#include <string>
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

Bytes rawInflate(const uint8_t* stream, size_t size, size_t expected)
{
    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK)
        return {};
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

} // namespace
} // namespace ombri
