#include "rank_select.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kDigitBits = 16;
constexpr size_t kDigits = size_t{1} << kDigitBits;
// Keys kept at most in the last pass (8 MiB).
constexpr int64_t kKeptKeys = int64_t{1} << 20;

template <typename To, typename From>
To bits_of(From value) {
    static_assert(sizeof(To) == sizeof(From), "same size");
    To bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Keys that order raw values as numbers, their significant bits at the top
// of 64: integers offset to unsigned, floating-point bit patterns with the
// sign bit set for positive values and every bit flipped for negative ones.
// Reversed (BSCALE below zero) they order the shown values.
struct KeyCodec {
    KeyKind kind;
    bool reversed;

    int bits() const {
        switch (kind) {
            case KeyKind::u8: return 8;
            case KeyKind::i16: return 16;
            case KeyKind::i32:
            case KeyKind::f32: return 32;
            case KeyKind::f64: break;
        }
        return 64;
    }
    uint64_t mask() const { return bits() == 64 ? ~uint64_t{0} : ~(~uint64_t{0} >> bits()); }

    uint64_t key(double raw) const {
        uint64_t k = 0;
        switch (kind) {
            case KeyKind::u8: k = static_cast<uint64_t>(raw) << 56; break;
            case KeyKind::i16: k = static_cast<uint64_t>(static_cast<int64_t>(raw) + 32768) << 48; break;
            case KeyKind::i32: k = static_cast<uint64_t>(static_cast<int64_t>(raw) + 2147483648LL) << 32; break;
            case KeyKind::f32: {
                const uint32_t b = bits_of<uint32_t>(static_cast<float>(raw));
                k = static_cast<uint64_t>(b >> 31 ? ~b : b | 0x80000000u) << 32;
                break;
            }
            case KeyKind::f64: {
                const uint64_t b = bits_of<uint64_t>(raw);
                k = b >> 63 ? ~b : b | (uint64_t{1} << 63);
                break;
            }
        }
        return reversed ? ~k & mask() : k;
    }

    double raw(uint64_t k) const {
        if (reversed) k = ~k & mask();
        switch (kind) {
            case KeyKind::u8: return static_cast<double>(k >> 56);
            case KeyKind::i16: return static_cast<double>(static_cast<int64_t>(k >> 48) - 32768);
            case KeyKind::i32: return static_cast<double>(static_cast<int64_t>(k >> 32) - 2147483648LL);
            case KeyKind::f32: {
                const uint32_t b = static_cast<uint32_t>(k >> 32);
                return bits_of<float>(b >> 31 ? b & 0x7FFFFFFFu : ~b);
            }
            case KeyKind::f64: break;
        }
        return bits_of<double>(k >> 63 ? k & ~(uint64_t{1} << 63) : ~k);
    }
};

// A rank sought: the keys left are those beginning with `prefix` (its
// `depth` bits), among which it has rank `rank`.
struct Target {
    int64_t rank;
    int depth = 0;
    uint64_t prefix = 0;
    bool keep = false;  // the next pass keeps the keys left rather than counting their next digit
    bool done = false;
    uint64_t key = 0;
};

// The keys of one prefix in one pass: counted by their next digit, or kept.
struct Group {
    int depth;
    uint64_t prefix;
    bool keep;
    std::vector<uint32_t> digits;
    std::vector<uint64_t> keys;

    bool takes(uint64_t k) const { return depth == 0 || k >> (64 - depth) == prefix; }
    void add(uint64_t k) {
        if (keep)
            keys.push_back(k);
        else
            ++digits[(k >> (64 - depth - kDigitBits)) & (kDigits - 1)];
    }
};

// Calls each(key) for the key of every value finite when shown.
template <typename Each>
void for_each_key(PictureSource& source, const KeyCodec& codec, Each each) {
    const Scale scale = source.scale();
    const int64_t width = source.width();
    source.all_rows([&](int64_t, const double* values) {
        for (int64_t x = 0; x < width; ++x)
            if (std::isfinite(scale.shown(values[x]))) each(codec.key(values[x]));
    });
}

// Narrows a target by the digit counts of its group: the digit holding its
// rank. Done when the key has no bits left; the next pass keeps the keys
// left when they are few.
void narrow(Target& t, const std::vector<uint32_t>& digits, int key_bits, int64_t keep_limit) {
    size_t digit = 0;
    while (t.rank >= int64_t{digits[digit]}) t.rank -= digits[digit++];
    t.prefix = t.prefix << kDigitBits | digit;
    t.depth += kDigitBits;
    if (t.depth >= key_bits) {
        t.done = true;
        t.key = t.prefix << (64 - t.depth);
    } else {
        t.keep = int64_t{digits[digit]} <= keep_limit;
    }
}

}  // namespace

RankSelector::RankSelector(PictureSource& source) : source_(source), first_digits_(kDigits, 0) {
    const KeyCodec codec{source.key_kind(), source.scale().bscale < 0};
    for_each_key(source, codec, [&](uint64_t k) { ++first_digits_[k >> (64 - kDigitBits)]; });
    for (const uint32_t n : first_digits_) count_ += n;
}

std::vector<double> RankSelector::raw_values_at(const std::vector<int64_t>& ranks) {
    const KeyCodec codec{source_.key_kind(), source_.scale().bscale < 0};
    const int64_t keep_limit = kKeptKeys / static_cast<int64_t>(std::max<size_t>(ranks.size(), 1));
    std::vector<Target> targets;
    for (const int64_t rank : ranks) {
        targets.push_back(Target{rank});
        narrow(targets.back(), first_digits_, codec.bits(), keep_limit);
    }
    for (;;) {
        std::vector<Group> groups;
        std::vector<size_t> group_of(targets.size());
        for (size_t i = 0; i < targets.size(); ++i) {
            const Target& t = targets[i];
            if (t.done) continue;
            auto same = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
                return g.depth == t.depth && g.prefix == t.prefix && g.keep == t.keep;
            });
            if (same == groups.end()) {
                groups.push_back(Group{t.depth, t.prefix, t.keep, {}, {}});
                if (!t.keep) groups.back().digits.assign(kDigits, 0);
                same = groups.end() - 1;
            }
            group_of[i] = static_cast<size_t>(same - groups.begin());
        }
        if (groups.empty()) break;
        for_each_key(source_, codec, [&](uint64_t k) {
            for (Group& g : groups)
                if (g.takes(k)) g.add(k);
        });
        for (size_t i = 0; i < targets.size(); ++i) {
            Target& t = targets[i];
            if (t.done) continue;
            Group& g = groups[group_of[i]];
            if (g.keep) {
                std::nth_element(g.keys.begin(), g.keys.begin() + t.rank, g.keys.end());
                t.key = g.keys[static_cast<size_t>(t.rank)];
                t.done = true;
            } else {
                narrow(t, g.digits, codec.bits(), keep_limit);
            }
        }
    }
    std::vector<double> values;
    for (const Target& t : targets) values.push_back(codec.raw(t.key));
    return values;
}
