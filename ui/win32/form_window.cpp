#include "ui/win32/form_window.hpp"

#include <commctrl.h>
#include <imm.h>

#include <algorithm>

#include "platform/win32/system_library.hpp"
#include "platform/win32/text.hpp"

namespace tervan {

namespace {

constexpr wchar_t kClassName[] = L"Tervan58UpdaterForm";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

HMODULE User32() {
    return GetModuleHandleW(L"user32.dll"); // in every process with windows
}

// Windows 10 has per-window DPI; older systems have one DPI for the session.
int WindowDpi(HWND hwnd) {
    static const auto get_dpi = ProcedureOf<decltype(GetDpiForWindow)>(User32(), "GetDpiForWindow");
    if (get_dpi && hwnd) return static_cast<int>(get_dpi(hwnd));
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

RECT WindowRectForClient(int width, int height, int dpi) {
    RECT rect{0, 0, width, height};
    static const auto adjust =
        ProcedureOf<decltype(AdjustWindowRectExForDpi)>(User32(), "AdjustWindowRectExForDpi");
    if (adjust)
        adjust(&rect, kStyle, FALSE, 0, static_cast<UINT>(dpi));
    else
        AdjustWindowRectEx(&rect, kStyle, FALSE, 0);
    return rect;
}

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

} // namespace

bool FaceInstalled(const std::wstring& face) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(query.lfFaceName, face.c_str(), LF_FACESIZE);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &query, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

namespace {

// The face Japanese users know from such windows, or the nearest one installed.
const std::wstring& FontFace() {
    static const std::wstring face = [] {
        for (const std::wstring& candidate :
             {Widen(kFontFace), std::wstring(L"MS PGothic"), std::wstring(L"MS UI Gothic"),
              std::wstring(L"Meiryo UI"), std::wstring(L"Yu Gothic UI")})
            if (FaceInstalled(candidate)) return candidate;
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        return std::wstring(metrics.lfMessageFont.lfFaceName);
    }();
    return face;
}

// Loaded at run time, never linked: the loader maps a linked DLL, and looks for the
// DLLs it needs, before the program's first line can narrow the DLL search to the
// system folder (see system_library.hpp); the download folder would come first.
struct CommonControls {
    decltype(SetWindowSubclass)* set_subclass = nullptr;
    decltype(DefSubclassProc)* default_proc = nullptr;
    decltype(RemoveWindowSubclass)* remove_subclass = nullptr;
};

// nullptr when they cannot be loaded.
const CommonControls* LoadedCommonControls() {
    static const CommonControls controls = [] {
        const HMODULE module = LoadCommonControlsLibrary();
        const auto initialize =
            ProcedureOf<decltype(InitCommonControlsEx)>(module, "InitCommonControlsEx");
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
        if (!initialize || !initialize(&classes)) return CommonControls{};
        return CommonControls{
            ProcedureOf<decltype(SetWindowSubclass)>(module, "SetWindowSubclass"),
            ProcedureOf<decltype(DefSubclassProc)>(module, "DefSubclassProc"),
            ProcedureOf<decltype(RemoveWindowSubclass)>(module, "RemoveWindowSubclass")};
    }();
    const bool complete =
        controls.set_subclass && controls.default_proc && controls.remove_subclass;
    return complete ? &controls : nullptr;
}

// Shift, Ctrl and Alt held down, as 1, 2 and 4.
int ShiftState() {
    return (GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
           (GetKeyState(VK_MENU) < 0 ? 4 : 0);
}

// A password box passes Enter to the form instead of beeping.
LRESULT CALLBACK EntryProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                           DWORD_PTR form) {
    const auto pass_on = LoadedCommonControls()->default_proc;
    switch (message) {
    case WM_GETDLGCODE:
        if (lparam && reinterpret_cast<const MSG*>(lparam)->wParam == VK_RETURN)
            return DLGC_WANTALLKEYS | pass_on(hwnd, message, wparam, lparam);
        break;
    case WM_KEYDOWN: {
        auto* window = reinterpret_cast<FormWindow*>(form);
        if (window->on_key_down)
            window->on_key_down(GetDlgCtrlID(hwnd), static_cast<int>(wparam), ShiftState());
        if (wparam == VK_RETURN) return 0;
        break;
    }
    case WM_CHAR:
        if (wparam == '\r' || wparam == '\n') return 0;
        break;
    case WM_NCDESTROY:
        LoadedCommonControls()->remove_subclass(hwnd, EntryProc, 0);
        break;
    }
    return pass_on(hwnd, message, wparam, lparam);
}

// The size a label needs for its text: no width without text, a line's height always.
SIZE TextExtent(HDC dc, HFONT font, const std::wstring& text) {
    const HGDIOBJ old = SelectObject(dc, font);
    RECT extent{0, 0, 0, 0};
    DrawTextW(dc, text.empty() ? L" " : text.c_str(),
              text.empty() ? 1 : static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    return {text.empty() ? 0 : extent.right - extent.left, extent.bottom - extent.top};
}

bool RegisteredClass(WNDPROC procedure) {
    static const ATOM registered = [procedure] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc);
    }();
    return registered != 0;
}

// A control's place in pixels.
struct Place {
    int x, y, width, height;
};

HWND CreateChild(HWND form, int id, DWORD extended_style, const wchar_t* window_class, DWORD style,
                 const std::wstring& text, const Place& at) {
    return CreateWindowExW(extended_style, window_class, text.c_str(),
                           WS_CHILD | WS_VISIBLE | style, at.x, at.y, at.width, at.height, form,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

HWND CreateButton(HWND form, int id, const std::wstring& text, const Place& at) {
    return CreateChild(form, id, 0, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, text, at);
}

HWND CreateLabel(HWND form, int id, const std::wstring& text, const Place& at) {
    // No "&" mnemonics: folder names may contain the character.
    return CreateChild(form, id, 0, L"STATIC", SS_NOPREFIX | SS_LEFTNOWORDWRAP, text, at);
}

// A read-only edit, not a static: screen readers then announce the label before it as
// its name and the folder as its value (a static's name is its own text), and the
// user can select and copy the folder.
HWND CreateField(HWND form, int id, const std::wstring& text, const Place& at) {
    return CreateChild(form, id, 0, L"EDIT", WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, text, at);
}

HWND CreatePasswordBox(HWND form, int id, const std::wstring& text, const Place& at, int max_length,
                       FormWindow* owner) {
    const HWND box = CreateChild(form, id, WS_EX_CLIENTEDGE, L"EDIT",
                                 WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, text, at);
    if (!box) return nullptr;
    SendMessageW(box, EM_SETPASSWORDCHAR, L'*', 0);
    SendMessageW(box, EM_LIMITTEXT, static_cast<WPARAM>(max_length), 0);
    ImmAssociateContextEx(box, nullptr, 0); // no input method editor
    LoadedCommonControls()->set_subclass(box, EntryProc, 0, reinterpret_cast<DWORD_PTR>(owner));
    return box;
}

// Window order is what screen readers search, from an entry backwards, for the
// label that names it; the tab order skips labels, so it stays as it was.
void PutLabelBefore(HWND label, HWND control) {
    const HWND above = GetWindow(control, GW_HWNDPREV);
    if (!label || above == label) return;
    // Just below the window above the control; with none above it, at the top (null
    // is HWND_TOP).
    SetWindowPos(label, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

} // namespace

bool SystemHighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

FormWindow::~FormWindow() {
    destroy();
}

void FormWindow::destroy() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
    release_fonts();
}

bool FormWindow::create(const FormSpec& spec, const std::string& title) {
    if (!LoadedCommonControls() || !RegisteredClass(WindowProc)) return false;
    spec_ = spec;
    hwnd_ =
        CreateWindowExW(0, kClassName, Widen(title).c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd_) return false;
    dpi_ = WindowDpi(hwnd_);
    // A tooltip window only for a form that has tips: it costs a few milliseconds of
    // the start.
    if (std::any_of(spec.controls.begin(), spec.controls.end(),
                    [](const ControlSpec& c) { return c.tooltip != nullptr; }))
        tooltip_ =
            CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0,
                            0, 0, hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);

    // Created in tab order, so the window order is the tab order, and in place. Labels
    // are made the size of their text at once, measured on one device context.
    HDC measuring = GetDC(hwnd_);
    const bool created =
        std::all_of(spec.controls.begin(), spec.controls.end(),
                    [&](const ControlSpec& c) { return add_control(c, measuring); });
    ReleaseDC(hwnd_, measuring);
    if (!created) return false;
    for (const Control& c : controls_)
        if (c.spec.label) PutLabelBefore(control(c.spec.label), c.hwnd);
    centre();
    return true;
}

bool FormWindow::add_control(const ControlSpec& c, HDC measuring) {
    Control control{c, nullptr,
                    c.font_hundredths_of_point ? c.font_hundredths_of_point
                                               : spec_.font_hundredths_of_point};
    const std::wstring text = Widen(c.text);
    const HFONT font = font_for(control.font_hundredths);
    Place place{px(c.at.left), px(c.at.top), px(c.at.width), px(c.at.height)};
    switch (c.kind) {
    case ControlKind::Button:
        control.hwnd = CreateButton(hwnd_, c.id, text, place);
        break;
    case ControlKind::Label: {
        const SIZE extent = TextExtent(measuring, font, text);
        place.width = extent.cx;
        place.height = extent.cy;
        control.hwnd = CreateLabel(hwnd_, c.id, text, place);
        break;
    }
    case ControlKind::ReadOnlyField:
        control.hwnd = CreateField(hwnd_, c.id, text, place);
        break;
    case ControlKind::PasswordBox:
        control.hwnd = CreatePasswordBox(hwnd_, c.id, text, place, c.max_length, this);
        break;
    }
    if (!control.hwnd) return false;
    SendMessageW(control.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.tooltip && tooltip_) add_tip(control.hwnd, c.tooltip);
    controls_.push_back(control);
    return true;
}

void FormWindow::add_tip(HWND control, const char* tip) {
    const std::wstring text = Widen(tip);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// Centred on the screen the window opens on.
void FormWindow::centre() {
    const RECT frame = WindowRectForClient(px(spec_.client_width), px(spec_.client_height), dpi_);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormWindow::show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
    // The first control in tab order that takes the focus gets it.
    for (const Control& c : controls_)
        if (GetWindowLongW(c.hwnd, GWL_STYLE) & WS_TABSTOP) {
            SetFocus(c.hwnd);
            break;
        }
}

std::string FormWindow::text(int id) const {
    const HWND h = control(id);
    if (!h) return {};
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

void FormWindow::set_text(int id, const std::string& text) {
    const Control* c = find(id);
    if (!c) return;
    SetWindowTextW(c->hwnd, Widen(text).c_str());
    if (c->spec.kind == ControlKind::Label) fit_label(*c);
}

void FormWindow::set_title(const std::string& title) {
    SetWindowTextW(hwnd_, Widen(title).c_str());
}

void FormWindow::hold_session_end(const std::string& reason) {
    session_end_held_ = true;
    ShutdownBlockReasonCreate(hwnd_, Widen(reason).c_str());
}

void FormWindow::release_session_end() {
    session_end_held_ = false;
    ShutdownBlockReasonDestroy(hwnd_);
}

const FormWindow::Control* FormWindow::find(int id) const {
    for (const Control& c : controls_)
        if (c.spec.id == id) return &c;
    return nullptr;
}

HFONT FormWindow::font_for(int hundredths) {
    for (const auto& [size, font] : fonts_)
        if (size == hundredths) return font;
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(hundredths, dpi_, 7200);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, FontFace().c_str(), LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&lf);
    fonts_.emplace_back(hundredths, font);
    return font;
}

void FormWindow::release_fonts() {
    for (const auto& [size, font] : fonts_)
        DeleteObject(font);
    fonts_.clear();
}

// At a new DPI: every control gets its place, size and font again.
void FormWindow::place_controls() {
    std::vector<std::pair<int, HFONT>> old_fonts;
    old_fonts.swap(fonts_);
    for (const Control& c : controls_) {
        SetWindowPos(c.hwnd, nullptr, px(c.spec.at.left), px(c.spec.at.top), px(c.spec.at.width),
                     px(c.spec.at.height), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(c.font_hundredths)),
                     FALSE);
        if (c.spec.kind == ControlKind::Label) fit_label(c);
        InvalidateRect(c.hwnd, nullptr, TRUE);
    }
    for (const auto& [size, font] : old_fonts)
        DeleteObject(font);
}

// Labels take the size of their text, growing to the right.
void FormWindow::fit_label(const Control& c) {
    const int length = GetWindowTextLengthW(c.hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(c.hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    HDC dc = GetDC(c.hwnd);
    const SIZE extent =
        TextExtent(dc, reinterpret_cast<HFONT>(SendMessageW(c.hwnd, WM_GETFONT, 0, 0)), text);
    ReleaseDC(c.hwnd, dc);
    SetWindowPos(c.hwnd, nullptr, 0, 0, extent.cx, extent.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK FormWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* window = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window && window->hwnd_ == hwnd) return window->handle(message, wparam, lparam);
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT FormWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_COMMAND: {
        // A disabled form waits for something (the administrator step): no second
        // procedure may start, not even from a click posted to a button.
        if (!IsWindowEnabled(hwnd_)) return 0;
        int id = LOWORD(wparam);
        // Enter on a focused button presses it, as in any dialog.
        if (id == IDOK && lparam == 0) {
            const HWND focus = GetFocus();
            const Control* c = focus ? find(GetDlgCtrlID(focus)) : nullptr;
            if (!c || c->spec.kind != ControlKind::Button || c->hwnd != focus) return 0;
            id = c->spec.id;
        } else if (HIWORD(wparam) != BN_CLICKED) {
            break;
        }
        const Control* c = find(id);
        if (c && c->spec.kind == ControlKind::Button && on_click) on_click(id);
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        const Control* c = find(GetDlgCtrlID(reinterpret_cast<HWND>(lparam)));
        if (!c) break;
        HDC dc = reinterpret_cast<HDC>(wparam);
        // The read-only fields look like fields: the window's colours.
        if (c->spec.kind == ControlKind::ReadOnlyField) {
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        // A high-contrast scheme chooses every colour; the designed blue and red would
        // be dark on its black, so the notes then look like every other label.
        COLORREF text = GetSysColor(COLOR_BTNTEXT);
        if (c->spec.colour != TextColour::Default && !(high_contrast_on && high_contrast_on()))
            text = c->spec.colour == TextColour::Blue ? kBlue : kRed;
        SetTextColor(dc, text);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wparam);
        place_controls();
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_SYSCOLORCHANGE:
        // Only top-level windows are told (the tooltip window is one); common controls
        // hear it from their parent.
        for (const Control& c : controls_)
            SendMessageW(c.hwnd, message, wparam, lparam);
        [[fallthrough]];
    case WM_SETTINGCHANGE:
        // High contrast switched on or off, or another scheme: the labels' colours
        // are chosen at each paint, so painting again is all it takes.
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        break;
    case WM_CLOSE:
        // As for WM_COMMAND: a close sent by another program (taskkill, an installer)
        // must not end the program while it waits for something.
        if (IsWindowEnabled(hwnd_) && on_close) on_close();
        return 0;
    case WM_QUERYENDSESSION:
        if (session_end_held_) return FALSE;
        break;
    }
    return DefWindowProcW(hwnd_, message, wparam, lparam);
}

} // namespace tervan
