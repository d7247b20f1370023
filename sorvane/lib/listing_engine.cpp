// kplist and kpclimagelist: answer the client's listing and image-list
// questions from the server's catalog database alone, without calling
// restic and without its password.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "catalog.h"
#include "catalog_db.h"
#include "image_select.h"
#include "kpprograms.h"
#include "kpserver.h"
#include "kpstatus.h"
#include "sync.h"

namespace {

const char *const KPLIST_USAGE =
    "kplist [-t type] [-S server] [-C client] [-r] {-A|-B} [-l] [-b] [-U] [-T] [-W] [-R depth] "
    "[-X -s start -e end] [-keyword phrase] directory";
const char *const KPCLIMAGELIST_USAGE =
    "kpclimagelist [-K|-TK] [-ct type] [-server server] -t {UARC|NOT_ARCHIVE} [-X -d start -e end] "
    "[-client client] [-keyword phrase] [-likelydate]";

const std::vector<KpOption> KPLIST_OPTIONS = {
    {"-t", true},  {"-S", true},  {"-C", true},  {"-r", false},     {"-A", false}, {"-B", false},
    {"-l", false}, {"-b", false}, {"-U", false}, {"-T", false},     {"-W", false}, {"-R", true},
    {"-X", false}, {"-s", true},  {"-e", true},  {"-keyword", true}};

const std::vector<KpOption> IMAGELIST_OPTIONS = {
    {"-K", false},     {"-TK", false},     {"-ct", true},         {"-server", true},
    {"-t", true},      {"-X", false},      {"-d", true},          {"-e", true},
    {"-client", true}, {"-keyword", true}, {"-likelydate", false}};

bool parse_int(const std::string &s, long long &v) {
    return kp_parse_time(s, v);
}

// The dates of the listing programs are seconds since the epoch.
int read_range(const KpArgs &args, const char *start_opt, const char *end_opt, ImageFilter &f,
               bool &given, const char *prog, const char *usage) {
    given = args.has(start_opt) || args.has(end_opt);
    if (args.has(start_opt) && !parse_int(args.get(start_opt), f.start)) {
        return usage_error(prog, std::string("bad start time ") + args.get(start_opt), usage),
               kpstatus::BAD_DATE;
    }
    if (args.has(end_opt) && !parse_int(args.get(end_opt), f.end)) {
        return usage_error(prog, std::string("bad end time ") + args.get(end_opt), usage),
               kpstatus::BAD_DATE;
    }
    return 0;
}

// Opens the server and its catalog for reading. A server without a catalog
// database has no images yet.
int open_catalog(const std::string &server_name, KpServer &server, CatalogDb &db,
                 std::vector<ImageHeader> &all, const char *prog) {
    std::string err;
    int st = open_server(server_name, server, err, false);
    if (st != 0) {
        fprintf(stderr, "%s: %s\n", prog, err.c_str());
        return st;
    }
    refresh_catalog_cache(server);
    if (access(server.catalog_db.c_str(), F_OK) != 0) {
        return 0;
    }
    if (!db.open(server.catalog_db, false, err)) {
        fprintf(stderr, "%s: %s\n", prog, err.c_str());
        return kpstatus::NO_SERVER;
    }
    all = db.images(err);
    if (!err.empty()) {
        fprintf(stderr, "%s: %s\n", prog, err.c_str());
        return kpstatus::NO_SERVER;
    }
    return 0;
}

} // namespace

