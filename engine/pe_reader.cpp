// ReadFixedFileVersion: finds the version resource the way GetFileVersionInfoW does (the
// loader's resource lookup in the file mapped as an image), then takes the root value the
// way VerQueryValueW(L"\\") does. Every structure is read on its own through File::read_at,
// so the bytes read depend on the header and directory sizes, never on the file size.
//
// HasAuthenticodeSignature: whether the headers, the same ones the version lookup reads,
// name a certificate table (data directory 4). Only whether it is there counts: what it
// holds is for Windows to verify.
//
// File offsets and RVAs are held in 64 bits: each is a sum of a few 32-bit fields, so none
// of the additions below can overflow.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/pe_reader.hpp"

namespace tervan {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint16_t kVersionType = 16; // RT_VERSION
constexpr std::uint16_t kVersionName = 1;  // VS_VERSION_INFO
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kFixedInfoSize = 52; // sizeof(VS_FIXEDFILEINFO)
constexpr std::uint64_t kPage = 0x1000;
constexpr std::uint64_t kSector = 0x200;

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool ReadExact(File& file, std::uint64_t offset, unsigned char* buffer, std::size_t size) {
    return ReadFull(file, offset, buffer, size) == static_cast<std::int64_t>(size);
}

// Whether the file reaches `offset`; nullopt when the read fails, which is not the same as a
// short file.
std::optional<bool> HasByteAt(File& file, std::uint64_t offset) {
    unsigned char byte;
    const std::int64_t got = ReadFull(file, offset, &byte, 1);
    if (got < 0) return {};
    return got == 1;
}

// Where NumberOfRvaAndSizes lies in the optional header: by its magic, PE32 or PE32+;
// 0 for anything else. The data directories follow it, 8 bytes each.
std::size_t RvaCountOffset(const unsigned char* optional_header) {
    switch (Le16(optional_header)) {
    case 0x10b:
        return 92;
    case 0x20b:
        return 108;
    default:
        return 0;
    }
}

struct PeHeaders {
    bool nt_signature = false; // "PE\0\0" rather than just "PE"
    std::uint64_t section_table = 0;
    std::uint16_t section_count = 0;
    std::uint32_t size_of_image = 0;
    std::uint32_t size_of_headers = 0;
    // Data directories 2 and 4, zero where the optional header holds no such entry.
    std::uint32_t resource_rva = 0;
    std::uint32_t resource_size = 0;
    std::uint32_t certificate_size = 0; // its entry holds a file offset, not an RVA
    // The section table, read on first use.
    mutable std::vector<unsigned char> table;
    mutable bool table_read = false;
};

// The headers that both the version lookup and the signature check need, read once. Nullopt
// unless the file has "MZ", "PE" where that header points, and a PE32 or PE32+ optional
// header.
std::optional<PeHeaders> ReadHeaders(File& file) {
    unsigned char dos[64];
    if (!ReadExact(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return {};
    const std::uint64_t nt = Le32(dos + 0x3C);

    // Signature, COFF header and the optional header up to the end of data directory 4.
    unsigned char h[4 + 20 + 152] = {};
    const std::int64_t got = ReadFull(file, nt, h, sizeof h);
    // Just "PE": the version API's own reader looks no further (the loader does, below).
    if (got < 4 + 20 + 2 || h[0] != 'P' || h[1] != 'E') return {};
    const unsigned char* coff = h + 4;
    const unsigned char* opt = coff + 20;
    const std::uint16_t opt_size = Le16(coff + 16);

    const std::size_t rva_count_at = RvaCountOffset(opt);
    if (rva_count_at == 0) return {};
    // A data directory entry counts where the optional header holds it, by its size and
    // its NumberOfRvaAndSizes, and the file reaches that far.
    const auto entry = [&](std::uint32_t index) -> const unsigned char* {
        const std::size_t at = rva_count_at + 4 + index * 8;
        if (opt_size < at + 8 || static_cast<std::uint64_t>(got) < 4 + 20 + at + 8 ||
            Le32(opt + rva_count_at) <= index)
            return nullptr;
        return opt + at;
    };

    PeHeaders headers;
    headers.nt_signature = h[2] == 0 && h[3] == 0;
    headers.section_table = nt + 4 + 20 + opt_size;
    headers.section_count = Le16(coff + 2);
    headers.size_of_image = Le32(opt + 56);
    headers.size_of_headers = Le32(opt + 60);
    if (const unsigned char* resources = entry(2)) {
        headers.resource_rva = Le32(resources);
        headers.resource_size = Le32(resources + 4);
    }
    if (const unsigned char* certificates = entry(4))
        headers.certificate_size = Le32(certificates + 4);
    return headers;
}

struct SectionHeader {
    std::uint32_t virtual_size = 0;
    std::uint32_t address = 0;
    std::uint32_t raw_size = 0;
    std::uint32_t raw_pointer = 0;
    std::uint32_t characteristics = 0;

    // The span the loader maps: VirtualSize (SizeOfRawData when 0) rounded up to a page. In
    // 32 bits, as a 32-bit loader computes it: a VirtualSize near 4 GiB maps nothing.
    std::uint32_t mapped_size() const {
        const std::uint32_t size = virtual_size != 0 ? virtual_size : raw_size;
        return (size + 0xFFFu) & ~0xFFFu;
    }
    // The loader reads raw data in whole sectors, from the one PointerToRawData falls in.
    std::uint64_t file_offset() const { return raw_pointer & ~(kSector - 1); }
    // What of the mapped span comes from the file; the rest is zero fill.
    std::uint64_t file_size() const {
        const std::uint64_t sectors =
            (std::uint64_t{raw_size} + (raw_pointer & (kSector - 1)) + kSector - 1) &
            ~(kSector - 1);
        return std::min<std::uint64_t>(sectors, mapped_size());
    }
    bool readable() const { return (characteristics & 0xE0000000u) != 0; } // read/write/execute
};

// Calls `visit` for each section header until it returns true. The table is read once and
// kept: the lookups walk it again and again, and a table of 65,535 sections read anew each
// time would cost megabytes per lookup. False when the table cannot be read.
template <typename Visit> bool VisitSections(File& file, const PeHeaders& headers, Visit visit) {
    if (!headers.table_read) {
        headers.table.resize(std::size_t{headers.section_count} * kSectionHeaderSize);
        if (!ReadExact(file, headers.section_table, headers.table.data(), headers.table.size()))
            return false;
        headers.table_read = true;
    }
    for (std::size_t i = 0; i < headers.section_count; ++i) {
        const unsigned char* h = headers.table.data() + i * kSectionHeaderSize;
        if (visit(
                SectionHeader{Le32(h + 8), Le32(h + 12), Le32(h + 16), Le32(h + 20), Le32(h + 36)}))
            return true;
    }
    return true;
}

// GetFileVersionInfoW first has the loader map the file as an image and asks it for the
// resource. When the loader refuses the image, it reads the file itself instead, which
// places the sections differently. Of the loader's checks, the ones that matter here are
// the signature and that every section fits: its mapped span inside SizeOfImage, and its raw
// data inside the file, rounded up to a whole sector.
std::optional<bool> Loadable(File& file, const PeHeaders& headers) {
    if (!headers.nt_signature) return false;
    const std::uint64_t image_end =
        (std::uint64_t{headers.size_of_image} + kPage - 1) & ~(kPage - 1);
    bool fits = true;
    std::uint64_t last_pointer = 0; // the file must reach these
    std::uint64_t last_end = 0;
    const bool read = VisitSections(file, headers, [&](const SectionHeader& section) {
        if (std::uint64_t{section.address} + section.mapped_size() > image_end) fits = false;
        if (section.file_size() != 0) {
            last_pointer = std::max<std::uint64_t>(last_pointer, section.raw_pointer);
            last_end = std::max(last_end, section.file_offset() + section.file_size());
        }
        return false; // the whole table, which the version API's own reader needs too
    });
    if (!read) return {};
    if (last_end == 0) return fits;
    const auto first = HasByteAt(file, last_pointer);
    const auto last = HasByteAt(file, (last_end - 1) & ~(kSector - 1));
    if (!first || !last) return {};
    return fits && *first && *last;
}

// A span of RVAs and the file bytes behind it.
struct Region {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint64_t file_offset = 0;
};

struct Image {
    File& file;
    PeHeaders headers;
    bool loaded = false; // laid out by the loader, or else by the version API's own reader
    Region last;         // most reads fall into the region read before
    bool failed = false;
};

// As mapped by the loader: the headers at RVA 0, then each section over what came before.
// Zero fill, gaps and sections mapped without access give no region: their bytes are not in
// the file, or not readable.
std::optional<Region> FindLoadedRegion(Image& image, std::uint32_t rva) {
    std::optional<Region> found;
    if (rva < image.headers.size_of_headers) found = Region{0, image.headers.size_of_headers, 0};
    std::uint64_t next = UINT64_MAX; // a later section may cover the rest of the region
    const bool read = VisitSections(image.file, image.headers, [&](const SectionHeader& section) {
        const std::uint64_t begin = section.address;
        if (begin <= rva && rva < begin + section.mapped_size()) {
            found.reset();
            if (section.readable() && rva < begin + section.file_size()) {
                found = Region{begin, begin + section.file_size(), section.file_offset()};
            }
        } else if (begin > rva) {
            next = std::min(next, begin);
        }
        return false;
    });
    if (!read || !found) return {};
    found->end = std::min(found->end, next);
    return found;
}

// As read by the version API itself: the first section whose raw data holds the RVA, taken
// from PointerToRawData as it stands.
std::optional<Region> FindReadRegion(Image& image, std::uint32_t rva) {
    std::optional<Region> found;
    const bool read = VisitSections(image.file, image.headers, [&](const SectionHeader& section) {
        const std::uint32_t end = section.address + section.raw_size; // 32 bits, as it does
        if (section.address <= rva && rva < end) {
            found = Region{section.address, end, section.raw_pointer};
        }
        return found.has_value();
    });
    if (!read) return {};
    return found;
}

std::optional<Region> FindRegion(Image& image, std::uint32_t rva) {
    return image.loaded ? FindLoadedRegion(image, rva) : FindReadRegion(image, rva);
}

// Reads `size` bytes at an RVA, across adjacent regions if need be. A failure is recorded,
// as the loader's lookup gives up on the first unreadable byte.
bool ReadRva(Image& image, std::uint64_t rva, unsigned char* buffer, std::size_t size) {
    while (size > 0) {
        if (!(image.last.begin <= rva && rva < image.last.end)) {
            const auto region = rva > 0xFFFFFFFFu
                                    ? std::nullopt
                                    : FindRegion(image, static_cast<std::uint32_t>(rva));
            if (!region || !(region->begin <= rva && rva < region->end)) break;
            image.last = *region;
        }
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, image.last.end - rva));
        if (!ReadExact(image.file, image.last.file_offset + (rva - image.last.begin), buffer,
                       part)) {
            break;
        }
        rva += part;
        buffer += part;
        size -= part;
    }
    if (size > 0) image.failed = true;
    return size == 0;
}

// The loader wants a resource directory of at least a directory header. The version API's
// own reader wants the whole raw data of the section holding it, and no more than a
// non-zero size.
bool ResourcesReachable(Image& image) {
    if (image.loaded) return image.headers.resource_size >= kDirectoryHeaderSize;
    const auto region = FindReadRegion(image, image.headers.resource_rva);
    return region &&
           HasByteAt(image.file, region->file_offset + (region->end - region->begin) - 1) == true;
}

struct Directory {
    std::uint64_t entries = 0; // RVA of the first entry
    int named = 0;
    int ids = 0;
};

// Directory offsets count from the root of the resource directory.
std::optional<Directory> ReadDirectory(Image& image, std::uint32_t offset) {
    const std::uint64_t rva = std::uint64_t{image.headers.resource_rva} + offset;
    unsigned char h[kDirectoryHeaderSize];
    if (!ReadRva(image, rva, h, sizeof h)) return {};
    return Directory{rva + kDirectoryHeaderSize, Le16(h + 12), Le16(h + 14)};
}

bool IsDirectory(std::uint32_t target) {
    return (target & kHighBit) != 0;
}

// A binary search over the ID entries, as the loader does, so a directory whose IDs are
// out of order resolves the same way. An entry of the wrong kind (data where a
// subdirectory is wanted, or the reverse) counts as absent. At most 17 probes.
std::optional<std::uint32_t> FindById(Image& image, const Directory& dir, std::uint16_t id,
                                      bool want_directory) {
    int low = dir.named;
    int high = dir.named + dir.ids - 1;
    while (low <= high) {
        const int middle = (low + high) / 2;
        unsigned char entry[kDirectoryEntrySize];
        if (!ReadRva(image, dir.entries + std::uint64_t{kDirectoryEntrySize} * middle, entry,
                     sizeof entry)) {
            return {};
        }
        const std::uint16_t entry_id = Le16(entry); // the low half of the name field
        const std::uint32_t target = Le32(entry + 4);
        if (entry_id == id) {
            if (IsDirectory(target) != want_directory) return {};
            return target & ~kHighBit;
        }
        if (entry_id > id) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return {};
}

// The first data entry, named or not.
std::optional<std::uint32_t> FirstDataEntry(Image& image, const Directory& dir) {
    constexpr int kChunk = 32;
    unsigned char chunk[kChunk * kDirectoryEntrySize];
    const int total = dir.named + dir.ids;
    for (int first = 0; first < total; first += kChunk) {
        const int count = std::min(kChunk, total - first);
        if (!ReadRva(image, dir.entries + std::uint64_t{kDirectoryEntrySize} * first, chunk,
                     kDirectoryEntrySize * count)) {
            return {};
        }
        for (int i = 0; i < count; ++i) {
            const std::uint32_t target = Le32(chunk + kDirectoryEntrySize * i + 4);
            if (!IsDirectory(target)) return target;
        }
    }
    return {};
}

// The language the version API settles on. GetFileVersionInfoW asks the loader for
// LANG_NEUTRAL, which tries the neutral language, then the thread's and user's locale, then
// English (US), then takes the first data entry. The locale part is fixed here to English
// (US) so the answer does not depend on the machine: that gives 0x0000, 0x0409, 0x0009.
std::optional<std::uint32_t> FindLanguage(Image& image, const Directory& dir) {
    constexpr std::uint16_t kLanguages[] = {0x0000, 0x0409, 0x0009};
    for (const std::uint16_t language : kLanguages) {
        if (const auto entry = FindById(image, dir, language, false)) return entry;
        if (image.failed) return {};
    }
    return FirstDataEntry(image, dir);
}

// The version resource's data: RVA and size.
struct Resource {
    std::uint64_t rva = 0;
    std::uint32_t size = 0;
};

// Only three levels are descended, so directories that point back up cannot loop.
std::optional<Resource> FindVersionResource(Image& image) {
    if (!ResourcesReachable(image)) return {};
    const auto root = ReadDirectory(image, 0);
    if (!root) return {};
    const auto type = FindById(image, *root, kVersionType, true);
    if (!type) return {};
    const auto type_dir = ReadDirectory(image, *type);
    if (!type_dir) return {};
    const auto name = FindById(image, *type_dir, kVersionName, true);
    if (!name) return {};
    const auto name_dir = ReadDirectory(image, *name);
    if (!name_dir) return {};
    const auto data_entry = FindLanguage(image, *name_dir);
    if (!data_entry) return {};

    unsigned char data[8]; // IMAGE_RESOURCE_DATA_ENTRY: OffsetToData (an RVA), Size
    if (!ReadRva(image, std::uint64_t{image.headers.resource_rva} + *data_entry, data,
                 sizeof data)) {
        return {};
    }
    return Resource{Le32(data), Le32(data + 4)};
}

// The offset of the root value inside the version block, found as VerQueryValueW does: after
// the NUL-terminated key, aligned to 4 bytes from the block start. VerQueryValueW takes a
// block whose byte 4 is printable ASCII for the 16-bit layout, whose 8-bit key starts right
// after wLength and wValueLength; a 32-bit block has its wType (0 or 1) there and its UTF-16
// key at byte 6.
//
// The key must end inside the resource and within 64 KiB, the most a block's 16-bit wLength
// can describe, which also bounds what a corrupt resource makes us read. It is read in
// pieces no longer than the value, so no piece reaches past the end of a value that follows.
std::optional<std::uint32_t> ValueOffset(Image& image, const Resource& resource,
                                         unsigned char type_low_byte) {
    const bool narrow = type_low_byte >= 0x20 && type_low_byte < 0x80;
    const std::uint32_t unit = narrow ? 1 : 2;
    const std::uint32_t limit = std::min<std::uint32_t>(resource.size, 0x10000);
    unsigned char piece[48];
    for (std::uint32_t at = narrow ? 4 : 6; at + unit <= limit;) {
        std::uint32_t length = std::min<std::uint32_t>(sizeof piece, limit - at);
        length -= length % unit;
        if (!ReadRva(image, resource.rva + at, piece, length)) return {};
        for (std::uint32_t i = 0; i < length; i += unit) {
            if (piece[i] == 0 && (narrow || piece[i + 1] == 0)) return (at + i + unit + 3) & ~3u;
        }
        at += length;
    }
    return {};
}

} // namespace

// The root value is taken whatever the block's key or the value's dwSignature say:
// VerQueryValueW(L"\\") checks neither, and the aim is the version Windows reports. wLength
// is not checked either, for the same reason.
std::optional<FixedFileVersion> ReadFixedFileVersion(File& file) {
    const auto headers = ReadHeaders(file);
    if (!headers || headers->resource_rva == 0 || headers->resource_size == 0) return {};
    const auto loaded = Loadable(file, *headers);
    if (!loaded) return {};
    Image image{file, *headers, *loaded, {}};
    const auto resource = FindVersionResource(image);
    if (!resource || resource->size < 6) return {};

    unsigned char block[6]; // wLength, wValueLength, wType
    if (!ReadRva(image, resource->rva, block, sizeof block)) return {};
    if (Le16(block + 2) < kFixedInfoSize) return {};
    const auto value = ValueOffset(image, *resource, block[4]);
    if (!value || *value + kFixedInfoSize > resource->size) return {};

    unsigned char fixed[kFixedInfoSize];
    if (!ReadRva(image, resource->rva + *value, fixed, sizeof fixed)) return {};
    return FixedFileVersion{Le32(fixed + 8), Le32(fixed + 12)};
}

bool HasAuthenticodeSignature(File& file) {
    const auto headers = ReadHeaders(file);
    return headers && headers->nt_signature && headers->certificate_size != 0;
}

} // namespace tervan
