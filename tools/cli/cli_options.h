// The command line of the volmirax tool: the options, the command and its
// arguments, checked before the library is called.
#ifndef VOLMIRAX_CLI_OPTIONS_H
#define VOLMIRAX_CLI_OPTIONS_H

#include <string>
#include <vector>

struct Options {
    int port = 0;
    std::string device;
    std::string link;
    std::string record;  // tap: the capture to write
    std::string file;    // trace, report: the capture to read
    std::string output = "report.html";  // report: the page to write
    int baud = 9600;
    bool json = false;
    int ack = 1000, reply = 3000, eot = 500;
    std::string command;
    std::vector<unsigned char> bytes;  // reset: pm d1..d7; eject: pm; send: command bytes
};

// 0 when the arguments are sound; -1 when --help was printed; otherwise the
// exit status (2), after a one-line message.
int ParseOptions(int argc, char **argv, Options &o);

#endif
