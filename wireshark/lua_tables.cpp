// Writes the Wireshark dissector qmr5v.lua: the decoder's own tables as Lua
// (every instruction, its fields in each direction with their names, widths,
// meanings, scales, code texts and bit texts, and the layouts of its
// messages step for step), then the Lua that registers the protocol and
// walks those layouts.
//
//   qmr5v_lua_tables LAYOUTS OUTPUT
//
// A text, a field or a layout fixed in the decoder is thus fixed in the
// dissector at the next build.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/emit.h"
#include "protocol/errors.h"
#include "protocol/instructions.h"
#include "protocol/lines.h"

namespace {

using namespace vornlog;

// A text of the decoder as a Lua string.
std::string quoted(std::string_view text)
{
    std::string s = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (u < 0x20 || u > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03u", u);
            s += escape;
        } else {
            s += c;
        }
    }
    return s + "\"";
}

std::string quotedOrFalse(const TableText& text) { return text ? quoted(text.view()) : "false"; }

// "S%d" numbered n: "S3".
std::string numberedName(std::string_view name, int n)
{
    std::size_t at = name.find("%d");
    if (at == std::string_view::npos) return std::string(name);
    return std::string(name.substr(0, at)) + std::to_string(n) + std::string(name.substr(at + 2));
}

std::string rows(std::span<const BitText> table)
{
    std::string s = "{";
    for (const BitText& b : table) {
        s += '{';
        s += std::to_string(b.bit);
        s += ", ";
        s += quotedOrFalse(b.set);
        s += ", ";
        s += quotedOrFalse(b.clear);
        s += "}, ";
    }
    s += '}';
    return s;
}

// The names of a numbered field, first to last: {"S1", "S2", ...}.
std::string names(const Field& f)
{
    std::string list = "{";
    for (int n = f.first; n <= f.last; ++n) {
        list += quoted(numberedName(f.name, n));
        list += ", ";
    }
    list += '}';
    return list;
}

void writeField(std::ostream& out, const Field& f, int n)
{
    out << "    {name = " << quoted(numberedName(f.name, n)) << ", width = " << f.width;
    if (f.kind == FieldKind::Text) out << ", text = true";
    if (!f.meaning.empty()) out << ", meaning = " << quoted(f.meaning);
    if (!f.codes.empty()) {
        out << ",\n     codes = {";
        for (const CodeText& c : f.codes) {
            char code[16];
            std::snprintf(code, sizeof code, "[0x%02X] = ", c.code);
            out << code << quotedOrFalse(c.text) << ", ";
        }
        out << "}";
    }
    if (f.unknown)
        out << ", unknown = " << quoted(std::string_view(f.unknown))
            << ", unknown_kind = " << quoted(errorKindOf(f.unknown).name);
    if (f.hasQuantity()) {
        out << ", quantity = " << f.quantity + 1;
        if (!f.unit.empty()) out << ", unit = " << quoted(f.unit);
    }
    if (!f.shows.empty()) {
        out << ", shows = {";
        for (const Scale& scale : f.shows) out << "{" << scale.times << ", " << scale.per << "}, ";
        out << "}";
    }
    // The steps of a Data axis, which the JSON Lines and the steps CSV
    // sign by the axis's direction bit in CMD, byte 1 (its move): the bit
    // that motion::moveOf reads for it.
    if (&f == &motion::kDataSteps) {
        int bit = 0;
        while (bit < 8 && motion::moveOf(1u << bit, n, 2) != 1) ++bit;
        if (bit == 8 || motion::moveOf(0, n, 2) != -1) throw "an axis's move is signed by a bit of CMD";
        std::string label = numberedName(f.name, n);
        label += " move (steps, signed by ";
        label += motion::kDataCmd.name;
        label += ')';
        out << ",\n     move = {label = " << quoted(label) << ", bit = " << bit << "}";
    }
    if (!f.bits.empty()) out << ",\n     bits = " << rows(f.bits);
    out << "},\n";
}

void writeFields(std::ostream& out, const char* direction, FieldList fields)
{
    out << "  " << direction << " = {\n";
    for (const Field* f : fields)
        if (f->numbered())
            for (int n = f->first; n <= f->last; ++n) writeField(out, *f, n);
        else
            writeField(out, *f, 0);
    out << "  },\n";
}

// Whether a group of the layout tests bits of byte 1: that byte then says
// what the message holds, rather than what it asks or answers.
bool testsBits(std::span<const Step> steps)
{
    for (const Step& s : steps)
        if (s.kind == StepKind::When && s.test == Test::Bit) return true;
    return false;
}

// Every layout once, a part before the layouts that hold it, each by its
// number in G.steps; a group's steps nested in it.
class Layouts {
public:
    int number(const Layout& layout)
    {
        if (auto known = numbers_.find(&layout); known != numbers_.end()) return known->second;
        for (const Step& step : layout.steps)
            if (step.kind == StepKind::Part) number(*step.part);
        const int n = static_cast<int>(order_.size()) + 1;
        numbers_[&layout] = n;
        order_.push_back(&layout);
        return n;
    }

