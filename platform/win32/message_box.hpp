// The program's message box: OK only, no icon, no sound of its own.
#pragma once

#include <string>

#include <windows.h>

namespace tervan {

void ShowMessage(HWND owner, const std::string& prompt, const std::string& title);

} // namespace tervan
