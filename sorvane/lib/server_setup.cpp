#include "server_setup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "catalog_db.h"
#include "cmnutils.h"
#include "kpargs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "repo_records.h"
#include "request_file.h"
#include "restic.h"
#include "retention.h"
#include "server_env.h"
#include "sync.h"
#include "xkp_root.h"

namespace {

const char *const SETUP_USAGE =
    "kpadmin init-server NAME [--repository LOCATION] [--password-file FILE] | export NAME FILE | "
    "sync NAME | set-retention NAME [--backups DAYS] [--archives DAYS] | expire NAME";

int fail(const std::string &msg, int status) {
    fprintf(stderr, "kpadmin: %s\n", msg.c_str());
    return status;
}

bool write_private(const std::string &path, const std::string &data, bool exclusive,
                   std::string &err) {
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    int fd = open(path.c_str(), flags, 0600);
    if (fd < 0) {
        err = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    fchmod(fd, 0600);
    bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = close(fd) == 0 && ok;
    if (!ok) {
        err = "cannot write " + path;
    }
    return ok;
}

// Options after the first words: "--key value" pairs of the allowed keys.
bool read_options(const std::vector<std::string> &words, size_t from,
                  const std::set<std::string> &allowed, std::map<std::string, std::string> &out) {
    for (size_t i = from; i < words.size(); i += 2) {
        if (allowed.count(words[i]) == 0 || i + 1 >= words.size() || out.count(words[i]) != 0) {
            return false;
        }
        out[words[i]] = words[i + 1];
    }
    return true;
}

// A password file: the first line, or the "password" line of a file
// written by kpadmin export (whose "repository" line gives the location).
bool read_password_file(const std::string &path, std::string &password, std::string &location,
                        std::string &err) {
    std::string text;
    if (!read_whole_file(path, text, err, 65536)) {
        return false;
    }
    size_t pos = 0;
    bool first = true;
    std::string plain;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (first) {
            plain = strip_blank_ends(line);
        }
        first = false;
        if (line.compare(0, 9, "password ") == 0) {
            password = strip_blank_ends(line.substr(9));
        } else if (line.compare(0, 11, "repository ") == 0) {
            location = strip_blank_ends(line.substr(11));
        }
    }
    if (password.empty()) {
        password = plain;
    }
    if (password.empty()) {
        err = path + " holds no password";
        return false;
    }
    return true;
}

std::string random_password(std::string &err) {
    unsigned char raw[24];
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && read(fd, raw, sizeof raw) == static_cast<ssize_t>(sizeof raw);
    if (fd >= 0) {
        close(fd);
    }
    if (!ok) {
        err = "cannot read /dev/urandom";
        return {};
    }
    static const char hex[] = "0123456789abcdef";
    std::string pw;
    for (unsigned char c : raw) {
        pw += hex[c >> 4];
        pw += hex[c & 15];
    }
    return pw;
}

// Where a new server's directory goes: the product's servers directory
// when this user may write there, else the user's own.
std::string new_server_base(std::string &err) {
    std::string product = product_path("sorvane/servers");
    int e = 0;
    if ((is_directory(product) || mkdirpath(product.c_str(), 0755, &e) == 0) &&
        access(product.c_str(), W_OK) == 0) {
        return product;
    }
    std::string own = user_servers_dir();
    if (own.empty()) {
        err = "cannot write " + product + " and no HOME or XDG_DATA_HOME for servers of your own";
        return {};
    }
    if (mkdirpath(own.c_str(), 0700, &e) != 0 && !is_directory(own)) {
        err = "cannot create " + own + ": " + strerror(e);
        return {};
    }
    return own;
}

KpServer server_in(const std::string &name, const std::string &dir) {
    KpServer s;
    s.name = name;
    s.dir = dir;
    s.repository_file = dir + "/repository";
    s.password_file = dir + "/password";
    s.catalog_dir = dir + "/catalog";
    s.catalog_db = dir + "/catalog.db";
    s.lock_file = dir + "/lock";
    s.cache_dir = dir + "/cache";
    return s;
}

void print_keep_password(const KpServer &s) {
    printf("The repository's password is in %s.\n"
           "Keep a copy of it somewhere safe, away from this disk (\"kpadmin export %s FILE\"\n"
           "writes the repository's location and password to FILE): without it nobody can\n"
           "read these backups, you included.\n",
           s.password_file.c_str(), s.name.c_str());
}

// A server that exists already: as before, idempotent.
int init_existing(const std::string &name, const std::string &location,
                  const std::string &password) {
    KpServer s;
    std::string err;
    int st = open_server(name, s, err);
    if (st != 0) {
        return fail(err, st);
    }
    std::string have = server_repository(s);
    if (!location.empty() && location != have) {
        return fail("server " + name + " already uses the repository " + have,
                    kpstatus::BACKUP_FAILED);
    }
    std::string pw, loc;
    if (!password.empty() && read_password_file(s.password_file, pw, loc, err) && pw != password) {
        return fail("server " + name + " exists with another password; nothing was changed",
                    kpstatus::BACKUP_FAILED);
    }
    chmod(s.dir.c_str(), 0700);
    chmod(s.repository_file.c_str(), 0600);
    ResticFailure why = ResticFailure::None;
    if (repository_reachable(s, why, err)) {
        printf("server %s: repository %s ready (already there)\n", name.c_str(), have.c_str());
        return 0;
    }
    if (why != ResticFailure::RepositoryMissing) {
        return fail(err, restic_failure_status(why, kpstatus::BACKUP_FAILED));
    }
    ResticResult r = run_restic(s, {"init"});
    if (!r.started || r.exit_code != 0) {
        return fail("restic init failed: " + r.err,
                    restic_failure_status(r.failure, kpstatus::BACKUP_FAILED));
    }
    printf("server %s: repository %s created\n", name.c_str(), have.c_str());
    print_keep_password(s);
    return 0;
}

// The server, the lock and the catalog a command that changes the catalog
// holds while it runs.
struct WritableCatalog {
    KpServer s;
    std::unique_ptr<CatalogLock> lock;
    CatalogDb db;
};

// Opens the server named by the command's one operand, takes its catalog's
// lock and opens the catalog for writing. Returns 0, or the status after
// saying why (the usage when the operand is missing) on stderr.
int open_catalog_for_writing(const std::vector<std::string> &words, const char *usage,
                             WritableCatalog &c) {
    if (words.size() != 2) {
        return usage_error("kpadmin", usage, SETUP_USAGE);
    }
    std::string err;
    if (int st = open_server(words[1], c.s, err)) {
        return fail(err, st);
    }
    c.lock = std::make_unique<CatalogLock>(c.s.lock_file);
    if (!c.lock->held() || !c.db.open(c.s.catalog_db, true, err)) {
        return fail("cannot open the catalog of " + c.s.name + ": " + err, kpstatus::NO_SERVER);
    }
    return 0;
}

} // namespace

