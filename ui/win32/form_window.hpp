// A top-level window built from a FormSpec: the controls, their fonts, colours,
// tooltips and tab order, placed in pixels at the window's DPI and placed again
// when the window moves to a monitor with another DPI.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "ui/forms/layout.hpp"

namespace tervan {

// Whether the user has a high-contrast scheme on.
bool SystemHighContrastOn();

// Whether a font of that face is installed.
bool FaceInstalled(const std::wstring& face);

class FormWindow {
public:
    FormWindow() = default;
    ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    // Called with the control id of a clicked button.
    std::function<void(int id)> on_click;
    // Called with the key code of a key pressed in a password box, and the Shift (1),
    // Ctrl (2) and Alt (4) keys held down with it.
    std::function<void(int id, int key_code, int shift)> on_key_down;
    // The close box.
    std::function<void()> on_close;
    // Whether the user has a high-contrast scheme on, asked at each paint of a coloured
    // label: the system's answer. Pictures and tests give their own where the system
    // cannot switch it (Wine always answers "off").
    std::function<bool()> high_contrast_on = [] { return SystemHighContrastOn(); };

    // Creates the window hidden, centred on the screen, with every control.
    bool create(const FormSpec& spec, const std::string& title);
    void show();
    void destroy();

    HWND hwnd() const { return hwnd_; }
    HWND control(int id) const { return GetDlgItem(hwnd_, id); }
    std::string text(int id) const;
    void set_text(int id, const std::string& text);
    void set_title(const std::string& title);
    // While held, the end of the session (sign-out, shutdown, a restart for updates)
    // waits for the program, and Windows shows the user `reason`: for work that must
    // not be cut off halfway. Released by release_session_end.
    void hold_session_end(const std::string& reason);
    void release_session_end();

private:
    struct Control {
        ControlSpec spec;
        HWND hwnd = nullptr;
        int font_hundredths = 0;
    };

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    bool add_control(const ControlSpec& spec, HDC measuring);
    void add_tip(HWND control, const char* tip);
    void centre();
    void place_controls();
    void fit_label(const Control& control);
    HFONT font_for(int hundredths_of_point);
    void release_fonts();
    const Control* find(int id) const;
    int px(int twips) const { return TwipsToPixels(twips, dpi_); }

    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    FormSpec spec_{};
    int dpi_ = 96;
    bool session_end_held_ = false;
    std::vector<Control> controls_;
    std::vector<std::pair<int, HFONT>> fonts_; // by size, for the current DPI
};

} // namespace tervan
