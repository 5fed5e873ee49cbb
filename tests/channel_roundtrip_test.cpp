// quadsplit and quadmerge together on images of random size and content:
// merging the channel files gives back the image that was split, and a box
// repaired by boxpatch in one channel file reaches exactly its own pixels.
// Then items that must come through the three programs bit for bit, and
// channel files of other item types than their image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"

namespace {

struct Shape {
    int w, h, bitpix;
    unsigned seed;
};

std::string shape_name(const Shape& s) {
    return "W" + std::to_string(s.w) + "H" + std::to_string(s.h) + "Bitpix" + (s.bitpix < 0 ? "M" : "") +
           std::to_string(std::abs(s.bitpix));
}
void PrintTo(const Shape& s, std::ostream* os) { *os << shape_name(s); }

// Sizes chosen by hand (widths around the channel count, one row, an image
// read in several bands), then random ones up to 300 x 40; the item types
// take turns.
std::vector<Shape> shapes(int min_width = 4, int min_height = 1) {
    std::mt19937 rng(1234567);
    std::vector<std::pair<int, int>> sizes{{4, 1},   {5, 3},  {7, 40},   {8, 2},
                                           {13, 17}, {64, 9}, {101, 33}, {300, 40}};
    auto random = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    while (sizes.size() < 16) sizes.emplace_back(random(4, 300), random(1, 40));
    const int types[] = {8, 16, 32, -32};
    std::vector<Shape> out;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Shape s{sizes[i].first, sizes[i].second, types[i % 4], static_cast<unsigned>(rng())};
        if (s.w >= min_width && s.h >= min_height) out.push_back(s);
    }
    return out;
}

// Values in range for the item type and exact in single precision.
std::vector<double> random_pixels(const Shape& s) {
    std::mt19937 rng(s.seed);
    std::uniform_int_distribution<int32_t> mantissa(-(1 << 23), (1 << 23) - 1);
    std::vector<double> px(static_cast<size_t>(s.w) * s.h);
    for (double& v : px) {
        const int32_t m = mantissa(rng);
        const double floating = std::ldexp(m, m % 41 - 30);
        v = s.bitpix == 8 ? m & 0xFF : s.bitpix == 16 ? m / 256 : s.bitpix == 32 ? 2.0 * m : floating;
    }
    return px;
}

// Item i of big-endian data starting at byte `offset`.
double item(const std::string& bytes, size_t offset, size_t i, int bitpix) {
    const size_t size = static_cast<size_t>(std::abs(bitpix) / 8);
    uint32_t bits = 0;
    for (size_t b = 0; b < size; ++b) bits = bits << 8 | static_cast<uint8_t>(bytes.at(offset + i * size + b));
    float f;
    std::memcpy(&f, &bits, 4);
    if (bitpix == 8) return bits;
    return bitpix == 16 ? static_cast<int16_t>(bits) : bitpix == 32 ? static_cast<int32_t>(bits) : double{f};
}

// Splits img.fits on set-up; merge() first sets every pixel that a channel
// holds to 3 in the image file, so that all of them must come back from the
// channel files.
class ChannelRoundTrip : public testing::TestWithParam<Shape> {
protected:
    void SetUp() override {
        const Shape& s = GetParam();
        px_ = random_pixels(s);
        test::write_file(path_, test::fits_file(s.bitpix, s.w, s.h, px_));
        const test::RunResult r = test::run(test::programs::QUADSPLIT, {"img.fits"}, {dir_.path()});
        ASSERT_EQ(r.output, "img.a.fits\nimg.b.fits\nimg.c.fits\nimg.d.fits\n");
        ASSERT_EQ(r.status, 0);
    }

