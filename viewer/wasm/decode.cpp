// The viewer's decoding, compiled to WebAssembly: the console program's own
// capture readers, decoders and outputs, run in the browser on a capture
// that the page has written into the module's memory (vornlog_capture).
//
// One pass (vornlog_decode) keeps every message's record (its bytes, time
// and sender: far less than its JSON line) and takes what the views need
// of each message in columns of numbers (analysis/message_columns.h). A
// second pass
// (vornlog_summary_*) writes the session summary (-t), and a third
// (vornlog_devices_*) lists the capture's USB devices; both run in steps,
// so that the page's questions are answered while they run.
//
// The findings (analysis/findings.h) are made in the first pass by the
// console's own engine, fed every message with its decoding, and handed to
// the page as -e writes them (vornlog_findings).
//
// A message's details are its JSON line, as -j writes it, written when the
// page asks (vornlog_lines) from the record kept; the text search looks
// in an index of their parts (vornlog_index_*, vornlog_search_*). The page reads the columns
// as vornlog_columns describes them, then frees them with vornlog_release.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "analysis/findings.h"
#include "analysis/message_columns.h"
#include "base/out.h"
#include "capture/dump_input.h"
#include "capture/input.h"
#include "capture/source.h"
#include "capture/usb_capture.h"
#include "capture/usb_source.h"
#include "output/findings_lines.h"
#include "output/json_lines.h"
#include "output/progress.h"
#include "output/summary.h"
#include "protocol/instructions.h"
#include "search_index.h"

using namespace vornlog;

// A function the page calls, by its name.
#define EXPORTED(name) __attribute__((export_name(#name)))

// The page's progress bar: the share of the capture read, from 0 to 1, and
// the pass (1: messages, 2: summary). Given by the page's loader.
extern "C" __attribute__((import_module("vornlog"), import_name("progress"))) void vornlog_progress(int pass,
                                                                                                   double share);

namespace {

// A message's record as the JSON line needs it; its data field is kept in
// one text for all.
struct Kept {
    double number = 0;
    TimeNs timeNs = 0;
    std::uint32_t fieldAt = 0;
    std::uint32_t fieldSize = 0;
    Direction direction = Direction::Controller;
    bool hasTime = false;
    bool hasDevice = false;
    bool shortLine = false; // on a line that the report passes over
    TimeForm timeForm = TimeForm::None;
    int timeDigits = 0;
    UsbDevice device;

    // A message as its record gives it, its data field kept in `fields`.
    static Kept of(const CaptureRecord& record, std::string& fields)
    {
        Kept k;
        k.number = static_cast<double>(record.number);
        k.timeNs = record.timeNs;
        k.fieldAt = static_cast<std::uint32_t>(fields.size());
        k.fieldSize = static_cast<std::uint32_t>(record.field.size());
        k.direction = record.direction;
        k.hasTime = record.hasTime;
        k.hasDevice = record.hasDevice;
        k.shortLine = record.shortLine;
        k.timeForm = record.timeForm;
        k.timeDigits = record.timeDigits;
        k.device = record.device;
        fields.append(record.field);
        return k;
    }
    // The record again, its data field read from `fields`.
    CaptureRecord record(std::string_view fields) const
    {
        CaptureRecord r;
        r.number = static_cast<std::uint64_t>(number);
        r.isMessage = true;
        r.direction = direction;
        r.field = fields.substr(fieldAt, fieldSize);
        r.hasTime = hasTime;
        r.timeNs = timeNs;
        r.timeForm = timeForm;
        r.timeDigits = timeDigits;
        r.hasDevice = hasDevice;
        r.shortLine = shortLine;
        r.device = device;
        return r;
    }
};

// Every message of the capture decoded last, and the first with a time
// (its JSON t counts from it).
struct Capture {
    std::vector<Kept> messages;
    std::string fields;
    std::optional<std::size_t> firstTimed;
};

Capture capture;

// The capture's bytes, as the page wrote them (vornlog_capture): every
// pass reads them from the first.
std::unique_ptr<char[]> captureBytes;
std::size_t captureSize = 0;
std::string_view captureView() { return {captureBytes.get(), captureSize}; }

// Scratch text handed to the page (JSON lines, the device list).
std::string scratch;

// The text search's index of the capture decoded last, and the answer of
// the search made last.
SearchIndex searchIndex;
std::string searchHits;

struct Results {
    MessageColumns columns;
    std::string described; // the columns as vornlog_columns describes them
    std::string summary;
    std::string findings; // the findings' JSON Lines, as -e writes them
    std::string problem;
    std::string console; // what the console says of the USB device
};

Results results;

// The messages of the capture, with their columns taken on the way.
class Columns final : public ForwardingSource {
public:
    // `pass` 1 takes the columns; pass 2 (the summary) only shows progress.
    Columns(MessageSource& in, const MemoryStream& stream, int pass)
        : ForwardingSource(in), stream_(stream), pass_(pass)
    {
        if (pass_ == 1)
            engine_ = std::make_unique<findings::Engine>(in.format() == "text dump", false,
                                                         [this](const findings::Finding& f) { putFindingJson(found_, f); });
    }

