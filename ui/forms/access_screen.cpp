#include "ui/forms/access_screen.hpp"

#include "engine/access_code.hpp"

namespace tervan {

namespace access_screen {

namespace {
using K = ControlKind;
using C = TextColour;
constexpr ControlSpec kControls[] = {
    {Text1, "Text1", K::PasswordBox, "", 2400, 1800, 1335, 270, C::Default, nullptr, Label1,
     kEntryFontHundredthsOfPoint},
    {Command1, "Command1", K::Button, "開始(&G)", 1440, 2520, 1215, 375},
    {Command2, "Command2", K::Button, "中止(&C)", 3360, 2520, 1215, 375},
    {Label3_2, "Label3(2)", K::Label, "※ [TERVAN58]を終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。", 240,
     1080, 4380, 180, C::Red},
    {Label3_1, "Label3(1)", K::Label, "ﾀﾞｳﾝﾛｰﾄﾞした実行ﾌｧｲﾙのみをｺﾋﾟｰします。", 240, 720, 3255, 180,
     C::Blue},
    {Label3_0, "Label3(0)", K::Label,
     "このﾂｰﾙはTERVAN58をすでにｲﾝｽﾄｰﾙ済みのお客様を対象にしています。", 240, 360, 5610, 180,
     C::Blue},
    {Label1, "Label1", K::Label, "ﾊﾟｽﾜｰﾄﾞ入力(TERVAN58で使用するﾊﾟｽﾜｰﾄﾞ)", 1680, 1560, 3390, 180},
    {Label2, "Label2", K::Label, kMakerName, 3960, 3120, 1725, 180},
    {Label4, "Label4", K::Label, "", 2160, 2160, 495, 180},
};
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
