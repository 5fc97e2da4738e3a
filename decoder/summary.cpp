#include "summary.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "instructions.h"
#include "lines.h"
#include "motion/motion.h"
#include "motion/segments.h"
#include "progress.h"
#include "report.h"

namespace vornlog {

namespace {

constexpr std::uint8_t kData = 0x44;
constexpr std::uint8_t kInformation = 0x49;
constexpr std::uint8_t kStop = 0x53;
// Bytes of the controller's Data and Information replies.
constexpr std::size_t kBufByte = 2;
constexpr std::size_t kStopStateByte = 11;
// The stop state bits that give a reason for a stop.
constexpr int kStopReasonBits[] = {2, 4, 5, 6, 7};

constexpr std::int64_t kSecond = 1'000'000'000;

// b - a, held at the ends of the range: a damaged capture file may carry
// any timestamps at all.
std::int64_t elapsed(std::int64_t a, std::int64_t b)
{
    std::int64_t d;
    if (__builtin_sub_overflow(b, a, &d)) return b > a ? INT64_MAX : INT64_MIN;
    return d;
}

int side(Direction direction) { return direction == Direction::Pc ? 0 : 1; }

// ---- Text of the summary -------------------------------------------------

std::string number(std::int64_t v)
{
    char text[24];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// v with `digits` digits, zeros in front.
std::string zeros(std::int64_t v, int digits)
{
    std::string s = number(v);
    if (static_cast<int>(s.size()) < digits) s.insert(0, static_cast<std::size_t>(digits) - s.size(), '0');
    return s;
}

std::string oneDecimal(double v)
{
    char text[48];
    return std::string(text, std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1).ptr);
}

// A duration in milliseconds with three decimals (microseconds).
std::string milliseconds(std::int64_t ns)
{
    const std::int64_t us = std::max<std::int64_t>(ns, 0) / 1000;
    return number(us / 1000) + "." + zeros(us % 1000, 3);
}

// A duration in seconds with three decimals.
std::string seconds(std::int64_t ns)
{
    const std::int64_t ms = std::max<std::int64_t>(ns, 0) / 1'000'000;
    return number(ms / 1000) + "." + zeros(ms % 1000, 3);
}

// One line of the summary, built from cells padded to their columns.
class Row {
public:
    Row& left(std::string_view text, std::size_t width)
    {
        s_ += text;
        if (text.size() < width) s_.append(width - text.size(), ' ');
        return *this;
    }
    Row& right(std::string_view text, std::size_t width)
    {
        if (text.size() < width) s_.append(width - text.size(), ' ');
        s_ += text;
        return *this;
    }
    Row& right(std::int64_t v, std::size_t width) { return right(number(v), width); }
    Row& text(std::string_view text)
    {
        s_ += text;
        return *this;
    }
    void put(Out& out)
    {
        while (!s_.empty() && s_.back() == ' ') s_.pop_back();
        s_ += '\n';
        out.write(s_);
        s_.clear();
    }

private:
    std::string s_;
};

void heading(Out& out, std::string_view title)
{
    Row().text("\n").text(title).put(out);
    Row().text(std::string(title.size(), '-')).put(out);
}

// "  Label ....... value": a label and its number, right-aligned.
constexpr std::size_t kLabel = 40;
constexpr std::size_t kItem = 8;
constexpr std::size_t kValue = 10;

void countLine(Out& out, std::string_view label, std::int64_t v, std::string_view note = {})
{
    Row row;
    row.text("  ").left(label, kLabel).right(v, kValue);
    if (!note.empty()) row.text("  ").text(note);
    row.put(out);
}

void textLine(Out& out, std::string_view label, std::string_view value)
{
    Row().text("  ").left(label, kLabel).text(value).put(out);
}

// "0x44 D": the code and its letter.
std::string codeCell(std::uint8_t code)
{
    std::string s = "0x";
    s += fmt::kHexDigits[code >> 4];
    s += fmt::kHexDigits[code & 15];
    if (code > 0x20 && code < 0x7F) {
        s += ' ';
        s += static_cast<char>(code);
    }
    return s;
}

std::string nameCell(std::uint8_t code)
{
    const std::string_view name = instructionName(code);
    return name.empty() ? std::string("(unknown instruction)") : std::string(name);
}

// An error text as the decoders write it, made readable on one line: the
// indentation, the line end and the tab go, and the values of a line
// format show as "?" ("ERROR invalid value POS=0x?=?").
std::string readableError(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.starts_with("=> ")) text.remove_prefix(3);
    while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\t') {
            s += ' ';
        } else if (c == '%' && i + 1 < text.size()) {
            if (text[i + 1] == '%') {
                s += '%';
                ++i;
                continue;
            }
            while (i + 1 < text.size() && ((text[i + 1] >= '0' && text[i + 1] <= '9') || text[i + 1] == '.')) ++i;
            ++i; // the conversion letter
            s += '?';
        } else {
            s += c;
        }
    }
    return s;
}

