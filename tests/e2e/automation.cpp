#include "tests/e2e/automation.hpp"

#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>

namespace tervan::e2e {

namespace {

// Short enough that a wait ends soon after the state is reached.
constexpr DWORD kPollMs = 10;
// A sent message that is not answered within this is a hang.
constexpr UINT kSendMs = 10000;

// The folder browser's tree (Wine and Windows use the same ids).
constexpr int kBrowserTreeId = 14145;
constexpr int kBrowserPromptId = 14146;
// MessageBoxW's prompt.
constexpr int kMessagePromptId = 0xFFFF;

bool Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result = nullptr) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, kSendMs,
                               result ? result : &ignored) != 0;
}

HWND ChildById(HWND parent, int id) {
    return parent ? GetDlgItem(parent, id) : nullptr;
}

bool IsDialogClass(HWND window) {
    return ClassName(window) == L"#32770";
}

bool IsFolderBrowser(HWND dialog) {
    const HWND tree = ChildById(dialog, kBrowserTreeId);
    return tree != nullptr && ClassName(tree) == WC_TREEVIEWW;
}

bool IsMessageBox(HWND dialog) {
    return !IsFolderBrowser(dialog) && ChildById(dialog, kMessagePromptId) != nullptr;
}

HWND FirstDialog(DWORD pid, bool (*kind)(HWND)) {
    for (const HWND window : VisibleTopLevel(pid))
        if (IsDialogClass(window) && kind(window)) return window;
    return nullptr;
}

bool AnyKind(HWND) {
    return true;
}

// Memory in another process, released with this object.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size)
        : process_(process), address_(VirtualAllocEx(process, nullptr, size,
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    char* address() const { return static_cast<char*>(address_); }
    bool write(std::size_t offset, const void* data, std::size_t size) const {
        SIZE_T done = 0;
        return address_ && WriteProcessMemory(process_, address() + offset, data, size, &done) &&
               done == size;
    }
    bool read(std::size_t offset, void* data, std::size_t size) const {
        SIZE_T done = 0;
        return address_ && ReadProcessMemory(process_, address() + offset, data, size, &done) &&
               done == size;
    }

private:
    HANDLE process_;
    void* address_;
};

std::wstring LastComponent(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    const auto slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

std::string Printable(std::wstring_view text) {
    std::wstring spelled;
    for (const wchar_t c : text) {
        if (c == L'\r')
            spelled += L"\\r";
        else if (c == L'\n')
            spelled += L"\\n";
        else if (c == L'\t')
            spelled += L"\\t";
        else if (c < 0x20) {
            wchar_t code[8];
            swprintf(code, 8, L"\\x%02x", static_cast<unsigned>(c));
            spelled += code;
        } else
            spelled += c;
    }
    return "\"" + Utf8(spelled) + "\"";
}

bool PollUntil(const std::function<bool()>& done, DWORD guard_ms) {
    const ULONGLONG give_up = GetTickCount64() + guard_ms;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() > give_up) return done();
        Sleep(kPollMs);
    }
}

Process::Process(const std::wstring& exe, const std::wstring& working_folder,
                 const std::wstring& arguments) {
    std::wstring command_line = L"\"" + exe + L"\"";
    if (!arguments.empty()) command_line += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        working_folder.empty() ? nullptr : working_folder.c_str(), &startup,
                        &info)) {
        start_error_ = GetLastError();
        return;
    }
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    pid_ = info.dwProcessId;
}

Process::~Process() {
    if (handle_ == nullptr) return;
    if (running()) {
        TerminateProcess(handle_, 99);
        WaitForSingleObject(handle_, kGuardMs);
    }
    CloseHandle(handle_);
}

