// The viewer's decoding, compiled to WebAssembly: the console program's own
// capture readers, decoders and outputs, run in the browser on a capture
// that the page has written into the module's memory (vornlog_capture).
//
// One pass (vornlog_decode) keeps every message's record (its bytes, time
// and sender: far less than its JSON line) and takes what the views need
// of each message in columns of numbers (analysis/message_columns.h). A
// second pass
// (vornlog_summary_*) writes the session summary (-t; a bounded live
// session, which lets its bytes go once read, has it written on the way),
// and a third
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
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
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
#include "page_facts.h"
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

// A message's record as the JSON line needs it, in 40 bytes (the page
// keeps millions: its time in two halves, which need no 16-byte
// alignment); its data field is kept in one text for all, as its bytes
// when it is written as captures write them (upper-case hex pairs, one
// space apart: a third of the text), else as its text.
struct Kept {
    double number = 0;
    std::uint64_t timeLow = 0;
    std::int64_t timeHigh = 0;
    std::uint32_t fieldAt = 0;
    std::uint32_t fieldSize = 0;
    UsbDevice device;
    std::uint8_t flags = 0; // kPc, kHasTime, kHasDevice, kShortLine, kBytes
    std::uint8_t timeForm = 0;
    std::uint8_t timeDigits = 0;

    // (Short: on a line that the report passes over. Bytes: the data field
    // kept as its bytes.)
    static constexpr std::uint8_t kPc = 1, kHasTime = 2, kHasDevice = 4, kShortLine = 8, kBytes = 16;

    Direction direction() const { return flags & kPc ? Direction::Pc : Direction::Controller; }

    // A message as its record gives it, its data field kept in `fields`.
    static Kept of(const CaptureRecord& record, std::string& fields)
    {
        Kept k;
        k.number = static_cast<double>(record.number);
        k.timeLow = static_cast<std::uint64_t>(record.timeNs);
        k.timeHigh = static_cast<std::int64_t>(record.timeNs >> 64);
        k.fieldAt = static_cast<std::uint32_t>(fields.size());
        k.fieldSize = static_cast<std::uint32_t>(record.field.size());
        k.flags = static_cast<std::uint8_t>((record.direction == Direction::Pc ? kPc : 0) | (record.hasTime ? kHasTime : 0) |
                                            (record.hasDevice ? kHasDevice : 0) | (record.shortLine ? kShortLine : 0));
        k.timeForm = static_cast<std::uint8_t>(record.timeForm);
        k.timeDigits = static_cast<std::uint8_t>(std::clamp(record.timeDigits, 0, 255));
        k.device = record.device;
        if (hexPairs(record.field)) {
            k.flags |= kBytes;
            k.fieldSize = static_cast<std::uint32_t>((record.field.size() + 1) / 3);
            for (std::size_t i = 0; i < record.field.size(); i += 3)
                fields.push_back(static_cast<char>(digit(record.field[i]) << 4 | digit(record.field[i + 1])));
        } else {
            fields.append(record.field);
        }
        return k;
    }
    // The data field, read from `fields` (written into `text` when it was
    // kept as its bytes).
    std::string_view field(std::string_view fields, std::string& text) const
    {
        const std::string_view kept = fields.substr(fieldAt, fieldSize);
        if (!(flags & kBytes)) return kept;
        static constexpr char kDigits[] = "0123456789ABCDEF";
        text.clear();
        for (const char c : kept) {
            if (!text.empty()) text.push_back(' ');
            text.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
            text.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
        }
        return text;
    }
    // The record again, its data field read from `fields` (and written into
    // `text`, which it then points to).
    CaptureRecord record(std::string_view fields, std::string& text) const
    {
        CaptureRecord r;
        r.number = static_cast<std::uint64_t>(number);
        r.isMessage = true;
        r.direction = direction();
        r.field = field(fields, text);
        r.hasTime = flags & kHasTime;
        r.timeNs = static_cast<TimeNs>(static_cast<unsigned __int128>(static_cast<__int128>(timeHigh)) << 64 | timeLow);
        r.timeForm = static_cast<TimeForm>(timeForm);
        r.timeDigits = timeDigits;
        r.hasDevice = flags & kHasDevice;
        r.shortLine = flags & kShortLine;
        r.device = device;
        return r;
    }

private:
    // Whether a data field is written as captures write one: upper-case
    // hex pairs, one space apart (and at least one).
    static bool hexPairs(std::string_view field)
    {
        if (field.size() < 2 || field.size() % 3 != 2) return false;
        const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
        for (std::size_t i = 0; i < field.size(); i += 3)
            if (!hex(field[i]) || !hex(field[i + 1]) || (i + 2 < field.size() && field[i + 2] != ' ')) return false;
        return true;
    }
    static int digit(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }
};
static_assert(sizeof(Kept) == 40);

