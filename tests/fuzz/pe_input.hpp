// The PE version target's input: one byte that says how the file behaves under read_at,
// then the file's bytes. Shared by the target and the corpus generator, so seeds say the
// same thing to both.
#pragma once

namespace tervan::fuzz {

enum class ReadKind : unsigned {
    // A plain file of the input's bytes.
    kPlain = 0,
    // read_at hands out at most 1 + parameter bytes per call, as a pipe or a share may.
    kShort = 1,
    // read_at call number `parameter` (counting from 0) fails with -1; the others succeed.
    kFailing = 2,
    // The bytes repeated to (1 + parameter) MiB: sizes no fuzz input could reach, such as a
    // section table of 65535 headers, from a few bytes.
    kPeriodic = 3,
};

// The kind in the low two bits, its parameter (0 to 63) in the other six.
constexpr unsigned char ModeByte(ReadKind kind, unsigned parameter) {
    return static_cast<unsigned char>(static_cast<unsigned>(kind) | (parameter & 63u) << 2);
}

constexpr ReadKind KindOf(unsigned char mode) {
    return static_cast<ReadKind>(mode & 3u);
}

constexpr unsigned ParameterOf(unsigned char mode) {
    return mode >> 2;
}

} // namespace tervan::fuzz
