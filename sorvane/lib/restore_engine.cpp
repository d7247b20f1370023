// kprestore: restore the entries of a request file, each from the newest
// image whose backup time lies in the entry's range, through restic into a
// staging directory on the destination's file system, then move each entry
// into place: existing files are kept under "-K", paths are redirected by
// the rename file under "-R", and nothing outside the request is touched.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "catalog.h"
#include "cmnutils.h"
#include "image_select.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "request_file.h"
#include "restic.h"

namespace {

const char *const RESTORE_USAGE =
    "kprestore [-t type] [-C client] [-D client] [-S server] [-K] [-O] [-8] [-L log] "
    "[-R rename_file [-l|-H|-y]] [-T] [-W] [-r] [-A] -f request_file";

const std::vector<KpOption> RESTORE_OPTIONS = {
    {"-t", true},  {"-C", true},  {"-D", true},  {"-S", true},  {"-K", false}, {"-O", false},
    {"-8", false}, {"-L", true},  {"-R", true},  {"-l", false}, {"-H", false}, {"-y", false},
    {"-T", false}, {"-W", false}, {"-r", false}, {"-A", false}, {"-f", true}};

int remove_one(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

// Removes a staging tree without following links.
void remove_tree(const std::string &path) {
    nftw(path.c_str(), remove_one, 32, FTW_DEPTH | FTW_PHYS);
}

std::string strip_slash(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

bool under(const std::string &path, const std::string &dir) {
    if (dir == "/")
        return path.size() > 0 && path[0] == '/';
    return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                           path[dir.size()] == '/');
}

// restic takes include patterns: escape the characters it would match.
std::string restic_pattern(const std::string &path) {
    std::string out;
    for (char c : path) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string nearest_existing_dir(std::string p) {
    for (;;) {
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return p;
        size_t sl = p.rfind('/');
        if (sl == std::string::npos || sl == 0)
            return "/";
        p = p.substr(0, sl);
    }
}

struct Planned {
    std::string path; // as in the image, no trailing slash ("/" for the root)
    std::string key;  // the catalog key: path, with "/" for directories
    bool is_dir = false;
    std::string dest; // where it goes
    long long device = -1;
};

struct ImageWork {
    ImageHeader header;
    std::shared_ptr<ImageListing> listing;
    std::vector<Planned> entries;
};

class Restore {
  public:
    explicit Restore(ProgressLog &log) : log_(log) {}
    int run(const KpArgs &args);

  private:
    int plan(const std::vector<ImageEntry> &entries, const std::vector<ImageHeader> &images);
    std::string redirect(const std::string &p) const;
    bool restore_group(ImageWork &w, const std::vector<const Planned *> &group,
                       const std::string &stage_parent);
    void place(ImageWork &w, const Planned &e, const std::string &stage);
    void move_tree(ImageWork &w, const std::string &orig, const std::string &src,
                   const std::string &dst, long long root_device);
    long long count_in(const ImageWork &w, const std::string &orig) const;
    bool has_foreign(const ImageWork &w, const std::string &orig, long long device) const;
    void set_metadata(const std::string &dst, const struct stat &st);
    void fix_symlinks(ImageWork &w, const Planned &e);

    ProgressLog &log_;
    KpServer server_;
    bool keep_ = false, one_fs_ = false, rename_soft_ = false;
    bool renaming_ = false;
    RenamePair rename_;
    std::map<std::string, ImageWork> work_; // by image id
    long long unmatched_ = 0, missing_ = 0;
    bool unreachable_ = false;
    bool sparse_note_ = false;
};

std::string Restore::redirect(const std::string &p) const {
    if (!renaming_ || !under(p, rename_.from))
        return p;
    if (rename_.from == "/")
        return rename_.to == "/" ? p : rename_.to + p;
    std::string rest = p.substr(rename_.from.size());
    return rename_.to == "/" ? (rest.empty() ? "/" : rest) : rename_.to + rest;
}

long long Restore::count_in(const ImageWork &w, const std::string &orig) const {
    long long n = 0;
    w.listing->for_each_in(orig, -1, [&](size_t) { ++n; });
    return n;
}

bool Restore::has_foreign(const ImageWork &w, const std::string &orig, long long device) const {
    bool found = false;
    w.listing->for_each_in(orig, -1, [&](size_t i) {
        ListingLine l;
        if (!found && parse_listing_line(w.listing->line(i), 0, l) > 0 &&
            l.numbers[LN_DEVICE] != device)
            found = true;
    });
    return found;
}

int Restore::plan(const std::vector<ImageEntry> &entries, const std::vector<ImageHeader> &images) {
    std::map<std::string, std::shared_ptr<ImageListing>> opened;
    for (const auto &e : entries) {
        std::string p = e.path;
        // The directory entry "/a/b/." of a true-image selection is "/a/b/".
        if (p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0)
            p.pop_back();
        bool want_dir = p.size() > 1 && p.back() == '/';
        std::string bare = strip_slash(p);
        bool found = false;
        for (auto it = images.rbegin(); it != images.rend() && !found; ++it) {
            if (it->backup_time < e.start || it->backup_time > e.end)
                continue;
            auto &lst = opened[it->id];
            if (!lst) {
                lst = std::make_shared<ImageListing>();
                std::string err;
                if (!lst->open(server_.catalog_dir, it->id, err)) {
                    log_.line("image " + it->id + " cannot be read: " + err);
                    continue;
                }
            }
            if (lst->size() == 0)
                continue;
            std::string key;
            for (const std::string &k : {bare == "/" ? std::string("/") : bare + "/", bare})
                if ((k.back() == '/' || !want_dir) && lst->find(k) < lst->size()) {
                    key = k;
                    break;
                }
            if (key.empty())
                continue;
            ListingLine l;
            parse_listing_line(lst->line(lst->find(key)), 0, l);
            Planned pl;
            pl.path = bare;
            pl.key = key;
            pl.is_dir = key.back() == '/';
            pl.dest = redirect(bare);
            pl.device = l.numbers[LN_DEVICE];
            auto &w = work_[it->id];
            w.header = *it;
            w.listing = lst;
            w.entries.push_back(pl);
            found = true;
        }
        if (!found) {
            ++unmatched_;
            log_.failed(bare, "no image in the requested time range holds it");
        }
    }
    // An entry inside a directory entry of the same image is already covered.
    for (auto &[id, w] : work_) {
        std::sort(w.entries.begin(), w.entries.end(),
                  [](const Planned &a, const Planned &b) { return a.path < b.path; });
        std::vector<Planned> kept;
        for (auto &e : w.entries) {
            bool covered = false;
            for (const auto &k : kept)
                if (k.is_dir && under(e.path, k.path) && k.dest == redirect(k.path))
                    covered = true;
            if (!covered)
                kept.push_back(e);
        }
        w.entries = std::move(kept);
    }
    return 0;
}

void Restore::set_metadata(const std::string &dst, const struct stat &st) {
    if (geteuid() == 0)
        lchown(dst.c_str(), st.st_uid, st.st_gid);
    if (!S_ISLNK(st.st_mode))
        chmod(dst.c_str(), st.st_mode & 07777);
    struct timespec ts[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, dst.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

void Restore::move_tree(ImageWork &w, const std::string &orig, const std::string &src,
                        const std::string &dst, long long root_device) {
    struct stat ss {};
    if (lstat(src.c_str(), &ss) != 0) {
        ++missing_;
        log_.failed(orig, "the repository's snapshot did not give it back");
        return;
    }
    if (one_fs_ && S_ISDIR(ss.st_mode) && root_device >= 0) {
        size_t i = w.listing->find(orig == "/" ? "/" : orig + "/");
        if (i < w.listing->size()) {
            ListingLine l;
            parse_listing_line(w.listing->line(i), 0, l);
            if (l.numbers[LN_DEVICE] != root_device) {
                log_.skipped(orig, "on another file system than the directory restored (-O); " +
                                       std::to_string(count_in(w, orig)) + " entries left out");
                return;
            }
        }
    }
    struct stat ds {};
    bool exists = lstat(dst.c_str(), &ds) == 0;
    bool created = false;
    if (!exists && one_fs_ && S_ISDIR(ss.st_mode) && root_device >= 0 &&
        has_foreign(w, orig, root_device)) {
        // Part of the tree is to be left out: build the directory here and
        // bring in its entries one by one.
        if (mkdir(dst.c_str(), 0700) != 0 || lstat(dst.c_str(), &ds) != 0) {
            log_.failed(dst, std::string("cannot create: ") + strerror(errno));
            return;
        }
        exists = created = true;
    }
    if (!exists) {
        if (rename(src.c_str(), dst.c_str()) == 0) {
            log_.done(S_ISDIR(ss.st_mode) ? count_in(w, orig) : 1);
            return;
        }
        log_.failed(dst, std::string("cannot move into place: ") + strerror(errno));
        return;
    }
    if (S_ISDIR(ss.st_mode) && S_ISDIR(ds.st_mode)) {
        // Merge: keep the directory, bring in what it lacks, then give it
        // the backed-up metadata unless existing files are to be kept.
        std::vector<std::string> names;
        if (DIR *d = opendir(src.c_str())) {
            while (dirent *de = readdir(d)) {
                std::string n = de->d_name;
                if (n != "." && n != "..")
                    names.push_back(n);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        for (const auto &n : names)
            move_tree(w, orig == "/" ? "/" + n : orig + "/" + n, src + "/" + n,
                      dst == "/" ? "/" + n : dst + "/" + n, root_device);
        if (!keep_ || created)
            set_metadata(dst, ss);
        log_.done();
        return;
    }
    if (keep_) {
        log_.skipped(dst, "exists, kept (-K)");
        return;
    }
    if (S_ISDIR(ss.st_mode) != S_ISDIR(ds.st_mode)) {
        log_.failed(dst, S_ISDIR(ds.st_mode) ? "a directory is in the way of the backed-up file"
                                             : "a file is in the way of the backed-up directory");
        return;
    }
    if (rename(src.c_str(), dst.c_str()) == 0)
        log_.done();
    else
        log_.failed(dst, std::string("cannot replace: ") + strerror(errno));
}

void Restore::fix_symlinks(ImageWork &w, const Planned &e) {
    w.listing->for_each_in(e.key, -1, [&](size_t i) {
        ListingLine l;
        if (parse_listing_line(w.listing->line(i), 0, l) == 0 || l.numbers[LN_TYPE] != 2)
            return;
        std::string dst = redirect(l.path);
        char buf[4097];
        ssize_t n = readlink(dst.c_str(), buf, sizeof buf - 1);
        if (n <= 0)
            return;
        std::string target(buf, static_cast<size_t>(n));
        if (target[0] != '/' || !under(target, rename_.from))
            return;
        std::string nt = redirect(target);
        if (unlink(dst.c_str()) == 0 && symlink(nt.c_str(), dst.c_str()) == 0)
            log_.line("link " + log_quote(dst) + " now points to " + log_quote(nt));
        else
            log_.failed(dst, "cannot redirect the symbolic link");
    });
}

void Restore::place(ImageWork &w, const Planned &e, const std::string &stage) {
    std::string src = stage + (e.path == "/" ? "" : e.path);
    if (e.path == "/")
        src = stage;
    // Missing parents of the destination are created.
    std::string parent = e.dest.substr(0, e.dest.rfind('/'));
    if (!parent.empty()) {
        int err = 0;
        struct stat ps {};
        if (lstat(parent.c_str(), &ps) != 0 && mkdirpath(parent.c_str(), 0755, &err) == 0)
            log_.line("created " + log_quote(parent));
    }
    move_tree(w, e.path, src, e.dest, e.is_dir ? e.device : -1);
    if (renaming_ && rename_soft_)
        fix_symlinks(w, e);
}

bool Restore::restore_group(ImageWork &w, const std::vector<const Planned *> &group,
                            const std::string &stage_parent) {
    std::string tmpl = (stage_parent == "/" ? "" : stage_parent) + "/.kprestore.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        for (const Planned *e : group)
            log_.failed(e->dest, "cannot create a staging directory in " + log_quote(stage_parent) +
                                     ": " + strerror(errno));
        return false;
    }
    std::string stage = buf.data();
    std::vector<std::string> args = {"restore", w.header.snapshot, "--target", stage};
    for (const Planned *e : group) {
        args.push_back("--include");
        args.push_back(restic_pattern(e->path));
    }
    log_.line("restoring " + std::to_string(group.size()) + " entries from the image of " +
              local_time_text(w.header.backup_time) + " (snapshot " + w.header.snapshot + ")");
    ResticResult r = run_restic(server_, args, [](std::string_view) {});
    bool ok = r.started && r.exit_code == 0;
    if (!ok) {
        std::string first = r.err.substr(0, r.err.find('\n'));
        if (restic_failure_status(r.failure, 0) == kpstatus::NO_SERVER)
            unreachable_ = true;
        for (const Planned *e : group)
            log_.failed(e->dest, std::string("restic restore failed (") +
                                     restic_failure_name(r.failure) + "): " + log_quote(first));
    } else {
        for (const Planned *e : group)
            place(w, *e, stage);
    }
    remove_tree(stage);
    return ok;
}

int Restore::run(const KpArgs &args) {
    keep_ = args.has("-K");
    one_fs_ = args.has("-O");
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
        std::string rpath = args.get("-R");
        if (args.has("-8"))
            rpath = transfer_decode(rpath);
        std::string rtext;
        std::vector<RenamePair> cands;
        if (!read_whole_file(rpath, rtext, err, 1 << 20)) {
            log_.line("cannot read the rename file: " + err);
            log_.report("restore", kpstatus::OPEN_FAILED);
            return kpstatus::OPEN_FAILED;
        }
        if (!parse_rename_file(rtext, cands, err)) {
            log_.line("the rename file is damaged, nothing was restored: " + err);
            log_.report("restore", kpstatus::USAGE);
            return kpstatus::USAGE;
        }
        // A source or destination may itself hold " to ": take the one
        // split whose source covers requested paths; refuse when that is
        // not a single one, rather than restore into a wrong place.
        std::vector<RenamePair> fit;
        for (auto c : cands) {
            c.from = strip_slash(c.from);
            c.to = strip_slash(c.to);
            for (const auto &e : entries)
                if (under(strip_slash(e.path), c.from)) {
                    fit.push_back(c);
                    break;
                }
        }
        if (fit.size() != 1) {
            log_.line(fit.empty() ? "the rename file's source covers none of the requested paths"
                                  : "the rename file can be read in more than one way");
            log_.report("restore", kpstatus::RESTORE_FAILED);
            return kpstatus::RESTORE_FAILED;
        }
        rename_ = fit[0];
        renaming_ = true;
        log_.line("redirecting " + log_quote(rename_.from) + " to " + log_quote(rename_.to));
    }
    int st = open_server(args.get("-S"), server_, err);
    if (st != 0) {
        log_.line(err);
        log_.report("restore", st);
        return st;
    }
    ImageFilter f;
    f.archives = args.has("-A");
    f.client = args.has("-C") ? args.get("-C") : local_client_name();
    long long pt = 0;
    if (args.has("-t") && kp_parse_time(args.get("-t"), pt))
        f.policy_type = static_cast<int>(pt);
    std::vector<ImageHeader> images = select_images(load_image_headers(server_.catalog_dir), f);
    if (args.has("-r"))
        images.clear(); // raw partitions are never backed up by these programs
    plan(entries, images);
    if (work_.empty()) {
        log_.report("restore", kpstatus::NO_IMAGES);
        return kpstatus::NO_IMAGES;
    }
    ResticFailure why = ResticFailure::None;
    if (!repository_reachable(server_, why, err)) {
        log_.line(err);
        st = restic_failure_status(why, kpstatus::RESTORE_FAILED);
        log_.report("restore", st);
        return st;
    }
    if (keep_)
        log_.line("existing files are kept (-K)");
    if (geteuid() != 0)
        log_.line("restoring as a user other than root: restored files belong to that user");
    for (auto &item : work_) {
        ImageWork &w = item.second;
        // One restic call per image and destination file system, staged
        // beside the destinations so that moving into place is a rename.
        std::map<dev_t, std::vector<const Planned *>> groups;
        std::map<dev_t, std::string> anchors;
        for (const auto &e : w.entries) {
            std::string parent = e.dest.substr(0, e.dest.rfind('/'));
            std::string anchor = nearest_existing_dir(parent.empty() ? "/" : parent);
            struct stat as {};
            if (lstat(anchor.c_str(), &as) != 0) {
                log_.failed(e.dest, "no directory to restore into");
                continue;
            }
            groups[as.st_dev].push_back(&e);
            anchors.emplace(as.st_dev, anchor);
        }
        for (auto &[dev, group] : groups) {
            restore_group(w, group, anchors[dev]);
            if (unreachable_)
                break;
        }
        for (const auto &e : w.entries)
            w.listing->for_each_in(e.key, -1, [&](size_t i) {
                ListingLine l;
                if (!sparse_note_ && parse_listing_line(w.listing->line(i), 0, l) > 0 &&
                    l.numbers[LN_TYPE] == 0 && l.numbers[LN_BLOCKS] * 1024 + 4096 < l.size) {
                    sparse_note_ = true;
                    log_.line("note: sparse files such as " + log_quote(l.path) +
                              " are restored with all their blocks written");
                }
            });
        if (unreachable_)
            break;
    }
    int status = kpstatus::OK;
    if (unreachable_)
        status = kpstatus::NO_SERVER;
    else if (log_.failed_count() > 0)
        status = log_.done_count() > 0 ? kpstatus::NOT_ALL_RESTORED
                 : missing_ > 0        ? kpstatus::NOT_FOUND_IN_IMAGE
                                       : kpstatus::RESTORE_FAILED;
    else if (log_.done_count() == 0 && log_.skipped_count() == 0)
        status = kpstatus::RESTORE_FAILED;
    log_.report("restore", status);
    return status;
}

} // namespace

int kprestore_main(int argc, char **argv) {
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, RESTORE_OPTIONS, args, err))
        return usage_error("kprestore", err, RESTORE_USAGE);
    if (!args.has("-f"))
        return usage_error("kprestore", "no request file (-f)", RESTORE_USAGE);
    if (!args.operands.empty())
        return usage_error("kprestore", "unexpected word " + args.operands[0], RESTORE_USAGE);
    ProgressLog log;
    if (!open_program_log(args, log, err)) {
        fprintf(stderr, "kprestore: %s\n", err.c_str());
        return kpstatus::OPEN_FAILED;
    }
    if (!args.has("-L"))
        log.echo_to_stderr(true);
    Restore r(log);
    return r.run(args);
}
