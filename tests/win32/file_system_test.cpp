#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <windows.h>
#include <winioctl.h>

#include "engine/update_procedure.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan {
namespace {

using testing::Exists;
using testing::GetBytes;
using testing::HeldFile;
using testing::PutBytes;
using testing::TempFolder;

std::string ReadAt(File& file, std::uint64_t offset, std::size_t size) {
    std::string bytes(size, '\0');
    const auto got = file.read_at(offset, bytes.data(), size);
    if (got < 0) return "<error>";
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

TEST(TextTest, Utf8AndUtf16RoundTrip) {
    const std::string text = "C:\\Ωμέγα\\😀\\ﾃﾙﾊﾞﾝ";
    const std::wstring wide = Widen(text);
    EXPECT_EQ(wide, L"C:\\Ωμέγα\\\U0001F600\\ﾃﾙﾊﾞﾝ");
    EXPECT_EQ(wide.size(), 3u + 5 + 1 + 2 + 1 + 5); // the emoji is a surrogate pair
    EXPECT_EQ(Narrow(wide), text);
    EXPECT_EQ(Widen(""), L"");
    EXPECT_EQ(Narrow(L""), "");
    EXPECT_EQ(Widen("a\xFFz"), L"a\uFFFDz");
}

// Wine has no MAX_PATH limit, so the suites below pass with or without the prefix;
// only the form of the path shows whether Windows would get a usable one.
TEST(Win32PathTest, OnlyLongPathsBecomeLiteral) {
    EXPECT_EQ(Win32Path("C:\\Tervan58\\tervan58.exe"), L"C:\\Tervan58\\tervan58.exe");
    EXPECT_EQ(Win32Path("C:\\Tervan58\\..\\b"), L"C:\\Tervan58\\..\\b");
    std::string deep;
    for (int i = 0; i < 5; ++i)
        deep += "\\" + std::string(60, 'a' + i);
    const std::wstring wide = Widen(deep);
    EXPECT_EQ(Win32Path("C:\\Tervan58\\.." + deep + "\\.\\tervan58.exe"),
              L"\\\\?\\C:" + wide + L"\\tervan58.exe");
    EXPECT_EQ(Win32Path("\\\\server\\share" + deep), L"\\\\?\\UNC\\server\\share" + wide);
    EXPECT_EQ(Win32Path("\\\\?\\C:" + deep), L"\\\\?\\C:" + wide);
    EXPECT_EQ(Win32Path(std::string("C:\\a\0b", 6)), L"");
}

TEST(Win32FileSystemTest, ReadsAtOffsetsAndReportsTheEnd) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "a.bin", "0123456789"));
    Win32FileSystem fs;
    auto file = fs.open_read(folder / "a.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAt(*file, 3, 4), "3456");
    EXPECT_EQ(ReadAt(*file, 8, 10), "89");
    EXPECT_EQ(ReadAt(*file, 10, 4), "");
    EXPECT_EQ(ReadAt(*file, 1000, 4), "");
    EXPECT_EQ(ReadAt(*file, 0, 2), "01");
}

TEST(Win32FileSystemTest, OffsetsBeyondFourGigabytesAreNotCut) {
    TempFolder folder;
    const std::string path = folder / "sparse.bin";
    const HANDLE handle = CreateFileW(testing::Literal(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    const std::uint64_t beyond = (std::uint64_t{1} << 32) + 16;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(beyond);
    at.OffsetHigh = static_cast<DWORD>(beyond >> 32);
    DWORD written = 0;
    const bool wrote = WriteFile(handle, "HIGH", 4, &written, &at);
    CloseHandle(handle);
    ASSERT_TRUE(wrote && written == 4);

    Win32FileSystem fs;
    auto file = fs.open_read(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadAt(*file, beyond, 8), "HIGH");
    EXPECT_EQ(ReadAt(*file, 16, 4), std::string(4, '\0'));
}

TEST(Win32FileSystemTest, OpenReadTakesOnlyExistingRegularFiles) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "a.txt", "a"));
    ASSERT_TRUE(testing::MakeFolder(folder / "sub"));
    Win32FileSystem fs;
    EXPECT_NE(fs.open_read(folder / "a.txt"), nullptr);
    EXPECT_EQ(fs.open_read(folder / "sub"), nullptr);
    EXPECT_EQ(fs.open_read(folder / "missing.txt"), nullptr);
    EXPECT_EQ(fs.open_read(folder / "nofolder\\a.txt"), nullptr);
    EXPECT_EQ(fs.open_read("NUL"), nullptr);
    EXPECT_EQ(fs.open_read(""), nullptr);
    // Cut at the NUL this would name a.txt.
    EXPECT_EQ(fs.open_read(folder / std::string("a.txt\0.bak", 10)), nullptr);
}