bool Process::running() const {
    return handle_ != nullptr && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::wait_exit(DWORD guard_ms) const {
    if (handle_ == nullptr || WaitForSingleObject(handle_, guard_ms) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(handle_, &code);
    return code;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = L"";
    const int length = window ? GetClassNameW(window, name, 256) : 0;
    return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::wstring TextOf(HWND window) {
    if (window == nullptr) return {};
    DWORD_PTR length = 0;
    if (!Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    // Room for a text that grew between the two messages.
    std::wstring text(length + 64, L'\0');
    DWORD_PTR copied = 0;
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied))
        return {};
    text.resize(copied);
    return text;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::wstring LoadedModule(DWORD pid, std::wstring_view file_name) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) return {};
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    std::wstring path;
    for (BOOL more = Module32FirstW(snapshot, &module); more && path.empty();
         more = Module32NextW(snapshot, &module))
        if (lstrcmpiW(module.szModule, std::wstring(file_name).c_str()) == 0)
            path = module.szExePath;
    CloseHandle(snapshot);
    return path;
}

std::vector<HWND> VisibleTopLevel(DWORD pid) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    EnumWindows(
        [](HWND window, LPARAM context) WINAPI -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (IsWindowVisible(window) && ProcessOf(window) == s->pid) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindTopLevel(DWORD pid, std::wstring_view class_name,
                  const std::optional<std::wstring>& title) {
    for (const HWND window : VisibleTopLevel(pid))
        if (ClassName(window) == class_name && (!title || TextOf(window) == *title)) return window;
    return nullptr;
}

HWND WaitTopLevel(DWORD pid, std::wstring_view class_name, const std::function<bool(HWND)>& accept,
                  DWORD guard_ms) {
    HWND found = nullptr;
    PollUntil(
        [&] {
            for (const HWND window : VisibleTopLevel(pid))
                if (ClassName(window) == class_name && accept(window)) {
                    found = window;
                    return true;
                }
            return false;
        },
        guard_ms);
    return found;
}

bool Settle(HWND window) {
    return Send(window, WM_NULL, 0, 0) && Send(window, WM_NULL, 0, 0);
}

bool DrainPosted(HWND window) {
    // A posted BM_SETSTATE leaves a mark that a sent BM_GETSTATE can read: once
    // it shows, the thread has dispatched everything posted before it.
    HWND button = nullptr;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) WINAPI -> BOOL {
            if (ClassName(child) != L"Button") return TRUE;
            *reinterpret_cast<HWND*>(found) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&button));
    if (!button || !PostMessageW(button, BM_SETSTATE, TRUE, 0)) return false;
    const bool marked = PollUntil([button] {
        DWORD_PTR state = 0;
        return !Send(button, BM_GETSTATE, 0, 0, &state) || (state & BST_PUSHED) != 0;
    });
    return Send(button, BM_SETSTATE, FALSE, 0) && marked && Settle(window);
}

bool InputHandled(HWND window) {
    if (!InvalidateRect(window, nullptr, FALSE)) return !IsWindow(window);
    return PollUntil(
        [window] { return !IsWindow(window) || !GetUpdateRect(window, nullptr, FALSE); });
}