    bool next(CaptureRecord& record) override
    {
        if (!in_.next(record)) return false;
        if (++records_ % 8192 == 0) progress();
        if (pass_ == 1 && record.isMessage) take(record);
        return true;
    }

    void finish()
    {
        maker_.finish();
        if (!engine_) return;
        engine_->finish();
        found_.flush();
    }

private:
    void progress() const
    {
        if (stream_.size() > 0)
            vornlog_progress(pass_, static_cast<double>(stream_.position()) / static_cast<double>(stream_.size()));
    }

    void take(const CaptureRecord& record)
    {
        if (record.hasTime && !capture.firstTimed) capture.firstTimed = capture.messages.size();
        capture.messages.push_back(Kept::of(record, capture.fields));
        maker_.add(record);
        engine_->feed(record, maker_.values());
    }

    const MemoryStream& stream_;
    int pass_;
    std::uint64_t records_ = 0;
    MessageColumnsMaker maker_{results.columns};
    Out found_{&results.findings, false, 1 << 12};
    std::unique_ptr<findings::Engine> engine_;
};

// Room for what a capture of `size` bytes can give at most, taken at once:
// growing by doubling would leave every smaller copy behind in the
// module's memory, which never shrinks. (Room that is never written costs
// the browser nothing.) A text dump's message nearly always takes a line
// of more than 40 characters (the few shorter ones grow the columns past
// this room), a USB capture's a packet of more than 40 bytes.
void reserveFor(std::size_t bytes)
{
    if (bytes == 0 || bytes > (std::size_t{1} << 28)) return;
    const std::size_t most = bytes / 40 + 1;
    capture.fields.reserve(bytes);
    capture.messages.reserve(most);
    results.columns.reserve(most);
}

// The capture read for one pass: its reader, whatever its kind, and the
// console's lines on it. Not to be moved: the reader holds the stream and
// the console.
class CapturePass {
public:
    CapturePass(const char* name, const std::optional<UsbDevice>& device) : name_(name), stream_(captureView())
    {
        input_ = std::make_unique<DumpInput>(stream_, device, console_);
        if (!input_->problem().empty()) problem_ = input_->problem() + name_;
    }
    CapturePass(const CapturePass&) = delete;
    CapturePass& operator=(const CapturePass&) = delete;

    // Why the capture cannot be decoded at all ("" when it can); nothing
    // else may be asked then.
    const std::string& problem() const { return problem_; }
    MessageSource& source() { return input_->source(); }
    const MemoryStream& stream() const { return stream_; }

