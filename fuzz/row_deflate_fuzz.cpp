#include "formats/deflate_blocks.h"
#include "formats/row_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// The encoder for rows on any bytes in any shape. The first five bytes choose the row's and the
// pixel's bytes, whether the input goes in short segments, and how much of the rest comes before
// the input as its dictionary. What it writes must stay within its bound, inflate to the input
// from the dictionary's last window, and end where it says.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    static ombri::RowDeflater whole;
    static ombri::RowDeflater segmented(1000);
    const ombri::RowShape shape{size_t{data[0]} | size_t{data[1]} << 8, data[2] % 9u};
    ombri::RowDeflater& deflater = data[2] & 0x80 ? segmented : whole;
    const uint8_t* bytes = data + 5;
    const size_t dictionary = std::min<size_t>(size - 5, size_t{data[3]} | size_t{data[4]} << 8);
    const size_t inputSize = size - 5 - dictionary;

    const size_t bound = ombri::RowDeflater::bound(inputSize);
    std::vector<uint8_t> stream(bound + 1, 0xEE);
    const ombri::DeflateEnd end =
        deflater.compress(bytes, dictionary, inputSize, shape, stream.data());
    const auto written = static_cast<size_t>((end.endBit + 7) / 8);
    if (written > bound || stream[bound] != 0xEE)
        std::abort();

    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK)
        return 0;
    const size_t window = std::min<size_t>(dictionary, 32768);
    if (window > 0 && inflateSetDictionary(&inflater, bytes + dictionary - window,
                                           static_cast<uInt>(window)) != Z_OK)
        std::abort();
    std::vector<uint8_t> back(inputSize + 1);
    inflater.next_in = stream.data();
    inflater.avail_in = static_cast<uInt>(written);
    inflater.next_out = back.data();
    inflater.avail_out = static_cast<uInt>(back.size());
    const int result = inflate(&inflater, Z_FINISH);
    inflateEnd(&inflater);
    if (result != Z_STREAM_END || inflater.total_out != inputSize ||
        std::memcmp(back.data(), bytes + dictionary, inputSize) != 0)
        std::abort();

    const auto walked = ombri::findDeflateEnd(stream.data(), written);
    if (!walked || walked->finalBlockBit != end.finalBlockBit || walked->endBit != end.endBit)
        std::abort();
    return 0;
}
