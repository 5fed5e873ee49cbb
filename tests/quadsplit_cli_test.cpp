// quadsplit run as a process in a temporary folder: its output, exit status
// and the bytes of the four channel files it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "support.hpp"

namespace {

using Strings = std::vector<std::string>;
const std::string kReadFailure = "Error reading FITS file, program terminating.\n";

test::RunResult run_quadsplit(const Strings& args, const test::RunOptions& options = {}) {
    return test::run(test::programs::QUADSPLIT, args, options);
}

// A value card with its value ending in column 30, then " / " and a comment.
std::string commented_card(const std::string& key, long value, const std::string& comment) {
    return test::card(test::value_card(key, std::to_string(value)).substr(0, 30) + " / " + comment);
}

// Pixel values row by row, exact in single precision, in range for the item
// type and differing from their neighbours.
std::vector<double> pixels(int w, int h, int bitpix) {
    std::vector<double> px;
    for (int i = 0; i < w * h; ++i) {
        const int n = (i % w * 37 + i / w * 101 + 11) % 251;
        const double floating = static_cast<float>(n / 7.0 - 17.0);
        px.push_back(bitpix == 8 ? n : bitpix == 16 ? n * 131 - 16000 : bitpix == 32 ? n * 65537 - 8e6 : floating);
    }
    return px;
}

// An image's cards before END: the basic ones, NAXIS1 with a comment, `extra`.
Strings image_cards(int w, int h, int bitpix, const Strings& extra = {}) {
    Strings cards = test::basic_cards(bitpix, w, h);
    cards[3] = commented_card("NAXIS1", w, "image width");
    cards.insert(cards.end(), extra.begin(), extra.end());
    return cards;
}

std::string image_file(Strings cards, int bitpix, const std::vector<double>& px, const Strings& after_end = {}) {
    cards.push_back(test::card("END"));
    cards.insert(cards.end(), after_end.begin(), after_end.end());
    return test::header_blocks(cards) + test::data_blocks(bitpix, px);
}

// Channel c of an image w wide: its cards with NAXIS1 a quarter of the width
// and a channel card where END stood, then columns c, c + 4, ... of every
// row. When the image has a channel card already, that one carries the
// number from channel b on and the new one says 1.
std::string channel_file(Strings cards, int c, int w, int h, int bitpix, const std::vector<double>& px) {
    cards[3] = commented_card("NAXIS1", w / 4, "PIXELS ON 1ST MOST VARYING AXIS");
    int number = c + 1;
    const auto old = std::find_if(cards.begin(), cards.end(), [](auto& s) { return s.find("ZPREMPCH=") == 0; });
    if (old != cards.end()) {
        if (c > 0) *old = commented_card("ZPREMPCH", c + 1, "PREAMP CHANNEL NUMBER (1-4)");
        number = 1;
    }
    cards.push_back(commented_card("ZPREMPCH", number, "PREAMP CHANNEL NUMBER (1-4)"));
    std::vector<double> values;
    for (int y = 0; y < h; ++y)
        for (int k = 0; k < w / 4; ++k) values.push_back(px[static_cast<size_t>(y) * w + 4 * k + c]);
    return image_file(cards, bitpix, values);
}

Strings channel_names(const std::string& base) {
    return {base + ".a.fits", base + ".b.fits", base + ".c.fits", base + ".d.fits"};
}

std::string lines(const Strings& names) {
    std::string out;
    for (const std::string& n : names) out += n + "\n";
    return out;
}

// Splits frame.fits and checks all the run leaves. A stale frame.c.fits,
// longer than the new one, must be replaced.
void check_split(const Strings& cards, int w, int h, int bitpix, const Strings& after_end = {}) {
    const std::vector<double> px = pixels(w, h, bitpix);
    const std::string input = image_file(cards, bitpix, px, after_end);
    test::TempDir dir;
    test::write_file(dir.file("frame.fits"), input);
    test::write_file(dir.file("frame.c.fits"), std::string(3 * FITS_BLOCK, 'x'));

    const test::RunResult r = run_quadsplit({"frame.fits"}, {dir.path()});
    Strings names = channel_names("frame");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, lines(names));
    EXPECT_EQ(r.errors, "");
    for (int c = 0; c < 4; ++c)
        EXPECT_TRUE(test::read_file(dir.file(names[c])) == channel_file(cards, c, w, h, bitpix, px)) << c;
    EXPECT_TRUE(test::read_file(dir.file("frame.fits")) == input);
    names.push_back("frame.fits");
    EXPECT_EQ(test::list_dir(dir.path()), names);
}

// Widths 8, 10 (two columns in no channel) and 3 (channels of NAXIS1 = 0 and
// no data blocks), in every item type.
class QuadsplitGeometry : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(QuadsplitGeometry, WritesEveryFourthColumn) {
    const auto [w, bitpix] = GetParam();
    check_split(image_cards(w, 3, bitpix), w, 3, bitpix);
}

INSTANTIATE_TEST_SUITE_P(Table, QuadsplitGeometry,
                         testing::Combine(testing::Values(8, 10, 3), testing::Values(8, 16, 32, -32, -64)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& info) {
                             const int bitpix = std::get<1>(info.param);
                             return "Width" + std::to_string(std::get<0>(info.param)) + "Bitpix" +
                                    (bitpix < 0 ? "M" : "") + std::to_string(std::abs(bitpix));
                         });