    // After the last record: the console's lines on a USB capture's device,
    // and false, with problem(), when the capture was not read to its end.
    bool finish()
    {
        input_->conclude(console_);
        console_.flush();
        const MessageSource& in = input_->source();
        if (in.readError())
            problem_ = std::string(kCantRead) + name_;
        else if (!in.fault().empty())
            problem_ = "Damaged capture file, " + in.fault() + ": " + name_;
        return problem_.empty();
    }
    const std::string& console() const { return consoleText_; }

private:
    std::string name_;
    MemoryStream stream_;
    std::string consoleText_;
    Out console_{&consoleText_};
    std::string problem_;
    std::unique_ptr<DumpInput> input_;
};

// One pass over the capture: false, with results.problem, when it cannot
// be read. What was decoded before a fault stays.
template <class Pass>
bool onePass(const char* name, const std::optional<UsbDevice>& device, Pass pass)
{
    CapturePass open(name, device);
    if (!open.problem().empty()) {
        results.problem = open.problem();
        return false;
    }
    pass(open.source(), open.stream());
    const bool whole = open.finish();
    results.console = open.console();
    results.problem = open.problem();
    return whole;
}

// The session summary of the capture (-t), written a few records at a
// time, so that the page's questions are answered between the steps.
class SummaryPass {
public:
    SummaryPass(const char* name, const std::optional<UsbDevice>& device) : name_(name), open_(name, device)
    {
        if (!open_.problem().empty()) return;
        counted_.emplace(open_.source(), open_.stream(), 2);
        summary_.emplace(*counted_);
        counted_->readTimes();
    }

    // Feeds up to `records` more records; true once the capture has given
    // its last.
    bool step(int records)
    {
        for (int k = 0; k < records && !done_; ++k) {
            if (counted_ && counted_->next(record_))
                summary_->feed(record_);
            else
                done_ = true;
        }
        return done_;
    }

    // The summary of the records fed (nothing for a capture that could
    // not be opened).
    std::string finish()
    {
        std::string text;
        if (!counted_) return text;
        Out out(&text);
        summary_->write(*counted_, name_, out);
        out.flush();
        open_.finish();
        return text;
    }

private:
    std::string name_;
    CapturePass open_;
    std::optional<Columns> counted_;
    std::optional<SessionSummary> summary_;
    CaptureRecord record_;
    bool done_ = false;
};

// The USB devices whose packets carry messages in a capture (none in a
// text dump), in the order they first send or receive one, scanned a few
// packets at a time.
class DeviceScan {
public:
    DeviceScan()
    {
        const std::string_view bytes = captureView();
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

    // A line "BUS.ADDR PACKETS" for each device found.
    std::string finish() const
    {
        std::string text;
        for (const auto& [device, packets] : found_)
            text += std::to_string(device.bus) + "." + std::to_string(device.address) + " " + std::to_string(packets) + "\n";
        return text;
    }

private:
    std::unique_ptr<UsbCaptureReader> reader_;
    std::vector<std::pair<UsbDevice, std::uint64_t>> found_;
};

// The passes that follow the decoding, while one runs.
std::unique_ptr<SummaryPass> summaryPass;
std::unique_ptr<DeviceScan> deviceScan;

// The kept records of some messages, as a capture gives them.
class Replay final : public MessageSource {
public:
    explicit Replay(std::vector<std::size_t> which) : which_(std::move(which)) {}

