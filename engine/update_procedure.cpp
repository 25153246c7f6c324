#include "engine/update_procedure.hpp"

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

constexpr std::size_t kChunk = 1 << 20;
// How long one replacement waits, in all, for files that are busy for a moment, and
// the clean-up after a failed one.
constexpr unsigned long kReplacementWaitMs = 2000;
constexpr unsigned long kCleanUpWaitMs = 500;

// Copies all of `from` to the end of `to`; returns the number of bytes, or -1.
std::int64_t CopyAll(File& from, File& to, std::vector<char>& buffer) {
    std::uint64_t offset = 0;
    for (;;) {
        const std::int64_t got = from.read_at(offset, buffer.data(), buffer.size());
        if (got < 0) return -1;
        if (got == 0) return static_cast<std::int64_t>(offset);
        if (!to.write(buffer.data(), static_cast<std::size_t>(got))) return -1;
        offset += static_cast<std::uint64_t>(got);
    }
}

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

UpdateFolders::UpdateFolders(const std::string& destination_text, const std::string& source_text)
    : destination(TrimBlanks(destination_text)), source(TrimBlanks(source_text)),
      destination_exe(TargetExePath(destination)), source_exe(TargetExePath(source)) {}

Check CheckFolders(FileSystem& fs, const UpdateFolders& folders) {
    if (folders.destination.empty()) return Check::NoDestination;
    if (folders.source.empty()) return Check::NoSource;
    std::string probed = folders.source_exe;
    if (!FileIsPresent(fs, probed)) return Check::NoSourceFile;
    if (folders.destination == folders.source) return Check::SameFolder;
    return Check::Passed;
}

Check CheckDownload(FileSystem& fs, const UpdateFolders& folders) {
    const std::string installed = fs.file_version_text(folders.destination_exe);
    const std::string downloaded = fs.file_version_text(folders.source_exe);
    if (!VersionIsOlder(installed, downloaded)) return Check::NotNewer;
    switch (fs.publisher_check(folders.destination_exe, folders.source_exe)) {
    case PublisherCheck::Passed:
        break;
    case PublisherCheck::Refused:
        return Check::UnknownPublisher;
    case PublisherCheck::Unreadable:
        return Check::InstalledUnreadable;
    }
    // A running program's image cannot be replaced: no use waiting or asking for rights.
    if (fs.program_runs_from(folders.destination_exe)) return Check::InstalledRunning;
    return Check::Passed;
}

void UpdateProcedure(UpdateView& view, FileSystem& fs) {
    const UpdateFolders folders(view.caption(Caption::Destination), view.caption(Caption::Source));
    view.set_caption(Caption::SourceVersion, "");

    switch (CheckFolders(fs, folders)) {
    case Check::NoDestination:
        view.show_message(text::kNoDestination, text::kCheckTitle);
        return;
    case Check::NoSource:
        view.show_message(text::kNoSource, text::kUpdateTitle);
        view.choose_source();
        return;
    case Check::NoSourceFile:
        view.show_message(text::kNoSourceFile, text::kUpdateTitle);
        view.choose_source();
        return;
    case Check::SameFolder:
        view.show_message(text::kSameFolder, text::kUpdateTitle);
        view.set_caption(Caption::Source, "");
        view.choose_source();
        return;
    default:
        break;
    }

    const auto show_installed_version = [&] {
        view.set_caption(Caption::InstalledVersion,
                         text::kVersionPrefix + fs.file_version_text(folders.destination_exe));
    };
    view.set_caption(Caption::SourceVersion,
                     text::kVersionPrefix + fs.file_version_text(folders.source_exe));
    show_installed_version();

    // The download stays open, with reading shared only, from its last check to the end
    // of its copy: nobody can change, rename or delete it meanwhile, so the file that
    // was checked is the file that is copied.
    const auto held = fs.open_read(folders.source_exe);
    if (!held) {
        view.show_message(text::kCopyFailed, text::kUpdateTitle);
        return;
    }
    switch (CheckDownload(fs, folders)) {
    case Check::NotNewer:
        view.show_message(text::kNotNewer, text::kUpdateTitle);
        return;
    case Check::UnknownPublisher:
        view.show_message(text::kUnknownPublisher, text::kCheckTitle);
        return;
    case Check::InstalledUnreadable:
        view.show_message(text::kCopyFailed, text::kUpdateTitle);
        return;
    case Check::InstalledRunning:
        view.show_message(text::kTervan58Running, text::kCheckTitle);
        return;
    default:
        break;
    }

    Replacement replacement =
        ReplaceFileAllOrNothing(fs, folders.source_exe, folders.destination_exe);
    if (replacement == Replacement::FolderRefuses) {
        // Program Files without administrator rights: the same replacement once more,
        // by a copy of the program that Windows starts with them once the user agrees.
        const ElevatedStep step =
            view.replace_as_administrator(folders.source, folders.destination);
        replacement = step == ElevatedStep::Replaced ? Replacement::Replaced : Replacement::Failed;
        // Whatever that step did, the window shows what is installed now.
        show_installed_version();
    }
    if (replacement != Replacement::Replaced) {
        view.show_message(text::kCopyFailed, text::kUpdateTitle);
        return;
    }
    view.show_message(text::kSuccess, text::kUpdateTitle);
    view.exit_program();
}

namespace {

// "C:\..." or "\\server\share...": a folder that means the same whatever the
// current folder and drive.
bool IsAbsoluteFolder(const std::string& folder) {
    if (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\') {
        const char drive = folder[0];
        return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    }
    return folder.size() > 2 && folder.starts_with("\\\\") && folder[2] != '\\';
}

} // namespace

StepResult ReplaceWithoutWindow(FileSystem& fs, const std::string& source_folder,
                                const std::string& destination_folder) {
    const UpdateFolders folders(destination_folder, source_folder);
    if (!IsAbsoluteFolder(folders.destination) || !IsAbsoluteFolder(folders.source) ||
        CheckFolders(fs, folders) != Check::Passed)
        return StepResult::Refused;
    const auto held = fs.open_read(folders.source_exe); // as in the click
    if (!held || CheckDownload(fs, folders) != Check::Passed) return StepResult::Refused;
    return ReplaceFileAllOrNothing(fs, folders.source_exe, folders.destination_exe) ==
                   Replacement::Replaced
               ? StepResult::Replaced
               : StepResult::Failed;
}

} // namespace tervan
