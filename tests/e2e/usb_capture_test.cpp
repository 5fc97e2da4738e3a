// USB capture files (pcap, pcapng; usbmon, USBPcap) decoded by the built
// program: the sample session in every container gives the sample's report
// and CSV byte for byte; the controller is found beside another device;
// damaged files keep what was decoded and end with status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "harness.h"

using e2e::readFile;
using e2e::Result;
using e2e::Sandbox;

namespace {

const std::string kSource = VORNLOG_SOURCE_DIR;
// The console names the device when it is known, and its message count at
// the end.
const std::string kChosen = "USB device 1.7 (bus 1, address 7)\n";
const std::string kDevice = "USB device 1.7 (bus 1, address 7): 73 messages\n";

std::string golden(const std::string& name) { return readFile(kSource + "/tests/e2e/golden/" + name); }
std::string fixture(const std::string& name) { return readFile(kSource + "/tests/usb/captures/" + name); }

void le(std::string& s, std::uint64_t v, int width)
{
    for (int k = 0; k < width; ++k) s += static_cast<char>(k < 8 ? v >> (8 * k) : 0);
}

std::uint32_t le32At(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(s[at + k]);
    return v;
}

void setLe32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k) s[at + k] = static_cast<char>(v >> (8 * k));
}

// A little-endian usbmon pcap (48-byte headers) made here, for the cases the
// fixtures do not hold.
struct Pcap {
    std::string bytes;
    explicit Pcap(std::uint32_t snapLength = 262144, std::uint32_t link = 189)
    {
        le(bytes, 0xA1B2C3D4, 4);
        le(bytes, 2, 2);
        le(bytes, 4, 2);
        le(bytes, 0, 8);
        le(bytes, snapLength, 4);
        le(bytes, link, 4);
    }
    // One usbmon event of bulk endpoint `endpoint` of device 1.7 (or of
    // bus 1's `address`); `keep` data bytes of `data` are captured.
    void event(char type, int endpoint, const std::vector<int>& data, std::size_t keep = SIZE_MAX, int address = 7,
               int bus = 1)
    {
        std::string h;
        le(h, 0x1234, 8);
        h += type;
        h += '\x03';
        h += static_cast<char>(endpoint);
        h += static_cast<char>(address);
        le(h, bus, 2);
        h += "-=";
        le(h, 0, 16); // time and status
        le(h, data.size(), 4);
        le(h, data.size(), 4);
        le(h, 0, 8);
        for (std::size_t i = 0; i < data.size() && i < keep; ++i) h += static_cast<char>(data[i]);
        record(h);
    }
    void record(const std::string& packet, std::uint32_t captured = UINT32_MAX)
    {
        le(bytes, 1796047331, 4);
        le(bytes, 0, 4);
        le(bytes, captured == UINT32_MAX ? packet.size() : captured, 4);
        le(bytes, packet.size(), 4);
        bytes += packet;
    }
};

// Where each pcapng block begins.
std::vector<std::size_t> blocks(const std::string& pcapng)
{
    std::vector<std::size_t> at;
    for (std::size_t p = 0; p + 8 <= pcapng.size(); p += le32At(pcapng, p + 4)) at.push_back(p);
    return at;
}

// A damaged capture: the report keeps what was decoded, standard error
// names the file, the fault and its offset, no "Done".
void expectDamaged(const std::string& capture, const std::string& fault)
{
    Sandbox box;
    box.write("damaged.pcapng", capture);
    const Result r = box.run({"damaged.pcapng", "report.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Damaged capture file, " + fault + ": damaged.pcapng\n");
    EXPECT_EQ(r.out.find("Done"), std::string::npos);
    const std::string report = box.read("report.txt");
    EXPECT_FALSE(report.empty());
    EXPECT_EQ(golden("session.report.txt").compare(0, report.size(), report), 0) << "not the start of the report";
    EXPECT_TRUE(box.viewerCalls(1, 300).empty());
}

} // namespace

