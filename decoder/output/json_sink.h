// The decoders' sink that writes the decoded part of a message's JSON line
// (json_lines.h): the instruction, the fields with their raw values,
// quantities, meanings and bit rows, and the errors with their kinds.
// Every field has the same keys:
//   {"name":"S3","raw":7,"value":3,"unit":"steps","move":-3,"text":"3 steps","bits":[]}
// null where a field has no such thing. Like the report's sink, it knows
// each field's name, keys and forms when compiling: a field costs a few
// copies, and only the characters that a message carries are looked at for
// escaping (names and table texts are plain ASCII, checked when compiling).
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/out.h"
#include "protocol/emit.h"
#include "protocol/errors.h"
#include "protocol/fields.h"
#include "protocol/instructions.h"
#include "protocol/texts.h"

namespace vornlog {

struct Instruction;

// The same as putJsonText (json_lines.h) at p, which has room for
// kJsonTextGrowth bytes for each byte of `text`; returns the end.
inline constexpr std::size_t kJsonTextGrowth = 6; // \u0000
char* writeJsonText(char* p, std::string_view text);

namespace detail {

// "name":"NBR" in two pieces, around the field's number when its name has
// one ("name":"S and ").
template <const Field& F>
struct JsonName {
    static constexpr std::size_t at = F.numbered() ? F.name.find("%d") : F.name.size();
    static constexpr std::string_view afterNumber = F.numbered() ? F.name.substr(at + 2) : std::string_view();
    static constexpr auto before =
        fmt::join(fmt::Text("\"name\":\""), fmt::Text<at + 1>{F.name.substr(0, at)});
    static constexpr auto after = fmt::join(fmt::Text<afterNumber.size() + 1>{afterNumber}, fmt::Text("\""));
};

// Whether a meaning's one conversion is a plain %d of a number of 32 bits
// at most: the text of a quantity that the form shows alone.
template <fmt::Text F, class... A>
consteval bool quantityAlone()
{
    return sizeof...(A) == 1 && ((std::is_integral_v<A> && sizeof(A) <= 4) && ...) && fmt::parsed<F>.count == 1 &&
           fmt::parsed<F>.conv[0] == fmt::Conv{};
}

// Whether a form writes characters of the message (%s, %c), which JSON may
// have to escape.
template <fmt::Text F>
consteval bool carriesText()
{
    for (std::size_t i = 0; i < fmt::parsed<F>.count; ++i)
        if (fmt::parsed<F>.conv[i].kind == fmt::Kind::Str || fmt::parsed<F>.conv[i].kind == fmt::Kind::Char)
            return true;
    return false;
}

} // namespace detail

class JsonSink {
public:
    explicit JsonSink(Out& out) : out_(out) {}

    // A message begins; `end` closes its fields and writes its errors.
    void begin()
    {
        fields_ = 0;
        bitsOpen_ = false;
        cmd_ = 0;
        errors_.clear();
    }
    void end();

    void instruction(std::uint8_t code, const Instruction* instruction);

    template <const Field& F, fmt::Text M, class... A>
    void field(FieldRead read, const A&... meaning)
    {
        constexpr const auto& T = M;
        constexpr bool carries = detail::carriesText<T>();
        static_assert(plainText(T.view()), "a meaning's form is plain ASCII");
        const std::size_t textRoom = T.size == 0 ? 0 : 12 + fmt::bound<T>(meaning...) * (carries ? kJsonTextGrowth : 1);
        char* p = head<F>(out_.room(kHeadRoom + F.name.size() + textRoom), read);
        std::string_view shown;
        p = quantity<F, M>(p, read, shown);
        if constexpr (T.size != 0) {
            char* const key = p;
            p = copy(p, ",\"text\":\"");
            if constexpr (detail::quantityAlone<T, A...>() && kShowsQuantity<F, M>) {
                // The quantity's digits, just written, are the text's number.
                constexpr const auto& P = fmt::parsed<T>;
                p = copy(p, std::string_view(P.lit + P.start[0], P.len[0]));
                p = copyDigits(p, shown);
                p = copy(p, std::string_view(P.lit + P.start[1], P.len[1]));
                *p++ = '"';
            } else if constexpr (carries) {
                char* const raw = scratch(fmt::bound<T>(meaning...));
                const std::string_view text(raw, static_cast<std::size_t>(fmt::write<T>(raw, meaning...) - raw));
                if (text.empty()) {
                    p = copy(key, kNoText);
                } else {
                    p = writeJsonText(p, text);
                    *p++ = '"';
                }
            } else {
                p = fmt::write<T>(p, meaning...);
                *p++ = '"';
            }
        } else {
            p = copy(p, kNoText);
        }
        out_.advance(p);
    }

    template <const Field& F>
    void codeField(FieldRead read, const TableText* text, int number)
    {
        char* p = head<F>(out_.room(kHeadRoom + F.name.size() + (text ? text->size + 24 : 0)), read);
        p = copy(p, kNoQuantity);
        if (text && !text->view().empty()) {
            p = copy(p, ",\"text\":\"");
            const std::string_view meaning = text->view();
            if (text->number == TableText::kNoNumber) {
                p = copy(p, meaning);
            } else {
                p = copy(p, meaning.substr(0, text->number));
                p = fmt::dec(p, number);
                p = copy(p, meaning.substr(text->number + 2));
            }
            *p++ = '"';
        } else {
            p = copy(p, kNoText);
        }
        out_.advance(p);
        if constexpr (F.unknown != nullptr)
            if (!text) addError(kUnknownKind<F>, true, TableText(F.unknown).view());
    }

