// Faults the fuzz targets in tests/fuzz found, each kept as an ordinary test with its input
// built here, so the suite catches them again without the fuzzer.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/pe_reader.hpp"
#include "tests/engine/memory_file.hpp"
#include "tests/engine/pe_builder.hpp"

namespace tervan {
namespace {

using testing::BuildPe;
using testing::MemoryFile;
using testing::PeImage;
using testing::PeOptions;
using testing::PutLe16;
using testing::PutLe32;
using Bytes = std::vector<unsigned char>;
using testing::VersionOf;

// Read call number `failing` (from 0) fails with -1, as a flaky disk or network share may;
// the calls before and after it succeed.
class OneFailingReadFile : public File {
public:
    OneFailingReadFile(const Bytes& bytes, int failing) : inner_(bytes), failing_(failing) {}
    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        return calls_++ == failing_ ? -1 : inner_.read_at(offset, buffer, size);
    }
    bool write(const void*, std::size_t) override { return false; }
    bool flush() override { return false; }
    int calls() const { return calls_; }

private:
    MemoryFile inner_;
    int failing_;
    int calls_ = 0;
};

// A read error is not the end of the file. The reader decides whether the loader would map
// the image by reading the bytes at the end of the last section; when that read fails it
// took the file for a short one, went over to the version API's own layout, and reported
// the version that layout shows, though the image as mapped has another one or none.
// (pe_version fuzzer: "a failed read gives a version that an intact read does not".)
TEST(FuzzRegressionTest, AFailedReadGivesNoVersionOrTheIntactOne) {
    for (const bool pe32_plus : {false, true}) {
        SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
        PeOptions options;
        options.pe32_plus = pe32_plus;
        options.languages[0].block.file_ms = 0x00010002; // 1.2.3.4
        options.languages[0].block.file_ls = 0x00030004;
        options.section_after_resources = true;
        const PeImage image = BuildPe(options);
        // .reloc mapped over .rsrc: the loader's image has no version there, while the
        // version API's own reader, which takes the first section holding an RVA, finds it.
        Bytes bytes = image.bytes;
        const auto& resources = image.layout.sections.at(image.layout.resource_section);
        PutLe32(bytes, image.layout.sections.back().header + 12, resources.rva);

        OneFailingReadFile intact(bytes, -1);
        const auto expected = VersionOf(intact);
        ASSERT_EQ(expected, std::nullopt);
        for (int failing = 0; failing < intact.calls(); ++failing) {
            SCOPED_TRACE("read call " + std::to_string(failing) + " fails");
            OneFailingReadFile file(bytes, failing);
            const auto version = VersionOf(file);
            if (version) {
                EXPECT_EQ(version, expected);
            }
        }
    }
}

// A PE32 image of `sections` sections of one page each, RVAs from 0x1000 on, whose version
// resource's language directory is as large as a directory can be: 131070 entries, 1 MiB,
// filling sections 1 to 256. All but the last entry are subdirectories, which a language
// lookup passes over, so the version is reached through the first data entry, the last.
// The sections after the directory are there only to make the section table long; the
// entry sections and they share one page of raw data, so the file stays small (about
// 40 bytes a section).
Bytes LargeDirectoryImage(std::uint32_t sections) {
    constexpr std::uint32_t kPage = 0x1000;
    constexpr std::size_t kOptional = 0x58; // optional header: after DOS header, "PE\0\0", COFF
    constexpr std::size_t kTable = kOptional + 224;
    constexpr std::uint32_t kSkipped = 0x80000018; // a subdirectory: the type directory
    constexpr std::uint32_t kDataEntry = 0x30;     // from the resource root
    constexpr std::uint32_t kBlock = 0x40;
    const std::uint32_t headers = (kTable + 40 * sections + 0x1FF) & ~0x1FFu;
    const std::uint32_t rsrc_raw = headers;             // section 0: the tree and the block
    const std::uint32_t shared_raw = headers + kPage;   // entries only
    const std::uint32_t last_raw = headers + 2 * kPage; // entries, the data entry last
    Bytes b(last_raw + kPage, 0);

    b[0] = 'M';
    b[1] = 'Z';
    PutLe32(b, 0x3C, 0x40);
    b[0x40] = 'P';
    b[0x41] = 'E';
    PutLe16(b, 0x44, 0x14C);
    PutLe16(b, 0x46, sections);
    PutLe16(b, 0x54, 224);
    PutLe16(b, 0x56, 0x0103);
    PutLe16(b, kOptional, 0x10B);
    PutLe32(b, kOptional + 32, kPage);
    PutLe32(b, kOptional + 36, 0x200);
    PutLe32(b, kOptional + 56, kPage * (sections + 1)); // SizeOfImage
    PutLe32(b, kOptional + 60, headers);
    PutLe32(b, kOptional + 92, 16);
    PutLe32(b, kOptional + 112, kPage); // resource directory: section 0
    PutLe32(b, kOptional + 116, kPage);
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::size_t h = kTable + 40 * i;
        PutLe32(b, h + 8, kPage);
        PutLe32(b, h + 12, kPage * (i + 1));
        PutLe32(b, h + 16, kPage);
        PutLe32(b, h + 20, i == 0 ? rsrc_raw : i == 256 ? last_raw : shared_raw);
        PutLe32(b, h + 36, 0x40000040); // initialized data, read
    }

