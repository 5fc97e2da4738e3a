// The raw values of one message's fields, kept by their descriptions, and
// the kinds of the error texts its decoding gave: what the steps CSV, the
// picture and the session summary read of a message. It comes from the same
// decoders that the report and the JSON Lines render, and makes no text.
//
//   ValueSink values;
//   decodeMessage(direction, field, values);
//   if (values.has<motion::kDataNbr>()) pulses += values.signedValue<motion::kDataNbr>();
//   values.value<motion::kDataSteps>(3)          S3, as the message holds it
//
// Every field of the protocol has its place in a fixed table, found when
// compiling from the instruction table (a numbered field has one for each
// number): keeping a value is two stores, reading it one comparison.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "emit.h"
#include "errors.h"
#include "instructions.h"

namespace vornlog {

// An error text that the report writes, known by its form: the text, or
// the line's format with its values as conversions. One object for each
// form, so that a count can tell kinds apart by it.
struct ErrorKind {
    std::string_view form;
    // The form as a census lists it: tabs as spaces and each value as "?"
    // ("ERROR invalid value POS=0x?=?").
    std::string_view census;
    // Its stable name ("unknown_status", errors.h).
    std::string_view name;
    // The field whose line the text completes ("     SLOPE=0x10\t-> " and
    // then the text), or null for a text of its own line: a census shows
    // the field's head before the text, which then keeps its start.
    const Field* field = nullptr;
};

namespace detail {

template <std::size_t N>
struct CensusText {
    char text[N]{};
    std::size_t size = 0;
};

} // namespace detail

// Writes `form` as a census lists it into `to` (room for form.size()
// characters) and gives its size.
constexpr std::size_t censusOf(std::string_view form, char* to)
{
    std::size_t size = 0;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const char ch = form[i];
        if (ch == '\t') {
            to[size++] = ' ';
        } else if (ch == '%' && i + 1 < form.size()) {
            if (form[i + 1] == '%') {
                to[size++] = '%';
                ++i;
                continue;
            }
            while (i + 1 < form.size() && ((form[i + 1] >= '0' && form[i + 1] <= '9') || form[i + 1] == '.')) ++i;
            ++i; // the conversion letter
            to[size++] = '?';
        } else {
            to[size++] = ch;
        }
    }
    return size;
}

namespace detail {

template <fmt::Text T>
consteval auto censusOf()
{
    CensusText<T.size + 1> c;
    c.size = vornlog::censusOf(T.view(), c.text);
    return c;
}

// The kind of error text T; F, when given, is the field whose line T
// completes.
template <fmt::Text T, const Field* F = nullptr>
struct ErrorKindOf {
    static constexpr auto census = censusOf<T>();
    static constexpr ErrorKind kind{T.view(), std::string_view(census.text, census.size), kKindOf<T>, F};
};

// The error text of a field's value that its table does not name.
template <const Field& F>
inline constexpr fmt::Text<TableText(F.unknown).size + 1> unknownText{TableText(F.unknown).view()};

// Every field of the protocol once, in the order of the instruction table,
// with the first of its places (a numbered field has one for each number).
struct FieldPlaces {
    static constexpr std::size_t kMost = 256;
    std::array<const Field*, kMost> fields{};
    std::array<int, kMost> first{};
    std::size_t count = 0;
    int places = 0;

    constexpr int find(const Field* field) const
    {
        for (std::size_t i = 0; i < count; ++i)
            if (fields[i] == field) return first[i];
        return -1;
    }
};

inline constexpr FieldPlaces kFieldPlaces = [] {
    FieldPlaces t;
    for (const Instruction& instruction : kInstructions)
        for (FieldList list : {instruction.fields(Direction::Pc), instruction.fields(Direction::Controller)})
            for (const Field* field : list) {
                if (t.find(field) >= 0) continue;
                if (t.count == FieldPlaces::kMost) throw "more fields than places";
                t.fields[t.count] = field;
                t.first[t.count++] = t.places;
                t.places += field->numbered() ? field->last - field->first + 1 : 1;
            }
    return t;
}();

template <const Field& F>
inline constexpr int kPlace = kFieldPlaces.find(&F);

} // namespace detail

