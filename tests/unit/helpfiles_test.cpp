// The installed help files: the Index names only topics that exist, every
// topic the program opens is there, and each window's page names every
// control of that window by the label the program shows.
#include <gtest/gtest.h>

#include "cmnutils.h"
#include "xkp_helppath.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string env_or_fail(const char *name) {
    const char *v = getenv(name);
    return v != nullptr ? v : "";
}

std::string source_help_dir() {
    return env_or_fail("XKP_SOURCE_DIR") + "/data/help";
}

bool read_file(const std::string &path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

long file_size(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return -1;
    }
    return static_cast<long>(st.st_size);
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) {
        lines.push_back(cur);
    }
    return lines;
}

// Runs of blanks, tabs and newlines become one blank, so that a label broken
// across two lines of a page is still found.
std::string squeeze(const std::string &text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) {
            out.push_back(' ');
        }
        blank = false;
        out.push_back(c);
    }
    return out;
}

// The topic files the program itself opens (menus, dialogs, index).
const char *const program_topics[] = {"Index",   "Tutorial", "Main",   "Help",      "Confirm",
                                      "Altpath", "Progress", "Config", "Viewselect"};

} // namespace

TEST(HelpFiles, EnvironmentNamesBothTrees) {
    ASSERT_FALSE(env_or_fail("XKP_SOURCE_DIR").empty());
    ASSERT_FALSE(env_or_fail("XKP_ROOT").empty());
}

TEST(HelpFiles, EveryProgramTopicExistsInSourceAndStagedRoot) {
    for (const char *topic : program_topics) {
        std::string rel = std::string("xkp/") + topic;
        EXPECT_GT(file_size(source_help_dir() + "/" + rel), 0) << "source " << rel;
        // The staged root is what the program reads: resolve as it does.
        std::string staged = help_file_for_topic(help_topic_path(rel.c_str()).c_str());
        EXPECT_GT(file_size(staged), 0) << "staged " << staged;
        std::string a, b;
        ASSERT_TRUE(read_file(source_help_dir() + "/" + rel, a));
        ASSERT_TRUE(read_file(staged, b));
        EXPECT_EQ(a, b) << rel << ": the staged copy is stale";
    }
}

TEST(HelpFiles, IndexLinesNameATitleAndAnExistingTopic) {
    std::string text;
    ASSERT_TRUE(read_file(help_index_path(), text)) << help_index_path();
    ASSERT_FALSE(text.empty());
    // A last line without a newline is never shown by the index list.
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> lines = lines_of(text);
    EXPECT_GE(lines.size(), 8u);
    std::vector<std::string> named;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        SCOPED_TRACE("Index line " + std::to_string(i + 1) + ": " + line);
        EXPECT_LT(line.size(), XKP_TEXT_SIZE);
        // An empty line shows an empty item, a one-field line a title-less
        // one: neither belongs in the index.
        ASSERT_GE(field_count(line.c_str()), 2);
        std::string topic = index_line_topic(line.c_str());
        std::string file = help_file_for_topic(topic.c_str());
        EXPECT_GT(file_size(file), 0) << file;
        named.push_back(topic);
    }
    // Every page of a window is reachable from the index.
    for (const char *topic : program_topics) {
        if (std::string(topic) == "Index") {
            continue;
        }
        bool found = false;
        for (const auto &t : named) {
            found = found || t == std::string("xkp/") + topic ||
                    t == help_topic_path((std::string("xkp/") + topic).c_str());
        }
        EXPECT_TRUE(found) << topic << " is not in the Index";
    }
}

TEST(HelpFiles, PagesArePlainNarrowText) {
    for (const char *topic : program_topics) {
        std::string text;
        ASSERT_TRUE(read_file(source_help_dir() + "/xkp/" + topic, text)) << topic;
        std::vector<std::string> lines = lines_of(text);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string &l = lines[i];
            SCOPED_TRACE(std::string(topic) + ":" + std::to_string(i + 1));
            EXPECT_LT(l.size(), 78u);
            EXPECT_EQ(l.find('\t'), std::string::npos);
            EXPECT_TRUE(l.empty() || l.back() != ' ');
            for (unsigned char c : l) {
                EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << int(c);
            }
        }
    }
}

// Each window's page names its controls exactly as the program labels them.
struct PageLabels {
    const char *topic;
    std::vector<const char *> labels;
};