// Every message of the capture decoded last, and the first with a time
// (its JSON t counts from it). A live session bounded to its newest
// messages lets the oldest go: `messages` holds message `base` on (and
// `fields` their data fields), `firstTimed` a copy of its own.
struct Capture {
    std::vector<Kept> messages;
    std::string fields;
    std::optional<std::size_t> firstTimed;
    std::size_t base = 0;
    std::optional<Kept> firstTimedKept;
    std::string firstTimedField;
};

Capture capture;

// The capture's bytes, as the page wrote them (vornlog_capture), or as
// they came so far (vornlog_live_room): every pass reads them from the
// first. Held by malloc, so that a live capture grows in place where it
// can.
struct FreeBytes {
    void operator()(char* p) const { std::free(p); }
};
// A live session bounded to its newest messages lets the bytes that its
// reader has read go too: captureBytes then holds the capture's bytes
// from offset captureBase on.
std::unique_ptr<char, FreeBytes> captureBytes;
std::size_t captureSize = 0;
std::size_t captureRoom = 0;
std::uint64_t captureBase = 0;
std::string_view captureView() { return {captureBytes.get(), captureSize}; }

void dropCapture()
{
    captureBytes.reset();
    captureSize = 0;
    captureRoom = 0;
    captureBase = 0;
}

// The live session's bound: the messages kept in full (0: every one).
std::size_t keepMessages = 0;

// A bounded live session's summary, written from the records on the way
// (its bytes go once read, so no later pass can read them again); set
// once the input has ended and every record is decoded.
std::optional<std::string> liveSummary;

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
    // `stream`: the bytes whose share read is the progress (none for a live
    // capture, whose end is not known). `live`: the findings engine reports
    // an underrun or a stop still open as ongoing, and again complete.
    Columns(MessageSource& in, const MemoryStream* stream, int pass, bool live = false)
        : ForwardingSource(in), stream_(stream), pass_(pass)
    {
        if (pass_ == 1) {
            engine_ = std::make_unique<findings::Engine>(in.format() == "text dump", live,
                                                         [this](const findings::Finding& f) { putFindingJson(found_, f); });
            // The stored segments' rows carry what the motion model made of
            // them.
            engine_->model().onExecution([this](const motion::Execution& e) { maker_.execution(e); });
        }
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

    // The findings made so far written out into results.findings.
    void flushFindings() { found_.flush(); }
    // Live: `waited` ns passed since the last message decoded (which had a
    // time) without another: what waited for time to pass is reported.
    void idle(TimeNs waited)
    {
        if (!engine_) return;
        if (const std::optional<TimeNs> last = engine_->lastTime()) engine_->idle(*last + waited);
    }

private:
    void progress() const
    {
        if (stream_ && stream_->size() > 0)
            vornlog_progress(pass_, static_cast<double>(stream_->position()) / static_cast<double>(stream_->size()));
    }

    void take(const CaptureRecord& record)
    {
        if (record.hasTime && !capture.firstTimed) capture.firstTimed = capture.base + capture.messages.size();
        capture.messages.push_back(Kept::of(record, capture.fields));
        maker_.add(record);
        engine_->feed(record, maker_.values());
        if (engine_->model().events().resumed) maker_.standStill(engine_->model().standStill());
    }

    const MemoryStream* stream_;
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
        if (!open_.problem().empty() || capture.base > 0 || captureBase > 0) return;
        counted_.emplace(open_.source(), &open_.stream(), 2);
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
        if (capture.base > 0)
            return "No summary: the session's first " + std::to_string(capture.base) +
                   " messages left the page, which keeps the newest " + std::to_string(keepMessages) + " in full.\n";
        if (captureBase > 0) return "No summary: the capture's first bytes left the page once read.\n";
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
        if (captureBase > 0) return; // (its first bytes gone with the messages let go)
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

// A live capture (vornlog -l): its bytes come in blocks as the capture
// grows (vornlog_live_room, vornlog_live_add), and the console's own
// readers decode them as they do a pipe's, one record after the other,
// keeping what they decoded. A reader asks its stream for bytes until it
// holds a whole record; here no read may wait, so a record is asked for
// only once its bytes have all come: the reader is held at the end of the
// last whole record (WholeRecords) until the input ends.

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

// The capture's bytes that its reader has read, let go by a live decoding
// whose summary is written as it decodes: the module's memory, which never
// shrinks once grown, holds only the bytes not yet read. (Kept until some
// megabytes were read, so that a reader made again while a USB capture's
// device is not yet known can still read them from the first byte.)
constexpr std::size_t kReadBytesKept = std::size_t{4} << 20;

void letReadBytesGo(std::uint64_t read)
{
    if (read <= captureBase || read - captureBase < kReadBytesKept) return;
    if (read - captureBase > captureSize) return;
    const auto gone = static_cast<std::size_t>(read - captureBase);
    std::memmove(captureBytes.get(), captureBytes.get() + gone, captureSize - gone);
    captureSize -= gone;
    captureBase = read;
}

// The live capture's bytes as its reader reads them: up to the end of the
// whole records until the input has ended, then to the last byte. A read
// that finds nothing there before the end "starves": the reader would take
// it for the capture's end.
class LiveStream final : public ByteStream {
public:
    std::size_t read(void* dst, std::size_t n) override
    {
        const std::uint64_t end = ended_ ? captureBase + captureSize : limit_;
        if (at_ >= end) {
            starved_ = starved_ || !ended_;
            return 0;
        }
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, end - at_));
        std::memcpy(dst, captureBytes.get() + (at_ - captureBase), k);
        at_ += k;
        return k;
    }
    bool readError() const override { return false; }

    void limit(std::uint64_t whole) { limit_ = whole; }
    void end() { ended_ = true; }
    bool ended() const { return ended_; }
    bool starved() const { return starved_; }
    // The bytes read so far (those before it are read no more).
    std::uint64_t position() const { return at_; }

