// The message catalog against catalogs written for each test: lookup rules,
// escapes, long lines, remembered misses, labels, status texts, formatting,
// and the locale names with their alias file.

#include <gtest/gtest.h>

#include "tmmsg.h"
#include "tmmsg_tar.h"
#include "tmmsgcache.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

const char *const none = "(null)"; // no catalog text

// The catalog text of key in locale, or "(null)".
std::string msg(const char *locale, const char *key) {
    const char *s = getLocalMsgFmt(locale, key);
    return s != nullptr ? s : none;
}

// tmgetmsg into a buffer of TM_NAME_SIZE bytes in the C locale.
template <typename... Args> std::string fmt(const char *key, const char *deffmt, Args... args) {
    char buf[TM_NAME_SIZE];
    tmgetmsg(key, "C", sizeof buf, buf, nullptr, 0, nullptr, deffmt, args...);
    return buf;
}

// The label and the mnemonic of key as "label|mnemonic".
std::string lbl(const char *key, const char *locale, const char *deflabel = "def",
                const char *defmnemonic = "d") {
    char label[TM_NAME_SIZE];
    char mnemonic[TM_NAME_SIZE];
    EXPECT_EQ(tmgetlbl(key, locale, deflabel, defmnemonic, label, mnemonic), 0) << key;
    return std::string(label) + "|" + mnemonic;
}

// A product root of its own for each test, with a fresh cache and label table.
class TempRoot : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tmmsg_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        env_.emplace("XKP_ROOT", root_.c_str());
        destroyLocaleList();
        tmlbl_forget();
    }
    void TearDown() override {
        destroyLocaleList();
        tmlbl_forget();
        env_.reset();
        fs::remove_all(root_);
    }
    // Writes msg/REL below the root.
    void write(const std::string &rel, const std::string &text) {
        fs::path p = fs::path(root_) / "msg" / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    std::string no_alias_file() const {
        return "**WARNING** Locale definition file <" + root_ +
               "/msg/.conf> not found.  Using defaults";
    }
    std::string not_in_alias_file(const std::string &name) const {
        return "**LOCALE ERROR** locale <" + name + "> not found in file <" + root_ + "/msg/.conf>";
    }
    std::string root_;
    std::optional<ScopedEnv> env_;
};

} // namespace

TEST_F(TempRoot, NoCatalogGivesBuiltInTexts) {
    EXPECT_EQ(msg("C", "CerXkp1001N"), none);
    EXPECT_EQ(fmt("CerXkp1001N", "built-in"), "built-in");
    EXPECT_EQ(lbl("GuiXkp0047N", "C", "File", "F"), "File|F");
    EXPECT_STREQ(getECmsgl(96, "C"), errmsgstr[96]);

    const char *result = nullptr;
    EXPECT_EQ(real2commonlocale("C", &result), 0);
    EXPECT_STREQ(result, "C");
    EXPECT_EQ(real2commonlocale("C.UTF-8", &result), -1);
    EXPECT_EQ(std::string(result), no_alias_file());
    // Without an alias file a common name goes back unchanged.
    EXPECT_STREQ(common2reallocale("xx_YY"), "xx_YY");
}

