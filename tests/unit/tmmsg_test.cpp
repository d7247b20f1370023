// The message catalog against catalogs written for each test: lookup rules,
// escapes, long lines, remembered misses, labels, status texts, formatting,
// and the locale names with their alias file.

#include <gtest/gtest.h>

#include "temp_root.h"
#include "tmmsg.h"
#include "tmmsg_tar.h"
#include "tmmsgcache.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

namespace {

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
    char label[TM_NAME_SIZE], mnemonic[TM_NAME_SIZE];
    EXPECT_EQ(tmgetlbl(key, locale, deflabel, defmnemonic, label, mnemonic), 0) << key;
    return std::string(label) + "|" + mnemonic;
}

// A product root of its own for each test, with a fresh cache and label table.
class Tmmsg : public ::testing::Test {
  protected:
    Tmmsg() { forget(); }
    ~Tmmsg() override { forget(); }
    static void forget() {
        destroyLocaleList();
        tmlbl_forget();
    }
    std::string no_alias_file() const {
        return "**WARNING** Locale definition file <" + root_.path() +
               "/msg/.conf> not found.  Using defaults";
    }
    std::string not_in_alias_file(const std::string &name) const {
        return "**LOCALE ERROR** locale <" + name + "> not found in file <" + root_.path() +
               "/msg/.conf>";
    }
    TempRoot root_;
};

} // namespace

TEST_F(Tmmsg, LookupRules) {
    root_.write(
        "C/sorvane/CerMsgs",
        "# a comment line\nCerXkp0004N \"first\"\nCerXkp0004N \"second\"\n"
        "CerXkp000 \"short key line\"\nCerXkp00066N \"long key line\"\n"
        "CerXkp0007X \"other product letter\"\nCerXkp0009N \"\nCerXkp0010N no quotes at all\n"
        "CerXkp0008N \"text with \"inner\" quotes\" trailing\n");
    root_.write("C/carrel/CerMsgs", "CerXkp0004V \"carrel text\"\n");
    // locale, key, text
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"C", "CerXkp0004N", "second"}, // the later of two lines wins
        {"C", "CerXkp0006", none},      // 10 characters
        {"C", "CerXkp0004NX", none},    // 12 characters
        {"C", "CerXkp0007N", none},     // only under another product letter
        {"C", "CerXkp0008N", "text with \"inner\" quotes"},
        {"C", "CerXkp0009N", ""}, // the only quote opens the text: empty
        {"C", "CerXkp0010N", ""}, // no closing quote: empty
        {"C", "CerXkp0004V", "carrel text"},
        {"C", "CerXkp0004n", none}, // product letters are upper case
        {"C", "CerXkp0004Q", none}, // a letter without a product directory
        {"", "CerXkp0004N", none},
        {nullptr, "CerXkp0004N", none},
        {"C", nullptr, none},
        {"fr_FR", "CerXkp0004N", none}, // no such locale directory
    };
    for (const auto &[locale, key, want] : cases) {
        EXPECT_EQ(msg(locale, key), want) << (locale ? locale : none) << " " << (key ? key : none);
    }
}

