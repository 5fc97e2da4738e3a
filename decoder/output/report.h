// The full-details report: for each message of the capture, its echo line
// with the sender, then the lines of what its decoder found, rendered by
// the report's sink.
#pragma once

#include <cstdint>
#include <cstring>

#include "capture/capture.h"
#include "capture/source.h"
#include "base/out.h"
#include "field_head.h"
#include "protocol/emit.h"
#include "protocol/lines.h"
#include "protocol/texts.h"

namespace vornlog {

class Progress;
struct Instruction;

// The report's layout around the texts that the decoders give, which are
// data without it ("\t" stands for a tab):
//
//   "   => Inst 0x54=TABLE"     an instruction, after kFrame
//   "     A1=0x04->\tX"         a field's line: kIndent, its head, its
//                               meaning, the line end
//   "     OUT1=\t0x87"          a field whose description gives no meaning
//   "       Axe=7"              ends its line at its value; what is said of
//   "       .7=1\t-> STEP"      it goes below, after kUnder, and so do the
//                               bit rows of every field
//   "     ERROR: invalid number NBR=0x05"   an error or a text on a line
//                               of its own
//   "     C0=0x 1 C1=0x 2 ..."  the numbers of a field that shares its line
inline constexpr fmt::Text kFrame("   => ");
inline constexpr fmt::Text kIndent("     ");
inline constexpr fmt::Text kUnder("       ");

// Writes `text` and the line end after it.
inline void putTextLine(Out& out, std::string_view text)
{
    char* p = out.room(text.size() + 1);
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\n';
    out.advance(p + text.size() + 1);
}

// Writes a table text, with `number` in place of its "%d", and the line
// end after it; an empty text writes nothing, for the next field goes on
// with the line.
inline void putTableText(Out& out, const TableText& text, int number)
{
    if (text.size == 0) return;
    if (text.number == TableText::kNoNumber) {
        putTextLine(out, text.view());
        return;
    }
    put<"%s%d%s\n">(out, text.view().substr(0, text.number), number, text.view().substr(text.number + 2));
}

// Writes the bit rows of `value`, one for each table entry that has a
// meaning, in table order: "       .3=1\t-> Source:USB".
void putBits(Out& out, std::span<const BitText> table, unsigned value);

// Writes what the decoders find as the report's lines: a field's line is
// its indentation, head, meaning and line end joined into one format when
// compiling, so that a line costs what it did when the decoders wrote it
// themselves.
class ReportSink {
public:
    explicit ReportSink(Out& out) : out_(out) {}

    // The instruction line, or the unknown-instruction line (null).
    void instruction(std::uint8_t code, const Instruction* instruction);

    template <const Field& F, fmt::Text M, class... A>
    void field(FieldRead read, const A&... meaning)
    {
        if constexpr (F.sharesLine) {
            static_assert(F.numbered(), "a field that shares its line has numbers");
            if (read.number == F.first) out_.write(kIndent.view());
            putLine<F, fmt::join(kHeadForm<F>, M)>(read, meaning...);
            if (read.number == F.last) out_.write("\n", 1);
        } else if constexpr (meaningFollows(F) || M.size == 0) {
            putLine<F, fmt::join(fmt::join(kIndent, kHeadForm<F>), fmt::join(M, fmt::Text("\n")))>(read, meaning...);
        } else {
            putLine<F, fmt::join(fmt::join(kIndent, kHeadForm<F>), fmt::join(fmt::join(fmt::Text("\n"), kUnder),
                                                                               fmt::join(M, fmt::Text("\n"))))>(
                read, meaning...);
        }
    }

    template <const Field& F>
    void codeField(FieldRead read, const TableText* text, int number)
    {
        putLine<F, fmt::join(kIndent, kHeadForm<F>)>(read);
        if (text) {
            putTableText(out_, *text, number);
        } else if constexpr (F.unknown != nullptr) {
            putTextLine(out_, std::string_view(F.unknown));
        }
    }

    template <const Field& F, fmt::Text E>
    void fieldError(FieldRead read)
    {
        putLine<F, fmt::join(fmt::join(kIndent, kHeadForm<F>), fmt::join(E, fmt::Text("\n")))>(read);
    }

    template <const Field& F>
    void valueOnly(FieldRead)
    {
    }

    void bits(std::span<const BitText> table, unsigned value) { putBits(out_, table, value); }

    // An error line of its own, at the fields' level.
    template <fmt::Text E, class... A>
    void error(const A&... args)
    {
        put<fmt::join(kIndent, fmt::join(E, fmt::Text("\n")))>(out_, args...);
    }

    // An error about F, whose line was just written: under it when its line
    // ended at its value, as its meaning would be, else at the fields'
    // level. Where it goes is known when compiling.
    template <const Field& F, fmt::Text E, class... A>
    void errorAfter(const A&... args)
    {
        if constexpr (meaningFollows(F))
            error<E>(args...);
        else
            put<fmt::join(kUnder, fmt::join(E, fmt::Text("\n")))>(out_, args...);
    }

    template <fmt::Text T, class... A>
    void line(const A&... args)
    {
        put<fmt::join(kIndent, fmt::join(T, fmt::Text("\n")))>(out_, args...);
    }

private:
    // Writes form L, which holds F's head: the field's number and value
    // where the head converts them, then the rest's conversions.
    template <const Field& F, fmt::Text L, class... A>
    void putLine(FieldRead read, const A&... rest)
    {
        static_assert(fmt::parsed<kHeadForm<F>>.count == std::size_t{F.numbered()} + std::size_t{F.hasValue()},
                      "a field's head converts its number, then its value");
        static_assert(kHeadOf<F>.view().find(F.name) != std::string_view::npos, "a field's head writes its name");
        if constexpr (F.numbered() && F.hasValue())
            put<L>(out_, read.number, read.value, rest...);
        else if constexpr (F.numbered())
            put<L>(out_, read.number, rest...);
        else if constexpr (F.hasValue())
            put<L>(out_, read.value, rest...);
        else
            put<L>(out_, rest...);
    }

    Out& out_;
};

// Decodes one message into the report: its echo line, its instruction line
// and its decoded lines.
void reportMessage(Direction direction, std::string_view field, Out& dest);

// The report loop: every record of `in`, counted on the console.
void writeReport(MessageSource& in, Out& dest, Progress& progress);

} // namespace vornlog