TEST(Win32FileSystemTest, CreateNewRefusesAnExistingFileAndAppendsAfterReads) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "old.txt", "old"));
    Win32FileSystem fs;
    EXPECT_EQ(fs.create_new(folder / "old.txt").file, nullptr);
    EXPECT_EQ(GetBytes(folder / "old.txt"), "old");

    auto file = fs.create_new(folder / "new.txt").file;
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->write("abc", 3));
    EXPECT_EQ(ReadAt(*file, 0, 1), "a");
    ASSERT_TRUE(file->write("def", 3));
    EXPECT_EQ(ReadAt(*file, 0, 10), "abcdef");
    EXPECT_TRUE(file->flush());
    file.reset();
    EXPECT_EQ(GetBytes(folder / "new.txt"), "abcdef");
}

// A folder that takes no new files (as Program Files takes none from a program
// without administrator rights) says so, also when asked beside a file that is in the
// way; a missing folder or a file in the way is another failure, which administrator
// rights would not mend. Asking leaves nothing behind.
TEST(Win32FileSystemTest, CreateNewTellsAFolderThatRefuses) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "taken", "x"));
    Win32FileSystem fs;
    EXPECT_FALSE(fs.create_new(folder / "taken").folder_refuses);
    EXPECT_FALSE(fs.create_new(folder / "missing\\new").folder_refuses);
    EXPECT_FALSE(fs.folder_refuses_new_files(folder / "taken"));
    EXPECT_FALSE(fs.folder_refuses_new_files(folder / "missing\\new"));
    EXPECT_FALSE(Exists(folder / "taken.probe"));
    testing::RefusingFolder refusing(folder.path());
    if (!refusing.refusing()) GTEST_SKIP() << refusing.why_not();
    const NewFile refused = fs.create_new(folder / "new");
    EXPECT_EQ(refused.file, nullptr);
    EXPECT_TRUE(refused.folder_refuses);
    EXPECT_TRUE(fs.folder_refuses_new_files(folder / "taken"));
}

// What the publisher check makes of an installed file that is there but cannot be
// read (held without sharing): no telling which download it would take.
TEST(Win32FileSystemTest, UnreadableInstallTakesNoDownload) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "installed", "MZ"));
    Win32FileSystem fs;
    EXPECT_EQ(fs.publisher_check(folder / "missing", folder / "installed"), PublisherCheck::Passed);
    EXPECT_EQ(fs.publisher_check(folder / "installed", folder / "missing"), PublisherCheck::Passed);
    const HANDLE held = CreateFileW(Widen(folder / "installed").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fs.exists(folder / "installed"));
    EXPECT_EQ(fs.publisher_check(folder / "installed", folder / "missing"),
              PublisherCheck::Unreadable);
    CloseHandle(held);
}

