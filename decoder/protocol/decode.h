// Decoding one message into a sink: the instruction, then what its layout
// reads. The interpreter of layouts is a template over its sink; each
// sink's own file compiles it for that sink by calling decodeMessage, so
// that a new sink needs no change here:
//
//   ReportSink sink(dest);
//   decodeMessage(direction, field, sink);
//
// A layout's steps are known when compiling: each runs as the code that a
// decoder written by hand for it would be, with the field's forms and
// tables fixed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "base/bytes.h"
#include "emit.h"
#include "instructions.h"
#include "layout.h"

namespace vornlog {

namespace detail {

// A field as a sink's calls are checked with: a number and a value.
inline constexpr Field kSinkProbe{.name = "P%d", .head = "P%d=%d"};

} // namespace detail

// What a sink is: where a decoder hands what it finds, in message order.
// Every call a decoder makes, and the arguments it gets (emit.h makes them
// from the decoders' calls; a sink never unpacks anything):
//   instruction(code, instruction)        first, for every message: the
//                                         instruction, or null for a code
//                                         without a decoder
//   field<F, M>(read, meaning...)         a field's line: F's head, then the
//                                         meaning M; `read` has the field's
//                                         number, value and the quantity M
//                                         shows (FieldRead), `meaning` the
//                                         conversions of M in order
//   codeField<F>(read, text, n)           a field whose meaning F.codes
//                                         gives: `text` (null: the value is
//                                         unknown, F.unknown completes the
//                                         line), `n` for the text's "%d"
//   fieldError<F, E>(read)                a field's line completed by the
//                                         error E, a text without values
//   valueOnly<F>(read)                    a value the error line that
//                                         follows shows
//   bits(table, value)                    the bit rows of the field above
//   error<E>(args...)                     an error line of its own, `args`
//                                         the conversions of E in order
//   errorAfter<F, E>(args...)             (a sink may leave it out, and then
//                                         gets error<E>) an error about the
//                                         field F whose line came just before
//   line<T>(args...)                      report text that is none of these,
//                                         `args` the conversions of T
// Forms are fixed when compiling. A field's head converts its number (when
// F is numbered), then its value (when it has one): a sink that writes the
// report's line takes them from `read`.
template <class S>
concept Sink = requires(S& s, std::uint8_t code, const Instruction* instruction, const TableText* text,
                        std::span<const BitText> table, FieldRead read, unsigned value, int n) {
    s.instruction(code, instruction);
    s.template field<detail::kSinkProbe, "%d">(read, n);
    s.template codeField<detail::kSinkProbe>(read, text, n);
    s.template fieldError<detail::kSinkProbe, "ERROR">(read);
    s.template valueOnly<detail::kSinkProbe>(read);
    s.bits(table, value);
    s.template error<"ERROR %d">(n);
    s.template line<"text">();
};

namespace detail {

// A form known when compiling, from a step's text.
template <std::size_t N>
consteval fmt::Text<N + 1> formOf(std::string_view text)
{
    return fmt::Text<N + 1>(text);
}

template <const Field& F, class S>
inline std::int32_t readValue(Message<S>& m)
{
    if constexpr (F.width == 1)
        return m.u8();
    else
        return m.value(F.width);
}

// Conversion K of F's meaning for value v: the value itself, or the scale
// the field gives for it.
template <const Field& F, std::size_t K>
inline std::int32_t shown(std::int32_t v)
{
    if constexpr (F.shows.empty()) {
        return v;
    } else {
        constexpr Scale scale = F.shows[K];
        if constexpr (scale.times == 1 && scale.per == 1)
            return v;
        else if constexpr (scale.times == 1 || F.width < 4)
            return v * scale.times / scale.per; // no overflow: a byte or a division alone
        else
            return scale.of(v);
    }
}

template <const Field& F, class S, std::size_t... K, class... Head>
inline void meaningLine(Message<S>& m, std::index_sequence<K...>, [[maybe_unused]] std::int32_t v, const Head&... head)
{
    static_assert(F.shows.empty() || F.shows.size() == sizeof...(K), "a field's scales are its meaning's conversions");
    field<F>(m, head..., shown<F, K>(v)...);
}

// F's line with its meaning (of number n when F is numbered).
template <const Field& F, class S>
inline void meaning(Message<S>& m, std::int32_t v, int n = 0)
{
    constexpr std::size_t conversions = fmt::parsed<meaningOf<F>>.count;
    if constexpr (F.numbered())
        meaningLine<F>(m, std::make_index_sequence<conversions>(), v, n, v);
    else
        meaningLine<F>(m, std::make_index_sequence<conversions>(), v, v);
}

// Error E with the value for each of its conversions.
template <fmt::Text E, class S, std::size_t... K>
inline void errorOf(Message<S>& m, std::int32_t v, std::index_sequence<K...>)
{
    error<E>(m, (static_cast<void>(K), v)...);
}

// Whether the value that step I reads is kept for the step after it (a
// text whose length it is).
template <const Layout& L, std::size_t I>
consteval bool keepsLast()
{
    return I + 1 < L.steps.size() && L.steps[I + 1].lengthField != nullptr;
}

// Whether the numbers of the Repeat at I are kept for a Speeds hook after it.
template <const Layout& L, std::size_t I>
consteval bool keepsNumbers()
{
    for (std::size_t i = I + 1; i < L.steps.size(); ++i)
        if (L.steps[i].kind == StepKind::Hook && L.steps[i].hook == Hook::Speeds) return true;
    return false;
}

template <const Layout& L, std::size_t I, std::size_t E, class S>
inline bool runSteps(Message<S>& m);

// ---- The hooks -----------------------------------------------------------------

// OUT1 to OUT10: the axis of bits 0 to 2 as the meaning, on the line below.
template <const Field& F, class S>
inline void outputs(Message<S>& m)
{
    using namespace table;
    for (int n = F.first; n <= F.last; ++n) {
        const std::uint8_t signal = m.u8();
        const unsigned axis = signal & kOutAxisMask;
        if (axis == 0) {
            field<F, kOutputAxisNotUsed>(m, n, signal);
        } else if (axis > kLastAxis) {
            field<F>(m, n, signal);
            errorAfter<F, kOutputAxisInvalid>(m, axis);
        } else {
            field<F, kOutputAxis>(m, n, signal, axis);
            bits(m, kOutSignalBits, signal);
        }
    }
}

// A speed in steps/s and in mm/s by the axis's steps for 1 mm; an axis
// with 0 steps for 1 mm shows none (its bytes are read).
template <const Field& F, class S>
inline void speeds(Message<S>& m)
{
    static_assert(F.last - F.first < Message<S>::kMostNumbers);
    for (int n = F.first; n <= F.last; ++n) {
        const std::int32_t speed = m.value(F.width);
        const std::int32_t perMm = m.numbers[n - F.first];
        if (perMm == 0) continue;
        field<F>(m, n, speed, speed, static_cast<double>(speed) / perMm);
    }
}

// ---- One step ------------------------------------------------------------------

// Runs step I of L; false when nothing more is read.
template <const Layout& L, std::size_t I, class S>
inline bool runStep(Message<S>& m)
{
    constexpr const Step& s = L.steps[I];
    if constexpr (s.kind == StepKind::Read) {
        constexpr const Field& F = *s.field;
        static_assert(!F.numbered() && F.hasValue());
        std::int32_t v = readValue<F>(m);
        if constexpr ((s.options & kNonzeroAsFF) != 0) v = v == 0 ? 0x00 : 0xFF;
        if constexpr (keepsLast<L, I>()) m.last = v;
        if constexpr (!F.codes.empty()) {
            const TableText* text = lookup(F.codes, v);
            const FieldRead read{.value = static_cast<std::uint32_t>(v)};
            if constexpr ((s.options & kNumberAfter) != 0) {
                if (!text) {
                    m.sink.template codeField<F>(read, text, 0);
                    return false;
                }
                m.sink.template codeField<F>(read, text, m.bytes.at(m.bytes.position()));
            } else {
                m.sink.template codeField<F>(read, text, 0);
            }
        } else {
            meaning<F>(m, v);
        }
        if constexpr (s.ownBits && !F.bits.empty())
            bits(m, F.bits, static_cast<unsigned>(v));
        else if constexpr (!s.ownBits && !s.bits.empty())
            bits(m, s.bits, static_cast<unsigned>(v));
        return true;
    } else if constexpr (s.kind == StepKind::Repeat) {
        constexpr const Field& F = *s.field;
        static_assert(F.numbered() && F.bits.empty());
        for (int n = F.first; n <= F.last; ++n) {
            const std::int32_t v = readValue<F>(m);
            if constexpr (keepsNumbers<L, I>()) {
                static_assert(F.last - F.first < Message<S>::kMostNumbers);
                m.numbers[n - F.first] = v;
            }
            if constexpr (!F.codes.empty())
                codeFieldAt<F>(m, n, static_cast<unsigned>(v));
            else
                meaning<F>(m, v, n);
        }
        return true;
    } else if constexpr (s.kind == StepKind::Text) {
        constexpr const Field& F = *s.field;
        static_assert(F.kind == FieldKind::Text);
        if constexpr (s.lengthField != nullptr) {
            static_assert(I > 0 && L.steps[I - 1].field == s.lengthField, "a text's length is the field just before");
            static_assert(s.lengthField->width == 1);
            char chars[256];
            const int count = m.last;
            for (int i = 0; i < count; ++i) chars[i] = static_cast<char>(m.u8());
            field<F>(m, std::string_view(chars, static_cast<std::size_t>(count)));
        } else {
            static_assert(F.width > 0);
            char chars[F.width];
            chars[0] = static_cast<char>(m.u8());
            if constexpr (!s.text.empty()) {
                if (chars[0] == 0) {
                    field<F, formOf<s.text.size()>(s.text)>(m);
                    m.bytes.seek(m.bytes.position() + F.width - 1);
                    return true;
                }
            }
            for (int i = 1; i < F.width; ++i) chars[i] = static_cast<char>(m.u8());
            field<F>(m, std::string_view(chars, F.width));
        }
        return true;
    } else if constexpr (s.kind == StepKind::When) {
        bool holds;
        if constexpr (s.test == Test::Bit)
            holds = (m.command >> s.low) & 1;
        else if constexpr (s.test == Test::Range)
            holds = m.command >= s.low && m.command <= s.high;
        else
            holds = lookup(s.field->codes, m.command) != nullptr;
        return !holds || runSteps<L, I + 1, I + 1 + s.length>(m);
    } else if constexpr (s.kind == StepKind::Check) {
        constexpr const Field& F = *s.field;
        const std::int32_t v = readValue<F>(m);
        if constexpr (keepsLast<L, I>()) m.last = v;
        if (v >= s.low && v <= s.high) {
            meaning<F>(m, v);
            return true;
        }
        if constexpr (s.invalid == Invalid::Codes) {
            codeField<F>(m, static_cast<unsigned>(v));
            return true;
        } else {
            constexpr auto E = formOf<s.text.size()>(s.text);
            if constexpr (s.invalid == Invalid::InLine) {
                fieldError<F, E>(m, v);
                return true;
            } else {
                valueOnly<F>(m, v);
                errorOf<E>(m, v, std::make_index_sequence<fmt::parsed<E>.count>());
                return s.invalid != Invalid::Ends;
            }
        }
    } else if constexpr (s.kind == StepKind::Line) {
        line<formOf<s.text.size()>(s.text)>(m);
        return true;
    } else if constexpr (s.kind == StepKind::Skip) {
        m.bytes.seek(m.bytes.position() + s.length);
        return true;
    } else if constexpr (s.kind == StepKind::Part) {
        return runSteps<*s.part, 0, s.part->steps.size()>(m);
    } else if constexpr (s.kind == StepKind::Stop) {
        return false;
    } else {
        static_assert(s.kind == StepKind::Hook);
        if constexpr (s.hook == Hook::Outputs)
            outputs<*s.field>(m);
        else
            speeds<*s.field>(m);
        return true;
    }
}

// Runs steps I to E - 1 of L, a group as one step; false when nothing more
// is read.
template <const Layout& L, std::size_t I, std::size_t E, class S>
inline bool runSteps(Message<S>& m)
{
    if constexpr (I >= E) {
        return true;
    } else {
        constexpr const Step& s = L.steps[I];
        constexpr std::size_t next = I + 1 + (s.kind == StepKind::When ? s.length : 0);
        if (!runStep<L, I>(m)) return false;
        return runSteps<L, next, E>(m);
    }
}

} // namespace detail

// Reads a message (its code read) by layout L, reporting to its sink.
template <const Layout& L, class S>
inline void runLayout(Message<S>& m)
{
    if constexpr (L.testsByteOne) m.command = m.bytes.at(1);
    detail::runSteps<L, 0, L.steps.size()>(m);
}

// The same with the steps, and what they call, inlined into it, as into a
// decoder written by hand for the layout: a part, a group or a field's
// line is no call. The one a message's code leads to, unless its sink
// says kCallsOutOfLine (a test's sink that records into strings, which
// would only make the function large).
template <const Layout& L, class S>
[[gnu::flatten]] void runLayoutInlined(Message<S>& m)
{
    runLayout<L>(m);
}

namespace detail {

template <class S>
using Decoder = void (*)(Message<S>&);

// What reads a message of each code in each direction (null: the unknown
// instruction), and its instruction, by code.
template <class S>
struct Decoders {
    Decoder<S> pc = nullptr;
    Decoder<S> controller = nullptr;
    const Instruction* instruction = nullptr;
};

template <class S, const Layout* L>
constexpr Decoder<S> decoderOf()
{
    if constexpr (L == nullptr)
        return nullptr;
    else if constexpr (requires { S::kCallsOutOfLine; })
        return &runLayout<*L, S>;
    else
        return &runLayoutInlined<*L, S>;
}

template <class S>
inline constexpr auto kDecoders = []<std::size_t... I>(std::index_sequence<I...>) {
    std::array<Decoders<S>, 256> byCode{};
    ((byCode[kInstructions[I].code] = {decoderOf<S, kInstructions[I].pc>(),
                                       decoderOf<S, kInstructions[I].controller>(), &kInstructions[I]}),
     ...);
    return byCode;
}(std::make_index_sequence<std::size(kInstructions)>());

} // namespace detail

template <Sink S>
void decodeMessage(Direction direction, std::string_view field, S& sink)
{
    Message<S> message(field, sink);
    const detail::Decoders<S>& decoders = detail::kDecoders<S>[message.code];
    const detail::Decoder<S> decode = direction == Direction::Pc ? decoders.pc : decoders.controller;
    sink.instruction(message.code, decode ? decoders.instruction : nullptr);
    if (decode) decode(message);
}

} // namespace vornlog
