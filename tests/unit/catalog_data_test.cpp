// The installed catalog (staged below XKP_ROOT): the C locale holds every
// message and label of the client with exactly its built-in English text, the
// status texts match the built-in table, the German catalog is a real second
// locale, and the alias file maps the usual platform names.

#include <gtest/gtest.h>

#include "msgdefaults.h"
#include "tmmsg.h"
#include "tmmsg_tar.h"
#include "tmmsgcache.h"
#include "xkp_root.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char *const kGerman = "de_DE.UTF-8";

// The keys of the entry lines of a catalog file (comments skipped).
std::vector<std::string> file_keys(const std::string &rel) {
    std::ifstream in(product_path(("msg/" + rel).c_str()));
    std::vector<std::string> keys;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') {
            keys.push_back(line.substr(0, TM_KEY_LEN));
        }
    }
    return keys;
}

// The printf conversions of a format, in order ("%d", "%s" ...).
// A conversion runs from "%" over non-letters to its first letter; "%%" is
// a literal percent sign.
std::vector<std::string> conversions(const std::string &fmt) {
    std::vector<std::string> out;
    for (size_t p = fmt.find('%'); p != std::string::npos; p = fmt.find('%', p)) {
        if (p + 1 < fmt.size() && fmt[p + 1] == '%') {
            p += 2;
            continue;
        }
        size_t e = p + 1;
        while (e < fmt.size() && !isalpha(static_cast<unsigned char>(fmt[e]))) {
            ++e;
        }
        if (e < fmt.size()) {
            ++e;
        }
        out.push_back(fmt.substr(p, e - p));
        p = e;
    }
    return out;
}

// The label of key as "label|mnemonic", or "-" when the locale has none.
std::string label_of(const char *key, const char *locale) {
    char label[TM_NAME_SIZE], mnemonic[TM_NAME_SIZE];
    tmgetlbl(key, locale, "\x01", "", label, mnemonic);
    return strcmp(label, "\x01") == 0 ? "-" : std::string(label) + "|" + mnemonic;
}

class InstalledCatalog : public ::testing::Test {
  protected:
    InstalledCatalog() {
        destroyLocaleList();
        tmlbl_forget();
    }
};

} // namespace

TEST_F(InstalledCatalog, EveryMessageLabelAndStatusTextHasItsEnglishText) {
    ASSERT_FALSE(message_defaults().empty());
    std::set<std::string> known;
    for (const MsgDefault &m : message_defaults()) {
        EXPECT_TRUE(known.insert(m.key).second) << "duplicate default for " << m.key;
        const char *text = getLocalMsgFmt("C", m.key);
        ASSERT_NE(text, nullptr) << m.key << " is missing from the C catalog";
        EXPECT_STREQ(text, m.text) << m.key;
    }
    std::vector<std::string> keys = file_keys("C/sorvane/CerMsgs");
    EXPECT_EQ(keys.size(), known.size());
    for (const std::string &k : keys) {
        EXPECT_TRUE(known.count(k)) << k << " is in the catalog but has no built-in text";
    }
    known.clear();
    for (const LabelDefault &l : label_defaults()) {
        known.insert(l.key);
        // A label file cannot hold a line break: the built-in text stands.
        const bool one_line = strchr(l.label, '\n') == nullptr;
        EXPECT_EQ(label_of(l.key, "C"), one_line ? std::string(l.label) + "|" + l.mnemonic : "-")
            << l.key;
        EXPECT_LE(strlen(l.mnemonic), 1u) << l.key;
    }
    for (const std::string &k : file_keys("C/sorvane/GuiLbls")) {
        EXPECT_TRUE(known.count(k)) << k << " is in the label file but has no built-in text";
    }
    for (int code = 0; code <= TM_MAX_STATUS; ++code) {
        char key[16];
        snprintf(key, sizeof key, "NecErr%.4dN", code);
        const char *text = getLocalMsgFmt("C", key);
        ASSERT_NE(text, nullptr) << key;
        EXPECT_STREQ(text, getECmsgl(code, nullptr)) << key;
    }
    EXPECT_EQ(file_keys("C/sorvane/NecMsgs").size(), static_cast<size_t>(TM_MAX_STATUS + 1));
}

