// Test helper: turns the messages of a text dump into the USB packets that
// carried them, for the capture fixtures of tests/usb (make-fixtures.sh).
//
//   fixture_writer hex LINK DUMP          text2pcap input on standard output
//   fixture_writer pcap-be LINK DUMP FILE a big-endian pcap, written whole
//   fixture_writer pcapng-be LINK DUMP FILE  a big-endian pcapng, likewise
//   fixture_writer other-device DUMP      text2pcap input (usbmon 220) of a
//                                         second device on the same bus
//   fixture_writer random SEED FILE       a pcapng (usbmon 220) of random
//                                         controller traffic beside a mouse
//                                         and a disk
//
// LINK is 189 or 220 (usbmon) or 249 (USBPcap). Every message becomes one
// transfer of the controller (bus 1, address 7) on its bulk endpoints 0x01
// (OUT, from the PC) and 0x81 (IN): a submission and a completion, the data
// in the submission of an OUT transfer and in the completion of an IN one,
// at the time of the capture line. The other device (bus 1, address 3) is a
// mouse with interrupt reports and control transfers; for the controller it
// adds a control transfer, an error event and a zero-length packet, none of
// which is a message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Packet {
    std::int64_t timeUs = 0;
    Bytes bytes; // USB header and data
};

struct Transfer {
    std::int64_t timeUs = 0;
    std::uint16_t bus = 1;
    std::uint8_t device = 7;
    std::uint8_t endpoint = 0x01;
    std::uint8_t type = 3; // bulk
    Bytes data;
    std::uint32_t inLength = 64; // what an IN submission asks for
};

bool bigEndian = false;

