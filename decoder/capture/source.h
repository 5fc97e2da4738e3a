// Where the messages of a run come from: the capture lines of a text dump,
// or (beside it) the packets of a USB capture file. The loops of every run
// mode read records from a MessageSource and never ask which kind it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "capture.h"
#include "usb_capture.h"

namespace vornlog {

class ValueSink;

// One record of a capture: a capture line of a text dump or a packet of a
// USB capture file. Every record is counted in the progress line; only
// those that hold a message are decoded.
struct CaptureRecord {
    // Its line or packet number, from 1.
    std::uint64_t number = 0;
    // False for a record that holds no message (a line that the length
    // filter skips, a packet of another device or another kind).
    bool isMessage = false;
    // A message of an instruction that -i leaves out: no longer a message
    // (isMessage false; its field stays, for the findings), counted as one
    // apart.
    bool leftOut = false;
    // A message on a capture line of 40 characters or fewer: the report
    // and the steps CSV pass it over, as their length filter always has;
    // the JSON Lines, the summary, the findings and the viewer read it.
    bool shortLine = false;
    Direction direction = Direction::Controller;
    // The message as hex pairs, as a capture line writes its data field.
    std::string_view field;
    // Text dumps: the capture line as read (its line end included). Empty
    // for a packet.
    std::string_view line;
    // When the record was captured (CaptureTime): always for a packet of
    // a USB capture file whose interface gives times; for a text dump's
    // line only when its source was asked to read times, from its third
    // column.
    bool hasTime = false;
    TimeNs timeNs = 0;
    TimeForm timeForm = TimeForm::None;
    int timeDigits = 0;
    // USB capture files: the device the packet comes from.
    bool hasDevice = false;
    UsbDevice device;
    // Where the record lies in the bytes of the capture: from `at` up to
    // `end` (a line with its line end, a packet's record or block), counted
    // from the capture's first byte, or from the first byte of new content
    // when a followed file started again.
    std::uint64_t at = 0;
    std::uint64_t end = 0;
};

class MessageSource {
public:
    virtual ~MessageSource() = default;
    // The next record; false at the end of the capture, on a read error or
    // on a damaged file. The views stay valid until the next call.
    virtual bool next(CaptureRecord& record) = 0;
    // True when reading stopped on a read error of the file.
    virtual bool readError() const = 0;
    // What stopped the reading of a damaged capture file ("" when nothing
    // did): the fault and its byte offset.
    virtual std::string fault() const { return {}; }
    // The capture's format, as the console and the summary name it.
    virtual std::string_view format() const = 0;
    // True when reading stopped because it was interrupted (Ctrl-C).
    virtual bool interrupted() const { return false; }
    // Asks for the time of every record from now on. A text dump reads its
    // lines' time column only when asked; a USB capture always gives its
    // packets' times.
    virtual void readTimes() {}
    // The instructions whose messages this source gives when it leaves the
    // others out (-i), as "0x44 D Data, 0x53 S Stop"; empty when it gives
    // every message.
    virtual std::string keptInstructions() const { return {}; }
    // Where a reader that decodes `record` (the last one next gave) puts
    // its values as well, so that what reads them below (the findings)
    // takes that decoding instead of making its own: each message is
    // decoded once. Null when nothing below wants them. A reader that gets
    // one decodes the record into it (BothSinks) before it reads on.
    virtual ValueSink* valuesFor(const CaptureRecord&) { return nullptr; }
};

// A source that passes on the records of another, changed or looked at on
// the way: everything but `next` is the other source's.
class ForwardingSource : public MessageSource {
public:
    explicit ForwardingSource(MessageSource& in) : in_(in) {}

    bool readError() const override { return in_.readError(); }
    std::string fault() const override { return in_.fault(); }
    std::string_view format() const override { return in_.format(); }
    bool interrupted() const override { return in_.interrupted(); }
    void readTimes() override { in_.readTimes(); }
    std::string keptInstructions() const override { return in_.keptInstructions(); }
    ValueSink* valuesFor(const CaptureRecord& record) override { return in_.valuesFor(record); }

protected:
    MessageSource& in_;
};

// The capture lines of a text dump.
class TextDumpSource final : public MessageSource {
public:
    explicit TextDumpSource(LineReader& lines) : lines_(lines) {}

    bool next(CaptureRecord& record) override
    {
        // The line read straight into the record: a copy of it made just
        // after the reader's narrow stores would wait for them.
        if (!lines_.next(record.line)) return false;
        const std::string_view text = record.line;
        record.number = ++number_;
        const std::uint64_t end = lines_.offset();
        record.at = end < end_ ? 0 : end_; // lower: new content began
        record.end = end_ = end;
        CaptureLine parsed;
        record.isMessage = parseCaptureLine(text, parsed);
        record.shortLine = !record.isMessage && parseShortCaptureLine(text, parsed);
        record.isMessage |= record.shortLine;
        record.direction = parsed.direction;
        // Its start and length one by one, for the same reason.
        record.field = std::string_view(parsed.field.data(), parsed.field.size());
        if (times_) {
            DumpTime time;
            record.hasTime = clock_.read(record.isMessage ? parsed.time : timeColumn(text), time);
            record.timeNs = record.hasTime ? time.ns : 0;
            record.timeForm = record.hasTime ? timeFormOf(time.form) : TimeForm::None;
            record.timeDigits = record.hasTime ? time.fractionDigits : 0;
        }
        return true;
    }
    bool readError() const override { return lines_.readError(); }
    std::string_view format() const override { return "text dump"; }
    bool interrupted() const override { return lines_.interrupted(); }
    void readTimes() override { times_ = true; }

private:
    LineReader& lines_;
    std::uint64_t number_ = 0;
    std::uint64_t end_ = 0;
    bool times_ = false;
    DumpClock clock_;
};

} // namespace vornlog
