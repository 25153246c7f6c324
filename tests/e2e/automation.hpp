// Driving a GUI program from another process, the way a user would: start it,
// find its windows, read and type into its controls, press its buttons, answer
// its message boxes and its folder browser, and wait for it to end. Only plain
// Win32 calls, so that it works the same on Windows and under Wine.
//
// Posted input (clicks, characters) is handled by the program's own message
// loop in order; reads are sent messages, which the program may answer before
// it takes any posted one. Whoever reads after posting therefore waits for the
// expected state (Wait*, PollUntil) or drains the posted queue first
// (DrainPosted). Keys sent through the system's input queue come after both:
// wait for what they show, or for InputHandled.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervan::e2e {

// Only there so that a broken program cannot hang the suite; nothing is timed.
inline constexpr DWORD kGuardMs = 30000;

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view text);
// UTF-8 with control characters spelled out ("\r"), for failure messages.
std::string Printable(std::wstring_view text);

// Calls `done` until it returns true; false when the guard ran out first.
bool PollUntil(const std::function<bool()>& done, DWORD guard_ms = kGuardMs);

// A started program, ended by force if it still runs when this goes away.
class Process {
public:
    // `working_folder` becomes its current folder; `arguments` follow the quoted exe.
    Process(const std::wstring& exe, const std::wstring& working_folder,
            const std::wstring& arguments = L"");
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return handle_ != nullptr; }
    DWORD start_error() const { return start_error_; }
    DWORD pid() const { return pid_; }
    HANDLE handle() const { return handle_; }
    bool running() const;
    // The exit code, or nullopt when it did not end within the guard.
    std::optional<DWORD> wait_exit(DWORD guard_ms = kGuardMs) const;

private:
    HANDLE handle_ = nullptr;
    DWORD pid_ = 0;
    DWORD start_error_ = 0;
};

std::wstring ClassName(HWND window);
// WM_GETTEXT, which also reads edits and windows of other processes.
std::wstring TextOf(HWND window);
DWORD ProcessOf(HWND window);
// The full path of the module of that file name loaded in the process; empty when none.
std::wstring LoadedModule(DWORD pid, std::wstring_view file_name);
// The visible top-level windows of a process, in z-order.
std::vector<HWND> VisibleTopLevel(DWORD pid);
// A visible top-level window of the process with that class (and title, when given).
HWND FindTopLevel(DWORD pid, std::wstring_view class_name,
                  const std::optional<std::wstring>& title = std::nullopt);
HWND WaitTopLevel(DWORD pid, std::wstring_view class_name, const std::function<bool(HWND)>& accept,
                  DWORD guard_ms = kGuardMs);

// Returns once the window's thread has answered two sent messages: whatever it
// was running when this was called has reached its end or a modal loop. It says
// nothing about posted input still waiting in its queue. False when the thread
// did not answer (hung, or gone).
bool Settle(HWND window);
// Returns once the window's thread has dispatched a message posted now, and then
// settled: every click or character posted to it before has been handled, to
// its end or to the next modal loop. The window needs a button (whose pushed
// look this flips for a moment). False when the thread did not answer.
bool DrainPosted(HWND window);

// Returns once the window's thread has handled every key and click that the system's
// input queue held for it when this was called: a repaint asked for now comes only
// when no sent, posted or input message waits, so the window's update region is empty
// again only after them. True also when the window is gone; false when the thread
// did not paint (hung).
bool InputHandled(HWND window);

struct ChildControl {
    HWND hwnd;
    int id;
    std::wstring class_name;
};

// A top-level window of the program under test and its controls by id.
class Window {
public:
    Window() = default;
    explicit Window(HWND hwnd) : hwnd_(hwnd) {}

    HWND hwnd() const { return hwnd_; }
    explicit operator bool() const { return hwnd_ != nullptr; }
    bool exists() const { return hwnd_ != nullptr && IsWindow(hwnd_); }
    bool visible() const { return exists() && IsWindowVisible(hwnd_); }
    bool enabled() const { return exists() && IsWindowEnabled(hwnd_); }
    std::wstring title() const { return TextOf(hwnd_); }

    HWND control(int id) const { return GetDlgItem(hwnd_, id); }
    std::wstring text(int id) const { return TextOf(control(id)); }
    std::vector<ChildControl> controls() const;
    // The control that has the keyboard focus in the window's thread.
    HWND focus() const;

    // Posted: the handler runs later, in the program's own message loop.
    bool click(int id) const;
    bool type(int id, std::wstring_view characters) const;
    bool press_enter(int id) const;
    bool close() const; // the close box
    // Sent: the characters are in the control when this returns.
    bool type_now(int id, std::wstring_view characters) const;
    // Puts `text` on the clipboard and pastes it into the control; done on return.
    bool paste(int id, std::wstring_view text) const;

    // Rectangles in the window's client coordinates.
    RECT client_rect() const;
    RECT control_rect(int id) const;
    // The window's position on the screen, frame included.
    RECT frame_rect() const;

private:
    HWND hwnd_ = nullptr;
};

// Keyboard input through the system's input queue, to the focused control of
// `window`, which is brought to the foreground first.
bool SendKeys(HWND window, std::wstring_view characters);
bool SendEnter(HWND window);

bool PutOnClipboard(std::wstring_view text);

// A message box ("#32770" with the prompt in Static 65535).
struct MessageBoxSeen {
    HWND hwnd = nullptr;
    std::wstring title;
    std::wstring prompt;
};

std::optional<MessageBoxSeen> FindMessageBox(DWORD pid);
std::optional<MessageBoxSeen> WaitMessageBox(DWORD pid, DWORD guard_ms = kGuardMs);
// Presses the button with that id (IDOK, IDCANCEL, ...) and waits until the box is gone.
bool AnswerMessageBox(HWND box, int button_id);

// Any dialog ("#32770") of the process: message box or folder browser.
HWND FindDialog(DWORD pid);

// SHBrowseForFolderW's dialog.
class FolderBrowser {
public:
    static std::optional<FolderBrowser> Find(DWORD pid);
    static std::optional<FolderBrowser> Wait(DWORD pid, DWORD guard_ms = kGuardMs);

    HWND hwnd() const { return hwnd_; }
    std::wstring caption() const { return TextOf(hwnd_); }
    // The text the program passed as lpszTitle, shown above the tree.
    std::wstring prompt() const;
    // Cancel, and wait until the dialog is gone.
    bool cancel() const;
    // Selects `folder` in the tree, checks that the selection took, presses OK and
    // waits until the dialog is gone. `process` must allow VM operations.
    bool pick(HANDLE process, const std::wstring& folder) const;

private:
    explicit FolderBrowser(HWND hwnd) : hwnd_(hwnd) {}
    std::wstring selected_name(HANDLE process) const;

    HWND hwnd_ = nullptr;
};

bool WaitGone(HWND window, DWORD guard_ms = kGuardMs);

} // namespace tervan::e2e
