// Requests built from the user's selections or from the search directory:
// the request file, the progress-log name, the command fragments of the
// backup, archive and database-script programs, and the opening of the
// start dialog.
#include "xkp_request.h"

#include "UxXt.h"
#include "cmnutils.h"
#include "kpconf_api.h"
#include "timefuncs.h"
#include "tmmsg.h"
#include "uimx_helper.h"
#include "unixconf_api.h"
#include "xkp_confirm.h"
#include "xkp_daterange.h"
#include "xkp_errmsg.h"
#include "xkp_glue.h"
#include "xkp_handles.h"
#include "xkp_root.h"
#include "xkp_state.h"

#include <Xm/List.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct file_closer {
    void operator()(FILE *f) const { fclose(f); }
};
using request_stream = std::unique_ptr<FILE, file_closer>;

struct dir_closer {
    void operator()(DIR *d) const { closedir(d); }
};

// The lines of one persistent_list entry.
struct entry {
    std::string display, path, key, extra;
};

std::vector<entry> selection_entries() {
    std::vector<entry> out;
    int count = get_item_count(persistent_list);
    if (count <= 0) {
        return out;
    }
    XmStringTable items = get_all_items(persistent_list);
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        // The four lines in one pass, each as a 4096-byte line buffer would
        // hold it.
        std::vector<std::string> lines = xmstring_lines(items[i], 4);
        for (std::string &text : lines) {
            text.resize(std::min(strnlen(text.c_str(), text.size()), size_t{4095}));
        }
        entry e{std::move(lines[0]), std::move(lines[1]), std::move(lines[2]), std::move(lines[3])};
        out.push_back(std::move(e));
    }
    return out;
}

// Opens temp_filename for rewriting without following a link and only when
// it is a regular file of ours: the name was made by create_temp_file in a
// sticky directory, so nobody else can have put another file in its place.
request_stream open_request_file() {
    int fd = open(temp_filename, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        return nullptr;
    }
    FILE *f = fdopen(fd, "w");
    if (f == nullptr) {
        close(fd);
    }
    return request_stream(f);
}

// Date field text as a range start (start-of-day) or end, date first.
int32_t field_time(const char *text, bool start) {
    return start ? read_date_range(text, nullptr, let_there_be_light).start
                 : read_date_range(nullptr, text, let_there_be_light).end;
}

// line 1 without its last three blank-separated words (cut at the last
// blank three times over).
std::string without_last_words(std::string text) {
    for (int i = 0; i < 3; ++i) {
        size_t blank = text.rfind(' ');
        if (blank == std::string::npos) {
            break;
        }
        text.resize(blank);
    }
    return text;
}

// One selection of a restore request: its place among the selections, its
// start and end times and the text it is ordered by.
struct record {
    size_t index;
    int32_t start, end;
    std::string order_text;
};

// The order of the selections in a restore request: start, then end, then
// the display path in byte order.
bool comparator(const record &a, const record &b) {
    if (a.start != b.start) {
        return a.start < b.start;
    }
    if (a.end != b.end) {
        return a.end < b.end;
    }
    return strcmp(a.order_text.c_str(), b.order_text.c_str()) < 0;
}

void write_image_entries(FILE *f, const std::vector<entry> &entries) {
    std::vector<record> records;
    records.reserve(entries.size());
    int32_t true_image_start = 0;
    if (true_image) {
        true_image_start = field_time(UxrGetText(start_date).c_str(), true);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        int32_t t = static_cast<int32_t>(strtol(entries[i].key.c_str(), nullptr, 10));
        records.push_back(
            {i, true_image ? true_image_start : t, t, without_last_words(entries[i].display)});
    }
    // Equal keys keep the order of the selections (a stable sort), so the
    // file does not depend on the sort's whims.
    std::stable_sort(records.begin(), records.end(), comparator);
    for (const record &r : records) {
        const entry &e = entries[r.index];
        std::string path = e.path;
        if (true_image && !path.empty() && path.back() == '.') {
            path.pop_back();
        }
        fprintf(f, "%s %zu %s %d %d\n", e.extra.c_str(), path.size(), path.c_str(), r.start, r.end);
    }
}

// The question of the start dialog from the catalog.
void set_confirmation(const Msg &question) {
    tmgetmsg(question, tmlcmsg, sizeof confirmation_msg, confirmation_msg);
}

void set_log_name(const char *word) {
    T_strlcpy(log_filename, generate_home_filename(word), sizeof log_filename);
}

