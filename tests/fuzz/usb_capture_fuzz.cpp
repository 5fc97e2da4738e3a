// Fuzz target: arbitrary bytes as a USB capture file (pcap or pcapng). The
// reader must never crash, over-read or hang; read from memory and from a
// stdio stream (with the first bytes handed over as already read) it must
// give the same packets and stop at the same fault; every packet's data
// lies within the accepted length; and the packets decode into a report,
// the same whether the device is recognised on the way or asked for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "capture/usb_capture.h"
#include "capture/usb_source.h"
#include "fuzz_checks.h"
#include "output/report.h"
#include "output/progress.h"

using namespace vornlog;

namespace {

std::string describe(const UsbPacket& p)
{
    std::string s = std::to_string(p.number) + (p.isUsb ? " usb " : " other ");
    s += std::to_string(p.device.bus) + "." + std::to_string(p.device.address) + " ep " + std::to_string(p.endpoint) +
         " t " + std::to_string(p.transfer) + " " + std::string(1, p.event) + " n " + std::to_string(p.size) + " " +
         std::to_string(p.hasTime) + ":" + std::to_string(static_cast<long long>(p.timeNs / 1000000000)) + "." + std::to_string(static_cast<long long>(p.timeNs % 1000000000)) + " ";
    if (p.size) s.append(reinterpret_cast<const char*>(p.data), p.size);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string fromMemory;
    {
        UsbCaptureReader reader(bytes);
        UsbPacket p;
        while (reader.next(p)) {
            if (p.size > kMaxCapturedLength) fuzz::fail("a packet longer than the accepted length");
            fromMemory += describe(p) + "\n";
        }
        fromMemory += "fault: " + reader.fault();
    }
    if (size > 0) {
        std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (!file) fuzz::fail("fmemopen");
        const std::size_t headSize = std::min<std::size_t>(size % 5, size);
        char head[4];
        if (std::fread(head, 1, headSize, file) != headSize) fuzz::fail("fread");
        std::string fromFile;
        {
            UsbCaptureReader reader(file, std::string_view(head, headSize));
            UsbPacket p;
            while (reader.next(p)) fromFile += describe(p) + "\n";
            fromFile += "fault: " + reader.fault();
        }
        std::fclose(file);
        if (fromFile != fromMemory)
            fuzz::fail("reading from a stream differs from reading from memory", fromMemory, fromFile);
    }
    // The packets through the report: the device chosen in one pass gives
    // the report that the same device asked for gives, unless messages of
    // it were passed over before it was recognised.
    auto report = [bytes](std::optional<UsbDevice> device, std::optional<UsbDevice>* chosen) {
        UsbCaptureReader reader(bytes);
        UsbCaptureSource source(reader, device);
        std::string text, console;
        {
            Out out(&text), screen(&console);
            Progress progress(screen);
            writeReport(source, out, progress);
        }
        if (chosen) *chosen = source.missed() == 0 ? source.device() : std::nullopt;
        return text;
    };
    std::optional<UsbDevice> chosen;
    const std::string found = report(std::nullopt, &chosen);
    if (chosen && report(chosen, nullptr) != found)
        fuzz::fail("the device chosen in one pass decodes otherwise when asked for", report(chosen, nullptr), found);
    report(UsbDevice{1, 7}, nullptr);
    return 0;
}
