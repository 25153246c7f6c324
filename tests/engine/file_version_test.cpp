#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/file_version.hpp"
#include "engine/pe_reader.hpp"
#include "tests/engine/memory_file.hpp"
#include "tests/engine/pe_builder.hpp"

namespace tervan {
namespace {

using testing::BuildPe;
using testing::GetLe32;
using testing::MemoryFile;
using testing::PeImage;
using testing::PeOptions;
using testing::PutLe16;
using testing::PutLe32;
using Bytes = std::vector<unsigned char>;
using testing::VersionOf;

constexpr std::uint32_t kMs = 0x00010002; // 1.2.3.4
constexpr std::uint32_t kLs = 0x00030004;
const std::optional<std::string> kNone;

PeOptions Options(bool pe32_plus) {
    PeOptions options;
    options.pe32_plus = pe32_plus;
    options.languages[0].block.file_ms = kMs;
    options.languages[0].block.file_ls = kLs;
    return options;
}

std::optional<std::string> VersionOf(const Bytes& bytes) {
    MemoryFile file(bytes);
    return VersionOf(file);
}

const testing::SectionLayout& ResourceSection(const PeImage& image) {
    return image.layout.sections.at(image.layout.resource_section);
}

void SetHighBit(Bytes& bytes, std::size_t at) {
    PutLe32(bytes, at, GetLe32(bytes, at) | 0x80000000u);
}

// Reads fail with -1 once they reach `limit`.
class FailingFile : public File {
public:
    FailingFile(const Bytes& bytes, std::uint64_t limit) : inner_(bytes), limit_(limit) {}
    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        if (offset + size > limit_) return -1;
        return inner_.read_at(offset, buffer, size);
    }
    bool write(const void*, std::size_t) override { return false; }
    bool flush() override { return false; }

private:
    MemoryFile inner_;
    std::uint64_t limit_;
};

// Hands out at most a few bytes per read, as a slow pipe or share might.
class TricklingFile : public File {
public:
    explicit TricklingFile(const Bytes& bytes) : inner_(bytes) {}
    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        return inner_.read_at(offset, buffer, std::min<std::size_t>(size, 1 + offset % 3));
    }
    bool write(const void*, std::size_t) override { return false; }
    bool flush() override { return false; }

private:
    MemoryFile inner_;
};

TEST(FileVersionTest, ReadsTheFixedVersionOfBothFormats) {
    struct Case {
        std::uint32_t ms, ls;
        const char* text;
    };
    const Case cases[] = {
        {0x00010000, 0x00000001, "1.0.0.1"},
        {0x0002000A, 0x0000012C, "2.10.0.300"},
        {0x00000000, 0x00000000, "0.0.0.0"},
        {0x8000FFFF, 0x9C40FFFF, "32768.65535.40000.65535"},
        {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.65535"},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(pe32_plus ? "PE32+ " : "PE32 ") + c.text);
            PeOptions options = Options(pe32_plus);
            options.languages[0].block.file_ms = c.ms;
            options.languages[0].block.file_ls = c.ls;
            MemoryFile file(BuildPe(options).bytes);
            const auto version = ReadFixedFileVersion(file);
            ASSERT_TRUE(version);
            EXPECT_EQ(version->ms, c.ms);
            EXPECT_EQ(version->ls, c.ls);
            EXPECT_EQ(FileVersionText(file), c.text);
        }
    }
}

TEST(FileVersionTest, TheFixedFileVersionWinsOverStringsAndProductVersion) {
    PeOptions options = Options(false);
    auto& block = options.languages[0].block;
    block.product_ms = 0x00090009;
    block.product_ls = 0x00090009;
    block.file_version_text = u"7.7.7.7";
    block.product_version_text = u"8.8.8.8";
    EXPECT_EQ(VersionOf(BuildPe(options).bytes), "1.2.3.4");
}

TEST(FileVersionTest, TheKeyAndSignatureAreNotChecked) {
    // VerQueryValueW(L"\\") returns the value after whatever key the block has.
    for (const std::u16string key : {u"ABC", u"VS_VERSION_INFO_LONGER_KEY", u""}) {
        PeOptions options = Options(false);
        options.languages[0].block.key = key;
        options.languages[0].block.signature = 0x12345678;
        SCOPED_TRACE(key.size());
        EXPECT_EQ(VersionOf(BuildPe(options).bytes), "1.2.3.4");
    }
}

