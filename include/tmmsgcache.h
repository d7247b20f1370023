// The message cache behind tmgetmsg: one locale record per common locale
// name, one file record per product directory and prefix opened in a locale,
// and one message record per key and locale, indexed by an AVL tree.
//
// A catalog file is read at most once per process for each locale, product
// directory and prefix; every entry of the requested prefix is cached in the
// same pass, and keys the catalog lacks are remembered as misses.
#pragma once

#include <string>

// The decoded catalog text for key in the common locale, or null (no locale,
// key not 11 characters long, no catalog text). The text stays valid until
// destroyLocaleList.
const char *getLocalMsgFmt(const char *locale, const char *key);

// Frees the whole cache: the index with every message record, any open
// stream, the file and locale records. Registered to run at exit when the
// first locale record is made; a later lookup starts a fresh cache (tests
// call it after changing the catalog on disk).
void destroyLocaleList();

// Decodes the escapes of a catalog text in place, walking it as multibyte
// characters of the current character-type locale: \b \f \n \r \t \v, a
// backslash before any other character gives that character, a backslash
// ending the text is dropped. Bytes of a multibyte character are never taken
// as a backslash.
void decodeEscapes(std::string &text);

// Catalog directory of a product letter for message files ("sorvane" for
// 'N'); null for a letter without one.
const char *msg_product_dir(char letter);
// Catalog directory of a product letter for label files; never null.
const char *lbl_product_dir(char letter);
