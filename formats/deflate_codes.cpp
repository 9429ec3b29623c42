#include "formats/deflate_codes.h"

#include <algorithm>
#include <cassert>

namespace ombri::deflate {

void codeLengths(const uint32_t* counts, int symbols, int limit, uint8_t* lengths)
{
    assert(symbols <= kMostSymbols && limit < 31 && symbols <= (1 << limit));
    struct Leaf {
        uint32_t count;
        int symbol;
    };
    std::array<Leaf, kMostSymbols> leaves{};
    int used = 0;
    for (int s = 0; s < symbols; ++s) {
        lengths[s] = 0;
        if (counts[s] != 0)
            leaves[used++] = {counts[s], s};
    }
    if (used == 0)
        return;
    if (used == 1) {
        lengths[leaves[0].symbol] = 1;
        lengths[leaves[0].symbol == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(leaves.begin(), leaves.begin() + used, [](const Leaf& a, const Leaf& b) {
        return a.count != b.count ? a.count < b.count : a.symbol < b.symbol;
    });
    // Huffman's merging by two queues: the leaves in order, and the merged nodes, which are made
    // in order of weight.
    std::array<uint64_t, 2 * kMostSymbols> weight{};
    std::array<int, 2 * kMostSymbols> parent{};
    for (int i = 0; i < used; ++i)
        weight[i] = leaves[i].count;
    int leaf = 0;
    int merged = used;
    int made = used;
    const auto lightest = [&] {
        if (leaf < used && (merged >= made || weight[leaf] <= weight[merged]))
            return leaf++;
        return merged++;
    };
    for (int i = 0; i + 1 < used; ++i) {
        const int a = lightest();
        const int b = lightest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    std::array<int, 2 * kMostSymbols> depth{};
    for (int node = made - 2; node >= 0; --node)
        depth[node] = depth[parent[node]] + 1;
    // Lengths past the limit are cut to it, and the code, now over-full, is paid back by making
    // the longest codes under the limit, of the rarest symbols, a bit longer; then any room left
    // goes to the commonest of the longest.
    const int64_t whole = int64_t{1} << limit;
    int64_t filled = 0;
    for (int i = 0; i < used; ++i) {
        depth[i] = std::min(depth[i], limit);
        filled += whole >> depth[i];
    }
    while (filled > whole) {
        int longest = -1;
        for (int i = 0; i < used; ++i)
            if (depth[i] < limit && (longest < 0 || depth[i] > depth[longest]))
                longest = i;
        filled -= whole >> (depth[longest] + 1);
        ++depth[longest];
    }
    while (filled < whole) {
        int longest = used - 1;
        for (int i = used - 2; i >= 0; --i)
            if (depth[i] > depth[longest])
                longest = i;
        filled += whole >> depth[longest];
        --depth[longest];
    }
    for (int i = 0; i < used; ++i)
        lengths[leaves[i].symbol] = static_cast<uint8_t>(depth[i]);
}

} // namespace ombri::deflate
