// The installed help files: the Index names only topics that exist, every
// topic the program opens is there, and each window's page names every
// control of that window by the label the program shows.
#include <gtest/gtest.h>

#include "cmnutils.h"
#include "xkp_helppath.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string source_help_dir() {
    const char *v = getenv("XKP_SOURCE_DIR");
    return std::string(v != nullptr ? v : "") + "/data/help";
}

// A file's bytes; empty when it cannot be read.
std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

} // namespace

TEST(HelpFiles, IndexLinesNameATitleAndAnExistingTopic) {
    const std::string text = slurp(help_index_path());
    ASSERT_FALSE(text.empty()) << help_index_path();
    // A last line without a newline is never shown by the index list.
    EXPECT_EQ(text.back(), '\n');
    std::set<std::string> named;
    std::istringstream index(text);
    for (std::string line; std::getline(index, line);) {
        SCOPED_TRACE("Index line: " + line);
        EXPECT_LT(line.size(), XKP_TEXT_SIZE);
        // An empty line shows an empty item, a one-field line a title-less
        // one: neither belongs in the index.
        ASSERT_GE(field_count(line.c_str()), 2);
        const std::string &topic = *named.insert(index_line_topic(line.c_str())).first;
        EXPECT_FALSE(slurp(help_file_for_topic(topic.c_str())).empty());
    }
    EXPECT_GE(named.size(), 8u);
    // Every page the program opens is plain narrow text, staged as it is in
    // the sources, and (but the Index itself) reachable from the index.
    for (const char *topic : {"Index", "Tutorial", "Main", "Help", "Confirm", "Altpath", "Progress",
                              "Config", "Viewselect"}) {
        const std::string rel = std::string("xkp/") + topic;
        SCOPED_TRACE(rel);
        // The staged root is what the program reads: resolve as it does.
        const std::string source_text = slurp(source_help_dir() + "/" + rel);
        EXPECT_EQ(source_text, slurp(help_file_for_topic(help_topic_path(rel.c_str()).c_str())))
            << "the staged copy is stale";
        // Narrow, no trailing blank, printable ASCII only (no tabs).
        std::istringstream page(source_text);
        for (std::string l; std::getline(page, l);) {
            EXPECT_TRUE(
                l.size() < 78 && (l.empty() || l.back() != ' ') &&
                std::all_of(l.begin(), l.end(), [](char c) { return c >= 0x20 && c < 0x7f; }))
                << "[" << l << "]";
        }
        EXPECT_TRUE(std::string(topic) == "Index" || named.count(rel) ||
                    named.count(help_topic_path(rel.c_str())))
            << topic << " is not in the Index";
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
         "Browse backups (Auspex FastBackup raw partition)|Configuration...|\"Quit\"|"
         "Clear selections for current directory|Select all in current directory|"
         "Discard selections for previous directories|Inspect all selections...|Update Display|"
         "Brief display of filenames|Verbose display of attributes and filenames|"
         "Indented tree structure|Full Pathnames|All backup dates for each file|"
         "Only most recent backup date|Resolve Links in Search Directory|"
         "Do Not Resolve Links in Search Directory|Backup selected files and directories...|"
         "Backup search directory...|Backup database using selected scripts|"
         "Archive selected files and directories...|Archive search directory...|"
         "Report progress of backup...|Report progress of archive...|Specify Destination Path...|"
         "Restore selected files and directories...|Restore search directory...|"
         "Restore database using selected scripts|Report progress of restore...|On Window...|"
         "Index...|On Help...|On Version...|Tutorial...|Directory to Search|Range of Dates|"
         "Keyword phrase to search for|Backup Images|Filename Filter|Directory Depth|"
         "Directory Structure|\"Files\"|F10"},
        {"Tutorial",
         "Browse file system (backup or archive)|Backup selected files and directories...|"
         "Inspect all selections...|Keyword phrase to associate with this backup|Use log file|"
         "Report progress of backup...|Browse backups (restore)|Backup Images|"
         "All backup dates for each file|Only most recent backup date|"
         "Restore selected files and directories...|Specify Destination Path...|"
         "Overwrite existing files|Report progress of restore...|F10"},
    };
    for (const auto &[topic, labels] : pages) {
        const std::string flat = squeeze(slurp(source_help_dir() + "/xkp/" + topic));
        std::istringstream in(labels);
        for (std::string label; std::getline(in, label, '|');) {
            EXPECT_NE(flat.find(squeeze(label)), std::string::npos)
                << topic << " does not mention " << label;
        }
    }
    // The main window's script browsers, one per database and direction.
    const std::string main_page = squeeze(slurp(source_help_dir() + "/xkp/Main"));
    for (std::string db : {"Oracle", "Informix", "SQL-BackTrack", "Sybase", "DB2", "SAP"}) {
        for (const char *kind : {" backup", " restore"}) {
            EXPECT_NE(main_page.find("Browse file system for " + db + kind + " scripts"),
                      std::string::npos)
                << db << kind;
        }
    }
}
