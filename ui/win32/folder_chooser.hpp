// The source folder chooser: the shell's folder browser, file-system folders only.
#pragma once

#include <string>

#include <windows.h>

namespace tervan {

inline constexpr const char* kFolderChooserTitle = "「TERVAN58」ｱｯﾌﾟﾃﾞｰﾄﾌｫﾙﾀﾞ ";

// The chosen folder's path, or empty text when the user cancels. The browser is
// modal to `owner`. The first call starts COM on the calling thread, which stays
// initialised; it is also empty when the shell cannot be loaded.
std::string PickFolder(HWND owner);

} // namespace tervan
