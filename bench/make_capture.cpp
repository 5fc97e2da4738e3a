// Writes a deterministic, realistic capture of a session with the QMR5V
// controller, as a Windows capture tool records it (six tab-separated
// columns, CRLF line ends), with exactly the number of lines asked for:
//
//   make_capture [--findings] LINES FILE [PCAPNG]
//
// The session is the one a machining job gives: version and flash model
// queries, table reads, buffer reset and source choice, then a long stream
// of Data messages each answered by the controller (now and then a "buffer
// full" reply and the segment sent again), Information requests, PWM, IO1,
// motors and LCD messages along the way, and an end of data and a stop.
// It starts over until the capture has its lines. The same LINES always
// give the same file. With PCAPNG, the same messages are also written as
// the pcapng file that tshark or dumpcap records on Linux's usbmon: each
// message is a bulk transfer of the controller (bus 1, address 7), its
// submission and its completion, with 64-byte usbmon headers.
//
// With --findings, a session full of findings over a long day: the lines
// come 2 to 27 ms apart (1,000,000 lines span about 4 hours), and every
// 15th segment brings, in turn, a refused segment (a Data reply with ST
// 0x00), a Data message left unanswered, or a "buffer full" reply after
// which the PC sends another segment than the refused one: each kind about
// 1.3 s from the next of its kind, so that each makes a finding of its
// own (about 23,000 on 1,000,000 lines).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Message = std::vector<std::uint8_t>;

