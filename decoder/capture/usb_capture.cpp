#include "usb_capture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vornlog {

namespace {

constexpr std::uint32_t kPcapMicro = 0xA1B2C3D4;
constexpr std::uint32_t kPcapNano = 0xA1B23C4D;
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kObsoletePacket = 2;
constexpr std::uint32_t kSimplePacket = 3;
constexpr std::uint32_t kEnhancedPacket = UsbCaptureReader::kEnhancedPacketBlock;

// The buffer holds the longest block that is read (not skipped), whole.
constexpr std::size_t kBufferSize = UsbCaptureReader::kMaxBlockBody + 16;
// The file is read this much at a time.
constexpr std::size_t kChunk = 1 << 18;
// More interfaces than this in one section make a damaged file: far beyond
// any capture (a machine has a few dozen USB buses), it only bounds what a
// hostile file can make the reader hold. The fault names the bound.
constexpr std::size_t kMaxInterfaces = 1 << 20;

std::uint32_t swap32(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The minimum total length of a pcapng block of each type read here.
std::uint32_t minimumBlockLength(std::uint32_t type)
{
    switch (type) {
    case kSectionHeader: return 28;
    case kInterfaceDescription: return 20;
    case kObsoletePacket: return 32;
    case kSimplePacket: return 16;
    case kEnhancedPacket: return 32;
    default: return 12;
    }
}

// The decimals of a second that time stamps in units of 1/unitsPerSecond s
// resolve: 6 for microseconds, 7 for 2^-20 s; nanoseconds at most.
int fractionDigits(std::uint64_t unitsPerSecond)
{
    int digits = 0;
    for (std::uint64_t resolved = 1; resolved < unitsPerSecond && digits < 9; resolved *= 10) ++digits;
    return digits;
}

// Seconds in nanoseconds, held at the ends of the range.
std::int64_t secondsInNanoseconds(std::int64_t seconds)
{
    std::int64_t ns;
    if (__builtin_mul_overflow(seconds, std::int64_t{1000000000}, &ns)) return seconds > 0 ? INT64_MAX : INT64_MIN;
    return ns;
}

} // namespace

CaptureFormat detectCaptureFormat(const unsigned char* head, std::size_t size)
{
    if (size < 4) return CaptureFormat::TextDump;
    const std::uint32_t magic = le32(head);
    if (magic == kPcapMicro || magic == kPcapNano || magic == swap32(kPcapMicro) || magic == swap32(kPcapNano))
        return CaptureFormat::Pcap;
    if (magic == kSectionHeader) return CaptureFormat::Pcapng;
    return CaptureFormat::TextDump;
}

UsbCaptureReader::UsbCaptureReader(std::FILE* file, std::string_view head)
    : own_(std::make_unique<StdioStream>(file)), stream_(own_.get())
{
    start(head);
}

UsbCaptureReader::UsbCaptureReader(ByteStream& stream, std::string_view head) : stream_(&stream) { start(head); }

void UsbCaptureReader::start(std::string_view head)
{
    buf_ = static_cast<std::uint8_t*>(std::malloc(kBufferSize));
    if (!buf_) throw std::bad_alloc();
    len_ = std::min(head.size(), kBufferSize);
    if (len_ != 0) std::memcpy(buf_, head.data(), len_);
    // The format by the first four bytes; they stay in the buffer.
    std::size_t got = 0;
    take(4, got);
    pos_ = 0;
    offset_ = 0;
    format_ = detectCaptureFormat(buf_, got);
}

UsbCaptureReader::UsbCaptureReader(std::string_view bytes) : memory_(bytes)
{
    format_ = detectCaptureFormat(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

UsbCaptureReader::~UsbCaptureReader() { std::free(buf_); }

const std::uint8_t* UsbCaptureReader::takeSlow(std::size_t n, std::size_t& got)
{
    if (!buf_) { // in memory: the bytes are where they lie
        got = std::min(n, memory_.size() - pos_);
        const auto* p = reinterpret_cast<const std::uint8_t*>(memory_.data()) + pos_;
        pos_ += got;
        offset_ += got;
        return p;
    }
    if (len_ - pos_ < n) {
        // The bytes left move to the front and the file is read behind them.
        std::memmove(buf_, buf_ + pos_, len_ - pos_);
        len_ -= pos_;
        pos_ = 0;
        while (len_ < n && !eof_) {
            const std::size_t want = std::min(kBufferSize - len_, std::max(kChunk, n - len_));
            const std::uint64_t restarts = stream_->restarts();
            const std::size_t k = stream_->read(buf_ + len_, want);
            if (k == 0) {
                eof_ = true;
                error_ = stream_->readError();
                interrupted_ = stream_->interrupted();
            } else if (stream_->restarts() != restarts) {
                // New content: the old one ends here, as a file does, and
                // the new bytes wait until it has (beginAgain).
                fresh_.assign(reinterpret_cast<const char*>(buf_ + len_), k);
                eof_ = true;
                break;
            }
            len_ += k;
        }
    }
    got = std::min(n, len_ - pos_);
    const std::uint8_t* p = buf_ + pos_;
    pos_ += got;
    offset_ += got;
    return p;
}

std::uint64_t UsbCaptureReader::skip(std::uint64_t n)
{
    std::uint64_t skipped = 0;
    while (skipped < n) {
        std::size_t got = 0;
        take(static_cast<std::size_t>(std::min<std::uint64_t>(n - skipped, kChunk)), got);
        if (got == 0) break;
        skipped += got;
    }
    return skipped;
}

std::int64_t UsbCaptureReader::nanosecondsOtherwise(std::uint64_t timestamp, std::uint64_t unitsPerSecond)
{
    if (unitsPerSecond == 1000000000) return static_cast<std::int64_t>(std::min<std::uint64_t>(timestamp, INT64_MAX));
    using Wide = unsigned __int128;
    const Wide ns = Wide(timestamp / unitsPerSecond) * 1000000000u +
                    Wide(timestamp % unitsPerSecond) * 1000000000u / unitsPerSecond;
    return static_cast<std::int64_t>(std::min<Wide>(ns, INT64_MAX));
}

bool UsbCaptureReader::fail(const char* what, std::uint64_t offset, std::uint64_t value, std::uint64_t limit)
{
    stopped_ = true;
    // A read error is not a damaged file, nor is a record whose end had
    // not come when reading was interrupted, nor the unfinished last record
    // of content that new content replaced.
    if (error_ || interrupted_ || !fresh_.empty()) return false;
    // In `what`, "%s" stands for the value and "%l" for the limit.
    fault_ = what;
    if (const std::size_t v = fault_.find("%s"); v != std::string::npos) fault_.replace(v, 2, std::to_string(value));
    if (const std::size_t l = fault_.find("%l"); l != std::string::npos) fault_.replace(l, 2, std::to_string(limit));
    fault_ += " at byte offset " + std::to_string(offset);
    return false;
}

void UsbCaptureReader::declare(const Interface& interface)
{
    interfaces_.push_back(interface);
    interfaces_.back().timeDigits = fractionDigits(interface.unitsPerSecond);
    if (interface.linkType == kLinkUsbLinux || interface.linkType == kLinkUsbLinuxMmapped) sawUsbmon_ = true;
    if (interface.linkType == kLinkUsbPcap) sawUsbPcap_ = true;
}

bool UsbCaptureReader::nextRecord(UsbPacket& packet)
{
    // Every way of not giving a packet stops the reader: then new content,
    // if any came, is read from its own start.
    for (;;) {
        if (stopped_ && !beginAgain()) return false;
        if (format_ == CaptureFormat::Pcap) {
            if (!started_ && !readPcapHeader()) continue;
            started_ = true;
            if (nextPcap(packet)) return true;
        } else if (format_ == CaptureFormat::Pcapng) {
            if (nextPcapng(packet)) return true;
        } else {
            stopped_ = true;
        }
    }
}

bool UsbCaptureReader::beginAgain()
{
    if (fresh_.empty() || error_ || interrupted_) return false;
    // A file of its own: its header, its sections and interfaces, its byte
    // order and its offsets; the packets go on being counted.
    std::memcpy(buf_, fresh_.data(), fresh_.size());
    pos_ = 0;
    len_ = fresh_.size();
    fresh_.clear();
    eof_ = false;
    stopped_ = false;
    started_ = false;
    swap_ = false;
    fault_.clear();
    interfaces_.clear();
    std::size_t got = 0;
    take(4, got);
    pos_ = 0;
    offset_ = 0;
    format_ = detectCaptureFormat(buf_, got);
    return true;
}

bool UsbCaptureReader::readPcapHeader()
{
    std::size_t got = 0;
    const std::uint8_t* h = take(24, got);
    if (got < 24) return fail("file header cut short", 0);
    const std::uint32_t magic = le32(h);
    swap_ = magic == swap32(kPcapMicro) || magic == swap32(kPcapNano);
    Interface interface;
    interface.unitsPerSecond = (magic == kPcapNano || magic == swap32(kPcapNano)) ? 1000000000 : 1000000;
    interface.snapLength = u32(h + 16);
    // The upper bits of the link type field carry other information (the
    // frame check sequence's length); bits 16 to 25 are reserved and must
    // be zero, as Wireshark also asks.
    const std::uint32_t linkField = u32(h + 20);
    if (linkField & 0x03FF0000) return fail("link type field %s with reserved bits set", 20, linkField);
    interface.linkType = linkField & 0xFFFF;
    declare(interface);
    return true;
}

// A packet's captured length within the reader's bound and its
// interface's snapshot length; a fault of the record at `at` otherwise.
bool UsbCaptureReader::capturedLengthFits(const Interface& interface, std::uint32_t captured, std::uint64_t at)
{
    if (captured > kMaxCapturedLength)
        return fail("captured length %s above the bound of %l", at, captured, kMaxCapturedLength);
    if (interface.snapLength != 0 && captured > interface.snapLength)
        return fail("captured length %s above the snapshot length %l", at, captured, interface.snapLength);
    return true;
}

bool UsbCaptureReader::nextPcap(UsbPacket& packet)
{
    const std::uint64_t at = offset_;
    std::size_t got = 0;
    const std::uint8_t* h = take(16, got);
    if (got == 0) {
        stopped_ = true;
        return false;
    }
    if (got < 16) return fail("record header cut short", at);
    const Interface& interface = interfaces_.front();
    const std::uint64_t timestamp = std::uint64_t(u32(h)) * interface.unitsPerSecond + u32(h + 4);
    const std::uint32_t captured = u32(h + 8);
    if (!capturedLengthFits(interface, captured, at)) return false;
    const std::uint8_t* data = take(captured, got);
    if (got < captured) return fail("record cut short", at);
    this->packet(interface, timestamp, data, captured, packet);
    return true;
}

bool UsbCaptureReader::nextPcapng(UsbPacket& packet)
{
    for (;;) {
        const std::uint64_t at = offset_;
        std::size_t got = 0;
        const std::uint8_t* h = take(8, got);
        if (got == 0) {
            stopped_ = true;
            return false;
        }
        if (got < 8) return fail("block header cut short", at);
        std::uint32_t type = le32(h); // a section header reads the same both ways
        const std::uint32_t rawLength = le32(h + 4);
        std::size_t bodyRead = 0;
        if (type == kSectionHeader) {
            const std::uint8_t* order = take(4, got);
            if (got < 4) return fail("section header cut short", at);
            const std::uint32_t magic = le32(order);
            if (magic == kByteOrderMagic)
                swap_ = false;
            else if (magic == swap32(kByteOrderMagic))
                swap_ = true;
            else
                return fail("section header without its byte-order magic", at);
            interfaces_.clear();
            bodyRead = 4;
        } else {
            type = swap_ ? swap32(type) : type;
        }
        const std::uint32_t length = swap_ ? swap32(rawLength) : rawLength;
        const std::uint32_t minimum = minimumBlockLength(type);
        if (length < minimum) return fail("block length %s below its minimum of %l", at, length, minimum);
        if (length % 4 != 0) return fail("block length %s not a multiple of 4", at, length);
        const std::uint64_t body = std::uint64_t(length) - 12 - bodyRead;
        const bool readHere = type == kSectionHeader || type == kInterfaceDescription || type == kObsoletePacket ||
                              type == kSimplePacket || type == kEnhancedPacket;
        if (!readHere) { // any other block is skipped by its length
            if (skip(body + 4) < body + 4) return fail("block length %s runs past the end of the file", at, length);
            continue;
        }
        if (body > kMaxBlockBody) return fail("block length %s above the bound of %l", at, length, kMaxBlockBody + 12);
        const std::uint8_t* b = take(static_cast<std::size_t>(body) + 4, got);
        if (got < body + 4) return fail("block length %s runs past the end of the file", at, length);
        const std::uint32_t trailer = u32(b + body);
        if (trailer != length)
            return fail("block length %s differs from its copy at the block's end, %l", at, length, trailer);

        if (type == kSectionHeader) {
            if (u16(b) != 1) return fail("section header of an unknown major version %s", at, u16(b));
            continue;
        }
        if (type == kInterfaceDescription) {
            if (interfaces_.size() >= kMaxInterfaces)
                return fail("more than %l interfaces in one section", at, 0, kMaxInterfaces);
            Interface interface;
            interface.linkType = u16(b);
            interface.snapLength = u32(b + 4);
            // Options: the time stamp resolution (if_tsresol, code 9) and
            // the seconds added to every time stamp (if_tsoffset, code 14)
            // matter.
            std::size_t o = 8;
            while (o + 4 <= body) {
                const std::uint16_t code = u16(b + o), size = u16(b + o + 2);
                if (code == 0) break;
                if (o + 4 + size > body) return fail("option length %s runs past its block", at, size);
                if (code == 9 && size >= 1) {
                    const std::uint8_t r = b[o + 4];
                    const unsigned n = r & 0x7F;
                    if (r & 0x80)
                        interface.unitsPerSecond = n < 64 ? std::uint64_t(1) << n : 0;
                    else if (n <= 19) {
                        interface.unitsPerSecond = 1;
                        for (unsigned i = 0; i < n; ++i) interface.unitsPerSecond *= 10;
                    } else {
                        interface.unitsPerSecond = 0;
                    }
                }
                if (code == 14 && size >= 8)
                    interface.offsetNs = secondsInNanoseconds(static_cast<std::int64_t>(u64(b + o + 4)));
                o += 4 + ((size + 3u) & ~3u);
            }
            declare(interface);
            continue;
        }

        // A packet block.
        std::uint32_t id = 0, captured = 0;
        std::uint64_t timestamp = 0;
        bool hasTime = true;
        std::size_t dataAt = 0;
        if (type == kSimplePacket) {
            hasTime = false;
            dataAt = 4;
            // Its original length is all it has: it must fit the bounds
            // (as Wireshark asks) before the block's own length cuts it.
            captured = u32(b);
        } else {
            id = type == kObsoletePacket ? u16(b) : u32(b);
            timestamp = std::uint64_t(u32(b + 4)) << 32 | u32(b + 8);
            captured = u32(b + 12);
            dataAt = 20;
        }
        if (id >= interfaces_.size()) return fail("packet on interface %s that was never declared", at, id, 0);
        const Interface& interface = interfaces_[id];
        if (type == kSimplePacket && interface.snapLength != 0) captured = std::min(captured, interface.snapLength);
        if (!capturedLengthFits(interface, captured, at)) return false;
        if (type == kSimplePacket) captured = static_cast<std::uint32_t>(std::min<std::uint64_t>(captured, body - 4));
        if (dataAt + captured > body) return fail("captured length %s runs past its block", at, captured, 0);
        this->packet(interface, timestamp, b + dataAt, captured, packet);
        packet.hasTime = hasTime && interface.unitsPerSecond != 0;
        if (!packet.hasTime) packet.timeNs = 0;
        return true;
    }
}

} // namespace vornlog