TEST(Win32FileSystemTest, RenameReplaceAndRemove) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "from", "new"));
    ASSERT_TRUE(PutBytes(folder / "to", "old"));
    Win32FileSystem fs;
    EXPECT_TRUE(fs.rename_replace(folder / "from", folder / "to"));
    EXPECT_EQ(GetBytes(folder / "to"), "new");
    EXPECT_FALSE(Exists(folder / "from"));
    EXPECT_FALSE(fs.rename_replace(folder / "from", folder / "to"));

    EXPECT_TRUE(fs.remove(folder / "to"));
    EXPECT_FALSE(Exists(folder / "to"));
    EXPECT_TRUE(fs.remove(folder / "to"));
    EXPECT_TRUE(fs.remove(folder / "nofolder\\to"));
    ASSERT_TRUE(PutBytes(folder / "held", "x"));
    HeldFile held(folder / "held", FILE_SHARE_READ);
    ASSERT_TRUE(held.holding());
    EXPECT_FALSE(fs.remove(folder / "held"));
}

TEST(Win32FileSystemTest, PathsLongerThanMaxPathWork) {
    TempFolder folder;
    std::string deep = folder.path();
    while (deep.size() < MAX_PATH + 40) {
        deep += "\\ﾌｫﾙﾀﾞ-0123456789-abcdefghij";
        ASSERT_TRUE(testing::MakeFolder(deep));
    }
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::string kernel32 = Narrow(system) + "\\kernel32.dll";
    ASSERT_TRUE(
        CopyFileW(Widen(kernel32).c_str(), testing::Literal(deep + "\\k.dll").c_str(), TRUE));

    Win32FileSystem fs;
    auto created = fs.create_new(deep + "\\a.txt").file;
    ASSERT_NE(created, nullptr);
    ASSERT_TRUE(created->write("long", 4));
    created.reset();
    EXPECT_NE(fs.open_read(deep + "\\a.txt"), nullptr);
    EXPECT_TRUE(fs.rename_replace(deep + "\\a.txt", deep + "\\b.txt"));
    EXPECT_EQ(GetBytes(deep + "\\b.txt"), "long");
    EXPECT_TRUE(fs.remove(deep + "\\b.txt"));
    EXPECT_FALSE(Exists(deep + "\\b.txt"));

    const std::string version = fs.file_version_text(kernel32);
    EXPECT_NE(version, "");
    EXPECT_EQ(fs.file_version_text(deep + "\\k.dll"), version);
    // Relative parts are resolved before the literal prefix is added.
    EXPECT_EQ(
        fs.file_version_text(deep + "\\..\\" + deep.substr(deep.rfind('\\') + 1) + "\\.\\k.dll"),
        version);
}

TEST(FileIsPresentTest, ReadableFilesOnly) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "tervan58.exe", "MZ"));
    Win32FileSystem fs;
    std::string path = folder / "tervan58.exe";
    EXPECT_TRUE(FileIsPresent(fs, path));
    path = folder.path();
    EXPECT_FALSE(FileIsPresent(fs, path));
    path = folder / "missing.exe";
    EXPECT_FALSE(FileIsPresent(fs, path));
    path = folder / "tervan58.exe\\";
    EXPECT_TRUE(FileIsPresent(fs, path));
}

TEST(FileIsPresentTest, FileLockedAgainstReadingIsAbsent) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "tervan58.exe", "MZ"));
    Win32FileSystem fs;
    std::string path = folder / "tervan58.exe";
    {
        HeldFile held(path, 0);
        ASSERT_TRUE(held.holding());
        EXPECT_FALSE(FileIsPresent(fs, path));
        EXPECT_FALSE(FileIsPresent(fs, path));
    }
    // A file held with read sharing is still present.
    HeldFile shared(path, FILE_SHARE_READ);
    ASSERT_TRUE(shared.holding());
    EXPECT_TRUE(FileIsPresent(fs, path));
}

TEST(FileIsPresentTest, AskingLeavesNothingOpen) {
    TempFolder folder;
    ASSERT_TRUE(PutBytes(folder / "tervan58.exe", "MZ"));
    Win32FileSystem fs;
    std::string path = folder / "tervan58.exe";
    EXPECT_TRUE(FileIsPresent(fs, path));
    EXPECT_TRUE(FileIsPresent(fs, path));
    // An exclusive open fails while any handle to the file is left.
    const HANDLE exclusive = CreateFileW(testing::Literal(path).c_str(), GENERIC_READ, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
}

} // namespace
} // namespace tervan
