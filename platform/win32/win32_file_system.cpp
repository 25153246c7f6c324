#include "platform/win32/win32_file_system.hpp"

#include <windows.h>

#include <algorithm>

#include "engine/file_version.hpp"
#include "engine/pe_reader.hpp"
#include "platform/win32/publisher.hpp"
#include "platform/win32/running_program.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/version_info.hpp"

namespace tervan {

namespace {

std::wstring PrefixedWhenLong(const std::string& path) {
    if (path.find('\0') != std::string::npos) return {};
    std::wstring wide = Widen(path);
    // Already literal ("\\?\") or a device ("\\.\"): nothing to add.
    if (wide.empty() || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) return wide;

    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return wide;
    full.resize(length);
    // Short paths stay as given, so that their meaning does not change at all.
    if (full.size() < MAX_PATH) return wide;

    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return wide;
}

// The longest name Windows accepts; Wine wraps a longer one around to a shorter path,
// which names some other file.
constexpr std::size_t kLongestPath = 32767;

} // namespace

std::wstring Win32Path(const std::string& path) {
    std::wstring result = PrefixedWhenLong(path);
    return result.size() > kLongestPath ? std::wstring() : result;
}

namespace {

// The largest single ReadFile/WriteFile request; callers loop anyway.
constexpr DWORD kMaxTransfer = 1u << 30;

// Every transfer first moves the file pointer to its own offset, so reads never move
// the point where the next write appends. Seek, then transfer: under Wine a transfer
// with an OVERLAPPED offset costs a server round trip, about nine times a plain read,
// and for the 1 MiB writes of a copy about half as much again as the write itself.
class Win32File final : public File {
public:
    Win32File(HANDLE handle, std::uint64_t end) : handle_(handle), end_(end) {}
    ~Win32File() override { CloseHandle(handle_); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        const DWORD wanted = size < kMaxTransfer ? static_cast<DWORD>(size) : kMaxTransfer;
        DWORD got = 0;
        if (!seek(offset) || !ReadFile(handle_, buffer, wanted, &got, nullptr)) return -1;
        return got;
    }

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const DWORD wanted = size < kMaxTransfer ? static_cast<DWORD>(size) : kMaxTransfer;
            DWORD written = 0;
            // Wine reports success with a short count when the disk fills up; the
            // retry of the rest then writes nothing, which ends the loop as a failure.
            if (!seek(end_) || !WriteFile(handle_, bytes, wanted, &written, nullptr) ||
                written == 0)
                return false;
            bytes += written;
            size -= written;
            end_ += written;
        }
        return true;
    }

    bool flush() override { return FlushFileBuffers(handle_) != 0; }

    // 100-nanosecond intervals since 1601, as FILETIME counts them.
    std::optional<std::int64_t> last_write_time() override {
        FILETIME time;
        if (!GetFileTime(handle_, nullptr, nullptr, &time)) return std::nullopt;
        return static_cast<std::int64_t>(std::uint64_t{time.dwHighDateTime} << 32 |
                                         time.dwLowDateTime);
    }

    void set_last_write_time(std::int64_t value) override {
        const auto bits = static_cast<std::uint64_t>(value);
        const FILETIME time{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
        SetFileTime(handle_, nullptr, nullptr, &time);
    }

private:
    bool seek(std::uint64_t offset) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) != 0;
    }

    HANDLE handle_;
    std::uint64_t end_;
};

bool IsRegularDiskFile(HANDLE handle) {
    // The standard information alone: under Wine it is two orders of magnitude cheaper
    // than GetFileInformationByHandle, which the probe and every version read pay.
    FILE_STANDARD_INFO info;
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info) &&
           !info.Directory;
}

