// The installed help files: the Index names only topics that exist, every
// topic the program opens is there, and each window's page names every
// control of that window by the label the program shows.
#include <gtest/gtest.h>

#include "cmnutils.h"
#include "xkp_helppath.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string source_help_dir() {
    const char *v = getenv("XKP_SOURCE_DIR");
    return std::string(v != nullptr ? v : "") + "/data/help";
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

// The size of a regular file, -1 when there is none.
long file_size(const std::string &path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec)
               ? static_cast<long>(std::filesystem::file_size(path, ec))
               : -1;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs of white space become one blank, so that a label broken across two
// lines of a page is still found.
std::string squeeze(const std::string &text) {
    std::istringstream in(text);
    std::string out;
    for (std::string word; in >> word;) {
        out += (out.empty() ? "" : " ") + word;
    }
    return out;
}

// The topic files the program itself opens (menus, dialogs, index).
const char *const program_topics[] = {"Index",   "Tutorial", "Main",   "Help",      "Confirm",
                                      "Altpath", "Progress", "Config", "Viewselect"};

} // namespace

TEST(HelpFiles, IndexLinesNameATitleAndAnExistingTopic) {
    ASSERT_NE(getenv("XKP_SOURCE_DIR"), nullptr);
    ASSERT_NE(getenv("XKP_ROOT"), nullptr);
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
        named.push_back(index_line_topic(line.c_str()));
        EXPECT_GT(file_size(help_file_for_topic(named.back().c_str())), 0);
    }
    // Every page the program opens is plain narrow text, staged as it is in
    // the sources, and (but the Index itself) reachable from the index.
    for (const char *topic : program_topics) {
        const std::string rel = std::string("xkp/") + topic;
        SCOPED_TRACE(rel);
        // The staged root is what the program reads: resolve as it does.
        const std::string staged = help_file_for_topic(help_topic_path(rel.c_str()).c_str());
        std::string source_text, staged_text;
        ASSERT_TRUE(read_file(source_help_dir() + "/" + rel, source_text));
        ASSERT_TRUE(read_file(staged, staged_text)) << staged;
        EXPECT_FALSE(source_text.empty());
        EXPECT_EQ(source_text, staged_text) << "the staged copy is stale";
        const std::vector<std::string> page = lines_of(source_text);
        for (size_t i = 0; i < page.size(); ++i) {
            const std::string &l = page[i];
            SCOPED_TRACE("line " + std::to_string(i + 1));
            EXPECT_LT(l.size(), 78u);
            EXPECT_EQ(l.find('\t'), std::string::npos);
            EXPECT_TRUE(l.empty() || l.back() != ' ');
            for (unsigned char c : l) {
                EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "byte " << int(c);
            }
        }
        bool found = std::string(topic) == "Index";
        for (const auto &t : named) {
            found = found || t == rel || t == help_topic_path(rel.c_str());
        }
        EXPECT_TRUE(found) << topic << " is not in the Index";
    }
}

// Each window's page names its controls exactly as the program labels them
// (labels separated by "|").
TEST(HelpFiles, PagesNameEveryControlByItsLabel) {
    const std::pair<const char *, const char *> pages[] = {
        {"Confirm",
         "Keyword phrase to associate with this backup|Use log file|Log filename|"
         "Overwrite existing files|Delete existing transaction logs prior to restore|"
         "Redirected restore|Restore directories without crossing mount points|\"OK\"|\"Cancel\"|"
         "\"Help...\""},
        {"Altpath", "Restore From|Restore To|Rename Hard Links|Rename Soft Links|\"OK\"|\"Cancel\"|"
                    "Current Directory|\"Help...\"|Specify Destination Path..."},
        {"Progress",
         "Progress Report|Log files in your $HOME directory|Contents of selected log file|"
         "\"Log File\"|Automatic Refresh|\"Close\"|Delete Log File|\"Help...\"|"
         "Report progress of backup...|Report progress of archive...|"
         "Report progress of restore..."},
        {"Config",
         "\"Server\"|Client to browse for restores|Client to restore to|"
         "Policy type of images to browse|AFS|Apollo-wbak|Auspex-FastBackup|"
         "DataTools-SQL-BackTrack|DB2|BriskCopy|Informix-On-BAR|MS-Exchange-Server|MS-SQL-Server|"
         "MS-Windows-NT|NDMP|NetWare|Oracle|OS/2|SAP|Split-Mirror|Standard|Sybase|\"OK\"|"
         "\"Cancel\"|\"Help...\""},
        {"Viewselect", "The following files are currently selected:|\"Close\"|\"Help...\"|"
                       "Inspect all selections..."},
        {"Help",
         "Online Help text for xkp|Please Select a Help Topic|Product Identification|\"Close\"|"
         "\"Help...\"|On Window...|Index...|On Help...|On Version...|Tutorial..."},
        {"Main",
         "Browse file system (backup or archive)|Browse backups (restore)|"
         "Browse backups (true image restore)|Browse archives (restore)|"
         "Browse backups (restore raw partitions)|"
         "Browse backups (Auspex FastBackup raw partition)|"
         "Browse file system for Oracle backup scripts|"
         "Browse file system for Oracle restore scripts|"
         "Browse file system for Informix backup scripts|"
         "Browse file system for Informix restore scripts|"
         "Browse file system for SQL-BackTrack backup scripts|"
         "Browse file system for SQL-BackTrack restore scripts|"
         "Browse file system for Sybase backup scripts|"
         "Browse file system for Sybase restore scripts|"
         "Browse file system for DB2 backup scripts|Browse file system for DB2 restore scripts|"
         "Browse file system for SAP backup scripts|Browse file system for SAP restore scripts|"
         "Configuration...|\"Quit\"|Clear selections for current directory|"
         "Select all in current directory|Discard selections for previous directories|"
         "Inspect all selections...|Update Display|Brief display of filenames|"
         "Verbose display of attributes and filenames|Indented tree structure|Full Pathnames|"
         "All backup dates for each file|Only most recent backup date|"
         "Resolve Links in Search Directory|Do Not Resolve Links in Search Directory|"
         "Backup selected files and directories...|Backup search directory...|"
         "Backup database using selected scripts|Archive selected files and directories...|"
         "Archive search directory...|Report progress of backup...|Report progress of archive...|"
         "Specify Destination Path...|Restore selected files and directories...|"
         "Restore search directory...|Restore database using selected scripts|"
         "Report progress of restore...|On Window...|Index...|On Help...|On Version...|"
         "Tutorial...|Directory to Search|Range of Dates|Keyword phrase to search for|"
         "Backup Images|Filename Filter|Directory Depth|Directory Structure|\"Files\"|F10"},
        {"Tutorial",
         "Browse file system (backup or archive)|Backup selected files and directories...|"
         "Inspect all selections...|Keyword phrase to associate with this backup|Use log file|"
         "Report progress of backup...|Browse backups (restore)|Backup Images|"
         "All backup dates for each file|Only most recent backup date|"
         "Restore selected files and directories...|Specify Destination Path...|"
         "Overwrite existing files|Report progress of restore...|F10"},
    };
    for (const auto &[topic, labels] : pages) {
        std::string text;
        ASSERT_TRUE(read_file(source_help_dir() + "/xkp/" + topic, text)) << topic;
        const std::string flat = squeeze(text);
        std::istringstream in(labels);
        for (std::string label; std::getline(in, label, '|');) {
            EXPECT_NE(flat.find(squeeze(label)), std::string::npos)
                << topic << " does not mention " << label;
        }
    }
}
