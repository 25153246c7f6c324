#include "engine/update_procedure.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/file_version.hpp"
#include "engine/messages.hpp"

namespace tervan {

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string TargetExePath(const std::string& folder_text) {
    if (!folder_text.empty() && folder_text.back() == '\\') return folder_text + kTargetExeName;
    return folder_text + "\\" + kTargetExeName;
}

bool FileIsPresent(FileSystem& fs, std::string& path) {
    if (path.empty()) return false;
    if (path.back() == '\\') path.pop_back();
    return fs.open_read(path) != nullptr; // the file closes again here
}

std::string ReplacementTempPath(const std::string& destination) {
    return destination + ".updating";
}

namespace {

// Small enough that a piece just read is still in the processor's cache when it is
// read again, digested and written; large enough to keep the calls few.
constexpr std::size_t kChunk = 1 << 20;

// A running 64-bit digest of a stream of bytes, the same however the stream is cut
// into pieces. Four lanes of multiply and shift over 8-byte words: quick, and any
// change of bytes or of the length changes it but by rare accident. Not meant to
// stand up to an attacker, who could replace the download itself anyway.
class StreamDigest {
public:
    void add(const char* data, std::size_t size) {
        length_ += size;
        if (held_ > 0) {
            const std::size_t take = std::min(size, kBlock - held_);
            std::memcpy(block_ + held_, data, take);
            held_ += take;
            data += take;
            size -= take;
            if (held_ < kBlock) return;
            mix(block_, 1);
            held_ = 0;
        }
        mix(data, size / kBlock);
        data += size / kBlock * kBlock;
        held_ = size % kBlock;
        std::memcpy(block_, data, held_);
    }

    std::uint64_t value() const {
        StreamDigest last = *this;
        std::memset(last.block_ + held_, 0, kBlock - held_);
        last.mix(last.block_, 1);
        std::uint64_t result = length_;
        for (const std::uint64_t lane : last.lanes_)
            result = Scramble((result ^ lane) * kMultiplier);
        return result;
    }

private:
    static constexpr std::size_t kBlock = 32;
    static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;

    static std::uint64_t Scramble(std::uint64_t x) { return x ^ (x >> 29); }

    void mix(const char* data, std::size_t blocks) {
        std::uint64_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
        for (; blocks > 0; --blocks, data += kBlock) {
            std::uint64_t words[4];
            std::memcpy(words, data, kBlock);
            a = Scramble((a ^ words[0]) * kMultiplier);
            b = Scramble((b ^ words[1]) * kMultiplier);
            c = Scramble((c ^ words[2]) * kMultiplier);
            d = Scramble((d ^ words[3]) * kMultiplier);
        }
        lanes_[0] = a, lanes_[1] = b, lanes_[2] = c, lanes_[3] = d;
    }

