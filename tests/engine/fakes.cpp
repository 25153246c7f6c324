#include "tests/engine/fakes.hpp"

#include <algorithm>
#include <cstring>

namespace tervan::testing {

namespace {

class StringFile : public File {
public:
    explicit StringFile(std::string& bytes) : bytes_(bytes) {}
    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        if (offset >= bytes_.size()) return 0;
        const std::size_t n = std::min<std::size_t>(size, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    bool write(const void* data, std::size_t size) override {
        bytes_.append(static_cast<const char*>(data), size);
        return true;
    }
    bool flush() override { return true; }

private:
    std::string& bytes_;
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

std::unique_ptr<File> MemoryFileSystem::open_read(const std::string& path) {
    const auto it = files.find(path);
    if (it == files.end() || unreadable.count(path)) return nullptr;
    return std::make_unique<StringFile>(it->second);
}

NewFile MemoryFileSystem::create_new(const std::string& path) {
    if (files.count(path) || !folders.count(FolderOf(path))) return {};
    if (folder_refuses_new_files(path)) return {nullptr, true};
    return {std::make_unique<StringFile>(files[path])};
}

bool MemoryFileSystem::folder_refuses_new_files(const std::string& path) {
    return refusing.count(FolderOf(path)) != 0;
}

bool MemoryFileSystem::rename_replace(const std::string& from, const std::string& to) {
    if (!files.count(from) || read_only.count(to)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
}

bool MemoryFileSystem::remove(const std::string& path) {
    if (stuck.count(path)) return false;
    files.erase(path);
    return true;
}

std::string MemoryFileSystem::file_version_text(const std::string& path) {
    const auto it = files.find(path);
    if (it == files.end() || it->second.rfind("version:", 0) != 0) return {};
    return it->second.substr(8, it->second.find('\n') - 8);
}

} // namespace tervan::testing
