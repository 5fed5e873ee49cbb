// Ownership of a header chain.
#include "cards.hpp"
#include "fits.hpp"

namespace fits_internal {

void release_blocks(HeaderBlock* first) {
    while (first != nullptr) {
        HeaderBlock* next = first->link;
        delete first;
        first = next;
    }
}

}  // namespace fits_internal

void fits_free_header(FitsHeader& header) {
    fits_internal::release_blocks(header.blocks);
    header.blocks = nullptr;
}
