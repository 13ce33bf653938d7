// Card ejection: "3", pm. No reply data is returned.
#include "commands/command_timeouts.h"
#include "protocol/exchange.h"

extern "C" int WINAPI EjectCard(HANDLE hPort, int pm)
{
    const unsigned char cmd[2] = {'3', (unsigned char)pm};
    const Exchange x = {cmd, sizeof cmd, 0, 0, COMMAND_ACK_TIMEOUT, COMMAND_REPLY_TIMEOUT, COMMAND_EOT_TIMEOUT};
    return ExchangeCall("EjectCard", hPort, &x, RunExchange);
}
