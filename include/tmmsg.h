// The message catalog and locale names.
//
// Every text the client shows has an 11-character message key ("CerXkp1001N":
// group prefix, message id, product letter) and a built-in English text at the
// call site. These functions return the installed catalog's text for the key in
// a locale when there is one and the built-in text otherwise, determine the
// locale names of the five locale categories once at start-up, translate
// between the platform's locale names and the catalog's common names (through
// the alias file msg/.conf below the product root), and give the status texts
// of the command programs.
//
// The catalog lives below product_path("msg"): LOCALE/PRODUCT/PREFIXMsgs for
// messages, LOCALE/PRODUCT/GuiLbls for labels. Nothing here reports to the
// user: a missing catalog, file, key or locale silently gives the built-in text.
//
// Single-threaded. Texts returned point into static storage that the next call
// of the same function overwrites.
#pragma once

#include <cstddef>

constexpr size_t TM_KEY_LEN = 11;
constexpr size_t TM_NAME_SIZE = 1536;           // locale, label and mnemonic buffers of the callers
constexpr size_t TM_STATUS_SIZE = 2048;         // tmgetlocale's status text
constexpr size_t TM_FORMAT_SIZE = 32769;        // intermediate buffer of the "%%s" mode
constexpr size_t TM_LOCALIZED_EC_SIZE = 2049;   // localized status text
constexpr int TM_MAX_STATUS = 310;              // status codes 0..310 have texts
constexpr size_t TM_LABEL_TABLE_ENTRIES = 1000; // capacity of the label table

// ---- tmmsg_tar: locale names and message formatting ----

// Fills the five buffers (each REQUIRES at least TM_NAME_SIZE bytes) with the
// common locale names of the message, character-type, time, collation and
// numeric categories, taken from the environment; sets the locale categories
// time, collation, numeric and messages from the environment as a side effect.
// *status (when status is not null) receives a status text. Returns 0, or -1
// when a name could not be mapped (that category is then "C").
int tmgetlocale(char *lcmsg, char *lctype, char *lctime, char *lccol, char *lcnum,
                const char **status);

// Formats the message for key into buf (at most size bytes with the
// terminator) from the catalog text in locale or, failing that, from deffmt,
// with the variable arguments. A catalog text is used only when it takes the
// same arguments as deffmt. When deffmt contains "%%s", the first variable
// argument is an int system error number whose text replaces that "%s" in the
// formatted result. When locale2 and buf2 are both given, the message is
// formatted once more for locale2 into buf2 (size2 bytes). Returns -1 and
// does nothing when locale or buf is null; else 0. errno is preserved.
int tmgetmsg(const char *key, const char *locale, size_t size, char *buf, const char *locale2,
             size_t size2, char *buf2, const char *deffmt, ...);

// A message of the catalog: its key and its built-in text (the default
// format), one value so that a key always travels with its own text.
struct Msg {
    const char *key;
    const char *text;
};

// tmgetmsg of one message in one locale: the catalog text of msg.key, or
// msg.text, formatted with args.
template <class... Args>
int tmgetmsg(const Msg &msg, const char *locale, size_t size, char *buf, Args... args) {
    return tmgetmsg(msg.key, locale, size, buf, nullptr, 0, nullptr, msg.text, args...);
}

// Platform locale name to common name: 0 with *result the common name, or -1
// with *result the failure text. *result points into static storage.
int real2commonlocale(const char *real, const char **result);

// Common name to a platform locale name the system accepts (static storage;
// may be the input itself or "C"). Never fails.
const char *common2reallocale(const char *common);

// ---- tmmsg: labels and status texts ----

// Copies deflabel and defmnemonic (null taken as "") into label and mnemonic
// (each REQUIRES TM_NAME_SIZE bytes), then replaces them with the label
// file's entry for key in locale when there is one. Always returns 0.
int tmgetlbl(const char *key, const char *locale, const char *deflabel, const char *defmnemonic,
             char *label, char *mnemonic);

// The text of a command program's status code: the built-in text without a
// locale, the catalog's "NecErr%.4dN" text (falling back to the built-in one)
// with a locale; "invalid error number" for codes outside 0..310.
const char *getECmsgl(int code, const char *locale);

// The built-in status texts: errmsgstr for codes 0..255, ext_errmsgstr for
// 256 and up (the last two entries empty).
extern const char *const errmsgstr[256];
extern const char *const ext_errmsgstr[57];

// Drops the loaded label table so that the next tmgetlbl loads a label file
// afresh. The program never calls it (the table lives for the whole run);
// tests and fuzzers that change the catalog on disk do.
void tmlbl_forget();
