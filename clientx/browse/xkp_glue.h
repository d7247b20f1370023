// The browse engine between the main window and the command programs: the
// listing loader and the two lists, the backup-image list and date range,
// the selection model, and the requests built from the selections.
#pragma once

#include <X11/Intrinsic.h>
#include <cstdint>

// Listing loader and the two lists.
void load_both_sides(const char *dir);
void load_right_side(const char *dir);
// The first time left_list, right_list, persistent_list, shadow_left_list
// and shadow_right_list all exist: load_both_sides(current_working_directory).
void attempt_initial_load();
// The physical form of a directory path (static text).
char *get_real(const char *path);
// Moves the divider between the directory and file lists (+1 right, -1 left).
void slide_left_right(int direction, Widget separator, Widget form);
extern int left_selection_pos;

// Backup-image list and date range. type: "UARC" or "NOT_ARCHIVE".
void load_image_list(const char *type);
void attempt_image_load(const char *type);
// Default dates for selector 3 (archives) or 12 (backups), unless edited.
void wisely_choose_dates(int type);
void set_keyword_dates();
int total_image_files(const char *start_text, const char *end_text);
// The date fields from the images selected in image_list.
void set_dates_from_images();
// Empties the image lists, and with flag set the directory and file lists
// and their companions too.
void clear_backup_images(int flag);

// Selection model.
void preserve_right_selections();
void unpreserve_right_selections();
void validate_right_selection(int position, int selected_count, int *selected_positions);
void select_all_filenames();
void extract_selection_path(char *out);

// Requests (request file, command fragments, start dialog).
// kind: 0 directory restore, 1 plain list, 2 counted list, 3 image entries.
void fill_temp_file(int kind, const char *start_text, const char *end_text, const char *directory);
void request_backup_selected();
void request_backup_directory();
void request_backup_database();
void request_archive_selected();
void request_archive_directory();
void request_restore_selected();
void request_restore_directory();
void request_restore_database();
