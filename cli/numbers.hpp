// The numbers the programs read from their arguments: boxpatch's lax scan
// of a limit, and the one strict reader of a whole argument as a number
// within a range, which fitspreview and fitsframe use.
#pragma once

#include <cstdint>

namespace cli {

// Reads an integer the way "%i" does: leading blanks, an optional sign, then
// hexadecimal after 0x or 0X, octal after a leading 0, or decimal; anything
// after the number is ignored. Values beyond 32 bits saturate. An argument
// that does not begin with a number leaves `value` as it was and gives false.
// This is the lax scan of boxpatch's limits; it shares the reading of the
// leading integer with whole_number but neither its base nor its checks.
bool scan_int(const char* arg, int32_t& value);

// Reads the whole argument as a decimal whole number from low to high:
// leading blanks and a sign may come before the digits, nothing may follow
// them. Anything else (an empty argument, "0x10", "1e3", "7 ", a number
// beyond 64 bits or outside the range) leaves `value` as it was and gives
// false.
bool whole_number(const char* arg, int64_t low, int64_t high, int64_t& value);

// Reads the whole argument as a real number from low to high, in any form
// strtod takes (leading blanks, a sign, "1e2", "0x1p-2"), nothing after it.
// NaN, a value outside the range, and one strtod reports as out of range
// (beyond double, or below its normal numbers: "1e-310") are refused like
// text that is not a number: `value` stays as it was and the result is false.
bool real_number(const char* arg, double low, double high, double& value);

}  // namespace cli
