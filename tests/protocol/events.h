// What the decoders find, as values and texts for any consumer: the JSON
// Lines, and whatever else needs a message's fields without reading the
// report back. EventSink is the decoders' sink that makes them; a
// MessageEvents receives them, in message order.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "base/out.h"
#include "protocol/emit.h"
#include "protocol/errors.h"
#include "protocol/fields.h"
#include "protocol/lines.h"
#include "protocol/instructions.h"
#include "protocol/texts.h"

namespace vornlog {

struct Instruction;

// A field as the report shows it.
struct FieldEvent {
    // Its description: the same object for every message, so that a
    // consumer can tell fields apart by it (&motion::kDataNbr).
    const Field* field = nullptr;
    // Its name as the report writes it ("S1"; plain ASCII, checked when
    // compiling), and its number (1) when the description's name has one,
    // else 0.
    std::string_view name;
    int number = 0;
    // Its value as the message holds it (the report's hexadecimal value),
    // when it has one.
    bool hasValue = false;
    std::uint32_t value = 0;
    // Its meaning as the report gives it, without the arrow and the line
    // end ("800 pulses"); empty when it gives none. Characters of the
    // message (a name, a version) are as they are, any bytes at all.
    std::string_view text;
    // The number that its meaning shows and its unit (empty for none), when
    // the meaning is a quantity ("800 steps": 800, "steps").
    bool hasQuantity = false;
    std::int32_t quantity = 0;
    std::string_view unit;
    // The move of an axis of a Data message, signed by CMD's direction bits.
    bool hasMove = false;
    std::int32_t move = 0;
};

// An error text of the report.
struct ErrorEvent {
    // Its stable kind ("unknown_status", errors.h).
    std::string_view kind;
    // The field it belongs to ("ST"), empty when none.
    std::string_view field;
    // As the report writes it, without its indentation and line end
    // ("ERROR: Unknown command").
    std::string_view text;
};

class MessageEvents {
public:
    // The message's instruction, or null for a code (or direction) that no
    // decoder reads. First for every message.
    virtual void instruction(std::uint8_t code, const Instruction* instruction) = 0;
    virtual void field(const FieldEvent& field) = 0;
    // A bit row under the last field.
    virtual void bit(int bit, int value, std::string_view text) = 0;
    virtual void error(const ErrorEvent& error) = 0;
    // A line of the report that is neither a field nor an error ("No
    // paramters"), likewise trimmed.
    virtual void line(std::string_view text) { (void)text; }

protected:
    ~MessageEvents() = default;
};


// The decoders' sink that turns what they find into events.
class EventSink {
public:
    // The layouts' code calls this sink's members rather than inlining them.
    static constexpr bool kCallsOutOfLine = true;

    explicit EventSink(MessageEvents& events) : events_(events) {}

    // The instruction; an unknown one is also an error, as in the report.
    void instruction(std::uint8_t code, const Instruction* instruction)
    {
        events_.instruction(code, instruction);
        last_ = {};
        cmd_ = 0;
        if (!instruction) events_.error({kKindOf<kUnknownInstruction>, {}, kUnknownInstruction});
    }

    template <const Field& F, fmt::Text M, class... A>
    void field(FieldRead read, const A&... meaning)
    {
        FieldEvent e = start<F>(read);
        if constexpr (F.hasValue()) {
            e.hasValue = true;
            e.value = read.value;
            if constexpr (&F == &motion::kDataCmd) cmd_ = e.value;
        }
        if constexpr (kShowsQuantity<F, M>) {
            e.hasQuantity = true;
            e.quantity = read.quantity;
            e.unit = F.unit;
            if constexpr (&F == &motion::kDataSteps) {
                e.hasMove = true;
                e.move = motion::moveOf(cmd_, e.number, static_cast<std::int32_t>(read.value));
            }
        }
        if constexpr (M.size != 0) e.text = render<M>(meaning...);
        events_.field(e);
    }

    template <const Field& F>
    void codeField(FieldRead read, const TableText* text, int number)
    {
        FieldEvent e = start<F>(read);
        e.hasValue = true;
        e.value = read.value;
        if (text) e.text = tableText(*text, number);
        events_.field(e);
        if constexpr (F.unknown != nullptr)
            if (!text) events_.error({kUnknownKind<F>, last_, TableText(F.unknown).view()});
    }

    template <const Field& F, fmt::Text E>
    void fieldError(FieldRead read)
    {
        valueOnly<F>(read);
        events_.error({kKindOf<E>, last_, E.view()});
    }

    template <const Field& F>
    void valueOnly(FieldRead read)
    {
        FieldEvent e = start<F>(read);
        e.hasValue = true;
        e.value = read.value;
        events_.field(e);
    }

    void bits(std::span<const BitText> table, unsigned value)
    {
        for (const BitText& entry : table) {
            const int v = (value >> entry.bit) & 1;
            if (const TableText& meaning = entry.meaning(v)) events_.bit(entry.bit, v, meaning.view());
        }
    }

    template <fmt::Text E, class... A>
    void error(const A&... args)
    {
        // An error line of its own belongs to the field just before it.
        events_.error({kKindOf<E>, last_, render<E>(args...)});
    }

    template <fmt::Text T, class... A>
    void line(const A&... args)
    {
        const std::string_view text = render<T>(args...);
        if (!text.empty()) events_.line(text);
    }

private:

    // The event with the field's name, with its number when it has one.
    template <const Field& F>
    FieldEvent start(FieldRead read)
    {
        FieldEvent e;
        e.field = &F;
        if constexpr (F.numbered()) {
            constexpr std::size_t at = F.name.find("%d");
            static_assert(F.name.size() < sizeof name_ - 10);
            e.number = read.number;
            char* p = fmt::write<"%s%d%s">(name_, F.name.substr(0, at), e.number, F.name.substr(at + 2));
            e.name = std::string_view(name_, static_cast<std::size_t>(p - name_));
        } else {
            e.name = F.name;
        }
        last_ = e.name;
        return e;
    }

    std::string_view tableText(const TableText& text, int number);

    template <fmt::Text F, class... A>
    std::string_view render(const A&... args)
    {
        char* p = room(fmt::bound<F>(args...));
        return std::string_view(p, static_cast<std::size_t>(fmt::write<F>(p, args...) - p));
    }

    // Room for n bytes of text; what it held before is gone.
    char* room(std::size_t n);

    MessageEvents& events_;
    // The name of the last field, which an error line of its own belongs to.
    std::string_view last_;
    unsigned cmd_ = 0;
    char name_[32]{};
    std::unique_ptr<char[]> text_;
    std::size_t capacity_ = 0;
};

} // namespace vornlog
