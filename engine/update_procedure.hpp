// The update: what the update window's start button does.
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
};

inline constexpr const char* kTargetExeName = "tervan58.exe";

// Leading and trailing blanks removed.
std::string TrimBlanks(const std::string& text);

// Folder text + "\" + tervan58.exe, without a second "\" when the folder ends in one.
std::string TargetExePath(const std::string& folder_text);

// True when the file can be opened for reading. A trailing "\" is removed from
// `path` first, as the caller's own text.
bool FileIsPresent(FileSystem& fs, std::string& path);

// Replaces `destination` by a copy of `source`, all or nothing: the bytes go to a
// temporary file beside the destination, are checked and flushed, and then take
// the destination's place in one rename. On failure the destination is untouched
// and no temporary file is left.
bool ReplaceFileAllOrNothing(FileSystem& fs, const std::string& source,
                             const std::string& destination);

// The temporary file used by ReplaceFileAllOrNothing for a destination.
std::string ReplacementTempPath(const std::string& destination);

// One click of the start button.
void UpdateProcedure(UpdateView& view, FileSystem& fs);

} // namespace tervan
