// Message boxes: every error, warning and status the program shows. Each
// message gets a box of its own (a dialog shell "xkp_errmsg_shell" holding
// the message box "xkp_errmsg"), non-modal, closed by its one button
// "Close"; several may be open at once.
#pragma once

#include <X11/Intrinsic.h>

// The window's widgets, bound to each of them (UxGetContext).
struct _UxCxkp_errmsg {
    Widget Uxxkp_errmsg;       // the message box; the record is freed with it
    Widget Uxxkp_errmsg_shell; // its dialog shell
};
extern _UxCxkp_errmsg *UxXkp_errmsgContext;

// Builds one (unshown) message box as a child of UxTopLevel; returns the box.
Widget create_xkp_errmsg();

// Error box with the catalog text of key, or text when the catalog has none.
void pop_errmsg(const char *key, const char *text);
// The same, the text (catalog or format) formatted with one string.
void pop_err_str(const char *key, const char *format, const char *string);
// Warning box titled "xkp_warning", formatted with one integer.
void pop_warn_int(const char *key, const char *format, int number);
// Error box "CerXkp1007N" for the last system error (errno and its text).
void pop_errcode();
// Error box "CerXkp1003N" for a temporary file that cannot be created.
void filename_error(const char *name);
// Error box with the status text of a command program's status code.
void display_kp_error(int code);

// Message keys and built-in texts.
#define XKP_MSG_LARGE_RANGE_KEY "CerXkp0001N"
#define XKP_MSG_LARGE_RANGE                                                                        \
    "Because the images in the default date range include a large\nnumber of files (%d), "         \
    "searching for the specified pathname\nis delayed until you execute the Update Display "       \
    "command."
#define XKP_MSG_TEMPFILE_KEY "CerXkp0002N"
#define XKP_MSG_TEMPFILE "System error creating temporary file"
#define XKP_MSG_NO_FILES_KEY "CerXkp0003N"
#define XKP_MSG_NO_FILES "You have not selected any files"
#define XKP_MSG_ONE_PROGRESS_KEY "CerXkp0009N"
#define XKP_MSG_ONE_PROGRESS "You can only show one progress display at one time."
#define XKP_MSG_NO_SELECTIONS_KEY "CerXkp0010N"
#define XKP_MSG_NO_SELECTIONS "You have not made any selections"
#define XKP_MSG_ALTPATH_TEMP_KEY "CerXkp0101N"
#define XKP_MSG_ALTPATH_TEMP                                                                       \
    "A temporary file is needed to establish alternate pathnames,\nbut the system is unable to "   \
    "access the temporary file directories."
#define XKP_MSG_NO_LOG_KEY "CerXkp0301N"
#define XKP_MSG_NO_LOG                                                                             \
    "Insufficient permission to create log file.\nOperation will proceed without logging."
#define XKP_MSG_NO_SERVER_CONNECT_KEY "CerXkp0302N"
#define XKP_MSG_NO_SERVER_CONNECT                                                                  \
    "Could not connect to server.  Check services file\nand contact your system administrator "    \
    "to see if\nthe kprd daemon on the server is accessible."
#define XKP_MSG_NO_SERVER_KEY "CerXkp1001N"
#define XKP_MSG_NO_SERVER "Could not determine server in the master configuration file"
#define XKP_MSG_TEMP_DENIED_KEY "CerXkp1003N"
#define XKP_MSG_TEMP_DENIED                                                                        \
    "The system does not permit creation of temporary file %s.\nThe error number is %d and the "   \
    "error text is:\n%s"
#define XKP_MSG_NO_MATCH_KEY "CerXkp1005N"
#define XKP_MSG_NO_MATCH                                                                           \
    "Could not find any files that match the date range,\ndirectory pathname, directory depth "    \
    "limit,\nfilename filter, and keyword phrase."
#define XKP_MSG_NOT_EXECUTABLE_KEY "CerXkp1006N"
#define XKP_MSG_NOT_EXECUTABLE                                                                     \
    "The following command cannot be executed.\n  Ask your system administrator to\n  verify "     \
    "the install and permits.\n\n%s\n"
#define XKP_MSG_TOO_LONG_KEY "CerXkp1018N"
#define XKP_MSG_TOO_LONG                                                                           \
    "The command is %d bytes long; a command may have at most 1535.\nShorten the keyword or the "  \
    "log file name and press OK again."
#define XKP_MSG_SYSCALL_KEY "CerXkp1007N"
#define XKP_MSG_SYSCALL "A system call has failed with error number %d:\n\n%s"