void put(Bytes& b, std::uint64_t v, int width)
{
    for (int k = 0; k < width; ++k) {
        const int shift = bigEndian ? 8 * (width - 1 - k) : 8 * k;
        b.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void putLe(Bytes& b, std::uint64_t v, int width)
{
    for (int k = 0; k < width; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

// Days since 1970-01-01 of a civil date.
std::int64_t days(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t(era) * 146097 + doe - 719468;
}

// "2026-11-30 14:02:11.521" in microseconds since 1970.
std::int64_t parseTime(const std::string& t)
{
    int y, mo, d, h, mi, s, ms;
    if (std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms) != 7) return 0;
    return ((days(y, mo, d) * 24 + h) * 60 + mi) * 60 * 1000000LL + s * 1000000LL + ms * 1000LL;
}

std::vector<Transfer> readDump(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    std::vector<Transfer> transfers;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cols;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, '\t');) cols.push_back(c);
        if (cols.size() < 5) continue;
        Transfer t;
        t.timeUs = parseTime(cols[2]);
        t.endpoint = cols[1][0] == 'O' ? 0x01 : 0x81;
        std::stringstream hex(cols[4]);
        for (std::string pair; hex >> pair;)
            t.data.push_back(static_cast<std::uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
        transfers.push_back(t);
    }
    return transfers;
}

// One usbmon event: header (48 or 64 bytes) and the data it carries.
Packet usbmon(int link, const Transfer& t, char event, std::int64_t timeUs, const Bytes& data, std::uint32_t length,
              std::int32_t status, std::uint64_t id)
{
    Packet p;
    p.timeUs = timeUs;
    Bytes& b = p.bytes;
    put(b, id, 8);
    b.push_back(static_cast<std::uint8_t>(event));
    b.push_back(t.type);
    b.push_back(t.endpoint);
    b.push_back(t.device);
    put(b, t.bus, 2);
    b.push_back(event == 'S' && t.type == 2 ? 0 : '-'); // flag_setup
    b.push_back(data.empty() ? (event == 'S' ? '<' : '>') : '=');
    put(b, static_cast<std::uint64_t>(timeUs / 1000000), 8);
    put(b, static_cast<std::uint32_t>(timeUs % 1000000), 4);
    put(b, static_cast<std::uint32_t>(status), 4);
    put(b, length, 4);
    put(b, data.size(), 4);
    put(b, 0, 8); // setup packet
    if (link == 220) {
        put(b, t.type == 1 ? 8 : 0, 4); // interval
        put(b, 0, 4);
        put(b, 0, 4);
        put(b, 0, 4);
    }
    b.insert(b.end(), data.begin(), data.end());
    return p;
}

Packet usbpcap(const Transfer& t, bool completion, std::int64_t timeUs, const Bytes& data, std::uint64_t id)
{
    Packet p;
    p.timeUs = timeUs;
    Bytes& b = p.bytes;
    putLe(b, 27, 2);
    putLe(b, id, 8);
    putLe(b, 0, 4);      // USBD_STATUS_SUCCESS
    putLe(b, 0x0009, 2); // URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER
    b.push_back(completion ? 1 : 0);
    putLe(b, t.bus, 2);
    putLe(b, t.device, 2);
    b.push_back(t.endpoint);
    b.push_back(t.type);
    putLe(b, data.size(), 4);
    b.insert(b.end(), data.begin(), data.end());
    return p;
}

// The submission and the completion of a transfer.
void transferPackets(int link, const Transfer& t, std::uint64_t id, std::vector<Packet>& out)
{
    const bool in = t.endpoint & 0x80;
    const Bytes none;
    const std::int64_t done = t.timeUs + 150;
    if (link == 249) {
        out.push_back(usbpcap(t, false, t.timeUs, in ? none : t.data, id));
        out.push_back(usbpcap(t, true, done, in ? t.data : none, id));
        return;
    }
    const std::uint32_t length = in ? t.inLength : static_cast<std::uint32_t>(t.data.size());
    out.push_back(usbmon(link, t, 'S', t.timeUs, in ? none : t.data, length, -115, id));
    out.push_back(usbmon(link, t, 'C', done, in ? t.data : none, static_cast<std::uint32_t>(t.data.size()), 0, id));
}

void writeHex(const std::vector<Packet>& packets)
{
    for (const Packet& p : packets) {
        const std::int64_t s = p.timeUs / 1000000;
        std::printf("%lld.%06lld\n", static_cast<long long>(s), static_cast<long long>(p.timeUs % 1000000));
        for (std::size_t i = 0; i < p.bytes.size(); ++i) {
            if (i % 16 == 0) std::printf("%s%06zx ", i ? "\n" : "", i);
            std::printf(" %02x", p.bytes[i]);
        }
        std::printf("\n\n");
    }
}

std::vector<Packet> sessionPackets(int link, const char* dump)
{
    std::vector<Packet> packets;
    std::uint64_t id = 0xffff9a0c41f2b000ull;
    for (const Transfer& t : readDump(dump)) transferPackets(link, t, id += 0x40, packets);
    return packets;
}

// A mouse at address 3 and stray traffic of the controller that carries no
// message, interleaved with the session by time.
std::vector<Packet> otherDevice(const char* dump)
{
    std::vector<Packet> packets;
    const std::vector<Transfer> session = readDump(dump);
    std::uint64_t id = 0xffff9a0c52aa1000ull;
    const std::int64_t start = session.front().timeUs - 5000;
    // The controller's descriptor read on endpoint 0: a control transfer
    // whose data begins like a Data message.
    Transfer control;
    control.timeUs = start;
    control.type = 2;
    control.endpoint = 0x80;
    control.data = {0x44, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x40};
    transferPackets(220, control, id += 0x40, packets);
    // The same for the mouse.
    control.device = 3;
    control.timeUs = start + 1000;
    control.data = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08};
    transferPackets(220, control, id += 0x40, packets);
    // An error event and a zero-length OUT packet of the controller.
    Transfer stray;
    stray.timeUs = start + 2000;
    packets.push_back(usbmon(220, stray, 'E', stray.timeUs, {}, 0, -71, id += 0x40));
    stray.timeUs += 500;
    transferPackets(220, stray, id += 0x40, packets);
    // Mouse reports, more of them than the controller has messages; some
    // begin with a byte that is an instruction code.
    for (int i = 0; i < 120; ++i) {
        Transfer report;
        report.device = 3;
        report.endpoint = 0x81;
        report.type = 1;
        report.inLength = 4;
        report.timeUs = start + 3000 + i * 2500;
        report.data = {static_cast<std::uint8_t>(i % 10 == 0 ? 0x44 : 0x01), static_cast<std::uint8_t>(i & 7),
                       static_cast<std::uint8_t>(-(i & 3)), 0x00};
        transferPackets(220, report, id += 0x40, packets);
    }
    return packets;
}