private:
    std::uint64_t at_ = 0;
    std::uint64_t limit_ = 0;
    bool ended_ = false;
    bool starved_ = false;
};

// The decoding of the live capture, opened once its first whole records
// have come (for a USB capture: once its device is known, which takes
// reading ahead), then fed record after record.
//
// A capture that the page inflates as it reads it is decoded so too, but
// its findings are those of the capture read at once (`live` false), and a
// reader that cannot begin yet, or starves, is made again only once the
// bytes have doubled since: however the bytes come, its records are read
// less than twice over.
class LiveDecoding {
public:
    LiveDecoding(std::string name, std::optional<UsbDevice> device, bool live)
        : name_(std::move(name)), device_(device), live_(live)
    {
    }

    // Bytes came: the end of the whole records moves on.
    void grew()
    {
        limit_ = whole_.advance(captureBytes.get(), captureBase, captureBase + captureSize);
        if (stream_) stream_->limit(limit_);
    }
    // The input ended: its last bytes are read too.
    void end()
    {
        ended_ = true;
        if (stream_) stream_->end();
    }

    // Decodes up to `records` more records: 0 when it waits for bytes, 1
    // when it has more to decode, 2 once it is done (the input ended and
    // every record was decoded, or the capture cannot be decoded further:
    // results.problem says why).
    int step(int records)
    {
        if (done_) return 2;
        if (!columns_ && !open()) return done_ ? 2 : 0;
        CaptureRecord record;
        for (int k = 0; k < records; ++k) {
            if (!stream_->ended() && end_ >= limit_) {
                columns_->flushFindings();
                if (lettingGo_) letReadBytesGo(read());
                return 0;
            }
            if (!columns_->next(record)) {
                if (stream_->starved() && !stream_->ended()) {
                    again();
                    return done_ ? 2 : 1;
                }
                return finish();
            }
            if (summary_) summary_->feed(record);
            end_ = record.end;
        }
        columns_->flushFindings();
        if (lettingGo_) letReadBytesGo(read());
        return 1;
    }

