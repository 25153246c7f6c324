#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/file_version.hpp"
#include "platform/win32/program.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/version_info.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan {
namespace {

using testing::Child;
using testing::Event;

// This test program carries the updater's own resources (app/resources.rc).
TEST(OwnVersionTest, ComesFromTheVersionResource) {
    const OwnVersion version = ReadOwnVersion();
    EXPECT_EQ(version.major, 1u);
    EXPECT_EQ(version.minor, 0u);
    EXPECT_EQ(version.revision, 1u);
}

std::wstring VersionString(const std::string& exe, const std::wstring& name) {
    const std::wstring path = Widen(exe);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<unsigned char> block(size + 1, 0);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"<none>";
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\041104b0\\" + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length)) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

void ExpectUpdaterResources(const std::string& exe) {
    EXPECT_EQ(VersionText(QueryFileVersion(Widen(exe)).value_or(FixedFileVersion{})), "1.0.0.1");
    EXPECT_EQ(VersionString(exe, L"FileDescription"), L"TERVAN58 ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ");
    EXPECT_EQ(VersionString(exe, L"CompanyName"), L"Karvo Software");
    EXPECT_EQ(VersionString(exe, L"LegalCopyright"), L"Copyright (C) 2026 Karvo Software");
    EXPECT_EQ(VersionString(exe, L"FileVersion"), L"1.0.0.1");
    EXPECT_EQ(VersionString(exe, L"ProductVersion"), L"1.0.1.0");
    EXPECT_EQ(VersionString(exe, L"OriginalFilename"), L"tervan58-updater.exe");
}

TEST(OwnVersionTest, ResourceTextsReadBackIntact) {
    ExpectUpdaterResources(testing::SelfPath());
    // The real program, named by the CTest registration.
    const char* updater = std::getenv("TERVAN_UPDATER_EXE");
    if (updater == nullptr || *updater == '\0') GTEST_SKIP() << "TERVAN_UPDATER_EXE not set";
    SCOPED_TRACE(updater);
    ExpectUpdaterResources(updater);
}

TEST(OwnFolderTest, IsTheExeFolderWithoutTrailingBackslash) {
    const std::string self = testing::SelfPath();
    const std::string folder = OwnFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_EQ(folder, self.substr(0, self.rfind('\\')));
}

std::string FolderReportedBy(const std::string& exe, const std::string& report) {
    Child child({"--own-folder", report}, exe);
    if (!child.started()) return "<not started: " + std::to_string(child.start_error()) + ">";
    if (child.wait() != 0u) return "<failed>";
    return testing::GetBytes(report).value_or("<no report>");
}

TEST(OwnFolderTest, DriveRootKeepsItsBackslash) {
    const std::string exe =
        "C:\\tervan-own-folder-" + std::to_string(GetCurrentProcessId()) + ".exe";
    if (!CopyFileW(Widen(testing::SelfPath()).c_str(), Widen(exe).c_str(), FALSE))
        GTEST_SKIP() << "cannot write to C:\\";
    testing::TempFolder folder;
    EXPECT_EQ(FolderReportedBy(exe, folder / "report.txt"), "C:\\");
    DeleteFileW(Widen(exe).c_str());
}

TEST(OwnFolderTest, LongFolderIsReportedWhole) {
    testing::TempFolder folder;
    std::string deep = folder.path() + "\\Εγκατάσταση 🚀";
    ASSERT_TRUE(testing::MakeFolder(deep));
    // Longer than any first guess at the length, short enough for CreateProcessW.
    while (Widen(deep).size() < MAX_PATH - 50) {
        deep += "\\0123456789-abcdefghijklmnopqrstuvwxyz";
        ASSERT_TRUE(testing::MakeFolder(deep));
    }
    const std::string exe = deep + "\\copy.exe";
    ASSERT_LT(Widen(exe).size(), std::size_t{MAX_PATH});
    ASSERT_TRUE(CopyFileW(Widen(testing::SelfPath()).c_str(), testing::Literal(exe).c_str(), TRUE));
    EXPECT_EQ(FolderReportedBy(exe, folder / "report.txt"), deep);
}

// AnotherCopyRunning marks the process for good, so both directions live in one
// test: this process is the first copy only after the children have checked.
TEST(PreviousInstanceTest, TwoProcessesSeeEachOther) {
    {
        Child alone({"--check-mutex"});
        EXPECT_EQ(alone.wait(), 0u);
    }
    {
        Event ready, release;
        Child first({"--hold-mutex", ready.name(), release.name()});
        ASSERT_TRUE(ready.wait());
        Child second({"--check-mutex"});
        EXPECT_EQ(second.wait(), 1u);
        release.set();
        EXPECT_EQ(first.wait(), 0u);
    }
    {
        // The mark goes away with the process that made it.
        Child after({"--check-mutex"});
        EXPECT_EQ(after.wait(), 0u);
    }
    EXPECT_FALSE(AnotherCopyRunning());
    EXPECT_FALSE(AnotherCopyRunning());
    Child child({"--check-mutex"});
    EXPECT_EQ(child.wait(), 1u);
}

} // namespace
} // namespace tervan
