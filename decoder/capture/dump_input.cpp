#include "dump_input.h"

#include <algorithm>
#include <cstdint>

namespace vornlog {

namespace {

void putDevice(Out& console, UsbDevice device)
{
    const int bus = device.bus, address = device.address;
    put<"USB device %d.%d (bus %d, address %d)">(console, bus, address, bus, address);
}

} // namespace

DumpInput::DumpInput(ByteStream& stream, std::optional<UsbDevice> wanted, Out& console)
{
    // The first four bytes tell the format (fewer: a text dump).
    char head[4];
    std::size_t got = 0;
    while (got < sizeof head) {
        const std::size_t k = stream.read(head + got, sizeof head - got);
        if (k == 0) break;
        got += k;
    }
    head_.assign(head, got);
    if (stream.readError()) {
        problem_ = kCantRead;
        return;
    }
    if (detectCaptureFormat(reinterpret_cast<const unsigned char*>(head), got) == CaptureFormat::TextDump) {
        // The bytes read to tell the format are the capture's first.
        lines_ = std::make_unique<LineReader>(stream, head_);
        text_ = std::make_unique<TextDumpSource>(*lines_);
        source_ = text_.get();
        return;
    }

    packets_ = std::make_unique<UsbCaptureReader>(stream, head_);
    usb_ = std::make_unique<UsbCaptureSource>(*packets_, wanted);
    source_ = usb_.get();
    // Named before decoding starts, or, when it takes more than what is
    // held to recognise it, on a line of its own after the progress line.
    usb_->onChoice([this, &console](UsbDevice device) {
        if (!decoding_) return; // named below, once the capture is known to be sound
        put<"\n">(console);
        putDevice(console, device);
        put<"\n">(console);
    });
    usb_->readAhead();
    decoding_ = true;

    const UsbCaptureReader& reader = *packets_;
    if (reader.readError()) {
        problem_ = kCantRead;
    } else if (!reader.sawUsbmon() && !reader.sawUsbPcap() && !reader.interrupted()) {
        // (Interrupted before any interface came, the capture simply ends
        // there, as a text dump read from a pipe does.)
        problem_ = reader.fault().empty() ? "No USB interface (usbmon or USBPcap) in the capture file: "
                                          : "No USB interface before the damage (" + reader.fault() +
                                                ") in the capture file: ";
    } else if (usb_->device()) {
        putDevice(console, *usb_->device());
        put<"\n">(console);
    }
}

void DumpInput::conclude(Out& console) const
{
    if (!usb_) return;
    const std::optional<UsbDevice>& device = usb_->device();
    if (usb_->tooManyDevices())
        put<"\nMore than %d USB devices: the later ones were not weighed as the controller">(
            console, static_cast<int>(UsbCaptureSource::kMaxDevices));
    if (!device) {
        if (usb_->sawMessages())
            put<"\nNo USB device answered the PC's instructions: -d BUS.ADDR names the one to decode">(console);
        else
            put<"\nNo USB device sent or received bulk or interrupt data">(console);
        return;
    }
    put<"\n">(console);
    putDevice(console, *device);
    const int messages = static_cast<int>(std::min<std::uint64_t>(usb_->messages(), INT32_MAX));
    if (messages == 1)
        put<": 1 message">(console);
    else
        put<": %d messages">(console, messages);
    if (const std::uint64_t missed = usb_->missed())
        put<" (and %d before it was recognised, passed over)">(console,
                                                               static_cast<int>(std::min<std::uint64_t>(missed, INT32_MAX)));
}

} // namespace vornlog
