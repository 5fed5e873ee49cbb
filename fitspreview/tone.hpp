// Grey levels from shown values: the cuts scale a value to 0..1, a tone
// curve (astropy.visualization's stretches, with their defaults) bends it,
// and the result times 255, rounded, is the grey level.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cuts.hpp"
#include "picture_source.hpp"

enum class Curve { linear, sqrt, log, asinh };

// The curve named `name` ("linear", "sqrt", "log", "asinh"); false for any
// other name.
bool parse_curve(const std::string& name, Curve& curve);

// The curve at x in 0..1: x; sqrt(x); log(a x + 1) / log(a + 1) with
// a = 1000; asinh(x / a) / asinh(1 / a) with a = 0.1.
double curve_value(Curve curve, double x);

class GreyMap {
public:
    GreyMap(const Cuts& cuts, Curve curve, const Scale& scale);

    // Grey level 0..255 of a shown value: x = (value - black) / (white -
    // black), clipped to 0..1, gives round(255 * curve(x)). NaN is 0; when
    // white is not above black, values above black are 255 and the rest 0.
    uint8_t level(double shown) const;

    // The grey levels of n raw values.
    void levels(const double* raw, int64_t n, uint8_t* grey) const;

private:
    uint8_t curve_level(double x) const;

    Cuts cuts_;
    Curve curve_;
    Scale scale_;
    bool flat_;
    // Where each grey level begins: the smallest x in 0..1 whose level is k
    // or more, so that a level is found by comparisons rather than by the
    // curve; and the level at the start of each of kCells equal cells of 0..1.
    static constexpr int kCells = 4096;
    std::array<double, 257> starts_{};
    std::array<uint8_t, kCells> cell_levels_{};
};
