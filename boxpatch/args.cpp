#include "args.hpp"

#include <cstdio>

#include "cli.hpp"
#include "numbers.hpp"

namespace {

constexpr const char* LIMIT_NAMES[] = {"x1", "x2", "y1", "y2"};
constexpr int LIMIT_COUNT = 4;

// Reads -b's four limits from limit_args[0..3]. A limit that is not a
// number keeps its value; before the first -b there is none to keep.
bool take_limits(ArgScan& scan, char** limit_args) {
    int32_t* limits[LIMIT_COUNT] = {&scan.box.x1, &scan.box.x2, &scan.box.y1, &scan.box.y2};
    for (int i = 0; i < LIMIT_COUNT; ++i) {
        if (!cli::scan_int(limit_args[i], *limits[i]) && !scan.limits_given) {
            std::printf("Error - limit %s of -b is not a number: %s\n", LIMIT_NAMES[i], limit_args[i]);
            return false;
        }
    }
    scan.limits_given = true;
    return true;
}

}  // namespace

ArgStep next_file(ArgScan& scan) {
    while (scan.next < scan.argc) {
        const int i = scan.next++;
        cli::scan_word(scan.argv[i], scan.word);  // no word: the previous one stands
        if (scan.word[0] != '-') return ArgStep::file;
        if (scan.word.size() < 2 || scan.word[1] != 'b') continue;
        if (scan.argc - 1 - i < LIMIT_COUNT) {
            std::puts("Error - -b needs four limits: -b x1 x2 y1 y2");
            return ArgStep::malformed;
        }
        if (!take_limits(scan, scan.argv + i + 1)) return ArgStep::malformed;
        scan.next += LIMIT_COUNT;
    }
    return ArgStep::end;
}
