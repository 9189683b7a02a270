#include "package/HuffmanCode.h"

#include <algorithm>
#include <vector>

namespace quarry {

namespace {

// Unlimited Huffman code lengths of the used symbols (at least two), by the
// two-queue method over symbols sorted by frequency.
unsigned HuffmanDepths(const std::vector<std::uint32_t>& weights, const std::vector<std::size_t>& used,
                       std::uint8_t* lengths) {
    const std::size_t n = used.size();
    std::vector<std::size_t> order(used);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return weights[a] != weights[b] ? weights[a] < weights[b] : a < b;
    });
    // Nodes 0..n-1 are the leaves in order, n.. the merged ones.
    std::vector<std::uint64_t> weight(2 * n - 1);
    std::vector<std::size_t> parent(2 * n - 1, 0);
    for (std::size_t i = 0; i < n; ++i) weight[i] = weights[order[i]];
    std::size_t leaf = 0;
    std::size_t inner = n;
    std::size_t next = n;
    auto takeSmallest = [&]() {
        if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    for (; next < 2 * n - 1; ++next) {
        const std::size_t a = takeSmallest();
        const std::size_t b = takeSmallest();
        weight[next] = weight[a] + weight[b];
        parent[a] = next;
        parent[b] = next;
    }
    // Depths from the root (the last node) down.
    std::vector<unsigned> depth(2 * n - 1, 0);
    unsigned deepest = 0;
    for (std::size_t i = 2 * n - 1; i-- > 0;) {
        if (i != 2 * n - 2) depth[i] = depth[parent[i]] + 1;
        if (i < n) {
            lengths[order[i]] = static_cast<std::uint8_t>(std::min(depth[i], 255u));
            deepest = std::max(deepest, depth[i]);
        }
    }
    return deepest;
}

}  // namespace

void BuildHuffmanLengths(const std::uint32_t* frequencies, std::size_t count, unsigned maxBits,
                         std::uint8_t* lengths) {
    std::vector<std::uint32_t> weights(frequencies, frequencies + count);
    std::vector<std::size_t> used;
    for (std::size_t i = 0; i < count; ++i) {
        lengths[i] = 0;
        if (weights[i] != 0) used.push_back(i);
    }
    if (used.size() < 2) {
        for (std::size_t i = 0; i < 2; ++i) {
            if (weights[i] == 0) {
                weights[i] = 1;
                used.push_back(i);
            }
            if (used.size() == 2) break;
        }
        std::sort(used.begin(), used.end());
    }
    // Flattening the weights until the deepest code fits keeps the code
    // close to optimal; it ends, as equal weights give a balanced tree.
    while (HuffmanDepths(weights, used, lengths) > maxBits) {
        for (std::size_t i : used) weights[i] = (weights[i] >> 1) | 1;
    }
}

void CanonicalHuffmanCodes(const std::uint8_t* lengths, std::size_t count, std::uint16_t* codes) {
    unsigned lengthCount[17] = {};
    for (std::size_t i = 0; i < count; ++i) ++lengthCount[lengths[i]];
    lengthCount[0] = 0;
    unsigned next[17] = {};
    unsigned code = 0;
    for (unsigned bits = 1; bits <= 16; ++bits) {
        code = (code + lengthCount[bits - 1]) << 1;
        next[bits] = code;
    }
    for (std::size_t i = 0; i < count; ++i) {
        codes[i] = lengths[i] == 0 ? 0 : static_cast<std::uint16_t>(next[lengths[i]]++);
    }
}

}  // namespace quarry
