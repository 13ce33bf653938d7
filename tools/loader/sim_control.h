// The simulator's control channel from a host that loaded the library: a
// command "~" carrying text, answered in the reply's data.
#ifndef VOLMIRAX_SIM_CONTROL_H
#define VOLMIRAX_SIM_CONTROL_H

#include <string>

#include "library.h"

// The simulator's answer to `text` ("on T silent", "wire", "reset", ...),
// or "<control failed: CODE>" when the exchange failed.
std::string SimulatorControl(const Library &lib, HANDLE h, const std::string &text);

#endif
