#include "sync.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cmnutils.h"
#include "image_record.h"
#include "kpprograms.h"
#include "kpstatus.h"
#include "repo_records.h"
#include "request_file.h"
#include "restic.h"
#include "rebuild.h"
#include "restic_node.h"

namespace {

std::string tag_of(const nlohmann::json &tags, const std::string &key) {
    if (!tags.is_array()) {
        return {};
    }
    for (const auto &t : tags) {
        if (t.is_string()) {
            const std::string &s = t.get_ref<const std::string &>();
            if (s.compare(0, key.size() + 1, key + "=") == 0) {
                return percent_decode(s.substr(key.size() + 1));
            }
        }
    }
    return {};
}

// A private temporary file holding text, removed with the object.
class RecordFile {
  public:
    ~RecordFile() {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    bool write(const std::string &dir, const std::string &text, std::string &err) {
        std::string tmpl = dir + "/.kpbackup.record.XXXXXX";
        int fd = mkstemp(tmpl.data());
        if (fd < 0) {
            err = "cannot create a temporary file in " + dir + ": " + strerror(errno);
            return false;
        }
        path_ = tmpl;
        fchmod(fd, 0600);
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                err = "cannot write " + path_ + ": " + strerror(errno);
                close(fd);
                return false;
            }
            done += static_cast<size_t>(n);
        }
        if (close(fd) != 0) {
            err = "cannot write " + path_;
            return false;
        }
        return true;
    }
    const std::string &path() const { return path_; }
    void release() { path_.clear(); }

  private:
    std::string path_;
};

void touch_stamp(const KpServer &server) {
    std::string p = sync_stamp_path(server);
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        futimens(fd, nullptr);
        close(fd);
    }
}

// A record older than the newest image of its history in the cache (an
// image whose record was stored late, or stored anew by an expiry) cannot
// be replayed on top: the history's images from that time on are removed
// and replayed from their records, in order. When one of them has no
// record in the repository, the late records are left for later.
bool replay_late_histories(CatalogDb &db, const std::vector<RepoRecord> &repo,
                           const std::map<std::string, long long> &known,
                           std::vector<RepoRecord> &fresh, std::vector<ImageHeader> &images,
                           SyncReport &rep, std::string &err) {
    std::map<std::pair<std::string, bool>, long long> oldest_fresh;
    for (const auto &rr : fresh) {
        auto key = std::make_pair(rr.client, rr.archives);
        auto it = oldest_fresh.find(key);
        if (it == oldest_fresh.end() || rr.image_time < it->second) {
            oldest_fresh[key] = rr.image_time;
        }
    }
    std::map<std::string, const RepoRecord *> by_short;
    for (const auto &rr : repo) {
        by_short.emplace(rr.id.substr(0, 8), &rr);
    }
    std::vector<long long> tail;
    std::vector<RepoRecord> again;
    std::set<std::pair<std::string, bool>> held_back;
    for (const auto &[key, from] : oldest_fresh) {
        std::vector<long long> later;
        for (const auto &h : images) {
            if (h.client == key.first && (h.schedule == SCHED_USER_ARCHIVE) == key.second &&
                h.backup_time >= from) {
                later.push_back(h.backup_time);
            }
        }
        if (later.empty()) {
            continue;
        }
        std::vector<RepoRecord> recs;
        for (long long t : later) {
            const RepoRecord *found = nullptr;
            for (const auto &[id, kt] : known) {
                if (kt == t && by_short.count(id.substr(0, 8)) != 0) {
                    found = by_short[id.substr(0, 8)];
                }
            }
            if (found == nullptr) {
                break;
            }
            recs.push_back(*found);
        }
        if (recs.size() != later.size()) {
            held_back.insert(key);
            rep.notes.push_back("records of " + key.first +
                                " older than its newest image wait: an image after them has no "
                                "record in the repository");
            continue;
        }
        tail.insert(tail.end(), later.begin(), later.end());
        again.insert(again.end(), recs.begin(), recs.end());
    }
    if (!held_back.empty()) {
        std::erase_if(fresh, [&](const RepoRecord &rr) {
            return held_back.count({rr.client, rr.archives}) != 0;
        });
    }
    if (tail.empty()) {
        return true;
    }
    std::vector<long long> changed;
    if (!remove_images(db, tail, changed, err)) {
        return false;
    }
    fresh.insert(fresh.end(), again.begin(), again.end());
    std::sort(fresh.begin(), fresh.end(), [](const RepoRecord &a, const RepoRecord &b) {
        return std::tie(a.client, a.archives, a.image_time) <
               std::tie(b.client, b.archives, b.image_time);
    });
    std::set<long long> gone(tail.begin(), tail.end());
    std::erase_if(images, [&](const ImageHeader &h) { return gone.count(h.backup_time) != 0; });
    return true;
}

