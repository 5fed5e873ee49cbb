// The numbers the programs read from their arguments, all through the C
// library's conversions: boxpatch's lax scan of a limit, and the strict
// reading of a whole argument as a whole or real number within a range.
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "numbers.hpp"

namespace cli {

namespace {

// The integer an argument begins with, as strtoll reads it in `base`:
// leading blanks, an optional sign, then digits (for base 0 hexadecimal
// after 0x or 0X, octal after a leading 0).
struct LeadingInteger {
    bool found = false;          // digits were read
    bool out_of_range = false;   // beyond 64 bits: value is the nearest 64-bit one
    int64_t value = 0;
    const char* rest = nullptr;  // what follows the number
};

LeadingInteger leading_integer(const char* arg, int base) {
    LeadingInteger number;
    char* end = nullptr;
    errno = 0;
    number.value = std::strtoll(arg, &end, base);
    number.out_of_range = errno != 0;
    number.found = end != arg;
    number.rest = end;
    return number;
}

}  // namespace

bool scan_int(const char* arg, int32_t& value) {
    const LeadingInteger number = leading_integer(arg, 0);
    if (!number.found) return false;
    value = static_cast<int32_t>(std::clamp<int64_t>(number.value, INT32_MIN, INT32_MAX));
    return true;
}

bool whole_number(const char* arg, int64_t low, int64_t high, int64_t& value) {
    const LeadingInteger number = leading_integer(arg, 10);
    if (!number.found || *number.rest != '\0' || number.out_of_range || number.value < low || number.value > high)
        return false;
    value = number.value;
    return true;
}

bool real_number(const char* arg, double low, double high, double& value) {
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(arg, &end);
    if (end == arg || *end != '\0' || errno != 0 || !(number >= low && number <= high)) return false;
    value = number;
    return true;
}

}  // namespace cli
