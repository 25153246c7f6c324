// The numeric access code of the access screen. The entry is read the way the
// classic BASIC Val function reads text, so every spelling that the old screen
// let through ("50 38 16", "5.03816E5", "&H7B008", "503816abc", ...) still works.
#pragma once

#include <optional>
#include <string>

namespace tervan {

inline constexpr double kAccessCode = 503816;

// The number at the start of `text`, read like Val: blanks, tabs and line feeds
// are skipped anywhere, an optional sign, digits with "." as the decimal point
// whatever the regional settings, an optional exponent (E or D, either case,
// optionally signed), or instead an &H / &O literal that becomes a 16-bit or
// 32-bit signed integer. Reading stops at the first character that cannot
// continue the number; text without a leading number reads as 0. Nullopt when
// the number does not fit: a decimal beyond the range of double or an &H / &O
// literal beyond 32 bits.
std::optional<double> LenientNumber(const std::string& text);

// True when the entry, trimmed of blanks and read with LenientNumber, is exactly
// the access code. An entry that overflows is simply a wrong code.
bool IsAccessCode(const std::string& entry);

} // namespace tervan
