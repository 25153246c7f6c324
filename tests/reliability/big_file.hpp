// Files of hundreds of MiB whose bytes follow from a seed and the offset, so that
// the kill check writes and compares them piece by piece, byte for byte, without
// holding them in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tervan::reliability {

struct PatternFile {
    std::uint64_t seed;
    std::uint64_t size;
};

// The bytes of `file` from `offset` (a multiple of 8) on, `count` of them.
void FillPattern(const PatternFile& file, std::uint64_t offset, char* out, std::size_t count);

bool WritePattern(const std::wstring& path, const PatternFile& file);

enum class Holds { First, Second, Neither, Nothing };

struct Comparison {
    Holds holds;
    std::uint64_t size; // of the file found
};

// Which of two pattern files `path` holds, compared in full.
Comparison Compare(const std::wstring& path, const PatternFile& first, const PatternFile& second);

} // namespace tervan::reliability
