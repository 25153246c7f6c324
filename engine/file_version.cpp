#include "engine/file_version.hpp"

namespace tervan {

std::string VersionText(FixedFileVersion version) {
    return std::to_string(version.ms >> 16) + "." + std::to_string(version.ms & 0xFFFF) + "." +
           std::to_string(version.ls >> 16) + "." + std::to_string(version.ls & 0xFFFF);
}

std::optional<std::array<std::uint16_t, 4>> ParseVersionText(const std::string& text) {
    std::array<std::uint16_t, 4> parts{};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        std::uint32_t value = 0;
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 5) {
            value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0');
            ++pos;
        }
        if (pos == start || value > 0xFFFF) return std::nullopt;
        parts[i] = static_cast<std::uint16_t>(value);
    }
    if (pos != text.size()) return std::nullopt;
    return parts;
}

bool VersionIsOlder(const std::string& installed, const std::string& downloaded) {
    const auto old_parts = ParseVersionText(installed);
    const auto new_parts = ParseVersionText(downloaded);
    if (!new_parts) return false;
    if (!old_parts) return true;
    return *old_parts < *new_parts; // lexicographic over the numbers
}

} // namespace tervan
