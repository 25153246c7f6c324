// The source folder chooser: the shell's folder browser, file-system folders only.
#pragma once

#include <string>

#include <windows.h>

namespace tervan {

// The chosen folder's path, or empty text when the user cancels. The browser is
// modal to `owner` and shows `title` above its tree. The first call starts COM on
// the calling thread, which stays initialised; the answer is also empty when the
// shell cannot be loaded.
std::string PickFolder(HWND owner, const std::string& title);

} // namespace tervan
