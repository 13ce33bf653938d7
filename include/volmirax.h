/*
 * VOLMIRAX: drive a card device over an RS-232 serial line.
 *
 * Every call is synchronous and blocks the calling thread until the device
 * has answered or a time-out has passed. On Windows the waits keep the
 * calling thread's window messages flowing; on Linux they sleep in poll().
 *
 * Every function but OpenComm and CloseComm returns a result code:
 *   0                success
 *   ERR_*   a failure that the library detected (negative)
 *   anything else    the status code of a negative device reply,
 *                    s1 * 256 + s2 - 0x3030 ("01" gives 1, "10" gives 256);
 *                    it can be 0 or coincide with a library code.
 *
 * A handle that is not an open port (garbage, a copy of a closed one) is
 * refused by every call: ERR_WRITE with the system's bad-handle reason
 * (ERROR_INVALID_HANDLE, EBADF), nothing sent; CloseComm gives 0.
 *
 * Usable from C and C++. On Windows it includes <windows.h>; elsewhere it
 * defines HANDLE and WINAPI itself.
 */
#ifndef VOLMIRAX_H
#define VOLMIRAX_H

#if defined(_WIN32) && !defined(VOLMIRAX_NO_WINDOWS_H)
#include <windows.h>
#else
#ifndef WINAPI
#if defined(_WIN32) && !defined(_WIN64)
#define WINAPI __stdcall
#else
#define WINAPI
#endif
#endif
typedef void *HANDLE;
#endif

/* Result codes. There is no -109; -114 (ERR_ARGUMENT) is this library's
 * own, for a missing or invalid argument. */
#define ERR_OK                      0
#define ERR_NO_PORT        (-101) /* the port handle is null */
#define ERR_SET_TIMEOUTS   (-102) /* setting the port's time-outs failed */
#define ERR_SETUP_QUEUES   (-103) /* setting the driver's queue sizes failed */
#define ERR_WRITE          (-104) /* the write call failed */
#define ERR_WRITE_SHORT    (-105) /* fewer bytes were written than asked */
#define ERR_READ           (-106) /* the read call failed */
#define ERR_READ_SHORT     (-107) /* fewer bytes were read than asked */
#define ERR_LINE_SETTINGS  (-108) /* reading, building or applying the line settings failed */
#define ERR_ACK_TIMEOUT    (-110) /* no acknowledgement within the acknowledgement time-out */
#define ERR_REPLY_TIMEOUT  (-111) /* the reply was not complete within the reply time-out */
#define ERR_EOT_TIMEOUT    (-112) /* the echo of the abort sequence did not arrive in time */
#define ERR_NO_ACK         (-113) /* the acknowledgement does not start with ACK */
#define ERR_ARGUMENT       (-114) /* an argument is missing or invalid */
#define ERR_EOT_ECHO       (-115) /* the echo of the abort sequence is wrong */
#define ERR_BCC            (-116) /* the reply's block check character is wrong, or the reply is shorter than 6 or longer than 999 bytes */
#define ERR_ECHO           (-117) /* the reply does not echo the command code and parameter code */

/* The largest run of reply data that SendCmd can hand back: status bytes
 * and data of a 999-byte reply frame. */
#define VOLMIRAX_MAX_REPLY_DATA     993
/* The largest run of version data that GetMachineVersion can hand back. */
#define VOLMIRAX_MAX_VERSION        253

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens serial port number `port` (1 for COM1) at `baud` with no parity,
 * 8 data bits, 1 stop bit. Supported rates: 1200, 2400, 4800, 9600, 19200,
 * 38400, 57600, 115200; any other rate opens at 9600. The port is held
 * exclusively. Returns the port handle, or null on any failure; the
 * system's reason is then in GetLastError() (Windows) or errno (Linux).
 * On Linux port n is /dev/ttyS<n-1>.
 */
HANDLE WINAPI OpenComm(int port, int baud);

/*
 * Closes the port held in *phPort and sets *phPort to null. Returns
 * non-zero when the port was closed, 0 when closing failed, when *phPort
 * was already null, or when phPort itself is null.
 */
int WINAPI CloseComm(HANDLE *phPort);

/*
 * One command exchange: sends cmd (command code, parameter code, data;
 * cmdLen >= 2 bytes), waits up to ackTimeout ms for the acknowledgement,
 * asks for the reply and waits up to replyTimeout ms for it. After either
 * time-out it sends the abort sequence (waiting up to eotTimeout ms for
 * its echo). On a reply with a correct check and echo, replyData (may be
 * null) receives the status bytes and reply data, at most
 * VOLMIRAX_MAX_REPLY_DATA bytes, without a terminator, and *replyLen (may
 * be null) their count. Returns 0 for a positive reply, the device status
 * code for a negative one, or a ERR_* code; on failure replyData
 * and replyLen are untouched.
 */
int WINAPI SendCmd(HANDLE hPort, const unsigned char *cmd, unsigned int cmdLen,
                   unsigned char *replyData, unsigned int *replyLen,
                   int ackTimeout, int replyTimeout, int eotTimeout);

/*
 * Tells the device to abandon the exchange in progress (DLE EOT CR) and
 * waits up to eotTimeout ms for its echo.
 */
int WINAPI SendEot(HANDLE hPort, int eotTimeout);

/*
 * Resets the device: command "0" with parameter pm and data "3240" d1..d7.
 * Only the low byte of each argument is sent. Reply data is discarded.
 */
int WINAPI ReSet(HANDLE hPort, int pm, int d1, int d2, int d3, int d4,
                 int d5, int d6, int d7);

/* Ejects the card: command "3" with parameter pm (low byte sent). */
int WINAPI EjectCard(HANDLE hPort, int pm);

/*
 * Reads the device's version data into version (must not be null): at most
 * VOLMIRAX_MAX_VERSION bytes, without a terminator, so pass a zeroed buffer
 * to read it as a string. On a failure version is untouched.
 */
int WINAPI GetMachineVersion(HANDLE hPort, unsigned char *version);

#if !defined(_WIN32)
/*
 * Linux only: opens a serial device by path (/dev/ttyUSB0,
 * /dev/serial/by-id/..., a pseudo-terminal) with the configuration of
 * OpenComm. Returns null on any failure, with the reason in errno.
 */
HANDLE OpenCommPath(const char *device, int baud);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VOLMIRAX_H */
