// A window described as data: its client size and its controls in tab order, with
// positions in twips (1/1440 inch), so that a window is reviewed by reading one
// table.
#pragma once

#include <span>

namespace tervan {

enum class ControlKind {
    Button,
    Label, // sizes itself to its text
    // A bordered label that the user cannot type into, rendered as a read-only entry
    // (border, window background, window text), so that screen readers name it by the
    // label before it and the user can select and copy its text.
    ReadOnlyField,
    PasswordBox, // a one-line entry that shows "*" for every character
};

enum class TextColour { Default, Blue, Red };

// A rectangle in twips, within the client area.
struct Twips {
    int left, top, width, height;
};

struct ControlSpec {
    int id;
    const char* name; // the control's name in the program, for tests and reviews
    ControlKind kind;
    const char* text;
    Twips at;
    TextColour colour = TextColour::Default;
    const char* tooltip = nullptr;
    // The label that names this entry or field to screen readers: it is put just
    // before it in window order, which moves no tab stop.
    int label = 0;
    int font_hundredths_of_point = 0; // 0: the form's
    int max_length = 0;               // the most characters a password box takes
};

inline constexpr const char* kFontFace = "ＭＳ Ｐゴシック";

struct FormSpec {
    int client_width, client_height; // twips
    int font_hundredths_of_point;    // the face is kFontFace
    std::span<const ControlSpec> controls;
};

// Twips to pixels at `dpi` (15 twips are one pixel at 96 DPI), rounded to nearest.
inline int TwipsToPixels(int twips, int dpi) {
    return static_cast<int>((static_cast<long long>(twips) * dpi + 720) / 1440);
}

inline constexpr const char* kMakerName = "Karvo Software";
inline constexpr const char* kCopyright = "Copyright (C) 2026 Karvo Software";

} // namespace tervan
