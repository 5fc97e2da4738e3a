// The viewer's decoding, compiled to WebAssembly: the console program's own
// capture readers, decoders and outputs, run in the browser on a capture
// that the page hands to the module.
//
// The page's worker speaks to it through one entry (vornlog_request): a
// request's kind, the session it is for and its input in; a reply out (a
// JSON head on its first line, then a body). The head holds the messages
// for the page that the request made ready (Posts, work.h), which the
// worker posts as they are. All that a session holds is in one Session
// object; the module holds two, so that one page can show two sessions
// side by side.
//
// One pass (Request::Decode) decodes each message once and keeps its
// record (its bytes, time and sender: far less than its JSON line); one
// findings engine (analysis/findings.h), fed every message with its
// decoding, gives the views' columns of numbers
// (analysis/message_columns.h), the findings (as -e writes them) and the
// session summary (-t). Then the session's work (Request::Work, work.h),
// in slices so that the page's questions are answered meanwhile: the USB
// devices of the capture, the search index, the searches asked. A live
// capture is decoded so too, record after record as its bytes come.
//
// A message's details are its JSON line, as -j writes it, written by the
// same JSON writer from the record kept when the page asks
// (Request::Lines); the text search looks in an index of their parts
// (search_index.h). The page copies the columns that a message names; they
// are let go at the next request once the decoding is done.
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
#include "output/summary.h"
#include "capture_scans.h"
#include "page_facts.h"
#include "protocol/instructions.h"
#include "search_index.h"
#include "work.h"

using namespace vornlog;

// A function the page calls, by its name.
#define EXPORTED(name) __attribute__((export_name(#name)))

// The page's progress bar: the share of the capture read, from 0 to 1, and
// the pass (1: messages, 2: summary). Given by the page's loader.
extern "C" __attribute__((import_module("vornlog"), import_name("progress"))) void vornlog_progress(int pass,
                                                                                                   double share);

namespace {

// A message's record as the JSON line needs it (its data field kept in one
// text for all, as its bytes when it is written as captures write them:
// upper-case hex pairs, one space apart, a third of the text; else as its
// text). The page keeps millions: KeptMessages holds them packed, and
// gives each back whole.
struct Kept {
    std::uint64_t number = 0;
    TimeNs timeNs = 0;
    std::size_t fieldAt = 0;
    std::size_t fieldSize = 0;
    UsbDevice device;
    std::uint8_t flags = 0; // kPc, kHasTime, kHasDevice, kShortLine, kBytes
    std::uint8_t timeForm = 0;
    std::uint8_t timeDigits = 0;

    // (Short: on a line that the report passes over. Bytes: the data field
    // kept as its bytes.)
    static constexpr std::uint8_t kPc = 1, kHasTime = 2, kHasDevice = 4, kShortLine = 8, kBytes = 16;

    Direction direction() const { return flags & kPc ? Direction::Pc : Direction::Controller; }

