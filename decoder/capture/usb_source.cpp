#include "usb_source.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "protocol/instructions.h"

namespace vornlog {

namespace {

// Devices counted while choosing; a file naming more is not a real bus.

bool isInstructionCode(std::uint8_t code)
{
    return findInstruction(code) != nullptr;
}

// Each byte as its text "XX " in the low three bytes of a word (the first
// character lowest), so that two bytes make "XX XX " in one 8-byte store.
constexpr std::array<std::uint64_t, 256> makeHexPairs()
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::uint64_t, 256> pairs{};
    for (int b = 0; b < 256; ++b)
        pairs[b] = std::uint64_t(static_cast<unsigned char>(digits[b >> 4])) |
                   std::uint64_t(static_cast<unsigned char>(digits[b & 15])) << 8 | std::uint64_t(' ') << 16;
    return pairs;
}
constexpr std::array<std::uint64_t, 256> kHexPairs = makeHexPairs();

// The little-endian bytes of a word, so that the store writes the first
// character first on any machine.
void storeText(char* p, std::uint64_t v)
{
    if constexpr (std::endian::native != std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

std::uint32_t key(UsbDevice d) { return std::uint32_t(d.bus) << 16 | d.address; }

// What a record tells of its packet, read or held: number, time, device and
// direction (the endpoint's IN bit).
template <class P>
void describe(const P& packet, CaptureRecord& record)
{
    record.number = packet.number;
    record.line = {};
    record.hasTime = packet.hasTime;
    record.timeNs = packet.timeNs;
    record.timeForm = packet.hasTime ? TimeForm::Packet : TimeForm::None;
    record.timeDigits = packet.timeDigits;
    record.hasDevice = packet.isUsb;
    record.device = packet.device;
    record.direction = (packet.endpoint & 0x80) ? Direction::Controller : Direction::Pc;
    record.at = packet.at;
    record.end = packet.end;
}

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

UsbCaptureSource::UsbCaptureSource(UsbCaptureReader& reader, std::optional<UsbDevice> wanted)
    : reader_(reader), device_(wanted), known_(wanted.has_value())
{
}

std::string_view UsbCaptureSource::field(const std::uint8_t* data, std::size_t size)
{
    // Each byte as "XX ", the last one's space left out; two bytes at a
    // time, the last store reaching at most 8 bytes past the field's start
    // of its pair.
    if (size * 3 + 8 > capacity_) {
        capacity_ = size * 3 + 8;
        field_ = std::make_unique<char[]>(capacity_);
    }
    char* p = field_.get();
    std::size_t i = 0;
    for (; i + 2 <= size; i += 2, p += 6) storeText(p, kHexPairs[data[i]] | kHexPairs[data[i + 1]] << 24);
    if (i < size) storeText(p, kHexPairs[data[i]]);
    return std::string_view(field_.get(), size * 3 - 1);
}

bool UsbCaptureSource::next(CaptureRecord& record)
{
    if (!held_.empty() || !device_) [[unlikely]]
        return nextHeld(record);
    UsbPacket packet;
    if (!reader_.next(packet)) return false;
    describe(packet, record);
    record.isMessage = packet.device == *device_ && carriesMessage(packet);
    record.field = record.isMessage ? field(packet.data, packet.size) : std::string_view();
    messages_ += record.isMessage;
    return true;
}

bool UsbCaptureSource::nextHeld(CaptureRecord& record)
{
    if (!known_) readAhead();
    if (!held_.empty()) {
        const Held& h = held_.front();
        describe(h, record);
        record.isMessage = h.message && device_ && h.device == *device_;
        record.field = record.isMessage ? field(reinterpret_cast<const std::uint8_t*>(h.data.data()), h.data.size())
                                        : std::string_view();
        if (record.isMessage) ++messages_;
        if (h.message && !known_)
            if (const auto it = evidence_.find(key(h.device)); it != evidence_.end()) ++it->second.missed;
        heldBytes_ -= h.data.size();
        held_.pop_front();
        return true;
    }
    if (!device_) return false; // the capture ended and no device was found
    return next(record);
}

void UsbCaptureSource::readAhead()
{
    UsbPacket packet;
    // A device asked for is known, but the first packet is read all the
    // same: it tells whether the capture has a USB interface.
    while ((!known_ || (!reader_.sawUsbmon() && !reader_.sawUsbPcap())) && held_.size() < kMaxHeld &&
           heldBytes_ < kMaxHeldBytes) {
        if (!reader_.next(packet)) {
            if (!known_) chooseAtEnd();
            return;
        }
        hold(packet);
        weigh(packet);
    }
}

void UsbCaptureSource::hold(const UsbPacket& packet)
{
    Held h;
    h.number = packet.number;
    h.timeNs = packet.timeNs;
    h.hasTime = packet.hasTime;
    h.timeDigits = packet.timeDigits;
    h.isUsb = packet.isUsb;
    h.message = carriesMessage(packet);
    h.device = packet.device;
    h.endpoint = packet.endpoint;
    h.at = packet.at;
    h.end = packet.end;
    if (h.message) {
        h.data.assign(reinterpret_cast<const char*>(packet.data), packet.size);
        heldBytes_ += packet.size;
        sawMessages_ = true;
    }
    held_.push_back(std::move(h));
}

// The evidence a message gives about its device; the device is recognised
// when its IN message answers its last OUT message with the same
// instruction code.
void UsbCaptureSource::weigh(const UsbPacket& packet)
{
    if (!carriesMessage(packet)) return;
    auto it = evidence_.find(key(packet.device));
    if (it == evidence_.end()) {
        if (evidence_.size() >= kMaxDevices) {
            tooManyDevices_ = true;
            return;
        }
        it = evidence_.emplace(key(packet.device), Evidence{}).first;
    }
    Evidence& e = it->second;
    const std::uint8_t code = packet.data[0];
    if (packet.endpoint & 0x80) {
        if (e.lastOut == code) choose(packet.device);
    } else if (isInstructionCode(code)) {
        e.lastOut = code;
        ++e.outCodes;
    } else {
        e.lastOut = -1;
        ++e.outOthers;
    }
}

// The capture ended before a device answered: a device that sent only
// messages beginning with an instruction code (the PC's side of a session
// whose replies are missing) is taken, the one that sent most; a tie goes
// to the lowest bus, then address.
void UsbCaptureSource::chooseAtEnd()
{
    const Evidence* best = nullptr;
    std::uint32_t bestKey = 0;
    for (const auto& [k, e] : evidence_)
        if (e.outCodes > 0 && e.outOthers == 0 && (!best || e.outCodes > best->outCodes)) {
            best = &e;
            bestKey = k;
        }
    if (best)
        choose(UsbDevice{static_cast<std::uint16_t>(bestKey >> 16), static_cast<std::uint16_t>(bestKey & 0xFFFF)});
    known_ = true;
}

void UsbCaptureSource::choose(UsbDevice device)
{
    device_ = device;
    known_ = true;
    if (onChoice_) onChoice_(device);
}

std::uint64_t UsbCaptureSource::missed() const
{
    if (!device_) return 0;
    const auto it = evidence_.find(key(*device_));
    return it == evidence_.end() ? 0 : it->second.missed;
}

std::string_view UsbCaptureSource::format() const
{
    format_ = reader_.format() == CaptureFormat::Pcap ? "pcap (" : "pcapng (";
    if (reader_.sawUsbmon()) format_ += "usbmon";
    if (reader_.sawUsbmon() && reader_.sawUsbPcap()) format_ += ", ";
    if (reader_.sawUsbPcap()) format_ += "USBPcap";
    format_ += ')';
    return format_;
}

} // namespace vornlog
