// Message boxes: every error, warning and status the program shows. Each
// message gets a box of its own (a dialog shell "xkp_errmsg_shell" holding
// the message box "xkp_errmsg"), non-modal, closed by its one button
// "Close"; several may be open at once.
#pragma once

#include "tmmsg.h"

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
inline void pop_errmsg(const Msg &msg) {
    pop_errmsg(msg.key, msg.text);
}
// The same, the text (catalog or format) formatted with one string.
void pop_err_str(const char *key, const char *format, const char *string);
inline void pop_err_str(const Msg &msg, const char *string) {
    pop_err_str(msg.key, msg.text, string);
}
// Warning box titled "xkp_warning", formatted with one integer.
void pop_warn_int(const char *key, const char *format, int number);
inline void pop_warn_int(const Msg &msg, int number) {
    pop_warn_int(msg.key, msg.text, number);
}
// Error box "CerXkp1007N" for the last system error (errno and its text).
void pop_errcode();
// Error box "CerXkp1003N" for a temporary file that cannot be created.
void filename_error(const char *name);
// Error box with the status text of a command program's status code.
void display_kp_error(int code);

// The messages the client shows, each a key with its built-in text.
inline constexpr Msg XKP_MSG_LARGE_RANGE{
    "CerXkp0001N",
    "Because the images in the default date range include a large\nnumber of files (%d), "
    "searching for the specified pathname\nis delayed until you execute the Update Display "
    "command."};
inline constexpr Msg XKP_MSG_TEMPFILE{"CerXkp0002N", "System error creating temporary file"};
inline constexpr Msg XKP_MSG_NO_FILES{"CerXkp0003N", "You have not selected any files"};
inline constexpr Msg XKP_MSG_ONE_PROGRESS{"CerXkp0009N",
                                          "You can only show one progress display at one time."};
inline constexpr Msg XKP_MSG_NO_SELECTIONS{"CerXkp0010N", "You have not made any selections"};
inline constexpr Msg XKP_MSG_ALTPATH_TEMP{
    "CerXkp0101N",
    "A temporary file is needed to establish alternate pathnames,\nbut the system is unable to "
    "access the temporary file directories."};
inline constexpr Msg XKP_MSG_NO_LOG{
    "CerXkp0301N",
    "Insufficient permission to create log file.\nOperation will proceed without logging."};
inline constexpr Msg XKP_MSG_NO_SERVER_CONNECT{
    "CerXkp0302N",
    "Could not connect to server.  Check services file\nand contact your system administrator "
    "to see if\nthe kprd daemon on the server is accessible."};
inline constexpr Msg XKP_MSG_NO_SERVER{
    "CerXkp1001N", "Could not determine server in the master configuration file"};
inline constexpr Msg XKP_MSG_TEMP_DENIED{
    "CerXkp1003N",
    "The system does not permit creation of temporary file %s.\nThe error number is %d and the "
    "error text is:\n%s"};
inline constexpr Msg XKP_MSG_NO_MATCH{
    "CerXkp1005N",
    "Could not find any files that match the date range,\ndirectory pathname, directory depth "
    "limit,\nfilename filter, and keyword phrase."};
inline constexpr Msg XKP_MSG_NOT_EXECUTABLE{
    "CerXkp1006N",
    "The following command cannot be executed.\n  Ask your system administrator to\n  verify "
    "the install and permits.\n\n%s\n"};
inline constexpr Msg XKP_MSG_TOO_LONG{
    "CerXkp1018N",
    "The command is %d bytes long; a command may have at most 1535.\nShorten the keyword or the "
    "log file name and press OK again."};
inline constexpr Msg XKP_MSG_SYSCALL{"CerXkp1007N",
                                     "A system call has failed with error number %d:\n\n%s"};
