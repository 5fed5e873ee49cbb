// The card writers, the minimal header, and the blocks of a chain: made
// blank and released.
//
// Card layouts (columns from 1; every card is cut or blank-filled to 80):
//  - value card:   keyword in 1-8, "= " then the value text right-justified
//                  to column 30 (to column 40, cut to 30 characters, when it
//                  has 20 or more), " / " and the comment, one blank;
//  - string card:  keyword, "= '", at most 58 characters, "'", one blank;
//  - commentary:   keyword, two blanks, at most 70 characters of text.
// Each writer stores its card, counts card_slot on and, after the card in
// position 36, makes a new block the last of the chain after `blocks` and
// moves there.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cards.hpp"
#include "fits.hpp"
#include "messages.hpp"

using namespace fits_internal;

namespace {

constexpr int SHORT_VALUE_LEN = 20;  // value texts this long or longer take the long form

// Stores `line` (snprintf's result `len` for a buffer of CARD_LEN + 1) as one
// card: cut at 80 characters, or blank-filled to 80.
void store_line(char* card_pos, const char* line, int len) {
    const int kept = std::clamp(len, 0, CARD_LEN);
    std::memcpy(card_pos, line, static_cast<size_t>(kept));
    std::memset(card_pos + kept, ' ', static_cast<size_t>(CARD_LEN - kept));
}

// Moves the writers' state on by one card and gives the next card position;
// the card in position 36 closes its block and opens the next one.
char* next_position(char* card_pos, FitsHeader& header) {
    const int16_t slot = header.card_slot;
    header.card_slot = static_cast<int16_t>(slot + 1);
    if (slot != CARDS_PER_BLOCK) return card_pos + CARD_LEN;

    HeaderBlock* block = new_blank_block();
    if (block == nullptr) {
        std::puts(messages::CARD_NO_MEMORY);
        std::exit(1);
    }
    // The new block ends the chain; any blocks that followed are released.
    release_blocks(header.blocks->link);
    header.blocks->link = block;
    header.blocks = block;
    header.card_slot = 1;
    return block->cards;
}

}  // namespace

namespace fits_internal {

void store_commentary_card(char* card_pos, const char* key_name, const char* text) {
    char line[CARD_LEN + 1];
    store_line(card_pos, line, std::snprintf(line, sizeof line, "%-8.8s  %-.70s", key_name, text));
}

void store_blank_card(char* card_pos) { std::memset(card_pos, ' ', CARD_LEN); }

HeaderBlock* new_blank_block() {
    auto* block = new (std::nothrow) HeaderBlock;
    if (block == nullptr) return nullptr;
    block->link = nullptr;
    std::memset(block->cards, ' ', sizeof block->cards);
    return block;
}

void release_blocks(HeaderBlock* first) {
    while (first != nullptr) {
        HeaderBlock* next = first->link;
        delete first;
        first = next;
    }
}

}  // namespace fits_internal

void fits_free_header(FitsHeader& header) {
    release_blocks(header.blocks);
    header.blocks = nullptr;
}

char* fits_add_card(char* card_pos, const char* key_name, const char* value, const char* comment,
                    FitsHeader& header) {
    char line[CARD_LEN + 1];
    const char* format = std::strlen(value) < SHORT_VALUE_LEN ? "%-8.8s= %20.20s / %-s " : "%-8.8s= %30.30s / %-s ";
    store_line(card_pos, line, std::snprintf(line, sizeof line, format, key_name, value, comment));
    ++header.ncards;
    return next_position(card_pos, header);
}

char* fits_add_string_card(char* card_pos, const char* key_name, const char* text, FitsHeader& header) {
    char line[CARD_LEN + 1];
    store_line(card_pos, line, std::snprintf(line, sizeof line, "%-8.8s= '%-.58s' ", key_name, text));
    return next_position(card_pos, header);
}

char* fits_add_comment_card(char* card_pos, const char* key_name, const char* text, FitsHeader& header) {
    store_commentary_card(card_pos, key_name, text);
    return next_position(card_pos, header);
}

void fits_pad_header(char* card_pos, FitsHeader& header) {
    const int count = std::clamp(CARDS_PER_BLOCK - header.card_slot, 0, CARDS_PER_BLOCK);
    for (int i = 0; i < count; ++i) store_blank_card(card_pos + i * CARD_LEN);
}

char* fits_make_header(FitsHeader& header) {
    if (header.blocks == nullptr) {
        header.blocks = new_blank_block();
        if (header.blocks == nullptr) return nullptr;
    } else {
        // The header starts over in the first block; later blocks are released.
        release_blocks(header.blocks->link);
        header.blocks->link = nullptr;
    }
    header.naxis = 2;
    header.ncards = 1;
    header.card_slot = 1;
    header.bytes_per_pixel = static_cast<int16_t>(header.bitpix / 8);

    char bitpix[16], naxis1[16], naxis2[16], bscale[32], bzero[32];
    std::snprintf(bitpix, sizeof bitpix, "%d", header.bitpix);
    std::snprintf(naxis1, sizeof naxis1, "%d", header.naxis1);
    std::snprintf(naxis2, sizeof naxis2, "%d", header.naxis2);
    std::snprintf(bscale, sizeof bscale, "%18.12e", header.bscale);
    std::snprintf(bzero, sizeof bzero, "%18.12e", header.bzero);

    char* pos = header.blocks->cards;
    pos = fits_add_card(pos, "SIMPLE", "T", "DATA IS IN FITS FORMAT", header);
    pos = fits_add_card(pos, "BITPIX", bitpix, "BITS PER PIXEL(<0:=REAL)", header);
    pos = fits_add_card(pos, "NAXIS", "2", "NUMBER OF AXES", header);
    pos = fits_add_card(pos, "NAXIS1", naxis1, "PIXELS ON 1ST MOST VARYING AXIS", header);
    pos = fits_add_card(pos, "NAXIS2", naxis2, "PIXELS ON 2ND MOST VARYING AXIS", header);
    pos = fits_add_card(pos, "BSCALE", bscale, "VALUE= DATA*BSCALE+BZERO", header);
    pos = fits_add_card(pos, "BZERO", bzero, " ", header);
    return fits_add_card(pos, "END", " ", "END OF FITS HEADER INFORMATION", header);
}
