// Fuzz target for the portable version reader: the input (after its mode byte, see
// pe_input.hpp) is the file. Besides the sanitizers' checks, it aborts on what the reader
// must never do whatever the bytes:
//  - read more than 4 MiB in one call: the reader reads headers and directories, never the
//    file as such, and the most it needs is one pass over the largest section table (65535
//    headers, 2.5 MiB), the largest resource directory (131070 entries, 1 MiB) and the
//    longest key (64 KiB). Anything beyond is reading the same bytes again, and lets a
//    small corrupt file make the updater read for minutes;
//  - ask read_at for a span whose end does not fit in 64 bits;
//  - report a version that does not format as four numbers, or that FileVersionText
//    formats differently;
//  - give another answer on short reads than on whole ones (short counts are retried), or,
//    on a read error, any answer other than none or the one an intact read gives.
//
// Each invariant has a name. FUZZ_KNOWN (names, comma-separated) lists the ones a known fault
// breaks until it is fixed: those are counted, not aborted on, so a run keeps looking for
// other faults instead of finding the same one again and again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_version.hpp"
#include "engine/pe_reader.hpp"
#include "tests/engine/memory_file.hpp"
#include "tests/fuzz/pe_input.hpp"

namespace tervan::fuzz {
namespace {

constexpr std::uint64_t kReadLimit = 4u << 20;

bool IsKnown(const char* name) {
    static const std::string known = [] {
        const char* list = std::getenv("FUZZ_KNOWN");
        return "," + std::string(list ? list : "") + ",";
    }();
    return known.find("," + std::string(name) + ",") != std::string::npos;
}

// Aborts, unless the invariant is a known one: then it counts, and the input goes on.
void Violation(const char* name, const char* what) {
    if (IsKnown(name)) {
        static std::uint64_t count = 0;
        ++count;
        if ((count & (count - 1)) == 0) { // 1, 2, 4, 8, ...: enough to see it go on
            std::fprintf(stderr, "==pe_version_fuzzer== known violation %s: %llu so far\n", name,
                         static_cast<unsigned long long>(count));
        }
        return;
    }
    std::fprintf(stderr, "==pe_version_fuzzer== invariant violated: %s (%s)\n", what, name);
    std::abort();
}

class FuzzFile final : public File {
public:
    FuzzFile(const unsigned char* data, std::size_t size, ReadKind kind, unsigned parameter)
        : memory_(std::vector<unsigned char>(data, data + size)), kind_(kind),
          parameter_(parameter) {
        if (kind_ == ReadKind::kPeriodic && size > 0) {
            periodic_size_ = std::uint64_t{1 + parameter} << 20;
        }
    }

    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        std::uint64_t end = 0;
        if (__builtin_add_overflow(offset, std::uint64_t{size}, &end)) {
            Violation("span-overflow", "read_at asked for a span that ends beyond 2^64");
        }
        // Past a known breach of the limit the file fails, so the reader stops soon instead
        // of reading on for seconds or minutes.
        if (over_limit_) return -1;
        const std::uint64_t call = calls_++;
        std::int64_t n = 0;
        switch (kind_) {
        case ReadKind::kPlain:
            n = memory_.read_at(offset, buffer, size);
            break;
        case ReadKind::kShort:
            n = memory_.read_at(offset, buffer, std::min<std::size_t>(size, 1 + parameter_));
            break;
        case ReadKind::kFailing:
            n = call == parameter_ ? -1 : memory_.read_at(offset, buffer, size);
            break;
        case ReadKind::kPeriodic:
            n = ReadPeriodic(offset, static_cast<unsigned char*>(buffer), size);
            break;
        }
        if (memory_.bytes_read() + periodic_read_ > kReadLimit && !over_limit_) {
            over_limit_ = true;
            Violation("read-limit", "more than 4 MiB read in one ReadFixedFileVersion call");
        }
        return n;
    }
    bool write(const void*, std::size_t) override { return false; }
    bool flush() override { return false; }

private:
    std::int64_t ReadPeriodic(std::uint64_t offset, unsigned char* buffer, std::size_t size) {
        if (offset >= periodic_size_) return 0;
        const auto& bytes = memory_.bytes();
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, periodic_size_ - offset));
        for (std::size_t done = 0; done < n;) {
            const std::size_t at = static_cast<std::size_t>((offset + done) % bytes.size());
            const std::size_t part = std::min(n - done, bytes.size() - at);
            std::memcpy(buffer + done, bytes.data() + at, part);
            done += part;
        }
        periodic_read_ += n;
        return static_cast<std::int64_t>(n);
    }

    testing::MemoryFile memory_;
    ReadKind kind_;
    unsigned parameter_;
    std::uint64_t periodic_size_ = 0;
    std::uint64_t periodic_read_ = 0;
    std::uint64_t calls_ = 0;
    bool over_limit_ = false;
};

// Four decimal numbers of 0 to 65535 without leading zeros, joined by dots, that are the
// four 16-bit halves of the version.
void CheckText(const std::string& text, FixedFileVersion version) {
    const std::uint32_t parts[] = {version.ms >> 16, version.ms & 0xFFFF, version.ls >> 16,
                                   version.ls & 0xFFFF};
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.'))
            Violation("version-text", "no dot between parts");
        const std::size_t start = pos;
        std::uint64_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 6) {
            value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
        }
        if (pos == start) Violation("version-text", "a version part without digits");
        if (pos - start > 1 && text[start] == '0')
            Violation("version-text", "a version part with a leading zero");
        if (value != parts[i])
            Violation("version-text", "a version part that is not its 16-bit half");
    }
    if (pos != text.size()) Violation("version-text", "text after the fourth version part");
    const auto parsed = ParseVersionText(text);
    if (!parsed) return Violation("version-text", "ParseVersionText refuses a version text");
    for (int i = 0; i < 4; ++i) {
        if ((*parsed)[i] != parts[i])
            Violation("version-text", "ParseVersionText reads another version");
    }
}

bool Same(const std::optional<FixedFileVersion>& a, const std::optional<FixedFileVersion>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->ms == b->ms && a->ls == b->ls);
}

} // namespace
} // namespace tervan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tervan;
    using namespace tervan::fuzz;
    if (size == 0) return 0;
    const ReadKind kind = KindOf(data[0]);
    const unsigned parameter = ParameterOf(data[0]);
    const unsigned char* bytes = data + 1;
    const std::size_t length = size - 1;

    FuzzFile file(bytes, length, kind, parameter);
    const auto version = ReadFixedFileVersion(file);
    if (version) CheckText(VersionText(*version), *version);

    FuzzFile again(bytes, length, kind, parameter);
    if (FileVersionText(again) != (version ? VersionText(*version) : std::string())) {
        Violation("text-differs", "FileVersionText disagrees with ReadFixedFileVersion");
    }

    if (kind == ReadKind::kShort || kind == ReadKind::kFailing) {
        FuzzFile intact(bytes, length, ReadKind::kPlain, 0);
        const auto expected = ReadFixedFileVersion(intact);
        if (kind == ReadKind::kShort && !Same(version, expected)) {
            Violation("short-read-answer", "short reads give another answer than whole reads");
        }
        if (kind == ReadKind::kFailing && version && !Same(version, expected)) {
            Violation("failed-read-answer",
                      "a failed read gives a version that an intact read does not");
        }
    }
    return 0;
}
