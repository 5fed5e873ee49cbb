// fits_write and fits_rewrite: encoding, layout, and replacing files safely.
#include <cmath>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support.hpp"

namespace {

struct Written {
    int result;
    std::string output;
};

Written write_with(int (*writer)(const char*, const FitsHeader&, const ImagePlane&), const std::string& path,
                   const FitsHeader& h) {
    Written w;
    w.output = test::captured_stdout([&] { w.result = writer(path.c_str(), h, test::plane_a()); });
    return w;
}

// A record of one block holding END, for the given item type and size.
FitsHeader record(int bytes_per_pixel, int16_t naxis1, int16_t naxis2) {
    FitsHeader h;
    h.blocks = test::chain_from(test::header_blocks({"END"}));
    h.bytes_per_pixel = static_cast<int16_t>(bytes_per_pixel);
    h.naxis1 = naxis1;
    h.naxis2 = naxis2;
    h.npixels = naxis1 * naxis2;
    return h;
}

// Read then written back, a file whose last block is zero after the last
// pixel comes out byte for byte the same, for every item type. The sizes
// take the data path through whole and partial 4 x 4 tiles and, 1030 wide,
// through several bands of rows.
struct RoundTripCase {
    int bitpix;
    int16_t width;
    int16_t height;
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadThenWriteIsByteExact) {
    const auto [bitpix, width, height] = GetParam();
    std::vector<double> values(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < values.size(); ++i) {
        const double v = static_cast<double>((i * 7919) % 251);
        values[i] = bitpix == 8 ? v : bitpix > 0 ? v * 97 - 12000 : (v - 125) / 8;
    }
    std::vector<std::string> extra(40, "HISTORY a header of two blocks");
    const std::string original = test::fits_file(bitpix, width, height, values, extra);
    test::TempDir dir;
    test::write_file(dir.file("in.fits"), original);

    fits_set_config(bitpix == -64 ? FitsConfig::quadsplit : FitsConfig::common);
    FitsHeader h;
    ASSERT_EQ(fits_read(dir.file("in.fits").c_str(), h, test::plane_a()), FITS_OK);
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(test::plane_a()[i % width][i / width], static_cast<float>(values[i])) << "item " << i;
    const Written w = write_with(fits_write, dir.file("out.fits"), h);
    fits_set_config(FitsConfig::common);
    EXPECT_EQ(w.result, FITS_OK);
    EXPECT_EQ(w.output, "");
    EXPECT_TRUE(test::read_file(dir.file("out.fits")) == original);
    fits_free_header(h);
}

INSTANTIATE_TEST_SUITE_P(ItemTypes, RoundTrip,
                         testing::Values(RoundTripCase{8, 37, 23}, RoundTripCase{16, 37, 23}, RoundTripCase{32, 37, 23},
                                         RoundTripCase{-32, 37, 23}, RoundTripCase{-64, 37, 23},
                                         RoundTripCase{16, 1030, 37}, RoundTripCase{-32, 1031, 35}));

TEST(Writer, ItemsFromPlaneValues) {
    struct Case { int bpp; float value; std::string item; };
    const Case cases[] = {
        {2, 32768.0f, "\x80\x00"}, {2, 2.9f, std::string("\x00\x02", 2)}, {2, -2.9f, "\xff\xfe"},
        {2, std::nanf(""), std::string(2, '\0')}, {1, 300.0f, "\x2c"}, {1, -1.0f, "\xff"}, {1, 255.9f, "\xff"},
        {4, -5.5f, "\xff\xff\xff\xfb"}, {4, -3e9f, std::string("\x80\x00\x00\x00", 4)},
        {4, std::nanf(""), std::string("\x80\x00\x00\x00", 4)},
        // 2^31 is how the largest 32-bit items are read: they saturate, keeping their sign.
        {4, 2147483648.0f, "\x7f\xff\xff\xff"}, {4, 3e9f, "\x7f\xff\xff\xff"},
        {-4, 1.0f, std::string("\x3f\x80\x00\x00", 4)}, {-8, 1.5f, std::string("\x3f\xf8\0\0\0\0\0\0", 8)},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        fits_set_config(c.bpp == -8 ? FitsConfig::quadsplit : FitsConfig::common);
        FitsHeader h = record(c.bpp, 1, 1);
        test::plane_a()[0][0] = c.value;
        ASSERT_EQ(write_with(fits_write, dir.file("o.fits"), h).result, FITS_OK);
        fits_set_config(FitsConfig::common);
        const std::string file = test::read_file(dir.file("o.fits"));
        ASSERT_EQ(file.size(), 2u * FITS_BLOCK);
        EXPECT_EQ(file.substr(FITS_BLOCK, c.item.size()), c.item) << c.bpp << " " << c.value;
        EXPECT_EQ(file.substr(FITS_BLOCK + c.item.size()), std::string(FITS_BLOCK - c.item.size(), '\0'));
        fits_free_header(h);
    }
}

// The block count follows npixels, the placement naxis1 and naxis2.
TEST(Writer, BlockCountFromNpixels) {
    test::TempDir dir;
    FitsHeader h = record(2, 1440, 2);
    for (int x = 0; x < 1440; ++x) test::plane_a()[x][0] = test::plane_a()[x][1] = static_cast<float>(x + 1);
    h.npixels *= 4;
    ASSERT_EQ(write_with(fits_write, dir.file("o.fits"), h).result, FITS_OK);
    const std::string file = test::read_file(dir.file("o.fits"));
    ASSERT_EQ(file.size(), 9u * FITS_BLOCK);
    EXPECT_EQ(file.substr(FITS_BLOCK + 2 * 2879, 2), "\x05\xa0");  // last pixel, 1440
    EXPECT_EQ(file.substr(3 * FITS_BLOCK), std::string(6 * FITS_BLOCK, '\0'));
    fits_free_header(h);
}

TEST(Writer, RefusesWhatItCannotWrite) {
    test::TempDir dir;
    test::write_file(dir.file("keep.fits"), "old");
    FitsHeader none;
    none.bytes_per_pixel = 2;
    FitsHeader odd = record(3, 1, 1);
    FitsHeader wide = record(2, 9000, 1);
    FitsHeader dbl = record(-8, 1, 1);  // double items only in the quadsplit configuration
    const struct { const FitsHeader* h; std::string line; } cases[] = {
        {&none, "rf: Error - no header block defined, file not written\n"},
        {&odd, "wf: Error - cannot encode bytes_per_pixel 3, NAXIS1 1, NAXIS2 1, 1 pixels; file not written\n"},
        {&wide, "wf: Error - cannot encode bytes_per_pixel 2, NAXIS1 9000, NAXIS2 1, 9000 pixels; file not written\n"},
        {&dbl, "wf: Error - cannot encode bytes_per_pixel -8, NAXIS1 1, NAXIS2 1, 1 pixels; file not written\n"},
    };
    for (const auto& c : cases) {
        for (const char* name : {"keep.fits", "new.fits"}) {
            const Written w = write_with(fits_write, dir.file(name), *c.h);
            EXPECT_EQ(w.result, FITS_WRITE_FAILED);
            EXPECT_EQ(w.output, c.line);
        }
        EXPECT_EQ(test::list_dir(dir.path()), std::vector<std::string>{"keep.fits"});
        EXPECT_EQ(test::read_file(dir.file("keep.fits")), "old");
    }
    for (FitsHeader* h : {&odd, &wide, &dbl}) fits_free_header(*h);
}

TEST(Writer, ReplacesFilesKeepingModeAndLinks) {
    test::TempDir dir;
    FitsHeader h = record(1, 2, 1);
    test::plane_a()[0][0] = 1;
    test::plane_a()[1][0] = 2;
    const std::string expected = test::header_blocks({"END"}) + test::data_blocks(8, {1, 2});

    test::write_file(dir.file("target.fits"), "old contents");
    ::chmod(dir.file("target.fits").c_str(), 0640);
    ASSERT_EQ(::symlink("target.fits", dir.file("link.fits").c_str()), 0);
    ASSERT_EQ(write_with(fits_write, dir.file("link.fits"), h).result, FITS_OK);
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("link.fits").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(dir.file("target.fits").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::read_file(dir.file("target.fits")), expected);

    // A link to a file that does not exist yet: the file is made, the link stays.
    ASSERT_EQ(::symlink("made.fits", dir.file("dangling.fits").c_str()), 0);
    ASSERT_EQ(write_with(fits_write, dir.file("dangling.fits"), h).result, FITS_OK);
    EXPECT_EQ(test::read_file(dir.file("made.fits")), expected);
    ::unlink(dir.file("dangling.fits").c_str());
    ::unlink(dir.file("made.fits").c_str());

    const mode_t mask = ::umask(022);
    ASSERT_EQ(write_with(fits_write, dir.file("new.fits"), h).result, FITS_OK);
    ::umask(mask);
    ASSERT_EQ(::stat(dir.file("new.fits").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(test::list_dir(dir.path()), (std::vector<std::string>{"link.fits", "new.fits", "target.fits"}));

    // A folder, and a name longer than a folder allows, cannot be opened.
    for (const std::string& target : {dir.path(), dir.file(std::string(256, 'n'))}) {
        const Written w = write_with(fits_write, target, h);
        EXPECT_EQ(w.result, FITS_WRITE_FAILED);
        EXPECT_EQ(w.output, "wf: Error opening file for writing\n");
    }
    EXPECT_EQ(test::list_dir(dir.path()), (std::vector<std::string>{"link.fits", "new.fits", "target.fits"}));
    fits_free_header(h);
}

// fits_rewrite keeps what followed the image's data blocks; fits_write
// writes header and data only.
TEST(Writer, RewriteKeepsBytesAfterTheData) {
    test::TempDir dir;
    const std::string tail = test::header_blocks({"XTENSION= 'IMAGE   '", "END"}) + "trailing";
    const std::string image = test::fits_file(16, 3, 2, {1, 2, 3, 4, 5, 6});
    test::write_file(dir.file("a.fits"), image + tail);
    FitsHeader h;
    ASSERT_EQ(fits_read(dir.file("a.fits").c_str(), h, test::plane_a()), FITS_OK);
    test::plane_a()[1][1] = 50;
    const std::string patched = test::fits_file(16, 3, 2, {1, 2, 3, 4, 50, 6});
    ASSERT_EQ(write_with(fits_rewrite, dir.file("a.fits"), h).result, FITS_OK);
    EXPECT_TRUE(test::read_file(dir.file("a.fits")) == patched + tail);
    ASSERT_EQ(write_with(fits_write, dir.file("a.fits"), h).result, FITS_OK);
    EXPECT_TRUE(test::read_file(dir.file("a.fits")) == patched);

    // A header grown by a block after the read: what followed the data of
    // the file as read is kept all the same, after the new header and data.
    test::write_file(dir.file("b.fits"), image + tail);
    fits_free_header(h);
    ASSERT_EQ(fits_read(dir.file("b.fits").c_str(), h, test::plane_a()), FITS_OK);
    for (int i = 0; i < 40; ++i) ASSERT_NE(fits_insert_card("HISTORY", "1", "grown", h), nullptr);
    ASSERT_NE(h.blocks->link, nullptr);
    std::string grown;
    for (const HeaderBlock* b = h.blocks; b != nullptr; b = b->link) grown.append(b->cards, FITS_BLOCK);
    ASSERT_EQ(write_with(fits_rewrite, dir.file("b.fits"), h).result, FITS_OK);
    EXPECT_TRUE(test::read_file(dir.file("b.fits")) == grown + image.substr(FITS_BLOCK) + tail);
    fits_free_header(h);
}

// A rewrite through the streams gives the same file whether it is written
// whole or, where the file system can, as a clone of the old file with only
// the changes written: for a file cut short in an item (the missing items,
// and the part of the last one, written as zero), one with blanks for fill and a tail, and a header grown by a block
// (which cannot be cloned); every row passed on, then one row written.
TEST(Writer, RewriteIsTheSameClonedOrWhole) {
    const std::string image = test::fits_file(16, 700, 9, std::vector<double>(6300, 1234));
    const std::string tail = test::header_blocks({"XTENSION= 'IMAGE   '", "END"}) + "trailing";
    const std::string blank_fill = image.substr(0, FITS_BLOCK + 12600) + std::string(image.size() - FITS_BLOCK - 12600, ' ');
    const std::string inputs[] = {image.substr(0, FITS_BLOCK + 5001), blank_fill + tail, image};
    const std::vector<uint8_t> row(1400, 0x5a);
    test::TempDir dir;
    for (int k = 0; k < 3; ++k) {
        std::string results[2];
        for (const FitsRewrite how : {FitsRewrite::changes, FitsRewrite::whole}) {
            const std::string path = dir.file("img.fits");
            test::write_file(path, inputs[k]);
            FitsHeader h;
            FitsInput in;
            test::captured_stdout([&] { ASSERT_EQ(fits_open_image_to_rewrite(path.c_str(), h, in), FITS_OK); });
            if (k == 2) {
                for (int i = 0; i < 40; ++i) ASSERT_NE(fits_insert_card("HISTORY", "1", "grown", h), nullptr);
            }
            FitsOutput out;
            fits_create_rewrite(path.c_str(), h, in, out, how);
            fits_copy_rows(in, out, 8);
            fits_write_rows(out, row.data(), 1400);
            EXPECT_EQ(test::captured_stdout([&] { EXPECT_EQ(fits_finish_image(out), FITS_OK); }), "");
            fits_close_image(in);
            fits_free_header(h);
            results[how == FitsRewrite::whole] = test::read_file(path);
        }
        EXPECT_TRUE(results[0] == results[1]) << "input " << k;
        EXPECT_EQ(results[1].substr(results[1].size() - tail.size()) == tail, k == 1) << "input " << k;
    }
}

// A write that fails part way leaves the old file exactly as it was and no
// temporary file behind.
TEST(Writer, FailedWriteLeavesTargetUntouched) {
    test::TempDir dir;
    const std::string old = test::fits_file(16, 100, 100, std::vector<double>(10000, 3));
    test::write_file(dir.file("a.fits"), old);
    FitsHeader h;
    ASSERT_EQ(fits_read(dir.file("a.fits").c_str(), h, test::plane_a()), FITS_OK);
    test::plane_a()[5][5] = 99;

    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{FITS_BLOCK * 3, saved.rlim_max};
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const Written w = write_with(fits_rewrite, dir.file("a.fits"), h);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(w.result, FITS_WRITE_FAILED);
    EXPECT_EQ(w.output, "wf:  Error writing FITS file\n");
    EXPECT_TRUE(test::read_file(dir.file("a.fits")) == old);
    EXPECT_EQ(test::list_dir(dir.path()), std::vector<std::string>{"a.fits"});
    fits_free_header(h);
}

TEST(Writer, RefusesTargetTheUserMayNotWrite) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file; run as another user to check this";
    test::TempDir dir;
    test::write_file(dir.file("ro.fits"), "old");
    ::chmod(dir.file("ro.fits").c_str(), 0444);
    FitsHeader h = record(1, 1, 1);
    const Written w = write_with(fits_write, dir.file("ro.fits"), h);
    EXPECT_EQ(w.result, FITS_WRITE_FAILED);
    EXPECT_EQ(w.output, "wf: Error opening file for writing\n");
    EXPECT_EQ(test::read_file(dir.file("ro.fits")), "old");
    fits_free_header(h);
}

}  // namespace
