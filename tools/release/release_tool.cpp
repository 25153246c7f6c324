// The native helper of scripts/release.sh:
//   release-tool version FILE   prints the file's version, "1.0.0.2"
//   release-tool readme FILE [PUBLISHER]
//                               prints the kit's readme.txt for that tervan58.exe, in a
//                               kit signed by PUBLISHER (the name Windows shows) or
//                               unsigned
// Both fail, with a message, for a file that is not a PE file with version
// information. The readme quotes the program's messages and labels from its own
// sources, so that it says what the program really shows.
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/file_version.hpp"
#include "engine/messages.hpp"
#include "engine/pe_reader.hpp"
#include "platform/posix/posix_file_system.hpp"
#include "ui/forms/access_screen.hpp"
#include "ui/forms/update_window.hpp"

namespace {

using namespace tervan;

std::optional<std::string> ReadVersion(const char* path) {
    auto file = PosixFileSystem().open_read(path);
    if (!file) {
        std::fprintf(stderr, "release-tool: cannot open %s\n", path);
        return std::nullopt;
    }
    const auto version = ReadFixedFileVersion(*file);
    if (!version) {
        std::fprintf(stderr, "release-tool: %s is not a PE file with version information\n", path);
        return std::nullopt;
    }
    return VersionText(*version);
}

// A control's text as the user reads it: "開始(&G)" shows as "開始(G)".
std::string Label(const FormSpec& form, int id) {
    for (const auto& control : form.controls) {
        if (control.id != id) continue;
        std::string text;
        for (const char* c = control.text; *c; ++c)
            if (*c != '&') text += *c;
        return text;
    }
    throw std::logic_error("no control " + std::to_string(id) + " in the layout");
}

// Replaces every `from` in `text` by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A prompt's first sentence, as the message box shows it on its first line.
std::string FirstSentence(const char* prompt) {
    const std::string text = prompt;
    return text.substr(0, text.find("\r\r"));
}

// A message box prompt, then what it means. The program separates a prompt's
// sentences by two carriage returns, which a message box shows as line breaks.
std::string Message(const char* prompt, const std::string& meaning) {
    return "◆ " + Replaced(prompt, "\r\r", "\n  ") + "\n  → " + Replaced(meaning, "\n", "\n    ") +
           "\n\n";
}

// `publisher` is the name the kit's signature gives, empty for an unsigned kit.
std::string Readme(const std::string& version, const std::string& publisher) {
    const FormSpec access = access_screen::Layout();
    const FormSpec update = update_window::Layout();
    const auto q = [](const std::string& s) { return "「" + s + "」"; };
    const std::string shown = text::kVersionPrefix + version;
    const std::string name = "TERVAN58 " + shown;
    std::string kit = "TERVAN58_Ver"; // as scripts/release.sh names the folder and the zip
    for (const char c : version)
        if (c != '.') kit += c;
    const std::string maker = kMakerName;
    const bool signed_kit = !publisher.empty();
    const std::string start = q(Label(update, update_window::Command3));
    const std::string source = q(Label(update, update_window::Label2_1));
    const std::string destination = q(Label(update, update_window::Label2_0));
    const std::string choose = q(Label(update, update_window::Command5));
    const std::string look_up = q(Label(update, update_window::Command2));
    const std::string tries = std::to_string(access_screen::kToleratedWrongEntries + 1);
    const std::string pick_again = "「OK」を押すと、ﾌｫﾙﾀﾞを選ぶ画面が開きます。展開した " + kit +
                                   " ﾌｫﾙﾀﾞ\n"
                                   "（この readme.txt があるﾌｫﾙﾀﾞ）を選んで「OK」を押し、\n" +
                                   start + "をもう一度押して下さい。";

    std::string t;
    t += std::string(text::kAccessTitle) + "  " + name + "\n\n";
    t += "このﾌｫﾙﾀﾞには、次の4つのﾌｧｲﾙが入っています。\n";
    t += "・tervan58.exe: " + name + " の実行ﾌｧｲﾙ\n";
    t += "・tervan58-updater.exe: ｲﾝｽﾄｰﾙ済みのTERVAN58の tervan58.exe を、\n";
    t += "  このﾌｫﾙﾀﾞの tervan58.exe に置き換えるｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ\n";
    t += "・readme.txt: このﾌｧｲﾙ\n";
    t += "・SHA256SUMS.txt: 上の3つのﾌｧｲﾙが壊れていないかを確かめるための値\n\n";
    t += Label(access, access_screen::Label3_0) + "\n";
    t += Label(access, access_screen::Label3_1) + "\n\n";

    t += "■ ｱｯﾌﾟﾃﾞｰﾄの手順\n\n";
    t += "1. ﾀﾞｳﾝﾛｰﾄﾞした " + kit + ".zip を右ｸﾘｯｸして「すべて展開」を選び、\n";
    t += "   「展開」を押して下さい。" + kit + " ﾌｫﾙﾀﾞができます。\n";
    t += "   展開先は、このﾊﾟｿｺﾝの中のﾌｫﾙﾀﾞ（「ダウンロード」など）にして下さい。\n";
    t += "   zipﾌｧｲﾙを開いただけで、展開せずに tervan58-updater.exe を起動すると、\n";
    t += "   tervan58.exe が見つからず、ｱｯﾌﾟﾃﾞｰﾄできません。\n";
    t += "2. TERVAN58を終了して下さい。ﾂｰﾙの画面にも\n";
    t += "   " + q(Label(access, access_screen::Label3_2)) + "と表示されます。\n";
    t += "   TERVAN58が起動したままの時は、何も変更せずにﾒｯｾｰｼﾞでお知らせします。\n";
    t += "3. 展開したﾌｫﾙﾀﾞの tervan58-updater.exe をﾀﾞﾌﾞﾙｸﾘｯｸして起動して下さい。\n";
    t += "   Windowsの確認画面が表示された時は、下の「■ Windowsの確認画面」を\n";
    t += "   見て下さい。ﾂｰﾙがすでに起動している時は、もう1つは起動しません。\n";
    t += "4. " + q(Label(access, access_screen::Label1)) + "に、TERVAN58で\n";
    t += "   使用しているﾊﾟｽﾜｰﾄﾞを入力して、" + q(Label(access, access_screen::Command1)) +
         "か Enter ｷｰを押して下さい。\n";
    t += "   " + q(Label(access, access_screen::Command2)) +
         "を押すと、何も変更せずに終了します。\n";
    t += "   ﾊﾟｽﾜｰﾄﾞがわからない時は、" + maker + "にお問い合わせ下さい。\n";
    t += "5. ｱｯﾌﾟﾃﾞｰﾄの画面で、2つのﾌｫﾙﾀﾞを確認して下さい（下の「■ ｱｯﾌﾟﾃﾞｰﾄの画面」）。\n";
    t += "6. " + start + "を押して下さい。\n";
    t += "   ｺﾋﾟｰ元のﾊﾞｰｼﾞｮﾝ（" + shown + "）が表示され、ﾀﾞｳﾝﾛｰﾄﾞしたﾊﾞｰｼﾞｮﾝの方が\n";
    t += "   新しい時だけ、ｲﾝｽﾄｰﾙ済みの tervan58.exe を置き換えます。\n";
    t += "   ｲﾝｽﾄｰﾙ先が Program Files の中にある時は、この後で\n";
    t += "   「ユーザー アカウント制御」が1回表示されます。\n";
    t += "7. " + q(FirstSentence(text::kSuccess)) + "と表示されたら、\n";
    t += "   「OK」を押して下さい。ﾂｰﾙが終了します。\n";
    t += "   ﾂｰﾙをもう一度起動すると、ｺﾋﾟｰ先のﾊﾞｰｼﾞｮﾝに " + shown + " と表示されます。\n\n";

    t += "■ ｱｯﾌﾟﾃﾞｰﾄの画面\n\n";
    t += destination + "\n";
    t += "  ｲﾝｽﾄｰﾙ済みのTERVAN58のﾌｫﾙﾀﾞです。TERVAN58がWindowsのﾕｰｻﾞｰごとに\n";
    t += "  記録したｲﾝｽﾄｰﾙ先を表示します。欄の上の赤い文字は、そこにある\n";
    t += "  tervan58.exe のﾊﾞｰｼﾞｮﾝです。\n";
    t += "  " + look_up + "を押すと、記録されたｲﾝｽﾄｰﾙ先を読み直して表示します。\n";
    t += source + "\n";
    t += "  新しい tervan58.exe があるﾌｫﾙﾀﾞです。最初は、ﾂｰﾙを起動したﾌｫﾙﾀﾞ\n";
    t += "  （展開した " + kit + " ﾌｫﾙﾀﾞ）が表示されます。" + choose + "を押すと、\n";
    t += "  別のﾌｫﾙﾀﾞを選べます。欄の上の赤い文字のﾊﾞｰｼﾞｮﾝは、" + start + "を\n";
    t += "  押した時に表示されます。それまでは" + q(text::kVersionNotRead) +
         "とだけ表示されます。\n";
    t += "どちらの欄も、直接入力することはできません。\n";
    t += q(Label(update, update_window::Command4)) + "を押すと、何も変更せずに終了します。\n\n";

    t += "■ Windowsの確認画面\n\n";
    t += "「ユーザー アカウント制御」\n";
    t += "  ｲﾝｽﾄｰﾙ先が Program Files の中にある時は、tervan58.exe の置き換えに\n";
    t += "  管理者の権限が要るので、" + start + "を押した後に1回だけ表示されます。\n";
    t += "  管理者のﾕｰｻﾞｰは「はい」を押して下さい。管理者でないﾕｰｻﾞｰには、管理者の\n";
    t += "  ﾊﾟｽﾜｰﾄﾞの入力欄が表示されます。ﾊﾟｿｺﾝの管理者に入力してもらって下さい。\n";
    if (signed_kit) {
        t += "  発行元が「確認済みの発行元: " + publisher + "」と表示されていることを\n";
        t += "  確かめて下さい。違う名前や「不明」と表示された時は「いいえ」を押して、\n";
        t += "  " + maker + "にお問い合わせ下さい。\n";
    } else {
        t += "  このｷｯﾄのﾌｧｲﾙには署名がないので、発行元は「不明な発行元」\n";
        t += "  （Windows 10 以降では「発行元: 不明」）と表示されます。\n";
    }
    t += "  「いいえ」を押した時は、何も変更しません。\n";
    t += "「Windows によって PC が保護されました」（SmartScreen）\n";
    t += "  ｲﾝﾀｰﾈｯﾄからﾀﾞｳﾝﾛｰﾄﾞしたﾌﾟﾛｸﾞﾗﾑを起動した時に、表示されることがあります。\n";
    if (signed_kit) {
        t += "  「詳細情報」を押して、「発行元: " + publisher + "」と表示されていれば、\n";
        t += "  「実行」を押して下さい。\n";
    } else {
        t += "  「詳細情報」を押すと、署名がないので「発行元: 不明な発行元」と表示されます。\n";
        t += "  「アプリ: tervan58-updater.exe」であることを確かめて、「実行」を\n";
        t += "  押して下さい。\n";
    }
    t += "「開いているファイル - セキュリティの警告」\n";
    t += "  同じように表示されることがあります。発行元が" +
         (signed_kit ? q(publisher) : std::string("「不明な発行元」")) + "であることを\n";
    t += "  確かめて、「実行」を押して下さい。\n";
    t += "Windows 7 で、Windowsの更新ﾌﾟﾛｸﾞﾗﾑ KB2533623 が入っていない時\n";
    t += "  このﾂｰﾙは安全のため「ユーザー アカウント制御」を表示しません。\n";
    t += "  Program Files の中にｲﾝｽﾄｰﾙされている時は、tervan58-updater.exe を右ｸﾘｯｸして\n";
    t += "  「管理者として実行」を選んで起動して下さい。\n\n";

    t += "■ 表示されるﾒｯｾｰｼﾞ\n\n";
    t += Message(text::kWrongCode, "入力したﾊﾟｽﾜｰﾄﾞが違います。「OK」を押して、\n"
                                   "TERVAN58で使用しているﾊﾟｽﾜｰﾄﾞを入力し直して下さい。\n"
                                   "間違えた回数は、入力欄の下に表示されます。");
    t += Message(text::kWrongCodeEnd,
                 tries +
                     "回続けて違うﾊﾟｽﾜｰﾄﾞが入力されたので、「OK」を押すと終了します。\n"
                     "何も変更していません。もう一度起動して、正しいﾊﾟｽﾜｰﾄﾞを入力して下さい。\n"
                     "ﾊﾟｽﾜｰﾄﾞがわからない時は、" +
                     maker + "にお問い合わせ下さい。");
    t += Message(text::kNoDestination,
                 "TERVAN58がｲﾝｽﾄｰﾙ先として記録した情報が見つかりません。\n"
                 "何も変更していません。この情報はWindowsのﾕｰｻﾞｰごとに記録されます。\n"
                 "TERVAN58を使用しているﾕｰｻﾞｰでｻｲﾝｲﾝして、ﾂｰﾙを起動し直して下さい。\n"
                 "管理者でないﾕｰｻﾞｰが「管理者として実行」で起動した時も、\n"
                 "管理者のﾕｰｻﾞｰとして起動するので、このﾒｯｾｰｼﾞになります。");
    t += Message(text::kNoSource, source + "が空欄です（ﾌｫﾙﾀﾞを選ぶ画面で\n" +
                                      "「キャンセル」を押した時など）。\n" + pick_again);
    t += Message(text::kNoSourceFile,
                 "ｺﾋﾟｰ元のﾌｫﾙﾀﾞに tervan58.exe がありません。zipﾌｧｲﾙを展開せずに\n"
                 "ﾂｰﾙを起動した時や、" +
                     choose + "で別のﾌｫﾙﾀﾞを選んだ時です。\n" + pick_again +
                     "\n展開していない時は、ﾂｰﾙを終了して、手順1からやり直して下さい。");
    t += Message(text::kSameFolder, "ｺﾋﾟｰ元に、ｲﾝｽﾄｰﾙ先と同じﾌｫﾙﾀﾞが選ばれています。\n" + source +
                                        "は空欄になります。\n" + pick_again);
    t += Message(text::kNotNewer, "ｲﾝｽﾄｰﾙ済みのTERVAN58は、このﾌｫﾙﾀﾞのもの（" + shown +
                                      "）と\n同じか新しいﾊﾞｰｼﾞｮﾝです。"
                                      "ｱｯﾌﾟﾃﾞｰﾄの必要はありません。\n何も変更していません。");
    const std::string publisher_cause =
        signed_kit
            ? "ﾀﾞｳﾝﾛｰﾄﾞした tervan58.exe が、\n署名の後で変更されたか、別の発行元のものです。"
            : "このｷｯﾄの\ntervan58.exe には署名がありません。";
    t += Message(
        text::kUnknownPublisher,
        "ｲﾝｽﾄｰﾙ済みの tervan58.exe には発行元の署名があるので、\n"
        "同じ発行元が署名したﾌｧｲﾙだけに置き換えます。" +
            publisher_cause + "\n何も変更していません。" + maker + "の正規の配布元から\n" +
            (signed_kit ? "ﾀﾞｳﾝﾛｰﾄﾞし直して下さい。" : "署名のあるｷｯﾄをﾀﾞｳﾝﾛｰﾄﾞして下さい。"));
    t += Message(text::kTervan58Running,
                 "TERVAN58が起動しているので、tervan58.exe を置き換えられません。\n"
                 "何も変更していません。TERVAN58を終了してから、" +
                     start +
                     "をもう一度\n押して下さい。TERVAN58の画面が見当たらない時は、\n"
                     "このﾊﾟｿｺﾝにｻｲﾝｲﾝしている別のﾕｰｻﾞｰが使っていないか確かめて下さい。");
    t += Message(text::kCopyFailed,
                 "tervan58.exe を置き換えられませんでした。ｲﾝｽﾄｰﾙ済みのTERVAN58は\n"
                 "元のままです。次のどれかを直してから、\n" +
                     start + "をもう一度押して下さい。\n" +
                     "・「ユーザー アカウント制御」で「いいえ」を押した:\n"
                     "  次は「はい」を押して下さい。\n"
                     "・ｲﾝｽﾄｰﾙ済みの tervan58.exe が読み取り専用になっている:\n"
                     "  右ｸﾘｯｸして「プロパティ」を選び、「読み取り専用」のﾁｪｯｸを外して下さい。\n"
                     "・ﾃﾞｨｽｸの空きが足りない: 空きを作って下さい。\n"
                     "・" +
                     destination +
                     "のﾌｫﾙﾀﾞがない:\n"
                     "  TERVAN58を移動したか削除した時です。" +
                     maker +
                     "にお問い合わせ下さい。\n"
                     "・ﾈｯﾄﾜｰｸﾄﾞﾗｲﾌﾞ（Z: など）のﾌｫﾙﾀﾞから起動した:\n"
                     "  Program Files の中のTERVAN58は、ﾈｯﾄﾜｰｸﾄﾞﾗｲﾌﾞからはｱｯﾌﾟﾃﾞｰﾄできません。\n"
                     "  ﾂｰﾙを終了し、展開したﾌｫﾙﾀﾞを「ダウンロード」などﾊﾟｿｺﾝの中のﾌｫﾙﾀﾞに\n"
                     "  ｺﾋﾟｰして、そこから起動し直して下さい。\n"
                     "・Windows 7 で KB2533623 が入っていない（「■ Windowsの確認画面」）:\n"
                     "  ﾂｰﾙを終了し、「管理者として実行」で起動し直して下さい。");
    t += Message(text::kSuccess, "ｲﾝｽﾄｰﾙ済みの tervan58.exe を " + shown +
                                     " に置き換えました。\n「OK」を押すと、ﾂｰﾙが終了します。");

    t += "■ SHA256SUMS.txt\n\n";
    t += "このﾌｫﾙﾀﾞの tervan58.exe、tervan58-updater.exe、readme.txt のSHA-256値です。\n";
    t += "ﾀﾞｳﾝﾛｰﾄﾞしたﾌｧｲﾙが壊れていないかを、次のように確かめられます。\n";
    t += "1. 展開したﾌｫﾙﾀﾞをｴｸｽﾌﾟﾛｰﾗｰで開き、ｱﾄﾞﾚｽﾊﾞｰに powershell と入力して\n";
    t += "   Enter ｷｰを押します。\n";
    t += "2. 開いた画面に次の1行を入力して、Enter ｷｰを押します。\n";
    t += "   Get-FileHash -Algorithm SHA256 * | Format-List\n";
    t += "   Windows 7 と Windows 8 では、代わりにﾌｧｲﾙごとに次のように入力します。\n";
    t += "   certutil -hashfile tervan58.exe SHA256\n";
    t += "3. 表示された値が、SHA256SUMS.txt のそのﾌｧｲﾙ名の行の値と同じなら、\n";
    t += "   壊れていません。英字の大文字と小文字、空白の違いは問題ありません。\n";
    t += "SHA256SUMS.txt はｷｯﾄと一緒に配布されるので、ﾌｧｲﾙが正規のものかどうかの\n";
    t += "確認にはなりません。";
    if (signed_kit) {
        t += "正規のものかどうかは、ﾌｧｲﾙを右ｸﾘｯｸして\n「プロパティ」を選び、";
        t += "「デジタル署名」の署名者名が " + publisher + " であることで\n確かめて下さい。";
    }
    t += "\n";
    return t;
}

// Notepad reads UTF-8 for sure only with a byte order mark, and older ones break
// lines only at CR LF.
void PrintForNotepad(const std::string& text) {
    std::string out = "\xEF\xBB\xBF";
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 3 ? argv[1] : "";
    if (!(command == "version" && argc == 3) && !(command == "readme" && argc <= 4)) {
        std::fprintf(stderr, "usage: release-tool version FILE | readme FILE [PUBLISHER]\n");
        return 2;
    }
    const auto version = ReadVersion(argv[2]);
    if (!version) return 1;
    if (command == "version")
        std::printf("%s\n", version->c_str());
    else
        PrintForNotepad(Readme(*version, argc == 4 ? argv[3] : ""));
    return std::fflush(stdout) == 0 ? 0 : 1;
}
