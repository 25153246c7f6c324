// A test copy of the updater, never shipped, for what Wine cannot show: a standard
// user's updater under Program Files. Wine gives every process a full administrator
// token and has no consent prompt; in this copy the window acts as one without
// administrator rights, so every folder under a "Program Files" folder refuses it new
// files. The step it starts with administrator rights is the real one.
#include <windows.h>

#include "app/updater.hpp"
#include "platform/win32/system_library.hpp"
#include "platform/win32/win32_file_system.hpp"

namespace {

// Under a "Program Files" folder, as Windows answers a standard user there: no new
// file (a name that is taken answers that it exists), nothing removed.
class LimitedTokenFiles final : public tervan::Win32FileSystem {
public:
    tervan::NewFile create_new(const std::string& path) override {
        if (!UnderProgramFiles(path)) return Win32FileSystem::create_new(path);
        return {nullptr, !exists(path)};
    }
    bool folder_refuses_new_files(const std::string& path) override {
        return UnderProgramFiles(path) || Win32FileSystem::folder_refuses_new_files(path);
    }
    bool remove(const std::string& path) override {
        return UnderProgramFiles(path) ? !exists(path) : Win32FileSystem::remove(path);
    }

private:
    static bool UnderProgramFiles(const std::string& path) {
        return path.find("\\Program Files") != std::string::npos;
    }
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const bool narrowed = tervan::LimitDllSearchToSystemFolder();
    if (tervan::StartedAsReplaceStep()) return tervan::RunReplaceStep(narrowed);
    LimitedTokenFiles files;
    return tervan::RunWindows(files, true);
}
