// The program's two real windows: the forms' event procedures bound to Win32
// windows and to the platform. One is open at a time.
#pragma once

#include <memory>

#include "engine/file_system.hpp"

namespace tervan {

class UpdaterWindows {
public:
    // Updates work on `files`. `may_ask_for_administrator`: whether a replacement that
    // the install folder refuses is tried once more with administrator rights.
    UpdaterWindows(FileSystem& files, bool may_ask_for_administrator);
    ~UpdaterWindows();
    UpdaterWindows(const UpdaterWindows&) = delete;
    UpdaterWindows& operator=(const UpdaterWindows&) = delete;

    // Opens the access screen, which opens the update window once the code is right.
    // False when the window could not be created.
    bool open();

private:
    class AccessScreen;
    class UpdateWindow;
    void open_update_window();

    FileSystem& files_;
    bool may_ask_for_administrator_;
    // Both live until the program ends: the access screen's object outlasts its window,
    // as the update window is opened from inside its click handler.
    std::unique_ptr<AccessScreen> access_screen_;
    std::unique_ptr<UpdateWindow> update_window_;
};

} // namespace tervan
