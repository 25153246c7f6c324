// Builds small, complete PE32 and PE32+ images in memory with a resource section holding
// version information, for the version reader's tests. The images are what a linker and a
// resource compiler would produce (headers, DOS stub, aligned sections, checksum), so the
// same fixtures can be written to disk and read by the Windows version API for comparison.
// The layout of every header and resource structure is returned with the bytes, for tests
// that truncate or corrupt an image.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tervan::testing {

inline void PutLe16(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    bytes.at(at) = static_cast<unsigned char>(value);
    bytes.at(at + 1) = static_cast<unsigned char>(value >> 8);
}

inline void PutLe32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    PutLe16(bytes, at, value & 0xFFFF);
    PutLe16(bytes, at + 2, value >> 16);
}

inline void PutLe64(std::vector<unsigned char>& bytes, std::size_t at, std::uint64_t value) {
    PutLe32(bytes, at, static_cast<std::uint32_t>(value));
    PutLe32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint32_t GetLe32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes.at(at)) | (std::uint32_t{bytes.at(at + 1)} << 8) |
           (std::uint32_t{bytes.at(at + 2)} << 16) | (std::uint32_t{bytes.at(at + 3)} << 24);
}

// The version blocks placed where a reader must not look carry these fixed versions, so a
// wrong choice shows as a wrong version rather than as no version.
inline constexpr std::uint32_t kOtherTypeVersion = 0x00620062;  // 98.98.98.98, other types
inline constexpr std::uint32_t kNamedEntryVersion = 0x00630063; // 99.99.99.99, named entries

struct VersionBlock {
    std::uint32_t file_ms = 0x00010000;
    std::uint32_t file_ls = 0;
    std::optional<std::uint32_t> product_ms; // the file version when unset
    std::optional<std::uint32_t> product_ls;
    // StringFileInfo strings; derived from the fixed versions when empty.
    std::u16string file_version_text;
    std::u16string product_version_text;
    std::u16string key = u"VS_VERSION_INFO";
    std::uint32_t signature = 0xFEEF04BD;
    std::uint16_t value_length = 52; // wValueLength; the value itself is always 52 bytes
    std::uint16_t type = 0;          // wType
    bool children = true;            // StringFileInfo and VarFileInfo after the value
};

struct VersionLanguage {
    std::uint16_t language = 0x0409;
    VersionBlock block;
};

// A resource type besides RT_VERSION, holding one resource (ID 1, language 0x0409).
struct OtherResourceType {
    std::uint16_t id = 0;
    std::u16string name; // a named type when not empty
};

struct PeOptions {
    bool pe32_plus = false;
    bool resources = true; // false: no .rsrc section, data directory [2] empty
    bool version = true;   // false: resources without RT_VERSION
    std::uint16_t version_id = 1;
    std::vector<std::u16string> version_names; // named entries ahead of version_id
    std::vector<VersionLanguage> languages = {VersionLanguage{}}; // in directory order
    std::vector<OtherResourceType> other_types;                   // sorted in with RT_VERSION
    bool resources_first = false;                                 // .rsrc as the first section
    int sections_before_resources = 0;                            // extra sections after .text
    bool section_after_resources = false;                         // a .reloc section after .rsrc
    std::uint32_t gap_before_resources = 0; // raw size of a zero-filled section before .rsrc
    std::uint32_t header_slack = 0;         // spare bytes at the end of the headers
};

struct SectionLayout {
    std::string name;
    std::size_t header = 0; // file offset of the section header
    std::uint32_t rva = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_offset = 0;
    std::uint32_t raw_size = 0;
};

// File offsets of one language's version resource.
struct LanguageLayout {
    std::uint16_t language = 0;
    std::size_t entry = 0;      // its entry in the language directory
    std::size_t data_entry = 0; // IMAGE_RESOURCE_DATA_ENTRY
    std::size_t block = 0;      // VS_VERSIONINFO
    std::uint32_t block_size = 0;
    std::size_t fixed_info = 0; // VS_FIXEDFILEINFO
};

