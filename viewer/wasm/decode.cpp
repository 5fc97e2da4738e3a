// The viewer's decoding, compiled to WebAssembly: the console program's own
// capture readers, decoders and outputs, run in the browser on a capture
// that the page has written into the module's memory file system.
//
// One pass (vornlog_decode) writes the JSON Lines (the details of every message, as -j
// writes them) and, beside them, what the views need for each message in
// columns of numbers: its number, time, sender and code, the reply delay
// of a reply, the buffer fill and segment of a Data reply, the marks of a
// refusal or a request left without a reply; and the stored segments of
// the steps CSV with the message that sent each. A second pass
// (vornlog_summarize) writes the session summary (-t).
//
// The page reads the results through the vornlog_* functions below, then
// frees them with vornlog_release.
#include <emscripten/emscripten.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/pairing.h"
#include "analysis/segments.h"
#include "capture/input.h"
#include "capture/source.h"
#include "capture/usb_source.h"
#include "output/json_lines.h"
#include "output/out.h"
#include "output/summary.h"
#include "program/platform.h"
#include "program/progress.h"
#include "protocol/instructions.h"
#include "protocol/motion/fields.h"

using namespace vornlog;

// The page's progress bar: the share of the capture read, from 0 to 1, and
// the pass (1: messages, 2: summary).
EM_JS(void, vornlog_progress, (int pass, double share), { if (Module.onDecodeProgress) Module.onDecodeProgress(pass, share); });

namespace {

enum Mark : std::uint8_t {
    kRefusal = 1,  // a Data reply "buffer full, data not stored"
    kNoReply = 2,  // a PC message that got no reply
    kStop = 4,     // a Stop message
    kOtherSt = 8,  // a Data reply that neither stored nor refused
};

struct Results {
    std::string json;
    std::vector<double> number;
    std::vector<double> time; // seconds since the first timed message; NaN without
    std::vector<std::uint8_t> from; // 0 PC, 1 controller
    std::vector<std::uint8_t> code;
    std::vector<std::uint8_t> marks;
    std::vector<float> delay;      // ms from the request to this reply; NaN
    std::vector<std::int8_t> buffer; // percent, Data replies; -1
    std::vector<std::int32_t> segment; // SEG of a Data reply; -1
    // Stored segments, rows of the steps CSV: the PC Data message (its index
    // among the messages) and S1, S2, S3 with their signs, and PWM.
    std::vector<std::int32_t> rowMessage;
    std::vector<std::int32_t> rowSteps; // three per row
    std::vector<std::int32_t> rowPwm;
    std::vector<std::int32_t> rowSeg;
    std::vector<std::uint8_t> rowEnd; // 1: an end-of-data row
    std::string summary;
    std::string problem;
};

Results results;

long fileSize(std::FILE* f)
{
    if (std::fseek(f, 0, SEEK_END) != 0) return 0;
    const long size = std::ftell(f);
    std::rewind(f);
    return size;
}

// The messages as writeJsonLines reads them, with their columns taken on
// the way from the same records.
class Columns final : public MessageSource {
public:
    // `pass` 1 takes the columns; pass 2 (the summary) only shows progress.
    Columns(MessageSource& in, std::FILE* file, long size, int pass)
        : in_(in), file_(file), size_(size), pass_(pass)
    {
    }

    bool next(CaptureRecord& record) override
    {
        if (!in_.next(record)) return false;
        if (++records_ % 8192 == 0) progress();
        if (pass_ == 1 && record.isMessage) take(record);
        return true;
    }
    bool readError() const override { return in_.readError(); }
    std::string fault() const override { return in_.fault(); }
    std::string_view format() const override { return in_.format(); }
    bool interrupted() const override { return in_.interrupted(); }
    void readTimes() override { in_.readTimes(); }

    void finish()
    {
        if (const auto unanswered = pairing_.finish()) results.marks[unanswered->at] |= kNoReply;
    }

private:
    void progress() const
    {
        if (size_ > 0) vornlog_progress(pass_, static_cast<double>(std::ftell(file_)) / static_cast<double>(size_));
    }

    void take(const CaptureRecord& record)
    {
        const std::size_t index = results.number.size();
        const std::uint8_t code = instructionCode(record.field);
        const bool pc = record.direction == Direction::Pc;
        results.number.push_back(static_cast<double>(record.number));
        if (record.hasTime && !firstTime_) firstTime_ = record.timeNs;
        results.time.push_back(record.hasTime ? static_cast<double>(record.timeNs - *firstTime_) / 1e9 : NAN);
        results.from.push_back(pc ? 0 : 1);
        results.code.push_back(code);
        results.marks.push_back(pc && code == 'S' ? kStop : 0);
        results.delay.push_back(NAN);
        results.buffer.push_back(-1);
        results.segment.push_back(-1);

        if (pc) {
            RequestPairing::Request request{code, index, record.hasTime, record.timeNs};
            if (const auto unanswered = pairing_.request(request)) results.marks[unanswered->at] |= kNoReply;
        } else if (const auto answered = pairing_.reply(code)) {
            if (answered->timed && record.hasTime)
                results.delay[index] = static_cast<float>(static_cast<double>(record.timeNs - answered->ns) / 1e6);
        }

        if (code != motion::kDataCode) return;
        if (pc) lastData_ = static_cast<std::int32_t>(index);
        motion::decodeData(record.direction, record.field, sink_);
        motion::StoredSegment stored;
        const motion::DataEvent event = segments_.feed(record.direction, sink_.message(), stored);
        if (!pc) {
            results.buffer[index] = static_cast<std::int8_t>(motion::bufferPercent(stored.buf));
            results.segment[index] = stored.seg;
        }
        if (event == motion::DataEvent::BufferFull) results.marks[index] |= kRefusal;
        if (event == motion::DataEvent::NotUsbMode || event == motion::DataEvent::OtherStatus)
            results.marks[index] |= kOtherSt;
        if (event == motion::DataEvent::Stored) {
            const motion::Segment& s = stored.segment;
            results.rowMessage.push_back(lastData_);
            results.rowEnd.push_back(s.endOfData() ? 1 : 0);
            for (int axis = 0; axis < 3; ++axis) results.rowSteps.push_back(s.endOfData() ? 0 : s.steps[axis]);
            results.rowPwm.push_back(s.hasPwm() ? s.pwm : -1);
            results.rowSeg.push_back(stored.seg);
        }
    }

