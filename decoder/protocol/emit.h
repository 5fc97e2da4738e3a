// What a decoder tells about a message, in message order: each field it
// read (described once in a Field), the bit rows under a field, the errors
// of values without a meaning, and the few lines of report text that are
// none of these. A decoder never writes text itself: it hands what it found
// to a sink, and the sink renders it.
//
// Decoders are written once as templates over their sink (the Sink concept
// of decode.h) and compiled for each sink where it calls decodeMessage:
//   ReportSink  the full-details report's lines, from formats parsed when
//               compiling, exactly as they have always been (output/report.h);
//   JsonSink    the JSON Lines (output/json_sink.h);
//   ValueSink   each field's raw value by its description and the kind of
//               each error text, no text (values.h): the session summary;
//   SegmentSink the parts of a Data message or reply that segments are
//               made of (analysis/segments.h), for the Data decoders
//               alone: the steps CSV, the picture.
//
// The calls, with [number] for a field whose name has one (S%d) and
// [value] for a field that has a value:
//   field<F>(m, [number], [value], meaning...)       head and F's meaning
//   field<F, "form\n">(m, [number], [value], ...)    head and another meaning
//   codeField<F>(m, value [, n])                     head and F.codes' text (with n for its "%d"),
//   codeFieldAt<F>(m, number, value)                 or F.unknown as an error; true when named
//   fieldError<F, "ERROR...\n">(m, [number], value)  head completed by an error
//   valueOnly<F>(m, [number], value)                 a value the error line that follows shows
//   bits(m, table, value)                            the bit rows of the field above
//   error<"     ERROR ... %d\n">(m, ...)             an error line of its own
//   line<"     No paramters\n">(m, ...)              report text that is neither
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/bytes.h"
#include "fields.h"
#include "base/out.h"
#include "texts.h"

namespace vornlog {

// One message as a decoder sees it: its bytes with the read position on
// byte 1 (the instruction code is read), and the sink it reports to.
template <class S>
struct Message {
    Bytes bytes;
    std::uint8_t code;
    S& sink;

    std::uint8_t u8() { return bytes.u8(); }
    std::int32_t value(int width) { return bytes.value(width); }
};

template <class S>
using Decoder = void (*)(Message<S>&);

namespace detail {

// A form or an error text without the report's layout around it: leading
// spaces and tabs, the frame's "=> ", the line end.
consteval std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    if (s.starts_with("=> ")) s.remove_prefix(3);
    if (!s.empty() && s.back() == '\n') s.remove_suffix(1);
    return s;
}

template <fmt::Text F>
inline constexpr fmt::Text<trimmed(F.view()).size() + 1> trimmedForm{trimmed(F.view())};

// The first and the last of a field call's arguments: a numbered field's
// number comes first, its value last.
template <class A, class... R>
constexpr const A& firstArg(const A& a, const R&...)
{
    return a;
}

template <class A, class... R>
constexpr const auto& lastArg(const A& a, const R&... rest)
{
    if constexpr (sizeof...(R) == 0)
        return a;
    else
        return lastArg(rest...);
}

} // namespace detail

// True for printable ASCII without a quote or a backslash: text that JSON
// holds as it is.
consteval bool plainText(std::string_view s)
{
    for (char c : s)
        if (c == '"' || c == '\\' || c < 0x20 || c > 0x7E) return false;
    return true;
}

// True when every text of a field's tables is plain.
consteval bool plainTexts(const Field& field)
{
    for (const CodeText& entry : field.codes)
        if (!plainText(entry.text.meaning())) return false;
    return !field.unknown || plainText(TableText(field.unknown).meaning());
}

// The forms of a field, checked against its description when compiling.
template <const Field& F>
struct FieldForms {
    static constexpr fmt::Text<F.head.size() + 1> head{F.head};
    static constexpr fmt::Text<F.meaning.size() + 1> meaning{F.meaning};
    static_assert(fmt::parsed<head>.count == std::size_t{F.numbered()} + std::size_t{F.hasValue()},
                  "a field's head converts its number, then its value");
    static_assert(F.head.find(F.name) != std::string_view::npos, "a field's head writes its name");
    static_assert(!F.numbered() || F.first <= F.last, "a numbered field gives its numbers");
    static_assert(plainText(F.name), "a field's name is plain ASCII");
    static_assert(plainTexts(F), "a field's texts are plain ASCII");
};

template <const Field& F>
inline constexpr auto meaningOf = FieldForms<F>::meaning;

template <const Field& F, fmt::Text M = meaningOf<F>, class S, class... A>
inline void field(Message<S>& m, const A&... args)
{
    m.sink.template field<F, M>(args...);
}

template <const Field& F, class S>
inline bool codeField(Message<S>& m, unsigned value, int number = 0)
{
    static_assert(!F.numbered());
    const TableText* text = lookup(F.codes, static_cast<int>(value));
    m.sink.template codeField<F>(text, number, value);
    return text != nullptr;
}

template <const Field& F, class S>
inline bool codeFieldAt(Message<S>& m, int index, unsigned value)
{
    static_assert(F.numbered());
    const TableText* text = lookup(F.codes, static_cast<int>(value));
    m.sink.template codeField<F>(text, 0, index, value);
    return text != nullptr;
}

template <const Field& F, fmt::Text E, class S, class... A>
inline void fieldError(Message<S>& m, const A&... args)
{
    m.sink.template fieldError<F, E>(args...);
}

template <const Field& F, class S, class... A>
inline void valueOnly(Message<S>& m, const A&... args)
{
    m.sink.template valueOnly<F>(args...);
}

template <class S>
inline void bits(Message<S>& m, std::span<const BitText> table, unsigned value)
{
    m.sink.bits(table, value);
}

template <fmt::Text E, class S, class... A>
inline void error(Message<S>& m, const A&... args)
{
    m.sink.template error<E>(args...);
}

template <fmt::Text T, class S, class... A>
inline void line(Message<S>& m, const A&... args)
{
    m.sink.template line<T>(args...);
}

} // namespace vornlog
