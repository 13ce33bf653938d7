#include "serial_ports.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

std::vector<std::string> Entries(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    closedir(d);
    return names;
}

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

// The 8250 driver keeps placeholder ports; a real one reports a UART type.
bool HasUart(const std::string &path)
{
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info;
    bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return real;
}

}  // namespace

std::vector<std::string> ListSerialPorts()
{
    std::vector<std::string> ports;
    for (const std::string &n : Entries("/dev")) {
        if (StartsWith(n, "ttyUSB") || StartsWith(n, "ttyACM")) {
            ports.push_back("/dev/" + n);
        } else if (StartsWith(n, "ttyS")) {
            std::string driver = "/sys/class/tty/" + n + "/device/driver";
            if (access(driver.c_str(), F_OK) == 0 && HasUart("/dev/" + n))
                ports.push_back("/dev/" + n);
        }
    }
    for (const std::string &n : Entries("/dev/serial/by-id"))
        ports.push_back("/dev/serial/by-id/" + n);
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::string OpenFailureMessage(const std::string &where, unsigned long reason)
{
    switch (reason) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such port: " + where;
    case EBUSY:
    case EWOULDBLOCK:
        return where + " is in use by another program";
    case EACCES:
    case EPERM:
        return "permission denied: " + where +
               " (add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again)";
    case ENOTTY:
        return "not a serial port: " + where;
    default:
        return "cannot open " + where + ": " + strerror((int)reason);
    }
}
