// The generic list loader against its anchors, all in one run:
//   - BM_ReadLinesOnly: the same lines read with read_till_eol and shaped by
//     list_line_item, nothing handed to Motif (the cost floor);
//   - BM_LoadList / BM_LoadIndexMode: load_list_from_fd into an XmList,
//     whole lines and mode -4;
//   - BM_LoadText: mode -2, one insertion into an XmText;
//   - BM_TextPerLineInsert: the same text inserted one line at a time, the
//     obvious alternative the loader avoids.
// Compare the per-line times; the ratios to BM_ReadLinesOnly are the result.
// Needs an X display (run under xvfb-run -a).
#include "UxXt.h"
#include "xkp_listline.h"
#include "xkp_loadlist.h"
#include "xkp_runner.h"

#include <benchmark/benchmark.h>

#include <Xm/Form.h>
#include <Xm/List.h>
#include <Xm/Text.h>

#include <cstdio>
#include <string>

namespace {

XtAppContext app = nullptr;
Widget top = nullptr;

std::string make_input(int lines) {
    std::string s;
    for (int i = 0; i < lines; ++i) {
        s += "Topic title words number " + std::to_string(i) + "   xkp/Topic" + std::to_string(i) +
             "  \n";
    }
    return s;
}

FILE *open_input(std::string &input) {
    return fmemopen(input.data(), input.size(), "r");
}

void BM_ReadLinesOnly(benchmark::State &state) {
    std::string input = make_input(static_cast<int>(state.range(0)));
    char line[LOAD_LINE_MAX + 1];
    std::string item;
    for (auto _ : state) {
        FILE *f = open_input(input);
        while (read_till_eol(line, LOAD_LINE_MAX, f) != nullptr) {
            strip_line_end(line);
            list_line_item(line, LOAD_ALL_BUT_LAST, item);
            benchmark::DoNotOptimize(item.data());
        }
        fclose(f);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void load_into_list(benchmark::State &state, int mode) {
    std::string input = make_input(static_cast<int>(state.range(0)));
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top, nullptr);
    Widget list = XmCreateScrolledList(form, ux_str("list"), nullptr, 0);
    XtManageChild(list);
    for (auto _ : state) {
        state.PauseTiming();
        XmListDeleteAllItems(list);
        FILE *f = open_input(input);
        state.ResumeTiming();
        load_list_from_fd(list, f, mode);
        state.PauseTiming();
        fclose(f);
        state.ResumeTiming();
    }
    XtDestroyWidget(form);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LoadList(benchmark::State &state) {
    load_into_list(state, LOAD_WHOLE_LINE);
}
void BM_LoadIndexMode(benchmark::State &state) {
    load_into_list(state, LOAD_ALL_BUT_LAST);
}

Widget make_text(Widget form) {
    Arg arg;
    XtSetArg(arg, XmNeditMode, XmMULTI_LINE_EDIT);
    Widget text = XmCreateScrolledText(form, ux_str("text"), &arg, 1);
    XtManageChild(text);
    return text;
}

void BM_LoadText(benchmark::State &state) {
    std::string input = make_input(static_cast<int>(state.range(0)));
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top, nullptr);
    Widget text = make_text(form);
    for (auto _ : state) {
        state.PauseTiming();
        XmTextSetString(text, ux_str(""));
        FILE *f = open_input(input);
        state.ResumeTiming();
        load_list_from_fd(text, f, LOAD_TEXT);
        state.PauseTiming();
        fclose(f);
        state.ResumeTiming();
    }
    XtDestroyWidget(form);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_TextPerLineInsert(benchmark::State &state) {
    std::string input = make_input(static_cast<int>(state.range(0)));
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top, nullptr);
    Widget text = make_text(form);
    char line[LOAD_LINE_MAX + 1];
    std::string item;
    for (auto _ : state) {
        state.PauseTiming();
        XmTextSetString(text, ux_str(""));
        FILE *f = open_input(input);
        state.ResumeTiming();
        while (read_till_eol(line, LOAD_LINE_MAX, f) != nullptr) {
            strip_line_end(line);
            list_line_item(line, LOAD_TEXT, item);
            XmTextInsert(text, XmTextGetLastPosition(text), item.data());
        }
        state.PauseTiming();
        fclose(f);
        state.ResumeTiming();
    }
    XtDestroyWidget(form);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_ReadLinesOnly)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadList)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIndexMode)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadText)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextPerLineInsert)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    XtToolkitInitialize();
    app = XtCreateApplicationContext();
    int xargc = 1;
    char name[] = "loadlist_bench";
    char *xargv[] = {name, nullptr};
    Display *display = XtOpenDisplay(app, nullptr, "xkp", "XSV", nullptr, 0, &xargc, xargv);
    if (display == nullptr) {
        fprintf(stderr, "loadlist_bench: no X display (run under xvfb-run -a)\n");
        return 1;
    }
    top = XtVaAppCreateShell("xkp", "XSV", applicationShellWidgetClass, display, XmNwidth, 600,
                             XmNheight, 400, nullptr);
    XtRealizeWidget(top);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
