#include "tone.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kWhite = 255.0;
constexpr double kLogA = 1000.0;   // astropy's LogStretch default
constexpr double kAsinhA = 0.1;    // astropy's AsinhStretch default

// Grey level of a value that is not NaN, for linear cuts: exactly
// (value - black) / (white - black) * 255, clipped and rounded.
inline uint8_t linear_level(double value, const Cuts& cuts) {
    const double level = (value - cuts.black) / (cuts.white - cuts.black) * kWhite;
    return static_cast<uint8_t>(std::clamp(level, 0.0, kWhite) + 0.5);
}

// The level of x in 0..1, from the curve itself.
uint8_t direct_level(Curve curve, double x) {
    return static_cast<uint8_t>(std::clamp(curve_value(curve, x) * kWhite, 0.0, kWhite) + 0.5);
}

double from_bits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

uint64_t to_bits(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

}  // namespace

bool parse_curve(const std::string& name, Curve& curve) {
    static const std::pair<const char*, Curve> kNames[] = {
        {"linear", Curve::linear}, {"sqrt", Curve::sqrt}, {"log", Curve::log}, {"asinh", Curve::asinh}};
    for (const auto& [text, value] : kNames) {
        if (name != text) continue;
        curve = value;
        return true;
    }
    return false;
}

double curve_value(Curve curve, double x) {
    switch (curve) {
        case Curve::linear: return x;
        case Curve::sqrt: return std::sqrt(x);
        case Curve::log: return std::log(kLogA * x + 1.0) / std::log(kLogA + 1.0);
        case Curve::asinh: return std::asinh(x / kAsinhA) / std::asinh(1.0 / kAsinhA);
    }
    return x;
}

GreyMap::GreyMap(const Cuts& cuts, Curve curve, const Scale& scale)
    : cuts_(cuts), curve_(curve), scale_(scale), flat_(!(cuts.white > cuts.black)) {
    if (curve_ == Curve::linear) return;
    // Non-negative doubles order as their bit patterns: each start is found
    // by bisection over the patterns of 0..1.
    const uint64_t zero = to_bits(0.0), one = to_bits(1.0);
    starts_[0] = 0.0;
    for (int k = 1; k <= 255; ++k) {
        uint64_t lo = zero, hi = one + 1;  // the start lies in [lo, hi)
        if (direct_level(curve_, 1.0) < k) {
            starts_[static_cast<size_t>(k)] = 2.0;  // never reached
            continue;
        }
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            if (direct_level(curve_, from_bits(mid)) >= k)
                hi = mid;
            else
                lo = mid + 1;
        }
        starts_[static_cast<size_t>(k)] = from_bits(lo);
    }
    starts_[256] = 2.0;
    for (int c = 0; c < kCells; ++c) {
        const double x = static_cast<double>(c) / kCells;
        cell_levels_[static_cast<size_t>(c)] = static_cast<uint8_t>(
            std::upper_bound(starts_.begin() + 1, starts_.begin() + 256, x) - (starts_.begin() + 1));
    }
}

uint8_t GreyMap::curve_level(double x) const {
    x = std::clamp(x, 0.0, 1.0);
    size_t level = cell_levels_[std::min(static_cast<size_t>(x * kCells), static_cast<size_t>(kCells - 1))];
    while (x >= starts_[level + 1]) ++level;
    return static_cast<uint8_t>(level);
}

uint8_t GreyMap::level(double shown) const {
    if (std::isnan(shown)) return 0;
    if (flat_) return shown > cuts_.black ? 255 : 0;
    if (curve_ == Curve::linear) return linear_level(shown, cuts_);
    return curve_level((shown - cuts_.black) / (cuts_.white - cuts_.black));
}

void GreyMap::levels(const double* raw, int64_t n, uint8_t* grey) const {
    if (curve_ == Curve::linear && !flat_) {
        for (int64_t i = 0; i < n; ++i) {
            const double shown = scale_.shown(raw[i]);
            grey[i] = std::isnan(shown) ? 0 : linear_level(shown, cuts_);
        }
        return;
    }
    for (int64_t i = 0; i < n; ++i) grey[i] = level(scale_.shown(raw[i]));
}