// A table text without its line end, and a bit line's meaning.
std::string_view tableText(const char* text)
{
    std::string_view s(text);
    if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
    return s;
}

std::string_view bitMeaning(const BitLine& line)
{
    std::string_view s(line.text, line.size);
    const std::size_t arrow = s.find("-> ");
    s.remove_prefix(arrow == std::string_view::npos ? 0 : arrow + 3);
    if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
    return s;
}

// ---- Times ---------------------------------------------------------------

std::string dateText(std::int64_t days)
{
    const CivilDate date = civilFromDays(days);
    return zeros(date.year, 4) + "-" + zeros(date.month, 2) + "-" + zeros(date.day, 2);
}

// The second column, as the capture tool writes the direction.
std::string_view secondColumn(std::string_view line)
{
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return {};
    std::string_view column = line.substr(tab + 1);
    column = column.substr(0, column.find('\t'));
    while (!column.empty() && (column.back() == '\n' || column.back() == '\r')) column.remove_suffix(1);
    return column;
}

// ---- Fixed tables ----------------------------------------------------------

constexpr int kFirstFew = 3;

// How often something happened, and where the first few times.
struct Occurrences {
    std::uint64_t count = 0;
    std::uint64_t first[kFirstFew]{};

    void add(std::uint64_t where)
    {
        if (count < kFirstFew) first[count] = where;
        ++count;
    }
};

// Reply times of one instruction. Least and most are exact; the median and
// the 95th percentile come from a fixed histogram in microseconds: exact
// below 32 us, then 32 steps for each doubling. A percentile is the mean of
// the times in its step, so it is exact when they are all equal (as in a
// capture that writes milliseconds) and within 1/32 (3.2 %) otherwise.
class ReplyTimes {
public:
    static constexpr int kSteps = 32;
    static constexpr int kStepBits = 5;
    static constexpr int kLastDoubling = 40; // 2^41 us, some 25 days; longer times share the last step
    static constexpr int kBuckets = kSteps + (kLastDoubling - kStepBits + 1) * kSteps;

    void add(std::int64_t ns)
    {
        ns = std::max<std::int64_t>(ns, 0);
        if (count_ == 0 || ns < least_) least_ = ns;
        if (count_ == 0 || ns > most_) most_ = ns;
        ++count_;
        const auto us = static_cast<std::uint64_t>(ns / 1000);
        Bucket& b = bucket_[index(us)];
        ++b.count;
        b.sum += us;
    }
    std::uint64_t count() const { return count_; }
    std::int64_t least() const { return least_; }
    std::int64_t most() const { return most_; }

    // The time of rank ceil(count * percent / 100), in nanoseconds.
    std::int64_t percentile(unsigned percent) const
    {
        const std::uint64_t rank = std::max<std::uint64_t>(1, (count_ * percent + 99) / 100);
        std::uint64_t seen = 0;
        for (const Bucket& b : bucket_) {
            seen += b.count;
            if (b.count && seen >= rank)
                return std::clamp<std::int64_t>(static_cast<std::int64_t>(b.sum / b.count) * 1000, least_, most_);
        }
        return most_;
    }

private:
    struct Bucket {
        std::uint64_t count = 0;
        std::uint64_t sum = 0; // microseconds
    };

    static int index(std::uint64_t us)
    {
        if (us < kSteps) return static_cast<int>(us);
        const int top = std::bit_width(us) - 1; // kStepBits or more
        if (top > kLastDoubling) return kBuckets - 1;
        const int shift = top - kStepBits;
        return kSteps + shift * kSteps + static_cast<int>((us >> shift) & (kSteps - 1));
    }

