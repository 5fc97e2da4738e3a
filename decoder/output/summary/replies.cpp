// "Messages": every message by instruction and direction, and how the PC's
// messages were answered.
#include "taps.h"

namespace vornlog::summary {

void Replies::add(const Tapped& t)
{
    if (!t.record.isMessage) return;
    const std::uint8_t code = t.message.code();
    if (t.record.direction == Direction::Pc) {
        ++codes_[code].messages[0];
        if (const auto& unanswered = t.facts->unanswered) codes_[unanswered->code].noReply.add(unanswered->at);
        lastRequestTimed_ = t.timed;
        lastRequestNs_ = t.ns;
        return;
    }
    ++codes_[code].messages[1];
    if (!t.facts->answered) {
        codes_[code].answersNothing.add(t.record.number);
    } else if (t.timed && lastRequestTimed_ && !(engine_ && t.message.FieldValues::instruction())) {
        if (!times_[code]) times_[code] = std::make_unique<TimeHistogram>();
        times_[code]->add(elapsed(lastRequestNs_, t.ns));
    }
}

void Replies::finish(const std::optional<RequestPairing::Request>& unanswered)
{
    if (unanswered) codes_[unanswered->code].noReply.add(unanswered->at);
}

void Replies::write(Out& out) const
{
    heading(out, "Messages");
    constexpr std::size_t kCount = 9;
    Row()
        .text("  ")
        .left("Code", kCodeColumn)
        .left("Instruction", kNameColumn)
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
            .left(codeCell(static_cast<std::uint8_t>(code)), kCodeColumn)
            .left(nameCell(static_cast<std::uint8_t>(code)), kNameColumn)
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
        .left("Total", kCodeColumn + kNameColumn)
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

void Replies::writeOccurrences(Out& out, Occurrences CodeCounts::* what) const
{
    for (int code = 0; code < 256; ++code) {
        const Occurrences& o = codes_[code].*what;
        if (o.count == 0) continue;
        Row()
            .text("    ")
            .left(codeCell(static_cast<std::uint8_t>(code)), kCodeColumn)
            .left(nameCell(static_cast<std::uint8_t>(code)), kNameColumn)
            .right(static_cast<std::int64_t>(o.count), 9)
            .text("  ")
            .text(places(o, textDump_))
            .put(out);
    }
}

} // namespace vornlog::summary
