// Runs a fuzz target once on every file of the folders named on the command
// line (the seed corpus, and the inputs that once made a fuzzer fail, kept
// as regression cases). Built into the normal test run, with and without
// the sanitizers; a failure shows as a sanitizer report or an abort.
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.hpp"

namespace {

std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> paths;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') paths.push_back(folder + "/" + entry->d_name);
        ::closedir(dir);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

int main(int argc, char** argv) {
    // The library's lines are not what is checked here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::string& path : files_in(argv[i])) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            std::fprintf(stderr, "%s\n", path.c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