    void write(std::ostream& out)
    {
        for (std::size_t i = 0; i < order_.size(); ++i) {
            const std::span<const Step> steps = order_[i]->steps;
            out << "G.steps[" << i + 1 << "] = ";
            writeSteps(out, steps, testsBits(steps), "");
            out << "\n";
        }
    }

private:
    void writeSteps(std::ostream& out, std::span<const Step> steps, bool bitsSteer, const std::string& indent)
    {
        out << "{\n";
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            out << indent << "  {";
            writeStep(out, s, bitsSteer);
            if (s.kind == StepKind::When) {
                out << ", steps = ";
                writeSteps(out, steps.subspan(i + 1, s.length), bitsSteer, indent + "  ");
                i += s.length;
            }
            out << "},\n";
        }
        out << indent << "}";
    }

    void writeStep(std::ostream& out, const Step& s, bool bitsSteer)
    {
        switch (s.kind) {
        case StepKind::Read:
            out << "kind = \"read\", field = " << quoted(s.field->name);
            if (s.options & kNonzeroAsFF) out << ", nonzero_as_ff = true";
            if (s.options & kNumberAfter) out << ", number_after = true";
            if (!s.ownBits) out << ", rows = " << rows(s.bits);
            // A byte whose bits say what follows tells nothing itself: the
            // Info column is left to the fields after it, or to the rows
            // that the layout chose to show for it.
            if (bitsSteer && s.field->meaning.empty() && s.field->codes.empty() && !s.field->bits.empty())
                out << ", info = " << (s.ownBits ? "\"after\"" : "\"rows\"");
            break;
        case StepKind::Repeat: out << "kind = \"repeat\", names = " << names(*s.field); break;
        case StepKind::Text:
            out << "kind = \"text\", field = " << quoted(s.field->name);
            if (s.lengthField) out << ", counted = true";
            if (!s.text.empty()) out << ", empty = " << quoted(s.text);
            break;
        case StepKind::When:
            out << "kind = \"when\"";
            if (s.test == Test::Bit)
                out << ", bit = " << s.low;
            else if (s.test == Test::Range)
                out << ", low = " << s.low << ", high = " << s.high;
            else {
                out << ", codes = {";
                for (const CodeText& c : s.field->codes) {
                    char code[16];
                    std::snprintf(code, sizeof code, "[0x%02X] = true, ", c.code);
                    out << code;
                }
                out << "}";
            }
            break;
        case StepKind::Check: {
            static constexpr const char* kInvalid[] = {"error_line", "in_line", "codes", "ends"};
            out << "kind = \"check\", field = " << quoted(s.field->name) << ", low = " << s.low
                << ", high = " << s.high << ", invalid = \"" << kInvalid[static_cast<int>(s.invalid)] << "\"";
            if (!s.text.empty()) out << ", error = " << quoted(s.text);
            break;
        }
        case StepKind::Line: out << "kind = \"line\", text = " << quoted(s.text); break;
        case StepKind::Skip: out << "kind = \"skip\", bytes = " << s.length; break;
        case StepKind::Part: out << "kind = \"part\", part = " << number(*s.part); break;
        case StepKind::Stop: out << "kind = \"stop\""; break;
        case StepKind::Hook:
            out << "kind = \"hook\", hook = " << (s.hook == Hook::Outputs ? "\"outputs\"" : "\"speeds\"")
                << ", names = " << names(*s.field);
            break;
        }
    }

    std::map<const Layout*, int> numbers_;
    std::vector<const Layout*> order_;
};

// The hooks' own constants and texts: an output's axis is the value of its
// low bits (kOutAxisMask), 1 to kLastAxis.
void writeHooks(std::ostream& out)
{
    static_assert((table::kOutAxisMask & (table::kOutAxisMask + 1)) == 0, "an output's axis is its low bits");
    out << "G.hooks = {\n  outputs = {axes = " << table::kOutAxisMask + 1 << ", last_axis = " << table::kLastAxis
        << ",\n    not_used = " << quoted(table::kOutputAxisNotUsed) << ", invalid = " << quoted(table::kOutputAxisInvalid)
        << ", axis = " << quoted(table::kOutputAxis) << "},\n}\n\n";
}

void writeTables(std::ostream& out)
{
    out << "-- Written by the build from the decoder's tables and layouts: do not\n"
           "-- edit; the protocol's registration and the walker of the layouts\n"
           "-- follow.\n"
           "local G = {instructions = {}, layouts = {}, steps = {}}\n\n";
    Layouts layouts;
    for (const Instruction& i : kInstructions) {
        if (!i.decoded()) continue;
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", i.code);
        out << "G.instructions[" << code << "] = {\n  name = " << quoted(i.name) << ",\n";
        writeFields(out, "pc", i.fields(Direction::Pc));
        if (!i.decoded(Direction::Controller))
            out << "  controller = false,\n";
        else
            writeFields(out, "controller", i.fields(Direction::Controller));
        out << "}\n";
        out << "G.layouts[" << code << "] = {pc = " << layouts.number(*i.pc);
        if (i.controller) out << ", controller = " << layouts.number(*i.controller);
        out << "}\n";
    }
    out << "\n";
    layouts.write(out);
    out << "\n";
    writeHooks(out);
    // The error of a message whose code no instruction has.
    out << "G.say = {unknown_instruction = " << quoted(kUnknownInstruction) << "}\n\n";
    // The kinds of error, by their text (a form with its values as
    // conversions).
    out << "G.kinds = {\n";
    for (const ErrorKindName& kind : kErrorKinds)
        out << "  [" << quoted(kind.form) << "] = {name = " << quoted(kind.name)
            << ", meaning = " << quoted(kind.meaning) << "},\n";
    out << "}\n\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: qmr5v_lua_tables LAYOUTS OUTPUT\n";
        return 2;
    }
    std::ifstream layouts(argv[1], std::ios::binary);
    std::ostringstream all;
    writeTables(all);
    all << layouts.rdbuf();
    if (!layouts) {
        std::cerr << "qmr5v_lua_tables: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << all.str();
    out.close();
    if (!out) {
        std::cerr << "qmr5v_lua_tables: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
