// Writes the seed corpus: the worked frames of the protocol as fuzz inputs.
//   make_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "wire_model.h"

using Bytes = std::vector<unsigned char>;

static void Put16(Bytes &b, unsigned v)
{
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}

static Bytes Header(int op, unsigned ack, unsigned reply, unsigned eot, const std::string &cmd)
{
    Bytes b = {(unsigned char)op, 0};
    Put16(b, ack + 50);
    Put16(b, reply + 50);
    Put16(b, eot + 50);
    b.insert(b.end(), {0, 0, 0, 0, 0, 0});  // idle step 1 ms, clock, no failures
    b.push_back((unsigned char)cmd.size());
    b.insert(b.end(), cmd.begin(), cmd.end());
    return b;
}

static void Ack(Bytes &b) { b.insert(b.end(), {MODE_ACK, 5, 0, 0, wire::CR}); }
static void Reply(Bytes &b, char marker, const char *status, unsigned dataLen, unsigned char fill, unsigned flags = 0)
{
    b.insert(b.end(), {MODE_REPLY, 5, 0, 0, (unsigned char)marker, (unsigned char)status[0], (unsigned char)status[1]});
    Put16(b, dataLen);
    b.push_back(fill);
    b.push_back((unsigned char)flags);
}
static void Echo(Bytes &b) { b.insert(b.end(), {MODE_ECHO, 2, 0, 0}); }

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    struct Seed { const char *name; Bytes bytes; };
    std::vector<Seed> seeds;
    Bytes b = Header(OP_SEND_CMD, 1000, 3000, 500, "30");
    Ack(b); Reply(b, 'P', "00", 0, 0);  // 02 50 33 30 30 30 03 50 0D
    seeds.push_back({"eject_positive", b});
    b = Header(OP_EJECT, 0, 0, 0, "1");
    Ack(b); Reply(b, 'N', "12", 3, 'x');
    seeds.push_back({"eject_negative", b});
    b = Header(OP_VERSION, 0, 0, 0, "");
    Ack(b); Reply(b, 'P', "00", 16, 'V');
    seeds.push_back({"version", b});
    b = Header(OP_VERSION, 0, 0, 0, "");
    Ack(b); Reply(b, 'P', "00", 991, 'L');
    seeds.push_back({"version_longest", b});
    b = Header(OP_RESET, 0, 0, 0, "00000000");
    Ack(b); Reply(b, 'P', "00", 0, 0);
    seeds.push_back({"reset", b});
    b = Header(OP_SEND_CMD, 300, 300, 200, "<0");
    b.insert(b.end(), {MODE_NOTHING, 0, 0, 0});
    Echo(b);
    seeds.push_back({"silent_then_abort", b});
    b = Header(OP_SEND_CMD, 300, 300, 200, "30");
    Ack(b); Reply(b, 'P', "00", 20, 'n', 4);  // no CR
    Echo(b);
    seeds.push_back({"reply_without_cr", b});
    b = Header(OP_SEND_CMD, 300, 300, 200, "30");
    Ack(b); Reply(b, 'P', "00", 1050, 'o');
    seeds.push_back({"overlong_reply", b});
    b = Header(OP_SEND_EOT, 0, 0, 100, "");
    Echo(b);
    seeds.push_back({"eot", b});
    for (auto &s : seeds) {
        std::string path = std::string(argv[1]) + "/" + s.name;
        FILE *f = fopen(path.c_str(), "wb");
        if (!f)
            return 1;
        fwrite(s.bytes.data(), 1, s.bytes.size(), f);
        fclose(f);
    }
    return 0;
}
