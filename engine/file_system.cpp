#include "engine/file_system.hpp"

#include "engine/file_version.hpp"

namespace tervan {

std::string FileSystem::file_version_text(const std::string& path) {
    const auto file = open_read(path);
    return file ? FileVersionText(*file) : std::string();
}

PublisherCheck FileSystem::publisher_check(const std::string& installed, const std::string&) {
    const auto file = open_read(installed);
    if (!file) return exists(installed) ? PublisherCheck::Unreadable : PublisherCheck::Passed;
    return HasAuthenticodeSignature(*file) ? PublisherCheck::Refused : PublisherCheck::Passed;
}

} // namespace tervan
