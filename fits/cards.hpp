// Card text and header blocks as the library makes them, shared by the card
// writers, the header editor and the owner of a chain. Nothing here touches
// the record's counters.
#pragma once

#include "fits.hpp"

namespace fits_internal {

// Stores a commentary card: the keyword in columns 1-8, two blanks, at most
// 70 characters of text, blanks to column 80.
void store_commentary_card(char* card_pos, const char* key_name, const char* text);

// Stores 80 blanks.
void store_blank_card(char* card_pos);

// A new last header block, every card blank; null when memory runs out.
HeaderBlock* new_blank_block();

// Frees `first` and every block after it.
void release_blocks(HeaderBlock* first);

}  // namespace fits_internal
