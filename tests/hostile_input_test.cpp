// Hostile files and names through all three programs. Whatever the input,
// each run must exit with status 0 or 1, end within the time limit, print
// at least one line when it fails, leave nothing on standard error (where
// the sanitizer build reports), leave no temporary file, and change no
// existing file when it fails.
//
// Every hostile input is given to boxpatch, quadsplit and quadmerge as the
// image and, except in the BITPIX sweep, to quadmerge as channel b of a
// valid image.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

enum class Kind { file, folder, fifo, absent };

struct Hostile {
    std::string label;
    std::string bytes;
    Kind kind = Kind::file;
    std::string name = "img.fits";
};

constexpr int kTimeoutMs = 60000;

// What a folder holds: each entry's bytes, or a marker for what is not a
// regular file (never read: a FIFO would block).
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const std::string& name : test::list_dir(dir)) {
        struct stat st {};
        ::lstat((dir + "/" + name).c_str(), &st);
        entries[name] = S_ISREG(st.st_mode) ? test::read_file(dir + "/" + name) : "<mode " + std::to_string(st.st_mode) + ">";
    }
    return entries;
}

void make_entry(const test::TempDir& dir, const std::string& name, const Hostile& h) {
    const std::string path = dir.file(name);
    switch (h.kind) {
    case Kind::file: test::write_file(path, h.bytes); break;
    case Kind::folder: ::mkdir(path.c_str(), 0755); break;
    case Kind::fifo: ::mkfifo(path.c_str(), 0644); break;
    case Kind::absent: break;
    }
}

std::string image(int bitpix, long naxis1, long naxis2) {
    return test::fits_file(bitpix, naxis1, naxis2, std::vector<double>(static_cast<size_t>(naxis1 * naxis2), 3.0));
}

// A valid image ok.fits of 8 x 4 pixels and its four channel files.
void valid_set(const test::TempDir& dir, const std::string& base) {
    test::write_file(dir.file(base + ".fits"), image(-32, 8, 4));
    for (const char letter : {'a', 'b', 'c', 'd'})
        test::write_file(dir.file(base + "." + letter + ".fits"), image(-32, 2, 4));
}

void expect_sound_run(const test::TempDir& dir, const std::string& program, const std::vector<std::string>& args) {
    SCOPED_TRACE(program.substr(program.rfind('/') + 1) + " " + args.back().substr(0, 60));
    const auto before = snapshot(dir.path());
    const test::RunResult r = test::run(program, args, {dir.path(), -1, kTimeoutMs});
    const auto after = snapshot(dir.path());

    EXPECT_FALSE(r.timed_out) << "hang";
    EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.errors.substr(0, 4000);
    EXPECT_EQ(r.errors, "");
    if (r.status != 0) {
        EXPECT_NE(r.output.find('\n'), std::string::npos) << "silent failure";
    }
    for (const auto& [name, bytes] : after) EXPECT_FALSE(name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) << name;
    if (r.status == 0) return;
    for (const auto& [name, bytes] : before) {
        const auto it = after.find(name);
        EXPECT_TRUE(it != after.end() && it->second == bytes) << name.substr(0, 60) << " changed by a failed run";
    }
}

// as_channel: also give the input to quadmerge as channel b of a valid image.
void run_all_programs(const Hostile& h, bool as_channel) {
    SCOPED_TRACE(h.label);
    const std::string base = h.name.size() >= 5 ? h.name.substr(0, h.name.size() - 5) : "";
    {
        test::TempDir dir;
        make_entry(dir, h.name, h);
        expect_sound_run(dir, test::programs::BOXPATCH, {"-b", "2", "3", "2", "3", h.name});
        expect_sound_run(dir, test::programs::QUADSPLIT, {h.name});
    }
    {
        test::TempDir dir;
        make_entry(dir, h.name, h);
        if (h.name.size() >= 5) {
            for (const char letter : {'a', 'b', 'c', 'd'})
                test::write_file(dir.file(base + "." + letter + ".fits"), image(-32, 2, 4));
        }
        expect_sound_run(dir, test::programs::QUADMERGE, {h.name});
    }
    if (as_channel) {
        test::TempDir dir;
        valid_set(dir, "ok");
        ::unlink(dir.file("ok.b.fits").c_str());
        make_entry(dir, "ok.b.fits", h);
        expect_sound_run(dir, test::programs::QUADMERGE, {"ok.fits"});
    }
}

