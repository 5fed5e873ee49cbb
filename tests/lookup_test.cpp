// Card lookup and printing on chains built byte by byte.
#include <cstring>

#include "support.hpp"

namespace {

struct LookupCase {
    const char* name;
    std::vector<std::string> cards;
    const char* key;
    int32_t number;
    std::string value;
};

std::string nul_card(std::string text, size_t at) {
    std::string c = test::card(text);
    c[at] = '\0';
    return c;
}

const LookupCase kLookups[] = {
    {"PrefixDoesNotMatch", {test::value_card("NAXIS1", "5"), "NAXIS   =  2"}, "NAXIS", 2, "2"},
    {"LowerCaseKey", {"SIMPLE  = T"}, "simple", -1, ""},
    {"KeyLongerThanEight", {"LONGKEYW= 1"}, "LONGKEYWORD", -1, ""},
    {"KeyEndingInBlank", {"AB      = 1"}, "AB ", -1, ""},
    {"InnerBlankKept", {"DATE OBS= '2026-01-01'"}, "DATE OBS", 1, "2026-01-01"},
    {"BlankKeywordIsOneBlank", {"        x"}, " ", 1, ""},
    {"FirstOfTwo", {"A       = 1", "A       = 2"}, "A", 1, "1"},
    {"RightJustifiedWithComment", {"NAXIS1  =                 2048 / width"}, "NAXIS1", 1, "2048"},
    {"QuotedKeepsBlanks", {"OBJECT  = 'M31 field ' / x"}, "OBJECT", 1, "M31 field "},
    {"QuoteNotClosed", {"OBJECT  = 'abc"}, "OBJECT", 1, "abc" + std::string(66, ' ')},
    {"EmptyQuotes", {"OBJECT  = ''"}, "OBJECT", 1, ""},
    {"EndHasNoValue", {"SIMPLE  = T", "END"}, "END", 2, ""},
    {"MinimalEndCardValue", {"END     =                      / END OF FITS HEADER INFORMATION"}, "END", 1, "/"},
    {"ValueInColumnTen", {"KEY     =X rest"}, "KEY", 1, "X"},
    {"NulEndsKeyword", {nul_card("AB CD   = 1", 2)}, "AB", 1, ""},
    {"NulEndsValue", {nul_card("K       =   12345", 14)}, "K", 1, "12"},
};

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsNumberAndValue) {
    const LookupCase& c = GetParam();
    HeaderBlock* chain = test::chain_from(test::header_blocks(c.cards));
    char value[VALUE_BUF_LEN];
    std::memset(value, 'Z', sizeof value);
    EXPECT_EQ(fits_find_key(chain, c.key, value), c.number);
    EXPECT_EQ(std::string(value), c.value);
    FitsHeader owner;
    owner.blocks = chain;
    fits_free_header(owner);
}

INSTANTIATE_TEST_SUITE_P(Cards, Lookup, testing::ValuesIn(kLookups),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Lookup, CardNumbersRunAcrossBlocksFromTheStartingBlock) {
    std::vector<std::string> cards(CARDS_PER_BLOCK + 4, "COMMENT x");
    cards.push_back("TARGET  = 7");
    FitsHeader h;
    h.blocks = test::chain_from(test::header_blocks(cards));
    char value[VALUE_BUF_LEN];
    EXPECT_EQ(fits_find_key(h.blocks, "TARGET", value), 41);
    EXPECT_EQ(fits_find_key(h.blocks->link, "TARGET", value), 5);
    EXPECT_EQ(fits_find_key(nullptr, "TARGET", value), -1);
    EXPECT_STREQ(value, "");
    fits_free_header(h);
    EXPECT_EQ(h.blocks, nullptr);
    fits_free_header(h);  // an empty record stays empty
}

// An unquoted word is stored like strncpy with the maximum length n, and
// nothing beyond the larger of n and 71 bytes is ever written.
TEST(Lookup, UnquotedWordIsBoundedByN) {
    const std::string word71(71, 'W');
    struct Case { std::string card; int32_t n; std::string stored; size_t written; };
    const Case cases[] = {
        {"NAXIS1  = 2048", 4, "2048", 4},
        {"NAXIS1  = 2048", 85, std::string("2048") + std::string(81, '\0'), 85},
        {"NAXIS1  = 2048", 0, std::string(1, '\0'), 1},
        {"LONG     " + word71, 10, std::string(10, 'W'), 10},
        {"LONG     " + word71, 71, word71, 71},
    };
    for (const Case& c : cases) {
        FitsHeader h;
        h.blocks = test::chain_from(test::header_blocks({c.card}));
        char buf[128];
        std::memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(fits_find_key_n(h.blocks, c.card.substr(0, 6) == "NAXIS1" ? "NAXIS1" : "LONG", buf, c.n), 1);
        EXPECT_EQ(std::string(buf, c.stored.size()), c.stored) << c.card << " n=" << c.n;
        EXPECT_EQ(std::string(buf + c.written, sizeof buf - c.written), std::string(sizeof buf - c.written, 'Z'))
            << "wrote past " << c.written << " bytes for n=" << c.n;
        fits_free_header(h);
    }
}

TEST(PrintCard, CutsTrailingBlanksButKeepsColumnOne) {
    const std::string full = std::string(79, 'A') + "B";
    const std::string out = test::captured_stdout([&] {
        fits_print_card(test::card("END").c_str());
        fits_print_card(test::card("").c_str());
        fits_print_card(full.c_str());
        fits_print_card(nul_card("ABC DEF", 3).c_str());
    });
    EXPECT_EQ(out, "END\n \n" + full + "\nABC\n");
}

TEST(PrintHeader, PrintsEveryCardOfEveryBlock) {
    FitsHeader h;
    h.blocks = test::chain_from(test::header_blocks(std::vector<std::string>(40, "X")));
    const std::string out = test::captured_stdout([&] { fits_print_header(h.blocks); });
    std::string expected;
    for (int i = 0; i < 2 * CARDS_PER_BLOCK; ++i) expected += test::card(i < 40 ? "X" : "") + "\n";
    EXPECT_EQ(out, expected);
    fits_free_header(h);
}

}  // namespace
