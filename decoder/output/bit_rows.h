// The bit rows of the protocol written out when compiling, for the writers
// that copy a bit row whole rather than make it from its parts at run time:
// every bit table that the instructions' layouts show (a field's own rows,
// or the rows a step shows instead), each entry's row when the bit is 1 and
// when it is 0, in the writer's own form.
//
//   constexpr auto kRows = renderBitRows<80>(writeRow);
//   if (char* end = kRows.put(p, table, value)) ... else make them here
//
// A table that no layout shows (a test's) has none: the writer makes its
// rows at run time.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

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
            if (tables[i].data() == table.data() && tables[i].size() == table.size()) return;
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

// An entry's two rows: when its bit is 1 and when it is 0.
template <std::size_t Capacity>
struct BitRowPair {
    int bit = 0;
    BitRow<Capacity> set{};
    BitRow<Capacity> clear{};
};

// The rows of every entry of kBitTables, each table's pairs in its order.
// A table's rows are copied in a room of its own, its longest row rounded
// up to 16 bytes, so that a short table's rows cost a short copy.
template <std::size_t Capacity>
struct BitRows {
    static constexpr std::size_t kStep = 16;
    std::array<std::size_t, BitTables::kMost> first{};
    std::array<std::size_t, BitTables::kMost> room{};
    std::array<BitRowPair<Capacity>, kBitTables.entries> pairs{};

    // Writes at p the rows of `value` by `table` and returns their end, or
    // null for a table that no layout shows. Writes up to Capacity bytes
    // past the last row's start: p has room for table.size() * Capacity.
    char* put(char* p, std::span<const BitText> table, unsigned value) const
    {
        for (std::size_t i = 0; i < kBitTables.count; ++i)
            if (kBitTables.tables[i].data() == table.data() && kBitTables.tables[i].size() == table.size())
                return putIn(std::make_index_sequence<Capacity / kStep>(), room[i], p, &pairs[first[i]],
                             table.size(), value);
        return nullptr;
    }

private:
    // Each row is copied whole, in its table's room, and the end moved on
    // by its size (0 for no row): no length to find.
    template <std::size_t Room>
    static char* copyRows(char* p, const BitRowPair<Capacity>* pair, std::size_t count, unsigned value)
    {
        for (const BitRowPair<Capacity>* end = pair + count; pair != end; ++pair) {
            const BitRow<Capacity>& row = (value >> pair->bit) & 1 ? pair->set : pair->clear;
            std::memcpy(p, row.text, Room);
            p += row.size;
        }
        return p;
    }

    template <std::size_t... R>
    static char* putIn(std::index_sequence<R...>, std::size_t room, char* p, const BitRowPair<Capacity>* pair,
                       std::size_t count, unsigned value)
    {
        char* end = p;
        static_cast<void>(((room == (R + 1) * kStep ? (end = copyRows<(R + 1) * kStep>(p, pair, count, value), true)
                                                    : false) ||
                           ...));
        return end;
    }
};

// The rows written by `write(row, bit, value, meaning)` for each meaning.
template <std::size_t Capacity, class Write>
constexpr BitRows<Capacity> renderBitRows(Write write)
{
    static_assert(Capacity % BitRows<Capacity>::kStep == 0, "a row's capacity is a whole number of steps");
    BitRows<Capacity> r;
    std::size_t at = 0;
    for (std::size_t i = 0; i < kBitTables.count; ++i) {
        r.first[i] = at;
        std::size_t longest = 1;
        for (const BitText& entry : kBitTables.tables[i]) {
            BitRowPair<Capacity>& pair = r.pairs[at++];
            pair.bit = entry.bit;
            if (entry.set) write(pair.set, entry.bit, 1, entry.set.view());
            if (entry.clear) write(pair.clear, entry.bit, 0, entry.clear.view());
            longest = std::max(longest, std::max(pair.set.size, pair.clear.size));
        }
        r.room[i] = (longest + BitRows<Capacity>::kStep - 1) / BitRows<Capacity>::kStep * BitRows<Capacity>::kStep;
    }
    return r;
}

} // namespace vornlog
