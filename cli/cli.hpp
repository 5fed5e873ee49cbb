// Command-line handling shared by the programs: an argument's first word,
// and the answer to a command line without a file (the numbers in
// arguments are read by numbers.hpp).
#pragma once

#include <cstdint>
#include <string>

#include "version.hpp"

namespace cli {

// Takes the first blank-delimited word of `arg`, of any length, into `word`.
// An argument without a word (empty or all blanks) leaves `word` as it was
// and gives false.
bool scan_word(const char* arg, std::string& word);

// The usage text's lines for --help and --version, which
// answered_without_files answers.
constexpr const char* HELP_AND_VERSION_LINES =
    "  --help      this text\n"
    "  --version   the version\n";

// How a program ends its prompt for an empty command line.
enum class PromptEnd { none, line_end };

// Answers a command line that names no file: with no arguments, prints the
// prompt "  Enter file name on command line"; when the first argument is
// exactly --help or --version, prints the usage text or the version line.
// Gives true when it answered: the program then exits with 0.
bool answered_without_files(int argc, char** argv, const char* program, const char* usage,
                            PromptEnd prompt_end);

}  // namespace cli
