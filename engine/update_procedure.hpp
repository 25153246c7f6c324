// The update: what the update window's start button does, and the same without a
// window for the step that runs with administrator rights.
//
// Source is the download folder (Label4, "ｺﾋﾟｰ元") and its tervan58.exe the download;
// destination is the install folder (Label1, "ｺﾋﾟｰ先") and its tervan58.exe the
// installed file. Functions that take both take the source first, as a copy does.
#pragma once

#include <string>

#include "engine/file_system.hpp"

namespace tervan {

// The labels of the update window the update procedure reads and writes.
enum class Caption {
    Destination,      // Label1: the install folder
    Source,           // Label4: the download folder
    SourceVersion,    // Label5(0)
    InstalledVersion, // Label5(1)
};

// How the replacement run again with administrator rights went.
enum class ElevatedStep {
    Replaced,
    Failed, // it ran and replaced nothing, or it could not tell
    NotRun, // not asked for (no use, or not safe), declined at the prompt, or not started
};

// The update window as the update procedure sees it: nothing more.
class UpdateView {
public:
    virtual ~UpdateView() = default;
    virtual std::string caption(Caption which) = 0;
    virtual void set_caption(Caption which, const std::string& text) = 0;
    // A modal OK-only box without an icon.
    virtual void show_message(const std::string& prompt, const std::string& title) = 0;
    // Runs the source folder choice to its end.
    virtual void choose_source() = 0;
    // Ends the program.
    virtual void exit_program() = 0;
    // Runs the replacement once more with administrator rights, after the install
    // folder refused its temporary file (see ReplaceWithoutWindow); the window waits
    // meanwhile. Trimmed folder texts.
    virtual ElevatedStep replace_as_administrator(const std::string& source_folder,
                                                  const std::string& destination_folder) = 0;
};

// One click of the start button.
void UpdateProcedure(UpdateView& view, FileSystem& fs);

// What the update comes to without a window: the step the update window starts with
// administrator rights. The values are its exit codes.
enum class StepResult {
    Replaced = 0,
    Failed = 1,  // the installed file untouched, nothing left
    Refused = 2, // stopped before touching anything
};

// The click's checks and replacement, and nothing more: no window, no message, no
// settings. Absolute folders only: the step's current folder is not the window's.
StepResult ReplaceWithoutWindow(FileSystem& fs, const std::string& source_folder,
                                const std::string& destination_folder);

// The two folders of an update, trimmed, and the two tervan58.exe in them.
struct UpdateFolders {
    UpdateFolders(const std::string& source_text, const std::string& destination_text);
    std::string source, destination;
    std::string source_exe, destination_exe;
};

// The checks before anything is copied, in the order they are made; the first that
// fails, or Passed.
enum class Check {
    Passed,
    // CheckFolders
    NoDestination,
    NoSource,
    NoSourceFile,
    SameFolder,
    // CheckDownload
    NotNewer,
    UnknownPublisher,
    InstalledUnreadable, // a signed-looking install whose publisher cannot be read
    InstalledRunning,    // Tervan58 runs from the installed file
};
// Both folders given, the download there, and the folders not the same text.
Check CheckFolders(FileSystem& fs, const UpdateFolders& folders);
// The download newer than the installed file (the versions read anew), for a signed
// install from its publisher, and no program running from the installed file.
Check CheckDownload(FileSystem& fs, const UpdateFolders& folders);

inline constexpr const char* kTargetExeName = "tervan58.exe";

// Leading and trailing blanks removed.
std::string TrimBlanks(const std::string& text);

// Folder text + "\" + tervan58.exe, without a second "\" when the folder ends in one.
std::string TargetExePath(const std::string& folder_text);

// True when the file can be opened for reading; a trailing "\" is ignored.
bool FileIsPresent(FileSystem& fs, std::string path);

} // namespace tervan