TEST(FileVersionTest, PicksTheLanguageTheVersionApiPicks) {
    struct Case {
        const char* name;
        std::vector<std::uint16_t> languages; // in directory order
        std::uint16_t chosen;
    };
    const Case cases[] = {
        {"English (US) among others", {0x0407, 0x0409, 0x040C}, 0x0409},
        {"neutral before English (US)", {0x0000, 0x0409}, 0x0000},
        {"English (neutral) when no US", {0x0007, 0x0009, 0x0407}, 0x0009},
        {"first otherwise", {0x0407, 0x040C}, 0x0407},
        {"first in directory order", {0x040C, 0x0407}, 0x040C},
        {"English (UK) is not English (US)", {0x0809, 0x0C0C}, 0x0809},
        {"single language", {0x0411}, 0x0411},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeOptions options = Options(false);
        options.languages.clear();
        for (const std::uint16_t language : c.languages) {
            testing::VersionLanguage entry;
            entry.language = language;
            entry.block.file_ms = language; // tells the languages apart
            options.languages.push_back(entry);
        }
        EXPECT_EQ(VersionOf(BuildPe(options).bytes), VersionText({c.chosen, 0}));
    }
}

TEST(FileVersionTest, LanguageEntriesThatAreDirectoriesAreSkipped) {
    PeOptions options = Options(false);
    options.languages = {{0x0407, {}}, {0x0409, {}}, {0x040C, {}}};
    for (auto& language : options.languages)
        language.block.file_ms = language.language;
    const PeImage image = BuildPe(options);
    const auto& languages = image.layout.languages;

    Bytes bytes = image.bytes;
    SetHighBit(bytes, languages[1].entry + 4); // 0x0409
    EXPECT_EQ(VersionOf(bytes), "0.1031.0.0"); // the first data entry, 0x0407
    SetHighBit(bytes, languages[0].entry + 4);
    EXPECT_EQ(VersionOf(bytes), "0.1036.0.0"); // 0x040C
    SetHighBit(bytes, languages[2].entry + 4);
    EXPECT_EQ(VersionOf(bytes), kNone);
}

TEST(FileVersionTest, FindsTheVersionInAnyResourceLayout) {
    struct Case {
        const char* name;
        std::function<void(PeOptions&)> change;
    };
    const Case cases[] = {
        {"other types before and after",
         [](PeOptions& o) {
             o.other_types = {{3, u""}, {14, u""}, {24, u""}};
         }},
        {"named types ahead of the IDs",
         [](PeOptions& o) {
             o.other_types = {{0, u"CONFIG"}, {0, u"ZDATA"}, {3, u""}};
         }},
        {"named entries ahead of VS_VERSION_INFO",
         [](PeOptions& o) {
             o.version_names = {u"EXTRA", u"MORE"};
         }},
        {"resource section first", [](PeOptions& o) { o.resources_first = true; }},
        {"several sections before", [](PeOptions& o) { o.sections_before_resources = 3; }},
        {"a section after", [](PeOptions& o) { o.section_after_resources = true; }},
        {"a large section before", [](PeOptions& o) { o.gap_before_resources = 0x10000; }},
        {"no StringFileInfo", [](PeOptions& o) { o.languages[0].block.children = false; }},
        {"text block type", [](PeOptions& o) { o.languages[0].block.type = 1; }},
        {"everything",
         [](PeOptions& o) {
             o.other_types = {{0, u"CONFIG"}, {3, u""}, {24, u""}};
             o.version_names = {u"EXTRA"};
             o.sections_before_resources = 2;
             o.section_after_resources = true;
             o.languages = {{0x0407, {}}, {0x0409, {}}};
             o.languages[1].block.file_ms = kMs;
             o.languages[1].block.file_ls = kLs;
         }},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(pe32_plus ? "PE32+ " : "PE32 ") + c.name);
            PeOptions options = Options(pe32_plus);
            c.change(options);
            EXPECT_EQ(VersionOf(BuildPe(options).bytes), "1.2.3.4");
        }
    }
}

TEST(FileVersionTest, NoVersionWithoutAVersionResource) {
    struct Case {
        const char* name;
        std::function<void(PeOptions&)> change;
    };
    const Case cases[] = {
        {"no resources", [](PeOptions& o) { o.resources = false; }},
        {"other types only",
         [](PeOptions& o) {
             o.version = false;
             o.other_types = {{0, u"CONFIG"}, {3, u""}, {24, u""}};
         }},
        {"RT_VERSION without ID 1", [](PeOptions& o) { o.version_id = 2; }},
        {"RT_VERSION with named entries only",
         [](PeOptions& o) {
             o.version_id = 7;
             o.version_names = {u"EXTRA"};
         }},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(pe32_plus ? "PE32+ " : "PE32 ") + c.name);
            PeOptions options = Options(pe32_plus);
            c.change(options);
            MemoryFile file(BuildPe(options).bytes);
            EXPECT_EQ(VersionOf(file), kNone);
            EXPECT_EQ(FileVersionText(file), "");
        }
    }
}