    std::string merge() {
        const Shape& s = GetParam();
        std::vector<double> cleared = px_;
        for (size_t i = 0; i < cleared.size(); ++i)
            if (static_cast<int>(i % s.w) < s.w / 4 * 4) cleared[i] = 3;
        test::write_file(path_, test::fits_file(s.bitpix, s.w, s.h, cleared));
        const test::RunResult r = test::run(test::programs::QUADMERGE, {"img.fits"}, {dir_.path()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, "filename: img.fits, length=8\n");
        return test::read_file(path_);
    }

    test::TempDir dir_;
    const std::string path_ = dir_.file("img.fits");
    std::vector<double> px_;
};

TEST_P(ChannelRoundTrip, MergeGivesBackTheImage) {
    const Shape& s = GetParam();
    EXPECT_TRUE(merge() == test::fits_file(s.bitpix, s.w, s.h, px_));
}

INSTANTIATE_TEST_SUITE_P(Random, ChannelRoundTrip, testing::ValuesIn(shapes()),
                         [](const testing::TestParamInfo<Shape>& info) { return shape_name(info.param); });

// A random box in a random channel file, patched by boxpatch (which needs
// two columns and two rows): the merged image takes the box's pixels from
// that file and has every other pixel as it was.
class BoxpatchedChannel : public ChannelRoundTrip {};

TEST_P(BoxpatchedChannel, ChangesOnlyTheBox) {
    const Shape& s = GetParam();
    const int q = s.w / 4;
    std::mt19937 rng(s.seed + 1);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int c = pick(0, 3), x1 = pick(1, q - 1), x2 = pick(x1, q - 1);
    const int y1 = pick(1, s.h - 1), y2 = pick(y1, s.h - 1);
    const std::string channel = dir_.file(std::string("img.") + "abcd"[c] + ".fits");
    const std::string before = test::read_file(channel);
    const std::vector<std::string> args{"-b", std::to_string(x1), std::to_string(x2), std::to_string(y1),
                                        std::to_string(y2), channel};
    const test::RunResult r = test::run(test::programs::BOXPATCH, args);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string patched = test::read_file(channel);
    ASSERT_TRUE(patched != before && patched.size() == before.size());

    // The channel file's header is one block: the five basic cards, ZPREMPCH, END.
    std::vector<double> expected = px_;
    for (int y = y1 - 1; y < y2; ++y)
        for (int k = x1 - 1; k < x2; ++k)
            expected[static_cast<size_t>(y) * s.w + 4 * k + c] =
                item(patched, FITS_BLOCK, static_cast<size_t>(y) * q + k, s.bitpix);
    EXPECT_TRUE(merge() == test::fits_file(s.bitpix, s.w, s.h, expected))
        << "channel " << c << ", box " << x1 << ".." << x2 << " x " << y1 << ".." << y2;
}

INSTANTIATE_TEST_SUITE_P(Random, BoxpatchedChannel, testing::ValuesIn(shapes(8, 2)),
                         [](const testing::TestParamInfo<Shape>& info) { return shape_name(info.param); });

}  // namespace

// Items that single precision cannot hold, or whose bits matter beyond their
// value: BITPIX 32 beyond 2^24 and at its ends, BITPIX -64 of every kind,
// BITPIX -32 NaN payloads (one signalling), infinities, -0 and subnormals.
struct ExactItems {
    const char* name;
    int bitpix;
    std::vector<uint64_t> bits;  // the items' bit patterns, used in turn
};

const ExactItems kExactItems[] = {
    {"Int32", 32, {0x80000000, 0x7FFFFFFF, 16777217, 0xFEFFFFFF, 2147483584, 123456789, 0xF8A432EB, 1}},
    {"Double",
     -64,
     {0x7FF0000000000001, 0xFFF8000000000123, 0x7FF0000000000000, 0xFFF0000000000000, 0x7FEFFFFFFFFFFFFF,
      0x8000000000000000, 1, 0x3FD5555555555555, 0xC0FE240C9FBE76C9, 0x3FB999999999999A}},
    {"Float", -32, {0x7F800001, 0xFFC00123, 0x7F800000, 0x80000000, 1, 0x7F7FFFFF, 0x3EAAAAAB, 0xC2F6E979}},
};

void PrintTo(const ExactItems& e, std::ostream* os) { *os << e.name; }

constexpr int kExactWidth = 10;  // two columns in no channel file
constexpr int kExactHeight = 4;

size_t item_bytes(int bitpix) { return static_cast<size_t>(std::abs(bitpix) / 8); }

std::string big_endian(uint64_t bits, size_t size) {
    std::string out;
    for (size_t b = size; b-- > 0;) out.push_back(static_cast<char>(bits >> (8 * b)));
    return out;
}

