// The line rules of the generic list loader and the help topic resolution.
// (The listline fuzzer compares mode -4 with the field routines on arbitrary
// lines; the cases here pin the exact texts and the long-field limits.)
#include <gtest/gtest.h>

#include "xkp_helppath.h"
#include "xkp_listline.h"

#include "cmnutils.h"
#include "temp_root.h"

#include <cstdlib>
#include <string>
#include <vector>

TEST(ListLine, StripLineEnd) {
    const std::pair<const char *, const char *> cases[] = {
        {"abc \t \n", "abc"},
        {"a b", "a b"},
        {" \t\n", ""},
        {"", ""},
        {"x\n\n", "x"},
        {"  lead", "  lead"},
        {"mid\tdle\t", "mid\tdle"},
        {"cr\r\n", "cr\r"}, // only blanks, tabs and newlines go
    };
    for (const auto &[in, out] : cases) {
        std::string buf = in;
        strip_line_end(buf.data());
        EXPECT_STREQ(buf.c_str(), out) << '"' << in << '"';
    }
    strip_line_end(nullptr);
}

TEST(ListLine, ModesShapeTheItem) {
    const std::string a3000(3000, 'a'), b3000(3000, 'b');
    const struct {
        std::string line;
        int mode;
        std::string item;
    } cases[] = {
        // The whole line, in both spellings of the mode.
        {"a  b\tc", 0, "a  b\tc"},
        {"a  b\tc", -3, "a  b\tc"},
        // One field.
        {"  one two three", 2, "two"},
        {"one two", 3, ""},
        // All fields but the last, each followed by one blank.
        {"Using the  tutorial\txkp/Tutorial", -4, "Using the tutorial "},
        {"\t\n a\t\tb \n c\n", -4, "a b "}, // every separator kind
        {"xkp/Main", -4, ""},
        {"   ", -4, ""},
        {a3000 + " tail", -4, a3000.substr(0, XKP_FIELD_MAX) + " "}, // a field is cut at 2048
        {"x " + b3000, -4, "x "},                                    // a long last field goes
        // Text: the line and a newline.
        {"text line", -2, "text line\n"},
        {"", -2, "\n"},
        // Modes without a meaning of their own show the whole line.
        {"x y", -1, "x y"},
    };
    std::string out = "stale";
    for (const auto &c : cases) {
        list_line_item(c.line.c_str(), c.mode, out);
        EXPECT_EQ(out, c.item) << '"' << c.line.substr(0, 40) << "\" mode " << c.mode;
    }
}

class HelpPath : public ::testing::Test {
  protected:
    ScopedEnv root_{"XKP_ROOT", "/opt/prod"};
};

TEST_F(HelpPath, TopicsAndIndexLines) {
    const std::pair<const char *, const char *> files[] = {
        {"xkp/Main", "/opt/prod/sorvane/help/xkp/Main"},
        {"/opt/prod/sorvane/help/xkp/Help", "/opt/prod/sorvane/help/xkp/Help"},
        // The help directory anywhere in the topic means a full path.
        {"/mnt/opt/prod/sorvane/help/x", "/mnt/opt/prod/sorvane/help/x"},
        // Any other full path is still taken below the help directory.
        {"/etc/passwd", "/opt/prod/sorvane/help//etc/passwd"},
        {"", "/opt/prod/sorvane/help/"},
        {nullptr, "/opt/prod/sorvane/help/"},
    };
    for (const auto &[topic, file] : files) {
        EXPECT_EQ(help_file_for_topic(topic), file) << (topic ? topic : "(null)");
    }
    EXPECT_EQ(help_topic_path("xkp/Confirm"), "/opt/prod/sorvane/help/xkp/Confirm");
    EXPECT_EQ(help_index_path(), "/opt/prod/sorvane/help/xkp/Index");

    const std::string tutorial = "/opt/prod/sorvane/help/xkp/Tutorial";
    const std::pair<const char *, std::string> lines[] = {
        {"Using the tutorial xkp/Tutorial", "xkp/Tutorial"},
        {"Title\t/opt/prod/sorvane/help/xkp/Main  \n", "/opt/prod/sorvane/help/xkp/Main"},
        {"lonely", "lonely"},
        {"", tutorial},
        {" \t \n", tutorial},
        {nullptr, tutorial},
    };
    for (const auto &[line, topic] : lines) {
        EXPECT_EQ(index_line_topic(line), topic) << '"' << (line ? line : "(null)") << '"';
    }
}