TEST(FileVersionTest, NoVersionForFilesThatAreNotPe) {
    const std::string text = "FileVersion=1.2.3.4\r\nThis is a plain text file.\r\n";
    Bytes mz_zeros(64, 0);
    mz_zeros[0] = 'M';
    mz_zeros[1] = 'Z';
    Bytes ne = BuildPe(Options(false)).bytes;
    ne[0x80] = 'N';
    ne[0x81] = 'E';
    Bytes elf = {0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
    elf.resize(4096, 0);
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"MZ only", {'M', 'Z'}},
        {"text", Bytes(text.begin(), text.end())},
        {"DOS header of zeros", mz_zeros},
        {"NE executable", ne},
        {"ELF", elf},
        {"zeros", Bytes(8192, 0)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(VersionOf(bytes), kNone);
    }
}

// Single corruptions of a valid image, each with what the version API makes of it.
TEST(FileVersionTest, CorruptHeadersAndOffsets) {
    struct Case {
        const char* name;
        std::function<void(Bytes&, const PeImage&)> corrupt;
        std::optional<std::string> expected;
    };
    const auto L = [](const PeImage& image) -> const testing::PeLayout& { return image.layout; };
    const auto block = [](const PeImage& image) { return image.layout.languages[0]; };
    const Case cases[] = {
        // Headers.
        {"e_lfanew far past the end",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).e_lfanew_field, 0xFFFFFFF0); }, kNone},
        {"e_lfanew at the last two bytes",
         [&](Bytes& b, const PeImage& i) {
             PutLe32(b, L(i).e_lfanew_field, static_cast<std::uint32_t>(b.size() - 2));
         },
         kNone},
        {"e_lfanew at the DOS header",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).e_lfanew_field, 0); }, kNone},
        {"signature PX", [&](Bytes& b, const PeImage& i) { b[L(i).nt_headers + 1] = 'X'; }, kNone},
        // The loader refuses it; the version API then reads the file itself.
        {"signature PE\\1\\0", [&](Bytes& b, const PeImage& i) { b[L(i).nt_headers + 2] = 1; },
         "1.2.3.4"},
        {"unknown optional header magic",
         [&](Bytes& b, const PeImage& i) { PutLe16(b, L(i).optional_header, 0x107); }, kNone},
        {"the other format's magic",
         [&](Bytes& b, const PeImage& i) { b[L(i).optional_header + 1] ^= 3; }, // 0x10b, 0x20b
         kNone},
        {"two data directories",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).rva_count_field, 2); }, kNone},
        {"three data directories",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).rva_count_field, 3); }, "1.2.3.4"},
        {"optional header too short for the resource directory",
         [&](Bytes& b, const PeImage& i) {
             const auto end = L(i).resource_directory + 8 - L(i).optional_header;
             PutLe16(b, L(i).coff_header + 16, static_cast<std::uint32_t>(end - 1));
         },
         kNone},
        {"data directory 2 outside SizeOfOptionalHeader",
         [&](Bytes& b, const PeImage& i) {
             // Cuts off the directory's size and moves the section table up to match.
             const auto size = L(i).resource_directory + 4 - L(i).optional_header;
             const Bytes table(b.begin() + L(i).section_table, b.begin() + L(i).section_table_end);
             std::copy(table.begin(), table.end(), b.begin() + L(i).optional_header + size);
             PutLe16(b, L(i).coff_header + 16, static_cast<std::uint32_t>(size));
         },
         kNone},
        {"no sections", [&](Bytes& b, const PeImage& i) { PutLe16(b, L(i).coff_header + 2, 0); },
         kNone},
        {"section table running past the end",
         [&](Bytes& b, const PeImage& i) { PutLe16(b, L(i).coff_header + 2, 0xFFFF); }, kNone},
        // Resource directory.
        {"resource RVA 0",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).resource_directory, 0); }, kNone},
        {"resource size 0",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).resource_directory + 4, 0); }, kNone},
        {"resource size under a directory header",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).resource_directory + 4, 15); }, kNone},
        {"resource size of a directory header",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).resource_directory + 4, 16); },
         "1.2.3.4"},
        {"resource RVA between the headers and the first section",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).resource_directory, 0x800); }, kNone},
        {"resource RVA past every section",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, L(i).resource_directory, 0x100000); }, kNone},
        {"resource raw data past the end",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, ResourceSection(i).header + 20, 0x100000); },
         kNone},
        {"resource section without access",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, ResourceSection(i).header + 36, 0x40); },
         kNone},
        {"RT_VERSION entry not a directory",
         [&](Bytes& b, const PeImage& i) {
             PutLe32(b, L(i).version_type_entry + 4,
                     GetLe32(b, L(i).version_type_entry + 4) & 0x7FFFFFFF);
         },
         kNone},
        {"VS_VERSION_INFO entry not a directory",
         [&](Bytes& b, const PeImage& i) {
             PutLe32(b, L(i).version_id_entry + 4,
                     GetLe32(b, L(i).version_id_entry + 4) & 0x7FFFFFFF);
         },
         kNone},
        {"language entry a directory",
         [&](Bytes& b, const PeImage& i) { SetHighBit(b, block(i).entry + 4); }, kNone},
        {"root with 65535 ID entries",
         [&](Bytes& b, const PeImage& i) { PutLe16(b, L(i).resource_root + 14, 0xFFFF); }, kNone},
        {"language directory with 65535 named entries",
         [&](Bytes& b, const PeImage& i) { PutLe16(b, L(i).language_directory + 12, 0xFFFF); },
         kNone},
        // Data entry.
        {"data RVA past every section",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, block(i).data_entry, 0x100000); }, kNone},
        {"data RVA in the zero fill after the raw data",
         [&](Bytes& b, const PeImage& i) {
             const auto& s = ResourceSection(i);
             PutLe32(b, block(i).data_entry, s.rva + s.raw_size);
         },
         kNone},
        {"data size 0", [&](Bytes& b, const PeImage& i) { PutLe32(b, block(i).data_entry + 4, 0); },
         kNone},
        {"data size one short of the value",
         [&](Bytes& b, const PeImage& i) {
             const auto end = block(i).fixed_info + 52 - block(i).block;
             PutLe32(b, block(i).data_entry + 4, static_cast<std::uint32_t>(end - 1));
         },
         kNone},
        {"data size ending with the value",
         [&](Bytes& b, const PeImage& i) {
             const auto end = block(i).fixed_info + 52 - block(i).block;
             PutLe32(b, block(i).data_entry + 4, static_cast<std::uint32_t>(end));
         },
         "1.2.3.4"},
        {"data size past the end of the file",
         [&](Bytes& b, const PeImage& i) { PutLe32(b, block(i).data_entry + 4, 0x7FFFFFFF); },
         "1.2.3.4"},
        // Version block.
        {"wValueLength 51", [&](Bytes& b, const PeImage& i) { PutLe16(b, block(i).block + 2, 51); },
         kNone},
        {"wValueLength 0", [&](Bytes& b, const PeImage& i) { PutLe16(b, block(i).block + 2, 0); },
         kNone},
        {"wValueLength 65535",
         [&](Bytes& b, const PeImage& i) { PutLe16(b, block(i).block + 2, 0xFFFF); }, "1.2.3.4"},
        {"wLength 0", [&](Bytes& b, const PeImage& i) { PutLe16(b, block(i).block, 0); },
         "1.2.3.4"},
        {"dwSignature 0", [&](Bytes& b, const PeImage& i) { PutLe32(b, block(i).fixed_info, 0); },
         "1.2.3.4"},
        {"key without a terminator in the resource",
         [&](Bytes& b, const PeImage& i) {
             std::fill(b.begin() + block(i).block + 6,
                       b.begin() + block(i).block + block(i).block_size, 'A');
         },
         kNone},
        {"16-bit block layout", // an 8-bit key at byte 4, so the value at byte 8
         [&](Bytes& b, const PeImage& i) {
             const std::size_t at = block(i).block;
             Bytes fixed(b.begin() + block(i).fixed_info, b.begin() + block(i).fixed_info + 52);
             PutLe32(fixed, 8, 0x00050006);
             PutLe32(fixed, 12, 0x00070008);
             b[at + 4] = 'V';
             b[at + 5] = 'S';
             b[at + 6] = 'X';
             b[at + 7] = 0;
             std::copy(fixed.begin(), fixed.end(), b.begin() + at + 8);
         },
         "5.6.7.8"},
    };
    for (const bool pe32_plus : {false, true}) {
        const PeImage image = BuildPe(Options(pe32_plus));
        ASSERT_EQ(VersionOf(image.bytes), "1.2.3.4");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(pe32_plus ? "PE32+ " : "PE32 ") + c.name);
            Bytes bytes = image.bytes;
            c.corrupt(bytes, image);
            EXPECT_EQ(VersionOf(bytes), c.expected);
        }
    }
}

