// The decoder table: which decoder reads a message, by instruction code and
// direction, for each sink. Every code and direction without a decoder gets
// the unknown instruction.
#include "instructions.h"

#include <array>

#include "protocol/control/control.h"
#include "protocol/motion/motion.h"
#include "protocol/table/table.h"
#include "protocol/table/table_parts.h"
#include "sinks.h"

namespace vornlog {

namespace {

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

constexpr auto kByCode = [] {
    std::array<const Instruction*, 256> byCode{};
    for (const Instruction& instruction : kInstructions) byCode[instruction.code] = &instruction;
    return byCode;
}();

template <class S>
constexpr auto kDecoders = [] {
    std::array<Decoders<S>, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = decodersOf<S>(static_cast<std::uint8_t>(code));
    return table;
}();

// The instructions and the decoders name the same codes and directions.
template <class S>
constexpr bool agree()
{
    for (int code = 0; code < 256; ++code) {
        const Instruction* instruction = kByCode[code];
        const Decoders<S>& d = kDecoders<S>[code];
        if ((d.pc != nullptr) != (instruction && instruction->decoded(Direction::Pc))) return false;
        if ((d.controller != nullptr) != (instruction && instruction->decoded(Direction::Controller))) return false;
    }
    return true;
}
static_assert(agree<ReportSink>() && agree<EventSink>() && agree<JsonSink>() && agree<ValueSink>(),
              "every instruction has its decoders, and only they");

} // namespace

const Instruction* findInstruction(std::uint8_t code) { return kByCode[code]; }

std::string_view instructionName(std::uint8_t code)
{
    const Instruction* instruction = kByCode[code];
    return instruction ? instruction->name : std::string_view();
}

template <class S>
void decodeMessage(Direction direction, std::string_view field, S& sink)
{
    Message<S> message{Bytes(field), 0, sink};
    message.code = message.u8();
    const Decoders<S>& decoders = kDecoders<S>[message.code];
    const Decoder<S> decode = direction == Direction::Pc ? decoders.pc : decoders.controller;
    sink.instruction(message.code, decode ? kByCode[message.code] : nullptr);
    if (decode) decode(message);
}

template void decodeMessage(Direction, std::string_view, ReportSink&);
template void decodeMessage(Direction, std::string_view, EventSink&);
template void decodeMessage(Direction, std::string_view, JsonSink&);
template void decodeMessage(Direction, std::string_view, ValueSink&);

} // namespace vornlog
