// fitspreview's stretch, the program on a known image, and fitsframe's
// sample frame.
#include <cmath>
#include <limits>
#include <ostream>
#include <regex>

#include "stretch.hpp"
#include "support.hpp"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// Fills the first rows of column x... of plane_a from `columns`.
void fill(const std::vector<std::vector<float>>& columns) {
    for (size_t x = 0; x < columns.size(); ++x)
        for (size_t y = 0; y < columns[x].size(); ++y) test::plane_a()[x][y] = columns[x][y];
}

TEST(Stretch, RangeSkipsValuesThatAreNotFinite) {
    fill({{kNaN, 4, -kInf}, {7.5f, kInf, -2}, {1000, 1000, 1000}});
    const Stretch s = range_stretch(test::plane_a(), 2, 3);  // the third column lies outside
    EXPECT_EQ(s.low, -2.0);
    EXPECT_EQ(s.high, 7.5);
    fill({{kNaN}});
    const Stretch none = range_stretch(test::plane_a(), 1, 1);
    EXPECT_EQ(none.low, 0.0);
    EXPECT_EQ(none.high, 0.0);
}

TEST(Stretch, PercentilesInterpolateBetweenRanks) {
    // 0..100 in scrambled order, then one hot pixel and a NaN that must not count.
    std::vector<float> column;
    for (int i = 0; i <= 100; ++i) column.push_back(static_cast<float>((i * 37) % 101));
    column.push_back(kNaN);
    fill({column});
    Stretch s = percentile_stretch(test::plane_a(), 1, 102, 0.5, 99.5);
    EXPECT_DOUBLE_EQ(s.low, 0.5);
    EXPECT_DOUBLE_EQ(s.high, 99.5);
    s = percentile_stretch(test::plane_a(), 1, 102, 0.0, 100.0);
    EXPECT_EQ(s.low, 0.0);
    EXPECT_EQ(s.high, 100.0);
    column[3] = 1e6f;  // value 10 becomes a hot pixel
    fill({column});
    s = percentile_stretch(test::plane_a(), 1, 102, 25.0, 99.0);
    EXPECT_DOUBLE_EQ(s.low, 26.0);  // rank 25 of 0..9,11..100,1e6
    EXPECT_DOUBLE_EQ(s.high, 100.0);
}

TEST(Stretch, MapsLinearlyRoundsAndClips) {
    fill({{10, 20, 15, 14.9f, 5, 30, kNaN, 10.02f}});
    apply_stretch(Stretch{10, 20}, test::plane_a(), 1, 8);
    const float expected[] = {0, 255, 128, 125, 0, 255, 0, 1};
    for (int y = 0; y < 8; ++y) EXPECT_EQ(test::plane_a()[0][y], expected[y]) << "row " << y;

    fill({{3, 3, 4, kNaN}});
    apply_stretch(Stretch{3, 3}, test::plane_a(), 1, 4);  // a flat cut: above is white
    const float flat[] = {0, 0, 255, 0};
    for (int y = 0; y < 4; ++y) EXPECT_EQ(test::plane_a()[0][y], flat[y]) << "row " << y;
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
}

struct BadRun {
    const char* name;
    std::vector<std::string> args;
    std::string output;
};

void PrintTo(const BadRun& r, std::ostream* os) { *os << r.name; }

class FitsPreviewRefuses : public testing::TestWithParam<BadRun> {};

TEST_P(FitsPreviewRefuses, WithALineAndStatus1) {
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), test::fits_file(8, 2, 2, {1, 2, 3, 4}));
    const test::RunResult r = test::run(test::programs::FITSPREVIEW, GetParam().args, {dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, GetParam().output);
    EXPECT_EQ(test::list_dir(dir.path()), std::vector<std::string>{"img.fits"});
}

const std::string kPercentError = "Error - -p needs two percentiles from 0 to 100, the lower first: -p 0.5 99.5\n";
const std::string kFilesError =
    "Error - give one FITS image and one picture file: fitspreview [-p LOW HIGH] image.fits picture.ppm\n";

INSTANTIATE_TEST_SUITE_P(
    Arguments, FitsPreviewRefuses,
    testing::Values(BadRun{"one_file", {"img.fits"}, kFilesError},
                    BadRun{"three_files", {"img.fits", "a.ppm", "b.ppm"}, kFilesError},
                    BadRun{"percent_not_a_number", {"-p", "x", "99", "img.fits", "a.ppm"}, kPercentError},
                    BadRun{"percent_above_100", {"-p", "1", "101", "img.fits", "a.ppm"}, kPercentError},
                    BadRun{"percents_reversed", {"-p", "60", "40", "img.fits", "a.ppm"}, kPercentError},
                    BadRun{"percent_missing", {"img.fits", "a.ppm", "-p", "1"}, kPercentError},
                    BadRun{"unreadable_image",
                           {"none.fits", "a.ppm"},
                           "rf: Error - file not found ( none.fits )\nError reading FITS file, program terminating.\n"}),
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
    ASSERT_EQ(fits_read(dir.file("frame.b.fits").c_str(), h, test::plane_a()), 0);
    fits_free_header(h);
    const float saturated = 65535.0f - 32768.0f;
    auto in_box = [&](int x, int y) { return x >= x1 - 1 && x < x2 && y >= y1 - 1 && y < y2; };
    for (int x = x1 - 2; x <= x2; ++x)
        for (int y = y1 - 2; y <= y2; ++y)
            ASSERT_EQ(test::plane_a()[x][y] == saturated, in_box(x, y)) << x << "," << y;

    const std::vector<std::string> limits = {"-b", m[1], m[2], m[3], m[4], "frame.b.fits"};
    ASSERT_EQ(test::run(test::programs::BOXPATCH, limits, {dir.path()}).status, 0);
    ASSERT_EQ(fits_read(dir.file("frame.b.fits").c_str(), h, test::plane_a()), 0);
    fits_free_header(h);
    for (int x = x1 - 1; x < x2; ++x)
        for (int y = y1 - 1; y < y2; ++y) ASSERT_LT(test::plane_a()[x][y], saturated - 30000) << x << "," << y;
}

}  // namespace