    // A message as its record gives it, its data field kept at the end of
    // `fields`.
    static Kept of(const CaptureRecord& record, std::string& fields)
    {
        Kept k;
        k.number = record.number;
        k.timeNs = loadTime(record.timeNs);
        k.fieldAt = fields.size();
        k.fieldSize = record.field.size();
        k.flags = static_cast<std::uint8_t>((record.direction == Direction::Pc ? kPc : 0) | (record.hasTime ? kHasTime : 0) |
                                            (record.hasDevice ? kHasDevice : 0) | (record.shortLine ? kShortLine : 0));
        k.timeForm = static_cast<std::uint8_t>(record.timeForm);
        k.timeDigits = static_cast<std::uint8_t>(std::clamp(record.timeDigits, 0, 255));
        k.device = record.device;
        if (hexPairs(record.field)) {
            k.flags |= kBytes;
            k.fieldSize = (record.field.size() + 1) / 3;
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
        r.number = number;
        r.isMessage = true;
        r.direction = direction();
        r.field = field(fields, text);
        r.hasTime = flags & kHasTime;
        r.timeNs = timeNs;
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

// The messages kept, packed: in runs of up to kRun messages, the first of
// each run kept whole (40 bytes), each message after it as its steps from
// the one before (8 bytes: how far its number and time moved on, its data
// field's size, its sender and line flags; its field's place is where the
// one before ends). A message that a step cannot say (its number or time
// back or far on, a long field, another device or form of time) begins a
// run of its own, so that every message is kept as it came.
class KeptMessages {
public:
    std::size_t size() const { return steps_.size(); }
    bool empty() const { return steps_.empty(); }
    const std::string& fields() const { return fields_; }

    // Room for `messages` messages and `fieldBytes` bytes of their data
    // fields, taken at once.
    void reserve(std::size_t messages, std::size_t fieldBytes)
    {
        steps_.reserve(messages);
        runs_.reserve(messages / kRun + 1);
        runAt_.reserve(messages / kRun + 1);
        fields_.reserve(fieldBytes);
    }

    void push(const CaptureRecord& record)
    {
        const Kept k = Kept::of(record, fields_);
        const std::uint8_t own = k.flags & kOwn;
        if (!steps_.empty() && steps_.size() - runAt_.back() < kRun && k.fieldSize <= 0xFF &&
            (k.flags & ~kOwn) == (last_.flags & ~kOwn) && k.device == last_.device && k.timeForm == last_.timeForm &&
            k.timeDigits == last_.timeDigits && k.number >= last_.number && k.number - last_.number <= 0xFFFF &&
            k.timeNs >= last_.timeNs && k.timeNs - last_.timeNs <= 0xFFFFFFFF) {
            steps_.push_back({static_cast<std::uint32_t>(k.timeNs - last_.timeNs),
                              static_cast<std::uint16_t>(k.number - last_.number), static_cast<std::uint8_t>(k.fieldSize),
                              own});
        } else {
            runs_.push_back(First::of(k));
            runAt_.push_back(steps_.size());
            steps_.push_back({0, 0, 0, own});
        }
        last_ = k;
    }

    // Message i (from the first kept), whole; its field's place in fields().
    Kept operator[](std::size_t i) const
    {
        const std::size_t run = runOf(i);
        Kept k = runs_[run].kept();
        for (std::size_t j = runAt_[run] + 1; j <= i; ++j) stepOn(k, j);
        return k;
    }

    // f(k) for each message from `from` up to `to`, one after the other.
    template <class F>
    void each(std::size_t from, std::size_t to, F&& f) const
    {
        if (from >= to) return;
        std::size_t run = runOf(from);
        Kept k = (*this)[from];
        f(static_cast<const Kept&>(k));
        for (std::size_t j = from + 1; j < to; ++j) {
            if (run + 1 < runAt_.size() && runAt_[run + 1] == j)
                k = runs_[++run].kept();
            else
                stepOn(k, j);
            f(static_cast<const Kept&>(k));
        }
    }

    // Lets the first n messages go, and their data fields.
    void dropFront(std::size_t n)
    {
        if (n == 0) return;
        if (n >= steps_.size()) {
            steps_.clear();
            runs_.clear();
            runAt_.clear();
            fields_.clear();
            return;
        }
        // The first message kept begins a run.
        Kept first = (*this)[n];
        const std::size_t fieldsFrom = first.fieldAt;
        first.fieldAt = 0;
        const auto run = std::upper_bound(runAt_.begin(), runAt_.end(), n) - runAt_.begin() - 1;
        runs_.erase(runs_.begin(), runs_.begin() + run);
        runAt_.erase(runAt_.begin(), runAt_.begin() + run);
        runs_.front() = First::of(first);
        runAt_.front() = n;
        for (std::size_t r = 1; r < runs_.size(); ++r) runs_[r].fieldAt -= static_cast<std::uint32_t>(fieldsFrom);
        for (std::size_t& at : runAt_) at -= n;
        steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(n));
        fields_.erase(0, fieldsFrom);
    }

private:
    std::size_t runOf(std::size_t i) const
    {
        return static_cast<std::size_t>(std::upper_bound(runAt_.begin(), runAt_.end(), i) - runAt_.begin()) - 1;
    }
    // The message before j, k, made message j (of the same run).
    void stepOn(Kept& k, std::size_t j) const
    {
        const Step& step = steps_[j];
        k.fieldAt += k.fieldSize;
        k.fieldSize = step.size;
        k.number += step.number;
        k.timeNs += step.time;
        k.flags = static_cast<std::uint8_t>((k.flags & ~kOwn) | step.own);
    }

    // The flags each message has of its own; the others are its run's.
    static constexpr std::uint8_t kOwn = Kept::kPc | Kept::kShortLine | Kept::kBytes;
    static constexpr std::size_t kRun = 64;

    // The first message of a run, whole (its time in two halves, which
    // need no 16-byte alignment).
    struct First {
        std::uint64_t number;
        std::uint64_t timeLow;
        std::int64_t timeHigh;
        std::uint32_t fieldAt;
        std::uint32_t fieldSize;
        UsbDevice device;
        std::uint8_t flags;
        std::uint8_t timeForm;
        std::uint8_t timeDigits;

        static First of(const Kept& k)
        {
            return {k.number, static_cast<std::uint64_t>(k.timeNs), static_cast<std::int64_t>(k.timeNs >> 64),
                    static_cast<std::uint32_t>(k.fieldAt), static_cast<std::uint32_t>(k.fieldSize), k.device, k.flags,
                    k.timeForm, k.timeDigits};
        }
        Kept kept() const
        {
            Kept k;
            k.number = number;
            k.timeNs = static_cast<TimeNs>(static_cast<unsigned __int128>(static_cast<__int128>(timeHigh)) << 64 | timeLow);
            k.fieldAt = fieldAt;
            k.fieldSize = fieldSize;
            k.device = device;
            k.flags = flags;
            k.timeForm = timeForm;
            k.timeDigits = timeDigits;
            return k;
        }
    };
    static_assert(sizeof(First) == 40);

    // A message after the first of its run: how far it moved on from the
    // one before.
    struct Step {
        std::uint32_t time;   // ns
        std::uint16_t number;
        std::uint8_t size;    // its data field's bytes
        std::uint8_t own;     // its own flags (kOwn)
    };
    static_assert(sizeof(Step) == 8);

    std::vector<Step> steps_;
    std::vector<First> runs_;
    std::vector<std::size_t> runAt_; // the first message of each run
    std::string fields_;
    Kept last_;                      // the message pushed last
};

// Every message of the capture decoded last, and the first with a time
// (its JSON t counts from it). A live session bounded to its newest
// messages lets the oldest go: `messages` holds message `base` on,
// `firstTimed` a copy of its own.
struct Capture {
    KeptMessages messages;
    std::optional<std::size_t> firstTimed;
    std::size_t base = 0;
    std::optional<Kept> firstTimedKept;
    std::string firstTimedField;
};

// The capture's bytes, as the page wrote them, or as they came so far:
// every pass reads them from the first. Held by malloc, so that a live
// capture grows in place where it can.
struct FreeBytes {
    void operator()(char* p) const { std::free(p); }
};

struct Results {
    MessageColumns columns;
    std::string described; // the columns as the decoded reply describes them
    std::string summary;   // the session summary (-t), made in the same pass
    std::string findings;  // the findings' JSON Lines, as -e writes them
    std::string problem;
    std::string console; // what the console says of the USB device
    std::optional<motion::StepsPerMm> perMm; // as the motion model read them last
};

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

class LiveDecoding;

// One session: a capture, what was decoded of it, and the passes and
// questions under way. The page holds up to kSessions at once, each
// addressed by its number in every request.
struct Session final : Passes {
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    Capture capture;

    // A live session bounded to its newest messages lets the bytes that its
    // reader has read go too: captureBytes then holds the capture's bytes
    // from offset captureBase on. A capture handed over whole is the
    // request's input kept as it is: its bytes begin at captureAt, after
    // the request's texts (a live capture's at 0).
    std::unique_ptr<char, FreeBytes> captureBytes;
    std::size_t captureAt = 0;
    std::size_t captureSize = 0;
    std::size_t captureRoom = 0;
    std::uint64_t captureBase = 0;
    std::string_view captureView() const { return {captureBytes.get() + captureAt, captureSize}; }
    // The live capture's offset after its last byte that came.
    std::uint64_t captureEnd() const { return captureBase + captureSize; }
    void dropCapture()
    {
    captureBytes.reset();
    captureAt = 0;
    captureSize = 0;
    captureRoom = 0;
    captureBase = 0;
    }

    // The live session's bound: the messages kept in full (0: every one).
    std::size_t keepMessages = 0;

    // Text handed to the page in a reply.
    std::string scratch;

    // The text search's index of the capture decoded last, and the answer of
    // the search made last.
    SearchIndex searchIndex;
    std::string searchHits;

    Results results;
    // The device scan that follows the decoding, while it runs.
    std::unique_ptr<DeviceScan> deviceScan;
    // A live capture, or one that comes in pieces.
    std::unique_ptr<LiveDecoding> live;
    Posted posted;

    // The work after, or while, the capture is decoded, in slices.
    Work work{*this};
    // The columns given with the decoding done: let go at the next request.
    bool releaseDue = false;
    // The ms the worker took to make the module ready, for the page's marks.
    double moduleMs = 0;
    // The bytes a capture that comes in pieces will have (0: not known).
    double expected = 0;

    int liveStep(int records) override;
    bool farAhead() const override;
    // Bytes of a bounded live session waiting to be decoded, as many as it
    // may hold: the worker reads the stream on once there is room (the
    // server keeps the capture).
    bool full() const;
    bool liveIdle(double waitedMs) override;
    void update(Posts& posts, bool done) override;
    void decoded(Posts& posts, double decodeMs) override;
    bool scanDevices(int packets, Posts& posts) override;
    bool index(int messages) override;
    void searchBegin(std::string_view query) override { searchIndex.begin(query); }
    bool searchStep(int messages, std::string_view& hits) override;
};

// The messages of the capture, each decoded once, with their columns, the
// findings and the session summary taken on the way: one findings engine
// serves the columns, the findings and the summary. (Live, the engine tells
// a finding still open as ongoing, numbered as first told; the summary, as
// -t writes it, has an engine of its own that reads the capture as at
// once, fed the same decoding.)
class Columns final : public ForwardingSource {
public:
    // `stream`: the bytes whose share read is the progress (none for a live
    // capture, whose end is not known). `live`: the findings engine reports
    // an underrun or a stop still open as ongoing, and again complete.
    Columns(Session& session, MessageSource& in, const MemoryStream* stream, bool live = false)
        : ForwardingSource(in), s(session), stream_(stream),
          engine_(in.format() == "text dump", live,
                  [this](const findings::Finding& f) {
                      putFindingJson(found_, f);
                      if (!live_) summary_->found(f);
                  }),
          live_(live), summary_(live ? std::make_unique<SessionSummary>(in) : std::make_unique<SessionSummary>(in, engine_))
    {
            // The stored segments' rows carry what the motion model made of
            // them.
        engine_.model().onExecution([this](const motion::Execution& e) { maker_.execution(e); });
    }

    bool next(CaptureRecord& record) override
    {
        if (!in_.next(record)) return false;
        if (++records_ % 8192 == 0) progress();
        if (record.isMessage) take(record);
        summary_->feed(record, maker_.values());
        return true;
    }

    void finish()
    {
        maker_.finish();
        const auto waiting = engine_.finish();
        if (!live_) summary_->engineFinished(waiting);
        flushFindings();
    }

    // The session summary of the records read, once the last has come.
    std::string summary(const MessageSource& in, std::string_view name)
    {
        std::string text;
        Out out(&text);
        summary_->write(in, name, out);
        out.flush();
        return text;
    }

    // The findings made so far written out into results.findings.
    // (So too the steps for 1 mm.)
    void flushFindings()
    {
        found_.flush();
        s.results.perMm = engine_.model().stepsPerMm();
    }
    // Live: `waited` ns passed since the last message decoded (which had a
    // time) without another: what waited for time to pass is reported.
    void idle(TimeNs waited)
    {
        if (const std::optional<TimeNs> last = engine_.lastTime()) engine_.idle(*last + waited);
    }

private:
    void progress() const
    {
        if (stream_ && stream_->size() > 0)
            vornlog_progress(1, static_cast<double>(stream_->position()) / static_cast<double>(stream_->size()));
    }

    void take(const CaptureRecord& record)
    {
        if (record.hasTime && !s.capture.firstTimed) s.capture.firstTimed = s.capture.base + s.capture.messages.size();
        s.capture.messages.push(record);
        maker_.add(record);
        engine_.feed(record, maker_.values());
        if (engine_.model().events().resumed) maker_.standStill(engine_.model().standStill());
    }

    Session& s;
    const MemoryStream* stream_;
    std::uint64_t records_ = 0;
    MessageColumnsMaker maker_{s.results.columns};
    Out found_{&s.results.findings, false, 1 << 12};
    findings::Engine engine_;
    bool live_;
    std::unique_ptr<SessionSummary> summary_;
};

// Room for what a capture of `size` bytes can give at most, taken at once:
// growing by doubling would leave every smaller copy behind in the
// module's memory, which never shrinks. (Room that is never written costs
// the browser nothing.) A text dump's message nearly always takes a line
// of more than 40 characters (the few shorter ones grow the columns past
// this room), a USB capture's a packet of more than 40 bytes.
void reserveFor(Session& s, std::size_t bytes)
{
    if (bytes == 0 || bytes > (std::size_t{1} << 28)) return;
    const std::size_t most = bytes / 40 + 1;
    s.capture.messages.reserve(most, bytes);
    s.results.columns.reserve(most);
}

// The capture read for one pass: its reader, whatever its kind, and the
// console's lines on it. Not to be moved: the reader holds the stream and
// the console.
class CapturePass {
public:
    CapturePass(const Session& s, const std::string& name, const std::optional<UsbDevice>& device)
        : name_(name), stream_(s.captureView())
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
bool onePass(Session& s, const std::string& name, const std::optional<UsbDevice>& device, Pass pass)
{
    CapturePass open(s, name, device);
    if (!open.problem().empty()) {
        s.results.problem = open.problem();
        return false;
    }
    pass(open.source(), open.stream());
    const bool whole = open.finish();
    s.results.console = open.console();
    s.results.problem = open.problem();
    return whole;
}

// A live capture (vornlog -l): its bytes come in blocks as the capture
// grows (Request::Add), and the console's own
// readers decode them as they do a pipe's, one record after the other,
// keeping what they decoded. A reader asks its stream for bytes until it
// holds a whole record; here no read may wait, so a record is asked for
// only once its bytes have all come: the reader is held at the end of the
// last whole record (WholeRecords) until the input ends.

// The capture's bytes that its reader has read, let go by a live decoding
// whose summary is written as it decodes: the module's memory, which never
// shrinks once grown, holds only the bytes not yet read. (Kept until some
// megabytes were read, so that a reader made again while a USB capture's
// device is not yet known can still read them from the first byte.)
constexpr std::size_t kReadBytesKept = std::size_t{4} << 20;

void letReadBytesGo(Session& s, std::uint64_t read)
{
    if (read <= s.captureBase || read - s.captureBase < kReadBytesKept) return;
    if (read - s.captureBase > s.captureSize) return;
    const auto gone = static_cast<std::size_t>(read - s.captureBase);
    std::memmove(s.captureBytes.get(), s.captureBytes.get() + gone, s.captureSize - gone);
    s.captureSize -= gone;
    s.captureBase = read;
}

// The live capture's bytes as its reader reads them: up to the end of the
// whole records until the input has ended, then to the last byte. A read
// that finds nothing there before the end "starves": the reader would take
// it for the capture's end.
class LiveStream final : public ByteStream {
public:
    explicit LiveStream(const Session& session) : s(session) {}

    std::size_t read(void* dst, std::size_t n) override
    {
        const std::uint64_t end = ended_ ? s.captureEnd() : limit_;
        if (at_ >= end) {
            starved_ = starved_ || !ended_;
            return 0;
        }
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, end - at_));
        std::memcpy(dst, s.captureBytes.get() + (at_ - s.captureBase), k);
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
    const Session& s;
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
    LiveDecoding(Session& session, std::string name, std::optional<UsbDevice> device, bool live)
        : s(session), name_(std::move(name)), device_(device), live_(live)
    {
    }

    // Bytes came: the end of the whole records moves on.
    void grew()
    {
        limit_ = whole_.advance(s.captureBytes.get(), s.captureBase, s.captureEnd());
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
                if (lettingGo_) letReadBytesGo(s, read());
                return 0;
            }
            if (!columns_->next(record)) {
                if (stream_->starved() && !stream_->ended()) {
                    again();
                    return done_ ? 2 : 1;
                }
                return finish();
            }
            end_ = record.end;
        }
        columns_->flushFindings();
        if (lettingGo_) letReadBytesGo(s, read());
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
        if (s.captureBase > 0) {
            // (The first bytes went with the messages let go.) Nor can its
            // summary be whole.
            s.results.problem = "The live capture cannot be read again from its first byte, which has gone: " + name_;
            s.results.summary = s.capture.base > 0 ? "No summary: the session's first " + std::to_string(s.capture.base) +
                                                         " messages left the page, which keeps the newest " +
                                                         std::to_string(s.keepMessages) + " in full.\n"
                                                   : "No summary: the capture's first bytes left the page once read.\n";
            done_ = true;
            return;
        }
        columns_.reset();
        input_.reset();
        stream_.reset();
        console_.reset();
        consoleText_.clear();
        s.results = Results{};
        s.capture = Capture{};
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
        auto stream = std::make_unique<LiveStream>(s);
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
            s.results.problem = input->problem() + name_;
            done_ = true;
            return false;
        }
        stream_ = std::move(stream);
        input_ = std::move(input);
        input_->source().readTimes();
        columns_ = std::make_unique<Columns>(s, input_->source(), nullptr, live_);
        // A bounded live session lets the bytes read go.
        lettingGo_ = s.keepMessages > 0;
        return true;
    }

