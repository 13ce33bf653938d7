// The volmirax tool's command line, split before any command runs: the
// command (the first word that is not an option or an option's value), its
// words, and the options, which may stand before or after it. Each command
// then takes the options and words that are its own (commands.h) and
// refuses the rest, before the library is called at all.
#ifndef VOLMIRAX_COMMAND_LINE_H
#define VOLMIRAX_COMMAND_LINE_H

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

struct CommandLine {
    std::string command;
    std::vector<std::string> words;  // after the command, in order
    std::vector<std::pair<std::string, std::string>> options;  // "--json" has ""

    bool Has(const std::string &name) const;
    // The option's last value; `fallback` when it was not given.
    std::string Value(const std::string &name, const std::string &fallback = "") const;
};

// 0 when the line splits; -1 when --help was printed; otherwise 2 after a
// one-line message (an unknown option, a value missing, no command).
int SplitCommandLine(int argc, char **argv, CommandLine &line);

// Prints "volmirax: MESSAGE (try --help)" on one line; returns 2.
int CommandLineError(const std::string &message);

// 0 when every option given is one of `allowed`; 2 after a message
// naming the first that is not.
int OnlyOptions(const CommandLine &line, std::initializer_list<const char *> allowed);

// A whole decimal number, digits only (no sign, no spaces), within [lo, hi].
bool ParseInt(const std::string &s, int lo, int hi, int &out);
// A byte argument: one character ("0" is 0x30) or 0xNN.
bool ParseByte(const std::string &s, unsigned char &out);
// Hex digits in pairs, appended to `out`.
bool ParseHex(const std::string &s, std::vector<unsigned char> &out);

#endif
