// Card lookup and header editing on arbitrary header blocks. The input
// gives, in order: the maximum value length n (one byte), the lengths of the
// keyword, the value text and the comment (one byte each), those three
// texts, and then the header text, padded with blanks to whole blocks (at
// most eight).
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

constexpr size_t kMaxBlocks = 8;
constexpr size_t kQuotedValueBytes = 71;  // 70 characters and the terminator

// Takes `count` bytes from the input as a NUL-terminated text (a NUL inside
// ends it early, as it would for any caller).
std::string take(const uint8_t*& data, size_t& size, size_t count) {
    count = std::min(count, size);
    std::string text(reinterpret_cast<const char*>(data), count);
    data += count;
    size -= count;
    return text;
}

HeaderBlock* chain_from(const uint8_t* data, size_t size) {
    HeaderBlock* first = nullptr;
    HeaderBlock** slot = &first;
    size_t at = 0;
    for (size_t i = 0; i < kMaxBlocks && (i == 0 || at < size); ++i) {
        auto* block = new HeaderBlock;
        block->link = nullptr;
        std::fill(std::begin(block->cards), std::end(block->cards), ' ');
        const size_t count = std::min<size_t>(FITS_BLOCK, size - at);
        std::copy(data + at, data + at + count, block->cards);
        at += count;
        *slot = block;
        slot = &block->link;
    }
    return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int32_t n = data[0];
    const size_t key_len = data[1] % 12, value_len = data[2] % 48, comment_len = data[3] % 96;
    data += 4;
    size -= 4;
    const std::string key = take(data, size, key_len);
    const std::string value = take(data, size, value_len);
    const std::string comment = take(data, size, comment_len);

    FitsHeader header;
    header.blocks = chain_from(data, size);
    HeaderBlock* const first = header.blocks;

    // Exactly the room the lookup may use: the larger of n and a quoted value.
    std::vector<char> bounded(std::max<size_t>(static_cast<size_t>(n), kQuotedValueBytes));
    const int32_t number = fits_find_key_n(first, key.c_str(), bounded.data(), n);
    std::vector<char> plain(VALUE_BUF_LEN);
    if (fits_find_key(first, key.c_str(), plain.data()) != number) fuzz::broken("the two lookups disagree");
    fits_print_header(first);

    const bool set = fits_set_card(key.c_str(), value.c_str(), comment.c_str(), header) != nullptr;
    if (set != (number >= 1) || header.blocks != first) fuzz::broken("fits_set_card: wrong card or chain moved");
    // Looked up only now: the rewritten card may itself have become END (the
    // key "END  " matches a keyword field "END  " ended by a NUL, and is
    // written back as END padded with blanks).
    const bool had_end = fits_find_key(first, "END", plain.data()) >= 1;
    const bool inserted = fits_insert_card(key.c_str(), value.c_str(), comment.c_str(), header) != nullptr;
    if (header.blocks != first) fuzz::broken("fits_insert_card moved the chain");
    if (inserted != had_end) fuzz::broken("fits_insert_card: END not used, or used where there is none");
    if (inserted && fits_find_key(first, "END", plain.data()) < 1) fuzz::broken("END lost by an insertion");
    fits_free_header(header);
    return 0;
}