    // No record came for `waitedMs` ms while the input goes on: the
    // findings engine is told that the capture's clock ran on.
    void idle(double waitedMs)
    {
        if (!columns_ || done_ || waitedMs <= 0) return;
        columns_->idle(static_cast<TimeNs>(waitedMs * 1e6));
        columns_->flushFindings();
    }

    // True once when the decoding started again from the first byte since
    // asked last (what the page was given is to be forgotten).
    bool startedAgain() { return std::exchange(again_, false); }

    // The bytes the reader has read, which it reads no more (0 before it is
    // made).
    std::uint64_t read() const { return stream_ ? stream_->position() : 0; }

private:
    // A reader asked for bytes past the whole records, which it would take
    // for the capture's end: what it decoded is let go, and the capture is
    // decoded again from its first byte.
    void again()
    {
        if (captureBase > 0) {
            // (The first bytes went with the messages let go.)
            results.problem = "The live capture cannot be read again from its first byte, which has gone: " + name_;
            done_ = true;
            return;
        }
        summary_.reset();
        columns_.reset();
        input_.reset();
        stream_.reset();
        console_.reset();
        consoleText_.clear();
        results = Results{};
        capture = Capture{};
        end_ = 0;
        again_ = true;
        heldUntil_ = limit_;
    }

    // Opens the capture's reader on what has come; false while it cannot
    // yet (fewer than 4 bytes, or a USB capture whose device is not known
    // yet: the reader is made again from the first byte next time).
    bool open()
    {
        // Nothing new since the last try: the same bytes give the same.
        if (!ended_ && (limit_ < 4 || limit_ <= heldUntil_ || (!live_ && limit_ < 2 * heldUntil_))) return false;
        auto stream = std::make_unique<LiveStream>();
        stream->limit(limit_);
        if (ended_) stream->end();
        // (What an attempt before said of the capture is said again.)
        console_.reset();
        consoleText_.clear();
        console_ = std::make_unique<Out>(&consoleText_);
        auto input = std::make_unique<DumpInput>(*stream, device_, *console_);
        if (!ended_ && (stream->starved() || !input->deviceKnown())) {
            heldUntil_ = limit_;
            return false;
        }
        if (!input->problem().empty()) {
            results.problem = input->problem() + name_;
            done_ = true;
            return false;
        }
        stream_ = std::move(stream);
        input_ = std::move(input);
        input_->source().readTimes();
        columns_ = std::make_unique<Columns>(input_->source(), nullptr, 1, live_);
        // A bounded live session: its summary written as it is decoded, the
        // bytes read let go. (A capture that comes in pieces keeps its
        // bytes: its summary, written after, is not in the way of the page's
        // first drawing.)
        lettingGo_ = keepMessages > 0;
        if (lettingGo_) summary_ = std::make_unique<SessionSummary>(input_->source());
        return true;
    }

    int finish()
    {
        columns_->finish();
        input_->conclude(*console_);
        console_->flush();
        results.console = consoleText_;
        const MessageSource& in = input_->source();
        if (!in.fault().empty()) results.problem = "Damaged capture file, " + in.fault() + ": " + name_;
        if (summary_) {
            std::string text;
            Out out(&text);
            summary_->write(in, name_, out);
            out.flush();
            liveSummary = std::move(text);
            summary_.reset();
        }
        done_ = true;
        return 2;
    }

    std::string name_;
    std::optional<UsbDevice> device_;
    bool live_;
    WholeRecords whole_;
    std::uint64_t limit_ = 0;
    std::uint64_t heldUntil_ = 0; // the reader is not made again before the whole records pass this
    bool ended_ = false;
    bool done_ = false;
    bool again_ = false;
    std::uint64_t end_ = 0; // the end of the last record decoded
    std::unique_ptr<LiveStream> stream_;
    std::string consoleText_;
    std::unique_ptr<Out> console_;
    std::unique_ptr<DumpInput> input_;
    std::unique_ptr<Columns> columns_;
    std::unique_ptr<SessionSummary> summary_; // fed as it is decoded, when lettingGo_
    bool lettingGo_ = false;                  // the bytes read let go
};

std::unique_ptr<LiveDecoding> live;

