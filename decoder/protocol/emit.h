// What the interpreter of layouts (decode.h) tells about a message, in
// message order: each field it read (described once in a Field), the bit
// rows under a field, the errors of values without a meaning, and the few
// lines of report text that are none of these. It never writes text
// itself: it hands what it found to a sink, and the sink renders it.
//
// The interpreter is a template over its sink (the Sink concept of
// decode.h), compiled for each sink where it calls decodeMessage:
//   ReportSink  the full-details report's lines, from formats parsed when
//               compiling, exactly as they have always been (output/report.h);
//   JsonSink    the JSON Lines (output/json_sink.h);
//   ValueSink   each field's raw value by its description and the kind of
//               each error text, no text (values.h): the session summary;
//   SegmentSink the parts of a Data message or reply that segments are
//               made of (analysis/segments.h), for the Data layouts
//               alone: the steps CSV, the picture.
//
// The calls, with [number] for a field whose name has one (S%d) and
// [value] for a field that has a value, in the order the report's line
// converts them:
//   field<F>(m, [number], [value], meaning...)       head and F's meaning
//   field<F, "form">(m, [number], [value], ...)      head and another meaning
//   codeField<F>(m, value [, n])                     head and F.codes' text (with n for its "%d"),
//   codeFieldAt<F>(m, number, value)                 or F.unknown as an error; true when named
//   fieldError<F, "ERROR...">(m, [number], value)    head completed by an error
//   valueOnly<F>(m, [number], value)                 a value the error line that follows shows
//   bits(m, table, value)                            the bit rows of the field above
//   error<"ERROR ... %d">(m, ...)                    an error line of its own
//   errorAfter<F, "ERROR ... %d">(m, ...)            an error about F, whose line was just written
//   line<"No paramters">(m, ...)                     report text that is neither
// Here, and only here, those arguments become what a sink gets (the Sink
// concept, decode.h): the field's number and value in a FieldRead, then
// the conversions of the meaning's form. Forms and texts are data, without
// the report's layout (indentation, line ends): each writer lays them out.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "base/bytes.h"
#include "fields.h"
#include "base/out.h"
#include "texts.h"

namespace vornlog {

// One message as a layout's steps see it: its bytes with the read position
// on byte 1 (the instruction code is read), byte 1 itself (what a layout's
// groups test, read when a layout has groups), the value read last, the
// numbers a numbered field gave (kept only for a step that reads them),
// and the sink it reports to.
template <class S>
struct Message {
    static constexpr int kMostNumbers = 10;

    Bytes bytes;
    S& sink;
    std::uint8_t code = 0;
    std::uint8_t command = 0;
    std::int32_t last = 0;
    std::int32_t numbers[kMostNumbers];

    Message(std::string_view field, S& s) : bytes(field), sink(s) { code = bytes.u8(); }

