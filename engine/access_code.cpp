#include "engine/access_code.hpp"

#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tervan {

namespace {

bool IsSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of `c` as a digit of `radix` (8 or 16), or -1.
int RadixDigit(char c, unsigned radix) {
    int digit = -1;
    if (c >= '0' && c <= '9')
        digit = c - '0';
    else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
    return digit >= 0 && static_cast<unsigned>(digit) < radix ? digit : -1;
}

// Val types an &H / &O literal as the smallest of Integer and Long that holds
// the digits' bit pattern, so &HFFFF is the Integer -1 while &H10000 is the
// Long 65536. C++20 defines these narrowing conversions as two's complement.
std::optional<double> ReadRadix(std::string_view digits, unsigned radix) {
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = RadixDigit(c, radix);
        if (digit < 0) break;
        value = value * radix + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    if (value <= 0xFFFFu) return static_cast<std::int16_t>(value);
    return static_cast<std::int32_t>(value);
}

std::size_t SkipDigits(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsDigit(text[pos]))
        ++pos;
    return pos;
}

// Decimal text, already free of blanks. The recognised part is rebuilt in a
// plain form ("e" for the exponent, a digit before the point) so that the C
// library reads exactly that part and nothing the entry has beyond it.
std::optional<double> ReadDecimal(std::string_view text) {
    std::size_t pos = 0;
    const bool negative = pos < text.size() && text[pos] == '-';
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;

    const std::size_t int_begin = pos;
    pos = SkipDigits(text, pos);
    const std::string_view int_digits = text.substr(int_begin, pos - int_begin);

    std::string_view frac_digits;
    if (pos < text.size() && text[pos] == '.') {
        const std::size_t frac_begin = pos + 1;
        pos = SkipDigits(text, frac_begin);
        frac_digits = text.substr(frac_begin, pos - frac_begin);
    }
    if (int_digits.empty() && frac_digits.empty()) return 0.0;

    // An exponent letter counts only when digits follow it: "1E" and "1E+" read 1.
    bool exp_negative = false;
    std::string_view exp_digits;
    if (pos < text.size() &&
        (text[pos] == 'E' || text[pos] == 'e' || text[pos] == 'D' || text[pos] == 'd')) {
        std::size_t exp_begin = pos + 1;
        if (exp_begin < text.size() && (text[exp_begin] == '+' || text[exp_begin] == '-')) {
            exp_negative = text[exp_begin] == '-';
            ++exp_begin;
        }
        exp_digits = text.substr(exp_begin, SkipDigits(text, exp_begin) - exp_begin);
    }

    std::string normalized;
    normalized.reserve(int_digits.size() + frac_digits.size() + exp_digits.size() + 5);
    if (negative) normalized += '-';
    normalized += int_digits.empty() ? std::string_view("0") : int_digits;
    if (!frac_digits.empty()) {
        normalized += '.';
        normalized += frac_digits;
    }
    if (!exp_digits.empty()) {
        normalized += exp_negative ? "e-" : "e";
        normalized += exp_digits;
    }

    // The C library's reading rounds correctly; the program never changes the C
    // locale, so "." is the decimal point whatever the regional settings.
    char* end = nullptr;
    const double value = std::strtod(normalized.c_str(), &end);
    if (std::isinf(value)) return std::nullopt; // beyond the range of double
    return value; // a value too close to zero reads as 0 or as the nearest tiny one
}

} // namespace

std::optional<double> LenientNumber(const std::string& text) {
    std::string compact;
    compact.reserve(text.size());
    for (const char c : text) {
        if (!IsSkipped(c)) compact += c;
    }
    const std::string_view view(compact);
    if (view.size() >= 2 && view[0] == '&') {
        if (view[1] == 'H' || view[1] == 'h') return ReadRadix(view.substr(2), 16);
        if (view[1] == 'O' || view[1] == 'o') return ReadRadix(view.substr(2), 8);
    }
    return ReadDecimal(view);
}

bool IsAccessCode(const std::string& entry) {
    const std::size_t first = entry.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const std::size_t last = entry.find_last_not_of(' ');
    const auto value = LenientNumber(entry.substr(first, last - first + 1));
    return value && *value == kAccessCode;
}

} // namespace tervan
