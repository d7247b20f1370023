// The backup-mode branch of the listing loader: kplist for the search
// directory, the backed-up file tree built from its output, and both lists
// (or only the file list) filled from that tree.
#pragma once

// Runs kplist for dir (its trailing slash kept) with the date range, depth
// and keyword of the main window, builds the tree and dumps it into both
// lists, header rows first. The caller has emptied the lists.
void load_backup_sides(const char *dir);
// Header rows and the entries of dir from the tree already built (kplist is
// not run again). The caller has emptied the file list.
void load_backup_right(const char *dir);
