#include "engine/replacement.hpp"

#include <cstring>
#include <vector>

namespace tervan {

namespace {

constexpr std::size_t kChunk = 1 << 20;
// How long one replacement waits, in all, for files that are busy for a moment, and
// the clean-up after a failed one.
constexpr unsigned long kReplacementWaitMs = 2000;
constexpr unsigned long kCleanUpWaitMs = 500;

bool WriteCheckedCopy(File& in, File& out);

} // namespace

Replacement ReplaceFileAllOrNothing(FileSystem& fs, const std::string& source,
                                    const std::string& destination) {
    const std::string temp = ReplacementTempPath(destination);
    fs.start_wait_allowance(kReplacementWaitMs);
    // A run that was ended halfway may have left its temporary file behind.
    const bool no_leftover = fs.remove(temp);
    bool copied = false;
    if (const auto in = fs.open_read(source)) {
        NewFile out = fs.create_new(temp);
        // Nothing was created: the folder takes nothing from this user. So it is too
        // when a leftover that this user cannot remove holds the name in such a folder
        // (Program Files): other rights remove it.
        if (out.folder_refuses || (!out.file && !no_leftover && fs.folder_refuses_new_files(temp)))
            return Replacement::FolderRefuses;
        copied = out.file && WriteCheckedCopy(*in, *out.file);
    } // both files are closed here, as the rename needs
    if (copied && fs.rename_replace(temp, destination)) return Replacement::Replaced;
    // Waits of its own: a temporary file left here is in the next run's way.
    fs.start_wait_allowance(kCleanUpWaitMs);
    fs.remove(temp);
    return Replacement::Failed;
}

std::string ReplacementTempPath(const std::string& destination) {
    return destination + ".updating";
}

namespace {

// Copies all of `from` to the end of `to`; returns the number of bytes, or -1.
std::int64_t CopyAll(File& from, File& to, std::vector<char>& buffer) {
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = ReadFull(from, offset, buffer.data(), buffer.size());
        if (got < 0) return -1;
        if (got == 0) return static_cast<std::int64_t>(offset);
        if (!to.write(buffer.data(), static_cast<std::size_t>(got))) return -1;
        offset += static_cast<std::uint64_t>(got);
    }
}

// True when both files hold the same `size` bytes and nothing more.
bool SameBytes(File& a, File& b, std::uint64_t size, std::vector<char>& buffer_a,
               std::vector<char>& buffer_b) {
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got_a = ReadFull(a, offset, buffer_a.data(), buffer_a.size());
        const std::int64_t got_b = ReadFull(b, offset, buffer_b.data(), buffer_b.size());
        if (got_a < 0 || got_b < 0 || got_a != got_b) return false;
        if (std::memcmp(buffer_a.data(), buffer_b.data(), static_cast<std::size_t>(got_a)) != 0)
            return false;
        offset += static_cast<std::uint64_t>(got_a);
        if (got_a == 0) return offset == size;
        if (offset > size) return false;
    }
}

// Copies `in` into the new, empty `out`, then checks the copy.
bool WriteCheckedCopy(File& in, File& out) {
    std::vector<char> buffer(kChunk), check(kChunk);
    const std::int64_t size = CopyAll(in, out, buffer);
    if (size < 0) return false;
    // As a copy would: the installed file shows when the download was made, not when it
    // was installed. The time only; attributes such as read-only are not carried.
    if (const auto written_at = in.last_write_time()) out.set_last_write_time(*written_at);
    if (!out.flush()) return false;
    // Read both files back and compare them. The copy is read from the system's cache
    // as a rule, not from the disk: this catches a write that reported success but came
    // back short or changed, a read that brought wrong bytes, and a download changed in
    // a part already copied, and trusts the disk to keep what the flush handed it.
    return SameBytes(in, out, static_cast<std::uint64_t>(size), buffer, check);
}

} // namespace

} // namespace tervan
