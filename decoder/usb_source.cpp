#include "usb_source.h"

#include <array>
#include <charconv>
#include <cstring>
#include <map>

#include "platform.h"
#include "instructions.h"

namespace vornlog {

namespace {

constexpr char kCantCopy[] = "Can't make a temporary copy of the capture file: ";

// Devices counted while choosing; a file naming more is not a real bus.
constexpr std::size_t kMaxDevices = 4096;

bool isInstructionCode(std::uint8_t code)
{
    return findInstruction(code) != nullptr;
}

// Each byte as its text "XX " and one byte more, so that a byte is written
// with one 4-byte store (the next byte's store overwrites the fourth).
struct HexPair {
    char text[4];
};
constexpr std::array<HexPair, 256> makeHexPairs()
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<HexPair, 256> pairs{};
    for (int b = 0; b < 256; ++b) pairs[b] = {{digits[b >> 4], digits[b & 15], ' ', ' '}};
    return pairs;
}
constexpr std::array<HexPair, 256> kHexPairs = makeHexPairs();

std::uint32_t key(UsbDevice d) { return std::uint32_t(d.bus) << 16 | d.address; }

} // namespace

std::optional<UsbDevice> parseUsbDevice(std::string_view text)
{
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    auto number = [](std::string_view s, std::uint16_t& v) {
        if (s.empty() || s.size() > 5) return false;
        unsigned long n = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (ec != std::errc() || end != s.data() + s.size() || n > 0xFFFF) return false;
        v = static_cast<std::uint16_t>(n);
        return true;
    };
    UsbDevice device;
    if (!number(text.substr(0, dot), device.bus) || !number(text.substr(dot + 1), device.address)) return std::nullopt;
    return device;
}

bool UsbCaptureSource::next(CaptureRecord& record)
{
    UsbPacket packet;
    if (!reader_.next(packet)) return false;
    record.number = packet.number;
    record.line = {};
    record.hasTime = packet.hasTime;
    record.timeNs = packet.timeNs;
    record.timeForm = packet.hasTime ? TimeForm::Packet : TimeForm::None;
    record.timeDigits = packet.timeDigits;
    record.hasDevice = packet.isUsb;
    record.device = packet.device;
    record.isMessage = device_ && packet.device == *device_ && carriesMessage(packet);
    record.direction = (packet.endpoint & 0x80) ? Direction::Controller : Direction::Pc;
    if (!record.isMessage) {
        record.field = {};
        return true;
    }
    // Each byte as "XX ", the last one's space left out.
    if (packet.size * 3 + 1 > capacity_) {
        capacity_ = packet.size * 3 + 1;
        field_ = std::make_unique<char[]>(capacity_);
    }
    char* p = field_.get();
    for (std::size_t i = 0; i < packet.size; ++i) std::memcpy(p + 3 * i, kHexPairs[packet.data[i]].text, 4);
    record.field = std::string_view(p, packet.size * 3 - 1);
    return true;
}

DumpInput::DumpInput(std::FILE* dump, std::optional<UsbDevice> wanted) : dump_(dump)
{
    char head[4];
    const std::size_t got = std::fread(head, 1, sizeof head, dump);
    head_.assign(head, got);
    if (detectCaptureFormat(reinterpret_cast<const unsigned char*>(head), got) == CaptureFormat::TextDump) {
        // The bytes read to tell the format are the capture's first.
        lines_ = std::make_unique<LineReader>(dump, head_);
        source_ = std::make_unique<TextDumpSource>(*lines_);
        return;
    }
    usb_ = true;
    scanUsb(wanted);
}

DumpInput::~DumpInput()
{
    source_.reset();
    packets_.reset();
    if (spool_) std::fclose(spool_);
}

