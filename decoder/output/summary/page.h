// The session summary's page: numbers and durations as it writes them, its
// lines of padded cells, headings, counts and the places where something
// happened. Every part of the summary lays its section out with these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/out.h"

namespace vornlog::summary {

std::string number(std::int64_t v);
// v with `digits` digits, zeros in front.
std::string zeros(std::int64_t v, int digits);
std::string oneDecimal(double v);
// A duration in milliseconds with three decimals (microseconds).
std::string milliseconds(std::int64_t ns);
// A duration in seconds with three decimals.
std::string seconds(std::int64_t ns);

// One line of the page, built from cells padded to their columns; the
// spaces at its end are left out. A usual line is built in place, without
// an allocation; a longer one goes on in a string.
class Row {
public:
    Row& left(std::string_view text, std::size_t width);
    Row& right(std::string_view text, std::size_t width);
    Row& right(std::int64_t v, std::size_t width) { return right(number(v), width); }
    Row& text(std::string_view text)
    {
        append(text.data(), text.size(), false);
        return *this;
    }
    void put(Out& out);

private:
    // n bytes of p, or n spaces when `spaces`.
    void append(const char* p, std::size_t n, bool spaces);
    std::string_view view() const { return long_ ? std::string_view(more_) : std::string_view(place_, size_); }

    static constexpr std::size_t kInPlace = 192;
    char place_[kInPlace];
    std::size_t size_ = 0;
    bool long_ = false; // the line so far is in more_
    std::string more_;
};

// A section's title, underlined, after an empty line.
void heading(Out& out, std::string_view title);

// "  Label ....... value": a label and its number, right-aligned.
inline constexpr std::size_t kLabel = 40;
inline constexpr std::size_t kItem = 8;
inline constexpr std::size_t kValue = 10;

void countLine(Out& out, std::string_view label, std::int64_t v, std::string_view note = {});
void textLine(Out& out, std::string_view label, std::string_view value);

// The columns of a table by instruction: "0x44 D" (the code and its
// letter), and the instruction's name.
inline constexpr std::size_t kCodeColumn = 8;
inline constexpr std::size_t kNameColumn = 26;
std::string codeCell(std::uint8_t code);
std::string_view nameCell(std::uint8_t code);

// How often something happened, and where the first few times.
struct Occurrences {
    static constexpr int kFirstFew = 3;
    std::uint64_t count = 0;
    std::uint64_t first[kFirstFew]{};

    void add(std::uint64_t where)
    {
        if (count < kFirstFew) first[count] = where;
        ++count;
    }
};

// "lines 4, 9, 12, ...": the first few places, as lines of a text dump or
// packets of a capture file.
std::string places(const Occurrences& o, bool textDump);

} // namespace vornlog::summary
