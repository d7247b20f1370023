// kprestore: restore the entries of a request file from the catalog's
// versions. Each entry is planned as the list of versions to bring back (a
// file entry: its version alive at the entry's date; a directory entry:
// every path below it, merged across images). Directories are made from the
// catalog's records; every other entry comes from the image that first
// stored its version, image by image, oldest first, through restic into a
// staging directory on the destination's own file system, and is then
// renamed into place. Afterwards every planned entry is checked where it
// should be, and only what is there counts as done.
#include <algorithm>
#include <mutex>
#include <condition_variable>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <map>
#include <set>
#include <thread>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "restore_engine.h"
#include "catalog.h"
#include "catalog_db.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "raw_device.h"
#include "request_file.h"
#include "restic.h"
#include "restore_errors.h"
#include "stdio_entry.h"
#include "unique_fd.h"

namespace {

const char *const RESTORE_USAGE =
    "kprestore [-t type] [-C client] [-D client] [-S server] [-K] [-O] [-8] [-L log] "
    "[-R rename_file [-l|-H|-y]] [-T] [-W] [-r] [-A] [-w] {-f request_file | "
    "-stdout NAME [-s start] [-e end]}";

const std::vector<KpOption> RESTORE_OPTIONS = {
    {"-t", true},      {"-C", true},  {"-D", true},  {"-S", true},  {"-K", false}, {"-O", false},
    {"-8", false},     {"-L", true},  {"-R", true},  {"-l", false}, {"-H", false}, {"-y", false},
    {"-T", false},     {"-W", false}, {"-r", false}, {"-A", false}, {"-f", true},  {"-w", false},
    {"-stdout", true}, {"-s", true},  {"-e", true}};

} // namespace

namespace restore_engine {

namespace {

std::string nearest_existing_dir(std::string p) {
    for (;;) {
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return p;
        }
        if (p == "/") {
            return p;
        }
        p = parent_of(p);
    }
}

} // namespace

int Restore::read_rename_file(const KpArgs &args, const std::vector<ImageEntry> &entries) {
    std::string rpath = args.get("-R"), rtext, err;
    if (args.has("-8")) {
        rpath = transfer_decode(rpath);
    }
    std::vector<RenamePair> cands;
    if (!read_whole_file(rpath, rtext, err, 1 << 20)) {
        log_.line("cannot read the rename file: " + err);
        return kpstatus::OPEN_FAILED;
    }
    if (!parse_rename_file(rtext, cands, err)) {
        log_.line("the rename file is damaged, nothing was restored: " + err);
        return kpstatus::USAGE;
    }
    // A source or destination may itself hold " to ": take the one split
    // whose source covers requested paths; refuse when that is not a single
    // one, rather than restore into a wrong place.
    std::vector<RenamePair> fit;
    for (auto c : cands) {
        c.from = strip_slash(c.from);
        c.to = strip_slash(c.to);
        for (const auto &e : entries) {
            if (under(strip_slash(e.path), c.from)) {
                fit.push_back(c);
                break;
            }
        }
    }
    if (fit.size() != 1) {
        log_.line(fit.empty() ? "the rename file's source covers none of the requested paths"
                              : "the rename file can be read in more than one way");
        return kpstatus::RESTORE_FAILED;
    }
    rename_ = fit[0];
    renaming_ = true;
    log_.line("redirecting " + log_quote(rename_.from) + " to " + log_quote(rename_.to));
    return kpstatus::OK;
}

