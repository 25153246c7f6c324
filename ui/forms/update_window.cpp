#include "ui/forms/update_window.hpp"

#include "engine/messages.hpp"

namespace tervan {

namespace update_window {

namespace {
using K = ControlKind;
using C = TextColour;
// In tab order: the exit button takes the focus first.
// One control to two lines: who it is and what it says, then where it is and the rest.
// clang-format off
constexpr ControlSpec kControls[] = {
    {.id = Command4, .name = "Command4", .kind = K::Button, .text = "終了",
     .at = {4080, 3480, 1935, 375}, .tooltip = "ﾌﾟﾛｸﾞﾗﾑの終了"},
    {.id = Command3, .name = "Command3", .kind = K::Button, .text = "ｱｯﾌﾟﾃﾞｰﾄを開始",
     .at = {1440, 3480, 1935, 375}, .tooltip = "ｱｯﾌﾟﾃﾞｰﾄ(ｺﾋﾟｰ)開始"},
    {.id = Command2, .name = "Command2", .kind = K::Button, .text = "ｺﾋﾟｰ先の検索",
     .at = {5640, 840, 1575, 375}, .tooltip = "ｲﾝｽﾄｰﾙ済ﾌｫﾙﾀﾞの検索"},
    {.id = Label1, .name = "Label1", .kind = K::ReadOnlyField, .text = "",
     .at = {360, 2760, 6855, 255}, .label = Label2_0},
    {.id = Label2_0, .name = "Label2(0)", .kind = K::Label, .text = "[TERVAN58]ｲﾝｽﾄｰﾙﾌｫﾙﾀﾞ名（ｺﾋﾟｰ先）",
     .at = {360, 2520, 2880, 180}},
    {.id = Label3_0, .name = "Label3(0)", .kind = K::Label, .text = "このﾂｰﾙはTERVAN58をすでにｲﾝｽﾄｰﾙ済みのお客様を対象にしています。",
     .at = {720, 360, 5610, 180}, .colour = C::Blue},
    {.id = Label3_1, .name = "Label3(1)", .kind = K::Label, .text = "ﾀﾞｳﾝﾛｰﾄﾞした実行ﾌｧｲﾙ（TERVAN58.EXE）のみをｺﾋﾟｰします。",
     .at = {720, 720, 4545, 180}, .colour = C::Blue},
    {.id = Label4, .name = "Label4", .kind = K::ReadOnlyField, .text = "",
     .at = {360, 1920, 6855, 255}, .label = Label2_1},
    {.id = Label2_1, .name = "Label2(1)", .kind = K::Label, .text = "ﾀﾞｳﾝﾛｰﾄﾞした、格納ﾌｫﾙﾀﾞ（ｺﾋﾟｰ元）",
     .at = {360, 1680, 2655, 180}},
    {.id = Label3_2, .name = "Label3(2)", .kind = K::Label, .text = "※ [TERVAN58]を終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。",
     .at = {720, 1080, 4380, 180}, .colour = C::Red},
    {.id = Label5_0, .name = "Label5(0)", .kind = K::Label, .text = "",
     .at = {4560, 1680, 495, 180}, .colour = C::Red},
    {.id = Label5_1, .name = "Label5(1)", .kind = K::Label, .text = "",
     .at = {4560, 2520, 495, 180}, .colour = C::Red},
    {.id = Command5, .name = "Command5", .kind = K::Button, .text = "参照",
     .at = {6360, 1560, 855, 375}, .tooltip = "ｺﾋﾟｰ元のﾌｫﾙﾀﾞ選択(変更)"},
    {.id = Label6, .name = "Label6", .kind = K::Label, .text = kMakerName,
     .at = {5280, 4080, 1725, 180}},
};
// clang-format on
} // namespace

FormSpec Layout() {
    return {7515, 4485, 900, kControls};
}

int ControlId(Caption which) {
    switch (which) {
    case Caption::Destination:
        return Label1;
    case Caption::Source:
        return Label4;
    case Caption::SourceVersion:
        return Label5_0;
    case Caption::InstalledVersion:
        return Label5_1;
    }
    return 0;
}

} // namespace update_window

std::string UpdateWindowTitle(ProgramVersion version) {
    return " ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ    Ver." + std::to_string(version.major) + "." +
           std::to_string(version.minor) + std::to_string(version.revision) + std::string(19, ' ') +
           kCopyright;
}

void Form1::Form_Load() {
    host_.set_caption(Caption::Destination, "");
    host_.set_caption(Caption::Source, host_.own_folder());
    host_.set_caption(Caption::SourceVersion, text::kVersionNotRead);
    host_.set_caption(Caption::InstalledVersion, text::kVersionNotRead);
    host_.set_title(UpdateWindowTitle(host_.own_version()));
    LoadInstallPath();
    host_.set_caption(Caption::Destination, InstallPath);
    // Unlike the update procedure, the load always inserts the "\".
    const std::string installed =
        TrimBlanks(host_.caption(Caption::Destination)) + "\\" + kTargetExeName;
    host_.set_caption(Caption::InstalledVersion,
                      text::kVersionPrefix + fs_.file_version_text(installed));
}

void Form1::Command2_Click() {
    host_.set_caption(Caption::Destination, "");
    LoadInstallPath();
    host_.set_caption(Caption::Destination, InstallPath);
}

void Form1::Command5_Click() {
    const std::string folder = host_.pick_folder();
    if (!folder.empty()) host_.set_caption(Caption::Source, folder);
}

void Form1::LoadInstallPath() {
    InstallPath = host_.read_setting("KARVO", "tErvan58", "Key_Path");
}

} // namespace tervan
