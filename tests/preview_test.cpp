// fitspreview's stretch, the program on a known image, its PNG decoded with
// libpng, and fitsframe's sample frame.
#include <png.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <ostream>
#include <regex>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "cuts.hpp"
#include "zscale.hpp"
#include "tone.hpp"
#include "support.hpp"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A picture held in memory, row by row from the bottom.
class MemoryPicture : public PictureSource {
public:
    MemoryPicture(int64_t width, std::vector<double> values, KeyKind kind = KeyKind::f64, Scale scale = {})
        : width_(width), values_(std::move(values)), kind_(kind), scale_(scale) {}
    int64_t width() const override { return width_; }
    int64_t height() const override { return static_cast<int64_t>(values_.size()) / width_; }
    Scale scale() const override { return scale_; }
    KeyKind key_kind() const override { return kind_; }
    std::vector<std::pair<int64_t, int64_t>> finite_columns() const override { return {}; }
    void rows(int64_t first, int64_t last, bool top_down, int64_t, int64_t, const RowVisitor& visit) override {
        for (int64_t k = first; k < last; ++k) {
            const int64_t y = top_down ? last - 1 - (k - first) : k;
            visit(y, &values_[static_cast<size_t>(y * width_)]);
        }
    }

private:
    int64_t width_;
    std::vector<double> values_;
    KeyKind kind_;
    Scale scale_;
};

// Zscale takes the range too when fewer than 5 values are finite.
TEST(Cuts, RangeSkipsValuesThatAreNotFinite) {
    for (const auto cuts_of : {range_cuts, zscale_cuts}) {
        MemoryPicture picture(2, {kNaN, 7.5, 4, kInf, -kInf, -2});
        const Cuts c = cuts_of(picture);
        EXPECT_EQ(c.black, -2.0);
        EXPECT_EQ(c.white, 7.5);
        MemoryPicture none(1, {kNaN}, KeyKind::f64, Scale{2.0, 100.0});
        const Cuts n = cuts_of(none);  // a raw 0, shown
        EXPECT_EQ(n.black, 100.0);
        EXPECT_EQ(n.white, 100.0);
    }
}

TEST(Cuts, PercentilesInterpolateBetweenRanks) {
    // 0..100 in scrambled order, then one hot pixel and a NaN that must not count.
    std::vector<double> column;
    for (int i = 0; i <= 100; ++i) column.push_back((i * 37) % 101);
    column.push_back(kNaN);
    MemoryPicture picture(1, column, KeyKind::i16);
    Cuts c = percentile_cuts(picture, 0.5, 99.5);
    EXPECT_DOUBLE_EQ(c.black, 0.5);
    EXPECT_DOUBLE_EQ(c.white, 99.5);
    c = percentile_cuts(picture, 0.0, 100.0);
    EXPECT_EQ(c.black, 0.0);
    EXPECT_EQ(c.white, 100.0);
    column[3] = 1e6;  // value 10 becomes a hot pixel
    MemoryPicture hot(1, column, KeyKind::f32);
    c = percentile_cuts(hot, 25.0, 99.0);
    EXPECT_DOUBLE_EQ(c.black, 26.0);  // rank 25 of 0..9,11..100,1e6
    EXPECT_DOUBLE_EQ(c.white, 100.0);
}

// The finite shown values, sorted.
std::vector<double> sorted_shown(const std::vector<double>& raw, const Scale& scale) {
    std::vector<double> shown;
    for (const double v : raw)
        if (std::isfinite(scale.shown(v))) shown.push_back(scale.shown(v));
    std::sort(shown.begin(), shown.end());
    return shown;
}

// The definition: rank p / 100 * (n - 1) of the sorted values, interpolated
// between its two nearest ranks.
double sorted_percentile(const std::vector<double>& shown, const Scale& scale, double percent) {
    if (shown.empty()) return scale.shown(0.0);
    const double rank = percent / 100.0 * static_cast<double>(shown.size() - 1);
    const size_t below = static_cast<size_t>(rank);
    const double upper = shown[std::min(below + 1, shown.size() - 1)];
    return shown[below] + (rank - static_cast<double>(below)) * (upper - shown[below]);
}

struct PercentileCase {
    const char* name;
    KeyKind kind;
    Scale scale;
    std::vector<double> values;
};

void PrintTo(const PercentileCase& c, std::ostream* os) { *os << c.name; }

std::vector<double> generated(size_t n, double (*value)(size_t)) {
    std::vector<double> values(n);
    for (size_t i = 0; i < n; ++i) values[i] = value(i);
    return values;
}

class Percentiles : public testing::TestWithParam<PercentileCase> {};