    bool next(CaptureRecord& record) override
    {
        if (at_ == which_.size()) return false;
        record = capture.messages[which_[at_++]].record(capture.fields);
        return true;
    }
    bool readError() const override { return false; }
    std::string_view format() const override { return {}; }

private:
    std::vector<std::size_t> which_;
    std::size_t at_ = 0;
};

// The JSON line of message i, as -j writes it: the capture's first timed
// message goes first (t counts from it), its line is left out.
void putLine(std::size_t i)
{
    std::vector<std::size_t> which;
    if (capture.firstTimed && *capture.firstTimed < i) which.push_back(*capture.firstTimed);
    which.push_back(i);
    Replay replay(std::move(which));
    std::string text;
    {
        Out out(&text, false);
        std::string consoleText;
        Out console(&consoleText);
        Progress progress(console, false);
        writeJsonLines(replay, out, progress);
        out.flush();
    }
    const std::size_t last = text.rfind('\n', text.size() >= 2 ? text.size() - 2 : 0);
    scratch.append(last == std::string::npos || text.size() < 2 ? text : text.substr(last + 1));
}

} // namespace

extern "C" {

// The JSON lines of `count` messages (indices), one line each, in that
// order, in vornlog_scratch.
EXPORTED(vornlog_lines) void vornlog_lines(const std::int32_t* indices, int count)
{
    scratch.clear();
    for (int k = 0; k < count; ++k) {
        const auto i = static_cast<std::size_t>(indices[k]);
        if (i < capture.messages.size()) putLine(i);
        else scratch += "null\n";
    }
}

// The text search's index (search_index.h), made in steps after the
// summary: begin, then step until it says it is done (1), each step adding
// up to `count` messages. A search asked before waits for it.
EXPORTED(vornlog_index_begin) void vornlog_index_begin()
{
    searchIndex = SearchIndex{};
    searchIndex.reserve(capture.messages.size());
}
EXPORTED(vornlog_index_step) int vornlog_index_step(int count)
{
    std::size_t i = searchIndex.size();
    const std::size_t last = std::min(capture.messages.size(), i + static_cast<std::size_t>(std::max(count, 0)));
    for (; i < last; ++i) {
        const Kept& k = capture.messages[i];
        searchIndex.add(k.direction, std::string_view(capture.fields).substr(k.fieldAt, k.fieldSize));
    }
    if (i < capture.messages.size()) return 0;
    searchIndex.finish();
    return 1;
}

// A search for `query` (UTF-8, escaped as the JSON line writes it), A to Z
// matching a to z, in steps: begin, then step until it says it is done
// (1), each step looking at up to `count` messages. Then vornlog_hits
// holds one byte for each message: 1 when a part of its JSON line (its
// sender and instruction, one of its fields, its errors) holds the query.
EXPORTED(vornlog_search_begin) void vornlog_search_begin(const char* query, int size)
{
    searchIndex.begin(std::string_view(query, static_cast<std::size_t>(std::max(size, 0))));
}
EXPORTED(vornlog_search_step) int vornlog_search_step(int count)
{
    return searchIndex.step(static_cast<std::size_t>(std::max(count, 0)), searchHits);
}
EXPORTED(vornlog_hits) const char* vornlog_hits() { return searchHits.data(); }
EXPORTED(vornlog_hits_size) std::size_t vornlog_hits_size() { return searchHits.size(); }

EXPORTED(vornlog_scratch) const char* vornlog_scratch() { return scratch.data(); }
EXPORTED(vornlog_scratch_size) std::size_t vornlog_scratch_size() { return scratch.size(); }

// Stops the summary or the device scan that still runs (before the
// capture is replaced by another).
EXPORTED(vornlog_background_stop) void vornlog_background_stop()
{
    summaryPass.reset();
    deviceScan.reset();
}

// Room for a capture of `size` bytes, which the page writes there before
// it asks for vornlog_decode; null when the module's memory cannot hold
// it. What was kept of the capture before goes first.
EXPORTED(vornlog_capture) char* vornlog_capture(std::size_t size)
{
    vornlog_background_stop();
    results = Results{};
    capture = Capture{};
    searchIndex = SearchIndex{};
    searchHits = std::string();
    captureBytes.reset();
    captureSize = 0;
    captureBytes.reset(new (std::nothrow) char[size ? size : 1]);
    if (captureBytes) captureSize = size;
    return captureBytes.get();
}

// Lets the capture's bytes go once every pass has read them.
EXPORTED(vornlog_capture_free) void vornlog_capture_free()
{
    vornlog_background_stop();
    captureBytes.reset();
    captureSize = 0;
}

// Decodes the capture (named `name` in the summary and in the messages),
// from USB device `device` ("BUS.ADDR", or "" for the one the console
// would recognise). Returns 0, or 1 when the capture could not be decoded
// to its end (vornlog_problem says why, as the console would).
EXPORTED(vornlog_decode) int vornlog_decode(const char* name, const char* device)
{
    vornlog_background_stop();
    results = Results{};
    capture = Capture{};
    searchIndex = SearchIndex{};
    std::optional<UsbDevice> wanted;
    if (device && *device) {
        wanted = parseUsbDevice(device);
        if (!wanted) {
            results.problem = std::string("Not a USB device (BUS.ADDR): ") + device;
            return 1;
        }
    }
    const bool whole = onePass(name, wanted, [](MessageSource& in, const MemoryStream& stream) {
        in.readTimes();
        reserveFor(stream.size());
        Columns columns(in, stream, 1);
        CaptureRecord record;
        while (columns.next(record)) {
        }
        columns.finish();
    });
    return whole ? 0 : 1;
}

// The session summary of the capture decoded last (after vornlog_release:
// the page is ready before it), in steps: begin, then step until it says
// it is done (1), each step reading up to `records` records; then finish
// writes the summary in vornlog_summary. A capture that cannot be opened
// gives no summary.
EXPORTED(vornlog_summary_begin) void vornlog_summary_begin(const char* name, const char* device)
{
    results = Results{};
    std::optional<UsbDevice> wanted;
    if (device && *device) wanted = parseUsbDevice(device);
    summaryPass = std::make_unique<SummaryPass>(name, wanted);
}
EXPORTED(vornlog_summary_step) int vornlog_summary_step(int records) { return !summaryPass || summaryPass->step(records); }
EXPORTED(vornlog_summary_finish) void vornlog_summary_finish()
{
    if (summaryPass) results.summary = summaryPass->finish();
    summaryPass.reset();
}

// The columns of the capture decoded last, described as JSON:
// {"columns": [{"name", "type" (u8, i8, i32, f32, f64), "at" (their place in
// the module's memory), "length" (elements)}, ...], "markBits": {name: bit}
// (the bits of the marks column), "instructions": {code: name}} (the
// instruction set, for the page's filter). Valid until vornlog_release.
EXPORTED(vornlog_columns) const char* vornlog_columns()
{
    std::string& d = results.described;
    d = "{\"columns\":[";
    forEachColumn(results.columns, [&](std::string_view name, ColumnType type, const void* at, std::size_t length) {
        if (d.back() != '[') d += ',';
        d += "{\"name\":\"" + std::string(name) + "\",\"type\":\"" + std::string(columnTypeName(type)) +
             "\",\"at\":" + std::to_string(reinterpret_cast<std::uintptr_t>(at)) +
             ",\"length\":" + std::to_string(length) + "}";
    });
    d += "],\"markBits\":{";
    for (const MarkName& mark : kMarkNames) {
        if (d.back() != '{') d += ',';
        d += "\"" + std::string(mark.name) + "\":" + std::to_string(mark.bit);
    }
    d += "},\"instructions\":{";
    for (const Instruction& instruction : kInstructions) {
        if (d.back() != '{') d += ',';
        d += "\"" + std::to_string(instruction.code) + "\":\"" + std::string(instruction.name) + "\"";
    }
    d += "}}";
    return d.c_str();
}
EXPORTED(vornlog_summary) const char* vornlog_summary() { return results.summary.c_str(); }
// The findings of the capture decoded last, a JSON line each as -e writes
// them, in the order they became known. Valid until vornlog_release.
EXPORTED(vornlog_findings) const char* vornlog_findings() { return results.findings.c_str(); }
EXPORTED(vornlog_problem) const char* vornlog_problem() { return results.problem.c_str(); }
EXPORTED(vornlog_console) const char* vornlog_console() { return results.console.c_str(); }

// The USB devices whose packets carry messages in the capture
// (none in a text dump), in the order they first send or receive one, in
// steps as the summary: begin, step (up to `packets` packets) until done,
// then finish writes a line "BUS.ADDR PACKETS" each in vornlog_scratch.
// The page offers them as -d would take them.
EXPORTED(vornlog_devices_begin) void vornlog_devices_begin() { deviceScan = std::make_unique<DeviceScan>(); }
EXPORTED(vornlog_devices_step) int vornlog_devices_step(int packets) { return !deviceScan || deviceScan->step(packets); }
EXPORTED(vornlog_devices_finish) void vornlog_devices_finish()
{
    scratch = deviceScan ? deviceScan->finish() : std::string();
    deviceScan.reset();
}

EXPORTED(vornlog_release) void vornlog_release() { results = Results{}; }

} // extern "C"