// --- The hostile inputs ---------------------------------------------------

// A 64 x 32 single-precision image with a header of two blocks: 2880 bytes
// of header, 2880 more, then three data blocks.
std::string two_block_image() {
    std::vector<double> values(64 * 32);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i % 97) - 40.5;
    return test::fits_file(-32, 64, 32, values, std::vector<std::string>(40, "COMMENT filler"));
}

std::string with_cards(const std::vector<std::string>& cards, bool end = true) {
    std::vector<std::string> all = cards;
    if (end) all.push_back("END");
    return test::header_blocks(all) + std::string(FITS_BLOCK, '\x41');
}

std::vector<std::string> basic_with(const std::string& keyword, const std::string& value_text) {
    std::vector<std::string> cards = test::basic_cards(16, 8, 4);
    for (std::string& c : cards)
        if (c.compare(0, keyword.size() + 1, keyword + " ") == 0) c = test::card((keyword + "        ").substr(0, 8) + "= " + value_text);
    return cards;
}

std::vector<Hostile> truncated() {
    const std::string full = two_block_image();
    std::vector<Hostile> cases;
    for (const size_t cut : {0, 1, 79, 80, 2879, 2880, 2881, 4000, 5759, 5760, 5761, 7000, 8640, 9000, 11519, 14399})
        cases.push_back({"cut at " + std::to_string(cut), full.substr(0, cut)});
    return cases;
}

std::vector<Hostile> headers() {
    std::vector<Hostile> cases;
    cases.push_back({"no END", with_cards(test::basic_cards(16, 8, 4), false)});
    cases.push_back({"no END, two blocks of cards",
                     with_cards([] { auto c = test::basic_cards(16, 8, 4); c.resize(72, "COMMENT x"); return c; }(), false)});
    cases.push_back({"lower-case end", with_cards([] { auto c = test::basic_cards(16, 8, 4); c.push_back("end"); return c; }(), false)});
    for (const std::string axis : {"NAXIS1", "NAXIS2"})
        for (const std::string v : {"0", "-1", "-2147483649", "8193", "65537", "4294967298", "99999999999999999999",
                                    "abc", "'12'", "", "1e3", "12abc", "0x10"})
            cases.push_back({axis + " = " + v, with_cards(basic_with(axis, v))});
    cases.push_back({"NAXIS 3", with_cards(basic_with("NAXIS", "3"))});
    cases.push_back({"NAXIS text", with_cards(basic_with("NAXIS", "two"))});
    for (const std::string v : {"0", "-0", "NaN", "nan", "inf", "1e999", "'text'", "text", "''"}) {
        auto cards = test::basic_cards(16, 8, 4);
        cards.push_back(test::card("BSCALE  = " + v));
        cases.push_back({"BSCALE = " + v, with_cards(cards)});
    }
    // NUL and bytes above 127 in keywords, values and END.
    const std::string nul(1, '\0');
    const auto basic_plus = [](const std::string& extra) {
        auto c = test::basic_cards(16, 8, 4);
        c.push_back(extra);
        return c;
    };
    auto nul_keyword = test::basic_cards(16, 8, 4);
    nul_keyword[3][3] = '\0';
    cases.push_back({"NUL in keyword", with_cards(nul_keyword)});
    cases.push_back({"NUL in value", with_cards(basic_with("NAXIS1", "1" + nul + "6"))});
    cases.push_back({"NUL in END", with_cards(basic_plus("EN" + nul + "D"), false)});
    cases.push_back({"END after NUL", with_cards(basic_plus(std::string(80, '\0')))});
    cases.push_back({"NUL card block", std::string(FITS_BLOCK * 3, '\0')});
    cases.push_back({"bytes above 127 in a card", with_cards(basic_plus("COMMENT \xff\xfe\x80 caf\xc3\xa9"))});
    cases.push_back({"bytes above 127 in a value", with_cards(basic_with("NAXIS2", "\xff" "4"))});
    cases.push_back({"keyword of bytes above 127", with_cards(basic_plus("\xe9\xe9\xe9\xe9\xe9\xe9\xe9\xe9= 1"))});
    // Quotes that are never closed.
    cases.push_back({"NAXIS1 unclosed quote", with_cards(basic_with("NAXIS1", "'8"))});
    cases.push_back({"BITPIX unclosed quote", with_cards(basic_with("BITPIX", "'16     "))});
    cases.push_back({"string card unclosed", with_cards(basic_plus("OBJECT  = 'M31 field without an end"))});
    cases.push_back({"quote in column 80", with_cards(basic_plus(std::string(79, ' ') + "'"))});
    return cases;
}

