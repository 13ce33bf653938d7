// Reset: "0", pm, "3240", d1..d7. Reply data is discarded.
#include "commands/command_timeouts.h"
#include "protocol/exchange.h"

extern "C" int WINAPI ReSet(HANDLE hPort, int pm, int d1, int d2, int d3, int d4,
                            int d5, int d6, int d7)
{
    const unsigned char cmd[13] = {
        '0', (unsigned char)pm, '3', '2', '4', '0',
        (unsigned char)d1, (unsigned char)d2, (unsigned char)d3, (unsigned char)d4,
        (unsigned char)d5, (unsigned char)d6, (unsigned char)d7};
    const Exchange x = {cmd, sizeof cmd, 0, 0, COMMAND_ACK_TIMEOUT, COMMAND_REPLY_TIMEOUT, COMMAND_EOT_TIMEOUT};
    return ExchangeCall("ReSet", hPort, &x, RunExchange);
}
