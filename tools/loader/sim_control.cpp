#include "sim_control.h"

#include "wire_model.h"

std::string SimulatorControl(const Library &lib, HANDLE h, const std::string &text)
{
    const Bytes cmd = ControlCommand(text);
    unsigned char data[VOLMIRAX_MAX_REPLY_DATA];
    unsigned len = 0;
    // generous time-outs: the simulator may be pacing a slow line
    int rc = lib.SendCmd(h, cmd.data(), (unsigned)cmd.size(), data, &len, 5000, 20000, 500);
    if (rc != 0 || len < 2)
        return "<control failed: " + std::to_string(rc) + ">";
    return ControlAnswer(data, len);
}
