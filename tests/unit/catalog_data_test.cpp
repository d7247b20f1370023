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

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const kGerman = "de_DE.UTF-8";

// The keys of the entry lines of a catalog file (comments skipped).
std::vector<std::string> file_keys(const std::string &rel) {
    std::ifstream in(product_path(("msg/" + rel).c_str()));
    std::vector<std::string> keys;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#') {
            keys.push_back(line.substr(0, TM_KEY_LEN));
        }
    }
    return keys;
}

// The printf conversions of a format, in order ("%d", "%s" ...).
std::vector<std::string> conversions(const std::string &fmt) {
    static const std::regex conv("%%|%[^A-Za-z]*[A-Za-z]?");
    std::vector<std::string> out;
    for (std::sregex_iterator it(fmt.begin(), fmt.end(), conv), end; it != end; ++it) {
        if (it->str() != "%%") {
            out.push_back(it->str());
        }
    }
    return out;
}

// Whether the rest of a TL line is a time format and a date format of three
// fields each.
bool is_date_definition(const std::string &rest) {
    std::istringstream in(rest);
    std::string time, date, extra;
    if (!(in >> time >> date) || in >> extra) {
        return false;
    }
    auto has = [](const std::string &s, const char *code) { return s.find(code) != s.npos; };
    return (has(time, "hh") || has(time, "HH")) && has(time, "mn") && has(time, "ss") &&
           has(date, "dd") && has(date, "mm") && has(date, "yy");
}

struct Label {
    std::string label;
    std::string mnemonic;
    bool found;
};

Label lookup_label(const char *key, const char *locale) {
    char label[TM_NAME_SIZE];
    char mnemonic[TM_NAME_SIZE];
    tmgetlbl(key, locale, "\x01", "\x02", label, mnemonic);
    bool found = strcmp(label, "\x01") != 0;
    return {label, mnemonic, found};
}

class InstalledCatalog : public ::testing::Test {
  protected:
    void SetUp() override {
        destroyLocaleList();
        tmlbl_forget();
    }
    void TearDown() override { tmlbl_forget(); }
};

} // namespace

TEST_F(InstalledCatalog, EveryMessageHasItsEnglishText) {
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
}

TEST_F(InstalledCatalog, EveryLabelHasItsEnglishText) {
    std::set<std::string> known;
    for (const LabelDefault &l : label_defaults()) {
        known.insert(l.key);
        Label got = lookup_label(l.key, "C");
        if (strchr(l.label, '\n') != nullptr) {
            // A label file cannot hold a line break: the built-in text stands.
            EXPECT_FALSE(got.found) << l.key;
            continue;
        }
        ASSERT_TRUE(got.found) << l.key << " is missing from the C label file";
        EXPECT_EQ(got.label, l.label) << l.key;
        EXPECT_EQ(got.mnemonic, l.mnemonic) << l.key;
        EXPECT_LE(strlen(l.mnemonic), 1u) << l.key;
    }
    for (const std::string &k : file_keys("C/sorvane/GuiLbls")) {
        EXPECT_TRUE(known.count(k)) << k << " is in the label file but has no built-in text";
    }
}

TEST_F(InstalledCatalog, StatusTextsMatchTheBuiltInTable) {
    for (int code = 0; code <= TM_MAX_STATUS; ++code) {
        char key[16];
        snprintf(key, sizeof key, "NecErr%.4dN", code);
        const char *text = getLocalMsgFmt("C", key);
        ASSERT_NE(text, nullptr) << key;
        EXPECT_STREQ(text, getECmsgl(code, nullptr)) << key;
        EXPECT_STREQ(getECmsgl(code, "C"), getECmsgl(code, nullptr)) << key;
    }
    EXPECT_EQ(file_keys("C/sorvane/NecMsgs").size(), static_cast<size_t>(TM_MAX_STATUS + 1));
}

