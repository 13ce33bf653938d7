// The same host in C++, with a raw command through SendCmd and the port
// closed by a small guard whatever happens.
//
//   cpp_example PORT      (COM port number; on Linux a device path)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "volmirax.h"
#include "volmirax_codes.h"

namespace {

class Port {
public:
    explicit Port(const char *where)
    {
#ifdef _WIN32
        handle_ = OpenComm(std::atoi(where), 9600);
#else
        handle_ = OpenCommPath(where, 9600);
#endif
    }
    ~Port() { CloseComm(&handle_); }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: cpp_example PORT\n");
        return 2;
    }
    Port port(argv[1]);
    if (!port.get()) {
        std::fprintf(stderr, "cannot open the port\n");
        return 1;
    }
    const unsigned char command[] = {'3', '0'};  // card ejection, parameter "0"
    std::vector<unsigned char> reply(VOLMIRAX_MAX_REPLY_DATA);
    unsigned int length = 0;
    int rc = SendCmd(port.get(), command, sizeof command, reply.data(), &length, 1000, 3000, 500);
    std::printf("SendCmd: %d %s, %u bytes of reply data \"%s\"\n", rc, VolmiraxCodeName(rc), length,
                std::string(reply.begin(), reply.begin() + length).c_str());
    return rc == 0 ? 0 : 1;
}
