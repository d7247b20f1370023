// The walk file of a backup run and the run's other temporary files: the
// walk records each directory read and the lstat of every entry in it, so
// that what restic stores can be checked against the state the walk saw.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class ProgressLog;

namespace backup_engine {

// Temporary files of a run live in the server directory under this prefix.
// Runs of one server hold its lock, so a file with this prefix found by the
// lock holder was left by a killed run.
constexpr const char *TEMP_PREFIX = ".kpbackup.";

// A temporary file of ours (mode 0600), removed when the object goes, or
// at once when no other program needs its name (then a killed run leaves
// nothing behind).
class TempFile {
  public:
    TempFile() = default;
    ~TempFile() {
        if (f_ != nullptr) {
            fclose(f_);
        }
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    bool create(const std::string &dir, const char *what, bool named, std::string &err) {
        std::string tmpl = dir + "/" + TEMP_PREFIX + what + ".XXXXXX";
        int fd = mkstemp(tmpl.data());
        if (fd < 0) {
            err = "cannot create a temporary file in " + dir + ": " + strerror(errno);
            return false;
        }
        if (named) {
            path_ = tmpl;
        } else {
            unlink(tmpl.c_str());
        }
        fchmod(fd, 0600);
        f_ = fdopen(fd, "w+");
        if (f_ == nullptr) {
            close(fd);
            err = strerror(errno);
            return false;
        }
        return true;
    }
    FILE *file() const { return f_; }
    const std::string &path() const { return path_; }
    // Flushes and checks that everything written reached the file.
    bool finish_writing(std::string &err) {
        if (fflush(f_) != 0 || ferror(f_)) {
            err = std::string("cannot write a temporary file: ") + strerror(errno);
            return false;
        }
        return true;
    }

  private:
    std::string path_;
    FILE *f_ = nullptr;
};

// Removes what a killed run of ours left in the server directory.
void remove_stale_temp_files(const std::string &dir, ProgressLog &log);

// The walk file: per directory read, a header record ('D', its path, whether
// it could be read, its lstat), a record per entry ('C', name, lstat) and an
// end record ('E').
struct WalkWriter {
    FILE *f;
    void put(const void *p, size_t n) { fwrite(p, 1, n, f); }
    void text(const std::string &s) {
        uint32_t n = static_cast<uint32_t>(s.size());
        put(&n, sizeof n);
        put(s.data(), s.size());
    }
    void dir(const std::string &path, bool readable, const struct stat &st) {
        fputc('D', f);
        text(path);
        fputc(readable ? 1 : 0, f);
        put(&st, sizeof st);
    }
    void child(const char *name, const struct stat &st) {
        fputc('C', f);
        text(name);
        put(&st, sizeof st);
    }
    void end() { fputc('E', f); }
};

struct WalkReader {
    FILE *f;
    // One record; false at the end of the file or on a damaged record.
    struct Record {
        char kind = 0;
        std::string text; // 'D': the path, 'C': the name
        bool readable = false;
        struct stat st {};
    };
    bool get(void *p, size_t n) { return fread(p, 1, n, f) == n; }
    bool next(Record &r) {
        int k = fgetc(f);
        if (k == EOF) {
            return false;
        }
        r.kind = static_cast<char>(k);
        if (r.kind == 'E') {
            return true;
        }
        uint32_t n = 0;
        if (!get(&n, sizeof n) || n > (1u << 20)) {
            return false;
        }
        r.text.resize(n);
        if (!get(r.text.data(), n)) {
            return false;
        }
        if (r.kind == 'D') {
            int c = fgetc(f);
            if (c == EOF) {
                return false;
            }
            r.readable = c != 0;
        } else if (r.kind != 'C') {
            return false;
        }
        return get(&r.st, sizeof r.st);
    }
};

// The path of the entry name in the directory dir.
std::string child_path(const std::string &dir, const std::string &name);

// The key of a path in the form restic names it.
uint64_t path_key(const std::string &restic_form);

} // namespace backup_engine