int admin_init_server(const std::vector<std::string> &words) {
    std::map<std::string, std::string> opt;
    if (words.size() < 2 || !read_options(words, 2, {"--repository", "--password-file"}, opt)) {
        return usage_error("kpadmin",
                           "init-server NAME [--repository LOCATION] [--password-file FILE]",
                           SETUP_USAGE);
    }
    const std::string &name = words[1];
    if (!valid_server_name(name)) {
        return fail("server name \"" + name + "\" is not a valid name", kpstatus::USAGE);
    }
    std::string err, password, location = opt["--repository"];
    bool given_password = opt.count("--password-file") != 0;
    if (given_password) {
        std::string exported;
        if (!read_password_file(opt["--password-file"], password, exported, err)) {
            return fail(err, kpstatus::OPEN_FAILED);
        }
        if (location.empty()) {
            location = exported;
        }
    }
    std::string existing = server_dir(name);
    if (is_directory(existing) && access((existing + "/repository").c_str(), F_OK) == 0) {
        return init_existing(name, location, password);
    }

    std::string base = new_server_base(err);
    if (base.empty()) {
        return fail(err, kpstatus::BACKUP_FAILED);
    }
    std::string final_dir = base + "/" + name;
    if (!given_password) {
        password = random_password(err);
        if (password.empty()) {
            return fail(err, kpstatus::BACKUP_FAILED);
        }
    }
    // The server is made in a private directory of its own and put in
    // place only once its repository has been created or opened: a wrong
    // password or an unreachable location leaves nothing behind.
    // An empty directory already there (a mount point made for the
    // server) is used in place; what this run wrote in it goes on failure.
    bool in_place = is_directory(final_dir);
    std::string tmp = final_dir;
    if (in_place) {
        chmod(final_dir.c_str(), 0700);
    } else {
        std::string tmpl = base + "/.init-" + name + ".XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) {
            return fail("cannot create a directory in " + base + ": " + strerror(errno),
                        kpstatus::BACKUP_FAILED);
        }
        tmp = tmpl;
    }
    bool keep = false;
    struct Cleanup {
        std::string dir;
        bool in_place;
        bool &keep;
        ~Cleanup() {
            if (keep) {
                return;
            }
            if (!in_place) {
                remove_directory_tree(dir);
                return;
            }
            unlink((dir + "/password").c_str());
            unlink((dir + "/repository").c_str());
            remove_directory_tree(dir + "/cache");
        }
    } cleanup{tmp, in_place, keep};
    KpServer probe = server_in(name, tmp);
    // A new local repository of the default place lives in the server
    // directory: it is made there once the directory is in place.
    bool default_location = location.empty();
    if (!write_private(probe.password_file, password + "\n", true, err) ||
        !write_private(probe.repository_file,
                       (default_location ? final_dir + "/repo" : location) + "\n", true, err)) {
        return fail(err, kpstatus::BACKUP_FAILED);
    }
    mkdir(probe.cache_dir.c_str(), 0700);
    bool attach = false;
    if (!default_location) {
        ResticResult r = run_restic(probe, {"cat", "config"}, {}, {}, 1);
        if (r.started && r.exit_code == 0) {
            attach = true;
        } else if (r.failure == ResticFailure::WrongPassword) {
            if (!given_password) {
                return fail("a repository already exists at " + location +
                                ": attaching to it needs its password (--password-file FILE); "
                                "nothing was written",
                            kpstatus::NO_SERVER);
            }
            return fail("the password in " + opt["--password-file"] +
                            " does not open the repository at " + location +
                            "; nothing was written",
                        kpstatus::NO_SERVER);
        } else if (r.failure != ResticFailure::RepositoryMissing) {
            ResticFailure f = r.failure == ResticFailure::None ? ResticFailure::Other : r.failure;
            return fail(std::string(restic_failure_name(f)) + " (" + location +
                            "); nothing was written: " + r.err.substr(0, 400),
                        restic_failure_status(f, kpstatus::BACKUP_FAILED));
        }
    }
    if (!in_place && rename(tmp.c_str(), final_dir.c_str()) != 0) {
        return fail("cannot create " + final_dir + ": " + strerror(errno), kpstatus::BACKUP_FAILED);
    }
    keep = true;
    KpServer s = server_in(name, final_dir);
    if (!attach) {
        ResticResult r = run_restic(s, {"init"});
        if (!r.started || r.exit_code != 0) {
            keep = false;
            if (!in_place) {
                remove_directory_tree(final_dir);
            }
            return fail("restic init failed, nothing was kept: " + r.err,
                        restic_failure_status(r.failure, kpstatus::BACKUP_FAILED));
        }
        CatalogDb db;
        db.open(s.catalog_db, true, err);
        printf("server %s: repository %s created in %s\n", name.c_str(),
               server_repository(s).c_str(), final_dir.c_str());
        print_keep_password(s);
        return 0;
    }
    // Attached: the catalog comes from the records stored in the repository.
    CatalogLock lock(s.lock_file);
    CatalogDb db;
    if (!db.open(s.catalog_db, true, err)) {
        return fail(err, kpstatus::BACKUP_FAILED);
    }
    SyncReport rep;
    int st = sync_catalog(s, db, rep, err);
    for (const auto &n : rep.notes) {
        printf("%s\n", n.c_str());
    }
    if (st != 0) {
        return fail("attached, but the catalog could not be read from the repository: " + err, st);
    }
    std::set<std::string> clients;
    auto images = db.images(err);
    for (const auto &h : images) {
        clients.insert(h.client);
    }
    printf("server %s: attached to the repository %s in %s; its catalog holds %zu images of %zu "
           "clients\n",
           name.c_str(), location.c_str(), final_dir.c_str(), images.size(), clients.size());
    return rep.refused > 0 ? kpstatus::PARTIAL : 0;
}

