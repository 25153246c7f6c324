// The engine's file operations on Windows.
#pragma once

#include <memory>
#include <string>

#include "engine/file_system.hpp"

namespace tervan {

// A program path (UTF-8, "\" separators) as the wide Win32 file calls want it.
// Paths too long for MAX_PATH get the "\\?\" (or "\\?\UNC\") prefix after being
// made absolute, because the prefixed form is taken literally: no "." or ".."
// resolution, no "/" separators. Text with an embedded NUL, or longer than the 32,767
// characters Windows takes, gives an empty path, which no call opens, rather than a
// shorter path that names some other file.
std::wstring Win32Path(const std::string& path);

// Waits out files that are busy for a moment (a virus scanner's look at a new file),
// out of one allowance of about 2 s, which starts full.
class Win32FileSystem : public FileSystem {
public:
    std::unique_ptr<File> open_read(const std::string& path) override;
    bool exists(const std::string& path) override;
    NewFile create_new(const std::string& path) override;
    bool folder_refuses_new_files(const std::string& path) override;
    bool rename_replace(const std::string& from, const std::string& to) override;
    bool remove(const std::string& path) override;
    void start_wait_allowance(unsigned long milliseconds) override;
    // Through the Windows version API, which is what Explorer shows the user, once
    // the portable reader has found an intact version resource.
    std::string file_version_text(const std::string& path) override;
    // Through WinVerifyTrust and the signers' certificates (publisher.hpp).
    PublisherCheck publisher_check(const std::string& installed,
                                   const std::string& download) override;
    // Through the Restart Manager and the running processes (running_program.hpp).
    bool program_runs_from(const std::string& path) override;

private:
    static constexpr unsigned long kWaitAllowanceMs = 2000;
    template <typename Try> unsigned long retried_while_busy(Try attempt);

    unsigned long wait_left_ms_ = kWaitAllowanceMs;
};

} // namespace tervan