    int finish()
    {
        columns_->finish();
        input_->conclude(*console_);
        console_->flush();
        s.results.console = consoleText_;
        const MessageSource& in = input_->source();
        if (!in.fault().empty()) s.results.problem = "Damaged capture file, " + in.fault() + ": " + name_;
        s.results.summary = columns_->summary(in, name_);
        done_ = true;
        return 2;
    }

    Session& s;
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
    bool lettingGo_ = false;                  // the bytes read let go
};

// The columns described for the page (their memory, to copy out), from message `from` and
// stored segment `rowsFrom` on, with the page's facts and the steps for 1 mm: members of
// a message for the page.
void describeColumns(Session& s, std::string& d, std::size_t from, std::size_t rowsFrom)
{
    d = "\"columns\":{\"$columns\":[";
    forEachColumn(s.results.columns, [&](std::string_view name, ColumnType type, const void* at, std::size_t length) {
        if (d.back() != '[') d += ',';
        // The stored segments' columns (rowSteps: three a row) and the messages'.
        const std::size_t per = name == "rowSteps" ? 3 : 1;
        const MessageColumns& c = s.results.columns;
        const bool row = name.substr(0, 3) == "row";
        const std::size_t first = row ? std::max(rowsFrom, c.rowBase) - c.rowBase : std::max(from, c.base) - c.base;
        const std::size_t skip = std::min(length, first * per);
        const std::size_t size = type == ColumnType::U8 || type == ColumnType::I8 ? 1 : type == ColumnType::I32 || type == ColumnType::F32 ? 4 : 8;
        d += "{\"name\":\"" + std::string(name) + "\",\"type\":\"" + std::string(columnTypeName(type)) +
             "\",\"at\":" + std::to_string(reinterpret_cast<std::uintptr_t>(at) + skip * size) +
             ",\"length\":" + std::to_string(length - skip) + "}";
    });
    d += "]}";
    writePageFacts(d);
    // The steps for 1 mm that the motion model read last (null: none yet).
    d += ",\"perMm\":";
    if (const auto& mm = s.results.perMm)
        d += "{\"s\":[" + std::to_string(mm->steps[0]) + "," + std::to_string(mm->steps[1]) + "," +
             std::to_string(mm->steps[2]) + "],\"number\":" + std::to_string(mm->number) + "}";
    else
        d += "null";
}


