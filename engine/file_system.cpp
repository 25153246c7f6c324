#include "engine/file_system.hpp"

#include "engine/pe_reader.hpp"

namespace tervan {

std::int64_t ReadFull(File& file, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t got = file.read_at(offset + done, bytes + done, size - done);
        if (got < 0 || static_cast<std::uint64_t>(got) > size - done) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

PublisherCheck FileSystem::publisher_check(const std::string& installed, const std::string&) {
    const auto file = open_read(installed);
    if (!file) return exists(installed) ? PublisherCheck::Unreadable : PublisherCheck::Passed;
    return HasAuthenticodeSignature(*file) ? PublisherCheck::Refused : PublisherCheck::Passed;
}

} // namespace tervan