    std::uint64_t count_ = 0;
    std::int64_t least_ = 0;
    std::int64_t most_ = 0;
    Bucket bucket_[kBuckets]{};
};

struct Gap {
    std::int64_t ns = 0;
    std::uint64_t from = 0;
    std::uint64_t to = 0;
};

struct ErrorCount {
    int side = 0;
    std::uint8_t code = 0;
    std::string_view text; // static storage: a decoder's literal
    std::uint64_t count = 0;
    std::uint64_t first = 0;
};

// A Data message as its data field writes it, enough of it to tell a
// segment sent again: a copy of the text is cheaper than reading the bytes.
struct DataText {
    static constexpr std::size_t kKept = 256; // a whole capture line
    std::array<char, kKept> text{};
    std::size_t size = 0;

    void keep(std::string_view field)
    {
        while (!field.empty() && (field.back() == '\n' || field.back() == '\r')) field.remove_suffix(1);
        size = field.size();
        std::copy_n(field.data(), std::min(size, kKept), text.data());
    }
    bool operator==(const DataText& other) const
    {
        return size == other.size && std::equal(text.begin(), text.begin() + std::min(size, kKept), other.text.begin());
    }
};

// ---- The summary -----------------------------------------------------------

// What the summary keeps of one instruction code.
struct CodeCounts {
    std::uint64_t messages[2]{}; // PC, controller
    Occurrences noReply;         // PC messages of this code without a reply
    Occurrences answersNothing;  // controller messages of this code that answer nothing
};

class Summary final : public ErrorObserver {
public:
    explicit Summary(bool textDump) : textDump_(textDump) {}

    void feed(const CaptureRecord& record);
    // The end of the capture: the last PC message is settled.
    void finish();
    void write(Out& out, std::string_view name, std::string_view format, std::string_view fault) const;

    void onError(std::string_view text) override;

private:
    bool timeOf(const CaptureRecord& record, std::int64_t& ns);
    void pair(Direction direction, std::uint8_t code, std::uint64_t where, bool timed, std::int64_t ns);
    void motion(const CaptureRecord& record, std::uint8_t code, bool timed, std::int64_t ns);
    void stopState(std::uint8_t state);
    void fill(int buf);
    // The controller refused the last Data message: the next one may send
    // it again.
    void refused()
    {
        refused_ = lastSent_;
        refusedOpen_ = haveSent_;
    }
    void gap(std::int64_t ns, std::uint64_t from, std::uint64_t to);

    void writeCapture(Out& out, std::string_view name, std::string_view format, std::string_view fault) const;
    void writeMessages(Out& out) const;
    void writeErrors(Out& out) const;
    void writeMotion(Out& out) const;
    void writeTiming(Out& out) const;
    void writeOccurrences(Out& out, Occurrences CodeCounts::* what) const;
    std::string where(std::uint64_t n) const { return (textDump_ ? "line " : "packet ") + number(n); }
    std::string places(const Occurrences& o) const;
    std::string stamp(std::int64_t ns) const;

    const bool textDump_;

    // Capture
    std::uint64_t records_ = 0;
    std::uint64_t messages_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t short_ = 0;
    Occurrences shortLookingLikeMessages_;
    std::uint64_t withoutField_ = 0;

    // Messages and replies
    CodeCounts codes_[256];
    bool open_ = false; // a PC message waits for its reply
    std::uint8_t openCode_ = 0;
    std::uint64_t openAt_ = 0;
    bool openTimed_ = false;
    std::int64_t openNs_ = 0;

    // Errors
    static constexpr std::size_t kErrorKinds = 64;
    std::array<ErrorCount, kErrorKinds> errors_{};
    std::size_t errorKinds_ = 0;
    std::uint64_t otherErrors_ = 0;
    int currentSide_ = 0;
    std::uint8_t currentCode_ = 0;
    std::uint64_t currentAt_ = 0;

    // Motion stream
    motion::StoredSegments segments_;
    std::uint64_t sent_ = 0, stored_ = 0, bufferFull_ = 0, notUsbMode_ = 0, otherStatus_ = 0, storedUnknown_ = 0;
    std::uint64_t resent_ = 0, endSent_ = 0, endStored_ = 0, segmentsStored_ = 0;
    std::int64_t pulses_ = 0;
    std::int64_t position_[5]{};
    DataText lastSent_, refused_;
    bool haveSent_ = false, refusedOpen_ = false;
    std::uint64_t fills_ = 0, fillSum_ = 0;
    int fillLeast_ = 0, fillMost_ = 0;
    std::uint64_t stopCommands_[256]{};
    std::uint8_t stopState_ = 0;
    std::uint64_t stopReasons_[8]{};

