// The bit rows of the protocol written out when compiling, for the writers
// that copy a bit row whole rather than make it from its parts at run time:
// every bit table that the instructions' layouts show (a field's own rows,
// or the rows a step shows instead), each entry's row when the bit is 1 and
// when it is 0, in the writer's own form.
//
//   constexpr auto kRows = renderBitRows<80>(writeRow);
//   if (const BitRow<80>* rows = kRows.of(table)) ... rows[2 * k + (bit ? 0 : 1)]
//
// A table that no layout shows (a test's) has none: the writer makes its
// rows at run time.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "protocol/instructions.h"
#include "protocol/layout.h"
#include "protocol/texts.h"

namespace vornlog {

// Every bit table of the layouts, once each.
struct BitTables {
    static constexpr std::size_t kMost = 32;
    std::array<std::span<const BitText>, kMost> tables{};
    std::size_t count = 0;
    std::size_t entries = 0;

    constexpr void add(std::span<const BitText> table)
    {
        if (table.empty()) return;
        for (std::size_t i = 0; i < count; ++i)
            if (tables[i].data() == table.data()) return;
        if (count == kMost) throw "more bit tables than kMost";
        tables[count++] = table;
        entries += table.size();
    }

    constexpr void walk(const Layout& layout)
    {
        for (const Field* field : layout.fields()) add(field->bits);
        for (const Step& step : layout.steps) {
            if (!step.ownBits) add(step.bits);
            if (step.kind == StepKind::Part) walk(*step.part);
        }
    }
};

// The Data messages' tables first: those messages are most of a capture,
// and a writer finds their rows at the first tables it looks at.
inline constexpr BitTables kBitTables = [] {
    BitTables t;
    for (const Instruction& instruction : kInstructions)
        if (instruction.code == motion::kDataCode) {
            t.walk(*instruction.controller);
            t.walk(*instruction.pc);
        }
    for (const Instruction& instruction : kInstructions) {
        if (instruction.pc) t.walk(*instruction.pc);
        if (instruction.controller) t.walk(*instruction.controller);
    }
    return t;
}();

// One row as a writer writes it; size 0 for a bit without a meaning.
template <std::size_t Capacity>
struct BitRow {
    static constexpr std::size_t kCapacity = Capacity;
    char text[Capacity]{};
    std::size_t size = 0;

    constexpr void add(std::string_view s)
    {
        if (size + s.size() > Capacity) throw "a bit row fits its room";
        for (char c : s) text[size++] = c;
    }
    constexpr void addNumber(int n)
    {
        if (n >= 10) add(std::string_view(&"0123456789"[n / 10], 1));
        add(std::string_view(&"0123456789"[n % 10], 1));
    }
};

// The rows of every entry of kBitTables: for entry k of a table, the row
// when its bit is 1 at 2k and when it is 0 at 2k + 1.
template <std::size_t Capacity>
struct BitRows {
    std::array<std::size_t, BitTables::kMost> first{};
    std::array<BitRow<Capacity>, 2 * kBitTables.entries> rows{};

    // The rows of `table`, or null for a table that no layout shows.
    const BitRow<Capacity>* of(std::span<const BitText> table) const
    {
        for (std::size_t i = 0; i < kBitTables.count; ++i)
            if (kBitTables.tables[i].data() == table.data()) return &rows[first[i]];
        return nullptr;
    }
};

// The rows written by `write(row, bit, value, meaning)` for each meaning.
template <std::size_t Capacity, class Write>
constexpr BitRows<Capacity> renderBitRows(Write write)
{
    BitRows<Capacity> r;
    std::size_t at = 0;
    for (std::size_t i = 0; i < kBitTables.count; ++i) {
        r.first[i] = at;
        for (const BitText& entry : kBitTables.tables[i]) {
            if (entry.set) write(r.rows[at], entry.bit, 1, entry.set.view());
            if (entry.clear) write(r.rows[at + 1], entry.bit, 0, entry.clear.view());
            at += 2;
        }
    }
    return r;
}

} // namespace vornlog
