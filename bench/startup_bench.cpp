// Start-up of xkp: from spawning the process to its main window being
// mapped (the initial listing of a small directory included), against the
// anchor of spawning /bin/true and waiting for it. Needs an X display (run
// under xvfb-run); the program is BUILD/clientx/xkp next to this benchmark.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::string xkp_path() {
    if (const char *build = getenv("XKP_BUILD_DIR")) {
        return std::string(build) + "/clientx/xkp";
    }
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "clientx" / "xkp").string();
}

bool is_main_window(Display *display, Window w) {
    XClassHint hint{};
    if (XGetClassHint(display, w, &hint) == 0) {
        return false;
    }
    bool main = hint.res_name != nullptr && strcmp(hint.res_name, "xkp_main") == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return main;
}

// A small directory to start in: the first listing reads it.
std::string small_tree() {
    std::string dir = "/tmp/xkp_startup_bench_tree";
    std::filesystem::create_directories(dir + "/docs");
    for (int i = 0; i < 20; ++i) {
        std::string name = dir + "/file" + std::to_string(i) + ".txt";
        if (FILE *f = fopen(name.c_str(), "w")) {
            fputs("content\n", f);
            fclose(f);
        }
    }
    return dir;
}

pid_t spawn(const std::string &program, const std::string &dir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    char *argv[] = {const_cast<char *>(program.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void BM_StartupToMainWindowMapped(benchmark::State &state) {
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        state.SkipWithError("no X display: run under xvfb-run");
        return;
    }
    std::string program = xkp_path();
    if (access(program.c_str(), X_OK) != 0) {
        state.SkipWithError("xkp is not built");
        XCloseDisplay(display);
        return;
    }
    std::string dir = small_tree();
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    double cpu_ms = 0;
    int rounds = 0;
    for (auto _ : state) {
        XSync(display, True); // drop events of earlier rounds
        auto start = std::chrono::steady_clock::now();
        pid_t pid = spawn(program, dir);
        if (pid < 0) {
            state.SkipWithError("cannot start xkp");
            break;
        }
        bool mapped = false;
        while (!mapped) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) {
                mapped = is_main_window(display, event.xmap.window);
            }
        }
        auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        kill(pid, SIGTERM);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        // The child's own processor time up to its end: it idles once the
        // window is mapped, so this is the work of start-up, independent of
        // how busy the machine is.
        cpu_ms += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        ++rounds;
    }
    if (rounds > 0) {
        state.counters["xkp_cpu_ms"] = cpu_ms / rounds;
    }
    XCloseDisplay(display);
}
BENCHMARK(BM_StartupToMainWindowMapped)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The anchor: the cost of starting any program and waiting for it.
void BM_SpawnTrueAnchor(benchmark::State &state) {
    for (auto _ : state) {
        pid_t pid = spawn("/bin/true", "/");
        int status = 0;
        waitpid(pid, &status, 0);
    }
}
BENCHMARK(BM_SpawnTrueAnchor)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
