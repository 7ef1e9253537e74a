#include "number_parse.h"

#include <limits>
#include <string>

namespace varnox::disk_tool {

using client::Error;
using client::ErrorKind;
using client::Result;

namespace {

Error NotANumber(std::string_view text, const char* why) {
    return Error{ErrorKind::Usage, 0, "'" + std::string(text) + "' " + why};
}

int DigitValue(char c, unsigned base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

unsigned SuffixShift(char c) {
    switch (c) {
        case 'k':
        case 'K':
            return 10;
        case 'm':
        case 'M':
            return 20;
        case 'g':
        case 'G':
            return 30;
        default:
            return 0;
    }
}

}  // namespace

Result<std::uint64_t> ParseNumber(std::string_view text) {
    constexpr const char* FORMS = "is not a number (decimal, 0x hex, optional K/M/G suffix)";
    std::string_view digits = text;
    unsigned base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    unsigned shift = 0;
    // In hex a trailing "G" cannot be a digit, but neither K nor M are digits either, so
    // the suffix is read the same way in both bases.
    if (!digits.empty() && SuffixShift(digits.back()) != 0) {
        shift = SuffixShift(digits.back());
        digits.remove_suffix(1);
    }
    if (digits.empty()) return NotANumber(text, FORMS);

    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = DigitValue(c, base);
        if (digit < 0) return NotANumber(text, FORMS);
        if (value > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base) {
            return NotANumber(text, "is too large");
        }
        value = value * base + static_cast<unsigned>(digit);
    }
    if (shift != 0 && value > (std::numeric_limits<std::uint64_t>::max() >> shift)) {
        return NotANumber(text, "is too large");
    }
    return value << shift;
}

Result<double> ParseSeconds(std::string_view text) {
    constexpr const char* FORMS = "is not a number of seconds (such as 5 or 0.5)";
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 9) return NotANumber(text, FORMS);

    double seconds = 0;
    for (const char c : whole) {
        if (c < '0' || c > '9') return NotANumber(text, FORMS);
        seconds = seconds * 10 + (c - '0');
    }
    double scale = 0.1;
    for (const char c : fraction) {
        if (c < '0' || c > '9') return NotANumber(text, FORMS);
        seconds += scale * (c - '0');
        scale /= 10;
    }
    if (seconds <= 0) return NotANumber(text, "is not a positive number of seconds");
    return seconds;
}

}  // namespace varnox::disk_tool