// This host's records, one file per image, under DIR/records/CLIENT/: each
// record snapshot stores the whole directory (restic keeps unchanged files
// once), so that the newest snapshot of a client holds all its records and
// a sync reads any number of them with one restic call.
std::string own_records_dir(const KpServer &server, const std::string &client) {
    std::string enc;
    for (char c : percent_encode(client)) {
        enc += c == '/' ? std::string("%2F") : std::string(1, c);
    }
    return server.dir + "/records/" + enc;
}

std::string record_file_name(long long image_time, bool archives) {
    return std::to_string(image_time) + (archives ? "-archive" : "-backup") + ".rec";
}

// Writes a record file in place atomically (a temporary file renamed).
bool save_record_file(const std::string &dir, const std::string &name, const std::string &text,
                      std::string &err) {
    int e = 0;
    if (mkdirpath(dir.c_str(), 0700, &e) != 0 && access(dir.c_str(), W_OK) != 0) {
        err = "cannot create " + dir + ": " + strerror(e);
        return false;
    }
    RecordFile tmp;
    if (!tmp.write(dir, text, err)) {
        return false;
    }
    if (rename(tmp.path().c_str(), (dir + "/" + name).c_str()) != 0) {
        err = "cannot write " + dir + "/" + name + ": " + strerror(errno);
        return false;
    }
    tmp.release();
    return true;
}

// A checksum of a record's text (64-bit FNV-1a, hexadecimal), tagged on
// its snapshot: a copy of the record in another snapshot of the records
// directory is used only when it is the same text.
std::string record_sum(std::string_view text) {
    unsigned long long h = 14695981039346656037ULL;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char out[17];
    snprintf(out, sizeof out, "%016llx", h);
    return out;
}

} // namespace

void remove_directory_tree(const std::string &dir) {
    std::vector<std::string> todo = {dir}, order;
    while (!todo.empty()) {
        std::string d = todo.back();
        todo.pop_back();
        order.push_back(d);
        if (DIR *h = opendir(d.c_str())) {
            while (dirent *e = readdir(h)) {
                std::string n = e->d_name;
                if (n == "." || n == "..") {
                    continue;
                }
                std::string p = d + "/" + n;
                struct stat st {};
                if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                    todo.push_back(p);
                } else {
                    unlink(p.c_str());
                }
            }
            closedir(h);
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        rmdir(it->c_str());
    }
}

void forget_own_record_files(const KpServer &server, const std::vector<ImageHeader> &images) {
    std::string client = local_client_name();
    for (const auto &h : images) {
        if (h.client == client) {
            unlink((own_records_dir(server, client) + "/" +
                    record_file_name(h.backup_time, h.schedule == SCHED_USER_ARCHIVE))
                       .c_str());
        }
    }
}

std::string sync_stamp_path(const KpServer &server) {
    return server.dir + "/synced";
}