std::vector<ChildControl> Window::controls() const {
    std::vector<ChildControl> found;
    EnumChildWindows(
        hwnd_,
        [](HWND child, LPARAM context) WINAPI -> BOOL {
            auto* list = reinterpret_cast<std::vector<ChildControl>*>(context);
            list->push_back({child, GetDlgCtrlID(child), ClassName(child)});
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND Window::focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd_, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool Window::click(int id) const {
    const HWND button = control(id);
    return button && PostMessageW(button, BM_CLICK, 0, 0);
}

bool Window::type(int id, std::wstring_view characters) const {
    const HWND target = control(id);
    if (!target) return false;
    for (const wchar_t c : characters)
        if (!PostMessageW(target, WM_CHAR, c, 1)) return false;
    return true;
}

bool Window::press_enter(int id) const {
    const HWND target = control(id);
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC)) << 16;
    return target && PostMessageW(target, WM_KEYDOWN, VK_RETURN, scan | 1) &&
           PostMessageW(target, WM_KEYUP, VK_RETURN, scan | 1 | (3u << 30));
}

bool Window::close() const {
    return PostMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool Window::type_now(int id, std::wstring_view characters) const {
    const HWND target = control(id);
    if (!target) return false;
    for (const wchar_t c : characters)
        if (!Send(target, WM_CHAR, c, 1)) return false;
    return true;
}

bool Window::paste(int id, std::wstring_view text) const {
    const HWND target = control(id);
    return target && PutOnClipboard(text) && Send(target, WM_PASTE, 0, 0);
}

RECT Window::client_rect() const {
    RECT rect{};
    GetClientRect(hwnd_, &rect);
    return rect;
}

RECT Window::control_rect(int id) const {
    RECT rect{};
    const HWND target = control(id);
    if (!target || !GetWindowRect(target, &rect)) return RECT{};
    MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT Window::frame_rect() const {
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    return rect;
}

bool SendKeys(HWND window, std::wstring_view characters) {
    SetForegroundWindow(window);
    std::vector<INPUT> inputs;
    for (const wchar_t c : characters)
        for (const DWORD up : {0ul, static_cast<unsigned long>(KEYEVENTF_KEYUP)}) {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wScan = c;
            input.ki.dwFlags = KEYEVENTF_UNICODE | up;
            inputs.push_back(input);
        }
    return inputs.empty() || SendInput(static_cast<UINT>(inputs.size()), inputs.data(),
                                       sizeof(INPUT)) == inputs.size();
}

bool SendEnter(HWND window) {
    SetForegroundWindow(window);
    INPUT inputs[2]{};
    for (int i = 0; i < 2; ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = VK_RETURN;
        inputs[i].ki.wScan = static_cast<WORD>(MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC));
        inputs[i].ki.dwFlags = i == 0 ? 0 : KEYEVENTF_KEYUP;
    }
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

bool PutOnClipboard(std::wstring_view text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return false;
    auto* data = static_cast<wchar_t*>(GlobalLock(memory));
    text.copy(data, text.size());
    data[text.size()] = L'\0';
    GlobalUnlock(memory);
    // Another process may have it open for a moment.
    if (!PollUntil([] { return OpenClipboard(nullptr) != 0; })) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    if (!ok) GlobalFree(memory);
    CloseClipboard();
    return ok;
}

std::optional<MessageBoxSeen> FindMessageBox(DWORD pid) {
    const HWND box = FirstDialog(pid, IsMessageBox);
    if (!box) return std::nullopt;
    return MessageBoxSeen{box, TextOf(box), TextOf(ChildById(box, kMessagePromptId))};
}

std::optional<MessageBoxSeen> WaitMessageBox(DWORD pid, DWORD guard_ms) {
    std::optional<MessageBoxSeen> seen;
    PollUntil([&] { return (seen = FindMessageBox(pid)).has_value(); }, guard_ms);
    return seen;
}

bool AnswerMessageBox(HWND box, int button_id) {
    const HWND button = ChildById(box, button_id);
    if (button)
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button_id, BN_CLICKED), 0);
    return WaitGone(box);
}

HWND FindDialog(DWORD pid) {
    return FirstDialog(pid, AnyKind);
}

std::optional<FolderBrowser> FolderBrowser::Find(DWORD pid) {
    const HWND dialog = FirstDialog(pid, IsFolderBrowser);
    if (!dialog) return std::nullopt;
    return FolderBrowser(dialog);
}

std::optional<FolderBrowser> FolderBrowser::Wait(DWORD pid, DWORD guard_ms) {
    std::optional<FolderBrowser> found;
    PollUntil([&] { return (found = Find(pid)).has_value(); }, guard_ms);
    return found;
}

std::wstring FolderBrowser::prompt() const {
    return TextOf(ChildById(hwnd_, kBrowserPromptId));
}

bool FolderBrowser::cancel() const {
    PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return WaitGone(hwnd_);
}

std::wstring FolderBrowser::selected_name(HANDLE process) const {
    const HWND tree = ChildById(hwnd_, kBrowserTreeId);
    DWORD_PTR item = 0;
    if (!tree || !Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, &item) || item == 0) return {};
    // The tree fills a TVITEMW in its own process: both live in the target's memory.
    constexpr std::size_t kChars = MAX_PATH;
    RemoteBuffer remote(process, sizeof(TVITEMW) + kChars * sizeof(wchar_t));
    TVITEMW request{};
    request.mask = TVIF_TEXT | TVIF_HANDLE;
    request.hItem = reinterpret_cast<HTREEITEM>(item);
    request.pszText = reinterpret_cast<wchar_t*>(remote.address() + sizeof(TVITEMW));
    request.cchTextMax = kChars;
    const wchar_t nothing = L'\0';
    DWORD_PTR ok = 0;
    if (!remote.write(0, &request, sizeof request) ||
        !remote.write(sizeof(TVITEMW), &nothing, sizeof nothing) ||
        !Send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.address()), &ok) || !ok)
        return {};
    std::wstring name(kChars, L'\0');
    if (!remote.read(sizeof(TVITEMW), name.data(), kChars * sizeof(wchar_t))) return {};
    name.resize(name.find(L'\0') == std::wstring::npos ? kChars : name.find(L'\0'));
    return name;
}

bool FolderBrowser::pick(HANDLE process, const std::wstring& folder) const {
    RemoteBuffer path(process, (folder.size() + 1) * sizeof(wchar_t));
    if (!path.write(0, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t))) return false;
    const std::wstring wanted = LastComponent(folder);
    // The tree sometimes is not ready for the first request: ask until it shows the
    // folder as selected.
    const bool selected = PollUntil([&] {
        Send(hwnd_, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.address()));
        return CompareStringOrdinal(selected_name(process).c_str(), -1, wanted.c_str(), -1, TRUE) ==
               CSTR_EQUAL;
    });
    if (!selected) return false;
    PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return WaitGone(hwnd_);
}

bool WaitGone(HWND window, DWORD guard_ms) {
    // Destroyed, not merely hidden: a dialog is hidden before its modal loop ends.
    return PollUntil([&] { return !IsWindow(window); }, guard_ms);
}

} // namespace tervan::e2e
