// quadmerge run as a process in a temporary folder: which pixels of the
// rewritten image come from which channel file, its output and exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"

namespace {

using Strings = std::vector<std::string>;
const std::string kReadFailure = "Error reading FITS file, program terminating.\n";

test::RunResult run_quadmerge(const Strings& args, const test::RunOptions& options = {}) {
    return test::run(test::programs::QUADMERGE, args, options);
}

struct Size {
    int w, h, bitpix;
};

std::string channel_name(const std::string& image, int c) {
    return image.substr(0, image.size() - 5) + "." + "abcd"[c] + ".fits";
}

// Image pixels are even and channel pixels odd, all in 0..253, so that
// every item type holds them and each merged pixel shows where it came from.
double image_value(int x, int y, int seed) { return 2 * ((x * 13 + y * 17 + seed * 5) % 127); }
double channel_value(int c, int k, int y) { return 1 + 2 * ((c * 7 + k * 29 + y * 11) % 127); }

std::string channel_file(int c, const Size& s) {
    std::vector<double> px;
    for (int y = 0; y < s.h; ++y)
        for (int k = 0; k < s.w; ++k) px.push_back(channel_value(c, k, y));
    const Strings cards{test::value_card("ZPREMPCH", std::to_string(c + 1)), test::value_card("BZERO", "-7.5")};
    return test::fits_file(s.bitpix, s.w, s.h, px, cards);
}

// The image as read or, when `channels` are given, as merging must leave it:
// column k of channel c at column 4k + c where that channel has column k and
// the row; every other pixel as it was.
std::string image_file(const Size& s, int seed, const std::vector<Size>& channels = {},
                       const Strings& extra = {}) {
    std::vector<double> px;
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            const bool merged = !channels.empty() && x / 4 < channels[x % 4].w && y < channels[x % 4].h;
            px.push_back(merged ? channel_value(x % 4, x / 4, y) : image_value(x, y, seed));
        }
    return test::fits_file(s.bitpix, s.w, s.h, px, extra);
}

struct MergeCase {
    const char* name;
    Size image;
    std::vector<Size> channels;  // a to d
};

