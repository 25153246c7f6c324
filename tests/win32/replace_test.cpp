#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <windows.h>

#include "engine/replacement.hpp"
#include "engine/update_procedure.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan {
namespace {

using testing::Exists;
using testing::GetBytes;
using testing::PutBytes;

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
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Replaced);
    ExpectReplaced();
    EXPECT_EQ(WriteTime(destination), made);
}

TEST_F(ReplaceTest, MissingDestinationFileIsCreatedAndLeftoverTempIsCleared) {
    ASSERT_TRUE(DeleteFileW(testing::Literal(destination).c_str()));
    ASSERT_TRUE(PutBytes(ReplacementTempPath(destination), "left by a run that was ended"));
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Replaced);
    ExpectReplaced();
}

TEST_F(ReplaceTest, GreekAndEmojiFolderNames) {
    source = folder / "Λήψη 😀\\tervan58.exe";
    destination = folder / "Εγκατάσταση 🚀\\tervan58.exe";
    ASSERT_TRUE(testing::MakeFolder(folder / "Λήψη 😀"));
    ASSERT_TRUE(testing::MakeFolder(folder / "Εγκατάσταση 🚀"));
    ASSERT_TRUE(PutBytes(source, new_bytes));
    ASSERT_TRUE(PutBytes(destination, old_bytes));
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Replaced);
    ExpectReplaced();
}

// Run once more by scripts/test-windows.sh as an unprivileged user when the suites
// run as root, who could write the file regardless.
TEST_F(ReplaceTest, ReadOnlyDestinationIsKept) {
    ASSERT_TRUE(testing::SetReadOnly(destination, true));
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Failed);
    ExpectKept(old_bytes);
    EXPECT_NE(GetFileAttributesW(testing::Literal(destination).c_str()) & FILE_ATTRIBUTE_READONLY,
              0u);
}

TEST_F(ReplaceTest, MissingDestinationFolderGetsNothing) {
    destination = folder / "not installed\\tervan58.exe";
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Failed);
    EXPECT_FALSE(Exists(folder / "not installed"));
}

} // namespace
} // namespace tervan
