// The built-in English texts of every catalog message and label the client
// uses, keyed as in the catalog. Call sites keep their own literal defaults;
// this table is the one list they and the installed C-locale catalog are
// checked against, and the place to find a key's text.
#pragma once

#include "tmmsg.h"

#include <span>

// A key and its text (printf format, as passed to tmgetmsg).
using MsgDefault = Msg;

struct LabelDefault {
    const char *key;
    const char *label;
    const char *mnemonic; // "" when the widget has none
};

std::span<const MsgDefault> message_defaults();
std::span<const LabelDefault> label_defaults();

// The default of one key, or null when the key is not in the table.
const char *default_message(const char *key);
const LabelDefault *default_label(const char *key);
