#include "engine/update_procedure.hpp"

#include "engine/file_version.hpp"
#include "engine/messages.hpp"
#include "engine/replacement.hpp"

namespace tervan {

namespace {

void Report(UpdateView& view, Check failed);
bool IsAbsoluteFolder(const std::string& folder);

} // namespace

void UpdateProcedure(UpdateView& view, FileSystem& fs) {
    const UpdateFolders folders(view.caption(Caption::Source), view.caption(Caption::Destination));
    view.set_caption(Caption::SourceVersion, "");
    if (const Check check = CheckFolders(fs, folders); check != Check::Passed) {
        Report(view, check);
        return;
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
    // was checked is the file that is copied. Without that hold nothing is copied.
    const auto held = fs.open_read(folders.source_exe);
    if (!held) {
        view.show_message(text::kCopyFailed, text::kUpdateTitle);
        return;
    }
    if (const Check check = CheckDownload(fs, folders); check != Check::Passed) {
        Report(view, check);
        return;
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

StepResult ReplaceWithoutWindow(FileSystem& fs, const std::string& source_folder,
                                const std::string& destination_folder) {
    const UpdateFolders folders(source_folder, destination_folder);
    if (!IsAbsoluteFolder(folders.source) || !IsAbsoluteFolder(folders.destination) ||
        CheckFolders(fs, folders) != Check::Passed)
        return StepResult::Refused;
    const auto held = fs.open_read(folders.source_exe); // as in the click
    if (!held || CheckDownload(fs, folders) != Check::Passed) return StepResult::Refused;
    return ReplaceFileAllOrNothing(fs, folders.source_exe, folders.destination_exe) ==
                   Replacement::Replaced
               ? StepResult::Replaced
               : StepResult::Failed;
}

UpdateFolders::UpdateFolders(const std::string& source_text, const std::string& destination_text)
    : source(TrimBlanks(source_text)), destination(TrimBlanks(destination_text)),
      source_exe(TargetExePath(source)), destination_exe(TargetExePath(destination)) {}

Check CheckFolders(FileSystem& fs, const UpdateFolders& folders) {
    if (folders.destination.empty()) return Check::NoDestination;
    if (folders.source.empty()) return Check::NoSource;
    if (!FileIsPresent(fs, folders.source_exe)) return Check::NoSourceFile;
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

bool FileIsPresent(FileSystem& fs, std::string path) {
    if (path.empty()) return false;
    if (path.back() == '\\') path.pop_back();
    return fs.open_read(path) != nullptr; // the file closes again here
}

namespace {

// What the user is told of a failed check, and what follows it: a source that is
// missing or wrong is chosen again.
void Report(UpdateView& view, Check failed) {
    switch (failed) {
    case Check::Passed:
        return;
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
    }
}

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

} // namespace tervan
