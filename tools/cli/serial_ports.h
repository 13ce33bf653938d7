// The serial ports this machine knows: on Linux its serial devices, on
// Windows its COM ports.
#ifndef VOLMIRAX_SERIAL_PORTS_H
#define VOLMIRAX_SERIAL_PORTS_H

#include <string>
#include <vector>

// Linux: /dev/ttyS* that have a driver, /dev/ttyUSB*, /dev/ttyACM* and the
// links in /dev/serial/by-id, sorted. Windows: the COM devices the system
// has names for (COM1, COM5, ...), in number order.
std::vector<std::string> ListSerialPorts();

// One line a person can act on, for a port that did not open: `where` is
// the port's name, `reason` the system's error (errno, or GetLastError()).
std::string OpenFailureMessage(const std::string &where, unsigned long reason);

#endif
