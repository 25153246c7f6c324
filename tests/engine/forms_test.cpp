// The two windows' event procedures, through recording hosts.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "engine/messages.hpp"
#include "tests/engine/fakes.hpp"
#include "ui/forms/access_screen.hpp"
#include "ui/forms/update_window.hpp"

namespace tervan::testing {
namespace {

struct FakeUpdateWindow : UpdateWindowHost {
    std::map<Caption, std::string> captions;
    std::string title;
    std::vector<std::string> events;
    std::string setting; // what the settings store holds for the install folder
    std::string picked;
    std::string caption(Caption which) override { return captions[which]; }
    void set_caption(Caption which, const std::string& text) override { captions[which] = text; }
    void set_title(const std::string& text) override { title = text; }
    void show_message(const std::string& prompt, const std::string& t) override {
        events.push_back(t + " | " + prompt);
    }
    std::string pick_folder() override {
        events.push_back("pick folder");
        return picked;
    }
    void end_program() override { events.push_back("end"); }
    std::string own_folder() override { return "C:\\Downloads"; }
    ProgramVersion own_version() override { return {1, 0, 1}; }
    std::string read_setting(const std::string& app, const std::string& section,
                             const std::string& key) override {
        events.push_back("read " + app + "/" + section + "/" + key);
        return setting;
    }
    ElevatedStep replace_as_administrator(const std::string&, const std::string&) override {
        events.push_back("administrator");
        return ElevatedStep::NotRun;
    }
};

TEST(UpdateWindowTitle, RevisionFollowsTheMinorNumber) {
    const std::string blanks(19, ' ');
    EXPECT_EQ(UpdateWindowTitle({1, 0, 1}),
              " ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ    Ver.1.01" + blanks + "Copyright (C) 2026 Karvo Software");
    EXPECT_TRUE(UpdateWindowTitle({2, 3, 10}).starts_with(" ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ    Ver.2.310" + blanks));
}

struct UpdateWindowTest : ::testing::Test {
    FakeUpdateWindow host;
    MemoryFileSystem fs;
    Form1 form{host, fs};
};

TEST_F(UpdateWindowTest, LoadFillsFoldersVersionAndTitle) {
    host.setting = "  C:\\Tervan58  ";
    fs.add_exe("C:\\Tervan58", "1.0.0.7");
    form.Form_Load();
    EXPECT_EQ(form.install_path(), "  C:\\Tervan58  "); // as stored
    EXPECT_EQ(host.captions[Caption::Destination], "  C:\\Tervan58  ");
    EXPECT_EQ(host.captions[Caption::Source], "C:\\Downloads");
    EXPECT_EQ(host.captions[Caption::SourceVersion], "Ver");
    EXPECT_EQ(host.captions[Caption::InstalledVersion], "Ver.1.0.0.7");
    EXPECT_EQ(host.title, UpdateWindowTitle({1, 0, 1}));
    EXPECT_EQ(host.events, std::vector<std::string>{"read KARVO/tErvan58/Key_Path"});
}

TEST_F(UpdateWindowTest, LoadAlwaysInsertsTheBackslash) {
    host.setting = "C:\\Tervan58\\";
    fs.files["C:\\Tervan58\\\\tervan58.exe"] = "version:3.0.0.0\n";
    fs.add_exe("C:\\Tervan58", "1.0.0.7");
    form.Form_Load();
    EXPECT_EQ(host.captions[Caption::InstalledVersion], "Ver.3.0.0.0");
}

TEST_F(UpdateWindowTest, LoadWithoutSettingLeavesTheDestinationEmpty) {
    form.Form_Load();
    EXPECT_EQ(host.captions[Caption::Destination], "");
    EXPECT_EQ(host.captions[Caption::InstalledVersion], "Ver.");
    form.Command3_Click();
    EXPECT_EQ(host.events.back(), "ｱｯﾌﾟﾃﾞｰﾄのﾁｪｯｸ | ｲﾝｽﾄｰﾙ先情報が不明です、ｱｯﾌﾟﾃﾞｰﾄできません。");
}

TEST_F(UpdateWindowTest, LookupAgainReplacesTheDestinationButNotItsVersion) {
    host.setting = "C:\\Old";
    form.Form_Load();
    host.setting = "";
    form.Command2_Click();
    EXPECT_EQ(host.captions[Caption::Destination], "");
    host.setting = "C:\\New";
    fs.add_exe("C:\\New", "2.0.0.0");
    form.Command2_Click();
    EXPECT_EQ(host.captions[Caption::Destination], "C:\\New");
    EXPECT_EQ(host.captions[Caption::InstalledVersion], "Ver.");
}

TEST_F(UpdateWindowTest, ChooserKeepsTheSourceOnCancel) {
    form.Form_Load();
    form.Command5_Click();
    EXPECT_EQ(host.captions[Caption::Source], "C:\\Downloads");
    host.picked = "D:\\";
    form.Command5_Click();
    EXPECT_EQ(host.captions[Caption::Source], "D:\\");
}

TEST_F(UpdateWindowTest, SuccessfulUpdateEndsTheProgramAfterItsMessage) {
    host.setting = "C:\\Tervan58";
    fs.add_exe("C:\\Tervan58", "1.0.0.1");
    fs.add_exe("C:\\Downloads", "1.0.0.2");
    form.Form_Load();
    host.events.clear();
    form.Command3_Click();
    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[1], "end");
}

TEST_F(UpdateWindowTest, SourceProblemsOpenTheChooser) {
    host.setting = "C:\\Tervan58";
    form.Form_Load();
    host.events.clear();
    host.picked = "E:\\Elsewhere";
    form.Command3_Click(); // nothing in C:\Downloads
    EXPECT_EQ(host.events.back(), "pick folder");
    EXPECT_EQ(host.captions[Caption::Source], "E:\\Elsewhere");
}

struct FakeAccessScreen : AccessScreenHost {
    std::string text = "Text1";
    std::string label4 = "Label4";
    bool running = false;
    std::vector<std::string> events;
    std::string entry() override { return text; }
    void set_entry(const std::string& t) override { text = t; }
    void focus_entry() override { events.push_back("focus"); }
    std::string marks() override { return label4; }
    void set_marks(const std::string& t) override { label4 = t; }
    void show_message(const std::string& prompt, const std::string& title) override {
        events.push_back(title + " | " + prompt);
    }
    bool another_copy_running() override { return running; }
    void open_update_window() override { events.push_back("update window"); }
    void end_program() override { events.push_back("end"); }
};

const std::string kWrong = "「TERVAN58」ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ | ﾊﾟｽﾜｰﾄﾞが違います。";
const std::string kWrongEnd = "「TERVAN58」ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ | ﾊﾟｽﾜｰﾄﾞが違います、終了します。";

TEST(AccessScreen, SecondCopyEndsAtOnce) {
    FakeAccessScreen host;
    host.running = true;
    Form3 form(host);
    form.Form_Load();
    EXPECT_EQ(host.events, std::vector<std::string>{"end"});
    EXPECT_EQ(host.text, "Text1");
}

TEST(AccessScreen, RightCodeOpensTheUpdateWindow) {
    FakeAccessScreen host;
    Form3 form(host);
    form.Form_Load();
    EXPECT_EQ(host.text, "");
    EXPECT_EQ(host.label4, "");
    host.text = " 503816 ";
    form.Text1_KeyDown(13, 0);
    EXPECT_EQ(host.events, std::vector<std::string>{"update window"});
}

TEST(AccessScreen, OtherKeysDoNothing) {
    FakeAccessScreen host;
    Form3 form(host);
    form.Form_Load();
    host.text = "1";
    form.Text1_KeyDown(65, 0);
    form.Text1_KeyDown(9, 0);
    EXPECT_TRUE(host.events.empty());
}

TEST(AccessScreen, FiveWrongEntriesAreMarkedAndTheSixthEndsTheProgram) {
    FakeAccessScreen host;
    Form3 form(host);
    form.Form_Load();
    for (int i = 1; i <= 5; ++i) {
        host.text = i == 1 ? "" : "12345";
        form.Command1_Click();
        EXPECT_EQ(host.label4.size(), 2u * i);
        EXPECT_EQ(host.text, "");
    }
    EXPECT_EQ(host.label4, "* * * * * ");
    EXPECT_EQ(form.bad_tries(), 5);
    host.events.clear();
    host.text = "1E999";
    form.Command1_Click();
    EXPECT_EQ(host.events, (std::vector<std::string>{kWrong, "focus", kWrongEnd, "end"}));
}

TEST(AccessScreen, TitleHasTheIdeographicSpace) {
    EXPECT_EQ(AccessScreenTitle(),
              "「TERVAN58」 ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ             \u3000 Copyright (C) 2026 Karvo Software");
}

// The tables are what the windows are built from; a wrong id would route a click
// to the wrong procedure.
TEST(Layouts, IdsAreUniqueAndControlsLieInsideTheClientArea) {
    for (const FormSpec& form : {update_window::Layout(), access_screen::Layout()}) {
        std::set<int> ids;
        for (const ControlSpec& c : form.controls) {
            EXPECT_TRUE(ids.insert(c.id).second) << c.name;
            EXPECT_GE(c.at.left, 0) << c.name;
            EXPECT_LE(c.at.left + c.at.width, form.client_width) << c.name;
            EXPECT_LE(c.at.top + c.at.height, form.client_height) << c.name;
        }
    }
    EXPECT_EQ(TwipsToPixels(7515, 96), 501);
    EXPECT_EQ(TwipsToPixels(4485, 144), 449);
}

// The README quotes the program's texts in double quotes: each quote with a character
// beyond ASCII must be a text the program shows, whole or one of its sentences (a
// message box shows each on a line of its own). Windows' own texts stand in 「」.
TEST(Readme, QuotesOnlyTextsTheProgramShows) {
    std::set<std::string> shown;
    const auto add = [&](std::string text) {
        shown.insert(text);
        for (auto at = text.find("\r\r"); at != std::string::npos; at = text.find("\r\r")) {
            shown.insert(text.substr(0, at));
            text.erase(0, at + 2);
            shown.insert(text);
        }
    };
    for (const char* message :
         {text::kCheckTitle, text::kUpdateTitle, text::kNoDestination, text::kNoSource,
          text::kNoSourceFile, text::kSameFolder, text::kNotNewer, text::kSuccess,
          text::kCopyFailed, text::kUnknownPublisher, text::kTervan58Running, text::kAccessTitle,
          text::kWrongCode, text::kWrongCodeEnd})
        add(message);
    for (const FormSpec& form : {update_window::Layout(), access_screen::Layout()})
        for (const ControlSpec& c : form.controls) {
            add(c.text);
            if (c.tooltip) add(c.tooltip);
        }
    std::ifstream file(TERVAN_README);
    const std::string readme{std::istreambuf_iterator<char>(file), {}};
    int checked = 0;
    std::size_t close = 0;
    for (auto open = readme.find('"'); open != std::string::npos;
         open = readme.find('"', close + 1)) {
        close = readme.find('"', open + 1);
        ASSERT_NE(close, std::string::npos) << "an unpaired \" in README.md";
        std::string quoted = readme.substr(open + 1, close - open - 1);
        std::replace(quoted.begin(), quoted.end(), '\n', ' ');
        if (std::all_of(quoted.begin(), quoted.end(), [](unsigned char c) { return c < 0x80; }))
            continue;
        ++checked;
        EXPECT_TRUE(shown.count(quoted)) << "README.md quotes \"" << quoted << "\"";
    }
    EXPECT_GT(checked, 0);
}

} // namespace
} // namespace tervan::testing
