#include "raw_device.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <mntent.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "fsentry.h"
#include "jobs.h"
#include "kpprograms.h"
#include "kpstatus.h"
#include "progress_log.h"
#include "retention.h"
#include "stream_store.h"
#include "sync.h"
#include "unique_fd.h"

namespace {

std::string device_text(dev_t rdev) {
    return std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
}

bool device_bytes(int fd, long long &bytes) {
    unsigned long long n = 0;
    if (ioctl(fd, BLKGETSIZE64, &n) != 0 || n > static_cast<unsigned long long>(LLONG_MAX)) {
        return false;
    }
    bytes = static_cast<long long>(n);
    return true;
}

// The device a path leads to, symbolic links resolved.
std::string resolved(const std::string &path) {
    std::unique_ptr<char, decltype(&free)> r(realpath(path.c_str(), nullptr), free);
    return r ? std::string(r.get()) : path;
}

std::string base_of(const std::string &path) {
    return path.substr(path.rfind('/') + 1);
}

// Backs up one device; false with the reason logged.
bool back_up_one(const KpServer &server, CatalogDb &db, const RawImageContext &ctx,
                 const RawSource &src, NameCache &names, ProgressLog &log, int &status) {
    status = kpstatus::BACKUP_FAILED;
    Fd fd(open(src.device.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    long long size = 0;
    if (fd.fd < 0 || fstat(fd.fd, &st) != 0 || !S_ISBLK(st.st_mode) ||
        st.st_rdev != src.st.st_rdev || !device_bytes(fd.fd, size)) {
        log.failed(src.path, std::string("cannot read the device ") + log_quote(src.device) + ": " +
                                 (fd.fd < 0 ? strerror(errno) : "it changed"));
        return false;
    }
    if (size == 0) {
        log.failed(src.path, "the device " + log_quote(src.device) + " holds no data");
        return false;
    }
    ImageHeader h;
    h.backup_time = db.next_backup_time(time(nullptr));
    char id[32];
    snprintf(id, sizeof id, "%010lld", h.backup_time);
    h.id = id;
    h.schedule = ctx.schedule;
    h.policy_type = ctx.policy_type;
    h.policy = ctx.policy;
    h.client = ctx.client;
    h.keyword = ctx.keyword;
    h.files = 1;
    h.expiration = image_expiration(server, h.schedule, h.backup_time);
    log.line("raw partition " + log_quote(src.path) + ": reading block device " +
             log_quote(src.device) + " (" + device_text(st.st_rdev) + "), " + std::to_string(size) +
             " bytes");
    StreamResult r = store_stream(server, h, fd.fd, src.path, &log, size, RAW_PARTITION_TAG);
    if (r.status != 0) {
        status = r.status;
        log.failed(src.path, r.error);
        return false;
    }
    if (r.bytes != size) {
        log.failed(src.path, "restic read " + std::to_string(r.bytes) + " of the device's " +
                                 std::to_string(size) + " bytes; snapshot " + r.snapshot +
                                 " is not recorded");
        return false;
    }
    h.snapshot = r.snapshot;
    h.kb = (r.bytes + 1023) / 1024;
    FileState fs = file_state_from_stat(base_of(src.path), st, names);
    fs.type = 3;
    fs.size = r.bytes;
    fs.blocks_kb = h.kb;
    fs.device = static_cast<long long>(st.st_rdev);
    // The node's times say nothing of the content: the time of reading
    // makes each backup of the device a version of its own.
    fs.mtime_ns = fs.ctime_ns = h.backup_time * 1000000000LL;
    std::string err;
    ImageWriter w;
    if (job_cancelled()) {
        status = kpstatus::TERMINATED;
        log.failed(src.path, "cancelled: snapshot " + r.snapshot + " is stored but not recorded");
        return false;
    }
    bool ok = db.begin_image(h, w, err) && w.root(src.path, fs, err);
    // The directories above the entry, as a file backup records them, so
    // that a listing finds its way down to it.
    std::vector<std::string> ancestors;
    for (std::string p = src.path; ok && p != "/";) {
        size_t sl = p.rfind('/');
        p = sl == 0 ? "/" : p.substr(0, sl);
        ancestors.insert(ancestors.begin(), p);
    }
    for (const auto &a : ancestors) {
        struct stat ast {};
        if (ok && lstat(a.c_str(), &ast) == 0 && S_ISDIR(ast.st_mode)) {
            ok = w.ancestor(a, file_state_from_stat(a == "/" ? "" : base_of(a), ast, names), err);
        }
    }
    if (!ok || !w.commit(err)) {
        log.failed(src.path, "snapshot " + r.snapshot +
                                 " is stored but could not be recorded in the catalog (" + err +
                                 ")");
        return false;
    }
    log.line("raw partition " + log_quote(src.path) + ": read " + std::to_string(r.bytes) +
             " bytes of block device " + log_quote(src.device) + " (" + device_text(st.st_rdev) +
             ") into snapshot " + r.snapshot + ", image " + local_time_text(h.backup_time));
    log.done();
    store_record_after_backup(server, db, h.backup_time, log);
    status = kpstatus::OK;
    return true;
}

// Checks an open destination: a block device, not mounted, at least size
// bytes. 0, or the refusal's status with the reason.
int check_device(int fd, const std::string &dest, long long size, std::string &why) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
        why = log_quote(dest) + " is not a block device";
        return kpstatus::NO_DEVICE;
    }
    std::string mount_point;
    if (device_mounted(st.st_rdev, mount_point)) {
        why = log_quote(dest) + " (block device " + device_text(st.st_rdev) + ") is mounted on " +
              log_quote(mount_point);
        return kpstatus::DEVICE_IN_USE;
    }
    long long have = 0;
    if (!device_bytes(fd, have)) {
        why = "cannot tell the size of " + log_quote(dest) + ": " + strerror(errno);
        return kpstatus::NO_DEVICE;
    }
    if (have < size) {
        why = log_quote(dest) + " holds " + std::to_string(have) + " bytes, the entry needs " +
              std::to_string(size);
        return kpstatus::DEVICE_TOO_SMALL;
    }
    return 0;
}

// Checks a destination before anything is written.
int check_target(const std::string &dest, long long size, std::string &why) {
    struct stat st {};
    if (stat(dest.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        why = log_quote(dest) + " is not a block device";
        return kpstatus::NO_DEVICE;
    }
    Fd fd(open(dest.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.fd < 0) {
        why = "cannot open " + log_quote(dest) + ": " + strerror(errno);
        return kpstatus::NO_DEVICE;
    }
    return check_device(fd.fd, dest, size, why);
}

// Writes one item; false with the reason logged.
bool restore_one(const KpServer &server, RawRestoreItem &it, ProgressLog &log, int &status) {
    // Written through the device node itself, opened exclusively: a device
    // that a file system or swap holds answers EBUSY. Never created nor
    // truncated. The checks are made again on what was opened.
    std::string device = resolved(it.dest);
    Fd fd(open(device.c_str(), O_WRONLY | O_EXCL | O_CLOEXEC | O_NOCTTY));
    std::string why;
    if (fd.fd < 0) {
        int e = errno;
        status = e == EBUSY ? kpstatus::DEVICE_IN_USE : kpstatus::NO_DEVICE;
        why = "cannot open " + log_quote(device) + " for writing: " + strerror(e);
    } else {
        status = check_device(fd.fd, it.dest, it.v.st.size, why);
    }
    if (status != 0) {
        log.failed(it.dest, "refused: " + why + "; nothing was written");
        return false;
    }
    status = kpstatus::RESTORE_FAILED;
    struct stat st {};
    fstat(fd.fd, &st);
    log.line("raw partition " + log_quote(it.v.path) + " (" + std::to_string(it.v.st.size) +
             " bytes, image " + local_time_text(it.v.first) + ") to block device " +
             log_quote(device) + " (" + device_text(st.st_rdev) + ")");
    StreamResult r = dump_stream(server, it.snapshot, it.v.path, fd.fd, it.v.st.size, &log);
    if (r.status != 0) {
        status = r.status;
        log.failed(it.dest, r.error + " (" + std::to_string(r.bytes) +
                                " bytes were written: the device's content is damaged)");
        return false;
    }
    if (fsync(fd.fd) != 0) {
        log.failed(it.dest, std::string("the device did not take the data: ") + strerror(errno));
        return false;
    }
    int fd_num = fd.fd;
    fd.fd = -1;
    if (close(fd_num) != 0) {
        log.failed(it.dest, std::string("the device did not take the data: ") + strerror(errno));
        return false;
    }
    log.line("wrote " + std::to_string(r.bytes) + " bytes to " + log_quote(device));
    log.done();
    status = kpstatus::OK;
    return true;
}

} // namespace

bool raw_source(const std::string &path, RawSource &out) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        return false;
    }
    out.path = path;
    out.device = resolved(path);
    out.st = st;
    return true;
}