bool parse_record_snapshots(const std::string &json, std::vector<RepoRecord> &out) {
    out.clear();
    auto list = nlohmann::json::parse(json, nullptr, false);
    if (!list.is_array()) {
        return false;
    }
    for (const auto &s : list) {
        if (!s.is_object() || !s.contains("id") || !s["id"].is_string() || !s.contains("paths") ||
            !s["paths"].is_array() || s["paths"].size() != 1 || !s["paths"][0].is_string()) {
            continue;
        }
        const auto &tags = s.contains("tags") ? s["tags"] : nlohmann::json();
        RepoRecord r;
        r.id = s["id"];
        r.path = s["paths"][0];
        r.client = tag_of(tags, "client");
        r.archives = tag_of(tags, "sched") == std::to_string(SCHED_USER_ARCHIVE);
        if (r.client.empty() || !kp_parse_time(tag_of(tags, "image"), r.image_time) ||
            !s.contains("time") || !s["time"].is_string() ||
            !parse_rfc3339_ns(s["time"].get<std::string>(), r.stored_ns)) {
            continue;
        }
        r.sum = tag_of(tags, "sum");
        out.push_back(std::move(r));
    }
    return true;
}

bool store_image_record(const KpServer &server, CatalogDb &db, long long t, std::string &err,
                        int *calls) {
    ImageRecord rec;
    if (!ensure_record_table(db, err) || !export_image_record(db, t, rec, err)) {
        return false;
    }
    const ImageHeader &h = rec.header;
    const std::string dir = own_records_dir(server, h.client);
    const std::string text = format_image_record(rec);
    if (!save_record_file(dir, record_file_name(t, h.schedule == SCHED_USER_ARCHIVE), text, err)) {
        return false;
    }
    std::vector<std::string> args = {"backup", "--json",
                                     "--host", h.client,
                                     "--tag",  RECORD_TAG,
                                     "--tag",  "client=" + percent_encode(h.client),
                                     "--tag",  "image=" + std::to_string(h.backup_time),
                                     "--tag",  "sched=" + std::to_string(h.schedule),
                                     "--tag",  "sum=" + record_sum(text),
                                     dir};
    std::string snapshot;
    ResticResult r = run_restic(server, args, [&](std::string_view l) {
        ResticBackupEvent ev = parse_restic_backup_line(l);
        if (ev.kind == ResticBackupEvent::Summary) {
            snapshot = ev.snapshot;
        }
    });
    if (calls != nullptr) {
        ++*calls;
    }
    if (!r.started || r.exit_code != 0 || snapshot.empty()) {
        err = std::string("cannot store the image's catalog record: ") +
              restic_failure_name(r.failure == ResticFailure::None ? ResticFailure::Other
                                                                   : r.failure) +
              (r.err.empty() ? "" : ": " + r.err.substr(0, 300));
        return false;
    }
    // The summary gives the short id; snapshots --json lists full ids:
    // both are remembered by their common prefix, the short one.
    return add_known_record(db, snapshot.substr(0, 8), t, err);
}

