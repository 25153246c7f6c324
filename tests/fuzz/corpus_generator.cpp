// Writes the seed corpora of both fuzz targets: complete PE32 and PE32+ images from the
// test suite's builder in the layouts the reader distinguishes (resource placement,
// languages, names, block variants, the loader's and the version API's own layout), their
// truncations at the structures' edges, and the same images under the other read_at
// behaviours; and the spellings of the access code and the edges of the number reading.
//
//   corpus_generator <pe corpus folder> <access code corpus folder>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/engine/pe_builder.hpp"
#include "tests/fuzz/pe_input.hpp"

namespace {

using tervan::fuzz::ModeByte;
using tervan::fuzz::ReadKind;
using tervan::testing::BuildPe;
using tervan::testing::PeImage;
using tervan::testing::PeOptions;
using tervan::testing::PutLe32;
using Bytes = std::vector<unsigned char>;

int written = 0;

void Write(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
    std::ofstream out(folder / ("seed-" + name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "corpus_generator: cannot write %s\n", name.c_str());
        std::exit(1);
    }
    ++written;
}

void WritePe(const std::filesystem::path& folder, const std::string& name, const Bytes& file,
             ReadKind kind = ReadKind::kPlain, unsigned parameter = 0) {
    Bytes input{ModeByte(kind, parameter)};
    input.insert(input.end(), file.begin(), file.end());
    Write(folder, name, input);
}

struct Layout {
    std::string name;
    PeOptions options;
};

std::vector<Layout> Layouts(bool pe32_plus) {
    std::vector<Layout> layouts;
    const auto add = [&](std::string name, auto change) {
        PeOptions options;
        options.pe32_plus = pe32_plus;
        options.languages[0].block.file_ms = 0x00010002;
        options.languages[0].block.file_ls = 0x00030004;
        change(options);
        layouts.push_back({std::move(name), options});
    };
    add("default", [](PeOptions&) {});
    add("rsrc-first", [](PeOptions& o) { o.resources_first = true; });
    add("many-sections", [](PeOptions& o) {
        o.sections_before_resources = 3;
        o.section_after_resources = true;
    });
    add("gap", [](PeOptions& o) { o.gap_before_resources = 0x1000; });
    add("header-slack", [](PeOptions& o) { o.header_slack = 0x400; });
    add("other-types", [](PeOptions& o) {
        o.other_types = {{0, u"CONFIG"}, {3, u""}, {24, u""}};
        o.version_names = {u"EXTRA"};
    });
    add("three-languages", [](PeOptions& o) {
        o.languages = {{0x0407, {}}, {0x0409, {}}, {0x040C, {}}};
        o.languages[1].block.file_ms = 0x00050006;
    });
    add("neutral", [](PeOptions& o) { o.languages[0].language = 0x0000; });
    add("english", [](PeOptions& o) { o.languages[0].language = 0x0009; });
    add("japanese-only", [](PeOptions& o) {
        o.languages = {{0x0411, {}}, {0x0804, {}}};
        o.languages[0].block.file_ls = 7;
    });
    add("version-id-2", [](PeOptions& o) { o.version_id = 2; });
    add("no-version", [](PeOptions& o) {
        o.version = false;
        o.other_types = {{3, u""}};
    });
    add("no-resources", [](PeOptions& o) { o.resources = false; });
    add("odd-key", [](PeOptions& o) {
        o.languages[0].block.key = u"VS_VERSION_INFORMATION_KEY";
        o.languages[0].block.signature = 0;
    });
    add("short-value", [](PeOptions& o) { o.languages[0].block.value_length = 51; });
    add("text-type", [](PeOptions& o) { o.languages[0].block.type = 1; });
    add("narrow-layout", [](PeOptions& o) { o.languages[0].block.type = 'V'; });
    add("no-children", [](PeOptions& o) { o.languages[0].block.children = false; });
    add("max-version", [](PeOptions& o) {
        o.languages[0].block.file_ms = 0xFFFFFFFF;
        o.languages[0].block.file_ls = 0xFFFFFFFF;
    });
    add("zero-version", [](PeOptions& o) {
        o.languages[0].block.file_ms = 0;
        o.languages[0].block.file_ls = 0;
    });
    return layouts;
}

void WritePeCorpus(const std::filesystem::path& folder) {
    for (const bool pe32_plus : {false, true}) {
        const std::string format = pe32_plus ? "pe32plus-" : "pe32-";
        for (const Layout& layout : Layouts(pe32_plus)) {
            const PeImage image = BuildPe(layout.options);
            const Bytes& bytes = image.bytes;
            const std::string name = format + layout.name;
            WritePe(folder, name, bytes);
            if (layout.name != "default" && layout.name != "three-languages") continue;

            // Cut where a structure ends, or one byte short of it.
            const auto& l = image.layout;
            const auto cut = [&](const std::string& where, std::size_t length) {
                if (length < bytes.size()) {
                    WritePe(folder, name + "-cut-" + where,
                            Bytes(bytes.begin(), bytes.begin() + length));
                }
            };
            cut("optional-header", l.resource_directory + 7);
            cut("section-table", l.section_table_end - 1);
            cut("resource-root", l.resource_root + 15);
            cut("language-directory", l.language_directory + 16);
            cut("fixed-info", l.languages[0].fixed_info + 51);
            cut("last-sector", bytes.size() - 0x200);
            cut("last-byte", bytes.size() - 1);

            // The version API's own layout: no "PE\0\0", or a section that does not fit.
            Bytes unloadable = bytes;
            unloadable[l.nt_headers + 2] = 'X';
            WritePe(folder, name + "-pe-only", unloadable);
            Bytes unfit = bytes;
            PutLe32(unfit, l.optional_header + 56, 0x1000); // SizeOfImage
            WritePe(folder, name + "-small-image", unfit);
            Bytes unreadable = bytes;
            PutLe32(unreadable, l.sections.at(l.resource_section).header + 36, 0x00000040);
            WritePe(folder, name + "-no-access", unreadable);

            // The same image under the other read_at behaviours.
            for (const unsigned most : {0u, 2u, 7u, 63u}) {
                WritePe(folder, name + "-short-" + std::to_string(most), bytes, ReadKind::kShort,
                        most);
            }
            for (const unsigned call : {0u, 1u, 2u, 3u, 4u, 6u, 8u, 12u, 16u, 24u}) {
                WritePe(folder, name + "-fail-" + std::to_string(call), bytes, ReadKind::kFailing,
                        call);
            }
            WritePe(folder, name + "-periodic-1m", bytes, ReadKind::kPeriodic, 0);
            WritePe(folder, name + "-periodic-64m", bytes, ReadKind::kPeriodic, 63);
        }
    }
    // Not PE at all.
    WritePe(folder, "empty", {});
    WritePe(folder, "mz-only", {'M', 'Z'});
    Bytes dos(0x40, 0);
    dos[0] = 'M';
    dos[1] = 'Z';
    WritePe(folder, "dos-header", dos);
}

void WriteAccessCorpus(const std::filesystem::path& folder) {
    const std::initializer_list<const char*> entries = {
        // The spellings of the access code.
        "503816",
        " 50 38 16 ",
        "5.03816E5",
        "&H7B008",
        "&O1730010",
        "503816.00",
        "503816abc",
        "503816\t",
        "\n503816",
        "+503816",
        "5038.16e2",
        "50381600D-2",
        "0.503816e+6",
        "503816.0000000000000001",
        "&h7b008",
        "&o1730010",
        "5 0 3 8 1 6",
        "503816\xE5\x86\x86",
        // Near misses.
        "503817",
        "-503816",
        "503815.99999999999",
        "&H7B009",
        "5038 1 6 7",
        "\r503816",
        // Radix literals at the 16-bit and 32-bit edges.
        "&H7FFF",
        "&H8000",
        "&HFFFF",
        "&H10000",
        "&H7FFFFFFF",
        "&H80000000",
        "&HFFFFFFFF",
        "&H100000000",
        "&H0000000000000000000001",
        "&O77777",
        "&O100000",
        "&O177777",
        "&O37777777777",
        "&O40000000000",
        "&H",
        "&O",
        "&",
        "&HG",
        "&O8",
        "&B101",
        "&H 7B 008",
        // Decimal edges: signs, points, exponents, range.
        "",
        " ",
        "0",
        "-0",
        "+",
        "-",
        ".",
        "-.",
        "..5",
        "1.2.3",
        "1E",
        "1E+",
        "1E-",
        "1EE3",
        "1E3.5",
        "1D3",
        "1d-3",
        "-1.5D+2",
        "1e308",
        "1.7976931348623157e308",
        "1.7976931348623159e308",
        "1e309",
        "-1e309",
        "1e-400",
        "4.9e-324",
        "2.4703282292062328e-324",
        "1E0000000000000000000003",
        "1e99999999999999999999",
        "1e-99999999999999999999",
        "0x1p3",
        "0x10",
        "inf",
        "nan",
        "INFINITY",
        "1,5",
        "12+34",
        "5%",
        "1_000",
        "\xEF\xBC\x95\xEF\xBC\x90",
        "\xE3\x80\x80"
        "12",
    };
    int n = 0;
    for (const char* entry : entries) {
        const std::string text(entry);
        Write(folder, "access-" + std::to_string(n++), Bytes(text.begin(), text.end()));
    }
    // Long digit strings: many digits before and after the point and in the exponent.
    const auto repeat = [](char c, std::size_t count) { return std::string(count, c); };
    const std::string longs[] = {
        repeat('9', 400),
        "503816." + repeat('0', 1000) + "1",
        "0." + repeat('0', 320) + "503816e326",
        repeat('0', 2000) + "503816",
        "1e" + repeat('0', 1000) + "5",
        "&H" + repeat('0', 1000) + "7B008",
        repeat(' ', 2000) + "503816" + repeat(' ', 2000),
        "1" + repeat('0', 308),
        "1" + repeat('0', 309),
    };
    for (const std::string& text : longs) {
        Write(folder, "access-" + std::to_string(n++), Bytes(text.begin(), text.end()));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: corpus_generator <pe corpus folder> <access code corpus folder>\n");
        return 2;
    }
    const std::filesystem::path pe = argv[1];
    const std::filesystem::path access = argv[2];
    std::filesystem::create_directories(pe);
    std::filesystem::create_directories(access);
    WritePeCorpus(pe);
    const int pe_seeds = written;
    WriteAccessCorpus(access);
    std::printf("corpus_generator: %d PE seeds in %s, %d access code seeds in %s\n", pe_seeds,
                pe.c_str(), written - pe_seeds, access.c_str());
    return 0;
}
