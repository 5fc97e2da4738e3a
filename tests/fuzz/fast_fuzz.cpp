// Fast fuzz targets: the input decoded once, in memory, through one output,
// with no reference to compare against and no second way of reading. They
// exist for depth (millions of runs in a campaign) where the checked
// targets beside them exist for correctness. The mode is chosen when the
// target is built (VORNLOG_FAST_MODE): 1 report, 2 steps CSV, 3 picture,
// 4 session summary, 5 JSON Lines, 6 USB capture file through the report,
// 7 findings as JSON Lines.
// Output goes to buffers that are thrown away; only the sanitizers judge.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "capture/capture.h"
#include "capture/source.h"
#include "capture/usb_capture.h"
#include "capture/usb_source.h"
#include "output/findings_lines.h"
#include "output/json_lines.h"
#include "base/out.h"
#include "output/picture.h"
#include "output/report.h"
#include "output/steps_csv.h"
#include "output/summary.h"
#include "output/progress.h"

using namespace vornlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static std::string text, console;
    text.clear();
    console.clear();
    Out dest(&text, false, 4096), screen(&console, false, 4096);
    Progress progress(screen);
#if VORNLOG_FAST_MODE == 6
    UsbCaptureReader reader(bytes);
    UsbCaptureSource source(reader, std::nullopt);
    writeReport(source, dest, progress);
#else
    // A block no larger than the input: a large one would be a fresh
    // mapping (and its page faults) on every run under AddressSanitizer.
    LineReader lines(bytes, bytes.size());
    TextDumpSource source(lines);
#if VORNLOG_FAST_MODE == 1
    writeReport(source, dest, progress);
#elif VORNLOG_FAST_MODE == 2
    writeStepsCsv(source, dest, screen, progress);
#elif VORNLOG_FAST_MODE == 3
    writePicture(source, dest, progress, "capture.txt");
#elif VORNLOG_FAST_MODE == 4
    writeSummary(source, "capture.txt", dest, progress);
#elif VORNLOG_FAST_MODE == 5
    writeJsonLines(source, dest, progress);
#elif VORNLOG_FAST_MODE == 7
    FindingsTap findings(source, &dest);
    CaptureRecord record;
    while (findings.next(record)) {
    }
    findings.finish();
#else
#error "VORNLOG_FAST_MODE: 1 to 7"
#endif
#endif
    return 0;
}