// The radix selection gives the sorted values' percentiles for every item
// type, a reversed order (BSCALE below zero), values that are not finite,
// and pictures too large to keep (several passes of 16 bits of key).
TEST_P(Percentiles, AreThoseOfTheSortedValues) {
    const PercentileCase& c = GetParam();
    const size_t n = c.values.size();
    MemoryPicture picture(n % 1000 == 0 ? 1000 : n % 7 == 0 ? 7 : 1, c.values, c.kind, c.scale);
    const std::vector<double> sorted = sorted_shown(c.values, c.scale);
    for (const auto& [low, high] : {std::pair{0.0, 100.0}, {0.5, 99.5}, {1.0, 99.0}, {25.0, 75.0}, {50.0, 50.1}}) {
        const Cuts cuts = percentile_cuts(picture, low, high);
        EXPECT_DOUBLE_EQ(cuts.black, sorted_percentile(sorted, c.scale, low)) << low;
        EXPECT_DOUBLE_EQ(cuts.white, sorted_percentile(sorted, c.scale, high)) << high;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ValuesAndKeys, Percentiles,
    testing::Values(
        PercentileCase{"many_equal_u8", KeyKind::u8, {}, generated(1001, [](size_t i) { return i % 10 ? 7.0 : 200.0; })},
        PercentileCase{"i16_extremes_reversed", KeyKind::i16, {-2.0, 5.0},
                       generated(700, [](size_t i) { return i % 3 ? -32768.0 + double(i) : 32767.0 - double(i % 11); })},
        PercentileCase{"i32_wide", KeyKind::i32, {1.0, 32768.0},
                       generated(999, [](size_t i) { return double(int64_t(i * 2654435761u % 4294967296u) - 2147483648LL); })},
        PercentileCase{"f32_nan_inf_negative_zero", KeyKind::f32, {},
                       {kNaN, -0.0, 0.0, kInf, -kInf, -1.5, 3.25, kNaN, -0.0, double(1e-40f), double(-1e38f), 2.5}},
        PercentileCase{"one_finite_value", KeyKind::f64, {}, {kNaN, kInf, 42.125, -kInf, kNaN}},
        PercentileCase{"no_finite_value", KeyKind::f32, {0.5, 3.0}, {kNaN, kInf, -kInf}},
        PercentileCase{"f64_huge_and_tiny", KeyKind::f64, {},
                       {1e308, -1e308, 5e-324, -5e-324, 1.0 / 3, 2.0 / 3, 1e-300, 0.0, 7.0}},
        // More values than are kept at once (2^20 for 4 ranks), close
        // together: three passes of 16 bits before the last are kept.
        PercentileCase{"f64_many_close", KeyKind::f64, {},
                       generated(300000, [](size_t i) { return 1000.0 + double(i * 7919 % 300007) * 1e-9; })},
        // As many, nearly all equal: every 16 bits of key in a pass of its own.
        PercentileCase{"f64_mostly_equal", KeyKind::f64, {-1.0, 0.0},
                       generated(300000, [](size_t i) { return i % 1000 ? 1234.5 : double(i) / 3; })}),
    [](const testing::TestParamInfo<PercentileCase>& info) { return info.param.name; });

// 1000 values are sampled from 2363 finite ones (every second in file order,
// the first 1000): a line of slope 1 with a ripple of +-0.25 and five
// outliers. Pixels that are not sampled are 1e6 and NaN, which move the
// cuts if they get in. Zscale rejects the outliers and takes the median
// 499.5 -+ the slope / 0.25 times 498 and 501 ranks.
TEST(Cuts, ZscaleFitsTheSortedSampleWithoutOutliers) {
    std::vector<double> sample = {-5000, -4999, 5000, 5001, 5002};
    for (int r = 2; r < 997; ++r) sample.push_back(r + (r % 2 ? -0.25 : 0.25));
    const int32_t width = 13, height = 200;
    std::vector<double> values;
    int n = 0;  // finite pixels so far
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool sampled = n % 2 == 0 && n / 2 < 1000;
            const bool nan = (x * 7 + y) % 11 == 0;
            values.push_back(nan ? kNaN : sampled ? sample[static_cast<size_t>(n / 2 * 379 % 1000)] : 1e6);
            n += nan ? 0 : 1;
        }
    }
    ASSERT_EQ(n, 2363);
    MemoryPicture picture(width, values);
    const Cuts c = zscale_cuts(picture);
    EXPECT_NEAR(c.black, 499.5 - 498 * 4, 1e-6);
    EXPECT_NEAR(c.white, 499.5 + 501 * 4, 1e-6);
}

TEST(GreyMap, MapsLinearlyRoundsAndClips) {
    const double values[] = {10, 20, 15, 14.9f, 5, 30, kNaN, 10.02f, kInf, -kInf};
    std::vector<uint8_t> grey(10);
    GreyMap(Cuts{10, 20}, Curve::linear, Scale{}).levels(values, 10, grey.data());
    EXPECT_EQ(grey, (std::vector<uint8_t>{0, 255, 128, 125, 0, 255, 0, 1, 255, 0}));
    // Raw values are scaled first; a flat cut: above is white.
    const double flat[] = {3, 3, 4, kNaN};
    grey.resize(4);
    GreyMap(Cuts{7, 7}, Curve::sqrt, Scale{2.0, 1.0}).levels(flat, 4, grey.data());
    EXPECT_EQ(grey, (std::vector<uint8_t>{0, 0, 255, 0}));
}