int sync_catalog(const KpServer &server, CatalogDb &db, SyncReport &rep, std::string &err) {
    if (!ensure_record_table(db, err)) {
        return kpstatus::NO_SERVER;
    }
    ResticResult r = run_restic(server, {"snapshots", "--json", "--tag", RECORD_TAG}, {}, {}, 1);
    ++rep.restic_calls;
    std::vector<RepoRecord> repo;
    if (!r.started || r.exit_code != 0 || !parse_record_snapshots(r.out, repo)) {
        ResticFailure f = r.failure == ResticFailure::None ? ResticFailure::Other : r.failure;
        err = std::string("cannot list the repository's catalog records: ") +
              restic_failure_name(f) + (r.err.empty() ? "" : ": " + r.err.substr(0, 300));
        return restic_failure_status(f, kpstatus::NO_SERVER);
    }
    // Ids are compared by their first 8 characters, restic's short form.
    std::map<std::string, long long> known = known_records(db);
    std::set<std::string> in_repo;
    for (const auto &rr : repo) {
        in_repo.insert(rr.id.substr(0, 8));
    }

    // Images whose every record is gone were expired by another host.
    std::map<long long, int> records_left, records_had;
    for (const auto &[id, t] : known) {
        ++records_had[t];
        if (in_repo.count(id.substr(0, 8)) != 0) {
            ++records_left[t];
        }
    }
    std::vector<long long> vanished;
    for (const auto &[t, n] : records_had) {
        if (records_left[t] == 0) {
            vanished.push_back(t);
        }
    }
    // None of the records known left: rather another repository at the
    // location than every image expired. The catalog is kept as it is.
    if (!vanished.empty() && vanished.size() == records_had.size()) {
        rep.notes.push_back("the repository holds none of the records the catalog knows: no "
                            "image was removed");
        vanished.clear();
    }
    if (!vanished.empty()) {
        std::vector<ImageHeader> gone;
        for (long long t : vanished) {
            ImageHeader h;
            if (db.image_at(t, h)) {
                gone.push_back(h);
            }
        }
        std::vector<long long> changed;
        if (!remove_images(db, vanished, changed, err)) {
            return kpstatus::BACKUP_FAILED;
        }
        forget_own_record_files(server, gone);
        for (long long t : vanished) {
            rep.notes.push_back("image " + local_time_text(t) +
                                " removed: its record is no longer in the repository");
        }
        rep.removed += static_cast<int>(vanished.size());
        // The images after them are read again from their records.
        known = known_records(db);
    }
    std::set<std::string> known_short;
    for (const auto &[id, t] : known) {
        known_short.insert(id.substr(0, 8));
    }

    // New records, each history oldest first.
    std::vector<RepoRecord> fresh;
    for (const auto &rr : repo) {
        if (known_short.count(rr.id.substr(0, 8)) == 0) {
            fresh.push_back(rr);
        }
    }
    std::sort(fresh.begin(), fresh.end(), [](const RepoRecord &a, const RepoRecord &b) {
        return std::tie(a.client, a.archives, a.image_time) <
               std::tie(b.client, b.archives, b.image_time);
    });
    std::vector<ImageHeader> images = db.images(err);
    if (!replay_late_histories(db, repo, known, fresh, images, rep, err)) {
        return kpstatus::BACKUP_FAILED;
    }
    // The new records of a client are read with one restore of its record
    // snapshot stored last, which holds them all as they are now (a record
    // stored anew by an expiry included); a record it does not hold is
    // read from its own snapshot.
    std::map<std::string, const RepoRecord *> newest;
    for (const auto &rr : repo) {
        auto &n = newest[rr.client];
        if (n == nullptr || rr.stored_ns > n->stored_ns) {
            n = &rr;
        }
    }
    std::map<std::string, std::vector<std::string>> wanted;
    for (const auto &rr : fresh) {
        wanted[rr.client].push_back(restic_include_pattern(
            newest[rr.client]->path + "/" + record_file_name(rr.image_time, rr.archives)));
    }
    std::string fetched = server.dir + "/.kpbackup.records.XXXXXX";
    if (!wanted.empty() && mkdtemp(fetched.data()) == nullptr) {
        err = "cannot create a directory in " + server.dir + ": " + strerror(errno);
        return kpstatus::BACKUP_FAILED;
    }
    struct Fetched {
        std::string dir;
        ~Fetched() {
            if (!dir.empty()) {
                remove_directory_tree(dir);
            }
        }
    } fetched_guard{wanted.empty() ? std::string() : fetched};
    for (auto &[client, includes] : wanted) {
        std::vector<std::string> args = {"restore", newest[client]->id, "--target", fetched};
        for (auto &inc : includes) {
            args.insert(args.end(), {"--include", inc});
        }
        run_restic(server, args, {}, {}, 3);
        ++rep.restic_calls;
    }
    const std::string client = local_client_name();
    for (const auto &rr : fresh) {
        // The same image stored twice (a record stored again after a lost
        // answer) is remembered, not imported twice.
        auto same = std::find_if(images.begin(), images.end(), [&](const ImageHeader &h) {
            return h.client == rr.client && h.backup_time == rr.image_time &&
                   (h.schedule == SCHED_USER_ARCHIVE) == rr.archives;
        });
        if (same != images.end()) {
            if (!add_known_record(db, rr.id.substr(0, 8), same->backup_time, err)) {
                return kpstatus::BACKUP_FAILED;
            }
            continue;
        }
        const std::string name = record_file_name(rr.image_time, rr.archives);
        ResticResult d;
        std::string why;
        if (read_whole_file(fetched + newest[rr.client]->path + "/" + name, d.out, why,
                            1LL << 34) &&
            record_sum(d.out) == rr.sum) {
            d.started = true;
            d.exit_code = 0;
        } else {
            d = run_restic(server, {"dump", rr.id, rr.path + "/" + name}, {}, {}, 3);
            ++rep.restic_calls;
        }
        ImageRecord rec;
        why.clear();
        if (!d.started || d.exit_code != 0) {
            why = std::string("cannot read it: ") + restic_failure_name(d.failure);
            if (d.failure == ResticFailure::Unreachable) {
                err = why;
                return kpstatus::NO_SERVER;
            }
        } else if (!parse_image_record(d.out, rec, why)) {
        } else if (rec.header.client != rr.client || rec.header.backup_time != rr.image_time) {
            why = "it does not hold the image its tags name";
        } else {
            long long local = 0;
            if (import_image_record(db, rec, local, why) &&
                add_known_record(db, rr.id.substr(0, 8), local, why)) {
                ++rep.imported;
                // This host's own records (a disk lost, attached again)
                // go back to its records directory.
                if (rr.client == client) {
                    save_record_file(own_records_dir(server, client), name, d.out, why);
                }
                images.push_back(rec.header);
                images.back().backup_time = local;
                continue;
            }
        }
        ++rep.refused;
        rep.notes.push_back("record " + rr.id.substr(0, 8) + " of " + rr.client + " at " +
                            local_time_text(rr.image_time) + " not imported: " + why);
    }

    // This host's images without a record in the repository get one.
    known = known_records(db);
    std::set<long long> recorded;
    for (const auto &[id, t] : known) {
        recorded.insert(t);
    }
    for (const auto &h : db.images(err)) {
        if (h.client == client && recorded.count(h.backup_time) == 0) {
            std::string why;
            if (store_image_record(server, db, h.backup_time, why, &rep.restic_calls)) {
                ++rep.stored;
            } else {
                rep.notes.push_back("image " + local_time_text(h.backup_time) + ": " + why);
            }
        }
    }
    touch_stamp(server);
    return 0;
}

