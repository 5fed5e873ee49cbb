#include "frame.hpp"

#include <algorithm>
#include <cmath>
#include <random>

#include "channels.hpp"

namespace {

constexpr double kBias[channels::COUNT] = {1010.0, 1042.0, 987.0, 1023.0};  // ADU
constexpr double kReadNoise[channels::COUNT] = {4.5, 6.0, 5.2, 4.8};         // ADU rms
constexpr double kSky = 350.0;
constexpr double kSaturated = 65535.0;
constexpr double kZero = 32768.0;  // BZERO: stored item = value - 32768
constexpr int kHotColumns = 3;
constexpr int kBadChannel = 1;  // channel b
constexpr double kSeeing = 1.8;  // sigma of a star, in pixels
constexpr int32_t kStarReach = 8;

}  // namespace

double channel_bias(int channel) { return kBias[channel]; }

ChannelBox bad_box(const FrameSpec& frame) {
    const int32_t channel_width = channels::columns_of(kBadChannel, frame.width);
    const int32_t x1 = channel_width * 3 / 10, y1 = frame.height * 6 / 10;
    return ChannelBox{x1, x1 + std::max(1, channel_width / 40), y1, y1 + std::max(1, frame.height / 25)};
}

FrameGenerator::FrameGenerator(const FrameSpec& frame) : frame_(frame), box_(bad_box(frame)) {
    Twister random(frame.seed);
    std::uniform_real_distribution<double> along_x(0.0, frame.width), along_y(0.0, frame.height);
    std::exponential_distribution<double> brightness(1.0 / 4000.0);
    const int stars = frame.width * frame.height / 40000 + 10;
    for (int s = 0; s < stars; ++s) {
        const double cx = along_x(random), cy = along_y(random);
        stars_.push_back(Star{cx, cy, 200.0 + brightness(random)});
    }
    // Two normal numbers per pixel, column by column.
    std::normal_distribution<double> unit(0.0, 1.0);
    columns_.reserve(static_cast<size_t>(frame.width));
    for (int32_t x = 0; x < frame.width; ++x) {
        columns_.push_back(random);
        for (int32_t y = 0; y < frame.height; ++y) {
            unit(random);
            unit(random);
        }
    }
    // Hot columns, kept away from the bad box and its neighbours.
    std::uniform_int_distribution<int32_t> column(0, frame.width - 1);
    for (int h = 0; h < kHotColumns; ++h) {
        int32_t x = column(random);
        if (x % channels::COUNT == kBadChannel) x = (x + 1) % frame.width;
        hot_.push_back(x);
    }
}

void FrameGenerator::band(int32_t first, int32_t count, std::vector<float>& values) {
    const FrameSpec& frame = frame_;
    const int32_t last = first + count;
    values.resize(static_cast<size_t>(frame.width) * static_cast<size_t>(count));
    auto at = [&](int32_t x, int32_t y) -> float& {
        return values[static_cast<size_t>(x) * static_cast<size_t>(count) + static_cast<size_t>(y - first)];
    };
    for (int32_t x = 0; x < frame.width; ++x)
        for (int32_t y = first; y < last; ++y)
            at(x, y) = static_cast<float>(kSky * (1.0 + 0.15 * y / frame.height + 0.05 * x / frame.width));
    for (const Star& star : stars_) {
        const double cx = star.cx, cy = star.cy;
        const int32_t y0 = std::max<int32_t>(first, std::max<int32_t>(0, cy - kStarReach));
        const int32_t y1 = std::min<int32_t>(last, std::min<int32_t>(frame.height, cy + kStarReach));
        for (int32_t x = std::max<int32_t>(0, cx - kStarReach); x < std::min<int32_t>(frame.width, cx + kStarReach); ++x)
            for (int32_t y = y0; y < y1; ++y) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                at(x, y) += static_cast<float>(star.peak * std::exp(-r2 / (2 * kSeeing * kSeeing)));
            }
    }

    // Photon noise on the light, then each channel's bias and read noise.
    // Every pixel takes a pair of normal numbers, so a column's numbers go
    // on from a fresh distribution at any row.
    for (int32_t x = 0; x < frame.width; ++x) {
        const int c = x % channels::COUNT;
        Twister& random = columns_[static_cast<size_t>(x)];
        std::normal_distribution<double> unit(0.0, 1.0);
        for (int32_t y = first; y < last; ++y) {
            const double light = at(x, y);
            at(x, y) = static_cast<float>(light + std::sqrt(light) * unit(random) + kBias[c] +
                                          kReadNoise[c] * unit(random));
        }
    }
    for (const int32_t x : hot_)
        for (int32_t y = std::max(first, frame.height / 5); y < last; ++y) at(x, y) += 3000.0f;
    for (int32_t k = box_.x1 - 1; k < box_.x2; ++k)
        for (int32_t y = std::max(first, box_.y1 - 1); y < std::min(last, box_.y2); ++y)
            at(channels::image_column(kBadChannel, k), y) = static_cast<float>(kSaturated);

    // Whole numbers in 0..65535, stored less BZERO.
    for (float& v : values) v = static_cast<float>(std::clamp(std::round(v), 0.0f, 65535.0f) - kZero);
}