    std::uint64_t lanes_[4] = {1, 2, 3, 4};
    std::uint64_t length_ = 0;
    char block_[kBlock] = {};
    std::size_t held_ = 0;
};

// Reads exactly `size` bytes at `offset` unless the file ends first.
std::int64_t ReadFull(File& file, std::uint64_t offset, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t got = file.read_at(offset + done, buffer + done, size - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

// Copies all of `from` to the end of `to` and into `digest`; returns the number of
// bytes, or -1. Every piece is read twice, while it is still cached, and both reads
// must agree, the last one (the end of the file) too: a read that brings wrong bytes
// or reports the end too early, although it says it succeeded, fails the copy.
std::int64_t CopyAll(File& from, File& to, StreamDigest& digest, std::vector<char>& buffer,
                     std::vector<char>& again) {
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = from.read_at(offset, buffer.data(), buffer.size());
        if (got < 0) return -1;
        const auto size = static_cast<std::size_t>(got);
        if (ReadFull(from, offset, again.data(), got == 0 ? 1 : size) != got ||
            std::memcmp(buffer.data(), again.data(), size) != 0)
            return -1;
        if (got == 0) return static_cast<std::int64_t>(offset);
        digest.add(buffer.data(), size);
        if (!to.write(buffer.data(), size)) return -1;
        offset += size;
    }
}

// True when `file` holds exactly `size` bytes of the digest `expected`.
bool Holds(File& file, std::uint64_t size, std::uint64_t expected, std::vector<char>& buffer) {
    StreamDigest digest;
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = file.read_at(offset, buffer.data(), buffer.size());
        if (got < 0) return false;
        if (got == 0) return offset == size && digest.value() == expected;
        digest.add(buffer.data(), static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
        if (offset > size) return false;
    }
}

// Writes and checks the temporary copy; the caller renames or removes it.
bool WriteCheckedCopy(FileSystem& fs, const std::string& source, const std::string& temp) {
    auto in = fs.open_read(source);
    if (!in) return false;
    const auto written_at = in->last_write_time();
    auto out = fs.create_new(temp);
    if (!out) return false;
    std::vector<char> buffer(kChunk), again(kChunk);
    StreamDigest digest;
    const std::int64_t size = CopyAll(*in, *out, digest, buffer, again);
    if (size < 0) return false;
    // As a copy would: the installed file shows when the download was made, not when it
    // was installed. The time only; attributes such as read-only are not carried.
    if (written_at) out->set_last_write_time(*written_at);
    if (!out->flush()) return false;
    // Read back what the system now holds of the file, its cache as a rule: a write
    // that reported success but came back short or changed shows up here. The disk
    // under the cache is trusted to keep what the flush handed it.
    if (!Holds(*out, static_cast<std::uint64_t>(size), digest.value(), buffer)) return false;
    // A download that another program changed while it was copied (Windows keeps
    // writers out while it is open here; POSIX does not) has a new write time.
    return in->last_write_time() == written_at;
}

} // namespace

bool ReplaceFileAllOrNothing(FileSystem& fs, const std::string& source,
                             const std::string& destination) {
    const std::string temp = ReplacementTempPath(destination);
    // A run that was ended halfway may have left its temporary file behind.
    fs.remove(temp);
    if (WriteCheckedCopy(fs, source, temp) && fs.rename_replace(temp, destination)) return true;
    fs.remove(temp);
    return false;
}

void UpdateProcedure(UpdateView& view, FileSystem& fs) {
    const std::string destination_folder = TrimBlanks(view.caption(Caption::Destination));
    const std::string source_folder = TrimBlanks(view.caption(Caption::Source));
    const std::string destination_path = TargetExePath(destination_folder);
    std::string source_path = TargetExePath(source_folder);

    view.set_caption(Caption::SourceVersion, "");

    if (destination_folder.empty()) {
        view.show_message(text::kNoDestination, text::kCheckTitle);
        return;
    }
    if (source_folder.empty()) {
        view.show_message(text::kNoSource, text::kUpdateTitle);
        view.choose_source();
        return;
    }
    if (!FileIsPresent(fs, source_path)) {
        view.show_message(text::kNoSourceFile, text::kUpdateTitle);
        view.choose_source();
        return;
    }
    if (destination_folder == source_folder) {
        view.show_message(text::kSameFolder, text::kUpdateTitle);
        view.set_caption(Caption::Source, "");
        view.choose_source();
        return;
    }

    view.set_caption(Caption::SourceVersion,
                     text::kVersionPrefix + fs.file_version_text(source_path));
    view.set_caption(Caption::InstalledVersion,
                     text::kVersionPrefix + fs.file_version_text(destination_path));

    const std::string installed = fs.file_version_text(destination_path);
    const std::string downloaded = fs.file_version_text(source_path);
    if (!VersionIsOlder(installed, downloaded)) {
        view.show_message(text::kNotNewer, text::kUpdateTitle);
        return;
    }

    if (!ReplaceFileAllOrNothing(fs, source_path, destination_path)) {
        view.show_message(text::kCopyFailed, text::kUpdateTitle);
        return;
    }
    view.show_message(text::kSuccess, text::kUpdateTitle);
    view.exit_program();
}

} // namespace tervan