// A live session bounded to keepMessages: once it holds more, the oldest
// messages that the page was given for good go (their records and rows),
// down to seven eighths of the bound (an eighth at a time, so that moving
// the rest costs little), so that the module's memory, which never
// shrinks, is reused from there on.
void letOldGo(Session& s)
{
    const std::size_t held = s.capture.messages.size();
    if (!s.keepMessages || held <= s.keepMessages) return;
    const std::size_t until = std::min(s.capture.base + held - (s.keepMessages - s.keepMessages / 8),
                                       std::min(s.posted.rows, s.posted.lastPc.value_or(s.posted.rows)));
    if (until <= s.capture.base) return;
    const std::size_t n = until - s.capture.base;
    if (s.capture.firstTimed && *s.capture.firstTimed >= s.capture.base && *s.capture.firstTimed < until) {
        Kept first = s.capture.messages[*s.capture.firstTimed - s.capture.base];
        s.capture.firstTimedField = s.capture.messages.fields().substr(first.fieldAt, first.fieldSize);
        first.fieldAt = 0;
        s.capture.firstTimedKept = first;
    }
    s.capture.messages.dropFront(n);
    s.capture.base = until;
    s.results.columns.dropBefore(until);
}

// Room, taken at once, for the records of a live session bounded to
// `keep` messages: growing by doubling would leave every smaller copy
// behind in the module's memory. (Room never written costs nothing.)
void reserveForKept(Session& s, std::size_t keep)
{
    const std::size_t most = keep + (std::size_t{1} << 16);
    s.capture.messages.reserve(most, most * 48);
    // (A stored segment's row for a Data message at most.)
    MessageColumns& c = s.results.columns;
    for (auto* v : {&c.rowMessage, &c.rowPwm, &c.rowSeg}) v->reserve(most);
    c.rowSteps.reserve(3 * most);
    c.rowEnd.reserve(most);
    for (auto* v : {&c.rowStart, &c.rowFinish, &c.rowStood}) v->reserve(most);
}