    // Timing
    TimeForm form_ = TimeForm::None;
    int fractionDigits_ = 0;
    std::int64_t start_ = 0, end_ = 0;
    // Made for a code when its first reply time comes.
    std::unique_ptr<ReplyTimes> replies_[256];
    bool dataTimed_ = false;
    std::int64_t lastDataNs_ = 0;
    std::uint64_t lastDataAt_ = 0;
    std::array<Gap, 5> gaps_{};
    std::size_t gapCount_ = 0;

    // The decoders write here, and it keeps nothing.
    Out discard_{static_cast<std::string*>(nullptr), false, 1 << 14};
};

bool Summary::timeOf(const CaptureRecord& record, std::int64_t& ns)
{
    if (!record.hasTime) return false;
    ns = record.timeNs;
    // Packet times are shown to the microsecond.
    const TimeForm form = record.timeForm;
    const int fractionDigits = form == TimeForm::Packet ? 6 : record.timeDigits;
    // The first time sets the form; a time written another way is none.
    if (form_ == TimeForm::None) {
        form_ = form;
        fractionDigits_ = fractionDigits;
        start_ = end_ = ns;
    } else if (form != form_) {
        return false;
    }
    fractionDigits_ = std::max(fractionDigits_, fractionDigits);
    start_ = std::min(start_, ns);
    end_ = std::max(end_, ns);
    return true;
}

void Summary::feed(const CaptureRecord& record)
{
    ++records_;
    std::int64_t ns = 0;
    const bool timed = timeOf(record, ns);
    if (!record.isMessage) {
        ++skipped_;
        if (!record.line.empty()) {
            if (record.line.size() <= kShortLineLength) {
                ++short_;
                const std::string_view column = secondColumn(record.line);
                if (column == "OUT" || column == "IN") shortLookingLikeMessages_.add(record.number);
            } else {
                ++withoutField_;
            }
        }
        return;
    }
    ++messages_;
    const std::uint8_t code = Bytes(record.field).at(0);
    ++codes_[code].messages[side(record.direction)];
    pair(record.direction, code, record.number, timed, ns);

    // Decoded as the report would, for the error texts alone.
    currentSide_ = side(record.direction);
    currentCode_ = code;
    currentAt_ = record.number;
    reportMessage(record.direction, record.field, discard_);

    motion(record, code, timed, ns);
}

void Summary::pair(Direction direction, std::uint8_t code, std::uint64_t where, bool timed, std::int64_t ns)
{
    if (direction == Direction::Pc) {
        // The PC message before this one had no reply of its code.
        if (open_) codes_[openCode_].noReply.add(openAt_);
        open_ = true;
        openCode_ = code;
        openAt_ = where;
        openTimed_ = timed;
        openNs_ = ns;
        return;
    }
    if (open_ && openCode_ == code) {
        open_ = false;
        if (timed && openTimed_) {
            if (!replies_[code]) replies_[code] = std::make_unique<ReplyTimes>();
            replies_[code]->add(elapsed(openNs_, ns));
        }
    } else {
        codes_[code].answersNothing.add(where);
    }
}

void Summary::finish()
{
    if (open_) codes_[openCode_].noReply.add(openAt_);
    open_ = false;
}

void Summary::onError(std::string_view text)
{
    for (std::size_t i = 0; i < errorKinds_; ++i) {
        ErrorCount& e = errors_[i];
        if (e.side == currentSide_ && e.code == currentCode_ && e.text == text) {
            ++e.count;
            return;
        }
    }
    if (errorKinds_ == kErrorKinds) {
        ++otherErrors_;
        return;
    }
    errors_[errorKinds_++] = {currentSide_, currentCode_, text, 1, currentAt_};
}

