// The file list of a large backed-up directory on the real main window, a
// kplist printing a listing of one directory holding 50,000 files (one
// backup each) and one subdirectory:
//   - BM_load_both_sides: load_both_sides end to end, the listing read
//     through the pipe, built into the tree and dumped into the Motif lists
//     and their companions in batches (goal: at most 0.2 s);
//   - BM_select_all_change_and_back: "Select all in current directory" from
//     the Edit menu, a click on the subdirectory in the directory list and a
//     click back: every selection is remembered on the way out and comes
//     back selected (goal: at most 0.3 s); the three steps are also timed
//     apart (counters, milliseconds).
// Needs an X display (xvfb-run -a bench/backuplist_bench).
//
// The anchor measured in the same run is the same kplist alone, its output
// read and thrown away through the command runner (BM_kplist_read).
#include <benchmark/benchmark.h>

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_glue.h"
#include "xkp_main.h"
#include "xkp_runner.h"
#include "xkp_state.h"

#include <Xm/List.h>
#include <Xm/Xm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int FILES = 50000;
const char *const DIR = "/bench/a directory/";

struct fixture {
    std::string root;
    std::string listing;
    bool ready = false;
};
fixture fx;

std::string kpline(const std::string &path, int32_t backup, char type) {
    char numbers[96];
    snprintf(numbers, sizeof numbers, "%d %d %d %zu", 1234, backup, backup - 100, path.size());
    char r[256];
    snprintf(r, sizeof r, "%-10s %-9s %-9s %-37s ", type == 'd' ? "drwxr-xr-x" : "-rw-r--r--",
             "user", "staff", numbers);
    return std::string(type == 'd' ? "1 16877" : "0 33188") + " 1000 1000 1 0 4 2049 7 " + r +
           path + "\n";
}

// A product root of its own: the staged catalog, a kplist that prints the
// listing.
bool prepare(const char *staged) {
    char tmpl[] = "/tmp/xkp_backuplist_bench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        return false;
    }
    fx.root = tmpl;
    std::filesystem::create_directories(fx.root + "/sorvane/bin");
    if (staged != nullptr) {
        symlink((std::string(staged) + "/msg").c_str(), (fx.root + "/msg").c_str());
        // The program's own resources (the Xft render table of the lists),
        // found as xkp finds them.
        std::string defaults = std::string(staged) + "/app-defaults/%N%S";
        setenv("XFILESEARCHPATH", defaults.c_str(), 1);
    }
    fx.listing = fx.root + "/listing";
    FILE *f = fopen(fx.listing.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::string dir = DIR;
    fputs(kpline(dir, 1700000000, 'd').c_str(), f);
    fputs(kpline(dir + "sub/", 1700000000, 'd').c_str(), f);
    char name[64];
    for (int i = 0; i < FILES; ++i) {
        snprintf(name, sizeof name, "file_%05d.dat", i);
        fputs(kpline(dir + name, 1700000000 + i % 7, 'f').c_str(), f);
    }
    fclose(f);
    std::string program = fx.root + "/sorvane/bin/kplist";
    f = fopen(program.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    fprintf(f, "#!/bin/sh\nexec cat '%s'\n", fx.listing.c_str());
    fclose(f);
    chmod(program.c_str(), 0755);
    setenv("XKP_ROOT", fx.root.c_str(), 1);
    atexit([] { std::filesystem::remove_all(fx.root); });
    fx.ready = true;
    return true;
}

void BM_load_both_sides(benchmark::State &state) {
    for (auto _ : state) {
        load_both_sides(DIR);
    }
    state.counters["rows"] = get_item_count(right_list);
    state.counters["files"] = FILES;
}
BENCHMARK(BM_load_both_sides)->Unit(benchmark::kMillisecond)->MinTime(3.0);

Widget main_shell = nullptr;

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void BM_select_all_change_and_back(benchmark::State &state) {
    Widget select_all = XtNameToWidget(main_shell, "*menu1_p2_b2");
    double select_ms = 0, away_ms = 0, back_ms = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        XtCallCallbacks(select_all, XmNactivateCallback, nullptr);
        select_ms += ms_since(t0);
        t0 = std::chrono::steady_clock::now();
        XmListSelectPos(left_list, 2, True);
        away_ms += ms_since(t0);
        t0 = std::chrono::steady_clock::now();
        XmListSelectPos(left_list, 1, True);
        back_ms += ms_since(t0);
    }
    double n = static_cast<double>(state.iterations());
    state.counters["select_all_ms"] = select_ms / n;
    state.counters["away_ms"] = away_ms / n;
    state.counters["back_ms"] = back_ms / n;
    state.counters["selected"] = get_selection_count(right_list);
}
BENCHMARK(BM_select_all_change_and_back)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_kplist_read(benchmark::State &state) {
    std::string command = fx.root + "/sorvane/bin/kplist";
    char line[XKP_TEXT_SIZE + 1];
    for (auto _ : state) {
        FILE *p = mypopen(command.c_str(), "r");
        int n = 0;
        while (read_till_eol(line, XKP_TEXT_SIZE, p) != nullptr) {
            ++n;
        }
        mypclose(p);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_kplist_read)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv) {
    const char *staged = getenv("XKP_ROOT");
    if (!prepare(staged)) {
        fprintf(stderr, "backuplist_bench: cannot prepare the listing\n");
        return 1;
    }
    XtAppContext app = nullptr;
    int xargc = 1;
    char *xargv[] = {argv[0], nullptr};
    Widget top = XtAppInitialize(&app, "XSV", nullptr, 0, &xargc, xargv, nullptr, nullptr, 0);
    UxTopLevel = top;
    ux_message_locale = tmlcmsg;
    XtVaSetValues(top, XmNmappedWhenManaged, False, XmNwidth, 1, XmNheight, 1, nullptr);
    XtRealizeWidget(top);
    T_strlcpy(tmlcmsg, "C", sizeof tmlcmsg);
    T_strlcpy(tmlctime, "C", sizeof tmlctime);
    // The first load (file-system mode) lists an empty scratch directory.
    std::string empty = fx.root + "/empty/";
    std::filesystem::create_directories(empty);
    T_strlcpy(current_working_directory, empty.c_str(), sizeof current_working_directory);
    Widget shell = create_xkp_main();
    main_shell = shell;
    popup_interface(shell, XtGrabNone);
    browsing_filesys = 0;
    show_all_dates = 1;
    load_both_sides(DIR);
    // Header, separator, the subdirectory, separator, the files.
    if (get_item_count(right_list) != FILES + 4 || get_item_count(left_list) != 2) {
        fprintf(stderr, "backuplist_bench: %d rows and %d directories listed, %d and 2 expected\n",
                get_item_count(right_list), get_item_count(left_list), FILES + 4);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