// The JSON line of message i, as -j writes it: its record decoded by the
// JSON writer, t counting from the capture's first message with a time.
void putLine(Session& s, std::size_t i)
{
    const Capture& c = s.capture;
    std::string text, startText;
    const CaptureRecord record = c.messages[i - c.base].record(c.messages.fields(), text);
    std::optional<CaptureRecord> start;
    if (c.firstTimed && *c.firstTimed != i)
        start = *c.firstTimed < c.base ? c.firstTimedKept->record(c.firstTimedField, startText)
                                       : c.messages[*c.firstTimed - c.base].record(c.messages.fields(), startText);
    Out out(&s.scratch, false);
    writeJsonLine(record, start ? &*start : nullptr, out);
    out.flush();
}

// ---- The requests ----------------------------------------------------------------

// What a request asks; its input and its reply. Every reply's head (a JSON
// object on its first line) holds "posts", the messages for the page that
// the request made ready (work.h), and what more the request says; its
// body holds what they name. The page's scripts hold the same kinds by
// name (viewer/page/messages.js).
enum class Request : int {
    Decode = 1, // MODULE_MS, NAME, DEVICE, then the capture's bytes: decoded at once; posts done, summary
    Begin = 2,  // MODULE_MS, NAME, DEVICE, EXPECTED, WHOLE, KEEP: a capture whose bytes come in blocks
    Add = 3,    // COUNT, then the COUNT bytes that came; {"taken"} (false: no room for them, the page told), {"full"} (read on once not)
    End = 4,    // the input ended
    Work = 5,   // BUDGET_MS, QUIET: the work due, for about BUDGET_MS ms; {"more", "wait", "afterQuiet", "answered"}
    Lines = 6,  // ID, then INDICES (32-bit): posts lines, the messages' JSON lines as -j writes them
    Search = 7, // ID, QUERY: a text search, answered by the work; the one it replaces is answered cancelled
    Drawn = 8,  // the page drew the last update
    Quiet = 9,  // QUIET_MS: the live input has been quiet for QUIET_MS ms, as the server says
};