    MessageSource& in_;
    std::FILE* file_;
    long size_;
    int pass_;
    std::uint64_t records_ = 0;
    std::optional<std::int64_t> firstTime_;
    RequestPairing pairing_;
    motion::SegmentSink sink_;
    motion::StoredSegments segments_;
    std::int32_t lastData_ = -1;
};

// One pass over the capture at `path`: false, with results.problem, when
// it cannot be read. What was decoded before a fault stays.
template <class Pass>
bool onePass(const char* path, const char* name, const std::optional<UsbDevice>& device, Pass pass)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        results.problem = std::string(kCantRead) + name;
        return false;
    }
    const long size = fileSize(file);
    DumpStream stream(file, false);
    std::string consoleText;
    Out console(&consoleText);
    DumpInput input(stream, device, console);
    if (!input.problem().empty()) {
        results.problem = input.problem() + name;
        std::fclose(file);
        return false;
    }
    MessageSource& in = input.source();
    pass(in, file, size);
    bool ok = true;
    if (in.readError()) {
        results.problem = std::string(kCantRead) + name;
        ok = false;
    } else if (!in.fault().empty()) {
        results.problem = "Damaged capture file, " + in.fault() + ": " + name;
        ok = false;
    }
    std::fclose(file);
    return ok;
}

} // namespace

extern "C" {

// Decodes the capture at `path` (named `name` in the summary and in the
// messages), from USB device `device` ("BUS.ADDR", or "" for the one the
// console would recognise). Returns 0, or 1 when the capture could not be
// decoded to its end (vornlog_problem says why, as the console would).
EMSCRIPTEN_KEEPALIVE int vornlog_decode(const char* path, const char* name, const char* device)
{
    results = Results{};
    std::optional<UsbDevice> wanted;
    if (device && *device) {
        wanted = parseUsbDevice(device);
        if (!wanted) {
            results.problem = std::string("Not a USB device (BUS.ADDR): ") + device;
            return 1;
        }
    }
    const bool whole = onePass(path, name, wanted, [](MessageSource& in, std::FILE* file, long size) {
        Columns columns(in, file, size, 1);
        Out json(&results.json);
        std::string consoleText;
        Out console(&consoleText);
        Progress progress(console, false);
        writeJsonLines(columns, json, progress);
        columns.finish();
        json.flush();
    });
    return whole ? 0 : 1;
}

// The session summary of the same capture (after vornlog_decode and
// vornlog_release: the page is ready before it), in vornlog_summary.
EMSCRIPTEN_KEEPALIVE void vornlog_summarize(const char* path, const char* name, const char* device)
{
    results = Results{};
    std::optional<UsbDevice> wanted;
    if (device && *device) wanted = parseUsbDevice(device);
    onePass(path, name, wanted, [name](MessageSource& in, std::FILE* file, long size) {
        Columns counted(in, file, size, 2);
        Out out(&results.summary);
        std::string consoleText;
        Out console(&consoleText);
        Progress progress(console, false);
        writeSummary(counted, name, out, progress);
        out.flush();
    });
}

EMSCRIPTEN_KEEPALIVE const char* vornlog_json() { return results.json.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t vornlog_json_size() { return results.json.size(); }
EMSCRIPTEN_KEEPALIVE std::size_t vornlog_messages() { return results.number.size(); }
EMSCRIPTEN_KEEPALIVE const double* vornlog_number() { return results.number.data(); }
EMSCRIPTEN_KEEPALIVE const double* vornlog_time() { return results.time.data(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* vornlog_from() { return results.from.data(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* vornlog_code() { return results.code.data(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* vornlog_marks() { return results.marks.data(); }
EMSCRIPTEN_KEEPALIVE const float* vornlog_delay() { return results.delay.data(); }
EMSCRIPTEN_KEEPALIVE const std::int8_t* vornlog_buffer() { return results.buffer.data(); }
EMSCRIPTEN_KEEPALIVE const std::int32_t* vornlog_segment() { return results.segment.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t vornlog_rows() { return results.rowMessage.size(); }
EMSCRIPTEN_KEEPALIVE const std::int32_t* vornlog_row_message() { return results.rowMessage.data(); }
EMSCRIPTEN_KEEPALIVE const std::int32_t* vornlog_row_steps() { return results.rowSteps.data(); }
EMSCRIPTEN_KEEPALIVE const std::int32_t* vornlog_row_pwm() { return results.rowPwm.data(); }
EMSCRIPTEN_KEEPALIVE const std::int32_t* vornlog_row_seg() { return results.rowSeg.data(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* vornlog_row_end() { return results.rowEnd.data(); }
EMSCRIPTEN_KEEPALIVE const char* vornlog_summary() { return results.summary.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* vornlog_problem() { return results.problem.c_str(); }
EMSCRIPTEN_KEEPALIVE void vornlog_release() { results = Results{}; }

} // extern "C"
