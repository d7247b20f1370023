// Command-line reader of the command programs. The client builds command
// lines with runs of blanks and options in a fixed order; the programs
// accept every option in any order, each option a word of its own.
#pragma once

#include <map>
#include <string>
#include <vector>

struct KpOption {
    const char *name; // with its dash: "-S", "-keyword"
    bool takes_value;
};

struct KpArgs {
    std::map<std::string, std::string> values; // option -> value ("" for flags)
    std::vector<std::string> operands;         // words that are not options
    bool has(const std::string &opt) const { return values.count(opt) != 0; }
    std::string get(const std::string &opt, const std::string &dflt = "") const;
};

// Parses argv[1..argc-1] against the table. Returns true on success; on an
// unknown option or a missing value returns false with a one-line reason in
// err. A word "--" ends the options. A value may start with a dash (a
// keyword "-x" is a value). Repeated options keep the last value.
bool kp_parse_args(int argc, const char *const *argv, const std::vector<KpOption> &table,
                   KpArgs &out, std::string &err);

// Parses a decimal time value (seconds since the epoch, 32-bit signed).
bool kp_parse_time(const std::string &text, long long &out);
