#include "stream_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

#include "kpprograms.h"
#include "kpstatus.h"
#include "progress_log.h"
#include "restic.h"
#include "restic_node.h"

namespace {

std::string first_line(const std::string &text) {
    return text.substr(0, text.find('\n'));
}

// The status of a restic run that did not succeed.
int failed_status(const ResticResult &r, int failure_status) {
    if (r.cancelled) {
        return kpstatus::TERMINATED;
    }
    return restic_failure_status(r.failure, failure_status);
}

} // namespace

std::string stream_entry_path(const std::string &name) {
    std::string p = name.empty() || name[0] != '/' ? "/" + name : name;
    if (p.size() < 2 || p.back() == '/' || p.find('\0') != std::string::npos ||
        p.find('\n') != std::string::npos) {
        return "";
    }
    for (size_t start = 1; start <= p.size();) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) {
            end = p.size();
        }
        std::string_view c(p.data() + start, end - start);
        if (c.empty() || c == "." || c == "..") {
            return "";
        }
        start = end + 1;
    }
    return p;
}

StreamResult store_stream(const KpServer &server, const ImageHeader &h, int in_fd,
                          const std::string &name, ProgressLog *log, long long size_hint,
                          const std::string &kind_tag) {
    StreamResult res;
    std::string path = stream_entry_path(name);
    if (path.empty()) {
        res.status = kpstatus::USAGE;
        res.error = "the entry name " + log_quote(name) + " cannot be stored";
        return res;
    }
    // Values in the same word as their option: a name or client starting
    // with "-" is never taken for an option.
    std::vector<std::string> args = {"backup",
                                     "--json",
                                     "--stdin",
                                     "--stdin-filename=" + path.substr(1),
                                     "--time=" + local_time_text(h.backup_time),
                                     "--host=" + h.client,
                                     "--tag=sorvane",
                                     std::string("--tag=") + STREAM_TAG,
                                     "--tag=client=" + percent_encode(h.client),
                                     "--tag=sched=" + std::to_string(h.schedule),
                                     "--tag=kw=" + percent_encode(h.keyword),
                                     "--tag=policy=" + percent_encode(h.policy)};
    if (!kind_tag.empty()) {
        args.push_back("--tag=" + kind_tag);
    }
    std::unique_ptr<ProgressTicker> ticker;
    if (log != nullptr) {
        ticker = std::make_unique<ProgressTicker>(*log);
        ticker->total_files = 1;
        ticker->total_bytes = std::max(size_hint, 0LL);
    }
    long long summary_bytes = -1;
    auto on_out = [&](std::string_view l) {
        ResticBackupEvent ev = parse_restic_backup_line(l);
        if (ev.kind == ResticBackupEvent::Status && ticker && ev.bytes_done >= 0) {
            ticker->bytes = ev.bytes_done;
            // The size of a stream is known only at its end.
            ticker->total_bytes = std::max<long long>(ev.bytes_done, ticker->total_bytes);
        } else if (ev.kind == ResticBackupEvent::Summary) {
            res.snapshot = ev.snapshot;
            summary_bytes = ev.bytes_done;
        }
    };
    ResticResult r = run_restic_streams(server, args, ResticStreams{in_fd, {}}, on_out);
    if (!r.started) {
        res.status = kpstatus::BACKUP_FAILED;
        res.error = "cannot run restic: " + r.err;
        return res;
    }
    if (r.exit_code != 0 || res.snapshot.empty() || summary_bytes < 0) {
        res.status = failed_status(r, kpstatus::BACKUP_FAILED);
        res.error = r.cancelled
                        ? "cancelled while restic was storing the stream"
                        : std::string("restic backup failed (") + restic_failure_name(r.failure) +
                              "): " + log_quote(first_line(r.err));
        res.snapshot.clear();
        return res;
    }
    res.bytes = summary_bytes;
    if (ticker) {
        ticker->files = 1;
        ticker->bytes = ticker->total_bytes = summary_bytes;
    }
    return res;
}

StreamResult dump_stream(const KpServer &server, const std::string &snapshot,
                         const std::string &name, int out_fd, long long expected_bytes,
                         ProgressLog *log) {
    StreamResult res;
    res.snapshot = snapshot;
    std::string path = stream_entry_path(name);
    if (path.empty() || snapshot.empty() || snapshot[0] == '-') {
        res.status = kpstatus::USAGE;
        res.error = "no entry " + log_quote(name) + " of snapshot " + log_quote(snapshot);
        return res;
    }
    std::unique_ptr<ProgressTicker> ticker;
    if (log != nullptr) {
        ticker = std::make_unique<ProgressTicker>(*log);
        ticker->total_files = 1;
        ticker->total_bytes = std::max(expected_bytes, 0LL);
    }
    int write_errno = 0;
    auto sink = [&](const char *p, size_t n) {
        while (n > 0) {
            ssize_t w = write(out_fd, p, n);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                write_errno = w < 0 ? errno : ENOSPC;
                return false;
            }
            p += w;
            n -= static_cast<size_t>(w);
            res.bytes += w;
        }
        if (ticker) {
            ticker->bytes = res.bytes;
        }
        return true;
    };
    ResticResult r = run_restic_streams(server, {"dump", snapshot, path}, ResticStreams{-1, sink});
    if (!r.started) {
        res.status = kpstatus::RESTORE_FAILED;
        res.error = "cannot run restic: " + r.err;
        return res;
    }
    if (r.stopped) {
        res.status = kpstatus::RESTORE_FAILED;
        res.error =
            "cannot write after " + std::to_string(res.bytes) + " bytes: " + strerror(write_errno);
        return res;
    }
    if (r.exit_code != 0) {
        res.status = failed_status(r, kpstatus::RESTORE_FAILED);
        res.error = r.cancelled
                        ? "cancelled while restic was reading the stream"
                        : std::string("restic dump failed (") + restic_failure_name(r.failure) +
                              "): " + log_quote(first_line(r.err));
        return res;
    }
    if (expected_bytes >= 0 && res.bytes != expected_bytes) {
        res.status = kpstatus::RESTORE_FAILED;
        res.error = "restic gave " + std::to_string(res.bytes) + " bytes, the catalog records " +
                    std::to_string(expected_bytes);
        return res;
    }
    if (ticker) {
        ticker->files = 1;
    }
    return res;
}
