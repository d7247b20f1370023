// kpadmin: administration of the engine's servers: create one (directory,
// password, repository), list servers and images, rebuild a catalog from
// the repository.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "catalog.h"
#include "catalog_db.h"
#include "fsentry.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "raw_device.h"
#include "rebuild.h"
#include "restic.h"
#include "server_setup.h"
#include "sync.h"

namespace {

const char *const ADMIN_USAGE =
    "kpadmin init-server NAME [--repository LOCATION] [--password-file FILE] | export NAME FILE | "
    "sync NAME | set-retention NAME [--backups DAYS] [--archives DAYS] | expire NAME | "
    "list-servers | list-images [NAME] | rebuild-catalog NAME | jobs [NAME] | cancel [NAME] ID | "
    "version";

// The running and waiting jobs of a server, oldest first: the job id, its
// state, the program, when it started, its log and what it waits for.
int list_server_jobs(const std::vector<std::string> &words) {
    KpServer s;
    std::string err;
    int st = open_server(words.size() > 1 ? words[1] : "", s, err, false);
    if (st != 0) {
        fprintf(stderr, "kpadmin: %s\n", err.c_str());
        return st;
    }
    for (const auto &j : list_jobs(s.dir)) {
        printf("%lld %s %s started %s log %s%s\n", j.id, j.state.c_str(), j.program.c_str(),
               local_time_text(j.started).c_str(), j.log.empty() ? "-" : log_quote(j.log).c_str(),
               j.waits_for.empty() ? "" : (" waiting for " + j.waits_for).c_str());
    }
    return 0;
}

int cancel_server_job(const std::vector<std::string> &words) {
    if (words.size() != 2 && words.size() != 3) {
        return usage_error("kpadmin", "cancel [NAME] ID", ADMIN_USAGE);
    }
    KpServer s;
    std::string err;
    int st = open_server(words.size() == 3 ? words[1] : "", s, err, false);
    if (st != 0) {
        fprintf(stderr, "kpadmin: %s\n", err.c_str());
        return st;
    }
    long long id = 0;
    if (!kp_parse_time(words.back(), id)) {
        return usage_error("kpadmin", "bad job id " + words.back(), ADMIN_USAGE);
    }
    int r = cancel_job(s.dir, id, 30, err);
    if (r < 0) {
        fprintf(stderr, "kpadmin: %s\n", err.c_str());
        return kpstatus::NOTHING_FOUND;
    }
    if (r > 0) {
        fprintf(stderr, "kpadmin: job %lld was asked to stop and is still ending\n", id);
        return kpstatus::PARTIAL;
    }
    printf("job %lld stopped\n", id);
    return 0;
}

int list_servers() {
    for (const auto &n : list_server_names()) {
        KpServer s;
        std::string err;
        if (open_server(n, s, err) == 0) {
            printf("%s %s\n", n.c_str(), server_repository(s).c_str());
        } else {
            printf("%s (incomplete: %s)\n", n.c_str(), err.c_str());
        }
    }
    return 0;
}

int list_images(const std::vector<std::string> &words) {
    KpServer s;
    std::string err;
    int st = open_server(words.size() > 1 ? words[1] : "", s, err);
    if (st != 0) {
        fprintf(stderr, "kpadmin: %s\n", err.c_str());
        return st;
    }
    CatalogDb db;
    std::vector<ImageHeader> images;
    if (access(s.catalog_db.c_str(), F_OK) == 0) {
        if (!db.open(s.catalog_db, false, err)) {
            fprintf(stderr, "kpadmin: %s\n", err.c_str());
            return kpstatus::NO_SERVER;
        }
        images = db.images(err);
    }
    for (const auto &h : images) {
        printf(
            "%s  %-19s  sched %d  %8lld files %10lld KB  client %s  snapshot %s  keyword \"%s\"\n",
            h.id.c_str(), local_time_text(h.backup_time).c_str(), h.schedule, h.files, h.kb,
            h.client.c_str(), h.snapshot.c_str(), h.keyword.c_str());
    }
    return images.empty() ? kpstatus::NOTHING_FOUND : 0;
}

std::string tag_value(const nlohmann::json &tags, const std::string &key) {
    if (!tags.is_array()) {
        return {};
    }
    for (const auto &t : tags) {
        if (t.is_string()) {
            std::string s = t;
            if (s.compare(0, key.size() + 1, key + "=") == 0) {
                return percent_decode(s.substr(key.size() + 1));
            }
        }
    }
    return {};
}

// Rebuilds the catalog database from the repository's snapshots, oldest
// first, into a new file that replaces the old one only when complete.
int rebuild_catalog(const std::vector<std::string> &words) {
    if (words.size() != 2) {
        return usage_error("kpadmin", "rebuild-catalog NAME", ADMIN_USAGE);
    }
    KpServer s;
    std::string err;
    int st = open_server(words[1], s, err);
    if (st != 0) {
        fprintf(stderr, "kpadmin: %s\n", err.c_str());
        return st;
    }
    CatalogLock lock(s.lock_file);
    ResticResult snaps = run_restic(s, {"snapshots", "--json"});
    if (!snaps.started || snaps.exit_code != 0) {
        fprintf(stderr, "kpadmin: cannot list snapshots: %s", snaps.err.c_str());
        return restic_failure_status(snaps.failure, kpstatus::BACKUP_FAILED);
    }
    auto list = nlohmann::json::parse(snaps.out, nullptr, false);
    if (!list.is_array()) {
        fprintf(stderr, "kpadmin: restic gave no snapshot list\n");
        return kpstatus::BACKUP_FAILED;
    }
    struct Snap {
        long long time;
        std::string id;
        nlohmann::json j;
    };
    std::vector<Snap> order;
    for (const auto &snap : list) {
        long long t = 0;
        if (!snap.is_object() || !snap.contains("id") || !snap["id"].is_string() ||
            !snap.contains("time") || !snap["time"].is_string() ||
            !parse_rfc3339(snap["time"], t)) {
            continue;
        }
        // The catalog records stored beside the images are not images.
        if (snap.contains("tags") && snap["tags"].is_array() &&
            std::find(snap["tags"].begin(), snap["tags"].end(), RECORD_TAG) != snap["tags"].end()) {
            continue;
        }
        // A raw partition's snapshot holds its content as one file: read as
        // a tree it would be a regular file in place of a device node.
        if (snap.contains("tags") && snap["tags"].is_array() &&
            std::find(snap["tags"].begin(), snap["tags"].end(), RAW_PARTITION_TAG) !=
                snap["tags"].end()) {
            printf("left out raw partition snapshot %s: its entry comes back with its record "
                   "(kpadmin sync)\n",
                   snap["id"].get<std::string>().substr(0, 8).c_str());
            continue;
        }
        order.push_back({t, snap["id"], snap});
    }
    std::sort(order.begin(), order.end(),
              [](const Snap &a, const Snap &b) { return a.time < b.time; });
    std::string fresh = s.catalog_db + ".rebuild";
    unlink(fresh.c_str());
    unlink((fresh + "-wal").c_str());
    unlink((fresh + "-shm").c_str());
    int added = 0, refused = 0;
    {
        CatalogDb db;
        if (!db.open(fresh, true, err)) {
            fprintf(stderr, "kpadmin: %s\n", err.c_str());
            return kpstatus::BACKUP_FAILED;
        }
        NameCache names;
        for (const auto &snap : order) {
            std::string short_id = snap.id.substr(0, 8);
            ImageHeader h;
            // Backup times identify versions: two snapshots of one second
            // become images one second apart.
            h.backup_time = db.next_backup_time(snap.time);
            const auto &tags = snap.j.contains("tags") ? snap.j["tags"] : nlohmann::json();
            h.schedule = tag_value(tags, "sched") == "3" ? SCHED_USER_ARCHIVE : SCHED_USER_BACKUP;
            h.client = tag_value(tags, "client");
            if (h.client.empty() && snap.j.contains("hostname") && snap.j["hostname"].is_string()) {
                h.client = snap.j["hostname"];
            }
            h.keyword = tag_value(tags, "kw");
            h.policy = tag_value(tags, "policy");
            h.snapshot = short_id;
            std::vector<std::string> roots;
            if (snap.j.contains("paths") && snap.j["paths"].is_array()) {
                for (const auto &p : snap.j["paths"]) {
                    if (p.is_string()) {
                        roots.push_back(p);
                    }
                }
            }
            ResticResult js = run_restic(s, {"ls", "--json", snap.id});
            ResticResult plain = run_restic(s, {"ls", snap.id});
            RebuiltImage img;
            if (js.exit_code != 0 || plain.exit_code != 0 ||
                !rebuild_listing(js.out, plain.out, roots, names, img, err)) {
                fprintf(stderr, "kpadmin: snapshot %s refused: %s\n", short_id.c_str(),
                        js.exit_code != 0 || plain.exit_code != 0 ? "cannot list it" : err.c_str());
                ++refused;
                continue;
            }
            h.files = img.files;
            h.kb = img.kb;
            ImageWriter w;
            if (!db.begin_image(h, w, err) || !record_rebuilt_image(w, img, roots, err) ||
                !w.commit(err)) {
                fprintf(stderr, "kpadmin: snapshot %s: %s\n", short_id.c_str(), err.c_str());
                ++refused;
                continue;
            }
            ++added;
            printf("snapshot %s recorded as the image of %s\n", short_id.c_str(),
                   local_time_text(h.backup_time).c_str());
        }
    }
    if (rename(fresh.c_str(), s.catalog_db.c_str()) != 0) {
        fprintf(stderr, "kpadmin: cannot put the rebuilt catalog in place: %s\n", strerror(errno));
        return kpstatus::BACKUP_FAILED;
    }
    unlink((s.catalog_db + "-wal").c_str());
    unlink((s.catalog_db + "-shm").c_str());
    printf("%d images recorded, %d refused\n", added, refused);
    return refused > 0 ? kpstatus::PARTIAL : 0;
}

} // namespace

int kpadmin_main(int argc, char **argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        return usage_error("kpadmin", "no command", ADMIN_USAGE);
    }
    const std::string &cmd = words[0];
    if (cmd == "init-server") {
        return admin_init_server(words);
    }
    if (cmd == "export") {
        return admin_export(words);
    }
    if (cmd == "sync") {
        return admin_sync(words);
    }
    if (cmd == "set-retention") {
        return admin_set_retention(words);
    }
    if (cmd == "expire") {
        return admin_expire(words);
    }
    if (cmd == "list-servers") {
        return list_servers();
    }
    if (cmd == "list-images") {
        return list_images(words);
    }
    if (cmd == "rebuild-catalog") {
        return rebuild_catalog(words);
    }
    if (cmd == "jobs") {
        return list_server_jobs(words);
    }
    if (cmd == "cancel") {
        return cancel_server_job(words);
    }
    if (cmd == "version") {
        std::string v = restic_version();
        printf("%s (tested with %s)\n", v.c_str(), RESTIC_TESTED_VERSION);
        return 0;
    }
    return usage_error("kpadmin", "unknown command " + cmd, ADMIN_USAGE);
}