    // Root: RT_VERSION at 0x18; its directory: ID 1 at the language directory, whose
    // header takes the last 16 bytes of the page so that its entries start at section 1.
    const std::size_t root = rsrc_raw;
    PutLe16(b, root + 14, 1);
    PutLe32(b, root + 16, 16);
    PutLe32(b, root + 20, 0x80000018);
    PutLe16(b, root + 0x18 + 14, 1);
    PutLe32(b, root + 0x18 + 16, 1);
    PutLe32(b, root + 0x18 + 20, 0x80000000 | (kPage - 16));
    PutLe16(b, root + kPage - 4, 0xFFFF); // named entries
    PutLe16(b, root + kPage - 2, 0xFFFF); // ID entries
    for (std::size_t at = 0; at < kPage; at += 8) {
        for (const std::uint32_t raw : {shared_raw, last_raw}) {
            PutLe32(b, raw + at, 0x1234); // no language a lookup asks for
            PutLe32(b, raw + at + 4, kSkipped);
        }
    }
    PutLe32(b, last_raw + kPage - 16 - 8 + 4, kDataEntry); // entry 131069, the last

    testing::VersionBlock block;
    block.file_ms = 0x00010002; // 1.2.3.4
    block.file_ls = 0x00030004;
    const Bytes version = testing::pe_builder_detail::VersionResource(block, 0x0409);
    PutLe32(b, root + kDataEntry, kPage + kBlock);
    PutLe32(b, root + kDataEntry + 4, static_cast<std::uint32_t>(version.size()));
    EXPECT_LT(kBlock + version.size(), kPage - 16);
    std::copy(version.begin(), version.end(), b.begin() + root + kBlock);
    return b;
}

// The bytes read stay within what one pass over the headers and directories takes: here a
// section table of 160 KiB and a language directory of 1 MiB. The reader looked each RVA's
// section up in the section table through read_at, the whole table again every time a read
// left the section of the read before, so the bytes it read grew as the table's size times
// the sections a lookup crosses: about 50 MiB here, from a 172 KiB file, and with a table of
// 65535 sections hundreds of MiB. (pe_version fuzzer: "more than 4 MiB read in one call".)
TEST(FuzzRegressionTest, ReadsTheSectionTableOnce) {
    const Bytes bytes = LargeDirectoryImage(4096);
    ASSERT_LT(bytes.size(), 200u << 10);
    MemoryFile file(bytes);
    EXPECT_EQ(VersionOf(file), "1.2.3.4");
    const std::uint64_t table = 40 * 4096;
    const std::uint64_t directory = 131070 * 8;
    EXPECT_LE(file.bytes_read(), table + directory + 64 * 1024);
}

// The fuzz input's 73 bytes, repeated to a 4 MiB file: "MZ" and "PE\0\0" at 0x10, a PE32+
// header claiming 65280 sections, whose table (2.5 MiB) the repetition fills in. The image
// does not fit its SizeOfImage, so the reader takes the version API's own layout, and
// looking for the resource section there read the whole table a second time.
// (pe_version fuzzer: "more than 4 MiB read in one call", periodic file mode.)
TEST(FuzzRegressionTest, AnImageTheLoaderRefusesReadsItsSectionTableOnce) {
    const Bytes period = {
        0x4d, 0x5a, 0x30, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00,
        0x00, 0x50, 0x45, 0x00, 0x00, 0x64, 0x86, 0x00, 0xff, 0xff, 0xff, 0x64, 0x65, 0x00, 0x00,
        0x00, 0xff, 0xfa, 0x00, 0x00, 0x00, 0xf0, 0x00, 0x23, 0x00, 0x0b, 0x02, 0x0e, 0x00, 0x00,
        0x31, 0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0xb4, 0x09, 0x00, 0x00,
    };
    Bytes bytes;
    while (bytes.size() < (4u << 20))
        bytes.insert(bytes.end(), period.begin(), period.end());
    bytes.resize(4u << 20);
    MemoryFile file(bytes);
    EXPECT_EQ(VersionOf(file), std::nullopt);
    const std::uint64_t table = 40 * 65280;
    EXPECT_LE(file.bytes_read(), table + 64 * 1024);
}

} // namespace
} // namespace tervan
