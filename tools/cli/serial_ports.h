// The serial devices of a Linux machine.
#ifndef VOLMIRAX_SERIAL_PORTS_H
#define VOLMIRAX_SERIAL_PORTS_H

#include <string>
#include <vector>

// /dev/ttyS* that have a driver, /dev/ttyUSB*, /dev/ttyACM* and the links
// in /dev/serial/by-id, sorted.
std::vector<std::string> ListSerialPorts();

#endif
