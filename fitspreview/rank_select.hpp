// Exact order statistics of a picture's values without holding them: a radix
// selection over order-preserving keys of the values, one pass over the
// picture per 16 bits of key (16-bit items take one pass, 32-bit items two),
// until the values left beside the one sought are few enough to be kept and
// sorted (a thumbnail's means take two passes that way).
#pragma once

#include <cstdint>
#include <vector>

#include "picture_source.hpp"

class RankSelector {
public:
    // Counts the values that are finite when shown, in one pass that the
    // first search goes on from.
    explicit RankSelector(PictureSource& source);

    int64_t count() const { return count_; }

    // The raw values whose shown values have ranks `ranks` (0 the smallest,
    // each below count()) among the shown values.
    std::vector<double> raw_values_at(const std::vector<int64_t>& ranks);

private:
    PictureSource& source_;
    int64_t count_ = 0;
    std::vector<uint32_t> first_digits_;  // histogram of the keys' first 16 bits
};