// Virus scanners and the search indexer open a file for a moment just after it was
// written, read or renamed, and meanwhile creating, renaming or deleting it fails with
// one of these errors although nothing is wrong. A lock that lasts (a running
// Tervan58) fails the same way, so the waiting is bounded.
bool MayBeBusy(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// A read-only file or a folder refuses to be replaced or deleted for good: no use
// waiting for it.
bool RefusesForGood(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

// Nothing at all has that name, not even a file that is still being deleted (whose
// name Windows keeps, refusing access, until the last program holding it lets go).
bool NothingNamed(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetLastError() == ERROR_FILE_NOT_FOUND;
}

// What one attempt came to: ERROR_SUCCESS or the error it failed with, and whether
// trying again a little later may help.
struct Attempt {
    DWORD error = ERROR_SUCCESS;
    bool busy = false;
};

// The attempt that `done` tells of, its error taken at once.
Attempt AttemptOf(bool done) {
    if (done) return {};
    const DWORD error = GetLastError();
    return {error, MayBeBusy(error)};
}

constexpr DWORD kFirstWaitMs = 5;

} // namespace

// Makes `attempt` again while it comes out busy, after waits doubling from 5 ms, until
// the allowance is spent. Returns the last attempt's error, ERROR_SUCCESS when done.
template <typename Try> unsigned long Win32FileSystem::retried_while_busy(Try attempt) {
    for (DWORD wait = kFirstWaitMs;; wait *= 2) {
        const Attempt made = attempt();
        if (!made.busy || wait_left_ms_ == 0) return made.error;
        wait = std::min(wait, wait_left_ms_);
        Sleep(wait);
        wait_left_ms_ -= wait;
    }
}

void Win32FileSystem::start_wait_allowance(unsigned long milliseconds) {
    wait_left_ms_ = milliseconds;
}

std::unique_ptr<File> Win32FileSystem::open_read(const std::string& path) {
    const HANDLE handle = CreateFileW(Win32Path(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // Windows already refuses folders without FILE_FLAG_BACKUP_SEMANTICS; this also
    // keeps out devices such as "CON" or named pipes.
    if (!IsRegularDiskFile(handle)) {
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32File>(handle, 0);
}

bool Win32FileSystem::exists(const std::string& path) {
    const std::wstring name = Win32Path(path);
    if (GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
           error != ERROR_INVALID_NAME;
}

NewFile Win32FileSystem::create_new(const std::string& path) {
    const std::wstring name = Win32Path(path);
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool refused = false;
    // No sharing: nobody else has any business with a file that is still being written.
    const DWORD error = retried_while_busy([&] {
        handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        Attempt made = AttemptOf(handle != INVALID_HANDLE_VALUE);
        // Access denied with no file of that name in the way: the folder does not let
        // this user create files (Program Files with a limited token), and waiting
        // changes nothing. With a file in the way, it is a leftover that was just
        // deleted while a scanner still holds it: Windows refuses access until the
        // scanner lets go, and that is worth the wait. (Wine answers a create over such
        // a file with ERROR_FILE_EXISTS at once, so under Wine only injected faults
        // reach this wait.)
        refused = made.error == ERROR_ACCESS_DENIED && NothingNamed(name);
        if (refused) made.busy = false;
        return made;
    });
    if (error == ERROR_SUCCESS) return {std::make_unique<Win32File>(handle, 0)};
    return {nullptr, refused};
}

bool Win32FileSystem::folder_refuses_new_files(const std::string& path) {
    // A file of a name nobody uses, gone again when closed (also should this process
    // end meanwhile): whether the folder would take it.
    const std::wstring probe = Win32Path(path + ".probe");
    const HANDLE handle =
        CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    return GetLastError() == ERROR_ACCESS_DENIED && NothingNamed(probe);
}

bool Win32FileSystem::rename_replace(const std::string& from, const std::string& to) {
    const std::wstring target = Win32Path(to);
    // Windows refuses to replace a read-only file, Wine's MoveFileExW replaces it:
    // checking first gives the Windows answer on both.
    if (RefusesForGood(target)) return false;
    const std::wstring source = Win32Path(from);
    // Within one volume this only changes folder entries; the file system logs the
    // change, but it may reach the disk after the call returns. MOVEFILE_WRITE_THROUGH
    // waits only for a move that copies to another volume.
    return retried_while_busy([&] {
               return AttemptOf(MoveFileExW(source.c_str(), target.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
           }) == ERROR_SUCCESS;
}

bool Win32FileSystem::remove(const std::string& path) {
    const std::wstring target = Win32Path(path);
    const auto attempt = [&] { return AttemptOf(DeleteFileW(target.c_str())); };
    const DWORD error = RefusesForGood(target) ? attempt().error : retried_while_busy(attempt);
    if (error == ERROR_SUCCESS) return true;
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
           GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string Win32FileSystem::file_version_text(const std::string& path) {
    // The portable reader looks first: it reads only the few blocks it needs and turns
    // down a damaged version resource that the version API may read beyond (Wine's
    // does, and faults). On every intact file the two agree.
    const auto file = open_read(path);
    if (!file || !ReadFixedFileVersion(*file)) return {};
    const auto version = QueryFileVersion(Win32Path(path));
    return version ? VersionText(*version) : std::string();
}

PublisherCheck Win32FileSystem::publisher_check(const std::string& installed,
                                                const std::string& download) {
    // A missing or unsigned install takes any download and an unreadable one none;
    // a signed one takes its publisher's.
    const PublisherCheck portable = FileSystem::publisher_check(installed, download);
    if (portable != PublisherCheck::Refused) return portable;
    return CheckPublisher(Win32Path(installed), Win32Path(download));
}

bool Win32FileSystem::program_runs_from(const std::string& path) {
    return ProgramRunsFrom(Win32Path(path));
}

} // namespace tervan