// File offsets; resource fields are 0 when the image has none.
struct PeLayout {
    std::size_t e_lfanew_field = 0x3C;
    std::size_t nt_headers = 0; // "PE\0\0"
    std::size_t coff_header = 0;
    std::size_t optional_header = 0;
    std::size_t size_of_headers_field = 0;
    std::size_t rva_count_field = 0;    // NumberOfRvaAndSizes
    std::size_t resource_directory = 0; // data directory [2]: RVA, Size
    std::size_t section_table = 0;
    std::size_t section_table_end = 0;
    std::uint32_t size_of_headers = 0;
    std::vector<SectionLayout> sections;
    int resource_section = -1;
    std::size_t resource_root = 0;
    std::size_t version_type_entry = 0; // RT_VERSION's entry in the root directory
    std::size_t version_type_directory = 0;
    std::size_t version_id_entry = 0; // version_id's entry in RT_VERSION's directory
    std::size_t language_directory = 0;
    std::size_t resource_tree_end = 0; // directories, data entries and names; data follows
    std::vector<LanguageLayout> languages;
};

struct PeImage {
    std::vector<unsigned char> bytes;
    PeLayout layout;
};

namespace pe_builder_detail {

inline std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

inline void Append16(std::vector<unsigned char>& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<unsigned char>(value));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
}

inline void Append32(std::vector<unsigned char>& bytes, std::uint32_t value) {
    Append16(bytes, value & 0xFFFF);
    Append16(bytes, value >> 16);
}

inline void PadTo(std::vector<unsigned char>& bytes, std::size_t alignment) {
    bytes.resize(AlignUp(bytes.size(), alignment));
}

inline std::u16string VersionText(std::uint32_t ms, std::uint32_t ls) {
    const std::string text = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                             std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
    return std::u16string(text.begin(), text.end());
}

inline std::vector<unsigned char> Utf16z(const std::u16string& text) {
    std::vector<unsigned char> bytes;
    for (const char16_t c : text)
        Append16(bytes, c);
    Append16(bytes, 0);
    return bytes;
}

// One node of a version block: header, NUL-terminated key, value and children, each
// aligned to 4 bytes from the node's start.
inline std::vector<unsigned char>
VersionNode(const std::u16string& key, std::uint16_t type, std::uint16_t value_length,
            const std::vector<unsigned char>& value,
            const std::vector<std::vector<unsigned char>>& children = {}) {
    std::vector<unsigned char> node(6);
    const auto key_bytes = Utf16z(key);
    node.insert(node.end(), key_bytes.begin(), key_bytes.end());
    PadTo(node, 4);
    node.insert(node.end(), value.begin(), value.end());
    for (const auto& child : children) {
        PadTo(node, 4);
        node.insert(node.end(), child.begin(), child.end());
    }
    PutLe16(node, 0, static_cast<std::uint32_t>(node.size()));
    PutLe16(node, 2, value_length);
    PutLe16(node, 4, type);
    return node;
}

inline std::size_t FixedInfoOffset(const VersionBlock& block) {
    return AlignUp(6 + 2 * (block.key.size() + 1), 4);
}