    std::uint8_t u8() { return bytes.u8(); }
    std::int32_t value(int width) { return bytes.value(width); }
};

// True for printable ASCII without a quote or a backslash: text that JSON
// holds as it is.
consteval bool plainText(std::string_view s)
{
    for (char c : s)
        if (c == '"' || c == '\\' || c < 0x20 || c > 0x7E) return false;
    return true;
}

// True for a text without layout: no line end, no indentation.
consteval bool bareText(std::string_view s)
{
    return s.find('\n') == std::string_view::npos && !s.starts_with(' ') && !s.starts_with('\t');
}

// True when every text of a field's tables is plain.
consteval bool plainTexts(const Field& field)
{
    for (const CodeText& entry : field.codes)
        if (!plainText(entry.text.view())) return false;
    return !field.unknown || plainText(TableText(field.unknown).view());
}

// The forms of a field, checked against its description when compiling.
template <const Field& F>
struct FieldForms {
    static constexpr fmt::Text<F.meaning.size() + 1> meaning{F.meaning};
    static_assert(!F.numbered() || F.first <= F.last, "a numbered field gives its numbers");
    static_assert(plainText(F.name), "a field's name is plain ASCII");
    static_assert(plainTexts(F), "a field's texts are plain ASCII");
    static_assert(bareText(F.meaning) && bareText(F.head), "a field's forms have no line end or indentation");
};

template <const Field& F>
inline constexpr auto meaningOf = FieldForms<F>::meaning;

// True when a field's line shows its quantity: the field has one and the
// meaning is its own form, not one the decoder chose instead.
template <const Field& F, fmt::Text M>
inline constexpr bool kShowsQuantity = F.hasQuantity() && M.view() == F.meaning;

// What a decoder read of a field, besides the text of its meaning: the
// same for every sink and every call about a field.
struct FieldRead {
    // The field's number when its name has one (S3: 3), else 0.
    int number = 0;
    // Its value as the message holds it (the report's hexadecimal); 0 for
    // a field without one (a text).
    std::uint32_t value = 0;
    // The number that its meaning shows, when kShowsQuantity ("800 steps":
    // 800); else 0.
    std::int32_t quantity = 0;
};

namespace detail {

// A field's number and value from the arguments that the head of its line
// converts: [number], [value].
template <const Field& F>
constexpr FieldRead readOf()
{
    static_assert(!F.numbered() && !F.hasValue(), "a field's number and value come first");
    return {};
}

template <const Field& F, class A>
constexpr FieldRead readOf(const A& numberOrValue)
{
    static_assert(F.numbered() != F.hasValue(), "a field's number and value come first");
    if constexpr (F.numbered())
        return {.number = static_cast<int>(numberOrValue)};
    else
        return {.value = static_cast<std::uint32_t>(numberOrValue)};
}

template <const Field& F, class N, class V>
constexpr FieldRead readOf(const N& number, const V& value)
{
    static_assert(F.numbered() && F.hasValue(), "a field's number and value come first");
    return {.number = static_cast<int>(number), .value = static_cast<std::uint32_t>(value)};
}

template <const Field& F, fmt::Text M, class S, class... A>
inline void fieldWithMeaning(S& sink, FieldRead read, const A&... meaning)
{
    if constexpr (kShowsQuantity<F, M>) {
        static_assert(static_cast<std::size_t>(F.quantity) < sizeof...(A), "a quantity is one of the meaning's values");
        const auto& shown = std::get<static_cast<std::size_t>(F.quantity)>(std::forward_as_tuple(meaning...));
        static_assert(std::is_integral_v<std::remove_cvref_t<decltype(shown)>>, "a quantity is a whole number");
        read.quantity = static_cast<std::int32_t>(shown);
    }
    sink.template field<F, M>(read, meaning...);
}

template <const Field& F, fmt::Text M, class S, class... A>
inline void fieldAfter0(S& sink, const A&... meaning)
{
    fieldWithMeaning<F, M>(sink, readOf<F>(), meaning...);
}

template <const Field& F, fmt::Text M, class S, class H, class... A>
inline void fieldAfter1(S& sink, const H& head, const A&... meaning)
{
    fieldWithMeaning<F, M>(sink, readOf<F>(head), meaning...);
}

template <const Field& F, fmt::Text M, class S, class N, class V, class... A>
inline void fieldAfter2(S& sink, const N& number, const V& value, const A&... meaning)
{
    fieldWithMeaning<F, M>(sink, readOf<F>(number, value), meaning...);
}

} // namespace detail

template <const Field& F, fmt::Text M = meaningOf<F>, class S, class... A>
inline void field(Message<S>& m, const A&... args)
{
    static_assert(bareText(M.view()), "a meaning has no line end or indentation");
    if constexpr (F.numbered() && F.hasValue())
        detail::fieldAfter2<F, M>(m.sink, args...);
    else if constexpr (F.numbered() || F.hasValue())
        detail::fieldAfter1<F, M>(m.sink, args...);
    else
        detail::fieldAfter0<F, M>(m.sink, args...);
}

template <const Field& F, class S>
inline bool codeField(Message<S>& m, unsigned value, int number = 0)
{
    static_assert(!F.numbered());
    const TableText* text = lookup(F.codes, static_cast<int>(value));
    m.sink.template codeField<F>(FieldRead{.value = value}, text, number);
    return text != nullptr;
}

template <const Field& F, class S>
inline bool codeFieldAt(Message<S>& m, int index, unsigned value)
{
    static_assert(F.numbered());
    const TableText* text = lookup(F.codes, static_cast<int>(value));
    m.sink.template codeField<F>(FieldRead{.number = index, .value = value}, text, 0);
    return text != nullptr;
}

template <const Field& F, fmt::Text E, class S, class... A>
inline void fieldError(Message<S>& m, const A&... numberAndValue)
{
    static_assert(fmt::parsed<E>.count == 0, "a field's error has no values of its own");
    static_assert(bareText(E.view()), "an error text has no line end or indentation");
    m.sink.template fieldError<F, E>(detail::readOf<F>(numberAndValue...));
}

template <const Field& F, class S, class... A>
inline void valueOnly(Message<S>& m, const A&... numberAndValue)
{
    m.sink.template valueOnly<F>(detail::readOf<F>(numberAndValue...));
}

template <class S>
inline void bits(Message<S>& m, std::span<const BitText> table, unsigned value)
{
    m.sink.bits(table, value);
}

template <fmt::Text E, class S, class... A>
inline void error(Message<S>& m, const A&... args)
{
    static_assert(bareText(E.view()), "an error text has no line end or indentation");
    m.sink.template error<E>(args...);
}

// A sink that places an error by the field it follows takes errorAfter;
// any other sink takes it as error.
template <const Field& F, fmt::Text E, class S, class... A>
inline void errorAfter(Message<S>& m, const A&... args)
{
    static_assert(bareText(E.view()), "an error text has no line end or indentation");
    if constexpr (requires { m.sink.template errorAfter<F, E>(args...); })
        m.sink.template errorAfter<F, E>(args...);
    else
        m.sink.template error<E>(args...);
}

template <fmt::Text T, class S, class... A>
inline void line(Message<S>& m, const A&... args)
{
    static_assert(bareText(T.view()), "a text has no line end or indentation");
    m.sink.template line<T>(args...);
}

} // namespace vornlog
