// The portable PE reader against the Windows version API, file by file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/file_version.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/version_info.hpp"
#include "platform/win32/win32_file_system.hpp"
#include "tests/engine/pe_builder.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan {
namespace {

struct Tally {
    int files = 0;
    int with_version = 0;
    int agreed = 0;
    std::vector<std::string> disagreements;
};

std::string WindowsVersionText(const std::string& path) {
    const auto version = QueryFileVersion(Win32Path(path));
    return version ? VersionText(*version) : std::string();
}

void Compare(Win32FileSystem& fs, const std::string& path, Tally& tally) {
    ++tally.files;
    const auto file = fs.open_read(path);
    const std::string portable = file ? FileVersionText(*file) : "<cannot open>";
    const std::string windows = WindowsVersionText(path);
    if (!windows.empty()) ++tally.with_version;
    if (portable == windows)
        ++tally.agreed;
    else
        tally.disagreements.push_back(path + ": portable \"" + portable + "\", Windows \"" +
                                      windows + "\"");
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((Widen(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(folder + "\\" + Narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

void Report(const char* corpus, const Tally& tally) {
    std::printf("%s: %d files, %d with version, %d agreed\n", corpus, tally.files,
                tally.with_version, tally.agreed);
    for (const auto& line : tally.disagreements)
        ADD_FAILURE() << line;
}

// Every PE file Wine installs, 32- and 64-bit: hundreds of real-world layouts.
TEST(VersionDifferentialTest, WineInstalledFiles) {
    std::vector<std::string> folders = {
        "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows",
        "Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows",
    };
    Win32FileSystem fs;
    int total = 0;
    for (const auto& folder : folders) {
        Tally tally;
        for (const auto& path : FilesIn(folder))
            Compare(fs, path, tally);
        Report(folder.c_str(), tally);
        total += tally.files;
    }
    if (total == 0) {
        // Not under Wine: the system folder is the corpus instead.
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        Tally tally;
        for (const auto& path : FilesIn(Narrow(system)))
            Compare(fs, path, tally);
        Report(Narrow(system).c_str(), tally);
        total = tally.files;
    }
    EXPECT_GT(total, 0);
}

struct Fixture {
    std::string name;
    std::vector<unsigned char> bytes;
};

// Layouts and damage the real files do not show, for both PE32 and PE32+.
std::vector<Fixture> Fixtures() {
    using testing::BuildPe;
    using testing::PeImage;
    using testing::PeOptions;
    using testing::PutLe16;
    using testing::PutLe32;
    std::vector<Fixture> fixtures;
    for (const bool plus : {false, true}) {
        const std::string kind = plus ? "pe32plus-" : "pe32-";
        const auto build = [&](PeOptions options) {
            options.pe32_plus = plus;
            return BuildPe(options);
        };
        const auto add = [&](const std::string& name, const PeImage& image) {
            fixtures.push_back({kind + name, image.bytes});
        };
        const auto with = [&](const std::string& name, auto change) {
            PeOptions options;
            change(options);
            add(name, build(options));
        };
        const auto damaged = [&](const std::string& name, auto change) {
            PeImage image = build(PeOptions());
            change(image);
            add(name, image);
        };
        const auto language = [](std::uint16_t id, std::uint32_t ms) {
            testing::VersionLanguage entry;
            entry.language = id;
            entry.block.file_ms = ms;
            entry.block.file_ls = id;
            return entry;
        };

        with("plain", [](PeOptions&) {});
        with("no-resources", [](PeOptions& o) { o.resources = false; });
        with("no-version", [](PeOptions& o) { o.version = false; });
        with("version-id-2", [](PeOptions& o) { o.version_id = 2; });
        with("named-entries-first", [](PeOptions& o) { o.version_names = {u"ALPHA", u"OMEGA"}; });
        with("other-types", [](PeOptions& o) {
            o.other_types = {{3, u""}, {24, u""}, {17, u""}, {0, u"CUSTOM"}};
        });
        with("resources-first", [](PeOptions& o) { o.resources_first = true; });
        with("sections-around", [](PeOptions& o) {
            o.sections_before_resources = 3;
            o.section_after_resources = true;
            o.gap_before_resources = 0x20000;
        });
        with("header-slack", [](PeOptions& o) { o.header_slack = 0x600; });
        with("largest-version", [](PeOptions& o) {
            o.languages[0].block.file_ms = 0xFFFFFFFF;
            o.languages[0].block.file_ls = 0xFFFEFFFD;
            o.languages[0].block.product_ms = 0x00010002;
        });
        with("languages-0411-0409", [&](PeOptions& o) {
            o.languages = {language(0x0411, 0x00020000), language(0x0409, 0x00030000)};
        });
        with("languages-0407-040c", [&](PeOptions& o) {
            o.languages = {language(0x0407, 0x00020000), language(0x040C, 0x00030000)};
        });
        with("languages-0000-0409", [&](PeOptions& o) {
            o.languages = {language(0x0000, 0x00020000), language(0x0409, 0x00030000)};
        });
        with("languages-0009-0809", [&](PeOptions& o) {
            o.languages = {language(0x0009, 0x00020000), language(0x0809, 0x00030000)};
        });
        with("bad-signature", [](PeOptions& o) { o.languages[0].block.signature = 0; });
        with("odd-key",
             [](PeOptions& o) { o.languages[0].block.key = u"SOMETHING_ELSE_ENTIRELY"; });
        with("value-length-0", [](PeOptions& o) { o.languages[0].block.value_length = 0; });
        with("value-length-51", [](PeOptions& o) { o.languages[0].block.value_length = 51; });
        with("value-length-64", [](PeOptions& o) { o.languages[0].block.value_length = 64; });
        with("text-type", [](PeOptions& o) { o.languages[0].block.type = 1; });
        with("no-children", [](PeOptions& o) { o.languages[0].block.children = false; });

        damaged("cut-in-fixed-info",
                [](PeImage& i) { i.bytes.resize(i.layout.languages[0].fixed_info + 20); });
        damaged("cut-after-fixed-info",
                [](PeImage& i) { i.bytes.resize(i.layout.languages[0].fixed_info + 52); });
        damaged("cut-in-resource-tree",
                [](PeImage& i) { i.bytes.resize(i.layout.resource_root + 20); });
        damaged("cut-in-headers", [](PeImage& i) { i.bytes.resize(i.layout.section_table + 8); });
        damaged("data-size-40",
                [](PeImage& i) { PutLe32(i.bytes, i.layout.languages[0].data_entry + 4, 40); });
        damaged("data-size-huge", [](PeImage& i) {
            PutLe32(i.bytes, i.layout.languages[0].data_entry + 4, 0x7FFFFFFF);
        });
        damaged("data-size-past-file",
                [](PeImage& i) { PutLe32(i.bytes, i.layout.languages[0].data_entry + 4, 0x8000); });
        damaged("data-outside-sections",
                [](PeImage& i) { PutLe32(i.bytes, i.layout.languages[0].data_entry, 0x00F00000); });
        damaged("resource-rva-outside",
                [](PeImage& i) { PutLe32(i.bytes, i.layout.resource_directory, 0x00F00000); });
        damaged("two-data-directories",
                [](PeImage& i) { PutLe32(i.bytes, i.layout.rva_count_field, 2); });
        damaged("no-pe-signature", [](PeImage& i) { i.bytes[i.layout.nt_headers] = 'X'; });
        damaged("version-type-is-data", [](PeImage& i) {
            const std::size_t target = i.layout.version_type_entry + 4;
            PutLe32(i.bytes, target, testing::GetLe32(i.bytes, target) & 0x7FFFFFFF);
        });
        damaged("block-length-short",
                [](PeImage& i) { PutLe16(i.bytes, i.layout.languages[0].block, 8); });
        damaged("narrow-block", [](PeImage& i) {
            i.bytes[i.layout.languages[0].block + 4] = 'V'; // wType's low byte printable
        });
    }
    return fixtures;
}

// Fixtures on which Wine's version.dll is known to go wrong, so its answer is no
// measure of the portable reader. Both answers are still printed.
struct KnownWineFault {
    const char* fixture; // name without the pe32-/pe32plus- prefix
    bool ask_wine;       // false where asking Wine can crash the test program
    const char* why;
};
constexpr KnownWineFault kKnownWineFaults[] = {
    {"data-outside-sections", false,
     "GetFileVersionInfoW reads outside the mapped file (page fault seen) for a data RVA "
     "outside every section"},
    {"data-size-past-file", false,
     "GetFileVersionInfoW copies the declared 32 KiB from a 2 KiB file mapping (page fault "
     "seen)"},
    {"data-size-huge", true,
     "GetFileVersionInfoSizeW returns 2 for a 2 GiB resource size (its size arithmetic wraps)"},
};

const KnownWineFault* KnownFault(const std::string& name) {
    for (const auto& known : kKnownWineFaults) {
        const std::string suffix = known.fixture;
        if (name.size() > suffix.size() && name.ends_with("-" + suffix)) return &known;
    }
    return nullptr;
}

TEST(VersionDifferentialTest, BuiltFixtures) {
    testing::TempFolder folder;
    Win32FileSystem fs;
    Tally tally;
    int known = 0;
    for (const auto& fixture : Fixtures()) {
        const std::string path = folder / (fixture.name + ".dll");
        ASSERT_TRUE(
            testing::PutBytes(path, std::string(fixture.bytes.begin(), fixture.bytes.end())));
        if (const KnownWineFault* fault = KnownFault(fixture.name)) {
            ++known;
            const auto file = fs.open_read(path);
            const std::string portable = file ? FileVersionText(*file) : "<cannot open>";
            const std::string windows = fault->ask_wine ? WindowsVersionText(path) : "<not asked>";
            std::printf("known Wine fault, %s: portable \"%s\", Wine \"%s\": %s\n",
                        fixture.name.c_str(), portable.c_str(), windows.c_str(), fault->why);
            continue;
        }
        Compare(fs, path, tally);
    }
    Report("fixtures", tally);
    std::printf("fixtures left out of the comparison: %d\n", known);
    EXPECT_GT(tally.with_version, 0);
}

} // namespace
} // namespace tervan
