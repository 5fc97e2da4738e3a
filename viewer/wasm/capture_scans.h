// Scans of a capture's bytes that the viewer's decoding makes besides
// reading its records: the USB devices that carry messages, and how far
// the bytes that came so far hold whole records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/usb_capture.h"

namespace vornlog {

// The USB devices whose packets carry messages in a capture (none in a
// text dump), in the order they first send or receive one, scanned a few
// packets at a time.
class DeviceScan {
public:
    explicit DeviceScan(std::string_view bytes)
    {
        if (bytes.empty()) return;
        const auto* head = reinterpret_cast<const unsigned char*>(bytes.data());
        if (detectCaptureFormat(head, std::min<std::size_t>(bytes.size(), 4)) == CaptureFormat::TextDump) return;
        reader_ = std::make_unique<UsbCaptureReader>(bytes);
    }

    // Reads up to `packets` more packets; true at the capture's end.
    bool step(int packets)
    {
        UsbPacket packet;
        for (int k = 0; k < packets && reader_; ++k) {
            if (!reader_->next(packet)) {
                reader_.reset();
                break;
            }
            if (!packet.isUsb || !carriesMessage(packet)) continue;
            auto at = std::find_if(found_.begin(), found_.end(), [&](const auto& f) { return f.first == packet.device; });
            if (at != found_.end())
                ++at->second;
            else if (found_.size() < 1000) // a bound against a hostile file; a bus has 127 devices
                found_.emplace_back(packet.device, 1);
        }
        return !reader_;
    }

    // Each device found, with its packets that carry a message.
    const std::vector<std::pair<UsbDevice, std::uint64_t>>& found() const { return found_; }

private:
    std::unique_ptr<UsbCaptureReader> reader_;
    std::vector<std::pair<UsbDevice, std::uint64_t>> found_;
};

// How far the bytes of a capture hold whole records: after the last line
// end of a text dump, after the last whole packet record or block of a
// pcap or pcapng. What looks damaged (a block length that no block has)
// holds the records where they are; the reader finds the damage once the
// input has ended.
class WholeRecords {
public:
    // The end of the whole records among the capture's first `size` bytes,
    // held from offset `base` on at `bytes` (the same bytes as before, and
    // more; those before `base` looked at already).
    std::uint64_t advance(const char* bytes, std::uint64_t base, std::uint64_t size)
    {
        const auto* held = reinterpret_cast<const unsigned char*>(bytes);
        const auto p = [&](std::uint64_t offset) { return held + (offset - base); };
        if (!format_) {
            if (size < 4) return whole_;
            format_ = detectCaptureFormat(p(0), 4);
        }
        if (*format_ == CaptureFormat::TextDump) {
            for (std::uint64_t i = size; i > scanned_; --i)
                if (*p(i - 1) == '\n') {
                    whole_ = i;
                    break;
                }
            scanned_ = size;
            return whole_;
        }
        while (!stuck_) {
            const std::uint64_t left = size - scanned_;
            const unsigned char* at = p(scanned_);
            std::size_t length = 0;
            bool packet = true;
            if (*format_ == CaptureFormat::Pcap) {
                if (scanned_ == 0) {
                    if (left < 24) break;
                    swap_ = u32(at, false) == 0xD4C3B2A1 || u32(at, false) == 0x4D3CB2A1;
                    scanned_ = 24;
                    continue;
                }
                if (left < 16) break;
                const std::uint32_t captured = u32(at + 8, swap_);
                if (captured > kMaxCapturedLength) stuck_ = true;
                length = std::size_t{16} + captured;
            } else {
                if (left < 12) break;
                const std::uint32_t type = u32(at, false);
                if (type == UsbCaptureReader::kSectionHeaderBlock) swap_ = u32(at + 8, false) == 0x4D3C2B1A;
                const std::uint32_t blockLength = u32(at + 4, swap_);
                if (blockLength < 12 || blockLength % 4 != 0) stuck_ = true;
                const std::uint32_t kind = swap_ && type != UsbCaptureReader::kSectionHeaderBlock ? swap(type) : type;
                packet = kind == UsbCaptureReader::kEnhancedPacketBlock || kind == UsbCaptureReader::kSimplePacketBlock ||
                         kind == UsbCaptureReader::kObsoletePacketBlock;
                length = blockLength;
            }
            if (stuck_ || left < length) break;
            scanned_ += length;
            if (packet) whole_ = scanned_;
        }
        return whole_;
    }

private:
    static std::uint32_t swap(std::uint32_t v) { return __builtin_bswap32(v); }
    static std::uint32_t u32(const unsigned char* p, bool swapped)
    {
        const std::uint32_t v = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                                std::uint32_t{p[3]} << 24;
        return swapped ? swap(v) : v;
    }

    std::optional<CaptureFormat> format_;
    std::uint64_t scanned_ = 0; // text: looked at for line ends; else: the start of the next record or block
    std::uint64_t whole_ = 0;
    bool swap_ = false;
    bool stuck_ = false;
};

} // namespace vornlog
