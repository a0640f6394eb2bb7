// Putting a few items (keys, functions) in order of their scores, highest first, as key finding
// and harmonising do several times a bar. Each item is packed with its score and a tie-break into
// one 64-bit number, so that the sort compares plain integers instead of calling back for two
// scores per comparison.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace varimel {

// Unsigned numbers in the order of the scores they stand for.
inline uint32_t orderedBits(int32_t score) {
    return static_cast<uint32_t>(score) ^ 0x80000000u;
}
inline uint32_t orderedBits(float score) {
    // -0 and +0 compare equal, so they must pack alike.
    const auto bits = std::bit_cast<uint32_t>(score + 0.0f);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

namespace score_order {

inline constexpr size_t kMostItems = 32;

// Higher scores first (their bits flipped), then the lower tie-break first.
template <typename Value>
uint64_t pack(Value score, size_t tieBreak) {
    return (uint64_t{~orderedBits(score)} << 32) | (tieBreak & 0xFFFFFFFFu);
}

// Insertion: for a few dozen numbers it beats a general sort's partitioning, and an order that
// is nearly right costs one pass.
inline void sortPacked(std::span<uint64_t> packed) {
    for (size_t i = 1; i < packed.size(); ++i) {
        const uint64_t item = packed[i];
        size_t j = i;
        for (; j > 0 && item < packed[j - 1]; --j) packed[j] = packed[j - 1];
        packed[j] = item;
    }
}

}  // namespace score_order

// Reorders `items` by score(item), highest first; equal scores keep the items' order, as a
// stable sort would.
template <typename Item, typename Score>
void sortByScore(std::span<Item> items, Score score) {
    const size_t n = items.size();
    if (n > score_order::kMostItems) {
        std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
            return orderedBits(score(a)) > orderedBits(score(b));
        });
        return;
    }
    std::array<uint64_t, score_order::kMostItems> packed{};
    std::array<Item, score_order::kMostItems> original{};
    for (size_t i = 0; i < n; ++i) {
        original[i] = items[i];
        packed[i] = score_order::pack(score(items[i]), i);
    }
    score_order::sortPacked(std::span(packed.data(), n));
    for (size_t i = 0; i < n; ++i) items[i] = original[packed[i] & 0xFFFFFFFFu];
}

// Reorders distinct non-negative indices by score(index), highest first, equal scores by index:
// the same answer from any starting order, and quick from one nearly right.
template <typename Score>
void sortIndicesByScore(std::span<int> indices, Score score) {
    const size_t n = indices.size();
    if (n > score_order::kMostItems) {
        std::sort(indices.begin(), indices.end(), [&](int a, int b) {
            const uint32_t left = orderedBits(score(a));
            const uint32_t right = orderedBits(score(b));
            return left != right ? left > right : a < b;
        });
        return;
    }
    std::array<uint64_t, score_order::kMostItems> packed{};
    for (size_t i = 0; i < n; ++i) {
        packed[i] = score_order::pack(score(indices[i]), static_cast<size_t>(indices[i]));
    }
    score_order::sortPacked(std::span(packed.data(), n));
    for (size_t i = 0; i < n; ++i) indices[i] = static_cast<int>(packed[i] & 0xFFFFFFFFu);
}

}  // namespace varimel
