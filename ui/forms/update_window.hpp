// The update window: its layout, its texts and its event procedures, free of any
// window toolkit. The Win32 window renders the layout and forwards its events.
#pragma once

#include <string>

#include "engine/file_system.hpp"
#include "engine/update_procedure.hpp"
#include "ui/forms/layout.hpp"

namespace tervan {

namespace update_window {
enum Id {
    Command2 = 102, // look the destination up again
    Command3 = 103, // start the update
    Command4 = 104, // end the program
    Command5 = 105, // choose the source folder
    Label1 = 201,   // destination folder
    Label4 = 204,   // source folder
    Label6 = 206,   // maker
    Label2_0 = 220,
    Label2_1 = 221,
    Label3_0 = 230,
    Label3_1 = 231,
    Label3_2 = 232,
    Label5_0 = 250, // source version
    Label5_1 = 251, // installed version
};
FormSpec Layout();
int ControlId(Caption which);
} // namespace update_window

namespace text {
// A version label before its file is read: the download's until the start button.
inline constexpr const char* kVersionNotRead = "Ver";
// The folder browser's prompt, with its trailing blank.
inline constexpr const char* kFolderChooserTitle = "「TERVAN58」ｱｯﾌﾟﾃﾞｰﾄﾌｫﾙﾀﾞ ";
// What Windows shows, should the user sign out or shut down while the replacement
// runs with administrator rights.
inline constexpr const char* kStepRunning = "ｱｯﾌﾟﾃﾞｰﾄのｺﾋﾟｰ中です、終わるまでお待ち下さい。";
} // namespace text

struct ProgramVersion {
    unsigned major = 0, minor = 0, revision = 0;
};

// " ｱｯﾌﾟﾃﾞｰﾄﾂｰﾙ    Ver.1.01" and so on: the revision follows the minor number
// directly, as the program's versions have always been written.
std::string UpdateWindowTitle(ProgramVersion version);

// What the update window needs from the toolkit and the system.
class UpdateWindowHost {
public:
    virtual ~UpdateWindowHost() = default;
    virtual std::string caption(Caption which) = 0;
    virtual void set_caption(Caption which, const std::string& text) = 0;
    virtual void set_title(const std::string& title) = 0;
    virtual void show_message(const std::string& prompt, const std::string& title) = 0;
    // The folder browser; empty text when the user cancels.
    virtual std::string pick_folder() = 0;
    // Closes every window and ends the process; does not return.
    virtual void end_program() = 0;
    virtual std::string own_folder() = 0;
    virtual ProgramVersion own_version() = 0;
    virtual std::string read_setting(const std::string& app, const std::string& section,
                                     const std::string& key) = 0;
    // See UpdateView::replace_as_administrator.
    virtual ElevatedStep replace_as_administrator(const std::string& source_folder,
                                                  const std::string& destination_folder) = 0;
};

// The update window's state and event procedures.
class Form1 : private UpdateView {
public:
    Form1(UpdateWindowHost& host, FileSystem& fs) : host_(host), fs_(fs) {}

    void Form_Load();
    void Command2_Click();
    void Command3_Click() { UpdateProcedure(*this, fs_); }
    void Command4_Click() { host_.end_program(); }
    void Command5_Click();

    const std::string& install_path() const { return InstallPath; }

private:
    void LoadInstallPath();

    // The update procedure's view of this window.
    std::string caption(Caption which) override { return host_.caption(which); }
    void set_caption(Caption which, const std::string& text) override {
        host_.set_caption(which, text);
    }
    void show_message(const std::string& prompt, const std::string& title) override {
        host_.show_message(prompt, title);
    }
    void choose_source() override { Command5_Click(); }
    void exit_program() override { Command4_Click(); }
    ElevatedStep replace_as_administrator(const std::string& source_folder,
                                          const std::string& destination_folder) override {
        return host_.replace_as_administrator(source_folder, destination_folder);
    }

    UpdateWindowHost& host_;
    FileSystem& fs_;
    std::string InstallPath;
};

} // namespace tervan
