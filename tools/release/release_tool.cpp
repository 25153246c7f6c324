// The native helper of scripts/release.sh:
//   release-tool version FILE   prints the file's version, "1.0.0.2"
//   release-tool readme FILE    prints the kit's readme.txt for that tervan58.exe
// Both fail, with a message, for a file that is not a PE file with version
// information. The readme quotes the program's messages and labels from its own
// sources, so that it says what the program really shows.
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/file_version.hpp"
#include "engine/messages.hpp"
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

// A message box prompt, then what it means. The program separates a prompt's
// sentences by two carriage returns, which a message box shows as line breaks.
std::string Message(const char* prompt, const std::string& meaning) {
    return "◆ " + Replaced(prompt, "\r\r", "\n  ") + "\n  → " + Replaced(meaning, "\n", "\n    ") +
           "\n\n";
}

std::string Readme(const std::string& version) {
    const FormSpec access = access_screen::Layout();
    const FormSpec update = update_window::Layout();
    const auto q = [](const std::string& s) { return "「" + s + "」"; };
    const std::string name = "TERVAN58 " + std::string(text::kVersionPrefix) + version;
    const std::string start = q(Label(update, update_window::Command3));
    const std::string source = q(Label(update, update_window::Label2_1));
    const std::string choose = q(Label(update, update_window::Command5));
    const std::string tries = std::to_string(access_screen::kToleratedWrongEntries + 1);

    std::string t;
    t += std::string(text::kAccessTitle) + "  " + name + "\n\n";
    t += "このﾌｫﾙﾀﾞには、" + name + " の実行ﾌｧｲﾙ（tervan58.exe）と、\n";
    t +=
        "それをｲﾝｽﾄｰﾙ済みのTERVAN58にｺﾋﾟｰするｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ（tervan58-updater.exe）が入っています。\n";
    t += Label(access, access_screen::Label3_0) + "\n";
    t += Label(update, update_window::Label3_1) + "\n\n";

    t += "■ ｱｯﾌﾟﾃﾞｰﾄの手順\n\n";
    t += "1. " + Label(access, access_screen::Label3_2) + "\n";
    t += "2. このﾌｫﾙﾀﾞの tervan58-updater.exe を起動して下さい。\n";
    t += "   起動したﾌｫﾙﾀﾞが" + source + "になります。\n";
    t += "   zipﾌｧｲﾙの場合は、ﾌｫﾙﾀﾞごと展開してから起動して下さい。\n";
    t += "3. " + q(Label(access, access_screen::Label1)) + "に、\n";
    t += "   TERVAN58で使用しているﾊﾟｽﾜｰﾄﾞを入力して、" +
         q(Label(access, access_screen::Command1)) + "を押して下さい。\n";
    t += "4. " + q(Label(update, update_window::Label2_0)) + "と\n";
    t += "   " + source + "の、それぞれのﾊﾞｰｼﾞｮﾝを確認して、\n";
    t += "   " + start + "を押して下さい。\n";
    t += "   ﾀﾞｳﾝﾛｰﾄﾞしたﾊﾞｰｼﾞｮﾝの方が新しい時だけ、tervan58.exe を置き換えます。\n";
    t += "   ｲﾝｽﾄｰﾙ先が Program Files の中にある場合は、Windowsの確認画面\n";
    t += "   （ﾕｰｻﾞｰｱｶｳﾝﾄ制御）が1回表示されます。「はい」を押して下さい。\n";
    t += "   管理者のﾊﾟｽﾜｰﾄﾞを求められた場合は、ﾊﾟｿｺﾝの管理者に入力してもらって下さい。\n";
    t += "5. ｱｯﾌﾟﾃﾞｰﾄが終わったら、TERVAN58を起動してﾊﾞｰｼﾞｮﾝを確認して下さい。\n\n";

    t += "■ 表示されるﾒｯｾｰｼﾞ\n\n";
    t += Message(text::kWrongCode, "TERVAN58で使用しているﾊﾟｽﾜｰﾄﾞを入力し直して下さい。\n"
                                   "間違えるたびに、入力欄の下の「*」が1つ増えます。");
    t +=
        Message(text::kWrongCodeEnd, tries + "回続けて違うﾊﾟｽﾜｰﾄﾞが入力されたので、終了しました。\n"
                                             "もう一度起動して、正しいﾊﾟｽﾜｰﾄﾞを入力して下さい。");
    t += Message(text::kNoDestination, "TERVAN58がｲﾝｽﾄｰﾙ先として記録した情報が見つかりません。\n"
                                       "この情報はWindowsのﾕｰｻﾞｰごとに記録されます。\n"
                                       "TERVAN58を使用しているﾕｰｻﾞｰで起動して下さい。");
    t += Message(text::kNoSource, source + "が空欄です。\n"
                                           "続けて開く画面で、このﾌｫﾙﾀﾞを選択して下さい。");
    t += Message(text::kNoSourceFile, source + "に tervan58.exe がありません。\n"
                                               "続けて開く画面で、このﾌｫﾙﾀﾞを選択して下さい。");
    t += Message(text::kSameFolder, "ｺﾋﾟｰ元にｲﾝｽﾄｰﾙ先のﾌｫﾙﾀﾞが選択されています。\n"
                                    "続けて開く画面で、このﾌｫﾙﾀﾞを選択して下さい。\n"
                                    "後から" +
                                        choose + "で選び直すこともできます。");
    t += Message(text::kNotNewer,
                 "ｲﾝｽﾄｰﾙ済みのTERVAN58は、このﾌｫﾙﾀﾞのものと同じか新しいﾊﾞｰｼﾞｮﾝです。\n"
                 "ｱｯﾌﾟﾃﾞｰﾄの必要はありません。何も変更していません。");
    t += Message(text::kUnknownPublisher,
                 "tervan58.exe が壊れているか、ｲﾝｽﾄｰﾙ済みのTERVAN58と同じ発行元のものでは\n"
                 "ありません。何も変更していません。正規の配布元からﾀﾞｳﾝﾛｰﾄﾞし直して下さい。");
    t += Message(text::kCopyFailed,
                 "tervan58.exe を置き換えられませんでした。ｲﾝｽﾄｰﾙ済みのTERVAN58は元のままです。\n"
                 "TERVAN58を終了しているか、ﾃﾞｨｽｸの空きがあるかを確認して、\n" +
                     start +
                     "をもう一度押して下さい。\n"
                     "Windowsの確認画面で「いいえ」を押した場合も、このﾒｯｾｰｼﾞになります。");
    t += Message(text::kSuccess, "tervan58.exe を新しいﾊﾞｰｼﾞｮﾝに置き換えて、ﾂｰﾙを終了しました。");

    t += "■ SHA256SUMS.txt\n\n";
    t += "このﾌｫﾙﾀﾞの各ﾌｧｲﾙのSHA-256値です。\n";
    t += "ﾀﾞｳﾝﾛｰﾄﾞしたﾌｧｲﾙが壊れていないかの確認に使えます。\n";
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
    const std::string command = argc == 3 ? argv[1] : "";
    if (command != "version" && command != "readme") {
        std::fprintf(stderr, "usage: release-tool version|readme FILE\n");
        return 2;
    }
    const auto version = ReadVersion(argv[2]);
    if (!version) return 1;
    if (command == "version")
        std::printf("%s\n", version->c_str());
    else
        PrintForNotepad(Readme(*version));
    return std::fflush(stdout) == 0 ? 0 : 1;
}
