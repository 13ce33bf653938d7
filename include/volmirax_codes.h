/*
 * Names and meanings of the library's result codes, for tools and hosts
 * that print them. Header only; not part of the library's exports.
 */
#ifndef VOLMIRAX_CODES_H
#define VOLMIRAX_CODES_H

#include "volmirax.h"

struct VolmiraxCode {
    int code;
    const char *name;
    const char *meaning;
};

static const struct VolmiraxCode kVolmiraxCodes[] = {
    {ERR_OK, "OK", "success"},
    {ERR_NO_PORT, "ERR_NO_PORT", "the port handle is null"},
    {ERR_SET_TIMEOUTS, "ERR_SET_TIMEOUTS", "setting the port's time-outs failed"},
    {ERR_SETUP_QUEUES, "ERR_SETUP_QUEUES", "setting the driver's queue sizes failed"},
    {ERR_WRITE, "ERR_WRITE", "the write call failed"},
    {ERR_WRITE_SHORT, "ERR_WRITE_SHORT", "fewer bytes were written than asked"},
    {ERR_READ, "ERR_READ", "the read call failed"},
    {ERR_READ_SHORT, "ERR_READ_SHORT", "fewer bytes were read than asked"},
    {ERR_LINE_SETTINGS, "ERR_LINE_SETTINGS", "reading, building or applying the line settings failed"},
    {ERR_ACK_TIMEOUT, "ERR_ACK_TIMEOUT", "no acknowledgement within the acknowledgement time-out"},
    {ERR_REPLY_TIMEOUT, "ERR_REPLY_TIMEOUT", "the reply was not complete within the reply time-out"},
    {ERR_EOT_TIMEOUT, "ERR_EOT_TIMEOUT", "the echo of the abort sequence did not arrive in time"},
    {ERR_NO_ACK, "ERR_NO_ACK", "the acknowledgement does not start with ACK"},
    {ERR_ARGUMENT, "ERR_ARGUMENT", "an argument is missing or invalid"},
    {ERR_EOT_ECHO, "ERR_EOT_ECHO", "the echo of the abort sequence is wrong"},
    {ERR_BCC, "ERR_BCC", "the reply's block check character is wrong, or the reply is shorter than 6 or longer than 999 bytes"},
    {ERR_ECHO, "ERR_ECHO", "the reply does not echo the command code and parameter code"},
};

/* The entry for a library code; null for a device status code. A device
 * status code can coincide with a library code: the result alone does not
 * tell them apart. */
static inline const struct VolmiraxCode *VolmiraxFindCode(int code)
{
    unsigned i;
    for (i = 0; i < sizeof kVolmiraxCodes / sizeof kVolmiraxCodes[0]; ++i)
        if (kVolmiraxCodes[i].code == code)
            return &kVolmiraxCodes[i];
    return 0;
}

static inline const char *VolmiraxCodeName(int code)
{
    const struct VolmiraxCode *c = VolmiraxFindCode(code);
    return c ? c->name : "DEVICE_STATUS";
}

static inline const char *VolmiraxCodeMeaning(int code)
{
    const struct VolmiraxCode *c = VolmiraxFindCode(code);
    return c ? c->meaning : "status code reported by the device in a negative reply";
}

#endif /* VOLMIRAX_CODES_H */