// The inverse of each curve: where it takes the value t.
double curve_inverse(Curve curve, double t) {
    switch (curve) {
        case Curve::sqrt: return t * t;
        case Curve::log: return (std::pow(1001.0, t) - 1.0) / 1000.0;
        case Curve::asinh: return 0.1 * std::sinh(t * std::asinh(10.0));
        case Curve::linear: break;
    }
    return t;
}

// The grey level found without evaluating the curve is round(255 x
// curve(x)), on a fine grid and at the doubles closest to every level's
// start (where curve(x) = (k - 0.5) / 255).
TEST(GreyMap, CurvesGiveTheRoundedCurve) {
    for (const Curve curve : {Curve::sqrt, Curve::log, Curve::asinh}) {
        const GreyMap map(Cuts{0, 1}, curve, Scale{});
        std::vector<double> xs;
        for (int i = 0; i <= 100000; ++i) xs.push_back(i / 100000.0);
        for (int k = 1; k < 256; ++k) {
            double up = curve_inverse(curve, (k - 0.5) / 255), down = up;
            for (int step = 0; step < 40; ++step, up = std::nextafter(up, 2.0), down = std::nextafter(down, -1.0))
                xs.insert(xs.end(), {up, down});
        }
        for (const double x : xs) {
            if (x < 0 || x > 1) continue;
            ASSERT_EQ(map.level(x), std::floor(curve_value(curve, x) * 255 + 0.5))
                << "curve " << static_cast<int>(curve) << " at " << x;
        }
    }
    EXPECT_EQ(GreyMap(Cuts{0, 1}, Curve::sqrt, Scale{}).level(0.25), 128);  // 127.5
    EXPECT_EQ(GreyMap(Cuts{0, 1}, Curve::log, Scale{}).level(0.001), 26);    // 255 log 2 / log 1001
    EXPECT_EQ(GreyMap(Cuts{-1, 1}, Curve::asinh, Scale{}).level(-5), 0);
    EXPECT_EQ(GreyMap(Cuts{-1, 1}, Curve::asinh, Scale{}).level(kInf), 255);
}

// The library's reads of a few items of a row (zscale's samples): the items
// fits_read_rows gives for the whole row, zero where the file ends.
TEST(RowItems, ArePartsOfTheRowsRead) {
    test::TempDir dir;
    std::vector<double> values;
    for (int i = 0; i < 7 * 500; ++i) values.push_back(i % 3000 - 1500);
    std::string bytes = test::fits_file(16, 7, 500, values);
    bytes.resize(FITS_BLOCK + 2 * (7 * 400 + 3));  // the file ends in row 400, after 3 items
    test::write_file(dir.file("cut.fits"), bytes);
    FitsHeader header;
    FitsInput input;
    test::captured_stdout([&] { ASSERT_EQ(fits_open_image(dir.file("cut.fits").c_str(), header, input), FITS_OK); });
    fits_free_header(header);
    std::vector<uint8_t> row(14), part(16);
    for (const int64_t y : {0, 1, 250, 399, 400, 401, 499}) {
        input.next_row = y;
        fits_read_rows(input, row.data(), 1);
        EXPECT_EQ(std::count(row.begin() + 6, row.end(), 0) == 8, y >= 400) << y;  // what the file holds of the row
        for (const auto& [first, count] : {std::pair<int64_t, int64_t>{0, 7}, {2, 1}, {1, 4}, {6, 1}}) {
            std::fill(part.begin(), part.end(), 0xAA);
            fits_read_row_items(input, y, first, count, part.data());
            EXPECT_TRUE(std::equal(part.begin(), part.begin() + 2 * count, row.begin() + 2 * first)) << y << " " << first;
            EXPECT_EQ(part[static_cast<size_t>(2 * count)], 0xAA) << "beyond the items asked for";
        }
    }
}

