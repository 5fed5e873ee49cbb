// fits_read on files built byte by byte.
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include <unistd.h>

#include "support.hpp"

namespace {

struct Read {
    int result;
    std::string output;
};

// Reads `bytes` from a file into plane_a, in the given configuration.
Read read_bytes(const std::string& bytes, FitsHeader& h, FitsConfig config = FitsConfig::common) {
    test::TempDir dir;
    const std::string path = dir.file("in.fits");
    test::write_file(path, bytes);
    fits_set_config(config);
    Read r;
    r.output = test::captured_stdout([&] { r.result = fits_read(path.c_str(), h, test::plane_a()); });
    fits_set_config(FitsConfig::common);
    return r;
}

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

TEST(Reader, ItemValuesFollowTheEncodingTable) {
    struct Case { int bitpix; std::string item; uint32_t expected_bits; };
    const Case cases[] = {
        {16, "\x80\x00", bits_of(-32768.0f)},
        {8, "\xff", bits_of(255.0f)},
        {12, "\xff", bits_of(255.0f)},                     // bytes_per_pixel 1 as for BITPIX 8
        {32, std::string("\x01\x00\x00\x01", 4), bits_of(16777216.0f)},  // nearest float
        {-32, "\x7f\xc0\x12\x34", 0x7fc01234u},            // a NaN keeps its payload
    };
    for (const Case& c : cases) {
        auto cards = test::basic_cards(c.bitpix, 1, 1);
        cards.push_back("END");
        const std::string file = test::header_blocks(cards);
        std::string data = c.item;
        data.resize(FITS_BLOCK, '\0');
        FitsHeader h;
        ASSERT_EQ(read_bytes(file + data, h).result, FITS_OK) << c.bitpix;
        EXPECT_EQ(bits_of(test::plane_a()[0][0]), c.expected_bits) << "BITPIX " << c.bitpix;
        EXPECT_EQ(h.bytes_per_pixel, c.bitpix / 8);
        fits_free_header(h);
    }
}

// END's place decides the chain's length, ncards and where the data begin.
// A header longer than 32767 cards is still read whole (ncards, 16 bits,
// wraps; nothing reads it back).
TEST(Reader, HeaderChainEndsWithTheBlockHoldingEnd) {
    struct Case { int cards_before_end; int blocks; };
    const Case cases[] = {{5, 1}, {34, 1}, {35, 1}, {36, 2}, {2 * 36 + 2, 3}, {32767, 911}};
    for (const Case& c : cases) {
        auto cards = test::basic_cards(16, 2, 1);
        cards.resize(static_cast<size_t>(c.cards_before_end), "COMMENT filler");
        cards.push_back("END");
        FitsHeader h;
        ASSERT_EQ(read_bytes(test::header_blocks(cards) + test::data_blocks(16, {-7, 9}), h).result, FITS_OK);
        int blocks = 0;
        for (HeaderBlock* b = h.blocks; b != nullptr; b = b->link) ++blocks;
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(h.ncards, static_cast<int16_t>(c.cards_before_end + 1));
        EXPECT_EQ(test::plane_a()[0][0], -7.0f);
        EXPECT_EQ(test::plane_a()[1][0], 9.0f);
        fits_free_header(h);
    }
}

// A header is read up to MAX_HEADER_BLOCKS blocks looking for END, and no
// further: a file without END (here NUL blocks, as /dev/zero gives) is
// refused once the bound is reached instead of filling memory.
TEST(Reader, HeaderBlocksAreBounded) {
    test::TempDir dir;
    const std::string path = dir.file("long.fits");
    for (const int end_block : {MAX_HEADER_BLOCKS, MAX_HEADER_BLOCKS + 1}) {
        test::write_file(path, test::header_blocks(test::basic_cards(8, 1, 1)));
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(end_block + 1) * FITS_BLOCK), 0);
        const std::string end = test::card("END");
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(end_block - 1) * FITS_BLOCK);
        f.write(end.data(), CARD_LEN);
        f.close();

        FitsHeader h;
        int result = 0;
        const std::string out = test::captured_stdout([&] { result = fits_read(path.c_str(), h, test::plane_a()); });
        int blocks = 0;
        for (HeaderBlock* b = h.blocks; b != nullptr; b = b->link) ++blocks;
        EXPECT_EQ(blocks, MAX_HEADER_BLOCKS);
        if (end_block == MAX_HEADER_BLOCKS) {
            EXPECT_EQ(result, FITS_OK);
            EXPECT_EQ(out, "");
        } else {
            EXPECT_EQ(result, FITS_NOT_IMAGE);
            EXPECT_EQ(out, "rf: Error - no END card in the first " + std::to_string(MAX_HEADER_BLOCKS) +
                               " header blocks\n");
        }
        fits_free_header(h);
    }
}

