// The message cache: locale records, message-file records and message records
// indexed by (key, common locale name) in an AVL tree.

#include "tmmsgcache.h"

#include "avl.h"
#include "c_owners.h"
#include "tmmsg.h"
#include "xkp_root.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>

namespace {

// One catalog file (product directory + prefix) of one locale.
struct MsgFile {
    std::unique_ptr<MsgFile> next;
    std::string proddir;
    std::string filename; // prefix + "Msgs"
    FilePtr stream;       // open only while the file is being scanned
    bool done = false;    // could not be opened, or scanned to its end
};

// One common locale name that has been looked up.
struct LocaleRec {
    std::unique_ptr<LocaleRec> next;
    std::string common;
    std::optional<std::string> real; // platform name, when the locale has a directory
    std::optional<std::string> dir;  // msg root + "/" + common, when it is a directory
    std::unique_ptr<MsgFile> files;
};

// One key in one locale; text absent for a key the catalog does not have.
struct MsgRec {
    char key[TM_KEY_LEN + 1] = {};
    const char *locale = nullptr; // the locale record's common name
    std::optional<std::string> text;
    long pos = -1;  // byte position of the raw text in its file
    size_t len = 0; // byte length of the raw text
};

std::unique_ptr<LocaleRec> cmnLocales;
AVLtreePtr msgCache;
bool teardown_registered = false;

// Ordered by key, then by common locale name, both byte-wise.
int msgCmp(const void *a, const void *b) {
    const auto *x = static_cast<const MsgRec *>(a);
    const auto *y = static_cast<const MsgRec *>(b);
    int c = memcmp(x->key, y->key, TM_KEY_LEN);
    if (c != 0) {
        return c;
    }
    return strcmp(x->locale, y->locale);
}

void destroyMsg(void *item) {
    std::unique_ptr<MsgRec> owned(static_cast<MsgRec *>(item));
}

// Sets the character-type category for the life of the object and puts the
// previous one back afterwards; a name the platform refuses changes nothing.
class CtypeScope {
  public:
    explicit CtypeScope(const char *name) {
        if (name == nullptr) {
            return;
        }
        const char *cur = setlocale(LC_CTYPE, nullptr);
        saved_ = cur != nullptr ? cur : "C";
        active_ = setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CtypeScope() {
        if (active_) {
            setlocale(LC_CTYPE, saved_.c_str());
        }
    }
    CtypeScope(const CtypeScope &) = delete;
    CtypeScope &operator=(const CtypeScope &) = delete;

  private:
    std::string saved_;
    bool active_ = false;
};

bool is_directory(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

LocaleRec *find_locale(const char *name) {
    for (LocaleRec *l = cmnLocales.get(); l != nullptr; l = l->next.get()) {
        if (l->common == name) {
            return l;
        }
    }
    return nullptr;
}

LocaleRec *create_locale(const char *name) {
    if (!msgCache) {
        msgCache.reset(AVLopen(msgCmp, destroyMsg));
        if (!msgCache) {
            return nullptr;
        }
        if (!teardown_registered) {
            teardown_registered = atexit(destroyLocaleList) == 0;
        }
    }
    std::unique_ptr<LocaleRec> rec(new (std::nothrow) LocaleRec);
    if (!rec) {
        return nullptr;
    }
    rec->common = name;
    std::string dir = product_path("msg") + "/" + name;
    if (is_directory(dir)) {
        rec->dir = std::move(dir);
        rec->real = common2reallocale(name);
    }
    rec->next = std::move(cmnLocales);
    cmnLocales = std::move(rec);
    return cmnLocales.get();
}

// Caches one record; text (already decoded or absent) is moved in. An equal
// record already in the index takes the new text and the new record is
// dropped. Returns the record in the index, or null when memory ran out.
MsgRec *cacheMsg(LocaleRec *loc, const char *key, std::optional<std::string> text, long pos,
                 size_t len) {
    std::unique_ptr<MsgRec> rec(new (std::nothrow) MsgRec);
    if (!rec) {
        return nullptr;
    }
    memcpy(rec->key, key, TM_KEY_LEN);
    rec->key[TM_KEY_LEN] = '\0';
    rec->locale = loc->common.c_str();
    rec->text = std::move(text);
    rec->pos = pos;
    rec->len = len;
    void *got = AVLinsert(msgCache.get(), rec.get());
    if (got == nullptr) {
        return nullptr;
    }
    if (got != rec.get()) {
        auto *existing = static_cast<MsgRec *>(got);
        existing->text = std::move(rec->text);
        existing->pos = rec->pos;
        existing->len = rec->len;
        return existing;
    }
    return rec.release();
}

// Reads the file to its end, caching every entry of the requested key's
// prefix and product letter; returns the record of the requested key.
//
// Lines are read whole, however long: a long catalog line is one entry, and
// the tail of a long comment line is never mistaken for an entry.
MsgRec *scanMsgFile(LocaleRec *loc, MsgFile *file, const char *key) {
    CtypeScope ctype(loc->real ? loc->real->c_str() : nullptr);
    FILE *in = file->stream.get();
    MsgRec *result = nullptr;
    char *raw = nullptr;
    size_t cap = 0;
    // Line positions are counted rather than asked for: ftell costs a system
    // call per line.
    long next = ftell(in);
    for (;;) {
        long start = next;
        ssize_t n = getline(&raw, &cap, in);
        if (n < 0) {
            break;
        }
        next += n;
        std::string_view line(raw, static_cast<size_t>(n));
        if (line[0] == '#' || line.size() < TM_KEY_LEN || memcmp(raw, key, 3) != 0 ||
            line[TM_KEY_LEN - 1] != key[TM_KEY_LEN - 1]) {
            continue;
        }
        // The text runs from column 14 up to the last double quote; a line
        // whose last quote comes before that has an empty text.
        size_t quote = line.rfind('"');
        std::string text;
        if (quote != std::string_view::npos && quote > 13) {
            text.assign(line.substr(13, quote - 13));
        }
        size_t rawlen = text.size();
        decodeEscapes(text);
        MsgRec *rec = cacheMsg(loc, raw, std::move(text), start + 13, rawlen);
        if (result == nullptr && rec != nullptr && memcmp(raw + 3, key + 3, 7) == 0) {
            result = rec;
        }
    }
    std::unique_ptr<char, FreeDeleter> release(raw);
    file->stream.reset();
    file->done = true;
    return result;
}

} // namespace

const char *msg_product_dir(char letter) {
    switch (letter) {
    case 'N':
        return "sorvane";
    case 'V':
        return "carrel";
    case 'H':
        return "strata";
    case 'X':
        return "xplume";
    default:
        return nullptr;
    }
}

const char *lbl_product_dir(char letter) {
    switch (letter) {
    case 'V':
    case 'v':
        return "carrel";
    case 'H':
    case 'h':
        return "strata";
    default:
        return "sorvane";
    }
}

void decodeEscapes(std::string &text) {
    const size_t n = text.size();
    const bool single_byte = MB_CUR_MAX == 1;
    mbstate_t state{};
    // Length of the character at i: 1 for a single byte or an invalid sequence.
    auto char_len = [&](size_t i) -> size_t {
        if (single_byte) {
            return 1;
        }
        size_t k = mbrlen(text.data() + i, n - i, &state);
        if (k == 0 || k == static_cast<size_t>(-1) || k == static_cast<size_t>(-2)) {
            state = mbstate_t{};
            return 1;
        }
        return k;
    };
    size_t in = 0;
    size_t out = 0;
    while (in < n) {
        size_t k = char_len(in);
        if (k > 1 || text[in] != '\\') {
            memmove(&text[out], &text[in], k);
            in += k;
            out += k;
            continue;
        }
        ++in; // the backslash
        if (in >= n) {
            break; // a backslash ending the text is dropped
        }
        char mapped = 0;
        switch (text[in]) {
        case 'b':
            mapped = '\b';
            break;
        case 'f':
            mapped = '\f';
            break;
        case 'n':
            mapped = '\n';
            break;
        case 'r':
            mapped = '\r';
            break;
        case 't':
            mapped = '\t';
            break;
        case 'v':
            mapped = '\v';
            break;
        default:
            break;
        }
        if (mapped != 0) {
            text[out++] = mapped;
            ++in;
            continue;
        }
        size_t c = char_len(in);
        memmove(&text[out], &text[in], c);
        in += c;
        out += c;
    }
    text.resize(out);
}

const char *getLocalMsgFmt(const char *locale, const char *key) {
    if (locale == nullptr || *locale == '\0' || key == nullptr || strlen(key) != TM_KEY_LEN) {
        return nullptr;
    }
    if (msgCache) {
        MsgRec probe;
        memcpy(probe.key, key, TM_KEY_LEN + 1);
        probe.locale = locale;
        if (auto *rec = static_cast<MsgRec *>(AVLretrieve(msgCache.get(), &probe))) {
            return rec->text ? rec->text->c_str() : nullptr;
        }
    }
    LocaleRec *loc = find_locale(locale);
    if (loc == nullptr) {
        loc = create_locale(locale);
        if (loc == nullptr) {
            return nullptr;
        }
    }

    const char *proddir = msg_product_dir(key[TM_KEY_LEN - 1]);
    std::string filename(key, 3);
    filename += "Msgs";
    MsgFile *file = nullptr;
    if (proddir != nullptr) {
        for (MsgFile *f = loc->files.get(); f != nullptr; f = f->next.get()) {
            if (f->proddir == proddir && f->filename == filename) {
                file = f;
                break;
            }
        }
    }

    MsgRec *found = nullptr;
    if (file == nullptr && loc->dir && proddir != nullptr) {
        std::unique_ptr<MsgFile> rec(new (std::nothrow) MsgFile);
        if (rec) {
            rec->proddir = proddir;
            rec->filename = filename;
            std::string path = *loc->dir + "/" + proddir + "/" + filename;
            rec->stream.reset(fopen(path.c_str(), "r"));
            rec->done = !rec->stream;
            rec->next = std::move(loc->files);
            loc->files = std::move(rec);
            if (loc->files->stream) {
                found = scanMsgFile(loc, loc->files.get(), key);
            }
        }
    }
    if (found == nullptr) {
        // Remember the miss so that the same key never searches again.
        found = cacheMsg(loc, key, std::nullopt, -1, 0);
    }
    return found != nullptr && found->text ? found->text->c_str() : nullptr;
}

void destroyLocaleList() {
    msgCache.reset();
    // Unlink iteratively: the lists are short, but keep destruction flat.
    while (cmnLocales) {
        std::unique_ptr<LocaleRec> loc = std::move(cmnLocales);
        cmnLocales = std::move(loc->next);
        while (loc->files) {
            std::unique_ptr<MsgFile> f = std::move(loc->files);
            loc->files = std::move(f->next);
        }
    }
}
