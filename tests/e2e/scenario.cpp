#include "tests/e2e/scenario.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "tests/engine/pe_builder.hpp"

namespace tervan::e2e {

namespace {

constexpr wchar_t kSettingKey[] = L"Software\\VB and VBA Program Settings\\KARVO\\tErvan58";
constexpr wchar_t kSettingName[] = L"Key_Path";

::testing::AssertionResult Fail() {
    return ::testing::AssertionFailure();
}
::testing::AssertionResult Pass() {
    return ::testing::AssertionSuccess();
}

} // namespace

::testing::AssertionResult SameText(const std::wstring& actual, const std::wstring& expected) {
    if (actual == expected) return Pass();
    return Fail() << "text " << Printable(actual) << "\n expected " << Printable(expected);
}

::testing::AssertionResult SameText(const std::wstring& actual, const std::string& expected_utf8) {
    return SameText(actual, Wide(expected_utf8));
}

std::string Tervan58Bytes(Version version, unsigned seed, std::size_t extra) {
    testing::PeOptions options;
    options.languages[0].language = 0x0411;
    options.languages[0].block.file_ms = (std::uint32_t{version.major} << 16) | version.minor;
    options.languages[0].block.file_ls = (std::uint32_t{version.build} << 16) | version.revision;
    const testing::PeImage image = testing::BuildPe(options);
    // An overlay, as installers and signatures leave behind: the loader and the
    // version API ignore it, a byte-for-byte comparison does not.
    return std::string(image.bytes.begin(), image.bytes.end()) + testing::PatternBytes(extra, seed);
}

std::string BuiltUpdater() {
    const char* exe = std::getenv("TERVAN_UPDATER_EXE");
    return exe ? exe : "";
}

std::string BuiltBesideUpdater(const std::string& name) {
    // CMake writes "/"; with "\" the path can also take the literal "\\?\" form.
    std::string folder = BuiltUpdater();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

RegistryValue::RegistryValue(HKEY root, std::wstring key, std::wstring name)
    : new_keys_(root, key), root_(root), key_(std::move(key)), name_(std::move(name)) {
    DWORD size = 0;
    if (RegGetValueW(root_, key_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr,
                     &size) != ERROR_SUCCESS)
        return;
    data_.resize(size);
    existed_ = RegGetValueW(root_, key_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type_,
                            data_.data(), &size) == ERROR_SUCCESS;
    data_.resize(size);
}

RegistryValue::~RegistryValue() {
    if (existed_)
        write(type_, data_.data(), static_cast<DWORD>(data_.size()));
    else
        remove();
}

bool RegistryValue::write(DWORD type, const void* data, DWORD size) const {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExW(key, name_.c_str(), 0, type, static_cast<const BYTE*>(data),
                                   size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool RegistryValue::set_text(const std::string& utf8) const {
    const std::wstring text = Wide(utf8);
    return write(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool RegistryValue::set_dword(DWORD value) const {
    return write(REG_DWORD, &value, sizeof value);
}

bool RegistryValue::remove() const {
    const LSTATUS status = RegDeleteKeyValueW(root_, key_.c_str(), name_.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

InstallFolderSetting::InstallFolderSetting()
    : RegistryValue(HKEY_CURRENT_USER, kSettingKey, kSettingName) {}

FolderContents Contents(const std::string& folder) {
    FolderContents contents;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((testing::Literal(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return contents;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = Utf8(found.cFileName);
        contents[name] = testing::GetBytes(folder + "\\" + name).value_or("<unreadable>");
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return contents;
}

std::string Sandbox::folder(const std::string& relative) const {
    std::string path = root();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relative.find('\\', start);
        path += "\\" + relative.substr(start, end - start);
        testing::MakeFolder(path);
        if (end == std::string::npos) return path;
        start = end + 1;
    }
}

std::string Sandbox::put_updater(const std::string& folder, const std::string& built) const {
    const std::string copy = folder + "\\tervan58-updater.exe";
    if (!CopyFileW(Wide(built).c_str(), Wide(copy).c_str(), FALSE)) return {};
    return copy;
}

std::string Sandbox::put_tervan58(const std::string& folder, Version version, unsigned seed,
                                  std::size_t extra) const {
    const std::string bytes = Tervan58Bytes(version, seed, extra);
    if (!testing::PutBytes(folder + "\\tervan58.exe", bytes)) return {};
    return bytes;
}

UpdaterRun::UpdaterRun(const std::string& exe, const std::string& working_folder)
    : process_(Wide(exe), Wide(working_folder)) {}

::testing::AssertionResult UpdaterRun::started() const {
    if (process_.started()) return Pass();
    return Fail() << "CreateProcessW failed with error " << process_.start_error();
}

::testing::AssertionResult UpdaterRun::wait_access_screen() {
    if (!process_.started()) return started();
    access = Window(WaitTopLevel(pid(), expected::kFormClass, [](HWND) { return true; }));
    // Shown is not yet ready: the focus is set after the window appears.
    if (access && Settle(access.hwnd())) return Pass();
    return Fail() << "no access screen; process "
                  << (process_.running() ? "still running" : "ended") << describe_open_dialogs();
}

::testing::AssertionResult UpdaterRun::wait_update_window() {
    const HWND gone = access.hwnd();
    update = Window(
        WaitTopLevel(pid(), expected::kFormClass, [gone](HWND window) { return window != gone; }));
    if (!update) {
        return Fail() << "no update window; process "
                      << (process_.running() ? "still running" : "ended")
                      << describe_open_dialogs();
    }
    if (access.exists() && access.visible())
        return Fail() << "the access screen is still shown beside the update window";
    if (!Settle(update.hwnd())) return Fail() << "the update window does not answer";
    return Pass();
}

::testing::AssertionResult UpdaterRun::open_update_window() {
    if (auto shown = wait_access_screen(); !shown) return shown;
    if (!access.type(expected::access_screen::kEntry, expected::kAccessCode) ||
        !access.click(expected::access_screen::kStart))
        return Fail() << "could not post the code and the click to the access screen";
    return wait_update_window();
}

::testing::AssertionResult UpdaterRun::answer_message(const std::wstring& prompt,
                                                      const std::wstring& title,
                                                      DWORD guard_ms) const {
    const auto box = WaitMessageBox(pid(), guard_ms);
    if (!box) {
        return Fail() << "no message box " << Printable(prompt) << describe_open_dialogs()
                      << (process_.running() ? "" : "; the process ended");
    }
    const bool same = box->prompt == prompt && box->title == title;
    const std::string modal = modal_to_a_form(box->hwnd);
    if (!AnswerMessageBox(box->hwnd, IDOK)) return Fail() << "the message box did not close";
    if (!modal.empty()) return Fail() << "message box " << Printable(box->prompt) << modal;
    // Afterwards, so that a failure leaves the program in a known state.
    if (!same) {
        return Fail() << "message box\n  prompt " << Printable(box->prompt) << "\n  title  "
                      << Printable(box->title) << "\nexpected\n  prompt " << Printable(prompt)
                      << "\n  title  " << Printable(title);
    }
    return Pass();
}

::testing::AssertionResult UpdaterRun::wait_browser(std::optional<FolderBrowser>& browser) const {
    browser = FolderBrowser::Wait(pid());
    if (!browser) return Fail() << "no folder browser" << describe_open_dialogs();
    const std::wstring prompt = browser->prompt();
    if (prompt != expected::kFolderBrowserPrompt)
        return Fail() << "folder browser prompt " << Printable(prompt);
    if (const std::string modal = modal_to_a_form(browser->hwnd()); !modal.empty())
        return Fail() << "folder browser" << modal;
    return Pass();
}

::testing::AssertionResult UpdaterRun::idle(const Window& window) const {
    if (!process_.running()) return Fail() << "the process ended";
    if (!DrainPosted(window.hwnd())) return Fail() << "the window does not answer";
    if (FindDialog(pid())) return Fail() << "a dialog is open" << describe_open_dialogs();
    if (!window.visible()) return Fail() << "the window is not shown";
    if (!window.enabled()) return Fail() << "the window is disabled, as under a modal dialog";
    return Pass();
}

::testing::AssertionResult UpdaterRun::shows(const Window& window, int id,
                                             const std::wstring& text) const {
    std::wstring seen;
    PollUntil([&] { return (seen = window.text(id)) == text; });
    return SameText(seen, text);
}

::testing::AssertionResult UpdaterRun::exits(DWORD code) const {
    const auto exit_code = process_.wait_exit();
    if (!exit_code) return Fail() << "the process did not end" << describe_open_dialogs();
    if (*exit_code != code) return Fail() << "exit code " << *exit_code << ", expected " << code;
    return Pass();
}

std::string UpdaterRun::modal_to_a_form(HWND dialog) const {
    // Modal: owned by the program's window, which takes no input meanwhile, so
    // that no second click can run while the first one waits for an answer.
    const HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner == nullptr || ClassName(owner) != expected::kFormClass || ProcessOf(owner) != pid())
        return " is not owned by the program's window";
    // The dialog is shown a moment before its owner is disabled.
    if (!PollUntil([owner] { return !IsWindowEnabled(owner); }))
        return " leaves its owner window enabled";
    return {};
}

std::string UpdaterRun::describe_open_dialogs() const {
    std::string text;
    for (const HWND window : VisibleTopLevel(pid())) {
        if (ClassName(window) != L"#32770") continue;
        if (const auto box = FindMessageBox(pid()); box && box->hwnd == window)
            text += "; message box " + Printable(box->title) + " " + Printable(box->prompt);
        else if (FolderBrowser::Find(pid()))
            text += "; folder browser";
        else
            text += "; dialog " + Printable(TextOf(window));
    }
    return text;
}

namespace {
// Close to what Windows' "High Contrast Black" sets.
constexpr int kSchemeElements[] = {
    COLOR_WINDOW,        COLOR_WINDOWTEXT,  COLOR_BTNFACE,   COLOR_BTNTEXT,
    COLOR_3DHILIGHT,     COLOR_3DLIGHT,     COLOR_3DSHADOW,  COLOR_3DDKSHADOW,
    COLOR_WINDOWFRAME,   COLOR_GRAYTEXT,    COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
    COLOR_ACTIVECAPTION, COLOR_CAPTIONTEXT, COLOR_INFOBK,    COLOR_INFOTEXT,
};
constexpr COLORREF kBlackScheme[] = {
    RGB(0, 0, 0),       RGB(255, 255, 255), RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128), RGB(255, 255, 255),
    RGB(255, 255, 255), RGB(63, 242, 63),   RGB(26, 235, 255),  RGB(0, 0, 0),
    RGB(0, 0, 0),       RGB(255, 255, 255), RGB(0, 0, 0),       RGB(255, 255, 255),
};
static_assert(std::size(kSchemeElements) == std::size(kBlackScheme));
} // namespace

bool HighContrastScheme::apply() {
    if (saved_.empty())
        for (const int element : kSchemeElements)
            saved_.push_back(GetSysColor(element));
    return SetSysColors(static_cast<int>(std::size(kSchemeElements)), kSchemeElements,
                        kBlackScheme);
}

HighContrastScheme::~HighContrastScheme() {
    if (!saved_.empty())
        SetSysColors(static_cast<int>(std::size(kSchemeElements)), kSchemeElements, saved_.data());
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

int SessionDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

} // namespace tervan::e2e
