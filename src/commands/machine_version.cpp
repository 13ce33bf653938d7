// Version query: "<0". The version is the reply's caller data without its
// two status bytes.
#include <string.h>

#include "commands/command_timeouts.h"
#include "protocol/exchange.h"

namespace {

const unsigned char kVersionCommand[2] = {'<', '0'};

// `asked->replyData` is the caller's version buffer; the exchange itself
// reads into a buffer large enough for any reply, so a long one cannot run
// over the caller's.
int QueryVersion(Call *c, const Exchange *asked)
{
    unsigned char *version = asked->replyData;
    if (c->port == 0)
        return ERR_NO_PORT;
    if (version == 0)
        return ERR_ARGUMENT;
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned int length = 0;
    Exchange x = *asked;
    x.replyData = data;
    x.replyLen = &length;
    const int rc = RunExchange(c, &x);
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
    const Exchange x = {kVersionCommand, sizeof kVersionCommand, version, 0,
                        COMMAND_ACK_TIMEOUT, COMMAND_REPLY_TIMEOUT, COMMAND_EOT_TIMEOUT};
    return ExchangeCall("GetMachineVersion", hPort, &x, QueryVersion);
}
