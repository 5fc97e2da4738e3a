// The messages of a USB capture file, and the opening of a dump file of
// either kind: a text dump or a USB capture, told apart by its first bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "capture.h"
#include "out.h"
#include "source.h"
#include "usb_capture.h"

namespace vornlog {

// "BUS.ADDR" in decimal, as -d gives it (e.g. "1.7"); empty when the text
// is not one.
std::optional<UsbDevice> parseUsbDevice(std::string_view text);

// The packets of a USB capture file as capture records: a packet is a
// message when it carries one (carriesMessage) and comes from `device`.
// Its field is its bytes as upper-case hex pairs separated by single
// spaces, as a capture line writes them.
class UsbCaptureSource final : public MessageSource {
public:
    UsbCaptureSource(UsbCaptureReader& reader, std::optional<UsbDevice> device, std::string format)
        : reader_(reader), device_(device), format_(std::move(format))
    {
    }

    bool next(CaptureRecord& record) override;
    bool readError() const override { return reader_.readError(); }
    std::string fault() const override { return reader_.fault(); }
    std::string_view format() const override { return format_; }

private:
    UsbCaptureReader& reader_;
    std::optional<UsbDevice> device_;
    std::string format_;
    // The field of the last message; it grows to the longest message met.
    std::unique_ptr<char[]> field_;
    std::size_t capacity_ = 0;
};

// The dump file of a run, whatever its kind. A USB capture is read through
// once first to choose the device (the one whose packets most often begin
// with an instruction code of the controller, unless one is asked for) and
// count its messages; then it is read again from its start. A capture that
// cannot be read twice (a pipe) is copied to a temporary file first.
class DumpInput {
public:
    DumpInput(std::FILE* dump, std::optional<UsbDevice> wanted);
    ~DumpInput();
    DumpInput(const DumpInput&) = delete;
    DumpInput& operator=(const DumpInput&) = delete;

    // Why the dump cannot be decoded ("" when it can), as a message that
    // the dump file's name completes.
    const std::string& problem() const { return problem_; }
    // Names the chosen device and its message count on the console (USB
    // captures only).
    void announce(Out& console) const;
    MessageSource& source() { return *source_; }

private:
    void scanUsb(std::optional<UsbDevice> wanted);

    std::FILE* dump_;
    std::FILE* spool_ = nullptr;
    std::string head_;
    std::string problem_;
    bool usb_ = false;
    std::optional<UsbDevice> device_;
    std::uint64_t messages_ = 0;
    std::unique_ptr<LineReader> lines_;
    std::unique_ptr<UsbCaptureReader> packets_;
    std::unique_ptr<MessageSource> source_;
};

} // namespace vornlog
