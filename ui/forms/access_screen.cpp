#include "ui/forms/access_screen.hpp"

#include "engine/access_code.hpp"
#include "engine/messages.hpp"

namespace tervan {

namespace access_screen {

namespace {
using K = ControlKind;
using C = TextColour;
// One control to two lines: who it is and what it says, then where it is and the rest.
// clang-format off
constexpr ControlSpec kControls[] = {
    {.id = Text1, .name = "Text1", .kind = K::PasswordBox, .text = "",
     .at = {2400, 1800, 1335, 270}, .label = Label1, .font_hundredths_of_point = kEntryFontHundredthsOfPoint,
     .max_length = kMaxEntryLength},
    {.id = Command1, .name = "Command1", .kind = K::Button, .text = "開始(&G)",
     .at = {1440, 2520, 1215, 375}},
    {.id = Command2, .name = "Command2", .kind = K::Button, .text = "中止(&C)",
     .at = {3360, 2520, 1215, 375}},
    {.id = Label3_2, .name = "Label3(2)", .kind = K::Label, .text = "※ [TERVAN58]を終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。",
     .at = {240, 1080, 4380, 180}, .colour = C::Red},
    {.id = Label3_1, .name = "Label3(1)", .kind = K::Label, .text = "ﾀﾞｳﾝﾛｰﾄﾞした実行ﾌｧｲﾙのみをｺﾋﾟｰします。",
     .at = {240, 720, 3255, 180}, .colour = C::Blue},
    {.id = Label3_0, .name = "Label3(0)", .kind = K::Label, .text = "このﾂｰﾙはTERVAN58をすでにｲﾝｽﾄｰﾙ済みのお客様を対象にしています。",
     .at = {240, 360, 5610, 180}, .colour = C::Blue},
    {.id = Label1, .name = "Label1", .kind = K::Label, .text = "ﾊﾟｽﾜｰﾄﾞ入力(TERVAN58で使用するﾊﾟｽﾜｰﾄﾞ)",
     .at = {1680, 1560, 3390, 180}},
    {.id = Label2, .name = "Label2", .kind = K::Label, .text = kMakerName,
     .at = {3960, 3120, 1725, 180}},
    {.id = Label4, .name = "Label4", .kind = K::Label, .text = "",
     .at = {2160, 2160, 495, 180}},
};
// clang-format on
} // namespace

FormSpec Layout() {
    return {6105, 3570, 900, kControls};
}

} // namespace access_screen

std::string AccessScreenTitle() {
    return "「TERVAN58」 ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ" + std::string(13, ' ') + "\u3000 " + kCopyright;
}

void Form3::Form_Load() {
    if (host_.another_copy_running()) {
        host_.end_program();
        return;
    }
    host_.set_marks("");
    host_.set_entry("");
    BadTries = 0;
}

void Form3::Text1_KeyDown(int key_code, int /*shift*/) {
    constexpr int kEnter = 13;
    if (key_code == kEnter) Command1_Click();
}

void Form3::Command1_Click() {
    if (IsAccessCode(host_.entry())) {
        host_.open_update_window(); // this screen and its state are gone now
        return;
    }
    ++BadTries;
    host_.show_message(text::kWrongCode, text::kAccessTitle);
    host_.set_marks(host_.marks() + "* ");
    host_.set_entry("");
    host_.focus_entry();
    if (BadTries > access_screen::kToleratedWrongEntries) {
        host_.show_message(text::kWrongCodeEnd, text::kAccessTitle);
        host_.end_program();
    }
}

} // namespace tervan
