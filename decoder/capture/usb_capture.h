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

#include "base/bytes.h"
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
    TimeNs timeNs = 0; // since 1970
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
    // Where its record (pcap) or block (pcapng) lies in the file: from `at`
    // up to `end`.
    std::uint64_t at = 0;
    std::uint64_t end = 0;
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
    // The pcapng blocks that are read; any other is passed over.
    static constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
    static constexpr std::uint32_t kInterfaceDescriptionBlock = 1;
    static constexpr std::uint32_t kObsoletePacketBlock = 2;
    static constexpr std::uint32_t kSimplePacketBlock = 3;
    static constexpr std::uint32_t kEnhancedPacketBlock = 6;

private:
    struct Interface {
        std::uint32_t linkType = 0;
        std::uint32_t snapLength = 0; // 0: no limit
        // Time stamps count units of 1/unitsPerSecond, or of 2^-shift s.
        std::uint64_t unitsPerSecond = 1000000;
        int timeDigits = 6; // the decimals of a second that they resolve
        // Added to every time stamp (pcapng's if_tsoffset), in nanoseconds.
        TimeNs offsetNs = 0;
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

    // One pcapng block, whole in memory: its type, where it begins in the
    // file, its length and its body (the bytes between the length and its
    // copy at the block's end; for a section header, those after its
    // byte-order magic).
    struct Block {
        std::uint32_t type = 0;
        std::uint32_t length = 0;
        std::uint64_t at = 0;
        const std::uint8_t* body = nullptr;
        std::size_t size = 0;
    };
    // The fixed fields of a packet block.
    struct PacketFields {
        std::uint32_t interface = 0;
        std::uint64_t timestamp = 0;
        std::uint32_t captured = 0;
        std::size_t dataAt = 0;  // where the data begin in the body
        bool timed = true;       // a Simple Packet Block has no time stamp
    };

    // What is wrong with a file; its text is written by fail(). `value`,
    // `limit` and `code` fill the text's numbers.
    struct Fault {
        enum Kind : std::uint8_t {
            None,
            FileHeaderCutShort,
            ReservedLinkTypeBits,
            RecordHeaderCutShort,
            RecordCutShort,
            BlockHeaderCutShort,
            SectionHeaderCutShort,
            NoByteOrderMagic,
            UnknownMajorVersion,
            LengthBelowMinimum,
            LengthNotMultipleOf4,
            LengthAboveBound,
            LengthPastEndOfFile,
            LengthCopyDiffers,
            TooManyInterfaces,
            UndeclaredInterface,
            CapturedAboveBound,
            CapturedAboveSnapshot,
            CapturedPastBlock,
            OptionPastBlock,
            OptionLengthNot,
            OptionLengthBelow,
        } kind = None;
        // Small enough to come back in registers.
        std::uint32_t value = 0;
        std::uint32_t limit = 0;
        std::uint16_t code = 0;
        explicit operator bool() const { return kind != None; }
    };

    // The minimum total length of a pcapng block of each type read here.
    static constexpr std::uint32_t minimumBlockLength(std::uint32_t type)
    {
        switch (type) {
        case kSectionHeaderBlock: return 28;
        case kInterfaceDescriptionBlock: return 20;
        case kObsoletePacketBlock: return 32;
        case kSimplePacketBlock: return 16;
        case kEnhancedPacketBlock: return 32;
        default: return 12;
        }
    }
    static constexpr bool readHere(std::uint32_t type)
    {
        return type == kSectionHeaderBlock || type == kInterfaceDescriptionBlock || type == kObsoletePacketBlock ||
               type == kSimplePacketBlock || type == kEnhancedPacketBlock;
    }

    // The checks a block's length meets, on its header alone: above its
    // type's minimum, a multiple of 4 and, for a block that is read, within
    // the reader's bound.
    [[gnu::always_inline]] static Fault lengthFault(std::uint32_t type, std::uint32_t length)
    {
        const std::uint32_t minimum = minimumBlockLength(type);
        if (length < minimum) return {Fault::LengthBelowMinimum, length, minimum};
        if (length % 4 != 0) return {Fault::LengthNotMultipleOf4, length};
        if (readHere(type) && length - 12 > kMaxBlockBody)
            return {Fault::LengthAboveBound, length, std::uint32_t{kMaxBlockBody + 12}};
        return {};
    }
    // Once the whole block is in memory: its length's copy at its end.
    [[gnu::always_inline]] Fault copyFault(const Block& block) const
    {
        const std::uint32_t copy = u32(block.body + block.size);
        if (copy != block.length) return {Fault::LengthCopyDiffers, block.length, copy};
        return {};
    }
    // A packet's captured length within the reader's bound and its
    // interface's snapshot length.
    [[gnu::always_inline]] static Fault capturedFault(const Interface& interface, std::uint32_t captured)
    {
        if (captured > kMaxCapturedLength) return {Fault::CapturedAboveBound, captured, kMaxCapturedLength};
        if (interface.snapLength != 0 && captured > interface.snapLength)
            return {Fault::CapturedAboveSnapshot, captured, interface.snapLength};
        return {};
    }
    // The fixed fields of an Enhanced or obsolete Packet Block.
    [[gnu::always_inline]] PacketFields packetFields(const Block& block) const
    {
        const std::uint8_t* b = block.body;
        PacketFields f;
        f.interface = block.type == kObsoletePacketBlock ? u16(b) : u32(b);
        f.timestamp = std::uint64_t(u32(b + 4)) << 32 | u32(b + 8);
        f.captured = u32(b + 12);
        f.dataAt = 20;
        return f;
    }
    // A packet block's checks: its interface declared, its captured length
    // within the bounds and within the block.
    [[gnu::always_inline]] Fault packetFault(const Block& block, const PacketFields& f) const
    {
        if (f.interface >= interfaces_.size()) return {Fault::UndeclaredInterface, f.interface};
        if (const Fault fault = capturedFault(interfaces_[f.interface], f.captured)) return fault;
        if (f.dataAt + f.captured > block.size) return {Fault::CapturedPastBlock, f.captured};
        return {};
    }
    // Options follow the data and their padding when the block has 4 bytes
    // or more after the data (a Simple Packet Block has none).
    [[gnu::always_inline]] static bool hasOptions(const Block& block, const PacketFields& f)
    {
        return block.size - (f.dataAt + f.captured) >= 4 && block.type != kSimplePacketBlock;
    }
    Fault packetOptionsFault(const Block& block, const PacketFields& f) const;
    // Calls each(code, value, length) for every option of the block from
    // `from` up to its end or to opt_endofopt; the fault of an option that
    // runs past its block, or the first that `each` returns.
    template <class Each>
    Fault forEachOption(const Block& block, std::size_t from, Each each) const;

    // Nearly every block of a pcapng is an Enhanced Packet Block that lies
    // whole in the buffer, sound and without options: it is read here, in
    // line with the caller, after the same checks as any other block.
    // Anything else, and any fault, is left to nextRecord, which reads
    // every kind of block and tells what is wrong.
    [[gnu::always_inline]] bool nextInBuffer(UsbPacket& packet)
    {
        if (format_ != CaptureFormat::Pcapng || stopped_ || !buf_ || len_ - pos_ < 8) return false;
        Block block;
        block.type = u32(buf_ + pos_);
        block.length = u32(buf_ + pos_ + 4);
        if (block.type != kEnhancedPacketBlock || lengthFault(block.type, block.length) ||
            len_ - pos_ < block.length)
            return false;
        block.body = buf_ + pos_ + 8;
        block.size = block.length - 12;
        const PacketFields f = packetFields(block);
        if (copyFault(block) || packetFault(block, f) || hasOptions(block, f)) return false;
        pos_ += block.length;
        offset_ += block.length;
        this->packet(interfaces_[f.interface], f.timestamp, block.body + f.dataAt, f.captured, packet);
        packet.at = offset_ - block.length;
        return true;
    }
    bool nextRecord(UsbPacket& packet);
    // Moves on to the new content that replaced the stream's old one; false
    // when none came.
    bool beginAgain();
    const std::uint8_t* takeSlow(std::size_t n, std::size_t& got);
    std::uint64_t skip(std::uint64_t n);
    // Stops the reader at the fault of the block or record at `at`; false.
    bool fail(const Fault& fault, std::uint64_t at);

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

    bool readPcapHeader();
    bool nextPcap(UsbPacket& packet);
    bool nextPcapng(UsbPacket& packet);
    bool readBlock(Block& block);
    bool readSectionHeader(const Block& block);
    bool readInterface(const Block& block);
    Fault readInterfaceOptions(const Block& block, Interface& interface) const;
    bool readPacket(const Block& block, UsbPacket& packet);
    void declare(const Interface& interface);

    // A time stamp counted in units of 1/unitsPerSecond s, in nanoseconds.
    // Microseconds, as usbmon counts, are the common case.
    static TimeNs nanoseconds(std::uint64_t timestamp, std::uint64_t unitsPerSecond)
    {
        constexpr std::uint64_t kLimit = INT64_MAX / 1000;
        if (unitsPerSecond == 1000000 && timestamp <= kLimit) return static_cast<std::int64_t>(timestamp * 1000);
        return nanosecondsOtherwise(timestamp, unitsPerSecond);
    }
    [[gnu::noinline]] static TimeNs nanosecondsOtherwise(std::uint64_t timestamp, std::uint64_t unitsPerSecond);

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
        out.end = offset_;
        out.isUsb = false;
        out.size = 0;
        out.hasTime = interface.unitsPerSecond != 0;
        // Whatever the time stamp and the offset, the sum fits: both are
        // below 2^64 s.
        out.timeNs = out.hasTime ? nanoseconds(timestamp, interface.unitsPerSecond) + interface.offsetNs : 0;
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