TEST_F(Tmmsg, Escapes) {
    // catalog text, decoded
    const std::pair<const char *, const char *> cases[] = {{R"(two\nlines)", "two\nlines"},
                                                           {R"(a\\b)", "a\\b"},
                                                           {R"(lone backslash\)", "lone backslash"},
                                                           {R"(\b\f\n\r\t\v)", "\b\f\n\r\t\v"},
                                                           {R"(\q\"\%)", "q\"%"},
                                                           {"", ""}};
    auto key = [](size_t i) { return "CerEsc000" + std::to_string(i) + "N"; };
    std::string file;
    for (size_t i = 0; i < std::size(cases); ++i) {
        file += key(i) + " \"" + cases[i].first + "\"\n";
    }
    root_.write("C/sorvane/CerMsgs", file);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(msg("C", key(i).c_str()), cases[i].second) << cases[i].first;
    }
    // In Shift_JIS the second byte of some characters is 0x5C ('\'); in a
    // UTF-8 locale the bytes of a valid character pass through unchanged, and
    // an invalid byte is taken as one character with the escape after it
    // still working.
    const std::string saved = setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::string s = "\xE2\x82\xAC\\t\xF0\x9F\x98\x80\xFF\\n";
    decodeEscapes(s);
    EXPECT_EQ(s, "\xE2\x82\xAC\t\xF0\x9F\x98\x80\xFF\n");
    setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(Tmmsg, FilesAreReadOnceAndMissesRemembered) {
    root_.write("C/sorvane/CerMsgs", "CerXkp0001N \"one\"\n");
    auto all = [] {
        std::string got;
        for (const char *key : {"CerXkp0001N", "CerXkp0002N", "PrgXkp0001N"}) {
            got += msg("C", key) + ",";
        }
        return got + msg("de", "CerXkp0001N") + "," + msg("C", "CerXkp0001N");
    };
    EXPECT_EQ(all(), "one,(null),(null),(null),one");
    // Change the files on disk: the cache neither rereads a file, searches
    // again for a missing key, nor tries a prefix file or a locale directory
    // that did not exist.
    root_.write("C/sorvane/CerMsgs", "CerXkp0001N \"uno\"\nCerXkp0002N \"dos\"\n");
    root_.write("C/sorvane/PrgMsgs", "PrgXkp0001N \"late\"\n");
    root_.write("de/sorvane/CerMsgs", "CerXkp0001N \"eins\"\n");
    EXPECT_EQ(all(), "one,(null),(null),(null),one");
    // After the teardown a fresh cache reads the new files, each locale its own.
    destroyLocaleList();
    EXPECT_EQ(all(), "uno,dos,late,eins,uno");
}