// A 4 x 2 image of BITPIX 16 with BZERO: the picture's bytes, and the cuts told
// with BZERO applied.
TEST(FitsPreview, WritesTheStretchedPicture) {
    test::TempDir dir;
    const std::vector<double> values = {100, 110, 120, 130, 140, 150, 160, 1100};  // row 0, then row 1
    test::write_file(dir.file("img.fits"),
                     test::fits_file(16, 4, 2, values, {test::value_card("BZERO", "32768")}));

    test::RunResult r = test::run(test::programs::FITSPREVIEW, {"img.fits", "out.ppm"}, {dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "out.ppm: 4 x 2 pixels of img.fits, black at 32868, white at 33868\n");
    // (v - 100) / 1000 * 255, rounded; row 1 first.
    EXPECT_EQ(test::read_file(dir.file("out.ppm")),
              std::string("P6\n4 2\n255\n") + std::string(3, '\x0a') + std::string(3, '\x0d') +
                  std::string(3, '\x0f') + std::string(3, '\xff') + std::string(3, '\0') +
                  std::string(3, '\x03') + std::string(3, '\x05') + std::string(3, '\x08'));

    r = test::run(test::programs::FITSPREVIEW, {"-p", "0", "50", "img.fits", "p.ppm"}, {dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "p.ppm: 4 x 2 pixels of img.fits, black at 32868, white at 32903\n");

    // Columns 2..3 of the image and of a second one, 4 black columns between;
    // the cuts 110..200 come from both.
    test::write_file(dir.file("after.fits"), test::fits_file(16, 4, 2, {100, 110, 120, 130, 140, 150, 200, 1100},
                                                             {test::value_card("BZERO", "32768")}));
    r = test::run(test::programs::FITSPREVIEW, {"-r", "3", "2", "0", "9", "img.fits", "after.fits", "two.ppm"},
                  {dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "two.ppm: 8 x 2 pixels of img.fits and after.fits side by side, columns 2 to 3, rows 1 to 2, "
                        "black at 32878, white at 32968\n");
    // (v - 110) / 90 * 255, rounded: 150 -> 113, 160 -> 142, 120 -> 28.
    const std::string levels("\x71\x8e\0\0\0\0\x71\xff" "\0\x1c\0\0\0\0\0\x1c", 16);  // row 1, then row 0
    std::string grey;
    for (const char level : levels) grey += std::string(3, level);
    EXPECT_EQ(test::read_file(dir.file("two.ppm")), "P6\n8 2\n255\n" + grey);
}

// The PNG decoded by libpng, as the PPM of its grey levels that fitspreview
// would write; empty unless it is an 8-bit grey PNG (IHDR bit depth 8,
// colour type 0).
std::string png_as_ppm(const std::string& png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png.size() < 26 || png[24] != 8 || png[25] != 0 ||
        !png_image_begin_read_from_memory(&image, png.data(), png.size()))
        return "";
    image.format = PNG_FORMAT_GRAY;
    std::string levels(PNG_IMAGE_SIZE(image), '\0');
    if (!png_image_finish_read(&image, nullptr, levels.data(), 0, nullptr)) return "";
    std::string ppm = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    for (const char level : levels) ppm += std::string(3, level);
    return ppm;
}

struct PictureCase {
    const char* name;
    std::vector<std::string> options;  // before the image names
    bool side_by_side;
    bool big = false;  // 1500 x 700 pixels, several bands of rows, rather than 37 x 23
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

// The test image: a pattern with many equal values and a hot pixel; BITPIX
// -32 has NaNs and infinities too (in the big image also a row and a column
// of NaN, and values that are not whole numbers); BITPIX -64 the same values.
std::vector<double> pattern(int bitpix, int32_t width, int32_t height, bool big) {
    std::vector<double> values;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            double v = big ? (x * 7919 + y * 3571) % (bitpix == 8 ? 206 : 4001) : (x * 131 + y * 71) % 97;
            if (big && bitpix < 0) v += (x % 5) * 0.1;
            values.push_back(bitpix == -64 ? static_cast<float>(v + -40) : v + (bitpix == 8 ? 50 : -40));
        }
    values[5] = bitpix == 8 ? 255 : 30000;  // a hot pixel
    if (bitpix < 0) {
        values[40] = values[41] = kNaN, values[80] = kInf, values[81] = -kInf;
        if (big)
            for (int32_t i = 0; i < width * height; ++i)
                if (i / width == 300 || i % width == 1000) values[static_cast<size_t>(i)] = kNaN;
    }
    return values;
}

// FNV-1a of every `step`-th byte from `first` on.
uint64_t digest(const std::string& bytes, size_t first, size_t step) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = first; i < bytes.size(); i += step) {
        h ^= static_cast<uint8_t>(bytes[i]);
        h *= 1099511628211ull;
    }
    return h;
}

// The digest of the grey levels of a PPM picture (one byte of each pixel).
uint64_t grey_digest(const std::string& ppm) { return digest(ppm, ppm.find("255\n") + 4, 3); }

