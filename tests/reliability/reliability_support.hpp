// What the reliability suites share: a recording update window, a file system
// that lets another process interfere just before the nth read of the download,
// snapshots of folder trees, and the helper modes this exe runs in as the
// "other process".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "engine/file_system.hpp"
#include "engine/update_procedure.hpp"
#include "tests/engine/forwarding_file_system.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan::reliability {

// The update window as the update procedure sees it, with everything it was told.
class RecordingView final : public UpdateView {
public:
    RecordingView(std::string destination, std::string source);

    std::string caption(Caption which) override { return captions[which]; }
    void set_caption(Caption which, const std::string& text) override { captions[which] = text; }
    void show_message(const std::string& prompt, const std::string& title) override {
        messages.emplace_back(prompt, title);
    }
    void choose_source() override { ++source_choices; }
    void exit_program() override { ++exits; }
    ElevatedStep replace_as_administrator(const std::string&, const std::string&) override {
        ++administrator_steps;
        return ElevatedStep::NotRun;
    }

    // "prompt / title" of every message, in order, for failure output.
    std::string transcript() const;

    std::map<Caption, std::string> captions;
    std::vector<std::pair<std::string, std::string>> messages;
    int source_choices = 0;
    int exits = 0;
    int administrator_steps = 0;
};

// Win32FileSystem, except that `action` runs once, just before the nth read of the
// download during its replacement (which begins with the removal of a leftover
// temporary file: only the replacement removes files).
class InterferingFileSystem final : public testing::ForwardingFileSystem {
public:
    InterferingFileSystem(FileSystem& inner, std::string source, unsigned nth,
                          std::function<void()> action);

    std::unique_ptr<File> open_read(const std::string& path) override;
    bool remove(const std::string& path) override {
        replacing_ = true;
        return inner_.remove(path);
    }

    // Reads of the download during the replacement so far.
    unsigned reads() const { return reads_; }
    bool acted() const { return acted_; }

private:
    class Reader;
    void before_read();

    std::string source_;
    unsigned nth_;
    std::function<void()> action_;
    bool replacing_ = false;
    unsigned reads_ = 0;
    bool acted_ = false;
};

// Bytes compared by digest: the fault suites handle files of megabytes.
struct Digest {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    bool operator==(const Digest&) const = default;
};
Digest DigestOf(const std::string& bytes);
// Nullopt when the file cannot be read.
std::optional<Digest> DigestOfFile(const std::string& path);

// Every file and folder below `folder` by relative path: a folder as "<folder>",
// a file by size and digest, an unreadable file as "<unreadable>".
using Tree = std::map<std::string, std::string>;
Tree TreeOf(const std::string& folder);
// Only the names directly in a folder, for folders such as C:\ that hold much.
std::vector<std::string> NamesIn(const std::string& folder);
// The differences between two trees, one per line; empty when they are equal.
std::string TreeDifference(const Tree& before, const Tree& after);
std::string EntryFor(const std::string& bytes);

// Another process that does something to a file on request; see RunReliabilityMode.
// `--try ACTION PATH`: ACTION is delete, rename, overwrite or truncate; the exit
// code is 0 when it was done, else the Windows error.
DWORD TryInAnotherProcess(const std::string& action, const std::string& path);

// Another process holding an exclusive lock on the whole file until this goes away.
class LockedFile {
public:
    explicit LockedFile(const std::string& path);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    // 0 once the other process holds the lock, else why not.
    DWORD lock_error() const { return error_; }

private:
    testing::Event ready_, release_;
    testing::Child child_;
    DWORD error_ = ERROR_GEN_FAILURE;
};

// Handles this exe's own helper modes; nullopt when started as a test run.
std::optional<int> RunReliabilityMode();

} // namespace tervan::reliability
