#include "stretch.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kWhite = 255.0;

// zscale's settings, those of astropy's ZScaleInterval.
constexpr size_t kZscaleSamples = 1000;
constexpr double kZscaleContrast = 0.25;
constexpr double kZscaleMaxReject = 0.5;   // at least this share of the sample is kept
constexpr size_t kZscaleMinPixels = 5;
constexpr double kZscaleRejectSigmas = 2.5;
constexpr int kZscaleMaxRounds = 5;
constexpr double kZscaleGrow = 0.01;       // rejection window, as a share of the sample

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

// Every k-th finite value in file order (row by row, each from column 0), at
// most kZscaleSamples of them, k = max(1, floor(finite values /
// kZscaleSamples)). The plane holds columns, so the finite values of each row
// are counted in one pass down the columns; a sample is then found in its row,
// at once where the row has no value that is not finite.
std::vector<double> zscale_sample(const ImagePlane& plane, int32_t width, int32_t height) {
    std::vector<int64_t> row_finite(static_cast<size_t>(std::max(height, 0)), 0);
    for (int32_t x = 0; x < width; ++x)
        for (int32_t y = 0; y < height; ++y) row_finite[static_cast<size_t>(y)] += std::isfinite(plane[x][y]) ? 1 : 0;
    int64_t finite = 0;
    for (const int64_t n : row_finite) finite += n;
    const int64_t stride = std::max<int64_t>(1, finite / static_cast<int64_t>(kZscaleSamples));
    const int64_t count = std::min<int64_t>(static_cast<int64_t>(kZscaleSamples), (finite + stride - 1) / stride);

    std::vector<double> sample;
    sample.reserve(static_cast<size_t>(count));
    int32_t y = 0;
    int64_t before_row = 0;  // finite values in the rows below y
    for (int64_t rank = 0; rank < count * stride; rank += stride) {
        while (before_row + row_finite[static_cast<size_t>(y)] <= rank) before_row += row_finite[static_cast<size_t>(y++)];
        int64_t skip = rank - before_row;
        if (row_finite[static_cast<size_t>(y)] == width) {
            sample.push_back(plane[skip][y]);
            continue;
        }
        for (int32_t x = 0;; ++x) {
            if (!std::isfinite(plane[x][y])) continue;
            if (skip-- == 0) {
                sample.push_back(plane[x][y]);
                break;
            }
        }
    }
    return sample;
}

// Intercept and slope of the least-squares line through (i, values[i]) for
// the ranks i that are kept.
struct Line {
    double intercept = 0.0;
    double slope = 0.0;
};

Line fit_line(const std::vector<double>& values, const std::vector<char>& rejected) {
    double n = 0.0, sum_x = 0.0, sum_y = 0.0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (rejected[i]) continue;
        n += 1.0;
        sum_x += static_cast<double>(i);
        sum_y += values[i];
    }
    const double mean_x = sum_x / n, mean_y = sum_y / n;
    double sxx = 0.0, sxy = 0.0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (rejected[i]) continue;
        const double dx = static_cast<double>(i) - mean_x;
        sxx += dx * dx;
        sxy += dx * (values[i] - mean_y);
    }
    const double slope = sxx > 0.0 ? sxy / sxx : 0.0;
    return Line{mean_y - slope * mean_x, slope};
}

// One round of rejection: marks the kept values farther from `line` than
// kZscaleRejectSigmas standard deviations of the kept values' distances, then
// widens every rejected rank j to the ranks j - (grow - 1) / 2 .. j + grow / 2
// (the window of a centred convolution). Gives the number of values kept.
size_t reject_round(const std::vector<double>& values, const Line& line, size_t grow, std::vector<char>& rejected) {
    const size_t n = values.size();
    std::vector<double> distance(n);
    double kept = 0.0, sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        distance[i] = values[i] - (line.intercept + line.slope * static_cast<double>(i));
        if (rejected[i]) continue;
        kept += 1.0;
        sum += distance[i];
    }
    const double mean = sum / kept;
    double squares = 0.0;
    for (size_t i = 0; i < n; ++i)
        if (!rejected[i]) squares += (distance[i] - mean) * (distance[i] - mean);
    const double threshold = kZscaleRejectSigmas * std::sqrt(squares / kept);
    for (size_t i = 0; i < n; ++i)
        if (distance[i] < -threshold || distance[i] > threshold) rejected[i] = 1;

    std::vector<char> widened(n, 0);
    for (size_t j = 0; j < n; ++j) {
        if (!rejected[j]) continue;
        const size_t first = j >= (grow - 1) / 2 ? j - (grow - 1) / 2 : 0;
        const size_t last = std::min(n - 1, j + grow / 2);
        for (size_t i = first; i <= last; ++i) widened[i] = 1;
    }
    rejected.swap(widened);
    return static_cast<size_t>(std::count(rejected.begin(), rejected.end(), 0));
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

Stretch zscale_stretch(const ImagePlane& plane, int32_t width, int32_t height) {
    std::vector<double> sample = zscale_sample(plane, width, height);
    if (sample.empty()) return Stretch{};
    std::sort(sample.begin(), sample.end());
    const size_t n = sample.size();
    Stretch cuts{sample.front(), sample.back()};

    const size_t min_kept = std::max(kZscaleMinPixels, static_cast<size_t>(static_cast<double>(n) * kZscaleMaxReject));
    const size_t grow = std::max<size_t>(1, static_cast<size_t>(static_cast<double>(n) * kZscaleGrow));
    std::vector<char> rejected(n, 0);
    size_t kept = n, kept_before = n + 1;
    Line line;
    for (int round = 0; round < kZscaleMaxRounds && kept < kept_before && kept >= min_kept; ++round) {
        line = fit_line(sample, rejected);
        kept_before = kept;
        kept = reject_round(sample, line, grow, rejected);
    }
    if (kept < min_kept) return cuts;

    const double slope = line.slope / kZscaleContrast;
    const size_t center = (n - 1) / 2;
    const double median = n % 2 ? sample[n / 2] : (sample[n / 2 - 1] + sample[n / 2]) / 2.0;
    cuts.low = std::max(cuts.low, median - (static_cast<double>(center) - 1.0) * slope);
    cuts.high = std::min(cuts.high, median + static_cast<double>(n - center) * slope);
    return cuts;
}
