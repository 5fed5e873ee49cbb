#include "stretch.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kWhite = 255.0;

std::vector<float> finite_values(const ImagePlane& plane, int32_t width, int32_t height) {
    std::vector<float> values;
    values.reserve(static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)));
    for (int32_t x = 0; x < width; ++x)
        for (int32_t y = 0; y < height; ++y)
            if (std::isfinite(plane[x][y])) values.push_back(plane[x][y]);
    return values;
}

// The value at `percent` of the values, which are reordered.
double percentile(std::vector<float>& values, double percent) {
    const double rank = percent / 100.0 * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(rank));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(below), values.end());
    const double lower = values[below];
    if (below + 1 >= values.size()) return lower;
    const double upper = *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(below) + 1, values.end());
    return lower + (rank - static_cast<double>(below)) * (upper - lower);
}

float grey_level(float value, const Stretch& stretch) {
    if (std::isnan(value)) return 0.0f;
    if (!(stretch.high > stretch.low)) return value > stretch.low ? static_cast<float>(kWhite) : 0.0f;
    const double level = (value - stretch.low) / (stretch.high - stretch.low) * kWhite;
    return static_cast<float>(std::floor(std::clamp(level, 0.0, kWhite) + 0.5));
}

}  // namespace

Stretch range_stretch(const ImagePlane& plane, int32_t width, int32_t height) {
    Stretch stretch;
    bool seen = false;
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t y = 0; y < height; ++y) {
            const float value = plane[x][y];
            if (!std::isfinite(value)) continue;
            stretch.low = seen ? std::min<double>(stretch.low, value) : value;
            stretch.high = seen ? std::max<double>(stretch.high, value) : value;
            seen = true;
        }
    }
    return stretch;
}

Stretch percentile_stretch(const ImagePlane& plane, int32_t width, int32_t height, double low_percent,
                           double high_percent) {
    std::vector<float> values = finite_values(plane, width, height);
    if (values.empty()) return Stretch{};
    return Stretch{percentile(values, low_percent), percentile(values, high_percent)};
}

void apply_stretch(const Stretch& stretch, ImagePlane& plane, int32_t width, int32_t height) {
    for (int32_t x = 0; x < width; ++x)
        for (int32_t y = 0; y < height; ++y) plane[x][y] = grey_level(plane[x][y], stretch);
}
