// boxpatch run as a process on FITS files in a temporary folder: its
// standard output, exit status and the bytes of the files it leaves.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"

namespace {

struct Box {
    int x1, x2, y1, y2;  // columns and rows from 1, clamped and ordered
};

// An image as the test knows it: pixel (x, y) from 0 is px[y * w + x].
struct Image {
    int w = 0, h = 0, bitpix = -32;
    std::vector<float> px;
    float& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
};

Image make_image(int w, int h, int bitpix, int seed = 0) {
    Image img{w, h, bitpix, std::vector<float>(static_cast<size_t>(w) * h)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int n = (x * 7919 + y * 104729 + seed * 31) % 1999;
            // fractions of mixed sign, or whole numbers that suit every item type
            img.at(x, y) = bitpix < 0 ? static_cast<float>(n) / 7.0f - 137.0f : static_cast<float>(n % 200);
        }
    return img;
}

std::string file_bytes(const Image& img, const std::vector<std::string>& extra_cards = {}) {
    return test::fits_file(img.bitpix, img.w, img.h, std::vector<double>(img.px.begin(), img.px.end()),
                           extra_cards);
}

// What patching must do to an image: each row of the box steps from the
// pixel left of it (or, from column 1 on, the pixel right of it) to the
// pixel right of it, in single precision; integer items keep the value
// truncated toward zero.
void patch(Image& img, const Box& b) {
    for (int y = b.y1 - 1; y <= b.y2 - 1; ++y) {
        const float right = img.at(b.x2, y);
        const float left = b.x1 >= 2 ? img.at(b.x1 - 2, y) : right;
        const volatile float width = static_cast<float>(b.x2 - b.x1 + 1);
        const volatile float difference = right - left;
        const volatile float step = difference / width;
        for (int x = b.x1; x <= b.x2; ++x) {
            const volatile float offset = static_cast<float>(x - b.x1 + 1) * step;
            const float value = offset + left;
            img.at(x - 1, y) = img.bitpix > 0 ? std::trunc(value) : value;
        }
    }
}

test::RunResult run_boxpatch(const std::vector<std::string>& args, const test::RunOptions& options = {}) {
    return test::run(test::programs::BOXPATCH, args, options);
}

struct FileSetup {
    std::string name;
    int w, h, bitpix;
    std::string raw = {};  // when given: the file's bytes, which must stay as they are
    size_t cut = 0;        // when not 0: the file ends after this many bytes
};

struct PatchCase {
    const char* name;
    std::vector<FileSetup> files;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, Box>> patches;  // in the order they happen
    std::string output;  // the whole output, or (not exact) a word of its one line
    bool exact_output;
    int status;
};

const std::vector<FileSetup> kA = {{"a.fits", 30, 12, -32}};
const std::vector<FileSetup> kAB = {{"a.fits", 30, 12, -32}, {"b.fits", 60, 12, -32}};
const std::string kReadFailure = "Error reading FITS file, program terminating.\n";
// An image of BITPIX -40, which has no item type.
const FileSetup kNoItemType = {
    "odd.fits", 0, 0, 0,
    test::header_blocks({test::value_card("SIMPLE", "T"), test::value_card("BITPIX", "-40"), test::value_card("NAXIS", "2"),
                         test::value_card("NAXIS1", "4"), test::value_card("NAXIS2", "4"), test::card("END")}) +
        std::string(FITS_BLOCK, '\0')};

const PatchCase kPatchCases[] = {
    {"PatchesTheBox", kA, {"-b", "10", "20", "5", "8", "a.fits"}, {{"a.fits", {10, 20, 5, 8}}}, "", true, 0},
    {"OneColumnBox", kA, {"-b", "10", "10", "5", "5", "a.fits"}, {{"a.fits", {10, 10, 5, 5}}}, "", true, 0},
    {"WholeImage", kA, {"-b", "1", "30", "1", "12", "a.fits"}, {{"a.fits", {1, 29, 1, 11}}}, "", true, 0},
    // Octal after 0, hexadecimal after 0x, a sign, and characters after the
    // number ignored.
    {"NumberForms", kA, {"-b", "010", "0x10", "+3", "4th", "a.fits"}, {{"a.fits", {8, 16, 3, 4}}}, "", true,
     0},
    {"ClampedToTheImage", {{"a.fits", 100, 50, -32}}, {"-b", "500", "50", "500", "40", "a.fits"},
     {{"a.fits", {50, 99, 40, 49}}}, "", true, 0},
    // Limits below 1 start the box at column 1, where it takes R throughout.
    {"NegativeLimits", kA, {"-b", "-5", "3", "0", "2", "a.fits"}, {{"a.fits", {1, 3, 1, 2}}}, "", true, 0},
    // x2 was clamped to 99 by the small image and stays so for the large one.
    {"ClampedLimitsCarryOver", {{"small.fits", 100, 10, -32}, {"large.fits", 1000, 10, -32}},
     {"-b", "50", "500", "2", "9", "small.fits", "large.fits"},
     {{"small.fits", {50, 99, 2, 9}}, {"large.fits", {50, 99, 2, 9}}}, "", true, 0},
    {"EachBoxForTheFilesAfterIt", kAB,
     {"-b", "5", "6", "5", "6", "a.fits", "-b", "7", "9", "7", "9", "b.fits"},
     {{"a.fits", {5, 6, 5, 6}}, {"b.fits", {7, 9, 7, 9}}}, "", true, 0},
    {"OtherOptionsSkipped", kA,
     {"-v", "-", "-b", "3", "5", "2", "4", "--x", "a.fits", "-bx", "6", "8", "3", "4", "a.fits"},
     {{"a.fits", {3, 5, 2, 4}}, {"a.fits", {6, 8, 3, 4}}}, "", true, 0},
    {"FirstWordOfTheArgument", kA, {"-b", "3", "5", "2", "4", "  a.fits  more"}, {{"a.fits", {3, 5, 2, 4}}},
     "", true, 0},
    // The second -b takes b.fits and -x as limits; neither is a number, so
    // x2 and y2 keep 29 and 4, left there by a.fits.
    {"LaterLimitNotANumber", kAB,
     {"-b", "3", "500", "2", "4", "a.fits", "-b", "4", "b.fits", "5", "-x", "b.fits"},
     {{"a.fits", {3, 29, 2, 4}}, {"b.fits", {4, 29, 4, 5}}}, "", true, 0},
    // An empty argument repeats the last word: "-b" again.
    {"EmptyArgumentAfterLimits", kA, {"-b", "3", "4", "3", "4", "", "12", "13", "5", "6", "a.fits"},
     {{"a.fits", {12, 13, 5, 6}}}, "", true, 0},
    {"FileBeforeLimits", kA, {"a.fits", "-b", "5", "6", "5", "6"}, {},
     "Error - must specify limits with -b\n", true, 1},
    {"MissingFileStopsTheRun", kAB, {"-b", "3", "5", "2", "4", "a.fits", "nope.fits", "b.fits"},
     {{"a.fits", {3, 5, 2, 4}}}, "rf: Error - file not found ( nope.fits )\n" + kReadFailure, true, 1},
    {"MissingFileBeforeLimits", kA, {"nope.fits", "a.fits"}, {},
     "rf: Error - file not found ( nope.fits )\n" + kReadFailure, true, 1},
    {"EmptyFirstArgumentIsNONE", kA, {"", "-b", "3", "5", "2", "4", "a.fits"}, {},
     "rf: Error - file not found ( NONE )\n" + kReadFailure, true, 1},
    {"BlankFirstArgumentIsNONE", kA, {"   ", "a.fits"}, {},
     "rf: Error - file not found ( NONE )\n" + kReadFailure, true, 1},
    {"ImageWithoutItemType", {kA[0], kNoItemType}, {"-b", "3", "5", "2", "4", "odd.fits", "a.fits"}, {},
     "rf:  -40 BITPIX format not supported.\n" + kReadFailure, true, 1},
    {"TooFewLimits", kA, {"-b", "1", "2", "3"}, {}, "-b", false, 1},
    {"FileNameTakenAsFirstLimits", kA, {"-b", "1", "2", "3", "a.fits"}, {}, "a.fits", false, 1},
    {"FirstLimitsNotANumber", kA, {"-b", "3", "x7", "5", "6", "a.fits"}, {}, "x7", false, 1},
    {"OneColumnImage", {{"a.fits", 30, 12, -32}, {"thin.fits", 1, 12, -32}},
     {"-b", "1", "1", "2", "3", "a.fits", "thin.fits"}, {{"a.fits", {1, 1, 2, 3}}}, "thin.fits", false, 1},
    // 1440 bytes of items: a file that ends in them is left as it was (its
    // limits clamped all the same) and the run goes on; one that lacks only
    // the fill after them is whole, and written with its fill.
    {"CutShortFileLeftAsItWas", {{"a.fits", 30, 12, -32, {}, FITS_BLOCK + 1439}, {"b.fits", 60, 12, -32}},
     {"-b", "3", "50", "2", "4", "a.fits", "b.fits"}, {{"b.fits", {3, 29, 2, 4}}},
     "rf: Error reading FITS data- EOF encountered before end of data\n"
     "boxpatch: Error - a.fits is cut short (pixels missing from its data), file not changed\n",
     true, 1},
    {"LacksOnlyTheFill", {{"a.fits", 30, 12, -32, {}, FITS_BLOCK + 1440}}, {"-b", "3", "5", "2", "4", "a.fits"},
     {{"a.fits", {3, 5, 2, 4}}}, "rf: Error reading FITS data- EOF encountered before end of data\n", true, 0},
};

void PrintTo(const PatchCase& c, std::ostream* os) { *os << c.name; }

class BoxpatchRun : public testing::TestWithParam<PatchCase> {};

TEST_P(BoxpatchRun, PrintsExitsAndLeavesFilesAsExpected) {
    const PatchCase& c = GetParam();
    test::TempDir dir;
    std::map<std::string, Image> expected;
    std::map<std::string, std::string> unchanged;  // files that must keep the bytes written
    std::vector<std::string> names;
    for (const FileSetup& f : c.files) {
        names.push_back(f.name);
        if (!f.raw.empty()) {
            test::write_file(dir.file(f.name), unchanged[f.name] = f.raw);
            continue;
        }
        expected[f.name] = make_image(f.w, f.h, f.bitpix, static_cast<int>(names.size()));
        const std::string bytes = file_bytes(expected[f.name]).substr(0, f.cut ? f.cut : std::string::npos);
        test::write_file(dir.file(f.name), bytes);
        if (f.cut) unchanged[f.name] = bytes;
    }
    for (const auto& [name, box] : c.patches) {
        patch(expected.at(name), box);
        unchanged.erase(name);
    }

    const test::RunResult r = run_boxpatch(c.args, {dir.path()});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.errors, "");
    if (c.exact_output) {
        EXPECT_EQ(r.output, c.output);
    } else {
        EXPECT_NE(r.output.find(c.output), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_TRUE(!r.output.empty() && r.output.back() == '\n') << r.output;
    }
    for (const auto& [name, img] : expected) {
        const std::string bytes = unchanged.count(name) ? unchanged[name] : file_bytes(img);
        EXPECT_TRUE(test::read_file(dir.file(name)) == bytes) << name << " differs";
    }
    for (const auto& [name, bytes] : unchanged) EXPECT_TRUE(test::read_file(dir.file(name)) == bytes) << name << " differs";
    std::sort(names.begin(), names.end());
    EXPECT_EQ(test::list_dir(dir.path()), names);
}

INSTANTIATE_TEST_SUITE_P(Table, BoxpatchRun, testing::ValuesIn(kPatchCases),
                         [](const testing::TestParamInfo<PatchCase>& info) { return info.param.name; });

// Integer items keep the computed values truncated toward zero. Row 1 steps
// down from 29 to 0 (26.1, 23.2, ... 2.9, 0), row 2 from 0 to -29 (or up to
// 29 in unsigned 8-bit items); row 3, the last, is never patched.
class BoxpatchIntegerItems : public testing::TestWithParam<int> {};

TEST_P(BoxpatchIntegerItems, KeepTruncatedValues) {
    const int bitpix = GetParam();
    const int sign = bitpix == 8 ? 1 : -1;
    Image img = make_image(12, 3, bitpix);
    img.at(0, 0) = 29;
    img.at(11, 0) = 0;
    img.at(0, 1) = 0;
    img.at(11, 1) = 29.0f * sign;
    test::TempDir dir;
    test::write_file(dir.file("int.fits"), file_bytes(img));

    const test::RunResult r = run_boxpatch({"-b", "2", "11", "1", "3", "int.fits"}, {dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
    const int down[] = {26, 23, 20, 17, 14, 11, 8, 5, 2, 0};
    const int up[] = {2, 5, 8, 11, 14, 17, 20, 23, 26, 29};
    for (int k = 0; k < 10; ++k) {
        img.at(k + 1, 0) = static_cast<float>(down[k]);
        img.at(k + 1, 1) = static_cast<float>(sign * up[k]);
    }
    EXPECT_TRUE(test::read_file(dir.file("int.fits")) == file_bytes(img));
}

INSTANTIATE_TEST_SUITE_P(Bitpix, BoxpatchIntegerItems, testing::Values(8, 16, 32));

// A rewritten file keeps its permission bits, its header (here of two
// blocks) and whatever followed its data (an extension and loose bytes).
TEST(BoxpatchFile, KeepsModeHeaderAndTrailingBytes) {
    const std::vector<std::string> comments(40, test::card("COMMENT   fills the first header block"));
    Image img = make_image(30, 12, -32);
    std::string tail = test::header_blocks({test::value_card("XTENSION", "'IMAGE   '"), test::card("END")});
    for (int i = 0; i < FITS_BLOCK + 17; ++i) tail.push_back(static_cast<char>(i * 13 + 5));
    test::TempDir dir;
    const std::string path = dir.file("ext.fits");
    test::write_file(path, file_bytes(img, comments) + tail);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);

    const test::RunResult r = run_boxpatch({"-b", "4", "9", "2", "6", "ext.fits"}, {dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
    patch(img, {4, 9, 2, 6});
    EXPECT_TRUE(test::read_file(path) == file_bytes(img, comments) + tail);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(test::list_dir(dir.path()), std::vector<std::string>{"ext.fits"});
}

// a.fits (17280 bytes) cannot be written under an 8000-byte file size limit,
// b.fits (5760 bytes) can. The empty argument processes a.fits a second
// time, so its write fails twice; the run goes on and ends with status 1.
TEST(BoxpatchFile, FailedWriteLeavesTheFileAndGoesOn) {
    const Image a = make_image(100, 30, -32);
    Image b = make_image(10, 10, -32, 1);
    test::TempDir dir;
    test::write_file(dir.file("a.fits"), file_bytes(a));
    test::write_file(dir.file("b.fits"), file_bytes(b));

    test::RunOptions options{dir.path(), 8000};
    const test::RunResult r = run_boxpatch({"-b", "2", "5", "2", "5", "a.fits", "", "b.fits"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "wf:  Error writing FITS file\nwf:  Error writing FITS file\n");
    EXPECT_TRUE(test::read_file(dir.file("a.fits")) == file_bytes(a));
    patch(b, {2, 5, 2, 5});
    EXPECT_TRUE(test::read_file(dir.file("b.fits")) == file_bytes(b));
    EXPECT_EQ(test::list_dir(dir.path()), (std::vector<std::string>{"a.fits", "b.fits"}));
}

// Where the file system can share blocks (XFS with reflink, btrfs), a file
// is patched in a clone of itself into which only what differs is written;
// elsewhere it is copied. Both give the same bytes, lines, permission bits
// and owner. Each case runs in a folder under $TMPDIR (the test run also puts
// it on an XFS mount) and in one on /dev/shm, where nothing can be cloned.
struct RewriteCase {
    const char* name;
    int w, h, bitpix;
    Box box;
    const char* ending;  // "" whole, "no fill", "blank fill" or "tail"
};

const RewriteCase kRewriteCases[] = {
    {"Bitpix8LeftEdge", 64, 20, 8, {1, 9, 3, 7}, ""},
    {"Bitpix16RightEdge", 64, 20, 16, {50, 63, 3, 7}, ""},
    {"Bitpix32FirstRow", 64, 20, 32, {10, 20, 1, 4}, ""},
    {"FloatLastRow", 64, 20, -32, {10, 20, 15, 19}, ""},
    {"DoubleWholeImage", 64, 20, -64, {1, 63, 1, 19}, ""},
    {"NoFill", 70, 9, 16, {5, 9, 2, 8}, "no fill"},
    {"BlankFill", 70, 9, -32, {5, 9, 2, 8}, "blank fill"},
    {"Tail", 70, 9, 8, {5, 9, 2, 8}, "tail"},
    // 1 MiB of items with a box of 40 rows: most blocks can be shared.
    {"LargeImage", 1024, 512, 16, {300, 340, 200, 239}, "blank fill"},
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name; }

std::string rewrite_input(const RewriteCase& c) {
    const Image img = make_image(c.w, c.h, c.bitpix, 3);
    std::string bytes = file_bytes(img);
    const size_t items_end = bytes.size() - FITS_BLOCK +
                             (static_cast<size_t>(c.w) * c.h * (std::abs(c.bitpix) / 8) - 1) % FITS_BLOCK + 1;
    const std::string ending = c.ending;
    if (ending == "no fill") bytes.resize(items_end);
    if (ending == "blank fill") std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(items_end), bytes.end(), ' ');
    if (ending == "tail") {
        bytes += test::header_blocks({test::value_card("XTENSION", "'IMAGE   '"), test::card("END")});
        for (int i = 0; i < 5000; ++i) bytes.push_back(static_cast<char>(i * 31 + 7));
    }
    return bytes;
}

bool can_clone(const std::string& dir) {
    const std::string a = dir + "/clone-a", b = dir + "/clone-b";
    test::write_file(a, std::string(4096, 'x'));
    const int from = ::open(a.c_str(), O_RDONLY), to = ::open(b.c_str(), O_WRONLY | O_CREAT, 0600);
    const bool cloned = from >= 0 && to >= 0 && ::ioctl(to, FICLONE, from) == 0;
    ::close(from);
    ::close(to);
    ::unlink(a.c_str());
    ::unlink(b.c_str());
    return cloned;
}

// Bytes of the file in extents that it shares with another file.
int64_t shared_bytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buf(sizeof(fiemap) + 512 * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(buf.data());
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 512;
    int64_t shared = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_FIEMAP, map) == 0)
        for (uint32_t i = 0; i < map->fm_mapped_extents; ++i)
            if (map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED) shared += map->fm_extents[i].fe_length;
    ::close(fd);
    return shared;
}

class BoxpatchRewrite : public testing::TestWithParam<RewriteCase> {};

TEST_P(BoxpatchRewrite, SameWhetherClonedOrCopied) {
    const RewriteCase& c = GetParam();
    const std::string input = rewrite_input(c);
    const std::vector<std::string> args{"-b", std::to_string(c.box.x1), std::to_string(c.box.x2),
                                        std::to_string(c.box.y1), std::to_string(c.box.y2), "img.fits"};
    test::TempDir here, copying("/dev/shm");
    struct Result {
        test::RunResult run;
        std::string bytes;
        struct stat st;
    } results[2];
    const bool owner = ::geteuid() == 0;
    const test::TempDir* dirs[] = {&here, &copying};
    for (int k = 0; k < 2; ++k) {
        const std::string path = dirs[k]->file("img.fits");
        test::write_file(path, input);
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        if (owner) {
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(::link(path.c_str(), dirs[k]->file("old.fits").c_str()), 0);  // keeps the old blocks in use
        results[k].run = run_boxpatch(args, {dirs[k]->path()});
        results[k].bytes = test::read_file(path);
        ASSERT_EQ(::stat(path.c_str(), &results[k].st), 0);
    }
    EXPECT_EQ(results[0].run.status, 0);
    EXPECT_EQ(results[0].run.status, results[1].run.status);
    EXPECT_EQ(results[0].run.output, results[1].run.output);
    EXPECT_TRUE(results[0].bytes == results[1].bytes) << "the two paths wrote different files";
    EXPECT_NE(results[0].bytes, input);
    EXPECT_EQ(results[0].st.st_mode, results[1].st.st_mode);
    EXPECT_EQ(results[0].st.st_uid, results[1].st.st_uid);
    EXPECT_EQ(results[0].st.st_gid, results[1].st.st_gid);
    EXPECT_EQ(results[0].st.st_nlink, 1u);
    if (std::string(c.name) == "LargeImage" && can_clone(here.path())) {
        const int64_t own = static_cast<int64_t>(results[0].bytes.size()) - shared_bytes(here.file("img.fits"));
        EXPECT_LE(own, 128 * 1024) << "a patch of 40 rows of 2 KiB took blocks of its own for " << own << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BoxpatchRewrite, testing::ValuesIn(kRewriteCases),
                         [](const testing::TestParamInfo<RewriteCase>& info) { return info.param.name; });

}  // namespace