TEST_F(Tmmsg, FormattingWithCatalogTexts) {
    root_.write("C/sorvane/CerMsgs",
                "CerFmt0001N \"%d files in %s\"\nCerFmt0002N \"wrong arguments %s %s\"\n"
                "CerFmt0003N \"writes memory %n\"\nCerFmt0004N \"%2$s holds %1$d files\"\n"
                "CerFmt0005N \"catalog: cannot open %s: %%s\"\nCerFmt0006N \"cut short %\"\n"
                "CerFmt0007N \"100%% done\"\n");
    // Other arguments, a %n (never taken from a catalog) or a conversion cut
    // short: the built-in text.
    std::string got;
    for (const char *key :
         {"CerFmt0001N", "CerFmt0002N", "CerFmt0003N", "CerFmt0004N", "CerFmt0006N"}) {
        got += fmt(key, "%d in %s", 7, "/home") + ",";
    }
    EXPECT_EQ(got, "7 files in /home,7 in /home,7 in /home,/home holds 7 files,7 in /home,");
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

TEST_F(Tmmsg, TmgetmsgContract) {
    char buf[32] = "untouched";
    errno = EXDEV;
    EXPECT_EQ(tmgetmsg("CerXkp0001N", nullptr, sizeof buf, buf, nullptr, 0, nullptr, "x"), -1);
    EXPECT_STREQ(buf, "untouched");
    EXPECT_EQ(tmgetmsg("CerXkp0001N", "C", sizeof buf, nullptr, nullptr, 0, nullptr, "x"), -1);
    EXPECT_EQ(tmgetmsg("CerXkp0001N", "C", sizeof buf, buf, nullptr, 0, nullptr, "%s-%d", "ab", 5),
              0);
    EXPECT_STREQ(buf, "ab-5");
    EXPECT_EQ(errno, EXDEV); // errno comes back as it went in
    // A null default format is an empty text, not a crash.
    EXPECT_EQ(fmt("CerXkp0001N", nullptr), "");
    // The second locale gets the same message, same arguments.
    destroyLocaleList(); // forget the misses remembered above
    root_.write("C/sorvane/CerMsgs", "CerXkp0001N \"%d english\"\n");
    root_.write("de/sorvane/CerMsgs", "CerXkp0001N \"%d deutsch\"\n");
    char second[32];
    tmgetmsg("CerXkp0001N", "C", sizeof buf, buf, "de", sizeof second, second, "%d default", 3);
    EXPECT_STREQ(buf, "3 english");
    EXPECT_STREQ(second, "3 deutsch");
}

TEST_F(Tmmsg, Labels) {
    // The first line of a key wins.
    root_.write(
        "C/sorvane/GuiLbls",
        "# comment \"GuiXkp0001N\"\nGuiXkp0001N \"Datei\" \"D\"\nGuiXkp0001N \"Second\" \"S\"\n"
        "GuiXkp0002N \"No mnemonic\" \"\"\nGuiXkp0003N \"Only a label\"\n"
        "GuiXkp0004N \"Unclosed label\nGuiXkp0005N\nGuiXkp0006N \"Multi\" \"xyz\"\n");
    root_.write("C/carrel/GuiLbls", "GuiXkp0001V \"carrel\" \"c\"\n");
    // Then the defaults: not in the file, keys of 10 and 12 characters, only
    // "Gui" has labels, and the table came from the sorvane file and serves
    // every product letter.
    std::string got;
    for (const char *key :
         {"GuiXkp0001N", "GuiXkp0002N", "GuiXkp0003N", "GuiXkp0004N", "GuiXkp0005N", "GuiXkp0006N",
          "GuiXkp0007N", "GuiXkp001N", "GuiXkp0001NX", "CerXkp0001N", "GuiXkp0001X"}) {
        got += lbl(key, "C") + ",";
    }
    EXPECT_EQ(got, "Datei|D,No mnemonic|,Only a label|,Unclosed label|,|,Multi|xyz,"
                   "def|d,def|d,def|d,def|d,def|d,");
    // A locale without a label file keeps the defaults; null defaults are
    // empty texts.
    EXPECT_EQ(lbl("GuiXkp0001N", "fr", "File", "F"), "File|F");
    EXPECT_EQ(lbl("GuiXkp0099N", "C", nullptr, nullptr), "|");
}

TEST_F(Tmmsg, LabelTableIsLoadedOnceFromTheFirstFileThatOpensAndHoldsAThousandEntries) {
    root_.write("C/sorvane/GuiLbls", "GuiXkp0001N \"english\" \"e\"\n");
    root_.write("de/sorvane/GuiLbls",
                "GuiXkp0001N \"deutsch\" \"d\"\nGuiXkp0002N \"zwei\" \"z\"\n");
    EXPECT_EQ(lbl("GuiXkp0001N", "C", "x", ""), "english|e");
    EXPECT_EQ(lbl("GuiXkp0001N", "de", "x", ""), "english|e");
    EXPECT_EQ(lbl("GuiXkp0002N", "de", "x", ""), "x|");
    tmlbl_forget();
    EXPECT_EQ(lbl("GuiXkp0002N", "de", "x", ""), "zwei|z");
    std::string text;
    for (int i = 0; i < 1005; ++i) {
        text += "GuiTab" + std::to_string(1000 + i) + "N \"" + std::to_string(i) + "\"\n";
    }
    // A long label and mnemonic are cut to the callers' buffers.
    root_.write("C/sorvane/GuiLbls", "GuiXkp0001N \"" + std::string(5000, 'L') + "\" \"" +
                                         std::string(3000, 'M') + "\"\n" + text);
    tmlbl_forget();
    EXPECT_EQ(lbl("GuiXkp0001N", "C", "", ""),
              std::string(TM_NAME_SIZE - 1, 'L') + "|" + std::string(TM_NAME_SIZE - 1, 'M'));
    EXPECT_EQ(lbl("GuiTab1998N", "C", "none", ""), "998|");
    EXPECT_EQ(lbl("GuiTab1999N", "C", "none", ""), "none|"); // found the table full: dropped
}

// Both ends of both tables, the kinds of filler and the codes outside them.
TEST(StatusTexts, TableAndRange) {
    const std::pair<int, const char *> cases[] = {
        {0, "the requested operation was successfully completed"},
        {255, "unimplemented error code 255"},
        {256, "logic error encountered"},
        {264, "<unused error code>"},
        {278, "unimplemented error code"},
        {310, "invalid configuration for duplication to disk"},
        {311, "invalid error number"},
        {-1, "invalid error number"},
    };
    for (const auto &[code, want] : cases) {
        EXPECT_STREQ(getECmsgl(code, nullptr), want) << code;
    }
    // Every code has a text without conversions (it is used as a format), and
    // every filler names its own code.
    const std::string filler = "unimplemented error code";
    for (int code = 0; code <= TM_MAX_STATUS; ++code) {
        const std::string t = getECmsgl(code, nullptr);
        EXPECT_TRUE(!t.empty() && t.find('%') == std::string::npos) << code;
        const bool numbered = t.rfind(filler, 0) == 0 && t.size() > filler.size();
        EXPECT_TRUE(!numbered || t == filler + " " + std::to_string(code)) << t;
    }
}

TEST_F(Tmmsg, LocalizedStatusTexts) {
    root_.write("C/sorvane/NecMsgs", "NecErr0096N \"no storage left\"\nNecErr0025N \"%s\"\n");
    EXPECT_STREQ(getECmsgl(96, "C"), "no storage left");
    EXPECT_STREQ(getECmsgl(97, "C"), errmsgstr[97]);
    // A catalog text that would want an argument is not used.
    EXPECT_STREQ(getECmsgl(25, "C"), "cannot connect on socket");
    EXPECT_STREQ(getECmsgl(300, "C"), ext_errmsgstr[300 - 256]);
}

TEST(AliasLine, Parsing) {
    // Refused: a length that disagrees with the name, a name that runs past
    // the end, a missing name, a bad, zero or overlong length, another kind,
    // nothing. The rest of the length word is skipped.
    std::string got;
    for (const char *line :
         {"TL 1 C hh:mn:ss mm/dd/yyyy\n", "TM 7 C.UTF-8 1 C\n", "TM\t7\tC.UTF-8\t1\tC",
          "TM 07x C.UTF-8 1 C", "TM 5 en_US.UTF-8 1 C", "TM 11 de_DE.UTF-8 20 de", "TM 7 C.UTF-8",
          "TL x C", "TL 0 C", "TL 99999999999999999999 C", "TX 1 C", ""}) {
        TmAliasLine a;
        got += tm_parse_alias(line, &a) ? std::string(1, a.kind) + "|" + std::string(a.name1) +
                                              "|" + std::string(a.name2) + ","
                                        : "-,";
    }
    EXPECT_EQ(got, "L|C|,M|C.UTF-8|C,M|C.UTF-8|C,M|C.UTF-8|C,-,-,-,-,-,-,-,-,");
}

TEST_F(Tmmsg, PlatformToCommonNames) {
    // A length that disagrees with the name, the first matching line
    // deciding, and a line whose tail is cut off.
    root_.write(".conf", "# comment\nTL 1 C hh:mn:ss mm/dd/yyyy\nTL 5 ja_JP hh:mn:ss yyyy/mm/dd\n"
                         "TM 7 C.UTF-8 1 C\nTM 5 en_US.UTF-8 1 X\nTM 11 en_US.UTF-8 5 en_US\n"
                         "TM 11 en_US.UTF-8 5 other\nTM 3 de_ 2 xx\n" +
                             std::string(95, ' ') + "TM 5 ab_CD 1 C\n");
    // name, common name (null: refused)
    const std::pair<const char *, const char *> cases[] = {
        {"C.UTF-8", "C"},          {"ja_JP", "ja_JP"}, {"en_US.UTF-8", "en_US"},
        {"en_US", nullptr},        {"de_", "xx"},      {"de_DE", nullptr},
        {"ab_CD", nullptr},        // its line starts inside another piece
        {"/C/C/C/C/C/C", nullptr}, // reduces to "C/C/C/C/C/C", not in the file
        {"//ja_JP/7/", "ja_JP"},   {"", nullptr},
    };
    for (const auto &[name, want] : cases) {
        const char *result = nullptr;
        EXPECT_EQ(real2commonlocale(name, &result), want != nullptr ? 0 : -1) << name;
        EXPECT_EQ(std::string(result != nullptr ? result : none),
                  want != nullptr ? want : not_in_alias_file(name));
    }
}

TEST_F(Tmmsg, CommonToPlatformNames) {
    // Only C, C.utf8 and POSIX are sure to exist on every machine.
    root_.write(".conf", "TM 6 no_SUCH 6 common\nTM 7 C.UTF-8 6 common\nTM 6 no_SUCH 4 none\n");
    // The first accepted platform name, else C.
    std::string got;
    for (const char *common :
         {"C", "POSIX", "common", "none", "unknown", "", static_cast<const char *>(nullptr)}) {
        got += std::string(common2reallocale(common)) + ",";
    }
    EXPECT_EQ(got, "C,POSIX,C.UTF-8,C,C,C,C,");
    // Probing leaves the time category as it was.
    EXPECT_STREQ(setlocale(LC_TIME, nullptr), "C");
}

namespace {

// tmgetlocale's answer, with the locale variables as given (null: unset), as
// "rc messages ctype time | status"; errno comes back 0.
std::string locale_names(const char *lang, const char *all, const char *messages, const char *time,
                         const char *ctype) {
    ScopedEnv e1("LANG", lang), e2("LC_ALL", all), e3("LC_MESSAGES", messages), e4("LC_TIME", time),
        e5("LC_CTYPE", ctype), e6("LC_COLLATE", nullptr), e7("LC_NUMERIC", nullptr);
    char m[TM_NAME_SIZE], c[TM_NAME_SIZE], t[TM_NAME_SIZE], col[TM_NAME_SIZE], num[TM_NAME_SIZE];
    const char *status = nullptr;
    errno = EINVAL;
    const int rc = tmgetlocale(m, c, t, col, num, &status);
    EXPECT_EQ(errno, 0);
    setlocale(LC_ALL, "C");
    return std::to_string(rc) + " " + m + " " + c + " " + t + " | " + (status ? status : none);
}

} // namespace

TEST_F(Tmmsg, LocaleDeterminationFromTheEnvironment) {
    // Without an alias file the names fall back to C with a warning.
    EXPECT_EQ(locale_names("C.UTF-8", nullptr, nullptr, nullptr, nullptr),
              "-1 C C C | " + no_alias_file());
    root_.write(".conf", "TL 1 C hh:mn:ss mm/dd/yyyy\nTL 11 de_DE.UTF-8 hh:mn:ss dd.mm.yyyy\n"
                         "TM 7 C.UTF-8 1 C\nTM 6 C.utf8 1 C\nTM 5 POSIX 1 C\n");
    const char *const de = "de_DE.UTF-8";
    // LANG, LC_ALL, LC_MESSAGES, LC_TIME, LC_CTYPE, "rc messages ctype time".
    // de_DE.UTF-8 need not be installed: a refused name is still taken from
    // LC_ALL or the category's own variable.
    const char *const cases[][6] = {
        {"C.UTF-8", nullptr, nullptr, nullptr, nullptr, "0 C C C"},
        {nullptr, nullptr, nullptr, nullptr, nullptr, "0 C C C"},
        {"C.UTF-8", "", nullptr, nullptr, nullptr, "0 C C C"}, // empty counts as unset
        {"C.UTF-8", de, nullptr, nullptr, nullptr, "0 de_DE.UTF-8 de_DE.UTF-8 de_DE.UTF-8"},
        {"C.UTF-8", nullptr, de, nullptr, nullptr, "0 de_DE.UTF-8 C C"},
        {"C.UTF-8", nullptr, nullptr, nullptr, de, "0 C de_DE.UTF-8 C"},
        {"C.UTF-8", nullptr, nullptr, "xx_YY.UTF-8", nullptr, "-1 C C C"},
    };
    for (const auto &c : cases) {
        const std::string status =
            c[5][0] == '0' ? "tm getlocale Completed Successfully" : not_in_alias_file(c[3]);
        EXPECT_EQ(locale_names(c[0], c[1], c[2], c[3], c[4]), c[5] + (" | " + status));
    }
}