// A request's input: texts one after the other, each ended by a 0, then
// maybe bytes (rest()).
class Input {
public:
    explicit Input(std::string_view in) : in_(in), size_(in.size()) {}
    std::string text()
    {
        const std::size_t end = std::min(in_.find('\0'), in_.size());
        std::string t(in_.substr(0, end));
        in_.remove_prefix(std::min(end + 1, in_.size()));
        return t;
    }
    double number()
    {
        const std::string t = text();
        char* end = nullptr;
        const double v = std::strtod(t.c_str(), &end);
        return end != t.c_str() && v == v ? v : 0;
    }
    // What follows the texts read, and where it begins.
    std::string_view rest() const { return in_; }
    std::size_t used() const { return size_ - in_.size(); }

private:
    std::string_view in_;
    std::size_t size_;
};

// The text as a JSON string, quotes included.
std::string jsonString(std::string_view text)
{
    std::string quoted = "\"";
    Out out(&quoted, false);
    putJsonText(out, text);
        out.flush();
    return quoted + "\"";
}

// The module's memory, in bytes.
double memoryBytes() { return static_cast<double>(__builtin_wasm_memory_size(0)) * 65536; }

// A device asked for ("" for the one the console would recognise); false,
// with the problem said, when it is not "BUS.ADDR".
bool deviceOf(Session& s, const std::string& text, std::optional<UsbDevice>& device)
{
    device.reset();
    if (text.empty()) return true;
    device = parseUsbDevice(text.c_str());
    if (device) return true;
    s.results.problem = "Not a USB device (BUS.ADDR): " + text;
    return false;
}

// Forgets the session decoded before: its work, its live reading, its
// results and its search (a search asked of it is answered cancelled).
void forget(Session& s, Posts& posts)
{
    s.deviceScan.reset();
    s.live.reset();
    s.results = Results{};
    s.capture = Capture{};
    s.searchIndex = SearchIndex{};
    s.searchHits = std::string();
    s.posted = Posted{};
    s.releaseDue = false;
    s.work.forget(posts);
}

// The capture decoded: its "done" message (its columns, as describeColumns
// wrote them into results.described, the status, the problem, what the
// console says, its findings as -e writes them, where the time went) and
// its summary. The columns are let go at the next request.
void postDecoded(Session& s, Posts& posts, int status, std::string_view findings, double decodeMs)
{
    posts.post("done")
        .members(s.results.described)
        .number("status", status)
        .json("problem", jsonString(s.results.problem))
        .json("console", jsonString(s.results.console))
        .text("findings", findings)
        .json("timing", "{\"module\":" + jsonNumber(s.moduleMs) + ",\"decode\":" + jsonNumber(decodeMs) +
                            ",\"memory\":" + jsonNumber(memoryBytes()) + "}");
    posts.post("summary").text("summary", s.results.summary);
    s.releaseDue = true;
}

// The capture handed over whole: the request's input, kept from its
// capture's bytes on (`input`: the input's memory, taken over).
std::string decode(Session& s, Input in, std::unique_ptr<char, FreeBytes>& input)
{
    const double moduleMs = in.number();
    const std::string name = in.text();
    const std::string device = in.text();
    Posts posts;
    forget(s, posts);
    s.dropCapture();
    s.moduleMs = moduleMs;
    s.captureAt = in.used();
    s.captureSize = s.captureRoom = in.rest().size();
    s.captureBytes = std::move(input);
    vornlog_progress(1, 0);
    const double began = nowMs();
    std::optional<UsbDevice> wanted;
    bool whole = false;
    if (deviceOf(s, device, wanted)) {
        whole = onePass(s, name, wanted, [&](MessageSource& source, const MemoryStream& stream) {
            source.readTimes();
            reserveFor(s, stream.size());
            Columns columns(s, source, &stream);
        CaptureRecord record;
        while (columns.next(record)) {
        }
        columns.finish();
            s.results.summary = columns.summary(source, name);
    });
        }
    describeColumns(s, s.results.described, 0, 0);
    postDecoded(s, posts, whole ? 0 : 1, s.results.findings, nowMs() - began);
    s.work.decoded();
    return posts.reply();
}

bool Session::scanDevices(int packets, Posts& posts)
{
    // (A live capture whose first bytes went with the messages let go is not scanned.)
    if (!deviceScan) deviceScan = std::make_unique<DeviceScan>(captureBase > 0 ? std::string_view() : captureView());
    if (!deviceScan->step(packets)) return false;
    std::string list = "[";
    for (const auto& [device, packets] : deviceScan->found()) {
        if (list.back() != '[') list += ',';
        list += "{\"device\":\"" + std::to_string(device.bus) + "." + std::to_string(device.address) +
                "\",\"packets\":" + std::to_string(packets) + "}";
    }
    posts.post("devices").json("devices", list + "]");
    deviceScan.reset();
    // Every pass has read the capture's bytes: they go.
    dropCapture();
    return true;
}

bool Session::index(int count)
{
    std::size_t i = searchIndex.size();
    if (i == 0) searchIndex.reserve(capture.messages.size());
    const std::size_t last = std::min(capture.messages.size(), i + static_cast<std::size_t>(std::max(count, 1)));
    std::string text;
    capture.messages.each(i, last, [&](const Kept& k) { searchIndex.add(k.direction(), k.field(capture.messages.fields(), text)); });
    if (last < capture.messages.size()) return false;
    searchIndex.finish();
    return true;
}

bool Session::searchStep(int messages, std::string_view& hits)
{
    if (!searchIndex.step(static_cast<std::size_t>(std::max(messages, 1)), searchHits)) return false;
    hits = searchHits;
    return true;
}

