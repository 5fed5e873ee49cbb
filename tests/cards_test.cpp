// The card writers and the minimal header: card layouts, the block-chaining
// state of card_slot and blocks, and the card counter.
#include <cstring>

#include "support.hpp"

namespace {

enum class Writer { value, string, commentary };

struct LayoutCase {
    const char* name;
    Writer writer;
    std::string key, value, comment;
    std::string expected;  // the whole card, blank-filled to 80 by test::card
};

const std::string k19 = "1234567890123456789";
const std::string k20 = k19 + "0";
const std::string k35 = k20 + "abcdefghijklmno";
const std::string k60 = std::string(50, 's') + "0123456789";
const std::string k75 = std::string(70, 'c') + "TAIL.";
const std::string k100 = std::string(47, 'm') + std::string(53, 'X');

const LayoutCase kLayouts[] = {
    {"Value19EndsInColumn30", Writer::value, "K", k19, "c", "K       =  " + k19 + " / c"},
    {"Value20EndsInColumn40", Writer::value, "K", k20, "c", "K       = " + std::string(10, ' ') + k20 + " / c"},
    {"Value35KeepsFirst30", Writer::value, "K", k35, "c", "K       = " + k35.substr(0, 30) + " / c"},
    {"EmptyValueIsTwentyBlanks", Writer::value, "K", "", "c", "K       = " + std::string(20, ' ') + " / c"},
    {"KeywordCutToEight", Writer::value, "ABCDEFGHIJ", "1", "c", "ABCDEFGH=                    1 / c"},
    {"ShortKeywordPadded", Writer::value, "ABC", "1", "", "ABC     =                    1 / "},
    {"CommentCutAtColumn80", Writer::value, "K", "1", k100,
     "K       =                    1 / " + std::string(47, 'm')},
    {"NegativeBzeroShortForm", Writer::value, "BZERO", "-1.000000000000e+00", "",
     "BZERO   =  -1.000000000000e+00 / "},
    {"HugeValueLongForm", Writer::value, "BZERO", "-1.000000000000e+100", "",
     "BZERO   =           -1.000000000000e+100 / "},
    {"StringEmpty", Writer::string, "OBJECT", "", "", "OBJECT  = ''"},
    {"StringKeepsFirst58", Writer::string, "OBJECT", k60, "", "OBJECT  = '" + k60.substr(0, 58) + "'"},
    {"StringBlanksKept", Writer::string, "OBJECT", " M31 ", "", "OBJECT  = ' M31 '"},
    {"CommentaryKeepsFirst70", Writer::commentary, "COMMENT", k75, "", "COMMENT   " + k75.substr(0, 70)},
    {"CommentaryHistory", Writer::commentary, "HISTORY", "split", "", "HISTORY   split"},
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

// A one-block chain of 'x' characters, so every byte a writer leaves alone
// shows.
FitsHeader marked_record(int16_t card_slot) {
    FitsHeader h;
    h.blocks = test::chain_from(std::string(FITS_BLOCK, 'x'));
    h.card_slot = card_slot;
    return h;
}

char* write_card(Writer writer, char* pos, const LayoutCase& c, FitsHeader& h) {
    switch (writer) {
    case Writer::value: return fits_add_card(pos, c.key.c_str(), c.value.c_str(), c.comment.c_str(), h);
    case Writer::string: return fits_add_string_card(pos, c.key.c_str(), c.value.c_str(), h);
    case Writer::commentary: return fits_add_comment_card(pos, c.key.c_str(), c.value.c_str(), h);
    }
    return nullptr;
}

class CardLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(CardLayout, StoresExactlyEightyCharacters) {
    const LayoutCase& c = GetParam();
    FitsHeader h = marked_record(3);
    h.ncards = 7;
    char* pos = h.blocks->cards + 2 * CARD_LEN;
    char* next = write_card(c.writer, pos, c, h);

    const std::string block(h.blocks->cards, FITS_BLOCK);
    EXPECT_EQ(block.substr(2 * CARD_LEN, CARD_LEN), test::card(c.expected));
    EXPECT_EQ(block.substr(0, 2 * CARD_LEN) + block.substr(3 * CARD_LEN), std::string(FITS_BLOCK - CARD_LEN, 'x'));
    EXPECT_EQ(next, pos + CARD_LEN);
    EXPECT_EQ(h.card_slot, 4);
    EXPECT_EQ(h.ncards, c.writer == Writer::value ? 8 : 7);  // only value cards are counted
    fits_free_header(h);
}

INSTANTIATE_TEST_SUITE_P(Table, CardLayout, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

// Every writer opens the next block after the card in position 36, and only
// then.
class BlockChaining : public testing::TestWithParam<Writer> {};

TEST_P(BlockChaining, Slot35StaysInTheBlockAndSlot36OpensTheNext) {
    const LayoutCase c{"", GetParam(), "K", "1", "c", ""};
    FitsHeader h = marked_record(35);
    HeaderBlock* const first = h.blocks;
    char* next = write_card(c.writer, first->cards + 34 * CARD_LEN, c, h);
    EXPECT_EQ(next, first->cards + 35 * CARD_LEN);
    EXPECT_EQ(h.card_slot, 36);
    EXPECT_EQ(h.blocks, first);
    EXPECT_EQ(first->link, nullptr);

    next = write_card(c.writer, next, c, h);
    ASSERT_NE(first->link, nullptr);
    EXPECT_EQ(h.blocks, first->link);
    EXPECT_EQ(next, first->link->cards);
    EXPECT_EQ(h.card_slot, 1);
    EXPECT_EQ(first->link->link, nullptr);
    const char* card36 = c.writer == Writer::value    ? "K       =                    1 / c"
                         : c.writer == Writer::string ? "K       = '1'"
                                                      : "K         1";
    EXPECT_EQ(std::string(first->cards + 35 * CARD_LEN, CARD_LEN), test::card(card36));
    // The new block is blank until cards are written into it.
    EXPECT_EQ(std::string(first->link->cards, FITS_BLOCK), std::string(FITS_BLOCK, ' '));
    h.blocks = first;
    fits_free_header(h);
}

INSTANTIATE_TEST_SUITE_P(Writers, BlockChaining, testing::Values(Writer::value, Writer::string, Writer::commentary));

// Writing cards one after another fills block after block; lookup from the
// first block then numbers them in the order written.
TEST(CardRun, SeventyNineCardsFillThreeBlocks) {
    FitsHeader h = marked_record(1);
    HeaderBlock* const first = h.blocks;
    char* pos = first->cards;
    for (int i = 1; i <= 79; ++i) {
        const std::string key = "K" + std::to_string(i);
        pos = i % 2 == 0 ? fits_add_card(pos, key.c_str(), "1", "", h)
                         : fits_add_comment_card(pos, key.c_str(), "odd", h);
    }
    EXPECT_EQ(h.ncards, 39);
    EXPECT_EQ(h.card_slot, 8);
    ASSERT_NE(first->link, nullptr);
    EXPECT_EQ(h.blocks, first->link->link);
    EXPECT_EQ(pos, h.blocks->cards + 7 * CARD_LEN);
    char value[VALUE_BUF_LEN];
    for (int i : {1, 36, 37, 72, 73, 79}) EXPECT_EQ(fits_find_key(first, ("K" + std::to_string(i)).c_str(), value), i);
    h.blocks = first;
    fits_free_header(h);
}

// fits_pad_header blanks positions card_slot + 1 through 36, counted from
// the position it is given.
TEST(PadHeader, BlanksTheRestOfTheBlock) {
    const struct {
        int16_t slot;
        int first_blank, blanks;  // position given (from 1) and cards blanked
    } cases[] = {{9, 9, 27}, {1, 2, 35}, {36, 1, 0}, {40, 1, 0}};
    for (const auto& c : cases) {
        FitsHeader h = marked_record(c.slot);
        h.ncards = 5;
        fits_pad_header(h.blocks->cards + (c.first_blank - 1) * CARD_LEN, h);
        std::string expected(FITS_BLOCK, 'x');
        expected.replace((c.first_blank - 1) * CARD_LEN, c.blanks * CARD_LEN, std::string(c.blanks * CARD_LEN, ' '));
        EXPECT_TRUE(std::string(h.blocks->cards, FITS_BLOCK) == expected) << "card_slot " << c.slot;
        EXPECT_EQ(h.card_slot, c.slot);
        EXPECT_EQ(h.ncards, 5);
        fits_free_header(h);
    }
}

TEST(MakeHeader, WritesTheEightCards) {
    FitsHeader h;
    h.bitpix = -32;
    h.naxis1 = 2048;
    h.naxis2 = 4096;
    h.bscale = 1.0;
    h.bzero = 0.0;
    char* pos = fits_make_header(h);
    ASSERT_NE(h.blocks, nullptr);
    const std::vector<std::string> expected = {
        "SIMPLE  =                    T / DATA IS IN FITS FORMAT",
        "BITPIX  =                  -32 / BITS PER PIXEL(<0:=REAL)",
        "NAXIS   =                    2 / NUMBER OF AXES",
        "NAXIS1  =                 2048 / PIXELS ON 1ST MOST VARYING AXIS",
        "NAXIS2  =                 4096 / PIXELS ON 2ND MOST VARYING AXIS",
        "BSCALE  =   1.000000000000e+00 / VALUE= DATA*BSCALE+BZERO",
        "BZERO   =   0.000000000000e+00 /",
        "END     =                      / END OF FITS HEADER INFORMATION",
    };
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(std::string(h.blocks->cards + i * CARD_LEN, CARD_LEN), test::card(expected[i])) << "card " << i + 1;
    EXPECT_EQ(pos, h.blocks->cards + 8 * CARD_LEN);
    EXPECT_EQ(h.ncards, 9);
    EXPECT_EQ(h.card_slot, 9);
    EXPECT_EQ(h.naxis, 2);
    EXPECT_EQ(h.bytes_per_pixel, -4);
    EXPECT_EQ(h.blocks->link, nullptr);
    fits_free_header(h);
}

TEST(MakeHeader, BytesPerPixelFromBitpix) {
    for (const auto& [bitpix, bytes] : {std::pair{-64, -8}, {-32, -4}, {8, 1}, {16, 2}, {32, 4}, {-8, -1}}) {
        FitsHeader h;
        h.bitpix = static_cast<int16_t>(bitpix);
        ASSERT_NE(fits_make_header(h), nullptr);
        EXPECT_EQ(h.bytes_per_pixel, bytes) << "BITPIX " << bitpix;
        fits_free_header(h);
    }
}

// A reused chain keeps its first block: positions 9 to 36 as they were, later
// blocks released (the sanitizer build would report them as leaked).
TEST(MakeHeader, ReusesTheFirstBlock) {
    FitsHeader h;
    h.blocks = test::chain_from(std::string(3 * FITS_BLOCK, 'x'));
    h.bitpix = 16;
    h.naxis1 = 3;
    h.naxis2 = 4;
    HeaderBlock* const first = h.blocks;
    EXPECT_EQ(fits_make_header(h), first->cards + 8 * CARD_LEN);
    EXPECT_EQ(h.blocks, first);
    EXPECT_EQ(first->link, nullptr);
    EXPECT_EQ(std::string(first->cards + 8 * CARD_LEN, 28 * CARD_LEN), std::string(28 * CARD_LEN, 'x'));
    fits_free_header(h);
}

// A minimal header, padded, makes a file that the reader takes back.
TEST(MakeHeader, PaddedHeaderMakesAReadableFile) {
    FitsHeader h;
    h.bitpix = 16;
    h.naxis1 = 5;
    h.naxis2 = 3;
    h.bzero = 32768.0;
    fits_pad_header(fits_make_header(h), h);
    h.npixels = 15;
    for (int i = 0; i < 15; ++i) test::plane_a()[i % 5][i / 5] = static_cast<float>(i * 100 - 700);
    test::TempDir dir;
    const std::string path = dir.file("made.fits");
    ASSERT_EQ(fits_write(path.c_str(), h, test::plane_a()), FITS_OK);
    fits_free_header(h);

    std::vector<double> values;
    for (int i = 0; i < 15; ++i) values.push_back(i * 100 - 700);
    const std::string file = test::read_file(path);
    EXPECT_TRUE(file.substr(FITS_BLOCK) == test::data_blocks(16, values));
    FitsHeader back;
    ASSERT_EQ(fits_read(path.c_str(), back, test::plane_b()), FITS_OK);
    EXPECT_EQ(back.naxis1, 5);
    EXPECT_EQ(back.naxis2, 3);
    EXPECT_EQ(back.bitpix, 16);
    EXPECT_EQ(back.bzero, 32768.0);
    EXPECT_EQ(back.ncards, 8);
    fits_free_header(back);
}

}  // namespace