class Capture {
public:
    Capture(std::FILE* file, long lines, std::FILE* pcapng, bool findings)
        : findings_(findings), file_(file), pcapng_(pcapng), left_(lines)
    {
        if (!pcapng_) return;
        // Section header (little-endian, version 1.0, length unknown) and
        // one usbmon interface (link type 220, snapshot length 262144).
        block(0x0A0D0D0A, {0x4D, 0x3C, 0x2B, 0x1A, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        block(1, {220, 0, 0, 0, 0x00, 0x00, 0x04, 0x00});
    }

    bool full() const { return left_ <= 0; }

    const bool findings_;

    void pc(const Message& m) { line("OUT", m); }
    void controller(const Message& m) { line("IN", m); }

    std::uint32_t random() // xorshift32: the same sequence on every machine
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    int between(int low, int high) { return low + static_cast<int>(random() % static_cast<std::uint32_t>(high - low + 1)); }

private:
    void line(const char* direction, const Message& m)
    {
        if (full()) return;
        --left_;
        ++sequence_;
        milliseconds_ += findings_ ? 2 + random() % 26 : 1 + random() % 9;
        const long ms = milliseconds_;
        char head[64];
        const int n = std::snprintf(head, sizeof head, "%ld\t%s\t%02ld:%02ld:%02ld.%03ld\t%zu\t", sequence_, direction,
                                    ms / 3600000 % 24, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, m.size());
        text_.assign(head, static_cast<std::size_t>(n));
        static constexpr char digits[] = "0123456789ABCDEF";
        for (std::size_t i = 0; i < m.size(); ++i) {
            if (i) text_ += ' ';
            text_ += digits[m[i] >> 4];
            text_ += digits[m[i] & 15];
        }
        text_ += '\t';
        for (std::uint8_t b : m) text_ += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
        text_ += "\r\n";
        std::fwrite(text_.data(), 1, text_.size(), file_);
        if (pcapng_) {
            const bool in = direction[0] == 'I';
            const std::uint64_t us = static_cast<std::uint64_t>(ms) * 1000;
            const Message none;
            urb(in ? 0x81 : 0x01, 'S', us, in ? none : m, in ? 64 : m.size());
            urb(in ? 0x81 : 0x01, 'C', us + 120, in ? m : none, m.size());
        }
    }

    static void le(Message& b, std::uint64_t v, int width)
    {
        for (int k = 0; k < width; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }

    void block(std::uint32_t type, const Message& body)
    {
        Message b;
        const std::size_t length = 12 + (body.size() + 3) / 4 * 4;
        le(b, type, 4);
        le(b, length, 4);
        b.insert(b.end(), body.begin(), body.end());
        b.resize(length - 4, 0);
        le(b, length, 4);
        std::fwrite(b.data(), 1, b.size(), pcapng_);
    }

    // One usbmon event of the controller's bulk endpoint, in an Enhanced
    // Packet Block.
    void urb(std::uint8_t endpoint, char event, std::uint64_t us, const Message& data, std::size_t length)
    {
        packet_.clear();
        le(packet_, 0, 4);                          // interface 0
        le(packet_, us >> 32, 4);                   // time stamp, microseconds
        le(packet_, us & 0xFFFFFFFF, 4);
        le(packet_, 64 + data.size(), 4);           // captured
        le(packet_, 64 + data.size(), 4);           // original
        le(packet_, 0xffff9a0c41f2b000ull + static_cast<std::uint64_t>(sequence_) * 64, 8); // URB id
        packet_.push_back(static_cast<std::uint8_t>(event));
        packet_.push_back(3); // bulk
        packet_.push_back(endpoint);
        packet_.push_back(7);
        le(packet_, 1, 2);
        packet_.push_back('-');
        packet_.push_back(data.empty() ? (event == 'S' ? '<' : '>') : '=');
        le(packet_, us / 1000000, 8);
        le(packet_, us % 1000000, 4);
        le(packet_, event == 'S' ? static_cast<std::uint32_t>(-115) : 0, 4);
        le(packet_, length, 4);
        le(packet_, data.size(), 4);
        le(packet_, 0, 24); // setup, interval, start frame, transfer flags, descriptors
        packet_.insert(packet_.end(), data.begin(), data.end());
        block(6, packet_);
    }

    std::FILE* file_;
    std::FILE* pcapng_;
    long left_;
    long sequence_ = 0;
    long milliseconds_ = 0;
    std::uint32_t state_ = 2463534242u;
    std::string text_;
    Message packet_;
};

void put(Message& m, std::uint32_t value, int width)
{
    for (int k = 0; k < width; ++k) m.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

Message status(std::uint8_t code, std::uint8_t st, int buf, std::uint32_t seg, Capture& c)
{
    Message m{code, st, static_cast<std::uint8_t>(buf)};
    put(m, seg, 3);
    m.push_back(static_cast<std::uint8_t>(0x59 | (c.random() & 0x02))); // FLAG: steps, USB, motors on
    m.push_back(static_cast<std::uint8_t>(0x26 | (c.random() & 0x10))); // INPUT
    m.push_back(0x80);                                                   // PWMA
    m.push_back(0x40);                                                   // PWMM
    m.push_back(0x00);                                                   // KEYB
    m.push_back(0x02);                                                   // STOP
    put(m, static_cast<std::uint32_t>(c.between(0, 4000)), 4);
    return m;
}

void preamble(Capture& c)
{
    c.pc({0x56});
    c.controller({0x56, 'Q', 'M', 'R', '5', 'V', ' ', 'v', '1', '.', '0', '4'});
    c.pc({0x46});
    c.controller({0x46, 0xEF, 0x40, 0x17, 0x00});
    c.pc({0x54, 0x00});
    c.controller({0x54, 0x00, 0x01});
    for (std::uint8_t part : {0x03, 0x05, 0x07}) {
        c.pc({0x54, part, 0x01});
        Message reply{0x54, part, 0x01};
        if (part == 0x03) {
            for (char ch : std::string("ROUTER  ")) reply.push_back(static_cast<std::uint8_t>(ch));
            for (std::uint8_t axis : {0x58, 0x59, 0x5A, 0x41, 0x42}) reply.push_back(axis);
            for (int out = 0; out < 10; ++out) reply.push_back(static_cast<std::uint8_t>(out));
            for (std::uint8_t v : {0x0A, 0x04, 0xFF, 0x1E, 0x05, 0x01, 0x02}) reply.push_back(v);
        } else {
            const int n = part == 0x05 ? 30 : 10;
            for (int i = 0; i < n; ++i) reply.push_back(static_cast<std::uint8_t>(c.random()));
        }
        c.controller(reply);
    }
    c.pc({0x4D, 0x01});
    c.controller({0x4D, 0x01, 0x1E});
    c.pc({0x4F, 0x02});
    c.controller({0x4F, 0x0E});
    c.pc({0x42, 0x00});
    c.controller({0x42, 0xFF});
    c.pc({0x42, 0x01});
    c.controller({0x42, 0xFF});
    c.pc({0x4C, 0x00, 0x00, 0x0C, 'J', 'o', 'b', ' ', 'r', 'u', 'n', 'n', 'i', 'n', 'g', '.'});
    c.controller({0x4C, 0x01});
}

Message segment(Capture& c)
{
    std::uint8_t cmd = static_cast<std::uint8_t>(c.random() & 0x1F);
    const int kind = c.between(0, 9);
    if (kind < 3) cmd |= 0x20;               // acceleration group
    if (kind == 3 || kind == 4) cmd |= 0x60; // PWM and acceleration
    if (kind == 5) cmd |= 0x40;              // PWM alone
    Message m{0x44, cmd};
    put(m, static_cast<std::uint32_t>(c.between(50, 40000)), 4);
    for (int axis = 0; axis < 5; ++axis) put(m, axis < 3 ? static_cast<std::uint32_t>(c.between(0, 20000)) : 0u, 4);
    if (cmd & 0x40) m.push_back(static_cast<std::uint8_t>(c.random()));
    if (cmd & 0x20) {
        m.push_back(static_cast<std::uint8_t>(c.between(1, 40)));
        m.push_back(static_cast<std::uint8_t>(c.between(1, 40)));
        put(m, static_cast<std::uint32_t>(c.between(0, 5000)), 4);
    }
    return m;
}

void job(Capture& c)
{
    std::uint32_t seg = 0;
    int buf = 0;
    const int segments = c.between(2000, 6000);
    for (int i = 0; i < segments && !c.full(); ++i) {
        const Message data = segment(c);
        c.pc(data);
        const int event = c.findings_ && i % 15 == 14 ? i / 15 % 3 : -1;
        if (event == 0) { // refused: not in USB mode; the PC sends it again
            c.controller(status(0x44, 0x00, buf, seg, c));
            c.pc(data);
        } else if (event == 1) { // unanswered; the PC sends it again
            c.pc(data);
        } else if (event == 2) { // buffer full, and another segment sent
            c.controller(status(0x44, 0xFF, 7, seg, c));
            buf = c.between(3, 6);
            c.pc(segment(c));
        } else if (buf >= 7) { // buffer full: the controller refuses, the PC sends it again
            c.controller(status(0x44, 0xFF, 7, seg, c));
            buf = c.between(3, 6);
            c.pc(data);
        }
        ++seg;
        c.controller(status(0x44, 0x01, buf, seg, c));
        buf = std::min(7, buf + c.between(0, 2));
        switch (c.between(0, 59)) {
        case 0:
            c.pc({0x49});
            c.controller(status(0x49, 0x00, buf, seg, c));
            break;
        case 1:
            c.pc({0x50, 0x01, static_cast<std::uint8_t>(c.random())});
            c.controller({0x50, 0x01, 0x03, 0x80, 0x40});
            break;
        case 2:
            c.pc({0x47, 0x01});
            c.controller({0x47, 0x01, 0x04});
            break;
        case 3:
            c.pc({0x53, 0x03});
            c.controller({0x53, 0x02, static_cast<std::uint8_t>(seg), static_cast<std::uint8_t>(seg >> 8), 0x00, 0x10, 0x00,
                          0x00, 0x00});
            break;
        default:
            break;
        }
    }
    c.pc({0x44, 0x80});
    c.controller(status(0x44, 0x01, buf, seg + 1, c));
    c.pc({0x53, 0x01});
    c.controller({0x53, 0x86, static_cast<std::uint8_t>(seg), static_cast<std::uint8_t>(seg >> 8), 0x00, 0, 0, 0, 0});
}

} // namespace

int main(int argc, char** argv)
{
    const bool findings = argc > 1 && std::string(argv[1]) == "--findings";
    if (findings) {
        --argc;
        ++argv;
    }
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_capture [--findings] LINES FILE [PCAPNG]\n");
        return 2;
    }
    const long lines = std::strtol(argv[1], nullptr, 10);
    std::FILE* file = std::fopen(argv[2], "wb");
    if (!file || lines < 0) {
        std::fprintf(stderr, "make_capture: cannot write %s\n", argv[2]);
        return 1;
    }
    std::FILE* pcapng = argc == 4 ? std::fopen(argv[3], "wb") : nullptr;
    if (argc == 4 && !pcapng) {
        std::fprintf(stderr, "make_capture: cannot write %s\n", argv[3]);
        return 1;
    }
    Capture capture(file, lines, pcapng, findings);
    while (!capture.full()) {
        preamble(capture);
        job(capture);
    }
    if (pcapng && std::fclose(pcapng) != 0) return 1;
    return std::fclose(file) == 0 ? 0 : 1;
}
