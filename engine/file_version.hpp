// Version texts ("A.B.C.D") and which of two versions is the newer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/file_system.hpp"
#include "engine/pe_reader.hpp"

namespace tervan {

// "A.B.C.D": the four 16-bit parts in decimal.
std::string VersionText(FixedFileVersion version);

// The version text of a file by the portable reader, empty when it has no version
// information. Inline, so that the exe, which reads versions through the Windows API, does
// not hold it: its linker keeps every function of an object file it links (the unwind
// tables refer to each).
inline std::string FileVersionText(File& file) {
    const auto version = ReadFixedFileVersion(file);
    return version ? VersionText(*version) : std::string();
}

// A version text split into its four parts; nullopt for empty or malformed text.
std::optional<std::array<std::uint16_t, 4>> ParseVersionText(const std::string& text);

// True when `installed` is older than `downloaded`: the four parts compared as
// numbers, the first differing part deciding. Text without a version sorts below
// every version, so a missing installed file is always replaced and a download
// without version information never replaces anything.
bool VersionIsOlder(const std::string& installed, const std::string& downloaded);

} // namespace tervan
