// fits_write_ppm: picture layout, grey levels modulo 256, and refusals.
#include <cmath>
#include <limits>

#include "support.hpp"

namespace {

const std::string kHeader2x2 = "P6\n2 2\n255\n";

FitsHeader record(int16_t naxis1, int16_t naxis2, bool with_chain = true) {
    FitsHeader h;
    if (with_chain) h.blocks = test::chain_from(test::header_blocks({"END"}));
    h.naxis1 = naxis1;
    h.naxis2 = naxis2;
    return h;
}

struct Written {
    int result;
    std::string output;
    std::string bytes;
};

Written write_ppm(const std::string& path, FitsHeader& h) {
    Written w;
    w.output = test::captured_stdout([&] { w.result = fits_write_ppm(path.c_str(), h, test::plane_a()); });
    if (path.rfind("/dev/", 0) != 0 && test::file_exists(path)) w.bytes = test::read_file(path);
    fits_free_header(h);
    return w;
}

TEST(Ppm, RowsRunFromTheTopImageRowDown) {
    ImagePlane& p = test::plane_a();
    p[0][0] = 1;
    p[1][0] = 2;
    p[0][1] = 3;
    p[1][1] = 4;
    test::TempDir dir;
    FitsHeader h = record(2, 2);
    const Written w = write_ppm(dir.file("a.ppm"), h);
    EXPECT_EQ(w.result, FITS_OK);
    EXPECT_EQ(w.output, "");
    EXPECT_EQ(w.bytes, kHeader2x2 + std::string("\3\3\3\4\4\4\1\1\1\2\2\2", 12));
}

struct Grey {
    float value;
    unsigned char byte;
};

// Values are cut toward zero to 32 bits and kept modulo 256, never clamped.
TEST(Ppm, GreyLevelIsTheIntegerPartModulo256) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Grey cases[] = {{0.0f, 0},       {255.9f, 255}, {256.0f, 0},   {300.0f, 44},  {-0.5f, 0},
                          {-1.0f, 255},    {-0.0f, 0},    {511.7f, 255}, {512.0f, 0},   {-256.0f, 0},
                          {-257.5f, 255},  {1e9f, 0},     {nan, 0},      {inf, 0},      {-inf, 0},
                          {3e9f, 0},       {-3e9f, 0},    {2147483520.0f, 128}, {-2147483648.0f, 0}};
    const int16_t n = static_cast<int16_t>(std::size(cases));
    for (int16_t x = 0; x < n; ++x) test::plane_a()[x][0] = cases[x].value;
    test::TempDir dir;
    FitsHeader h = record(n, 1);
    const Written w = write_ppm(dir.file("row.ppm"), h);
    ASSERT_EQ(w.result, FITS_OK);
    const std::string head = "P6\n" + std::to_string(n) + " 1\n255\n";
    ASSERT_EQ(w.bytes.size(), head.size() + 3 * static_cast<size_t>(n));
    for (int16_t x = 0; x < n; ++x)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(static_cast<unsigned char>(w.bytes[head.size() + 3 * x + k]), cases[x].byte)
                << "value " << cases[x].value;
}

TEST(Ppm, AxesOfZeroOrBelowGiveTheTextHeaderAlone) {
    const std::pair<int16_t, int16_t> axes[] = {{0, 5}, {5, 0}, {-3, 2}, {2, -7}};
    for (auto [naxis1, naxis2] : axes) {
        test::TempDir dir;
        FitsHeader h = record(naxis1, naxis2);
        const Written w = write_ppm(dir.file("empty.ppm"), h);
        EXPECT_EQ(w.result, FITS_OK);
        EXPECT_EQ(w.bytes, "P6\n" + std::to_string(naxis1) + " " + std::to_string(naxis2) + "\n255\n");
    }
}

TEST(Ppm, RefusalsMakeNoFile) {
    test::TempDir dir;
    FitsHeader no_chain = record(2, 2, false);
    Written w = write_ppm(dir.file("a.ppm"), no_chain);
    EXPECT_EQ(w.result, FITS_WRITE_FAILED);
    EXPECT_EQ(w.output, "rf: Error - no header block defined, file not written\n");

    FitsHeader h = record(2, 2);
    w = write_ppm(dir.file("no/such/folder.ppm"), h);
    EXPECT_EQ(w.result, FITS_WRITE_FAILED);
    EXPECT_EQ(w.output, "wf: Error opening file for writing\n");

    // Wider than the plane: refused before any pixel is read.
    FitsHeader wide = record(MAX_AXIS + 1, 2);
    w = write_ppm(dir.file("wide.ppm"), wide);
    EXPECT_EQ(w.result, FITS_WRITE_FAILED);
    EXPECT_EQ(w.output, "wf: Error - NAXIS1 8193, NAXIS2 2 is larger than the image plane, file not written\n");
    EXPECT_TRUE(test::list_dir(dir.path()).empty());
}

// A device that is always full: the failed write is reported, not taken for
// success.
TEST(Ppm, AFailedWriteIsReported) {
    if (!test::file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    test::plane_a()[0][0] = 7;
    FitsHeader h = record(4, 4);
    const Written w = write_ppm("/dev/full", h);
    EXPECT_EQ(w.result, FITS_WRITE_FAILED);
    EXPECT_EQ(w.output, "wf: Error writing PPM file\n");
}

TEST(Ppm, ReplacesAnExistingPictureWhole) {
    test::TempDir dir;
    test::write_file(dir.file("a.ppm"), std::string(100000, 'x'));
    test::plane_a()[0][0] = 7;
    FitsHeader h = record(1, 1);
    const Written w = write_ppm(dir.file("a.ppm"), h);
    EXPECT_EQ(w.result, FITS_OK);
    EXPECT_EQ(w.bytes, std::string("P6\n1 1\n255\n\7\7\7"));
}

}  // namespace
