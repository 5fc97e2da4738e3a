// USB capture files: pcap and pcapng, as Wireshark, tshark and dumpcap
// write them from the Linux kernel's usbmon and from USBPcap on Windows.
//
// The reader yields one USB packet at a time: when it was captured, the bus,
// the device address, the endpoint, the transfer type, the event and the
// data bytes. It knows nothing of the controller. Memory stays the same
// whatever the file holds: every length read from the file is checked
// against a fixed bound before anything is read by it, and every record is
// read into one buffer of fixed size.
#pragma once

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input.h"

namespace vornlog {

enum class CaptureFormat { TextDump, Pcap, Pcapng };

// The format by the first bytes of a file (fewer than four bytes: a text
// dump).
CaptureFormat detectCaptureFormat(const unsigned char* head, std::size_t size);

// Link types of the packets the reader understands.
inline constexpr std::uint32_t kLinkUsbLinux = 189;        // usbmon, 48-byte header
inline constexpr std::uint32_t kLinkUsbLinuxMmapped = 220; // usbmon, 64-byte header
inline constexpr std::uint32_t kLinkUsbPcap = 249;         // USBPcap, header of its own length

// The largest captured length of one packet that is accepted.
inline constexpr std::uint32_t kMaxCapturedLength = 1 << 20;

// A device on the USB: bus (or USBPcap root hub) and address.
struct UsbDevice {
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    friend bool operator==(const UsbDevice&, const UsbDevice&) = default;
};

// Transfer types, as both usbmon and USBPcap number them.
enum : std::uint8_t { kUsbIsochronous = 0, kUsbInterrupt = 1, kUsbControl = 2, kUsbBulk = 3 };

struct UsbPacket {
    // Its number among the packets of the file, from 1.
    std::uint64_t number = 0;
    // False for a packet on an interface of another link type, or whose USB
    // header is cut short; then nothing below is filled in.
    bool isUsb = false;
    bool hasTime = false;
    std::int64_t timeNs = 0; // since 1970
    int timeDigits = 0;      // decimals of a second that the time stamps resolve
    UsbDevice device;
    std::uint8_t endpoint = 0; // with the direction bit 0x80 (IN)
    std::uint8_t transfer = 0;
    // 'S' submission, 'C' completion, 'E' error (usbmon's own letters;
    // USBPcap's "from the device" bit gives 'C', else 'S').
    char event = 0;
    // The data bytes the capture holds (the snapshot length may have cut
    // them short). Valid until the next packet is read.
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// True for the packets that carry a message: the data of a bulk or
// interrupt transfer on an endpoint other than 0, taken at its submission
// for an OUT transfer and at its completion for an IN transfer.
inline bool carriesMessage(const UsbPacket& p)
{
    if (!p.isUsb || p.size == 0) return false;
    if (p.transfer != kUsbBulk && p.transfer != kUsbInterrupt) return false;
    if ((p.endpoint & 0x7F) == 0) return false;
    return p.event == ((p.endpoint & 0x80) ? 'C' : 'S');
}

class UsbCaptureReader {
public:
    // Reads `stream` (or `file`) whose first bytes, `head`, were read
    // already (empty when it is read from its start).
    UsbCaptureReader(ByteStream& stream, std::string_view head);
    UsbCaptureReader(std::FILE* file, std::string_view head);
    // Reads a capture held in memory.
    explicit UsbCaptureReader(std::string_view bytes);
    ~UsbCaptureReader();
    UsbCaptureReader(const UsbCaptureReader&) = delete;
    UsbCaptureReader& operator=(const UsbCaptureReader&) = delete;

    // The next packet; false at the end of the file, on a read error or at
    // a fault of the file (fault() says which). When reading was
    // interrupted, a block or record whose bytes had not all come is no
    // fault: reading just stops before it.
    bool next(UsbPacket& packet) { return nextInBuffer(packet) || nextRecord(packet); }