// Random messages of the controller (1.7), every instruction in both
// directions with sub-commands that mean something and some that do not,
// short and long, an unknown code now and then, most requests answered with
// their code; beside them a mouse (1.3) and a disk on another bus at the
// same address (2.7) whose data may begin with an instruction code.
std::vector<Packet> randomDevices(unsigned seed)
{
    std::mt19937 random(seed);
    auto below = [&random](unsigned n) { return static_cast<unsigned>(random() % n); };
    const std::uint8_t codes[] = {0x42, 0x44, 0x46, 0x47, 0x49, 0x4C, 0x4D, 0x4F, 0x50, 0x53, 0x54, 0x56, 0x5A, 0x41};
    const std::uint8_t firsts[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x10, 0x11, 0x1F, 0x61, 0x80, 0xFF};
    const std::size_t lengths[] = {1, 2, 3, 4, 5, 9, 11, 12, 13, 16, 26, 27, 32, 33};
    auto message = [&](std::uint8_t code) {
        Bytes b{code};
        const std::size_t length = below(4) == 0 ? 1 + below(40) : lengths[below(std::size(lengths))];
        for (std::size_t i = 1; i < length; ++i) {
            std::uint8_t v = static_cast<std::uint8_t>(random());
            if (i == 1 && below(4) != 0) v = firsts[below(std::size(firsts))];
            if (code == 0x5A && i <= 2 && below(3) != 0) v = i == 1 ? 0x55 : 0xAA; // the reset sequence
            if (i > 2 && below(3) == 0) v = static_cast<std::uint8_t>(below(4)); // small values: valid counts
            b.push_back(v);
        }
        return b;
    };

    std::vector<Packet> packets;
    std::uint64_t id = 0xffff9a0c41f2b000ull;
    const std::int64_t start = 1796220000000000LL;
    std::int64_t t = start;
    for (int i = 0; i < 150; ++i) {
        Transfer request;
        request.timeUs = t += 1000 + below(3000);
        const bool interrupt = below(10) == 0;
        request.type = interrupt ? 1 : 3;
        request.endpoint = interrupt ? 0x02 : 0x01;
        const std::uint8_t code = below(12) == 0 ? static_cast<std::uint8_t>(random()) : codes[below(std::size(codes))];
        request.data = message(code);
        transferPackets(220, request, id += 0x40, packets);
        if (below(10) == 0) continue; // no answer
        Transfer reply = request;
        reply.timeUs = t += 500 + below(1000);
        reply.endpoint = interrupt ? 0x82 : 0x81;
        reply.data = message(below(15) == 0 ? codes[below(std::size(codes))] : code);
        transferPackets(220, reply, id += 0x40, packets);
    }
    const std::int64_t end = t;
    for (t = start; t < end; t += 2000 + below(6000)) {
        Transfer report; // the mouse
        report.device = 3;
        report.endpoint = 0x81;
        report.type = 1;
        report.inLength = 4;
        report.timeUs = t;
        report.data = {below(3) == 0 ? codes[below(std::size(codes))] : std::uint8_t(below(8)),
                       static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()), 0};
        transferPackets(220, report, id += 0x40, packets);
    }
    for (t = start + 700; t < end; t += 5000 + below(9000)) {
        // The disk: a command block, data one way or the other, a status.
        Transfer disk;
        disk.bus = 2;
        disk.device = 7;
        disk.timeUs = t;
        disk.endpoint = 0x02;
        disk.data = {'U', 'S', 'B', 'C'};
        disk.data.resize(31, 0);
        transferPackets(220, disk, id += 0x40, packets);
        disk.timeUs += 300;
        disk.endpoint = below(2) ? 0x02 : 0x81;
        disk.data.assign(16 + below(48), 0);
        for (auto& v : disk.data) v = static_cast<std::uint8_t>(random());
        disk.data[0] = codes[below(std::size(codes))];
        disk.inLength = static_cast<std::uint32_t>(disk.data.size());
        transferPackets(220, disk, id += 0x40, packets);
        disk.timeUs += 300;
        disk.endpoint = 0x81;
        disk.data = {'U', 'S', 'B', 'S'};
        disk.data.resize(13, 0);
        transferPackets(220, disk, id += 0x40, packets);
    }
    std::stable_sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.timeUs < b.timeUs; });
    return packets;
}