// The program path is the product's own (the runner checks the first word
// of the command as the program), so it goes unquoted.
void set_header(const char *program_rel) {
    std::string header = product_path(program_rel);
    header += ' ';
    header += dash_S_option;
    header += ' ';
    T_strlcpy(confirmed_cmd_header, header.c_str(), sizeof confirmed_cmd_header);
}

// The request file of a request from the selections, and the trailer that
// names it. false (message shown) when no file can be made.
bool make_request_file(int kind) {
    if (!create_temp_file(temp_filename, sizeof temp_filename)) {
        pop_errmsg(XKP_MSG_TEMPFILE);
        return false;
    }
    std::string trailer = " -f " + shell_word(temp_filename);
    T_strlcpy(confirmed_cmd_trailer, trailer.c_str(), sizeof confirmed_cmd_trailer);
    fill_temp_file(kind, "", "", "");
    return true;
}

struct selection_request {
    const char *program; // below the product root; null for the database program
    const char *kphdb_action;
    Msg question;
    const char *log_word;
    int kind;
    bool clears_root_filesys; // backups and archives; a restore keeps it
};

void request_from_selections(const selection_request &r) {
    filesystem_only_restore_possible = 0;
    if (r.clears_root_filesys) {
        root_filesys_only_possible = 0;
    }
    preserve_right_selections();
    if (get_item_count(persistent_list) <= 0) {
        if (r.clears_root_filesys) {
            pop_errmsg(XKP_MSG_NO_FILES);
        } else {
            pop_errmsg(XKP_MSG_NO_SELECTIONS);
        }
        return;
    }
    use_persistent_list = 1;
    set_confirmation(r.question);
    set_log_name(r.log_word);
    if (r.program != nullptr) {
        set_header(r.program);
    } else {
        if (strcmp(r.kphdb_action, "-r") == 0) {
            confirmed_cmd_alt[0] = '\0';
        }
        generate_kphdb_header(r.kphdb_action);
    }
    if (!make_request_file(r.kind)) {
        return;
    }
    open_start_dialog();
}

void request_from_directory(const char *program, const Msg &question, const char *log_word) {
    filesystem_only_restore_possible = 0;
    root_filesys_only_possible = 0;
    use_persistent_list = 0;
    update_globals();
    preserve_right_selections();
    char dir[XKP_TEXT_SIZE];
    extract_selection_path(dir);
    set_confirmation(question);
    T_strlcpy(confirmation_directory, dir, sizeof confirmation_directory);
    set_log_name(log_word);
    set_header(program);
    // The directory goes to the program as one word whatever it holds.
    std::optional<std::string> quoted = apostrophize(dir);
    if (!quoted) {
        display_kp_error(36);
        return;
    }
    std::string trailer = " " + *quoted;
    if (trailer.size() >= sizeof confirmed_cmd_trailer) {
        pop_err_str(XKP_MSG_NOT_EXECUTABLE, dir);
        return;
    }
    T_strlcpy(confirmed_cmd_trailer, trailer.c_str(), sizeof confirmed_cmd_trailer);
    open_start_dialog();
}

bool is_set_and_not_any(const kp_string &value) {
    return value.has_value() && !value->empty() && *value != "any";
}

} // namespace

bool create_temp_file(char *out, size_t size) {
    std::string name;
    int fd = create_private_temp(name);
    if (fd < 0) {
        return false;
    }
    close(fd);
    if (T_strlcpy(out, name.c_str(), size) >= size) {
        unlink(name.c_str());
        out[0] = '\0';
        return false;
    }
    return true;
}

void fill_temp_file(int kind, const char *start_text, const char *end_text, const char *directory) {
    if (temp_filename[0] == '\0') {
        return;
    }
    request_stream f = open_request_file();
    if (!f) {
        return;
    }
    if (kind == 0) {
        const char *dir = directory != nullptr ? directory : "";
        fprintf(f.get(), "0 0 0 0 0 0 0 %d 0 %zu %s %d %d\n", device_number, strlen(dir), dir,
                field_time(start_text, true), field_time(end_text, false));
        return;
    }
    std::vector<entry> entries = selection_entries();
    if (kind == 3) {
        write_image_entries(f.get(), entries);
        return;
    }
    for (const entry &e : entries) {
        if (kind == 2) {
            fprintf(f.get(), "%zu %s\n", e.display.size(), e.display.c_str());
        } else {
            fprintf(f.get(), "%s\n", e.display.c_str());
        }
    }
}