TEST_F(TempRoot, LookupRules) {
    write("C/sorvane/CerMsgs", "# a comment line\n"
                               "CerXkp0004N \"first\"\n"
                               "CerXkp0005N \"five\"\n"
                               "CerXkp0004N \"second\"\n"
                               "CerXkp000 \"short key line\"\n"
                               "CerXkp00066N \"long key line\"\n"
                               "CerXkp0007X \"other product letter\"\n"
                               "CerXkp0008N \"text with \"inner\" quotes\" trailing\n"
                               "CerXkp0009N \"\n"
                               "CerXkp0010N no quotes at all\n");
    write("C/carrel/CerMsgs", "CerXkp0004V \"carrel text\"\n");
    write("C/xplume/CerMsgs", "CerXkp0004X \"xplume text\"\n");
    // locale, key, text
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"C", "CerXkp0004N", "second"}, // the later of two lines wins
        {"C", "CerXkp0005N", "five"},
        {"C", "CerXkp000", none},    // 9 characters
        {"C", "CerXkp0006", none},   // 10 characters
        {"C", "CerXkp00066N", none}, // 12 characters
        {"C", "CerXkp0007N", none},  // only under another product letter
        {"C", "CerXkp0008N", "text with \"inner\" quotes"},
        {"C", "CerXkp0009N", ""}, // the only quote opens the text: empty
        {"C", "CerXkp0010N", ""}, // no closing quote: empty
        {"C", "CerXkp0004V", "carrel text"},
        {"C", "CerXkp0004X", "xplume text"},
        {"C", "CerXkp0004n", none}, // product letters are upper case
        {"C", "CerXkp0004Q", none}, // a letter without a product directory
        {"C", "CerXkp0099N", none},
        {"", "CerXkp0004N", none},
        {nullptr, "CerXkp0004N", none},
        {"C", nullptr, none},
        {"fr_FR", "CerXkp0004N", none}, // no such locale directory
    };
    for (const auto &[locale, key, want] : cases) {
        EXPECT_EQ(msg(locale, key), want) << (locale ? locale : none) << " " << (key ? key : none);
    }
}

TEST_F(TempRoot, Escapes) {
    // catalog text, decoded
    const std::pair<const char *, const char *> cases[] = {
        {R"(two\nlines)", "two\nlines"},
        {R"(a\\b)", "a\\b"},
        {R"(ends in a lone backslash\)", "ends in a lone backslash"},
        {R"(\b\f\n\r\t\v)", "\b\f\n\r\t\v"},
        {R"(\q\"\%)", "q\"%"},
        {R"(\\n is not a newline)", "\\n is not a newline"},
        {"caf\xC3\xA9\\n", "caf\xC3\xA9\n"},
        {"", ""},
    };
    auto key = [](size_t i) { return "CerEsc000" + std::to_string(i) + "N"; };
    std::string file;
    for (size_t i = 0; i < std::size(cases); ++i) {
        file += key(i) + " \"" + cases[i].first + "\"\n";
    }
    write("C/sorvane/CerMsgs", file);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(msg("C", key(i).c_str()), cases[i].second) << cases[i].first;
    }
}