bool device_mounted(dev_t rdev, std::string &mount_point, const char *mount_table) {
    std::unique_ptr<FILE, int (*)(FILE *)> f(setmntent(mount_table, "re"), endmntent);
    if (!f) {
        return false;
    }
    struct mntent ent {};
    char buf[8192];
    while (getmntent_r(f.get(), &ent, buf, sizeof buf) != nullptr) {
        if (ent.mnt_fsname == nullptr || ent.mnt_fsname[0] != '/') {
            continue;
        }
        struct stat st {};
        if (stat(ent.mnt_fsname, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == rdev) {
            mount_point = ent.mnt_dir != nullptr ? ent.mnt_dir : "";
            return true;
        }
    }
    return false;
}

int back_up_raw_devices(const KpServer &server, CatalogDb &db, const RawImageContext &ctx,
                        const std::vector<RawSource> &sources, ProgressLog &log) {
    NameCache names;
    int stored = 0, last_failure = kpstatus::BACKUP_FAILED;
    for (const auto &src : sources) {
        if (job_cancelled()) {
            return stored > 0 ? kpstatus::PARTIAL : kpstatus::TERMINATED;
        }
        int st = 0;
        if (back_up_one(server, db, ctx, src, names, log, st)) {
            ++stored;
        } else {
            last_failure = st;
        }
    }
    if (stored == static_cast<int>(sources.size())) {
        return kpstatus::OK;
    }
    return stored > 0 ? kpstatus::PARTIAL : last_failure;
}

int plan_raw_restore(const CatalogDb &db, const HistoryKey &h, int policy_type,
                     const std::vector<ImageEntry> &entries,
                     const std::function<std::string(const std::string &)> &redirect,
                     std::vector<RawRestoreItem> &items, ProgressLog &log) {
    items.clear();
    for (const auto &e : entries) {
        RawRestoreItem it;
        ImageHeader img;
        bool found = false;
        for (auto &v : db.versions_in_range(h, e.path, e.start, e.end)) {
            if (is_raw_entry(v.st) && db.image_at(v.first, img) && !img.snapshot.empty() &&
                (policy_type < 0 || img.policy_type == policy_type)) {
                it.v = std::move(v);
                found = true;
                break;
            }
        }
        if (!found) {
            log.line("no image in the requested time range holds the raw partition " +
                     log_quote(e.path));
            return kpstatus::NO_IMAGES;
        }
        it.snapshot = img.snapshot;
        it.dest = redirect(it.v.path);
        std::string why;
        if (int st = check_target(it.dest, it.v.st.size, why)) {
            log.line("refused: " + why + "; nothing was written");
            return st;
        }
        items.push_back(std::move(it));
    }
    return kpstatus::OK;
}

int restore_raw_devices(const KpServer &server, std::vector<RawRestoreItem> &items,
                        ProgressLog &log) {
    int written = 0, last_failure = kpstatus::RESTORE_FAILED;
    for (auto &it : items) {
        if (job_cancelled()) {
            return written > 0 ? kpstatus::NOT_ALL_RESTORED : kpstatus::TERMINATED;
        }
        int st = 0;
        if (restore_one(server, it, log, st)) {
            ++written;
        } else {
            last_failure = st;
        }
    }
    if (written == static_cast<int>(items.size())) {
        return kpstatus::OK;
    }
    return written > 0 ? kpstatus::NOT_ALL_RESTORED : last_failure;
}
