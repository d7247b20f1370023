// The command runner with real children: exit codes, signals, several open
// streams, the debug traces and suppression, the executable check and its
// message, the line reader and the exit-status rule.
#include <gtest/gtest.h>

#include "support/gui_harness.h"

#include "xkp_errmsg.h"
#include "xkp_runner.h"

#include <Xm/MessageB.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using RunnerTest = GuiTest;

std::string read_all(FILE *stream) {
    std::string text;
    char buffer[256];
    while (read_till_eol(buffer, 255, stream) != nullptr) {
        text += buffer;
    }
    return text + buffer; // a last line without newline stays in the buffer
}

TEST_F(RunnerTest, ExitCodesOfRealChildren) {
    struct Case {
        const char *command;
        int want;
    } cases[] = {
        {"/bin/true", 0},
        {"/bin/sh -c 'exit 227'", 227},
        {"/bin/sh -c 'exit 255'", 255},
        // The shell that is the direct child ends by a signal: exit code 0.
        {"/bin/kill -TERM $$", 0},
        {"/bin/kill -KILL $$", 0},
        // A shell that reports its own child's signal exits with 128 + it.
        {"/bin/sh -c 'kill -KILL $$'", 137},
    };
    for (const Case &c : cases) {
        FILE *stream = mypopen(c.command, "r");
        ASSERT_NE(stream, nullptr) << c.command;
        read_all(stream);
        EXPECT_EQ(mypclose(stream), c.want) << c.command;
        EXPECT_EQ(mysystem(c.command), c.want) << "mysystem " << c.command;
    }
    EXPECT_TRUE(gui::message_boxes().empty());
    for (int fd = 0; fd < popen_pid_size; ++fd) {
        ASSERT_EQ(popen_pid[fd], 0) << "child table entry " << fd << " left behind";
    }
}

TEST_F(RunnerTest, SeveralOpenStreamsEachSeeEndOfFile) {
    // Write mode feeds the child's input. Two writers open at once: the second child must not
    // inherit the first stream's end, or the first child never sees end of input and closing the
    // first stream waits forever (the alarm turns that into a failure).
    gui::TempDir dir;
    std::string one = dir.file("one"), two = dir.file("two");
    FILE *first = mypopen(("/bin/sh -c 'cat > " + one + "'").c_str(), "w");
    FILE *second = mypopen(("/bin/sh -c 'cat > " + two + "'").c_str(), "w");
    FILE *reader = mypopen("/bin/sh -c 'echo three'", "r");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(reader, nullptr);
    alarm(20);
    fputs("first\n", first);
    fputs("second\n", second);
    EXPECT_EQ(mypclose(first), 0);
    EXPECT_EQ(gui::read_file(one), "first\n");
    EXPECT_EQ(read_all(reader), "three\n");
    EXPECT_EQ(mypclose(reader), 0);
    EXPECT_EQ(mypclose(second), 0);
    alarm(0);
    EXPECT_EQ(gui::read_file(two), "second\n");
}

TEST_F(RunnerTest, ProgramThatCannotBeExecutedIsReportedAndNotRun) {
    gui::TempDir dir;
    std::string missing = dir.file("no_such_program");
    std::string not_exec = dir.file("plain_file");
    gui::write_fake_program(dir.path(), "plain_file", "", 0);
    chmod(not_exec.c_str(), 0644);

    struct Case {
        std::string program;
        bool popen;
    } cases[] = {{missing, true}, {not_exec, true}, {missing, false}};
    for (const Case &c : cases) {
        std::string command = c.program + " -x arg";
        if (c.popen) {
            EXPECT_EQ(mypopen(command.c_str(), "r"), nullptr);
        } else {
            EXPECT_EQ(mysystem(command.c_str()), 0);
        }
        auto boxes = gui::message_boxes();
        ASSERT_EQ(boxes.size(), 1u) << c.program;
        EXPECT_EQ(boxes[0].text, "The following command cannot be executed.\n  Ask your system "
                                 "administrator to\n  verify the install and permits.\n\n" +
                                     c.program + "\n");
        EXPECT_EQ(boxes[0].type, XmDIALOG_ERROR);
        gui::close_message_boxes();
    }
    EXPECT_EQ(gui::read_file(not_exec + ".args"), "") << "nothing was run";
}

