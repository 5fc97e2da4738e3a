#include "page.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/out.h"
#include "protocol/instructions.h"

namespace vornlog::summary {

std::string number(std::int64_t v)
{
    char text[24];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

std::string zeros(std::int64_t v, int digits)
{
    std::string s = number(v);
    if (static_cast<int>(s.size()) < digits) s.insert(0, static_cast<std::size_t>(digits) - s.size(), '0');
    return s;
}

std::string oneDecimal(double v)
{
    char text[fmt::kMaxConv];
    return std::string(text, fmt::fixed1(text, v));
}

std::string milliseconds(std::int64_t ns)
{
    const std::int64_t us = std::max<std::int64_t>(ns, 0) / 1000;
    return number(us / 1000) + "." + zeros(us % 1000, 3);
}

std::string seconds(std::int64_t ns)
{
    const std::int64_t ms = std::max<std::int64_t>(ns, 0) / 1'000'000;
    return number(ms / 1000) + "." + zeros(ms % 1000, 3);
}

void Row::append(const char* p, std::size_t n, bool spaces)
{
    if (!long_ && n <= kInPlace - size_) {
        if (spaces)
            std::memset(place_ + size_, ' ', n);
        else if (n != 0)
            std::memcpy(place_ + size_, p, n);
        size_ += n;
        return;
    }
    if (!long_) {
        more_.assign(place_, size_);
        long_ = true;
    }
    if (spaces)
        more_.append(n, ' ');
    else
        more_.append(p, n);
}

Row& Row::left(std::string_view text, std::size_t width)
{
    append(text.data(), text.size(), false);
    if (text.size() < width) append(nullptr, width - text.size(), true);
    return *this;
}

Row& Row::right(std::string_view text, std::size_t width)
{
    const std::string_view line = view();
    if (text.size() < width) append(nullptr, width - text.size(), true);
    // A number too wide for its column never runs into the cell before it.
    else if (!line.empty() && line.back() != ' ') append(" ", 1, false);
    append(text.data(), text.size(), false);
    return *this;
}

void Row::put(Out& out)
{
    std::string_view line = view();
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    out.write(line);
    out.write("\n", 1);
    size_ = 0;
    long_ = false;
    more_.clear();
}

void heading(Out& out, std::string_view title)
{
    Row().text("\n").text(title).put(out);
    Row().text(std::string(title.size(), '-')).put(out);
}

void countLine(Out& out, std::string_view label, std::int64_t v, std::string_view note)
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

std::string_view nameCell(std::uint8_t code)
{
    const std::string_view name = instructionName(code);
    return name.empty() ? std::string_view("(unknown instruction)") : name;
}

std::string places(const Occurrences& o, bool textDump)
{
    std::string s = textDump ? (o.count > 1 ? "lines " : "line ") : (o.count > 1 ? "packets " : "packet ");
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(o.count, Occurrences::kFirstFew); ++i) {
        if (i) s += ", ";
        s += number(static_cast<std::int64_t>(o.first[i]));
    }
    if (o.count > Occurrences::kFirstFew) s += ", ...";
    return s;
}

} // namespace vornlog::summary
