// Filling the main window's file list (and its companion):
//   - 50,000 rows through the row seam's batch (add_right_list, as the
//     backed-up tree hands them over), with and without remembered
//     selections to restore;
//   - load_right_side of a local directory of 50,000 entries (the local
//     walk keeps 4096 entries of one directory).
// Needs an X display (run under xvfb-run). Prints the peak resident size.
//
//   xvfb-run -a filelist_fill_bench
#include <benchmark/benchmark.h>

#include "UxXt.h"
#include "uimx_helper.h"
#include "xkp_glue.h"
#include "xkp_glue_list.h"
#include "xkp_rows.h"
#include "xkp_select.h"
#include "xkp_main.h"
#include "xkp_state.h"

#include <Xm/Form.h>
#include <Xm/List.h>
#include <Xm/Xm.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int ENTRIES = 50000;
std::string dir;

Widget make_list(Widget form, const char *name) {
    Widget list = XmCreateScrolledList(form, const_cast<char *>(name), nullptr, 0);
    XtVaSetValues(list, XmNselectionPolicy, XmMULTIPLE_SELECT, nullptr);
    XtManageChild(list);
    return list;
}

bool setup() {
    char name[] = "/tmp/xkp_fill_XXXXXX";
    if (mkdtemp(name) == nullptr) {
        return false;
    }
    dir = name;
    for (int i = 0; i < ENTRIES; ++i) {
        std::string p = dir + "/entry_" + std::to_string(i) + ".dat";
        int fd = open(p.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0) {
            return false;
        }
        close(fd);
    }
    int argc = 1;
    char arg0[] = "filelist_fill_bench";
    char *argv[] = {arg0, nullptr};
    XtAppContext app;
    UxTopLevel = XtOpenApplication(&app, "XSV", nullptr, 0, &argc, argv, nullptr,
                                   applicationShellWidgetClass, nullptr, 0);
    if (UxTopLevel == nullptr) {
        return false;
    }
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, UxTopLevel, nullptr);
    left_list = make_list(form, "scrolledList1");
    right_list = make_list(form, "scrolledList2");
    persistent_list = make_list(form, "scrolledList4");
    shadow_left_list = make_list(form, "scrolledList10");
    shadow_right_list = make_list(form, "scrolledList11");
    XtRealizeWidget(UxTopLevel);
    browsing_filesys = 1;
    verbose = 0;
    let_there_be_light = 0;
    return true;
}

void BM_FillFileList(benchmark::State &state) {
    verbose = static_cast<int>(state.range(0));
    for (auto _ : state) {
        load_right_side(dir.c_str());
    }
    state.counters["rows"] = get_item_count(right_list);
    state.counters["ns_per_row"] = benchmark::Counter(
        static_cast<double>(get_item_count(right_list)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    verbose = 0;
}
BENCHMARK(BM_FillFileList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void add_rows() {
    char name[32];
    char key[16];
    for (int i = 0; i < ENTRIES; ++i) {
        snprintf(name, sizeof name, "entry_%05d.dat", i);
        snprintf(key, sizeof key, "%d", 1700000000 + i);
        add_right_list(name, name, key, "0 33188 0 0 1 0 4 2049 12345", 1);
    }
    flush_right_list();
}

// 50,000 rows through the batch; with state.range(0) of them remembered as
// selections (every tenth), which come back selected.
void BM_SinkRows(benchmark::State &state) {
    install_list_sink();
    T_strlcpy(right_dir, "/data", sizeof right_dir);
    int remembered = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        dual_list_delete_all(right_list, shadow_right_list);
        list_delete_all(persistent_list);
        char path[64];
        char key[16];
        for (int i = 0; i < remembered; ++i) {
            snprintf(path, sizeof path, "/data/entry_%05d.dat", i * 10);
            snprintf(key, sizeof key, "%d", 1700000000 + i * 10);
            quadruple_add_item(persistent_list, 0, path, path, key, "");
        }
        forget_selection_index();
        state.ResumeTiming();
        add_rows();
    }
    state.counters["rows"] = get_item_count(right_list);
    state.counters["selected"] = get_selection_count(right_list);
}
BENCHMARK(BM_SinkRows)->Arg(0)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!setup()) {
        fprintf(stderr, "filelist_fill_bench: needs /tmp space and an X display\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    printf("peak resident size: %ld KB for %d rows in the file list and its companion\n",
           usage.ru_maxrss, ENTRIES);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
