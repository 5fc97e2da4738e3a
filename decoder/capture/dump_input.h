// Which of the capture readers a run's dump file needs.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/out.h"
#include "source.h"
#include "usb_source.h"

namespace vornlog {

// The console's error for a dump file that cannot be read, completed by its
// name.
inline constexpr char kCantRead[] = "Can't read the file: ";

// The dump file of a run, whatever its kind, told by its first bytes: a
// text dump or a USB capture. A USB capture is read ahead until its device
// is known (or the capture ends) before the dest file is touched, and the
// console names the device as soon as it is known.
class DumpInput {
public:
    DumpInput(ByteStream& stream, std::optional<UsbDevice> wanted, Out& console);
    DumpInput(const DumpInput&) = delete;
    DumpInput& operator=(const DumpInput&) = delete;

    // Why the dump cannot be decoded ("" when it can), as a message that
    // the dump file's name completes.
    const std::string& problem() const { return problem_; }
    MessageSource& source() { return *source_; }
    bool usb() const { return usb_ != nullptr; }
    // Whether the device whose messages are decoded is known: always for a
    // text dump; for a USB capture, when it was asked for or recognised
    // while reading ahead.
    bool deviceKnown() const { return !usb_ || usb_->device().has_value(); }
    // The console's last words on the device: its message count (USB
    // captures only), on a line of its own after the progress line.
    void conclude(Out& console) const;

private:
    std::string head_;
    std::string problem_;
    std::unique_ptr<LineReader> lines_;
    std::unique_ptr<UsbCaptureReader> packets_;
    std::unique_ptr<UsbCaptureSource> usb_;
    std::unique_ptr<MessageSource> text_;
    MessageSource* source_ = nullptr;
    bool decoding_ = false;
};

} // namespace vornlog