void DumpInput::scanUsb(std::optional<UsbDevice> wanted)
{
    std::FILE* file = dump_;
    if (!canSeek(dump_)) {
        // A pipe is read once: its bytes go to a temporary file that is
        // read twice.
        spool_ = openTemporaryFile();
        if (!spool_) {
            problem_ = kCantCopy;
            return;
        }
        bool ok = std::fwrite(head_.data(), 1, head_.size(), spool_) == head_.size();
        std::string chunk(1 << 16, '\0');
        while (ok) {
            const std::size_t k = std::fread(chunk.data(), 1, chunk.size(), dump_);
            if (k == 0) break;
            ok = std::fwrite(chunk.data(), 1, k, spool_) == k;
        }
        if (std::ferror(dump_)) {
            problem_ = kCantRead;
            return;
        }
        if (!ok || std::fflush(spool_) != 0) {
            problem_ = kCantCopy;
            return;
        }
        file = spool_;
    }

    struct Count {
        std::uint64_t messages = 0;
        std::uint64_t instructions = 0; // those that begin with an instruction code
    };
    std::map<std::uint32_t, Count> devices;
    std::string format;
    {
        if (std::fseek(file, 0, SEEK_SET) != 0) {
            problem_ = kCantRead;
            return;
        }
        UsbCaptureReader scan(file, {});
        UsbPacket packet;
        // Messages mostly come from one device in a row: its count is kept
        // at hand.
        Count* last = nullptr;
        std::uint32_t lastKey = 0;
        while (scan.next(packet)) {
            if (!carriesMessage(packet)) continue;
            if (!last || key(packet.device) != lastKey) {
                auto it = devices.find(key(packet.device));
                if (it == devices.end()) {
                    if (devices.size() >= kMaxDevices) continue;
                    it = devices.emplace(key(packet.device), Count{}).first;
                }
                last = &it->second;
                lastKey = key(packet.device);
            }
            ++last->messages;
            if (isInstructionCode(packet.data[0])) ++last->instructions;
        }
        if (scan.readError()) {
            problem_ = kCantRead;
            return;
        }
        if (!scan.sawUsbmon() && !scan.sawUsbPcap()) {
            problem_ = scan.fault().empty() ? "No USB interface (usbmon or USBPcap) in the capture file: "
                                            : "No USB interface before the damage (" + scan.fault() +
                                                  ") in the capture file: ";
            return;
        }
        format = scan.format() == CaptureFormat::Pcap ? "pcap (" : "pcapng (";
        if (scan.sawUsbmon()) format += "usbmon";
        if (scan.sawUsbmon() && scan.sawUsbPcap()) format += ", ";
        if (scan.sawUsbPcap()) format += "USBPcap";
        format += ')';
    }

    if (wanted) {
        device_ = wanted;
    } else {
        // The most instruction codes; on a tie the lowest bus, then address.
        const Count* best = nullptr;
        for (const auto& [k, count] : devices)
            if (!best || count.instructions > best->instructions) {
                best = &count;
                device_ = UsbDevice{static_cast<std::uint16_t>(k >> 16), static_cast<std::uint16_t>(k & 0xFFFF)};
            }
    }
    if (device_) {
        const auto it = devices.find(key(*device_));
        messages_ = it == devices.end() ? 0 : it->second.messages;
    }

    if (std::fseek(file, 0, SEEK_SET) != 0) {
        problem_ = kCantRead;
        return;
    }
    packets_ = std::make_unique<UsbCaptureReader>(file, std::string_view());
    source_ = std::make_unique<UsbCaptureSource>(*packets_, device_, format);
}

void DumpInput::announce(Out& console) const
{
    if (!usb_) return;
    if (!device_) {
        put<"No USB device sent or received bulk or interrupt data\n">(console);
        return;
    }
    const int bus = device_->bus, address = device_->address;
    const int messages = static_cast<int>(std::min<std::uint64_t>(messages_, INT32_MAX));
    if (messages == 1)
        put<"USB device %d.%d (bus %d, address %d): 1 message\n">(console, bus, address, bus, address);
    else
        put<"USB device %d.%d (bus %d, address %d): %d messages\n">(console, bus, address, bus, address, messages);
}

} // namespace vornlog