TEST(UsbCapture, TheSampleSessionInEveryContainerGivesTheSampleReportAndCsv)
{
    for (const std::string name : {"tests/usb/captures/session-usbmon220.pcap",
                                   "tests/usb/captures/session-usbmon189-be.pcap",
                                   "tests/usb/captures/session-usbmon189-ns.pcap",
                                   "tests/usb/captures/session-usbmon220-be.pcapng",
                                   "tests/usb/captures/session-usbpcap.pcapng", "examples/session.pcapng"}) {
        SCOPED_TRACE(name);
        Sandbox box;
        box.write("capture", readFile(kSource + "/" + name));
        const Result report = box.run({"capture", "report.txt"});
        ASSERT_EQ(report.status, 0) << report.err;
        EXPECT_EQ(report.err, "");
        // Banner, the device, the packets counted (two per message), the
        // device's message count.
        EXPECT_EQ(report.out, "Vornlog (rel. 0.04)\n" + kChosen + "\rAnalyzing line: 146\n" + kDevice + "\nDone");
        EXPECT_EQ(box.read("report.txt"), golden("session.report.txt"));
        ASSERT_EQ(box.run({"-s", "capture", "steps.csv"}).status, 0);
        EXPECT_EQ(box.read("steps.csv"), golden("session.steps.csv"));
    }
}