void Summary::motion(const CaptureRecord& record, std::uint8_t code, bool timed, std::int64_t ns)
{
    const Bytes bytes(record.field);
    const bool pc = record.direction == Direction::Pc;
    if (code == kStop) {
        if (pc)
            ++stopCommands_[bytes.at(1)];
        else
            stopState(bytes.at(1));
        return;
    }
    if (code == kInformation && !pc) {
        fill(bytes.at(kBufByte));
        stopState(bytes.at(kStopStateByte));
        return;
    }
    if (code != kData) return;

    motion::StoredSegment stored;
    switch (segments_.feed(record.direction, bytes, stored)) {
    case motion::DataEvent::Sent: {
        ++sent_;
        lastSent_.keep(record.field);
        if (refusedOpen_ && lastSent_ == refused_) ++resent_;
        refusedOpen_ = false;
        haveSent_ = true;
        if (segments_.pending() && segments_.pending()->endOfData()) ++endSent_;
        if (timed) {
            if (dataTimed_) gap(elapsed(lastDataNs_, ns), lastDataAt_, record.number);
            dataTimed_ = true;
            lastDataNs_ = ns;
            lastDataAt_ = record.number;
        }
        return;
    }
    case motion::DataEvent::Stored:
        ++stored_;
        if (stored.segment.endOfData()) {
            ++endStored_;
        } else {
            ++segmentsStored_;
            pulses_ += stored.segment.nbr;
            for (int axis = 0; axis < 5; ++axis) position_[axis] += stored.segment.steps[axis];
        }
        break;
    case motion::DataEvent::StoredUnknown: ++storedUnknown_; break;
    case motion::DataEvent::BufferFull:
        ++bufferFull_;
        refused();
        break;
    case motion::DataEvent::NotUsbMode:
        ++notUsbMode_;
        refused();
        break;
    case motion::DataEvent::OtherStatus: ++otherStatus_; break;
    case motion::DataEvent::None: return;
    }
    fill(stored.buf);
    stopState(bytes.at(kStopStateByte));
}

void Summary::fill(int buf)
{
    if (fills_ == 0 || buf < fillLeast_) fillLeast_ = buf;
    if (fills_ == 0 || buf > fillMost_) fillMost_ = buf;
    ++fills_;
    fillSum_ += static_cast<std::uint64_t>(buf);
}

// A stop reason is counted when its bit turns to 1, so that a stop that
// every later status block still reports counts once.
void Summary::stopState(std::uint8_t state)
{
    const unsigned rising = state & ~stopState_;
    for (int bit : kStopReasonBits)
        if (rising & (1u << bit)) ++stopReasons_[bit];
    stopState_ = state;
}

void Summary::gap(std::int64_t ns, std::uint64_t from, std::uint64_t to)
{
    const Gap g{ns, from, to};
    if (gapCount_ < gaps_.size()) {
        gaps_[gapCount_++] = g;
    } else if (ns > gaps_[gapCount_ - 1].ns) {
        gaps_[gapCount_ - 1] = g;
    } else {
        return;
    }
    // Longest first; of equal gaps the earlier stays first.
    std::stable_sort(gaps_.begin(), gaps_.begin() + static_cast<std::ptrdiff_t>(gapCount_),
                     [](const Gap& a, const Gap& b) { return a.ns > b.ns; });
}

// ---- Writing ---------------------------------------------------------------

std::string Summary::places(const Occurrences& o) const
{
    std::string s = textDump_ ? (o.count > 1 ? "lines " : "line ") : (o.count > 1 ? "packets " : "packet ");
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(o.count, kFirstFew); ++i) {
        if (i) s += ", ";
        s += number(static_cast<std::int64_t>(o.first[i]));
    }
    if (o.count > kFirstFew) s += ", ...";
    return s;
}

std::string Summary::stamp(std::int64_t ns) const
{
    // Whole seconds and days rounded down, for times before 1970 too.
    const std::int64_t seconds = ns / kSecond - (ns % kSecond < 0);
    const std::int64_t fraction = ns - seconds * kSecond;
    std::string frac;
    if (fractionDigits_ > 0) {
        std::int64_t scale = kSecond;
        for (int i = 0; i < fractionDigits_; ++i) scale /= 10;
        frac.assign(1, '.').append(zeros(fraction / scale, fractionDigits_));
    }
    if (form_ == TimeForm::Seconds) return number(seconds) + frac + " s";
    const std::int64_t days = seconds / 86400 - (seconds % 86400 < 0);
    const std::int64_t inDay = seconds - days * 86400;
    const std::int64_t hours = form_ == TimeForm::Clock ? seconds / 3600 : inDay / 3600;
    std::string clock = zeros(hours, 2) + ":" + zeros(inDay / 60 % 60, 2) + ":" + zeros(inDay % 60, 2) + frac;
    if (form_ == TimeForm::Clock) return clock;
    std::string s = dateText(days) + " " + clock;
    if (form_ == TimeForm::Packet) s += " UTC";
    return s;
}