// Where the loader puts section bytes: SizeOfRawData of the file, but only up to VirtualSize
// rounded to a page; zero fill after that, which does not count as version data.
TEST(FileVersionTest, MapsRvasAsTheLoaderDoes) {
    struct Case {
        const char* name;
        std::function<void(PeOptions&)> options;
        std::function<void(Bytes&, const PeImage&)> change;
        std::optional<std::string> expected;
    };
    const auto copy_block_to = [](Bytes& b, const PeImage& i, std::size_t at) {
        const auto& language = i.layout.languages[0];
        if (b.size() < at + language.block_size) b.resize(at + language.block_size);
        std::copy(b.begin() + language.block, b.begin() + language.block + language.block_size,
                  b.begin() + at);
    };
    const auto nothing = [](PeOptions&) {};
    const Case cases[] = {
        {"VirtualSize short of the data, same page", nothing,
         [](Bytes& b, const PeImage& i) { PutLe32(b, ResourceSection(i).header + 8, 0x10); },
         "1.2.3.4"},
        {"VirtualSize 0", nothing,
         [](Bytes& b, const PeImage& i) { PutLe32(b, ResourceSection(i).header + 8, 0); },
         "1.2.3.4"},
        {"raw data off its sector start, read from the sector",
         [](PeOptions& o) { o.section_after_resources = true; },
         [](Bytes& b, const PeImage& i) {
             PutLe32(b, ResourceSection(i).header + 20, ResourceSection(i).raw_offset + 1);
         },
         "1.2.3.4"},
        {"data past SizeOfRawData though the file goes on",
         [](PeOptions& o) { o.section_after_resources = true; },
         [&](Bytes& b, const PeImage& i) {
             const auto& s = ResourceSection(i);
             copy_block_to(b, i, s.raw_offset + s.raw_size); // the next section's raw data
             PutLe32(b, s.header + 8, 0x1000);
             PutLe32(b, i.layout.languages[0].data_entry, s.rva + s.raw_size);
         },
         kNone},
        {"raw data past the mapped page", nothing,
         [&](Bytes& b, const PeImage& i) {
             const auto& s = ResourceSection(i);
             copy_block_to(b, i, s.raw_offset + 0x1200);
             b.resize(s.raw_offset + 0x1400);
             PutLe32(b, s.header + 16, 0x1400);
             PutLe32(b, i.layout.languages[0].data_entry, s.rva + 0x1200);
         },
         kNone},
        {"raw data inside a larger mapped page", nothing,
         [&](Bytes& b, const PeImage& i) {
             const auto& s = ResourceSection(i);
             copy_block_to(b, i, s.raw_offset + 0x1200);
             b.resize(s.raw_offset + 0x1400);
             PutLe32(b, s.header + 16, 0x1400);
             PutLe32(b, s.header + 8, 0x1300);
             PutLe32(b, i.layout.optional_header + 56, s.rva + 0x2000); // SizeOfImage
             PutLe32(b, i.layout.languages[0].data_entry, s.rva + 0x1200);
         },
         "1.2.3.4"},
        {"block running from the raw data into zero fill", nothing,
         [&](Bytes& b, const PeImage& i) {
             const auto& s = ResourceSection(i);
             const std::size_t at = s.raw_offset + s.raw_size - 48;
             copy_block_to(b, i, at);
             b.resize(s.raw_offset + s.raw_size);
             PutLe32(b, s.header + 8, 0x800);
             PutLe32(b, i.layout.languages[0].data_entry, s.rva + s.raw_size - 48);
         },
         kNone},
        {"resource directory in the headers", [](PeOptions& o) { o.header_slack = 0x200; },
         [](Bytes& b, const PeImage& i) {
             const std::size_t at = (i.layout.section_table_end + 15) & ~std::size_t{15};
             std::copy(b.begin() + i.layout.resource_root, b.begin() + i.layout.resource_tree_end,
                       b.begin() + at);
             std::fill(b.begin() + i.layout.resource_root, b.begin() + i.layout.resource_tree_end,
                       0);
             PutLe32(b, i.layout.resource_directory, static_cast<std::uint32_t>(at));
         },
         "1.2.3.4"},
        {"version data in the headers", [](PeOptions& o) { o.header_slack = 0x200; },
         [&](Bytes& b, const PeImage& i) {
             const std::size_t at = (i.layout.section_table_end + 15) & ~std::size_t{15};
             copy_block_to(b, i, at);
             PutLe32(b, i.layout.languages[0].data_entry, static_cast<std::uint32_t>(at));
         },
         "1.2.3.4"},
        {"directory past SizeOfHeaders", [](PeOptions& o) { o.header_slack = 0x200; },
         [](Bytes& b, const PeImage& i) {
             const std::size_t at = (i.layout.section_table_end + 15) & ~std::size_t{15};
             std::copy(b.begin() + i.layout.resource_root, b.begin() + i.layout.resource_tree_end,
                       b.begin() + at);
             PutLe32(b, i.layout.resource_directory, static_cast<std::uint32_t>(at));
             PutLe32(b, i.layout.size_of_headers_field, static_cast<std::uint32_t>(at));
         },
         kNone},
        {"a later section over the resource section",
         [](PeOptions& o) { o.section_after_resources = true; },
         [](Bytes& b, const PeImage& i) {
             PutLe32(b, i.layout.sections.back().header + 12, ResourceSection(i).rva);
         },
         kNone},
        {"a later section without access over the resource section",
         [](PeOptions& o) { o.section_after_resources = true; },
         [](Bytes& b, const PeImage& i) {
             PutLe32(b, i.layout.sections.back().header + 12, ResourceSection(i).rva);
             PutLe32(b, i.layout.sections.back().header + 36, 0x02000000); // discardable only
         },
         kNone},
        // Images the loader refuses are read by the version API itself, from the raw data.
        {"refused image: SizeOfImage too small", nothing,
         [](Bytes& b, const PeImage& i) { PutLe32(b, i.layout.optional_header + 56, 0x1000); },
         "1.2.3.4"},
        {"refused image (SizeOfImage): resource directory in the headers",
         [](PeOptions& o) { o.header_slack = 0x200; },
         [](Bytes& b, const PeImage& i) {
             PutLe32(b, i.layout.optional_header + 56, 0x1000);
             const std::size_t at = (i.layout.section_table_end + 15) & ~std::size_t{15};
             std::copy(b.begin() + i.layout.resource_root, b.begin() + i.layout.resource_tree_end,
                       b.begin() + at);
             PutLe32(b, i.layout.resource_directory, static_cast<std::uint32_t>(at));
         },
         kNone},
        {"refused image: resource directory in the headers",
         [](PeOptions& o) { o.header_slack = 0x200; },
         [](Bytes& b, const PeImage& i) {
             b[i.layout.nt_headers + 2] = 1;
             const std::size_t at = (i.layout.section_table_end + 15) & ~std::size_t{15};
             std::copy(b.begin() + i.layout.resource_root, b.begin() + i.layout.resource_tree_end,
                       b.begin() + at);
             PutLe32(b, i.layout.resource_directory, static_cast<std::uint32_t>(at));
         },
         kNone},
        {"refused image: raw data off its sector start", nothing,
         [](Bytes& b, const PeImage& i) {
             b[i.layout.nt_headers + 2] = 1;
             PutLe32(b, ResourceSection(i).header + 20, ResourceSection(i).raw_offset + 1);
         },
         kNone},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(pe32_plus ? "PE32+ " : "PE32 ") + c.name);
            PeOptions options = Options(pe32_plus);
            c.options(options);
            const PeImage image = BuildPe(options);
            Bytes bytes = image.bytes;
            c.change(bytes, image);
            EXPECT_EQ(VersionOf(bytes), c.expected);
        }
    }
}