TEST_F(RunnerTest, DebugTraceAndSuppression) {
    gui::TempDir dir;
    std::string program = gui::write_fake_program(dir.path(), "kplist", "out\n", 0);
    std::string other = gui::write_fake_program(dir.path(), "kpbackup", "", 0);
    std::string list_cmd = program + " -l";
    std::string backup_cmd = other + " -f req";

    struct Case {
        const char *what;
        int enabled;
        const char *setting;
        std::string expected_stdout;
        bool list_runs, backup_runs;
    } cases[] = {
        {"off", 0, "gkc", "", true, true},
        {"gkc traces every command", 1, "gkc",
         "debug popen:" + list_cmd + "!\ndebug system:" + backup_cmd + "!\n", true, true},
        {"gkc must be exact", 1, "gkc ", "", true, true},
        {"avoid kplist", 1, "avoid kplist", "debug avoiding !" + list_cmd + "!\n", false, true},
        {"avoid alone suppresses nothing", 1, "avoid", "", true, true},
        {"avoid a word of both", 1, "avoid  kp",
         "debug avoiding !" + list_cmd + "!\ndebug avoiding !" + backup_cmd + "!\n", false, false},
        {"empty value turns debugging on but does nothing", 1, "", "", true, true},
    };
    for (const Case &c : cases) {
        unlink((program + ".args").c_str());
        unlink((other + ".args").c_str());
        debug_enabled = c.enabled;
        T_strlcpy(debug_string, c.setting, sizeof debug_string);
        gui::StdoutCapture capture;
        FILE *stream = mypopen(list_cmd.c_str(), "r");
        if (stream != nullptr) {
            read_all(stream);
            EXPECT_EQ(mypclose(stream), 0);
        }
        EXPECT_EQ(mysystem(backup_cmd.c_str()), 0);
        EXPECT_EQ(capture.stop(), c.expected_stdout) << c.what;
        EXPECT_EQ(stream != nullptr, c.list_runs) << c.what;
        EXPECT_EQ(!gui::read_file(program + ".args").empty(), c.list_runs) << c.what;
        EXPECT_EQ(!gui::read_file(other + ".args").empty(), c.backup_runs) << c.what;
    }
    EXPECT_TRUE(gui::message_boxes().empty());
}

TEST_F(RunnerTest, ReadTillEol) {
    struct Case {
        const char *what;
        std::string input;
        int length;
        std::vector<std::string> pieces; // returned pieces, in order
        std::string left;                // the buffer when null came back
    } cases[] = {
        {"three letters, no newline", "abc", 100, {}, "abc"},
        {"three letters and a newline", "abc\n", 100, {"abc\n"}, ""},
        {"two lines, last unterminated", "a b\ncd", 100, {"a b\n"}, "cd"},
        {"pieces of length", "abcdefg\n", 3, {"abc", "def", "g\n"}, ""},
        {"exact length then newline", "abc\n", 3, {"abc", "\n"}, ""},
        {"empty line", "\n\n", 10, {"\n", "\n"}, ""},
        {"empty input", "", 10, {}, ""},
        {"binary bytes", std::string("a\0b\xff\n", 5), 10, {std::string("a\0b\xff\n", 5)}, ""},
    };
    for (const Case &c : cases) {
        FILE *stream = c.input.empty()
                           ? fopen("/dev/null", "r")
                           : fmemopen(const_cast<char *>(c.input.data()), c.input.size(), "r");
        ASSERT_NE(stream, nullptr);
        std::vector<char> buffer(static_cast<size_t>(c.length) + 1, 'Z');
        std::vector<std::string> got;
        char *r;
        while ((r = read_till_eol(buffer.data(), c.length, stream)) != nullptr) {
            EXPECT_EQ(r, buffer.data());
            // the piece's length is what was stored; the text may hold NULs
            got.emplace_back(c.pieces.size() > got.size()
                                 ? std::string(buffer.data(), c.pieces[got.size()].size())
                                 : std::string(buffer.data()));
        }
        EXPECT_EQ(got, c.pieces) << c.what;
        EXPECT_EQ(std::string(buffer.data()), c.left) << c.what;
        fclose(stream);
    }
    char buffer[4] = "xyz";
    EXPECT_EQ(read_till_eol(buffer, 0, stdin), buffer);
    EXPECT_STREQ(buffer, "");
    strcpy(buffer, "xyz");
    EXPECT_EQ(read_till_eol(buffer, -5, stdin), buffer);
    EXPECT_STREQ(buffer, "");
}

TEST_F(RunnerTest, ExitStatusRule) {
    const std::string nothing_found =
        "Could not find any files that match the date range,\ndirectory pathname, directory "
        "depth limit,\nfilename filter, and keyword phrase.";
    const std::string no_server =
        "Could not connect to server.  Check services file\nand contact your system "
        "administrator to see if\nthe kprd daemon on the server is accessible.";
    struct Step {
        int code, file_listing;
        std::vector<std::string> new_boxes;
    } steps[] = {
        {227, 1, {nothing_found}},
        {25, 0, {no_server}},
        {25, 1, {}}, // once per run
        {71, 0, {"none of the files in the file list exist"}},
        {255, 0, {"unimplemented error code 255"}},
        {175, 1, {"not all requested files were restored"}},
    };
    EXPECT_EQ(kprd_missing, 0);
    for (const Step &s : steps) {
        report_exit_status(s.code, s.file_listing);
        std::vector<std::string> texts;
        for (const auto &box : gui::message_boxes()) {
            texts.push_back(box.text);
            EXPECT_EQ(box.type, XmDIALOG_ERROR);
        }
        EXPECT_EQ(texts, s.new_boxes) << "code " << s.code;
        gui::close_message_boxes();
        EXPECT_TRUE(gui::message_boxes().empty());
    }
    EXPECT_EQ(kprd_missing, 1);
}

} // namespace