void writePcapBe(int link, const std::vector<Packet>& packets, const char* name)
{
    Bytes b;
    put(b, 0xA1B2C3D4, 4);
    put(b, 2, 2);
    put(b, 4, 2);
    put(b, 0, 4);
    put(b, 0, 4);
    put(b, 262144, 4);
    put(b, static_cast<std::uint32_t>(link), 4);
    for (const Packet& p : packets) {
        put(b, static_cast<std::uint32_t>(p.timeUs / 1000000), 4);
        put(b, static_cast<std::uint32_t>(p.timeUs % 1000000), 4);
        put(b, p.bytes.size(), 4);
        put(b, p.bytes.size(), 4);
        b.insert(b.end(), p.bytes.begin(), p.bytes.end());
    }
    std::FILE* f = std::fopen(name, "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) std::exit(1);
}

// A pcapng block: type, length, body padded to 4 bytes, length again.
void block(Bytes& out, std::uint32_t type, const Bytes& body)
{
    const std::size_t length = 12 + (body.size() + 3) / 4 * 4;
    put(out, type, 4);
    put(out, length, 4);
    out.insert(out.end(), body.begin(), body.end());
    out.resize(out.size() + (length - 12 - body.size()), 0);
    put(out, length, 4);
}

// A pcapng in the byte order `bigEndian` says.
void writePcapng(int link, const std::vector<Packet>& packets, const char* name)
{
    Bytes b, body;
    put(body, 0x1A2B3C4D, 4); // byte-order magic
    put(body, 1, 2);
    put(body, 0, 2);
    put(body, ~0ull, 8);
    block(b, 0x0A0D0D0A, body);
    body.clear();
    put(body, static_cast<std::uint32_t>(link), 2);
    put(body, 0, 2);
    put(body, 262144, 4);
    block(b, 1, body);
    for (const Packet& p : packets) {
        body.clear();
        put(body, 0, 4);
        put(body, static_cast<std::uint64_t>(p.timeUs) >> 32, 4);
        put(body, static_cast<std::uint64_t>(p.timeUs) & 0xFFFFFFFF, 4);
        put(body, p.bytes.size(), 4);
        put(body, p.bytes.size(), 4);
        body.insert(body.end(), p.bytes.begin(), p.bytes.end());
        block(b, 6, body);
    }
    std::FILE* f = std::fopen(name, "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hex" && argc == 4) {
        writeHex(sessionPackets(std::atoi(argv[2]), argv[3]));
    } else if (mode == "pcap-be" && argc == 5) {
        bigEndian = true;
        writePcapBe(std::atoi(argv[2]), sessionPackets(std::atoi(argv[2]), argv[3]), argv[4]);
    } else if (mode == "pcapng-be" && argc == 5) {
        bigEndian = true;
        writePcapng(std::atoi(argv[2]), sessionPackets(std::atoi(argv[2]), argv[3]), argv[4]);
    } else if (mode == "random" && argc == 4) {
        writePcapng(220, randomDevices(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10))), argv[3]);
    } else if (mode == "other-device" && argc == 3) {
        writeHex(otherDevice(argv[2]));
    } else {
        std::fprintf(stderr, "usage: fixture_writer hex LINK DUMP | pcap-be LINK DUMP FILE | pcapng-be LINK DUMP FILE | "
                             "other-device DUMP | random SEED FILE\n");
        return 2;
    }
    return 0;
}
