// The program's two real windows: the forms' event procedures bound to Win32
// windows and to the platform.
#pragma once

#include <memory>

namespace tervan {

// Opens the access screen; it opens the update window once the code is right.
// False when the window could not be created.
bool OpenAccessScreen();

// Opens the update window on its own.
bool OpenUpdateWindow();

} // namespace tervan
