// Set-up shared by the catalog and date tests: an environment variable set
// for a scope, and a product root of the test's own below /tmp.
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

// Sets (or, for null, unsets) an environment variable and puts the old value
// back on leaving; a time zone change takes effect at once.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = getenv(name)) {
            old_ = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    void set(const char *v) {
        if (v != nullptr) {
            setenv(name_.c_str(), v, 1);
        } else {
            unsetenv(name_.c_str());
        }
        tzset();
    }
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh product root that XKP_ROOT names while the object lives.
class TempRoot {
  public:
    TempRoot() : path_(make()), env_("XKP_ROOT", path_.c_str()) {}
    ~TempRoot() { std::filesystem::remove_all(path_); }
    TempRoot(const TempRoot &) = delete;
    TempRoot &operator=(const TempRoot &) = delete;
    const std::string &path() const { return path_; }
    // Writes msg/REL below the root.
    void write(const std::string &rel, const std::string &text) const {
        const std::filesystem::path p = path_ + "/msg/" + rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
    }

  private:
    static std::string make() {
        char t[] = "/tmp/xkp_test.XXXXXX";
        return mkdtemp(t) != nullptr ? t : "/nonexistent";
    }
    std::string path_;
    ScopedEnv env_;
};