void Summary::write(Out& out, std::string_view name, std::string_view format, std::string_view fault) const
{
    Row().text("Vornlog session summary").put(out);
    Row().text("=======================").put(out);
    writeCapture(out, name, format, fault);
    writeMessages(out);
    writeErrors(out);
    writeMotion(out);
    writeTiming(out);
}

void Summary::writeCapture(Out& out, std::string_view name, std::string_view format, std::string_view fault) const
{
    heading(out, "Capture");
    textLine(out, "File", name);
    textLine(out, "Format", format);
    const auto records = static_cast<std::int64_t>(records_);
    const auto skipped = static_cast<std::int64_t>(skipped_);
    if (textDump_) {
        countLine(out, "Lines read", records);
        countLine(out, "Messages decoded", static_cast<std::int64_t>(messages_));
        countLine(out, "Lines passed over", skipped);
        countLine(out, "  40 characters or fewer", static_cast<std::int64_t>(short_));
        const Occurrences& looking = shortLookingLikeMessages_;
        countLine(out, "    of them with OUT or IN", static_cast<std::int64_t>(looking.count),
                  looking.count ? places(looking) : std::string_view{});
        countLine(out, "  without a data field", static_cast<std::int64_t>(withoutField_));
        if (looking.count)
            Row()
                .text("  Note: ")
                .text(number(static_cast<std::int64_t>(looking.count)))
                .text(looking.count == 1 ? " short line looks like a message; the report passes it over."
                                         : " short lines look like messages; the report passes them over.")
                .put(out);
    } else {
        countLine(out, "Packets read", records);
        countLine(out, "Messages decoded", static_cast<std::int64_t>(messages_));
        countLine(out, "Packets without a message", skipped);
    }
    if (!fault.empty()) textLine(out, "Reading stopped", fault);
}

void Summary::writeMessages(Out& out) const
{
    heading(out, "Messages");
    constexpr std::size_t kCode = 8, kName = 26, kCount = 9;
    Row()
        .text("  ")
        .left("Code", kCode)
        .left("Instruction", kName)
        .right("PC", kCount)
        .right("QMR5V", kCount)
        .right("No reply", kCount + 2)
        .right("Answers nothing", kCount + 8)
        .put(out);
    std::uint64_t total[2]{}, noReply = 0, answersNothing = 0;
    for (int code = 0; code < 256; ++code) {
        const CodeCounts& c = codes_[code];
        if (c.messages[0] + c.messages[1] == 0) continue;
        Row()
            .text("  ")
            .left(codeCell(static_cast<std::uint8_t>(code)), kCode)
            .left(nameCell(static_cast<std::uint8_t>(code)), kName)
            .right(static_cast<std::int64_t>(c.messages[0]), kCount)
            .right(static_cast<std::int64_t>(c.messages[1]), kCount)
            .right(static_cast<std::int64_t>(c.noReply.count), kCount + 2)
            .right(static_cast<std::int64_t>(c.answersNothing.count), kCount + 8)
            .put(out);
        total[0] += c.messages[0];
        total[1] += c.messages[1];
        noReply += c.noReply.count;
        answersNothing += c.answersNothing.count;
    }
    Row()
        .text("  ")
        .left("Total", kCode + kName)
        .right(static_cast<std::int64_t>(total[0]), kCount)
        .right(static_cast<std::int64_t>(total[1]), kCount)
        .right(static_cast<std::int64_t>(noReply), kCount + 2)
        .right(static_cast<std::int64_t>(answersNothing), kCount + 8)
        .put(out);

    Row().put(out);
    Row()
        .text("  PC messages without a reply (no controller message of their code before the next PC message): ")
        .text(number(static_cast<std::int64_t>(noReply)))
        .put(out);
    writeOccurrences(out, &CodeCounts::noReply);
    Row()
        .text("  Controller messages that answer nothing: ")
        .text(number(static_cast<std::int64_t>(answersNothing)))
        .put(out);
    writeOccurrences(out, &CodeCounts::answersNothing);
}

