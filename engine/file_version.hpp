// Reading the fixed file version of a Windows executable (PE32 or PE32+) without
// the Windows version API: the headers, the resource directory and the version
// block are read through File::read_at, never the whole file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/file_system.hpp"

namespace tervan {

// dwFileVersionMS and dwFileVersionLS of the VS_FIXEDFILEINFO that
// VerQueryValueW(L"\\") gives for the file's version resource.
struct FixedFileVersion {
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
};

// Nullopt when the file is not a readable PE or has no usable version information.
std::optional<FixedFileVersion> ReadFixedFileVersion(File& file);

// Whether the file carries an Authenticode signature (a certificate table), intact or
// not; false for anything that is not a PE file.
bool HasAuthenticodeSignature(File& file);

// "A.B.C.D": the four 16-bit parts in decimal.
std::string VersionText(FixedFileVersion version);

// The version text of a file, empty when it has no version information.
std::string FileVersionText(File& file);

// A version text split into its four parts; nullopt for empty or malformed text.
std::optional<std::array<std::uint16_t, 4>> ParseVersionText(const std::string& text);

// True when `installed` is older than `downloaded`: the four parts compared as
// numbers, the first differing part deciding. Text without a version sorts below
// every version, so a missing installed file is always replaced and a download
// without version information never replaces anything.
bool VersionIsOlder(const std::string& installed, const std::string& downloaded);

} // namespace tervan
