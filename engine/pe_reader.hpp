// Reading a Windows executable (PE32 or PE32+) without the Windows API: its fixed file
// version, found as the version API finds it, and whether it carries an Authenticode
// signature. The headers, the resource directory and the version block are read through
// File::read_at, never the whole file.
#pragma once

#include <cstdint>
#include <optional>

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

} // namespace tervan
