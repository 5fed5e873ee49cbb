// Editing a header chain in place: rewriting a card and inserting one
// before END. Both leave `blocks` as they found it.
#include "cards.hpp"
#include "fits.hpp"

using namespace fits_internal;

namespace {

struct CardPlace {
    HeaderBlock* block = nullptr;  // null when no card bears the keyword
    int position = 0;              // 1..36 within block
};

// The first card bearing key_name from `from` on.
CardPlace find_card(HeaderBlock* from, const char* key_name) {
    char value[VALUE_BUF_LEN];  // the lookup's copy of the value; not needed here
    const int32_t number = fits_find_key(from, key_name, value);
    if (number < 1) return {};
    CardPlace place{from, static_cast<int>((number - 1) % CARDS_PER_BLOCK) + 1};
    for (int32_t skip = (number - 1) / CARDS_PER_BLOCK; skip > 0; --skip) place.block = place.block->link;
    return place;
}

char* card_at(const CardPlace& place) { return place.block->cards + (place.position - 1) * CARD_LEN; }

}  // namespace

char* fits_set_card(const char* key_name, const char* value, const char* comment, FitsHeader& header) {
    const CardPlace place = find_card(header.blocks, key_name);
    if (place.block == nullptr) return nullptr;

    HeaderBlock* const first = header.blocks;
    header.blocks = place.block;
    // From position n - 1 the writer moves to n and never opens a block.
    header.card_slot = static_cast<int16_t>(place.position - 1);
    char* next = fits_add_card(card_at(place), key_name, value, comment, header);
    header.blocks = first;
    return next;
}

char* fits_insert_card(const char* key_name, const char* value, const char* comment, FitsHeader& header) {
    const CardPlace end = find_card(header.blocks, "END");
    if (end.block == nullptr) return nullptr;

    HeaderBlock* const first = header.blocks;
    header.blocks = end.block;
    // The new card takes END's place; after position 36 the writer opens
    // the block that END moves to.
    header.card_slot = static_cast<int16_t>(end.position);
    char* pos = fits_add_card(card_at(end), key_name, value, comment, header);
    store_commentary_card(pos, "END", " ");
    pos += CARD_LEN;
    // card_slot is now END's position; every later card of its block is blanked.
    for (int slot = header.card_slot + 1; slot <= CARDS_PER_BLOCK; ++slot)
        store_blank_card(pos + (slot - header.card_slot - 1) * CARD_LEN);
    header.blocks = first;
    return pos;
}
