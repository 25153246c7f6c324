// Puts the updater's two windows on the screen for scripts/screenshot.sh: a demo
// install (an older tervan58.exe, found through the user's setting) and a demo
// download (the updater beside a newer tervan58.exe), the access screen with the
// code typed in, then the update window. For each window it prints
//   SHOT <name> <left> <top> <width> <height>
// and waits until the file <signal folder>\<name>.done exists; the script takes
// the picture in between. Everything is removed again at the end.
//
// Usage: e2e_screenshot_driver <updater exe> <signal folder>
//        e2e_screenshot_driver --sandbox <download folder> <signal folder>
//        e2e_screenshot_driver --high-contrast <signal folder>
// The second form drives a sandbox made beforehand (the demo of scripts/run-demo.sh)
// all the way through the update. The third shows both windows in a black
// high-contrast scheme.
#include "tests/e2e/scenario.hpp"
#include "ui/forms/access_screen.hpp"
#include "ui/forms/update_window.hpp"
#include "ui/win32/form_window.hpp"

#include <shellapi.h>

#include <cstdio>
#include <utility>

namespace tervan::e2e {
namespace {

// Painted and back in its message loop: what is on the screen is the window.
bool ReadyToShoot(const Window& window) {
    return Settle(window.hwnd()) &&
           RedrawWindow(window.hwnd(), nullptr, nullptr,
                        RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW) &&
           Settle(window.hwnd());
}

bool Shoot(const Window& window, const char* name, const std::wstring& signal_folder) {
    if (!ReadyToShoot(window)) return false;
    const RECT r = window.frame_rect();
    std::printf("SHOT %s %ld %ld %ld %ld\n", name, r.left, r.top, r.right - r.left,
                r.bottom - r.top);
    std::fflush(stdout);
    const std::wstring done = signal_folder + L"\\" + Wide(name) + L".done";
    return PollUntil(
        [&] {
            PumpMessages(); // windows of this process are painted while they wait
            return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES;
        },
        120000);
}

// A folder at a real-looking place, made for the pictures and removed with this
// object. One that exists already is somebody's and is left alone.
class DemoFolder {
public:
    explicit DemoFolder(std::string path) : path_(std::move(path)) {
        if (testing::Exists(path_)) return;
        std::size_t slash = path_.find('\\', 3);
        for (; slash != std::string::npos; slash = path_.find('\\', slash + 1))
            if (!testing::Exists(path_.substr(0, slash))) {
                created_ = path_.substr(0, slash);
                break;
            }
        if (created_.empty()) created_ = path_;
        testing::MakeFolder(created_);
        if (created_ != path_) {
            for (slash = path_.find('\\', created_.size() + 1); slash != std::string::npos;
                 slash = path_.find('\\', slash + 1))
                testing::MakeFolder(path_.substr(0, slash));
            testing::MakeFolder(path_);
        }
    }
    ~DemoFolder() {
        if (!created_.empty()) testing::RemoveTree(created_);
    }
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;

