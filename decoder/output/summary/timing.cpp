// "Timing": when the capture began and ended, how long the controller took
// to answer each instruction, and the longest pauses of the Data stream.
#include <string>
#include <utility>
#include <vector>

#include "protocol/instructions.h"
#include "taps.h"

namespace vornlog::summary {

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

std::string dateText(std::int64_t days)
{
    const CivilDate date = civilFromDays(days);
    return zeros(date.year, 4) + "-" + zeros(date.month, 2) + "-" + zeros(date.day, 2);
}

} // namespace

bool Timing::time(const CaptureRecord& record, TimeNs& ns)
{
    if (!record.hasTime) return false;
    ns = loadTime(record.timeNs);
    // Packet times are shown to the microsecond.
    const TimeForm form = record.timeForm;
    const int fractionDigits = form == TimeForm::Packet ? 6 : record.timeDigits;
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

void Timing::add(const Tapped& t)
{
    if (!t.timed || !t.record.isMessage || t.record.direction != Direction::Pc ||
        t.message.code() != motion::kDataCode)
        return;
    if (dataTimed_) gap({elapsed(lastDataNs_, t.ns), lastDataAt_, t.record.number});
    dataTimed_ = true;
    lastDataNs_ = t.ns;
    lastDataAt_ = t.record.number;
}

void Timing::gap(const Gap& g)
{
    if (gapCount_ < gaps_.size()) {
        gaps_[gapCount_++] = g;
    } else if (g.ns > gaps_[gapCount_ - 1].ns) {
        gaps_[gapCount_ - 1] = g;
    } else {
        return;
    }
    // Longest first; of equal gaps the earlier stays first.
    std::stable_sort(gaps_.begin(), gaps_.begin() + static_cast<std::ptrdiff_t>(gapCount_),
                     [](const Gap& a, const Gap& b) { return a.ns > b.ns; });
}

std::string Timing::stamp(TimeNs ns) const
{
    // Whole seconds and days rounded down, for times before 1970 too.
    const TimeNs wideSeconds = ns / kSecond - (ns % kSecond < 0);
    const std::int64_t fraction = static_cast<std::int64_t>(ns - wideSeconds * kSecond);
    // Beyond what 64 bits of seconds hold, no date can be written.
    if (wideSeconds > INT64_MAX / 2 || wideSeconds < INT64_MIN / 2) return "(not representable)";
    const std::int64_t seconds = static_cast<std::int64_t>(wideSeconds);
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

void Timing::write(Out& out, std::uint64_t messages, const Replies& replies) const
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
                 oneDecimal(static_cast<double>(messages) * static_cast<double>(kSecond) / static_cast<double>(duration)));

    Row().put(out);
    Row().text("  Reply times in ms, from a PC message to the controller's message of the same code").put(out);
    // The columns widen, all rows alike, for a time or count too wide for
    // them, keeping a space between cells.
    std::size_t kCount = 9, kTime = 11;
    struct Cells {
        std::string count, least, median, p95, most;
    };
    std::vector<std::pair<std::uint8_t, Cells>> rows;
    for (int code = 0; code < 256; ++code) {
        const TimeHistogram* r = replies.times(static_cast<std::uint8_t>(code));
        if (!r) continue;
        Cells c{number(static_cast<std::int64_t>(r->count())), milliseconds(r->least()), milliseconds(r->percentile(50)),
                milliseconds(r->percentile(95)), milliseconds(r->most())};
        kCount = std::max(kCount, c.count.size() + 1);
        for (const std::string* t : {&c.least, &c.median, &c.p95, &c.most}) kTime = std::max(kTime, t->size() + 1);
        rows.emplace_back(static_cast<std::uint8_t>(code), std::move(c));
    }
    Row()
        .text("  ")
        .left("Code", kCodeColumn)
        .left("Instruction", kNameColumn)
        .right("Count", kCount)
        .right("Least", kTime)
        .right("Median", kTime)
        .right("95%", kTime)
        .right("Most", kTime)
        .put(out);
    for (const auto& [code, c] : rows)
        Row()
            .text("  ")
            .left(codeCell(code), kCodeColumn)
            .left(nameCell(code), kNameColumn)
            .right(c.count, kCount)
            .right(c.least, kTime)
            .right(c.median, kTime)
            .right(c.p95, kTime)
            .right(c.most, kTime)
            .put(out);
    if (rows.empty()) Row().text("  (no reply with a time)").put(out);
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

} // namespace vornlog::summary