inline std::vector<unsigned char> VersionResource(const VersionBlock& block,
                                                  std::uint16_t language) {
    const std::uint32_t product_ms = block.product_ms.value_or(block.file_ms);
    const std::uint32_t product_ls = block.product_ls.value_or(block.file_ls);
    std::vector<unsigned char> fixed;
    for (const std::uint32_t field :
         {block.signature, 0x00010000u, block.file_ms, block.file_ls, product_ms, product_ls, 0x3Fu,
          0u, 0x00040004u /* VOS_NT_WINDOWS32 */, 1u /* VFT_APP */, 0u, 0u, 0u}) {
        Append32(fixed, field);
    }
    std::vector<std::vector<unsigned char>> children;
    if (block.children) {
        const auto text = [](const std::u16string& key, const std::u16string& value) {
            return VersionNode(key, 1, static_cast<std::uint16_t>(value.size() + 1), Utf16z(value));
        };
        const auto file_text = block.file_version_text.empty()
                                   ? VersionText(block.file_ms, block.file_ls)
                                   : block.file_version_text;
        const auto product_text = block.product_version_text.empty()
                                      ? VersionText(product_ms, product_ls)
                                      : block.product_version_text;
        std::u16string table_key;
        for (const std::uint32_t part : {std::uint32_t{language}, 1200u}) { // UTF-16 code page
            for (int shift = 12; shift >= 0; shift -= 4) {
                table_key.push_back(u"0123456789abcdef"[(part >> shift) & 0xF]);
            }
        }
        const auto table = VersionNode(
            table_key, 1, 0, {},
            {text(u"CompanyName", u"Tervan"), text(u"FileDescription", u"Version reader fixture"),
             text(u"FileVersion", file_text), text(u"ProductName", u"Tervan"),
             text(u"ProductVersion", product_text)});
        children.push_back(VersionNode(u"StringFileInfo", 1, 0, {}, {table}));
        std::vector<unsigned char> translation;
        Append16(translation, language);
        Append16(translation, 1200);
        children.push_back(VersionNode(u"VarFileInfo", 1, 0, {},
                                       {VersionNode(u"Translation", 0, 4, translation)}));
    }
    return VersionNode(block.key, block.type, block.value_length, fixed, children);
}

// A resource directory tree. Directories are kept in breadth-first order, which is the
// order they are written in, as resource compilers do.
struct ResourceEntry {
    std::u16string name; // a named entry when not empty
    std::uint16_t id = 0;
    int directory = -1; // index into ResourceTree::directories, or
    int leaf = -1;      // index into ResourceTree::leaves
};

struct ResourceTree {
    std::vector<std::vector<ResourceEntry>> directories;
    std::vector<std::vector<unsigned char>> leaves;
};

struct LanguageNode {
    std::uint16_t language = 0;
    std::vector<unsigned char> data;
    int layout_index = -1; // index into PeLayout::languages
};

struct NameNode {
    std::u16string name;
    std::uint16_t id = 0;
    std::vector<LanguageNode> languages;
};

struct TypeNode {
    std::u16string name;
    std::uint16_t id = 0;
    std::vector<NameNode> names;
};

// Named entries first in name order, then IDs in ascending order.
template <typename T> void SortEntries(std::vector<T>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const T& a, const T& b) {
        if (a.name.empty() != b.name.empty()) return !a.name.empty();
        return a.name.empty() ? a.id < b.id : a.name < b.name;
    });
}

inline std::vector<TypeNode> ResourceTypes(const PeOptions& options) {
    std::vector<TypeNode> types;
    for (const auto& other : options.other_types) {
        VersionBlock decoy;
        decoy.file_ms = decoy.file_ls = kOtherTypeVersion;
        types.push_back(
            {other.name, other.id, {{u"", 1, {{0x0409, VersionResource(decoy, 0x0409)}}}}});
    }
    if (options.version) {
        TypeNode version{u"", 16, {}};
        for (const auto& name : options.version_names) {
            VersionBlock decoy;
            decoy.file_ms = decoy.file_ls = kNamedEntryVersion;
            version.names.push_back({name, 0, {{0x0409, VersionResource(decoy, 0x0409)}}});
        }
        NameNode id{u"", options.version_id, {}};
        for (std::size_t i = 0; i < options.languages.size(); ++i) {
            const auto& language = options.languages[i];
            id.languages.push_back({language.language,
                                    VersionResource(language.block, language.language),
                                    static_cast<int>(i)});
        }
        version.names.push_back(id);
        types.push_back(version);
    }
    SortEntries(types);
    for (auto& type : types)
        SortEntries(type.names);
    return types;
}

struct ResourceSection {
    std::vector<unsigned char> bytes;
    std::size_t tree_end = 0;
    std::size_t version_type_entry = 0; // offsets from the section start
    std::size_t version_type_directory = 0;
    std::size_t version_id_entry = 0;
    std::size_t language_directory = 0;
    std::vector<LanguageLayout> languages; // offsets from the section start
};

