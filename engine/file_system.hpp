// The file operations the update engine needs, one implementation per platform
// (POSIX for the native build and tests, Win32 for the program) plus fakes in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tervan {

// An open file. Closed when destroyed.
class File {
public:
    virtual ~File() = default;
    // Reads up to `size` bytes at `offset`. Returns the count read (short or 0 at the
    // end of the file), or -1 on an error.
    virtual std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) = 0;
    // Appends all `size` bytes; false when fewer were written, whatever the reason.
    virtual bool write(const void* data, std::size_t size) = 0;
    // Asks the system to write what it caches of the file to the disk, file data and
    // the file's own metadata; true when the system reports that done. It says nothing
    // of the folder entry that names the file.
    virtual bool flush() = 0;
    // The time of the last write, as a count in the platform's own unit, meant only
    // for set_last_write_time on a file of the same file system; nullopt when unknown.
    virtual std::optional<std::int64_t> last_write_time() { return std::nullopt; }
    // Takes such a time as the file's last write time, to keep after it is closed.
    virtual void set_last_write_time(std::int64_t) {}
};

// Reads `size` bytes at `offset`, fewer only where the file ends first: read_at may
// return short counts. Returns the count read, or -1 on an error, as also when a read_at
// reports more bytes than it was asked for.
std::int64_t ReadFull(File& file, std::uint64_t offset, void* buffer, std::size_t size);

// What create_new gives: the new file, or none and whether the folder refuses it
// for good.
struct NewFile {
    std::unique_ptr<File> file;
    // The folder takes no new file from this user at all, as a folder under Program
    // Files refuses a program without administrator rights: no waiting helps, other
    // rights might.
    bool folder_refuses = false;
};

// What the publisher check says of a download (see FileSystem::publisher_check).
enum class PublisherCheck {
    Passed,     // an unsigned install, or a download from the installed file's publisher
    Refused,    // a signed install, and a download not intact or not from its publisher
    Unreadable, // the installed file is there but cannot be read to learn its publisher
};

// Paths are UTF-8 text in the program's own form: folders joined by "\".
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens an existing regular file for reading; null when it cannot be opened
    // (missing, a folder, locked against reading, no permission, invalid path).
    virtual std::unique_ptr<File> open_read(const std::string& path) = 0;
    // Whether anything has that name, so that an open that failed was refused rather
    // than finding nothing; true when that cannot be told.
    virtual bool exists(const std::string& path) = 0;
    // Creates a new file for reading and writing; no file when it exists already or
    // cannot be created.
    virtual NewFile create_new(const std::string& path) = 0;
    // Whether the folder that holds `path` takes no new file from this user at all
    // (see NewFile), asked where a file of that name is in the way. Nothing is left
    // in the folder either way.
    virtual bool folder_refuses_new_files(const std::string&) { return false; }
    // Renames `from` to `to` in one step, replacing an existing `to`. Refuses a
    // read-only `to`, as a copy over it would be refused.
    virtual bool rename_replace(const std::string& from, const std::string& to) = 0;
    // Deletes a file; true when it is gone afterwards.
    virtual bool remove(const std::string& path) = 0;
    // Where files may be busy for a moment (a virus scanner reading a new file), the
    // calls above wait a little for them. The waits of all calls after this one share
    // one allowance of `milliseconds` in all, so that a window thread never looks hung.
    virtual void start_wait_allowance(unsigned long /*milliseconds*/) {}
    // The version text of an executable (see file_version.hpp); empty when it has none.
    virtual std::string file_version_text(const std::string& path) = 0;
    // Whether `download` may take the place of `installed` as far as their publishers
    // go: always when `installed` is missing or carries no Authenticode signature;
    // when it does, only when `download` carries a signature that verifies, by the
    // same publisher. Here, where nothing can be verified, a signed install takes
    // nothing.
    virtual PublisherCheck publisher_check(const std::string& installed,
                                           const std::string& download);
    // Whether a running program was started from the file at `path` (Tervan58 itself,
    // still open), which holds the file until it ends. Here that cannot be told.
    virtual bool program_runs_from(const std::string&) { return false; }
};

} // namespace tervan