TEST(Reader, FieldsOfTheRecord) {
    FitsHeader h;
    const std::string file = test::fits_file(16, 3, 2, {5, -3, 0, 1, 2, 4},
                                             {test::value_card("BSCALE", "2"), test::value_card("BZERO", "32768")});
    ASSERT_EQ(read_bytes(file, h).result, FITS_OK);
    EXPECT_EQ(h.naxis, 2);
    EXPECT_EQ(h.naxis1, 3);
    EXPECT_EQ(h.naxis2, 2);
    EXPECT_EQ(h.bitpix, 16);
    EXPECT_EQ(h.npixels, 6);
    EXPECT_EQ(h.bscale, 2.0);
    EXPECT_EQ(h.bzero, 32768.0);
    EXPECT_EQ(h.ncards, 8);
    EXPECT_EQ(h.datamax, 5);
    EXPECT_EQ(h.datamin, -3);
    // Raw items, row by row: (0,0) (1,0) (2,0) (0,1) ...; scaling is never applied.
    EXPECT_EQ(test::plane_a()[0][0], 5.0f);
    EXPECT_EQ(test::plane_a()[1][0], -3.0f);
    EXPECT_EQ(test::plane_a()[2][1], 4.0f);
    fits_free_header(h);

    // BSCALE is only looked for in the first block; NaN is a value like any other.
    auto late = test::basic_cards(8, 1, 1);
    late.resize(CARDS_PER_BLOCK, "COMMENT x");
    late.push_back(test::value_card("BSCALE", "0"));
    late.push_back("END");
    ASSERT_EQ(read_bytes(test::header_blocks(late) + test::data_blocks(8, {1}), h).result, FITS_OK);
    EXPECT_EQ(h.bscale, 1.0);
    EXPECT_EQ(h.bzero, 0.0);
    fits_free_header(h);
    ASSERT_EQ(read_bytes(test::fits_file(8, 1, 1, {1}, {test::value_card("BSCALE", "nan")}), h).result, FITS_OK);
    EXPECT_TRUE(std::isnan(h.bscale));
    fits_free_header(h);
}

struct FailureCase {
    const char* name;
    std::string bytes;
    FitsConfig config;
    int result;
    std::string output;
};

std::string header_only(std::vector<std::string> cards, bool end = true) {
    if (end) cards.push_back("END");
    return test::header_blocks(cards);
}

const std::string kNotFits = "rf: File not in FITS format\n";

std::vector<FailureCase> failure_cases() {
    auto basic = [](int bitpix, long n1, long n2) { return test::basic_cards(bitpix, n1, n2); };
    auto without = [](std::vector<std::string> cards, size_t i) {
        cards.erase(cards.begin() + static_cast<long>(i));
        return cards;
    };
    return {
        {"Empty", "", FitsConfig::common, FITS_SHORT_HEADER, "rf: File read error\n"},
        {"NoSimple", header_only(without(basic(8, 1, 1), 0)), FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"NaxisThree", header_only({test::value_card("SIMPLE", "F"), test::value_card("NAXIS", "3")}),
         FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"Naxis1Zero", header_only(basic(8, 0, 1)), FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"Naxis2Negative", header_only(basic(8, 1, -5)), FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"NoBitpix", header_only(without(basic(8, 1, 1), 1)), FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"Naxis1TooLarge", header_only(basic(8, 8193, 1)), FitsConfig::common, FITS_NOT_IMAGE,
         "rf: Error - NAXIS1 = 8193 is larger than the limit of 8192\n"},
        // The size limit applies to images of accepted form only.
        {"Naxis1TooLargeNaxis2Zero", header_only(basic(8, 777777701, 0)), FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"Naxis2WrapsTo16Bits", header_only(basic(8, 1, 65537)), FitsConfig::common, FITS_NOT_IMAGE,
         "rf: Error - NAXIS2 = 65537 is larger than the limit of 8192\n"},
        {"Bitpix64Common", header_only(basic(-64, 1, 1)), FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"Bitpix40Split", header_only(basic(-40, 1, 1)), FitsConfig::quadsplit, FITS_BAD_BITPIX,
         "rf:  -40 BITPIX format not supported.\n"},
        {"Bitpix64", header_only(basic(64, 1, 1)), FitsConfig::common, FITS_BAD_BITPIX, "rf:  64 BITPIX format not supported.\n"},
        {"BitpixNarrowsTo32", header_only(basic(65568, 1, 1)), FitsConfig::common, FITS_BAD_BITPIX,
         "rf:  65568 BITPIX format not supported.\n"},
        {"Bitpix24", header_only(basic(24, 1, 1)), FitsConfig::common, FITS_BAD_BITPIX, "rf:  24 BITPIX format not supported.\n"},
        {"Bitpix0", header_only(basic(0, 1, 1)), FitsConfig::common, FITS_BAD_BITPIX, "rf:  0 BITPIX format not supported.\n"},
        {"BitpixMinus16", header_only(basic(-16, 1, 1)), FitsConfig::common, FITS_BAD_BITPIX,
         "rf:  -16 BITPIX format not supported.\n"},
        // BITPIX is judged only once the whole chain is read.
        {"Bitpix64WithoutEnd", header_only(basic(64, 1, 1), false), FitsConfig::common, FITS_SHORT_HEADER, "rf: File read error\n"},
        {"BscaleZero", header_only([&] { auto c = basic(8, 1, 1); c.push_back(test::value_card("BSCALE", "-0")); return c; }()),
         FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
        {"BscaleText", header_only([&] { auto c = basic(8, 1, 1); c.push_back("BSCALE  = 'one'"); return c; }()),
         FitsConfig::common, FITS_NOT_IMAGE, kNotFits},
    };
}

class ReaderFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ReaderFailure, ResultAndLine) {
    const FailureCase& c = GetParam();
    FitsHeader h;
    const Read r = read_bytes(c.bytes, h, c.config);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(r.output, c.output);
    fits_free_header(h);
}