TEST(DecodeEscapes, MultibyteTrailByteIsNotABackslash) {
    // In Shift_JIS the second byte of some characters is 0x5C ('\'); in a
    // UTF-8 or single-byte locale every byte stands alone. Whatever the
    // locale, the bytes of a valid UTF-8 character pass through unchanged.
    const char *old = setlocale(LC_CTYPE, nullptr);
    std::string saved = old != nullptr ? old : "C";
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::string s = "\xE2\x82\xAC\\t\xF0\x9F\x98\x80";
    decodeEscapes(s);
    EXPECT_EQ(s, "\xE2\x82\xAC\t\xF0\x9F\x98\x80");
    // An invalid byte is taken as one character and the escape after it still works.
    std::string bad = "\xFF\\n";
    decodeEscapes(bad);
    EXPECT_EQ(bad, "\xFF\n");
    setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(TempRoot, LongLinesAreWhole) {
    std::string big(20000, 'x');
    big[10000] = '"'; // an inner quote in the middle: only the last closes
    std::string huge(70000, 'y');
    write("C/sorvane/CerMsgs", "# " + std::string(9000, '#') + "CerXkp0001N \"from a comment\"\n" +
                                   "CerXkp0002N \"" + big + "\"\n" + "CerXkp0003N \"" + huge +
                                   "\\n\"\n" + "CerXkp0004N \"after\"\n");
    EXPECT_EQ(msg("C", "CerXkp0002N"), big);
    EXPECT_EQ(msg("C", "CerXkp0003N"), huge + "\n");
    EXPECT_EQ(msg("C", "CerXkp0004N"), "after");
    // The tail of a long comment line is not an entry.
    EXPECT_EQ(msg("C", "CerXkp0001N"), none);
    // tmgetmsg cuts to the caller's buffer, always terminated.
    char small[100];
    tmgetmsg("CerXkp0002N", "C", sizeof small, small, nullptr, 0, nullptr, "x");
    EXPECT_EQ(std::string(small), big.substr(0, 99));
}

TEST_F(TempRoot, FilesAreReadOnceAndMissesRemembered) {
    write("C/sorvane/CerMsgs", "CerXkp0001N \"one\"\n");
    EXPECT_EQ(msg("C", "CerXkp0001N"), "one");
    EXPECT_EQ(msg("C", "CerXkp0002N"), none);
    // Change the file on disk: the cache neither rereads it nor searches again.
    write("C/sorvane/CerMsgs", "CerXkp0001N \"uno\"\nCerXkp0002N \"dos\"\n");
    EXPECT_EQ(msg("C", "CerXkp0001N"), "one");
    EXPECT_EQ(msg("C", "CerXkp0002N"), none);
    // A prefix whose file did not exist is not tried again either.
    EXPECT_EQ(msg("C", "PrgXkp0001N"), none);
    write("C/sorvane/PrgMsgs", "PrgXkp0001N \"late\"\n");
    EXPECT_EQ(msg("C", "PrgXkp0001N"), none);
    // A locale directory that did not exist stays absent.
    EXPECT_EQ(msg("de", "CerXkp0001N"), none);
    write("de/sorvane/CerMsgs", "CerXkp0001N \"eins\"\n");
    EXPECT_EQ(msg("de", "CerXkp0001N"), none);
    // After the teardown a fresh cache reads the new files, each locale its own.
    destroyLocaleList();
    EXPECT_EQ(msg("C", "CerXkp0001N"), "uno");
    EXPECT_EQ(msg("C", "CerXkp0002N"), "dos");
    EXPECT_EQ(msg("C", "PrgXkp0001N"), "late");
    EXPECT_EQ(msg("de", "CerXkp0001N"), "eins");
    EXPECT_EQ(msg("C", "CerXkp0001N"), "uno");
    EXPECT_EQ(msg("de", "CerXkp0001N"), "eins");
}

TEST_F(TempRoot, FormattingWithCatalogTexts) {
    write("C/sorvane/CerMsgs", "CerFmt0001N \"%d files in %s\"\n"
                               "CerFmt0002N \"wrong arguments %s %s\"\n"
                               "CerFmt0003N \"writes memory %n\"\n"
                               "CerFmt0004N \"%2$s holds %1$d files\"\n"
                               "CerFmt0005N \"catalog: cannot open %s: %%s\"\n"
                               "CerFmt0006N \"cut short %\"\n"
                               "CerFmt0007N \"100%% done\"\n");
    const std::pair<const char *, const char *> cases[] = {
        {"CerFmt0001N", "7 files in /home"},
        {"CerFmt0002N", "7 in /home"}, // other arguments: built-in text
        {"CerFmt0003N", "7 in /home"}, // %n is never taken from a catalog
        {"CerFmt0004N", "/home holds 7 files"},
        {"CerFmt0006N", "7 in /home"},
        {"CerFmt0099N", "7 in /home"},
    };
    for (const auto &[key, want] : cases) {
        EXPECT_EQ(fmt(key, "%d in %s", 7, "/home"), want) << key;
    }
    EXPECT_EQ(fmt("CerFmt0007N", "all done"), "100% done");

    // The "%%s" mode: the first argument is a system error number.
    const std::string enoent = strerror(ENOENT), eacces = strerror(EACCES);
    EXPECT_EQ(fmt("CerFmt0005N", "open %s: %%s", ENOENT, "/etc/x"),
              "catalog: cannot open /etc/x: " + enoent);
    EXPECT_EQ(fmt("CerFmt0099N", "open %s: %%s", EACCES, "/etc/x"), "open /etc/x: " + eacces);
    // A literal percent before a conversion is not the error mark.
    EXPECT_EQ(fmt("CerFmt0099N", "%d%%%s: %%s (%s)", EPERM, 5, "x", "tail"),
              std::string("5%x: ") + strerror(EPERM) + " (tail)");
    // A "%" that arrives through an argument is shown, not taken as a conversion.
    EXPECT_EQ(fmt("CerFmt0099N", "open %s: %%s", EACCES, "/tmp/%s%n%d"),
              "open /tmp/%s%n%d: " + eacces);
}

TEST_F(TempRoot, TmgetmsgContract) {
    char buf[32] = "untouched";
    errno = EXDEV;
    EXPECT_EQ(tmgetmsg("CerXkp0001N", nullptr, sizeof buf, buf, nullptr, 0, nullptr, "x"), -1);
    EXPECT_STREQ(buf, "untouched");
    EXPECT_EQ(tmgetmsg("CerXkp0001N", "C", sizeof buf, nullptr, nullptr, 0, nullptr, "x"), -1);
    EXPECT_EQ(tmgetmsg("CerXkp0001N", "C", sizeof buf, buf, nullptr, 0, nullptr, "%s-%d", "ab", 5),
              0);
    EXPECT_STREQ(buf, "ab-5");
    EXPECT_EQ(errno, EXDEV); // errno comes back as it went in

    char tiny[5];
    tmgetmsg("CerXkp0001N", "C", sizeof tiny, tiny, nullptr, 0, nullptr, "%s", "abcdefgh");
    EXPECT_STREQ(tiny, "abcd");
    // A null default format is an empty text, not a crash.
    EXPECT_EQ(fmt("CerXkp0001N", nullptr), "");

    // The second locale gets the same message, same arguments.
    destroyLocaleList(); // forget the misses remembered above
    write("C/sorvane/CerMsgs", "CerXkp0001N \"%d english\"\n");
    write("de/sorvane/CerMsgs", "CerXkp0001N \"%d deutsch\"\n");
    char second[32];
    tmgetmsg("CerXkp0001N", "C", sizeof buf, buf, "de", sizeof second, second, "%d default", 3);
    EXPECT_STREQ(buf, "3 english");
    EXPECT_STREQ(second, "3 deutsch");
}

TEST_F(TempRoot, Labels) {
    write("C/sorvane/GuiLbls", "# comment \"GuiXkp0001N\"\n"
                               "GuiXkp0001N \"Datei\" \"D\"\n"
                               "GuiXkp0001N \"Second\" \"S\"\n" // the first line of a key wins
                               "GuiXkp0002N \"No mnemonic\" \"\"\n"
                               "GuiXkp0003N \"Only a label\"\n"
                               "GuiXkp0004N \"Unclosed label\n"
                               "GuiXkp0005N\n"
                               "GuiXkp0006N \"Multi\" \"xyz\"\n");
    write("C/carrel/GuiLbls", "GuiXkp0001V \"carrel\" \"c\"\n");
    // key, label|mnemonic
    const std::pair<const char *, const char *> cases[] = {
        {"GuiXkp0001N", "Datei|D"},
        {"GuiXkp0002N", "No mnemonic|"},
        {"GuiXkp0003N", "Only a label|"},
        {"GuiXkp0004N", "Unclosed label|"},
        {"GuiXkp0005N", "|"},
        {"GuiXkp0006N", "Multi|xyz"},
        {"GuiXkp0007N", "def|d"},  // not in the file: defaults
        {"GuiXkp001N", "def|d"},   // 10 characters
        {"GuiXkp00011N", "def|d"}, // 12 characters
        {"CerXkp0001N", "def|d"},  // only "Gui" has labels
        // The table came from the sorvane file and serves every product letter.
        {"GuiXkp0001X", "def|d"},
    };
    for (const auto &[key, want] : cases) {
        EXPECT_EQ(lbl(key, "C"), want) << key;
    }
    // A locale without a label file keeps the defaults; null defaults are
    // empty texts.
    EXPECT_EQ(lbl("GuiXkp0001N", "fr", "File", "F"), "File|F");
    EXPECT_EQ(lbl("GuiXkp0099N", "C", nullptr, nullptr), "|");
}

TEST_F(TempRoot, LabelTableIsLoadedOnceFromTheFirstFileThatOpens) {
    write("C/sorvane/GuiLbls", "GuiXkp0001N \"english\" \"e\"\n");
    write("de/sorvane/GuiLbls", "GuiXkp0001N \"deutsch\" \"d\"\nGuiXkp0002N \"zwei\" \"z\"\n");
    EXPECT_EQ(lbl("GuiXkp0001N", "C", "x", ""), "english|e");
    EXPECT_EQ(lbl("GuiXkp0001N", "de", "x", ""), "english|e");
    EXPECT_EQ(lbl("GuiXkp0002N", "de", "x", ""), "x|");
    tmlbl_forget();
    EXPECT_EQ(lbl("GuiXkp0002N", "de", "x", ""), "zwei|z");
}

TEST_F(TempRoot, LabelTableHoldsAThousandEntries) {
    std::string text;
    for (int i = 0; i < 1005; ++i) {
        char line[64];
        snprintf(line, sizeof line, "GuiTab%04dN \"label %d\" \"\"\n", i, i);
        text += line;
    }
    write("C/sorvane/GuiLbls", text);
    EXPECT_EQ(lbl("GuiTab0000N", "C", "none", ""), "label 0|");
    EXPECT_EQ(lbl("GuiTab0999N", "C", "none", ""), "label 999|");
    EXPECT_EQ(lbl("GuiTab1000N", "C", "none", ""), "none|"); // found the table full: dropped
}

TEST_F(TempRoot, LongLabelsAreCutToTheBuffer) {
    write("C/sorvane/GuiLbls",
          "GuiXkp0001N \"" + std::string(5000, 'L') + "\" \"" + std::string(3000, 'M') + "\"\n");
    EXPECT_EQ(lbl("GuiXkp0001N", "C", "", ""),
              std::string(TM_NAME_SIZE - 1, 'L') + "|" + std::string(TM_NAME_SIZE - 1, 'M'));
}

// Both ends of both tables, fillers and the codes outside them.
TEST(StatusTexts, TableAndRange) {
    const std::pair<int, const char *> cases[] = {
        {0, "the requested operation was successfully completed"},
        {79, "unimplemented error code 79"},
        {96, "unable to allocate new media for backup, storage unit has none available"},
        {119, "unimplemented error code 119"},
        {254, "server name not found in the kp.conf file"},
        {255, "unimplemented error code 255"},
        {256, "logic error encountered"},
        {264, "<unused error code>"},
        {278, "unimplemented error code"},
        {310, "invalid configuration for duplication to disk"},
        {311, "invalid error number"},
        {-1, "invalid error number"},
        {100000, "invalid error number"},
    };
    for (const auto &[code, want] : cases) {
        EXPECT_STREQ(getECmsgl(code, nullptr), want) << code;
    }
    // Every code has a text without conversions (it is used as a format), and
    // every filler names its own code.
    for (int code = 0; code <= TM_MAX_STATUS; ++code) {
        const char *t = getECmsgl(code, nullptr);
        ASSERT_NE(t, nullptr);
        EXPECT_GT(strlen(t), 0u) << code;
        EXPECT_EQ(strchr(t, '%'), nullptr) << code;
        std::string filler = "unimplemented error code";
        if (std::string(t).rfind(filler, 0) == 0 && strlen(t) > filler.size()) {
            EXPECT_EQ(std::string(t), filler + " " + std::to_string(code));
        }
    }
}

TEST_F(TempRoot, LocalizedStatusTexts) {
    write("C/sorvane/NecMsgs", "NecErr0096N \"no storage left\"\nNecErr0025N \"%s\"\n");
    EXPECT_STREQ(getECmsgl(96, "C"), "no storage left");
    EXPECT_STREQ(getECmsgl(96, nullptr), errmsgstr[96]);
    EXPECT_STREQ(getECmsgl(97, "C"), errmsgstr[97]);
    // A catalog text that would want an argument is not used.
    EXPECT_STREQ(getECmsgl(25, "C"), "cannot connect on socket");
    EXPECT_STREQ(getECmsgl(300, "C"), ext_errmsgstr[300 - 256]);
    EXPECT_STREQ(getECmsgl(311, "C"), "invalid error number");
}

TEST(AliasLine, Parsing) {
    // line, "kind|name1|name2" or "-"
    const std::pair<const char *, const char *> cases[] = {
        {"TL 1 C hh:mn:ss mm/dd/yyyy\n", "L|C|"},
        {"TM 7 C.UTF-8 1 C\n", "M|C.UTF-8|C"},
        {"TM\t7\tC.UTF-8\t1\tC", "M|C.UTF-8|C"},
        {"TM 07x C.UTF-8 1 C", "M|C.UTF-8|C"}, // rest of the length word skipped
        {"TM 5 en_US.UTF-8 1 C", "-"},         // a length that disagrees with the name
        {"TM 11 de_DE.UTF-8 2 de", "M|de_DE.UTF-8|de"},
        {"TM 11 de_DE.UTF-8 20 de", "-"}, // runs past the end
        {"TM 7 C.UTF-8", "-"},
        {"TL x C", "-"},
        {"TL 0 C", "-"},
        {"TL 99999999999999999999 C", "-"},
        {"TX 1 C", "-"},
        {"# TL 1 C", "-"},
        {"TL", "-"},
        {"", "-"},
    };
    for (const auto &[line, want] : cases) {
        TmAliasLine out;
        const std::string got = tm_parse_alias(line, &out)
                                    ? std::string(1, out.kind) + "|" + std::string(out.name1) +
                                          "|" + std::string(out.name2)
                                    : "-";
        EXPECT_EQ(got, want) << line;
    }
}

TEST_F(TempRoot, PlatformToCommonNames) {
    write(".conf", "# comment\n"
                   "TL 1 C hh:mn:ss mm/dd/yyyy\n"
                   "TL 5 ja_JP hh:mn:ss yyyy/mm/dd\n"
                   "TM 7 C.UTF-8 1 C\n"
                   "TM 5 POSIX 1 C\n"
                   "TM 5 en_US.UTF-8 1 X\n" // length disagrees with the name
                   "TM 11 en_US.UTF-8 5 en_US\n"
                   "TM 11 en_US.UTF-8 5 other\n" // the first matching line decides
                   "TM 3 de_ 2 xx\n" +
                       std::string(95, ' ') + "TM 5 ab_CD 1 C\n" // the tail of a cut line
    );
    // name, common name (null: refused)
    const std::pair<const char *, const char *> cases[] = {
        {"C", "C"},
        {"C.UTF-8", "C"},
        {"POSIX", "C"},
        {"ja_JP", "ja_JP"},
        {"en_US.UTF-8", "en_US"},
        {"en_US", nullptr},
        {"de_", "xx"},
        {"de_DE", nullptr},
        {"ab_CD", nullptr},        // its line starts inside another piece
        {"/C/C/C/C/C/C", nullptr}, // reduces to "C/C/C/C/C/C", not in the file
        {"/C/", "C"},
        {"//ja_JP/7/", "ja_JP"},
        {"", nullptr},
    };
    for (const auto &[name, want] : cases) {
        const char *result = nullptr;
        EXPECT_EQ(real2commonlocale(name, &result), want != nullptr ? 0 : -1) << name;
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(std::string(result), want != nullptr ? want : not_in_alias_file(name)) << name;
    }
}

TEST_F(TempRoot, CommonToPlatformNames) {
    // Only C, C.utf8 and POSIX are sure to exist on every machine.
    write(".conf", "TM 6 no_SUCH 6 common\n"
                   "TM 7 C.UTF-8 6 common\n"
                   "TM 6 no_SUCH 4 none\n");
    EXPECT_STREQ(common2reallocale("C"), "C");
    EXPECT_STREQ(common2reallocale("POSIX"), "POSIX");
    EXPECT_STREQ(common2reallocale("common"), "C.UTF-8"); // first accepted platform name
    EXPECT_STREQ(common2reallocale("none"), "C");         // no accepted platform name
    EXPECT_STREQ(common2reallocale("unknown"), "C");
    EXPECT_STREQ(common2reallocale(""), "C");
    EXPECT_STREQ(common2reallocale(nullptr), "C");
    // Probing leaves the time category as it was.
    const char *t = setlocale(LC_TIME, nullptr);
    EXPECT_STREQ(t, "C");
}

namespace {

struct Names {
    int rc;
    std::string status, msg, ctype, time, col, num;
};

Names run_tmgetlocale() {
    char msg[TM_NAME_SIZE], ctype[TM_NAME_SIZE], time[TM_NAME_SIZE], col[TM_NAME_SIZE],
        num[TM_NAME_SIZE];
    const char *status = nullptr;
    errno = EINVAL;
    int rc = tmgetlocale(msg, ctype, time, col, num, &status);
    Names n{rc, status != nullptr ? status : "(null)", msg, ctype, time, col, num};
    EXPECT_EQ(errno, 0);
    setlocale(LC_ALL, "C");
    return n;
}

} // namespace

TEST_F(TempRoot, LocaleDeterminationFromTheEnvironment) {
    {
        // Without an alias file the names fall back to C with a warning.
        ScopedEnv e1("LANG", "C.UTF-8"), e2("LC_ALL", nullptr), e3("LC_MESSAGES", nullptr),
            e4("LC_TIME", nullptr), e5("LC_CTYPE", nullptr);
        Names n = run_tmgetlocale();
        EXPECT_EQ(n.rc, -1);
        EXPECT_EQ(n.msg, "C");
        EXPECT_EQ(n.time, "C");
        EXPECT_EQ(n.status, no_alias_file());
    }
    write(".conf", "TL 1 C hh:mn:ss mm/dd/yyyy\n"
                   "TL 11 de_DE.UTF-8 hh:mn:ss dd.mm.yyyy\n"
                   "TM 7 C.UTF-8 1 C\n"
                   "TM 6 C.utf8 1 C\n"
                   "TM 5 POSIX 1 C\n");
    const char *ok = "tm getlocale Completed Successfully";
    struct Case {
        const char *name;
        const char *lang, *lc_all, *lc_messages, *lc_time, *lc_ctype;
        int rc;
        const char *msg, *ctype, *time;
    } cases[] = {
        {"LANG C.UTF-8", "C.UTF-8", nullptr, nullptr, nullptr, nullptr, 0, "C", "C", "C"},
        {"nothing set", nullptr, nullptr, nullptr, nullptr, nullptr, 0, "C", "C", "C"},
        {"empty LC_ALL counts as unset", "C.UTF-8", "", nullptr, nullptr, nullptr, 0, "C", "C",
         "C"},
        // de_DE.UTF-8 need not be installed: a refused name is still taken
        // from LC_ALL or the category's own variable.
        {"LC_ALL german", "C.UTF-8", "de_DE.UTF-8", nullptr, nullptr, nullptr, 0, "de_DE.UTF-8",
         "de_DE.UTF-8", "de_DE.UTF-8"},
        {"LC_MESSAGES german", "C.UTF-8", nullptr, "de_DE.UTF-8", nullptr, nullptr, 0,
         "de_DE.UTF-8", "C", "C"},
        {"LC_CTYPE german", "C.UTF-8", nullptr, nullptr, nullptr, "de_DE.UTF-8", 0, "C",
         "de_DE.UTF-8", "C"},
        {"LC_TIME unmapped", "C.UTF-8", nullptr, nullptr, "xx_YY.UTF-8", nullptr, -1, "C", "C",
         "C"},
    };
    for (const auto &c : cases) {
        ScopedEnv e1("LANG", c.lang), e2("LC_ALL", c.lc_all), e3("LC_MESSAGES", c.lc_messages),
            e4("LC_TIME", c.lc_time), e5("LC_CTYPE", c.lc_ctype), e6("LC_COLLATE", nullptr),
            e7("LC_NUMERIC", nullptr);
        Names n = run_tmgetlocale();
        EXPECT_EQ(n.rc, c.rc) << c.name;
        EXPECT_EQ(n.msg, c.msg) << c.name;
        EXPECT_EQ(n.ctype, c.ctype) << c.name;
        EXPECT_EQ(n.time, c.time) << c.name;
        if (c.rc == 0) {
            EXPECT_EQ(n.status, ok) << c.name;
        } else {
            EXPECT_EQ(n.status, not_in_alias_file(c.lc_time)) << c.name;
        }
    }
}
