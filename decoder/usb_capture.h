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

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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
bool carriesMessage(const UsbPacket& packet);

class UsbCaptureReader {
public:
    // Reads `file` whose first bytes, `head`, were read already (empty
    // when the file is read from its start).
    UsbCaptureReader(std::FILE* file, std::string_view head);
    // Reads a capture held in memory.
    explicit UsbCaptureReader(std::string_view bytes);
    ~UsbCaptureReader();
    UsbCaptureReader(const UsbCaptureReader&) = delete;
    UsbCaptureReader& operator=(const UsbCaptureReader&) = delete;

    // The next packet; false at the end of the file, on a read error or at
    // a fault of the file (fault() says which).
    bool next(UsbPacket& packet);

    bool readError() const { return error_; }
    // What is wrong with a damaged file and its byte offset; "" if nothing.
    const std::string& fault() const { return fault_; }
    CaptureFormat format() const { return format_; }
    // Link types met so far: whether an interface of usbmon or USBPcap was
    // declared.
    bool sawUsbmon() const { return sawUsbmon_; }
    bool sawUsbPcap() const { return sawUsbPcap_; }

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
    const std::uint8_t* takeSlow(std::size_t n, std::size_t& got);
    std::uint64_t skip(std::uint64_t n);
    bool fail(const char* what, std::uint64_t offset, std::uint64_t value = 0, std::uint64_t limit = 0);

    std::uint16_t u16(const std::uint8_t* p) const
    {
        return swap_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1]) : static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    std::uint32_t u32(const std::uint8_t* p) const
    {
        return swap_ ? (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3])
                     : (std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
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
    void packet(const Interface& interface, std::uint64_t timestamp, const std::uint8_t* data, std::uint32_t size,
                UsbPacket& out);

    std::FILE* file_ = nullptr;
    std::string_view memory_;
    std::uint8_t* buf_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    bool error_ = false;
    std::uint64_t offset_ = 0; // bytes of the file handed out so far

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