TEST(HelpFiles, PagesNameEveryControlByItsLabel) {
    const PageLabels pages[] = {
        {"Confirm",
         {"Keyword phrase to associate with this backup", "Use log file", "Log filename",
          "Overwrite existing files", "Delete existing transaction logs prior to restore",
          "Redirected restore", "Restore directories without crossing mount points", "\"OK\"",
          "\"Cancel\"", "\"Help...\""}},
        {"Altpath",
         {"Restore From", "Restore To", "Rename Hard Links", "Rename Soft Links", "\"OK\"",
          "\"Cancel\"", "Current Directory", "\"Help...\"", "Specify Destination Path..."}},
        {"Progress",
         {"Progress Report", "Log files in your $HOME directory", "Contents of selected log file",
          "\"Log File\"", "Automatic Refresh", "\"Close\"", "Delete Log File", "\"Help...\"",
          "Report progress of backup...", "Report progress of archive...",
          "Report progress of restore..."}},
        {"Config",
         {"\"Server\"",
          "Client to browse for restores",
          "Client to restore to",
          "Policy type of images to browse",
          "AFS",
          "Apollo-wbak",
          "Auspex-FastBackup",
          "DataTools-SQL-BackTrack",
          "DB2",
          "BriskCopy",
          "Informix-On-BAR",
          "MS-Exchange-Server",
          "MS-SQL-Server",
          "MS-Windows-NT",
          "NDMP",
          "NetWare",
          "Oracle",
          "OS/2",
          "SAP",
          "Split-Mirror",
          "Standard",
          "Sybase",
          "\"OK\"",
          "\"Cancel\"",
          "\"Help...\""}},
        {"Viewselect",
         {"The following files are currently selected:", "\"Close\"", "\"Help...\"",
          "Inspect all selections..."}},
        {"Help",
         {"Online Help text for xkp", "Please Select a Help Topic", "Product Identification",
          "\"Close\"", "\"Help...\"", "On Window...", "Index...", "On Help...", "On Version...",
          "Tutorial..."}},
        {"Main",
         {"Browse file system (backup or archive)",
          "Browse backups (restore)",
          "Browse backups (true image restore)",
          "Browse archives (restore)",
          "Browse backups (restore raw partitions)",
          "Browse backups (Auspex FastBackup raw partition)",
          "Browse file system for Oracle backup scripts",
          "Browse file system for Oracle restore scripts",
          "Browse file system for Informix backup scripts",
          "Browse file system for Informix restore scripts",
          "Browse file system for SQL-BackTrack backup scripts",
          "Browse file system for SQL-BackTrack restore scripts",
          "Browse file system for Sybase backup scripts",
          "Browse file system for Sybase restore scripts",
          "Browse file system for DB2 backup scripts",
          "Browse file system for DB2 restore scripts",
          "Browse file system for SAP backup scripts",
          "Browse file system for SAP restore scripts",
          "Configuration...",
          "\"Quit\"",
          "Clear selections for current directory",
          "Select all in current directory",
          "Discard selections for previous directories",
          "Inspect all selections...",
          "Update Display",
          "Brief display of filenames",
          "Verbose display of attributes and filenames",
          "Indented tree structure",
          "Full Pathnames",
          "All backup dates for each file",
          "Only most recent backup date",
          "Resolve Links in Search Directory",
          "Do Not Resolve Links in Search Directory",
          "Backup selected files and directories...",
          "Backup search directory...",
          "Backup database using selected scripts",
          "Archive selected files and directories...",
          "Archive search directory...",
          "Report progress of backup...",
          "Report progress of archive...",
          "Specify Destination Path...",
          "Restore selected files and directories...",
          "Restore search directory...",
          "Restore database using selected scripts",
          "Report progress of restore...",
          "On Window...",
          "Index...",
          "On Help...",
          "On Version...",
          "Tutorial...",
          "Directory to Search",
          "Range of Dates",
          "Keyword phrase to search for",
          "Backup Images",
          "Filename Filter",
          "Directory Depth",
          "Directory Structure",
          "\"Files\"",
          "F10"}},
        {"Tutorial",
         {"Browse file system (backup or archive)", "Backup selected files and directories...",
          "Inspect all selections...", "Keyword phrase to associate with this backup",
          "Use log file", "Report progress of backup...", "Browse backups (restore)",
          "Backup Images", "All backup dates for each file", "Only most recent backup date",
          "Restore selected files and directories...", "Specify Destination Path...",
          "Overwrite existing files", "Report progress of restore...", "F10"}},
    };
    for (const auto &page : pages) {
        std::string text;
        ASSERT_TRUE(read_file(source_help_dir() + "/xkp/" + page.topic, text)) << page.topic;
        std::string flat = squeeze(text);
        for (const char *label : page.labels) {
            EXPECT_NE(flat.find(squeeze(label)), std::string::npos)
                << page.topic << " does not mention " << label;
        }
    }
}
