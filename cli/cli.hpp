// Command-line handling shared by the programs.
#pragma once

#include <cstdint>
#include <string>

#include "version.hpp"

namespace cli {

// Takes the first blank-delimited word of `arg`, of any length, into `word`.
// An argument without a word (empty or all blanks) leaves `word` as it was
// and gives false.
bool scan_word(const char* arg, std::string& word);

// Reads an integer the way "%i" does: leading blanks, an optional sign, then
// hexadecimal after 0x or 0X, octal after a leading 0, or decimal; anything
// after the number is ignored. Values beyond 32 bits saturate. An argument
// that does not begin with a number leaves `value` as it was and gives false.
bool scan_int(const char* arg, int32_t& value);

// How a program ends its prompt for an empty command line.
enum class PromptEnd { none, line_end };

// Answers a command line that names no file: with no arguments, prints the
// prompt "  Enter file name on command line"; when the first argument is
// exactly --help or --version, prints the usage text or the version line.
// Gives true when it answered: the program then exits with 0.
bool answered_without_files(int argc, char** argv, const char* program, const char* usage,
                            PromptEnd prompt_end);

}  // namespace cli
