// The restore road without X: the kplist and kpclimagelist command lines,
// the rows of the backup-image list, and the fragments of the kprestore
// command line and the rename file.
//
// Everything here reads the program state (xkp_state.h) and returns texts;
// the windows (xkp_images, xkp_backuplist, xkp_restore) put them into
// widgets, files and the command runner.
//
// Shell safety: every text that comes from the user, a configuration or a
// listing reaches /bin/sh either as one quoted word (shell_word in
// cmnutils.h, the directory through apostrophize) or, for the keyword,
// between double quotes with the four characters the shell still
// interprets there escaped, so the programs receive the text exactly as
// typed. Plain names ("server1", "/home/ann") keep their bare form on the
// command line.
#pragma once

#include <cstdint>
#include <string>

// "-keyword \"TEXT\"" with TEXT the keyword with trailing blanks and tabs
// removed, and "\"", "\\", "$" and "`" escaped with a backslash (null: the
// field does not exist, giving -keyword "").
std::string keyword_option(const char *keyword);

// The kplist command line for dir (trailing slash kept, quoted for the
// shell). have_dates selects the form with "-X -s START -e END".
std::string kplist_command(const char *dir, bool have_dates, int32_t start, int32_t end,
                           const char *keyword);

// The image-list command for type ("UARC" or "NOT_ARCHIVE"): all time up to
// the end of today, for current_browse_client.
std::string imagelist_command(const char *type, const char *keyword);

// The "-likelydate" command for type 3 (archives) or any other (backups).
std::string likelydate_command(int type);

// The schedule name of a schedule type code (catalog text, "?" for an
// unknown code).
std::string schedule_name(int code);

// One formatted image-list row of a raw kpclimagelist line: backup date,
// expiration date (its first 8 characters), files, kilobytes, schedule,
// policy and keyword. Missing fields count as empty (numbers as 0).
std::string format_image_row(const char *raw);

// The leading decimal number of text (0 when there is none), bounded to the
// 32-bit range: field 1 of an image line, the answer of "-likelydate".
int32_t leading_time(const char *text);

// The backup time of a raw image line: the number of its field 1.
int32_t image_time(const char *raw);

// The default start of a restore browse from the likely date r that
// kpclimagelist reported with status s, INITIAL_BROWSE_SEARCH_LIMIT days
// and the current time now: the limit time when later than r, else r, or
// let_there_be_light when s is not 0 or r < 1.
int32_t choose_start_date(int32_t r, int s, int32_t limit_days, int64_t now);

// The kprestore header: program, -t, -C, -D and -S fragments, each followed
// by a blank.
std::string restore_header();
// The kprestore trailer: " -T -W" or " -W", " -r" or "", "-A" or "", and
// " -f " with the request file.
std::string restore_trailer(const char *request_file);
// The link flag of the redirection fragment: "-l ", "-H ", "-y " or "".
const char *rename_link_flag();

// The text of a rename file.
std::string rename_file_text(const char *from, const char *to);