TEST(FileVersionTest, SearchesIdsAsTheLoaderDoes) {
    // Entries out of order: a binary search for RT_VERSION misses it, as the loader's does.
    PeOptions options = Options(false);
    options.other_types = {{3, u""}, {24, u""}}; // root: 3, 16, 24
    const PeImage image = BuildPe(options);
    Bytes bytes = image.bytes;
    const std::size_t entries = image.layout.resource_root + 16;
    std::swap_ranges(bytes.begin() + entries + 8, bytes.begin() + entries + 16,
                     bytes.begin() + entries + 16); // 3, 24, 16
    EXPECT_EQ(VersionOf(image.bytes), "1.2.3.4");
    EXPECT_EQ(VersionOf(bytes), kNone);
}

TEST(FileVersionTest, DirectoriesPointingBackUpEnd) {
    struct Case {
        const char* name;
        std::function<void(Bytes&, const testing::PeLayout&)> corrupt;
    };
    const std::uint32_t kRootDirectory = 0x80000000u;
    const Case cases[] = {
        {"RT_VERSION to the root",
         [&](Bytes& b, const testing::PeLayout& l) {
             PutLe32(b, l.version_type_entry + 4, kRootDirectory);
         }},
        {"VS_VERSION_INFO to the root",
         [&](Bytes& b, const testing::PeLayout& l) {
             PutLe32(b, l.version_id_entry + 4, kRootDirectory);
         }},
        {"VS_VERSION_INFO to its own directory",
         [&](Bytes& b, const testing::PeLayout& l) {
             PutLe32(b, l.version_id_entry + 4,
                     kRootDirectory |
                         static_cast<std::uint32_t>(l.version_type_directory - l.resource_root));
         }},
        {"language to the root as a directory",
         [&](Bytes& b, const testing::PeLayout& l) {
             PutLe32(b, l.languages[0].entry + 4, kRootDirectory);
         }},
        {"language to the root as data",
         [&](Bytes& b, const testing::PeLayout& l) { PutLe32(b, l.languages[0].entry + 4, 0); }},
        {"every level to the root",
         [&](Bytes& b, const testing::PeLayout& l) {
             PutLe32(b, l.version_type_entry + 4, kRootDirectory);
             PutLe32(b, l.version_id_entry + 4, kRootDirectory);
             PutLe32(b, l.languages[0].entry + 4, kRootDirectory);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PeImage image = BuildPe(Options(false));
        Bytes bytes = image.bytes;
        c.corrupt(bytes, image.layout);
        EXPECT_EQ(VersionOf(bytes), kNone);
    }
}

// Whether a copy of `image` cut to `length` bytes keeps its version for the version API.
// The loader maps an image whose last section ends inside the file's final 512-byte
// sector; when it refuses, the version API reads the file itself and needs the whole
// resource section.
bool KeepsVersionWhenCut(const PeImage& image, std::size_t length) {
    std::size_t last_pointer = 0;
    std::size_t last_end = 0;
    for (const auto& section : image.layout.sections) {
        last_pointer = std::max<std::size_t>(last_pointer, section.raw_offset);
        last_end = std::max<std::size_t>(last_end, section.raw_offset + section.raw_size);
    }
    const auto& resources = ResourceSection(image);
    const bool loads = length > last_pointer && length > ((last_end - 1) & ~std::size_t{0x1FF});
    return loads || length >= resources.raw_offset + resources.raw_size;
}

TEST(FileVersionTest, TruncatedAtEveryLength) {
    const std::pair<const char*, std::function<void(PeOptions&)>> layouts[] = {
        {"resources last", [](PeOptions&) {}},
        {"resources first", [](PeOptions& o) { o.resources_first = true; }},
        {"section after",
         [](PeOptions& o) {
             o.section_after_resources = true;
             o.other_types = {{0, u"CONFIG"}, {3, u""}};
         }},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const auto& [name, change] : layouts) {
            SCOPED_TRACE(std::string(pe32_plus ? "PE32+ " : "PE32 ") + name);
            PeOptions options = Options(pe32_plus);
            change(options);
            const PeImage image = BuildPe(options);
            for (std::size_t length = 0; length <= image.bytes.size(); ++length) {
                SCOPED_TRACE(length);
                const auto expected = KeepsVersionWhenCut(image, length)
                                          ? std::optional<std::string>("1.2.3.4")
                                          : kNone;
                const Bytes cut(image.bytes.begin(), image.bytes.begin() + length);
                ASSERT_EQ(VersionOf(cut), expected);
                // A read error is not a short file: it may lose the version, never change it.
                FailingFile failing(image.bytes, length);
                const auto read = VersionOf(failing);
                ASSERT_TRUE(read == kNone || read == std::optional<std::string>("1.2.3.4"));
            }
        }
    }
}

TEST(FileVersionTest, TruncationThresholdsOfTheResourceSection) {
    // Spelled out for the default image: .rsrc is the last section, raw data at 0x400-0x800.
    const PeImage image = BuildPe(Options(false));
    ASSERT_EQ(ResourceSection(image).raw_offset + ResourceSection(image).raw_size, 0x800u);
    ASSERT_EQ(image.bytes.size(), 0x800u);
    const auto cut = [&](std::size_t length) {
        return VersionOf(Bytes(image.bytes.begin(), image.bytes.begin() + length));
    };
    EXPECT_EQ(cut(0x7FF), "1.2.3.4");
    EXPECT_EQ(cut(0x601), "1.2.3.4"); // the last sector started: the loader still maps it
    EXPECT_EQ(cut(0x600), kNone);     // a whole sector missing
    EXPECT_EQ(cut(image.layout.languages[0].fixed_info + 52), kNone);
}

TEST(FileVersionTest, RetriesShortReads) {
    for (const bool pe32_plus : {false, true}) {
        PeOptions options = Options(pe32_plus);
        options.other_types = {{0, u"CONFIG"}, {3, u""}};
        TricklingFile file(BuildPe(options).bytes);
        EXPECT_EQ(VersionOf(file), "1.2.3.4");
    }
}

TEST(FileVersionTest, ReadsLittleOfALargeFile) {
    for (const bool pe32_plus : {false, true}) {
        SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
        PeOptions options = Options(pe32_plus);
        options.gap_before_resources = 32u << 20;
        const PeImage image = BuildPe(options);
        ASSERT_GT(ResourceSection(image).raw_offset, 32u << 20);
        MemoryFile file(image.bytes);
        EXPECT_EQ(VersionOf(file), "1.2.3.4");
        EXPECT_LT(file.bytes_read(), 4096u);
    }
}

// Random corruptions of valid images, for the sanitizers: whatever the bytes, the reader
// returns, without reading outside the file or crashing.
TEST(FileVersionTest, SurvivesRandomCorruption) {
    std::vector<PeImage> images;
    for (const bool pe32_plus : {false, true}) {
        PeOptions options = Options(pe32_plus);
        images.push_back(BuildPe(options));
        options.other_types = {{0, u"CONFIG"}, {3, u""}, {24, u""}};
        options.version_names = {u"EXTRA"};
        options.languages = {{0x0407, {}}, {0x0409, {}}, {0x040C, {}}};
        options.section_after_resources = true;
        images.push_back(BuildPe(options));
        options.resources_first = true;
        images.push_back(BuildPe(options));
    }
    std::mt19937 random(20240611);
    const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    int with_version = 0;
    for (int round = 0; round < 4000; ++round) {
        const PeImage& image = images[below(images.size())];
        Bytes bytes = image.bytes;
        const std::size_t headers = image.layout.section_table_end;
        const std::size_t tree = image.layout.resource_root;
        const std::size_t end = image.layout.languages.back().fixed_info + 52;
        for (std::size_t n = 1 + below(4); n > 0; --n) {
            // Mostly where the reader looks: headers, resource tree, version blocks.
            const std::size_t at = below(3) == 0 ? below(headers) : tree + below(end - tree);
            switch (below(4)) {
            case 0:
                bytes[at] = static_cast<unsigned char>(random());
                break;
            case 1:
                bytes[at] ^= static_cast<unsigned char>(1u << below(8));
                break;
            default: {
                const std::uint32_t values[] = {0,
                                                0xFFFFFFFF,
                                                0x80000000,
                                                0x7FFFFFFF,
                                                0x00010000,
                                                static_cast<std::uint32_t>(random() % 0x4000),
                                                static_cast<std::uint32_t>(random()) | 0x80000000u};
                PutLe32(bytes, std::min(at & ~std::size_t{3}, bytes.size() - 4),
                        values[below(std::size(values))]);
            }
            }
        }
        if (below(8) == 0) bytes.resize(below(bytes.size()));
        MemoryFile file(bytes);
        if (ReadFixedFileVersion(file)) ++with_version;
    }
    // Most corruptions miss the bytes that matter, so most rounds must still get through.
    EXPECT_GT(with_version, 2000);
}

// The certificate table is data directory 4, two entries after the resources; the headers
// read for the version tell of it too, in a file without resources as well.
TEST(SignatureTest, TheCertificateTableIsFoundWithOrWithoutResources) {
    const auto is_signed = [](const Bytes& bytes) {
        MemoryFile file(bytes);
        return HasAuthenticodeSignature(file);
    };
    for (const bool pe32_plus : {false, true}) {
        for (const bool resources : {true, false}) {
            PeOptions options = Options(pe32_plus);
            options.resources = resources;
            const PeImage image = BuildPe(options);
            Bytes bytes = image.bytes;
            EXPECT_FALSE(is_signed(bytes));
            PutLe32(bytes, image.layout.resource_directory + 2 * 8 + 4, 0x200);
            EXPECT_TRUE(is_signed(bytes));
            EXPECT_EQ(VersionOf(bytes), resources ? VersionOf(image.bytes) : kNone);
        }
    }
}

} // namespace
} // namespace tervan
