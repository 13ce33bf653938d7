// The fixed time-outs of the device commands, in milliseconds.
#ifndef VOLMIRAX_COMMAND_TIMEOUTS_H
#define VOLMIRAX_COMMAND_TIMEOUTS_H

enum {
    COMMAND_ACK_TIMEOUT = 1000,
    COMMAND_REPLY_TIMEOUT = 3000,
    COMMAND_EOT_TIMEOUT = 500
};

#endif