// Today's lines and grey levels of the program before it read images as
// streams (plane-based), kept as what the streamed program must give:
// "CASE/BITPIX" -> what is printed after the picture's name, and the digest
// of the grey levels.
struct Expected {
    const char* line;
    uint64_t digest;
};
const std::map<std::string, Expected> kBefore = {
    {"range/8", {"37 x 23 pixels of img.fits, black at 57, white at 262", 0x97a4a172fc2eec72ull}},
    {"percentiles/8", {"37 x 23 pixels of img.fits, black at 57.5, white at 153", 0x392eb64fba99a252ull}},
    {"zscale/8", {"37 x 23 pixels of img.fits, black at 57, white at 262", 0x97a4a172fc2eec72ull}},
    {"region/8", {"18 x 14 pixels of img.fits, columns 3 to 20, rows 2 to 15, black at 57, white at 153", 0x19eb9014e21bbd3eull}},
    {"side_by_side/8", {"20 x 4 pixels of img.fits and img.fits side by side, columns 30 to 37, rows 20 to 23, black at 59, white at 153", 0x52d5786b4d7cbd0bull}},
    {"big_range/8", {"1500 x 700 pixels of img.fits, black at 57, white at 262", 0x74f28e0fe0778e69ull}},
    {"big_percentiles/8", {"1500 x 700 pixels of img.fits, black at 58, white at 261", 0xf68f758802009a88ull}},
    {"big_zscale/8", {"1500 x 700 pixels of img.fits, black at 57, white at 262", 0x74f28e0fe0778e69ull}},
    {"big_region/8", {"1311 x 646 pixels of img.fits, columns 90 to 1400, rows 5 to 650, black at 61, white at 258", 0x5b7ff2a668ff5ae0ull}},
    {"big_side_by_side/8", {"1206 x 491 pixels of img.fits and img.fits side by side, columns 700 to 1300, rows 200 to 690, black at 57, white at 262", 0xc69482d71e14bbd5ull}},
    {"range/16", {"37 x 23 pixels of img.fits, black at -33, white at 30007", 0x2bc250983d73a1daull}},
    {"percentiles/16", {"37 x 23 pixels of img.fits, black at -32.5, white at 63", 0x392eb64fba99a252ull}},
    {"zscale/16", {"37 x 23 pixels of img.fits, black at -33, white at 209.453", 0xf5ce8310ad2005bfull}},
    {"region/16", {"18 x 14 pixels of img.fits, columns 3 to 20, rows 2 to 15, black at -33, white at 63", 0x19eb9014e21bbd3eull}},
    {"side_by_side/16", {"20 x 4 pixels of img.fits and img.fits side by side, columns 30 to 37, rows 20 to 23, black at -31, white at 63", 0x52d5786b4d7cbd0bull}},
    {"big_range/16", {"1500 x 700 pixels of img.fits, black at -33, white at 30007", 0x1ac6df3af2feb939ull}},
    {"big_percentiles/16", {"1500 x 700 pixels of img.fits, black at -13, white at 3947.01", 0x701b96d8638b0739ull}},
    {"big_zscale/16", {"1500 x 700 pixels of img.fits, black at -33, white at 3963", 0x206b27256b95d259ull}},
    {"big_region/16", {"1311 x 646 pixels of img.fits, columns 90 to 1400, rows 5 to 650, black at 47, white at 3887", 0xd7f1c7b6cdf702adull}},
    {"big_side_by_side/16", {"1206 x 491 pixels of img.fits and img.fits side by side, columns 700 to 1300, rows 200 to 690, black at -33, white at 3965", 0x1ca3c5b66f1dfbe5ull}},
    {"range/32", {"37 x 23 pixels of img.fits, black at -33, white at 30007", 0x2bc250983d73a1daull}},
    {"percentiles/32", {"37 x 23 pixels of img.fits, black at -32.5, white at 63", 0x392eb64fba99a252ull}},
    {"zscale/32", {"37 x 23 pixels of img.fits, black at -33, white at 209.453", 0xf5ce8310ad2005bfull}},
    {"region/32", {"18 x 14 pixels of img.fits, columns 3 to 20, rows 2 to 15, black at -33, white at 63", 0x19eb9014e21bbd3eull}},
    {"side_by_side/32", {"20 x 4 pixels of img.fits and img.fits side by side, columns 30 to 37, rows 20 to 23, black at -31, white at 63", 0x52d5786b4d7cbd0bull}},
    {"big_range/32", {"1500 x 700 pixels of img.fits, black at -33, white at 30007", 0x1ac6df3af2feb939ull}},
    {"big_percentiles/32", {"1500 x 700 pixels of img.fits, black at -13, white at 3947.01", 0x701b96d8638b0739ull}},
    {"big_zscale/32", {"1500 x 700 pixels of img.fits, black at -33, white at 3963", 0x206b27256b95d259ull}},
    {"big_region/32", {"1311 x 646 pixels of img.fits, columns 90 to 1400, rows 5 to 650, black at 47, white at 3887", 0xd7f1c7b6cdf702adull}},
    {"big_side_by_side/32", {"1206 x 491 pixels of img.fits and img.fits side by side, columns 700 to 1300, rows 200 to 690, black at -33, white at 3965", 0x1ca3c5b66f1dfbe5ull}},
    {"range/-32", {"37 x 23 pixels of img.fits, black at -33, white at 30007", 0x9e6defa5c32f9219ull}},
    {"percentiles/-32", {"37 x 23 pixels of img.fits, black at -32.54, white at 63", 0x0179dd80685e77a7ull}},
    {"zscale/-32", {"37 x 23 pixels of img.fits, black at -33, white at 209.353", 0xb14aeabd2e44b6bcull}},
    {"region/-32", {"18 x 14 pixels of img.fits, columns 3 to 20, rows 2 to 15, black at -33, white at 63", 0x37b392c000e3a626ull}},
    {"side_by_side/-32", {"20 x 4 pixels of img.fits and img.fits side by side, columns 30 to 37, rows 20 to 23, black at -31, white at 63", 0x52d5786b4d7cbd0bull}},
    {"big_range/-32", {"1500 x 700 pixels of img.fits, black at -33, white at 30007", 0xe071181af68c7d58ull}},
    {"big_percentiles/-32", {"1500 x 700 pixels of img.fits, black at -13, white at 3947.41", 0xe708eae3e1aead45ull}},
    {"big_zscale/-32", {"1500 x 700 pixels of img.fits, black at -33, white at 3967", 0xf6d1b38dc24573faull}},
    {"big_region/-32", {"1311 x 646 pixels of img.fits, columns 90 to 1400, rows 5 to 650, black at 47, white at 3887.4", 0xc71b7dd01988cc98ull}},
    {"big_side_by_side/-32", {"1206 x 491 pixels of img.fits and img.fits side by side, columns 700 to 1300, rows 200 to 690, black at -32.9, white at 3966.4", 0xadca8b8c4543b525ull}},
};

