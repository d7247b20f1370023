// Shared set-up of the listing unit tests: a scratch directory removed with
// everything below it, and the rows the two lists collected.
#pragma once

#include <gtest/gtest.h>

#include "xkp_rows.h"
#include "xkp_state.h"

#include <cstdlib>
#include <fcntl.h>
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
    // An empty file at rel, with any missing parent directories.
    void file(const std::string &rel) const {
        std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
        int fd = open(path(rel).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0) << rel;
        close(fd);
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
    for (const auto &r : rows)
        out.push_back(r.*field);
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
    for (const auto &r : collected_rows().right)
        out.push_back(r.name + "@" + r.date_key);
    return out;
}
