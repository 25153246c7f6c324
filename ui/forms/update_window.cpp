#include "ui/forms/update_window.hpp"

#include "engine/messages.hpp"

namespace tervan {

namespace update_window {

namespace {
using K = ControlKind;
using C = TextColour;
// In tab order: the exit button takes the focus first.
constexpr ControlSpec kControls[] = {
    {Command4, "Command4", K::Button, "終了", 4080, 3480, 1935, 375, C::Default, "ﾌﾟﾛｸﾞﾗﾑの終了"},
    {Command3, "Command3", K::Button, "ｱｯﾌﾟﾃﾞｰﾄを開始", 1440, 3480, 1935, 375, C::Default,
     "ｱｯﾌﾟﾃﾞｰﾄ(ｺﾋﾟｰ)開始"},
    {Command2, "Command2", K::Button, "ｺﾋﾟｰ先の検索", 5640, 840, 1575, 375, C::Default,
     "ｲﾝｽﾄｰﾙ済ﾌｫﾙﾀﾞの検索"},
    {Label1, "Label1", K::BorderedLabel, "", 360, 2760, 6855, 255, C::Default, nullptr, Label2_0},
    {Label2_0, "Label2(0)", K::Label, "[TERVAN58]ｲﾝｽﾄｰﾙﾌｫﾙﾀﾞ名（ｺﾋﾟｰ先）", 360, 2520, 2880, 180},
    {Label3_0, "Label3(0)", K::Label,
     "このﾂｰﾙはTERVAN58をすでにｲﾝｽﾄｰﾙ済みのお客様を対象にしています。", 720, 360, 5610, 180,
     C::Blue},
    {Label3_1, "Label3(1)", K::Label, "ﾀﾞｳﾝﾛｰﾄﾞした実行ﾌｧｲﾙ（TERVAN58.EXE）のみをｺﾋﾟｰします。", 720,
     720, 4545, 180, C::Blue},
    {Label4, "Label4", K::BorderedLabel, "", 360, 1920, 6855, 255, C::Default, nullptr, Label2_1},
    {Label2_1, "Label2(1)", K::Label, "ﾀﾞｳﾝﾛｰﾄﾞした、格納ﾌｫﾙﾀﾞ（ｺﾋﾟｰ元）", 360, 1680, 2655, 180},
    {Label3_2, "Label3(2)", K::Label, "※ [TERVAN58]を終了してからｱｯﾌﾟﾃﾞｰﾄを開始して下さい。", 720,
     1080, 4380, 180, C::Red},
    {Label5_0, "Label5(0)", K::Label, "", 4560, 1680, 495, 180, C::Red},
    {Label5_1, "Label5(1)", K::Label, "", 4560, 2520, 495, 180, C::Red},
    {Command5, "Command5", K::Button, "参照", 6360, 1560, 855, 375, C::Default,
     "ｺﾋﾟｰ元のﾌｫﾙﾀﾞ選択(変更)"},
    {Label6, "Label6", K::Label, kMakerName, 5280, 4080, 1725, 180},
};
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
    host_.set_caption(Caption::SourceVersion, "Ver");
    host_.set_caption(Caption::InstalledVersion, "Ver");
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
