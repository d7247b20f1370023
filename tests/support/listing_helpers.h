// Shared set-up of the listing unit tests: a scratch directory removed with
// everything below it, and the rows the two lists collected.
#pragma once

#include <gtest/gtest.h>

#include "xkp_rows.h"
#include "xkp_state.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using Strs = std::vector<std::string>;

// A fresh directory below /tmp; on destruction everything below it is made
// accessible again and removed.
struct ScratchDir {
    std::string root;
    ScratchDir() {
        char tmpl[] = "/tmp/xkp_test_XXXXXX";
        root = mkdtemp(tmpl) != nullptr ? tmpl : "";
    }
    ~ScratchDir() {
        EXPECT_EQ(
            system(("chmod -R u+rwx '" + root + "' 2>/dev/null; rm -rf '" + root + "'").c_str()),
            0);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    std::string path(const std::string &rel) const { return root + "/" + rel; }
    // Makes rel below root with any missing parents: "name/" a directory
    // (mode 0755), "name>target" a symbolic link, anything else an empty file
    // (0644); a mode other than -1 and a modification time other than 0 are
    // set as given. Parents' times change as entries appear: set them last.
    void add(const std::string &rel, time_t mtime = 0, int mode = -1) const {
        const size_t arrow = rel.find('>');
        const std::string p = path(rel.substr(0, arrow));
        std::filesystem::create_directories(p.substr(0, p.find_last_of('/', p.size() - 2)));
        if (arrow != std::string::npos) {
            ASSERT_EQ(symlink(rel.substr(arrow + 1).c_str(), p.c_str()), 0) << rel;
            return;
        }
        const bool is_dir = rel.back() == '/';
        int fd =
            is_dir ? mkdir(p.c_str(), 0700) : open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_GE(fd, 0) << rel;
        if (!is_dir) {
            close(fd);
        }
        ASSERT_EQ(chmod(p.c_str(), mode >= 0 ? mode : is_dir ? 0755 : 0644), 0) << rel;
        const struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_TRUE(mtime == 0 || utimensat(AT_FDCWD, p.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0)
            << rel;
    }
};

// The program state at its start values and no rows collected.
inline void reset_rows() {
    reset_program_state();
    set_row_sink(nullptr);
    collected_rows().clear();
    collected_rows().has_filter = false;
    right_avoidable_pos = 0;
}

// One field of every collected row.
template <class Row> Strs column(const std::vector<Row> &rows, std::string Row::*field) {
    Strs out;
    for (const auto &r : rows) {
        out.push_back(r.*field);
    }
    return out;
}
inline Strs right_rows(std::string collected_right_row::*field = &collected_right_row::name) {
    return column(collected_rows().right, field);
}
inline Strs left_rows(std::string collected_left_row::*field = &collected_left_row::line) {
    return column(collected_rows().left, field);
}
// The right list as "name@date key" per row.
inline Strs keyed_rows() {
    Strs out;
    for (const auto &r : collected_rows().right) {
        out.push_back(r.name + "@" + r.date_key);
    }
    return out;
}
