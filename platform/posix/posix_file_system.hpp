// The engine's file operations on POSIX, for the native build and its tests.
// Program paths use "\" between folders; here it stands for "/".
#pragma once

#include "engine/file_system.hpp"

namespace tervan {

class PosixFileSystem : public FileSystem {
public:
    std::unique_ptr<File> open_read(const std::string& path) override;
    bool exists(const std::string& path) override;
    NewFile create_new(const std::string& path) override;
    bool rename_replace(const std::string& from, const std::string& to) override;
    bool remove(const std::string& path) override;
    // By the portable reader.
    std::string file_version_text(const std::string& path) override;
};

// The program's path text as a POSIX path.
std::string ToPosixPath(const std::string& path);

} // namespace tervan