INSTANTIATE_TEST_SUITE_P(Files, ReaderFailure, testing::ValuesIn(failure_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, MissingFileNamesIt) {
    FitsHeader h;
    std::string out;
    int result = 0;
    out = test::captured_stdout([&] { result = fits_read("/nonexistent/x.fits", h, test::plane_a()); });
    EXPECT_EQ(result, FITS_CANNOT_OPEN);
    EXPECT_EQ(out, "rf: Error - file not found ( /nonexistent/x.fits )\n");
    EXPECT_EQ(h.blocks, nullptr);
}

// 100 x 100 16-bit pixels fill 7 blocks. A file cut 101 bytes into the third
// data block has five short blocks; what it did not supply, the item it
// supplied only one byte of included, reads as 0, never as what the plane
// held before.
TEST(Reader, DataThatEndEarly) {
    std::vector<double> values(100 * 100);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i % 1000) + 1;
    const std::string full = test::fits_file(16, 100, 100, values);
    const std::string cut = full.substr(0, FITS_BLOCK * 3 + 101);
    for (FitsConfig config : {FitsConfig::common, FitsConfig::quadsplit}) {
        for (int x = 0; x < 100; ++x) std::fill_n(test::plane_a()[x], 100, 7.0f);
        FitsHeader h;
        const Read r = read_bytes(cut, h, config);
        EXPECT_EQ(r.result, FITS_OK);
        std::string line = config == FitsConfig::common
                               ? "rf: Error reading FITS data- EOF encountered before end of data\n"
                               : "rf warning: Error reading FITS data- EOF before end of data\n";
        std::string expected;
        for (int i = 0; i < 5; ++i) expected += line;
        EXPECT_EQ(r.output, expected);
        const size_t supplied = (FITS_BLOCK * 2 + 101) / 2;
        for (size_t i = 0; i < values.size(); ++i) {
            const float want = i < supplied ? static_cast<float>(values[i]) : 0.0f;
            ASSERT_EQ(test::plane_a()[i % 100][i / 100], want) << "item " << i;
        }
        fits_free_header(h);
    }
    // Only the padding of the last block missing: that block is still short.
    FitsHeader h;
    EXPECT_EQ(read_bytes(full.substr(0, full.size() - 1), h).output,
              "rf: Error reading FITS data- EOF encountered before end of data\n");
    fits_free_header(h);
}

// datamax/datamin follow a per-value rule in single precision; check the
// reader's result against that rule applied value by value.
TEST(Reader, DataRangeFollowsThePerValueRule) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> dist(-5e4f, 5e4f);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<double> values(50);
        for (double& v : values) v = trial % 5 == 0 ? std::nan("") : dist(rng) / (trial % 3 + 1);
        values[static_cast<size_t>(trial)] = dist(rng);
        int64_t max = -4026531839LL;
        int64_t min = 4026531839LL;
        for (double d : values) {
            const float v = static_cast<float>(d);
            if (v > static_cast<float>(max)) max = static_cast<int64_t>(v);
            if (static_cast<float>(min) > v) min = static_cast<int64_t>(v);
        }
        FitsHeader h;
        ASSERT_EQ(read_bytes(test::fits_file(-32, 10, 5, values), h).result, FITS_OK);
        EXPECT_EQ(h.datamax, max);
        EXPECT_EQ(h.datamin, min);
        fits_free_header(h);
    }
}

}  // namespace
