// Decoding one message into a sink: the instruction, then what its decoder
// finds. The decoders are templates over their sink; each sink's own file
// compiles them for it by calling decodeMessage, so that a new sink needs no
// change here:
//
//   ReportSink sink(dest);
//   decodeMessage(direction, field, sink);
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/bytes.h"
#include "emit.h"
#include "instructions.h"
#include "protocol/control/devices.h"
#include "protocol/control/lcd.h"
#include "protocol/control/system.h"
#include "protocol/motion/buffer_stop.h"
#include "protocol/motion/data.h"
#include "protocol/table/parts_decoders.h"
#include "protocol/table/table_decoders.h"

namespace vornlog {

namespace detail {

// A field as a sink's calls are checked with: a number and a value.
inline constexpr Field kSinkProbe{.name = "P%d", .head = "P%d=%d"};
inline constexpr CodeText kSinkProbeCode{0, TableText("")};

// The instructions by code (null: a code without one).
inline constexpr auto kInstructionByCode = [] {
    std::array<const Instruction*, 256> byCode{};
    for (const Instruction& instruction : kInstructions) byCode[instruction.code] = &instruction;
    return byCode;
}();

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
//   line<T>(args...)                      report text that is none of these,
//                                         `args` the conversions of T
// Forms are fixed when compiling. A field's head converts its number (when
// F is numbered), then its value (when it has one): a sink that writes the
// report's line takes them from `read`.
template <class S>
concept Sink = requires(S& s, std::uint8_t code, const Instruction* instruction, const TableText* text,
                        std::span<const BitText> table, FieldRead read, unsigned value, int n) {
    s.instruction(code, instruction);
    s.template field<detail::kSinkProbe, "%d\n">(read, n);
    s.template codeField<detail::kSinkProbe>(read, text, n);
    s.template fieldError<detail::kSinkProbe, " ERROR\n">(read);
    s.template valueOnly<detail::kSinkProbe>(read);
    s.bits(table, value);
    s.template error<"ERROR %d\n">(n);
    s.template line<"text\n">();
};

namespace detail {

template <class S>
struct Decoders {
    Decoder<S> pc = nullptr;
    Decoder<S> controller = nullptr;
};

template <class S>
constexpr Decoders<S> decodersOf(std::uint8_t code)
{
    using namespace control;
    using namespace motion;
    switch (code) {
    case 0x42: return {pcBufferManagement<S>, controllerBufferManagement<S>};
    case 0x44: return {pcData<S>, controllerStatus<S>};
    case 0x46: return {pcNoParameters<S>, controllerFlashModel<S>};
    case 0x47: return {pcIo1<S>, controllerIo1<S>};
    case 0x49: return {pcNoParameters<S>, controllerStatus<S>};
    case 0x4C: return {pcLcd<S>, controllerLcd<S>};
    case 0x4D: return {pcMotors<S>, controllerMotors<S>};
    case 0x4F: return {pcOverride<S>, controllerOverride<S>};
    case 0x50: return {pcPwm<S>, controllerPwm<S>};
    case 0x53: return {pcStop<S>, controllerStop<S>};
    case 0x54: return {table::pcTable<S>, table::controllerTable<S>};
    case 0x56: return {pcNoParameters<S>, controllerVersion<S>};
    case 0x5A: return {pcReset<S>, nullptr}; // the controller sends no Reset
    default: return {};
    }
}

// The decoder table: which decoder reads a message, by instruction code and
// direction. Every code and direction without a decoder gets the unknown
// instruction.
template <class S>
inline constexpr auto kDecoders = [] {
    std::array<Decoders<S>, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = decodersOf<S>(static_cast<std::uint8_t>(code));
    return table;
}();

// The instructions and the decoders name the same codes and directions.
template <class S>
constexpr bool decodersAgree()
{
    for (int code = 0; code < 256; ++code) {
        const Instruction* instruction = kInstructionByCode[code];
        const Decoders<S>& d = kDecoders<S>[code];
        if ((d.pc != nullptr) != (instruction && instruction->decoded(Direction::Pc))) return false;
        if ((d.controller != nullptr) != (instruction && instruction->decoded(Direction::Controller))) return false;
    }
    return true;
}

} // namespace detail

template <Sink S>
void decodeMessage(Direction direction, std::string_view field, S& sink)
{
    static_assert(detail::decodersAgree<S>(), "every instruction has its decoders, and only they");
    Message<S> message{Bytes(field), 0, sink};
    message.code = message.u8();
    const detail::Decoders<S>& decoders = detail::kDecoders<S>[message.code];
    const Decoder<S> decode = direction == Direction::Pc ? decoders.pc : decoders.controller;
    sink.instruction(message.code, decode ? detail::kInstructionByCode[message.code] : nullptr);
    if (decode) decode(message);
}

} // namespace vornlog
