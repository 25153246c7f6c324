#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <windows.h>

#include "engine/update_procedure.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan {
namespace {

using testing::Exists;
using testing::GetBytes;
using testing::PutBytes;

// Puts a stand-in for WriteFile into this exe's import table, so the real
// Win32File meets what Wine does on a full disk: TRUE with a short count, then
// TRUE with nothing written.
class WriteFileLimit {
public:
    WriteFileLimit(DWORD per_call, std::uint64_t capacity) {
        per_call_ = per_call;
        capacity_ = capacity;
        slot_ = FindImportSlot();
        if (slot_ == nullptr) return;
        original_ = reinterpret_cast<WriteFileFn>(*slot_);
        Patch(reinterpret_cast<void*>(&Limited));
    }
    ~WriteFileLimit() {
        if (slot_ != nullptr) Patch(reinterpret_cast<void*>(original_));
    }
    bool installed() const { return slot_ != nullptr; }

private:
    using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

    static BOOL WINAPI Limited(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                               LPOVERLAPPED position) {
        const DWORD allowed =
            static_cast<DWORD>(std::min<std::uint64_t>({size, per_call_, capacity_}));
        DWORD done = 0;
        if (allowed > 0 && !original_(file, data, allowed, &done, position)) return FALSE;
        capacity_ -= done;
        if (written != nullptr) *written = done;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    static void** FindImportSlot() {
        auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        const auto real =
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WriteFile"));
        auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
        for (; module->Name != 0; ++module) {
            auto** slot = reinterpret_cast<void**>(base + module->FirstThunk);
            for (; *slot != nullptr; ++slot)
                if (*slot == real) return slot;
        }
        return nullptr;
    }

    void Patch(void* function) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = function;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }

    void** slot_ = nullptr;
    static inline WriteFileFn original_ = nullptr;
    static inline std::uint64_t per_call_ = 0;
    static inline std::uint64_t capacity_ = 0;
};

// Files of megabytes: a failure names sizes and the first differing offset, not bytes.
::testing::AssertionResult Holds(const std::string& path, const std::string& expected) {
    const auto actual = GetBytes(path);
    if (!actual) return ::testing::AssertionFailure() << path << " cannot be read";
    if (*actual == expected) return ::testing::AssertionSuccess();
    const auto mismatch =
        std::mismatch(actual->begin(), actual->end(), expected.begin(), expected.end());
    return ::testing::AssertionFailure()
           << path << " holds " << actual->size() << " bytes, expected " << expected.size()
           << ", first difference at " << (mismatch.first - actual->begin());
}

class ReplaceTest : public ::testing::Test {
protected:
    testing::TempFolder folder;
    Win32FileSystem fs;
    std::string source = folder / "download\\tervan58.exe";
    std::string destination = folder / "install\\tervan58.exe";
    // Over a megabyte and not a multiple of any buffer size.
    std::string new_bytes = testing::PatternBytes((3 << 20) + 123, 1);
    std::string old_bytes = testing::PatternBytes(400000, 2);

    void SetUp() override {
        ASSERT_TRUE(testing::MakeFolder(folder / "download"));
        ASSERT_TRUE(testing::MakeFolder(folder / "install"));
        ASSERT_TRUE(PutBytes(source, new_bytes));
        ASSERT_TRUE(PutBytes(destination, old_bytes));
    }