TEST_F(InstalledCatalog, GermanMessagesTakeTheEnglishArguments) {
    std::vector<std::string> keys = file_keys(std::string(kGerman) + "/sorvane/CerMsgs");
    ASSERT_GE(keys.size(), 20u);
    for (const std::string &k : keys) {
        const char *english = default_message(k.c_str());
        ASSERT_NE(english, nullptr) << k;
        const char *german = getLocalMsgFmt(kGerman, k.c_str());
        ASSERT_NE(german, nullptr) << k;
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
    tmgetmsg("CerXkp0003N", kGerman, sizeof buf, buf, nullptr, 0, nullptr,
             default_message("CerXkp0003N"));
    EXPECT_STREQ(buf, "Sie haben keine Dateien ausgewählt");
    EXPECT_STREQ(getECmsgl(227, kGerman), "nichts gefunden");
    EXPECT_STREQ(getECmsgl(226, kGerman), "the entity already exists"); // untranslated: English
}

TEST_F(InstalledCatalog, GermanLabelsOfTheMainWindow) {
    // key, label|mnemonic
    const std::pair<const char *, const char *> cases[] = {
        {"GuiXkp0047N", "Datei|D"},
        {"GuiXkp0052N", "Hilfe|H"},
        {"GuiXkp0016N", "Beenden|B"},
        {"GuiXkp0053N", "Zu durchsuchendes Verzeichnis|"},
        {"GuiXkp0058N", "Dateien|"}};
    for (const auto &[key, want] : cases) {
        Label got = lookup_label(key, kGerman);
        EXPECT_TRUE(got.found) << key;
        EXPECT_EQ(got.label + "|" + got.mnemonic, want) << key;
    }
    // Every German label belongs to a known key, and every main-window label
    // (keys 0001 to 0064) is translated with a mnemonic taken from its label.
    std::set<std::string> german;
    for (const std::string &k : file_keys(std::string(kGerman) + "/sorvane/GuiLbls")) {
        EXPECT_NE(default_label(k.c_str()), nullptr) << k;
        german.insert(k);
    }
    for (const LabelDefault &l : label_defaults()) {
        int n = atoi(l.key + 6);
        if (n < 1 || n > 64) {
            continue;
        }
        ASSERT_TRUE(german.count(l.key)) << l.key << " has no German label";
        Label got = lookup_label(l.key, kGerman);
        EXPECT_EQ(got.mnemonic.empty(), l.mnemonic[0] == '\0') << l.key;
        if (!got.mnemonic.empty()) {
            EXPECT_NE(got.label.find(got.mnemonic), std::string::npos) << l.key;
        }
    }
}

TEST_F(InstalledCatalog, AliasFileMapsThePlatformNames) {
    const std::pair<const char *, const char *> cases[] = {{"C", "C"},
                                                           {"POSIX", "C"},
                                                           {"C.UTF-8", "C"},
                                                           {"C.utf8", "C"},
                                                           {"en_US", "C"},
                                                           {"en_US.UTF-8", "C"},
                                                           {"en_US.utf8", "C"},
                                                           {"de_DE.UTF-8", "de_DE.UTF-8"},
                                                           {"de_DE.utf8", "de_DE.UTF-8"}};
    for (const auto &[platform, common] : cases) {
        const char *result = nullptr;
        EXPECT_EQ(real2commonlocale(platform, &result), 0) << platform << ": " << result;
        EXPECT_STREQ(result, common) << platform;
    }
    const char *result = nullptr;
    EXPECT_EQ(real2commonlocale("xx_XX.UTF-8", &result), -1);

    // Every common name has its own TL line with a date definition (time
    // format and date format of three fields each) and a catalog directory.
    std::ifstream in(tm_alias_path());
    ASSERT_TRUE(in);
    std::map<std::string, std::string> definitions;
    std::set<std::string> commons;
    std::string line;
    while (std::getline(in, line)) {
        ASSERT_LE(line.size(), TM_ALIAS_PIECE) << line;
        TmAliasLine a;
        if (!tm_parse_alias(line, &a)) {
            EXPECT_TRUE(line.empty() || line[0] == '#') << "unreadable line: " << line;
            continue;
        }
        if (a.kind == 'L') {
            definitions[std::string(a.name1)] = line.substr(a.rest);
            commons.insert(std::string(a.name1));
        } else {
            commons.insert(std::string(a.name2));
        }
    }
    for (const std::string &c : commons) {
        ASSERT_TRUE(definitions.count(c)) << c << " has no TL line";
        EXPECT_TRUE(is_date_definition(definitions[c])) << c << ":" << definitions[c];
        EXPECT_NE(getLocalMsgFmt(c.c_str(), "CerXkp0003N"), nullptr) << c << " has no catalog";
    }
    EXPECT_NE(definitions["de_DE.UTF-8"].find("dd.mm.yyyy"), std::string::npos);
}
