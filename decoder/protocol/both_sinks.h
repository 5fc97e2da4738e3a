// One decoding for two consumers: a sink that hands each call the decoders
// make to a first sink (a writer's: the report, the JSON Lines, the
// segments) and then to a second one (the values that the findings read),
// so that a message decoded for its writer needs no second decoding for
// its findings:
//
//   BothSinks both(report, values);
//   decodeMessage(direction, field, both);
//
// The calls reach the two sinks in message order, each call the first
// sink's before the second's; both sinks are compiled in, so a call costs
// what the two direct calls do.
#pragma once

#include <cstdint>
#include <span>

#include "emit.h"
#include "instructions.h"

namespace vornlog {

template <class A, class B>
class BothSinks {
public:
    BothSinks(A& first, B& second) : first_(first), second_(second) {}

    void instruction(std::uint8_t code, const Instruction* instruction)
    {
        first_.instruction(code, instruction);
        second_.instruction(code, instruction);
    }

    template <const Field& F, fmt::Text M, class... Args>
    void field(FieldRead read, const Args&... meaning)
    {
        first_.template field<F, M>(read, meaning...);
        second_.template field<F, M>(read, meaning...);
    }

    template <const Field& F>
    void codeField(FieldRead read, const TableText* text, int number)
    {
        first_.template codeField<F>(read, text, number);
        second_.template codeField<F>(read, text, number);
    }

    template <const Field& F, fmt::Text E>
    void fieldError(FieldRead read)
    {
        first_.template fieldError<F, E>(read);
        second_.template fieldError<F, E>(read);
    }

    template <const Field& F>
    void valueOnly(FieldRead read)
    {
        first_.template valueOnly<F>(read);
        second_.template valueOnly<F>(read);
    }

    void bits(std::span<const BitText> table, unsigned value)
    {
        first_.bits(table, value);
        second_.bits(table, value);
    }

    template <fmt::Text E, class... Args>
    void error(const Args&... args)
    {
        first_.template error<E>(args...);
        second_.template error<E>(args...);
    }

    template <fmt::Text T, class... Args>
    void line(const Args&... args)
    {
        first_.template line<T>(args...);
        second_.template line<T>(args...);
    }

private:
    A& first_;
    B& second_;
};

} // namespace vornlog
