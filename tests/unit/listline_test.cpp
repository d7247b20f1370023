// The line rules of the generic list loader and the help topic resolution.
#include <gtest/gtest.h>

#include "xkp_helppath.h"
#include "xkp_listline.h"

#include "cmnutils.h"

#include <cstdlib>
#include <string>
#include <vector>

TEST(ListLine, StripLineEnd) {
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"abc \t \n", "abc"},
        {"a b", "a b"},
        {" \t\n", ""},
        {"", ""},
        {"x\n\n", "x"},
        {"  lead", "  lead"},
        {"mid\tdle\t", "mid\tdle"},
        {"cr\r\n", "cr\r"}, // only blanks, tabs and newlines go
    };
    for (const auto &c : cases) {
        std::string buf = c.in;
        strip_line_end(buf.data());
        EXPECT_STREQ(buf.c_str(), c.out) << '"' << c.in << '"';
    }
    strip_line_end(nullptr);
}

TEST(ListLine, ModesShapeTheItem) {
    struct Case {
        const char *line;
        int mode;
        const char *item;
    } cases[] = {
        // The whole line, in both spellings of the mode.
        {"a  b\tc", 0, "a  b\tc"},
        {"a  b\tc", -3, "a  b\tc"},
        {"", 0, ""},
        // One field.
        {"  one two three", 2, "two"},
        {"one two", 3, ""},
        {"one", 1, "one"},
        // All fields but the last, each followed by one blank.
        {"Using the  tutorial\txkp/Tutorial", -4, "Using the tutorial "},
        {"xkp/Main", -4, ""},
        {"", -4, ""},
        {"   ", -4, ""},
        {"a b", -4, "a "},
        // Text: the line and a newline.
        {"text line", -2, "text line\n"},
        {"", -2, "\n"},
        // Modes without a meaning of their own show the whole line.
        {"x y", -1, "x y"},
        {"x y", -9, "x y"},
    };
    std::string out = "stale";
    for (const auto &c : cases) {
        list_line_item(c.line, c.mode, out);
        EXPECT_EQ(out, c.item) << '"' << c.line << "\" mode " << c.mode;
    }
}

// Mode -4 written with the field routines, field by field.
std::string all_but_last_reference(const char *line) {
    std::string out;
    int count = field_count(line);
    static char field[XKP_FIELD_MAX + 1];
    for (int i = 1; i < count; ++i) {
        field_copy(field, line, i);
        out += field;
        out += ' ';
    }
    return out;
}

TEST(ListLine, AllButLastAgreesWithTheFieldRoutines) {
    std::vector<std::string> lines = {
        std::string(3000, 'a') + " tail", // a field beyond 2048 is cut
        "x " + std::string(3000, 'b'),    // a long last field is dropped
        "\t\n a\t\tb \n c\n",             // every separator kind
        "single",
        "",
    };
    // Pseudo-random lines over a small alphabet rich in separators.
    unsigned seed = 12345;
    for (int n = 0; n < 2000; ++n) {
        std::string l;
        int len = static_cast<int>((seed = seed * 1103515245 + 12345) % 40);
        for (int i = 0; i < len; ++i) {
            seed = seed * 1103515245 + 12345;
            l.push_back(" \t\nab/"[(seed >> 16) % 6]);
        }
        lines.push_back(l);
    }
    std::string out;
    for (const auto &l : lines) {
        list_line_item(l.c_str(), LOAD_ALL_BUT_LAST, out);
        ASSERT_EQ(out, all_but_last_reference(l.c_str())) << '"' << l << '"';
    }
}

class HelpPath : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *r = getenv("XKP_ROOT");
        saved_ = r != nullptr ? r : "";
        had_ = r != nullptr;
        setenv("XKP_ROOT", "/opt/prod", 1);
    }
    void TearDown() override {
        if (had_) {
            setenv("XKP_ROOT", saved_.c_str(), 1);
        } else {
            unsetenv("XKP_ROOT");
        }
    }
    std::string saved_;
    bool had_ = false;
};

TEST_F(HelpPath, TopicsResolveBelowTheHelpDirectory) {
    struct Case {
        const char *topic;
        const char *file;
    } cases[] = {
        {"xkp/Main", "/opt/prod/sorvane/help/xkp/Main"},
        {"/opt/prod/sorvane/help/xkp/Help", "/opt/prod/sorvane/help/xkp/Help"},
        // The help directory anywhere in the topic means a full path.
        {"/mnt/opt/prod/sorvane/help/x", "/mnt/opt/prod/sorvane/help/x"},
        // Any other full path is still taken below the help directory.
        {"/etc/passwd", "/opt/prod/sorvane/help//etc/passwd"},
        {"", "/opt/prod/sorvane/help/"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(help_file_for_topic(c.topic), c.file) << c.topic;
    }
    EXPECT_EQ(help_file_for_topic(nullptr), "/opt/prod/sorvane/help/");
    EXPECT_EQ(help_topic_path("xkp/Confirm"), "/opt/prod/sorvane/help/xkp/Confirm");
    EXPECT_EQ(help_index_path(), "/opt/prod/sorvane/help/xkp/Index");
}

TEST_F(HelpPath, InstalledRootWithoutOverride) {
    unsetenv("XKP_ROOT");
    EXPECT_EQ(help_file_for_topic("xkp/Tutorial").find("/sorvane/help/xkp/Tutorial") !=
                  std::string::npos,
              true);
    EXPECT_EQ(help_file_for_topic(help_topic_path("xkp/Help").c_str()),
              help_topic_path("xkp/Help"));
}

TEST_F(HelpPath, IndexLineTopic) {
    struct Case {
        const char *line;
        const char *topic;
    } cases[] = {
        {"Using the tutorial xkp/Tutorial", "xkp/Tutorial"},
        {"Title\t/opt/prod/sorvane/help/xkp/Main  \n", "/opt/prod/sorvane/help/xkp/Main"},
        {"lonely", "lonely"},
        {"", "/opt/prod/sorvane/help/xkp/Tutorial"},
        {" \t \n", "/opt/prod/sorvane/help/xkp/Tutorial"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(index_line_topic(c.line), c.topic) << '"' << c.line << '"';
    }
    EXPECT_EQ(index_line_topic(nullptr), "/opt/prod/sorvane/help/xkp/Tutorial");
}
