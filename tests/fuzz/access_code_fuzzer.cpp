// Fuzz target for the lenient reading of the access code entry. Besides the sanitizers'
// checks, it aborts when a reading breaks what the entry's reading promises:
//  - a value is never NaN and never infinite (an overflow is nullopt);
//  - IsAccessCode holds exactly when the entry, trimmed of blanks, reads 503816;
//  - blanks, tabs and line feeds change nothing wherever they are;
//  - a character that cannot continue a number ends it, whatever follows;
//  - a leading sign before digits negates the value or leaves it;
//  - text that is a plain decimal from end to end reads as the C library reads it;
//  - an &H / &O literal is a 32-bit signed integer.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/access_code.hpp"

namespace tervan::fuzz {
namespace {

constexpr std::size_t kMaxEntry = 4096;

[[noreturn]] void Violation(const char* what, const std::string& text) {
    std::fprintf(stderr, "==access_code_fuzzer== invariant violated: %s\n  entry (%zu bytes): \"",
                 what, text.size());
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            std::fputc(c, stderr);
        } else {
            std::fprintf(stderr, "\\x%02X", c);
        }
    }
    std::fputs("\"\n", stderr);
    std::abort();
}

bool Same(const std::optional<double>& a, const std::optional<double>& b) {
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string WithoutBlanks(const std::string& text) {
    std::string compact;
    for (const char c : text) {
        if (!IsBlank(c)) compact += c;
    }
    return compact;
}

// [+-]? digits? (. digits?)? ([EeDd] [+-]? digits)?, with a digit in the mantissa, and
// nothing else; the C library's spelling of it (the exponent letter as "e") in `plain`.
bool IsPlainDecimal(const std::string& text, std::string& plain) {
    std::size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    std::size_t digits = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos)
        ++digits;
    if (pos < text.size() && text[pos] == '.') {
        for (++pos; pos < text.size() && IsDigit(text[pos]); ++pos)
            ++digits;
    }
    if (digits == 0) return false;
    plain = text.substr(0, pos);
    if (pos == text.size()) return true;
    const char letter = text[pos];
    if (letter != 'E' && letter != 'e' && letter != 'D' && letter != 'd') return false;
    plain += 'e';
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) plain += text[pos++];
    const std::size_t exponent = pos;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos)
        plain += text[pos];
    return pos > exponent && pos == text.size();
}

void Check(const std::string& text, std::size_t cut) {
    const auto value = LenientNumber(text);
    if (value && std::isnan(*value)) Violation("a NaN", text);
    if (value && std::isinf(*value)) Violation("an infinite value", text);

    // Trimmed of spaces only, as IsAccessCode trims.
    const std::size_t first = text.find_first_not_of(' ');
    const std::string trimmed = first == std::string::npos
                                    ? std::string()
                                    : text.substr(first, text.find_last_not_of(' ') - first + 1);
    const auto trimmed_value = LenientNumber(trimmed);
    const bool reads_code = !trimmed.empty() && trimmed_value && *trimmed_value == kAccessCode;
    if (IsAccessCode(text) != reads_code) {
        Violation(reads_code ? "the trimmed entry reads 503816 but is not the access code"
                             : "accepted as the access code without reading 503816",
                  text);
    }
    if (!Same(value, trimmed_value)) Violation("trimming changes the value", text);

    for (const char blank : {' ', '\t', '\n'}) {
        std::string spaced = text;
        spaced.insert(cut, 1, blank);
        if (!Same(LenientNumber(spaced), value)) Violation("a blank changes the value", spaced);
    }

    // 'z' continues no number, decimal or &H / &O.
    std::string stopped = text.substr(0, cut);
    const auto head_value = LenientNumber(stopped);
    stopped += 'z';
    stopped.append(text, cut, std::string::npos);
    if (!Same(LenientNumber(stopped), head_value)) {
        Violation("text after a character that ends the number changes the value", stopped);
    }

    const std::string compact = WithoutBlanks(text);
    if (compact.size() >= 2 && (compact[0] == '-' || compact[0] == '+') &&
        (IsDigit(compact[1]) || compact[1] == '.')) {
        const auto unsigned_value = LenientNumber(compact.substr(1));
        const bool negate = compact[0] == '-';
        if (unsigned_value.has_value() != value.has_value() ||
            (value && *value != (negate ? -*unsigned_value : *unsigned_value))) {
            Violation("a sign does more than negate", text);
        }
    }

    std::string plain;
    if (IsPlainDecimal(compact, plain)) {
        const double expected = std::strtod(plain.c_str(), nullptr);
        if (!Same(value, std::isinf(expected) ? std::nullopt : std::optional<double>(expected))) {
            Violation("a plain decimal reads otherwise than strtod reads it", text);
        }
    }

    if (compact.size() >= 2 && compact[0] == '&' &&
        (compact[1] == 'H' || compact[1] == 'h' || compact[1] == 'O' || compact[1] == 'o') &&
        value &&
        (*value != std::trunc(*value) || *value < -2147483648.0 || *value > 2147483647.0)) {
        Violation("an &H / &O literal that is not a 32-bit integer", text);
    }
}

} // namespace
} // namespace tervan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > tervan::fuzz::kMaxEntry) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Where blanks and the stop character go: the last byte picks it, so the fuzzer can move
    // it without changing the rest.
    const std::size_t cut = size == 0 ? 0 : data[size - 1] % (size + 1);
    tervan::fuzz::Check(text, cut);
    return 0;
}
