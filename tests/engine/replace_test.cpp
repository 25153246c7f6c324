// The all-or-nothing replacement on real files, with failures injected at every
// step: afterwards the installed file holds either its old bytes or exactly the new
// ones, and no temporary file is left.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>

#include "engine/replacement.hpp"
#include "engine/update_procedure.hpp"
#include "platform/posix/posix_file_system.hpp"
#include "tests/engine/forwarding_file_system.hpp"
#include "tests/engine/temp_folder.hpp"

namespace tervan::testing {
namespace {

enum class Fault {
    None,
    OpenSource,
    CreateTemp,
    Read,
    Write,
    ShortWrite,
    Flush,
    Rename,
    SourceChanges
};

// Passes everything to the real file system, except that it fails at one chosen step.
class FaultyFileSystem : public ForwardingFileSystem {
public:
    FaultyFileSystem(Fault fault, int nth = 1)
        : ForwardingFileSystem(real_), fault_(fault), nth_(nth) {}

    std::unique_ptr<File> open_read(const std::string& path) override {
        if (fault_ == Fault::OpenSource && !is_temp(path)) return nullptr;
        auto file = real_.open_read(path);
        return file ? std::make_unique<Faulty>(std::move(file), *this, path) : nullptr;
    }
    NewFile create_new(const std::string& path) override {
        if (fault_ == Fault::CreateTemp) return {};
        NewFile created = real_.create_new(path);
        if (created.file)
            created.file = std::make_unique<Faulty>(std::move(created.file), *this, path);
        return created;
    }
    bool rename_replace(const std::string& from, const std::string& to) override {
        return fault_ != Fault::Rename && real_.rename_replace(from, to);
    }

private:
    static bool is_temp(const std::string& path) { return path.ends_with(".updating"); }

    class Faulty : public File {
    public:
        Faulty(std::unique_ptr<File> inner, FaultyFileSystem& fs, std::string path)
            : inner_(std::move(inner)), fs_(fs), path_(std::move(path)) {}
        std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
            if (fs_.fault_ == Fault::Read && !is_temp(path_) && ++fs_.count_ == fs_.nth_) return -1;
            // Another program rewrites the download between the copy and the check.
            if (fs_.fault_ == Fault::SourceChanges && !is_temp(path_) && offset == 0 &&
                ++fs_.count_ == fs_.nth_) {
                std::string bytes = ReadFile(ToPosixPath(path_));
                bytes[bytes.size() / 2] ^= 1;
                WriteFile(ToPosixPath(path_), bytes);
            }
            return inner_->read_at(offset, buffer, size);
        }
        bool write(const void* data, std::size_t size) override {
            if (fs_.fault_ == Fault::Write && ++fs_.count_ == fs_.nth_) return false;
            // What Wine's WriteFile does on a full disk: success, but fewer bytes.
            if (fs_.fault_ == Fault::ShortWrite && ++fs_.count_ == fs_.nth_)
                return inner_->write(data, size / 2);
            return inner_->write(data, size);
        }
        bool flush() override { return fs_.fault_ != Fault::Flush && inner_->flush(); }

    private:
        std::unique_ptr<File> inner_;
        FaultyFileSystem& fs_;
        std::string path_;
    };

    PosixFileSystem real_;
    Fault fault_;
    int nth_;
    int count_ = 0;
};

// Compared without printing megabytes of bytes on a failure.
#define EXPECT_BYTES(path, expected)                                                               \
    EXPECT_TRUE(ReadFile(path) == (expected)) << (path) << " holds " << ReadFile(path).size()      \
                                              << " bytes, not the expected " << (expected).size()

std::string Pattern(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 131 + (i >> 12));
    return bytes;
}

struct ReplaceTest : ::testing::Test {
    TempFolder dir;
    std::string source = dir / "new.exe";
    std::string destination = dir / "tervan58.exe";
    std::string old_bytes = Pattern(100'000, 'o');
    std::string new_bytes = Pattern(3 * (1 << 20) + 12345, 'n'); // several copy chunks

    void SetUp() override {
        WriteFile(source, new_bytes);
        WriteFile(destination, old_bytes);
    }
    std::size_t files_in_folder() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()));
    }
};

TEST_F(ReplaceTest, ReplacesWithExactlyTheNewBytesAndTheirTime) {
    const auto made = std::filesystem::last_write_time(source) - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(source, made);
    PosixFileSystem fs;
    ASSERT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Replaced);
    EXPECT_BYTES(destination, new_bytes);
    EXPECT_BYTES(source, new_bytes);
    EXPECT_EQ(files_in_folder(), 2u);
    EXPECT_TRUE(std::filesystem::last_write_time(destination) == made);
}

TEST_F(ReplaceTest, CreatesTheInstalledFileWhenThereIsNone) {
    std::filesystem::remove(destination);
    PosixFileSystem fs;
    ASSERT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Replaced);
    EXPECT_BYTES(destination, new_bytes);
}

TEST_F(ReplaceTest, ATemporaryFileLeftByAnEndedRunIsReplacedAndGone) {
    WriteFile(ReplacementTempPath(destination), "half a copy");
    PosixFileSystem fs;
    ASSERT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Replaced);
    EXPECT_BYTES(destination, new_bytes);
    EXPECT_FALSE(std::filesystem::exists(ReplacementTempPath(destination)));
}

struct FaultCase {
    Fault fault;
    int nth;
    const char* name;
};

// By name: GoogleTest would otherwise print the bytes, the pointer's among them.
void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name << ", at call " << c.nth;
}

class ReplaceFaultTest : public ReplaceTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ReplaceFaultTest, LeavesTheInstalledFileAsItWas) {
    FaultyFileSystem fs(GetParam().fault, GetParam().nth);
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Failed);
    EXPECT_BYTES(destination, old_bytes);
    EXPECT_FALSE(std::filesystem::exists(ReplacementTempPath(destination)));
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ReplaceFaultTest,
    ::testing::Values(FaultCase{Fault::OpenSource, 1, "OpenSource"},
                      FaultCase{Fault::CreateTemp, 1, "CreateTemp"},
                      FaultCase{Fault::Read, 1, "FirstRead"},
                      FaultCase{Fault::Read, 3, "ReadMidway"},
                      FaultCase{Fault::Write, 1, "FirstWrite"},
                      FaultCase{Fault::Write, 3, "WriteMidway"},
                      FaultCase{Fault::ShortWrite, 2, "ShortWriteReportedAsSuccess"},
                      FaultCase{Fault::Flush, 1, "Flush"}, FaultCase{Fault::Rename, 1, "Rename"},
                      FaultCase{Fault::SourceChanges, 2, "SourceChangesBeforeTheCheck"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplaceTest, RefusesAReadOnlyInstalledFile) {
    ::chmod(destination.c_str(), 0444);
    PosixFileSystem fs;
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, destination), Replacement::Failed);
    EXPECT_BYTES(destination, old_bytes);
    EXPECT_EQ(files_in_folder(), 2u);
}

TEST_F(ReplaceTest, MissingDestinationFolderCreatesNothing) {
    PosixFileSystem fs;
    EXPECT_EQ(ReplaceFileAllOrNothing(fs, source, dir / "gone/tervan58.exe"), Replacement::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir / "gone"));
}

} // namespace
} // namespace tervan::testing
