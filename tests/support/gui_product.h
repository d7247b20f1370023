// Shared by the GUI tests that run the command programs: a scratch product
// root (the staged catalog linked in, programs in sorvane/bin, HOME and
// TMPDIR inside it), the C locale, one kplist line, and readers for the
// start dialog's traced command and the open message boxes.
#pragma once

#include "support/gui_harness.h"
#include "temp_root.h"

#include "unixconf_api.h"
#include "xkp_glue.h"
#include "xkp_main.h"
#include "xkp_menus.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using Items = std::vector<std::string>;

// One kplist line: nine numbers (device eighth, backup % 1000 ninth), then
// the mode at column 0 of the rest, owner at 11, group at 21, the numbers at
// 31, the path at 69. stated: the path length given (-1: the true one).
inline std::string kpline(const std::string &path, int32_t backup, int dev = 7, int stated = -1) {
    char numbers[96], r[256];
    snprintf(numbers, sizeof numbers, "42 %d 1000000000 %d", backup,
             stated >= 0 ? stated : static_cast<int>(path.size()));
    snprintf(r, sizeof r, "0 33188 100 200 1 0 8 %d %d %-10s %-9s %-9s %-37s ", dev, backup % 1000,
             "-rw-r--r--", "ann", "staff", numbers);
    return r + path + "\n";
}

class ProductTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::filesystem::create_directories(bin_ + "/tmp");
        std::filesystem::create_directories(home_);
        if (!staged_.empty()) {
            symlink((staged_ + "/msg").c_str(), root_.file("msg").c_str());
        }
        T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
        T_strlcpy(tmlctime, "C", sizeof tmlctime);
    }
    void TearDown() override {
        gui::close_message_boxes();
        GuiTest::TearDown();
        users_config.loaded = 0;
    }
    // The main window, replacing the one opened before and the menu items
    // it registered.
    void open_main() {
        if (shell_ != nullptr) {
            XtDestroyWidget(shell_);
            gui::drain();
            reset_resensitize_table();
        }
        shell_ = gui::open(create_xkp_main());
    }
    Widget confirm() { return gui::find(top_, "xkp_confirm"); }
    Widget part(const char *name) { return gui::must_find(confirm(), name); }
    // OK in the start dialog: the command it ran as traced, "" when none.
    std::string run_confirm() {
        debug_enabled = 1;
        gui::StdoutCapture out;
        gui::click(gui::must_find(confirm(), "pushButton6"));
        gui::drain();
        std::string trace = out.stop();
        debug_enabled = 0;
        const std::string tag = "debug confirm command:";
        size_t at = trace.find(tag);
        return at == std::string::npos
                   ? ""
                   : trace.substr(at + tag.size(), trace.find("!\n", at) - at - tag.size());
    }
    // cmd without the " -L" of the private log a request without a log of
    // the user's gets; "" when cmd has none.
    std::string without_private_log(std::string cmd) {
        const std::string piece = " -L " + bin_ + "/tmp/xkplog";
        size_t at = cmd.find(piece);
        return at == std::string::npos ? "" : cmd.erase(at, piece.size() + 6);
    }
    Items boxes() {
        Items out;
        for (const auto &b : gui::message_boxes()) {
            out.push_back(b.text);
        }
        return out;
    }

    const std::string staged_ = getenv("XKP_ROOT") != nullptr ? getenv("XKP_ROOT") : "";
    gui::TempDir root_;
    const std::string bin_ = root_.file("sorvane/bin"), home_ = root_.file("home");
    ScopedEnv root_env_{"XKP_ROOT", root_.path().c_str()}, home_env_{"HOME", home_.c_str()},
        tmp_env_{"TMPDIR", (bin_ + "/tmp").c_str()};
    Widget shell_ = nullptr;
};