uint64_t bits_of(const std::string& data, size_t i, size_t size) {
    uint64_t bits = 0;
    for (size_t b = 0; b < size; ++b) bits = bits << 8 | static_cast<uint8_t>(data.at(i * size + b));
    return bits;
}

// A header of one block, then the items of `bits` and zero bytes to a whole block.
std::string exact_file(int bitpix, int w, int h, const std::vector<uint64_t>& bits, const std::string& extra = "") {
    std::vector<std::string> cards = test::basic_cards(bitpix, w, h);
    if (!extra.empty()) cards.push_back(extra);
    cards.push_back(test::card("END"));
    std::string data;
    for (uint64_t b : bits) data += big_endian(b, item_bytes(bitpix));
    data.resize((data.size() + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK, '\0');
    return test::header_blocks(cards) + data;
}

// The box pixel that patching computes from L and R (column k of a box W
// wide): single precision, or double for BITPIX -64; 32-bit items keep the
// value truncated, or their largest value from 2^31 on.
template <typename T>
uint64_t box_item(int bitpix, T left, T right, int k, int w) {
    const T step = (right - left) / static_cast<T>(w);
    const T value = static_cast<T>(k) * step + left;
    if (bitpix == 32) return static_cast<uint32_t>(value >= 2147483648.0 ? INT32_MAX : static_cast<int32_t>(value));
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    return bits;
}

template <typename T>
T value_of(int bitpix, uint64_t bits) {
    if (bitpix == 32) return static_cast<T>(static_cast<int32_t>(bits));
    T v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

class ItemsComeThroughExactly : public testing::TestWithParam<ExactItems> {};

// Split, merged back and patched, every item that is not computed keeps its
// bytes.
TEST_P(ItemsComeThroughExactly, SplitMergeAndPatch) {
    const ExactItems& e = GetParam();
    const size_t size = item_bytes(e.bitpix);
    std::vector<uint64_t> px;
    for (int i = 0; i < kExactWidth * kExactHeight; ++i)
        px.push_back(e.bits[static_cast<size_t>(i * 7 + i / kExactWidth) % e.bits.size()]);
    const std::string image = exact_file(e.bitpix, kExactWidth, kExactHeight, px);
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), image);
    ASSERT_EQ(test::run(test::programs::QUADSPLIT, {"img.fits"}, {dir.path()}).status, 0);
    for (int c = 0; c < 4; ++c) {
        std::vector<uint64_t> channel;
        for (int y = 0; y < kExactHeight; ++y)
            for (int k = 0; k < kExactWidth / 4; ++k)
                channel.push_back(px[static_cast<size_t>(y * kExactWidth + 4 * k + c)]);
        const std::string written = test::read_file(dir.file(std::string("img.") + "abcd"[c] + ".fits"));
        EXPECT_TRUE(written.substr(FITS_BLOCK) == exact_file(e.bitpix, 1, 1, channel).substr(FITS_BLOCK))
            << "channel " << c;
    }

    // Merging into an image whose channel columns hold zero gives it back.
    std::vector<uint64_t> cleared = px;
    for (size_t i = 0; i < cleared.size(); ++i)
        if (static_cast<int>(i) % kExactWidth < 8) cleared[i] = 0;
    test::write_file(dir.file("img.fits"), exact_file(e.bitpix, kExactWidth, kExactHeight, cleared));
    ASSERT_EQ(test::run(test::programs::QUADMERGE, {"img.fits"}, {dir.path()}).status, 0);
    EXPECT_TRUE(test::read_file(dir.file("img.fits")) == image);

    // Columns 3..6 of rows 2..3 are computed from columns 2 and 7.
    ASSERT_EQ(test::run(test::programs::BOXPATCH, {"-b", "3", "6", "2", "3", "img.fits"}, {dir.path()}).status, 0);
    std::vector<uint64_t> patched = px;
    for (int y = 1; y <= 2; ++y) {
        const uint64_t left = px[static_cast<size_t>(y * kExactWidth + 1)],
                       right = px[static_cast<size_t>(y * kExactWidth + 6)];
        for (int k = 1; k <= 4; ++k)
            patched[static_cast<size_t>(y * kExactWidth + 1 + k)] =
                e.bitpix == -64
                    ? box_item(e.bitpix, value_of<double>(e.bitpix, left), value_of<double>(e.bitpix, right), k, 4)
                    : box_item(e.bitpix, value_of<float>(e.bitpix, left), value_of<float>(e.bitpix, right), k, 4);
    }
    const std::string result = test::read_file(dir.file("img.fits"));
    for (size_t i = 0; i < px.size(); ++i)
        EXPECT_EQ(bits_of(result.substr(FITS_BLOCK), i, size), patched[i])
            << "pixel " << i % kExactWidth << ", " << i / kExactWidth;
}