    bool readError() const { return error_; }
    bool interrupted() const { return interrupted_; }
    // True once the reader has stopped (the end, an error, a fault).
    bool stopped() const { return stopped_; }
    // What is wrong with a damaged file and its byte offset; "" if nothing.
    const std::string& fault() const { return fault_; }
    CaptureFormat format() const { return format_; }
    // Link types met so far: whether an interface of usbmon or USBPcap was
    // declared.
    bool sawUsbmon() const { return sawUsbmon_; }
    bool sawUsbPcap() const { return sawUsbPcap_; }

    // A pcapng block that is read (not skipped) is at most this long: a
    // packet of the largest accepted length and room for its options.
    static constexpr std::size_t kMaxBlockBody = kMaxCapturedLength + (64 << 10);
    static constexpr std::uint32_t kEnhancedPacketBlock = 6;

private:
    struct Interface {
        std::uint32_t linkType = 0;
        std::uint32_t snapLength = 0; // 0: no limit
        // Time stamps count units of 1/unitsPerSecond, or of 2^-shift s.
        std::uint64_t unitsPerSecond = 1000000;
        int timeDigits = 6; // the decimals of a second that they resolve
        // Added to every time stamp (pcapng's if_tsoffset), in nanoseconds.
        std::int64_t offsetNs = 0;
    };

    // Up to n bytes of the file, whole in memory until the next take; `got`
    // is less than n only at the end of the file.
    const std::uint8_t* take(std::size_t n, std::size_t& got)
    {
        if (buf_ && len_ - pos_ >= n) { // the bytes are in the buffer already
            const std::uint8_t* p = buf_ + pos_;
            pos_ += n;
            offset_ += n;
            got = n;
            return p;
        }
        return takeSlow(n, got);
    }
    void start(std::string_view head);

    // Nearly every block of a pcapng is an Enhanced Packet Block that lies
    // whole in the buffer, and sound: it is read here, in line with the
    // caller. Anything else, and any fault, is left to nextRecord, which
    // reads every kind of record and tells what is wrong.
    [[gnu::always_inline]] bool nextInBuffer(UsbPacket& packet)
    {
        if (format_ != CaptureFormat::Pcapng || stopped_ || !buf_ || len_ - pos_ < 32) return false;
        const std::uint8_t* h = buf_ + pos_;
        const std::uint32_t length = u32(h + 4);
        if (u32(h) != kEnhancedPacketBlock || length < 32 || length % 4 != 0 || length - 12 > kMaxBlockBody ||
            len_ - pos_ < length)
            return false;
        const std::uint8_t* b = h + 8;
        const std::uint32_t body = length - 12, id = u32(b), captured = u32(b + 12);
        if (u32(b + body) != length || id >= interfaces_.size() || captured > body - 20 || captured > kMaxCapturedLength)
            return false;
        const Interface& interface = interfaces_[id];
        if (interface.snapLength != 0 && captured > interface.snapLength) return false;
        pos_ += length;
        offset_ += length;
        this->packet(interface, std::uint64_t(u32(b + 4)) << 32 | u32(b + 8), b + 20, captured, packet);
        return true;
    }
    bool nextRecord(UsbPacket& packet);
    // Moves on to the new content that replaced the stream's old one; false
    // when none came.
    bool beginAgain();
    const std::uint8_t* takeSlow(std::size_t n, std::size_t& got);
    std::uint64_t skip(std::uint64_t n);
    bool fail(const char* what, std::uint64_t offset, std::uint64_t value = 0, std::uint64_t limit = 0);

    // Values in the byte order of the file (or section): one load, turned
    // round when that order is not the machine's.
    [[gnu::always_inline]] std::uint16_t u16(const std::uint8_t* p) const
    {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return swap_ != (std::endian::native == std::endian::big) ? __builtin_bswap16(v) : v;
    }
    [[gnu::always_inline]] std::uint32_t u32(const std::uint8_t* p) const
    {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return swap_ != (std::endian::native == std::endian::big) ? __builtin_bswap32(v) : v;
    }
    std::uint64_t u64(const std::uint8_t* p) const
    {
        return swap_ ? std::uint64_t(u32(p)) << 32 | u32(p + 4) : std::uint64_t(u32(p + 4)) << 32 | u32(p);
    }

