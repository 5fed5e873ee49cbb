// What each program prints when it is given no file: the prompt for an empty
// command line, and --help and --version (only as the first argument).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

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

}  // namespace
