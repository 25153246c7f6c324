// A file system that passes every call on to another: tests derive from it and
// override only the calls they tamper with or watch.
#pragma once

#include "engine/file_system.hpp"

namespace tervan::testing {

class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}

    std::unique_ptr<File> open_read(const std::string& path) override {
        return inner_.open_read(path);
    }
    bool exists(const std::string& path) override { return inner_.exists(path); }
    NewFile create_new(const std::string& path) override { return inner_.create_new(path); }
    bool folder_refuses_new_files(const std::string& path) override {
        return inner_.folder_refuses_new_files(path);
    }
    bool rename_replace(const std::string& from, const std::string& to) override {
        return inner_.rename_replace(from, to);
    }
    bool remove(const std::string& path) override { return inner_.remove(path); }
    void start_wait_allowance(unsigned long milliseconds) override {
        inner_.start_wait_allowance(milliseconds);
    }
    std::string file_version_text(const std::string& path) override {
        return inner_.file_version_text(path);
    }
    PublisherCheck publisher_check(const std::string& installed,
                                   const std::string& download) override {
        return inner_.publisher_check(installed, download);
    }
    bool program_runs_from(const std::string& path) override {
        return inner_.program_runs_from(path);
    }

protected:
    FileSystem& inner_;
};

} // namespace tervan::testing