char *generate_home_filename(const char *word) {
    static char result[XKP_TEXT_SIZE];
    const char *home = getenv("HOME");
    std::string dir = home != nullptr ? home : "";
    if (!dir.empty() && dir.back() == '/') {
        dir.pop_back();
    }
    std::string base = "kp" + std::string(word != nullptr ? word : "").substr(0, 8) + ".";
    // The numbers in use, from the names in the directory that begin with
    // the base: a scan of the directory finds what the wildcard name*
    // would, and a home directory holding wildcard characters cannot
    // change what matches.
    long highest = 0;
    std::unique_ptr<DIR, dir_closer> d(opendir(dir.empty() ? "/" : dir.c_str()));
    if (d) {
        while (struct dirent *de = readdir(d.get())) {
            if (strncmp(de->d_name, base.c_str(), base.size()) == 0 &&
                strlen(de->d_name) > base.size()) {
                highest = std::max(highest, static_cast<long>(atoi(de->d_name + base.size())));
            }
        }
    }
    snprintf(result, sizeof result, "%s/%s%03ld", dir.c_str(), base.c_str(), highest + 1);
    return result;
}

char *utf8_conversion(const char *text) {
    static char result[XKP_TEXT_SIZE];
    const char *in = text != nullptr ? text : "";
    std::vector<char> converted(2 * strlen(in) + 1);
    ucs1_to_utf8(in, converted.data());
    T_strlcpy(result, converted.data(), sizeof result);
    // A cut text ends on a whole character: a lead byte whose second byte
    // did not fit goes too.
    size_t len = strlen(result);
    if (len < strlen(converted.data()) && len > 0 &&
        (static_cast<unsigned char>(result[len - 1]) & 0xC0) == 0xC0) {
        result[len - 1] = '\0';
    }
    if (strcmp(result, in) != 0) {
        T_strlcpy(dash_eight_option, " -8 ", sizeof dash_eight_option);
    }
    return result;
}

void generate_kphdb_header(const char *action) {
    std::string header = product_path("sorvane/bin/kphdb");
    header += ' ';
    header += action != nullptr ? action : "";
    header += " -fork -rdbms ";
    header += shell_word(rdbms_argv);
    header += " -S ";
    header += shell_word(current_server);
    header += ' ';
    // Policy and schedule come from the user's own configuration file (read
    // here if nothing read it before: the superuser's start-up does not; a
    // record already read is kept); they are quoted like every other text
    // that reaches the shell.
    ReadUsersConfigA(&users_config, nullptr, nullptr);
    if (is_set_and_not_any(users_config.KPBACKUP_POLICY)) {
        header += "-c " + shell_word(users_config.KPBACKUP_POLICY->c_str()) + " ";
    }
    if (is_set_and_not_any(users_config.KPBACKUP_SCHED)) {
        header += "-s " + shell_word(users_config.KPBACKUP_SCHED->c_str());
    }
    T_strlcpy(confirmed_cmd_header, header.c_str(), sizeof confirmed_cmd_header);
}

void open_start_dialog() {
    popup_interface(create_xkp_confirm(), XtGrabNone);
}

void request_backup_selected() {
    request_from_selections({"sorvane/bin/kpbackup",
                             nullptr,
                             {"CerXkp0004N", "OK to backup these files?"},
                             "log.bkup",
                             2,
                             true});
}

void request_archive_selected() {
    request_from_selections({"sorvane/bin/kparchive",
                             nullptr,
                             {"CerXkp0007N", "OK to archive these files?"},
                             "log.arch",
                             2,
                             true});
}

void request_backup_database() {
    request_from_selections({nullptr,
                             "-ub",
                             {"CerXkp0006N", "OK to backup database using these scripts?"},
                             "log.bkup",
                             1,
                             true});
}

void request_restore_database() {
    request_from_selections({nullptr,
                             "-r",
                             {"CerXkp0013N", "OK to restore database using these scripts?"},
                             "log.rest",
                             1,
                             false});
}

void request_backup_directory() {
    request_from_directory("sorvane/bin/kpbackup", {"CerXkp0005N", "OK to backup directory?"},
                           "log.bkup");
}

void request_archive_directory() {
    request_from_directory("sorvane/bin/kparchive", {"CerXkp0008N", "OK to archive directory?"},
                           "log.arch");
}