    void ExpectReplaced() {
        EXPECT_TRUE(Holds(destination, new_bytes));
        EXPECT_TRUE(Holds(source, new_bytes));
        EXPECT_FALSE(Exists(ReplacementTempPath(destination)));
    }
    void ExpectKept(const std::string& bytes) {
        EXPECT_TRUE(Holds(destination, bytes));
        EXPECT_FALSE(Exists(ReplacementTempPath(destination)));
    }
};

// The last-write time of a file, or of a file given `time` first; 0 when it cannot.
ULONGLONG WriteTime(const std::string& path, const FILETIME* time = nullptr) {
    const HANDLE file =
        CreateFileW(testing::Literal(path).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now{};
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    (!time || SetFileTime(file, nullptr, nullptr, time)) &&
                    GetFileTime(file, nullptr, nullptr, &now);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return ok ? ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart : 0;
}

TEST_F(ReplaceTest, NewerFileTakesThePlaceOfTheOldWithItsWriteTime) {
    const FILETIME made_long_ago{0x12345678, 0x01C08000};
    const ULONGLONG made = WriteTime(source, &made_long_ago);
    ASSERT_NE(made, 0u);
    EXPECT_TRUE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectReplaced();
    EXPECT_EQ(WriteTime(destination), made);
}

TEST_F(ReplaceTest, MissingDestinationFileIsCreatedAndLeftoverTempIsCleared) {
    ASSERT_TRUE(DeleteFileW(testing::Literal(destination).c_str()));
    ASSERT_TRUE(PutBytes(ReplacementTempPath(destination), "left by a run that was ended"));
    EXPECT_TRUE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectReplaced();
}

TEST_F(ReplaceTest, GreekAndEmojiFolderNames) {
    source = folder / "Λήψη 😀\\tervan58.exe";
    destination = folder / "Εγκατάσταση 🚀\\tervan58.exe";
    ASSERT_TRUE(testing::MakeFolder(folder / "Λήψη 😀"));
    ASSERT_TRUE(testing::MakeFolder(folder / "Εγκατάσταση 🚀"));
    ASSERT_TRUE(PutBytes(source, new_bytes));
    ASSERT_TRUE(PutBytes(destination, old_bytes));
    EXPECT_TRUE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectReplaced();
}

TEST_F(ReplaceTest, DestinationOpenInAnotherProcessIsKept) {
    for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
        SCOPED_TRACE(share);
        {
            testing::HeldFile held(destination, share);
            ASSERT_TRUE(held.holding());
            EXPECT_FALSE(ReplaceFileAllOrNothing(fs, source, destination));
        }
        ExpectKept(old_bytes);
    }
}

TEST_F(ReplaceTest, RunningProgramIsKept) {
    const auto program = GetBytes(testing::SelfPath());
    ASSERT_TRUE(program);
    ASSERT_TRUE(PutBytes(destination, *program));
    testing::Event ready, release;
    testing::Child running({"--wait", ready.name(), release.name()}, destination);
    ASSERT_TRUE(running.started());
    ASSERT_TRUE(ready.wait());
    EXPECT_FALSE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectKept(*program);
    release.set();
    EXPECT_EQ(running.wait(), 0u);
}

// Run once more by scripts/test-windows.sh as an unprivileged user when the suites
// run as root, who could write the file regardless.
TEST_F(ReplaceTest, ReadOnlyDestinationIsKept) {
    ASSERT_TRUE(testing::SetReadOnly(destination, true));
    EXPECT_FALSE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectKept(old_bytes);
    EXPECT_NE(GetFileAttributesW(testing::Literal(destination).c_str()) & FILE_ATTRIBUTE_READONLY,
              0u);
}

TEST_F(ReplaceTest, MissingDestinationFolderGetsNothing) {
    destination = folder / "not installed\\tervan58.exe";
    EXPECT_FALSE(ReplaceFileAllOrNothing(fs, source, destination));
    EXPECT_FALSE(Exists(folder / "not installed"));
}

TEST_F(ReplaceTest, ShortWritesAreCompleted) {
    WriteFileLimit limit(4093, UINT64_MAX);
    ASSERT_TRUE(limit.installed());
    EXPECT_TRUE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectReplaced();
}

TEST_F(ReplaceTest, FullDiskKeepsTheOldFile) {
    {
        WriteFileLimit limit(65536, 1 << 20);
        ASSERT_TRUE(limit.installed());
        EXPECT_FALSE(ReplaceFileAllOrNothing(fs, source, destination));
    }
    ExpectKept(old_bytes);
}

// A real full disk: scripts/test-windows.sh maps a 1 MiB tmpfs to a drive letter
// when it can mount one, and names it in TERVAN_FULL_DRIVE.
TEST_F(ReplaceTest, RealFullDiskKeepsTheOldFile) {
    const char* drive = std::getenv("TERVAN_FULL_DRIVE");
    if (drive == nullptr || *drive == '\0') GTEST_SKIP() << "TERVAN_FULL_DRIVE not set";
    const std::string root =
        std::string(drive) + "\\replace-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(testing::MakeFolder(root));
    destination = root + "\\tervan58.exe";
    ASSERT_TRUE(PutBytes(destination, old_bytes));
    EXPECT_FALSE(ReplaceFileAllOrNothing(fs, source, destination));
    ExpectKept(old_bytes);
    testing::RemoveTree(root);
}

} // namespace
} // namespace tervan