    bool ours() const { return !created_.empty(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string created_; // the outermost folder this object made
};

int Fail(const char* what) {
    std::printf("FAILED %s\n", what);
    std::fflush(stdout);
    return 1;
}

// Shows both windows of the updater started from `download`; with `update`, also
// starts the update and shows its outcome before answering it.
int Drive(const std::string& download, const std::wstring& signal_folder, bool update) {
    UpdaterRun run(download + "\\tervan58-updater.exe", download);
    if (const auto shown = run.wait_access_screen(); !shown) return Fail(shown.message());
    if (!run.access.type_now(expected::access_screen::kEntry, expected::kAccessCode))
        return Fail("typing the code");
    if (!Shoot(run.access, "access-screen", signal_folder)) return Fail("the access screen");

    if (!run.access.click(expected::access_screen::kStart) || !run.wait_update_window())
        return Fail("opening the update window");
    if (!Shoot(run.update, "update-window", signal_folder)) return Fail("the update window");

    if (!update) {
        run.update.click(expected::update_window::kExit);
        return run.exits(0) ? 0 : Fail("ending the updater");
    }
    run.update.click(expected::update_window::kStart);
    const auto box = WaitMessageBox(run.pid());
    if (!box) return Fail("waiting for the update's message");
    if (!Shoot(Window(box->hwnd), "update-message", signal_folder)) return Fail("the message");
    std::printf("MESSAGE %s | %s\n", Printable(box->title).c_str(), Printable(box->prompt).c_str());
    std::fflush(stdout);
    if (!AnswerMessageBox(box->hwnd, IDOK)) return Fail("answering the message");
    return run.exits(0) ? 0 : Fail("the updater did not end after the message");
}

// Real-looking places. Not the user's own Downloads: Wine links that to the Unix
// home folder.
constexpr char kDemoInstall[] = "C:\\Program Files (x86)\\TERVAN58";
constexpr char kDemoDownload[] = "C:\\users\\Public\\Downloads\\TERVAN58_Ver1002";

// The pictures for the README: a demo install and download made here and removed
// again afterwards.
int DocsDemo(const std::wstring& updater, const std::wstring& signal_folder) {
    const DemoFolder install_folder(kDemoInstall);
    const DemoFolder download_folder(kDemoDownload);
    if (!install_folder.ours() || !download_folder.ours())
        return Fail("making the demo folders (do they exist already?)");
    const std::string& install = install_folder.path();
    const std::string& download = download_folder.path();
    if (!testing::PutBytes(install + "\\tervan58.exe", Tervan58Bytes({1, 0, 0, 1}, 1)) ||
        !testing::PutBytes(download + "\\tervan58.exe", Tervan58Bytes({1, 0, 0, 2}, 2)))
        return Fail("writing the demo files");
    const std::string exe = download + "\\tervan58-updater.exe";
    if (!CopyFileW(updater.c_str(), Wide(exe).c_str(), FALSE)) return Fail("copying the updater");
    InstallFolderSetting setting;
    if (!setting.set_text(install)) return Fail("writing the install folder setting");
    return Drive(download, signal_folder, false);
}

// Wine can neither switch high contrast on nor report it, so the updater would
// draw its designed colours. These are its two windows opened here instead, from
// the same layouts and window code, with the system's answer replaced and the
// demo's texts filled in.
int HighContrastPictures(const std::wstring& signal_folder) {
    HighContrastScheme black;
    if (!black.apply()) return Fail("setting the black scheme");
    const auto on = [] { return true; };

    FormWindow access;
    access.high_contrast_on = on;
    if (!access.create(access_screen::Layout(), AccessScreenTitle()))
        return Fail("opening the access screen");
    access.set_text(access_screen::Text1, Utf8(expected::kAccessCode));
    access.show();
    if (!Shoot(Window(access.hwnd()), "access-screen-high-contrast", signal_folder))
        return Fail("the access screen");
    access.destroy();

    FormWindow update;
    update.high_contrast_on = on;
    if (!update.create(update_window::Layout(), UpdateWindowTitle({1, 0, 1})))
        return Fail("opening the update window");
    update.set_text(update_window::Label1, kDemoInstall);
    update.set_text(update_window::Label4, kDemoDownload);
    update.set_text(update_window::Label5_0, "Ver"); // as loaded: read at the update
    update.set_text(update_window::Label5_1, "Ver.1.0.0.1");
    update.show();
    if (!Shoot(Window(update.hwnd()), "update-window-high-contrast", signal_folder))
        return Fail("the update window");
    return 0;
}

} // namespace
} // namespace tervan::e2e

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args != nullptr && count == 4 && std::wstring(args[1]) == L"--sandbox")
        return tervan::e2e::Drive(tervan::e2e::Utf8(args[2]), args[3], true);
    if (args != nullptr && count == 3 && std::wstring(args[1]) == L"--high-contrast")
        return tervan::e2e::HighContrastPictures(args[2]);
    if (args == nullptr || count != 3) {
        std::printf("usage: e2e_screenshot_driver <updater exe> <signal folder>\n"
                    "       e2e_screenshot_driver --sandbox <download folder> <signal folder>\n"
                    "       e2e_screenshot_driver --high-contrast <signal folder>\n");
        return 2;
    }
    return tervan::e2e::DocsDemo(args[1], args[2]);
}