// The JSON lines of the messages asked (their indices, 32-bit; "null" for
// one not kept).
std::string lines(Session& s, Input in)
{
    const double id = in.number();
    const std::string_view indices = in.rest();
    s.scratch.clear();
    std::string asked = "[";
    for (std::size_t at = 0; at + 4 <= indices.size(); at += 4) {
        std::int32_t index;
        std::memcpy(&index, indices.data() + at, 4);
        if (asked.back() != '[') asked += ',';
        asked += std::to_string(index);
        const auto i = static_cast<std::size_t>(index);
        if (index >= 0 && i >= s.capture.base && i - s.capture.base < s.capture.messages.size())
            putLine(s, i);
        else
            s.scratch += "null\n";
    }
    Posts posts;
    posts.post("lines").number("id", id).json("indices", asked + "]").lines("lines", s.scratch);
    return posts.reply();
}

std::string liveBegin(Session& s, Input in)
{
    const double moduleMs = in.number();
    const std::string name = in.text();
    const std::string device = in.text();
    const double expected = in.number();
    const bool whole = in.number() != 0;
    const double keep = in.number();
    Posts posts;
    forget(s, posts);
    s.dropCapture();
    s.moduleMs = moduleMs;
    s.expected = expected > 0 ? expected : 0;
    s.keepMessages = !whole && keep >= 1 && keep < 1e9 ? static_cast<std::size_t>(keep) : 0;
    std::optional<UsbDevice> wanted;
    if (!deviceOf(s, device, wanted)) {
        if (whole) {
            // The page shows the capture empty, with the problem.
            s.decoded(posts, 0);
            s.work.decoded();
        } else {
            posts.post("failed").json("text", jsonString(s.results.problem));
        }
        return posts.reply();
    }
    s.live = std::make_unique<LiveDecoding>(s, name, wanted, !whole);
    s.work.liveBegin(whole);
    if (s.keepMessages) reserveForKept(s, s.keepMessages);
    if (expected > 0 && expected < static_cast<double>(std::size_t{1} << 31)) {
        const auto bytes = static_cast<std::size_t>(expected);
        s.captureBytes.reset(static_cast<char*>(std::malloc(bytes)));
        s.captureRoom = s.captureBytes ? bytes : 0;
        if (s.keepMessages)
            s.results.columns.reserve(std::min(bytes / 40 + 1, s.keepMessages));
        else
            reserveFor(s, bytes);
    }
    return posts.reply();
}

// Room for `size` more bytes at the end of the live capture; false when
// the module's memory cannot hold them.
bool liveRoom(Session& s, std::size_t size)
{
    if (s.captureRoom - s.captureSize < size) {
        const std::size_t room = std::max(s.captureSize + size, s.captureRoom + s.captureRoom / 2);
        char* grown = static_cast<char*>(std::realloc(s.captureBytes.get(), room ? room : 1));
        if (!grown) return false;
        (void)s.captureBytes.release();
        s.captureBytes.reset(grown);
        s.captureRoom = room;
    }
    return true;
}

// Bytes of the live capture (or of one that comes in pieces) that came:
// `count` of them, all in `bytes` unless the worker had no room to hand
// them over. Bytes lost, or no room to keep them: the capture cannot be
// decoded further, and the page is told.
std::string liveAdd(Session& s, double count, std::string_view bytes)
{
    Posts posts;
    if (!s.work.live()) return posts.reply("\"taken\":true");
    const auto taken = [&s] { return std::string("\"taken\":true,\"full\":") + (s.full() ? "true" : "false"); };
    // (None: the worker asks whether there is room again.)
    if (count == 0 && bytes.empty()) return posts.reply(taken());
    if (count != static_cast<double>(bytes.size()) || !liveRoom(s, bytes.size())) {
        posts.post("failed").json("text", jsonString("the decoder has no memory left for the live capture"));
        s.work.stop();
        return posts.reply("\"taken\":false");
    }
    if (!bytes.empty()) std::memcpy(s.captureBytes.get() + s.captureSize, bytes.data(), bytes.size());
    s.captureSize += bytes.size();
    if (s.live) s.live->grew();
    s.work.bytesCame();
    if (s.work.whole() && s.expected > 0)
        posts.post("progress").number("pass", 1).number("share", static_cast<double>(s.captureEnd()) / s.expected);
    return posts.reply(taken());
}

int Session::liveStep(int records) { return live ? live->step(std::max(records, 1)) : 2; }

// The messages a bounded live session decodes beyond those the page was
// given (some 0.3 s at 100,000 lines a second), within the room taken for
// it (reserveForKept).
constexpr std::size_t kMostAhead = std::size_t{1} << 15;
// The bytes it holds that wait to be decoded.
constexpr std::size_t kMostUnread = std::size_t{8} << 20;

bool Session::farAhead() const { return keepMessages && capture.base + capture.messages.size() >= posted.rows + kMostAhead; }

bool Session::full() const
{
    if (!keepMessages) return false;
    const std::uint64_t read = std::clamp<std::uint64_t>(live ? live->read() : 0, captureBase, captureEnd());
    return captureEnd() - read > kMostUnread;
}

bool Session::liveIdle(double waitedMs)
{
    const std::size_t before = results.findings.size();
    if (live) live->idle(waitedMs);
    return results.findings.size() != before;
}

// What changed since the last update: results.described holds the
// columns described with "from" and "rowsFrom" (the first message and
// stored segment the columns begin at: every column from there on
// replaces the page's) and "again" (true when the decoding started again
// from the first byte), "base" and "rowBase" (the first message and stored
// segment still kept: those before went). Returns the findings' new lines.
// The stored segments before the last the motion model executed that it
// may still change (a stop cutting one short, a stand-still before one).
constexpr std::size_t kRowsUnsettled = 64;

