// What every end-to-end scenario needs around the program: its own folders, the
// install-folder setting, tervan58.exe files of chosen versions, a copy of the
// built updater, and one run of it driven through its windows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "tests/e2e/automation.hpp"
#include "tests/e2e/expected_texts.hpp"
#include "tests/win32/test_support.hpp"

namespace tervan::e2e {

struct Version {
    std::uint16_t major, minor, build, revision;
};

// Exact comparison of two texts; the failure shows both readably.
::testing::AssertionResult SameText(const std::wstring& actual, const std::wstring& expected);
::testing::AssertionResult SameText(const std::wstring& actual, const std::string& expected_utf8);

// A valid PE32 image with that fixed file version, followed by `extra` bytes made
// from `seed`, so that two files of one version still differ.
std::string Tervan58Bytes(Version version, unsigned seed, std::size_t extra = 3000);

// The updater built next to the suites (TERVAN_UPDATER_EXE); empty when unknown.
std::string BuiltUpdater();
// A file built beside it, such as a test copy of the program.
std::string BuiltBesideUpdater(const std::string& name);

// A registry value, put back as it was when this goes away, and the keys made for it
// removed again.
class RegistryValue {
public:
    RegistryValue(HKEY root, std::wstring key, std::wstring name);
    ~RegistryValue();
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;

    bool set_text(const std::string& utf8) const;
    bool set_dword(DWORD value) const;
    // Any type, the bytes as given.
    bool write(DWORD type, const void* data, DWORD size) const;
    bool remove() const;

private:
    testing::NewRegistryKeys new_keys_;
    HKEY root_;
    std::wstring key_, name_;
    bool existed_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// Where Tervan58's installer records the install folder.
class InstallFolderSetting : public RegistryValue {
public:
    InstallFolderSetting();
};

// Every file directly in a folder, by name, with its bytes.
using FolderContents = std::map<std::string, std::string>;
FolderContents Contents(const std::string& folder);

// A scenario's folders, all under one fresh temporary folder.
class Sandbox {
public:
    const std::string& root() const { return temp_.path(); }
    // Creates the folder (and its parents below the root) and returns its path.
    std::string folder(const std::string& relative) const;
    // Copies the built updater (or `built`) into `folder` as tervan58-updater.exe;
    // returns the copy's path.
    std::string put_updater(const std::string& folder,
                            const std::string& built = BuiltUpdater()) const;
    // Writes `folder`\tervan58.exe; returns the bytes written.
    std::string put_tervan58(const std::string& folder, Version version, unsigned seed,
                             std::size_t extra = 3000) const;

private:
    testing::TempFolder temp_;
};

// One run of the updater, from start to exit.
class UpdaterRun {
public:
    UpdaterRun(const std::string& exe, const std::string& working_folder);

    const Process& process() const { return process_; }
    DWORD pid() const { return process_.pid(); }

    ::testing::AssertionResult started() const;
    // Waits for the access screen and keeps it in `access`.
    ::testing::AssertionResult wait_access_screen();
    // Waits for the update window that follows the access screen, keeps it in `update`.
    ::testing::AssertionResult wait_update_window();
    // The whole way in: the access screen, the code typed, the start button.
    ::testing::AssertionResult open_update_window();

    // The next message box, its prompt and title compared exactly, answered with
    // OK. The program is settled afterwards. A longer guard where a person answers
    // something first.
    ::testing::AssertionResult answer_message(const std::wstring& prompt, const std::wstring& title,
                                              DWORD guard_ms = kGuardMs) const;
    // The folder browser, with the program's prompt.
    ::testing::AssertionResult wait_browser(std::optional<FolderBrowser>& browser) const;
    // The program has handled every click and character posted to it before
    // (not keys sent through the input queue) and shows `window` with nothing
    // modal in front of it.
    ::testing::AssertionResult idle(const Window& window) const;
    // Control `id` of `window` comes to show `text` before the guard runs out;
    // the failure shows what it showed last.
    ::testing::AssertionResult shows(const Window& window, int id, const std::wstring& text) const;
    // The process ends with `code`, no window left to answer.
    ::testing::AssertionResult exits(DWORD code = 0) const;

    Window access;
    Window update;

private:
    // Empty when `dialog` is modal to one of the program's windows, else why not.
    std::string modal_to_a_form(HWND dialog) const;
    std::string describe_open_dialogs() const;

    Process process_;
};

// The session's system colours set to a black high-contrast scheme (close to
// Windows' "High Contrast Black"), put back as they were when this goes away.
// Every window of the session is told, as with a change in the Control Panel.
class HighContrastScheme {
public:
    HighContrastScheme() = default;
    ~HighContrastScheme();
    HighContrastScheme(const HighContrastScheme&) = delete;
    HighContrastScheme& operator=(const HighContrastScheme&) = delete;

    bool apply();

private:
    std::vector<COLORREF> saved_;
};

// The session's DPI, as this process (aware of the DPI) sees the screen.
int SessionDpi();

// Handles what this thread's windows were sent and paints what they invalidated.
void PumpMessages();

} // namespace tervan::e2e