class FitsPreviewPng : public testing::TestWithParam<std::tuple<int, PictureCase>> {};

// The PNG holds exactly the grey levels of the PPM of the same image and
// stretch, and the program says the same of both; the cuts and the grey
// levels are those the program gave when it held the image in a plane.
TEST_P(FitsPreviewPng, HoldsTheGreyLevelsOfThePpm) {
    const auto& [bitpix, c] = GetParam();
    const int32_t width = c.big ? 1500 : 37, height = c.big ? 700 : 23;
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), test::fits_file(bitpix, width, height, pattern(bitpix, width, height, c.big),
                                                           {test::value_card("BZERO", "7")}));

    std::vector<std::string> images = {"img.fits"};
    if (c.side_by_side) images.push_back("img.fits");
    std::string lines[2], bytes[2];
    const char* pictures[2] = {"pic.png", "pic.ppm"};
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), images.begin(), images.end());
        args.push_back(pictures[i]);
        const test::RunResult r = test::run(test::programs::FITSPREVIEW, args, {dir.path()});
        ASSERT_EQ(r.status, 0) << r.output;
        lines[i] = r.output.substr(std::strlen(pictures[i]));
        bytes[i] = test::read_file(dir.file(pictures[i]));
    }
    EXPECT_EQ(lines[0], lines[1]);
    EXPECT_EQ(png_as_ppm(bytes[0]), bytes[1]);
    EXPECT_GT(std::set<char>(bytes[1].end() - 100, bytes[1].end()).size(), 2u) << "a flat picture";
    // BITPIX -64 holds the values of -32, which it must show alike.
    const Expected& before = kBefore.at(std::string(c.name) + "/" + std::to_string(bitpix == -64 ? -32 : bitpix));
    EXPECT_EQ(lines[1], std::string(": ") + before.line + "\n");
    EXPECT_EQ(grey_digest(bytes[1]), before.digest);
}

INSTANTIATE_TEST_SUITE_P(
    ImagesAndStretches, FitsPreviewPng,
    testing::Combine(testing::Values(8, 16, 32, -32, -64),
                     testing::Values(PictureCase{"range", {}, false}, PictureCase{"percentiles", {"-p", "1", "99"}, false},
                                     PictureCase{"zscale", {"-z"}, false},
                                     PictureCase{"region", {"-r", "3", "20", "2", "15"}, false},
                                     PictureCase{"side_by_side", {"-z", "-r", "30", "40", "20", "30"}, true},
                                     PictureCase{"big_range", {}, false, true},
                                     PictureCase{"big_percentiles", {"-p", "0.5", "99.5"}, false, true},
                                     PictureCase{"big_zscale", {"-z"}, false, true},
                                     PictureCase{"big_region", {"-p", "2", "98", "-r", "1400", "90", "650", "5"}, false, true},
                                     PictureCase{"big_side_by_side", {"-z", "-r", "700", "1300", "200", "690"}, true, true})),
    [](const testing::TestParamInfo<std::tuple<int, PictureCase>>& info) {
        const int bitpix = std::get<0>(info.param);
        return std::string(std::get<1>(info.param).name) + "_bitpix" + (bitpix < 0 ? "_minus" : "_") +
               std::to_string(std::abs(bitpix));
    });

struct BadRun {
    const char* name;
    std::vector<std::string> args;
    std::string output;
    int64_t file_size_limit = -1;
};

void PrintTo(const BadRun& r, std::ostream* os) { *os << r.name; }

class FitsPreviewRefuses : public testing::TestWithParam<BadRun> {};

// Refused with one line and status 1, and no picture (nor a temporary file)
// is left behind.
TEST_P(FitsPreviewRefuses, WithALineAndStatus1) {
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), test::fits_file(8, 2, 2, {1, 2, 3, 4}));
    test::write_file(dir.file("wide.fits"), test::fits_file(8, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8}));
    test::RunOptions options{dir.path()};
    options.file_size_limit = GetParam().file_size_limit;
    const test::RunResult r = test::run(test::programs::FITSPREVIEW, GetParam().args, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, GetParam().output);
    EXPECT_EQ(test::list_dir(dir.path()), (std::vector<std::string>{"img.fits", "wide.fits"}));
}