// The columns described as vornlog_columns says, from message `from` and
// stored segment `rowsFrom` on.
void describeColumns(std::string& d, std::size_t from, std::size_t rowsFrom)
{
    d = "{\"columns\":[";
    forEachColumn(results.columns, [&](std::string_view name, ColumnType type, const void* at, std::size_t length) {
        if (d.back() != '[') d += ',';
        // The stored segments' columns (rowSteps: three a row) and the messages'.
        const std::size_t per = name == "rowSteps" ? 3 : 1;
        const MessageColumns& c = results.columns;
        const bool row = name.substr(0, 3) == "row";
        const std::size_t first = row ? std::max(rowsFrom, c.rowBase) - c.rowBase : std::max(from, c.base) - c.base;
        const std::size_t skip = std::min(length, first * per);
        const std::size_t size = type == ColumnType::U8 || type == ColumnType::I8 ? 1 : type == ColumnType::I32 || type == ColumnType::F32 ? 4 : 8;
        d += "{\"name\":\"" + std::string(name) + "\",\"type\":\"" + std::string(columnTypeName(type)) +
             "\",\"at\":" + std::to_string(reinterpret_cast<std::uintptr_t>(at) + skip * size) +
             ",\"length\":" + std::to_string(length - skip) + "}";
    });
    d += ']';
    writePageFacts(d);
    d += '}';
}

// What the page was given of the live capture's decoding: the messages'
// columns up to `rows` (the last PC message among them, which its reply
// or the next PC message may still change, is given again), the stored
// segments' up to `segments`, the findings' text up to `findings`.
struct Posted {
    bool any = false;
    std::size_t rows = 0;
    std::optional<std::size_t> lastPc;
    std::size_t segments = 0;
    std::size_t findings = 0;
};
Posted posted;

// A live session bounded to keepMessages: once it holds more, the oldest
// messages that the page was given for good go (their records and rows),
// down to seven eighths of the bound (an eighth at a time, so that moving
// the rest costs little), so that the module's memory, which never
// shrinks, is reused from there on.
void letOldGo()
{
    const std::size_t held = capture.messages.size();
    if (!keepMessages || held <= keepMessages) return;
    const std::size_t until = std::min(capture.base + held - (keepMessages - keepMessages / 8),
                                       std::min(posted.rows, posted.lastPc.value_or(posted.rows)));
    if (until <= capture.base) return;
    const std::size_t n = until - capture.base;
    if (capture.firstTimed && *capture.firstTimed >= capture.base && *capture.firstTimed < until) {
        Kept first = capture.messages[*capture.firstTimed - capture.base];
        capture.firstTimedField = capture.fields.substr(first.fieldAt, first.fieldSize);
        first.fieldAt = 0;
        capture.firstTimedKept = first;
    }
    const std::uint32_t fieldsFrom = n < held ? capture.messages[n].fieldAt : static_cast<std::uint32_t>(capture.fields.size());
    capture.messages.erase(capture.messages.begin(), capture.messages.begin() + static_cast<std::ptrdiff_t>(n));
    for (Kept& k : capture.messages) k.fieldAt -= fieldsFrom;
    capture.fields.erase(0, fieldsFrom);
    capture.base = until;
    results.columns.dropBefore(until);
}

// Room, taken at once, for the records of a live session bounded to
// `keep` messages: growing by doubling would leave every smaller copy
// behind in the module's memory. (Room never written costs nothing.)
void reserveForKept(std::size_t keep)
{
    const std::size_t most = keep + (std::size_t{1} << 16);
    capture.messages.reserve(most);
    capture.fields.reserve(most * 48);
    // (A stored segment's row for a Data message at most.)
    MessageColumns& c = results.columns;
    for (auto* v : {&c.rowMessage, &c.rowPwm, &c.rowSeg}) v->reserve(most);
    c.rowSteps.reserve(3 * most);
    c.rowEnd.reserve(most);
    for (auto* v : {&c.rowStart, &c.rowFinish, &c.rowStood}) v->reserve(most);
}

// The kept records of some messages, as a capture gives them.
class Replay final : public MessageSource {
public:
    explicit Replay(std::vector<std::size_t> which) : which_(std::move(which)) {}

