// The messages of a USB capture file, and the opening of a dump file of
// either kind: a text dump or a USB capture, told apart by its first bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "capture.h"
#include "input.h"
#include "source.h"
#include "usb_capture.h"

namespace vornlog {

// "BUS.ADDR" in decimal, as -d gives it (e.g. "1.7"); empty when the text
// is not one.
std::optional<UsbDevice> parseUsbDevice(std::string_view text);

// The packets of a USB capture file as capture records, in one pass: a
// packet is a message when it carries one (carriesMessage) and comes from
// the device. The device is the one asked for (-d), or else the first one
// that shows itself to be the controller: it answers a PC message that
// begins with an instruction code of the decoder table with a message of
// the same code (an OUT message of the device, then an IN message of it
// with the code of that OUT message). A mouse sends no OUT message, a
// disk's OUT transfers begin with its command wrapper: neither is taken.
//
// Until the device is known, the packets read are held, in order, and
// handed on once it is: nothing of the device is lost and the records are
// those a second pass would give. What is held is bounded (kMaxHeld
// packets, kMaxHeldBytes bytes of data); when it is full before the device
// is known, the oldest packet is handed on as one without a message.
//
// A message's field is its bytes as upper-case hex pairs separated by single
// spaces, as a capture line writes them.
class UsbCaptureSource final : public MessageSource {
public:
    static constexpr std::size_t kMaxHeld = 16384;
    static constexpr std::size_t kMaxHeldBytes = 1 << 20;
    // The devices weighed as the controller: far beyond any capture (a bus
    // holds at most 127 devices), a bound on what a hostile file can make
    // the source hold. Reached, the run says so at its end.
    static constexpr std::size_t kMaxDevices = 1 << 20;

    UsbCaptureSource(UsbCaptureReader& reader, std::optional<UsbDevice> wanted);

    bool next(CaptureRecord& record) override;
    bool readError() const override { return reader_.readError(); }
    std::string fault() const override { return reader_.fault(); }
    // "pcap (usbmon)", "pcapng (usbmon, USBPcap)": the interfaces met so far.
    std::string_view format() const override;
    bool interrupted() const override { return reader_.interrupted(); }

    // Reads on (holding the packets) until the device is known, the capture
    // ends or what is held is full.
    void readAhead();
    // Called once when the device is recognised (not when it was asked for).
    void onChoice(std::function<void(UsbDevice)> hook) { onChoice_ = std::move(hook); }

    const std::optional<UsbDevice>& device() const { return device_; }
    // The messages of the device handed on so far.
    std::uint64_t messages() const { return messages_; }
    // Messages of the device that were handed on as packets without a
    // message because what is held was full before it was recognised.
    std::uint64_t missed() const;
    // True when any packet carried a message, of any device.
    bool sawMessages() const { return sawMessages_; }
    // True once more devices sent messages than the source weighs.
    bool tooManyDevices() const { return tooManyDevices_; }

private:
    // A packet read before the device was known.
    struct Held {
        std::uint64_t number = 0;
        TimeNs timeNs = 0;
        bool hasTime = false;
        int timeDigits = 0;
        bool isUsb = false;
        bool message = false; // it carries a message (of whichever device)
        UsbDevice device;
        std::uint8_t endpoint = 0;
        std::uint64_t at = 0;
        std::uint64_t end = 0;
        std::string data; // a message's bytes
    };
    // What a device has shown of itself while the device is not known.
    struct Evidence {
        int lastOut = -1;               // the code of its last OUT message, if an instruction code
        std::uint64_t outCodes = 0;     // OUT messages that begin with an instruction code
        std::uint64_t outOthers = 0;    // and those that do not
        std::uint64_t missed = 0;       // messages handed on before it was known
    };

    bool nextHeld(CaptureRecord& record);
    void hold(const UsbPacket& packet);
    void weigh(const UsbPacket& packet);
    void chooseAtEnd();
    void choose(UsbDevice device);
    std::string_view field(const std::uint8_t* data, std::size_t size);

    UsbCaptureReader& reader_;
    std::optional<UsbDevice> device_;
    bool known_ = false; // device_ is final (asked for, recognised, or none at the end)
    std::deque<Held> held_;
    std::size_t heldBytes_ = 0;
    std::map<std::uint32_t, Evidence> evidence_;
    bool tooManyDevices_ = false;
    std::function<void(UsbDevice)> onChoice_;
    std::uint64_t messages_ = 0;
    bool sawMessages_ = false;
    mutable std::string format_;
    // The field of the last message; it grows to the longest message met.
    std::unique_ptr<char[]> field_;
    std::size_t capacity_ = 0;
};

} // namespace vornlog
