// The presence probe and version reading on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/update_procedure.hpp"
#include "platform/posix/posix_file_system.hpp"
#include "tests/engine/temp_folder.hpp"

namespace tervan::testing {
namespace {

TEST(PosixProbe, AnswersByOpeningForReading) {
    TempFolder dir;
    PosixFileSystem fs;
    WriteFile(dir / "tervan58.exe", "MZ");

    std::string file = dir.path() + "\\tervan58.exe";
    EXPECT_TRUE(FileIsPresent(fs, file));
    EXPECT_TRUE(FileIsPresent(fs, file)); // the first probe closed its file again

    EXPECT_FALSE(FileIsPresent(fs, dir.path() + "\\"));

    std::string missing = dir.path() + "\\nothing.exe";
    EXPECT_FALSE(FileIsPresent(fs, missing));
}

TEST(PosixProbe, UnreadableFileIsNotPresent) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempFolder dir;
    PosixFileSystem fs;
    WriteFile(dir / "tervan58.exe", "MZ");
    ::chmod((dir / "tervan58.exe").c_str(), 0);
    std::string file = dir / "tervan58.exe";
    EXPECT_FALSE(FileIsPresent(fs, file));
}

TEST(PosixVersion, NonExecutablesHaveNoVersion) {
    TempFolder dir;
    PosixFileSystem fs;
    WriteFile(dir / "text.exe", "just text");
    WriteFile(dir / "empty.exe", "");
    EXPECT_EQ(fs.file_version_text(dir / "text.exe"), "");
    EXPECT_EQ(fs.file_version_text(dir / "empty.exe"), "");
    EXPECT_EQ(fs.file_version_text(dir / "missing.exe"), "");
    EXPECT_EQ(fs.file_version_text(dir.path()), "");
}

} // namespace
} // namespace tervan::testing
