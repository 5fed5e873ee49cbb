// The command-line handling the programs share: what each prints when it is
// given no file (the prompt for an empty command line, and --help and
// --version, only as the first argument), and how numbers are read from
// arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "numbers.hpp"
#include "support.hpp"

namespace {

struct Program {
    const char* name;
    const char* path;
    std::string prompt;  // printed for an empty command line
};

const Program kPrograms[] = {
    {"boxpatch", test::programs::BOXPATCH, "  Enter file name on command line"},
    {"quadsplit", test::programs::QUADSPLIT, "  Enter file name on command line"},
    {"quadmerge", test::programs::QUADMERGE, "  Enter file name on command line\n"},
};

void PrintTo(const Program& p, std::ostream* os) { *os << p.name; }

class ProgramInfo : public testing::TestWithParam<Program> {};

TEST_P(ProgramInfo, PromptHelpAndVersion) {
    const Program& p = GetParam();
    const test::RunResult prompt = test::run(p.path, {});
    EXPECT_EQ(prompt.status, 0);
    EXPECT_EQ(prompt.output, p.prompt);

    // The file after the option would fail the run if it were read.
    const test::RunResult help = test::run(p.path, {"--help", "nope.fits"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind(std::string("Usage: ") + p.name + " ", 0), 0u) << help.output;
    EXPECT_EQ(help.errors, "");

    const test::RunResult version = test::run(p.path, {"--version", "nope.fits"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string(p.name) + " (fitsquad) " + test::programs::VERSION + "\n");
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramInfo, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program>& info) { return info.param.name; });

constexpr int32_t kUnread = 12345;  // what a refused argument leaves

// The strict reading of a whole argument (here from -5 up) beside the lax
// scan of an argument's leading number, saturated to 32 bits.
TEST(Numbers, WholeArgumentsAndLeadingNumbers) {
    struct Case {
        const char* arg;
        bool whole;
        int64_t whole_value;
        bool scanned;
        int32_t scanned_value;
    };
    const Case cases[] = {
        {"42", true, 42, true, 42},          {" \t+42", true, 42, true, 42},
        {"-5", true, -5, true, -5},          {"-6", false, 0, true, -6},
        {"010", true, 10, true, 8},          {"0x1F", false, 0, true, 31},
        {"42 ", false, 0, true, 42},         {"1e3", false, 0, true, 1},
        {"", false, 0, false, 0},            {" ", false, 0, false, 0},
        {"x1", false, 0, false, 0},          {"4294967296", true, 4294967296, true, INT32_MAX},
        {"9223372036854775807", true, INT64_MAX, true, INT32_MAX},
        {"9223372036854775808", false, 0, true, INT32_MAX},
        {"-99999999999999999999", false, 0, true, INT32_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("argument \"") + c.arg + "\"");
        int64_t whole = kUnread;
        EXPECT_EQ(cli::whole_number(c.arg, -5, INT64_MAX, whole), c.whole);
        EXPECT_EQ(whole, c.whole ? c.whole_value : kUnread);
        int32_t scanned = kUnread;
        EXPECT_EQ(cli::scan_int(c.arg, scanned), c.scanned);
        EXPECT_EQ(scanned, c.scanned ? c.scanned_value : kUnread);
    }
}

TEST(Numbers, RealArgumentsFrom0To100) {
    struct Case {
        const char* arg;
        bool read;
        double value;
    };
    const Case cases[] = {
        {"99.5", true, 99.5}, {" +1e2", true, 100.0},   {"0x1p-2", true, 0.25}, {"-0", true, 0.0},
        {"1e-300", true, 1e-300}, {"1e-310", false, 0}, {"100.0000000000001", false, 0},
        {"5 ", false, 0},     {"", false, 0},           {"nan", false, 0},      {"inf", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("argument \"") + c.arg + "\"");
        double value = kUnread;
        EXPECT_EQ(cli::real_number(c.arg, 0.0, 100.0, value), c.read);
        EXPECT_EQ(value, c.read ? c.value : kUnread);
    }
}

}  // namespace