const MergeCase kMergeCases[] = {
    {"Width8", {8, 3, -32}, {{2, 3, -32}, {2, 3, -32}, {2, 3, -32}, {2, 3, -32}}},
    // Columns 8 and 9 are in no channel of quadsplit's width and keep theirs.
    {"Width10", {10, 3, 16}, {{2, 3, 16}, {2, 3, 16}, {2, 3, 16}, {2, 3, 16}}},
    // Third columns of a and b land on 8 and 9; those of c and d lie outside.
    {"WiderChannels", {10, 3, 16}, {{3, 3, 16}, {3, 3, 16}, {3, 3, 16}, {3, 3, 16}}},
    {"NarrowChannel", {12, 4, 32}, {{3, 4, 32}, {1, 4, 32}, {3, 4, 32}, {3, 4, 32}}},
    {"ShortChannel", {8, 5, 8}, {{2, 5, 8}, {2, 5, 8}, {2, 3, 8}, {2, 5, 8}}},
    {"TallChannel", {8, 3, -32}, {{2, 3, -32}, {2, 6, -32}, {2, 3, -32}, {2, 3, -32}}},
    // The image's BITPIX decides how the merged pixels are stored.
    {"ChannelsOfOtherTypes", {8, 3, 16}, {{2, 3, 8}, {2, 3, -32}, {2, 3, 32}, {2, 3, 16}}},
    {"ByteImageFromFloats", {9, 2, 8}, {{2, 2, -32}, {2, 2, -32}, {2, 2, -32}, {2, 2, -32}}},
    {"DoubleImage", {8, 3, -64}, {{2, 3, -64}, {2, 3, -64}, {2, 2, -64}, {2, 3, -64}}},
    {"DoubleChannelsIntoOtherTypes", {9, 2, 32}, {{2, 2, -64}, {2, 2, 16}, {2, 2, -64}, {2, 2, -32}}},
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class QuadmergeLayout : public testing::TestWithParam<MergeCase> {};

// The image has a two-block header of its own and an extension after its
// data; the rewritten file keeps both, and its permission bits.
TEST_P(QuadmergeLayout, PutsChannelColumnsBack) {
    const MergeCase& c = GetParam();
    Strings extra(40, test::card("COMMENT   the image's own"));
    extra.push_back(test::value_card("BZERO", "100"));
    std::string tail = test::header_blocks({test::value_card("XTENSION", "'IMAGE   '"), test::card("END")});
    for (int i = 0; i < FITS_BLOCK + 23; ++i) tail.push_back(static_cast<char>(i * 7 + 3));
    test::TempDir dir;
    const std::string path = dir.file("frame.fits");
    test::write_file(path, image_file(c.image, 0, {}, extra) + tail);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    for (int k = 0; k < 4; ++k)
        test::write_file(dir.file(channel_name("frame.fits", k)), channel_file(k, c.channels[k]));

    const test::RunResult r = run_quadmerge({"frame.fits"}, {dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "filename: frame.fits, length=10\n");
    EXPECT_TRUE(test::read_file(path) == image_file(c.image, 0, c.channels, extra) + tail);
    for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(test::read_file(dir.file(channel_name("frame.fits", k))) == channel_file(k, c.channels[k]));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::list_dir(dir.path()).size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Table, QuadmergeLayout, testing::ValuesIn(kMergeCases),
                         [](const testing::TestParamInfo<MergeCase>& info) { return info.param.name; });

// Runs over several images, each 10 x 3 with channels of quadsplit's size.
const Size kImage{10, 3, 16};
const std::vector<Size> kChannels(4, Size{2, 3, 16});

struct RunCase {
    const char* name;
    Strings images;                                            // each with its four channel files
    std::vector<std::pair<std::string, std::string>> changes;  // file then given these bytes, or removed
    Strings args;
    std::string output;
    int status;
    Strings merged;  // images rewritten; every other file stays as it was
    int64_t size_limit = -1;
};

std::string line(const std::string& name) {
    return "filename: " + name + ", length=" + std::to_string(name.size()) + "\n";
}

// An image of BITPIX -40, which has no item type.
const std::string kNoItemType =
    test::header_blocks({test::value_card("SIMPLE", "T"), test::value_card("BITPIX", "-40"), test::value_card("NAXIS", "2"),
                         test::value_card("NAXIS1", "2"), test::value_card("NAXIS2", "3"), test::card("END")}) +
    std::string(FITS_BLOCK, '\0');
const std::string kNoItemTypeLine = "rf:  -40 BITPIX format not supported.\n";
const std::string kShortData = "rf: Error reading FITS data- EOF encountered before end of data\n";

const RunCase kRunCases[] = {
    // Five characters are cut whatever they are: img.fit has im.a.fits ...
    {"TwoImages", {"one.fits", "img.fit"}, {}, {"one.fits", "img.fit"}, line("one.fits") + line("img.fit"), 0,
     {"one.fits", "img.fit"}},
    {"MissingChannelStopsTheRun", {"one.fits", "two.fits", "six.fits"}, {{"two.d.fits", ""}},
     {"one.fits", "two.fits", "six.fits"},
     line("one.fits") + line("two.fits") + "rf: Error - file not found ( two.d.fits )\n" +
         "Error reading FITS file: two.d.fits\n",
     1, {"one.fits"}},
    {"DashArgumentIsAnImage", {"one.fits"}, {}, {"-x", "one.fits"},
     "rf: Error - file not found ( -x )\n" + kReadFailure, 1, {}},
    {"FirstWordOfEachArgument", {"one.fits", "two.fits"}, {}, {" one.fits two.fits"}, line("one.fits"), 0,
     {"one.fits"}},
    {"EmptyArgumentRepeatsTheName", {"one.fits"}, {}, {"one.fits", "  "}, line("one.fits") + line("one.fits"), 0,
     {"one.fits"}},
    {"EmptyFirstArgumentIsNONE", {"one.fits"}, {}, {"", "one.fits"},
     "rf: Error - file not found ( NONE )\n" + kReadFailure, 1, {}},
    {"ShortNameRefusedAfterItsLine", {"one.fits", "two.fits"}, {{"a.fi", image_file(kImage, 9)}},
     {"one.fits", "a.fi", "two.fits"},
     line("one.fits") + line("a.fi") +
         "Error - a.fi has fewer than 5 characters: no channel file names can be formed from it\n",
     1, {"one.fits"}},
    {"MissingImage", {"one.fits"}, {}, {"one.fits", "nope.fits"},
     line("one.fits") + "rf: Error - file not found ( nope.fits )\n" + kReadFailure, 1, {"one.fits"}},
    {"ImageWithoutItemType", {"one.fits"}, {{"one.fits", kNoItemType}}, {"one.fits"}, kNoItemTypeLine + kReadFailure,
     1, {}},
    {"ChannelWithoutItemType", {"one.fits"}, {{"one.b.fits", kNoItemType}}, {"one.fits"},
     line("one.fits") + kNoItemTypeLine + "Error reading FITS file: one.b.fits\n", 1, {}},
    // A file that ends in its items leaves its image as it was; one that
    // lacks only the fill after them is whole.
    {"CutShortChannelLeavesItsImage", {"one.fits", "two.fits"},
     {{"one.c.fits", channel_file(2, kChannels[2]).substr(0, FITS_BLOCK + 11)}}, {"one.fits", "two.fits"},
     line("one.fits") + kShortData +
         "quadmerge: Error - one.c.fits is cut short (pixels missing from its data), one.fits not changed\n" +
         line("two.fits"),
     1, {"two.fits"}},
    {"CutShortImageNamedFirst", {"one.fits"},
     {{"one.fits", image_file(kImage, 0).substr(0, FITS_BLOCK + 59)},
      {"one.a.fits", channel_file(0, kChannels[0]).substr(0, FITS_BLOCK + 1)}},
     {"one.fits"},
     kShortData + line("one.fits") + kShortData +
         "quadmerge: Error - one.fits is cut short (pixels missing from its data), one.fits not changed\n",
     1, {}},
    {"LackingOnlyTheFillIsWhole", {"one.fits"}, {{"one.fits", image_file(kImage, 0).substr(0, FITS_BLOCK + 60)}},
     {"one.fits"}, kShortData + line("one.fits"), 0, {"one.fits"}},
    // Images of 5760 bytes cannot be written; the channel files are read all
    // the same, and the run goes on.
    {"FailedWritesGoOn", {"one.fits", "two.fits"}, {}, {"one.fits", "two.fits"},
     line("one.fits") + "wf:  Error writing FITS file\n" + line("two.fits") + "wf:  Error writing FITS file\n", 1,
     {}, 5000},
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class QuadmergeRun : public testing::TestWithParam<RunCase> {};

TEST_P(QuadmergeRun, PrintsExitsAndRewritesAsExpected) {
    const RunCase& c = GetParam();
    std::vector<std::pair<std::string, std::string>> files;  // as written beforehand
    for (size_t i = 0; i < c.images.size(); ++i) {
        files.emplace_back(c.images[i], image_file(kImage, static_cast<int>(i)));
        for (int k = 0; k < 4; ++k)
            files.emplace_back(channel_name(c.images[i], k), channel_file(k, kChannels[k]));
    }
    for (const auto& [name, bytes] : c.changes) {
        files.erase(std::remove_if(files.begin(), files.end(), [&name = name](auto& f) { return f.first == name; }),
                    files.end());
        if (!bytes.empty()) files.emplace_back(name, bytes);
    }
    test::TempDir dir;
    for (const auto& [name, bytes] : files) test::write_file(dir.file(name), bytes);

    const test::RunResult r = run_quadmerge(c.args, {dir.path(), c.size_limit});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.output, c.output);
    Strings names;
    for (const auto& [name, bytes] : files) {
        names.push_back(name);
        const int image = static_cast<int>(std::find(c.images.begin(), c.images.end(), name) - c.images.begin());
        const bool merged = std::find(c.merged.begin(), c.merged.end(), name) != c.merged.end();
        EXPECT_TRUE(test::read_file(dir.file(name)) == (merged ? image_file(kImage, image, kChannels) : bytes)) << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(test::list_dir(dir.path()), names);
}

INSTANTIATE_TEST_SUITE_P(Table, QuadmergeRun, testing::ValuesIn(kRunCases),
                         [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

}  // namespace
