// Native side of scripts/bench.sh: writes the fixtures, times the portable version reader
// over PosixFileSystem and ReplaceFileAllOrNothing against cp + sync, and evicts files from
// the page cache so that every replacement, native or under Wine, starts from the disk.
//
//   tervan58-bench-native fixtures DIR
//   tervan58-bench-native version LABEL=FILE...
//   tervan58-bench-native version-once FILE
//   tervan58-bench-native evict FILE...
//   tervan58-bench-native replace KEY SOURCE DESTINATION
//   tervan58-bench-native cp-sync KEY SOURCE DESTINATION
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/file_version.hpp"
#include "engine/replacement.hpp"
#include "engine/update_procedure.hpp"
#include "platform/posix/posix_file_system.hpp"
#include "tests/engine/pe_builder.hpp"
#include "tools/bench/bench_support.hpp"

extern char** environ;

namespace tervan::bench {
namespace {

constexpr std::uint32_t kLargeSize = 256u << 20;

int Fail(const std::string& what) {
    std::fprintf(stderr, "tervan58-bench-native: %s\n", what.c_str());
    return 1;
}

// Incompressible filler, so that no layer below can make the large files cheap to copy.
void FillPseudoRandom(std::vector<unsigned char>& bytes, std::size_t begin, std::size_t size,
                      std::uint64_t seed) {
    std::uint64_t state = seed | 1;
    for (std::size_t at = begin; at + 8 <= begin + size; at += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + at, &state, 8);
    }
}

// A valid PE32 with version 1.0.0.`revision`; with a gap, a section of `gap` bytes comes
// before the resources, which then end the file.
testing::PeImage MakeImage(std::uint32_t revision, std::uint32_t gap, std::uint64_t seed) {
    testing::PeOptions options;
    options.languages[0].block.file_ms = 0x00010000;
    options.languages[0].block.file_ls = revision;
    options.gap_before_resources = gap;
    testing::PeImage image = testing::BuildPe(options);
    if (gap > 0) {
        for (const auto& section : image.layout.sections)
            if (section.name == ".bulk")
                FillPseudoRandom(image.bytes, section.raw_offset, section.raw_size, seed);
        const std::size_t checksum = image.layout.optional_header + 64;
        testing::PutLe32(image.bytes, checksum,
                         testing::pe_builder_detail::Checksum(image.bytes, checksum));
    }
    return image;
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

int Fixtures(const std::string& folder) {
    const testing::PeImage small = MakeImage(2, 0, 0);
    if (!WriteFile(folder + "/small.exe", small.bytes)) return Fail("cannot write small.exe");
    Put("fixture_small_bytes", static_cast<std::uint64_t>(small.bytes.size()));
    // The gap makes the whole file 256 MiB, the resources in its last bytes.
    const std::uint32_t gap = kLargeSize - static_cast<std::uint32_t>(small.bytes.size());
    struct Large {
        const char* name;
        std::uint32_t revision;
        std::uint64_t seed;
    };
    for (const Large& large : {Large{"large.exe", 2, 0x9E3779B97F4A7C15ull},
                               Large{"installed.exe", 1, 0xD1B54A32D192ED03ull}}) {
        const testing::PeImage image = MakeImage(large.revision, gap, large.seed);
        if (!WriteFile(folder + "/" + large.name, image.bytes))
            return Fail(std::string("cannot write ") + large.name);
        const auto& rsrc = image.layout.sections[image.layout.resource_section];
        if (std::string(large.name) == "large.exe") {
            Put("fixture_large_bytes", static_cast<std::uint64_t>(image.bytes.size()));
            Put("fixture_large_rsrc_offset", static_cast<std::uint64_t>(rsrc.raw_offset));
        }
    }
    return 0;
}

int Version(int argc, char** argv) {
    PosixFileSystem fs;
    for (int i = 0; i < argc; ++i) {
        const auto [label, path] = SplitLabel(argv[i]);
        const std::string key = "ver_native_portable_" + label;
        auto opened = fs.open_read(path);
        if (!opened) return Fail("cannot open " + path);
        CountingFile counted(std::move(opened));
        const std::string version = FileVersionText(counted);
        if (version.empty()) return Fail("no version in " + path);
        Put(key + "_version", version);
        Put(key + "_bytes", counted.bytes());
        Put(key + "_reads", counted.reads());
        // What the program does per file: open, read the version, close.
        std::string text;
        Put(key + "_us", MicrosecondsPerCall([&] { text = fs.file_version_text(path); }, 7, 0.2));
        if (text != version) return Fail("unstable version in " + path);
    }
    return 0;
}

int VersionOnce(const std::string& path) {
    PosixFileSystem fs;
    return fs.file_version_text(path).empty() ? Fail("no version in " + path) : 0;
}

// Written data reaches the disk first: only clean pages can be dropped.
int Evict(int argc, char** argv) {
    ::sync();
    for (int i = 0; i < argc; ++i) {
        const int fd = ::open(argv[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue; // a file the last run removed
        ::fdatasync(fd);
        const int advised = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        if (advised != 0) return Fail(std::string("cannot evict ") + argv[i]);
    }
    return 0;
}

int Replace(const std::string& key, const std::string& source, const std::string& destination) {
    PosixFileSystem fs;
    const auto start = std::chrono::steady_clock::now();
    const bool replaced = ReplaceFileAllOrNothing(fs, source, destination) == Replacement::Replaced;
    const double seconds = SecondsSince(start);
    if (!replaced) return Fail("ReplaceFileAllOrNothing failed");
    Put(key, seconds);
    return 0;
}

bool Run(std::vector<const char*> argv) {
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()),
                       environ) != 0)
        return false;
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The same bytes, durable, by the system's own tools: what the disk allows.
int CopySync(const std::string& key, const std::string& source, const std::string& destination) {
    const auto start = std::chrono::steady_clock::now();
    if (!Run({"cp", source.c_str(), destination.c_str()})) return Fail("cp failed");
    if (!Run({"sync"})) return Fail("sync failed");
    Put(key, SecondsSince(start));
    return 0;
}

} // namespace
} // namespace tervan::bench

int main(int argc, char** argv) {
    using namespace tervan::bench;
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "fixtures" && argc == 3) return Fixtures(argv[2]);
    if (command == "version" && argc > 2) return Version(argc - 2, argv + 2);
    if (command == "version-once" && argc == 3) return VersionOnce(argv[2]);
    if (command == "evict") return Evict(argc - 2, argv + 2);
    if (command == "replace" && argc == 5) return Replace(argv[2], argv[3], argv[4]);
    if (command == "cp-sync" && argc == 5) return CopySync(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: see the comment at the top of tools/bench/native_bench.cpp\n");
    return 2;
}
