// The lines that several programs print alike.
#include "shared_lines.hpp"

#include <cstdio>

namespace cli {

void print_cut_short(const char* program, const std::string& file, const std::string& consequence) {
    std::printf("%s: Error - %s is cut short (pixels missing from its data), %s\n", program, file.c_str(),
                consequence.c_str());
}

}  // namespace cli
