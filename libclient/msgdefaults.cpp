// Built-in English texts of the catalog messages and labels.

#include "msgdefaults.h"

#include <cstring>

namespace {

constexpr MsgDefault messages[] = {
    {"CerXkp0001N", "Because the images in the default date range include a large\nnumber of files "
                    "(%d), searching for the specified pathname\nis delayed until you execute the "
                    "Update Display command."},
    {"CerXkp0002N", "System error creating temporary file"},
    {"CerXkp0003N", "You have not selected any files"},
    {"CerXkp0004N", "OK to backup these files?"},
    {"CerXkp0005N", "OK to backup directory?"},
    {"CerXkp0006N", "OK to backup database using these scripts?"},
    {"CerXkp0007N", "OK to archive these files?"},
    {"CerXkp0008N", "OK to archive directory?"},
    {"CerXkp0009N", "You can only show one progress display at one time."},
    {"CerXkp0010N", "You have not made any selections"},
    {"CerXkp0011N", "OK to restore these files?"},
    {"CerXkp0012N", "OK to restore directory?"},
    {"CerXkp0013N", "OK to restore database using these scripts?"},
    {"CerXkp0101N", "A temporary file is needed to establish alternate pathnames,\nbut the system "
                    "is unable to access the temporary file directories."},
    {"CerXkp0301N",
     "Insufficient permission to create log file.\nOperation will proceed without logging."},
    {"CerXkp0302N", "Could not connect to server.  Check services file\nand contact your system "
                    "administrator to see if\nthe kprd daemon on the server is accessible."},
    {"CerXkp1001N", "Could not determine server in the master configuration file"},
    {"CerXkp1003N", "The system does not permit creation of temporary file %s.\nThe error number "
                    "is %d and the error text is:\n%s"},
    {"CerXkp1005N", "Could not find any files that match the date range,\ndirectory pathname, "
                    "directory depth limit,\nfilename filter, and keyword phrase."},
    {"CerXkp1006N", "The following command cannot be executed.\n  Ask your system administrator "
                    "to\n  verify the install and permits.\n\n%s\n"},
    {"CerXkp1007N", "A system call has failed with error number %d:\n\n%s"},
    {"CerXkp1008N", "Backed Up            Expires     Files        KB  Sched Type   Policy         "
                    "           Keyword"},
    {"CerXkp1009N", "-------------------  --------  -------  --------  -----------  "
                    "------------------------  ----------"},
    {"CerXkp1010N", "Full Backup"},
    {"CerXkp1011N", "Incr Backup"},
    {"CerXkp1012N", "User Backup"},
    {"CerXkp1013N", "User Archive"},
    {"CerXkp1014N", "   Mode         Owner      Group       Size       Modified       Filename"},
    {"CerXkp1015N", "Cinc Backup"},
    {"CerXkp1016N", "Backup Date          Mode           Owner     Group     Size     Modified     "
                    "        Filename"},
    {"CerXkp1017N", "Backup Date          Filename"},
    {"CerXkp1018N", "The command is %d bytes long; a command may have at most 1535.\nShorten the "
                    "keyword or the log file name and press OK again."},
    {"CerXkp1019N", "%d%%, %s of %s files, %s of %s bytes"},
    {"CerXkp1020N", "Ended with status %d: %s"},
    {"CerTmf0010N", "AM"},
    {"CerTmf0020N", "PM"},
    {"CerTmf0040N", "INFINITY      "},
    {"CerTmf0041N", "DATE ERROR    "},
};

constexpr LabelDefault labels[] = {
    {"GuiXkp0000N", "xkp", ""},
    {"GuiXkp0001N", "Browse file system (backup or archive)", "f"},
    {"GuiXkp0002N", "Browse backups (restore)", "b"},
    {"GuiXkp0003N", "Browse backups (true image restore)", "b"},
    {"GuiXkp0004N", "Browse archives (restore)", "a"},
    {"GuiXkp0005N", "Browse backups (restore raw partitions)", "r"},
    {"GuiXkp0006N", "Browse backups (Auspex FastBackup raw partition)", "A"},
    {"GuiXkp0007N", "Browse file system for Oracle backup scripts", "O"},
    {"GuiXkp0008N", "Browse file system for Oracle restore scripts", "s"},
    {"GuiXkp0009N", "Browse file system for Informix backup scripts", "O"},
    {"GuiXkp0010N", "Browse file system for Informix restore scripts", "s"},
    {"GuiXkp0011N", "Browse file system for SQL-BackTrack backup scripts", "O"},
    {"GuiXkp0012N", "Browse file system for SQL-BackTrack restore scripts", "s"},
    {"GuiXkp0013N", "Browse file system for Sybase backup scripts", "O"},
    {"GuiXkp0014N", "Browse file system for Sybase restore scripts", "s"},
    {"GuiXkp0015N", "Configuration...", "C"},
    {"GuiXkp0016N", "Quit", "Q"},
    {"GuiXkp0017N", "Clear selections for current directory", "C"},
    {"GuiXkp0018N", "Select all in current directory", "S"},
    {"GuiXkp0019N", "Discard selections for previous directories", "D"},
    {"GuiXkp0020N", "Inspect all selections...", "I"},
    {"GuiXkp0021N", "Update Display", "U"},
    {"GuiXkp0022N", "Brief display of filenames", "B"},
    {"GuiXkp0023N", "Verbose display of attributes and filenames", "V"},
    {"GuiXkp0024N", "Indented tree structure", "I"},
    {"GuiXkp0025N", "Full Pathnames", "P"},
    {"GuiXkp0026N", "All backup dates for each file", "A"},
    {"GuiXkp0027N", "Only most recent backup date", "O"},
    {"GuiXkp0028N", "Resolve Links in Search Directory", "R"},
    {"GuiXkp0029N", "Do Not Resolve Links in Search Directory", "N"},
    {"GuiXkp0030N", "Backup selected files and directories...", "B"},
    {"GuiXkp0031N", "Backup search directory...", "a"},
    {"GuiXkp0032N", "Backup database using selected scripts", "O"},
    {"GuiXkp0033N", "Archive selected files and directories...", "A"},
    {"GuiXkp0034N", "Archive search directory...", "r"},
    {"GuiXkp0035N", "Report progress of backup...", "R"},
    {"GuiXkp0036N", "Report progress of archive...", "e"},
    {"GuiXkp0037N", "Specify Destination Path...", "A"},
    {"GuiXkp0038N", "Restore selected files and directories...", "R"},
    {"GuiXkp0039N", "Restore search directory...", "e"},
    {"GuiXkp0040N", "Restore database using selected scripts", "O"},
    {"GuiXkp0041N", "Report progress of restore...", "p"},
    {"GuiXkp0042N", "On Window...", "W"},
    {"GuiXkp0043N", "Index...", "I"},
    {"GuiXkp0044N", "On Help...", "H"},
    {"GuiXkp0045N", "On Version...", "V"},
    {"GuiXkp0046N", "Tutorial...", "T"},
    {"GuiXkp0047N", "File", "F"},
    {"GuiXkp0048N", "Edit", "E"},
    {"GuiXkp0049N", "View", "V"},
    {"GuiXkp0050N", "Backup", "B"},
    {"GuiXkp0051N", "Restore", "R"},
    {"GuiXkp0052N", "Help", "H"},
    {"GuiXkp0053N", "Directory to Search", ""},
    {"GuiXkp0054N", "Range of Dates", ""},
    {"GuiXkp0055N", "Backup Images", ""},
    {"GuiXkp0056N", "Directory Depth", ""},
    {"GuiXkp0057N", "Directory Structure", ""},
    {"GuiXkp0058N", "Files", ""},
    {"GuiXkp0059N", "Filename Filter", ""},
    {"GuiXkp0060N", "Browse file system for DB2 backup scripts", "O"},
    {"GuiXkp0061N", "Browse file system for DB2 restore scripts", "s"},
    {"GuiXkp0062N", "Browse file system for SAP backup scripts", "O"},
    {"GuiXkp0063N", "Browse file system for SAP restore scripts", "s"},
    {"GuiXkp0064N", "Keyword phrase to search for", ""},
    {"GuiXkp0100N", "xkp_destpath", ""},
    {"GuiXkp0101N", "Restore From", ""},
    {"GuiXkp0102N", "Restore To", ""},
    {"GuiXkp0103N", "OK", ""},
    {"GuiXkp0104N", "Cancel", ""},
    {"GuiXkp0105N", "Help...", ""},
    {"GuiXkp0106N", "Current Directory", ""},
    {"GuiXkp0107N", "Rename Hard Links", ""},
    {"GuiXkp0108N", "Rename Soft Links", ""},
    {"GuiXkp0200N", "xkp_config", ""},
    {"GuiXkp0201N", "OK", ""},
    {"GuiXkp0202N", "Server", ""},
    {"GuiXkp0203N", "Cancel", ""},
    {"GuiXkp0204N", "Help...", ""},
    {"GuiXkp0205N", "Client to browse for restores", ""},
    {"GuiXkp0206N", "Client to restore to", ""},
    {"GuiXkp0207N", "Policy type of images to browse", ""},
    {"GuiXkp0208N", "NDMP", "N"},
    {"GuiXkp0209N", "Standard", "S"},
    {"GuiXkp0210N", "Apollo-wbak", "k"},
    {"GuiXkp0211N", "Oracle", "O"},
    {"GuiXkp0212N", "Informix-On-BAR", "I"},
    {"GuiXkp0213N", "Sybase", "y"},
    {"GuiXkp0214N", "NetWare", "W"},
    {"GuiXkp0215N", "DataTools-SQL-BackTrack", "D"},
    {"GuiXkp0216N", "Auspex-FastBackup", "F"},
    {"GuiXkp0217N", "MS-Windows-NT", "M"},
    {"GuiXkp0218N", "OS/2", "2"},
    {"GuiXkp0219N", "DB2", "B"},
    {"GuiXkp0220N", "SAP", "P"},
    {"GuiXkp0221N", "MS-Exchange-Server", "x"},
    {"GuiXkp0222N", "MS-SQL-Server", "Q"},
    {"GuiXkp0223N", "BriskCopy", "l"},
    {"GuiXkp0224N", "AFS", "A"},
    {"GuiXkp0225N", "Split-Mirror", "r"},
    {"GuiXkp0300N", "xkp_confirm", ""},
    {"GuiXkp0301N", "Please confirm intention to \noperate on the following files:", ""},
    {"GuiXkp0302N", "OK", ""},
    {"GuiXkp0303N", "Cancel", ""},
    {"GuiXkp0304N", "Help...", ""},
    {"GuiXkp0305N", "Restore directories without crossing mount points", ""},
    {"GuiXkp0306N", "Redirected restore", ""},
    {"GuiXkp0307N", "Overwrite existing files", ""},
    {"GuiXkp0308N", "Log filename", ""},
    {"GuiXkp0309N", "Use log file", ""},
    {"GuiXkp0310N", "Delete existing transaction logs prior to restore", ""},
    {"GuiXkp0311N", "Keyword phrase to associate with this backup", ""},
    {"GuiXkp0400N", "xkp_errmsg", ""},
    {"GuiXkp0401N", "Close", ""},
    {"GuiXkp0500N", "xkp_help", ""},
    {"GuiXkp0501N", "Close", ""},
    {"GuiXkp0502N", "Online Help text for xkp", ""},
    {"GuiXkp0600N", "xkp_helpindex", ""},
    {"GuiXkp0601N", "Please Select a Help Topic", ""},
    {"GuiXkp0602N", "Close", ""},
    {"GuiXkp0603N", "Help...", ""},
    {"GuiXkp0700N", "xkp_progress", ""},
    {"GuiXkp0701N", "Close", ""},
    {"GuiXkp0702N", "Progress Report", ""},
    {"GuiXkp0703N", "Delete Log File", ""},
    {"GuiXkp0704N", "Help...", ""},
    {"GuiXkp0705N", "Automatic Refresh", ""},
    {"GuiXkp0706N", "Log File", ""},
    {"GuiXkp0707N", "Log files in your $HOME directory", ""},
    {"GuiXkp0708N", "Contents of selected log file", ""},
    {"GuiXkp0800N", "xkp_version", ""},
    {"GuiXkp0801N", "Close", ""},
    {"GuiXkp0802N", "Product Identification", ""},
    {"GuiXkp0803N", "Sorvane backup system: the graphical client for X11 and Motif.", ""},
    {"GuiXkp0804N", "Backups are kept deduplicated and encrypted by the Sorvane programs.", ""},
    {"GuiXkp0900N", "xkp_viewselect", ""},
    {"GuiXkp0901N", "The following files are currently selected:", ""},
    {"GuiXkp0902N", "Close", ""},
    {"GuiXkp0903N", "Help...", ""},
};

} // namespace

std::span<const MsgDefault> message_defaults() {
    return messages;
}

std::span<const LabelDefault> label_defaults() {
    return labels;
}

const char *default_message(const char *key) {
    if (key == nullptr) {
        return nullptr;
    }
    for (const MsgDefault &m : messages) {
        if (strcmp(m.key, key) == 0) {
            return m.text;
        }
    }
    return nullptr;
}

const LabelDefault *default_label(const char *key) {
    if (key == nullptr) {
        return nullptr;
    }
    for (const LabelDefault &l : labels) {
        if (strcmp(l.key, key) == 0) {
            return &l;
        }
    }
    return nullptr;
}