int Restore::check(const KpArgs &args) {
    keep_ = args.has("-K");
    raw_ = args.has("-r");
    one_fs_ = args.has("-O");
    true_image_ = args.has("-T");
    rename_soft_ = args.has("-y") || args.has("-l");
    log_.line("kprestore started");
    std::string text, err;
    std::vector<ImageEntry> entries;
    if (!read_whole_file(args.get("-f"), text, err)) {
        log_.line("cannot read the request file: " + err);
        log_.report("restore", kpstatus::OPEN_FAILED);
        return kpstatus::OPEN_FAILED;
    }
    if (!parse_image_entries(text, entries, err)) {
        log_.line("the request file is damaged, nothing was restored: " + err);
        fprintf(stderr, "kprestore: request file damaged: %s\n", err.c_str());
        log_.report("restore", kpstatus::USAGE);
        return kpstatus::USAGE;
    }
    if (entries.empty()) {
        log_.report("restore", kpstatus::EMPTY_LIST);
        return kpstatus::EMPTY_LIST;
    }
    if (args.has("-D") && args.get("-D") != local_client_name()) {
        log_.line("files can only be restored to this client (" + local_client_name() + "), not " +
                  args.get("-D"));
        log_.report("restore", kpstatus::NO_CLIENT);
        return kpstatus::NO_CLIENT;
    }
    if (args.has("-R")) {
        int st = read_rename_file(args, entries);
        if (st != kpstatus::OK) {
            log_.report("restore", st);
            return st;
        }
    }
    int st = open_server(args.get("-S"), server_, err);
    if (st != 0) {
        log_.line(err);
        log_.report("restore", st);
        return st;
    }
    history_.client = args.has("-C") ? args.get("-C") : local_client_name();
    history_.archives = args.has("-A");
    const std::string db_path = catalog_db_path(server_.dir);
    if (access(db_path.c_str(), F_OK) != 0) {
        log_.line("the server's catalog holds no image yet");
        log_.report("restore", kpstatus::NO_IMAGES);
        return kpstatus::NO_IMAGES;
    }
    if (!db_.open(db_path, false, err)) {
        log_.line("the catalog cannot be opened: " + err);
        log_.report("restore", kpstatus::RESTORE_FAILED);
        return kpstatus::RESTORE_FAILED;
    }
    if (raw_) {
        // Raw partitions always overwrite their device: "-K" means nothing.
        long long type = -1;
        if (args.has("-t") && (!kp_parse_time(args.get("-t"), type) || type < 0 || type > 1000)) {
            type = -1;
        }
        st = plan_raw_restore(
            db_, history_, static_cast<int>(type), entries,
            [this](const std::string &p) { return redirect(p); }, raw_items_, log_);
        if (st == kpstatus::OK && raw_items_.empty()) {
            st = kpstatus::NO_IMAGES;
        }
        if (st != kpstatus::OK) {
            log_.report("restore", st);
            return st;
        }
    } else {
        plan(entries);
    }
    if (plan_.empty() && !raw_) {
        st = catalog_failed_ ? kpstatus::RESTORE_FAILED : kpstatus::NO_IMAGES;
        log_.report("restore", st);
        return st;
    }
    ResticFailure why = ResticFailure::None;
    if (!repository_reachable(server_, why, err)) {
        log_.line(err);
        st = restic_failure_status(why, kpstatus::RESTORE_FAILED);
        log_.report("restore", st);
        return st;
    }
    db_.close();
    return 0;
}