std::string liveChanges(Session& s)
{
    if (s.live && s.live->startedAgain()) s.posted = Posted{};
    letOldGo(s);
    Posted& posted = s.posted;
    const std::size_t givenFor = std::min(posted.rows, posted.lastPc.value_or(posted.rows));
    // (The page holds the messages given for good: a bounded session's
    // decoder keeps only those it may change.)
    if (s.keepMessages) s.results.columns.dropMessagesBefore(givenFor);
    // Nor the stored segments' rows given that the motion model will not
    // change again: it executes the segments in order, and changes none of
    // those well before the last it executed. (The page still holds them,
    // with their messages.)
    if (s.keepMessages) {
        MessageColumns& rows = s.results.columns;
        const std::size_t settled = rows.rowsExecuted > kRowsUnsettled ? rows.rowsExecuted - kRowsUnsettled : 0;
        rows.dropTakenRowsBefore(std::min({posted.segments, settled, rows.rowsChangedFrom}));
    }
    const MessageColumns& c = s.results.columns;
    const std::size_t from = std::max(c.base, givenFor);
    std::string& d = s.results.described;
    // The rows whose execution the model settled since are given again
    // (those still kept).
    const std::size_t rowsFrom = std::max(c.rowBase, std::min(posted.segments, s.results.columns.rowsChangedFrom));
    s.results.columns.rowsChangedFrom = SIZE_MAX;
    describeColumns(s, d, from, rowsFrom);
    d += ",\"from\":" + std::to_string(from) + ",\"rowsFrom\":" + std::to_string(rowsFrom) +
         ",\"again\":" + (posted.any ? "false" : "true") + ",\"base\":" + std::to_string(s.capture.base) +
         ",\"rowBase\":" + std::to_string(c.keptRowBase());
    posted.any = true;
    for (std::size_t i = std::max(posted.rows, c.base); i < c.base + c.from.size(); ++i)
        if (c.from[i - c.base] == 0) posted.lastPc = i;
    posted.rows = c.base + c.number.size();
    posted.segments = c.rowBase + c.rowMessage.size();
    std::string found = s.results.findings.substr(std::min(posted.findings, s.results.findings.size()));
    // A bounded session's findings, once given, are the page's only.
    if (s.keepMessages) s.results.findings.clear();
    posted.findings = s.results.findings.size();
    return found;
}

// The live page's update: what changed; once the decoding is done, its
// status, problem and what the console says too, then the summary.
void Session::update(Posts& posts, bool done)
{
    const std::string found = liveChanges(*this);
    posts.post("update").flag("done", done).members(results.described).number("memory", memoryBytes()).text("findings", found);
    if (!done) return;
    posts.number("status", results.problem.empty() ? 0 : 1)
        .json("problem", jsonString(results.problem))
        .json("console", jsonString(results.console));
    posts.post("summary").text("summary", results.summary);
    releaseDue = true;
}

void Session::decoded(Posts& posts, double decodeMs)
{
    const std::string found = liveChanges(*this);
    postDecoded(*this, posts, results.problem.empty() ? 0 : 1, found, decodeMs);
}

// `input`: the request's input, whose memory is the session's to take.
std::string answer(Session& s, Request kind, std::unique_ptr<char, FreeBytes>& input, std::size_t size)
{
    // The columns given with the decoding done are the page's now.
    if (s.releaseDue) {
        s.results = Results{};
        s.releaseDue = false;
    }
    const std::string_view bytes(input ? input.get() : "", input ? size : 0);
    Input in(bytes);
    Posts posts;
    switch (kind) {
    case Request::Decode: return decode(s, in, input);
    case Request::Begin: return liveBegin(s, in);
    case Request::Add: {
        const double count = in.number();
        return liveAdd(s, count, in.rest());
    }
    case Request::End:
        if (s.work.live() && s.live) s.live->end();
        s.work.ended();
        return posts.reply();
    case Request::Work: {
        const double budget = in.number();
        const bool quiet = in.number() != 0;
        const std::string more = s.work.run(budget, quiet, posts);
        return posts.reply(more);
    }
    case Request::Lines: return lines(s, in);
    case Request::Search: {
        const double id = in.number();
        s.work.search(id, in.text(), posts);
        return posts.reply();
    }
    case Request::Drawn: s.work.drawn(); return posts.reply();
    case Request::Quiet: s.work.inputQuiet(in.number()); return posts.reply();
    }
    return "{\"posts\":[],\"unknown\":true}";
}

} // namespace

Session::Session() = default;
Session::~Session() = default;

namespace {

// The sessions the page holds at once (a comparison shows two), made when
// first asked for; the only state of the module besides its memory.
constexpr int kSessions = 2;
struct Sessions {
    std::unique_ptr<Session> session[kSessions];
    // The reply to the request made last: where its bytes are, how many.
    std::string reply;
    std::uint32_t where[2] = {0, 0};
};
Sessions sessions;

} // namespace

// The one request entry: a request of kind `kind` for session `session`
// (0 or 1), its input the `size` bytes at `in` (taken by malloc and
// written there by the page; the module's from then on: freed once
// answered, or kept as a capture's bytes). Returns where the reply is: its address
// and its size, two 32-bit numbers, valid until the next request; null
// for a session that cannot be.
extern "C" EXPORTED(vornlog_request) const std::uint32_t* vornlog_request(int session, int kind, char* in,
                                                                        std::size_t size)
{
    std::unique_ptr<char, FreeBytes> input(in);
    if (session < 0 || session >= kSessions) return nullptr;
    auto& s = sessions.session[session];
    if (!s) s = std::make_unique<Session>();
    sessions.reply = answer(*s, static_cast<Request>(kind), input, size);
    sessions.where[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(sessions.reply.data()));
    sessions.where[1] = static_cast<std::uint32_t>(sessions.reply.size());
    return sessions.where;
}
