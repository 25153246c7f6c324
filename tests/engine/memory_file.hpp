// An in-memory File for tests: a byte vector, with a count of the bytes read;
// and the version the reader finds in a File, as text.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.hpp"
#include "engine/file_version.hpp"
#include "engine/pe_reader.hpp"

namespace tervan::testing {

class MemoryFile : public File {
public:
    explicit MemoryFile(std::vector<unsigned char> bytes = {}) : bytes_(std::move(bytes)) {}

    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        if (offset >= bytes_.size()) return 0;
        const std::size_t n =
            std::min<std::uint64_t>(size, bytes_.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        bytes_read_ += n;
        return static_cast<std::int64_t>(n);
    }
    bool write(const void* data, std::size_t size) override {
        const auto* p = static_cast<const unsigned char*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
        return true;
    }
    bool flush() override { return true; }

    const std::vector<unsigned char>& bytes() const { return bytes_; }
    std::uint64_t bytes_read() const { return bytes_read_; }

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t bytes_read_ = 0;
};

inline std::optional<std::string> VersionOf(File& file) {
    const auto version = ReadFixedFileVersion(file);
    if (!version) return std::nullopt;
    return VersionText(*version);
}

} // namespace tervan::testing
