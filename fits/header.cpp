// Ownership of a header chain.
#include "fits.hpp"

void fits_free_header(FitsHeader& header) {
    HeaderBlock* block = header.blocks;
    while (block != nullptr) {
        HeaderBlock* next = block->link;
        delete block;
        block = next;
    }
    header.blocks = nullptr;
}
