// Version query: "<0". The version is the reply's caller data without its
// two status bytes.
#include <string.h>

#include "commands/command_timeouts.h"
#include "protocol/exchange.h"

namespace {

const unsigned char kVersionCommand[2] = {'<', '0'};

int QueryVersion(HANDLE hPort, unsigned char *version, TraceRecord *trace)
{
    if (hPort == 0)
        return ERR_NO_PORT;
    if (version == 0)
        return ERR_ARGUMENT;
    // Large enough for any reply, so a long one cannot run over it.
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned int length = 0;
    int rc = RunExchange(hPort, kVersionCommand, sizeof kVersionCommand, data, &length, COMMAND_ACK_TIMEOUT, COMMAND_REPLY_TIMEOUT,
                         COMMAND_EOT_TIMEOUT, trace);
    // A negative reply with status "00" also yields 0 and counts as success.
    if (rc != 0)
        return rc;
    if (length > 2) {
        unsigned copy = length - 2;
        if (copy > VOLMIRAX_MAX_VERSION)
            copy = VOLMIRAX_MAX_VERSION;
        memcpy(version, data + 2, copy);
    }
    return 0;
}

}  // namespace

extern "C" int WINAPI GetMachineVersion(HANDLE hPort, unsigned char *version)
{
    TraceRecord record;
    TraceRecord *trace = TraceBegin(&record, "GetMachineVersion", hPort);
    TraceExchange(trace, kVersionCommand, sizeof kVersionCommand, COMMAND_ACK_TIMEOUT, COMMAND_REPLY_TIMEOUT, COMMAND_EOT_TIMEOUT,
                  version != 0, 0);
    return TraceEnd(trace, QueryVersion(hPort, version, trace));
}