int admin_export(const std::vector<std::string> &words) {
    if (words.size() != 3) {
        return usage_error("kpadmin", "export NAME FILE", SETUP_USAGE);
    }
    KpServer s;
    std::string err;
    int st = open_server(words[1], s, err);
    if (st != 0) {
        return fail(err, st);
    }
    std::string password, loc;
    if (!read_password_file(s.password_file, password, loc, err)) {
        return fail(err, kpstatus::OPEN_FAILED);
    }
    std::string text = "# Server " + s.name + ", written by kpadmin export on " +
                       local_time_text(time(nullptr)) +
                       ".\n# Keep this file safe and private: it opens every backup in the "
                       "repository.\n# To attach a host: kpadmin init-server " +
                       s.name + " --password-file THIS-FILE\nrepository " + server_repository(s) +
                       "\npassword " + password + "\n";
    if (!write_private(words[2], text, true, err)) {
        return fail(err + " (an existing file is never overwritten)", kpstatus::OPEN_FAILED);
    }
    printf("server %s: location and password written to %s\n", s.name.c_str(), words[2].c_str());
    return 0;
}

int admin_sync(const std::vector<std::string> &words) {
    WritableCatalog c;
    if (int st = open_catalog_for_writing(words, "sync NAME", c)) {
        return st;
    }
    KpServer &s = c.s;
    CatalogDb &db = c.db;
    std::string err;
    SyncReport rep;
    int st = sync_catalog(s, db, rep, err);
    for (const auto &n : rep.notes) {
        printf("%s\n", n.c_str());
    }
    if (st != 0) {
        return fail(err, st);
    }
    printf("%d records imported, %d images removed, %d records stored, %d refused (%d restic "
           "calls)\n",
           rep.imported, rep.removed, rep.stored, rep.refused, rep.restic_calls);
    return rep.refused > 0 ? kpstatus::PARTIAL : 0;
}

