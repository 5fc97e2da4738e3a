#include "usb_capture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/out.h"

namespace vornlog {

namespace {

constexpr std::uint32_t kPcapMicro = 0xA1B2C3D4;
constexpr std::uint32_t kPcapNano = 0xA1B23C4D;
constexpr std::uint32_t kSectionHeader = UsbCaptureReader::kSectionHeaderBlock;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceDescription = UsbCaptureReader::kInterfaceDescriptionBlock;
constexpr std::uint32_t kSimplePacket = UsbCaptureReader::kSimplePacketBlock;

// Option codes.
constexpr std::uint16_t kEndOfOptions = 0;
constexpr std::uint16_t kTimeResolution = 9; // if_tsresol
constexpr std::uint16_t kTimeOffset = 14;    // if_tsoffset, seconds
// Options of packet blocks whose value has a fixed length.
constexpr std::uint16_t kPacketFlags = 2, kDropCount = 4, kPacketId = 5, kQueue = 6, kVerdict = 7;

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

// The decimals of a second that time stamps in units of 1/unitsPerSecond s
// resolve: 6 for microseconds, 7 for 2^-20 s; nanoseconds at most.
int fractionDigits(std::uint64_t unitsPerSecond)
{
    int digits = 0;
    for (std::uint64_t resolved = 1; resolved < unitsPerSecond && digits < 9; resolved *= 10) ++digits;
    return digits;
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

TimeNs UsbCaptureReader::nanosecondsOtherwise(std::uint64_t timestamp, std::uint64_t unitsPerSecond)
{
    if (unitsPerSecond == 1000000000) return timestamp;
    using Wide = unsigned __int128;
    const Wide ns = Wide(timestamp / unitsPerSecond) * 1000000000u +
                    Wide(timestamp % unitsPerSecond) * 1000000000u / unitsPerSecond;
    return static_cast<TimeNs>(ns);
}

bool UsbCaptureReader::fail(const Fault& fault, std::uint64_t at)
{
    stopped_ = true;
    // A read error is not a damaged file, nor is a record whose end had
    // not come when reading was interrupted, nor the unfinished last record
    // of content that new content replaced.
    if (error_ || interrupted_ || !fresh_.empty()) return false;
    fault_.clear();
    Out out(&fault_, false, 256);
    const std::uint64_t value = fault.value, limit = fault.limit, code = fault.code;
    switch (fault.kind) {
    case Fault::None: break;
    case Fault::FileHeaderCutShort: put<"file header cut short">(out); break;
    case Fault::ReservedLinkTypeBits: put<"link type field %d with reserved bits set">(out, value); break;
    case Fault::RecordHeaderCutShort: put<"record header cut short">(out); break;
    case Fault::RecordCutShort: put<"record cut short">(out); break;
    case Fault::BlockHeaderCutShort: put<"block header cut short">(out); break;
    case Fault::SectionHeaderCutShort: put<"section header cut short">(out); break;
    case Fault::NoByteOrderMagic: put<"section header without its byte-order magic">(out); break;
    case Fault::UnknownMajorVersion: put<"section header of an unknown major version %d">(out, value); break;
    case Fault::LengthBelowMinimum: put<"block length %d below its minimum of %d">(out, value, limit); break;
    case Fault::LengthNotMultipleOf4: put<"block length %d not a multiple of 4">(out, value); break;
    case Fault::LengthAboveBound: put<"block length %d above the bound of %d">(out, value, limit); break;
    case Fault::LengthPastEndOfFile: put<"block length %d runs past the end of the file">(out, value); break;
    case Fault::LengthCopyDiffers:
        put<"block length %d differs from its copy at the block's end, %d">(out, value, limit);
        break;
    case Fault::TooManyInterfaces: put<"more than %d interfaces in one section">(out, limit); break;
    case Fault::UndeclaredInterface: put<"packet on interface %d that was never declared">(out, value); break;
    case Fault::CapturedAboveBound: put<"captured length %d above the bound of %d">(out, value, limit); break;
    case Fault::CapturedAboveSnapshot: put<"captured length %d above the snapshot length %d">(out, value, limit); break;
    case Fault::CapturedPastBlock: put<"captured length %d runs past its block">(out, value); break;
    case Fault::OptionPastBlock: put<"option length %d runs past its block">(out, value); break;
    case Fault::OptionLengthNot: put<"option %d of length %d, not %d">(out, code, value, limit); break;
    case Fault::OptionLengthBelow: put<"option %d of length %d, below %d">(out, code, value, limit); break;
    }
    put<" at byte offset %d">(out, at);
    out.flush();
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
    if (got < 24) return fail({Fault::FileHeaderCutShort}, 0);
    const std::uint32_t magic = le32(h);
    swap_ = magic == swap32(kPcapMicro) || magic == swap32(kPcapNano);
    Interface interface;
    interface.unitsPerSecond = (magic == kPcapNano || magic == swap32(kPcapNano)) ? 1000000000 : 1000000;
    interface.snapLength = u32(h + 16);
    // The upper bits of the link type field carry other information (the
    // frame check sequence's length); bits 16 to 25 are reserved and must
    // be zero, as Wireshark also asks.
    const std::uint32_t linkField = u32(h + 20);
    if (linkField & 0x03FF0000) return fail({Fault::ReservedLinkTypeBits, linkField}, 20);
    interface.linkType = linkField & 0xFFFF;
    declare(interface);
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
    if (got < 16) return fail({Fault::RecordHeaderCutShort}, at);
    const Interface& interface = interfaces_.front();
    const std::uint64_t timestamp = std::uint64_t(u32(h)) * interface.unitsPerSecond + u32(h + 4);
    const std::uint32_t captured = u32(h + 8);
    if (const Fault fault = capturedFault(interface, captured)) return fail(fault, at);
    const std::uint8_t* data = take(captured, got);
    if (got < captured) return fail({Fault::RecordCutShort}, at);
    this->packet(interface, timestamp, data, captured, packet);
    packet.at = at;
    return true;
}

bool UsbCaptureReader::nextPcapng(UsbPacket& packet)
{
    Block block;
    for (;;) {
        if (!readBlock(block)) return false;
        switch (block.type) {
        case kSectionHeader:
            if (!readSectionHeader(block)) return false;
            break;
        case kInterfaceDescription:
            if (!readInterface(block)) return false;
            break;
        default: return readPacket(block, packet);
        }
    }
}

// The next block that is read here, whole in memory, its lengths checked;
// any other block is passed over by its length.
bool UsbCaptureReader::readBlock(Block& block)
{
    for (;;) {
        block.at = offset_;
        std::size_t got = 0;
        const std::uint8_t* h = take(8, got);
        if (got == 0) {
            stopped_ = true;
            return false;
        }
        if (got < 8) return fail({Fault::BlockHeaderCutShort}, block.at);
        block.type = le32(h); // a section header reads the same both ways
        const std::uint32_t rawLength = le32(h + 4);
        std::size_t bodyRead = 0;
        if (block.type == kSectionHeader) {
            // Its byte-order magic gives the byte order of its length and of
            // every block of the section.
            const std::uint8_t* order = take(4, got);
            if (got < 4) return fail({Fault::SectionHeaderCutShort}, block.at);
            const std::uint32_t magic = le32(order);
            if (magic == kByteOrderMagic)
                swap_ = false;
            else if (magic == swap32(kByteOrderMagic))
                swap_ = true;
            else
                return fail({Fault::NoByteOrderMagic}, block.at);
            bodyRead = 4;
        } else if (swap_) {
            block.type = swap32(block.type);
        }
        block.length = swap_ ? swap32(rawLength) : rawLength;
        if (const Fault fault = lengthFault(block.type, block.length)) return fail(fault, block.at);
        const std::uint64_t rest = std::uint64_t(block.length) - 8 - bodyRead; // the body left and the copy
        if (!readHere(block.type)) {
            if (skip(rest) < rest) return fail({Fault::LengthPastEndOfFile, block.length}, block.at);
            continue;
        }
        const std::uint8_t* b = take(static_cast<std::size_t>(rest), got);
        if (got < rest) return fail({Fault::LengthPastEndOfFile, block.length}, block.at);
        // A section header's body is taken as what follows its magic.
        block.body = b;
        block.size = block.length - 12 - bodyRead;
        if (const Fault fault = copyFault(block)) return fail(fault, block.at);
        return true;
    }
}

bool UsbCaptureReader::readSectionHeader(const Block& block)
{
    interfaces_.clear();
    if (u16(block.body) != 1) return fail({Fault::UnknownMajorVersion, u16(block.body)}, block.at);
    // Options after the version and the section's length: none is used, but
    // their lengths must fit the block.
    if (const Fault fault = forEachOption(block, 12, [](std::uint16_t, const std::uint8_t*, std::uint16_t) {
            return Fault{};
        }))
        return fail(fault, block.at);
    return true;
}

bool UsbCaptureReader::readInterface(const Block& block)
{
    if (interfaces_.size() >= kMaxInterfaces) return fail({Fault::TooManyInterfaces, 0, kMaxInterfaces}, block.at);
    Interface interface;
    interface.linkType = u16(block.body);
    interface.snapLength = u32(block.body + 4);
    if (const Fault fault = readInterfaceOptions(block, interface)) return fail(fault, block.at);
    declare(interface);
    return true;
}

// Of an interface's options, the time stamp resolution and the seconds
// added to every time stamp matter.
UsbCaptureReader::Fault UsbCaptureReader::readInterfaceOptions(const Block& block, Interface& interface) const
{
    return forEachOption(block, 8, [&](std::uint16_t code, const std::uint8_t* value, std::uint16_t size) {
        if (code == kTimeResolution && size >= 1) {
            // 10^-n s, or 2^-n s when the top bit is set.
            const unsigned n = value[0] & 0x7F;
            if (value[0] & 0x80)
                interface.unitsPerSecond = n < 64 ? std::uint64_t(1) << n : 0;
            else if (n <= 19) {
                interface.unitsPerSecond = 1;
                for (unsigned i = 0; i < n; ++i) interface.unitsPerSecond *= 10;
            } else {
                interface.unitsPerSecond = 0;
            }
        }
        if (code == kTimeOffset && size >= 8)
            interface.offsetNs = TimeNs{static_cast<std::int64_t>(u64(value))} * 1000000000;
        return Fault{};
    });
}

template <class Each>
UsbCaptureReader::Fault UsbCaptureReader::forEachOption(const Block& block, std::size_t from, Each each) const
{
    // An option: its code, its length and its value, padded to 4 bytes. The
    // block's body is a multiple of 4 long, and so is what the options
    // have left: a header always fits.
    for (std::size_t o = from; o + 4 <= block.size;) {
        const std::uint16_t code = u16(block.body + o), size = u16(block.body + o + 2);
        if (o + 4 + size > block.size) return {Fault::OptionPastBlock, size};
        if (code == kEndOfOptions) break; // whatever follows it is not read
        // Custom options begin with their owner's enterprise number.
        if ((code == 2988 || code == 2989 || code == 19372 || code == 19373) && size < 4)
            return {Fault::OptionLengthBelow, size, 4, code};
        if (const Fault fault = each(code, block.body + o + 4, size)) return fault;
        o += 4 + ((size + 3u) & ~3u);
    }
    return {};
}

// The options of a packet block are not used, but a file where one of
// them does not have the length its kind gives is damaged.
UsbCaptureReader::Fault UsbCaptureReader::packetOptionsFault(const Block& block, const PacketFields& f) const
{
    return forEachOption(block, (f.dataAt + f.captured + 3) & ~std::size_t{3}, [](std::uint16_t code, const std::uint8_t*, std::uint16_t size) -> Fault {
        switch (code) {
        case kPacketFlags:
        case kQueue:
            if (size != 4) return {Fault::OptionLengthNot, size, 4, code};
            break;
        case kDropCount:
        case kPacketId:
            if (size != 8) return {Fault::OptionLengthNot, size, 8, code};
            break;
        case kVerdict:
            if (size < 1) return {Fault::OptionLengthBelow, size, 1, code};
            break;
        default: break;
        }
        return {};
    });
}

bool UsbCaptureReader::readPacket(const Block& block, UsbPacket& packet)
{
    PacketFields f;
    if (block.type == kSimplePacket) {
        // Its original length is all it has: it must fit the bounds (as
        // Wireshark asks) before the block's own length cuts it.
        f.captured = u32(block.body);
        f.dataAt = 4;
        f.timed = false;
        if (!interfaces_.empty() && interfaces_[0].snapLength != 0)
            f.captured = std::min(f.captured, interfaces_[0].snapLength);
        if (!interfaces_.empty())
            if (const Fault fault = capturedFault(interfaces_[0], f.captured)) return fail(fault, block.at);
        f.captured = static_cast<std::uint32_t>(std::min<std::size_t>(f.captured, block.size - 4));
    } else {
        f = packetFields(block);
    }
    if (const Fault fault = packetFault(block, f)) return fail(fault, block.at);
    if (hasOptions(block, f))
        if (const Fault fault = packetOptionsFault(block, f)) return fail(fault, block.at);
    const Interface& interface = interfaces_[f.interface];
    this->packet(interface, f.timestamp, block.body + f.dataAt, f.captured, packet);
    packet.at = block.at;
    packet.hasTime = f.timed && interface.unitsPerSecond != 0;
    if (!packet.hasTime) packet.timeNs = 0;
    return true;
}

} // namespace vornlog
