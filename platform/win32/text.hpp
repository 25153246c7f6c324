// The one place where UTF-8 text of the portable code meets the UTF-16 of the
// wide Win32 calls.
#pragma once

#include <string>

namespace tervan {

// Invalid UTF-8 turns into U+FFFD rather than failing: the texts come from the
// program itself or from Windows, and a path with a replaced character simply
// does not open.
std::wstring Widen(const std::string& utf8);

// Unpaired surrogates (possible in NTFS names) turn into U+FFFD.
std::string Narrow(const std::wstring& utf16);

} // namespace tervan