// The .rsrc contents for a section at `rva`: directories, data entries, names, then data.
inline ResourceSection BuildResources(const PeOptions& options, std::uint32_t rva) {
    const auto types = ResourceTypes(options);
    ResourceTree tree;
    struct Mark {
        int directory = -1;
        int entry = -1;
    };
    Mark version_type, version_id;
    int version_type_directory = -1, language_directory = -1;
    std::vector<std::pair<int, int>> leaf_of_language(options.languages.size()); // leaf, entry

    tree.directories.emplace_back();
    for (const auto& type : types) {
        tree.directories[0].push_back({type.name, type.id, -1, -1});
    }
    for (std::size_t t = 0; t < types.size(); ++t) {
        const int dir = static_cast<int>(tree.directories.size());
        tree.directories[0][t].directory = dir;
        tree.directories.emplace_back();
        if (types[t].name.empty() && types[t].id == 16) {
            version_type = {0, static_cast<int>(t)};
            version_type_directory = dir;
        }
        for (const auto& name : types[t].names) {
            tree.directories[dir].push_back({name.name, name.id, -1, -1});
        }
    }
    for (std::size_t t = 0; t < types.size(); ++t) {
        const int type_dir = tree.directories[0][t].directory;
        for (std::size_t n = 0; n < types[t].names.size(); ++n) {
            const int dir = static_cast<int>(tree.directories.size());
            tree.directories[type_dir][n].directory = dir;
            tree.directories.emplace_back();
            const auto& name = types[t].names[n];
            if (type_dir == version_type_directory && name.name.empty() &&
                name.id == options.version_id) {
                version_id = {type_dir, static_cast<int>(n)};
                language_directory = dir;
            }
            for (std::size_t l = 0; l < name.languages.size(); ++l) {
                const int leaf = static_cast<int>(tree.leaves.size());
                tree.leaves.push_back(name.languages[l].data);
                tree.directories[dir].push_back({u"", name.languages[l].language, -1, leaf});
                if (name.languages[l].layout_index >= 0) {
                    leaf_of_language[name.languages[l].layout_index] = {leaf, static_cast<int>(l)};
                }
            }
        }
    }

    // Offsets of everything, then the bytes.
    std::vector<std::size_t> directory_at, data_entry_at, leaf_at;
    std::size_t at = 0;
    for (const auto& dir : tree.directories) {
        directory_at.push_back(at);
        at += 16 + 8 * dir.size();
    }
    for (std::size_t i = 0; i < tree.leaves.size(); ++i) {
        data_entry_at.push_back(at);
        at += 16;
    }
    std::vector<std::vector<std::size_t>> name_at(tree.directories.size());
    for (std::size_t d = 0; d < tree.directories.size(); ++d) {
        for (const auto& entry : tree.directories[d]) {
            name_at[d].push_back(at);
            if (!entry.name.empty()) at += 2 + 2 * entry.name.size();
        }
    }
    const std::size_t tree_end = at;
    at = AlignUp(at, 8);
    for (const auto& leaf : tree.leaves) {
        leaf_at.push_back(at);
        at = AlignUp(at + leaf.size(), 8);
    }

    ResourceSection section;
    section.bytes.resize(at);
    auto& bytes = section.bytes;
    for (std::size_t d = 0; d < tree.directories.size(); ++d) {
        const auto& dir = tree.directories[d];
        const auto named = static_cast<std::uint32_t>(
            std::count_if(dir.begin(), dir.end(), [](const auto& e) { return !e.name.empty(); }));
        PutLe16(bytes, directory_at[d] + 12, named);
        PutLe16(bytes, directory_at[d] + 14, static_cast<std::uint32_t>(dir.size()) - named);
        for (std::size_t e = 0; e < dir.size(); ++e) {
            const auto& entry = dir[e];
            const std::size_t entry_at = directory_at[d] + 16 + 8 * e;
            if (entry.name.empty()) {
                PutLe32(bytes, entry_at, entry.id);
            } else {
                PutLe32(bytes, entry_at, 0x80000000u | static_cast<std::uint32_t>(name_at[d][e]));
                PutLe16(bytes, name_at[d][e], static_cast<std::uint32_t>(entry.name.size()));
                for (std::size_t c = 0; c < entry.name.size(); ++c) {
                    PutLe16(bytes, name_at[d][e] + 2 + 2 * c, entry.name[c]);
                }
            }
            if (entry.directory >= 0) {
                PutLe32(bytes, entry_at + 4,
                        0x80000000u | static_cast<std::uint32_t>(directory_at[entry.directory]));
            } else {
                PutLe32(bytes, entry_at + 4, static_cast<std::uint32_t>(data_entry_at[entry.leaf]));
            }
        }
    }
    for (std::size_t i = 0; i < tree.leaves.size(); ++i) {
        PutLe32(bytes, data_entry_at[i], rva + static_cast<std::uint32_t>(leaf_at[i]));
        PutLe32(bytes, data_entry_at[i] + 4, static_cast<std::uint32_t>(tree.leaves[i].size()));
        std::copy(tree.leaves[i].begin(), tree.leaves[i].end(), bytes.begin() + leaf_at[i]);
    }

    section.tree_end = tree_end;
    if (version_type.directory >= 0) {
        section.version_type_entry = directory_at[0] + 16 + 8 * version_type.entry;
        section.version_type_directory = directory_at[version_type_directory];
    }
    if (version_id.directory >= 0) {
        section.version_id_entry = directory_at[version_id.directory] + 16 + 8 * version_id.entry;
        section.language_directory = directory_at[language_directory];
    }
    if (options.version) {
        for (std::size_t i = 0; i < options.languages.size(); ++i) {
            const auto [leaf, entry] = leaf_of_language[i];
            LanguageLayout language;
            language.language = options.languages[i].language;
            language.entry = section.language_directory + 16 + 8 * entry;
            language.data_entry = data_entry_at[leaf];
            language.block = leaf_at[leaf];
            language.block_size = static_cast<std::uint32_t>(tree.leaves[leaf].size());
            language.fixed_info = leaf_at[leaf] + FixedInfoOffset(options.languages[i].block);
            section.languages.push_back(language);
        }
    }
    return section;
}