int Restore::work() {
    std::string err;
    if (!db_.open(catalog_db_path(server_.dir), false, err)) {
        log_.line("the catalog cannot be opened: " + err);
        log_.report("restore", kpstatus::RESTORE_FAILED);
        return kpstatus::RESTORE_FAILED;
    }
    if (raw_) {
        log_.line("raw partitions are written over whatever their devices hold");
        int st = restore_raw_devices(server_, raw_items_, log_);
        log_.report("restore", st);
        return st;
    }
    if (keep_) {
        log_.line("existing files are kept (-K)");
    }
    if (geteuid() != 0) {
        log_.line("restoring as a user other than root: restored files belong to that user");
    }
    log_.line(std::to_string(plan_.size()) + " entries to restore");

    // A progress line every two seconds while the work runs: entries and
    // bytes placed of those planned.
    ProgressTicker ticker(log_);
    ticker_ = &ticker;
    for (const auto &p : plan_) {
        ticker.total_bytes += p.is_dir ? 0 : p.v.st.size;
    }
    ticker.total_files = static_cast<long long>(plan_.size());

    prepare_directories();
    // Everything else comes from an image that holds its version,
    // oldest image first, staged on the file system that receives it.
    std::map<long long, std::vector<size_t>> by_image;
    std::map<std::string, std::pair<std::string, dev_t>> anchors; // by parent
    bool sparse_note = false;
    // Each version from the newest image that holds it: most of what is
    // planned then comes from few images, often one.
    std::vector<Version> wanted;
    for (const auto &p : plan_) {
        wanted.push_back(p.v);
    }
    const std::vector<long long> holder = db_.newest_holders(history_, wanted);
    for (size_t i = 0; i < plan_.size(); ++i) {
        Planned &p = plan_[i];
        if (p.is_dir || p.outcome != Outcome::Pending) {
            continue;
        }
        std::string parent = parent_of(p.dest);
        auto it = anchors.find(parent);
        if (it == anchors.end()) {
            std::string a = nearest_existing_dir(parent);
            struct stat as {};
            if (lstat(a.c_str(), &as) != 0) {
                fail(p, "no directory to restore into");
                continue;
            }
            it = anchors.emplace(parent, std::make_pair(a, as.st_dev)).first;
        }
        p.anchor = it->second.first;
        p.dev = it->second.second;
        if (holder[i] == 0) {
            ++missing_;
            fail(p, "no image of the catalog holds this version: no snapshot has it");
            continue;
        }
        by_image[holder[i]].push_back(i);
        if (!sparse_note && p.v.st.type == 0 && p.v.st.blocks_kb * 1024 + 4096 < p.v.st.size) {
            sparse_note = true;
            log_.line("note: sparse files such as " + log_quote(p.v.path) +
                      " are restored with all their blocks written");
        }
    }
    for (const auto &p : plan_) {
        if (!p.is_dir) {
            count_up(p.v.path, total_below_);
        }
    }
    std::vector<Call> calls = prepare_calls(by_image);
    bool cancelled = job_cancelled();
    if (!cancelled) {
        run_calls(calls);
    }
    // Into place image by image, oldest first; a cancel stops between them.
    for (auto &c : calls) {
        if (cancelled || (cancelled = job_cancelled())) {
            remove_tree(c.stage);
            continue;
        }
        place_call(c);
    }
    for (const auto &[dev, root] : stage_roots_) {
        if (!root.empty()) {
            remove_tree(root);
        }
    }
    cancelled = cancelled || job_cancelled();
    if (cancelled) {
        log_.line("cancelled: the restore stopped before every entry was in place");
    }
    for (auto &p : plan_) {
        if (p.outcome == Outcome::Pending) {
            fail(p, unreachable_ ? "not restored: the repository could no longer be reached"
                                 : "not restored: the restore was cancelled");
        }
    }
    if (renaming_ && rename_soft_) {
        fix_symlinks();
    }
    finish_directories();
    verify();

    // Directories alone (made from the catalog) do not make a restore.
    bool any_file = false, files_planned = false;
    for (const auto &p : plan_) {
        files_planned = files_planned || !p.is_dir;
        any_file = any_file || (!p.is_dir && p.outcome == Outcome::Placed);
    }
    bool something = files_planned ? any_file : log_.done_count() > 0;
    int status = kpstatus::OK;
    if (log_.failed_count() > 0) {
        status = something                                         ? kpstatus::NOT_ALL_RESTORED
                 : missing_ > 0 && missing_ == log_.failed_count() ? kpstatus::NOT_FOUND_IN_IMAGE
                                                                   : kpstatus::RESTORE_FAILED;
    } else if (log_.done_count() == 0 && log_.skipped_count() == 0) {
        status = kpstatus::RESTORE_FAILED;
    }
    if (unreachable_) {
        status = kpstatus::NO_SERVER;
    } else if (cancelled) {
        status = kpstatus::TERMINATED;
    }
    log_.report("restore", status);
    return status;
}

} // namespace restore_engine

using restore_engine::Restore;

int kprestore_main(int argc, char **argv) {
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, RESTORE_OPTIONS, args, err)) {
        return usage_error("kprestore", err, RESTORE_USAGE);
    }
    if (args.has("-stdout") == args.has("-f")) {
        return usage_error("kprestore", "give a request file (-f) or -stdout NAME", RESTORE_USAGE);
    }
    if (!args.has("-stdout") && (args.has("-s") || args.has("-e"))) {
        return usage_error("kprestore", "-s and -e go with -stdout", RESTORE_USAGE);
    }
    if (!args.operands.empty()) {
        return usage_error("kprestore", "unexpected word " + args.operands[0], RESTORE_USAGE);
    }
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "kprestore: %s\n", err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L")) {
        log.echo_to_stderr(true);
    }
    if (args.has("-stdout")) {
        return restore_stdout_entry(args, log);
    }
    Restore r(log);
    int st = r.check(args);
    if (st != 0) {
        return st;
    }
    // Accepted: the work goes on as a job of its own, detached from the
    // caller, which gets 0 now (or the job's status under -w).
    int res = start_job(r.server_dir(), "kprestore", args.get("-L"), args.has("-w"),
                        [&] { return r.work(); }, err, {log.fd()});
    if (res < 0) {
        log.line(err);
        log.report("restore", kpstatus::RESTORE_FAILED);
        return kpstatus::RESTORE_FAILED;
    }
    return res;
}
