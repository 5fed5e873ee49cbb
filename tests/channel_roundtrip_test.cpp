// quadsplit and quadmerge together on images of random size and content:
// merging the channel files gives back the image that was split, and a box
// repaired by boxpatch in one channel file reaches exactly its own pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"

namespace {

struct Shape {
    int w, h, bitpix;
    unsigned seed;
};

std::string shape_name(const Shape& s) {
    return "W" + std::to_string(s.w) + "H" + std::to_string(s.h) + "Bitpix" + (s.bitpix < 0 ? "M" : "") +
           std::to_string(std::abs(s.bitpix));
}
void PrintTo(const Shape& s, std::ostream* os) { *os << shape_name(s); }

// Sizes chosen by hand (widths around the channel count, one row, an image
// read in several bands), then random ones up to 300 x 40; the item types
// take turns.
std::vector<Shape> shapes(int min_width = 4, int min_height = 1) {
    std::mt19937 rng(1234567);
    std::vector<std::pair<int, int>> sizes{{4, 1},   {5, 3},  {7, 40},   {8, 2},
                                           {13, 17}, {64, 9}, {101, 33}, {300, 40}};
    auto random = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    while (sizes.size() < 16) sizes.emplace_back(random(4, 300), random(1, 40));
    const int types[] = {8, 16, 32, -32};
    std::vector<Shape> out;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Shape s{sizes[i].first, sizes[i].second, types[i % 4], static_cast<unsigned>(rng())};
        if (s.w >= min_width && s.h >= min_height) out.push_back(s);
    }
    return out;
}

// Values in range for the item type and exact in single precision.
std::vector<double> random_pixels(const Shape& s) {
    std::mt19937 rng(s.seed);
    std::uniform_int_distribution<int32_t> mantissa(-(1 << 23), (1 << 23) - 1);
    std::vector<double> px(static_cast<size_t>(s.w) * s.h);
    for (double& v : px) {
        const int32_t m = mantissa(rng);
        const double floating = std::ldexp(m, m % 41 - 30);
        v = s.bitpix == 8 ? m & 0xFF : s.bitpix == 16 ? m / 256 : s.bitpix == 32 ? 2.0 * m : floating;
    }
    return px;
}

// Item i of big-endian data starting at byte `offset`.
double item(const std::string& bytes, size_t offset, size_t i, int bitpix) {
    const size_t size = static_cast<size_t>(std::abs(bitpix) / 8);
    uint32_t bits = 0;
    for (size_t b = 0; b < size; ++b) bits = bits << 8 | static_cast<uint8_t>(bytes.at(offset + i * size + b));
    float f;
    std::memcpy(&f, &bits, 4);
    if (bitpix == 8) return bits;
    return bitpix == 16 ? static_cast<int16_t>(bits) : bitpix == 32 ? static_cast<int32_t>(bits) : double{f};
}

// Splits img.fits on set-up; merge() first sets every pixel that a channel
// holds to 3 in the image file, so that all of them must come back from the
// channel files.
class ChannelRoundTrip : public testing::TestWithParam<Shape> {
protected:
    void SetUp() override {
        const Shape& s = GetParam();
        px_ = random_pixels(s);
        test::write_file(path_, test::fits_file(s.bitpix, s.w, s.h, px_));
        const test::RunResult r = test::run(test::programs::QUADSPLIT, {"img.fits"}, {dir_.path()});
        ASSERT_EQ(r.output, "img.a.fits\nimg.b.fits\nimg.c.fits\nimg.d.fits\n");
        ASSERT_EQ(r.status, 0);
    }

    std::string merge() {
        const Shape& s = GetParam();
        std::vector<double> cleared = px_;
        for (size_t i = 0; i < cleared.size(); ++i)
            if (static_cast<int>(i % s.w) < s.w / 4 * 4) cleared[i] = 3;
        test::write_file(path_, test::fits_file(s.bitpix, s.w, s.h, cleared));
        const test::RunResult r = test::run(test::programs::QUADMERGE, {"img.fits"}, {dir_.path()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, "filename: img.fits, length=8\n");
        return test::read_file(path_);
    }

    test::TempDir dir_;
    const std::string path_ = dir_.file("img.fits");
    std::vector<double> px_;
};

TEST_P(ChannelRoundTrip, MergeGivesBackTheImage) {
    const Shape& s = GetParam();
    EXPECT_TRUE(merge() == test::fits_file(s.bitpix, s.w, s.h, px_));
}

INSTANTIATE_TEST_SUITE_P(Random, ChannelRoundTrip, testing::ValuesIn(shapes()),
                         [](const testing::TestParamInfo<Shape>& info) { return shape_name(info.param); });

// A random box in a random channel file, patched by boxpatch (which needs
// two columns and two rows): the merged image takes the box's pixels from
// that file and has every other pixel as it was.
class BoxpatchedChannel : public ChannelRoundTrip {};

TEST_P(BoxpatchedChannel, ChangesOnlyTheBox) {
    const Shape& s = GetParam();
    const int q = s.w / 4;
    std::mt19937 rng(s.seed + 1);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int c = pick(0, 3), x1 = pick(1, q - 1), x2 = pick(x1, q - 1);
    const int y1 = pick(1, s.h - 1), y2 = pick(y1, s.h - 1);
    const std::string channel = dir_.file(std::string("img.") + "abcd"[c] + ".fits");
    const std::string before = test::read_file(channel);
    const std::vector<std::string> args{"-b", std::to_string(x1), std::to_string(x2), std::to_string(y1),
                                        std::to_string(y2), channel};
    const test::RunResult r = test::run(test::programs::BOXPATCH, args);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string patched = test::read_file(channel);
    ASSERT_TRUE(patched != before && patched.size() == before.size());

    // The channel file's header is one block: the five basic cards, ZPREMPCH, END.
    std::vector<double> expected = px_;
    for (int y = y1 - 1; y < y2; ++y)
        for (int k = x1 - 1; k < x2; ++k)
            expected[static_cast<size_t>(y) * s.w + 4 * k + c] =
                item(patched, FITS_BLOCK, static_cast<size_t>(y) * q + k, s.bitpix);
    EXPECT_TRUE(merge() == test::fits_file(s.bitpix, s.w, s.h, expected))
        << "channel " << c << ", box " << x1 << ".." << x2 << " x " << y1 << ".." << y2;
}

INSTANTIATE_TEST_SUITE_P(Random, BoxpatchedChannel, testing::ValuesIn(shapes(8, 2)),
                         [](const testing::TestParamInfo<Shape>& info) { return shape_name(info.param); });

}  // namespace