void Summary::writeOccurrences(Out& out, Occurrences CodeCounts::* what) const
{
    for (int code = 0; code < 256; ++code) {
        const Occurrences& o = codes_[code].*what;
        if (o.count == 0) continue;
        Row()
            .text("    ")
            .left(codeCell(static_cast<std::uint8_t>(code)), 8)
            .left(nameCell(static_cast<std::uint8_t>(code)), 26)
            .right(static_cast<std::int64_t>(o.count), 9)
            .text("  ")
            .text(places(o))
            .put(out);
    }
}

void Summary::writeErrors(Out& out) const
{
    heading(out, "Errors");
    if (errorKinds_ == 0) {
        Row().text("  None: the report writes no error text.").put(out);
        return;
    }
    std::vector<ErrorCount> errors(errors_.begin(), errors_.begin() + static_cast<std::ptrdiff_t>(errorKinds_));
    std::stable_sort(errors.begin(), errors.end(), [](const ErrorCount& a, const ErrorCount& b) {
        return a.code != b.code ? a.code < b.code : a.side < b.side;
    });
    constexpr std::size_t kCode = 8, kName = 26, kFrom = 7, kCount = 9, kFirst = 12;
    std::uint64_t total = otherErrors_;
    Row()
        .text("  ")
        .left("Code", kCode)
        .left("Instruction", kName)
        .left("From", kFrom)
        .right("Count", kCount)
        .right(textDump_ ? "First line" : "First packet", kFirst + 1)
        .text("  Text")
        .put(out);
    for (const ErrorCount& e : errors) {
        Row()
            .text("  ")
            .left(codeCell(e.code), kCode)
            .left(nameCell(e.code), kName)
            .left(e.side == 0 ? "PC" : "QMR5V", kFrom)
            .right(static_cast<std::int64_t>(e.count), kCount)
            .right(static_cast<std::int64_t>(e.first), kFirst + 1)
            .text("  ")
            .text(readableError(e.text))
            .put(out);
        total += e.count;
    }
    if (otherErrors_) countLine(out, "Other error texts", static_cast<std::int64_t>(otherErrors_));
    countLine(out, "Error texts in all", static_cast<std::int64_t>(total));
}

void Summary::writeMotion(Out& out) const
{
    heading(out, "Motion stream");
    auto count = [&](std::string_view label, std::uint64_t v, std::string_view note = {}) {
        countLine(out, label, static_cast<std::int64_t>(v), note);
    };
    count("Data messages sent", sent_);
    count("  end-of-data marks among them", endSent_);
    count("Data replies: stored", stored_);
    count("  buffer full, not stored", bufferFull_);
    count("  not in USB mode", notUsbMode_);
    count("  another status", otherStatus_);
    count("Stored before any Data message", storedUnknown_);
    count("Segments resent after a refusal", resent_);
    count("Segments stored", segmentsStored_);
    count("End-of-data marks stored", endStored_);
    countLine(out, "Total pulses of the stored segments", pulses_);
    Row row;
    row.text("  ").left("Final position in steps", kLabel);
    for (int axis = 0; axis < 5; ++axis) {
        if (axis) row.text("  ");
        row.text("S").text(number(axis + 1)).text(" ").text(number(position_[axis]));
    }
    row.put(out);

    if (fills_ == 0) {
        textLine(out, "Buffer fill (BUF of the replies)", "no Data or Information reply");
    } else {
        const double mean = static_cast<double>(fillSum_) / static_cast<double>(fills_);
        textLine(out, "Buffer fill (BUF of the replies)",
                 "least " + number(fillLeast_) + " (" + number(motion::bufferPercent(fillLeast_)) + "%), mean " +
                     oneDecimal(mean) + " (" + oneDecimal(mean * 100 / 7) + "%), most " + number(fillMost_) +
                     " (" + number(motion::bufferPercent(fillMost_)) + "%), in " +
                     number(static_cast<std::int64_t>(fills_)) + " replies");
    }

    // The lines under a count: how many, then what.
    auto item = [&](std::string_view what, std::uint64_t v) {
        Row().text("  ").right(static_cast<std::int64_t>(v), kItem).text("  ").text(what).put(out);
    };
    std::uint64_t stops = 0;
    for (std::uint64_t n : stopCommands_) stops += n;
    count("Stop messages", stops);
    for (int cmd = 0; cmd < 256; ++cmd) {
        if (!stopCommands_[cmd]) continue;
        const char* text = motion::stopCommandText(cmd);
        item(text ? std::string(tableText(text)) : "CMD=" + codeCell(static_cast<std::uint8_t>(cmd)).substr(0, 4) + ", no command",
             stopCommands_[cmd]);
    }
    std::uint64_t reasons = 0;
    for (int bit : kStopReasonBits) reasons += stopReasons_[bit];
    count("Stops reported by the controller", reasons, "(each counted when its bit turns to 1)");
    for (const BitText& bit : motion::kStopStateBits)
        if (stopReasons_[bit.bit]) item(bitMeaning(bit.whenSet), stopReasons_[bit.bit]);
}