int kplist_main(int argc, char **argv) {
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, KPLIST_OPTIONS, args, err)) {
        return usage_error("kplist", err, KPLIST_USAGE);
    }
    if (args.operands.size() != 1) {
        return usage_error("kplist", "one directory is needed", KPLIST_USAGE);
    }
    if (args.has("-A") && args.has("-B")) {
        return usage_error("kplist", "-A and -B exclude each other", KPLIST_USAGE);
    }
    ImageFilter f;
    f.archives = args.has("-A");
    f.keyword = args.get("-keyword");
    f.client = args.has("-C") ? args.get("-C") : local_client_name();
    long long v = 0;
    if (args.has("-t")) {
        if (!parse_int(args.get("-t"), v)) {
            return usage_error("kplist", "bad policy type " + args.get("-t"), KPLIST_USAGE);
        }
        f.policy_type = static_cast<int>(v);
    }
    long long depth = 2;
    if (args.has("-R") && !parse_int(args.get("-R"), depth)) {
        return usage_error("kplist", "bad depth " + args.get("-R"), KPLIST_USAGE);
    }
    bool dates = false;
    if (int st = read_range(args, "-s", "-e", f, dates, "kplist", KPLIST_USAGE)) {
        return st;
    }

    KpServer server;
    CatalogDb db;
    std::vector<ImageHeader> all;
    if (int st = open_catalog(args.get("-S"), server, db, all, "kplist")) {
        return st;
    }
    if (all.empty()) {
        return kpstatus::NOTHING_FOUND;
    }
    if (!dates) {
        // The default range starts where a restore browse would: at the most
        // recent full backup, else at the oldest image.
        ImageFilter any = f;
        any.keyword.clear();
        long long likely = likely_start_date(select_images(all, any));
        f.start = likely < 0 ? 0 : likely;
        f.end = KP_INFINITY;
    }
    ListingQuery q;
    q.history = {f.client, f.archives};
    q.dir = args.operands[0];
    // Depth: the directory's entries are level 1; each of the "-R" levels
    // of subdirectories below adds one; 999 means no limit.
    q.max_level = depth >= 999 ? -1 : static_cast<int>(std::max(0LL, depth)) + 1;
    q.start = f.start;
    q.end = f.end;
    q.true_image = args.has("-T");
    q.policy_type = f.policy_type;
    q.keyword = f.keyword;
    // "-r": the raw partitions backed up below the directory, alone.
    q.raw = args.has("-r");
    static char outbuf[1 << 16];
    setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
    std::string text;
    long long lines = db.list(
        q,
        [&](const ListingLine &l) {
            text = format_listing_line(l);
            fwrite(text.data(), 1, text.size(), stdout);
        },
        err);
    if (lines < 0) {
        fprintf(stderr, "kplist: %s\n", err.c_str());
        return kpstatus::NO_SERVER;
    }
    if (fflush(stdout) != 0) {
        return kpstatus::OPEN_FAILED;
    }
    return lines > 0 ? kpstatus::OK : kpstatus::NOTHING_FOUND;
}

int kpclimagelist_main(int argc, char **argv) {
    KpArgs args;
    std::string err;
    if (!kp_parse_args(argc, argv, IMAGELIST_OPTIONS, args, err)) {
        return usage_error("kpclimagelist", err, KPCLIMAGELIST_USAGE);
    }
    if (!args.operands.empty()) {
        return usage_error("kpclimagelist", "unexpected word " + args.operands[0],
                           KPCLIMAGELIST_USAGE);
    }
    ImageFilter f;
    std::string type = args.get("-t", "NOT_ARCHIVE");
    if (type == "UARC" || type == "3") {
        f.archives = true;
    } else if (type == "NOT_ARCHIVE" || type == "12") {
        f.archives = false;
    } else {
        return usage_error("kpclimagelist", "unknown image type " + type, KPCLIMAGELIST_USAGE);
    }
    f.client = args.has("-client") ? args.get("-client") : local_client_name();
    long long v = 0;
    if (args.has("-ct")) {
        if (!parse_int(args.get("-ct"), v)) {
            return usage_error("kpclimagelist", "bad policy type " + args.get("-ct"),
                               KPCLIMAGELIST_USAGE);
        }
        f.policy_type = static_cast<int>(v);
    }
    KpServer server;
    CatalogDb db;
    std::vector<ImageHeader> all;
    if (int st = open_catalog(args.get("-server"), server, db, all, "kpclimagelist")) {
        return st;
    }

    if (args.has("-likelydate")) {
        long long t = likely_start_date(select_images(all, f));
        if (t < 0) {
            return kpstatus::NOTHING_FOUND;
        }
        printf("%lld\n", t);
        return fflush(stdout) == 0 ? kpstatus::OK : kpstatus::OPEN_FAILED;
    }
    bool dates = false;
    if (int st = read_range(args, "-d", "-e", f, dates, "kpclimagelist", KPCLIMAGELIST_USAGE)) {
        return st;
    }
    f.keyword = args.get("-keyword");
    std::vector<ImageHeader> chosen = select_images(all, f);
    // Newest first, as a user reads a history.
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        std::string policy = it->policy.empty() ? "-" : it->policy;
        for (char &c : policy) {
            if (c == ' ' || c == '\t' || c == '\n') {
                c = '_';
            }
        }
        std::string kw = it->keyword;
        for (char &c : kw) {
            if (c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        // Fields: backup time, expiration, files, KB, policy type, schedule,
        // copies (one repository copy), policy, keyword to the end of line.
        printf("%lld %lld %lld %lld %d %d %d %s %s\n", it->backup_time, it->expiration, it->files,
               it->kb, it->policy_type, it->schedule, 1, policy.c_str(), kw.c_str());
    }
    if (fflush(stdout) != 0) {
        return kpstatus::OPEN_FAILED;
    }
    return chosen.empty() ? kpstatus::NOTHING_FOUND : kpstatus::OK;
}