TEST(UsbCapture, EachSectionOfAPcapngHasItsOwnInterfaces)
{
    // Two sections one after the other: usbmon, then USBPcap.
    Sandbox box;
    box.write("two.pcapng", readFile(kSource + "/examples/session.pcapng") + fixture("session-usbpcap.pcapng"));
    const Result r = box.run({"two.pcapng", "report.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("USB device 1.7 (bus 1, address 7): 146 messages\n"), std::string::npos);
    EXPECT_EQ(box.read("report.txt"), golden("session.report.txt") + golden("session.report.txt"));
}

TEST(UsbCapture, TheControllerIsFoundBesideAnotherDeviceAndDashDPicksOne)
{
    Sandbox box;
    box.write("two.pcapng", fixture("two-devices.pcapng"));
    const Result chosen = box.run({"two.pcapng", "auto.txt"});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_NE(chosen.out.find(kDevice), std::string::npos);
    EXPECT_NE(chosen.out.find("\rAnalyzing line: 393\n"), std::string::npos);
    EXPECT_EQ(box.read("auto.txt"), golden("session.report.txt"));

    ASSERT_EQ(box.run({"-d", "1.7", "-s", "two.pcapng", "picked.csv"}).status, 0);
    EXPECT_EQ(box.read("picked.csv"), golden("session.steps.csv"));

    // The mouse: its interrupt reports, no control transfer.
    const Result mouse = box.run({"-d1.3", "two.pcapng", "mouse.txt"});
    ASSERT_EQ(mouse.status, 0);
    EXPECT_NE(mouse.out.find("USB device 1.3 (bus 1, address 3): 120 messages\n"), std::string::npos);
    const std::string report = box.read("mouse.txt");
    EXPECT_EQ(report.substr(0, 50), " QMR5V :  44 00 00 00\n   => Inst 0x44=Data\n     ST");
    EXPECT_EQ(report.find("PC "), std::string::npos);
    EXPECT_EQ(report.find("12 01 00 02"), std::string::npos);

    // A device that is not on the bus gives nothing; a text dump ignores -d.
    const Result none = box.run({"-d", "2.9", "two.pcapng", "none.txt"});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("USB device 2.9 (bus 2, address 9): 0 messages\n"), std::string::npos);
    EXPECT_EQ(box.read("none.txt"), "");
    box.write("session.txt", readFile(kSource + "/examples/session.txt"));
    const Result text = box.run({"-d", "2.9", "session.txt", "text.txt"});
    EXPECT_EQ(text.out.find("USB device"), std::string::npos);
    EXPECT_EQ(box.read("text.txt"), golden("session.report.txt"));
}

TEST(UsbCapture, EveryMessageIsDecodedWhateverItsLengthAndCutDataReadsAsZero)
{
    Pcap pcap;
    pcap.event('S', 0x01, {0x56});             // a one-byte Version request
    pcap.event('C', 0x01, {});                 // its data-less half
    std::vector<int> data(100, 0x11);          // longer than a capture line holds
    data[0] = 0x44;
    data[1] = 0x00;
    pcap.event('S', 0x02, data);
    pcap.event('C', 0x81, {0x4D, 0x01, 0x1E}, 1); // the snapshot kept one byte
    pcap.event('S', 0x81, {0x4D, 0x01});          // an IN submission is no message
    pcap.event('E', 0x01, {0x56});                // nor is an error event
    Sandbox box;
    box.write("short.pcap", pcap.bytes);
    const Result r = box.run({"short.pcap", "report.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("USB device 1.7 (bus 1, address 7): 3 messages\n"), std::string::npos);
    const std::string report = box.read("report.txt");
    EXPECT_EQ(report.substr(0, 36), "PC     :  56\n   => Inst 0x56=Version");
    std::string longEcho = "PC     :  44 00";
    for (int i = 2; i < 100; ++i) longEcho += " 11";
    EXPECT_NE(report.find(longEcho + "\n   => Inst 0x44=Data\n"), std::string::npos);
    EXPECT_NE(report.find(" QMR5V :  4D\n   => Inst 0x4D=Motors ON/OFF\n"), std::string::npos);
    EXPECT_EQ(report.find(" QMR5V :  4D 01"), std::string::npos);
}

TEST(UsbCapture, DamagedFilesKeepWhatWasDecodedAndEndWithStatus1)
{
    const std::string pcap = fixture("session-usbmon220.pcap");
    std::size_t last = 24;
    while (last + 16 + le32At(pcap, last + 8) < pcap.size()) last += 16 + le32At(pcap, last + 8);
    expectDamaged(pcap.substr(0, pcap.size() - 3), "record cut short at byte offset " + std::to_string(last));
    expectDamaged(pcap.substr(0, last + 9), "record header cut short at byte offset " + std::to_string(last));

    const std::string pcapng = readFile(kSource + "/examples/session.pcapng");
    const std::vector<std::size_t> at = blocks(pcapng);
    ASSERT_GT(at.size(), 100u);
    const std::size_t b = at[60];
    const std::string len = std::to_string(le32At(pcapng, b + 4));
    const std::string where = " at byte offset " + std::to_string(b);
    expectDamaged(pcapng.substr(0, at.back() + 40), "block length " + std::to_string(le32At(pcapng, at.back() + 4)) +
                                                        " runs past the end of the file at byte offset " +
                                                        std::to_string(at.back()));
    std::string damaged = pcapng;
    setLe32(damaged, b + 4, 16);
    expectDamaged(damaged, "block length 16 below its minimum of 32" + where);
    damaged = pcapng;
    setLe32(damaged, b + 4, 0x7FFFFFF0);
    expectDamaged(damaged, "block length 2147483632 above the bound of 1114124" + where);
    damaged = pcapng;
    setLe32(damaged, b + 8, 3);
    expectDamaged(damaged, "packet on interface 3 that was never declared" + where);
    damaged = pcapng;
    setLe32(damaged, b + 20, 0x00200000);
    expectDamaged(damaged, "captured length 2097152 above the bound of 1048576" + where);
    damaged = pcapng;
    setLe32(damaged, b + 8 + le32At(pcapng, b + 4) - 12, 20);
    expectDamaged(damaged, "block length " + len + " differs from its copy at the block's end, 20" + where);

    // A snapshot length of 64 and a record of 65 bytes.
    Pcap small(64);
    small.event('S', 0x01, {0x56});
    small.event('S', 0x01, std::vector<int>(17, 0x56));
    Sandbox box;
    box.write("snap.pcap", small.bytes);
    const Result r = box.run({"snap.pcap", "report.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Damaged capture file, captured length 65 above the snapshot length 64 at byte offset 89: snap.pcap\n");
    EXPECT_EQ(box.read("report.txt"), "PC     :  56\n   => Inst 0x56=Version\n     No paramters\n");
}

TEST(UsbCapture, AFileWithoutUsbInterfaceIsRefusedBeforeTheDestIsTouched)
{
    Pcap ethernet(262144, 1);
    ethernet.record(std::string(60, '\x01'));
    Sandbox box;
    box.write("ether.pcap", ethernet.bytes);
    box.write("kept.txt", "kept");
    for (const std::string dest : {"kept.txt", "new.txt"}) {
        const Result r = box.run({"ether.pcap", dest});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "No USB interface (usbmon or USBPcap) in the capture file: ether.pcap\n");
    }
    EXPECT_EQ(box.read("kept.txt"), "kept");
    EXPECT_FALSE(box.exists("new.txt"));
    // Not even a whole file header: a damaged file, and nothing written.
    box.write("cut.pcap", ethernet.bytes.substr(0, 10));
    const Result r = box.run({"cut.pcap", "kept.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No USB interface before the damage (file header cut short at byte offset 0) in the capture file: "
                     "cut.pcap\n");
    EXPECT_EQ(box.read("kept.txt"), "kept");
}

TEST(UsbCapture, CapturesAndTextDumpsReadFromAPipeDecodeTheSame)
{
    for (const std::string name : {"examples/session.pcapng", "examples/session.txt"}) {
        SCOPED_TRACE(name);
        Sandbox box;
        ASSERT_EQ(mkfifo(box.path("pipe").c_str(), 0600), 0);
        const std::string capture = readFile(kSource + "/" + name);
        std::thread writer([&] { std::ofstream(box.path("pipe"), std::ios::binary) << capture; });
        const Result r = box.run({"pipe", "report.txt"});
        writer.join();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(box.read("report.txt"), golden("session.report.txt"));
        // The viewer holds nothing of the run: neither the capture, nor
        // the report, nor a temporary copy of what the pipe brought.
        ASSERT_EQ(box.viewerCalls(1).size(), 1u);
        const std::vector<std::string> files = box.viewerFiles();
        EXPECT_FALSE(files.empty());
        for (const std::string& file : files) {
            EXPECT_EQ(file.find("(deleted)"), std::string::npos) << file;
            EXPECT_TRUE(!file.starts_with(box.dir()) || file == box.path(".bin/xdg-open")) << file;
        }
    }
}

TEST(UsbCapture, TheInterfacesTimeOffsetIsAddedToEveryTimeStamp)
{
    // The fixture's interface block (the second block) again, with an
    // if_tsoffset option before its end of options.
    const std::string pcapng = fixture("session-usbpcap.pcapng");
    const std::size_t idb = blocks(pcapng).at(1);
    const std::uint32_t length = le32At(pcapng, idb + 4);
    auto withOffset = [&](std::int64_t seconds) {
        std::string block = pcapng.substr(idb, length - 8);
        le(block, 14, 2);
        le(block, 8, 2);
        le(block, static_cast<std::uint64_t>(seconds), 8);
        le(block, 0, 4);
        le(block, length + 12, 4);
        setLe32(block, 4, length + 12);
        return pcapng.substr(0, idb) + block + pcapng.substr(idb + length);
    };
    auto startAndEnd = [](const std::string& summary) {
        const std::size_t at = summary.find("  Start ");
        return at == std::string::npos ? summary : summary.substr(at, summary.find("  Duration") - at);
    };
    const struct {
        std::int64_t seconds;
        const char* start;
        const char* end;
    } cases[] = {
        {86400, "2026-12-01 14:02:11.521000", "2026-12-01 14:02:13.334150"},
        // 2026-01-01 back to 1970-01-01.
        {-1767225600, "1970-11-30 14:02:11.521000", "1970-11-30 14:02:13.334150"},
    };
    for (const auto& c : cases) {
        Sandbox box;
        box.write("offset.pcapng", withOffset(c.seconds));
        const Result r = box.run({"-n", "-t", "offset.pcapng", "summary.txt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(startAndEnd(box.read("summary.txt")),
                  std::string("  Start                                   ") + c.start + " UTC\n" +
                      "  End                                     " + c.end + " UTC\n")
            << c.seconds;
        // The report does not show times.
        ASSERT_EQ(box.run({"-n", "offset.pcapng", "report.txt"}).status, 0);
        EXPECT_EQ(box.read("report.txt"), golden("session.report.txt"));
    }
}

// The summary of a USB capture counts what the summary of its text dump
// counts, and the one-byte request that the text dump's length filter
// passes over as well.
TEST(UsbCapture, SummaryCountsTheMessagesOfTheTextDumpAndThoseItsFilterSkips)
{
    const std::vector<int> version = {0x56, 0x56, 0x31, 0x2E, 0x30, 0x34, 0x20, 0x51, 0x4D, 0x52, 0x35, 0x56};
    const std::vector<int> motors = {0x4D, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    Pcap pcap;
    pcap.event('S', 0x01, {0x56});
    pcap.event('C', 0x01, {});
    pcap.event('S', 0x81, {});
    pcap.event('C', 0x81, version);
    pcap.event('S', 0x02, motors);
    pcap.event('C', 0x02, {});
    pcap.event('S', 0x81, {});
    pcap.event('C', 0x81, motors);
    const std::string text = "1\tOUT\t00:00:01.000\t1\t56\r\n"
                             "2\tIN\t00:00:01.004\t12\t56 56 31 2E 30 34 20 51 4D 52 35 56\r\n"
                             "3\tOUT\t00:00:01.010\t8\t4D 01 00 00 00 00 00 00\r\n"
                             "4\tIN\t00:00:01.014\t8\t4D 01 00 00 00 00 00 00\r\n";
    Sandbox box;
    box.write("exchange.pcap", pcap.bytes);
    box.write("exchange.txt", text);
    ASSERT_EQ(box.run({"-n", "-t", "exchange.pcap", "usb.txt"}).status, 0);
    ASSERT_EQ(box.run({"-n", "-t", "exchange.txt", "text.txt"}).status, 0);
    const std::string usb = box.read("usb.txt");
    const std::string dump = box.read("text.txt");
    auto row = [](const std::string& summary, const std::string& start) {
        const std::size_t at = summary.find("\n" + start);
        return at == std::string::npos ? std::string() : summary.substr(at + 1, summary.find('\n', at + 1) - at - 1);
    };
    auto counts = [](int pc, int qmr5v, int noReply, int answersNothing) {
        char text[80];
        std::snprintf(text, sizeof text, "%5d    %5d      %5d            %5d", pc, qmr5v, noReply, answersNothing);
        return std::string(text);
    };
    EXPECT_EQ(row(usb, "  0x4D M"), row(dump, "  0x4D M"));
    EXPECT_NE(row(dump, "  0x4D M").find(counts(1, 1, 0, 0)), std::string::npos) << dump;
    // The Version request sits on a short line, which the report passes
    // over; the summary reads it, as the USB capture's.
    EXPECT_NE(row(dump, "  0x56 V").find(counts(1, 1, 0, 0)), std::string::npos) << dump;
    EXPECT_NE(row(usb, "  0x56 V").find(counts(1, 1, 0, 0)), std::string::npos) << usb;
    EXPECT_NE(row(dump, "    on lines of 40 characters or fewer").find(" 1  line 1"), std::string::npos) << dump;
    EXPECT_NE(row(usb, "  Messages decoded").find(" 4"), std::string::npos) << usb;
    EXPECT_NE(row(dump, "  Messages decoded").find(" 4"), std::string::npos) << dump;
}

// A quiet run's console is the null device: the viewer inherits it no
// more than the capture or the dest (its standard streams are the null
// device too, and nothing else is).
TEST(UsbCapture, TheViewerOfAQuietRunInheritsNoFileOfIt)
{
    Sandbox box;
    e2e::Redirect io;
    io.pipeInput = true;
    io.input = fixture("two-devices.pcapng");
    const Result r = box.run({"-q", "-", "report.txt"}, io);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(box.read("report.txt"), golden("session.report.txt"));
    ASSERT_EQ(box.viewerCalls(1).size(), 1u);
    const std::vector<std::string> files = box.viewerFiles();
    EXPECT_EQ(std::count(files.begin(), files.end(), "/dev/null"), 3) << "beside its standard streams";
    for (const std::string& file : files) {
        EXPECT_EQ(file.find("(deleted)"), std::string::npos) << file;
        EXPECT_TRUE(!file.starts_with(box.dir()) || file == box.path(".bin/xdg-open")) << file;
    }
}

// The device is recognised by its first answer, however late; the packets
// held before it are bounded, and a message of it pushed out of them is
// counted on the console. A capture without an answer takes the device that
// sent instruction codes alone, never the mouse.
TEST(UsbCapture, TheDeviceIsTheFirstThatAnswersAnInstruction)
{
    const std::vector<int> version = {0x56, 0x51, 0x4D, 0x52, 0x35, 0x56};
    auto mouse = [](Pcap& pcap, int reports) {
        for (int i = 0; i < reports; ++i) pcap.event('C', 0x81, {0x44, 0x00, 0x01, 0x00}, SIZE_MAX, 3);
    };
    {
        Pcap pcap;
        pcap.event('C', 0x81, version); // a reply whose request came before the capture
        mouse(pcap, 17000);             // more than the packets held
        pcap.event('S', 0x01, {0x56});
        pcap.event('C', 0x81, version);
        Sandbox box;
        box.write("late.pcap", pcap.bytes);
        const Result r = box.run({"-n", "late.pcap", "report.txt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\nUSB device 1.7 (bus 1, address 7)\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\rAnalyzing line: 17003\nUSB device 1.7 (bus 1, address 7): 2 messages (and 1 before it "
                             "was recognised, passed over)\n\nDone"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(box.read("report.txt").substr(0, 36), "PC     :  56\n   => Inst 0x56=Version");
    }
    {
        Pcap pcap; // the PC's requests alone, and the mouse
        mouse(pcap, 3);
        pcap.event('S', 0x01, {0x56});
        pcap.event('S', 0x01, {0x46});
        Sandbox box;
        box.write("requests.pcap", pcap.bytes);
        const Result r = box.run({"-n", "requests.pcap", "report.txt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(kChosen + "\rAnalyzing line: 5\nUSB device 1.7 (bus 1, address 7): 2 messages\n"),
                  std::string::npos)
            << r.out;
    }
    {
        Pcap pcap; // the mouse alone, though its reports begin with 0x44
        mouse(pcap, 3);
        Sandbox box;
        box.write("mouse.pcap", pcap.bytes);
        const Result r = box.run({"-n", "mouse.pcap", "report.txt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\nNo USB device answered the PC's instructions: -d BUS.ADDR names the one to decode\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(box.read("report.txt"), "");
    }
}

TEST(UsbCapture, WiresharksStructuralChecksAndNoLimitThatChangesTheDevice)
{
    const std::string pcapng = readFile(kSource + "/examples/session.pcapng");
    const std::vector<std::size_t> at = blocks(pcapng);
    ASSERT_GT(at.size(), 100u);
    const std::size_t b = at[60];
    const std::string where = " at byte offset " + std::to_string(b);
    std::string damaged = pcapng;
    const std::uint32_t len = le32At(pcapng, b + 4);
    setLe32(damaged, b + 4, len + 2);
    expectDamaged(damaged, "block length " + std::to_string(len + 2) + " not a multiple of 4" + where);
    {
        Pcap pcap(262144, 189 | 0x00010000); // a reserved bit of the link type field
        pcap.event('S', 0x01, {0x56});
        Sandbox box;
        box.write("reserved.pcap", pcap.bytes);
        const Result r = box.run({"reserved.pcap", "report.txt"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "No USB interface before the damage (link type field 65725 with reserved bits set at byte offset "
                         "20) in the capture file: reserved.pcap\n");
    }
    {
        // 4,100 devices send an instruction code first; the controller, met
        // after them, is still the one that answers.
        Pcap pcap;
        for (int d = 0; d < 4100; ++d) pcap.event('S', 0x01, {0x53, 0x00}, SIZE_MAX, 1 + d % 127, 2 + d / 127);
        pcap.event('S', 0x01, {0x56}, SIZE_MAX, 9, 40);
        pcap.event('C', 0x81, {0x56, 0x51, 0x4D, 0x52, 0x35, 0x56}, SIZE_MAX, 9, 40);
        Sandbox box;
        box.write("many.pcap", pcap.bytes);
        const Result r = box.run({"-n", "many.pcap", "report.txt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("USB device 40.9 (bus 40, address 9): 2 messages"), std::string::npos) << r.out;
    }
}
