// An argument's first word, and the answer to a command line that names no
// file.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "cli.hpp"

namespace cli {

namespace {
bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
}  // namespace

bool scan_word(const char* arg, std::string& word) {
    const char* begin = arg;
    while (*begin != '\0' && is_blank(*begin)) ++begin;
    const char* end = begin;
    while (*end != '\0' && !is_blank(*end)) ++end;
    if (end == begin) return false;
    word.assign(begin, end);
    return true;
}

bool answered_without_files(int argc, char** argv, const char* program, const char* usage,
                            PromptEnd prompt_end) {
    if (argc < 2) {
        std::fputs(prompt_end == PromptEnd::line_end ? "  Enter file name on command line\n"
                                                     : "  Enter file name on command line",
                   stdout);
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usage, stdout);
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s (fitsquad) %s\n", program, VERSION);
        return true;
    }
    return false;
}

}  // namespace cli