inline std::uint32_t Checksum(const std::vector<unsigned char>& bytes, std::size_t field) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (i == field || i == field + 2) continue;
        sum += bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum + bytes.size());
}

} // namespace pe_builder_detail

inline PeImage BuildPe(const PeOptions& options) {
    using namespace pe_builder_detail;
    constexpr std::uint32_t kFileAlignment = 0x200;
    constexpr std::uint32_t kSectionAlignment = 0x1000;
    constexpr std::uint32_t kCode = 0x60000020;        // code, execute, read
    constexpr std::uint32_t kData = 0x40000040;        // initialized data, read
    constexpr std::uint32_t kWritable = 0xC0000040;    // initialized data, read, write
    constexpr std::uint32_t kRelocations = 0x42000040; // initialized data, discardable, read

    struct Section {
        std::string name;
        std::uint32_t characteristics = 0;
        std::vector<unsigned char> data;
        std::uint32_t size = 0; // bytes of raw data, zeros after `data`
    };
    std::vector<Section> sections;
    const auto add = [&](std::string name, std::uint32_t characteristics,
                         std::vector<unsigned char> data, std::uint32_t size = 0) {
        const auto length = std::max(size, static_cast<std::uint32_t>(data.size()));
        sections.push_back({std::move(name), characteristics, std::move(data), length});
    };
    const std::uint32_t resource_size =
        options.resources ? static_cast<std::uint32_t>(BuildResources(options, 0).bytes.size()) : 0;
    if (options.resources && options.resources_first) add(".rsrc", kData, {}, resource_size);
    add(".text", kCode, {0xC3}); // ret
    for (int i = 0; i < options.sections_before_resources; ++i) {
        add(i == 0   ? ".rdata"
            : i == 1 ? ".data"
                     : ".data" + std::to_string(i),
            i == 1 ? kWritable : kData, {'f', 'i', 'l', 'l', 'e', 'r'});
    }
    if (options.gap_before_resources > 0) add(".bulk", kData, {}, options.gap_before_resources);
    if (options.resources && !options.resources_first) add(".rsrc", kData, {}, resource_size);
    if (options.section_after_resources) add(".reloc", kRelocations, {}, 8);

    PeImage image;
    PeLayout& layout = image.layout;
    const std::size_t optional_size = options.pe32_plus ? 240 : 224;
    layout.nt_headers = 0x80;
    layout.coff_header = layout.nt_headers + 4;
    layout.optional_header = layout.coff_header + 20;
    layout.size_of_headers_field = layout.optional_header + 60;
    layout.rva_count_field = layout.optional_header + (options.pe32_plus ? 108 : 92);
    layout.resource_directory = layout.rva_count_field + 4 + 2 * 8;
    layout.section_table = layout.optional_header + optional_size;
    layout.section_table_end = layout.section_table + 40 * sections.size();
    layout.size_of_headers = static_cast<std::uint32_t>(
        AlignUp(layout.section_table_end + options.header_slack, kFileAlignment));

    std::uint32_t raw = layout.size_of_headers;
    std::uint32_t rva = kSectionAlignment;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        SectionLayout section;
        section.name = sections[i].name;
        section.header = layout.section_table + 40 * i;
        section.rva = rva;
        section.virtual_size = sections[i].size;
        section.raw_offset = raw;
        section.raw_size = static_cast<std::uint32_t>(AlignUp(sections[i].size, kFileAlignment));
        raw += section.raw_size;
        rva += static_cast<std::uint32_t>(AlignUp(sections[i].size, kSectionAlignment));
        if (section.name == ".rsrc") layout.resource_section = static_cast<int>(i);
        layout.sections.push_back(section);
    }
    const auto find = [&](const std::string& name) -> const SectionLayout* {
        for (const auto& section : layout.sections) {
            if (section.name == name) return &section;
        }
        return nullptr;
    };
    const SectionLayout& text = *find(".text");
    if (const SectionLayout* reloc = find(".reloc")) {
        auto& data = sections[reloc - layout.sections.data()].data;
        Append32(data, text.rva); // an empty block of base relocations for the .text page
        Append32(data, 8);
    }
    std::uint32_t image_size = 0;
    std::uint32_t code_size = 0;
    std::uint32_t data_size = 0;
    for (const auto& section : layout.sections) {
        image_size = static_cast<std::uint32_t>(
            AlignUp(section.rva + section.virtual_size, kSectionAlignment));
        (section.name == ".text" ? code_size : data_size) += section.raw_size;
    }

    auto& bytes = image.bytes;
    bytes.assign(raw, 0);

    // DOS header and the usual stub.
    static constexpr unsigned char kDosStub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                                 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    static constexpr char kStubText[] = "This program cannot be run in DOS mode.\r\r\n$";
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutLe16(bytes, 0x02, 0x90); // bytes on the last page
    PutLe16(bytes, 0x04, 3);    // pages
    PutLe16(bytes, 0x08, 4);    // header paragraphs
    PutLe16(bytes, 0x0C, 0xFFFF);
    PutLe16(bytes, 0x10, 0xB8); // sp
    PutLe16(bytes, 0x18, 0x40); // relocation table
    PutLe32(bytes, layout.e_lfanew_field, static_cast<std::uint32_t>(layout.nt_headers));
    std::copy(std::begin(kDosStub), std::end(kDosStub), bytes.begin() + 0x40);
    std::copy(kStubText, kStubText + sizeof kStubText - 1, bytes.begin() + 0x4E);

    // "PE\0\0" and the COFF header.
    bytes[layout.nt_headers] = 'P';
    bytes[layout.nt_headers + 1] = 'E';
    const std::size_t coff = layout.coff_header;
    PutLe16(bytes, coff, options.pe32_plus ? 0x8664 : 0x14C);
    PutLe16(bytes, coff + 2, static_cast<std::uint32_t>(sections.size()));
    PutLe32(bytes, coff + 4, 0x65000000); // TimeDateStamp
    PutLe16(bytes, coff + 16, static_cast<std::uint32_t>(optional_size));
    std::uint32_t characteristics = options.pe32_plus ? 0x0022 : 0x0102; // executable, LAA/32-bit
    if (!find(".reloc")) characteristics |= 0x0001;                      // relocations stripped
    PutLe16(bytes, coff + 18, characteristics);

    // Optional header.
    const std::size_t opt = layout.optional_header;
    PutLe16(bytes, opt, options.pe32_plus ? 0x20B : 0x10B);
    bytes[opt + 2] = 14; // linker version
    PutLe32(bytes, opt + 4, code_size);
    PutLe32(bytes, opt + 8, data_size);
    PutLe32(bytes, opt + 16, text.rva); // entry point
    PutLe32(bytes, opt + 20, text.rva); // BaseOfCode
    if (options.pe32_plus) {
        PutLe64(bytes, opt + 24, 0x140000000ull);
    } else {
        PutLe32(bytes, opt + 24, text.rva + kSectionAlignment); // BaseOfData
        PutLe32(bytes, opt + 28, 0x400000);
    }
    PutLe32(bytes, opt + 32, kSectionAlignment);
    PutLe32(bytes, opt + 36, kFileAlignment);
    PutLe16(bytes, opt + 40, 6); // operating system version 6.0
    PutLe16(bytes, opt + 48, 6); // subsystem version 6.0
    PutLe32(bytes, opt + 56, image_size);
    PutLe32(bytes, opt + 60, layout.size_of_headers);
    PutLe16(bytes, opt + 68, 2);      // Windows GUI
    PutLe16(bytes, opt + 70, 0x8100); // NX compatible, terminal server aware
    const std::size_t stack = opt + 72;
    const std::uint32_t reserve_commit[] = {0x100000, 0x1000, 0x100000, 0x1000};
    for (std::size_t i = 0; i < 4; ++i) {
        if (options.pe32_plus) {
            PutLe64(bytes, stack + 8 * i, reserve_commit[i]);
        } else {
            PutLe32(bytes, stack + 4 * i, reserve_commit[i]);
        }
    }
    PutLe32(bytes, layout.rva_count_field, 16);
    const std::size_t directories = layout.rva_count_field + 4;

    // Sections.
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const SectionLayout& section = layout.sections[i];
        for (std::size_t c = 0; c < section.name.size() && c < 8; ++c) {
            bytes[section.header + c] = static_cast<unsigned char>(section.name[c]);
        }
        PutLe32(bytes, section.header + 8, section.virtual_size);
        PutLe32(bytes, section.header + 12, section.rva);
        PutLe32(bytes, section.header + 16, section.raw_size);
        PutLe32(bytes, section.header + 20, section.raw_offset);
        PutLe32(bytes, section.header + 36, sections[i].characteristics);
        std::copy(sections[i].data.begin(), sections[i].data.end(),
                  bytes.begin() + section.raw_offset);
        if (section.name == ".reloc") {
            PutLe32(bytes, directories + 5 * 8, section.rva);
            PutLe32(bytes, directories + 5 * 8 + 4, section.virtual_size);
        }
    }

    if (options.resources) {
        const SectionLayout& section = layout.sections[layout.resource_section];
        const ResourceSection resources = BuildResources(options, section.rva);
        std::copy(resources.bytes.begin(), resources.bytes.end(),
                  bytes.begin() + section.raw_offset);
        PutLe32(bytes, layout.resource_directory, section.rva);
        PutLe32(bytes, layout.resource_directory + 4, section.virtual_size);
        const std::size_t base = section.raw_offset;
        layout.resource_root = base;
        layout.resource_tree_end = base + resources.tree_end;
        if (resources.version_type_entry != 0) {
            layout.version_type_entry = base + resources.version_type_entry;
            layout.version_type_directory = base + resources.version_type_directory;
        }
        if (resources.version_id_entry != 0) {
            layout.version_id_entry = base + resources.version_id_entry;
            layout.language_directory = base + resources.language_directory;
        }
        for (LanguageLayout language : resources.languages) {
            language.entry += base;
            language.data_entry += base;
            language.block += base;
            language.fixed_info += base;
            layout.languages.push_back(language);
        }
    }
    PutLe32(bytes, opt + 64, Checksum(bytes, opt + 64));
    return image;
}

} // namespace tervan::testing
