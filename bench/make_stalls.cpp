// Writes a long text dump of a machining job to standard output, with
// times spread over HOURS hours at 500 messages a second (a Data message and
// its reply every 4 ms), and stalls planted in it: every STALL_MINUTES
// minutes the PC program falls silent for 3 s and the buffer runs dry;
// once, at two thirds of the run, the buffer stays dry for 100 s while the
// PC asks for Information. The same arguments always give the same bytes.
//
//   make_stalls HOURS STALL_MINUTES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long long number = 0;

void line(bool pc, long long ms, const std::string& hex)
{
    ++number;
    std::printf("%lld\t%s\t%lld.%03lld000\t%zu\t%s\t.\r\n", number, pc ? "OUT" : "IN", ms / 1000, ms % 1000,
                (hex.size() + 1) / 3, hex.c_str());
}

std::string pair(unsigned v)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", v & 0xFF);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_stalls HOURS STALL_MINUTES\n");
        return 1;
    }
    const long long end = std::atoll(argv[1]) * 3600 * 1000;
    const long long every = std::atoll(argv[2]) * 60 * 1000;
    const long long longStall = end * 2 / 3;
    const std::string data = "44 1F F4 01 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    line(true, 0, "56");
    line(false, 1, "56 56 31 2E 30 35 20 20 20");
    long long ms = 10;
    long long nextStall = every;
    bool longDone = false;
    unsigned seg = 0, fill = 1;
    while (ms < end) {
        seg = (seg + 1) & 0xFF;
        const std::string dry = "01 " + pair(seg) + " 00 00 48 00 00 00 04 80 00 00 00 00";
        if (!longDone && ms >= longStall) {
            longDone = true;
            line(true, ms, data);
            line(false, ms + 1, "44 01 " + dry);
            for (const long long until = ms + 100000; ms < until;) {
                ms += 4;
                line(true, ms, "49");
                line(false, ms + 1, "49 01 " + dry);
            }
        } else if (ms >= nextStall) {
            nextStall += every;
            ms += 3000;
            line(true, ms, data);
            line(false, ms + 1, "44 01 " + dry);
        } else {
            line(true, ms, data);
            line(false, ms + 1, "44 01 " + pair(fill) + " " + pair(seg) + " 00 00 49 00 00 00 04 00 2C 01 00 00");
            fill = 3 - fill;
        }
        ms += 4;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