long long catalog_sync_seconds() {
    long long v = 60;
    std::string s = kpconf_value("CATALOG_SYNC_SECONDS");
    if (!s.empty() && !kp_parse_time(s, v)) {
        if (s[0] == '-') {
            return -1;
        }
        v = 60;
    }
    return v;
}

void refresh_catalog_cache(const KpServer &server) {
    long long every = catalog_sync_seconds();
    if (every < 0 || access(server.password_file.c_str(), R_OK) != 0 ||
        access(server.dir.c_str(), W_OK) != 0) {
        return;
    }
    struct stat st {};
    if (every > 0 && stat(sync_stamp_path(server).c_str(), &st) == 0 &&
        time(nullptr) - st.st_mtime < every) {
        return;
    }
    // A backup or another sync holds the lock: the listing does not wait.
    int fd = open(server.lock_file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return;
    }
    // The attempt counts as a sync: an unreachable repository is not asked
    // again by every listing.
    touch_stamp(server);
    CatalogDb db;
    std::string err;
    SyncReport rep;
    if (db.open(server.catalog_db, true, err)) {
        sync_catalog(server, db, rep, err);
    }
    close(fd);
}

void store_record_after_backup(const KpServer &server, CatalogDb &db, long long backup_time,
                               ProgressLog &log) {
    std::string err;
    if (store_image_record(server, db, backup_time, err)) {
        log.line("the image's catalog record is stored in the repository");
    } else {
        log.line(err + " (the next sync stores it)");
    }
}