    bool capturedLengthFits(const Interface& interface, std::uint32_t captured, std::uint64_t at);
    bool readPcapHeader();
    bool nextPcap(UsbPacket& packet);
    bool nextPcapng(UsbPacket& packet);
    void declare(const Interface& interface);

    // A time stamp counted in units of 1/unitsPerSecond s, in nanoseconds
    // (kept within what 64 bits hold). Microseconds, as usbmon counts, are
    // the common case.
    static std::int64_t nanoseconds(std::uint64_t timestamp, std::uint64_t unitsPerSecond)
    {
        constexpr std::uint64_t kLimit = INT64_MAX / 1000;
        if (unitsPerSecond == 1000000 && timestamp <= kLimit) return static_cast<std::int64_t>(timestamp * 1000);
        return nanosecondsOtherwise(timestamp, unitsPerSecond);
    }
    [[gnu::noinline]] static std::int64_t nanosecondsOtherwise(std::uint64_t timestamp, std::uint64_t unitsPerSecond);

    // a + b, held at the ends of the range.
    static std::int64_t plus(std::int64_t a, std::int64_t b)
    {
        std::int64_t sum;
        if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
        return sum;
    }

    static std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
    static std::uint32_t le32(const std::uint8_t* p)
    {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    }

    // The packet of `size` bytes at `d`, as its interface's link type lays
    // it out.
    [[gnu::always_inline]] void packet(const Interface& interface, std::uint64_t timestamp, const std::uint8_t* d,
                                       std::uint32_t size, UsbPacket& out)
    {
        out.number = ++packets_;
        out.isUsb = false;
        out.size = 0;
        out.hasTime = interface.unitsPerSecond != 0;
        out.timeNs = out.hasTime ? plus(nanoseconds(timestamp, interface.unitsPerSecond), interface.offsetNs) : 0;
        out.timeDigits = interface.timeDigits;
        if (interface.linkType == kLinkUsbLinux || interface.linkType == kLinkUsbLinuxMmapped) {
            // The usbmon header, in the byte order of the machine that captured.
            const std::uint32_t header = interface.linkType == kLinkUsbLinux ? 48 : 64;
            if (size < header) return;
            out.isUsb = true;
            out.event = static_cast<char>(d[8]);
            out.transfer = d[9];
            out.endpoint = d[10];
            // One store for the device: it is read back whole.
            out.device = UsbDevice{u16(d + 12), d[11]};
            // The data are the bytes after the header, as many as were
            // captured: the header's own count (len_cap) is not trusted
            // where the bytes say otherwise.
            out.data = d + header;
            out.size = size - header;
        } else if (interface.linkType == kLinkUsbPcap) {
            // The USBPcap header, always little-endian; it gives its own length.
            // Its length is read only once the 27 bytes it needs are there.
            if (size < 27) return;
            const std::uint16_t header = le16(d);
            if (header < 27 || header > size) return;
            out.isUsb = true;
            out.event = (d[16] & 1) ? 'C' : 'S';
            out.device = UsbDevice{le16(d + 17), le16(d + 19)};
            out.endpoint = d[21];
            out.transfer = d[22];
            // The data are the bytes after the header, whatever its data
            // length field says.
            out.data = d + header;
            out.size = size - header;
        }
    }

    std::unique_ptr<StdioStream> own_;
    ByteStream* stream_ = nullptr;
    std::string_view memory_;
    std::uint8_t* buf_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    bool error_ = false;
    bool interrupted_ = false;
    std::uint64_t offset_ = 0; // bytes of the file handed out so far
    // The first bytes of new content (the stream restarted), held until
    // the old content has ended.
    std::string fresh_;

    CaptureFormat format_ = CaptureFormat::TextDump;
    bool started_ = false;
    bool stopped_ = false;
    bool swap_ = false; // the file (or the section) is big-endian
    std::string fault_;
    std::vector<Interface> interfaces_;
    std::uint64_t packets_ = 0;
    bool sawUsbmon_ = false;
    bool sawUsbPcap_ = false;
};

} // namespace vornlog
