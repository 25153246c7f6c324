// The yardstick for the updater's start-up: the least a Win32 program can be that shows
// a window with one edit box holding the focus. Built and linked like the updater
// (static, -Os, stripped), without its manifest, resources or extra DLLs.
//
// Built a second time with BENCH_COMMON_CONTROLS: the updater's manifest (Common
// Controls 6) and InitCommonControlsEx, the part of the updater's start that no window
// of its own can avoid.
#include <windows.h>

#ifdef BENCH_COMMON_CONTROLS
#include <commctrl.h>
#endif

namespace {

constexpr wchar_t kClassName[] = L"Tervan58BenchMinimal";
constexpr int kEntryId = 301;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifdef BENCH_COMMON_CONTROLS
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
#endif
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 1;
    const HWND window =
        CreateWindowExW(0, kClassName, L"minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 400, 160, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    const HWND entry = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 16, 16,
        200, 24, window, reinterpret_cast<HMENU>(kEntryId), instance, nullptr);
    if (!entry) return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    SetFocus(entry);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
