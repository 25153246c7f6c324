// The program's two real windows: the forms' event procedures bound to Win32
// windows and to the platform.
#pragma once

#include "engine/file_system.hpp"

namespace tervan {

// Opens the access screen; it opens the update window once the code is right, whose
// updates work on `files`. `may_ask_for_administrator`: whether a replacement that
// the install folder refuses is tried once more with administrator rights. False
// when the window could not be created.
bool OpenAccessScreen(FileSystem& files, bool may_ask_for_administrator);

} // namespace tervan
