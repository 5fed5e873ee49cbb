// boxpatch's argument reading and box arithmetic. The first two bytes give
// the image's axis lengths (mostly small; with the high bit set, near
// MAX_AXIS); the rest, split at NUL bytes, is the command line. Each file
// name reached has its box clamped and one row interpolated as boxpatch does.
#include <string>
#include <vector>

#include "args.hpp"
#include "fuzz_support.hpp"

namespace {

constexpr size_t kMaxArgs = 64;

int32_t axis_from(uint8_t byte) { return byte & 0x80 ? MAX_AXIS - (byte & 3) : 1 + (byte & 0x3f); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t naxis1 = axis_from(data[0]);
    const int32_t naxis2 = axis_from(data[1]);

    std::vector<std::string> words{"boxpatch"};
    std::string current;
    for (size_t i = 2; i < size && words.size() < kMaxArgs; ++i) {
        if (data[i] == '\0') {
            words.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (words.size() < kMaxArgs) words.push_back(current);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    ArgScan scan{static_cast<int>(words.size()), argv.data()};
    for (ArgStep step = next_file(scan); step == ArgStep::file; step = next_file(scan)) {
        if (scan.word.empty() || scan.word[0] == '-') fuzz::broken("an option was taken as a file name");
        if (!scan.limits_given) continue;  // boxpatch stops here
        clamp_and_order(scan.box, naxis1, naxis2);
        const BoxLimits& b = scan.box;
        const int32_t top1 = std::max(1, naxis1 - 1), top2 = std::max(1, naxis2 - 1);
        if (b.x1 < 1 || b.x1 > b.x2 || b.x2 > top1 || b.y1 < 1 || b.y1 > b.y2 || b.y2 > top2)
            fuzz::broken("a clamped box lies outside the image or out of order");
        if (naxis1 < 2) continue;  // boxpatch refuses such an image
        // One row of the columns patching reads: the neighbours must stay.
        std::vector<float> row(static_cast<size_t>(last_column_read(b) - first_column_read(b) + 1), 1.0f);
        row.back() = 3.0f;
        interpolate_row(b, row.data());
        if (row.back() != 3.0f || (b.x1 > 1 && row.front() != 1.0f)) fuzz::broken("a neighbour of the box changed");
    }
    return 0;
}
