// Version resources through the Windows version API (version.dll from the system
// folder; without it every version text is empty).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "engine/pe_reader.hpp"

namespace tervan {

// "A.B.C.D" of the file's fixed version information, as Explorer shows it; empty
// when the file is missing, unreadable or has no usable version resource.
std::string FileVersionText(const std::string& path);

// The fixed version in a version information block (the whole VS_VERSIONINFO).
// VerQueryValueW may write into the block, hence not const. Nullopt when the root
// block is missing, too short or does not lie inside the `size` bytes.
std::optional<FixedFileVersion> QueryFixedVersion(void* block, std::size_t size);

} // namespace tervan
