// "Capture": what was read, what was decoded and what was passed over.
#include "protocol/instructions.h"
#include "taps.h"

namespace vornlog::summary {

namespace {

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

} // namespace

bool CaptureCounts::add(const Tapped& t)
{
    ++records_;
    if (t.record.leftOut) {
        ++leftOut_;
        return false;
    }
    if (t.record.isMessage) {
        ++messages_;
        if (t.record.shortLine) shortMessages_.add(t.record.number);
        return true;
    }
    ++skipped_;
    const std::string_view line = t.record.line;
    if (line.empty()) return true;
    if (line.size() <= kShortLineLength) {
        ++short_;
        const std::string_view column = secondColumn(line);
        if (column == "OUT" || column == "IN") shortLookingLikeMessages_.add(t.record.number);
    } else {
        ++withoutField_;
    }
    return true;
}

void CaptureCounts::write(Out& out, std::string_view name, std::string_view format, std::string_view fault) const
{
    heading(out, "Capture");
    textLine(out, "File", name);
    textLine(out, "Format", format);
    const auto records = static_cast<std::int64_t>(records_);
    const auto skipped = static_cast<std::int64_t>(skipped_);
    countLine(out, textDump_ ? "Lines read" : "Packets read", records);
    countLine(out, "Messages decoded", static_cast<std::int64_t>(messages_));
    if (textDump_) {
        const Occurrences& shortMessages = shortMessages_;
        countLine(out, "  on lines of 40 characters or fewer", static_cast<std::int64_t>(shortMessages.count),
                  shortMessages.count ? places(shortMessages, textDump_) : std::string_view{});
        countLine(out, "Lines passed over", skipped);
        countLine(out, "  40 characters or fewer", static_cast<std::int64_t>(short_));
        const Occurrences& looking = shortLookingLikeMessages_;
        countLine(out, "    of them with OUT or IN", static_cast<std::int64_t>(looking.count),
                  looking.count ? places(looking, textDump_) : std::string_view{});
        countLine(out, "  without a data field", static_cast<std::int64_t>(withoutField_));
        if (shortMessages.count)
            Row()
                .text("  Note: ")
                .text(number(static_cast<std::int64_t>(shortMessages.count)))
                .text(shortMessages.count == 1
                          ? " message sits on a line of 40 characters or fewer: the report and the steps CSV pass"
                            " it over, this summary counts it."
                          : " messages sit on lines of 40 characters or fewer: the report and the steps CSV pass"
                            " them over, this summary counts them.")
                .put(out);
    } else {
        countLine(out, "Packets without a message", skipped);
    }
    if (!kept_.empty()) {
        textLine(out, "Instructions kept (-i)", kept_);
        countLine(out, "Messages of the others, left out", static_cast<std::int64_t>(leftOut_));
    }
    if (!fault.empty()) textLine(out, "Reading stopped", fault);
    if (interruptedAfter_)
        textLine(out, "Reading interrupted",
                 (textDump_ ? "after line " : "after packet ") + number(static_cast<std::int64_t>(interruptedAfter_)));
}

} // namespace vornlog::summary
