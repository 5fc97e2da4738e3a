// "Errors": every kind of error text that the report writes, by instruction
// and direction, with how often and where first.
#include <algorithm>
#include <string>
#include <vector>

#include "output/field_head.h"
#include "taps.h"

namespace vornlog::summary {

namespace {

// One kind of error text: one name, one form.
bool sameKind(const ErrorKind* a, const ErrorKind* b) { return a == b || a->name == b->name; }

// The census of a kind: the head of the field whose line its text
// completes, if any, then the text.
std::string censusText(const ErrorKind& kind)
{
    std::string text;
    if (kind.field) {
        const FieldHead head = headOf(*kind.field);
        char census[FieldHead::kCapacity];
        text.assign(census, censusOf(head.view(), census));
    }
    text += kind.census;
    return text;
}

} // namespace

void ErrorCensus::add(const Tapped& t)
{
    if (!t.record.isMessage) return;
    const int side = t.record.direction == Direction::Pc ? 0 : 1;
    const std::uint8_t code = t.message.code();
    for (const ErrorKind* kind : t.message.errors()) {
        auto known = std::find_if(counts_.begin(), counts_.begin() + static_cast<std::ptrdiff_t>(kinds_),
                                  [&](const Count& c) { return c.side == side && c.code == code && sameKind(c.kind, kind); });
        if (known != counts_.begin() + static_cast<std::ptrdiff_t>(kinds_))
            ++known->count;
        else if (kinds_ == kKinds)
            ++others_;
        else
            counts_[kinds_++] = {side, code, kind, 1, t.record.number};
    }
}

void ErrorCensus::write(Out& out) const
{
    heading(out, "Errors");
    if (kinds_ == 0) {
        Row().text("  None: the report writes no error text.").put(out);
        return;
    }
    std::vector<Count> counts(counts_.begin(), counts_.begin() + static_cast<std::ptrdiff_t>(kinds_));
    std::stable_sort(counts.begin(), counts.end(), [](const Count& a, const Count& b) {
        return a.code != b.code ? a.code < b.code : a.side < b.side;
    });
    constexpr std::size_t kFrom = 7, kCount = 9, kFirst = 12;
    std::uint64_t total = others_;
    Row()
        .text("  ")
        .left("Code", kCodeColumn)
        .left("Instruction", kNameColumn)
        .left("From", kFrom)
        .right("Count", kCount)
        .right(textDump_ ? "First line" : "First packet", kFirst + 1)
        .text("  Text")
        .put(out);
    for (const Count& e : counts) {
        Row()
            .text("  ")
            .left(codeCell(e.code), kCodeColumn)
            .left(nameCell(e.code), kNameColumn)
            .left(e.side == 0 ? "PC" : "QMR5V", kFrom)
            .right(static_cast<std::int64_t>(e.count), kCount)
            .right(static_cast<std::int64_t>(e.first), kFirst + 1)
            .text("  ")
            .text(censusText(*e.kind))
            .put(out);
        total += e.count;
    }
    if (others_) countLine(out, "Other error texts", static_cast<std::int64_t>(others_));
    countLine(out, "Error texts in all", static_cast<std::int64_t>(total));
}

} // namespace vornlog::summary