// The values of one message: its instruction, the raw value of each field
// it held that has one (text keeps nothing), and the kind of every error
// text, in order. ValueSink fills it; what a consumer reads is here.
class FieldValues {
public:
    std::uint8_t code() const { return code_; }
    // Null for a code (or direction) that no decoder reads.
    const Instruction* instruction() const { return instruction_; }

    // Whether the message held field F (number `number` of a numbered one).
    template <const Field& F>
    bool has(int number = F.first) const
    {
        const int at = place<F>(number);
        return at >= 0 && seen_[static_cast<std::size_t>(at)] == message_;
    }
    // Its value as the message holds it; 0 when it did not hold it.
    template <const Field& F>
    std::uint32_t value(int number = F.first) const
    {
        return has<F>(number) ? values_[static_cast<std::size_t>(place<F>(number))] : 0;
    }
    // The same read as the signed 32-bit number that a value of four bytes
    // stands for.
    template <const Field& F>
    std::int32_t signedValue(int number = F.first) const
    {
        return static_cast<std::int32_t>(value<F>(number));
    }

    std::span<const ErrorKind* const> errors() const { return errors_; }

protected:
    FieldValues() { errors_.reserve(16); }

    template <const Field& F>
    static int place(int number)
    {
        static_assert(detail::kPlace<F> >= 0, "every field a decoder reports is in its instruction's list");
        if constexpr (F.numbered()) {
            if (number < F.first || number > F.last) return -1;
            return detail::kPlace<F> + (number - F.first);
        } else {
            return detail::kPlace<F>;
        }
    }

    void begin(std::uint8_t code, const Instruction* instruction)
    {
        code_ = code;
        instruction_ = instruction;
        errors_.clear();
        if (++message_ == 0) { // after 2^32 messages the marks begin again
            seen_.fill(0);
            message_ = 1;
        }
    }

    void put(int at, std::uint32_t value)
    {
        if (at < 0) return;
        values_[static_cast<std::size_t>(at)] = value;
        seen_[static_cast<std::size_t>(at)] = message_;
    }

    static constexpr std::size_t kPlaces = static_cast<std::size_t>(detail::kFieldPlaces.places);

    std::uint8_t code_ = 0;
    const Instruction* instruction_ = nullptr;
    std::uint32_t message_ = 0;
    std::array<std::uint32_t, kPlaces> values_{};
    std::array<std::uint32_t, kPlaces> seen_{};
    std::vector<const ErrorKind*> errors_;
};

// The decoders' sink that fills FieldValues. Each message begins with its
// instruction, which forgets the message before.
class ValueSink final : public FieldValues {
public:
    void instruction(std::uint8_t code, const Instruction* instruction)
    {
        begin(code, instruction);
        if (!instruction) addError<kUnknownInstruction>();
    }

    template <const Field& F, fmt::Text M, class... A>
    void field(FieldRead read, const A&...)
    {
        if constexpr (F.hasValue()) keep<F>(read);
    }

    template <const Field& F>
    void codeField(FieldRead read, const TableText* text, int)
    {
        keep<F>(read);
        if constexpr (F.unknown != nullptr)
            if (!text) addError<detail::unknownText<F>>();
    }

    template <const Field& F, fmt::Text E>
    void fieldError(FieldRead read)
    {
        keep<F>(read);
        addError<E, &F>();
    }

    template <const Field& F>
    void valueOnly(FieldRead read)
    {
        keep<F>(read);
    }

    void bits(std::span<const BitText>, unsigned) {}

    template <fmt::Text E, class... A>
    void error(const A&...)
    {
        addError<E>();
    }

    template <fmt::Text T, class... A>
    void line(const A&...)
    {
    }

private:
    template <const Field& F>
    void keep(FieldRead read)
    {
        put(place<F>(read.number), read.value);
    }

    template <fmt::Text T, const Field* F = nullptr>
    void addError()
    {
        errors_.push_back(&detail::ErrorKindOf<T, F>::kind);
    }
};

} // namespace vornlog