INSTANTIATE_TEST_SUITE_P(Types, ItemsComeThroughExactly, testing::ValuesIn(kExactItems),
                         [](const testing::TestParamInfo<ExactItems>& info) { return std::string(info.param.name); });

// A channel file of another item type than the image: its values reach the
// image's items through double precision by the writer's rules (wrapped for
// 8 and 16 bits, saturated for 32, rounded to single precision).
struct MixedMerge {
    const char* name;
    int image_bitpix, channel_bitpix;
    std::vector<uint64_t> channel_bits;  // channel items, in turn
    std::vector<uint64_t> expected;      // the image items they give
};

const MixedMerge kMixedMerges[] = {
    // 300.7, -1.5, 65536 + 7, NaN
    {"DoublesIntoShorts",
     16,
     -64,
     {0x4072CB3333333333, 0xBFF8000000000000, 0x40F0007000000000, 0x7FF8000000000000},
     {300, 0xFFFF, 7, 0}},
    // 1e10, -1e10, 2147483647.9, -2147483648.5
    {"DoublesIntoInts",
     32,
     -64,
     {0x4202A05F20000000, 0xC202A05F20000000, 0x41DFFFFFFFFE6666, 0xC1E0000000100000},
     {0x7FFFFFFF, 0x80000000, 0x7FFFFFFF, 0x80000000}},
    // 2^24 + 1, INT32_MIN, 7 and -1, exact in double precision
    {"IntsAndFloatsIntoDoubles",
     -64,
     32,
     {16777217, 0x80000000, 7, 0xFFFFFFFF},
     {0x4170000010000000, 0xC1E0000000000000, 0x401C000000000000, 0xBFF0000000000000}},
    // 1/3 rounded, 1e300 beyond single precision
    {"DoublesIntoFloats",
     -32,
     -64,
     {0x3FD5555555555555, 0x7E37E43C8800759C, 0xC0FE240C9FBE76C9, 0},
     {0x3EAAAAAB, 0x7F800000, 0xC7F12065, 0}},
};

void PrintTo(const MixedMerge& m, std::ostream* os) { *os << m.name; }

class MixedItemTypes : public testing::TestWithParam<MixedMerge> {};

TEST_P(MixedItemTypes, ReachTheImageByTheWritersRules) {
    const MixedMerge& m = GetParam();
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), exact_file(m.image_bitpix, 8, 2, std::vector<uint64_t>(16, 0)));
    std::vector<uint64_t> expected(16);
    for (int c = 0; c < 4; ++c) {
        std::vector<uint64_t> channel;
        for (int i = 0; i < 4; ++i) {
            channel.push_back(m.channel_bits[static_cast<size_t>(i + c) % 4]);
            expected[static_cast<size_t>(i / 2 * 8 + i % 2 * 4 + c)] = m.expected[static_cast<size_t>(i + c) % 4];
        }
        test::write_file(dir.file(std::string("img.") + "abcd"[c] + ".fits"),
                         exact_file(m.channel_bitpix, 2, 2, channel));
    }
    const test::RunResult r = test::run(test::programs::QUADMERGE, {"img.fits"}, {dir.path()});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(test::read_file(dir.file("img.fits")) == exact_file(m.image_bitpix, 8, 2, expected));
}

INSTANTIATE_TEST_SUITE_P(Types, MixedItemTypes, testing::ValuesIn(kMixedMerges),
                         [](const testing::TestParamInfo<MixedMerge>& info) { return std::string(info.param.name); });