int admin_set_retention(const std::vector<std::string> &words) {
    std::map<std::string, std::string> opt;
    if (words.size() < 4 || !read_options(words, 2, {"--backups", "--archives"}, opt)) {
        return usage_error("kpadmin", "set-retention NAME [--backups DAYS] [--archives DAYS]",
                           SETUP_USAGE);
    }
    KpServer s;
    std::string err;
    int st = open_server(words[1], s, err, false);
    if (st != 0) {
        return fail(err, st);
    }
    Retention r = read_retention(s);
    for (auto &[key, value] : opt) {
        long long days = 0;
        if (!kp_parse_time(value, days) || days > 100000) {
            return usage_error("kpadmin", "bad number of days " + value, SETUP_USAGE);
        }
        (key == "--backups" ? r.backup_days : r.archive_days) = days;
    }
    if (!write_retention(s, r, err)) {
        return fail(err, kpstatus::OPEN_FAILED);
    }
    auto text = [](long long d) {
        return d == 0 ? std::string("for ever") : std::to_string(d) + " days";
    };
    printf("server %s: new backups are kept %s, new archives %s\n", s.name.c_str(),
           text(r.backup_days).c_str(), text(r.archive_days).c_str());
    return 0;
}

int admin_expire(const std::vector<std::string> &words) {
    WritableCatalog c;
    if (int st = open_catalog_for_writing(words, "expire NAME", c)) {
        return st;
    }
    KpServer &s = c.s;
    CatalogDb &db = c.db;
    std::string err;
    // Every host's images are known before any is removed.
    SyncReport rep;
    if (int st = sync_catalog(s, db, rep, err)) {
        return fail(err, st);
    }
    long long now = retention_now();
    std::vector<ImageHeader> expired;
    for (const auto &h : db.images(err)) {
        if (h.expiration < KP_INFINITY && h.expiration <= now) {
            expired.push_back(h);
        }
    }
    if (expired.empty()) {
        printf("server %s: no image has expired\n", s.name.c_str());
        return 0;
    }
    // An expired image whose snapshot alone holds a version still alive
    // (a file no later backup covered) stays until a backup covers it: its
    // removal would leave that file listed with no copy anywhere.
    std::vector<long long> expired_times;
    for (const auto &h : expired) {
        expired_times.push_back(h.backup_time);
    }
    std::vector<SoleCopy> sole;
    if (!sole_copies(db, expired_times, sole, err)) {
        return fail(err, kpstatus::BACKUP_FAILED);
    }
    std::map<long long, std::vector<const Version *>> needed;
    for (const auto &c : sole) {
        if (c.v.ended == KP_INFINITY) {
            needed[c.holder].push_back(&c.v);
        }
    }
    std::erase_if(expired, [&](const ImageHeader &h) {
        auto it = needed.find(h.backup_time);
        if (it == needed.end()) {
            return false;
        }
        printf("kept image %s of %s past its expiration: it alone holds %zu entries still "
               "current, such as %s; a backup that covers them lets it go\n",
               local_time_text(h.backup_time).c_str(), h.client.c_str(), it->second.size(),
               it->second.front()->path.c_str());
        return true;
    });
    if (expired.empty()) {
        printf("server %s: no image removed\n", s.name.c_str());
        return 0;
    }
    std::map<std::string, long long> before = known_records(db);
    std::vector<long long> times, changed;
    std::vector<std::string> forget = {"forget"};
    for (const auto &h : expired) {
        times.push_back(h.backup_time);
        forget.push_back(h.snapshot);
    }
    std::set<long long> gone(times.begin(), times.end());
    if (!remove_images(db, times, changed, err)) {
        return fail(err, kpstatus::BACKUP_FAILED);
    }
    forget_own_record_files(s, expired);
    // The images after the removed ones now start versions the removed
    // ones did: their records are stored anew before the old ones go.
    int status = 0;
    std::set<long long> renewed;
    for (long long t : changed) {
        if (store_image_record(s, db, t, err)) {
            renewed.insert(t);
        } else {
            fprintf(stderr, "kpadmin: image %s: %s\n", local_time_text(t).c_str(), err.c_str());
            status = kpstatus::PARTIAL;
        }
    }
    for (const auto &[id, t] : before) {
        if (gone.count(t) != 0 || renewed.count(t) != 0) {
            forget.push_back(id);
        }
    }
    ResticResult r = run_restic(s, forget);
    if (!r.started || r.exit_code != 0) {
        return fail("restic forget failed: " + r.err,
                    restic_failure_status(r.failure, kpstatus::BACKUP_FAILED));
    }
    ResticResult p = run_restic(s, {"prune"});
    if (!p.started || p.exit_code != 0) {
        fprintf(stderr, "kpadmin: restic prune failed: %s", p.err.c_str());
        status = restic_failure_status(p.failure, kpstatus::BACKUP_FAILED);
    }
    for (const auto &h : expired) {
        printf("expired image %s of %s (%s, snapshot %s)\n", local_time_text(h.backup_time).c_str(),
               h.client.c_str(), h.schedule == SCHED_USER_ARCHIVE ? "archive" : "backup",
               h.snapshot.c_str());
    }
    printf("server %s: %zu images removed from the repository and the catalog\n", s.name.c_str(),
           expired.size());
    return status;
}