const std::string kPercentError = "Error - -p needs two percentiles from 0 to 100, the lower first: -p 0.5 99.5\n";
const std::string kFilesError =
    "Error - give one or two FITS images and one picture file: "
    "fitspreview [-p LOW HIGH | -z] [-r X1 X2 Y1 Y2] [-s N] [-f CURVE] image.fits [after.fits] picture.png\n";
const std::string kShrinkError =
    "Error - -s needs a whole number from 1 up, the image pixels along each side of a picture pixel: -s 8\n";
const std::string kCurveError = "Error - -f needs a tone curve, linear, sqrt, log or asinh: -f asinh\n";
const std::string kStretchesError = "Error - give one of -p LOW HIGH and -z, or neither for the smallest and largest value\n";
const std::string kRegionError = "Error - -r needs four whole numbers, columns X1 to X2 and rows Y1 to Y2: -r 100 200 1 50\n";

INSTANTIATE_TEST_SUITE_P(
    Arguments, FitsPreviewRefuses,
    testing::Values(BadRun{"one_file", {"img.fits"}, kFilesError},
                    BadRun{"four_files", {"img.fits", "img.fits", "a.ppm", "b.ppm"}, kFilesError},
                    BadRun{"percent_not_a_number", {"-p", "x", "99", "img.fits", "a.ppm"}, kPercentError},
                    BadRun{"percent_above_100", {"-p", "1", "101", "img.fits", "a.ppm"}, kPercentError},
                    BadRun{"percents_reversed", {"-p", "60", "40", "img.fits", "a.ppm"}, kPercentError},
                    BadRun{"percent_missing", {"img.fits", "a.ppm", "-p", "1"}, kPercentError},
                    BadRun{"percentiles_and_zscale", {"-z", "-p", "1", "99", "img.fits", "a.png"}, kStretchesError},
                    BadRun{"region_not_a_number", {"-r", "1", "2", "x", "2", "img.fits", "a.png"}, kRegionError},
                    BadRun{"shrink_zero", {"-s", "0", "img.fits", "a.png"}, kShrinkError},
                    BadRun{"shrink_negative", {"-s", "-2", "img.fits", "a.png"}, kShrinkError},
                    BadRun{"shrink_not_a_number", {"-s", "4x", "img.fits", "a.png"}, kShrinkError},
                    BadRun{"shrink_missing", {"img.fits", "a.png", "-s"}, kShrinkError},
                    BadRun{"curve_unknown", {"-f", "gamma", "img.fits", "a.png"}, kCurveError},
                    BadRun{"curve_missing", {"img.fits", "a.png", "-f"}, kCurveError},
                    BadRun{"region_outside",
                           {"-r", "3", "9", "1", "2", "img.fits", "a.png"},
                           "Error - the region lies outside the 2 x 2 image\n"},
                    BadRun{"picture_neither_png_nor_ppm",
                           {"img.fits", "a.jpg"},
                           "Error - the picture's name must end in .png or .ppm: a.jpg\n"},
                    BadRun{"picture_name_without_a_dot_before_reading",
                           {"none.fits", "png"},
                           "Error - the picture's name must end in .png or .ppm: png\n"},
                    BadRun{"images_not_alike",
                           {"img.fits", "wide.fits", "a.png"},
                           "Error - img.fits and wide.fits differ in size, BSCALE or BZERO; side by side they need "
                           "to be alike\n"},
                    BadRun{"unreadable_image",
                           {"none.fits", "a.ppm"},
                           "rf: Error - file not found ( none.fits )\nError reading FITS file, program terminating.\n"},
                    BadRun{"png_in_a_missing_folder", {"img.fits", "none/a.png"}, "wf: Error opening file for writing\n"},
                    BadRun{"png_write_fails", {"img.fits", "a.PNG"}, "wf: Error writing PNG file\n", 20},
                    BadRun{"ppm_write_fails", {"img.fits", "a.ppm"}, "wf: Error writing PPM file\n", 8}),
    [](const testing::TestParamInfo<BadRun>& info) { return info.param.name; });