TEST_F(InstalledCatalog, GermanMessagesTakeTheEnglishArguments) {
    std::vector<std::string> keys = file_keys(std::string(kGerman) + "/sorvane/CerMsgs");
    ASSERT_GE(keys.size(), 20u);
    for (const std::string &k : keys) {
        const char *english = default_message(k.c_str());
        const char *german = getLocalMsgFmt(kGerman, k.c_str());
        ASSERT_TRUE(english != nullptr && german != nullptr) << k;
        EXPECT_STRNE(german, english) << k;
        EXPECT_EQ(conversions(german), conversions(english)) << k;
    }
    // Formatting in the German locale really uses the German text.
    char buf[TM_NAME_SIZE];
    tmgetmsg("CerXkp1003N", kGerman, sizeof buf, buf, nullptr, 0, nullptr,
             default_message("CerXkp1003N"), "/tmp/xkpA", 28, "No space left on device");
    EXPECT_STREQ(buf, "Das System erlaubt das Anlegen der temporären Datei /tmp/xkpA nicht.\n"
                      "Die Fehlernummer ist 28, der Fehlertext lautet:\n"
                      "No space left on device");
    EXPECT_STREQ(getECmsgl(227, kGerman), "nichts gefunden");
    EXPECT_STREQ(getECmsgl(226, kGerman), "the entity already exists"); // untranslated: English
}

TEST_F(InstalledCatalog, GermanLabelsOfTheMainWindow) {
    std::string got;
    for (const char *key : {"GuiXkp0047N", "GuiXkp0052N", "GuiXkp0016N", "GuiXkp0053N"}) {
        got += label_of(key, kGerman) + ",";
    }
    EXPECT_EQ(got, "Datei|D,Hilfe|H,Beenden|B,Zu durchsuchendes Verzeichnis|,");
    // Every German label belongs to a known key, and every main-window label
    // (keys 0001 to 0064) is translated with a mnemonic taken from its label.
    std::set<std::string> german;
    for (const std::string &k : file_keys(std::string(kGerman) + "/sorvane/GuiLbls")) {
        EXPECT_NE(default_label(k.c_str()), nullptr) << k;
        german.insert(k);
    }
    for (const LabelDefault &l : label_defaults()) {
        if (const int n = atoi(l.key + 6); n < 1 || n > 64) {
            continue;
        }
        ASSERT_TRUE(german.count(l.key)) << l.key << " has no German label";
        const std::string got = label_of(l.key, kGerman);
        const size_t bar = got.find('|');
        EXPECT_EQ(got.size() == bar + 1, l.mnemonic[0] == '\0') << l.key;
        EXPECT_NE(got.substr(0, bar).find(got.substr(bar + 1)), std::string::npos) << l.key;
    }
}

TEST_F(InstalledCatalog, AliasFileMapsThePlatformNames) {
    std::string got;
    for (const char *platform : {"C", "POSIX", "C.UTF-8", "C.utf8", "en_US", "en_US.UTF-8",
                                 "en_US.utf8", "de_DE.UTF-8", "de_DE.utf8", "xx_XX.UTF-8"}) {
        const char *result = nullptr;
        const int rc = real2commonlocale(platform, &result);
        got += std::to_string(rc) + " " + (rc == 0 ? result : "?") + ",";
    }
    EXPECT_EQ(got, "0 C,0 C,0 C,0 C,0 C,0 C,0 C,0 de_DE.UTF-8,0 de_DE.UTF-8,-1 ?,");
    // Every common name has its own TL line and a catalog directory; whether
    // its definition reads is TimefuncsInstalled's to check.
    std::ifstream in(tm_alias_path());
    ASSERT_TRUE(in);
    std::map<std::string, std::string> definitions;
    std::set<std::string> commons;
    for (std::string line; std::getline(in, line);) {
        ASSERT_LE(line.size(), TM_ALIAS_PIECE) << line;
        TmAliasLine a;
        if (!tm_parse_alias(line, &a)) {
            EXPECT_TRUE(line.empty() || line[0] == '#') << "unreadable line: " << line;
            continue;
        }
        commons.insert(std::string(a.kind == 'L' ? a.name1 : a.name2));
        if (a.kind == 'L') {
            definitions[std::string(a.name1)] = line.substr(a.rest);
        }
    }
    for (const std::string &c : commons) {
        EXPECT_TRUE(definitions.count(c)) << c << " has no TL line";
        EXPECT_NE(getLocalMsgFmt(c.c_str(), "CerXkp0003N"), nullptr) << c << " has no catalog";
    }
    EXPECT_NE(definitions["de_DE.UTF-8"].find("dd.mm.yyyy"), std::string::npos);
}