    template <const Field& F, fmt::Text E>
    void fieldError(FieldRead read)
    {
        valueOnly<F>(read);
        addError(kKindOf<E>, true, E.view());
    }

    template <const Field& F>
    void valueOnly(FieldRead read)
    {
        char* p = head<F>(out_.room(kHeadRoom + F.name.size()), read);
        p = copy(p, kNoQuantity);
        out_.advance(copy(p, kNoText));
    }

    void bits(std::span<const BitText> table, unsigned value);

    template <fmt::Text E, class... A>
    void error(const A&... args)
    {
        constexpr const auto& T = E;
        static_assert(plainText(T.view()) && !detail::carriesText<T>(), "an error text is plain ASCII");
        char text[kErrorRoom];
        static_assert(T.size + sizeof...(A) * fmt::kMaxConv <= kErrorRoom);
        // An error line of its own belongs to the field just before it.
        addError(kKindOf<E>, fields_ != 0,
                 std::string_view(text, static_cast<std::size_t>(fmt::write<T>(text, args...) - text)));
    }

    template <fmt::Text T, class... A>
    void line(const A&...)
    {
    }

private:
    // The most that a field's keys, name without its number, and value take.
    static constexpr std::size_t kHeadRoom = 192;
    static constexpr char kNoQuantity[] = ",\"value\":null,\"unit\":null,\"move\":null";
    static constexpr char kNoText[] = ",\"text\":null";
    static constexpr std::size_t kErrorRoom = 160;

    template <std::size_t N>
    static char* copy(char* p, const char (&text)[N])
    {
        std::memcpy(p, text, N - 1);
        return p + N - 1;
    }
    static char* copy(char* p, std::string_view text)
    {
        std::memcpy(p, text.data(), text.size());
        return p + text.size();
    }
    // A number's digits written a little before p in the same room (at
    // most 11 characters): moved in one piece of fixed size, which the
    // room leaves space for.
    static char* copyDigits(char* p, std::string_view digits)
    {
        char number[kMostDigits];
        std::memcpy(number, digits.data(), kMostDigits);
        std::memcpy(p, number, kMostDigits);
        return p + digits.size();
    }
    static constexpr std::size_t kMostDigits = 12;



    // Closes the field before, opens this one and writes its name and, for
    // a field with a value, its value.
    template <const Field& F>
    char* head(char* p, FieldRead read)
    {
        if (fields_++) {
            p = closeField(p);
            *p++ = ',';
        }
        *p++ = '{';
        using Name = detail::JsonName<F>;
        p = copy(p, Name::before.view());
        lastBefore_ = F.name.substr(0, Name::at);
        lastAfter_ = Name::afterNumber;
        lastNumber_ = -1;
        if constexpr (F.numbered()) {
            lastNumber_ = read.number;
            p = fmt::dec(p, lastNumber_);
        }
        p = copy(p, Name::after.view());
        if constexpr (F.hasValue()) {
            if constexpr (&F == &motion::kDataCmd) cmd_ = read.value;
            p = copy(p, ",\"raw\":");
            p = fmt::decimal(p, read.value);
        } else {
            p = copy(p, ",\"raw\":null");
        }
        return p;
    }

    // The number that the field's own meaning shows (its digits in
    // `shown`), its unit, and for the axes of a Data message their move,
    // signed by CMD's direction bits.
    template <const Field& F, fmt::Text M>
    char* quantity(char* p, FieldRead read, std::string_view& shown)
    {
        if constexpr (kShowsQuantity<F, M>) {
            p = copy(p, ",\"value\":");
            char* const digits = p;
            p = fmt::dec(p, read.quantity);
            shown = std::string_view(digits, static_cast<std::size_t>(p - digits));
            if constexpr (F.unit.empty()) {
                p = copy(p, ",\"unit\":null");
            } else {
                static_assert(plainText(F.unit));
                static constexpr auto unit =
                    fmt::join(fmt::join(fmt::Text(",\"unit\":\""), fmt::Text<F.unit.size() + 1>{F.unit}), fmt::Text("\""));
                p = copy(p, unit.view());
            }
            if constexpr (&F == &motion::kDataSteps) {
                p = copy(p, ",\"move\":");
                // The steps, or the steps reversed: most often the digits
                // just written.
                const std::int32_t move = motion::moveOf(cmd_, read.number, static_cast<std::int32_t>(read.value));
                if (move == read.quantity) {
                    p = copyDigits(p, shown);
                } else if (read.quantity > 0 && move == -read.quantity) {
                    *p++ = '-';
                    p = copyDigits(p, shown);
                } else {
                    p = fmt::dec(p, move);
                }
            } else {
                p = copy(p, ",\"move\":null");
            }
            return p;
        } else {
            return copy(p, kNoQuantity);
        }
    }

    // Ends the field before: its bit rows, an empty array when it had none.
    char* closeField(char* p)
    {
        p = bitsOpen_ ? copy(p, "]}") : copy(p, ",\"bits\":[]}");
        bitsOpen_ = false;
        return p;
    }

    // An error of `kind`; `ofField`: it belongs to the field written last.
    void addError(std::string_view kind, bool ofField, std::string_view text);
    char* scratch(std::size_t n);

    Out& out_;
    std::size_t fields_ = 0;
    bool bitsOpen_ = false;
    // CMD of a Data message, which signs the moves of its axes.
    unsigned cmd_ = 0;
    // The name of the field written last: before its number, the number
    // (-1: none), after it.
    std::string_view lastBefore_, lastAfter_;
    std::int32_t lastNumber_ = -1;
    // The errors' part of the line: they come after the fields.
    std::string errors_;
    std::string scratch_;
};

} // namespace vornlog