// The sample frame: the same seed gives the same file, and the limits it
// prints repair exactly its bad box in channel b.
TEST(FitsFrame, BadBoxIsRepairedByThePrintedLimits) {
    test::TempDir dir;
    const test::RunResult made = test::run(test::programs::FITSFRAME, {"-s", "256", "128", "frame.fits"}, {dir.path()});
    ASSERT_EQ(made.status, 0) << made.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(made.output, m, std::regex("boxpatch -b (\\d+) (\\d+) (\\d+) (\\d+)\n")));
    const int x1 = std::stoi(m[1]), x2 = std::stoi(m[2]), y1 = std::stoi(m[3]), y2 = std::stoi(m[4]);

    EXPECT_EQ(test::run(test::programs::FITSFRAME, {"-s", "256", "128", "again.fits"}, {dir.path()}).status, 0);
    EXPECT_EQ(test::read_file(dir.file("frame.fits")), test::read_file(dir.file("again.fits")));

    ASSERT_EQ(test::run(test::programs::QUADSPLIT, {"frame.fits"}, {dir.path()}).status, 0);
    FitsHeader h;
    ASSERT_EQ(fits_read(dir.file("frame.b.fits").c_str(), h, test::plane_a()), FITS_OK);
    fits_free_header(h);
    const float saturated = 65535.0f - 32768.0f;
    auto in_box = [&](int x, int y) { return x >= x1 - 1 && x < x2 && y >= y1 - 1 && y < y2; };
    for (int x = x1 - 2; x <= x2; ++x)
        for (int y = y1 - 2; y <= y2; ++y)
            ASSERT_EQ(test::plane_a()[x][y] == saturated, in_box(x, y)) << x << "," << y;

    const std::vector<std::string> limits = {"-b", m[1], m[2], m[3], m[4], "frame.b.fits"};
    ASSERT_EQ(test::run(test::programs::BOXPATCH, limits, {dir.path()}).status, 0);
    ASSERT_EQ(fits_read(dir.file("frame.b.fits").c_str(), h, test::plane_a()), FITS_OK);
    fits_free_header(h);
    for (int x = x1 - 1; x < x2; ++x)
        for (int y = y1 - 1; y < y2; ++y) ASSERT_LT(test::plane_a()[x][y], saturated - 30000) << x << "," << y;
}

// The frame generated band by band holds the data of the program that made
// it in a whole image plane (digests of the data blocks taken from that
// program), over sizes and seeds; the header's keywords and exponents are
// upper case, as the FITS standard asks.
TEST(FitsFrame, DataAsMadeInAPlaneAndAValidHeader) {
    const struct {
        std::vector<std::string> args;
        uint64_t digest;
    } kFrames[] = {
        {{"-s", "64", "64"}, 0xc20ad58f52216d0full},
        {{"-s", "65", "67", "--seed", "9"}, 0x88039368263f4f5cull},
        {{"-s", "300", "97", "--seed", "4294967295"}, 0xf4ac80f446f64b9full},
        {{"-s", "1001", "333", "--seed", "12345"}, 0x455ba1b28bb54c2cull},
        {{"-s", "8192", "70", "--seed", "0"}, 0x27ffbf7f3102b981ull},
    };
    test::TempDir dir;
    for (const auto& frame : kFrames) {
        std::vector<std::string> args = frame.args;
        args.push_back("f.fits");
        ASSERT_EQ(test::run(test::programs::FITSFRAME, args, {dir.path()}).status, 0);
        const std::string bytes = test::read_file(dir.file("f.fits"));
        EXPECT_EQ(digest(bytes, FITS_BLOCK, 1), frame.digest) << args[1] << " x " << args[2];
        const std::string header = bytes.substr(0, FITS_BLOCK);
        EXPECT_NE(header.find("BSCALE  =   1.000000000000E+00 / "), std::string::npos);
        EXPECT_NE(header.find("BZERO   =   3.276800000000E+04 / "), std::string::npos);
        EXPECT_NE(header.find("BIASB   =               1042.0 / bias level of channel b (ADU)"), std::string::npos);
        for (size_t card = 0; card < header.size(); card += CARD_LEN)
            for (size_t i = card; i < card + 8; ++i) ASSERT_FALSE(std::islower(header[i])) << header.substr(card, 8);
    }
}

// Peak resident memory of the programs on an 8192 x 8192 frame, by
// /usr/bin/time: a bound, not a timing (sanitizers' shadow memory would
// swamp it, so only in the optimised build).
TEST(Memory, PicturesAndFrameOf8192SquareUnder32MiB) {
    if (FITSQUAD_SANITIZE_BUILD) GTEST_SKIP() << "peak memory is measured in the optimised build";
    ASSERT_TRUE(test::file_exists("/usr/bin/time")) << "needs /usr/bin/time (Debian package time)";
    test::TempDir dir;
    const int64_t kLimitKiB = 32 * 1024;
    auto peak_kib = [&](const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", "%M", "-o", "rss.txt", program});
        const test::RunResult r = test::run("/usr/bin/time", args, {dir.path()});
        EXPECT_EQ(r.status, 0) << r.output << r.errors;
        return std::stoll(test::read_file(dir.file("rss.txt")));
    };
    EXPECT_LT(peak_kib(test::programs::FITSFRAME, {"-s", "8192", "8192", "f.fits"}), kLimitKiB);
    const std::vector<std::vector<std::string>> pictures = {
        {"-z", "f.fits", "p.png"},         {"-p", "0.5", "99.5", "f.fits", "p.ppm"},
        {"-s", "8", "-z", "f.fits", "p.png"}, {"-s", "2", "-p", "1", "99", "-f", "asinh", "f.fits", "p.png"},
        {"-z", "f.fits", "f.fits", "p.png"}};
    for (const auto& args : pictures) {
        EXPECT_LT(peak_kib(test::programs::FITSPREVIEW, args), kLimitKiB) << args[0] << " " << args[1];
        std::remove(dir.file(args.back()).c_str());
    }
}

}  // namespace