struct HeaderCase {
    const char* name;
    Strings extra;      // cards between NAXIS2 and END
    Strings after_end;  // in END's block after it
};

const HeaderCase kHeaderCases[] = {
    // BZERO, BSCALE and the rest pass through; text after END is blanked.
    {"OtherCardsKept",
     {test::value_card("BZERO", "32768"), test::value_card("BSCALE", "1.0"), test::value_card("OBJECT", "'M 31'"),
      test::card("HISTORY   taken on the second night")},
     {test::card("COMMENT   left after END"), test::card("COMMENT   and after that")}},
    // END as card 36: the channel card takes its place and END opens a block.
    {"EndLastInItsBlock", Strings(30, test::card("COMMENT   filler")), {}},
    {"EndInTheSecondBlock", Strings(40, test::card("COMMENT   filler")), {}},
    {"OlderChannelCard", {commented_card("ZPREMPCH", 7, "by hand"), test::value_card("EXPTIME", "30")}, {}},
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class QuadsplitHeader : public testing::TestWithParam<HeaderCase> {};

TEST_P(QuadsplitHeader, KeepsTheImageCards) {
    check_split(image_cards(10, 3, 16, GetParam().extra), 10, 3, 16, GetParam().after_end);
}

INSTANTIATE_TEST_SUITE_P(Table, QuadsplitHeader, testing::ValuesIn(kHeaderCases),
                         [](const testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

struct NameCase {
    const char* name;
    std::string file;  // holds an 8 x 2 image
    Strings args;
    std::string output;  // the channel file names, or the whole output of a failed run
    int status;
    int64_t size_limit = -1;
    size_t cut = 0;  // when not 0: the image file ends after this many bytes
};

const std::string kShort = " has fewer than 5 characters: no channel file names can be formed from it\n";
const std::string kWriteFailure = "wf:  Error writing FITS file\n";
const std::string kShortData = "rf warning: Error reading FITS data- EOF before end of data\n";

const NameCase kNameCases[] = {
    {"ShortSuffix", "img.fit", {"img.fit"}, lines(channel_names("im")), 0},
    {"NothingLeftOfTheCut", "x.fit", {"x.fit"}, lines(channel_names("")), 0},
    {"FirstWordOfFirstArgument", "a.fits", {"  a.fits extra", "b.fits"}, lines(channel_names("a")), 0},
    {"EmptyArgumentIsNONE", "a.fits", {"", "a.fits"}, "rf: Error - file not found ( NONE )\n" + kReadFailure, 1},
    {"ThreeCharacters", "abc", {"abc"}, "Error - abc" + kShort, 1},
    {"FourCharacters", "a.fi", {"a.fi"}, "Error - a.fi" + kShort, 1},
    {"MissingFile", "a.fits", {"nope.fits"}, "rf: Error - file not found ( nope.fits )\n" + kReadFailure, 1},
    // Every channel file (5760 bytes) is over the limit: each is reported in turn.
    {"FailedWrites", "a.fits", {"a.fits"},
     kWriteFailure + "a.a.fits\n" + kWriteFailure + "a.b.fits\n" + kWriteFailure + "a.c.fits\n" + kWriteFailure +
         "a.d.fits\n",
     1, 5000},
    // 32 bytes of items: a file without the fill after them is whole, one
    // that ends in the items is cut short and gives no channel file.
    {"LacksOnlyTheFill", "a.fits", {"a.fits"}, kShortData + lines(channel_names("a")), 0, -1, FITS_BLOCK + 32},
    {"CutShort", "a.fits", {"a.fits"},
     kShortData + "quadsplit: Error - a.fits is cut short (pixels missing from its data), no channel file written\n", 1,
     -1, FITS_BLOCK + 31},
    {"CutShortInTheHeader", "a.fits", {"a.fits"}, "rf: File read error\n" + kReadFailure, 1, -1, FITS_BLOCK - 1},
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class QuadsplitRun : public testing::TestWithParam<NameCase> {};

TEST_P(QuadsplitRun, NamesFilesAndReports) {
    const NameCase& c = GetParam();
    const Strings cards = image_cards(8, 2, 16);
    const std::vector<double> px = pixels(8, 2, 16);
    const std::string input = image_file(cards, 16, px).substr(0, c.cut ? c.cut : std::string::npos);
    test::TempDir dir;
    test::write_file(dir.file(c.file), input);

    const test::RunResult r = run_quadsplit(c.args, {dir.path(), c.size_limit});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.output, c.output);
    Strings files{c.file};
    if (c.status == 0) {
        const Strings names = channel_names(c.file.substr(0, c.file.size() - 5));
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(test::read_file(dir.file(names[k])) == channel_file(cards, k, 8, 2, 16, px)) << names[k];
        files.insert(files.end(), names.begin(), names.end());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(test::list_dir(dir.path()), files);
    EXPECT_TRUE(test::read_file(dir.file(c.file)) == input);
}

INSTANTIATE_TEST_SUITE_P(Table, QuadsplitRun, testing::ValuesIn(kNameCases),
                         [](const testing::TestParamInfo<NameCase>& info) { return info.param.name; });

}  // namespace
