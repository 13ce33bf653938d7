// The settings every port is opened with, shared by the platform
// implementations of the port lifecycle: the rates and the mode string of
// the line, the driver's time-outs and its queue sizes.
#ifndef VOLMIRAX_PORT_SETTINGS_H
#define VOLMIRAX_PORT_SETTINGS_H

// The rates a port opens at, in the order they are looked up. Any other
// requested rate opens at 9600. Expanded once per use, so each platform's
// own form of a rate comes from this one list.
#define VOLMIRAX_LINE_RATES(X) X(1200) X(2400) X(4800) X(9600) X(19200) X(38400) X(57600) X(115200)

enum {
    DEFAULT_LINE_RATE = 9600,
    MODE_STRING_SIZE = 15,      // "115200,n,8,1" and its terminator
    READ_INTERVAL_TIMEOUT = 2000,
    READ_TOTAL_MULTIPLIER = 400,
    READ_TOTAL_CONSTANT = 400,
    WRITE_TOTAL_MULTIPLIER = 40,
    WRITE_TOTAL_CONSTANT = 400,
    INPUT_QUEUE_SIZE = 2048,
    OUTPUT_QUEUE_SIZE = 1024
};

// The requested rate when it is supported, otherwise 9600.
int SupportedBaud(int baud);

// "<baud>,n,8,1" for the supported rate of `baud` (the mode string that
// Windows builds its line settings from).
void BuildModeString(int baud, char mode[MODE_STRING_SIZE]);

#endif