    bool next(CaptureRecord& record) override
    {
        if (at_ == which_.size()) return false;
        std::string& text = text_[at_ % 2];
        const std::size_t i = which_[at_++];
        record = i < capture.base ? capture.firstTimedKept->record(capture.firstTimedField, text)
                                  : capture.messages[i - capture.base].record(capture.fields, text);
        return true;
    }
    bool readError() const override { return false; }
    std::string_view format() const override { return {}; }

private:
    std::vector<std::size_t> which_;
    std::size_t at_ = 0;
    std::string text_[2]; // the data fields of the last two records given
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
        if (indices[k] >= 0 && i >= capture.base && i - capture.base < capture.messages.size()) putLine(i);
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
    std::string text;
    for (; i < last; ++i) {
        const Kept& k = capture.messages[i];
        searchIndex.add(k.direction(), k.field(capture.fields, text));
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

// Forgets the session decoded before: its background passes, its live
// reading, its results and its search.
static void forgetSession()
{
    vornlog_background_stop();
    live.reset();
    liveSummary.reset();
    results = Results{};
    capture = Capture{};
    searchIndex = SearchIndex{};
    searchHits = std::string();
}

// Room for a capture of `size` bytes, which the page writes there before
// it asks for vornlog_decode; null when the module's memory cannot hold
// it. What was kept of the capture before goes first.
EXPORTED(vornlog_capture) char* vornlog_capture(std::size_t size)
{
    forgetSession();
    dropCapture();
    captureBytes.reset(static_cast<char*>(std::malloc(size ? size : 1)));
    if (captureBytes) captureSize = captureRoom = size;
    return captureBytes.get();
}

// Lets the capture's bytes go once every pass has read them.
EXPORTED(vornlog_capture_free) void vornlog_capture_free()
{
    vornlog_background_stop();
    dropCapture();
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
        Columns columns(in, &stream, 1);
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
    if (!liveSummary) summaryPass = std::make_unique<SummaryPass>(name, wanted);
}
EXPORTED(vornlog_summary_step) int vornlog_summary_step(int records) { return !summaryPass || summaryPass->step(records); }
EXPORTED(vornlog_summary_finish) void vornlog_summary_finish()
{
    if (summaryPass) results.summary = summaryPass->finish();
    else if (liveSummary) results.summary = *liveSummary;
    summaryPass.reset();
}

// The columns of the capture decoded last, described as JSON:
// {"columns": [{"name", "type" (u8, i8, i32, f32, f64), "at" (their place in
// the module's memory), "length" (elements)}, ...], "markBits": {name: bit}
// (the bits of the marks column), "instructions": {code: name}} (the
// instruction set, for the page's filter). Valid until vornlog_release.
EXPORTED(vornlog_columns) const char* vornlog_columns()
{
    describeColumns(results.described, 0, 0);
    return results.described.c_str();
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

// The live capture (vornlog -l): begin, then room and add for each block
// of bytes that comes, end when the input ended; step decodes, update
// tells the page what changed.

// A live capture begins (or begins again): what was kept of the last goes.
// `expected`: the bytes the capture has already (room is made for them
// and what they decode to at once, instead of growing to it step by step,
// which leaves every smaller copy behind). `whole`: not a live session but
// a capture whose bytes all come, in pieces (its findings as of a capture
// read at once). `keep`: the messages kept in full (0: every one; the
// oldest go beyond it). Returns 1 when `device` is not "BUS.ADDR"
// (vornlog_problem says so).
EXPORTED(vornlog_live_begin) int vornlog_live_begin(const char* name, const char* device, double expected, int whole,
                                                    double keep)
{
    forgetSession();
    posted = Posted{};
    dropCapture();
    keepMessages = whole == 0 && keep >= 1 && keep < 1e9 ? static_cast<std::size_t>(keep) : 0;
    std::optional<UsbDevice> wanted;
    if (device && *device) {
        wanted = parseUsbDevice(device);
        if (!wanted) {
            results.problem = std::string("Not a USB device (BUS.ADDR): ") + device;
            return 1;
        }
    }
    live = std::make_unique<LiveDecoding>(name, wanted, whole == 0);
    if (keepMessages) reserveForKept(keepMessages);
    if (expected > 0 && expected < static_cast<double>(std::size_t{1} << 31)) {
        const auto bytes = static_cast<std::size_t>(expected);
        captureBytes.reset(static_cast<char*>(std::malloc(bytes)));
        captureRoom = captureBytes ? bytes : 0;
        if (keepMessages)
            results.columns.reserve(std::min(bytes / 40 + 1, keepMessages));
        else
            reserveFor(bytes);
    }
    return 0;
}

// Room for `size` more bytes at the end of the live capture, which the
// page writes there before vornlog_live_add; null when the module's memory
// cannot hold them.
EXPORTED(vornlog_live_room) char* vornlog_live_room(std::size_t size)
{
    if (captureRoom - captureSize < size) {
        const std::size_t room = std::max(captureSize + size, captureRoom + captureRoom / 2);
        char* grown = static_cast<char*>(std::realloc(captureBytes.get(), room ? room : 1));
        if (!grown) return nullptr;
        (void)captureBytes.release();
        captureBytes.reset(grown);
        captureRoom = room;
    }
    return captureBytes.get() + captureSize;
}
EXPORTED(vornlog_live_add) void vornlog_live_add(std::size_t size)
{
    captureSize += std::min(size, captureRoom - captureSize);
    if (live) live->grew();
}
EXPORTED(vornlog_live_end) void vornlog_live_end()
{
    if (live) live->end();
}

// Decodes up to `records` more records of the live capture: 0 when it
// waits for bytes, 1 when there is more to decode, 2 once it is done (the
// input ended and all was decoded, or the capture cannot be decoded
// further: vornlog_problem says why).
EXPORTED(vornlog_live_step) int vornlog_live_step(int records) { return live ? live->step(std::max(records, 1)) : 2; }

// The bytes of the live capture so far.
EXPORTED(vornlog_live_size) double vornlog_live_size() { return static_cast<double>(captureBase + captureSize); }

// The messages decoded so far.
EXPORTED(vornlog_live_messages) double vornlog_live_messages()
{
    return static_cast<double>(capture.base + capture.messages.size());
}

// No message came for `waitedMs` ms while the input goes on (the capture's
// clock is taken to run on with the page's): an underrun or a stop that
// has lasted is reported as ongoing. Returns 1 when findings were reported.
EXPORTED(vornlog_live_idle) int vornlog_live_idle(double waitedMs)
{
    const std::size_t before = results.findings.size();
    if (live) live->idle(waitedMs);
    return results.findings.size() != before;
}

// What changed since the last update, described as vornlog_columns says
// with "from" and "rowsFrom" (the first message and stored segment the
// columns begin at: every column from there on replaces the page's) and
// "again" (true when the decoding started again from the first byte),
// "base" and "rowBase" (the first message and stored segment still kept:
// those before went); the findings' new lines are in vornlog_scratch.
EXPORTED(vornlog_live_update) const char* vornlog_live_update()
{
    if (live && live->startedAgain()) posted = Posted{};
    letOldGo();
    const std::size_t givenFor = std::min(posted.rows, posted.lastPc.value_or(posted.rows));
    // (The page holds the messages given for good: a bounded session's
    // decoder keeps only those it may change.)
    if (keepMessages) results.columns.dropMessagesBefore(givenFor);
    const MessageColumns& c = results.columns;
    const std::size_t from = std::max(c.base, givenFor);
    std::string& d = results.described;
    // The rows whose execution the model settled since are given again
    // (those still kept).
    const std::size_t rowsFrom = std::max(c.rowBase, std::min(posted.segments, results.columns.rowsChangedFrom));
    results.columns.rowsChangedFrom = SIZE_MAX;
    describeColumns(d, from, rowsFrom);
    d.pop_back();
    d += ",\"from\":" + std::to_string(from) + ",\"rowsFrom\":" + std::to_string(rowsFrom) +
         ",\"again\":" + (posted.any ? "false" : "true") + ",\"base\":" + std::to_string(capture.base) +
         ",\"rowBase\":" + std::to_string(c.rowBase) + "}";
    posted.any = true;
    for (std::size_t i = std::max(posted.rows, c.base); i < c.base + c.from.size(); ++i)
        if (c.from[i - c.base] == 0) posted.lastPc = i;
    posted.rows = c.base + c.number.size();
    posted.segments = c.rowBase + c.rowMessage.size();
    scratch.assign(results.findings, std::min(posted.findings, results.findings.size()));
    // A bounded session's findings, once given, are the page's only.
    if (keepMessages) results.findings.clear();
    posted.findings = results.findings.size();
    return d.c_str();
}


} // extern "C"