std::vector<Hostile> bitpix_range(int from, int to) {
    std::vector<Hostile> cases;
    std::string data(FITS_BLOCK, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 + 11);
    for (int bitpix = from; bitpix <= to; ++bitpix)
        cases.push_back({"BITPIX " + std::to_string(bitpix), test::header_blocks([&] {
                             auto c = test::basic_cards(bitpix, 8, 4);
                             c.push_back("END");
                             return c;
                         }()) + data});
    return cases;
}

std::vector<Hostile> names_and_kinds() {
    const std::string valid = image(-32, 8, 4);
    return {
        {"a folder", "", Kind::folder},
        {"a FIFO", "", Kind::fifo},
        {"name of 1 character", valid, Kind::file, "x"},
        {"name of 4 characters", valid, Kind::file, "x.ft"},
        {"name of 5 characters", valid, Kind::file, "x.fit"},
        {"name of 255 characters", valid, Kind::file, std::string(250, 'n') + ".fits"},
        {"name of 5000 characters", "", Kind::absent, std::string(4995, 'n') + ".fits"},
    };
}

struct Group {
    const char* name;
    std::vector<Hostile> (*cases)();
    bool as_channel;  // a channel is read like the image, so the BITPIX sweep runs it once
};

const Group kGroups[] = {
    {"Truncated", truncated, true},
    {"Headers", headers, true},
    {"BitpixBelowMinus32", [] { return bitpix_range(-100, -33); }, false},
    {"BitpixMinus32To32", [] { return bitpix_range(-32, 32); }, false},
    {"BitpixAbove32", [] { return bitpix_range(33, 100); }, false},
    {"NamesAndKinds", names_and_kinds, true},
};

void PrintTo(const Group& g, std::ostream* os) { *os << g.name; }

class HostileInput : public testing::TestWithParam<Group> {};

TEST_P(HostileInput, EveryProgramFailsCleanly) {
    for (const Hostile& h : GetParam().cases()) run_all_programs(h, GetParam().as_channel);
}

INSTANTIATE_TEST_SUITE_P(Groups, HostileInput, testing::ValuesIn(kGroups),
                         [](const testing::TestParamInfo<Group>& info) { return std::string(info.param.name); });

// Channel files that cannot be written because a folder or a FIFO holds
// their names: quadsplit reports each, writes the others and fails; a
// quadmerge of the image stops at the folder without writing the image.
TEST(HostileTargets, FolderAndFifoInPlaceOfChannelFiles) {
    test::TempDir dir;
    test::write_file(dir.file("img.fits"), image(-32, 8, 4));
    ASSERT_EQ(::mkdir(dir.file("img.a.fits").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(dir.file("img.b.fits").c_str(), 0644), 0);
    const test::RunResult split = test::run(test::programs::QUADSPLIT, {"img.fits"}, {dir.path(), -1, kTimeoutMs});
    EXPECT_EQ(split.status, 1);
    EXPECT_EQ(split.output, "wf: Error opening file for writing\nimg.a.fits\n"
                            "wf: Error opening file for writing\nimg.b.fits\nimg.c.fits\nimg.d.fits\n");
    EXPECT_EQ(test::read_file(dir.file("img.c.fits")).size(), 2u * FITS_BLOCK);
    expect_sound_run(dir, test::programs::QUADMERGE, {"img.fits"});
}

}  // namespace