void Summary::writeTiming(Out& out) const
{
    heading(out, "Timing");
    if (form_ == TimeForm::None) {
        Row().text("  The capture has no times.").put(out);
        return;
    }
    const std::int64_t duration = elapsed(start_, end_);
    textLine(out, "Start", stamp(start_));
    textLine(out, "End", stamp(end_));
    textLine(out, "Duration", seconds(duration) + " s");
    if (duration > 0)
        textLine(out, "Messages per second",
                 oneDecimal(static_cast<double>(messages_) * static_cast<double>(kSecond) / static_cast<double>(duration)));

    Row().put(out);
    Row().text("  Reply times in ms, from a PC message to the controller's message of the same code").put(out);
    constexpr std::size_t kCode = 8, kName = 26, kCount = 9, kTime = 11;
    Row()
        .text("  ")
        .left("Code", kCode)
        .left("Instruction", kName)
        .right("Count", kCount)
        .right("Least", kTime)
        .right("Median", kTime)
        .right("95%", kTime)
        .right("Most", kTime)
        .put(out);
    bool any = false;
    for (int code = 0; code < 256; ++code) {
        if (!replies_[code]) continue;
        const ReplyTimes& r = *replies_[code];
        any = true;
        Row()
            .text("  ")
            .left(codeCell(static_cast<std::uint8_t>(code)), kCode)
            .left(nameCell(static_cast<std::uint8_t>(code)), kName)
            .right(static_cast<std::int64_t>(r.count()), kCount)
            .right(milliseconds(r.least()), kTime)
            .right(milliseconds(r.percentile(50)), kTime)
            .right(milliseconds(r.percentile(95)), kTime)
            .right(milliseconds(r.most()), kTime)
            .put(out);
    }
    if (!any) Row().text("  (no reply with a time)").put(out);
    Row()
        .text("  Least and most are exact. The median and the 95th percentile come from a histogram of")
        .put(out);
    Row().text("  32 steps per doubling: within 3.2 %, exact when the times of a step are equal.").put(out);

    Row().put(out);
    Row().text("  Longest gaps between one Data message and the next").put(out);
    if (gapCount_ == 0) Row().text("  (fewer than two Data messages with a time)").put(out);
    for (std::size_t i = 0; i < gapCount_; ++i)
        Row()
            .text("  ")
            .right(milliseconds(gaps_[i].ns), 14)
            .text(" ms  ")
            .text(textDump_ ? "lines " : "packets ")
            .text(number(static_cast<std::int64_t>(gaps_[i].from)))
            .text(" to ")
            .text(number(static_cast<std::int64_t>(gaps_[i].to)))
            .put(out);
}

// Installs the summary as the observer of error texts for its run.
class ObserverScope {
public:
    explicit ObserverScope(ErrorObserver* observer) : previous_(setErrorObserver(observer)) {}
    ~ObserverScope() { setErrorObserver(previous_); }
    ObserverScope(const ObserverScope&) = delete;
    ObserverScope& operator=(const ObserverScope&) = delete;

private:
    ErrorObserver* previous_;
};

} // namespace

void writeSummary(MessageSource& in, std::string_view captureName, Out& dest, Progress& progress)
{
    // Fixed tables of some 100 KiB: on the heap, not the stack.
    auto summary = std::make_unique<Summary>(in.format() == "text dump");
    in.readTimes();
    {
        ObserverScope scope(summary.get());
        CaptureRecord record;
        while (in.next(record)) {
            progress.count();
            summary->feed(record);
        }
    }
    summary->finish();
    summary->write(dest, captureName, in.format(), in.fault());
}

} // namespace vornlog
