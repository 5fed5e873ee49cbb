// fitspreview's stretch, the program on a known image, its PNG decoded with
// libpng, and fitsframe's sample frame.
#include <png.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <regex>
#include <set>
#include <tuple>

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

// Zscale takes the range too when fewer than 5 values are finite.
TEST(Stretch, RangeSkipsValuesThatAreNotFinite) {
    for (const auto stretch : {range_stretch, zscale_stretch}) {
        fill({{kNaN, 4, -kInf}, {7.5f, kInf, -2}, {1000, 1000, 1000}});
        const Stretch s = stretch(test::plane_a(), 2, 3);  // the third column lies outside
        EXPECT_EQ(s.low, -2.0);
        EXPECT_EQ(s.high, 7.5);
        fill({{kNaN}});
        const Stretch none = stretch(test::plane_a(), 1, 1);
        EXPECT_EQ(none.low, 0.0);
        EXPECT_EQ(none.high, 0.0);
    }
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

// 1000 values are sampled from 2363 finite ones (every second in file order,
// the first 1000): a line of slope 1 with a ripple of +-0.25 and five
// outliers. Pixels that are not sampled are 1e6 and NaN, which move the
// cuts if they get in. Zscale rejects the outliers and takes the median
// 499.5 -+ the slope / 0.25 times 498 and 501 ranks.
TEST(Stretch, ZscaleFitsTheSortedSampleWithoutOutliers) {
    std::vector<float> sample = {-5000, -4999, 5000, 5001, 5002};
    for (int r = 2; r < 997; ++r) sample.push_back(static_cast<float>(r) + (r % 2 ? -0.25f : 0.25f));
    const int32_t width = 13, height = 200;
    int n = 0;  // finite pixels so far
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool sampled = n % 2 == 0 && n / 2 < 1000;
            const bool nan = (x * 7 + y) % 11 == 0;
            test::plane_a()[x][y] = nan ? kNaN : sampled ? sample[static_cast<size_t>(n / 2 * 379 % 1000)] : 1e6f;
            n += nan ? 0 : 1;
        }
    }
    ASSERT_EQ(n, 2363);
    const Stretch s = zscale_stretch(test::plane_a(), width, height);
    EXPECT_NEAR(s.low, 499.5 - 498 * 4, 1e-6);
    EXPECT_NEAR(s.high, 499.5 + 501 * 4, 1e-6);
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
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

class FitsPreviewPng : public testing::TestWithParam<std::tuple<int, PictureCase>> {};

// The PNG holds exactly the grey levels of the PPM of the same image and
// stretch, and the program says the same of both.
TEST_P(FitsPreviewPng, HoldsTheGreyLevelsOfThePpm) {
    const auto& [bitpix, c] = GetParam();
    const int32_t width = 37, height = 23;
    std::vector<double> values;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) values.push_back((x * 131 + y * 71) % 97 + (bitpix == 8 ? 50 : -40));
    values[5] = bitpix == 8 ? 255 : 30000;  // a hot pixel
    if (bitpix == -32) values[40] = values[41] = kNaN, values[80] = kInf, values[81] = -kInf;
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), test::fits_file(bitpix, width, height, values, {test::value_card("BZERO", "7")}));

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
}

INSTANTIATE_TEST_SUITE_P(
    ImagesAndStretches, FitsPreviewPng,
    testing::Combine(testing::Values(8, 16, -32),
                     testing::Values(PictureCase{"range", {}, false}, PictureCase{"percentiles", {"-p", "1", "99"}, false},
                                     PictureCase{"zscale", {"-z"}, false},
                                     PictureCase{"region", {"-r", "3", "20", "2", "15"}, false},
                                     PictureCase{"side_by_side", {"-z", "-r", "30", "40", "20", "30"}, true})),
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
    "fitspreview [-p LOW HIGH | -z] [-r X1 X2 Y1 Y2] image.fits [after.fits] picture.png\n";
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
