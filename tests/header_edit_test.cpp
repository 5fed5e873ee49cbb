// Rewriting a card in place and inserting one before END, on chains built
// byte by byte.
#include <cstring>

#include "support.hpp"

namespace {

// `count` filler cards F1, F2, ... (commentary, so lookups of other keys
// skip them).
std::vector<std::string> fillers(int count) {
    std::vector<std::string> cards;
    for (int i = 1; i <= count; ++i) cards.push_back(test::card("F" + std::to_string(i)));
    return cards;
}

std::vector<std::string> with(std::vector<std::string> cards, const std::vector<std::string>& more) {
    cards.insert(cards.end(), more.begin(), more.end());
    return cards;
}

struct Chain {
    FitsHeader h;
    explicit Chain(const std::string& text) { h.blocks = test::chain_from(text); }
    ~Chain() { fits_free_header(h); }
    std::string text() const {
        std::string out;
        for (const HeaderBlock* b = h.blocks; b != nullptr; b = b->link) out.append(b->cards, FITS_BLOCK);
        return out;
    }
    HeaderBlock* block(int index) const {
        HeaderBlock* b = h.blocks;
        while (index-- > 0 && b != nullptr) b = b->link;
        return b;
    }
};

const std::string kEnd = test::card("END");
const std::string kNew = test::card("NEW     =                   42 / inserted");

struct InsertCase {
    int end_card;       // card number of END in the chain
    int blocks_after;   // blocks of the chain after the insertion
    int end_block;      // block (from 0) and position of END afterwards
    int end_position;
};

class InsertCard : public testing::TestWithParam<InsertCase> {};

TEST_P(InsertCard, PutsTheCardWhereEndStoodAndEndAfterIt) {
    const InsertCase c = GetParam();
    // Junk after END shows that the rest of END's block is blanked.
    std::vector<std::string> cards = with(fillers(c.end_card - 1), {kEnd});
    const int total = (c.end_card + CARDS_PER_BLOCK - 1) / CARDS_PER_BLOCK * CARDS_PER_BLOCK;
    while (static_cast<int>(cards.size()) < total) cards.push_back(test::card("JUNK after end"));
    Chain chain(test::header_blocks(cards));
    HeaderBlock* const first = chain.h.blocks;
    chain.h.ncards = 3;
    chain.h.card_slot = 17;

    char* next = fits_insert_card("NEW", "42", "inserted", chain.h);

    const std::string expected = test::header_blocks(with(fillers(c.end_card - 1), {kNew, kEnd}));
    EXPECT_TRUE(chain.text() == expected) << "END at " << c.end_card;
    EXPECT_EQ(chain.h.blocks, first);
    EXPECT_EQ(chain.h.ncards, 4);
    EXPECT_EQ(chain.h.card_slot, c.end_position);
    ASSERT_NE(chain.block(c.blocks_after - 1), nullptr);
    EXPECT_EQ(chain.block(c.blocks_after), nullptr);
    EXPECT_EQ(next, chain.block(c.end_block)->cards + c.end_position * CARD_LEN);
}

INSTANTIATE_TEST_SUITE_P(EndPositions, InsertCard,
                         testing::Values(InsertCase{8, 1, 0, 9}, InsertCase{35, 1, 0, 36},
                                         InsertCase{36, 2, 1, 1}, InsertCase{40, 2, 1, 5},
                                         InsertCase{72, 3, 2, 1}),
                         [](const testing::TestParamInfo<InsertCase>& info) {
                             return "EndAt" + std::to_string(info.param.end_card);
                         });

TEST(InsertCard, TwoInsertionsKeepTheirOrder) {
    Chain chain(test::header_blocks(with(fillers(34), {kEnd})));
    fits_insert_card("FIRST", "1", "", chain.h);
    fits_insert_card("SECOND", "2", "", chain.h);
    const std::string expected = test::header_blocks(with(
        fillers(34), {test::card("FIRST   =                    1 /"), test::card("SECOND  =                    2 /"), kEnd}));
    EXPECT_TRUE(chain.text() == expected);
}

// END in position 36 of a block that is followed by others: the block
// holding END becomes the last of the chain, and the blocks it replaces are
// released (the sanitizer build would report them as leaked).
TEST(InsertCard, EndsTheChainAfterEndsBlock) {
    const std::string tail(2 * FITS_BLOCK, 't');
    Chain chain(test::header_blocks(with(fillers(35), {kEnd})) + tail);
    fits_insert_card("NEW", "42", "inserted", chain.h);
    EXPECT_TRUE(chain.text() == test::header_blocks(with(fillers(35), {kNew, kEnd})));
}

TEST(InsertCard, WithoutEndChangesNothing) {
    const std::string text = test::header_blocks(fillers(50));
    Chain chain(text);
    HeaderBlock* const first = chain.h.blocks;
    chain.h.card_slot = 7;
    chain.h.ncards = 3;
    EXPECT_EQ(fits_insert_card("NEW", "42", "inserted", chain.h), nullptr);
    EXPECT_TRUE(chain.text() == text);
    EXPECT_EQ(chain.h.blocks, first);
    EXPECT_EQ(chain.h.card_slot, 7);
    EXPECT_EQ(chain.h.ncards, 3);
}

struct SetCase {
    const char* name;
    std::vector<std::string> cards;  // before; the card to change is KEY
    int changed;                     // card number of the card rewritten, or 0
};

const std::string kKey = test::value_card("KEY", "7");
const std::string kRewritten = test::card("KEY     =                   99 / new");

const SetCase kSets[] = {
    {"InSecondBlock", with(fillers(40), {kKey, kEnd}), 41},
    {"AtPosition36", with(fillers(35), {kKey, kEnd}), 36},
    {"FirstOfTwo", with(fillers(3), {kKey, test::value_card("KEY", "8"), kEnd}), 4},
    {"StringCardBecomesValueCard", with(fillers(2), {test::card("KEY     = 'text' / old"), kEnd}), 3},
    {"MissingKeyChangesNothing", with(fillers(50), {kEnd}), 0},
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }

class SetCard : public testing::TestWithParam<SetCase> {};

TEST_P(SetCard, RewritesOnlyTheFirstCardWithTheKey) {
    const SetCase& c = GetParam();
    const std::string before = test::header_blocks(c.cards);
    Chain chain(before);
    HeaderBlock* const first = chain.h.blocks;
    chain.h.ncards = 3;
    chain.h.card_slot = 20;

    char* next = fits_set_card("KEY", "99", "new", chain.h);

    EXPECT_EQ(chain.h.blocks, first);
    if (c.changed == 0) {
        EXPECT_EQ(next, nullptr);
        EXPECT_TRUE(chain.text() == before);
        EXPECT_EQ(chain.h.ncards, 3);
        EXPECT_EQ(chain.h.card_slot, 20);
        return;
    }
    std::vector<std::string> cards = c.cards;
    cards[c.changed - 1] = kRewritten;
    EXPECT_TRUE(chain.text() == test::header_blocks(cards));
    const int position = (c.changed - 1) % CARDS_PER_BLOCK + 1;
    EXPECT_EQ(next, chain.block((c.changed - 1) / CARDS_PER_BLOCK)->cards + position * CARD_LEN);
    EXPECT_EQ(chain.h.card_slot, position);
    EXPECT_EQ(chain.h.ncards, 4);  // counted although no card was added
}

INSTANTIATE_TEST_SUITE_P(Table, SetCard, testing::ValuesIn(kSets),
                         [](const testing::TestParamInfo<SetCase>& info) { return info.param.name; });

// Inserting a key the header already holds adds a second card; setting it
// then changes the first.
TEST(SetCard, AfterInsertingADuplicateChangesTheOlderCard) {
    Chain chain(test::header_blocks(with(fillers(2), {kKey, kEnd})));
    fits_insert_card("KEY", "1", "inserted", chain.h);
    fits_set_card("KEY", "99", "new", chain.h);
    const std::string expected = test::header_blocks(
        with(fillers(2), {kRewritten, test::card("KEY     =                    1 / inserted"), kEnd}));
    EXPECT_TRUE(chain.text() == expected);
}

}  // namespace
