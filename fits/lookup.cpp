// Reading cards in place: keyword lookup and printing. Nothing here writes
// to the chain.
//
// How a card is read:
//  - The keyword field is columns 1-8, cut of trailing blanks down to column
//    2 at most (eight blanks read as one blank); the comparison with the key
//    is exact and case-sensitive.
//  - The value begins at column 10 when that is not a blank, otherwise at the
//    first non-blank of columns 11-80. A value beginning with a quote runs to
//    the next quote (or the end of the card) and is stored whole with a
//    terminator, at most 70 characters. Any other value is the word up to the
//    next blank, at most 71 characters, stored like strncpy with the caller's
//    maximum length.
//  - A NUL byte inside a card ends the card's text there.
#include <cstdio>
#include <cstring>

#include "fits.hpp"

namespace {

constexpr int KEYWORD_LEN = 8;
constexpr int VALUE_COLUMN = 10;  // 1-based column where a value may start

bool keyword_matches(const char* card, const char* key_name) {
    char keyword[KEYWORD_LEN + 1];
    std::memcpy(keyword, card, KEYWORD_LEN);
    keyword[KEYWORD_LEN] = '\0';
    for (int col = KEYWORD_LEN; col >= 2 && keyword[col - 1] == ' '; --col) keyword[col - 1] = '\0';
    return std::strcmp(keyword, key_name) == 0;
}

void copy_value(const char* card, char* value_buf, int32_t max_len) {
    char work[CARD_LEN + 1];
    std::memcpy(work, card, CARD_LEN);
    work[CARD_LEN] = '\0';
    const size_t len = std::strlen(work);

    size_t pos = VALUE_COLUMN - 1;
    if (pos >= len) return;  // the card ends before the value column
    if (work[pos] == ' ') {
        ++pos;
        while (pos < len && work[pos] == ' ') ++pos;
    }
    if (pos >= len) return;

    if (work[pos] == '\'') {
        const size_t start = pos + 1;
        size_t end = start;
        while (end < len && work[end] != '\'') ++end;
        std::memcpy(value_buf, work + start, end - start);
        value_buf[end - start] = '\0';
        return;
    }

    size_t end = pos;
    while (end < len && work[end] != ' ') ++end;
    const size_t word_len = end - pos;
    const size_t limit = max_len > 0 ? static_cast<size_t>(max_len) : 0;
    if (word_len >= limit) {
        std::memcpy(value_buf, work + pos, limit);
    } else {
        std::memcpy(value_buf, work + pos, word_len);
        std::memset(value_buf + word_len, 0, limit - word_len);
    }
}

}  // namespace

int32_t fits_find_key_n(const HeaderBlock* first_block, const char* key_name, char* value_buf,
                        int32_t n) {
    value_buf[0] = '\0';
    int32_t card_number = 0;
    for (const HeaderBlock* block = first_block; block != nullptr; block = block->link) {
        for (int pos = 0; pos < CARDS_PER_BLOCK; ++pos) {
            ++card_number;
            const char* card = block->cards + pos * CARD_LEN;
            if (!keyword_matches(card, key_name)) continue;
            copy_value(card, value_buf, n);
            return card_number;
        }
    }
    return -1;
}

int32_t fits_find_key(const HeaderBlock* first_block, const char* key_name, char* value_buf) {
    return fits_find_key_n(first_block, key_name, value_buf, VALUE_BUF_LEN);
}

void fits_print_card(const char* card_pos) {
    char line[CARD_LEN + 1];
    std::memcpy(line, card_pos, CARD_LEN);
    line[CARD_LEN] = '\0';
    for (int col = CARD_LEN; col >= 2 && line[col - 1] == ' '; --col) line[col - 1] = '\0';
    std::puts(line);
}

void fits_print_header(const HeaderBlock* first_block) {
    char line[CARD_LEN + 1];
    for (const HeaderBlock* block = first_block; block != nullptr; block = block->link) {
        for (int pos = 0; pos < CARDS_PER_BLOCK; ++pos) {
            std::memcpy(line, block->cards + pos * CARD_LEN, CARD_LEN);
            line[CARD_LEN] = '\0';
            std::puts(line);
        }
    }
}
