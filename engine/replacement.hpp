// The all-or-nothing replacement of the installed file by the download, which the
// update procedure makes once its checks have passed.
#pragma once

#include <string>

#include "engine/file_system.hpp"

namespace tervan {

enum class Replacement {
    Replaced,
    Failed,
    // The destination's folder refused the temporary file for good, as Program Files
    // refuses a program without administrator rights.
    FolderRefuses,
};

// Replaces `destination` by a copy of `source`, all or nothing: the bytes go to a
// temporary file beside the destination, are checked and flushed, and then take
// the destination's place in one rename. On failure the destination is untouched
// and no temporary file is left.
Replacement ReplaceFileAllOrNothing(FileSystem& fs, const std::string& source,
                                    const std::string& destination);

// The temporary file used by ReplaceFileAllOrNothing for a destination.
std::string ReplacementTempPath(const std::string& destination);

} // namespace tervan
