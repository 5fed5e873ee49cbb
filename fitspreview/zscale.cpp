// zscale_cuts: a sample of about 1000 pixels read from the rows that hold
// them, and the line fitted to it.
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "zscale.hpp"

namespace {

// zscale's settings, those of astropy's ZScaleInterval.
constexpr int64_t kZscaleSamples = 1000;
constexpr double kZscaleContrast = 0.25;
constexpr double kZscaleMaxReject = 0.5;  // at least this share of the sample is kept
constexpr size_t kZscaleMinPixels = 5;
constexpr double kZscaleRejectSigmas = 2.5;
constexpr int kZscaleMaxRounds = 5;
constexpr double kZscaleGrow = 0.01;  // rejection window, as a share of the sample

// The finite values in each row: known without reading for a picture of
// integers, counted in one pass otherwise.
std::vector<int64_t> finite_per_row(PictureSource& source) {
    int64_t known = 0;
    for (const auto& span : source.finite_columns()) known += span.second - span.first;
    std::vector<int64_t> counts(static_cast<size_t>(source.height()), known);
    if (known > 0) return counts;
    const Scale scale = source.scale();
    const int64_t width = source.width();
    source.all_rows([&](int64_t row, const double* values) {
        int64_t n = 0;
        for (int64_t x = 0; x < width; ++x) n += std::isfinite(scale.shown(values[x])) ? 1 : 0;
        counts[static_cast<size_t>(row)] = n;
    });
    return counts;
}

// The column of the finite value `skip` values after a row's first, when
// the columns of finite values are known.
int64_t column_of(const std::vector<std::pair<int64_t, int64_t>>& spans, int64_t skip) {
    for (const auto& span : spans) {
        if (skip < span.second - span.first) return span.first + skip;
        skip -= span.second - span.first;
    }
    return -1;
}

// Every k-th finite value in file order (row by row, each from column 0), at
// most kZscaleSamples of them, k = max(1, floor(finite values /
// kZscaleSamples)), shown; only the rows holding them are read (only their
// columns, where those are known).
std::vector<double> zscale_sample(PictureSource& source) {
    const std::vector<int64_t> row_finite = finite_per_row(source);
    int64_t finite = 0;
    for (const int64_t n : row_finite) finite += n;
    const int64_t stride = std::max<int64_t>(1, finite / kZscaleSamples);
    const int64_t count = std::min(kZscaleSamples, (finite + stride - 1) / stride);

    // The finite values wanted, by row: how many finite values come before
    // each in its row.
    std::map<int64_t, std::vector<int64_t>> wanted;
    int64_t row = 0, before_row = 0;  // finite values in the rows below `row`
    for (int64_t rank = 0; rank < count * stride; rank += stride) {
        while (before_row + row_finite[static_cast<size_t>(row)] <= rank) before_row += row_finite[static_cast<size_t>(row++)];
        wanted[row].push_back(rank - before_row);
    }

    const Scale scale = source.scale();
    const auto spans = source.finite_columns();
    std::vector<double> sample;
    sample.reserve(static_cast<size_t>(count));
    for (const auto& [y, skips] : wanted) {
        if (!spans.empty()) {
            for (const int64_t skip : skips) {
                const int64_t x = column_of(spans, skip);
                source.rows(y, y + 1, false, x, x + 1,
                            [&](int64_t, const double* values) { sample.push_back(scale.shown(values[x])); });
            }
            continue;
        }
        const std::vector<int64_t>& row_skips = skips;  // a lambda may not capture a structured binding
        source.rows(y, y + 1, false, 0, source.width(), [&](int64_t, const double* values) {
            size_t next = 0;
            int64_t seen = 0;
            for (int64_t x = 0; x < source.width() && next < row_skips.size(); ++x) {
                const double value = scale.shown(values[x]);
                if (!std::isfinite(value)) continue;
                if (seen++ == row_skips[next]) {
                    sample.push_back(value);
                    ++next;
                }
            }
        });
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

}  // namespace

Cuts zscale_cuts(PictureSource& source) {
    std::vector<double> sample = zscale_sample(source);
    if (sample.empty()) return Cuts{source.scale().shown(0.0), source.scale().shown(0.0)};
    std::sort(sample.begin(), sample.end());
    const size_t n = sample.size();
    Cuts cuts{sample.front(), sample.back()};

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
    cuts.black = std::max(cuts.black, median - (static_cast<double>(center) - 1.0) * slope);
    cuts.white = std::min(cuts.white, median + static_cast<double>(n - center) * slope);
    return cuts;
}
