#include "cuts.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "rank_select.hpp"

namespace {

Cuts no_values(const Scale& scale) { return Cuts{scale.shown(0.0), scale.shown(0.0)}; }

}  // namespace

Cuts range_cuts(PictureSource& source) {
    const Scale scale = source.scale();
    const int64_t width = source.width();
    Cuts cuts = no_values(scale);
    bool seen = false;
    source.all_rows([&](int64_t, const double* values) {
        for (int64_t x = 0; x < width; ++x) {
            const double value = scale.shown(values[x]);
            if (!std::isfinite(value)) continue;
            cuts.black = seen ? std::min(cuts.black, value) : value;
            cuts.white = seen ? std::max(cuts.white, value) : value;
            seen = true;
        }
    });
    return cuts;
}

Cuts percentile_cuts(PictureSource& source, double low_percent, double high_percent) {
    RankSelector select(source);
    const int64_t n = select.count();
    if (n == 0) return no_values(source.scale());
    // Each percentile lies between the values of ranks `below` and
    // below + 1 (the last rank alone at 100%).
    const double percents[2] = {low_percent, high_percent};
    double ranks[2];
    int64_t below[2];
    std::vector<int64_t> wanted;
    for (int i = 0; i < 2; ++i) {
        ranks[i] = percents[i] / 100.0 * static_cast<double>(n - 1);
        below[i] = static_cast<int64_t>(std::floor(ranks[i]));
        wanted.push_back(below[i]);
        wanted.push_back(std::min(below[i] + 1, n - 1));
    }
    const std::vector<double> raw = select.raw_values_at(wanted);
    double cut[2];
    for (int i = 0; i < 2; ++i) {
        const double lower = raw[2 * i], upper = raw[2 * i + 1];
        cut[i] = source.scale().shown(lower + (ranks[i] - static_cast<double>(below[i])) * (upper - lower));
    }
    return Cuts{cut[0], cut[1]};
}
