// Versions through the Windows version API, the program's way to read one (version.dll
// from the system folder; without it no file has a version).
#pragma once

#include <optional>
#include <string>

#include "engine/pe_reader.hpp"

namespace tervan {

// The fixed version of the file at `path` (as Win32Path makes it) as Explorer shows it: what
// GetFileVersionInfoW and VerQueryValueW(L"\\") give. Nullopt when the file is missing,
// unreadable or has no usable version resource.
std::optional<FixedFileVersion> QueryFileVersion(const std::wstring& path);

} // namespace tervan
